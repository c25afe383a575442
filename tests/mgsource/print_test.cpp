// Print records and print jobs on the layer's virtual printers.
#include <cmath>
#include <filesystem>
#include <fstream>

#include "golden_image.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagedraw.h"
#include "mgsource/draw/printinfo.h"
#include "mgsource/draw/printlayout.h"
#include "mgsource/draw/printvi.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "path_test_util.h"
#include "platform/qx_dc.h"
#include "platform/qx_event.h"
#include "platform/qx_thread.h"
#include "platform/qx_file.h"
#include "platform/qx_globalmem.h"
#include "platform/qx_png.h"
#include "platform/qx_printdc.h"
#include "platform/qx_window.h"
#include "temp_folder.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

PrintRecord* R(UHandle h) { return reinterpret_cast<PrintRecord*>(*h); }

// A stored record: the words given big-endian at their offsets.
std::vector<uInt8> Stored(int32 size, std::initializer_list<std::pair<int32, uInt32>> words) {
  std::vector<uInt8> b(size_t(size), 0xEE);
  for (auto [at, v] : words)
    if (at + 4 <= size) PutBE32(b.data() + at, v);
  return b;
}

std::string gTempDir;
int32 gEndPages = 0;
int32 gEndPageResult = 1;
std::vector<MgErr> gErrDialogs;

// The shell's temporary-file path, for process 51234.
Path TempPath(const char* format, Path path) {
  char name[64];
  std::snprintf(name, sizeof name, format, 51234 % 10000);
  std::string text = "C:" + gTempDir + "/" + name;
  for (char& c : text)
    if (c == '/') c = '\\';
  Path p = nullptr;
  if (FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p) != kNoErr) return nullptr;
  if (path) {
    FPathCpy(path, p);
    FDisposePath(p);
    return path;
  }
  return p;
}
int32 CountingEndPage(uInt32 dc) {
  ++gEndPages;
  if (gEndPageResult < 1) {
    PlatSetLastError(5);
    return gEndPageResult;
  }
  return PlatEndPage(dc);
}

class Print : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    PlatWindowsReset();
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    gTempDir = tmp_.Dir();
    std::ofstream(tmp_.Dir() + "/printers.ini") << "[Office]\ndpi = 300\n"
                                                 << "[Fine]\ndpi = 600\n"
                                                 << "[Draft]\ndpi = 200\n"
                                                 << "[Raster Printer]\ndpi = 72\npaper = 144 x 108\nmargins = 9\n"
                                                 << "postscript = no\n";
    Set("QX_PRINTERS", tmp_.Dir() + "/printers.ini");
    Set("QX_PRINT_DIR", tmp_.Dir());
    unsetenv("QX_PRINT_DIALOG");
    gPrintPrefs = PrintPrefs{};
    gEndPages = 0;
    gEndPageResult = 1;
    gErrDialogs.clear();
    PSetPrintHooks(PrintHooks{[](MgErr e, ConstPStr) { gErrDialogs.push_back(e); }, TempPath, nullptr, nullptr,
                              nullptr, nullptr, nullptr});
    PSetEndPageProc(CountingEndPage);
    PInitPrintDlg();
    gPrintJob.error = 0;
  }
  void TearDown() override {
    PClose();
    PFreeDevHandles();
    PSetEndPageProc(nullptr);
    CfgTestRemoveValue("lbitmapPrintScale");
    DDisposeDraw();
    WDestroyAllWindows();
    PlatWindowsReset();
    // The input the windows raised for this thread is taken.
    PlatEvent* ev = PlatEventCreate(false);
    PlatWaitEventOrInput(ev, 0);
    PlatEventDestroy(ev);
    unsetenv("QX_PRINTERS");
    unsetenv("QX_PRINT_DIR");
    unsetenv("QX_PRINT_DIALOG");
  }
  static void Set(const char* k, const std::string& v) { setenv(k, v.c_str(), 1); }
  // Opens the named printer as the session's printer.
  void Use(const char* name) {
    ASSERT_EQ(SetDefaultPrinter(L(name), nullptr, 0), kNoErr);
    POpen(0, 0);
    ASSERT_EQ(gPrintJob.error, kNoErr);
  }
  LStrHandle L(const std::string& s) {
    LStrHandle n = reinterpret_cast<LStrHandle>(DSNewHClr(4 + int32(s.size())));
    (*n)->cnt = int32(s.size());
    std::memcpy((*n)->str, s.data(), s.size());
    owned_.push_back(n);
    return n;
  }
  ~Print() override {
    for (LStrHandle h : owned_) DSDisposeHandle(reinterpret_cast<UHandle>(h));
  }
  TempFolder tmp_{"qxprintjob"};
  std::vector<LStrHandle> owned_;
};

TEST_F(Print, StoredRecordsLoadAsVersion2) {
  struct Row {
    const char* what;
    std::vector<uInt8> bytes;
    uInt32 orientation, options, unit, word124;
  } rows[] = {
      {"version 1 landscape", Stored(128, {{40, 1}, {44, 3}, {36, 0x8}, {48, 2}, {124, 7}}), 1, 0x8, 2, 0},
      {"version 1 portrait", Stored(128, {{40, 1}, {44, 2}}), 0, 0xEEEEEEEE, 0xEEEEEEEE, 0},
      {"version 2 kept", Stored(128, {{40, 2}, {44, 1}, {124, 7}}), 1, 0xEEEEEEEE, 0xEEEEEEEE, 0x07000000},  // not swapped
      {"40 bytes grow with zeros", Stored(40, {{36, 0x400}}), 0, 0x400, 0, 0},
      {"empty", {}, 0, 0, 0, 0},
  };
  for (const Row& r : rows) {
    UHandle h = PrintRecordFromStored(r.bytes.data(), int32(r.bytes.size()), kPrintRecordFullFileVersion);
    ASSERT_NE(h, nullptr) << r.what;
    EXPECT_GE(AZGetHandleSize(h), kPrintRecordSize) << r.what;
    EXPECT_EQ(R(h)->version, 2u) << r.what;
    EXPECT_EQ(R(h)->orientation, r.orientation) << r.what;
    EXPECT_EQ(R(h)->options, r.options) << r.what;
    EXPECT_EQ(R(h)->marginUnit, r.unit) << r.what;
    EXPECT_EQ(R(h)->reserved124, r.word124) << r.what;
    AZDisposeHandle(h);
  }
}

TEST_F(Print, ValidateMovesMarginsAndScalesBitmaps) {
  struct Row {
    const char* printer;
    uInt32 unit;
    float32 left;
    int16 printableLeftPoints;  // 0.25 inch border: the printer's limit is the device page's edge
    bool bitmap;
    float32 bitmapScale;
  } rows[] = {
      {"Office", kMarginMillimetres, 25.4f, 54, false, 0},  // 1 inch: in by 0.75 inch
      {"Office", kMarginInches, 0.1f, 0, false, 0},         // inside the border
      {"Fine", kMarginNone, 0, 0, true, 4},
      {"Draft", kMarginNone, 0, 0, true, 200.0f / 72},
  };
  for (const Row& r : rows) {
    Use(r.printer);
    gPrintPrefs.printUsingBitmap = r.bitmap;
    gPrintJob.bitmapScale = 0;
    UHandle h = AZNewHClr(kPrintRecordSize);
    R(h)->marginUnit = r.unit;
    R(h)->margins[1] = r.left;
    ASSERT_EQ(PValidate(h), 1) << r.printer;
    const PrintRecord& p = *R(h);
    const int32 dpi = PlatGetDeviceCaps(gPrintJob.printDlg.dc, kPlatCapLogPixelsX);
    EXPECT_EQ(p.devPage.right, PlatGetDeviceCaps(gPrintJob.printDlg.dc, kPlatCapHorzRes)) << r.printer;
    EXPECT_FLOAT_EQ(p.border[1], 0.25f) << r.printer;
    EXPECT_EQ(p.printable.left, r.printableLeftPoints) << r.printer << " unit " << r.unit;
    EXPECT_EQ(p.printable.right, p.devPage.right * 72 / dpi) << r.printer;
    EXPECT_EQ(p.printAll, 1u);
    EXPECT_FLOAT_EQ(p.scale, dpi / 72.0f) << r.printer;
    if (r.bitmap) {
      EXPECT_FLOAT_EQ(gPrintJob.bitmapScale, r.bitmapScale) << r.printer;
    }
    AZDisposeHandle(h);
    PClose();
  }
  // Errors leave the record alone: no record, then any later call.
  EXPECT_EQ(PValidate(nullptr), 0);
  EXPECT_EQ(gPrintJob.error, kPrintBadRecord);
}

TEST_F(Print, OpenDialogsAndPrinterChoice) {
  POpen(0, 0);  // no blocks: the default printer, whose blocks stay
  ASSERT_EQ(gPrintJob.error, kNoErr);
  char driver[64], device[64], port[64];
  ASSERT_TRUE(PReadDevNames(gPrintJob.printDlg.devNames, driver, device, port, 64));
  EXPECT_STREQ(device, "Office");
  const uInt32 blocks = gPrintJob.printDlg.devMode;
  PClose();
  POpen(0, 0);
  EXPECT_EQ(gPrintJob.printDlg.devMode, blocks);

  UHandle rec = AZNewHClr(kPrintRecordSize);
  Set("QX_PRINT_DIALOG", "pages=2-3");
  ASSERT_EQ(PJobDialog(rec), 1);
  EXPECT_EQ(R(rec)->printAll, 0u) << "a chosen range is printed";
  EXPECT_EQ(R(rec)->firstPage, 2);
  EXPECT_EQ(R(rec)->lastPage, 3);
  Set("QX_PRINT_DIALOG", "cancel");
  EXPECT_EQ(PJobDialog(rec), 0);
  EXPECT_EQ(gPrintJob.error, kNoErr);
  // Landscape chosen in the set-up dialog reaches the record, and from it the
  // printer context made again.
  Set("QX_PRINT_DIALOG", "landscape");
  ASSERT_EQ(PStyleDialog(rec), 1);
  EXPECT_EQ(R(rec)->orientation, 1u);
  POpen(0, 0);
  ASSERT_EQ(PValidate(rec), 1);
  EXPECT_GT(R(rec)->devPage.right, R(rec)->devPage.bottom);
  unsetenv("QX_PRINT_DIALOG");
  // A printer chosen by name for one job, then the session's again.
  const uInt32 sessionDc = gPrintJob.printDlg.dc;
  ASSERT_EQ(PSelectPrinterByName(L("Draft")), kNoErr);
  EXPECT_EQ(PlatGetDeviceCaps(gPrintJob.printDlg.dc, kPlatCapLogPixelsX), 200);
  PRestorePrinterDC();
  EXPECT_EQ(gPrintJob.printDlg.dc, sessionDc);

  // The saved printer vanishes: the dialog fails once, then the default.
  LStrHandle current = L("");
  ASSERT_EQ(SetDefaultPrinter(L("Draft"), current, 0), kNoErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>((*current)->str), size_t((*current)->cnt)), "Office");
  std::ofstream(tmp_.Dir() + "/printers.ini") << "[Office]\ndpi = 300\n";
  POpen(0, 0);
  EXPECT_EQ(gPrintJob.error, kPrintDialogErr);
  gPrintJob.error = 0;
  ASSERT_EQ(PJobDialog(rec), 1);
  ASSERT_TRUE(PReadDevNames(gPrintJob.printDlg.devNames, driver, device, port, 64));
  EXPECT_STREQ(device, "Office");

  // Unknown and wrongly cased names change nothing; a bad handle is refused.
  EXPECT_EQ(SetDefaultPrinter(L("office"), nullptr, 0), kArgErr);
  EXPECT_EQ(SetDefaultPrinter(reinterpret_cast<LStrHandle>(rec), nullptr, 0), kArgErr);
  EXPECT_EQ(PSelectPrinterByName(L("Nobody")), kArgErr);
  PRestorePrinterDC();
  POpen(0, 0);
  ASSERT_TRUE(PReadDevNames(gPrintJob.printDlg.devNames, driver, device, port, 64));
  EXPECT_STREQ(device, "Office");
  AZDisposeHandle(rec);
}

TEST_F(Print, PageSetupWithoutPrinterShowsNotResponding) {
  Use("Draft");
  PClose();
  std::ofstream(tmp_.Dir() + "/printers.ini") << "[Office]\ndpi = 300\n";
  UHandle vi = AZNewHClr(4);
  EXPECT_EQ(PPageSetup(vi, 0), kPrintDialogErr);
  EXPECT_EQ(gErrDialogs, std::vector<MgErr>{kPrinterNotResponding});
  AZDisposeHandle(vi);
}

TEST_F(Print, SpoolFilePathNamesThePageForTheProcess) {
  Path p = PSpoolFilePath(0, nullptr);
  ASSERT_NE(p, nullptr);
  Str255 name;
  ASSERT_EQ(FNamePtr(p, name), kNoErr);
  EXPECT_EQ(pathtest::Str(name), "vipg1234.000");
  FDisposePath(p);
}

// A page of shapes printed on the raster printer, straight or through the
// page pixmap, two pages a job.
class PrintPages : public Print, public ::testing::WithParamInterface<bool> {};

TEST_P(PrintPages, TwoPagesMatchTheirGoldens) {
  const bool bitmap = GetParam();
  gPrintPrefs.printUsingBitmap = bitmap;
  Use("Raster Printer");
  UHandle rec = PVIDefaultRecord();
  ASSERT_NE(rec, nullptr);
  // A 1-bit icon whose left half is set, alone and in a family with the
  // mask of its middle square: straight pages paint the family run by run
  // and the icon through the scratch window.
  auto icon = [](int32 kind, int32 first, int32 last, int32 top, int32 bottom) {
    UHandle h = AZNewHClr(128);
    for (int32 v = top; v < bottom; ++v)
      for (int32 b = first; b < last; ++b) (*h)[4 * v + b] = 0xFF;
    int32 id = 0;
    EXPECT_EQ(IMakeImageFromRsrc(kind, h, &id, 1), kNoErr);
    return id;
  };
  const int32 plain = icon(kImageIcon1, 0, 2, 0, 32);
  int32 family = 0;
  ASSERT_EQ(ICreateProcImage(nullptr, 0, &family), kNoErr);
  *IEntryPtr(family) = ImageEntry{0, kImageFamily, uInt32(icon(kImageIcon1, 0, 2, 0, 32)), 0, 0,
                                  uInt32(icon(kImageMask, 1, 3, 8, 24))};
  WPortState save{};
  ASSERT_NE(POpenWind(rec, 0, &save), kWNoWindow);
  for (int32 page = 0; page < 2; ++page) {
    POpenPage(rec);
    if (page == 0) {
      const Rect a{44, 2, 76, 34}, b{44, 90, 76, 122};
      IDraw(plain, nullptr, &a, 0x0000FF, kWhiteColor, kBlackColor, kWhiteColor);
      IDraw(family, nullptr, &b, 0x0000FF, 0x00FF00, kBlackColor, kWhiteColor);
    } else {
      const Rect c{44, 2, 76, 34};
      const int32 dh[2] = {0, 60}, dv[2] = {0, 10};
      IDrawAtOffsets(plain, nullptr, &c, 0x0000FF, kWhiteColor, kBlackColor, kWhiteColor, 2, dh, dv);
    }
    const Rect frame{4, 4, int16(40 + 10 * page), 80}, oval{50, 20, 80, 110};
    DSelectNormPen(0x000000, 0x000000);
    DFrameRect(&frame);
    DSelectNormPen(0x0000FF, 0x000000);
    DPaintOval(&oval);
    DMoveTo(0, 0);
    DLineTo(125, 89);
    // Text: wrapped by a record on the first page, one centred line on
    // the second; a coloured tag over a filled back.
    const Rect words{8, 6, int16(38 - 16 * page), 76};
    TBox(&words, page ? int32(kTRJustifyCentre) : int32(kTRKindWordWrap), reinterpret_cast<const uChar*>("Page text wraps"),
         15, kAppFont, kBlackColor, kTransparentColor, kBlackColor, kTransparentColor);
    // Icons shrunk to 24 x 16: stretched straight, or mapped run by run.
    const Rect small{30, 100, 46, 124};
    IDraw(page ? family : plain, nullptr, &small, 0x0000FF, 0x00FF00, kBlackColor, kWhiteColor);
    const Rect tag{12, 84, 26, 124};
    TBox(&tag, kTRJustifyCentre, reinterpret_cast<const uChar*>(page ? "two" : "one"), 3, kAppFont, 0xFF0000,
         0xFFFF00, kBlackColor, kWhiteColor);
    if (bitmap && page == 0) {
      POpenPage(rec);  // nested: refused, one pixmap
      EXPECT_EQ(gPrintJob.error, kPrintGenericErr);
      gPrintJob.error = 0;
    }
    PClosePage(rec);
  }
  PCloseWind(rec, &save);
  EXPECT_EQ(gPrintJob.error, kNoErr);
  EXPECT_EQ(gEndPages, bitmap ? 0 : 2) << "bitmap printing on NT ends pages with its bands";
  PClose();
  for (int32 page = 1; page <= 2; ++page) {
    std::string png;
    for (auto& e : fs::directory_iterator(tmp_.Dir()))
      if (e.path().filename().string().ends_with("-p" + std::to_string(page) + ".png")) png = e.path().string();
    ASSERT_FALSE(png.empty()) << "page " << page;
    PlatSurface* s = PlatPngReadFile(png.c_str());
    ASSERT_NE(s, nullptr);
    qxtest::ExpectMatchesGolden(
        s, fs::path(QX_SOURCE_DIR) / "tests/mgsource/goldens" / ("print_page" + std::to_string(page) + ".png"),
        "QX_UPDATE_GOLDENS=1 test_mgsource --gtest_filter=*TwoPagesMatch*");
    PlatSurfaceDestroy(s);
  }
  IRelease(plain);
  IRelease(family);
  AZDisposeHandle(rec);
}
INSTANTIATE_TEST_SUITE_P(StraightAndBitmap, PrintPages, ::testing::Bool());

TEST_F(Print, PostScriptPagesGoThroughTheSpoolFile) {
  gPrintPrefs.postScriptPrinting = 1;
  Use("Office");
  UHandle rec = PVIDefaultRecord();
  WPortState save{};
  ASSERT_NE(POpenWind(rec, 0, &save), kWNoWindow);
  EXPECT_TRUE(fs::exists(tmp_.Dir() + "/vipg1234.000"));
  for (int32 page = 0; page < 2; ++page) {
    POpenPage(rec);
    EXPECT_EQ(R(rec)->devPage.right, R(rec)->pagePoints.right) << "laid out in points";
    DSetPixel(10, 10 + page);
    const Rect box{20, 20, 200, 55};  // a word per line
    TBox(&box, 4, reinterpret_cast<const uChar*>("two words"), 9, kAppFont, 0, kTransparentColor, 0, 0);
    PClosePage(rec);
  }
  PCloseWind(rec, &save);
  EXPECT_EQ(gPrintJob.error, kNoErr);
  PClose();
  EXPECT_FALSE(fs::exists(tmp_.Dir() + "/vipg1234.000"));
  std::string ps;
  for (auto& e : fs::directory_iterator(tmp_.Dir()))
    if (e.path().extension() == ".ps") ps = e.path().string();
  std::ifstream in(ps);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("10.48 11.48"), std::string::npos) << "the second page's drawing reached the printer";
  EXPECT_NE(text.find("(words) "), std::string::npos) << "the wrapped text box reached the printer";
  AZDisposeHandle(rec);
}

TEST_F(Print, FailuresEndTheDocumentAndReleaseEverything) {
  // A failing end of page: the job's error, no end of the document.
  gEndPageResult = 0;
  Use("Office");
  UHandle rec = PVIDefaultRecord();
  WPortState save{};
  POpenWind(rec, 0, &save);
  POpenPage(rec);
  PClosePage(rec);
  PCloseWind(rec, &save);
  EXPECT_EQ(gPrintJob.error, kPrintDriverErr);
  PClose();
  for (auto& e : fs::directory_iterator(tmp_.Dir()))
    EXPECT_FALSE(e.path().filename().string().starts_with("job-")) << "no end of the document after an error";
  AZDisposeHandle(rec);

  // PostScript printing with each allocation of the document's start
  // failing in turn: the spool file goes and the windows go, whatever
  // failed; a refused page image is a memory error, not a success.
  gEndPageResult = 1;
  gPrintPrefs.postScriptPrinting = 1;
  bool imageRefused = false;
  int32 clean = 0;  // runs in a row with no error: past the last allocation
  for (int32 n = 1; n < 128 && clean < 8; ++n) {
    Use("Office");
    rec = PVIDefaultRecord();
    MemFailNthAllocation(n);
    POpenWind(rec, 0, &save);
    MemFailNthAllocation(0);
    const MgErr err = gPrintJob.error;
    const bool spool = fs::exists(tmp_.Dir() + "/vipg1234.000");
    imageRefused |= err == kPrintMemErr && spool && !gPrintJob.psImage;
    PCloseWind(rec, &save);
    PClose();
    EXPECT_FALSE(fs::exists(tmp_.Dir() + "/vipg1234.000")) << n << ": spool file removed";
    EXPECT_EQ(gPrintJob.pageWindow, kWNoWindow) << n;
    AZDisposeHandle(rec);
    // Some allocations (the window's regions) may fail without an error.
    clean = err ? 0 : clean + 1;
  }
  EXPECT_TRUE(imageRefused);
  MemFullReset();
}

// A panel stands in through the layout's hooks: its rectangle, a drawing
// of a filled box over it, and the messages sent straight to the methods.
struct FakePanel {
  static inline Rect rect{0, 0, 0, 0};
  static inline std::vector<int32> modes;
  static PrintPanelHooks Hooks() {
    PrintPanelHooks h{};
    h.panelHeap = [](UHandle vi) { return reinterpret_cast<ObjHeap>(vi); };
    h.commitKeyFocus = [](ObjHeap) { return MgErr(kNoErr); };
    h.panelRect = [](ObjHeap, Rect* r) {
      *r = rect;
      return MgErr(kNoErr);
    };
    h.contentBounds = h.panelRect;
    h.drawPanel = [](ObjHeap) {
      DSelectNormPen(0x0000FF, 0x000000);
      DPaintRect(&rect);
      return MgErr(kNoErr);
    };
    h.setDrawMode = [](int32 mode) {
      modes.push_back(mode);
      return int32(0);
    };
    h.send = [](int32 slot, ObjHeap heap, int32 object, int32 page, const Rect* points, const Rect* device) {
      switch (slot) {
        case kPartListMsgLayout: return PrPartListLayout(heap, object);
        case kPartListMsgPicture: return PrPartListPicture(heap, object, page);
        default: return PrPartListDraw(heap, object, points, device, page);
      }
    };
    return h;
  }
};

// The parts placed on a sheet of 126 x 90-point pages, by option bits.
TEST_F(Print, LayoutPlacesScalesAndCutsThePanel) {
  const PrintPanelHooks old = PSetPrintPanelHooks(FakePanel::Hooks());
  UHandle rec = AZNewHClr(kPrintRecordSize);
  R(rec)->printable = Rect{0, 0, 90, 126};
  gPrintVI = PrintVIState{rec, nullptr, 0};
  struct Row {
    const char* name;
    Rect panel;
    uInt32 options;
    int16 pages;
    LRect placed;
    float32 scale;
    int32 firstCellTop;
    MgErr err = kNoErr;
  } rows[] = {
      {"smaller than a page: 20 points right", {0, 0, 40, 50}, 0x8, 1, {0, 20, 40, 70}, 1.0f, 0},
      {"1.5 pages tall, fitted", {0, 0, 135, 50}, 0x20008, 1, {0, 20, 89, 53}, 0.66f, 0},
      {"1.5 pages tall", {0, 0, 135, 50}, 0x8, 2, {0, 20, 135, 70}, 1.0f, 0},
      {"new page: no empty first row", {0, 0, 40, 50}, 0x100008, 1, {90, 20, 130, 70}, 1.0f, 90},
      {"frame: 5 points around", {10, 10, 50, 60}, 0x400008, 1, {0, 20, 50, 80}, 1.0f, 0},
      {"header above, no gap after it", {0, 0, 40, 50}, 0x200008, 1, {32, 20, 72, 70}, 1.0f, 0},
      {"two pages wide, no shift", {0, 0, 40, 252}, 0x8, 2, {0, 0, 40, 252}, 1.0f, 0},
      {"no panel bit", {0, 0, 40, 50}, 0x0, 0, {0, 0, 0, 0}, 1.0f, 0},
      {"180 by 180 pages", {0, 0, 16200, 22680}, 0x8, 32400, {0, 0, 16200, 22680}, 1.0f, 0},
      {"200 by 200 pages: more than a print numbers", {0, 0, 18000, 25200}, 0x8, 0, {0, 0, 18000, 25200}, 1.0f, 0,
       kPrintBadRecord},
  };
  UHandle fakeVi = AZNewHClr(4);
  for (const Row& r : rows) {
    FakePanel::rect = r.panel;
    R(rec)->options = r.options;
    MgErr err = 1;
    ObjHeap heap = PNewPartList(&err);
    ASSERT_EQ(err, kNoErr);
    gPrintJob.error = 0;
    PLayoutVIParts(heap, fakeVi, 1);
    EXPECT_EQ(gPrintJob.error, r.err) << r.name;
    EXPECT_EQ(gPrintLayout.pageCount, r.pages) << r.name;
    const PrVIPartList* p = reinterpret_cast<const PrVIPartList*>(*heap + PPartListObject(heap));
    if (r.options & 0x8) {
      EXPECT_EQ(std::vector<int32>({p->panel.placed.top, p->panel.placed.left, p->panel.placed.bottom,
                                    p->panel.placed.right}),
                std::vector<int32>({r.placed.top, r.placed.left, r.placed.bottom, r.placed.right}))
          << r.name;
      EXPECT_NEAR(p->panel.scale, r.scale, 0.005) << r.name;
      if (r.pages) {
        EXPECT_EQ(gPrintLayout.cells[0].top, r.firstCellTop) << r.name;
      }
    }
    PDisposePartList(heap);
  }
  // Margins leaving no printable area: job error 30, nothing laid out.
  R(rec)->printable = Rect{50, 50, 50, 300};
  R(rec)->options = 0x8;
  ObjHeap heap = PNewPartList(nullptr);
  gPrintJob.error = 0;
  PLayoutVIParts(heap, fakeVi, 1);
  EXPECT_EQ(gPrintJob.error, kPrintBadRecord);
  EXPECT_EQ(gPrintLayout.pageCount, 0);
  PDisposePartList(heap);
  gPrintJob.error = 0;
  gPrintVI = PrintVIState{};
  AZDisposeHandle(fakeVi);
  AZDisposeHandle(rec);
  PSetPrintPanelHooks(old);
}

// The laid-out pages printed: a range past the page count is cut to it,
// each page's panel part is drawn where it was placed, in the printing
// mode; PostScript scales a fitted panel in a section.
TEST_F(Print, LaidOutPagesPrintTheirCells) {
  const PrintPanelHooks old = PSetPrintPanelHooks(FakePanel::Hooks());
  Use("Raster Printer");
  UHandle rec = PVIDefaultRecord();
  ASSERT_NE(rec, nullptr);
  gPrintVI = PrintVIState{rec, nullptr, 1};
  const Rect printable = R(rec)->printable;
  const int16 ph = int16(printable.bottom - printable.top);
  FakePanel::rect = Rect{0, 0, int16(ph + ph / 2), 30};  // a page and a half tall
  FakePanel::modes.clear();
  R(rec)->options = 0x8;
  R(rec)->printAll = 0;
  R(rec)->firstPage = 2;
  R(rec)->lastPage = 9;
  UHandle fakeVi = AZNewHClr(4);
  ObjHeap heap = PNewPartList(nullptr);
  PLayoutVIParts(heap, fakeVi, 1);
  ASSERT_EQ(gPrintLayout.pageCount, 2);
  PPrintVIPages(heap, fakeVi);
  EXPECT_EQ(gPrintJob.error, kNoErr);
  EXPECT_EQ(FakePanel::modes, (std::vector<int32>{2, 0, 2, 0})) << "picture, then page";
  int32 pngs = 0;
  std::string png;
  for (auto& e : fs::directory_iterator(tmp_.Dir()))
    if (e.path().extension() == ".png") {
      ++pngs;
      png = e.path().string();
    }
  ASSERT_EQ(pngs, 1) << "page 2 only";
  PlatSurface* s = PlatPngReadFile(png.c_str());
  ASSERT_NE(s, nullptr);
  // The panel's lower half fills the top of the second page, 20 points in.
  const int32 x = printable.left + 20 + 15, top = printable.top;
  EXPECT_EQ(PlatSurfaceGetPixel(s, x, top + 2) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(PlatSurfaceGetPixel(s, x, top + ph / 2 + 3) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(PlatSurfaceGetPixel(s, printable.left + 10, top + 2) & 0xFFFFFF, 0xFFFFFFu);
  PlatSurfaceDestroy(s);
  PDisposePartList(heap);
  PClose();

  for (auto& e : fs::directory_iterator(tmp_.Dir()))  // the raster job's pages
    if (e.path().extension() == ".ps" || e.path().extension() == ".png") fs::remove(e.path());
  gPrintPrefs.postScriptPrinting = 1;
  Use("Office");
  UHandle psRec = PVIDefaultRecord();
  gPrintVI = PrintVIState{psRec, nullptr, 1};
  const int16 psh = int16(R(psRec)->printable.bottom - R(psRec)->printable.top);
  FakePanel::rect = Rect{0, 0, int16(psh + psh / 2), 30};
  R(psRec)->options = 0x20008;
  R(psRec)->printAll = 1;
  heap = PNewPartList(nullptr);
  PLayoutVIParts(heap, fakeVi, 0);
  ASSERT_EQ(gPrintLayout.pageCount, 1);
  PPrintVIPages(heap, fakeVi);
  EXPECT_EQ(gPrintJob.error, kNoErr);
  PDisposePartList(heap);
  PClose();
  std::string ps;
  for (auto& e : fs::directory_iterator(tmp_.Dir()))
    if (e.path().extension() == ".ps") ps = e.path().string();
  std::ifstream in(ps);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find(" 0.6600 0.6600 scale  % scale this section"), std::string::npos);
  gPrintVI = PrintVIState{};
  AZDisposeHandle(psRec);
  AZDisposeHandle(rec);
  AZDisposeHandle(fakeVi);
  PSetPrintPanelHooks(old);
}

// A panel as pixels: a depth other than 1, 4, 8, 16, 24 or 32 gives an
// 8-bit image with the 256 system colours; every pixel's colour through
// the table is the panel's as drawn; the area comes back at 0, 0.
TEST_F(Print, PanelImagesComeAsBitsAndColours) {
  EXPECT_EQ(LoadDefaultColourMaps(), kNoErr);
  PrintPanelHooks h = FakePanel::Hooks();
  static WindowRef closed = 0;
  const Rect small{0, 0, 50, 50};
  closed = WCreate(kPrintScratchStyle, nullptr, nullptr, &small, 0, 0, 0);
  ASSERT_NE(closed, 0);
  h.loadPanel = [](UHandle) { return MgErr(kNoErr); };
  h.closedWindow = [] { return closed; };
  h.resizeArray = [](int32 size, UHandle* a, int32 n) {
    if (!*a) *a = DSNewHClr(4);
    if (!*a || DSSetHSzClr(*a, 4 + size * n)) return MgErr(kMemFullErr);
    std::memcpy(**a, &n, 4);
    return MgErr(kNoErr);
  };
  const PrintPanelHooks old = PSetPrintPanelHooks(h);
  FakePanel::rect = Rect{10, 20, 14, 26};  // 6 x 4 of blue
  UHandle fakeVi = AZNewHClr(4), bits = nullptr, colours = nullptr;
  int32 depth = 2;
  Rect area{1, 1, 1, 1};
  ASSERT_EQ(VIGetPanelImage(fakeVi, &depth, 0, &bits, &colours, &area), kNoErr);
  EXPECT_EQ(depth, 8);
  EXPECT_EQ(std::vector<int16>({area.top, area.left, area.bottom, area.right}), std::vector<int16>({0, 0, 4, 6}));
  int32 nBits = 0, nColours = 0;
  std::memcpy(&nBits, *bits, 4);
  std::memcpy(&nColours, *colours, 4);
  ASSERT_EQ(nColours, 256);
  ASSERT_EQ(nBits, 4 * 6);
  for (int32 i = 0; i < nBits; ++i) {
    DColor c = 0;
    std::memcpy(&c, *colours + 4 + 4 * (*bits)[4 + i], 4);
    EXPECT_EQ(c & 0xFFFFFF, 0x0000FFu) << i;
  }
  EXPECT_EQ(VIGetPanelImage(nullptr, &depth, 0, &bits, &colours, nullptr), kArgErr);
  // The printing entries' failures: a VI name that no loaded VI has, a bad
  // name handle.
  EXPECT_EQ(VIPrintPanelToPrinter(reinterpret_cast<LStrHandle>(L("Nowhere.vi")), nullptr, 1, 0), kVINotInMemory);
  UHandle freed = DSNewHClr(8);
  DSDisposeHandle(freed);
  EXPECT_EQ(VIPrintPanelToPrinter(reinterpret_cast<LStrHandle>(freed), nullptr, 1, 0), kArgErr);
  DSDisposeHandle(bits);
  DSDisposeHandle(colours);
  AZDisposeHandle(fakeVi);
  WDestroy(closed);
  PSetPrintPanelHooks(old);
}

// A VI's panel printed whole through PrintVIPanel on the session's printer:
// straight and in bitmap printing the page equals one golden; as PostScript
// the page rendered by Ghostscript equals another.  The record's own
// options keep the frame and the fit; the header is left out.
class PrintPanels : public Print, public ::testing::WithParamInterface<int> {};

TEST_P(PrintPanels, EveryPageMatchesItsGolden) {
  const int mode = GetParam();  // 0 straight, 1 bitmap, 2 PostScript
  if (mode == 2 && std::system("command -v gs >/dev/null 2>&1") != 0) GTEST_SKIP() << "gs is not installed";
  gPrintPrefs.printUsingBitmap = mode == 1;
  gPrintPrefs.postScriptPrinting = mode == 2;
  Use(mode == 2 ? "Office" : "Raster Printer");
  static UHandle slot = nullptr;
  slot = nullptr;
  PSetVIPrintRecordProc([](UHandle) { return &slot; });
  const PrintPanelHooks old = PSetPrintPanelHooks(FakePanel::Hooks());
  FakePanel::rect = Rect{0, 0, 30, 40};
  UHandle fakeVi = AZNewHClr(4);
  EXPECT_EQ(PrintVIPanel(fakeVi, 0, 1, nullptr, 0), kNoErr);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(R(slot)->options, kPrintDefaultOptions & ~uInt32(kPrintCleared)) << "the options put back";
  std::string page;
  for (auto& e : fs::directory_iterator(tmp_.Dir()))
    if (e.path().filename().string().ends_with(mode == 2 ? ".ps" : "-p1.png")) page = e.path().string();
  ASSERT_FALSE(page.empty());
  if (mode == 2) {
    const std::string png = tmp_.Dir() + "/render.png";
    const std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r72 -sOutputFile=" + png + " " + page;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    page = png;
  }
  PlatSurface* s = PlatPngReadFile(page.c_str());
  ASSERT_NE(s, nullptr);
  qxtest::ExpectMatchesGolden(
      s, fs::path(QX_SOURCE_DIR) / "tests/mgsource/goldens" / (mode == 2 ? "print_panel_ps.png" : "print_panel.png"),
      "QX_UPDATE_GOLDENS=1 test_mgsource --gtest_filter=*EveryPageMatchesItsGolden*");
  PlatSurfaceDestroy(s);
  PSetPrintPanelHooks(old);
  PSetVIPrintRecordProc(nullptr);
  gPrintVI = PrintVIState{};
  AZDisposeHandle(slot);
  AZDisposeHandle(fakeVi);
}
INSTANTIATE_TEST_SUITE_P(StraightBitmapPostScript, PrintPanels, ::testing::Values(0, 1, 2));

}  // namespace
