// Byte streams into the VI server's read cycle over a fake network layer, on
// a server connection or a client one.  The first byte picks the side; the
// rest is what the peer sends.  Four-byte marks in the stream stand for what
// a peer cannot guess: "REF!" another connection's server reference (server
// side); "ASY" and a digit one of the client's pending operations, "LOC!"
// its local reference, "OTH!" an operation of another connection (client
// side).
//
// Invariants: what goes back on the wire is whole messages of the right
// direction (answers on the server side; requests, releases, resets and a
// Bye on the client side); a read never goes past its buffer (the address
// sanitizer's part); no request touches another connection's reference or
// operation; every operation completes at most once; after the close and
// the releases no handle is left.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/exec/callchain.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/rttable.h"
#include "engine/link/linker.h"
#include "engine/shellsvc.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "fuzz_server.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/filemgr.h"
#include "mgsource/prefs.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_drives.h"
#include "server/access.h"
#include "server/srvstart.h"
#include "server/tcpserver.h"
#include "server/viref.h"
#include "tests/server/add_call.h"
#include "tools/appbuild.h"
#include "tools/runvi.h"
#include "tools/tdbuilder.h"
#include "tools/vifile.h"


namespace {

// ---- The fake network ------------------------------------------------------------------------
struct FakeConn {
  std::vector<uint8_t> in;  // what the peer sent, not read yet
  size_t at = 0;
  std::vector<uint8_t> out;  // what was written
  bool pending = false;      // a read waits
  UPtr buffer = nullptr;
  int32 count = 0;
  NCCompletionProc proc = nullptr;
  int32 data = 0;
  bool closed = false;
};
std::map<Cookie, FakeConn>& Conns() {
  static auto* m = new std::map<Cookie, FakeConn>;
  return *m;
}
Cookie gNextCookie = 0x1000;

MgErr FakeRead(Cookie c, UPtr buffer, int32* count, int32, NCCompletionProc proc, int32 data, int32) {
  FakeConn& f = Conns()[c];
  FUZZ_CHECK(!f.pending && !f.closed);
  const int32 want = *count;
  if (f.in.size() - f.at >= size_t(want)) {
    if (want) std::memcpy(buffer, f.in.data() + f.at, size_t(want));
    f.at += size_t(want);
    return kNoErr;
  }
  *count = 0;
  f.pending = true;
  f.buffer = buffer;
  f.count = want;
  f.proc = proc;
  f.data = data;
  return kVIRefPendingErr;
}

MgErr FakeWrite(Cookie c, UPtr buffer, int32* count, int32, NCCompletionProc, int32) {
  FakeConn& f = Conns()[c];
  FUZZ_CHECK(!f.closed);
  f.out.insert(f.out.end(), buffer, buffer + *count);
  return kNoErr;
}

void Complete(Cookie c, MgErr result) {
  FakeConn& f = Conns()[c];
  if (!f.pending) return;
  f.pending = false;
  NCCompletionInfo info{kNCKindRead, result, f.data, {f.count, result ? 0 : f.count, 0, 0}};
  if (!result && f.count) std::memcpy(f.buffer, f.in.data() + f.at, size_t(f.count));
  if (!result) f.at += size_t(f.count);
  f.proc(&info, c);
}

MgErr FakeClose(Cookie c) {
  if (!Conns().count(c)) return kArgErr;
  Complete(c, kVIRefPeerClosedErr);
  Conns()[c].closed = true;
  return kNoErr;
}

MgErr FakeConnect(const NCAddress*, const NCAddress*, NCCompletionProc, int32, int32, Cookie* conn) {
  *conn = ++gNextCookie;
  Conns()[*conn];
  return kNoErr;
}

MgErr FakeStrToIP(ConstPStr, uInt32* address) {
  *address = 0x0100007F;
  return kNoErr;
}
MgErr FakeIPToStr(uInt32, PStr text, int32) {
  PPrintf(text, "peer");
  return kNoErr;
}
MgErr FakeOpenListener(const NCAddress*, Cookie*) { return kCapabilityErr; }
MgErr FakeWait(Cookie, int32, NCCompletionProc, int32, Cookie*, NCAddress*) { return kCapabilityErr; }

const TSNetLayer kFake{&FakeOpenListener, &FakeWait, &FakeConnect, &FakeRead, &FakeWrite, &FakeClose,
                       &FakeStrToIP, &FakeIPToStr};

// Hands the peer's bytes to a connection and lets a waiting read finish.
void Feed(Cookie c, const std::vector<uint8_t>& bytes) {
  FakeConn& f = Conns()[c];
  f.in.insert(f.in.end(), bytes.begin(), bytes.end());
  if (f.pending && f.in.size() - f.at >= size_t(f.count)) Complete(c, kNoErr);
}

std::vector<uint8_t> Header(int32 error, int32 type, uInt32 id, int32 length) {
  std::vector<uint8_t> h(kSrvMsgHeaderSize);
  SrvMsgHeaderWrite(SrvMsgHeader{error, type, id, length}, h.data());
  return h;
}
std::vector<uint8_t> Bytes(const SrvMessage& m) {
  std::vector<uint8_t> b = Header(m.header.error, m.header.type, m.header.uniqueId, m.header.dataLength);
  if (m.data) b.insert(b.end(), *m.data, *m.data + AZGetHandleSize(m.data));
  return b;
}

// Every message written: whole, and of the direction the side sends.
void CheckWritten(const std::vector<uint8_t>& out, bool server, std::vector<SrvMsgHeader>* headers = nullptr) {
  size_t at = 0;
  while (at < out.size()) {
    FUZZ_CHECK(out.size() - at >= size_t(kSrvMsgHeaderSize));
    const SrvMsgHeader h = SrvMsgHeaderRead(out.data() + at);
    FUZZ_CHECK(h.type >= 0 && h.type < kTSMessageTypes);
    FUZZ_CHECK(((SrvMsgFlags(h.type) & kTSFlagFromClient) != 0) == !server);
    FUZZ_CHECK(h.dataLength >= 0 && out.size() - at - kSrvMsgHeaderSize >= size_t(h.dataLength));
    at += kSrvMsgHeaderSize + size_t(h.dataLength);
    if (headers) headers->push_back(h);
  }
}

// ---- The engine ---------------------------------------------------------------------------------

// The user-interface thread's share: the server's work, closes.
void DrainEvents() {
  WEventRecord e;
  while (WGetNextEvent(&e)) {
    if (e.code != kWEvUser) continue;
    if (e.where == kUEServerWork)
      TSHandlePostedEvent(e.globalWhere, Cookie(e.modifiers), reinterpret_cast<UHandle>(uintptr_t(uInt32(e.character))),
                          e.keyCode, uInt32(e.data[0]));
    if (e.where == kUECloseVI) {
      UHandle vi = reinterpret_cast<UHandle>(uintptr_t(uInt32(e.globalWhere)));
      if (IsVILoaded(vi)) CloseVI(vi, 0, 1, 0);
    }
  }
  CollectTypeHeapGarbage();
}

UHandle gAdd = nullptr;
std::vector<uChar> gPane;

ConstPStr P(const char* text, Str255 out) {
  out[0] = uChar(std::strlen(text));
  std::memcpy(out + 1, text, out[0]);
  return out;
}

CPStrHandle List(const char* entry) {
  CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  Str255 e;
  if (list) CPStrInsert(list, P(entry, e), 0);
  return list;
}

bool Start() {
  std::string t;
  if (!FuzzStartServerEngine("qxvscXXXXXX", &t)) return false;
  if (!rsrcw::WriteHostFile(t + "/Add.vi", vif::Write(runvi::File("Add.vi", runvi::Clumps::kAdd)))) return false;
  Path path = nullptr;
  const std::string text = "L:\\Add.vi";
  RsrcFileRef file = 0;
  Str255 name;
  if (FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &path) != kNoErr ||
      ROpenFile(path, kRsrcReadOnly, &file, nullptr, nullptr) != kNoErr ||
      LoadInstrument(path, 0, P("Add.vi", name), file, &gAdd, 0) != kLoadLoaded || !gAdd)
    return false;
  if (HoldVIName(VIRec(gAdd)->name, 0) != kNoErr) return false;
  gPane = tdb::Function(0, {0, 0, 0x100}, {tdb::I32().Named("a"), tdb::I32().Named("b"), tdb::I32().Named("sum")})
              .Bytes();
  TSSetNetLayer(&kFake);
  if (TSMakeConnTable() != kNoErr) return false;
  SrvTestSetListening(1);
  CPStrHandle hosts = List("+*"), vis = List("+*");
  if (QXSSpecifyTcpAccess(hosts) != kNoErr || QXSSpecifyViAccess(vis) != kNoErr) return false;
  AZDisposeHandle(reinterpret_cast<UHandle>(hosts));
  AZDisposeHandle(reinterpret_cast<UHandle>(vis));
  // What stays made once used (the proxy callee's code header, texts) is
  // made before runs count handles: one client run's worth.
  DrainEvents();
  return true;
}

// Replaces each mark in the stream.
std::vector<uint8_t> Substitute(const uint8_t* data, size_t size, const std::map<std::string, uInt32>& marks) {
  std::vector<uint8_t> out(data, data + size);
  for (size_t i = 0; i + 4 <= out.size(); ++i) {
    const std::string word(reinterpret_cast<const char*>(&out[i]), 4);
    auto it = marks.find(word);
    if (it == marks.end()) continue;
    PutBE32(&out[i], it->second);
    i += 3;
  }
  return out;
}

Cookie ServerConn() {
  const Cookie nc = ++gNextCookie;
  Conns()[nc];
  const NCAddress peer{0, 0x0100007F, 0};
  TSConnLock lock;
  TSNewServerConn(&peer, nc);
  return nc;
}

// A server connection made honestly: its Hello and an open of Add.vi for
// calls; the reference it holds.
VIRef HonestClient(Cookie* nc) {
  *nc = ServerConn();
  std::vector<uint8_t> script = Header(0, kTSClientHello, 5, 0);
  SrvMessage m{};
  Str255 name;
  SrvWriteOpenRequest(7, 0, P("Add.vi", name), nullptr, reinterpret_cast<const TypeDescriptor*>(gPane.data()),
                      nullptr, &m);
  const std::vector<uint8_t> open = Bytes(m);
  SrvDisposeMessage(&m);
  script.insert(script.end(), open.begin(), open.end());
  Feed(*nc, script);
  DrainEvents();
  std::vector<SrvMsgHeader> headers;
  const std::vector<uint8_t>& out = Conns()[*nc].out;
  CheckWritten(out, true, &headers);
  FUZZ_CHECK(headers.size() == 2 && headers[1].type == kTSGetVIRefReply && headers[1].error == 0);
  return VIRef(GetBE32(out.data() + out.size() - 8));
}

void RunServer(const uint8_t* data, size_t size) {
  Cookie honestNC = 0;
  const VIRef honest = HonestClient(&honestNC);
  FUZZ_CHECK(honest != 0);
  VIRefRecord* r = ResolveVIRef(honest);
  FUZZ_CHECK(r && r->call);
  const Cookie nc = ServerConn();
  FuzzArmed() = true;
  Feed(nc, Substitute(data, size, {{"REF!", uInt32(honest)}}));
  DrainEvents();
  FuzzArmed() = false;
  CheckWritten(Conns()[nc].out, true);
  // The other connection's reference is untouched: still open, no call.
  FUZZ_CHECK(IsVIRefnum(uInt32(honest)));
  r = ResolveVIRef(honest);
  FUZZ_CHECK(r && r->call && r->call->callState == kVIRefCallIdle && !(r->flags & kVIRefReleasePending));
}

// ---- The client side --------------------------------------------------------------------------------
std::map<AsyncRef, int32> gCompleted;
void Record(AsyncRef a) { ++gCompleted[a]; }

// The Hello a connection of the record awaits, fed.
Cookie ConnOf(AppRef app) {
  ConnInfo* c = TSAppConnection(ResolveQXAppRef(app));
  return c ? c->nc : 0;
}

void RunClient(const uint8_t* data, size_t size) {
  Str255 host, name;
  AppRef app = 0, other = 0;
  AsyncRef open = nullptr, otherOpen = nullptr;
  FUZZ_CHECK(OpenAppRefByName(P("peer", host), 3363, &app, nullptr, &Record, &open) == kVIRefPendingErr);
  FUZZ_CHECK(OpenAppRefByName(P("peer", host), 3364, &other, nullptr, &Record, &otherOpen) == kVIRefPendingErr);
  const Cookie nc = ConnOf(app), otherNC = ConnOf(other);
  FUZZ_CHECK(nc && otherNC && nc != otherNC);
  Feed(nc, Header(0, kTSServerHello, 5, 0));
  Feed(otherNC, Header(0, kTSServerHello, 5, 0));
  FUZZ_CHECK(gCompleted[open] == 1 && gCompleted[otherOpen] == 1);
  // Records are freed and their addresses made again: completions of the
  // set-up count from here.
  gCompleted.clear();
  // A remote reference for calls, opened; then operations left waiting.
  VIRef callRef = 0;
  AsyncRef getRef = nullptr;
  FUZZ_CHECK(AppOpenVIRefByName(app, P("Add.vi", name), reinterpret_cast<const TypeDescriptor*>(gPane.data()), 0,
                                nullptr, &callRef, nullptr, &Record, &getRef) == kVIRefPendingErr);
  SrvMessage m{};
  SrvWriteOpenReply(uInt32(uintptr_t(getRef)), 0x77, 0, &m);
  Feed(nc, Bytes(m));
  SrvDisposeMessage(&m);
  FUZZ_CHECK(gCompleted[getRef] == 1 && IsVIRefnum(uInt32(callRef)));
  LStrHandle viName = nullptr;
  int32 kind = 0, otherKind = 0;
  AsyncRef ops[4] = {};
  VIRef second = 0;
  AttrEntry params[1] = {{0, 0, nullptr}};
  FUZZ_CHECK(VIRefGetAttributes(callRef, 500, &viName, 0, nullptr, &Record, &ops[0]) == kVIRefPendingErr);
  FUZZ_CHECK(AppGetAttribute(app, 3, &kind, 0, nullptr, &Record, &ops[1]) == kVIRefPendingErr);
  FUZZ_CHECK(AppDoMethod(app, 2014, 1, params, 0, nullptr, &Record, &ops[2]) == kVIRefPendingErr);
  FUZZ_CHECK(AppOpenVIRefByName(app, P("Other.vi", name), nullptr, 0, nullptr, &second, nullptr, &Record, &ops[3]) ==
             kVIRefPendingErr);
  AsyncRef foreign = nullptr;
  FUZZ_CHECK(AppGetAttribute(other, 3, &otherKind, 0, nullptr, &Record, &foreign) == kVIRefPendingErr);
  // The call of the first reference through its callee.
  tcptest::AddCall call(1, 2);
  DataSpace callee = ResolveVIRef(callRef)->callDS;
  FUZZ_CHECK(callee);
  (*callee)->callTable = &call.table;
  // This run starts no execution systems and runs no callee: the data space
  // is not suspended on its call, so its element is marked as not queueable
  // and a reply ends the call without queueing it.
  (*callee)->entrance.ownElement.signature = 0;
  FUZZ_CHECK(TSSendCall(callRef, callee) == kNoErr);
  // No operation is made from here on: each address names one operation.
  gCompleted.clear();
  const std::map<std::string, uInt32> marks{
      {"ASY0", uInt32(uintptr_t(ops[0]))}, {"ASY1", uInt32(uintptr_t(ops[1]))}, {"ASY2", uInt32(uintptr_t(ops[2]))},
      {"ASY3", uInt32(uintptr_t(ops[3]))}, {"LOC!", uInt32(callRef)},          {"OTH!", uInt32(uintptr_t(foreign))}};
  FuzzArmed() = true;
  Feed(nc, Substitute(data, size, marks));
  DrainEvents();
  FuzzArmed() = false;
  CheckWritten(Conns()[nc].out, false);
  for (const auto& [op, n] : gCompleted) FUZZ_CHECK(n <= 1);
  FUZZ_CHECK(!gCompleted.count(foreign));
  // The peer goes: what still waits fails once, the references go.
  {
    TSConnLock lock;
    if (ConnInfo* c = TSAppConnection(ResolveQXAppRef(app))) TSCloseConnection(c, kVIRefPeerClosedErr);
  }
  FUZZ_CHECK(gCompleted[foreign] == 0);
  for (const auto& [op, n] : gCompleted) FUZZ_CHECK(n <= 1);
  if (VIRefRecord* r = IsVIRefnum(uInt32(callRef)) ? ResolveVIRef(callRef) : nullptr)
    if (r->callDS) (*r->callDS)->callTable = nullptr;
  if (viName) DSDisposeHandle(reinterpret_cast<UHandle>(viName));
  QXAppRefRelease(app);
  QXAppRefRelease(other);
}

// Every connection closes; what it held goes.
void CloseAll() {
  TCPServerDispose();
  FUZZ_CHECK(TSMakeConnTable() == kNoErr);
  for (VIRef refs[16]; int32 n = VIRefList(refs, 16);)
    for (int32 i = 0; i < n && i < 16; ++i) VIRefRelease(refs[i]);
  DrainEvents();
  Conns().clear();
  gCompleted.clear();
}

// What stays made once used (proxy callees' code header, texts, caches) is
// made before runs count handles: one run of each side.
bool WarmUp() {
  RunServer(nullptr, 0);
  CloseAll();
  RunClient(nullptr, 0);
  CloseAll();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start() && WarmUp();
  if (!started) std::abort();
  if (size < 1) return 0;
  const int32 live = FuzzLiveHandles();
  if (data[0] & 1) RunClient(data + 1, size - 1);
  else RunServer(data + 1, size - 1);
  CloseAll();
  FUZZ_CHECK(VIRefList(nullptr, 0) == 0);
  FUZZ_CHECK(TCPServerConnCount() == 0);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
