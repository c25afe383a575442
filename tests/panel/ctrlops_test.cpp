// Control operations: controls and indicators by class family, the default
// data taken from and given to the value (with the copy that fails), and a
// text part's new text or key with its reply and its place for the codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/datasupp.h"
#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "panel/ctrlops.h"
#include "panel/datamsg.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel_test_support.h"
#include "tools/appbuild.h"

namespace ctrlops {

using ptest::SlotPatch;

std::vector<int32> gSized;
int32 RecordSize(ObjHeap, int32 object, const Rect*, int32) {
  gSized.push_back(object);
  return 0;
}
std::vector<std::string> gAlerts;
int32 RecordAlert(int32, const void* message, ConstPStr, int32, int32) {
  gAlerts.emplace_back(static_cast<const char*>(message));
  return 1;
}

class CtrlOps : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ShowInWindow();
    gSized.clear(), gAlerts.clear();
  }
  bool Indicator(int32 o) { return W(o, 0) & kObjFlagIndicator; }
  static bool Nothing(Rect r) { return DEmptyRect(&r); }
  bool Hidden(int32 o) { return W(o, 0) & kObjFlagHidden; }
  std::string Text(int32 part) {
    UHandle t = TGetText(PartTextRecord(panel_, part));
    return std::string(reinterpret_cast<char*>(*t + 4), GetNative32(*t));
  }
};

// Each family's row: who follows the object, which parts show for a control
// and hide for an indicator (or stay), what is sized; a second turn changes
// nothing, redrawing and sizing nothing.
TEST_F(CtrlOps, ControlsTurnIntoIndicatorsByFamily) {
  const SlotPatch sizes[] = {{kClsNumeric, kMsgOSize, &RecordSize}, {kClsSlide, kMsgOSize, &RecordSize},
                             {kClsGrouperObject, kMsgOSize, &RecordSize}, {kClsTypeDefinition, kMsgOSize, &RecordSize}};
  struct Row {
    const char* name;
    int32 object;
    std::vector<int32> followers, arrows, kept, sized;
    bool ownFlag = true;
  };
  const auto part = [&](int32 cls, int32 owner, int16 id = 0) {
    const int32 o = Obj(cls, owner, id);
    SetBounds(o, Rect{12, 12, 30, 60});
    return o;
  };
  std::vector<Row> rows;
  const int32 n = part(kClsNumeric, root_);
  rows.push_back({"numeric", n, {}, {part(kClsCosmetic, n, 2), part(kClsCosmetic, n, 3)}, {}, {n}});
  const int32 slide = part(kClsSlide, root_), digital = part(kClsNumeric, slide, 8001);
  SetW(slide, 0, int32(kSlideKeepsArrows));  // a numeric of its own, the digital display sizes itself
  rows.push_back({"slide keeping 6 and 7", slide, {digital}, {part(kClsCosmetic, slide, 2)},
                  {part(kClsCosmetic, slide, 6), part(kClsCosmetic, slide, 7)}, {digital, slide}});
  const int32 c = part(kClsCluster, root_), e1 = part(kClsNumeric, c), e2 = part(kClsString, c);
  SetW(c, kPWClusterElements, vib::NewList(panel_, {e1, e2}));
  rows.push_back({"cluster", c, {e1, e2}, {}, {}, {e1}});
  const int32 a = part(kClsArray, root_), e = part(kClsNumeric, a, 8001);
  part(kClsCosmetic, a, 28);
  SetW(a, kPWArrayElement, e);
  rows.push_back({"array", a, {e}, {}, {}, {e}});
  int32 control = 0;
  rows.push_back({"controller", Control(tdb::I32(), kClsNumeric, &control, root_), {control}, {}, {}, {control}});
  const int32 g = part(kClsGrouperObject, root_), p1 = part(kClsString, g), p2 = part(kClsString, g);
  rows.push_back({"grouper", g, {p1, p2}, {}, {}, {g}, false});
  const int32 t = part(kClsTypeDefinition, root_);
  rows.push_back({"type definition", t, {part(kClsString, t, kPartIdTypeDefControl)}, {}, {}, {t}});
  rows.push_back({"front panel", root_, {}, {}, {}, {}, false});
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const bool changes = r.ownFlag || !r.followers.empty();
    for (int32 on : {1, 1, 0}) {
      const bool again = on && Indicator(r.ownFlag ? r.object : r.followers.empty() ? r.object : r.followers[0]);
      gSized.clear();
      TakeInvalid();
      EXPECT_EQ(OSetIndicator(panel_, r.object, on) != 0, changes && !again) << on;
      if (!changes) continue;
      EXPECT_EQ(Indicator(r.object), r.ownFlag && on);
      for (int32 f : r.followers) EXPECT_EQ(Indicator(f), bool(on));
      for (int32 x : r.arrows) EXPECT_EQ(Hidden(x), bool(on));
      for (int32 k : r.kept) EXPECT_FALSE(Hidden(k));
      EXPECT_EQ(gSized, again ? std::vector<int32>{} : r.sized) << on;
      if (again) { EXPECT_TRUE(Nothing(TakeInvalid())) << "no change, no redraw"; }
    }
  }
}

// Missing data shows error 1010 and fails; making the default copies the
// value and marks the VI; re-initialising gives the value the default and
// redraws its value parts; a copy that runs out of memory fails unmarked.
TEST_F(CtrlOps, DefaultAndOperateDataCopyOneWayOrTheOther) {
  rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
  qxbuild::AddAppErrTexts(&w);
  ASSERT_EQ(RInitResources(), kNoErr);
  const rsrcw::Bytes file = w.Write();
  UHandle fh = AZNewHandle(int32(file.size()));
  std::memcpy(*fh, file.data(), file.size());
  RsrcFileRef ref = 0;
  ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, fh), kNoErr);
  SetRunTimeRsrcFile(ref);
  SetOneButtonAlertProc(&RecordAlert);

  EXPECT_EQ(CtrlMakeDefaultOrReinit(panel_, Obj(kClsNumeric, root_), 1), 1);
  EXPECT_EQ(gAlerts, std::vector<std::string>{"No default or operate data."});

  int32 numeric = 0, string = 0;
  const int32 dco = Control(tdb::I32(), kClsNumeric, &numeric, root_), sdco = Control(tdb::String(), kClsString, &string, root_);
  for (int32 d : {dco, sdco}) ASSERT_EQ(Alloc(d), kNoErr);
  SetBounds(numeric, Rect{10, 10, 40, 100});
  SetBounds(Obj(kClsCosmetic, numeric, 10), Rect{20, 12, 38, 98});
  SetBounds(Obj(kClsLabel, numeric, 16), Rect{10, 10, 19, 60});
  auto at = [&](int32 o, int32 mode) { return reinterpret_cast<int32*>(uintptr_t(uInt32(OGetDataPtr(panel_, o, 0, mode, nullptr)))); };
  *at(numeric, kDataPtrOperate) = 7;
  ClearReports();
  EXPECT_EQ(CtrlMakeDefaultOrReinit(panel_, numeric, 1), 0);
  EXPECT_EQ(*at(numeric, kDataPtrDefault), 7);
  EXPECT_EQ(Reports("modMask 24000000"), 1);
  *at(numeric, kDataPtrDefault) = 9;
  TakeInvalid();
  EXPECT_EQ(CtrlMakeDefaultOrReinit(panel_, numeric, 0), 0);
  EXPECT_EQ(*at(numeric, kDataPtrOperate), 9);
  EXPECT_EQ(R(TakeInvalid()), R(Rect{20, 12, 38, 98})) << "the value parts, not the label";

  // A string's copy needs memory: it fails, nothing is marked, and the
  // memory-full condition is left for the main loop.
  UHandle text = DSNewHClr(4 + 64);
  ASSERT_NE(text, nullptr);
  PutNative32(*text, 64);
  UHandle* operate = reinterpret_cast<UHandle*>(at(string, kDataPtrOperate));
  std::swap(*operate, text);
  if (text) DSDisposeHandle(text);
  ClearReports();
  MemFailNthAllocation(1);
  EXPECT_EQ(CtrlMakeDefaultOrReinit(panel_, string, 1), 1);
  MemFailNthAllocation(0);
  EXPECT_EQ(Reports("modMask"), 0);
  MemFullReset();
  SetOneButtonAlertProc(nullptr);
  SetRunTimeRsrcFile(0);
  RCloseFile(ref);
}

// A self-sizing part is redrawn, sized and redrawn (0x80) after a new text
// or a typed key, not after a caret key or a copy, nor a Numeric's part by
// its 0x40000 alone; a text that cannot be grown stays (0x10); shown with
// codes, the selection stays on the same characters.
TEST_F(CtrlOps, PartTextsTakeTextsAndKeysWithTheirReplies) {
  const SlotPatch sizes[] = {{kClsLabel, kMsgOSize, &RecordSize}};
  const int32 owner = Obj(kClsString, root_), numeric = Obj(kClsNumeric, root_);
  const int32 part = Obj(kClsLabel, owner, 11), numPart = Obj(kClsLabel, numeric, 10);
  for (int32 p : {part, numPart}) SetBounds(p, Rect{10, 10, 30, 100});
  const auto set = [&](int32 p, const char* s) {
    return SetPartText(panel_, p, reinterpret_cast<const uChar*>(s), int32(std::strlen(s)), 0, 0);
  };
  set(part, "abc"), set(numPart, "12");
  struct Case {
    int32 part;
    uInt32 flags;
    const char* text;  // null: the key
    int32 key, character;
    int32 reply;
    const char* after;
  };
  const Case cases[] = {
      {part, 0x20000, "abcd", 0, 0, 0x80, "abcd"},   {part, 0, "ab", 0, 0, 0, "ab"},
      {numPart, 0x40000, "123", 0, 0, 0, "123"},      {numPart, 0x20000, "1234", 0, 0, 0x80, "1234"},
      {part, 0x20000, nullptr, 27, 'x', 0x80, "abx"}, {part, 0x20000, nullptr, 5, 0, 0, "abx"},
      {part, 0x20000, nullptr, 31, 0, 0, "abx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    SetW(c.part, 0, int32(c.flags));
    gSized.clear();
    int32 reply;
    if (c.text) {
      reply = set(c.part, c.text);
    } else {
      const uChar ch = uChar(c.character);
      TSelectText(PartTextRecord(panel_, c.part), 2, 3);
      reply = SetPartText(panel_, c.part, &ch, -1, c.key, 0);
    }
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(Text(c.part), c.after);
    EXPECT_EQ(gSized, c.reply & 0x80 ? std::vector<int32>{c.part} : std::vector<int32>{});
  }
  SetW(part, 0, int32(kTextFlagBackslash));
  set(part, "abXcd");
  TSelectText(PartTextRecord(panel_, part), 3, 5);
  EXPECT_EQ(set(part, "ab\ncd"), 0);
  EXPECT_EQ(Text(part), "ab\\ncd");
  int32 start = 0, end = 0;
  TGetSelection(PartTextRecord(panel_, part), &start, &end);
  EXPECT_EQ(std::vector<int32>({start, end}), std::vector<int32>({4, 6})) << "still on \"cd\"";
  for (uInt32 flags : {0u, uInt32(kTextFlagBackslash)}) {
    SetW(part, 0, int32(flags));
    set(part, "ab");
    MemFailNthAllocation(1);
    EXPECT_EQ(set(part, std::string(300, 'z').c_str()), 0x10) << flags;
    MemFailNthAllocation(0);
    EXPECT_EQ(Text(part), "ab") << flags;
    MemFullReset();
  }
  for (int32 p : {part, numPart}) TDispose(PartTextRecord(panel_, p)), SetW(p, kPWLabelText, 0);
}

}  // namespace ctrlops
