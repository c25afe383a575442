// Drawing images by kind, the image copier's mask paths, the metafile
// cache, solidity, the icon bitmap budget, and drawing into images and
// offscreen.
#include <cstring>

#include "draw_window.h"
#include "golden_image.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/icursor.h"
#include "mgsource/draw/imagedraw.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/draw/picture.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/wmisc.h"
#include "platform/qx_cursor.h"
#include "platform/qx_metafile.h"

namespace {

using Bytes = std::vector<uInt8>;

// A 1-bit icon whose left half is set, and a mask of the square 8..23.
Bytes LeftHalf() {
  Bytes b(128);
  for (int32 v = 0; v < 32; ++v) b[4 * v] = b[4 * v + 1] = 0xFF;
  return b;
}
Bytes Square() {
  Bytes b(128);
  for (int32 v = 8; v < 24; ++v) b[4 * v + 1] = b[4 * v + 2] = 0xFF;
  return b;
}

int32 gProcDraws = 0;
int32 CountingProc(int32 message, PictStyleBlock*, PictMessageBlock* b) {
  if (message == 1) {
    ++gProcDraws;
    DSelectNormPen(b->foreColor, kBlackColor);
    DPaintRect(b->rect);
  }
  if (message == 4 && b->rect) *b->rect = Rect{0, 0, 10, 10};
  return message == 7 ? 1 : 0;  // cannot tell whether it is opaque
}

class ImageDraw : public DrawWindow {
 protected:
  void SetUp() override {
    DrawWindow::SetUp();
    EXPECT_EQ(LoadDefaultColourMaps(), kNoErr);
  }
  void TearDown() override {
    for (int32 id : made_)
      if (IKindOf(id)) IRelease(id);
    gForceCorrectColors = 0;
    DResetColors();
    DrawWindow::TearDown();
  }
  int32 Keep(int32 id) {
    made_.push_back(id);
    return id;
  }
  int32 Icon(int32 kind, const Bytes& bytes) {
    UHandle h = AZNewHandle(int32(bytes.size()));
    std::memcpy(*h, bytes.data(), bytes.size());
    int32 id = 0;
    EXPECT_EQ(IMakeImageFromRsrc(kind, h, &id, 1), kNoErr);
    return id;
  }
  // A family of the given members (0 where absent); it owns them.
  int32 Family(int32 icon1, int32 icon4, int32 icon8, int32 mask) {
    int32 id = 0;
    EXPECT_EQ(ICreateProcImage(nullptr, 0, &id), kNoErr);  // an entry, made a family
    *IEntryPtr(id) = ImageEntry{0, kImageFamily, uInt32(icon1), uInt32(icon4), uInt32(icon8), uInt32(mask)};
    return Keep(id);
  }
  int32 Pixmap(const Rect& r, int32 depth) {
    int32 id = 0;
    EXPECT_EQ(ICreatePixmap(window_, &r, depth, &id), kNoErr);
    return Keep(id);
  }
  PlatSurface* SurfaceOf(int32 pixmap) { return PlatBitmapSurface(PlatObj(IEntryOf(pixmap).extra)); }
  uInt32 PixAt(int32 pixmap, int32 x, int32 y) { return PlatSurfaceGetPixel(SurfaceOf(pixmap), x, y) & 0xFFFFFF; }
  // A metafile image recorded with a square ring 4 pixels wide, or filled.
  int32 Metafile(bool ring) {
    int32 id = 0;
    const Rect r{0, 0, 39, 39};
    EXPECT_EQ(ICreateMetaFileImage(window_, 0, &id, &r), kNoErr);
    ImageSaveRecord save;
    IOpen(id, &save);
    IEraseImage(id);
    DSelectNormPen(0x0000FF, kBlackColor);
    const Rect bands[4] = {{0, 0, 4, 40}, {36, 0, 40, 40}, {0, 0, 40, 4}, {0, 36, 40, 40}};
    if (ring) {
      for (const Rect& b : bands) DPaintRect(&b);
    } else {
      const Rect box{0, 0, 40, 40};
      DPaintRect(&box);
    }
    EXPECT_EQ(IClose(id, &save), kImageWindow);
    return Keep(id);
  }
  std::vector<int32> made_;
};

TEST_F(ImageDraw, IconsTakeTheirColoursAndMasks) {
  const int32 icon = Keep(Icon(kImageIcon1, LeftHalf()));
  const int32 masked = Family(Icon(kImageIcon1, LeftHalf()), 0, 0, Icon(kImageMask, Square()));
  const uInt32 red = 0xFF0000, set = 0x0000FF, ground = 0x00FF00;
  const struct {
    int32 image;
    DColor fore, back;
    uInt32 setPixel, clearPixel, outsideMask;
  } rows[] = {
      {icon, set, kWhiteColor, set, 0xFFFFFF, set},
      {icon, set, kTransparentColor, set, red, set},
      {icon, kTransparentColor, ground, red, ground, red},
      {icon, set, ground, set, ground, set},
      {masked, set, ground, set, ground, red},
      {masked, set, kTransparentColor, set, red, red},
  };
  const Rect dest{10, 10, 42, 42};
  for (const auto& r : rows) {
    PlatSurfaceClear(Surface(), red);
    IDraw(r.image, nullptr, &dest, r.fore, r.back, kBlackColor, kWhiteColor);
    // (10 + 12, 10 + 12) is set and inside the mask, (10 + 20, ...) clear and
    // inside, (10 + 2, 10 + 2) set and outside.
    EXPECT_EQ(At(22, 22), r.setPixel) << r.image << " " << r.fore << " " << r.back;
    EXPECT_EQ(At(30, 22), r.clearPixel) << r.image << " " << r.fore << " " << r.back;
    EXPECT_EQ(At(12, 12), r.outsideMask) << r.image << " " << r.fore << " " << r.back;
  }
  // Both colours transparent: nothing, for icons and procedural images.
  PlatSurfaceClear(Surface(), 0xFFFFFF);
  int32 proc = 0;
  ASSERT_EQ(ICreateProcImage(reinterpret_cast<ImageProc>(&CountingProc), 0, &proc), kNoErr);
  Keep(proc);
  gProcDraws = 0;
  for (int32 id : {icon, masked, proc}) IDraw(id, nullptr, &dest, kTransparentColor, kTransparentColor, 0, 0);
  EXPECT_EQ(Changed(), 0);
  EXPECT_EQ(gProcDraws, 0);
}

TEST_F(ImageDraw, OneCallFourStepAndStretchedMaskPathsAgree) {
  Bytes eight(1024);
  for (int32 i = 0; i < 1024; ++i) eight[i] = uInt8(i % 7 + 1);
  const int32 oneBit = Family(Icon(kImageIcon1, LeftHalf()), 0, 0, Icon(kImageMask, Square()));
  const int32 colour = Family(0, 0, Icon(kImageIcon8, eight), Icon(kImageMask, Square()));
  for (int32 family : {oneBit, colour}) {
    PlatSurfaceClear(Surface(), 0xFF0000);
    const Rect once{0, 0, 32, 32}, forced{0, 40, 32, 72}, twice{34, 0, 98, 64};
    IDraw(family, nullptr, &once, 0x0000FF, 0x00FF00, kBlackColor, kWhiteColor);
    gForceCorrectColors = 1;
    IDraw(family, nullptr, &forced, 0x0000FF, 0x00FF00, kBlackColor, kWhiteColor);
    gForceCorrectColors = 0;
    IDraw(family, nullptr, &twice, 0x0000FF, 0x00FF00, kBlackColor, kWhiteColor);
    int32 differ = 0;
    for (int32 y = 0; y < 32; ++y)
      for (int32 x = 0; x < 32; ++x)
        differ += At(x, y) != At(40 + x, y) || At(x, y) != At(2 * x, 34 + 2 * y);
    EXPECT_EQ(differ, 0) << family;
    EXPECT_EQ(At(0, 0), 0xFF0000u);
  }
}

TEST_F(ImageDraw, FamiliesTakeTheMemberOfTheTargetDepth) {
  Bytes four(512, 0x33), eight(1024, 5);
  const DColor c1 = kBlackColor, c4 = MIndexToDColor(3, 4), c8 = MIndexToDColor(5, 8);
  const struct {
    int32 depth;
    bool has4, has8;
    DColor drawn, atOffsets;
  } rows[] = {
      {8, true, true, c8, c8},   {8, true, false, c4, c4},  {8, false, false, c1, c1},
      {4, true, true, c4, c4},   {4, false, true, c8, c1},  {1, true, true, c1, c1},
  };
  for (const auto& r : rows) {
    const int32 family = Family(Icon(kImageIcon1, Bytes(128, 0xFF)), r.has4 ? Icon(kImageIcon4, four) : 0,
                                r.has8 ? Icon(kImageIcon8, eight) : 0, 0);
    const int32 target = Pixmap(Rect{0, 0, 32, 96}, r.depth);
    ImageSaveRecord save;
    IOpen(target, &save);
    const Rect dest{0, 0, 32, 32};
    IDraw(family, nullptr, &dest, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
    const int32 dh[2] = {32, 64}, dv[2] = {0, 0};
    IDrawAtOffsets(family, nullptr, &dest, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor, 2, dh, dv);
    IClose(target, &save);
    const DColor want = r.depth == 1 ? kBlackColor : r.drawn;
    EXPECT_EQ(PixAt(target, 5, 5), want) << r.depth << r.has4 << r.has8;
    EXPECT_EQ(PixAt(target, 37, 5), r.atOffsets) << r.depth << r.has4 << r.has8;
    EXPECT_EQ(PixAt(target, 69, 5), r.atOffsets) << r.depth << r.has4 << r.has8;
  }
}

TEST_F(ImageDraw, SubImagesWindowsAndTheGoldenComposition) {
  // A pixmap of four quadrants; a sub-image of its bottom-right one.
  const int32 pixmap = Pixmap(Rect{0, 0, 40, 40}, 0);
  ImageSaveRecord save;
  IOpen(pixmap, &save);
  const DColor quad[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00};
  for (int32 i = 0; i < 4; ++i) {
    const Rect q{int16(i / 2 * 20), int16(i % 2 * 20), int16(i / 2 * 20 + 20), int16(i % 2 * 20 + 20)};
    DSelectNormPen(quad[i], kBlackColor);
    DPaintRect(&q);
  }
  IClose(pixmap, &save);
  int32 sub = 0;
  const Rect part{20, 20, 40, 40};
  ASSERT_EQ(ICreateSubImage(pixmap, &part, &sub), kNoErr);
  Keep(sub);
  const Rect to{50, 10, 70, 30};
  IDraw(sub, nullptr, &to, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  EXPECT_EQ(Mask(8, 48, 24, 24).find('#'), 2u * 25 + 2);
  EXPECT_EQ(At(10, 50), 0xFFFF00u);
  EXPECT_EQ(At(29, 69), 0xFFFF00u);
  EXPECT_EQ(At(30, 50), 0xFFFFFFu);
  // The rest of the composition: an icon family stretched, a metafile, and
  // the window's own pixels copied beside them.
  const int32 family = Family(Icon(kImageIcon1, LeftHalf()), 0, 0, Icon(kImageMask, Square()));
  const Rect big{10, 40, 74, 104};
  IDraw(family, nullptr, &big, 0x800080, 0x00FFFF, kBlackColor, kWhiteColor);
  const Rect meta{10, 110, 50, 150};
  IDraw(Metafile(true), nullptr, &meta, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  int32 self = 0;
  ASSERT_EQ(ICreateWindowImage(&self, window_), kNoErr);
  Keep(self);
  const Rect from{10, 110, 50, 150}, copy{50, 150, 90, 190};
  IDraw(self, &from, &copy, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  for (int32 y = 0; y < 40; ++y)
    for (int32 x = 0; x < 40; ++x) ASSERT_EQ(At(110 + x, 10 + y), At(150 + x, 50 + y)) << x << "," << y;
  qxtest::ExpectMatchesGolden(Surface(), std::filesystem::path(QX_SOURCE_DIR) / "tests/mgsource/goldens/image_draw.png",
                              "QX_UPDATE_GOLDENS=1 test_mgsource --gtest_filter=ImageDraw.SubImages*");
}

TEST_F(ImageDraw, MetafilesRenderOncePerSizeAndAge) {
  const int32 ring = Metafile(true), solid = Metafile(false);
  EXPECT_EQ(IMetaCacheEntries().size(), 0u);
  const Rect a{0, 0, 40, 40}, b{0, 50, 20, 70};
  IDraw(ring, nullptr, &a, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  IDraw(ring, nullptr, &a, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  IDraw(solid, nullptr, &b, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  std::vector<IMetaCacheEntry> e = IMetaCacheEntries();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].uses, 2);
  EXPECT_NE(e[0].mask, 0);  // a ring leaves its middle to the destination
  EXPECT_EQ(e[1].mask, 0);
  EXPECT_EQ(At(20, 20), 0xFFFFFFu);
  EXPECT_EQ(At(2, 20), 0x0000FFu);
  // Ageing every 102 draws drops what was not drawn since the last one.
  for (int32 i = 0; i < 2 * 102; ++i) IDraw(ring, nullptr, &a, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  e = IMetaCacheEntries();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].metafile, IEntryOf(ring).data);
  IRelease(ring);
  EXPECT_EQ(IMetaCacheEntries().size(), 0u);
}

TEST_F(ImageDraw, SolidityOfPixmapsMetafilesAndProceduralImages) {
  int32 proc = 0;
  ASSERT_EQ(ICreateProcImage(reinterpret_cast<ImageProc>(&CountingProc), 0, &proc), kNoErr);
  Keep(proc);
  const struct {
    int32 image;
    Rect rect;
    bool solid;
  } rows[] = {
      {Pixmap(Rect{0, 0, 10, 10}, 0), Rect{0, 0, 10, 10}, true},
      {Metafile(false), Rect{0, 0, 40, 40}, true},
      {Metafile(true), Rect{0, 0, 40, 40}, false},
      {proc, Rect{0, 0, 10, 12}, true},  // cannot tell: drawn, it paints all
  };
  for (const auto& r : rows) {
    Bool32 solid = 2;
    UHandle mask = nullptr;
    EXPECT_EQ(IIsSolid(r.image, &r.rect, nullptr, &solid, &mask), kNoErr);
    EXPECT_EQ(solid, r.solid ? 1 : 0) << r.image;
    EXPECT_EQ(mask != nullptr, !r.solid) << r.image;
    if (mask) {
      // The ring's middle and corners are clear, its band set.
      auto bit = [&](int32 x, int32 y) { return ((*mask)[y * 6 + x / 8] >> (7 - x % 8)) & 1; };
      EXPECT_EQ(bit(20, 20), 0);
      EXPECT_EQ(bit(10, 10), 0);
      EXPECT_EQ(bit(1, 20), 1);
      EXPECT_EQ(bit(39, 0), 1);
      AZDisposeHandle(mask);
    }
  }
}

TEST_F(ImageDraw, IconBitmapsArePurgedBeyondEightyTwentyAtATime) {
  const int32 base = IHostBitmapCount();
  std::vector<int32> icons;
  for (int32 i = 0; i < 110 - base; ++i) {
    icons.push_back(Keep(Icon(kImageIcon1, LeftHalf())));
    ASSERT_NE(ILockHost(icons.back(), nullptr, nullptr), 0u);
  }
  for (int32 want : {90, 70, 70}) {
    IPurgeHostBitmaps();
    EXPECT_EQ(IHostBitmapCount(), want);
  }
}

TEST_F(ImageDraw, TargetsNestAndRefusedKindsChangeNothing) {
  const int32 pixmap = Pixmap(Rect{0, 0, 20, 20}, 0);
  int32 picture = 0, meta = 0, proc = 0;
  const Rect r{0, 0, 20, 20};
  ASSERT_EQ(ICreatePict(window_, &r, 0, nullptr, 0, &picture), kNoErr);
  const Rect frame{0, 0, 19, 19};
  ASSERT_EQ(ICreateMetaFileImage(window_, 0, &meta, &frame), kNoErr);
  ASSERT_EQ(ICreateProcImage(reinterpret_cast<ImageProc>(&CountingProc), 0, &proc), kNoErr);
  for (int32 id : {picture, meta, proc}) Keep(id);
  int32 window = 0;
  IGetCurrentTarget(&window, nullptr);
  ImageSaveRecord s1, s2, s3, refused;
  IOpen(pixmap, &s1);
  IOpen(picture, &s2);
  IOpen(meta, &s3);
  const PlatObj dc = gDrawState.dc;
  IOpen(proc, &refused);  // refused: the metafile stays the target
  EXPECT_EQ(capture_.Count("IOpen: kind not supported"), 1);
  int32 now = 0;
  IGetCurrentTarget(&now, nullptr);
  EXPECT_EQ(now, meta);
  EXPECT_EQ(gDrawState.dc, dc);
  IClose(proc, &refused);
  IGetCurrentTarget(&now, nullptr);
  EXPECT_EQ(now, meta);
  EXPECT_EQ(IRelease(meta), kArgErr);  // open for drawing: kept
  EXPECT_EQ(capture_.Count("IRelease: the metafile is open for drawing"), 1);
  const Rect box{2, 2, 8, 8};
  DPaintRect(&box);
  EXPECT_EQ(IClose(meta, &s3), kImagePicture);
  EXPECT_EQ(IClose(picture, &s2), kImagePixmap);
  EXPECT_EQ(IClose(pixmap, &s1), kImageWindow);
  IGetCurrentTarget(&now, nullptr);
  EXPECT_EQ(now, window);
  Rect bounds{0, 0, 0, 0};
  IGetRect(meta, &bounds);
  EXPECT_EQ(bounds.bottom, 6);  // what was drawn, moved to the origin
  EXPECT_TRUE(PlatIsMetafile(PlatMetafile(IEntryOf(meta).data)));
}

TEST_F(ImageDraw, AWindowScrolledUnderAnOpenImageComesBackAtItsNewOrigin) {
  const int32 pixmap = Pixmap(Rect{10, 10, 30, 30}, 0);
  ImageSaveRecord save;
  IOpen(pixmap, &save);
  EXPECT_EQ(gNotedWindow.window, window_);
  WSetOrigin(window_, Point{5, 7});  // v, h
  EXPECT_TRUE(gNotedWindow.originH == 7 && gNotedWindow.originV == 5);
  // The pixmap keeps drawing in its own coordinates.
  DSelectNormPen(0xFF0000, kBlackColor);
  const Rect corner{10, 10, 12, 12};
  DPaintRect(&corner);
  EXPECT_EQ(PixAt(pixmap, 0, 0), 0xFF0000u);
  EXPECT_EQ(IClose(pixmap, &save), kImageWindow);
  EXPECT_TRUE(gDrawState.originH == 7 && gDrawState.originV == 5);
  EXPECT_EQ(gNotedWindow.window, 0);
  // The window's own drawing lands at its new origin.
  PlatSurfaceClear(Surface(), 0xFFFFFF);
  DSelectNormPen(0xFF0000, kBlackColor);
  const Rect at{5, 7, 6, 8};
  DPaintRect(&at);
  EXPECT_EQ(At(0, 0), 0xFF0000u);
  EXPECT_EQ(Changed(), 1);
}

TEST_F(ImageDraw, PixmapBoundsChangeKeepingPixelsWhenAsked) {
  const int32 meta = Metafile(false);
  const Rect small{0, 0, 10, 10}, big{0, 0, 20, 20};
  EXPECT_EQ(ISetPixmapBounds(meta, window_, &big, 0, 1), kArgErr);
  const struct {
    Bool32 keep;
    int32 depth;
    uInt32 kept;
  } rows[] = {{1, -1, 0xFF0000}, {0, -1, 0}, {1, 8, 0xFF0000}};
  for (const auto& r : rows) {
    const int32 pixmap = Pixmap(small, 0);
    EXPECT_EQ(ISetPixmapBounds(pixmap, 0, &big, 0, 1), kNullWindowErr);
    PlatSurfaceClear(SurfaceOf(pixmap), 0xFF0000);
    const uInt32 before = IEntryOf(pixmap).extra;
    const int32 depth = IGetDepth(pixmap);
    EXPECT_EQ(ISetPixmapBounds(pixmap, window_, &small, -1, 1), kNoErr);
    EXPECT_EQ(IEntryOf(pixmap).extra, before);  // nothing to change
    EXPECT_EQ(ISetPixmapBounds(pixmap, window_, &big, r.depth, r.keep), kNoErr);
    Rect bounds{};
    IGetRect(pixmap, &bounds);
    EXPECT_EQ(bounds.right, 20);
    EXPECT_EQ(IGetDepth(pixmap), r.depth == -1 ? depth : r.depth);
    EXPECT_EQ(PixAt(pixmap, 5, 5), r.kept) << r.keep << r.depth;
    EXPECT_EQ(PixAt(pixmap, 15, 15), 0u) << r.keep << r.depth;
  }
}

TEST_F(ImageDraw, OffscreenDrawingCopiesOnceAtTheOutermostLevel) {
  const Rect area{0, 0, 50, 80}, inner{10, 10, 20, 20};
  for (Bool32 copy : {1, 0}) {
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    Rect c1, c2;
    EXPECT_EQ(IDrawOffscreen(&area, &c1), kNoErr);
    DSelectNormPen(0xFF0000, kBlackColor);
    DPaintRect(&area);
    EXPECT_EQ(IDrawOffscreen(&inner, &c2), kNoErr);
    ICopyOffscreen(&c2, 1);
    EXPECT_EQ(Changed(), 0);  // inner levels never reach the window
    ICopyOffscreen(&c1, copy);
    EXPECT_EQ(Changed(), copy ? 50 * 80 : 0) << copy;
    EXPECT_EQ(IOffscreenNesting(), 0);
  }
  // Without a pixmap drawing goes straight to the window, and no memory
  // alert follows.
  IRelease(IOffscreenImage());
  IForgetOffscreen();
  PlatSurfaceClear(Surface(), 0xFFFFFF);
  Rect c;
  MemFailNthAllocation(1);
  const MgErr err = IDrawOffscreen(&area, &c);
  MemFailNthAllocation(0);
  EXPECT_TRUE(err == kImageMemErr || err == kMemFullErr) << err;
  EXPECT_FALSE(MemFullPending(nullptr));
  DSelectNormPen(0xFF0000, kBlackColor);
  DPaintRect(&inner);
  EXPECT_EQ(Changed(), 100);
  ICopyOffscreen(&c, 1);
  EXPECT_EQ(IOffscreenImage(), 0);
}

TEST_F(ImageDraw, CursorsFromCURSAndSettingThem) {
  // Row 0 image and mask set (black), row 1 mask only (white), row 2 image
  // only (the screen inverted); hot spot v 1, h 2.
  Bytes curs(kCursRecordBytes);
  curs[0] = curs[32] = curs[34] = curs[4] = 0xF0;
  curs[65] = 1;
  curs[67] = 2;
  const int32 cursor = Keep(Icon(kImageCursor, curs));
  const PlatCursor c = IGetHostCursor(cursor);
  ASSERT_NE(c, 0u);
  const uInt32 screen = 0x123456;
  const struct {
    int32 x, y;
    uInt32 pixel;
  } pixels[] = {{0, 0, 0}, {3, 0, 0}, {1, 1, 0xFFFFFF}, {2, 2, 0xEDCBA9}, {4, 0, screen}, {20, 20, screen}};
  for (const auto& p : pixels) EXPECT_EQ(PlatCursorPixel(c, p.x, p.y, screen) & 0xFFFFFF, p.pixel) << p.x << "," << p.y;
  int32 hx = 0, hy = 0;
  ASSERT_TRUE(PlatCursorHotSpot(c, &hx, &hy));
  EXPECT_EQ(hx, 2);
  EXPECT_EQ(hy, 1);
  // Too short, or a hot spot off the cursor: no image.
  for (size_t n : {size_t(67), size_t(68)}) {
    Bytes bad(curs.begin(), curs.begin() + n);
    if (n == 68) bad[65] = 16;
    UHandle h = AZNewHandle(int32(n));
    std::memcpy(*h, bad.data(), n);
    int32 id = -1;
    EXPECT_EQ(IMakeImageFromRsrc(kImageCursor, h, &id, 1), kImageNotFoundErr) << n;
    EXPECT_EQ(id, 0);
  }
  EXPECT_EQ(IGetHostCursor(-2), PlatLoadSystemCursor(kPlatCursorWait));
  // The active window's cursor is set at once; the same id again makes no
  // platform call.
  WRecord(window_)->active = 1;
  WForgetHostCursor();
  ISetCursor(cursor, window_);
  EXPECT_EQ(PlatGetCursor(), c);
  PlatSetCursor(PlatLoadSystemCursor(kPlatCursorArrow));
  WForgetHostCursor();
  ISetCursor(cursor, window_);
  EXPECT_EQ(PlatGetCursor(), PlatLoadSystemCursor(kPlatCursorArrow));
  ISetCursor(-1, window_);
  EXPECT_EQ(WRecord(window_)->cursor, -1);
  ISetCursor(cursor, -2);  // the active document window's: the host cursor in any case
  EXPECT_EQ(PlatGetCursor(), c);
  IRelease(cursor);  // showing: the arrow comes back
  EXPECT_FALSE(PlatCursorIsValid(c));
  EXPECT_EQ(PlatGetCursor(), PlatLoadSystemCursor(kPlatCursorArrow));
}

}  // namespace
