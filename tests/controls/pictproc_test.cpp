// The control picture table: golden sheets of all 375 pictures drawn
// through the image manager at every depth; registration; the messages and
// their default answers; the line picture's state; the process-plant
// geometry and shading; bad codes and short states.
#include <cmath>
#include <filesystem>
#include <set>
#include <string>

#include "controls/picc_fixture.h"
#include "controls/processpict.h"
#include "engine/engine_test_support.h"
#include "golden_image.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "panel/osupport.h"

namespace pictproc_test {

using picctest::LogPort;
using picctest::Picc;

constexpr DColor kFore = 0x203880, kBack = 0x40A0D0;

bool IsProcess(PictureProc p) {
  return p == ValvePictProc || p == RoundValvePictProc || p == TeePictProc || p == ElbowPictProc ||
         p == PipePictProc || p == PumpPictProc || p == MotorPictProc || p == HopperAPictProc ||
         p == HopperBPictProc || p == OpenTankPictProc;
}

// The registered pictures, and the glyphs the glyph buttons and the dialog
// check box draw.
class PictTable : public Picc {
 protected:
  void SetUp() override {
    // The engine's fixtures and the drawing fixtures each start the memory
    // manager once: an image table made before the second start lives in a
    // zone that no longer grows.  Both are started here, and the table made
    // again, once for the whole run.
    static const bool fresh = [] {
      qxtest::StartManagers();
      EnsureManagers();
      return IInitImageTable(350) == kNoErr;
    }();
    ASSERT_TRUE(fresh);
    Picc::SetUp();
    if (HasFatalFailure()) return;
    capture_.Clear();
    InitFPImages();
    for (int32 code : {2053, 2054, 2055, 2056, 2057, 2058, 2059, 2060, 2084}) {
      const int32 k = code % 8;
      const int32 glyph = DrawInto(7, 7, 32, [k] {
        DSelectNormPen(kBlackColor, kBlackColor);
        DMoveTo(0, k % 7), DLineTo(6, 6 - k % 7), DLineTo(3, 0);
      });
      ASSERT_EQ(SetBuiltInPict(code, glyph), kNoErr);
      glyphs_.push_back(code);
    }
  }
  void TearDown() override {
    for (int32 code : glyphs_) SetBuiltInPict(code, 0);
    Picc::TearDown();
  }
  static int32 Image(int32 code) { return CheckPictIndex(code); }
  static int32 Send(int32 code, int32 message, PictMessageBlock* b) { return IProcImageMessage(Image(code), message, b); }
  std::vector<int32> glyphs_;
};

// ---- Golden sheets -----------------------------------------------------------------------

constexpr int32 kSheetWidth = 1000;

// Every picture at 64 x 40, 32 x 32 and 17 x 9, then the process pictures
// at 200 x 120, drawn through the image manager.  Pictures with state of
// their own (lines) are drawn from a copy set up for the cell.
int32 DrawSheet(bool draw) {
  const PictureProcEntry* table = PictureProcTable();
  int32 x = 2, y = 2;
  auto cell = [&](int32 code, const Rect& r) {
    if (!draw) return;
    int32 image = CheckPictIndex(code), copy = 0;
    PictMessageBlock b{};
    if (IProcImageMessage(image, kPictMsgOwnState, &b) == kNoErr && b.result && IDuplicate(image, &copy) == kNoErr) {
      Rect at = r;
      b.rect = &at;
      IProcImageMessage(copy, kPictMsgInit, &b);
      image = copy;
    }
    IDraw(image, nullptr, &r, kFore, kBack, kBlackColor, kWhiteColor);
    if (copy) IRelease(copy);
  };
  for (int32 n = 0; n < kPictureProcCount; ++n) {
    if (x + 122 > kSheetWidth) x = 2, y += 44;
    const int32 code = kFirstControlPict + n;
    cell(code, Rect{int16(y), int16(x), int16(y + 40), int16(x + 64)});
    cell(code, Rect{int16(y), int16(x + 67), int16(y + 32), int16(x + 99)});
    cell(code, Rect{int16(y), int16(x + 102), int16(y + 9), int16(x + 119)});
    x += 124;
  }
  x = 2, y += 44;
  for (int32 n = 0; n < kPictureProcCount; ++n) {
    if (!IsProcess(table[n].proc)) continue;
    if (x + 200 > kSheetWidth) x = 2, y += 124;
    cell(kFirstControlPict + n, Rect{int16(y), int16(x), int16(y + 120), int16(x + 200)});
    x += 204;
  }
  return y + 124;
}

TEST_F(PictTable, GoldenSheetsOfEveryPictureAtEveryDepth) {
  const int32 height = DrawSheet(false);
  for (int32 depth : {32, 8, 4, 1}) {
    capture_.Clear();
    const int32 first = DrawInto(kSheetWidth, height, depth, [] { DrawSheet(true); });
    const int32 second = DrawInto(kSheetWidth, height, depth, [] { DrawSheet(true); });
    EXPECT_TRUE(capture_.Alerts().empty()) << capture_.Debug();
    EXPECT_EQ(capture_.Debug().find("empty rect"), std::string::npos) << capture_.Debug();
    EXPECT_EQ(Differing(first, second, kSheetWidth, height), 0) << "a second run differs at depth " << depth;
    const std::string name = "pict_sheet_" + std::to_string(depth) + ".png";
    qxtest::ExpectMatchesGolden(SurfaceOf(first), std::filesystem::path(QX_SOURCE_DIR) / "tests/controls/goldens" / name,
                                "regenerate the control picture sheets (QX_UPDATE_GOLDENS=1) and check them by eye");
  }
}

}  // namespace pictproc_test

namespace pictproc_test {

// ---- Registration ------------------------------------------------------------------------

TEST_F(PictTable, EachCodeCarriesItsTableEntry) {
  const struct {
    int32 code;
    PictureProc proc;
    uInt32 style;
  } rows[] = {{9, RectPictProc, 0x4201},   {101, LEDButtonPictProc, 0x4800}, {174, OblongPictProc, 0xC4201},
              {232, LinePictProc, 0x10001}, {304, ValvePictProc, 0x14200},    {383, RectPictProc, 0x234400}};
  for (const auto& row : rows) {
    PictStyleBlock* s = nullptr;
    EXPECT_EQ(IProcOf(Image(row.code), &s), row.proc) << row.code;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->style, row.style) << row.code;
    EXPECT_EQ(s->state1 | s->state2, 0u) << row.code;
  }
  // Every code its own image, the repeated words too.
  std::set<int32> ids;
  for (int32 code = 9; code <= 383; ++code) ids.insert(Image(code));
  EXPECT_EQ(ids.size(), 375u);
  EXPECT_EQ(ids.count(0), 0u);
  // A line keeps its end points: each use gets a copy; a rectangle is shared.
  EXPECT_NE(GetPictIndex(232) & 0xFFFF, Image(232));
  EXPECT_EQ(GetPictIndex(9) & 0xFFFF, Image(9));
}

TEST_F(PictTable, AFullImageTableLeavesCodesEmptyAndRegistrationGoesOn) {
  // Every free entry taken, the table unable to grow, then five given back.
  MemFailAllocations(1, -1);
  std::vector<int32> taken;
  for (int32 id; (id = INewImageEntry()) != 0;) taken.push_back(id);
  for (int32 i = 0; i < 5; ++i) IFreeImageEntry(taken.back()), taken.pop_back();
  InitFPImages();
  MemFailAllocations(0, 0);
  int32 registered = 0;
  for (int32 code = 9; code <= 383; ++code) registered += Image(code) != 0;
  EXPECT_EQ(registered, 5);
  EXPECT_NE(Image(13), 0);
  EXPECT_EQ(Image(383), 0) << "the loop went on to the last code";
  for (int32 id : taken) IFreeImageEntry(id);
  InitFPImages();
  EXPECT_NE(Image(383), 0);
}

TEST_F(PictTable, CodesOutsideTheTablesAreReported) {
  for (int32 code : {8, 384, 1999, 7029}) {
    capture_.Clear();
    EXPECT_EQ(CheckPictIndex(code), 0);
    EXPECT_NE(capture_.Debug().find("index " + std::to_string(code)), std::string::npos) << code;
    EXPECT_FALSE(capture_.Alerts().empty()) << "and asserted: " << code;
  }
}

// ---- Messages ----------------------------------------------------------------------------

Point P(int32 h, int32 v) { return Point{int16(v), int16(h)}; }

TEST_F(PictTable, NaturalSizes) {
  const struct {
    int32 code, width, height;
  } rows[] = {{9, 32, 32}, {321, 16, 32}, {320, 32, 16}, {347, 2, 32}, {346, 32, 2},
              {348, 8, 8}, {358, 64, 16}, {354, 32, 32}, {363, 32, 32}};
  for (const auto& row : rows) {
    Rect r{5, 5, 6, 6};
    PictMessageBlock b{};
    b.rect = &r;
    Send(row.code, kPictMsgSize, &b);
    const Rect want{0, 0, int16(row.height), int16(row.width)};
    EXPECT_TRUE(DEqualRect(&r, &want)) << row.code << ": " << RectWidth(&r) << " x " << RectHeight(&r);
  }
}

TEST_F(PictTable, ShapeAndOpacityByFamily) {
  const struct {
    int32 code;
    DColor back;
    int32 kind, opaque;
  } rows[] = {
      {9, kBack, 0, 1},   {9, kTransparentColor, 0, 0},    // the rectangle: opaque when both are set
      {21, kBack, 1, 1},  {21, kTransparentColor, 1, 0},   // the oval's default
      {36, kBack, 1, 0},                                   // oval frames never
      {232, kBack, 2, 0},                                  // lines
      {272, kTransparentColor, 0, 1},                      // dialog pictures paint system colours
      {365, kTransparentColor, 0, 1},                      // face fill
      {292, kBack, 1, 1}, {292, kTransparentColor, 1, 0},  // the dialog radio takes the oval's
      {162, kBack, 0, 0}, {304, kBack, 0, 0},              // the rectangle's default
      {363, kBack, 0, 1},                                  // the system frame
  };
  for (const auto& row : rows) {
    const DColor colours[2] = {kFore, row.back};
    int32 opaque = -1;
    EXPECT_EQ(IProcImageIsOpaque(Image(row.code), &opaque, colours), row.kind) << row.code;
    EXPECT_EQ(opaque, row.opaque) << row.code;
  }
}

TEST_F(PictTable, HitTests) {
  const Rect square{0, 0, 40, 40}, tiny{10, 10, 12, 12}, half{0, 0, 20, 20};
  const struct {
    int32 code;
    Rect r;
    Point p;
    int32 hit;
    const char* what;
  } rows[] = {
      {21, square, P(0, 0), 0, "an oval's corner"},
      {21, square, P(20, 20), 1, "an oval's centre"},
      {21, tiny, P(11, 11), 1, "the centre of a 2 x 2 oval"},
      {33, square, P(20, 2), 1, "a frame's ring, 3 deep"},
      {33, square, P(20, 3), 0, "inside a frame"},
      {238, square, P(20, 4), 1, "a frame with a variant, 5 deep"},
      {238, square, P(20, 5), 0, "inside it"},
      {36, square, P(3, 20), 1, "an oval frame's ring, 4 deep"},
      {36, square, P(4, 20), 0, "inside it"},
      {240, square, P(20, 4), 1, "a refnum's band, 5 deep"},
      {240, square, P(20, 5), 0, "inside it"},
      {241, square, P(20, 20), 1, "a flat refnum, whole"},
      {303, square, P(20, 1), 1, "a bevel ring, 2 deep"},
      {303, square, P(20, 2), 0, "inside it"},
      {256, square, P(20, 20), 1, "a filled frame inside its ring"},
      {198, half, P(19, 10), 1, "a left half oval at its flat side"},
      {198, half, P(0, 0), 0, "a left half oval's far corner"},
      {199, half, P(1, 10), 1, "a right half oval at its flat side"},
      {199, half, P(19, 0), 0, "a right half oval's far corner"},
      {102, square, P(30, 20), 1, "in a triangle"},
      {102, square, P(1, 1), 0, "beside a triangle"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(IPtInImage(row.p, Image(row.code), &row.r), row.hit) << row.what;
  }
  // An oval frame with a variant: 6 deep.
  PictStyleBlock style{0x201, 0, 0};
  Rect r = square;
  PictMessageBlock b{};
  b.rect = &r;
  for (const auto& [p, hit] : {std::pair{P(5, 20), 1}, std::pair{P(6, 20), 0}}) {
    b.point = p;
    OvalFramePictProc(kPictMsgHit, &style, &b);
    EXPECT_EQ(b.result, hit) << p.h;
  }
  // Rectangles against an oval, in doubled coordinates.
  for (const auto& [test, meets] : {std::pair{Rect{0, 0, 3, 3}, 0}, std::pair{Rect{18, 18, 22, 22}, 1},
                                    std::pair{Rect{0, 18, 1, 22}, 1}, std::pair{Rect{-5, 18, 0, 22}, 0}}) {
    Rect other = test;
    b.otherRect = &other;
    b.result = -1;
    OvalDefaultPictProc(kPictMsgRectHit, &style, &b);
    EXPECT_EQ(b.result, meets) << test.top << "," << test.left;
  }
}

TEST_F(PictTable, DefaultsDrawAPlaceholderAndReportOtherMessages) {
  for (const bool oval : {false, true}) {
    const int32 px = DrawInto(20, 20, 32, [oval] {
      Rect r{0, 0, 20, 20};
      PictMessageBlock b{};
      b.rect = &r;
      b.foreColor = b.backColor = kTransparentColor;
      (oval ? OvalDefaultPictProc : RectDefaultPictProc)(kPictMsgDraw, nullptr, &b);
    });
    EXPECT_EQ(Pix(px, 5, 10), 0x000000u) << "transparent fill as black";
    EXPECT_EQ(Pix(px, 10, 10), 0xFFFFFFu) << "the diagonals in white";
    EXPECT_EQ(Pix(px, 0, 0), oval ? 0xFFFFFFu : 0xFFFFFFu);
    EXPECT_EQ(Pix(px, 10, 0), 0xFFFFFFu) << "the frame in white";
  }
  capture_.Clear();
  PictMessageBlock b{};
  for (int32 message : {8, 9, 15, -1}) EXPECT_EQ(RectDefaultPictProc(message, nullptr, &b), 0);
  EXPECT_EQ(capture_.Alerts().size(), 4u);
  // Messages 13 and 14 are the line's only.
  EXPECT_EQ(Send(9, kPictMsgGetEnds, &b), kNoErr);
  EXPECT_EQ(capture_.Alerts().size(), 5u);
}

// ---- The line picture --------------------------------------------------------------------

class LinePict : public PictTable {
 protected:
  // A copy of a line picture, as a panel object gets it.
  int32 Line(int32 code) {
    int32 copy = 0;
    EXPECT_EQ(IDuplicate(Image(code), &copy), kNoErr);
    copies_.push_back(copy);
    return copy;
  }
  void TearDown() override {
    for (int32 id : copies_) IRelease(id);
    PictTable::TearDown();
  }
  static std::pair<Point, Point> Ends(int32 image) {
    PictMessageBlock b{};
    IProcImageMessage(image, kPictMsgGetEnds, &b);
    return {b.point1, b.point2};
  }
  static void Init(int32 image, Rect r) {
    PictMessageBlock b{};
    b.rect = &r;
    IProcImageMessage(image, kPictMsgInit, &b);
  }
  std::vector<int32> copies_;
};

bool Same(Point a, Point b) { return a.h == b.h && a.v == b.v; }

TEST_F(LinePict, EndPointsByDirection) {
  const Rect r{10, 20, 30, 60};
  const struct {
    int32 code;
    Point p1, p2;
  } rows[] = {{367, P(20, 19), P(59, 19)},   // horizontal
              {368, P(39, 10), P(39, 29)},   // vertical
              {232, P(20, 10), P(59, 29)},   // left: top-left to bottom-right
              {233, P(59, 10), P(20, 29)}};  // right
  for (const auto& row : rows) {
    const int32 line = Line(row.code);
    Init(line, r);
    const auto [p1, p2] = Ends(line);
    EXPECT_TRUE(Same(p1, row.p1) && Same(p2, row.p2))
        << row.code << ": (" << p1.h << "," << p1.v << ") (" << p2.h << "," << p2.v << ")";
  }
}

TEST_F(LinePict, FlattenedStateRoundTripsBigEndian) {
  const int32 line = Line(234);  // width 2, left
  PictMessageBlock b{};
  b.point1 = P(-3, 258), b.point2 = P(600, 7);
  Rect bounds{0, 0, 0, 0};
  b.rect = &bounds;
  IProcImageMessage(line, kPictMsgSetEnds, &b);
  EXPECT_LE(bounds.left, -3);
  EXPECT_GE(bounds.right, 601);
  IProcImageMessage(line, kPictMsgFlatten, &b);
  ASSERT_NE(b.stateHandle, nullptr);
  ASSERT_EQ(AZGetHandleSize(b.stateHandle), 12);
  const uChar want[12] = {0, 1, 0, 2, 0x01, 0x02, 0xFF, 0xFD, 0, 7, 0x02, 0x58};
  EXPECT_EQ(std::memcmp(*b.stateHandle, want, 12), 0);
  UHandle state = b.stateHandle;
  // Another line's state over it, then this one's back.
  const int32 other = Line(367);
  Init(other, Rect{0, 0, 10, 10});
  b.stateHandle = state;
  IProcImageMessage(other, kPictMsgUnflatten, &b);
  PictStyleBlock* s = nullptr;
  IProcOf(other, &s);
  EXPECT_EQ(s->style, 0x10002u);
  const auto [p1, p2] = Ends(other);
  EXPECT_TRUE(Same(p1, P(-3, 258)) && Same(p2, P(600, 7)));
  AZDisposeHandle(state);
}

TEST_F(LinePict, AShortStateStartsFromTheRectangle) {
  const int32 line = Line(232);
  UHandle state = AZNewHClr(11);
  Rect r{10, 20, 30, 60};
  PictMessageBlock b{};
  b.rect = &r;
  b.stateHandle = state;
  IProcImageMessage(line, kPictMsgUnflatten, &b);
  EXPECT_NE(capture_.Debug().find("a flattened state of 11 bytes"), std::string::npos) << capture_.Debug();
  const auto [p1, p2] = Ends(line);
  EXPECT_TRUE(Same(p1, P(20, 10)) && Same(p2, P(59, 29)));
  PictStyleBlock* s = nullptr;
  IProcOf(line, &s);
  EXPECT_EQ(s->style, 0x10001u) << "the style is kept";
  AZDisposeHandle(state);
}

TEST_F(LinePict, EndsFollowTheEdgesTheyLieOn) {
  const int32 line = Line(232);
  Init(line, Rect{10, 20, 30, 60});
  Rect now{10, 20, 40, 60}, was{10, 20, 30, 60};
  Rect* pair[2] = {&now, &was};  // the two rectangle pointers are all the block holds
  IProcImageMessage(line, kPictMsgMoved, pair);
  const auto [p1, p2] = Ends(line);
  EXPECT_TRUE(Same(p1, P(20, 10))) << "the upper end stays";
  EXPECT_TRUE(Same(p2, P(59, 39))) << "the lower end follows the bottom";
  const Rect bounds{10, 20, 40, 60};
  EXPECT_TRUE(DEqualRect(&now, &bounds));
}

TEST_F(LinePict, OwnStateByPanelVersion) {
  for (const auto& [version, own] : {std::pair{0u, 1}, std::pair{0x04502045u, 0}, std::pair{0x04502046u, 1}}) {
    PictMessageBlock b{};
    b.version = version;
    b.result = -1;
    Send(232, kPictMsgOwnState, &b);
    EXPECT_EQ(b.result, own) << std::hex << version;
  }
}

TEST_F(LinePict, DrawnOntoAnotherRectangleAndHitWhereDrawn) {
  const int32 line = Line(232);  // left, width 1: (0, 0) to (39, 19)
  Init(line, Rect{0, 0, 20, 40});
  // Drawn into a rectangle twice the size: the line is stretched with it.
  const Rect r{10, 10, 50, 90};
  const int32 px = DrawInto(100, 60, 32, [line, r] { IDraw(line, nullptr, &r, kFore, kBack, kBlackColor, kWhiteColor); });
  EXPECT_EQ(Pix(px, 10, 10), kFore);
  EXPECT_EQ(Pix(px, 88, 48), kFore);
  EXPECT_EQ(Pix(px, 49, 40), 0xFFFFFFu);
  EXPECT_TRUE(IPtInImage(P(49, 29), line, &r));
  EXPECT_FALSE(IPtInImage(P(49, 40), line, &r));
}

// ---- Process-plant pictures --------------------------------------------------------------

TEST_F(PictTable, ProcessGeometry) {
  HopperGeom hopper;
  const Rect wide{0, 0, 40, 40};
  ASSERT_TRUE(MakeHopperB(&wide, &hopper));
  EXPECT_EQ(hopper.outline[4].h, 9) << "bottom edge from left + w/4, w = 39";
  EXPECT_EQ(hopper.outline[3].h, 30);
  EXPECT_EQ(hopper.outline[3].v, 39);
  for (const auto& [height, flange] : {std::pair{100, 6}, std::pair{400, 20}}) {
    PipeGeom pipe;
    const Rect r{0, 0, int16(height), 16};
    ASSERT_TRUE(MakePipe(&r, kPictVertical, &pipe));
    EXPECT_EQ(RectHeight(&pipe.flange1), flange) << height;
    EXPECT_EQ(pipe.flange2.bottom, height);
    EXPECT_EQ(pipe.body.top, flange);
  }
  ElbowGeom elbow;
  const Rect big{0, 0, 1000, 1000};
  ASSERT_TRUE(MakeElbow(&big, kPictLeft, &elbow));
  EXPECT_EQ(elbow.t, 30) << "the cap, not 62";
  EXPECT_EQ(RectWidth(&elbow.lyingFlange), 30);
}

TEST_F(PictTable, OneBitPortsDrawTheFlatLookOrNothing) {
  auto drawn = [&](PictureProc proc, uInt32 style) {
    const int32 px = DrawInto(64, 40, 1, [proc, style] {
      PictStyleBlock s{style, 0, 0};
      Rect r{0, 0, 40, 64};
      PictMessageBlock b{};
      b.rect = &r;
      b.foreColor = kBlackColor, b.backColor = kWhiteColor;
      proc(kPictMsgDraw, &s, &b);
    });
    std::string pixels;
    for (int32 y = 0; y < 40; ++y)
      for (int32 x = 0; x < 64; ++x) pixels += Pix(px, x, y) == 0xFFFFFF ? '.' : '#';
    return pixels;
  };
  const std::string blank(64 * 40, '.');
  EXPECT_EQ(drawn(HopperAPictProc, 0x4200), drawn(HopperAPictProc, 0x4400));
  EXPECT_NE(drawn(HopperAPictProc, 0x4400), blank);
  EXPECT_EQ(drawn(MotorPictProc, 0x34200), drawn(MotorPictProc, 0x34400));
  EXPECT_EQ(drawn(HopperBPictProc, 0x4200), blank);
  EXPECT_NE(drawn(HopperBPictProc, 0x4400), blank);
}

TEST_F(PictTable, EmptyRectanglesNameTheShape) {
  const struct {
    PictureProc proc;
    uInt32 style;
    const char* text;
  } rows[] = {{HopperAPictProc, 0x4200, "MakeHopper empty rect"},   {HopperBPictProc, 0x4200, "MakeHopper empty rect"},
              {OpenTankPictProc, 0x4400, "Make Open Tank empty rect"}, {PipePictProc, 0xC4200, "DrawPipe empty rect"},
              {ElbowPictProc, 0x14200, "DrawElbow empty rect"},      {TeePictProc, 0x14200, "DrawTee empty rect"},
              {MotorPictProc, 0x34200, "DrawMotor empty rect"},      {PumpPictProc, 0x14200, "DrawPump empty rect"},
              {ValvePictProc, 0x44200, "DrawValve empty rect"},      {RoundValvePictProc, 0x44400, "DrawValve empty rect"}};
  DPort port = LogPort::Make();
  for (const auto& row : rows) {
    for (const int32 message : {kPictMsgDraw, kPictMsgHit}) {
      if (message == kPictMsgHit && row.proc == OpenTankPictProc) continue;  // hit as a rectangle
      capture_.Clear();
      LogPort::drawn = 0;
      const DPort* old = DInstallTestPort(&port);
      PictStyleBlock s{row.style, 0, 0};
      Rect r{10, 10, 10, 30};
      PictMessageBlock b{};
      b.rect = &r;
      b.point = P(10, 10);
      b.foreColor = kFore, b.backColor = kBack;
      row.proc(message, &s, &b);
      DInstallTestPort(old);
      EXPECT_EQ(LogPort::drawn, 0) << row.text;
      EXPECT_EQ(b.result, 0) << row.text;
      EXPECT_NE(capture_.Debug().find(row.text), std::string::npos) << row.text;
    }
  }
}

// ---- Shading -----------------------------------------------------------------------------

// A port that counts arcs, keeps the colours selected and the points that
// lines and paths go to.
struct ShadePort {
  static inline int32 arcs = 0, rects = 0;
  static inline std::set<std::pair<int32, int32>> reached;
  static inline std::vector<DColor> pens;
  static inline std::vector<Rect> painted;
  static DPort Make(int32 depth) {
    LogPort::depth = depth;
    DPort p = LogPort::Make();
    p.selectNormPen = [](DColor c, DColor) { return pens.push_back(c), 0; };
    p.lineTo = [](int32 h, int32 v) { return reached.insert({h, v}), 0; };
    p.polyLine = [](const Point* pts, int32 n) {
      for (int32 i = 0; i <= n; ++i) reached.insert({pts[i].h, pts[i].v});
      return 0;
    };
    p.paintArc = [](const Rect*, int32, int32) { return ++arcs, 0; };
    p.paintRect = [](const Rect* r) { return painted.push_back(*r), ++rects, 0; };
    return p;
  }
  static void Clear() { arcs = rects = 0, pens.clear(), painted.clear(), reached.clear(); }
};

TEST_F(PictTable, ShadingWorksInBands) {
  // A fan over a 33-pixel base in bands of 33 >> 3 = 4: a line from the
  // apex to each base pixel, a pen to each band, from the start through the
  // middle.
  DPort port = ShadePort::Make(32);
  const DPort* old = DInstallTestPort(&port);
  ShadePort::Clear();
  const Point fan[4] = {P(0, 0), P(32, 0), P(16, 40)};
  ShadeTriangleFan(fan, kPictDown, 0x202020, 0xE0E0E0, 0x808080, 3);
  std::set<std::pair<int32, int32>> base;
  for (int32 h = 0; h <= 32; ++h) base.insert({h, 0});
  base.insert({16, 40});
  EXPECT_EQ(ShadePort::reached, base);
  EXPECT_EQ(ShadePort::pens.size(), 9u);
  EXPECT_EQ(ShadePort::pens.front(), 0x202020u);
  const DColor middle = ShadePort::pens[4];
  EXPECT_NEAR(double(middle & 0xFF), 0x80, 6) << std::hex << middle;
  // Arc bands over a 64-pixel square in bands of 32 >> 3 = 4, while the
  // square is wider than two bands: 64, 56, ... 16.  Palette ports paint
  // each band twice.
  for (const auto& [depth, arcs] : {std::pair{32, 7}, std::pair{8, 14}}) {
    DInstallTestPort(old);
    port = ShadePort::Make(depth);
    DInstallTestPort(&port);
    ShadePort::Clear();
    const Rect r{0, 0, 64, 64};
    ShadeArcBands(&r, 0x303030, 0xD0D0D0, 90, 3);
    EXPECT_EQ(ShadePort::arcs, arcs) << depth;
  }
  DInstallTestPort(old);
  LogPort::depth = 8;
}

TEST_F(PictTable, SplitBandsWalkFromTheirCorner) {
  // 64 x 64 in rows and columns of 8: from the top-left corner each row
  // starts a column further right and ends at the middle; from the
  // bottom-right each row ends a column further left and starts there.
  const struct {
    int32 flags;
    int32 row, from, to;  // the painted span of row `row`
  } rows[] = {{0x30010, 0, 0, 32}, {0x30010, 3, 24, 32}, {0x30010, 4, -1, -1},
              {0xC0001, 7, 32, 64}, {0xC0001, 4, 32, 40}, {0xC0001, 3, -1, -1}};
  for (const auto& row : rows) {
    const int32 px = DrawInto(64, 64, 32, [&] {
      const Rect r{0, 0, 64, 64};
      ShadeBandsSplit(&r, 0x303030, 0x909090, 0xE0E0E0, 3, row.flags);
    });
    for (int32 x = 0; x < 64; ++x) {
      const bool painted = Pix(px, x, row.row * 8 + 4) != 0xFFFFFF;
      EXPECT_EQ(painted, x >= row.from && x < row.to) << std::hex << row.flags << std::dec << " row " << row.row
                                                      << " x " << x;
    }
  }
}

}  // namespace pictproc_test
