// Units of measure: the table of units and prefixes, and the parser that
// reduces a unit text (a unit label, the unit of a format specifier, a
// definition of the table) to a scale, an offset and powers of base units.
//
// The table is built once by UnitsInit at start-up and only read afterwards.
// Every parse writes into a record its caller owns, so parses on different
// threads never share state.
#pragma once
#include "mgsource/extcode.h"

// The shape of the table: 104 units, the first 9 of them base units, then
// the named derived quantities.
enum : int32 {
  kUnitCount = 104,
  kBaseUnitCount = 9,
  kUnitQuantityCount = 29,
  kUnitPrefixCount = 17,  // index 0 is no prefix
  kPlaceholderCount = 9,  // "$1" ... "$9", codes -1 ... -9
};

// Codes of the base units (a unit's code is its index in the table).
enum : int16 {
  kUnitRad = 0,
  kUnitSr = 1,
  kUnitS = 2,
  kUnitM = 3,
  kUnitKg = 4,
  kUnitA = 5,
  kUnitK = 6,
  kUnitMol = 7,
  kUnitCd = 8,
};

// Results of ParseUnitExpr.
enum : int16 {
  kUnitOK = 0,
  kUnitOffsetPowerErr = 1,  // a unit with an offset raised to a power
  kUnitNumberErr = 2,       // a number was expected
  kUnitEndErr = 3,          // the text ended where a unit was expected
  kUnitPowerErr = 4,        // "^" without a power, or a power outside int16
  kUnitUnknownErr = 5,      // unknown unit, or a prefix on "kg"
  kUnitPlaceholderErr = 6,  // bad placeholder, or more pairs than a record holds
  kUnitOperatorErr = 7,     // operator not allowed here
};

// One factor of a unit: a base unit (code 0 to 8) or placeholder (-1 to -9)
// and its power.  In a list given for display a non-negative code may carry
// a prefix index in bits 10 to 14 over the unit index in bits 0 to 9.
struct UnitPair {
  int16 code;
  int16 power;
};
static_assert(sizeof(UnitPair) == 4, "pair layout");

// A unit reduced to base units: base value = (value + offset) * scale.  The
// pairs are ascending by code and hold no zero power.  The count and pairs
// have the layout of the list that follows the first four bytes of the type
// descriptor of a numeric with a unit, so the two compare byte for byte.
struct ParsedUnit {
  float64 offset;
  float64 scale;
  int16 count;
  UnitPair pairs[kBaseUnitCount];
};
// A record: base units * 4 + 18 bytes, rounded up to a double's alignment.
enum : int32 { kParsedUnitSize = (kBaseUnitCount * 4 + 18 + 7) & ~7 };
static_assert(sizeof(ParsedUnit) == kParsedUnitSize, "record size");
// Records lie in blocks of the memory manager, which aligns to 4 bytes.
static_assert(alignof(ParsedUnit) == 4, "record alignment");
static_assert(offsetof(ParsedUnit, offset) == 0, "offset field");
static_assert(offsetof(ParsedUnit, scale) == 8, "scale field");
static_assert(offsetof(ParsedUnit, count) == 16, "count field");
static_assert(offsetof(ParsedUnit, pairs) == 18, "pairs field");

// The dimension list of a record: its count followed by its pairs.
inline const int16* UnitDims(const ParsedUnit* rec) { return &rec->count; }

// One entry of the unit table.  A unit has a symbol, and a definition unless
// it is a base unit; its parsed record is filled by UnitsInit (null for a
// base unit).  The entries after the units are the named derived quantities:
// no symbol, a name and a unit text (in definition).
struct UnitRec {
  const char* symbol;
  const char* definition;
  const char* name;
  ParsedUnit* parsed;
};

// One prefix: its text and its power of ten.
struct UnitPrefix {
  const char* text;
  int16 power;
};

// The units, then the quantities, then an empty entry.
extern UnitRec UnitTable[kUnitCount + kUnitQuantityCount + 1];
// Index 0 is no prefix; "a" -18 at 1 up to "E" 18 at 16.
extern const UnitPrefix UnitPrefixTable[kUnitPrefixCount];

// The string lists of the run-time resource file that name the units: entry
// N for unit number N (code N - 1).
#define kUnitNamesListName "_Units: Unit Names"
#define kUnitQuantitiesListName "_Units: Quantity Names"
enum : int32 { kUnitNamesListId = 320, kUnitQuantitiesListId = 321 };

// Builds the table's parsed records (once; later calls do nothing).  A
// definition that does not parse is written to the debug output and reported
// as an assertion failure; so is a record block that cannot be had, which
// gives 2.  Runs at start-up before any format or label work.
MgErr UnitsInit();
// The units, and the base units among them, counted by UnitsInit (0 before).
int32 UnitsCounted();
int32 BaseUnitsCounted();
// The cleared block of parsed records (its first record is not used by the
// table) and its size in bytes; null before UnitsInit.
const ParsedUnit* UnitRecordBlock(int32* size);

// Parses the unit text at *cursor, which ends at the first NUL, into rec
// (which starts as offset 0, scale 1, no pairs).  Operators ("*", "+", "-"
// and "/" with numbers) are refused unless allowOperators is set.  The
// cursor is left where parsing stopped; the result is one of the codes above.
int16 ParseUnitExpr(const uChar** cursor, ParsedUnit* rec, Bool32 allowOperators);
// The same for a counted text: nothing at or past end is read.
int16 ParseUnitExprCounted(const uChar** cursor, const uChar* end, ParsedUnit* rec, Bool32 allowOperators);

// The text of a dimension list (an int16 count, then the pairs): items
// separated by one space, each the prefix and symbol ("$" and the number for
// a placeholder) and "^" with the power when it is not 1.  Writes the text
// and a terminating NUL when text is not null; returns the text's length.
int32 UnitDimsToText(const int16* dims, char* text);
// The symbol of the first derived unit whose record has offset 0, scale 1
// and the same pairs; otherwise UnitDimsToText.
int32 UnitRecToText(const int16* dims, char* text);

// 1 when the NUL-terminated text parses without operators and its pairs equal
// the dimension list whose count lies 4 bytes after typeRef (as in the type
// descriptor of a numeric with a unit), with the parsed offset and scale
// stored; else 0 with both outputs 0.  Either output may be null.
int32 ParseUnitForDims(const char* text, float64* offset, float64* scale, const void* typeRef);
