// Images load from resource files whose bytes are not trusted: any bytes as
// a resource of each kind's type (and as every member of an icon family)
// load or are refused with 16 without reading past the resource, and a
// loaded image's release leaves the zones as they were.  No report may be
// raised: bad bytes are refused, never asserted on.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "mgsource/draw/image.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "tools/rsrcwriter.h"

namespace {

bool Init() {
  if (!FuzzStartManagers(FuzzAbortWhenArmed) || ThInit() != kNoErr || RInitResources() != kNoErr) return false;
  // The table, and the resource manager's list of its files (made by its
  // first search by handle), are made once before the first count.
  UHandle probe = AZNewHandle(0);
  RFindByHandle(probe, nullptr, nullptr, nullptr);
  AZDisposeHandle(probe);
  int32 id = 0;
  if (ICreateProcImage(nullptr, 0, &id) != kNoErr) return false;
  IRelease(id);
  return true;
}

constexpr int32 kKinds[] = {kImageIcon1, kImageIcon4, kImageIcon8, kImageMask, kImageFamily,
                            kImagePixmap, kImagePICT, kImagePicture, kImageDIB, kImageMeta};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Init();
  if (!ready || size < 1 || size > (1 << 16)) return 0;
  const int32 kind = kKinds[data[0] % (sizeof kKinds / sizeof kKinds[0])];
  const Bool32 detach = (data[0] >> 4) & 1;
  rsrcw::Bytes bytes(data + 1, data + size);
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  if (kind == kImageFamily) {
    // Each member type gets the bytes, or none by the bits of the first byte.
    const uInt32 types[4] = {FourCC("ICON"), FourCC("icl4"), FourCC("icl8"), FourCC("ICN#")};
    for (int32 k = 0; k < 4; ++k)
      if (!((data[0] >> (5 + k % 3)) & 1) || k == 3) w.Add(types[k], 7, bytes);
  } else {
    w.Add(kind == kImageMask ? FourCC("ICN#") : IRsrcTypeOfKind(kind), 7, bytes);
  }
  const rsrcw::Bytes file = w.Write();

  const int32 before = FuzzLiveHandles();
  UHandle h = AZNewHandle(int32(file.size()));
  FUZZ_CHECK(h);
  std::memcpy(*h, file.data(), file.size());
  RsrcFileRef ref = 0;
  FUZZ_CHECK(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, h) == kNoErr);
  FuzzArmed() = true;
  int32 image = -1;
  const MgErr err = IGet(ref, kind, 7, &image, detach);
  if (err) {
    FUZZ_CHECK(err == kImageNotFoundErr);
    FUZZ_CHECK(image == 0);
  } else {
    const int32 made = kind == kImageDIB ? kImagePixmap : kind;
    FUZZ_CHECK(IGetKind(image) == made);
    IGetDepth(image);
    FUZZ_CHECK(IRelease(image) == kNoErr);
  }
  FuzzArmed() = false;
  RCloseFile(ref);
  FUZZ_CHECK(FuzzLiveHandles() == before);
  return 0;
}
