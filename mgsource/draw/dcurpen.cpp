// The current pen for regions and scrolling, read from the device context.
#include "mgsource/draw/dcurpen.h"

#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dport.h"
#include "platform/qx_dc.h"
#include "platform/qx_draw.h"

int32 DCurPenWidth() {
  const PlatObj dc = gDrawState.dc;
  if (!dc) return 0;
  PlatObjInfo info{};
  if (!PlatDescribeObject(PlatCurrentObject(dc, kPlatObjPen), &info)) return 0;
  return info.width;
}

PlatObj DCurPenBrush() {
  const PlatObj dc = gDrawState.dc;
  return dc ? PlatCurrentObject(dc, kPlatObjBrush) : 0;
}

void DPaintRectsInColour(const Rect* rects, int32 n, DColor colour, DColor bwColour) {
  const PlatObj dc = gDrawState.dc;
  const DColor c = gDrawState.bw ? bwColour : colour;
  if (!dc || !rects || n <= 0 || c == kTransparentColor) return;
  const bool white = (c & 0xFFFFFF) == 0xFFFFFF;
  const PlatObj brush = white ? PlatGetStockObject(kPlatStockWhiteBrush) : PlatCreateSolidBrush(DColorToGDIColor(c));
  if (!brush) return;
  const PlatObj old = PlatSelectObject(dc, brush);
  for (int32 i = 0; i < n; ++i) {
    const Rect& r = rects[i];
    if (r.right <= r.left || r.bottom <= r.top) continue;
    PlatPatBlt(dc, r.left - gDrawState.originH, r.top - gDrawState.originV, r.right - r.left, r.bottom - r.top,
               kPlatPatCopy);
  }
  if (old) PlatSelectObject(dc, old);
  if (!white) PlatDeleteObject(brush);
}
