// The run-time function table started once per test program, as the program
// starts it: the engine and the run-time library register, then registration
// closes.  Every rtlib test that reads the table starts it here, since a
// second registration of the same entries is refused.
#pragma once
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

}  // namespace rttest
