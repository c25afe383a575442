// A built application talks TCP through its own main loop: the socket
// notifications of the frame window reach the connection manager, so a
// read that went pending completes when the peer's late line arrives and a
// listener wait ends when a peer connects, each well before its time-out.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "builtapp.h"
#include "engine/vi/virecord.h"
#include "mgsource/memory.h"
#include "tools/runvi.h"
#include "tools/vifile.h"

namespace {

using Clock = std::chrono::steady_clock;

long Since(Clock::time_point t) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Bytes from fd until the text ends with CR LF, the peer closes or the
// deadline passes.
std::string ReadLine(int fd, Clock::time_point deadline) {
  std::string line;
  while (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) {
    const long left = long(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, int(left)) <= 0) break;
    char c;
    if (recv(fd, &c, 1, 0) != 1) break;
    line += c;
  }
  return line;
}

int ListenAny(int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);  // the VI names no host: this machine's
  socklen_t len = sizeof a;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(fd, 1) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return -1;
  *port = ntohs(a.sin_port);
  return fd;
}

rsrcw::Bytes TCPVI(const char* name, runvi::Clumps kind, int port) {
  // The panel writer keeps its heap in the memory manager's zones.
  EXPECT_EQ(MemInit(), kNoErr);
  // Its panel opens: a shown window keeps the application open while the
  // VI waits.
  vif::VIFile v = runvi::File(name, kind, 1, kVIFlagRunWhenOpened | kVIFlagOpenPanel);
  v.defaultWords.push_back({runvi::kTCPPort, port});
  return vif::WriteWithPanel(v);
}

// The program runs Echo.vi: it connects to the test's peer, writes its
// query and reads a line that comes 200 ms later, writes the line back and
// quits.  The line read goes back well before the read's time-out.
TEST(TCPApp, ALateLineReachesTheVIBeforeItsTimeOut) {
  TempFolder tmp("qxtcpapp");
  int port = 0;
  const int listener = ListenAny(&port);
  ASSERT_GE(listener, 0);
  const std::string program =
      builtapp::Build(tmp.Dir(), "echo", {{"Echo.vi", TCPVI("Echo.vi", runvi::Clumps::kTCPEcho, port), archfmt::kFlagTopLevel}});
  FILE* run = popen(builtapp::Command(tmp.Dir(), program, "", 90).c_str(), "r");
  ASSERT_NE(run, nullptr);
  pollfd p{listener, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 60000), 1) << "no connection from the VI\n" << builtapp::Err(tmp.Dir());
  const int peer = accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  EXPECT_EQ(ReadLine(peer, Clock::now() + std::chrono::seconds(10)), "*IDN?\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string answer = "QX,1\r\n";
  ASSERT_EQ(send(peer, answer.data(), answer.size(), 0), ssize_t(answer.size()));
  const auto sent = Clock::now();
  const std::string echo = ReadLine(peer, sent + std::chrono::seconds(5));
  const long took = Since(sent);
  EXPECT_EQ(echo, answer);
  // The read's time-out is 10 s: a loaded machine may take seconds over a
  // wake-up, never that long.
  EXPECT_LT(took, 3000) << "the line waited for the read's time-out";
  close(peer);
  close(listener);
  const int status = pclose(run);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << builtapp::Err(tmp.Dir());
}

// The program runs Serve.vi: it listens on a port and waits for a peer;
// the test connects and is written the VI's line well before the wait's
// time-out.
TEST(TCPApp, AListenerAcceptsItsPeerBeforeItsTimeOut) {
  TempFolder tmp("qxtcpsrv");
  int port = 0;
  const int probe = ListenAny(&port);
  ASSERT_GE(probe, 0);
  close(probe);
  const std::string program =
      builtapp::Build(tmp.Dir(), "serve", {{"Serve.vi", TCPVI("Serve.vi", runvi::Clumps::kTCPServe, port), archfmt::kFlagTopLevel}});
  FILE* run = popen(builtapp::Command(tmp.Dir(), program, "", 90).c_str(), "r");
  ASSERT_NE(run, nullptr);
  int peer = -1;
  Clock::time_point connected;
  for (const auto start = Clock::now(); peer < 0 && Since(start) < 60000;) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      peer = fd;
      connected = Clock::now();
    } else {
      close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ASSERT_GE(peer, 0) << "the VI never listened\n" << builtapp::Err(tmp.Dir());
  const std::string line = ReadLine(peer, connected + std::chrono::seconds(5));
  const long took = Since(connected);
  EXPECT_EQ(line, "*IDN?\r\n");
  // The wait's time-out is 5 s: a loaded machine may take seconds over a
  // wake-up, never that long.
  EXPECT_LT(took, 3000) << "the wait ended at its time-out";
  close(peer);
  const int status = pclose(run);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << builtapp::Err(tmp.Dir());
}

}  // namespace
