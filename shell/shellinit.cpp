#include "shell/shellinit.h"

#include <cstring>
#include <string>
#include <vector>

#include "engine/exec/exec.h"
#include "engine/link/hierarchy.h"
#include "engine/link/linker.h"
#include "engine/link/loadmethods.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "mgsource/config.h"
#include "mgsource/counted_strings.h"
#include "mgsource/byteorder.h"
#include "mgsource/filemgr.h"
#include "mgsource/draw/drawbits.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_alert.h"
#include "shell/appprint.h"
#include "shell/appcolors.h"
#include "shell/appfolders.h"
#include "shell/filesvc.h"
#include "shell/loaddialog.h"

namespace {
// The list of memory-full texts in the run-time resource file.
constexpr int32 kMemFullListId = 10000;
RsrcFileRef gTmpFile = 0;
Path gTmpPath = nullptr;

int32 TwoButtons(ConstPStr message, ConstPStr b1, ConstPStr b2, int32 defaultButton) {
  if (defaultButton != 2) return TwoButtonAlert(53, message, b1, b2, -32768, -32768) == 1 ? 1 : 0;
  // The second button is the default: the alert is put as Yes or No, whose
  // headless answer is No.
  std::string text;
  if (message) text.assign(reinterpret_cast<const char*>(message + 1), message[0]);
  return PlatAlert(nullptr, text.c_str(), kPlatYesNo, kPlatIconNone) == kPlatAnsYes ? 1 : 0;
}

// The memory-full texts, a counted list made from the string list.
CPStrHandle FullTexts(RsrcFileRef file) {
  CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHClr(sizeof(int32)));
  if (!list) return nullptr;
  Str255 s;
  for (int32 i = 1; RGetIndString(file, s, kMemFullListId, i) == kNoErr; ++i) {
    if (CPStrInsert(list, s, i - 1) != kNoErr) break;
  }
  return list;
}
}  // namespace

MgErr ShellReadSearchPath() {
  static const uChar kKey[] = "\x0cviSearchPath";
  UHandle list = nullptr;
  MgErr err = CfgGetDefault(kCfgPathList, kKey, &list);
  const int32 n = list && *list ? int32(GetNative32(*list)) : 0;
  std::vector<Path> entries;
  for (int32 i = 0; i < n; ++i) entries.push_back(reinterpret_cast<Path>(uintptr_t(GetNative32(*list + 4 + 4 * i))));
  if (err == kNoErr) err = SetVISearchPath(entries.data(), n, -1);
  else SetVISearchPath(nullptr, 0, -1);
  for (Path p : entries) FDisposePath(p);
  if (list) AZDisposeHandle(list);
  return err;
}

void ShellInstallFindHooks() {
  VIFindShellHooks h = VIFindShell();
  h.twoButtonAlert = &TwoButtons;
  SetVIFindShellHooks(&h);
  ShellInstallFolderHooks();
}

// Whether pixel blocks drawn on one-bit screens and printers are dithered.
static void ReadDitherKeys() {
  static const uChar kDithering[] = "\x09" "dithering";
  static const uChar kPrinterDithering[] = "\x10" "printerDithering";
  int32 on = 0;
  gDitherBits = CfgGetDefault(kCfgBool, kDithering, &on) == kNoErr && on ? 1 : 0;
  on = 0;
  gPrinterDitherBits = CfgGetDefault(kCfgBool, kPrinterDithering, &on) == kNoErr && on ? 1 : 0;
}

static bool gMadeQueue = false;

MgErr ShellInitEngine() {
  // The run-time resource file: the application file appended to the
  // executable; a program without one runs without it.
  Path self = nullptr;
  RsrcFileRef rt = 0;
  if (FAppFilePath(&self) == kNoErr && ROpenFile(self, kRsrcReadOnly, &rt, nullptr, nullptr) == kNoErr)
    SetRunTimeRsrcFile(rt);
  if (self) FDisposePath(self);
  // The application's folders by role.
  InitAppFolderPaths();
  InitAppDirs();
  // The application's colours, before anything draws.
  if (rt) InitAppColors(rt);
  // The text manager: the font table and the standard fonts (the
  // configuration may name them), the caret occurrence, the grey pen.
  TXInitText();
  // The menus' colours and metrics from the system's.
  MLoadMenuColors();
  ReadDitherKeys();
  // The temporary resource file for the resources of loaded external code.
  gTmpPath = MakeTempFilePath("qxrsrc%ld.tmp", nullptr);
  if (gTmpPath && RCreateFile(gTmpPath, 1, FourCC("QNLX"), FourCC("TEMP"), FGetDefPerm(0600)) == kNoErr &&
      ROpenFile(gTmpPath, kRsrcReadWrite, &gTmpFile, nullptr, nullptr) == kNoErr)
    SetTmpQXRsrcFile(gTmpFile);
  // The event queue that carries the engine's user events to this thread;
  // one the program's start-up made stays its own, to be drained at its end.
  gMadeQueue = !WEventQueueExists();
  if (MgErr err = WEventQueueInit(1)) return err;
  InitLinker();
  InstallLoadMethods();
  ShellInstallFindHooks();
  ShellInstallLoadDialogHooks();
  ShellReadSearchPath();
  if (MgErr err = InitExec()) return err;
  if (MgErr err = TypeHeapInit()) return err;
  ShellInitPrinting();
  if (rt)
    if (CPStrHandle texts = FullTexts(rt)) MemSetFullTexts(texts);
  return kNoErr;
}

void ShellFinishEngine() {
  FinishExec();
  ShellFinishPrinting();
  TXFinishText();
  if (gMadeQueue) WEventQueueInit(0);
  gMadeQueue = false;
  SetTmpQXRsrcFile(0);
  if (gTmpFile) RCloseFile(gTmpFile);
  gTmpFile = 0;
  if (gTmpPath) {
    FRemove(gTmpPath);
    FDisposePath(gTmpPath);
    gTmpPath = nullptr;
  }
  if (RsrcFileRef rt = RunTimeRsrcFile()) {
    SetRunTimeRsrcFile(0);
    RCloseFile(rt);
  }
  DisposeAppFolderPaths();
}
