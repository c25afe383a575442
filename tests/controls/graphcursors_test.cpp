// Cursor records of graphs: their encodings, the list as the object system
// and the cursor code reach it, a new cursor's defaults and the labels
// measured after a font change.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/ctlselect.h"
#include "controls/graphcursors.h"
#include "graph_test_support.h"
#include "mgsource/draw/fonts.h"
#include "panel/datamsg.h"
#include "panel/editmsg.h"
#include "panel/graphstate.h"
#include "rtlib/vistrread.h"

namespace {

using graphtest::GraphShape;

class GraphCursors : public graphtest::GraphTest {
 protected:
  void TearDown() override {
    for (auto [g, list] : lists_) {
      int32 n = 0;
      UPtr first = GraphCursorsOf(panel_, g, &n);
      for (int32 i = 0; first && i < n; ++i)
        if (UHandle name = CursorName(first + i * Size())) DSDisposeHandle(name);
      std::memset(Field(g), 0, sizeof(UHandle));
      DSDisposeHandle(list);
    }
    GraphTest::TearDown();
  }
  static int32 Size() { return GraphCursorFields()->size; }
  UPtr Field(int32 g) { return GraphCursorListField(panel_, ObjWord(panel_, g, kGraphDataWord), nullptr); }
  // A graph of the type with n zeroed cursors; the first record.
  UPtr WithCursors(int32 g, int32 n) {
    const int32 first = AlignDatum(GraphCursorRecordTD(), 4);
    UHandle h = DSNewHClr(first + n * Size());
    PutNative32(*h, uInt32(n));
    std::memcpy(Field(g), &h, sizeof h);
    lists_.push_back({g, h});
    return *h + first;
  }
  static UHandle Name(const std::string& s) {
    UHandle h = DSNewHandle(4 + int32(s.size()));
    PutNative32(*h, uInt32(s.size()));
    std::memcpy(*h + 4, s.data(), s.size());
    return h;
  }
  static std::string NameOf(const uChar* c) {
    UHandle h = CursorName(c);
    return h ? std::string(reinterpret_cast<const char*>(VSLStrBytes(h)), size_t(VSLStrLen(h))) : "";
  }
  std::vector<std::pair<int32, UHandle>> lists_;
};

// Styles are stored (horizontal << 2) | vertical; lock modes set 0x20 and
// 0x800 and leave every other flag alone.
TEST_F(GraphCursors, StylesAndLockModesRoundTrip) {
  const int32 stored[] = {0x0, 0x1, 0x2, 0x4, 0x5, 0x6, 0x8, 0x9, 0xA};
  for (int32 n = 0; n < 9; ++n) {
    EXPECT_EQ(CursorStyleFlags(n), stored[n]) << n;
    EXPECT_EQ(CursorStyleOfFlags(uInt32(stored[n]) | kCursorShowLabel | kCursorSnapped), n) << n;
  }
  EXPECT_EQ(CursorStyleFlags(9), -1);
  const struct {
    int32 mode;
    uInt32 bits;
  } locks[] = {{kCursorLockFree, 0}, {kCursorLockSnap, kCursorSnapped}, {kCursorLockPlot, kCursorSnapped | kCursorLockedToPlot}};
  for (const auto& l : locks) {
    const uInt32 f = CursorFlagsWithLock(kCursorSnapped | kCursorLockedToPlot | kCursorShowLabel | 0x5, l.mode);
    EXPECT_EQ(f, l.bits | kCursorShowLabel | 0x5) << l.mode;
    EXPECT_EQ(CursorLockMode(f), l.mode);
  }
  EXPECT_EQ(CursorFlagsWithLock(0x25, 3), 0x25u);
  // The mode names of the run-time resources, after the menu's title.
  const char* names[] = {"Locked Style Base", "Free", "Snap to point", "Lock to plot"};
  for (int32 i = 0; i < 4; ++i) {
    Str255 text;
    ASSERT_EQ(RGetIndString(RunTimeRsrcFile(), text, kLockedStyleMenuList, i + 1), kNoErr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text + 1), text[0]), names[i]);
  }
}

// The list the cursor code reads is the one the object system hands out
// for the cursor legend (part 8014), the mover's buttons (part 8011) just
// before it; a list handle that does not hold its count gives no records.
TEST_F(GraphCursors, TheListIsTheLegendsData) {
  const int32 g = MakeGraph(GraphShape{});
  const int32 legend = Obj(kClsArray, g, kGPartCursorLegend);
  const int32 mover = Obj(kClsCluster, g, kGPartCursorMover);
  const int32 data = ObjWord(panel_, g, kGraphDataWord);
  int32 n = 7;
  EXPECT_EQ(GetGraphCursorList(panel_, data, &n), nullptr);
  EXPECT_EQ(n, 0);
  const TypeDescriptor* td = nullptr;
  const UPtr field = GraphCursorListField(panel_, data, &td);
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(td, ElemTD(GraphStateStaticTD(), 4));
  EXPECT_EQ(uInt32(OGetDataPtr(panel_, g, legend, kDataPtrPlain, nullptr)), uInt32(uintptr_t(field)));
  EXPECT_EQ(uInt32(OGetDataPtr(panel_, g, mover, kDataPtrPlain, nullptr)),
            uInt32(uintptr_t(reinterpret_cast<uChar*>(GraphDataOf(panel_, g)->moverButtons))));
  UHandle ds = nullptr;
  const int32 at = OGetDataPtr(panel_, g, legend, kDataPtrPlain, &ds);
  EXPECT_EQ(*ds + at, field);
  const UPtr first = WithCursors(g, 2);
  EXPECT_EQ(GetGraphCursorList(panel_, data, &n), first);
  EXPECT_EQ(n, 2);
  UHandle list;
  std::memcpy(&list, field, sizeof list);
  PutNative32(*list, 3);
  EXPECT_EQ(GetGraphCursorList(panel_, data, &n), nullptr);
  EXPECT_EQ(n, 0);
  PutNative32(*list, 2);
  EXPECT_EQ(GetGraphCursorList(panel_, 0, &n), nullptr);
}

// A nameless cursor is named from "Cursor %ld" and its legend cell (the
// column when not 0, else the row); its label is set 20 pixels above it
// and measured, and the new mark cleared.  Named cursors keep their name.
TEST_F(GraphCursors, ANewCursorTakesItsDefaults) {
  const int32 g = MakeGraph(GraphShape{});
  const int32 legend = Obj(kClsArray, g, kGPartCursorLegend);
  const int32 element = Obj(kClsCluster, legend);
  SetW(legend, 10, element);
  const int32 font = GetGraphCursorFont(panel_, g);
  TDisposeFont(font);
  const int32 fontRefs = TFontReferences(font);
  const struct {
    int16 column, row;
    const char* name;
    const char* expected;
  } cases[] = {{0, 2, nullptr, "Cursor 2"}, {3, 1, nullptr, "Cursor 3"}, {0, 4, "Peak", "Peak"}};
  UPtr c = WithCursors(g, 3);
  for (const auto& k : cases) {
    PutNative16(*panel_ + legend + 48, uInt16(k.column));
    PutNative16(*panel_ + legend + 50, uInt16(k.row));
    if (k.name) SetCursorName(c, Name(k.name));
    SetCursorU32(c, kGCFlags, kCursorNew | kCursorShowLabel | 0x5);
    // x and y 5 on the scales 0 .. 10 lie at (160, 100).
    SetCursorF64(c, kGCX, 5);
    SetCursorF64(c, kGCY, 5);
    EXPECT_EQ(InitNewGraphCursor(panel_, g, element, c), 0);
    EXPECT_EQ(NameOf(c), k.expected);
    EXPECT_EQ(CursorU32(c, kGCFlags), kCursorShowLabel | 0x5u);
    EXPECT_EQ(CursorU32(c, kGCLabelMode), 0x20u);
    EXPECT_EQ(CursorI16(c, kGCV), 100);
    EXPECT_EQ(CursorI16(c, kGCLabelV), 80);
    EXPECT_EQ(CursorI16(c, kGCLabelH), 160);
    EXPECT_GT(CursorI16(c, kGCLabelWidth), 0);
    EXPECT_GT(CursorI16(c, kGCLabelHeight), 0);
    c += Size();
  }
  EXPECT_EQ(TFontReferences(font), fontRefs);
}

// Font messages 32 and 21 measure the labels of graphs, not of charts nor
// for other messages; the font references come out as they went in.
TEST_F(GraphCursors, FontMessagesMeasureGraphLabels) {
  const struct {
    int16 type;
    int32 code;
    bool measured;
    bool throughObject = false;  // sent as the object system sends it
  } cases[] = {{kGraphWaveform, kEditFont, true}, {kGraphXY, kEditRefit, true}, {kChartFirst, kEditFont, false},
               {kGraphWaveform, kEditMove, false}, {kGraphWaveform, kEditRefit, true, true},
               {kChartFirst, kEditRefit, false, true}};
  ControlsInstallEditHooks();
  const int32 font = GetGraphCursorFont(panel_, MakeGraph(GraphShape{}));
  TDisposeFont(font);
  const int32 fontRefs = TFontReferences(font);
  for (const auto& k : cases) {
    GraphShape s;
    s.type = k.type;
    const int32 g = MakeGraph(s);
    UPtr c = WithCursors(g, 2);
    for (int32 i = 0; i < 2; ++i) {
      SetCursorName(c + i * Size(), Name("Cursor"));
      SetCursorU32(c + i * Size(), kGCFlags, i ? uInt32(kCursorShowLabel) : 0u);
    }
    EditMsgRecord rec{};
    if (k.throughObject) OSelectCode(panel_, g, k.code, &rec);
    else EXPECT_EQ(GraphCursorsFontMsg(panel_, g, k.code), 0);
    for (int32 i = 0; i < 2; ++i)
      EXPECT_EQ(CursorI16(c + i * Size(), kGCLabelWidth) > 0, k.measured) << k.type << " " << k.code << " " << i;
  }
  EXPECT_EQ(TFontReferences(font), fontRefs);
}

}  // namespace
