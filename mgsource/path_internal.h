// Helpers that the path and file managers share.
#pragma once
#include "path.h"

namespace path_detail {
// The size of a handle of either zone, -1 when the value is no handle.
int32 HandleSize(UHandle h);
// Resizes a handle in the zone it belongs to.
MgErr SetSize(UHandle h, int32 size);
// A checked look at a path (type 0, 1 or 3): false when it is none.
bool Components(Path p, int32* type, int32* count, const uChar** comps);
}  // namespace path_detail
