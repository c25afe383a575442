#include "qx_portio.h"

#include <sys/io.h>

#include <atomic>
#include <bitset>
#include <cstdlib>
#include <cstring>

#include "qx_debugout.h"

namespace {

std::atomic<bool> gForceSimulated{false};
std::atomic<bool> gNoticeWritten{false};

// The switch is read once: the environment is not changed while ports are used.
bool SwitchOn() {
  static const bool on = [] {
    const char* v = std::getenv("QX_REAL_PORT_IO");
    return v && std::strcmp(v, "1") == 0;
  }();
  return on;
}

// The host grants port access per thread: ioperm for the ports below 0x400,
// the I/O privilege level for the others.  Each answer is kept so that a
// refused port is not asked again on every access.
constexpr uint32_t kPermPorts = 0x400;
thread_local std::bitset<kPermPorts> tGranted;
thread_local std::bitset<kPermPorts> tRefused;
thread_local int tPrivilege = 0;  // 0 not asked yet, 1 granted, -1 refused

bool Granted(uint16_t port, uint32_t width) {
  if (uint32_t(port) + width <= kPermPorts) {
    bool all = true;
    for (uint32_t p = port; p < port + width; ++p) {
      if (tRefused[p]) return false;
      all = all && tGranted[p];
    }
    if (all) return true;
    bool ok = ioperm(port, width, 1) == 0;
    for (uint32_t p = port; p < port + width; ++p) (ok ? tGranted : tRefused).set(p);
    return ok;
  }
  if (tPrivilege == 0) tPrivilege = iopl(3) == 0 ? 1 : -1;
  return tPrivilege > 0;
}

bool RealAccess(uint16_t port, uint32_t width) {
  if (!gForceSimulated.load(std::memory_order_relaxed) && SwitchOn() && Granted(port, width)) return true;
  if (!gNoticeWritten.exchange(true)) {
    PlatDebugOutput("port I/O is simulated: reads give 0 and writes are dropped "
                    "(QX_REAL_PORT_IO=1 and the host's permission use the ports)\n");
  }
  return false;
}

}  // namespace

void PlatPortForceSimulated(bool on) { gForceSimulated.store(on); }
bool PlatPortNoticeWritten() { return gNoticeWritten.load(); }
void PlatPortResetNotice() { gNoticeWritten.store(false); }

uint8_t PlatPortIn8(uint16_t port) {
  if (!RealAccess(port, 1)) return 0;
  uint8_t v;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(v) : "Nd"(port));
  return v;
}

uint16_t PlatPortIn16(uint16_t port) {
  if (!RealAccess(port, 2)) return 0;
  uint16_t v;
  __asm__ __volatile__("inw %w1, %w0" : "=a"(v) : "Nd"(port));
  return v;
}

void PlatPortOut8(uint16_t port, uint8_t value) {
  if (!RealAccess(port, 1)) return;
  __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port));
}

void PlatPortOut16(uint16_t port, uint16_t value) {
  if (!RealAccess(port, 2)) return;
  __asm__ __volatile__("outw %w0, %w1" : : "a"(value), "Nd"(port));
}

int _inp(unsigned short port) { return PlatPortIn8(port); }
unsigned short _inpw(unsigned short port) { return PlatPortIn16(port); }

int _outp(unsigned short port, int value) {
  PlatPortOut8(port, uint8_t(value));
  return uint8_t(value);
}

unsigned short _outpw(unsigned short port, unsigned short value) {
  PlatPortOut16(port, value);
  return value;
}
