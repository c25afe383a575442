// Whether the tests run under user-mode emulation of i386 (QEMU), as they do
// on an x86-64 kernel without 32-bit support.  A handful of checks look at
// what only a real i386 process shows (the x87 unit's own transcendental
// results, kernel views of the process such as /proc/<tid>/syscall, ptrace):
// they skip there and say why.
#ifndef QX_TESTS_EMULATION_H
#define QX_TESTS_EMULATION_H

#include <signal.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace qxtest {

// The emulator answers uname() with the guest's machine; a native i386
// process on an x86-64 kernel sees x86_64.  The registered handler tells an
// emulated process from one on a real 32-bit kernel.
inline bool UnderUserModeEmulation() {
  static const bool emulated = [] {
    struct utsname u {};
    if (uname(&u) != 0) return false;
    return std::strcmp(u.machine, "x86_64") != 0 && access("/proc/sys/fs/binfmt_misc/qemu-i386", F_OK) == 0;
  }();
  return emulated;
}

// The emulator keeps one descriptor table for all threads of a process, and
// a thread returning from a signal handler reloads its thread register from
// it: it comes back with the thread-local storage of the thread started
// last (its own identity, errno, allocator caches).  A process that has
// started threads and then takes a signal on another of them is damaged
// there; a real kernel keeps the register per thread.  A test raising a
// signal at itself therefore raises it, when emulated, from a thread started
// for that purpose (the one started last, which gets its own storage back);
// natively it raises it on the calling thread.
inline int RaiseSignal(int sig) {
  if (!UnderUserModeEmulation()) return raise(sig);
  int result = -1;
  std::thread([&] { result = raise(sig); }).join();
  return result;
}

// Ends a child started by the test with sig and reaps it (pid negative: its
// process group, reaping -pid).  A signal that a program handles on a thread
// other than the one started last leaves it damaged when emulated (see
// above), so there it may never end: after a grace period (5 s) the group or
// process is killed.  Natively the wait is as before, unbounded.
inline void EndChild(pid_t pid, int sig, int* status = nullptr) {
  const pid_t child = pid < 0 ? -pid : pid;
  auto reap = [child](int* got, int options) {
    pid_t r;
    while ((r = waitpid(child, got, options)) < 0 && errno == EINTR) {
    }
    return r;
  };
  int got = 0;
  kill(pid, sig);
  if (UnderUserModeEmulation()) {
    pid_t ended = 0;
    for (int i = 0; i < 500 && (ended = reap(&got, WNOHANG)) == 0; ++i) usleep(10000);
    if (ended == 0) {
      kill(pid, SIGKILL);
      reap(&got, 0);
    }
    // What the leader leaves of its group (a program under a wrapper that
    // has gone) goes too.
    if (pid < 0) kill(pid, SIGKILL);
  } else {
    reap(&got, 0);
  }
  if (status) *status = got;
}

}  // namespace qxtest

#define QX_SKIP_UNDER_EMULATION(why)                                       \
  do {                                                                     \
    if (::qxtest::UnderUserModeEmulation()) GTEST_SKIP() << "emulated i386: " << (why); \
  } while (0)

#endif
