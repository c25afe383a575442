// The current pen for regions and scrolling, read from the device context.
#include "mgsource/draw/dcurpen.h"

#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
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

// The normal pen fills with its own colour on a window of more than 256
// colours while the screen has at least 256: a colour off the 8-bit
// palette gets a brush of its exact colour, a colour of the palette the
// cached brush of its host colour, which is that same palette colour.
bool FillsInOwnColour() {
  return DCurrentPort() == &gHostPort && !gDrawState.recording && gDrawState.dc && gDrawState.window &&
         !gDrawState.bw && gDrawState.depth > 8 && WGetDepth(0) >= 8;
}

}  // namespace

void DPaintRectsInColours(const Rect* rects, const DColor* colours, int32 n, DColor bwColour) {
  if (!rects || !colours || n <= 0) return;
  // Straight fills only where the host port draws into its own context.
  const bool direct = FillsInOwnColour();
  int32 i = 0;
  while (i < n) {
    const int32 start = i;
    DSelectNormPen(colours[i], bwColour);
    if (direct && DCurrentPenNumber() == kNormalPen && !gDrawState.invisiblePen) {
      const DPenUse pen = DCurrentPenUse();
      // The run from here, placed as HostPaintRect places each rectangle.
      const int32 inset = pen.width / 2;
      PlatRect boxes[kFillRun];
      uInt32 hostColours[kFillRun];
      int32 k = 0;
      for (; pen.mode == 0 && !pen.patterned && i < n && k < kFillRun; ++i, ++k) {
        const Rect& r = rects[i];
        const DColor c = colours[i];
        if (r.left > r.right || r.top > r.bottom || c > 0xFFFFFF) break;
        boxes[k] = PlatRect{r.left - gDrawState.originH + inset, r.top - gDrawState.originV + inset,
                            r.right - gDrawState.originH - inset, r.bottom - gDrawState.originV - inset};
        hostColours[k] = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
      }
      if (k) {
        PlatFillSolidRects(gDrawState.dc, boxes, hostColours, k);
        if (i - 1 != start) DSelectNormPen(colours[i - 1], bwColour);
        continue;
      }
    }
    DPaintRect(&rects[i]);
    ++i;
  }
}
