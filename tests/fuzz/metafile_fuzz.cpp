// Metafile bytes come from picture files, resources and the clipboard: any
// bytes go through the checked importers.  A refusal says bad input; an
// import has an enhanced header's bounds and converted frame, plays without
// leaving the context's state changed, and its copy plays the same pixels,
// also after the original is deleted.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/qx_dc.h"
#include "platform/qx_file.h"
#include "platform/qx_metafile.h"
#include "platform/qx_metafile_read.h"
#include "platform/qx_region.h"
#include "platform/qx_surface.h"

namespace {

int32_t Le32(const uint8_t* p) { return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24); }

struct Canvas {
  PlatObj dc = PlatCreateMemoryDc();
  PlatObj bm = PlatCreateBitmap(48, 48, 32, nullptr, 0);
  Canvas() { PlatSelectObject(dc, bm); }
  ~Canvas() {
    PlatDeleteDc(dc);
    PlatDeleteObject(bm);
  }
  std::vector<uint8_t> Pixels() {
    PlatSurface* s = PlatBitmapSurface(bm);
    return std::vector<uint8_t>(PlatSurfaceBits(s), PlatSurfaceBits(s) + PlatSurfaceByteSize(s));
  }
};

// Plays with a clip of the context's own and checks that the clip and the
// modes are the context's again afterwards.
std::vector<uint8_t> Play(PlatMetafile mf) {
  Canvas c;
  PlatObj clip = PlatCreateRectRgn(2, 3, 40, 45);
  PlatSelectClipRgn(c.dc, clip);
  PlatDeleteObject(clip);
  PlatObj pen = PlatCurrentObject(c.dc, kPlatObjPen);
  if (!PlatPlayMetafile(c.dc, mf, PlatRect{4, 4, 44, 40})) std::abort();
  PlatRect box;
  PlatGetClipBox(c.dc, &box);
  if (box.left != 2 || box.top != 3 || box.right != 40 || box.bottom != 45) std::abort();
  if (PlatGetRop2(c.dc) != kPlatRop2CopyPen || PlatCurrentObject(c.dc, kPlatObjPen) != pen) std::abort();
  return c.Pixels();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  std::vector<uint8_t> bytes(data, data + size);  // exact size: a read past it is caught
  PlatMetafile mf = PlatMetafileFromBytes(bytes.data(), uint32_t(bytes.size()));
  if (!mf) {
    if (PlatLastError() != kPlatErrInvalidParam) std::abort();
    return 0;
  }
  PlatMetaHeader h{};
  if (!PlatGetMetafileHeader(mf, &h) || h.records < 0) std::abort();
  // An enhanced header's bounds are kept and its frame is converted from
  // 0.01 mm through the reference device.
  if (size >= 88 && Le32(data) == 1 && Le32(data + 40) == 0x464D4520) {
    if (h.bounds.left != Le32(data + 8) || h.bounds.top != Le32(data + 12) || h.bounds.right != Le32(data + 16) ||
        h.bounds.bottom != Le32(data + 20))
      std::abort();
    auto px = [&](int off, int dev, int mm) {
      double v = std::floor(double(Le32(data + off)) * Le32(data + dev) / (double(Le32(data + mm)) * 100) + 0.5);
      return int32_t(std::fmin(std::fmax(v, -1073741823.0), 1073741823.0));
    };
    if (h.frame.left != px(24, 72, 80) || h.frame.top != px(28, 76, 84) || h.frame.right != px(32, 72, 80) ||
        h.frame.bottom != px(36, 76, 84))
      std::abort();
  }
  PlatMetafile copy = PlatCopyMetafile(mf);
  PlatMetaHeader hc{};
  if (!copy || !PlatGetMetafileHeader(copy, &hc) || std::memcmp(&h, &hc, sizeof h) != 0) std::abort();
  std::vector<uint8_t> first = Play(mf);
  if (!PlatDeleteMetafile(mf) || PlatIsMetafile(mf)) std::abort();
  if (Play(copy) != first) std::abort();
  if (!PlatDeleteMetafile(copy)) std::abort();
  return 0;
}
