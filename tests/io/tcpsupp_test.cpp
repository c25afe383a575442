// The diagram TCP covers over loopback: arguments and outputs, a clump that
// sleeps while its operation is pending and is re-queued once, connections
// closed with the VI's run.  The clump is an element that one execution
// thread runs through the test run procedure; completions run on the test
// thread, which delivers the socket messages.
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/exec/callchain.h"
#include "engine/exec_test_support.h"
#include "io/tcpsupp.h"
#include "io_test_support.h"
#include "platform/qx_display.h"
#include "platform/qx_window.h"

using namespace iotest;
using namespace qxexectest;

namespace {

// The clump's step runs with the number of its run.  The count is read
// under the lock the step runs in, so what the step wrote is seen after it.
std::function<void(int)> gStep;
std::mutex gRunLock;
int gRunCount = 0;
void ClumpRun(ExecContext*, QueueElement*) {
  std::lock_guard<std::mutex> g(gRunLock);
  if (gStep) gStep(gRunCount + 1);
  ++gRunCount;
}
int RunCount() {
  std::lock_guard<std::mutex> g(gRunLock);
  return gRunCount;
}
void SetStep(std::function<void(int)> step) {
  std::lock_guard<std::mutex> g(gRunLock);
  gRunCount = 0;
  gStep = std::move(step);
}


class TCPCovers : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    static std::once_flag once;
    std::call_once(once, [] { PlatRegisterClass(PlatWindowClass{"TCPFrame", FrameProc, 0, kPlatNoBrush}); });
    frame_ = PlatCreateWindow("TCPFrame", "frame", 0, 0, PlatRect{0, 0, 10, 10}, 0);
    PlatSetFrameWindow(frame_);
    OnlySlots({{2, 1}});
    ASSERT_EQ(InitExec(), kNoErr);
    ExecSetTestRunProc(ClumpRun);
    ds_ = std::make_unique<TestDataSpace>(kPriNormal);
    e_ = NewElement(ds_->handle());
  }
  void TearDown() override {
    RunCleanupProcs(ds_->handle());
    NCShutdown();
    for (int fd : peers_) close(fd);
    FinishExec();
    PlatDestroyWindow(frame_);
    ds_.reset();
    ExecTest::TearDown();
  }
  // Queues the clump with its step; true when it then runs exactly `runs` times.
  bool Run(int runs, std::function<void(int)> step) {
    SetStep(std::move(step));
    EnQRunQ(&e_);
    const bool reached = Pump([&] { return RunCount() >= runs; });
    Pump([] { return false; }, 30);
    return reached && RunCount() == runs;
  }
  // An open or listener wait as compiled code makes it: parked first, then
  // on at once, or TCPFinishWait once the completion queued it.
  MgErr Wait(TCPWaitRec& rec, const std::function<MgErr()>& start) {
    MgErr result = -1;
    EXPECT_TRUE(Run(2, [&](int run) {
      if (run == 2) {
        if (result == 55) result = TCPFinishWait(&rec);
        return;
      }
      Park(rec);
      result = start();
      if (result != 55 && QEEndWait(&e_)) EnQRunQ(&e_);
    }));
    return result;
  }
  // As compiled code does before a node that may wait.
  void Park(TCPWaitRec& rec) {
    QESetRunState(&e_, 3);
    rec.waiting = &e_;
  }
  Cookie Listen() {
    NCAddress any{0, 0, 0};
    Cookie l = 0;
    EXPECT_EQ(NCOpenListener(&any, &l), 0);
    return l;
  }
  int Peer(Cookie listener) { return peers_.emplace_back(RawConnect(Port(listener))); }
  // A connection accepted by a listener wait in the clump, and its peer.
  Cookie Accept(int* peer) {
    Cookie l = Listen(), c = 0;
    TCPWaitRec rec{};
    rec.listener = l;
    rec.output = &c;
    *peer = Peer(l);
    EXPECT_EQ(Wait(rec, [&] { return TCPWaitListenCover(&rec); }), 0);
    return c;
  }

  std::unique_ptr<TestDataSpace> ds_;
  QueueElement e_{};
  PlatWindow frame_ = 0;
  std::vector<int> peers_;
};

TEST_F(TCPCovers, CoversShapeTheirArgumentsAndFillTheirOutputs) {
  // Counts refused or empty before the manager: string kept, element cleared.
  LStrHandle s = Str("keep");
  for (int32 count : {0, -1, 0x7FFFFFFF, 0x7FFFFFFC}) {
    TCPWaitRec rec{};
    rec.waiting = &e_;
    rec.output = s;
    EXPECT_EQ(TCPReadCover(1, count, 0, &rec, 0), count == 0 ? 0 : 1) << count;
    EXPECT_EQ(rec.waiting, nullptr);
    EXPECT_EQ(Text(s), "keep");
  }
  // 10 asked, 3 sent, then a stall: the clump sleeps until the time-out.
  int peer = -1;
  Cookie conn = Accept(&peer);
  ASSERT_EQ(send(peer, "abc", 3, 0), 3);
  TCPWaitRec rd{};
  rd.output = s;
  EXPECT_TRUE(Run(2, [&](int run) {
    if (run == 1) {
      Park(rd);
      EXPECT_EQ(TCPReadCover(conn, 10, 200, &rd, 0), 55);
    }
  }));
  EXPECT_EQ(rd.result, 56);
  EXPECT_EQ(Text(s), "abc");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(s)), 7);
  // Whole flag 1: the count first, in this machine's order.
  LStrHandle hello = Str("hello");
  for (int32 whole : {1, 0}) {
    int32 written = -1;
    TCPWaitRec wr{};
    wr.waiting = &e_;
    wr.output = &written;
    EXPECT_EQ(TCPWriteCover(conn, hello, 1000, &wr, whole), 0);
    const std::string wire = whole ? std::string("\5\0\0\0hello", 9) : "hello";
    EXPECT_EQ(written, int32(wire.size()));
    std::string got(wire.size(), '\0');
    ASSERT_EQ(recv(peer, got.data(), got.size(), MSG_WAITALL), ssize_t(got.size()));
    EXPECT_EQ(got, wire);
  }
  // A listener wait without a time-out sleeps until a client comes: the
  // client's port in host order, the address dotted or by name.
  Cookie listener = Listen();
  for (int32 resolve : {0, 1}) {
    Cookie accepted = 0;
    uInt16 port = 0;
    MgErr first = -1;
    TCPWaitRec lw{nullptr, -1, 0, &accepted, &port, Str("old"), listener, nullptr, resolve};
    int client = -1;
    std::thread later([&] { WSleep(200), client = RawConnect(Port(listener)); });
    EXPECT_EQ(Wait(lw, [&] { return first = TCPWaitListenCover(&lw); }), 0);
    later.join();
    peers_.push_back(client);
    EXPECT_EQ(first, 55);
    EXPECT_EQ(accepted, lw.connection);
    sockaddr_in at{};
    socklen_t len = sizeof at;
    getsockname(client, reinterpret_cast<sockaddr*>(&at), &len);
    EXPECT_EQ(port, ntohs(at.sin_port));
    EXPECT_EQ(Text(lw.addressOutput), resolve ? "localhost" : "127.0.0.1");
  }
  // A failed wait: the record's connection, port 0, the address emptied.
  Cookie out = 7;
  uInt16 port = 9;
  int32 zero = 0;
  TCPWaitRec lw{&e_, -1, 0, &out, &port, Str("old"), listener, &zero, 0};
  EXPECT_EQ(TCPWaitListenCover(&lw), 56);
  EXPECT_TRUE(out == 0 && port == 0 && Text(lw.addressOutput).empty() && !lw.waiting);
  EXPECT_EQ(ExecFailures(), 0) << ReportText();
}

TEST_F(TCPCovers, ConnectionsCloseWithTheirVIAndLateCompletionsQueueNothing) {
  const int32 before = CleanupProcCount();
  Cookie listener = Listen();
  uInt16 port = ntohs(Port(listener));
  LStrHandle host = Str("127.0.0.1");
  TCPWaitRec rec{};
  Cookie conn = 0;
  MgErr result = -1;
  auto open = [&] {
    result = Wait(rec, [&] { return TCPOpenConCover(&rec, 2000, nullptr, &port, &conn, host); });
    return true;
  };
  // Closed with the VI; closed by the diagram first, then not again.
  int32 socket = -1;
  for (bool diagramCloses : {false, true}) {
    ASSERT_TRUE(open());
    ASSERT_EQ(result, 0);
    EXPECT_EQ(conn, rec.connection);
    EXPECT_EQ(CleanupProcCount(), before + 1);
    if (diagramCloses) {
      EXPECT_TRUE(Run(1, [&](int) { EXPECT_EQ(TCPCloseConCover(conn), 0); }));
    }
    EXPECT_EQ(CleanupProcCount(), before + (diagramCloses ? 0 : 1));
    RunCleanupProcs(ds_->handle());
    EXPECT_EQ(NCConnSocket(conn, &socket), 1);
  }
  // A refused open registers nothing.
  NCCloseListener(listener);
  ASSERT_TRUE(open());
  EXPECT_EQ(result, 63);
  EXPECT_EQ(CleanupProcCount(), before);

  // A reset takes the clump back while its read waits (as the reset walk
  // does, under the data space's mutex); the close its clean-up makes then
  // completes the read, which queues nothing.
  int peer = -1;
  Cookie c = Accept(&peer);
  TCPWaitRec rd{};
  EXPECT_TRUE(Run(1, [&](int) {
    Park(rd);
    EXPECT_EQ(TCPReadCover(c, 10, -1, &rd, 0), 55);
  }));
  EXPECT_EQ(CleanupProcCount(), before + 1);  // the accepted connection
  {
    std::lock_guard<std::mutex> g(gRunLock);
    gStep = nullptr;
  }
  ThMutexAcquire((*ds_->handle())->entrance.dsRights);
  ASSERT_TRUE(QEEndWait(&e_));
  EnQRunQ(&e_);
  ThMutexRelease((*ds_->handle())->entrance.dsRights);
  ASSERT_TRUE(Pump([] { return RunCount() == 2; }));
  RunCleanupProcs(ds_->handle());
  EXPECT_EQ(NCConnSocket(c, &socket), 1);
  EXPECT_EQ(rd.result, 66);
  EXPECT_FALSE(Pump([] { return RunCount() > 2; }, 100));
  EXPECT_EQ(ExecSlotRunRecord(2)->runQueue->head, nullptr);
  EXPECT_EQ(ExecFailures(), 0) << ReportText();
}

}  // namespace
