#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "platform/draw_support.h"
#include "platform/qx_file.h"
#include "platform/qx_metafile_read.h"
#include "tools/metafilewriter.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Le32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void Put32(Bytes* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Imports from an exact-size copy, so that a read past the end is caught.
PlatMetafile Import(const Bytes& b) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[b.size() ? b.size() : 1]);
  if (!b.empty()) std::memcpy(copy.get(), b.data(), b.size());
  return PlatMetafileFromBytes(copy.get(), uint32_t(b.size()));
}

// The offset of the first enhanced record of a type.
size_t EmfRecord(const Bytes& b, uint32_t type) {
  for (size_t at = Le32(b, 4); at + 8 <= b.size(); at += Le32(b, at + 4))
    if (Le32(b, at) == type) return at;
  return 0;
}

struct Form {
  const char* name;
  std::function<Bytes(const mfw::Picture&)> write;
};
const Form kForms[] = {
    {"enhanced", [](const mfw::Picture& p) { return mfw::WriteEmf(p); }},
    {"plain", [](const mfw::Picture& p) { return mfw::WriteWmf(p); }},
    {"placeable", [](const mfw::Picture& p) { return mfw::WriteWmf(p, true); }},
};

// Rectangle, 16- and 32-bit polylines, ANSI and wide text and a stretched
// 8-bit DIB, in each form: imported and played into the frame's size they
// paint exactly what drawing the shapes directly paints.
TEST(MetafileWriter, BothFormsImportAndPlayAsDirectDrawing) {
  mfw::Picture plain = mfw::Sample();
  mfw::Shape wide = plain.shapes[3];
  wide.wide = true;
  wide.v = {70, 2};
  plain.shapes.push_back(wide);
  mfw::Shape baseline = wide;  // placed by its baseline
  baseline.wide = false;
  baseline.baseline = true;
  baseline.v = {64, 76};
  plain.shapes.push_back(baseline);
  mfw::Shape mono;  // a 1-bit DIB, stretched: kept at one bit a pixel
  mono.kind = mfw::Kind::kDib;
  mono.v = {90, 40, 26, 30};
  mono.dibW = 13, mono.dibH = 10, mono.dibDepth = 1;
  mono.colours = {0x0000C0, 0xFFE000};
  for (int32_t i = 0; i < mono.dibW * mono.dibH; ++i) mono.pixels.push_back(uint8_t((i * 7 / 5) & 1));
  plain.shapes.push_back(mono);
  mfw::Picture clipped = plain;  // to a rectangle with a hole
  clipped.clip = PlatRect{5, 8, 100, 75};
  clipped.exclude = PlatRect{20, 10, 65, 60};
  for (const auto& [f, pic] : {std::pair(kForms[0], plain), std::pair(kForms[1], plain), std::pair(kForms[2], plain),
                               std::pair(kForms[0], clipped), std::pair(kForms[1], clipped)}) {
    SCOPED_TRACE(f.name + std::string(pic.clip.right ? " clipped" : ""));
    PlatMetafile mf = Import(f.write(pic));
    ASSERT_NE(mf, 0u) << PlatLastError();
    PlatMetaHeader h{};
    ASSERT_TRUE(PlatGetMetafileHeader(mf, &h));
    EXPECT_EQ(h.frame.left, 0);
    EXPECT_EQ(h.frame.top, 0);
    EXPECT_EQ(h.frame.right, pic.width - 1);
    EXPECT_EQ(h.frame.bottom, pic.height - 1);
    Canvas played(pic.width, pic.height, 0xE0E0E0), direct(pic.width, pic.height, 0xE0E0E0);
    ASSERT_TRUE(PlatPlayMetafile(played.dc, mf, PlatRect{0, 0, pic.width, pic.height}));
    mfw::DrawDirect(direct.dc, pic);
    EXPECT_FALSE(direct.Unchanged());
    EXPECT_EQ(std::memcmp(PlatSurfaceBits(played.surface), PlatSurfaceBits(direct.surface),
                          PlatSurfaceByteSize(played.surface)),
              0);
    // The DIB's white corner, stretched, unless the hole hides it.
    EXPECT_EQ(played.At(61, 51), pic.clip.right ? 0xE0E0E0u : 0xFFFFFFu);
    EXPECT_TRUE(PlatDeleteMetafile(mf));
  }
}

// Every truncation of either form fails; so do damaged counts, sizes and
// bitmaps, and garbage.
TEST(MetafileWriter, DamagedBytesFailWithoutReadingPastTheEnd) {
  const mfw::Picture pic = mfw::Sample();
  for (const Form& f : kForms) {
    SCOPED_TRACE(f.name);
    const Bytes whole = f.write(pic);
    for (size_t n = 0; n < whole.size(); ++n) {
      PlatMetafile mf = Import(Bytes(whole.begin(), whole.begin() + long(n)));
      ASSERT_EQ(mf, 0u) << "cut at " << n;
      ASSERT_EQ(PlatLastError(), kPlatErrInvalidParam);
    }
  }
  const Bytes emf = mfw::WriteEmf(pic), wmf = mfw::WriteWmf(pic);
  const size_t rect = EmfRecord(emf, 43), poly = EmfRecord(emf, 87), dib = EmfRecord(emf, 81),
               text = EmfRecord(emf, 83);
  ASSERT_TRUE(rect && poly && dib && text);
  const struct {
    const char* name;
    Bytes base;
    size_t at;
    uint32_t value;
  } kDamage[] = {
      {"first record past the end", emf, Le32(emf, 4) + 4, 0x7FFFFFF0},
      {"record size not a multiple of 4", emf, rect + 4, 26},
      {"rectangle shorter than its fixed part", emf, rect + 4, 16},
      {"polyline count past its record", emf, poly + 24, 1000},
      {"text past its record", emf, text + 8 + 28 + 8, 5000},
      {"bitmap header size", emf, dib + 80, 41},
      {"bitmap bits past the record", emf, dib + 8 + 52, 0x10000},
      {"source rectangle wider than the bitmap", emf, dib + 8 + 32, 6},
      {"selected object outside the table", emf, EmfRecord(emf, 37) + 8, 9},
      {"header byte count past the end", emf, 48, uint32_t(emf.size() + 4)},
      {"reference device of 0 mm", emf, 80, 0},
      {"plain: size in words past the end", wmf, 6, uint32_t(wmf.size())},
      {"plain: first record past the end", wmf, 18, 0x10000},
      {"plain: record of 2 words", wmf, 18, 2},
  };
  for (const auto& d : kDamage) {
    Bytes b = d.base;
    Put32(&b, d.at, d.value);
    EXPECT_EQ(Import(b), 0u) << d.name;
  }
  Bytes garbage(700);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 37 + 11);
  EXPECT_EQ(Import(garbage), 0u);
  garbage[0] = 1;  // an enhanced header's type and a garbage rest
  EXPECT_EQ(Import(garbage), 0u);
  EXPECT_EQ(PlatMetafileFromEmf(nullptr, 100), 0u);
}

// A plain metafile's picture keeps its window as the frame whatever the
// extents; played into twice its size, the rectangle doubles.
TEST(MetafileWriter, PlainPictureScalesWithTheRectangle) {
  mfw::Picture pic;
  pic.width = 30;
  pic.height = 20;
  mfw::Shape r;
  r.v = {10, 4, 20, 12};
  r.pen = r.brush = 0x0000FF;
  pic.shapes.push_back(r);
  PlatMetafile mf = Import(mfw::WriteWmf(pic));
  ASSERT_NE(mf, 0u);
  Canvas c(60, 40);
  ASSERT_TRUE(PlatPlayMetafile(c.dc, mf, PlatRect{0, 0, 60, 40}));
  // The outline runs over (10, 4)-(19, 11): doubled, (20, 8)-(38, 22),
  // with a pen of width 2.
  const struct {
    int32_t x, y;
    uint32_t colour;
  } kPixels[] = {{20, 8, 0xFF0000}, {38, 22, 0xFF0000}, {29, 15, 0xFF0000}, {17, 8, 0xFFFFFF},
                 {41, 25, 0xFFFFFF}, {29, 5, 0xFFFFFF}, {8, 4, 0xFFFFFF}};
  for (const auto& p : kPixels) EXPECT_EQ(c.At(p.x, p.y), p.colour) << p.x << "," << p.y;
  PlatDeleteMetafile(mf);
}

}  // namespace
