// Moving panel objects by a distance without changing their size (message
// 26): the object and everything it owns move, the old bounds are kept for
// the owner, and the object is marked as changed.  User-interface thread only.
#pragma once
#include "mgsource/rects.h"
#include "panel/objects.h"

// The bounds the object moved last had before the move.
extern Rect LastOldBounds;

// The offsetting method of a class, or null where this build has none (the
// class then answers with the null method): the display classes that only
// move their parts, the data controller, cosmetics and labels.
ObjMethodAddr OOffsetMethodFor(int32 cls);
