// The steps of the unit table's start-up and of the parser over a given
// table, for the start-up itself and for the tests of its failure paths.
#pragma once
#include "rtlib/units.h"

// What building a table's records made: the record block (records of
// kParsedUnitSize bytes, the first unused, then one per derived unit in table
// order) and its size, and the units and base units counted.
struct UnitTableBuild {
  UPtr block = nullptr;
  int32 size = 0;
  int32 units = 0;
  int32 baseUnits = 0;
};

// Counts the units of table (up to the first entry without a symbol), takes
// a cleared block from the application zone and parses every definition, in
// table order, into the next record.  A definition that fails is written to
// the debug output and reported (result 1); no block is reported (result 2).
MgErr UnitsBuildTable(UnitRec* table, UnitTableBuild* out);

// ParseUnitExprCounted over the units of table.
int16 ParseUnitWith(const UnitRec* table, const uChar** cursor, const uChar* end, ParsedUnit* rec,
                    Bool32 allowOperators);
