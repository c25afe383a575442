// Print records come from VI files: any bytes as a "PRT " resource load as
// a version-2 record of at least 128 bytes (a short one grown, never read
// past), and validating it against the default printer, with any margin
// preferences, puts every computed field inside the page: the printable
// rectangle within the page in points, finite borders and scale, a bitmap
// scale between 1 and the printer's scale.  No report may be raised, and
// no handle is left behind.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "mgsource/draw/printinfo.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "platform/qx_dc.h"
#include "tools/rsrcwriter.h"

namespace {

bool Init() {
  unsetenv("QX_PRINTERS");
  unsetenv("QX_PRINT_DIALOG");
  if (!FuzzStartManagers(FuzzAbortWhenArmed) || ThInit() != kNoErr || RInitResources() != kNoErr) return false;
  UHandle probe = AZNewHandle(0);
  RFindByHandle(probe, nullptr, nullptr, nullptr);
  AZDisposeHandle(probe);
  PInitPrintDlg();
  POpen(0, 0);
  return gPrintJob.error == kNoErr && gPrintJob.printDlg.dc;
}

bool Inside(const Rect& r, const Rect& page) {
  return r.top >= 0 && r.left >= 0 && r.top <= r.bottom && r.left <= r.right && r.bottom <= page.bottom &&
         r.right <= page.right;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Init();
  if (!ready || size < 1 || size > 4096) return 0;
  FuzzReader in{data, size};
  const uint8_t mode = in.Byte();
  const uInt32 fileVersion = (mode & 1) ? kPrintRecordFullFileVersion : 0x4000000;
  gPrintPrefs = PrintPrefs{};
  gPrintPrefs.useMargins = (mode >> 1) & 1;
  gPrintPrefs.marginUnitInch = (mode >> 2) & 1;
  gPrintPrefs.printUsingBitmap = (mode >> 3) & 1;
  if (gPrintPrefs.useMargins) {
    float32* m[4] = {&gPrintPrefs.marginT, &gPrintPrefs.marginL, &gPrintPrefs.marginB, &gPrintPrefs.marginR};
    for (float32* v : m) {
      const uint32_t w = in.Word();
      std::memcpy(v, &w, 4);
    }
  }
  const int32 before = FuzzLiveHandles();
  rsrcw::Bytes bytes(in.p, in.p + in.n);
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  w.Add(FourCC("PRT "), 3, bytes);
  const rsrcw::Bytes file = w.Write();
  UHandle h = AZNewHandle(int32(file.size()));
  FUZZ_CHECK(h);
  std::memcpy(*h, file.data(), file.size());
  RsrcFileRef ref = 0;
  FUZZ_CHECK(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, h) == kNoErr);

  FuzzArmed() = true;
  UHandle rec = LoadPrintInfo(ref, 3, fileVersion);
  FUZZ_CHECK(rec);
  FUZZ_CHECK(AZGetHandleSize(rec) >= kPrintRecordSize && AZGetHandleSize(rec) >= int32(bytes.size()));
  const PrintRecord& r = *reinterpret_cast<PrintRecord*>(*rec);
  FUZZ_CHECK(r.version == kPrintRecordVersion);
  gPrintJob.error = kNoErr;
  gPrintJob.bitmapScale = 0;
  FUZZ_CHECK(PValidate(rec) == 1);
  FuzzArmed() = false;

  const PlatObj dc = gPrintJob.printDlg.dc;
  FUZZ_CHECK(dc);
  FUZZ_CHECK(r.devPage.top == 0 && r.devPage.left == 0 &&
             r.devPage.bottom == PlatGetDeviceCaps(dc, kPlatCapVertRes) &&
             r.devPage.right == PlatGetDeviceCaps(dc, kPlatCapHorzRes));
  FUZZ_CHECK(Inside(r.pagePoints, r.pagePoints));
  FUZZ_CHECK(Inside(r.printable, r.pagePoints));
  FUZZ_CHECK(r.printAll == 1 && r.reserved0 == 0);
  FUZZ_CHECK(std::isfinite(r.scale) && r.scale > 0);
  for (float32 b : r.border) FUZZ_CHECK(std::isfinite(b) && b >= 0);
  if (gPrintPrefs.printUsingBitmap)
    FUZZ_CHECK(gPrintJob.bitmapScale >= 1 && gPrintJob.bitmapScale <= r.scale);
  AZDisposeHandle(rec);
  RCloseFile(ref);
  FUZZ_CHECK(FuzzLiveHandles() == before);
  return 0;
}
