// Whether the tests run under user-mode emulation of i386 (QEMU), as they do
// on an x86-64 kernel without 32-bit support.  A handful of checks look at
// what only a real i386 process shows (the x87 unit's own transcendental
// results, kernel views of the process such as /proc/<tid>/syscall, ptrace):
// they skip there and say why.
#ifndef QX_TESTS_EMULATION_H
#define QX_TESTS_EMULATION_H

#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>

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

}  // namespace qxtest

#define QX_SKIP_UNDER_EMULATION(why)                                       \
  do {                                                                     \
    if (::qxtest::UnderUserModeEmulation()) GTEST_SKIP() << "emulated i386: " << (why); \
  } while (0)

#endif
