#include "qx_event.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <climits>
#include <new>

#include <valgrind/helgrind.h>

#include "qx_time.h"

// The counter of an eventfd is the state: non-zero means set.  Reading it
// (non-blocking) clears it whatever its value, which is the auto-reset: two
// sets before a wait are consumed together.  Beside it, pending says that a
// set has written (or is about to write) the counter since the last test:
// a set that finds it so writes nothing.  A test reads the counter, then
// clears pending: a set in between wrote nothing, but its test's caller
// looks at what the set announced (the test took the set's mark with the
// clearing exchange), and a set after it writes again.
struct PlatEvent {
  int fd;
  int32_t pending;
};

namespace {
thread_local int tLastError = 0;

inline int32_t Fail(int err) {
  tLastError = err;
  return kPlatWaitFailed;
}

// Consumes the event when it is set: 1 consumed, 0 clear, -1 failure.
int TryConsume(PlatEvent* ev) {
  uint64_t v;
  for (;;) {
    ssize_t n = read(ev->fd, &v, sizeof v);
    if (n == ssize_t(sizeof v)) {
      __atomic_exchange_n(&ev->pending, 0, __ATOMIC_SEQ_CST);
      // Whatever the setter wrote before setting is visible to the waiter.
      ANNOTATE_HAPPENS_AFTER(ev);
      return 1;
    }
    if (n < 0 && errno == EINTR) continue;
    __atomic_exchange_n(&ev->pending, 0, __ATOMIC_SEQ_CST);
    if (n < 0 && errno == EAGAIN) return 0;
    tLastError = n < 0 ? errno : EIO;
    return -1;
  }
}

// Milliseconds left until deadlineUs, rounded up so that a wait never ends early.
int PollTimeout(uint64_t deadlineUs) {
  uint64_t now = PlatMonotonicUs();
  if (now >= deadlineUs) return 0;
  uint64_t ms = (deadlineUs - now + 999) / 1000;
  return ms > uint64_t(INT_MAX) ? INT_MAX : int(ms);
}
}  // namespace

PlatEvent* PlatEventCreate(bool initiallySet) {
  int fd = eventfd(initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) {
    tLastError = errno;
    return nullptr;
  }
  PlatEvent* ev = new (std::nothrow) PlatEvent{fd, initiallySet ? 1 : 0};
  if (!ev) {
    close(fd);
    tLastError = ENOMEM;
  }
  return ev;
}

void PlatEventDestroy(PlatEvent* ev) {
  if (!ev) return;
  close(ev->fd);
  delete ev;
}

bool PlatEventSet(PlatEvent* ev) {
  if (!ev) {
    tLastError = EINVAL;
    return false;
  }
  ANNOTATE_HAPPENS_BEFORE(ev);
  if (__atomic_exchange_n(&ev->pending, 1, __ATOMIC_SEQ_CST)) return true;  // written, not yet tested
  uint64_t one = 1;
  for (;;) {
    ssize_t n = write(ev->fd, &one, sizeof one);
    if (n == ssize_t(sizeof one)) return true;
    if (n < 0 && errno == EINTR) continue;
    // EAGAIN: the counter is at its limit, so the event is set already.
    if (n < 0 && errno == EAGAIN) return true;
    tLastError = n < 0 ? errno : EIO;
    __atomic_store_n(&ev->pending, 0, __ATOMIC_SEQ_CST);  // nothing was written
    return false;
  }
}

int32_t PlatEventWait(PlatEvent* ev, uint32_t timeoutMs) {
  return PlatEventWaitEither(ev, nullptr, timeoutMs);
}

int32_t PlatEventWaitEither(PlatEvent* a, PlatEvent* b, uint32_t timeoutMs) {
  if (!a) return Fail(EINVAL);
  bool forever = timeoutMs == kPlatWaitForever;
  uint64_t deadline = forever ? 0 : PlatMonotonicUs() + uint64_t(timeoutMs) * 1000u;
  for (;;) {
    int r = TryConsume(a);
    if (r != 0) return r > 0 ? kPlatWaitEvent : kPlatWaitFailed;
    if (b) {
      r = TryConsume(b);
      if (r != 0) return r > 0 ? kPlatWaitInput : kPlatWaitFailed;
    }
    int wait = forever ? -1 : PollTimeout(deadline);
    if (wait == 0) return kPlatWaitTimeout;
    struct pollfd fds[2] = {{a->fd, POLLIN, 0}, {b ? b->fd : -1, POLLIN, 0}};
    int n = poll(fds, b ? 2 : 1, wait);
    if (n < 0 && errno != EINTR) return Fail(errno);
    // Readable, a signal or the time-out: test again; another waiter may have
    // consumed the event first, and the time-out is checked on the next round.
  }
}

int PlatEventFd(const PlatEvent* ev) { return ev ? ev->fd : -1; }

int PlatEventLastError() { return tLastError; }
