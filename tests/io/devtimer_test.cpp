// The timer service: its settings, the tick and device threads, the
// countdown register, the user-interface thread's wake-up event, and the
// execution systems running on it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/exec/exec.h"
#include "io/device.h"
#include "io_test_support.h"
#include "mgsource/config.h"
#include "mgsource/config_test_file.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/thread.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "platform/qx_display.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"
#include "platform/qx_uitest.h"

namespace {

std::atomic<int> gTicks{0};
std::atomic<int> gTimerRounds{0};
void CountTick() { gTicks.fetch_add(1); }
void CountTimerRound() { gTimerRounds.fetch_add(1); }

std::atomic<int> gFailures{0};
int32_t CountAlert(const char*, const char*, int32_t buttons, int32_t) {
  gFailures.fetch_add(1);
  return PlatAlertDefaultAnswer(buttons);
}

bool WaitUntil(const std::function<bool()>& cond, int ms) {
  uInt32 end = MilliSecs() + uInt32(ms);
  while (!cond()) {
    if (MillisecCmp(MilliSecs(), end) > 0) return false;
    WSleep(1);
  }
  return true;
}

class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IOTestStartManagers();
    // A memory-full notice an earlier test of the process left pending would
    // come with the next report, which these tests count.
    MemFullReset();
    PlatSetAlertProc(CountAlert);
    DBSetContinueAfterFailure(1);
    gFailures.store(0);
    gTicks.store(0);
    gTimerRounds.store(0);
    for (const char* k : {"CDIntervalTicks", "useAsyncDeviceCalls", "ESys.StdNParallel", "useDefaultTimer"}) CfgTestRemoveValue(k);
  }
  void TearDown() override {
    DevTimerShutdown();
    DevSetTickProc(nullptr);
    DBSetTimerProc(nullptr);
    ExecSetTimerService(nullptr);
    for (const char* k : {"CDIntervalTicks", "useAsyncDeviceCalls", "ESys.StdNParallel", "useDefaultTimer"}) CfgTestRemoveValue(k);
    PlatSetAlertProc(nullptr);
    DBSetContinueAfterFailure(0);
  }
};

TEST_F(TimerTest, IntervalAndAsyncSettings) {
  struct {
    const char* value;
    int32 interval;
  } cases[] = {{nullptr, 55}, {"-3", 55}, {"-1", 55}, {"0", 55}, {"7", 7}, {"200", 200}, {"junk", 55}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "absent");
    if (c.value) CfgTestSetValue("CDIntervalTicks", c.value);
    else CfgTestRemoveValue("CDIntervalTicks");
    ASSERT_EQ(InitDeviceTimers(), kNoErr);
    EXPECT_EQ(DevTickInterval(), c.interval);
    EXPECT_EQ(DevUseAsyncCalls(), 0);
    EXPECT_EQ(DevTimerShutdown(), kNoErr);
  }
  CfgTestSetValue("useAsyncDeviceCalls", "true");
  ASSERT_EQ(InitDeviceTimers(), kNoErr);
  EXPECT_EQ(DevUseAsyncCalls(), 1);
}

TEST_F(TimerTest, EveryTickCountsDownAndCallsTheProcedures) {
  CfgTestSetValue("CDIntervalTicks", "2");
  DevSetTickProc(CountTick);
  DBSetTimerProc(CountTimerRound);
  SetCDReg(5);
  DevSetSecondCountdown(3);
  ASSERT_EQ(InitDeviceTimers(), kNoErr);
  ASSERT_TRUE(WaitUntil([] { return gTicks.load() >= 20; }, 10000));
  // The registers stop at 0 and the two procedures ran on the same rounds.
  EXPECT_EQ(GetCDReg(), 0);
  EXPECT_EQ(DevSecondCountdown(), 0);
  int ticks = gTicks.load(), rounds = gTimerRounds.load();
  EXPECT_LE(std::abs(ticks - rounds), 1);
  SetCDReg(1000000);
  ASSERT_TRUE(WaitUntil([] { return GetCDReg() <= 1000000 - 5; }, 10000));
  EXPECT_GT(GetCDReg(), 0);
  DevTimerShutdown();
  int after = gTicks.load();
  WSleep(20);
  EXPECT_EQ(gTicks.load(), after);
  EXPECT_EQ(gFailures.load(), 0);
}

std::mutex gLinesLock;
std::string gLines;
void KeepLine(const char* text) {
  std::lock_guard<std::mutex> g(gLinesLock);
  gLines += text;
}

TEST_F(TimerTest, TimerPeriodAndAlternateMode) {
  CfgTestSetValue("debugging", "true");
  DBInitDebug();
  PlatDebugSink previous = PlatSetDebugSink(KeepLine);
  struct {
    const char* useDefault;
    int capsErr, beginErr;
    const char* line;
    int32 periods;
  } cases[] = {
      {nullptr, 0, 0, "timer min=1 msec, max=1000000 msec\n", 1},
      {"true", 0, 0, "", 0},
      {nullptr, 5, 0, "Failed to get timer's capabilities, err=5\n", 0},
      {nullptr, 0, 7, "timer min=1 msec, max=1000000 msec\nFailed to set the timer's resolution, err=7\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    if (c.useDefault) CfgTestSetValue("useDefaultTimer", c.useDefault);
    else CfgTestRemoveValue("useDefaultTimer");
    PlatTimerTestFail(c.capsErr, c.beginErr);
    gLines.clear();
    ASSERT_EQ(InitDeviceTimers(), kNoErr);
    EXPECT_EQ(gLines, c.line);
    EXPECT_EQ(PlatTimerTestOpenPeriods(), c.periods);
    DevTimerShutdown();
    EXPECT_EQ(PlatTimerTestOpenPeriods(), 0);
  }
  PlatSetDebugSink(previous);
  CfgTestSetValue("CDIntervalTicks", "20");
  ExecSetAltModeFlag(1);
  ASSERT_EQ(InitDeviceTimers(), kNoErr);
  EXPECT_EQ(DevTickInterval(), 1);
  ExecSetAltModeFlag(0);
}

// While the request word is set the device thread sends the frame window
// 1027 about every millisecond.
TEST_F(TimerTest, RequestWordSendsEngineTimeToTheFrame) {
  static std::atomic<int> sends{0};
  PlatRegisterClass(PlatWindowClass{"TimerFrame",
                                    [](PlatWindow w, uint32_t m, PlatWParam wp, PlatLParam lp) -> PlatResult {
                                      if (m == kWFrameEngineTime) return sends.fetch_add(1), 0;
                                      return PlatDefWindowProc(w, m, wp, lp);
                                    },
                                    0, kPlatNoBrush});
  const PlatWindow frame = PlatCreateWindow("TimerFrame", "frame", 0, 0, PlatRect{0, 0, 10, 10}, 0);
  PlatSetFrameWindow(frame);
  PlatWindow got = 0;
  EXPECT_EQ(GetQXAppWindHandle(&got), 1026);
  EXPECT_EQ(got, frame);
  ASSERT_EQ(InitDeviceTimers(), kNoErr);
  // Pumps until cond holds or ms have passed.
  auto pump = [](const std::function<bool()>& cond, uint32_t ms) {
    const uint32_t end = PlatTickMs() + ms;
    PlatMsg m;
    while (!cond() && int32_t(PlatTickMs() - end) < 0) {
      while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) PlatDispatchMessage(&m);
      PlatSleepMs(1);
    }
  };
  DevSetModalPump(1);
  const uint32_t start = PlatTickMs();
  pump([] { return sends.load() >= 20; }, 5000);
  EXPECT_GE(sends.load(), 20);
  if (!std::getenv("QX_UNDER_VALGRIND")) { EXPECT_LT(PlatTickMs() - start, 1000u) << "about one a millisecond"; }
  DevSetModalPump(0);
  pump([] { return false; }, 5);
  const int after = sends.load();
  pump([] { return false; }, 30);
  EXPECT_LE(sends.load() - after, 1);
  DevTimerShutdown();
  PlatDestroyWindow(frame);
  PlatSetFrameWindow(0);
}

TEST_F(TimerTest, ShutDownStopsBothThreads) {
  int32 freeBefore = ThFreeThreadSlots();
  EXPECT_EQ(DevTimerShutdown(), kNoErr);  // not started: nothing to do
  ASSERT_EQ(InitDeviceTimers(), kNoErr);
  EXPECT_NE(DevTestTickThread(), nullptr);
  EXPECT_NE(DevTestDeviceThread(), nullptr);
  EXPECT_NE(DevWakeUpEvent(), nullptr);
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore - 2);
  EXPECT_EQ(DevTimerShutdown(), kNoErr);
  EXPECT_EQ(DevTestTickThread(), nullptr);
  EXPECT_EQ(DevTestDeviceThread(), nullptr);
  EXPECT_EQ(DevWakeUpEvent(), nullptr);
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore);
  // Started twice is reported and changes nothing.
  ASSERT_EQ(InitDeviceTimers(), kNoErr);
  EXPECT_EQ(InitDeviceTimers(), kNoErr);
  EXPECT_EQ(gFailures.load(), 1);
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore - 2);
}

TEST_F(TimerTest, AFailedStartLeavesNothing) {
  int32 freeBefore = ThFreeThreadSlots();
  MemStatsRecord az{};
  AZMemStats(&az);
  for (int nth : {1, 2}) {
    ThSetTestCreateFailure(nth);
    EXPECT_EQ(InitDeviceTimers(), kMemFullErr);
    ThSetTestCreateFailure(0);
    EXPECT_EQ(DevWakeUpEvent(), nullptr);
    EXPECT_EQ(ThFreeThreadSlots(), freeBefore);
  }
  MemStatsRecord after{};
  AZMemStats(&after);
  EXPECT_EQ(after.allocTotal, az.allocTotal);
}

TEST_F(TimerTest, InterruptSafeOccurWakesTheUserInterface) {
  Occurrence occ = AllocOccur();
  ASSERT_NE(occ, 0u);
  ASSERT_EQ(InitDeviceTimers(), kNoErr);
  ThEvent wake = DevWakeUpEvent();
  ASSERT_NE(wake, nullptr);
  // Input posted to this thread by earlier tests of the process (socket
  // messages to their frame windows) may still be signalled: it goes first.
  int32 first;
  while ((first = ThEventWaitPumping(wake, 0)) == kThWaitInput) {
  }
  EXPECT_EQ(first, kThWaitTimeout);
  std::thread other([&] { EXPECT_EQ(InterruptSafeOccur(occ), kNoErr); });
  EXPECT_EQ(ThEventWaitPumping(wake, 5000), kThWaitEvent);
  other.join();
  ChkOccurrences();
  DevTimerShutdown();
  // Without the service it wakes nobody, and nothing breaks.
  EXPECT_EQ(InterruptSafeOccur(occ), kNoErr);
  ChkOccurrences();
  DeallocOccur(occ);
}

// While the host's sizing loop runs, the device thread's engine-time sends
// give the engine its slices; the pump's end answers what is pending.
TEST_F(TimerTest, ModalPumpThreadsGiveTheEngineSlicesInTheSizingLoop) {
  PlatWindowsReset();
  PlatRegisterClass(PlatWindowClass{"QXDChild", &QXDChildWinProc, 0, kPlatNoBrush});
  PlatRegisterClass(PlatWindowClass{"QXFrame", &QXFrameProc, 0, kPlatNoBrush});
  PlatSetFrameWindow(PlatCreateWindow("QXFrame", "frame", 0, 0, PlatRect{-10000, -10000, -9990, -9990}, 0));
  ASSERT_EQ(WEventQueueInit(1), kNoErr);
  WEventSetGate(1);
  static std::atomic<int> slices{0};
  WMainLoopHooks hooks{};
  hooks.background = [](Bool32) -> int32 {
    slices.fetch_add(1);
    return 1;
  };
  hooks.modalPump = &DevSetModalPump;
  WSetMainLoopHooks(hooks);
  ASSERT_EQ(InitDeviceTimers(), kNoErr);
  WGiveEngineSlice(0);  // the engine wants time
  const Rect r{100, 100, 200, 300};
  const WindowRef w = WCreate(0x1C, nullptr, nullptr, &r, 0, 1, 0);
  ASSERT_NE(w, kWNoWindow);
  PlatUiPump();
  slices.store(0);
  const int32_t x = 298, y = 198;  // in the size box
  const uint32_t t = PlatTickMs();
  PlatInjectMouseButton(kPlatButtonLeft, true, x, y, t);
  // Released once the loop has given a few slices (or after 5 s), so that a
  // loaded machine does not cut the loop short.
  std::thread release([=] {
    for (int waited = 0; slices.load() <= 5 && waited < 5000; waited += 5) PlatSleepMs(5);
    PlatInjectMouseButton(kPlatButtonLeft, false, x + 10, y + 10, t + 50);
  });
  PlatUiPump();  // the sizing loop, until the release
  release.join();
  EXPECT_GT(slices.load(), 5);
  EXPECT_FALSE(WModalPumpOn());
  const int after = slices.load();
  PlatSleepMs(20);
  PlatUiPump();
  EXPECT_LE(slices.load() - after, 1) << "no engine time once the pump is off";
  DevTimerShutdown();
  WResetMainLoopHooks();
  WDestroyAllWindows();
  PlatWindowsReset();
}

TEST_F(TimerTest, ContextCountdowns) {
  ExecCountdown own{0};
  ExecCountdown* cd = nullptr;
  int32 second = 0;
  InitContextCountdown(&cd, &second, &own, 1);
  EXPECT_EQ(cd, DevCountdownRegister());
  EXPECT_NE(second, 0);  // the data segment selector
  InitContextCountdown(&cd, &second, &own, 0);
  EXPECT_EQ(cd, &own);
  SetCDReg(9);
  EXPECT_EQ(DevCountdownRegister()->load(), 9);
  EXPECT_EQ(GetCDReg(), 9);
}

// The execution systems started on the service: the tick procedure runs
// the contexts' countdowns down, and shut-down stops the service.
TEST_F(TimerTest, ExecutionSystemsRunOnTheService) {
  CfgTestSetValue("CDIntervalTicks", "2");
  CfgTestSetValue("ESys.StdNParallel", "-1");
  ThSetTestProcessorCount(1);
  int32 freeBefore = ThFreeThreadSlots();
  DevInstallTimerService();
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_EQ(ExecTimeSlice(), 2);
  EXPECT_NE(DevTestTickThread(), nullptr);
  EXPECT_EQ(ExecRunRecordAt(0)->event, DevWakeUpEvent());
  ExecContext* ui = ExecContextAt(0);
  EXPECT_EQ(ui->countdown, &ui->ownCountdown);
  ui->countdown->store(5);
  EXPECT_TRUE(WaitUntil([ui] { return ui->countdown->load() == 0; }, 10000));
  FinishExec();
  EXPECT_EQ(DevTestTickThread(), nullptr);
  EXPECT_EQ(DevWakeUpEvent(), nullptr);
  EXPECT_EQ(ThFreeThreadSlots(), freeBefore);

  // Without threads the user-interface context polls the register itself.
  CfgTestSetValue("ESys.StdNParallel", "0");
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_EQ(ExecContextAt(0)->countdown, DevCountdownRegister());
  FinishExec();
  ThSetTestProcessorCount(0);
  EXPECT_EQ(gFailures.load(), 0);
}

}  // namespace
