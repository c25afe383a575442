// The GPIB tests bind the driver library built beside them and watch it
// through its test control entry: a reset bus, and the log of the calls it
// was given.
#pragma once
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "io/gpib.h"
#include "io/io_test_support.h"

namespace gpibtest {

inline QXGPIBTestControlProc Control() {
  return reinterpret_cast<QXGPIBTestControlProc>(GetGPIBEntry(kQXGPIBTestControlExport));
}

// The calls since the last look, without their status ("ibpad(0,5)").
inline std::vector<std::string> Calls(bool withStatus = false) {
  std::vector<char> buf(1 << 16);
  Control()(kQXGPIBTakeLog, nullptr, buf.data(), int32_t(buf.size()));
  std::vector<std::string> lines;
  std::istringstream in(buf.data());
  for (std::string line; std::getline(in, line);) {
    lines.push_back(withStatus ? line : line.substr(0, line.rfind(' ')));
  }
  return lines;
}

// The real library bound, its bus reset and its calls logged.
inline void BindAndReset() {
  IOTestStartManagers();
  GPIBUnbindForTest();
  GPIBSetLibraryForTest(QX_GPIB_LIB);
  ASSERT_NE(Control(), nullptr);
  Control()(kQXGPIBReset, nullptr, nullptr, 0);
  Control()(kQXGPIBLogOn, nullptr, nullptr, 0);
}

inline int32_t Apply(const char* line, std::string* why = nullptr) {
  char out[256];
  int32_t r = Control()(kQXGPIBApplyLine, line, out, sizeof out);
  if (why) *why = out;
  return r;
}

}  // namespace gpibtest
