#include "shell/dlgstandins.h"

#include <map>
#include <utility>

#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/objlist.h"

namespace {

struct Given {
  std::map<int32, std::string> text;
  std::map<int32, int32> gray, stringFlag;
};
// Per dialog; used from the user-interface thread.
std::map<DialogRef, Given>& Records() {
  static auto* m = new std::map<DialogRef, Given>;
  return *m;
}
bool Alive(DialogRef d) {
  for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h))
    if (h == d) return OHWord(h, kOHKind) == kPanelHeapKind;
  return false;
}
// The record of a live dialog (records of dialogs that went are dropped).
Given* Of(DialogRef d) {
  for (auto it = Records().begin(); it != Records().end();) it = Alive(it->first) ? std::next(it) : Records().erase(it);
  if (!DlgIsLiveDialog(d)) return nullptr;
  return &Records()[d];
}
const Given* Read(DialogRef d) {
  auto it = Records().find(d);
  return it != Records().end() && Alive(d) ? &it->second : nullptr;
}

}  // namespace

int32 DlgSetCtrlVal(DialogRef dialog, int32 item, int32 type, const void* value) {
  Given* g = Of(dialog);
  if (!g || type != kDlgPStrValueType || !value) return 16;
  const uChar* p = static_cast<const uChar*>(value);
  g->text[item].assign(reinterpret_cast<const char*>(p + 1), p[0]);
  return 0;
}
int32 DlgGrayControl(DialogRef dialog, int32 item, int32 state) {
  if (Given* g = Of(dialog)) g->gray[item] = state;
  return state;
}
void DlgSetBoolText(DialogRef dialog, int32 item, ConstPStr text) { DlgSetCtrlVal(dialog, item, kDlgPStrValueType, text); }
void DlgSetStringItemFlag(DialogRef dialog, int32 item, int32 on) {
  if (Given* g = Of(dialog)) g->stringFlag[item] = on;
}
int32 DlgSetKbdFocus(DialogRef dialog, int32 item, int32, int32) {
  const int32 object = DItemToDCOId(dialog, item);
  if (object) PutNative32(*dialog + OHWord(dialog, kOHExtension) + kHeapExtKeyFocus, uInt32(object));
  return 0;
}

void DlgSetKeyNavItem(DialogRef dialog, int32 item, int32 slot) {
  const int32 object = DItemToDCOId(dialog, item);
  const int32 ext = object ? int32(OHWord(dialog, kOHExtension)) : 0;
  const int32 root = ext ? int32(GetNative32(*dialog + ext + kHeapExtRoot)) : 0;
  const int32 nav = root && OHBlockSize(dialog, root) >= 72 ? int32(OHWord(dialog, uInt32(root + 68))) : 0;
  if (nav && slot >= 0 && slot < ObjListCount(dialog, nav)) ObjListSet(dialog, nav, slot, object);
}

bool DlgItemText(DialogRef dialog, int32 item, std::string* text) {
  const Given* g = Read(dialog);
  auto it = g ? g->text.find(item) : std::map<int32, std::string>::const_iterator{};
  if (!g || it == g->text.end()) return false;
  *text = it->second;
  return true;
}
int32 DlgItemGray(DialogRef dialog, int32 item) {
  const Given* g = Read(dialog);
  auto it = g ? g->gray.find(item) : std::map<int32, int32>::const_iterator{};
  return g && it != g->gray.end() ? it->second : -1;
}
int32 DlgItemStringFlag(DialogRef dialog, int32 item) {
  const Given* g = Read(dialog);
  auto it = g ? g->stringFlag.find(item) : std::map<int32, int32>::const_iterator{};
  return g && it != g->stringFlag.end() ? it->second : -1;
}
