#include "shell/dialog.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "platform/qx_alert.h"

namespace {

int16 Width(const Rect& r) { return int16(r.right - r.left); }
int16 Height(const Rect& r) { return int16(r.bottom - r.top); }

std::string ButtonText(ConstPStr given, const char* resourceText) {
  if (!given) return resourceText;
  return std::string(reinterpret_cast<const char*>(given + 1), given[0]);
}

// True when an answering procedure is installed or answers are scripted:
// the platform's answer is then the operator's; otherwise it is only the
// platform's own default and the alert's default button stands.
bool AnswerSourceSpeaks() {
  const PlatAlertProc proc = PlatSetAlertProc(nullptr);
  PlatSetAlertProc(proc);
  if (proc) return true;
  const char* script = std::getenv("QX_ALERT_ANSWERS");
  return script && *script;
}

WEventRecord ItemChange(int32 item) {
  WEventRecord e{};
  e.code = kDlgEvItemChange;
  e.where = item;
  e.globalWhere = kDlgResultCommitted;
  return e;
}

// The operator's answer to an alert nobody sees: the message and the
// buttons (the default one marked) go to the platform's alert, and its
// answer comes back as the event a press or Escape would have sent.
WEventRecord HeadlessAnswer(int32 buttons, int32 defaultButton, int32 type, const void* message,
                            const std::string* texts) {
  const AlertText m = AlertMessageBytes(type, message);
  std::string line(m.bytes ? m.bytes : "", size_t(m.length));
  // A lone OK button goes without saying.
  if (buttons > 1) line += '\n';
  for (int32 b = 0; b < buttons && buttons > 1; ++b) {
    line += b + 1 == defaultButton ? " [*" : " [";
    line += texts[b];
    line += ']';
  }
  const int32 set = buttons == 3 ? kPlatYesNoCancel : buttons == 1 ? kPlatOK
                                                    : defaultButton == 2 ? kPlatYesNo : kPlatOKCancel;
  const int32 answer = PlatAlert(nullptr, line.c_str(), set, kPlatIconNone);
  WEventRecord e = ItemChange(defaultButton);
  if (AnswerSourceSpeaks()) {
    if (answer == kPlatAnsOK || answer == kPlatAnsYes) e = ItemChange(1);
    else if (answer == kPlatAnsNo || (answer == kPlatAnsCancel && buttons == 2)) e = ItemChange(2);
    else if (answer == kPlatAnsCancel) e = WEventRecord{}, e.code = kDlgEvCancel;
  }
  return e;
}

// The alert filter: a choice is written to the result word and ends the
// alert; the panel goes on with every event.  The word's address travels
// as the dialog's 32-bit user data.
static_assert(sizeof(void*) == 4, "an address fits the dialog's user-data word");
int32 AlertFilter(const WEventRecord* event, DialogRef dialog, int32 userData) {
  const int32 choice = event ? AlertChoice(*event) : 0;
  if (choice >= 1 && choice <= 3) {
    *reinterpret_cast<int32*>(uintptr_t(uInt32(userData))) = choice;
    DlgQuit(dialog, 0);
  }
  return 0;
}

// Runs an alert as a dialog of the run-time resource file.  When the dialog
// cannot be had (before the run-time file or the VI heaps exist, or without
// its resource) a debug line says so and the platform's alert answers: the
// operator still hears of it.  The chosen button.
int32 RunAlert(int32 buttons, int32 defaultButton, int32 type, const void* message, ConstPStr const* given,
               const std::string* texts, int32 h, int32 v) {
  static const int32 kIds[4] = {kNoButtonAlertId, kOneButtonAlertId, kTwoButtonAlertId, kThreeButtonAlertId};
  int32 chosen = 0;
  // Windows belong to the user-interface thread: an alert raised on another
  // thread (a library call of compiled code) takes the platform's alert.
  const bool onUIThread = DlgOnUIThread();
  DialogRef d = onUIThread ? DlgLoad(RunTimeRsrcFile(), kIds[buttons], nullptr, kAlertWindowKind, &AlertFilter,
                                     int32(uintptr_t(&chosen)))
                           : nullptr;
  if (!d) {
    if (onUIThread) DBPrintf("alert dialog %ld cannot be loaded", long(kIds[buttons]));
    const int32 choice = AlertChoice(HeadlessAnswer(buttons, defaultButton, type, message, texts));
    return choice ? choice : defaultButton;
  }
  for (int32 b = 0; b < buttons; ++b)
    if (given[b]) DlgSetBoolText(d, b + 1, given[b]);
  if (message) DlgSetCtrlVal(d, buttons + 1, type, message);
  DlgFitAlertText(d, type, message, buttons);
  DlgSetKbdFocus(d, defaultButton, 0, 0);
  DlgMove(d, h, v);
  DlgSetKeyNavItem(d, defaultButton, 0);
  if (DlgAnswersForTheOperator()) DlgAnswerNextLoop(d, HeadlessAnswer(buttons, defaultButton, type, message, texts));
  DlgBoxLoop(d);
  DlgUnload(d);
  return chosen ? chosen : defaultButton;
}

int32 CheckedDefault(int32 defaultButton, int32 buttons) {
  if (defaultButton >= 1 && defaultButton <= buttons) return defaultButton;
  DBPrintf(buttons == 2 ? "Buttons are one based.  Use either 1 or 2."
                        : "Buttons are one based.  Use either 1, 2 or 3.");
  DBAssert(__FILE__, __LINE__, "default button out of range");
  return 1;
}

int32 FindTwoButtons(ConstPStr message, ConstPStr b1, ConstPStr b2, int32 defaultButton) {
  return TwoButtonAlert(kDlgPStrValueType, message, b1, b2, defaultButton, -32768, -32768);
}
// The load dialog's question keeps going on loading when nobody answers.
int32 FindThreeButtons(ConstPStr message, ConstPStr b1, ConstPStr b2, ConstPStr b3) {
  return ThreeButtonAlert(kDlgPStrValueType, message, b1, b2, b3, 3, -32768, -32768);
}

}  // namespace

int32 DlgDefaultProc(const WEventRecord*, void*, int32) { return 0; }

AlertText AlertMessageBytes(int32 type, const void* message) {
  if (!message) return {nullptr, 0};
  switch (type) {
    case kDlgPStrValueType: {
      const uChar* p = static_cast<const uChar*>(message);
      return {reinterpret_cast<const char*>(p + 1), p[0]};
    }
    case kDlgCStrValue: {
      const char* c = static_cast<const char*>(message);
      return {c, int32(std::strlen(c))};
    }
    case kDlgLStrValue: {
      // A string handle from outside: the count is believed only as far as
      // the handle reaches.
      UHandle h = static_cast<UHandle>(const_cast<void*>(message));
      if (!*h) return {nullptr, 0};
      const int32 size = AZGetHandleSize(h);
      if (size < 4) return {nullptr, 0};
      int32 count;
      std::memcpy(&count, *h, 4);
      if (count < 0) count = 0;
      if (count > size - 4) count = size - 4;
      return {reinterpret_cast<const char*>(*h + 4), count};
    }
    default: return {nullptr, 0};
  }
}

int32 AlertChoice(const WEventRecord& event) {
  if (event.code == kDlgEvCancel) return 3;
  if (event.code == kDlgEvItemChange && (event.globalWhere & kDlgResultCommitted) && event.where >= 1 &&
      event.where <= 3)
    return event.where;
  return 0;
}

int32 TwoButtonAlert(int32 type, const void* message, ConstPStr button1, ConstPStr button2, int32 defaultButton,
                     int32 h, int32 v) {
  defaultButton = CheckedDefault(defaultButton, 2);
  const std::string texts[2] = {ButtonText(button1, "OK"), ButtonText(button2, "Cancel")};
  const ConstPStr given[2] = {button1, button2};
  return RunAlert(2, defaultButton, type, message, given, texts, h, v) == 1 ? 1 : 0;
}

int32 ThreeButtonAlert(int32 type, const void* message, ConstPStr button1, ConstPStr button2, ConstPStr button3,
                       int32 defaultButton, int32 h, int32 v) {
  defaultButton = CheckedDefault(defaultButton, 3);
  const std::string texts[3] = {ButtonText(button1, "Yes"), ButtonText(button2, "No"),
                                ButtonText(button3, "Cancel")};
  const ConstPStr given[3] = {button1, button2, button3};
  return RunAlert(3, defaultButton, type, message, given, texts, h, v);
}

bool FitAlertLayout(const AlertLayoutInput& in, AlertLayout* out) {
  if (!out) return false;
  *out = AlertLayout{};
  if (in.buttons < 0 || in.buttons > 3) {
    DBAssert(__FILE__, __LINE__, "an alert has 0 to 3 buttons");
    return false;
  }
  // The button row, each button standing at (0, 0).
  int32 w = 0, h = 0;
  for (int32 b = 0; b < in.buttons; ++b) {
    w += in.buttonWidth[b] + (b ? 20 : 0);
    if (in.buttonHeight[b] > h) h = in.buttonHeight[b];
  }
  if (in.buttons == 1) w = 2 * in.buttonWidth[0] + 20;
  const int32 reserved = in.buttons ? h + 35 : 40;
  Rect r = in.text;
  // A line much wider than the row is rewrapped towards a pleasant block:
  // the width that solves the area's quadratic, twice.
  if (Width(r) > w + 250) {
    for (int pass = 0; pass < 2; ++pass) {
      const int64_t area = int64_t(Height(r)) * Width(r);
      const int64_t b = ((13 - int64_t(reserved)) * 3) / 2;
      const int64_t c = (-area * 3) / 2;
      const double right = double(-b) + std::sqrt(double(b) * double(b) - 4.0 * double(c)) / 2.0;
      Rect bounds = r;
      bounds.right = int16(right > 32767 ? 32767 : int32(right));
      r = in.rewrap ? in.rewrap(in.context, bounds) : bounds;
    }
  }
  const int32 screenW = Width(in.screen), screenH = Height(in.screen);
  if (Width(r) > screenW - 80) {
    Rect bounds = r;
    bounds.left = 0;
    bounds.right = int16(screenW - 80);
    r = in.rewrap ? in.rewrap(in.context, bounds) : bounds;
  }
  if (Height(r) > screenH - 80 - reserved) {
    r.top = 0;
    r.bottom = int16(screenH - 80 - reserved);
  }
  r.left = int16(r.left - 1);
  r = Rect{int16(r.top - 1), int16(r.left - 1), int16(r.bottom + 1), int16(r.right + 1)};
  out->text = r;
  const int32 t = Width(r);
  int32 d;
  if (in.buttons) {
    int32 x;
    if (t < w) {
      d = w + 20;
      x = 10;
      out->textAt = Point{10, int16((d - t) / 2)};
    } else {
      d = t + 20;
      x = (d - w) / 2;
      out->textAt = Point{10, 10};
    }
    if (in.buttons == 1) x += int16((w + 20) / 4);
    for (int32 b = 0; b < in.buttons; ++b) {
      out->buttonAt[b] = Point{int16(r.bottom + 25), int16(x)};
      x += in.buttonWidth[b] + 20;
    }
  } else {
    out->textAt = Point{20, 20};
    d = t + 40;
  }
  out->dialog = Rect{0, 0, int16(Height(r) + reserved), int16(d)};
  return true;
}

namespace {
// The one-button alert: the dialog's disposal result (0); 1 for a message
// type it cannot read.
int32 OneButton(int32 type, const void* message, ConstPStr button, int32 h, int32 v) {
  if (type != kDlgPStrValueType && type != kDlgCStrValue && type != kDlgLStrValue) return kArgErr;
  const std::string texts[1] = {ButtonText(button, "OK")};
  const ConstPStr given[1] = {button};
  RunAlert(1, 1, type, message, given, texts, h, v);
  return 0;
}
}  // namespace

void ShellInstallAlertHooks() {
  SetOneButtonAlertProc(&OneButton);
  VIFindShellHooks find = VIFindShell();
  find.twoButtonAlert = &FindTwoButtons;
  find.threeButtonAlert = &FindThreeButtons;
  SetVIFindShellHooks(&find);
}
