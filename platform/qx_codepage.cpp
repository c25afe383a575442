#include "platform/qx_codepage.h"

#include <atomic>

namespace {

// 0x80-0x9F; the unassigned bytes keep their own value.
const uint16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::atomic<bool> gDoubleByte{false};

bool IsLead(uint8_t b) { return b >= 0x81 && b <= 0xFE; }
bool IsTrail(uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE); }

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

void PlatSetDoubleByteCodePage(bool on) { gDoubleByte.store(on, std::memory_order_relaxed); }

bool PlatDoubleByteCodePage() { return gDoubleByte.load(std::memory_order_relaxed); }

const char* PlatCharNext(const char* p) {
  if (!*p) return p;
  if (PlatDoubleByteCodePage() && IsLead(uint8_t(p[0])) && IsTrail(uint8_t(p[1]))) return p + 2;
  return p + 1;
}

const char* PlatCharPrev(const char* start, const char* p) {
  if (p <= start) return start;
  if (!PlatDoubleByteCodePage()) return p - 1;
  // A byte that is no lead byte ends a character, so a character starts
  // after the nearest one before p - 1 (or at start); step on from there.
  // Bytes at or after p are never read.
  const char* c = p - 1;
  while (c > start && IsLead(uint8_t(c[-1]))) --c;
  for (;;) {
    if (c + 1 >= p) return c;
    const char* next = IsLead(uint8_t(c[0])) && IsTrail(uint8_t(c[1])) ? c + 2 : c + 1;
    if (next >= p) return c;
    c = next;
  }
}
