// Stepping numerics, their typed-character filter, the owner walks, the
// range-state filters and the focusing of a numeric's text.
#include <cstring>

#include "engine/vi/virecord.h"
#include "mgsource/numconv.h"
#include "mgsource/window/winproc.h"
#include "panel/methsupport.h"
#include "panel/numincdec.h"
#include "panel/numoperate.h"
#include "panel/objsize.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "panel_test_support.h"
#include "comma_locale.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textrec.h"

namespace {

class NumOperateTest : public ptest::PanelRootTest {};

TEST_F(NumOperateTest, TypedCharactersPassByTypeAndFormat) {
  struct Case {
    int32 key, character, type, format, passes;
  };
  const Case cases[] = {
      {vkAscii, '7', kTDI32, 0x40, 1},   {vkAscii, 'x', kTDI32, 0x40, 0},  {vkAscii, '-', kTDU8, 0x41, 0},
      {vkAscii, 'F', kTDI32, 0x42, 1},   {vkAscii, '8', kTDI32, 0x43, 0},  {vkAscii, '2', kTDI32, 0x44, 0},
      {vkAscii, '.', kTDI32, 0x42, 0},   {vkAscii, '.', kTDDBL, -2, 1},    {vkAscii, 'i', kTDDBL, -2, 1},
      {vkAscii, 'r', kTDDBL, -2, 0},     {vkAscii, ':', kTDDBL, 200, 1},   {vkAscii, 'q', kTDDBL, 600, 1},
      {vkAscii, 8, kTDI32, 0x44, 1},     {vkUp, 0, kTDI32, 0x40, 1},       {vkF1, 0, kTDI32, 0x40, 0},
  };
  for (const Case& c : cases) {
    ActionParams p{};
    p.eventCode = 6, p.keyCode = c.key, p.character = c.character;
    EXPECT_EQ(NumTextEntryKeyFilter(&p, c.type, c.format), c.passes) << c.character << "/" << c.format;
  }
  ActionParams p{};
  p.eventCode = 6, p.keyCode = vkAscii, p.character = 10;
  EXPECT_EQ(NumTextEntryKeyFilter(&p, kTDI32, 0x40), 1);
  EXPECT_EQ(p.keyCode, vkEnter) << "a typed line end is Enter";
  p.eventCode = 1;
  EXPECT_EQ(NumTextEntryKeyFilter(&p, kTDI32, 0x40), 0) << "no key";
}

// What a numeric's text takes by key: Shift+Enter becomes a line feed and
// is refused; a paste passes when every character would, spaces aside; the
// locale's decimal separator passes.
TEST_F(NumOperateTest, KeysShiftEnterAndPastesFilterLikeTypedCharacters) {
  const Rect none{0, 0, 0, 0};
  struct Case {
    int32 key, character, modifiers;
    const char* pasted;
    int32 type, format, passes;
  };
  const Case cases[] = {
      {vkAscii, '-', 0, nullptr, kTDU8, 0x41, 0},      {vkAscii, '8', 0, nullptr, kTDI32, 0x43, 0},
      {vkEnter, 0, kWModShift, nullptr, kTDDBL, -2, 0}, {32, 0, 0, "1x", kTDI32, 0x40, 0},
      {vkAscii, ':', 0, nullptr, kTDDBL, 250, 1},       {32, 0, 0, "1 2", kTDI32, 0x40, 1},
      {vkEnter, 0, 0, nullptr, kTDDBL, -2, 1},
  };
  for (const Case& c : cases) {
    ActionParams p{};
    p.eventCode = 6, p.keyCode = c.key, p.character = c.character, p.modifiers = c.modifiers;
    TRecord text = c.pasted ? TNew(&none, 0, reinterpret_cast<const uChar*>(c.pasted), int32(std::strlen(c.pasted)),
                                   kAppFont, 0, kTransparentColor)
                            : nullptr;
    p.text = reinterpret_cast<UHandle>(text);
    EXPECT_EQ(NumTextEntryKeyFilter(&p, c.type, c.format), c.passes) << &c - cases;
    if (text) TDispose(text);
  }
  CommaLocale comma;
  if (!comma.Made()) GTEST_SKIP() << "no comma locale here";
  ActionParams p{};
  p.eventCode = 6, p.keyCode = vkAscii, p.character = ',';
  EXPECT_EQ(NumTextEntryKeyFilter(&p, kTDDBL, -2), 1);
  EXPECT_EQ(NumTextEntryKeyFilter(&p, kTDI32, 0x42), 0) << "not in hexadecimal";
}

TEST_F(NumOperateTest, OwnerWalksFindContainersAndEndOnLoops) {
  const int32 def = Obj(kClsTypeDefinition, root_), glyph = Obj(kClsNumeric, def, kPartIdTypeDefControl);
  const int32 ref = Obj(kClsRefNum, root_), inner = Obj(kClsNumeric, ref), label = Obj(kClsLabel, inner, 5);
  SetW(ref, kPWRefNumContained, inner);
  EXPECT_EQ(FindOwnerRefNum(panel_, label), ref);
  EXPECT_EQ(FindOwnerRefNum(panel_, glyph), 0);
  EXPECT_TRUE(IsInOwnerChain(panel_, ref, label));
  EXPECT_FALSE(IsInOwnerChain(panel_, label, ref));
  EXPECT_TRUE(IsInTypeDef(panel_, glyph) && IsInPlainTypeDef(panel_, glyph));
  EXPECT_FALSE(IsInPlainTypeDef(panel_, Obj(kClsLabel, glyph, 5))) << "climbs only through parts 0 and 8010";
  SetW(def, 11, 1);
  EXPECT_FALSE(IsInPlainTypeDef(panel_, glyph)) << "a linked definition";
  SetW(ref, kPWOwner, label);  // a loop from a file
  EXPECT_EQ(FindOwnerRefNum(panel_, Obj(kClsLabel, label)), ref);
  EXPECT_FALSE(IsInTypeDef(panel_, label));
  EXPECT_FALSE(IsInOwnerChain(panel_, def, label));
}

TEST_F(NumOperateTest, RangeStatesFollowRepliesAndPendingMarks) {
  const int32 array = Obj(kClsArray, root_), other = Obj(kClsNumeric, root_);
  SetW(array, 8, 0x100);
  EXPECT_EQ(DDOCheckReplyRangeMark(panel_, array, nullptr, 0x1008), 0x1008);
  EXPECT_EQ(W(array, 8), 0x104);
  EXPECT_EQ(DDOCheckReplyRangeData(panel_, array, nullptr, 0x8), 0x8);
  EXPECT_EQ(W(array, 8), 0x100);
  SetW(array, 0, 0x10000);
  EXPECT_EQ(DDOCheckReplyRangeMark(panel_, array, nullptr, 0), 0x8) << "a pending mark is cleared";
  EXPECT_EQ(W(array, 0), 0);
  SetW(array, 8, 0x104);
  CopyRangeFlags(panel_, other, array);
  EXPECT_EQ(W(other, 8), 0x4);
  EXPECT_EQ(NumericSetFormatStyle(panel_, other, 0x42), kNoErr);
  EXPECT_EQ(NumGetFormat(panel_, other), 0x42);
  EXPECT_EQ(NumericSetFormatStyle(panel_, array, 0x42), kArgErr);
}

// Only in a dialog whose owner mode is clear.
TEST_F(NumOperateTest, DialogNumericsFocusTheirText) {
  const int32 n = Obj(kClsNumeric, root_), text = Obj(kClsLabel, n, 10);
  SetPartText(panel_, text, reinterpret_cast<const uChar*>("12"), 2, 0, 0);
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtDialogFilter, 1);
  for (const uInt32 mode : {kVIFlags2OwnerMode, 0u}) {
    VIRec(vi_)->flags2 = mode;
    EXPECT_EQ(FPFocusNumText(panel_, n, nullptr), kNoErr);
    EXPECT_EQ(PanelKeyFocus(panel_).object, mode ? 0 : n);
  }
}

}  // namespace
