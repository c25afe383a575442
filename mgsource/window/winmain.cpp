#include "mgsource/window/winmain.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "mgsource/cfgwords.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"
#include "mgsource/support.h"
#include "mgsource/thread.h"
#include "mgsource/walert.h"
#include "mgsource/window/wdde.h"
#include "mgsource/window/wdrag.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/textrec.h"
#include "platform/qx_activate.h"
#include "platform/qx_clipboard.h"
#include "platform/qx_dde.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"
#include "platform/qx_instance.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_process.h"
#include "platform/qx_sysinfo.h"
#include "platform/qx_time.h"

namespace {

constexpr const char* kFrameClass = "QXFrame";
constexpr const char* kChildClass = "QXDChild";
constexpr const char* kMenuClass = "QXMenuWnd";
constexpr int32 kRetries = 5;
constexpr uint32_t kForwardTimeoutMs = 5000;
constexpr size_t kMaxFullPath = 1018;
constexpr int32 kImageTableEntries = 350;

WStartupHooks gHooks{};
AppNames gNames{};
char gBaseName[261];
int32 gStartMode = kWStartNormal;
uInt32 gInstance = 0;
PlatWindow gFrame = 0;
bool gMemStarted = false;

void Step(const char* name) {
  if (gHooks.startStep) gHooks.startStep(name);
}

uint32_t NoCallback(uint32_t, uint32_t, PlatDdeConv, PlatDdeStr, PlatDdeStr, PlatDdeData, uint32_t, uint32_t) {
  return 0;
}

bool IsAbsoluteText(const std::string& a) {
  return (a.size() >= 3 && std::isalpha(uChar(a[0])) && a[1] == ':' && a[2] == '\\') || a.compare(0, 2, "\\\\") == 0;
}

// The full path of a document argument in the system's form, "." and ".."
// resolved, relative ones taken from the current folder; false when it
// cannot be formed or is longer than the hand-off takes.
bool FullPathText(const char* arg, std::string* out) {
  std::string a(arg);
  for (char& c : a)
    if (c == '/') c = '\\';
  std::string full;
  if (IsAbsoluteText(a)) {
    full = a;
  } else {
    std::string host, cwd;
    if (!PlatCurrentFolder(&host) || !PlatHostToSysText(host.c_str(), &cwd) || cwd.size() < 2) return false;
    full = !a.empty() && a[0] == '\\' ? cwd.substr(0, 2) + a : cwd + (cwd.back() == '\\' ? "" : "\\") + a;
  }
  // The root ("C:" or "\\server\share") stays; the components are resolved.
  size_t rootEnd = full.compare(0, 2, "\\\\") == 0 ? full.find('\\', full.find('\\', 2) + 1) : 2;
  if (rootEnd == std::string::npos) rootEnd = full.size();
  std::vector<std::string> parts;
  for (size_t at = rootEnd; at < full.size();) {
    size_t next = full.find('\\', at + 1);
    if (next == std::string::npos) next = full.size();
    const std::string part = full.substr(at + 1, next - at - 1);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = next;
  }
  std::string result = full.substr(0, rootEnd);
  for (const std::string& p : parts) result += "\\" + p;
  if (parts.empty()) result += "\\";
  if (result.size() > kMaxFullPath) return false;
  *out = result;
  return true;
}

// Posts one launch event to the root window at the top level.
MgErr PostLaunchEvent(WEventCode code, Path path) {
  WEventRecord e{};
  e.code = code;
  e.window = kWRootWindow;
  e.where = int32(uintptr_t(path));
  // An open-document event: the print flag (16 bits at byte 12) clear and
  // the load-status owner (32 bits at byte 14) -2, none.
  if (code == kWEvOpenDocument) {
    const int32 owner = -2;
    std::memcpy(reinterpret_cast<uChar*>(&e) + 14, &owner, sizeof owner);
  }
  return WPostEvent(&e, 0, kWPostTopLevel);
}

}  // namespace

void WSetStartupHooks(const WStartupHooks& hooks) { gHooks = hooks; }
const WStartupHooks& WStartupHooksInUse() { return gHooks; }
const AppNames* WAppNames() { return &gNames; }
int32 WStartMode() { return gStartMode; }
const char* WBaseName() { return gBaseName; }
PlatWindow WFrameWindow() { return gFrame; }
Bool32 WTimeSliceFlag() { return CfgWordGet(kCfgWordCheckQueueMsgTime); }
Bool32 WUseTaskBar() { return CfgWordGet(kCfgWordUseTaskBar); }

void WFrameToFront() {
  if (gFrame) PlatSetActiveWindow(gFrame);
}

int32 WSplitCommandLine(CStr text, CStr* argv) {
  return PlatSplitCommandLineInPlace(reinterpret_cast<char*>(text), reinterpret_cast<char**>(argv));
}

int32 WFindStartMode(int32 argc, const CStr* argv) {
  for (int32 i = 0; i < argc; ++i) {
    const char* a = reinterpret_cast<const char*>(argv[i]);
    if (std::strcmp(a, "/Automation") == 0) return kWStartAutomation;
    if (std::strcmp(a, "/Unregister") == 0) return kWStartUnregister;
  }
  return kWStartNormal;
}

int32 WSkipArgument(ConstCStr arg, int32* index) {
  const char* a = reinterpret_cast<const char*>(arg);
  if (!a || !*a) return 1;
  if (std::strcmp(a, "-pref") == 0) {
    if (index) ++*index;
    return 1;
  }
  return 0;
}

int32 WInstanceRunning() { return PlatInstanceLock(gBaseName) == 0 ? 0 : 1; }
void WInstanceLeave() { PlatInstanceUnlock(); }

int32 WForwardToRunningInstance(int32 argc, const CStr* argv) {
  PlatDdeInst inst = 0;
  if (PlatDdeInitialize(&inst, &NoCallback, kPlatDdeClientOnly) != kPlatDdeOk) return 0;
  const PlatDdeStr service = PlatDdeCreateString(inst, gNames.shortName);
  const PlatDdeStr topic = PlatDdeCreateString(inst, "System");
  const PlatDdeConv conv = service && topic ? PlatDdeConnect(inst, service, topic) : 0;
  if (conv) {
    uint32_t result = 0;
    for (int32 i = 0; i < argc; ++i) {
      if (WSkipArgument(argv[i], &i)) continue;
      std::string full;
      if (!FullPathText(reinterpret_cast<const char*>(argv[i]), &full)) continue;
      const std::string command = "open(" + full + ")";
      PlatDdeClientTransaction(command.c_str(), uint32_t(command.size() + 1), conv, 0, 0, kPlatXtypExecute,
                               kForwardTimeoutMs, &result);
    }
    PlatDdeClientTransaction("activate", 9, conv, 0, 0, kPlatXtypExecute, kForwardTimeoutMs, &result);
    PlatDdeDisconnect(conv);
  }
  if (service) PlatDdeFreeString(inst, service);
  if (topic) PlatDdeFreeString(inst, topic);
  PlatDdeUninitialize(inst);
  return conv ? 1 : 0;
}

void WRegisterAppClasses() {
  const PlatWindowClass classes[] = {
      {kFrameClass, &QXFrameProc, 0, PlatGetSysColour(kPlatColourWindow)},
      {kChildClass, &QXDChildWinProc, 0, kPlatNoBrush},
      {kMenuClass, &QXMenuWndProc, kPlatCsSaveBits, kPlatNoBrush},
  };
  for (const PlatWindowClass& c : classes)
    if (!PlatRegisterClass(c)) DBAssert(__FILE__, __LINE__, "a window class cannot be registered");
}

MgErr GetLaunchArgs(int32 argc, const CStr* argv) {
  for (int32 i = 0; i < argc; ++i) {
    if (WSkipArgument(argv[i], &i)) continue;
    const char* a = reinterpret_cast<const char*>(argv[i]);
    Path path = nullptr;
    if (FTextToPath(reinterpret_cast<const uChar*>(a), int32(std::strlen(a)), &path) != kNoErr || !FIsAPath(path)) {
      DBPrintf("couldn't convert arg \"%s\" to file path", a);
      if (path) FDisposePath(path);
      continue;
    }
    int32 type = kAbsPath;
    FGetPathType(path, &type);
    if (type != kAbsPath) {
      Path cwd = nullptr;
      if (FCurrentDirPath(&cwd) != kNoErr || !cwd) {
        DBPrintf("GetLaunchArgs: Couldn't get working dir");
        FDisposePath(path);
        if (cwd) FDisposePath(cwd);
        continue;
      }
      Path joined = FEmptyPath(nullptr);
      const bool ok = joined && FAddPath(cwd, path, joined) == kNoErr && FIsAPath(joined);
      FDisposePath(cwd);
      FDisposePath(path);
      if (!ok) {
        // A relative path that climbs above the root names no file.
        DBPrintf("couldn't convert arg \"%s\" to file path", a);
        if (joined) FDisposePath(joined);
        continue;
      }
      path = joined;
    }
    if (PostLaunchEvent(kWEvOpenDocument, path) != kNoErr) {
      DBPrintf("WPostEvent failed in GetLaunchArgs");
      FDisposePath(path);
    }
  }
  const MgErr err = PostLaunchEvent(kWEvStart, nullptr);
  if (err) DBPrintf("WPostEvent failed in GetLaunchArgs");
  return err;
}

MgErr WStartup(int32 argc, const CStr* argv) {
  Step("defaults");
  CfgLoadDefaultWords();
  Step("config");
  CfgChooseFile(argc, reinterpret_cast<const char* const*>(argv));
  Step("memory");
  if (MgErr err = MemInit()) return err;
  gMemStarted = true;
  Step("debug");
  DBInitDebug();
  Step("threads");
  if (MgErr err = ThInit()) return err;
  Step("ole");
  DragInit();
  Step("support");
  if (MgErr err = SupportInit()) return err;
  Step("event queue");
  if (MgErr err = WEventQueueInit(1)) return err;
  WResetMainLoop();
  Step("resources");
  if (MgErr err = RInitResources()) return err;
  Step("files");
  if (MgErr err = FInitFileMgr()) return err;
  Step("occurrences");
  if (MgErr err = OccurInit()) return err;
  Step("dde");
  if (MgErr err = DDEInit()) return err;
  CfgGetDefault(kCfgBool, reinterpret_cast<ConstPStr>("\030CheckWindowsQueueMsgTime"), CfgWordPtr(kCfgWordCheckQueueMsgTime));
  WSetCheckQueueMsgTime(WTimeSliceFlag());
  Step("screen clip");
  if (!WNewScreenClipRgn()) DBAssert(__FILE__, __LINE__, "the screen clip region cannot be made");
  Step("frame");
  CfgGetDefault(kCfgBool, reinterpret_cast<ConstPStr>("\013useTaskBar"), CfgWordPtr(kCfgWordUseTaskBar));
  if (WUseTaskBar())
    CfgGetDefault(kCfgInt, reinterpret_cast<ConstPStr>("\016hideRootWindow"), CfgWordPtr(kCfgWordHideRootWindow));
  const int32 hideRoot = CfgWordGet(kCfgWordHideRootWindow);
  // The frame stays hidden: there is no task bar to carry it, and a mapped
  // window a window manager may pull onto the screen.
  const uint32_t style = kPlatWsDlgFrame | (WUseTaskBar() ? 0u : uint32_t(kPlatWsSysMenu));
  gFrame = PlatCreateWindow(kFrameClass, gNames.displayName, style, hideRoot > 0 ? uint32_t(kPlatWsExToolWindow) : 0u,
                            PlatRect{-10000, -10000, -9990, -9990}, 0);
  if (!gFrame) return kMemFullErr;
  PlatSetFrameWindow(gFrame);
  PlatInstanceSetFrame(uint32_t(gFrame));
  // The frame leaves the chain again when it is destroyed.
  WSetNextClipboardViewer(PlatSetClipboardViewer(gFrame));
  Step("keys");
  WBuildKeyTable();
  Step("windows");
  if (!WRootWindow() || !WDisposalWindow()) return kMemFullErr;
  Step("drawing");
  DInitDraw();
  if (MgErr err = IInitImageTable(kImageTableEntries)) return err;
  if (MgErr err = WInitScreenImage()) return err;
  Step("network");
  if (gHooks.netStart)
    if (MgErr err = gHooks.netStart()) return err;
  Step("timers");
  if (WTimersInit(1) != kNoErr) DBAssert(__FILE__, __LINE__, "the timer list cannot be made");
  Step("launch");
  GetLaunchArgs(argc, argv);
  return kNoErr;
}

namespace {

// Drops every queued event; disposal events free their window records.
void DrainEvents() {
  WEventSetGate(1);
  WEventRecord e;
  while (WGetNextEvent(&e))
    if (e.code == kWEvDispose) WDispatchEvent(&e);
}

}  // namespace

void WShutdown() {
  if (!gMemStarted) return;
  Step("windows");
  // A window still set up is freed all the same: the tear-down ends every use.
  WForgetCurrentPort();
  for (WindowRef w = WFirstWindow(); w && !(WGetStyle(w) & (kWStyleNoHost | kWStyleSkipsRedraw)); w = WFirstWindow()) {
    if (WindowRecord* r = WRecord(w)) r->setupCount = 0;
    WDestroy(w);
  }
  DrainEvents();
  Step("printer");
  PFreeDevHandles();
  Step("images");
  IDisposeImageTable();
  Step("text");
  TXFinishText();
  Step("drawing");
  DDisposeDraw();
  Step("network");
  if (gHooks.netStop) gHooks.netStop();
  Step("dde");
  DDEShutdown();
  Step("resources");
  RExitResources();
  Step("timers");
  WTimersInit(0);
  Step("occurrences");
  OccurShutdown();
  Step("files");
  FExitFileMgr();
  Step("support");
  SupportShutdown();
  Step("debug");
  DBExitDebug();
  Step("ole");
  DragShutdown();
  Step("remaining windows");
  WDestroyAllWindows();
  DrainEvents();
  Step("screen clip");
  WDisposeScreenClipRgn();
  Step("port context");
  WReleasePortDc();
  Step("frame");
  if (gFrame) {
    if (PlatGetFrameWindow() == gFrame) PlatSetFrameWindow(0);
    PlatDestroyWindow(gFrame);
  }
  gFrame = 0;
  Step("palette");
  DDisposeAppPalette();
  PlatUnregisterClass(kFrameClass);
  PlatUnregisterClass(kChildClass);
  PlatUnregisterClass(kMenuClass);
  Step("event queue");
  WEventQueueInit(0);
  Step("memory");
  MemShutdown();
  gMemStarted = false;
}

int32 WinMain(uInt32 instance, uInt32 /*previousInstance*/, CStr commandLine, int32 /*showCommand*/) {
  const int32 argc = WSplitCommandLine(commandLine, nullptr);
  std::vector<CStr> argv(size_t(argc) + 1, nullptr);
  WSplitCommandLine(commandLine, argv.data());
  std::string module;
  if (!PlatProgramFile(&module) || !PlatHostToSysText(module.c_str(), &module)) module.clear();
  if (module.size() > 260) module.resize(260);
  if (module.size() < 7) DBAssert(__FILE__, __LINE__, "the module file name is too short");
  if (module.size() >= 4 && strcasecmp(module.c_str() + module.size() - 4, ".exe") == 0) module.resize(module.size() - 4);
  const size_t slash = module.rfind('\\');
  std::strncpy(gBaseName, module.c_str() + (slash == std::string::npos ? 0 : slash + 1), sizeof gBaseName - 1);
  gInstance = instance;
  if (gHooks.buildAppNames) {
    gHooks.buildAppNames(&gNames, gBaseName);
  } else {
    std::snprintf(gNames.shortName, sizeof gNames.shortName, "%.255s", gBaseName);
    std::snprintf(gNames.displayName, sizeof gNames.displayName, "%.255s", gBaseName);
  }
  for (int32 retries = 0; WInstanceRunning();) {
    if (argc > 0) {
      if (WForwardToRunningInstance(argc, argv.data())) return 0;
    } else if (PlatInstanceFrame(gBaseName)) {
      WForwardToRunningInstance(0, nullptr);
      return 0;
    }
    if (retries >= kRetries) return 0;
    ++retries;
    if (gHooks.retryPause) gHooks.retryPause(1000);
    else PlatSleepMs(1000);
  }
  gStartMode = WFindStartMode(argc, argv.data());
  const PlatVersion v = PlatGetVersion();
  const int32 major = gHooks.versionMajor ? gHooks.versionMajor() : v.major;
  if ((v.isNT && major == 3 && v.minor < 51) || (!v.isNT && major < 4)) {
    static const char kText[] = "This version of Quenlix runs only under Windows NT 3.51 or later or Windows 95.";
    uChar p[256];
    p[0] = uChar(sizeof kText - 1);
    std::memcpy(p + 1, kText, sizeof kText - 1);
    WAlert(p, 0);
    WInstanceLeave();
    return 0;
  }
  WRegisterAppClasses();
  if (WStartup(argc, argv.data()) == kNoErr) {
    if (gStartMode == kWStartUnregister) {
      if (gHooks.oleServerUnregister) gHooks.oleServerUnregister();
    } else if (gHooks.wMain) {
      gHooks.wMain();
    }
  }
  WShutdown();
  WInstanceLeave();
  return 0;
}

std::string WCommandLineFromArgs(int argc, const char* const* argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i] ? argv[i] : "";
    if (!a.empty() && a[0] == '/' && a != "/Automation" && a != "/Unregister") {
      std::string text;
      if (PlatHostToSysText(a.c_str(), &text)) a = text;
    }
    if (!line.empty()) line += ' ';
    if (a.empty() || a.find_first_of(" \t") != std::string::npos) line += "\"" + a + "\"";
    else line += a;
  }
  return line;
}
