#include "qx_thread.h"

#include <errno.h>
#include <linux/futex.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <new>
#include <vector>

#include <valgrind/helgrind.h>

#include "qx_time.h"

static_assert(sizeof(pthread_t) == sizeof(uint32_t), "thread ids are 32-bit words");

struct PlatThread {
  pthread_t thread;
  uint32_t id;
  bool joinable;  // made by PlatThreadCreate; false for a handle of the calling thread
  PlatThreadProc proc;
  void* context;
  // Shared between the handle's owner and the thread, under lock.
  pthread_mutex_t lock;
  bool ended;
  // Set to 1 after ended, only to wake the waiters: they wait on it as a
  // futex and read ended under the lock.  (The C library's timed condition
  // wait with 64-bit time is unknown to Valgrind's thread checkers.)
  int32_t endedWord;
  uint32_t exitCode;
  pid_t tid;  // the kernel's id, for the nice value; 0 until the thread runs
  bool priorityAsked;
  int32_t priority;
  PlatEvent* input;  // the thread's input signal, handed over when it starts
  // The owner's handle and the running thread each hold one reference.
  std::atomic<int32_t> refs;
};

namespace {
pid_t KernelTid() { return pid_t(syscall(SYS_gettid)); }

int NiceOf(int32_t priority) {
  int32_t n = -priority;
  return n < -20 ? -20 : n > 19 ? 19 : int(n);
}

// Under h->lock.  A refusal (no privilege to raise the priority) is not an
// error: the priority stays recorded.
void ApplyNice(PlatThread* h) {
  if (h->tid != 0 && !h->ended && h->priorityAsked)
    (void)setpriority(PRIO_PROCESS, id_t(h->tid), NiceOf(h->priority));
}

PlatThread* NewHandle() {
  PlatThread* h = new (std::nothrow) PlatThread();
  if (!h) return nullptr;
  pthread_mutex_init(&h->lock, nullptr);
  ANNOTATE_BENIGN_RACE_SIZED(&h->endedWord, sizeof h->endedWord, "futex wake-up word");
  h->exitCode = kPlatStillActive;
  return h;
}

void Release(PlatThread* h) {
  ANNOTATE_HAPPENS_BEFORE(&h->refs);
  if (h->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  ANNOTATE_HAPPENS_AFTER(&h->refs);
  pthread_mutex_destroy(&h->lock);
  delete h;
}

// The input signals of the registered threads, by thread id.
struct InputEntry {
  uint32_t id;
  PlatEvent* signal;
};
pthread_mutex_t gInputLock = PTHREAD_MUTEX_INITIALIZER;
// Never freed: threads unregister from it during exit.
std::vector<InputEntry>* gInputs = nullptr;

// The calling thread's input signal; unregistered when the thread ends.
struct InputSlot {
  PlatEvent* signal = nullptr;
  ~InputSlot() {
    if (!signal) return;
    pthread_mutex_lock(&gInputLock);
    for (size_t i = 0; i < gInputs->size(); ++i) {
      if ((*gInputs)[i].signal == signal) {
        (*gInputs)[i] = gInputs->back();
        gInputs->pop_back();
        break;
      }
    }
    pthread_mutex_unlock(&gInputLock);
    PlatEventDestroy(signal);
    signal = nullptr;
  }
};
thread_local InputSlot tInput;

void* Trampoline(void* arg) {
  PlatThread* h = static_cast<PlatThread*>(arg);
  pthread_mutex_lock(&h->lock);
  h->tid = KernelTid();
  ApplyNice(h);
  pthread_mutex_unlock(&h->lock);
  // The input signal registered for this thread by its creator.
  tInput.signal = h->input;
  int32_t code = h->proc(h->context);
  pthread_mutex_lock(&h->lock);
  h->exitCode = uint32_t(code);
  h->ended = true;
  pthread_mutex_unlock(&h->lock);
  __atomic_store_n(&h->endedWord, 1, __ATOMIC_RELEASE);
  syscall(SYS_futex, &h->endedWord, FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
  Release(h);
  return nullptr;
}

}  // namespace

int PlatThreadCreate(PlatThreadProc proc, void* context, PlatThread** handle, uint32_t* id) {
  if (!proc || !handle) return EINVAL;
  PlatThread* h = NewHandle();
  if (!h) return ENOMEM;
  h->joinable = true;
  h->proc = proc;
  h->context = context;
  h->refs.store(2, std::memory_order_relaxed);
  h->input = PlatEventCreate(false);
  if (!h->input) {
    h->refs.store(1, std::memory_order_relaxed);
    Release(h);
    return ENOMEM;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, kPlatThreadStack);
  // The input signal is registered before anyone learns the thread's id, so
  // no raise is lost; the lock keeps the thread from unregistering it first.
  pthread_mutex_lock(&gInputLock);
  int err = pthread_create(&h->thread, &attr, Trampoline, h);
  if (err == 0) {
    if (!gInputs) gInputs = new std::vector<InputEntry>();
    gInputs->push_back(InputEntry{uint32_t(h->thread), h->input});
  }
  pthread_mutex_unlock(&gInputLock);
  pthread_attr_destroy(&attr);
  if (err != 0) {
    PlatEventDestroy(h->input);
    h->refs.store(1, std::memory_order_relaxed);
    Release(h);
    return err;
  }
  h->id = uint32_t(h->thread);
  *handle = h;
  if (id) *id = h->id;
  return 0;
}

PlatThread* PlatThreadOpenCurrent() {
  PlatThread* h = NewHandle();
  if (!h) return nullptr;
  h->thread = pthread_self();
  h->id = uint32_t(h->thread);
  h->tid = KernelTid();
  h->refs.store(1, std::memory_order_relaxed);
  return h;
}

uint32_t PlatThreadCurrentId() { return uint32_t(pthread_self()); }

uint32_t PlatThreadId(const PlatThread* h) { return h ? uint32_t(h->thread) : 0; }

bool PlatThreadIsCurrent(const PlatThread* h) {
  return h && pthread_equal(h->thread, pthread_self());
}

int PlatThreadExitCode(PlatThread* h, uint32_t* code) {
  if (!h || !code) return EINVAL;
  pthread_mutex_lock(&h->lock);
  *code = h->ended ? h->exitCode : kPlatStillActive;
  pthread_mutex_unlock(&h->lock);
  return 0;
}

int PlatThreadWaitEnd(PlatThread* h, uint32_t timeoutMs) {
  if (!h) return EINVAL;
  if (PlatThreadIsCurrent(h)) return EDEADLK;
  if (!h->joinable) {
    // Nothing tells when a thread that was not started here ends.
    if (timeoutMs != kPlatWaitForever) PlatSleepMs(timeoutMs);
    return ETIMEDOUT;
  }
  uint64_t deadline = PlatMonotonicUs() + uint64_t(timeoutMs) * 1000u;
  for (;;) {
    pthread_mutex_lock(&h->lock);
    bool ended = h->ended;
    pthread_mutex_unlock(&h->lock);
    if (ended) return 0;
    struct timespec left;
    struct timespec* limit = nullptr;
    if (timeoutMs != kPlatWaitForever) {
      uint64_t now = PlatMonotonicUs();
      if (now >= deadline) return ETIMEDOUT;
      uint64_t us = deadline - now;
      left.tv_sec = time_t(us / 1000000u);
      left.tv_nsec = long(us % 1000000u) * 1000L;
      limit = &left;
    }
    // The futex time-out is relative and runs on the monotonic clock.
    // Returns at once when the word is 1 already.
    syscall(SYS_futex, &h->endedWord, FUTEX_WAIT_PRIVATE, 0, limit, nullptr, 0);
  }
}

int PlatThreadClose(PlatThread* h) {
  if (!h) return EINVAL;
  int err = 0;
  if (h->joinable) {
    pthread_mutex_lock(&h->lock);
    bool ended = h->ended;
    pthread_mutex_unlock(&h->lock);
    // An ended thread is only finishing its return: joining it is quick.
    err = ended && !PlatThreadIsCurrent(h) ? pthread_join(h->thread, nullptr) : pthread_detach(h->thread);
  }
  Release(h);
  return err;
}

int PlatThreadSetPriority(PlatThread* h, int32_t priority) {
  if (!h) return EINVAL;
  pthread_mutex_lock(&h->lock);
  h->priority = priority;
  h->priorityAsked = true;
  ApplyNice(h);
  pthread_mutex_unlock(&h->lock);
  return 0;
}

int32_t PlatThreadGetPriority(const PlatThread* h) {
  if (!h) return 0;
  PlatThread* m = const_cast<PlatThread*>(h);
  pthread_mutex_lock(&m->lock);
  int32_t p = m->priority;
  pthread_mutex_unlock(&m->lock);
  return p;
}

int32_t PlatProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n < 1 ? 1 : int32_t(n);
}

void PlatThreadRegisterInput() {
  if (tInput.signal) return;
  PlatEvent* signal = PlatEventCreate(false);
  if (!signal) return;
  uint32_t id = PlatThreadCurrentId();
  pthread_mutex_lock(&gInputLock);
  if (!gInputs) gInputs = new std::vector<InputEntry>();
  gInputs->push_back(InputEntry{id, signal});
  pthread_mutex_unlock(&gInputLock);
  tInput.signal = signal;
}

bool PlatThreadRaiseInput(uint32_t threadId) {
  bool found = false;
  pthread_mutex_lock(&gInputLock);
  if (gInputs) {
    for (const InputEntry& e : *gInputs) {
      if (e.id == threadId) {
        found = PlatEventSet(e.signal);
        break;
      }
    }
  }
  pthread_mutex_unlock(&gInputLock);
  return found;
}

namespace {
thread_local int tSourceFd = -1;
thread_local PlatWaitSourceProc tSourceProc = nullptr;
}  // namespace

void PlatThreadSetWaitSource(int fd, PlatWaitSourceProc proc) {
  tSourceFd = proc ? fd : -1;
  tSourceProc = fd >= 0 ? proc : nullptr;
}

void PlatThreadPumpWaitSource(bool read) {
  if (tSourceProc) tSourceProc(read);
}

int32_t PlatWaitEventOrInput(PlatEvent* ev, uint32_t timeoutMs) {
  PlatThreadRegisterInput();
  if (tSourceFd < 0 || !ev) return PlatEventWaitEither(ev, tInput.signal, timeoutMs);
  const bool forever = timeoutMs == kPlatWaitForever;
  const uint64_t deadline = forever ? 0 : PlatMonotonicUs() + uint64_t(timeoutMs) * 1000u;
  for (;;) {
    // The source's procedure reads what is buffered and raises the signal
    // for what it queued, so nothing read ahead is left waiting.
    if (tSourceProc) tSourceProc(true);
    const int32_t r = PlatEventWaitEither(ev, tInput.signal, 0);
    if (r != kPlatWaitTimeout) return r;
    int wait = -1;
    if (!forever) {
      const uint64_t now = PlatMonotonicUs();
      if (now >= deadline) return kPlatWaitTimeout;
      const uint64_t ms = (deadline - now + 999) / 1000;
      wait = ms > uint64_t(INT32_MAX) ? INT32_MAX : int(ms);
    }
    struct pollfd fds[3] = {{PlatEventFd(ev), POLLIN, 0}, {PlatEventFd(tInput.signal), POLLIN, 0},
                            {tSourceFd, POLLIN, 0}};
    if (poll(fds, 3, wait) < 0 && errno != EINTR) return kPlatWaitFailed;
  }
}

// ---- Thread-exit callbacks and the process-wide barrier ----------------------

int32_t PlatThreadExitSlot(PlatThreadExitProc proc) {
  pthread_key_t key;
  if (pthread_key_create(&key, proc) != 0) return -1;
  return int32_t(key);
}

void PlatThreadSetExitValue(int32_t slot, void* value) {
  if (slot >= 0) pthread_setspecific(pthread_key_t(slot), value);
}

namespace {

// The host's barrier: 1 usable, -1 not available, 0 not yet asked.
std::atomic<int32_t> gBarrierState{0};
constexpr int kMembarrierPrivateExpedited = 1 << 3;
constexpr int kMembarrierRegisterPrivateExpedited = 1 << 4;

// Without the host's barrier, changing the protection of a page the process
// has touched makes the host interrupt every processor that runs one of its
// threads to flush its view of the page, which orders their memory accesses.
void ProtectionBarrier() {
  static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  static void* page = nullptr;
  pthread_mutex_lock(&lock);
  long sz = sysconf(_SC_PAGESIZE);
  if (!page) {
    page = mmap(nullptr, size_t(sz), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) page = nullptr;
  }
  if (page) {
    mprotect(page, size_t(sz), PROT_READ | PROT_WRITE);
    *static_cast<volatile char*>(page) = 1;
    mprotect(page, size_t(sz), PROT_NONE);
  }
  pthread_mutex_unlock(&lock);
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
}

}  // namespace

void PlatProcessBarrier() {
  // Valgrind runs one thread at a time: a fence of the caller is enough.
  if (RUNNING_ON_VALGRIND) {
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    return;
  }
  int32_t st = gBarrierState.load(std::memory_order_acquire);
  if (st == 0) {
    st = syscall(SYS_membarrier, kMembarrierRegisterPrivateExpedited, 0, 0) == 0 ? 1 : -1;
    gBarrierState.store(st, std::memory_order_release);
  }
  if (st == 1 && syscall(SYS_membarrier, kMembarrierPrivateExpedited, 0, 0) == 0) return;
  ProtectionBarrier();
}
