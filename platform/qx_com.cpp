#include "qx_com.h"

#include <atomic>

namespace {
// Initialisations not undone yet, over all threads.
std::atomic<int32_t> gProcessCount{0};

struct ComThreadState {
  int32_t count = 0;
  bool multithreaded = false;
  // A thread that ends gives back what it did not undo itself.
  ~ComThreadState() { gProcessCount.fetch_sub(count); }
};
thread_local ComThreadState tCom;
}  // namespace

int32_t PlatComInit(bool multithreaded) {
  gProcessCount.fetch_add(1);
  if (tCom.count++ > 0) return kPlatComAlready;
  tCom.multithreaded = multithreaded;
  return kPlatComDone;
}

void PlatComUninit() {
  if (tCom.count <= 0) return;
  gProcessCount.fetch_sub(1);
  if (--tCom.count == 0) tCom.multithreaded = false;
}

int32_t PlatComInitCount() { return tCom.count; }
bool PlatComMultithreaded() { return tCom.count > 0 && tCom.multithreaded; }
int32_t PlatComProcessCount() { return gProcessCount.load(); }
