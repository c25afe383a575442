#include "panel/popup.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/datatype.h"
#include "engine/exec/dsprocs.h"
#include "engine/link/loadmethods.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/vifind.h"
#include "engine/vi/virecord.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/appdirs.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/rsrc_format.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/ctrdoit.h"
#include "panel/ctrlops.h"
#include "panel/datamsg.h"
#include "panel/editmsg.h"
#include "panel/methsupport.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "panel/rangecheck.h"
#include "panel/replyfilters.h"
#include "panel/textparts.h"
#include "panel/zktag.h"

using opmeth::Flags;
using opmeth::IsObject;
using opmeth::PartIdOf;

namespace {

constexpr char kSource[] = "popup.cpp";
PopupShellHooks gHooks{};

constexpr int16 kPartContent = 28, kPartCursorList = 8014, kPartText = 11;
constexpr uInt32 kVIFlags2Retrieval = 0x800, kVIFlagInCall = 0x8000000;
constexpr int16 kVIKindNoDescription = 1;
constexpr uInt32 kFlagSmoothUpdates = 0x10000, kFlagShowSelection = 0x20000;
constexpr uInt32 kPictPartCached = 0x2;
constexpr int32 kReplyRangeRecheck = 8, kReplyOutOfRange = 0x1000, kReplyGeometry = 0x80;
constexpr uInt16 kRangeReinitMask = 0x10C, kRangeReinitOut = 0x104;
constexpr int32 kDataPtrDisplay = 3;
constexpr int32 kOpenExplainMode = 5;
constexpr int32 kMaxNesting = 32;
constexpr uChar kTDErrStatus = 0x21, kTDErrCode = 0x03, kTDErrSource = 0x30, kTDErrSourceView = 0x3F;
constexpr uChar kTDRefnumCode = 0x70;

int32 Owner(ObjHeap heap, int32 o) { return ObjWord(heap, o, kObjOwner / 4); }
bool ClassIs(ObjHeap heap, int32 o, int32 cls) { return IsObject(heap, o) && ObjIsA(heap, o, cls); }
bool FrontPanelHeap(ObjHeap heap) { return OHWord(heap, kOHKind) == kPanelHeapKind; }
bool Building(const PopupMsgRecord* rec) { return rec->phase == kPopupBuild; }
// The run pass reaches the level that added the chosen item.
bool MyLevel(const PopupMsgRecord* rec) { return rec->phase == kPopupRun && rec->level == 0; }

VIRecord* OwnerVI(ObjHeap heap) {
  const UHandle vi = PanelHeapOwner(heap);
  return vi && *vi ? VIRec(vi) : nullptr;
}
bool RetrievalMode(ObjHeap heap) {
  const VIRecord* vi = OwnerVI(heap);
  return vi && (vi->flags2 & kVIFlags2Retrieval);
}

const TypeDescriptor* TypeOf(ObjHeap heap, int32 o) {
  const TypeID id = OGetType(heap, o);
  return id ? TypeIDToTD(heap, id) : nullptr;
}
int32 ElemCount(const TypeDescriptor* td) { return int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)); }
UPtr DataOf(ObjHeap heap, int32 o, int32 mode) {
  return reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, o, 0, mode, nullptr))));
}

bool IsSeparator(MenuHandle menu, int32 item) {
  Str255 text;
  MGetItemText(menu, item, text);
  return text[0] == 0 || (text[0] == 1 && text[1] == '-');
}

// Inserts the item (a separator for code 0) at the position (-1: the end,
// 0: the top), tagged with the record's level; disabled or checked as
// asked.
int32 Insert(MenuHandle menu, int32 level, int32 code, int32 position, bool enabled = true, bool checked = false) {
  if (!menu) return 0;
  Str255 text{0};
  if (code) GetPopupMenuString(code, text);
  int32 at;
  if (gHooks.menuInsertItemAt) {
    at = gHooks.menuInsertItemAt(level, menu, code ? text : nullptr, code, position);
  } else {
    const int32 count = MCountItems(menu);
    const int32 after = position >= 0 && position < count ? position : -1;
    static const uChar kSpace[] = {1, ' '};
    const MgErr err = code ? MInsertLItem(menu, text[0] ? text : kSpace, nullptr, 0, nullptr, 0, after, 0)
                           : MInsertLSeparator(menu, nullptr, after, 0);
    at = err ? 0 : after >= 0 ? after + 1 : MCountItems(menu);
  }
  if (!at) return 0;
  if (!enabled) MDisableItem(menu, at);
  if (checked) MCheckItem(menu, at, 1);
  return at;
}

bool HasHelpRef(ObjHeap heap, int32 object) {
  Str255 keyword;
  return gHooks.helpGetVIHelpRef && gHooks.helpGetVIHelpRef(heap, object, nullptr, keyword);
}

// The object a description is about: a graph's cursor list describes its
// graph, a cluster of such a list's array the array's owner.
int32 DescribedObject(ObjHeap heap, int32 object) {
  if (PartIdOf(heap, object) == kPartCursorList) return Owner(heap, object);
  const int32 owner = Owner(heap, object);
  if (ClassIs(heap, owner, kClsCluster)) {
    const int32 array = Owner(heap, owner);
    if (ClassIs(heap, array, kClsArray) && PartIdOf(heap, array) == kPartCursorList) return Owner(heap, array);
  }
  return object;
}

int32 DDORun(ObjHeap heap, int32 object, PopupMsgRecord* rec) {
  switch (rec->item) {
    case kPopupDescription:
      EditCtrlDescription(heap, DescribedObject(heap, object), 0);
      return 0;
    case kPopupReinitialize:
      CtrlMakeDefaultOrReinit(heap, object, 0);
      return (RangeWord(heap, object) & kRangeReinitMask) == kRangeReinitOut ? kReplyRangeRecheck | kReplyOutOfRange
                                                                             : kReplyRangeRecheck;
    case kPopupCutData:
    case kPopupCopyData: {
      if (rec->item == kPopupCutData) OInval(heap, object, kInvalValue);
      int32 reply = SelectObject(heap, object);
      reply |= DoDataOperation(heap, rec->item) & ~kReplyGeometry;
      ClearSelectionList(heap);
      return reply;
    }
    case kPopupPasteData:
      return PasteDataToObject(heap, object);
    case kPopupOnlineHelp:
      if (gHooks.helpOpenOnlineForObj) gHooks.helpOpenOnlineForObj(heap, object);
      return 0;
    default:
      return 0;
  }
}

// ---- Subclass levels -------------------------------------------------------------------

// A level of the chain above its superclass's method: the superclass's
// reply when it has one, else one level more.
template <int32 (*Super)(ObjHeap, int32, PopupMsgRecord*)>
int32 Above(ObjHeap heap, int32 object, PopupMsgRecord* rec) {
  if (const int32 r = Super(heap, object, rec)) return r;
  ++rec->level;
  return 0;
}
int32 AboveDDO(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return Above<&DDOOPopupMethod>(heap, o, rec); }

int32 NumericOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return AboveDDO(heap, o, rec); }
int32 AboveNumeric(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return Above<&NumericOPopupMethod>(heap, o, rec); }
int32 RingOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return AboveNumeric(heap, o, rec); }
int32 ColorRampOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return AboveNumeric(heap, o, rec); }
int32 SlideOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return AboveNumeric(heap, o, rec); }
int32 ColorBoxOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return AboveDDO(heap, o, rec); }
int32 BooleanOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return AboveDDO(heap, o, rec); }
int32 StringOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return AboveDDO(heap, o, rec); }

// A click in a container's content area offers nothing of the container.
int32 ClusterOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) {
  return rec->hitPartId == kPartContent ? 0 : AboveDDO(heap, o, rec);
}

int32 RefNumOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) {
  if (rec->hitPartId == kPartContent) return 0;
  if (const int32 r = DDOOPopupMethod(heap, o, rec)) return r;
  // Only the refnum kinds with a menu level of their own count one.
  const TypeDescriptor* td = TypeOf(heap, o);
  const int32 kind = td && td->code == kTDRefnumCode ? int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) : -1;
  if (kind == kRefnumNamed6 || kind == kRefnumAutomation || kind == kRefnumObject || kind == kRefnumNamed10)
    ++rec->level;
  return 0;
}

// ---- Arrays -----------------------------------------------------------------------------

// The array's three index vectors (displayed index, selection start and
// end) in its record of the panel data, each of n values; false when the
// record or a vector does not hold them.
bool IndexVectors(ObjHeap heap, int32 array, int32 n, UHandle out[3]) {
  UHandle* ds = OHBlockSize(heap, array) >= 4 * (kPWArrayPrivate + 1) ? FPGetDataSpace(heap) : nullptr;
  const int32 at = ds ? ObjWord(heap, array, kPWArrayPrivate) : 0;
  if (!ds || !*ds || !**ds || at <= 0 || at > DSGetHandleSize(*ds) - 12) return false;
  for (int32 i = 0; i < 3; ++i) {
    out[i] = reinterpret_cast<UHandle>(uintptr_t(GetNative32(**ds + at + 4 * i)));
    if (!out[i] || !*out[i] || DSGetHandleSize(out[i]) < 4 + 4 * n || int32(GetNative32(*out[i])) != n)
      return false;
  }
  return true;
}

int32 ArrayRun(ObjHeap heap, int32 array, PopupMsgRecord* rec) {
  const TypeDescriptor* td = TypeOf(heap, array);
  const int32 n = td && td->code == kTDArray ? ElemCount(td) : 0;
  UPtr value = DataOf(heap, array, kDataPtrPlain);
  UHandle vectors[3];
  if (n < 1 || !value || !IndexVectors(heap, array, n, vectors)) return 0;
  UHandle data;
  std::memcpy(&data, value, sizeof data);
  auto size = [&](int32 k) {
    return data && *data && DSGetHandleSize(data) >= 4 * n ? std::max<int32>(int32(GetNative32(*data + 4 * k)), 0) : 0;
  };
  auto set = [&](int32 which, int32 k, int32 v) { PutNative32(*vectors[which] + 4 + 4 * k, uInt32(v)); };
  auto get = [&](int32 which, int32 k) { return int32(GetNative32(*vectors[which] + 4 + 4 * k)); };
  const bool shown = Flags(heap, array) & kFlagShowSelection;
  switch (rec->item) {
    case kPopupShowLastElement: {
      for (int32 k = 0; k < n; ++k) set(0, k, std::max(size(k) - 1, 0));
      // The last element shown in the last cell of the visible grid.
      int16 extent[2];
      std::memcpy(extent, *heap + array + 4 * kPWArrayGrid, sizeof extent);
      set(0, n - 1, std::max(get(0, n - 1) - extent[0], 0));
      if (n >= 2) set(0, n - 2, std::max(get(0, n - 2) - extent[1], 0));
      OInval(heap, array, kInvalAll);
      return 0;
    }
    case kPopupEmptyArray:
      if (data && *data && DSSetHandleSize(data, 4 * n) == kNoErr) std::memset(*data, 0, size_t(4 * n));
      for (int32 k = 0; k < n; ++k) set(0, k, 0);
      OInval(heap, array, kInvalAll);
      return kReplyRangeRecheck;
    case kPopupStartSelection:
    case kPopupEndSelection:
      for (int32 k = 0; k < n; ++k) set(rec->item == kPopupStartSelection ? 1 : 2, k, get(0, k));
      if (shown) OInval(heap, array, kInvalValue);
      return 0;
    case kPopupShowSelection:
      ObjSetWord(heap, array, 0, int32(Flags(heap, array) ^ kFlagShowSelection));
      OInval(heap, array, kInvalValue);
      return 0;
    case kPopupSelectAll:
      for (int32 k = 0; k < n; ++k) set(1, k, 0), set(2, k, size(k));
      if (shown) OInval(heap, array, kInvalValue);
      return 0;
    default:
      return 0;
  }
}

int32 ArrayOPopupMethod(ObjHeap heap, int32 array, PopupMsgRecord* rec) {
  if (rec->hitPartId == kPartContent) return 0;
  if (const int32 r = AboveDDO(heap, array, rec)) return r;
  if (Building(rec)) {
    if (!DataOf(heap, array, kDataPtrDisplay) || rec->nested) return 0;
    const int32 level = rec->level;
    MenuHandle m = rec->menu72;
    Insert(m, level, kPopupSeparator, -1);
    Insert(m, level, kPopupEmptyArray, -1, !RetrievalMode(heap));
    Insert(m, level, kPopupShowLastElement, -1);
    Insert(m, level, kPopupShowSelection, -1, true, Flags(heap, array) & kFlagShowSelection);
    Insert(m, level, kPopupStartSelection, -1);
    Insert(m, level, kPopupEndSelection, -1);
    Insert(m, level, kPopupSelectAll, -1);
    return 0;
  }
  return MyLevel(rec) && rec->menuId == kPopupMenuId ? ArrayRun(heap, array, rec) : 0;
}

// ---- Type definitions, pictures, cosmetics ---------------------------------------------------

bool MenuHasText(MenuHandle menu, ConstPStr text) {
  Str255 item;
  for (int32 i = 1, n = menu ? MCountItems(menu) : 0; i <= n; ++i) {
    MGetItemText(menu, i, item);
    if (item[0] == text[0] && std::memcmp(item + 1, text + 1, text[0]) == 0) return true;
  }
  return false;
}

int32 PassToInner(ObjHeap heap, int32 typeDef, int32 inner, PopupMsgRecord* rec) {
  // Type definitions nested in each other are passed through only as deep
  // as any panel nests them, and never into one being passed through (a
  // file may list a type definition inside itself).
  static std::vector<std::pair<ObjHeap, int32>> inside;
  if (int32(inside.size()) >= kMaxNesting) return 0;
  for (const auto& e : inside)
    if (e.first == heap && e.second == inner) return 0;
  inside.emplace_back(heap, inner);
  const int32 former = EnclosingTypeDef();
  if (!former && ObjWord(heap, typeDef, kTypeDefLinkWord)) SetEnclosingTypeDef(typeDef);
  const int32 reply = OPopup(heap, inner, rec);
  SetEnclosingTypeDef(former);
  inside.pop_back();
  return reply;
}

int32 TypeDefOPopupMethod(ObjHeap heap, int32 typeDef, PopupMsgRecord* rec) {
  ++rec->level;
  const int32 inner = FindPart(heap, typeDef, kPartIdTypeDefControl, 0);
  if (!IsObject(heap, inner)) {
    DBAssert(kSource, __LINE__, "a type definition without its control");
    return 0;
  }
  if (Building(rec)) {
    const int32 level = rec->level;
    if (rec->nested) PassToInner(heap, typeDef, inner, rec);
    MenuHandle m = rec->menu72;
    Str255 text;
    GetPopupMenuString(kPopupDescription, text);
    if (m && !MenuHasText(m, text)) {
      int32 first = 0;
      for (int32 i = 1, n = MCountItems(m); i <= n && !first; ++i)
        if (IsSeparator(m, i)) first = i;
      Insert(m, level, kPopupDescription, first ? first - 1 : -1);
    }
    GetPopupMenuString(kPopupOnlineHelp, text);
    if (m && !MenuHasText(m, text)) Insert(m, level, kPopupOnlineHelp, -1, HasHelpRef(heap, typeDef));
    return 0;
  }
  if (MyLevel(rec)) {
    if (rec->item == kPopupDescription) EditCtrlDescription(heap, typeDef, 0);
    else if (rec->item == kPopupOnlineHelp && gHooks.helpOpenOnlineForObj) gHooks.helpOpenOnlineForObj(heap, typeDef);
    return 0;
  }
  if (!rec->nested) return 0;
  return DDOCheckReply(heap, typeDef, inner, kPartIdTypeDefControl, PassToInner(heap, typeDef, inner, rec));
}

int32 PictureOPopupMethod(ObjHeap heap, int32 picture, PopupMsgRecord* rec) {
  if (const int32 r = AboveDDO(heap, picture, rec)) return r;
  if (rec->nested || EnclosingTypeDef()) return 0;
  if (Building(rec)) {
    const int32 content = FindPart(heap, picture, kPartContent, 0);
    const bool cached = IsObject(heap, content) && (Flags(heap, content) & kPictPartCached);
    Insert(rec->menu72, rec->level, kPopupSeparator, -1);
    Insert(rec->menu72, rec->level, kPopupSmoothUpdates, -1, cached,
           cached && (Flags(heap, picture) & kFlagSmoothUpdates));
  } else if (rec->phase == kPopupRun && rec->item == kPopupSmoothUpdates) {
    ObjSetWord(heap, picture, 0, int32(Flags(heap, picture) ^ kFlagSmoothUpdates));
  }
  return 0;
}

int32 CosmeticOPopupMethod(ObjHeap, int32, PopupMsgRecord* rec) {
  ++rec->level;
  return 0;
}
int32 AboveCosmetic(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return Above<&CosmeticOPopupMethod>(heap, o, rec); }
int32 MultiCosmeticOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return AboveCosmetic(heap, o, rec); }
int32 BigMultiCosmeticOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) {
  return Above<&MultiCosmeticOPopupMethod>(heap, o, rec);
}
int32 MultiLabelOPopupMethod(ObjHeap heap, int32 o, PopupMsgRecord* rec) { return AboveCosmetic(heap, o, rec); }

// ---- Controllers and the explain item ----------------------------------------------------

// The error cluster a controller shows (its control, or a type
// definition's inner control), with its data; 0 for anything else.
int32 ErrorCluster(ObjHeap heap, int32 dco, UPtr* data, bool* isCluster) {
  int32 control = OHBlockSize(heap, dco) >= 4 * (kPWDCODisplay + 1) ? ObjWord(heap, dco, kPWDCODisplay) : 0;
  if (ClassIs(heap, control, kClsTypeDefinition)) control = FindPart(heap, control, kPartIdTypeDefControl, 0);
  *isCluster = ClassIs(heap, control, kClsCluster);
  if (!*isCluster) return 0;
  const TypeDescriptor* td = TypeOf(heap, control);
  if (!td || td->code != kTDCluster || ElemCount(td) != 3) return 0;
  const uChar codes[3] = {ElemTD(td, 0)->code, ElemTD(td, 1)->code, ElemTD(td, 2)->code};
  if (codes[0] != kTDErrStatus || codes[1] != kTDErrCode || (codes[2] != kTDErrSource && codes[2] != kTDErrSourceView))
    return 0;
  *data = DataOf(heap, control, kDataPtrDisplay);
  return *data ? control : 0;
}

int32 DCOOPopupMethod(ObjHeap heap, int32 dco, PopupMsgRecord* rec) {
  ++rec->level;
  if (Building(rec)) {
    AddExplainErrorItem(heap, dco, rec->menu72, rec->level);
    return 0;
  }
  if (!MyLevel(rec) || rec->menuId != kPopupMenuId ||
      (rec->item != kPopupExplainError && rec->item != kPopupExplainWarning))
    return 0;
  Path path = nullptr;
  if (ExplainErrorPath(&path) != 0) {
    if (path) FDisposePath(path);
    return 0;
  }
  UHandle vi = nullptr;
  // The opener takes the path over.
  if (OpenVIFile(path, &vi, kOpenExplainMode) != kNoErr || !vi || !*vi) return 0;
  const ObjHeap panel = VIRec(vi)->panelHeap;
  if (panel && *panel) {
    const int32 ext = int32(OHWord(panel, kOHExtension));
    if (const WindowRef w = ext > 0 ? WindowRef(GetNative32(*panel + ext + kHeapExtWindow)) : 0) {
      Str255 title;
      GetPopupMenuString(rec->item, title);
      WSetTitle(w, title);
    }
    UPtr data = nullptr;
    bool cluster = false;
    if (ErrorCluster(heap, dco, &data, &cluster) && VIRec(vi)->dataSpace)
      DSCallProc19(reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace), int32(uintptr_t(data)), 0);
  }
  return 0;
}

// ---- Tags -------------------------------------------------------------------------------------

// The owning VI's flag for the duration of a tag VI's call.
struct InCall {
  VIRecord* vi;
  bool was;
  explicit InCall(ObjHeap heap) : vi(OwnerVI(heap)), was(vi && (vi->flags & kVIFlagInCall)) {
    if (vi) vi->flags |= kVIFlagInCall;
  }
  ~InCall() {
    if (vi && !was) vi->flags &= ~kVIFlagInCall;
  }
};

// The tag VI's path: the VI library folder joined with the relative path of
// the resource; null when either is missing.
Path TagVIPath(int32 id) {
  Path rel = nullptr;
  if (RGetPath(RunTimeRsrcFile(), rsrcfmt::kFlatPathTag, id, &rel) != kNoErr || !rel) return nullptr;
  Path lib = FEmptyPath(nullptr), out = FEmptyPath(nullptr);
  const bool ok = lib && out && GetVILibPath(lib) == kNoErr && FAddPath(lib, rel, out) == kNoErr;
  FDisposePath(rel);
  if (lib) FDisposePath(lib);
  if (!ok && out) FDisposePath(out);
  return ok ? out : nullptr;
}

// Copies a counted string into the handle, replacing its contents.
MgErr SetText(UHandle h, LStrHandle from) {
  const int32 n = from && *from ? (*from)->cnt : 0;
  if (DSSetHandleSize(h, 4 + n) != kNoErr) return kMemFullErr;
  PutNative32(*h, uInt32(n));
  if (n) std::memcpy(*h + 4, (*from)->str, size_t(n));
  return kNoErr;
}

int32 TagRun(ObjHeap heap, int32 tag, PopupMsgRecord* rec) {
  const int32 text = FindPart(heap, tag, kPartText, 0);
  if (!text) {
    DBAssert(kSource, __LINE__, "a tag without its text");
    return 0;
  }
  UHandle value = DSNewHClr(4);
  if (!value) return 0;
  bool store = false;
  if (rec->item == kPopupTagBrowser) {
    Bool32 cancelled = 1;
    store = TagRunBrowser(heap, &value, &cancelled) == kNoErr && !cancelled;
  } else {
    const UPtr data = DataOf(heap, tag, kDataPtrPlain);
    LStrHandle current = nullptr;
    if (data) std::memcpy(&current, data, sizeof current);
    Bool32 accepted = 0;
    store = SetText(value, current) == kNoErr &&
            TagRunConfig(heap, &value, rec->item - kPopupCreateTag, &accepted) == kNoErr && accepted;
  }
  int32 reply = 0;
  if (store) {
    reply = TagStoreText(heap, tag, text, value);
    if (reply & kReplyGeometry) {
      rec->hitPartId = PartIdOf(heap, text);
      rec->hitPartOrder = ObjInt16(heap, text, kObjPartOrder);
    }
  }
  DSDisposeHandle(value);
  return reply;
}

int32 TagOPopupMethod(ObjHeap heap, int32 tag, PopupMsgRecord* rec) {
  // The tag's items carry the generic method's level: it adds none.
  if (const int32 r = DDOOPopupMethod(heap, tag, rec)) return r;
  if (rec->nested) return 0;
  if (Building(rec)) {
    if (FrontPanelHeap(heap) && !(Flags(heap, tag) & kObjFlagIndicator)) {
      Insert(rec->menu72, rec->level, kPopupSeparator, -1);
      TagAddItems(heap, tag, rec->menu72, rec->level);
    }
    return 0;
  }
  switch (rec->item) {
    case kPopupTagBrowser: case kPopupCreateTag: case kPopupEditTag: case kPopupCopyTag:
      return rec->phase == kPopupRun ? TagRun(heap, tag, rec) : 0;
    default:
      return 0;
  }
}

template <int32 (*Method)(ObjHeap, int32, PopupMsgRecord*)>
ObjMethodAddr Addr() {
  return reinterpret_cast<ObjMethodAddr>(Method);
}

}  // namespace

// ---- Entry points ---------------------------------------------------------------------------

void GetPopupMenuString(int32 code, PStr text) {
  text[0] = 0;
  if (RGetIndString(RunTimeRsrcFile(), text, kPopupItemsListId, code) != kNoErr) text[0] = 0;
}

int32 DDOOPopupMethod(ObjHeap heap, int32 object, PopupMsgRecord* rec) {
  ++rec->level;
  if (Building(rec)) {
    if (PanelInsideRefNum() || (ClassIs(heap, Owner(heap, object), kClsArray) && rec->nested)) return 0;
    MenuHandle m = rec->menu72;
    if (!m) return 0;
    MDeleteAllItems(m);
    const bool retrieval = RetrievalMode(heap);
    const int32 level = rec->level;
    const int16 id = PartIdOf(heap, object);
    if (FrontPanelHeap(heap))
      Insert(m, level, kPopupReinitialize, -1,
             !retrieval && ObjClass(heap, object) != kClsContainer && id != kPartCursorList);
    Insert(m, level, kPopupCutData, -1,
           !retrieval && (ClassIs(heap, object, kClsArray) || ClassIs(heap, object, kClsTable)));
    Insert(m, level, kPopupCopyData, -1);
    Insert(m, level, kPopupPasteData, -1, PasteDataEnabled(heap, object));
    const VIRecord* vi = OwnerVI(heap);
    if (id != kPartIdTypeDefControl && !(vi && vi->viKind == kVIKindNoDescription)) {
      Insert(m, level, kPopupDescription, -1);
      Insert(m, level, kPopupOnlineHelp, -1, HasHelpRef(heap, object));
    }
    return 0;
  }
  return MyLevel(rec) ? DDORun(heap, object, rec) : 0;
}

Bool32 AddExplainErrorItem(ObjHeap heap, int32 controller, MenuHandle menu, int32 level) {
  UPtr data = nullptr;
  bool cluster = false;
  const int32 control = ErrorCluster(heap, controller, &data, &cluster);
  if (!control || ExplainErrorPath(nullptr) != 0) return cluster;
  const TypeDescriptor* td = TypeOf(heap, control);
  const int32 codeAt = AlignDatum(ElemTD(td, 1), DataSize(ElemTD(td, 0)));
  int32 code;
  std::memcpy(&code, data + codeAt, sizeof code);
  const bool error = data[0] != 0;
  Insert(menu, level, kPopupSeparator, 0);
  Insert(menu, level, error ? kPopupExplainError : kPopupExplainWarning, 0, error || code != 0);
  return cluster;
}

int32 ExplainErrorPath(Path* path) {
  if (path) *path = nullptr;
  Path p = FEmptyPath(nullptr);
  Str255 name;
  name[0] = uChar(std::strlen(kExplainErrorVIName));
  std::memcpy(name + 1, kExplainErrorVIName, name[0]);
  if (!p || GetHelpDirPath(p) != kNoErr || FAppendName(p, name) != kNoErr) {
    if (p) FDisposePath(p);
    return 2;
  }
  const int32 answer = FExists(p) == 1 ? 0 : 1;
  if (path) *path = p;
  else FDisposePath(p);
  return answer;
}

void TagAddItems(ObjHeap heap, int32 tag, MenuHandle menu, int32 level) {
  const bool valid = IsValidTag(heap, tag, 0) != 0;
  Insert(menu, level, kPopupCreateTag, -1);
  Insert(menu, level, kPopupEditTag, -1, valid);
  Insert(menu, level, kPopupCopyTag, -1, valid);
  Insert(menu, level, kPopupTagBrowser, -1);
}

namespace {
// The parameter names of a tag VI, entries 1..n of its list.
bool ParamNames(int32 list, Str255* names, int32 n) {
  for (int32 i = 0; i < n; ++i)
    if (RGetIndString(RunTimeRsrcFile(), names[i], list, i + 1) != kNoErr || names[i][0] == 0) return false;
  return true;
}
}  // namespace

MgErr TagRunBrowser(ObjHeap heap, UHandle* text, Bool32* cancelled) {
  *cancelled = 1;
  Str255 names[2];
  Path path = TagVIPath(kTagBrowserPathId);
  if (!path || !gHooks.callInstrumentByPath || !ParamNames(kTagBrowserParamsListId, names, 2)) {
    if (path) FDisposePath(path);
    return kArgErr;
  }
  InCall call(heap);
  LStrHandle chosen = nullptr;
  uChar cancel = 1;
  const int32 installed = BeginLoadStatus();
  const MgErr err = gHooks.callInstrumentByPath(path, 0, 0, 2, names[0], StdTDTable[kStdTDString], &chosen, names[1],
                                                StdTDTable[kStdTDBoolean], &cancel);
  EndLoadStatus(installed);
  FDisposePath(path);
  MgErr result = err;
  if (!err) {
    *cancelled = cancel != 0;
    result = SetText(*text, chosen);
  }
  if (chosen) DSDisposeHandle(reinterpret_cast<UHandle>(chosen));
  return result;
}

MgErr TagRunConfig(ObjHeap heap, UHandle* text, int32 mode, Bool32* accepted) {
  *accepted = 0;
  Str255 names[4];
  Path path = TagVIPath(kTagConfigPathId);
  if (!path || !gHooks.callInstrumentByPath || !ParamNames(kTagConfigParamsListId, names, 4) || mode < 0 || mode > 2) {
    if (path) FDisposePath(path);
    return kArgErr;
  }
  InCall call(heap);
  int32 m = mode;
  LStrHandle in = reinterpret_cast<LStrHandle>(*text), out = nullptr;
  uChar accept = 0;
  const int32 installed = BeginLoadStatus();
  const MgErr err = gHooks.callInstrumentByPath(path, 0, 2, 2, names[0], StdTDTable[3], &m, names[1],
                                                StdTDTable[kStdTDString], &in, names[2], StdTDTable[kStdTDString],
                                                &out, names[3], StdTDTable[kStdTDBoolean], &accept);
  EndLoadStatus(installed);
  FDisposePath(path);
  MgErr result = err;
  if (!err) {
    *accepted = accept != 0;
    result = SetText(*text, out);
  }
  if (out) DSDisposeHandle(reinterpret_cast<UHandle>(out));
  return result;
}

int32 TagStoreText(ObjHeap heap, int32 tag, int32 textPart, UHandle text) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  const WindowRef window = ext > 0 ? WindowRef(GetNative32(*heap + ext + kHeapExtWindow)) : 0;
  WPortState saved;
  if (window) WSetup(window, &saved);
  const int32 n = text && *text && DSGetHandleSize(text) >= 4 ? int32(GetNative32(*text)) : 0;
  const bool fits = n >= 0 && n <= DSGetHandleSize(text) - 4;
  int32 reply = fits ? SetPartText(heap, textPart, *text + 4, n, 0, 0) : 0;
  reply = StringTextToData(heap, tag, textPart, PartTextRecord(heap, textPart), reply);
  OInval(heap, tag, kInvalValue);
  if (window) WRestore(&saved);
  return reply;
}

ObjMethodAddr OPopupMethodFor(int32 cls) {
  switch (cls) {
    case kClsDataDisplayObject: case kClsUserItem: case kClsOleVariant: return Addr<&DDOOPopupMethod>();
    case kClsFPDataController: return Addr<&DCOOPopupMethod>();
    case kClsNumeric: return Addr<&NumericOPopupMethod>();
    case kClsRing: return Addr<&RingOPopupMethod>();
    case kClsColorRamp: return Addr<&ColorRampOPopupMethod>();
    case kClsSlide: case kClsKnob: return Addr<&SlideOPopupMethod>();
    case kClsColorBox: return Addr<&ColorBoxOPopupMethod>();
    case kClsBoolean: return Addr<&BooleanOPopupMethod>();
    case kClsString: case kClsPath: return Addr<&StringOPopupMethod>();
    case kClsCluster: return Addr<&ClusterOPopupMethod>();
    case kClsRefNum: return Addr<&RefNumOPopupMethod>();
    case kClsArray: return Addr<&ArrayOPopupMethod>();
    case kClsTypeDefinition: return Addr<&TypeDefOPopupMethod>();
    case kClsPicture: return Addr<&PictureOPopupMethod>();
    case kClsTag: return Addr<&TagOPopupMethod>();
    case kClsCosmetic: case kClsLabel: case kClsSelLabel: return Addr<&CosmeticOPopupMethod>();
    case kClsMultiCosmetic: return Addr<&MultiCosmeticOPopupMethod>();
    case kClsBigMultiCosmetic: return Addr<&BigMultiCosmeticOPopupMethod>();
    case kClsMultiLabel: case kClsBigMultiLabel: return Addr<&MultiLabelOPopupMethod>();
    default: return nullptr;
  }
}

int32 PopupInsertItem(MenuHandle menu, int32 level, int32 code, int32 position, Bool32 enabled, Bool32 checked) {
  return Insert(menu, level, code, position, enabled != 0, checked != 0);
}

void PopupAttachSubmenu(MenuHandle menu, int32 item, int32 level, MenuHandle submenu) {
  if (!menu || !submenu || item < 1 || item > MCountItems(menu)) return;
  // Recorded under its own id, so that a choice in it names the sub-menu
  // rather than the pop-up it hangs in; shared menus are not released.
  if (gHooks.menuAttachRecord) {
    gHooks.menuAttachRecord(level, submenu, menu, item, MGetMenuID(submenu), -1, 0);
    return;
  }
  MSetLItemSubmenu(menu, item, submenu);
}

PopupShellHooks SetPopupShellHooks(const PopupShellHooks& hooks) {
  const PopupShellHooks former = gHooks;
  gHooks = hooks;
  return former;
}
