// Units of measure: the unit and prefix tables, the start-up that parses the
// derived units' definitions, the unit-text parser and the text of a
// dimension list.
#include "rtlib/units.h"
#include "rtlib/units_internal.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/textnum.h"

// Symbol, definition (none for a base unit).  A definition names only
// earlier units, so one pass in table order parses them all.
UnitRec UnitTable[kUnitCount + kUnitQuantityCount + 1] = {
    {"rad", nullptr, nullptr, nullptr},
    {"sr", nullptr, nullptr, nullptr},
    {"s", nullptr, nullptr, nullptr},
    {"m", nullptr, nullptr, nullptr},
    {"kg", nullptr, nullptr, nullptr},
    {"A", nullptr, nullptr, nullptr},
    {"K", nullptr, nullptr, nullptr},
    {"mol", nullptr, nullptr, nullptr},
    {"cd", nullptr, nullptr, nullptr},
    {"g", "/ 1000 kg", nullptr, nullptr},
    {"Hz", "s^-1", nullptr, nullptr},
    {"N", "kg m/s^2", nullptr, nullptr},
    {"Pa", "N/m^2", nullptr, nullptr},
    {"J", "N m", nullptr, nullptr},
    {"W", "J/s", nullptr, nullptr},
    {"C", "A s", nullptr, nullptr},
    {"V", "W/A", nullptr, nullptr},
    {"F", "C/V", nullptr, nullptr},
    {"Ohm", "V/A", nullptr, nullptr},
    {"S", "A/V", nullptr, nullptr},
    {"Wb", "V s", nullptr, nullptr},
    {"T", "Wb/m^2", nullptr, nullptr},
    {"H", "Wb/A", nullptr, nullptr},
    {"lm", "cd sr", nullptr, nullptr},
    {"lx", "lm/m^2", nullptr, nullptr},
    {"degC", "+ 273.15 K", nullptr, nullptr},
    {"Bq", "s^-1", nullptr, nullptr},
    {"Gy", "J/kg", nullptr, nullptr},
    {"Sv", "J/kg", nullptr, nullptr},
    {"min", "* 60 s", nullptr, nullptr},
    {"h", "* 60 min", nullptr, nullptr},
    {"d", "* 24 h", nullptr, nullptr},
    {"deg", "/ 180 * pi rad", nullptr, nullptr},
    {"'", "/ 60 deg", nullptr, nullptr},
    {"\"", "/ 60 '", nullptr, nullptr},
    {"l", "/ 1000 m^3", nullptr, nullptr},
    {"t", "* 1000 kg", nullptr, nullptr},
    {"ha", "* 10000 m^2", nullptr, nullptr},
    {"eV", "* 1.602e-19 J", nullptr, nullptr},
    {"u", "* 1.66057e-27 kg", nullptr, nullptr},
    {"b", "* 1e-24 cm^2", nullptr, nullptr},
    {"dyn", "g cm s^-2", nullptr, nullptr},
    {"erg", "dyn cm", nullptr, nullptr},
    {"bar", "* 1e6 dyn cm^-2", nullptr, nullptr},
    {"Mx", "/ 1e8 Wb", nullptr, nullptr},
    {"Gs", "/ 1e4 T", nullptr, nullptr},
    {"Oe", "/4 / pi kA m^-1", nullptr, nullptr},
    {"emu", "/ 1000 A m^2", nullptr, nullptr},
    {"Rad", "* 1e-2 J/kg", nullptr, nullptr},
    {"degF", "- 32 * 5 / 9 degC", nullptr, nullptr},
    {"Cdeg", "K", nullptr, nullptr},
    {"Fdeg", "* 5 / 9 Cdeg", nullptr, nullptr},
    {"a", "* 365.2531897 d", nullptr, nullptr},
    {"lb", "* .45359237 kg", nullptr, nullptr},
    {"oz", "/ 16 lb", nullptr, nullptr},
    {"dr", "/ 16 oz", nullptr, nullptr},
    {"slug", "* 32.174 lb", nullptr, nullptr},
    {"stone", "* 14 lb", nullptr, nullptr},
    {"ton", "* 2000 lb", nullptr, nullptr},
    {"Ton", "* 2240 lb", nullptr, nullptr},
    {"gr", "/ 7000 lb", nullptr, nullptr},
    {"CM", "* 200 mg", nullptr, nullptr},
    {"fermi", "fm", nullptr, nullptr},
    {"Angstrom", "/ 1e10 m", nullptr, nullptr},
    {"ft", "* 0.3048 m", nullptr, nullptr},
    {"in", "/ 12 ft", nullptr, nullptr},
    {"line", "/ 12 in", nullptr, nullptr},
    {"cubit", "* 20.6 in", nullptr, nullptr},
    {"rod", "* 16.5 ft", nullptr, nullptr},
    {"mi", "* 5280 ft", nullptr, nullptr},
    {"yd", "* 3 ft", nullptr, nullptr},
    {"chain", "* 22 yd", nullptr, nullptr},
    {"furlong", "* 10 chain", nullptr, nullptr},
    {"fathom", "* 2 yd", nullptr, nullptr},
    {"AU", "* 149498845000 m", nullptr, nullptr},
    {"ly", "* 9.4605 Pm", nullptr, nullptr},
    {"hubble", "Gly", nullptr, nullptr},
    {"acre", "* 43560 ft^2", nullptr, nullptr},
    {"UKgal", "* 4.54596 l", nullptr, nullptr},
    {"gal", "/ 1.20094 UKgal", nullptr, nullptr},
    {"quart", "/ 4 gal", nullptr, nullptr},
    {"pint", "/ 2 quart", nullptr, nullptr},
    {"gill", "/ 4 pint", nullptr, nullptr},
    {"fl.oz", "/ 4 gill", nullptr, nullptr},
    {"fl.dr", "/ 32 gill", nullptr, nullptr},
    {"minim", "/ 1920 gill", nullptr, nullptr},
    {"barrel", "* 42 gal", nullptr, nullptr},
    {"bushel", "* 8 gal", nullptr, nullptr},
    {"peck", "/ 4 bushel", nullptr, nullptr},
    {"kn", "* 1852 m h^-1", nullptr, nullptr},
    {"lbf", "* 4.448 N", nullptr, nullptr},
    {"atm", "* 1.01325 bar", nullptr, nullptr},
    {"torr", "/ 760 atm", nullptr, nullptr},
    {"m.Hg", "ktorr", nullptr, nullptr},
    {"psi", "lbf in^-2", nullptr, nullptr},
    {"cal", "* 4.184 J", nullptr, nullptr},
    {"Btu", "* 1055.79 J", nullptr, nullptr},
    {"hp", "* 745.7 W", nullptr, nullptr},
    {"P", "g cm^-1 s^-1", nullptr, nullptr},
    {"fc", "* 10.764 lx", nullptr, nullptr},
    {"r", "* 2.58e-4 C/kg", nullptr, nullptr},
    {"rem", "Rad", nullptr, nullptr},
    {"Ci", "* 3.7e10 s^-1", nullptr, nullptr},
    {"dpt", "m^-1", nullptr, nullptr},
    // The named derived quantities.
    {nullptr, "m^2", "area", nullptr},
    {nullptr, "m^3", "volume", nullptr},
    {nullptr, "m/s", "velocity", nullptr},
    {nullptr, "m/s^2", "acceleration", nullptr},
    {nullptr, "m^-1", "wave number", nullptr},
    {nullptr, "kg/m^3", "mass density", nullptr},
    {nullptr, "m^3 kg^-1", "specific volume", nullptr},
    {nullptr, "A/m^2", "current density", nullptr},
    {nullptr, "A/m", "magnetic field strength", nullptr},
    {nullptr, "mol/m^3", "concentration", nullptr},
    {nullptr, "cd/m^2", "luminance", nullptr},
    {nullptr, "Pa s", "dynamic viscosity", nullptr},
    {nullptr, "N m", "moment of force", nullptr},
    {nullptr, "N/m", "surface tension", nullptr},
    {nullptr, "W/m^2", "irradiance", nullptr},
    {nullptr, "J/K", "entropy", nullptr},
    {nullptr, "J kg^-1 K^-1", "specific entropy", nullptr},
    {nullptr, "J/kg", "specific energy", nullptr},
    {nullptr, "W m^-1 K^-1", "thermal conductivity", nullptr},
    {nullptr, "J/m^3", "energy density", nullptr},
    {nullptr, "V/m", "electric field strength", nullptr},
    {nullptr, "C/m^3", "electric charge density", nullptr},
    {nullptr, "C/m^2", "electric flux density", nullptr},
    {nullptr, "F/m", "permittivity", nullptr},
    {nullptr, "H/m", "permeability", nullptr},
    {nullptr, "J/mol", "molar energy", nullptr},
    {nullptr, "J mol^-1 K^-1", "molar entropy", nullptr},
    {nullptr, "C/kg", "exposure", nullptr},
    {nullptr, "Gy/s", "absorbed dose rate", nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

const UnitPrefix UnitPrefixTable[kUnitPrefixCount] = {
    {"", 0},    {"a", -18}, {"f", -15}, {"p", -12}, {"n", -9}, {"u", -6}, {"m", -3}, {"c", -2}, {"d", -1},
    {"da", 1},  {"h", 2},   {"k", 3},   {"M", 6},   {"G", 9},  {"T", 12}, {"P", 15}, {"E", 18},
};

namespace {

constexpr uChar kDecimalPt = '.';
constexpr int32 kDeca = 9;
constexpr int32 kHecto = 10;
constexpr int32 kMilli = 6;
constexpr int32 kCenti = 7;
constexpr int32 kDeci = 8;
constexpr int32 kExa = 16;

// Built once by UnitsInit; read-only afterwards.
std::mutex gInitLock;
std::atomic<bool> gBuilt{false};
UPtr gBlock = nullptr;
int32 gBlockSize = 0;
int32 gUnits = 0;
int32 gBaseUnits = 0;

inline bool Built() { return gBuilt.load(std::memory_order_acquire); }

inline bool IsBlank(uChar c) { return c == ' ' || c == '\t'; }
inline bool IsLetter(uChar c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool IsDigitCh(uChar c) { return c >= '0' && c <= '9'; }

inline const uChar* SkipBlanks(const uChar* p, const uChar* end) {
  while (p < end && IsBlank(*p)) ++p;
  return p;
}

// Exact powers of ten up to 1e22; beyond them the scale is multiplied or
// divided in steps (the result overflows to infinity or to 0 without a trap).
void ScaleByPow10(float64* scale, int32 e) {
  static const float64 kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  constexpr int32 kMaxExact = 22;
  bool down = e < 0;
  int32 n = down ? -e : e;
  while (n > 0 && std::isfinite(*scale) && *scale != 0) {
    int32 step = n > kMaxExact ? kMaxExact : n;
    if (down) *scale /= kPow10[step];
    else *scale *= kPow10[step];
    n -= step;
  }
}

// A number word ("inf", "nan") glued to a following letter is the start of
// a symbol, not a number.
bool WordRunsOn(const uChar* numEnd, const uChar* end) {
  return IsLetter(numEnd[-1]) && numEnd < end && IsLetter(*numEnd);
}

// The value of the number text [p, q) that SkipNumText found.  An exponent too
// long for the converter is pinned, so an overflowing number is an infinity
// (or 0) as any other out-of-range number is.
float64 NumberValue(const uChar* p, const uChar* q) {
  float64 v = 0;
  if (TextToNumFmt(p, int32(q - p), kNumDBL, &v, 0, 0, nullptr, kDecimalPt)) return v;
  std::string t(reinterpret_cast<const char*>(p), size_t(q - p));
  size_t e = t.find_last_of("eE");
  if (e != std::string::npos) {
    size_t d = t.find_first_of("0123456789", e);
    if (d != std::string::npos) {
      size_t stop = t.find_first_not_of("0123456789", d);
      if (stop == std::string::npos) stop = t.size();
      if (stop - d > 4) t.replace(d, stop - d, "9999");
    }
  }
  v = 0;
  TextToNumFmt(reinterpret_cast<const uChar*>(t.data()), int32(t.size()), kNumDBL, &v, 0, 0, nullptr, kDecimalPt);
  return v;
}

// ParseUnitNumber: blanks, then "pi" (not followed by a letter) or decimal
// text with "." as the point and an optional exponent.  2 when there is none.
int16 ParseUnitNumber(const uChar** cursor, const uChar* end, float64* value) {
  const uChar* p = SkipBlanks(*cursor, end);
  if (end - p >= 2 && p[0] == 'p' && p[1] == 'i' && !(end - p > 2 && IsLetter(p[2]))) {
    *value = M_PI;
    *cursor = p + 2;
    return kUnitOK;
  }
  const uChar* q = SkipNumText(p, int32(end - p), kDecimalPt);
  if (q == p || WordRunsOn(q, end)) return kUnitNumberErr;
  *value = NumberValue(p, q);
  *cursor = q;
  return kUnitOK;
}

// The index of the longest unit symbol at p that is followed by the end, a
// blank, "^" or "/"; -1 when none is.
int32 MatchSymbol(const UnitRec* table, const uChar* p, const uChar* end) {
  int32 best = -1;
  size_t bestLen = 0;
  for (int32 i = 0; table[i].symbol; ++i) {
    const char* s = table[i].symbol;
    size_t n = std::strlen(s);
    if (size_t(end - p) < n || n <= bestLen || std::memcmp(p, s, n) != 0) continue;
    const uChar* after = p + n;
    if (after < end && !IsBlank(*after) && *after != '^' && *after != '/') continue;
    best = i;
    bestLen = n;
  }
  return best;
}

// ParseUnitSymbol: blanks, then "$" with a number 1 to 9 (placeholder code
// -1 to -9) or a unit symbol (its code).  On failure the cursor is left where
// the symbol was expected.
int16 ParseUnitSymbol(const UnitRec* table, const uChar** cursor, const uChar* end, int32* code) {
  const uChar* p = SkipBlanks(*cursor, end);
  *cursor = p;
  if (p == end) return kUnitEndErr;
  if (*p == '$') {
    const uChar* q = p + 1;
    int32 n = 0;
    while (q < end && IsDigitCh(*q)) {
      if (n <= kPlaceholderCount) n = n * 10 + (*q - '0');
      ++q;
    }
    if (q == p + 1 || n < 1 || n > kPlaceholderCount) return kUnitPlaceholderErr;
    *code = -n;
    *cursor = q;
    return kUnitOK;
  }
  int32 i = MatchSymbol(table, p, end);
  if (i < 0) return kUnitUnknownErr;
  *code = i;
  *cursor = p + std::strlen(table[i].symbol);
  return kUnitOK;
}

// ParseUnitPrefix: the prefix at the cursor, tried from "E" down to "a"
// ("da" needs both letters), and a "-" right after it; 0 (the text as it
// was) when none matches.
int32 ParseUnitPrefix(const uChar** cursor, const uChar* end) {
  const uChar* p = *cursor;
  for (int32 i = kUnitPrefixCount - 1; i >= 1; --i) {
    const char* t = UnitPrefixTable[i].text;
    size_t n = std::strlen(t);
    if (size_t(end - p) < n || std::memcmp(p, t, n) != 0) continue;
    p += n;
    if (p < end && *p == '-') ++p;
    *cursor = p;
    return i;
  }
  return 0;
}

// ParseUnitPower: blanks, then "^" and a signed decimal int16; power 1 and
// the cursor unmoved when there is no "^".  4 for "^" without a power or a
// power outside int16.
int16 ParseUnitPower(const uChar** cursor, const uChar* end, int32* power) {
  const uChar* p = SkipBlanks(*cursor, end);
  *power = 1;
  if (p == end || *p != '^') return kUnitOK;
  p = SkipBlanks(p + 1, end);
  *cursor = p;
  bool neg = false;
  if (p < end && (*p == '-' || *p == '+')) neg = *p++ == '-';
  if (p == end || !IsDigitCh(*p)) return kUnitPowerErr;
  int32 v = 0;
  bool over = false;
  for (; p < end && IsDigitCh(*p); ++p) {
    v = v * 10 + (*p - '0');
    if (v > 32768) {
      over = true;
      v = 32768;
    }
  }
  if (neg) v = -v;
  if (over || v < -32768 || v > 32767) return kUnitPowerErr;
  *power = v;
  *cursor = p;
  return kUnitOK;
}

// Adds power to the pair of code, keeping the pairs ascending with no zero
// power.  4 when the merged power leaves int16, 6 when a new pair would not
// fit the record; the record is unchanged then.
int16 MergePair(ParsedUnit* rec, int32 code, int32 power) {
  if (power < -32768 || power > 32767) return kUnitPowerErr;
  int32 n = rec->count;
  int32 i = 0;
  while (i < n && rec->pairs[i].code < code) ++i;
  if (i < n && rec->pairs[i].code == code) {
    int32 sum = rec->pairs[i].power + power;
    if (sum < -32768 || sum > 32767) return kUnitPowerErr;
    if (sum != 0) {
      rec->pairs[i].power = int16(sum);
    } else {
      std::memmove(&rec->pairs[i], &rec->pairs[i + 1], size_t(n - i - 1) * sizeof(UnitPair));
      rec->count = int16(n - 1);
    }
    return kUnitOK;
  }
  if (power == 0) return kUnitOK;
  if (n >= kBaseUnitCount) return kUnitPlaceholderErr;
  std::memmove(&rec->pairs[i + 1], &rec->pairs[i], size_t(n - i) * sizeof(UnitPair));
  rec->pairs[i].code = int16(code);
  rec->pairs[i].power = int16(power);
  rec->count = int16(n + 1);
  return kUnitOK;
}

// One unit term at *cursor: a symbol (or prefix and symbol) with its power,
// folded into rec.  *divide is the pending division, consumed here.
int16 ParseUnitTerm(const UnitRec* table, const uChar** cursor, const uChar* end, ParsedUnit* rec, bool* divide) {
  int32 code = 0;
  int32 prefix = 0;
  int16 err = ParseUnitSymbol(table, cursor, end, &code);
  if (err == kUnitUnknownErr) {
    prefix = ParseUnitPrefix(cursor, end);
    err = ParseUnitSymbol(table, cursor, end, &code);
    if (err == kUnitOK && prefix != 0 && code >= 0 && std::strcmp(table[code].symbol, "kg") == 0) {
      *cursor -= 2;
      return kUnitUnknownErr;
    }
  }
  if (err != kUnitOK) return err;
  int32 power = 1;
  err = ParseUnitPower(cursor, end, &power);
  if (err != kUnitOK) return err;
  if (*divide) {
    power = -power;
    *divide = false;
    if (power > 32767) return kUnitPowerErr;
  }
  if (prefix != 0) ScaleByPow10(&rec->scale, UnitPrefixTable[prefix].power * power);
  if (code < 0 || !table[code].definition) return MergePair(rec, code, power);
  const ParsedUnit* r = table[code].parsed;
  if (!r) {
    DBAssert(__FILE__, __LINE__, "a derived unit has no parsed record");
    return kUnitUnknownErr;
  }
  if (r->offset != 0 && power != 1) return kUnitOffsetPowerErr;
  rec->offset += r->offset / rec->scale;
  rec->scale *= power == 1 ? r->scale : std::pow(r->scale, float64(power));
  for (int32 i = 0; i < r->count && err == kUnitOK; ++i)
    err = MergePair(rec, r->pairs[i].code, int32(r->pairs[i].power) * power);
  return err;
}

// True when only blanks follow p.
bool OnlySpacesAfter(const uChar* p, const uChar* end) {
  while (p < end && *p == ' ') ++p;
  return p == end;
}

}  // namespace

int16 ParseUnitWith(const UnitRec* table, const uChar** cursor, const uChar* end, ParsedUnit* rec,
                    Bool32 allowOperators) {
  rec->offset = 0;
  rec->scale = 1;
  rec->count = 0;
  const uChar* p = *cursor;
  if (!p || end < p) return kUnitEndErr;
  while (p < end && *p == ' ') ++p;
  // A lone "-" stands for no unit.
  if (p < end && *p == '-' && OnlySpacesAfter(p + 1, end)) {
    *cursor = end;
    return kUnitOK;
  }
  bool divide = false;
  int16 err = kUnitOK;
  while (p < end) {
    uChar c = *p;
    if (IsBlank(c)) {
      ++p;
      continue;
    }
    if (c == '*' || c == '+' || c == '-') {
      if (!allowOperators || divide) {
        err = kUnitOperatorErr;
        break;
      }
      const uChar* q = p + 1;
      float64 v = 0;
      err = ParseUnitNumber(&q, end, &v);
      p = q;
      if (err != kUnitOK) break;
      if (c == '*') rec->scale *= v;
      else if (c == '+') rec->offset += v / rec->scale;
      else rec->offset -= v / rec->scale;
      continue;
    }
    if (c == '/') {
      const uChar* q = p + 1;
      float64 v = 0;
      if (ParseUnitNumber(&q, end, &v) == kUnitOK) {
        if (!allowOperators) {
          p += 1;
          err = kUnitOperatorErr;
          break;
        }
        rec->scale /= v;
      } else {
        divide = true;
      }
      p = q;
      continue;
    }
    err = ParseUnitTerm(table, &p, end, rec, &divide);
    if (err != kUnitOK) break;
  }
  *cursor = p;
  return err;
}

int16 ParseUnitExprCounted(const uChar** cursor, const uChar* end, ParsedUnit* rec, Bool32 allowOperators) {
  return ParseUnitWith(UnitTable, cursor, end, rec, allowOperators);
}

int16 ParseUnitExpr(const uChar** cursor, ParsedUnit* rec, Bool32 allowOperators) {
  if (!cursor || !*cursor || !rec) {
    if (rec) {
      rec->offset = 0;
      rec->scale = 1;
      rec->count = 0;
    }
    return kUnitEndErr;
  }
  const uChar* end = *cursor + std::strlen(reinterpret_cast<const char*>(*cursor));
  return ParseUnitExprCounted(cursor, end, rec, allowOperators);
}

MgErr UnitsBuildTable(UnitRec* table, UnitTableBuild* out) {
  *out = UnitTableBuild{};
  int32 units = 0, base = 0;
  while (table[units].symbol) {
    if (!table[units].definition) ++base;
    ++units;
  }
  out->units = units;
  out->baseUnits = base;
  int32 records = units - base + 1;
  UPtr block = AZNewPClr(records * kParsedUnitSize);
  if (!block) {
    DBAssert(__FILE__, __LINE__, "no memory for the unit records");
    return kMemFullErr;
  }
  out->block = block;
  out->size = records * kParsedUnitSize;
  // Record 0 stays cleared; the derived units' records follow in table order.
  int32 next = 1;
  MgErr result = kNoErr;
  for (int32 i = 0; i < units; ++i) {
    UnitRec& u = table[i];
    if (!u.definition) continue;
    auto* rec = reinterpret_cast<ParsedUnit*>(block + next++ * kParsedUnitSize);
    const uChar* p = reinterpret_cast<const uChar*>(u.definition);
    const uChar* end = p + std::strlen(u.definition);
    int16 err = ParseUnitWith(table, &p, end, rec, 1);
    u.parsed = rec;
    if (err != kUnitOK) {
      DBPrintf("error %ld on unit conversion:%s at #%s", long(err), u.definition, reinterpret_cast<const char*>(p));
      DBAssert(__FILE__, __LINE__, "a unit definition does not parse");
      result = kArgErr;
    }
  }
  return result;
}

MgErr UnitsInit() {
  if (Built()) return kNoErr;
  std::lock_guard<std::mutex> guard(gInitLock);
  if (gBuilt.load(std::memory_order_relaxed)) return kNoErr;
  UnitTableBuild built;
  MgErr err = UnitsBuildTable(UnitTable, &built);
  if (!built.block) return err;
  // A record holds one pair per base unit.
  if (built.units != kUnitCount || built.baseUnits != kBaseUnitCount ||
      ((built.baseUnits * 4 + 18 + 7) & ~7) != kParsedUnitSize)
    DBAssert(__FILE__, __LINE__, "the unit table does not have the expected units");
  gBlock = built.block;
  gBlockSize = built.size;
  gUnits = built.units;
  gBaseUnits = built.baseUnits;
  gBuilt.store(true, std::memory_order_release);
  return err;
}

int32 UnitsCounted() { return Built() ? gUnits : 0; }
int32 BaseUnitsCounted() { return Built() ? gBaseUnits : 0; }

const ParsedUnit* UnitRecordBlock(int32* size) {
  bool built = Built();
  if (size) *size = built ? gBlockSize : 0;
  return built ? reinterpret_cast<const ParsedUnit*>(gBlock) : nullptr;
}

namespace {

// Appends to the text being built (or only counts when out is null).
struct TextOut {
  char* out;
  int32 len = 0;
  void Put(const char* s) {
    size_t n = std::strlen(s);
    if (out) std::memcpy(out + len, s, n);
    len += int32(n);
  }
  void PutInt(int32 v) {
    char buf[16];
    int32 n = 0;
    uInt32 u = v < 0 ? 0u - uInt32(v) : uInt32(v);
    do {
      buf[n++] = char('0' + u % 10);
      u /= 10;
    } while (u);
    if (v < 0) buf[n++] = '-';
    char rev[16];
    for (int32 i = 0; i < n; ++i) rev[i] = buf[n - 1 - i];
    rev[n] = 0;
    Put(rev);
  }
  int32 Finish() {
    if (out) out[len] = 0;
    return len;
  }
};

// The prefix shown for a prefixed "kg" written as "g": one decade of three
// up (milli-kilogram is the gram).
int32 GramPrefix(int32 prefix) {
  if (prefix == kMilli) return 0;
  if (prefix == kCenti) return kDeca;
  if (prefix == kDeci) return kHecto;
  if (prefix < kExa && prefix != kDeca && prefix != kHecto) return prefix + 1;
  return prefix;
}

}  // namespace

int32 UnitDimsToText(const int16* dims, char* text) {
  TextOut o{text};
  int32 count = dims ? dims[0] : 0;
  const int32 base = kBaseUnitCount;
  for (int32 i = 0; i < count; ++i) {
    int32 code = dims[1 + 2 * i];
    int32 power = dims[2 + 2 * i];
    if (i > 0) o.Put(" ");
    if (code >= -1022 && code <= -1) {
      o.Put("$");
      o.PutInt(-code);
    } else {
      int32 prefix = (code >> 10) & 31;
      int32 unit = code & 1023;
      bool bad = code < 0 || prefix >= kUnitPrefixCount || unit > base;
      if (bad) DBAssert(__FILE__, __LINE__, "a unit code out of range");
      if (bad || unit >= base) {
        o.Put("??");
      } else {
        const char* symbol = UnitTable[unit].symbol;
        if (unit == kUnitKg && prefix != 0) {
          prefix = GramPrefix(prefix);
          symbol = "g";
        }
        o.Put(UnitPrefixTable[prefix].text);
        o.Put(symbol);
      }
    }
    if (power != 1) {
      o.Put("^");
      o.PutInt(power);
    }
  }
  return o.Finish();
}

int32 UnitRecToText(const int16* dims, char* text) {
  int32 count = dims ? dims[0] : 0;
  if (Built() && count >= 0 && count <= kBaseUnitCount) {
    for (int32 i = gBaseUnits; i < gUnits; ++i) {
      const ParsedUnit* r = UnitTable[i].parsed;
      if (!r || r->offset != 0 || r->scale != 1 || r->count != count) continue;
      if (std::memcmp(r->pairs, dims + 1, size_t(count) * sizeof(UnitPair)) != 0) continue;
      TextOut o{text};
      o.Put(UnitTable[i].symbol);
      return o.Finish();
    }
  }
  return UnitDimsToText(dims, text);
}

int32 ParseUnitForDims(const char* text, float64* offset, float64* scale, const void* typeRef) {
  if (offset) *offset = 0;
  if (scale) *scale = 0;
  if (!text || !typeRef) return 0;
  ParsedUnit rec;
  const uChar* p = reinterpret_cast<const uChar*>(text);
  if (ParseUnitExpr(&p, &rec, 0) != kUnitOK) return 0;
  // The count first: the list is no longer than its own count says.
  const uChar* dims = static_cast<const uChar*>(typeRef) + 4;
  if (std::memcmp(dims, &rec.count, sizeof(int16)) != 0) return 0;
  if (std::memcmp(dims + sizeof(int16), rec.pairs, size_t(rec.count) * sizeof(UnitPair)) != 0) return 0;
  if (offset) *offset = rec.offset;
  if (scale) *scale = rec.scale;
  return 1;
}
