// Shared set-up of the units tests: the managers and the unit table started
// once, failure reports collected, and a parse that reports what it made.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "rtlib/units.h"

namespace unitstest {

// Failed assertions of the units code name its source file.
constexpr const char* kUnitsFailure = "units.cpp";

class UnitsTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(UnitsInit(), kNoErr);
  }
  static int UnitFailures() { return qxtest::Reports::Get().Count(kUnitsFailure); }
};

// What one parse made: the result, where it stopped and the record.
struct Parsed {
  int16 err = -1;
  int32 stop = -1;
  ParsedUnit rec{};
  std::vector<std::pair<int, int>> Pairs() const {
    std::vector<std::pair<int, int>> v;
    for (int i = 0; i < rec.count && i < kBaseUnitCount; ++i) v.emplace_back(rec.pairs[i].code, rec.pairs[i].power);
    return v;
  }
};

// Parses a copy of the text in a heap block of exactly its length plus the
// NUL, into a heap record of exactly its size, so that AddressSanitizer sees
// any read or write past either.
inline Parsed Parse(const std::string& text, bool allowOperators) {
  std::unique_ptr<uChar[]> buf(new uChar[text.size() + 1]);
  std::memcpy(buf.get(), text.c_str(), text.size() + 1);
  std::unique_ptr<ParsedUnit> rec(new ParsedUnit);
  std::memset(rec.get(), 0xA5, sizeof(ParsedUnit));
  const uChar* p = buf.get();
  Parsed out;
  out.err = ParseUnitExpr(&p, rec.get(), allowOperators);
  out.stop = int32(p - buf.get());
  out.rec = *rec;
  return out;
}

// A dimension list as the text functions take it.
inline std::vector<int16> Dims(std::initializer_list<std::pair<int, int>> pairs) {
  std::vector<int16> d{int16(pairs.size())};
  for (auto& p : pairs) {
    d.push_back(int16(p.first));
    d.push_back(int16(p.second));
  }
  return d;
}

// The text a text function gives a list, measured first and then written.
inline std::string TextOf(int32 (*fn)(const int16*, char*), const std::vector<int16>& dims) {
  int32 n = fn(dims.data(), nullptr);
  std::string s(size_t(n) + 1, '\x7f');
  EXPECT_EQ(fn(dims.data(), s.data()), n);
  EXPECT_EQ(s[size_t(n)], '\0');
  s.resize(size_t(n));
  return s;
}
inline std::string DimsText(const std::vector<int16>& dims) { return TextOf(UnitDimsToText, dims); }
inline std::string RecText(const std::vector<int16>& dims) { return TextOf(UnitRecToText, dims); }

// Relative closeness for scales computed through several definitions.
inline bool Near(double got, double want, double rel = 1e-12) {
  if (got == want) return true;
  return std::fabs(got - want) <= rel * std::fabs(want);
}

}  // namespace unitstest
