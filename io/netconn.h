// TCP connections over non-blocking sockets.  No thread ever waits in a
// socket call: an operation finishes at once, or leaves a pending operation
// on its connection and returns 55; socket events (window message 1024 of the
// frame window) and time-outs drive the pending operations, and each ends by
// calling its completion procedure exactly once, with no mutex held.
//
// Locks: the connection-table mutex first, then the operation free-list
// mutex or the completion-list mutex, never the other way round.  A close
// returns only when no other thread is calling a completion of the
// connection: it must not be called holding a mutex a completion takes
// (netconn.cpp states the order).
#pragma once
#include <cstddef>

#include "mgsource/cookie.h"
#include "mgsource/extcode.h"
#include "mgsource/occur.h"

// An address as callers pass it: the address and port in network order.
struct NCAddress {
  uInt32 reserved;  // always 0
  uInt32 address;   // 0: any
  uInt16 port;
};

// What a completion procedure receives: kind, result, completion data, then
// by kind: accept: the accepted cookie and the peer's address (three words);
// read and write: the requested count, the done count, the buffer.
struct NCCompletionInfo {
  int32 kind;
  MgErr result;
  int32 data;
  int32 words[4];
};

enum : int32 { kNCKindConnect = 1, kNCKindAccept = 2, kNCKindRead = 3, kNCKindWrite = 4 };

// Called once when a pending operation ends; the result is ignored.
typedef MgErr (*NCCompletionProc)(NCCompletionInfo* info, Cookie connection);

struct NConn;
struct NCPendingOp {
  NCPendingOp* link;  // free list, completion list, or a chain being freed
  NConn* conn;        // cleared when posted
  UPtr buffer;
  int32 requested;
  int32 done;
  uInt16 timerFlags;   // bit 0: a time-out value is set
  uInt16 timeoutFlag;  // the connection event bit the time-out sets; 0 none
  NCCompletionProc proc;
  int32 data;
  NCAddress remote;  // connect: the peer; an accept: the new connection's peer
  NCAddress local;   // connect: the local port to bind
  Occurrence timeoutOcc;
  OccurHdlr timeoutHdlr;
  int32 timeout;    // milliseconds; -1 for ever; 0 no wait
  int32 modeKind;   // read mode while pending, completion kind once posted
  UHandle acceptQ;  // a listener's accept operation: handles of NCAcceptRec
  MgErr result;
  Cookie connCookie;
  Cookie acceptedCookie;
  uInt32 deadline;  // MilliSecs when the time-out is due
};

struct NConn {
  NConn* link;  // free list
  uInt16 mode;  // kNCMode* bits; 0 an idle stream
  uInt16 events;
  Cookie cookie;
  int32 socket;       // -1 none
  UHandle buffered;   // bytes received ahead of a request
  NCPendingOp* readOp;   // a listener's accept operation
  NCPendingOp* writeOp;  // the connect operation while connecting
  int32 closing;
  int32 lastError;  // socket error of the last event
};

// A connection accepted but not handed out yet, in a relocatable handle.
struct NCAcceptRec {
  UHandle link;
  Cookie conn;
  NCAddress peer;
};

enum : uInt16 {
  kNCModeConnect = 1,
  kNCModeListener = 2,
  kNCModeRead = 4,
  kNCModeWrite = 8,
};
enum : uInt16 {
  kNCEvRead = 0x0001,
  kNCEvWrite = 0x0002,
  kNCEvAccept = 0x0004,
  kNCEvConnect = 0x0008,
  kNCEvError = 0x0020,
  kNCEvReadTimeout = 0x0100,
  kNCEvWriteTimeout = 0x0200,
  kNCEvAcceptTimeout = 0x0400,
  kNCEvConnectTimeout = 0x0800,
};

static_assert(sizeof(NCAddress) == 12 && offsetof(NCAddress, address) == 4 && offsetof(NCAddress, port) == 8,
              "address");
static_assert(sizeof(NCCompletionInfo) == 28 && offsetof(NCCompletionInfo, result) == 4 &&
                  offsetof(NCCompletionInfo, data) == 8 && offsetof(NCCompletionInfo, words) == 12,
              "completion record: seven words");
static_assert(offsetof(NConn, mode) == 4 && offsetof(NConn, events) == 6 && offsetof(NConn, cookie) == 8 &&
                  offsetof(NConn, socket) == 12 && offsetof(NConn, buffered) == 16 && offsetof(NConn, readOp) == 20 &&
                  offsetof(NConn, writeOp) == 24 && offsetof(NConn, closing) == 28 &&
                  offsetof(NConn, lastError) == 32 && sizeof(NConn) == 36,
              "connection record");
static_assert(offsetof(NCPendingOp, conn) == 4 && offsetof(NCPendingOp, buffer) == 8 &&
                  offsetof(NCPendingOp, requested) == 12 && offsetof(NCPendingOp, done) == 16 &&
                  offsetof(NCPendingOp, timerFlags) == 20 && offsetof(NCPendingOp, timeoutFlag) == 22 &&
                  offsetof(NCPendingOp, proc) == 24 && offsetof(NCPendingOp, data) == 28 &&
                  offsetof(NCPendingOp, remote) == 32 && offsetof(NCPendingOp, local) == 44 &&
                  offsetof(NCPendingOp, timeoutOcc) == 56 && offsetof(NCPendingOp, timeoutHdlr) == 60 &&
                  offsetof(NCPendingOp, timeout) == 64 && offsetof(NCPendingOp, modeKind) == 68 &&
                  offsetof(NCPendingOp, acceptQ) == 72 && offsetof(NCPendingOp, result) == 76 &&
                  offsetof(NCPendingOp, connCookie) == 80 && offsetof(NCPendingOp, acceptedCookie) == 84,
              "pending operation record");
static_assert(offsetof(NCAcceptRec, conn) == 4 && offsetof(NCAcceptRec, peer) == 8, "accept record");

// The message the frame window receives for socket events.
constexpr uInt32 kNCSocketMessage = 1024;

QX_EXTERN_C MgErr NCOpenListener(const NCAddress* local, Cookie* conn);
QX_EXTERN_C MgErr NCWaitOnListener(Cookie listener, int32 timeout, NCCompletionProc proc, int32 data, Cookie* conn,
                                   NCAddress* peer);
QX_EXTERN_C MgErr NCCloseListener(Cookie listener);
QX_EXTERN_C MgErr NCConnectConn(const NCAddress* local, const NCAddress* remote, NCCompletionProc proc, int32 data,
                                int32 timeout, Cookie* conn);
QX_EXTERN_C MgErr NCReadConn(Cookie conn, UPtr buffer, int32* count, int32 timeout, NCCompletionProc proc,
                             int32 data, int32 mode);
QX_EXTERN_C MgErr NCWriteConn(Cookie conn, UPtr buffer, int32* count, int32 timeout, NCCompletionProc proc,
                              int32 data);
QX_EXTERN_C MgErr NCClose(Cookie conn);
QX_EXTERN_C MgErr NCStrToIP2(ConstPStr host, uInt32* address);
QX_EXTERN_C MgErr NCIPToStr2(uInt32 address, PStr text, int32 noLookUp);
QX_EXTERN_C MgErr NCConnSocket(Cookie conn, int32* socket);
// Lets the window manager's GetManagerLong answer selector 5 with
// NCConnSocket of the cookie it is given.
void NCInstallManagerHooks();
QX_EXTERN_C Bool32 NCIsAConn(uInt32 refnum);
QX_EXTERN_C MgErr NCSocketEvent(uInt32 socket, uInt32 eventWord);
QX_EXTERN_C MgErr NCInitMutexes();
QX_EXTERN_C MgErr NCShutdown();

// Entry points for external code that do no work.
QX_EXTERN_C MgErr NCCreateListener();
QX_EXTERN_C MgErr NCAbortListener();
QX_EXTERN_C MgErr NCConnect(const void* first);
QX_EXTERN_C MgErr NCConnectTo();
QX_EXTERN_C MgErr NCRead();
QX_EXTERN_C MgErr NCWrite();
QX_EXTERN_C MgErr NCStrToIP();
QX_EXTERN_C MgErr NCIPToStr();
QX_EXTERN_C MgErr NCWriteTo(int32, int32, int32, int32, int32, int32, int32);
QX_EXTERN_C MgErr NCReadFrom(int32, int32, int32, int32, int32, int32, int32);
QX_EXTERN_C MgErr NCMTU();

// The manager's error of a socket error number.
MgErr SockToMgErr(int32 sockErr);

// FPIsARefnum's kind 5 asks NCIsAConn from here on.
void NCInstallRefnumHook();

// Test hooks: records made (recycled ones included) and on the free lists;
// the debug switch of SockToMgErr.
struct NCRecordCounts {
  int32 conns, freeConns, ops, freeOps;
};
NCRecordCounts NCTestRecordCounts();
void NCSetSockDebug(bool on);
