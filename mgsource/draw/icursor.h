// Host cursors of cursor image ids.
#pragma once
#include "mgsource/extcode.h"
#include "platform/qx_cursor.h"

// The host cursor of a cursor id: -1 the arrow, -2 the wait cursor.  Cursor
// images are not made yet: any other id is reported and gives the arrow.
PlatCursor IGetHostCursor(int32 id);
