// Printing VIs and front-panel images.
#include "mgsource/draw/printvi.h"

#include <cstring>
#include <string>
#include <vector>

#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/printinfo.h"
#include "mgsource/draw/printlayout.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/wport.h"

namespace {

constexpr uInt32 kPrintKeptOptions = 0x4E0000;  // scale, frame and the two kept bits

PrintRecord* Record() {
  UHandle h = gPrintVI.record;
  return h && *h && AZGetHandleSize(h) >= kPrintRecordSize ? reinterpret_cast<PrintRecord*>(*h) : nullptr;
}

// A long-string handle from a caller: null, or a live handle of the data
// zone holding its count.
bool NameOk(LStrHandle name) {
  if (!name) return true;
  return DSCheckHandle(name) == kNoErr && DSGetHandleSize(reinterpret_cast<UHandle>(name)) >= 4 &&
         (*name)->cnt >= 0 && DSGetHandleSize(reinterpret_cast<UHandle>(name)) - 4 >= (*name)->cnt;
}
bool NameEmpty(LStrHandle name) { return !name || (*name)->cnt == 0; }

// The options of the current record put aside and replaced while the
// panel alone prints.
struct PanelOnly {
  uInt32 saved = 0;
  bool set = false;
  void Begin() {
    if (PrintRecord* r = Record()) {
      saved = r->options;
      r->options = (r->options & kPrintKeptOptions) | kPrintPanel;
      set = true;
    }
  }
  void End() {
    if (PrintRecord* r = Record(); r && set) r->options = saved;
    set = false;
  }
};

// An entry of the Print command's texts, empty when the list lacks it.
void PrintText(int32 index, uChar text[256]) {
  text[0] = 0;
  const PrintHooks h = PPrintHooks();
  if (h.appRsrcFile) RGetIndString(h.appRsrcFile(), text, kPrintTextsList, index);
}

}  // namespace

MgErr PrintVIPanel(UHandle vi, WindowRef window, int32 usePanelRect, UHandle printerHandle, int32 showDialog) {
  const LStrHandle printerName = reinterpret_cast<LStrHandle>(printerHandle);
  if (!vi || !*vi) {
    DBAssert(__FILE__, __LINE__, "PrintVIPanel: no VI");
    return kArgErr;
  }
  if (!NameOk(printerName)) return kArgErr;
  const PrintPanelHooks hk = PPrintPanelHooks();
  const ObjHeap panel = hk.panelHeap(vi);
  const WindowRef shown = panel ? hk.panelWindow(panel) : 0;
  if (shown) {
    // The panel is drawn once from its window, so that the key-focus
    // object's pending text is put aside as drawing does; then it is put back.
    WPortState port{};
    WSetup(shown, &port);
    const Rect wide{-20000, -20000, 20000, 20000};
    int32 scratch = 0;
    if (ICreatePict(shown, &wide, 0, nullptr, 0, &scratch) == kNoErr && scratch) {
      ImageSaveRecord save{};
      IOpen(scratch, &save);
      hk.drawPanel(panel);
      IClose(scratch, &save);
      IRelease(scratch);
    }
    WRestore(&port);
    hk.stashText(panel);
  }
  const bool named = !NameEmpty(printerName) && !showDialog;
  if (named) {
    PSelectPrinterByName(printerName);
  } else {
    const PrintHooks ph = PPrintHooks();
    POpen(window, ph.appRsrcFile ? ph.appRsrcFile() : RsrcFileRef(0));
  }
  if (!gPrintJob.error) PSetupVIPrint(vi);
  bool print = !gPrintJob.error;
  if (print && showDialog && !PJobDialog(gPrintVI.record)) {
    if (!gPrintJob.error) gPrintJob.error = kCancelErr;
    print = false;
  }
  if (print && !gPrintJob.error) {
    PanelOnly only;
    only.Begin();
    gPrintVI.printing = 1;
    MgErr err = kNoErr;
    ObjHeap parts = PNewPartList(&err);
    if (parts) {
      PLayoutVIParts(parts, vi, usePanelRect);
      if (!gPrintJob.error) PPrintVIPages(parts, vi);
      PDisposePartList(parts);
    } else {
      gPrintJob.error = err;
    }
    gPrintVI.printing = 0;
    only.End();
    hk.updateCursor(0);  // the layout's busy state ends with the printing
  }
  PClose();
  if (named) PRestorePrinterDC();
  return gPrintJob.error;
}

MgErr PPrintWithJobDialog(UHandle vi, int32 reserved, int32* cancelled) {
  const PrintPanelHooks hk = PPrintPanelHooks();
  hk.busyCursor(1);
  MgErr err = kNoErr;
  ObjHeap parts = PNewPartList(&err);
  if (!parts) {
    gPrintJob.error = err;
  } else if (reserved != 0) {
    DBAssert(__FILE__, __LINE__, "PPrintWithJobDialog: reserved word not 0");
  } else if (PJobDialog(gPrintVI.record)) {
    hk.updateWindows();
    PLayoutVIParts(parts, vi, 0);
    if (!gPrintJob.error) PPrintVIPages(parts, vi);
  } else if (cancelled) {
    *cancelled = 1;
  }
  if (parts) PDisposePartList(parts);
  hk.busyCursor(0);
  return kNoErr;
}

MgErr PrintVIWindow(UHandle vi, WindowRef window, int32) {
  if (!vi || !*vi || !window) {
    DBAssert(__FILE__, __LINE__, "PrintVIWindow: no VI or window");
    return kNoErr;
  }
  const PrintPanelHooks hk = PPrintPanelHooks();
  const PrintHooks ph = PPrintHooks();
  gPrintVI.record = nullptr;
  POpen(window, ph.appRsrcFile ? ph.appRsrcFile() : RsrcFileRef(0));
  hk.busyCursor(1);
  uInt32 saved = 0;
  bool haveRecord = false;
  if (!gPrintJob.error) {
    PSetupVIPrint(vi);
    if (PrintRecord* r = Record()) {
      haveRecord = true;
      saved = r->options;
      const ObjHeap panel = hk.panelHeap(vi);
      if (panel && hk.panelWindow(panel) == window) r->options = (r->options & kPrintKeptOptions) | kPrintPanel;
    }
  }
  if (haveRecord && !gPrintJob.error) {
    if (Record()->options & kPrintPrintableMask) {
      PPrintWithJobDialog(vi, 0, nullptr);
    } else {
      uChar text[256];
      PrintText(kPrintOptionsOffText, text);
      const std::string s(reinterpret_cast<const char*>(text + 1), text[0]);
      hk.alert(s.c_str());
    }
  }
  PClose();
  if (PrintRecord* r = Record(); r && haveRecord) r->options = saved;
  hk.busyCursor(0);
  if (gPrintJob.error && ph.errDialog) {
    uChar detail[256];
    PrintText(kPrintFailedText, detail);
    ph.errDialog(gPrintJob.error, detail);
  }
  return kNoErr;
}

MgErr VIPrintFrontPanel(UHandle vi, Bool32 wholePanel) {
  if (!vi || !*vi) return kArgErr;
  const PrintPanelHooks hk = PPrintPanelHooks();
  if (MgErr err = hk.loadPanel(vi)) return err;
  const ObjHeap panel = hk.panelHeap(vi);
  return PrintVIPanel(vi, panel ? hk.panelWindow(panel) : 0, wholePanel ? 0 : 1, nullptr, 0);
}

MgErr VIPrintPanelToPrinter(LStrHandle viName, LStrHandle printerName, uInt8 wholePanel, uInt8 showDialog) {
  if (!viName || !NameOk(viName) || !NameOk(printerName)) return kArgErr;
  uChar name[256];
  const int32 n = (*viName)->cnt < 255 ? (*viName)->cnt : 255;
  name[0] = uChar(n);
  std::memcpy(name + 1, (*viName)->str, size_t(n));
  const PrintPanelHooks hk = PPrintPanelHooks();
  UHandle vi = (*viName)->cnt <= 255 ? hk.findVIByName(name) : nullptr;
  if (!vi) return kVINotInMemory;
  if (MgErr err = hk.loadPanel(vi)) return err;
  const ObjHeap panel = hk.panelHeap(vi);
  return PrintVIPanel(vi, panel ? hk.panelWindow(panel) : 0, wholePanel == 0 ? 1 : 0,
                      reinterpret_cast<UHandle>(printerName), showDialog);
}

MgErr VIGetPanelImage(UHandle vi, int32* depth, Bool32 wholePanel, UHandle* bits, UHandle* colours, Rect* rect) {
  if (!vi || !*vi || !depth) return kArgErr;
  const PrintPanelHooks hk = PPrintPanelHooks();
  if (MgErr err = hk.loadPanel(vi)) return err;
  const ObjHeap panel = hk.panelHeap(vi);
  Rect area{0, 0, 0, 0};
  if (!panel || (wholePanel ? hk.contentBounds : hk.panelRect)(panel, &area) != kNoErr) return kArgErr;
  int32 count = 0;
  switch (*depth) {
    case 1: count = 2; break;
    case 4: count = 16; break;
    case 8: count = 256; break;
    case 16:
    case 24:
    case 32: count = 0; break;
    default:
      *depth = 8;
      count = 256;
      break;
  }
  const WindowRef closed = hk.closedWindow();
  if (!closed) return kArgErr;
  WPortState port{};
  WSetup(closed, &port);
  int32 pixmap = 0;
  MgErr err = ICreatePixmap(closed, &area, *depth == 1 ? 1 : 0, &pixmap);
  if (!err && pixmap) {
    ImageSaveRecord save{};
    IOpen(pixmap, &save);
    const int32 mode = wholePanel ? hk.setDrawMode(kPanelDrawPrinting) : 0;
    hk.drawPanel(panel);
    if (wholePanel) hk.setDrawMode(mode);
    IClose(pixmap, &save);
    hk.stashText(panel);
  }
  WRestore(&port);
  if (err || !pixmap) return err ? err : MgErr(kMemFullErr);
  int32 rowBytes = 0, size = 0, d = *depth;
  err = IGetHostBits(pixmap, 0, &d, nullptr, &rowBytes, &size, nullptr, nullptr);
  if (!err && bits) err = hk.resizeArray(1, bits, size);
  if (!err && colours) err = hk.resizeArray(4, colours, count);
  if (!err && bits && *bits && **bits) {
    uInt8* out = reinterpret_cast<uInt8*>(**bits) + 4;
    std::vector<DColor> table(256);
    err = IGetHostBits(pixmap, 0, &d, nullptr, &rowBytes, &size, out, table.data());
    if (!err && count && colours && *colours && **colours)
      std::memcpy(reinterpret_cast<uInt8*>(**colours) + 4, table.data(), size_t(count) * 4);
  }
  IRelease(pixmap);
  if (!err && rect) {
    *rect = area;
    DOffsetRect(rect, -area.left, -area.top);
  }
  return err;
}
