// Shared set-up of the format and scan benchmarks: the managers and the unit
// table started once, descriptors laid out as compiled code finds them, and
// string handles made from text.
#pragma once
#include <cstring>
#include <string>

#include "engine/datatype.h"
#include "mgsource/memory.h"
#include "rtlib/fmtitems.h"
#include "rtlib/units.h"
#include "start_once.h"

namespace fmtbench {

inline void EnsureInit() {
  static bool once = [] {
    BenchMemInit();
    BenchUnitsInit();
    return true;
  }();
  (void)once;
}

struct SimpleTD {
  uInt16 size;
  uChar code;
  uChar flags;
};
struct StringTD {
  uInt16 size;
  uChar code;
  uChar flags;
  int32 bound;
};
inline const TypeDescriptor* TD(const void* p) { return static_cast<const TypeDescriptor*>(p); }

inline LStrHandle NewStr(const std::string& s) {
  LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + int32(s.size())));
  (*h)->cnt = int32(s.size());
  std::memcpy((*h)->str, s.data(), s.size());
  return h;
}

// An argument list of up to four pairs, as compiled code lays it out.
struct List {
  int32 errIndex;
  FmtArg args[4];
  FmtArgList* Get() { return reinterpret_cast<FmtArgList*>(this); }
};

}  // namespace fmtbench
