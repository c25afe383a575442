// Strings and string arrays of the data zone for the run-time string tests,
// and the run-time table started as the program starts it.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/data_test_util.h"
#include "engine/engine_test_support.h"
#include "mgsource/memory.h"
#include "rtlib/rtregister.h"
#include "rtlib/tokenize.h"
#include "rttable_start.h"

namespace rttest {

inline LStrHandle NewString(const std::string& s) { return dtest::NewLStr(s); }
inline std::string Text(LStrHandle h) { return dtest::Str(h); }

inline void Dispose(LStrHandle& h) {
  if (h) {
    EXPECT_EQ(DSDisposeHandle(reinterpret_cast<UHandle>(h)), kNoErr);
  }
  h = nullptr;
}

// An array of strings as diagrams hold it; null for an empty list unless
// asked for an array of none.
inline LStrArrayHandle NewList(const std::vector<std::string>& items, bool emptyArray = false) {
  if (items.empty() && !emptyArray) return nullptr;
  LStrArrayHandle h = reinterpret_cast<LStrArrayHandle>(DSNewHandle(int32(4 + 4 * items.size())));
  (*h)->dimSize = int32(items.size());
  for (size_t k = 0; k < items.size(); ++k) (*h)->elt[k] = NewString(items[k]);
  return h;
}

inline void DisposeList(LStrArrayHandle& h) {
  if (!h) return;
  for (int32 k = 0; k < (*h)->dimSize; ++k) Dispose((*h)->elt[k]);
  EXPECT_EQ(DSDisposeHandle(reinterpret_cast<UHandle>(h)), kNoErr);
  h = nullptr;
}

inline void DisposeCache(TokenizeCache& c) {
  for (UHandle* h : {&c.operatorOrder, &c.delimiterOrder, &c.firstChars}) {
    if (*h) {
      EXPECT_EQ(DSDisposeHandle(*h), kNoErr);
    }
    *h = nullptr;
  }
  c.firstCodeOperator = 0;
}

// String tests that fail allocations on purpose: the failure is disarmed and
// the pending out-of-memory condition cleared after each test.
class StringTest : public qxtest::EngineTest {
 protected:
  void TearDown() override {
    MemFailNthAllocation(0);
    MemFullReset();
    EngineTest::TearDown();
  }
};

// The run-time table started as the program starts it, once per test
// program.
inline void StartRTTable() {
  const TableStart& start = StartRunTimeTable();
  EXPECT_EQ(start.engine, kNoErr);
  EXPECT_EQ(start.rtlib, kNoErr);
}

}  // namespace rttest
