// The byte steps of one network read attempt, apart from the socket: bytes
// received ahead of a request are handed out first, receiving fills the rest,
// and the read mode decides what is delivered and what stays buffered.
#pragma once
#include "mgsource/extcode.h"

// Read modes.
enum : int32 {
  kNCReadStandard = 0,   // the requested count, or what came before a time-out
  kNCReadBuffered = 1,   // the requested count or nothing
  kNCReadCRLF = 2,       // a line ending in CR LF, or the requested count
  kNCReadImmediate = 3,  // whatever is there, at least one byte
};

// Bytes received ahead of a request: count of them at bytes, with room for
// capacity; reserve makes room for at least need bytes (false: no memory).
struct NCHeld {
  uInt8* bytes;
  int32 count;
  int32 capacity;
  bool (*reserve)(NCHeld* held, int32 need);
  void* owner;
};

// Receives at most max bytes into buffer: the count (above 0), 0 when the
// peer has closed, or -1 with *err set to the error of the failure.
typedef int32 (*NCRecvProc)(void* context, uInt8* buffer, int32 max, MgErr* err);

// One attempt of a read of requested bytes into buffer, done bytes of which
// are there already: takes buffered bytes, receives until the request is
// filled, the peer closes or receiving fails, would block or comes back short
// (55: the socket ran dry), and settles the result by the mode.  A request
// shorter than a block receives a block at once; what is beyond the request
// is held (held bytes must be able to grow for that: reserve set).
// zeroTimeout: the read may not wait (55 becomes 56); timedOut: its time-out
// has passed (55 becomes 56 too).  Returns 0, 55
// (not finished: *done bytes are in the buffer) or an error, with *done the
// bytes delivered; 2 when bytes going back to the held ones found no room
// (they stay delivered).  Never touches a byte outside buffer[0, requested)
// or held->bytes[0, capacity).
MgErr NCReadAttempt(int32 mode, uInt8* buffer, int32 requested, int32* done, NCHeld* held, bool zeroTimeout,
                    bool timedOut, NCRecvProc recv, void* context);
