// The load methods of the reference classes and the unloading of external
// code.
#include "engine/link/loadmethods.h"

#include "mgsource/window/wmisc.h"

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/link/hierarchy.h"
#include "engine/shellsvc.h"
#include "engine/vi/archive.h"
#include "engine/vi/objload.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/viload_internal.h"
#include "engine/vi/vifind_internal.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/extload.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "platform/qx_file.h"

using namespace vifind;

namespace {
LoadMethodHooks gHooks{};

void SetPStr(PStr out, const char* text, size_t n) {
  if (n > 255) n = 255;
  out[0] = uChar(n);
  std::memcpy(out + 1, text, n);
}
// The host text of a path for the library loader: an absolute path's text,
// a relative path of one component its name; false for anything else.
bool LibraryText(Path p, char* text) {
  if (FIsAbsPath(p)) return FPathToHostText(p, text) == kNoErr;
  Str255 name;
  if (FDepth(p) != 1 || FNamePtr(p, name) != kNoErr || name[0] == 0) return false;
  std::memcpy(text, name + 1, name[0]);
  text[name[0]] = 0;
  return true;
}
}  // namespace

void SetLoadMethodHooks(const LoadMethodHooks* hooks) { gHooks = hooks ? *hooks : LoadMethodHooks{}; }
const LoadMethodHooks& LoadHooks() { return gHooks; }

// ---- search paths --------------------------------------------------------------------
Path MakeRefSearchPath(Path refPath, Path basePath, ConstPStr name, MgErr* err) {
  if (err) *err = kNoErr;
  Path out = nullptr;
  if (refPath && FIsAPath(refPath)) {
    out = CopyOf(refPath);
    if (out && !FIsAbsPath(out) && FDepth(out) > 1) {
      if (!basePath) {
        DBAssert(__FILE__, __LINE__, "a relative reference path without a base path");
      } else {
        // Relative to the referring file: its first empty component steps up
        // from the file to its folder.
        Path abs = FEmptyPath(nullptr);
        if (abs && FAddPath(basePath, out, abs) != kNoErr) {
          FDisposePath(abs);
          abs = nullptr;
        }
        FDisposePath(out);
        out = abs;
      }
    } else if (out) {
      ResolveAppRelPath(out, 1);
    }
  } else if (name) {
    out = FMakePath(nullptr, kRelPath, name, nullptr);
  }
  if (!out && err) *err = kMemFullErr;
  return out;
}

// ---- VIs and custom controls ---------------------------------------------------------
int32 LoadVIMethod(ConstPStr name, Path basePath, uInt32 classCode, Path refPath, uInt32 requester,
                   const void* /*typeBlock*/, int32 flags) {
  MgErr err = kNoErr;
  OwnedPath search(MakeRefSearchPath(refPath, basePath, name, &err));
  if (!search.p) return kFindNotFound;
  const uInt32 shown = requester == kFindTypeControl ? kFindTypeControl : kFindTypeVI;
  const int32 answer = LinkHookCallFind(name, search.p, shown);
  if (answer == kFindStop || answer == kFindContinue) return answer;
  RsrcFileRef file = 0;
  Bool32 fromLibrary = 0;
  const int32 located = FindAndOpenVIFile(search.p, name, classCode, kRsrcReadOnly, &file, &fromLibrary);
  if (located != kFindFound && located != kFindInFolder)
    return located == kFindStop || located == kFindContinue ? located : kFindNotFound;
  Path viPath = CopyOf(search.p);
  if (!viPath) {
    RCloseFile(file);
    return kFindNotFound;
  }
  const RsrcFileRef savedFile = gQXLoadingRsrcFile;
  const Path savedPath = gQXLoadingPath;
  gQXLoadingRsrcFile = file;
  gQXLoadingPath = search.p;
  UHandle vi = nullptr;
  const int32 loaded = LoadInstrument(viPath, flags, name, file, &vi, fromLibrary);
  gQXLoadingRsrcFile = savedFile;
  gQXLoadingPath = savedPath;
  return loaded == kLoadFound || loaded == kLoadLoaded ? located : loaded;
}

int32 QXINLoadMethod(ConstPStr name, Path basePath, Path refPath, uInt32 requester, const void* typeBlock,
                     int32 flags) {
  if (requester != kFindTypeVI && requester != kLinkClassNoneCode) return kFindNotFound;
  return LoadVIMethod(name, basePath, kFindTypeVI, refPath, requester, typeBlock, flags);
}

int32 QXCCLoadMethod(ConstPStr name, Path basePath, Path refPath, uInt32 requester, const void* typeBlock,
                     int32 flags) {
  if (requester != kFindTypeVI && requester != kFindTypeControl && requester != kLinkClassNoneCode)
    return kFindNotFound;
  return LoadVIMethod(name, basePath, kFindTypeControl, refPath, requester, typeBlock, flags);
}

// ---- subroutines ---------------------------------------------------------------------
namespace {
// The resource id each loaded subroutine record came from (its code and
// platform resources in the temporary file carry it).
std::map<uInt32, int32> gSubrRsrcIds;
typedef int32 (*SubrEntryProc)(int32, int32);
typedef int32 (*SubrInitProc)(int32, int32*);

CodeBlockHeader* SubrHeader(uInt32 record) {
  auto* h = reinterpret_cast<CodeBlockHeader*>(uintptr_t(record));
  return h && ExtCodeBlockSize(h) >= int32(sizeof(CodeBlockHeader)) ? h : nullptr;
}
bool IsCINRecord(const CodeBlockHeader* h) { return h && h->reserved8 == kCINCodeKind; }
// Entry n of a record's table of entries (version 4 and later), or null.
uInt32 SubrTableEntry(const CodeBlockHeader* h, int32 n) {
  if (!h->entry) return 0;
  return GetNative32(reinterpret_cast<const uChar*>(uintptr_t(h->entry)) + 4 * n);
}
// The unit-access record kept in a subroutine record's first word.
void* SubrUnitAccess(const CodeBlockHeader* h) {
  return reinterpret_cast<void*>(uintptr_t(GetNative32(h->jump)));
}
void SetSubrUnitAccess(CodeBlockHeader* h, void* rec) { PutNative32(h->jump, uInt32(uintptr_t(rec))); }

// True when none of the entry's own references is unresolved or incomplete.
bool OwnRefsComplete(int32 entry) {
  int32 guard = LinkTableCapacity();
  for (int32 r = LE(entry).ownRefs; r && guard-- > 0; r = LE(r).ownRefs)
    if (LE(r).classFlags & (kLinkFlagUnresolved | kLinkFlagIncomplete)) return false;
  return true;
}

void InitSubroutine(ConstPStr name, CodeBlockHeader* h, RsrcFileRef file) {
  int32 entry = 0;
  if (!LookupLinkItem(name, kLinkClassCodes[kLinkClassSubr], &entry) || !entry || !OwnRefsComplete(entry)) return;
  bool wantsUnitAccess = true;
  if (h->version >= kSubrTableVersion) {
    if (const uInt32 init = SubrTableEntry(h, kSubrEntryInit)) {
      int32 answer = 0;
      if (reinterpret_cast<SubrInitProc>(uintptr_t(init))(0, &answer) == 0 && answer != 0) wantsUnitAccess = false;
    }
  }
  if (wantsUnitAccess && gHooks.allocUnitAccess) {
    void* rec = gHooks.allocUnitAccess(0);
    if (!rec) DBAssert(__FILE__, __LINE__, "no unit-access record for a subroutine");
    SetSubrUnitAccess(h, rec);
  }
  if (h->version >= kSubrTableVersion) {
    if (const uInt32 load = SubrTableEntry(h, kSubrEntryLoad))
      reinterpret_cast<SubrEntryProc>(uintptr_t(load))(int32(file), 0);
  } else if (h->entry) {
    reinterpret_cast<SubrEntryProc>(uintptr_t(h->entry))(kSubrMsgLoad, int32(file));
  }
}
}  // namespace

int32 SubrLoadMethod(ConstPStr name, Path basePath, Path refPath, uInt32 requester, const void* typeBlock,
                     int32 /*flags*/) {
  if (!name || name[0] == 0) return kFindNotFound;
  if (requester != kLinkClassCodes[kLinkClassDataSpace] && requester != kLinkClassCodes[kLinkClassSubr]) {
    char code[5] = {};
    std::memcpy(code, &requester, 4);
    DBPrintf("SubrLoadMethod: unexpected reference class %4s", code);
  }
  int32 result = kFindNotFound;
  RsrcFileRef file = 0;
  OwnedPath search;
  // 1. The file being loaded.
  if (gQXLoadingRsrcFile) {
    UHandle h = nullptr;
    if (RGetNamed(gQXLoadingRsrcFile, kSubrCodeRsrcType, name, &h) == kNoErr && h) {
      RRelease(h);
      file = gQXLoadingRsrcFile;
      search.p = gQXLoadingPath ? CopyOf(gQXLoadingPath) : nullptr;
    }
  }
  if (!file) {
    // 2. The search path, beside the base path for a bare name.
    MgErr err = kNoErr;
    search.p = MakeRefSearchPath(refPath, basePath, name, &err);
    if (!search.p) {
      gQXMissingSubroutine = 1;
      return kFindNotFound;
    }
    if (!FIsAbsPath(search.p) && FIsAbsPath(basePath)) {
      Str255 fileName;
      PStrCpy(fileName, name);
      if (!PStrHasRezExt(fileName) && fileName[0] + 4 <= 255) {
        std::memcpy(fileName + 1 + fileName[0], kSubrFileExt, 4);
        fileName[0] = uChar(fileName[0] + 4);
      }
      Path beside = CopyOf(basePath);
      if (beside && (FDirName(beside, beside) != kNoErr || FAppendName(beside, fileName) != kNoErr)) {
        FDisposePath(beside);
        beside = nullptr;
      }
      if (beside) {
        FDisposePath(search.p);
        search.p = beside;
      }
    }
    // 3. Look for the file.
    const uInt16 typeWord = typeBlock ? GetNative16(static_cast<const uChar*>(typeBlock) + 2) : 0;
    if (typeBlock && GetNative16(typeBlock) >= 4 && typeWord == kSubrClusterTypeWord) {
      Str255 fileName;
      if (FNamePtr(search.p, fileName) == kNoErr)
        result = FindSubroutineFile(search.p, fileName, kFindTypeSubr, kRsrcReadOnly, &file);
    } else {
      Str255 withExt;
      PStrCpy(withExt, name);
      if (withExt[0] + 4 <= 255) {
        std::memcpy(withExt + 1 + withExt[0], kSubrFileExt, 4);
        withExt[0] = uChar(withExt[0] + 4);
      }
      const int32 answer = LinkHookCallFind(withExt, search.p, kFindTypeSubr);
      if (answer != kFindStop) {
        Bool32 fromLib = 0;
        result = FindAndOpenVIFile(search.p, withExt, kFindTypeSubr, kRsrcReadOnly, &file, &fromLib);
      } else {
        result = kFindStop;
      }
    }
    // 4. No file.
    if (result == kFindStop || result == kFindContinue) {
      gQXMissingSubroutine = 1;
      return result;
    }
    if (result != kFindFound && result != kFindInFolder) {
      result = kFindNotFound;
      file = 0;
    }
  }
  // 5. Load the code from the file.
  UPtr block = nullptr;
  if (file) {
    const bool current = file == gQXLoadingRsrcFile;
    RsrcFileRef f = file;
    Path entryPath = CopyOf(search.p);
    int32 rsrcID = 0, linkStatus = 0;
    if (LoadSubroutineCode(&f, entryPath, name, &block, &rsrcID, &linkStatus, current ? 1 : 0) != kNoErr) {
      block = nullptr;
      if (entryPath) FDisposePath(entryPath);
    } else {
      int32 entry = 0;
      // The entry keeps the path when it took it.
      if (!(LookupLinkItem(name, kLinkClassCodes[kLinkClassSubr], &entry) && entry && LE(entry).path == entryPath) &&
          entryPath)
        FDisposePath(entryPath);
      if (linkStatus == kFindStop || linkStatus == kFindContinue) result = linkStatus;
      else if (result == kFindNotFound) result = kFindInFolder;
      // 6. Initialise a code interface node whose references all bound.
      CodeBlockHeader* h = SubrHeader(uInt32(uintptr_t(block)));
      if (h) gSubrRsrcIds[uInt32(uintptr_t(h))] = rsrcID;
      if (IsCINRecord(h)) {
        SetRsrcCounter(rsrcID);
        InitSubroutine(name, h, f);
      }
    }
    // 7. Close the file unless it is the one being loaded.
    if (!current && f) RCloseFile(f);
  }
  if (!block) gQXMissingSubroutine = 1;
  return result;
}

void UnloadSubroutine(int32 entry) {
  if (LinkEntryClass(LE(entry)) != kLinkClassSubr) return;
  const uInt32 record = LE(entry).owner;
  CodeBlockHeader* h = SubrHeader(record);
  const auto it = gSubrRsrcIds.find(record);
  const int32 id = it != gSubrRsrcIds.end() ? it->second : 0;
  if (it != gSubrRsrcIds.end()) gSubrRsrcIds.erase(it);
  if (IsCINRecord(h)) {
    if (OwnRefsComplete(entry)) {
      if (h->version >= kSubrTableVersion) {
        if (const uInt32 unload = SubrTableEntry(h, kSubrEntryUnload))
          reinterpret_cast<SubrEntryProc>(uintptr_t(unload))(0, 0);
      } else if (h->entry) {
        reinterpret_cast<SubrEntryProc>(uintptr_t(h->entry))(kSubrMsgUnload, 0);
      }
      if (void* ua = SubrUnitAccess(h)) {
        if (gHooks.disposeUnitAccess) gHooks.disposeUnitAccess(ua);
        SetSubrUnitAccess(h, nullptr);
      }
    }
    // The resources the code kept in the temporary file.
    if (id) {
      RemRsrcFromTmpQXRsrcFile(kSubrCodeRsrcType, id);
      RemRsrcFromTmpQXRsrcFile(kSubrPlatformRsrcType, id);
    }
  }
  Str255 name;
  PStrCpy(name, LinkNameOf(LE(entry).name));
  const Path path = LE(entry).path;
  LE(entry).path = nullptr;
  if (path) FDisposePath(path);
  UnlinkItemByName(name, kLinkClassCodes[kLinkClassSubr]);
  if (h) UnloadExtCode(reinterpret_cast<UPtr>(h));
}

// ---- resource handles ----------------------------------------------------------------
int32 GenhLoadMethod(ConstPStr name, Path /*basePath*/, Path /*refPath*/, uInt32 /*requester*/,
                     const void* typeBlock, int32 /*flags*/) {
  if (!typeBlock || GetNative16(typeBlock) != kGenhTypeBlockSize) return 0;
  if (!gQXLoadingRsrcFile) return 0;
  uChar block[kGenhTypeBlockSize];
  std::memcpy(block, typeBlock, sizeof block);
  const ResType type = GetNative32(block + 2);
  int32 id = int32(GetNative32(block + 6));
  UHandle h = nullptr;
  const MgErr err = id ? RGet(gQXLoadingRsrcFile, type, id, &h) : RGetNamed(gQXLoadingRsrcFile, type, name, &h);
  if (err != kNoErr || !h) return 1;
  ResType t = 0;
  if (RGetInfo(h, &id, &t, nullptr) != kNoErr || RDetach(h) != kNoErr) return 1;
  PutNative32(block + 6, uInt32(id));
  if (AddLinkEntry(h, name, block, kLinkClassCodes[kLinkClassGenH], nullptr) != 0) AZDisposeHandle(h);
  return 1;
}

// ---- library functions ---------------------------------------------------------------
namespace {
int32 FindLibrary(Path folder, ConstPStr library, Bool32 subfolders, Path* found, std::set<FolderId>* seen) {
  FolderId id;
  if (!FolderIdentity(folder, &id) || !seen->insert(id).second) return 0;
  const int32 answer = LinkHookCallSearch(library, folder, kLinkClassCodes[kLinkClassLibFunc]);
  if (answer >= kFindGiveUp && answer <= kFindContinue) return answer;
  OwnedPath candidate(CopyOf(folder));
  if (candidate.p && FAppendName(candidate.p, library) == kNoErr && FExists(candidate.p) == 1) {
    *found = candidate.release();
    return 1;
  }
  if (!subfolders) return 0;
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHClr(sizeof(int32)));
  DirEntryTypeHandle types = reinterpret_cast<DirEntryTypeHandle>(AZNewHClr(0));
  std::vector<std::string> dirs;
  if (names && types && FListDir(folder, names, types) == kNoErr && *names) {
    for (int32 i = 0; i < (*names)->cnt; ++i) {
      const PStr s = CPStrIndex(names, i);
      if (s && !((*types)[i].flags & kIsFile)) dirs.emplace_back(reinterpret_cast<const char*>(s + 1), s[0]);
    }
  }
  if (names) AZDisposeHandle(reinterpret_cast<UHandle>(names));
  if (types) AZDisposeHandle(reinterpret_cast<UHandle>(types));
  for (const std::string& d : dirs) {
    Str255 pn;
    SetPStr(pn, d.data(), d.size());
    OwnedPath sub(CopyOf(folder));
    if (!sub.p || FAppendName(sub.p, pn) != kNoErr) continue;
    if (const int32 r = FindLibrary(sub.p, library, subfolders, found, seen)) return r;
  }
  return 0;
}

// Loads the library at the path and finds the function: 0, or the error
// (an error other than 7 shows the loader's explanation when it has one).
MgErr LoadLibraryFunction(Path at, const char* function, ExtLibModule* module, void** proc) {
  char text[kHostTextBufSize];
  if (!LibraryText(at, text)) return kFileNotFoundErr;
  Str255 message;
  message[0] = 0;
  const MgErr err = LoadExternalLibFunc(text, function, module, proc, message);
  if (err != kNoErr && err != kFileNotFoundErr && message[0])
    OneButtonAlert(kAlertPStr, message, nullptr, kAlertDefaultPos, kAlertDefaultPos);
  return err;
}

// Step 5: the search path's folders, "*" entries with their subfolders.
int32 SearchLibraryAlongPath(ConstPStr library, Path* found) {
  bool recursive = false;
  for (int32 i = 0; i < VISearchPathCount(); ++i) {
    std::vector<Path> folders;
    if (i == VIFoundDirsIndex()) {
      for (int32 k = 0; k < VIFoundDirsCount(); ++k) folders.push_back(CopyOf(VIFoundDir(k)));
    } else {
      folders.push_back(CopyOf(VISearchPathEntry(i)));
    }
    int32 r = 0;
    for (Path& f : folders) {
      if (r == 0 && f) {
        ResolveAppRelPath(f, 1);
        if (IsStarEntry(f)) {
          recursive = true;
          FDirName(f, f);
        } else if (FExists(f) == 1) {
          FDirName(f, f);
        }
        if (FExists(f) == 2) {
          std::set<FolderId> seen;
          r = FindLibrary(f, library, recursive, found, &seen);
        }
      }
      if (f) FDisposePath(f);
    }
    if (r != 0) return r;
  }
  return 0;
}
}  // namespace

int32 FindLibraryInFolder(Path folder, ConstPStr library, Bool32 subfolders, Path* found) {
  if (found) *found = nullptr;
  if (!found || !library || library[0] == 0) return 0;
  std::set<FolderId> seen;
  return FindLibrary(folder, library, subfolders, found, &seen);
}

int32 XFunLoadMethod(ConstPStr name, Path basePath, Path refPath, uInt32 /*requester*/, const void* typeBlock,
                     int32 /*flags*/) {
  // 1. "library:function" and two characters the load does not use.
  const uChar* colon = name ? static_cast<const uChar*>(std::memchr(name + 1, ':', name[0])) : nullptr;
  const int32 libLen = colon ? int32(colon - (name + 1)) : 0;
  const int32 funcLen = colon ? int32(name[0]) - libLen - 1 - 2 : -1;
  if (!colon || libLen == 0 || funcLen < 1) {
    gQXMissingSubroutine = 1;
    return 0;
  }
  Str255 library;
  SetPStr(library, reinterpret_cast<const char*>(name + 1), size_t(libLen));
  const std::string function(reinterpret_cast<const char*>(colon + 1), size_t(funcLen));
  // 2. The record and the search path.
  int32 result = 0;
  UHandle record = AZNewHClr(kXFunRecSize);
  void* unitAccess = gHooks.allocUnitAccess ? gHooks.allocUnitAccess(0) : nullptr;
  MgErr err = kNoErr;
  OwnedPath search(MakeRefSearchPath(refPath, basePath, library, &err));
  OwnedPath loadedFrom;
  ExtLibModule module = nullptr;
  void* proc = nullptr;
  if (record && search.p && (unitAccess || !gHooks.allocUnitAccess)) {
    // 3. The report.
    const int32 answer = LinkHookCallFind(library, search.p, kLinkClassCodes[kLinkClassLibFunc]);
    bool askUser = false;
    if (answer == kFindStop || answer == kFindContinue) {
      result = answer;
    } else {
      // 4. Where it was recorded.
      err = LoadLibraryFunction(search.p, function.c_str(), &module, &proc);
      if (err == kNoErr) {
        result = kFindInFolder;
        loadedFrom.p = CopyOf(search.p);
      } else if (err == kFileNotFoundErr) {
        // 5. Along the search path.
        Path found = nullptr;
        const int32 r = SearchLibraryAlongPath(library, &found);
        OwnedPath foundOwned(found);
        if (r == kFindStop || r == kFindContinue) {
          result = r;
        } else if (r == kFindAskUser) {
          askUser = true;
        } else if (r != kFindGiveUp) {
          // 6. From where it was found, or by its bare name.
          Path from = foundOwned.p;
          OwnedPath bare;
          if (!from && FDepth(search.p) > 1) from = bare.p = FMakePath(nullptr, kRelPath, library, nullptr);
          if (from) {
            err = LoadLibraryFunction(from, function.c_str(), &module, &proc);
            if (err == kNoErr) {
              result = kFindFound;
              loadedFrom.p = CopyOf(from);
            } else if (err == kFileNotFoundErr) {
              askUser = true;
            }
          } else {
            askUser = true;
          }
        }
      }
    }
    // 7. The user, asked at most once when nobody can answer.
    for (bool asked = false; askUser && !(asked && WNoOperator()); asked = true) {
      askUser = false;
      const VIFindShellHooks& shell = VIFindShell();
      Str255 prompt;
      LoadTextOf(kFilePromptsListId, kPromptSelectLibrary, prompt);
      OwnedPath chosen(FMakePath(nullptr, kRelPath, library, nullptr));
      if (!chosen.p || !shell.fileDialog || shell.fileDialog(prompt, chosen.p, kFilterNone, kFindDialogOptions) != 0)
        break;
      err = LoadLibraryFunction(chosen.p, function.c_str(), &module, &proc);
      if (err == kNoErr) {
        result = kFindFound;
        loadedFrom.p = chosen.release();
      } else {
        askUser = true;
      }
    }
  }
  // 8. Enter the record, or give everything back.
  if ((result == kFindFound || result == kFindInFolder) && module) {
    PutNative32(*record + kXFunRecModule, uInt32(uintptr_t(module)));
    PutNative32(*record + kXFunRecProc, uInt32(uintptr_t(proc)));
    PutNative32(*record + kXFunRecUnitAccess, uInt32(uintptr_t(unitAccess)));
    Path entryPath = loadedFrom.release();
    if (AddLinkEntry(record, name, typeBlock, kLinkClassCodes[kLinkClassLibFunc], entryPath) == 0) return result;
    if (entryPath) FDisposePath(entryPath);
    UnloadExternalLib(module);
    if (result != kFindFound && result != kFindInFolder) result = 0;
  } else if (module) {
    UnloadExternalLib(module);
  }
  if (unitAccess && gHooks.disposeUnitAccess) gHooks.disposeUnitAccess(unitAccess);
  if (record) AZDisposeHandle(record);
  gQXMissingSubroutine = 1;
  return result == kFindFound || result == kFindInFolder ? 0 : result;
}

void UnloadExternalFunction(int32 entry) {
  if (LinkEntryClass(LE(entry)) != kLinkClassLibFunc) return;
  const UHandle record = reinterpret_cast<UHandle>(uintptr_t(LE(entry).owner));
  Str255 name;
  PStrCpy(name, LinkNameOf(LE(entry).name));
  const Path path = LE(entry).path;
  LE(entry).path = nullptr;
  if (record && AZGetHandleSize(record) >= kXFunRecSize) {
    void* ua = reinterpret_cast<void*>(uintptr_t(GetNative32(*record + kXFunRecUnitAccess)));
    if (ua && gHooks.disposeUnitAccess) gHooks.disposeUnitAccess(ua);
    UnloadExternalLib(reinterpret_cast<ExtLibModule>(uintptr_t(GetNative32(*record + kXFunRecModule))));
  }
  if (path) FDisposePath(path);
  UnlinkItemByName(name, kLinkClassCodes[kLinkClassLibFunc]);
  if (record) AZDisposeHandle(record);
}

void InstallLoadMethods() {
  LinkLoadMethods m{};
  m.load[kLinkClassVI] = &QXINLoadMethod;
  m.load[kLinkClassSubr] = &SubrLoadMethod;
  m.load[kLinkClassGenH] = &GenhLoadMethod;
  m.load[kLinkClassCustomCtl] = &QXCCLoadMethod;
  m.load[kLinkClassLibFunc] = &XFunLoadMethod;
  m.unloadSubr = &UnloadSubroutine;
  m.unloadLibFunc = &UnloadExternalFunction;
  SetLinkLoadMethods(&m);
  LinkerServices s = LinkServices();
  s.subrHasUnitAccess = [](const void* record) -> Bool32 {
    const CodeBlockHeader* h = SubrHeader(uInt32(uintptr_t(record)));
    return h && SubrUnitAccess(h) ? 1 : 0;
  };
  SetLinkerServices(&s);
  // The panel loader reopens a closed VI's file through the search.
  VILoadPanelHooks p = VILoadPanel();
  p.reopenVIFile = [](UHandle vi, uInt32 type, RsrcFileRef* file) -> MgErr {
    *file = 0;
    Path where = VIRec(vi)->path;
    if (!FIsAPath(where) || FPathToPath(&where) != kNoErr) return kFileNotFoundErr;
    Str255 name;
    PStrCpy(name, VIRec(vi)->name);
    Bool32 fromLibrary = 0;
    const int32 r = FindAndOpenVIFile(where, name, type == kVIHeaderRsrcType ? kFindTypeVI : type, kRsrcReadOnly,
                                      file, &fromLibrary);
    FDisposePath(where);
    return r == kFindFound || r == kFindInFolder ? kNoErr : kFileNotFoundErr;
  };
  SetVILoadPanelHooks(&p);
}
