// Attaching a drawing target: the drawing state that the host port reads
// is filled from the target image, and the port for it installed.
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/window.h"
#include "platform/qx_dc.h"
#include "platform/qx_paint.h"

namespace {

// Puts the default pen, brush and palette back into the context, gives back
// a context obtained from the window, deletes a memory context, and clears
// the state (the clip region handle is kept for reuse).
void Detach() {
  DDrawState& s = gDrawState;
  if (s.dc) {
    PlatSelectObject(s.dc, PlatGetStockObject(kPlatStockBlackPen));
    PlatSelectObject(s.dc, PlatGetStockObject(kPlatStockWhiteBrush));
    PlatSelectPalette(s.dc, PlatGetStockObject(kPlatStockPalette));
    if (s.obtainedDc) PlatReleaseDc(s.window, s.dc);
  }
  if (s.memDc) PlatDeleteDc(s.memDc);
  // The next context holds none of the pens: the next selection applies
  // everything again.
  DForgetPen();
  const DRgn keep = s.clipRgn;
  s = DDrawState{};
  s.clipRgn = keep;
  DSetPortTarget(0);
}

}  // namespace

void IAttachTarget(int32 image, PlatObj paintDc) {
  Detach();
  if (!image) return;
  if (IKindOf(image) != kImageWindow) {
    DBAssert(__FILE__, __LINE__, "IAttachTarget: kind not supported");
    return;
  }
  DDrawState& s = gDrawState;
  const int32 window = IWindowOf(image);
  s.window = window;
  s.target = uInt32(image);
  s.depth = IGetDepth(image);
  s.bw = s.depth < 4 ? 1 : 0;
  s.pageWindow = WGetStyle(window) == kWStyleRecordOnly ? 1 : 0;
  PlatObj dc = paintDc;
  if (!dc && WHasHostWindow(window)) {
    dc = PlatGetDc(window);
    s.obtainedDc = dc ? 1 : 0;
  }
  s.dc = dc;
  if (dc) {
    if (PlatObj palette = DAppPalette()) PlatSelectPalette(dc, palette);
    PlatSetBkMode(dc, kPlatBkTransparent);
  }
  Point origin{0, 0};
  WGetOrigin(window, &origin);
  s.originH = origin.h;
  s.originV = origin.v;
  WGetRect(window, &s.bounds);
  DSetPortTarget(image);
}
