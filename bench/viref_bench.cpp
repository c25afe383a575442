// A VI reference opened by name on a loaded VI and released, against what
// it cannot do without: finding the VI by name and making and disposing a
// cookie of a jar.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <ctime>
#include <mutex>

#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/cookie.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "server/viref.h"

namespace {

constexpr int kBatch = 1000;

// The calling thread's processor time: the machine's other work does not
// count.
double ThreadNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}
const uChar kName[] = "\010Bench.vi";

void BM_VIRefOpenReleaseVsFindAndCookie(benchmark::State& st) {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    BenchMemInit();
    BenchThInit();
    if (BenchTypeHeapInit() != kNoErr || VIRefInit() != kNoErr) return;
    ServerInstallEngineHooks();
    UHandle vi = NewVICore(kVIKindDatalog, kName, -1);
    // Held by name, the VI stays loaded when its last reference goes.
    ready = vi && HoldVIName(kName, 0) == kNoErr;
  });
  CookieJar jar = MCNewBigJar(4);
  if (!ready || !jar) {
    st.SkipWithError("no VI to open");
    return;
  }
  double nb = 0, nr = 0;
  for (auto _ : st) {
    const double t0 = ThreadNs();
    for (int i = 0; i < kBatch; ++i) {
      UHandle vi = FindVIByName(kName);
      const Cookie c = MCNewCookie(jar, &vi);
      benchmark::DoNotOptimize(MCDisposeCookie(jar, c, nullptr));
    }
    const double t1 = ThreadNs();
    for (int i = 0; i < kBatch; ++i) {
      VIRef ref = 0;
      AppOpenVIRefByName(kLocalAppRef, kName, nullptr, kVIRefOptTrusted, nullptr, &ref, nullptr, nullptr, nullptr);
      benchmark::DoNotOptimize(VIRefRelease(ref));
    }
    const double t2 = ThreadNs();
    nb += t1 - t0;
    nr += t2 - t1;
  }
  MCDisposeJar(jar);
  const double calls = double(st.iterations()) * kBatch;
  st.counters["ns_find_cookie"] = calls ? nb / calls : 0;
  st.counters["ns_open_release"] = calls ? nr / calls : 0;
  st.counters["x_find_cookie"] = nb > 0 ? nr / nb : 0;
}
BENCHMARK(BM_VIRefOpenReleaseVsFindAndCookie);

}  // namespace
