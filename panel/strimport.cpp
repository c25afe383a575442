#include "panel/strimport.h"

#include "panel/ctrlops.h"

#include <cstring>

#include "engine/datamgr.h"
#include "engine/exec/runcmd.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/graphstate.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel/transact.h"

namespace {

StringImportHooks gHooks{};

constexpr uInt32 kDocMod = 0x10040000;
// The font attributes compared and applied (name, size, weight, style).
constexpr int32 kFontMask = 141;
constexpr int32 kDescriptionWord = 7, kTypeDefLinkWord = 11, kListboxLabelWord = 12;
constexpr int32 kMultiLabelCurrentWord = 10, kMultiLabelItemsWord = 11;
constexpr int32 kTableCellWordA = 12, kTableCellWordB = 13;
constexpr int16 kPartNameLabel = 16, kPartTextPart = 11;

int32 Fail(ImportStringsRequest* rq, int32 object, int32 code) {
  SkipWhiteSpace(rq);  // the message points at what follows
  return RecordImportError(rq->context, code, uInt32(object), rq->position);
}
int32 Check(ImportStringsRequest* rq, int32 object, int32 code) { return code ? Fail(rq, object, code) : 0; }

int16 PartId(ObjHeap heap, int32 o) { return ObjInt16(heap, o, kObjPartId); }
int16 PartOrder(ObjHeap heap, int32 o) { return ObjInt16(heap, o, kObjPartOrder); }
int32 Owner(ObjHeap heap, int32 o) { return ObjWord(heap, o, kObjOwner / 4); }
bool OwnerIs(ObjHeap heap, int32 o, int32 cls) {
  const int32 owner = Owner(heap, o);
  return owner && ObjIsA(heap, owner, cls);
}
// True inside a graph at any depth.
bool InsideGraph(ObjHeap heap, int32 o) {
  for (int32 owner = Owner(heap, o), n = 0; owner && n < 64; owner = Owner(heap, owner), ++n)
    if (ObjIsA(heap, owner, kClsGraphChart)) return true;
  return false;
}
bool Stopped(int32 reply) { return reply & (kImportStop | kImportNoMemory); }
void Report(ObjHeap heap) { VIDocMod(nullptr, heap, kDocMod); }
// The ring's item list when its strings fit its handle; null otherwise.
CPStrHandle ItemList(ObjHeap heap, int32 o) {
  UHandle h = reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, o, kMultiLabelItemsWord))));
  if (!h || !*h) return nullptr;
  const int32 size = AZIsHandle(h) ? AZGetHandleSize(h) : DSGetHandleSize(h);
  const int32 n = size >= 4 ? int32(GetNative32(*h)) : -1;
  int64 at = 4;
  for (int32 i = 0; i < n && at < size; ++i) at += 1 + (*h)[at];
  return n >= 0 && at <= size ? reinterpret_cast<CPStrHandle>(h) : nullptr;
}
void Changed(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  rq->partId = PartId(heap, o);
  rq->partOrder = PartOrder(heap, o);
}
bool LinkedTypeDef() { return EnclosingTypeDef() != 0; }

int32 SendImport(ObjHeap heap, int32 object, ImportStringsRequest* rq) {
  int32 reply = 0;
  PanelActionRecord rec{rq, kSelectImportStrings, &reply};
  OSelect(heap, object, &rec);
  return reply;
}

// Each entry of the object's list word, from the last to the first; each
// reply passes filter (reply) and is ORed in; a stop ends the walk.
template <typename Filter>
int32 EachFromLast(ObjHeap heap, int32 object, int32 word, ImportStringsRequest* rq, Filter filter) {
  int32 all = 0;
  const int32 list = ObjWord(heap, object, word);
  for (int32 i = list ? ObjListCount(heap, list) : 0; i-- > 0;) {
    const int32 l = ObjWord(heap, object, word);
    if (!l || i >= ObjListCount(heap, l)) break;
    const int32 child = ObjListGet(heap, l, i);
    if (!child) continue;
    all |= filter(child, SendImport(heap, child, rq));
    if (Stopped(all)) break;
  }
  return all;
}

// The parts step: PARTS, the parts from the last to the first, /PARTS.
int32 PartsStep(ObjHeap heap, int32 object, ImportStringsRequest* rq) {
  const int32 list = ObjWord(heap, object, kObjPartList / 4);
  if (!list || ObjListCount(heap, list) == 0) return 0;
  if (int32 r = ReadWrapperTag(heap, object, rq, kTagPARTS, false)) return r;
  const bool ddo = ObjIsA(heap, object, kClsDataDisplayObject);
  int32 all = EachFromLast(heap, object, kObjPartList / 4, rq, [&](int32 part, int32 reply) {
    return ddo && !Stopped(reply) ? DDOCheckReply(heap, object, part, PartId(heap, part), reply) : reply;
  });
  if (Stopped(all)) return all;
  return all | ReadWrapperTag(heap, object, rq, kTagPARTS, true);
}

int32 GenericStep(ObjHeap heap, int32 object, ImportStringsRequest* rq) {
  if (int32 r = ReadObjectDesc(heap, object, rq)) return r;
  return PartsStep(heap, object, rq);
}

// CONTROL open, inner(), CONTROL close.
template <typename Inner>
int32 Wrapped(ObjHeap heap, int32 object, ImportStringsRequest* rq, Inner inner) {
  if (int32 r = ReadControlOpen(heap, object, rq)) return r;
  const int32 all = inner();
  if (Stopped(all)) return all;
  return all | ReadControlClose(heap, object, rq);
}

// The text of a label part's text record (null when none).
UHandle LabelText(ObjHeap heap, int32 label) {
  TRecord r = label ? PartTextRecord(heap, label) : nullptr;
  return r ? TGetText(r) : nullptr;
}

bool IsArrayElement(ObjHeap heap, int32 o) {
  const int32 owner = Owner(heap, o);
  return owner && ObjClass(heap, owner) == kClsArray && ObjWord(heap, owner, kPWArrayElement) == o;
}
bool IsRefNumElement(ObjHeap heap, int32 o) {
  const int32 owner = Owner(heap, o);
  return owner && ObjClass(heap, owner) == kClsRefNum && ObjWord(heap, owner, kPWRefNumContained) == o;
}

// After a default changed: the array around an element is redrawn, any
// other control takes the new default as its value.
void DefaultChanged(ObjHeap heap, int32 o) {
  Report(heap);
  if (IsArrayElement(heap, o)) OInval(heap, Owner(heap, o), kInvalValue);
  else CtrlMakeDefaultOrReinit(heap, o, 0);
}

UPtr DefaultData(ObjHeap heap, int32 o) {
  return reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, o, 0, kDataPtrDefault, nullptr))));
}
const TypeDescriptor* TypeOf(ObjHeap heap, int32 o) {
  const TypeID id = OGetType(heap, o);
  return id ? TypeIDToTD(heap, id) : nullptr;
}

// Reads DEFAULT around content() (which reads and compares).
template <typename Content>
int32 DefaultElement(ObjHeap, int32 o, ImportStringsRequest* rq, Content content) {
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagDEFAULT, false))) return r;
  if (int32 r = content()) return r;
  return Check(rq, o, ExpectTag(rq, kTagDEFAULT, true));
}

// The font a run or a font tag stands for.
int32 MakeFont(const VSFont& f) { return TNewFont(f.name, f.size, f.style, f.weight); }

// ---- The classes ---------------------------------------------------------------------

int32 ImportNothing(ObjHeap, int32, ImportStringsRequest*) { return 0; }

int32 ImportGenericWrapped(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  return Wrapped(heap, o, rq, [&] { return GenericStep(heap, o, rq); });
}

int32 ImportNumeric(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  const int16 id = PartId(heap, o);
  if (id == kPartDigital || id == kPartArrayIndex) return 0;
  return ImportGenericWrapped(heap, o, rq);
}

int32 ImportColorBox(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  const int16 id = PartId(heap, o);
  if ((id == 8012 || id == 8013) && OwnerIs(heap, o, kClsScale)) return 0;
  return ImportGenericWrapped(heap, o, rq);
}

int32 ImportSlide(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  const int16 id = PartId(heap, o);
  if (id == kPartDigital || id == kPartArrayIndex) return 0;
  int32 all = ImportGenericWrapped(heap, o, rq);
  if (!Stopped(all) && (all & kImportChanged)) {
    if (gHooks.scaleFitToItemCount) all |= gHooks.scaleFitToItemCount(heap, o) & ~kImportStop;
    OSizeObj(heap, o, nullptr, 0);
  }
  return all;
}

int32 ImportTypeDef(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  const bool linked = ObjWord(heap, o, kTypeDefLinkWord) != 0;
  const int32 former = EnclosingTypeDef();
  if (linked) SetEnclosingTypeDef(o);
  const int32 all = ImportGenericWrapped(heap, o, rq);
  if (linked) SetEnclosingTypeDef(former);
  return all;
}

int32 ImportString(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  return Wrapped(heap, o, rq, [&] {
    int32 all = GenericStep(heap, o, rq);
    return Stopped(all) ? all : all | ReadStringDefault(heap, o, rq);
  });
}

int32 ImportPath(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  return Wrapped(heap, o, rq, [&] {
    int32 all = GenericStep(heap, o, rq);
    return Stopped(all) ? all : all | ReadPathDefault(heap, o, rq);
  });
}

// CONTENT, the element, /CONTENT.
int32 ElementContent(ObjHeap heap, int32 o, int32 element, ImportStringsRequest* rq) {
  if (int32 r = ReadWrapperTag(heap, o, rq, kTagCONTENT, false)) return r;
  int32 reply = SendImport(heap, element, rq);
  if (Stopped(reply)) return reply;
  reply = DDOCheckReply(heap, o, element, PartId(heap, element), reply);
  return reply | ReadWrapperTag(heap, o, rq, kTagCONTENT, true);
}

int32 ImportArray(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  if (InsideGraph(heap, o)) return 0;
  return Wrapped(heap, o, rq, [&] {
    int32 all = GenericStep(heap, o, rq);
    const int32 element = ObjWord(heap, o, kPWArrayElement);
    if (Stopped(all) || !element) return all;
    all |= ReadArrayDefault(heap, o, rq);
    return Stopped(all) ? all : all | ElementContent(heap, o, element, rq);
  });
}

int32 ImportRefNum(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  return Wrapped(heap, o, rq, [&] {
    int32 all = GenericStep(heap, o, rq);
    const int32 element = ObjWord(heap, o, kPWRefNumContained);
    if (Stopped(all) || !element) return all;
    return all | ElementContent(heap, o, element, rq);
  });
}

int32 ImportCluster(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  if (InsideGraph(heap, o)) return 0;
  return Wrapped(heap, o, rq, [&] {
    int32 all = GenericStep(heap, o, rq);
    if (Stopped(all)) return all;
    if (int32 r = ReadWrapperTag(heap, o, rq, kTagCONTENT, false)) return r;
    bool refit = false;
    const int32 elements = EachFromLast(heap, o, kPWClusterElements, rq, [&](int32, int32 reply) {
      if (reply & 0x80) refit = true;
      return reply;
    });
    if (Stopped(elements)) return elements;
    all |= elements & ~kImportChanged;
    if (int32 r = ReadWrapperTag(heap, o, rq, kTagCONTENT, true)) return r;
    if (refit && ClusterFitFrame(heap, o, 0)) {
      Changed(heap, o, rq);
      all |= 0x80;
    }
    return all;
  });
}

int32 ImportTable(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  return Wrapped(heap, o, rq, [&] {
    int32 all = GenericStep(heap, o, rq);
    if (!Stopped(all)) all |= ReadTablePriv(heap, o, rq);
    if (!Stopped(all)) all |= ReadTableDefault(heap, o, rq);
    return all;
  });
}

int32 ImportListbox(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  return Wrapped(heap, o, rq, [&] {
    int32 all = GenericStep(heap, o, rq);
    if (Stopped(all)) return all;
    if (int32 r = ReadWrapperTag(heap, o, rq, kTagLBLABEL, false)) return r;
    if (const int32 label = ObjWord(heap, o, kListboxLabelWord)) {
      const int32 reply = SendImport(heap, label, rq);
      if (Stopped(reply)) return reply;
      all |= reply;
    }
    if (int32 r = ReadWrapperTag(heap, o, rq, kTagLBLABEL, true)) return r;
    return all | ReadListboxPriv(heap, o, rq);
  });
}

int32 ImportGraph(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  return Wrapped(heap, o, rq, [&] {
    int32 all = GenericStep(heap, o, rq);
    return Stopped(all) ? all : all | ReadGraphPriv(heap, o, rq);
  });
}

int32 ImportScale(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  const int16 id = PartId(heap, o);
  if (id == 17 || id == 18 || id == 19 || id == 68) return 0;
  return Wrapped(heap, o, rq, [&] { return PartsStep(heap, o, rq); });
}

int32 ImportContainer(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  if (rq->syntaxVersion >= 3) return ImportGenericWrapped(heap, o, rq);
  return GenericStep(heap, o, rq);
}

int32 ImportGrouper(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  if (int32 r = ReadWrapperTag(heap, o, rq, kTagGROUPER, false)) return r;
  const int32 all = PartsStep(heap, o, rq);
  if (Stopped(all)) return all;
  return all | ReadWrapperTag(heap, o, rq, kTagGROUPER, true);
}

int32 ImportController(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  const int32 display = ObjWord(heap, o, kPWDCODisplay);
  if (!display) return 0;
  const int32 reply = SendImport(heap, display, rq);
  return Stopped(reply) ? reply : DDOCheckReplyRange(heap, o, nullptr, reply);
}

int32 ImportLabel(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  const int16 id = PartId(heap, o);
  if (id == kPartNameLabel || id == 10 || id == 27) return 0;
  return ReadLabel(heap, o, rq);
}

typedef int32 (*ImportMethod)(ObjHeap, int32, ImportStringsRequest*);

// The class's import, or its nearest superclass's.
ImportMethod ImportFor(int32 cls) {
  for (int32 c = cls, n = 0; c >= 0 && c < kClassIdCount && n < 16; c = ClassRecord(c)->superId, ++n) {
    switch (c) {
      case kClsBoolean: case kClsPicture: case kClsTag: return &ImportGenericWrapped;
      case kClsTypeDefinition: return &ImportTypeDef;
      case kClsNumeric: case kClsColorRamp: case kClsRing: return &ImportNumeric;
      case kClsColorBox: return &ImportColorBox;
      case kClsSlide: case kClsKnob: return &ImportSlide;
      case kClsString: return &ImportString;
      case kClsPath: return &ImportPath;
      case kClsArray: return &ImportArray;
      case kClsCluster: return &ImportCluster;
      case kClsRefNum: return &ImportRefNum;
      case kClsTable: return &ImportTable;
      case kClsListbox: return &ImportListbox;
      case kClsGraphChart: return &ImportGraph;
      case kClsScale: return &ImportScale;
      case kClsContainer: case kClsOleVariant: return &ImportContainer;
      case kClsDataDisplayObject: case kClsUserItem: return &GenericStep;
      case kClsGrouperObject: return &ImportGrouper;
      case kClsFPDataController: return &ImportController;
      case kClsLabel: return &ImportLabel;
      case kClsMultiLabel: case kClsBigMultiLabel: return &ReadMultiLabel;
      case kClsSelLabel: case kClsCosmetic: case kClsMultiCosmetic: case kClsBigMultiCosmetic:
      case kClsConnectorPane: case kClsAnnex: case kClsWizardData:
        return &ImportNothing;
      default: break;
    }
  }
  return &ImportNothing;
}

// The selection method: code 53 imports, 52 (export) answers 0; other
// codes are not this method's.
int32 ObjectSelect(ObjHeap heap, int32 object, void* record) {
  auto* rec = static_cast<PanelActionRecord*>(record);
  if (!rec || !rec->result) return 0;
  if (rec->action == kSelectImportStrings && rec->frame) {
    auto* rq = static_cast<ImportStringsRequest*>(rec->frame);
    *rec->result = ImportFor(ObjClass(heap, object))(heap, object, rq);
  } else if (rec->action == kSelectExportStrings) {
    *rec->result = 0;
  }
  return 0;
}

// ---- Styled text ---------------------------------------------------------------------

struct Run {
  int32 start, end, font;
  DColor colour;
};

// Runs ahead: one, plus one for each FONT tag after a piece of text, up to
// the closing STEXT; whether the first run starts with a FONT tag.  Nothing
// is read.
void CountRuns(ImportStringsRequest* rq, int32* runs, bool* leadingFont) {
  const uInt32 saved = rq->position;
  const int32 line = rq->context->line;
  const int32 n = VSLStrLen(rq->text);
  *runs = 1;
  *leadingFont = false;
  bool text = false;
  for (int32 p = int32(saved); p < n;) {
    const uChar* b = VSLStrBytes(rq->text);
    if (b[p] != '<' || (p + 1 < n && b[p + 1] == '<')) {
      if (b[p] != '\r' && b[p] != '\n') text = true;
      p += b[p] == '<' ? 2 : 1;
      continue;
    }
    rq->position = uInt32(p);
    int32 tag;
    bool closing;
    if (PeekTag(rq, &tag, &closing) || closing) break;
    if (tag == kTagFONT) {
      if (text) ++*runs;
      else if (*runs == 1) *leadingFont = true;
      text = false;
    } else if (tag == kTagCR || tag == kTagLF || tag == kTagCRLF) {
      text = true;
    } else {
      break;
    }
    while (p < n && b[p] != '>') ++p;
    ++p;
  }
  rq->position = saved;
  rq->context->line = line;
}

bool SameRuns(TRecord r, const std::string& text, const Run* runs, int32 count) {
  UHandle current = TGetText(r);
  const int32 n = VSLStrLen(current);
  if (n != int32(text.size()) || (n && std::memcmp(VSLStrBytes(current), text.data(), size_t(n)) != 0)) return false;
  const TRecordData* d = TRData(r);
  const int32 have = d->runCount < 1 ? 1 : d->runCount;
  if (have != count) return false;
  for (int32 i = 0; i < count; ++i) {
    const TStyleRun& s = d->runs[1 + i < 1 + d->runCount ? 1 + i : 0];
    const int32 end = i + 1 < d->runCount ? int32(d->runs[2 + i].start) : n;
    if (TFontCompare(s.font, runs[i].font, kFontMask) != 0 || s.colour != runs[i].colour ||
        int32(s.start) != runs[i].start || end != runs[i].end)
      return false;
  }
  return true;
}

}  // namespace

// ---- Entry points -------------------------------------------------------------------------

int32 ImportObjectStrings(ObjHeap heap, int32 object, ImportStringsRequest* rq) {
  return ImportFor(ObjClass(heap, object))(heap, object, rq);
}

int32 VIStrImportObjText(ObjHeap heap, int32 object, int32 code, void* request) {
  if (code != kSelectImportStrings || !request) return 0;
  return ImportObjectStrings(heap, object, static_cast<ImportStringsRequest*>(request));
}

ObjMethodAddr StringImportSelectMethodFor(int32 cls) {
  return cls == kClsFrontPanel ? nullptr : reinterpret_cast<ObjMethodAddr>(&ObjectSelect);
}

StringImportHooks SetStringImportHooks(const StringImportHooks& hooks) {
  const StringImportHooks former = gHooks;
  gHooks = hooks;
  return former;
}

int32 PanelImportStrings(ObjHeap heap, int32 root, ImportStringsRequest* rq) {
  if (int32 r = ReadWrapperTag(heap, root, rq, kTagCONTENT, false)) return r;
  const int32 all = EachFromLast(heap, root, kRootObjectListWord, rq, [&](int32 child, int32 reply) {
    return Stopped(reply) ? reply : DDOCheckReplyData(heap, root, child, reply);
  });
  if (Stopped(all)) return all;
  return all | ReadWrapperTag(heap, root, rq, kTagCONTENT, true);
}

int32 FPImportStrings(ObjHeap heap, ImportStringsRequest* rq) {
  const uInt32 ext = heap && *heap ? OHWord(heap, kOHExtension) : 0;
  const int32 root = ext ? int32(GetNative32(*heap + ext + kHeapExtRoot)) : 0;
  if (!root) return RecordImportError(rq->context, kArgErr, 0, rq->position);
  FPEmptySelection(heap);
  // A panel without a window draws into the current (default) port.
  const WindowRef window = WindowRef(GetNative32(*heap + ext + kHeapExtWindow));
  WPortState saved;
  if (window) WSetup(window, &saved);
  const int32 reply = SendImport(heap, root, rq);
  if (window) WRestore(&saved);
  return reply;
}

int32 ReadPartTag(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  VSPartAttrs a;
  if (int32 r = ReadPartAttrs(rq, &a, uInt32(o))) return Fail(rq, o, r);
  if (a.id != PartId(heap, o)) return Fail(rq, o, kVSPartId);
  if (a.order != PartOrder(heap, o)) return Fail(rq, o, kVSPartOrder);
  return 0;
}

int32 ReadControlTag(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  VSControlAttrs a;
  if (int32 r = ReadControlAttrs(rq, &a, uInt32(o))) return Fail(rq, o, r);
  int32 code = a.id != ObjClass(heap, o) ? kVSClassId : 0;
  const int32 label = code ? 0 : FindPart(heap, o, kPartNameLabel, 0);
  if (label && !VSLStrEqual(LabelText(heap, label), reinterpret_cast<UHandle>(a.name))) code = kVSControlName;
  if (a.name) DSDisposeHandle(reinterpret_cast<UHandle>(a.name));
  return code ? Fail(rq, o, code) : 0;
}

int32 ReadControlOpen(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  if (PartId(heap, o) != 0)
    if (int32 r = ReadPartTag(heap, o, rq)) return r;
  return ReadControlTag(heap, o, rq);
}

int32 ReadControlClose(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagCONTROL, true))) return r;
  return PartId(heap, o) != 0 ? Check(rq, o, ExpectTag(rq, kTagPART, true)) : 0;
}

int32 ReadWrapperTag(ObjHeap, int32 o, ImportStringsRequest* rq, int32 tag, bool closing) {
  return Check(rq, o, ExpectTag(rq, tag, closing));
}

int32 ReadObjectDesc(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  LStrHandle text = nullptr;
  int32 r = ReadStringElement(rq, kTagDESC, &text);
  if (!r && OHBlockSize(heap, o) >= 4 * (kDescriptionWord + 1)) {
    UHandle current = reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, o, kDescriptionWord))));
    const int32 n = VSLStrLen(reinterpret_cast<UHandle>(text));
    if (!current ? n > 0 : !VSLStrEqual(current, reinterpret_cast<UHandle>(text))) {
      if (n == 0) {
        AZDisposeHandle(current);
        ObjSetWord(heap, o, kDescriptionWord, 0);
      } else {
        UHandle h = current ? current : AZNewHandle(4 + n);
        if (!h || (current && AZSetHandleSize(h, 4 + n) != kNoErr)) {
          r = kVSMemory;
        } else {
          PutNative32(*h, uInt32(n));
          std::memcpy(*h + 4, VSLStrBytes(reinterpret_cast<UHandle>(text)), size_t(n));
          ObjSetWord(heap, o, kDescriptionWord, int32(uintptr_t(h)));
        }
      }
      if (!r) Report(heap);
    }
  }
  if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
  return Check(rq, o, r);
}

int32 ReadStringDefault(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  if (IsRefNumElement(heap, o)) return 0;
  LStrHandle text = nullptr;
  bool owned = true;
  const int32 r = DefaultElement(heap, o, rq, [&]() -> int32 {
    int32 tag;
    bool closing;
    if (int32 e = PeekTag(rq, &tag, &closing)) return Fail(rq, o, e);
    if (tag == kTagSAME_AS_LABEL && !closing) {
      if (int32 e = ReadMarkerTag(rq, kTagSAME_AS_LABEL)) return Fail(rq, o, e);
      text = reinterpret_cast<LStrHandle>(LabelText(heap, FindPart(heap, o, kPartTextPart, 0)));
      owned = false;
      return 0;
    }
    return Check(rq, o, ReadStringElement(rq, kTagSTRING, &text));
  });
  int32 reply = r;
  UPtr data = r ? nullptr : DefaultData(heap, o);
  if (data) {
    UHandle current;
    std::memcpy(&current, data, sizeof current);
    if (!VSLStrEqual(current, reinterpret_cast<UHandle>(text))) {
      LStrHandle copy = text;
      if (CopyData(StdTDTable[kStdTDString], &copy, data) != kNoErr) reply = Fail(rq, o, kVSMemory);
      else DefaultChanged(heap, o);
    }
  }
  if (owned && text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
  return reply;
}

int32 ReadPathDefault(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  if (IsRefNumElement(heap, o)) return 0;
  Path path = nullptr;
  int32 reply = DefaultElement(heap, o, rq, [&] { return Check(rq, o, ReadPathElement(rq, &path, uInt32(o))); });
  UPtr data = reply ? nullptr : DefaultData(heap, o);
  if (data) {
    Path current;
    std::memcpy(&current, data, sizeof current);
    if (!current || FPathCmp(current, path) != 0) {
      if (CopyData(StdTDTable[kStdTDPath], &path, data) != kNoErr) reply = Fail(rq, o, kVSMemory);
      else DefaultChanged(heap, o);
    }
  }
  if (path) FDisposePath(path);
  return reply;
}

int32 ReadArrayDefault(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  if (IsRefNumElement(heap, o)) return 0;
  Bool32 changed = 0;
  const int32 reply = DefaultElement(heap, o, rq, [&]() -> int32 {
    const TypeDescriptor* td = TypeOf(heap, o);
    UPtr data = DefaultData(heap, o);
    if (!td || !data) return Fail(rq, o, kVSStructure);
    return Check(rq, o, ReadTypedValue(rq, td, data, &changed, uInt32(o)));
  });
  if (!reply && changed) DefaultChanged(heap, o);
  return reply;
}

int32 ReadTableDefault(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  bool changed = false;
  const int32 reply = DefaultElement(heap, o, rq, [&]() -> int32 {
    const TypeDescriptor* td = TypeOf(heap, o);
    UPtr data = DefaultData(heap, o);
    if (td) td = SkipTypedefs(td);
    const uChar* tb = reinterpret_cast<const uChar*>(td);
    if (!td || !data || td->code != kTDArray || int16(GetNative16(tb + 4)) != 2) return 0;
    const TypeDescriptor* elem = SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(tb + 6 + 8));
    if (elem->code != kTDString) return 0;
    if (int32 e = Check(rq, o, ExpectTag(rq, kTagSTRINGS, false))) return e;
    UHandle array;
    std::memcpy(&array, data, sizeof array);
    const int32 rows = array && DSGetHandleSize(array) >= 8 ? int32(GetNative32(*array)) : 0;
    const int32 cols = array && DSGetHandleSize(array) >= 8 ? int32(GetNative32(*array + 4)) : 0;
    if (rows < 0 || cols < 0 || int64(rows) * cols * 4 + 8 > DSGetHandleSize(array)) return Fail(rq, o, kVSStructure);
    LStrHandle text = nullptr;
    int32 e = 0;
    for (int32 i = 0; i < rows * cols && !e; ++i) {
      LStrHandle cell;
      std::memcpy(&cell, *array + 8 + 4 * i, sizeof cell);
      if (!cell) continue;
      if ((e = Check(rq, o, ReadStringElement(rq, kTagSTRING, &text)))) break;
      if (!VSLStrEqual(reinterpret_cast<UHandle>(cell), reinterpret_cast<UHandle>(text))) {
        if (CopyString(text, &cell) != kNoErr) e = Fail(rq, o, kVSMemory);
        std::memcpy(*array + 8 + 4 * i, &cell, sizeof cell);
        changed = true;
      }
    }
    if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
    return e ? e : Check(rq, o, ExpectTag(rq, kTagSTRINGS, true));
  });
  if (!reply && changed) DefaultChanged(heap, o);
  return reply;
}

int32 ReadLabelText(ObjHeap heap, int32 o, ImportStringsRequest* rq, bool* changed) {
  *changed = false;
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagSTEXT, false))) return r;
  int32 count;
  bool leadingFont;
  CountRuns(rq, &count, &leadingFont);
  VSFont font;
  VSAppFontSettings(&font);
  std::string text;
  Run* runs = new Run[size_t(count)];
  int32 made = 0, e = 0;
  LStrHandle piece = nullptr;
  for (int32 i = 0; i < count && !e; ++i) {
    if (i > 0 || leadingFont)
      if ((e = Check(rq, o, ReadFontTag(rq, &font, uInt32(o))))) break;
    if ((e = Check(rq, o, ReadElementText(rq, &piece)))) break;
    runs[i].start = int32(text.size());
    text.append(reinterpret_cast<const char*>(VSLStrBytes(reinterpret_cast<UHandle>(piece))),
                size_t(VSLStrLen(reinterpret_cast<UHandle>(piece))));
    runs[i].end = int32(text.size());
    runs[i].font = MakeFont(font);
    runs[i].colour = font.colour;
    made = i + 1;
  }
  if (piece) DSDisposeHandle(reinterpret_cast<UHandle>(piece));
  TRecord r = e ? nullptr : PartTextRecord(heap, o);
  if (!e && r && !LinkedTypeDef() && !SameRuns(r, text, runs, count)) {
    if (TReplaceText(r, reinterpret_cast<const uChar*>(text.data()), int32(text.size())) != kNoErr) {
      e = Fail(rq, o, kVSMemory);
    } else {
      for (int32 i = 0; i < count; ++i) {
        TSelectText(r, runs[i].start, runs[i].end);
        TSetFont(r, runs[i].font, kFontMask, 0);
        TSetColors(r, &runs[i].colour, nullptr, 0);
      }
      TSelectText(r, 0, 0);
      Report(heap);
      OInval(heap, o, kInvalAll);
      OSizeObj(heap, o, nullptr, 0);
      OInval(heap, o, kInvalAll);
      *changed = true;
    }
  }
  for (int32 i = 0; i < made; ++i) TDisposeFont(runs[i].font);
  delete[] runs;
  if (e) return e;
  return Check(rq, o, ExpectTag(rq, kTagSTEXT, true));
}

int32 ReadLabel(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  const bool part = PartId(heap, o) != 0;
  if (part)
    if (int32 r = ReadPartTag(heap, o, rq)) return r;
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagLABEL, false))) return r;
  bool changed = false;
  if (int32 r = ReadLabelText(heap, o, rq, &changed)) return r;
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagLABEL, true))) return r;
  if (part)
    if (int32 r = Check(rq, o, ExpectTag(rq, kTagPART, true))) return r;
  if (!changed) return 0;
  Changed(heap, o, rq);
  return kImportChanged;
}

int32 ReadMultiLabel(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  if (int32 r = ReadPartTag(heap, o, rq)) return r;
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagMLABEL, false))) return r;
  TRecord record = PartTextRecord(heap, o);
  bool changed = false;
  VSFont font;
  VSAppFontSettings(&font);
  const int32 f = ReadFontTag(rq, &font, uInt32(o));
  if (f && f != kVSUnexpectedTag) return Fail(rq, o, f);
  if (!f && record) {
    const int32 made = MakeFont(font);
    DColor colour = 0;
    TGetColors(record, &colour, nullptr);
    const int32 current = TGetFont(record);
    if (TFontCompare(current, made, kFontMask) != 0 || colour != font.colour) {
      TSelectText(record, 0, 0x7FFFFFFF);
      TSetColors(record, &font.colour, nullptr, 0);
      TSetFont(record, made, kFontMask, 0);
      TSelectText(record, 0, 0);
      changed = true;
    }
    TDisposeFont(current);
    TDisposeFont(made);
  }
  UHandle items = nullptr;
  if (int32 r = ReadStringList(rq, &items)) return Fail(rq, o, r);
  int32 code = 0;
  const int32 owner = Owner(heap, o);
  const TypeDescriptor* td = owner ? TypeOf(heap, owner) : nullptr;
  if (td) td = SkipTypedefs(td);
  const bool enumerated = td && td->code >= kTDEnumU8 && td->code <= kTDEnumU32;
  if (!LinkedTypeDef() && !enumerated && OHBlockSize(heap, o) >= 4 * (kMultiLabelItemsWord + 1)) {
    CPStrHandle mine = ItemList(heap, o);
    const int32 theirs = int32(GetNative32(*items));
    const int32 have = mine ? int32(GetNative32(reinterpret_cast<uChar*>(*mine))) : 0;
    if (!mine ? theirs != 0 : theirs != have) {
      code = kVSItemCount;
    } else if (mine && CPStrCmp(mine, reinterpret_cast<CPStrHandle>(items)) != 0) {
      ObjSetWord(heap, o, kMultiLabelItemsWord, int32(uintptr_t(items)));
      if (AZIsHandle(mine)) AZDisposeHandle(reinterpret_cast<UHandle>(mine));
      else DSDisposeHandle(reinterpret_cast<UHandle>(mine));
      items = nullptr;
      const int32 index = ObjWord(heap, o, kMultiLabelCurrentWord);
      CPStrHandle now = reinterpret_cast<CPStrHandle>(uintptr_t(uInt32(ObjWord(heap, o, kMultiLabelItemsWord))));
      if (index >= 0 && index < theirs)
        if (ConstPStr item = CPStrIndex(now, index)) SetPartText(heap, o, item + 1, item[0], 0, 0);
      changed = true;
    }
  }
  if (items) AZDisposeHandle(items);
  if (code) return Fail(rq, o, code);
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagMLABEL, true))) return r;
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagPART, true))) return r;
  if (!changed) return 0;
  Report(heap);
  OInval(heap, o, kInvalValue);
  OSizeObj(heap, o, nullptr, 0);
  Changed(heap, o, rq);
  return kImportChanged;
}

namespace {

// A list of STRING elements between the tag and its closing tag, one per
// entry, each counted string at byte at of an entry of size bytes, copied
// in when it differs; whether any changed.
int32 ReadEntryStrings(ObjHeap heap, int32 o, ImportStringsRequest* rq, int32 tag, UPtr (*list)(ObjHeap, int32, int32*),
                       int32 entryBytes, int32 at, bool* changed, int32 owner) {
  int32 count = 0;
  UPtr entries = list ? list(heap, owner, &count) : nullptr;
  if (int32 r = Check(rq, o, ExpectTag(rq, tag, false))) return r;
  LStrHandle text = nullptr;
  int32 e = 0;
  for (int32 i = 0; entries && i < count && !e; ++i) {
    if ((e = Check(rq, o, ReadStringElement(rq, kTagSTRING, &text)))) break;
    entries = list(heap, owner, &count);  // the list may have moved
    if (!entries || i >= count) break;
    LStrHandle mine;
    std::memcpy(&mine, entries + i * entryBytes + at, sizeof mine);
    if (!VSLStrEqual(reinterpret_cast<UHandle>(mine), reinterpret_cast<UHandle>(text))) {
      if (CopyString(text, &mine) != kNoErr) e = Fail(rq, o, kVSMemory);
      std::memcpy(entries + i * entryBytes + at, &mine, sizeof mine);
      *changed = true;
    }
  }
  if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
  return e ? e : Check(rq, o, ExpectTag(rq, tag, true));
}

void InvalUnlessHidden(ObjHeap heap, int32 o) {
  if (o && !(uInt32(ObjWord(heap, o, 0)) & kObjFlagHidden)) OInval(heap, o, kInvalAll);
}

}  // namespace

int32 ReadListboxPriv(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  bool changed = false;
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagPRIV, false))) return r;
  if (int32 r = ReadEntryStrings(heap, o, rq, kTagITEMS, gHooks.listboxItems, kListboxItemBytes, kListboxItemTextAt,
                                 &changed, o))
    return r;
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagPRIV, true))) return r;
  if (changed) {
    Report(heap);
    InvalUnlessHidden(heap, o);
  }
  return 0;
}

int32 ReadGraphPriv(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  bool changed = false;
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagPRIV, false))) return r;
  int32 plots = 0;
  if (gHooks.graphPlotList && gHooks.graphPlotList(heap, o, &plots) && plots > 0) {
    bool plotsChanged = false;
    if (int32 r = ReadEntryStrings(heap, o, rq, kTagPLOTS, gHooks.graphPlotList, kPlotEntryBytes, kPlotNameAt,
                                   &plotsChanged, o))
      return r;
    if (plotsChanged) InvalUnlessHidden(heap, FindPart(heap, o, kPartPlotLegend, 0));
    changed |= plotsChanged;
  }
  int32 cursors = 0;
  if (gHooks.graphCursorList && gHooks.graphCursorList(heap, o, &cursors) && cursors > 0) {
    if (int32 r = Check(rq, o, ExpectTag(rq, kTagCURSORS, false))) return r;
    LStrHandle text = nullptr;
    int32 e = 0;
    bool cursorsChanged = false;
    const int32 entryBytes = GraphCursorRecordSize(), nameAt = GraphCursorFieldAt(kCursorNameField);
    if (entryBytes <= 0 || nameAt < 0) return Fail(rq, o, kVSMemory);
    for (int32 i = 0; i < cursors && !e; ++i) {
      if ((e = Check(rq, o, ReadStringElement(rq, kTagSTRING, &text)))) break;
      int32 count = 0;
      UPtr list = gHooks.graphCursorList(heap, o, &count);
      if (!list || i >= count) break;
      UPtr entry = list + i * entryBytes;
      LStrHandle name;
      std::memcpy(&name, entry + nameAt, sizeof name);
      if (VSLStrEqual(reinterpret_cast<UHandle>(name), reinterpret_cast<UHandle>(text))) continue;
      const bool shown = GetNative32(entry) & kCursorLabelShown;
      if (shown && gHooks.cursorLabelInval) gHooks.cursorLabelInval(heap, o, entry, 0);
      if (CopyString(text, &name) != kNoErr) e = Fail(rq, o, kVSMemory);
      std::memcpy(entry + nameAt, &name, sizeof name);
      if (shown && gHooks.graphCursorFont && gHooks.measureCursorLabel) {
        const int32 font = gHooks.graphCursorFont(heap, o);
        gHooks.measureCursorLabel(entry, font);
        TDisposeFont(font);
      }
      if (shown && gHooks.cursorLabelInval) gHooks.cursorLabelInval(heap, o, entry, 1);
      cursorsChanged = true;
    }
    if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
    if (e) return e;
    if (int32 r = Check(rq, o, ExpectTag(rq, kTagCURSORS, true))) return r;
    if (cursorsChanged) InvalUnlessHidden(heap, FindPart(heap, o, kPartCursorLegend, 0));
    changed |= cursorsChanged;
  }
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagPRIV, true))) return r;
  if (changed) Report(heap);
  return 0;
}

int32 ReadTablePriv(ObjHeap heap, int32 o, ImportStringsRequest* rq) {
  bool changed = false;
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagPRIV, false))) return r;
  // The row headers, then the column headers.
  for (int32 columns = 0; columns < 2; ++columns) {
    UHandle headers = gHooks.tableHeaders ? gHooks.tableHeaders(heap, o, columns) : nullptr;
    if (!headers) continue;
    const int32 tag = columns ? kTagCOL_HEADER : kTagROW_HEADER;
    if (int32 r = Check(rq, o, ExpectTag(rq, tag, false))) return r;
    const int32 size = AZIsHandle(headers) ? AZGetHandleSize(headers) : DSGetHandleSize(headers);
    const int32 n = size >= 4 ? int32(GetNative32(*headers)) : 0;
    LStrHandle text = nullptr;
    int32 e = 0;
    for (int32 i = 0; i < n && 4 + 4 * (i + 1) <= size && !e; ++i) {
      if ((e = Check(rq, o, ReadStringElement(rq, kTagSTRING, &text)))) break;
      LStrHandle mine;
      std::memcpy(&mine, *headers + 4 + 4 * i, sizeof mine);
      if (VSLStrEqual(reinterpret_cast<UHandle>(mine), reinterpret_cast<UHandle>(text))) continue;
      if (CopyString(text, &mine) != kNoErr) e = Fail(rq, o, kVSMemory);
      std::memcpy(*headers + 4 + 4 * i, &mine, sizeof mine);
      ObjSetWord(heap, o, kTableCellWordA, columns ? -1 : i);
      ObjSetWord(heap, o, kTableCellWordB, columns ? i : -1);
      changed = true;
    }
    if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
    if (e) return e;
    if (int32 r = Check(rq, o, ExpectTag(rq, tag, true))) return r;
  }
  // The cell fonts.
  int32 count = 0;
  if (gHooks.tableCellFonts && gHooks.tableCellFonts(heap, o, &count) && count > 0) {
    if (int32 r = Check(rq, o, ExpectTag(rq, kTagCELL_FONTS, false))) return r;
    VSFont font;
    VSAppFontSettings(&font);
    for (int32 i = 0; i < count; ++i) {
      int32 row, column;
      if (int32 r = Check(rq, o, ReadCellPosition(rq, &row, &column))) return r;
      int32 n = 0;
      UPtr list = gHooks.tableCellFonts(heap, o, &n);
      if (!list || i >= n) break;
      UPtr entry = list + i * kCellFontEntryBytes;
      if (row != int32(GetNative32(entry)) || column != int32(GetNative32(entry + 4))) return Fail(rq, o, kVSCellPosition);
      const int32 f = ReadFontTag(rq, &font, uInt32(o));
      if (f && f != kVSUnexpectedTag) return Fail(rq, o, f);
      const int32 index = int32(GetNative32(entry + kCellFontIndexAt));
      const int32 made = MakeFont(font);
      const int32 mine = gHooks.tableFont ? gHooks.tableFont(heap, o, index) : made;
      if (TFontCompare(mine, made, kFontMask) != 0 || GetNative32(entry + kCellFontColourAt) != font.colour) {
        if (gHooks.setTableFont) gHooks.setTableFont(heap, o, index, made);
        else TDisposeFont(made);
        list = gHooks.tableCellFonts(heap, o, &n);
        if (list && i < n) PutNative32(list + i * kCellFontEntryBytes + kCellFontColourAt, font.colour);
        changed = true;
      } else {
        TDisposeFont(made);
      }
    }
    if (int32 r = Check(rq, o, ExpectTag(rq, kTagCELL_FONTS, true))) return r;
  }
  if (int32 r = Check(rq, o, ExpectTag(rq, kTagPRIV, true))) return r;
  if (changed) {
    Report(heap);
    InvalUnlessHidden(heap, o);
  }
  return 0;
}

