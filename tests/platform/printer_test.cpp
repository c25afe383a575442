#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/qx_dc.h"
#include "platform/qx_draw.h"
#include "platform/qx_drawobj.h"
#include "platform/qx_file.h"
#include "platform/qx_metafile.h"
#include "platform/qx_png.h"
#include "platform/qx_printdc.h"
#include "platform/qx_printer.h"
#include "platform/qx_psjob.h"
#include "platform/qx_shapes.h"
#include "draw_support.h"
#include "temp_folder.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Sets an environment variable for the life of the object.
class Env {
 public:
  Env(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) had_ = true, old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~Env() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

class Printing : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("QX_PRINTERS");
    unsetenv("QX_PRINT_DIALOG");
  }
  PlatObj Dc(const char* name, bool landscape = false) {
    PlatGlobal dm = 0, dn = 0;
    PlatPrinterInfo p;
    EXPECT_TRUE(PlatFindPrinter(name, &p));
    EXPECT_TRUE(PlatMakeDeviceBlocks(p, &dm, &dn));
    if (landscape) {
      auto* m = static_cast<PlatDevMode*>(PlatGlobalLock(dm));
      m->orientation = kPlatLandscape;
      PlatGlobalUnlock(dm);
    }
    PlatObj dc = PlatCreatePrinterDc(p.driver.c_str(), name, p.port.c_str(), dm);
    PlatGlobalFree(dm);
    PlatGlobalFree(dn);
    return dc;
  }
  TempFolder tmp_{"qxprint"};
  Env dir_{"QX_PRINT_DIR", tmp_.Dir()};
};

TEST_F(Printing, DefaultListEnumeratesAfterASizeQuery) {
  uint32_t needed = 0, count = 7;
  EXPECT_FALSE(PlatEnumPrinters(nullptr, 0, &needed, &count));
  EXPECT_EQ(PlatLastError(), kPlatErrInsufficientBuffer);
  EXPECT_EQ(count, 0u);
  std::vector<uint8_t> buf(needed);
  EXPECT_FALSE(PlatEnumPrinters(buf.data(), needed - 1, &needed, &count));
  ASSERT_TRUE(PlatEnumPrinters(buf.data(), needed, &needed, &count));
  ASSERT_EQ(count, 2u);
  auto* e = reinterpret_cast<const PlatPrinterEntry*>(buf.data());
  EXPECT_STREQ(e[0].name, "PostScript Printer");
  EXPECT_STREQ(e[0].driver, "qxps");
  EXPECT_STREQ(e[0].port, "FILE:");
  EXPECT_STREQ(e[1].name, "Raster Printer");
  EXPECT_STREQ(e[1].driver, "qxraster");
  PlatPrinterInfo p;
  EXPECT_FALSE(PlatFindPrinter("postscript printer", &p));  // names match with case
}

TEST_F(Printing, CapsAndLandscapeSwap) {
  struct Row {
    const char* printer;
    bool landscape;
    int32_t cap, value;
  } rows[] = {
      {"PostScript Printer", false, kPlatCapLogPixelsX, 300},
      {"PostScript Printer", false, kPlatCapLogPixelsY, 300},
      {"PostScript Printer", false, kPlatCapPhysicalWidth, 2550},
      {"PostScript Printer", false, kPlatCapPhysicalHeight, 3300},
      {"PostScript Printer", false, kPlatCapPhysicalOffsetX, 75},
      {"PostScript Printer", false, kPlatCapPhysicalOffsetY, 75},
      {"PostScript Printer", false, kPlatCapHorzRes, 2400},
      {"PostScript Printer", false, kPlatCapVertRes, 3150},
      {"PostScript Printer", false, kPlatCapBitsPixel, 24},
      {"PostScript Printer", false, kPlatCapPlanes, 1},
      {"PostScript Printer", false, kPlatCapNumColors, -1},
      {"PostScript Printer", true, kPlatCapPhysicalWidth, 3300},
      {"PostScript Printer", true, kPlatCapPhysicalHeight, 2550},
      {"PostScript Printer", true, kPlatCapHorzRes, 3150},
      {"PostScript Printer", true, kPlatCapVertRes, 2400},
      {"Raster Printer", false, kPlatCapLogPixelsX, 150},
      {"Raster Printer", false, kPlatCapHorzRes, 1201},
      {"Raster Printer", false, kPlatCapPhysicalOffsetY, 37},
  };
  for (const Row& r : rows) {
    PlatObj dc = Dc(r.printer, r.landscape);
    ASSERT_NE(dc, 0u);
    EXPECT_EQ(PlatGetDeviceCaps(dc, r.cap), r.value) << r.printer << " " << r.landscape << " cap " << r.cap;
    PlatDeleteDc(dc);
  }
}

TEST_F(Printing, ProfileSectionsAndBadOnesSkipped) {
  std::string errors;
  auto list = PlatParsePrinters(
      "[Mono]\ndpi=600\npaper=595 x 842\nmargins=10x20\ncolour=no\npostscript=no\ncommand=cat\n"
      "[Bad dpi]\ndpi=12\n[Bad margins]\nmargins=400\n[Unknown]\nspeed=3\n[Mono]\n[Plain]\n",
      &errors);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "Mono");
  EXPECT_EQ(list[0].driver, "qxraster");
  EXPECT_EQ(list[0].dpi, 600);
  EXPECT_EQ(list[0].paperH, 842);
  EXPECT_EQ(list[0].marginY, 20);
  EXPECT_FALSE(list[0].colour);
  EXPECT_EQ(list[0].command, "cat");
  EXPECT_EQ(list[1].name, "Plain");
  EXPECT_EQ(list[1].driver, "qxps");
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 4);
  int32_t v = 0;
  ASSERT_TRUE(PlatPrinterCapOf(list[0], true, kPlatCapPhysicalOffsetX, &v));
  EXPECT_EQ(v, 20 * 600 / 72);
  ASSERT_TRUE(PlatPrinterCapOf(list[0], false, kPlatCapBitsPixel, &v));
  EXPECT_EQ(v, 1);
}

// The names block's offsets are 16-bit: names that would wrap them are
// refused, the longest that fit still read back.
TEST_F(Printing, DeviceNamesBlockRefusesNamesPastSixteenBitOffsets) {
  const size_t room = 0xFFFF - sizeof(PlatDevNames) - 3 - 4 - 5;  // "qxps", "FILE:"
  for (size_t len : {room, room + 1, size_t(0x10000)}) {
    PlatPrinterInfo p;
    p.name.assign(len, 'n');
    p.driver = "qxps";
    p.port = "FILE:";
    PlatGlobal dm = 0, dn = 0;
    const bool ok = PlatMakeDeviceBlocks(p, &dm, &dn);
    EXPECT_EQ(ok, len == room) << len;
    if (!ok) {
      EXPECT_EQ(PlatLastError(), kPlatErrInvalidParam);
      continue;
    }
    PlatDevNames head;
    std::memcpy(&head, PlatGlobalLock(dn), sizeof head);
    PlatGlobalUnlock(dn);
    EXPECT_EQ(head.outputOffset + p.port.size() + 1, PlatGlobalSize(dn));
    PlatGlobalFree(dm);
    PlatGlobalFree(dn);
  }
}

TEST_F(Printing, DialogReturnDefaultVanishedAndCancel) {
  PlatPrintDlg pd{};
  pd.flags = kPlatPdReturnDefault | kPlatPdReturnDc;
  uint32_t ext = 99;
  ASSERT_EQ(PlatPrintDialog(&pd, &ext), 1);
  EXPECT_EQ(ext, 0u);
  ASSERT_NE(pd.dc, 0u);
  EXPECT_EQ(PlatGetDeviceCaps(pd.dc, kPlatCapHorzRes), 2400);
  EXPECT_EQ(PlatGlobalSize(pd.devMode), 156u);
  auto* names = static_cast<const uint8_t*>(PlatGlobalLock(pd.devNames));
  PlatDevNames head;
  std::memcpy(&head, names, 8);
  EXPECT_EQ(head.driverOffset, 8);
  EXPECT_STREQ(reinterpret_cast<const char*>(names + head.driverOffset), "qxps");
  EXPECT_STREQ(reinterpret_cast<const char*>(names + head.deviceOffset), "PostScript Printer");
  EXPECT_STREQ(reinterpret_cast<const char*>(names + head.outputOffset), "FILE:");
  EXPECT_EQ(head.deviceOffset, 8 + 5);
  EXPECT_EQ(head.outputOffset, 8 + 5 + 19);
  PlatGlobalUnlock(pd.devNames);
  PlatDeleteDc(pd.dc);

  // The script: two pages, two copies, landscape.
  {
    Env script("QX_PRINT_DIALOG", "pages=2-3, copies=2 landscape");
    pd.flags = kPlatPdReturnDc;
    ASSERT_EQ(PlatPrintDialog(&pd, &ext), 1);
    EXPECT_TRUE(pd.flags & kPlatPdPageNums);
    EXPECT_EQ(pd.fromPage, 2);
    EXPECT_EQ(pd.toPage, 3);
    EXPECT_EQ(pd.copies, 2);
    EXPECT_EQ(PlatGetDeviceCaps(pd.dc, kPlatCapHorzRes), 3150);
    PlatDeleteDc(pd.dc);
  }
  {
    Env script("QX_PRINT_DIALOG", "cancel");
    pd.flags = kPlatPdReturnDc;
    EXPECT_EQ(PlatPrintDialog(&pd, &ext), 0);
    EXPECT_EQ(ext, 0u);
    EXPECT_EQ(pd.dc, 0u);
  }
  // The blocks name a printer that is gone: one failure with an extended
  // error; freed and asked again, the default printer answers.
  TempFolder cfg("qxprinters");
  std::string ini = cfg.Dir() + "/printers.ini";
  std::ofstream(ini) << "[Other]\ndpi=200\n";
  Env printers("QX_PRINTERS", ini);
  pd.flags = kPlatPdReturnDc;
  EXPECT_EQ(PlatPrintDialog(&pd, &ext), 0);
  EXPECT_NE(ext, 0u);
  PlatGlobalFree(pd.devMode);
  PlatGlobalFree(pd.devNames);
  pd.devMode = pd.devNames = 0;
  ASSERT_EQ(PlatPrintDialog(&pd, &ext), 1);
  EXPECT_EQ(PlatGetDeviceCaps(pd.dc, kPlatCapLogPixelsX), 200);
  PlatDeleteDc(pd.dc);
  PlatGlobalFree(pd.devMode);
  PlatGlobalFree(pd.devNames);
}

TEST_F(Printing, CallsOutOfOrderFailWithAnError) {
  PlatObj dc = Dc("PostScript Printer");
  PlatObj screen = PlatCreateScreenDc();
  struct Row {
    const char* what;
    int32_t (*call)(PlatObj);
    bool onScreen;
  } rows[] = {
      {"end-page before start-page", PlatEndPage, false},
      {"end-doc before start-doc", PlatEndDoc, false},
      {"start-page before start-doc", PlatStartPage, false},
      {"start-page on the screen", PlatStartPage, true},
      {"abort without a job", PlatAbortDoc, false},
  };
  for (const Row& r : rows) {
    PlatSetLastError(0);
    EXPECT_LT(r.call(r.onScreen ? screen : dc), 1) << r.what;
    EXPECT_NE(PlatLastError(), 0) << r.what;
  }
  ASSERT_GT(PlatStartDoc(dc, "x"), 0);
  PlatSetLastError(0);
  EXPECT_LT(PlatStartDoc(dc, "again"), 1);
  EXPECT_NE(PlatLastError(), 0);
  PlatDeleteDc(dc);  // drops the job
  PlatDeleteDc(screen);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_.Dir()));
}

TEST_F(Printing, RasterJobWritesExactPages) {
  PlatObj dc = Dc("Raster Printer");
  int32_t job = PlatStartDoc(dc, "two pages");
  ASSERT_GT(job, 0);
  ASSERT_EQ(PlatStartPage(dc), 1);
  PlatObj black = PlatCreateSolidBrush(0);
  PlatObj old = PlatSelectObject(dc, black);
  ASSERT_TRUE(PlatPatBlt(dc, 20, 30, 100, 50, kPlatPatCopy));
  ASSERT_EQ(PlatEndPage(dc), 1);
  ASSERT_EQ(PlatStartPage(dc), 1);
  ASSERT_EQ(PlatEndPage(dc), 1);
  ASSERT_EQ(PlatEndDoc(dc), 1);
  PlatSelectObject(dc, old);
  PlatDeleteObject(black);
  PlatDeleteDc(dc);
  std::string base = tmp_.Dir() + "/job-" + std::to_string(job);
  for (int page = 1; page <= 2; ++page) {
    PlatSurface* s = PlatPngReadFile((base + "-p" + std::to_string(page) + ".png").c_str());
    ASSERT_NE(s, nullptr) << page;
    ASSERT_EQ(PlatSurfaceWidth(s), 1201);
    ASSERT_EQ(PlatSurfaceHeight(s), 1576);
    int64_t wrong = 0;
    for (int32_t y = 0; y < 1576; ++y)
      for (int32_t x = 0; x < 1201; ++x) {
        bool inside = page == 1 && x >= 20 && x < 120 && y >= 30 && y < 80;
        wrong += PlatSurfaceGetPixel(s, x, y) != (inside ? 0xFF000000u : 0xFFFFFFFFu);
      }
    EXPECT_EQ(wrong, 0) << page;
    PlatSurfaceDestroy(s);
  }
  std::string ps = Slurp(base + ".ps");
  EXPECT_EQ(ps.rfind("%!PS-Adobe-3.0\n%%Title: two pages\n%%Pages: 2\n", 0), 0u) << ps.substr(0, 80);
  EXPECT_NE(ps.find("%%Page: 2 2\n"), std::string::npos);
  EXPECT_NE(ps.find("colorimage"), std::string::npos);
}

// A printer without colour writes its pages as 1-bit greyscale PNGs: a
// colour is white when its components add up to 384 or more.
TEST_F(Printing, MonoRasterPagesAreOneBitPngs) {
  std::string profile = tmp_.Dir() + "/printers.ini";
  std::ofstream(profile) << "[Mono]\ndpi=72\npaper=200 x 100\nmargins=0x0\ncolour=no\npostscript=no\n";
  Env printers("QX_PRINTERS", profile);
  PlatObj dc = Dc("Mono");
  ASSERT_NE(dc, 0u);
  EXPECT_EQ(PlatGetDeviceCaps(dc, kPlatCapBitsPixel), 1);
  int32_t job = PlatStartDoc(dc, "mono");
  ASSERT_EQ(PlatStartPage(dc), 1);
  const struct {
    uint32_t colour;  // 0x00BBGGRR
    uint32_t expect;  // 0x00RRGGBB read back
  } kColours[] = {{0x000000, 0}, {0x7F7F7F, 0}, {0x808080, 0xFFFFFF}, {0x0000FF, 0}, {0x00FFFF, 0xFFFFFF}};
  for (int i = 0; i < 5; ++i) {
    PlatObj b = PlatCreateSolidBrush(kColours[i].colour);
    PlatObj old = PlatSelectObject(dc, b);
    PlatPatBlt(dc, 10 + 20 * i, 10, 10, 10, kPlatPatCopy);
    PlatSelectObject(dc, old);
    PlatDeleteObject(b);
  }
  ASSERT_EQ(PlatEndPage(dc), 1);
  ASSERT_EQ(PlatEndDoc(dc), 1);
  PlatDeleteDc(dc);
  std::string png = Slurp(tmp_.Dir() + "/job-" + std::to_string(job) + "-p1.png");
  ASSERT_GT(png.size(), 26u);
  EXPECT_EQ(png[24], 1);  // bit depth
  EXPECT_EQ(png[25], 0);  // greyscale
  PlatSurface* s = PlatPngReadMemory(png.data(), png.size());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(PlatSurfaceWidth(s), 200);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(PlatSurfaceGetPixel(s, 15 + 20 * i, 15) & 0xFFFFFF, kColours[i].expect) << i;
  EXPECT_EQ(PlatSurfaceGetPixel(s, 150, 50) & 0xFFFFFF, 0xFFFFFFu);
  PlatSurfaceDestroy(s);
}

TEST_F(Printing, EscapesAnswerAndBandsCompleteThePage) {
  struct Row {
    const char* printer;
    int32_t asked, supported;
  } rows[] = {
      {"PostScript Printer", kPlatEscPassThrough, 1}, {"Raster Printer", kPlatEscPassThrough, 0},
      {"Raster Printer", kPlatEscNextBand, 1},        {"Raster Printer", kPlatEscBandInfo, 1},
      {"Raster Printer", kPlatEscQuerySupport, 1},    {"PostScript Printer", 4242, 0},
  };
  for (const Row& r : rows) {
    PlatObj dc = Dc(r.printer);
    EXPECT_EQ(PlatEscape(dc, kPlatEscQuerySupport, 4, &r.asked, nullptr), r.supported) << r.asked;
    PlatDeleteDc(dc);
  }
  PlatObj dc = Dc("Raster Printer");
  int32_t job = PlatStartDoc(dc, "bands");
  PlatBandInfo info{};
  EXPECT_EQ(PlatEscape(dc, kPlatEscBandInfo, 0, nullptr, &info), 1);
  EXPECT_EQ(info.graphics, 1);
  EXPECT_EQ(info.text, 1);
  PlatRect band{};
  ASSERT_EQ(PlatEscape(dc, kPlatEscNextBand, 0, nullptr, &band), 1);
  EXPECT_EQ(band.right, 1201);
  EXPECT_EQ(band.bottom, 1576);
  uint8_t piece[4] = {2, 0, 'x', 'y'};
  PlatSetLastError(0);
  EXPECT_EQ(PlatEscape(dc, kPlatEscPassThrough, 4, piece, nullptr), 0);  // raster printers refuse
  ASSERT_EQ(PlatEscape(dc, kPlatEscNextBand, 0, nullptr, &band), 1);
  EXPECT_EQ(band.right - band.left, 0);
  EXPECT_LT(PlatEndPage(dc), 1);  // the empty band ended the page
  ASSERT_EQ(PlatEndDoc(dc), 1);
  PlatDeleteDc(dc);
  EXPECT_TRUE(std::filesystem::exists(tmp_.Dir() + "/job-" + std::to_string(job) + "-p1.png"));
  EXPECT_FALSE(std::filesystem::exists(tmp_.Dir() + "/job-" + std::to_string(job) + "-p2.png"));
}

}  // namespace

namespace {

bool HaveGs() { return std::system("command -v gs >/dev/null 2>&1") == 0; }

// Renders the job at 72 dpi (or the given resolution); the page surfaces,
// null past the last page.
std::vector<PlatSurface*> Render(const std::string& ps, const std::string& dir, int dpi = 72) {
  std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r" + std::to_string(dpi) +
                    " -sOutputFile=" + dir + "/r%d.png " + ps;
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::vector<PlatSurface*> pages;
  for (int k = 1; std::filesystem::exists(dir + "/r" + std::to_string(k) + ".png"); ++k)
    pages.push_back(PlatPngReadFile((dir + "/r" + std::to_string(k) + ".png").c_str()));
  return pages;
}

int32_t Pass(PlatObj dc, const std::string& text) {
  std::vector<uint8_t> buf(2 + text.size());
  uint16_t n = uint16_t(text.size());
  std::memcpy(buf.data(), &n, 2);
  std::memcpy(buf.data() + 2, text.data(), text.size());
  return PlatEscape(dc, kPlatEscPassThrough, int32_t(buf.size()), buf.data(), nullptr);
}

TEST_F(Printing, PassThroughPiecesArriveVerbatim) {
  PlatObj dc = Dc("PostScript Printer");
  int32_t job = PlatStartDoc(dc, "pieces");
  ASSERT_EQ(PlatStartPage(dc), 1);
  std::string a(32000, 'a'), b(12000, 'b');
  a.front() = b.front() = '%';
  ASSERT_EQ(Pass(dc, a), 32000);
  ASSERT_EQ(Pass(dc, b), 12000);
  // A count beyond its buffer and a buffer without its count fail.
  uint8_t shortBuf[5] = {9, 0, 'x', 'y', 'z'};
  struct Bad {
    int32_t inCount;
    const void* in;
  } bad[] = {{5, shortBuf}, {1, shortBuf}, {4, nullptr}};
  for (const Bad& r : bad) {
    PlatSetLastError(0);
    EXPECT_LT(PlatEscape(dc, kPlatEscPassThrough, r.inCount, r.in, nullptr), 1);
    EXPECT_NE(PlatLastError(), 0);
  }
  ASSERT_EQ(PlatEndPage(dc), 1);
  ASSERT_EQ(PlatEndDoc(dc), 1);
  PlatDeleteDc(dc);
  std::string ps = Slurp(tmp_.Dir() + "/job-" + std::to_string(job) + ".ps");
  EXPECT_NE(ps.find("gsave [0.24 0 0 -0.24 18 774] concat\n" + a + b + "\ngrestore\n"), std::string::npos);
}

TEST(PsJob, RasterPiecesMergeRunsAndClearMarks) {
  struct Row {
    const char* name;
    std::vector<const char*> rows;  // '.' untouched, 'k' black, 'w' white, 'r' red
    const char* rects;
  } rows[] = {
      {"nothing", {"...", "..."}, ""},
      {"square", {".kk.", ".kk.", "...."}, "0.0000 0.0000 0.0000 setrgbcolor\n1.25 0.25 1.5 1.5 rectfill\n"},
      {"white covers", {"ww", ".."}, "1.0000 1.0000 1.0000 setrgbcolor\n0.25 0.25 1.5 0.5 rectfill\n"},
      {"runs of colour", {"kkr", "kkr", "kk."},
       "1.0000 0.0000 0.0000 setrgbcolor\n2.25 0.25 0.5 1.5 rectfill\n0.0000 0.0000 0.0000 setrgbcolor\n0.25 0.25 1.5 2.5 rectfill\n"},
      {"extent changes", {"kk", "k."}, "0.0000 0.0000 0.0000 setrgbcolor\n0.25 0.25 1.5 0.5 rectfill\n0.25 1.25 0.5 0.5 rectfill\n"},
  };
  PlatPsGeometry g;
  g.dpi = 72;
  g.offsetX = g.offsetY = 0;
  for (const Row& r : rows) {
    int32_t w = int32_t(std::strlen(r.rows[0])), h = int32_t(r.rows.size());
    PlatSurface* s = PlatSurfaceCreate(w, h, kPlatRgb32);
    PlatPsClearPage(s);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        char c = r.rows[y][x];
        if (c != '.') PlatSurfaceSetPixel(s, x, y, c == 'k' ? 0 : c == 'w' ? 0xFFFFFF : 0xFF0000);
      }
    std::string out;
    EXPECT_EQ(PlatPsRasterPiece(s, g, false, &out), *r.rects != 0) << r.name;
    std::string want = *r.rects ? "gsave [1 0 0 -1 0 792] concat\n" + std::string(r.rects) + "grestore\n" : "";
    EXPECT_EQ(out, want) << r.name;
    out.clear();
    EXPECT_FALSE(PlatPsRasterPiece(s, g, false, &out)) << r.name;  // the marks were cleared
    PlatSurfaceDestroy(s);
  }
}

TEST_F(Printing, CommandGetsTheJobOnStdin) {
  std::string ini = tmp_.Dir() + "/printers.ini", piped = tmp_.Dir() + "/piped.ps";
  std::ofstream(ini) << "[Piped]\ndpi=72\npaper=144x144\ncommand=cat > '" << piped << "'\n";
  Env printers("QX_PRINTERS", ini);
  PlatObj dc = Dc("Piped");
  int32_t job = PlatStartDoc(dc, "piped");
  ASSERT_EQ(PlatStartPage(dc), 1);
  ASSERT_GT(Pass(dc, "% piece\n"), 0);
  ASSERT_EQ(PlatEndPage(dc), 1);
  ASSERT_EQ(PlatEndDoc(dc), 1);
  PlatDeleteDc(dc);
  std::string ps = Slurp(tmp_.Dir() + "/job-" + std::to_string(job) + ".ps");
  EXPECT_NE(ps.find("% piece\n"), std::string::npos);
  EXPECT_EQ(Slurp(piped), ps);
}

TEST_F(Printing, PsPageMatrixPiecesAndRasterShareOnePage) {
  PlatObj dc = Dc("PostScript Printer");
  int32_t job = PlatStartDoc(dc, "matrix");
  ASSERT_EQ(PlatStartPage(dc), 1);
  // The page matrix for 18-point offsets and a 756-point printable height,
  // then a fill of page points (72,72)-(144,108).
  const char* cr = "\r";
  std::string first = std::string("%!PS-Adobe-3.0") + cr + "/mydict 250 dict def mydict begin" + cr + "save" + cr +
                      "/mat_df [0 0 0 0 0 0] defaultmatrix def" + cr + "/mat_cur [0 0 0 0 0 0] currentmatrix def" +
                      cr + "/matrixequal true def" + cr +
                      "0 1 5 {/ctr exch def mat_df ctr get mat_cur ctr get ne{/matrixequal false def exit}if}for" + cr +
                      "mat_df setmatrix [1 0 0 -1 18 774] concat" + cr +
                      "0 setgray newpath 72 72 moveto 144 72 lineto 144 108 lineto 72 108 lineto closepath fill" + cr +
                      "matrixequal{showpage}if" + cr + "restore" + cr + "end" + cr;
  ASSERT_GT(Pass(dc, first), 0);
  PlatObj red = PlatCreateSolidBrush(0x0000FF);
  PlatObj old = PlatSelectObject(dc, red);
  ASSERT_TRUE(PlatPatBlt(dc, 600, 600, 120, 120, kPlatPatCopy));  // page points 162..190.8
  PlatSelectObject(dc, old);
  PlatDeleteObject(red);
  ASSERT_GT(Pass(dc, "0 0 1 setrgbcolor 1000 1000 100 100 rectfill\n"), 0);  // page points 258..282
  ASSERT_EQ(PlatEndPage(dc), 1);
  ASSERT_EQ(PlatEndDoc(dc), 1);
  PlatDeleteDc(dc);
  std::string ps = Slurp(tmp_.Dir() + "/job-" + std::to_string(job) + ".ps");
  EXPECT_NE(ps.find("restore\rend\r\ngrestore\ngsave [0.24 0 0 -0.24 18 774] concat\n1.0000 0.0000 0.0000 "
                    "setrgbcolor\n600.25 600.25 119.5 119.5 rectfill\ngrestore\n"),
            std::string::npos);
  if (!HaveGs()) GTEST_SKIP() << "gs is not installed";
  TempFolder out("qxgs");
  std::vector<PlatSurface*> pages = Render(tmp_.Dir() + "/job-" + std::to_string(job) + ".ps", out.Dir());
  ASSERT_EQ(pages.size(), 1u);
  PlatSurface* s = pages[0];
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(PlatSurfaceWidth(s), 612);
  int64_t unset = 0, stray = 0;
  for (int32_t y = 0; y < 150; ++y)
    for (int32_t x = 0; x < 200; ++x) {
      uint32_t px = PlatSurfaceGetPixel(s, x, y) & 0xFFFFFF;
      if (x >= 91 && x <= 160 && y >= 91 && y <= 124) unset += px != 0;
      else if (x < 89 || x > 163 || y < 89 || y > 127) stray += px != 0xFFFFFF;
    }
  EXPECT_EQ(unset, 0);
  EXPECT_EQ(stray, 0);
  EXPECT_EQ(PlatSurfaceGetPixel(s, 176, 176) & 0xFFFFFF, 0xFF0000u);  // the raster piece in place
  EXPECT_EQ(PlatSurfaceGetPixel(s, 270, 270) & 0xFFFFFF, 0x0000FFu);  // the second piece
  EXPECT_EQ(PlatSurfaceGetPixel(s, 230, 230) & 0xFFFFFF, 0xFFFFFFu);  // untouched white covers nothing
  PlatSurfaceDestroy(s);
}

// A metafile played on a PostScript page between two pieces lands where
// PostScript drawing of the same device rectangle does: the pieces' matrix
// already places the printable area, so no border offset is added.  The
// pass-through rectangle is inset a quarter pixel as raster pieces are.
TEST_F(Printing, PsMetafileBetweenPiecesLandsWhereThePiecesDraw) {
  PlatObj rec = PlatCreateMetafileDc("\\qx.emf", nullptr);
  PlatObj red = PlatCreateSolidBrush(0x0000FF);
  PlatSelectObject(rec, red);
  PlatPatBlt(rec, 0, 0, 30, 15, kPlatPatCopy);
  PlatSelectObject(rec, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(red);
  PlatMetafile mf = PlatCloseMetafileDc(rec);
  ASSERT_NE(mf, 0u);
  PlatObj dc = Dc("PostScript Printer");
  int32_t job = PlatStartDoc(dc, "metafile");
  ASSERT_EQ(PlatStartPage(dc), 1);
  ASSERT_GT(Pass(dc, "0 0 1 setrgbcolor 300 300 300 150 rectfill\n"), 0);
  ASSERT_TRUE(PlatPlayMetafile(dc, mf, PlatRect{900, 300, 1200, 450}));
  ASSERT_GT(Pass(dc, "0 1 0 setrgbcolor 900.25 600.25 299.5 149.5 rectfill\n"), 0);
  ASSERT_EQ(PlatEndPage(dc), 1);
  ASSERT_EQ(PlatEndDoc(dc), 1);
  PlatDeleteDc(dc);
  PlatDeleteMetafile(mf);
  std::string ps = Slurp(tmp_.Dir() + "/job-" + std::to_string(job) + ".ps");
  EXPECT_NE(ps.find("900.25 300.25 299.5 149.5 rectfill"), std::string::npos);
  if (!HaveGs()) GTEST_SKIP() << "gs is not installed";
  TempFolder out("qxgs");
  std::vector<PlatSurface*> pages = Render(tmp_.Dir() + "/job-" + std::to_string(job) + ".ps", out.Dir());
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_NE(pages[0], nullptr);
  // The columns each colour covers on a row through it.
  auto span = [&](int32_t y, uint32_t colour) {
    int32_t lo = -1, hi = -1;
    for (int32_t x = 0; x < 612; ++x)
      if ((PlatSurfaceGetPixel(pages[0], x, y) & 0xFFFFFF) == colour) {
        if (lo < 0) lo = x;
        hi = x;
      }
    return std::pair<int32_t, int32_t>(lo, hi);
  };
  auto metafile = span(108, 0xFF0000), below = span(180, 0x00FF00), blue = span(108, 0x0000FF);
  EXPECT_EQ(metafile, below);
  EXPECT_NEAR(metafile.first, 234, 1);  // 18 + 900 x 72 / 300, as gs covers pixels
  EXPECT_NEAR(blue.first, 90, 1);
  PlatSurfaceDestroy(pages[0]);
}

// A battery of drawings printed as PostScript and rendered by Ghostscript at
// the printer's resolution paints exactly the pixels the same drawings paint
// in a memory context of the printable area.
TEST_F(Printing, PsPagesEqualTheMemoryContextAtEveryResolution) {
  if (!HaveGs()) GTEST_SKIP() << "gs is not installed";
  std::string ini = tmp_.Dir() + "/printers.ini";
  std::ofstream(ini) << "[Ps150]\ndpi=150\npaper=144x108\nmargins=18x9\n[Ps300]\ndpi=300\npaper=144x108\nmargins=18x9\n";
  Env printers("QX_PRINTERS", ini);
  auto battery = [](PlatObj dc) {
    PlatObj red = PlatCreateSolidBrush(0x0000FF), blue = PlatCreatePen(kPlatPenSolid, 3, 0xFF0000);
    PlatObj oldBrush = PlatSelectObject(dc, red), oldPen = PlatSelectObject(dc, blue);
    PlatPatBlt(dc, 3, 4, 17, 9, kPlatPatCopy);
    PlatEllipse(dc, 30, 10, 71, 37);
    PlatPie(dc, 80, 5, 120, 45, 130, 5, 80, 0);
    PlatSelectObject(dc, PlatGetStockObject(kPlatStockBlackPen));
    PlatMoveTo(dc, 5, 60, nullptr);
    PlatLineTo(dc, 140, 41);
    PlatPoint tri[3] = {{150, 10}, {190, 50}, {141, 57}};
    PlatPolygon(dc, tri, 3);
    PlatSelectObject(dc, oldBrush);
    PlatSelectObject(dc, oldPen);
    PlatDeleteObject(red);
    PlatDeleteObject(blue);
  };
  for (int dpi : {150, 300}) {
    SCOPED_TRACE(dpi);
    std::string name = "Ps" + std::to_string(dpi);
    PlatObj dc = Dc(name.c_str());
    int32_t job = PlatStartDoc(dc, "battery");
    ASSERT_EQ(PlatStartPage(dc), 1);
    battery(dc);
    ASSERT_EQ(PlatEndPage(dc), 1);
    ASSERT_EQ(PlatEndDoc(dc), 1);
    PlatDeleteDc(dc);
    int32_t w = (144 - 36) * dpi / 72, h = (108 - 18) * dpi / 72, ox = 18 * dpi / 72, oy = 9 * dpi / 72;
    Canvas memory(w, h);
    battery(memory.dc);
    TempFolder out("qxgs");
    std::vector<PlatSurface*> pages = Render(tmp_.Dir() + "/job-" + std::to_string(job) + ".ps", out.Dir(), dpi);
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_NE(pages[0], nullptr);
    int64_t differ = 0, drawn = 0;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        drawn += memory.At(x, y) != 0xFFFFFF;
        differ += (PlatSurfaceGetPixel(pages[0], ox + x, oy + y) & 0xFFFFFF) != memory.At(x, y);
      }
    EXPECT_GT(drawn, 1000);
    EXPECT_EQ(differ, 0) << "of " << w * h;
    PlatSurfaceDestroy(pages[0]);
  }
}

}  // namespace
