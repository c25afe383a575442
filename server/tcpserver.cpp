// The VI server over TCP: the listener, the connection records, the read and
// send cycle shared with the client side, the server's requests and the
// close.
#include "server/tcpserver.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "engine/vi/rtrsrc.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/virecord.h"
#include "mgsource/appdirs.h"
#include "mgsource/byteorder.h"
#include "mgsource/config.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/gnrclist.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "server/access.h"
#include "server/srvstart.h"
#include "server/viref.h"
#include "platform/qx_socket.h"

// The engine's poster of user events (its compiled-code header cannot share
// a unit with the VI hooks' header).
MgErr ExecPostUserEvent(int32 code, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5);

namespace {

// ---- State ---------------------------------------------------------------------------------
ThMutex gConnMutex = nullptr;
CookieJar gConnJar = nullptr;
// The listener, and whether its close is ours (then its wait's end is not
// reported); the last listen's error; the port it uses.
Cookie gListener = 0;
bool gClosingListener = false;
MgErr gLastListenErr = kNoErr;
uInt16 gPort = 0;
// Where skipped data goes.  Reads into it run under the connection
// manager's table mutex, one at a time.
uChar gScratch[kTSSkipChunk];

thread_local int32 tLockDepth = 0;
// Network connections whose close was asked for inside the connection
// mutex, with the records to delete once they are closed, and procedures to
// run outside it: each thread does its own (another thread may hold locks
// of its caller's while it leaves the mutex).
struct PendingClose {
  Cookie nc;
  ConnInfo* conn;     // deleted once nc is closed
  bool listener;      // nc is a listener we dropped
};
thread_local std::vector<PendingClose> tPendingCloses;
std::vector<PendingClose>& PendingCloses() { return tPendingCloses; }
struct Deferred {
  void (*proc)(void*);
  void* arg;
};
thread_local std::vector<Deferred> tDeferred;
std::vector<Deferred>& DeferredProcs() { return tDeferred; }

const TSNetLayer kRealNet{&NCOpenListener, &NCWaitOnListener, &NCConnectConn, &NCReadConn,
                          &NCWriteConn,    &NCClose,          &NCStrToIP2,    &NCIPToStr2};
const TSNetLayer* gNet = &kRealNet;

constexpr MgErr kPending = kVIRefPendingErr;
constexpr MgErr kPeerClosed = kVIRefPeerClosedErr;

int32 Word(const void* p) { return int32(uintptr_t(p)); }
bool IsServer(const ConnInfo* c) { return (c->flags & kTSConnServer) != 0; }
int32 RecvSide(const ConnInfo* c) { return IsServer(c) ? kTSSideServer : kTSSideClient; }
int32 SendSide(const ConnInfo* c) { return IsServer(c) ? kTSSideServerSend : kTSSideClientSend; }

void PutHeader(const int32 words[4], uChar out[kSrvMsgHeaderSize]) {
  SrvMsgHeaderWrite(SrvMsgHeader{words[0], words[1], uInt32(words[2]), words[3]}, out);
}

// ---- References this client opened ---------------------------------------------------------
bool OwnsRef(const ConnInfo* c, VIRef ref) {
  if (!c->serverRefs || !ref) return false;
  for (int32 i = 0, n = GLCount(c->serverRefs, 4); i < n; ++i) {
    VIRef r = 0;
    if (GLGet(c->serverRefs, &r, 4, i) && r == ref) return true;
  }
  return false;
}

MgErr AddServerRef(ConnInfo* c, VIRef ref) {
  if (!c->serverRefs && !(c->serverRefs = GLNew(4, 4))) return kMemFullErr;
  return GLInsert(c->serverRefs, &ref, 4, 4, 0x7FFFFFFF) ? kMemFullErr : kNoErr;
}

// ---- Reading ---------------------------------------------------------------------------------
void RunReadCycle(ConnInfo* c);

void ReadFinished(ConnInfo* c, MgErr err, int32 done) {
  c->readErr = err;
  c->readDone = done;
  c->readReady = 1;
  if (!c->inReadCycle) RunReadCycle(c);
}

// Starts a read of count bytes with no time limit; the continuation runs
// when they have come.  A read that finishes at once is taken up by the
// cycle that runs, so that a stream of buffered messages does not recurse.
void StartRead(ConnInfo* c, UPtr at, int32 count, TSContinuation next) {
  if (c->state != kTSIdle && c->state != kTSWritePending) {
    if (c->state != kTSClosing) DBPrintf("TSStartRead: connection 0x%08lx in state %ld", static_cast<unsigned long>(c->id), long(c->state));
    return;
  }
  c->next = next;
  c->readAt = at;
  c->readCount = count;
  c->state = c->state == kTSIdle ? kTSReadPending : kTSReadWritePending;
  int32 n = count;
  const MgErr err = TSNet().read(c->nc, at, &n, -1, &TSReadCallback, int32(c->id), 0);
  if (err == kPending) return;
  ReadFinished(c, err, n);
}

void RunReadCycle(ConnInfo* c) {
  c->inReadCycle = 1;
  while (c->readReady && c->state != kTSClosing) {
    c->readReady = 0;
    c->state = c->state == kTSReadWritePending ? kTSWritePending : kTSIdle;
    if (c->readErr || c->readDone != c->readCount) {
      TSCloseConnection(c, c->readErr ? c->readErr : kPeerClosed);
      break;
    }
    TSContinuation next = c->next;
    c->next = nullptr;
    if (next) next(c);
  }
  c->inReadCycle = 0;
}

void SkipMore(ConnInfo* c) {
  if (c->skipLeft <= 0) {
    TSStartHeaderRead(c);
    return;
  }
  const int32 n = std::min(c->skipLeft, kTSSkipChunk);
  c->skipLeft -= n;
  StartRead(c, gScratch, n, &SkipMore);
}

// Discards the message's data, then reads the next header.
void Skip(ConnInfo* c, int32 length) {
  if (c->data) AZDisposeHandle(c->data);
  c->data = nullptr;
  c->skipLeft = length > 0 ? length : 0;
  SkipMore(c);
}

void ReadOn(ConnInfo* c) {
  if (c->data) AZDisposeHandle(c->data);
  c->data = nullptr;
  if (c->state != kTSClosing) TSStartHeaderRead(c);
}

// ---- Sending ---------------------------------------------------------------------------------
void RunWriteCycle(ConnInfo* c);

void WriteFinished(ConnInfo* c, MgErr err) {
  c->writeErr = err;
  c->writeReady = 1;
  if (!c->inWriteCycle) RunWriteCycle(c);
}

void FreeElem(SendQueueElem* e) {
  if ((e->parts & kTSSendOwnsData) && e->data) {
    if (e->dataKind == kTSDataHandle) AZDisposeHandle(static_cast<UHandle>(e->data));
    else AZDisposePtr(static_cast<UPtr>(e->data));
  }
  AZDisposePtr(reinterpret_cast<UPtr>(e));
}

// Sends the first element: its header and its data in one write (two writes
// of one message would wait on each other's acknowledgement).
void StartNextWrite(ConnInfo* c) {
  if (c->state != kTSIdle && c->state != kTSReadPending) return;
  SendQueueElem* e = c->sendQueue;
  if (!e) return;
  const bool header = e->parts & kTSSendHeader;
  const bool data = (e->parts & kTSSendData) && e->dataLength > 0 && e->data;
  const int32 total = (header ? kSrvMsgHeaderSize : 0) + (data ? e->dataLength : 0);
  if (total > c->writeBufSize) {
    if (c->writeBuf) AZDisposePtr(c->writeBuf);
    c->writeBufSize = 0;
    if (!(c->writeBuf = AZNewPtr(total))) {
      TSCloseConnection(c, kMemFullErr);
      return;
    }
    c->writeBufSize = total;
  }
  int32 at = 0;
  if (header) {
    PutHeader(e->header, c->writeBuf);
    at = kSrvMsgHeaderSize;
    TSLogMessage(SendSide(c), "Sending message",
                 SrvMsgHeader{e->header[0], e->header[1], uInt32(e->header[2]), e->header[3]}, c);
  }
  if (data) {
    const void* from = e->dataKind == kTSDataHandle ? *static_cast<UHandle>(e->data) : e->data;
    std::memcpy(c->writeBuf + at, from, size_t(e->dataLength));
  }
  c->state = c->state == kTSIdle ? kTSWritePending : kTSReadWritePending;
  int32 n = total;
  const MgErr err = TSNet().write(c->nc, c->writeBuf, &n, -1, &TSWriteCallback, int32(c->id));
  if (err == kPending) return;
  WriteFinished(c, err ? err : n == total ? kNoErr : kPeerClosed);
}

void RunWriteCycle(ConnInfo* c) {
  c->inWriteCycle = 1;
  while (c->writeReady && c->state != kTSClosing) {
    c->writeReady = 0;
    c->state = c->state == kTSReadWritePending ? kTSReadPending : kTSIdle;
    if (c->writeErr) {
      TSCloseConnection(c, c->writeErr);
      break;
    }
    SendQueueElem* e = c->sendQueue;
    if (!e) break;
    c->sendQueue = e->next;
    e->parts &= ~uInt32(kTSSendHeader | kTSSendData);
    TSSendDone done = (e->parts & kTSSendLast) ? e->done : nullptr;
    FreeElem(e);
    if (done) done(c);
    StartNextWrite(c);
  }
  c->inWriteCycle = 0;
}

MgErr SendThrough(void* connection, SrvMessage* message) {
  TSConnLock lock;
  ConnInfo* c = ResolveConnID(Cookie(uintptr_t(connection)));
  return c ? TSQueueMessage(c, message, nullptr) : kPeerClosed;
}

// ---- The listener --------------------------------------------------------------------------
// Waits again: every connection already there is taken, until the wait is
// left pending.
MgErr WaitForConnections() {
  for (;;) {
    Cookie conn = 0;
    NCAddress peer{};
    const MgErr err = TSNet().waitOnListener(gListener, -1, &TSListenCallback, 0, &conn, &peer);
    if (err) return err;
    TSNewServerConn(&peer, conn);
  }
}

// Closes the listener (at the outermost release of the connection mutex).
void DropListener() {
  if (!gListener) return;
  gClosingListener = true;
  PendingCloses().push_back(PendingClose{gListener, nullptr, true});
  gListener = 0;
  gPort = 0;
  SrvTestSetListening(0);
}

// The host access list the listener checks: the current one, else the
// preference's own.
CPStrHandle TcpListNow() {
  UHandle list = reinterpret_cast<UHandle>(QXSTcpAccessList());
  if (list) return AZHandToHand(&list) == kNoErr ? reinterpret_cast<CPStrHandle>(list) : nullptr;
  CPStrHandle fresh = reinterpret_cast<CPStrHandle>(AZNewHClr(sizeof(int32)));
  if (fresh) CfgGetDefault(kCfgStringList, reinterpret_cast<ConstPStr>("\021server.tcp.access"), &fresh);
  return fresh;
}

// ---- Server requests -------------------------------------------------------------------------
void LogVector(const ConnInfo* c, int32 type, const ParamVectorMsg& m) {
  if (!TSLogWanted(RecvSide(c))) return;
  TSLog(RecvSide(c), SrvMsgName(type), "ref=0x%08lx; method=%ld; count=%ld", static_cast<unsigned long>(m.ref),
        long(m.method), long(m.count));
  for (int32 i = 0; i < m.count && m.vector; ++i)
    TSLog(RecvSide(c), SrvMsgName(type), "  %2ld: get=%ld; sel=%ld", long(i + 1), long(m.vector[i].get),
          long(m.vector[i].selector));
}

// Property requests (1, 2), answered at once.
void ServeProperties(ConnInfo* c) {
  const SrvMsgHeader h = c->header;
  const int32 reply = h.type + 10;
  ParamVectorMsg m{};
  m.uniqueId = h.uniqueId;
  MgErr err = RcvParamVector(c->data, h.dataLength, h.type, nullptr, &m);
  if (err) {
    TSSendErrorReply(c, reply, h.uniqueId, err, kSrvErrorText);
    return;
  }
  LogVector(c, h.type, m);
  MgErr error = kNoErr;
  int32 index = 0;
  if (h.type == kTSVIPropRequest && !OwnsRef(c, m.ref)) {
    DBPrintf("TSHandleDataRead: viRef 0x%08lx is not this connection's", static_cast<unsigned long>(m.ref));
    err = kVIRefInvalidErr;
  } else if (h.type == kTSVIPropRequest) {
    err = VIRefAttrVector(m.ref, m.count, m.vector, 0, &error, &index, nullptr, nullptr, nullptr);
  } else {
    err = AppAttrVector(kLocalAppRef, m.count, m.vector, 0, &error, &index, nullptr, nullptr, nullptr);
  }
  if (!err) {
    ParamVectorMsg r{reply, h.uniqueId, 0, 0, m.count, m.vector, index, error};
    err = SendParamVector(TSSender(c), nullptr, &r, 0, nullptr, nullptr);
  }
  if (err) TSSendErrorReply(c, reply, h.uniqueId, err, kSrvErrorText);
  DisposeParamVector(h.type, 0, m.count, m.vector);
}

// A call request (4): the inputs into the reference's call table, then the
// call; its end answers through TSCallCallback.
void ServeCall(ConnInfo* c) {
  const SrvMsgHeader h = c->header;
  if (!ServerVICallsAllowed()) {
    TSSendErrorReply(c, kTSCallVIReply, h.uniqueId, kVIRefAccessErr, kSrvErrorText);
    return;
  }
  VIRef ref = h.dataLength >= 4 ? VIRef(GetBE32(*c->data)) : 0;
  MgErr err = kNoErr;
  VIRefRecord* r = nullptr;
  if (h.dataLength < 4) {
    err = kArgErr;
  } else if (!OwnsRef(c, ref)) {
    DBPrintf("TSHandleDataRead: viRef 0x%08lx is not this connection's", static_cast<unsigned long>(uInt32(ref)));
    err = kVIRefInvalidErr;
  } else if (!(r = ResolveVIRef(ref)) || !r->call || !r->vi || !*r->vi) {
    err = r ? MgErr(kVIRefReserveErr) : MgErr(kVIRefInvalidErr);
  }
  AsyncRef call = r ? r->call : nullptr;
  const int32 terminals = call ? int32(call->param[2]) : 0;
  auto* slots = call ? reinterpret_cast<CallTermSlot*>(call->terminals) : nullptr;
  if (!err) err = VIRefGetCallInfo(ref, slots, terminals);
  if (!err) {
    UHandle pane = VIRec(r->vi)->connPane;
    err = pane && *pane ? RcvCallParams(c->data, h.dataLength, kTSCallVIRequest,
                                        reinterpret_cast<const TypeDescriptor*>(*pane), slots, terminals, nullptr)
                        : MgErr(kArgErr);
  }
  if (!err) {
    // What the end of the call answers to.
    call->connection = reinterpret_cast<void*>(uintptr_t(c->id));
    call->uniqueId = int32(h.uniqueId);
    AsyncRef started = nullptr;
    err = VIRefStartCall(ref, &TSCallCallback, &started);
  }
  if (err) TSSendErrorReply(c, kTSCallVIReply, h.uniqueId, err, kSrvErrorText);
}

// The end of a VI method that completed later.
void VIMethodDone(AsyncRef a) {
  TSConnLock lock;
  const int32 method = int32(a->param[0]), count = int32(a->param[1]);
  AttrEntry* vector = reinterpret_cast<AttrEntry*>(uintptr_t(a->param[2]));
  a->param[2] = 0;
  ConnInfo* c = ResolveConnID(Cookie(uintptr_t(a->connection)));
  if (c && c->state != kTSClosing) {
    MgErr err = a->error;
    if (err) {
      Str255 text;
      TSPStr("", text);
      if (a->errorText) PStrCpy(text, a->errorText);
      SrvMessage m{};
      if (!SrvMakeErrorReply(kTSVIMethodReply, uInt32(a->uniqueId), err, text, &m) &&
          TSQueueMessage(c, &m, nullptr) != kNoErr)
        SrvDisposeMessage(&m);
    } else {
      ParamVectorMsg r{kTSVIMethodReply, uInt32(a->uniqueId), 0, method, count, vector, 0, 0};
      if ((err = SendParamVector(TSSender(c), nullptr, &r, 0, nullptr, nullptr)))
        TSSendErrorReply(c, kTSVIMethodReply, uInt32(a->uniqueId), err, kSrvErrorText);
    }
  }
  DisposeParamVector(kTSVIMethodRequest, method, count, vector);
}

void ServeMethod(ConnInfo* c, int32 type, UHandle data, int32 length, uInt32 uniqueId) {
  const int32 reply = type + 10;
  ParamVectorMsg m{};
  m.uniqueId = uniqueId;
  MgErr err = RcvParamVector(data, length, type, nullptr, &m);
  if (err) {
    TSSendErrorReply(c, reply, uniqueId, err, kSrvErrorText);
    return;
  }
  LogVector(c, type, m);
  Str255 text;
  text[0] = 0;
  AsyncRef a = nullptr;
  if (type == kTSVIMethodRequest && !OwnsRef(c, m.ref)) {
    DBPrintf("TSHandlePostedEvent: viRef 0x%08lx is not this connection's", static_cast<unsigned long>(m.ref));
    err = kVIRefInvalidErr;
  } else if (type == kTSVIMethodRequest) {
    err = VIRefDoMethod(m.ref, m.method, m.count, m.vector, 0, text, &VIMethodDone, &a);
  } else {
    err = AppDoMethod(kLocalAppRef, m.method, m.count, m.vector, 0, text, nullptr, nullptr);
  }
  if (err == kPending && a) {
    // The completion answers, and frees the vector the operation keeps.
    a->connection = reinterpret_cast<void*>(uintptr_t(c->id));
    a->uniqueId = int32(uniqueId);
    a->param[0] = uInt32(m.method);
    a->param[1] = uInt32(m.count);
    a->param[2] = uInt32(Word(m.vector));
    return;
  }
  if (!err) {
    ParamVectorMsg r{reply, uniqueId, 0, m.method, m.count, m.vector, 0, 0};
    err = SendParamVector(TSSender(c), nullptr, &r, 0, nullptr, nullptr);
  }
  if (err) TSSendErrorReply(c, reply, uniqueId, err, kSrvErrorText);
  DisposeParamVector(type, m.method, m.count, m.vector);
}

// The Hello of a client: level 5 is answered, any other refused and closed.
void CloseAfterRefusal(ConnInfo* c) { TSCloseConnection(c, kVIRefProtocolErr); }

void ServeHello(ConnInfo* c) {
  if (c->header.uniqueId != uInt32(kSrvProtocolLevel)) {
    SrvMessage m{};
    Str255 text;
    TSPStr(kSrvBadProtocolText, text);
    if (SrvMakeErrorReply(kTSServerHello, kSrvProtocolLevel, kVIRefProtocolErr, text, &m) ||
        TSQueueMessage(c, &m, &CloseAfterRefusal)) {
      SrvDisposeMessage(&m);
      TSCloseConnection(c, kVIRefProtocolErr);
    }
    return;
  }
  if (MgErr err = TSSendPlain(c, kTSServerHello, kSrvProtocolLevel, kNoErr)) {
    TSCloseConnection(c, err);
    return;
  }
  c->flags |= kTSConnHello;
  ReadOn(c);
}

void ServeRelease(ConnInfo* c) {
  const VIRef ref = VIRef(c->header.uniqueId);
  if (!c->serverRefs || !GLRemoveMatch(c->serverRefs, &ref, 4)) {
    // Only this connection's references are released.
    DBPrintf("TSHandleHeaderRead: kTSReleaseRef: couldn't find viRef 0x%08lx in serverRefList",
             static_cast<unsigned long>(uInt32(ref)));
  } else {
    VIRefRelease(ref);
  }
  ReadOn(c);
}

// Errors of the server's side: only on a Hello or a Bye do they close.
void ServeErrorMessage(ConnInfo* c) {
  const int32 type = c->header.type;
  if (type == kTSClientHello || type == kTSClientBye) {
    TSCloseConnection(c, c->header.error);
    return;
  }
  ReadOn(c);
}

// The server's own work on a closing connection: its operations killed,
// the references it left released.
void ServerClose(ConnInfo* c) {
  TSLog(kTSSideServer, "Closing connection", "SERVER closing ref=0x%08lx; \"%p\"", static_cast<unsigned long>(c->id),
        c->name);
  std::vector<AsyncRef> mine;
  void* const id = reinterpret_cast<void*>(uintptr_t(c->id));
  for (AsyncRef a = ThisAppRecord()->asyncList; a; a = a->next)
    if (a->connection == id) mine.push_back(a);
  for (AsyncRef a : mine) {
    if (!IsLiveAsyncRef(a)) continue;
    if (a->op == kAsyncVIDoMethodOp && a->param[2]) {
      DisposeParamVector(kTSVIMethodRequest, int32(a->param[0]), int32(a->param[1]),
                         reinterpret_cast<AttrEntry*>(uintptr_t(a->param[2])));
      a->param[2] = 0;
    }
    a->connection = nullptr;
    KillQXObjAsyncRef(a);
  }
  if (c->serverRefs) {
    for (VIRef ref = 0; GLCount(c->serverRefs, 4) > 0;) {
      GLRemove(c->serverRefs, &ref, 4, 0);
      if (GetServerLogDetails())
        TSLog(kTSSideServer, "Closing connection", "TSCloseConnection: releasing leftover server ref 0x%08lx",
              static_cast<unsigned long>(uInt32(ref)));
      VIRefRelease(ref);
    }
  }
}

void CloseWithOne(ConnInfo* c) { TSCloseConnection(c, kArgErr); }

// The ids of every connection (the jar's cookies); false when the jar cannot
// be listed.
bool ConnIds(std::vector<Cookie>* ids) {
  ids->clear();
  UHandle list = nullptr;
  if (!gConnJar || MCGetCookieList(gConnJar, &list) != kNoErr || !list) return false;
  const int32 size = AZGetHandleSize(list);
  int32 n = 0;
  if (size >= 4) std::memcpy(&n, *list, 4);
  n = std::max<int32>(0, std::min<int32>(n, (size - 4) / 4));
  ids->resize(static_cast<size_t>(n));
  if (n) std::memcpy(ids->data(), *list + 4, static_cast<size_t>(n) * 4);
  AZDisposeHandle(list);
  return true;
}

}  // namespace

// ---- The lock --------------------------------------------------------------------------------

TSConnLock::TSConnLock() {
  ThMutexLock(gConnMutex);
  ++tLockDepth;
}

TSConnLock::~TSConnLock() {
  // The outermost release closes what was asked for, without the mutex: a
  // close waits for the connection's completions on other threads, which
  // take the mutex.
  while (tLockDepth == 1 && (!PendingCloses().empty() || !DeferredProcs().empty())) {
    if (PendingCloses().empty()) {
      const Deferred d = DeferredProcs().front();
      DeferredProcs().erase(DeferredProcs().begin());
      --tLockDepth;
      ThMutexUnlock(gConnMutex);
      d.proc(d.arg);
      ThMutexLock(gConnMutex);
      ++tLockDepth;
      continue;
    }
    const PendingClose p = PendingCloses().front();
    PendingCloses().erase(PendingCloses().begin());
    --tLockDepth;
    ThMutexUnlock(gConnMutex);
    if (p.nc) TSNet().close(p.nc);
    ThMutexLock(gConnMutex);
    ++tLockDepth;
    if (p.conn) TSDeleteConnection(p.conn);
    if (p.listener) gClosingListener = false;
  }
  --tLockDepth;
  ThMutexUnlock(gConnMutex);
}

void TSDefer(void (*proc)(void* arg), void* arg) {
  TSConnLock lock;
  DeferredProcs().push_back(Deferred{proc, arg});
}

MgErr TSMakeConnTable() {
  if (!gConnMutex && ThMutexCreate(&gConnMutex, nullptr) != kNoErr) return kMemFullErr;
  TSConnLock lock;
  if (!gConnJar && !(gConnJar = MCNewBigJar(4))) return kMemFullErr;
  return kNoErr;
}

void TSSetNetLayer(const TSNetLayer* layer) { gNet = layer ? layer : &kRealNet; }
const TSNetLayer& TSNet() { return *gNet; }

void TSPStr(const char* text, Str255 out) {
  const size_t n = std::min<size_t>(text ? std::strlen(text) : 0, 255);
  out[0] = uChar(n);
  if (n) std::memcpy(out + 1, text, n);
}

MgErr TSPostEvent(int32 kind, Cookie connId, UHandle data, int32 length, uInt32 uniqueId) {
  return ExecPostUserEvent(kUEServerWork, kind, int32(connId), Word(data), length, int32(uniqueId));
}

// ---- Start, listening, status ---------------------------------------------------------------

MgErr TCPServerInit() {
  int32 details = 0, log = 0;
  CfgGetDefault(kCfgBool, reinterpret_cast<ConstPStr>("\024tcpServer.logDetails"), &details);
  CfgGetDefault(kCfgBool, reinterpret_cast<ConstPStr>("\015tcpServer.log"), &log);
  Path path = FEmptyPath(nullptr);
  if (path && CfgGetDefault(kCfgPath, reinterpret_cast<ConstPStr>("\021tcpServer.logPath"), &path) != kNoErr) {
    if (GetDefaultDirPath(path) != kNoErr || FAppendName(path, reinterpret_cast<ConstPStr>("\014servrlog.txt")))
      FNotAPath(path);
  }
  Str255 kTitle;
  TSPStr("Initializing TCP Server", kTitle);
  if (path) SetServerLogPath(path, kTitle);
  if (path) FDisposePath(path);
  SetServerLogDetails(details);
  if (log || details) SetServerLogging(1, kTitle);
  if (MgErr err = TSMakeConnTable()) return err;
  int32 enabled = 0;
  CfgGetDefault(kCfgBool, reinterpret_cast<ConstPStr>("\022server.tcp.enabled"), &enabled);
  if (!enabled) return kNoErr;
  const MgErr err = SetServerListening(1);
  if (err) DBPrintf("TCP VI Server: can't start listener; err=%ld", long(err));
  return err;
}

MgErr SetServerListening(Bool32 on) {
  if (!gConnMutex && TSMakeConnTable()) return kMemFullErr;
  TSConnLock lock;
  if (!on) {
    if (!gListener) return kNoErr;
    TSLog(kTSSideServer, "Setting server status", "Turning off server.");
    DropListener();
    TCPServerShutDown();
    return kNoErr;
  }
  if (gListener) return kNoErr;
  if (MgErr err = TSMakeConnTable()) return err;
  const uInt16 port = uInt16(PrefGet(kPrefServerTcpPort));
  NCAddress local{0, 0, htons(port)};
  Cookie listener = 0;
  MgErr err = TSNet().openListener(&local, &listener);
  if (!err) {
    DBPrintf("Listener Created on Port %ld", long(port));
    gListener = listener;
    gPort = port;
    int32 s = -1;
    uInt16 bound = 0;
    // A port of 0 lets the system choose: the one it chose is reported.
    if (!port && NCConnSocket(listener, &s) == kNoErr && PlatSockLocalPort(s, &bound) == 0) gPort = ntohs(bound);
    gClosingListener = false;
    SrvTestSetListening(1);
    if (CPStrHandle list = TcpListNow()) {
      QXSSpecifyTcpAccess(list);
      AZDisposeHandle(reinterpret_cast<UHandle>(list));
    }
    err = WaitForConnections();
    if (err == kPending) err = kNoErr;
    if (err) DropListener();
  }
  gLastListenErr = err;
  TSLog(kTSSideServer, "Setting server status", "Turning on server. err=%ld", long(err));
  return err;
}

Bool32 SrvStatusText(PStr text) {
  Bool32 listening = 0;
  MgErr last = kNoErr;
  uInt16 port = 0;
  {
    TSConnLock lock;
    listening = gListener ? 1 : 0;
    last = gLastListenErr;
    port = gPort;
  }
  if (!text) return listening;
  static const char* const kBuiltIn[] = {"TCP Server active on port %ld", "TCP Server inactive:  listen failed with error %ld",
                                         "TCP Server inactive"};
  const int32 item = listening ? 1 : last ? 2 : 3;
  Str255 format;
  if (!RunTimeRsrcFile() || RGetIndString(RunTimeRsrcFile(), format, 30060, item) != kNoErr || !format[0])
    TSPStr(kBuiltIn[item - 1], format);
  PPrintfp(text, format, long(item == 1 ? port : item == 2 ? last : 0));
  return listening;
}

void TCPServerShutDown() {
  TSConnLock lock;
  if (!gConnJar) return;
  std::vector<Cookie> ids;
  if (!ConnIds(&ids)) {
    DBPrintf("TCPServerShutDown: error getting cookie list");
    return;
  }
  for (Cookie id : ids)
    if (ConnInfo* c = ResolveConnID(id); c && IsServer(c)) TSCloseConnection(c, kNoErr);
}

void TCPServerExit() {
  SetServerListening(0);
  TCPServerShutDown();
  Str255 title;
  TSPStr("Shutting down server", title);
  SetServerLogging(0, title);
}

ConnInfo* ResolveConnID(Cookie id) {
  ConnInfo* c = nullptr;
  if (!gConnJar || !id || MCGetCookieInfo(gConnJar, id, &c) != kNoErr) c = nullptr;
  if (!c) DBPrintf("ResolveConnID: could not resolve 0x%08lx", static_cast<unsigned long>(id));
  return c;
}

int32 TCPServerConnCount() {
  TSConnLock lock;
  int32 n = 0;
  if (!gConnJar || MCJarSize(gConnJar, &n) != kNoErr) return 0;
  return n;
}

uInt16 TSListenerPort() {
  TSConnLock lock;
  return gListener ? gPort : 0;
}

MgErr TSLastListenError() {
  TSConnLock lock;
  return gLastListenErr;
}

void TCPServerDispose() {
  if (gConnMutex) {
    TSConnLock lock;
    DropListener();
    std::vector<Cookie> ids;
    ConnIds(&ids);
    for (Cookie id : ids)
      if (ConnInfo* c = ResolveConnID(id)) TSCloseConnection(c, kArgErr);
  }
  {
    TSConnLock lock;
    TSDisposeRemoteApps();
    if (gConnJar) MCDisposeJar(gConnJar);
    gConnJar = nullptr;
    gLastListenErr = kNoErr;
  }
  if (gConnMutex) ThMutexDestroy(gConnMutex);
  gConnMutex = nullptr;
  TSLogDispose();
}

// ---- Connections -----------------------------------------------------------------------------

ConnInfo* AllocateConnection(ConstPStr name) {
  auto* c = reinterpret_cast<ConnInfo*>(AZNewPClr(int32(sizeof(ConnInfo))));
  if (c && gConnJar) c->id = MCNewCookie(gConnJar, &c);
  if (!c || !c->id) {
    DBPrintf("AllocateConnection: can't get table space");
    if (c) AZDisposePtr(reinterpret_cast<UPtr>(c));
    return nullptr;
  }
  if (name) PStrCpy(c->name, name);
  c->state = kTSNew;
  return c;
}

void TSNewServerConn(const NCAddress* peer, Cookie nc) {
  const uInt32 address = peer ? peer->address : 0;
  Str255 name;
  name[0] = 0;
  if (TSNet().ipToStr(address, name, 0) != kNoErr) name[0] = 0;
  MgErr err = kNoErr;
  ConnInfo* c = nullptr;
  if (!QXSTcpAccessAllowed(address, PrefGet(kPrefServerTcpParanoid) ? 1 : 0)) {
    err = kVIRefAccessErr;
  } else if (!(c = AllocateConnection(name))) {
    DBPrintf("TSNewServerConn: Out of memory");
    err = kMemFullErr;
  }
  const uChar* ip = reinterpret_cast<const uChar*>(&address);
  if (err) {
    TSLog(kTSSideServer, "New incoming connection", "CONNECTION FAILED; err=%ld; client=\"%p\" (%ld.%ld.%ld.%ld)",
          long(err), name, long(ip[0]), long(ip[1]), long(ip[2]), long(ip[3]));
    PendingCloses().push_back(PendingClose{nc, nullptr, false});
    return;
  }
  c->state = kTSIdle;
  c->flags = kTSConnServer;
  c->address = address;
  c->nc = nc;
  TSLog(kTSSideServer, "New incoming connection", "CONNECTION ACCEPTED; client=\"%p\" (%ld.%ld.%ld.%ld)", name,
        long(ip[0]), long(ip[1]), long(ip[2]), long(ip[3]));
  TSStartHeaderRead(c);
}

MgErr TSListenCallback(NCCompletionInfo* info, Cookie listener) {
  TSConnLock lock;
  // The end of a wait on a listener dropped since is not this listener's.
  if (!info || !listener || listener != gListener) return kNoErr;
  if (info->kind != kNCKindAccept) {
    DBPrintf("TSListenCallback: unexpected event %ld", long(info->kind));
    return kNoErr;
  }
  if (info->result == kNoErr) {
    const NCAddress peer{uInt32(info->words[1]), uInt32(info->words[2]), uInt16(info->words[3])};
    TSNewServerConn(&peer, Cookie(info->words[0]));
    // The user-interface thread leaves the next wait.
    if (TSPostEvent(kTSEvListen, 0, nullptr, 0, 0) != kNoErr) DBPrintf("TSListenCallback: can't post the next wait");
    return kNoErr;
  }
  if (!gClosingListener) {
    DBPrintf("TCP VI Server listener has closed with err %ld.", long(info->result));
    gLastListenErr = info->result;
    DropListener();
  }
  return kNoErr;
}

void TSStartHeaderRead(ConnInfo* c) { StartRead(c, c->raw, kSrvMsgHeaderSize, &TSHandleHeaderRead); }

// The connection a read or write completion is for, when that operation is
// still what it waits for (state one of the two given); its debug line.
ConnInfo* Completed(const char* routine, const NCCompletionInfo* info, Cookie nc, int32 pending, int32 both) {
  if (!info) return nullptr;
  ConnInfo* c = ResolveConnID(Cookie(info->data));
  DBPrintf("%s: connID=0x%08lx, connInfo=0x%08lx, nc=0x%08lx, err=%ld", routine, static_cast<unsigned long>(info->data),
           static_cast<unsigned long>(Word(c)), static_cast<unsigned long>(nc), long(info->result));
  return c && c->nc == nc && (c->state == pending || c->state == both) ? c : nullptr;
}

MgErr TSReadCallback(NCCompletionInfo* info, Cookie nc) {
  TSConnLock lock;
  if (ConnInfo* c = Completed("TSReadCallback", info, nc, kTSReadPending, kTSReadWritePending))
    ReadFinished(c, info->result, info->words[1]);
  return kNoErr;
}

MgErr TSWriteCallback(NCCompletionInfo* info, Cookie nc) {
  TSConnLock lock;
  if (ConnInfo* c = Completed("TSWriteCallback", info, nc, kTSWritePending, kTSReadWritePending))
    WriteFinished(c, info->result ? info->result : info->words[1] == info->words[0] ? kNoErr : kPeerClosed);
  return kNoErr;
}

void TSHandleHeaderRead(ConnInfo* c) {
  c->header = SrvMsgHeaderRead(c->raw);
  const SrvMsgHeader h = c->header;
  const bool server = IsServer(c);
  if (!(c->flags & kTSConnHello) && h.type != (server ? kTSClientHello : kTSServerHello)) {
    TSLogMessage(RecvSide(c), "Receiving message (no data)", h, c);
    TSCloseConnection(c, kVIRefProtocolErr);
    return;
  }
  if (h.dataLength < 0 || h.dataLength > kTSMaxDataLength) {
    // Nothing is allocated for a length no message of the protocol has.
    TSLog(RecvSide(c), "Receiving message", "data length %ld refused; msg=\"%s\"; uID=0x%08lx; ref=0x%08lx \"%p\"",
          long(h.dataLength), SrvMsgName(h.type), static_cast<unsigned long>(h.uniqueId),
          static_cast<unsigned long>(c->id), c->name);
    TSCloseConnection(c, kVIRefProtocolErr);
    return;
  }
  const bool hasData = SrvMsgHasData(h);
  TSLogMessage(RecvSide(c), hasData ? "Receiving message (with data)" : "Receiving message (no data)", h, c);
  if (h.type < 0 || h.type >= kTSMessageTypes ||
      server != ((SrvMsgFlags(h.type) & kTSFlagFromClient) != 0)) {
    Skip(c, h.dataLength);
    return;
  }
  if (h.error || hasData) {
    TSStartDataRead(c);
    return;
  }
  switch (h.type) {
    case kTSClientHello: ServeHello(c); return;
    case kTSReleaseRef: ServeRelease(c); return;
    case kTSClientBye:
    case kTSServerBye: TSCloseConnection(c, kPeerClosed); return;
    case kTSResetDownRequest:
      if (TSPostEvent(kTSEvResetDown, c->id, nullptr, 0, h.uniqueId) != kNoErr)
        DBPrintf("TSHandleHeaderRead: can't post the reset of viRef 0x%08lx", static_cast<unsigned long>(h.uniqueId));
      ReadOn(c);
      return;
    case kTSServerHello:
      TSClientHello(c);
      ReadOn(c);
      return;
    case kTSResetDownReply:
      TSClientResetDownReply(c);
      ReadOn(c);
      return;
    default:
      DBPrintf("TSHandleHeaderRead: unexpected message %ld", long(h.type));
      Skip(c, 0);
      return;
  }
}

void TSStartDataRead(ConnInfo* c) {
  const SrvMsgHeader h = c->header;
  if (c->data) AZDisposeHandle(c->data);
  c->data = AZNewHandle(h.dataLength);
  if (!c->data) {
    TSLog(RecvSide(c), "Starting data read",
          "could not allocate %ld byte read buffer for msg=\"%s\"; uID=0x%08lx; ref=0x%08lx \"%p\"",
          long(h.dataLength), SrvMsgName(h.type), static_cast<unsigned long>(h.uniqueId),
          static_cast<unsigned long>(c->id), c->name);
    if (IsServer(c) && !h.error && SrvErrorReplyType(h.type) > 0)
      TSSendErrorReply(c, SrvErrorReplyType(h.type), h.uniqueId, kMemFullErr, kSrvErrorText);
    Skip(c, h.dataLength);
    return;
  }
  if (h.dataLength == 0) {
    TSHandleDataRead(c);
    return;
  }
  StartRead(c, *c->data, h.dataLength, &TSHandleDataRead);
}

void TSHandleDataRead(ConnInfo* c) {
  const SrvMsgHeader h = c->header;
  if (h.error) {
    if (IsServer(c)) {
      ServeErrorMessage(c);
      return;
    }
    TSHandleDataReadWithError(c);
    ReadOn(c);
    return;
  }
  if (IsServer(c)) {
    switch (h.type) {
      case kTSAppPropRequest:
      case kTSVIPropRequest: ServeProperties(c); break;
      case kTSCallVIRequest: ServeCall(c); break;
      case kTSGetVIRefRequest:
      case kTSAppMethodRequest:
      case kTSVIMethodRequest: {
        const int32 kind = h.type == kTSGetVIRefRequest ? kTSEvGetVIRef
                           : h.type == kTSAppMethodRequest ? kTSEvAppMethod
                                                           : kTSEvVIMethod;
        if (TSPostEvent(kind, c->id, c->data, h.dataLength, h.uniqueId) == kNoErr) c->data = nullptr;
        else TSSendErrorReply(c, h.type + 10, h.uniqueId, kMemFullErr, kSrvErrorText);
        break;
      }
      default: DBPrintf("TSHandleDataRead: unexpected message %ld", long(h.type)); break;
    }
  } else {
    switch (h.type) {
      case kTSAppPropReply: CliRcvAppAttrVectReply(c); break;
      case kTSVIPropReply: CliRcvVIAttrVectReply(c); break;
      case kTSGetVIRefReply: CliRcvGetVIRefReply(c); break;
      case kTSCallVIReply: CliRcvCallVIReply(c); break;
      case kTSAppMethodReply: CliRcvAppDoMethReply(c); break;
      case kTSVIMethodReply: CliRcvVIDoMethReply(c); break;
      default: DBPrintf("TSHandleDataRead: unexpected message %ld", long(h.type)); break;
    }
  }
  ReadOn(c);
}

MgErr TSQueueMessage(ConnInfo* c, SrvMessage* m, TSSendDone done) {
  if (!c || !m) return kArgErr;
  if (c->state == kTSNew || c->state == kTSConnecting || c->state == kTSClosing) return kPeerClosed;
  auto* e = reinterpret_cast<SendQueueElem*>(AZNewPClr(int32(sizeof(SendQueueElem))));
  if (!e) return kMemFullErr;
  e->parts = kTSSendHeader | kTSSendLast;
  e->dataKind = kTSDataHandle;
  e->header[0] = m->header.error;
  e->header[1] = m->header.type;
  e->header[2] = int32(m->header.uniqueId);
  e->header[3] = m->header.dataLength;
  if (m->data) {
    e->parts |= kTSSendData | kTSSendOwnsData;
    e->data = m->data;
    e->dataLength = AZGetHandleSize(m->data);
    e->header[3] = e->dataLength;
    m->data = nullptr;
  }
  e->done = done;
  SendQueueElem** p = &c->sendQueue;
  while (*p) p = &(*p)->next;
  *p = e;
  if (!c->inWriteCycle) StartNextWrite(c);
  return kNoErr;
}

SrvSender TSSender(ConnInfo* c) { return SrvSender{&SendThrough, reinterpret_cast<void*>(uintptr_t(c ? c->id : 0))}; }

MgErr TSSendPlain(ConnInfo* c, int32 type, uInt32 uniqueId, MgErr error) {
  SrvMessage m = SrvPlainMessage(type, uniqueId, error);
  return TSQueueMessage(c, &m, nullptr);
}

MgErr TSSendErrorReply(ConnInfo* c, int32 type, uInt32 uniqueId, MgErr error, const char* text) {
  Str255 t;
  TSPStr(text, t);
  SrvMessage m{};
  MgErr err = SrvMakeErrorReply(type, uniqueId, error, text ? t : nullptr, &m);
  if (!err && (err = TSQueueMessage(c, &m, nullptr))) SrvDisposeMessage(&m);
  return err;
}

void TSCloseConnection(ConnInfo* c, MgErr error) {
  if (!c || c->state == kTSClosing || (c->state == kTSNew && !c->nc)) return;
  if (!error && c->state != kTSConnecting && c->state != kTSNew) {
    // Orderly: a Bye, whose send closes.
    SrvMessage bye = SrvPlainMessage(IsServer(c) ? kTSServerBye : kTSClientBye, 0, kNoErr);
    if (TSQueueMessage(c, &bye, &CloseWithOne) == kNoErr) return;
    error = kArgErr;
  }
  c->state = kTSClosing;
  if (IsServer(c)) ServerClose(c);
  else TSClientClose(c, error ? error : kArgErr);
  PendingCloses().push_back(PendingClose{c->nc, c, false});
}

void TSDeleteConnection(ConnInfo* c) {
  if (!c) return;
  if (!gConnJar || MCDisposeCookie(gConnJar, c->id, nullptr) != kNoErr)
    DBPrintf("TSDeleteConnection: can't dispose connection cookie");
  if (c->data) AZDisposeHandle(c->data);
  if (c->pairs) {
    if (GLCount(c->pairs, 8) > 0) DBPrintf("TSDeleteConnection: client pair list not empty");
    GLDispose(c->pairs);
  }
  if (c->serverRefs) {
    if (GLCount(c->serverRefs, 4) > 0) DBPrintf("TSDeleteConnection: server ref list not empty");
    GLDispose(c->serverRefs);
  }
  while (SendQueueElem* e = c->sendQueue) {
    c->sendQueue = e->next;
    FreeElem(e);
  }
  if (c->writeBuf) AZDisposePtr(c->writeBuf);
  AZDisposePtr(reinterpret_cast<UPtr>(c));
}

// ---- User event 24 ---------------------------------------------------------------------------

void TSHandlePostedEvent(int32 kind, Cookie connId, UHandle data, int32 length, uInt32 uniqueId) {
  TSConnLock lock;
  if (kind == kTSEvListen) {
    if (gListener) {
      const MgErr err = WaitForConnections();
      if (err != kPending) DBPrintf("Unexpected error %ld from NCWaitOnListen", long(err));
    }
  } else if (ConnInfo* c = ResolveConnID(connId); !c || c->state == kTSClosing) {
    DBPrintf("TSHandlePostedEvent:%ld: couldn't find conn 0x%08lx", long(kind), static_cast<unsigned long>(connId));
  } else {
    switch (kind) {
      case kTSEvGetVIRef: SrvrRcvGetVIRefRequest(c, data, length, uniqueId); break;
      case kTSEvResetDown: SrvrRcvResetDownRequest(c, VIRef(uniqueId)); break;
      case kTSEvAppMethod: ServeMethod(c, kTSAppMethodRequest, data, length, uniqueId); break;
      case kTSEvVIMethod: ServeMethod(c, kTSVIMethodRequest, data, length, uniqueId); break;
      default: DBPrintf("TSHandlePostedEvent: %ld: unrecognized event code", long(kind)); break;
    }
  }
  if (data) AZDisposeHandle(data);
}

void SrvrRcvGetVIRefRequest(ConnInfo* c, UHandle data, int32 length, uInt32 uniqueId) {
  OpenRequest req{};
  MgErr err = SrvReadOpenRequest(data, length, &req);
  if (err) {
    if (err == kArgErr) DBPrintf("SrvrRcvGetVIRefRequest: msgLen < offset+4");
    TSSendErrorReply(c, kTSGetVIRefReply, uniqueId, err, kSrvErrorText);
    return;
  }
  VIRef ref = 0;
  const int32 options = req.options & 3;
  ConstPStr password = req.hasPassword ? req.password : nullptr;
  if (req.path) {
    TSLog(kTSSideServer, "Get VI Ref Request", "path=\"%z\"", req.path);
    err = AppOpenVIRefByPath(kLocalAppRef, req.path, req.connType, options, password, &ref, nullptr, nullptr, nullptr);
  } else {
    TSLog(kTSSideServer, "Get VI Ref Request", "name=\"%p\"", req.name);
    err = AppOpenVIRefByName(kLocalAppRef, req.name, req.connType, options, password, &ref, nullptr, nullptr, nullptr);
  }
  SrvDisposeOpenRequest(&req);
  if (!err && (err = AddServerRef(c, ref))) VIRefRelease(ref);
  Bool32 reentrant = 0;
  if (!err) {
    VIRefRecord* r = ResolveVIRef(ref);
    reentrant = r && r->vi && *r->vi && (VIRec(r->vi)->flags & kVIFlagReentrant) ? 1 : 0;
    SrvMessage m{};
    if (!(err = SrvWriteOpenReply(uniqueId, ref, reentrant, &m)) && (err = TSQueueMessage(c, &m, nullptr)))
      SrvDisposeMessage(&m);
    if (err) {
      GLRemoveMatch(c->serverRefs, &ref, 4);
      VIRefRelease(ref);
    }
  }
  if (err) TSSendErrorReply(c, kTSGetVIRefReply, uniqueId, err, kSrvErrorText);
}

void SrvrRcvResetDownRequest(ConnInfo* c, VIRef ref) {
  VIRefRecord* r = OwnsRef(c, ref) ? ResolveVIRef(ref) : nullptr;
  if (!r) {
    DBPrintf("SrvrRcvResetDownRequest: Could not resolve viref 0x%lx", static_cast<unsigned long>(uInt32(ref)));
    return;
  }
  TSLog(kTSSideServer, "Reset Down Request", "viRef=0x%08lx", static_cast<unsigned long>(uInt32(ref)));
  if (r->call) KillQXObjAsyncRef(r->call);
}

void TSCallCallback(AsyncRef a) {
  TSConnLock lock;
  if (!a) return;
  ConnInfo* c = ResolveConnID(Cookie(uintptr_t(a->connection)));
  if (!c || c->state == kTSClosing) return;
  const uInt32 uid = uInt32(a->uniqueId);
  switch (a->callState) {
    case kVIRefDoneSuccessful: {
      VIRefRecord* r = ResolveVIRef(a->ref);
      UHandle pane = r && r->vi && *r->vi ? VIRec(r->vi)->connPane : nullptr;
      SrvMessage m{};
      MgErr err = pane && *pane ? SrvWriteCallParams(kTSCallVIReply, uid, 0, reinterpret_cast<const TypeDescriptor*>(*pane),
                                                     reinterpret_cast<const CallTermSlot*>(a->terminals),
                                                     int32(a->param[2]), &m)
                                : MgErr(kVIRefInvalidErr);
      if (!err && (err = TSQueueMessage(c, &m, nullptr))) SrvDisposeMessage(&m);
      if (err) TSSendErrorReply(c, kTSCallVIReply, uid, err, kSrvOutputsErrorText);
      break;
    }
    case kVIRefDoneErrorStop: {
      Str255 text;
      text[0] = 0;
      if (a->errorText) PStrCpy(text, a->errorText);
      SrvMessage m{};
      if (!SrvMakeErrorReply(kTSErrorStopSend, uid, a->error, text, &m) && TSQueueMessage(c, &m, nullptr))
        SrvDisposeMessage(&m);
      break;
    }
    case kVIRefDoneReset: TSSendPlain(c, kTSResetDownReply, uid, a->error); break;
    default: DBPrintf("TSCallCallback: call state %ld", long(a->callState)); break;
  }
}
