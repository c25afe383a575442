#include "mgsource/window/wdde.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/cfgwords.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/fourcc.h"
#include "mgsource/path.h"
#include "mgsource/window/winmain.h"
#include "platform/qx_dde.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"
#include "platform/qx_registry.h"

namespace {

constexpr const char* kProduct = "Quenlix";
// "AppMsg Mgr. encountered an unrecognized type."
constexpr MgErr kAppMsgTypeErr = 73;

PlatDdeInst gServer = 0;
PlatDdeStr gTopic = 0;
PlatDdeStr gService = 0;
PlatDdeInst gLinked = 0;
DdeCallbackProc gLinkedProc = nullptr;

// The executable's full path in the system's form.
std::string ProgramText() {
  std::string host, text;
  if (!PlatProgramFile(&host) || !PlatHostToSysText(host.c_str(), &text)) return host;
  return text;
}

void EndLinked() {
  if (!gLinked) return;
  DBPrintf("about to call DdeUninit");
  PlatDdeUninitialize(gLinked);
  DBPrintf("done");
  gLinked = 0;
}

}  // namespace

uInt32 DDEServerInstance() { return gServer; }

void RegisterFileType(ConstCStr extension, ConstCStr kindWord, ConstCStr description, int32 iconIndex) {
  const std::string program = ProgramText();
  char cls[256], desc[512], command[1100], icon[1100];
  std::snprintf(cls, sizeof cls, "%s%s", kProduct, kindWord);
  std::snprintf(desc, sizeof desc, "%s %s", kProduct, description);
  std::snprintf(command, sizeof command, "\"%s\" \"%%1\"", program.c_str());
  std::snprintf(icon, sizeof icon, "%s,%d", program.c_str(), int(iconIndex));
  PlatRegSetValue(kPlatRegClassesRoot, reinterpret_cast<const char*>(extension), cls);
  PlatRegKey key = 0;
  if (PlatRegCreateKey(kPlatRegClassesRoot, cls, &key) != kPlatRegOk) {
    DBPrintf("CreateKey(lib) failed");
    return;
  }
  const AppNames* names = WAppNames();
  PlatRegSetValue(key, nullptr, desc);
  PlatRegSetValue(key, "shell\\open\\ddeexec", "open(%1)");
  PlatRegSetValue(key, "shell\\open\\ddeexec\\ifexec", " ");
  PlatRegSetValue(key, "shell\\open\\ddeexec\\application", names->shortName);
  PlatRegSetValue(key, "shell\\open\\command", command);
  PlatRegSetValue(key, "DefaultIcon", icon);
  PlatRegCloseKey(key);
}

MgErr DDEInit() {
  // The compiled-in default is on; a built application turns it off.
  if (IsBuiltApp()) CfgWordSet(kCfgWordRegisterExtensions, 0);
  CfgGetDefault(kCfgBool, reinterpret_cast<ConstPStr>("\022RegisterExtensions"), CfgWordPtr(kCfgWordRegisterExtensions));
  const int32 registerExtensions = CfgWordGet(kCfgWordRegisterExtensions);
  // Switched off, start-up goes on without the service: the read's own
  // result (20 for a missing key) would end every built application's
  // start-up here.
  if (!registerExtensions) return kNoErr;
  RegisterFileType(reinterpret_cast<ConstCStr>(".QLB"), reinterpret_cast<ConstCStr>("Library"),
                   reinterpret_cast<ConstCStr>("VI Library"), -3);
  RegisterFileType(reinterpret_cast<ConstCStr>(".VI"), reinterpret_cast<ConstCStr>("Instrument"),
                   reinterpret_cast<ConstCStr>("Instrument"), -2);
  if (const uInt32 err = PlatDdeInitialize(&gServer, reinterpret_cast<PlatDdeCallback>(&DDECallBack),
                                           kPlatDdeFailAdvises | kPlatDdeSkipRegistrations | kPlatDdeSkipUnregistrations)) {
    gServer = 0;
    return MgErr(err);
  }
  gTopic = PlatDdeCreateString(gServer, "System");
  gService = PlatDdeCreateString(gServer, WAppNames()->shortName);
  PlatDdeNameService(gServer, gService, kPlatDdeNsRegister);
  return kNoErr;
}

void DDEShutdown() {
  EndLinked();
  gLinkedProc = nullptr;
  if (!gServer) return;
  PlatDdeFreeString(gServer, gService);
  PlatDdeFreeString(gServer, gTopic);
  if (!PlatDdeUninitialize(gServer)) DBPrintf("DdeUninitialize UNsuccessful!");
  gServer = gTopic = gService = 0;
}

uInt32 DDECallBack(uInt32 type, uInt32 format, uInt32 conv, uInt32 string1, uInt32 string2, uInt32 data,
                   uInt32 data1, uInt32 data2) {
  const char* name = PlatDdeTypeName(type);
  DBPrintf("DDECallBack: %s (%ld), fmt=%ld, 0x%lx, 0x%lx, 0x%lx, 0x%lx, 0x%lx, 0x%lx", name ? name : "invalid type",
           int32(type), int32(format), conv, string1, string2, data, data1, data2);
  if (type == kPlatXtypConnect) {
    if (string1 == gTopic && string2 == gService && gTopic) {
      DBPrintf("accepted connection");
      return 1;
    }
    DBPrintf("connection refused!!!");
    return 0;
  }
  if (type != kPlatXtypExecute) return 0;
  const uInt32 size = PlatDdeGetData(data, nullptr, 0, 0);
  std::vector<char> text(size_t(size) + 1, 0);
  const uInt32 got = PlatDdeGetData(data, text.data(), size, 0);
  if (got != size) DBPrintf("something went wrong with the read(%ld:%ld)", int32(got), int32(size));
  const size_t len = std::strlen(text.data());
  if (len >= 6 && std::strncmp(text.data(), "open(", 5) == 0 && text[len - 1] == ')') {
    Path path = nullptr;
    if (FTextToPath(reinterpret_cast<const uChar*>(text.data() + 5), int32(len - 6), &path) != kNoErr || !path) {
      if (path) FDisposePath(path);
      return 0;
    }
    WEventRecord e{};
    e.code = kWEvOpenDocument;
    e.window = kWRootWindow;
    e.where = int32(uintptr_t(path));
    e.globalWhere = int32(uInt32(uInt16(-2)) << 16);  // vertical 0, horizontal -2
    if (WPostEvent(&e, 0, 1) != kNoErr) {
      FDisposePath(path);
      return 0;
    }
    DBPrintf("path to open :%z", path);
    WFrameToFront();
    return kPlatDdeFack;
  }
  if (std::strcmp(text.data(), "activate") == 0) WFrameToFront();
  else DBPrintf("unexpected DDE exec[%s]", text.data());
  return 0;
}

uInt32 DDEForwardCallBack(uInt32 type, uInt32 format, uInt32 conv, uInt32 string1, uInt32 string2, uInt32 data,
                          uInt32 data1, uInt32 data2) {
  if (DdeCallbackProc proc = gLinkedProc) return proc(type, format, conv, string1, string2, data, data1, data2);
  return type == kPlatXtypAdvData ? kPlatDdeFack : 0;
}

MgErr LinkDdeCallback(DdeCallbackProc callback, uInt32* instanceOut) {
  if (!gLinked && callback) {
    DBPrintf("Initing diagram DDE instance");
    if (PlatDdeInitialize(&gLinked, reinterpret_cast<PlatDdeCallback>(&DDEForwardCallBack), kPlatDdeFailExecutes))
      gLinked = 0;
  } else if (gLinked && !callback) {
    EndLinked();
  }
  gLinkedProc = callback;
  if (instanceOut) *instanceOut = gLinked;
  return kNoErr;
}

Bool32 AppMsgAvailable() { return 1; }

MgErr AppMsgGetStringParam(const void*, uInt32, UHandle*) { return kCapabilityErr; }

MgErr AppMsgGetParam(const void*, uInt32, uInt32 type, void*) {
  return type == FourCC("LBoo") || type == FourCC("PStr") ? kCapabilityErr : kAppMsgTypeErr;
}
