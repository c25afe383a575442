// Copying panel objects between object heaps.
//
// Each procedure starts alike: an object whose copy-forward word is set was
// copied in this pass already (answer 0); otherwise ObjCopyForward makes the
// byte copy, whose owner is cleared.  The procedure then repairs what a byte
// copy cannot carry: owned handles and images are duplicated or gain a use,
// sub-objects are copied and their offsets replaced, per-VI references (type
// IDs, data-space entries, link entries) are made anew, cached words are
// cleared, and the copy is moved.  A subclass runs its superclass's steps
// first; when they fail it clears the words it would have set (so a copy
// never keeps an offset or handle of the source) and answers their result.
//
// Sources are loaded panels, checked when they were read; counts are still
// checked against their blocks and handles before entries are read.
#include "panel/ocopy.h"

#include "panel/editmsg.h"

#include <cstring>
#include <utility>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datatype.h"
#include "engine/dmprog.h"
#include "engine/dsalloc.h"
#include "engine/link/linker.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/textrec.h"
#include "panel/fpinit.h"
#include "panel/objimage.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/osupport.h"

namespace {

const char kSourceFile[] = "ocopy";

constexpr int32 kCopyMemFull = kMemFullErr;
constexpr uInt32 kFlagCopied = 0x1000;        // bit 12: the copy is new and must be drawn
constexpr uInt32 kFlagGraphCopied = 0x100000;  // bit 20
constexpr uInt32 kFlagSlideCopied = 0x400000;  // bit 22
constexpr uInt32 kFlagTypeDefLinked = 0x40000; // bit 18
constexpr uInt32 kScaleTwoD = 0x10000, kScaleHorizontal = 0x200000;
constexpr int16 kPartOmitted = 66;
constexpr int32 kDescriptionWord = kObjDescription / 4;  // 7
constexpr int32 kRangeWord = 8;                          // its upper half is cleared
constexpr int32 kImageWord = kObjImage / 4;              // 6
constexpr int32 kTextWord = kObjText / 4;                // 9
constexpr int32 kItemListWord = kObjStringList / 4;      // 11
constexpr int32 kBigLabelCount = 48, kBigLabelItems = 52, kBigLabelItemSize = 16;
constexpr int32 kAnnexCrossWord = 6, kAnnexWord7 = 7;
constexpr int32 kDCOListWord = 2;
constexpr int32 kRingItemsWord = 15, kRingItemsTDWord = 16;
constexpr int32 kSlideWord13 = 13;
constexpr int32 kTableSubWord = 16, kTableFontsWord = 17;
constexpr int32 kListboxLabelWord = 12;
constexpr int32 kGraphHeldWord = 18;
constexpr int32 kScaleRectWord = 9;
// The scale's data record: nine doubles, six 16-bit integers, two 32-bit
// values and a handle.
constexpr int32 kScaleShorts = 72, kScaleRecordSize = 96;
constexpr int16 kKindTypeDefInline = 1, kKindControl = 6;

bool Live(ObjHeap heap, int32 object, int32 size) {
  return heap && *heap && object > 0 && OHIsUsedBlock(heap, object) && OHBlockSize(heap, object) >= size;
}
int32 W(ObjHeap heap, int32 object, int32 word) { return ObjWord(heap, object, word); }
void SetW(ObjHeap heap, int32 object, int32 word, int32 v) { ObjSetWord(heap, object, word, v); }
void SetFlags(ObjHeap heap, int32 object, uInt32 bits) { SetW(heap, object, 0, int32(uInt32(W(heap, object, 0)) | bits)); }
UHandle HandleAt(ObjHeap heap, int32 object, int32 word) {
  return reinterpret_cast<UHandle>(uintptr_t(uInt32(W(heap, object, word))));
}

// A list's count when its block holds that many entries; -1 otherwise.
int32 CheckedCount(ObjHeap heap, int32 list) {
  if (!Live(heap, list, 4)) return -1;
  const int32 n = int32(OHWord(heap, uInt32(list)));  // read raw: a stored count is checked here
  return n >= 0 && n <= (OHBlockSize(heap, list) - 4) / 4 ? n : -1;
}
void CutList(ObjHeap heap, int32 list, int32 count) {
  if (Live(heap, list, 4)) OHSetWord(heap, uInt32(list), uInt32(count));
}

VIRecord* OwnerRecord(ObjHeap heap) {
  const UHandle vi = PanelHeapOwner(heap);
  return vi && *vi ? VIRec(vi) : nullptr;
}

// One copy in progress.
struct Copy {
  ObjHeap src;
  int32 obj;
  ObjHeap dst;
  int32 by;
  int32 flags;
  int32 copy;

  int16 DV() const { return int16(uInt32(by) & 0xFFFF); }
  int16 DH() const { return int16(uInt32(by) >> 16); }
  Point At() const { return Point{DV(), DH()}; }
  // Moves the rectangle at that byte of the copy.
  void MoveRect(int32 at) const {
    Rect r;
    std::memcpy(&r, *dst + copy + at, sizeof r);
    DOffsetRect(&r, DH(), DV());
    std::memcpy(*dst + copy + at, &r, sizeof r);
  }
  int32 Size() const { return OHBlockSize(dst, copy); }
  // Clears the copy's words that it holds room for.
  void Clear(std::initializer_list<int32> words) const {
    for (int32 w : words)
      if (copy && 4 * w + 4 <= Size()) SetW(dst, copy, w, 0);
  }
};

Copy Args(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) { return Copy{src, obj, dst, by, flags, 0}; }
bool CopiedAlready(const Copy& c) { return OHBlockMarkWord(c.src, c.obj) != 0; }

// The source's list block in the word copied into the destination; 0 when
// the word names none or memory runs out (*missing then says so).
int32 CopyListBlock(const Copy& c, int32 word, bool* missing) {
  const int32 from = W(c.src, c.obj, word);
  const bool isList = Live(c.src, from, 4) && ObjClass(c.src, from) == kObjClassList;
  const int32 list = isList ? OHCopyBlock(c.src, from, c.dst) : 0;
  if (from && !list) {
    *missing = true;
    if (!isList) DBPrintf("OCopy: list 0x%lx of object 0x%lx is no list", long(from), long(c.obj));
  }
  return list;
}

// The common head: the byte copy, its owner cleared.  kCopyMemFull when no
// copy could be made.
int32 Head(Copy& c) {
  c.copy = ObjCopyForward(c.src, c.obj, c.dst);
  if (!c.copy) return kCopyMemFull;
  if (c.Size() >= 8) SetW(c.dst, c.copy, kPWOwner, 0);
  return 0;
}

// The objects whose copies are being made, outermost first: a stored
// sub-object that is one of them would make the copy contain itself (and
// every later walk of it loop), so it is refused; so is nesting deeper than
// panels go.
constexpr size_t kMaxNesting = 64;
std::vector<std::pair<ObjHeap, int32>> gInProgress;

struct Nesting {
  explicit Nesting(const Copy& c) { gInProgress.push_back({c.src, c.obj}); }
  ~Nesting() { gInProgress.pop_back(); }
};

bool WouldNest(const Copy& c, int32 held) {
  if (gInProgress.size() >= kMaxNesting) return true;
  for (const auto& [heap, obj] : gInProgress)
    if (heap == c.src && obj == held) return true;
  return held == c.obj;
}

// Copies one sub-object of the object being copied; its copy (0 for none)
// goes to *out with the new object as owner when setOwner.  A copy that
// succeeded and left no copy behind is an internal error: 2.
int32 CopyHeld(const Copy& c, int32 held, int32* out, bool setOwner = true) {
  *out = 0;
  if (!held) return 0;
  if (WouldNest(c, held)) {
    DBPrintf("OCopy: object 0x%lx holds itself or nests too deep", long(c.obj));
    return kCopyMemFull;
  }
  const Nesting nesting(c);
  // Both faults come from stored words: reported, never asserted on.
  if (!Live(c.src, held, 8)) {
    DBPrintf("OCopy: sub-object 0x%lx is no object", long(held));
    return kCopyMemFull;
  }
  int32 r = OCopy(c.src, held, c.dst, c.by, c.flags);
  if (r == kCopyLinkedTypeDef) r = 0;
  const int32 copied = OHBlockMarkWord(c.src, held);
  if (copied) {
    *out = copied;
    if (setOwner && OHBlockSize(c.dst, copied) >= 8) SetW(c.dst, copied, kPWOwner, c.copy);
  } else if (r == 0) {
    DBPrintf("OCopy: sub-object 0x%lx of class %ld was copied without a copy", long(held),
             long(ObjClass(c.src, held)));
    r = kCopyMemFull;
  }
  return r;
}

// Copies every entry of the copy's list in that word (a copy of the
// source's list, its entries still the source's offsets) and enters the
// copies.  A failure cuts the list after the failing entry when that entry
// has a copy, before it otherwise: no source offset stays in the list.
// Grouper lists stand a controller's display object in for the controller.
int32 CopyListEntries(const Copy& c, int32 word, bool setOwner, bool unwrapControllers = false) {
  const int32 list = W(c.dst, c.copy, word);
  const int32 n = CheckedCount(c.dst, list);
  if (n < 0) {
    CutList(c.dst, list, 0);
    return list ? kCopyMemFull : 0;
  }
  for (int32 i = 0; i < n; ++i) {
    int32 part = ObjListGet(c.dst, list, i);
    if (!part) continue;
    if (unwrapControllers && Live(c.src, part, kDCODisplay + 4) && ObjClass(c.src, part) == kClsFPDataController)
      part = W(c.src, part, kPWDCODisplay);
    int32 copied = 0;
    const int32 r = CopyHeld(c, part, &copied, setOwner);
    ObjListSet(c.dst, list, i, copied);
    if (r) {
      CutList(c.dst, list, copied ? i + 1 : i);
      return r;
    }
  }
  return 0;
}

// The copy takes the source's key-navigation slot in the destination,
// unless the slot is taken there and the caller did not ask to take it.
void TakeKeyNavSlot(const Copy& c) { FPSelCopyEntry(c.src, c.obj, c.dst, c.copy, c.flags & kCopyFlagTakeKeyNav); }

// A type ID of the destination's VI holding the descriptor the source's
// names; 0 when the stored one names none (reported) or memory runs out.
TypeID NewTypeRef(const Copy& c, int32 model) {
  if (model && !TypeIDEntryValue(c.src, TypeID(model), 0)) {
    DBPrintf("OCopy: type ID %ld of object 0x%lx names no descriptor", long(model), long(c.obj));
    return 0;
  }
  return AllocTypeID(c.dst, c.src, TypeID(model));
}

int32 QueueData(const Copy& c, uInt32 flags) {
  if (c.flags & kCopyFlagMarkData) flags |= kCopyDataProcMarked;
  return AddDDODataProc(c.dst, c.copy, c.src, c.obj, flags);
}

// ---- Data display objects ------------------------------------------------------------

// Steps shared by the display objects, after the head.
int32 DisplaySteps(Copy& c) {
  ObjHeap src = c.src, dst = c.dst;
  bool missing = false;
  UHandle description = HandleAt(src, c.obj, kDescriptionWord);
  if (description && (!AZIsHandle(description) || AZHandToHand(&description) != kNoErr)) {
    description = nullptr;
    missing = true;
  }
  const int32 list = CopyListBlock(c, kObjPartList / 4, &missing);
  const TypeID type = NewTypeRef(c, W(src, c.obj, kPWDDOTypeId));
  missing |= !type;
  SetW(dst, c.copy, kObjPartList / 4, list);
  SetW(dst, c.copy, kPWDDOTypeId, int32(type));
  SetW(dst, c.copy, kDescriptionWord, int32(uintptr_t(description)));
  SetW(dst, c.copy, kPWOwner, 0);
  SetW(dst, c.copy, kRangeWord, W(dst, c.copy, kRangeWord) & 0xFFFF);
  SetFlags(dst, c.copy, kFlagCopied);
  c.MoveRect(kObjBounds);
  if (missing) {
    CutList(dst, list, 0);
    return kCopyMemFull;
  }
  if (const int32 omitted = FindPart(src, c.obj, kPartOmitted, 0); omitted && CheckedCount(dst, list) > 0)
    ObjListRemove(dst, list, omitted);
  if (const int32 r = CopyListEntries(c, kObjPartList / 4, true)) return r;
  if (OHWord(src, kOHKind) == kPanelHeapKind) TakeKeyNavSlot(c);
  return QueueData(c, kCopyDataProcFlags);
}

int32 Display(Copy& c) {
  if (const int32 r = Head(c)) return r;
  if (c.Size() < 4 * (kPWDDOTypeId + 1)) {
    c.Clear({kObjPartList / 4});
    return kCopyMemFull;
  }
  return DisplaySteps(c);
}

int32 DisplayCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  return CopiedAlready(c) ? 0 : Display(c);
}

// A display object whose copy then has words cleared.
template <int32 A, int32 B>
int32 DisplayClearing(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  const int32 r = Display(c);
  c.Clear({A, B});
  return r;
}

int32 Numeric(Copy& c) {
  const int32 r = Display(c);
  c.Clear({11, 12});
  return r;
}

int32 NumericCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  return CopiedAlready(c) ? 0 : Numeric(c);
}

// The data-space entry named by the object's pair of words (data, then
// descriptor offset), when it holds data of the record's descriptor.
UPtr RecordAt(ObjHeap heap, int32 object, int32 word, const TypeDescriptor* record) {
  const TypeDescriptor* entry = PanelEntryTD(heap, W(heap, object, word), W(heap, object, word + 1), DataSize(record));
  const VIRecord* vi = entry ? OwnerRecord(heap) : nullptr;
  if (!vi || TDCompare(entry, record) != 0) return nullptr;
  return *vi->dataSpace + W(heap, object, word);
}

// Copies the data record the source names at the word to the one the copy
// names, with the descriptor the builder makes (disposed here).  A source
// whose words name no such record (reported) leaves the copy's new record
// as it was made.
MgErr CopyRecord(const Copy& c, int32 word, UHandle td) {
  if (!td) return kCopyMemFull;
  const TypeDescriptor* d = reinterpret_cast<const TypeDescriptor*>(*td);
  UPtr from = RecordAt(c.src, c.obj, word, d);
  UPtr to = RecordAt(c.dst, c.copy, word, d);
  MgErr err = from && to ? CopyData(d, from, to) : kNoErr;
  if (!to) err = kCopyMemFull;
  AZDisposeHandle(td);
  return err;
}

int32 RingCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  const int32 r = Numeric(c);
  c.Clear({kRingItemsWord, kRingItemsTDWord});
  if (r) return r;
  if (const MgErr err = AllocObjDataSpace(dst, c.copy)) return err;
  return CopyRecord(c, kRingItemsWord, RingItemsTD());
}

int32 SlideCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  const int32 r = Numeric(c);
  c.Clear({kSlideWord13});
  if (!r) SetFlags(dst, c.copy, kFlagSlideCopied);
  return r;
}

// The object held in the word (an element, a sub-object) copied and entered.
int32 CopyHeldWord(const Copy& c, int32 word) {
  int32 copied = 0;
  const int32 r = CopyHeld(c, W(c.src, c.obj, word), &copied);
  SetW(c.dst, c.copy, word, copied);
  return r;
}

int32 ArrayCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  int32 r = Display(c);
  c.Clear({kPWArrayElement, kPWArrayPrivate, kPWArrayPrivateTD});
  if (r) return r;
  if ((r = CopyHeldWord(c, kPWArrayElement))) return r;
  if (W(src, obj, kPWArrayElement) && !W(dst, c.copy, kPWArrayElement)) return kCopyMemFull;
  return AllocObjDataSpace(dst, c.copy);
}

int32 ClusterCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  const int32 r = Display(c);
  c.Clear({10, 11});
  if (r) return r;
  for (int32 word : {10, 11}) {
    bool missing = false;
    SetW(dst, c.copy, word, CopyListBlock(c, word, &missing));
    if (missing) return kCopyMemFull;
  }
  for (int32 word : {10, 11})
    if (const int32 e = CopyListEntries(c, word, true)) return e;
  return 0;
}

int32 RefNumCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  const int32 r = Display(c);
  c.Clear({kPWRefNumContained});
  return r ? r : CopyHeldWord(c, kPWRefNumContained);
}

// A font table: a count, then fonts; each font of the copy gains a use, so
// that disposing both tables releases each use once.
MgErr DuplicateFontTable(UHandle* fonts) {
  if (!*fonts) return kNoErr;
  if (!AZIsHandle(*fonts) || AZGetHandleSize(*fonts) < 4) return kArgErr;
  if (const MgErr err = AZHandToHand(fonts)) {
    *fonts = nullptr;
    return err;
  }
  const int32 n = int32(GetNative32(**fonts));
  const int32 room = (AZGetHandleSize(*fonts) - 4) / 4;
  if (n < 0 || n > room) PutNative32(**fonts, 0);
  for (int32 i = 0; i < n && i < room; ++i) TAddFontReference(int32(GetNative32(**fonts + 4 + 4 * i)));
  return kNoErr;
}

int32 TableCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  int32 r = Display(c);
  c.Clear({kTableSubWord, kTableFontsWord, kPWTableData, kPWTableData + 1});
  if (r) return r;
  if ((r = CopyHeldWord(c, kTableSubWord))) return r;
  if (W(src, obj, kTableSubWord) && !W(dst, c.copy, kTableSubWord)) return kCopyMemFull;
  UHandle fonts = HandleAt(src, obj, kTableFontsWord);
  r = DuplicateFontTable(&fonts);
  SetW(dst, c.copy, kTableFontsWord, int32(uintptr_t(fonts)));
  return r;
}

int32 ListboxCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  const int32 r = Display(c);
  c.Clear({kListboxLabelWord, 10, 11});
  return r ? r : CopyHeldWord(c, kListboxLabelWord);
}

int32 GraphCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  int32 r = Display(c);
  c.Clear({kPWGraphChartType, kGraphHeldWord, 11, 12, 13, 14, 15, 17, 19});
  if (r) return r;
  const TypeID type = NewTypeRef(c, W(src, obj, kPWGraphChartType));
  SetW(dst, c.copy, kPWGraphChartType, int32(type));
  if ((r = CopyHeldWord(c, kGraphHeldWord))) return r;
  if (!type || (W(src, obj, kGraphHeldWord) && !W(dst, c.copy, kGraphHeldWord))) return kCopyMemFull;
  SetFlags(dst, c.copy, kFlagGraphCopied);
  return 0;
}

// The link name of a type definition: the VI it is linked to, else the
// name the source VI's link table records for the object.
bool TypeDefLinkName(ObjHeap heap, int32 def, PStr name) {
  name[0] = 0;
  if (const UHandle vi = TypeDefGetLink(heap, def); vi && *vi) {
    std::memcpy(name, VIRec(vi)->name, size_t(VIRec(vi)->name[0]) + 1);
    return true;
  }
  const VIRecord* owner = OwnerRecord(heap);
  return owner && GetLinkItemName(owner->name, OHWord(heap, kOHKind), def, FourCC("QXCC"), name) && name[0];
}

int32 TypeDefCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  VIRecord* to = OwnerRecord(dst);
  if (to && to->viKind == kKindTypeDefInline) {
    // The definition stands for its control: references to it find the
    // control's copy.
    const int32 inner = FindPart(src, obj, kPartIdTypeDefControl, 0);
    if (!inner) return 0;
    if (WouldNest(c, inner)) return kCopyMemFull;
    const Nesting nesting(c);
    const int32 r = OCopy(src, inner, dst, by, flags);
    const int32 copied = OHBlockMarkWord(src, inner);
    if (copied) OHSetBlockMarkWord(src, obj, copied);
    else if (!r) {
      DBPrintf("OCopy: a type definition's control was copied without a copy");
      return kCopyMemFull;
    }
    return r;
  }
  if (const int32 r = Display(c)) return r;
  const int16 kind = to ? to->viKind : -1;
  if (kind != 2 && kind != 3 && kind != 4 && kind != kKindControl) {
    DBAssert(kSourceFile, __LINE__, "OCopy: a type definition copied into a VI of no such kind");
    return 0;
  }
  uChar name[256];
  if (!TypeDefLinkName(src, obj, name)) return 0;
  // A control VI refers to definitions as controls, any other VI as VIs.
  const uInt32 refClass = kind == kKindControl ? FourCC("QXCC") : FourCC("QXIN");
  AddExtern(PanelHeapOwner(dst), -1, to->name, refClass, name, nullptr, refClass, nullptr, nullptr);
  AddExtern(dst, c.copy, to->name, OHWord(dst, kOHKind), name, nullptr, refClass, nullptr, nullptr);
  return uInt32(W(dst, c.copy, 0)) & kFlagTypeDefLinked ? kCopyLinkedTypeDef : 0;
}

// ---- Groupers, scales, controllers -----------------------------------------------------

// The head with the part list copied, owner 0, marked and moved.
int32 HeadWithParts(Copy& c) {
  if (const int32 r = Head(c)) return r;
  if (c.Size() < kObjPartList + 4) return kCopyMemFull;
  bool missing = false;
  SetW(c.dst, c.copy, kObjPartList / 4, CopyListBlock(c, kObjPartList / 4, &missing));
  SetW(c.dst, c.copy, kPWOwner, 0);
  SetFlags(c.dst, c.copy, kFlagCopied);
  return missing ? kCopyMemFull : 0;
}

int32 GrouperCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  if (const int32 r = HeadWithParts(c)) return r;
  c.MoveRect(kObjBounds);
  return CopyListEntries(c, kObjPartList / 4, true, true);
}

int32 ScaleCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  int32 r = HeadWithParts(c);
  if (!r && c.Size() < 4 * (kScaleRectWord + 2)) {
    CutList(dst, W(dst, c.copy, kObjPartList / 4), 0);
    r = kCopyMemFull;
  }
  if (!r) r = CopyListEntries(c, kObjPartList / 4, true);
  if (!r) {
    c.Clear({kPWScaleData, kPWScaleData + 1});
    r = AllocObjDataSpace(dst, c.copy);
  }
  if (!r) r = CopyRecord(c, kPWScaleData, ScaleCtlDataTD());
  if (r) {
    c.Clear({kPWScaleData, kPWScaleData + 1});
    return r;
  }
  // The record's positions follow the moved bounds.
  UHandle td = ScaleCtlDataTD();
  UPtr rec = td ? RecordAt(dst, c.copy, kPWScaleData, reinterpret_cast<const TypeDescriptor*>(*td)) : nullptr;
  if (td) AZDisposeHandle(td);
  static_assert(kScaleShorts + 12 <= kScaleRecordSize, "the scale record's 16-bit values");
  if (rec) {
    const uInt32 f = uInt32(W(dst, c.copy, 0));
    auto grow = [&](int32 index, int32 d) {
      UPtr p = rec + kScaleShorts + 2 * index;
      PutNative16(p, uInt16(int16(GetNative16(p)) + d));
    };
    if (f & kScaleTwoD) {
      grow(0, c.DV()), grow(1, c.DH());
    } else {
      const int32 d = f & kScaleHorizontal ? c.DH() : c.DV();
      grow(3, d), grow(4, d);
    }
  }
  c.MoveRect(kObjBounds);
  c.MoveRect(4 * kScaleRectWord);
  return 0;
}

int32 ControllerCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  if (const int32 r = Head(c)) return r;
  if (c.Size() < 4 * (kPWDCOTypeId + 1)) return kCopyMemFull;
  const TypeID type = NewTypeRef(c, W(src, obj, kPWDCOTypeId));
  SetW(dst, c.copy, kPWDCOTypeId, int32(type));
  bool missing = false;
  SetW(dst, c.copy, kDCOListWord, CopyListBlock(c, kDCOListWord, &missing));
  if (!type || missing) return kCopyMemFull;
  if (const int32 r = CopyListEntries(c, kDCOListWord, false)) return r;
  return QueueData(c, kCopyDataProcFlags);
}

int32 AnnexCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  if (const int32 r = Head(c)) return r;
  c.Clear({kAnnexCrossWord, kAnnexWord7});
  const int32 size = ClassRecord(kClsCrossList)->instanceSize;
  const int32 cross = OHNewBlock(dst, size, kClsCrossList);
  if (!cross) return kCopyMemFull;
  std::memset(*dst + cross, 0, size_t(size));
  SetW(dst, c.copy, kAnnexCrossWord, cross);
  return 0;
}

int32 WizardDataCopy(ObjHeap, int32, ObjHeap, int32, int32) { return 0; }

// ---- Cosmetics and labels --------------------------------------------------------------

// A loaded image gains a use; a built-in picture that is its object's own
// copy is copied again for the copy (*ref the copy's reference); other
// built-in pictures and none have no use to count.
int32 UseImage(int32* ref) {
  if (*ref >= kObjImageHeld) return FPCheckImageRef(*ref);
  return CopyBuiltInPict(ref) ? 0 : kCopyMemFull;
}

int32 Cosmetic(Copy& c) {
  if (const int32 r = Head(c)) return r;
  if (c.Size() < kObjBounds + 12) return kCopyMemFull;
  SetFlags(c.dst, c.copy, kFlagCopied);
  int32 ref = W(c.src, c.obj, kImageWord);
  if (const int32 r = UseImage(&ref)) {
    SetW(c.dst, c.copy, kImageWord, 0);
    return r;
  }
  SetW(c.dst, c.copy, kImageWord, ref);
  Rect was;
  std::memcpy(&was, *c.dst + c.copy + kObjBounds, sizeof was);
  c.MoveRect(kObjBounds);
  FPDrawImageAt(&was, ref, c.At());
  return 0;
}

int32 CosmeticCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  return CopiedAlready(c) ? 0 : Cosmetic(c);
}

// Multi-cosmetics: image entries of `entry` bytes, the reference at refAt.
int32 MultiCosmetic(Copy& c, int32 entry, int32 refAt) {
  if (const int32 r = Head(c)) return r;
  if (c.Size() < kObjImageList) return kCopyMemFull;
  SetFlags(c.dst, c.copy, kFlagCopied);
  int32 count = ObjInt16(c.dst, c.copy, kObjImageCount);
  if (count < 0 || count > (c.Size() - kObjImageList) / entry) count = 0;
  int32 r = 0;
  for (int32 i = 0; i < count; ++i) {
    const int32 word = (kObjImageList + i * entry + refAt) / 4;
    int32 ref = W(c.dst, c.copy, word);
    if ((r = UseImage(&ref))) {
      count = i;
      break;
    }
    SetW(c.dst, c.copy, word, ref);
  }
  int32 current = ObjInt16(c.dst, c.copy, kObjImageIndex);
  if (current < 0 || current >= count) current = 0;
  PutNative16(*c.dst + c.copy + kObjImageCount, uInt16(count));
  PutNative16(*c.dst + c.copy + kObjImageIndex, uInt16(current));
  const int32 at = kObjImageList + current * entry;
  SetW(c.dst, c.copy, kImageWord, count ? W(c.dst, c.copy, (at + refAt) / 4) : 0);
  if (entry == kBigImageEntry && count) std::memmove(*c.dst + c.copy + kObjBounds, *c.dst + c.copy + at, sizeof(Rect));
  OOffset(c.dst, c.copy, c.At());
  return r;
}

int32 MultiCosmeticCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  return CopiedAlready(c) ? 0 : MultiCosmetic(c, 4, 0);
}

int32 BigMultiCosmeticCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  return CopiedAlready(c) ? 0 : MultiCosmetic(c, kBigImageEntry, kBigImageRef);
}

int32 Label(Copy& c) {
  int32 r = Cosmetic(c);
  if (c.copy && c.Size() < 4 * (kTextWord + 1)) r = r ? r : kCopyMemFull;
  if (r) {
    c.Clear({kTextWord});
    return r;
  }
  TRecord text = reinterpret_cast<TRecord>(HandleAt(c.src, c.obj, kTextWord));
  TRecord dup = text ? TDuplicate(text, 0) : nullptr;
  SetW(c.dst, c.copy, kTextWord, int32(uintptr_t(dup)));
  if (text && !dup) return kCopyMemFull;
  if (dup) TOffsetRect(dup, c.At());
  return 0;
}

int32 LabelCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  return CopiedAlready(c) ? 0 : Label(c);
}

int32 MultiLabel(Copy& c) {
  int32 r = Label(c);
  if (c.copy && c.Size() < 4 * (kItemListWord + 1)) r = r ? r : kCopyMemFull;
  if (r) {
    c.Clear({kItemListWord});
    return r;
  }
  UHandle items = HandleAt(c.src, c.obj, kItemListWord);
  if (items && (!AZIsHandle(items) || AZHandToHand(&items) != kNoErr)) {
    SetW(c.dst, c.copy, kItemListWord, 0);
    return kCopyMemFull;
  }
  SetW(c.dst, c.copy, kItemListWord, int32(uintptr_t(items)));
  return 0;
}

int32 MultiLabelCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  return CopiedAlready(c) ? 0 : MultiLabel(c);
}

int32 BigMultiLabelCopy(ObjHeap src, int32 obj, ObjHeap dst, int32 by, int32 flags) {
  Copy c = Args(src, obj, dst, by, flags);
  if (CopiedAlready(c)) return 0;
  const int32 r = MultiLabel(c);
  if (!c.copy || c.Size() < kBigLabelItems) return r ? r : kCopyMemFull;
  int32 count = ObjInt16(dst, c.copy, kBigLabelCount);
  if (r || count < 0 || count > (c.Size() - kBigLabelItems) / kBigLabelItemSize) count = 0;
  PutNative16(*dst + c.copy + kBigLabelCount, uInt16(count));
  for (int32 i = 0; i < count; ++i) c.MoveRect(kBigLabelItems + i * kBigLabelItemSize);
  return r;
}

template <typename M>
ObjMethodAddr Addr(M m) {
  return reinterpret_cast<ObjMethodAddr>(m);
}

}  // namespace

int32 DDOOCopyMethod(ObjHeap src, int32 object, ObjHeap dst, int32 offset, int32 flags) {
  return DisplayCopy(src, object, dst, offset, flags);
}

// By id: the class table asks while it is being built.
ObjMethodAddr OCopyMethodFor(int32 cls) {
  switch (cls) {
    case kClsDataDisplayObject: case kClsBoolean: case kClsString: case kClsPath: case kClsUserItem: case kClsTag:
    case kClsOleVariant:
      return Addr(&DisplayCopy);
    case kClsNumeric: case kClsColorBox: case kClsColorRamp: return Addr(&NumericCopy);
    case kClsPicture: return Addr(&DisplayClearing<10, 10>);
    case kClsRing: return Addr(&RingCopy);
    case kClsSlide: case kClsKnob: return Addr(&SlideCopy);
    case kClsArray: return Addr(&ArrayCopy);
    case kClsCluster: return Addr(&ClusterCopy);
    case kClsTable: return Addr(&TableCopy);
    case kClsListbox: return Addr(&ListboxCopy);
    case kClsGraphChart: return Addr(&GraphCopy);
    case kClsRefNum: return Addr(&RefNumCopy);
    case kClsTypeDefinition: return Addr(&TypeDefCopy);
    case kClsGrouperObject: return Addr(&GrouperCopy);
    case kClsScale: return Addr(&ScaleCopy);
    case kClsDataController: return Addr(&ControllerCopy);
    case kClsAnnex: return Addr(&AnnexCopy);
    case kClsWizardData: return Addr(&WizardDataCopy);
    case kClsCosmetic: return Addr(&CosmeticCopy);
    case kClsMultiCosmetic: return Addr(&MultiCosmeticCopy);
    case kClsBigMultiCosmetic: return Addr(&BigMultiCosmeticCopy);
    case kClsLabel: case kClsSelLabel: return Addr(&LabelCopy);
    case kClsMultiLabel: return Addr(&MultiLabelCopy);
    case kClsBigMultiLabel: return Addr(&BigMultiLabelCopy);
    default: return nullptr;
  }
}

int32 FPKeyNavTable(ObjHeap heap) {
  if (!heap || !*heap || OHWord(heap, kOHKind) != kPanelHeapKind) return 0;
  const int32 ext = int32(OHWord(heap, kOHExtension));
  const int32 root = Live(heap, ext, kHeapExtRoot + 4) ? int32(OHWord(heap, uInt32(ext + kHeapExtRoot))) : 0;
  if (!Live(heap, root, kRootKeyNav + 4)) return 0;
  const int32 nav = int32(OHWord(heap, uInt32(root + kRootKeyNav)));
  const int32 n = CheckedCount(heap, nav);
  return n > 0 && n <= kKeyNavSlots ? nav : 0;
}
