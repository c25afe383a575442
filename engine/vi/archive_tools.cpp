// Making libraries and changing their members: ArchiveCreate, the member
// operations and the library tools with their error texts.
#include <cstring>
#include <new>

#include "archive_internal.h"
#include "mgsource/counted_strings.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "rtrsrc.h"

using namespace archfmt;

namespace archive {

namespace {

std::vector<uChar> PStrBytes(const std::string& s) {
  std::vector<uChar> b;
  AppendPStr(&b, s);
  return b;
}

std::string TextOf(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

// The library-wide resources of a new library.
MgErr AddLibraryResources(RsrcFileRef library, ConstPStr name) {
  const std::vector<uChar> empty(4, 0);
  Str255 vi, ctl;
  CToPStr(kVIPaletteName, vi);
  CToPStr(kCtlPaletteName, ctl);
  const struct {
    uInt32 type;
    int32 id;
    ConstPStr name;
  } blank[] = {{kRsrcOldPalette, kOldVIPaletteId, vi}, {kRsrcOldPalette, kOldCtlPaletteId, ctl},
               {kRsrcPalette, kVIPaletteId, vi},       {kRsrcPalette, kCtlPaletteId, ctl},
               {kRsrcPaletteNames, kVIPaletteId, vi},  {kRsrcPaletteNames, kCtlPaletteId, ctl}};
  for (const auto& r : blank)
    if (MgErr err = AddResource(library, r.type, r.id, r.name, empty)) return err;
  const struct {
    int32 from, id;
    ConstPStr name;
  } images[] = {{kVIPaletteImage, kVIPaletteId, vi}, {kCtlPaletteImage, kCtlPaletteId, ctl}};
  for (const auto& im : images) {
    int32 image = 0;
    if (MgErr err = IGet(RunTimeRsrcFile(), kImageFamily, im.from, &image, 1)) return err;
    MgErr err = IAdd(image, library, im.name, im.id);
    IRelease(image);
    if (err) return err;
  }
  std::string base = TextOf(name);
  base = base.substr(0, base.find('.'));
  if (MgErr err = AddResource(library, kRsrcString, kVIPaletteTitleId, nullptr, PStrBytes(base + kVIPaletteSuffix)))
    return err;
  return AddResource(library, kRsrcString, kCtlPaletteTitleId, nullptr, PStrBytes(base + kCtlPaletteSuffix));
}

// The version word of a member: its QXIN header's, else the run-time's
// (the first word of its 'vers' 1), else the compiled-in one.
uInt32 MemberVersion(RsrcFileRef source) {
  UHandle h = nullptr;
  if (source && RGetInd(source, kTypeVI, 1, &h) == kNoErr) {
    const bool whole = AZGetHandleSize(h) >= kHeaderVersionOffset + 4;
    const uInt32 v = whole ? GetBE32(*h + kHeaderVersionOffset) : 0;
    RRelease(h);
    if (whole) return v;
  }
  if (RGet(RunTimeRsrcFile(), FourCC("vers"), 1, &h) == kNoErr) {
    const bool whole = AZGetHandleSize(h) >= 4;
    const uInt32 v = whole ? GetBE32(*h) : 0;
    if (whole) return v;
  }
  return kRunTimeVersion;
}

// Resources of a member taken out of the library's map while it is
// replaced; put back when the replacement fails.
struct Removed {
  uInt32 type;
  UHandle handle;
  Str255 name;
};

MgErr TakeOut(RsrcFileRef library, int32 id, std::vector<Removed>* removed) {
  for (uInt32 type : kMemberTypes) {
    UHandle h = nullptr;
    MgErr err = RGet(library, type, id, &h);
    if (err == kRsrcNotFoundErr) continue;
    if (err) return err;
    Removed r{type, h, {0}};
    int32 rid;
    ResType rtype;
    RGetInfo(h, &rid, &rtype, r.name);
    if ((err = RRemove(h, library))) return err;
    removed->push_back(r);
  }
  return kNoErr;
}

void PutBack(RsrcFileRef library, int32 id, std::vector<Removed>& removed) {
  for (Removed& r : removed)
    if (RAdd(r.handle, library, r.type, id, r.name) != kNoErr) AZDisposeHandle(r.handle);
  removed.clear();
}

void DisposeRemoved(std::vector<Removed>& removed) {
  for (Removed& r : removed) AZDisposeHandle(r.handle);
  removed.clear();
}

// The palettes' bytes before a change, to be put back when it fails.
class PaletteSnapshot {
 public:
  MgErr Take(RsrcFileRef library) {
    library_ = library;
    for (int32 k = 0; k < 4; ++k) {
      UHandle h = nullptr;
      MgErr err = RGet(library, Type(k), Id(k), &h);
      if (err == kRsrcNotFoundErr) continue;
      if (err) return err;
      had_[k] = true;
      try {
        bytes_[k].assign(*h, *h + AZGetHandleSize(h));
      } catch (const std::bad_alloc&) {
        return kMemFullErr;
      }
    }
    return kNoErr;
  }
  void Restore() {
    for (int32 k = 0; k < 4; ++k) {
      if (!had_[k]) {
        RemoveResource(library_, Type(k), Id(k));
        continue;
      }
      UHandle h = nullptr;
      if (RGet(library_, Type(k), Id(k), &h) == kNoErr) {
        if (SetHandleBytes(h, bytes_[k]) == kNoErr) RChanged(h);
      } else {
        Str255 name;
        CToPStr(Id(k) == kVIPaletteId ? kVIPaletteName : kCtlPaletteName, name);
        AddResource(library_, Type(k), Id(k), name, bytes_[k]);
      }
    }
  }

 private:
  static uInt32 Type(int32 k) { return k < 2 ? kRsrcPalette : kRsrcPaletteNames; }
  static int32 Id(int32 k) { return (k & 1) ? kCtlPaletteId : kVIPaletteId; }
  RsrcFileRef library_ = 0;
  bool had_[4] = {false, false, false, false};
  std::vector<uChar> bytes_[4];
};

// Adds the member's resources: the copies of the source's own, the
// compressed file and, in a palette, the palette text and place.
MgErr AddMemberResources(RsrcFileRef library, RsrcFileRef source, int32 id, ConstPStr name, uInt32 type,
                         UHandle* compressed, bool toPalette) {
  for (uInt32 t : kCopiedTypes) {
    UHandle h = nullptr;
    if (!source) break;
    MgErr err = RGet(source, t, kCopiedFromId, &h);
    if (err == kRsrcNotFoundErr) continue;
    if (err || (err = AZHandToHand(&h))) return err;
    if ((err = RAdd(h, library, t, id, name))) {
      AZDisposeHandle(h);
      return err;
    }
  }
  if (MgErr err = RAdd(*compressed, library, kRsrcCompressed, id, name)) return err;
  *compressed = nullptr;  // the map's now
  if (!toPalette) return kNoErr;
  std::vector<uChar> list(2, 0);
  PutBE16(list.data(), 1);
  const std::vector<uChar> text = PStrBytes(TextOf(name));
  list.insert(list.end(), text.begin(), text.end());
  if (MgErr err = AddResource(library, kRsrcStrList, id, name, list)) return err;
  return PaletteAddMember(library, id, type, name);
}

// The directory with the member's entry added or updated.
MgErr DirWithEntry(const uChar* dirBytes, const ArchiveDir& dir, int32 index, int32 id, uInt32 type, uInt32 version,
                   const FileInfoRec& info, ConstPStr name, std::vector<uChar>* out) {
  try {
    if (dirBytes) out->assign(dirBytes, dirBytes + (dir.Count() ? dir.Offset(dir.Count() - 1) + dir.Size(dir.Count() - 1)
                                                                 : uInt32(kDirHeaderSize)));
    else *out = EmptyDir();
    uInt32 at;
    if (index < 0) {
      at = uInt32(out->size());
      out->resize(at + uInt32(EntrySize(name[0])), 0);
      PutBE32(out->data() + kDirCount, uInt32(dir.Count() + 1));
      PutBE32(out->data() + at + kEntryId, uInt32(id));
      std::memcpy(out->data() + at + kEntryName, name, size_t(name[0]) + 1);
    } else {
      at = dir.Offset(index);
    }
    uChar* e = out->data() + at;
    PutNative32(e + kEntryType, type);
    PutBE32(e + kEntryVersion, version);
    PutBE32(e + kEntryModDate, info.mdate);
    PutBE32(e + kEntryDate2, info.cdate);
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  return kNoErr;
}

MgErr StoreDir(RsrcFileRef library, UHandle dirHandle, const std::vector<uChar>& bytes) {
  if (!dirHandle) return AddResource(library, kRsrcDir, kDirId, nullptr, bytes);
  if (MgErr err = SetHandleBytes(dirHandle, bytes)) return err;
  return RChanged(dirHandle);
}

// The tools' text buffer: the first failure's text, empty on success.
class ToolText {
 public:
  explicit ToolText(PStr buffer) : buf_(buffer) {
    if (buf_) buf_[0] = 0;
  }
  MgErr Fail(int32 entry, MgErr err) {
    if (!set_ && buf_) {
      Str255 t;
      if (RGetIndString(RunTimeRsrcFile(), t, kToolTextsId, entry) == kNoErr) PStrCpy(buf_, t);
    }
    set_ = true;
    return err;
  }
  MgErr FailWith(ConstPStr text, MgErr err) {
    if (!set_ && buf_) PStrCpy(buf_, text);
    set_ = true;
    return err;
  }

 private:
  PStr buf_;
  bool set_ = false;
};

// The file manager's name check of a path's last component.
bool NameChecks(ConstPStr name, Path path, ToolText* text) {
  Str255 bad, checkText;
  if (FCheckName(name, path, 0, bad, checkText) == 0) return true;
  text->FailWith(checkText, kArgErr);
  return false;
}

bool IsRunMenuFile(Path path) {
  FileRef f = nullptr;
  if (FMOpen(&f, path, kAccessRead, kDenyNone)) return false;
  char head[sizeof kRunMenuSignature - 1];
  const bool read = FMRead(f, int32(sizeof head), nullptr, reinterpret_cast<UPtr>(head)) == kNoErr;
  FMClose(f);
  return read && std::memcmp(head, kRunMenuSignature, sizeof head) == 0;
}

// Closes a resource file opened here when it is still open.
void Close(RsrcFileRef* ref, MgErr* first) {
  if (!*ref) return;
  MgErr err = RCloseFile(*ref);
  if (err && first && !*first) *first = err;
  *ref = 0;
}

}  // namespace

}  // namespace archive

using namespace archive;

Bool32 IsQLBFile(Path path) {
  uInt32 type = 0;
  return RIsResFile(path, &type, nullptr) == kNoErr && type == kFileType;
}

MgErr ArchiveCreate(Path path, ConstPStr name, Bool32 replace) {
  if (!name) return kArgErr;
  Scope scope;
  DropCachedCopy(path);
  if (MgErr err = RCreateFile(path, replace, kCreator, kFileType, FGetDefPerm(0666))) return err;
  RsrcFileRef ref = 0;
  MgErr err = ROpenFile(path, kRsrcReadWrite, &ref, nullptr, nullptr);
  if (!err) {
    err = AddLibraryResources(ref, name);
    Close(&ref, &err);
  }
  if (err) FRemove(path);
  return err;
}

MgErr ArchiveAddMember(RsrcFileRef library, Path source, RsrcFileRef sourceFile, ConstPStr name, uInt32 type,
                       Bool32 toPalette) {
  if (!name || !name[0]) return kArgErr;
  Scope scope;
  FileInfoRec info;
  if (MgErr err = FGetInfo(source, &info)) return err;
  const int64 room = int64(info.size) + info.size / 8 + 10240;
  if (room > INT32_MAX) return kDiskFullErr;
  if (MgErr err = RPreAllocFile(library, int32(room))) return err;
  UHandle dirHandle = nullptr;
  ArchiveDir dir;
  if (MgErr err = LoadDir(library, &dirHandle, &dir)) return err;
  const int32 index = dir.Find(name);
  if (index < 0 && dir.LargestId() == INT32_MAX) return kCantAddRsrcErr;
  const int32 id = index >= 0 ? dir.Id(index) : dir.LargestId() + 1;
  UHandle compressed = nullptr;
  if (MgErr err = ArchiveCompress(source, &compressed)) return err;
  const bool palette = toPalette && (type == kTypeVI || type == kTypeControl);

  // An existing member's resources and palette place go first, kept to be
  // put back if the new ones can't all be added.
  std::vector<Removed> removed;
  PaletteSnapshot palettes;
  MgErr err = palettes.Take(library);
  try {
    if (!err && index >= 0) err = TakeOut(library, id, &removed);
  } catch (const std::bad_alloc&) {
    err = kMemFullErr;
  }
  if (!err && index >= 0) err = PaletteRemoveMember(library, name);
  if (!err) err = AddMemberResources(library, sourceFile, id, name, type, &compressed, palette);
  std::vector<uChar> bytes;
  if (!err) err = DirWithEntry(dirHandle ? *dirHandle : nullptr, dir, index, id, type, MemberVersion(sourceFile),
                               info, name, &bytes);
  if (!err) err = StoreDir(library, dirHandle, bytes);
  if (err) {
    for (uInt32 t : kMemberTypes) RemoveResource(library, t, id);
    PutBack(library, id, removed);
    palettes.Restore();
  }
  DisposeRemoved(removed);
  if (compressed) AZDisposeHandle(compressed);
  return err;
}

MgErr ArchiveRemoveMember(RsrcFileRef library, ConstPStr name) {
  if (!name) return kArgErr;
  Scope scope;
  UHandle dirHandle = nullptr;
  ArchiveDir dir;
  if (MgErr err = LoadDir(library, &dirHandle, &dir)) return err;
  const int32 index = dir.Find(name);
  if (index < 0) return kRsrcNotFoundErr;
  const int32 id = dir.Id(index);
  std::vector<uChar> bytes;
  try {
    const uChar* p = *dirHandle;
    const uInt32 at = dir.Offset(index), size = uInt32(dir.Size(index));
    const uInt32 end = dir.Offset(dir.Count() - 1) + uInt32(dir.Size(dir.Count() - 1));
    bytes.assign(p, p + at);
    bytes.insert(bytes.end(), p + at + size, p + end);
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  PutBE32(bytes.data() + kDirCount, uInt32(dir.Count() - 1));
  MgErr first = StoreDir(library, dirHandle, bytes);
  if (first) return first;
  if (MgErr err = PaletteRemoveMember(library, name)) first = err;
  for (uInt32 t : kMemberTypes)
    if (MgErr err = RemoveResource(library, t, id); err && !first) first = err;
  return first;
}

MgErr AddQLBFile(Path member, Path source, const Point* palettePosition, Bool32 usePalette, PStr text) {
  Scope scope;
  ToolText out(text);
  if (usePalette && !palettePosition) return out.Fail(kTextPaletteRange, kArgErr);
  if (!FIsAbsPath(member)) return out.Fail(kTextNotAbsolute, kArgErr);
  RsrcFileRef src = 0;
  uInt32 type = 0;
  if (MgErr err = ROpenFile(source, kRsrcReadOnly, &src, &type, nullptr)) {
    if (!IsRunMenuFile(source)) return out.Fail(kTextCantOpenSource, err);
    type = kTypeRunMenu;
  }
  MgErr err = kNoErr;
  Path library = nullptr;
  RsrcFileRef ref = 0;
  bool created = false;
  Str255 memberName, sourceName;
  do {
    if (type != kTypeVI && type != kTypeControl && type != kTypeRunMenu && type != kTypeSubroutine) {
      err = out.Fail(kTextUnknownType, kArgErr);
      break;
    }
    if (palettePosition && !(palettePosition->v == -1 && palettePosition->h == -1) &&
        (palettePosition->v < 0 || palettePosition->h < 0)) {
      err = out.Fail(kTextPaletteRange, kArgErr);
      break;
    }
    if ((err = FNamePtr(member, memberName))) {
      out.Fail(kTextNoLibraryName, err);
      break;
    }
    if ((err = FNamePtr(source, sourceName))) {
      out.Fail(kTextNoSourceName, err);
      break;
    }
    library = FEmptyPath(nullptr);
    if (!library || (err = FDirName(member, library))) {
      err = out.Fail(kTextNoPath, err ? err : kMemFullErr);
      break;
    }
    // The member's name is stored in the library and later names the files
    // it is extracted to: it must be a plain file name too.
    if (!NameChecks(sourceName, source, &out) || !NameChecks(memberName, member, &out)) {
      err = kArgErr;
      break;
    }
    const int32 exists = FExists(library);
    if (exists == 2) {
      err = out.Fail(kTextDirectoryThere, kDupPathErr);
      break;
    }
    if (exists == 0) {
      if ((err = ArchiveCreate(library, memberName, 0))) {
        out.Fail(kTextCantCreate, err);
        break;
      }
      created = true;
    }
    uInt32 libraryType = 0;
    if ((err = OpenWritable(library, &ref, &libraryType))) {
      out.Fail(kTextCantOpenLibrary, err);
      break;
    }
    if (libraryType != kFileType) {
      err = out.Fail(kTextBadLibraryType, kArgErr);
      break;
    }
    err = FindMember(ref, memberName, nullptr, nullptr);
    if (err == kNoErr) {
      err = out.Fail(kTextDuplicate, kDupPathErr);
      break;
    }
    if (err != kFileNotFoundErr) {
      out.Fail(kTextCantList, err);
      break;
    }
    if ((err = ArchiveAddMember(ref, source, src, memberName, type, usePalette))) out.Fail(kTextCantAdd, err);
  } while (false);
  Close(&src, nullptr);
  MgErr closeErr = kNoErr;
  Close(&ref, &closeErr);
  if (!err && closeErr) err = out.Fail(kTextCantAdd, closeErr);
  if (err && created) FRemove(library);
  if (library) FDisposePath(library);
  return err;
}

MgErr RemoveQLBFile(Path member, Path destination, Point* palettePosition, PStr text, int32 mode,
                    RsrcFileRef* file) {
  Scope scope;
  ToolText out(text);
  if (file) *file = 0;
  if (palettePosition) *palettePosition = Point{-1, -1};
  if (mode < 0 || mode > 2) return out.Fail(kTextBadMode, kArgErr);
  if (!FIsAbsPath(member)) return out.Fail(kTextNotAbsolute, kArgErr);
  Str255 name;
  if (MgErr err = FNamePtr(member, name)) return out.Fail(kTextNoLibraryName, err);
  if (mode >= 1) {
    if (!destination) return out.Fail(kTextCantExtract, kArgErr);
    if (!FIsAbsPath(destination)) return out.Fail(kTextNotAbsolute, kArgErr);
    if (FExists(destination) == 2) return out.Fail(kTextDestinationIsDir, kArgErr);
    if (IsQLBFile(destination)) return out.Fail(kTextCantOverwrite, kArgErr);
    Str255 destName;
    if (MgErr err = FNamePtr(destination, destName)) return out.Fail(kTextNoSourceName, err);
    if (!NameChecks(destName, destination, &out)) return kArgErr;
    // The member is written to the destination, which is then opened when
    // the caller wants it open.
    uInt32 type = 0;
    if (MgErr err = ArchiveExtractByPath(member, destination, nullptr, &type, palettePosition))
      return out.Fail(kTextCantExtract, err);
    if (file)
      if (MgErr err = ROpenFile(destination, kRsrcReadOnly, file, nullptr, nullptr))
        return out.Fail(kTextCantExtract, err);
  }
  if (mode == 2) return kNoErr;
  Path library = nullptr;
  if (MgErr err = SplitMemberPath(member, &library, name)) return out.Fail(kTextNoPath, err);
  RsrcFileRef ref = 0;
  uInt32 libraryType = 0;
  MgErr err = OpenWritable(library, &ref, &libraryType);
  FDisposePath(library);
  if (err) return out.Fail(kTextCantOpenLibrary, err);
  if ((err = ArchiveRemoveMember(ref, name))) out.Fail(kTextCantRemove, err);
  MgErr closeErr = kNoErr;
  Close(&ref, &closeErr);
  if (!err && closeErr) err = out.Fail(kTextCantRemove, closeErr);
  return err;
}
