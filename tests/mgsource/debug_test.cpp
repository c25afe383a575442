#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "mgsource/cfgwords.h"
#include "mgsource/counted_strings.h"
#include "platform/qx_debugout.h"

namespace {


std::mutex gOutLock;
std::vector<std::string> gOut;
void Collect(const char* text) {
  std::lock_guard<std::mutex> g(gOutLock);
  gOut.push_back(text);
}
std::vector<std::string> Output() {
  std::lock_guard<std::mutex> g(gOutLock);
  return gOut;
}

// Debug output collected, with "debugging" as the test asks.
class DebugOutput : public ManagerTest {
 protected:
  void Start(bool debugging) {
    if (debugging) CfgTestSetValue("debugging", "true");
    else CfgTestRemoveValue("debugging");
    CfgLoadDefaultWords();  // as a new start-up: the key's default again
    DBInitDebug();
    {
      std::lock_guard<std::mutex> g(gOutLock);
      gOut.clear();
    }
    previousSink_ = PlatSetDebugSink(Collect);
  }
  void TearDown() override {
    PlatSetDebugSink(previousSink_);
    DBExitDebug();
    CfgTestClearValues();
    UseTestDebugSettings();  // the debug mutex again, as the other tests have it
    ManagerTest::TearDown();
  }

 private:
  PlatDebugSink previousSink_ = nullptr;
};


}  // namespace

TEST_F(DebugOutput, OffWritesNothing) {
  Start(false);
  EXPECT_EQ(DBPrintf("hello %ld", 5L), 0);
  EXPECT_EQ(StopHere("x"), 0);
  EXPECT_TRUE(Output().empty());
  CfgTestSetValue("debugging", "false");
  DBInitDebug();
  EXPECT_EQ(DBPrintf("hello"), 0);
  EXPECT_TRUE(Output().empty());
}

TEST_F(DebugOutput, OnCountsLinesAndCutsLongOnes) {
  Start(true);
  int32 base = DBPrintf("value %ld and %p", 42L, "\x03" "abc");
  EXPECT_GE(base, 1);
  std::string longText(600, 'x');
  EXPECT_EQ(DBPrintf("%s", longText.c_str()), base + 1);
  std::vector<std::string> out = Output();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], "value 42 and abc\n");
  EXPECT_EQ(out[1], std::string(511, 'x') + "\n");
  EXPECT_EQ(StopHere("here"), 0);
  EXPECT_EQ(StopHere(nullptr), 0);
  out = Output();
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[2], "StopHere: here\n");
  EXPECT_EQ(out[3], "StopHere: \n");
  EXPECT_EQ(DbgPrintf("ignored %s", "x"), 0);
  EXPECT_EQ(Output().size(), 4u);
}

namespace {
int32 gNestedResult = -1;
void NestingSink(const char* text) {
  Collect(text);
  gNestedResult = DBPrintf("nested");  // from inside the line being written
}
}  // namespace

TEST_F(DebugOutput, NestedCallWritesNothing) {
  Start(true);
  int32 base = DBPrintf("before");
  PlatSetDebugSink(NestingSink);
  EXPECT_EQ(DBPrintf("outer"), base + 1);
  EXPECT_EQ(gNestedResult, base);  // the count so far; nothing written
  std::vector<std::string> out = Output();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1], "outer\n");
  EXPECT_EQ(DBPrintf("second"), base + 2);
  EXPECT_EQ(gNestedResult, base + 1);
  EXPECT_EQ(Output().size(), 3u);
}

TEST_F(DebugOutput, DumpToScreenWritesTheTextAndABreak) {
  Start(false);  // written whatever the debug flag says
  DumpToScreen("plain % text");
  DumpToScreen(nullptr);
  std::vector<std::string> out = Output();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], "plain % text\n");
  EXPECT_EQ(out[1], "\n");
}

TEST_F(DebugOutput, ConcurrentLinesDoNotMix) {
  Start(true);
  int32 base = DBPrintf("first");
  PlatSetDebugSink(Collect);
  {
    std::lock_guard<std::mutex> g(gOutLock);
    gOut.clear();
  }
  const int kThreads = 4;
  const int kLines = std::getenv("QX_UNDER_VALGRIND") ? 50 : 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, kLines] {
      for (int i = 0; i < kLines; ++i) DBPrintf("thread %ld line %ld %s", long(t), long(i), "payload-payload");
    });
  }
  for (auto& th : threads) th.join();
  std::vector<std::string> out = Output();
  ASSERT_EQ(out.size(), size_t(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : out) {
    int t = -1, i = -1;
    char tail[32] = "";
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d %31s", &t, &i, tail), 3) << line;
    ASSERT_EQ(std::string(tail), "payload-payload");
    ASSERT_EQ(line.back(), '\n');
    ASSERT_EQ(i, next[t]++);  // each thread's lines in its own order
  }
  EXPECT_EQ(DBPrintf("last"), base + kThreads * kLines + 1);
}

// ------------------------------------------------------------------ reports

class DebugReports : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    DBSetAlertFormats(nullptr);
    DBSetVersionText(reinterpret_cast<const uChar*>("\x03" "5.1"));
  }
};

TEST_F(DebugReports, NoErrorShowsNothing) {
  EXPECT_EQ(DBMgErr("file.cpp", 10, 0, "fine"), 0);
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(DebugReports, BuiltInFormats) {
  EXPECT_EQ(DBMgErr("mem.cpp", 120, 3, "bad handle"), 1);
  EXPECT_EQ(DBAssert("list.cpp", 77, "count runs past"), 0);
  EXPECT_EQ(DBMgErr(nullptr, 5, 2, nullptr), 1);
  ASSERT_EQ(Reports(), 3u);
  const std::string support = "Please write down the information above and contact technical support.";
  EXPECT_EQ(Alerts()[0], "Error #3: bad handle \"mem.cpp\" line 120\n\n" + support);
  EXPECT_EQ(Alerts()[1], "Failure count runs past: \"list.cpp\" line 77\n\n" + support);
  EXPECT_EQ(Alerts()[2], "Error #2:  \"\" line 5\n\n" + support);
}

TEST_F(DebugReports, InstalledFormatsReplaceTheBuiltInOnes) {
  const char* formats[] = {"E%ld/%s/%s/%ld/v%p", "F%s/%s/%ld/v%p"};
  CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHandle(4));
  (*list)->cnt = 0;
  for (int i = 0; i < 2; ++i) {
    Str255 p;
    CToPStr(formats[i], p);
    ASSERT_EQ(CPStrInsert(list, p, i), kNoErr);
  }
  DBSetAlertFormats(list);
  CPStrSetEmpty(list);  // the formats were taken when installed
  DBMgErr("a.cpp", 1, 7, "missing");
  DBAssert("b.cpp", 2, "broken");
  ASSERT_EQ(Reports(), 2u);
  EXPECT_EQ(Alerts()[0], "E7/missing/a.cpp/1/v5.1");
  EXPECT_EQ(Alerts()[1], "Fbroken/b.cpp/2/v5.1");
  // A list with one string replaces only the error format.
  DBSetAlertFormats(list);
  DBAssert("c.cpp", 3, "x");
  EXPECT_EQ(Alerts()[2].rfind("Failure x: \"c.cpp\" line 3", 0), 0u);
  DBSetAlertFormats(nullptr);
  DBMgErr("d.cpp", 4, 1, "y");
  EXPECT_EQ(Alerts()[3].rfind("Error #1: y \"d.cpp\" line 4", 0), 0u);
  AZDisposeHandle(reinterpret_cast<UHandle>(list));
}

TEST_F(DebugReports, PendingMemoryFullIsAlertedFirst) {
  MemNoteFailure(1234);
  ASSERT_TRUE(MemFullPending(nullptr));
  DBAssert("x.cpp", 9, "after a failed allocation");
  ASSERT_EQ(Reports(), 2u);
  EXPECT_EQ(Alerts()[0], "Not enough memory to complete this operation.");
  EXPECT_EQ(Alerts()[1].rfind("Failure after a failed allocation", 0), 0u);
  EXPECT_FALSE(MemFullPending(nullptr));
}

TEST_F(DebugReports, StopHereFollowsTheAlert) {
  CfgTestSetValue("debugging", "true");
  DBInitDebug();
  PlatDebugSink old = PlatSetDebugSink(Collect);
  DBAssert("s.cpp", 1, "t");
  PlatSetDebugSink(old);
  DBExitDebug();
  CfgTestClearValues();
  UseTestDebugSettings();  // the debug mutex again, as the other tests have it
  std::vector<std::string> out = Output();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "StopHere: From DebugStr\n");
}

namespace {
int32_t HookToStderr(const char*, const char* text, int32_t buttons, int32_t) {
  std::fprintf(stderr, "hook: %s\n", text);
  return PlatAlertDefaultAnswer(buttons);
}
}  // namespace

TEST(DebugReportsDeathTest, FailureEndsTheProcessWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EnsureMemInit();
  EXPECT_EXIT(
      {
        PlatSetAlertProc(HookToStderr);
        DBSetContinueAfterFailure(0);
        DBAssert("somefile.cpp", 42, "broken");
      },
      ::testing::ExitedWithCode(1), "hook: Failure broken: \"somefile.cpp\" line 42");
  EXPECT_EXIT(
      {
        PlatSetAlertProc(HookToStderr);
        DBSetContinueAfterFailure(0);
        DBMgErr("other.cpp", 7, 15, "no resource");
      },
      ::testing::ExitedWithCode(1), "hook: Error #15: no resource \"other.cpp\" line 7");
}

TEST_F(DebugReports, ContinueFlagGoesOn) {
  EXPECT_EQ(DBAssert("f.cpp", 1, "t"), 0);
  EXPECT_EQ(DBMgErr("f.cpp", 2, 6, "t"), 1);
  EXPECT_EQ(Reports(), 2u);
}

TEST(DebugTimer, SetAndGet) {
  static int calls = 0;
  DBTimerProc proc = [] { ++calls; };
  EXPECT_EQ(DBSetTimerProc(proc), 0);
  ASSERT_EQ(DBGetTimerProc(), proc);
  DBGetTimerProc()();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(DBSetTimerProc(nullptr), 0);
  EXPECT_EQ(DBGetTimerProc(), nullptr);
}

TEST(MgErrTexts, Table) {
  EXPECT_STREQ(DBMgErrText(1), "A bad argument was passed to a manager function.");
  EXPECT_STREQ(DBMgErrText(2), "Memory is full.");
  EXPECT_STREQ(DBMgErrText(15), "Resource not found.");
  EXPECT_STREQ(DBMgErrText(30), "Print record is bad.");
  EXPECT_STREQ(DBMgErrText(31), "Print driver error occurred.");
  EXPECT_STREQ(DBMgErrText(44), "Invalid ObjID.");
  EXPECT_STREQ(DBMgErrText(46), "Invalid ObjID.");
  EXPECT_STREQ(DBMgErrText(53), "Capability not supported.");
  EXPECT_STREQ(DBMgErrText(69),
               "OnOccur(oh) was called with an Occurrence Handler which is not bound to a valid Occurrence.");
  EXPECT_STREQ(DBMgErrText(74), "Memory has been corrupted.");
  EXPECT_STREQ(DBMgErrText(76), "CIN compiled with old version of compiler.");
  for (int code : {77, 78, 79, 80, 81, 82, 83, 84, 85, 87, 89}) EXPECT_STREQ(DBMgErrText(code), "") << code;
  EXPECT_NE(std::strlen(DBMgErrText(86)), 0u);
  EXPECT_STREQ(DBMgErrText(88), "Run Time Menu Error.");
  EXPECT_STREQ(DBMgErrText(90), "No error.");
  EXPECT_STREQ(DBMgErrText(0), "");
  EXPECT_STREQ(DBMgErrText(91), "");
  EXPECT_STREQ(DBMgErrText(-1), "");
  for (int code = 1; code <= kMgErrTextCount; ++code) {
    const char* t = DBMgErrText(code);
    if (*t) {
      EXPECT_EQ(t[std::strlen(t) - 1], '.') << code;  // every text is a sentence
    }
  }
}

TEST_F(DebugOutput, LinesAreFormattedInThePrintfDialect) {
  Start(true);
  DBPrintf("%ld|%5ld|%-3d|%x|%c", 7L, 42L, 1, 255u, 'q');
  DBPrintf("%p|%.2p|%5p", "\x03" "abc", "\x03" "abc", "\x02" "xy");
  DBPrintf("%s|%s|%%|%.3f", "text", static_cast<const char*>(nullptr), 1.5);
  DBPrintf("%2$s %1$s\\n", "a", "b");  // a backslash code
  auto out = Output();
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], "7|   42|1  |FF|q\n");
  EXPECT_EQ(out[1], "abc|ab|   xy\n");
  EXPECT_EQ(out[2], "text||%|1.500\n");
  EXPECT_EQ(out[3], "b a\r\n\n");
}

TEST_F(DebugReports, AnInstalledFormatThatFailsFallsBackToTheBuiltInOne) {
  // "%y" is no conversion of the dialect: formatting the report fails an
  // assertion, whose own report uses the built-in format.
  CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHandle(4));
  (*list)->cnt = 0;
  const uChar bad[] = "\x04%y%s";
  ASSERT_EQ(CPStrInsert(list, bad, 0x7fffffff), kNoErr);
  ASSERT_EQ(CPStrInsert(list, bad, 0x7fffffff), kNoErr);
  DBSetAlertFormats(list);
  DBAssert("file.cpp", 12, "broken");
  DBSetAlertFormats(nullptr);
  AZDisposeHandle(reinterpret_cast<UHandle>(list));
  EXPECT_EQ(Reports(), 2u);
}

// ---------------------------------------------------------- lock order

namespace {
std::atomic<int> gQuietAlerts{0};
int32_t CountQuietly(const char*, const char*, int32_t buttons, int32_t) {
  ++gQuietAlerts;
  return PlatAlertDefaultAnswer(buttons);
}
void DropLine(const char*) {}
}  // namespace

// One thread shows the memory-full alert, which prints its text under the
// memory-full mutex; the other formats a cut-off format, whose report looks
// for a pending memory-full condition from inside the formatting.  Neither
// may wait for the other for good: a watchdog ends the process when they do.
TEST(DebugThreads, MemoryFullAlertAndReportsFromFormattingNeverDeadlock) {
  EnsureMemInit();
  UseTestDebugSettings();
  PlatAlertProc oldAlert = PlatSetAlertProc(CountQuietly);
  PlatDebugSink oldSink = PlatSetDebugSink(DropLine);
  gQuietAlerts = 0;
  const int kRounds = Scaled(100000);
  std::atomic<int> finished{0};
  auto done = [&] { ++finished; };
  std::thread alerting([&] {
    for (int i = 0; i < kRounds; ++i) {
      MemNoteFailure(5);
      MemFullAlert(0, 2);
    }
    done();
  });
  std::thread formatting([&] {
    for (int i = 0; i < kRounds; ++i) DBPrintf("%5");
    done();
  });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  while (finished.load() < 2) {
    if (std::chrono::steady_clock::now() > deadline) {
      std::fprintf(stderr, "deadlock: the memory-full alert and a report wait for each other\n");
      std::_Exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  alerting.join();
  formatting.join();
  EXPECT_GE(gQuietAlerts.load(), kRounds) << "every cut-off format was reported";
  MemFullReset();
  PlatSetAlertProc(oldAlert);
  PlatSetDebugSink(oldSink);
}
