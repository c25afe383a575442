// The network connection manager.
#include "io/netconn.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "io/netread.h"
#include "mgsource/config.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "mgsource/window/wmisc.h"
#include "platform/qx_display.h"
#include "platform/qx_netdb.h"
#include "platform/qx_socket.h"
#include "rtlib/filehooks.h"

namespace {

constexpr int32 kMaxTries = 25;  // attempts of a call interrupted by a signal
constexpr uInt32 kEventMask = kPlatSockRead | kPlatSockWrite | kPlatSockAccept | kPlatSockConnect | kPlatSockClose;
constexpr int32 kBacklog = 5;
// The manager's own mark in a connection's events: its last receive found the
// socket empty, and no socket event has come since.  What arrives next is
// reported as an event, so a read until then waits without asking the socket.
constexpr uInt16 kNCEvDrained = 0x4000;
constexpr MgErr kNotSupported = 53, kBadAddress = 54, kPending = 55, kTimedOut = 56, kInProgress = 57,
                kAddrInUse = 60, kPeerClosed = 66;

// Lock order: gTable, then gFreeM or gDoneM (never both, never the
// reverse); gFlightM (below, with the wait of a close) inside gDoneM only;
// the socket layer's own lock is taken inside gTable by every socket call,
// and that layer never calls back up.  gMutexesLock is taken with none of
// the three held.
//
// Guards the making and the disposal of the three mutexes.
std::mutex gMutexesLock;
bool gMutexesMade = false;
ThMutex gTable = nullptr;  // every connection, the jar, the indexes below
ThMutex gFreeM = nullptr;  // the operation free list
ThMutex gDoneM = nullptr;  // the completion list

std::atomic<int32> gState{0};  // 0 not tried, 1 ready, -1 failed
MgErr gInitErr = kNoErr;
bool gSockUp = false;
std::atomic<bool> gSockDebug{false};

// Under gTable.
CookieJar gJar = nullptr;
Occurrence gPollOcc = 0;
OccurHdlr gPollHdlr = 0;
NConn* gFreeConns = nullptr;
std::vector<NConn*>* gConnRecords = nullptr;       // every record made, until shut-down
std::unordered_map<int32, NConn*>* gBySocket = nullptr;  // the intake's index
std::unordered_set<NConn*>* gDirty = nullptr;      // connections with events the poll has not seen

// Under gFreeM.
NCPendingOp* gFreeOps = nullptr;
std::vector<NCPendingOp*>* gOpRecords = nullptr;

// Under gDoneM.
NCPendingOp* gDoneHead = nullptr;
NCPendingOp* gDoneTail = nullptr;

// The completions being called.  Every running Dispatch lists itself with
// the part of its chain whose procedures have not returned yet; a close
// waits until no other thread holds a completion of its connection, so that
// a procedure never runs after the close that ended its connection returned
// (the close of a VI's clean-up disposes what the procedure writes into).
//
// gFlightM is taken inside gDoneM (so a chain is listed in the same step
// that takes it off the completion list) or alone.  A close waits holding
// none of the manager's mutexes, and the order with the callers' locks is:
// the clean-up list's mutex (the VI clean-up calls the close under it), then
// the wait, then what a completion takes ("dsRights" of a data space, then a
// run record's mutex, in the TCP covers' re-queue).  So a close is never
// called holding a mutex a completion takes, and no completion takes the
// clean-up list's mutex.  A close inside a completion never waits for its
// own thread, nor for a thread that began waiting in a close before it, so
// two closes inside completions cannot wait for each other.
struct Dispatching {
  Dispatching* next;
  std::thread::id thread;
  NCPendingOp* rest;  // the chain from the completion being called on
};
struct Closing {
  Closing* next;
  std::thread::id thread;
  uint64_t order;  // when it began waiting
};
std::mutex gFlightM;
std::condition_variable gFlightDone;
Dispatching* gDispatching = nullptr;  // under gFlightM
Closing* gClosing = nullptr;          // under gFlightM
uint64_t gCloseOrder = 0;             // under gFlightM

int32 NCPollHandler(void*);
int32 TimeoutProc(void* data);
MgErr CloseLocked(NConn* c);
void CheckNC(NConn* c);

NConn* Lookup(Cookie cookie) {
  NConn* c = nullptr;
  if (!gJar || !cookie || MCGetCookieInfo(gJar, cookie, &c) != kNoErr) return nullptr;
  return c;
}

MgErr InitLocked() {
  gConnRecords = new std::vector<NConn*>;
  gBySocket = new std::unordered_map<int32, NConn*>;
  gDirty = new std::unordered_set<NConn*>;
  gJar = MCNewJar();
  if (!gJar) {
    DBPrintf("NCInit: Couldn't alloc new cookie jar");
    return kMemFullErr;
  }
  gPollOcc = AllocOccur();
  if (!gPollOcc) {
    DBPrintf("NCInit: Couldn't alloc gPoll occurrence");
    return kMemFullErr;
  }
  gPollHdlr = AllocOccurHdlr(gPollOcc, &NCPollHandler, nullptr);
  if (!gPollHdlr) {
    DBPrintf("NCInit: Couldn't alloc gPoll oHdlr");
    return kMemFullErr;
  }
  OnOccurrence(gPollHdlr, 1);
  int32 enabled = 1;
  static const uChar kKey[] = "\007netconn";
  CfgGetDefault(kCfgBool, kKey, &enabled);
  if (!enabled) return kNotSupported;
  PlatSockInfo info;
  int32 err = PlatSockStartup(0x0101, &info);
  if (err == 0 && info.version == 0x0101) {
    gSockUp = true;
    DBPrintf("vers=0x%x, highVers=0x%x", int32(info.version), int32(info.highVersion));
    DBPrintf("desc=%s\nstat=%s", info.description, info.status);
    DBPrintf("maxSock=%d, maxUdp=%d", int32(info.maxSockets), int32(info.maxUdp));
    return kNoErr;
  }
  if (err == 0) PlatSockCleanup();
  DBPrintf("Socket start-up failed. err=%d, vers=%d", err, int32(info.version));
  return kNotSupported;
}

// Run at the start of every operation: a failure is kept for good (until
// the shut-down).
MgErr NCInit() {
  int32 s = gState.load(std::memory_order_acquire);
  if (s == 1) return kNoErr;
  NCInitMutexes();
  ThMutexAcquire(gTable);
  s = gState.load(std::memory_order_relaxed);
  MgErr err;
  if (s == 0) {
    err = InitLocked();
    gInitErr = err;
    gState.store(err ? -1 : 1, std::memory_order_release);
  } else {
    err = s == 1 ? kNoErr : gInitErr;
  }
  ThMutexRelease(gTable);
  return err;
}

// ---- records ---------------------------------------------------------------

// Under gTable.
MgErr NewConn(NConn** out) {
  *out = nullptr;
  NConn* c = gFreeConns;
  if (c) {
    gFreeConns = c->link;
  } else {
    c = reinterpret_cast<NConn*>(DSNewPClr(sizeof(NConn)));
    if (!c) return kMemFullErr;
    c->buffered = DSNewHandle(0);
    if (!c->buffered) {
      DSDisposePtr(reinterpret_cast<UPtr>(c));
      return kMemFullErr;
    }
    gConnRecords->push_back(c);
  }
  c->link = nullptr;
  c->mode = 0;
  c->events = 0;
  c->socket = kPlatNoSocket;
  c->readOp = c->writeOp = nullptr;
  c->closing = 0;
  c->lastError = 0;
  DSSetHandleSize(c->buffered, 0);
  NConn* info = c;
  c->cookie = MCNewCookie(gJar, &info);
  if (!c->cookie) {
    c->link = gFreeConns;
    gFreeConns = c;
    return kMemFullErr;
  }
  *out = c;
  return kNoErr;
}

// A cleared operation from the free list or a new one, its handler bound to
// the time-out procedure with the record as its data.
NCPendingOp* TakeOp() {
  ThMutexAcquire(gFreeM);
  NCPendingOp* op = gFreeOps;
  if (op) gFreeOps = op->link;
  ThMutexRelease(gFreeM);
  if (op) {
    Occurrence occ = op->timeoutOcc;
    OccurHdlr h = op->timeoutHdlr;
    std::memset(op, 0, sizeof *op);
    op->timeoutOcc = occ;
    op->timeoutHdlr = h;
    return op;
  }
  op = reinterpret_cast<NCPendingOp*>(DSNewPClr(sizeof(NCPendingOp)));
  if (!op) return nullptr;
  op->timeoutOcc = AllocOccur();
  if (op->timeoutOcc) op->timeoutHdlr = AllocOccurHdlr(op->timeoutOcc, &TimeoutProc, op);
  if (!op->timeoutHdlr) {
    if (op->timeoutOcc) DeallocOccur(op->timeoutOcc);
    DSDisposePtr(reinterpret_cast<UPtr>(op));
    return nullptr;
  }
  ThMutexAcquire(gFreeM);
  gOpRecords->push_back(op);
  ThMutexRelease(gFreeM);
  return op;
}

void ArmTimeout(NCPendingOp* op, int32 timeout) {
  op->timeout = timeout;
  if (timeout == -1) return;
  op->timerFlags |= 1;
  if (timeout == 0) return;
  op->deadline = MilliSecs() + uInt32(timeout);
  // A recycled record's handler is bound afresh only when it is armed.
  BindOccurHdlr(op->timeoutHdlr, op->timeoutOcc, &TimeoutProc, op);
  OnOccurrence(op->timeoutHdlr, 1);
  OccurAtTime(op->timeoutOcc, op->deadline);
}

void StopTimeout(NCPendingOp* op) {
  if (!(op->timerFlags & 1)) return;
  op->timerFlags &= ~1;
  if (op->timeout > 0) {
    CancelOnOccur(op->timeoutHdlr);
    CancelOccurAtTime(op->timeoutOcc);
  }
}

// Under gTable.
MgErr NewOp(NConn* c, UPtr buffer, int32 requested, int32 timeout, NCCompletionProc proc, int32 data, int32 mode,
            uInt16 timeoutFlag, NCPendingOp** out) {
  NCPendingOp* op = TakeOp();
  *out = op;
  if (!op) return kMemFullErr;
  op->conn = c;
  op->buffer = buffer;
  op->requested = requested;
  op->proc = proc;
  op->data = data;
  op->modeKind = mode;
  op->timeoutFlag = timeout == -1 ? 0 : timeoutFlag;
  ArmTimeout(op, timeout);
  return kNoErr;
}

void FreeOp(NCPendingOp* op) {
  StopTimeout(op);
  op->conn = nullptr;
  op->proc = nullptr;
  ThMutexAcquire(gFreeM);
  op->link = gFreeOps;
  gFreeOps = op;
  ThMutexRelease(gFreeM);
}

void AppendDone(NCPendingOp* op) {
  op->link = nullptr;
  ThMutexAcquire(gDoneM);
  if (gDoneTail)
    gDoneTail->link = op;
  else
    gDoneHead = op;
  gDoneTail = op;
  ThMutexRelease(gDoneM);
}

// Under gTable: ends an operation and queues its completion.
void Post(NCPendingOp* op, int32 kind, MgErr result) {
  StopTimeout(op);
  NConn* c = op->conn;
  if (c) {
    if (c->readOp == op) c->readOp = nullptr;
    if (c->writeOp == op) c->writeOp = nullptr;
    op->connCookie = c->cookie;
  }
  op->conn = nullptr;
  op->modeKind = kind;
  op->result = result;
  AppendDone(op);
}

// Calls the queued completions in order, with no mutex held, until none is
// left.
void Dispatch() {
  Dispatching self{nullptr, std::this_thread::get_id(), nullptr};
  bool listed = false;
  for (;;) {
    ThMutexAcquire(gDoneM);
    NCPendingOp* chain = gDoneHead;
    gDoneHead = gDoneTail = nullptr;
    if (chain) {
      std::lock_guard<std::mutex> g(gFlightM);
      self.rest = chain;
      if (!listed) {
        self.next = gDispatching;
        gDispatching = &self;
        listed = true;
      }
    }
    ThMutexRelease(gDoneM);
    if (!chain) break;
    for (NCPendingOp* op = chain; op; op = op->link) {
      if (op->proc) {
        NCCompletionInfo info{};
        info.kind = op->modeKind;
        info.result = op->result;
        info.data = op->data;
        if (op->modeKind == kNCKindAccept) {
          info.words[0] = int32(op->acceptedCookie);
          info.words[1] = int32(op->remote.reserved);
          info.words[2] = int32(op->remote.address);
          info.words[3] = int32(op->remote.port);
        } else if (op->modeKind == kNCKindRead || op->modeKind == kNCKindWrite) {
          info.words[0] = op->requested;
          info.words[1] = op->done;
          info.words[2] = int32(reinterpret_cast<uintptr_t>(op->buffer));
        }
        op->proc(&info, op->connCookie);
      }
      std::lock_guard<std::mutex> g(gFlightM);
      self.rest = op->link;
      if (gClosing) gFlightDone.notify_all();
    }
    while (chain) {
      NCPendingOp* next = chain->link;
      FreeOp(chain);
      chain = next;
    }
  }
  if (!listed) return;
  std::lock_guard<std::mutex> g(gFlightM);
  for (Dispatching** p = &gDispatching; *p; p = &(*p)->next) {
    if (*p == &self) {
      *p = self.next;
      break;
    }
  }
  if (gClosing) gFlightDone.notify_all();
}

// Waits until no other thread calls a completion of the connection (0: until
// no other thread dispatches at all), with no mutex of the manager held.
void WaitForCompletions(Cookie conn) {
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(gFlightM);
  bool inCompletion = false;
  for (Dispatching* d = gDispatching; d; d = d->next) inCompletion = inCompletion || d->thread == me;
  Closing self{gClosing, me, ++gCloseOrder};
  auto waitedBefore = [&](std::thread::id t) {
    for (Closing* c = gClosing; c; c = c->next)
      if (c->thread == t && c->order < self.order) return true;
    return false;
  };
  auto busy = [&] {
    for (Dispatching* d = gDispatching; d; d = d->next) {
      if (d->thread == me || (inCompletion && waitedBefore(d->thread))) continue;
      if (!conn) return true;
      for (NCPendingOp* op = d->rest; op; op = op->link)
        if (op->proc && op->connCookie == conn) return true;
    }
    return false;
  };
  if (!busy()) return;
  gClosing = &self;
  gFlightDone.wait(lock, [&] { return !busy(); });
  for (Closing** p = &gClosing; *p; p = &(*p)->next) {
    if (*p == &self) {
      *p = self.next;
      break;
    }
  }
}

// For the calls that never dispatch themselves: completions they queued are
// left to the poll.
void PollLater() {
  ThMutexAcquire(gDoneM);
  bool any = gDoneHead != nullptr;
  ThMutexRelease(gDoneM);
  if (any && gPollOcc) Occur(gPollOcc);
}

// ---- sockets ----------------------------------------------------------------

MgErr NewNetObject(int32* sock) {
  int32 err = 0;
  PlatSocket s = PlatSockCreate(&err);
  if (s == kPlatNoSocket) return SockToMgErr(err);
  err = PlatSockSetNonBlocking(s, true);
  if (err) {
    DBPrintf("NewNetObject: SetNonBlock failed: err=%ld", err);
    PlatSockClose(s);
    return SockToMgErr(err);
  }
  err = PlatSockNotify(s, PlatGetFrameWindow(), kNCSocketMessage, kEventMask);
  if (err) {
    DBPrintf("NewNetObject: SetAsync failed: err=%d", err);
    PlatSockClose(s);
    return SockToMgErr(err);
  }
  *sock = s;
  return kNoErr;
}

void AttachSocket(NConn* c, int32 s) {
  c->socket = s;
  (*gBySocket)[s] = c;
}

// Under gTable.
MgErr CloseLocked(NConn* c) {
  if (c->closing) return kNoErr;
  c->closing = 1;
  if (c->socket != kPlatNoSocket) {
    gBySocket->erase(c->socket);
    PlatSockClose(c->socket);
    c->socket = kPlatNoSocket;
  }
  gDirty->erase(c);
  if (NCPendingOp* op = c->readOp) {
    int32 kind = kNCKindRead;
    if (!(c->mode & kNCModeRead)) {
      // The listener's accept operation: connections not handed out go too.
      kind = kNCKindAccept;
      UHandle h = op->acceptQ;
      op->acceptQ = nullptr;
      while (h) {
        NCAcceptRec* r = reinterpret_cast<NCAcceptRec*>(*h);
        UHandle next = r->link;
        if (NConn* q = Lookup(r->conn)) CloseLocked(q);
        DSDisposeHandle(h);
        h = next;
      }
      op->acceptedCookie = 0;
      op->remote = NCAddress{};
    }
    if (op->proc) {
      Post(op, kind, kPeerClosed);
    } else {
      c->readOp = nullptr;
      FreeOp(op);
    }
  }
  if (NCPendingOp* op = c->writeOp) {
    int32 kind = (c->mode & kNCModeWrite) ? kNCKindWrite : kNCKindConnect;
    if (op->proc) {
      Post(op, kind, kPeerClosed);
    } else {
      c->writeOp = nullptr;
      FreeOp(op);
    }
  }
  c->mode = 0;
  c->events = 0;
  c->closing = 0;
  MCDisposeCookie(gJar, c->cookie, nullptr);
  c->cookie = 0;
  DSSetHandleSize(c->buffered, 0);
  c->link = gFreeConns;
  gFreeConns = c;
  return kNoErr;
}

// ---- reading and writing ------------------------------------------------------

struct RecvContext {
  int32 socket;
  bool drained;   // in: the socket is known empty: the first receive would block
  bool received;  // out: a receive asked the socket
  bool dry;       // out: the last one found it empty (short, or would block)
};

int32 RecvProc(void* context, uInt8* buffer, int32 max, MgErr* err) {
  RecvContext* ctx = static_cast<RecvContext*>(context);
  int32 s = ctx->socket;
  if (ctx->drained) {
    ctx->drained = false;
    *err = kPending;
    return -1;
  }
  ctx->received = true;
  int32 e = 0;
  for (int32 tries = 0; tries < kMaxTries; ++tries) {
    int32 n = PlatSockRecv(s, buffer, max, &e);
    ctx->dry = (n >= 0 && n < max) || (n < 0 && e == kPlatSockEWOULDBLOCK);
    if (n >= 0) return n;
    if (e != kPlatSockEINTR) break;
  }
  *err = SockToMgErr(e);
  if (*err != kPending) DBPrintf("NCReadLow socket (%ld) returned err=%ld", s, e);
  return -1;
}

bool ReserveHeld(NCHeld* held, int32 need) {
  UHandle h = static_cast<UHandle>(held->owner);
  if (DSSetHandleSize(h, need) != kNoErr) return false;
  held->bytes = *h;
  held->capacity = need;
  return true;
}

// Under gTable: one attempt of the connection's pending read.
MgErr NCReadLow(NConn* c, NCPendingOp* op, bool timedOut) {
  UHandle h = c->buffered;
  int32 count = DSGetHandleSize(h);
  NCHeld held{*h, count, count, &ReserveHeld, h};
  // A read that may not wait, or whose time has come, asks the socket anyway.
  RecvContext ctx{c->socket, (c->events & kNCEvDrained) && op->timeout != 0 && !timedOut, false, false};
  MgErr err = NCReadAttempt(op->modeKind, op->buffer, op->requested, &op->done, &held, op->timeout == 0, timedOut,
                            &RecvProc, &ctx);
  if (ctx.received) c->events = ctx.dry ? c->events | kNCEvDrained : c->events & ~kNCEvDrained;
  if (DSGetHandleSize(h) != held.count) DSSetHandleSize(h, held.count);
  return err;
}

// Under gTable: sends the rest of the pending write.
MgErr NCWriteLow(NConn* c, NCPendingOp* op) {
  MgErr err = kNoErr;
  int32 tries = 0;
  while (op->done < op->requested) {
    int32 e = 0;
    int32 n = PlatSockSend(c->socket, op->buffer + op->done, op->requested - op->done, &e);
    if (n >= 0) {
      op->done += n;
      tries = 0;
      continue;
    }
    if (e == kPlatSockEINTR && ++tries < kMaxTries) continue;
    err = SockToMgErr(e);
    if (err != kPending) DBPrintf("NCWriteLow socket (%ld) returned err=%ld [syserr = %d]", c->socket, e, e);
    break;
  }
  if (err == kPending && op->timeout == 0) err = kTimedOut;
  return err;
}

void FinishRead(NConn* c, NCPendingOp* op, MgErr err) {
  c->mode &= ~kNCModeRead;
  c->events &= ~(kNCEvRead | kNCEvReadTimeout);
  Post(op, kNCKindRead, err);
  if (err == kMemFullErr) CloseLocked(c);
}

void FinishWrite(NConn* c, NCPendingOp* op, MgErr err) {
  c->mode &= ~kNCModeWrite;
  c->events &= ~(kNCEvWrite | kNCEvWriteTimeout);
  Post(op, kNCKindWrite, err);
}

// ---- connecting -----------------------------------------------------------------

MgErr NCConnectLow(NConn* c, NCPendingOp* op) {
  int32 se = 0;
  if (op->local.port) {
    se = PlatSockBind(c->socket, 0, op->local.port);
    if (se) return SockToMgErr(se);
  }
  for (int32 tries = 0; tries < kMaxTries; ++tries) {
    se = PlatSockConnect(c->socket, op->remote.address, op->remote.port);
    if (se != kPlatSockEINTR) break;
  }
  MgErr err = SockToMgErr(se);
  if (err && err != kPending) DBPrintf("NCConnectLow: connect returned err =%ld", se);
  if (err == kPending && op->timeout == 0) err = kTimedOut;
  return err;
}

void FinishConnect(NConn* c) {
  NCPendingOp* op = c->writeOp;
  MgErr err = (c->events & (kNCEvConnect | kNCEvError)) ? kNoErr : kTimedOut;
  bool errored = c->events & kNCEvError;
  c->events &= ~(kNCEvConnect | kNCEvError | kNCEvConnectTimeout);
  if (errored) {
    DBPrintf("FinishConnect: error on connect, sockerr = %ld", c->lastError);
    err = SockToMgErr(c->lastError);
  }
  c->mode &= ~kNCModeConnect;
  if (op) Post(op, kNCKindConnect, err);
  if (err) CloseLocked(c);
}

// ---- accepting -------------------------------------------------------------------

// Accepts one incoming connection into the tail of the listener's queue;
// a failure is logged and records nothing.  False when nothing was
// accepted.
bool NCAcceptConn(NConn* c, NCPendingOp* op) {
  UHandle h = DSNewHClr(sizeof(NCAcceptRec));
  if (!h) return false;
  NConn* nc = nullptr;
  if (NewConn(&nc) != kNoErr) {
    DSDisposeHandle(h);
    return false;
  }
  uInt32 addr = 0;
  uInt16 port = 0;
  int32 e = 0;
  PlatSocket s = kPlatNoSocket;
  for (int32 tries = 0; tries < kMaxTries; ++tries) {
    s = PlatSockAccept(c->socket, &addr, &port, &e);
    if (s != kPlatNoSocket || e != kPlatSockEINTR) break;
  }
  if (s == kPlatNoSocket) {
    DBPrintf("NCAcceptConn: accept failed, err=%d", e);
  } else {
    AttachSocket(nc, s);
    e = PlatSockSetNonBlocking(s, true);
    if (e) {
      DBPrintf("NCAcceptConn: SetNonBlock failed: err=%ld", e);
    } else {
      e = PlatSockNotify(s, PlatGetFrameWindow(), kNCSocketMessage, kEventMask);
      if (e) DBPrintf("NCAcceptConn: SetAsyncSocket failed: err=%ld", e);
    }
  }
  if (s == kPlatNoSocket || e) {
    CloseLocked(nc);
    DSDisposeHandle(h);
    return s != kPlatNoSocket;
  }
  NCAcceptRec* r = reinterpret_cast<NCAcceptRec*>(*h);
  r->conn = nc->cookie;
  r->peer = NCAddress{0, addr, port};
  UHandle* tail = &op->acceptQ;
  while (*tail) tail = &reinterpret_cast<NCAcceptRec*>(**tail)->link;
  *tail = h;
  return true;
}

// Ends the registered wait: a copy of the accept operation is posted with the
// waiter's procedure and data, and the listener has no waiter any more.
bool CompleteAccept(NConn* c, NCPendingOp* op, MgErr result, Cookie accepted, const NCAddress& peer) {
  NCPendingOp* copy = TakeOp();
  if (!copy) return false;
  StopTimeout(op);
  op->timeoutFlag &= ~kNCEvAcceptTimeout;
  copy->proc = op->proc;
  copy->data = op->data;
  copy->connCookie = c->cookie;
  copy->acceptedCookie = accepted;
  copy->remote = peer;
  copy->result = result;
  copy->modeKind = kNCKindAccept;
  AppendDone(copy);
  op->proc = nullptr;
  op->data = 0;
  return true;
}

// Pops the oldest accepted connection; false when there is none.
bool PopAccepted(NCPendingOp* op, Cookie* conn, NCAddress* peer) {
  UHandle h = op->acceptQ;
  if (!h) return false;
  NCAcceptRec* r = reinterpret_cast<NCAcceptRec*>(*h);
  op->acceptQ = r->link;
  *conn = r->conn;
  *peer = r->peer;
  DSDisposeHandle(h);
  return true;
}

void Accepting(NConn* c) {
  NCPendingOp* op = c->readOp;
  uInt16 ev = c->events;
  c->events &= ~(kNCEvAccept | kNCEvAcceptTimeout | kNCEvError);
  if (!op) return;
  if (ev & kNCEvError) {
    // An errored event on the listener: later waits report it.
    if (MgErr e = SockToMgErr(c->lastError)) op->result = e;
  } else if (ev & kNCEvAccept) {
    NCAcceptConn(c, op);
  }
  if (!op->proc) return;
  if (op->acceptQ) {
    UHandle h = op->acceptQ;
    NCAcceptRec* r = reinterpret_cast<NCAcceptRec*>(*h);
    if (CompleteAccept(c, op, kNoErr, r->conn, r->peer)) {
      op->acceptQ = r->link;
      DSDisposeHandle(h);
    }
  } else if (op->result) {
    CompleteAccept(c, op, op->result, 0, NCAddress{});
  } else if (ev & kNCEvAcceptTimeout) {
    CompleteAccept(c, op, kTimedOut, 0, NCAddress{});
  }
}

// Under gTable: moves the connection's pending operations on by its events.
void CheckNC(NConn* c) {
  if (!c->cookie || c->closing) return;
  if (c->mode & kNCModeConnect) {
    if (c->events & (kNCEvConnect | kNCEvConnectTimeout)) FinishConnect(c);
    return;
  }
  if (c->mode & kNCModeListener) {
    if (c->events & (kNCEvAccept | kNCEvAcceptTimeout | kNCEvError)) Accepting(c);
    return;
  }
  if ((c->mode & kNCModeRead) && (c->events & (kNCEvRead | kNCEvReadTimeout))) {
    NCPendingOp* op = c->readOp;
    bool timedOut = c->events & kNCEvReadTimeout;
    // The attempt's receive arms the read event again.
    c->events &= ~kNCEvRead;
    MgErr err = NCReadLow(c, op, timedOut);
    if (err != kPending) FinishRead(c, op, err);
  }
  if (c->cookie && (c->mode & kNCModeWrite) && (c->events & (kNCEvWrite | kNCEvWriteTimeout))) {
    NCPendingOp* op = c->writeOp;
    c->events &= ~kNCEvWrite;
    MgErr err = NCWriteLow(c, op);
    if (err == kPending && (c->events & kNCEvWriteTimeout)) err = kTimedOut;
    if (err != kPending) FinishWrite(c, op, err);
  }
}

// The poll handler: every connection the intake marked, then the completions.
int32 NCPollHandler(void*) {
  std::vector<NConn*> marked;
  ThMutexAcquire(gTable);
  if (gPollHdlr) OnOccurrence(gPollHdlr, 1);
  if (gDirty) {
    marked.assign(gDirty->begin(), gDirty->end());
    gDirty->clear();
  }
  for (NConn* c : marked) CheckNC(c);
  ThMutexRelease(gTable);
  Dispatch();
  return 0;
}

int32 TimeoutProc(void* data) {
  NCPendingOp* op = static_cast<NCPendingOp*>(data);
  ThMutexAcquire(gTable);
  NConn* c = op->conn;
  // A firing that outlived its operation (cancelled, posted or recycled
  // since) finds it detached, unarmed or not due yet.
  if (c && op->timeoutFlag && (op->timerFlags & 1) && op->timeout > 0 &&
      MillisecCmp(MilliSecs(), op->deadline) >= 0 && (c->readOp == op || c->writeOp == op)) {
    op->timerFlags &= ~1;
    c->events |= op->timeoutFlag;
    CheckNC(c);
  }
  ThMutexRelease(gTable);
  Dispatch();
  return 0;
}

}  // namespace

// ---- the operations -------------------------------------------------------------

MgErr SockToMgErr(int32 e) {
  if (e == 0) return kNoErr;
  if (gSockDebug.load() && e != kPlatSockEWOULDBLOCK && e != kPlatSockEINPROGRESS)
    DBPrintf("SockToMgErr: sErr=%d: %s", e, "");
  switch (e) {
    case kPlatSockEACCES:
    case kPlatSockEADDRNOTAVAIL: return kBadAddress;
    case kPlatSockEMFILE: return 11;
    case kPlatSockEWOULDBLOCK:
    case kPlatSockEINPROGRESS: return kPending;
    case kPlatSockEALREADY: return kInProgress;
    case kPlatSockENOTSOCK:
    case kPlatSockEDESTADDRREQ:
    case kPlatSockEMSGSIZE:
    case kPlatSockEPROTOTYPE:
    case kPlatSockENOPROTOOPT:
    case kPlatSockEPROTONOSUPPORT:
    case kPlatSockESOCKTNOSUPPORT: return kArgErr;
    case kPlatSockEOPNOTSUPP:
    case kPlatSockEPFNOSUPPORT:
    case kPlatSockEAFNOSUPPORT: return 58;
    case kPlatSockEADDRINUSE: return kAddrInUse;
    case kPlatSockENETDOWN:
    case kPlatSockENETUNREACH:
    case kPlatSockENETRESET: return 59;
    case kPlatSockECONNABORTED: return 62;
    case kPlatSockECONNRESET: return kPeerClosed;
    case kPlatSockENOBUFS: return 61;
    case kPlatSockEISCONN: return 65;
    case kPlatSockENOTCONN: return 64;
    case kPlatSockETIMEDOUT: return kTimedOut;
    case kPlatSockECONNREFUSED: return 63;
    default:
      DBPrintf("SockToMgErr: bogus? sErr=%ld: \"%s\"", e, PlatSockErrorText(e));
      return 42;
  }
}

MgErr NCInitMutexes() {
  std::lock_guard<std::mutex> g(gMutexesLock);
  if (gMutexesMade) return kNoErr;
  MgErr err = ThMutexCreate(&gTable, "NCConnTable");
  if (!err) err = ThMutexCreate(&gFreeM, "NCOpFreeList");
  if (!err) err = ThMutexCreate(&gDoneM, "NCCompletions");
  if (!err) {
    if (!gOpRecords) gOpRecords = new std::vector<NCPendingOp*>;
    gMutexesMade = true;
  }
  return err;
}

MgErr NCOpenListener(const NCAddress* local, Cookie* conn) {
  if (conn) *conn = 0;
  if (!conn || !local) return kArgErr;
  MgErr err = NCInit();
  if (err) return err;
  ThMutexAcquire(gTable);
  NConn* c = nullptr;
  err = NewConn(&c);
  if (!err) {
    NCPendingOp* op = nullptr;
    err = NewOp(c, nullptr, 0, -1, nullptr, 0, 0, 0, &op);
    if (!err) {
      c->readOp = op;
      int32 s = kPlatNoSocket;
      err = NewNetObject(&s);
      if (!err) {
        AttachSocket(c, s);
        int32 se = PlatSockBind(s, 0, local->port);
        for (int32 tries = 0; !se && tries < kMaxTries; ++tries) {
          se = PlatSockListen(s, kBacklog);
          if (se != kPlatSockEINTR) break;
        }
        err = SockToMgErr(se);
      }
      if (!err) {
        op->local = *local;
        c->mode = kNCModeListener;
        *conn = c->cookie;
      } else {
        c->readOp = nullptr;
        FreeOp(op);
      }
    }
    if (err) CloseLocked(c);
  }
  ThMutexRelease(gTable);
  Dispatch();
  return err;
}

MgErr NCWaitOnListener(Cookie listener, int32 timeout, NCCompletionProc proc, int32 data, Cookie* conn,
                       NCAddress* peer) {
  if (conn) *conn = 0;
  if (peer) *peer = NCAddress{};
  if (!conn) return kArgErr;
  MgErr err = NCInit();
  if (err) return err;
  if (timeout < -1 || !proc) return kArgErr;
  ThMutexAcquire(gTable);
  NConn* c = Lookup(listener);
  NCAddress from{};
  if (!c || !(c->mode & kNCModeListener) || !c->readOp) {
    err = kArgErr;
  } else {
    NCPendingOp* op = c->readOp;
    if (op->proc) {
      err = kAddrInUse;
    } else if (PopAccepted(op, conn, &from)) {
      if (peer) *peer = from;
      err = kNoErr;
    } else if (op->result) {
      err = op->result;
    } else if (timeout == 0) {
      err = kTimedOut;
    } else {
      op->proc = proc;
      op->data = data;
      op->timeoutFlag = timeout == -1 ? 0 : kNCEvAcceptTimeout;
      ArmTimeout(op, timeout);
      err = kPending;
    }
  }
  ThMutexRelease(gTable);
  return err;
}

MgErr NCCloseListener(Cookie listener) { return NCClose(listener); }

MgErr NCConnectConn(const NCAddress* local, const NCAddress* remote, NCCompletionProc proc, int32 data,
                    int32 timeout, Cookie* conn) {
  if (conn) *conn = 0;
  if (!conn || !remote) return kArgErr;
  MgErr err = NCInit();
  if (err) return err;
  if (timeout < -1) return kArgErr;
  ThMutexAcquire(gTable);
  NConn* c = nullptr;
  err = NewConn(&c);
  if (!err) {
    *conn = c->cookie;
    NCPendingOp* op = nullptr;
    err = NewOp(c, nullptr, 0, timeout, proc, data, 0, kNCEvConnectTimeout, &op);
    if (!err) {
      c->writeOp = op;
      op->remote = *remote;
      if (local) op->local = *local;
      int32 s = kPlatNoSocket;
      err = NewNetObject(&s);
      if (!err) {
        AttachSocket(c, s);
        c->mode |= kNCModeConnect;
        err = NCConnectLow(c, op);
      }
      if (err != kPending) {
        c->mode &= ~kNCModeConnect;
        c->writeOp = nullptr;
        FreeOp(op);
      }
    }
    if (err && err != kPending) {
      CloseLocked(c);
      *conn = 0;
    }
  }
  ThMutexRelease(gTable);
  Dispatch();
  return err;
}

MgErr NCReadConn(Cookie conn, UPtr buffer, int32* count, int32 timeout, NCCompletionProc proc, int32 data,
                 int32 mode) {
  if (!count) return kArgErr;
  int32 requested = *count;
  *count = 0;
  MgErr err = NCInit();
  if (err) return err;
  if (timeout < -1 || requested < 0 || (requested > 0 && !buffer) || mode < 0 || mode > kNCReadImmediate)
    return kArgErr;
  ThMutexAcquire(gTable);
  NConn* c = Lookup(conn);
  if (!c) {
    err = kArgErr;
  } else if (c->closing || c->socket == kPlatNoSocket) {
    err = kPeerClosed;
  } else if (c->mode & (kNCModeConnect | kNCModeListener | kNCModeRead)) {
    err = kInProgress;
  } else {
    NCPendingOp* op = nullptr;
    err = NewOp(c, buffer, requested, timeout, proc, data, mode, kNCEvReadTimeout, &op);
    if (!err) {
      c->readOp = op;
      c->mode |= kNCModeRead;
      err = NCReadLow(c, op, false);
      if (err != kPending) {
        c->mode &= ~kNCModeRead;
        c->readOp = nullptr;
        *count = op->done;
        FreeOp(op);
        if (err == kMemFullErr) CloseLocked(c);
      } else {
        *count = op->done;
      }
    }
  }
  ThMutexRelease(gTable);
  PollLater();
  return err;
}

MgErr NCWriteConn(Cookie conn, UPtr buffer, int32* count, int32 timeout, NCCompletionProc proc, int32 data) {
  if (!count) return kArgErr;
  int32 requested = *count;
  if (requested == 0) return kNoErr;
  *count = 0;
  MgErr err = NCInit();
  if (err) return err;
  if (timeout < -1 || requested < 0 || !buffer) return kArgErr;
  ThMutexAcquire(gTable);
  NConn* c = Lookup(conn);
  if (!c) {
    err = kArgErr;
  } else if (c->closing || c->socket == kPlatNoSocket) {
    err = kPeerClosed;
  } else if (c->mode & (kNCModeConnect | kNCModeListener | kNCModeWrite)) {
    err = kInProgress;
  } else {
    NCPendingOp* op = nullptr;
    err = NewOp(c, buffer, requested, timeout, proc, data, 0, kNCEvWriteTimeout, &op);
    if (!err) {
      c->writeOp = op;
      c->mode |= kNCModeWrite;
      err = NCWriteLow(c, op);
      *count = op->done;
      if (err != kPending) {
        c->mode &= ~kNCModeWrite;
        c->writeOp = nullptr;
        FreeOp(op);
      }
    }
  }
  ThMutexRelease(gTable);
  return err;
}

MgErr NCClose(Cookie conn) {
  MgErr err = NCInit();
  if (err) return err;
  ThMutexAcquire(gTable);
  NConn* c = Lookup(conn);
  err = c ? CloseLocked(c) : kArgErr;
  ThMutexRelease(gTable);
  Dispatch();
  // Also for a cookie closed already: its last completions may still run.
  if (conn) WaitForCompletions(conn);
  return err;
}

MgErr NCStrToIP2(ConstPStr host, uInt32* address) {
  if (!address) return kArgErr;
  *address = 0;
  MgErr err = NCInit();
  if (err) return err;
  char name[256];
  if (!host || host[0] == 0) {
    if (!PlatHostName(name, sizeof name)) return kBadAddress;
  } else {
    std::memcpy(name, host + 1, host[0]);
    name[host[0]] = 0;
  }
  bool dotted = name[0] != 0;
  for (const char* p = name; *p; ++p)
    if (!((*p >= '0' && *p <= '9') || *p == '.')) dotted = false;
  if (dotted) {
    uInt32 a = PlatInetAddr(name);
    if (a != kPlatInAddrNone) {
      *address = a;
      return kNoErr;
    }
  }
  // The resolver keeps nothing in shared storage: the look-up runs with no
  // mutex held, so a slow name server holds up no other connection.
  uInt32 a = 0;
  if (!PlatHostByName(name, &a)) return kBadAddress;
  *address = a;
  return kNoErr;
}

MgErr NCIPToStr2(uInt32 address, PStr text, int32 noLookUp) {
  if (!text) return kArgErr;
  text[0] = 0;
  MgErr err = NCInit();
  if (err) return err;
  char name[1025];
  if (noLookUp || !PlatHostByAddr(address, name, sizeof name)) PlatInetNtoa(address, name);
  size_t n = std::min<size_t>(std::strlen(name), 255);
  text[0] = uChar(n);
  std::memcpy(text + 1, name, n);
  return kNoErr;
}

MgErr NCConnSocket(Cookie conn, int32* socket) {
  if (!socket) return kArgErr;
  *socket = kPlatNoSocket;
  if (gState.load(std::memory_order_acquire) != 1) return kArgErr;
  ThMutexAcquire(gTable);
  NConn* c = Lookup(conn);
  if (c) *socket = c->socket;
  ThMutexRelease(gTable);
  return c ? kNoErr : kArgErr;
}

Bool32 NCIsAConn(uInt32 refnum) {
  if (gState.load(std::memory_order_acquire) != 1) return 0;
  ThMutexAcquire(gTable);
  Bool32 is = gJar && refnum && MCIsACookie(gJar, refnum) ? 1 : 0;
  ThMutexRelease(gTable);
  return is;
}

MgErr NCSocketEvent(uInt32 socket, uInt32 eventWord) {
  if (gState.load(std::memory_order_acquire) != 1) return kNoErr;
  ThMutexAcquire(gTable);
  auto it = gBySocket->find(int32(socket));
  if (it != gBySocket->end()) {
    NConn* c = it->second;
    int32 err = int32(eventWord >> 16);
    // Only an error is kept: a later clean event must not wipe the error a
    // pending connect has yet to report.
    if (err) {
      c->lastError = err;
      c->events |= kNCEvError;
    }
    uInt32 ev = eventWord & 0xFFFF;
    // Any event may mean bytes, the end of the stream or an error.
    c->events &= ~kNCEvDrained;
    if (ev & kPlatSockRead) c->events |= kNCEvRead;
    if (ev & kPlatSockWrite) c->events |= kNCEvWrite;
    if (ev & kPlatSockAccept) c->events |= kNCEvAccept;
    if (ev & kPlatSockConnect) c->events |= kNCEvConnect;
    if ((ev & kPlatSockClose) && (c->mode & kNCModeRead)) c->events |= kNCEvRead;
    gDirty->insert(c);
  }
  Occurrence poll = gPollOcc;
  ThMutexRelease(gTable);
  if (poll) Occur(poll);
  return kNoErr;
}

MgErr NCShutdown() {
  {
    std::lock_guard<std::mutex> g(gMutexesLock);
    if (!gMutexesMade) return kNoErr;
  }
  ThMutexAcquire(gTable);
  if (gConnRecords) {
    for (NConn* c : *gConnRecords)
      if (c->cookie) CloseLocked(c);
  }
  ThMutexRelease(gTable);
  Dispatch();
  // The operation records go below: no other thread may still walk a chain.
  WaitForCompletions(0);
  ThMutexAcquire(gTable);
  if (gSockUp) PlatSockCleanup();
  gSockUp = false;
  if (gJar) MCDisposeJar(gJar);
  gJar = nullptr;
  ThMutexAcquire(gFreeM);
  if (gOpRecords) {
    for (NCPendingOp* op : *gOpRecords) {
      DeallocOccurHdlr(op->timeoutHdlr);
      DeallocOccur(op->timeoutOcc);
      DSDisposePtr(reinterpret_cast<UPtr>(op));
    }
    delete gOpRecords;
    gOpRecords = nullptr;
  }
  gFreeOps = nullptr;
  ThMutexRelease(gFreeM);
  if (gConnRecords) {
    for (NConn* c : *gConnRecords) {
      DSDisposeHandle(c->buffered);
      DSDisposePtr(reinterpret_cast<UPtr>(c));
    }
  }
  delete gConnRecords;
  delete gBySocket;
  delete gDirty;
  gConnRecords = nullptr;
  gBySocket = nullptr;
  gDirty = nullptr;
  gFreeConns = nullptr;
  if (gPollHdlr) DeallocOccurHdlr(gPollHdlr);
  if (gPollOcc) DeallocOccur(gPollOcc);
  gPollHdlr = 0;
  gPollOcc = 0;
  gInitErr = kNoErr;
  gState.store(0, std::memory_order_release);
  ThMutexRelease(gTable);
  std::lock_guard<std::mutex> g(gMutexesLock);
  ThMutexDestroy(gDoneM);
  ThMutexDestroy(gFreeM);
  ThMutexDestroy(gTable);
  gDoneM = gFreeM = gTable = nullptr;
  gMutexesMade = false;
  return kNoErr;
}

// ---- entries that do no work ----------------------------------------------------

namespace {
// The entries kept for old callers only report the call and refuse it.
MgErr Refused(const char* text) {
  DBPrintf("%s", text);
  return kNotSupported;
}
}  // namespace

MgErr NCCreateListener() { return Refused("Illegal entry into NCCreateListener"); }
MgErr NCAbortListener() { return Refused("Illegal entry in NCAbortListener"); }
MgErr NCConnect(const void*) { return Refused("Illegal entry attempt in NCConnect"); }
MgErr NCConnectTo() { return NCConnect(nullptr); }
MgErr NCRead() { return Refused("Illegal entry attempt in NCRead"); }
MgErr NCWrite() { return Refused("Illegal entry attempt in NCWrite"); }
MgErr NCStrToIP() { return Refused("Illegal entry attempt in NCStrToIP"); }
MgErr NCIPToStr() { return Refused("Illegal entry attempt in NCIPToStr"); }
MgErr NCWriteTo(int32, int32, int32, int32, int32, int32, int32) { return kArgErr; }
QX_EXTERN_C MgErr NCReadFrom(int32, int32, int32, int32, int32, int32, int32) __attribute__((alias("NCWriteTo")));
MgErr NCMTU() { return kArgErr; }

void NCInstallRefnumHook() {
  RefnumKindHooks kinds = RefnumKinds();
  kinds.isNetConnection = &NCIsAConn;
  SetRefnumKindHooks(&kinds);
}

NCRecordCounts NCTestRecordCounts() {
  NCRecordCounts n{};
  if (!gMutexesMade) return n;
  ThMutexAcquire(gTable);
  if (gConnRecords) n.conns = int32(gConnRecords->size());
  for (NConn* c = gFreeConns; c; c = c->link) ++n.freeConns;
  ThMutexAcquire(gFreeM);
  if (gOpRecords) n.ops = int32(gOpRecords->size());
  for (NCPendingOp* op = gFreeOps; op; op = op->link) ++n.freeOps;
  ThMutexRelease(gFreeM);
  ThMutexRelease(gTable);
  return n;
}

void NCSetSockDebug(bool on) { gSockDebug.store(on); }

namespace {
MgErr SocketOfCookie(int32* inOut) {
  int32 socket = -1;
  const MgErr err = NCConnSocket(Cookie(*inOut), &socket);
  *inOut = socket;
  return err;
}
}  // namespace

void NCInstallManagerHooks() {
  WManagerHooks hooks{};
  hooks.deviceValue = &SocketOfCookie;
  WSetManagerHooks(hooks);
}
