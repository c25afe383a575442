// The byte steps of a network read fed random chunkings of a byte stream,
// with random modes, counts and time-outs.  Invariants: the bytes delivered
// by the reads, followed by the bytes still held, are exactly the bytes taken
// from the socket, in order; no read delivers more than it asked for; the
// modes end as they promise; nothing is written outside the read buffer or
// the held bytes (the sanitizer sees to that: both are exact allocations).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "io/netread.h"

namespace {

// The socket: chunks that arrive one by one, then possibly a close.
struct Wire {
  std::vector<std::string> chunks;
  size_t next = 0;      // the next chunk to arrive
  std::string ready;    // arrived, not received yet
  bool closes = false;
  std::string taken;    // every byte received, in order
  bool Arrive() {
    if (next >= chunks.size()) return false;
    ready += chunks[next++];
    return true;
  }
};

int32 Recv(void* context, uInt8* buffer, int32 max, MgErr* err) {
  Wire& w = *static_cast<Wire*>(context);
  if (w.ready.empty()) {
    if (w.closes && w.next >= w.chunks.size()) return 0;
    *err = 55;
    return -1;
  }
  int32 n = int32(w.ready.size()) < max ? int32(w.ready.size()) : max;
  std::memcpy(buffer, w.ready.data(), size_t(n));
  w.taken.append(w.ready, 0, size_t(n));
  w.ready.erase(0, size_t(n));
  return n;
}

// Held bytes in an exact allocation, so that a write past them is caught.
bool Reserve(NCHeld* held, int32 need) {
  void* p = std::realloc(held->bytes, size_t(need > 0 ? need : 1));
  if (!p) return false;
  held->bytes = static_cast<uInt8*>(p);
  held->capacity = need;
  return true;
}

void Fail(const char* what) {
  std::fprintf(stderr, "netread invariant broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzReader in{data, size};
  Wire w;
  int chunks = in.Byte() % 12;
  w.closes = in.Byte() & 1;
  for (int i = 0; i < chunks; ++i) {
    size_t len = in.Byte() % 24;
    std::string c;
    for (size_t k = 0; k < len; ++k) {
      uint8_t b = in.Byte();
      // Line ends come often enough to matter.
      c.push_back(char(b % 5 == 0 ? 13 : b % 5 == 1 ? 10 : b));
    }
    w.chunks.push_back(c);
  }
  NCHeld held{nullptr, 0, 0, &Reserve, nullptr};
  std::string delivered;
  for (int reads = 0; reads < 16 && in.n; ++reads) {
    int32 mode = in.Byte() % 4;
    int32 count = in.Byte() % 40;
    if (count == 39) count = 3000;  // longer than a block: received in place
    bool zero = in.Byte() % 4 == 0;
    if (in.Byte() & 1) w.Arrive();
    // An exact buffer, one byte at least so that its address is real.
    uInt8* buf = static_cast<uInt8*>(std::malloc(size_t(count > 0 ? count : 1)));
    int32 done = 0;
    MgErr err = NCReadAttempt(mode, buf, count, &done, &held, zero, false, &Recv, &w);
    // A pending read goes on as chunks arrive; without more, its time-out ends it.
    while (err == 55) {
      bool more = w.Arrive();
      err = NCReadAttempt(mode, buf, count, &done, &held, false, !more, &Recv, &w);
    }
    if (done < 0 || done > count) Fail("done outside the request");
    if (err != 0 && err != 56 && err != 66) Fail("unexpected result");
    if (err == 56 && (mode == kNCReadBuffered || mode == kNCReadCRLF) && done != 0) Fail("a timed-out read delivered bytes");
    if (err == 0 && mode == kNCReadCRLF && done < count && (done < 2 || buf[done - 2] != 13 || buf[done - 1] != 10))
      Fail("a line read ended early without CR LF");
    if (err == 0 && mode != kNCReadImmediate && mode != kNCReadCRLF && done != count) Fail("a short read ended with 0");
    if (err == 0 && mode == kNCReadImmediate && done == 0 && count > 0) Fail("an immediate read ended empty");
    delivered.append(reinterpret_cast<char*>(buf), size_t(done));
    std::free(buf);
    if (held.count < 0 || held.count > held.capacity) Fail("held count");
    std::string all = delivered + std::string(reinterpret_cast<char*>(held.bytes), size_t(held.count));
    if (all != w.taken) Fail("delivered and held bytes differ from the bytes received");
  }
  std::free(held.bytes);
  return 0;
}
