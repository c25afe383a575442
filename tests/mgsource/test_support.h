// Helpers shared by the manager tests: start the memory manager once per
// process and capture alerts and debug output.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "config_test_file.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/memory.h"
#include "mgsource/pool.h"
#include "mgsource/thread.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"
#include "tests/colour_maps.h"
#include "tests/live_handles.h"
#include "tests/mgsource/mem_start.h"

// Debug lines are written, and a failure report goes on after its alert
// instead of ending the process, so that tests can look at both.
inline void UseTestDebugSettings() {
  CfgTestSetValue("debugging", "true");
  DBInitDebug();
  DBSetContinueAfterFailure(1);
}

inline void EnsureMemInit() {
  static std::once_flag once;
  std::call_once(once, [] { ASSERT_EQ(qxtest::StartMemoryOnce(), kNoErr); });
  UseTestDebugSettings();
}

// Starts the memory and thread managers once per process.
inline void EnsureManagers() {
  EnsureMemInit();
  static std::once_flag once;
  std::call_once(once, [] { ASSERT_EQ(ThInit(), kNoErr); });
}

// Collects alerts (answered with a scripted button) and debug output while alive.
class Capture {
 public:
  Capture() {
    UseTestDebugSettings();
    std::lock_guard<std::mutex> g(lock_);
    current_ = this;
    prevAlert_ = PlatSetAlertProc(&Capture::OnAlert);
    prevSink_ = PlatSetDebugSink(&Capture::OnDebug);
  }
  ~Capture() {
    PlatSetAlertProc(prevAlert_);
    PlatSetDebugSink(prevSink_);
    std::lock_guard<std::mutex> g(lock_);
    current_ = nullptr;
  }
  // The answer given to the next alerts (0: the default button).
  void Answer(int32_t a) { answer_ = a; }
  std::vector<std::string> Alerts() {
    std::lock_guard<std::mutex> g(lock_);
    return alerts_;
  }
  std::vector<int32_t> AlertButtons() {
    std::lock_guard<std::mutex> g(lock_);
    return buttons_;
  }
  std::string Debug() {
    std::lock_guard<std::mutex> g(lock_);
    return debug_;
  }
  // Counts the reports of invalid handles and failed assertions seen in either channel.
  int Count(const std::string& needle) {
    std::lock_guard<std::mutex> g(lock_);
    int n = 0;
    for (auto& a : alerts_)
      for (size_t p = a.find(needle); p != std::string::npos; p = a.find(needle, p + 1)) ++n;
    for (size_t p = debug_.find(needle); p != std::string::npos; p = debug_.find(needle, p + 1)) ++n;
    return n;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(lock_);
    alerts_.clear();
    buttons_.clear();
    debug_.clear();
  }

 private:
  static int32_t OnAlert(const char*, const char* text, int32_t buttons, int32_t) {
    std::lock_guard<std::mutex> g(lock_);
    if (!current_) return PlatAlertDefaultAnswer(buttons);
    current_->alerts_.push_back(text ? text : "");
    current_->buttons_.push_back(buttons);
    return current_->answer_ ? current_->answer_ : PlatAlertDefaultAnswer(buttons);
  }
  static void OnDebug(const char* text) {
    std::lock_guard<std::mutex> g(lock_);
    if (current_) current_->debug_ += text;
  }
  static inline std::mutex lock_;
  static inline Capture* current_ = nullptr;
  PlatAlertProc prevAlert_;
  PlatDebugSink prevSink_;
  int32_t answer_ = 0;
  std::vector<std::string> alerts_;
  std::vector<int32_t> buttons_;
  std::string debug_;
};

// What the managers hold: the live handles of both zones (master pointers
// in use) and the blocks in use in the default pool, pointers included, less
// the zones' master-pointer blocks, which are never given back.  The pool's
// pages come from the host's mapping calls, which the leak checker cannot
// see, so suites that make and free objects compare these instead.
struct LiveBlocks {
  int32 handles = 0;
  int32 blocks = 0;
  bool operator==(const LiveBlocks&) const = default;
};
inline LiveBlocks CountLiveBlocks() {
  LiveBlocks live;
  int32 masterBlocks = 0;
  for (Bool32 ds : {0, 1}) {
    int32 nBlocks = 0;
    MemZoneCounts(ds, &nBlocks, nullptr);
    masterBlocks += nBlocks;
  }
  live.handles = LiveHandleCount();
  live.blocks = PoolBlockCount(PoolInitDefault()) - masterBlocks;
  return live;
}
inline std::ostream& operator<<(std::ostream& os, const LiveBlocks& l) {
  return os << l.handles << " handles, " << l.blocks << " pool blocks";
}

// A test that must give back every handle and block it makes.
class LeakCheckedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureMemInit();
    before_ = CountLiveBlocks();
  }
  void TearDown() override {
    EXPECT_EQ(CountLiveBlocks(), before_) << "handles or blocks leaked or freed twice";
  }
  // Counts again from here: after a set-up that makes what lives on.
  void ResetLiveBaseline() { before_ = CountLiveBlocks(); }

 private:
  LiveBlocks before_;
};

// A manager test: the memory manager started, reports and debug output
// captured, and every handle and block made given back.
class ManagerTest : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    // An allocation an earlier test made fail stays noted, and the next
    // report would show its alert first.
    MemFullReset();
  }
  // The alerts shown since the test began: failure reports among them.
  std::vector<std::string> Alerts() { return capture_.Alerts(); }
  size_t Reports() { return capture_.Alerts().size(); }

 private:
  Capture capture_;
};

// True when the tests run under Valgrind, which serialises every thread.
inline bool UnderValgrind() { return std::getenv("QX_UNDER_VALGRIND") != nullptr; }

// Scales loop counts down under Valgrind.
inline int Scaled(int n) { return UnderValgrind() ? (n / 20 > 0 ? n / 20 : 1) : n; }

