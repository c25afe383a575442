// The static slot table, the configuration keys of the slots, and the plan
// of thread counts that start-up works out from the configuration.
#include <algorithm>

#include "exec_internal.h"

namespace qxexec {

// threads, run record, first context, fallback, first slot of the system, priority.
const ExecSlot kSlotDefaults[kExecSlots] = {
    {1, 0, 0, 0, 0, 1},
    {0, 0, 0, 2, 1, 0},   {-1, 0, 0, 0, 1, 1},  {-1, 0, 0, 2, 1, 2},  {-1, 0, 0, 3, 1, 3},  {-1, 0, 0, 4, 1, 4},
    {0, 0, 0, 7, 6, 0},   {-1, 0, 0, 2, 6, 1},  {-1, 0, 0, 7, 6, 2},  {-1, 0, 0, 8, 6, 3},  {-1, 0, 0, 9, 6, 4},
    {0, 0, 0, 12, 11, 0}, {-1, 0, 0, 2, 11, 1}, {-1, 0, 0, 12, 11, 2}, {-1, 0, 0, 13, 11, 3}, {-1, 0, 0, 14, 11, 4},
    {0, 0, 0, 17, 16, 0}, {-1, 0, 0, 2, 16, 1}, {-1, 0, 0, 17, 16, 2}, {-1, 0, 0, 18, 16, 3}, {-1, 0, 0, 19, 16, 4},
    {0, 0, 0, 22, 21, 0}, {-1, 0, 0, 2, 21, 1}, {-1, 0, 0, 22, 21, 2}, {-1, 0, 0, 23, 21, 3}, {-1, 0, 0, 24, 21, 4},
};

const char* const kSlotNames[kExecSlots] = {
    "userInterfaceESys",
    "backGroundPriorityESys",
    "normalPriorityESys",
    "aboveNormalPriorityEsys",
    "highPriorityEsys",
    "timeCriticalPriorityESys",
    "InstrIOBackGroundPriorityESys",
    "InstrIONormalPriorityESys",
    "InstrIOAboveNormalPriorityEsys",
    "InstrIOHighPriorityEsys",
    "InstrIOTimeCriticalPriorityESys",
    "DAQBackGroundPriorityESys",
    "DAQNormalPriorityESys",
    "DAQAboveNormalPriorityEsys",
    "DAQHighPriorityEsys",
    "DAQTimeCriticalPriorityESys",
    "Other1BackGroundPriorityESys",
    "Other1NormalPriorityESys",
    "Other1AboveNormalPriorityEsys",
    "Other1HighPriorityEsys",
    "Other1TimeCriticalPriorityESys",
    "Other2BackGroundPriorityESys",
    "Other2NormalPriorityESys",
    "Other2AboveNormalPriorityEsys",
    "Other2HighPriorityEsys",
    "Other2TimeCriticalPriorityESys",
};

const uChar* const kSlotKeys[kExecSlots] = {
    reinterpret_cast<const uChar*>(""),
    reinterpret_cast<const uChar*>("\x0a" "ESys.Bgrnd"),
    reinterpret_cast<const uChar*>("\x0b" "ESys.Normal"),
    reinterpret_cast<const uChar*>("\x09" "ESys.High"),
    reinterpret_cast<const uChar*>("\x0a" "ESys.VHigh"),
    reinterpret_cast<const uChar*>("\x0e" "ESys.TCritical"),
    reinterpret_cast<const uChar*>("\x15" "ESys.instrument.Bgrnd"),
    reinterpret_cast<const uChar*>("\x16" "ESys.instrument.Normal"),
    reinterpret_cast<const uChar*>("\x14" "ESys.instrument.High"),
    reinterpret_cast<const uChar*>("\x15" "ESys.instrument.VHigh"),
    reinterpret_cast<const uChar*>("\x19" "ESys.instrument.TCritical"),
    reinterpret_cast<const uChar*>("\x0e" "ESys.DAQ.Bgrnd"),
    reinterpret_cast<const uChar*>("\x0f" "ESys.DAQ.Normal"),
    reinterpret_cast<const uChar*>("\x0d" "ESys.DAQ.High"),
    reinterpret_cast<const uChar*>("\x0e" "ESys.DAQ.VHigh"),
    reinterpret_cast<const uChar*>("\x12" "ESys.DAQ.TCritical"),
    reinterpret_cast<const uChar*>("\x11" "ESys.other1.Bgrnd"),
    reinterpret_cast<const uChar*>("\x12" "ESys.other1.Normal"),
    reinterpret_cast<const uChar*>("\x10" "ESys.other1.High"),
    reinterpret_cast<const uChar*>("\x11" "ESys.other1.VHigh"),
    reinterpret_cast<const uChar*>("\x15" "ESys.other1.TCritical"),
    reinterpret_cast<const uChar*>("\x11" "ESys.other2.Bgrnd"),
    reinterpret_cast<const uChar*>("\x12" "ESys.other2.Normal"),
    reinterpret_cast<const uChar*>("\x10" "ESys.other2.High"),
    reinterpret_cast<const uChar*>("\x11" "ESys.other2.VHigh"),
    reinterpret_cast<const uChar*>("\x15" "ESys.other2.TCritical"),
};

const uChar kStdNParallelKey[] = "\x11" "ESys.StdNParallel";

MgErr PlanThreads(const Bool32* present, const int32* keys, int32 stdN, int32 processors, int32 limit,
                  int32 available, ThreadPlan* plan) {
  processors = std::max(processors, int32(1));
  int32 counts[kExecSlots];
  Bool32 differs = 0;
  for (int32 s = 0; s < kExecSlots; ++s) counts[s] = kSlotDefaults[s].threads;
  for (int32 s = 1; s < kExecSlots; ++s) {
    if (!present[s]) continue;
    if (keys[s] != kSlotDefaults[s].threads) differs = 1;
    // A count below -1 from a hand-edited file means no threads.
    if (stdN == -1) counts[s] = keys[s] < -1 ? 0 : keys[s];
  }
  if (stdN != 0)
    for (int32 s = 1; s < kExecSlots; ++s) {
      int32 p = kSlotDefaults[s].priority;
      if (p >= 2 && counts[s] != 0 && 5 - p > limit) counts[s] = 0;
    }

  // The counts in force; slots that take the processor count are sized last.
  bool perProcessor[kExecSlots] = {};
  int64 explicitSum = 0;
  int32 nPerProcessor = 0;
  counts[0] = 1;
  for (int32 s = 1; s < kExecSlots; ++s) {
    if (stdN == 0) {
      counts[s] = 0;
    } else if (counts[s] == -1) {
      perProcessor[s] = true;
      ++nPerProcessor;
    } else {
      explicitSum += counts[s];
    }
  }
  int64 wanted = explicitSum + int64(nPerProcessor) * processors;
  int32 each = processors;
  int32 fitted = 0;
  if (wanted > 0 && wanted > available) {
    if (explicitSum + nPerProcessor > available) return kMemFullErr;
    each = int32((available - explicitSum) / nPerProcessor);
    fitted = each;
  }
  plan->runRecords = 1;
  plan->contexts = 1;
  for (int32 s = 0; s < kExecSlots; ++s) {
    if (perProcessor[s]) counts[s] = each;
    plan->counts[s] = counts[s];
    if (s > 0 && counts[s] > 0) {
      plan->runRecords += 1;
      plan->contexts += counts[s];
    }
  }
  plan->fitted = fitted;
  plan->differs = differs;
  return kNoErr;
}

}  // namespace qxexec
