// The diagram's VISA nodes: each takes a session refnum and the node's
// inputs, calls one entry of the VISA library and returns its status.  Every
// function first loads the library (its status when that fails), looks the
// refnum up (0xBFFF000E when it is no open session) and answers 15 when the
// library lacks the entry it needs.
#pragma once
#include "engine/exec/callchain.h"
#include "io/visamgr.h"

// What a read or write node keeps between its calls.
struct VisaAsyncRec {
  int32 status;    // the transfer's VISA status
  int32 phase;     // set by the caller: 0 or 1 start, 2 poll, 3 abort
  int32 pending;   // set here: 1 while the transfer goes on (call again with 2)
  int32 deadline;  // MilliSecs after which the transfer is ended; -1 none
};
static_assert(sizeof(VisaAsyncRec) == 16 && offsetof(VisaAsyncRec, phase) == 4 &&
                  offsetof(VisaAsyncRec, pending) == 8 && offsetof(VisaAsyncRec, deadline) == 12,
              "asynchronous transfer record");
enum : int32 { kVisaPhaseStart = 1, kVisaPhasePoll = 2, kVisaPhaseAbort = 3 };

enum : int32 {
  kVisaStatTimeout = int32(0xBFFF0015),
  kVisaStatBadMask = int32(0xBFFF003D),
  kVisaStatBadEvent = int32(0xBFFF0026),
};
enum : uInt32 {
  kVisaAttrGPIBBoard = 6900,  // answered here: the session's board, -1 off GPIB
  kVisaIOCompletion = 0x3FFF2009,
  kVisaAllEvents = 0x3FFF7FFF,
};

// Reads count bytes into the string (resized to them, then to the bytes
// read) or writes the string's bytes; started, polled and aborted through
// the record's phase.  The result is the function's own (load, refnum, 2 for
// memory); the transfer's status is the record's.
QX_EXTERN_C int32 VisaRead(Cookie session, LStrHandle str, uInt32 count, uInt32* retCount, VisaAsyncRec* rec);
QX_EXTERN_C int32 VisaWrite(Cookie session, LStrHandle str, uInt32* retCount, VisaAsyncRec* rec);
QX_EXTERN_C int32 VisaSetAttribute(Cookie session, uInt32 attribute, uInt32 value);
// type: the out value's type code; 0x30 value is a pointer to a string
// handle, 0x21 to a byte.
QX_EXTERN_C int32 VisaGetAttribute(Cookie session, uInt32 attribute, void* value, int32 type);
QX_EXTERN_C int32 VisaStatusDesc(Cookie session, const ErrorIOCluster* error, LStrHandle* text);
QX_EXTERN_C int32 VisaEnableEvent(Cookie session, uInt32 type, int32, int32);
QX_EXTERN_C int32 VisaDisableEvent(Cookie session, uInt32 type, int32);
QX_EXTERN_C int32 VisaDiscardEvents(Cookie session, uInt32 type, int32);
// An event becomes a session refnum of the given refnum type.
QX_EXTERN_C int32 VisaWaitOnEvent(Cookie session, uInt32 type, uInt32 timeout, const TypeDescriptor* refnumTD,
                                  uInt32* outType, Cookie* outSession);
QX_EXTERN_C int32 VisaAssertTrigger(Cookie session, uInt16 protocol);
QX_EXTERN_C int32 VisaReadSTB(Cookie session, uInt16* status);
QX_EXTERN_C int32 VisaClear(Cookie session);
QX_EXTERN_C int32 VisaIn8(Cookie session, uInt16 space, uInt32 offset, uInt8* value);
QX_EXTERN_C int32 VisaIn16(Cookie session, uInt16 space, uInt32 offset, uInt16* value);
QX_EXTERN_C int32 VisaIn32(Cookie session, uInt16 space, uInt32 offset, uInt32* value);
QX_EXTERN_C int32 VisaOut8(Cookie session, uInt16 space, uInt32 offset, uInt32 value);
QX_EXTERN_C int32 VisaOut16(Cookie session, uInt16 space, uInt32 offset, uInt32 value);
QX_EXTERN_C int32 VisaOut32(Cookie session, uInt16 space, uInt32 offset, uInt32 value);
// array: a one-dimensional array of U8, U16 or U32, resized to count
// elements before the call and to none when the call fails.
QX_EXTERN_C int32 VisaMIn8(Cookie session, uInt16 space, uInt32 offset, int32 count, ArrayHandle* array);
QX_EXTERN_C int32 VisaMIn16(Cookie session, uInt16 space, uInt32 offset, int32 count, ArrayHandle* array);
QX_EXTERN_C int32 VisaMIn32(Cookie session, uInt16 space, uInt32 offset, int32 count, ArrayHandle* array);
QX_EXTERN_C int32 VisaMOut8(Cookie session, uInt16 space, uInt32 offset, ArrayHandle array);
QX_EXTERN_C int32 VisaMOut16(Cookie session, uInt16 space, uInt32 offset, ArrayHandle array);
QX_EXTERN_C int32 VisaMOut32(Cookie session, uInt16 space, uInt32 offset, ArrayHandle array);
QX_EXTERN_C int32 VisaMapAddress(Cookie session, uInt16 space, uInt32 offset, uInt32 size, uInt16 access,
                                 uInt32 suggested);
QX_EXTERN_C int32 VisaUnmapAddress(Cookie session);
QX_EXTERN_C int32 VisaPeek8(Cookie session, uInt32 offset, uInt8* value);
QX_EXTERN_C int32 VisaPeek16(Cookie session, uInt32 offset, uInt16* value);
QX_EXTERN_C int32 VisaPeek32(Cookie session, uInt32 offset, uInt32* value);
QX_EXTERN_C int32 VisaPoke8(Cookie session, uInt32 offset, uInt32 value);
QX_EXTERN_C int32 VisaPoke16(Cookie session, uInt32 offset, uInt32 value);
QX_EXTERN_C int32 VisaPoke32(Cookie session, uInt32 offset, uInt32 value);
// requestedKey and accessKey are used for a shared lock (type 2) only.
QX_EXTERN_C int32 VisaLock(Cookie session, uInt32 timeout, uInt32 type, LStrHandle requestedKey,
                           LStrHandle* accessKey);
QX_EXTERN_C int32 VisaUnlock(Cookie session);
QX_EXTERN_C int32 VisaMemAlloc(Cookie session, uInt32 size, uInt32* offset);
QX_EXTERN_C int32 VisaMemFree(Cookie session, uInt32 offset);
QX_EXTERN_C int32 VisaSetBuf(Cookie session, uInt16 mask, uInt32 size);
QX_EXTERN_C int32 VisaFlush(Cookie session, uInt16 mask);
QX_EXTERN_C int32 VisaMove(Cookie session, uInt16 srcSpace, uInt32 srcOffset, uInt16 srcWidth, uInt16 dstSpace,
                           uInt32 dstOffset, uInt16 dstWidth, uInt32 length);
