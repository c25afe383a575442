// The PostScript port: pages written to a spool file, sent to a PostScript
// printer of the platform layer through pass-through and read back from its
// job file; the renders (label ps) use Ghostscript.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>

#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/psport.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/window/textrec.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "path_test_util.h"
#include "platform/qx_drives.h"
#include "platform/qx_event.h"
#include "platform/qx_file.h"
#include "platform/qx_font.h"
#include "platform/qx_paint.h"
#include "platform/qx_png.h"
#include "platform/qx_printdc.h"
#include "platform/qx_surface.h"
#include "platform/qx_thread.h"
#include "platform/qx_window.h"
#include "golden_image.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/drawbits.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/printmgr.h"
#include "platform/qx_draw.h"
#include "platform/qx_metafile.h"
#include "temp_folder.h"
#include "test_support.h"

namespace {

using pathtest::ToPath;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool HaveGs() { return std::system("command -v gs >/dev/null 2>&1") == 0; }

constexpr const char* kPrologEnd = " {languagelevel 2 ge {true setstrokeadjust}if }if\r";
constexpr const char* kPageEnd = "matrixequal{showpage}if\r";

Point Pt(int h, int v) { return Point{int16(v), int16(h)}; }
Rect R(int l, int t, int r, int b) { return Rect{int16(t), int16(l), int16(b), int16(r)}; }

class PsPort : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    PlatWindowsReset();
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    TXFinishFonts();
    TXInitFonts();
    ASSERT_EQ(PlatDriveMap('P', tmp_.Dir().c_str(), kPlatDriveFixed), 0);
    std::ofstream(tmp_.Dir() + "/printers.ini")
        << "[PS72]\ndpi=72\npaper=612x792\nmargins=0x0\ncolour=true\n[Raster]\npostscript=false\ndpi=72\n";
    setenv("QX_PRINTERS", (tmp_.Dir() + "/printers.ini").c_str(), 1);
    setenv("QX_PRINT_DIR", tmp_.Dir().c_str(), 1);
    Path p = ToPath("P:\\spool.ps");
    ASSERT_EQ(FCreateAlways(&spool_, p, 0666, kAccessReadWrite, kDenyNone, nullptr), kNoErr);
    FDisposePath(p);
    record_ = AZNewHClr(128);
    SetRecord(792, 612, 0.0f, 0.0f);
    ASSERT_EQ(ICreatePageImage(0, 8, Word(spool_), &page_, Word(record_)), kNoErr);
  }
  void TearDown() override {
    if (dc_) PlatDeleteDc(dc_);
    PSSetPrinter(nullptr);
    DSetPortTarget(0);
    IRelease(page_);
    FMClose(spool_);
    AZDisposeHandle(record_);
    DDisposeDraw();
    TXFinishFonts();
    WDestroyAllWindows();
    PlatWindowsReset();
    // The windows' last messages leave no input behind for later tests.
    PlatEvent* ev = PlatEventCreate(false);
    PlatWaitEventOrInput(ev, 0);
    PlatEventDestroy(ev);
    PlatDriveMap('P', nullptr, 0);
    FExitFileMgr();
    unsetenv("QX_PRINTERS");
    unsetenv("QX_PRINT_DIR");
  }
  template <typename T>
  static uInt32 Word(T p) {
    return uInt32(reinterpret_cast<uintptr_t>(p));
  }
  // The print record's page in points and its unprintable top and left.
  void SetRecord(int16 height, int16 width, float32 top, float32 left) {
    Rect page{0, 0, height, width};
    std::memcpy(*record_ + 24, &page, sizeof page);
    std::memcpy(*record_ + 92, &top, 4);
    std::memcpy(*record_ + 96, &left, 4);
  }
  void Open(const char* printer = "PS72", Bool32 windowsNT = 1) {
    dc_ = PlatCreatePrinterDc(nullptr, printer, nullptr, 0);
    ASSERT_NE(dc_, 0u);
    PSPrinter pr{dc_, &jobErr_, windowsNT};
    PSSetPrinter(&pr);
    PSClearJobError();
    jobErr_ = 0;
    job_ = PlatStartDoc(dc_, "ps");
    DSetPortTarget(page_);
    PSOpenPage(page_);
  }
  // Ends the page and the job; the job file.
  std::string Close() {
    PSClosePage(page_);
    EXPECT_EQ(PlatEndDoc(dc_), 1);
    PlatDeleteDc(dc_);
    dc_ = 0;
    return Slurp(JobPath());
  }
  std::string JobPath() const { return tmp_.Dir() + "/job-" + std::to_string(job_) + ".ps"; }
  // What was drawn: the text between the last prolog and the page's end.
  static std::string Body(const std::string& job) {
    size_t a = job.rfind(kPrologEnd), b = job.rfind(kPageEnd);
    if (a == std::string::npos || b == std::string::npos || b < a) return "<no page>";
    a += std::strlen(kPrologEnd);
    return job.substr(a, b - a);
  }
  std::string Page(const std::function<void()>& draw) {
    Open();
    draw();
    return Body(Close());
  }
  int32 Pen(DColor fore, int width, uInt32 style = 0, const uChar* pattern = nullptr, int mode = 0) {
    PenState s{fore, kWhiteColor, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, int16(width), int16(mode),
               style, 0};
    if (pattern) std::memcpy(s.pattern, pattern, 8);
    return DNewPen(kDefaultPenBase, kPenAll, &s);
  }
  // Renders the job at 72 dpi: page 1, or null.
  PlatSurface* Render(const std::string& job) {
    std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r72 -sOutputFile=" + tmp_.Dir() +
                      "/r.png " + job + " 2>" + tmp_.Dir() + "/gs.err";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << Slurp(tmp_.Dir() + "/gs.err");
    return PlatPngReadFile((tmp_.Dir() + "/r.png").c_str());
  }

  TempFolder tmp_{"qxps"};
  FileRef spool_ = nullptr;
  UHandle record_ = nullptr;
  int32 page_ = 0;
  PlatObj dc_ = 0;
  int32 job_ = 0;
  MgErr jobErr_ = 0;
};

const uChar kGray[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
const uChar kOdd[8] = {1, 2, 3, 4, 5, 6, 7, 8};

// The prolog of a portrait page and every slot's text, against their
// goldens; landscape takes the other matrix.  Ghostscript runs the page
// without an error, the prolog's encoding vector being checked on the way.
TEST_F(PsPort, PsPrologAndSlotsMatchTheirGoldens) {
  SetRecord(756, 576, 0.25f, 0.25f);
  std::string job = Page([&] {
    const int32 dashed = Pen(0x336699, 3, 3), patterned = Pen(0xFF0000, 0, 0, kGray, 1);
    const Rect r = R(10, 20, 110, 80);
    DSelectNormPen(kBlackColor, kBlackColor);
    DSetPixel(5, 6);
    DMoveTo(10, 10);
    DLine(30, 0);
    DMHLineTo(60, 40, 1);
    DMHLine(-20, 10, 0);
    DFrameRect(&r);
    DSelectPen(dashed, kBlackColor, kWhiteColor);
    DFrameRoundRect(&r, 20, 10);
    DFrameOval(&r);
    DFrameArc(&r, 90, 135);
    DFrameArc(&r, 0, -90);
    DSelectPen(patterned, kBlackColor, kWhiteColor);
    DPaintRect(&r);
    DPaintRoundRect(&r, 20, 10);
    DPaintOval(&r);
    DPaintArc(&r, 45, 90);
    DFrameOval(&r);
    DFrameArc(&r, 0, -90);
    const Point tri[4] = {Pt(200, 10), Pt(260, 60), Pt(190, 70), Pt(200, 10)};
    DPaintPoly(tri, 3, 0);
    DSelectNormPen(0x00FF00, 0);
    DPaintPoly(tri, 3, 0);
    DPaintArc(&r, 180, -45);
    DGrayOutRect(&r, 0x0000FF);
    DSetClipRect(&r);
    DFrameRect(&r);
    PSBeginSection(0.5f, 100, 200);
    DPaintRect(&r);
    PSEndSection();
    DSelectNormPen(kTransparentColor, kTransparentColor);
    DLineTo(300, 300);
    DFrameRect(&r);
    // Assertions the page makes of its prolog: a wrong one stops the render.
    PSWriteLine("ANSIEncoding length 256 ne {wrong-encoding-size} if\r");
    PSWriteLine("ANSIEncoding 233 get /eacute ne ANSIEncoding 39 get /quotesingle ne or {wrong-names} if\r");
    DDestroyPen(dashed);
    DDestroyPen(patterned);
  });
  const std::string golden = std::string(QX_SOURCE_DIR) + "/tests/mgsource/goldens/ps_";
  std::string full = Slurp(JobPath());
  size_t a = full.find("%!PS-Adobe-3.0\r"), b = full.find(kPrologEnd);
  ASSERT_NE(b, std::string::npos);
  EXPECT_EQ(full.substr(a, b + std::strlen(kPrologEnd) - a), Slurp(golden + "prolog.txt"));
  EXPECT_EQ(job, Slurp(golden + "slots.txt"));
  EXPECT_EQ(jobErr_, 0);
  if (HaveGs()) {
    PlatSurface* s = Render(JobPath());
    EXPECT_NE(s, nullptr);
    if (s) PlatSurfaceDestroy(s);
  }
  SetRecord(576, 756, 0.25f, 0.5f);
  Open();
  Close();
  EXPECT_NE(Slurp(JobPath()).find("mat_df setmatrix [0 -1 -1 0 594 792] concat\r"), std::string::npos);
  // Without the NT family: the record's scale, and no showpage test.
  const float32 scale = 4.1667f;
  std::memcpy(*record_ + 32, &scale, 4);
  Open("PS72", 0);
  full = Close();
  EXPECT_NE(full.find("save\r[4.17 0 0 4.17 0 0] concat\r/bdf"), std::string::npos);
  EXPECT_EQ(full.find("matrixequal"), std::string::npos);
}

// Each pen and clip selection writes only what changed since the last one
// written; attach, a flush restart and an invalid pen forget it.
TEST_F(PsPort, PsPensAndClipsWriteOnlyWhatChanged) {
  Capture capture;
  struct Row {
    const char* name;
    std::function<void(int32)> draw;  // given a red pen of width 2
    const char* text;
  } rows[] = {
      {"same pen twice",
       [](int32 p) {
         DSelectPen(p, 0, 0);
         DSelectPen(p, 0, 0);
       },
       "1.0000 0.0000 0.0000 setrgbcolor [] 0 setdash 1 setlinecap 2 setlinewidth \r"},
      {"invalid pen between",
       [](int32 p) {
         DSelectPen(p, 0, 0);
         DSelectPen(999, 0, 0);
         DSelectPen(p, 0, 0);
       },
       "1.0000 0.0000 0.0000 setrgbcolor [] 0 setdash 1 setlinecap 2 setlinewidth \r"
       "1.0000 0.0000 0.0000 setrgbcolor [] 0 setdash 1 setlinecap 2 setlinewidth \r"},
      {"one field changed",
       [](int32 p) {
         DSelectPen(p, 0, 0);
         PenState s{};
         s.width = 0;
         DSetPenState(p, kPenWidth, &s);
         DSelectPen(p, 0, 0);
         DSelectNormPen(kBlackColor, kBlackColor);
       },
       "1.0000 0.0000 0.0000 setrgbcolor [] 0 setdash 1 setlinecap 2 setlinewidth \r.2 setlinewidth \r"
       "0 setgray 1 setlinewidth \r"},
      {"restart", [](int32 p) {
         DSelectPen(p, 0, 0);
         PSClose(nullptr, 1);
         DSelectPen(p, 0, 0);
       },
       "1.0000 0.0000 0.0000 setrgbcolor [] 0 setdash 1 setlinecap 2 setlinewidth \r"},
      {"restart in a section", [](int32) {
         PSBeginSection(0.5f, 100, 200);
         PSClose(nullptr, 1);
         DSelectNormPen(kBlackColor, kBlackColor);
         Rect r = R(0, 0, 4, 4);
         DPaintRect(&r);
         PSEndSection();
       },
       "gsave 100.0 50.0 translate 0.5000 0.5000 scale  % scale this section\r"
       "0 setgray [] 0 setdash 1 setlinecap 1 setlinewidth \rinitclip -200 -100 1024 1484 rect clip\r"
       "0 0 4 4 rect fill\rgrestore   % reset the section scale\r"},
      {"odd pattern", [&](int32) {
         const int32 q = Pen(0x0000FF, 1, 1, kOdd, 1);
         DSelectPen(q, 0, 0);
         Rect r = R(0, 0, 16, 8);
         DPaintRect(&r);
         DDestroyPen(q);
       },
       "0.0000 0.0000 1.0000 setrgbcolor [12 4] 0 setdash 0 setlinecap 1 setlinewidth \r"
       "0 0 16 8 [0.00 0.00 1.00][1.00 1.00 1.00] false <0102030405060708> fillpat\r"},
      {"clip grows, shrinks", [](int32) {
         Rect c[3] = {R(10, 10, 100, 100), R(20, 20, 50, 50), R(0, 0, 60, 60)};
         DSelectNormPen(kBlackColor, kBlackColor);
         for (const Rect& r : c) {
           DSetClipRect(&r);
           DSetPixel(30, 30);
         }
       },
       "0 setgray [] 0 setdash 1 setlinecap 1 setlinewidth \r"
       "initclip 10 10 100 100 rect clip\r30.48 30.48 30.52 30.52 rect stroke  %SetPixel\r"
       "20 20 50 50 rect clip\r30.48 30.48 30.52 30.52 rect stroke  %SetPixel\r"
       "initclip 0 0 60 60 rect clip\r30.48 30.48 30.52 30.52 rect stroke  %SetPixel\r"},
      {"collinear points", [](int32) {
         DSelectNormPen(kBlackColor, kBlackColor);
         const Point p[6] = {Pt(0, 0), Pt(10, 0), Pt(20, 0), Pt(20, 5), Pt(20, 10), Pt(0, 0)};
         DPolyLine(p, 5);
       },
       "0 setgray [] 0 setdash 1 setlinecap 1 setlinewidth \r0 0[[20 0][20 10][0 0]] polyLine\r"},
  };
  for (const Row& row : rows) {
    const int32 pen = Pen(0xFF0000, 2);
    std::string body = Page([&] { row.draw(pen); });
    EXPECT_EQ(body, row.text) << row.name;
    DDestroyPen(pen);
  }
  // A long polygon goes out in lines of a little over 220 characters.
  std::vector<Point> zig;
  for (int i = 0; i <= 60; ++i) zig.push_back(Pt(100 + i * 7, 100 + (i % 2) * 50));
  std::string body = Page([&] {
    DSelectNormPen(kBlackColor, kBlackColor);
    DPolyLine(zig.data(), 60);
  });
  size_t lines = 0, from = 0;
  for (size_t at; (at = body.find('\r', from)) != std::string::npos; from = at + 1, ++lines)
    EXPECT_LE(at - from, 240u);
  EXPECT_GE(lines, 3u);
}

// A page of every shape rendered at 72 dpi paints what the screen paints
// for the same calls: each pixel has one of its colour within one pixel in
// the other picture.
TEST_F(PsPort, PsShapesRenderAsTheScreenDraws) {
  if (!HaveGs()) GTEST_SKIP() << "gs is not installed";
  const Rect place = R(64, 48, 64 + 320, 48 + 200);  // pattern cells line up with the page's
  WindowRef w = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
  ASSERT_NE(w, kWNoWindow);
  auto scene = [&] {
    const int32 thick = Pen(0x0000FF, 3), gray = Pen(0x009900, 1, 0, kGray, 0);
    const Rect a = R(10, 10, 90, 60), b = R(100, 10, 180, 70), c = R(190, 10, 270, 90), d = R(10, 100, 90, 180);
    DSelectNormPen(kBlackColor, kBlackColor);
    DMoveTo(10, 190);
    DLineTo(300, 120);
    DFrameRect(&a);
    DSelectPen(thick, kBlackColor, kWhiteColor);
    DFrameOval(&b);
    DFrameArc(&c, 30, 120);
    DSelectNormPen(0xFF0000, 0);
    DPaintArc(&d, 90, 90);
    DFrameRoundRect(&c, 30, 20);
    DSelectPen(gray, kBlackColor, kWhiteColor);
    const Rect e = R(136, 104, 296, 176);
    DPaintRect(&e);
    DDestroyPen(thick);
    DDestroyPen(gray);
  };
  WPortState saved{};
  WSetup(w, &saved);
  PlatSurfaceClear(PlatWindowSurface(WHostWindow(w)), 0xFFFFFF);
  scene();
  WRestore(&saved);
  PlatSurface* screen = PlatWindowSurface(WHostWindow(w));
  Open();
  scene();
  Close();
  PlatSurface* page = Render(JobPath());
  ASSERT_NE(page, nullptr);
  auto at = [](PlatSurface* s, int x, int y) { return PlatSurfaceGetPixel(s, x, y) & 0xFFFFFF; };
  // Pattern colours go out with two decimals: a component may be off by one.
  auto same = [](uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 24; shift += 8)
      if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 1) return false;
    return true;
  };
  // Pixels of one picture with no pixel of their colour within one in the
  // other.
  auto strays = [&](PlatSurface* from, PlatSurface* in) {
    int n = 0;
    for (int y = 1; y < 199; ++y)
      for (int x = 1; x < 319; ++x) {
        const uint32_t c = at(from, x, y);
        bool near = false;
        for (int dy = -1; dy <= 1 && !near; ++dy)
          for (int dx = -1; dx <= 1 && !near; ++dx) near = same(at(in, x + dx, y + dy), c);
        n += !near;
      }
    return n;
  };
  int drawn = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x) drawn += at(screen, x, y) != 0xFFFFFF;
  EXPECT_GT(drawn, 3000);
  // Ghostscript paints every pixel a shape touches, so a stroke or an edge
  // may land a pixel further out than the screen's; a misplaced shape,
  // pattern or colour strays by thousands.
  EXPECT_LT(strays(page, screen), drawn / 100);
  EXPECT_LT(strays(screen, page), drawn / 100);
  PlatSurfaceDestroy(page);
}

// Fonts: the map's rows, the variants, one AssignFont for a repeated font,
// escaped text in pieces, dimmed colours, and printed widths.
TEST_F(PsPort, PsFontsAndTextBoxes) {
  const char* const kMap[37][2] = {
      {"helvetica", "Helvetica"}, {"times", "Times"}, {"courier", "Courier"},
      {"nhelveticanarrow", "Helvetica-Narrow"}, {"avantgarde", "AvantGarde"},
      {"newcenturyschlbk", "NewCenturySchlbk"}, {"newcenturyschoolbook", "NewCenturySchlbk"},
      {"bookman", "Bookman"}, {"palatino", "Palatino"}, {"symbol", "Symbol"}, {"zapfchancery", "ZapfChancery"},
      {"zapfdingbats", "ZapfDingbats"}, {"geneva", "Helvetica"}, {"chicago", "Helvetica-Bold"},
      {"monaco", "Courier"}, {"centschbka", "NewCenturySchlbk"}, {"newyork", "NewCenturySchlbk"},
      {"matrix", "Courier"}, {"monaco", "Courier"}, {"8x13", "Helvetica"}, {"vt8x13", "Helvetica"},
      {"arial", "Helvetica"}, {"arial-super", "Helvetica"}, {"couriernew", "Courier"},
      {"fixedsys", "Helvetica-Bold"}, {"mssansserif", "Helvetica"}, {"msserif", "Times-Bold"},
      {"modern", "Helvetica-Narrow"}, {"roman", "Times"}, {"smallfonts", "Helvetica-Bold"},
      {"system", "Helvetica-Bold"}, {"timesnewroman", "Times"}, {"lucidabright", "Times"},
      {"lucidasans", "Helvetica"}, {"lucida", "Helvetica"}, {"lucidasanstypriter", "Courier"},
      {"lucidatypewriter", "Courier"}};
  for (int i = 0; i < 37; ++i) {
    EXPECT_STREQ(PlatFontMapFamily(i), kMap[i][1]) << i;
    EXPECT_EQ(PlatFontMapRow(kMap[i][0], int32(std::strlen(kMap[i][0]))), i == 18 ? 14 : i) << kMap[i][0];
  }
  struct Name {
    const char* face;
    int style, weight;
    const char* ps;
  } names[] = {
      {"Times New Roman", 0, 0, "Times-Roman"},       {"MS Sans Serif", 0, 0, "Helvetica"},
      {"No Such Face", 2, 0, "Helvetica-Oblique"},     {"times", 2, 700, "Times-BoldItalic"},
      {"MS Serif", 2, 0, "Times-BoldItalic"},          {"Lucida Sans Typriter", 0, 1, "Courier-Bold"},
      {"zapf chancery", 0, 1, "ZapfChancery-MediumItalic"}, {"AvantGarde", 2, 1, "AvantGarde-DemiOblique"},
  };
  for (const Name& n : names) {
    char out[64];
    PSFontName(n.face, int32(std::strlen(n.face)), n.style, n.weight, out);
    EXPECT_STREQ(out, n.ps) << n.face;
  }

  const int32 times = TNewFont(reinterpret_cast<const uChar*>("\x05Times"), 24, kFontItalic, 700);
  const int32 outline = TNewFont(reinterpret_cast<const uChar*>("\x07" "Courier"), 20,
                                 kFontOutline | kFontUnderline | kFontStrikeout, 0);
  const std::string text = "Hello (World)\t\xE9t\xE9";
  Point screen{};
  const std::string shown = "Hello (World) \xE9t\xE9";  // the tab prints as a blank
  TTextSize(reinterpret_cast<const uChar*>(shown.data()), int32(shown.size()), times, &screen);
  std::string long450(450, 'x');
  std::string body = Page([&] {
    const Rect box = R(20, 20, 400, 60), dim = R(20, 100, 400, 140), big = R(20, 200, 600, 240);
    TBox(&box, 0, reinterpret_cast<const uChar*>(text.data()), int32(text.size()), times, 0xFF0000,
         kTransparentColor, 0, 0xFFFFFF);
    TBox(&dim, 0x100, reinterpret_cast<const uChar*>("dim"), 3, times, 0xFF0000, 0xCCCCCC, 0, 0xFFFFFF);
    TBox(&big, 0, reinterpret_cast<const uChar*>(long450.data()), 450, times, 0, kTransparentColor, 0, 0);
    // An outline face made on the page, underlined and struck out (rendered below).
    const Rect low = R(20, 300, 400, 340);
    TBox(&low, 32, reinterpret_cast<const uChar*>("outline"), 7, outline, 0, kTransparentColor, 0, 0);
  });
  EXPECT_NE(body.find("/Times-BoldItalic-ISO () 24 AssignFont\r(Hello \\(World\\) \\351t\\351) "), std::string::npos)
      << body;
  size_t first = body.find("Times-BoldItalic-ISO");
  EXPECT_EQ(body.find("Times-BoldItalic-ISO", first + 1), std::string::npos);  // assigned once for the page
  // Dimmed text on its own gray prints black.
  EXPECT_NE(body.find("0.8000 0.8000 0.8000 setrgbcolor \r20 100 400 140 rect fill\r0 setgray \r(dim)"),
            std::string::npos);
  EXPECT_NE(body.find(std::string(200, 'x') + "\\\r" + std::string(200, 'x') + "\\\r" + std::string(50, 'x') + ") "),
            std::string::npos);
  if (HaveGs()) {
    PlatSurface* page = Render(JobPath());
    ASSERT_NE(page, nullptr);
    // The printed line is as wide as the screen's, to a pixel of side
    // bearing at either end.
    int lo = 9999, hi = -1;
    for (int y = 20; y < 60; ++y)
      for (int x = 0; x < 612; ++x)
        if ((PlatSurfaceGetPixel(page, x, y) & 0xFFFFFF) != 0xFFFFFF) {
          lo = std::min(lo, x);
          hi = std::max(hi, x);
        }
    EXPECT_NEAR(lo, 20, 3);
    EXPECT_NEAR(hi + 1 - lo, screen.h, 4);
    PlatSurfaceDestroy(page);
  }
  EXPECT_NE(body.find("/Courier-ISO (-Outline20) 20 AssignFont\r(outline) "), std::string::npos);
  TDisposeFont(times);
  TDisposeFont(outline);
}

// Text records are written line by line: runs side by side on one
// baseline, a line cut by the view (or holding an italic run) inside
// gsave/grestore with its pen written again afterwards, break bytes left
// out, lines below the view not written; display forms printed.
TEST_F(PsPort, PsTextRecordsDrawLineByLine) {
  const int32 plain = TNewFont(reinterpret_cast<const uChar*>("\x05Times"), 12, 0, 0);
  const int32 italic = TNewFont(reinterpret_cast<const uChar*>("\x05Times"), 18, kFontItalic, 0);
  int32 asc = 0, desc = 0, lead = 0;
  TGetFontMetrics(plain, &asc, &desc, &lead);
  const int lh = asc + desc + lead;
  auto text = [](const char* t) { return reinterpret_cast<const uChar*>(t); };
  // The drawText calls of a page: text, left, top (ascent added), style.
  auto calls = [](const std::string& body) {
    std::string out;
    static const std::regex re(
        R"(\(((?:[^\\)]|\\.)*)\) \d+ \d+ \d+ \d+ (\d+) (\d+) (\d+) \d+ \d+ \d+ (\d+) \d+ drawText)");
    for (std::sregex_iterator i(body.begin(), body.end(), re), e; i != e; ++i)
      out += (*i)[1].str() + " " + (*i)[3].str() + " " + std::to_string(std::stoi((*i)[4]) + std::stoi((*i)[2])) +
             " " + (*i)[5].str() + "|";
    return out;
  };
  const Rect view = R(20, 20, 300, 20 + 2 * lh + lh / 2), tall = R(30, 30, 400, 200), line = R(20, 300, 300, 330);
  int32 left = 0, ascent = 0, height = 0;
  std::string body = Page([&] {
    TRecord r = TNew(&view, 2, text("one\rtwo\r\nthree\rfour"), 19, plain, 0x0000FF, 0xFFFF00);
    left = TRData(r)->dest.left;
    TDraw(r);
    TDispose(r);
    TBox(&line, 0, text("after"), 5, plain, 0x0000FF, kTransparentColor, 0, 0);
  });
  auto n = [](int v) { return std::to_string(v); };
  EXPECT_EQ(calls(body), "one " + n(left) + " " + n(20 + asc) + " 0|two " + n(left) + " " + n(20 + lh + asc) +
                             " 0|three " + n(left) + " " + n(20 + 2 * lh + asc) + " 0|after 20 " + n(300 + asc) +
                             " 0|");
  // Only the cut line is clipped.
  const size_t end = body.find("grestore\r");
  const size_t g = body.find("gsave 20 " + n(20 + 2 * lh) + " 300 " + n(view.bottom) + " rect clip\r");
  EXPECT_TRUE(g == body.find("gsave") && g < body.find("(three)") && body.find("(three)") < end) << body;
  EXPECT_EQ(body.compare(end + 9, 33, "0.0000 0.0000 1.0000 setrgbcolor "), 0) << "pen written again";

  // Two runs, the second italic; below the line the view is painted.
  body = Page([&] {
    TRecord r = TNew(&tall, 2, text("abcdef"), 6, plain, 0, 0xFFFF00);
    ASSERT_EQ(DSSetHandleSize(r, kTRRuns + 3 * kTRRunSize), kNoErr);
    for (int32 i = 1; i <= TRData(r)->runCount; ++i) TDisposeFont(TRData(r)->runs[i].font);
    TRData(r)->runCount = 2;
    TRData(r)->runs[1] = TStyleRun{0, plain, 0};
    TRData(r)->runs[2] = TStyleRun{3, italic, 0xFF0000};
    TAddFontReference(plain);
    TAddFontReference(italic);
    TRecalc(r);
    TValidateLines(r);
    left = TRData(r)->dest.left;
    ascent = TLineAt(r, 0).ascent;
    height = TLineAt(r, 0).height;
    TDraw(r);
    TDispose(r);
    TBox(&line, 0x20000, text("abc"), 3, plain, 0, kTransparentColor, 0, 0);
    TBox(&line, 0x40000 | 8, text("ABC"), 3, plain, 0, kTransparentColor, 0, 0);
    TBox(&line, 2 | 0x40000, text("A\r"), 2, plain, 0, kTransparentColor, 0, 0);
  });
  Point abc{};
  TTextSize(text("abc"), 3, plain, &abc);
  const std::string shown = calls(body);
  EXPECT_EQ(shown.substr(0, shown.find("***")), "abc " + n(left) + " " + n(30 + ascent) + " 0|def " +
                                                     n(left + abc.h) + " " + n(30 + ascent) + " 2|");
  EXPECT_NE(shown.find("*** " + n(20) + " " + n(300 + asc) + " 0|4142 43 20 "), std::string::npos);
  EXPECT_NE(shown.find("|410D  "), std::string::npos) << "hex keeps the break";
  EXPECT_NE(body.find("gsave 30 30 400 " + n(30 + height) + " rect clip\r"), std::string::npos) << body;
  EXPECT_NE(body.find("30 " + n(30 + height) + " 400 200 rect fill\r"), std::string::npos) << body;
  if (HaveGs()) PlatSurfaceDestroy(Render(JobPath()));  // runs without an error
  TDisposeFont(plain);
  TDisposeFont(italic);
}

// A page over 32,000 bytes arrives whole through several pass-through
// chunks; a printer that refuses pass-through gives 31, a spool file that
// fails to write gives 35 and no page.
TEST_F(PsPort, PsSpoolChunksAndFailures) {
  Capture capture;
  std::string body = Page([&] {
    DSelectNormPen(kBlackColor, kBlackColor);
    for (int i = 0; i < 2500; ++i) DSetPixel(i % 600, i / 600);
  });
  EXPECT_GT(body.size(), 70000u);
  EXPECT_EQ(body.find("\r\r"), std::string::npos);
  EXPECT_NE(body.find("599.48 3.48 599.52 3.52 rect stroke  %SetPixel\r"), std::string::npos);
  EXPECT_EQ(jobErr_, 0);

  Open("Raster");
  DSetPixel(1, 1);
  Close();
  EXPECT_EQ(jobErr_, kPSDriverErr);
  EXPECT_NE(capture.Debug().find("PSClose: Escape return pc err=0"), std::string::npos);

  Open();
  DSelectNormPen(kBlackColor, kBlackColor);
  DSetPixel(1, 1);
  PlatFileFault fault;
  fault.failAt = 1;
  fault.sticky = true;
  PlatFileSetFault(&fault);
  std::string job = Close();
  PlatFileSetFault(nullptr);
  EXPECT_EQ(jobErr_, kPSPrintErr);
  EXPECT_EQ(PSJobError(), kPSPrintErr);
  EXPECT_EQ(job.find("%!PS-Adobe-3.0\r"), std::string::npos);
}

// Row sizes and pixels of every depth the image writer reads.
TEST_F(PsPort, PsPixelsAndRowBytes) {
  struct RowCase {
    int32 depth, width, bytes;
  } rows[] = {{1, 1, 2}, {1, 17, 4}, {4, 5, 4}, {8, 3, 4}, {16, 3, 6}, {24, 3, 9}, {32, 3, 12}, {8, 0, 0}};
  for (const RowCase& c : rows) EXPECT_EQ(PSRowBytes(c.depth, c.width), c.bytes) << c.depth << " " << c.width;
  uInt32 table[256];
  for (uInt32 i = 0; i < 256; ++i) table[i] = 0x010101u * i;
  struct PixelCase {
    int32 depth, column;
    std::vector<uInt8> bytes;
    Bool32 grey;
    uInt32 value;
    int32 advance;
  } pixels[] = {
      {4, 0, {0xA5}, 0, 0x0A0A0A, 0},  {4, 1, {0xA5}, 0, 0x050505, 1},
      {8, 7, {0xC3}, 0, 0xC3C3C3, 1},  {16, 0, {0x7F, 0xFF}, 0, 0xFFFFFF, 2},
      {16, 0, {0x42, 0x10}, 0, 0x848484, 2}, {16, 0, {0x7C, 0x00}, 0, 0xFF0000, 2},
      {24, 0, {1, 2, 3}, 0, 0x010203, 3},     {32, 0, {9, 1, 2, 3}, 0, 0x010203, 4},
      {24, 0, {200, 100, 40}, 1, 200 / 4 + 200 / 8 + 100 / 2 + 40 / 8, 3},
  };
  for (const PixelCase& c : pixels) {
    const uInt8* cursor = c.bytes.data();
    EXPECT_EQ(PSPixel(c.depth, &cursor, c.column, table, c.grey), c.value) << c.depth;
    EXPECT_EQ(cursor - c.bytes.data(), c.advance) << c.depth;
  }
  Capture capture;
  const uInt8 two[2] = {1, 2};
  const uInt8* cursor = two;
  EXPECT_EQ(PSPixel(12, &cursor, 0, table, 0), 0u);
  EXPECT_EQ(capture.Count("PSPixel: depth not supported"), 1);
}

// Icons, masks, families, pixmaps and pixel blocks as the operators they
// are written with, against the golden text; the page renders.
TEST_F(PsPort, PsImagesMatchTheirGolden) {
  EXPECT_EQ(LoadDefaultColourMaps(), kNoErr);
  auto icon = [](int32 kind, int32 bytes, uInt8 fill) {
    UHandle h = AZNewHandle(bytes);
    std::memset(*h, fill, size_t(bytes));
    int32 id = 0;
    EXPECT_EQ(IMakeImageFromRsrc(kind, h, &id, 1), kNoErr);
    return id;
  };
  const int32 icon1 = icon(kImageIcon1, 128, 0xF0), icon4 = icon(kImageIcon4, 512, 0x1E),
              icon8 = icon(kImageIcon8, 1024, 0x23), mask = icon(kImageMask, 128, 0);
  // The mask: a 4 x 2 block at column 8, row 4.
  (*IHandleOf(IEntryOf(mask).data))[4 * 4 + 1] = 0xF0;
  (*IHandleOf(IEntryOf(mask).data))[5 * 4 + 1] = 0xF0;
  int32 family = 0;
  ASSERT_EQ(ICreateProcImage(nullptr, 0, &family), kNoErr);
  ImageEntry* e = IEntryPtr(family);
  *e = ImageEntry{0, kImageFamily, uInt32(icon1), uInt32(icon4), uInt32(icon8), uInt32(mask)};
  // A 4-bit pixmap of 3 x 2: the indexes 0 (white), 15 (black), 5 on top,
  // 15, 0, 5 below.
  const Rect pr = R(0, 0, 3, 2);
  int32 pixmap = 0;
  ASSERT_EQ(ICreatePixmap(0, &pr, 4, &pixmap), kNoErr);
  const uInt8 rows4[4] = {0x0F, 0x50, 0xF0, 0x50};
  ASSERT_EQ(IPutHostBits(pixmap, 0, 4, &pr, 2, rows4, 0), kNoErr);
  struct Case {
    const char* name;
    std::function<void()> draw;
  };
  const Rect r = R(100, 100, 132, 132);
  const Rect part = R(4, 4, 12, 8);
  const std::vector<Case> cases = {
      {"icon, transparent back", [&] { IDraw(icon1, nullptr, &r, 0x0000FF, kTransparentColor, 0, 0xFFFFFF); }},
      {"icon, both colours", [&] { IDraw(icon1, nullptr, &r, kBlackColor, kWhiteColor, 0, 0xFFFFFF); }},
      {"icon part past its bits", [&] {
         const Rect wide = R(24, 30, 40, 40);
         IDraw(icon1, &wide, &r, kBlackColor, kTransparentColor, 0, 0xFFFFFF);
       }},
      {"mask, colours exchanged", [&] { IDraw(mask, nullptr, &r, 0xFF0000, 0x00FF00, 0, 0xFFFFFF); }},
      {"empty destination", [&] {
         const Rect none = R(10, 10, 10, 40);
         IDraw(icon8, nullptr, &none, kBlackColor, kWhiteColor, 0, 0xFFFFFF);
       }},
      {"4-bit icon part, grey", [&] { IDraw(icon4, &part, &r, kBlackColor, kWhiteColor, 0, 0xFFFFFF); }},
      {"family at depth 8, masked", [&] { IDraw(family, nullptr, &r, kBlackColor, kWhiteColor, 0, 0xFFFFFF); }},
      {"4-bit pixmap, grey", [&] { IDraw(pixmap, nullptr, &r, kBlackColor, kWhiteColor, 0, 0xFFFFFF); }},
      {"4-bit pixmap, level 2", [&] {
         gPrintPrefs.postScriptLevel2 = 1;
         IDraw(pixmap, nullptr, &r, kBlackColor, kWhiteColor, 0, 0xFFFFFF);
         gPrintPrefs.postScriptLevel2 = 0;
       }},
      {"16-bit block, level 2", [&] {
         gPrintPrefs.postScriptLevel2 = 1;
         const uInt8 bits[4] = {0x7F, 0xFF, 0x7C, 0x00};
         DDrawBitsDesc d{4, R(5, 5, 7, 6), R(10, 10, 30, 20), 16, kBlackColor, kWhiteColor, 0, 0};
         DDrawBits(&d, nullptr, bits);
         gPrintPrefs.postScriptLevel2 = 0;
       }},
      {"8-bit block, its table", [&] {
         const uInt8 bits[2] = {0, 1};
         const uInt8 table[16] = {0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0xFF, 0xFF};
         DDrawBitsDesc d{2, R(0, 0, 2, 1), R(10, 10, 30, 20), 8, kBlackColor, kWhiteColor, 2, 0};
         DDrawBits(&d, table, bits);
       }},
      {"wide 24-bit row split past 248 digits, level 2", [&] {
         gPrintPrefs.postScriptLevel2 = 1;
         uInt8 bits[43 * 3];
         for (int32 i = 0; i < 43 * 3; ++i) bits[i] = uInt8(i);
         DDrawBitsDesc d{43 * 3, R(0, 0, 43, 1), R(10, 10, 53, 11), 24, kBlackColor, kWhiteColor, 0, 0};
         DDrawBits(&d, nullptr, bits);
         gPrintPrefs.postScriptLevel2 = 0;
       }},
      {"block short of its rows", [&] {
         const uInt8 bits[2] = {0, 1};
         DDrawBitsDesc d{2, R(0, 0, 2, 2), R(10, 10, 30, 20), 8, kBlackColor, kWhiteColor, 0, 0};
         DDrawBits(&d, nullptr, bits);
       }},
  };
  std::string all;
  for (const Case& c : cases) all += std::string("% ") + c.name + "\r" + Page(c.draw);
  const std::string golden = std::string(QX_SOURCE_DIR) + "/tests/mgsource/goldens/ps_images.txt";
  if (qxtest::UpdatingGoldens()) std::ofstream(golden, std::ios::binary) << all;
  EXPECT_EQ(all, Slurp(golden));
  EXPECT_EQ(jobErr_, 0);
  IRelease(family);
  IRelease(pixmap);
}

// Images render where and as they are drawn, and a metafile drawn in the
// middle of a page goes to the printer between two pieces of the page's
// PostScript: the rendered page equals its golden.
TEST_F(PsPort, PsImagesAndMetafilesRenderOnThePage) {
  const float32 one = 1.0f;
  std::memcpy(*record_ + 32, &one, 4);
  PlatObj rec = PlatCreateMetafileDc("\\qx.emf", nullptr);
  ASSERT_NE(rec, 0u);
  PlatObj red = PlatCreateSolidBrush(0x0000FF);  // the layer's colours are 0x00BBGGRR
  PlatSelectObject(rec, red);
  PlatPatBlt(rec, 0, 0, 40, 20, kPlatPatCopy);
  PlatSelectObject(rec, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(red);
  const PlatMetafile mf = PlatCloseMetafileDc(rec);
  int32 meta = 0, icon = 0, pixmap = 0;
  ASSERT_EQ(ICreatePCMetaFile(0, 8, mf, &meta, nullptr), kNoErr);
  UHandle h = AZNewHClr(128);
  for (int32 row = 0; row < 16; ++row) std::memset(*h + 4 * row, 0xFF, 4);  // the top half set
  ASSERT_EQ(IMakeImageFromRsrc(kImageIcon1, h, &icon, 1), kNoErr);
  const Rect pr = R(0, 0, 2, 1);
  ASSERT_EQ(ICreatePixmap(0, &pr, 24, &pixmap), kNoErr);
  const uInt8 rgb[6] = {0xFF, 0, 0, 0, 0, 0xFF};
  ASSERT_EQ(IPutHostBits(pixmap, 0, 24, &pr, 6, rgb, 0), kNoErr);
  gPrintPrefs.postScriptLevel2 = 1;
  const Rect blueBox = R(50, 50, 150, 80), metaBox = R(50, 100, 150, 150), greenBox = R(50, 170, 150, 200);
  const Rect iconBox = R(200, 50, 264, 114), pixBox = R(200, 150, 300, 200);
  const int32 green = Pen(0x00FF00, 1), blue = Pen(0x0000FF, 1);
  Open();
  DSelectPen(blue, kBlackColor, kWhiteColor);
  DPaintRect(&blueBox);
  IDraw(meta, nullptr, &metaBox, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  DSelectPen(green, kBlackColor, kWhiteColor);
  DPaintRect(&greenBox);
  IDraw(icon, nullptr, &iconBox, 0xFF00FF, kTransparentColor, kBlackColor, kWhiteColor);
  IDraw(pixmap, nullptr, &pixBox, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  const std::string job = Close();
  gPrintPrefs.postScriptLevel2 = 0;
  DDestroyPen(green);
  DDestroyPen(blue);
  IRelease(meta);
  IRelease(icon);
  IRelease(pixmap);
  // Two pieces, the metafile's drawing between them.
  const size_t first = job.find(kPrologEnd), second = job.find(kPrologEnd, first + 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(job.find(kPrologEnd, second + 1), std::string::npos);
  const size_t played = job.find("rectfill", job.find("end\r", first));
  EXPECT_LT(played, second);
  EXPECT_EQ(jobErr_, 0);
  if (!HaveGs()) GTEST_SKIP() << "gs is not installed";
  PlatSurface* page = Render(JobPath());
  ASSERT_NE(page, nullptr);
  struct Probe {
    int32 x, y;
    uInt32 colour;
  } probes[] = {{100, 65, 0x0000FF}, {100, 125, 0xFF0000}, {100, 185, 0x00FF00}, {232, 60, 0xFF00FF},
                {232, 100, 0xFFFFFF}, {220, 175, 0xFF0000}, {280, 175, 0x0000FF}, {100, 90, 0xFFFFFF}};
  for (const Probe& p : probes)
    EXPECT_EQ(PlatSurfaceGetPixel(page, p.x, p.y) & 0xFFFFFF, p.colour) << p.x << ", " << p.y;
  qxtest::ExpectMatchesGolden(page, std::string(QX_SOURCE_DIR) + "/tests/mgsource/goldens/ps_images_page.png",
                              "QX_UPDATE_GOLDENS=1 test_mgsource --gtest_filter=PsPort.PsImagesAndMetafiles*");
  PlatSurfaceDestroy(page);
}

}  // namespace
