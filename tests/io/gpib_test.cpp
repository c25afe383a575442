// The GPIB driver binding and library: loading and its refusals, the status
// copies per call and per thread, and the device-file reader.
#include <dlfcn.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "gpib_test_support.h"
#include "platform/qx_dynlib.h"
#include "temp_folder.h"

using namespace gpibtest;

namespace {

bool Loaded(const char* path) {
  void* h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

class GPIBBinding : public ::testing::Test {
 protected:
  void SetUp() override { BindAndReset(); }
  void TearDown() override {
    GPIBUnbindForTest();
    GPIBSetLibraryForTest(QX_GPIB_LIB);
  }
};

TEST_F(GPIBBinding, RefusedLibrariesFailEveryCallAndAreRetried) {
  GPIBUnbindForTest();
  struct Step {
    const char* library;
    bool works;
    uInt32 count;        // ibcnt and ibcntl after a refusal
    bool stillLoaded;    // the library's file after the call
  } steps[] = {
      {"/nonexistent/libqxgpib.so", false, kPlatErrModNotFound, false},
      {QX_GPIB_FOREIGN_LIB, false, kPlatErrModNotFound, false},
      {QX_GPIB_NOCNTL_LIB, false, kPlatErrProcNotFound, false},
      {QX_GPIB_YEAR_LIB, true, 0, true},  // bound now: stays
      {QX_GPIB_LIB, true, 0, false},      // not loaded by this step: the bound one serves
  };
  int row = 0;
  for (const Step& s : steps) {
    // The real library stays once loaded (its worker thread runs its code).
    bool before = std::strcmp(s.library, QX_GPIB_LIB) == 0 && Loaded(s.library);
    GPIBSetLibraryForTest(s.library);
    ibcnt.store(77);
    int32 sta = ibwait(0, 0);
    EXPECT_EQ(sta & kGpibERR, s.works ? 0 : kGpibERR) << row;
    EXPECT_EQ(int32(ibsta.load()), sta) << row;
    if (!s.works) {
      EXPECT_EQ(iberr.load(), 0u) << row;
      EXPECT_EQ(ibcnt.load(), s.count) << row;
      EXPECT_EQ(ibcntl.load(), s.count) << row;
      EXPECT_EQ(ThreadIberr(), kGPIBNoThreadStatus) << row;
    } else {
      EXPECT_EQ(ThreadIbsta(), sta) << row;
    }
    EXPECT_EQ(Loaded(s.library), s.stillLoaded || before) << row;
    ++row;
  }
}

TEST_F(GPIBBinding, CallsCopyTheStatusAndAMissingRoutineIsNeverCalled) {
  int32 board = ibfindA("gpib3");
  ASSERT_EQ(board, 3);
  struct Case {
    int32 (*call)();
    uInt32 sta, err, cnt;
  } cases[] = {
      {[] { return ibpad(3, 9); }, kGpibCMPL, 0, 0},  // the previous address is the error word
      {[] { return ibpad(3, 4); }, kGpibCMPL, 9, 0},
      {[] { return ibpad(3, 31); }, kGpibERR, kGpibErrArgument, 0},
      {[] { return ibtmo(1999, 3); }, kGpibERR, kGpibErrArgument, 0},
      {[] { return ibtmo(3, 7); }, kGpibCMPL, 13, 0},
      {[] { return ibwait(3, kGpibTIMO | kGpibSRQI); }, kGpibTIMO | kGpibCMPL, 0, 0},  // 10 ms, no request
      // Not in the library of another year: ERR, error 0, the missing entry's
      // code, no call.
      {[] { return ibrd(3, nullptr, 5); }, kGpibERR, 0, kPlatErrProcNotFound},
      {[] { return Receive(0, 1, nullptr, 5, 10); }, kGpibERR, 0, kPlatErrProcNotFound},
  };
  Calls();
  int row = 0;
  std::vector<std::string> log;
  for (const Case& c : cases) {
    if (row == 6) {
      log = Calls(true);
      GPIBUnbindForTest();
      GPIBSetLibraryForTest(QX_GPIB_YEAR_LIB);
    }
    EXPECT_EQ(uInt32(c.call()), c.sta) << row;
    EXPECT_EQ(ibsta.load(), c.sta) << row;
    EXPECT_EQ(iberr.load(), c.err) << row;
    EXPECT_EQ(ibcnt.load(), c.cnt) << row;
    EXPECT_EQ(ibcntl.load(), c.cnt) << row;
    ++row;
  }
  EXPECT_EQ(log, (std::vector<std::string>{"ibpad(3,9) 0100", "ibpad(3,4) 0100", "ibpad(3,31) 8000",
                                                   "ibtmo(1999,3) 8000", "ibtmo(3,7) 0100",
                                                   "ibwait(3,20480) 4100"}));
}

TEST_F(GPIBBinding, ThreadsKeepTheirOwnStatusWhileTheSharedCopyChanges) {
  Control()(kQXGPIBLogOff, nullptr, nullptr, 0);
  const int rounds = std::getenv("QX_UNDER_VALGRIND") ? 200 : 5000;
  std::atomic<int> wrong{0};
  auto run = [&](int board, int pad) {
    ibfindA(("gpib" + std::to_string(board)).c_str());
    ibpad(board, pad);
    for (int i = 0; i < rounds; ++i) {
      ibpad(board, pad);  // leaves the previous address, pad, as the error
      if (ThreadIberr() != pad || ThreadIbsta() != kGpibCMPL) wrong.fetch_add(1);
    }
  };
  std::thread a(run, 1, 5), b(run, 2, 7);
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_TRUE(iberr.load() == 5 || iberr.load() == 7);
}

TEST_F(GPIBBinding, DeviceFileLinesAreCheckedWhole) {
  struct Case {
    const char* line;
    const char* why;  // null: accepted
  } cases[] = {
      {"  # a comment", nullptr},
      {"board 999 controller=0 async=1", nullptr},
      {"device 0:30+30 idn=\"A\\x41\\r\\n\\\"\\\\\" eos=crlf delay=1000000 poll=255 listen=0 fail=timeout vxi=0aFF",
       nullptr},
      {"device 2:5 srq-after=\"*TRG\" # trailing", nullptr},
      {"answer 2:5 \"MEAS?\" \"1.5\"", nullptr},
      {"board 1000", "board out of range"},
      {"board 1 speed=3", "unknown key speed"},
      {"board 1 controller=2", "controller out of range"},
      {"device 0:31", "primary address out of range"},
      {"device 0:1+31", "secondary address out of range"},
      {"device 0:1 delay=99999999999", "delay out of range"},
      {"device 0:1 poll=256", "poll out of range"},
      {"device 0:1 idn=\"open", "unterminated quote"},
      {"device 0:1 idn=\"a\\q\"", "unknown escape"},
      {"device 0:1 idn=\"\\x4\"", "bad \\x escape"},
      {"device 0:1 eos=tab", "bad value of eos"},
      {"device 0:1 vxi=0a1", "bad vxi bytes"},
      {"device 0:1 idn=\"a\"b", "unexpected character"},
      {"device 0-1", "':' expected in address"},
      {"answer 2:5 \"q\"", "quoted text expected"},
      {"answer 2:5 \"q\" \"r\" x", "text after the reply"},
      {"answer 3:5 \"q\" \"r\"", "answer for a device not on the bus"},
      {"devices 0:1", "unknown word devices"},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(Apply(c.line, &why), c.why ? -1 : 0) << c.line;
    EXPECT_EQ(why, c.why ? c.why : "") << c.line;
  }
  std::string longLine = "board 1 " + std::string(4090, ' ');
  std::string why;
  EXPECT_EQ(Apply(longLine.c_str(), &why), -1);
  EXPECT_EQ(why, "line too long");
}

TEST_F(GPIBBinding, TheDeviceFileSkipsBadLinesWithTheirNumbers) {
  TempFolder dir("qxgpib");
  std::string path = dir.Dir() + "/bus.conf";
  std::ofstream(path) << "# bus\nboard 4 controller=0\nboard 5 bogus=1\r\nboard 6 controller=0\nboard 7 controller=";
  setenv(kQXInstrConfigVar, path.c_str(), 1);
  testing::internal::CaptureStderr();
  Control()(kQXGPIBReset, nullptr, nullptr, 0);
  std::string err = testing::internal::GetCapturedStderr();
  unsetenv(kQXInstrConfigVar);
  EXPECT_EQ(err,
            "libqxgpib: device file line 3: unknown key bogus\n"
            "libqxgpib: device file line 5: number expected for controller\n");
  // ibrsc leaves whether the board was system controller.
  for (int board : {4, 5, 6, 7}) {
    ibrsc(board, 1);
    EXPECT_EQ(ThreadIberr(), board == 4 || board == 6 ? 0 : 1) << board;
  }
  Control()(kQXGPIBReset, nullptr, nullptr, 0);
}

}  // namespace
