// The managers the I/O tests stand on, started once per test process.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <mutex>

#include "engine/exec_test_support.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/thread.h"
#include "io/netconn.h"
#include "mgsource/datetime.h"
#include "platform/qx_defproc.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_socket.h"

inline void IOTestStartManagers() {
  // The engine tests' start of the managers: the zones, threads and
  // occurrences are made once, whichever kind of test runs first.
  qxexectest::StartThreadManagers();
}

// Loopback peers and the frame window's socket messages, for the network tests.
namespace iotest {

// The frame window's procedure as the window manager will have it.
inline intptr_t FrameProc(PlatWindow w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == kNCSocketMessage) {
    NCSocketEvent(uInt32(wParam), uInt32(lParam));
    return 0;
  }
  return PlatDefWindowProc(w, message, wParam, lParam);
}

// Delivers socket messages and runs occurrence handlers until cond holds or
// ms have passed.
inline bool Pump(const std::function<bool()>& cond, int ms = 5000) {
  uInt32 end = MilliSecs() + uInt32(ms);
  for (;;) {
    PlatMsg m;
    while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) PlatDispatchMessage(&m);
    ChkOccurrences();
    if (cond()) return true;
    if (MillisecCmp(MilliSecs(), end) > 0) return false;
    usleep(200);
  }
}

// The listener's port, network order.
inline uInt16 Port(Cookie listener) {
  int32 s = -1;
  uInt16 port = 0;
  if (NCConnSocket(listener, &s) == 0) PlatSockLocalPort(s, &port);
  return port;
}

// A blocking client socket of the peer, connected to the port on loopback.
inline int RawConnect(uInt16 port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = port;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A blocking listening socket on loopback at a port the system picks; the
// port in host order goes to *port.
inline int RawListen(int* port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(fd, 4);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin_port);
  return fd;
}

}  // namespace iotest
