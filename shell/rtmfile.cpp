// Reading run-time menu files and 'RTMN' resources into menu descriptions.
// Every count and length is checked against the bytes actually read.
#include <cstring>
#include <new>

#include "engine/shellsvc.h"
#include "engine/vi/archive.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/appdirs.h"
#include "mgsource/byteorder.h"
#include "mgsource/config.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "platform/qx_process.h"
#include "shell/dialog.h"
#include "shell/rtmenu_internal.h"

namespace {

// A bounded big-endian reader: a read past the end sets ok false.
struct Flat {
  const uChar* p;
  int32 left;
  bool ok = true;
  uInt32 U32() {
    if (!ok || left < 4) return ok = false, 0;
    const uInt32 v = GetBE32(p);
    p += 4;
    left -= 4;
    return v;
  }
  std::string Str() {
    const int32 n = int32(U32());
    if (!ok || n < 0 || n > left) return ok = false, std::string();
    std::string s(reinterpret_cast<const char*>(p), size_t(n));
    p += n;
    left -= n;
    return s;
  }
};

// The least bytes of one item: four words and three string counts.
constexpr int32 kCurrentItemMin = 24, kOldItemMin = 20;

MgErr ReadItems(Flat* f, bool current, std::vector<RTMItem>* items) {
  const int32 count = int32(f->U32());
  if (!f->ok || count < 0 || count > f->left / (current ? kCurrentItemMin : kOldItemMin)) return 42;
  items->resize(size_t(count));
  for (RTMItem& it : *items) {
    it.level = f->U32();
    it.name = f->Str();
    it.tag = f->Str();
    it.tagHash = current ? f->U32() : 0;
    it.flags = f->U32();
    it.shortcut = f->Str();
    if (!f->ok) return 42;
  }
  return kNoErr;
}

// Flags cut to 16 bits, tag hashes recomputed; too deep a tree is refused
// (building recurses once per level).
MgErr RTMFinishMenuData(RTMMenuData* d) {
  for (RTMItem& it : d->items) {
    if (it.level > kRTMMaxLevel) return kRTMBadFileErr;
    it.flags &= 0xFFFF;
    it.tagHash = RTMTagHash(RTMStripTag(it.tag));
  }
  return kNoErr;
}

}  // namespace

std::string RTMStripTag(const std::string& tag) {
  size_t i = 0;
  while (i < tag.size() && (tag[i] == ' ' || tag[i] == '\b' || tag[i] == '\f' || tag[i] == '\n' ||
                            tag[i] == '\r' || tag[i] == '\t'))
    ++i;
  return tag.substr(i);
}

uInt32 RTMTagHash(const std::string& tag) {
  Str255 p;
  p[0] = uChar(tag.size() > 255 ? 255 : tag.size());
  std::memcpy(p + 1, tag.data(), p[0]);
  return PStrHash(p, 1);
}

MgErr RTMParseMenuData(uInt32 version, const uChar* bytes, int32 size, RTMMenuData* out) {
  if (!out || (!bytes && size > 0) || size < 0) return kArgErr;
  *out = RTMMenuData();
  Flat f{bytes, size};
  MgErr err = kNoErr;
  try {
    if (version == kRTMVersionOld1 || version == kRTMVersionOld2) {
      err = ReadItems(&f, false, &out->items);
      // The header words of converted data: the run-time's own values.
      out->header[0] = 0;
      out->header[1] = 2;
      out->header[2] = 1;
    } else if (version == kRTMVersionCurrent) {
      out->format = int32(f.U32() & 0xFFFF);
      for (int32& h : out->header) h = int32(f.U32());
      err = f.ok ? ReadItems(&f, true, &out->items) : 42;
    } else {
      DBPrintf("RTM Error : Unknown rtm file version");
      err = kRTMBadVersionErr;
    }
    if (!err) err = RTMFinishMenuData(out);
  } catch (const std::bad_alloc&) {
    err = kMemFullErr;
  }
  if (err) *out = RTMMenuData();
  return err;
}

MgErr RTMCheckHeader(const uChar* bytes, int32 size, uInt32* version) {
  if (!bytes || size < kRTMFileHeaderSize || bytes[0] != kRTMSignatureLength ||
      std::memcmp(bytes + 1, kRTMSignature, kRTMSignatureLength) != 0)
    return kRTMBadFileErr;
  if (version) *version = GetBE32(bytes + 14);
  return kNoErr;
}

MgErr RTMParseMenuRsrc(const uChar* bytes, int32 size, RTMMenuData* out) {
  if (!bytes || size < 4) {
    if (out) *out = RTMMenuData();
    return kRTMBadFileErr;
  }
  return RTMParseMenuData(GetBE32(bytes), bytes + 4, size - 4, out);
}

namespace {

// An open run-time menu file: checked, positioned at its description.
struct RTMFile {
  FileRef ref = 0;
  uInt32 version = 0;
  int32 descSize = 0;  // the description's size in bytes
};

// Opens and checks a file: its version and the description's size.
MgErr RTMOpenMenuFile(Path path, RTMFile* file) {
  FileRef* ref = &file->ref;
  *ref = 0;
  if (FMOpen(ref, path, kAccessRead, kDenyNone) != kNoErr) {
    DBPrintf("RTM Error: Unable to open rtm file");
    *ref = 0;
    return kFileNotFoundErr;
  }
  FileInfoRec info{};
  MgErr err = FGetInfo(path, &info);
  if (err) DBPrintf("RTM Error: Unable to get rtm file info");
  uChar header[kRTMFileHeaderSize] = {};
  int32 got = 0;
  if (!err && (FMRead(*ref, 1, &got, header) != kNoErr || got != 1)) {
    DBPrintf("RTM Error:: Error reading run time menu file signature size");
    err = kRTMBadFileErr;
  }
  // The length byte is checked before anything more is read.
  if (!err && (header[0] != kRTMSignatureLength || info.size < kRTMFileHeaderSize)) err = kRTMBadFileErr;
  if (!err && (FMRead(*ref, kRTMSignatureLength, &got, header + 1) != kNoErr || got != kRTMSignatureLength)) {
    DBPrintf("RTM Error:: Error reading run time menu file signature");
    err = kRTMBadFileErr;
  }
  if (!err && std::memcmp(header + 1, kRTMSignature, kRTMSignatureLength) != 0) {
    DBPrintf("RTM Error: Signature match failed, not a rtm file");
    err = kRTMBadFileErr;
  }
  if (!err && (FMRead(*ref, 4, &got, header + 14) != kNoErr || got != 4)) {
    DBPrintf("RTM Error: Error reading rtm file version");
    err = kRTMBadFileErr;
  }
  if (err) {
    FMClose(*ref);
    *ref = 0;
    return err;
  }
  file->version = GetBE32(header + 14);
  file->descSize = info.size - kRTMFileHeaderSize;
  return kNoErr;
}

MgErr ReadAndParse(Path path, RTMMenuData* out) {
  RTMFile file;
  if (MgErr err = RTMOpenMenuFile(path, &file)) return err;
  const FileRef ref = file.ref;
  const uInt32 version = file.version;
  const int32 size = file.descSize;
  // The description in the LStr form: its size, then the bytes.
  UHandle flat = AZNewHandle(4 + size);
  MgErr err = kNoErr;
  if (!flat) {
    DBPrintf("RTM Error: Can't get memory for flat menu");
    err = kMemFullErr;
  } else {
    PutNative32(*flat, uInt32(size));
    int32 got = 0;
    if (FMRead(ref, size, &got, *flat + 4) != kNoErr || got != size) {
      DBPrintf("RTM Error: Error reading rtm file");
      err = 42;
    } else {
      err = RTMParseMenuData(version, *flat + 4, size, out);
    }
    AZDisposeHandle(flat);
  }
  FMClose(ref);
  return err;
}

}  // namespace

// A temporary file of the pattern that did not exist before (created here,
// empty): null when none can be made.
Path RTMNewExclusiveTemp() {
  Path p = MakeTempFilePath("qxm%ld.rtm", nullptr);
  for (int32 n = 0; p && n < 1000; ++n) {
    FileRef ref = 0;
    if (FCreate(&ref, p, 0, kAccessReadWrite, kDenyNone, nullptr) == kNoErr) {
      FMClose(ref);
      return p;
    }
    if (!MakeTempFilePathNumbered("qxm%ld.rtm", int32((PlatProcessId() + 1 + uInt32(n)) % 10000), p)) break;
  }
  if (p) FDisposePath(p);
  return nullptr;
}

namespace {

void RemoveTemp(Path p) {
  if (!p) return;
  FRemove(p);
  FDisposePath(p);
}

}  // namespace

MgErr RTMReadMenuFile(Path path, RTMMenuData* out) {
  if (!out) return kArgErr;
  *out = RTMMenuData();
  if (!path || !FIsAPath(path)) return kArgErr;
  Str255 member;
  if (FNamePtr(path, member) != kNoErr) member[0] = 0;
  if (IsBuiltApp() && RunTimeRsrcFile() && member[0]) {
    if (Path tmp = RTMNewExclusiveTemp()) {
      MgErr err = ArchiveExtractToTmpFile(RunTimeRsrcFile(), member, tmp, nullptr, kRTMMemberType);
      if (!err) err = ReadAndParse(tmp, out);
      RemoveTemp(tmp);
      if (!err) return kNoErr;
    }
  }
  Path dir = FEmptyPath(nullptr);
  if (!dir || FDirName(path, dir) != kNoErr) {
    DBPrintf("RTM Error: path manipulation failed");
    if (dir) FDisposePath(dir);
    return kMemFullErr;
  }
  const bool inLibrary = FExists(dir) == 1;
  FDisposePath(dir);
  if (!inLibrary) return ReadAndParse(path, out);
  Path tmp = RTMNewExclusiveTemp();
  if (!tmp) return kMemFullErr;
  MgErr err = ArchiveExtractByPath(path, tmp, nullptr, nullptr, nullptr);
  if (err) DBPrintf("RTM Error: Unable to open rtm file from archive");
  else err = ReadAndParse(tmp, out);
  RemoveTemp(tmp);
  return err;
}

MgErr RTMReadMenuRsrc(RsrcFileRef file, int32 id, RTMMenuData* out) {
  if (!out) return kArgErr;
  *out = RTMMenuData();
  UHandle h = nullptr;
  MgErr err = RGet(file, kRTMRsrcType, id, &h);
  if (err || !h) {
    UHandle text = nullptr;
    if (RGet(file, FourCC("STR "), kRTMMissingRsrcStrId, &text) == kNoErr && text && *text &&
        AZGetHandleSize(text) >= 1) {
      Str255 t;
      const int32 size = AZGetHandleSize(text);
      t[0] = uChar((*text)[0] < size ? (*text)[0] : size - 1);
      std::memcpy(t + 1, *text + 1, t[0]);
      OneButtonAlert(kAlertPStr, t, nullptr, kAlertDefaultPos, kAlertDefaultPos);
    }
    return err ? err : kRsrcNotFoundErr;
  }
  // A copy of the body: the resource stays the file's.
  const int32 size = AZGetHandleSize(h);
  std::vector<uChar> body(*h, *h + (size > 0 ? size : 0));
  RRelease(h);
  return RTMParseMenuRsrc(body.data(), int32(body.size()), out);
}

Bool32 RTMIsMenuFile(Path path) {
  RTMFile file;
  if (!path || RTMOpenMenuFile(path, &file) != kNoErr) return 0;
  FMClose(file.ref);
  return 1;
}
