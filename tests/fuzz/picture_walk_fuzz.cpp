// Picture data from resources and diagram data is not trusted: any bytes
// become a picture image, whose walk counts what a second walk counts, sets
// the length word to the data's size, and whose records, where they pass
// the well-formedness check, are read field by field within their data.
// Releasing the picture (never recorded here) touches none of the handles
// or ids its records hold and leaves the zones as they were.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/pictops.h"

namespace {

bool Init() {
  if (!FuzzStartManagers(FuzzAbortWhenArmed)) return false;
  int32 id = 0;
  if (ICreateProcImage(nullptr, 0, &id) != kNoErr) return false;
  IRelease(id);
  return true;
}

// Reads every field a player would read of a well-formed record.
uInt32 Touch(const PictRecord& r, PictColourState* colours) {
  const uInt8* d = r.data;
  uInt32 sum = 0;
  switch (r.opcode) {
    case kPictOpPolyLine:
    case kPictOpPaintPoly: {
      const uInt32 n = GetBE32(d), at = r.opcode == kPictOpPolyLine ? 4 : 8;
      for (uInt32 i = 0; i <= n; ++i) sum += GetBE32(d + at + 4 * i);
      break;
    }
    case kPictOpTextBox: {
      const uInt32 len = GetBE32(d), tail = 16 + len + (len & 1);
      for (uInt32 i = 0; i < len; ++i) sum += d[16 + i];
      sum += GetBE32(d + tail);
      for (int32 k = 0; k < 4; ++k) sum += colours->Decode(k, GetBE32(d + tail + 4 + 4 * k));
      break;
    }
    case kPictOpMarkers: {
      const uInt32 n = GetBE32(d + 5);
      for (uInt32 i = 0; i < 2 * n; ++i) sum += GetBE16(d + 9 + 2 * i);
      sum += GetBE16(d + 9 + 4 * n + 6);
      break;
    }
    case kPictOpPixels: {
      const uInt32 count = GetBE32(d);
      const int32 c = int16(GetBE16(d + 22));
      const uInt32 from = c ? 24 + 2 + uInt32(c + 1) * 8 : 24;
      if (count) sum += d[from] + d[from + count - 1];
      break;
    }
    case kPictOpImage:
      for (int32 k = 0; k < 4; ++k) sum += colours->Decode(k, GetBE32(d + 20 + 4 * k));
      break;
    default:
      for (int32 i = 0; i < r.size && i < 64; ++i) sum += d[i];
      break;
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Init();
  if (!ready || size < 1 || size > (1 << 20)) return 0;
  const bool appZone = data[0] & 1;
  const int32 flags = (data[0] & (kImageLive | kImageBorrowed | kImageOfPicture)) | (appZone ? kImageAppZone : 0);
  const int32 before = FuzzLiveHandles();
  const int32 bytes = int32(size - 1);
  UHandle h = appZone ? AZNewHandle(bytes) : DSNewHandle(bytes);
  FUZZ_CHECK(h);
  if (bytes) std::memcpy(*h, data + 1, size_t(bytes));
  FuzzArmed() = true;
  int32 image = 0;
  const Rect bounds{0, 0, 10, 10};
  const MgErr err = ICreatePict(0, &bounds, 8, h, flags, &image);
  if (bytes < 4) {
    FUZZ_CHECK(err == kArgErr && image == 0);
    FuzzArmed() = false;
    appZone ? AZDisposeHandle(h) : DSDisposeHandle(h);
    FUZZ_CHECK(FuzzLiveHandles() == before);
    return 0;
  }
  FUZZ_CHECK(err == kNoErr && IGetKind(image) == kImagePicture);
  FUZZ_CHECK(GetNative32(*h) == uInt32(bytes - 4));
  const ImageEntry e = IEntryOf(image);
  const uInt32 pens = reinterpret_cast<const PictInfo*>(*reinterpret_cast<UHandle>(uintptr_t(e.extra)))->penCount;

  PictWalker walk(reinterpret_cast<const uInt8*>(*h) + 4, bytes - 4);
  PictRecord rec;
  uInt32 counted = 0;
  volatile uInt32 sink = 0;
  PictColourState colours;
  int64 last = -1;
  while (walk.Next(&rec)) {
    FUZZ_CHECK(rec.offset > last && rec.size >= 0 && int64(rec.offset) + 6 + rec.size <= bytes - 4);
    last = rec.offset;
    if (rec.opcode == kPictOpPenDef || rec.opcode == kPictOpFontDef) ++counted;
    if (PictOpValid(rec.opcode) && PictRecordWellFormed(rec)) sink = sink + Touch(rec, &colours);
  }
  FUZZ_CHECK(counted == pens);
  FUZZ_CHECK(IRelease(image) == kNoErr);
  if (flags & kImageBorrowed && !(flags & kImageOfPicture)) appZone ? AZDisposeHandle(h) : DSDisposeHandle(h);
  FuzzArmed() = false;
  FUZZ_CHECK(FuzzLiveHandles() == before);
  return 0;
}
