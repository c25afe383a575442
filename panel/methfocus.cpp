// Focus moves inside panel objects: a text part taking the key focus, a
// part reached by its order, the sliders of a slide and the index displays
// and cells of an array.  Objects and their words come from VI files: every
// offset is checked to name a used block before it is read, and frames are
// written only through the transaction stack's checked writer.
#include <algorithm>

#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/rects.h"
#include "mgsource/window/wport.h"
#include "panel/blink.h"
#include "panel/ctrldraw.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/transact.h"

namespace {

constexpr const char* kSource = "methfocus";
constexpr int32 kPartThumb = kPartNeedle, kPartSliderDisplay = kPartDigital;
constexpr int32 kReplyValueShown = 8, kReplyFailed = 16, kReplyPassOn = 0x800, kReplyDataChanged = 0x10000;
constexpr int32 kSelectAll = 0x7FFFFFFF;
constexpr int32 kMaxIndexDisplays = 64;  // one per dimension
constexpr int32 kStackFrames = kTransactionStackBytes / int32(sizeof(TransactionFrame));
constexpr int32 kLeading = int32(sizeof(ObjLeadingFields));

int32 gInsideArray = 0;

bool Live(ObjHeap heap, int32 object, int32 size) {
  return heap && *heap && object > 0 && OHIsUsedBlock(heap, object) && OHBlockSize(heap, object) >= size;
}
Rect Bounds(ObjHeap heap, int32 object) {
  Rect r;
  __builtin_memcpy(&r, *heap + object + kObjBounds, sizeof r);
  return r;
}
bool Hidden(ObjHeap heap, int32 object) { return uInt32(ObjWord(heap, object, 0)) & kObjFlagHidden; }
// A part of the object that is a live object, 0 otherwise.
int32 LivePart(ObjHeap heap, int32 object, int32 id, int32 order) {
  const int32 part = FindPart(heap, object, id, order);
  return Live(heap, part, kLeading) ? part : 0;
}

// count frames from frame on, lying on frame boundaries of the transaction
// stack; null otherwise.
TransactionFrame* StackFrames(void* frame, int32 count) {
  auto* block = reinterpret_cast<TransactionFrame*>(TRStackBlock());
  auto* at = static_cast<TransactionFrame*>(frame);
  if (!block || !at || at < block || at + count > block + kStackFrames ||
      (reinterpret_cast<uintptr_t>(at) - reinterpret_cast<uintptr_t>(block)) % sizeof(TransactionFrame))
    return nullptr;
  return at;
}

// The part's position in its owner's part list, -1 when it is not there.
int32 PartPosition(ObjHeap heap, int32 object, int32 part) {
  const int32 list = ObjWord(heap, object, PartListWord(heap, object));
  return list ? OHListFind(heap, list, part) : -1;
}

int32 SendDoit(ObjHeap heap, int32 object, void* frame, int32 action, ActionParams* params) {
  return OSendMessage<int32>(kMsgODoit, heap, object, frame, action, static_cast<void*>(params));
}

// Redraws the part's rectangle in the panel's window, clipped when a clip is
// given; nothing without a window.
void InvalPartRect(ObjHeap heap, int32 part, const Rect* clip) {
  if (!part) return;
  const int32 ext = int32(OHWord(heap, kOHExtension));
  const WindowRef window = ext > 0 ? WindowRef(GetNative32(*heap + ext + kHeapExtWindow)) : 0;
  if (!window) return;
  Rect r = Bounds(heap, part);
  if (clip && !DSectRect(&r, clip, &r)) return;
  WInvalRect(window, &r);
}

// The visible grid of an array: at least one row and one column.
struct Cell {
  int32 row, column;
};
Cell Unpack(int32 packed) { return {int16(uInt32(packed) >> 16), int16(packed & 0xFFFF)}; }
Cell VisibleGrid(ObjHeap heap, int32 array) {
  const Cell less = Unpack(ObjWord(heap, array, kPWArrayGrid));
  return {std::max(less.row, 0) + 1, std::max(less.column, 0) + 1};
}
bool InGrid(Cell c, Cell grid) { return c.row >= 0 && c.column >= 0 && c.row < grid.row && c.column < grid.column; }

const TypeDescriptor* DisplayTD(ObjHeap heap, int32 object) {
  const TypeDescriptor* td = TypeIDToTD(heap, DDOTypeID(heap, object));
  return td ? SkipTypedefs(td) : nullptr;
}

int32 IndexDisplayCount(ObjHeap heap, int32 array) {
  int32 n = 0;
  while (n < kMaxIndexDisplays && LivePart(heap, array, kPartArrayIndex, n)) ++n;
  return n;
}

}  // namespace

int32 FPFocusTextPart(ObjHeap heap, int32 object, void* frame, ActionParams* params) {
  if (!params || !Live(heap, object, kLeading)) return kArgErr;
  const int32 part = LivePart(heap, object, params->partId, params->partOrder);
  const TRecord text = part ? PartTextRecord(heap, part) : nullptr;
  if (!text) return kArgErr;
  const TransactionFrame path[3] = {{object, kCatDDO, 0, PartPosition(heap, object, part)}, {part, kCatCOSM, 2, 0}, {}};
  if (!StackFrames(frame, 3) || !TRWriteFrames(frame, path, 3)) return kArgErr;
  const MgErr err = FPKeyFocusUpdate(heap, part, OHWord(heap, kOHKind) == kPanelHeapKind, text);
  if (err == kNoErr) params->partId = 0;
  return err;
}

int32 FocusPartByOrder(ObjHeap heap, int32 object, int32 partId, int32 order, void* frame, ActionParams* params) {
  if (!Live(heap, object, kLeading)) return 0;
  const int32 part = LivePart(heap, object, partId, order);
  TransactionFrame* at = StackFrames(frame, 3);
  if (!part || !at) return 0;
  const TransactionFrame path[3] = {{object, at->kind, 0, PartPosition(heap, object, part)}, {part, kCatDDO, 2, 0}, {}};
  if (!TRWriteFrames(at, path, 3)) return 0;
  return SendDoit(heap, part, at + 1, kActKeyOrText, params);
}

int32 SliderCount(ObjHeap heap, int32 object) {
  if (!Live(heap, object, 4 * (kPWDDOTypeId + 1))) return 1;
  const TypeDescriptor* td = DisplayTD(heap, object);
  if (!td || td->code != kTDCluster) return 1;
  const int32 n = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  return n > 0 ? n : 1;
}

int32 SetActiveIndex(ObjHeap heap, int32 object, int32 index) {
  if (!Live(heap, object, 4 * (kPWActiveElement + 1))) return -1;
  index = std::clamp(index, 0, SliderCount(heap, object) - 1);
  const int32 old = ObjWord(heap, object, kPWActiveElement);
  ObjSetWord(heap, object, kPWActiveElement, index);
  Rect housing;
  const bool clip = SlideHousingRect(heap, object, &housing, nullptr);
  for (int32 order : {old, index}) InvalPartRect(heap, LivePart(heap, object, kPartThumb, order), clip ? &housing : nullptr);
  if (ObjIsBlinking(heap, object))
    for (int32 id : {kPartSliderDisplay, int32(kPartFill)})
      if (const int32 part = LivePart(heap, object, id, old)) OInval(heap, part, kInvalAll);
  return index;
}

int32 FocusSliderDisplay(ObjHeap heap, int32 object, int32 index, int32 reply, void* frame, ActionParams* params,
                         int32 invalidate) {
  if (!params || !Live(heap, object, kLeading)) return reply;
  params->selStart = 0;
  params->selEnd = kSelectAll;
  if (const int32 display = LivePart(heap, object, kPartSliderDisplay, index)) {
    const int32 answer = FocusPartByOrder(heap, object, kPartSliderDisplay, index, frame, params);
    reply |= answer;
    if (!(answer & kActionTracking)) {
      reply |= kActionTracking;
      if (FPKeyFocusUpdate(heap, display, 0, nullptr) == kNoErr) {
        reply &= ~kReplyPassOn;
        if (invalidate) OInval(heap, object, kInvalAll);
      }
    }
  }
  SetActiveIndex(heap, object, index);
  return reply;
}

int32 ArrayFocusNav(ObjHeap heap, int32 array, void* frame, int32 reply, ActionParams* params, int32 action) {
  if (action != kActKeyOrText) {
    DBAssert(kSource, __LINE__, "ArrayFocusNav: not a focus action");
    return reply;
  }
  TransactionFrame* at = StackFrames(frame, 3);
  if (!params || !at || !Live(heap, array, 4 * (kPWArrayShown + 1))) return reply;
  const bool back = params->keyCode == kKeyShiftTab;
  if (params->keyCode == kKeyCtrlDown) params->keyCode = kKeyTab;
  const int32 displays = IndexDisplayCount(heap, array);
  const int32 indexFrame = LivePart(heap, array, kPartIndexFrame, 0);
  const bool showsIndex = displays > 0 && indexFrame && !Hidden(heap, indexFrame);
  const Cell grid = VisibleGrid(heap, array), first{0, 0}, last{grid.row - 1, grid.column - 1};

  // Where the focus stands: a cell, an index display or the array itself.
  int32 display = -1;
  bool inCell = false;
  Cell cell = first;
  if (at->mode == kPathLevelCell) {
    cell = Unpack(at->index);
    inCell = InGrid(cell, grid);
    if (!inCell) cell = first;
  } else if (at->mode == 0) {
    const int32 list = ObjWord(heap, array, kObjPartList / 4);
    const int32 part = list && at->index >= 0 && at->index < ObjListCount(heap, list) ? ObjListGet(heap, list, at->index) : 0;
    if (Live(heap, part, kLeading) && ObjInt16(heap, part, kObjPartId) == kPartArrayIndex)
      display = ObjInt16(heap, part, kObjPartOrder);
  }

  // The next stop: an index display (target >= 0) or a cell.
  int32 target = -1;
  const int32 enterDisplay = showsIndex ? (back ? displays - 1 : 0) : -1;
  if (inCell) {
    Cell next = cell;
    if (!back && ++next.column == grid.column) next = {next.row + 1, 0};
    if (back && --next.column < 0) next = {next.row - 1, grid.column - 1};
    if (InGrid(next, grid)) cell = next;
    else if ((target = enterDisplay) < 0) cell = back ? last : first;
  } else if (display >= 0) {
    target = back ? display - 1 : display + 1;
    if (target < 0 || target >= displays) target = -1, cell = back ? last : first;
  } else if ((target = enterDisplay) < 0) {
    cell = back ? last : first;
  }

  params->selStart = 0;
  params->selEnd = kSelectAll;
  if (target >= 0) {
    FocusPartByOrder(heap, array, kPartArrayIndex, target, at, params);
  } else {
    const TransactionFrame path[3] = {{array, at->kind, kPathLevelCell, ArrayCell(cell.row, cell.column)},
                                      {ObjWord(heap, array, kPWArrayElement), kCatDDO, 2, 0}, {}};
    if (TRWriteFrames(at, path, 3)) ArrayEltDoit(heap, array, at, kActKeyOrText, params);
  }
  return (reply | kActionTracking) & ~kReplyPassOn;
}

int32 ArrayEltDoit(ObjHeap heap, int32 array, void* frame, int32 action, ActionParams* params) {
  TransactionFrame* at = StackFrames(frame, 2);
  if (!at || !Live(heap, array, int32(sizeof(PanelArrayRec)))) return kReplyFailed;
  const int32 element = ObjWord(heap, array, kPWArrayElement);
  if (!Live(heap, element, kLeading) || ObjWord(heap, element, kPWOwner) != array) return kReplyFailed;
  const Cell grid = VisibleGrid(heap, array), cell = Unpack(at->index);
  if (!InGrid(cell, grid)) return kReplyFailed;
  // A shown cell outside the grid (a bad file) is taken as its nearest cell
  // and replaced.
  const int32 stored = ObjWord(heap, array, kPWArrayShown);
  Cell shown = Unpack(stored);
  shown = {std::clamp(shown.row, 0, grid.row - 1), std::clamp(shown.column, 0, grid.column - 1)};
  const bool container = ObjIsA(heap, element, kClsArray) || ObjIsA(heap, element, kClsCluster) ||
                         ObjIsA(heap, element, kClsRefNum);
  const bool entering = action == kActKeyOrText && !PanelKeyFocus(heap).object && !container;
  if (at->index != stored || entering) {
    const Rect r = Bounds(heap, element);
    const int32 wide = (uInt32(ObjWord(heap, array, 0)) & kArrayFlagWideCells) ? 2 : 0;
    const int32 dv = (cell.row - shown.row) * (r.bottom - r.top + wide);
    const int32 dh = (cell.column - shown.column) * (r.right - r.left + wide);
    const Point by{int16(std::clamp(dv, -32768, 32767)), int16(std::clamp(dh, -32768, 32767))};
    if (by.v || by.h) OOffsetObj(heap, element, by);
    ObjSetWord(heap, array, kPWArrayShown, ArrayCell(cell.row, cell.column));
    // Operate mode answers the private element copy for a cell past the data.
    const int32 value = OGetDataPtr(heap, array, element, kDataPtrOperate, nullptr);
    oDisplayVal(heap, element, 0, reinterpret_cast<const void*>(uintptr_t(uInt32(value))));
  }
  const int32 outer = gInsideArray;
  gInsideArray = array;
  const int32 reply = SendDoit(heap, element, at + 1, action, params);
  gInsideArray = outer;
  return reply;
}

int32 PanelInsideArray() { return gInsideArray; }
void SetPanelInsideArray(int32 array) { gInsideArray = array; }

int32 ArrayIndexChanged(ObjHeap heap, int32 array, ActionParams* params, int32 reply, const int32* savedSizes,
                        const int32* newSizes) {
  reply &= ~kReplyValueShown;
  if (!params || !savedSizes || !newSizes || !Live(heap, array, 4 * (kPWDDOTypeId + 1))) return reply;
  const TypeDescriptor* td = DisplayTD(heap, array);
  if (!td || td->code != kTDArray) return reply;
  const int32 dims = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  const int32 d = params->partOrder;
  if (d < 0 || d >= dims) return reply;
  if (savedSizes[d] != newSizes[d]) {
    OInval(heap, array, kInvalValue);
    reply |= kReplyDataChanged;
  }
  return reply;
}
