// The layout of an alert's dialog around its message: the buttons measured
// where they stand, the message measured in a text record of its part's
// font, the places worked out by FitAlertLayout, and the dialog sized.
#include "mgsource/debug.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"
#include "shell/dialog.h"

namespace {

constexpr int32 kMessageTextPart = 11;
constexpr uInt32 kPanelBoundsStale = 0x400000;

const DlgPanelServices& Panel() { return DlgServices(); }

Rect ObjectRect(DialogRef d, int32 object) {
  Rect r{0, 0, 0, 0};
  if (object && Panel().getRect) Panel().getRect(d, object, &r, 0);
  return r;
}

// The record the text is measured in, set to a rectangle and read back.
// A box keeps one line per paragraph whatever its width, so the record
// wraps its words at the rectangle's width from here on, and the text's
// rectangle is that width by the height of its wrapped lines.
Rect Rewrap(void* context, const Rect& bounds) {
  TRecord t = static_cast<TRecord>(context);
  TSetMode(t, (TRData(t)->mode & ~kTRModeKind) | kTRKindWordWrap, false);
  TSetRect(t, &bounds);
  Rect view;
  LRect dest;
  TGetRect(t, &view, &dest);
  const int32 bottom = dest.bottom < INT16_MIN ? INT16_MIN : dest.bottom > INT16_MAX ? INT16_MAX : dest.bottom;
  return Rect{view.top, view.left, int16(bottom), view.right};
}

}  // namespace

void DlgFitAlertText(DialogRef dialog, int32 type, const void* message, int32 buttons) {
  if (!DlgIsLiveDialog(dialog)) return;
  if (buttons < 0 || buttons > 3) {
    DBAssert(__FILE__, __LINE__, "an alert has 0 to 3 buttons");
    return;
  }
  // 1. Drawing from the window's corner.
  if (const WindowRef w = WindowRef(DlgWindow(dialog))) WSetOrigin(w, Point{0, 0});
  // 2. Each button moved to (0, 0) and measured.
  AlertLayoutInput in{};
  in.buttons = buttons;
  for (int32 b = 1; b <= buttons; ++b) {
    Rect r;
    DlgGetItemRect(dialog, b, 0, &r);
    DlgMoveItem(dialog, b, Point{int16(-r.top), int16(-r.left)});
    in.buttonWidth[b - 1] = int16(r.right - r.left);
    in.buttonHeight[b - 1] = int16(r.bottom - r.top);
  }
  // 3. The message's text part moved to (0, 0).
  const int32 item = buttons + 1;
  const int32 object = DlgIsLiveDialog(dialog) ? DlgItemDisplay(dialog, item) : 0;
  const int32 part = object && Panel().findPart ? Panel().findPart(dialog, object, kMessageTextPart, 0) : 0;
  const Rect partRect = ObjectRect(dialog, part);
  DlgMoveItem(dialog, item, Point{int16(-partRect.top), int16(-partRect.left)});
  // 4. The text in a record that sizes itself, one line per paragraph.
  const AlertText text = AlertMessageBytes(type, message);
  const int32 font = part && Panel().partFont ? Panel().partFont(dialog, part) : 0;
  const Rect start{0, 0, 1, 1};
  TRecord record = TNew(&start, kTRKindBox, reinterpret_cast<const uChar*>(text.bytes), text.length, font,
                        kBlackColor, kTransparentColor);
  if (!record) {
    if (font) TDisposeFont(font);
    return;
  }
  TGetRect(record, &in.text, nullptr);
  in.rewrap = &Rewrap;
  in.context = record;
  // 5 and 6. Rewrapped to a pleasant block within the screen.
  WGetScreenRect(Point{10, 10}, &in.screen);
  AlertLayout out;
  const bool laid = FitAlertLayout(in, &out);
  // 7. The record goes; the text part and the message take the text's size.
  TDispose(record);
  if (font) TDisposeFont(font);
  if (!laid) return;
  if (part && Panel().size) {
    Panel().size(dialog, part, &out.text, 0);
    Panel().size(dialog, object, nullptr, kMessageTextPart);
  }
  // 8. The buttons in their row, the text above them.
  for (int32 b = 0; b < buttons; ++b) DlgMoveItem(dialog, b + 1, out.buttonAt[b]);
  const Rect placed = ObjectRect(dialog, part);
  DlgMoveItem(dialog, item, Point{int16(out.textAt.v - placed.top), int16(out.textAt.h - placed.left)});
  // 9. The dialog around them.
  OHSetWord(dialog, kOHFlags, OHWord(dialog, kOHFlags) | kPanelBoundsStale);
  DlgSize(dialog, &out.dialog);
}
