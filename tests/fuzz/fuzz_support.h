// The shared start of the fuzz targets: the memory manager running, alerts
// answered with their default button (or by the given procedure), debug output
// dropped, and failure reports that let the run go on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mgsource/debug.h"
#include "mgsource/extcode.h"
#include "mgsource/memory.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"
#include "tests/live_handles.h"

// Reads a fuzz input front to back; past its end every byte reads as zero.
struct FuzzReader {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() { return n ? (--n, *p++) : 0; }
  // Four bytes, the first the most significant.
  uint32_t Word() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return v;
  }
  void Bytes(void* out, size_t k) {
    for (size_t i = 0; i < k; ++i) static_cast<uint8_t*>(out)[i] = Byte();
  }
};

inline int32_t FuzzQuietAlert(const char*, const char*, int32_t buttons, int32_t) {
  return PlatAlertDefaultAnswer(buttons);
}
inline void FuzzDropDebug(const char*) {}

// While armed, any report (an assertion or an alert) is a fault of the code
// under test: bad input from outside is refused, never asserted on.  The
// report is printed and the run ends.
inline bool& FuzzArmed() {
  static bool armed = false;
  return armed;
}
inline int32_t FuzzAbortWhenArmed(const char*, const char* text, int32_t buttons, int32_t) {
  if (FuzzArmed()) {
    std::fprintf(stderr, "report while armed: %s\n", text ? text : "");
    std::abort();
  }
  return PlatAlertDefaultAnswer(buttons);
}

// A string handle holding exactly the input followed by `tail` bytes of
// `fill` past its count, to show that a reader stops at the count.
inline LStrHandle FuzzTextHandle(const uint8_t* data, size_t size, size_t tail = 0, char fill = 0) {
  UHandle h = DSNewHandle(int32(4 + size + tail));
  if (!h) return nullptr;
  auto s = reinterpret_cast<LStrHandle>(h);
  (*s)->cnt = int32(size);
  if (size) std::memcpy((*s)->str, data, size);
  if (tail) std::memset((*s)->str + size, fill, tail);
  return s;
}

// Handles alive in both zones, to see that a run leaves none behind.
// A picture's bytes in a data-space handle of at least 4 bytes (the length
// word), the first 4 cleared before the bytes are copied over them.
inline UHandle FuzzPictureHandle(const uint8_t* data, size_t size) {
  UHandle h = DSNewHandle(size < 4 ? 4 : int32(size));
  if (!h) return nullptr;
  std::memset(*h, 0, 4);
  if (size) std::memcpy(*h, data, size);
  return h;
}

inline int32 FuzzLiveHandles() { return LiveHandleCount(); }

inline bool FuzzStartManagers(PlatAlertProc alert = FuzzQuietAlert) {
  PlatSetAlertProc(alert);
  PlatSetDebugSink(FuzzDropDebug);
  DBSetContinueAfterFailure(1);
  return MemInit() == kNoErr;
}

// Stops the run when an invariant of a target does not hold.
#define FUZZ_CHECK(cond)                                                     \
  do {                                                                       \
    if (!(cond)) {                                                           \
      std::fprintf(stderr, "invariant broken: %s (%d)\n", #cond, __LINE__); \
      std::abort();                                                          \
    }                                                                        \
  } while (0)

// Runs one input of at most 4096 bytes through run(FuzzReader&) and checks
// that it leaves no handle behind; larger inputs are passed over.
template <class Run>
int FuzzRunLeakChecked(const uint8_t* data, size_t size, Run run) {
  if (size > 4096) return 0;
  FuzzReader in{data, size};
  const int32 live = FuzzLiveHandles();
  run(in);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
