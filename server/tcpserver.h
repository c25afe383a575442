// The VI server over TCP: one listener, one connection record per peer, the
// read and send cycle of the message format, and the close, shared by the
// server side (tcpserver.cpp) and the client side (tcpclient.cpp); the log
// (srvlog.cpp).
//
// Every network operation goes through the connection manager with no time
// limit (-1): a connection ends only by a Bye, a protocol error, a network
// error or a local close.  Completions arrive in the connection manager's
// dispatch; property and call requests are served there, the rest is posted
// to the user-interface thread as user event 24.
//
// Locking: the connection mutex (recursive) guards the connection jar, every
// connection record, the remote application records and their operation
// lists.  It is taken before "gVIRefMutex" and before the connection
// manager's mutexes, never after them.  A network connection is closed (which
// waits for its completions on other threads) only once the calling thread
// has left the connection mutex: closes asked for inside it wait for that.
#pragma once
#include "io/netconn.h"
#include "mgsource/cookie.h"
#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "server/appserve.h"
#include "server/protocol.h"

// ---- Connection records -------------------------------------------------------------------
// States: connecting, idle, closing, new, read pending, write pending, read
// and write pending.  A read starts only from idle or write pending, a write
// only from idle or read pending.
enum : int32 {
  kTSConnecting = 0,
  kTSIdle = 1,
  kTSClosing = 2,
  kTSNew = 3,
  kTSReadPending = 4,
  kTSWritePending = 5,
  kTSReadWritePending = 6,
};
// Connection flags: the server's side of the connection; the Hello
// exchanged.
enum : uInt32 { kTSConnServer = 0x1, kTSConnHello = 0x2 };
// A send element's parts: the header still to send, the data still to send,
// the element owns its data, the last element of what was queued together
// (its completion runs when it is done).  Data kinds: a plain block, a
// relocatable handle.
enum : uInt32 { kTSSendHeader = 0x01, kTSSendData = 0x04, kTSSendOwnsData = 0x08, kTSSendLast = 0x10 };
enum : int32 { kTSDataBlock = 0, kTSDataHandle = 1 };

struct ConnInfo;
typedef void (*TSSendDone)(ConnInfo* conn);
typedef void (*TSContinuation)(ConnInfo* conn);

struct SendQueueElem {
  SendQueueElem* next;
  uInt32 parts;        // kTSSend*
  int32 dataKind;      // kTSDataBlock or kTSDataHandle
  int32 dataLength;
  void* data;          // a block, or a handle
  TSSendDone done;     // called with the connection when the element is done
  int32 header[4];     // error, type, unique id, data length
};

// One connection, server or client side (allocated cleared).
struct ConnInfo {
  Cookie id;               // its cookie in the connection jar
  AppRecord* app;          // client side: the remote application record
  Cookie nc;               // the network connection
  uInt32 address;          // the peer's IPv4 address, network order
  uChar name[256];         // the peer's name
  uInt16 port;             // client side: the peer's port, host order
  uInt32 flags;            // kTSConn*
  int32 state;             // kTS*
  SrvMsgHeader header;     // the message being read
  UHandle data;            // its data
  TSContinuation next;     // what runs when the pending read completes
  SendQueueElem* sendQueue;
  UHandle pairs;           // client side: {local VIRef, server VIRef} pairs
  UHandle serverRefs;      // server side: the references this client opened
  // The read and send cycle's own bookkeeping.
  uChar raw[kSrvMsgHeaderSize];  // the header's bytes as read
  UPtr readAt;             // where the pending read goes
  int32 readCount;
  int32 skipLeft;          // bytes of a skipped message still to read
  int32 readErr;           // a read finished at once, seen by the cycle
  int32 readDone;
  Bool32 readReady;
  Bool32 inReadCycle;
  int32 writeErr;
  Bool32 writeReady;
  Bool32 inWriteCycle;
  UPtr writeBuf;           // header and data of the element being sent
  int32 writeBufSize;
};

// The data length above which a message is refused: the connection closes
// and nothing is allocated for it.
constexpr int32 kTSMaxDataLength = 64 * 1024 * 1024;
// Skipped data is read in pieces of at most this many bytes.
constexpr int32 kTSSkipChunk = 512;

// ---- Start, listening, status -------------------------------------------------------------
// Reads the log keys ("tcpServer.logDetails", "tcpServer.log",
// "tcpServer.logPath", the last "servrlog.txt" in the default folder when
// absent), sets the log path and, when asked, starts logging ("Initializing
// TCP Server"); makes the connection mutex and jar (2 when they cannot be
// made); starts the listener when "server.tcp.enabled" is set ("TCP VI
// Server: can't start listener; err=%ld" and its error when it fails).
QX_EXTERN_C MgErr TCPServerInit();
// On: opens the listener on the configured port, accepts what is waiting and
// leaves a wait; the host access list is parsed again.  Off: closes the
// listener and every server connection with a Bye.  The error (0 when the
// listener already is as asked).
QX_EXTERN_C MgErr SetServerListening(Bool32 on);
// Whether the server listens; with a text, the status line of list 30060:
// active on the port, inactive after a failed listen, inactive.
QX_EXTERN_C Bool32 SrvStatusText(PStr text);
// Closes every server connection in an orderly way (a Bye first).
QX_EXTERN_C void TCPServerShutDown();
// Stops listening, shuts the connections down and turns logging off
// ("Shutting down server").  Called when every reference is released.
QX_EXTERN_C void TCPServerExit();
// The connection of an id, or null ("ResolveConnID: could not resolve
// 0x%08lx").
ConnInfo* ResolveConnID(Cookie id);
// Open connections (0 before the jar exists).
QX_EXTERN_C int32 TCPServerConnCount();
// The port the listener uses (host order; 0 when none) and the error of the
// last listen.
uInt16 TSListenerPort();
MgErr TSLastListenError();
// The end of shut-down: every connection left is closed, the remote
// records freed, the jar, the mutex and the log let go.
void TCPServerDispose();

// ---- The log ---------------------------------------------------------------------------------
enum : int32 { kTSSideClient = 0, kTSSideServer = 1, kTSSideClientSend = 2, kTSSideServerSend = 3 };
QX_EXTERN_C MgErr SetServerLogging(Bool32 on, ConstPStr title);
QX_EXTERN_C MgErr SetServerLogPath(Path path, ConstPStr title);
// Copies the log path into path (an existing path) and the state into on;
// either may be null.
QX_EXTERN_C MgErr GetServerLogging(Path path, Bool32* on);
// Detailed logging (client and server lines, connection dumps).
void SetServerLogDetails(Bool32 on);
Bool32 GetServerLogDetails();
// One log line: written when logging is on and the side is the server's, or
// when detailed logging is on; to the debug output and the log file.
QX_EXTERN_C void TSLog(int32 side, const char* title, const char* format, ...);
// Whether a line of that side would be written.
bool TSLogWanted(int32 side);
// A message's header line, under "Receiving message (no data)", "Receiving
// message (with data)" or "Sending message".
void TSLogMessage(int32 side, const char* title, const SrvMsgHeader& header, const ConnInfo* conn);
// The log file is closed and the path forgotten (shut-down).
void TSLogDispose();

// ---- The cycle -------------------------------------------------------------------------------
// The connection manager's completions.
MgErr TSListenCallback(NCCompletionInfo* info, Cookie listener);
MgErr TSReadCallback(NCCompletionInfo* info, Cookie nc);
MgErr TSWriteCallback(NCCompletionInfo* info, Cookie nc);
// A new connection of the listener: checked against the host access list,
// then its first header read starts.
void TSNewServerConn(const NCAddress* peer, Cookie nc);
// A cleared record in the jar with the name, in state 3; null when the jar
// is full or memory is short ("AllocateConnection: can't get table space").
ConnInfo* AllocateConnection(ConstPStr name);
void TSStartHeaderRead(ConnInfo* conn);
void TSHandleHeaderRead(ConnInfo* conn);
void TSStartDataRead(ConnInfo* conn);
void TSHandleDataRead(ConnInfo* conn);
// Appends a message to the send queue and starts it when no write is
// pending: 0 (the data then the connection's), or 66 for a connection that
// is new, connecting or closing, 2 when memory is short.
MgErr TSQueueMessage(ConnInfo* conn, SrvMessage* message, TSSendDone done);
// The SrvSender of a connection (its id; resolved at each send).
SrvSender TSSender(ConnInfo* conn);
// Closes: error 0 sends a Bye first and closes when it has gone; anything
// else closes now.  Nothing more on a connection already closing or not yet
// started.
void TSCloseConnection(ConnInfo* conn, MgErr error);
void TSDeleteConnection(ConnInfo* conn);

// ---- Server requests -------------------------------------------------------------------------
// User event 24: kind 0 re-arms the listener; 1 opens a reference, 2 resets
// a call, 3 runs an application method, 4 a VI method, for the connection.
// The data handle is freed afterwards.
enum : int32 { kTSEvListen = 0, kTSEvGetVIRef = 1, kTSEvResetDown = 2, kTSEvAppMethod = 3, kTSEvVIMethod = 4 };
QX_EXTERN_C void TSHandlePostedEvent(int32 kind, Cookie connId, UHandle data, int32 length, uInt32 uniqueId);
void SrvrRcvGetVIRefRequest(ConnInfo* conn, UHandle data, int32 length, uInt32 uniqueId);
void SrvrRcvResetDownRequest(ConnInfo* conn, VIRef ref);
// The end of a call the server runs: its outputs (2), an error stop (3) or a
// reset (4) go back.
void TSCallCallback(AsyncRef call);

// ---- The client ------------------------------------------------------------------------------
// An empty name is the local application (0xFFFFFFFF, at once).  Otherwise
// the remote record of the machine and port: 0 when its connection is ready;
// 55 with the operation in async when the connection is still being made
// (then completion is called, its AsyncRef's param[0] the new refnum); 1
// when it would be pending without a completion or out-AsyncRef; or the
// error (54 for a name that does not resolve).
MgErr OpenAppRefByName(ConstPStr machine, uInt16 port, AppRef* appRef, PStr text, AsyncCompletion completion,
                       AsyncRef* async);
MgErr NewAppRefObjByTCP(ConstPStr machine, uInt16 port, AppRecord** record, AppRef* appRef,
                        AsyncCompletion completion, AsyncRef* async);
MgErr TSEstablishConnection(ConnInfo* conn);
MgErr TSConnectCallback(NCCompletionInfo* info, Cookie nc);
// Whether a record is a remote application record.
bool TSIsRemoteApp(const AppRecord* app);
// The remote entries of the method table.
MgErr TSApp_GetRefByName(AppRef app, ConstPStr name, const TypeDescriptor* connType, int32 options,
                         ConstPStr password, VIRef* out, PStr text, AsyncCompletion completion, AsyncRef* async);
MgErr TSApp_GetRefByPath(AppRef app, Path path, const TypeDescriptor* connType, int32 options, ConstPStr password,
                         VIRef* out, PStr text, AsyncCompletion completion, AsyncRef* async);
MgErr TSApp_Release(VIRefRecord* ref);
MgErr TSApp_KillAsyncRef(AppRecord* app, AsyncRef async);
MgErr TSApp_ReleaseAppRef(AppRecord* app, AppRef appRef);
// Sends the call of the local reference's proxy VI: the inputs from the
// callee data space's parameter table.  0, 66 without a connection, or the
// error of making or sending the request.
QX_EXTERN_C MgErr TSSendCall(VIRef localRef, DataSpace calleeDS);
// Ends a remote call: the error (and its text) into the call's error
// cluster, the callee's element back on its run queue.
QX_EXTERN_C void FinishPxCallee(VIRef localRef, MgErr error, ConstPStr text, Bool32 unlink);
// Completes every pending operation of the record with the error.
void FailAsyncRefs(AppRecord* app, MgErr error);
// The client's handling of replies, of error messages, and of its side of a
// close.
void CliRcvAppAttrVectReply(ConnInfo* conn);
void CliRcvVIAttrVectReply(ConnInfo* conn);
void CliRcvAppDoMethReply(ConnInfo* conn);
void CliRcvVIDoMethReply(ConnInfo* conn);
void CliRcvGetVIRefReply(ConnInfo* conn);
void CliRcvCallVIReply(ConnInfo* conn);
void TSHandleDataReadWithError(ConnInfo* conn);
void TSClientHello(ConnInfo* conn);
void TSClientResetDownReply(ConnInfo* conn);
void TSClientClose(ConnInfo* conn, MgErr error);
// The connection a remote record uses (null when it has none).
ConnInfo* TSAppConnection(const AppRecord* app);
// Frees every remote record (shut-down).
void TSDisposeRemoteApps();

// ---- The network layer, replaceable for tests --------------------------------------------------
struct TSNetLayer {
  MgErr (*openListener)(const NCAddress* local, Cookie* conn);
  MgErr (*waitOnListener)(Cookie listener, int32 timeout, NCCompletionProc proc, int32 data, Cookie* conn,
                          NCAddress* peer);
  MgErr (*connect)(const NCAddress* local, const NCAddress* remote, NCCompletionProc proc, int32 data,
                   int32 timeout, Cookie* conn);
  MgErr (*read)(Cookie conn, UPtr buffer, int32* count, int32 timeout, NCCompletionProc proc, int32 data,
                int32 mode);
  MgErr (*write)(Cookie conn, UPtr buffer, int32* count, int32 timeout, NCCompletionProc proc, int32 data);
  MgErr (*close)(Cookie conn);
  MgErr (*strToIP)(ConstPStr host, uInt32* address);
  MgErr (*ipToStr)(uInt32 address, PStr text, int32 noLookUp);
};
// Null: the connection manager's own.
void TSSetNetLayer(const TSNetLayer* layer);
const TSNetLayer& TSNet();

// ---- Internals shared by the two sides ---------------------------------------------------------
// Holds the connection mutex for a scope; at the outermost release the
// network connections whose close was asked for are closed and their
// records deleted, and the deferred procedures run.
class TSConnLock {
 public:
  TSConnLock();
  ~TSConnLock();
  TSConnLock(const TSConnLock&) = delete;
  TSConnLock& operator=(const TSConnLock&) = delete;
};
// Runs the procedure once the calling thread has left the connection mutex
// (a completion of a caller, who may hold locks of its own).
void TSDefer(void (*proc)(void* arg), void* arg);
// Makes the connection mutex and jar when they do not exist: 0 or 2.
MgErr TSMakeConnTable();
// Sends a message with no data.
MgErr TSSendPlain(ConnInfo* conn, int32 type, uInt32 uniqueId, MgErr error);
// Sends an error reply with the text (a C string; null: none).
MgErr TSSendErrorReply(ConnInfo* conn, int32 type, uInt32 uniqueId, MgErr error, const char* text);
// The counted-string form of a C string.
void TSPStr(const char* text, Str255 out);
// Posts user event 24.
MgErr TSPostEvent(int32 kind, Cookie connId, UHandle data, int32 length, uInt32 uniqueId);
