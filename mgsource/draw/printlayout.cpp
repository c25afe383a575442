// The page layout of a printed VI: the part list, its three methods and
// the page loop.
#include "mgsource/draw/printlayout.h"

#include <algorithm>
#include <cstring>

#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/printinfo.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/draw/psport.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/wport.h"

PrintLayoutState gPrintLayout{};

namespace {

MgErr NotAvailable1(ObjHeap) { return kArgErr; }
MgErr NotAvailableRect(ObjHeap, Rect*) { return kArgErr; }
ObjHeap NoPanel(UHandle) { return nullptr; }
int32 SameMode(int32) { return 0; }
void NoCursor(int32) {}
int32 NoSend(int32, ObjHeap, int32, int32, const Rect*, const Rect*) { return kArgErr; }
WindowRef NoWindow(ObjHeap) { return 0; }
MgErr NoLoad(UHandle) { return kArgErr; }
UHandle NoVI(ConstPStr) { return nullptr; }
WindowRef NoClosedWindow() { return 0; }
MgErr NoResize(int32, UHandle*, int32) { return kArgErr; }
void NoAlert(const char*) {}
// Every visible window redrawn now, through the window manager.
void UpdateAllWindows() { WUpdate(kWAllWindows); }
void NoBusy(Bool32) {}

const PrintPanelHooks kDefaultHooks{NoPanel,  NotAvailable1,  NotAvailableRect, NotAvailableRect, NotAvailable1,
                                    SameMode, NoCursor,       NoSend,           NoWindow,         NotAvailable1,
                                    NoLoad,   NoVI,           NoClosedWindow,   NoResize,         NoAlert,
                                    UpdateAllWindows, NoBusy};
PrintPanelHooks gHooks = kDefaultHooks;

PrintLayoutState& S() { return gPrintLayout; }
// The header's placed height in the layout under way.
int32 gHeaderHeight = 0;

PrintRecord* Record() {
  UHandle h = gPrintVI.record;
  return h && *h && AZGetHandleSize(h) >= kPrintRecordSize ? reinterpret_cast<PrintRecord*>(*h) : nullptr;
}
uInt32 Options() {
  const PrintRecord* r = Record();
  return r ? r->options : 0;
}
bool Printing() { return gPrintVI.printing != 0; }

PrVIPartList* PartsOf(ObjHeap heap, int32 object) {
  if (!heap || !*heap || object <= 0 || OHBlockSize(heap, object) < kPartListSize) return nullptr;
  return reinterpret_cast<PrVIPartList*>(*heap + object);
}

int32 Height(const LRect& r) { return r.bottom - r.top; }
int32 Width(const LRect& r) { return r.right - r.left; }

void Extend(const LRect& r) {
  if (r.right > S().extentRight) S().extentRight = r.right;
  if (r.bottom > S().extentBottom) S().extentBottom = r.bottom;
}

// floor(a / b) and ceil(a / b) for b > 0.
int64 FloorDiv(int64 a, int64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
int64 CeilDiv(int64 a, int64 b) { return -FloorDiv(-a, b); }

// The cells of the sheet that the panel touches, each stored once, sorted
// by top, then left: the rows and columns of cells the panel's rectangle
// spans, found from its edges.  2 when the array cannot be had; 30 when
// there would be more pages than a page number can name.
MgErr MakeCells(const LRect& panel) {
  if (S().cells) return kNoErr;
  const int64 w = S().pageWidth, h = S().pageHeight;
  int64 rows = 0, cols = 0, row0 = 0, col0 = 0;
  if (w > 0 && h > 0 && panel.bottom > panel.top && panel.right > panel.left) {
    row0 = std::max<int64>(0, FloorDiv(panel.top, h));
    col0 = std::max<int64>(0, FloorDiv(panel.left, w));
    rows = std::max<int64>(0, std::min<int64>(S().pagesDown, CeilDiv(panel.bottom, h)) - row0);
    cols = std::max<int64>(0, std::min<int64>(S().pagesAcross, CeilDiv(panel.right, w)) - col0);
  }
  const int64 count = rows * cols;
  if (count > kMaxPrintPages) {
    DBPrintf("PLayoutVIParts: the panel covers %ld pages, more than %ld", long(count), long(kMaxPrintPages));
    S().pageCount = 0;
    return kPrintBadRecord;
  }
  S().cells = reinterpret_cast<LRect*>(AZNewPClr(int32((count > 0 ? count : 1) * int64(sizeof(LRect)))));
  if (!S().cells) return kMemFullErr;
  int32 stored = 0;
  for (int64 row = row0; row < row0 + rows; ++row)
    for (int64 col = col0; col < col0 + cols; ++col)
      S().cells[stored++] = LRect{int32(row * h), int32(col * w), int32((row + 1) * h), int32((col + 1) * w)};
  S().pageCount = int16(stored);
  return kNoErr;
}

// The placed rectangle mapped from the cell onto the target rectangle.
Rect MapCell(const LRect& placed, const LRect& cell, const Rect& to) {
  const int64 cw = Width(cell) > 0 ? Width(cell) : 1, ch = Height(cell) > 0 ? Height(cell) : 1;
  const int64 tw = to.right - to.left, th = to.bottom - to.top;
  // Coordinates past the 16-bit range are held at its ends.
  auto clamp = [](int64 c) { return int16(c < -32767 ? -32767 : c > 32767 ? 32767 : c); };
  auto h = [&](int32 x) { return clamp(to.left + (int64(x) - cell.left) * tw / cw); };
  auto v = [&](int32 y) { return clamp(to.top + (int64(y) - cell.top) * th / ch); };
  return Rect{v(placed.top), h(placed.left), v(placed.bottom), h(placed.right)};
}

}  // namespace

PrintPanelHooks PSetPrintPanelHooks(const PrintPanelHooks& hooks) {
  const PrintPanelHooks old = gHooks;
  gHooks = hooks;
  if (!gHooks.panelHeap) gHooks.panelHeap = kDefaultHooks.panelHeap;
  if (!gHooks.commitKeyFocus) gHooks.commitKeyFocus = kDefaultHooks.commitKeyFocus;
  if (!gHooks.panelRect) gHooks.panelRect = kDefaultHooks.panelRect;
  if (!gHooks.contentBounds) gHooks.contentBounds = kDefaultHooks.contentBounds;
  if (!gHooks.drawPanel) gHooks.drawPanel = kDefaultHooks.drawPanel;
  if (!gHooks.setDrawMode) gHooks.setDrawMode = kDefaultHooks.setDrawMode;
  if (!gHooks.updateCursor) gHooks.updateCursor = kDefaultHooks.updateCursor;
  if (!gHooks.send) gHooks.send = kDefaultHooks.send;
  if (!gHooks.panelWindow) gHooks.panelWindow = kDefaultHooks.panelWindow;
  if (!gHooks.stashText) gHooks.stashText = kDefaultHooks.stashText;
  if (!gHooks.loadPanel) gHooks.loadPanel = kDefaultHooks.loadPanel;
  if (!gHooks.findVIByName) gHooks.findVIByName = kDefaultHooks.findVIByName;
  if (!gHooks.closedWindow) gHooks.closedWindow = kDefaultHooks.closedWindow;
  if (!gHooks.resizeArray) gHooks.resizeArray = kDefaultHooks.resizeArray;
  if (!gHooks.alert) gHooks.alert = kDefaultHooks.alert;
  if (!gHooks.updateWindows) gHooks.updateWindows = kDefaultHooks.updateWindows;
  if (!gHooks.busyCursor) gHooks.busyCursor = kDefaultHooks.busyCursor;
  return old;
}

PrintPanelHooks PPrintPanelHooks() { return gHooks; }

ObjHeap PNewPartList(MgErr* err) {
  ObjHeap heap = OHNewHeap(kPartListHeapSize, kPartListHeapKind, kPartListSize, kPartListClass);
  if (err) *err = heap ? kNoErr : kMemFullErr;
  if (heap && !PartsOf(heap, PPartListObject(heap))) {
    OHDisposeHeap(heap);
    heap = nullptr;
    if (err) *err = kMemFullErr;
  }
  if (heap) {
    PrVIPartList* p = PartsOf(heap, PPartListObject(heap));
    std::memset(p, 0, sizeof *p);
    p->header.scale = p->panel.scale = 1.0f;
    S().colours[0] = kBlackColor;
    S().colours[1] = kWhiteColor;
    S().colours[2] = gImageColours.bwFore;
    S().colours[3] = gImageColours.bwBack;
  }
  return heap;
}

int32 PPartListObject(ObjHeap heap) {
  if (!heap || !*heap) return 0;
  const int32 object = int32(OHWord(heap, kOHExtension));
  return object > 0 && OHBlockClass(heap, object) == kPartListClass ? object : 0;
}

void PDisposePartList(ObjHeap heap) {
  if (S().cells) AZDisposePtr(reinterpret_cast<UPtr>(S().cells));
  S().cells = nullptr;
  S().pageCount = 0;
  if (!heap) return;
  if (PrVIPartList* p = PartsOf(heap, PPartListObject(heap))) {
    if (p->panel.picture) IRelease(p->panel.picture);
    p->panel.picture = 0;
  }
  OHDisposeHeap(heap);
}

void PPlacePart(LRect* rect, int32 gap) {
  const int32 w = Width(*rect), h = Height(*rect);
  const int32 ph = S().pageHeight > 0 ? S().pageHeight : 1;
  rect->left = S().posH;
  S().posV += S().gap;
  const int32 room = ph - S().posV % ph;
  if (h % ph >= room) {
    // Not on what is left of this page: the part starts the next one.
    S().posV = ph * (S().posV / ph + 1);
    S().gap = 0;
  }
  rect->top = S().posV;
  rect->right = rect->left + w;
  rect->bottom = rect->top + h;
  S().gap = int16(gap);
  S().posV += h;
  Extend(*rect);
}

void PFitPart(PrintPart* part, int32 gap) {
  const int32 h = part->source.bottom - part->source.top, w = part->source.right - part->source.left;
  LRect r{0, 0, h, w};
  const int32 ph = S().pageHeight, pw = S().pageWidth;
  if ((h <= ph && w <= pw) || h <= 0 || w <= 0 || ph <= 0 || pw <= 0) {
    PPlacePart(&r, gap);
    part->placed = r;
    part->scale = 1.0f;
    return;
  }
  // Up to four pages tall and wide shrink onto one page, up to eight onto
  // two, and so on; the header's band is kept free on the page.
  const int32 header = (Options() & kPrintHeader) ? gHeaderHeight : 0;
  const float64 vertical = float64((h / (4 * ph) + 1) * ph - header) / float64(h);
  const float64 horizontal = float64((w / (4 * pw) + 1) * pw) / float64(w);
  const float32 scale = float32((vertical < horizontal ? vertical : horizontal) * 0.99);
  S().fitScale = scale;
  r.bottom = int32(float64(h) * scale);
  r.right = int32(float64(w) * scale);
  PPlacePart(&r, gap);
  part->placed = r;
  part->scale = scale;
}

int32 PrPartListLayout(ObjHeap heap, int32 object) {
  PrVIPartList* p = PartsOf(heap, object);
  if (!p) return 0;
  S().posV = S().posH = 0;
  S().gap = 0;
  const uInt32 options = Options();
  if (!(options & kPrintPanel)) return 0;
  if (options & kPrintNewPage) S().posV = S().pageHeight * (S().posV / S().pageHeight + 1);
  const bool header = !Printing() && (options & kPrintHeader);
  gHeaderHeight = 0;
  if (header) {
    LRect r{0, 0, p->header.source.bottom - p->header.source.top, p->header.source.right - p->header.source.left};
    PPlacePart(&r, 0);
    p->header.placed = r;
    p->header.scale = 1.0f;
    gHeaderHeight = Height(r);
  }
  if (options & kPrintScaleToFit) {
    PFitPart(&p->panel, 5);
  } else {
    LRect r{0, 0, p->panel.source.bottom - p->panel.source.top, p->panel.source.right - p->panel.source.left};
    PPlacePart(&r, 5);
    p->panel.placed = r;
    p->panel.scale = 1.0f;
  }
  const int32 ph = S().pageHeight;
  if (header && p->panel.placed.top / ph > p->header.placed.top / ph) {
    // The header goes with the panel to the top of the panel's page.
    const int32 hh = Height(p->header.placed);
    LOffsetRect(&p->header.placed, 0, ph * (p->panel.placed.top / ph) - p->header.placed.top);
    LOffsetRect(&p->panel.placed, 0, hh);
    S().gap = int16(S().gap + hh);
    Extend(p->panel.placed);
  }
  const int32 pw = S().pageWidth, rest = Width(p->panel.placed) % pw;
  if (rest != 0 && rest < pw - 20) {
    LOffsetRect(&p->panel.placed, 20, 0);
    Extend(p->panel.placed);
  }
  return 0;
}

int32 PrPartListPicture(ObjHeap heap, int32 object, int32 page) {
  PrVIPartList* p = PartsOf(heap, object);
  if (!p || !(Options() & kPrintPanel) || page < 1 || page > S().pageCount || !S().cells) return 0;
  LRect common;
  if (!LSectRect(&p->panel.placed, &S().cells[page - 1], &common)) return 0;
  if (p->panel.picture) IRelease(p->panel.picture);
  p->panel.picture = 0;
  const Rect source = p->panel.source;
  int32 picture = 0, window = 0, target = 0;
  IGetCurrentTarget(&target, &window);
  if (ICreatePict(window, &source, 0, nullptr, 0, &picture) != kNoErr || !picture) return 0;
  ImageSaveRecord save{};
  IOpen(picture, &save);
  const int32 mode = gHooks.setDrawMode(kPanelDrawPrinting);
  gHooks.drawPanel(S().panelHeap);
  gHooks.setDrawMode(mode);
  if (Options() & kPrintFrame) {
    DSelectNormPen(kBlackColor, kBlackColor);
    DFrameRect(&source);
  }
  IClose(picture, &save);
  // The panel's drawing may have moved the heap.
  if ((p = PartsOf(heap, object)) != nullptr) p->panel.picture = picture;
  else IRelease(picture);
  return 0;
}

int32 PrPartListDraw(ObjHeap heap, int32 object, const Rect* points, const Rect* device, int32 page) {
  PrVIPartList* p = PartsOf(heap, object);
  const PrintRecord* rec = Record();
  if (!p || !rec || page < 1 || page > S().pageCount || !S().cells) return 0;
  // The printable area on the page being drawn.
  Rect printable = rec->printable;
  Rect saved{0, 0, 0, 0};
  bool limited = false;
  if (device && points) {
    DMapRect(&printable, points, device);
    WLimitClip(&printable, &saved);
    limited = true;
  }
  if (p->panel.picture) {
    const int32 picture = p->panel.picture;
    p->panel.picture = 0;
    LRect cell = S().cells[page - 1], placed = p->panel.placed;
    const int32 dv = cell.top < placed.top ? cell.top : placed.top;
    const int32 dh = cell.left < placed.left ? cell.left : placed.left;
    LOffsetRect(&cell, -dh, -dv);
    LOffsetRect(&placed, -dh, -dv);
    const float32 scale = p->panel.scale;
    const bool ps = gPrintPrefs.postScriptPrinting && gPrintJob.psImage;
    if (ps && scale != 0.0f && scale != 1.0f && S().drawing) {
      // PostScript scales the picture itself: it is drawn at its own size.
      placed.bottom = placed.top + (p->panel.source.bottom - p->panel.source.top);
      placed.right = placed.left + (p->panel.source.right - p->panel.source.left);
    }
    const Rect r = MapCell(placed, cell, printable);
    if (ps) PSBeginSection(scale, r.top, r.left);
    const DColor* c = S().colours;
    IDraw(picture, nullptr, &r, c[0], c[1], c[2], c[3]);
    IRelease(picture);
    if (ps) PSEndSection();
  }
  if (limited) WRestoreClip(&saved);
  return 0;
}

void PLayoutVIParts(ObjHeap heap, UHandle vi, Bool32 usePanelRect) {
  const int32 object = PPartListObject(heap);
  PrVIPartList* p = PartsOf(heap, object);
  PrintRecord* rec = Record();
  if (!p || !rec) {
    if (!gPrintJob.error) gPrintJob.error = kPrintBadRecord;
    return;
  }
  const ObjHeap panel = gHooks.panelHeap(vi);
  S().panelHeap = panel;
  if (panel) gHooks.commitKeyFocus(panel);
  gHooks.updateCursor(1);
  S().page = rec->printable;
  const int32 pw = S().page.right - S().page.left, ph = S().page.bottom - S().page.top;
  if (pw <= 0 || ph <= 0 || pw > 32767 || ph > 32767) {
    // Margins that leave no printable area: nothing can be laid out.
    DBPrintf("PLayoutVIParts: the printable area is empty");
    gPrintJob.error = kPrintBadRecord;
    S().pageCount = 0;
    return;
  }
  S().pageWidth = int16(pw);
  S().pageHeight = int16(ph);
  S().posV = S().posH = 0;
  S().extentRight = S().extentBottom = 0;
  S().fitScale = 1.0f;
  // The header band: a single blank in the application font, 32 points at
  // least.
  Point size{0, 0};
  TTextSize(reinterpret_cast<const uChar*>(" "), 1, kAppFont, &size);
  const Rect band{0, 0, int16(size.v > 32 ? size.v : 32), int16(pw)};
  const uInt32 options = rec->options;
  if (options & kPrintPanel) {
    Rect area{0, 0, 0, 0};
    if (panel) (usePanelRect ? gHooks.panelRect : gHooks.contentBounds)(panel, &area);
    if (options & kPrintFrame) DInsetRect(&area, -5, -5);
    if (!Printing() && (options & kPrintHeader)) p->header.source = band;
    p->panel.source = area;
  }
  gHooks.updateCursor(1);
  gHooks.send(kPartListMsgLayout, heap, object, 0, nullptr, nullptr);
  gHooks.updateCursor(1);
  p = PartsOf(heap, object);
  if (!p) return;
  const int32 across = (S().extentRight - 1) / pw + 1, down = (S().extentBottom - 1) / ph + 1;
  S().posV = S().posH = 0;
  if (across > 32767 || down > 32767) {
    // More cells than pages can be numbered.
    gPrintJob.error = kMemFullErr;
    S().pageCount = 0;
    return;
  }
  S().pagesAcross = int16(across);
  S().pagesDown = int16(down);
  if (MgErr err = MakeCells(p->panel.placed)) gPrintJob.error = err;
}

void PPrintVIPages(ObjHeap heap, UHandle) {
  UHandle record = gPrintVI.record;
  const int32 object = PPartListObject(heap);
  WPortState save{};
  POpenWind(record, 0, &save);
  const Rect wide{-20000, -20000, 20000, 20000};
  PrintRecord* rec = Record();
  if (!gPrintJob.error && rec && object) {
    int32 first = 1, last = S().pageCount;
    if (!rec->printAll) {
      first = rec->firstPage < S().pageCount ? rec->firstPage : S().pageCount;
      last = rec->lastPage < S().pageCount ? rec->lastPage : S().pageCount;
      if (first < 1) first = 1;
    }
    for (int32 page = first; page <= last; ++page) {
      DSetClipRect(&wide);
      gHooks.send(kPartListMsgPicture, heap, object, page, nullptr, nullptr);
      POpenPage(record);
      rec = Record();
      const Rect device = rec ? rec->devPage : Rect{0, 0, 0, 0};
      if (!gPrintJob.error && rec) {
        S().drawing = 1;
        DSetClipRect(&device);
        const Rect points = rec->pagePoints;
        const int32 mode = gHooks.setDrawMode(kPanelDrawPrinting);
        gHooks.send(kPartListMsgDraw, heap, object, page, &points, &device);
        gHooks.setDrawMode(mode);
        S().drawing = 0;
      }
      PClosePage(record);
      if (gPrintJob.error) break;
    }
  }
  PCloseWind(record, &save);
}
