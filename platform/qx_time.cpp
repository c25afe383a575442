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

namespace {
constexpr uint32_t kTimerMinMs = 1, kTimerMaxMs = 1000000;
std::atomic<int32_t> gOpenPeriods{0};
std::atomic<int> gCapsFail{0}, gBeginFail{0};
}  // namespace

int PlatTimerGetCaps(uint32_t* minMs, uint32_t* maxMs) {
  if (int err = gCapsFail.exchange(0)) return err;
  if (minMs) *minMs = kTimerMinMs;
  if (maxMs) *maxMs = kTimerMaxMs;
  return 0;
}

int PlatTimerBeginPeriod(uint32_t ms) {
  if (int err = gBeginFail.exchange(0)) return err;
  if (ms < kTimerMinMs || ms > kTimerMaxMs) return EINVAL;
  gOpenPeriods.fetch_add(1);
  return 0;
}

int PlatTimerEndPeriod(uint32_t ms) {
  if (ms < kTimerMinMs || ms > kTimerMaxMs) return EINVAL;
  int32_t open = gOpenPeriods.load();
  while (open > 0 && !gOpenPeriods.compare_exchange_weak(open, open - 1)) {
  }
  return open > 0 ? 0 : EINVAL;
}

int32_t PlatTimerTestOpenPeriods() { return gOpenPeriods.load(); }
void PlatTimerTestFail(int capsError, int beginError) {
  gCapsFail.store(capsError);
  gBeginFail.store(beginError);
}
