// The TCP functions of compiled diagrams.  Each cover turns a node's
// arguments into a call of the connection manager; an operation that takes
// time returns 55 and its clump gives up its thread, and the completion
// procedure stores the result in the node's wait record and puts the clump
// back on its run queue.  Every connection a diagram opens or accepts is
// closed with the top-level VI of its run unless the diagram closes it first.
#pragma once
#include <cstddef>

#include "engine/exec/execrec.h"
#include "mgsource/cookie.h"
#include "mgsource/extcode.h"

// The wait record compiled code keeps per TCP node: nine words.
struct TCPWaitRec {
  QueueElement* waiting;  // the clump to re-queue; cleared when the operation ends
  MgErr result;           // of a pending operation
  Cookie connection;      // read, written or opened; a listener wait's accepted one
  void* output;           // read: LStrHandle; write: int32* bytes written; listener wait: Cookie*
  uInt16* portOutput;     // listener wait: the peer's port, host order
  LStrHandle addressOutput;  // listener wait: the peer's address text
  Cookie listener;        // listener wait
  int32* timeout;         // listener wait: milliseconds; null waits for ever
  int32 resolve;          // listener wait: non-zero gives the peer's host name
};
static_assert(sizeof(TCPWaitRec) == 36 && offsetof(TCPWaitRec, result) == 4 &&
                  offsetof(TCPWaitRec, connection) == 8 && offsetof(TCPWaitRec, output) == 12 &&
                  offsetof(TCPWaitRec, portOutput) == 16 && offsetof(TCPWaitRec, addressOutput) == 20 &&
                  offsetof(TCPWaitRec, listener) == 24 && offsetof(TCPWaitRec, timeout) == 28 &&
                  offsetof(TCPWaitRec, resolve) == 32,
              "TCP wait record: nine words");

QX_EXTERN_C MgErr TCPOpenConCover(TCPWaitRec* rec, int32 timeout, const uInt16* localPort, const uInt16* remotePort,
                                  Cookie* connOut, LStrHandle address);
QX_EXTERN_C MgErr TCPCreateListenCover(const uInt16* port, Cookie* connOut);
QX_EXTERN_C MgErr TCPWaitListenCover(TCPWaitRec* rec);
QX_EXTERN_C MgErr TCPReadCover(Cookie conn, int32 count, int32 timeout, TCPWaitRec* rec, int32 mode);
QX_EXTERN_C MgErr TCPWriteCover(Cookie conn, LStrHandle string, int32 timeout, TCPWaitRec* rec, int32 whole);
QX_EXTERN_C MgErr TCPCloseConCover(Cookie conn);
QX_EXTERN_C MgErr TCPFinishWait(TCPWaitRec* rec);

// The largest read count: the string block (count + 4 bytes) must fit an int32.
constexpr int32 kTCPMaxReadCount = 0x7FFFFFFB;
