// Unit texts as panels, format strings and files give them: parsed with and
// without operators from a buffer of exactly their length, and every result
// printed with both text functions.  Dimension lists taken raw from the input
// are printed too.
//
// Input: a mode byte, then the text (or, for mode 3, raw int16 words).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "rtlib/units.h"

namespace {

bool SameRecord(const ParsedUnit& a, const ParsedUnit& b) {
  auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
  return same(a.offset, b.offset) && same(a.scale, b.scale) && a.count == b.count &&
         std::memcmp(a.pairs, b.pairs, size_t(a.count) * sizeof(UnitPair)) == 0;
}

// A successful parse holds ascending pairs of known codes, no zero power.
void CheckRecord(const ParsedUnit& r) {
  if (r.count < 0 || r.count > kBaseUnitCount) __builtin_trap();
  for (int i = 0; i < r.count; ++i) {
    if (r.pairs[i].code < -kPlaceholderCount || r.pairs[i].code >= kBaseUnitCount) __builtin_trap();
    if (r.pairs[i].power == 0) __builtin_trap();
    if (i && r.pairs[i - 1].code >= r.pairs[i].code) __builtin_trap();
  }
}

// Prints a list both ways; the measured length is the written one.
void Print(const int16* dims) {
  for (auto fn : {UnitDimsToText, UnitRecToText}) {
    int32 n = fn(dims, nullptr);
    if (n < 0) __builtin_trap();
    std::unique_ptr<char[]> text(new char[size_t(n) + 1]);
    if (fn(dims, text.get()) != n || text[size_t(n)] != 0 || std::strlen(text.get()) != size_t(n)) __builtin_trap();
  }
}

// The list's own text parses back to the list with scale 1.
void RoundTrip(const ParsedUnit& r) {
  int32 n = UnitDimsToText(UnitDims(&r), nullptr);
  std::unique_ptr<char[]> text(new char[size_t(n) + 1]);
  UnitDimsToText(UnitDims(&r), text.get());
  const uChar* p = reinterpret_cast<const uChar*>(text.get());
  ParsedUnit back;
  if (ParseUnitExpr(&p, &back, 0) != kUnitOK || back.scale != 1 || back.offset != 0) __builtin_trap();
  if (back.count != r.count || std::memcmp(back.pairs, r.pairs, size_t(r.count) * sizeof(UnitPair)) != 0)
    __builtin_trap();
}

void Text(const uint8_t* data, size_t size) {
  std::unique_ptr<uChar[]> buf(new uChar[size ? size : 1]);
  std::memcpy(buf.get(), data, size);
  const uChar* end = buf.get() + size;
  ParsedUnit rec[2];
  int16 err[2];
  for (int ops = 0; ops < 2; ++ops) {
    const uChar* p = buf.get();
    err[ops] = ParseUnitExprCounted(&p, end, &rec[ops], ops);
    if (err[ops] < 0 || err[ops] > 7 || p < buf.get() || p > end) __builtin_trap();
    if (err[ops] == kUnitOK) {
      if (p != end) __builtin_trap();
      CheckRecord(rec[ops]);
      Print(UnitDims(&rec[ops]));
      RoundTrip(rec[ops]);
    }
  }
  // A text that needs no operator parses the same when they are allowed.
  if (err[0] == kUnitOK && (err[1] != kUnitOK || !SameRecord(rec[0], rec[1]))) __builtin_trap();

  // As a NUL-terminated text checked against the dimensions it parses to.
  std::unique_ptr<char[]> c(new char[size + 1]);
  std::memcpy(c.get(), data, size);
  c[size] = 0;
  const uChar* p = reinterpret_cast<const uChar*>(c.get());
  ParsedUnit own;
  int16 e = ParseUnitExpr(&p, &own, 0);
  std::vector<uChar> td(4 + 2 + 4 * size_t(kBaseUnitCount));
  std::memcpy(td.data() + 4, UnitDims(&own), 2 + 4 * size_t(own.count < 0 ? 0 : own.count));
  double offset = 1, scale = 1;
  int32 fits = ParseUnitForDims(c.get(), &offset, &scale, td.data());
  if (fits != (e == kUnitOK ? 1 : 0)) __builtin_trap();
  if (!fits && (offset != 0 || scale != 0)) __builtin_trap();
  if (fits && !(scale == own.scale || (std::isnan(scale) && std::isnan(own.scale)))) __builtin_trap();
}

void RawDims(const uint8_t* data, size_t size) {
  std::vector<int16> words(size / 2 + 1);
  words[0] = 0;
  if (size >= 2) std::memcpy(words.data(), data, size & ~size_t(1));
  // The count is kept within the words given.
  int32 pairs = int32(words.size() - 1) / 2;
  if (words[0] > pairs || words[0] < -pairs) words[0] = int16(words[0] % (pairs + 1));
  Print(words.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] { return FuzzStartManagers() && UnitsInit() == kNoErr; }();
  if (!started) __builtin_trap();
  if (size < 1 || size > 4096) return 0;
  uint8_t mode = data[0];
  if (mode % 4 == 3) RawDims(data + 1, size - 1);
  else Text(data + 1, size - 1);
  return 0;
}
