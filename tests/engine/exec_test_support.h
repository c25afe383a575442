// Shared set-up of the execution-system tests: the thread and occurrence
// managers started once, the execution keys of the configuration cleared
// around each test, and data spaces and queue elements made for the queues.
#pragma once
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "engine/exec/exec.h"
#include "engine/exec/exectimer.h"
#include "engine_test_support.h"
#include "mgsource/config.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/thread.h"

namespace qxexectest {

// The names of the per-slot keys, in slot order from slot 1.
inline const std::vector<std::string>& SlotKeyNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (const char* sys : {"ESys.", "ESys.instrument.", "ESys.DAQ.", "ESys.other1.", "ESys.other2."})
      for (const char* pri : {"Bgrnd", "Normal", "High", "VHigh", "TCritical"}) v.push_back(std::string(sys) + pri);
    return v;
  }();
  return names;
}

inline void ClearExecKeys() {
  CfgTestRemoveValue("ESys.StdNParallel");
  for (const std::string& k : SlotKeyNames()) CfgTestRemoveValue(k.c_str());
  for (const char* k : {"resettingDlgDelay", "useOldData", "useOldDataOnArrays"}) CfgTestRemoveValue(k);
}

inline void SetKey(const std::string& key, int value) { CfgTestSetValue(key.c_str(), std::to_string(value).c_str()); }

// Only the slots given get threads ("ESys.StdNParallel" -1, every other per-slot key 0).
inline void OnlySlots(const std::vector<std::pair<int, int>>& slotCounts) {
  SetKey("ESys.StdNParallel", -1);
  for (int s = 1; s <= 25; ++s) {
    int count = 0;
    for (auto& sc : slotCounts)
      if (sc.first == s) count = sc.second;
    SetKey(SlotKeyNames()[s - 1], count);
  }
}

// The allocated totals of both zones.
inline std::pair<int32, int32> ZoneTotals() {
  MemStatsRecord az{}, ds{};
  AZMemStats(&az);
  DSMemStats(&ds);
  return {az.allocTotal, ds.allocTotal};
}

// A data space header of its own, routed by priority alone unless told.
class TestDataSpace {
 public:
  explicit TestDataSpace(int priority = kPriNormal, int system = kESysSameAsCaller, int slot = 0) {
    h_ = reinterpret_cast<DataSpace>(DSNewHClr(kDataSpaceHeaderSize));
    DataSpaceHeader* p = *h_;
    p->signature = kDataSpaceSig;
    p->self = h_;
    p->selfPtr = p;
    p->effPriority = int16(priority);
    p->basePriority = int16(priority);
    p->priority = uInt16(priority);
    p->execSystem = system;
    p->slot = slot;
    p->entrance.signature = kVIEntranceSig;
    p->entrance.ownElement.signature = kQueueElementSig;
    p->entrance.ownElement.dataSpace = h_;
  }
  ~TestDataSpace() { DSDisposeHandle(reinterpret_cast<UHandle>(h_)); }
  TestDataSpace(const TestDataSpace&) = delete;
  TestDataSpace& operator=(const TestDataSpace&) = delete;
  DataSpace handle() const { return h_; }
  DataSpaceHeader* operator->() const { return *h_; }

 private:
  DataSpace h_;
};

inline QueueElement NewElement(DataSpace ds) {
  QueueElement e{};
  e.signature = kQueueElementSig;
  e.dataSpace = ds;
  return e;
}

// Failure reports that name the run-queue or execution-system sources.
inline int ExecFailures() {
  return qxtest::Reports::Get().Count("execqueue") + qxtest::Reports::Get().Count("execsys");
}

inline void StartThreadManagers() {
  qxtest::StartThreadsAndResources();
  static std::once_flag once;
  std::call_once(once, [] { OccurInit(); });
}

class ExecTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    qxtest::EngineTest::SetUp();
    StartThreadManagers();
    ClearExecKeys();
    ThSetTestProcessorCount(2);
    ExecSetTimerService(nullptr);
    ExecSetTestRunProc(nullptr);
  }
  void TearDown() override {
    if (ExecInitialised()) FinishExec();
    ExecSetTestRunProc(nullptr);
    ExecSetTimerService(nullptr);
    ExecSetAbortInProgress(0);
    ThSetTestProcessorCount(0);
    ThSetTestCreateFailure(0);
    ClearExecKeys();
    qxtest::EngineTest::TearDown();
  }
};

}  // namespace qxexectest
