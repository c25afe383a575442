// IPv4 stream sockets over the host's BSD sockets, non-blocking, with their
// readiness reported as window messages.
//
// Every failure is reported as a socket error number of the table below
// (never an errno).  One notifier thread watches every socket registered
// with PlatSockNotify through epoll and posts the socket's message to its
// window: wParam the socket, lParam the event in the low 16 bits and the
// socket error in the high 16 bits.  Each event is reported once and armed
// again by the next receive, send or accept on that socket (also one that
// would block); connect is reported once when the attempt ends, with its
// error; close once.
#pragma once
#include <cstdint>

#include "platform/qx_window.h"

typedef int32_t PlatSocket;
constexpr PlatSocket kPlatNoSocket = -1;

// Socket error numbers.
enum : int32_t {
  kPlatSockEINTR = 10004,
  kPlatSockEBADF = 10009,
  kPlatSockEACCES = 10013,
  kPlatSockEFAULT = 10014,
  kPlatSockEINVAL = 10022,
  kPlatSockEMFILE = 10024,
  kPlatSockEWOULDBLOCK = 10035,
  kPlatSockEINPROGRESS = 10036,
  kPlatSockEALREADY = 10037,
  kPlatSockENOTSOCK = 10038,
  kPlatSockEDESTADDRREQ = 10039,
  kPlatSockEMSGSIZE = 10040,
  kPlatSockEPROTOTYPE = 10041,
  kPlatSockENOPROTOOPT = 10042,
  kPlatSockEPROTONOSUPPORT = 10043,
  kPlatSockESOCKTNOSUPPORT = 10044,
  kPlatSockEOPNOTSUPP = 10045,
  kPlatSockEPFNOSUPPORT = 10046,
  kPlatSockEAFNOSUPPORT = 10047,
  kPlatSockEADDRINUSE = 10048,
  kPlatSockEADDRNOTAVAIL = 10049,
  kPlatSockENETDOWN = 10050,
  kPlatSockENETUNREACH = 10051,
  kPlatSockENETRESET = 10052,
  kPlatSockECONNABORTED = 10053,
  kPlatSockECONNRESET = 10054,
  kPlatSockENOBUFS = 10055,
  kPlatSockEISCONN = 10056,
  kPlatSockENOTCONN = 10057,
  kPlatSockESHUTDOWN = 10058,
  kPlatSockETOOMANYREFS = 10059,
  kPlatSockETIMEDOUT = 10060,
  kPlatSockECONNREFUSED = 10061,
  kPlatSockELOOP = 10062,
  kPlatSockENAMETOOLONG = 10063,
  kPlatSockEHOSTDOWN = 10064,
  kPlatSockEHOSTUNREACH = 10065,
  kPlatSockVERNOTSUPPORTED = 10092,
  // A host error with no number of its own: this base plus the errno.
  kPlatSockOtherBase = 20000,
};

// Notification events (PlatSockNotify's mask and the event word's low bits).
enum : uint32_t {
  kPlatSockRead = 1,
  kPlatSockWrite = 2,
  kPlatSockAccept = 8,
  kPlatSockConnect = 16,
  kPlatSockClose = 32,
};

// The socket error number of a host errno (0 gives 0).
int32_t PlatSockErrorFromErrno(int e);
// A short description of a socket error number; never null.
const char* PlatSockErrorText(int32_t err);

struct PlatSockInfo {
  uint16_t version;      // the version granted
  uint16_t highVersion;  // the highest version this layer offers
  char description[257];
  char status[129];
  uint16_t maxSockets;
  uint16_t maxUdp;
};
// Starts the layer for a version (low byte major, high byte minor): 0, or
// kPlatSockVERNOTSUPPORTED below 1.1.  Start-ups nest; each is ended by one
// PlatSockCleanup, and the last one stops the notifier thread.
int32_t PlatSockStartup(uint16_t version, PlatSockInfo* info);
void PlatSockCleanup();

// An IPv4 stream socket, or kPlatNoSocket with *err set.
PlatSocket PlatSockCreate(int32_t* err);
// Addresses and ports are in network byte order.  Each returns 0 or an error.
int32_t PlatSockBind(PlatSocket s, uint32_t address, uint16_t port);
// The backlog is a hint: the host's queue is at least its usual maximum.
int32_t PlatSockListen(PlatSocket s, int32_t backlog);
int32_t PlatSockConnect(PlatSocket s, uint32_t address, uint16_t port);
int32_t PlatSockSetNonBlocking(PlatSocket s, bool on);
int32_t PlatSockLocalPort(PlatSocket s, uint16_t* port);
// The new socket (blocking, not notified) with the peer's address and port,
// or kPlatNoSocket with *err set.  Re-arms the accept event.
PlatSocket PlatSockAccept(PlatSocket s, uint32_t* address, uint16_t* port, int32_t* err);
// Bytes received (0: the peer has closed) or sent, or -1 with *err set.
// Each re-arms its event; send never raises a broken-pipe signal.
int32_t PlatSockRecv(PlatSocket s, void* buffer, int32_t count, int32_t* err);
int32_t PlatSockSend(PlatSocket s, const void* buffer, int32_t count, int32_t* err);
// Ends notification and closes the descriptor.
int32_t PlatSockClose(PlatSocket s);

// Posts message to window for the events of mask (0: none any more).  A
// window of 0 is refused with kPlatSockEINVAL.
int32_t PlatSockNotify(PlatSocket s, PlatWindow window, uint32_t message, uint32_t mask);

// Test hooks: the next event reported for the socket carries err; the
// number of notifier threads running (0 or 1).
void PlatSockTestInjectError(PlatSocket s, int32_t err);
int32_t PlatSockTestNotifierThreads();
