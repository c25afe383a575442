#include "panel/osupport.h"
#include "panel/transact.h"

#include <algorithm>
#include <cstring>

#include "engine/datatype.h"
#include "engine/exec/runcmd.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/icursor.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/thread.h"
#include "mgsource/printf.h"
#include "mgsource/walert.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textdraw.h"
#include "mgsource/window/textedit.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/textparts.h"
#include "rtlib/objunits.h"
#include "rtlib/panellocators.h"

namespace {

constexpr int32 kLabelPart = 16;
constexpr int32 kClsControlOf19 = 19;  // controls a display object as class 18 does
constexpr int32 kRingFlagsWord = 15;    // the data-space offset of the ring's item flags

int16 PartIdOf(ObjHeap heap, int32 part) { return ObjInt16(heap, part, kObjPartId); }

bool Hidden(ObjHeap heap, int32 part) { return (uInt32(ObjWord(heap, part, 0)) & kObjFlagHidden) != 0; }

// ---- Rings ----------------------------------------------------------------------------

// The size of a handle of either zone, -1 for one of neither.
int32 AnyHandleSize(const void* h) {
  if (DSCheckHandle(h) == kNoErr) return DSGetHandleSize(UHandle(const_cast<void*>(h)));
  if (AZCheckHandle(h) == kNoErr) return AZGetHandleSize(UHandle(const_cast<void*>(h)));
  return -1;
}
MgErr AnySetHandleSize(UHandle h, int32 size) {
  return DSCheckHandle(h) == kNoErr ? DSSetHandleSize(h, size) : AZSetHandleSize(h, size);
}

// The item texts of a text part (a ring's part 12) when the handle is ours and its
// strings fit it; null otherwise (a list that does not fit is reported).
CPStrHandle PartTexts(ObjHeap heap, int32 part) {
  if (!part || OHBlockSize(heap, part) < kRingTextWord + 4) return nullptr;
  auto h = reinterpret_cast<CPStrHandle>(uintptr_t(OHWord(heap, uInt32(part + kRingTextWord))));
  const int32 size = h ? AnyHandleSize(h) : -1;
  if (size < 0) return nullptr;
  const UPtr p = reinterpret_cast<UPtr>(*h);
  const int32 n = size >= 4 ? int32(GetNative32(p)) : -1;
  int64 at = 4;
  int32 walked = 0;
  for (; n >= 0 && walked < n && at < size; ++walked) at += 1 + p[at];
  if (n < 0 || walked != n || at > size) {
    QX_ASSERT_MSG(false, "ring texts do not fit their handle");
    return nullptr;
  }
  return h;
}

CPStrHandle RingTexts(ObjHeap heap, int32 ring, int32* textPart) {
  const int32 part = FindPart(heap, ring, kRingTextPart, 0);
  if (textPart) *textPart = part;
  return PartTexts(heap, part);
}

int32 TextCount(CPStrHandle h) { return h ? int32(GetNative32(reinterpret_cast<UPtr>(*h))) : 0; }

// The table part when its count fits its block (reported otherwise: no table).
int32 CheckedTable(ObjHeap heap, int32 part) {
  if (!part) return 0;
  const int32 n = OHBlockSize(heap, part) >= kRingItemsAt ? ObjInt16(heap, part, kRingItemCountAt) : -1;
  if (n < 0 ||
      kRingItemsAt + kRingItemSize * n > OHBlockSize(heap, part)) {
    QX_ASSERT_MSG(false, "ring item table does not fit its block");
    return 0;
  }
  return part;
}

int32 RingTable(ObjHeap heap, int32 ring) { return CheckedTable(heap, FindPart(heap, ring, kRingTablePart, 0)); }

// The cell of the ring's item-flags array in the data space, null when the
// ring has none.
UPtr FlagsCell(ObjHeap heap, int32 ring) {
  if (OHBlockSize(heap, ring) < 4 * (kRingFlagsWord + 1)) return nullptr;
  const int32 at = ObjWord(heap, ring, kRingFlagsWord);
  return at ? FPHeapDataPtr(heap, at) : nullptr;
}

UHandle FlagsArray(UPtr cell) {
  UHandle a = cell ? reinterpret_cast<UHandle>(uintptr_t(GetNative32(cell))) : nullptr;
  if (!a || DSCheckHandle(a) != kNoErr) return nullptr;
  const int32 n = int32(GetNative32(*a));
  return n >= 0 && int64(n) * 4 + 4 <= DSGetHandleSize(a) ? a : nullptr;
}

MgErr InsertFlag(ObjHeap heap, int32 ring, int32 index, Bool32 disabled) {
  UPtr cell = FlagsCell(heap, ring);
  if (!cell) return kNoErr;
  UHandle a = FlagsArray(cell);
  if (!a) {
    if (GetNative32(cell)) return kNoErr;  // a word that names no array of ours
    if (!(a = DSNewHClr(4))) return kMemFullErr;
    if (!(cell = FlagsCell(heap, ring))) {
      DSDisposeHandle(a);
      return kNoErr;
    }
    PutNative32(cell, uInt32(uintptr_t(a)));
  }
  const int32 n = int32(GetNative32(*a));
  if (DSSetHandleSize(a, 4 + 4 * (n + 1)) != kNoErr) return kMemFullErr;
  if (index < 0) index = 0;
  if (index > n) index = n;
  std::memmove(*a + 4 + 4 * (index + 1), *a + 4 + 4 * index, size_t(4 * (n - index)));
  PutNative32(*a + 4 + 4 * index, disabled ? 1u : 0u);
  PutNative32(*a, uInt32(n + 1));
  return kNoErr;
}

void RemoveFlag(ObjHeap heap, int32 ring, int32 index) {
  UHandle a = FlagsArray(FlagsCell(heap, ring));
  if (!a) return;
  const int32 n = int32(GetNative32(*a));
  if (index < 0 || index >= n) return;
  std::memmove(*a + 4 + 4 * index, *a + 4 + 4 * (index + 1), size_t(4 * (n - 1 - index)));
  PutNative32(*a, uInt32(n - 1));
}

int32 FlagOf(ObjHeap heap, int32 ring, int32 index) {
  UHandle a = FlagsArray(FlagsCell(heap, ring));
  return a && index >= 0 && index < int32(GetNative32(*a)) ? int32(GetNative32(*a + 4 + 4 * index)) : 0;
}

// ---- Tracking -------------------------------------------------------------------------

ObjHeap gTrackHeap = nullptr;
int32 gTrackObject = 0;
int32 gTrackState = 0;
ThMutex gBoolMutex = nullptr;
ObjHeap gBoolHeap = nullptr;  // the tracked Boolean: under gBoolMutex
int32 gBoolObject = 0;

void SetTrackedBool(ObjHeap heap, int32 object) {
  if (gBoolMutex) ThMutexAcquire(gBoolMutex);
  gBoolHeap = heap;
  gBoolObject = object;
  if (gBoolMutex) ThMutexRelease(gBoolMutex);
}

// ---- Cursors and pictures -------------------------------------------------------------

RsrcFileRef gCursorFile = 0;
int32 gCursorImages[kCursorCount] = {};
int32 gBusyState = 0;
uInt32 gBusyDeadline = 0;
uInt32 gIntervalStart = 0;

bool Passed(uInt32 deadline) { return int32(MilliSecs() - deadline) >= 0; }

struct PictTable {
  int32 first, last;
  int32* entries;
};
int32 gPicts1[383 - 9 + 1], gPicts2[2093 - 2000 + 1], gPicts3[7028 - 7000 + 1];
const PictTable kPictTables[] = {{9, 383, gPicts1}, {2000, 2093, gPicts2}, {7000, 7028, gPicts3}};

int32* PictSlot(int32 index) {
  for (const PictTable& t : kPictTables)
    if (index >= t.first && index <= t.last) return &t.entries[index - t.first];
  return nullptr;
}

}  // namespace

// ---- Parts ----------------------------------------------------------------------------

int32 SetPartIdVisible(ObjHeap heap, int32 object, int32 partId, Bool32 show) {
  if (!heap || !*heap || !object) return 0;
  int32 changed = 0;
  ForEachPart(heap, object, [&](int32 part) {
    if (PartIdOf(heap, part) != partId || Hidden(heap, part) == !show) return;
    const uInt32 flags = uInt32(ObjWord(heap, part, 0));
    if (show) {
      ObjSetWord(heap, part, 0, int32(flags & ~kObjFlagHidden));
      OInval(heap, part, 0);
    } else {
      OInval(heap, part, 0);
      ObjSetWord(heap, part, 0, int32(flags | kObjFlagHidden));
    }
    changed = 1;
  });
  return changed;
}

int32 PartIdAllHidden(ObjHeap heap, int32 object, int32 partId) {
  if (!heap || !*heap || !object) return 1;
  int32 hidden = 1;
  ForEachPart(heap, object, [&](int32 part) {
    if (PartIdOf(heap, part) == partId && !Hidden(heap, part)) hidden = 0;
  });
  return hidden;
}

int32 ObjHasPartKey(ObjHeap heap, int32 object, int32 key) {
  if (!heap || !*heap || !object || !key) return 0;
  int32 has = 0;
  ForEachPart(heap, object, [&](int32 part) {
    if (int32(uInt16(ObjInt16(heap, part, kObjPartKey))) == key) has = 1;
  });
  return has;
}

int32 IsActiveElementPart(ObjHeap heap, int32 object, int32 part) {
  if (!heap || !*heap || !object || !part) return 0;
  const bool indicator = (uInt32(ObjWord(heap, object, 0)) & kObjFlagIndicator) != 0;
  const bool active = OHBlockSize(heap, object) >= 4 * (kPWActiveElement + 1) &&
                      ObjInt16(heap, part, kObjPartOrder) == ObjWord(heap, object, kPWActiveElement);
  const bool knob = ObjClass(heap, object) == kClsKnob;
  // A knob's part is active unless the object is a control's cluster and
  // the part of its active element; another's only as a control's cluster's
  // part of another element.  The type is looked up only when it decides.
  if (knob ? indicator || !active : indicator || active) return knob ? 1 : 0;
  const TypeID id = TypeID(ObjWord(heap, object, kPWDDOTypeId));
  const TypeDescriptor* td = id ? TypeIDToTD(heap, id) : nullptr;
  const bool cluster = td && td->code == kTDCluster;
  return knob != cluster ? 1 : 0;
}

void PStrTrimLeading(PStr s) {
  if (!s) return;
  auto blank = [](uChar c) { return c == ' ' || c == 8 || c == 12 || c == 10 || c == 13 || c == 9; };
  int32 n = s[0], from = 1;
  while (from <= n && blank(s[from])) ++from;
  while (n >= from && blank(s[n])) --n;
  const int32 len = n - from + 1;
  std::memmove(s + 1, s + from, size_t(len));
  s[0] = uChar(len);
}

void PartTextToPStr(ObjHeap heap, int32 part, PStr buffer) {
  if (!buffer) return;
  buffer[0] = 0;
  TRecord text = PartTextRecord(heap, part);
  if (!text) return;
  UHandle bytes = TGetText(text);
  const int32 n = std::min<int32>(int32(GetNative32(*bytes)), 255);
  std::memcpy(buffer + 1, *bytes + 4, size_t(n));
  buffer[0] = uChar(n);
}

PStr GetCtrlLabel(ObjHeap heap, int32 control) {
  static uChar label[256];
  label[0] = 0;
  if (!heap || !*heap || !control) return label;
  const int32 cls = ObjClass(heap, control);
  if ((cls == kClsFPDataController || cls == kClsControlOf19) && OHBlockSize(heap, control) >= 4 * (kPWDCODisplay + 1))
    control = ObjWord(heap, control, kPWDCODisplay);
  if (!control || !OHIsUsedBlock(heap, control) || ClassRecord(ObjClass(heap, control))->categoryB != kCatDDO) {
    QX_ASSERT_MSG(false, "GetCtrlLabel: not a data display object");
    return label;
  }
  if (const int32 part = FindPart(heap, control, kLabelPart, 0)) {
    PartTextToPStr(heap, part, label);
    PStrTrimLeading(label);
  }
  return label;
}

// ---- Rings ----------------------------------------------------------------------------

int32 RingItemCountChecked(ObjHeap heap, int32 ring) {
  if (CPStrHandle texts = RingTexts(heap, ring, nullptr)) return TextCount(texts);
  const int32 table = RingTable(heap, ring);
  return table ? ObjInt16(heap, table, kRingItemCountAt) : 0;
}

void RingItemCounts(ObjHeap heap, int32 ring, int32* texts, int32* table) {
  *texts = TextCount(RingTexts(heap, ring, nullptr));
  const int32 t = RingTable(heap, ring);
  *table = t ? ObjInt16(heap, t, kRingItemCountAt) : 0;
}

MgErr RingInsertItem(ObjHeap heap, int32 ring, ConstPStr text, const void* record, int32 index, Bool32 disabled) {
  if (!heap || !*heap || !ring) return kArgErr;
  int32 textPart = 0;
  CPStrHandle texts = RingTexts(heap, ring, &textPart);
  int32 table = RingTable(heap, ring);
  if (!texts && !table) {
    QX_ASSERT_MSG(false, "ring without item texts or item table");
    return kArgErr;
  }
  if (index < 0) index = 0;
  const int32 n = texts ? TextCount(texts) : ObjInt16(heap, table, kRingItemCountAt);
  if (index > n) index = n;
  const uChar empty[1] = {0};
  if (texts && CPStrInsert(texts, text ? text : empty, index) != kNoErr) return kMemFullErr;
  if (table) {
    if (ResizePartObject(heap, ring, &table, index) != kNoErr) {
      if (texts) CPStrRemove(texts, index);
      return kMemFullErr;
    }
    if (record) {
      std::memcpy(*heap + table + kRingItemsAt + kRingItemSize * index, record, kRingItemSize);
      PlaceRingItems(heap, ring, table);
    }
  }
  return InsertFlag(heap, ring, index, disabled);
}

MgErr RingRemoveItem(ObjHeap heap, int32 ring, int32 index) {
  if (!heap || !*heap || !ring) return kArgErr;
  CPStrHandle texts = RingTexts(heap, ring, nullptr);
  int32 table = RingTable(heap, ring);
  const int32 n = texts ? TextCount(texts) : table ? ObjInt16(heap, table, kRingItemCountAt) : 0;
  if (n <= 0) return kArgErr;
  if (index < 0) index = 0;
  if (index > n - 1) index = n - 1;
  if (texts) CPStrRemove(texts, index);
  if (table && index < ObjInt16(heap, table, kRingItemCountAt)) ShrinkPartObject(heap, ring, &table, index);
  RemoveFlag(heap, ring, index);
  return kNoErr;
}

MgErr RingSetItemText(ObjHeap heap, int32 ring) {
  if (!heap || !*heap || !ring) return kArgErr;
  if (CPStrHandle texts = RingTexts(heap, ring, nullptr)) {
    if (MgErr err = AnySetHandleSize(reinterpret_cast<UHandle>(texts), 4)) return err;
    PutNative32(reinterpret_cast<UPtr>(*texts), 0);
  }
  if (int32 table = RingTable(heap, ring)) {
    if (MgErr err = OHSetBlockSize(heap, &table, kRingItemsAt)) return err;
    PutNative16(*heap + table + kRingItemCountAt, 0);
    PutNative16(*heap + table + kRingCurrentAt, 0);
  }
  if (UHandle a = FlagsArray(FlagsCell(heap, ring))) PutNative32(*a, 0);
  return kNoErr;
}

MgErr RingSetItems(ObjHeap srcHeap, int32 src, ObjHeap dstHeap, int32 dst) {
  if (!srcHeap || !*srcHeap || !src || !dstHeap || !*dstHeap || !dst) return kArgErr;
  if (MgErr err = RingSetItemText(dstHeap, dst)) return err;
  CPStrHandle texts = RingTexts(srcHeap, src, nullptr);
  const int32 table = RingTable(srcHeap, src);
  const int32 nTexts = TextCount(texts), nItems = table ? ObjInt16(srcHeap, table, kRingItemCountAt) : 0;
  if (texts && table && nTexts != nItems) QX_ASSERT_MSG(false, "ring texts and pictures differ in count");
  const int32 n = texts && table ? (nTexts < nItems ? nTexts : nItems) : texts ? nTexts : nItems;
  for (int32 i = 0; i < n; ++i) {
    uChar text[256] = {0};
    if (texts) std::memcpy(text, CPStrIndex(texts, i), size_t(1 + CPStrIndex(texts, i)[0]));
    uChar record[kRingItemSize];
    if (table) std::memcpy(record, *srcHeap + table + kRingItemsAt + kRingItemSize * i, kRingItemSize);
    if (MgErr err = RingInsertItem(dstHeap, dst, text, table ? record : nullptr, i, FlagOf(srcHeap, src, i) & 1))
      return err;
  }
  return kNoErr;
}

// ---- Tracking -------------------------------------------------------------------------

void SetTrackObject(ObjHeap heap, int32 object, ObjHeap* prevHeap, int32* prevObject, Bool32 set) {
  if (prevHeap) *prevHeap = gTrackHeap;
  if (prevObject) *prevObject = gTrackObject;
  if (!set) return;
  // A heap disposed since the object was tracked (its panel closed while a
  // caller held the pair to put back) is forgotten, not read.
  bool live = false;
  for (ObjHeap h = OHFirstHeap(); heap && h && !live; h = OHNextHeap(h)) live = h == heap;
  if (!live) heap = nullptr, object = 0;
  gTrackHeap = heap;
  gTrackObject = object;
  if (!heap || !object)
    SetTrackedBool(nullptr, 0);
  else if (*heap && ObjClass(heap, object) == kClsBoolean)
    SetTrackedBool(heap, object);
}

void TrackState(int32 value, int32* previous, Bool32 set) {
  if (previous) *previous = gTrackState;
  if (set) gTrackState = value;
}

int32 IsBoolTracking(ObjHeap heap, int32 object) {
  if (gBoolMutex) ThMutexAcquire(gBoolMutex);
  const int32 tracking = heap && object && gBoolHeap == heap && gBoolObject == object ? 1 : 0;
  if (gBoolMutex) ThMutexRelease(gBoolMutex);
  return tracking;
}

MgErr BoolTrackMutexInit(Bool32 create, Bool32) {
  if (create) {
    // Made whether or not execution threads run: external code may ask
    // from threads of its own.
    return gBoolMutex ? kNoErr : ThMutexCreate(&gBoolMutex, nullptr);
  }
  if (gBoolMutex) ThMutexDestroy(gBoolMutex);
  gBoolMutex = nullptr;
  return kNoErr;
}

// ---- Cursors --------------------------------------------------------------------------

void SetCursorImageFile(RsrcFileRef file) { gCursorFile = file; }

int32 GetCursorImage(int32 number) {
  if (number < 0 || number >= kCursorCount) return 0;
  if (!gCursorImages[number]) {
    int32 image = 0;
    const int32 id = number == kBusyCursorNumber ? -2 : kCursorImageBase + number;
    if (IGet(gCursorFile, kImageCursor, id, &image, 1) == kNoErr) gCursorImages[number] = image;
  }
  return gCursorImages[number];
}

void SetCursorByNumber(int32 number, int32 argument) {
  if (number < 0 || number >= kCursorCount) {
    ISetCursor(number, argument);
    return;
  }
  if (const int32 image = GetCursorImage(number)) ISetCursor(image, argument);
}

int32 BusyCursorState(Bool32 busy, int32* cursor) {
  if (!busy) {
    const int32 was = gBusyState == 2 ? 1 : 0;
    gBusyState = 0;
    return was;
  }
  switch (gBusyState) {
    case 0:
      gBusyState = 1;
      gBusyDeadline = MilliSecs() + 100;
      return 0;
    case 1:
      if (Passed(gBusyDeadline)) {
        gBusyState = 2;
        gBusyDeadline = MilliSecs() + 250;
        if (cursor) *cursor = kBusyCursorNumber;
      }
      return 1;
    case 2:
      if (Passed(gBusyDeadline)) gBusyDeadline = MilliSecs() + 250;
      if (cursor) *cursor = kBusyCursorNumber;
      return 1;
    default:
      QX_ASSERT_MSG(false, "BusyCursorState: bad state");
      gBusyState = 0;
      return 0;
  }
}

void UpdateCursor(Bool32 busy) {
  int32 cursor = -1;
  const int32 answer = BusyCursorState(busy, &cursor);
  if (!busy) {
    if (answer) ISetCursor(-1, -2);
  } else if (cursor >= 0) {
    SetCursorByNumber(cursor, -2);
  }
  StopStep();
}

void StopStep() {}

void BusyCursorShowNow() {
  gBusyState = 2;
  gBusyDeadline = MilliSecs() + 250;
  SetCursorByNumber(kBusyCursorNumber, -2);
}

int32 IntervalElapsed(uInt32 start, uInt32 ms) {
  if (start) gIntervalStart = start;
  const uInt32 now = MilliSecs();
  if (now - gIntervalStart > ms) {
    gIntervalStart = now;
    return 1;
  }
  return 0;
}

// ---- Built-in pictures ------------------------------------------------------------------

int32 CheckPictIndex(int32 index) {
  if (const int32* slot = PictSlot(index)) return *slot;
  DBPrintf("index %ld", long(index));
  QX_ASSERT_MSG(false, "CheckPictIndex: no such picture");
  return 0;
}

MgErr SetBuiltInPict(int32 index, int32 image) {
  int32* slot = PictSlot(index);
  if (!slot) return kArgErr;
  *slot = image;
  return kNoErr;
}

namespace {
int32 BuiltInTableIndex(int32 index) {
  if (index < 9) return index + 1999;
  if (index >= 1000 && index <= 1999) return index + 7000;
  return index;
}
}  // namespace

Bool32 IsBuiltInPictIndex(int32 index) { return index != 0 && PictSlot(BuiltInTableIndex(index)) != nullptr; }

int32 GetPictIndex(int32 index) {
  if (index == 0) return 0;
  index = BuiltInTableIndex(index);
  int32 pict = CheckPictIndex(index);
  if (pict && IGetKind(pict) == kImageProc) {
    // A picture that keeps state of its own (a line's end points) gets a
    // copy for each use.
    PictMessageBlock block{};
    int32 copy = 0;
    if (IProcImageMessage(pict, 10, &block) == kNoErr && block.result && IDuplicate(pict, &copy) == kNoErr)
      pict = copy;
  }
  return int32((uInt32(-index) << 16) | (uInt32(pict) & 0xFFFF));
}

int32 OwnedBuiltInPict(int32 ref) {
  if (ref >= 0) return 0;
  const int32 image = ref & 0xFFFF;
  const int32* slot = PictSlot(-(ref >> 16));
  return slot && image && image != (*slot & 0xFFFF) && IKindOf(image) == kImageProc ? image : 0;
}

void ReleaseBuiltInPict(int32 ref) {
  if (const int32 image = OwnedBuiltInPict(ref)) IRelease(image);
}

bool CopyBuiltInPict(int32* ref) {
  const int32 image = OwnedBuiltInPict(*ref);
  if (!image) return true;
  int32 copy = 0;
  if (IDuplicate(image, &copy) != kNoErr || !copy) return false;
  *ref = int32((uInt32(*ref) & 0xFFFF0000u) | (uInt32(copy) & 0xFFFF));
  return true;
}

// ---- Text parts and keys ------------------------------------------------------------------

namespace {

constexpr int32 kClsOwner84 = 84;  // holds cosmetics as clusters and panels do
constexpr uInt32 kObjFlagSizesToText = 1u << 17;  // the object sizes itself to its text
constexpr uInt32 kObjFlagLineFeedEnters = 1u << 21;
constexpr uInt32 kOwnerModeKeepFocus = 0x80000;   // the owner VI's flags word 2
constexpr uInt32 kDocModTextPart = 0x80000100, kDocModLabel = 0x80000004;
constexpr int32 kSelLabelStateWord = 10;          // a SelLabel's state: bit 1 lets Up and Down end here
constexpr uInt32 kSelLabelArrowsEnd = 2;
constexpr int32 kUnitLabelRecordPart = 8009;
constexpr int32 kUnitLabelTargetWord = 11;        // the object whose unit label it edits
constexpr int32 kRingDisplayPart = 81;
constexpr int32 kLabelFontMask = 141;             // what a pasted run takes of the label's font
enum : int32 {
  kKeyEnter = 2, kKeyCut = 30, kKeyCopy = 31, kKeyPaste = 32, kKeyRevert = 33, kKeyEndEntry = 34,
  kActionFocusKey = 15,
};

TRecord gTextClipboard = nullptr;
Rect gLastChangedBounds{};

uChar* ExtAt(ObjHeap heap, int32 at) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 && OHBlockSize(heap, ext) >= at + 4 ? *heap + ext + at : nullptr;
}
uInt32 ExtWord(ObjHeap heap, int32 at) {
  const uChar* p = ExtAt(heap, at);
  return p ? GetNative32(p) : 0;
}
void SetExtWord(ObjHeap heap, int32 at, uInt32 value) {
  if (uChar* p = ExtAt(heap, at)) PutNative32(p, value);
}
bool FrontPanelHeap(ObjHeap heap) { return OHWord(heap, kOHKind) == kPanelHeapKind; }
bool OwnerKeepsFocus(ObjHeap heap) {
  UHandle vi = PanelHeapOwner(heap);
  return vi && *vi && (VIRec(vi)->flags2 & kOwnerModeKeepFocus) != 0;
}
Rect BoundsOf(ObjHeap heap, int32 object) {
  Rect r;
  std::memcpy(&r, *heap + object + kObjBounds, sizeof r);
  return r;
}
// An object named by a word of the heap: a used block holding at least the
// leading fields.
bool IsObject(ObjHeap heap, int32 object) {
  return object > 0 && OHIsUsedBlockOf(heap, object, int32(sizeof(ObjLeadingFields)));
}

// The action sent as the panel's key delivery: its answer is the result.
int32 SendKeyAction(ObjHeap heap, int32 object, void* frame, ActionParams* params) {
  return OSendMessage<int32>(kMsgODoit, heap, object, frame, kActionFocusKey, params);
}

// The root frame of a panel's path, ended.
void RootPath(ObjHeap heap, TransactionFrame* top) {
  top[0] = TransactionFrame{int32(ExtWord(heap, kHeapExtRoot)), kCatFPSC, 2, 0};
  top[1] = TransactionFrame{};
}

// A key handled by the text: a SelLabel lets Escape, and Up and Down when
// its state says so, end here; the text redrawn unless its owner is hidden.
int32 EditingKey(ObjHeap heap, int32 part, TRecord text, const ActionParams* p, int32 key, int32 result) {
  if (ObjClass(heap, part) == kClsSelLabel) {
    if (key == kTKeyChar && p->character == 27) return result;
    const bool arrowsEnd = OHBlockSize(heap, part) >= 4 * (kSelLabelStateWord + 1) &&
                           (uInt32(ObjWord(heap, part, kSelLabelStateWord)) & kSelLabelArrowsEnd);
    if (arrowsEnd && (key == kTKeyUp || key == kTKeyDown)) return result;
  }
  const int32 owner = ObjWord(heap, part, kObjOwner / 4);
  const bool ownerHidden = IsObject(heap, owner) && Hidden(heap, owner);
  TKey(text, key, p->character, p->modifiers, !ownerHidden);
  const int16 id = PartIdOf(heap, part);
  if (FrontPanelHeap(heap) || id == kLabelPart || id == 0) result &= ~0x80;
  return result;
}

void MarkModified(ObjHeap heap, int32 part) {
  ObjSetWord(heap, part, 0, int32(uInt32(ObjWord(heap, part, 0)) | kObjFlagTextModified));
}

// Enter (2) and end of entry (34).
int32 EndEntry(ObjHeap heap, int32 part, TRecord text, int32 key, int32 result) {
  const bool dialog = ExtWord(heap, kHeapExtDialogFilter) != 0;
  const bool keep = OwnerKeepsFocus(heap);
  if (key == kKeyEndEntry || !dialog || keep) result &= ~1;
  if (ExtWord(heap, kHeapExtWindow) && (!dialog || keep || key == kKeyEndEntry)) TDeactivate(text, 1);
  const uInt32 flags = uInt32(ObjWord(heap, part, 0));
  if (!(flags & kObjFlagTextModified)) {
    // A see-through text shows what lies under it: drawn again all the same.
    DColor back = 0;
    TGetColors(text, nullptr, &back);
    if (back == kTransparentColor) OInval(heap, part, 0);
    return result;
  }
  ObjSetWord(heap, part, 0, int32(flags & ~kObjFlagTextModified));
  result |= 0x40;
  const int16 id = PartIdOf(heap, part);
  UHandle vi = PanelHeapOwner(heap);
  if (id == 0 || id == 25 || id == 82) VIDocMod(vi, nullptr, kDocModTextPart);
  else if (id == kLabelPart) VIDocMod(vi, nullptr, kDocModLabel);
  if (flags & kObjFlagSizesToText) {
    result |= 0x80;
    gLastChangedBounds = BoundsOf(heap, part);
  }
  OInval(heap, part, 0);
  return result;
}

// Revert: the text set aside in the heap's word 6 replaces the one edited.
TRecord Revert(ObjHeap heap, int32 part, TRecord text) {
  TRecord saved = reinterpret_cast<TRecord>(uintptr_t(ExtWord(heap, kHeapExtStashedText)));
  if (!saved) return text;
  SetExtWord(heap, kHeapExtStashedText, 0);
  if (saved == text) return text;
  TDeactivate(text, 0);
  TDispose(text);
  ObjSetWord(heap, part, kPWLabelText, int32(uintptr_t(saved)));
  if (ExtWord(heap, kHeapExtFocusText) == uInt32(uintptr_t(text))) SetExtWord(heap, kHeapExtFocusText, uInt32(uintptr_t(saved)));
  if (ExtWord(heap, kHeapExtWindow)) TDraw(saved);
  return saved;
}

// The record a cut or copy goes to: the one the action carries (the panel
// clipboard's data command), else the shared text clipboard.
TRecord CarriedOrClipboard(const ActionParams* p, TRecord text) {
  return p->text && TRecord(p->text) != text ? TRecord(p->text) : PanelTextClipboard();
}

int32 TextKey(ObjHeap heap, int32 part, TRecord* textInOut, ActionParams* p, int32 result) {
  TRecord text = *textInOut;
  p->flags &= ~kActionTracking;
  int32 key = p->keyCode;
  if ((uInt32(ObjWord(heap, part, 0)) & kObjFlagLineFeedEnters) && key == kTKeyChar && p->character == '\n')
    key = kKeyEnter;
  const int32 owner = ObjWord(heap, part, kObjOwner / 4);
  const Bool32 redraw = !(IsObject(heap, owner) && Hidden(heap, owner));
  const int16 id = PartIdOf(heap, part);
  switch (key) {
    case kKeyEnter:
    case kKeyEndEntry:
      return EndEntry(heap, part, text, key, result);
    case kKeyCut:
      TCut(text, CarriedOrClipboard(p, text), redraw);
      MarkModified(heap, part);
      return result;
    case kKeyCopy:
      TCopy(text, CarriedOrClipboard(p, text));
      return result;
    case kKeyPaste:
      TextPartPaste(p, text, redraw, id != 0 && id != kLabelPart);
      MarkModified(heap, part);
      return result;
    case kKeyRevert:
      *textInOut = Revert(heap, part, text);
      return result;
    case kTKeyUp: case kTKeyLeft: case kTKeyRight: case kTKeyHome: case kTKeyEnd: case kTKeyPageUp:
    case kTKeyPageDown: case 14: case 15:
      return EditingKey(heap, part, text, p, key, result);
    default:
      MarkModified(heap, part);
      return EditingKey(heap, part, text, p, key, result);
  }
}

}  // namespace

TRecord PartTextRecord(ObjHeap heap, int32 part) {
  if (!heap || !*heap || !IsObject(heap, part) || OHBlockSize(heap, part) < 4 * (kPWLabelText + 1)) return nullptr;
  return TCheckedRecord(uInt32(ObjWord(heap, part, kPWLabelText)));
}

TRecord PanelTextClipboard() {
  if (!gTextClipboard) {
    const Rect none{0, 0, 0, 0};
    gTextClipboard = TNew(&none, 0, nullptr, 0, kAppFont, kBlackColor, kTransparentColor);
  }
  return gTextClipboard;
}

void PanelDisposeTextClipboard() {
  if (gTextClipboard) TDispose(gTextClipboard);
  gTextClipboard = nullptr;
}

Rect LastChangedBounds() { return gLastChangedBounds; }

int32 TextPartDoit(ObjHeap heap, int32 part, ActionParams* p, int32 flags) {
  if (!heap || !*heap || !IsObject(heap, part) || !p) return flags;
  p->partId = PartIdOf(heap, part);
  p->partOrder = ObjInt16(heap, part, kObjPartOrder);
  int32 result = flags | 1;
  TRecord text = PartTextRecord(heap, part);
  if (!text) return result & ~1;
  const int32 action = p->eventCode;
  if (action == 1) {
    FPKeyFocusUpdate(heap, part, FrontPanelHeap(heap) || OwnerKeepsFocus(heap), text);
    if (int32(ExtWord(heap, kHeapExtKeyFocus)) != part) {
      result &= ~1;
    } else {
      TSelectText(text, p->selStart, p->selEnd);
      if (ExtWord(heap, kHeapExtWindow)) TActivate(text, 1);
    }
  } else if (action == 6 || action == 7) {
    result = TextKey(heap, part, &text, p, result);
  } else if (p->flags & kActionTracking) {
    if (action == 3) TTrackTo(text, p->point, action);
    else if (action != 4) p->flags &= ~kActionTracking;
  }
  p->text = text;
  return result;
}

MgErr TextPartPaste(ActionParams* p, TRecord text, Bool32 draw, Bool32 labelStyle) {
  if (!text) {
    QX_ASSERT_MSG(false, "TextPartPaste: no text record");
    return kArgErr;
  }
  // A record carried by the action is the text to insert; else the clipboard's.
  TRecord from = p && p->text && p->text != text ? TRecord(p->text) : PanelTextClipboard();
  int32 start = 0;
  TGetSelection(text, &start, nullptr);
  if (!labelStyle) {
    TPaste(from, text, draw);
    return kNoErr;
  }
  const int32 font = TGetFont(text);
  TPaste(from, text, 0);
  int32 caret = start;
  TGetSelection(text, nullptr, &caret);
  TSelectText(text, start, caret);
  TSetFont(text, font, kLabelFontMask, draw);
  TSelectText(text, caret, caret);
  TDisposeFont(font);
  return kNoErr;
}

int32 FPSendKeyToObj(ObjHeap heap, int32 object, int32 selStart, int32 selEnd) {
  if (!heap || !*heap || !IsObject(heap, object) || !ExtAt(heap, 0)) return 0;
  void* const previous = TRPushFrame();
  int32 result = 0;
  if (TRStackTop() && GetObjAttrRec(heap, object, nullptr, nullptr)) {
    ActionParams p{};
    p.eventCode = 1;
    p.focusObject = object;
    p.selStart = selStart;
    p.selEnd = selEnd;
    const uInt32 flags = uInt32(ObjWord(heap, object, 0));
    ObjSetWord(heap, object, 0, int32(flags | kObjFlagTextFocus));
    const int32 root = int32(ExtWord(heap, kHeapExtRoot));
    if (IsObject(heap, root)) result = SendKeyAction(heap, root, TRStackTop(), &p);
    if (!(flags & kObjFlagTextFocus) && IsObject(heap, object))
      ObjSetWord(heap, object, 0, int32(uInt32(ObjWord(heap, object, 0)) & ~kObjFlagTextFocus));
  }
  TRSetStackTop(previous);
  TRecord text = int32(ExtWord(heap, kHeapExtKeyFocus)) == object
                     ? reinterpret_cast<TRecord>(uintptr_t(ExtWord(heap, kHeapExtFocusText)))
                     : PartTextRecord(heap, object);
  if (text && DSCheckHandle(text) == kNoErr) {
    TScrollToOffset(text, selEnd, 1);
    TScrollToOffset(text, selStart, 1);
  }
  return result;
}

MgErr HeapStashText(ObjHeap heap, int32 object) {
  if (!heap || !*heap || !ExtAt(heap, 0)) return kNoErr;
  if (!ExtWord(heap, kHeapExtKeyFocus) || !ExtWord(heap, kHeapExtStashedText)) return kNoErr;
  ActionParams p{};
  p.eventCode = 6;
  p.keyCode = kKeyRevert;
  p.character = '!';
  void* const previous = TRPushFrame();
  auto* const top = static_cast<TransactionFrame*>(TRStackTop());
  if (top && top != previous) {
    TransactionFrame* frame = top;
    const UPtr block = TRStackBlock();
    // Room for the saved path and its end frame up to the block's end.
    const int32 room = int32((block + kTransactionStackBytes - reinterpret_cast<UPtr>(top)) / 16) - 1;
    int32 count = 0;
    UHandle saved = reinterpret_cast<UHandle>(uintptr_t(ExtWord(heap, kHeapExtSavedFrames)));
    if (object && saved && AZCheckHandle(saved) == kNoErr) {
      const int32 n = AZGetHandleSize(saved) / 16;
      for (; count < n && count < room; ++count) {
        std::memcpy(&top[count], *saved + 16 * count, 16);
        if (top[count].kind == 0) break;
      }
      top[count] = TransactionFrame{};
    }
    if (count > 0) {
      // The saved frame of the object, else the path's last frame.
      frame = &top[count - 1];
      for (int32 i = 0; i < count; ++i)
        if (top[i].object == object) frame = &top[i];
    } else {
      RootPath(heap, top);
    }
    if (IsObject(heap, frame->object)) SendKeyAction(heap, frame->object, frame, &p);
  }
  TRSetStackTop(previous);
  if (ExtWord(heap, kHeapExtStashedText)) {
    DBPrintf("Heap Stash Text isn't null");
    QX_ASSERT_MSG(false, "HeapStashText: a stashed text is left");
    SetExtWord(heap, kHeapExtStashedText, 0);
  }
  return kNoErr;
}

// ---- Ring display, text sizes, placement, unit labels ---------------------------------------

int32 RingDrawDisplay(ObjHeap heap, int32 ring, int32* partOut) {
  const int32 part = heap && *heap && IsObject(heap, ring) ? FindPart(heap, ring, kRingDisplayPart, 0) : 0;
  if (partOut) *partOut = part;
  TRecord text = part ? PartTextRecord(heap, part) : nullptr;
  if (!text) return 0;
  UHandle bytes = TGetText(text);
  const int32 n = int32(GetNative32(*bytes));
  const Rect r = BoundsOf(heap, part);
  const int32 font = TGetFont(text);
  TBox(&r, 0, n ? *bytes + 4 : nullptr, n, font, gMenuColours.text, gMenuColours.background, kBlackColor,
       kWhiteColor);
  TDisposeFont(font);
  return 0;
}

int32 PartTextSize(ObjHeap heap, int32 object, int32 partId) {
  const int32 part = heap && *heap && IsObject(heap, object) ? FindPart(heap, object, partId, 0) : 0;
  if (!part) {
    QX_ASSERT_MSG(false, "PartTextSize: no such part");
    return 0;
  }
  TRecord text = PartTextRecord(heap, part);
  const int32 font = text ? TGetFont(text) : kAppFont;
  Point size{0, 0};
  TTextSize(reinterpret_cast<const uChar*>("0"), 1, font, &size);
  if (text) TDisposeFont(font);
  return size.h;
}

int32 PlaceNewObject(ObjHeap heap, int32 owner, int32 object, TransactionFrame* path, ActionParams* creation) {
  if (!heap || !*heap || !IsObject(heap, object) || ClassRecord(ObjClass(heap, object))->categoryB != kCatCOSM)
    return 0;
  const int32 ownerClass = IsObject(heap, owner) ? ObjClass(heap, owner) : -1;
  if (ownerClass != kClsCluster && ownerClass != kClsOwner84 && ownerClass != kClsFrontPanel) {
    QX_ASSERT_MSG(false, "PlaceNewObject: an owner that holds no cosmetics");
    return 0;
  }
  OSize(heap, object, nullptr, 0);
  OInval(heap, object, 0);
  if (!(uInt32(ObjWord(heap, object, 0)) & kObjFlagTextFocus)) return 0;
  if (creation) {
    creation->selStart = 0;
    creation->selEnd = kPartOrderHighest;
    creation->eventCode = 1;
  }
  if (path) {
    // The owner's element list: a cluster's elements, else its parts.
    const int32 word = ownerClass == kClsCluster && OHBlockSize(heap, owner) >= 4 * (kPWClusterElements + 1)
                           ? kPWClusterElements
                           : PartListWord(heap, owner);
    const int32 list = ObjWord(heap, owner, word);
    int32 index = 0;
    if (list > 0 && OHIsUsedBlock(heap, list))
      for (int32 i = 0; i < ObjListCount(heap, list); ++i)
        if (ObjListGet(heap, list, i) == object) index = i;
    path[0].mode = 1;
    path[0].index = index;
    path[1] = TransactionFrame{object, kCatCOSM, 2, 0};
    path[2] = TransactionFrame{};
  }
  return 129;
}

int32 ObjApplyUnitLabel(ObjHeap heap, int32 object) {
  const int32 part = heap && *heap && IsObject(heap, object) ? FindPart(heap, object, kUnitLabelRecordPart, 0) : 0;
  if (!part) return 0;
  const int32 target =
      OHBlockSize(heap, part) >= 4 * (kUnitLabelTargetWord + 1) ? ObjWord(heap, part, kUnitLabelTargetWord) : 0;
  if (!IsObject(heap, target)) {
    QX_ASSERT_MSG(false, "ObjApplyUnitLabel: the unit label names no object");
    return 0;
  }
  return ApplyUnitLabelText(heap, target);
}

// ---- Ring menus -------------------------------------------------------------------------------

namespace {

constexpr int32 kRingMenuId = 1;   // any id: the menus stand alone
constexpr int32 kPopUpFlags = 5;
constexpr int32 kFlaggedDisabled = 1;
constexpr int32 kPictRefAt = 16;   // in a table record: its picture reference

// The heap's window as the drawing port for a scope, when it has one that
// is not the port already: rectangles and points are in its coordinates.
class HeapPort {
 public:
  explicit HeapPort(ObjHeap heap) : window_(WindowRef(ExtWord(heap, kHeapExtWindow))) {
    if (window_ && WIsWindow(window_) && window_ != WCurrentPort()) {
      WSetup(window_, &saved_);
      on_ = true;
    }
    if (!window_ || !WIsWindow(window_)) window_ = WCurrentPort();
  }
  ~HeapPort() {
    if (on_) WRestore(&saved_);
  }
  HeapPort(const HeapPort&) = delete;
  HeapPort& operator=(const HeapPort&) = delete;
  WindowRef Window() const { return window_; }

 private:
  WindowRef window_;
  bool on_ = false;
  WPortState saved_{};
};

// Disables the menu's items whose flag word has bit 0; the flags, when the
// ring has them, must be as many as the items.
void DisableFlaggedItems(ObjHeap heap, int32 ring, MenuHandle menu, int32 items) {
  UHandle flags = FlagsArray(FlagsCell(heap, ring));
  if (!flags) return;
  const int32 n = int32(GetNative32(*flags));
  if (n != items) QX_ASSERT_MSG(false, "ring item flags and items differ in count");
  for (int32 i = 0; i < std::min(n, items); ++i)
    if (GetNative32(*flags + 4 + 4 * i) & kFlaggedDisabled) MDisableItem(menu, i + 1);
}

Rect Global(WindowRef w, Rect r) {
  Point tl{r.top, r.left}, br{r.bottom, r.right};
  if (w) {
    WLocalToGlobal(w, &tl);
    WLocalToGlobal(w, &br);
  }
  return Rect{tl.v, tl.h, br.v, br.h};
}

}  // namespace

MenuHandle RingBuildPopupMenu(ObjHeap heap, int32 ring, int32 current, int32 width) {
  if (!heap || !*heap || !IsObject(heap, ring)) return nullptr;
  int32 textPart = 0;
  CPStrHandle texts = RingTexts(heap, ring, &textPart);
  if (!texts) return nullptr;
  static const uChar kNoTitle[1] = {0};
  MenuHandle menu = nullptr;
  if (MNewLMenu(&menu, kNoTitle, kRingMenuId) != kNoErr) return nullptr;
  // The texts in one walk (the list checked against its handle first): a
  // list of any length costs its length, not its square.
  const int32 n = TextCount(texts), end = n > 0 ? CPStrSize(texts) : 0;
  for (int32 i = 0, at = 4; i < n && at < end; ++i) {
    uChar item[256];
    PPrintf(item, "__%p", reinterpret_cast<ConstPStr>(*texts) + at);
    at += 1 + reinterpret_cast<ConstPStr>(*texts)[at];
    if (MInsertLItem(menu, item, nullptr, 0, nullptr, 0, -1, 0) != kNoErr) {
      MDisposeMenu(menu);
      return nullptr;
    }
  }
  if (current >= 0 && current < n) MCheckItem(menu, current + 1, 1);
  DisableFlaggedItems(heap, ring, menu, n);
  if (TRecord text = PartTextRecord(heap, textPart)) {
    const int32 font = TGetFont(text);
    MSetMenuFont(menu, font);
    TDisposeFont(font);
  }
  MSetMenuMinWidth(menu, std::max(width, 0));
  return menu;
}

int32 RingPopupMenu(ObjHeap heap, int32 ring, int32, int32 current, Bool32 place) {
  if (!heap || !*heap || !IsObject(heap, ring) || !RingTexts(heap, ring, nullptr)) return 1;
  int32 part = FindPart(heap, ring, kRingDisplayPart, 0);
  if (!part) part = FindPart(heap, ring, 0, 0);
  // The bounds stand until the part's own method answers (kind 0 is the bounds).
  Rect r = BoundsOf(heap, part ? part : ring);
  if (part) OGetRect(heap, part, &r, 0);
  MenuHandle menu = RingBuildPopupMenu(heap, ring, current, r.right - r.left);
  if (!menu) return 0;
  const HeapPort port(heap);
  if (place) {
    const Rect global = Global(port.Window(), r);
    const int32 line = (*menu)->lineHeight + gMenuMetrics.rowSpacing;
    const int32 needed = (*menu)->itemCount * line + 4;
    Rect work{};
    WGetWorkAreaRect(Point{global.bottom, global.left}, &work);
    const int32 room = work.bottom - global.bottom;
    if (room <= needed && room <= 5 * line + 4)
      r = Rect{int16(r.top - needed), r.left, int16(r.top - needed + 1), r.right};
    else
      r = Rect{r.bottom, r.left, int16(r.bottom + 1), r.right};
  }
  int32 id = 0, item = 0;
  MPopUpMenuRect(menu, &r, &id, &item, kPopUpFlags, current + 1, 0);
  MDisposeMenu(menu);
  return item;
}

MenuHandle PictMenuBuild(ObjHeap heap, int32 pictPart, int32 textPart, Point, int32 columns, int32 kind,
                         int32 current) {
  if (!heap || !*heap || !IsObject(heap, pictPart) || !CheckedTable(heap, pictPart)) return nullptr;
  const int32 n = ObjInt16(heap, pictPart, kRingItemCountAt);
  CPStrHandle texts = IsObject(heap, textPart) ? PartTexts(heap, textPart) : nullptr;
  int32 cell = 0;
  for (int32 i = 0; i < n; ++i) {
    Rect r;
    std::memcpy(&r, *heap + pictPart + kRingItemsAt + kRingItemSize * i, sizeof r);
    cell = std::max({cell, r.bottom - r.top, r.right - r.left});
  }
  // Unless the caller gives the columns: a square grid for more than five
  // items (the fewest columns whose square holds them), else one row.
  if (columns <= 0) {
    columns = std::max(n, 1);
    if (n > 5)
      for (columns = 1; columns * columns < n;) ++columns;
  }
  // A monitor too small for the grid gets one column more before it refuses.
  int32 capacity = MMaxPictMenuItems(WCurrentPort(), columns, cell);
  if (n > capacity) capacity = MMaxPictMenuItems(WCurrentPort(), ++columns, cell);
  if (n > capacity) {
    DBPrintf("Too many picts to make menu (>%ld)", long(capacity));
    WBeep();
    return nullptr;
  }
  static const uChar kNoTitle[1] = {0};
  MenuHandle menu = nullptr;
  if (MNewPictMenu(&menu, kNoTitle, kind, int16(columns)) != kNoErr) return nullptr;
  (*menu)->pictWord = uInt32(cell);
  for (int32 i = 0; i < n; ++i) {
    uChar name[256] = {0};
    if (texts && i < TextCount(texts)) std::memcpy(name, CPStrIndex(texts, i), size_t(1 + CPStrIndex(texts, i)[0]));
    const int32 image = int32(GetNative32(*heap + pictPart + kRingItemsAt + kRingItemSize * i + kPictRefAt));
    if (MAppendPictMenuItem(menu, texts ? name : nullptr, image, nullptr, nullptr, i == current ? 1 : 0, nullptr,
                            0, 0) != kNoErr) {
      MDisposeMenu(menu);
      return nullptr;
    }
  }
  return menu;
}

int32 RingPictMenu(ObjHeap heap, int32 ring, Point where, int32 current) {
  if (!heap || !*heap || !IsObject(heap, ring)) return 0;
  const int32 table = RingTable(heap, ring);
  if (!table) return 0;
  const HeapPort port(heap);
  MenuHandle menu =
      PictMenuBuild(heap, table, FindPart(heap, ring, kRingTextPart, 0), where, 0, kRingMenuId, current);
  if (!menu) return 0;
  DisableFlaggedItems(heap, ring, menu, (*menu)->itemCount);
  int32 id = 0, item = 0;
  MPopUpMenuAt(menu, where, &id, &item, 0, 0, 0);
  MDisposeMenu(menu);
  return item;
}
