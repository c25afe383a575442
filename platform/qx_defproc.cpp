#include "qx_defproc.h"

#include <algorithm>

#include "qx_dc_internal.h"
#include "qx_input.h"
#include "qx_paint.h"
#include "qx_winsys_internal.h"

using namespace qxwin;

namespace {

constexpr int32_t kMaxTrack = 30000;

int32_t HitTest(PlatWindow w, int32_t x, int32_t y) {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  Window* r = Find(s, w);
  if (!r) return kPlatHtNowhere;
  const PlatRect f = r->frame;
  if (x < f.left || x >= f.right || y < f.top || y >= f.bottom) return kPlatHtNowhere;
  const PlatRect c = ClientOf(*r);
  if (x >= c.left && x < c.right && y >= c.top && y < c.bottom) return kPlatHtClient;
  const PlatRect in = PlatFrameInsets(r->style, r->exStyle);
  if ((r->style & kPlatWsThickFrame) && x >= f.right - std::max(in.right, 16) && y >= f.bottom - std::max(in.bottom, 16))
    return kPlatHtBottomRight;
  if ((r->style & kPlatWsCaption) && y < c.top && y >= f.top + (in.top - 19)) return kPlatHtCaption;
  return kPlatHtBorder;
}

bool EraseBackground(PlatWindow w, PlatObj dc) {
  uint32_t colour = kPlatNoBrush;
  {
    Sys& s = TheSys();
    std::lock_guard<std::mutex> g(s.lock);
    Window* r = Find(s, w);
    if (r && r->cls) colour = r->cls->background;
  }
  auto d = qxdraw::GetDc(dc);
  if (colour == kPlatNoBrush || !d) return false;
  pixman_region32_t clip;
  pixman_region32_init(&clip);
  d->EffectiveClip(&clip);
  qxdraw::FillRegion(*d, &clip, qxdraw::SolidPaint(colour), qxdraw::Rop2Function(kPlatRop2CopyPen));
  pixman_region32_fini(&clip);
  return true;
}

void SizingLoop(PlatWindow w, int32_t startX, int32_t startY) {
  PlatRect start;
  if (!PlatGetWindowRect(w, &start)) return;
  PlatMinMaxInfo mm{1, 1, kMaxTrack, kMaxTrack};
  PlatSendMessage(w, kPlatMsgGetMinMaxInfo, 0, PlatLParam(&mm));
  const PlatWindow before = PlatSetCapture(w);
  auto resize = [&](int32_t cx, int32_t cy) {
    cx = std::max(mm.minWidth, std::min(mm.maxWidth, cx));
    cy = std::max(mm.minHeight, std::min(mm.maxHeight, cy));
    PlatSetWindowPos(w, 0, 0, 0, cx, cy, kPlatSwpNoMove | kPlatSwpNoZOrder | kPlatSwpNoActivate);
  };
  PlatMsg m;
  for (;;) {
    if (PlatGetCapture() != w) {
      // Cancelled (CancelMode, or the capture taken away): back to the start.
      resize(start.right - start.left, start.bottom - start.top);
      break;
    }
    if (!PlatGetMessage(&m, 0, 0, 0)) {
      PlatPostQuitMessage(int32_t(m.wParam));  // left for the loop outside
      break;
    }
    if (m.message == kPlatMsgMouseMove && m.window == w) {
      resize(start.right - start.left + (m.x - startX), start.bottom - start.top + (m.y - startY));
    } else if (m.message == kPlatMsgLButtonUp) {
      break;
    } else if (m.message == kPlatMsgKeyDown && m.wParam == kPlatVkEscape) {
      resize(start.right - start.left, start.bottom - start.top);
      break;
    } else if ((m.message < kPlatMsgKeyFirst || m.message > kPlatMsgKeyLast) &&
               (m.message < kPlatMsgMouseFirst || m.message > kPlatMsgMouseLast)) {
      PlatDispatchMessage(&m);
    }
  }
  if (PlatGetCapture() == w) PlatSetCapture(before);
}

}  // namespace

PlatResult PlatDefWindowProc(PlatWindow w, uint32_t message, PlatWParam wParam, PlatLParam lParam) {
  switch (message) {
    case kPlatMsgClose:
      PlatDestroyWindow(w);
      return 0;
    case kPlatMsgMouseActivate:
      return kPlatMaActivate;
    case kPlatMsgCancelMode:
      // Ends the window's mode: its capture, and with it a sizing loop.
      if (PlatGetCapture() == w) PlatReleaseCapture();
      return 0;
    case kPlatMsgNcHitTest:
      return HitTest(w, PlatLowWord(lParam), PlatHighWord(lParam));
    case kPlatMsgPaint: {
      PlatPaintInfo pi;
      if (PlatBeginPaint(w, &pi)) PlatEndPaint(w, &pi);
      return 0;
    }
    case kPlatMsgEraseBackground:
      return EraseBackground(w, PlatObj(wParam)) ? 1 : 0;
    case kPlatMsgSysKeyUp: {
      bool alone = false;
      {
        Sys& s = TheSys();
        std::lock_guard<std::mutex> g(s.lock);
        alone = s.altAlone && wParam == kPlatVkAlt;
        if (wParam == kPlatVkAlt) s.altAlone = false;
      }
      if (alone || wParam == kPlatVkF10) PlatSendMessage(w, kPlatMsgSysCommand, kPlatScKeyMenu, 0);
      return 0;
    }
    case kPlatMsgSysChar:
      PlatSendMessage(w, kPlatMsgSysCommand, kPlatScKeyMenu, PlatLParam(wParam));
      return 0;
    case kPlatMsgSysCommand:
      switch (wParam) {
        case kPlatScClose:
          if (PlatIsCloseEnabled(w)) PlatSendMessage(w, kPlatMsgClose, 0, 0);
          break;
        case kPlatScMinimize: PlatShowWindow(w, kPlatSwMinimize); break;
        case kPlatScMaximize: PlatShowWindow(w, kPlatSwMaximize); break;
        case kPlatScRestore: PlatShowWindow(w, kPlatSwRestore); break;
        default: break;
      }
      return 0;
    case kPlatMsgNcLButtonDown:
      if (wParam == uintptr_t(kPlatHtBottomRight)) SizingLoop(w, PlatLowWord(lParam), PlatHighWord(lParam));
      return 0;
    case kPlatMsgQueryOpen:
      return 1;
    default:
      return 0;
  }
}
