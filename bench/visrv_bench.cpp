// The VI server's hot paths against their plain baselines.
//
// Host access: a 1,000-entry numeric TCP access list (addresses and
// prefixes, none of which matches the client, under a first entry "-*")
// checked for one client, against a plain loop over the same addresses and
// masks, last first, with a masked compare.  Both scan every entry and
// both deny; the counter "allowed" shows it.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "server/access.h"
#include "server/srvstart.h"

namespace {

constexpr int kTcpEntries = 1000;

// Entry i: "-*" first, then addresses 172.16.x.y and prefixes 172.17.x.*.
std::string TcpEntry(int i) {
  char text[32];
  if (i == 0) return "-*";
  if (i % 2) std::snprintf(text, sizeof text, "+172.16.%d.%d", (i / 256) % 256, i % 256);
  else std::snprintf(text, sizeof text, "+172.17.%d.*", (i / 2) % 256);
  return text;
}

bool StartTcpList() {
  static const bool ready = [] {
    if (MemInit() != kNoErr) return false;
    CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
    for (int i = 0; i < kTcpEntries; ++i) {
      Str255 p;
      const std::string t = TcpEntry(i);
      p[0] = uChar(t.size());
      std::memcpy(p + 1, t.data(), t.size());
      if (CPStrInsert(list, p, i) != kNoErr) return false;
    }
    const bool ok = QXSSpecifyTcpAccess(list) == kNoErr;
    AZDisposeHandle(reinterpret_cast<UHandle>(list));
    SrvTestSetListening(1);
    return ok;
  }();
  return ready;
}

const uInt32 kClient = inet_addr("10.1.2.3");

void BM_TcpAccessCheck(benchmark::State& st) {
  if (!StartTcpList()) {
    st.SkipWithError("access list not parsed");
    return;
  }
  Bool32 allowed = 1;
  for (auto _ : st) {
    allowed = QXSTcpAccessAllowed(kClient, 1);
    benchmark::DoNotOptimize(allowed);
  }
  st.counters["allowed"] = allowed;
}
BENCHMARK(BM_TcpAccessCheck);

void BM_TcpMaskedLoop(benchmark::State& st) {
  struct Plain {
    uInt32 address, mask;
    bool allow;
  };
  std::vector<Plain> entries;
  for (int i = 0; i < kTcpEntries; ++i) {
    uInt32 a = 0, m = 0;
    int32 flags = 0;
    Str255 p;
    const std::string t = TcpEntry(i);
    p[0] = uChar(t.size());
    std::memcpy(p + 1, t.data(), t.size());
    QXSParseTcpEntry(p, &a, &m, &flags);
    entries.push_back(Plain{a, m, (flags & kAccessAllowFlag) != 0});
  }
  bool allowed = true;
  for (auto _ : st) {
    allowed = false;
    for (size_t i = entries.size(); i-- > 0;)
      if ((kClient & entries[i].mask) == (entries[i].address & entries[i].mask)) {
        allowed = entries[i].allow;
        break;
      }
    benchmark::DoNotOptimize(allowed);
  }
  st.counters["allowed"] = allowed;
}
BENCHMARK(BM_TcpMaskedLoop);

}  // namespace
