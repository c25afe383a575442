// The current pen for regions and scrolling, read from the device context.
#include "mgsource/draw/dcurpen.h"

#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/window.h"
#include "platform/qx_dc.h"
#include "platform/qx_draw.h"

int32 DCurPenWidth() { return gDrawState.dc ? DCurrentPenUse().width : 0; }

PlatObj DCurPenBrush() {
  const PlatObj dc = gDrawState.dc;
  return dc ? PlatCurrentObject(dc, kPlatObjBrush) : 0;
}

void DPaintRectsInColour(const Rect* rects, int32 n, DColor colour, DColor bwColour) {
  if (!gDrawState.dc || !rects || n <= 0) return;
  DPenRecord saved{};
  DSaveCurPen(&saved);
  DSelectNormPen(colour, bwColour);
  for (int32 i = 0; i < n; ++i)
    if (rects[i].right > rects[i].left && rects[i].bottom > rects[i].top) DPaintRect(&rects[i]);
  DRestoreCurPen(&saved);
}

namespace {

// Rectangles handed to the host in one call.
constexpr int32 kFillRun = 64;

// The normal pen fills with its own colour on a window or pixmap of more
// than 256 colours while the screen has at least 256: a colour off the
// 8-bit palette gets a brush of its exact colour, a colour of the palette
// the cached brush of its host colour, which is that same palette colour.
// (A metafile keeps the calls themselves: its lines stay lines when it is
// played at another size.)
bool FillsInOwnColour() {
  if (DCurrentPort() != &gHostPort || gDrawState.recording || !gDrawState.dc || !gDrawState.window ||
      gDrawState.bw || gDrawState.depth <= 8)
    return false;
  const int32 kind = IKindOf(int32(gDrawState.target));
  return (kind == kImageWindow || kind == kImagePixmap) && WGetDepth(0) >= 8;
}

}  // namespace

bool DFillRectsStraight(const Rect* rects, const DColor* colours, int32 n, DColor bwColour) {
  if (!rects || !colours || n <= 0 || !FillsInOwnColour()) return false;
  // The normal pen paints a rectangle whole, by copying.
  PenState pen{};
  if (DGetPenState(kNormalPen, kPenWidth | kPenMode | kPenPattern, &pen) != kNoErr || pen.mode != 0 ||
      pen.width > 1)
    return false;
  for (const uChar row : pen.pattern)
    if (row != 0xFF) return false;
  for (int32 i = 0; i < n; ++i)
    if (colours[i] > 0xFFFFFF || rects[i].left > rects[i].right || rects[i].top > rects[i].bottom) return false;
  PlatRect boxes[kFillRun];
  uInt32 hostColours[kFillRun];
  for (int32 i = 0; i < n;) {
    int32 k = 0;
    for (; i < n && k < kFillRun; ++i, ++k) {
      const Rect& r = rects[i];
      const DColor c = colours[i];
      boxes[k] = PlatRect{r.left - gDrawState.originH, r.top - gDrawState.originV, r.right - gDrawState.originH,
                          r.bottom - gDrawState.originV};
      hostColours[k] = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
    }
    PlatFillSolidRects(gDrawState.dc, boxes, hostColours, k);
  }
  DSelectNormPen(colours[n - 1], bwColour);
  return true;
}

void DPaintRectsInColours(const Rect* rects, const DColor* colours, int32 n, DColor bwColour) {
  if (DFillRectsStraight(rects, colours, n, bwColour) || !rects || !colours) return;
  for (int32 i = 0; i < n; ++i) {
    DSelectNormPen(colours[i], bwColour);
    DPaintRect(&rects[i]);
  }
}
