// Thread counts from a hand-edited configuration: arbitrary values of the 25
// per-slot keys (each present or not), of "ESys.StdNParallel", the
// processor count, the thread-limit word and the free thread slots.  The
// plan never asks for more threads than are free, never a negative count,
// and refuses only when the explicit counts cannot fit.
#include <cstdint>
#include <cstring>

#include "engine/exec/exec_internal.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

int32 Take(const uint8_t*& p, const uint8_t* end) {
  int32 v = 0;
  if (end - p >= 4) {
    std::memcpy(&v, p, 4);
    p += 4;
  } else if (p < end) {
    v = int8_t(*p++);  // small values, negative ones among them
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qxexec;
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  Bool32 present[kExecSlots] = {};
  int32 keys[kExecSlots] = {};
  uint32_t mask = uint32_t(Take(p, end));
  for (int32 s = 1; s < kExecSlots; ++s) {
    present[s] = (mask >> s) & 1;
    // Mostly small counts, sometimes a whole word.
    keys[s] = (mask & 1) ? Take(p, end) : (p < end ? int8_t(*p++) : 0);
  }
  int32 stdN = Take(p, end);
  int32 processors = Take(p, end);
  int32 limit = Take(p, end) & 7;
  int32 available = (Take(p, end) & 0xFF) - 20;

  ThreadPlan plan;
  std::memset(&plan, 0x5A, sizeof plan);
  MgErr err = PlanThreads(present, keys, stdN, processors, limit, available, &plan);

  // The explicit counts and the processor slots as the configuration gives them.
  int64_t explicitSum = 0;
  int32 perProcessor = 0;
  bool differs = false;
  for (int32 s = 1; s < kExecSlots; ++s) {
    int32 c = kSlotDefaults[s].threads;
    if (present[s] && keys[s] != c) differs = true;
    if (present[s] && stdN == -1) c = keys[s] < -1 ? 0 : keys[s];
    int32 pri = kSlotDefaults[s].priority;
    if (stdN != 0 && pri >= 2 && c != 0 && 5 - pri > limit) c = 0;
    if (stdN == 0) c = 0;
    if (c == -1) ++perProcessor;
    else explicitSum += c;
  }
  if (err != kNoErr) {
    Check(err == kMemFullErr);
    Check(explicitSum + perProcessor > available);
    return 0;
  }
  Check(plan.differs == (differs ? 1 : 0));
  Check(plan.counts[0] == 1);
  int64_t sum = 0;
  int32 withThreads = 0;
  for (int32 s = 1; s < kExecSlots; ++s) {
    Check(plan.counts[s] >= 0);
    if (stdN == 0) Check(plan.counts[s] == 0);
    sum += plan.counts[s];
    if (plan.counts[s] > 0) ++withThreads;
  }
  Check(sum == 0 || sum <= available);
  Check(plan.contexts == 1 + sum);
  Check(plan.runRecords == 1 + withThreads);
  int32 procs = processors < 1 ? 1 : processors;
  if (plan.fitted) {
    Check(plan.fitted >= 1 && plan.fitted < procs);
  } else {
    Check(explicitSum + int64_t(perProcessor) * procs == sum);
  }
  return 0;
}
