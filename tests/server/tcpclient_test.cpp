// The VI server's client: application references to this process's own
// server over loopback (shared records, remote references, properties and
// calls, the last release's Bye), and to a server the test scripts byte by
// byte (a refused Hello, a dropped connection, killed operations, error
// stops, unreadable outputs, a reset call).
#include <thread>

#include "engine/exec/callchain.h"
#include "engine/vi/viinst.h"
#include "mgsource/debug.h"
#include "platform/qx_netdb.h"
#include "server/proxy.h"
#include "server/tcp_fixture.h"

namespace tcptest {
namespace {

// What the last completion of the client saw.
struct Done {
  int32 count = 0;
  MgErr error = 0;
  uInt32 param0 = 0, param2 = 0;
  std::string text;
};
Done gDone;
void Record(AsyncRef a) {
  ++gDone.count;
  gDone.error = a->error;
  gDone.param0 = a->param[0];
  gDone.param2 = a->param[2];
  gDone.text = a->errorText ? std::string(reinterpret_cast<const char*>(a->errorText + 1), a->errorText[0]) : "";
}

class TCPClientTest : public TCPTest {
 protected:
  void SetUp() override {
    TCPTest::SetUp();
    gDone = Done{};
  }
  void TearDown() override {
    if (fake_ >= 0) close(fake_);
    PlatSetResolverHook(nullptr);
    TCPTest::TearDown();
  }
  // Waits for the next completion.
  static bool Completed(int32 before) { return Pump([before] { return gDone.count > before; }); }
  // An application reference to the machine and port, ready: 0 and the
  // error otherwise.
  AppRef OpenApp(const std::string& host, uInt16 port, MgErr* error) {
    AppRef app = 0;
    AsyncRef async = nullptr;
    const int32 before = gDone.count;
    *error = OpenAppRefByName(PS(host), port, &app, nullptr, &Record, &async);
    if (*error == kVIRefPendingErr) {
      EXPECT_TRUE(Completed(before));
      *error = gDone.error;
      if (*error) app = 0;
    }
    return app;
  }
  VIRef OpenVI(AppRef app, const std::string& name, const std::vector<uChar>& pane, MgErr* error) {
    VIRef ref = 0;
    AsyncRef async = nullptr;
    const int32 before = gDone.count;
    *error = AppOpenVIRefByName(app, PS(name), pane.empty() ? nullptr : tdb::AsTD(pane), 0, nullptr, &ref, nullptr,
                                &Record, &async);
    if (*error == kVIRefPendingErr) {
      EXPECT_TRUE(Completed(before));
      *error = gDone.error;
    }
    return *error ? 0 : ref;
  }
  // The callee data space of a remote reference, given the call's table.
  static DataSpace Callee(VIRef ref, AddCall* call) {
    VIRefRecord* r = ResolveVIRef(ref);
    DataSpace ds = r ? r->callDS : nullptr;
    if (ds) (*ds)->callTable = &call->table;
    return ds;
  }
  // ---- A server the test plays ----------------------------------------------------------------
  uInt16 FakeListen() {
    int port = 0;
    listen_ = qxloop::Listen(&port);
    EXPECT_GE(listen_, 0);
    peers_.push_back(listen_);
    return uInt16(port);
  }
  // Accepts the client (pumping its side meanwhile) and takes its Hello.
  void FakeAccept(MgErr helloError = 0) {
    ASSERT_TRUE(Pump([this] {
      pollfd p{listen_, POLLIN, 0};
      return poll(&p, 1, 0) == 1;
    }));
    fake_ = accept(listen_, nullptr, nullptr);
    ASSERT_GE(fake_, 0);
    const Msg hello = Read(fake_);
    EXPECT_EQ(hello.h.type, kTSClientHello);
    EXPECT_EQ(hello.h.uniqueId, 5u);
    if (helloError) {
      SrvMessage m{};
      ASSERT_EQ(SrvMakeErrorReply(kTSServerHello, 5, helloError, PS("Bad protocol level"), &m), kNoErr);
      Send(fake_, m);
      SrvDisposeMessage(&m);
    } else {
      Send(fake_, SrvMsgHeader{0, kTSServerHello, 5, 0});
    }
  }
  // An application reference and a typed reference through the scripted
  // server, which answers the open with server refnum 0x51.
  VIRef FakeOpen(AppRef* app) {
    MgErr err = 0;
    AsyncRef async = nullptr;
    const uInt16 port = FakeListen();
    const int32 before = gDone.count;
    EXPECT_EQ(OpenAppRefByName(PS("127.0.0.1"), port, app, nullptr, &Record, &async), kVIRefPendingErr);
    FakeAccept();
    EXPECT_TRUE(Completed(before));
    VIRef ref = 0;
    const std::vector<uChar> pane = AddPane();
    const int32 opened = gDone.count;
    EXPECT_EQ(AppOpenVIRefByName(*app, PS("Add.vi"), tdb::AsTD(pane), 0, nullptr, &ref, nullptr, &Record, &async),
              kVIRefPendingErr);
    const Msg req = Read(fake_);
    EXPECT_EQ(req.h.type, kTSGetVIRefRequest);
    SrvMessage m{};
    EXPECT_EQ(SrvWriteOpenReply(req.h.uniqueId, 0x51, 0, &m), kNoErr);
    Send(fake_, m);
    SrvDisposeMessage(&m);
    EXPECT_TRUE(Completed(opened));
    err = gDone.error;
    EXPECT_EQ(err, kNoErr);
    return ref;
  }

  int listen_ = -1;
  int fake_ = -1;
};

bool NoHost(const char*, uint32_t*) { return false; }

// Against this process's own server: two opens share one record and one
// connection; a remote reference reads "VI Name" and calls Add; the last
// release says Bye; a name that does not resolve fails at once.
TEST_F(TCPClientTest, OpensShareARecordAndTheLastReleaseSaysBye) {
  UHandle add = Load("Add.vi", runvi::Clumps::kAdd);
  ASSERT_NE(add, nullptr);
  MgErr err = 0;
  const AppRef first = OpenApp("127.0.0.1", port_, &err);
  ASSERT_EQ(err, kNoErr);
  const AppRef second = OpenApp("127.0.0.1", port_, &err);
  ASSERT_EQ(err, kNoErr) << "found ready";
  EXPECT_NE(first, second);
  ASSERT_NE(ResolveQXAppRef(first), nullptr);
  EXPECT_EQ(ResolveQXAppRef(first), ResolveQXAppRef(second));
  EXPECT_EQ(TCPServerConnCount(), 2) << "one client connection and its server side";
  const VIRef ref = OpenVI(second, "Add.vi", AddPane(), &err);
  ASSERT_EQ(err, kNoErr);
  EXPECT_EQ(Refs(add), 1) << "the server's reference";
  LStrHandle name = nullptr;
  AsyncRef async = nullptr;
  int32 before = gDone.count;
  ASSERT_EQ(VIRefGetAttributes(ref, 500, &name, 0, nullptr, &Record, &async), kVIRefPendingErr);
  ASSERT_TRUE(Completed(before));
  EXPECT_EQ(gDone.error, kNoErr);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>((*name)->str), (*name)->cnt), "Add.vi");
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
  AddCall call(2, 3);
  DataSpace ds = Callee(ref, &call);
  ASSERT_NE(ds, nullptr);
  ASSERT_EQ(TSSendCall(ref, ds), kNoErr);
  EXPECT_TRUE(Pump([&] { return !(*ds)->pxCallAsync; }));
  EXPECT_EQ(call.sum, 5);
  EXPECT_EQ(call.Code(), 0);
  (*ds)->callTable = nullptr;
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
  EXPECT_TRUE(Pump([&] { return Refs(add) == 0; }));
  EXPECT_EQ(QXAppRefRelease(first), kNoErr);
  Pump([] { return false; }, 100);
  EXPECT_EQ(TCPServerConnCount(), 2) << "the second refnum keeps the connection";
  EXPECT_EQ(QXAppRefRelease(second), kNoErr);
  EXPECT_TRUE(Pump([] { return TCPServerConnCount() == 0; }));
  EXPECT_NE(LogText().find("msg=\"Client Says Bye\""), std::string::npos);
  PlatSetResolverHook(&NoHost);
  AppRef none = 0;
  EXPECT_EQ(OpenAppRefByName(PS("nowhere.invalid"), port_, &none, nullptr, &Record, &async), 54);
  EXPECT_EQ(none, kNoAppRef);
  EXPECT_EQ(TCPServerConnCount(), 0) << "no record, no connection";
  AppRef local = 0;
  EXPECT_EQ(OpenAppRefByName(PS(""), 0, &local, nullptr, nullptr, nullptr), kNoErr);
  EXPECT_EQ(local, kLocalAppRef);
}

// Threads that share one remote reference: each request of each thread is
// answered once, to its own thread, while the loop serves the connection.
std::mutex gThreadsLock;
// By the place of the thread's output, which no other thread shares.
std::map<void*, MgErr> gThreadsDone;
void RecordForThread(AsyncRef a) {
  std::lock_guard<std::mutex> g(gThreadsLock);
  gThreadsDone[reinterpret_cast<AttrEntry*>(uintptr_t(a->param[1]))->value] = a->error;
}
// Waits for the completion of the operation with that output: its error, or -1.
MgErr WaitForThread(void* a) {
  for (int i = 0; i < 20000; ++i) {
    {
      std::lock_guard<std::mutex> g(gThreadsLock);
      if (auto it = gThreadsDone.find(a); it != gThreadsDone.end()) {
        const MgErr err = it->second;
        gThreadsDone.erase(it);
        return err;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return -1;
}

TEST_F(TCPClientTest, ConcurrentThreadsShareOneConnection) {
  ASSERT_NE(Load("Add.vi", runvi::Clumps::kAdd), nullptr);
  MgErr err = 0;
  const AppRef app = OpenApp("127.0.0.1", port_, &err);
  ASSERT_EQ(err, kNoErr);
  const VIRef ref = OpenVI(app, "Add.vi", {}, &err);
  ASSERT_EQ(err, kNoErr);
  constexpr int kThreads = 4, kTrips = 10;
  std::atomic<int> finished{0}, wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kTrips; ++i) {
        LStrHandle name = nullptr;
        AsyncRef async = nullptr;
        if (VIRefGetAttributes(ref, 500, &name, 0, nullptr, &RecordForThread, &async) != kVIRefPendingErr) {
          wrong.fetch_add(1);
          break;
        }
        if (WaitForThread(&name) != kNoErr || !name || (*name)->cnt != 6) wrong.fetch_add(1);
        if (name) DSDisposeHandle(reinterpret_cast<UHandle>(name));
      }
      finished.fetch_add(1);
    });
  EXPECT_TRUE(Pump([&] { return finished.load() == kThreads; }, 60000));
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(TCPServerConnCount(), 2) << "one connection for every thread";
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
  EXPECT_EQ(QXAppRefRelease(app), kNoErr);
}

// Application properties and methods, and a VI method that completes
// later ("Run VI", waiting until done), through this process's server.
TEST_F(TCPClientTest, MethodsAndApplicationPropertiesGoOverTheWire) {
  ASSERT_NE(Load("Add.vi", vif::WriteWithPanel(runvi::File("Add.vi", runvi::Clumps::kAdd))), nullptr);
  MgErr err = 0;
  const AppRef app = OpenApp("127.0.0.1", port_, &err);
  ASSERT_EQ(err, kNoErr);
  const VIRef ref = OpenVI(app, "Add.vi", {}, &err);
  ASSERT_EQ(err, kNoErr);
  AsyncRef async = nullptr;
  int32 kind = 0;
  int32 before = gDone.count;
  ASSERT_EQ(AppGetAttribute(app, 3, &kind, 0, nullptr, &Record, &async), kVIRefPendingErr);
  ASSERT_TRUE(Completed(before));
  EXPECT_EQ(gDone.error, kNoErr);
  EXPECT_EQ(kind, 2) << "Application:Kind: the run-time system";
  const struct {
    int32 method;
    MgErr want;
  } methods[] = {{2014, kNoErr}, {2000, kVIRefMethodErr}};  // brought to the front; not in this run-time
  for (const auto& m : methods) {
    AttrEntry none[1] = {{0, 0, nullptr}};
    before = gDone.count;
    ASSERT_EQ(AppDoMethod(app, m.method, 1, none, 0, nullptr, &Record, &async), kVIRefPendingErr);
    ASSERT_TRUE(Completed(before));
    EXPECT_EQ(gDone.error, m.want) << m.method;
  }
  uInt8 wait = 1;
  AttrEntry run[2] = {{0, 0, nullptr}, {0, 0, &wait}};
  before = gDone.count;
  ASSERT_EQ(VIRefDoMethod(ref, 1003, 2, run, 0, nullptr, &Record, &async), kVIRefPendingErr);
  ASSERT_TRUE(Completed(before));
  EXPECT_EQ(gDone.error, kNoErr) << "the run ended";
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
  EXPECT_EQ(QXAppRefRelease(app), kNoErr);
}

TEST_F(TCPClientTest, ARefusedHelloFailsTheOpen) {
  AppRef app = 0;
  AsyncRef async = nullptr;
  const uInt16 port = FakeListen();
  const int32 before = gDone.count;
  ASSERT_EQ(OpenAppRefByName(PS("127.0.0.1"), port, &app, nullptr, &Record, &async), kVIRefPendingErr);
  FakeAccept(kVIRefProtocolErr);
  ASSERT_TRUE(Completed(before));
  EXPECT_EQ(gDone.error, kVIRefProtocolErr);
  EXPECT_FALSE(IsAppRefnum(app)) << "the failed open's refnum is released";
  EXPECT_TRUE(Pump([] { return TCPServerConnCount() == 0; }));
}

// The scripted server's answers, one table: what the client's waiting
// operations and calls end with.
TEST_F(TCPClientTest, RepliesEndTheClientsOperations) {
  AppRef app = 0;
  const VIRef ref = FakeOpen(&app);
  ASSERT_NE(ref, 0);
  struct Row {
    const char* what;
    std::function<void()> run;
  } rows[] = {
      {"a reply to a killed operation is dropped",
       [&] {
         LStrHandle name = nullptr;
         AsyncRef async = nullptr;
         const int32 before = gDone.count;
         ASSERT_EQ(VIRefGetAttributes(ref, 500, &name, 0, nullptr, &Record, &async), kVIRefPendingErr);
         const Msg req = Read(fake_);
         EXPECT_EQ(req.h.type, kTSVIPropRequest);
         EXPECT_EQ(GetBE32(req.data.data()), 0x51u) << "the server's refnum";
         EXPECT_EQ(KillQXObjAsyncRef(async), kNoErr);
         qxtest::Reports::Get().Clear();
         SrvMessage m{};
         ASSERT_EQ(SrvMakeErrorReply(kTSVIPropReply, req.h.uniqueId, 1, nullptr, &m), kNoErr);
         m.header.error = 0;  // a reply of an empty vector would be read; this one is not
         Send(fake_, m);
         SrvDisposeMessage(&m);
         Pump([] { return false; }, 200);
         EXPECT_EQ(qxtest::Reports::Get().Count("CliRcvVIAttrVectReply: reply to killed asyncRef"), 1);
         EXPECT_EQ(gDone.count, before);
       }},
      {"an error stop stops the caller with the server's text, the reset's reply ends the call",
       [&] {
         AddCall call(1, 1);
         DataSpace ds = Callee(ref, &call);
         ASSERT_EQ(TSSendCall(ref, ds), kNoErr);
         const Msg req = Read(fake_);
         EXPECT_EQ(req.h.type, kTSCallVIRequest);
         EXPECT_EQ(req.h.uniqueId, uInt32(ref)) << "a call's unique id is the local refnum";
         SrvMessage m{};
         ASSERT_EQ(SrvMakeErrorReply(kTSErrorStopSend, uInt32(ref), 7, PS("Add.vi stopped"), &m), kNoErr);
         Send(fake_, m);
         SrvDisposeMessage(&m);
         EXPECT_TRUE(Pump([&] { return call.Code() == 7; }));
         EXPECT_EQ(call.Source(), "Add.vi stopped");
         EXPECT_NE((*ds)->pxCallAsync, nullptr) << "still waiting";
         Send(fake_, SrvMsgHeader{0, kTSResetDownReply, uInt32(ref), 0});
         EXPECT_TRUE(Pump([&] { return !(*ds)->pxCallAsync; }));
         (*ds)->callTable = nullptr;
       }},
      {"outputs that cannot be read end the call with an error",
       [&] {
         AddCall call(1, 1);
         DataSpace ds = Callee(ref, &call);
         ASSERT_EQ(TSSendCall(ref, ds), kNoErr);
         const Msg req = Read(fake_);
         Send(fake_, SrvMsgHeader{0, kTSCallVIReply, req.h.uniqueId, 6}, {0, 0, 0, 9, 1, 2});
         EXPECT_TRUE(Pump([&] { return !(*ds)->pxCallAsync; }));
         EXPECT_EQ(call.Code(), kVIRefGenericErr);
         EXPECT_EQ(call.error.status, 1);
         EXPECT_EQ(call.sum, -1);
         (*ds)->callTable = nullptr;
       }},
      {"a killed call sends a reset and ends on its reply",
       [&] {
         AddCall call(1, 1);
         DataSpace ds = Callee(ref, &call);
         ASSERT_EQ(TSSendCall(ref, ds), kNoErr);
         Read(fake_);
         ASSERT_EQ(KillQXObjAsyncRef(static_cast<AsyncRef>((*ds)->pxCallAsync)), kNoErr);
         const Msg reset = Read(fake_);
         EXPECT_EQ(reset.h.type, kTSResetDownRequest);
         EXPECT_EQ(reset.h.uniqueId, 0x51u);
         EXPECT_NE((*ds)->pxCallAsync, nullptr) << "the reset's reply ends it";
         Send(fake_, SrvMsgHeader{0, kTSResetDownReply, uInt32(ref), 0});
         EXPECT_TRUE(Pump([&] { return !(*ds)->pxCallAsync; }));
         EXPECT_EQ(call.Code(), 0);
         (*ds)->callTable = nullptr;
       }},
      {"a lost connection fails what waits with 66, a call too, and later requests",
       [&] {
         LStrHandle name = nullptr;
         AsyncRef async = nullptr;
         const int32 before = gDone.count;
         ASSERT_EQ(VIRefGetAttributes(ref, 500, &name, 0, nullptr, &Record, &async), kVIRefPendingErr);
         Read(fake_);
         AddCall call(1, 1);
         DataSpace ds = Callee(ref, &call);
         ASSERT_EQ(TSSendCall(ref, ds), kNoErr);
         Read(fake_);
         close(fake_);
         fake_ = -1;
         ASSERT_TRUE(Completed(before));
         EXPECT_EQ(gDone.error, kVIRefPeerClosedErr);
         EXPECT_EQ(call.Code(), kVIRefPeerClosedErr) << "the call ends before its callee goes";
         EXPECT_FALSE(IsVIRefnum(uInt32(ref))) << "the references it held are released";
         int32 kind = 0;
         EXPECT_EQ(AppGetAttribute(app, 3, &kind, 0, nullptr, &Record, &async), kVIRefPeerClosedErr);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    row.run();
  }
  EXPECT_EQ(QXAppRefRelease(app), kNoErr);
}

}  // namespace
}  // namespace tcptest
