// The set-up of the VI server's TCP tests: the VI reference fixture, a frame
// window that takes the socket messages, the server listening on a port the
// system picks with the hosts "+127.0.0.1" and the VIs "+*", "-Secret*.vi",
// its log in a file of the test; raw peers that speak the message format
// over loopback while the test pumps the server.
#pragma once
#include <fcntl.h>
#include <poll.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/exec/callchain.h"
#include "io/netconn.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/occur.h"
#include "mgsource/prefs.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "server/access.h"
#include "server/add_call.h"
#include "server/protocol.h"
#include "server/server_vi_fixture.h"
#include "server/tcpserver.h"
#include "tests/loopback.h"
#include "tests/socket_frame.h"
#include "tools/tdbuilder.h"

namespace tcptest {

struct PS : srvtest::PS {
  using srvtest::PS::PS;
};

using qxframe::FrameProc;

// A counted-string list of the texts.
inline CPStrHandle List(const std::vector<std::string>& entries) {
  CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  for (const std::string& e : entries) CPStrInsert(list, PS(e), (*list)->cnt);
  return list;
}

// One message as a peer sees it.
struct Msg {
  SrvMsgHeader h{};
  std::vector<uChar> data;
  bool closed = false;  // the server closed instead
};

// Add.vi's connector pane: I32 "a", "b" in, "sum" out.
inline std::vector<uChar> AddPane() {
  return tdb::Function(0, {0, 0, 0x100}, {tdb::I32().Named("a"), tdb::I32().Named("b"), tdb::I32().Named("sum")})
      .Bytes();
}

class TCPTest : public srvtest::ServerVITest {
 protected:
  void SetUp() override {
    ServerVITest::SetUp();
    // Registered for each test: a test of panels before may have reset the
    // window system, classes and all (a class already there stays).
    PlatRegisterClass(PlatWindowClass{"TSFrame", FrameProc, 0, kPlatNoBrush});
    frame_ = PlatCreateWindow("TSFrame", "frame", 0, 0, PlatRect{0, 0, 10, 10}, 0);
    ASSERT_NE(frame_, PlatWindow(0));
    PlatSetFrameWindow(frame_);
    saved_ = {PrefGet(kPrefServerTcpPort), PrefGet(kPrefServerTcpParanoid), PrefGet(kPrefServerVICallsEnabled),
              PrefGet(kPrefServerVIPropertiesEnabled), PrefGet(kPrefServerAppPropertiesEnabled)};
    PrefSet(kPrefServerTcpPort, 0);
    PrefSet(kPrefServerTcpParanoid, 1);
    for (int32 w : {kPrefServerVICallsEnabled, kPrefServerVIPropertiesEnabled, kPrefServerAppPropertiesEnabled})
      PrefSet(w, 1);
    SetHosts({"+127.0.0.1"});
    CPStrHandle vis = List({"+*", "-Secret*.vi"});
    ASSERT_EQ(QXSSpecifyViAccess(vis), kNoErr);
    AZDisposeHandle(reinterpret_cast<UHandle>(vis));
    Path log = pathtest::ToPath("L:\\servrlog.txt");
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(SetServerLogPath(log, PS("test")), kNoErr);
    FDisposePath(log);
    ASSERT_EQ(SetServerLogging(1, PS("test")), kNoErr);
    ASSERT_EQ(SetServerListening(1), kNoErr);
    port_ = TSListenerPort();
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    for (int fd : peers_)
      if (fd >= 0) close(fd);
    SetServerListening(0);
    TCPServerDispose();
    Pump([] { return false; }, 0);
    NCShutdown();
    QXSDisposeAccessLists();
    PlatDestroyWindow(frame_);
    const int32 words[] = {kPrefServerTcpPort, kPrefServerTcpParanoid, kPrefServerVICallsEnabled,
                           kPrefServerVIPropertiesEnabled, kPrefServerAppPropertiesEnabled};
    for (size_t i = 0; i < saved_.size(); ++i) PrefSet(words[i], saved_[i]);
    ServerVITest::TearDown();
  }

  static void SetHosts(const std::vector<std::string>& hosts) {
    CPStrHandle tcp = List(hosts);
    QXSSpecifyTcpAccess(tcp);
    AZDisposeHandle(reinterpret_cast<UHandle>(tcp));
  }

  // Socket messages, occurrences (the connection manager's poll), the
  // engine's done and reset events, closes, and the server's user event 24,
  // until cond holds.
  static bool Pump(const std::function<bool()>& cond, int ms = 10000) {
    const uInt32 end = MilliSecs() + uInt32(ms);
    for (;;) {
      PlatMsg m;
      while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) PlatDispatchMessage(&m);
      ChkOccurrences();
      WEventRecord e;
      while (WGetNextEvent(&e)) {
        HandleUserEvent(e);
        if (e.code == kWEvUser && e.where == kUEServerWork)
          TSHandlePostedEvent(e.globalWhere, Cookie(e.modifiers), reinterpret_cast<UHandle>(uintptr_t(uInt32(e.character))),
                              e.keyCode, uInt32(e.data[0]));
      }
      if (cond()) return true;
      if (MillisecCmp(MilliSecs(), end) > 0) return false;
      usleep(200);
    }
  }

  // ---- A raw peer ------------------------------------------------------------------------------
 public:
  int Connect() {
    const int fd = qxloop::Connect(port_);
    EXPECT_GE(fd, 0);
    peers_.push_back(fd);
    return fd;
  }
  static void Send(int fd, const SrvMsgHeader& h, const std::vector<uChar>& data = {}) {
    uChar raw[kSrvMsgHeaderSize];
    SrvMsgHeaderWrite(h, raw);
    std::vector<uChar> bytes(raw, raw + kSrvMsgHeaderSize);
    bytes.insert(bytes.end(), data.begin(), data.end());
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  static void Send(int fd, const SrvMessage& m) {
    std::vector<uChar> data;
    if (m.data) data.assign(*m.data, *m.data + AZGetHandleSize(m.data));
    Send(fd, m.header, data);
  }
  // Reads n bytes while pumping the server; false when the peer closed or
  // the time ran out.
  static bool ReadBytes(int fd, uChar* out, size_t n, int ms = 10000) {
    size_t got = 0;
    bool closed = false;
    Pump([&] {
      pollfd p{fd, POLLIN, 0};
      while (got < n && poll(&p, 1, 0) == 1) {
        const ssize_t k = recv(fd, out + got, n - got, MSG_DONTWAIT);
        if (k <= 0) {
          closed = true;
          return true;
        }
        got += size_t(k);
      }
      return got == n;
    }, ms);
    return !closed && got == n;
  }
  static Msg Read(int fd, int ms = 10000) {
    Msg m;
    uChar raw[kSrvMsgHeaderSize];
    if (!ReadBytes(fd, raw, sizeof raw, ms)) {
      m.closed = true;
      return m;
    }
    m.h = SrvMsgHeaderRead(raw);
    if (m.h.dataLength > 0) {
      m.data.resize(size_t(m.h.dataLength));
      if (!ReadBytes(fd, m.data.data(), m.data.size(), ms)) m.closed = true;
    }
    return m;
  }
  // Whether the server closed the peer's connection (within the time).
  static bool ClosedByServer(int fd, int ms = 5000) {
    uChar b;
    return !ReadBytes(fd, &b, 1, ms);
  }
  // A peer past its Hello.
  int Greeted() {
    const int fd = Connect();
    Send(fd, SrvMsgHeader{0, kTSClientHello, uInt32(kSrvProtocolLevel), 0});
    const Msg m = Read(fd);
    EXPECT_EQ(m.h.type, kTSServerHello);
    EXPECT_EQ(m.h.error, 0);
    return fd;
  }
  // Opens a reference by name through the peer: the server's refnum (0 on an
  // error reply, whose code goes to *error).
  VIRef OpenRemote(int fd, const std::string& name, const std::vector<uChar>& pane, MgErr* error = nullptr) {
    SrvMessage m{};
    EXPECT_EQ(SrvWriteOpenRequest(77, 0, PS(name), nullptr,
                                  pane.empty() ? nullptr : reinterpret_cast<const TypeDescriptor*>(pane.data()),
                                  nullptr, &m),
              kNoErr);
    Send(fd, m);
    SrvDisposeMessage(&m);
    const Msg r = Read(fd);
    EXPECT_EQ(r.h.type, kTSGetVIRefReply);
    EXPECT_EQ(r.h.uniqueId, 77u);
    if (error) *error = r.h.error;
    if (r.h.error || r.data.size() != 8) return 0;
    return VIRef(GetBE32(r.data.data()));
  }
  // Gets one VI property through the peer: the reply's error (or the
  // entry's), the value's flat bytes in *value.
  MgErr RemoteGet(int fd, VIRef ref, int32 selector, std::vector<uChar>* value) {
    // A get entry travels with its descriptor only, but it must have a place
    // for the value.
    uChar place[16] = {};
    AttrEntry e{1, selector, place};
    ParamVectorMsg req{kTSVIPropRequest, 9, ref, 0, 1, &e, 0, 0};
    SrvMessage m{};
    EXPECT_EQ(SrvWriteParamVector(req, &m), kNoErr);
    Send(fd, m);
    SrvDisposeMessage(&m);
    const Msg r = Read(fd);
    EXPECT_EQ(r.h.type, kTSVIPropReply);
    if (r.h.error) return r.h.error;
    // Count, failing index, its error, then the entry: flag, selector, item
    // length, the descriptor and the value.
    if (r.data.size() < 26) return kVIRefGenericErr;
    const size_t td = GetBE16(r.data.data() + 24);
    if (value && 24 + td <= r.data.size()) value->assign(r.data.begin() + 24 + long(td), r.data.end());
    return MgErr(GetBE32(r.data.data() + 8));
  }
  MgErr RemoteName(int fd, VIRef ref, std::string* name) {
    std::vector<uChar> v;
    const MgErr err = RemoteGet(fd, ref, 500, &v);
    if (!err && v.size() >= 4 && 4 + GetBE32(v.data()) <= v.size())
      name->assign(reinterpret_cast<const char*>(v.data() + 4), GetBE32(v.data()));
    return err;
  }
  static void SendAdd(int fd, VIRef ref, int32 a, int32 b) {
    const std::vector<uChar> pane = AddPane();
    int32 sum = 0;
    CallTermSlot slots[3] = {{&a, 1}, {&b, 1}, {&sum, 1}};
    SrvMessage m{};
    EXPECT_EQ(SrvWriteCallParams(kTSCallVIRequest, 55, ref, reinterpret_cast<const TypeDescriptor*>(pane.data()), slots,
                                 3, &m),
              kNoErr);
    Send(fd, m);
    SrvDisposeMessage(&m);
  }
  // The sum of a call reply: items a and b empty, then "sum"'s descriptor
  // and value; -1 when the reply is not that.
  static int32 SumOf(const Msg& r) {
    const std::vector<uChar>& d = r.data;
    if (r.h.error || d.size() < 14 || GetBE32(d.data()) || GetBE32(d.data() + 4)) return -1;
    const size_t td = GetBE16(d.data() + 12);
    return 12 + td + 4 <= d.size() ? int32(GetBE32(d.data() + 12 + td)) : -1;
  }
  static Msg RemoteAdd(int fd, VIRef ref, int32 a, int32 b) {
    SendAdd(fd, ref, a, b);
    return Read(fd);
  }

  // What the log file holds.
  std::string LogText() {
    std::stringstream s;
    s << std::ifstream(rt_.Host("servrlog.txt")).rdbuf();
    return s.str();
  }

  uInt16 port_ = 0;
  PlatWindow frame_ = 0;
  std::vector<int> peers_;
  std::vector<int32> saved_;
};

}  // namespace tcptest
