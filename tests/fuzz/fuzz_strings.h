// Data-zone strings made from fuzz input.
#pragma once
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "mgsource/memory.h"

// A data-zone long string holding the bytes.
inline LStrHandle FuzzString(const std::string& s) {
  LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(4 + s.size())));
  FUZZ_CHECK(h != nullptr);
  (*h)->cnt = int32(s.size());
  if (!s.empty()) std::memcpy((*h)->str, s.data(), s.size());
  return h;
}
