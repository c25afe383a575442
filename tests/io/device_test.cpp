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

// The library folder, where the driver libraries' temporary files go too.
std::string gDir;
std::string SysText() {
  std::string text;
  EXPECT_TRUE(PlatHostToSysText(gDir.c_str(), &text));
  return text;
}
MgErr TempDir(Path p) {
  std::string t = SysText();
  return FTextToPath(reinterpret_cast<const uChar*>(t.data()), int32(t.size()), &p);
}

std::mutex gLinesLock;
std::string gLines;
void KeepLine(const char* text) {
  std::lock_guard<std::mutex> g(gLinesLock);
  gLines += text;
}
std::atomic<int> gFired{0};
int32 CountFired(void*) { return gFired.fetch_add(1); }

enum { kOpens, kIOs, kPeriodics };
uInt32 GetLE32(const uChar* p) { return uInt32(p[0] | p[1] << 8 | p[2] << 16) | uInt32(p[3]) << 24; }
uInt16 GetLE16(const uChar* p) { return uInt16(p[0] | p[1] << 8); }
const char* const kEnv[] = {"QXDRV_PRODS", "QXDRV_FAIL", "QXDRV_HEADER"};

class Device : public ::testing::Test {
 protected:
  void SetUp() override {
    IOTestStartManagers();
    ASSERT_EQ(RInitResources(), kNoErr);
    PlatRegisterClass(PlatWindowClass{"DevFrame", &QXFrameProc, 0, kPlatNoBrush});
    frame_ = PlatCreateWindow("DevFrame", "frame", 0, 0, PlatRect{0, 0, 10, 10}, 0);
    PlatSetFrameWindow(frame_);
    DevInstallDriverHooks();
    gDir = dir_.Dir();
    DisposeAppFolderPaths();
    CfgTestSetValue("libdir", SysText().c_str());
    ASSERT_EQ(InitAppDirs(), kNoErr);
    ExtCodeSetTempDirPathHook(TempDir);
    for (const char* v : kEnv) unsetenv(v);
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
    CfgTestRemoveValue("libdir");
    ExtCodeSetTempDirPathHook(nullptr);
    DisposeAppFolderPaths();
    for (const char* v : kEnv) unsetenv(v);
    PlatDestroyWindow(frame_);
    EXPECT_EQ(QxsbFiles(), 0) << "a driver library was left loaded";
  }
  void WriteDriver(const std::string& file, uInt32 type, const std::string& rsrcName) {
    rsrcw::Writer w(type, FourCC("QXLV"));
    w.Add(FourCC("QXSB"), 1, rsrcw::ReadHostFile(QX_TEST_DRIVER_LIB), rsrcName);
    ASSERT_TRUE(rsrcw::WriteHostFile(gDir + "/" + file, w.Write()));
  }
  static int QxsbFiles() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(gDir)) n += e.path().filename().string().rfind("qxsb", 0) == 0;
    return n;
  }
  // How often the driver's entry ran, from its library.
  static int Count(DevHandle d, int which) {
    std::string message;
    auto lib = reinterpret_cast<void*>(uintptr_t(GetNative32((*d)->driver + 28)));
    auto fn = reinterpret_cast<int (*)(int)>(PlatLibFind(lib, "TestDrvCount", &message));
    return fn ? fn(which) : -1;
  }
  static DevHandle Open(const std::string& name, int32 unit, MgErr want = kNoErr) {
    uChar p[256] = {uChar(name.size())};
    std::memcpy(p + 1, name.data(), name.size());
    MgErr err = -1;
    DevHandle d = DevOpen(p, unit, &err);
    EXPECT_EQ(err, want);
    EXPECT_EQ(d == nullptr, want != kNoErr);
    return d;
  }
  static bool Pump(const std::function<bool()>& cond) { return iotest::Pump(cond, 5000); }

  TempFolder dir_{"qxdrv"};
  PlatWindow frame_ = 0;
  PlatDebugSink previous_ = nullptr;
};

TEST_F(Device, OpeningSharesTheDriverBlockPerName) {
  DevHandle a = Open("meter", 1), b = Open("meter", 2);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(Open("METER", 1), a);
  EXPECT_EQ(Count(a, kOpens), 2);  // once per unit
  EXPECT_EQ((*b)->driver, (*a)->driver);
  EXPECT_EQ(GetNative32((*a)->driver + kDrvUseCountAt), 2u);
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
    const char *name, *env, *value, *line;
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
    Open(c.name, 1, kDevNotFoundErr);
    EXPECT_NE(gLines.find(c.line), std::string::npos);
    EXPECT_EQ(QxsbFiles(), 0);  // unloaded
    EXPECT_EQ(DevTestOpenCount(), 0);
    if (c.env) unsetenv(c.env);
  }
}

TEST_F(Device, SynchronousRequestsAndBadArguments) {
  DevHandle d = Open("meter", 7);
  ASSERT_NE(d, nullptr);
  setenv("QXDRV_PRODS", "3", 1);
  uChar pb[kDevPBSize];
  for (uInt32 selector : {2u, 3u, 4u, 5u}) {
    std::memset(pb, 0xEE, sizeof pb);
    const int prods = Count(d, kPeriodics);
    // Asked asynchronously, but "useAsyncDeviceCalls" is off.
    const bool rw = selector < 4, flag = selector & 1;
    EXPECT_EQ(rw ? DevWrtRd(d, pb, flag, 1, 0) : DevCtrlStat(d, pb, !flag, 1, 0), kNoErr);
    EXPECT_GE(Count(d, kPeriodics) - prods, 3);
    EXPECT_EQ(GetLE32(pb + kDevPBReserved) | GetLE32(pb + kDevPBLink), 0u);
    EXPECT_EQ(GetLE16(pb + kDevPBUnit), 7);
    EXPECT_EQ(GetLE16(pb + kDevPBWindow), uInt16(frame_));
    EXPECT_EQ(GetLE32(pb + kDevPBSelector), selector);
  }
  EXPECT_EQ(DevWrtRd(d, nullptr, 1, 0, 0), kDevParamErr);
  EXPECT_EQ(DevAbort(d, nullptr, 0), kDevParamErr);
  auto stranger = reinterpret_cast<DevHandle>(pb);
  EXPECT_EQ(DevCtrlStat(stranger, pb, 1, 0, 0), kDevRefNumErr);
  EXPECT_EQ(DevAbort(stranger, pb, 0), kDevRefNumErr);
  ProdDriver(stranger);  // ignored
  EXPECT_EQ(DevClose(d), kNoErr);
  EXPECT_EQ(DevWrtRd(d, pb, 1, 0, 0), kDevRefNumErr);
}

TEST_F(Device, AsynchronousRequestsEndThroughTheFrame) {
  CfgTestSetValue("useAsyncDeviceCalls", "true");
  ASSERT_EQ(InitDeviceTimers(), kNoErr);
  DevHandle d = Open("meter", 3);
  ASSERT_NE(d, nullptr);
  Occurrence occ = AllocOccur();
  OccurHdlr h = AllocOccurHdlr(occ, CountFired, nullptr);
  ASSERT_EQ(OnOccurrence(h, 1), kNoErr);
  setenv("QXDRV_PRODS", "2", 1);
  uChar pb[kDevPBSize] = {};
  EXPECT_EQ(DevWrtRd(d, pb, 0, 1, occ), kDevInProgress);
  EXPECT_EQ((*d)->pending, pb);
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
  setenv("QXDRV_FAIL", "close", 1);
  EXPECT_EQ(DevClose(e), kDevNotFoundErr);
  EXPECT_EQ(DevTestOpenCount(), 0);
  unsetenv("QXDRV_FAIL");
  DevHandle all[] = {Open("meter", 1), Open("meter", 2)};
  CloseAllDevices();
  for (DevHandle x : all) EXPECT_EQ(DevClose(x), kDevRefNumErr);
  Open("meter", 1, kMemFullErr);  // no table
  ASSERT_EQ(InitDeviceTable(), kNoErr);
}

// Callers on four threads and the frame's prods share two devices: the
// driver mutex is re-entered by prodding, nothing deadlocks and every use is
// counted off.
TEST_F(Device, CallsWhileTheFrameProdsThreads) {
  DevHandle devs[] = {Open("meter", 1), Open("meter", 2)};
  ASSERT_TRUE(devs[0] && devs[1]);
  setenv("QXDRV_PRODS", "2", 1);
  const int calls = std::getenv("QX_UNDER_VALGRIND") ? 40 : 500;
  std::atomic<int> done{0}, failures{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) {
    callers.emplace_back([&, t] {
      uChar pb[kDevPBSize] = {};
      for (int i = 0; i < calls; ++i) failures += DevWrtRd(devs[(t + i) % 2], pb, i % 2, 0, 0) != kNoErr;
      ++done;
    });
  }
  Pump([&] {
    for (DevHandle d : devs) PlatPostMessage(frame_, kWFrameProdDriver, 0, PlatLParam(uintptr_t(d)));
    return done.load() == 4;
  });
  for (auto& c : callers) c.join();
  Pump([] { return true; });  // the prods still queued
  EXPECT_EQ(failures.load(), 0);
  for (DevHandle d : devs) EXPECT_TRUE((*d)->useCount == 0 && (*d)->pending == nullptr);
  EXPECT_EQ(Count(devs[0], kIOs), 4 * calls);
}

}  // namespace
