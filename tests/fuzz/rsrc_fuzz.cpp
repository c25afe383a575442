// Resource files come from disk and from memory: open any bytes as an image
// and as a writable file, read everything there is, change the file, write
// it back and read it again.
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

namespace {

constexpr ResType kStrList = rsrcfmt::kTypeStrList, kLStrList = rsrcfmt::kTypeLStrList,
                  kPathList = rsrcfmt::kTypePathList;

std::string gHost;  // the host file behind the path below
Path gPath = nullptr;
bool gUnreadable;   // a record of the last walk could not be read

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

// Adds, removes and changes resources, then writes the file back.
void Edit(RsrcFileRef ref) {
  const ResType kNew = FourCC("FUZZ");
  int32 id = RUniqueID(ref, kNew);
  UHandle h = AZNewHandle(13);
  if (h) {
    std::memset(*h, 'z', 13);
    if (RAdd(h, ref, kNew, id, reinterpret_cast<ConstPStr>("\x04" "fuzz")) != kNoErr) AZDisposeHandle(h);
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
  RUpdateFile(ref);
  if (last) RWrite(last);
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
    if (!gUnreadable) Edit(ref);
    if (RCloseFile(ref) != kNoErr) return 0;
  }
  if (ROpenFile(gPath, kRsrcReadOnly, &ref, nullptr, nullptr) == kNoErr) {
    Walk(ref);
    RCloseFile(ref);
  }
  return 0;
}
