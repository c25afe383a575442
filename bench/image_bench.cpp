// Images from resources and pictures: IGet and IRelease of an icon family
// (detached, as the system's callers load them) against fetching and
// releasing its four resources alone, and ICreatePict
// over a picture of 1 MB against a bare walk of its record heads read with
// the byte-order helpers.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/pictops.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

namespace {

RsrcFileRef FamilyFile() {
  static RsrcFileRef ref = [] {
    BenchMemInit();
    BenchThInit();
    BenchResources();
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    const auto frame = +[](int x, int y) { return x == 1 || x == 30 || y == 1 || y == 30; };
    const auto inside = +[](int x, int y) { return x > 1 && x < 30 && y > 1 && y < 30; };
    for (const auto& r : qxbuild::IconFamilyResources(frame, inside, 3, 43)) w.Add(r.first, 128, r.second);
    const rsrcw::Bytes file = w.Write();
    UHandle h = AZNewHandle(int32(file.size()));
    std::memcpy(*h, file.data(), file.size());
    RsrcFileRef f = 0;
    ROpenFileOrHandle(nullptr, kRsrcReadOnly, &f, nullptr, nullptr, h);
    return f;
  }();
  return ref;
}

constexpr int kLoads = 10000;

void BM_IconFamilyIGet(benchmark::State& st) {
  RsrcFileRef f = FamilyFile();
  for (auto _ : st)
    for (int i = 0; i < kLoads; ++i) {
      int32 id = 0;
      IGet(f, kImageFamily, 128, &id, 1);  // detached, as every caller loads them
      IRelease(id);
    }
}
BENCHMARK(BM_IconFamilyIGet)->Unit(benchmark::kMillisecond);

void BM_IconFamilyRGet(benchmark::State& st) {
  RsrcFileRef f = FamilyFile();
  const ResType types[4] = {FourCC("ICN#"), FourCC("icl4"), FourCC("icl8"), FourCC("ICN#")};
  for (auto _ : st)
    for (int i = 0; i < kLoads; ++i)
      for (ResType t : types) {
        UHandle h = nullptr;
        RGet(f, t, 128, &h);
        RRelease(h);
      }
}
BENCHMARK(BM_IconFamilyRGet)->Unit(benchmark::kMillisecond);

// A picture of 1 MB of small records, definitions among them.
UHandle MegaPicture() {
  BenchMemInit();
  UHandle h = DSNewHClr(4);
  PictOpArgs a;
  int32 op = 0;
  while (DSGetHandleSize(h) < (1 << 20)) {
    const int32 ops[4] = {kPictOpFrameRect, kPictOpLineTo, kPictOpPenDef, kPictOpGrayOut};
    PictAppendOp(h, 0, ops[op++ % 4], &a);
  }
  return h;
}

void BM_CreatePict1MB(benchmark::State& st) {
  UHandle h = MegaPicture();
  const Rect r{0, 0, 100, 100};
  for (auto _ : st) {
    int32 id = 0;
    ICreatePict(0, &r, 8, h, kImageBorrowed, &id);
    IRelease(id);  // borrowed: the data stays
  }
  DSDisposeHandle(h);
}
BENCHMARK(BM_CreatePict1MB)->Unit(benchmark::kMicrosecond);

__attribute__((noipa)) uInt32 PlainWalk(const uInt8* p, int32 size) {
  uInt32 pens = 0;
  int64 at = 4;
  while (size - at >= 6) {
    const uInt16 op = GetBE16(p + at);
    const uInt32 n = GetBE32(p + at + 2);
    if (int64(n) > size - at - 6) break;
    pens += op == 30 || op == 31;
    at += 6 + int64(n);
  }
  PutNative32(const_cast<uInt8*>(p), uInt32(size - 4));
  return pens;
}

void BM_PlainPictWalk1MB(benchmark::State& st) {
  UHandle h = MegaPicture();
  for (auto _ : st) benchmark::DoNotOptimize(PlainWalk(reinterpret_cast<const uInt8*>(*h), DSGetHandleSize(h)));
  DSDisposeHandle(h);
}
BENCHMARK(BM_PlainPictWalk1MB)->Unit(benchmark::kMicrosecond);

}  // namespace
