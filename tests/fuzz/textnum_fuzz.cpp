// Numbers and times typed by users or read from files: TextToNumFmt in every
// format into every type, SkipNumText and the integer and decimal scanners,
// and FormatDateTimeString with arbitrary pattern handles.  The text sits in
// a buffer of exactly its length, so any read past it is caught.
//
// Input: a mode byte, four parameter bytes, then the text.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/datetime.h"
#include "mgsource/numconv.h"
#include "mgsource/textnum.h"

namespace {

// Format codes of every kind, and a raw one.
int32 CodeOf(uint8_t sel, uint8_t raw) {
  static const int32 kCodes[] = {0, -3, -63, 1, 17, 63, 64, 65, 66, 67, 68, 100, 162, 200, 203, 299, -83};
  uint32_t n = sizeof kCodes / sizeof kCodes[0];
  if (sel < n) return kCodes[sel];
  if (sel < 128) return 512 + int32((uint32_t(sel) << 8 | raw) % 1025);  // time stamps
  return int32(int8_t(raw)) * 9;
}

// Digits, points, signs and exponents only: the C library reads such a text
// the same way, correctly rounded.
bool PlainDecimal(const uint8_t* t, size_t n) {
  if (n == 0 || n > 200) return false;
  for (size_t i = 0; i < n; ++i)
    if (!std::strchr("0123456789.eE+-", t[i]) || t[i] == 0) return false;
  return true;
}

void Text(const uint8_t* p, const uint8_t* data, size_t size) {
  std::vector<uChar> text(data, data + size);
  const uChar* t = text.data();
  int32 len = int32(size);
  int32 type = p[1] & 15;
  int32 code = CodeOf(p[2], p[3]);
  uChar dp = (p[1] & 0x10) ? ',' : '.';
  double defTime = double(p[3]) * 16777216.0;
  uint8_t result[24];
  std::memset(result, 0xA5, sizeof result);
  int32 ok = TextToNumFmt(t, len, type, result, code, (p[1] & 0x20) ? kNumDBL : 0, &defTime, dp);
  if (ok != 0 && ok != 1) __builtin_trap();

  // A plain decimal text into a double agrees with strtod.
  if (type == kNumDBL && code == 0 && dp == '.' && ok && PlainDecimal(t, size)) {
    char c[256];
    std::memcpy(c, t, size);
    c[size] = 0;
    char* end;
    double want = std::strtod(c, &end);
    double got;
    std::memcpy(&got, result, 8);
    if (size_t(end - c) == size && !(want == got || (std::isnan(want) && std::isnan(got)))) __builtin_trap();
  }
}

void Scanners(const uint8_t* p, const uint8_t* data, size_t size) {
  std::vector<uChar> text(data, data + size);
  const uChar* t = text.data();
  int32 len = int32(size);
  uChar dp = p[1];
  const uChar* e = SkipNumText(t, len, dp);
  if (e < t || e > t + len) __builtin_trap();
  int32 type = p[2] & 15;
  for (auto fn : {DecStrToNum, UDecStrToNum, HexStrToNum, OctStrToNum, BinStrToNum}) {
    const uChar* c = t;
    fn(&c, len, type);
    if (c < t || c > t + len) __builtin_trap();
  }
  uint8_t result[24];
  const uChar* c = t;
  int32 n = SciStrToNum(&c, len, type, result, dp);
  if (c != t + n || n < 0 || n > len) __builtin_trap();
  if (n > 0 && c != e) __builtin_trap();  // the same end as SkipNumText
}

void Pattern(const uint8_t* p, const uint8_t* data, size_t size) {
  // The handle's count: its length, something else, or negative.
  int32 count = int32(size);
  if (p[1] & 1) count = int32(uint32_t(p[2]) << 24 | uint32_t(p[3]) << 8 | p[1]);
  UHandle h = DSNewHandle(int32(4 + size));
  if (!h) return;
  std::memcpy(*h, &count, 4);
  if (size) std::memcpy(*h + 4, data, size);
  LStrHandle out = reinterpret_cast<LStrHandle>(DSNewHandle(4));
  if (out) {
    (*out)->cnt = 0;
    uInt32 secs = uInt32(p[2]) << 24 | uInt32(p[3]) << 16 | uInt32(p[1]) << 8;
    if (FormatDateTimeString((p[1] & 2) ? nullptr : reinterpret_cast<LStrHandle>(h), secs, out) == kNoErr) {
      if ((*out)->cnt < 0 || (*out)->cnt + 4 > DSGetHandleSize(reinterpret_cast<UHandle>(out))) __builtin_trap();
    }
    DSDisposeHandle(reinterpret_cast<UHandle>(out));
  }
  DSDisposeHandle(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] {
    setenv("TZ", "Europe/Berlin", 1);
    return FuzzStartManagers();
  }();
  (void)started;
  if (size < 4 || size > 1 << 14) return 0;
  const uint8_t* p = data;
  data += 4;
  size -= 4;
  switch (p[0] % 3) {
    case 0: Text(p, data, size); break;
    case 1: Scanners(p, data, size); break;
    default: Pattern(p, data, size); break;
  }
  return 0;
}
