// Small routines shared by the panel methods: part-id classes, key bindings,
// edge drawing, knob needles and ramp colours.
#include "panel/methsupport.h"

#include <algorithm>
#include <cmath>

#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/transact.h"

namespace {

// Sorted id lists; a pair {a, b} stands for a .. b.
struct IdRange {
  int32 low, high;
};
template <size_t N>
bool InRanges(const IdRange (&ranges)[N], int32 id) {
  for (const IdRange& r : ranges)
    if (id >= r.low && id <= r.high) return true;
  return false;
}
constexpr IdRange kOperateParts[] = {{15, 15}, {17, 19}, {26, 26}, {34, 40}, {68, 68}, {74, 78},
                                     {8002, 8002}, {8009, 8011}, {8014, 8014}};
constexpr IdRange kIndicatorOperableParts[] = {{10, 11}, {16, 19}, {27, 27}, {65, 65}, {68, 68}, {71, 73},
                                               {77, 78}, {8001, 8002}, {8010, 8011}, {8014, 8014}};
constexpr IdRange kKeyParts[] = {{16, 19}, {65, 65}, {68, 68}, {71, 73}, {77, 78}, {8002, 8002},
                                 {8009, 8011}, {8014, 8014}};

constexpr int32 kMaxOwnerChain = 64;  // deeper nesting than any panel builds
constexpr uInt32 kObjFlagsDisabled = 0x280;
constexpr int32 kActOperate = 15;
constexpr int32 kPartKnobThumb = 23, kPartKnobPointer = 8;
constexpr int32 kModNoBind = 0x400, kModCtrlBit = 0x20;

bool Live(ObjHeap heap, int32 object, int32 size) {
  return heap && *heap && object > 0 && OHIsUsedBlockOf(heap, object, size);
}
uInt32 Flags(ObjHeap heap, int32 object) { return uInt32(ObjWord(heap, object, 0)); }

// The slot of the key in the key-binding table, -1 for a key no slot binds.
int32 KeySlot(ObjHeap heap, const WEventRecord& e) {
  const int32 code = e.keyCode, mods = e.modifiers;
  if (code >= vkF1 && code <= vkF12)
    return ((mods & kWModShift) ? code + 4 : code - 8) + ((mods & kModCtrlBit) ? 24 : 0);
  if (code == vkClear) return kKeySlotClear;
  const bool enter = (code == vkEnter && !(mods & kModNoBind)) ||
                     (code == vkAscii && (e.character == 10 || e.character == 13));
  if (enter) {
    const int32 focus = PanelKeyFocus(heap).object;
    return Live(heap, focus, 4) && ObjIsA(heap, focus, kClsBoolean) ? -1 : kKeySlotReturn;
  }
  if (code == vkAscii && e.character == 27) return kKeySlotEscape;
  if (code >= vkHome && code <= vkPageDown) return 2 + (code - vkHome);
  return -1;
}

}  // namespace

int32 IsOperatePartId(int32 part) { return InRanges(kOperateParts, part); }
int32 IsIndicatorPartOperable(int32 part) { return InRanges(kIndicatorOperableParts, part); }
int32 IsKeyPart(int32 part) { return InRanges(kKeyParts, part); }

int32 IsTextFocusClass(ObjHeap heap, int32 object) {
  if (!Live(heap, object, 4)) return 0;
  return !ObjIsA(heap, object, kClsBoolean) && !ObjIsA(heap, object, kClsColorBox) && !ObjIsA(heap, object, kClsRing);
}

int32 ContainerActionAllowed(ObjHeap heap, int32 object, int32 action) {
  if (action != kActOperate || !Live(heap, object, 4)) return 1;
  const uInt32 flags = Flags(heap, object);
  if (flags & kObjFlagHidden) return 0;
  const UHandle vi = PanelHeapOwner(heap);
  const bool ownerMode = vi && *vi && (VIRec(vi)->flags2 & kVIFlags2OwnerMode);
  return (flags & kObjFlagsDisabled) && !ownerMode ? 0 : 1;
}

int32 KeyBindingTarget(ObjHeap heap, const WEventRecord* event) {
  if (!event || (event->code != weKey && event->code != weKeyRepeat)) return 0;
  if (!heap || !*heap || OHWord(heap, kOHKind) != kPanelHeapKind) return 0;
  const UHandle vi = PanelHeapOwner(heap);
  if (!vi || !*vi || (VIRec(vi)->flags2 & kVIFlags2OwnerMode) || VIRec(vi)->viKind == kVIKindRoot) return 0;
  const int32 slot = KeySlot(heap, *event);
  if (slot < 0 || slot >= kKeySlotCount) return 0;
  int32 object = 0;
  if (!DlgGetKeyNavItem(heap, slot, &object)) return 0;
  return Live(heap, object, 4) ? object : 0;
}

int32 IsInArray(ObjHeap heap, int32 object) {
  // Each object of the owner chain is checked, sized and its class read by
  // one read of its block's header.
  auto read = [heap](int32 o, int32* usable, int32* cls) {
    return heap && *heap && o > 0 && OHUsedBlockInfo(heap, o, usable, cls);
  };
  int32 step = object, usable = 0, cls = 0;
  bool live = read(step, &usable, &cls);
  for (int32 depth = 0; depth < kMaxOwnerChain && live && usable >= 8; ++depth) {
    if (!ClassIsKindOf(cls, kClsDataDisplayObject)) return 0;
    const int32 owner = ObjWord(heap, step, kPWOwner);
    int32 ownerUsable = 0, ownerCls = 0;
    if (!read(owner, &ownerUsable, &ownerCls) || ownerUsable < 4) return 0;
    if (ClassIsKindOf(ownerCls, kClsArray)) return 1;
    step = owner, usable = ownerUsable, cls = ownerCls;
  }
  return 0;
}

void DrawRectEdges(int32 code, const Rect* rect) {
  if (!rect) return;
  const int32 l = rect->left, t = rect->top, r = rect->right - 1, b = rect->bottom - 1;
  switch (code) {
    case 1: DSetPixel(l, t); break;
    case 2: DSetPixel(r, t); break;
    case 4: DSetPixel(l, b); break;
    case 8: DSetPixel(r, b); break;
    case 3: DMoveTo(l, t); DLineTo(r, t); break;
    case 5: DMoveTo(l, t); DLineTo(l, b); break;
    case 10: DMoveTo(r, t); DLineTo(r, b); break;
    case 12: DMoveTo(l, b); DLineTo(r, b); break;
    case 15: DFrameRect(rect); break;
    default: break;
  }
}

int32 KnobNeedleLength(ObjHeap heap, int32 knob, int32 order) {
  if (!Live(heap, knob, 4 * (kKnobNeedleWord + 1))) return -1;
  const int32 thumb = FindPart(heap, knob, kPartKnobThumb, order);
  if (!Live(heap, thumb, kObjBounds + int32(sizeof(Rect)))) return -1;
  Rect b;
  __builtin_memcpy(&b, *heap + thumb + kObjBounds, sizeof b);
  const int32 w = b.right - b.left, h = b.bottom - b.top;
  const int32 length = w < 2 ? h : h < 2 ? w : int32(std::lround(std::sqrt(double(w) * w + double(h) * h)));
  ObjSetWord(heap, knob, kKnobNeedleWord, length);
  if (const int32 pointer = FindPart(heap, knob, kPartKnobPointer, order)) {
    FPInvalObjRect(heap, knob, pointer);
    OInval(heap, pointer, kInvalAll);
  }
  return length;
}

uInt32 RampInterpolate(uInt32 lower, uInt32 upper, double lowerValue, double upperValue, double value) {
  const double fraction = upperValue == lowerValue ? 0.0 : (value - lowerValue) / (upperValue - lowerValue);
  uInt32 colour = 0;
  for (int32 shift = 0; shift <= 16; shift += 8) {
    const double lo = double((lower >> shift) & 0xFF), hi = double((upper >> shift) & 0xFF);
    const long byte = std::lround(lo + fraction * (hi - lo));
    colour |= uInt32(byte < 0 ? 0 : byte > 255 ? 255 : byte) << shift;
  }
  return colour;
}

void InvalObjPart(ObjHeap heap, int32 object) {
  if (!Live(heap, object, kObjBounds + int32(sizeof(Rect)))) return;
  OInval(heap, object, kInvalFrame);
  const int32 ext = int32(OHWord(heap, kOHExtension));
  const WindowRef window = ext > 0 ? WindowRef(GetNative32(*heap + ext + kHeapExtWindow)) : 0;
  if (!window) return;
  Rect b;
  __builtin_memcpy(&b, *heap + object + kObjBounds, sizeof b);
  const Rect corner{b.top, b.left, int16(b.top + 1), int16(b.left + 1)};
  WInvalRect(window, &corner);
}

int32 FPFocusObject(ObjHeap heap, int32 object, void* frame, int32 reply) {
  if (!Live(heap, object, 4)) return reply & ~(0x800 | 0x100000);
  // The path ends at the object: the frame after its own closes it.
  auto* next = static_cast<TransactionFrame*>(frame);
  const auto* block = reinterpret_cast<const TransactionFrame*>(TRStackBlock());
  if (next && next >= block && next + 2 <= block + kTransactionStackBytes / int32(sizeof(TransactionFrame)))
    next[1].kind = 0;
  if (FPKeyFocusUpdate(heap, object, 0, nullptr) != kNoErr) reply &= ~kActionTracking;
  OInval(heap, object, kInvalAll);
  ObjSetWord(heap, object, 0, int32(Flags(heap, object) | kObjFlagHighlight));
  return reply & ~(0x800 | 0x100000);
}

namespace {
constexpr int32 kMaxDims = 64;
// The 32-bit count and values of an index handle of the selection record;
// null unless it holds count values.
const uChar* IndexValues(UHandle h, int32* count) {
  if (!h || !*h || DSGetHandleSize(h) < 4) return nullptr;
  *count = int32(GetNative32(*h));
  if (*count < 1 || *count > kMaxDims || DSGetHandleSize(h) < 4 + 4 * *count) return nullptr;
  return *h + 4;
}
}  // namespace

int32 ArrayEltLayout(ObjHeap heap, int32 array, UHandle dataSpace) {
  if (!Live(heap, array, 4 * (kPWArrayPrivate + 1)) || !dataSpace || !*dataSpace) return 0;
  // The record must be the array's own entry of the data space: a cluster
  // whose first three elements are arrays (handles), inside the handle.
  const int32 at = ObjWord(heap, array, kPWArrayPrivate);
  const TypeDescriptor* rec = PanelEntryTD(heap, at, ObjWord(heap, array, kPWArrayPrivateTD), 12);
  if (!rec || rec->code != kTDCluster || int16(GetNative16(reinterpret_cast<const uChar*>(rec) + 4)) < 3) return 0;
  for (int32 i = 0; i < 3; ++i)
    if (ElemTD(rec, i)->code != kTDArray) return 0;
  if (at <= 0 || at > DSGetHandleSize(dataSpace) - 12) return 0;
  const uChar* values[3];
  int32 n = 0;
  for (int32 i = 0; i < 3; ++i) {
    int32 count = 0;
    values[i] = IndexValues(reinterpret_cast<UHandle>(uintptr_t(GetNative32(*dataSpace + at + 4 * i))), &count);
    if (!values[i] || (i > 0 && count != n)) return 0;
    n = count;
  }
  int16 shown[2];
  __builtin_memcpy(shown, *heap + array + 4 * kPWArrayShown, sizeof shown);
  int32 code = 15;
  for (int32 d = 0; d < n; ++d) {
    const bool columns = d == n - 1, rows = d == n - 2 && n > 1;
    int64 index = int32(GetNative32(values[0] + 4 * d));
    if (columns) index += (n == 1 && shown[1] != 0) ? shown[1] : shown[0];
    if (rows) index += shown[1];
    const int64 start = int32(GetNative32(values[1] + 4 * d)), end = int32(GetNative32(values[2] + 4 * d));
    if (start != end) {
      if (index < std::min(start, end) || index >= std::max(start, end)) return 0;
    } else if (index == start) {
      code &= rows ? ~(4 | 8) : ~(2 | 8);
    } else if (index == start - 1) {
      code &= rows ? ~(1 | 2) : ~(1 | 4);
    } else {
      return 0;
    }
  }
  return code;
}
