// The diagram TCP covers over loopback sockets: their arguments and outputs,
// clumps that sleep while an operation is pending and are re-queued once by
// its completion, and the connections closed with the top-level VI's run.
// Clumps are queue elements run by one execution thread through the test
// run procedure; the test thread delivers socket messages, so completions
// run there.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/exec_test_support.h"
#include "io/netconn.h"
#include "io/tcpsupp.h"
#include "mgsource/datetime.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_socket.h"
#include "platform/qx_window.h"

using namespace qxexectest;

namespace {

intptr_t FrameProc(PlatWindow w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == kNCSocketMessage) {
    NCSocketEvent(uInt32(wParam), uInt32(lParam));
    return 0;
  }
  return PlatDefWindowProc(w, message, wParam, lParam);
}

bool Pump(const std::function<bool()>& cond, int ms = 5000) {
  const uInt32 end = MilliSecs() + uInt32(ms);
  for (;;) {
    PlatMsg m;
    while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) PlatDispatchMessage(&m);
    ChkOccurrences();
    if (cond()) return true;
    if (MillisecCmp(MilliSecs(), end) > 0) return false;
    usleep(200);
  }
}

// One clump: each time the execution thread runs it, its step runs with
// the number of the run (from 1).
struct Clump {
  QueueElement element{};
  std::function<void(int)> step;
  std::atomic<int> runs{0};
};
Clump* gClump = nullptr;

void ClumpRun(ExecContext*, QueueElement* e) {
  if (!gClump || e != &gClump->element) return;
  // Counted once the step is done, so that the test sees what it did.
  const int n = gClump->runs.load() + 1;
  if (gClump->step) gClump->step(n);
  gClump->runs.store(n);
}

// What compiled code does before a TCP node that may wait: the clump parks
// in run state 3 and names itself in the wait record.
void Park(TCPWaitRec& rec) {
  QESetRunState(&gClump->element, 3);
  rec.waiting = &gClump->element;
}

uInt16 PortOf(Cookie listener) {
  int32 s = -1;
  uInt16 port = 0;
  if (NCConnSocket(listener, &s) == 0) PlatSockLocalPort(s, &port);
  return port;  // network order
}

int RawConnect(uInt16 port) {
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

LStrHandle NewLStr(const std::string& s) {
  auto h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(s.size()) + 4));
  (*h)->cnt = int32(s.size());
  std::memcpy((*h)->str, s.data(), s.size());
  return h;
}
std::string Text(LStrHandle h) {
  return h && *h ? std::string(reinterpret_cast<const char*>((*h)->str), size_t((*h)->cnt)) : "<none>";
}

class TCPCovers : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    static std::once_flag once;
    std::call_once(once, [] { PlatRegisterClass(PlatWindowClass{"TCPFrame", FrameProc, 0, kPlatNoBrush}); });
    frame_ = PlatCreateWindow("TCPFrame", "frame", 0, 0, PlatRect{0, 0, 10, 10}, 0);
    ASSERT_NE(frame_, PlatWindow(0));
    PlatSetFrameWindow(frame_);
    OnlySlots({{2, 1}});
    ASSERT_EQ(InitExec(), kNoErr);
    ExecSetTestRunProc(ClumpRun);
    ds_ = std::make_unique<TestDataSpace>(kPriNormal);
    clump_.element = NewElement(ds_->handle());
    gClump = &clump_;
  }
  void TearDown() override {
    RunCleanupProcs(ds_->handle());
    NCShutdown();
    for (int fd : peers_) close(fd);
    FinishExec();
    gClump = nullptr;
    PlatDestroyWindow(frame_);
    ds_.reset();
    ExecTest::TearDown();
  }
  // Runs the clump's step once more (its first run, or a run the test
  // makes), then waits until the clump has run `runs` times.
  void Start(std::function<void(int)> step) {
    clump_.step = std::move(step);
    EnQRunQ(&clump_.element);
  }
  bool RunsReach(int n) {
    bool ok = Pump([&] { return clump_.runs.load() >= n; });
    Pump([] { return false; }, 30);  // nothing more comes
    return ok && clump_.runs.load() == n;
  }
  Cookie Listen() {
    NCAddress any{0, 0, 0};
    Cookie l = 0;
    EXPECT_EQ(NCOpenListener(&any, &l), 0);
    return l;
  }
  // A connection accepted by the manager from a raw peer socket.
  Cookie Accepted(int* peer) {
    Cookie l = Listen();
    *peer = RawConnect(PortOf(l));
    peers_.push_back(*peer);
    Cookie c = 0;
    NCAddress from{};
    static Cookie got;
    got = 0;
    MgErr err = NCWaitOnListener(
        l, -1,
        [](NCCompletionInfo* info, Cookie) -> MgErr {
          got = Cookie(info->words[0]);
          return 0;
        },
        1, &c, &from);
    if (err == 55) {
      EXPECT_TRUE(Pump([] { return got != 0; }));
      c = got;
    }
    return c;
  }

  std::unique_ptr<TestDataSpace> ds_;  // made once the managers run
  Clump clump_;
  PlatWindow frame_ = 0;
  std::vector<int> peers_;
};

// The covers' arguments and outputs, read and write sizes, and a listener
// wait that sleeps until a client comes.
TEST_F(TCPCovers, CoversShapeTheirArgumentsAndFillTheirOutputs) {
  // Reads that end before the manager: the string untouched, the element cleared.
  LStrHandle s = NewLStr("keep");
  struct ReadCase {
    int32 count;
    MgErr result;
  } reads[] = {{0, 0}, {-1, 1}, {0x7FFFFFFF, 1}, {0x7FFFFFFC, 1}};
  for (const ReadCase& c : reads) {
    TCPWaitRec rec{};
    rec.output = s;
    rec.waiting = &clump_.element;
    EXPECT_EQ(TCPReadCover(1, c.count, 0, &rec, 0), c.result) << c.count;
    EXPECT_EQ(rec.waiting, nullptr);
    EXPECT_EQ(Text(s), "keep");
  }

  // A read of 10 from a peer that sends 3 and stalls: the clump sleeps,
  // the time-out ends it with 56 and the 3 bytes, and it runs once more.
  int peer = -1;
  Cookie conn = Accepted(&peer);
  ASSERT_NE(conn, 0u);
  ASSERT_EQ(send(peer, "abc", 3, 0), 3);
  TCPWaitRec rd{};
  rd.output = s;
  MgErr first = -1;
  Start([&](int run) {
    if (run != 1) return;
    Park(rd);
    first = TCPReadCover(conn, 10, 200, &rd, 0);
  });
  EXPECT_TRUE(RunsReach(2));
  EXPECT_EQ(first, 55);
  EXPECT_EQ(rd.result, 56);
  EXPECT_EQ(Text(s), "abc");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(s)), 7);
  EXPECT_EQ(rd.waiting, nullptr);
  // A mode outside 0..3 reads as mode 0; a null string is made.
  ASSERT_EQ(send(peer, "wxyz", 4, 0), 4);
  TCPWaitRec rn{};
  rn.waiting = &clump_.element;
  EXPECT_EQ(TCPReadCover(conn, 4, 1000, &rn, 9), 0);
  EXPECT_EQ(Text(static_cast<LStrHandle>(rn.output)), "wxyz");
  DSDisposeHandle(static_cast<UHandle>(rn.output));

  // Writes: whole flag 1 puts the count first (this machine's order).
  LStrHandle hello = NewLStr("hello");
  struct WriteCase {
    int32 whole;
    std::string wire;
  } writes[] = {{1, std::string("\5\0\0\0hello", 9)}, {0, "hello"}};
  for (const WriteCase& w : writes) {
    int32 written = -1;
    TCPWaitRec wr{};
    wr.output = &written;
    wr.waiting = &clump_.element;
    EXPECT_EQ(TCPWriteCover(conn, hello, 1000, &wr, w.whole), 0);
    EXPECT_EQ(written, int32(w.wire.size()));
    EXPECT_EQ(wr.waiting, nullptr);
    std::string got(w.wire.size(), '\0');
    ASSERT_EQ(recv(peer, got.data(), got.size(), MSG_WAITALL), ssize_t(got.size()));
    EXPECT_EQ(got, w.wire);
  }
  DSDisposeHandle(reinterpret_cast<UHandle>(hello));

  // A listener wait without a time-out sleeps until a client comes; its
  // outputs: the connection, the client's port in host order, the address
  // as dotted text, or the host's name with the resolve flag.
  Cookie listener = Listen();
  for (int32 resolve : {0, 1}) {
    clump_.runs.store(0);
    Cookie accepted = 0;
    uInt16 port = 0;
    LStrHandle address = NewLStr("old");
    TCPWaitRec lw{};
    lw.listener = listener;
    lw.output = &accepted;
    lw.portOutput = &port;
    lw.addressOutput = address;
    lw.resolve = resolve;
    MgErr waited = -1, finished = -1;
    Start([&](int run) {
      if (run == 1) {
        Park(lw);
        waited = TCPWaitListenCover(&lw);
      } else {
        finished = TCPFinishWait(&lw);
      }
    });
    EXPECT_FALSE(Pump([&] { return clump_.runs.load() > 1; }, 300));
    int client = RawConnect(PortOf(listener));
    ASSERT_GE(client, 0);
    peers_.push_back(client);
    EXPECT_TRUE(RunsReach(2));
    EXPECT_EQ(waited, 55);
    EXPECT_EQ(finished, 0);
    EXPECT_NE(accepted, 0u);
    EXPECT_EQ(accepted, lw.connection);
    sockaddr_in local{};
    socklen_t len = sizeof local;
    getsockname(client, reinterpret_cast<sockaddr*>(&local), &len);
    EXPECT_EQ(port, ntohs(local.sin_port));
    EXPECT_EQ(Text(address), resolve ? "localhost" : "127.0.0.1");
    DSDisposeHandle(reinterpret_cast<UHandle>(address));
  }
  // A failed wait: the record's connection out, port 0, the address emptied.
  {
    Cookie out = 7;
    uInt16 port = 9;
    LStrHandle address = NewLStr("old");
    int32 zero = 0;
    TCPWaitRec lw{};
    lw.listener = listener;
    lw.connection = 0;
    lw.output = &out;
    lw.portOutput = &port;
    lw.addressOutput = address;
    lw.timeout = &zero;
    lw.waiting = &clump_.element;
    EXPECT_EQ(TCPWaitListenCover(&lw), 56);
    EXPECT_EQ(lw.result, 56);
    EXPECT_EQ(lw.waiting, nullptr);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(Text(address), "");
    DSDisposeHandle(reinterpret_cast<UHandle>(address));
  }
  DSDisposeHandle(reinterpret_cast<UHandle>(s));
  EXPECT_EQ(ExecFailures(), 0) << ReportText();
}

// Connections a VI opens close with its top-level VI; one the diagram closes
// is not closed again; a failed open registers nothing; a reset clump is
// not queued again by the completion its clean-up causes.
TEST_F(TCPCovers, ConnectionsCloseWithTheirVIAndLateCompletionsQueueNothing) {
  const int32 before = CleanupProcCount();
  Cookie listener = Listen();
  const uInt16 port = ntohs(PortOf(listener));
  LStrHandle local = NewLStr("127.0.0.1");

  // Open: pending or at once, then TCPFinishWait registers it.
  auto open = [&](uInt16 toPort, TCPWaitRec& rec, Cookie& out, MgErr& result) {
    clump_.runs.store(0);
    Start([&, toPort](int run) {
      if (run == 1) {
        Park(rec);
        uInt16 none = 0;
        result = TCPOpenConCover(&rec, 2000, &none, &toPort, &out, local);
        if (result != 55) QESetRunState(&clump_.element, 0);
      } else {
        result = TCPFinishWait(&rec);
      }
    });
    Pump([&] { return clump_.runs.load() >= 1 && (result != 55 || clump_.runs.load() >= 2); });
  };
  TCPWaitRec rec{};
  Cookie conn = 0;
  MgErr result = -1;
  open(port, rec, conn, result);
  ASSERT_EQ(result, 0);
  ASSERT_NE(conn, 0u);
  EXPECT_EQ(conn, rec.connection);
  EXPECT_EQ(CleanupProcCount(), before + 1);
  RunCleanupProcs(ds_->handle());
  int32 s = -1;
  EXPECT_EQ(NCConnSocket(conn, &s), 1);  // closed with the VI
  EXPECT_EQ(CleanupProcCount(), before);

  // Closed by the diagram first: the VI's end closes nothing more.
  open(port, rec, conn, result);
  ASSERT_EQ(result, 0);
  MgErr closed = -1;
  clump_.runs.store(0);
  Start([&](int) { closed = TCPCloseConCover(conn); });
  ASSERT_TRUE(RunsReach(1));
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(CleanupProcCount(), before);
  RunCleanupProcs(ds_->handle());

  // A refused open registers nothing.
  NCCloseListener(listener);
  open(port, rec, conn, result);
  EXPECT_EQ(result, 63);
  EXPECT_EQ(CleanupProcCount(), before);

  // A reset takes the clump back while its read waits; the close that the
  // clean-up makes then completes the read, which must not queue the clump.
  int peer = -1;
  Cookie c = Accepted(&peer);
  ASSERT_NE(c, 0u);
  clump_.runs.store(0);
  TCPWaitRec rd{};
  MgErr first = -1;
  Start([&](int run) {
    if (run != 1) return;
    Park(rd);
    first = TCPReadCover(c, 10, -1, &rd, 0);
    // Registered as an open diagram connection would be.
    RTSetCleanupProc([](void* k) { return int32(NCClose(Cookie(uintptr_t(k)))); },
                     reinterpret_cast<void*>(uintptr_t(c)), kCleanupTopVI);
  });
  ASSERT_TRUE(RunsReach(1));
  EXPECT_EQ(first, 55);
  // The reset walk: under the data space's mutex, a waiting clump's wait
  // ends and it goes back on its run queue.
  ThMutexAcquire((*ds_)->entrance.dsRights);
  ASSERT_TRUE(QEEndWait(&clump_.element));
  EnQRunQ(&clump_.element);
  ThMutexRelease((*ds_)->entrance.dsRights);
  ASSERT_TRUE(RunsReach(2));
  RunCleanupProcs(ds_->handle());
  EXPECT_EQ(NCConnSocket(c, &s), 1);
  EXPECT_EQ(rd.result, 66);
  EXPECT_EQ(rd.waiting, nullptr);
  EXPECT_TRUE(RunsReach(2));
  EXPECT_EQ(ExecSlotRunRecord(2)->runQueue->head, nullptr);
  DSDisposeHandle(static_cast<UHandle>(rd.output));
  DSDisposeHandle(reinterpret_cast<UHandle>(local));
  EXPECT_EQ(ExecFailures(), 0) << ReportText();
}

}  // namespace
