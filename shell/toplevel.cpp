#include "shell/toplevel.h"

#include <cstring>

#include "engine/shellsvc.h"
#include "engine/vi/archive.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "engine/vi/viload.h"
#include "mgsource/byteorder.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "shell/eventfilter.h"

namespace {

TopLevelOpenProc gOpen = nullptr;

MgErr Open(Path path, UHandle* vi, int32 flags) { return ShellOpenVIFile(path, vi, flags); }

// The walk over the listed directory: every marked entry up to the first
// unmarked one is opened (listed with top-level members first, that is
// every marked one).  The listing's counts are checked against the
// handles' sizes.
MgErr OpenMarked(Path libPath, CPStrHandle names, UHandle records, int32 flags, int32* attempts, int32* entries) {
  const int32 namesSize = AZGetHandleSize(reinterpret_cast<UHandle>(names));
  const int32 recordsSize = AZGetHandleSize(records);
  if (namesSize < 4) return kNoErr;
  const int32 count = (*names)->cnt;
  *entries = count > 0 ? count : 0;
  int32 at = 4;
  for (int32 i = 0; i < count; ++i) {
    if (12 * (i + 1) > recordsSize || at >= namesSize) break;
    const uChar* name = reinterpret_cast<const uChar*>(*names) + at;
    if (at + 1 + name[0] > namesSize) break;
    if (!(GetNative32(*records + 12 * i) & kTopLevelEntryFlag)) break;
    Str255 member;
    std::memcpy(member, name, size_t(name[0]) + 1);
    at += 1 + name[0];
    Path entry = FEmptyPath(nullptr);
    if (!entry) return kMemFullErr;
    MgErr err = FPathCpy(entry, libPath);
    if (!err) err = FAppendName(entry, member);
    if (err) {
      FDisposePath(entry);
      return err;
    }
    ++*attempts;
    Open(entry, nullptr, flags);
  }
  return kNoErr;
}

void ShowNothingOpened(int32 entries) {
  Str255 text;
  const int32 index = entries > 0 ? kWarnTopLevelNotOpened : kWarnAppTemplate;
  if (RGetIndString(RunTimeRsrcFile(), text, kLoadWarningsListId, index) != kNoErr || !text[0]) {
    const char* t = kLoadWarningTexts[index - 1];
    text[0] = uChar(std::strlen(t));
    std::memcpy(text + 1, t, text[0]);
  }
  OneButtonAlert(kAlertPStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos);
}

}  // namespace

void SetTopLevelOpenProc(TopLevelOpenProc proc) { gOpen = proc; }
MgErr ShellOpenVIFile(Path path, UHandle* vi, int32 flags) {
  return gOpen ? gOpen(path, vi, flags) : OpenVIFile(path, vi, flags);
}

MgErr OpenLibraryTopLevelVIs(Path library, int32 flags) {
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  UHandle records = AZNewHandle(0);
  if (!names || !records) {
    if (names) AZDisposeHandle(reinterpret_cast<UHandle>(names));
    if (records) AZDisposeHandle(records);
    if (library) FDisposePath(library);
    return kMemFullErr;
  }
  const bool builtIn = IsBuiltApp() && !library;
  RsrcFileRef file = 0;
  Path libPath = nullptr;
  bool openedHere = false;
  if (builtIn) {
    file = RunTimeRsrcFile();
    if (FAppFilePath(&libPath) != kNoErr) libPath = nullptr;
  } else {
    libPath = library;
    library = nullptr;
    if (libPath && ROpenFile(libPath, kRsrcReadOnly, &file, nullptr, nullptr) == kNoErr) openedHere = true;
    else file = 0;
  }
  // A library that cannot be opened or listed counts as one without entries.
  bool listed = file && libPath && ArchiveDirListRef(file, names, records, 2, 0) == kNoErr;
  int32 attempts = 0, entries = 0;
  MgErr result = kNoErr;
  if (listed) {
    AZHLock(reinterpret_cast<UHandle>(names));
    result = OpenMarked(libPath, names, records, flags, &attempts, &entries);
    AZHUnlock(reinterpret_cast<UHandle>(names));
  }
  if (attempts == 0) {
    if (IsBuiltApp()) {
      ShowNothingOpened(entries);
    } else {
      DestroySplashWindow();
      Path choice = FEmptyPath(nullptr);
      if (choice && libPath) FPathCpy(choice, libPath);
      static const uChar kNoName[] = "\0";
      if (choice && FindFileDialog(choice, kFindTypeAnyVI, kNoName) == kDialogFound) {
        Open(choice, nullptr, flags);
      } else {
        if (choice) FDisposePath(choice);
        if (!result) result = kTopLevelCancelled;
      }
    }
  }
  AZDisposeHandle(reinterpret_cast<UHandle>(names));
  AZDisposeHandle(records);
  if (libPath) FDisposePath(libPath);
  if (openedHere) RCloseFile(file);
  return result;
}

MgErr AutoLaunchVIs() {
  for (int32 n = 1;; ++n) {
    Path path = nullptr;
    const MgErr err = RGetIndPath(RunTimeRsrcFile(), &path, kAutoLaunchListId, n);
    if (err) {
      if (path) FDisposePath(path);
      return err;
    }
    if (!path) continue;
    int32 type = -1;
    if (FGetPathType(path, &type) == kNoErr && type == kAbsPath) {
      ResolveAppRelPath(path, 1);
      UHandle vi = nullptr;
      Open(path, &vi, kOpenVIShowProgress | kOpenVIRun);
    } else {
      DBPrintf("AutoLaunch VI %z has a bad path type", path);
      FDisposePath(path);
    }
  }
}
