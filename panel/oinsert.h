// Placing objects on a front panel (message 16): a data display object is
// wrapped in a new panel data controller that joins the panel's controller
// list, a grouper's members are wrapped one by one inside the grouper, a
// cosmetic is taken as it is; the object goes to the front of the panel's
// object list.  User-interface thread only.
#pragma once
#include "panel/objects.h"

// The answers of the insertion message.
enum : int32 { kInsertRefused = 0, kInsertDone = 1, kInsertMemFull = 2 };

// The insertion method of a class, or null where the class has none here.
ObjMethodAddr OInsertMethodFor(int32 cls);
