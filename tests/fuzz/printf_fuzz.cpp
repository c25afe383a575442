// Formats come from files and users: the printf engine and NumToTextFmt on
// arbitrary bytes.
//
// Input: a mode byte, then the format (or a number's type, code and
// capacity), then bytes that fill the argument slots.  Every argument word
// is the address of a 256-byte slot whose first word holds its own address
// (a NUL low byte, so it is an empty C string, an empty Pascal string, and a
// handle whose block is the slot itself), so that any conversion may take
// any word.  Counted strings then claim huge counts, which the engine may
// only read as far as its output capacity allows.
#include <sys/mman.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "fuzz_support.h"
#include "mgsource/numconv.h"
#include "mgsource/printf.h"

namespace {

constexpr int32 kSlots = 64;
constexpr int32 kSlotSize = 256;
constexpr int32 kOutSize = 1024;
// Slots, then room for the longest read behind the last one.
constexpr size_t kRegionSize = size_t(kSlots) * kSlotSize + 4096;

static_assert(std::is_same_v<va_list, char*>, "i386 va_list is a pointer to the argument words");

uChar* Region() {
  static uChar* region = static_cast<uChar*>(
      mmap(nullptr, kRegionSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  return region;
}

// A path's text: as long as the slot's fifth byte says, or 300 characters.
MgErr FakePathToText(Path p, LStrPtr buf) {
  const uChar* slot = reinterpret_cast<const uChar*>(p);
  int32 len = slot[4] == 255 ? 300 : slot[4];
  if (buf->cnt >= 0) std::memset(buf->str, 'p', size_t(len));
  buf->cnt = len;
  return kNoErr;
}

int32 RunFormat(char* out, int32 capacity, const char* fmt, int32 len, uint32_t* words) {
  va_list ap;
  ap = reinterpret_cast<char*>(words);
  return SPrintfv(out, capacity, fmt, len, ap);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    // Bad formats are reported with assertions; the fuzzer goes on after them.
    if (!FuzzStartManagers()) return false;
    SPrintfSetFileProcs(FakePathToText, nullptr);
    return Region() != MAP_FAILED;
  }();
  if (!ready || size < 2) return 0;
  uChar* region = Region();
  const uint8_t mode = data[0];
  size_t split = 1 + (size - 1) * (data[1] % 8 + 1) / 9;  // format bytes, then slot bytes
  const uint8_t* fmt = data + 1;
  int32 fmtLen = int32(split - 1);
  const uint8_t* fill = data + split;
  size_t fillLen = size - split;

  for (int32 s = 0; s < kSlots; ++s) {
    uChar* slot = region + s * kSlotSize;
    uint32_t self = uint32_t(reinterpret_cast<uintptr_t>(slot));
    std::memcpy(slot, &self, 4);
    for (int32 i = 4; i < kSlotSize; ++i) slot[i] = fillLen ? fill[size_t(s * kSlotSize + i) % fillLen] : 0;
  }

  if (mode & 1) {
    // NumToTextFmt: type, code and capacity from the format bytes, the number
    // from a slot.
    if (fmtLen < 4) return 0;
    int32 type = fmt[0] & 15;
    int32 code = int16(uint16_t(fmt[1] | fmt[2] << 8));
    int32 capacity = 1 + fmt[3] * 4;
    char out[kOutSize + 1];
    const void* value = (mode & 2) ? nullptr : region + (fmt[3] % kSlots) * kSlotSize + 4;
    int32 n = NumToTextFmt(value, type, code, out, capacity, '.');
    if (n < 0 || n >= capacity || out[n] != 0) __builtin_trap();
    return 0;
  }

  // The engine: at most one or two words per two format bytes, a few more
  // for "{*}".
  const int32 nWords = fmtLen + 8;
  uint32_t* words = new uint32_t[size_t(nWords)];
  for (int32 i = 0; i < nWords; ++i) {
    uint8_t pick = fillLen ? fill[size_t(i) % fillLen] : 0;
    words[i] = uint32_t(reinterpret_cast<uintptr_t>(region + (pick % kSlots) * kSlotSize));
  }
  char* format = new char[size_t(fmtLen)];  // exactly the format's bytes
  std::memcpy(format, fmt, size_t(fmtLen));
  char out[kOutSize];
  int32 n = RunFormat(out, kOutSize, format, fmtLen, words);
  if (n < 0 || n > kOutSize) __builtin_trap();
  if (mode & 2) {
    int32 counted = RunFormat(nullptr, 0, format, fmtLen, words);
    if (counted < n) __builtin_trap();
  }
  delete[] format;
  delete[] words;
  return 0;
}
