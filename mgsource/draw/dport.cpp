// The drawing port: the three port records, the current port, the entry
// points, the choice of the port for a target, and the null port.
#include "mgsource/draw/dport.h"

#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/hostslots.h"
#include "mgsource/draw/image.h"
#include "mgsource/rects.h"
#include "mgsource/window/window.h"
#include "platform/qx_draw.h"
#include "platform/qx_region.h"

DDrawState gDrawState{};
DNotedWindow gNotedWindow{};
DImageColours gImageColours{kBlackColor, kWhiteColor, kBlackColor, kWhiteColor};

void DResetImageColours() { gImageColours = DImageColours{kBlackColor, kWhiteColor, kBlackColor, kWhiteColor}; }

namespace {

// The null port is installed from the start, so that no entry ever calls
// through a missing port; until the first DSetPortTarget the entries report
// that no port is installed (DSetClipRect and IDraw quietly do nothing).
const DPort* gCurrent = &gNullPort;
bool gInstalled = false;

// One report for a call made before any port was installed; 0.
int32 NotInstalled(int32 line) { return DBAssert(__FILE__, line, "no drawing port installed"); }

#define QX_PORT_OR_REPORT()                              \
  if (!gInstalled) return NotInstalled(__LINE__); \
  const DPort* port = gCurrent

// The null port's drawing slots: silent on a hidden window (drawing into a
// window that nobody sees is simply dropped), a report otherwise: there is
// no target to draw into.
int32 NullDraw(int32 line) {
  const int32 target = int32(gNullPort.target);
  if (target && IKindOf(target) == kImageWindow && !WIsVisible(IWindowOf(target))) return 0;
  return DBAssert(__FILE__, line, "drawing without a target");
}

int32 NullGetDepth() { return 0; }
int32 NullIsBW() { return NullDraw(__LINE__); }
int32 NullIsScreenPort() { return NullDraw(__LINE__); }
int32 NullSelectNormPen(DColor, DColor) { return NullDraw(__LINE__); }
int32 NullSelectPen(int32, DColor, DColor) { return NullDraw(__LINE__); }
int32 NullSetPixel(int32, int32) { return NullDraw(__LINE__); }
int32 NullMove(int32, int32) { return NullDraw(__LINE__); }
int32 NullMoveTo(int32, int32) { return NullDraw(__LINE__); }
int32 NullLine(int32, int32) { return NullDraw(__LINE__); }
int32 NullLineTo(int32, int32) { return NullDraw(__LINE__); }
int32 NullMHLine(int32, int32, Bool32) { return NullDraw(__LINE__); }
int32 NullMHLineTo(int32, int32, Bool32) { return NullDraw(__LINE__); }
int32 NullPolyLine(const Point*, int32) { return NullDraw(__LINE__); }
int32 NullPaintPoly(const Point*, int32, int32) { return NullDraw(__LINE__); }
int32 NullFrameRect(const Rect*) { return NullDraw(__LINE__); }
int32 NullPaintRect(const Rect*) { return NullDraw(__LINE__); }
int32 NullFrameRoundRect(const Rect*, int32, int32) { return NullDraw(__LINE__); }
int32 NullPaintRoundRect(const Rect*, int32, int32) { return NullDraw(__LINE__); }
int32 NullFrameOval(const Rect*) { return NullDraw(__LINE__); }
int32 NullPaintOval(const Rect*) { return NullDraw(__LINE__); }
int32 NullFrameArc(const Rect*, int32, int32) { return NullDraw(__LINE__); }
int32 NullPaintArc(const Rect*, int32, int32) { return NullDraw(__LINE__); }
int32 NullGrayOutRect(const Rect*, DColor) { return NullDraw(__LINE__); }
int32 NullSetClip(const Rect*) { return NullDraw(__LINE__); }
int32 NullDrawImage(int32, const Rect*, const Rect*, DColor, DColor, DColor, DColor) { return NullDraw(__LINE__); }
int32 NullDrawBits(const void*, const void*, const void*) { return NullDraw(__LINE__); }
int32 NullTextBox(const Rect*, int32, const uChar*, int32, int32, DColor, DColor, DColor, DColor) {
  return NullDraw(__LINE__);
}
int32 NullTextDraw(UHandle) { return NullDraw(__LINE__); }
int32 NullHiliteRect(const Rect*, DColor, DColor, DColor, DColor, int32) { return NullDraw(__LINE__); }
int32 NullScrollRect(const Rect*, int32, int32, Bool32, DColor, DColor) { return NullDraw(__LINE__); }
int32 NullFlush() { return 0; }
int32 NullAttach(int32 image) {
  gNullPort.target = uInt32(image);
  return 0;
}

}  // namespace

DPort gNullPort = {
    NullGetDepth,       NullIsBW,          NullIsScreenPort,   NullSelectNormPen,  NullSelectPen,
    NullSetPixel,       NullMove,          NullMoveTo,         NullLine,           NullLineTo,
    NullMHLine,         NullMHLineTo,      NullPolyLine,       NullPaintPoly,      NullFrameRect,
    NullPaintRect,      NullFrameRoundRect, NullPaintRoundRect, NullFrameOval,     NullPaintOval,
    NullFrameArc,       NullPaintArc,      NullGrayOutRect,    NullSetClip,        NullDrawImage,
    NullDrawBits,       NullTextBox,       NullTextDraw,       NullHiliteRect,     NullScrollRect,
    NullFlush,          NullAttach,        PortBounds,         0,                  0,
    0,
};

DPort gHostPort = {
    HostGetDepth,       HostIsBW,          HostIsScreenPort,   HostSelectNormPen,  HostSelectPen,
    HostSetPixel,       HostMove,          HostMoveTo,         HostLine,           HostLineTo,
    HostMHLine,         HostMHLineTo,      HostPolyLine,       HostPaintPoly,      HostFrameRect,
    HostPaintRect,      HostFrameRoundRect, HostPaintRoundRect, HostFrameOval,     HostPaintOval,
    HostFrameArc,       HostPaintArc,      HostGrayOutRect,    HostSetClip,        HostDrawImage,
    HostDrawBits,       HostTextBox,       HostTextDraw,       HostHiliteRect,     HostScrollRect,
    HostFlush,          HostAttach,        PortBounds,         0,                  0,
    0,
};

// The host port's own slots.

int32 HostGetDepth() {
  if (!gDrawState.target) return DBAssert(__FILE__, __LINE__, "no drawing target");
  // A window's depth was taken when it became the target; the pens drawing
  // into it follow that one, and looking the window up again costs more
  // than the drawing it answers for.
  if (gDrawState.window && gDrawState.depth > 0 && IKindOf(int32(gDrawState.target)) == kImageWindow)
    return gDrawState.depth;
  return IGetDepth(int32(gDrawState.target));
}

int32 HostIsBW() {
  if (!gDrawState.window) return DBAssert(__FILE__, __LINE__, "no target window");
  return gDrawState.bw ? 1 : 0;
}

int32 HostIsScreenPort() {
  const int32 target = int32(gDrawState.target);
  const int32 kind = target ? IKindOf(target) : 0;
  if (kind == kImageWindow) return WGetStyle(IWindowOf(target)) != kWStyleRecordOnly ? 1 : 0;
  return kind == kImagePixmap ? 1 : 0;
}

int32 HostFlush() {
  if (gDrawState.dc) PlatFlush(gDrawState.dc);
  return 0;
}

int32 HostAttach(int32 image) {
  gHostPort.target = uInt32(image);
  gHostPort.penV = gHostPort.penH = 0;
  return 0;
}

const DPort* DCurrentPort() { return gCurrent; }
Bool32 DPortInstalled() { return gInstalled ? 1 : 0; }

const DPort* DInstallTestPort(const DPort* port) {
  const DPort* old = gInstalled ? gCurrent : nullptr;
  gCurrent = port ? port : &gNullPort;
  gInstalled = port != nullptr;
  return old;
}

void DSetPortTarget(int32 image) {
  DPort* port = &gNullPort;
  if (image) {
    switch (IGetKind(image)) {
      case 0: break;  // not an image: reported, the null port stands in
      case kImagePage: port = &gPSPort; break;
      case kImageWindow: {
        const int32 window = IWindowOf(image);
        if (WGetStyle(window) == kWStyleRecordOnly || WIsVisible(window)) port = &gHostPort;
        break;
      }
      default: port = &gHostPort; break;
    }
  }
  gCurrent = port;
  gInstalled = true;
  port->attach(image);
}

// The entry points.

int32 DGetDepth() { QX_PORT_OR_REPORT(); return port->getDepth(); }
int32 DIsBW() { QX_PORT_OR_REPORT(); return port->isBW(); }
int32 DIsScreenPort() { QX_PORT_OR_REPORT(); return port->isScreenPort(); }
int32 DSelectNormPen(DColor c, DColor bw) { QX_PORT_OR_REPORT(); return port->selectNormPen(c, bw); }
int32 DSelectPen(int32 pen, DColor f, DColor b) { QX_PORT_OR_REPORT(); return port->selectPen(pen, f, b); }
int32 DSetPixel(int32 h, int32 v) { QX_PORT_OR_REPORT(); return port->setPixel(h, v); }
int32 DMove(int32 dh, int32 dv) { QX_PORT_OR_REPORT(); return port->move(dh, dv); }
int32 DMoveTo(int32 h, int32 v) { QX_PORT_OR_REPORT(); return port->moveTo(h, v); }
int32 DLine(int32 dh, int32 dv) { QX_PORT_OR_REPORT(); return port->line(dh, dv); }
int32 DLineTo(int32 h, int32 v) { QX_PORT_OR_REPORT(); return port->lineTo(h, v); }
int32 DMHLine(int32 dh, int32 dv, Bool32 vf) { QX_PORT_OR_REPORT(); return port->mhLine(dh, dv, vf); }
int32 DMHLineTo(int32 h, int32 v, Bool32 vf) { QX_PORT_OR_REPORT(); return port->mhLineTo(h, v, vf); }
int32 DPolyLine(const Point* p, int32 n) { QX_PORT_OR_REPORT(); return port->polyLine(p, n); }
int32 DPaintPoly(const Point* p, int32 n, int32 f) { QX_PORT_OR_REPORT(); return port->paintPoly(p, n, f); }
int32 DFrameRect(const Rect* r) { QX_PORT_OR_REPORT(); return port->frameRect(r); }
int32 DPaintRect(const Rect* r) { QX_PORT_OR_REPORT(); return port->paintRect(r); }
int32 DFrameRoundRect(const Rect* r, int32 w, int32 h) { QX_PORT_OR_REPORT(); return port->frameRoundRect(r, w, h); }
int32 DPaintRoundRect(const Rect* r, int32 w, int32 h) { QX_PORT_OR_REPORT(); return port->paintRoundRect(r, w, h); }
int32 DFrameOval(const Rect* r) { QX_PORT_OR_REPORT(); return port->frameOval(r); }
int32 DPaintOval(const Rect* r) { QX_PORT_OR_REPORT(); return port->paintOval(r); }
int32 DFrameArc(const Rect* r, int32 s, int32 a) { QX_PORT_OR_REPORT(); return port->frameArc(r, s, a); }
int32 DPaintArc(const Rect* r, int32 s, int32 a) { QX_PORT_OR_REPORT(); return port->paintArc(r, s, a); }
int32 DGrayOutRect(const Rect* r, DColor c) { QX_PORT_OR_REPORT(); return port->grayOutRect(r, c); }
int32 DDrawBits(const void* d, const void* t, const void* b) { QX_PORT_OR_REPORT(); return port->drawBits(d, t, b); }
int32 TDraw(UHandle record) { QX_PORT_OR_REPORT(); return port->textDraw(record); }
int32 DHiliteRect(const Rect* r, DColor c, DColor b, DColor bwc, DColor bwb, int32 extra) {
  QX_PORT_OR_REPORT();
  return port->hiliteRect(r, c, b, bwc, bwb, extra);
}
int32 DScrollRect(const Rect* r, int32 dh, int32 dv, Bool32 inval, DColor fill, DColor bwFill) {
  QX_PORT_OR_REPORT();
  return port->scrollRect(r, dh, dv, inval, fill, bwFill);
}
int32 DFlush() { QX_PORT_OR_REPORT(); return port->flush(); }

int32 IDraw(int32 image, const Rect* subRect, const Rect* r, DColor fore, DColor back, DColor bwFore,
            DColor bwBack) {
  if (!gInstalled) return 0;
  // An id that names no image is reported and not drawn: the slot would
  // read an entry that is not there.
  if (!IKindOf(image)) return DBAssert(__FILE__, __LINE__, "IDraw: invalid image id");
  if (fore == kTransparentColor && back == kTransparentColor) return 0;
  return gCurrent->drawImage(image, subRect, r, fore, back, bwFore, bwBack);
}

int32 TBox(const Rect* r, int32 justification, const uChar* text, int32 length, int32 font, DColor fore,
           DColor back, DColor bwFore, DColor bwBack) {
  gFontErr = 0;
  QX_PORT_OR_REPORT();
  if (!r || DEmptyRect(r)) return 0;
  return port->textBox(r, justification, text, length, font, fore, back, bwFore, bwBack);
}

void DSetClipRect(const Rect* r) {
  if (!gInstalled) return;
  Rect clip{0, 0, 0, 0};
  if (r) clip = *r;
  else gCurrent->bounds(&clip);
  gDrawState.clipRect = clip;
  if (!gDrawState.clipRgn) gDrawState.clipRgn = PlatCreateRectRgn(0, 0, 0, 0);
  if (gDrawState.clipRgn) PlatSetRectRgn(gDrawState.clipRgn, clip.left, clip.top, clip.right, clip.bottom);
  gCurrent->setClip(&clip);
}
