// Pictures and pixel access against their baselines, in one run: playing a
// picture of 10,000 records (rectangles, lines, ovals) into a 1024 x 768
// pixmap against making the same calls directly (the bar is 1.3x), and
// IGetHostBits of that pixmap at depth 24 against pixman converting it to
// r8g8b8 (the bar is 2x).  Each ratio is a counter of the measured run.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include "held_port.h"
#include <pixman.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/picture.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_surface.h"

namespace {

constexpr int16 kW = 1024, kH = 768;
constexpr int32 kRecords = 10000;

struct Scene {
  bool ok = false;
  WindowRef window = kWNoWindow;
  int32 pixmap = 0, picture = 0;
  Scene() {
    static std::once_flag once;
    std::call_once(once, [] {
      BenchMemInit();
      BenchThInit();
    });
    if (BenchScreenImage() != kNoErr) return;
    BenchDrawInit();
    const Rect r{0, 0, 100, 100}, frame{0, 0, kH, kW};
    window = WCreate(0x3C, nullptr, nullptr, &r, 0, 1, 0);
    if (!window) return;
    const HeldPort port(window);
    if (ICreatePixmap(window, &frame, 32, &pixmap) || ICreatePict(window, &frame, 32, nullptr, 0, &picture)) return;
    ImageSaveRecord save;
    IOpen(picture, &save);
    Draw();
    IClose(picture, &save);
    ok = true;
  }
  // The calls: the black normal pen, then rectangles, lines and ovals
  // spread over the frame.
  static void Draw() {
    DSelectNormPen(0, 0);
    uInt32 seed = 12345;
    auto next = [&seed](int32 n) {
      seed = seed * 1103515245u + 12345u;
      return int32((seed >> 8) % uInt32(n));
    };
    for (int32 i = 0; i < kRecords; ++i) {
      const int16 x = int16(next(kW - 64)), y = int16(next(kH - 64)), w = int16(4 + next(56)), h = int16(4 + next(56));
      const Rect r{y, x, int16(y + h), int16(x + w)};
      switch (i % 3) {
        case 0: DFrameRect(&r); break;
        case 1:
          DMoveTo(x, y);
          DLineTo(x + w, y + h);
          break;
        default: DPaintOval(&r); break;
      }
    }
  }
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

double NsPer(benchmark::State& st, std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::nano>(d).count() / double(st.iterations());
}

double gDirectNs = 0, gPixmanNs = 0;

void BM_PictureCallsDirect(benchmark::State& st) {
  Scene& s = TheScene();
  if (!s.ok) return st.SkipWithError("no scene");
  const HeldPort port(s.window);
  ImageSaveRecord save;
  IOpen(s.pixmap, &save);
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    Scene::Draw();
    benchmark::ClobberMemory();
  }
  gDirectNs = NsPer(st, std::chrono::steady_clock::now() - t0);
  IClose(s.pixmap, &save);
  st.SetItemsProcessed(st.iterations() * kRecords);
}
BENCHMARK(BM_PictureCallsDirect)->Unit(benchmark::kMillisecond);

void BM_PicturePlayed(benchmark::State& st) {
  Scene& s = TheScene();
  if (!s.ok) return st.SkipWithError("no scene");
  const HeldPort port(s.window);
  ImageSaveRecord save;
  IOpen(s.pixmap, &save);
  const Rect frame{0, 0, kH, kW};
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    IDrawPicture(s.picture, nullptr, &frame, 0, 0, 0, 0);
    benchmark::ClobberMemory();
  }
  const double ns = NsPer(st, std::chrono::steady_clock::now() - t0);
  // The playback draws what the calls draw.
  PlatSurface* surface = PlatBitmapSurface(PlatObj(IEntryOf(s.pixmap).extra));
  auto pixels = [surface] {
    return std::vector<uint8_t>(PlatSurfaceBits(surface), PlatSurfaceBits(surface) + PlatSurfaceByteSize(surface));
  };
  PlatSurfaceClear(surface, 0xFFFFFF);
  IDrawPicture(s.picture, nullptr, &frame, 0, 0, 0, 0);
  const std::vector<uint8_t> played = pixels();
  PlatSurfaceClear(surface, 0xFFFFFF);
  Scene::Draw();
  IClose(s.pixmap, &save);
  const std::vector<uint8_t> direct = pixels();
  if (played != direct) st.SkipWithError("the playback differs from the calls");
  if (gDirectNs > 0) st.counters["x_direct"] = ns / gDirectNs;
  st.SetItemsProcessed(st.iterations() * kRecords);
}
BENCHMARK(BM_PicturePlayed)->Unit(benchmark::kMillisecond);

void BM_PixmanToR8G8B8(benchmark::State& st) {
  Scene& s = TheScene();
  if (!s.ok) return st.SkipWithError("no scene");
  const HeldPort port(s.window);
  PlatSurface* surface = PlatBitmapSurface(PlatObj(IEntryOf(s.pixmap).extra));
  pixman_image_t* src = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH,
                                                 reinterpret_cast<uint32_t*>(PlatSurfaceBits(surface)),
                                                 PlatSurfaceStride(surface));
  const int stride = (kW * 3 + 3) / 4 * 4;
  std::vector<uint32_t> out(size_t(stride / 4) * kH);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_r8g8b8, kW, kH, out.data(), stride);
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    pixman_image_composite(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, kW, kH);
    benchmark::ClobberMemory();
  }
  gPixmanNs = NsPer(st, std::chrono::steady_clock::now() - t0);
  pixman_image_unref(dst);
  pixman_image_unref(src);
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}
BENCHMARK(BM_PixmanToR8G8B8)->Unit(benchmark::kMillisecond);

void BM_IGetHostBits24(benchmark::State& st) {
  Scene& s = TheScene();
  if (!s.ok) return st.SkipWithError("no scene");
  const HeldPort port(s.window);
  std::vector<uInt8> buffer(size_t(kW) * 3 * kH);
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    int32 depth = 24, rowBytes = 0, size = 0;
    if (IGetHostBits(s.pixmap, 0, &depth, nullptr, &rowBytes, &size, buffer.data(), nullptr) != kNoErr)
      return st.SkipWithError("IGetHostBits failed");
    benchmark::ClobberMemory();
  }
  const double ns = NsPer(st, std::chrono::steady_clock::now() - t0);
  if (gPixmanNs > 0) st.counters["x_pixman"] = ns / gPixmanNs;
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}
BENCHMARK(BM_IGetHostBits24)->Unit(benchmark::kMillisecond);

}  // namespace
