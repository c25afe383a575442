#include "qx_charcase.h"

#include <array>

namespace {

struct CaseTables {
  std::array<uint8_t, 256> lower{};
  std::array<uint8_t, 256> upper{};
};

constexpr CaseTables MakeTables() {
  CaseTables t;
  for (int c = 0; c < 256; ++c) {
    t.lower[c] = uint8_t(c);
    t.upper[c] = uint8_t(c);
  }
  auto pair = [&t](int up, int low) {
    t.lower[up] = uint8_t(low);
    t.upper[low] = uint8_t(up);
  };
  for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
  for (int c = 0xC0; c <= 0xDE; ++c)
    if (c != 0xD7) pair(c, c + 32);
  pair(0x8A, 0x9A);  // S caron
  pair(0x8C, 0x9C);  // OE ligature
  pair(0x8E, 0x9E);  // Z caron
  pair(0x9F, 0xFF);  // Y diaeresis
  return t;
}

constexpr CaseTables kTables = MakeTables();

static_assert(kTables.upper[0xF7] == 0xF7 && kTables.lower[0xD7] == 0xD7, "signs have no case");
static_assert(kTables.upper[0xDF] == 0xDF, "sharp s has no single upper-case byte");

}  // namespace

uint8_t PlatCharLower(uint8_t c) { return kTables.lower[c]; }
uint8_t PlatCharUpper(uint8_t c) { return kTables.upper[c]; }

bool PlatSameNoCase(const void* a, size_t aLen, const void* b, size_t bLen) {
  if (aLen != bLen) return false;
  const uint8_t* x = static_cast<const uint8_t*>(a);
  const uint8_t* y = static_cast<const uint8_t*>(b);
  for (size_t i = 0; i < aLen; ++i)
    if (x[i] != y[i] && kTables.lower[x[i]] != kTables.lower[y[i]]) return false;
  return true;
}
