#include "mgsource/draw/icursor.h"

#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wmisc.h"

namespace {
PlatCursor gArrow = 0;
}  // namespace

PlatCursor ICursorFromCURS(UHandle curs) {
  if (!curs || AZGetHandleSize(curs) < kCursRecordBytes) return 0;
  const uInt8* b = reinterpret_cast<const uInt8*>(*curs);
  const int32 v = int16(GetBE16(b + 64)), h = int16(GetBE16(b + 66));
  if (v < 0 || v > 15 || h < 0 || h > 15) return 0;
  uInt8 a[kPlatCursorPlaneBytes] = {}, m[kPlatCursorPlaneBytes] = {};
  for (int32 r = 0; r < 16; ++r) {
    std::memcpy(a + 4 * r, b + 2 * r, 2);
    std::memcpy(m + 4 * r, b + 32 + 2 * r, 2);
  }
  for (int32 i = 0; i < kPlatCursorPlaneBytes; ++i) {
    a[i] ^= m[i];
    m[i] = uInt8(~m[i]);
  }
  return PlatCreateCursor(h, v, m, a);
}

void ILoadDefaultCursor() { gArrow = PlatLoadSystemCursor(kPlatCursorArrow); }

PlatCursor IGetHostCursor(int32 id) {
  if (id == -2) return PlatLoadSystemCursor(kPlatCursorWait);
  if (id != -1) {
    const ImageEntry e = IEntryOf(id);
    if (e.kind == kImageCursor && e.extra) return PlatCursor(e.extra);
    DBAssert(__FILE__, __LINE__, "IGetHostCursor: not a cursor image");
  }
  if (!gArrow) ILoadDefaultCursor();
  return gArrow;
}

void ISetCursor(int32 id, int32 window) {
  if (id != -1 && id != -2) {  // the arrow and the wait cursor pass as they are
    id &= 0xFFFF;
    if (!IKindOf(id)) DBAssert(__FILE__, __LINE__, "ISetCursor: invalid image id");
  }
  if (window == -2) {
    if (WindowRecord* w = WRecord(WActiveDocWind())) w->cursor = id;
    WSetHostCursor(id);
    return;
  }
  WindowRecord* w = WRecord(WResolveWindow(window));
  if (!w || w->cursor == id) return;
  w->cursor = id;
  if (w->active) WSetHostCursor(id);
}
