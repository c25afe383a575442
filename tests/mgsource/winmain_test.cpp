// The entry's command line, its start-up and tear-down order, the launch
// events, the DDE service's callback, the linked callback, and the
// registration of the document types.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/window/wdde.h"
#include "mgsource/window/wdrag.h"
#include "mgsource/window/winmain.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/window.h"
#include "platform/qx_alert.h"
#include "platform/qx_dde.h"
#include "platform/qx_debugout.h"
#include "platform/qx_display.h"
#include "platform/qx_droptarget.h"
#include "platform/qx_file.h"
#include "platform/qx_input.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_drives.h"
#include "temp_folder.h"
#include "test_support.h"

namespace {

std::vector<std::string> Split(const char* text) {
  std::string t(text);
  std::vector<CStr> argv(size_t(WSplitCommandLine(reinterpret_cast<CStr>(t.data()), nullptr)) + 1);
  const int32 n = WSplitCommandLine(reinterpret_cast<CStr>(t.data()), argv.data());
  std::vector<std::string> out;
  for (int32 i = 0; i < n; ++i) out.emplace_back(reinterpret_cast<char*>(argv[size_t(i)]));
  return out;
}

TEST(CommandLine, SplitsModesAndDocuments) {
  using V = std::vector<std::string>;
  const struct {
    const char* line;
    V args;
    int32 mode;
    V documents;
  } kCases[] = {
      {"a \"b c\" \"d", {"a", "b c", "d"}, 0, {"a", "b c", "d"}},
      {"\ta\t\tb ", {"a", "b"}, 0, {"a", "b"}},
      {"", {}, 0, {}},
      {"\"\" x", {"", "x"}, 0, {"x"}},
      {"/Unregister /Automation", {"/Unregister", "/Automation"}, 2, {"/Unregister", "/Automation"}},
      {"/automation x /Automation", {"/automation", "x", "/Automation"}, 1, {"/automation", "x", "/Automation"}},
      {"-pref x.ini doc", {"-pref", "x.ini", "doc"}, 0, {"doc"}},
      {"doc -pref", {"doc", "-pref"}, 0, {"doc"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.line);
    const V args = Split(c.line);
    EXPECT_EQ(args, c.args);
    std::vector<std::string> keep = args;
    std::vector<CStr> argv;
    for (std::string& a : keep) argv.push_back(reinterpret_cast<CStr>(a.data()));
    EXPECT_EQ(WFindStartMode(int32(argv.size()), argv.data()), c.mode);
    V documents;
    for (int32 i = 0; i < int32(argv.size()); ++i)
      if (!WSkipArgument(argv[size_t(i)], &i)) documents.push_back(args[size_t(i)]);
    EXPECT_EQ(documents, c.documents);
  }
  const char* const hostArgs[] = {"", "a b", "/tmp/x.vi", "/Automation", "plain"};
  EXPECT_EQ(WCommandLineFromArgs(5, hostArgs), "\"\" \"a b\" C:\\tmp\\x.vi /Automation plain");
}

// Start-up and tear-down of a child process, step by step.
std::string gSteps;
int gMainRuns = 0;
void Record(const char* step) { gSteps += std::string(step) + ";"; }
std::string gStartDebug;
void StartDebug(const char* text) { gStartDebug += text; }
int32 OldVersion() { return 3; }
std::string gVersionAlert;
int32_t VersionAlert(const char*, const char* text, int32_t, int32_t) {
  gVersionAlert = text;
  return 1;
}
int32 CountMain() { return ++gMainRuns; }
int gRootQuits = 0;
int32 RootQuit(WEventRecord* e, uInt32) { return e->code == -19 ? ++gRootQuits : 0; }
MgErr FailNet() { return kMemFullErr; }

std::string EventsText() {
  std::string out;
  WEventRecord e;
  while (WGetNextEvent(&e)) {
    out += std::to_string(e.code);
    if (e.code == kWEvOpenDocument) {
      LStrHandle text = nullptr;
      FPathToAZString(reinterpret_cast<Path>(uintptr_t(uInt32(e.where))), &text);
      out += " " + std::string(reinterpret_cast<char*>((*text)->str), size_t((*text)->cnt)) + " h" +
             std::to_string(int16(uInt32(e.globalWhere) >> 16)) + " v" + std::to_string(int16(e.globalWhere));
    }
    out += ";";
  }
  return out;
}

constexpr const char kStartSteps[] =
    "defaults;config;memory;debug;threads;ole;support;event queue;resources;files;occurrences;dde;screen clip;frame;keys;"
    "windows;drawing;network;timers;launch;";
constexpr const char kStopSteps[] =
    "windows;printer;images;text;drawing;network;dde;resources;timers;occurrences;files;support;debug;ole;remaining windows;"
    "screen clip;port context;frame;palette;event queue;memory;";

void StartAndStop(const std::string& dir) {
  setenv("QX_RUNTIME_DIR", dir.c_str(), 1);
  setenv("QX_REGISTRY_FILE", (dir + "/reg.ini").c_str(), 1);
  PlatWindowSystemStart();
  WSetStartupHooks(WStartupHooks{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &Record});
  WRegisterAppClasses();
  std::string cwd;
  PlatCurrentFolder(&cwd);
  PlatHostToSysText(cwd.c_str(), &cwd);
  const std::string ini = dir + "/debug.ini";
  std::ofstream(ini) << "[Quenlix]\ndebugging=True\nCheckWindowsQueueMsgTime=True\n";
  PlatSetDebugSink(&StartDebug);
  std::vector<std::string> args = {"doc.vi", "", "-pref", ini, "C:\\abs\\b.vi"};
  std::vector<CStr> argv;
  for (std::string& a : args) argv.push_back(reinterpret_cast<CStr>(a.data()));
  if (WStartup(int32(argv.size()), argv.data()) != kNoErr) std::_Exit(2);
  if (!DragOleStarted() || PlatOleStartCount() != 1) std::_Exit(11);
  WEventSetGate(1);
  const std::string events = EventsText();
  const std::string want = "-18 " + cwd + "\\doc.vi h-2 v0;-18 C:\\abs\\b.vi h-2 v0;-2;";
  if (events != want) {
    std::fprintf(stderr, "events %s want %s\n", events.c_str(), want.c_str());
    std::_Exit(3);
  }
  // Without a working folder a relative document is dropped with its line;
  // the others still go.
  const std::string gone = dir + "/gone";
  std::vector<std::string> more = {"rel.vi", "C:\\abs\\c.vi"};
  std::vector<CStr> moreArgv;
  for (std::string& a : more) moreArgv.push_back(reinterpret_cast<CStr>(a.data()));
  if (mkdir(gone.c_str(), 0700) != 0 || chdir(gone.c_str()) != 0 || rmdir(gone.c_str()) != 0) std::_Exit(9);
  GetLaunchArgs(2, moreArgv.data());
  if (EventsText() != "-18 C:\\abs\\c.vi h-2 v0;-2;" ||
      gStartDebug.find("GetLaunchArgs: Couldn't get working dir") == std::string::npos) {
    std::fprintf(stderr, "debug %s\n", gStartDebug.c_str());
    std::_Exit(7);
  }
  // The key table is built, and the frame's Close is the quit event to the
  // root window (the window procedures are the classes').
  WSetEventHandler(kWRootWindow, &RootQuit);
  PlatSendMessage(WFrameWindow(), kPlatMsgClose, 0, 0);
  if (WKeyTableEntry(PlatVkKeyScan('1')) != (uInt16('1') | uInt16(vkAscii << 8)) || gRootQuits != 1) std::_Exit(10);
  // The tear-down gives back the screen clip region, the palette and the
  // context held for a window still set up.
  if (!WScreenClipRgn() || !DEmptyRgn(WScreenClipRgn()) || !WTimeSliceFlag()) std::_Exit(14);
  UHandle list = AZNewHClr(4), table = AZNewHClr(4 + 8 * 221);
  *reinterpret_cast<uInt32*>(*table) = 221;
  const Rect box{40, 40, 140, 240};
  WPortState port;
  WSetup(WCreate(0, nullptr, nullptr, &box, 0, 0, 0), &port);
  if (DSetAppColors(list, table, nullptr) != kNoErr || !gDrawState.dc) std::_Exit(15);
  const std::string started = gSteps;
  gSteps.clear();
  WShutdown();
  if (DragOleStarted() || PlatOleStartCount() != 0) std::_Exit(12);
  if (started != kStartSteps || gSteps != kStopSteps) {
    std::fprintf(stderr, "start %s\nstop %s\n", started.c_str(), gSteps.c_str());
    std::_Exit(4);
  }
  if (WScreenClipRgn() || DAppPalette() || gDrawState.dc || WCurrentPort()) std::_Exit(13);
  // A failing step: no main routine, the tear-down all the same.
  WSetStartupHooks(WStartupHooks{nullptr, &CountMain, nullptr, &FailNet, nullptr, nullptr, nullptr, &Record});
  gSteps.clear();
  char line[] = "x.vi";
  // A new start without the key takes the compiled-in default again.
  if (WinMain(1, 0, reinterpret_cast<CStr>(line), 1) != 0 || gMainRuns != 0 || WTimeSliceFlag()) std::_Exit(5);
  const std::string all = gSteps;
  if (all.find("network;") == std::string::npos || all.find("launch") != std::string::npos ||
      all.substr(all.size() - std::strlen(kStopSteps)) != kStopSteps) {
    std::fprintf(stderr, "failed start %s\n", all.c_str());
    std::_Exit(6);
  }
  // Too old a system: the alert, and nothing starts.
  WSetStartupHooks(WStartupHooks{nullptr, &CountMain, nullptr, nullptr, nullptr, &OldVersion, nullptr, &Record});
  PlatSetAlertProc(&VersionAlert);
  gSteps.clear();
  if (WinMain(1, 0, reinterpret_cast<CStr>(line), 1) != 0 || !gSteps.empty() || gMainRuns != 0 ||
      gVersionAlert.find("This version of Quenlix runs only under Windows NT 3.51 or later or Windows 95.") == std::string::npos) {
    std::fprintf(stderr, "old system: %s / %s\n", gSteps.c_str(), gVersionAlert.c_str());
    std::_Exit(8);
  }
  std::_Exit(0);
}

TEST(Startup, RunsItsStepsInOrderPostsTheLaunchEventsAndTearsDown) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempFolder tmp("qx_start");
  EXPECT_EXIT(StartAndStop(tmp.Dir()), ::testing::ExitedWithCode(0), "");
}

class DdeService : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    ASSERT_EQ(WEventQueueInit(1), kNoErr);
    WEventSetGate(1);
    // Windows earlier tests destroyed leave their disposal events queued.
    WEventRecord e;
    while (WGetNextEvent(&e)) {
    }
    setenv("QX_RUNTIME_DIR", (tmp_.Dir() + "/run").c_str(), 1);
    setenv("QX_REGISTRY_FILE", (tmp_.Dir() + "/reg.ini").c_str(), 1);
  }
  void TearDown() override {
    DDEShutdown();
    CfgTestRemoveValue("RegisterExtensions");
    unsetenv("QX_RUNTIME_DIR");
    unsetenv("QX_REGISTRY_FILE");
  }
  static uInt32 Execute(const std::string& bytes) {
    const PlatDdeData d = PlatDdeCreateDataHandle(1, bytes.data(), uint32_t(bytes.size()));
    const uInt32 r = DDECallBack(kPlatXtypExecute, 0, 7, 0, 0, d, 0, 0);
    PlatDdeFreeDataHandle(d);
    return r;
  }
  TempFolder tmp_{"qx_dde"};
  Capture capture_;
};

TEST_F(DdeService, AnswersConnectsAndExecutes) {
  ASSERT_EQ(DDEInit(), kNoErr);
  const PlatDdeInst inst = DDEServerInstance();
  ASSERT_NE(inst, 0u);
  const PlatDdeStr system = PlatDdeCreateString(inst, "System"), other = PlatDdeCreateString(inst, "Other");
  const PlatDdeStr service = PlatDdeCreateString(inst, WAppNames()->shortName);
  EXPECT_EQ(DDECallBack(kPlatXtypConnect, 0, 0, system, service, 0, 0, 0), 1u);
  EXPECT_EQ(DDECallBack(kPlatXtypConnect, 0, 0, other, service, 0, 0, 0), 0u);
  EXPECT_EQ(capture_.Count("connection refused!!!"), 1);
  const struct {
    std::string bytes;
    uInt32 answer;
    const char* posted;  // the path text of the one -18, or null
    const char* debug;
  } kCases[] = {
      {std::string("open(C:\\x\\y.vi)\0", 16), kPlatDdeFack, "C:\\x\\y.vi", "path to open :C:\\x\\y.vi"},
      {"open(C:\\x\\y.vi", 0, nullptr, "unexpected DDE exec[open(C:\\x\\y.vi]"},
      {std::string("open(C:\\a)\0open(C:\\b)", 22), kPlatDdeFack, "C:\\a", "path to open :C:\\a"},
      {"foo", 0, nullptr, "unexpected DDE exec[foo]"},
      {"activate", 0, nullptr, "DDECallBack: XTYP_EXECUTE (5)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bytes);
    capture_.Clear();
    EXPECT_EQ(Execute(c.bytes), c.answer);
    std::vector<std::string> paths;
    WEventRecord e;
    while (WGetNextEvent(&e)) {
      ASSERT_EQ(e.code, kWEvOpenDocument);
      LStrHandle text = nullptr;
      const Path p = reinterpret_cast<Path>(uintptr_t(uInt32(e.where)));
      FPathToAZString(p, &text);
      paths.emplace_back(reinterpret_cast<char*>((*text)->str), size_t((*text)->cnt));
      AZDisposeHandle(reinterpret_cast<UHandle>(text));
      FDisposePath(p);
    }
    EXPECT_EQ(paths, c.posted ? std::vector<std::string>{c.posted} : std::vector<std::string>{});
    EXPECT_NE(capture_.Debug().find(c.debug), std::string::npos) << capture_.Debug();
  }
  EXPECT_EQ(DDECallBack(99, 0, 0, 0, 0, 0, 0, 0), 0u);
  EXPECT_NE(capture_.Debug().find("DDECallBack: invalid type (99)"), std::string::npos);
  for (PlatDdeStr s : {system, other, service}) PlatDdeFreeString(inst, s);
}

uInt32 gForwarded = 0;
uInt32 Linked(uInt32 type, uInt32, uInt32, uInt32, uInt32, uInt32, uInt32, uInt32) {
  gForwarded = type;
  return 42;
}

TEST_F(DdeService, ALinkedCallbackIsInstalledForwardedToAndRemoved) {
  uInt32 inst = 0;
  EXPECT_EQ(LinkDdeCallback(&Linked, &inst), kNoErr);
  EXPECT_NE(inst, 0u);
  EXPECT_EQ(DDEForwardCallBack(kPlatXtypPoke, 0, 0, 0, 0, 0, 0, 0), 42u);
  EXPECT_EQ(gForwarded, kPlatXtypPoke);
  uInt32 again = 0;
  LinkDdeCallback(nullptr, &again);
  EXPECT_EQ(again, 0u);
  EXPECT_FALSE(PlatDdeUninitialize(inst)) << "removing the callback ended the instance";
  EXPECT_EQ(DDEForwardCallBack(kPlatXtypAdvData, 0, 0, 0, 0, 0, 0, 0), kPlatDdeFack);
  EXPECT_EQ(DDEForwardCallBack(kPlatXtypPoke, 0, 0, 0, 0, 0, 0, 0), 0u);
  EXPECT_EQ(AppMsgGetParam(nullptr, 0, FourCC("LBoo"), nullptr), 53);
  EXPECT_EQ(AppMsgGetParam(nullptr, 0, FourCC("TEXT"), nullptr), 73);
}

TEST_F(DdeService, RegistersTheDocumentTypesOnlyWhenAsked) {
  std::string program, text;
  PlatProgramFile(&program);
  PlatHostToSysText(program.c_str(), &text);
  const std::string svc = WAppNames()->shortName;
  std::string want;
  for (const auto& [ext, kind, desc, icon] : {std::tuple{".QLB", "Library", "VI Library", -3},
                                               std::tuple{".VI", "Instrument", "Instrument", -2}}) {
    const std::string cls = std::string("Quenlix") + kind, root = "[HKEY_CLASSES_ROOT\\";
    want += root + ext + "]\n@=\"" + cls + "\"\n" + root + cls + "]\n@=\"Quenlix " + desc + "\"\n" + root + cls +
            "\\shell\\open\\ddeexec]\n@=\"open(%1)\"\n" + root + cls + "\\shell\\open\\ddeexec\\ifexec]\n@=\" \"\n" +
            root + cls + "\\shell\\open\\ddeexec\\application]\n@=\"" + svc + "\"\n" + root + cls +
            "\\shell\\open\\command]\n@=\"\"" + text + "\" \"%1\"\"\n" + root + cls + "\\DefaultIcon]\n@=\"" + text +
            "," + std::to_string(icon) + "\"\n";
  }
  for (const char* value : {"True", "False"}) {
    SCOPED_TRACE(value);
    std::remove((tmp_.Dir() + "/reg.ini").c_str());
    CfgTestSetValue("RegisterExtensions", value);
    ASSERT_EQ(DDEInit(), kNoErr);
    std::stringstream got;
    got << std::ifstream(tmp_.Dir() + "/reg.ini").rdbuf();
    EXPECT_EQ(got.str(), value[0] == 'T' ? want : "");
    EXPECT_EQ(DDEServerInstance() != 0, value[0] == 'T') << "the service runs only with the registration";
    DDEShutdown();
  }
}

}  // namespace
