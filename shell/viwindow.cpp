#include "shell/viwindow.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "engine/exec/panelplace.h"
#include "engine/exec/retrieve.h"
#include "engine/exec/runtexts.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/rsrc.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/prefs.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/memory.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/textedit.h"
#include "mgsource/rects.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "platform/qx_sysinfo.h"
#include "rtlib/datalog.h"
#include "shell/statepnl.h"

namespace {

int32 ToolBarHeight(int32 parts) {
  return (parts & kVIWindIconPane) && !(parts & kVIWindMenuBar) ? kToolBarIconHeight : kToolBarHeight;
}
// The own menu bar's height: the system-drawn bar's when menus are drawn in
// VI windows (the default), else what the tool bar leaves of 34 pixels.
int32 MenuBarHeight(int32 parts) {
  return PrefGet(kPrefUseWindowMenuBars) ? PlatGetSystemMetric(kPlatMetricMenuHeight)
                                         : kToolBarIconHeight - ToolBarHeight(parts);
}
// What the parts add above, below and to the right of the content.
int32 Above(int32 parts) {
  return ((parts & kVIWindMenuBar) ? MenuBarHeight(parts) : 0) + ((parts & kVIWindToolBar) ? ToolBarHeight(parts) + 1 : 0);
}
int32 Below(int32 parts) { return (parts & kVIWindHScroll) ? VIWindHScrollHeight() - 1 : 0; }
int32 Right(int32 parts) { return (parts & kVIWindVScroll) ? VIWindVScrollWidth() - 1 : 0; }

constexpr Rect kEmpty{0, 0, 0, 0};

// Rectangles from stored panels lie anywhere in 16 bits: edges are computed
// in 32 bits and pinned to 16 when stored.
int16 Pin(int32 v) { return int16(v < -32768 ? -32768 : (v > 32767 ? 32767 : v)); }
Rect Pinned(int32 top, int32 left, int32 bottom, int32 right) { return Rect{Pin(top), Pin(left), Pin(bottom), Pin(right)}; }

bool PanelParts(ObjHeap panel, int32* parts, Rect* content) {
  if (!panel || !*panel || !OHWord(panel, kOHExtension)) return false;
  *parts = viinst::ExtHalf(panel, kHeapExtWindowOptions);
  std::memcpy(content, viinst::ExtAt(panel, kHeapExtContentRect), sizeof *content);
  return true;
}

// A part's rectangle: 1 when it is not empty, else 0 with an empty one.
int32 Answer(Rect* rect, const Rect& r) {
  const bool some = r.bottom > r.top && r.right > r.left;
  *rect = some ? r : kEmpty;
  return some;
}

// The right edge of the tool bar and the own menu bar.
int32 BarRight(int32 parts, const Rect& c) {
  return c.right + Right(parts) - ((parts & kVIWindIconPane) ? kIconPaneWidth : 0);
}

VIWindHooks gWindHooks{};

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

// The field's text record (application font, black on white) over its
// rectangle relative to the tool bar; drawn, clicked and typed into where
// the tool bar stands (StatePnlRecordFieldAt).
void CreateField(UHandle vi, const Rect* bounds, ConstPStr text) {
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = gFields.find(vi);
    if (it != gFields.end()) {
      // The field there is kept, its text selected and active.
      TSelectText(it->second.record, 0, 0x7FFFFFFF);
      it->second.active = true;
    } else {
      // One line, editable with a flashing caret (edit class 0x400).
      TRecord record = TNew(bounds, kTRKindOneLine | 0x400, text + 1, text[0], kAppFont, kBlackColor, kWhiteColor);
      if (!record) return;
      TSelectText(record, 0, 0x7FFFFFFF);
      gFields[vi] = RecordField{*bounds, record, {}, true, true, false, false, 0};
    }
  }
  InvalToolBar(vi);
}
void ClearField(UHandle vi) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = gFields.find(vi);
  if (it != gFields.end()) TReplaceText(it->second.record, nullptr, 0), it->second.edited = false;
}
// A new text of the field: a record number shown (all of it selected), or
// one typed (edited).
void PutField(UHandle vi, ConstPStr text, bool edited) {
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = gFields.find(vi);
    if (it == gFields.end()) return;
    TReplaceText(it->second.record, text + 1, text[0]);
    if (!edited) TSelectText(it->second.record, 0, 0x7FFFFFFF);
    it->second.active = true;
    it->second.edited = edited;
  }
  InvalToolBar(vi);
}
void SetField(UHandle vi, ConstPStr text) { PutField(vi, text, false); }
void DisposeField(UHandle vi) {
  TRecord record = nullptr;
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = gFields.find(vi);
    if (it == gFields.end()) return;
    record = it->second.record;
    gFields.erase(it);
  }
  if (record) {
    TDeactivate(record, 0);
    TDispose(record);
  }
}
std::string TextOf(TRecord record) {
  const UHandle t = record ? TGetText(record) : nullptr;
  const int32 size = t && *t ? DSGetHandleSize(t) : 0;
  const int32 n = size >= 4 ? int32(GetNative32(*t)) : 0;
  return n > 0 && n <= size - 4 ? std::string(reinterpret_cast<const char*>(*t + 4), size_t(n)) : std::string();
}
void FieldText(UHandle vi, PStr text) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = gFields.find(vi);
  const std::string t = it == gFields.end() ? std::string() : TextOf(it->second.record);
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

void ShowStamp(UHandle vi, uInt32 secs) {
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = gFields.find(vi);
    if (it == gFields.end()) return;
    it->second.timed = true;
    it->second.secs = secs;
  }
  InvalToolBar(vi);
}

// The one route of slot redraws: the slot drawn at once in the window's
// port.  The window's clip is its content after every update, which would
// hide the tool bar: the clip is the tool bar's for the redraw.
void DrawToolbarSlot(UHandle vi, int32 image, int32 state) {
  ObjHeap panel = PanelOf(vi);
  Rect bar, saved{0, 0, 0, 0};
  if (!VIWindStatePanelRect(panel, &bar)) return;
  WSetClipRect(&bar, &saved);
  StatePnlDrawSlot(Point{bar.top, bar.left}, image, state, panel);
  WRestoreClip(&saved);
}

}  // namespace

void VIWindContentToWindow(int32 parts, const Rect* content, Rect* window) {
  if (!content || !window) return;
  *window = Pinned(content->top - Above(parts), content->left, content->bottom + Below(parts),
                   content->right + Right(parts));
}

void VIWindWindowToContent(WindowRef window, int32 parts, const Rect* windowRect, Rect* content) {
  if (!windowRect || !content) return;
  *content = Pinned(windowRect->top + Above(parts), windowRect->left, windowRect->bottom - Below(parts),
                    windowRect->right - Right(parts));
  if (window) WSetContentRect(window, content);
}

int32 VIWindStatePanelRect(ObjHeap panel, Rect* rect) {
  int32 parts = 0;
  Rect c;
  if (!rect) return 0;
  *rect = kEmpty;
  if (!PanelParts(panel, &parts, &c) || !(parts & kVIWindToolBar)) return 0;
  return Answer(rect, Pinned(c.top - ToolBarHeight(parts) - 1, c.left, c.top, BarRight(parts, c)));
}

int32 VIWindMenuBarRect(ObjHeap panel, Rect* rect) {
  int32 parts = 0;
  Rect c;
  if (!rect) return 0;
  *rect = kEmpty;
  if (!PanelParts(panel, &parts, &c) || !(parts & kVIWindMenuBar)) return 0;
  const int32 bottom = c.top - ((parts & kVIWindToolBar) ? ToolBarHeight(parts) + 1 : 0);
  return Answer(rect, Pinned(bottom - MenuBarHeight(parts), c.left, bottom, BarRight(parts, c)));
}

int32 VIWindIconPaneRect(ObjHeap panel, Rect* pane, Rect* icon) {
  int32 parts = 0;
  Rect c;
  if (pane) *pane = kEmpty;
  if (icon) *icon = kEmpty;
  if (!PanelParts(panel, &parts, &c) || !(parts & kVIWindIconPane)) return 0;
  int32 height = Above(parts);
  if (height < 34) height = 35;
  const int32 right = c.right + Right(parts), top = c.top - height;
  const int32 bottom = (c.top >= c.bottom || c.left >= c.right) ? c.bottom + 1 : c.top;
  if (pane) *pane = Pinned(top, right - kIconPaneWidth, bottom, right);
  const int32 iconTop = top + (height - 33) / 2, iconLeft = right - kIconPaneWidth + 2;
  if (icon) *icon = Pinned(iconTop, iconLeft, iconTop + 32, iconLeft + 32);
  return 1;
}

int32 VIWindHScrollRect(ObjHeap panel, Rect* rect) {
  int32 parts = 0;
  Rect c;
  if (!rect) return 0;
  *rect = kEmpty;
  if (!PanelParts(panel, &parts, &c) || !(parts & kVIWindHScroll)) return 0;
  return Answer(rect, Pinned(c.bottom, c.left, c.bottom + VIWindHScrollHeight() - 1, c.right + 1));
}

int32 VIWindVScrollRect(ObjHeap panel, Rect* rect) {
  int32 parts = 0;
  Rect c;
  if (!rect) return 0;
  *rect = kEmpty;
  if (!PanelParts(panel, &parts, &c) || !(parts & kVIWindVScroll)) return 0;
  return Answer(rect, Pinned(c.top, c.right, c.bottom + 1, c.right + VIWindVScrollWidth() - 1));
}

int32 VIWindGrowBoxRect(ObjHeap panel, Rect* rect) {
  int32 parts = 0;
  Rect c;
  if (!rect) return 0;
  *rect = kEmpty;
  if (!PanelParts(panel, &parts, &c)) return 0;
  const bool box = (viinst::ExtHalf(panel, kHeapExtWindowStyle) & kVIWindSizeBoxOption) ||
                   (parts & (kVIWindHScroll | kVIWindVScroll));
  if (!box) return 0;
  return Answer(rect, Pinned(c.bottom, c.right, c.bottom + VIWindHScrollHeight(), c.right + VIWindVScrollWidth()));
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

VIWindHooks VIWindSetHooks(const VIWindHooks& hooks) {
  const VIWindHooks former = gWindHooks;
  gWindHooks = hooks;
  return former;
}

const VIWindHooks& VIWindHooksInUse() { return gWindHooks; }

void VIWindInvalBounds(ObjHeap panel) {
  if (panel && *panel) OHSetWord(panel, kOHFlags, OHWord(panel, kOHFlags) | kPanelBoundsStale);
}

Rect* PanelGetBounds(ObjHeap panel) {
  uChar* cached = viinst::ExtAt(panel, kHeapExtPanelBounds);
  if (!cached) return nullptr;
  const uInt32 flags = OHWord(panel, kOHFlags);
  if (!(flags & kPanelBoundsStale)) return reinterpret_cast<Rect*>(cached);
  OHSetWord(panel, kOHFlags, flags & ~kPanelBoundsStale);
  int32 parts = 0;
  Rect c, objects{0, 0, 0, 0};
  PanelParts(panel, &parts, &c);
  const int32 root = viinst::PanelRoot(panel);
  if (root > 0 && gWindHooks.objectRect) gWindHooks.objectRect(panel, root, &objects, 0);
  Rect fresh = c;
  if (objects.bottom > objects.top && objects.right > objects.left) {
    const UHandle vi = PanelHeapOwner(panel);
    const int32 kind = vi && *vi ? VIRec(vi)->viKind : -1;
    // Grown in 32 bits: a panel larger than 32767 is pinned, not wrapped.
    int32 dh = 10, dv = 10;
    if (!(parts & (kVIWindHScroll | kVIWindVScroll))) {
      if (kind == 1) dh = dv = 4;
    } else if (kind != 5) {
      // An inverted content rectangle from a file grows nothing.
      dh = std::max(0, (int32(c.right) - c.left) / 4);
      dv = std::max(0, (int32(c.bottom) - c.top) / 4);
    }
    fresh = Pinned(objects.top - dv, objects.left - dh, objects.bottom + dv, objects.right + dh);
  }
  Rect old;
  std::memcpy(&old, cached, sizeof old);
  const WindowRef w = viinst::PanelWindow(panel);
  Rect bar;
  if (w && (fresh.left != old.left || fresh.right != old.right) && VIWindHScrollRect(panel, &bar)) WInvalRect(w, &bar);
  if (w && (fresh.top != old.top || fresh.bottom != old.bottom) && VIWindVScrollRect(panel, &bar)) WInvalRect(w, &bar);
  std::memcpy(cached, &fresh, sizeof fresh);
  return reinterpret_cast<Rect*>(cached);
}

void DlgPanelGetBounds(ObjHeap panel, Rect* bounds) {
  if (!bounds) return;
  VIWindInvalBounds(panel);
  const Rect* r = PanelGetBounds(panel);
  *bounds = r ? *r : Rect{0, 0, 0, 0};
}

DRgn PanelGetRgn(ObjHeap panel, int32 root) {
  if (!panel || !*panel || root <= 0 || root + 4 * (kRootRegionWord + 1) > AZGetHandleSize(reinterpret_cast<UHandle>(panel)))
    return 0;
  const uInt32 flags = OHWord(panel, uInt32(root));
  if (GetNative32(*panel + root + 4 * kRootRegionWord) && !(flags & kRootRebuildRgn)) {
    return DRgn(GetNative32(*panel + root + 4 * kRootRegionWord));
  }
  DRgn region = DRectRgn(nullptr);
  if (!region) return 0;
  if (gWindHooks.markInRect) gWindHooks.markInRect(panel, root, region);
  VIWindDisposeRgnCache(panel);
  // The message may have moved the heap: its words are read afresh.
  if (root + 4 * (kRootRegionWord + 1) > AZGetHandleSize(reinterpret_cast<UHandle>(panel))) {
    DDestroyRgn(region);
    return 0;
  }
  PutNative32(*panel + root + 4 * kRootRegionWord, region);
  OHSetWord(panel, uInt32(root), OHWord(panel, uInt32(root)) & ~kRootRebuildRgn);
  return region;
}

bool VIRecordField(UHandle vi, RecordField* out) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = gFields.find(vi);
  if (it == gFields.end()) return false;
  if (out) {
    *out = it->second;
    out->text = TextOf(out->record);
    int32 start = 0, end = 0;
    TGetSelection(out->record, &start, &end);
    out->allSelected = start == 0 && end >= int32(out->text.size());
  }
  return true;
}

void VIRecordFieldEdit(UHandle vi, ConstPStr text) {
  if (text) PutField(vi, text, true);
}

void VIRecordFieldChanged(UHandle vi, bool edited) {
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = gFields.find(vi);
    if (it == gFields.end()) return;
    if (edited) it->second.edited = true;
  }
  InvalToolBar(vi);
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

void StatePnlNewRecordField(WindowRef /*window*/, UHandle vi) {
  Str255 text;
  if (RGetIndString(RunTimeRsrcFile(), text, kLogIncompatibleListId, kRetrieveFirstNumber) != kNoErr) {
    text[0] = 1;
    text[1] = '0';
  }
  const Rect bounds{kRecordFieldTop, kRecordFieldLeft, int16(kRecordFieldTop + kRecordFieldHeight),
                    int16(kRecordFieldLeft + kRecordFieldWidth)};
  CreateField(vi, &bounds, text);
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
  gWindHooks.statePnlDraw = &StatePnlDraw;
  gWindHooks.statePnlClick = &StatePnlClick;
  gWindHooks.statePnlHover = &StatePnlHover;
  gWindHooks.statePnlTipTimer = &StatePnlTipTimer;
  gWindHooks.statePnlTipPoll = &StatePnlTipPoll;
  gWindHooks.recordFieldKey = &StatePnlRecordKey;
  // A change of the screen's colour depth loads the strips again.
  WWinProcHooks depth{};
  depth.rebuildToolBar = &StatePnlReleaseImages;
  WSetWinProcHooks(depth);
  DatalogUIHooks ui = DatalogUI();
  ui.defaultLogName = &DefaultLogName;
  ui.redrawRetrieval = &InvalToolBar;
  ui.retrieveFieldText = &FieldText;
  ui.setRetrieveFieldText = &SetField;
  ui.showMark = &ShowMark;
  ui.showStamp = &ShowStamp;
  SetDatalogUIHooks(&ui);
}
