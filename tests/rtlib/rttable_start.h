// The run-time function table started once per test program, as the program
// starts it: the engine and the run-time library register, then registration
// closes.  Every rtlib test that reads the table starts it here, since a
// second registration of the same entries is refused.
#pragma once
#include <gtest/gtest.h>

#include "engine/exec/rttable.h"
#include "rtlib/rtregister.h"

namespace rttest {

struct TableStart {
  MgErr engine;
  MgErr rtlib;
};

inline const TableStart& StartRunTimeTable() {
  static const TableStart start = [] {
    TableStart s;
    s.engine = QXRTRegisterEngine();
    s.rtlib = QXRTRegisterRTLib();
    QXRTCloseRegistration();
    return s;
  }();
  return start;
}

// A table routine from a function of any signature, and an address as the
// 32-bit word compiled code passes.
template <class F>
QXRTRoutine Routine(F* f) {
  return reinterpret_cast<QXRTRoutine>(f);
}
inline uInt32 Word(const void* p) { return reinterpret_cast<uInt32>(p); }

// A fixture whose tests run against the started table.
template <class Base>
class StartedTable : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    const TableStart& start = StartRunTimeTable();
    ASSERT_EQ(start.engine, kNoErr);
    ASSERT_EQ(start.rtlib, kNoErr);
  }
};

}  // namespace rttest
