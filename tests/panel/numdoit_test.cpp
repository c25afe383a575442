// Operating numerics, rings and slides: arrows held and keys, typed text
// filtered and committed, the radix choice, ring menus and slider tracking.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <vector>

#include "draw_start.h"
#include "live_handles.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/counted_strings.h"
#include "mgsource/numconv.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/winproc.h"
#include "panel/datamsg.h"
#include "panel/numdoit.h"
#include "panel/numincdec.h"
#include "panel/numoperate.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "platform/qx_activate.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"
#include "rtlib/units.h"
#include "panel_test_support.h"

namespace {

class NumDoit : public ptest::PanelRootTest {
 protected:
  void TearDown() override {
    FPReleaseKeyFocus(panel_);
    for (int32 o : texts_)
      if (TRecord t = PartTextRecord(panel_, o)) TDispose(t);
    if (previous_) TRSetStackTop(previous_);
    // A tracked part of this panel must not outlive it.
    SetTrackObject(nullptr, 0, nullptr, nullptr, 1);
    PanelRootTest::TearDown();
  }
  // Sends the action down a fresh path: the object's frame, then the end.
  int32 Do(int32 obj, int32 level, int32 index, int32 action, ActionParams* p) {
    TransactionFrame* top = Top();
    top[0] = TransactionFrame{obj, kCatDDO, level, index}, top[1] = TransactionFrame{};
    return OSendMessage<int32>(kMsgODoit, panel_, obj, top, action, p);
  }
  TransactionFrame* Top() {
    if (!previous_) previous_ = TRPushFrame();
    return static_cast<TransactionFrame*>(TRStackTop());
  }
  // A control of the type and class, 0, 0 to 100, 100, with a part of that
  // id at 10, 10 to 20, 20.
  int32 Numeric(const tdb::TD& td, int32 cls, int16 partId, int32* part) {
    int32 n = 0;
    EXPECT_EQ(Alloc(Control(td, cls, &n, root_)), kNoErr);
    SetBounds(n, Rect{0, 0, 100, 100});
    *part = vib::NewObject(panel_, partId == kTextPart ? kClsLabel : kClsCosmetic, 48, n, partId, 0);
    SetBounds(*part, Rect{10, 10, 20, 20});
    if (partId == kTextPart) texts_.push_back(*part);
    return n;
  }
  // The value (of a cluster, element i of int16) as a double.
  double Value(int32 obj, int32 i = -1) {
    double v = 0;
    const uChar* at = reinterpret_cast<const uChar*>(uintptr_t(uInt32(OGetDataPtr(panel_, obj, 0, 0, nullptr))));
    ConvertNum(i < 0 ? TypeIDToTD(panel_, DDOTypeID(panel_, obj))->code & 0xF : kTDI16, at + 2 * std::max(i, 0),
               kTDDBL, &v);
    return v;
  }
  // A key-down record (one at a time).
  static ActionParams* Key(int32 key, int32 character = 0) {
    static ActionParams p;
    p = ActionParams{}, p.eventCode = kSubKeyDown, p.keyCode = key, p.character = character;
    return &p;
  }
  static constexpr int16 kTextPart = 10;
  void* previous_ = nullptr;
  std::vector<int32> texts_;
};

// The press steps once (a numeric outside an array keeps its range state:
// its controller's reply re-checks it); while held the value computed
// after a commit waits for the repeat interval; the release ends; Up at
// the numeric steps.
TEST_F(NumDoit, ArrowsAndUpKeyStepAnI32) {
  int32 up = 0, n = Numeric(tdb::I32(), kClsNumeric, 2, &up);
  SetW(n, 8, 0x1E4);  // range checked without limits, marked out of range
  ActionParams p{};
  TransactionState click{kClickPress, 15 << 16 | 15, 0, nullptr};
  ASSERT_EQ(OSendMessage<int32>(kMsgOClick, panel_, n, &click, Top(), &p), kClickTrack);
  EXPECT_EQ(IncDecOf(&p)->pressState, 1);
  for (const auto& s : {std::tuple{kSubPress, 0, 9, 1.0}, {kSubMove, 320, 9, 1.0}, {kSubMove, 100, 1, 1.0},
                        {kSubMove, 220, 9, 2.0}, {kSubRelease, 0, 0, 2.0}}) {
    p.eventCode = std::get<0>(s);
    PlatTickShift(std::get<1>(s));
    EXPECT_EQ(Do(n, 0, 0, kActTrack, &p) & 0x19, std::get<2>(s)) << std::get<0>(s);
    EXPECT_EQ(Value(n), std::get<3>(s));
  }
  EXPECT_EQ(W(n, 8), 0x1E4) << "only an array element is re-checked through its array";
  EXPECT_EQ(Do(n, 2, 0, kActOperate, Key(vkDown)) & 9, 9);
  EXPECT_EQ(Value(n), 1);
  *reinterpret_cast<int32*>(uintptr_t(uInt32(OGetDataPtr(panel_, n, 0, 0, nullptr)))) = 0x7FFFFFFF;
  EXPECT_EQ(Do(n, 2, 0, kActOperate, Key(vkUp)) & 0x18, 0) << "a step refused at the end is no failure";
}

// Typed characters pass the type's and format's filter; a committed text is
// read in the format (as a double for an integer when plain reading fails),
// taken from the display unit to the data unit, or left when unreadable.
TEST_F(NumDoit, TypedTextIsFilteredAndCommittedInFormatAndUnit) {
  ASSERT_EQ(UnitsInit(), kNoErr);
  int32 text = 0, unitText = 0, n = Numeric(tdb::I32(), kClsNumeric, kTextPart, &text);
  const int32 kelvin = Numeric(tdb::Unit(kTDUnitDBL, {{kUnitK, 1}}), kClsNumeric, kTextPart, &unitText);
  texts_.push_back(Obj(kClsLabel, kelvin, 65));
  SetPartText(panel_, texts_.back(), reinterpret_cast<const uChar*>("degC"), 4, 0, 0);
  const struct {
    int32 object, textPart, format;
    const char* typed;
    int32 refused;
    double value;
  } cases[] = {{n, text, 0x40, "12x", 1, 12}, {n, text, 0x42, "1F", 0, 31}, {n, text, 0x40, "-", 0, 31},
               {n, text, 0x40, "1e1", 0, 10}, {kelvin, unitText, -2, "20", 0, 293.15}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    PutNative16(*panel_ + c.object + kNumFormatByte, uInt16(c.format));
    SetPartText(panel_, c.textPart, reinterpret_cast<const uChar*>(""), 0, 0, 0);
    ASSERT_EQ(FPKeyFocusUpdate(panel_, c.object, 1, PartTextRecord(panel_, c.textPart)), kNoErr);
    for (const char* ch = c.typed; *ch; ++ch) Do(c.object, 2, 0, kActOperate, Key(vkAscii, *ch));
    const UHandle typed = TGetText(PartTextRecord(panel_, c.textPart));
    EXPECT_EQ(int32(GetNative32(*typed)), int32(std::strlen(c.typed)) - c.refused);
    EXPECT_EQ(Do(c.object, 2, 0, kActOperate, Key(vkAscii, 10)) & 0x48, *c.typed == '-' ? 0 : 8);
    EXPECT_NEAR(Value(c.object), c.value, 1e-9);
  }
}

// The radix menu's keys give formats by the type; a chosen format sets the
// format and the mark, shows the value and reports it.
TEST_F(NumDoit, RadixChoiceSetsFormatAndMark) {
  for (auto [key, type, format] : {std::tuple{1, int32(kTDDBL), -2}, {1, kTDI32, 0x40}, {1, kTDU8, 0x41}, {1, 0, 0x41},
                                   {3, kTDI32, 0x43}, {9, kTDI32, 0x42}})
    EXPECT_EQ(NumRadixChoiceFormat(key, type), format) << key << "/" << type;
  int32 mark = 0, n = Numeric(tdb::I32(), kClsNumeric, 15, &mark);
  PutNative16(*panel_ + n + kNumFormatByte, 0x40);
  ActionParams p{};
  p.eventCode = 5, p.window = 0x42;
  EXPECT_EQ(Do(n, 2, 0, kActMenuComplete, &p) & 0x10090, 0x10080);
  EXPECT_EQ(NumGetFormat(panel_, n), 0x42);
  EXPECT_EQ(Do(n, 2, 0, kActMenuComplete, &p), 0) << "the same format changes nothing";
}

// Ring menus: a choice N stores N - 1, a dismissed menu keeps the value;
// both end tracking.  Space opens the focused ring's menu, Tab does not.
std::vector<uInt32> gMenuKeys;
int32 gMenus = 0;
int32 PressMenuKeys(Bool32) {
  if (!gMenuKeys.empty()) ++gMenus;
  for (uInt32 vk : gMenuKeys) PlatInjectKey(vk, true, PlatTickMs()), PlatInjectKey(vk, false, PlatTickMs());
  gMenuKeys.clear();
  return 0;
}
TEST_F(NumDoit, RingMenusStoreTheChoiceLessOne) {
  WPortState saved{};
  const WindowRef window = StartMenuWindow(Rect{40, 40, 400, 400}, &saved, &PressMenuKeys);
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window));
  int32 face = 0;
  const int32 ring = Numeric(tdb::U16(), kClsRing, 12, &face);
  CPStrHandle h = reinterpret_cast<CPStrHandle>(Keep(DSNewHClr(4)));
  for (const uChar i : {0, 1, 2}) ASSERT_EQ(CPStrInsert(h, std::array<uChar, 2>{1, uChar('a' + i)}.data(), i), kNoErr);
  OHSetWord(panel_, uInt32(face + kRingTextWord), uInt32(uintptr_t(h)));
  const std::vector<uInt32> choose3{kPlatVkDown, kPlatVkDown, kPlatVkDown, kPlatVkReturn},
      choose1{kPlatVkDown, kPlatVkReturn}, dismiss{kPlatVkEscape};
  const struct {
    std::vector<uInt32> keys;
    bool press;
    int32 key, character, menus, changed;
    double value;
  } cases[] = {{choose3, true, 0, 0, 1, 8, 2},   {dismiss, true, 0, 0, 1, 0, 2},
               {dismiss, false, 38, 0, 0, 0, 2}, {choose1, false, vkAscii, ' ', 1, 8, 0}};
  for (const auto& c : cases) {
    gMenuKeys = c.keys, gMenus = 0;
    ActionParams p = *Key(c.key, c.character);
    p.eventCode = c.press ? kSubPress : p.eventCode;
    ASSERT_TRUE(c.press || FPKeyFocusUpdate(panel_, ring, 0, nullptr) == kNoErr);
    const int32 reply = c.press ? Do(ring, 0, 0, kActTrack, &p) : Do(ring, 2, 0, kActOperate, &p);
    EXPECT_EQ(gMenus, c.menus);
    EXPECT_EQ(reply & 0x9, c.changed) << "tracking ends";
    EXPECT_EQ(Value(ring), c.value);
  }
  WResetMainLoopHooks();
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, 0);
  StopDrawingWindow(&saved);
}

// Tracking a slide: the mouse's value is written (8); pressing another
// thumb makes its slider active; the old value copied aside is freed on
// every road, a failed copy included.
TEST_F(NumDoit, SlideTracksTheActiveSliderAndFreesItsCopy) {
  SetSlideOpsHooks({.trackValue = [](ObjHeap, int32, TransactionFrame*, ActionParams* p, void* data, int32* changed) {
    *changed = p->point.v != *static_cast<int16*>(data);
    *static_cast<int16*>(data) = p->point.v;
    return MgErr(kNoErr);
  }});
  int32 slide = 0;
  ASSERT_EQ(Alloc(Control(tdb::Cluster({tdb::I16(), tdb::I16()}), kClsSlide, &slide, root_)), kNoErr);
  Obj(kClsCosmetic, slide, 23, 0), Obj(kClsCosmetic, slide, 23, 1);
  const struct {
    int32 index, fail, reply, active;
    int16 v, first, second;
  } cases[] = {{1, 0, 9, 1, 7, 0, 7}, {1, 0, 1, 1, 7, 0, 7}, {0, 0, 9, 0, 5, 5, 7}, {1, 1, 16, 0, 6, 5, 7}};
  for (const auto& c : cases) {
    const int32 before = LiveHandleCount();
    ActionParams p{};
    p.eventCode = kSubPress, p.point.v = c.v;
    MemFailNthAllocation(c.fail);
    const int32 reply = Do(slide, 0, c.index, kActTrack, &p);
    MemFailNthAllocation(0);
    EXPECT_EQ(reply & 0x19, c.reply) << c.v;
    EXPECT_EQ(W(slide, kPWActiveElement), c.active);
    EXPECT_EQ(Value(slide, 0) * 100 + Value(slide, 1), c.first * 100 + c.second);
    EXPECT_EQ(LiveHandleCount(), before);
  }
  SetSlideOpsHooks({.trackValue = [](ObjHeap, int32, TransactionFrame*, ActionParams*, void*, int32*) { return MgErr(kArgErr); }});
}

}  // namespace
