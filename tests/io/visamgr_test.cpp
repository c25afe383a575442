// The VISA binding over our library: loading and its failures, sessions on
// the simulated GPIB bus and on TCP, finds, clean-up with the top-level VI,
// and arbitration between clumps.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <cstring>
#include <string>
#include <thread>

#include "engine/exec/callchain.h"
#include "engine/exec_test_support.h"
#include "engine/omid.h"
#include "gpib_test_support.h"
#include "io/gpibsup.h"
#include "io/visamgr.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "platform/instr/qxvisa.h"
#include "platform/qx_debugout.h"
#include "rtlib/arraysize.h"
#include "rtlib/filerefnum.h"
#include "tests/io/io_test_support.h"

using namespace gpibtest;

namespace {

typedef int32(QX_VISA_CALL* WriteProc)(uInt32, const char*, uInt32, uInt32*);
typedef int32(QX_VISA_CALL* ReadProc)(uInt32, char*, uInt32, uInt32*);
typedef int32(QX_VISA_CALL* FindRsrcProc)(uInt32, const char*, uInt32*, uInt32*, char*);

LStrHandle Text(const std::string& s) {
  auto h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(4 + s.size())));
  (*h)->cnt = int32(s.size());
  std::memcpy((*h)->str, s.data(), s.size());
  return h;
}
std::string Str(LStrHandle h) { return h ? std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)) : ""; }

// A refnum type whose object-manager id is class 6 "Instr".
struct RefnumTD {
  uChar bytes[16] = {0, 16, 0x70, 0, 6, 0, 5, 'I', 'n', 's', 't', 'r'};
  const TypeDescriptor* td() const { return reinterpret_cast<const TypeDescriptor*>(bytes); }
};

// A TCP peer on loopback: answers each "*IDN?" line with its own, then
// closes when told.
class Peer {
 public:
  Peer() {
    fd_ = iotest::RawListen(&port_);
    thread_ = std::thread([this] {
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      client_.store(c);
      std::string line;
      char ch;
      while (recv(c, &ch, 1, 0) == 1) {
        if (ch != '\n') {
          line += ch;
          continue;
        }
        if (line == "*IDN?") send(c, "Quenlix,Peer\n", 13, MSG_NOSIGNAL);
        line.clear();
      }
      close(c);
    });
  }
  ~Peer() {
    shutdown(fd_, SHUT_RDWR);
    if (client_.load() >= 0) shutdown(client_.load(), SHUT_RDWR);
    close(fd_);
    thread_.join();
  }
  std::string Name() const { return "TCPIP::127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }

 private:
  int fd_;
  std::atomic<int> client_{-1};
  int port_ = 0;
  std::thread thread_;
};

// "*IDN?" through the library's own entries.
std::string Ask(Cookie c) {
  uInt32 vi = 0, n = 0;
  if (VCookieToSesn(c, &vi) != 0) return "(no session)";
  auto write = reinterpret_cast<WriteProc>(VisaEntry(kVisaEntry_viWrite));
  auto read = reinterpret_cast<ReadProc>(VisaEntry(kVisaEntry_viRead));
  if (write(vi, "*IDN?\n", 6, &n) != 0 || n != 6) return "(write failed)";
  char buf[100];
  int32 st = read(vi, buf, sizeof buf, &n);
  if (st < 0) return "(read failed)";
  return std::string(buf, n);
}

int32 OpenCount() {
  UHandle list = AZNewHandle(4);
  VGetAllOpenSessions(list);
  int32 n = 0;
  std::memcpy(&n, *list, 4);
  AZDisposeHandle(list);
  return n;
}

// The bus with its devices, the library bound afresh.
void Restart(const char* library = QX_VISA_LIB) {
  BindAndReset();
  for (const char* line : {"device 0:5 idn=\"Quenlix,Meter\"", "device 1:7 idn=\"Quenlix,Source\" eos=crlf",
                           "device 2:3 vxi=0102 idn=\"Quenlix,Frame\"", "device 0:6 listen=0"}) {
    ASSERT_EQ(Apply(line), 0) << line;
  }
  VisaCloseAll();
  ASSERT_EQ(VisaInit(), kNoErr);
  VisaSetLibraryForTest(library);
}

class VisaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Restart();
    GPIBCloseAllUnits();
    VisaInstallRefnumHook();
  }
  void TearDown() override {
    VisaCloseAll();
    VisaSetLibraryForTest(nullptr);
    GPIBCloseAllUnits();
  }
};

std::atomic<int> gSyncLines{0};
void CountSyncLine(const char* text) {
  if (std::strstr(text, "VISA Read/Write operations will be synchronous.")) gSyncLines.fetch_add(1);
}

TEST_F(VisaTest, LoadingFailsCleanlyUntilTheLibraryIsThereAndMissingEntriesGive15) {
  Restart("/nonexistent/libqxvisa.so");
  LStrHandle name = Text("GPIB0::5::INSTR");
  ArrayHandle list = nullptr;
  int32 count = 0, result = 0, board = 0;
  Cookie c = 0;
  const int32 kNone = kVisaStatNoLibrary;
  EXPECT_EQ(VisaLoadLibrary(), kNone);
  EXPECT_EQ(VisaOpen(name, 0, 2000, nullptr, &c), kNone);
  EXPECT_EQ(VisaClose(1), kNone);
  EXPECT_EQ(VisaFindRsrc(name, &list, &count), kNone);
  EXPECT_EQ(VisaFindNext(1, name), kNone);
  EXPECT_EQ(VisaAccess(1, &result, nullptr, kUnitAcquire), kNone);
  EXPECT_EQ(VisaSessionGPIBBoard(1, &board), kNone);
  EXPECT_EQ(VNewRMSesn(&c), kNone);
  EXPECT_EQ(VisaDefaultRM(), 0u);

  // Made present, the library loads at the next call, without asynchronous
  // entries: synchronous, said once.
  CfgTestSetValue("debugging", "true");
  DBInitDebug();
  PlatDebugSink previous = PlatSetDebugSink(CountSyncLine);
  gSyncLines.store(0);
  VisaSetLibraryForTest(QX_VISA_NOASYNC_LIB);
  EXPECT_EQ(VisaOpen(name, 0, 2000, nullptr, &c), 0);
  EXPECT_NE(c, 0u);
  EXPECT_EQ(VisaLoadLibrary(), 0);
  PlatSetDebugSink(previous);
  // Back to the test process's setting (the managers' start turns it on):
  // later tests of the process count the lines it lets through.
  CfgTestSetValue("debugging", "true");
  DBInitDebug();
  EXPECT_EQ(gSyncLines.load(), 1);
  EXPECT_TRUE(VisaSynchronous());
  EXPECT_EQ(VisaEntry(kVisaEntry_viReadAsync), nullptr);
  EXPECT_EQ(std::string(VisaEntryName(kVisaEntry_viMove)), "viMove");

  // A library without viOpenDefaultRM is no library; one without viFindRsrc
  // answers 15 for finds only.
  Restart(QX_VISA_NORMGR_LIB);
  EXPECT_EQ(VisaLoadLibrary(), kVisaStatNoEntry);
  EXPECT_EQ(VisaDefaultRM(), 0u);
  Restart(QX_VISA_NOFIND_LIB);
  EXPECT_EQ(VisaFindRsrc(name, &list, &count), kVisaStatNoEntry);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(VisaOpen(name, 0, 2000, nullptr, &c), kVisaStatNotFound) << "no bus beside this build";
  if (list) DSDisposeHandle(list);
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
}

TEST_F(VisaTest, SessionsOpenOnTheBusAndOnTCPAndEveryOtherNameIsRefused) {
  Peer peer;
  RefnumTD td;
  struct Case {
    std::string name;
    int32 status, board;
    std::string idn;
  } cases[] = {
      {"GPIB0::5::INSTR", 0, 0, "Quenlix,Meter\n"},
      {"gpib1::7::instr", 0, 1, "Quenlix,Source\r\n"},
      {"GPIB2::3::INSTR", 0, 2, "Quenlix,Frame\n"},
      {peer.Name(), 0, -1, "Quenlix,Peer\n"},
      {"GPIB0::40::INSTR", kVisaStatNotFound, 0, ""},
      {"GPIB0::6::INSTR", kVisaStatNotFound, 0, "" /* does not listen */},
      {"ASRL1::INSTR", kVisaStatNotFound, 0, ""},
      {"USB0::1::INSTR", kVisaStatNotFound, 0, ""},
      {"TCPIP::127.0.0.1::0::SOCKET", kVisaStatNotFound, 0, ""},
      {std::string("GPIB0::5::INSTR\0x", 17), kVisaStatNotFound, 0, ""},
      {"GPIB0::5::INSTR" + std::string(250, ' '), kVisaStatNotFound, 0, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    LStrHandle name = Text(k.name);
    Cookie c = 77;
    ASSERT_EQ(VisaOpen(name, 0, 2000, td.td(), &c), k.status);
    DSDisposeHandle(reinterpret_cast<UHandle>(name));
    if (k.status != 0) {
      EXPECT_EQ(c, 0u);
      EXPECT_EQ(OpenCount(), 0);
      continue;
    }
    EXPECT_TRUE(VisaIsASession(c));
    EXPECT_TRUE(FPIsARefnum(c, kRefnumNamed6, 0));
    EXPECT_TRUE(FPIsARefnum(c, kRefnumNamed10, 0));
    int32 board = 7;
    EXPECT_EQ(VisaSessionGPIBBoard(c, &board), 0);
    EXPECT_EQ(board, k.board);
    VSesn* s = VisaSessionRecord(c);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(OMIdCmp(s->omid, td.bytes + 4), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s->name + 1), s->name[0]), k.name);
    EXPECT_EQ(Ask(c), k.idn);
    EXPECT_EQ(VisaClose(c), 0);
    EXPECT_FALSE(VisaIsASession(c));
    EXPECT_FALSE(FPIsARefnum(c, kRefnumNamed10, 0));
  }
  // A device with nothing to say times out; a close the library fails
  // still frees the refnum.
  LStrHandle name = Text("GPIB0::5::INSTR");
  Cookie c = 0;
  ASSERT_EQ(VisaOpen(name, 0, 2000, nullptr, &c), 0);
  uInt32 lib = 0, got = 9;
  char buf[8];
  ASSERT_EQ(VCookieToSesn(c, &lib), 0);
  typedef int32(QX_VISA_CALL * SetProc)(uInt32, uInt32, uInt32);
  reinterpret_cast<SetProc>(VisaEntry(kVisaEntry_viSetAttribute))(lib, kVisaAttrTimeout, 30);
  EXPECT_EQ(reinterpret_cast<ReadProc>(VisaEntry(kVisaEntry_viRead))(lib, buf, sizeof buf, &got), kVisaErrTimeout);
  EXPECT_EQ(got, 0u);
  ASSERT_EQ(Apply("visa close=fail"), 0);
  EXPECT_EQ(VisaClose(c), kVisaErrIO);
  EXPECT_FALSE(VisaIsASession(c));
  int32 result = 0, board = 0;
  uInt32 vi = 5;
  EXPECT_EQ(VisaClose(c), kVisaStatNotASession);
  EXPECT_EQ(VisaSessionGPIBBoard(c, &board), kVisaStatNotASession);
  EXPECT_EQ(VisaAccess(c, &result, nullptr, kUnitAcquire), kVisaStatNotASession);
  EXPECT_EQ(result, kUnitNothing);
  EXPECT_NE(VCookieToSesn(c, &vi), 0);
  EXPECT_EQ(vi, 0u);
  EXPECT_EQ(VNewSesn(reinterpret_cast<ConstPStr>("\x01x"), nullptr, 0, &c), kArgErr);
  // A resource-manager session of the diagram's own, disposed without a close.
  ASSERT_EQ(VNewRMSesn(&c), 0);
  VSesn* rm = VisaSessionRecord(c);
  ASSERT_NE(rm, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rm->name + 1), rm->name[0]), "RM");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rm->omid + 3), rm->omid[2]), "Resource Manager");
  EXPECT_EQ(OpenCount(), 1);
  Calls();
  EXPECT_EQ(VDisposeSesn(c), 0);
  EXPECT_TRUE(Calls().empty()) << "no library call";
  EXPECT_EQ(OpenCount(), 0);
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
}

TEST_F(VisaTest, FindsFillOneStringPerResourceAndAFailedFindEmptiesTheArray) {
  struct Case {
    const char* expr;
    int32 status;
    std::vector<std::string> found;
  } cases[] = {
      {"GPIB?*INSTR", 0, {"GPIB0::5::INSTR", "GPIB1::7::INSTR", "GPIB2::3::INSTR"}},
      {"?*", 0, {"GPIB0::5::INSTR", "GPIB1::7::INSTR", "GPIB2::3::INSTR"}},
      {"gpib1::?*", 0, {"GPIB1::7::INSTR"}},
      {"GPIB0::5?*::INSTR", 0, {"GPIB0::5::INSTR"}},
      {"TCPIP?*", kVisaStatNotFound, {}},
      {"GPIB0::6::INSTR", kVisaStatNotFound, {} /* not listening */},
      {"*GPIB", int32(0xBFFF0010), {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.expr);
    LStrHandle expr = Text(k.expr);
    // The array starts with two strings of an earlier find.
    ArrayHandle list = nullptr;
    int32 count = 2;
    int32* cp = &count;
    ASSERT_EQ(VectorResize(StdTDTable[kStdTDString], &list, &cp), kNoErr);
    EXPECT_EQ(VisaFindRsrc(expr, &list, &count), k.status);
    ASSERT_EQ(count, int32(k.found.size()));
    int32 dim = 0;
    std::memcpy(&dim, *list, 4);
    ASSERT_EQ(dim, count);
    for (int32 i = 0; i < count; ++i) {
      EXPECT_EQ(Str(*reinterpret_cast<LStrHandle*>(*list + 4 + 4 * i)), k.found[size_t(i)]);
    }
    ArrayResizeElts(StdTDTable[kStdTDString], 1, &list, 0);
    DSDisposeHandle(list);
    DSDisposeHandle(reinterpret_cast<UHandle>(expr));
  }
  // Past the end of a find list the string is left alone.
  auto find = reinterpret_cast<FindRsrcProc>(VisaEntry(kVisaEntry_viFindRsrc));
  uInt32 fl = 0, n = 0;
  char desc[256];
  ASSERT_EQ(find(VisaDefaultRM(), "GPIB1?*", &fl, &n, desc), 0);
  LStrHandle s = Text("kept");
  EXPECT_EQ(VisaFindNext(fl, s), kVisaStatNotFound);
  EXPECT_EQ(Str(s), "kept");
  DSDisposeHandle(reinterpret_cast<UHandle>(s));
}

// Reads of a TCP session: at the count, at the line end, at the time-out
// and when the peer closes; bytes past a read's end wait for the next.
TEST_F(VisaTest, TCPReadsStopAtCountLineEndTimeOutOrClose) {
  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  listen(lfd, 1);
  socklen_t len = sizeof a;
  getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  LStrHandle name = Text("TCPIP0::localhost::" + std::to_string(ntohs(a.sin_port)) + "::SOCKET");
  Cookie c = 0;
  ASSERT_EQ(VisaOpen(name, 0, 2000, nullptr, &c), 0);
  int peer = accept(lfd, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  uInt32 vi = 0;
  ASSERT_EQ(VCookieToSesn(c, &vi), 0);
  typedef int32(QX_VISA_CALL * SetProc)(uInt32, uInt32, uInt32);
  reinterpret_cast<SetProc>(VisaEntry(kVisaEntry_viSetAttribute))(vi, kVisaAttrTimeout, 100);
  auto read = reinterpret_cast<ReadProc>(VisaEntry(kVisaEntry_viRead));
  struct Step {
    const char* sent;  // null: the peer closes
    uInt32 count;
    int32 status;
    const char* got;
  } steps[] = {
      {"12345\nrest", 3, kVisaMaxCount, "123"}, {"", 10, kVisaTermChar, "45\n"},
      {"", 10, kVisaErrTimeout, "rest"},        {"ab", 10, kVisaErrTimeout, "ab"},
      {"xyz", 10, kVisaErrTimeout, "xyz"},      {nullptr, 10, kVisaErrConnLost, ""},
  };
  for (const Step& st : steps) {
    SCOPED_TRACE(st.got);
    if (st.sent) send(peer, st.sent, std::strlen(st.sent), MSG_NOSIGNAL);
    else close(peer);
    char buf[16];
    uInt32 n = 99;
    EXPECT_EQ(read(vi, buf, st.count, &n), st.status);
    EXPECT_EQ(std::string(buf, n), st.got);
  }
  EXPECT_EQ(VisaClose(c), 0);
  close(lfd);
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
}

// Clumps of two threads open and close sessions at once: the jar and the
// library's session table keep every refnum whole.  A third reads the
// sessions being closed: a record freed under it would read garbage.
TEST_F(VisaTest, ConcurrentOpensAndClosesLoseNoSession) {
  ASSERT_EQ(VisaLoadLibrary(), 0);
  const int rounds = std::getenv("QX_UNDER_VALGRIND") ? 20 : 300;
  std::atomic<int> bad{0}, running{2};
  std::atomic<Cookie> latest{0};
  auto work = [&](const char* text) {
    LStrHandle name = Text(text);
    for (int i = 0; i < rounds; ++i) {
      Cookie c = 0;
      if (VisaOpen(name, 0, 2000, nullptr, &c) != 0 || !VisaIsASession(c)) bad.fetch_add(1);
      latest.store(c);
      uInt32 vi = 0;
      if (VCookieToSesn(c, &vi) != 0 || vi == 0) bad.fetch_add(1);
      if (VisaClose(c) != 0) bad.fetch_add(1);
    }
    DSDisposeHandle(reinterpret_cast<UHandle>(name));
    running.fetch_sub(1);
  };
  auto probe = [&] {
    while (running.load()) {
      Cookie c = latest.load();
      uInt32 vi = 0;
      int32 board = -1;
      if (VCookieToSesn(c, &vi) == 0 && vi == 0) bad.fetch_add(1);
      if (VisaSessionGPIBBoard(c, &board) == 0 && board != 0 && board != 1) bad.fetch_add(1);
    }
  };
  std::thread t0(work, "GPIB0::5::INSTR"), t1(work, "GPIB1::7::INSTR"), t2(probe);
  t0.join();
  t1.join();
  t2.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(OpenCount(), 0);
}

// Clean-up needs a clump that runs a top-level VI.
class VisaCleanupTest : public qxexectest::ExecTest {
 protected:
  void SetUp() override {
    qxexectest::ExecTest::SetUp();
    CfgTestSetValue("cleanupVisa", "true");
    Restart();
    qxexectest::OnlySlots({});
    ASSERT_EQ(InitExec(), kNoErr);
    ds_ = std::make_unique<qxexectest::TestDataSpace>();
    element_ = qxexectest::NewElement(ds_->handle());
    ExecContextAt(0)->current.store(&element_);
  }
  void TearDown() override {
    ExecContextAt(0)->current.store(nullptr);
    RunCleanupProcs(nullptr);
    DisposeCleanupList();
    VisaCloseAll();
    VisaSetLibraryForTest(nullptr);
    GPIBCloseAllUnits();
    CfgTestRemoveValue("cleanupVisa");
    // The allocation failed on purpose leaves the memory-full notice pending,
    // which the next report of the process would show.
    MemFullReset();
    ds_.reset();
    qxexectest::ExecTest::TearDown();
  }
  Cookie Open(const std::string& text, int32 expect = 0, int32 failNth = 0) {
    LStrHandle name = Text(text);
    Cookie c = 0;
    MemFailNthAllocation(failNth);
    EXPECT_EQ(VisaOpen(name, 0, 2000, nullptr, &c), expect) << text;
    MemFailNthAllocation(0);
    DSDisposeHandle(reinterpret_cast<UHandle>(name));
    return c;
  }
  int ClosesLogged() {
    int n = 0;
    for (const std::string& line : Calls()) n += line.rfind("viClose(", 0) == 0;
    return n;
  }
  std::unique_ptr<qxexectest::TestDataSpace> ds_;
  QueueElement element_{};
};

TEST_F(VisaCleanupTest, SessionsLeftOpenCloseWithTheirTopLevelVIAndNoneIsLost) {
  Peer peer;
  Cookie gpib = Open("GPIB0::5::INSTR"), tcp = Open(peer.Name());
  Calls();
  EXPECT_EQ(CleanupProcCount(), 2);
  RunCleanupProcs(ds_->handle());
  EXPECT_FALSE(VisaIsASession(gpib));
  EXPECT_FALSE(VisaIsASession(tcp));
  EXPECT_EQ(ClosesLogged(), 2);
  // Closed by the diagram first, a session leaves no clean-up behind.
  Cookie c = Open("GPIB1::7::INSTR");
  EXPECT_EQ(VisaClose(c), 0);
  EXPECT_EQ(CleanupProcCount(), 0);

  // A failed interface-type read: opened all the same, not on GPIB.
  ASSERT_EQ(Apply("visa intf=fail"), 0);
  c = Open("GPIB1::7::INSTR");
  int32 board = 5;
  EXPECT_EQ(VisaSessionGPIBBoard(c, &board), 0);
  EXPECT_EQ(board, -1);
  EXPECT_EQ(VisaClose(c), 0);
  ASSERT_EQ(Apply("visa intf=ok"), 0);

  // No record for the session: the library's session is closed at once.
  Calls();
  c = Open("GPIB0::5::INSTR", kMemFullErr, 1);
  EXPECT_EQ(c, 0u);
  EXPECT_EQ(ClosesLogged(), 1);
  EXPECT_EQ(OpenCount(), 0);
}

class VisaAccessTest : public qxexectest::ExecTest {};
std::atomic<QueueElement*> gRan{nullptr};

TEST_F(VisaAccessTest, GPIBSessionsUseTheirBoardsUnitAndOthersTheirOwnRecord) {
  Restart();
  GPIBCloseAllUnits();
  qxexectest::OnlySlots({{2, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  ExecSetTestRunProc([](ExecContext*, QueueElement* e) { gRan.store(e); });
  qxexectest::TestDataSpace ds(kPriNormal);
  QueueElement a = qxexectest::NewElement(ds.handle()), b = qxexectest::NewElement(ds.handle());
  a.runningContext = a.entryContext = b.runningContext = b.entryContext = ExecSlotContext(2);
  Peer peer;
  LStrHandle n1 = Text("GPIB1::7::INSTR"), n2 = Text(peer.Name());
  Cookie gpib = 0, tcp = 0;
  ASSERT_EQ(VisaOpen(n1, 0, 2000, nullptr, &gpib), 0);
  ASSERT_EQ(VisaOpen(n2, 0, 2000, nullptr, &tcp), 0);
  int32 result = -1;
  ASSERT_EQ(VisaAccess(gpib, &result, &a, kUnitAcquire), kNoErr);
  EXPECT_EQ(result, kUnitGoOn);
  EXPECT_EQ(reinterpret_cast<UnitAccessRec*>(GetGPIBUnit(1))->owner, &a);
  EXPECT_EQ(reinterpret_cast<UnitAccessRec*>(GetGPIBUnit(0))->owner, nullptr) << "board 1, not board 0";
  ASSERT_EQ(VisaAccess(gpib, &result, &a, kUnitRelease), kNoErr);

  // Two clumps take turns on the TCP session's own record.
  gRan.store(nullptr);
  ASSERT_EQ(VisaAccess(tcp, &result, &a, kUnitAcquire), kNoErr);
  EXPECT_EQ(result, kUnitGoOn);
  ASSERT_NE(VisaSessionRecord(tcp)->unitAccess, nullptr);
  EXPECT_EQ(VisaSessionRecord(tcp)->unitAccess->owner, &a);
  ASSERT_EQ(VisaAccess(tcp, &result, &b, kUnitAcquire), kNoErr);
  EXPECT_EQ(result, kUnitYield);
  ASSERT_EQ(VisaAccess(tcp, &result, &a, kUnitRelease), kNoErr);
  EXPECT_EQ(VisaSessionRecord(tcp)->unitAccess->owner, &b);
  for (int i = 0; i < 5000 && !gRan.load(); ++i) WSleep(1);
  EXPECT_EQ(gRan.load(), &b);
  ASSERT_EQ(VisaAccess(tcp, &result, &b, kUnitRelease), kNoErr);
  EXPECT_EQ(VisaClose(tcp), 0);
  EXPECT_EQ(VisaClose(gpib), 0);
  DSDisposeHandle(reinterpret_cast<UHandle>(n1));
  DSDisposeHandle(reinterpret_cast<UHandle>(n2));
  VisaCloseAll();
  VisaSetLibraryForTest(nullptr);
  GPIBCloseAllUnits();
}

}  // namespace
