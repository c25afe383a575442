#include "engine/shellsvc.h"

#include <cstring>
#include <string>

#include "engine/vi/rtrsrc.h"
#include "mgsource/rsrc.h"
#include "platform/qx_alert.h"

namespace {

OneButtonAlertProc gAlertProc = nullptr;
WindowTitleProc gTitleProc = nullptr;
// Set while an error alert is up (the user-interface thread's only).
bool gInErrDialog = false;

int32 HeadlessOneButtonAlert(int32 kind, const void* message, ConstPStr /*button*/, int32 /*h*/, int32 /*v*/) {
  std::string text;
  if (kind == kAlertCStr) {
    if (message) text = static_cast<const char*>(message);
  } else if (kind == kAlertPStr) {
    if (const uChar* p = static_cast<const uChar*>(message)) text.assign(reinterpret_cast<const char*>(p + 1), p[0]);
  } else {
    return kArgErr;
  }
  PlatAlert(nullptr, text.c_str(), kPlatOK, kPlatIconNone);
  return 0;
}

// Entry `index` of a string list of the run-time resource file.
bool ListEntry(int32 listId, int32 index, std::string* text) {
  Str255 s;
  if (RGetIndString(RunTimeRsrcFile(), s, listId, index) != kNoErr) return false;
  text->assign(reinterpret_cast<const char*>(s + 1), s[0]);
  return true;
}

// The text of an error code: application errors from 1000 up, manager
// errors below; a code without text has the unspecified error's.
std::string ErrText(MgErr code) {
  std::string text;
  if (code == kNoErr) return text;
  if (code > kAppErrBase ? ListEntry(kAppErrTextsListId, code - kAppErrBase, &text)
                         : ListEntry(kMgErrTextsListId, code, &text))
    return text;
  if (ListEntry(kAppErrTextsListId, kAppErrUnspecified - kAppErrBase, &text)) return text;
  return kUnspecifiedErrText;
}

}  // namespace

int32 OneButtonAlert(int32 kind, const void* message, ConstPStr button, int32 h, int32 v) {
  return (gAlertProc ? gAlertProc : HeadlessOneButtonAlert)(kind, message, button, h, v);
}

void SetOneButtonAlertProc(OneButtonAlertProc proc) { gAlertProc = proc; }
OneButtonAlertProc OneButtonAlertProcInUse() { return gAlertProc; }

void ErrDescription(MgErr code, PStr out) {
  if (!out) return;
  const std::string text = ErrText(code);
  const size_t n = text.size() > 255 ? 255 : text.size();
  out[0] = uChar(n);
  std::memcpy(out + 1, text.data(), n);
}

void ErrDialogText(MgErr code, const char* detail) {
  if (code == kNoErr || gInErrDialog) return;
  gInErrDialog = true;
  std::string text = ErrText(code);
  if (detail) {
    text += '\n';
    text += detail;
  }
  OneButtonAlert(kAlertCStr, text.c_str(), nullptr, kAlertDefaultPos, kAlertDefaultPos);
  gInErrDialog = false;
}

void ErrDialog(MgErr code, ConstPStr detail) {
  if (!detail) return ErrDialogText(code, nullptr);
  char text[256];
  std::memcpy(text, detail + 1, detail[0]);
  text[detail[0]] = 0;
  ErrDialogText(code, text);
}

void SetWindowTitleProc(WindowTitleProc proc) { gTitleProc = proc; }
WindowTitleProc WindowTitleProcInUse() { return gTitleProc; }

void SetWindowTitle(int32 window, ConstPStr title) {
  if (gTitleProc) gTitleProc(window, title);
}
