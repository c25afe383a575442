// Writing a PostScript page of 10,000 pen selections, lines and framed
// rectangles through the drawing entries, against snprintf and fwrite of
// the same text to a file.  The page's ratio to the baseline is its
// counter x_snprintf (the bar is 1.5x).  A 1024 x 768 24-bit bit map
// written as level-2 colour samples against a plain loop that writes the
// same bytes as hex lines to a file: the counter x_hexloop (bar 1.5x).
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/draw/psport.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "mgsource/window/wport.h"
#include "platform/qx_drives.h"

namespace {

constexpr int32 kSteps = 10000;
double gBaselineNs = 0;

std::string Folder() {
  static std::string dir = [] {
    std::string t = "/tmp/qxpsbenchXXXXXX";
    return mkdtemp(t.data()) ? t : std::string();
  }();
  return dir;
}

// The two pens the page alternates between, so that every selection
// writes its changes.
struct Page {
  bool ok = false;
  FileRef file = nullptr;
  UHandle record = nullptr;
  int32 image = 0;
  int32 pens[2] = {0, 0};
  Page() {
    static std::once_flag once;
    std::call_once(once, [] {
      BenchMemInit();
      BenchThInit();
      BenchFileMgr();
    });
    if (Folder().empty() || PlatDriveMap('B', Folder().c_str(), kPlatDriveFixed) != 0) return;
    if (BenchScreenImage() != kNoErr) return;
    BenchDrawInit();
    Path p = nullptr;
    const char* name = "B:\\page.ps";
    if (FTextToPath(reinterpret_cast<const uChar*>(name), int32(std::strlen(name)), &p) != kNoErr) return;
    const MgErr err = FCreateAlways(&file, p, 0666, kAccessReadWrite, kDenyNone, nullptr);
    FDisposePath(p);
    if (err) return;
    record = AZNewHClr(128);
    const Rect page{0, 0, 792, 612};
    std::memcpy(*record + 24, &page, sizeof page);
    if (ICreatePageImage(0, 8, uInt32(uintptr_t(file)), &image, uInt32(uintptr_t(record))) != kNoErr) return;
    PenState a{0xFF0000, 0xFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 2, 0, 0, 0};
    PenState b{0x336699, 0xFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1, 0, 0, 0};
    pens[0] = DNewPen(kDefaultPenBase, kPenAll, &a);
    pens[1] = DNewPen(kDefaultPenBase, kPenAll, &b);
    DSetPortTarget(image);
    ok = pens[0] && pens[1];
  }
  ~Page() {
    DSetPortTarget(0);
    if (image) IRelease(image);
    if (file) FMClose(file);
    if (record) AZDisposeHandle(record);
    PlatDriveMap('B', nullptr, 0);
  }
};

void BM_PSPageBaseline(benchmark::State& st) {
  std::FILE* f = std::fopen((Folder() + "/base.ps").c_str(), "wb");
  if (!f) {
    st.SkipWithError("no file");
    return;
  }
  char line[160];
  int64_t bytes = 0;
  auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    std::rewind(f);
    for (int32 i = 0; i < kSteps; ++i) {
      const bool odd = i & 1;
      int n = std::snprintf(line, sizeof line, "%.4f %.4f %.4f setrgbcolor %ld setlinewidth \r", odd ? 0.2 : 1.0,
                            odd ? 0.4 : 0.0, odd ? 0.6 : 0.0, long(odd ? 1 : 2));
      std::fwrite(line, 1, size_t(n), f);
      const long h = i % 500, v = i / 500;
      n = std::snprintf(line, sizeof line, "newpath %ld %ld moveto %ld %ld lineto stroke\r", h, v, h + 20, v + 10);
      std::fwrite(line, 1, size_t(n), f);
      const double in = odd ? 0.5 : 1.0;
      n = std::snprintf(line, sizeof line, "%.2f %.2f %.2f %.2f rect stroke\r", h + in, v + in, h + 30 - in,
                        v + 20 - in);
      std::fwrite(line, 1, size_t(n), f);
      bytes += n;
    }
  }
  auto t1 = std::chrono::steady_clock::now();
  gBaselineNs = std::chrono::duration<double, std::nano>(t1 - t0).count() / double(st.iterations());
  std::fclose(f);
  benchmark::DoNotOptimize(bytes);
}
BENCHMARK(BM_PSPageBaseline)->Unit(benchmark::kMicrosecond);

void BM_PSPageWrite(benchmark::State& st) {
  Page page;
  if (!page.ok) {
    st.SkipWithError("no page");
    return;
  }
  auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    PSOpenPage(page.image);
    for (int32 i = 0; i < kSteps; ++i) {
      DSelectPen(page.pens[i & 1], 0, 0xFFFFFF);
      const int32 h = i % 500, v = i / 500;
      DMoveTo(h, v);
      DLineTo(h + 20, v + 10);
      const Rect r{int16(v), int16(h), int16(v + 20), int16(h + 30)};
      DFrameRect(&r);
    }
  }
  auto t1 = std::chrono::steady_clock::now();
  const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / double(st.iterations());
  if (gBaselineNs > 0) st.counters["x_snprintf"] = ns / gBaselineNs;
}
BENCHMARK(BM_PSPageWrite)->Unit(benchmark::kMicrosecond);

constexpr int32 kMapW = 1024, kMapH = 768;
double gHexBaselineNs = 0;

const std::vector<uInt8>& MapBytes() {
  static std::vector<uInt8> bytes = [] {
    std::vector<uInt8> b(size_t(kMapW) * kMapH * 3);
    for (size_t i = 0; i < b.size(); ++i) b[i] = uInt8(i * 2654435761u >> 13);
    return b;
  }();
  return bytes;
}

void BM_PSImageBaseline(benchmark::State& st) {
  std::FILE* f = std::fopen((Folder() + "/hex.ps").c_str(), "wb");
  if (!f) {
    st.SkipWithError("no file");
    return;
  }
  static const char kHex[] = "0123456789ABCDEF";
  const std::vector<uInt8>& bytes = MapBytes();
  char line[300];
  auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    std::rewind(f);
    const uInt8* p = bytes.data();
    for (int32 y = 0; y < kMapH; ++y) {
      int n = 0;
      for (int32 x = 0; x < kMapW * 3; ++x) {
        line[n++] = kHex[*p >> 4];
        line[n++] = kHex[*p++ & 15];
        if (n > 248 && x % 3 == 2) {
          line[n++] = '\r';
          std::fwrite(line, 1, size_t(n), f);
          n = 0;
        }
      }
      line[n++] = '\r';
      std::fwrite(line, 1, size_t(n), f);
    }
  }
  auto t1 = std::chrono::steady_clock::now();
  gHexBaselineNs = std::chrono::duration<double, std::nano>(t1 - t0).count() / double(st.iterations());
  std::fclose(f);
}
BENCHMARK(BM_PSImageBaseline)->Unit(benchmark::kMillisecond);

void BM_PSCopyImage(benchmark::State& st) {
  Page page;
  if (!page.ok) {
    st.SkipWithError("no page");
    return;
  }
  gPrintPrefs.postScriptLevel2 = 1;
  const Rect bits{0, 0, kMapH, kMapW};
  const Rect dest{10, 10, 10 + kMapH / 2, 10 + kMapW / 2};
  auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    PSOpenPage(page.image);
    PSCopyImage(MapBytes().data(), nullptr, 0, nullptr, &bits, &dest, 0, 0xFFFFFF, nullptr, 24);
  }
  auto t1 = std::chrono::steady_clock::now();
  gPrintPrefs.postScriptLevel2 = 0;
  const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / double(st.iterations());
  if (gHexBaselineNs > 0) st.counters["x_hexloop"] = ns / gHexBaselineNs;
}
BENCHMARK(BM_PSCopyImage)->Unit(benchmark::kMillisecond);

}  // namespace
