#include "shell/colordialog.h"

#include <algorithm>

#include "engine/datatype.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/debug.h"
#include "shell/dialog.h"

namespace {

int32 Part(DialogRef d, int32 item) {
  int32 v = 0;
  if (DlgGetCtrlVal(d, item, kTDI32, &v) != kNoErr) v = 0;
  return std::clamp(v, 0, 255);
}

DColor PartsColour(DialogRef d) {
  return DColor(Part(d, kColorsRed)) << 16 | DColor(Part(d, kColorsGreen)) << 8 | DColor(Part(d, kColorsBlue));
}

void ShowParts(DialogRef d, DColor c) {
  const int32 parts[3] = {int32((c >> 16) & 0xFF), int32((c >> 8) & 0xFF), int32(c & 0xFF)};
  for (int32 k = 0; k < 3; ++k) DlgSetCtrlVal(d, kColorsRed + k, kTDI32, &parts[k]);
}

// Item 1 confirms, item 2 and the cancel event cancel; a part rebuilds the
// colour in the box, the box splits into the parts.
int32 Filter(const WEventRecord* e, DialogRef d, int32) {
  if (e->code == kDlgEvCancel) {
    DlgQuit(d, 0);
    return 1;
  }
  if (e->code != kDlgEvItemChange) return 0;
  switch (e->where) {
    case kColorsOK:
      if (!(e->globalWhere & kDlgResultCommitted)) return 0;
      DlgQuit(d, 1);
      return 1;
    case kColorsCancel:
      if (!(e->globalWhere & kDlgResultCommitted)) return 0;
      DlgQuit(d, 0);
      return 1;
    case kColorsRed: case kColorsGreen: case kColorsBlue: {
      const uInt32 c = PartsColour(d);
      DlgSetCtrlVal(d, kColorsBox, kTDU32, &c);
      return 0;
    }
    case kColorsBox: {
      uInt32 c = 0;
      if (DlgGetCtrlVal(d, kColorsBox, kTDU32, &c) == kNoErr) ShowParts(d, c & 0xFFFFFF);
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace

int32 ShellColorDialog(ConstPStr caption, DColor colour, DColor* out) {
  if (!out) return 0;
  const DialogRef d = DlgLoad(RunTimeRsrcFile(), kColorsDialogId, nullptr, kAlertWindowKind, &Filter, 0);
  if (!d) {
    DBAssert(__FILE__, __LINE__, "can't load the colour dialog");
    return 0;
  }
  const DColor c = colour & 0xFFFFFF;
  ShowParts(d, c);
  DlgSetCtrlVal(d, kColorsBox, kTDU32, &c);
  static const uChar kEmpty[1] = {0};
  DlgSetCtrlVal(d, kColorsCaption, kDlgPStrValueType, caption ? caption : kEmpty);
  DlgSetStringItemFlag(d, kColorsCaption, 1);
  DlgMove(d, kDlgDefaultPos, kDlgDefaultPos);
  DlgSetKbdFocus(d, kColorsRed, 0, 0x7FFFFFFF);
  const int32 confirmed = DlgBoxLoop(d);
  if (confirmed) *out = PartsColour(d);
  DlgUnload(d);
  return confirmed ? 1 : 0;
}
