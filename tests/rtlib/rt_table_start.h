// Start-up of the run-time function table as the program does it, once per
// test binary: the engine and the run-time library register, registration
// closes.
#pragma once
#include <gtest/gtest.h>

#include <mutex>

#include "engine/exec/rttable.h"
#include "rtlib/rtregister.h"

namespace rttest {

inline void StartTable() {
  static std::once_flag once;
  std::call_once(once, [] {
    EXPECT_EQ(QXRTRegisterEngine(), kNoErr);
    EXPECT_EQ(QXRTRegisterRTLib(), kNoErr);
    QXRTCloseRegistration();
  });
}

}  // namespace rttest
