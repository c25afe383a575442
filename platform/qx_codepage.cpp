#include "platform/qx_codepage.h"

namespace {

// 0x80-0x9F; the unassigned bytes keep their own value.
const uint16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

uint32_t PlatCp1252ToUnicode(uint8_t byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

int32_t PlatUnicodeToCp1252(uint32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) return int32_t(codePoint);
  for (int32_t i = 0; i < 32; ++i)
    if (kHigh[i] == codePoint) return 0x80 + i;
  return -1;
}

bool PlatCp1252IsControl(uint8_t byte) {
  uint32_t u = PlatCp1252ToUnicode(byte);
  return u < 0x20 || (u >= 0x7F && u < 0xA0);
}

const char* PlatCharNext(const char* p) { return *p ? p + 1 : p; }

const char* PlatCharPrev(const char* start, const char* p) { return p > start ? p - 1 : start; }
