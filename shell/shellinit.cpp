#include "shell/shellinit.h"
#include "shell/progmenu_internal.h"

#include "shell/eventfilter.h"

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/exec/exec.h"
#include "engine/link/hierarchy.h"
#include "engine/link/linker.h"
#include "engine/link/loadmethods.h"
#include "engine/typemgr.h"
#include "engine/vi/archive.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "mgsource/byteorder.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/extload.h"
#include "mgsource/draw/drawbits.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/printf.h"
#include "mgsource/support.h"
#include "mgsource/walert.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/winmain.h"
#include "platform/qx_alert.h"
#include "platform/qx_process.h"
#include "rtlib/filerefnum.h"
#include "rtlib/units.h"
#include "shell/appcolors.h"
#include "shell/appfolders.h"
#include "shell/appprint.h"
#include "shell/dialog.h"
#include "shell/filesvc.h"
#include "shell/loaddialog.h"
#include "shell/menuids.h"
#include "shell/shellglobals.h"

namespace {

ShellStartHooks gHooks{};

// Resources of the run-time resource file that start-up reads.
constexpr ResType kVersType = FourCC("vers");
constexpr ResType kExtlType = FourCC("EXTL");
constexpr ResType kFlagType = FourCC("FLAG");
constexpr int32 kAssertFormatsList = 11502;
constexpr int32 kMemFullListId = 10000;
constexpr int32 kActiveXTextsList = 15003;
constexpr int32 kDiskSpaceTextsList = 29370;
constexpr int32 kSupportActiveXServerFlag = 1500;
// Tries of a temporary file name that another file has taken.
constexpr int32 kTempNameTries = 100;

// What the start-up read of the version resources.
uInt32 gAppVersion = 0;
uInt32 gOldestLoadable = 0;
uInt32 gOldestCompatible = 0;
Str255 gVersionText = {0};
UHandle gLanguage = nullptr;
// The memory-full texts the memory manager shows, taken back at shut-down.
CPStrHandle gFullTexts = nullptr;
bool gInitialised = false;
bool gExecStarted = false;
bool gMadeQueue = false;

// The temporary resource files: path, reference, and whether this process
// made the file (only then is it deleted).
struct TempFile {
  Path path = nullptr;
  RsrcFileRef ref = 0;
  bool made = false;
};
TempFile gTemp[2];
bool gTempOpen = false;

// The VI server's access lists: the compiled-in defaults and the live ones.
CPStrHandle gTcpAccessDefault = nullptr, gTcpAccess = nullptr;
CPStrHandle gViAccessDefault = nullptr, gViAccess = nullptr;

void Step(const char* name) {
  if (gHooks.step) gHooks.step(name);
}

void Alert(const char* text) {
  Str255 p;
  PPrintf(p, "%s", text);
  WAlert(p, 0);
}

void Report(MgErr err, const char* what) {
  if (err) DBMgErr(__FILE__, __LINE__, err, what);
}

ConstPStr Key(const char* name) {
  static Str255 buffer;
  PPrintf(buffer, "%s", name);
  return buffer;
}

// The first entries of a string list as a counted list (null when none).
CPStrHandle ListTexts(RsrcFileRef file, int32 listId, int32 max) {
  CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHClr(sizeof(int32)));
  if (!list) return nullptr;
  Str255 s;
  for (int32 i = 1; i <= max && RGetIndString(file, s, listId, i) == kNoErr; ++i)
    if (CPStrInsert(list, s, i - 1) != kNoErr) break;
  return list;
}

// A version resource read and detached: its parts, or the lookup's error
// (1 for one too short to hold them).
MgErr LoadVers(int32 id, ShellVers* out, UHandle* keep) {
  std::memset(out, 0, sizeof *out);
  UHandle h = nullptr;
  MgErr err = RGet(RunTimeRsrcFile(), kVersType, id, &h);
  if (err != kNoErr || !h) return err ? err : kRsrcNotFoundErr;
  const bool whole = ShellParseVers(reinterpret_cast<const uChar*>(*h), AZGetHandleSize(h), out);
  if (keep && RDetach(h) == kNoErr) {
    // Kept whole, its numbers in native order.
    const int32 size = AZGetHandleSize(h);
    if (size >= 4) PutNative32(*h, out->version);
    if (size >= 6) PutNative16(*h + 4, uInt16(out->region));
    *keep = h;
  } else {
    RRelease(h);
  }
  return whole ? kNoErr : kArgErr;
}

void DisposeTempFile(TempFile* t, const char* closeText, const char* deleteText) {
  if (t->ref) {
    if (MgErr err = RCloseFile(t->ref)) DBPrintf(closeText, int(err));
  }
  t->ref = 0;
  if (t->path && t->made) {
    if (MgErr err = FRemove(t->path)) DBPrintf(deleteText, int(err));
  }
  if (t->path) FDisposePath(t->path);
  t->path = nullptr;
  t->made = false;
}

// A string-list entry of the run-time resource file, with %-arguments.
template <typename... Args>
bool ListText(int32 listId, int32 entry, PStr out, Args... args) {
  Str255 format;
  MgErr err = RGetIndString(RunTimeRsrcFile(), format, listId, entry);
  if (err != kNoErr) {
    Report(err, "string list lookup");
    return false;
  }
  PPrintfp(out, format, args...);
  return true;
}

void ReadBool(const char* key, int32 word) {
  int32 v = 0;
  if (CfgGetDefault(kCfgBool, Key(key), &v) == kNoErr) PrefSet(word, v ? 1 : 0);
}
void ReadInt(const char* key, int32 word) {
  int32 v = 0;
  if (CfgGetDefault(kCfgInt, Key(key), &v) == kNoErr) PrefSet(word, v);
}
void ReadColor(const char* key, int32 word) {
  uInt32 v = 0;
  if (CfgGetDefault(kCfgColor, Key(key), &v) == kNoErr) PrefSet(word, int32(v));
}
// A one-character setting kept as its character.
void ReadChar(const char* key, int32 word) {
  UHandle h = nullptr;
  if (CfgGetDefault(kCfgString, Key(key), &h) == kNoErr && h && *h && (*h)[0] >= 1) PrefSet(word, (*h)[1]);
  if (h) AZDisposeHandle(h);
}

// Whether the dithering of pixel blocks is on for screens and printers.
void ReadDitherKeys() {
  int32 on = 0;
  gDitherBits = CfgGetDefault(kCfgBool, Key("dithering"), &on) == kNoErr && on ? 1 : 0;
  on = 0;
  gPrinterDitherBits = CfgGetDefault(kCfgBool, Key("printerDithering"), &on) == kNoErr && on ? 1 : 0;
}

// A copy of a counted list (null when it cannot be made).
CPStrHandle CopyList(CPStrHandle list) {
  UHandle h = reinterpret_cast<UHandle>(list);
  if (!h || AZHandToHand(&h) != kNoErr) return nullptr;
  return reinterpret_cast<CPStrHandle>(h);
}

void DisposeList(CPStrHandle* list) {
  if (*list) AZDisposeHandle(reinterpret_cast<UHandle>(*list));
  *list = nullptr;
}

// An access list: the given default, a live copy with the key read over it.
void ReadAccessList(const char* key, CPStrHandle def, CPStrHandle* defSlot, CPStrHandle* live) {
  if (!def) {
    DBAssert(__FILE__, __LINE__, "can't make an access list");
    return;
  }
  DisposeList(defSlot);
  DisposeList(live);
  *defSlot = def;
  *live = CopyList(def);
  if (!*live) {
    DBAssert(__FILE__, __LINE__, "can't make an access list");
    return;
  }
  CfgGetDefault(kCfgStringList, Key(key), live);
}

void ReadAccessLists() {
  CPStrHandle tcp = reinterpret_cast<CPStrHandle>(AZNewHClr(sizeof(int32)));
  Str255 host;
  uInt32 address = 0;
  if (tcp && PrefGet(kPrefServerTcpEnabled) && gHooks.hostAddress && gHooks.hostName) {
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) == 0) {
      Str255 local;
      PPrintf(local, "%s", name);
      // The address in dotted form: "+" and a name would need a look-up at
      // every check and fail when the name does not resolve.
      if (gHooks.hostAddress(local, &address) == kNoErr && gHooks.hostName(address, host, 1) == kNoErr) {
        Str255 entry;
        PPrintf(entry, "+%p", host);
        CPStrInsert(tcp, entry, CPStrSize(tcp) > 4 ? (*tcp)->cnt : 0);
      }
    }
  }
  ReadAccessList("server.tcp.access", tcp, &gTcpAccessDefault, &gTcpAccess);
  if (gHooks.specifyTcpAccess) gHooks.specifyTcpAccess(PrefGet(kPrefServerTcpEnabled) ? gTcpAccess : nullptr);
  CPStrHandle vi = reinterpret_cast<CPStrHandle>(AZNewHClr(sizeof(int32)));
  if (vi) CPStrInsert(vi, reinterpret_cast<ConstPStr>("\x02+*"), 0);
  ReadAccessList("server.vi.access", vi, &gViAccessDefault, &gViAccess);
  if (gHooks.specifyViAccess) gHooks.specifyViAccess(gViAccess);
}

// The five compiled-in entries of the search path.
std::vector<Path> DefaultSearchPath() {
  std::vector<Path> v;
  const char* const kEntries[][2] = {
      {"<topvi>", "*"}, {"<foundvi>", nullptr}, {"<vilib>", "*"}, {"<userlib>", "*"}, {"<instrlib>", "*"}};
  for (const auto& e : kEntries) {
    Str255 first, second;
    PPrintf(first, "%s", e[0]);
    Path p = e[1] ? (PPrintf(second, "%s", e[1]), FMakePath(nullptr, kRelPath, first, second, nullptr))
                  : FMakePath(nullptr, kRelPath, first, nullptr);
    if (p) v.push_back(p);
  }
  return v;
}

// The precision keys against string list 11200.
void ReadPrecisions() {
  const struct {
    const char* key;
    int32 word;
    int32 base;
  } keys[] = {{"defPrecision", kPrefDefPrecision, 0}, {"formulaBoxPrecision", kPrefFormulaPrecision, 9}};
  for (const auto& k : keys) {
    UHandle h = nullptr;
    if (CfgGetDefault(kCfgString, Key(k.key), &h) == kNoErr && h && *h) {
      for (int32 i = 0; i < 3; ++i) {
        Str255 name;
        if (RGetIndString(RunTimeRsrcFile(), name, 11200, i + 1) == kNoErr &&
            PStrCaseCmp(name, reinterpret_cast<ConstPStr>(*h)) == 0) {
          PrefSet(k.word, k.base + i);
          break;
        }
      }
    }
    if (h) AZDisposeHandle(h);
  }
}

// The steps after the temporary files that a failing start-up undoes.
void UndoAfterTempFiles() {
  if (gExecStarted) FinishExec();
  gExecStarted = false;
  DisposeTempResFiles();
}

// The failure log "QX_Fail.txt" in the temporary folder (the application
// folder when that is unknown); nothing when a step fails.
void SetFailureLogPath(Path temp) {
  Path log = FEmptyPath(nullptr);
  if (!log) return;
  MgErr err = temp && !FIsEmptyPath(temp) ? FPathCpy(log, temp) : GetAppPath(log);
  if (!err) err = FAppendName(log, reinterpret_cast<ConstPStr>("\x0bQX_Fail.txt"));
  LStrHandle text = nullptr;
  if (!err) err = FPathToAZString(log, &text);
  if (!err && text) {
    std::string path(reinterpret_cast<const char*>((*text)->str), size_t((*text)->cnt));
    DBSetFailureLogPath(path.c_str());
  }
  if (text) AZDisposeHandle(reinterpret_cast<UHandle>(text));
  FDisposePath(log);
}

// What the menu, font and picture steps made.
void DisposeDrawingGlobals() {
  DisposeShellGlobals();
  DisposePanelImages();
  DisposePens();
}

void SplashStatus(const char* format) {
  if (!gHooks.splashStatus || WStartMode() == kWStartAutomation) return;
  Str255 f, text;
  PPrintf(f, "%s", format);
  PPrintfp(text, f, static_cast<ConstPStr>(gVersionText));
  gHooks.splashStatus(text, 0, 0);
}

}  // namespace

void ShellSetStartHooks(const ShellStartHooks& hooks) { gHooks = hooks; }
const ShellStartHooks& ShellStartHooksInUse() { return gHooks; }
ConstPStr ShellVersionText() { return gVersionText; }

bool ShellParseVers(const uChar* bytes, int32 size, ShellVers* out) {
  std::memset(out, 0, sizeof *out);
  if (!bytes || size < 0) return false;
  if (size >= 4) out->version = GetBE32(bytes);
  if (size >= 6) out->region = int16(GetBE16(bytes + 4));
  if (size < 7 || 7 + bytes[6] > size) return false;
  std::memcpy(out->shortText, bytes + 6, size_t(bytes[6]) + 1);
  return true;
}

MgErr ShellCheckExtTable(UHandle table) {
  if (!table || !*table) return kArgErr;
  const int32 size = AZGetHandleSize(table);
  if (size < 4) return kArgErr;
  const uInt32 n = GetBE32(*table);
  if (n > uInt32(size - 4) / 8) return kArgErr;
  PutNative32(*table, n);
  return kNoErr;
}

MgErr OpenRunTimeResFile() {
  Path self = nullptr;
  RsrcFileRef rt = 0;
  MgErr err = FAppFilePath(&self);
  if (err == kNoErr) err = ROpenFile(self, kRsrcReadOnly, &rt, nullptr, nullptr);
  if (self) FDisposePath(self);
  if (err == kNoErr) SetRunTimeRsrcFile(rt);
  return err;
}

int32 AppFlagIsClear(int32 id, int32 defaultValue) {
  UHandle h = nullptr;
  if (RGet(RunTimeRsrcFile(), kFlagType, id, &h) != kNoErr || !h) return defaultValue;
  const int32 result = AZGetHandleSize(h) >= 1 ? ((*h)[0] & 1) == 0 : defaultValue;
  RRelease(h);
  return result;
}

MgErr CheckDiskSpace(Path path) {
  int32 warnMin = 2000, abortMin = 500;
  CfgGetDefault(kCfgInt, Key("warnMin"), &warnMin);
  CfgGetDefault(kCfgInt, Key("abortMin"), &abortMin);
  float64 freeBytes = 0;
  const MgErr err = FMGetVolInfo(path, &freeBytes, nullptr);
  Str255 text;
  if (err != kNoErr) {
    if (ListText(kDiskSpaceTextsList, 3, text, path, long(err))) WAlert(text, 0);
    return err;
  }
  // In doubles: a kilobyte count times 1024 can pass 32 bits.
  if (freeBytes < float64(abortMin) * 1024.0) {
    if (ListText(kDiskSpaceTextsList, 1, text, long(abortMin), path)) WAlert(text, 0);
    return kDiskFullErr;
  }
  if (freeBytes < float64(warnMin) * 1024.0) {
    if (ListText(kDiskSpaceTextsList, 2, text, long(warnMin), path)) WAlert(text, 1);
  }
  return kNoErr;
}

MgErr CreateTempResFiles() {
  static const char* const kFormats[2] = {"qxtr%ld.rsc", "qxtl%ld.rsc"};
  static const char* const kCreateTexts[2] = {"error %lx creating temporary resource file",
                                              "error %lx creating temporary QXSB resource file"};
  const int32 base = PlatProcessId() % 10000;
  for (int32 which = 0; which < 2; ++which) {
    TempFile& t = gTemp[which];
    MgErr err = kNoErr;
    // A name another user's or an earlier run's file has taken is passed
    // over; that file is never touched.
    for (int32 k = 0; k < kTempNameTries; ++k) {
      t.path = MakeTempFilePathNumbered(kFormats[which], (base + k) % 10000, t.path);
      if (!t.path) {
        err = kMemFullErr;
        break;
      }
      err = RCreateFile(t.path, 0, FourCC("QNLX"), FourCC("QXRS"), FGetDefPerm(0666));
      if (err != kDupPathErr) break;
    }
    if (err != kNoErr) {
      Str255 text;
      PPrintf(text, kCreateTexts[which], long(err));
      WAlert(text, 1);
      if (t.path) FDisposePath(t.path);
      t.path = nullptr;
      return err;
    }
    t.made = true;
  }
  for (TempFile& t : gTemp)
    if (MgErr err = ROpenFile(t.path, kRsrcReadWrite, &t.ref, nullptr, nullptr)) return err;
  gTempOpen = true;
  SetTmpQXRsrcFile(gTemp[0].ref);
  return kNoErr;
}

void DisposeTempResFiles() {
  SetTmpQXRsrcFile(0);
  DisposeTempFile(&gTemp[0], "error closing tmp resfile: %d", "error deleting tmp resfile: %d");
  DisposeTempFile(&gTemp[1], "error closing tmp qxsb resfile: %d", "error deleting tmp qxsb resfile: %d");
  gTempOpen = false;
}

Path ShellTempResFilePath(int32 which) { return which == 0 || which == 1 ? gTemp[which].path : nullptr; }

MgErr ShellReadSearchPath() {
  UHandle list = nullptr;
  MgErr err = CfgGetDefault(kCfgPathList, Key("viSearchPath"), &list);
  std::vector<Path> entries;
  int32 foundIndex = -1;
  PrefSet(kPrefSearchBelowFoundVI, 0);
  // A key present with no entries gives an empty search path.
  if (err == kCfgTokenNotFoundErr && CfgKeyPresent(Key("viSearchPath"))) err = kNoErr;
  if (err != kNoErr) {
    // Missing: the five compiled-in entries; "<foundvi>" is the second.
    entries = DefaultSearchPath();
    foundIndex = 1;
  } else {
    const int32 n = list && *list ? int32(GetNative32(*list)) : 0;
    for (int32 i = 0; i < n; ++i) entries.push_back(reinterpret_cast<Path>(uintptr_t(GetNative32(*list + 4 + 4 * i))));
    static const uChar kFoundVI[] = "\x09<foundvi>";
    for (Path p : entries) FSetPathType(p, kAbsPath);
    for (size_t i = 0; i < entries.size(); ++i) {
      const int32 depth = FDepth(entries[i]);
      Str255 first;
      if ((depth != 1 && depth != 2) || FNthName(entries[i], 0, first) != kNoErr || PStrCmp(first, kFoundVI) != 0)
        continue;
      foundIndex = int32(i);
      Str255 last;
      if (depth == 2 && FNthName(entries[i], 1, last) == kNoErr && last[0] == 1 && last[1] == '*')
        PrefSet(kPrefSearchBelowFoundVI, 1);
      break;
    }
  }
  MgErr setErr = SetVISearchPath(entries.data(), int32(entries.size()), foundIndex);
  for (Path p : entries) FDisposePath(p);
  if (list) AZDisposeHandle(list);
  return err == kNoErr ? setErr : err;
}

CPStrHandle ShellTcpAccessList() { return gTcpAccess; }
CPStrHandle ShellViAccessList() { return gViAccess; }
CPStrHandle ShellAccessDefault(bool tcpList) { return tcpList ? gTcpAccessDefault : gViAccessDefault; }

void ReadShellPreferences() {
  const struct {
    const char* key;
    int32 kind;
    int32 word;
  } first[] = {
      {"QXdebugKeys", kCfgBool, kPrefQXDebugKeys},
      {"useWindowMenuBars", kCfgBool, kPrefUseWindowMenuBars},
      {"anxiousMemoryDeallocation", kCfgBool, kPrefAnxiousMemoryDeallocation},
      {"offscreenUpdates", kCfgBool, kPrefOffscreenUpdates},
      {"memoryChecking", kCfgBool, kPrefMemoryChecking},
      {"scrollingStripCharts", kCfgBool, kPrefScrollingStripCharts},
      {"keepIntensityBitmap", kCfgBool, kPrefKeepIntensityBitmap},
      {"panel.background", kCfgColor, kPrefPanelBackground},
      {"execPalette.foreground", kCfgColor, kPrefExecPaletteForeground},
      {"execPalette.background", kCfgColor, kPrefExecPaletteBackground},
      {"cursor.foreground", kCfgColor, kPrefCursorForeground},
      {"cursor.background", kCfgColor, kPrefCursorBackground},
      {"scrollbar.foreground", kCfgColor, kPrefScrollbarForeground},
      {"scrollbar.background", kCfgColor, kPrefScrollbarBackground},
      {"returnKeyAction", kCfgInt, kPrefReturnKeyAction},
      {"showWarnings", kCfgBool, kPrefShowWarnings},
      {"useAllFKeys", kCfgBool, kPrefUseAllFKeys},
      {"useNewPrintHeader", kCfgBool, kPrefUseNewPrintHeader},
      {"skipNavigatorDialog", kCfgBool, kPrefSkipNavigatorDialog},
      {"simpleExitDialog", kCfgBool, kPrefSimpleExitDialog},
      {"hotMenus", kCfgBool, kPrefHotMenus},
      {"dropThroughClicks", kCfgBool, kPrefDropThroughClicks},
      {"hour24", kCfgBool, kPrefHour24},
      {"dateDayFirst", kCfgBool, kPrefDateDayFirst},
      {"yearFirst", kCfgBool, kPrefYearFirst},
      {"timeSeparator", kCfgString, kPrefTimeSeparator},
      {"dateSeparator", kCfgString, kPrefDateSeparator},
      {"blinkSpeed", kCfgInt, kPrefBlinkSpeed},
      {"blinkFG", kCfgColor, kPrefBlinkFG},
      {"blinkBG", kCfgColor, kPrefBlinkBG},
      {"showTipStrings", kCfgBool, kPrefShowTipStrings},
      {"mutateToPeriodDecimalPoint", kCfgBool, kPrefMutateToPeriodDecimalPoint},
      {"server.ole.enabled", kCfgBool, kPrefServerOleEnabled},
      {"server.tcp.enabled", kCfgBool, kPrefServerTcpEnabled},
      {"server.tcp.port", kCfgInt, kPrefServerTcpPort},
      {"server.tcp.paranoid", kCfgBool, kPrefServerTcpParanoid},
      {"readOnlyLock", kCfgBool, kPrefReadOnlyLock},
      {"updateSubVICtrlsFromIUseConsts", kCfgBool, kPrefUpdateSubVICtrlsFromIUseConsts},
  };
  // The dithering and printing keys stand first in the order; their
  // variables are the drawing and print managers'.
  Step("prefs: keys");
  ReadBool("simplePopups", kPrefSimplePopups);
  ReadDitherKeys();
  ReadBool("lazyUpdateClipboard", kPrefLazyUpdateClipboard);
  PReadPrintPrefs();
  for (const auto& k : first) {
    if (k.kind == kCfgBool) ReadBool(k.key, k.word);
    else if (k.kind == kCfgInt) ReadInt(k.key, k.word);
    else if (k.kind == kCfgColor) ReadColor(k.key, k.word);
    else ReadChar(k.key, k.word);
    if (k.word == kPrefQXDebugKeys) DBSetContinueAfterFailure(PrefGet(kPrefQXDebugKeys));
    if (k.word == kPrefShowWarnings) PrefSet(kPrefCurrentWarnings, PrefGet(kPrefShowWarnings));
    if (k.word == kPrefServerOleEnabled && AppFlagIsClear(kSupportActiveXServerFlag, 0) == 1)
      PrefSet(kPrefServerOleEnabled, 0);
  }
  Step("prefs: access lists");
  ReadAccessLists();
  ReadBool("server.vi.callsEnabled", kPrefServerVICallsEnabled);
  ReadBool("server.vi.propertiesEnabled", kPrefServerVIPropertiesEnabled);
  ReadBool("server.app.propertiesEnabled", kPrefServerAppPropertiesEnabled);
  // A language resource with a region code shows VI titles in palettes.
  if (gLanguage && AZGetHandleSize(gLanguage) >= 6 && GetNative16(*gLanguage + 4) != 0) {
    PrefSetDefault(kPrefVITitleInPalettes, 1);
    PrefSet(kPrefVITitleInPalettes, 1);
  }
  ReadBool("viTitleInPalettes", kPrefVITitleInPalettes);
  ReadBool("viCaptionTipStrings", kPrefVICaptionTipStrings);
  Step("prefs: search path");
  ShellReadSearchPath();
  if (gHooks.recentInit) gHooks.recentInit();
  Step("prefs: precisions");
  ReadPrecisions();
  ReadBool("flushDrawing", kPrefFlushDrawing);
  ReadBool("useNativeFileDialog", kPrefUseNativeFileDialog);
  ReadBool("editRTMenusFromRsrc", kPrefEditRTMenusFromRsrc);
}

void ShellInstallFindHooks() {
  VIFindShellHooks h = VIFindShell();
  h.destroySplashWindow = &DestroySplashWindow;
  SetVIFindShellHooks(&h);
  ShellInstallAlertHooks();
  ShellInstallFolderHooks();
}

MgErr ShellInit() {
  Step("defaults");
  PrefResetToDefaults();
  Step("folders");
  InitAppFolderPaths();
  Step("resource file");
  if (MgErr err = OpenRunTimeResFile()) {
    Alert("Unable to open resource files.");
    return err;
  }
  const RsrcFileRef rt = RunTimeRsrcFile();
  Step("file types");
  UHandle ext[2] = {nullptr, nullptr};
  for (int32 id = 0; id < 2; ++id) {
    if (RGet(rt, kExtlType, id, &ext[id]) != kNoErr || !ext[id]) {
      ext[id] = nullptr;
      continue;
    }
    RDetach(ext[id]);
    if (MgErr err = ShellCheckExtTable(ext[id])) {
      Report(err, "file-type table runs past its resource");
      AZDisposeHandle(ext[id]);
      ext[id] = nullptr;
    }
  }
  FSetResExt(ext[0], ext[1]);
  Step("version");
  ShellVers vers;
  Report(LoadVers(1, &vers, nullptr), "vers 1");
  if (vers.version != kShellAppVersion) {
    Str255 own, file, format, text;
    VersToPStr(kShellAppVersion, own);
    VersToPStr(vers.version, file);
    PPrintf(format, "%s", "Executable version (%p) doesn't match resource file (%p).\nCheck your configuration.");
    PPrintfp(text, format, static_cast<ConstPStr>(own), static_cast<ConstPStr>(file));
    WAlert(text, 0);
    return kArgErr;
  }
  gAppVersion = vers.version;
  // The key names come from this file from now on.
  CfgSetKeyNameFile(rt);
  Report(LoadVers(2, &vers, nullptr), "vers 2");
  PStrCpy(gVersionText, vers.shortText);
  Report(LoadVers(3, &vers, nullptr), "vers 3");
  gOldestLoadable = vers.version;
  Report(LoadVers(4, &vers, nullptr), "vers 4");
  gOldestCompatible = vers.version;
  if (gLanguage) AZDisposeHandle(gLanguage);
  gLanguage = nullptr;
  Report(LoadVers(5, &vers, &gLanguage), "vers 5");
  Step("colours");
  InitAppColors(rt);
  TXInitText();
  Step("texts");
  if (CPStrHandle formats = ListTexts(rt, kAssertFormatsList, 2)) {
    if ((*formats)->cnt > 0) DBSetAlertFormats(formats);
    AZDisposeHandle(reinterpret_cast<UHandle>(formats));
  }
  if (CPStrHandle texts = ListTexts(rt, kMemFullListId, 5)) {
    MemSetFullTexts(texts);
    if (gFullTexts) AZDisposeHandle(reinterpret_cast<UHandle>(gFullTexts));
    gFullTexts = texts;
  }
  Step("folders from keys");
  InitAppDirs();
  Path temp = FEmptyPath(nullptr);
  if (temp) Report(GetTempDirPath(temp), "temporary folder");
  Step("disk space");
  ReadBool("checkAvailDiskSpace", kPrefCheckAvailDiskSpace);
  if (PrefGet(kPrefCheckAvailDiskSpace)) {
    if (MgErr err = CheckDiskSpace(temp)) {
      if (temp) FDisposePath(temp);
      return err;
    }
  }
  Step("windows");
  ShellClosedWindow();
  if (WStartMode() != kWStartAutomation && gHooks.createSplash) gHooks.createSplash();
  MLoadMenuColors();
  Step("preferences");
  ReadShellPreferences();
  ReadColor("menu.foreground", kPrefMenuForeground);
  ReadInt("trackTimeout", kPrefTrackTimeout);
  ReadColor("menu.background", kPrefMenuBackground);
  ReadColor("menubar.foreground", kPrefMenubarForeground);
  ReadColor("menubar.background", kPrefMenubarBackground);
  ReadBool("scrollGraphCursors", kPrefScrollGraphCursors);
  ReadBool("smoothGraphMarkers", kPrefSmoothGraphMarkers);
  PrefSet(kPrefDialogPanelFlag, 1);
  ReadBool("enableAutoScales", kPrefEnableAutoScales);
  ReadBool("enableMultiScales", kPrefEnableMultiScales);
  SplashStatus("Version %p - Init tmp resource files");
  Step("temporary files");
  if (MgErr err = CreateTempResFiles()) {
    DisposeTempResFiles();
    if (temp) FDisposePath(temp);
    return err;
  }
  SetFailureLogPath(temp);
  ReadBool("activeX.freeThreaded", kPrefActiveXFreeThreaded);
  Step("engine");
  // The event queue that carries the engine's user events to this thread;
  // one the program's start-up made stays its own, to be drained at its end.
  gMadeQueue = !WEventQueueExists();
  if (MgErr err = WEventQueueInit(1)) {
    UndoAfterTempFiles();
    if (temp) FDisposePath(temp);
    return err;
  }
  InitLinker();
  InstallLoadMethods();
  Report(InitExec(), "execution systems");
  gExecStarted = true;
  const MgErr automation = gHooks.automationInit ? gHooks.automationInit() : kArgErr;
  ReadBool("checkActiveXLibs", kPrefCheckActiveXLibs);
  if (automation != kNoErr && PrefGet(kPrefCheckActiveXLibs)) {
    Str255 a, b;
    if (RGetIndString(rt, a, kActiveXTextsList, 1) == kNoErr && RGetIndString(rt, b, kActiveXTextsList, 2) == kNoErr) {
      Str255 text;
      PPrintf(text, "%p%p", static_cast<ConstPStr>(a), static_cast<ConstPStr>(b));
      WAlert(text, 1);
    }
  }
  Step("refnums");
  Report(FRefNumJarCreate(), "file refnums");
  if (gHooks.helpInitFiles) gHooks.helpInitFiles();
  Str255 notAPath;
  GetAppIndString(3, notAPath, reinterpret_cast<ConstPStr>("\x0c<Not A Path>"));
  FSetNotAPathText(notAPath);
  Str255 tooLong;
  GetAppIndString(4, tooLong, reinterpret_cast<ConstPStr>("\x0f<path too long>"));
  SPrintfSetPathTooLongText(tooLong);
  Step("menus");
  SplashStatus("Version %p - Init menus");
  MenuTableReset(0);
  MenuTrackedInit();
  if (gHooks.initAppMenus) Report(gHooks.initAppMenus(), "menus");
  InitPens();
  InitPanelImages(rt);
  Step("fonts");
  SplashStatus("Version %p - Init Fonts");
  InitFontGlobals();
  InitShellGlobals(gAppVersion);
  Step("types");
  if (gHooks.boolTrackMutexInit && ExecThreadsOn()) gHooks.boolTrackMutexInit();
  if (gHooks.blinkInit) gHooks.blinkInit();
  UnitsInit();
  MgErr result = TypeHeapInit();
  if (result == kNoErr && gHooks.viRefInit) result = gHooks.viRefInit();
  if (result != kNoErr) {
    UndoAfterTempFiles();
    DisposeDrawingGlobals();
    if (temp) FDisposePath(temp);
    return result;
  }
  ShellInitPrinting();
  Step("instruments and servers");
  if (gHooks.visaInit) gHooks.visaInit();
  if (gHooks.tagListsInit) gHooks.tagListsInit();
  if (gHooks.tcpServerInit) gHooks.tcpServerInit();
  if (AppFlagIsClear(kSupportActiveXServerFlag, 0) == 0 && gHooks.oleServerStart) gHooks.oleServerStart();
  gInitialised = true;
  if (temp) FDisposePath(temp);
  return result;
}

void ShellSaveTileUpDown(int32 tile) {
  // The key holds the live value only when it differs from the default.
  CfgGetDefault(kCfgBool, Key("tileUpDown"), &tile);
  const int32 live = PrefGet(kPrefTileUpDown);
  if ((tile != 0) == (live != 0)) return;
  if ((tile != 0) != (PrefDefault(kPrefTileUpDown) != 0)) CfgRemove(kCfgBool, Key("tileUpDown"));
  else CfgWrite(kCfgBool, Key("tileUpDown"), &live);
}

void ShellShutDown() {
  Step("down: tileUpDown default");
  int32 tile = PrefDefault(kPrefTileUpDown);
  Step("down: execution");
  if (gExecStarted) FinishExec();
  gExecStarted = false;
  Step("down: instruments and servers");
  if (gHooks.instrShutDown) gHooks.instrShutDown();
  if (gHooks.tagListsDispose) gHooks.tagListsDispose();
  if (gHooks.boolTrackMutexDispose) gHooks.boolTrackMutexDispose();
  if (gHooks.automationExit) gHooks.automationExit();
  if (gHooks.oleServerStop) gHooks.oleServerStop();
  Step("down: help");
  if (gHooks.helpQuit) gHooks.helpQuit();
  Step("down: tileUpDown");
  ShellSaveTileUpDown(tile);
  Step("down: recent paths and refnums");
  if (gHooks.recentSave) gHooks.recentSave();
  FRefNumJarDispose();
  Step("down: windows");
  ShellFinishPrinting();
  Step("down: archive");
  if (MgErr err = CleanUpArchive()) DBPrintf("error from CleanUpArchive: %d", int(err));
  Step("down: temporary files");
  DisposeTempResFiles();
  Step("down: run-time menus");
  if (gHooks.rtmShutDown) gHooks.rtmShutDown();
  // What start-up made for the shell's own use.
  if (gMadeQueue) WEventQueueInit(0);
  gMadeQueue = false;
  // The application's menus with the paths their help items hold.
  DisposeAppMenus();
  MenuTableReset(1);
  DisposeList(&gTcpAccessDefault);
  DisposeList(&gTcpAccess);
  DisposeList(&gViAccessDefault);
  DisposeList(&gViAccess);
  if (gLanguage) AZDisposeHandle(gLanguage);
  gLanguage = nullptr;
  DisposeDrawingGlobals();
  // The engine's tables, the lists read from the preferences and the
  // run-time file's file-type tables and memory-full texts.
  TypeHeapDispose();
  FinishLinker();
  SetVISearchPath(nullptr, 0, -1);
  FSetResExt(nullptr, nullptr);
  if (gFullTexts) {
    MemSetFullTexts(nullptr);
    AZDisposeHandle(reinterpret_cast<UHandle>(gFullTexts));
    gFullTexts = nullptr;
  }
  DBSetFailureLogPath(nullptr);
  CfgSetKeyNameFile(0);
  if (RsrcFileRef rt = RunTimeRsrcFile()) {
    SetRunTimeRsrcFile(0);
    RCloseFile(rt);
  }
  DisposeAppFolderPaths();
  gInitialised = false;
}
