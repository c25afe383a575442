// Tip strips.
#include "mgsource/window/tipstrip.h"

#include <cstring>

#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/rects.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"

namespace {

struct TipStrip {
  WindowRef window = kWNoWindow;
  Bool32 shown = 0;
  Str255 text{};
  int16 height = 0, width = 0;
};
TipStrip gTip;
DColor gTipColour = 0xFFFFE1;

constexpr int32 kTipGap = 10;

}  // namespace

void WSetTipStripColor(DColor colour) { gTipColour = colour; }
WindowRef WTipStripWindow() { return gTip.window; }

int32 WTipStripHandler(WEventRecord* event, uInt32) {
  if (!event) return 0;
  if (event->code == weKey) {
    const WindowRef doc = WActiveDocWind();
    if (doc != kWNoWindow && doc != gTip.window) {
      WEventRecord passed = *event;
      passed.window = doc;
      WSendEvent(&passed);
    }
  } else if (event->code == weWindDraw && gTip.shown && gTip.window != kWNoWindow) {
    WPortState saved;
    WSetup(gTip.window, &saved);
    const Rect content = WRecord(gTip.window)->portRect;
    TBox(&content, 0, gTip.text + 1, gTip.text[0], kAppFont, kBlackColor, gTipColour, kWhiteColor, kBlackColor);
    DSelectNormPen(kBlackColor, kWhiteColor);
    DFrameRect(&content);
    WRestore(&saved);
  }
  return 0;
}

int32 WShowTipStrip(ConstPStr text, const Rect* rect) {
  if (gTip.shown || gTip.window != kWNoWindow) WHideTipStrip();
  if (!rect) return 2;
  gTip.shown = 1;
  const int32 n = text ? text[0] : 0;
  gTip.text[0] = uChar(n);
  if (n) std::memcpy(gTip.text + 1, text + 1, size_t(n));
  Point size{0, 0};
  TTextSize(gTip.text + 1, n, kAppFont, &size);
  gTip.width = int16(size.h + 4);
  gTip.height = int16(size.v + 2);
  const Rect object = *rect;
  Rect centred;
  centred.left = int16(object.left + ((RectWidth(&object) - gTip.width) >> 1));
  centred.top = int16(object.top + ((RectHeight(&object) - gTip.height) >> 1));
  centred.right = int16(centred.left + gTip.width);
  centred.bottom = int16(centred.top + gTip.height);
  Point centre{0, 0};
  RectCentroid(&object, &centre);
  Rect work{0, 0, 0, 0};
  WGetWorkAreaRect(centre, &work);
  DInsetRect(&work, 3, 3);
  // Below, above, right, left: the first that does not touch the object.
  const int32 moves[4][2] = {
      {0, object.bottom + kTipGap - centred.top},
      {0, object.top - kTipGap - centred.bottom},
      {object.right + kTipGap - centred.left, 0},
      {object.left - kTipGap - centred.right, 0},
  };
  Rect chosen = centred;
  PinRectInRect(&work, &chosen);
  for (const auto& m : moves) {
    Rect candidate = centred;
    DOffsetRect(&candidate, m[0], m[1]);
    PinRectInRect(&work, &candidate);
    Rect overlap;
    if (!DSectRect(&candidate, &object, &overlap)) {
      chosen = candidate;
      break;
    }
  }
  const uChar empty[1] = {0};
  gTip.window = WCreate(kWStyleFloating, empty, &WTipStripHandler, &chosen, 0, 1, 0);
  if (gTip.window == kWNoWindow) {
    gTip = TipStrip{};
    return 2;
  }
  WUpdate(gTip.window);
  return 0;
}

int32 WHideTipStrip() {
  const Bool32 shown = gTip.shown;
  if (gTip.window != kWNoWindow) WDestroy(gTip.window);
  gTip = TipStrip{};
  return shown ? 1 : 0;
}
