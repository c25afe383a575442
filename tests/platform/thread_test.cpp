#include <gtest/gtest.h>

#include <errno.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/qx_event.h"
#include "platform/qx_thread.h"
#include "platform/qx_time.h"

TEST(PlatformEvent, AutoResetConsumesOneSetPerWait) {
  PlatEvent* ev = PlatEventCreate(true);
  ASSERT_NE(ev, nullptr);
  struct pollfd p = {PlatEventFd(ev), POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 1) << "a set event is readable";
  EXPECT_EQ(PlatEventWait(ev, 0), kPlatWaitEvent);
  EXPECT_EQ(PlatEventWait(ev, 0), kPlatWaitTimeout);
  EXPECT_TRUE(PlatEventSet(ev));
  EXPECT_TRUE(PlatEventSet(ev));
  EXPECT_EQ(PlatEventWait(ev, 0), kPlatWaitEvent);
  EXPECT_EQ(PlatEventWait(ev, 0), kPlatWaitTimeout) << "two sets are one";

  uint64_t start = PlatMonotonicUs();
  EXPECT_EQ(PlatEventWait(ev, 25), kPlatWaitTimeout);
  EXPECT_GE(PlatMonotonicUs() - start, 25000u);

  PlatEvent* other = PlatEventCreate(false);
  ASSERT_NE(other, nullptr);
  PlatEventSet(other);
  PlatEventSet(ev);
  EXPECT_EQ(PlatEventWaitEither(ev, other, 0), kPlatWaitEvent) << "the first is tested first";
  EXPECT_EQ(PlatEventWaitEither(ev, other, 0), kPlatWaitInput);
  EXPECT_EQ(PlatEventWaitEither(ev, other, 0), kPlatWaitTimeout);
  PlatEventDestroy(other);
  PlatEventDestroy(ev);

  EXPECT_FALSE(PlatEventSet(nullptr));
  EXPECT_EQ(PlatEventWait(nullptr, 0), kPlatWaitFailed);
  EXPECT_EQ(PlatEventLastError(), EINVAL);
  PlatEventDestroy(nullptr);
}

namespace {
int32_t SetLater(void* ev) {
  PlatSleepMs(20);
  PlatEventSet(static_cast<PlatEvent*>(ev));
  return 7;
}

struct NiceProbe {
  PlatEvent* go;
  int nice;
};
int32_t ReadOwnNice(void* p) {
  auto* probe = static_cast<NiceProbe*>(p);
  PlatEventWait(probe->go, kPlatWaitForever);
  errno = 0;
  probe->nice = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
  return 0;
}

int32_t WaitForInput(void* ev) {
  return PlatWaitEventOrInput(static_cast<PlatEvent*>(ev), kPlatWaitForever);
}
}  // namespace

TEST(PlatformThreadThreads, ExitCodeWaitAndClose) {
  PlatEvent* ev = PlatEventCreate(false);
  PlatThread* h = nullptr;
  uint32_t id = 0;
  ASSERT_EQ(PlatThreadCreate(SetLater, ev, &h, &id), 0);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(PlatThreadId(h), id);
  EXPECT_NE(id, PlatThreadCurrentId());
  EXPECT_FALSE(PlatThreadIsCurrent(h));
  EXPECT_EQ(PlatEventWait(ev, kPlatWaitForever), kPlatWaitEvent);
  EXPECT_EQ(PlatThreadWaitEnd(h, kPlatWaitForever), 0);
  uint32_t code = 0;
  EXPECT_EQ(PlatThreadExitCode(h, &code), 0);
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(PlatThreadClose(h), 0);

  // A thread that has not ended: still active, the wait times out.
  ASSERT_EQ(PlatThreadCreate(WaitForInput, ev, &h, &id), 0);
  EXPECT_EQ(PlatThreadExitCode(h, &code), 0);
  EXPECT_EQ(code, kPlatStillActive);
  uint64_t start = PlatMonotonicUs();
  EXPECT_EQ(PlatThreadWaitEnd(h, 30), ETIMEDOUT);
  EXPECT_GE(PlatMonotonicUs() - start, 30000u);
  PlatEventSet(ev);
  EXPECT_EQ(PlatThreadWaitEnd(h, kPlatWaitForever), 0);
  EXPECT_EQ(PlatThreadExitCode(h, &code), 0);
  EXPECT_EQ(code, uint32_t(kPlatWaitEvent));
  EXPECT_EQ(PlatThreadClose(h), 0);

  PlatThread* self = PlatThreadOpenCurrent();
  ASSERT_NE(self, nullptr);
  EXPECT_TRUE(PlatThreadIsCurrent(self));
  EXPECT_EQ(PlatThreadId(self), PlatThreadCurrentId());
  EXPECT_EQ(PlatThreadWaitEnd(self, 0), EDEADLK);
  EXPECT_EQ(PlatThreadExitCode(self, &code), 0);
  EXPECT_EQ(code, kPlatStillActive);
  EXPECT_EQ(PlatThreadClose(self), 0);

  EXPECT_EQ(PlatThreadExitCode(nullptr, &code), EINVAL);
  EXPECT_EQ(PlatThreadClose(nullptr), EINVAL);
  EXPECT_EQ(PlatThreadCreate(nullptr, nullptr, &h, &id), EINVAL);
  EXPECT_GE(PlatProcessorCount(), 1);
  PlatEventDestroy(ev);
}

TEST(PlatformThreadThreads, PriorityIsRecordedAndAppliedAsNice) {
  NiceProbe probe{PlatEventCreate(false), 99};
  PlatThread* h = nullptr;
  uint32_t id = 0;
  ASSERT_EQ(PlatThreadCreate(ReadOwnNice, &probe, &h, &id), 0);
  EXPECT_EQ(PlatThreadGetPriority(h), 0);
  // Lowering a priority is always allowed; raising it may be refused, and the
  // value is recorded all the same.
  EXPECT_EQ(PlatThreadSetPriority(h, 15), 0);
  EXPECT_EQ(PlatThreadGetPriority(h), 15);
  EXPECT_EQ(PlatThreadSetPriority(h, -7), 0);
  EXPECT_EQ(PlatThreadGetPriority(h), -7);
  PlatEventSet(probe.go);
  EXPECT_EQ(PlatThreadWaitEnd(h, kPlatWaitForever), 0);
  EXPECT_EQ(probe.nice, 7);
  EXPECT_EQ(PlatThreadClose(h), 0);
  EXPECT_EQ(PlatThreadSetPriority(nullptr, 1), EINVAL);
  PlatEventDestroy(probe.go);
}

TEST(PlatformThreadThreads, InputSignalWakesTheWaitingThread) {
  EXPECT_FALSE(PlatThreadRaiseInput(0));
  PlatEvent* ev = PlatEventCreate(false);
  PlatThread* h = nullptr;
  uint32_t id = 0;
  ASSERT_EQ(PlatThreadCreate(WaitForInput, ev, &h, &id), 0);
  // Registered before its routine runs: a raise is never lost.
  EXPECT_TRUE(PlatThreadRaiseInput(id));
  EXPECT_EQ(PlatThreadWaitEnd(h, kPlatWaitForever), 0);
  uint32_t code = 99;
  EXPECT_EQ(PlatThreadExitCode(h, &code), 0);
  EXPECT_EQ(code, uint32_t(kPlatWaitInput));
  EXPECT_EQ(PlatThreadClose(h), 0);
  // Once the thread is gone its signal is too.
  EXPECT_FALSE(PlatThreadRaiseInput(id));

  // The calling thread's own signal; only what ended the wait is consumed.
  PlatThreadRegisterInput();
  EXPECT_TRUE(PlatThreadRaiseInput(PlatThreadCurrentId()));
  PlatEventSet(ev);
  EXPECT_EQ(PlatWaitEventOrInput(ev, 0), kPlatWaitEvent);
  EXPECT_EQ(PlatWaitEventOrInput(ev, 0), kPlatWaitInput);
  EXPECT_EQ(PlatWaitEventOrInput(ev, 10), kPlatWaitTimeout);
  PlatEventDestroy(ev);
}
