// The current pen for regions and scrolling, read from the device context.
#include "mgsource/draw/dcurpen.h"

#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "platform/qx_dc.h"

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
