#include "mgsource/window/wservices.h"

#include <atomic>

#include "mgsource/occur.h"
#include "platform/qx_com.h"

namespace {
std::atomic<WInputWaitsProc> gInputWaits{nullptr};
std::atomic<int32> gComCount{0};
}  // namespace

int32 WEventAvail() {
  ChkOccurrences();
  WInputWaitsProc p = gInputWaits.load();
  return p && p() ? 1 : 0;
}

void WSetInputWaitsProc(WInputWaitsProc proc) { gInputWaits.store(proc); }

void ComCounterAdd() { gComCount.fetch_add(1); }
int32 ComCounter() { return gComCount.load(); }

void ComCounterUndo() { gComCount.store(0); }

void WOleShutdown() {
  ComCounterUndo();
  PlatComUninit();
}
