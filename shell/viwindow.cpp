#include "shell/viwindow.h"

#include <cstring>
#include <map>
#include <mutex>

#include "engine/exec/panelplace.h"
#include "engine/typemgr.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/config.h"
#include "mgsource/memory.h"
#include "mgsource/window/wport.h"
#include "rtlib/datalog.h"

namespace {

const uChar kUseWindowMenuBarsKey[] = "\x11" "useWindowMenuBars";

int32 ToolBarHeight(int32 parts) {
  return (parts & kVIWindIconPane) && !(parts & kVIWindMenuBar) ? kToolBarIconHeight : kToolBarHeight;
}
// The own menu bar's height: the system-drawn bar's when menus are drawn in
// VI windows (the default), else what the tool bar leaves of 34 pixels.
int32 MenuBarHeight(int32 parts) {
  Bool32 on = 1;
  CfgGetDefault(kCfgBool, kUseWindowMenuBarsKey, &on);
  return on ? kMenuBarHeight : kToolBarIconHeight - ToolBarHeight(parts);
}
// What the parts add above, below and to the right of the content.
int32 Above(int32 parts) {
  return ((parts & kVIWindMenuBar) ? MenuBarHeight(parts) : 0) + ((parts & kVIWindToolBar) ? ToolBarHeight(parts) + 1 : 0);
}
int32 Below(int32 parts) { return (parts & kVIWindHScroll) ? kScrollBarSize - 1 : 0; }
int32 Right(int32 parts) { return (parts & kVIWindVScroll) ? kScrollBarSize - 1 : 0; }

constexpr Rect kEmpty{0, 0, 0, 0};

bool PanelParts(ObjHeap panel, int32* parts, Rect* content) {
  if (!panel || !*panel || !OHWord(panel, kOHExtension)) return false;
  *parts = viinst::ExtHalf(panel, kHeapExtWindowOptions);
  std::memcpy(content, viinst::ExtAt(panel, kHeapExtContentRect), sizeof *content);
  return true;
}

// Retrieval state by VI.  The user-interface thread works it; the lock
// keeps the table whole for any caller.
std::mutex gLock;
std::map<UHandle, RecordField> gFields;
std::map<UHandle, int32> gMarks;

ObjHeap PanelOf(UHandle vi) { return vi && *vi ? VIRec(vi)->panelHeap : nullptr; }

void InvalToolBar(UHandle vi) {
  ObjHeap panel = PanelOf(vi);
  Rect bar;
  if (VIWindStatePanelRect(panel, &bar)) WInvalRect(viinst::PanelWindow(panel), &bar);
}

void CreateField(UHandle vi, const Rect* bounds, ConstPStr text) {
  {
    std::lock_guard<std::mutex> g(gLock);
    if (gFields.count(vi)) return;
    RecordField f{*bounds, std::string(reinterpret_cast<const char*>(text + 1), text[0]), true, true, 0};
    gFields[vi] = f;
  }
  InvalToolBar(vi);
}
void ClearField(UHandle vi) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = gFields.find(vi);
  if (it != gFields.end()) it->second.text.clear();
}
void SetField(UHandle vi, ConstPStr text) {
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = gFields.find(vi);
    if (it == gFields.end()) return;
    it->second.text.assign(reinterpret_cast<const char*>(text + 1), text[0]);
    it->second.allSelected = it->second.active = true;
  }
  InvalToolBar(vi);
}
void DisposeField(UHandle vi) {
  std::lock_guard<std::mutex> g(gLock);
  gFields.erase(vi);
  gMarks.erase(vi);
}
void FieldText(UHandle vi, PStr text) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = gFields.find(vi);
  const std::string t = it == gFields.end() ? std::string() : it->second.text;
  text[0] = uChar(t.size() > 255 ? 255 : t.size());
  std::memcpy(text + 1, t.data(), text[0]);
}
void ShowMark(UHandle vi, int32 mark) {
  {
    std::lock_guard<std::mutex> g(gLock);
    gMarks[vi] = mark;
  }
  InvalToolBar(vi);
}

}  // namespace

void VIWindContentToWindow(int32 parts, const Rect* content, Rect* window) {
  if (!content || !window) return;
  *window = Rect{int16(content->top - Above(parts)), content->left, int16(content->bottom + Below(parts)),
                 int16(content->right + Right(parts))};
}

void VIWindWindowToContent(WindowRef /*window*/, int32 parts, const Rect* windowRect, Rect* content) {
  if (!windowRect || !content) return;
  *content = Rect{int16(windowRect->top + Above(parts)), windowRect->left, int16(windowRect->bottom - Below(parts)),
                  int16(windowRect->right - Right(parts))};
}

int32 VIWindStatePanelRect(ObjHeap panel, Rect* rect) {
  int32 parts = 0;
  Rect c;
  if (rect) *rect = kEmpty;
  if (!rect || !PanelParts(panel, &parts, &c) || !(parts & kVIWindToolBar)) return 0;
  const int32 right = c.right + Right(parts) - ((parts & kVIWindIconPane) ? kIconPaneWidth : 0);
  *rect = Rect{int16(c.top - ToolBarHeight(parts) - 1), c.left, c.top, int16(right)};
  if (rect->right <= rect->left) *rect = kEmpty;
  return rect->right > rect->left;
}

int32 VIWindMenuBarRect(ObjHeap panel, Rect* rect) {
  int32 parts = 0;
  Rect c;
  if (rect) *rect = kEmpty;
  if (!rect || !PanelParts(panel, &parts, &c) || !(parts & kVIWindMenuBar)) return 0;
  const int32 bottom = c.top - ((parts & kVIWindToolBar) ? ToolBarHeight(parts) + 1 : 0);
  const int32 right = c.right + Right(parts) - ((parts & kVIWindIconPane) ? kIconPaneWidth : 0);
  *rect = Rect{int16(bottom - MenuBarHeight(parts)), c.left, int16(bottom), int16(right)};
  if (rect->right <= rect->left || rect->bottom <= rect->top) *rect = kEmpty;
  return rect->right > rect->left;
}

void VIWindDisposeRgnCache(ObjHeap panel) {
  if (!panel || !*panel || OHWord(panel, kOHKind) != kPanelHeapKind) return;
  const int32 root = viinst::PanelRoot(panel);
  if (root <= 0 || root + 4 * (kRootRegionWord + 1) > AZGetHandleSize(reinterpret_cast<UHandle>(panel))) return;
  uChar* word = *panel + root + 4 * kRootRegionWord;
  UHandle region = reinterpret_cast<UHandle>(uintptr_t(GetNative32(word)));
  if (!region) return;
  PutNative32(word, 0);
  if (AZIsHandle(region)) AZDisposeHandle(region);
}

bool VIRecordField(UHandle vi, RecordField* out) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = gFields.find(vi);
  if (it == gFields.end()) return false;
  if (out) {
    *out = it->second;
    auto m = gMarks.find(vi);
    out->mark = m == gMarks.end() ? 0 : m->second;
  }
  return true;
}

int32 VIRecordFieldCount() {
  std::lock_guard<std::mutex> g(gLock);
  return int32(gFields.size());
}

void DefaultLogName(UHandle vi, PStr name) {
  name[0] = 0;
  if (!vi || !*vi) return;
  const uChar* n = VIRec(vi)->name;
  int32 len = n[0];
  for (int32 i = len; i >= 1; --i)
    if (n[i] == '.') {
      len = i - 1;
      break;
    }
  if (len > 251) len = 251;
  std::memcpy(name + 1, n + 1, size_t(len));
  std::memcpy(name + 1 + len, ".log", 4);
  name[0] = uChar(len + 4);
}

void ShellInstallVIWindowHooks() {
  VIWindowHooks w = VIWindow();
  w.contentToWindow = &VIWindContentToWindow;
  w.windowToContent = &VIWindWindowToContent;
  w.disposeRgnCache = &VIWindDisposeRgnCache;
  w.menuBarRect = [](ObjHeap panel, Rect* rect) { VIWindMenuBarRect(panel, rect); };
  w.toolBarRect = [](ObjHeap panel, Rect* rect) { VIWindStatePanelRect(panel, rect); };
  w.createRecordField = &CreateField;
  w.clearRecordField = &ClearField;
  w.setRecordField = &SetField;
  w.disposeRecordField = &DisposeField;
  SetVIWindowHooks(&w);
  DatalogUIHooks ui = DatalogUI();
  ui.defaultLogName = &DefaultLogName;
  ui.redrawRetrieval = &InvalToolBar;
  ui.retrieveFieldText = &FieldText;
  ui.setRetrieveFieldText = &SetField;
  ui.showMark = &ShowMark;
  SetDatalogUIHooks(&ui);
}
