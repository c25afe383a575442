#include "shell/statepnl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/typemgr.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "engine/exec/callchain.h"
#include "engine/exec/panelplace.h"
#include "engine/exec/retrieve.h"
#include "engine/exec/runcmd.h"
#include "engine/exec/runtexts.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/byteorder.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/prefs.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/walert.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/tipstrip.h"
#include "mgsource/window/wport.h"
#include "rtlib/datalog.h"
#include "shell/runshell.h"
#include "shell/viwindow.h"

namespace {

uInt32 ExtWord(ObjHeap panel, int32 at) {
  const int32 ext = int32(OHWord(panel, kOHExtension));
  return ext > 0 ? GetNative32(*panel + ext + at) : 0;
}

// The kinds the tool bar tells apart besides controls.
constexpr int16 kKindGlobal = 4, kKindFive = 5;

// Execution states and the VI's words the slots read.
enum : uInt32 {
  kTextEntryFlag = 0x80000,      // panel heap header: text entry under way
  kRootRangeError = 0x20000,     // root object flags: bit 17
  kW2Paused = 0x40, kW2Stepping = 0x80, kW2PauseAllowed = 0x200, kW2RunContinuously = 0x400,
  kW2Retrieval = 0x800, kW2Confirm = 0x400000, kW2Customize = 0x4000000,
  kDSDoNotPause = 0x10,          // the panel data space's flags
};
// The tool-bar option word: buttons left out.
enum : uInt16 { kNoRun = 1, kNoPause = 8, kNoRunContinuously = 32, kNoAbort = 128 };

struct SlotState {
  const VIRecord* vi;
  ObjHeap panel;
  uInt32 e;       // execution state
  int16 kind;
  uInt32 w;       // flags2
  uInt16 o;       // tool-bar options
  bool r17;       // a data range error on the panel
  bool frontPanel;
  DataSpace ds;   // the data space the panel shows
  RecordField record;  // the retrieval display (retrieval mode)
};

// A handle of the memory manager holding at least size bytes, or null.
const uChar* HandleBytes(UHandle h, int32 size) {
  return h && AZIsHandle(h) && *h && AZGetHandleSize(h) >= size ? *h : nullptr;
}

// Whether the values of the panel's confirm record differ from the saved
// ones (a record that is not a live handle compares equal).
bool ConfirmedValuesDiffer(ObjHeap panel) {
  UHandle rec = reinterpret_cast<UHandle>(uintptr_t(ExtWord(panel, kHeapExtConfirm)));
  const uChar* p = HandleBytes(rec, int32(sizeof(ConfirmRecord)));
  if (!p) return false;
  ConfirmRecord c;
  std::memcpy(&c, p, sizeof c);
  const int32 n = c.current && AZIsHandle(c.current) ? AZGetHandleSize(c.current) : -1;
  const int32 m = c.saved && AZIsHandle(c.saved) ? AZGetHandleSize(c.saved) : -1;
  if (n != m) return true;
  return n > 0 && std::memcmp(*c.current, *c.saved, size_t(n)) != 0;
}

bool ShowsFirstDataSpace(const SlotState& s) {
  return s.ds && reinterpret_cast<UHandle>(s.ds) == s.vi->dataSpace;
}

int32 Slot1(const SlotState& s) {
  if (s.w & kW2Confirm) return ExtWord(s.panel, kHeapExtConfirm) ? 10 : 51;
  if (s.w & kW2Retrieval) return s.frontPanel ? 45 : 51;
  if (s.kind == kVIKindControl || s.kind == kKindGlobal) return s.e == 0 ? 44 : s.e == 4 ? 2 : 43;
  if (s.kind == kKindFive) return 40;
  if (((s.o & kNoRun) && s.e != 0 && s.e != 7) || s.vi->panelHeap != s.panel || !ExtWord(s.panel, kHeapExtWindow))
    return 51;
  switch (s.e) {
    case 0: return 4;
    case 1: return s.r17 ? 5 : 0;
    case 2: case 9: return (s.w & kW2Stepping) ? 50 : 1;
    case 4: return 2;
    case 5: return ShowsFirstDataSpace(s) ? 18 : 2;
    case 6: case 14: return 19;
    case 7: return s.r17 ? 5 : 18;
    case 8: case 12: return (s.w & kW2Stepping) ? 19 : 3;
    case 13:
      if (ShowsFirstDataSpace(s)) return 18;
      // A caller is inside the VI: it runs as a subVI, else it waits.
      return s.ds && *s.ds && reinterpret_cast<const DataSpaceHeader*>(*s.ds)->busy ? 3 : 2;
    default: return 51;
  }
}

int32 Slot2(const SlotState& s) {
  if (s.w & kW2Confirm) return !ExtWord(s.panel, kHeapExtConfirm) ? 52 : ConfirmedValuesDiffer(s.panel) ? 9 : 17;
  if (s.kind == kVIKindControl) return (s.w & kW2Customize) ? 23 : 22;
  // Delete or restore the record shown, by its deletion mark.
  if (s.w & kW2Retrieval) return !s.frontPanel ? 52 : s.record.mark ? 21 : 20;
  if (s.e == 7) return 49;
  if (s.e == 9) return 48;
  if ((s.o & (kNoRun | kNoRunContinuously)) || (s.e & 4) || s.r17) return 52;
  return (s.w & kW2RunContinuously) ? 7 : 6;
}

int32 Slot4(const SlotState& s) {
  if ((s.w & kW2Retrieval) || (s.o & kNoPause) || !(s.w & kW2PauseAllowed) || (s.vi->flags & 0x20)) return 55;
  if (s.w & kW2Paused) return (s.w & kW2Stepping) ? 47 : 16;
  const bool doNotPause = s.ds && *s.ds && (reinterpret_cast<const DataSpaceHeader*>(*s.ds)->dsFlags & kDSDoNotPause);
  return doNotPause ? 46 : 15;
}

}  // namespace

int32 StatePnlSlotIcon(ObjHeap panel, int32 slot) {
  UHandle owner = panel && *panel ? reinterpret_cast<UHandle>(uintptr_t(ExtWord(panel, kHeapExtOwner))) : nullptr;
  if (slot < 0 || slot > 8 || !owner || !*owner) {
    DBPrintf("slot #%lx", uInt32(slot));
    return -1;
  }
  SlotState s{};
  s.vi = reinterpret_cast<const VIRecord*>(*owner);
  s.panel = panel;
  s.e = s.vi->eState & kVIStateMask;
  s.kind = s.vi->viKind;
  s.w = s.vi->flags2;
  s.o = s.vi->stored84;
  const int32 root = int32(ExtWord(panel, kHeapExtRoot));
  s.r17 = root > 0 && (GetNative32(*panel + root) & kRootRangeError);
  s.frontPanel = OHWord(panel, kOHKind) == kPanelHeapKind;
  if (s.frontPanel && root > 0 && OHBlockSize(panel, root) >= 4 * (kPanelRootDataSpaceWord + 1))
    s.ds = reinterpret_cast<DataSpace>(uintptr_t(GetNative32(*panel + root + 4 * kPanelRootDataSpaceWord)));
  if ((s.w & kW2Retrieval) && s.frontPanel) VIRecordField(owner, &s.record);
  switch (slot) {
    case 0:
      if (OHWord(panel, kOHFlags) & kTextEntryFlag) return 39;
      // An edited record number offers to display its record.
      return (s.w & kW2Retrieval) && s.frontPanel && s.record.stamped && s.record.edited ? 38 : 59;
    case 1: return Slot1(s);
    case 2: return Slot2(s);
    case 3: return (s.w & kW2Retrieval) ? (s.frontPanel ? 24 : 54) : ((s.o & kNoAbort) ? 54 : 37);
    case 4: return Slot4(s);
    default: return 53 + (slot == 5 ? 0 : slot - 3);  // 53, 56, 57, 58: blank
  }
}

namespace {

// The slot of each image, 0 to 60.
constexpr int8_t kImageSlot[61] = {
    1, 1, 1, 1, 1, 1, 2, 2, 0, 2,  // 0-9
    1, 6, 7, 8, 1, 4, 4, 2, 1, 1,  // 10-19
    2, 2, 2, 2, 3, 3, 3, 4, 4, 6,  // 20-29
    6, 7, 7, 5, 5, 5, 5, 3, 0, 0,  // 30-39
    1, 8, 8, 1, 1, 1, 4, 4, 2, 2,  // 40-49
    1, 1, 2, 5, 3, 4, 6, 7, 8, 0,  // 50-59
    0,
};
// The slots' left edges; each is 20 x 19 pixels from its top of 1.
constexpr int16 kSlotLeft[9] = {4, 28, 47, 71, 90, 114, 138, 157, 176};

}  // namespace

int32 StatePnlImageSlot(int32 image) { return image >= 0 && image <= 60 ? kImageSlot[image] : -1; }

Rect StatePnlSlotRect(int32 slot) {
  if (slot < 0 || slot > 8) return Rect{0, 0, 0, 0};
  return Rect{1, kSlotLeft[slot], 20, int16(kSlotLeft[slot] + 20)};
}

void ShellInstallPanelRoutineHooks() {
  PanelRoutineHooks h = PanelRoutines();
  h.statePnlSlotIcon = &StatePnlSlotIcon;
  h.iconPaneRect = [](ObjHeap panel, Rect* pane, Rect* icon) { VIWindIconPaneRect(panel, pane, icon); };
  SetPanelRoutineHooks(&h);
}

// ---- Images, drawing and presses -----------------------------------------------------

namespace {

// Each image's cell in the strip and its button kind.
constexpr StatePanelImage kImages[61] = {
    {0, 1}, {1, 0}, {2, 0}, {3, 0}, {4, 1}, {5, 0},  // 0-5
    {6, 1}, {7, 1}, {8, 1}, {9, 1}, {10, 1}, {12, 1},  // 6-11
    {13, 1}, {14, 1}, {15, 1}, {16, 1}, {17, 2}, {18, 1},  // 12-17
    {19, 1}, {20, 1}, {21, 1}, {22, 1}, {23, 1}, {24, 2},  // 18-23
    {25, 1}, {26, 1}, {11, 2}, {27, 1}, {40, 2}, {28, 1},  // 24-29
    {41, 2}, {29, 1}, {42, 2}, {30, 1}, {31, 1}, {32, 0},  // 30-35
    {33, 0}, {34, 1}, {35, 1}, {35, 1}, {36, 1}, {39, 1},  // 36-41
    {38, 2}, {-1, 0}, {37, 0}, {10, 1}, {43, 1}, {44, 2},  // 42-47
    {45, 1}, {46, 1}, {47, 1}, {-1, 0}, {-1, 0}, {-1, 0},  // 48-53
    {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0},  // 54-59
    {-1, 0},  // 60-60
};
// The slots that share a pixel column with a neighbour.
constexpr int8_t kLeftNeighbour[9] = {-1, -1, 1, -1, 3, -1, -1, 6, 7};
constexpr int8_t kRightNeighbour[9] = {-1, 2, -1, 4, -1, -1, 7, 8, -1};

constexpr int32 kTextEntryImage = 39, kRecordImage = 38, kExitRetrievalImage = 45, kAbortImage = 37;
constexpr int32 kHoldMs = 500, kTipDelayMs = 800, kTipPollMs = 200;
constexpr int32 kTipDelayTimer = 8, kTipPollTimer = 9;
constexpr int32 kCharKeyCode = 27;

// The strips, loaded on first use: 0 not yet, -1 failed (reported once).
int32 gStrip[2] = {0, 0};
int32 gTipImage = -1;

DColor Background() { return DColor(PrefGet(kPrefExecPaletteBackground)); }

// A strip picture played once into a pixmap of its own size (depth 1 for
// black and white, the screen's otherwise; painted white first), so that
// single cells can be copied from it; the picture is released.
int32 StripPixmap(int32 picture, bool bw) {
  Rect bounds{0, 0, 0, 0};
  IGetRect(picture, &bounds);
  int32 pixmap = 0;
  if (ICreatePixmap(WCurrentPort(), &bounds, bw ? 1 : 0, &pixmap) == kNoErr && pixmap) {
    ImageSaveRecord save{};
    IOpen(pixmap, &save);
    IEraseImage(pixmap);
    IDraw(picture, &bounds, &bounds, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
    IClose(pixmap, &save);
  }
  IRelease(picture);
  return pixmap;
}

int32 Strip() {
  const int32 which = DIsBW() ? 1 : 0;
  if (gStrip[which] == 0) {
    int32 image = 0;
    const MgErr err = IGet(RunTimeRsrcFile(), kImagePicture, which ? kStripBWId : kStripColourId, &image, 1);
    if (err) DBMgErr(__FILE__, __LINE__, err, "tool-bar image strip");
    const int32 pixmap = err ? 0 : StripPixmap(image, which != 0);
    gStrip[which] = pixmap ? pixmap : -1;
  }
  return gStrip[which] > 0 ? gStrip[which] : 0;
}

Rect CellRect(int32 cell) {
  const int16 left = int16((cell / 10) * 21), top = int16((cell % 10) * 19);
  return Rect{top, left, int16(top + 19), int16(left + 20)};
}

Rect SlotAt(Point origin, int32 slot) {
  Rect r = StatePnlSlotRect(slot);
  DOffsetRect(&r, origin.h, origin.v);
  return r;
}

bool ShowsCell(ObjHeap panel, int32 slot) {
  return slot >= 0 && StatePnlImageCell(StatePnlSlotIcon(panel, slot)) >= 0;
}

void Line(DColor colour, int32 h1, int32 v1, int32 h2, int32 v2, int32 h3, int32 v3) {
  DSelectNormPen(colour, colour);
  DMoveTo(h1, v1);
  DLineTo(h2, v2);
  DLineTo(h3, v3);
}

Point PointOf(int32 where) {
  Point p;
  std::memcpy(&p, &where, sizeof p);
  return p;
}

UHandle OwnerOf(ObjHeap panel) { return reinterpret_cast<UHandle>(uintptr_t(ExtWord(panel, kHeapExtOwner))); }

// The slot under a point (window-local) whose image shows a cell; -1 none.
int32 SlotUnder(ObjHeap panel, Point origin, Point at) {
  for (int32 slot = 0; slot <= 8; ++slot) {
    const Rect r = SlotAt(origin, slot);
    if (DPtInRect(at, &r) && ShowsCell(panel, slot)) return slot;
  }
  return -1;
}

bool ToolBarOrigin(ObjHeap panel, Point* origin) {
  Rect bar;
  if (!VIWindStatePanelRect(panel, &bar)) return false;
  *origin = Point{bar.top, bar.left};
  return true;
}

// The image under the mouse now, -1 for none.
int32 ImageUnderMouse(ObjHeap panel) {
  Point origin, at;
  const WindowRef w = viinst::PanelWindow(panel);
  if (!w || !ToolBarOrigin(panel, &origin)) return -1;
  WGetGlobalMouse(&at);
  WGlobalToLocal(w, &at);
  const int32 slot = SlotUnder(panel, origin, at);
  return slot < 0 ? -1 : StatePnlSlotIcon(panel, slot);
}

void HideTip(ObjHeap panel) {
  if (const WindowRef w = viinst::PanelWindow(panel)) WKillTimer(w, kTipDelayTimer);
  WHideTipStrip();
}

int32 LogRecordCount(UHandle vi) { return RetrieveLog().recordCount ? RetrieveLog().recordCount(vi) : 0; }

// The record field framed, its text, and the range of record numbers after
// it (none for a log of no records).  The range's format is the compiled
// one, never a text read from a file.
void DrawRecordDisplay(UHandle vi, Point origin) {
  RecordField f{};
  if (!VIRecordField(vi, &f)) return;
  Rect field = f.bounds;
  DOffsetRect(&field, origin.h, origin.v);
  Rect frame = field;
  DInsetRect(&frame, -1, -1);
  DSelectNormPen(kBlackColor, kBlackColor);
  DFrameRect(&frame);
  TSetRect(f.record, &field);
  TDraw(reinterpret_cast<UHandle>(f.record));
  // A text on the tool bar's background from left; its right edge.
  auto text = [&](int32 left, const char* t, int32 n) {
    Point size{0, 0};
    TTextSize(reinterpret_cast<const uChar*>(t), n, kAppFont, &size);
    const Rect r{field.top, int16(left), field.bottom, int16(left + size.h)};
    TBox(&r, 0, reinterpret_cast<const uChar*>(t), n, kAppFont, kBlackColor, Background(), kBlackColor, Background());
    return int32(r.right);
  };
  const int32 count = LogRecordCount(vi);
  const char* format = RunTextOf(kLogIncompatibleListId, kRetrieveRangeEntry);
  if (count <= 0 || !format) return;
  char range[64];
  const int32 n = std::snprintf(range, sizeof range, format, long(count - 1));
  if (n <= 0 || n >= int32(sizeof range)) return;
  const int32 right = text(field.right + 5, range, n);
  if (!f.timed) return;
  // The record's date in the locale's short form, then its time.
  const std::string when = std::string(DateCString(f.secs, 0)) + " " + TimeCString(f.secs, 1);
  text(right + 6, when.data(), int32(when.size()));
}

}  // namespace

int32 StatePnlImageCell(int32 image) { return image >= 0 && image <= 60 ? kImages[image].cell : -1; }
int32 StatePnlImageKind(int32 image) { return image >= 0 && image <= 60 ? kImages[image].kind : -1; }

void StatePnlDrawSlot(Point origin, int32 image, int32 mode, ObjHeap panel) {
  if (image < 0 || image > 60) return;
  const int32 slot = kImageSlot[image], cell = kImages[image].cell, kind = kImages[image].kind;
  Rect r = SlotAt(origin, slot), source = CellRect(cell);
  if (kind == 0 && panel && *panel) {
    if (ShowsCell(panel, kLeftNeighbour[slot])) ++r.left, ++source.left;
    if (ShowsCell(panel, kRightNeighbour[slot])) --r.right, --source.right;
  }
  const int32 strip = cell >= 0 ? Strip() : 0;
  if (strip) {
    if (DIsBW()) {
      DSelectNormPen(Background(), Background());
      DPaintRect(&r);
    }
    IDraw(strip, &source, &r, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  } else {
    DSelectNormPen(Background(), Background());
    DPaintRect(&r);
  }
  if (mode == 1) {
    if (kind == 0) {
      DBPrintf("Shouldn't be tracking a flat button %ld", long(image));
      return;
    }
    const DColor first = kind == 1 ? kButtonShadow : kWhiteColor, second = kind == 1 ? kWhiteColor : kButtonShadow;
    Line(first, r.left + 1, r.bottom - 2, r.left + 1, r.top + 1, r.right - 2, r.top + 1);
    Line(second, r.left + 1, r.bottom - 2, r.right - 2, r.bottom - 2, r.right - 2, r.top + 1);
  } else if (mode == 2) {
    Rect inner = r;
    DInsetRect(&inner, 1, 1);
    DGrayOutRect(&inner, Background());
  }
}

void StatePnlDraw(const Rect* bar, ObjHeap panel) {
  if (!bar || !panel || !*panel || !WNeedsDraw(bar)) return;
  const UHandle vi = OwnerOf(panel);
  if (!vi || !*vi) return;
  Rect saved;
  WLimitClip(bar, &saved);
  Rect rest = *bar;
  rest.bottom = int16(rest.bottom - 1);
  DSelectNormPen(Background(), Background());
  DPaintRect(&rest);
  Line(kBlackColor, bar->left, bar->bottom - 1, bar->right - 1, bar->bottom - 1, bar->right - 1, bar->bottom - 1);
  const Point origin{bar->top, bar->left};
  if (!(VIRec(vi)->flags2 & kW2Retrieval)) {
    for (int32 slot = 0; slot <= 4; ++slot) {
      const int32 mode = slot == 2 || slot == 3 ? CallChainMenuState(vi, slot) : 0;
      StatePnlDrawSlot(origin, StatePnlSlotIcon(panel, slot), mode, panel);
    }
  } else if (OHWord(panel, kOHKind) == kPanelHeapKind) {
    for (const int32 slot : {1, 2, 0, 3}) StatePnlDrawSlot(origin, StatePnlSlotIcon(panel, slot), 0, panel);
    DrawRecordDisplay(vi, origin);
  }
  WRestoreClip(&saved);
}

int32 StatePnlTrackButton(ObjHeap panel, Point origin, int32 image, Bool32 frame, Bool32 hold) {
  if (image < 0 || image > 60) return 0;
  const Rect r = SlotAt(origin, kImageSlot[image]);
  if (frame) StatePnlDrawSlot(origin, image, 1, panel);
  const uInt32 start = MilliSecs();
  bool inside = true, left = false, cancelled = false;
  int32 result = 0;
  WStartTrack();
  for (;;) {
    WEventRecord ev{};
    WGetTrackEvent(&ev, 50);
    if (ev.code == 5) {
      cancelled = true;
      break;
    }
    if (ev.code == 1 || ev.code == 2 || ev.code == 3) {
      const bool now = DPtInRect(PointOf(ev.where), &r);
      if (now != inside && frame) StatePnlDrawSlot(origin, image, now ? 1 : 0, panel);
      left |= !now;
      inside = now;
    }
    if (ev.code == 2) break;
    if (hold && inside && !left && MilliSecs() - start > uInt32(kHoldMs)) {
      result = 2;
      break;
    }
  }
  WEndTrack();
  StatePnlDrawSlot(origin, image, 0, panel);
  if (result) return result;
  return inside && !cancelled ? 1 : 0;
}

// ---- Retrieval mode ------------------------------------------------------------------

namespace {


// The field's number; false when it holds none.
bool FieldNumber(UHandle vi, int32* number) {
  RecordField f{};
  if (!VIRecordField(vi, &f) || f.text.empty() || f.text.size() > 9) return false;
  int32 n = 0;
  for (char c : f.text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  *number = n;
  return true;
}

void PutNumber(UHandle vi, int32 number, bool edited) {
  Str255 text;
  text[0] = uChar(std::snprintf(reinterpret_cast<char*>(text + 1), 254, "%ld", long(number)));
  if (edited) VIRecordFieldEdit(vi, text);
  else if (VIWindow().setRecordField) VIWindow().setRecordField(vi, text);
  UpdateToolbarButton(vi, kTextEntryImage, 0);
}

}  // namespace

namespace {

constexpr int32 kArrowRepeatMs = 320, kArrowImage = 26;

// The shown record's deletion mark flips and the record is shown again.
void ToggleDeletionMark(UHandle vi) {
  const int32 shown = RetrieveLog().shownRecord ? RetrieveLog().shownRecord(vi) : -1;
  std::vector<uChar> marks;
  const int32 count = LogDeletionMarks(vi, &marks);
  if (shown < 0 || shown >= count) return;
  marks[size_t(shown)] = marks[size_t(shown)] ? 0 : 1;
  SetLogDeletionMarks(vi, marks.data(), count);
  RetrieveShowRecord(vi);
}

// The record arrows: the upper half steps up, the lower down, again every
// 320 ms while the press stays on the half; the record is shown at the end.
void TrackRecordArrows(ObjHeap panel, UHandle vi, Point origin, Point at) {
  const Rect slot = SlotAt(origin, kSlotAbort);
  const int16 mid = int16((slot.top + slot.bottom) / 2);
  const Rect up{slot.top, int16(slot.left + 7), mid, int16(slot.left + 19)};
  const Rect down{mid, int16(slot.left + 7), slot.bottom, int16(slot.left + 19)};
  const bool isUp = DPtInRect(at, &up) != 0;
  const Rect half = isUp ? up : down;
  if (!isUp && !DPtInRect(at, &down)) return;
  const VIWindHooks& h = VIWindHooksInUse();
  if (h.commitKeyFocus) h.commitKeyFocus(panel);
  int32 n = 0;
  if (!FieldNumber(vi, &n)) return;
  const int32 count = LogRecordCount(vi);
  auto step = [&] {
    const int32 next = StatePnlStepRecord(n, count, isUp);
    if (next >= 0 && next != n) PutNumber(vi, n = next, false);
  };
  // The pressed half shows the same half of image 26's cell, the arrows
  // inverted (highlighted when there is no strip).
  auto pressed = [&](bool on) {
    if (!on) return void(StatePnlDrawSlot(origin, kArrowImage - 2, 0, panel));
    const Rect cell = CellRect(StatePnlImageCell(kArrowImage));
    const Rect source{int16(cell.top + half.top - slot.top), int16(cell.left + half.left - slot.left),
                      int16(cell.top + half.bottom - slot.top), int16(cell.left + half.right - slot.left)};
    if (const int32 strip = Strip()) IDraw(strip, &source, &half, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
    else DHiliteRect(&half, kBlackColor, Background(), kBlackColor, kWhiteColor, 0);
  };
  step();
  pressed(true);
  bool inside = true;
  uInt32 last = MilliSecs();
  WStartTrack();
  for (;;) {
    WEventRecord ev{};
    WGetTrackEvent(&ev, kArrowRepeatMs);
    if (ev.code == 2 || ev.code == 5) break;
    if (ev.code == 1 || ev.code == 3) {
      const bool now = DPtInRect(PointOf(ev.where), &half) != 0;
      if (now != inside) pressed(now);
      inside = now;
    }
    if (inside && MilliSecs() - last >= uInt32(kArrowRepeatMs)) {
      step();
      last = MilliSecs();
    }
  }
  WEndTrack();
  pressed(false);
  RetrieveShowRecord(vi);
  UpdateToolbarButton(vi, StatePnlSlotIcon(panel, 2), 0);
}

}  // namespace

int32 StatePnlClick(const Rect* bar, WEventRecord* event, ObjHeap panel) {
  if (!bar || !event || !panel || !*panel) return 0;
  Rect inner = *bar;
  inner.bottom = int16(inner.bottom - 1);
  const Point at = PointOf(event->where);
  if (!DPtInRect(at, &inner)) return 0;
  HideTip(panel);
  const UHandle vi = OwnerOf(panel);
  const Point origin{bar->top, bar->left};
  // A press over the record field selects in it: the panel's key focus
  // ends first, and no slot acts.
  RecordField field{};
  if (vi && *vi && (VIRec(vi)->flags2 & kW2Retrieval) && OHWord(panel, kOHKind) == kPanelHeapKind &&
      VIRecordField(vi, &field)) {
    Rect r = field.bounds;
    DOffsetRect(&r, origin.h, origin.v);
    TSetRect(field.record, &r);
    if (TIdle(field.record, at) != 0) {
      if (VIWindHooksInUse().releaseKeyFocus) VIWindHooksInUse().releaseKeyFocus(panel);
      TClick(field.record, at, int32(event->modifiers));
      VIRecordFieldChanged(vi, false);
      return 1;
    }
  }
  const int32 slot = SlotUnder(panel, origin, at);
  if (slot < 0 || !vi || !*vi) return 1;
  const WindowRef w = viinst::PanelWindow(panel);
  WPortState port;
  WSetup(w, &port);
  const VIRecord* r = VIRec(vi);
  const uInt32 e = r->eState & kVIStateMask, wf = r->flags2;
  const uInt16 o = r->stored84;
  const bool r17 = FPHeapFlag17(vi) != 0;
  const int32 image = StatePnlSlotIcon(panel, slot);
  auto track = [&](int32 shown, bool frame) { return StatePnlTrackButton(panel, origin, shown, frame, 0) == 1; };
  const VIWindHooks& h = VIWindHooksInUse();
  if (wf & kW2Retrieval) {
    if (OHWord(panel, kOHKind) == kPanelHeapKind) {
      if (slot == 1 && track(kExitRetrievalImage, true)) ExitRetrieveMode(vi);
      else if (slot == 0 && track(kRecordImage, true)) RetrieveShowRecord(vi);
      else if (slot == 2 && track(image, true)) ToggleDeletionMark(vi);
      else if (slot == 3) TrackRecordArrows(panel, vi, origin, at);
    }
  } else if (slot == 0) {
    if ((OHWord(panel, kOHFlags) & kTextEntryFlag) && track(kTextEntryImage, true) && h.commitKeyFocus)
      h.commitKeyFocus(panel);
  } else if (slot == 1) {
    if ((o & kNoRun) && e != 0 && e != 7) {
    } else if ((e == 1 || e == 7) && r17) {
      ShowVIBrokenAlert(vi);
    } else if (e == 0 || e == 1 || e == 5 || e == 7 || e == 13) {
      if (track(image, r->viKind != kVIKindControl)) DoRunCommand(vi, 1);
    } else if ((e == 2 || e == 9 || e == 12) && (wf & kW2Stepping)) {
      if (track(image, true)) {
        if (DataSpace ds = viinst::PanelDataSpace(panel)) (*ds)->dsFlags |= kDSDoNotPause;
        VIClearStepFlags(vi);
      }
    }
  } else if (slot == 2) {
    const bool ignored = (o & (kNoRun | kNoRunContinuously)) || e == 0 || e == 4 || (FPHeapFlag18(vi) && e == 7) ||
                         (r17 && e != 7 && !(wf & kW2RunContinuously));
    if (!ignored && track(image, true)) DoRunButton(vi);
  } else if (slot == 3) {
    if (!(o & kNoAbort) && image != 54 && VIShowsCallChain(vi) && track(kAbortImage, true)) AbortTopVI(vi);
  } else if (slot == 4) {
    const bool ignored = (o & kNoPause) || image == 55 || e == 0 || !(wf & kW2PauseAllowed);
    if (!ignored && track(image, true) && (VIRec(vi)->flags2 & kW2Paused)) VIClearStepFlags(vi);
  }
  WRestore(&port);
  return 1;
}

void StatePnlHover(WEventRecord* event, ObjHeap panel) {
  if (!event || !panel || !*panel || !PrefGet(kPrefShowTipStrings)) return;
  Point origin;
  if (!ToolBarOrigin(panel, &origin)) return;
  const int32 slot = SlotUnder(panel, origin, PointOf(event->where));
  const int32 image = slot < 0 ? -1 : StatePnlSlotIcon(panel, slot);
  if (image == gTipImage) return;
  HideTip(panel);
  if (image >= 0) WStartTimer(viinst::PanelWindow(panel), kTipDelayMs, kTipDelayTimer);
  gTipImage = image;
}

void StatePnlTipTimer(ObjHeap panel) {
  if (!panel || !*panel) return;
  const int32 image = gTipImage;
  if (image < 0 || ImageUnderMouse(panel) != image) {
    WHideTipStrip();
    gTipImage = -1;
    return;
  }
  Str255 text;
  text[0] = 0;
  if (image != kAbortImage || !GetCallChainTitle(panel, kCallChainItemId, text))
    if (RGetIndString(RunTimeRsrcFile(), text, kToolBarTipListId, image + 1) != kNoErr) {
      text[0] = uChar(std::strlen(kToolBarTips[image]));
      std::memcpy(text + 1, kToolBarTips[image], text[0]);
    }
  if (!text[0]) return;
  Point origin;
  const WindowRef w = viinst::PanelWindow(panel);
  if (!ToolBarOrigin(panel, &origin) || !w) return;
  Rect r = SlotAt(origin, kImageSlot[image]);
  Point tl{r.top, r.left}, br{r.bottom, r.right};
  WLocalToGlobal(w, &tl);
  WLocalToGlobal(w, &br);
  r = Rect{tl.v, tl.h, br.v, br.h};
  WShowTipStrip(text, &r);
  WStartTimer(w, kTipPollMs, kTipPollTimer);
}

void StatePnlTipPoll(ObjHeap panel) {
  if (!panel || !*panel) return;
  if (gTipImage >= 0 && ImageUnderMouse(panel) == gTipImage) {
    WStartTimer(viinst::PanelWindow(panel), kTipPollMs, kTipPollTimer);
    return;
  }
  WHideTipStrip();
  gTipImage = -1;
}

int32 StatePnlTipImage() { return gTipImage; }

void StatePnlInval(UHandle vi) {
  ObjHeap panel = vi && *vi ? VIRec(vi)->panelHeap : nullptr;
  Rect bar;
  if (!VIWindStatePanelRect(panel, &bar)) return;
  bar.bottom = int16(bar.bottom - 1);
  if (const WindowRef w = viinst::PanelWindow(panel)) WInvalRect(w, &bar);
}

void VIWindSetTextEntry(ObjHeap panel, int32 on) {
  if (!panel || !*panel) return;
  const uInt32 flags = OHWord(panel, kOHFlags);
  OHSetWord(panel, kOHFlags, on ? flags | kTextEntryFlag : flags & ~kTextEntryFlag);
  const UHandle vi = OwnerOf(panel);
  if (vi && *vi) UpdateToolbarButton(vi, StatePnlSlotIcon(panel, 0), 0);
}

void StatePnlReleaseImages() {
  for (int32& strip : gStrip) {
    if (strip > 0) IRelease(strip);
    strip = 0;
  }
}


int32 StatePnlStepRecord(int32 number, int32 count, bool up) {
  if (count <= 0 || number < 0) return -1;
  if (up) return number < count - 1 ? number + 1 : number;
  return number >= 1 ? number - 1 : number;
}

void StatePnlEditRecordNum(UHandle vi, int32 number) {
  if (!vi || !*vi) return;
  const int32 count = LogRecordCount(vi);
  // A log of no records shows "0": there is no record -1 to show.
  const int32 n = count <= 0 ? 0 : std::clamp(number, 0, count - 1);
  PutNumber(vi, n, false);
}

int32 StatePnlRecordKey(WEventRecord* e, ObjHeap panel) {
  const UHandle vi = OwnerOf(panel);
  if (!e || !vi || !*vi) return 0;
  const int32 key = e->keyCode;
  RecordField f{};
  const bool hasField = VIRecordField(vi, &f);
  if (key == 2) {
    if (hasField && VIWindow().setRecordField) {
      Str255 text;
      text[0] = uChar(f.text.size() > 255 ? 255 : f.text.size());
      std::memcpy(text + 1, f.text.data(), text[0]);
      VIWindow().setRecordField(vi, text);
    }
    RetrieveShowRecord(vi);
  } else if (key == 4 || key == 5) {
    int32 n = 0;
    const int32 stepped = FieldNumber(vi, &n) ? StatePnlStepRecord(n, LogRecordCount(vi), key == 4) : -1;
    if (stepped >= 0) PutNumber(vi, stepped, true);
  } else if ((key == kCharKeyCode && ((e->character >= '0' && e->character <= '9') || e->character == 8)) ||
             key == 1 || key == 6 || key == 7 || key == 9 || key == 10 || key == 11) {
    // The field's text record takes the key; the caret keys (6, 7, 10, 11)
    // leave the edited state as it is.
    if (hasField) TKey(f.record, key, e->character, int32(e->modifiers), 0);
    VIRecordFieldChanged(vi, !(key == 6 || key == 7 || key == 10 || key == 11));
    UpdateToolbarButton(vi, kTextEntryImage, 0);
  } else {
    WBeep();
  }
  return 0;
}
