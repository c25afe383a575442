// The help method: the box's proportion, the styled runs, the default
// description, a hidden label laid out in the picture and left hidden, and
// the panel's own answer.
#include <cstring>
#include <string>

#include "draw_start.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/textdraw.h"
#include "panel/objload.h"
#include "panel/ohelp.h"
#include "panel/textparts.h"
#include "panel_test_support.h"
#include "tools/helpwriter.h"

namespace {

std::vector<int32> gPictures;

class HelpMethod : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    window_ = StartDrawingWindow(Rect{40, 40, 400, 600}, &port_);
    ASSERT_NE(window_, kWNoWindow);
    ASSERT_EQ(RInitResources(), kNoErr);
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    qxbuild::AddHelpResources(&w);
    const rsrcw::Bytes file = w.Write();
    ptest::OpenRunTimeRsrcBytes(file, &file_);
    if (HasFatalFailure()) return;
    HelpForgetDefaultDescription();
    gPictures.clear();
    SetHelpImageTaker([](int32 p) { gPictures.push_back(p); });
  }
  void TearDown() override {
    for (int32 p : gPictures) IRelease(p);
    SetHelpImageTaker(nullptr);
    HelpForgetDefaultDescription();
    SetRunTimeRsrcFile(0);
    RCloseFile(file_);
    window_ = kWNoWindow;
    StopDrawingWindow(&port_);
    PanelTest::TearDown();
  }
  RsrcFileRef file_ = 0;
  WPortState port_{};
};

TEST(HelpBox, TheBoxKeepsItsProportionAndTheLabelsWidth) {
  int32 h = 0, w = 0;
  HelpBoxSize(1000, 16, 0, &h, &w);
  EXPECT_EQ(h, 115);
  EXPECT_EQ(w, 186);
  HelpBoxSize(1000, 16, 200, &h, &w);
  EXPECT_EQ(w, 200);
  HelpBoxSize(0x7FFFFFFF, 0x7FFFFFFF, 0, &h, &w);  // no overflow: pinned to a rectangle's range
  EXPECT_EQ(h, 32767);
}

TEST_F(HelpMethod, TagsBecomeRunsAndLeaveNoCharacters) {
  const Rect r{0, 0, 100, 200};
  const char text[] = "a <B>b</B> c";
  TRecord t = HelpStyledText(&r, reinterpret_cast<const uChar*>(text), int32(std::strlen(text)));
  ASSERT_NE(t, nullptr);
  UHandle h = TGetText(t);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(*h) + 4, GetNative32(*h)), "a b c");
  ASSERT_EQ(TGetRunCount(t), 3);
  int32 fonts[3], starts[3], ends[3];
  DColor c;
  for (int32 i = 0; i < 3; ++i) TGetRunInfo(t, i, &fonts[i], &c, &starts[i], &ends[i]);
  EXPECT_EQ(starts[1], 2);
  EXPECT_EQ(ends[1], 3);
  EXPECT_EQ(fonts[1], TStandardFont(3)) << "the emphasised word";
  EXPECT_EQ(fonts[0], fonts[2]);
  TDispose(t);
}

// An object without a description gets the default one laid out 8 pixels
// under its hidden label, which stays hidden; the panel answers 1 alone.
TEST_F(HelpMethod, AHiddenLabelIsLaidOutAndStaysHidden) {
  const int32 numeric = Obj(kClsNumeric);
  const int32 label = Obj(kClsLabel, numeric, 16);
  SetPartText(panel_, label, reinterpret_cast<const uChar*>("Speed"), 5, 0, 0);
  const Rect lr{20, 30, 36, 90};
  std::memcpy(*panel_ + label + kObjBounds, &lr, sizeof lr);
  OHSetWord(panel_, uInt32(label), OHWord(panel_, uInt32(label)) | kObjFlagHidden);
  ASSERT_EQ(OHelp(panel_, numeric, 0), 1);
  ASSERT_EQ(gPictures.size(), 1u);
  Rect frame;
  IGetRect(gPictures[0], &frame);
  EXPECT_EQ(frame.top, lr.top - 4) << "the label heads the picture";
  EXPECT_EQ(frame.left, lr.left - 4);
  EXPECT_GT(frame.bottom, lr.bottom + 8 + 4) << "the default description below it";
  EXPECT_TRUE(OHWord(panel_, uInt32(label)) & kObjFlagHidden);
  EXPECT_EQ(OHelp(panel_, MakeRoot(), 0), 1);
  EXPECT_EQ(gPictures.size(), 1u) << "the panel builds nothing";
}

}  // namespace
