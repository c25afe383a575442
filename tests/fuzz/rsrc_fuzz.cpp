// Resource files come from disk and from memory: open any bytes as an image
// and as a writable file, read everything there is, change the file, write
// it back (first with a failure at one change of the file, which must leave
// it openable) and read it again: the added resource must be there.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"

namespace {

constexpr ResType kStrList = rsrcfmt::kTypeStrList, kLStrList = rsrcfmt::kTypeLStrList,
                  kPathList = rsrcfmt::kTypePathList;

std::string gHost;  // the host file behind the path below
Path gPath = nullptr;
bool gUnreadable;   // a record of the last walk could not be read
bool gOverlapping;  // the last write-back refused records that overlap

bool Init() {
  if (MemInit() != kNoErr || ThInit() != kNoErr || RInitResources() != kNoErr || FInitFileMgr() != kNoErr)
    return false;
  char dir[] = "/tmp/qxrsfuzzXXXXXX";
  if (!mkdtemp(dir) || PlatDriveMap('Z', dir, kPlatDriveFixed) != 0) return false;
  gHost = std::string(dir) + "/in.rsrc";
  const char* text = "Z:\\in.rsrc";
  return FTextToPath(reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), &gPath) == kNoErr;
}

// Reads entries of a list until the reader fails.
void WalkList(RsrcFileRef ref, ResType type, int32 id) {
  for (int32 i = 0; i <= 64; ++i) {
    MgErr err;
    if (type == kStrList) {
      Str255 s;
      err = RGetIndString(ref, s, id, i);
    } else if (type == kLStrList) {
      LStrHandle l = nullptr;
      err = RGetIndLStr(ref, &l, id, i);
      if (l) AZDisposeHandle(reinterpret_cast<UHandle>(l));
    } else {
      Path p = nullptr;
      err = RGetIndPath(ref, &p, id, i);
      if (p) FDisposePath(p);
    }
    if (err && i > 0) break;
  }
}

// Reads every type, every resource by index, id and name, and every list.
void Walk(RsrcFileRef ref) {
  gUnreadable = false;
  int32 nTypes = 0;
  RCountTypes(ref, &nTypes);
  for (int32 t = 0; t <= nTypes + 1; ++t) {
    ResType type = 0;
    if (RGetIndType(ref, &type, t) != kNoErr) continue;
    int32 n = 0;
    RCount(ref, type, &n);
    for (int32 i = 0; i <= n + 1 && i < 200; ++i) {
      UHandle h = nullptr;
      if (MgErr err = RGetInd(ref, type, i, &h)) {
        if (err == kEOFErr) gUnreadable = true;
        continue;
      }
      int32 id = 0, attrs = 0, size = 0;
      ResType same = 0;
      Str255 name;
      RGetInfo(h, &id, &same, name);
      RGetAttrs(h, &attrs);
      RSize(h, &size);
      UHandle again = nullptr;
      RGet(ref, type, id, &again);
      if (name[0]) RGetNamed(ref, type, name, &again);
      if (type == kStrList || type == kLStrList || type == kPathList) WalkList(ref, type, id);
      Path p = nullptr;
      if (RGetPath(ref, type, id, &p) == kNoErr && p) FDisposePath(p);
      if (i % 2) RRelease(h);
    }
  }
}

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  __builtin_trap();
}

const ResType kNew = FourCC("FUZZ");
constexpr int32 kNewSize = 13;

// The file on disk, opened on its own while the writable reference is open:
// it must open (its old contents or its new ones) after a failed write-back.
void ExpectOpens() {
  RsrcFileRef other = 0;
  MgErr err = ROpenFile(gPath, kRsrcReadOnly, &other, nullptr, nullptr);
  if (err != kNoErr && err != kMemFullErr) Broken("a failed write-back left a file that does not open");
  if (other) RCloseFile(other);
}

// Adds, removes and changes resources, then writes the file back, first
// with the change numbered failAt of the file failing.  Returns the id of the
// added resource and its size, or 0 when it is not in the map.
int32 Edit(RsrcFileRef ref, int64_t failAt, int32* addedSize) {
  int32 id = RUniqueID(ref, kNew);
  UHandle h = AZNewHandle(kNewSize);
  if (h) {
    std::memset(*h, 'z', kNewSize);
    if (RAdd(h, ref, kNew, id, reinterpret_cast<ConstPStr>("\x04" "fuzz")) != kNoErr) {
      AZDisposeHandle(h);
      h = nullptr;
    }
  }
  ResType type = 0;
  UHandle first = nullptr, last = nullptr;
  if (RGetIndType(ref, &type, 1) == kNoErr && RGetInd(ref, type, 1, &first) == kNoErr) {
    if (RRemove(first, ref) == kNoErr) AZDisposeHandle(first);
  }
  int32 nTypes = 0, n = 0;
  RCountTypes(ref, &nTypes);
  if (RGetIndType(ref, &type, nTypes) == kNoErr && RCount(ref, type, &n) == kNoErr &&
      RGetInd(ref, type, n, &last) == kNoErr) {
    if (AZSetHandleSize(last, AZGetHandleSize(last) + 5) == kNoErr) RChanged(last);
    RSetAttrs(last, 0x40);
  }
  PlatFileFault fault;  // only the write-back changes a file while it is set
  fault.failAt = failAt;
  PlatFileSetFault(&fault);
  const MgErr err = RUpdateFile(ref);
  const bool failed = PlatFileFaultFailures() > 0;
  PlatFileSetFault(nullptr);
  // Records that each read but overlap in the file are refused whole (the
  // write-back could overwrite one with another): that refusal needs no fault.
  gOverlapping = !failed && err == kEOFErr;
  if (!gOverlapping && failed != (err != kNoErr)) Broken("a write-back's result does not say whether it failed");
  if (failed) ExpectOpens();
  if (last) RWrite(last);
  UHandle added = nullptr;
  if (!h || id == 0 || RGet(ref, kNew, id, &added) != kNoErr || added != h) return 0;
  *addedSize = AZGetHandleSize(added);
  return id;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = Init();
  if (!ready || size > (1 << 16)) return 0;

  UHandle image = AZNewHandle(int32(size));
  if (!image) return 0;
  if (size) std::memcpy(*image, data, size);
  RsrcFileRef ref = 0;
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, image) == kNoErr) {
    Walk(ref);
    RCloseFile(ref);
  } else {
    AZDisposeHandle(image);
  }

  FILE* f = std::fopen(gHost.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  if (ROpenFile(gPath, kRsrcReadWrite, &ref, nullptr, nullptr) == kNoErr) {
    Walk(ref);
    // A write-back can't move a record that can't be read, and a file whose
    // write-back fails stays open: edit only files whose records all read.
    int32 added = 0, addedSize = 0;
    const bool edited = !gUnreadable;
    gOverlapping = false;
    if (edited) added = Edit(ref, 1 + int64_t(size % 11), &addedSize);
    const MgErr err = RCloseFile(ref);
    if (err != kNoErr) {
      if (edited && err != kMemFullErr && !gOverlapping)
        Broken("the write-back of a file whose records all read failed");
      return 0;
    }
    if (ROpenFile(gPath, kRsrcReadOnly, &ref, nullptr, nullptr) != kNoErr) {
      if (edited) Broken("a file written back does not open");
      return 0;
    }
    if (added) {
      UHandle h = nullptr;
      if (RGet(ref, kNew, added, &h) != kNoErr || AZGetHandleSize(h) != addedSize ||
          std::memcmp(*h, "zzzzzzzzzzzzz", kNewSize) != 0)
        Broken("the added resource is not in the file written back");
    }
    Walk(ref);
    RCloseFile(ref);
  }
  return 0;
}
