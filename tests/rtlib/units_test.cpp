// The unit table and its start-up, and the parser: every definition's
// record, the edge cases of each step, cut and overflowing texts.
#include <cmath>
#include <limits>

#include "mgsource/memory.h"
#include "rtlib/units_internal.h"
#include "units_test_support.h"

namespace {

using namespace unitstest;

constexpr int S = kUnitS, M = kUnitM, KG = kUnitKg, A = kUnitA, K = kUnitK, RAD = kUnitRad, SR = kUnitSr,
              CD = kUnitCd;
using PairList = std::vector<std::pair<int, int>>;

int UnitIndex(const char* symbol) {
  for (int i = 0; i < kUnitCount; ++i)
    if (std::strcmp(UnitTable[i].symbol, symbol) == 0) return i;
  return -1;
}

const ParsedUnit* RecordOf(const char* symbol) {
  int i = UnitIndex(symbol);
  return i < 0 ? nullptr : UnitTable[i].parsed;
}

PairList PairsOf(const ParsedUnit* r) {
  PairList v;
  for (int i = 0; i < r->count; ++i) v.emplace_back(r->pairs[i].code, r->pairs[i].power);
  return v;
}

// ---------------------------------------------------------------- the table

TEST_F(UnitsTest, TableShapeAndPrefixes) {
  EXPECT_EQ(UnitsCounted(), 104);
  EXPECT_EQ(BaseUnitsCounted(), 9);
  const char* base[] = {"rad", "sr", "s", "m", "kg", "A", "K", "mol", "cd"};
  for (int i = 0; i < 9; ++i) {
    EXPECT_STREQ(UnitTable[i].symbol, base[i]);
    EXPECT_EQ(UnitTable[i].definition, nullptr);
    EXPECT_EQ(UnitTable[i].parsed, nullptr);
  }
  // The apostrophe and the double quote are symbols; codes follow the order.
  EXPECT_EQ(UnitIndex("'"), 33);
  EXPECT_EQ(UnitIndex("\""), 34);
  EXPECT_EQ(UnitIndex("g"), 9);
  EXPECT_EQ(UnitIndex("dpt"), 103);
  EXPECT_STREQ(UnitTable[46].definition, "/4 / pi kA m^-1");
  // The quantities follow the units, then an empty entry ends the table.
  EXPECT_EQ(UnitTable[104].symbol, nullptr);
  EXPECT_STREQ(UnitTable[104].name, "area");
  EXPECT_STREQ(UnitTable[104].definition, "m^2");
  EXPECT_STREQ(UnitTable[132].name, "absorbed dose rate");
  EXPECT_STREQ(UnitTable[132].definition, "Gy/s");
  EXPECT_EQ(UnitTable[133].name, nullptr);
  EXPECT_EQ(UnitTable[133].definition, nullptr);

  const struct {
    const char* text;
    int power;
  } prefixes[] = {{"", 0}, {"a", -18}, {"f", -15}, {"p", -12}, {"n", -9}, {"u", -6}, {"m", -3}, {"c", -2}, {"d", -1},
                  {"da", 1}, {"h", 2}, {"k", 3}, {"M", 6}, {"G", 9}, {"T", 12}, {"P", 15}, {"E", 18}};
  for (int i = 0; i < kUnitPrefixCount; ++i) {
    EXPECT_STREQ(UnitPrefixTable[i].text, prefixes[i].text) << i;
    EXPECT_EQ(UnitPrefixTable[i].power, prefixes[i].power) << i;
  }
}

TEST_F(UnitsTest, InitBuildsEveryDefinitionWithoutAFailure) {
  // UnitsInit ran in SetUp; a second call changes nothing.
  int32 size = 0;
  const ParsedUnit* block = UnitRecordBlock(&size);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(UnitsInit(), kNoErr);
  EXPECT_EQ(UnitRecordBlock(nullptr), block);
  EXPECT_EQ(UnitFailures(), 0) << qxtest::Reports::Get().Text();

  // (104 - 9 + 1) records of 9 * 4 + 18 = 54 bytes rounded up to 56.
  EXPECT_EQ(sizeof(ParsedUnit), 56u);
  EXPECT_EQ(size, 96 * 56);
  // The first record is left cleared; the others belong to the derived units
  // in table order.
  const uChar* raw = reinterpret_cast<const uChar*>(block);
  for (int i = 0; i < 56; ++i) EXPECT_EQ(raw[i], 0) << i;
  int next = 1;
  for (int i = 9; i < 104; ++i) {
    const ParsedUnit* r = UnitTable[i].parsed;
    EXPECT_EQ(reinterpret_cast<const uChar*>(r), raw + next++ * 56) << UnitTable[i].symbol;
    // Pairs of base units only, ascending, no zero power.
    ASSERT_GE(r->count, 0);
    ASSERT_LE(r->count, 9);
    for (int k = 0; k < r->count; ++k) {
      EXPECT_GE(r->pairs[k].code, 0);
      EXPECT_LT(r->pairs[k].code, 9);
      EXPECT_NE(r->pairs[k].power, 0);
      if (k) {
        EXPECT_LT(r->pairs[k - 1].code, r->pairs[k].code);
      }
    }
  }
  EXPECT_EQ(next, 96);
}

// Every derived unit's record, from values worked out independently.
TEST_F(UnitsTest, DerivedUnitRecords) {
  const double pi = 3.14159265358979323846;
  const double lb = 0.45359237, ft = 0.3048, in = ft / 12, gal = 4.54596e-3 / 1.20094, atm = 101325;
  const PairList force = {{S, -2}, {M, 1}, {KG, 1}}, energy = {{S, -2}, {M, 2}, {KG, 1}},
                 pressure = {{S, -2}, {M, -1}, {KG, 1}}, power = {{S, -3}, {M, 2}, {KG, 1}},
                 flux = {{S, -2}, {M, 2}, {KG, 1}, {A, -1}}, dose = {{S, -2}, {M, 2}};
  const struct {
    const char* symbol;
    double scale;
    double offset;
    PairList pairs;
  } cases[] = {
      {"g", 1e-3, 0, {{KG, 1}}},
      {"Hz", 1, 0, {{S, -1}}},
      {"N", 1, 0, force},
      {"Pa", 1, 0, pressure},
      {"J", 1, 0, energy},
      {"W", 1, 0, power},
      {"C", 1, 0, {{S, 1}, {A, 1}}},
      {"V", 1, 0, {{S, -3}, {M, 2}, {KG, 1}, {A, -1}}},
      {"F", 1, 0, {{S, 4}, {M, -2}, {KG, -1}, {A, 2}}},
      {"Ohm", 1, 0, {{S, -3}, {M, 2}, {KG, 1}, {A, -2}}},
      {"S", 1, 0, {{S, 3}, {M, -2}, {KG, -1}, {A, 2}}},
      {"Wb", 1, 0, flux},
      {"T", 1, 0, {{S, -2}, {KG, 1}, {A, -1}}},
      {"H", 1, 0, {{S, -2}, {M, 2}, {KG, 1}, {A, -2}}},
      {"lm", 1, 0, {{SR, 1}, {CD, 1}}},
      {"lx", 1, 0, {{SR, 1}, {M, -2}, {CD, 1}}},
      {"degC", 1, 273.15, {{K, 1}}},
      {"Bq", 1, 0, {{S, -1}}},
      {"Gy", 1, 0, dose},
      {"Sv", 1, 0, dose},
      {"min", 60, 0, {{S, 1}}},
      {"h", 3600, 0, {{S, 1}}},
      {"d", 86400, 0, {{S, 1}}},
      {"deg", pi / 180, 0, {{RAD, 1}}},
      {"'", pi / 10800, 0, {{RAD, 1}}},
      {"\"", pi / 648000, 0, {{RAD, 1}}},
      {"l", 1e-3, 0, {{M, 3}}},
      {"t", 1000, 0, {{KG, 1}}},
      {"ha", 1e4, 0, {{M, 2}}},
      {"eV", 1.602e-19, 0, energy},
      {"u", 1.66057e-27, 0, {{KG, 1}}},
      {"b", 1e-28, 0, {{M, 2}}},
      {"dyn", 1e-5, 0, force},
      {"erg", 1e-7, 0, energy},
      {"bar", 1e5, 0, pressure},
      {"Mx", 1e-8, 0, flux},
      {"Gs", 1e-4, 0, {{S, -2}, {KG, 1}, {A, -1}}},
      {"Oe", 1000 / (4 * pi), 0, {{M, -1}, {A, 1}}},
      {"emu", 1e-3, 0, {{M, 2}, {A, 1}}},
      {"Rad", 1e-2, 0, dose},
      {"degF", 5.0 / 9, 459.67, {{K, 1}}},
      {"Cdeg", 1, 0, {{K, 1}}},
      {"Fdeg", 5.0 / 9, 0, {{K, 1}}},
      {"a", 365.2531897 * 86400, 0, {{S, 1}}},
      {"lb", lb, 0, {{KG, 1}}},
      {"oz", lb / 16, 0, {{KG, 1}}},
      {"dr", lb / 256, 0, {{KG, 1}}},
      {"slug", 32.174 * lb, 0, {{KG, 1}}},
      {"stone", 14 * lb, 0, {{KG, 1}}},
      {"ton", 2000 * lb, 0, {{KG, 1}}},
      {"Ton", 2240 * lb, 0, {{KG, 1}}},
      {"gr", lb / 7000, 0, {{KG, 1}}},
      {"CM", 2e-4, 0, {{KG, 1}}},
      {"fermi", 1e-15, 0, {{M, 1}}},
      {"Angstrom", 1e-10, 0, {{M, 1}}},
      {"ft", ft, 0, {{M, 1}}},
      {"in", in, 0, {{M, 1}}},
      {"line", in / 12, 0, {{M, 1}}},
      {"cubit", 20.6 * in, 0, {{M, 1}}},
      {"rod", 16.5 * ft, 0, {{M, 1}}},
      {"mi", 5280 * ft, 0, {{M, 1}}},
      {"yd", 3 * ft, 0, {{M, 1}}},
      {"chain", 66 * ft, 0, {{M, 1}}},
      {"furlong", 660 * ft, 0, {{M, 1}}},
      {"fathom", 6 * ft, 0, {{M, 1}}},
      {"AU", 149498845000.0, 0, {{M, 1}}},
      {"ly", 9.4605e15, 0, {{M, 1}}},
      {"hubble", 9.4605e24, 0, {{M, 1}}},
      {"acre", 43560 * ft * ft, 0, {{M, 2}}},
      {"UKgal", 4.54596e-3, 0, {{M, 3}}},
      {"gal", gal, 0, {{M, 3}}},
      {"quart", gal / 4, 0, {{M, 3}}},
      {"pint", gal / 8, 0, {{M, 3}}},
      {"gill", gal / 32, 0, {{M, 3}}},
      {"fl.oz", gal / 128, 0, {{M, 3}}},
      {"fl.dr", gal / 1024, 0, {{M, 3}}},
      {"minim", gal / 61440, 0, {{M, 3}}},
      {"barrel", 42 * gal, 0, {{M, 3}}},
      {"bushel", 8 * gal, 0, {{M, 3}}},
      {"peck", 2 * gal, 0, {{M, 3}}},
      {"kn", 1852.0 / 3600, 0, {{S, -1}, {M, 1}}},
      {"lbf", 4.448, 0, force},
      {"atm", atm, 0, pressure},
      {"torr", atm / 760, 0, pressure},
      {"m.Hg", atm / 0.76, 0, pressure},
      {"psi", 4.448 / (in * in), 0, pressure},
      {"cal", 4.184, 0, energy},
      {"Btu", 1055.79, 0, energy},
      {"hp", 745.7, 0, power},
      {"P", 0.1, 0, {{S, -1}, {M, -1}, {KG, 1}}},
      {"fc", 10.764, 0, {{SR, 1}, {M, -2}, {CD, 1}}},
      {"r", 2.58e-4, 0, {{S, 1}, {KG, -1}, {A, 1}}},
      {"rem", 1e-2, 0, dose},
      {"Ci", 3.7e10, 0, {{S, -1}}},
      {"dpt", 1, 0, {{M, -1}}},
  };
  EXPECT_EQ(sizeof cases / sizeof cases[0], 95u);
  for (const auto& c : cases) {
    const ParsedUnit* r = RecordOf(c.symbol);
    ASSERT_NE(r, nullptr) << c.symbol;
    EXPECT_TRUE(Near(r->scale, c.scale, 1e-12)) << c.symbol << " " << r->scale << " vs " << c.scale;
    EXPECT_TRUE(Near(r->offset, c.offset, 1e-12)) << c.symbol << " " << r->offset;
    EXPECT_EQ(PairsOf(r), c.pairs) << c.symbol;
  }
}

TEST_F(UnitsTest, QuantitiesParse) {
  const struct {
    int index;
    PairList pairs;
  } some[] = {{104, {{M, 2}}},
              {106, {{S, -1}, {M, 1}}},
              {109, {{M, -3}, {KG, 1}}},
              {111, {{M, -2}, {A, 1}}},
              {115, {{S, -1}, {M, -1}, {KG, 1}}},
              {120, {{S, -2}, {M, 2}, {K, -1}}},
              {128, {{S, -2}, {M, 1}, {KG, 1}, {A, -2}}},
              {130, {{S, -2}, {M, 2}, {KG, 1}, {K, -1}, {kUnitMol, -1}}}};
  for (int i = 104; i < 133; ++i) {
    Parsed p = Parse(UnitTable[i].definition, false);
    EXPECT_EQ(p.err, kUnitOK) << UnitTable[i].name;
    EXPECT_EQ(p.rec.scale, 1) << UnitTable[i].name;
    EXPECT_EQ(p.rec.offset, 0) << UnitTable[i].name;
    for (const auto& s : some)
      if (s.index == i) {
        EXPECT_EQ(p.Pairs(), s.pairs) << UnitTable[i].name;
      }
  }
}

// ---------------------------------------------------------------- the parser

constexpr int kEnd = -1;  // stopped at the end of the text
constexpr double kAny = std::numeric_limits<double>::quiet_NaN();

struct Case {
  const char* text;
  bool ops;
  int err;
  int stop;
  double scale = 1;
  double offset = 0;
  PairList pairs = {};
};

void Check(const Case& c) {
  Parsed p = Parse(c.text, c.ops);
  std::string what = std::string("\"") + c.text + "\" ops=" + (c.ops ? "1" : "0");
  EXPECT_EQ(p.err, c.err) << what;
  EXPECT_EQ(p.stop, c.stop == kEnd ? int(std::strlen(c.text)) : c.stop) << what;
  if (c.err != kUnitOK) return;
  if (!std::isnan(c.scale)) {
    EXPECT_TRUE(Near(p.rec.scale, c.scale)) << what << " scale " << p.rec.scale;
  }
  EXPECT_TRUE(Near(p.rec.offset, c.offset)) << what << " offset " << p.rec.offset;
  EXPECT_EQ(p.Pairs(), c.pairs) << what;
}

TEST_F(UnitsTest, EdgeCasesOfThePart) {
  const Case cases[] = {
      // A prefix is read only when no symbol matches.
      {"km", false, 0, kEnd, 1000, 0, {{M, 1}}},
      {"min", false, 0, kEnd, 60, 0, {{S, 1}}},
      {"mm^2", false, 0, kEnd, 1e-6, 0, {{M, 2}}},
      {"kg", false, 0, kEnd, 1, 0, {{KG, 1}}},
      {"mkg", false, 5, 1},
      {"g", false, 0, kEnd, 0.001, 0, {{KG, 1}}},
      {"degF", false, 0, kEnd, 5.0 / 9, 459.67, {{K, 1}}},
      {"degC^2", false, 1, kEnd},
      {"N/m^2", false, 0, kEnd, 1, 0, {{S, -2}, {M, -1}, {KG, 1}}},
      {"Pa", false, 0, kEnd, 1, 0, {{S, -2}, {M, -1}, {KG, 1}}},
      {"m/s", false, 0, kEnd, 1, 0, {{S, -1}, {M, 1}}},
      {"* 2 m", false, 7, 0},
      {"* 2 m", true, 0, kEnd, 2, 0, {{M, 1}}},
      {"$2 m", false, 0, kEnd, 1, 0, {{-2, 1}, {M, 1}}},
      {"m^", false, 4, 2},
      {"foo", false, 5, 1},  // "f" is read as femto
      {"xyz", false, 5, 0},
  };
  for (const Case& c : cases) Check(c);
  EXPECT_EQ(UnitFailures(), 0);
}

TEST_F(UnitsTest, OperatorsAndDivision) {
  const double pi = 3.14159265358979323846;
  const ParsedUnit* pint = RecordOf("pint");
  const Case cases[] = {
      {"", false, 0, 0},
      {"   ", false, 0, 3},
      // A lone "-" is no unit; followed by more it is the operator.
      {"-", false, 0, 1},
      {"  -  ", false, 0, 5},
      {"- m", false, 7, 0},
      {"- m", true, 2, 1},
      {"- 2 m", true, 0, kEnd, 1, -2, {{M, 1}}},
      {"+ 273.15 K", true, 0, kEnd, 1, 273.15, {{K, 1}}},
      {"* 2 + 3 m", true, 0, kEnd, 2, 1.5, {{M, 1}}},
      {"*", true, 2, 1},
      {"* m", true, 2, 1},
      {"+ 2 m", false, 7, 0},
      // "/" and a number divides, and is refused without operators with the
      // cursor after the "/".
      {"m/2", true, 0, kEnd, 0.5, 0, {{M, 1}}},
      {"m/ 2", false, 7, 2},
      {"m/pi", false, 7, 2},
      {"m/pi", true, 0, kEnd, 1 / pi, 0, {{M, 1}}},
      {"* pi rad", true, 0, kEnd, pi, 0, {{RAD, 1}}},
      {"*pi", true, 0, kEnd, pi, 0, {}},
      // "/" without a number divides the next unit; operators may not follow.
      {"/s", false, 0, kEnd, 1, 0, {{S, -1}}},
      {"m / * 2", true, 7, 4},
      {"m / +x", true, 7, 4},
      {"m / -x", true, 7, 4},
      // A signed number after "/" is a divisor.
      {"m / - 2", true, 0, kEnd, -0.5, 0, {{M, 1}}},
      {"m//s", false, 0, kEnd, 1, 0, {{S, -1}, {M, 1}}},
      {"m/s s", false, 0, kEnd, 1, 0, {{M, 1}}},
      {"kg m/s^2", false, 0, kEnd, 1, 0, {{S, -2}, {M, 1}, {KG, 1}}},
      // A symbol that starts with "pi" is no number (a mended fault).
      {"m/pint", false, 0, kEnd, 1 / pint->scale, 0, {{M, -2}}},
      {"m/pint", true, 0, kEnd, 1 / pint->scale, 0, {{M, -2}}},
      // Nor is one that starts with a number word ("nan" in nano-angstrom).
      {"m/nAngstrom", false, 0, kEnd, 1e19, 0, {}},
      // Overflowing numbers and zero divisors give infinities, no trap.
      {"* 1e999 m", true, 0, kEnd, HUGE_VAL, 0, {{M, 1}}},
      {"* 1e99999 m", true, 0, kEnd, HUGE_VAL, 0, {{M, 1}}},
      {"* -1e99999 m", true, 0, kEnd, -HUGE_VAL, 0, {{M, 1}}},
      {"* 1e-99999 m", true, 0, kEnd, 0, 0, {{M, 1}}},
      {"/ 0 m", true, 0, kEnd, HUGE_VAL, 0, {{M, 1}}},
      {"* inf", true, 0, kEnd, HUGE_VAL, 0, {}},
      {"* 1e", true, 5, 3},
      {"* .5", true, 0, kEnd, 0.5, 0, {}},
  };
  for (const Case& c : cases) Check(c);
  EXPECT_EQ(UnitFailures(), 0);
}

TEST_F(UnitsTest, SymbolsPrefixesAndPowers) {
  const Case cases[] = {
      {"k", false, 3, 1},
      {"k ", false, 3, 2},
      {"da", false, 3, 2},
      {"dam", false, 0, kEnd, 10, 0, {{M, 1}}},
      {"dm", false, 0, kEnd, 0.1, 0, {{M, 1}}},
      {"k-m", false, 0, kEnd, 1000, 0, {{M, 1}}},
      {"kmm", false, 5, 1},
      {"kHz", false, 0, kEnd, 1000, 0, {{S, -1}}},
      {"ms^-1", false, 0, kEnd, 1000, 0, {{S, -1}}},
      {"km^-2", false, 0, kEnd, 1e-6, 0, {{M, -2}}},
      {"Em^2", false, 0, kEnd, 1e36, 0, {{M, 2}}},
      {"am^-3", false, 0, kEnd, 1e54, 0, {{M, -3}}},
      {"mi", false, 0, kEnd, 1609.344, 0, {{M, 1}}},
      {"'", false, 0, kEnd, kAny, 0, {{RAD, 1}}},
      {"\" '", false, 0, kEnd, kAny, 0, {{RAD, 2}}},
      {"fl.oz", false, 0, kEnd, kAny, 0, {{M, 3}}},
      {"\tm\t", false, 0, kEnd, 1, 0, {{M, 1}}},
      {"m*s", false, 5, 1},
      {"m *s", false, 7, 2},
      {"m\x01", false, 5, 1},
      // Placeholders.
      {"$", false, 6, 0},
      {"$0", false, 6, 0},
      {"$10", false, 6, 0},
      {"$x", false, 6, 0},
      {"$9", false, 0, kEnd, 1, 0, {{-9, 1}}},
      // A prefix may stand before a placeholder, which is then scaled.
      {"k$3", false, 0, kEnd, 1000, 0, {{-3, 1}}},
      {"m-$7 s", false, 0, kEnd, 1e-3, 0, {{-7, 1}, {S, 1}}},
      {"$3^2 $1 s", false, 0, kEnd, 1, 0, {{-3, 2}, {-1, 1}, {S, 1}}},
      // Powers: signed int16, merged by addition; a zero power leaves no pair.
      {"m^x", false, 4, 2},
      {"m^-", false, 4, 2},
      {"m^+2", false, 0, kEnd, 1, 0, {{M, 2}}},
      {"m^ -2", false, 0, kEnd, 1, 0, {{M, -2}}},
      {"m ^2", false, 0, kEnd, 1, 0, {{M, 2}}},
      {"m^0", false, 0, kEnd, 1, 0, {}},
      {"s m s^-1", false, 0, kEnd, 1, 0, {{M, 1}}},
      {"m^32767", false, 0, kEnd, 1, 0, {{M, 32767}}},
      {"m^-32768", false, 0, kEnd, 1, 0, {{M, -32768}}},
      // Powers outside int16 are refused instead of wrapping (a mended fault).
      {"m^32768", false, 4, 2},
      {"m^40000", false, 4, 2},
      {"m^99999999999", false, 4, 2},
      {"m^30000 m^30000", false, 4, kEnd},
      {"m^-30000 /m^30000", false, 4, kEnd},
      {"/m^-32768", false, 4, kEnd},
      {"N^16384", false, 0, kEnd, 1, 0, {{S, -32768}, {M, 16384}, {KG, 16384}}},
      {"N^-16384", false, 4, kEnd},
      {"N^16000 N^1000", false, 4, kEnd},
      {"l^11000", false, 4, kEnd},
  };
  for (const Case& c : cases) Check(c);
  EXPECT_EQ(UnitFailures(), 0);
}

// A record holds one pair per base unit; a parse that needs more ends with 6
// and writes nothing past the record (a mended fault; the record is an exact
// heap block, so AddressSanitizer would see an overrun).
TEST_F(UnitsTest, FullPairListEndsTheParse) {
  const Case cases[] = {
      {"$1 $2 $3 $4 $5 $6 $7 $8 $9", false, 0, kEnd, 1, 0,
       {{-9, 1}, {-8, 1}, {-7, 1}, {-6, 1}, {-5, 1}, {-4, 1}, {-3, 1}, {-2, 1}, {-1, 1}}},
      {"$1 $2 $3 $4 $5 $6 $7 $8 $9 m", false, 6, kEnd},
      {"$9 $8 $7 $6 $5 $4 $3 $2 $1 kg", false, 6, kEnd},
      {"$1 $2 $3 $4 $5 $6 $7 $8 V", false, 6, kEnd},
      {"$1 $2 $3 $4 $5 $6 $7 $8 $9 $1", false, 0, kEnd, 1, 0,
       {{-9, 1}, {-8, 1}, {-7, 1}, {-6, 1}, {-5, 1}, {-4, 1}, {-3, 1}, {-2, 1}, {-1, 2}}},
      {"$1 $2 $3 $4 $5 J", false, 0, kEnd, 1, 0,
       {{-5, 1}, {-4, 1}, {-3, 1}, {-2, 1}, {-1, 1}, {S, -2}, {M, 2}, {KG, 1}}},
      {"rad sr s m kg A K mol cd", false, 0, kEnd, 1, 0,
       {{RAD, 1}, {SR, 1}, {S, 1}, {M, 1}, {KG, 1}, {A, 1}, {K, 1}, {kUnitMol, 1}, {CD, 1}}},
      {"rad sr s m kg A K mol cd $1", false, 6, kEnd},
  };
  for (const Case& c : cases) Check(c);
}

// Texts cut anywhere: the counted parser never reads past the end (an exact
// heap block), and the cuts the Part names give its codes.
TEST_F(UnitsTest, CutTexts) {
  const char* texts[] = {"km^-2 /s", "$3 m", "* 1.5e-3 kg", "- 32 * 5 / 9 degC", "/4 / pi kA m^-1", "fl.oz", "dam^2"};
  for (const char* t : texts) {
    size_t n = std::strlen(t);
    for (size_t cut = 0; cut <= n; ++cut) {
      std::unique_ptr<uChar[]> buf(new uChar[cut ? cut : 1]);
      std::memcpy(buf.get(), t, cut);
      const uChar* p = buf.get();
      ParsedUnit rec;
      int16 err = ParseUnitExprCounted(&p, buf.get() + cut, &rec, 1);
      EXPECT_GE(err, 0);
      EXPECT_LE(err, 7);
      EXPECT_GE(p, buf.get());
      EXPECT_LE(p, buf.get() + cut);
    }
  }
  const struct {
    const char* text;
    size_t len;
    int err;
  } cuts[] = {{"m^2", 2, 4}, {"$3", 1, 6}, {"km", 1, 3}, {"dam", 2, 3}, {"* 2", 1, 2}, {"m/s", 2, 0}, {"* 1.5", 4, 0}};
  for (const auto& c : cuts) {
    std::unique_ptr<uChar[]> buf(new uChar[c.len]);
    std::memcpy(buf.get(), c.text, c.len);
    const uChar* p = buf.get();
    ParsedUnit rec;
    EXPECT_EQ(ParseUnitExprCounted(&p, buf.get() + c.len, &rec, 1), c.err) << c.text << " cut at " << c.len;
  }
  // The NUL-terminated form stops at the first NUL.
  const uChar text[] = "km\0s";
  const uChar* p = text;
  ParsedUnit rec;
  EXPECT_EQ(ParseUnitExpr(&p, &rec, 0), kUnitOK);
  EXPECT_EQ(p, text + 2);
  EXPECT_EQ(rec.count, 1);
  // No text or no record.
  EXPECT_EQ(ParseUnitExpr(nullptr, &rec, 0), kUnitEndErr);
  const uChar* none = nullptr;
  EXPECT_EQ(ParseUnitExpr(&none, &rec, 0), kUnitEndErr);
  EXPECT_EQ(rec.count, 0);
  EXPECT_EQ(rec.scale, 1);
}

// ---------------------------------------------------------------- start-up failures

TEST_F(UnitsTest, FailingDefinitionsAreWrittenAndReported) {
  UnitRec table[] = {
      {"s", nullptr, nullptr, nullptr},
      {"m", nullptr, nullptr, nullptr},
      {"v", "m/s", nullptr, nullptr},
      {"x", "m/q", nullptr, nullptr},
      {"o", "+ 1 s", nullptr, nullptr},
      {"y", "o^2", nullptr, nullptr},
      {"w", "v^2 s", nullptr, nullptr},
      {nullptr, "m", "a quantity", nullptr},
      {nullptr, nullptr, nullptr, nullptr},
  };
  qxtest::Reports::Get().Clear();
  UnitTableBuild built;
  EXPECT_EQ(UnitsBuildTable(table, &built), kArgErr);
  EXPECT_EQ(built.units, 7);
  EXPECT_EQ(built.baseUnits, 2);
  ASSERT_NE(built.block, nullptr);
  EXPECT_EQ(built.size, 6 * 56);
  std::string text = qxtest::Reports::Get().Text();
  EXPECT_NE(text.find("error 5 on unit conversion:m/q at #q"), std::string::npos) << text;
  EXPECT_NE(text.find("error 1 on unit conversion:o^2 at #"), std::string::npos) << text;
  EXPECT_EQ(UnitFailures(), 2);
  // Records in table order after the unused first one; the good ones built.
  auto* rec = reinterpret_cast<ParsedUnit*>(built.block);
  EXPECT_EQ(table[2].parsed, rec + 1);
  EXPECT_EQ(table[6].parsed, rec + 5);
  EXPECT_EQ(PairsOf(table[6].parsed), (PairList{{0, -1}, {1, 2}}));
  EXPECT_EQ(table[4].parsed->offset, 1);
  // The parser over this table knows only its units.
  const uChar* label = reinterpret_cast<const uChar*>("w^-1 kv");
  const uChar* p = label;
  ParsedUnit r;
  EXPECT_EQ(ParseUnitWith(table, &p, label + 7, &r, 0), kUnitOK);
  EXPECT_EQ(PairsOf(&r), (PairList{{1, -1}}));
  EXPECT_EQ(r.scale, 1000);
  p = reinterpret_cast<const uChar*>("kg");
  EXPECT_EQ(ParseUnitWith(table, &p, p + 2, &r, 0), kUnitUnknownErr);
  AZDisposePtr(built.block);
}

TEST_F(UnitsTest, NoRecordBlockIsReported) {
  UnitRec table[] = {
      {"s", nullptr, nullptr, nullptr},
      {"Hz", "s^-1", nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr},
  };
  qxtest::Reports::Get().Clear();
  UnitTableBuild built;
  MemFailNthAllocation(1);
  EXPECT_EQ(UnitsBuildTable(table, &built), kMemFullErr);
  MemFailNthAllocation(0);
  MemFullReset();
  EXPECT_EQ(built.block, nullptr);
  EXPECT_EQ(built.size, 0);
  EXPECT_EQ(table[1].parsed, nullptr);
  EXPECT_EQ(UnitFailures(), 1);
  EXPECT_NE(qxtest::Reports::Get().Text().find("no memory for the unit records"), std::string::npos);
}

}  // namespace
