// The VI server's hot paths against their plain baselines.
//
// Property replies: a 100-entry VI property reply, 50 strings ("VI Name",
// 24 characters each) and 50 32-bit numbers ("Modifications:VI
// Modifications Bitset"; no property of the member tables is a double),
// written into its block and read back into the request's outputs, against
// FlatSize, FlattenData and UnFlattenData of the same values through one
// buffer.  Both end with the same outputs; the counter "bytes" is the block
// or buffer each one moved.
//
// Host access: a 1,000-entry numeric TCP access list (addresses and
// prefixes, none of which matches the client, under a first entry "-*")
// checked for one client, against a plain loop over the same addresses and
// masks, last first, with a masked compare.  Both scan every entry and
// both deny; the counter "allowed" shows it.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/flatten.h"
#include "engine/membertab.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "server/access.h"
#include "server/protocol.h"
#include "server/srvstart.h"

namespace {

// ---- Property replies -----------------------------------------------------------------
constexpr int kReplyEntries = 100;

// The server's values and the client's outputs: entry i a string when even,
// a number when odd.
struct ReplyData {
  std::vector<LStrHandle> strings, outStrings;
  std::vector<uInt32> numbers, outNumbers;
  std::vector<AttrEntry> values, outputs;
  ReplyData() : strings(kReplyEntries), outStrings(kReplyEntries), numbers(kReplyEntries), outNumbers(kReplyEntries) {
    for (int i = 0; i < kReplyEntries; ++i) {
      if (i % 2 == 0) {
        char text[32];
        std::snprintf(text, sizeof text, "Instrument Panel %07d.vi", i);
        strings[i] = reinterpret_cast<LStrHandle>(DSNewHandle(4 + 24));
        (*strings[i])->cnt = 24;
        std::memcpy((*strings[i])->str, text, 24);
        values.push_back(AttrEntry{1, 500, &strings[i]});
        outputs.push_back(AttrEntry{1, 500, &outStrings[i]});
      } else {
        numbers[i] = 0x10000000u + uInt32(i);
        values.push_back(AttrEntry{1, 537, &numbers[i]});
        outputs.push_back(AttrEntry{1, 537, &outNumbers[i]});
      }
    }
  }
  bool Same() const {
    for (int i = 0; i < kReplyEntries; i += 2)
      if (!outStrings[i] || std::memcmp(*outStrings[i], *strings[i], 28) != 0) return false;
    for (int i = 1; i < kReplyEntries; i += 2)
      if (outNumbers[i] != numbers[i]) return false;
    return true;
  }
};

void BM_PropertyReplyWriteRead(benchmark::State& st) {
  if (BenchMemInit() != kNoErr) {
    st.SkipWithError("memory manager not started");
    return;
  }
  ReplyData d;
  AppRecord app{};
  AsyncRef request = NewAsyncRef(kAsyncVIAttrVectOp, &app);
  request->param[0] = kReplyEntries;
  request->param[1] = uInt32(uintptr_t(d.outputs.data()));
  const ParamVectorMsg reply{kTSVIPropReply, uInt32(uintptr_t(request)), 0, 0, kReplyEntries, d.values.data(),
                             kReplyEntries + 1, 0};
  int64_t bytes = 0;
  for (auto _ : st) {
    SrvMessage m{};
    ParamVectorMsg got{};
    if (SrvWriteParamVector(reply, &m) != kNoErr ||
        RcvParamVector(m.data, m.header.dataLength, kTSVIPropReply, request, &got) != kNoErr) {
      st.SkipWithError("reply not written or read");
      break;
    }
    bytes = m.header.dataLength;
    SrvDisposeMessage(&m);
  }
  if (!d.Same()) st.SkipWithError("outputs differ");
  st.counters["bytes"] = double(bytes);
  FreeAsyncRef(request);
}
BENCHMARK(BM_PropertyReplyWriteRead);

void BM_PropertyFlattenUnflatten(benchmark::State& st) {
  if (BenchMemInit() != kNoErr) {
    st.SkipWithError("memory manager not started");
    return;
  }
  ReplyData d;
  const TypeDescriptor* string = PropInfoTypeDesc(kAutoClassVI, 500);
  const TypeDescriptor* number = PropInfoTypeDesc(kAutoClassVI, 537);
  int64_t bytes = 0;
  for (auto _ : st) {
    int32 total = 0;
    for (int i = 0; i < kReplyEntries; ++i) total += FlatSize(i % 2 ? number : string, d.values[i].value);
    UHandle h = AZNewHandle(total);
    UPtr at = *h;
    for (int i = 0; i < kReplyEntries; ++i) at = FlattenData(i % 2 ? number : string, d.values[i].value, at);
    int32 offset = 0;
    for (int i = 0; i < kReplyEntries; ++i)
      offset += UnFlattenData(h, offset, i % 2 ? number : string, d.outputs[i].value, total - offset, 0);
    bytes = total;
    AZDisposeHandle(h);
  }
  if (!d.Same()) st.SkipWithError("outputs differ");
  st.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_PropertyFlattenUnflatten);

// ---- Host access -------------------------------------------------------------------------
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
    if (BenchMemInit() != kNoErr) return false;
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
