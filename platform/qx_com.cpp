#include "qx_com.h"

namespace {
struct ComThreadState {
  int32_t count = 0;
  bool multithreaded = false;
};
thread_local ComThreadState tCom;
}  // namespace

int32_t PlatComInit(bool multithreaded) {
  if (tCom.count++ > 0) return kPlatComAlready;
  tCom.multithreaded = multithreaded;
  return kPlatComDone;
}

void PlatComUninit() {
  if (tCom.count <= 0) return;
  if (--tCom.count == 0) tCom.multithreaded = false;
}

int32_t PlatComInitCount() { return tCom.count; }
bool PlatComMultithreaded() { return tCom.count > 0 && tCom.multithreaded; }
