#include "appdirs.h"

#include <mutex>

#include "config.h"
#include "counted_strings.h"
#include "debug.h"
#include "filemgr.h"
#include "memory.h"
#include "printf.h"
#include "sorting.h"
#include "platform/qx_process.h"

namespace {

// Slots of the live folders.  The lazily made ones are filled on their first
// request, from any thread, so every slot is read and written under gLock
// (taken alone: nothing here calls out while holding it but the path and
// memory managers, which take only their own locks).
enum Slot : int32 {
  kSlotLib, kSlotTemp, kSlotDefault, kSlotTopVI, kSlotVILib, kSlotControlLib, kSlotHelp, kSlotProject,
  kSlotMenus, kSlotInstrLib, kSlotUserLib, kSlotRTMenus, kSlotCount
};

std::mutex gLock;
Path gSlot[kSlotCount] = {};
Path gDefault[kAppDefCount] = {};
Str255 gMenuSetup = "\x07" "default";

void Dispose(Path* p) {
  if (*p) FDisposePath(*p);
  *p = nullptr;
}

// A new copy of p, or null.
Path Copy(Path p) {
  if (!p) return nullptr;
  Path c = FEmptyPath(nullptr);
  if (c && FPathCpy(c, p) != kNoErr) Dispose(&c);
  return c;
}

// A new path of the application folder (or the system's temporary folder)
// with an optional name appended; null on failure.
Path HostFolder(bool temp, const char* name) {
  Path p = nullptr;
  if ((temp ? FTempDirPath(&p) : FAppPath(&p)) != kNoErr) {
    Dispose(&p);
    return nullptr;
  }
  if (name) {
    Str255 pname;
    PPrintf(pname, "%s", name);
    if (FAppendName(p, pname) != kNoErr) Dispose(&p);
  }
  return p;
}

// The library folder, or the application folder before start-up sets one.
// Caller holds gLock.
MgErr CopyLibLocked(Path out) {
  if (gSlot[kSlotLib]) return FPathCpy(out, gSlot[kSlotLib]);
  Path app = HostFolder(false, nullptr);
  if (!app) return kMemFullErr;
  MgErr err = FPathCpy(out, app);
  FDisposePath(app);
  return err;
}

// A folder below the library folder, made in its slot on the first request
// and kept; 22 when it cannot be made (the slot stays empty).
MgErr CopyBelowLib(Slot slot, const char* name, Path out) {
  if (!out) return kArgErr;
  std::lock_guard<std::mutex> hold(gLock);
  if (!gSlot[slot]) {
    Path p = FEmptyPath(nullptr);
    Str255 pname;
    PPrintf(pname, "%s", name);
    if (!p || CopyLibLocked(p) != kNoErr || FAppendName(p, pname) != kNoErr) {
      Dispose(&p);
      return kCfgAllocErr;
    }
    gSlot[slot] = p;
  }
  MgErr err = FPathCpy(out, gSlot[slot]);
  if (err != kNoErr) Dispose(&gSlot[slot]);
  return err;
}

// Replaces a slot by a copy of folder (null empties it).
void SetSlot(Slot slot, Path folder) {
  Path c = Copy(folder);
  std::lock_guard<std::mutex> hold(gLock);
  Dispose(&gSlot[slot]);
  gSlot[slot] = c;
}

// The symbolic folder names in their search order, with the kind each
// stands for.
struct Symbolic {
  const char* name;
  int32 kind;
};
constexpr Symbolic kSymbolic[] = {
    {"<menus>", kAppDirMenus},    {"<vilib>", kAppDirVILib},   {"<userlib>", kAppDirUserLib},
    {"<instrlib>", kAppDirInstrLib}, {"<helpdir>", kAppDirHelp}, {"<libdir>", kAppDirLib},
    {"<topvi>", kAppDirTopVI},    {"<rtmenudir>", kAppDirRTMenus},
};

// The handle list of paths: its count and its n-th path.
int32 ListCount(UHandle list) { return list && *list ? *reinterpret_cast<const int32*>(*list) : 0; }
Path ListPath(UHandle list, int32 n) {
  return reinterpret_cast<Path>(uintptr_t(reinterpret_cast<const uInt32*>(*list)[1 + n]));
}

}  // namespace

MgErr InitAppFolderPaths() {
  static const char* const kNames[kAppDefCount] = {nullptr, "vi.lib", "control.lib", "help", "project",
                                                   "menus", "rtmenus", nullptr, nullptr};
  Path made[kAppDefCount] = {};
  MgErr err = kNoErr;
  for (int32 i = 0; i < kAppDefCount; ++i) {
    made[i] = HostFolder(i == kAppDefTempDir, kNames[i]);
    if (!made[i] && err == kNoErr) err = kMemFullErr;
  }
  Path vilib = Copy(made[kAppDefVILib]), help = Copy(made[kAppDefHelp]), project = Copy(made[kAppDefProject]);
  std::lock_guard<std::mutex> hold(gLock);
  for (int32 i = 0; i < kAppDefCount; ++i) {
    Dispose(&gDefault[i]);
    gDefault[i] = made[i];
  }
  Dispose(&gSlot[kSlotVILib]);
  Dispose(&gSlot[kSlotHelp]);
  Dispose(&gSlot[kSlotProject]);
  gSlot[kSlotVILib] = vilib;
  gSlot[kSlotHelp] = help;
  gSlot[kSlotProject] = project;
  return err;
}

MgErr InitAppDirs() {
  static const uChar kLibDir[] = "\x06" "libdir";
  static const uChar kTmpDir[] = "\x06" "tmpdir";
  static const uChar kDefaultDir[] = "\x0a" "defaultdir";
  static const uChar kMenuSetup[] = "\x09" "menuSetup";
  MgErr result = kNoErr;
  Path app = HostFolder(false, nullptr);
  Path sysTemp = HostFolder(true, nullptr);
  bool needLib, needTemp, needDefault;
  {
    std::lock_guard<std::mutex> hold(gLock);
    needLib = !gSlot[kSlotLib];
    needTemp = !gSlot[kSlotTemp] || FExists(gSlot[kSlotTemp]) != 2;
    needDefault = !gSlot[kSlotDefault];
  }
  // The library folder: the key when it names a folder, else the
  // application folder.
  if (needLib) {
    Path lib = nullptr;
    result = CfgGetPathDefault(kLibDir, &lib, app);
    if (result == kNoErr) SetSlot(kSlotLib, lib);
    Dispose(&lib);
  }
  // The temporary folder: the key when it names an existing folder, else
  // the system's.
  if (needTemp) {
    Path temp = nullptr;
    MgErr err = CfgGetPathDefault(kTmpDir, &temp, sysTemp);
    if (err != kNoErr) {
      Dispose(&temp);
      temp = Copy(sysTemp);
      err = temp ? kNoErr : kMemFullErr;
    }
    SetSlot(kSlotTemp, temp);
    Dispose(&temp);
    if (result == kNoErr) result = err;
  }
  // The default folder: the key, else the application folder, else none.
  if (needDefault) {
    Path def = nullptr;
    if (CfgGetDefault(kCfgPath, kDefaultDir, &def) != kNoErr) {
      Dispose(&def);
      def = Copy(app);
    }
    SetSlot(kSlotDefault, def);
    Dispose(&def);
  }
  UHandle setup = nullptr;
  if (CfgGetDefault(kCfgString, kMenuSetup, &setup) == kNoErr && setup && *setup) {
    std::lock_guard<std::mutex> hold(gLock);
    PStrCpy(gMenuSetup, reinterpret_cast<ConstPStr>(*setup));
  }
  if (setup) AZDisposeHandle(setup);
  Dispose(&app);
  Dispose(&sysTemp);
  return result;
}

void DisposeAppFolderPaths() {
  std::lock_guard<std::mutex> hold(gLock);
  for (Path& p : gSlot) Dispose(&p);
  for (Path& p : gDefault) Dispose(&p);
  PStrCpy(gMenuSetup, reinterpret_cast<ConstPStr>("\x07" "default"));
}

Path AppFolderDefault(int32 which) {
  if (which < 0 || which >= kAppDefCount) return nullptr;
  std::lock_guard<std::mutex> hold(gLock);
  return gDefault[which];
}

MgErr GetAppFolderPath(int32 kind, Path out) {
  if (!out) return kArgErr;
  switch (kind) {
    case kAppDirMenus: {
      static const uChar kMenusDir[] = "\x08" "menusDir";
      Path p = nullptr;
      if (CfgGetDefault(kCfgPath, kMenusDir, &p) == kNoErr && p) {
        MgErr err = FPathCpy(out, p);
        FDisposePath(p);
        return err;
      }
      Dispose(&p);
      return CopyBelowLib(kSlotMenus, "menus", out);
    }
    case kAppDirVILib: return CopyBelowLib(kSlotVILib, "vi.lib", out);
    case kAppDirHelp: return CopyBelowLib(kSlotHelp, "help", out);
    case kAppDirProject: return CopyBelowLib(kSlotProject, "project", out);
    case kAppDirLib: {
      std::lock_guard<std::mutex> hold(gLock);
      return CopyLibLocked(out);
    }
    case kAppDirTopVI: {
      std::lock_guard<std::mutex> hold(gLock);
      return gSlot[kSlotTopVI] ? FPathCpy(out, gSlot[kSlotTopVI]) : kFileNotFoundErr;
    }
    case kAppDirInstrLib: return CopyBelowLib(kSlotInstrLib, "instr.lib", out);
    case kAppDirUserLib: return CopyBelowLib(kSlotUserLib, "user.lib", out);
    case kAppDirRTMenus: return CopyBelowLib(kSlotRTMenus, "rtmenus", out);
    default: return kArgErr;
  }
}

MgErr GetLibDirPath(Path out) { return GetAppFolderPath(kAppDirLib, out); }

MgErr GetTempDirPath(Path out) {
  if (!out) return kArgErr;
  {
    std::lock_guard<std::mutex> hold(gLock);
    if (gSlot[kSlotTemp]) return FPathCpy(out, gSlot[kSlotTemp]);
  }
  Path host = HostFolder(true, nullptr);
  if (!host) return kMemFullErr;
  MgErr err = FPathCpy(out, host);
  FDisposePath(host);
  return err;
}

MgErr GetAppPath(Path out) {
  if (!out) return kArgErr;
  return FAppPath(&out);
}

MgErr GetVILibPath(Path out) { return GetAppFolderPath(kAppDirVILib, out); }
MgErr GetControlLibPath(Path out) { return CopyBelowLib(kSlotControlLib, "control.lib", out); }
MgErr GetMenusDirPath(Path out) { return GetAppFolderPath(kAppDirMenus, out); }
MgErr GetHelpDirPath(Path out) { return GetAppFolderPath(kAppDirHelp, out); }
MgErr GetProjectDirPath(Path out) { return GetAppFolderPath(kAppDirProject, out); }

MgErr GetDefaultDirPath(Path out) {
  if (!out) return kArgErr;
  std::lock_guard<std::mutex> hold(gLock);
  if (gSlot[kSlotDefault]) return FPathCpy(out, gSlot[kSlotDefault]);
  return FEmptyPath(out) ? kNoErr : kMemFullErr;
}

void SetTempDirPath(Path folder) { SetSlot(kSlotTemp, folder); }
void SetDefaultDirPath(Path folder) { SetSlot(kSlotDefault, folder); }
void SetTopVIDirPath(Path folder) { SetSlot(kSlotTopVI, folder); }

void GetMenuSetupName(PStr name) {
  std::lock_guard<std::mutex> hold(gLock);
  PStrCpy(name, gMenuSetup);
}

MgErr AppSymbolicFolder(ConstPStr name, Path out) {
  if (!name || !out) return kArgErr;
  for (const Symbolic& s : kSymbolic) {
    if (GetAppFolderPath(s.kind, out) != kNoErr) continue;
    Str255 pname;
    PPrintf(pname, "%s", s.name);
    if (PStrCaseCmp(pname, name) == 0) return kNoErr;
  }
  return kFileNotFoundErr;
}

Path MakeTempFilePathNumbered(const char* format, int32 number, Path path) {
  if (!format) return nullptr;
  // The name must fit a path component.
  const int32 n = SPrintf(nullptr, format, number);
  if (n <= 0 || n > 255) return nullptr;
  Str255 pname;
  PPrintf(pname, format, number);
  Path p = path ? path : FEmptyPath(nullptr);
  if (!p) return nullptr;
  if (GetTempDirPath(p) != kNoErr || FAppendName(p, pname) != kNoErr) {
    if (!path) FDisposePath(p);
    return nullptr;
  }
  return p;
}

Path MakeTempFilePath(const char* format, Path path) {
  return MakeTempFilePathNumbered(format, PlatProcessId() % 10000, path);
}

void CopyPathList(UHandle destination, UHandle source) {
  if (!destination) return;
  const int32 n = ListCount(source);
  for (int32 i = 0; i < n; ++i) {
    Path src = ListPath(source, i);
    if (i < ListCount(destination)) {
      if (FPathCpy(ListPath(destination, i), src) != kNoErr) QX_ASSERT_MSG(false, "CopyPathList: no memory");
      continue;
    }
    Path c = Copy(src);
    if (!c || HObjListInsert(destination, int32(uintptr_t(c)), i) != kNoErr) {
      Dispose(&c);
      DBAssert(__FILE__, __LINE__, "CopyPathList: no memory");
      return;
    }
  }
  while (ListCount(destination) > n) {
    const int32 last = ListCount(destination) - 1;
    Path extra = ListPath(destination, last);
    HObjListDelete(destination, last);
    Dispose(&extra);
  }
}

int32 PathListsDiffer(UHandle a, UHandle b) {
  const int32 n = ListCount(a);
  if (n != ListCount(b)) return 1;
  for (int32 i = 0; i < n; ++i)
    if (FPathCmp(ListPath(a, i), ListPath(b, i)) != 0) return 1;
  return 0;
}
