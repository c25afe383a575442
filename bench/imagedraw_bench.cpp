// Image drawing and picture files against their baselines, in one run:
// IDraw of a masked 32 x 32 colour icon onto a pixmap, 100,000 times,
// against pixman compositing the same icon through an a1 mask (OVER; the
// bar is 2x), and IGetFile of a 2048 x 2048 24-bit bitmap file against
// libpng reading the same pixels from a PNG file (the bar is 0.5x).  Each
// ratio is a counter of the measured run.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include "held_port.h"
#include <png.h>
#include <pixman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagefile.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/thread.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_drives.h"
#include "platform/qx_png.h"
#include "platform/qx_surface.h"
#include "tools/picturefilewriter.h"
#include "tests/colour_maps.h"

namespace {

constexpr int32 kDraws = 100000;
constexpr int32 kSide = 2048;

void StartOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    BenchMemInit();
    BenchThInit();
    BenchFileMgr();
  });
}

// The icon: a colour gradient in a family with a round mask.
bool InMask(int32 x, int32 y) { return (x - 16) * (x - 16) + (y - 16) * (y - 16) < 15 * 15; }

struct IconScene {
  bool ok = false;
  WindowRef window = kWNoWindow;
  int32 pixmap = 0, family = 0;
  IconScene() {
    StartOnce();
    if (BenchScreenImage() != kNoErr) return;
    BenchDrawInit();
    if (LoadDefaultColourMaps() != kNoErr) return;

    const Rect r{0, 0, 100, 100}, frame{0, 0, 256, 256};
    window = WCreate(0x3C, nullptr, nullptr, &r, 0, 1, 0);
    if (!window) return;
    const HeldPort port(window);
    if (ICreatePixmap(window, &frame, 32, &pixmap)) return;
    UHandle bits = AZNewHandle(1024), mask = AZNewHClr(128);
    for (int32 y = 0; y < 32; ++y)
      for (int32 x = 0; x < 32; ++x) {
        (*bits)[32 * y + x] = uInt8(16 + (x + y) % 200);
        if (InMask(x, y)) (*mask)[4 * y + x / 8] |= uInt8(0x80 >> (x % 8));
      }
    int32 icon8 = 0, m = 0;
    if (IMakeImageFromRsrc(kImageIcon8, bits, &icon8, 1) || IMakeImageFromRsrc(kImageMask, mask, &m, 1)) return;
    if (ICreateProcImage(nullptr, 0, &family)) return;  // an entry, made a family
    *IEntryPtr(family) = ImageEntry{0, kImageFamily, 0, 0, uInt32(icon8), uInt32(m)};
    ok = true;
  }
};
IconScene& Icons() {
  static IconScene s;
  return s;
}

double NsPer(benchmark::State& st, std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::nano>(d).count() / double(st.iterations());
}
double gPixmanNs = 0, gPngNs = 0;

void BM_PixmanMaskedIcon(benchmark::State& st) {
  IconScene& s = Icons();
  if (!s.ok) return st.SkipWithError("no scene");
  const HeldPort port(s.window);
  PlatSurface* surface = PlatBitmapSurface(PlatObj(IEntryOf(s.pixmap).extra));
  std::vector<uint32_t> icon(32 * 32), mask(32, 0);
  for (int32 y = 0; y < 32; ++y)
    for (int32 x = 0; x < 32; ++x) {
      icon[size_t(32 * y + x)] = 0xFF000000u | uint32_t(x * 8) << 16 | uint32_t(y * 8);
      // a1 rows: the first pixel in the least significant bit (little-endian).
      if (InMask(x, y)) mask[size_t(y)] |= 1u << x;
    }
  pixman_image_t* src = pixman_image_create_bits(PIXMAN_x8r8g8b8, 32, 32, icon.data(), 128);
  pixman_image_t* msk = pixman_image_create_bits(PIXMAN_a1, 32, 32, mask.data(), 4);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, 256, 256,
                                                 reinterpret_cast<uint32_t*>(PlatSurfaceBits(surface)),
                                                 PlatSurfaceStride(surface));
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    for (int32 i = 0; i < kDraws; ++i)
      pixman_image_composite(PIXMAN_OP_OVER, src, msk, dst, 0, 0, 0, 0, 40 + (i & 63), 40, 32, 32);
    benchmark::ClobberMemory();
  }
  gPixmanNs = NsPer(st, std::chrono::steady_clock::now() - t0);
  pixman_image_unref(dst);
  pixman_image_unref(msk);
  pixman_image_unref(src);
  st.SetItemsProcessed(st.iterations() * kDraws);
}
BENCHMARK(BM_PixmanMaskedIcon)->Unit(benchmark::kMillisecond);

void BM_IDrawMaskedIcon(benchmark::State& st) {
  IconScene& s = Icons();
  if (!s.ok) return st.SkipWithError("no scene");
  const HeldPort port(s.window);
  ImageSaveRecord save;
  IOpen(s.pixmap, &save);
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    for (int32 i = 0; i < kDraws; ++i) {
      const int16 x = int16(40 + (i & 63));
      const Rect r{40, x, 72, int16(x + 32)};
      IDraw(s.family, nullptr, &r, 0, 0xFFFFFF, 0, 0xFFFFFF);
    }
    benchmark::ClobberMemory();
  }
  const double ns = NsPer(st, std::chrono::steady_clock::now() - t0);
  IClose(s.pixmap, &save);
  if (gPixmanNs > 0) st.counters["x_pixman"] = ns / gPixmanNs;
  st.SetItemsProcessed(st.iterations() * kDraws);
}
BENCHMARK(BM_IDrawMaskedIcon)->Unit(benchmark::kMillisecond);

// The same 2048 x 2048 pixels as a 24-bit bitmap file and as a PNG file.
struct Files {
  bool ok = false;
  std::string png;
  Path bmp = nullptr;
  Files() {
    StartOnce();
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("qxbenchpic" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    if (PlatDriveMap('J', dir.c_str(), kPlatDriveFixed) != 0) return;
    pfw::Bitmap b;
    b.width = b.height = kSide;
    b.depth = 24;
    b.rows.resize(size_t(kSide) * kSide * 3);
    PlatSurface* s = PlatSurfaceCreate(kSide, kSide, kPlatRgb32);
    for (int32 y = 0; y < kSide; ++y)
      for (int32 x = 0; x < kSide; ++x) {
        const uint8_t r = uint8_t(x * 7 + y), g = uint8_t(y * 3), bl = uint8_t((x ^ y) * 5);
        uint8_t* p = &b.rows[(size_t(y) * kSide + x) * 3];
        p[0] = bl, p[1] = g, p[2] = r;
        PlatSurfaceSetPixel(s, x, y, uint32_t(r) << 16 | uint32_t(g) << 8 | bl);
      }
    const std::vector<uint8_t> file = pfw::WriteBmp(b);
    FILE* f = std::fopen((dir / "big.bmp").c_str(), "wb");
    if (!f) return;
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    png = (dir / "big.png").string();
    const bool written = PlatPngWriteFile(s, png.c_str()) == 0;
    PlatSurfaceDestroy(s);
    const char text[] = "J:\\big.bmp";
    ok = written && FTextToPath(reinterpret_cast<const uChar*>(text), int32(sizeof text - 1), &bmp) == kNoErr;
  }
};
Files& TheFiles() {
  static Files f;
  return f;
}

void BM_LibpngRead2048(benchmark::State& st) {
  Files& f = TheFiles();
  if (!f.ok) return st.SkipWithError("no files");
  std::vector<uint8_t> pixels(size_t(kSide) * kSide * 3);
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, f.png.c_str())) return st.SkipWithError("png");
    image.format = PNG_FORMAT_RGB;
    png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
    benchmark::ClobberMemory();
  }
  gPngNs = NsPer(st, std::chrono::steady_clock::now() - t0);
}
BENCHMARK(BM_LibpngRead2048)->Unit(benchmark::kMillisecond);

void BM_IGetFileBmp2048(benchmark::State& st) {
  Files& f = TheFiles();
  if (!f.ok) return st.SkipWithError("no files");
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    int32 image = 0;
    if (IGetFile(f.bmp, &image, 0) != kNoErr) return st.SkipWithError("IGetFile");
    IRelease(image);
  }
  const double ns = NsPer(st, std::chrono::steady_clock::now() - t0);
  if (gPngNs > 0) st.counters["x_libpng"] = ns / gPngNs;
}
BENCHMARK(BM_IGetFileBmp2048)->Unit(benchmark::kMillisecond);

}  // namespace
