// Property nodes run through the attribute-node transfer against a panel's
// objects; colour changes of parts.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/datatype.h"
#include "mgsource/memory.h"
#include "mgsource/window/wactive.h"
#include "panel/attrcall.h"
#include "panel/fpexec.h"
#include "panel/numdoit.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/transact.h"
#include "panel_test_support.h"

namespace {

constexpr uInt32 kWrite = 0x80000000u;
constexpr uInt32 kTransparent = 0x1000000;

class AttrCallTest : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    if (!TRStackBlock()) TRInit();
    // A numeric control on the panel: its controller in the root's
    // controller list.
    dco_ = Control(tdb::DBL(), kClsNumeric, &numeric_, root_);
    SetW(dco_, kPWOwner, root_);
    SetW(root_, 10, vib::NewList(panel_, {dco_}));
    SetBounds(numeric_, Rect{10, 10, 30, 50});
    body_ = Obj(kClsCosmetic, numeric_, 41);
    SetBounds(body_, Rect{10, 10, 30, 50});
  }
  void TearDown() override {
    for (UHandle h : values_) DSDisposeHandle(h);
    PanelRootTest::TearDown();
  }
  // Runs a node of entries (selector | kWrite for a write) of the element
  // types on the object, its data at data; the product's transfer path.
  void Node(int32 object, const std::vector<tdb::TD>& types, const std::vector<uInt32>& words, void* data,
            int32 failAllocation = 0) {
    std::vector<uChar> b = tdb::Cluster(types).Bytes();
    UHandle h = DSNewHandle(int32(b.size()));
    ASSERT_NE(h, nullptr);
    std::memcpy(*h, b.data(), b.size());
    std::vector<int32> call = {0, 0, int32(uintptr_t(panel_)), object, int32(uintptr_t(h)), 0,
                               int32(uintptr_t(data)), int32(words.size())};
    for (uInt32 w : words) call.push_back(int32(w));
    MemFailNthAllocation(failAllocation);
    EXPECT_EQ(AttributeNodeTransfer(call.data(), nullptr), 1);
    MemFailNthAllocation(0);
    DSDisposeHandle(h);
  }
  uInt32 Root() const { return uInt32(W(root_, 0)); }
  Rect Bounds() const {
    Rect r;
    std::memcpy(&r, *panel_ + numeric_ + kObjBounds, sizeof r);
    return r;
  }
  static bool Empty(const Rect& r) { return r.bottom <= r.top || r.right <= r.left; }
  // A cluster of two I32s: the type of sizes and colour pairs.
  const TypeDescriptor* Pair() const { return tdb::AsTD(pair_); }
  const std::vector<uChar> pair_ = tdb::Cluster({tdb::I32(), tdb::I32()}).Bytes();
  int32 numeric_ = 0, dco_ = 0, body_ = 0;
  std::vector<UHandle> values_;
};

// The frame: what the selectors do through the built path, with their
// replies' follow-up, and the entries that reach nothing.
TEST_F(AttrCallTest, PropertiesReachTheControlThroughThePanelsPath) {
  ShowInWindow();
  struct Pos {
    int32 left, top;
  };
  // Disabled: 5 is no value and changes nothing; 2 greys and redraws.
  struct {
    uChar value;
    uInt32 flags;
    bool invalid;
  } disabled[] = {{5, 0, false}, {2, 0x280, true}, {1, 0x200, true}, {1, 0x200, false}, {0, 0, false}};
  for (auto& c : disabled) {
    SCOPED_TRACE(int(c.value));
    uChar v = c.value;
    Node(numeric_, {tdb::U8()}, {kWrite | 1}, &v);
    EXPECT_EQ(uInt32(W(numeric_, 0)) & 0x280, c.flags);
    EXPECT_EQ(!Empty(TakeInvalid()), c.invalid);
  }
  // Position written (20000, -20000) lands at (16000, -16000) and reads
  // back signed.
  Pos data[2] = {{20000, -20000}, {0, 0}};
  const auto pos = tdb::Cluster({tdb::I32(), tdb::I32()});
  Node(numeric_, {pos, pos}, {kWrite | 4, 4}, data);
  EXPECT_EQ(data[1].left, 16000);
  EXPECT_EQ(data[1].top, -16000);
  EXPECT_EQ(R(Bounds()), (std::vector<int16>{-16000, 16000, -15980, 16040}));
  EXPECT_FALSE(Empty(TakeInvalid())) << "moved where it was seen";
  // Hidden: the write still moves it, nothing is invalidated.
  SetW(numeric_, 0, W(numeric_, 0) | 0x8);
  int32 left[1] = {100};
  Node(numeric_, {tdb::I32()}, {kWrite | 5}, left);
  EXPECT_EQ(Bounds().left, 100);
  EXPECT_TRUE(Empty(TakeInvalid()));
  SetW(numeric_, 0, W(numeric_, 0) & ~0x8);
  // A selector past the data display level on a class with no level of its
  // own (the numeric's table is not entered), and past the last one.
  for (uInt32 selector : {12u, 40u}) {
    double d = 7;
    Node(numeric_, {tdb::DBL()}, {kWrite | selector}, &d);
    EXPECT_EQ(d, 7);
  }
  // With a table of its own (one selector) the numeric's selectors start
  // at 12 there; the next one reaches nothing.
  static int32 seen;
  seen = -2;
  std::vector<uChar> own = tdb::Cluster({tdb::DBL()}).Bytes();
  SetAttrTable(4, tdb::AsTD(own), [](ObjHeap, int32, AttrCallRec* r) {
    seen = r->selector;
    return 0;
  });
  for (uInt32 selector : {12u, 13u}) {
    double d = 7;
    Node(numeric_, {tdb::DBL()}, {selector}, &d);
  }
  SetAttrTable(4, nullptr, nullptr);
  EXPECT_EQ(seen, 0);
  EXPECT_EQ(Asserts(), 0);
  // The panel itself takes no property.
  uChar on = 0;
  Node(root_, {tdb::Boolean()}, {kWrite}, &on);
  EXPECT_EQ(Reports("supcodoit action=1B?"), 1);
  EXPECT_EQ(Asserts(), 0) << "a VI's node is no programming error";
}

// "Left" reads what the object's rectangle method answers: a cluster that
// is the panel's confirm object answers its bounds united with its
// elements', not its own bounds as a numeric's method does.
TEST_F(AttrCallTest, LeftReadsWhatTheRectangleMethodAnswers) {
  const int32 cluster = Obj(kClsCluster, root_);
  SetBounds(cluster, Rect{40, 40, 80, 120});
  const int32 inner = Obj(kClsNumeric, cluster);
  SetBounds(inner, Rect{50, 20, 60, 60});
  SetW(cluster, 10, vib::NewList(panel_, {inner}));  // its elements
  int32 left[3] = {0, 0, 0};
  Node(numeric_, {tdb::I32()}, {5}, &left[0]);
  Node(cluster, {tdb::I32()}, {5}, &left[1]);
  SetW(int32(OHWord(panel_, kOHExtension)), kHeapExtConfirm / 4, cluster);
  VIRec(vi_)->flags2 |= 0x400000;
  Node(cluster, {tdb::I32()}, {5}, &left[2]);
  EXPECT_EQ(std::vector<int32>(left, left + 3), (std::vector<int32>{10, 40, 20}));
}

// A node of three entries whose first redraws: the later ones are not the
// last entry, and the flag is clear after the node; bad replies and part ids
// are reported; a failing allocation stops the entry with its debug text and
// the stack and the VI are as before.
int32 gReply[3], gPartId[3], gLast[3], gCalls;
int32 Patched(ObjHeap, int32, AttrCallRec* rec, int32) {
  const int32 i = gCalls++ % 3;
  gLast[i] = int32(rec->last);
  rec->partId = gPartId[i];
  return gReply[i];
}
TEST_F(AttrCallTest, TheFrameFollowsRepliesAcrossTheNode) {
  ShowInWindow();
  ptest::SlotPatch patch(kClsNumeric, kMsgOCtrlOp, &Patched);
  struct Case {
    const char* what;
    int32 reply[3], partId[3];
    int32 last[3];
    const char* report;
  } cases[] = {
      {"first redraws", {0x20000, 0, 0}, {0, 0, 0}, {0, 0, 0}, nullptr},
      {"none redraws", {0, 0, 0}, {0, 0, 0}, {0, 0, 1}, nullptr},
      {"a forbidden reply", {0x400, 0, 0}, {0, 0, 0}, {0, 0, 1}, "bad return val for"},
      {"a bad part id", {0, 0, 0}, {0, 90, 0}, {0, 0, 1}, "bad partID for"},
      {"memory ran out", {0x10, 0, 0}, {0, 0, 0}, {0, 0, 1}, "!!! not enough memory for attribute to change"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qxtest::Reports::Get().Clear();
    std::memcpy(gReply, c.reply, sizeof gReply);
    std::memcpy(gPartId, c.partId, sizeof gPartId);
    gCalls = 0;
    void* top = TRStackTop();
    double d[3] = {};
    Node(numeric_, {tdb::DBL(), tdb::DBL(), tdb::DBL()}, {0, 0, 0}, d);
    EXPECT_EQ(gCalls, 3);
    EXPECT_EQ(std::vector<int32>(gLast, gLast + 3), std::vector<int32>(c.last, c.last + 3));
    EXPECT_EQ(AttrNodeRedrawFlag(), 0u);
    EXPECT_EQ(TRStackTop(), top);
    EXPECT_EQ(VIRec(vi_)->flags & 0x2000000, 0u);
    if (c.report) { EXPECT_EQ(Reports(c.report), 1); }
  }
}

TEST_F(AttrCallTest, AFailedAllocationEndsTheEntryOnce) {
  UHandle caption = nullptr;
  void* top = TRStackTop();
  Node(numeric_, {tdb::String()}, {10}, &caption, 1);
  EXPECT_EQ(caption, nullptr);
  EXPECT_EQ(Reports("!!! not enough memory for attribute to change"), 1);
  EXPECT_EQ(TRStackTop(), top);
  EXPECT_EQ(VIRec(vi_)->flags & 0x2000000, 0u);
  // With memory the empty caption comes back.
  Node(numeric_, {tdb::String()}, {10}, &caption);
  ASSERT_NE(caption, nullptr);
  values_.push_back(caption);
  EXPECT_EQ(GetNative32(*caption), 0u);
}

// Paths: the step of each kind of owner, and whether the key focus lies in
// the object a path addresses.
TEST_F(AttrCallTest, PathsNameEachOwnerAndFindTheKeyFocus) {
  const int32 cluster = Obj(kClsCluster, root_);
  const int32 a = Obj(kClsNumeric, cluster), b = Obj(kClsNumeric, cluster);
  SetW(cluster, 11, vib::NewList(panel_, {a, b}));
  const int32 array = Obj(kClsArray, root_);
  const int32 element = Obj(kClsNumeric, array, 27);
  SetW(array, kPWArrayElement, element);
  SetW(array, kPWArrayShown, 0x00030002);
  const int32 graph = Obj(kClsGraphChart, root_);
  const int32 inner = Obj(kClsString);
  SetW(inner, kPWOwner, graph);
  const int32 label = Obj(kClsLabel, numeric_, 32);
  struct Case {
    const char* what;
    int32 object;
    std::vector<TransactionFrame> tail;  // the steps after the panel's
  } cases[] = {
      {"a controller's control", numeric_, {{dco_, kCatDCO, 0, 0}, {numeric_, kCatDDO, 2, 0}}},
      {"a cluster element", b, {{cluster, kCatDDO, 1, 1}, {b, kCatDDO, 2, 0}}},
      {"an array element", element, {{array, kCatDDO, 3, 0x30002}, {element, kCatDDO, 2, 2}}},
      {"held by a graph", inner, {{graph, kCatDDO, 2, 0}, {inner, kCatDDO, 2, 0}}},
      {"a part 32", label, {{dco_, kCatDCO, 0, 0}, {numeric_, kCatDDO, 0, 1}, {label, 0xFFFFFFFFu, 2, 0}}},
  };
  auto path = [&](int32 object) {
    std::vector<TransactionFrame> out;
    EXPECT_EQ(GetObjAttrRec(panel_, object, nullptr, nullptr), 1);
    for (auto* f = static_cast<TransactionFrame*>(TRStackTop()); f->kind; ++f) out.push_back(*f);
    return out;
  };
  void* previous = TRPushFrame();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<TransactionFrame> p = path(c.object);
    ASSERT_EQ(p.size(), c.tail.size() + 1);
    EXPECT_EQ(p[0].kind, kCatFPSC);
    for (size_t i = 0; i < c.tail.size(); ++i)
      EXPECT_TRUE(std::memcmp(&p[i + 1], &c.tail[i], sizeof(TransactionFrame)) == 0) << i;
  }
  // The key focus on element a of the cluster.
  auto cmp = [&](int32 object) {
    EXPECT_EQ(GetObjAttrRec(panel_, object, nullptr, nullptr), 1);
    return CompareAttrPath(panel_, static_cast<TransactionFrame*>(TRStackTop()));
  };
  EXPECT_EQ(cmp(cluster), 0) << "no key focus";
  std::vector<TransactionFrame> focus = path(a);
  focus.push_back(TransactionFrame{});
  UHandle saved = AZNewHandle(int32(focus.size() * sizeof(TransactionFrame)));
  ASSERT_NE(saved, nullptr);
  std::memcpy(*saved, focus.data(), focus.size() * sizeof(TransactionFrame));
  const uInt32 ext = OHWord(panel_, kOHExtension);
  PutNative32(*panel_ + ext + kHeapExtKeyFocus, uInt32(a));
  PutNative32(*panel_ + ext + kHeapExtSavedFrames, uInt32(uintptr_t(saved)));
  EXPECT_EQ(cmp(cluster), 1);
  EXPECT_EQ(cmp(a), 1);
  EXPECT_EQ(cmp(b), 0);
  EXPECT_EQ(cmp(numeric_), 0);
  PutNative32(*panel_ + ext + kHeapExtKeyFocus, 0);
  PutNative32(*panel_ + ext + kHeapExtSavedFrames, 0);
  AZDisposeHandle(saved);
  TRSetStackTop(previous);
}

// The shared value procedures' limits: sizes, text and part colours,
// part visibility, the format check and the selector count of a table.
TEST_F(AttrCallTest, SharedValueProceduresKeepTheirLimits) {
  const int32 digits = Obj(kClsLabel, numeric_, 10);
  SetBounds(digits, Rect{10, 10, 30, 50});
  const Rect view{10, 10, 30, 50};
  TRecord text = TNew(&view, 0, reinterpret_cast<const uChar*>("12"), 2, 0, 0, 0xFFFFFF);
  ASSERT_NE(text, nullptr);
  SetW(digits, kObjText / 4, int32(uintptr_t(text)));
  const int32 frame = Obj(kClsCosmetic, numeric_, 9);
  SetW(frame, 7, 0x111111);
  SetW(frame, 8, 0x222222);
  struct Size {
    int32 w, h;
  };
  struct {
    Size in;
    int32 reply;
    Size out;
  } sizes[] = {{{2, 17000}, 0x30080, {5, 16000}}, {{5, 16000}, 0, {5, 16000}}};
  const TypeDescriptor* pair = Pair();
  for (auto& c : sizes) {
    Size v = c.in;
    AttrCallRec rec{};
    EXPECT_EQ(SetPartSizeByIdAttr(panel_, numeric_, 41, 0, 0, pair, &v, &rec), c.reply);
    Size back{};
    GetPartSizeAttr(panel_, numeric_, 41, 0, 0, pair, &back);
    EXPECT_EQ(back.w, c.out.w);
    EXPECT_EQ(back.h, c.out.h);
  }
  // Part 10 is the digits' text, part 9 the frame.
  struct {
    int32 part;
    uInt32 fore, back;
    int32 reply;
    uInt32 gotFore, gotBack;
  } colours[] = {
      {10, 0x112233, 0xFFFFFF, 0x20100, 0x112233, 0xFFFFFF},
      {10, kTransparent, kTransparent, 0x20100, 0x112233, kTransparent},
      {10, 0x112233, kTransparent + 1, 0, 0x112233, kTransparent},
      {9, 0x111111, 0x222222, 0, 0x111111, 0x222222},                  // unchanged
      {9, 0x333333, kTransparent + 5, 0x20100, 0x333333, 0x222222},  // above transparent: kept
      {9, 0x333333, kTransparent, 0x20100, 0x333333, kTransparent},
  };
  for (auto& c : colours) {
    SCOPED_TRACE(testing::Message() << c.part << " " << std::hex << c.fore << " " << c.back);
    uInt32 v[2] = {c.fore, c.back};
    AttrCallRec rec{};
    DColor t = 0, b = 0;
    if (c.part == 10) {
      EXPECT_EQ(SetTextColorsAttr(panel_, numeric_, 10, 0, 0, pair, v, &rec), c.reply);
      TGetColors(text, &t, &b);
    } else {
      EXPECT_EQ(SetPartColorsAttr(panel_, numeric_, 9, 0, 0, pair, v, &rec), c.reply);
      t = uInt32(W(frame, 7)), b = uInt32(W(frame, 8));
      int32 back[2] = {};
      GetPartColorsAttr(panel_, numeric_, 9, 0, 0, pair, back);
      EXPECT_EQ(uInt32(back[1]), c.gotBack);
    }
    EXPECT_EQ(t, c.gotFore);
    EXPECT_EQ(b, c.gotBack);
  }
  SetW(digits, kObjText / 4, 0);
  TDispose(text);
  std::vector<uChar> bb = tdb::Boolean().Bytes();
  for (uChar on : {uChar(1), uChar(0), uChar(0)}) {
    const bool was = !(W(frame, 0) & 0x8);
    EXPECT_EQ(SetPartVisibleAttr(panel_, numeric_, 9, tdb::AsTD(bb), &on), was == bool(on) ? 0 : 0x30080);
    EXPECT_EQ(!(W(frame, 0) & 0x8), bool(on));
  }
  struct {
    int32 type, format, allowed;
  } formats[] = {{kTDI32, 66, 1}, {kTDU8, 68, 1}, {kTDEnumU16, 67, 1}, {kTDDBL, 66, 0},
                 {kTDDBL, 64, 0}, {kTDDBL, 63, 1}, {kTDDBL, 69, 1}, {kTDString, 65, 0}};
  for (auto& f : formats) EXPECT_EQ(AttrNumTypeCheck(f.type, f.format), f.allowed) << f.type << " " << f.format;
  EXPECT_EQ(CountAttrEntries(AttrTypeTable[0]), 12);
  std::vector<uChar> nested =
      tdb::Cluster({tdb::U8(), tdb::Cluster({tdb::I32(), tdb::Cluster({tdb::U8(), tdb::U8()})})}).Bytes();
  EXPECT_EQ(CountAttrEntries(tdb::AsTD(nested)), 6);
}

// A value's descriptor is taken as the bounds check takes it: the numeric
// and Boolean headers it reads without the walk too, a name that does or
// does not fit, sizes past the list or below a header, the size kept in the
// holder, codes of no type, a typedef.
TEST_F(AttrCallTest, AValuesDescriptorIsTakenAsTheBoundsCheckTakesIt) {
  // Size, code, flags and what follows the header.
  struct Header {
    uInt16 size;
    uChar code, flags;
    std::vector<uChar> rest;
  };
  const Header headers[] = {
      {4, kTDI32, 0, {}},           {4, kTDBoolean, 0, {}},     {4, kTDBooleanOld, 0, {}},
      {4, kTDCXT, 0, {}},           {4, 0, 0, {}},              {4, 0x7F, 0, {}},
      {6, kTDI32, 0, {}},           {3, kTDI32, 0, {}},         {0xFFFF, kTDI32, 0, {}},
      {8, kTDI32, 0x40, {2, 'a', 'b', 0}},                      {4, kTDI32, 0x40, {}},
      {8, kTDI32, 0x40, {9, 'a', 'b', 0}},                      {8, kTDI8, 0, {0, 0, 0, 0}},
  };
  std::vector<std::vector<uChar>> all;
  for (const Header& h : headers) {
    std::vector<uChar> d(4);
    std::memcpy(d.data(), &h.size, 2);
    d[2] = h.code, d[3] = h.flags;
    d.insert(d.end(), h.rest.begin(), h.rest.end());
    all.push_back(d);
  }
  all.push_back(tdb::Typedef("t", tdb::I32()).Bytes());
  for (const auto& d : all) {
    for (const int32 at : {0, 2}) {
      // The descriptor at the offset, last in the list: its room is what
      // follows the offset.
      UHandle h = DSNewHandle(at + int32(d.size()));
      ASSERT_NE(h, nullptr);
      std::memcpy(*h + at, d.data(), d.size());
      AttrCallRec rec{};
      rec.types = h;
      rec.typeOffset = uInt32(at);
      const uChar* start = *h + at;
      const TypeDescriptor* want =
          TDCheckBounds(start, int32(d.size())) == kNoErr ? SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(start))
                                                          : nullptr;
      EXPECT_EQ(AttrValueTD(&rec), want) << "code " << int32(d[2]) << " flags " << int32(d[3]) << " at " << at;
      DSDisposeHandle(h);
    }
  }
}

// Colour changes of parts: what each class stores or forwards.
int32 gSliderA = -1;
void FakeSliders(ObjHeap, int32, int32* a, int32* b) {
  *a = gSliderA;
  *b = -1;
}
TEST_F(AttrCallTest, ColourChangesKeepPartsThatBelongTogetherMatching) {
  auto colours = [&](int32 part) { return std::vector<uInt32>{uInt32(W(part, 7)), uInt32(W(part, 8))}; };
  Obj(kClsCosmetic, numeric_, 2);  // the up arrow, beside the down one
  const int32 down = Obj(kClsCosmetic, numeric_, 3);
  const int32 boolean = Obj(kClsBoolean, root_);
  const int32 face = vib::NewObject(panel_, kClsBigMultiCosmetic, kObjImageList + 4 * kBigImageEntry, boolean, 21);
  PutNative16(*panel_ + face + kObjImageCount, 4);
  const int32 fixed = Obj(kClsLabel, numeric_, 81);
  const int32 slide = Obj(kClsSlide, root_);
  SetW(slide, 0, 0x800000);
  const int32 arrow = Obj(kClsCosmetic, slide, 6), other = Obj(kClsCosmetic, slide, 7);
  const int32 housing = Obj(kClsCosmetic, slide, 8), fill = Obj(kClsCosmetic, slide, 31);
  const int32 plain = Obj(kClsCosmetic, root_);
  gSliderA = 0;
  SetSlideOpsHooks(SlideOpsHooks{.colourSliders = &FakeSliders});
  const uInt32 f = 0xFF8040, b = 0x204080;
  struct Case {
    const char* what;
    int32 object, partId, flags;
    uInt32 fore, back;
    int32 watched;
    std::vector<uInt32> colours;
  } cases[] = {
      {"increment arrow", numeric_, 2, 0x300, f, b, down, {f, b}},
      {"four-state face", boolean, 21, 0x300, f, b, face, {0, 0}},
      {"fixed label", fixed, 0, 0x300, f, b, fixed, {0, 0}},
      {"no flags", plain, 0, 0, f, b, plain, {0, 0}},
      {"slide arrow's fill", slide, 6, 0x300, f, b, fill, {b, b}},
      {"slide housing keeps its background", slide, 6, 0x300, f, b, housing, {f, 0}},
      {"slide's other arrow", slide, 6, 0x300, f, b, other, {f, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OColorChange(panel_, c.object, c.partId, 0, int32(c.fore), int32(c.back), c.flags);
    EXPECT_EQ(colours(c.watched), c.colours);
  }
  // The face's state two above the current takes the half colours.
  const int32 state2 = (kObjImageList + 2 * kBigImageEntry + 8) / 4;
  EXPECT_EQ(uInt32(W(face, state2)), 0x7F4020u);
  EXPECT_EQ(uInt32(W(face, state2 + 1)), 0x102040u);
  EXPECT_EQ(W(arrow, 7), 0) << "the part asked for is the caller's";
  // A final change to transparent: the panel's bookkeeping.
  EXPECT_EQ(Root() & 0x880000u, 0u);
  EXPECT_EQ(OColorChange(panel_, plain, 0, 0, int32(kTransparent), 0, 0x10100), 0x100);
  EXPECT_EQ(Root() & 0x880000u, 0x880000u);
  gSliderA = -1;
}

// "Key Focus": read from the panel's focus word; a write acts only in the
// active window.
TEST_F(AttrCallTest, KeyFocusIsReadFromThePanelAndReleasedInTheActiveWindow) {
  ShowInWindow();
  const uInt32 ext = OHWord(panel_, kOHExtension);
  auto focus = [&]() -> uInt32& { return *reinterpret_cast<uInt32*>(*panel_ + ext + kHeapExtKeyFocus); };
  struct {
    const char* what;
    int32 focused;
    bool active;
    uInt32 word;
    uChar value;
    int32 focusAfter;
  } cases[] = {
      {"none read", 0, false, 2, 0, 0},
      {"its own read", 1, false, 2, 1, 1},
      {"release in an inactive window", 1, false, kWrite | 2, 0, 1},
      {"release in the active window", 1, true, kWrite | 2, 0, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    focus() = c.focused ? uInt32(numeric_) : 0;
    WSetActiveWindow(c.active ? window_ : kWNoWindow);
    uChar v = c.word & kWrite ? c.value : uChar(7);
    Node(numeric_, {tdb::Boolean()}, {c.word}, &v);
    if (!(c.word & kWrite)) { EXPECT_EQ(v, c.value); }
    EXPECT_EQ(focus() != 0, c.focusAfter != 0);
  }
  focus() = 0;
  WSetActiveWindow(kWNoWindow);
}

}  // namespace
