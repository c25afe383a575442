// Attaching a drawing target: the drawing state that the host port reads
// is filled from the target image, and the port for it installed.  IOpen
// and IClose nest drawing into pixmaps and pictures inside the current
// target.
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/draw/picture.h"
#include "mgsource/draw/psport.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_dc.h"
#include "platform/qx_paint.h"

namespace {

PlatWindow gDcWindow = 0;  // the host window an obtained context goes back to

void PutDefaultObjects(PlatObj dc) {
  if (!dc) return;
  PlatSelectObject(dc, PlatGetStockObject(kPlatStockBlackPen));
  PlatSelectObject(dc, PlatGetStockObject(kPlatStockWhiteBrush));
}

// Puts the default pen, brush and palette back into the context, gives back
// a context obtained from the window, deletes a memory context, and clears
// the state (the clip region handle is kept for reuse).
void Detach() {
  DDrawState& s = gDrawState;
  if (s.dc) {
    PutDefaultObjects(s.dc);
    PlatSelectPalette(s.dc, PlatGetStockObject(kPlatStockPalette));
    if (s.obtainedDc) PlatReleaseDc(gDcWindow, s.dc);
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

bool AttachPixmap(int32 image, PlatObj paintDc) {
  DDrawState& s = gDrawState;
  Rect src{0, 0, 0, 0};
  int32 depth = 0;
  if (paintDc) {
    s.dc = paintDc;
  } else {
    const PlatObj bitmap = ILockHost(image, &src, &depth);
    if (!bitmap) return false;
    const PlatObj dc = PlatCreateMemoryDc();
    if (!dc) return false;
    if (!PlatSelectObject(dc, bitmap)) {
      PlatDeleteDc(dc);
      DBAssert(__FILE__, __LINE__, "IAttachTarget: the pixmap's bitmap is in use");
      return false;
    }
    PlatSetBkMode(dc, kPlatBkTransparent);
    if (PlatObj palette = DAppPalette()) PlatSelectPalette(dc, palette);
    s.dc = s.memDc = dc;
  }
  Rect bounds{0, 0, 0, 0};
  IGetRect(image, &bounds);
  s.originH = bounds.left;
  s.originV = bounds.top;
  return true;
}

}  // namespace

void IAttachTarget(int32 image, PlatObj paintDc) {
  const int32 window = WCurrentPort();
  Detach();
  if (!image) return;
  const int32 kind = IKindOf(image);
  if (kind != kImageWindow && kind != kImagePixmap && kind != kImagePicture && kind != kImagePage) {
    DBAssert(__FILE__, __LINE__, "IAttachTarget: kind not supported");
    return;
  }
  DDrawState& s = gDrawState;
  s.target = uInt32(image);
  s.depth = IGetDepth(image);
  s.bw = s.depth < 4 ? 1 : 0;
  if (kind == kImageWindow) {
    const int32 w = IWindowOf(image);
    s.window = w;
    s.pageWindow = WGetStyle(w) == kWStyleRecordOnly ? 1 : 0;
    PlatObj dc = paintDc;
    if (!dc && WHasHostWindow(w)) {
      gDcWindow = WHostWindow(w);
      dc = PlatGetDc(gDcWindow);
      s.obtainedDc = dc ? 1 : 0;
    }
    s.dc = dc;
    if (dc) {
      if (PlatObj palette = DAppPalette()) PlatSelectPalette(dc, palette);
      PlatSetBkMode(dc, kPlatBkTransparent);
    }
    Point origin{0, 0};
    WGetOrigin(w, &origin);
    s.originH = origin.h;
    s.originV = origin.v;
    WGetRect(w, &s.bounds);
  } else {
    s.window = window;
    if (kind == kImagePixmap) AttachPixmap(image, paintDc);
    else if (kind == kImagePicture) s.recording = 1;
    IGetRect(image, &s.bounds);
  }
  DSetPortTarget(image);
}

void IOpen(int32 image, ImageSaveRecord* save) {
  if (!save) {
    DBAssert(__FILE__, __LINE__, "IOpen: no save record");
    return;
  }
  DDrawState& s = gDrawState;
  const int32 window = WCurrentPort();
  if (!window || !s.target) DBAssert(__FILE__, __LINE__, "IOpen: no current window or target");
  *save = ImageSaveRecord{};
  save->dc = s.dc;
  save->memDc = s.memDc;
  save->obtainedDc = s.obtainedDc;
  save->originH = s.originH;
  save->originV = s.originV;
  save->target = int32(s.target);
  save->depth = uInt16(s.depth);
  save->bw = uInt16(s.bw);
  save->window = s.window;
  save->recording = s.recording;
  save->bounds = s.bounds;
  Rect clip{0, 0, 0, 0};
  if (window && WGetClipRect(window, &clip)) save->clip = clip;
  // The image starts unclipped.
  const Rect none{0, 0, 0, 0};
  WRestoreClip(&none);
  PutDefaultObjects(s.dc);
  const int32 kind = IKindOf(image);
  if (kind != kImagePixmap && kind != kImagePicture && kind != kImagePage) {
    DBAssert(__FILE__, __LINE__, "IOpen: kind not supported");
    return;
  }
  if (kind == kImagePicture) {
    if (s.recording) DBAssert(__FILE__, __LINE__, "IOpen: a picture is already being recorded");
    PictBeginRecording(image);
  }
  // The saved contexts stay alive for IClose: the state lets go of them
  // without giving them back.
  s.dc = s.memDc = 0;
  s.obtainedDc = 0;
  IAttachTarget(image, 0);
  if (kind == kImagePage) PSOpenPage(image);  // the page's prolog
}

int32 IClose(int32 image, ImageSaveRecord* save) {
  if (!save) return DBAssert(__FILE__, __LINE__, "IClose: no save record");
  const int32 kind = IKindOf(image);
  if (kind == kImagePage) PSClosePage(image);  // the page goes to the printer
  IAttachTarget(0, 0);
  if (kind == kImagePicture) PictEndRecording(image);
  else if (kind != kImagePixmap && kind != kImagePage) DBAssert(__FILE__, __LINE__, "IClose: kind not supported");
  // The previous target comes back with its own contexts.
  DDrawState& s = gDrawState;
  const int32 back = save->target;
  if (back && IKindOf(back)) {
    s.target = uInt32(back);
    s.window = save->window;
    s.dc = save->dc;
    s.memDc = save->memDc;
    s.obtainedDc = save->obtainedDc;
    s.originH = save->originH;
    s.originV = save->originV;
    s.depth = save->depth;
    s.bw = save->bw;
    s.recording = save->recording;
    s.bounds = save->bounds;
    s.pageWindow = IKindOf(back) == kImageWindow && WGetStyle(save->window) == kWStyleRecordOnly ? 1 : 0;
    DSetPortTarget(back);
  } else {
    // Nothing to go back to: the contexts are let go of.
    if (save->obtainedDc && save->dc) PlatReleaseDc(WHostWindow(save->window), save->dc);
    if (save->memDc) PlatDeleteDc(save->memDc);
  }
  WRestoreClip(&save->clip);
  return IKindOf(int32(s.target));
}

void IGetCurrentTarget(int32* image, int32* window) {
  if (image) *image = int32(gDrawState.target);
  if (window) *window = gDrawState.window;
}
