// TCP connections over real loopback sockets: the read modes, the rules of
// pending operations, failures, record recycling and shut-down, and many
// connections on the one notifier thread.  The peer is plain sockets of the
// test; one pump delivers the frame window's socket messages and runs the
// occurrence handlers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/netconn.h"
#include "io_test_support.h"
#include "mgsource/config_test_file.h"
#include "mgsource/datetime.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/thread.h"
#include "mgsource/window/wmisc.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_netdb.h"
#include "platform/qx_socket.h"
#include "rtlib/filehooks.h"
#include "rtlib/filerefnum.h"

namespace {

using namespace iotest;

bool UnderValgrind() { return std::getenv("QX_UNDER_VALGRIND") != nullptr; }


struct Done {
  NCCompletionInfo info;
  Cookie conn;
};
std::vector<Done> gDone;  // completions, on the pumping thread only

MgErr Record(NCCompletionInfo* info, Cookie conn) {
  gDone.push_back(Done{*info, conn});
  return 0;
}

int32 CountOf(int32 data) {
  int32 n = 0;
  for (const Done& d : gDone) n += d.info.data == data;
  return n;
}
const Done* Find(int32 data) {
  for (const Done& d : gDone)
    if (d.info.data == data) return &d;
  return nullptr;
}


int32 CountFds() {
  int32 n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}
int32 CountThreads() {
  int32 n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}



void RawSend(int fd, const std::string& s) {
  if (s.empty()) return;
  ASSERT_EQ(send(fd, s.data(), s.size(), MSG_NOSIGNAL), ssize_t(s.size()));
}

NCAddress Loopback(uInt16 port) { return NCAddress{0, htonl(INADDR_LOOPBACK), port}; }

class NetConn : public ::testing::Test {
 protected:
  void SetUp() override {
    IOTestStartManagers();
    static std::once_flag once;
    std::call_once(once, [] { PlatRegisterClass(PlatWindowClass{"NCFrame", FrameProc, 0, kPlatNoBrush}); });
    frame_ = PlatCreateWindow("NCFrame", "frame", 0, 0, PlatRect{0, 0, 10, 10}, 0);
    ASSERT_NE(frame_, PlatWindow(0));
    PlatSetFrameWindow(frame_);
    CfgTestRemoveValue("netconn");
    gDone.clear();
  }
  void TearDown() override {
    NCShutdown();
    for (int fd : peers_)
      if (fd >= 0) close(fd);
    PlatDestroyWindow(frame_);
    CfgTestRemoveValue("netconn");
    gDone.clear();
  }

  // A listener on a free loopback port.
  Cookie Listen() {
    NCAddress any{0, 0, 0};
    Cookie l = 0;
    EXPECT_EQ(NCOpenListener(&any, &l), 0);
    return l;
  }
  // A connection accepted from a peer socket, which *peer gets.
  Cookie Accept(Cookie listener, int* peer) {
    *peer = RawConnect(Port(listener));
    peers_.push_back(*peer);
    Cookie c = 0;
    NCAddress from{};
    MgErr err = NCWaitOnListener(listener, -1, Record, 900, &c, &from);
    if (err == 55) {
      EXPECT_TRUE(Pump([] { return CountOf(900) > 0; }));
      const Done* d = Find(900);
      c = d ? Cookie(d->info.words[0]) : 0;
      gDone.clear();
    }
    return c;
  }
  // One read to its end: the result and the bytes delivered.
  std::pair<MgErr, std::string> Read(Cookie c, int32 mode, int32 count, int32 timeout) {
    std::vector<char> buf(size_t(count > 0 ? count : 1));
    int32 n = count;
    MgErr err = NCReadConn(c, reinterpret_cast<UPtr>(buf.data()), &n, timeout, Record, 501, mode);
    if (err == 55) {
      EXPECT_TRUE(Pump([] { return CountOf(501) > 0; }));
      const Done* d = Find(501);
      if (!d) return {-1, ""};
      EXPECT_EQ(d->info.kind, kNCKindRead);
      EXPECT_EQ(d->info.words[0], count);
      err = d->info.result;
      n = d->info.words[1];
      gDone.clear();
    }
    return {err, std::string(buf.data(), size_t(n > 0 ? n : 0))};
  }

  PlatWindow frame_ = 0;
  std::vector<int> peers_;
};

// 1. The read modes and their edge cases, one connection per case.
TEST_F(NetConn, ReadModesDeliverAndKeepBytesAsTheModeSays) {
  struct Case {
    const char* name;
    std::vector<std::string> script;  // chunks the peer sends, 5 ms apart
    int ending;                       // 0 the peer stalls, 1 closes, 2 resets
    int32 mode, count, timeout;
    MgErr result;
    std::string bytes;
    int32 nextMode, nextCount;  // then a read with time-out 0
    MgErr nextResult;
    std::string next;
  } cases[] = {
      {"two lines", {"ab\r\ncd\r\n"}, 0, 2, 100, 1000, 0, "ab\r\n", 2, 100, 0, "cd\r\n"},
      {"line split across chunks", {"ab\r", "\nc"}, 0, 2, 100, 1000, 0, "ab\r\n", 3, 10, 0, "c"},
      {"line without CR LF ends at the count", {"abcdef"}, 0, 2, 4, 1000, 0, "abcd", 0, 2, 0, "ef"},
      {"line that stalls keeps its bytes", {"abc"}, 0, 2, 10, 100, 56, "", 0, 3, 0, "abc"},
      {"buffered mode that times out keeps its bytes", {"abc"}, 0, 1, 10, 100, 56, "", 0, 3, 0, "abc"},
      {"standard mode delivers what came before the time-out", {"abc"}, 0, 0, 10, 100, 56, "abc", 0, 1, 56, ""},
      {"nothing there at time-out 0", {}, 0, 0, 5, 0, 56, "", 3, 5, 56, ""},
      {"immediate mode takes what is there", {"xyz"}, 0, 3, 10, -1, 0, "xyz", 3, 5, 56, ""},
      {"immediate mode with nothing times out", {}, 0, 3, 10, 100, 56, "", 0, 0, 0, ""},
      {"close mid-message delivers the bytes so far", {"hello"}, 1, 0, 10, 1000, 66, "hello", 0, 4, 66, ""},
      {"line mode at a close", {"par"}, 1, 2, 10, 1000, 66, "par", 0, 4, 66, ""},
      {"reset", {}, 2, 0, 10, 1000, 66, "", 0, 4, 66, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Cookie l = Listen();
    int peer = -1;
    Cookie c = Accept(l, &peer);
    ASSERT_NE(c, 0u);
    std::thread t([&] {
      for (const std::string& s : k.script) {
        RawSend(peer, s);
        usleep(5000);
      }
      if (k.ending == 1) shutdown(peer, SHUT_WR);
      if (k.ending == 2) {
        // A close with a zero linger time resets the connection.
        linger lg{1, 0};
        setsockopt(peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        close(peer);
        for (int& p : peers_)
          if (p == peer) p = -1;
      }
    });
    // Time-out 0 reads find what the peer sent; so do reads that end in a
    // time-out, whose bytes must be there before it on a loaded machine too.
    if (k.timeout == 0 || k.result == 56) t.join();
    auto [result, bytes] = Read(c, k.mode, k.count, k.timeout);
    if (t.joinable()) t.join();
    EXPECT_EQ(result, k.result);
    EXPECT_EQ(bytes, k.bytes);
    auto [r2, b2] = Read(c, k.nextMode, k.nextCount, 0);
    EXPECT_EQ(r2, k.nextResult);
    EXPECT_EQ(b2, k.next);
    EXPECT_EQ(NCClose(c), 0);
    EXPECT_EQ(NCClose(l), 0);
  }
}

// A socket found empty is not asked again until an event comes: later reads
// still end by the bytes, the close, or (time-out 0) a look at the socket.
TEST_F(NetConn, ReadsAfterTheSocketRanDryEndByWhatComesNext) {
  struct Step {
    const char* send;  // the peer sends this, then 1: closes its side
    int close, loopMs;  // the loop runs this long before the read
    int32 count, timeout;
    MgErr result;
    const char* bytes;
  } steps[] = {{"headDATA!", 0, 0, 4, -1, 0, "head"}, {"", 0, 0, 5, -1, 0, "DATA!"}, {"quick", 0, 0, 5, 0, 0, "quick"},
               {"late", 0, 50, 4, -1, 0, "late"},     {"", 1, 50, 3, -1, 66, ""}};
  Cookie l = Listen();
  int peer = -1;
  Cookie c = Accept(l, &peer);
  for (const Step& k : steps) {
    SCOPED_TRACE(k.bytes);
    RawSend(peer, k.send);
    if (k.close) shutdown(peer, SHUT_WR);
    usleep(20000);
    if (k.loopMs) Pump([] { return false; }, k.loopMs);
    EXPECT_EQ(Read(c, 0, k.count, k.timeout), std::make_pair(k.result, std::string(k.bytes)));
  }
  EXPECT_EQ(NCClose(c), 0);
  EXPECT_EQ(NCClose(l), 0);
}

// The argument edge cases of reads and writes.
TEST_F(NetConn, ReadAndWriteArgumentsAreCheckedBeforeTheConnection) {
  Cookie l = Listen();
  int peer = -1;
  Cookie c = Accept(l, &peer);
  char buf[8];
  struct Case {
    bool write;
    Cookie conn;
    UPtr buffer;
    int32 count, timeout;
    MgErr result;
  } cases[] = {
      {true, 0, nullptr, 0, -1, 0},  // a write of 0 touches nothing, not even the cookie
      {true, c, reinterpret_cast<UPtr>(buf), -1, -1, 1},
      {true, c, nullptr, 4, -1, 1},
      {true, c, reinterpret_cast<UPtr>(buf), 4, -2, 1},
      {false, c, reinterpret_cast<UPtr>(buf), -1, -1, 1},
      {false, c, nullptr, 4, -1, 1},
      {false, c, reinterpret_cast<UPtr>(buf), 4, -2, 1},
      {false, c + 1, reinterpret_cast<UPtr>(buf), 4, -1, 1},
      {false, c, reinterpret_cast<UPtr>(buf), 0, 0, 0},
  };
  for (const Case& k : cases) {
    int32 n = k.count;
    MgErr err = k.write ? NCWriteConn(k.conn, k.buffer, &n, k.timeout, Record, 1)
                        : NCReadConn(k.conn, k.buffer, &n, k.timeout, Record, 1, 0);
    EXPECT_EQ(err, k.result) << k.write << " " << k.count;
    if (k.result) {
      EXPECT_EQ(n, 0);
    }
  }
  EXPECT_TRUE(gDone.empty());
}

// 2. The rules of pending operations.
TEST_F(NetConn, ConcurrentReadsAreRefusedAndACloseEndsThePendingReadOnce) {
  Cookie l = Listen();
  int peer = -1;
  Cookie c = Accept(l, &peer);
  char a[4], b[4];
  int32 n = 4;
  ASSERT_EQ(NCReadConn(c, reinterpret_cast<UPtr>(a), &n, -1, Record, 7, 0), 55);
  n = 4;
  EXPECT_EQ(NCReadConn(c, reinterpret_cast<UPtr>(b), &n, -1, Record, 8, 0), 57);
  // A write at the same time is accepted and finishes at once.
  n = 3;
  EXPECT_EQ(NCWriteConn(c, reinterpret_cast<UPtr>(const_cast<char*>("xyz")), &n, -1, Record, 9), 0);
  EXPECT_EQ(n, 3);
  char got[3];
  ASSERT_EQ(recv(peer, got, 3, MSG_WAITALL), 3);
  // A second wait on a listener with a wait registered.
  Cookie out = 0;
  ASSERT_EQ(NCWaitOnListener(l, -1, Record, 10, &out, nullptr), 55);
  EXPECT_EQ(NCWaitOnListener(l, -1, Record, 11, &out, nullptr), 60);
  EXPECT_EQ(NCClose(c), 0);
  EXPECT_EQ(NCClose(c), 1);
  ASSERT_EQ(CountOf(7), 1);
  const Done* d = Find(7);
  EXPECT_EQ(d->info.kind, kNCKindRead);
  EXPECT_EQ(d->info.result, 66);
  EXPECT_EQ(d->conn, c);
  // Closing the listener ends its wait the same way.
  EXPECT_EQ(NCCloseListener(l), 0);
  ASSERT_EQ(CountOf(10), 1);
  EXPECT_EQ(Find(10)->info.kind, kNCKindAccept);
  EXPECT_EQ(Find(10)->info.result, 66);
  Pump([] { return false; }, 50);
  EXPECT_EQ(gDone.size(), 2u) << "nothing more, and nothing for the refused calls";
}

TEST_F(NetConn, EarlyConnectionsAreHandedOutInOrderAtOnce) {
  Cookie l = Listen();
  uInt16 port = Port(l);
  int p1 = RawConnect(port);
  peers_.push_back(p1);
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(p1, reinterpret_cast<sockaddr*>(&a), &len);
  ASSERT_TRUE(Pump([&] { return NCTestRecordCounts().conns - NCTestRecordCounts().freeConns >= 2; }));
  int p2 = RawConnect(port);
  peers_.push_back(p2);
  ASSERT_TRUE(Pump([&] { return NCTestRecordCounts().conns - NCTestRecordCounts().freeConns >= 3; }));
  Cookie c1 = 0, c2 = 0;
  NCAddress from{};
  ASSERT_EQ(NCWaitOnListener(l, 0, Record, 1, &c1, &from), 0);
  EXPECT_EQ(from.port, a.sin_port) << "the first peer first";
  EXPECT_EQ(from.address, htonl(INADDR_LOOPBACK));
  EXPECT_EQ(from.reserved, 0u);
  ASSERT_EQ(NCWaitOnListener(l, 0, Record, 2, &c2, &from), 0);
  EXPECT_NE(c1, c2);
  EXPECT_TRUE(NCIsAConn(c1) && NCIsAConn(c2));
  NCInstallRefnumHook();
  EXPECT_TRUE(FPIsARefnum(c1, 5, 0)) << "kind 5 asks the connection jar";
  EXPECT_FALSE(FPIsARefnum(c1 + 1, 5, 0));
  EXPECT_EQ(NCWaitOnListener(l, 0, Record, 3, &c1, &from), 56);
  EXPECT_TRUE(gDone.empty());
}

// A completion procedure may start the next read and close the connection.
std::string gChainBytes;
char gChainBuf[16];
MgErr ChainProc(NCCompletionInfo* info, Cookie conn) {
  gDone.push_back(Done{*info, conn});
  if (info->data == 1) {
    gChainBytes.assign(gChainBuf, size_t(info->words[1]));
    int32 n = 16;
    MgErr err = NCReadConn(conn, reinterpret_cast<UPtr>(gChainBuf), &n, 0, ChainProc, 2, 2);
    gChainBytes += "|" + std::to_string(err) + ":" + std::string(gChainBuf, size_t(n));
    n = 16;
    NCReadConn(conn, reinterpret_cast<UPtr>(gChainBuf), &n, -1, ChainProc, 3, 0);
    gChainBytes += "|close " + std::to_string(NCClose(conn));
  }
  return 0;
}

TEST_F(NetConn, ACompletionCanReadAndCloseWithNoMutexHeld) {
  Cookie l = Listen();
  int peer = -1;
  Cookie c = Accept(l, &peer);
  int32 n = 16;
  ASSERT_EQ(NCReadConn(c, reinterpret_cast<UPtr>(gChainBuf), &n, -1, ChainProc, 1, 2), 55);
  RawSend(peer, "one\r\ntwo\r\n");
  ASSERT_TRUE(Pump([] { return CountOf(3) > 0; }));
  EXPECT_EQ(gChainBytes, "one\r\n|0:two\r\n|close 0");
  EXPECT_EQ(Find(3)->info.result, 66);
  EXPECT_FALSE(NCIsAConn(c));
}

// 3. Failures.
// A close on another thread returns only after the completion of its
// connection that is being called has returned.
struct HeldCompletion {
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, returned = false, closeReturned = false, closeSawReturn = false;
} gHeld;

MgErr HoldProc(NCCompletionInfo* info, Cookie conn) {
  gDone.push_back(Done{*info, conn});
  std::unique_lock<std::mutex> lock(gHeld.m);
  gHeld.entered = true;
  gHeld.cv.notify_all();
  // Polled: thread checkers do not follow a timed condition wait.
  for (int ms = UnderValgrind() ? 400 : 150; ms > 0 && !gHeld.closeReturned; --ms) {
    lock.unlock();
    usleep(1000);
    lock.lock();
  }
  gHeld.returned = true;
  return 0;
}

TEST_F(NetConn, ConcurrentCloseWaitsForTheCompletionBeingCalled) {
  Cookie l = Listen();
  int peer = -1;
  Cookie c = Accept(l, &peer);
  char buf[4];
  int32 n = 4;
  ASSERT_EQ(NCReadConn(c, reinterpret_cast<UPtr>(buf), &n, -1, HoldProc, 1, 2), 55);
  MgErr closeErr = -1;
  std::thread closer([&] {
    std::unique_lock<std::mutex> lock(gHeld.m);
    gHeld.cv.wait(lock, [] { return gHeld.entered; });
    lock.unlock();
    closeErr = NCClose(c);
    lock.lock();
    gHeld.closeReturned = true;
    gHeld.closeSawReturn = gHeld.returned;
    gHeld.cv.notify_all();
  });
  RawSend(peer, "ab\r\n");
  // The pump calls the completion, which holds until the close returns or
  // its wait runs out.
  EXPECT_TRUE(Pump([] { return CountOf(1) > 0; }));
  closer.join();
  EXPECT_EQ(closeErr, 0);
  EXPECT_TRUE(gHeld.closeSawReturn) << "the close returned while the completion ran";
  EXPECT_FALSE(NCIsAConn(c));
}

TEST_F(NetConn, ConnectFailuresLeaveNoConnection) {
  // Refused: a port nobody listens on any more.
  Cookie l = Listen();
  uInt16 port = Port(l);
  NCClose(l);
  NCAddress to = Loopback(port);
  Cookie c = 123;
  MgErr err = NCConnectConn(nullptr, &to, Record, 1, 2000, &c);
  if (err == 55) {
    EXPECT_NE(c, 0u) << "the cookie is valid while pending";
    ASSERT_TRUE(Pump([] { return CountOf(1) > 0; }));
    err = Find(1)->info.result;
    EXPECT_EQ(Find(1)->info.kind, kNCKindConnect);
  }
  EXPECT_EQ(err, 63);
  EXPECT_FALSE(NCIsAConn(c));
  // A listener whose accept queue is full does not answer at once.
  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(lfd, 0), 0);
  socklen_t len = sizeof a;
  getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  std::vector<int> fill;
  for (int i = 0; i < 3; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fill.push_back(fd);
  }
  usleep(20000);
  NCRecordCounts before = NCTestRecordCounts();
  to = Loopback(a.sin_port);
  c = 123;
  EXPECT_EQ(NCConnectConn(nullptr, &to, Record, 2, 0, &c), 56);
  EXPECT_EQ(c, 0u);
  NCRecordCounts after = NCTestRecordCounts();
  EXPECT_EQ(after.conns - after.freeConns, before.conns - before.freeConns);
  // With a time-out the attempt is pending until the time-out ends it.
  err = NCConnectConn(nullptr, &to, Record, 3, 150, &c);
  if (err == 55) {
    ASSERT_TRUE(Pump([] { return CountOf(3) > 0; }));
    err = Find(3)->info.result;
  }
  EXPECT_EQ(err, 56);
  EXPECT_FALSE(NCIsAConn(c)) << "a timed-out connect leaves no connection";
  for (int fd : fill) close(fd);
  close(lfd);
}

std::string gLookedUp;
bool Resolver(const char* name, uint32_t* address) {
  gLookedUp = name;
  *address = htonl(0x0A000001);
  return true;
}

TEST_F(NetConn, BadArgumentsAndUnknownNamesAreRefused) {
  Cookie l = Listen();
  int peer = -1;
  Cookie stream = Accept(l, &peer);
  Cookie out = 0;
  struct Case {
    const char* name;
    MgErr got, want;
  } cases[] = {
      {"unknown cookie", NCClose(0x12345), 1},
      {"time-out -2", NCWaitOnListener(l, -2, Record, 1, &out, nullptr), 1},
      {"wait without procedure", NCWaitOnListener(l, -1, nullptr, 1, &out, nullptr), 1},
      {"wait on a stream", NCWaitOnListener(stream, -1, Record, 1, &out, nullptr), 1},
      {"read on a listener", [&] {
         char b[2];
         int32 n = 2;
         return NCReadConn(l, reinterpret_cast<UPtr>(b), &n, 0, Record, 1, 0);
       }(), 57},
      {"socket of no connection", [] {
         int32 s = 0;
         return NCConnSocket(77, &s);
       }(), 1},
  };
  for (const Case& k : cases) EXPECT_EQ(k.got, k.want) << k.name;
  EXPECT_TRUE(gDone.empty());
  // Dotted text that is no address is looked up as a name.
  PlatSetResolverHook(Resolver);
  uInt32 addr = 0;
  uChar all[] = "\017255.255.255.255";
  EXPECT_EQ(NCStrToIP2(all, &addr), 0);
  EXPECT_EQ(gLookedUp, "255.255.255.255");
  EXPECT_EQ(addr, htonl(0x0A000001));
  gLookedUp.clear();
  uChar dotted[] = "\0110.0.0.127";
  EXPECT_EQ(NCStrToIP2(dotted, &addr), 0);
  EXPECT_EQ(gLookedUp, "") << "an address needs no look-up";
  EXPECT_EQ(addr, htonl(0x7F));
  PlatSetResolverHook(nullptr);
  uChar bad[] = "\020no.such.host.qx.";
  EXPECT_EQ(NCStrToIP2(bad, &addr), 54);
  uChar text[256];
  EXPECT_EQ(NCIPToStr2(htonl(0x7F000001), text, 1), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text + 1), text[0]), "127.0.0.1");
}

TEST_F(NetConn, TimeOutsEndWaitsAndWritesWithWhatWasDone) {
  Cookie l = Listen();
  Cookie out = 7;
  NCAddress from{1, 2, 3};
  ASSERT_EQ(NCWaitOnListener(l, 100, Record, 1, &out, &from), 55);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(from.address, 0u) << "outputs are cleared first";
  ASSERT_TRUE(Pump([] { return CountOf(1) > 0; }));
  EXPECT_EQ(Find(1)->info.result, 56);
  EXPECT_EQ(Find(1)->info.words[0], 0);
  // A peer that reads nothing: the write ends at its time-out with the
  // bytes the host took.
  int peer = -1;
  Cookie c = Accept(l, &peer);
  std::vector<char> big(32 << 20, 'q');
  int32 n = int32(big.size());
  MgErr err = NCWriteConn(c, reinterpret_cast<UPtr>(big.data()), &n, 150, Record, 2);
  ASSERT_EQ(err, 55);
  ASSERT_TRUE(Pump([] { return CountOf(2) > 0; }));
  const Done* d = Find(2);
  EXPECT_EQ(d->info.kind, kNCKindWrite);
  EXPECT_EQ(d->info.result, 56);
  EXPECT_GT(d->info.words[1], 0);
  EXPECT_LT(d->info.words[1], int32(big.size()));
  EXPECT_EQ(d->info.words[2], int32(reinterpret_cast<uintptr_t>(big.data())));
}

TEST_F(NetConn, NetworkingSwitchedOffAnswers53ForGood) {
  CfgTestSetValue("netconn", "false");
  NCAddress any{};
  Cookie l = 9;
  EXPECT_EQ(NCOpenListener(&any, &l), 53);
  EXPECT_EQ(l, 0u);
  CfgTestRemoveValue("netconn");
  EXPECT_EQ(NCConnectConn(nullptr, &any, Record, 1, 0, &l), 53) << "the failure is kept";
  EXPECT_EQ(NCClose(1), 53);
  // The shut-down returns the manager to "not tried".
  NCShutdown();
  EXPECT_EQ(NCOpenListener(&any, &l), 0);
  EXPECT_NE(l, 0u);
}

TEST_F(NetConn, AListenerErrorEndsTheWaitWithItsCodeAndNoConnection) {
  Cookie l = Listen();
  Cookie out = 5;
  ASSERT_EQ(NCWaitOnListener(l, -1, Record, 1, &out, nullptr), 55);
  int32 s = -1;
  ASSERT_EQ(NCConnSocket(l, &s), 0);
  // External code asks the window manager for the same socket.
  NCInstallManagerHooks();
  int32 viaManager = int32(l);
  EXPECT_EQ(GetManagerLong(&viaManager, 5), kNoErr);
  EXPECT_EQ(viaManager, s);
  viaManager = int32(l + 1);
  EXPECT_EQ(GetManagerLong(&viaManager, 5), kArgErr);
  EXPECT_EQ(viaManager, -1);
  PlatSockTestInjectError(s, kPlatSockENETDOWN);
  int peer = RawConnect(Port(l));
  peers_.push_back(peer);
  ASSERT_TRUE(Pump([] { return CountOf(1) > 0; }));
  EXPECT_EQ(Find(1)->info.result, 59);
  EXPECT_EQ(Find(1)->info.words[0], 0) << "no connection";
  EXPECT_EQ(NCWaitOnListener(l, -1, Record, 2, &out, nullptr), 59) << "later waits get it at once";
  EXPECT_EQ(out, 0u);
}

TEST_F(NetConn, SocketErrorsMapNumberForNumber) {
  const std::pair<int32, MgErr> table[] = {
      {0, 0},      {10013, 54}, {10049, 54}, {10024, 11}, {10035, 55}, {10036, 55}, {10037, 57},
      {10038, 1},  {10041, 1},  {10044, 1},  {10045, 58}, {10046, 58}, {10047, 58}, {10048, 60},
      {10050, 59}, {10051, 59}, {10052, 59}, {10053, 62}, {10054, 66}, {10055, 61}, {10056, 65},
      {10057, 64}, {10060, 56}, {10061, 63}, {10004, 42}, {10058, 42}, {10062, 42}, {20002, 42},
  };
  for (auto [e, code] : table) EXPECT_EQ(SockToMgErr(e), code) << e;
  const std::pair<int, int32> hosts[] = {{ECONNREFUSED, 10061}, {EPIPE, 10054}, {ENFILE, 10024},
                                         {ENOMEM, 10055},       {EAGAIN, 10035}, {EINPROGRESS, 10036}};
  for (auto [e, s] : hosts) EXPECT_EQ(PlatSockErrorFromErrno(e), s) << e;
}

// 4. Records are recycled; the shut-down leaves nothing open.
TEST_F(NetConn, CyclesRecycleRecordsAndShutdownClosesEverything) {
  int32 fdsBefore = CountFds();
  Cookie l = Listen();
  uInt16 port = Port(l);
  const int cycles = UnderValgrind() ? 20 : 200;
  char buf[8];
  for (int i = 0; i < cycles; ++i) {
    NCAddress to = Loopback(port);
    Cookie c = 0, s = 0;
    MgErr err = NCConnectConn(nullptr, &to, Record, 1, -1, &c);
    if (err == 55) {
      ASSERT_TRUE(Pump([] { return CountOf(1) > 0; })) << i;
    }
    ASSERT_EQ(err == 55 ? Find(1)->info.result : err, 0) << i;
    gDone.clear();
    err = NCWaitOnListener(l, -1, Record, 2, &s, nullptr);
    if (err == 55) {
      ASSERT_TRUE(Pump([] { return CountOf(2) > 0; }));
      s = Cookie(Find(2)->info.words[0]);
    }
    gDone.clear();
    int32 n = 5;
    ASSERT_EQ(NCWriteConn(c, reinterpret_cast<UPtr>(const_cast<char*>("ping!")), &n, -1, Record, 3), 0);
    n = 5;
    err = NCReadConn(s, reinterpret_cast<UPtr>(buf), &n, 1000, Record, 4, 0);
    if (err == 55) {
      ASSERT_TRUE(Pump([] { return CountOf(4) > 0; }));
      err = Find(4)->info.result;
    }
    ASSERT_EQ(err, 0);
    gDone.clear();
    NCClose(c);
    NCClose(s);
  }
  NCRecordCounts k = NCTestRecordCounts();
  EXPECT_LE(k.conns, 4);
  EXPECT_LE(k.ops, 6);
  // A read still pending at the shut-down ends with 66.
  int peer = -1;
  Cookie c = Accept(l, &peer);
  int32 n = 4;
  ASSERT_EQ(NCReadConn(c, reinterpret_cast<UPtr>(buf), &n, -1, Record, 5, 0), 55);
  NCShutdown();
  ASSERT_EQ(CountOf(5), 1);
  EXPECT_EQ(Find(5)->info.result, 66);
  for (int& fd : peers_)
    if (fd >= 0) close(fd);
  peers_.clear();
  EXPECT_EQ(CountFds(), fdsBefore) << "no descriptor stays open";
  EXPECT_EQ(PlatSockTestNotifierThreads(), 0);
}

// 5. Many clients on the one notifier thread.
struct EchoServer {
  Cookie listener = 0;
  int32 echoed = 0;
  std::vector<std::vector<char>> bufs;
};
EchoServer* gEcho = nullptr;

MgErr EchoProc(NCCompletionInfo* info, Cookie conn);
void Echo(Cookie c, int32 slot, int32 n) {
  NCWriteConn(c, reinterpret_cast<UPtr>(gEcho->bufs[size_t(slot)].data()), &n, -1, EchoProc, slot);
  ++gEcho->echoed;
}
// A line read that finishes at once calls no completion.
void EchoRead(Cookie c) {
  EchoServer& e = *gEcho;
  e.bufs.emplace_back(64);
  int32 slot = int32(e.bufs.size() - 1);
  int32 n = 64;
  if (NCReadConn(c, reinterpret_cast<UPtr>(e.bufs[size_t(slot)].data()), &n, -1, EchoProc, slot, 2) == 0)
    Echo(c, slot, n);
}
MgErr EchoProc(NCCompletionInfo* info, Cookie conn) {
  EchoServer& e = *gEcho;
  if (info->kind == kNCKindAccept && info->result == 0) {
    EchoRead(Cookie(info->words[0]));
    // Connections that came meanwhile are handed out at once.
    Cookie next = 0;
    while (NCWaitOnListener(e.listener, -1, EchoProc, -1, &next, nullptr) == 0) EchoRead(next);
  } else if (info->kind == kNCKindRead && info->result == 0) {
    Echo(conn, info->data, info->words[1]);
  }
  return 0;
}

TEST_F(NetConn, ThousandClientsConcurrentOnOneNotifierThread) {
  rlimit rl{};
  getrlimit(RLIMIT_NOFILE, &rl);
  rl.rlim_cur = rl.rlim_max;
  setrlimit(RLIMIT_NOFILE, &rl);
  getrlimit(RLIMIT_NOFILE, &rl);
  if (rl.rlim_cur < 2100) GTEST_SKIP() << "descriptor limit " << rl.rlim_cur << " is below 2,100";
  const int clients = UnderValgrind() ? 40 : 1000;
  int32 threadsBefore = CountThreads();
  EchoServer server;
  gEcho = &server;
  server.listener = Listen();
  Cookie first = 0;
  ASSERT_EQ(NCWaitOnListener(server.listener, -1, EchoProc, -1, &first, nullptr), 55);
  uInt16 port = Port(server.listener);
  std::atomic<int> answered{0};
  std::atomic<bool> clientFailed{false};
  std::thread peer([&] {
    std::vector<int> fds;
    for (int i = 0; i < clients; ++i) {
      int fd = RawConnect(port);
      if (fd < 0) {
        clientFailed = true;
        break;
      }
      fds.push_back(fd);
      timeval tv{20, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      std::string line = "client " + std::to_string(i) + "\r\n";
      send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    }
    for (size_t i = 0; i < fds.size(); ++i) {
      std::string line = "client " + std::to_string(i) + "\r\n";
      std::string got(line.size(), 0);
      if (recv(fds[i], got.data(), got.size(), MSG_WAITALL) == ssize_t(line.size()) && got == line) ++answered;
    }
    for (int fd : fds) close(fd);
  });
  int32 maxThreads = 0;
  bool all = Pump([&] {
    maxThreads = std::max(maxThreads, CountThreads());
    return server.echoed == clients;
  }, 60000);
  peer.join();
  EXPECT_TRUE(all) << server.echoed;
  EXPECT_FALSE(clientFailed);
  EXPECT_EQ(answered.load(), clients);
  EXPECT_LE(maxThreads, threadsBefore + 2) << "the notifier and the peer, nothing per connection";
  NCShutdown();
  gEcho = nullptr;
}

}  // namespace
