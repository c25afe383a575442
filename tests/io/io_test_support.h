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
#include "tests/loopback.h"
#include "tests/socket_frame.h"

inline void IOTestStartManagers() {
  // The engine tests' start of the managers: the zones, threads and
  // occurrences are made once, whichever kind of test runs first.
  qxexectest::StartThreadManagers();
}

// Loopback peers and the frame window's socket messages, for the network tests.
namespace iotest {

using qxframe::FrameProc;

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

// A blocking client socket of the peer, connected to the port (network
// order) on loopback.
inline int RawConnect(uInt16 port) { return qxloop::Connect(ntohs(port)); }

// A blocking listening socket on loopback at a port the system picks; the
// port in host order goes to *port.
inline int RawListen(int* port) { return qxloop::Listen(port); }

}  // namespace iotest
