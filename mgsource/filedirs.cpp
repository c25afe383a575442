// The file manager's operations on named files and folders: information,
// listings, volumes, creation, removal, moves and copies, and the folders of
// the program and the host.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "counted_strings.h"
#include "debug.h"
#include "filemgr.h"
#include "filemgr_internal.h"
#include "fourcc.h"
#include "memory.h"
#include "path_internal.h"
#include "rsrc.h"
#include "sorting.h"
#include "support.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"

using namespace filemgr_detail;

namespace {

const uInt32 kUnknownType = FourCC("????");
const uInt32 kCreatorCode = FourCC("QNLX");
const uInt32 kKindFloppy = FourCC("flpy");
const uInt32 kKindHardDisk = FourCC("hdsk");
const uInt32 kKindServer = FourCC("srvr");

// The kind word of a drive type ("hdsk" for fixed, RAM and unknown drives).
uInt32 DriveKindCode(int32 kind) {
  switch (kind) {
    case kPlatDriveRemovable: case kPlatDriveCDROM: return kKindFloppy;
    case kPlatDriveRemote: return kKindServer;
    default: return kKindHardDisk;
  }
}

// A path from a host path (through the system's text).
MgErr HostToPath(const std::string& host, Path* p) {
  std::string text;
  if (!PlatHostToSysText(host.c_str(), &text)) return kFileNotFoundErr;
  return FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), p);
}

// The text of a volume's root: "%c:\" for a drive, "%p\" for a network path.
MgErr VolumeRootText(Path path, std::string* root) {
  int32 type, count;
  const uChar* c;
  if (!path_detail::Components(path, &type, &count, &c) || count < 1) return kArgErr;
  if (type == kAbsPath) {
    if (c[0] != 1 || !IsAlpha(c[1]) || c[1] >= 128) return kArgErr;
    *root = std::string(1, char(ToUpper(c[1]))) + ":\\";
    return kNoErr;
  }
  if (type != kNetworkPath) return kArgErr;
  *root = std::string(reinterpret_cast<const char*>(c + 1), c[0]) + "\\";
  return kNoErr;
}

bool IsVolumeRootText(const std::string& t) {
  if (t.size() >= 2 && t[1] == ':') return t.size() == 2 || (t.size() == 3 && t[2] == '\\');
  if (t.size() < 2 || t[0] != '\\' || t[1] != '\\') return false;
  size_t a = t.find('\\', 2);
  if (a == std::string::npos) return false;
  size_t b = t.find('\\', a + 1);
  return b == std::string::npos || b + 1 == t.size();
}

// Entries of a folder text (ending in "\") found by "*.*"; -1 when the
// search can't start for another reason than finding nothing.
int32 CountEntries(const std::string& dirText, MgErr* err) {
  PlatFind* find = nullptr;
  PlatFindEntry e;
  int32 rc = PlatFindFirst((dirText + "*.*").c_str(), &find, &e);
  if (rc == kPlatErrFileNotFound) return 0;
  if (rc) {
    *err = HostErrToMgErr(rc);
    return -1;
  }
  int32 n = 1;
  while (PlatFindNext(find, &e) == 0) ++n;
  PlatFindClose(find);
  return n;
}

// A listing gathered before it goes into the caller's handles.
struct Listing {
  std::vector<uChar> names;     // Pascal strings back to back
  std::vector<int32> offsets;   // where each name starts
  std::vector<DirEntryType> types;
};

int32 CompareNames(const void* a, const void* b, void* data) {
  const Listing* l = static_cast<const Listing*>(data);
  const uChar* base = l->names.data();
  return PStrCaseCmp(base + l->offsets[size_t(*static_cast<const int32*>(a))],
                     base + l->offsets[size_t(*static_cast<const int32*>(b))]);
}

// Sorts the listing by name without regard to case and writes the names
// (as a list of Pascal strings) and the type entries into the handles.
MgErr StoreListing(Listing& l, CPStrHandle names, DirEntryTypeHandle types) {
  int32 n = int32(l.offsets.size());
  std::vector<int32> order;
  try {
    order.resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  for (int32 i = 0; i < n; ++i) order[size_t(i)] = i;
  if (n > 1) QSortData(order.data(), n, int32(sizeof(int32)), CompareNames, &l);
  UHandle nh = reinterpret_cast<UHandle>(names);
  if (MgErr err = path_detail::SetSize(nh, 4 + int32(l.names.size()))) return err;
  uChar* out = *nh;
  std::memcpy(out, &n, 4);
  out += 4;
  for (int32 i : order) {
    const uChar* s = l.names.data() + l.offsets[size_t(i)];
    std::memcpy(out, s, size_t(s[0]) + 1);
    out += 1 + s[0];
  }
  if (types) {
    UHandle th = reinterpret_cast<UHandle>(types);
    if (MgErr err = path_detail::SetSize(th, n * int32(sizeof(DirEntryType)))) return err;
    DirEntryType* t = reinterpret_cast<DirEntryType*>(*th);
    for (int32 k = 0; k < n; ++k) t[k] = l.types[size_t(order[size_t(k)])];
  }
  return kNoErr;
}

void AddName(Listing& l, const char* name, const DirEntryType& type) {
  size_t len = std::strlen(name);
  if (len > 255) len = 255;
  l.offsets.push_back(int32(l.names.size()));
  l.names.push_back(uChar(len));
  l.names.insert(l.names.end(), name, name + len);
  l.types.push_back(type);
}

// The flags and kind of one listed entry.
// listed: what the folder's listing said of the entry (null: nothing); an
// entry that is no link is what the listing says, without asking again.
DirEntryType DescribeEntry(const std::string& dirText, const char* name, int32 options,
                           const PlatFindEntry* listed = nullptr) {
  DirEntryType t = {0, 0};
  std::string target = dirText + name;
  if (target.size() < size_t(kMaxHostTextLen)) {
    char buf[kHostTextBufSize];
    std::memcpy(buf, target.c_str(), target.size() + 1);
    if (FResolveShortcut(buf)) {
      t.flags |= kIsLink;
      buf[kMaxHostTextLen] = 0;
      target = buf;
    }
  }
  PlatFileAttr a;
  if (listed && !listed->isLink && !(t.flags & kIsLink)) {
    a.isDir = listed->isDir;
  } else if (PlatFileAttrOf(target.c_str(), &a)) {
    t.flags |= kIsFile | kErrGettingType;
    return t;
  }
  if (a.isDir) {
    if ((t.flags & kIsLink) && IsVolumeRootText(target)) {
      int32 kind = PlatVolumeKind(target.c_str());
      if (kind != kPlatDriveNone) {
        t.flags |= kRecognizedType;
        t.type = DriveKindCode(kind);
      }
    }
    return t;
  }
  t.flags |= kIsFile;
  uInt32 type = 0;
  if (options & kListByHeader) {
    Path p = nullptr;
    if (FTextToPath(reinterpret_cast<const uChar*>(target.data()), int32(target.size()), &p) == kNoErr) {
      if (RIsResFile(p, &type, nullptr) != kNoErr) type = 0;
      FDisposePath(p);
    }
  } else {
    size_t slash = target.rfind('\\');
    std::string leaf = target.substr(slash == std::string::npos ? 0 : slash + 1);
    uChar pname[256];
    pname[0] = uChar(leaf.size() > 255 ? 255 : leaf.size());
    std::memcpy(pname + 1, leaf.data(), pname[0]);
    type = PStrHasRezExt(pname);
  }
  if (type) {
    t.flags |= kRecognizedType;
    t.type = type;
  }
  return t;
}

bool ValidListHandles(CPStrHandle names, DirEntryTypeHandle types) {
  return path_detail::HandleSize(reinterpret_cast<UHandle>(names)) >= 0 &&
         (!types || path_detail::HandleSize(reinterpret_cast<UHandle>(types)) >= 0);
}

// The attributes of an absolute path with at least one component.
MgErr AttrOf(Path path, PlatFileAttr* a, std::string* text = nullptr) {
  char buf[kHostTextBufSize];
  if (MgErr err = FPathToHostText(path, buf)) return err;
  if (text) *text = buf;
  if (int32 rc = PlatFileAttrOf(buf, a)) return HostErrToMgErr(rc);
  return kNoErr;
}

int32 DriveCount() {
  uInt32 mask = PlatDriveMask();
  int32 n = 0;
  for (; mask; mask &= mask - 1) ++n;
  return n;
}

}  // namespace

// ------------------------------------------------------------ information

int32 FExists(Path path) {
  if (FIsAPathOfType(path, kAbsPath) && FIsEmptyPath(path)) return 2;
  PlatFileAttr a;
  if (AttrOf(path, &a)) return 0;
  return a.isDir ? 2 : 1;
}

MgErr FDirExistsErr(Path path) {
  PlatFileAttr a;
  MgErr err = AttrOf(path, &a);
  if (err == kArgErr) return kArgErr;
  if (err) return kFileNotFoundErr;
  return a.isDir ? kNoErr : kArgErr;
}

MgErr FGetInfo(Path path, FileInfoRec* info) {
  if (!info) return kArgErr;
  if (FIsAPathOfType(path, kAbsPath) && FIsEmptyPath(path)) {
    info->type = info->creator = kUnknownType;
    info->permissions = 0;
    info->size = DriveCount();
    info->reserved1 = 0;
    info->cdate = info->mdate = 0;
    info->folder = 1;
    std::memset(info->pad, 0, sizeof info->pad);
    info->reserved2 = 0;
    info->location[0] = info->location[1] = 0;
    info->owner[0] = info->group[0] = 0;
    return kNoErr;
  }
  char text[kHostTextBufSize];
  if (MgErr err = FPathToHostText(path, text)) return err;
  // Through the host text and back: shortcuts on the way are resolved.
  Path real = nullptr;
  if (MgErr err = FTextToPath(reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), &real)) return err;
  bool drive = FDepth(real) == 1;
  PlatFileAttr a;
  if (int32 rc = PlatFileAttrOf(text, &a)) {
    FDisposePath(real);
    return HostErrToMgErr(rc);
  }
  MgErr err = kNoErr;
  if (a.isDir) {
    std::string dir(text);
    if (dir.back() != '\\') dir += '\\';
    int32 n = CountEntries(dir, &err);
    if (n >= 0) {
      info->type = info->creator = kUnknownType;
      info->size = drive ? n : (n >= 2 ? n - 2 : 0);
      info->folder = 1;
    }
  } else {
    uInt32 type = HasRezExt(real);
    info->type = type ? type : kUnknownType;
    info->creator = type ? kCreatorCode : kUnknownType;
    info->size = a.size >= 0x100000000ll ? 0x7FFFFFFF : int32(uInt32(a.size));
    info->folder = 0;
  }
  FDisposePath(real);
  if (err) return err;
  info->permissions = PermissionsOf(a.isDir, a.readOnly);
  info->cdate = drive ? 0 : HostTimeToSecs(a.createTime);
  info->mdate = drive ? 0 : HostTimeToSecs(a.modTime);
  std::memset(info->pad, 0, sizeof info->pad);
  info->reserved2 = 0;
  info->owner[0] = info->group[0] = 0;
  return kNoErr;
}

MgErr FSetInfo(Path path, const FileInfoRec* info) {
  if (!info) return kArgErr;
  char text[kHostTextBufSize];
  if (MgErr err = FPathToHostText(path, text)) return err;
  if (info->folder) return kNoErr;
  MgErr err = RSetFileTypeCreator(path, info->type, info->creator);
  if (err && err != kRsrcFileNotFoundErr && err != kEOFErr) return err;
  if (int e = PlatSetPermissions(text, uInt32(info->permissions) & 0777)) return FErrnoToMgErr(e, 0);
  int64 t = SecsToHostTime(info->mdate);
  if (int e = PlatSetTimes(text, t, t)) return FErrnoToMgErr(e, 0);
  return kNoErr;
}

MgErr FGetAccessRights(Path path, PStr owner, PStr group, int32* permissions) {
  if (!owner || !group || !permissions) return kArgErr;
  owner[0] = group[0] = 0;
  *permissions = 0;
  if (FIsAPathOfType(path, kAbsPath) && FIsEmptyPath(path)) return kNoErr;
  PlatFileAttr a;
  if (MgErr err = AttrOf(path, &a)) return err;
  *permissions = PermissionsOf(a.isDir, a.readOnly);
  return kNoErr;
}

MgErr FSetAccessRights(Path path, ConstPStr /*owner*/, ConstPStr /*group*/, const int32* permissions) {
  PlatFileAttr a;
  std::string text;
  if (MgErr err = AttrOf(path, &a, &text)) return err;
  if (!permissions || a.isDir) return kNoErr;
  return FErrnoToMgErr(PlatSetPermissions(text.c_str(), uInt32(*permissions) & 0777), 0);
}

MgErr FGetModDate(Path path, FileRef ref, uInt32* date, Bool32* readOnly) {
  if (!date) return kArgErr;
  *date = 0;
  if (readOnly) *readOnly = 0;
  PlatFileAttr a;
  if (ref) {
    if (!PlatFileIsOpen(Plat(ref))) return kArgErr;
    if (int32 rc = PlatFileAttrOfOpen(Plat(ref), &a)) return HostErrToMgErr(rc);
  } else {
    if (FIsAPathOfType(path, kAbsPath) && FIsEmptyPath(path)) return kNoErr;
    if (!FIsAbsPath(path)) return kArgErr;
    if (FDepth(path) == 1) return kNoErr;
    if (MgErr err = AttrOf(path, &a)) return err;
  }
  *date = HostTimeToSecs(a.modTime);
  if (readOnly) *readOnly = a.readOnly ? 1 : 0;
  return kNoErr;
}

// ---------------------------------------------------------------- volumes

MgErr FGetVolInfo(Path path, VolInfoRec* info) {
  if (!info) return kArgErr;
  std::string root;
  if (MgErr err = VolumeRootText(path, &root)) return err;
  if (MgErr err = FVolName(path, path)) return err;
  uInt64 total = 0, freeBytes = 0;
  if (int32 rc = PlatVolumeSpace(root.c_str(), &total, &freeBytes)) return HostErrToMgErr(rc);
  auto pin = [](uInt64 v) { return v >= 0xFFFFFFFFull ? 0xFFFFFFFFu : uInt32(v); };
  info->total = pin(total);
  info->used = pin(total - freeBytes);
  info->free = pin(freeBytes);
  return kNoErr;
}

MgErr FMGetVolInfo(Path path, float64* freeBytes, float64* totalBytes) {
  std::string root;
  if (MgErr err = VolumeRootText(path, &root)) return err;
  uInt64 total = 0, avail = 0;
  if (int32 rc = PlatVolumeSpace(root.c_str(), &total, &avail)) return HostErrToMgErr(rc);
  if (freeBytes) *freeBytes = float64(avail);
  if (totalBytes) *totalBytes = float64(total);
  return kNoErr;
}

MgErr FMGetVolPath(Path path, Path* volume) {
  std::string root;
  if (!volume || VolumeRootText(path, &root)) return kArgErr;
  if (*volume && path_detail::HandleSize(reinterpret_cast<UHandle>(*volume)) < 0) return kArgErr;
  if (!*volume) {
    Path v = FEmptyPath(nullptr);
    if (!v) return kMemFullErr;
    MgErr err = FVolName(path, v);
    if (err) {
      FDisposePath(v);
      return err;
    }
    *volume = v;
    return kNoErr;
  }
  return FVolName(path, *volume);
}

// --------------------------------------------------------------- listings

MgErr FListVolumes(CPStrHandle names, DirEntryTypeHandle types) {
  if (!ValidListHandles(names, types)) return kArgErr;
  Listing l;
  try {
    uInt32 mask = PlatDriveMask();
    for (int32 i = 0; i < 26; ++i) {
      if (!(mask & (1u << i))) continue;
      char name[2] = {char('A' + i), 0};
      AddName(l, name, DirEntryType{kRecognizedType, DriveKindCode(PlatDriveKindOf(name[0]))});
    }
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  return StoreListing(l, names, types);
}

MgErr FListDir(Path path, CPStrHandle names, DirEntryTypeHandle types) {
  return FListDirEx(path, names, types, 0);
}

MgErr FListDirEx(Path path, CPStrHandle names, DirEntryTypeHandle types, int32 options) {
  if (!ValidListHandles(names, types)) return kArgErr;
  if (FIsAPathOfType(path, kAbsPath) && FIsEmptyPath(path)) return FListVolumes(names, types);
  char text[kHostTextBufSize];
  if (MgErr err = FPathToHostText(path, text)) return err;
  std::string dir(text);
  if (dir.back() != '\\') dir += '\\';
  Listing l;
  PlatFind* find = nullptr;
  PlatFindEntry e;
  int32 rc = PlatFindFirst((dir + "*.*").c_str(), &find, &e);
  if (rc == kPlatErrFileNotFound) return StoreListing(l, names, types);
  if (rc) return kFileNotFoundErr;
  try {
    do {
      if (!std::strcmp(e.name, ".") || !std::strcmp(e.name, "..")) continue;
      DirEntryType t = types ? DescribeEntry(dir, e.name, options, &e) : DirEntryType{0, 0};
      AddName(l, e.name, t);
    } while (PlatFindNext(find, &e) == 0);
  } catch (const std::bad_alloc&) {
    PlatFindClose(find);
    return kMemFullErr;
  }
  PlatFindClose(find);
  return StoreListing(l, names, types);
}

// ------------------------------------------------- creating and removing

MgErr FNewDir(Path path) {
  uChar name[256];
  if (FNamePtr(path, name)) return kArgErr;
  if (FDepth(path) > 1 && FCheckName(name, path, 0, nullptr, nullptr)) return kArgErr;
  char text[kHostTextBufSize];
  if (MgErr err = FPathToHostText(path, text)) return err;
  if (int32 rc = PlatMakeFolder(text)) return HostErrToMgErr(rc);
  return kNoErr;
}

MgErr FRemove(Path path) {
  char text[kHostTextBufSize];
  if (MgErr err = FPathToHostText(path, text)) return err;
  if (int32 rc = PlatRemove(text)) return HostErrToMgErr(rc);
  return kNoErr;
}

MgErr FMove(Path from, Path to) {
  if (FDepth(from) < 2 || FDepth(to) < 1) return kArgErr;
  char a[kHostTextBufSize], b[kHostTextBufSize];
  if (MgErr err = FPathToHostText(from, a)) return err;
  if (MgErr err = FPathToHostText(to, b)) return err;
  if (int32 rc = PlatMove(a, b)) return HostErrToMgErr(rc);
  return kNoErr;
}

MgErr FCopy(Path from, Path to) {
  if (FDepth(from) < 2) return kArgErr;
  char a[kHostTextBufSize], b[kHostTextBufSize];
  if (MgErr err = FPathToHostText(from, a)) return err;
  if (MgErr err = FPathToHostText(to, b)) return err;
  if (int32 rc = PlatCopy(a, b)) return HostErrToMgErr(rc);
  return kNoErr;
}

// ------------------------------------------------------------------ folders

MgErr FAppFilePath(Path* path) {
  if (!path) return kArgErr;
  std::string host;
  if (!PlatProgramFile(&host)) return kFileNotFoundErr;
  return HostToPath(host, path);
}

MgErr FAppPath(Path* path) {
  if (MgErr err = FAppFilePath(path)) return err;
  return FDirName(*path, *path);
}

MgErr FAppFileText(CStr buffer, int32 size) {
  if (!buffer || size <= 0) return kArgErr;
  buffer[0] = 0;
  Path p = nullptr;
  if (MgErr err = FAppFilePath(&p)) return err;
  uChar name[256];
  if (FNamePtr(p, name) == kNoErr) {
    // A program file's extension has three characters; none at all is fine.
    for (int32 i = name[0]; i >= 1; --i) {
      if (name[i] != '.') continue;
      QX_ASSERT_MSG(name[0] - i == 3, "program file extension is not three characters");
      break;
    }
  }
  int32 n = -1;
  LStr probe = {-1, {0}};
  MgErr err = FPathToText(p, &probe);
  if (!err) {
    n = probe.cnt;
    if (n >= size) {
      err = kArgErr;
    } else {
      std::vector<uChar> buf(size_t(4 + n));
      LStrPtr l = reinterpret_cast<LStrPtr>(buf.data());
      l->cnt = 0;
      err = FPathToText(p, l);
      if (!err) {
        std::memcpy(buffer, l->str, size_t(n));
        buffer[n] = 0;
      }
    }
  }
  FDisposePath(p);
  return err;
}

MgErr FCurrentDirPath(Path* path) {
  if (!path) return kArgErr;
  std::string host;
  if (!PlatCurrentFolder(&host)) return kFileNotFoundErr;
  return HostToPath(host, path);
}

MgErr FTempDirPath(Path* path) {
  if (!path) return kArgErr;
  std::string host;
  if (!PlatTempFolder(&host)) return kFileNotFoundErr;
  if (!PlatHostFolderExists(host)) return FAppPath(path);
  return HostToPath(host, path);
}

MgErr FTrueNamePath(Path path) {
  char text[kHostTextBufSize];
  if (MgErr err = FPathToHostText(path, text)) return err;
  if (FDepth(path) == 1) {
    PlatFileAttr a;
    return PlatFileAttrOf(text, &a) ? kFileNotFoundErr : kNoErr;
  }
  std::string name;
  if (int32 rc = PlatFileTrueName(text, &name)) {
    MgErr err = HostErrToMgErr(rc);
    return err == kArgErr ? err : kFileNotFoundErr;
  }
  uChar pname[256];
  pname[0] = uChar(name.size() > 255 ? 255 : name.size());
  std::memcpy(pname + 1, name.data(), pname[0]);
  Path dir = FEmptyPath(nullptr);
  if (!dir) return kMemFullErr;
  MgErr err = FDirName(path, dir);
  if (!err) err = FAppendName(dir, pname);
  if (!err) err = FPathCpy(path, dir);
  FDisposePath(dir);
  return err;
}

Path FHostPath(Path h, Path path) {
  if (h && path_detail::HandleSize(reinterpret_cast<UHandle>(h)) < 0) return nullptr;
  if (FIsAPath(path) && FIsEmptyPath(path)) return FEmptyPath(h);
  char text[kHostTextBufSize];
  if (FPathToHostText(path, text)) return nullptr;
  Path out = h;
  if (FTextToPath(reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), &out)) return nullptr;
  return out;
}

MgErr FGetOSFolderPath(int32 /*folder*/, Path* /*path*/) { return kFileNotFoundErr; }
