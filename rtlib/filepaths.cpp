// Paths, folders, volumes, and the date and time texts of diagrams.
#include "rtlib/filepaths.h"

#include <cstring>
#include <string>

#include "engine/datasupp.h"
#include "engine/vi/archive.h"
#include "mgsource/counted_strings.h"
#include "mgsource/datetime.h"
#include "mgsource/memory.h"
#include "rtlib/filehooks.h"

namespace {

// ---- Outputs ----------------------------------------------------------------------------

// Makes a null output path: 0, or 2.
MgErr EnsurePath(Path* p) {
  if (!p) return kArgErr;
  if (!*p && !(*p = FEmptyPath(nullptr))) return kMemFullErr;
  return kNoErr;
}

void NotAPath(Path* p) {
  if (p && *p) FNotAPath(*p);
}

// Sets a data-zone string to the bytes (made when null).
MgErr SetString(LStrHandle* s, const void* bytes, int32 n) {
  if (!s) return kArgErr;
  const int32 size = int32(sizeof(int32)) + n;
  if (!*s) {
    *s = reinterpret_cast<LStrHandle>(DSNewHandle(size));
    if (!*s) return kMemFullErr;
  } else if (MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(*s), size)) {
    return err;
  }
  (**s)->cnt = n;
  if (n) std::memcpy((**s)->str, bytes, size_t(n));
  return kNoErr;
}

void EmptyString(LStrHandle* s) {
  if (s && *s) SetString(s, nullptr, 0);
}

const TypeDescriptor* StringTD() { return StdTDTable[kStdTDString]; }

// A one-dimensional array of strings.
int32 ArrayCount(UHandle a) {
  if (!a || !*a) return 0;
  int32 n;
  std::memcpy(&n, *a, sizeof n);
  return n < 0 ? 0 : n;
}

LStrHandle* ArrayStrings(UHandle a) { return reinterpret_cast<LStrHandle*>(*a + sizeof(int32)); }

MgErr SizeStringArray(UHandle* a, int32 n) {
  if (MgErr err = ArrayResizeElts(StringTD(), 1, a, n)) return err;
  std::memcpy(**a, &n, sizeof n);
  return kNoErr;
}

// Appends a string to an array of strings.
MgErr AppendString(UHandle* a, const uChar* bytes, int32 n) {
  const int32 count = ArrayCount(*a);
  if (MgErr err = SizeStringArray(a, count + 1)) return err;
  LStrHandle s = nullptr;
  if (MgErr err = SetString(&s, bytes, n)) {
    SizeStringArray(a, count);
    return err;
  }
  ArrayStrings(*a)[count] = s;
  return kNoErr;
}

// A string input: its bytes as a Pascal string; false when it is longer
// than 255 bytes or its count is negative.
bool ToPStr(LStrHandle s, Str255 out) {
  out[0] = 0;
  if (!s || !*s) return true;
  const int32 n = (*s)->cnt;
  if (n < 0 || n > 255) return false;
  out[0] = uChar(n);
  std::memcpy(out + 1, (*s)->str, size_t(n));
  return true;
}

bool NegativeLength(LStrHandle s) { return s && *s && (*s)->cnt < 0; }

// ---- Host texts of paths ------------------------------------------------------------------

std::string HostText(Path p) {
  char text[kHostTextBufSize];
  if (FPathToHostText(p, text) != kNoErr) return std::string();
  return text;
}

// True when inner is outer or lies inside it.
bool Within(Path outer, Path inner) {
  const std::string a = HostText(outer), b = HostText(inner);
  if (a.empty() || b.size() < a.size() || b.compare(0, a.size(), a) != 0) return false;
  return b.size() == a.size() || b[a.size()] == '\\' || a.back() == '\\';
}

// The names and entry flags of a folder.
struct Listing {
  CPStrHandle names = nullptr;
  DirEntryTypeHandle types = nullptr;
  ~Listing() {
    if (names) AZDisposeHandle(reinterpret_cast<UHandle>(names));
    if (types) AZDisposeHandle(reinterpret_cast<UHandle>(types));
  }
  MgErr Read(Path folder) {
    names = reinterpret_cast<CPStrHandle>(AZNewHClr(sizeof(int32)));
    types = reinterpret_cast<DirEntryTypeHandle>(AZNewHClr(0));
    if (!names || !types) return kMemFullErr;
    return FListDir(folder, names, types);
  }
  int32 Count() const { return names && *names ? (*names)->cnt : 0; }
  bool IsFile(int32 i) const { return ((*types)[i].flags & kIsFile) != 0; }
  // The path of entry i under the folder, into out.
  MgErr Child(Path folder, int32 i, Path out) const {
    Str255 name;
    PStr s = CPStrIndex(names, i);
    if (!s) return kArgErr;
    std::memcpy(name, s, size_t(s[0]) + 1);
    if (MgErr err = FPathCpy(out, folder)) return err;
    return FAppendName(out, name);
  }
};

// A path owned for the length of a scope.
struct OwnedPath {
  Path p = FEmptyPath(nullptr);
  ~OwnedPath() {
    if (p) FDisposePath(p);
  }
  explicit operator bool() const { return p != nullptr; }
};

// Removes a folder tree (or a file).  Every entry is tried; the first error
// is returned.
MgErr RemoveTree(Path path) {
  if (FExists(path) != 2) return FRemove(path);
  MgErr first = kNoErr;
  Listing l;
  if (MgErr err = l.Read(path)) first = err;
  OwnedPath child;
  if (!child) return kMemFullErr;
  for (int32 i = 0; !first && i < l.Count(); ++i) {
    MgErr err = l.Child(path, i, child.p);
    if (!err) err = l.IsFile(i) ? FRemove(child.p) : RemoveTree(child.p);
    if (err && !first) first = err;
  }
  MgErr err = FRemove(path);
  return first ? first : err;
}

// Copies a folder tree: folders made anew, files copied.  Stops at the first
// failure, which is returned; the caller removes what was made.
MgErr CopyTree(Path from, Path to) {
  if (MgErr err = FNewDir(to)) return err;
  Listing l;
  if (MgErr err = l.Read(from)) return err;
  OwnedPath src, dst;
  if (!src || !dst) return kMemFullErr;
  for (int32 i = 0; i < l.Count(); ++i) {
    Str255 name;
    PStr s = CPStrIndex(l.names, i);
    std::memcpy(name, s, size_t(s[0]) + 1);
    if (MgErr err = l.Child(from, i, src.p)) return err;
    if (MgErr err = FPathCpy(dst.p, to)) return err;
    if (MgErr err = FAppendName(dst.p, name)) return err;
    MgErr err = l.IsFile(i) ? FCopy(src.p, dst.p) : CopyTree(src.p, dst.p);
    if (err) return err;
  }
  return kNoErr;
}

// The target of a move or copy: into an existing folder the source's name
// is appended; a missing target's parent must be a folder; an existing
// target is 10; a folder moved or copied into itself is 1.
MgErr ResolveTarget(Path from, Path to, Path target) {
  if (MgErr err = FPathCpy(target, to)) return err;
  const int32 there = FExists(to);
  if (there == 2) {
    Str255 name;
    if (MgErr err = FNamePtr(from, name)) return err;
    if (MgErr err = FAppendName(target, name)) return err;
  } else if (there == 0) {
    OwnedPath parent;
    if (!parent) return kMemFullErr;
    if (FDirName(to, parent.p) != kNoErr || FExists(parent.p) != 2) return kArgErr;
  }
  if (FExists(from) == 2 && Within(from, target)) return kArgErr;
  if (FExists(target) != 0) return kDupPathErr;
  return kNoErr;
}

MgErr MoveOrCopy(Path from, Path to, Path* newPathOut, bool move) {
  if (MgErr err = EnsurePath(newPathOut)) return err;
  MgErr err = kNoErr;
  if (!FIsAPath(from) || !FIsAPath(to)) {
    err = kArgErr;
  } else if (FExists(from) == 0) {
    err = kFileNotFoundErr;
  } else {
    err = ResolveTarget(from, to, *newPathOut);
  }
  if (!err) {
    Path target = *newPathOut;
    if (FExists(from) != 2) {
      err = move ? FMove(from, target) : FCopy(from, target);
    } else if (!move || FMove(from, target) != kNoErr) {
      // A folder that can't be renamed in one step is copied entry by
      // entry; the source goes only once every entry is in the copy, and a
      // copy that failed part-way is removed again, the source untouched.
      err = CopyTree(from, target);
      if (err) {
        RemoveTree(target);
      } else if (move) {
        err = RemoveTree(from);
      }
    }
  }
  if (err) NotAPath(newPathOut);
  return err;
}

// A folder output of the shell into a path made when null.
MgErr ShellFolder(MgErr (*get)(Path), Path* pathOut) {
  if (MgErr err = EnsurePath(pathOut)) return err;
  MgErr err = get(*pathOut);
  if (err) NotAPath(pathOut);
  return err;
}

// Builds a path from an array of strings.
MgErr BuildFromArray(UHandle components, bool relative, Path out) {
  if (MgErr err = FEmptyPath(out) ? kNoErr : kMemFullErr) return err;
  if (MgErr err = FSetPathType(out, relative ? kRelPath : kAbsPath)) return err;
  const int32 n = ArrayCount(components);
  for (int32 i = 0; i < n; ++i) {
    Str255 name;
    if (!ToPStr(ArrayStrings(components)[i], name)) return kArgErr;
    if (name[0] == 0) {
      if (!relative && i == 0) return kArgErr;
      Str255 last;
      if (FDepth(out) > 0 && FNamePtr(out, last) == kNoErr && last[0] != 0) {
        if (MgErr err = FDirName(out, out)) return err;
        continue;
      }
    }
    if (MgErr err = FAppendName(out, name)) return err;
  }
  return kNoErr;
}

MgErr ComponentsToArray(Path path, uChar* relative, UHandle* components) {
  int32 type = 0;
  if (!FIsAPath(path) || FGetPathType(path, &type) != kNoErr) return kArgErr;
  const int32 n = FDepth(path);
  if (MgErr err = SizeStringArray(components, 0)) return err;
  for (int32 i = 0; i < n; ++i) {
    Str255 name;
    if (MgErr err = FNthName(path, i, name)) return err;
    if (MgErr err = AppendString(components, name + 1, name[0])) return err;
  }
  if (relative) *relative = type == kRelPath ? 1 : 0;
  return kNoErr;
}

MgErr SetCString(LStrHandle* s, const char* text) {
  return SetString(s, text, text ? int32(std::strlen(text)) : 0);
}

}  // namespace

// ---- Folders and rights ----------------------------------------------------------------------

MgErr FPNewFolder(Path path, LStrHandle group, int32 permissions) {
  if (!FIsAPath(path) || NegativeLength(group)) return kArgErr;
  Str255 g;
  if (!ToPStr(group, g)) return kArgErr;
  if (MgErr err = FNewDir(path)) return err;
  const int32 mode = FGetDefPerm(permissions ? permissions : 0777);
  return FSetAccessRights(path, nullptr, g[0] ? g : nullptr, &mode);
}

MgErr FPAccessRights(Path path, LStrHandle owner, LStrHandle group, const int32* permissions,
                     LStrHandle* ownerOut, LStrHandle* groupOut, int32* permissionsOut) {
  MgErr err = kNoErr;
  Str255 o, g;
  if (!FIsAPath(path) || NegativeLength(owner) || NegativeLength(group) || !ToPStr(owner, o) || !ToPStr(group, g))
    err = kArgErr;
  if (!err && (owner || group || permissions))
    err = FSetAccessRights(path, owner ? o : nullptr, group ? g : nullptr, permissions);
  int32 mode = 0;
  if (!err) err = FGetAccessRights(path, o, g, &mode);
  if (err) {
    EmptyString(ownerOut);
    EmptyString(groupOut);
    if (permissionsOut) *permissionsOut = 0;
    return err;
  }
  if (ownerOut && (err = SetString(ownerOut, o + 1, o[0])) != kNoErr) return err;
  if (groupOut && (err = SetString(groupOut, g + 1, g[0])) != kNoErr) return err;
  if (permissionsOut) *permissionsOut = mode;
  return kNoErr;
}

MgErr FPTypeAndCreator(Path path, LStrHandle type, LStrHandle creator, LStrHandle* typeOut,
                       LStrHandle* creatorOut) {
  MgErr err = kNoErr;
  auto four = [](LStrHandle s) { return !s || (*s && (*s)->cnt == 4); };
  if (!FIsAPath(path) || !four(type) || !four(creator)) err = kArgErr;
  else if (type || creator) err = kSysCapacityErr;
  FileInfoRec info{};
  if (!err) err = FGetInfo(path, &info);
  if (err) {
    EmptyString(typeOut);
    EmptyString(creatorOut);
    return err;
  }
  // The codes' bytes are their characters in reading order: copied as they are.
  if (typeOut && (err = SetString(typeOut, &info.type, 4)) != kNoErr) return err;
  if (creatorOut) err = SetString(creatorOut, &info.creator, 4);
  return err;
}

MgErr FPFileOrFolderInfo(Path path, uChar* isFolderOut, int32* sizeOut, uInt32* dateOut) {
  FileInfoRec info{};
  MgErr err = FIsAPath(path) ? FGetInfo(path, &info) : kArgErr;
  if (isFolderOut) *isFolderOut = err ? 0 : info.folder;
  if (sizeOut) *sizeOut = err ? 0 : info.size;
  if (dateOut) *dateOut = err ? 0 : info.mdate;
  return err;
}

MgErr FPVolumeInfo(Path path, float64* totalOut, float64* usedOut, float64* freeOut) {
  float64 freeBytes = 0, total = 0;
  MgErr err = FIsAPath(path) ? FMGetVolInfo(path, &freeBytes, &total) : kArgErr;
  Path volume = nullptr;
  if (!err) err = FMGetVolPath(path, &volume);
  if (!err) err = FPathCpy(path, volume);
  if (volume) FDisposePath(volume);
  if (err) {
    freeBytes = total = 0;
    if (path) FNotAPath(path);
  }
  if (totalOut) *totalOut = total;
  if (usedOut) *usedOut = total - freeBytes;
  if (freeOut) *freeOut = freeBytes;
  return err;
}

MgErr FPMove(Path from, Path to, Path* newPathOut) { return MoveOrCopy(from, to, newPathOut, true); }
MgErr FPCopy(Path from, Path to, Path* newPathOut) { return MoveOrCopy(from, to, newPathOut, false); }

MgErr FPDelete(Path path) {
  if (!FIsAPath(path)) return kArgErr;
  if (FExists(path) == 2) {
    Listing l;
    // A folder whose listing is refused is still removed if it can be.
    if (l.Read(path) == kNoErr && l.Count() > 0) return kFileIOErr;
  }
  return FRemove(path);
}

MgErr FPListFolder(Path path, LStrHandle pattern, UHandle recordType, int32 recordTypeOffset,
                   UHandle* filesOut, UHandle* foldersOut) {
  if (!filesOut || !foldersOut) return kArgErr;
  MgErr err = SizeStringArray(filesOut, 0);
  if (!err) err = SizeStringArray(foldersOut, 0);
  if (err) return err;
  if (!FIsAPath(path) || NegativeLength(pattern)) return kArgErr;
  const TypeDescriptor* rec =
      recordType && *recordType && recordTypeOffset >= 0
          ? reinterpret_cast<const TypeDescriptor*>(*recordType + recordTypeOffset) : nullptr;
  Listing l;
  const bool library = IsQLBFile(path);
  if (library) {
    l.names = reinterpret_cast<CPStrHandle>(AZNewHClr(sizeof(int32)));
    l.types = reinterpret_cast<DirEntryTypeHandle>(AZNewHClr(0));
    err = l.names && l.types ? ArchiveDirList(path, l.names, l.types, 1, 0) : kMemFullErr;
  } else {
    err = l.Read(path);
  }
  OwnedPath child;
  if (!err && !child) err = kMemFullErr;
  const int32 plen = pattern && *pattern ? (*pattern)->cnt : 0;
  for (int32 i = 0; !err && i < l.Count(); ++i) {
    PStr name = CPStrIndex(l.names, i);
    if (plen && !FStrFitsPat((*pattern)->str, name + 1, plen, name[0])) continue;
    const bool file = library || l.IsFile(i);
    if (file && rec) {
      // Only datalogs of the record type.
      if (library || l.Child(path, i, child.p) != kNoErr) continue;
      FileRef f = nullptr;
      if (FMOpen(&f, child.p, kAccessRead, kDenyWrite) != kNoErr) continue;
      int32 version = 0;
      const MgErr check = Datalog().checkType(f, rec, &version);
      FMClose(f);
      if (check) continue;
    }
    err = AppendString(file ? filesOut : foldersOut, name + 1, name[0]);
  }
  if (err) {
    SizeStringArray(filesOut, 0);
    SizeStringArray(foldersOut, 0);
  }
  return err;
}

// ---- Building and taking apart ------------------------------------------------------------------

MgErr FPBuildPath(Path base, const void* name, int32 nameType, Path* pathOut) {
  if (MgErr err = EnsurePath(pathOut)) return err;
  MgErr err = kNoErr;
  Path rel = nullptr;
  bool ownRel = false;
  if (nameType == kFPNameString) {
    const LStrHandle s = name ? *static_cast<const LStrHandle*>(name) : nullptr;
    if (NegativeLength(s)) {
      err = kArgErr;
    } else {
      const int32 n = s && *s ? (*s)->cnt : 0;
      err = FTextToPath(n ? (*s)->str : reinterpret_cast<const uChar*>(""), n, &rel);
      ownRel = rel != nullptr;
      int32 type = 0;
      if (!err && (FGetPathType(rel, &type) != kNoErr || type != kRelPath)) err = kArgErr;
    }
  } else if (nameType == kFPNamePath) {
    rel = name ? *static_cast<const Path*>(name) : nullptr;
  } else {
    err = kArgErr;
  }
  OwnedPath empty;
  if (!err && !base) {
    if (!empty) err = kMemFullErr;
    base = empty.p;
  }
  if (!err) err = FAddPath(base, rel, *pathOut);
  if (ownRel) FDisposePath(rel);
  if (err) NotAPath(pathOut);
  return err;
}

MgErr FPStripPath(Path path, Path* dirOut, LStrHandle* nameOut) {
  MgErr err = EnsurePath(dirOut);
  if (err) return err;
  Str255 name = {0};
  if (!FIsAPath(path) || FDepth(path) == 0) err = kArgErr;
  if (!err) err = FNamePtr(path, name);
  if (!err) err = FDirName(path, *dirOut);
  if (err) {
    NotAPath(dirOut);
    name[0] = 0;
  }
  if (nameOut) {
    if (MgErr serr = SetString(nameOut, name + 1, name[0])) return err ? err : serr;
  }
  return err;
}

MgErr FPPathType(Path path, int32* typeOut) {
  int32 type = kNotAPath;
  MgErr err = FGetPathType(path, &type);
  if (typeOut) *typeOut = err ? kNotAPath : type;
  return err;
}

MgErr FPArrToPath(UHandle components, Bool32 relative, Path* pathOut) {
  if (MgErr err = EnsurePath(pathOut)) return err;
  MgErr err = BuildFromArray(components, relative != 0, *pathOut);
  if (err) NotAPath(pathOut);
  return err;
}

MgErr FPPathToArr(Path path, uChar* relativeOut, UHandle* componentsOut) {
  if (!componentsOut) return kArgErr;
  MgErr err = ComponentsToArray(path, relativeOut, componentsOut);
  if (err) {
    SizeStringArray(componentsOut, 0);
    if (relativeOut) *relativeOut = 0;
  }
  return err;
}

MgErr FArrToPath(UHandle components, uChar relative, Path path) {
  if (!path) return kArgErr;
  MgErr err = BuildFromArray(components, relative != 0, path);
  if (err) FNotAPath(path);
  return err;
}

MgErr FPathToArr(Path path, uChar* relative, UHandle components) {
  if (!components) return kArgErr;
  UHandle a = components;
  MgErr err = ComponentsToArray(path, relative, &a);
  if (err) SizeStringArray(&a, 0);
  return err;
}

// ---- Folders of the shell -----------------------------------------------------------------------

MgErr FPVILib(Path* pathOut) { return ShellFolder(FileShell().viLibPath, pathOut); }
MgErr FPTmpDir(Path* pathOut) { return ShellFolder(FileShell().tempDirPath, pathOut); }
MgErr FPDefaultFolder(Path* pathOut) { return ShellFolder(FileShell().defaultDirPath, pathOut); }

MgErr FPVIPath(Path viPath, Path* pathOut) {
  if (MgErr err = EnsurePath(pathOut)) return err;
  MgErr err = viPath ? FPathCpy(*pathOut, viPath) : kFileNotFoundErr;
  if (err) NotAPath(pathOut);
  return err;
}

// ---- Date and time ---------------------------------------------------------------------------------

MgErr DateLStr(LStrHandle* string, uInt32 seconds, int32 style) {
  // The date text reads style 3 as 0; diagrams pin it to 0-2 first.
  const int32 pinned = style < 0 ? 0 : style > 2 ? 2 : style;
  return SetCString(string, DateCString(seconds, pinned));
}

MgErr TimeLStr(LStrHandle* string, uInt32 seconds, int32 withSeconds) {
  return SetCString(string, TimeCString(seconds, withSeconds != 0));
}
