#include "shell/viwindow.h"

#include <cstring>
#include <map>
#include <mutex>

#include "engine/exec/panelplace.h"
#include "engine/typemgr.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/config.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/wport.h"
#include "platform/qx_sysinfo.h"
#include "rtlib/datalog.h"
#include "shell/statepnl.h"

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
  return on ? PlatGetSystemMetric(kPlatMetricMenuHeight) : kToolBarIconHeight - ToolBarHeight(parts);
}
// What the parts add above, below and to the right of the content.
int32 Above(int32 parts) {
  return ((parts & kVIWindMenuBar) ? MenuBarHeight(parts) : 0) + ((parts & kVIWindToolBar) ? ToolBarHeight(parts) + 1 : 0);
}
int32 Below(int32 parts) { return (parts & kVIWindHScroll) ? VIWindHScrollHeight() - 1 : 0; }
int32 Right(int32 parts) { return (parts & kVIWindVScroll) ? VIWindVScrollWidth() - 1 : 0; }

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

ObjHeap PanelOf(UHandle vi) { return vi && *vi ? VIRec(vi)->panelHeap : nullptr; }

void InvalToolBar(UHandle vi) {
  ObjHeap panel = PanelOf(vi);
  Rect bar;
  if (VIWindStatePanelRect(panel, &bar)) WInvalRect(viinst::PanelWindow(panel), &bar);
}

void CreateField(UHandle vi, const Rect* bounds, ConstPStr text) {
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = gFields.find(vi);
    if (it != gFields.end()) {
      // The field there is kept, its text selected and active.
      it->second.allSelected = it->second.active = true;
    } else {
      gFields[vi] = RecordField{*bounds, std::string(reinterpret_cast<const char*>(text + 1), text[0]),
                                true, true, false, false, 0};
    }
  }
  InvalToolBar(vi);
}
void ClearField(UHandle vi) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = gFields.find(vi);
  if (it != gFields.end()) it->second.text.clear(), it->second.edited = false;
}
// A new text of the field: a record number shown, or one typed (edited).
void PutField(UHandle vi, ConstPStr text, bool edited) {
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = gFields.find(vi);
    if (it == gFields.end()) return;
    it->second.text.assign(reinterpret_cast<const char*>(text + 1), text[0]);
    it->second.allSelected = !edited;
    it->second.active = true;
    it->second.edited = edited;
  }
  InvalToolBar(vi);
}
void SetField(UHandle vi, ConstPStr text) { PutField(vi, text, false); }
void DisposeField(UHandle vi) {
  std::lock_guard<std::mutex> g(gLock);
  gFields.erase(vi);
}
void FieldText(UHandle vi, PStr text) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = gFields.find(vi);
  const std::string t = it == gFields.end() ? std::string() : it->second.text;
  text[0] = uChar(t.size() > 255 ? 255 : t.size());
  std::memcpy(text + 1, t.data(), text[0]);
}
// The record display takes a record: its deletion mark, and its time stamp
// with it.
void ShowMark(UHandle vi, int32 mark) {
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = gFields.find(vi);
    if (it == gFields.end()) return;
    it->second.mark = mark;
    it->second.stamped = true;
  }
  InvalToolBar(vi);
}

// Slot redraws are drawn with the tool bar when the window is next updated:
// the slot that shows the image waits for it.
void DrawToolbarSlot(UHandle vi, int32 image, int32 /*state*/) {
  ObjHeap panel = PanelOf(vi);
  Rect bar, slot = StatePnlSlotRect(StatePnlImageSlot(image));
  if (DEmptyRect(&slot) || !VIWindStatePanelRect(panel, &bar)) return;
  DOffsetRect(&slot, bar.left, bar.top);
  WInvalRect(viinst::PanelWindow(panel), &slot);
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

int32 VIWindIconPaneRect(ObjHeap panel, Rect* pane, Rect* icon) {
  int32 parts = 0;
  Rect c;
  if (pane) *pane = kEmpty;
  if (icon) *icon = kEmpty;
  if (!PanelParts(panel, &parts, &c) || !(parts & kVIWindIconPane)) return 0;
  int32 height = Above(parts);
  if (height < 34) height = 35;
  Rect p;
  p.top = int16(c.top - height);
  p.bottom = (c.top >= c.bottom || c.left >= c.right) ? int16(c.bottom + 1) : c.top;
  p.right = int16(c.right + Right(parts));
  p.left = int16(p.right - kIconPaneWidth);
  if (pane) *pane = p;
  if (icon) {
    icon->top = int16(p.top + (height - 33) / 2);
    icon->left = int16(p.left + 2);
    icon->bottom = int16(icon->top + 32);
    icon->right = int16(icon->left + 32);
  }
  return 1;
}

int32 VIWindHScrollHeight() {
  const int32 h = PlatGetSystemMetric(kPlatMetricHScrollHeight);
  return h < 8 ? 8 : h;
}
int32 VIWindVScrollWidth() {
  const int32 v = PlatGetSystemMetric(kPlatMetricVScrollWidth);
  return v < 8 ? 8 : v;
}

void VIWindDisposeRgnCache(ObjHeap panel) {
  if (!panel || !*panel || OHWord(panel, kOHKind) != kPanelHeapKind) return;
  const int32 root = viinst::PanelRoot(panel);
  if (root <= 0 || root + 4 * (kRootRegionWord + 1) > AZGetHandleSize(reinterpret_cast<UHandle>(panel))) return;
  uChar* word = *panel + root + 4 * kRootRegionWord;
  const DRgn region = GetNative32(word);
  if (!region) return;
  PutNative32(word, 0);
  // The word may come from a stored heap: only a live region is destroyed.
  if (PlatObjectKind(region) == kPlatObjRegion) DDestroyRgn(region);
}

bool VIRecordField(UHandle vi, RecordField* out) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = gFields.find(vi);
  if (it == gFields.end()) return false;
  if (out) *out = it->second;
  return true;
}

void VIRecordFieldEdit(UHandle vi, ConstPStr text) {
  if (text) PutField(vi, text, true);
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
  w.drawToolbarSlot = &DrawToolbarSlot;
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
