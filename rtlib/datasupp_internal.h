// What the array and data support functions of the run-time library share:
// their reports and the TD reached through a TD handle and an offset.
#pragma once
#include "engine/datatype.h"
#include "mgsource/debug.h"

namespace dsupp {

// Every report of the array and data support functions names this source.
constexpr char kSource[] = "datasupp";
#define DSUPP_ASSERT(text) DBAssert(dsupp::kSource, __LINE__, (text))

// The TD at a byte offset of a TD handle of either zone; null, reported, when
// there is no handle or the offset leaves no whole TD in it.
const TypeDescriptor* TDAt(UHandle tdHandle, int32 tdOffset);

}  // namespace dsupp
