#include "shell/filedlg.h"

#include "shell/prefdlg.h"

#include <algorithm>
#include <cstring>

#include "engine/shellsvc.h"
#include "engine/vi/archive.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "mgsource/appdirs.h"
#include "mgsource/byteorder.h"
#include "mgsource/config.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "mgsource/sorting.h"
#include "mgsource/window/window.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"
#include "rtlib/filehooks.h"
#include "shell/prefdlg.h"

namespace {

constexpr uInt32 kLibraryType = FourCC("QXAR");
constexpr uInt32 kKindsType = FourCC("FDFL");
// Faults of the name check that the message reports beyond those the file
// manager names: a name too long, a long extension, a leading dot.
constexpr int32 kNameTooLong = 1, kNameLongExt = 4, kNameLeadingDot = 32;

bool gRunning = false;       // user-interface thread only, like the rest
Bool32 gInNativeModal = 0;
RecentDirList gRecent[2];
UHandle gReadLists[2] = {nullptr, nullptr};  // the lists as read at start-up
const char* const kRecentKeys[2] = {"editRecentPaths", "execRecentPaths"};

void SetP(PStr out, const char* text, size_t n) {
  n = std::min<size_t>(n, 255);
  out[0] = uChar(n);
  std::memcpy(out + 1, text, n);
}
void SetP(PStr out, const std::string& s) { SetP(out, s.data(), s.size()); }

ConstPStr KeyOf(const char* name) {
  static Str255 key;
  SetP(key, name, std::strlen(name));
  return key;
}

}  // namespace

// The entry of a list of the run-time file; the file dialog's own list
// falls back to its compiled-in texts.  False when neither has it.
bool FDListText(int32 listId, int32 entry, PStr out) {
  out[0] = 0;
  if (RunTimeRsrcFile() && RGetIndString(RunTimeRsrcFile(), out, listId, entry) == kNoErr) return true;
  if (listId == kFDTextsListId && entry >= 1 && entry <= kFDTextCount) {
    SetP(out, kFDTexts[entry - 1], std::strlen(kFDTexts[entry - 1]));
    return true;
  }
  return false;
}

namespace {

Path CopyOf(Path p) {
  Path c = FEmptyPath(nullptr);
  if (c && p && FPathCpy(c, p) != kNoErr) {
    FDisposePath(c);
    return nullptr;
  }
  return c;
}

void DisposeRecent(RecentDirList& l) {
  for (RecentDir& d : l.entries) FDisposePath(d.folder);
  l.entries.clear();
}

void DisposeHandleList(UHandle list) {
  if (!list) return;
  const int32 n = *list ? int32(GetNative32(*list)) : 0;
  for (int32 i = 0; i < n; ++i) FDisposePath(reinterpret_cast<Path>(uintptr_t(GetNative32(*list + 4 + 4 * i))));
  AZDisposeHandle(list);
}

// A folder or, with flag 0x1, a VI library.
bool IsFolderOrLibrary(Path p, int32 flags) {
  const int32 e = FExists(p);
  return e == 2 || (e == 1 && (flags & kFDLibsAreFolders) && IsQLBFile(p));
}

}  // namespace

// ---- File kinds ----------------------------------------------------------------------------

bool FDParseKinds(const uChar* bytes, int32 size, std::vector<FDKindGroup>* groups) {
  groups->clear();
  if (!bytes || size < 4) return false;
  const uInt32 count = GetBE32(bytes);
  int64 at = 4;
  std::vector<FDKindGroup> read;
  for (uInt32 g = 0; g < count; ++g) {
    if (at + 1 > size) return false;
    const int32 len = bytes[at];
    const int64 padded = (int64(len) + 1 + 3) / 4 * 4;
    if (at + padded + 4 > size) return false;
    FDKindGroup group;
    group.name.assign(reinterpret_cast<const char*>(bytes + at + 1), size_t(len));
    at += padded;
    const uInt32 types = GetBE32(bytes + at);
    at += 4;
    if (int64(types) * 4 > size - at) return false;
    for (uInt32 t = 0; t < types; ++t, at += 4) group.types.push_back(GetBE32(bytes + at));
    read.push_back(std::move(group));
  }
  if (at != size) return false;
  *groups = std::move(read);
  return true;
}

bool FDKindRing::Keeps(int32 index, uInt32 type, ConstPStr name, ConstPStr pattern) const {
  if (index <= 0 || index >= Count()) return true;  // "View All"
  if (IsCustom(index)) {
    static const uChar kAll[] = "\x01*";
    ConstPStr pat = pattern && pattern[0] ? pattern : kAll;
    return FStrFitsPat(pat + 1, name + 1, pat[0], name[0]) != 0;
  }
  const std::vector<uInt32>& types = groups[size_t(index - 1)].types;
  return std::find(types.begin(), types.end(), type) != types.end();
}

MgErr FDLoadKindRing(int32 kinds, FDKindRing* ring) {
  ring->groups.clear();
  if (kinds < 0 || !RunTimeRsrcFile()) return kNoErr;
  UHandle h = nullptr;
  const MgErr err = RGet(RunTimeRsrcFile(), kKindsType, kinds, &h);
  if (err == kRsrcNotFoundErr || (err == kNoErr && !h)) return kNoErr;
  if (err) return err;
  if (!FDParseKinds(*h, AZGetHandleSize(h), &ring->groups))
    DBPrintf("FileDialog: bad file kinds resource %ld\n", long(kinds));
  return kNoErr;
}

// ---- Names and messages --------------------------------------------------------------------

int32 FDCheckName(ConstPStr name, Path folder, int32 /*options: no effect*/, PStr message) {
  static const uChar kEmpty[1] = {0};
  if (!name) name = kEmpty;
  Str255 bad;
  const int32 faults = FCheckName(name, folder, 0, bad, nullptr);
  if (!faults) return 0;
  Str255 fmt, text, line;
  FDListText(kFDTextsListId, kFDStrIllegal, fmt);
  PPrintfp(text, fmt, name);
  // The extension: what follows the last dot.
  char ext[256] = {0};
  for (int32 i = name[0]; i >= 1; --i)
    if (name[i] == '.') {
      std::memcpy(ext, name + i + 1, size_t(name[0] - i));
      break;
    }
  char badChar[2] = {bad[0] ? char(bad[1]) : '?', 0};
  const struct {
    int32 fault, entry;
    const char* arg;
  } kOrder[] = {{kNameTooLong, kFDStrTooLong, nullptr}, {kNameEndsWithDot, kFDStrEndsWithDot, nullptr},
                {kNameEmpty, kFDStrEmpty, nullptr},     {kNameLongExt, kFDStrLongExt, ext},
                {kNameBadChar, kFDStrBadChar, badChar}, {kNameReserved, kFDStrReserved, nullptr},
                {kNameLeadingDot, kFDStrLeadingDot, nullptr}};
  for (const auto& o : kOrder) {
    if (!(faults & o.fault)) continue;
    FDListText(kFDTextsListId, o.entry, fmt);
    if (o.arg) PPrintfp(line, fmt, o.arg);
    else PStrCpy(line, fmt);
    PStrCat(text, line);
  }
  if (message) PStrCpy(message, text);
  else OneButtonAlert(kAlertPStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos);
  return 1;
}

void FDFormatPathMessage(int32 listId, int32 entry, Path path, PStr out) {
  Str255 fmt, shown;
  out[0] = 0;
  if (!FDListText(listId, entry, fmt)) {
    QX_ASSERT_MSG(false, "FDFormatPathMessage: no such entry");
    return;
  }
  if (!FIsAPath(path) || FIsAPathOfType(path, kNotAPath)) FDListText(kFDTextsListId, kFDStrBadPath, shown);
  else if (FDepth(path) == 0) FDListText(kFDTextsListId, kFDStrTopLevel, shown);
  else FPathToAbbrevPStr(path, 257 - fmt[0], shown);
  PPrintfp(out, fmt, shown);
}

int32 FDPathAlert(int32 listId, int32 entry, Path path, Bool32 oneButton, ConstPStr button1, ConstPStr button2,
                  int32 defaultButton) {
  Str255 text;
  FDFormatPathMessage(listId, entry, path, text);
  if (oneButton) {
    OneButtonAlert(kAlertPStr, text, button1, kAlertDefaultPos, kAlertDefaultPos);
    return 0;
  }
  return TwoButtonAlert(kAlertPStr, text, button1, button2, defaultButton, kAlertDefaultPos, kAlertDefaultPos);
}

int32 FDRetryDriveAlert(Path path, MgErr err) {
  while (err == kFileNotFoundErr && FDepth(path) == 1) {
    if (!FDPathAlert(kFDTextsListId, kFDStrRetryDrive, path, 0, nullptr, nullptr, 1)) return 0;
    FileInfoRec info;
    err = FGetInfo(path, &info);
  }
  return 1;
}

// ---- Default folder and the native state ----------------------------------------------------

MgErr FDGetDefaultDir(Path out) {
  if (PrefGet(kPrefUseNativeFileDialog)) {
    Path cur = nullptr;
    if (FCurrentDirPath(&cur) == kNoErr && cur) {
      const MgErr err = FPathCpy(out, cur);
      FDisposePath(cur);
      return err;
    }
  }
  if (gRecent[0].lastDir) return FPathCpy(out, gRecent[0].lastDir);
  return GetDefaultDirPath(out);
}

MgErr FDSetDefaultDir(Path folder) {
  if (FExists(folder) != 2) return kFileNotFoundErr;
  for (RecentDirList& l : gRecent) {
    if (!l.lastDir) l.lastDir = FEmptyPath(nullptr);
    if (!l.lastDir || FPathCpy(l.lastDir, folder) != kNoErr) return kMemFullErr;
  }
  char text[kHostTextBufSize];
  std::string host;
  if (FPathToHostText(folder, text) != kNoErr || PlatResolveSysText(text, &host, nullptr) != 0 ||
      !PlatSetCurrentFolder(host))
    return kArgErr;
  return kNoErr;
}

void FDBeginNativeModal() {
  QX_ASSERT_MSG(!gInNativeModal, "FDBeginNativeModal: a native dialog is already up");
  gInNativeModal = 1;
  WSetNativeModal(1);
}

void FDEndNativeModal() {
  QX_ASSERT_MSG(gInNativeModal, "FDEndNativeModal: no native dialog is up");
  gInNativeModal = 0;
  WSetNativeModal(0);
}

Bool32 FDInNativeModal() { return gInNativeModal; }

// ---- Recent folders ----------------------------------------------------------------------------

RecentDirList& FDRecentList(int32 kind) { return gRecent[kind ? 1 : 0]; }

void FDRecentAdd(RecentDirList& list, Path folder, uInt32 type) {
  for (size_t i = 0; i < list.entries.size(); ++i)
    if (FPathCmp(list.entries[i].folder, folder) == 0) {
      FDRecentRemove(list, int32(i));
      break;
    }
  Path copy = CopyOf(folder);
  if (!copy) return;
  list.entries.insert(list.entries.begin(), RecentDir{copy, type});
  while (list.entries.size() > size_t(kFDRecentMax)) FDRecentRemove(list, kFDRecentMax);
}

void FDRecentRemove(RecentDirList& list, int32 index) {
  if (index < 0 || size_t(index) >= list.entries.size()) return;
  FDisposePath(list.entries[size_t(index)].folder);
  list.entries.erase(list.entries.begin() + index);
}

void FDRecentInit() {
  for (int32 k = 0; k < 2; ++k) {
    DisposeRecent(gRecent[k]);
    DisposeHandleList(gReadLists[k]);
    gReadLists[k] = nullptr;
    UHandle list = nullptr;
    CfgGetDefault(kCfgPathList, KeyOf(kRecentKeys[k]), &list);
    if (!list) list = AZNewHClr(4);
    if (!list) continue;
    // More than seven entries: the first seven count.
    while (GetNative32(*list) > uInt32(kFDRecentMax)) {
      const int32 last = int32(GetNative32(*list)) - 1;
      FDisposePath(reinterpret_cast<Path>(uintptr_t(GetNative32(*list + 4 + 4 * last))));
      HObjListDelete(list, last);
    }
    gReadLists[k] = list;
    const int32 n = int32(GetNative32(*list));
    for (int32 i = 0; i < n; ++i) {
      Path p = reinterpret_cast<Path>(uintptr_t(GetNative32(*list + 4 + 4 * i)));
      Path copy = CopyOf(p);
      if (copy) gRecent[k].entries.push_back(RecentDir{copy, FExists(p) == 1 ? kLibraryType : 0});
    }
  }
}

void FDRecentSave() {
  for (int32 k = 0; k < 2; ++k) {
    UHandle now = AZNewHClr(4);
    if (!now) continue;
    for (const RecentDir& d : gRecent[k].entries) {
      Path copy = CopyOf(d.folder);
      if (copy && HObjListInsert(now, int32(uintptr_t(copy)), 0x7FFFFFFF) != kNoErr) FDisposePath(copy);
    }
    UHandle read = gReadLists[k];
    if (!read || PathListsDiffer(read, now)) {
      if (GetNative32(*now) == 0) CfgRemove(kCfgPathList, KeyOf(kRecentKeys[k]));
      else CfgWrite(kCfgPathList, KeyOf(kRecentKeys[k]), &now);
    }
    // Shut-down: nothing of the lists stays.
    DisposeHandleList(now);
    DisposeHandleList(read);
    gReadLists[k] = nullptr;
    DisposeRecent(gRecent[k]);
    if (gRecent[k].lastDir) FDisposePath(gRecent[k].lastDir);
    gRecent[k].lastDir = nullptr;
  }
}

// ---- FileDialog ----------------------------------------------------------------------------------

namespace {
void (*gRunHook)(DialogRef) = nullptr;
}
void FDSetRunHook(void (*hook)(DialogRef dialog)) { gRunHook = hook; }

namespace {

// The own face, one pass.
MgErr OwnPass(int32 h, int32 v, ConstPStr prompt, Path path, PStr name, ConstPStr pattern, int32 flags,
              FDFilterProc filter, int32 filterData, int32 kinds) {
  FDState& s = FDCurrent();
  s = FDState{};
  s.flags = flags;
  s.filter = filter;
  s.filterData = filterData;
  s.recent = &gRecent[(flags & kFDExecKind) ? 1 : 0];
  if (name && name[0]) s.proposed.assign(reinterpret_cast<const char*>(name + 1), name[0]);
  if (pattern) s.pattern.assign(reinterpret_cast<const char*>(pattern + 1), pattern[0]);
  if (MgErr err = FDLoadKindRing(kinds, &s.kinds)) return err;
  // The start folder: the given path when absolute, else the kind's last
  // folder, else the default folder.
  Path start = FEmptyPath(nullptr);
  if (!start) return kMemFullErr;
  if (FIsAPathOfType(path, kAbsPath) || FIsAPathOfType(path, kNetworkPath)) FPathCpy(start, path);
  else if (s.recent->lastDir) FPathCpy(start, s.recent->lastDir);
  else FDGetDefaultDir(start);
  if (flags & kFDBrowse) {
    // Up to the nearest existing folder (or library); a file named by the
    // start path becomes the proposed name.
    if (FExists(start) == 1 && !IsFolderOrLibrary(start, flags) && s.proposed.empty()) {
      Str255 last;
      if (FNamePtr(start, last) == kNoErr) s.proposed.assign(reinterpret_cast<char*>(last + 1), last[0]);
    }
    while (FDepth(start) > 0 && !IsFolderOrLibrary(start, flags)) FDirName(start, start);
  }
  DialogRef dialog = DlgLoad(RunTimeRsrcFile(), kFDDialogId, nullptr, 0, &FDDialogFilter, 0);
  if (!dialog) {
    QX_ASSERT_MSG(false, "FileDialog: no file dialog resource");
    FDisposePath(start);
    return kRsrcNotFoundErr;
  }
  s.dialog = dialog;
  MgErr err = FDPanelStart(dialog, start, prompt, h, v);
  FDisposePath(start);
  if (err == kNoErr) {
    s.quitCode = kCancelErr;
    if (gRunHook) {
      gRunHook(dialog);
    } else {
      // Answered for the operator, the dialog is cancelled: there is no
      // file it could choose for them.
      if (DlgAnswersForTheOperator()) {
        WEventRecord cancel{};
        cancel.code = kDlgEvCancel;
        DlgAnswerNextLoop(dialog, cancel);
      }
      DlgBoxLoop(dialog);
    }
    err = s.quitCode;
  }
  if (err == kNoErr && s.chosen) {
    FPathCpy(path, s.chosen);
    if (name) SetP(name, s.chosenName);
    // The remembered folder: the chosen item's parent when a folder was
    // chosen in choose-folder mode without files.
    const bool chooseFolder = ((flags & kFDChooseFolders) && (flags & kFDBrowse)) ||
                              ((flags & kFDChooseLibraries) && (flags & kFDLibsAreFolders));
    Path remembered = CopyOf(s.folder);
    if (remembered && chooseFolder && !(flags & kFDChooseFiles)) FDirName(s.chosen, remembered);
    if (remembered && FDepth(remembered) > 0)
      FDRecentAdd(*s.recent, remembered, FExists(remembered) == 1 ? kLibraryType : 0);
    if (remembered) FDisposePath(remembered);
  }
  if ((err == kNoErr || err == kCancelErr) && s.folder && FDepth(s.folder) > 0) {
    if (!s.recent->lastDir) s.recent->lastDir = FEmptyPath(nullptr);
    if (s.recent->lastDir) FPathCpy(s.recent->lastDir, s.folder);
  }
  DlgUnload(dialog);
  for (Path* p : {&s.folder, &s.fixed, &s.chosen})
    if (*p) FDisposePath(*p), *p = nullptr;
  for (Path p : s.pathRing)
    if (p) FDisposePath(p);
  s.pathRing.clear();
  s.dialog = nullptr;
  return err;
}

}  // namespace

MgErr FileDialog(int32 h, int32 v, ConstPStr prompt, Path path, PStr name, ConstPStr pattern, int32 flags,
                 int32 reserved, FDFilterProc filter, int32 filterData, int32 kinds) {
  // 1. One at a time.
  if (gRunning) {
    DBPrintf("FileDialog: nested call - returning fIOErr\n");
    return kFileIOErr;
  }
  // Dialogs run on the user-interface thread only.
  if (!DlgOnUIThread()) return kFileIOErr;
  QX_ASSERT_MSG(reserved == 0, "FileDialog: reserved argument must be 0");
  if (!path) {
    QX_ASSERT_MSG(false, "FileDialog: no path");
    return kArgErr;
  }
  gRunning = true;
  // 2.-4. The native face is never suitable here: the platform has none.
  // The own face runs one pass.
  const MgErr err = OwnPass(h, v, prompt, path, name, pattern, flags, filter, filterData, kinds);
  // 5.
  gRunning = false;
  return err;
}

// ---- Hooks ------------------------------------------------------------------------------------

namespace {

MgErr FindDialog(ConstPStr prompt, Path path, int32 filter, int32 options) {
  return FileDialog(kAlertDefaultPos, kAlertDefaultPos, prompt, path, nullptr, nullptr, options, 0, nullptr, 0,
                    filter > 0 ? filter : -1);
}

// Browse... of the preferences' search paths: a folder or a VI library.
MgErr BrowseDialog(ConstPStr prompt, Path* chosen) {
  *chosen = FEmptyPath(nullptr);
  if (!*chosen) return kMemFullErr;
  const MgErr err = FileDialog(kAlertDefaultPos, kAlertDefaultPos, prompt, *chosen, nullptr, nullptr,
                               kFDChooseFolders | kFDChooseLibraries | kFDBrowse, 0, nullptr, 0, -1);
  if (err) {
    FDisposePath(*chosen);
    *chosen = nullptr;
  }
  return err;
}

MgErr FunctionsDialog(int32 h, int32 v, ConstPStr prompt, Path path, PStr name, ConstPStr pattern, int32 flags) {
  return FileDialog(h, v, prompt, path, name, pattern, flags, 0, nullptr, 0, -1);
}

}  // namespace

void ShellInstallFileDialogHooks() {
  VIFindShellHooks find = VIFindShell();
  find.fileDialog = &FindDialog;
  SetVIFindShellHooks(&find);
  FileShellHooks files = FileShell();
  files.fileDialog = &FunctionsDialog;
  SetFileShellHooks(&files);
  PrefSetBrowseProc(&BrowseDialog);
}
