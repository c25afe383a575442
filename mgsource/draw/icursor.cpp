#include "mgsource/draw/icursor.h"

#include "mgsource/debug.h"

PlatCursor IGetHostCursor(int32 id) {
  if (id == -2) return PlatLoadSystemCursor(kPlatCursorWait);
  if (id != -1) DBAssert(__FILE__, __LINE__, "a cursor id that is no cursor image");
  return PlatLoadSystemCursor(kPlatCursorArrow);
}
