// Four-character codes (resource types, file types and creators, heap
// kinds, record signatures, object categories).
//
// A code is the 32-bit word whose bytes in memory are its four characters in
// reading order: it is compared as a word, printed by "%4c" as it reads, and
// copied to and from stored files as its bytes, never byte-swapped.
#pragma once
#include <bit>

#include "extcode.h"

// FourCC("TEXT"): exactly four characters.
constexpr uInt32 FourCC(const char (&code)[5]) {
  const uInt32 a = uChar(code[0]), b = uChar(code[1]), c = uChar(code[2]), d = uChar(code[3]);
  if constexpr (std::endian::native == std::endian::little)
    return a | (b << 8) | (c << 16) | (d << 24);
  else
    return (a << 24) | (b << 16) | (c << 8) | d;
}

static_assert(std::endian::native != std::endian::little || FourCC("TEXT") == 0x54584554u,
              "a code's first character is its lowest byte in memory");
