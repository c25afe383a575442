#include "shell/loaddialog.h"

#include <map>

#include "engine/link/loadmethods.h"
#include "engine/vi/rtrsrc.h"
#include "shell/runshell.h"

namespace {
struct Extra {
  std::map<int32, int32> gray, stringFlag;
  LoadDlgFilterProc filter = nullptr;
  void* context = nullptr;
};
// Per live dialog record; used from the user-interface thread.
std::map<void*, Extra>& Extras() {
  static std::map<void*, Extra> m;
  return m;
}
std::deque<int32>& Clicks() {
  static std::deque<int32> c;
  return c;
}
// The extras of a live dialog, or null.
Extra* Of(void* dlg) {
  if (!DlgInfo(dlg, nullptr, nullptr, nullptr, nullptr)) {
    Extras().erase(dlg);
    return nullptr;
  }
  return &Extras()[dlg];
}
int32 Lookup(void* dlg, const std::map<int32, int32> Extra::*which, int32 item) {
  auto it = Extras().find(dlg);
  if (it == Extras().end() || !DlgInfo(dlg, nullptr, nullptr, nullptr, nullptr)) return -1;
  auto i = (it->second.*which).find(item);
  return i == (it->second.*which).end() ? -1 : i->second;
}

void* LoadDialog(int32 id, int32 h, int32 v, LoadDlgFilterProc filter, void* context) {
  void* dlg = DlgLoad(RunTimeRsrcFile(), id, 0, 0, nullptr, nullptr);
  if (!dlg) return nullptr;
  DlgMove(dlg, h, v);
  DlgShow(dlg, 1);
  Extra& e = Extras()[dlg];
  e = Extra{};
  e.filter = filter;
  e.context = context;
  return dlg;
}
void SetText(void* dlg, int32 item, ConstPStr text) { DlgRecordCtrlVal(dlg, item, kDlgPStrValue, text); }
int32 Step(void* dlg) {
  Extra* e = Of(dlg);
  if (!e || Clicks().empty()) return 0;
  const int32 item = Clicks().front();
  Clicks().pop_front();
  if (e->filter) e->filter(e->context, item);
  return 0;
}
void Unload(void* dlg) {
  Extras().erase(dlg);
  DlgUnload(dlg);
}
void RecordGray(void* dlg, int32 item, int32 state) {
  if (Extra* e = Of(dlg)) e->gray[item] = state;
}
void RecordBoolText(void* dlg, int32 item, ConstPStr text) { DlgRecordCtrlVal(dlg, item, kDlgPStrValue, text); }
void RecordStringFlag(void* dlg, int32 item, int32 flag) {
  if (Extra* e = Of(dlg)) e->stringFlag[item] = flag;
}
}  // namespace

int32 DlgItemGray(void* dlg, int32 item) { return Lookup(dlg, &Extra::gray, item); }
int32 DlgItemStringFlag(void* dlg, int32 item) { return Lookup(dlg, &Extra::stringFlag, item); }
void DlgScriptClicks(const std::deque<int32>& items) { Clicks() = items; }

void ShellInstallLoadDialogHooks() {
  LoadMethodHooks h = LoadHooks();
  h.dlgLoad = &LoadDialog;
  h.dlgSetText = &SetText;
  h.dlgGray = &RecordGray;
  h.dlgSetBoolText = &RecordBoolText;
  h.dlgSetStringItemFlag = &RecordStringFlag;
  h.dlgBoxStep = &Step;
  h.dlgUnload = &Unload;
  SetLoadMethodHooks(&h);
}
