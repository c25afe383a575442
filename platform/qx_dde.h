// Conversations between programs of this user: a server instance registers
// a service name and answers the transactions its clients send; a client
// connects to a service and topic and sends execute strings.
//
// A registered service listens on the Unix-domain socket "<service>.dde" in
// the runtime folder (qx_instance.h).  A listener thread accepts clients,
// refuses peers of another user, reads their frames and hands each
// transaction to the instance's callback on the thread that initialised the
// instance (through a hidden window of that thread), so callbacks run where
// the instance's owner runs its message loop.
//
// Frames on the socket: a kind byte, a big-endian 32-bit length, then that
// many bytes (at most 64 KiB).  A connect frame holds the service and the
// topic, each NUL-terminated; an execute frame holds the command bytes.
// Every frame is answered with a big-endian 32-bit result.  A frame that
// breaks these rules closes its connection, and only it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/qx_window.h"

typedef uint32_t PlatDdeInst;  // an instance id, 0 none
typedef uint32_t PlatDdeStr;   // a string handle, 0 none
typedef uint32_t PlatDdeConv;  // a conversation, 0 none
typedef uint32_t PlatDdeData;  // a data handle, 0 none

// Transaction types, in the order of their names (PlatDdeTypeName).
enum : uint32_t {
  kPlatXtypError = 0,
  kPlatXtypAdvData = 1,
  kPlatXtypAdvReq = 2,
  kPlatXtypAdvStart = 3,
  kPlatXtypAdvStop = 4,
  kPlatXtypExecute = 5,
  kPlatXtypConnect = 6,
  kPlatXtypConnectConfirm = 7,
  kPlatXtypXactComplete = 8,
  kPlatXtypPoke = 9,
  kPlatXtypRegister = 10,
  kPlatXtypRequest = 11,
  kPlatXtypDisconnect = 12,
  kPlatXtypUnregister = 13,
  kPlatXtypWildConnect = 14,
  kPlatXtypMonitor = 15,
  kPlatXtypCount = 16,
};
// The type's constant name ("XTYP_EXECUTE"), null beyond the table.
const char* PlatDdeTypeName(uint32_t type);

// Instance flags.
enum : uint32_t {
  kPlatDdeClientOnly = 0x1,          // may not register services
  kPlatDdeFailExecutes = 0x2,        // executes are answered 0 without a callback
  kPlatDdeFailAdvises = 0x4,         // advise transactions never reach the callback
  kPlatDdeSkipRegistrations = 0x8,   // no register notifications
  kPlatDdeSkipUnregistrations = 0x10,
};
// The acknowledgement an execute answers when it was processed.
constexpr uint32_t kPlatDdeFack = 0x8000;
// Name-service commands.
enum : uint32_t { kPlatDdeNsRegister = 1, kPlatDdeNsUnregister = 2 };
// Results of PlatDdeInitialize.
enum : uint32_t { kPlatDdeOk = 0, kPlatDdeErrInvalidParameter = 1, kPlatDdeErrSys = 2 };

// The largest frame body.
constexpr uint32_t kPlatDdeMaxFrame = 64 * 1024;

typedef uint32_t (*PlatDdeCallback)(uint32_t type, uint32_t format, PlatDdeConv conv, PlatDdeStr string1,
                                    PlatDdeStr string2, PlatDdeData data, uint32_t data1, uint32_t data2);

// Makes an instance whose callback runs on the calling thread; kPlatDdeOk
// and the id in *inst.
uint32_t PlatDdeInitialize(PlatDdeInst* inst, PlatDdeCallback callback, uint32_t flags);
// Unregisters its services, ends its conversations; false for no instance.
bool PlatDdeUninitialize(PlatDdeInst inst);

// String handles: equal texts (case aside) share one handle, counted.
PlatDdeStr PlatDdeCreateString(PlatDdeInst inst, const char* text);
bool PlatDdeFreeString(PlatDdeInst inst, PlatDdeStr str);
// Copies at most size - 1 bytes and a NUL; returns the text's length, -1
// for no such handle.
int32_t PlatDdeQueryString(PlatDdeInst inst, PlatDdeStr str, char* out, int32_t size);

// Registers or unregisters (the socket is unlinked) a service of a server
// instance; false when it cannot.
bool PlatDdeNameService(PlatDdeInst inst, PlatDdeStr service, uint32_t command);

// Connects to a registered service on a topic: the server's callback gets
// kPlatXtypConnect and a non-zero answer accepts.  Waits at most 5,000 ms.
PlatDdeConv PlatDdeConnect(PlatDdeInst inst, PlatDdeStr service, PlatDdeStr topic);
// Sends a transaction (only kPlatXtypExecute) and waits for its answer at
// most timeoutMs; non-zero when answered, the answer in *result.  A
// conversation whose answer did not come in time is ended.
uint32_t PlatDdeClientTransaction(const void* data, uint32_t size, PlatDdeConv conv, PlatDdeStr item,
                                  uint32_t format, uint32_t type, uint32_t timeoutMs, uint32_t* result);
bool PlatDdeDisconnect(PlatDdeConv conv);

// Data handles: the bytes of a transaction, valid during its callback.
PlatDdeData PlatDdeCreateDataHandle(PlatDdeInst inst, const void* bytes, uint32_t size);
bool PlatDdeFreeDataHandle(PlatDdeData data);
// Copies at most max bytes from offset into out and returns how many; with
// a null out, the data's size.  0 for no such handle.
uint32_t PlatDdeGetData(PlatDdeData data, void* out, uint32_t max, uint32_t offset);

// Reads one frame from the front of bytes: >0 the frame's whole size (kind
// and body placed), 0 when more bytes are needed, -1 for a length above
// kPlatDdeMaxFrame or an unknown kind.
enum : uint8_t { kPlatDdeFrameConnect = 1, kPlatDdeFrameExecute = 2 };
int32_t PlatDdeParseFrame(const uint8_t* bytes, size_t size, uint8_t* kind, const uint8_t** body,
                          uint32_t* bodySize);

// Whether a window is the hidden window of an instance.
bool PlatDdeIsInstanceWindow(PlatWindow w);
// Test hook: maps the uid a peer presents to the one that is judged.
typedef uint32_t (*PlatDdePeerUidHook)(uint32_t uid);
void PlatDdeSetPeerUidHook(PlatDdePeerUidHook hook);
