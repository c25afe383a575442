// Finding and opening VI files: the search order, the search path and the
// directories found while loading, the link-search hook and the dialog that
// asks the user.
#include "engine/vi/vifind.h"

#include "engine/link/hierarchy.h"
#include "engine/vi/viload.h"
#include "mgsource/window/wmisc.h"
#include "engine/vi/vifind_internal.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/vi/archive.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/config.h"
#include "mgsource/counted_strings.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/support.h"
#include "mgsource/thread.h"
#include "platform/qx_file.h"

const LoadText kLoadTexts[] = {
    {kLoadingStringsListId, kLoadStrAddDirectory, "Do you wish to add the directory \"%p\" to your search path?"},
    {kLoadingStringsListId, kLoadStrOpenWithout,
     "Some subVIs or controls have not been loaded yet. Do you want to open %p without them?"},
    {kLoadingStringsListId, kLoadStrIgnoreControl, "Ignore Control"},
    {kLoadingStringsListId, kLoadStrIgnoreSubr, "Ignore QXSB"},
    {kLoadingStringsListId, kLoadStrIgnoreSubVI, "Ignore SubVI"},
    {kLoadingStringsListId, kLoadStrIgnoreLibrary, "Ignore Library"},
    {kLoadingStringsListId, kLoadStrLoadedCount, "%ld Loaded"},
    {kYesNoListId, kYesNoNo, "No"},
    {kYesNoListId, kYesNoYes, "Yes"},
    {kFilePromptsListId, kPromptChooseSubr, "Choose a code resource file:"},
    {kFilePromptsListId, kPromptChooseVI, "Choose the VI to open:"},
    {kFilePromptsListId, kPromptFindFile, "Please find the file of type %4c named \"%p\""},
    {kFilePromptsListId, kPromptChooseControl, "Choose a custom control to open:"},
    {kFilePromptsListId, kPromptChooseFile, "Choose a file of type %4c to open:"},
    {kFilePromptsListId, kPromptFindVI, "Please find the VI named \"%p\""},
    {kFilePromptsListId, kPromptFindControl, "Please find the Type Definition named \"%p\""},
    {kFilePromptsListId, kPromptSelectLibrary, "Select a library:"},
    {kCantLoadListId, kCantLoadNotVI, "The file %p is not a VI.\nSelect another?"},
    {kCantLoadListId, kCantLoadNotSubr, "The file %p is not a subroutine.\nSelect another?"},
    {kCantLoadListId, kCantLoadNotControl, "The file %p is not a custom control.\nSelect another?"},
    {kCantLoadListId, kCantLoadWrongType, "The selected file was not of type %4c.\nSelect another?"},
    {kLoadPhaseListId, 1, "Loading:"},
};
const int32 kLoadTextCount = int32(sizeof kLoadTexts / sizeof kLoadTexts[0]);

void LoadTextOf(int32 list, int32 index, uChar* out) {
  out[0] = 0;
  if (RunTimeRsrcFile() && RGetIndString(RunTimeRsrcFile(), out, list, index) == kNoErr) return;
  for (int32 i = 0; i < kLoadTextCount; ++i) {
    if (kLoadTexts[i].list != list || kLoadTexts[i].index != index) continue;
    const size_t n = std::min<size_t>(std::strlen(kLoadTexts[i].text), 255);
    out[0] = uChar(n);
    std::memcpy(out + 1, kLoadTexts[i].text, n);
    return;
  }
}

bool FindTypeMatches(uInt32 want, uInt32 got) {
  return want == got || (want == kFindTypeAnyVI && (got == kFindTypeVI || got == kFindTypeControl));
}

// ---- the link-search hook ------------------------------------------------------------
namespace {
LinkSearchHookProc gHookProc = nullptr;
void* gHookContext = nullptr;

int32 CallHook(int32 op, ConstPStr name, Path path, uInt32 cls) {
  return gHookProc ? gHookProc(gHookContext, op, name, path, -1, -1, cls) : 1;
}
}  // namespace

int32 SetLinkSearchHook(LinkSearchHookProc proc, void* context) {
  if (gHookProc) return 0;
  gHookProc = proc;
  gHookContext = context;
  return 1;
}

void* ClearLinkSearchHook() {
  if (!gHookProc) DBAssert(__FILE__, __LINE__, "no link-search hook is installed");
  void* context = gHookContext;
  gHookProc = nullptr;
  gHookContext = nullptr;
  return context;
}

int32 LinkHookCallFind(ConstPStr name, Path path, uInt32 classCode) {
  return CallHook(kLinkHookFind, name, path, classCode);
}
int32 LinkHookCallSearch(ConstPStr name, Path path, uInt32 fileType) {
  return CallHook(kLinkHookSearch, name, path, fileType);
}

using namespace vifind;

// ---- the search path -----------------------------------------------------------------
namespace {
std::vector<Path> gSearchPath;
std::vector<Path> gFoundDirs;
int32 gFoundDirsIndex = -1;
VIFindShellHooks gShell{};

void DisposeAll(std::vector<Path>* v) {
  for (Path p : *v) FDisposePath(p);
  v->clear();
}
// The parent of a path as a new path, or null (a path without components).
Path ParentOf(Path p) {
  if (!FIsAPath(p) || FDepth(p) < 1) return nullptr;
  Path dir = CopyOf(p);
  if (dir && FDirName(dir, dir) != kNoErr) {
    FDisposePath(dir);
    return nullptr;
  }
  return dir;
}
// dir/name as a new path, or null.
Path Child(Path dir, ConstPStr name) {
  Path p = CopyOf(dir);
  if (p && FAppendName(p, name) != kNoErr) {
    FDisposePath(p);
    return nullptr;
  }
  return p;
}
// Puts a copy of dir at the front of the found-directories list (moving it
// there when it is present already).
void FoundDirToFront(Path dir) {
  for (size_t i = 0; i < gFoundDirs.size(); ++i) {
    if (FPathCmp(gFoundDirs[i], dir) != 0) continue;
    std::rotate(gFoundDirs.begin(), gFoundDirs.begin() + ptrdiff_t(i), gFoundDirs.begin() + ptrdiff_t(i) + 1);
    return;
  }
  if (Path c = CopyOf(dir)) gFoundDirs.insert(gFoundDirs.begin(), c);
}
}  // namespace

MgErr SetVISearchPath(const Path* entries, int32 count, int32 foundDirsIndex) {
  DisposeAll(&gSearchPath);
  DisposeAll(&gFoundDirs);
  gFoundDirsIndex = -1;
  for (int32 i = 0; i < count; ++i) {
    Path c = CopyOf(entries[i]);
    if (!c) {
      DisposeAll(&gSearchPath);
      return kMemFullErr;
    }
    gSearchPath.push_back(c);
  }
  gFoundDirsIndex = foundDirsIndex >= 0 && foundDirsIndex < count ? foundDirsIndex : -1;
  return kNoErr;
}

MgErr AddVISearchPathDir(int32 /*zero*/, Path dir) {
  Path c = CopyOf(dir);
  if (!c) return FIsAPath(dir) ? kMemFullErr : kArgErr;
  gSearchPath.push_back(c);
  return kNoErr;
}

int32 VISearchPathCount() { return int32(gSearchPath.size()); }
Path VISearchPathEntry(int32 index) {
  return index >= 0 && index < VISearchPathCount() ? gSearchPath[size_t(index)] : nullptr;
}
int32 VIFoundDirsIndex() { return gFoundDirsIndex; }
int32 VIFoundDirsCount() { return int32(gFoundDirs.size()); }
Path VIFoundDir(int32 index) {
  return index >= 0 && index < VIFoundDirsCount() ? gFoundDirs[size_t(index)] : nullptr;
}

void ResetFoundDirs() {
  if (gFoundDirsIndex >= 0) DisposeAll(&gFoundDirs);
}

void SetVIFindShellHooks(const VIFindShellHooks* hooks) { gShell = hooks ? *hooks : VIFindShellHooks{}; }
const VIFindShellHooks& VIFindShell() { return gShell; }

int32 ResolveAppRelPath(Path path, int32 /*flag*/) {
  if (!FIsAPath(path) || FDepth(path) < 1 || !gShell.symbolicFolder) return 0;
  Str255 first;
  // Every symbolic name is written in angle brackets.
  if (FNthName(path, 0, first) != kNoErr || first[0] < 3 || first[1] != '<') return 0;
  OwnedPath folder(FEmptyPath(nullptr));
  if (!folder.p || gShell.symbolicFolder(first, folder.p) != kNoErr) return 0;
  const int32 depth = FDepth(path);
  for (int32 i = 1; i < depth; ++i) {
    Str255 name;
    if (FNthName(path, i, name) != kNoErr || FAppendName(folder.p, name) != kNoErr) return 0;
  }
  return FPathCpy(path, folder.p) == kNoErr ? 1 : 0;
}

// ---- finding -------------------------------------------------------------------------
namespace {
// The member's type in the executable's own library (built applications only).
bool OwnLibraryType(ConstPStr name, uInt32* type) {
  return IsBuiltApp() && RunTimeRsrcFile() && ArchiveLookupMember(nullptr, name, type) == kNoErr;
}
}  // namespace

int32 LocateVIFile(Path path, uInt32 fileType) {
  Str255 name;
  if (!FIsAPath(path) || FDepth(path) < 1 || FNamePtr(path, name) != kNoErr || name[0] == 0) return 0;
  uInt32 type = 0;
  if (OwnLibraryType(name, &type)) return FindTypeMatches(fileType, type) ? 1 : 0;
  OwnedPath dir(ParentOf(path));
  if (!dir.p) return 0;
  const int32 kind = FExists(dir.p);
  if (kind == 2) {
    uInt32 got = 0;
    return RIsResFile(path, &got, nullptr) == kNoErr && FindTypeMatches(fileType, got) ? 1 : 0;
  }
  if (kind == 1 && IsQLBFile(dir.p))
    return ArchiveLookupMember(dir.p, name, &type) == kNoErr && FindTypeMatches(fileType, type) ? 1 : 0;
  return 0;
}

int32 OpenVIFileInDir(Path dir, ConstPStr name, uInt32 fileType, int32 mode, RsrcFileRef* file, Bool32 checkHook,
                      Bool32* fromLibrary) {
  if (file) *file = 0;
  if (fromLibrary) *fromLibrary = 0;
  if (!file || !name || name[0] == 0 || !FIsAbsPath(dir)) return kFindNotFound;
  if (checkHook) {
    const int32 answer = LinkHookCallSearch(name, dir, fileType);
    if (answer >= kFindGiveUp && answer <= kFindContinue) return answer;
  }
  OwnedPath target(Child(dir, name));
  if (!target.p) return kFindNotFound;
  const int32 kind = FExists(dir);
  RsrcFileRef f = 0;
  uInt32 type = 0;
  if (kind == 2) {
    if (ROpenFile(target.p, mode, &f, &type, nullptr) != kNoErr) return kFindNotFound;
  } else if (kind == 1 && IsQLBFile(dir)) {
    if (ArchiveExtractByPath(target.p, nullptr, &f, &type, nullptr) != kNoErr) return kFindNotFound;
    if (fromLibrary) *fromLibrary = 1;
  } else {
    return kFindNotFound;
  }
  if (!FindTypeMatches(fileType, type)) {
    RCloseFile(f);
    if (fromLibrary) *fromLibrary = 0;
    return kFindNotFound;
  }
  *file = f;
  return kFindInFolder;
}

namespace vifind {
Path CopyOf(Path p) {
  if (!p) return nullptr;
  Path c = p;
  return FPathToPath(&c) == kNoErr ? c : nullptr;
}

bool IsStarEntry(Path p) {
  Str255 last;
  return FDepth(p) >= 1 && FNamePtr(p, last) == kNoErr && last[0] == 1 && last[1] == '*';
}

bool FolderIdentity(Path dir, FolderId* id) {
  char text[kHostTextBufSize];
  PlatFileAttr a{};
  if (FPathToHostText(dir, text) != kNoErr || PlatFileAttrOf(text, &a) != 0 || !a.isDir) return false;
  *id = {a.device, a.inode};
  return true;
}
}  // namespace vifind

namespace {
int32 SearchTree(Path dir, ConstPStr name, uInt32 fileType, int32 mode, RsrcFileRef* file, Bool32 checkHook,
                 Bool32* fromLibrary, Path* found, std::set<FolderId>* seen) {
  FolderId id;
  if (!FolderIdentity(dir, &id) || !seen->insert(id).second) return kFindNotFound;
  int32 r = OpenVIFileInDir(dir, name, fileType, mode, file, checkHook, fromLibrary);
  if (r == kFindInFolder) {
    if (found) *found = CopyOf(dir);
    return r;
  }
  if (r != kFindNotFound) return r;
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHClr(sizeof(int32)));
  DirEntryTypeHandle types = reinterpret_cast<DirEntryTypeHandle>(AZNewHClr(0));
  std::vector<std::pair<std::string, DirEntryType>> entries;
  if (names && types && FListDirEx(dir, names, types, kListByHeader) == kNoErr && *names) {
    const int32 n = (*names)->cnt;
    for (int32 i = 0; i < n; ++i) {
      const PStr s = CPStrIndex(names, i);
      if (s) entries.emplace_back(std::string(reinterpret_cast<const char*>(s + 1), s[0]), (*types)[i]);
    }
  }
  if (names) AZDisposeHandle(reinterpret_cast<UHandle>(names));
  if (types) AZDisposeHandle(reinterpret_cast<UHandle>(types));
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [entryName, t] : entries) {
    Str255 pn;
    pn[0] = uChar(std::min<size_t>(entryName.size(), 255));
    std::memcpy(pn + 1, entryName.data(), pn[0]);
    OwnedPath child(Child(dir, pn));
    if (!child.p) continue;
    if (!(t.flags & kIsFile)) {
      r = SearchTree(child.p, name, fileType, mode, file, checkHook, fromLibrary, found, seen);
    } else if ((t.flags & kRecognizedType) && t.type == kFindTypeLibrary) {
      r = OpenVIFileInDir(child.p, name, fileType, mode, file, checkHook, fromLibrary);
      if (r == kFindInFolder && found) *found = child.release();
    } else {
      continue;
    }
    if (r != kFindNotFound) return r;
  }
  return kFindNotFound;
}
}  // namespace

int32 SearchDirTreeForVI(Path dir, ConstPStr name, uInt32 fileType, int32 mode, RsrcFileRef* file, Bool32 checkHook,
                         Bool32* fromLibrary, Path* found) {
  if (found) *found = nullptr;
  std::set<FolderId> seen;
  return SearchTree(dir, name, fileType, mode, file, checkHook, fromLibrary, found, &seen);
}

namespace {
// The name of a path's last component ends in the library extension.
bool HasLibraryExt(ConstPStr name) {
  static const char kExt[] = ".qlb";
  return name[0] > 4 && strncasecmp(reinterpret_cast<const char*>(name + 1 + name[0] - 4), kExt, 4) == 0;
}

// One search-path directory: tried alone, or with everything below it for
// a "*" entry.  found receives where it was found.
int32 TryEntry(Path entry, ConstPStr name, uInt32 type, int32 mode, RsrcFileRef* file, Bool32* fromLib, Path* found) {
  OwnedPath resolved(CopyOf(entry));
  if (!resolved.p) return kFindNotFound;
  ResolveAppRelPath(resolved.p, 1);
  if (IsStarEntry(resolved.p)) {
    OwnedPath top(ParentOf(resolved.p));
    if (!top.p) return kFindNotFound;
    return SearchDirTreeForVI(top.p, name, type, mode, file, 1, fromLib, found);
  }
  const int32 r = OpenVIFileInDir(resolved.p, name, type, mode, file, 1, fromLib);
  if (r == kFindInFolder && found) *found = resolved.release();
  return r;
}

// Step 4: the search path, the found directories in place of their entry.
int32 SearchAlongPath(ConstPStr name, uInt32 type, int32 mode, RsrcFileRef* file, Bool32* fromLib, Path* found) {
  for (int32 i = 0; i < VISearchPathCount(); ++i) {
    std::vector<Path> tries;
    if (i == gFoundDirsIndex) {
      for (Path d : gFoundDirs) tries.push_back(CopyOf(d));
    } else {
      tries.push_back(CopyOf(gSearchPath[size_t(i)]));
    }
    int32 r = kFindNotFound;
    for (Path& d : tries) {
      if (r == kFindNotFound && d) {
        r = TryEntry(d, name, type, mode, file, fromLib, found);
      }
      if (d) FDisposePath(d);
    }
    if (r == kFindInFolder) {
      if (gFoundDirsIndex != -1 && *found) FoundDirToFront(*found);
      return kFindFound;
    }
    if (r != kFindNotFound) return r;  // 3 to 6 from the hook
  }
  return kFindNotFound;
}

// The question whether a directory joins the search path.
bool AskAddDirectory(Path dir) {
  Str255 fmt, msg, yes, no, text;
  LoadTextOf(kLoadingStringsListId, kLoadStrAddDirectory, fmt);
  LoadTextOf(kYesNoListId, kYesNoYes, yes);
  LoadTextOf(kYesNoListId, kYesNoNo, no);
  PPrintf(text, "%z", dir);
  PPrintfp(msg, fmt, text);
  return gShell.twoButtonAlert && gShell.twoButtonAlert(msg, yes, no, 1) == 1;
}
}  // namespace

int32 FindAndOpenVIFile(Path path, ConstPStr name, uInt32 fileType, int32 mode, RsrcFileRef* file,
                        Bool32* fromLibrary) {
  if (file) *file = 0;
  if (fromLibrary) *fromLibrary = 0;
  if (!file || !name || name[0] == 0 || !FIsAPath(path)) return kFindNotFound;
  Bool32 fromLib = 0;
  OwnedPath foundDir;
  int32 status = kFindNotFound;
  // 1. The executable's own library.
  uInt32 type = 0;
  if (OwnLibraryType(name, &type) && FindTypeMatches(fileType, type)) {
    Path exe = nullptr;
    MgErr err = FAppFilePath(&exe);
    if (!err) err = ArchiveExtractToTmpFile(RunTimeRsrcFile(), name, nullptr, file, type);
    if (!err) {
      foundDir.p = exe;
      fromLib = 1;
      status = kFindFound;
    } else {
      if (exe) FDisposePath(exe);
      // The application's own copy is the VI of that name, and it is
      // damaged: the load alert names it and the error, and no other file
      // stands in for it.
      if (!gQXLoadAlertsOff) SaveErrorAlert(name, kLoadErrorStrId, kLoadErrorsListId, err, kLoadErrVIRsrc);
      return kFindNotFound;
    }
  }
  // 2. The folder of the path, 3. the library beside it (or the folder
  // beside the library).
  OwnedPath folder(FIsAbsPath(path) ? ParentOf(path) : nullptr);
  if (status == kFindNotFound && folder.p) {
    if (OpenVIFileInDir(folder.p, name, fileType, mode, file, 0, &fromLib) == kFindInFolder) {
      foundDir.p = CopyOf(folder.p);
      status = kFindInFolder;
    } else {
      Str255 fname;
      OwnedPath parent(ParentOf(folder.p));
      if (parent.p && FNamePtr(folder.p, fname) == kNoErr && fname[0] > 0) {
        if (HasLibraryExt(fname)) fname[0] = uChar(fname[0] - 4);
        else if (fname[0] <= 251) {
          std::memcpy(fname + 1 + fname[0], ".qlb", 4);
          fname[0] = uChar(fname[0] + 4);
        }
        OwnedPath beside(Child(parent.p, fname));
        if (beside.p && OpenVIFileInDir(beside.p, name, fileType, mode, file, 0, &fromLib) == kFindInFolder) {
          foundDir.p = beside.release();
          status = kFindFound;
        }
      }
    }
  }
  // 4. The search path.
  if (status == kFindNotFound) {
    Path where = nullptr;
    status = SearchAlongPath(name, fileType, mode, file, &fromLib, &where);
    if (status == kFindFound) foundDir.p = where;
    else if (where) FDisposePath(where);
    if (status == kFindGiveUp) return kFindNotFound;
    if (status == kFindStop || status == kFindContinue) return status;
  }
  // 5. The user, asked at most once when nobody can answer: the answer
  // given for them would be the same again.
  for (bool asked = false; status == kFindNotFound || status == kFindAskUser; asked = true) {
    if (asked && WNoOperator()) return kFindNotFound;
    OwnedPath chosen(CopyOf(path));
    if (!chosen.p) return kFindNotFound;
    if (FindFileDialog(chosen.p, fileType, name) == kDialogFound) {
      Str255 chosenName;
      OwnedPath dir(ParentOf(chosen.p));
      if (dir.p && FNamePtr(chosen.p, chosenName) == kNoErr &&
          OpenVIFileInDir(dir.p, chosenName, fileType, mode, file, 0, &fromLib) == kFindInFolder) {
        if (gFoundDirsIndex == -1) {
          if (AskAddDirectory(dir.p)) AddVISearchPathDir(0, dir.p);
        } else {
          FoundDirToFront(dir.p);
        }
        foundDir.p = dir.release();
        status = kFindFound;
      } else {
        status = kFindNotFound;
      }
      continue;
    }
    // Cancelled: the hook may still be busy (answering 1) for a while.
    const uInt32 start = MilliSecs();
    int32 answer = LinkHookCallSearch(name, nullptr, fileType);
    while (answer == 1 && MilliSecs() - start < 2000) {
      ThSleepUntil(MilliSecs() + 20, MilliSecs());
      answer = LinkHookCallSearch(name, nullptr, fileType);
    }
    if (answer == kFindNotFound || answer == kFindAskUser) continue;
    if (answer == kFindStop || answer == kFindContinue) return answer;
    return kFindNotFound;
  }
  // 6. The path of the file found.
  if (foundDir.p) {
    if (FPathCpy(path, foundDir.p) != kNoErr || FAppendName(path, name) != kNoErr) {
      RCloseFile(*file);
      *file = 0;
      return kFindNotFound;
    }
  }
  if (fromLibrary) *fromLibrary = fromLib;
  return status;
}

int32 FindFileDialog(Path path, uInt32 fileType, ConstPStr name) {
  int32 promptIndex, filter, cantIndex;
  const bool named = name && name[0] > 0;
  if (fileType == kFindTypeVI || fileType == kFindTypeAnyVI) {
    promptIndex = named ? kPromptFindVI : kPromptChooseVI;
    cantIndex = kCantLoadNotVI;
  } else if (fileType == kFindTypeControl) {
    promptIndex = named ? kPromptFindControl : kPromptChooseControl;
    cantIndex = kCantLoadNotControl;
  } else if (fileType == kFindTypeSubr) {
    promptIndex = named ? kPromptFindFile : kPromptChooseSubr;
    cantIndex = kCantLoadNotSubr;
  } else {
    promptIndex = named ? kPromptFindFile : kPromptChooseFile;
    cantIndex = kCantLoadWrongType;
  }
  filter = fileType == kFindTypeVI        ? kFilterVI
           : fileType == kFindTypeControl ? kFilterControl
           : fileType == kFindTypeSubr    ? kFilterSubr
           : fileType == kFindTypeAnyVI   ? kFilterAnyVI
                                          : kFilterNone;
  Str255 fmt, prompt;
  LoadTextOf(kFilePromptsListId, promptIndex, fmt);
  static const uChar kEmpty[1] = {0};
  ConstPStr shown = named ? name : kEmpty;
  // The "%4c" prompts take the type before the name.
  if (promptIndex == kPromptFindFile || promptIndex == kPromptChooseFile) PPrintfp(prompt, fmt, fileType, shown);
  else PPrintfp(prompt, fmt, shown);
  for (bool shown = false;; shown = true) {
    // Nobody can select another file: the dialog is not shown again.
    if (shown && WNoOperator()) return kDialogGaveUp;
    if (!gShell.fileDialog || gShell.fileDialog(prompt, path, filter, kFindDialogOptions) != kNoErr)
      return kDialogGaveUp;
    char text[kHostTextBufSize];
    if (FPathToHostText(path, text) == kNoErr && FResolveShortcut(text)) {
      Path target = nullptr;
      if (FTextToPath(reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), &target) == kNoErr) {
        FPathCpy(path, target);
        FDisposePath(target);
      }
    }
    if (LocateVIFile(path, fileType)) return kDialogFound;
    Str255 cant, msg, shownName;
    LoadTextOf(kCantLoadListId, cantIndex, cant);
    if (named) std::memcpy(shownName, name, size_t(name[0]) + 1);
    else if (FNamePtr(path, shownName) != kNoErr) shownName[0] = 0;
    if (cantIndex == kCantLoadWrongType) PPrintfp(msg, cant, fileType);
    else PPrintfp(msg, cant, shownName);
    if (!gShell.twoButtonAlert) return kDialogGaveUp;
    Str255 yes, no;
    LoadTextOf(kYesNoListId, kYesNoYes, yes);
    LoadTextOf(kYesNoListId, kYesNoNo, no);
    if (gShell.twoButtonAlert(msg, yes, no, 1) != 1) return kDialogGaveUp;
  }
}

int32 FindSubroutineFile(Path path, ConstPStr name, uInt32 fileType, int32 mode, RsrcFileRef* file) {
  if (file) *file = 0;
  OwnedPath folder(FIsAbsPath(path) ? ParentOf(path) : nullptr);
  Bool32 fromLib = 0;
  if (folder.p && OpenVIFileInDir(folder.p, name, fileType, mode, file, 0, &fromLib) == kFindInFolder)
    return kFindInFolder;
  OwnedPath lib(FEmptyPath(nullptr));
  if (!lib.p) {
    DBPrintf("memory error");
    return kFindNotFound;
  }
  if (!gShell.controlLibPath || gShell.controlLibPath(lib.p) != kNoErr) {
    DBPrintf("FCtrlLibDir error");
    return kFindNotFound;
  }
  Path where = nullptr;
  const int32 r = SearchDirTreeForVI(lib.p, name, fileType, mode, file, 0, &fromLib, &where);
  OwnedPath found(where);
  if (r != kFindInFolder) return kFindNotFound;
  if (FPathCpy(path, found.p) != kNoErr || FAppendName(path, name) != kNoErr) {
    RCloseFile(*file);
    *file = 0;
    return kFindNotFound;
  }
  return kFindFound;
}
