// The VI server over real loopback sockets, its peers typed byte by byte:
// the Hello and the refusals, skipped and oversized messages, the access
// lists, which client may use which reference, the end of a client that
// leaves a call running, the listener and the log.
#include <regex>

#include "mgsource/config_test_file.h"

#include "server/tcp_fixture.h"

namespace tcptest {
namespace {

using runvi::Clumps;

class TCPServerTest : public TCPTest {
 protected:
  void SetUp() override {
    TCPTest::SetUp();
    add_ = Load("Add.vi", Clumps::kAdd);
    ASSERT_NE(add_, nullptr);
    ASSERT_NE(Load("SecretTool.vi", Clumps::kOnce), nullptr);
  }
  UHandle add_ = nullptr;
};

// The read sizes of the server's connections.
std::vector<int32> gReads;
MgErr RecordRead(Cookie c, UPtr b, int32* n, int32 t, NCCompletionProc p, int32 d, int32 m) {
  gReads.push_back(*n);
  return NCReadConn(c, b, n, t, p, d, m);
}

TEST_F(TCPServerTest, PeersMeetTheProtocolsRules) {
  const std::vector<uChar> pane = AddPane();
  struct Row {
    const char* what;
    std::function<void(TCPServerTest*)> run;
  } rows[] = {
      {"a Hello of level 4 is refused and the connection closed",
       [](TCPServerTest* t) {
         const int fd = t->Connect();
         Send(fd, SrvMsgHeader{0, kTSClientHello, 4, 0});
         const Msg m = Read(fd);
         EXPECT_EQ(m.h.type, kTSServerHello);
         EXPECT_EQ(m.h.uniqueId, 5u);
         EXPECT_EQ(m.h.error, kVIRefProtocolErr);
         EXPECT_EQ(std::string(m.data.begin(), m.data.end()), "\x12" "Bad protocol level");
         EXPECT_TRUE(ClosedByServer(fd));
       }},
      {"a request before the Hello closes",
       [](TCPServerTest* t) {
         const int fd = t->Connect();
         Send(fd, SrvMsgHeader{0, kTSGetVIRefRequest, 1, 0});
         EXPECT_TRUE(ClosedByServer(fd));
       }},
      {"a misdirected message of 1,300 bytes is skipped in reads of 512, 512 and 276",
       [&](TCPServerTest* t) {
         const int fd = t->Greeted();
         TSNetLayer recording = TSNet();
         recording.read = &RecordRead;
         TSSetNetLayer(&recording);
         gReads.clear();
         Send(fd, SrvMsgHeader{0, kTSVIPropReply, 1, 1300}, std::vector<uChar>(1300, 0xAB));
         EXPECT_NE(t->OpenRemote(fd, "Add.vi", pane), 0) << "the next request is served";
         TSSetNetLayer(nullptr);
         // The pieces of the skipped data, then the next header.
         const std::vector<int32> want{512, 512, 276, 16};
         EXPECT_TRUE(std::search(gReads.begin(), gReads.end(), want.begin(), want.end()) != gReads.end());
       }},
      {"a message of an unknown type is skipped",
       [&](TCPServerTest* t) {
         const int fd = t->Greeted();
         Send(fd, SrvMsgHeader{0, 25, 1, 10}, std::vector<uChar>(10, 1));
         EXPECT_NE(t->OpenRemote(fd, "Add.vi", pane), 0);
       }},
      {"a data length of 0x7FFFFFFF closes the connection with nothing allocated",
       [](TCPServerTest* t) {
         const int fd = t->Greeted();
         Send(fd, SrvMsgHeader{0, kTSGetVIRefRequest, 1, 0x7FFFFFFF});
         EXPECT_TRUE(ClosedByServer(fd));
         EXPECT_NE(t->LogText().find("data length 2147483647 refused"), std::string::npos);
       }},
      {"a VI the exported list denies is answered 1032, and the connection stays",
       [&](TCPServerTest* t) {
         const int fd = t->Greeted();
         MgErr err = 0;
         EXPECT_EQ(t->OpenRemote(fd, "SecretTool.vi", {}, &err), 0);
         EXPECT_EQ(err, kVIRefAccessErr);
         EXPECT_NE(t->OpenRemote(fd, "Add.vi", pane), 0);
       }},
      {"a call while calls are off is answered 1032",
       [&](TCPServerTest* t) {
         const int fd = t->Greeted();
         const VIRef ref = t->OpenRemote(fd, "Add.vi", pane);
         PrefSet(kPrefServerVICallsEnabled, 0);
         const Msg m = RemoteAdd(fd, ref, 2, 3);
         PrefSet(kPrefServerVICallsEnabled, 1);
         EXPECT_EQ(m.h.type, kTSCallVIReply);
         EXPECT_EQ(m.h.error, kVIRefAccessErr);
         EXPECT_EQ(SumOf(RemoteAdd(fd, ref, 2, 3)), 5) << "on again";
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    row.run(this);
  }
}

// A client's references are its own: another client's property, call,
// reset and release of them are refused or ignored, while the owner goes on.
TEST_F(TCPServerTest, AReferenceServesOnlyTheClientThatOpenedIt) {
  const int owner = Greeted(), other = Greeted();
  const VIRef ref = OpenRemote(owner, "Add.vi", AddPane());
  ASSERT_NE(ref, 0);
  std::string name;
  EXPECT_EQ(RemoteName(other, ref, &name), kVIRefInvalidErr);
  const Msg call = RemoteAdd(other, ref, 2, 3);
  EXPECT_EQ(call.h.type, kTSCallVIReply);
  EXPECT_EQ(call.h.error, kVIRefInvalidErr);
  Send(other, SrvMsgHeader{0, kTSResetDownRequest, uInt32(ref), 0});
  Send(other, SrvMsgHeader{0, kTSReleaseRef, uInt32(ref), 0});
  EXPECT_EQ(RemoteName(other, ref, &name), kVIRefInvalidErr) << "the other connection still works";
  EXPECT_EQ(RemoteName(owner, ref, &name), kNoErr);
  EXPECT_EQ(name, "Add.vi");
  EXPECT_EQ(SumOf(RemoteAdd(owner, ref, 2, 3)), 5);
  EXPECT_EQ(Refs(add_), 1);
  Send(owner, SrvMsgHeader{0, kTSReleaseRef, uInt32(ref), 0});
  EXPECT_TRUE(Pump([&] { return Refs(add_) == 0; }));
  const std::string log = LogText();
  EXPECT_NE(log.find("Starting VI call"), std::string::npos);
  EXPECT_NE(log.find("Finishing VI call"), std::string::npos);
}

// A client that goes while its call runs: the call is reset, its references
// released, and the VI is idle for the next client.
TEST_F(TCPServerTest, AClientLostDuringACallLeavesTheVIIdleAndUnreferenced) {
  vif::VIFile v = runvi::File("Slow.vi", Clumps::kSpin);
  for (const char* n : {"a", "b", "sum"}) v.entries.push_back(tdb::I32().Named(n));
  v.connPane = tdb::Function(0, {0, 0, 0x100}, {tdb::I32().Named("a"), tdb::I32().Named("b"), tdb::I32().Named("sum")});
  UHandle slow = Load("Slow.vi", vif::Write(v));
  ASSERT_NE(slow, nullptr);
  int lost = Greeted();
  const VIRef ref = OpenRemote(lost, "Slow.vi", AddPane());
  ASSERT_NE(ref, 0);
  SendAdd(lost, ref, 1, 2);
  // Reserved for calls the VI is not idle from the open on: the call runs
  // it.
  ASSERT_TRUE(Pump([&] { return (VIRec(slow)->eState & 2) != 0; }));
  close(lost);
  peers_.erase(std::find(peers_.begin(), peers_.end(), lost));
  EXPECT_TRUE(Pump([&] { return Refs(slow) == 0 && (VIRec(slow)->eState & kVIStateMask) == kVIStateIdle; }));
  const int next = Greeted();
  const VIRef again = OpenRemote(next, "Slow.vi", {});
  std::vector<uChar> state;
  ASSERT_EQ(RemoteGet(next, again, 557, &state), kNoErr);
  ASSERT_EQ(state.size(), 4u);
  EXPECT_EQ(GetBE32(state.data()), 1u) << "Execution:State is Idle";
}

// Off closes every connection after a Bye; on twice makes one listener; the
// host list decides who connects; the log's lines are in their format.
TEST_F(TCPServerTest, TheListenerAndTheHostListDecideWhoTalks) {
  const int first = Greeted(), second = Greeted();
  ASSERT_EQ(SetServerListening(0), kNoErr);
  for (int fd : {first, second}) {
    EXPECT_EQ(Read(fd).h.type, kTSServerBye);
    EXPECT_TRUE(ClosedByServer(fd));
  }
  Str255 text;
  EXPECT_EQ(SrvStatusText(text), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text + 1), text[0]), "TCP Server inactive");
  ASSERT_EQ(SetServerListening(1), kNoErr);
  port_ = TSListenerPort();
  EXPECT_EQ(SetServerListening(1), kNoErr);
  EXPECT_EQ(TSListenerPort(), port_) << "one listener";
  EXPECT_EQ(SrvStatusText(text), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text + 1), text[0]),
            "TCP Server active on port " + std::to_string(port_));
  const struct {
    const char* hosts;
    bool accepted;
  } cases[] = {{"-127.0.0.1", false}, {"+*", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hosts);
    SetHosts({c.hosts});
    const int fd = Connect();
    Send(fd, SrvMsgHeader{0, kTSClientHello, 5, 0});
    const Msg m = Read(fd, 3000);
    EXPECT_EQ(!m.closed && m.h.type == kTSServerHello, c.accepted);
  }
  const std::string log = LogText();
  const std::regex line("\\d{4}\\.\\d{2}\\.\\d{2} - \\d{2}:\\d{2}:\\d{2};  ## New incoming connection\r\n\t\t"
                        "CONNECTION FAILED; err=1032; client=\"[^\"]*\" \\(127\\.0\\.0\\.1\\)\r\n");
  EXPECT_TRUE(std::regex_search(log, line)) << log;
  EXPECT_NE(log.find("CONNECTION ACCEPTED; client="), std::string::npos);
  EXPECT_NE(log.find("Turning off server."), std::string::npos);
  EXPECT_NE(log.find("SERVER closing ref=0x"), std::string::npos);
  EXPECT_NE(log.find("Turning on server. err=0"), std::string::npos);
  // The start-up's listener on a port already taken: its error is reported
  // and shown on the status line.
  ASSERT_EQ(SetServerListening(0), kNoErr);
  int taken = 0;
  const int busy = qxloop::Listen(&taken);
  ASSERT_GE(busy, 0);
  peers_.push_back(busy);
  PrefSet(kPrefServerTcpPort, taken);
  CfgTestSetValue("server.tcp.enabled", "True");
  qxtest::Reports::Get().Clear();
  EXPECT_EQ(TCPServerInit(), 60);
  CfgTestClearValues();
  EXPECT_EQ(qxtest::Reports::Get().Count("TCP VI Server: can't start listener; err=60"), 1);
  EXPECT_EQ(SrvStatusText(text), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text + 1), text[0]),
            "TCP Server inactive:  listen failed with error 60");
}

}  // namespace
}  // namespace tcptest
