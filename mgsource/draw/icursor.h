// Mouse cursors: images of kind 11 made of a 68-byte CURS record (a 16 x 16
// image and mask, 16-bit rows, then the hot spot vertical and horizontal,
// all big-endian), each with a 32 x 32 host cursor built when the image is
// made; the pseudo ids -1 (the arrow) and -2 (the wait cursor).
// User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "platform/qx_cursor.h"

enum : int32 { kCursRecordBytes = 68 };

// The host cursor of a CURS record: a set mask bit shows the image (a set
// image bit black, a clear one white), a clear one the screen (inverted
// under a set image bit); the rest of the 32 x 32 shows the screen.  0 for
// a null handle, a record shorter than 68 bytes or a hot spot outside the
// 16 x 16 corner.
PlatCursor ICursorFromCURS(UHandle curs);
// Loads the arrow as the default cursor (when the image table is made).
void ILoadDefaultCursor();
// The host cursor of a cursor id: -1 the arrow, -2 the wait cursor, else a
// cursor image's own; anything else is reported and gives the arrow.
PlatCursor IGetHostCursor(int32 id);
// Makes id (-1: the arrow, -2: the wait cursor; else the low 16 bits, a
// valid image) the window's cursor, setting the host cursor at once when it
// changes on the active window.  Window -2: the active document window's, if there is
// one, and the host cursor set in any case.
QX_EXTERN_C void ISetCursor(int32 id, int32 window);
