// Unit labels being edited: "?" marks, dimension checks, the display factor
// rescaled from the cached label, the cache's lifetime, and conversions on
// execution threads while labels are edited.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/dmprog.h"
#include "live_handles.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/rects.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "platform/qx_alert.h"
#include "panel_test_support.h"
#include "rtlib/objunits.h"
#include "rtlib/units.h"

namespace {

float64 gDisplay[8];
UPtr TestDisplay(ObjHeap, int32) { return reinterpret_cast<UPtr>(gDisplay); }

class UnitLabelTest : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(UnitsInit(), kNoErr);
    PanelInstallTextPartHooks();
    UnitLabelHooks test{};
    test.displayData = &TestDisplay;
    old_ = SetUnitLabelHooks(test);
    std::memset(gDisplay, 0, sizeof gDisplay);
    gDisplay[5] = 1;
  }
  void TearDown() override {
    ClearUnitLabelCache();
    SetUnitLabelHooks(old_);
    for (int32 l : labels_)
      if (TRecord t = PartTextRecord(panel_, l)) TDispose(t);
    PanelTest::TearDown();
  }
  // A numeric of the type with a unit label (and a display part 17).
  int32 Numeric(const tdb::TD& td, const std::string& label, int32* labelPart) {
    int32 n = Obj(kClsNumeric);
    SetW(n, kPWDDOTypeId, int32(Type(td)));
    Obj(kClsLabel, n, 17);
    *labelPart = Obj(kClsLabel, n, 65);
    labels_.push_back(*labelPart);
    SetPartText(panel_, *labelPart, reinterpret_cast<const uChar*>(label.data()), int32(label.size()), 0, 0);
    return n;
  }
  std::string Text(int32 label) {
    TRecord t = PartTextRecord(panel_, label);
    auto h = t ? reinterpret_cast<LStrHandle>(TGetText(t)) : nullptr;
    return h ? std::string(reinterpret_cast<const char*>((*h)->str), size_t((*h)->cnt)) : std::string();
  }
  static tdb::TD Metres() { return tdb::Unit(kTDUnitDBL, {{kUnitM, 1}}); }

  UnitLabelHooks old_{};
  std::vector<int32> labels_;
};

TEST_F(UnitLabelTest, EditedLabelsAreMarkedCleanedResetOrApplied) {
  struct Case {
    const char* what;
    bool unit;
    const char* typed;
    const char* after;
    bool applied;
    int32 beeps;
    bool flagKept;
  } cases[] = {
      {"kmm stops after the prefix", true, "kmm", "k?mm", false, 1, false},
      {"marks are removed", true, "k?m", "km", true, 0, true},
      {"seconds on metres reset", true, "s", "m", false, 0, false},
      {"an empty label on metres reset", true, "", "m", false, 0, false},
      {"a plain number takes no unit", false, "m", "", false, 0, false},
      {"a plain number keeps an empty label", false, "", "", true, 0, true},
      {"?? alone on a plain number", false, "??", "", true, 0, true},
  };
  // The panel's hooks beep through the window manager: the platform hears it.
  static std::atomic<int32> heard;
  heard = 0;
  PlatBeepProc oldBeep = PlatSetBeepProc([] { ++heard; });
  ShowInWindow();
  for (const Case& c : cases) {
    int32 label;
    int32 n = Numeric(c.unit ? Metres() : tdb::DBL(), c.typed, &label);
    SetW(label, 0, 0x8);
    SetBounds(FindPart(panel_, n, 17, 0), Rect{5, 5, 15, 25});
    TakeInvalid();
    int32 beeps = UnitLabelBeeps(), heardBefore = heard;
    int32 got = ApplyUnitLabelText(panel_, n);
    EXPECT_EQ(got != 0, c.applied) << c.what;
    const Rect redrawn = TakeInvalid();
    EXPECT_EQ(!DEmptyRect(&redrawn), got != 0) << c.what;
    if (c.applied) {
      EXPECT_EQ(got & 0x10000, 0x10000) << c.what;
      EXPECT_EQ(R(redrawn), R(Rect{5, 5, 15, 25})) << c.what;
    }
    EXPECT_EQ(Text(label), c.after) << c.what;
    EXPECT_EQ(UnitLabelBeeps() - beeps, c.beeps) << c.what;
    EXPECT_EQ(heard - heardBefore, c.beeps) << c.what;
    EXPECT_EQ((W(label, 0) & 0x8) != 0, c.flagKept) << c.what;
  }
  PlatSetBeepProc(oldBeep);
}

TEST_F(UnitLabelTest, TheDisplayFactorFollowsTheLabelFromTheCachedOne) {
  struct Case {
    const char* cached;
    const char* typed;
    float64 factor, offset;
  } cases[] = {
      {"m", "km", 1.0 / 1000, 0},
      {"km", "m", 1000, 0},
      {nullptr, "mm", 1000, 0},
      {"", "km", 1.0 / 1000, 0},
  };
  for (const Case& c : cases) {
    int32 label;
    int32 n = Numeric(Metres(), c.cached ? c.cached : "", &label);
    if (c.cached) GetCachedUnitLabel(panel_, label);
    SetPartText(panel_, label, reinterpret_cast<const uChar*>(c.typed), int32(std::strlen(c.typed)), 0, 0);
    gDisplay[5] = 1;
    gDisplay[6] = 0;
    EXPECT_EQ(ApplyUnitLabelText(panel_, n), 0x10000) << c.typed;
    EXPECT_DOUBLE_EQ(gDisplay[5], c.factor) << c.typed;
    EXPECT_DOUBLE_EQ(gDisplay[6], c.offset) << c.typed;
    ClearUnitLabelCache();
  }
  // Temperatures: the offsets move the display offset.
  int32 label;
  int32 n = Numeric(tdb::Unit(kTDUnitDBL, {{kUnitK, 1}}), "K", &label);
  GetCachedUnitLabel(panel_, label);
  SetPartText(panel_, label, reinterpret_cast<const uChar*>("degC"), 4, 0, 0);
  gDisplay[5] = 1;
  gDisplay[6] = 0;
  EXPECT_EQ(ApplyUnitLabelText(panel_, n), 0x10000);
  EXPECT_DOUBLE_EQ(gDisplay[5], 1);
  EXPECT_DOUBLE_EQ(gDisplay[6], -273.15);
}

TEST_F(UnitLabelTest, UnderTheVIFlagAMisfitIsReportedNotReset) {
  int32 label;
  int32 n = Numeric(Metres(), "s", &label);
  SetW(label, 0, 0x8);
  VIRec(vi_)->flags |= 0x80000;
  ClearReports();
  EXPECT_EQ(ApplyUnitLabelText(panel_, n), 0);
  EXPECT_EQ(Asserts(), 1);
  EXPECT_EQ(Text(label), "s");
  EXPECT_EQ(W(label, 0) & 0x8, 0x8);
  VIRec(vi_)->flags &= ~0x80000u;
}

TEST_F(UnitLabelTest, BadObjectsAndTextsChangeNothing) {
  // No label part: reported, 0, the display untouched.
  int32 bare = Obj(kClsNumeric);
  SetW(bare, kPWDDOTypeId, int32(Type(Metres())));
  ClearReports();
  gDisplay[5] = 7;
  EXPECT_EQ(ApplyUnitLabelText(panel_, bare), 0);
  EXPECT_EQ(Asserts(), 1);
  EXPECT_EQ(Reports("didn't have a unit label"), 1);
  EXPECT_EQ(gDisplay[5], 7);
  // A long text that does not parse is not marked past 255 characters.
  int32 label;
  int32 n = Numeric(Metres(), std::string(254, 'q'), &label);
  EXPECT_EQ(ApplyUnitLabelText(panel_, n), 0);
  EXPECT_EQ(Text(label), std::string(1, '?') + std::string(254, 'q'));
  EXPECT_EQ(ApplyUnitLabelText(panel_, n), 0);
  EXPECT_EQ(Text(label).size(), 255u) << "a second edit of the marked text stays within 255";
  // Any bytes, NULs among them, parse without reading past the text.
  std::string bytes("k\0m\xff?", 5);
  n = Numeric(Metres(), bytes, &label);
  EXPECT_EQ(ApplyUnitLabelText(panel_, n), 0);
  EXPECT_LE(Text(label).size(), 255u);
}

TEST_F(UnitLabelTest, ParseUnitTextGivesZerosForBadText) {
  struct Case {
    const char* text;
    float64 offset, scale;
  } cases[] = {{"km", 0, 1000}, {"degC", 273.15, 1}, {"kmm", 0, 0}, {"m*2", 0, 0}};
  for (const Case& c : cases) {
    int32 len = int32(std::strlen(c.text));
    LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + len));
    (*h)->cnt = len;
    std::memcpy((*h)->str, c.text, size_t(len));
    float64 o = -1, s = -1;
    EXPECT_EQ(ParseUnitText(nullptr, 0, 0, &o, &s, 0, h), 0);
    EXPECT_DOUBLE_EQ(o, c.offset) << c.text;
    EXPECT_DOUBLE_EQ(s, c.scale) << c.text;
    ClearReports();
    EXPECT_EQ(ParseUnitText(&o, 0, 0, nullptr, nullptr, 0, h), 0);
    EXPECT_EQ(Asserts(), 1);
    DSDisposeHandle(reinterpret_cast<UHandle>(h));
  }
}

TEST_F(UnitLabelTest, TheCacheHoldsNothingAfterAClearOrForAnEmptyLabel) {
  int32 label;
  int32 n = Numeric(Metres(), "", &label);
  int32 before = LiveHandleCount();
  GetCachedUnitLabel(panel_, label);
  EXPECT_EQ(LiveHandleCount(), before) << "an empty label caches nothing";
  SetPartText(panel_, label, reinterpret_cast<const uChar*>("km"), 2, 0, 0);
  before = LiveHandleCount();
  GetCachedUnitLabel(panel_, label);
  EXPECT_EQ(LiveHandleCount(), before + 1);
  GetCachedUnitLabel(panel_, label);
  EXPECT_EQ(LiveHandleCount(), before + 1) << "a new edit replaces the copy";
  EXPECT_EQ(ApplyUnitLabelText(panel_, n), 0x10000);
  ClearUnitLabelCache();
  EXPECT_EQ(LiveHandleCount(), before);
}

TEST_F(UnitLabelTest, ConversionsGoThroughConvertNumBothWays) {
  struct Case {
    int32 type;
    float64 in, offset, scale;
    int32 direction;
    float64 want;
  } cases[] = {
      {kTDI16, 3, 0, 1000, 1, 3000},   {kTDI16, 40, 0, 1000, 1, 32767}, {kTDI16, -40, 0, 1000, 1, -32768},
      {kTDU8, 5, 0, 0.5, 1, 2},        {kTDU8, 7, 0, 0.5, 1, 4},        {kTDU8, 1, 0, -1, 1, 0},
      {kTDI16 | 0x10, 25, 0, 10, 0, 2}, {kTDDBL, 1, 0, 0, 0, 1.0 / 0.0},
  };
  for (const Case& c : cases) {
    uChar in[16] = {}, out[16] = {};
    ConvertNum(kTDDBL, &c.in, c.type & ~0x10, in);
    UnitConvertValue(in, c.direction, out, c.type, c.offset, c.scale);
    float64 got;
    ConvertNum(c.type & ~0x10, out, kTDDBL, &got);
    EXPECT_EQ(got, c.want) << c.type << " " << c.in;
  }
  // The data manager's form: scale, then offset; in place or into the destination.
  int16 v = 5, r = 0;
  DMUnitConvertValue(&v, 1, &r, kTDI16, 2, 1);
  EXPECT_EQ(r, 11);
  DMUnitConvertValue(&v, 0, nullptr, kTDI16, 2, 1);
  EXPECT_EQ(v, 11);
}

// Execution threads convert on their own objects, rounds times each, while
// the user-interface thread edits another object's label until they are done;
// the conversions that came out wrong, by thread.
std::vector<int> ConvertWhileEditing(ObjHeap panel, int32 n, int32 other, int32 edited, int rounds) {
  constexpr int kThreads = 4;
  std::vector<int> wrong(kThreads, 0);
  std::atomic<int> running{kThreads};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < rounds; ++i) {
        float64 v = i, r = 0;
        if (UnitConvertObjValue(panel, n, &v, 1, &r) != 1 || r != 1000.0 * i) ++wrong[size_t(t)];
      }
      running.fetch_sub(1);
    });
  static const char* kEdits[] = {"mm", "kmm", "s", "cm", "in"};
  for (int i = 0; i < 200 || running.load() > 0; ++i) {
    const char* e = kEdits[i % 5];
    GetCachedUnitLabel(panel, edited);
    SetPartText(panel, edited, reinterpret_cast<const uChar*>(e), int32(std::strlen(e)), 0, 0);
    ApplyUnitLabelText(panel, other);
    ClearUnitLabelCache();
  }
  for (auto& th : threads) th.join();
  return wrong;
}

// Small enough for the race checker.
TEST_F(UnitLabelTest, ConcurrentConversionsWhileLabelsAreEdited) {
  int32 label, edited;
  int32 n = Numeric(Metres(), "km", &label);
  int32 other = Numeric(Metres(), "m", &edited);
  EXPECT_EQ(ConvertWhileEditing(panel_, n, other, edited, 2000), std::vector<int>(4, 0));
}

// The full run: 100,000 conversions a thread.
TEST_F(UnitLabelTest, ConversionsStayExactThroughAFullRunOfEdits) {
  int32 label, edited;
  int32 n = Numeric(Metres(), "km", &label);
  int32 other = Numeric(Metres(), "m", &edited);
  EXPECT_EQ(ConvertWhileEditing(panel_, n, other, edited, 100000), std::vector<int>(4, 0));
}

}  // namespace
