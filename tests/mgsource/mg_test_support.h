// Shared set-up of the manager tests: the memory manager started once per
// process, failure reports that go on instead of ending the process, and the
// alerts they show collected for inspection.
#pragma once
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "platform/qx_alert.h"

namespace qxtest {

inline std::mutex& AlertLock() {
  static std::mutex m;
  return m;
}
inline std::vector<std::string>& Alerts() {
  static std::vector<std::string> v;
  return v;
}
inline int32_t CollectAlert(const char*, const char* text, int32_t buttons, int32_t) {
  std::lock_guard<std::mutex> g(AlertLock());
  Alerts().push_back(text ? text : "");
  return PlatAlertDefaultAnswer(buttons);
}
inline size_t AlertCount() {
  std::lock_guard<std::mutex> g(AlertLock());
  return Alerts().size();
}

inline void StartManagers() {
  static bool started = [] {
    MemInit();
    return true;
  }();
  (void)started;
}

// Reports are collected and the process goes on after them.
class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartManagers();
    {
      std::lock_guard<std::mutex> g(AlertLock());
      Alerts().clear();
    }
    previous_ = PlatSetAlertProc(CollectAlert);
    DBSetContinueAfterFailure(1);
  }
  void TearDown() override {
    PlatSetAlertProc(previous_);
    DBSetContinueAfterFailure(0);
  }
  // The failure reports shown since the test began.
  size_t Reports() const { return AlertCount(); }

 private:
  PlatAlertProc previous_ = nullptr;
};

}  // namespace qxtest
