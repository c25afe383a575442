// A VI whose emitted code queries a peer over TCP, loaded and run through
// the engine as the program does, on an execution system with one thread:
// while its clump waits for the answer, a second VI runs on that thread.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>

#include "engine/exec/runcmd.h"
#include "engine/exec/rttable.h"
#include "engine/exec_test_support.h"
#include "engine/link/linker.h"
#include "engine/link/loadmethods.h"
#include "engine/link_check.h"
#include "engine/runtime_root.h"
#include "engine/typemgr.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "io/ioregister.h"
#include "io_test_support.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_display.h"
#include "platform/qx_window.h"
#include "tools/runvi.h"

// From the compiled-code header, which cannot share a unit with the VI
// instances' header.
typedef MgErr (*PostProc)(int32, int32, int32, int32, int32, int32, int32, int32, int32);
void ExecSetPostUserEventProc(PostProc proc);

namespace {

using namespace runvi;

// The done event of a run, as the shell posts it.
MgErr Post(int32 window, int32 sub, int32 ds, int32, int32, int32, int32, int32 noDup, int32 priority) {
  WEventRecord e{};
  e.code = kWEvUser;
  e.window = window;
  e.where = sub;
  e.globalWhere = ds;
  return WPostEvent(&e, noDup, priority);
}

class TCPVITest : public qxexectest::ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    static std::once_flag once;
    std::call_once(once, [] {
      EXPECT_EQ(RInitResources(), kNoErr);
      PlatRegisterClass(PlatWindowClass{"TCPVIFrame", iotest::FrameProc, 0, kPlatNoBrush});
      // The program's start-up: every library registers, registration closes.
      EXPECT_EQ(QXRTRegisterEngine(), kNoErr);
      EXPECT_EQ(QXRTRegisterIO(), kNoErr);
      QXRTCloseRegistration();
    });
    frame_ = PlatCreateWindow("TCPVIFrame", "frame", 0, 0, PlatRect{0, 0, 10, 10}, 0);
    PlatSetFrameWindow(frame_);
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ASSERT_TRUE(rt_.Make("qxtcpvi"));
    if (!AZPBlocks()->linkerNames) AZPAllocInit();
    ExecSetPostUserEventProc(&Post);
    ASSERT_EQ(WEventQueueInit(1), kNoErr);
    WEventSetGate(1);
    InitLinker();
    InstallLoadMethods();
    qxexectest::OnlySlots({{2, 1}});
    ASSERT_EQ(InitExec(), kNoErr);
    ASSERT_EQ(TypeHeapInit(), kNoErr);
  }
  void TearDown() override {
    for (UHandle vi = FirstLoadedVI(); vi; vi = FirstLoadedVI()) {
      if ((VIRec(vi)->eState & kVIStateMask) == 2) AbortTopVI(vi);
      DisposeVI(vi, 1);
    }
    NCShutdown();
    FinishExec();
    Until([] { return false; }, 0);
    linkcheck::DisposeTables();
    ExecSetPostUserEventProc(nullptr);
    WEventQueueInit(0);
    PlatDestroyWindow(frame_);
    rt_.Remove();
    ExecTest::TearDown();
  }
  UHandle Load(const std::string& name, Clumps kind, int32 port = 0) {
    vif::VIFile v = File(name, kind);
    v.defaultWords.push_back({kTCPPort, port});
    EXPECT_TRUE(rsrcw::WriteHostFile(rt_.Host(name), vif::Write(v)));
    pathtest::Owned path(pathtest::ToPath("L:\\" + name));
    RsrcFileRef ref = 0;
    EXPECT_EQ(ROpenFile(path.p, kRsrcReadOnly, &ref, nullptr, nullptr), kNoErr);
    uChar pname[64] = {uChar(name.size())};
    std::memcpy(pname + 1, name.data(), name.size());
    UHandle vi = nullptr;
    EXPECT_EQ(LoadInstrument(path.p, 0, pname, ref, &vi, 0), kLoadLoaded) << name;
    return vi;
  }
  static DataSpace DS(UHandle vi) { return reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); }
  static char* At(UHandle vi, int32 at) { return reinterpret_cast<char*>(*DS(vi)) + at; }
  static int32 Word(UHandle vi, int32 at) {
    return __atomic_load_n(reinterpret_cast<int32*>(At(vi, at)), __ATOMIC_RELAXED);
  }
  static bool Idle(UHandle vi) { return (VIRec(vi)->eState & kVIStateMask) == kVIStateIdle; }
  // Delivers socket messages and hands done events to their command until
  // cond holds.
  static bool Until(const std::function<bool()>& cond, int ms = 10000) {
    return iotest::Pump([&] {
      WEventRecord e;
      while (WGetNextEvent(&e))
        if (e.code == kWEvUser && e.where == kUEVIDone) DoDoneCommand(reinterpret_cast<DataSpace>(uintptr_t(e.globalWhere)));
      return cond();
    }, ms);
  }

  qxtest::RuntimeRoot rt_;
  PlatWindow frame_ = 0;
};

TEST_F(TCPVITest, AVIQueriesAPeerWhileASecondVIRunsOnItsOneThread) {
  // The peer: reads the query, answers one line once told to, then waits
  // for the close (at most 10 s each).
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);  // the VI gives no address: this machine's
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), len), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  UHandle vi = Load("query", Clumps::kTCPQuery, ntohs(a.sin_port)), other = Load("other", Clumps::kOnce);
  ASSERT_TRUE(vi && other);
  std::mutex m;
  std::string query;
  bool answer = false, closed = false;
  std::thread peer([&] {
    const int fd = accept(listener, nullptr, nullptr);
    const timeval bound{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    char buf[64];
    for (ssize_t n; query.size() < 7 && (n = recv(fd, buf, sizeof buf, 0)) > 0;) {
      std::lock_guard<std::mutex> g(m);
      query.append(buf, size_t(n));
    }
    for (int i = 0; i < 10000; ++i, usleep(1000)) {
      std::lock_guard<std::mutex> g(m);
      if (answer) break;
    }
    send(fd, "QX,TCPVI,108\r\n", 14, MSG_NOSIGNAL);
    const bool eof = recv(fd, buf, sizeof buf, 0) <= 0;
    std::lock_guard<std::mutex> g(m);
    closed = eof;
    close(fd);
  });
  auto queried = [&] {
    std::lock_guard<std::mutex> g(m);
    return query.size() >= 7;
  };
  QueueElement* run = reinterpret_cast<QueueElement*>(At(vi, kRun));
  const int32 read = kTCPRecs + 2 * kTCPRecSize;
  EXPECT_EQ(StartVIRun(DS(vi)), 0);
  // Parked in its read: the one thread runs the other VI to its end.
  const bool parked =
      Until([&] { return queried() && QERunState(run) == 3 && Word(vi, read) == int32(uintptr_t(run)); });
  EXPECT_EQ(StartVIRun(DS(other)), 0);
  EXPECT_TRUE(Until([&] { return Idle(other); })) << "the other VI ran while the query waited";
  EXPECT_EQ(Word(other, kRounds), 1);
  EXPECT_TRUE(parked && QERunState(run) == 3 && !Idle(vi));
  {
    std::lock_guard<std::mutex> g(m);
    answer = true;
  }
  EXPECT_TRUE(Until([&] { return Idle(vi); }));
  shutdown(listener, SHUT_RDWR);  // a peer never connected to stops waiting
  peer.join();
  close(listener);
  EXPECT_EQ(query, "*IDN?\r\n");
  EXPECT_TRUE(closed);
  for (int32 n = 0; n < 4; ++n) EXPECT_EQ(Word(vi, kTCPResults + 4 * n), 0) << "node " << n;
  EXPECT_EQ(Word(vi, kTCPWritten), 7);
  auto line = *reinterpret_cast<LStrHandle*>(At(vi, kTCPLine));
  EXPECT_EQ(std::string(reinterpret_cast<char*>((*line)->str), size_t((*line)->cnt)), "QX,TCPVI,108\r\n");
  EXPECT_EQ(qxtest::Reports::Get().Count("Failure"), 0) << qxtest::Reports::Get().Text();
}

}  // namespace
