// Cursor properties reached through the graph class's property call path:
// member conversions and their out-of-range values, a cluster write, the
// cursor list growing and shrinking, the selected cursors and an active
// cursor outside the list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "controls/cursorattr.h"
#include "controls/graphattr.h"
#include "controls/cursorlegend.h"
#include "controls/graphcursors.h"
#include "graph_test_support.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/memory.h"
#include "panel/graphstate.h"
#include "panel/datamsg.h"
#include "panel/osupport.h"
#include "tools/vibuilder.h"
#include "controls/cursordraw.h"

namespace {

using graphtest::GraphShape;

constexpr int32 kFirst = 12;  // the data display level's selectors come first

class CursorAttrTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsInstallGraphAttr();
  }
  void TearDown() override {
    for (int32 g : graphs_) {
      int32 n = 0;
      GraphCursorsOf(panel_, g, &n);
      for (int32 i = 0; i < n; ++i)
        if (UHandle h = CursorName(Cursor(g, i))) DSDisposeHandle(h);
      UPtr field = Field(g);
      UHandle list;
      std::memcpy(&list, field, sizeof list);
      if (list) DSDisposeHandle(list);
      std::memset(field, 0, sizeof list);
    }
    for (UHandle h : handles_) DSDisposeHandle(h);
    GraphTest::TearDown();
  }
  UPtr Field(int32 g) { return GraphCursorListField(panel_, ObjWord(panel_, g, kGraphDataWord), nullptr); }
  static int32 Size() { return GraphCursorFields()->size; }
  // A graph with n cursors: style 5 flags, point style 4, colour 0xFF.
  int32 WithCursors(int32 n) {
    const int32 g = MakeGraph(GraphShape{});
    const int32 first = AlignDatum(GraphCursorRecordTD(), 4);
    UHandle h = DSNewHClr(first + n * Size());
    PutNative32(*h, uInt32(n));
    std::memcpy(Field(g), &h, sizeof h);
    graphs_.push_back(g);
    for (int32 i = 0; i < n; ++i) {
      UPtr c = *h + first + i * Size();
      SetCursorU32(c, kGCFlags, 0x5);
      SetCursorU32(c, kGCPointStyle, 4);
      SetCursorU32(c, kGCColour, 0xFF);
      SetCursorF64(c, kGCX, 5);
      SetCursorF64(c, kGCY, 5);
    }
    return g;
  }
  UPtr Cursor(int32 g, int32 i) {
    int32 n = 0;
    UPtr list = GraphCursorsOf(panel_, g, &n);
    return list && i < n ? list + i * Size() : nullptr;
  }
  std::string Name(int32 g, int32 i) {
    UHandle h = CursorName(Cursor(g, i));
    return h ? std::string(reinterpret_cast<char*>(*h) + 4, GetNative32(*h)) : std::string();
  }
  UHandle Str(const std::string& s) {
    UHandle h = DSNewHandle(4 + int32(s.size()));
    PutNative32(*h, uInt32(s.size()));
    std::memcpy(*h + 4, s.data(), s.size());
    handles_.push_back(h);
    return h;
  }
  // One cursor property (sub-index) read or written with a value of type t.
  int32 Prop(int32 g, const tdb::TD& t, bool read, int32 sub, void* value, bool defer = false) {
    int32 tables[3] = {}, counts[3] = {};
    const int32 n = AttrChainOf(panel_, g, tables, counts);
    int32 before = kFirst;
    for (int32 i = 0; i < n && tables[i] != 16; ++i) before += counts[i];
    std::vector<uChar> b = t.Bytes();
    UHandle types = DSNewHandle(int32(b.size()));
    std::memcpy(*types, b.data(), b.size());
    AttrCallRec rec{};
    rec.types = types;
    rec.read = read;
    rec.last = 1;
    rec.selector = before + sub;
    rec.value = value;
    rec.words[0] = defer;
    auto method = reinterpret_cast<int32 (*)(ObjHeap, int32, AttrCallRec*, int32)>(OCtrlOpMethodFor(kClsGraphChart));
    if (failAll_) MemFailAllocations(1, -1);
    const int32 reply = method(panel_, g, &rec, 1);
    MemFailAllocations(0, 0);
    DSDisposeHandle(types);
    return reply;
  }
  int32 SetU(int32 g, int32 sub, uInt32 v) { return Prop(g, tdb::U32(), false, sub, &v); }
  uInt32 GetU(int32 g, int32 sub) {
    uInt32 v = 0xDEAD;
    Prop(g, tdb::U32(), true, sub, &v);
    return v;
  }
  static tdb::TD CursorTD() {
    using namespace tdb;
    return Cluster({String(), U32(), U8(), U8(), Boolean(), Boolean(), U32(), U32(), I32(), Cluster({DBL(), DBL()})});
  }
  // Offsets of a cluster's members in its data.
  static std::vector<int32> Offsets(const TypeDescriptor* td) {
    std::vector<int32> out;
    int32 off = 0;
    const int32 n = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
    for (int32 i = 0; i < n; ++i) {
      const TypeDescriptor* e = ElemTD(td, i);
      off = AlignDatum(e, off);
      out.push_back(off);
      off += DataSize(e);
    }
    return out;
  }
  struct Rec {
    std::string name;
    uInt32 colour;
    uChar style, point, show, drag;
    uInt32 lock, plot;
    int32 index;
    float64 x, y;
  };
  // Writes a record into cluster data at p (descriptor td).
  void Put(const TypeDescriptor* td, uChar* p, const Rec& r) {
    const std::vector<int32> o = Offsets(td);
    UHandle s = Str(r.name);
    std::memcpy(p + o[0], &s, sizeof s);
    std::memcpy(p + o[1], &r.colour, 4);
    p[o[2]] = r.style, p[o[3]] = r.point, p[o[4]] = r.show, p[o[5]] = r.drag;
    std::memcpy(p + o[6], &r.lock, 4);
    std::memcpy(p + o[7], &r.plot, 4);
    std::memcpy(p + o[8], &r.index, 4);
    std::memcpy(p + o[9], &r.x, 8);
    std::memcpy(p + o[9] + 8, &r.y, 8);
  }
  // A list value of the records.
  UHandle List(const TypeDescriptor* el, const std::vector<Rec>& recs) {
    const int32 at = AlignDatum(el, 4), es = DataSize(el);
    UHandle h = DSNewHClr(at + es * int32(recs.size()));
    PutNative32(*h, uInt32(recs.size()));
    for (size_t i = 0; i < recs.size(); ++i) Put(el, *h + at + int32(i) * es, recs[i]);
    handles_.push_back(h);
    return h;
  }
  std::vector<int32> graphs_;
  std::vector<UHandle> handles_;
  bool failAll_ = false;
  // A cursor legend of `rows` cells whose element shows the graph's list.
  int32 MakeLegend(int32 g, int32 rows) {
    const int32 legend = Obj(kClsArray, g, kGPartCursorLegend);
    SetBounds(legend, Rect{0, 300, 100, 400});
    const TypeDescriptor* listTD = nullptr;
    GraphCursorListField(panel_, ObjWord(panel_, g, kGraphDataWord), &listTD);
    SetW(legend, kPWDDOTypeId, int32(NewTypeIDForTD(panel_, listTD)));
    const int32 element = Obj(kClsCluster, legend);
    SetBounds(element, Rect{0, 300, 20, 400});
    std::vector<int32> members;
    for (int32 i = 0; i < kGCFieldCount; ++i) {
      const int32 m = Obj(i >= 17 ? kClsBoolean : kClsCosmetic, element);
      SetBounds(m, Rect{0, int16(300 + i), 10, int16(301 + i)});
      members.push_back(m);
    }
    SetW(element, kPWClusterElements, vib::NewList(panel_, members));
    SetW(legend, kPWArrayElement, element);
    Obj(kClsCosmetic, legend, 28);
    SetBounds(FindPart(panel_, legend, 28, 0), Rect{0, 300, 60, 400});
    PutNative16(*panel_ + legend + 44, 0);
    PutNative16(*panel_ + legend + 46, uInt16(rows - 1));
    EXPECT_EQ(Alloc(legend), kNoErr);
    return legend;
  }  // every allocation of the property call fails
};

enum { kActive = 0, kCluster = 1, kColour = 3, kStyle = 4, kPoint = 5, kLock = 8, kList = 14, kSelected = 15 };

// Members one at a time: the stored bits, the value read back, and values
// out of range that leave the old member.
TEST_F(CursorAttrTest, MemberConversions) {
  struct Case {
    int32 sub;
    uInt32 value;
    uInt32 flagsMask, wantFlags, wantPoint, wantColour, readBack;
  };
  const Case cases[] = {
      {kStyle, 5, 0xF, 0x6, 4, 0xFF, 5},          // ticks horizontally, a full vertical line
      {kStyle, 9, 0xF, 0x5, 4, 0xFF, 4},          // 9 + 2 = 11 is above 10: old bits stay
      {kPoint, 17, 0, 0, 4, 0xFF, 1},             // 20 is above 19: old style stays
      {kPoint, 2, 0, 0, 5, 0xFF, 2},
      {kColour, 0x1000000, 0, 0, 4, 0x1000000, 0x1000000},  // transparent
      {kColour, 0x1000001, 0, 0, 4, 0xFF, 0xFF},
      {kLock, 2, 0x820, 0x820, 4, 0xFF, 2},
      {kLock, 3, 0x820, 0, 4, 0xFF, 0},
  };
  for (const Case& c : cases) {
    const int32 g = WithCursors(1);
    EXPECT_EQ(SetU(g, c.sub, c.value), 0);
    const uChar* r = Cursor(g, 0);
    EXPECT_EQ(CursorU32(r, kGCFlags) & c.flagsMask, c.wantFlags) << c.sub << " " << c.value;
    EXPECT_EQ(CursorU32(r, kGCPointStyle), c.wantPoint) << c.sub << " " << c.value;
    EXPECT_EQ(CursorU32(r, kGCColour), c.wantColour) << c.sub << " " << c.value;
    EXPECT_EQ(GetU(g, c.sub), c.readBack) << c.sub << " " << c.value;
  }
}

// One cluster write: an invalid colour is ignored while a new name and
// allow drag false both apply; the cluster reads back what it stored.
TEST_F(CursorAttrTest, ClusterWriteAppliesEveryValidMember) {
  const int32 g = WithCursors(2);
  SetU(g, kActive, 1);
  const tdb::TD t = CursorTD();
  const std::vector<uChar> tb = t.Bytes();
  const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(tb.data());
  std::vector<uChar> data(size_t(DataSize(td)) + 8, 0);
  Put(td, data.data(), Rec{"Peak", 0x1000001, 8, 0, 1, 0, 0, 0, 0, 2.5, 7});
  EXPECT_EQ(Prop(g, t, false, kCluster, data.data()), 0);
  const uChar* r = Cursor(g, 1);
  EXPECT_EQ(Name(g, 1), "Peak");
  EXPECT_EQ(CursorU32(r, kGCFlags), uInt32(0xA | 0x10 | 0x1000));
  EXPECT_EQ(CursorU32(r, kGCColour), 0xFFu);
  EXPECT_EQ(CursorU32(r, kGCPointStyle), 0u);
  EXPECT_EQ(CursorF64(r, kGCX), 2.5);
  EXPECT_EQ(Name(g, 0), "") << "only the active cursor changes";
  std::vector<uChar> back(data.size(), 0);
  EXPECT_EQ(Prop(g, t, true, kCluster, back.data()), 0);
  const std::vector<int32> o = Offsets(td);
  UHandle name;
  std::memcpy(&name, back.data() + o[0], sizeof name);
  ASSERT_NE(name, nullptr);
  handles_.push_back(name);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*name) + 4, GetNative32(*name)), "Peak");
  EXPECT_EQ(back[size_t(o[2])], 8);
  EXPECT_EQ(back[size_t(o[5])], 0) << "allow drag reads false";
}

// The list shrinks and grows: new records are marked until the legend
// initialises them, and the list reads back as written.
TEST_F(CursorAttrTest, ListShrinksAndGrows) {
  const int32 g = WithCursors(5);
  const tdb::TD t = tdb::Array(CursorTD());
  const std::vector<uChar> tb = t.Bytes();
  // The element follows the array's header and its one dimension.
  const TypeDescriptor* el = reinterpret_cast<const TypeDescriptor*>(tb.data() + 10);
  std::vector<Rec> recs;
  for (int i = 0; i < 7; ++i) recs.push_back(Rec{"C" + std::to_string(i), 0xFF00, 1, 2, 0, 1, 0, 0, 0, 1.0 * i, 2});
  UHandle three = List(el, {recs.begin(), recs.begin() + 3});
  EXPECT_EQ(Prop(g, t, false, kList, &three), 0);
  int32 n = 0;
  GraphCursorsOf(panel_, g, &n);
  EXPECT_EQ(n, 3);
  UHandle seven = List(el, recs);
  EXPECT_EQ(Prop(g, t, false, kList, &seven), 0);
  GraphCursorsOf(panel_, g, &n);
  ASSERT_EQ(n, 7);
  for (int32 i = 0; i < 7; ++i) {
    EXPECT_EQ(Name(g, i), recs[size_t(i)].name);
    EXPECT_EQ((CursorU32(Cursor(g, i), kGCFlags) & kCursorNew) != 0, i >= 3) << i;
    EXPECT_EQ(CursorU32(Cursor(g, i), kGCPointStyle), 5u);
  }
  UHandle out = nullptr;
  EXPECT_EQ(Prop(g, t, true, kList, &out), 0);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(int32(GetNative32(*out)), 7);
  const int32 at = AlignDatum(el, 4), es = DataSize(el);
  const std::vector<int32> o = Offsets(el);
  for (int32 i = 0; i < 7; ++i) {
    uChar* e = *out + at + i * es;
    UHandle s;
    std::memcpy(&s, e + o[0], sizeof s);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(*s) + 4, GetNative32(*s)), recs[size_t(i)].name);
    EXPECT_EQ(e[o[3]], 2);
    handles_.push_back(s);
  }
  handles_.push_back(out);
}

// Selected cursors: duplicates and indices past the count select only
// valid cursors once, and read back ascending.
TEST_F(CursorAttrTest, SelectedCursors) {
  struct Case {
    std::vector<int32> in;
    std::vector<int32> want;
  };
  const Case cases[] = {{{2, 2, 9}, {2}}, {{-1, 1, 0}, {0, 1}}, {{}, {}}};
  for (const Case& c : cases) {
    const int32 g = WithCursors(3);
    SetCursorBool(Cursor(g, 0), kGCSelected, true);  // cleared unless listed
    UHandle h = DSNewHClr(4 + 4 * int32(c.in.size()));
    PutNative32(*h, uInt32(c.in.size()));
    if (!c.in.empty()) std::memcpy(*h + 4, c.in.data(), 4 * c.in.size());
    handles_.push_back(h);
    const tdb::TD t = tdb::Array(tdb::I32());
    EXPECT_EQ(Prop(g, t, false, kSelected, &h), 0);
    UHandle out = nullptr;
    EXPECT_EQ(Prop(g, t, true, kSelected, &out), 0);
    ASSERT_NE(out, nullptr);
    handles_.push_back(out);
    std::vector<int32> got(GetNative32(*out));
    if (!got.empty()) std::memcpy(got.data(), *out + 4, 4 * got.size());
    EXPECT_EQ(got, c.want);
  }
}

// An active cursor outside the list: a member write changes nothing and
// answers 0; without a legend a read reads nothing.
TEST_F(CursorAttrTest, InvalidActiveCursor) {
  const int32 g = WithCursors(2);
  SetU(g, kActive, 7);
  EXPECT_EQ(GetU(g, kActive), 7u);
  EXPECT_EQ(SetU(g, kColour, 0x123), 0);
  EXPECT_EQ(CursorU32(Cursor(g, 0), kGCColour), 0xFFu);
  EXPECT_EQ(CursorU32(Cursor(g, 1), kGCColour), 0xFFu);
  EXPECT_EQ(GetU(g, kColour), 0xDEADu);
  // With a legend the read takes the cursor its element shows.
  const int32 legend = MakeLegend(g, 3);
  SetCursorU32(Cursor(g, 1), kGCColour, 0x4242);
  ASSERT_EQ(ShowCursorLegendRow(panel_, legend, 1, nullptr), 1);
  EXPECT_EQ(GetU(g, kColour), 0x4242u);
}

// Lock 1 with index -1: the cluster write snaps to the point nearest the
// cursor's pixel (its own x and y ignored); the list write keeps -1 and
// takes the values of the plot's first point.
TEST_F(CursorAttrTest, SnappingOnLockAndIndex) {
  const tdb::TD type = tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable});
  // Two plots of three points: y 1, 2, 3 and 4, 5, 6 at x 0, 1, 2.
  const int32 g = GraphWithValue(type);
  SetValue(g, Doubles({1, 2, 3, 4, 5, 6}, {2, 3}));
  const int32 first = AlignDatum(GraphCursorRecordTD(), 4);
  UHandle h = DSNewHClr(first + Size());
  PutNative32(*h, 1);
  std::memcpy(Field(g), &h, sizeof h);
  graphs_.push_back(g);
  UPtr c = Cursor(g, 0);
  SetCursorU32(c, kGCFlags, 0x5);
  SetCursorU32(c, kGCPointStyle, 4);
  SetCursorF64(c, kGCX, 1);
  SetCursorF64(c, kGCY, 5);
  UpdateCursorPixel(panel_, g, c, 0);
  const tdb::TD t = CursorTD();
  const std::vector<uChar> tb = t.Bytes();
  const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(tb.data());
  std::vector<uChar> data(size_t(DataSize(td)) + 8, 0);
  Put(td, data.data(), Rec{"", 0xFF, 4, 1, 0, 1, 1, 0xFFFFFFFF, -1, 9, 9});
  EXPECT_EQ(Prop(g, t, false, kCluster, data.data()), 0);
  c = Cursor(g, 0);
  EXPECT_EQ(int32(CursorU32(c, kGCPlot)), 1);
  EXPECT_EQ(int32(CursorU32(c, kGCIndex)), 1);
  EXPECT_EQ(CursorF64(c, kGCX), 1);
  EXPECT_EQ(CursorF64(c, kGCY), 5);
  EXPECT_TRUE(CursorBool(c, kGCLockButton));
  // The same record through the list, on plot 0.
  const tdb::TD lt = tdb::Array(CursorTD());
  const std::vector<uChar> lb = lt.Bytes();
  const TypeDescriptor* el = reinterpret_cast<const TypeDescriptor*>(lb.data() + 10);
  UHandle list = List(el, {Rec{"A", 0xFF, 4, 1, 0, 1, 1, 0, -1, 9, 9}});
  EXPECT_EQ(Prop(g, lt, false, kList, &list), 0);
  c = Cursor(g, 0);
  EXPECT_EQ(int32(CursorU32(c, kGCIndex)), -1);
  EXPECT_EQ(int32(CursorU32(c, kGCPlot)), 0);
  EXPECT_EQ(CursorF64(c, kGCX), 0);
  EXPECT_EQ(CursorF64(c, kGCY), 1);
}

// 3 cursors written over 5: only the two removed cursors' markers are
// restored from the plot image (the kept ones keep their names and values).
TEST_F(CursorAttrTest, ShrinkingErasesTheRemovedCursorsFirst) {
  const int32 g = WithCursors(5);
  const int32 image = DrawInto(Rect{0, 0, 200, 300}, [] {});
  SetW(g, kGraphPixmapWord, image);
  const tdb::TD t = tdb::Array(CursorTD());
  const std::vector<uChar> tb = t.Bytes();
  const TypeDescriptor* el = reinterpret_cast<const TypeDescriptor*>(tb.data() + 10);
  std::vector<Rec> recs;
  for (int32 i = 0; i < 5; ++i) {
    UPtr c = Cursor(g, i);
    SetCursorU32(c, kGCFlags, 0);
    SetCursorF64(c, kGCX, 1 + 2 * i);
    UpdateCursorPixel(panel_, g, c, i);
    const std::string name = "K" + std::to_string(i);
    UHandle h = DSNewHandle(4 + 2);
    PutNative32(*h, 2);
    std::memcpy(*h + 4, name.data(), 2);
    SetCursorName(Cursor(g, i), h);
    recs.push_back(Rec{name, 0xFF, 0, 1, 0, 1, 0, 0, 0, 1.0 + 2 * i, 5});
  }
  std::vector<int32> h;
  for (int32 i = 0; i < 5; ++i) h.push_back(CursorI16(Cursor(g, i), kGCH));
  UHandle three = List(el, {recs.begin(), recs.begin() + 3});
  static const DPort port = [] {
    DPort p = RecordingPort();
    p.drawImage = [](int32, const Rect*, const Rect* r, DColor, DColor, DColor, DColor) {
      calls.push_back({24, *r, 0});
      return int32(0);
    };
    return p;
  }();
  calls.clear();
  DInstallTestPort(&port);
  EXPECT_EQ(Prop(g, t, false, kList, &three), 0);
  DInstallTestPort(nullptr);
  std::vector<int32> restored;
  for (const auto& c : calls)
    if (c.slot == 24) restored.push_back(c.r.left + 2);
  ASSERT_FALSE(restored.empty());
  for (int32 at : restored) EXPECT_TRUE(at == h[3] || at == h[4]) << at;
  EXPECT_NE(std::find(restored.begin(), restored.end(), h[3]), restored.end());
  EXPECT_NE(std::find(restored.begin(), restored.end(), h[4]), restored.end());
}

// A list that cannot be resized: the debug line, reply 16, and the graph's
// list keeps its length and records.
TEST_F(CursorAttrTest, ResizeFailuresKeepTheList) {
  const tdb::TD t = tdb::Array(CursorTD());
  const std::vector<uChar> tb = t.Bytes();
  const TypeDescriptor* el = reinterpret_cast<const TypeDescriptor*>(tb.data() + 10);
  struct Case {
    bool read;
    const char* text;
  };
  for (const Case& c : {Case{false, "Couldn't resize in WriteCursors"}, Case{true, "Couldn't resize in ReadCursors"}}) {
    const int32 g = WithCursors(2);
    UHandle value = c.read ? nullptr : List(el, std::vector<Rec>(5, Rec{"N", 0xFF, 0, 1, 0, 1, 0, 0, 0, 1, 1}));
    qxtest::Reports::Get().Install();
    qxtest::Reports::Get().Clear();
    failAll_ = true;
    const int32 reply = Prop(g, t, c.read, kList, &value);
    failAll_ = false;
    EXPECT_EQ(reply, 16) << c.text;
    EXPECT_EQ(qxtest::Reports::Get().Count(c.text), 1) << c.text;
    qxtest::Reports::Get().Remove();
    int32 n = 0;
    GraphCursorsOf(panel_, g, &n);
    EXPECT_EQ(n, 2) << c.text;
    EXPECT_EQ(CursorU32(Cursor(g, 1), kGCColour), 0xFFu) << c.text;
    if (c.read && value) handles_.push_back(value);
  }
}

}  // namespace
