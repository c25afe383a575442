// The option words of a VI's panel window follow the VI's kind, state and
// the global window-option mode; placement stores the first in the panel
// and the end of the last run sweeps the panels that kept their options.
#include "engine/exec/panelplace.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/viload.h"
#include "platform/qx_window.h"
#include "viinst_test_support.h"

using namespace qxvitest;
using viinst::ExtHalf;
using viinst::SetExtHalf;

namespace {

class PanelPlaceTest : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    SetWindowOptionMode(0);
    vi_ = NewVICore(kVIKindDatalog, PS("placed"), -1);
    ASSERT_NE(vi_, nullptr);
    ASSERT_EQ(OpenFrontPanel(vi_), 1);
    panel_ = VIRec(vi_)->panelHeap;
    ASSERT_NE(panel_, nullptr);
    VIRec(vi_)->windowOptions = 0x1234;
    SetExtHalf(panel_, kHeapExtWindowOptions, 0x0101);
    SetExtHalf(panel_, kHeapExtWindowStyle, 0x0202);
  }
  void TearDown() override {
    SetWindowOptionMode(0);
    VITest::TearDown();
  }
  std::pair<uInt16, uInt16> Options() {
    uInt16 a = 0, b = 0;
    GetPanelWindowOptions(panel_, &a, &b);
    return {a, b};
  }
  void SetState(uInt32 s) { VIRec(vi_)->eState = (VIRec(vi_)->eState & ~kVIStateMask) | s; }
  void SetHeapFlags(uInt32 bits) { OHSetWord(panel_, kOHFlags, bits); }
  UHandle vi_ = nullptr;
  ObjHeap panel_ = nullptr;
};

using Opts = std::pair<uInt16, uInt16>;

TEST_F(PanelPlaceTest, ATopLevelVIGetsItsOwnOptionsOnlyWhereTheStateAsks) {
  struct Case {
    const char* what;
    uInt32 state;
    int32 mode;
    uInt32 viFlags, heapFlags;
    bool own;
  };
  const Case cases[] = {
      {"idle, mode 0", 1, 0, 0, 0, false},
      {"running", 2, 0, 0, 0, true},
      {"reserved", 5, 0, 0, 0, true},
      {"busy as a subVI", 8, 0, 0, 0, true},
      {"idle, mode 2", 1, 2, 0, 0, true},
      {"idle, mode 1 without run-when-opened", 1, 1, 0, 0, false},
      {"idle, mode 1 with run-when-opened", 1, 1, kVIFlagRunWhenOpened, 0, true},
      {"idle, heap bit 23", 1, 0, 0, kPanelHeapKeepsOptions, true},
      {"bad, mode 2", 0, 2, 0, kPanelHeapKeepsOptions, false},
  };
  const uInt32 flags = VIRec(vi_)->flags;
  for (const Case& c : cases) {
    SetState(c.state);
    SetWindowOptionMode(c.mode);
    VIRec(vi_)->flags = flags | c.viFlags;
    SetHeapFlags(c.heapFlags);
    const Opts want = c.own ? Opts{0x1234, 0x0202} : Opts{kWindowOptionsDefault, kWindowOptions2Default};
    EXPECT_EQ(Options(), want) << c.what;
    EXPECT_EQ(ExtHalf(panel_, kHeapExtWindowOptions), want.first) << c.what << ": the first word is stored";
  }
  VIRec(vi_)->flags = flags;
  SetHeapFlags(0);
  SetState(1);
  gQXWindowOptionMode = 2;  // as the loader sets it while it opens a panel
  EXPECT_EQ(Options(), (Opts{0x1234, 0x0202})) << "the loader's mode is the one read";
}

TEST_F(PanelPlaceTest, OtherKindsTakeTheHeadersWords) {
  struct Case {
    int16 kind;
    uInt16 second;
  };
  const Case cases[] = {{kVIKindDialog, 0x0202}, {1, kWindowOptions2Kind1}, {kVIKindControl, kWindowOptions2Default}};
  for (const Case& c : cases) {
    VIRec(vi_)->viKind = c.kind;
    EXPECT_EQ(Options(), (Opts{0x0101, c.second})) << c.kind;
  }
  VIRec(vi_)->viKind = kVIKindDatalog;
  // A heap of another kind gets the defaults.
  const uInt32 kind = OHWord(panel_, kOHKind);
  OHSetWord(panel_, kOHKind, FourCC("XXXX"));
  SetState(2);
  EXPECT_EQ(Options(), (Opts{kWindowOptionsDefault, kWindowOptions2Default}));
  OHSetWord(panel_, kOHKind, kind);
  uInt16 a = 0;
  GetPanelWindowOptions(nullptr, &a, nullptr);
  EXPECT_EQ(a, kWindowOptionsDefault);
}

TEST_F(PanelPlaceTest, PlacementNeedsAWindowAndTheLastRunSweepsKeptPanels) {
  SetState(2);
  // A minimised window is left alone until it is restored.
  const WindowRef w = viinst::PanelWindow(panel_);
  PlatShowWindow(WHostWindow(w), kPlatSwMinimize);
  PlaceVIPanelWindow(vi_);
  EXPECT_EQ(ExtHalf(panel_, kHeapExtWindowOptions), 0x0101);
  PlatShowWindow(WHostWindow(w), kPlatSwRestore);
  PlaceVIPanelWindow(vi_);
  EXPECT_EQ(ExtHalf(panel_, kHeapExtWindowOptions), 0x1234);
  // Without a window nothing is placed.
  UHandle closed = NewVICore(kVIKindDatalog, PS("closed"), -1);
  ASSERT_NE(closed, nullptr);
  ObjHeap other = VIRec(closed)->panelHeap;
  if (other) {
    SetExtHalf(other, kHeapExtWindowOptions, 0x0505);
    PlacePanelWindow(other);
    EXPECT_EQ(ExtHalf(other, kHeapExtWindowOptions), 0x0505);
    OHSetWord(other, kOHFlags, kPanelHeapKeepsOptions);
  }
  // The sweep: the open panel that kept its options loses bit 23 and is
  // placed again with the defaults of an idle VI.
  SetState(1);
  SetHeapFlags(kPanelHeapKeepsOptions | 0x10);
  SetExtHalf(panel_, kHeapExtWindowOptions, 0x0707);
  PlaceVIPanelWindow(nullptr);
  EXPECT_EQ(OHWord(panel_, kOHFlags), 0x10u);
  EXPECT_EQ(ExtHalf(panel_, kHeapExtWindowOptions), kWindowOptionsDefault);
  if (other) { EXPECT_EQ(OHWord(other, kOHFlags), kPanelHeapKeepsOptions) << "no window: left alone"; }
}

}  // namespace
