#include "shell/loaddialog.h"

#include <map>

#include "engine/link/loadmethods.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/window/window.h"
#include "shell/dialog.h"

namespace {

// The load methods' filter of each load dialog; used from the user-interface thread.
struct Client {
  LoadDlgFilterProc filter = nullptr;
  void* context = nullptr;
};
std::map<DialogRef, Client>& Clients() {
  static auto* m = new std::map<DialogRef, Client>;
  return *m;
}
std::deque<int32>& Clicks() {
  static auto* c = new std::deque<int32>;
  return *c;
}

// A committed change of an item is its press.
int32 Filter(const WEventRecord* e, DialogRef dialog, int32) {
  if (!e || e->code != kDlgEvItemChange || !(e->globalWhere & kDlgResultCommitted)) return 0;
  auto it = Clients().find(dialog);
  if (it != Clients().end() && it->second.filter) it->second.filter(it->second.context, e->where);
  return 0;
}

DialogRef Dlg(void* dlg) { return static_cast<DialogRef>(dlg); }

void* LoadDialog(int32 id, int32 h, int32 v, LoadDlgFilterProc filter, void* context) {
  DialogRef d = DlgLoad(RunTimeRsrcFile(), id, nullptr, 0, &Filter, 0);
  if (!d) return nullptr;
  Clients()[d] = Client{filter, context};
  DlgMove(d, h, v);
  DlgShow(d, 1);
  return d;
}
// The dialog's title names the VI being loaded.
void SetTitle(void* dlg, ConstPStr title) {
  if (const uInt32 window = DlgWindow(Dlg(dlg))) WSetTitle(WindowRef(window), title);
}
void SetText(void* dlg, int32 item, ConstPStr text) { DlgSetCtrlVal(Dlg(dlg), item, kDlgPStrValueType, text); }
void Gray(void* dlg, int32 item, int32 state) { DlgGrayControl(Dlg(dlg), item, state); }
void BoolText(void* dlg, int32 item, ConstPStr text) { DlgSetBoolText(Dlg(dlg), item, text); }
void StringFlag(void* dlg, int32 item, int32 on) { DlgSetStringItemFlag(Dlg(dlg), item, on); }
// A scripted press arrives as the panel sends one, then the loop turns once.
int32 Step(void* dlg) {
  if (!Clients().count(Dlg(dlg))) return 0;
  if (!Clicks().empty()) {
    WEventRecord e{};
    e.code = kDlgEvItemChange;
    e.window = WindowRef(DlgWindow(Dlg(dlg)));
    e.where = Clicks().front();
    e.globalWhere = kDlgResultCommitted;
    Clicks().pop_front();
    WSendEvent(&e);
  }
  return DlgBoxStep(Dlg(dlg));
}
void Unload(void* dlg) {
  if (!Clients().erase(Dlg(dlg))) return;
  DlgUnload(Dlg(dlg));
}

}  // namespace

void DlgScriptClicks(const std::deque<int32>& items) { Clicks() = items; }

void ShellInstallLoadDialogHooks() {
  LoadMethodHooks h = LoadHooks();
  h.dlgLoad = &LoadDialog;
  h.dlgSetTitle = &SetTitle;
  h.dlgSetText = &SetText;
  h.dlgGray = &Gray;
  h.dlgSetBoolText = &BoolText;
  h.dlgSetStringItemFlag = &StringFlag;
  h.dlgBoxStep = &Step;
  h.dlgUnload = &Unload;
  SetLoadMethodHooks(&h);
}
