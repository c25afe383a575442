// Pixel blocks, pixel access in the system's row format, icon host bitmaps,
// procedural-image messages and image geometry.
#include <cstring>

#include "draw_window.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/drawbits.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/memory.h"
#include "platform/qx_dc.h"

namespace {

using Bytes = std::vector<uInt8>;

class HostBits : public DrawWindow {
 protected:
  void SetUp() override {
    DrawWindow::SetUp();
    EXPECT_EQ(LoadDefaultColourMaps(), kNoErr);
  }
  void TearDown() override {
    DResetColors();
    DrawWindow::TearDown();
  }
  int32 Pixmap(const Rect& r, int32 depth) {
    int32 id = 0;
    EXPECT_EQ(ICreatePixmap(window_, &r, depth, &id), kNoErr);
    return id;
  }
  PlatSurface* SurfaceOf(int32 pixmap) { return PlatBitmapSurface(PlatObj(IEntryOf(pixmap).extra)); }
};

TEST_F(HostBits, PixelBlocksDrawAtEachDepthEqualStretchedAndDithered) {
  // Two rows of four pixels: left half the first colour, right half the second.
  const struct {
    int32 depth;
    Bytes bits;
    DColor left, right;
  } blocks[] = {
      {1, {0xC0, 0, 0xC0, 0}, 0x000000, 0xFFFFFF},
      {4, {0x11, 0x00, 0x11, 0x00}, MIndexToDColor(1, 4), MIndexToDColor(0, 4)},
      {8, {5, 5, 9, 9, 5, 5, 9, 9}, MIndexToDColor(5, 8), MIndexToDColor(9, 8)},
      {24, {255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255}, 0xFF0000, 0x0000FF},
  };
  for (const auto& b : blocks) {
    for (int32 scale : {1, 3}) {
      PlatSurfaceClear(Surface(), 0xFFFFFF);
      DDrawBitsDesc d{uInt32(b.bits.size()), Rect{10, 10, 12, 14}, Rect{20, 30, int16(20 + 2 * scale), int16(30 + 4 * scale)},
                      int16(b.depth), kBlackColor, kWhiteColor, 0, 0};
      DDrawBits(&d, nullptr, b.bits.data());
      EXPECT_EQ(At(30, 20), b.left) << b.depth << " x" << scale;
      EXPECT_EQ(At(30 + 4 * scale - 1, 20 + 2 * scale - 1), b.right) << b.depth << " x" << scale;
      EXPECT_EQ(At(30 + 4 * scale, 20), 0xFFFFFFu) << b.depth << " x" << scale;
    }
  }
  // One bit with a transparent colour: its pixels keep the destination,
  // stretched or not.
  for (int32 scale : {1, 2})
    for (bool backClear : {true, false}) {
      PlatSurfaceClear(Surface(), 0xFF0000);
      const uInt8 bits[4] = {0xC0, 0, 0xC0, 0};
      DDrawBitsDesc d{4, Rect{0, 0, 2, 4}, Rect{0, 0, int16(2 * scale), int16(4 * scale)}, 1,
                      backClear ? 0x00FF00u : kTransparentColor, backClear ? kTransparentColor : 0x0000FFu, 0, 0};
      DDrawBits(&d, nullptr, bits);
      EXPECT_EQ(At(0, 0), backClear ? 0x00FF00u : 0xFF0000u) << scale;
      EXPECT_EQ(At(4 * scale - 1, 0), backClear ? 0xFF0000u : 0x0000FFu) << scale;
    }
  // Too few bytes for the rows, an empty source, both colours transparent:
  // nothing drawn.
  PlatSurfaceClear(Surface(), 0xFFFFFF);
  DDrawBitsDesc d{3, Rect{0, 0, 2, 4}, Rect{0, 0, 2, 4}, 8, 0, 0xFFFFFF, 0, 0};
  const uInt8 eight[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  DDrawBits(&d, nullptr, eight);
  d.count = 8, d.source = Rect{0, 0, 0, 4};
  DDrawBits(&d, nullptr, eight);
  d.source = Rect{0, 0, 2, 4}, d.fore = d.back = kTransparentColor;
  DDrawBits(&d, nullptr, eight);
  EXPECT_EQ(Changed(), 0);

  // A one-bit pixmap with "dithering" on: a mid grey becomes a pattern.
  const int32 mono = Pixmap(Rect{0, 0, 4, 8}, 1);
  ImageSaveRecord save;
  IOpen(mono, &save);
  Bytes grey(8 * 4 * 3, 0x80);
  DDrawBitsDesc g{uInt32(grey.size()), Rect{0, 0, 4, 8}, Rect{0, 0, 4, 8}, 24, 0, 0xFFFFFF, 0, 0};
  for (Bool32 on : {0, 1}) {
    gDitherBits = on;
    DDrawBits(&g, nullptr, grey.data());
    int32 black = 0;
    for (int32 y = 0; y < 4; ++y)
      for (int32 x = 0; x < 8; ++x) black += PlatSurfaceGetPixel(SurfaceOf(mono), x, y) == 0xFF000000u;
    // Grey 128 sits at or below half the thresholds: 16 of 32 black when
    // dithered; undithered it takes the nearest colour of the bitmap, one.
    if (on) EXPECT_EQ(black, 16);
    else EXPECT_TRUE(black == 0 || black == 32);
  }
  gDitherBits = 0;
  IClose(mono, &save);
  IRelease(mono);
}

TEST_F(HostBits, RowsReadAndWrittenAtEveryDepthAndTheirRefusals) {
  const int32 p4 = Pixmap(Rect{0, 0, 3, 10}, 4);
  int32 depth = 0, rowBytes = 0, size = 0;
  ASSERT_EQ(IGetHostBits(p4, 0, &depth, nullptr, &rowBytes, &size, nullptr, nullptr), kNoErr);
  EXPECT_EQ(depth, 4);
  EXPECT_EQ(rowBytes, 6);
  EXPECT_EQ(size, 18);
  const Rect past{0, 5, 3, 11};
  depth = rowBytes = size = 0;
  EXPECT_EQ(IGetHostBits(p4, 0, &depth, &past, &rowBytes, &size, nullptr, nullptr), kArgErr);
  EXPECT_EQ(IGetHostBits(0, 0, &depth, nullptr, &rowBytes, &size, nullptr, nullptr), kImageNotFoundErr);
  rowBytes = 2;
  EXPECT_EQ(IGetHostBits(p4, 0, &depth, nullptr, &rowBytes, &size, nullptr, nullptr), kArgErr);
  // Round trips: rows written at every depth read back the same.
  const Rect frame{5, 7, 8, 17};  // 3 rows of 10, not at the origin
  for (int32 d : {1, 4, 8, 16, 24, 32}) {
    const int32 id = Pixmap(frame, d);
    const int32 rb = ISystemRowBytes(10, d);
    Bytes rows(size_t(rb) * 3);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = uInt8(i * 37 + 11);
    if (d == 16)
      for (size_t i = 0; i < rows.size(); i += 2) rows[i] &= 0x7F;  // 5-5-5: the top bit is not kept
    if (d == 32)
      for (size_t i = 0; i < rows.size(); i += 4) rows[i] = 0;
    if (d == 1 || d == 4)
      for (int32 v = 0; v < 3; ++v) rows[size_t(v * rb + rb - 1)] &= uInt8(d == 1 ? 0xC0 : 0x00);  // padding
    if (d == 8)
      for (uInt8& b : rows) b = uInt8(b % 216);  // indexes of distinct colours
    ASSERT_EQ(IPutHostBits(id, 0, d, nullptr, 0, rows.data(), 0), kNoErr) << d;
    Bytes back(rows.size(), 0xEE);
    int32 dd = 0, r = 0, s = 0;
    ASSERT_EQ(IGetHostBits(id, 0, &dd, nullptr, &r, &s, back.data(), nullptr), kNoErr) << d;
    EXPECT_EQ(dd, d);
    EXPECT_EQ(back, rows) << "depth " << d;
    IRelease(id);
  }
  // A 4-bit rectangle into a larger 8-bit pixmap puts nothing.
  const int32 p8 = Pixmap(Rect{0, 0, 8, 8}, 8);
  const Rect part{0, 0, 2, 4};
  const uInt8 nibbles[4] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(IPutHostBits(p8, 0, 4, &part, 2, nibbles, 0), kCapabilityErr);
  EXPECT_EQ(IPutHostBits(p8, 0, 8, &part, 3, nibbles, 0), kArgErr);  // too few row bytes
  DColor table[256];
  int32 d8 = 8, rb8 = 0, s8 = 0;
  Bytes all(64);
  ASSERT_EQ(IGetHostBits(p8, 0, &d8, nullptr, &rb8, &s8, all.data(), table), kNoErr);
  EXPECT_EQ(table[255], MIndexToDColor(255, 8));
  int32 d1 = 1, rb1 = 0, s1 = 0;
  ASSERT_EQ(IGetHostBits(p8, 0, &d1, nullptr, &rb1, &s1, all.data(), table), kNoErr);
  EXPECT_EQ(table[0], kWhiteColor);
  EXPECT_EQ(table[1], kBlackColor);
  IRelease(p8);
  IRelease(p4);
}

TEST_F(HostBits, IconBitmapsAreMadeOnceAndFreedAndPrintingNeedsBands) {
  UHandle bits = AZNewHClr(128);
  (*bits)[0] = 0x80;  // pixel (0, 0) black
  int32 icon = 0;
  ASSERT_EQ(IMakeImageFromRsrc(kImageIcon1, bits, &icon, 1), kNoErr);
  const int32 before = IHostBitmapCount();
  int32 depth = 0;
  const PlatObj first = ILockHost(icon, nullptr, &depth);
  ASSERT_NE(first, 0u);
  EXPECT_EQ(ILockHost(icon, nullptr, &depth), first);
  EXPECT_EQ(depth, 1);
  EXPECT_EQ(IHostBitmapCount(), before + 1);
  EXPECT_EQ(PlatSurfaceGetPixel(PlatBitmapSurface(first), 0, 0) & 0xFFFFFF, 0u);
  EXPECT_EQ(PlatSurfaceGetPixel(PlatBitmapSurface(first), 1, 0) & 0xFFFFFF, 0xFFFFFFu);
  IFreeHostBitmaps();
  EXPECT_EQ(IHostBitmapCount(), before);
  EXPECT_EQ(IEntryOf(icon).extra, 0u);
  EXPECT_EQ(PlatObjectKind(first), kPlatObjNone);
  ILockHost(icon, nullptr, &depth);
  IRelease(icon);  // its bitmap counts off too
  EXPECT_EQ(IHostBitmapCount(), before);

  const int32 pixmap = Pixmap(Rect{0, 0, 4, 4}, 8);
  const PlatObj memory = PlatCreateMemoryDc();
  EXPECT_EQ(IPrintPixmapDIB(pixmap, 0, memory), 4);
  PlatDeleteDc(memory);
  IRelease(pixmap);
}

// A procedural image that answers what the tests ask and logs the messages.
struct Proc {
  static inline std::vector<int32> log;
  static inline Point lastPoint1, lastPoint2;
  static int32 Answer(int32 message, PictStyleBlock* style, PictMessageBlock* b) {
    log.push_back(message);
    switch (message) {
      case 2: b->result = b->point.h < b->rect->left + 5; break;
      case 4: *b->rect = Rect{0, 0, 32, 32}; break;
      case 6: b->backColor = 0x123456; break;
      case 7:
        b->shapeKind = 2;
        b->result = 1;
        break;
      case 13:
        b->point1 = Point{1, 2};
        b->point2 = Point{3, 4};
        break;
      case 14:
        lastPoint1 = b->point1, lastPoint2 = b->point2;
        *b->rect = Rect{b->point1.v, b->point1.h, b->point2.v, b->point2.h};
        style->state1 = 77;
        return 5;
      default: break;
    }
    return 0;
  }
};

std::string Str(const Rect& r) {
  return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
         std::to_string(r.right);
}

TEST_F(HostBits, ProceduralImagesAnswerTheirMessages) {
  int32 id = 0;
  ASSERT_EQ(ICreateProcImage(reinterpret_cast<ImageProc>(&Proc::Answer), 9, &id), kNoErr);
  Proc::log.clear();
  PictMessageBlock b{};
  EXPECT_EQ(IProcImageMessage(0, 4, &b), kCapabilityErr);
  int32 pixmap = Pixmap(Rect{0, 0, 2, 2}, 8);
  EXPECT_EQ(IProcImageMessage(pixmap, 4, &b), kCapabilityErr);
  EXPECT_TRUE(Proc::log.empty());
  Rect r{9, 9, 9, 9};
  EXPECT_EQ(IGetRect(id, &r), 0);
  EXPECT_EQ(Str(r), "0,0,32,32");
  EXPECT_FALSE(IPtInImage(Point{1, 1}, id, nullptr));
  const Rect in{0, 0, 20, 20};
  EXPECT_TRUE(IPtInImage(Point{1, 1}, id, &in));
  EXPECT_FALSE(IPtInImage(Point{1, 10}, id, &in));
  int32 opaque = 0;
  EXPECT_EQ(IProcImageIsOpaque(id, &opaque, nullptr), 2);
  EXPECT_EQ(opaque, 1);
  opaque = 7;
  EXPECT_EQ(IProcImageIsOpaque(pixmap, &opaque, nullptr), 0);
  EXPECT_EQ(opaque, 7);
  Rect q{};
  EXPECT_EQ(IProcImageQueryRect(id, &q), kNoErr);
  EXPECT_EQ(Str(q), "1,2,3,4");
  Rect bounds{};
  EXPECT_EQ(IProcImageBounds(id, Point{10, 20}, Point{30, 40}, &bounds), 5);
  EXPECT_EQ(Str(bounds), "10,20,30,40");
  EXPECT_EQ(IEntryOf(id).third, 77u);  // the procedure's state words are the entry's
  EXPECT_EQ(IProcImageBounds(pixmap, Point{}, Point{}, &bounds), kCapabilityErr);
  DColor colours[4] = {0, 0xFFFFFF, 0, 0xFFFFFF};
  EXPECT_EQ(IGetEraseColor(id, colours), kNoErr);
  EXPECT_EQ(colours[1], 0x123456u);
  EXPECT_EQ(Proc::log, (std::vector<int32>{4, 2, 2, 7, 13, 14, 6}));
  IRelease(pixmap);
  IRelease(id);
}

TEST_F(HostBits, GeometryOfFamiliesSubImagesAndMasks) {
  auto family = [](const std::vector<std::pair<int32, int32>>& set) {  // (h, v) mask bits
    UHandle icon = AZNewHClr(128), mask = AZNewHClr(128);
    for (auto [h, v] : set) (*mask)[v * 4 + h / 8] |= uInt8(0x80 >> (h % 8));
    int32 i = 0, m = 0, f = 0;
    EXPECT_EQ(ICreateProcImage(nullptr, 0, &f), kNoErr);  // an entry, made a family below
    EXPECT_EQ(IMakeImageFromRsrc(kImageIcon1, icon, &i, 1), kNoErr);
    EXPECT_EQ(IMakeImageFromRsrc(kImageMask, mask, &m, 1), kNoErr);
    ImageEntry* e = IEntryPtr(f);
    e->kind = kImageFamily;
    e->flags = 0;
    e->data = uInt32(i);
    e->extra = e->third = 0;
    e->fourth = uInt32(m);
    return f;
  };
  const int32 hit = family({{20, 20}, {0, 0}});
  const Rect big{0, 0, 64, 64};
  EXPECT_TRUE(IPtInImage(Point{40, 40}, hit, &big));
  EXPECT_FALSE(IPtInImage(Point{44, 40}, hit, &big));
  EXPECT_TRUE(IPtInImage(Point{0, 0}, hit, nullptr));
  EXPECT_FALSE(IPtInImage(Point{32, 0}, hit, nullptr));

  std::vector<std::pair<int32, int32>> square;
  for (int32 v = 4; v < 8; ++v)
    for (int32 h = 8; h < 12; ++h) square.push_back({h, v});
  const int32 sq = family(square);
  Rect b{};
  EXPECT_EQ(IGetMaskBounds(sq, nullptr, &b), kNoErr);
  EXPECT_EQ(Str(b), "4,8,8,12");
  const Rect twice{100, 200, 164, 264};
  EXPECT_EQ(IGetMaskBounds(sq, &twice, &b), kNoErr);
  EXPECT_EQ(Str(b), "108,216,116,224");
  const int32 none = family({});
  EXPECT_EQ(IGetMaskBounds(none, &twice, &b), kNoErr);
  EXPECT_EQ(Str(b), "100,200,100,200");
  const int32 pixmap = Pixmap(Rect{0, 0, 2, 2}, 8);
  EXPECT_EQ(IGetMaskBounds(pixmap, nullptr, &b), kGenericErr);

  int32 sub = 0;
  const Rect part{5, 10, 25, 110};
  ASSERT_EQ(ICreateSubImage(hit, &part, &sub), kNoErr);
  EXPECT_EQ(IGetRect(sub, &b), 1);
  EXPECT_EQ(Str(b), "5,10,25,110");
  for (int32 id : {sub, hit, sq, none, pixmap}) IRelease(id);
}

TEST_F(HostBits, GreyLevelsDitherAndColourTables) {
  const DColor colours[3] = {0xFF0000, 0x00FF00, 0x0000FF};
  uInt8 grey[3];
  IColorsToGrey(colours, grey, 3);
  EXPECT_EQ(grey[0], 63 + 31);
  EXPECT_EQ(grey[1], 127);
  EXPECT_EQ(grey[2], 31);
  // Grey levels 0, 16, 17 and 255 across a row of four, four rows: each
  // pixel against its threshold; rows end on 16 bits.
  const DColor table[4] = {0x000000, 0x404040, 0x444444, 0xFFFFFF};  // greys 0, 56, 59, 255
  Bytes rows(4 * 2 * 4, 0);  // depth 8: width 4 is even: 4 bytes; 4 rows
  Bytes src(16);
  for (int32 v = 0; v < 4; ++v)
    for (int32 h = 0; h < 4; ++h) src[size_t(v * 4 + h)] = uInt8(h);
  IDitherToOne(8, src.data(), rows.data(), 4, 4, table, 4);
  // Row 0 thresholds 0, 192, 48, 240: grey 0 <= 0 set; 56 <= 192 set; 59 > 48 clear; 255 > 240 clear.
  EXPECT_EQ(rows[0], 0xC0);
  EXPECT_EQ(rows[1], 0);
  // Row 2 thresholds 32, 224, 16, 208.
  EXPECT_EQ(rows[4], 0xC0);
  uInt8 entry[16] = {0, 0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0, 1, 0xFF, 0xFF, 0, 0, 0x80, 0x00};
  DColor rgb[2];
  IColorTableToRGB(entry, 2, rgb);
  EXPECT_EQ(rgb[0], 0x3478BCu);
  EXPECT_EQ(rgb[1], 0xFF0000u);
}

}  // namespace
