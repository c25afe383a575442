// Pens: the table's numbers and growth, its refusals, the skipped host
// calls, the normal pen's colour cache, and pens on black-and-white ports.
#include <cstring>

#include "draw_window.h"
#include "mgsource/draw/dcolors.h"

namespace {

const uChar kChecker[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};

class Pens : public DrawWindow {
 protected:
  std::vector<std::string> Traced(const std::function<void()>& draw) {
    PlatTraceRecorder trace;
    PlatSetTraceSink(gDrawState.dc, &trace);
    draw();
    PlatSetTraceSink(gDrawState.dc, nullptr);
    return trace.lines;
  }
};

TEST_F(Pens, NumbersAreReusedTheTableGrowsByTenAndBadNumbersAreRefused) {
  PenState s{};
  ASSERT_EQ(DPenCount(), 10);
  for (int32 expect = 3; expect <= 9; ++expect) EXPECT_EQ(Pen(0xFF0000, 2), expect);
  MemFailNthAllocation(1);
  EXPECT_EQ(Pen(0xFF0000, 2), 0) << "the table cannot grow";
  MemFailNthAllocation(0);
  EXPECT_EQ(DPenCount(), 10);
  EXPECT_EQ(Pen(0xFF0000, 2), 10) << "the 11th entry";
  EXPECT_EQ(DPenCount(), 20);
  DDestroyPen(5);
  EXPECT_EQ(DGetPenState(5, kPenAll, &s), kPenErr) << "a freed pen does not exist";
  // A new pen takes the masked fields from the state, the others from its base.
  PenState fore{};
  fore.fore = 0x00FF00;
  EXPECT_EQ(DNewPen(4, kPenFore, &fore), 5);
  ASSERT_EQ(DGetPenState(5, kPenAll, &s), kNoErr);
  EXPECT_EQ(s.fore, 0x00FF00u);
  EXPECT_EQ(s.width, 2);
  for (int32 pen : {0, DPenCount(), -5}) EXPECT_EQ(DGetPenState(pen, kPenAll, &s), kPenErr) << pen;
  EXPECT_EQ(DSetPenState(kNormalPen, kPenWidth, &s), kPenErr);
  DDestroyPen(0);
  DDestroyPen(1);
  EXPECT_EQ(DGetPenState(kNormalPen, kPenAll, &s), kNoErr);
  EXPECT_EQ(s.fore, 0u);
  // No memory for the table: the debug line, and no pen.
  End();
  DDisposeDraw();
  capture_.Clear();
  MemFailNthAllocation(1);
  DInitDraw();
  MemFailNthAllocation(0);
  EXPECT_NE(capture_.Debug().find("Can't allocate pen table"), std::string::npos);
  EXPECT_EQ(DGetPenState(kNormalPen, kPenAll, &s), kPenErr);
  DInitDraw();
  EXPECT_EQ(DGetPenState(kGrayPen, kPenAll, &s), kNoErr);
}

TEST_F(Pens, EqualFieldsAndASecondSelectionMakeNoHostCall) {
  const int32 pen = Pen(0x0000FF, 3, 0, kChecker);
  DSelectPen(pen, 0, 0xFFFFFF);
  PenState same{};
  ASSERT_EQ(DGetPenState(pen, kPenAll, &same), kNoErr);
  EXPECT_TRUE(Traced([&] {
                EXPECT_EQ(DSetPenState(pen, kPenAll, &same), kNoErr);
                DSelectPen(pen, 0, 0xFFFFFF);
              }).empty());
  // A changed field is applied: the new width reaches the context.
  same.width = 5;
  const auto lines = Traced([&] { EXPECT_EQ(DSetPenState(kCurrentPen, kPenWidth, &same), kNoErr); });
  EXPECT_NE(std::find(lines.begin(), lines.end(), "pen 0 5 0xFF0000"), lines.end());
  DSelectNormPen(0x00FF00, 0);
  EXPECT_TRUE(Traced([] { DSelectNormPen(0x00FF00, 0); }).empty());
  EXPECT_TRUE(capture_.Alerts().empty());
}

TEST_F(Pens, CacheEvictsTheLeastUsedNeverTheSelectedAndRestartsCounts) {
  // 24 palette colours, one of them used once and the others twice; the
  // 25th live entry evicts the one used once, not the 25th colour.
  auto select = [](int32 index) {
    DForgetPen();
    DSelectNormPen(DIndexToColor(index, 8), 0);
  };
  for (int32 k = 0; k < 24; ++k) {
    select(10 + k);
    if (k != 5) select(10 + k);
  }
  DCacheInfo info;
  DGetCacheInfo(&info);
  ASSERT_EQ(info.live, 24);
  select(34);
  DGetCacheInfo(&info);
  EXPECT_EQ(info.live, 24);
  EXPECT_FALSE(info.held[15]);
  EXPECT_TRUE(info.held[34]);
  EXPECT_EQ(info.useCount[34], 1u);
  select(35);
  DGetCacheInfo(&info);
  EXPECT_FALSE(info.held[34]) << "now the least used";
  EXPECT_TRUE(info.held[35]);
  DSetCacheUseCount(35, 1000000);
  select(35);
  DGetCacheInfo(&info);
  EXPECT_EQ(info.useCount[35], 1u);
  // A colour off the palette on a deep target: the one-off pair, exact.
  uInt32 pen = 0, brush = 0;
  const auto lines = Traced([] { DSelectNormPen(0x123457, 0); });
  DGetOneOffPair(&pen, &brush);
  EXPECT_NE(pen, 0u);
  EXPECT_NE(brush, 0u);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "brush solid 0x573412"), lines.end());
  DGetCacheInfo(&info);
  EXPECT_EQ(info.live, 24);
}

TEST_F(Pens, BlackAndWhitePortsUseTheGivenColoursAndExclusiveOrInverts) {
  const Rect r{0, 0, 8, 8};
  const int32 pen = Pen(0xFF0000, 1, 0, kChecker, 0x00FF00);
  gDrawState.bw = 1;
  DSelectPen(pen, 0, 0xFFFFFF);
  DPaintRect(&r);
  // Pixel (x, y) shows pattern cell (x + 1, y): the window's left edge is
  // at 41.  Cell (1, 0) is a 0 bit, cell (2, 0) a 1 bit.
  EXPECT_EQ(At(0, 0), 0xFFFFFFu);
  EXPECT_EQ(At(1, 0), 0u);
  gDrawState.bw = 0;
  DSelectPen(pen, 0, 0xFFFFFF);
  DPaintRect(&r);
  EXPECT_EQ(At(0, 0), 0x00FF00u);
  EXPECT_EQ(At(1, 0), 0xFF0000u);
  PenState s{};
  ASSERT_EQ(DGetPenState(pen, kPenFore | kPenBack, &s), kNoErr);
  EXPECT_EQ(s.fore, 0xFF0000u) << "its own colours return";
  // Mode 2 inverts whatever its colours: red over the checker's cells.
  const int32 xorPen = Pen(0x0000FF, 1, 2);
  DSelectPen(xorPen, 0, 0xFFFFFF);
  const uInt32 before = At(0, 0);
  DPaintRect(&r);
  EXPECT_EQ(At(0, 0), before ^ 0xFFFFFFu);
  EXPECT_EQ(At(8, 0), 0xFFFFFFu);
  EXPECT_TRUE(capture_.Alerts().empty());
}

TEST_F(Pens, TransferModesBeyondTheFillsReportAndCopy) {
  // Mode 9 lies outside the table: reported like modes 3 to 7, then a copy.
  const int32 pen = Pen(0x000000, 1, 9);
  EXPECT_GE(capture_.Alerts().size(), 1u);
  DSelectPen(pen, 0, 0xFFFFFF);
  capture_.Clear();
  const Rect r{2, 2, 6, 6};
  DPaintRect(&r);
  EXPECT_EQ(capture_.Alerts().size(), 1u);
  EXPECT_EQ(Changed(), 16);
  EXPECT_EQ(At(2, 2), 0u);
}

}  // namespace
