// The VI window's frame around its content, its tool-bar and menu-bar
// rectangles, the region cache, and the retrieval field and mark display
// that retrieval mode and the datalog functions reach through their hooks.
#include "engine/exec/panelplace.h"
#include "engine/exec/retrieve.h"
#include "engine/viinst_test_support.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/window/wport.h"
#include "rtlib/datalog.h"
#include "shell/viwindow.h"
#include "shell/vishell.h"

using namespace qxvitest;

namespace {

std::string R(const Rect& r) {
  return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
         std::to_string(r.right);
}
std::string T(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

class VIWindowBoundary : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    ShellInstallEngineHooks();
    vi_ = NewVICore(kVIKindDatalog, PS("Pump.vi"), -1);
    ASSERT_NE(vi_, nullptr);
    ASSERT_EQ(OpenFrontPanel(vi_), 1);
    panel_ = VIRec(vi_)->panelHeap;
  }
  void TearDown() override {
    SetVIWindowHooks(nullptr);
    SetDatalogUIHooks(nullptr);
    SetRetrieveLogHooks(nullptr);
    SetRunCmdHooks(nullptr);
    VITest::TearDown();
  }
  void SetParts(uInt16 parts, const Rect& content) {
    viinst::SetExtHalf(panel_, kHeapExtWindowOptions, parts);
    std::memcpy(viinst::ExtAt(panel_, kHeapExtContentRect), &content, sizeof content);
  }
  UHandle vi_ = nullptr;
  ObjHeap panel_ = nullptr;
};

TEST_F(VIWindowBoundary, TheFrameHoldsTheParts) {
  const Rect c{100, 50, 400, 450};
  struct Case {
    int32 parts;
    const char* window;
    const char* toolBar;  // "" for none
    const char* menuBar;
  };
  const Case cases[] = {
      {0, "100,50,400,450", "", ""},
      {kVIWindToolBar, "78,50,400,450", "78,50,100,450", ""},
      {kVIWindMenuBar, "80,50,400,450", "", "80,50,100,450"},
      {kVIWindToolBar | kVIWindMenuBar, "58,50,400,450", "78,50,100,450", "58,50,78,450"},
      {kVIWindToolBar | kVIWindIconPane, "65,50,400,450", "65,50,100,415", ""},
      {kVIWindHScroll | kVIWindVScroll, "100,50,415,465", "", ""},
      {31, "58,50,415,465", "78,50,100,430", "58,50,78,430"},
  };
  for (const Case& k : cases) {
    Rect w, back, bar;
    VIWindContentToWindow(k.parts, &c, &w);
    EXPECT_EQ(R(w), k.window) << k.parts;
    VIWindWindowToContent(0, k.parts, &w, &back);
    EXPECT_EQ(R(back), R(c)) << k.parts << ": the exact inverse";
    SetParts(uInt16(k.parts), c);
    EXPECT_EQ(VIWindStatePanelRect(panel_, &bar), k.toolBar[0] != 0) << k.parts;
    EXPECT_EQ(bar.right > bar.left ? R(bar) : "", k.toolBar) << k.parts;
    EXPECT_EQ(VIWindMenuBarRect(panel_, &bar), k.menuBar[0] != 0) << k.parts;
    EXPECT_EQ(bar.right > bar.left ? R(bar) : "", k.menuBar) << k.parts;
  }
  // Every combination of parts comes back.
  for (int32 parts = 0; parts < 32; ++parts) {
    Rect w, back;
    VIWindContentToWindow(parts, &c, &w);
    VIWindWindowToContent(0, parts, &w, &back);
    EXPECT_EQ(R(back), R(c)) << parts;
  }
}

// A slot redraw waits for the window's update at the image's slot of the
// tool bar; no slot or no tool bar: nothing.
TEST_F(VIWindowBoundary, ASlotRedrawInvalidatesTheImagesSlot) {
  const struct {
    int32 parts, image;
    const char* update;
  } cases[] = {{kVIWindToolBar, 50, "79,78,98,98"}, {kVIWindToolBar, 15, "79,140,98,160"},
               {kVIWindToolBar | kVIWindMenuBar, 60, "79,54,98,74"}, {kVIWindToolBar, 61, ""},
               {kVIWindMenuBar, 50, ""}};
  const WindowRef w = viinst::PanelWindow(panel_);
  for (const auto& k : cases) {
    SetParts(uInt16(k.parts), Rect{100, 50, 400, 450});
    WValidate(w);
    UpdateToolbarButton(vi_, k.image, 0);
    Rect u;
    EXPECT_EQ(WGetUpdateRect(w, &u) ? R(u) : "", k.update) << k.image;
  }
}

TEST_F(VIWindowBoundary, TheRegionCacheOfAFrontPanelIsDisposed) {
  const int32 root = viinst::PanelRoot(panel_);
  ASSERT_GT(root, 0);
  uChar* word = *panel_ + root + 4 * kRootRegionWord;
  const Rect r{0, 0, 5, 5};
  const DRgn region = DRectRgn(&r);
  PutNative32(word, region);
  const uInt32 kind = OHWord(panel_, kOHKind);
  OHSetWord(panel_, kOHKind, FourCC("XXXX"));
  VIWindDisposeRgnCache(panel_);
  EXPECT_EQ(GetNative32(*panel_ + root + 4 * kRootRegionWord), region) << "another heap kind";
  OHSetWord(panel_, kOHKind, kind);
  PlacePanelWindow(panel_);  // placement disposes it last
  EXPECT_EQ(GetNative32(*panel_ + root + 4 * kRootRegionWord), 0u);
  EXPECT_EQ(PlatObjectKind(region), kPlatObjNone);
  VIWindDisposeRgnCache(panel_);  // nothing cached: nothing done
  VIWindDisposeRgnCache(nullptr);
}

TEST_F(VIWindowBoundary, TheDefaultLogNameFollowsTheVIsName) {
  struct Case {
    const char* name;
    const char* log;
  };
  const Case cases[] = {{"Pump.vi", "Pump.log"}, {"Pump", "Pump.log"}, {"a.b.vi", "a.b.log"}, {"", ".log"}};
  for (const Case& c : cases) {
    const PS n(c.name);
    std::memcpy(VIRec(vi_)->name, n.s, size_t(n.s[0]) + 1);
    Str255 log;
    ASSERT_NE(DatalogUI().defaultLogName, nullptr);
    DatalogUI().defaultLogName(vi_, log);
    EXPECT_EQ(T(log), c.log) << c.name;
  }
}

TEST_F(VIWindowBoundary, RetrievalModeShowsItsFieldAndMarkInTheToolBar) {
  RetrieveLogHooks log{};
  log.openLog = [](UHandle) -> MgErr { return kNoErr; };
  log.recordCount = [](UHandle) -> int32 { return 10; };
  log.showRecord = [](UHandle vi) -> MgErr {
    int32 n = 0;
    Str255 t;
    DatalogUI().retrieveFieldText(vi, t);
    for (int32 i = 1; i <= t[0]; ++i) n = n * 10 + (t[i] - '0');
    DatalogUI().showMark(vi, n == 9 ? 1 : 0);
    return kNoErr;
  };
  SetRetrieveLogHooks(&log);
  EnterRetrieveMode(vi_);
  RecordField f{};
  ASSERT_TRUE(VIRecordField(vi_, &f));
  EXPECT_EQ(R(f.bounds), "4,96,19,128");
  EXPECT_EQ(f.text, "0");
  EXPECT_TRUE(f.allSelected && f.active);
  Rect bar;
  ASSERT_TRUE(VIWindStatePanelRect(panel_, &bar)) << "retrieval mode has a tool bar";
  ShowLogRecord(vi_, 99);
  ASSERT_TRUE(VIRecordField(vi_, &f));
  EXPECT_EQ(f.text, "9");
  EXPECT_EQ(f.mark, 1);
  // The datalog functions write the field too.
  DatalogUI().setRetrieveFieldText(vi_, PS("4"));
  Str255 t;
  DatalogUI().retrieveFieldText(vi_, t);
  EXPECT_EQ(T(t), "4");
  ExitRetrieveMode(vi_);
  EXPECT_FALSE(VIRecordField(vi_, nullptr));
  EXPECT_EQ(VIRecordFieldCount(), 0);
  DatalogUI().retrieveFieldText(vi_, t);
  EXPECT_EQ(T(t), "") << "no field: blank";
}

}  // namespace
