// The reply filter of data controllers: a changed value is written into the
// control's transfer slot, and a controller that checks its range keeps its
// range state (bits 2-3 of its range word, the low half of word 8) current:
// 4 when the reply says the new value lies out of range, else 0.
#include "mgsource/objheap.h"
#include "panel/fptransfer.h"
#include "panel/operate.h"

namespace {
constexpr int32 kRangeWord = 8;
constexpr uInt32 kRangeModeMask = 0x300, kRangeChecked = 0x100, kRangeStateMask = 0xC, kRangeOut = 0x4;
constexpr int32 kReplyOutOfRange = 0x1000;
}  // namespace

int32 DDOCheckReplyRange(ObjHeap heap, int32 controller, int32*, int32 reply) {
  if (!(reply & kReplyChanged) || !heap || !*heap || controller <= 0 || !OHIsUsedBlock(heap, controller) ||
      OHBlockSize(heap, controller) < 4 * (kRangeWord + 1))
    return reply;
  FPUpdateTransferSlot(heap, controller);
  const uInt32 word = uInt32(ObjWord(heap, controller, kRangeWord));
  if ((word & kRangeModeMask) == kRangeChecked)
    ObjSetWord(heap, controller, kRangeWord,
               int32((word & ~kRangeStateMask) | ((reply & kReplyOutOfRange) ? kRangeOut : 0)));
  return reply;
}
