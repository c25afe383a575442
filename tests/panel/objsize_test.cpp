// Resizing and moving panel objects: the attachment rules, data display
// objects re-fitted around their parts, labels sized to their text,
// decorations telling their images, and moves of containers and of
// objects that cache images.
#include <cstring>
#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/window/textrec.h"
#include "panel/objload.h"
#include "panel/objsize.h"
#include "panel/oinval.h"
#include "panel/objimage.h"
#include "panel/ooffset.h"
#include "panel/panel_test_support.h"

namespace {

using V = std::vector<int16>;
V Corners(const Rect& r) { return {r.top, r.left, r.bottom, r.right}; }

class SizeTest : public ptest::PanelTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(Asserts(), 0) << ReportText();
    for (TRecord t : texts_) TDispose(t);
    PanelTest::TearDown();
  }
  // A part of the owner: a decoration of that id with its bounds, anchor
  // and attachment.
  int32 Part(int32 owner, int16 id, Rect r, int16 anchor = 0, uInt16 attach = 0, int32 cls = kClsCosmetic) {
    const int32 p = Obj(cls, owner, id);
    SetBounds(p, r);
    PutNative16(*panel_ + p + kObjAnchor, uInt16(anchor));
    PutNative16(*panel_ + p + kObjAttach, attach);
    return p;
  }
  Rect B(int32 o) {
    Rect r;
    std::memcpy(&r, *panel_ + o + kObjBounds, sizeof r);
    return r;
  }
  void Flag(int32 o, uInt32 f) { SetW(o, 0, int32(uInt32(W(o, 0)) | f)); }
  // A label (of the owner) whose text record fills its bounds.
  TRecord Text(int32 label, const char* s, uInt32 mode = 0) {
    const Rect r = B(label);
    TRecord t = TNew(&r, mode, reinterpret_cast<const uChar*>(s), int32(std::strlen(s)), kAppFont, 0, kTransparentColor);
    texts_.push_back(t);
    SetW(label, kPWLabelText, int32(uintptr_t(t)));
    return t;
  }
  static Rect View(TRecord t) {
    Rect r;
    TGetRect(t, &r, nullptr);
    return r;
  }
  static int32 Height(const Rect& r) { return r.bottom - r.top; }
  static int32 Width(const Rect& r) { return r.right - r.left; }
  static Point Cell(const char* s) {
    Point p{0, 0};
    TTextSize(reinterpret_cast<const uChar*>(s), 1, kAppFont, &p);
    return p;
  }
  std::vector<TRecord> texts_;
};

TEST(Attachment, ProportionalPositionsAndEdgeRules) {
  const struct { int32 oldLen, newLen, pos, want; } pos[] = {
      {100, 60, 0, 0},  {100, 60, 50, 30}, {100, 60, 37, 22}, {100, 60, 63, 38}, {100, 60, 100, 60},
      {100, 60, 20, 12}, {100, 60, 25, 15}, {80, 80, 33, 33},  {0, 60, 7, 7},     {-5, 60, 7, 7},
      {10, 5, 1, 0},     {10, 5, 9, 4},  // halves to even
  };
  for (const auto& c : pos) EXPECT_EQ(ProportionalPos(c.oldLen, c.newLen, c.pos), c.want) << c.oldLen << " " << c.pos;

  const Rect a{0, 0, 100, 100}, d{40, 40, 60, 60};
  const struct { Rect to; int32 flags; Rect want; int32 changed; } rules[] = {
      {{10, 5, 110, 105}, 0x1, {50, 45, 70, 65}, 1},       // a pure move moves whatever the flags
      {{10, 5, 110, 105}, 0x80, {50, 45, 70, 65}, 1},
      {{10, 5, 110, 105}, 0, {40, 40, 60, 60}, 0},         // ... unless they are 0
      {{-10, -10, 110, 110}, 0xF, {40, 40, 60, 60}, 0},    // centred in a symmetric growth
      {{0, 0, 200, 200}, 0xF, {90, 90, 110, 110}, 1},      // centred in a growth to the bottom right
      {{0, 0, 120, 130}, 0x8, {60, 40, 80, 60}, 1},
      {{0, 0, 120, 130}, 0x2, {40, 70, 60, 90}, 1},
      {{-5, -7, 120, 130}, 0xF0, {35, 33, 80, 90}, 1},
      {{0, 0, 200, 50}, 0x400 | 0x800 | 0x100 | 0x200, {80, 20, 120, 30}, 1},
      {{0, 0, 50, 50}, 0x1000, {40, 40, 60, 60}, 0},       // a tie follows the top and the left
      {{0, 0, 100, 120}, 0x1000, {40, 40, 60, 60}, 0},
  };
  for (const auto& c : rules) {
    Rect out;
    EXPECT_EQ(ApplyAttachment(&a, &c.to, &d, &out, c.flags), c.changed) << std::hex << c.flags;
    EXPECT_EQ(Corners(out), Corners(c.want)) << std::hex << c.flags;
  }
  const Rect below{60, 60, 90, 90};
  EXPECT_EQ(AutoAttachEdges(0x1000, &below, &a), 0x1000 | 0x8 | 0x2);
  EXPECT_EQ(AutoAttachEdges(0x1000 | 0x40, &below, &a), 0x1000 | 0x40 | 0x2) << "a stretch keeps the vertical";
}

// Form 1 moves the root by the object's change and the parts follow it;
// form 2 moves the parts anchored to the changed one and re-fits with the
// frame part grown by 2.
TEST_F(SizeTest, DataObjectsKeepTheirPartsAttached) {
  const int32 n = Obj(kClsNumeric);
  const int32 frame = Part(n, kPartFrameAround, {0, 0, 0, 0});
  const int32 root = Part(n, 9, {10, 10, 30, 50});
  const int32 arrows = Part(n, 10, {12, 52, 28, 60}, 9, kAttachRight);
  const int32 loose = Part(n, 11, {0, 0, 5, 5}, 9, 0);
  ASSERT_EQ(OSize(panel_, n, nullptr, 0), 0);
  EXPECT_EQ(R(B(frame)), V({-2, -2, 32, 62}));
  EXPECT_EQ(R(B(n)), V({-2, -2, 32, 62}));
  const Rect to{-2, -2, 42, 92};
  ASSERT_EQ(OSize(panel_, n, &to, 0), 0);
  EXPECT_EQ(R(B(root)), V({10, 10, 40, 80}));
  EXPECT_EQ(R(B(arrows)), V({12, 82, 28, 90}));
  EXPECT_EQ(R(B(loose)), V({0, 0, 5, 5}));
  EXPECT_EQ(R(B(n)), V({-2, -2, 42, 92}));
  EXPECT_TRUE(W(n, 0) & kObjFlagMoved);
  EXPECT_EQ(R(LastOldBounds), V({-2, -2, 32, 62}));

  Flag(root, kObjFlagHidden), Flag(arrows, kObjFlagHidden), Flag(loose, kObjFlagHidden);
  ASSERT_EQ(OSize(panel_, n, nullptr, 0), 0);
  EXPECT_EQ(R(B(n)), V({-2, -2, 2, 2})) << "only the frame part";
  Flag(frame, kObjFlagHidden);
  ASSERT_EQ(OSize(panel_, n, nullptr, 0), 0);
  EXPECT_EQ(R(B(n)), V({0, 0, 0, 0})) << "no visible part";
}

// A re-fit unites what each part's rectangle method answers, whether the
// method is sent or its answer read from the part's block: decorations
// without an image, naming none, with one and too small for their colours,
// a big multi-decoration's entries, a label, display objects and a scale.
TEST_F(SizeTest, ARefitUnitesWhatEachPartsRectangleMethodAnswers) {
  // An icon family whose mask covers a square: its rectangle is the
  // square's part of the bounds.
  UHandle icon = AZNewHClr(128), mask = AZNewHClr(128);
  ASSERT_TRUE(icon && mask);
  for (int32 v = 4; v < 8; ++v) (*mask)[v * 4 + 1] = 0xF0;
  int32 picture = 0, iconImage = 0, maskImage = 0;
  ASSERT_EQ(ICreateProcImage(nullptr, 0, &picture), kNoErr);
  ASSERT_EQ(IMakeImageFromRsrc(kImageIcon1, icon, &iconImage, 1), kNoErr);
  ASSERT_EQ(IMakeImageFromRsrc(kImageMask, mask, &maskImage, 1), kNoErr);
  ImageEntry* family = IEntryPtr(picture);
  family->kind = kImageFamily;
  family->flags = 0;
  family->data = uInt32(iconImage);
  family->extra = family->third = 0;
  family->fourth = uInt32(maskImage);
  const struct {
    const char* what;
    int32 cls, size, image;
  } cases[] = {
      {"decoration", kClsCosmetic, 0, 0},
      {"decoration naming no image", kClsCosmetic, 0, 0x7FFF},
      {"decoration with an image", kClsCosmetic, 0, kObjImageHeld | picture},
      {"decoration too small for its colours", kClsCosmetic, 32, 0},
      {"big multi-decoration", kClsBigMultiCosmetic, kObjImageList + 2 * kBigImageEntry, 0},
      {"label", kClsLabel, 0, 0},
      {"numeric", kClsNumeric, 0, 0},
      {"Boolean", kClsBoolean, 0, 0},
      {"scale", kClsScale, 0, 0},
  };
  for (const auto& c : cases) {
    const int32 n = Obj(kClsNumeric);
    const int32 p = vib::NewObject(panel_, c.cls, c.size ? c.size : ClassRecord(c.cls)->instanceSize, n, 41, 0);
    ASSERT_NE(p, 0) << c.what;
    SetBounds(p, {10, 20, 30, 60});
    if (c.image) SetW(p, kObjImage / 4, c.image);
    if (c.cls == kClsBigMultiCosmetic) {
      PutNative16(*panel_ + p + kObjImageCount, 2);
      const Rect entries[2] = {{5, 5, 15, 15}, {25, 50, 40, 70}};
      for (int32 i = 0; i < 2; ++i)
        std::memcpy(*panel_ + p + kObjImageList + kBigImageEntry * i, &entries[i], sizeof(Rect));
    }
    const int32 other = Part(n, 9, {12, 22, 18, 40});
    Rect want = B(other), answer{0, 0, 0, 0};
    ASSERT_EQ(OGetRect(panel_, p, &answer, kRectBounds), 0) << c.what;
    if (!DEmptyRect(&answer)) DUnionRect(&answer, &want);
    ASSERT_EQ(OSize(panel_, n, nullptr, 0), 0) << c.what;
    EXPECT_EQ(Corners(B(n)), Corners(want)) << c.what;
  }
  IRelease(picture);
}

// A text part that stretches with the root hands its resize to the root.
TEST_F(SizeTest, AStretchingPartResizesTheRoot) {
  const int32 s = Obj(kClsString);
  const int32 root = Part(s, 9, {0, 0, 20, 40});
  const int32 text = Part(s, 11, {2, 2, 18, 38}, 9, kStretchLeft | kStretchRight);
  LastOldBounds = B(text);
  SetBounds(text, {2, 2, 18, 58});
  ASSERT_EQ(OSize(panel_, s, nullptr, 11), 0);
  EXPECT_EQ(R(B(root)), V({0, 0, 20, 60}));
  EXPECT_EQ(R(B(text)), V({2, 2, 18, 58}));
  EXPECT_EQ(R(B(s)), V({0, 0, 20, 60}));
}

TEST_F(SizeTest, ABooleanTextWidensItsButtonByHalfTheExcess) {
  const int32 b = Obj(kClsBoolean);
  const int32 button = Part(b, 21, {0, 0, 20, 40});
  const int32 text = Part(b, 22, {5, 2, 15, 37}, 21, kAttachCentred);
  Flag(text, 0x10);
  ASSERT_EQ(OSize(panel_, b, nullptr, 22), 0);
  EXPECT_EQ(R(B(button)), V({0, -1, 20, 41})) << "3 pixels too wide: 1 on each side";
  EXPECT_EQ(R(B(text)), V({5, 2, 15, 37}));

  // The two state texts sit on the button's quarter lines, beside it.
  const int32 sw = Obj(kClsBoolean);
  Part(sw, 21, {0, 0, 40, 40});
  const int32 on = Part(sw, 63, {0, 0, 10, 20}, 21, kAttachCentred), off = Part(sw, 64, {0, 0, 12, 20}, 21, kAttachCentred);
  ASSERT_EQ(OSize(panel_, sw, nullptr, 0), 0);
  EXPECT_EQ(R(B(on)), V({5, 43, 15, 63}));
  EXPECT_EQ(R(B(off)), V({24, 43, 36, 63}));
}

TEST_F(SizeTest, GroupsMapTheirMembersUnlessFlat) {
  const struct { Rect group; V want; } cases[] = {
      {{10, 10, 30, 50}, {0, 0, 20, 20}},
      {{10, 10, 10, 50}, {10, 10, 20, 30}},  // no height: members keep their rectangles
  };
  for (const auto& c : cases) {
    const int32 g = Obj(kClsGrouperObject);
    const int32 m = Part(g, 0, {10, 10, 20, 30});
    SetBounds(g, c.group);
    const Rect to{0, 0, 40, 40};
    ASSERT_EQ(OSize(panel_, g, &to, 0), 0);
    EXPECT_EQ(R(B(m)), c.want);
  }
}

// Parts anchored in a ring: each is re-fitted around once, and it ends.
TEST_F(SizeTest, AnAnchorLoopEnds) {
  const int32 d = Obj(kClsDataDisplayObject);
  Part(d, 9, {0, 0, 10, 10});
  const int32 a = Part(d, 10, {0, 20, 10, 30}, 12, 0x1);
  const int32 b = Part(d, 11, {0, 40, 10, 50}, 10, 0x1);
  const int32 c = Part(d, 12, {0, 60, 10, 70}, 11, 0x1);
  LastOldBounds = B(a);
  SetBounds(a, {0, 25, 10, 35});
  EXPECT_EQ(OSize(panel_, d, nullptr, 10), 0) << "ended by the re-fit rule, not by the nesting limit";
  EXPECT_GE(B(b).left, 45);
  EXPECT_GE(B(c).left, 65);
}

TEST_F(SizeTest, NumericTextPartFollowsTheFormat) {
  const int32 n = Obj(kClsNumeric);
  const int32 text = Part(n, 10, {0, 0, 14, 60}, 0, 0, kClsLabel);
  const TRecord t = Text(text, "12");
  ASSERT_EQ(NumericSetFormatStyle(panel_, n, 512 + 0x24), kNoErr);
  EXPECT_EQ(TGetMode(t) & kTRModeKind, kTRKindLines);
  const int32 two = Height(B(text));
  ASSERT_EQ(NumericSetFormatStyle(panel_, n, 0), kNoErr);
  EXPECT_EQ(TGetMode(t) & kTRModeKind, kTRKindOneLine);
  EXPECT_EQ(two - Height(B(text)), Cell("0").v) << "one line less";
  EXPECT_EQ(R(B(n)), R(B(text)));
}

// ---- Labels and decorations ------------------------------------------------------------------

TEST_F(SizeTest, SelfSizingLabelsFitTheirText) {
  const int32 empty = Part(0, 0, {10, 10, 11, 11}, 0, 0, kClsLabel), vee = Part(0, 0, {10, 10, 11, 11}, 0, 0, kClsLabel);
  const TRecord te = Text(empty, ""), tv = Text(vee, "v");
  Flag(empty, 0x60000), Flag(vee, 0x60000);
  ASSERT_EQ(OSize(panel_, empty, nullptr, 0), 0);
  ASSERT_EQ(OSize(panel_, vee, nullptr, 0), 0);
  EXPECT_EQ(R(View(te)), R(View(tv))) << "an empty label is one character";
  EXPECT_EQ(GetNative32(*TGetText(te)), 0u) << "and stays empty";

  // Narrower than a character: right-justified grows left, centred both
  // ways with the odd pixel on the left.
  const int32 cell = Cell("v").h;
  ASSERT_GT(cell, 3);
  for (const uInt32 justify : {uInt32(kTRJustifyRight), uInt32(kTRJustifyCentre)}) {
    const int32 l = Part(0, 0, {10, 50, 40, int16(50 + cell - 3)}, 0, 0, kClsLabel);
    const TRecord t = Text(l, "", justify);
    ASSERT_EQ(OSize(panel_, l, nullptr, 0), 0);
    const Rect r = View(t);
    EXPECT_EQ(Width(r), cell);
    EXPECT_EQ(r.right - (50 + cell - 3), justify == kTRJustifyRight ? 0 : 1);
  }

  // A multi-label as wide as its longest text, showing its own again.
  const int32 multi = Part(0, 0, {10, 10, 30, 12}, 0, 0, kClsMultiLabel), wide = Part(0, 0, {10, 10, 30, 12}, 0, 0, kClsLabel);
  const TRecord tm = Text(multi, "a"), tw = Text(wide, "wwwwwwww");
  UHandle list = Keep(AZNewHandle(4 + 2 + 9));
  PutNative32(*list, 2);
  std::memcpy(*list + 4, "\001a\010wwwwwwww", 11);
  SetW(multi, kObjStringList / 4, int32(uintptr_t(list)));
  Flag(multi, 0x20000), Flag(wide, 0x20000);
  ASSERT_EQ(OSize(panel_, multi, nullptr, 0), 0);
  ASSERT_EQ(OSize(panel_, wide, nullptr, 0), 0);
  EXPECT_EQ(Width(View(tm)), Width(View(tw)));
  EXPECT_EQ(GetNative32(*TGetText(tm)), 1u);
}

// A label left of its control keeps its right edge when its text grows.
TEST_F(SizeTest, ALabelBesideItsControlGrowsAway) {
  const int32 n = Obj(kClsNumeric);
  Part(n, 9, {10, 100, 30, 200});
  const int32 label = Part(n, 7, {10, 40, 26, 90}, 9, kAttachAuto, kClsLabel);
  const TRecord t = Text(label, "x");
  Flag(label, 0x20000);
  TReplaceText(t, reinterpret_cast<const uChar*>("a much longer caption"), 21);
  ASSERT_EQ(OSize(panel_, label, nullptr, 0), 0);
  EXPECT_EQ(B(label).right, 90);
  EXPECT_LT(B(label).left, 40);
}

// What a decoration's image is told, and the bounds it has meanwhile.
struct Told {
  std::vector<V> rects;
};
Told gTold;
ObjHeap gHeap;
int32 gObject;
int32 RecordingPicture(int32 message, PictStyleBlock*, PictMessageBlock* b) {
  if (message != 5) return 0;
  Rect bounds;
  std::memcpy(&bounds, *gHeap + gObject + kObjBounds, sizeof bounds);
  gTold.rects = {Corners(*b->rect), Corners(*b->otherRect), Corners(bounds)};
  return 0;
}

TEST_F(SizeTest, DecorationsTellTheirImagesAndKeepEntriesWhole) {
  int32 image = 0;
  ASSERT_EQ(ICreateProcImage(reinterpret_cast<ImageProc>(&RecordingPicture), 0, &image), kNoErr);
  const int32 c = Part(0, 0, {0, 0, 10, 10});
  SetW(c, kObjImage / 4, kObjImageHeld | image);
  gHeap = panel_, gObject = c;
  const Rect to{5, 5, 20, 30};
  ASSERT_EQ(OSize(panel_, c, &to, 0), 0);
  EXPECT_EQ(gTold.rects, std::vector<V>({V{5, 5, 20, 30}, V{0, 0, 10, 10}, V{0, 0, 10, 10}}));
  EXPECT_EQ(R(B(c)), V({5, 5, 20, 30}));
  ASSERT_EQ(OOffset(panel_, c, Point{3, -2}), 0);
  EXPECT_EQ(gTold.rects[0], V({8, 3, 23, 28})) << "a move tells it too";
  IRelease(image);

  const int32 big = vib::NewObject(panel_, kClsBigMultiCosmetic, kObjImageList + 2 * kBigImageEntry);
  SetBounds(big, {0, 0, 10, 10});
  PutNative16(*panel_ + big + kObjImageCount, 2);
  const Rect entries[2] = {{0, 0, 10, 10}, {0, 20, 10, 25}};
  for (int32 i = 0; i < 2; ++i) std::memcpy(*panel_ + big + kObjImageList + kBigImageEntry * i, &entries[i], sizeof(Rect));
  const Rect narrow{0, 0, 10, 2};
  ASSERT_EQ(OSize(panel_, big, &narrow, 0), 0);
  Rect second;
  std::memcpy(&second, *panel_ + big + kObjImageList + kBigImageEntry, sizeof second);
  EXPECT_EQ(R(second), V({0, 20, 10, 21})) << "shrunk past zero: 1 wide";
}

// ---- Moves ------------------------------------------------------------------------------------

TEST_F(SizeTest, MovesRecordOldBoundsAndDropCachedImages) {
  const int32 c = Part(0, 0, {1, 2, 3, 4});
  LastOldBounds = Rect{9, 9, 9, 9};
  ASSERT_EQ(OOffset(panel_, c, Point{0, 0}), 0);
  EXPECT_TRUE(W(c, 0) & kObjFlagMoved);
  EXPECT_EQ(R(LastOldBounds), V({1, 2, 3, 4}));

  // A cluster moves its parts, then its elements: the last element's old
  // bounds are left.
  const int32 cluster = Obj(kClsCluster);
  const int32 part = Part(cluster, 9, {0, 0, 50, 50});
  const int32 e1 = Obj(kClsCosmetic), e2 = Obj(kClsCosmetic);
  SetBounds(e1, {5, 5, 10, 10}), SetBounds(e2, {20, 20, 30, 30});
  SetW(cluster, 10, vib::NewList(panel_, {e1, e2}));
  ASSERT_EQ(OOffset(panel_, cluster, Point{4, 7}), 0);
  EXPECT_EQ(R(B(part)), V({4, 7, 54, 57}));
  EXPECT_EQ(R(B(e2)), V({24, 27, 34, 37}));
  EXPECT_EQ(R(LastOldBounds), V({20, 20, 30, 30}));

  const struct { int32 cls, word; uInt32 flag; } cached[] = {
      {kClsSlide, 13, 0x400000}, {kClsKnob, 13, 0x400000}, {kClsPicture, 10, 0}};
  for (const auto& k : cached) {
    const int32 o = Obj(k.cls);
    const Rect r{0, 0, 10, 10};
    int32 image = 0;
    ASSERT_EQ(ICreatePict(0, &r, 0, nullptr, 0, &image), kNoErr);
    SetW(o, k.word, image);
    ASSERT_EQ(OOffset(panel_, o, Point{1, 1}), 0);
    EXPECT_EQ(W(o, k.word), 0) << k.cls;
    EXPECT_EQ(uInt32(W(o, 0)) & k.flag, k.flag) << k.cls;
    EXPECT_EQ(IKindOf(image), 0) << "released";
  }
}

}  // namespace
