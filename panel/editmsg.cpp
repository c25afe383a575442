#include "panel/editmsg.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datatype.h"
#include "engine/exec/runcmd.h"
#include "engine/panelrec.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/walert.h"
#include "mgsource/window/textrec.h"
#include "panel/blockdata.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "panel/objload.h"
#include "panel/objsize.h"
#include "panel/ocopy.h"
#include "panel/oinit.h"
#include "panel/oinsert.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "panel/rangecheck.h"
#include "panel/replyfilters.h"
#include "panel/strimport.h"

using opmeth::BoundsOf;
using opmeth::Flags;
using opmeth::IsObject;
using opmeth::PartIdOf;

namespace {

constexpr char kSource[] = "editmsg.cpp";
EditSelectHooks gHooks{};

constexpr int32 kReplyFail = 0x10, kReplyStop = 0x10000000, kReplyDispose = 0x8000;
constexpr int32 kReplyStateChanged = 0x10000, kReplyGeometry = 0x80, kReplyMoved = 0x400;
constexpr int32 kAppend = 0x7FFFFFFF;
constexpr int32 kCopyMovedHeap = 1;
constexpr int32 kCopyNothing = 43;  // a type definition linked by name: nothing copied, no failure
constexpr uInt32 kModCopiedIn = 0x80000001, kModNewOwner = 0x80000008, kModMoved = 0x80001000,
                 kModRefit = 0x80000400;
constexpr uInt32 kModFontColours = 0x80000200, kModFontSize = 0x80000400, kModFontGeometry = 0x80000040;
constexpr int32 kFontReplyColours = 0x100, kFontReplySize = 0x40;
constexpr int32 kTDCompareMask = 0x7FC0;
constexpr int16 kPartText = 11, kPartNumText = 10, kPartIndex = 8002;
constexpr int16 kPartSlider = 17, kPartFill = 23, kPartHousing = 8;
constexpr int32 kDataBoundsUpdate = 5;
constexpr int32 kFrameKind = 3, kFrameFlag = 0x10;
constexpr int32 kMaxDepth = 64;
// An element's reply bits that redraw the array's content part.
constexpr int32 kArrayInteriorBits = 0x10140;

bool Stops(int32 reply) { return reply & (kReplyFail | kReplyStop); }
bool IsStringsCode(int32 code) { return code == kEditExportStrings || code == kEditImportStrings; }
int32 Owner(ObjHeap heap, int32 o) { return ObjWord(heap, o, kObjOwner / 4); }
int32 CopyForward(ObjHeap heap, int32 o) { return int32(OHWord(heap, uInt32(o + kObjCopyForwardWord))); }
void SetCopyForward(ObjHeap heap, int32 o, int32 v) { OHSetWord(heap, uInt32(o + kObjCopyForwardWord), uInt32(v)); }
bool ClassIs(ObjHeap heap, int32 o, int32 cls) { return IsObject(heap, o) && ObjIsA(heap, o, cls); }
bool HasWord(ObjHeap heap, int32 o, int32 word) { return IsObject(heap, o) && OHBlockSize(heap, o) >= 4 * (word + 1); }
int32 WordOf(ObjHeap heap, int32 o, int32 word) { return HasWord(heap, o, word) ? ObjWord(heap, o, word) : 0; }
int32 ExtWord(ObjHeap heap, int32 at) {
  const int32 ext = heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0;
  return ext > 0 ? int32(GetNative32(*heap + ext + at)) : 0;
}
void SetHitPart(ObjHeap heap, int32 o, EditMsgRecord* rec) {
  rec->hitPartId = PartIdOf(heap, o);
  rec->hitPartOrder = ObjInt16(heap, o, kObjPartOrder);
}
int32 PackPoint(Point p) {
  int32 v;
  std::memcpy(&v, &p, sizeof v);
  return v;
}
bool SameRect(const Rect& a, const Rect& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The entries of an offset list word, copied: the walk may change the list.
std::vector<int32> ListCopy(ObjHeap heap, int32 object, int32 word) {
  std::vector<int32> out;
  const int32 list = WordOf(heap, object, word);
  const int32 n = list ? PanelListCount(heap, list) : 0;
  for (int32 i = 0; i < n; ++i) out.push_back(ObjListGet(heap, list, i));
  return out;
}

// The string steps of an object: the string import's method for its class
// (which reads its elements and passes the code on to its parts in the
// strings file's order); an export writes nothing.
int32 StringsStep(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec) {
  if (code != kEditImportStrings || !rec) return 0;
  return ImportObjectStrings(heap, object, reinterpret_cast<ImportStringsRequest*>(rec));
}

// Sends code to a part with the nesting mark of the walk set: the inner
// control of a linked type definition marks the type definition passed
// through (unless one is marked), any other part its owner.
// The objects a walk is inside of, outermost first.  Part lists come from
// files and may lead back to an object the walk is inside of: such a part
// is passed over, and no walk goes deeper than any panel nests.
struct WalkStack {
  std::vector<std::pair<ObjHeap, int32>> inside;
  bool Enter(ObjHeap heap, int32 o) {
    if (int32(inside.size()) >= kMaxDepth) return false;
    for (const auto& e : inside)
      if (e.first == heap && e.second == o) return false;
    inside.emplace_back(heap, o);
    return true;
  }
  void Leave() { inside.pop_back(); }
};
WalkStack gWalk;

int32 SendToPart(ObjHeap heap, int32 object, int32 part, int32 code, EditMsgRecord* rec) {
  if (!gWalk.Enter(heap, part)) return 0;
  const int32 formerTypeDef = EnclosingTypeDef();
  const int32 formerInside = InsideControl();
  if (PartIdOf(heap, part) == kPartIdTypeDefControl) {
    if (ObjClass(heap, object) == kClassTypeDef && WordOf(heap, object, kTypeDefLinkWord) && !formerTypeDef)
      SetEnclosingTypeDef(object);
  } else {
    SetInsideControl(object);
  }
  const int32 reply = OSelectCode(heap, part, code, rec);
  SetEnclosingTypeDef(formerTypeDef);
  SetInsideControl(formerInside);
  gWalk.Leave();
  return reply;
}

// ---- Moves --------------------------------------------------------------------------

// The copy of a selected object into the target heap, at the end of the
// target owner, made the only selected object there.
int32 MoveIntoHeap(ObjHeap heap, int32 object, EditMsgRecord* rec) {
  if ((Flags(heap, object) & kObjFlagKeepPlace) && !(rec->moveFlags & kMoveKeptToo)) return 0;
  int32 owner = rec->flags;
  if (!owner) {
    owner = Owner(heap, object);
    if (ClassIs(heap, owner, kClsFPDataController)) owner = Owner(heap, owner);
    if (rec->targetHeap != heap) {
      DBAssert(kSource, __LINE__, "a move into another heap names no owner there");
      return 0;
    }
  }
  int32 mode = rec->targetHeap != heap ? kCopyMovedHeap : 0;
  if (rec->moveFlags & kMoveCopyFlag) mode += kMoveCopyFlag;
  if (const int32 r = OCopy(heap, object, rec->targetHeap, PackPoint(rec->offset), mode))
    return r == kCopyNothing ? 0 : kReplyFail;
  const int32 copy = CopyForward(heap, object);
  if (!IsObject(rec->targetHeap, copy)) return kReplyFail;
  const int32 inserted = OInsert(rec->targetHeap, owner, copy, kAppend);
  if (inserted != 1) {
    // The copy belongs to no owner: it is released rather than left behind
    // in the target heap.
    if (inserted != 2) DBAssert(kSource, __LINE__, "the moved copy was not inserted");
    ODispose(rec->targetHeap, copy);
    DisposeObject(rec->targetHeap, copy);
    return inserted == 2 ? kReplyFail : 0;
  }
  OInval(rec->targetHeap, copy, kInvalAll);
  VIDocMod(nullptr, rec->targetHeap, kModCopiedIn);
  return (SelectObject(rec->targetHeap, copy) & kReplyFail) | kReplyMoved;
}

// A selected object moved within its heap: into the new owner, then by the
// offset.
int32 MoveInHeap(ObjHeap heap, int32 object, EditMsgRecord* rec) {
  OInval(heap, object, kInvalAll);
  const int32 current = Owner(heap, object);
  const int32 owner = rec->flags ? rec->flags : current;
  if (owner != current && !(Flags(heap, object) & kObjFlagKeepPlace)) {
    if (!(ClassIs(heap, current, kClsFPDataController) && ClassIs(heap, owner, kClsFrontPanel))) {
      const int32 inserted = IsObject(heap, owner) ? OInsert(heap, owner, object, kAppend) : 0;
      if (inserted == 2) return kReplyFail;
      if (inserted != 1) {
        WBeep();
        return 0;
      }
    }
    VIDocMod(nullptr, heap, kModNewOwner);
  }
  if (!ClassIs(heap, owner, kClsArray) && !ClassIs(heap, owner, kClsRefNum)) {
    if (OOffset(heap, object, rec->offset)) return kReplyFail;
    OInval(heap, object, kInvalAll);
  }
  VIDocMod(nullptr, heap, kModMoved);
  SetCopyForward(heap, object, object);
  return kReplyGeometry;
}

// ---- Password texts -----------------------------------------------------------------

bool PasswordText(ObjHeap heap, int32 string) {
  const int32 part = FindPart(heap, string, kPartText, 0);
  const TRecord text = part ? PartTextRecord(heap, part) : nullptr;
  return text && (TGetMode(text) & kTRModePassword);
}

bool HasPasswordInside(ObjHeap heap, int32 o);

bool HasPassword(ObjHeap heap, int32 o) {
  if (!IsObject(heap, o) || !gWalk.Enter(heap, o)) return false;
  const bool found = HasPasswordInside(heap, o);
  gWalk.Leave();
  return found;
}

bool HasPasswordInside(ObjHeap heap, int32 o) {
  if (ObjIsA(heap, o, kClsString)) return PasswordText(heap, o);
  if (ObjIsA(heap, o, kClsTypeDefinition)) return HasPassword(heap, FindPart(heap, o, kPartIdTypeDefControl, 0));
  if (ObjIsA(heap, o, kClsArray)) return HasPassword(heap, WordOf(heap, o, kPWArrayElement));
  const bool cluster = ObjIsA(heap, o, kClsCluster);
  if (!cluster && ObjClass(heap, o) != kClsGrouperObject) return false;
  for (int32 m : ListCopy(heap, o, cluster ? kPWClusterElements : kObjPartList / 4))
    if (HasPassword(heap, m)) return true;
  return false;
}

// A copied string emptied: the handle holds a count of 0 and nothing else.
void EmptyString(UPtr at) {
  if (!at) return;
  UHandle h;
  std::memcpy(&h, at, sizeof h);
  if (!h || DSSetHandleSize(h, 4) != kNoErr) return;
  PutNative32(*h, 0);
}

// ---- The class methods --------------------------------------------------------------

int32 GenericWalk(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec) {
  const int32 saved = rec->flags;
  if (IsObjSelected(heap, object)) rec->flags |= kEditOwnerSelected;
  int32 all = 0;
  const std::vector<int32> parts = ListCopy(heap, object, PartListWord(heap, object));
  for (size_t i = parts.size(); i-- > 0;) {
    const int32 part = parts[i];
    if (!IsObject(heap, part)) continue;
    const int32 reply = code == kEditCleanCopy ? 0 : SendToPart(heap, object, part, code, rec);
    all |= DDOCheckReply(heap, object, part, rec->hitPartId, reply);
    if (Stops(all)) break;
  }
  rec->flags = saved;
  return all;
}

int32 Generic(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec) {
  if (IsStringsCode(code)) return StringsStep(heap, object, code, rec);
  const int32 savedFlags = code == kEditFont ? rec->flags : 0;
  if (IsObjSelected(heap, object) && savedFlags == 0) {
    int32 reply = 0;
    if (code == kEditMove) {
      if (CopyForward(heap, object)) return 0;
      reply = rec->targetHeap ? MoveIntoHeap(heap, object, rec) : MoveInHeap(heap, object, rec);
    } else if (code == kEditPasteData) {
      reply = PasteTypedData(heap, object, rec);
    }
    SetHitPart(heap, object, rec);
    return reply;
  }
  return GenericWalk(heap, object, code, rec);
}

int32 CosmeticOSelectMethod(ObjHeap heap, int32 object, int32, EditMsgRecord* rec) {
  if (IsObjSelected(heap, object)) SetHitPart(heap, object, rec);
  return 0;
}

int32 LabelOSelectMethod(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec) {
  if (IsStringsCode(code)) return StringsStep(heap, object, code, rec);
  if (code != kEditRefit) return CosmeticOSelectMethod(heap, object, code, rec);
  OInval(heap, object, kInvalAll);
  const Rect before = BoundsOf(heap, object);
  if (OSizeObj(heap, object, nullptr, 0)) return kReplyFail;
  if (SameRect(before, BoundsOf(heap, object))) return 0;
  OInval(heap, object, kInvalAll);
  SetHitPart(heap, object, rec);
  VIDocMod(nullptr, heap, kModRefit);
  return kReplyGeometry;
}

// A font change counts as a re-fit for the selected numeric, one whose owner
// is selected, or the key-focus numeric when only that one changes.
bool CountsAsRefit(ObjHeap heap, int32 object, int32 code, const EditMsgRecord* rec) {
  if (code == kEditRefit) return true;
  if (code != kEditFont || rec->flags == 0) return false;
  return IsObjSelected(heap, object) || (rec->flags & kEditOwnerSelected) ||
         ((rec->flags & kEditFocusOnly) && ExtWord(heap, kHeapExtKeyFocus) == object);
}

int32 NumericOSelectMethod(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec) {
  // (A numeric showing an array's index or a digital display has no
  // strings: its import answers 0.)
  if (IsStringsCode(code)) return StringsStep(heap, object, code, rec);
  const bool refit = CountsAsRefit(heap, object, code, rec);
  int32 reply = Generic(heap, object, code, rec);
  if (refit) {
    const int32 text = FindPart(heap, object, kPartNumText, 0);
    const Rect before = BoundsOf(heap, object), textBefore = text ? BoundsOf(heap, text) : Rect{};
    NumericFitTextPart(heap, object);
    // The re-fit's answer is the failure bit: the walk above stops there.
    if (!SameRect(before, BoundsOf(heap, object)) || (text && !SameRect(textBefore, BoundsOf(heap, text))))
      reply |= kReplyFail;
  }
  return reply;
}

int32 SlideOSelectMethod(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec) {
  const int32 reply = NumericOSelectMethod(heap, object, code, rec);
  if (IsStringsCode(code) || code == kEditRefit || !(reply & kReplyGeometry)) return reply;
  const int16 hit = rec->hitPartId;
  if (hit == kPartSlider || hit == kPartFill || hit == kPartHousing) {
    const void* data = reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(heap, object, 0, kDataPtrPlain, nullptr))));
    ObjUpdateDataBounds(heap, object, data, data, kDataBoundsUpdate);
    HeapStashText(heap, object);
  }
  return reply;
}

int32 StringOSelectMethod(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec) {
  const int32 reply = Generic(heap, object, code, rec);
  if (code != kEditCleanCopy) return reply;
  const int32 part = FindPart(heap, object, kPartText, 0);
  const TRecord text = part ? PartTextRecord(heap, part) : nullptr;
  if (!text) {
    DBAssert(kSource, __LINE__, "a string without its text");
    return reply;
  }
  if (TGetMode(text) & kTRModePassword) {
    EmptyString(rec->value);
    EmptyString(rec->defaultValue);
  }
  return reply;
}

const TypeDescriptor* TypeOf(ObjHeap heap, int32 o) {
  const TypeID id = OGetType(heap, o);
  return id ? TypeIDToTD(heap, id) : nullptr;
}

// Code 60 on a cluster: each member holding password text cleans its piece
// of the copied value and default, found member by member along the type.
int32 ClusterClean(ObjHeap heap, int32 cluster, EditMsgRecord* rec) {
  const TypeDescriptor* td = TypeOf(heap, cluster);
  if (!td || td->code != kTDCluster || !rec->value) return 0;
  const std::vector<int32> members = ListCopy(heap, cluster, kPWClusterElements);
  const int32 n = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  const UPtr value = rec->value, deflt = rec->defaultValue;
  int32 at = 0, all = 0;
  for (int32 i = 0; i < n && i < int32(members.size()); ++i) {
    const TypeDescriptor* e = ElemTD(td, i);
    if (!e) break;
    at = AlignDatum(e, at);
    if (HasPasswordString(heap, members[size_t(i)])) {
      rec->value = value + at;
      rec->defaultValue = deflt ? deflt + at : nullptr;
      all |= OSelectCode(heap, members[size_t(i)], kEditCleanCopy, rec);
    }
    at += DataSize(e);
  }
  rec->value = value;
  rec->defaultValue = deflt;
  return all;
}

int32 ClusterOSelectMethod(ObjHeap heap, int32 cluster, int32 code, EditMsgRecord* rec) {
  if (code == kEditCleanCopy) return ClusterClean(heap, cluster, rec);
  if (IsStringsCode(code)) return StringsStep(heap, cluster, code, rec);
  int32 reply = Generic(heap, cluster, code, rec);
  if (reply & (kReplyFail | kReplyDispose | kReplyStop)) return reply;
  const bool selected = IsObjSelected(heap, cluster);
  if (selected && rec->flags == 0) return reply;
  const int32 saved = rec->flags;
  if (selected) rec->flags |= kEditOwnerSelected;
  bool refit = false;
  const std::vector<int32> members = ListCopy(heap, cluster, kPWClusterElements);
  for (size_t i = members.size(); i-- > 0;) {
    if (!IsObject(heap, members[i])) continue;
    int32 r = SendToPart(heap, cluster, members[i], code, rec);
    if (r & kReplyGeometry) {
      r = (r & ~kReplyGeometry) | kReplyStateChanged;
      refit = true;
    }
    int32 part = members[i];
    reply |= DDOCheckReplyRangeData(heap, cluster, &part, r);
    if (Stops(reply)) break;
  }
  rec->flags = saved;
  if (refit && !Stops(reply) && ClusterFitFrame(heap, cluster, 0)) {
    reply |= kReplyGeometry;
    SetHitPart(heap, cluster, rec);
  }
  return reply;
}

int32 RefNumOSelectMethod(ObjHeap heap, int32 refnum, int32 code, EditMsgRecord* rec) {
  if (IsStringsCode(code)) return StringsStep(heap, refnum, code, rec);
  int32 reply = Generic(heap, refnum, code, rec);
  const int32 inner = WordOf(heap, refnum, kPWRefNumContained);
  if (Stops(reply) || !IsObject(heap, inner) || IsObjSelected(heap, refnum)) return reply;
  if (code == kEditMove && IsObjSelected(heap, inner)) return reply;
  int32 part = inner;
  return reply | RefNumCheckReply(heap, refnum, &part, SendToPart(heap, refnum, inner, code, rec));
}

int32 TypeDefOSelectMethod(ObjHeap heap, int32 typeDef, int32 code, EditMsgRecord* rec) {
  if (code != kEditPasteData && code != kEditCleanCopy) return Generic(heap, typeDef, code, rec);
  const int32 inner = FindPart(heap, typeDef, kPartIdTypeDefControl, 0);
  if (!IsObject(heap, inner)) return 0;
  const int32 reply = SendToPart(heap, typeDef, inner, code, rec);
  return DDOCheckReply(heap, typeDef, inner, PartIdOf(heap, inner), reply);
}

// The classes whose edit work is the generic handler's (their strings are
// their import's).
int32 RingOSelectMethod(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) { return Generic(heap, o, code, rec); }
int32 ColorRampOSelectMethod(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) { return Generic(heap, o, code, rec); }
int32 ColorBoxOSelectMethod(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) { return Generic(heap, o, code, rec); }
int32 PathOSelectMethod(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) { return Generic(heap, o, code, rec); }
int32 BooleanOSelectMethod(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) { return Generic(heap, o, code, rec); }
int32 PictureOSelectMethod(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) { return Generic(heap, o, code, rec); }
int32 OleVariantOSelectMethod(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) { return Generic(heap, o, code, rec); }
int32 GrouperOSelectMethod(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) { return Generic(heap, o, code, rec); }
// Code 60 on an array: the element control cleans each copied element in
// turn (the record's value and default pointers advanced element by
// element), then its own display data.
int32 ArrayClean(ObjHeap heap, int32 array, EditMsgRecord* rec) {
  const int32 element = WordOf(heap, array, kPWArrayElement);
  const TypeDescriptor* td = TypeOf(heap, array);
  if (!IsObject(heap, element) || !td || td->code != kTDArray) return 0;
  const int32 rank = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  // The element's descriptor follows the rank and the dimension words.
  const TypeDescriptor* elem =
      rank >= 1 && 6 + 4 * rank < td->size
          ? reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(td) + 6 + 4 * rank)
          : nullptr;
  const int32 size = elem ? DataSize(elem) : 0;
  const UPtr value = rec->value, deflt = rec->defaultValue;
  // The elements of a copied array handle, 0 when it holds none.
  auto elements = [&](UPtr at, UPtr* first) {
    UHandle h = nullptr;
    if (at) std::memcpy(&h, at, sizeof h);
    *first = nullptr;
    if (!h || !*h || rank < 1 || size <= 0 || DSGetHandleSize(h) < 4 * rank) return int32(0);
    int64 n = 1;
    for (int32 k = 0; k < rank; ++k) n *= std::max<int32>(int32(GetNative32(*h + 4 * k)), 0);
    const int32 header = AlignDatum(elem, 4 * rank);
    if (n <= 0 || header + n * size > DSGetHandleSize(h)) return int32(0);
    *first = *h + header;
    return int32(n);
  };
  UPtr values, defaults;
  const int32 n = elements(value, &values), nd = elements(deflt, &defaults);
  int32 all = 0;
  for (int32 i = 0; i < n && !Stops(all); ++i) {
    rec->value = values + i * size;
    rec->defaultValue = i < nd ? defaults + i * size : nullptr;
    all |= OSelectCode(heap, element, kEditCleanCopy, rec);
  }
  rec->value = reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, element, 0, kDataPtrPlain, nullptr))));
  rec->defaultValue = nullptr;
  if (rec->value && !Stops(all)) all |= OSelectCode(heap, element, kEditCleanCopy, rec);
  rec->value = value;
  rec->defaultValue = deflt;
  return all;
}

int32 ArrayOSelectMethod(ObjHeap heap, int32 array, int32 code, EditMsgRecord* rec) {
  if (code == kEditCleanCopy) return ArrayClean(heap, array, rec);
  if (IsStringsCode(code)) return StringsStep(heap, array, code, rec);
  const bool selected = IsObjSelected(heap, array);
  if ((code == kEditCutData || code == kEditCopyData || code == kEditPasteData) && selected && rec->flags == 0) {
    const int32 reply = ArrayBlockData(heap, array, code, rec);
    SetHitPart(heap, array, rec);
    return reply;
  }
  int32 reply = Generic(heap, array, code, rec);
  if (reply & (kReplyFail | kReplyDispose | kReplyStop)) return reply;
  if (reply & kReplyGeometry) {
    VIDocMod(nullptr, heap, kModFontGeometry);
    if (code == kEditFont && rec->flags) {
      for (int32 part : ListCopy(heap, array, kObjPartList / 4)) {
        if (!IsObject(heap, part) || PartIdOf(heap, part) != kPartIndex) continue;
        if (IsObjSelected(heap, part) || ((rec->flags & kEditFocusOnly) && ExtWord(heap, kHeapExtKeyFocus) == part)) {
          ArrayFitIndexText(heap, array, part);
          break;
        }
      }
    }
  }
  int32 element = WordOf(heap, array, kPWArrayElement);
  const bool moveInHeap = code == kEditMove && IsObjSelected(heap, element) &&
                          (!rec->targetHeap || rec->targetHeap == heap) && rec->flags == 0;
  if (IsObject(heap, element) && !moveInHeap) {
    const int32 saved = rec->flags;
    if (selected) rec->flags |= kEditOwnerSelected;
    int32 r = SendToPart(heap, array, element, code, rec);
    rec->flags = saved;
    if (uInt32(r) & 0x80000000u) ArrayFitFrame(heap, array);
    if (r & kArrayInteriorBits) {
      if (const int32 content = FindPart(heap, array, kPartFrameInner, 0)) OInval(heap, content, kInvalAll);
    }
    reply |= DDOCheckReplyRangeMark(heap, array, &element, r);
  }
  SetHitPart(heap, array, rec);
  return reply;
}
int32 TableSelect(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) {
  return gHooks.tableSelect ? gHooks.tableSelect(heap, o, code, rec) : Generic(heap, o, code, rec);
}
int32 MultiLabelOSelectMethod(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) {
  return LabelOSelectMethod(heap, o, code, rec);
}
int32 KnobOSelectMethod(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) {
  return SlideOSelectMethod(heap, o, code, rec);
}
int32 TagOSelectMethod(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) {
  return StringOSelectMethod(heap, o, code, rec);
}

int32 DCOOSelectMethod(ObjHeap heap, int32 dco, int32 code, EditMsgRecord* rec) {
  const int32 control = WordOf(heap, dco, kPWDCODisplay);
  if (!IsObject(heap, control)) return 0;
  if (code == kEditCleanCopy) {
    if (!HasPasswordString(heap, control)) return 0;
    rec->value = reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, control, 0, kDataPtrPlain, nullptr))));
    rec->defaultValue =
        reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, control, 0, kDataPtrDefault, nullptr))));
  }
  int32 reply = OSelectCode(heap, control, code, rec);
  if (reply & kReplyDispose) {
    ODispose(heap, control);
    DisposeObject(heap, control);
    ObjSetWord(heap, dco, kPWDCODisplay, 0);
  }
  if (!WordOf(heap, dco, kPWDCODisplay)) return reply | kReplyDispose;
  return DDOCheckReplyRange(heap, dco, nullptr, reply);
}

int32 FrontPanelOSelectMethod(ObjHeap heap, int32 root, int32 code, EditMsgRecord* rec) {
  if (IsStringsCode(code))
    return code == kEditImportStrings && rec
               ? PanelImportStrings(heap, root, reinterpret_cast<ImportStringsRequest*>(rec))
               : 0;
  // A damaged panel may list its root among its own items: the walk does
  // not enter a root it is already inside of.
  if (!gWalk.Enter(heap, root)) return 0;
  struct Leave {
    ~Leave() { gWalk.Leave(); }
  } leave;
  UpdateCursor(1);
  int32 all = 0;
  const std::vector<int32> controllers = ListCopy(heap, root, kRootItemList / 4);
  for (size_t i = controllers.size(); i-- > 0;) {
    UpdateCursor(1);
    if (!IsObject(heap, controllers[i])) continue;
    all |= DDOCheckReplyData(heap, root, controllers[i], OSelectCode(heap, controllers[i], code, rec));
    if (all & kReplyStop) break;
  }
  if (all & kReplyFail) MemFullAlert(0, 7);
  if (code == kEditFont) {
    if (all & kFontReplyColours) VIDocMod(nullptr, heap, kModFontColours);
    if (all & kFontReplySize) VIDocMod(nullptr, heap, kModFontSize);
    if (all & kReplyGeometry) VIDocMod(nullptr, heap, kModFontGeometry);
  }
  UpdateCursor(0);
  return all;
}

int32 ConnPaneOSelectMethod(ObjHeap, int32, int32, EditMsgRecord*) { return 0; }

int32 ListboxSelect(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) {
  return gHooks.listboxSelect ? gHooks.listboxSelect(heap, o, code, rec) : Generic(heap, o, code, rec);
}
int32 GraphSelect(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) {
  return gHooks.graphSelect ? gHooks.graphSelect(heap, o, code, rec) : Generic(heap, o, code, rec);
}
int32 ContainerSelect(ObjHeap heap, int32 o, int32 code, EditMsgRecord* rec) {
  return gHooks.containerSelect ? gHooks.containerSelect(heap, o, code, rec) : Generic(heap, o, code, rec);
}

// The slot's form: the action record carries the code, the edit record and
// the reply word.
template <int32 (*Method)(ObjHeap, int32, int32, EditMsgRecord*)>
int32 Slot(ObjHeap heap, int32 object, void* record) {
  auto* rec = static_cast<PanelActionRecord*>(record);
  if (!rec || !rec->result) return 0;
  *rec->result = rec->frame ? Method(heap, object, rec->action, static_cast<EditMsgRecord*>(rec->frame)) : 0;
  return 0;
}
template <int32 (*Method)(ObjHeap, int32, int32, EditMsgRecord*)>
ObjMethodAddr SlotAddr() {
  return reinterpret_cast<ObjMethodAddr>(&Slot<Method>);
}

// ---- Frames -------------------------------------------------------------------------

int32 NumericOFrameSelMethod(ObjHeap heap, int32 o, ObjHeap port, int32 offset, int32 flags) {
  return IsPart10StdImage(heap, o) ? 0 : DDOOFrameSelMethod(heap, o, port, offset, flags);
}
int32 StringOFrameSelMethod(ObjHeap heap, int32 o, ObjHeap port, int32 offset, int32 flags) {
  return IsPart11StdImage(heap, o) ? 0 : DDOOFrameSelMethod(heap, o, port, offset, flags);
}
int32 DCOOFrameSelMethod(ObjHeap heap, int32 dco, ObjHeap port, int32 offset, int32 flags) {
  const int32 control = WordOf(heap, dco, kPWDCODisplay);
  return IsObject(heap, control) ? OFrameSel(heap, control, port, offset, flags) : 0;
}
int32 BooleanOFrameSelMethod(ObjHeap heap, int32 o, ObjHeap port, int32 offset, int32 flags) {
  return DDOOFrameSelMethod(heap, o, port, offset, flags);
}
int32 GraphFrameSel(ObjHeap heap, int32 o, ObjHeap port, int32 offset, int32 flags) {
  return (gHooks.graphFrameSel ? gHooks.graphFrameSel : &DDOOFrameSelMethod)(heap, o, port, offset, flags);
}

}  // namespace

// ---- Entry points -----------------------------------------------------------------------

int32 OSelectCode(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec) {
  int32 reply = 0;
  PanelActionRecord action{rec, code, &reply};
  OSelect(heap, object, &action);
  return reply;
}

void ClearSelectionList(ObjHeap heap) {
  if (heap && *heap) FPEmptySelection(heap);
}

int32 SelectObject(ObjHeap heap, int32 object) {
  ClearSelectionList(heap);
  return FPSelectObject(heap, object) == kMemFullErr ? kReplyFail : 0;
}

Bool32 IsObjSelected(ObjHeap heap, int32 object) { return FPIsSelected(heap, object); }

Bool32 HasPasswordString(ObjHeap heap, int32 object) { return HasPassword(heap, object); }

void FPSelCopyEntry(ObjHeap src, int32 object, ObjHeap dst, int32 copy, Bool32 force) {
  const int32 from = FPKeyNavTable(src);
  const int32 slot = from ? OHListFind(src, from, object) : -1;
  const int32 to = slot >= 0 ? FPKeyNavTable(dst) : 0;
  if (!to || slot >= ObjListCount(dst, to)) return;
  if (const int32 held = OHListFind(dst, to, copy); held >= 0) ObjListSet(dst, to, held, 0);
  if (ObjListGet(dst, to, slot) == 0 || force) ObjListSet(dst, to, slot, copy);
}

int32 PasteTypedData(ObjHeap heap, int32 object, EditMsgRecord* rec) {
  const TypeDescriptor* dst = TypeOf(heap, object);
  const TypeDescriptor* src = rec->sourceHeap && rec->sourceType ? TypeIDToTD(rec->sourceHeap, rec->sourceType) : nullptr;
  if (!dst || !src || (TDCompare(dst, src) & kTDCompareMask)) {
    WBeep();
    return 0;
  }
  // A table answers a plain request with its current cell: its whole value
  // is the one its owner holds for it.
  const bool table = ObjClass(heap, object) == kClsTable;
  const int32 owner = table ? WordOf(heap, object, kPWOwner) : 0;
  if (table && !IsObject(heap, owner)) return kReplyFail;
  void* data = reinterpret_cast<void*>(
      uintptr_t(uInt32(OGetDataPtr(heap, table ? owner : object, table ? object : 0, kDataPtrPlain, nullptr))));
  if (!data || !rec->sourceData) return kReplyFail;
  if (CopyConvertData(src, dst, rec->sourceData, data) == kMemFullErr) return kReplyFail;
  if ((RangeWord(heap, object) & kRangeChecked) && SetRangeFlags(heap, object, data))
    return kFilterDataChecked | kReplyOutOfRange;
  return kFilterDataChecked;
}

int32 DDOOSelectMethod(ObjHeap heap, int32 object, int32 code, EditMsgRecord* rec) {
  return Generic(heap, object, code, rec);
}

int32 ScaleOSelectMethod(ObjHeap heap, int32 scale, int32 code, EditMsgRecord* rec) {
  if (!IsObject(heap, scale)) return 0;
  if (IsStringsCode(code)) {
    // A control's own scales are read with the control.
    const int16 id = PartIdOf(heap, scale);
    const bool controlScale = id == 17 || id == 18 || id == 19 || id == 68;
    if (controlScale && ClassIs(heap, Owner(heap, scale), kClsDataDisplayObject)) return 0;
    return VIStrImportObjText(heap, scale, code, rec);
  }
  return Generic(heap, scale, code, rec);
}

int32 DDOOFrameSelMethod(ObjHeap heap, int32 object, ObjHeap, int32 offset, int32 flags) {
  if (!(flags & kFrameFlag)) return 0;
  Rect r{};
  OGetRect(heap, object, &r, kFrameKind);
  Point by;
  std::memcpy(&by, &offset, sizeof by);
  r.top = int16(r.top + by.v);
  r.bottom = int16(r.bottom + by.v);
  r.left = int16(r.left + by.h);
  r.right = int16(r.right + by.h);
  DFrameRect(&r);
  return 0;
}

ObjMethodAddr EditSelectMethodFor(int32 cls) {
  switch (cls) {
    case kClsFrontPanel: return SlotAddr<&FrontPanelOSelectMethod>();
    case kClsFPDataController: return SlotAddr<&DCOOSelectMethod>();
    case kClsCosmetic: case kClsMultiCosmetic: case kClsBigMultiCosmetic: return SlotAddr<&CosmeticOSelectMethod>();
    case kClsLabel: case kClsSelLabel: return SlotAddr<&LabelOSelectMethod>();
    case kClsMultiLabel: case kClsBigMultiLabel: return SlotAddr<&MultiLabelOSelectMethod>();
    case kClsNumeric: return SlotAddr<&NumericOSelectMethod>();
    case kClsRing: return SlotAddr<&RingOSelectMethod>();
    case kClsColorRamp: return SlotAddr<&ColorRampOSelectMethod>();
    case kClsColorBox: return SlotAddr<&ColorBoxOSelectMethod>();
    case kClsSlide: return SlotAddr<&SlideOSelectMethod>();
    case kClsKnob: return SlotAddr<&KnobOSelectMethod>();
    case kClsString: return SlotAddr<&StringOSelectMethod>();
    case kClsTag: return SlotAddr<&TagOSelectMethod>();
    case kClsPath: return SlotAddr<&PathOSelectMethod>();
    case kClsBoolean: return SlotAddr<&BooleanOSelectMethod>();
    case kClsPicture: return SlotAddr<&PictureOSelectMethod>();
    case kClsOleVariant: return SlotAddr<&OleVariantOSelectMethod>();
    case kClsCluster: return SlotAddr<&ClusterOSelectMethod>();
    case kClsArray: return SlotAddr<&ArrayOSelectMethod>();
    case kClsTable: return SlotAddr<&TableSelect>();
    case kClsRefNum: return SlotAddr<&RefNumOSelectMethod>();
    case kClsTypeDefinition: return SlotAddr<&TypeDefOSelectMethod>();
    case kClsConnectorPane: return SlotAddr<&ConnPaneOSelectMethod>();
    case kClsGrouperObject: return SlotAddr<&GrouperOSelectMethod>();
    case kClsListbox: return SlotAddr<&ListboxSelect>();
    case kClsGraphChart: return SlotAddr<&GraphSelect>();
    case kClsContainer: return SlotAddr<&ContainerSelect>();
    case kClsDataDisplayObject: case kClsUserItem: return SlotAddr<&DDOOSelectMethod>();
    case kClsScale: return SlotAddr<&ScaleOSelectMethod>();
    default: return nullptr;
  }
}

ObjMethodAddr FrameSelMethodFor(int32 cls) {
  switch (cls) {
    case kClsNumeric: case kClsColorBox: case kClsRing: case kClsSlide: case kClsKnob: case kClsColorRamp:
      return reinterpret_cast<ObjMethodAddr>(&NumericOFrameSelMethod);
    case kClsString: case kClsTag: return reinterpret_cast<ObjMethodAddr>(&StringOFrameSelMethod);
    case kClsFPDataController: return reinterpret_cast<ObjMethodAddr>(&DCOOFrameSelMethod);
    case kClsBoolean: return reinterpret_cast<ObjMethodAddr>(&BooleanOFrameSelMethod);
    case kClsGraphChart: return reinterpret_cast<ObjMethodAddr>(&GraphFrameSel);
    case kClsCosmetic: case kClsLabel: case kClsMultiCosmetic: case kClsBigMultiCosmetic: case kClsMultiLabel:
    case kClsBigMultiLabel: case kClsSelLabel: case kClsConnectorPane:
      return reinterpret_cast<ObjMethodAddr>(&StopStep);
    case kClsDataDisplayObject: case kClsArray: case kClsCluster: case kClsRefNum: case kClsPath:
    case kClsTable: case kClsPicture: case kClsUserItem: case kClsTypeDefinition: case kClsOleVariant:
    case kClsContainer:
      return reinterpret_cast<ObjMethodAddr>(&DDOOFrameSelMethod);
    default: return nullptr;
  }
}

EditSelectHooks SetEditSelectHooks(const EditSelectHooks& hooks) {
  const EditSelectHooks former = gHooks;
  gHooks = hooks;
  return former;
}
