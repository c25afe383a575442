// The text of dimension lists, the check of a unit text against a type's
// dimensions, and parses on two threads at once.
#include <atomic>
#include <thread>

#include "units_test_support.h"

namespace {

using namespace unitstest;

constexpr int S = kUnitS, M = kUnitM, KG = kUnitKg, K = kUnitK, SR = kUnitSr, CD = kUnitCd;

int Prefixed(int prefix, int unit) { return prefix << 10 | unit; }

TEST_F(UnitsTest, DimsToText) {
  const struct {
    std::vector<int16> dims;
    const char* text;
  } cases[] = {
      {Dims({{S, -2}, {M, 1}}), "s^-2 m"},
      {Dims({}), ""},
      {Dims({{M, 1}}), "m"},
      {Dims({{M, 0}}), "m^0"},
      {Dims({{kUnitRad, 1}, {SR, -1}, {kUnitA, 32767}, {kUnitMol, -32768}, {CD, 2}}),
       "rad sr^-1 A^32767 mol^-32768 cd^2"},
      // Placeholders: "$" and the number for -1022 ... -1.
      {Dims({{-1, 1}}), "$1"},
      {Dims({{-9, -1}, {M, 3}}), "$9^-1 m^3"},
      {Dims({{-1022, 2}}), "$1022^2"},
      // A prefix in bits 10 to 14 over the unit in bits 0 to 9.
      {Dims({{Prefixed(11, M), 1}}), "km"},
      {Dims({{Prefixed(9, M), 1}}), "dam"},
      {Dims({{Prefixed(16, M), 2}, {Prefixed(1, S), -1}}), "Em^2 as^-1"},
      // A prefixed "kg" is shown as "g", its prefix one decade of three up.
      {Dims({{Prefixed(6, KG), 1}}), "g"},
      {Dims({{Prefixed(7, KG), 1}}), "dag"},
      {Dims({{Prefixed(8, KG), 1}}), "hg"},
      {Dims({{Prefixed(11, KG), 1}}), "Mg"},
      {Dims({{Prefixed(5, KG), 1}}), "mg"},
      {Dims({{Prefixed(4, KG), 2}}), "ug^2"},
      {Dims({{Prefixed(1, KG), 1}}), "fg"},
      {Dims({{Prefixed(15, KG), 1}}), "Eg"},
      // Deca, hecto and exa stay as they are.
      {Dims({{Prefixed(9, KG), 1}}), "dag"},
      {Dims({{Prefixed(10, KG), 1}}), "hg"},
      {Dims({{Prefixed(16, KG), 1}}), "Eg"},
      // One past the base units is the invalid unit.
      {Dims({{9, 1}}), "??"},
      {Dims({{M, 1}, {9, 2}}), "m ??^2"},
  };
  for (const auto& c : cases) EXPECT_EQ(DimsText(c.dims), c.text);
  EXPECT_EQ(UnitFailures(), 0);
  EXPECT_EQ(UnitDimsToText(nullptr, nullptr), 0);
  std::vector<int16> negative = {-3, M, 1};
  EXPECT_EQ(DimsText(negative), "");
}

TEST_F(UnitsTest, DimsOutOfRangeAreReported) {
  const struct {
    std::vector<int16> dims;
    const char* text;
  } cases[] = {
      {Dims({{10, 1}}), "??"},
      {Dims({{1023, 1}}), "??"},
      {Dims({{Prefixed(17, M), 1}}), "??"},
      {Dims({{Prefixed(31, M), 3}}), "??^3"},
      {Dims({{-1023, 1}}), "??"},
      {Dims({{-32768, 1}, {M, 1}}), "?? m"},
  };
  for (const auto& c : cases) {
    qxtest::Reports::Get().Clear();
    EXPECT_EQ(DimsText(c.dims), c.text);
    // Measured and written: one report each.
    EXPECT_EQ(UnitFailures(), 2) << c.text;
  }
}

TEST_F(UnitsTest, RecToTextNamesTheFirstDerivedUnit) {
  const struct {
    std::vector<int16> dims;
    const char* text;
  } cases[] = {
      {Dims({{S, -2}, {M, 1}, {KG, 1}}), "N"},
      {Dims({{S, -1}}), "Hz"},
      {Dims({{K, 1}}), "Cdeg"},
      {Dims({{S, -2}, {M, 2}, {KG, 1}}), "J"},
      {Dims({{S, -2}, {M, -1}, {KG, 1}}), "Pa"},
      {Dims({{S, -2}, {M, 2}}), "Gy"},
      {Dims({{M, -1}}), "dpt"},
      {Dims({{SR, 1}, {CD, 1}}), "lm"},
      // No derived unit of scale 1: the list itself.
      {Dims({{M, 1}}), "m"},
      {Dims({{M, 3}}), "m^3"},
      {Dims({{S, -1}, {M, 1}}), "s^-1 m"},
      {Dims({}), ""},
      {Dims({{-1, 1}, {S, -1}}), "$1 s^-1"},
      {Dims({{Prefixed(11, M), 1}}), "km"},
  };
  for (const auto& c : cases) EXPECT_EQ(RecText(c.dims), c.text);
  // Longer than a record holds: only the list's own text.
  std::vector<int16> many =
      Dims({{-9, 1}, {-8, 1}, {-7, 1}, {-6, 1}, {-5, 1}, {-4, 1}, {-3, 1}, {-2, 1}, {-1, 1}, {S, 1}});
  EXPECT_EQ(RecText(many), "$9 $8 $7 $6 $5 $4 $3 $2 $1 s");
}

// Every derived unit of scale 1 and offset 0 prints as itself or as an
// earlier unit of the same dimensions, and the text parses back to them.
TEST_F(UnitsTest, DerivedUnitsPrintBack) {
  int printed = 0;
  for (int i = kBaseUnitCount; i < kUnitCount; ++i) {
    const ParsedUnit* r = UnitTable[i].parsed;
    if (r->offset != 0 || r->scale != 1) continue;
    ++printed;
    std::vector<int16> dims(UnitDims(r), UnitDims(r) + 1 + 2 * r->count);
    std::string text = RecText(dims);
    int j = kBaseUnitCount;
    while (j < kUnitCount && text != UnitTable[j].symbol) ++j;
    ASSERT_LE(j, i) << UnitTable[i].symbol << " printed as " << text;
    EXPECT_EQ(UnitTable[j].parsed->count, r->count);
    EXPECT_EQ(std::memcmp(UnitTable[j].parsed->pairs, r->pairs, size_t(r->count) * 4), 0) << UnitTable[i].symbol;
    Parsed back = Parse(text, false);
    EXPECT_EQ(back.err, kUnitOK);
    EXPECT_EQ(back.rec.scale, 1);
    EXPECT_EQ(std::vector<int16>(UnitDims(&back.rec), UnitDims(&back.rec) + 1 + 2 * back.rec.count), dims);
  }
  EXPECT_EQ(printed, 20);
}

// The text of any list of base units and placeholders parses back to it.
TEST_F(UnitsTest, DimsTextRoundTrip) {
  uInt32 seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (int round = 0; round < 2000; ++round) {
    std::vector<int16> dims{0};
    for (int code = -9; code < kBaseUnitCount && dims[0] < kBaseUnitCount; ++code) {
      if (next() % 3) continue;
      int power = int(next() % 13) - 6;
      if (next() % 50 == 0) power = (next() & 1) ? 32767 : -32768;
      if (power == 0) continue;
      dims.push_back(int16(code));
      dims.push_back(int16(power));
      ++dims[0];
    }
    std::string text = DimsText(dims);
    Parsed back = Parse(text, false);
    ASSERT_EQ(back.err, kUnitOK) << text;
    EXPECT_EQ(back.rec.scale, 1) << text;
    EXPECT_EQ(std::vector<int16>(UnitDims(&back.rec), UnitDims(&back.rec) + 1 + 2 * back.rec.count), dims) << text;
    // The derived unit's name, when one is chosen, stands for the same list.
    Parsed named = Parse(RecText(dims), false);
    ASSERT_EQ(named.err, kUnitOK);
    EXPECT_EQ(std::vector<int16>(UnitDims(&named.rec), UnitDims(&named.rec) + 1 + 2 * named.rec.count), dims);
  }
}

// ---------------------------------------------------------------- ParseUnitForDims

// A type descriptor of a numeric with a unit: four bytes, then the list, in
// a heap block of exactly its size.
std::unique_ptr<uChar[]> UnitType(const std::vector<int16>& dims, size_t* size = nullptr) {
  size_t n = 4 + dims.size() * 2;
  std::unique_ptr<uChar[]> td(new uChar[n]);
  std::memset(td.get(), 0x5A, 4);
  std::memcpy(td.get() + 4, dims.data(), dims.size() * 2);
  if (size) *size = n;
  return td;
}

TEST_F(UnitsTest, ParseUnitForDims) {
  const struct {
    const char* text;
    std::vector<int16> dims;
    int result;
    double offset, scale;
  } cases[] = {
      {"km", Dims({{M, 1}}), 1, 0, 1000},
      {"s", Dims({{M, 1}}), 0, 0, 0},
      {"* 2 m", Dims({{M, 1}}), 0, 0, 0},
      {"m/ 2", Dims({{M, 1}}), 0, 0, 0},
      {"degF", Dims({{K, 1}}), 1, 459.67, 5.0 / 9},
      {"N", Dims({{S, -2}, {M, 1}, {KG, 1}}), 1, 0, 1},
      {"N", Dims({{M, 1}, {S, -2}, {KG, 1}}), 0, 0, 0},
      {"N", Dims({{S, -2}, {M, 1}}), 0, 0, 0},
      {"", Dims({}), 1, 0, 1},
      {"-", Dims({}), 1, 0, 1},
      {"m", Dims({}), 0, 0, 0},
      {"rad sr s m kg A K mol cd", Dims({}), 0, 0, 0},
      {"rad sr s m kg A K mol cd", Dims({{S, 1}}), 0, 0, 0},
      {"foo", Dims({{M, 1}}), 0, 0, 0},
      {"m^", Dims({{M, 1}}), 0, 0, 0},
      {"$1 m", Dims({{-1, 1}, {M, 1}}), 1, 0, 1},
  };
  for (const auto& c : cases) {
    auto td = UnitType(c.dims);
    double offset = 7, scale = 7;
    EXPECT_EQ(ParseUnitForDims(c.text, &offset, &scale, td.get()), c.result) << c.text;
    EXPECT_TRUE(Near(offset, c.offset)) << c.text << " " << offset;
    EXPECT_TRUE(Near(scale, c.scale)) << c.text << " " << scale;
    EXPECT_EQ(ParseUnitForDims(c.text, nullptr, nullptr, td.get()), c.result) << c.text;
  }
  double offset = 7, scale = 7;
  EXPECT_EQ(ParseUnitForDims(nullptr, &offset, &scale, UnitType(Dims({})).get()), 0);
  EXPECT_EQ(offset, 0);
  EXPECT_EQ(scale, 0);
  offset = scale = 7;
  EXPECT_EQ(ParseUnitForDims("m", &offset, &scale, nullptr), 0);
  EXPECT_EQ(offset, 0);
  EXPECT_EQ(scale, 0);
}

// ---------------------------------------------------------------- threads

class UnitsConcurrent : public UnitsTest {};

// Two threads parse different labels and print them at once; each gets its
// own results every time (records belong to their callers).
TEST_F(UnitsConcurrent, TwoThreadsParseTheirOwnLabels) {
  const int rounds = qxtest::Scaled(100000);
  struct Label {
    const char* text;
    double scale, offset;
    std::vector<int16> dims;
    const char* printed;
  };
  const Label labels[2] = {{"km/h", 1000.0 / 3600, 0, Dims({{S, -1}, {M, 1}}), "s^-1 m"},
                           {"degF", 5.0 / 9, 459.67, Dims({{K, 1}}), "Cdeg"}};
  std::atomic<int> wrong{0};
  std::atomic<int> ready{0};
  auto work = [&](const Label& l) {
    auto td = UnitType(l.dims);
    ready.fetch_add(1);
    while (ready.load() < 2) std::this_thread::yield();
    char text[64];
    for (int i = 0; i < rounds; ++i) {
      ParsedUnit rec;
      const uChar* p = reinterpret_cast<const uChar*>(l.text);
      bool ok = ParseUnitExpr(&p, &rec, 0) == kUnitOK && Near(rec.scale, l.scale) && Near(rec.offset, l.offset, 1e-9) &&
                std::memcmp(UnitDims(&rec), l.dims.data(), l.dims.size() * 2) == 0;
      ok = ok && UnitRecToText(UnitDims(&rec), text) == int32(std::strlen(l.printed)) &&
           std::strcmp(text, l.printed) == 0;
      double offset = 0, scale = 0;
      ok = ok && ParseUnitForDims(l.text, &offset, &scale, td.get()) == 1 && Near(scale, l.scale);
      if (!ok) wrong.fetch_add(1);
    }
  };
  std::thread a(work, std::cref(labels[0])), b(work, std::cref(labels[1]));
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
