#include "io/netread.h"

#include <cstring>

namespace {

constexpr uInt8 kCR = 13, kLF = 10;

// Bytes received at once for a request shorter than this.
constexpr int32 kReadAhead = 2048;

// Drops the first n held bytes.
void Consume(NCHeld* held, int32 n) {
  if (n <= 0) return;
  held->count -= n;
  if (held->count > 0) std::memmove(held->bytes, held->bytes + n, size_t(held->count));
}

// Puts bytes back in front of the held ones; false when there is no room.
bool PutBack(NCHeld* held, const uInt8* bytes, int32 n) {
  if (n <= 0) return true;
  if (held->count + n > held->capacity && !(held->reserve && held->reserve(held, held->count + n))) return false;
  if (held->count > 0) std::memmove(held->bytes + n, held->bytes, size_t(held->count));
  std::memcpy(held->bytes, bytes, size_t(n));
  held->count += n;
  return true;
}

// Hands held bytes to the request; true when that ends it.
bool TakeHeld(int32 mode, uInt8* buffer, int32 requested, int32* done, NCHeld* held) {
  int32 d = *done;
  int32 taken = 0;
  bool line = false;
  if (mode == kNCReadCRLF) {
    while (d < requested && taken < held->count) {
      uInt8 c = held->bytes[taken];
      if (c == kCR && taken + 1 < held->count && d + 1 < requested && held->bytes[taken + 1] == kLF) {
        buffer[d++] = kCR;
        buffer[d++] = kLF;
        taken += 2;
        line = true;
        break;
      }
      buffer[d++] = c;
      ++taken;
    }
  } else {
    taken = held->count < requested - d ? held->count : requested - d;
    if (taken > 0) std::memcpy(buffer + d, held->bytes, size_t(taken));
    d += taken;
  }
  Consume(held, taken);
  *done = d;
  return line || d >= requested;
}

// Whether a CR LF pair lies in buffer[from, to).
bool HasCRLF(const uInt8* buffer, int32 from, int32 to) {
  for (int32 i = from; i + 1 < to; ++i)
    if (buffer[i] == kCR && buffer[i + 1] == kLF) return true;
  return false;
}

}  // namespace

MgErr NCReadAttempt(int32 mode, uInt8* buffer, int32 requested, int32* done, NCHeld* held, bool zeroTimeout,
                    bool timedOut, NCRecvProc recv, void* context) {
  if (requested < 0 || *done < 0 || *done > requested) return kArgErr;
  if (TakeHeld(mode, buffer, requested, done, held)) return kNoErr;
  MgErr result = kNoErr;
  while (*done < requested) {
    MgErr err = kNoErr;
    const int32 before = *done;
    const int32 want = requested - before;
    // TakeHeld left nothing held.  A short request receives a block ahead,
    // so that what follows it (a message's data after its header, the next
    // message) comes with the same call and waits as held bytes.
    const bool ahead = want < kReadAhead && held->reserve;
    uInt8 block[kReadAhead];
    const int32 asked = ahead ? kReadAhead : want;
    int32 n = recv(context, ahead ? block : buffer + before, asked, &err);
    if (n > 0) {
      if (n > asked) n = asked;
      const int32 mine = n < want ? n : want;
      if (ahead) std::memcpy(buffer + before, block, size_t(mine));
      *done += mine;
      if (ahead && n > mine && !PutBack(held, block + mine, n - mine)) return kMemFullErr;
      // A line that has come ends the request whatever follows it: the
      // bytes after it would only be held for the next read.
      if (mode == kNCReadCRLF && HasCRLF(buffer, before > 0 ? before - 1 : 0, *done)) break;
      // Fewer bytes than asked for: the socket ran dry, and what comes next
      // is reported as an event.  Asking again would only be refused.
      if (n < asked && *done < requested) {
        result = 55;
        break;
      }
    } else if (n == 0) {
      result = 66;
      break;
    } else {
      result = err ? err : 42;
      break;
    }
  }
  bool expired = zeroTimeout || timedOut;
  if (result == 55 && expired) result = 56;
  int32 d = *done;
  if (d > 0) {
    if (mode == kNCReadBuffered) {
      if (d < requested && result == 56 && expired) {
        if (!PutBack(held, buffer, d)) return kMemFullErr;
        *done = 0;
      }
    } else if (mode == kNCReadCRLF) {
      int32 end = -1;
      for (int32 i = 0; i + 1 < d; ++i) {
        if (buffer[i] == kCR && buffer[i + 1] == kLF) {
          end = i + 2;
          break;
        }
      }
      if (end > 0) {
        if (!PutBack(held, buffer + end, d - end)) return kMemFullErr;
        *done = end;
        result = kNoErr;
      } else if (result == 56 && expired) {
        if (!PutBack(held, buffer, d)) return kMemFullErr;
        *done = 0;
      }
    }
  }
  // Immediate mode ends with whatever came, also when the wait has ended.
  if (mode == kNCReadImmediate && (result == 55 || (result == 56 && expired)) && (*done > 0 || requested == 0))
    result = kNoErr;
  return result;
}
