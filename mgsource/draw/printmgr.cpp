#include "mgsource/draw/printmgr.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "mgsource/config.h"
#include "mgsource/cfgwords.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/printinfo.h"
#include "mgsource/draw/psport.h"
#include "mgsource/hookset.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/window/window.h"
#include "platform/qx_dc.h"
#include "platform/qx_file.h"
#include "platform/qx_globalmem.h"
#include "platform/qx_printdc.h"
#include "platform/qx_printer.h"
#include "platform/qx_sysinfo.h"

PrintJob gPrintJob;
PrintPrefs gPrintPrefs;

namespace {

PrintHooks gHooks;
PEndPageProc gEndPage = nullptr;

PrintRecord* Rec(UHandle h) { return reinterpret_cast<PrintRecord*>(*h); }

ConstPStr Key(const char* counted) { return reinterpret_cast<ConstPStr>(counted); }

void FreeBlocks() {
  PrintDlgRecord& d = gPrintJob.printDlg;
  if (d.devMode) PlatGlobalFree(d.devMode);
  if (d.devNames) PlatGlobalFree(d.devNames);
  d.devMode = d.devNames = 0;
}

void DeleteDc() {
  PrintDlgRecord& d = gPrintJob.printDlg;
  if (d.dc) PlatDeleteDc(d.dc);
  d.dc = 0;
}

RsrcFileRef AppFile() { return gHooks.appRsrcFile ? gHooks.appRsrcFile() : 0; }

bool IsNT() { return gHooks.isNT ? gHooks.isNT() != 0 : PlatGetVersion().isNT; }

// A long string from external code as a C string; false for a bad handle.
bool NameOf(LStrHandle name, std::vector<char>* out) {
  if (!name || DSCheckHandle(name) != kNoErr || !*name) return false;
  const int32 n = LStrLen(*name);
  if (DSGetHandleSize(reinterpret_cast<UHandle>(name)) < int32(offsetof(LStr, str)) + n) return false;
  out->assign(reinterpret_cast<const char*>(LStrBuf(*name)), reinterpret_cast<const char*>(LStrBuf(*name)) + n);
  out->push_back('\0');
  return true;
}

// The printers, local and connections: a first call for the size, then
// into a buffer of that size plus 4 bytes.  False when memory runs out.
bool EnumPrinters(std::vector<uInt8>* buf, uInt32* count) {
  uInt32 needed = 0;
  *count = 0;
  PlatEnumPrinters(nullptr, 0, &needed, count);
  if (needed == 0) return true;
  try {
    buf->assign(needed + 4, 0);
  } catch (...) {
    return false;
  }
  if (!PlatEnumPrinters(buf->data(), uInt32(buf->size()), &needed, count)) *count = 0;
  return true;
}

// The entry whose name equals name exactly (with case): 0, 1 none, 2 no memory.
MgErr FindPrinter(const char* name, std::vector<uInt8>* buf, const PlatPrinterEntry** found) {
  uInt32 count = 0;
  *found = nullptr;
  if (!EnumPrinters(buf, &count)) return kMemFullErr;
  const auto* e = reinterpret_cast<const PlatPrinterEntry*>(buf->data());
  for (uInt32 i = 0; i < count; ++i)
    if (e[i].name && std::strcmp(e[i].name, name) == 0) {
      *found = &e[i];
      return kNoErr;
    }
  return kArgErr;
}

}  // namespace

PrintHooks PSetPrintHooks(const PrintHooks& hooks) {
  return SetGivenHooks(&gHooks, hooks, &PrintHooks::errDialog, &PrintHooks::makeTempFilePath,
                       &PrintHooks::beginNativeModal, &PrintHooks::endNativeModal, &PrintHooks::nativeLoop,
                       &PrintHooks::isNT, &PrintHooks::appRsrcFile);
}

PrintHooks PPrintHooks() { return gHooks; }

void PSetEndPageProc(PEndPageProc proc) { gEndPage = proc; }

void PReadPrintPrefs() {
  // Each key is read over its live configuration word, which holds the
  // compiled-in default when the key is absent.
  struct {
    const char* key;
    int32 word;
    Bool32* flag;
  } flags[] = {
      {"\x10printUsingBitmap", kCfgWordPrintUsingBitmap, &gPrintPrefs.printUsingBitmap},
      {"\x12postScriptPrinting", kCfgWordPostScriptPrinting, &gPrintPrefs.postScriptPrinting},
      {"\x10postScriptLevel2", kCfgWordPostScriptLevel2, &gPrintPrefs.postScriptLevel2},
      {"\x0d" "colorPrinting", kCfgWordColorPrinting, &gPrintPrefs.colorPrinting},
      {"\x10printerDithering", kCfgWordPrinterDithering, &gPrintPrefs.printerDithering},
      {"\x0auseMargins", kCfgWordUseMargins, &gPrintPrefs.useMargins},
      {"\x0emarginUnitInch", kCfgWordMarginUnitInch, &gPrintPrefs.marginUnitInch},
  };
  for (auto& f : flags) {
    CfgGetDefault(kCfgBool, Key(f.key), CfgWordPtr(f.word));
    *f.flag = CfgWordGet(f.word) ? 1 : 0;
  }
  struct {
    const char* key;
    int32 word;
    float32* value;
  } margins[] = {{"\x07marginT", kCfgWordMarginT, &gPrintPrefs.marginT},
                 {"\x07marginL", kCfgWordMarginL, &gPrintPrefs.marginL},
                 {"\x07marginB", kCfgWordMarginB, &gPrintPrefs.marginB},
                 {"\x07marginR", kCfgWordMarginR, &gPrintPrefs.marginR}};
  for (auto& m : margins) {
    CfgGetDefault(kCfgNumber, Key(m.key), CfgWordPtr(m.word));
    *m.value = CfgWordFloat(m.word);
  }
}

int32 PBitmapPrintScale() {
  int32 v = 4;
  CfgGetDefault(kCfgInt, Key("\x11lbitmapPrintScale"), &v);
  return v < 1 ? 1 : v;  // pages are divided by it
}

bool PReadDevNames(uInt32 devNames, char* driver, char* device, char* port, int32 size) {
  const uInt32 n = PlatGlobalSize(devNames);
  const auto* p = static_cast<const uInt8*>(PlatGlobalLock(devNames));
  if (!p) return false;
  bool ok = n >= sizeof(PlatDevNames);
  char* out[3] = {driver, device, port};
  for (int32 k = 0; ok && k < 3; ++k) {
    const uInt32 at = uInt32(p[2 * k]) | uInt32(p[2 * k + 1]) << 8;
    const void* nul = at >= sizeof(PlatDevNames) && at < n ? std::memchr(p + at, 0, n - at) : nullptr;
    const size_t len = nul ? size_t(static_cast<const uInt8*>(nul) - (p + at)) : 0;
    ok = nul && len < size_t(size);
    if (ok) std::memcpy(out[k], p + at, len + 1);
  }
  PlatGlobalUnlock(devNames);
  return ok;
}

void PInitPrintDlg() {
  PrintDlgRecord& d = gPrintJob.printDlg;
  std::memset(&d, 0, sizeof d);
  d.structSize = sizeof(PrintDlgRecord);
  d.fromPage = 1;
  d.toPage = 1;
  d.minPage = 1;
  d.maxPage = 65535;
  d.copies = 1;
}

void PFreeDevHandles() { FreeBlocks(); }

int32 PRunPrintDlg(PrintDlgRecord* dlg, uInt32* extError) {
  if (!dlg) return 0;
  if (gHooks.beginNativeModal) gHooks.beginNativeModal();
  if (gHooks.nativeLoop) gHooks.nativeLoop(1);
  PlatPrintDlg pd{};
  pd.flags = dlg->flags;
  pd.devMode = dlg->devMode;
  pd.devNames = dlg->devNames;
  pd.fromPage = dlg->fromPage;
  pd.toPage = dlg->toPage;
  pd.minPage = dlg->minPage;
  pd.maxPage = dlg->maxPage;
  pd.copies = dlg->copies;
  uInt32 ext = 0;
  const int32 ok = PlatPrintDialog(&pd, &ext);
  dlg->devMode = pd.devMode;
  dlg->devNames = pd.devNames;
  if (pd.flags & kPdReturnDc) dlg->dc = pd.dc;
  dlg->flags = pd.flags;
  dlg->fromPage = pd.fromPage;
  dlg->toPage = pd.toPage;
  dlg->copies = pd.copies;
  if (gHooks.nativeLoop) gHooks.nativeLoop(0);
  if (extError) *extError = ok ? 0 : ext;
  // Dialogs of the host may leave the floating-point unit in another state.
  __asm__ volatile("fninit");
  if (gHooks.endNativeModal) gHooks.endNativeModal();
  return ok;
}

void POpen(WindowRef, RsrcFileRef) {
  PrintJob& job = gPrintJob;
  PrintDlgRecord& d = job.printDlg;
  job.error = kNoErr;
  d.owner = 0;
  if (d.devMode && d.devNames) {
    char driver[256], device[256], port[256];
    if (PReadDevNames(d.devNames, driver, device, port, sizeof driver))
      d.dc = PlatCreatePrinterDc(driver, device, port, d.devMode);
    if (!d.dc) job.error = kPrintDialogErr;
    return;
  }
  FreeBlocks();
  d.flags = kPdFlagsOpen;
  if (!PRunPrintDlg(&d, nullptr) || !d.dc) job.error = kPrintDialogErr;
}

void PClose() {
  DeleteDc();
  gPrintJob.printDlg.owner = 0;
}

namespace {

// The two dialogs: steps shared by PStyleDialog and PJobDialog.
int32 RunDialog(bool job, uInt32* ext) {
  PrintDlgRecord& d = gPrintJob.printDlg;
  DeleteDc();
  d.flags = job ? kPdFlagsJob : kPdFlagsSetup;
  *ext = 0;
  int32 ok = PRunPrintDlg(&d, ext);
  if (!ok && *ext) {
    // The saved printer is gone: ask again for the default one.
    FreeBlocks();
    d.flags = job ? kPdFlagsJob : kPdFlagsSetup;
    uInt32 again = 0;
    ok = PRunPrintDlg(&d, job ? &again : nullptr);
    *ext = again;
  }
  return ok;
}

}  // namespace

int32 PStyleDialog(UHandle record) {
  PrintJob& job = gPrintJob;
  if (job.error) return 0;
  if (!record) {
    DBPrintf("No print record supplied to PStyleDialog");
    job.error = kPrintBadRecord;
    return 0;
  }
  uInt32 ext = 0;
  const int32 ok = RunDialog(false, &ext);
  if (ok) PSyncOrientation(record, 1);
  return ok;
}

int32 PJobDialog(UHandle record) {
  PrintJob& job = gPrintJob;
  if (job.error) return 0;
  if (!record) {
    DBPrintf("No print record supplied to PJobDialog");
    job.error = kPrintBadRecord;
    return 0;
  }
  uInt32 ext = 0;
  const int32 ok = RunDialog(true, &ext);
  PrintDlgRecord& d = job.printDlg;
  if (!d.dc && (ok || ext)) {
    job.error = kPrintDriverErr;
    return 0;
  }
  if (ok) {
    PSyncOrientation(record, 1);
    PValidate(record);
    PrintRecord* r = Rec(record);
    // A chosen page range is printed: print-all only without one.
    r->printAll = (d.flags & kPdPageNums) ? 0 : 1;
    r->firstPage = d.fromPage;
    r->lastPage = d.toPage;
  }
  return ok;
}

void PSetWindowDepth(WindowRef window) {
  int32 depth;
  if (gPrintPrefs.postScriptPrinting) {
    depth = gPrintPrefs.colorPrinting ? 8 : 1;
  } else {
    const PlatObj dc = gPrintJob.printDlg.dc;
    const int32 colours = PlatGetDeviceCaps(dc, kPlatCapNumColors);
    const int32 bits = PlatGetDeviceCaps(dc, kPlatCapPlanes) * PlatGetDeviceCaps(dc, kPlatCapBitsPixel);
    const int32 byBits = bits < 2 ? 1 : bits <= 4 ? 4 : bits <= 8 ? 8 : 24;
    const int32 byColours = colours <= 2 ? 1 : colours <= 16 ? 4 : colours <= 256 ? 8 : 24;
    depth = byBits > byColours ? byBits : byColours;
    if (gPrintPrefs.colorPrinting && depth < 8) depth = 8;
  }
  WSetDepth(window, depth);
}

WindowRef PNewPrinterWindow(const Rect* rect, int32 extra) {
  if (!rect) return kWNoWindow;
  static const uChar kTitle[] = "\x07Printer";
  const WindowRef w = WCreate(kPrintPageStyle, kTitle, nullptr, rect, extra, 0, 0);
  if (!w) return kWNoWindow;
  PrintJob& job = gPrintJob;
  if (gPrintPrefs.printUsingBitmap) {
    job.screenDc = PlatCreateScreenDc();
    WSetPaintDc(w, job.screenDc);
  } else {
    WSetPaintDc(w, job.printDlg.dc);
  }
  PSetWindowDepth(w);
  return w;
}

Path PSpoolFilePath(int32 page, Path path) {
  char pattern[32];
  SPrintf(pattern, "vipg%%d.%03ld", long(page));
  Path p = gHooks.makeTempFilePath ? gHooks.makeTempFilePath(pattern, path) : nullptr;
  if (!p) DBAssert(__FILE__, __LINE__, "PSpoolFilePath: no spool file path");
  return p;
}

WindowRef POpenWind(UHandle record, int32, WPortState* save) {
  PrintJob& job = gPrintJob;
  job.pageWindow = kWNoWindow;
  PrintDocInfo doc{sizeof(PrintDocInfo), kPrintDocName, nullptr, "",
                   gPrintPrefs.printUsingBitmap ? uInt32(kDocAppBanding) : 0u};
  if (PlatStartDoc(job.printDlg.dc, doc.docName) <= 0) {
    DBPrintf("STARTDOC failed.");
    job.error = kPrintDriverErr;
    return kWNoWindow;
  }
  static const uChar kEmpty[] = "";
  const Rect whole{0, 0, 10000, 10000};
  job.scratchWindow = WCreate(kPrintScratchStyle, kEmpty, nullptr, &whole, 0, 0, 0);
  if (job.scratchWindow) PSetWindowDepth(job.scratchWindow);
  job.spoolFileCount = 0;
  const Rect page = record && *record ? Rec(record)->devPage : Rect{0, 0, 0, 0};
  const WindowRef w = PNewPrinterWindow(&page, 0);
  if (w) WSetup(w, save);
  else job.error = kPrintMemErr;
  if (gPrintPrefs.postScriptPrinting) {
    Path path = PSpoolFilePath(0, nullptr);
    MgErr err = path ? FCreateAlways(&job.psFile, path, FGetDefPerm(0666), kAccessReadWrite, kDenyNone, nullptr)
                     : MgErr(kPrintGenericErr);
    if (path) FDisposePath(path);
    if (err) job.psFile = nullptr;
    if (!job.error) job.error = err;  // the first failure is the one kept
    if (job.psFile) {
      const PSPrinter printer{job.printDlg.dc, &job.error, IsNT() ? 1 : 0};
      PSSetPrinter(&printer);
      // Without its page image the spool file would be written by nobody
      // while the job reports success.
      const uInt32 rec = uInt32(reinterpret_cast<uintptr_t>(record));
      if (ICreatePageImage(w, WGetDepth(w), uInt32(reinterpret_cast<uintptr_t>(job.psFile)), &job.psImage, rec) ||
          !job.psImage) {
        job.psImage = 0;
        if (!job.error) job.error = kPrintMemErr;
      }
    }
  }
  job.pageWindow = w;
  return w;
}

void POpenPage(UHandle record) {
  PrintJob& job = gPrintJob;
  PrintRecord* r = record && *record ? Rec(record) : nullptr;
  if (job.psImage) {
    ++job.spoolFileCount;
    IOpen(job.psImage, &job.imageSave);
    if (r) {
      job.savedPageRect = r->devPage;
      r->devPage = r->pagePoints;
    }
    return;
  }
  const PlatObj dc = job.printDlg.dc;
  PlatSetLastError(0);
  if (PlatStartPage(dc) < 1 && PlatLastError()) job.error = kPrintDriverErr;
  PlatSetBkMode(dc, kPlatBkTransparent);
  if (!gPrintPrefs.printUsingBitmap) return;
  if (job.pagePixmap) {
    DBPrintf("Nested call to POpenPage!");
    job.error = kPrintGenericErr;
    return;
  }
  Rect pix = r ? r->pagePoints : Rect{0, 0, 0, 0};
  pix.bottom = int16(float32(pix.bottom) * job.bitmapScale);
  pix.right = int16(float32(pix.right) * job.bitmapScale);
  if (MgErr err = ICreatePixmap(job.pageWindow, &pix, 0, &job.pagePixmap)) {
    job.error = err;
    job.pagePixmap = 0;
    return;
  }
  IOpen(job.pagePixmap, &job.imageSave);
  if (WGetDepth(job.pageWindow) == 1) DSetBWDrawing(1);
  DSelectNormPen(0xFFFFFF, 0xFFFFFF);
  DPaintRect(&pix);
  if (r) {
    job.savedPageRect = r->devPage;
    r->devPage = pix;
  }
}

void PClosePage(UHandle record) {
  PrintJob& job = gPrintJob;
  PrintRecord* r = record && *record ? Rec(record) : nullptr;
  if (job.psImage) {
    IClose(job.psImage, &job.imageSave);
    if (r) r->devPage = job.savedPageRect;
    return;
  }
  const PlatObj dc = job.printDlg.dc;
  if (gPrintPrefs.printUsingBitmap) {
    if (r) r->devPage = job.savedPageRect;
    if (job.pagePixmap) {
      IClose(job.pagePixmap, &job.imageSave);
      gBitmapScale = job.bitmapScale;  // the image manager's pixels per point of the pixmap
      IPrintPixmapDIB(job.pagePixmap, 0, dc);
      IRelease(job.pagePixmap);
    }
    job.pagePixmap = 0;
    // The bands ended the page.
    if (IsNT()) return;
  }
  PlatSetLastError(0);
  const int32 ended = gEndPage ? gEndPage(dc) : PlatEndPage(dc);
  if (ended < 1 && PlatLastError()) {
    DBPrintf("EndPage error!");
    job.error = kPrintDriverErr;
  }
}

void PCloseWind(UHandle, const WPortState* save) {
  PrintJob& job = gPrintJob;
  if (job.psFile) {
    FMClose(job.psFile);
    job.psFile = nullptr;
    if (job.psImage) IRelease(job.psImage);
    job.psImage = 0;
    job.spoolFileCount = 1;  // the pages share spool file 0
  }
  PSSetPrinter(nullptr);
  if (!job.error && PlatEndDoc(job.printDlg.dc) < 1) job.error = kPrintDriverErr;
  if (job.scratchWindow) WDestroy(job.scratchWindow);
  job.scratchWindow = kWNoWindow;
  if (gPrintPrefs.postScriptPrinting) {
    Path p = nullptr;
    for (int32 i = 0; i < job.spoolFileCount; ++i) {
      Path next = PSpoolFilePath(i, p);
      if (!next) break;
      p = next;
      if (MgErr err = FRemove(p)) DBPrintf("PCloseWind: FRemove returned err = %ld  p=%z", long(err), p);
    }
    if (p) FDisposePath(p);
  }
  if (job.pageWindow) {
    WRestore(save);
    if (job.screenDc) PlatDeleteDc(job.screenDc);
    job.screenDc = 0;
    WDestroy(job.pageWindow);
    job.pageWindow = kWNoWindow;
  }
}

MgErr PSelectPrinterByName(LStrHandle name) {
  PrintJob& job = gPrintJob;
  QX_ASSERT_MSG(name, "PSelectPrinterByName: no name");
  QX_ASSERT_MSG(!job.savedDC, "PSelectPrinterByName: a context is already put aside");
  job.savedDC = job.printDlg.dc;
  job.printDlg.dc = 0;
  std::vector<char> cname;
  std::vector<uInt8> buf;
  const PlatPrinterEntry* e = nullptr;
  MgErr err = NameOf(name, &cname) ? FindPrinter(cname.data(), &buf, &e) : kArgErr;
  if (!err) {
    job.printDlg.dc = PlatCreatePrinterDc(e->driver, e->name, e->port, 0);
    if (!job.printDlg.dc) err = kPrintDialogErr;
  }
  job.error = err;
  return err;
}

void PRestorePrinterDC() {
  PrintJob& job = gPrintJob;
  if (!job.savedDC) return;
  DeleteDc();
  job.printDlg.dc = job.savedDC;
  job.savedDC = 0;
}

int32 PGetPrinterSetup(const char* name, uInt32* devMode, uInt32* devNames) {
  if (!name || !devMode || !devNames) return 1;
  *devMode = *devNames = 0;
  PlatPrinterInfo info;
  if (!PlatFindPrinter(name, &info)) return 1;  // the printer cannot be opened
  // The printer's own device mode, of which the fixed part and the driver's
  // extra bytes are copied.
  // The names block (driver, device, port) is the platform's own.
  PlatGlobal defMode = 0, defNames = 0;
  if (!PlatMakeDeviceBlocks(info, &defMode, &defNames)) return 1;
  const auto* src = static_cast<const PlatDevMode*>(PlatGlobalLock(defMode));
  const uInt32 have = PlatGlobalSize(defMode);
  const uInt32 extra = src && have >= sizeof(PlatDevMode) ? src->driverExtra : 0;
  const uInt32 modeSize = uInt32(sizeof(PlatDevMode)) + extra;
  PlatGlobal mode = src && have >= modeSize ? PlatGlobalAlloc(kPlatGlobalMovable | kPlatGlobalZeroInit, modeSize) : 0;
  if (mode) {
    std::memcpy(PlatGlobalLock(mode), src, modeSize);
    PlatGlobalUnlock(mode);
  }
  if (src) PlatGlobalUnlock(defMode);
  PlatGlobalFree(defMode);
  if (!mode) {
    PlatGlobalFree(defNames);
    return 1;
  }
  *devMode = mode;
  *devNames = defNames;
  return 0;
}

MgErr SetDefaultPrinter(LStrHandle name, LStrHandle current, Bool32 ask) {
  PrintJob& job = gPrintJob;
  PrintDlgRecord& d = job.printDlg;
  POpen(kWNoWindow, AppFile());
  if (job.error) {
    DBPrintf("POpen failed!");
    return job.error;
  }
  MgErr result = kNoErr;
  char driver[256], device[256], port[256];
  if (current) {
    if (DSCheckHandle(current) != kNoErr) {
      result = kArgErr;
    } else if (PReadDevNames(d.devNames, driver, device, port, sizeof driver)) {
      const int32 n = int32(std::strlen(device));
      if (DSSetHandleSize(reinterpret_cast<UHandle>(current), int32(offsetof(LStr, str)) + n) != kNoErr) {
        result = kMemFullErr;
      } else {
        (*current)->cnt = n;
        std::memcpy(LStrBuf(*current), device, size_t(n));
      }
    }
  }
  if (!result && ask) {
    DeleteDc();
    d.flags = kPdFlagsSetup;
    uInt32 ext = 0;
    if (!PRunPrintDlg(&d, &ext) && ext) {
      FreeBlocks();
      d.flags = kPdFlagsSetup;
      if (!PRunPrintDlg(&d, &ext) && ext) result = kPrintDialogErr;
    }
  } else if (!result) {
    std::vector<char> cname;
    std::vector<uInt8> buf;
    const PlatPrinterEntry* e = nullptr;
    result = NameOf(name, &cname) ? FindPrinter(cname.data(), &buf, &e) : kArgErr;
    uInt32 mode = 0, names = 0;
    if (!result && PGetPrinterSetup(e->name, &mode, &names)) result = kArgErr;
    if (!result) {
      FreeBlocks();
      d.devMode = mode;
      d.devNames = names;
    }
  }
  PClose();
  job.error = result;
  return result;
}

MgErr PPageSetup(UHandle vi, WindowRef window) {
  PrintJob& job = gPrintJob;
  if (!vi) return kNoErr;
  POpen(window, AppFile());
  if (job.error) {
    DBPrintf("POpen failed!");
    PClose();
    if (gHooks.errDialog) gHooks.errDialog(kPrinterNotResponding, nullptr);
    return job.error;
  }
  PSetupVIPrint(vi);
  PStyleDialog(gPrintVI.record);
  if (job.error) DBPrintf("PStyleDialog failed!");
  PClose();
  return job.error;
}
