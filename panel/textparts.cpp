#include "panel/textparts.h"

#include <atomic>
#include <cstring>

#include "engine/panelrec.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/walert.h"
#include "panel/datamsg.h"
#include "rtlib/chartdata.h"
#include "rtlib/objunits.h"

namespace {

std::atomic<int32> gInvals{0};

LStrHandle TextOf(ObjHeap heap, int32 part) {
  LStrHandle h = reinterpret_cast<LStrHandle>(uintptr_t(uInt32(ObjWord(heap, part, kPWLabelText))));
  return h && DSCheckHandle(h) == kNoErr ? h : nullptr;
}

UPtr DataOf(ObjHeap heap, int32 object) {
  return reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, object, 0, kDataPtrPlain, nullptr))));
}

}  // namespace

int32 SetPartText(ObjHeap heap, int32 part, const uChar* text, int32 length) {
  if (!heap || !*heap || !part || length < 0 || (length && !text)) return 0;
  if (OHBlockSize(heap, part) < 4 * (kPWLabelText + 1)) return 0;
  LStrHandle h = TextOf(heap, part);
  if (!h) {
    if (ObjWord(heap, part, kPWLabelText)) return 0;  // a word that names no text of ours
    h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + length));
    if (!h) return 0;
    ObjSetWord(heap, part, kPWLabelText, int32(uintptr_t(h)));
  } else if (DSSetHandleSize(reinterpret_cast<UHandle>(h), 4 + length) != kNoErr) {
    return 0;
  }
  if (length) std::memmove((*h)->str, text, size_t(length));
  (*h)->cnt = length;
  return 0;
}

void OInval(ObjHeap heap, int32 object, int32) {
  if (heap && *heap && object) gInvals.fetch_add(1, std::memory_order_relaxed);
}

int32 OInvalCount() { return gInvals.load(std::memory_order_relaxed); }

void PanelInstallTextPartHooks() {
  SetUnitLabelHooks({.inval = &OInval,
                     .setPartText = &SetPartText,
                     .beep = &WBeep,
                     .getText = &TextOf,
                     .displayData = &DataOf});
  SetChartPanelHooks({.dataPtr = &DataOf, .inval = &OInval});
}
