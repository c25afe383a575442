// Device drivers: opening from driver files, synchronous and asynchronous
// requests, the frame window's prods, aborts and closes, under threads.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/device.h"
#include "io_test_support.h"
#include "mgsource/appdirs.h"
#include "mgsource/byteorder.h"
#include "mgsource/config_test_file.h"
#include "mgsource/extload.h"
#include "mgsource/fourcc.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/winproc.h"
#include "platform/qx_display.h"
#include "platform/qx_drives.h"
#include "platform/qx_debugout.h"
#include "platform/qx_dynlib.h"
#include "temp_folder.h"
#include "tools/rsrcwriter.h"

namespace {

namespace fs = std::filesystem;

std::string gLibDir, gTempDir;
std::string SysText(const std::string& host) {
  std::string text;
  EXPECT_TRUE(PlatHostToSysText(host.c_str(), &text));
  return text;
}
MgErr FolderPath(const std::string& host, Path p) {
  std::string text = SysText(host);
  return FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p);
}
MgErr TempDir(Path p) { return FolderPath(gTempDir, p); }

std::mutex gLinesLock;
std::string gLines;
void KeepLine(const char* text) {
  std::lock_guard<std::mutex> g(gLinesLock);
  gLines += text;
}

std::atomic<int> gFired{0};
int32 CountFired(void*) { return gFired.fetch_add(1); }

enum { kOpens, kIOs, kPeriodics, kCloses };

uInt32 GetLE32(const uChar* p) { return uInt32(p[0] | p[1] << 8 | p[2] << 16) | uInt32(p[3]) << 24; }
uInt16 GetLE16(const uChar* p) { return uInt16(p[0] | p[1] << 8); }

struct PStrName {
  uChar s[256];
  explicit PStrName(const std::string& t) {
    s[0] = uChar(t.size());
    std::memcpy(s + 1, t.data(), t.size());
  }
};

class Device : public ::testing::Test {
 protected:
  void SetUp() override {
    IOTestStartManagers();
    ASSERT_EQ(RInitResources(), kNoErr);
    PlatRegisterClass(PlatWindowClass{"DevFrame", &QXFrameProc, 0, kPlatNoBrush});
    frame_ = PlatCreateWindow("DevFrame", "frame", 0, 0, PlatRect{0, 0, 10, 10}, 0);
    PlatSetFrameWindow(frame_);
    DevInstallDriverHooks();
    gLibDir = lib_.Dir();
    gTempDir = temp_.Dir();
    DisposeAppFolderPaths();
    CfgTestSetValue("libdir", SysText(gLibDir).c_str());
    ASSERT_EQ(InitAppDirs(), kNoErr);
    ExtCodeSetTempDirPathHook(TempDir);
    for (const char* v : {"QXDRV_PRODS", "QXDRV_FAIL", "QXDRV_HEADER"}) unsetenv(v);
    CfgTestSetValue("debugging", "true");
    DBInitDebug();
    previous_ = PlatSetDebugSink(KeepLine);
    gLines.clear();
    gFired.store(0);
    ASSERT_EQ(InitDeviceTable(), kNoErr);
    WriteDriver("meter", FourCC("QXSB"), "meter");
  }
  void TearDown() override {
    CloseAllDevices();
    DevTimerShutdown();
    PlatSetDebugSink(previous_);
    DBInitDebug();
    CfgTestRemoveValue("useAsyncDeviceCalls");
    ExtCodeSetTempDirPathHook(nullptr);
    DisposeAppFolderPaths();
    CfgTestRemoveValue("libdir");
    for (const char* v : {"QXDRV_PRODS", "QXDRV_FAIL", "QXDRV_HEADER"}) unsetenv(v);
    PlatDestroyWindow(frame_);
    EXPECT_EQ(QxsbFiles(), 0) << "a driver library was left loaded";
  }
  void WriteDriver(const std::string& file, uInt32 type, const std::string& rsrcName) {
    rsrcw::Writer w(type, FourCC("QXLV"));
    w.Add(FourCC("QXSB"), 1, rsrcw::ReadHostFile(QX_TEST_DRIVER_LIB), rsrcName);
    ASSERT_TRUE(rsrcw::WriteHostFile(gLibDir + "/" + file, w.Write()));
  }
  int QxsbFiles() {
    int n = 0;
    for (const auto& e : fs::directory_iterator(gTempDir)) n += e.path().filename().string().rfind("qxsb", 0) == 0;
    return n;
  }
  static int Count(DevHandle d, int which) {
    std::string message;
    auto lib = reinterpret_cast<void*>(uintptr_t(GetNative32((*d)->driver + 28)));
    auto fn = reinterpret_cast<int (*)(int)>(PlatLibFind(lib, "TestDrvCount", &message));
    return fn ? fn(which) : -1;
  }
  DevHandle Open(const char* name, int32 unit) {
    MgErr err = -1;
    DevHandle d = DevOpen(PStrName(name).s, unit, &err);
    EXPECT_EQ(err, d ? kNoErr : kDevNotFoundErr);
    return d;
  }
  // Delivers the frame's messages and runs occurrence handlers until cond holds.
  bool Pump(const std::function<bool()>& cond) { return iotest::Pump(cond, 5000); }
  void StartAsync() {
    CfgTestSetValue("useAsyncDeviceCalls", "true");
    ASSERT_EQ(InitDeviceTimers(), kNoErr);
  }

  TempFolder lib_{"qxdrvlib"}, temp_{"qxdrvtmp"};
  PlatWindow frame_ = 0;
  PlatDebugSink previous_ = nullptr;
};

TEST_F(Device, OpeningSharesTheDriverBlockPerName) {
  DevHandle a = Open("meter", 1);
  ASSERT_NE(a, nullptr) << gLines;
  EXPECT_EQ(Open("METER", 1), a);
  EXPECT_EQ(Count(a, kOpens), 1);
  DevHandle b = Open("meter", 2);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(b, a);
  EXPECT_EQ((*b)->driver, (*a)->driver);
  EXPECT_EQ(GetNative32((*a)->driver + kDrvUseCountAt), 2u);
  EXPECT_EQ(Count(a, kOpens), 2);
  EXPECT_EQ(DeviceForNotifyId(0x102), b);
  EXPECT_EQ(DeviceForNotifyId(0x103), nullptr);
  EXPECT_NE(gLines.find("BinSearch of handle"), std::string::npos);
  UPtr block = (*a)->driver;
  EXPECT_EQ(DevClose(a), kNoErr);
  EXPECT_NE(ExtCodeBlockExtent(block, nullptr), 0);
  EXPECT_EQ(DevClose(b), kNoErr);
  EXPECT_EQ(ExtCodeBlockExtent(block, nullptr), 0);  // unloaded at the last close
  EXPECT_EQ(DevClose(b), kDevRefNumErr);
}

TEST_F(Device, DriversThatCannotBeOpenedAreNotFound) {
  WriteDriver("wrongtype", FourCC("TEXT"), "wrongtype");
  WriteDriver("norsrc", FourCC("QXSB"), "other");
  struct {
    const char* name;
    const char* env;
    const char* value;
    const char* line;
  } cases[] = {
      {"absent", nullptr, nullptr, "ROpenFile failed in LoadDRVR"},
      {"wrongtype", nullptr, nullptr, "file type mismatch in LoadDRVR"},
      {"norsrc", nullptr, nullptr, "resource not found in LoadDRVR"},
      {"meter", "QXDRV_HEADER", "badmagic", "magic ID mismatch in LoadDRVR"},
      {"meter", "QXDRV_HEADER", "nulltable", ""},
      {"meter", "QXDRV_FAIL", "open", ""},
      {"../meter", nullptr, nullptr, ""},
      {"..", nullptr, nullptr, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + (c.value ? c.value : ""));
    if (c.env) setenv(c.env, c.value, 1);
    gLines.clear();
    EXPECT_EQ(Open(c.name, 1), nullptr);
    EXPECT_NE(gLines.find(c.line), std::string::npos);
    EXPECT_EQ(QxsbFiles(), 0);
    EXPECT_EQ(DevTestOpenCount(), 0);
    if (c.env) unsetenv(c.env);
  }
}

TEST_F(Device, SynchronousRequestsAndBadArguments) {
  DevHandle d = Open("meter", 7);
  ASSERT_NE(d, nullptr);
  setenv("QXDRV_PRODS", "3", 1);
  struct {
    bool readWrite, flag;
    uInt32 selector;
  } cases[] = {{true, true, 3}, {true, false, 2}, {false, true, 4}, {false, false, 5}};
  for (const auto& c : cases) {
    uChar pb[kDevPBSize];
    std::memset(pb, 0xEE, sizeof pb);
    const int prods = Count(d, kPeriodics);
    // Asked asynchronously, but "useAsyncDeviceCalls" is off.
    MgErr r = c.readWrite ? DevWrtRd(d, pb, c.flag, 1, 0) : DevCtrlStat(d, pb, c.flag, 1, 0);
    EXPECT_EQ(r, kNoErr);
    EXPECT_GE(Count(d, kPeriodics) - prods, 3);
    EXPECT_EQ(GetLE32(pb + kDevPBReserved), 0u);
    EXPECT_EQ(GetLE16(pb + kDevPBUnit), 7);
    EXPECT_EQ(GetLE16(pb + kDevPBWindow), uInt16(frame_));
    EXPECT_EQ(GetLE32(pb + kDevPBLink), 0u);
    EXPECT_EQ(GetLE32(pb + kDevPBSelector), c.selector);
    EXPECT_EQ((*d)->pending, nullptr);
  }
  uChar pb[kDevPBSize] = {};
  EXPECT_EQ(DevWrtRd(d, nullptr, 1, 0, 0), kDevParamErr);
  EXPECT_EQ(DevAbort(d, nullptr, 0), kDevParamErr);
  DevHandle stranger = reinterpret_cast<DevHandle>(pb);
  EXPECT_EQ(DevCtrlStat(stranger, pb, 1, 0, 0), kDevRefNumErr);
  EXPECT_EQ(DevAbort(stranger, pb, 0), kDevRefNumErr);
  ProdDriver(stranger);  // ignored
  EXPECT_EQ(DevClose(d), kNoErr);
  EXPECT_EQ(DevWrtRd(d, pb, 1, 0, 0), kDevRefNumErr);
}

TEST_F(Device, AsynchronousRequestsEndThroughTheFrame) {
  StartAsync();
  DevHandle d = Open("meter", 3);
  ASSERT_NE(d, nullptr);
  Occurrence occ = AllocOccur();
  OccurHdlr h = AllocOccurHdlr(occ, CountFired, nullptr);
  ASSERT_EQ(OnOccurrence(h, 1), kNoErr);
  setenv("QXDRV_PRODS", "2", 1);
  uChar pb[kDevPBSize] = {};
  EXPECT_EQ(DevWrtRd(d, pb, 0, 1, occ), kDevInProgress);
  EXPECT_EQ((*d)->pending, pb);
  EXPECT_EQ(GetLE32(pb + kDevPBOccur), occ);
  // One prod by the driver's message, one by its notify id.
  PlatPostMessage(frame_, kWFrameProdDriver, 0, PlatLParam(uintptr_t(d)));
  PlatPostMessage(frame_, kPlatMsgCommNotify, 0x103, 0);
  EXPECT_TRUE(Pump([] { return gFired.load() == 1; }));
  EXPECT_EQ(GetLE16(pb + kDevPBResult), 0);
  EXPECT_EQ((*d)->pending, nullptr);
  EXPECT_EQ(Count(d, kPeriodics), 2);

  // Closing with a request in progress aborts it: it ends with 41 and its
  // occurrence fires.
  setenv("QXDRV_PRODS", "1000", 1);
  ASSERT_EQ(OnOccurrence(h, 1), kNoErr);
  EXPECT_EQ(DevCtrlStat(d, pb, 0, 1, occ), kDevInProgress);
  EXPECT_EQ(DevClose(d), kNoErr);
  EXPECT_EQ(GetLE16(pb + kDevPBResult), kDevAbortErr);
  EXPECT_TRUE(Pump([] { return gFired.load() == 2; }));
  DeallocOccurHdlr(h);
  DeallocOccur(occ);
}

TEST_F(Device, CloseWaitsForACallInFlightAndReportsAFailedClose) {
  DevHandle d = Open("meter", 4);
  ASSERT_NE(d, nullptr);
  setenv("QXDRV_PRODS", std::getenv("QX_UNDER_VALGRIND") ? "2000" : "200000", 1);
  std::atomic<MgErr> result{-1};
  std::thread caller([&] {
    uChar pb[kDevPBSize] = {};
    result.store(DevWrtRd(d, pb, 1, 0, 0));
  });
  while (Count(d, kIOs) == 0) std::this_thread::yield();
  EXPECT_EQ(DevClose(d), kNoErr);
  caller.join();
  EXPECT_EQ(result.load(), kNoErr);  // it ran to its end

  DevHandle e = Open("meter", 5);
  ASSERT_NE(e, nullptr);
  setenv("QXDRV_FAIL", "close", 1);
  EXPECT_EQ(DevClose(e), kDevNotFoundErr);
  EXPECT_EQ(DevTestOpenCount(), 0);

  unsetenv("QXDRV_FAIL");
  DevHandle all[] = {Open("meter", 1), Open("meter", 2), Open("meter", 3)};
  CloseAllDevices();
  uChar pb[kDevPBSize] = {};
  for (DevHandle x : all) EXPECT_EQ(DevWrtRd(x, pb, 1, 0, 0), kDevRefNumErr);
  MgErr err = 0;
  EXPECT_EQ(DevOpen(PStrName("meter").s, 1, &err), nullptr);
  EXPECT_EQ(err, kMemFullErr);  // no table
  ASSERT_EQ(InitDeviceTable(), kNoErr);
}

// Callers on four threads and the frame's prods share two devices: the
// driver mutex is re-entered by prodding, nothing deadlocks and every use is
// counted off.
TEST_F(Device, CallsWhileTheFrameProdsThreads) {
  DevHandle devs[] = {Open("meter", 1), Open("meter", 2)};
  ASSERT_NE(devs[0], nullptr);
  ASSERT_NE(devs[1], nullptr);
  setenv("QXDRV_PRODS", "2", 1);
  const int calls = std::getenv("QX_UNDER_VALGRIND") ? 40 : 500;
  std::atomic<int> done{0}, failures{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([&, t] {
      uChar pb[kDevPBSize] = {};
      for (int i = 0; i < calls; ++i) {
        if (DevWrtRd(devs[(t + i) % 2], pb, i % 2, 0, 0) != kNoErr) failures.fetch_add(1);
      }
      done.fetch_add(1);
    });
  }
  Pump([&] {
    for (DevHandle d : devs) PlatPostMessage(frame_, kWFrameProdDriver, 0, PlatLParam(uintptr_t(d)));
    return done.load() == 4;
  });
  for (auto& c : callers) c.join();
  Pump([] { return true; });  // the prods still queued
  EXPECT_EQ(failures.load(), 0);
  for (DevHandle d : devs) {
    EXPECT_EQ((*d)->useCount, 0u);
    EXPECT_EQ((*d)->pending, nullptr);
  }
  EXPECT_EQ(Count(devs[0], kIOs), 4 * calls);
}

}  // namespace
