#include "mgsource/draw/printinfo.h"

#include <cmath>
#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "platform/qx_dc.h"
#include "platform/qx_globalmem.h"
#include "platform/qx_printdc.h"
#include "platform/qx_printer.h"

PrintVIState gPrintVI;

namespace {

PVIPrintRecordProc gVIRecordSlot = nullptr;

PrintRecord* Rec(UHandle h) { return reinterpret_cast<PrintRecord*>(*h); }

// The 32-bit words stored big-endian after the first three.
constexpr int32 kSwappedWords[] = {48, 52, 56, 60, 64, 68, 72, 116, 120};

void ReverseWord(uInt8* p, int32 at) { PutNative32(p + at, GetBE32(p + at)); }

// A device pixel count in a record rectangle: the record holds 16-bit
// coordinates, so larger pages are held at the largest one.
int16 Coord(int64 v) { return int16(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

// An edge moved by a margin, truncated toward zero and kept on the page.
int32 Edge(double v, int32 extent) {
  if (!(v > 0)) return 0;  // NaN too
  if (v > extent) return extent;
  return int32(v);
}

}  // namespace

void PSetVIPrintRecordProc(PVIPrintRecordProc proc) { gVIRecordSlot = proc; }
PVIPrintRecordProc PVIPrintRecordProcInUse() { return gVIRecordSlot; }

UHandle PrintRecordFromStored(const uInt8* bytes, int32 size, uInt32 fileVersion) {
  if (size < 0 || (size > 0 && !bytes)) return nullptr;
  // Grown to the whole record with zero bytes before a field is read, so a
  // short record of any version is never read past its end.
  UHandle h = AZNewHClr(size < kPrintRecordSize ? kPrintRecordSize : size);
  if (!h) {
    DBPrintf("LoadPrintInfo: Failed expanding print record.");
    return nullptr;
  }
  uInt8* p = reinterpret_cast<uInt8*>(*h);
  if (size > 0) std::memcpy(p, bytes, size_t(size));
  ReverseWord(p, 36);
  ReverseWord(p, 40);
  ReverseWord(p, 44);
  const uInt32 stored = GetNative32(p + 40);
  (void)fileVersion;  // an older file's record is short: grown above whatever its version
  for (int32 at : kSwappedWords) ReverseWord(p, at);
  PrintRecord* r = Rec(h);
  if (stored != kPrintRecordVersion) {
    r->reserved124 = 0;
    if (stored == 1) {
      if (r->orientation == 2) r->orientation = 0;
      else if (r->orientation == 3) r->orientation = 1;
    }
    r->version = kPrintRecordVersion;
  }
  return h;
}

UHandle LoadPrintInfo(RsrcFileRef file, int32 rsrcID, uInt32 version) {
  UHandle stored = nullptr;
  if (RGet(file, FourCC("PRT "), rsrcID, &stored) != kNoErr || !stored) return nullptr;
  const int32 size = AZGetHandleSize(stored);
  UHandle h = PrintRecordFromStored(reinterpret_cast<const uInt8*>(*stored), size, version);
  RRelease(stored);
  return h;
}

void PSyncOrientation(UHandle record, Bool32 toRecord) {
  PrintDlgRecord& d = gPrintJob.printDlg;
  if (!record || !*record || !d.devMode || !d.devNames) return;
  auto* mode = static_cast<PlatDevMode*>(PlatGlobalLock(d.devMode));
  if (!mode) return;
  if (PlatGlobalSize(d.devMode) < sizeof(PlatDevMode)) {
    PlatGlobalUnlock(d.devMode);
    return;
  }
  PrintRecord* r = Rec(record);
  if (toRecord) {
    r->orientation = (mode->orientation & 2) ? 1 : 0;
    PlatGlobalUnlock(d.devMode);
    return;
  }
  const int16 want = r->orientation == 1 ? kPlatLandscape : kPlatPortrait;
  const bool changed = mode->orientation != want;
  mode->orientation = want;
  mode->fields |= kPlatDmOrientation;
  PlatGlobalUnlock(d.devMode);
  if (!changed || !d.dc) return;
  char driver[256], device[256], port[256];
  PlatDeleteDc(d.dc);
  d.dc = 0;
  if (PReadDevNames(d.devNames, driver, device, port, sizeof driver))
    d.dc = PlatCreatePrinterDc(driver, device, port, d.devMode);
}

int32 PValidate(UHandle record) {
  PrintJob& job = gPrintJob;
  if (job.error) return 0;
  if (!record || !*record) {
    DBPrintf("print record not supplied to PValidate");
    job.error = kPrintBadRecord;
    return 0;
  }
  PSyncOrientation(record, 0);
  PrintRecord* r = Rec(record);
  r->reserved0 = 0;
  r->printAll = 1;
  const PlatObj dc = job.printDlg.dc;
  if (!dc) {
    DBAssert(__FILE__, __LINE__, "PValidate: no printer context");
    return 0;
  }
  const int32 lx = PlatGetDeviceCaps(dc, kPlatCapLogPixelsX), ly = PlatGetDeviceCaps(dc, kPlatCapLogPixelsY);
  const int32 vert = PlatGetDeviceCaps(dc, kPlatCapVertRes), horz = PlatGetDeviceCaps(dc, kPlatCapHorzRes);
  const int32 offX = PlatGetDeviceCaps(dc, kPlatCapPhysicalOffsetX);
  const int32 offY = PlatGetDeviceCaps(dc, kPlatCapPhysicalOffsetY);
  const int32 physW = PlatGetDeviceCaps(dc, kPlatCapPhysicalWidth);
  const int32 physH = PlatGetDeviceCaps(dc, kPlatCapPhysicalHeight);
  if (lx <= 0 || ly <= 0 || vert <= 0 || horz <= 0) {
    DBAssert(__FILE__, __LINE__, "PValidate: the printer gives no resolution");
    return 0;
  }
  r->devPage = Rect{0, 0, Coord(vert), Coord(horz)};
  r->border[0] = float32(offY) / float32(ly);
  r->border[1] = float32(offX) / float32(lx);
  r->border[2] = float32(physH - vert - offY) / float32(ly);
  r->border[3] = float32(physW - horz - offX) / float32(lx);
  const int32 pageV = r->devPage.bottom, pageH = r->devPage.right;
  int32 top = 0, left = 0, bottom = pageV, right = pageH;

  uInt32 unit = r->marginUnit & 0xF;
  float32 m[4] = {0, 0, 0, 0};
  if (unit) {
    std::memcpy(m, r->margins, sizeof m);
  } else if (gPrintPrefs.useMargins) {
    unit = gPrintPrefs.marginUnitInch ? kMarginInches : kMarginMillimetres;
    m[0] = gPrintPrefs.marginT;
    m[1] = gPrintPrefs.marginL;
    m[2] = gPrintPrefs.marginB;
    m[3] = gPrintPrefs.marginR;
  }
  if (unit == kMarginMillimetres)
    for (float32& v : m) v = float32(v / 25.4);
  std::memcpy(r->inchMargins, m, sizeof m);
  if (unit) {
    const double dpi[4] = {double(ly), double(lx), double(ly), double(lx)};
    double in[4];
    for (int32 k = 0; k < 4; ++k) in[k] = m[k] > r->border[k] ? (double(m[k]) - r->border[k]) * dpi[k] : 0;
    top = Edge(top + in[0], pageV);
    left = Edge(left + in[1], pageH);
    bottom = Edge(bottom - in[2], pageV);
    right = Edge(right - in[3], pageH);
    // Margins wider than the page leave an empty rectangle, not an inverted one.
    if (bottom < top) bottom = top;
    if (right < left) right = left;
  }
  r->printable = Rect{Coord(int64(top) * 72 / ly), Coord(int64(left) * 72 / lx), Coord(int64(bottom) * 72 / ly),
                      Coord(int64(right) * 72 / lx)};
  r->pagePoints = Rect{0, 0, Coord(int64(pageV) * 72 / ly), Coord(int64(pageH) * 72 / lx)};
  r->scale = float32(lx) / 72.0f;
  if (gPrintPrefs.printUsingBitmap) {
    const float32 limit = float32(PBitmapPrintScale());
    job.bitmapScale = limit < r->scale ? limit : r->scale;
  }
  return 1;
}

UHandle PDefault() {
  UHandle h = AZNewHClr(kPrintRecordSize);
  if (h) {
    PrintRecord* r = Rec(h);
    r->version = kPrintRecordVersion;
    PSyncOrientation(h, 1);
    if (gPrintPrefs.useMargins) {
      r->marginUnit = gPrintPrefs.marginUnitInch ? kMarginInches : kMarginMillimetres;
      r->margins[0] = gPrintPrefs.marginT;
      r->margins[1] = gPrintPrefs.marginL;
      r->margins[2] = gPrintPrefs.marginB;
      r->margins[3] = gPrintPrefs.marginR;
    }
  }
  PValidate(h);
  return h;
}

UHandle PVIDefaultRecord() {
  UHandle h = PDefault();
  if (gPrintJob.error) DBPrintf("PDefault failed!");
  if (h) Rec(h)->options = kPrintDefaultOptions;
  return h;
}

void PSetupVIPrint(UHandle vi) {
  UHandle* slot = vi && gVIRecordSlot ? gVIRecordSlot(vi) : nullptr;
  UHandle record = slot ? *slot : nullptr;
  if (!record) {
    record = PVIDefaultRecord();
    if (slot) *slot = record;
  } else {
    PValidate(record);
  }
  if (record) Rec(record)->options &= ~uInt32(kPrintCleared);
  // Without a slot the record made here is the VI's only while it prints:
  // the previous one of that kind is dropped.
  static UHandle orphan = nullptr;
  if (!slot && record) {
    if (orphan && orphan != record) AZDisposeHandle(orphan);
    orphan = record;
  }
  gPrintVI.record = record;
  gPrintVI.vi = vi;
  gPrintVI.printing = 0;
}
