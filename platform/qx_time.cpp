#include "qx_time.h"

#include "qx_localtime.h"

#include <time.h>
#include <errno.h>

#include <atomic>

uint64_t PlatMonotonicUs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

void PlatUtcNow(int64_t* secsSince1904, int32_t* nanos) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  if (secsSince1904) *secsSince1904 = int64_t(ts.tv_sec) + kPlatEpoch1904ToUnix;
  if (nanos) *nanos = int32_t(ts.tv_nsec);
}

namespace {
// Origin in microseconds of the monotonic clock such that (now - origin) / 1000 == 1000
// at start-up.
std::atomic<int64_t> gOriginUs{int64_t(PlatMonotonicUs()) - 1000000};
}  // namespace

uint32_t PlatTickMs() {
  int64_t d = int64_t(PlatMonotonicUs()) - gOriginUs.load(std::memory_order_relaxed);
  return uint32_t(uint64_t(d / 1000));
}

void PlatTickShift(int64_t deltaMs) { gOriginUs.fetch_sub(deltaMs * 1000); }

void PlatSleepMs(uint32_t ms) {
  struct timespec req;
  req.tv_sec = ms / 1000;
  req.tv_nsec = long(ms % 1000) * 1000000L;
  while (nanosleep(&req, &req) == -1 && errno == EINTR) {
  }
}
