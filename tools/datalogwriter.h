// A writer of datalog files for tests and fuzz seeds: the header, the record
// type in file order and the flat records, laid out as records appended one
// at a time are (an index tree of 128-entry blocks for records without a
// fixed size), optionally with one field corrupted.
#pragma once
#include <vector>

#include "tools/tdbuilder.h"

namespace dlw {

enum class Field {
  kNone,
  kCount,         // the header's record count
  kRoot,          // the header's root position
  kIndexEntry,    // entry 0 of the first index block written
  kTypeSize,      // the record type's size word
  kRecordLength,  // the first four bytes of the last record
};

struct Corruption {
  Field field = Field::kNone;
  uInt32 value = 0;
};

// The bytes of a datalog of the given version holding the records (each its
// flat bytes).  fixed: records of a fixed flat size, no index.
std::vector<uChar> Write(int32 version, const tdb::TD& type, const std::vector<std::vector<uChar>>& records,
                         bool fixed, Corruption corrupt = {});

// The flat form of a datum of the type (memory order), in the previous
// form with old 16-bit booleans for version-2 logs.
std::vector<uChar> FlatRecord(const TypeDescriptor* type, const void* data, bool oldBooleans);
// The flat form of a string record.
std::vector<uChar> FlatString(const std::vector<uChar>& text);

}  // namespace dlw
