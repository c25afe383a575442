// Shared set-up of the engine tests: the memory manager started once per
// process, failure reports that let the process go on, debug output on, and
// the reports and debug lines collected for inspection.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "mgsource/config_test_file.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "tests/mgsource/mem_start.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"

namespace qxtest {

class Reports {
 public:
  static Reports& Get() {
    static Reports r;
    return r;
  }
  void Install() {
    std::lock_guard<std::mutex> g(lock_);
    text_.clear();
    PlatSetAlertProc(&Reports::OnAlert);
    PlatSetDebugSink(&Reports::OnDebug);
  }
  void Remove() {
    PlatSetAlertProc(nullptr);
    PlatSetDebugSink(nullptr);
  }
  // Everything shown or written since the test began.
  std::string Text() {
    std::lock_guard<std::mutex> g(lock_);
    return text_;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(lock_);
    text_.clear();
  }
  // The number of times needle occurs in what was shown or written.
  int Count(const std::string& needle) {
    std::string t = Text();
    int n = 0;
    for (size_t p = t.find(needle); p != std::string::npos; p = t.find(needle, p + 1)) ++n;
    return n;
  }

 private:
  static int32_t OnAlert(const char*, const char* text, int32_t buttons, int32_t) {
    Get().Append(text);
    return PlatAlertDefaultAnswer(buttons);
  }
  static void OnDebug(const char* text) { Get().Append(text); }
  void Append(const char* text) {
    std::lock_guard<std::mutex> g(lock_);
    text_ += text ? text : "";
    text_ += '\n';
  }
  std::mutex lock_;
  std::string text_;
};

inline void StartManagers() {
  static std::once_flag once;
  std::call_once(once, [] {
    StartMemoryOnce();
    CfgTestSetValue("debugging", "true");
    DBInitDebug();
  });
}

// Start-up of the run-time function table as the program does it: the
// engine registers its routines once, and registration closes.
bool StartRTTableOnce();
inline void StartRTTable() {
  static std::once_flag once;
  std::call_once(once, [] { StartRTTableOnce(); });
}

// The thread and resource managers, started once for the process whichever
// fixture comes first (starting them again would drop the threads and
// zones earlier tests left running); true when both started.
QX_EXTERN_C MgErr ThInit();
QX_EXTERN_C MgErr RInitResources();
inline bool StartThreadsAndResources() {
  StartManagers();
  static const bool started = ThInit() == kNoErr && RInitResources() == kNoErr;
  return started;
}

// Scales loop counts down under Valgrind.
inline int Scaled(int n) { return std::getenv("QX_UNDER_VALGRIND") ? (n / 20 > 0 ? n / 20 : 1) : n; }

// Failed assertions of the type walkers name their source file.
constexpr const char* kTDFailure = "datatype";

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartManagers();
    DBSetContinueAfterFailure(1);
    Reports::Get().Install();
  }
  void TearDown() override {
    Reports::Get().Remove();
    DBSetContinueAfterFailure(0);
  }
  static int Failures() { return Reports::Get().Count(kTDFailure); }
  static std::string ReportText() { return Reports::Get().Text(); }
  static void ClearReports() { Reports::Get().Clear(); }
};

}  // namespace qxtest
