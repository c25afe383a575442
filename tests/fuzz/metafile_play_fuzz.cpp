// Past the header: display lists built from the fuzz bytes (any operation,
// any values, transfers with snapshots of any size and place, some of them
// inconsistent) get their bounds computed as a recording does and are
// played into a small clipped context.  Playing puts the context's clip and
// modes back, plays the same pixels twice, and a copy plays them too.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/qx_blit.h"
#include "platform/qx_dc.h"
#include "platform/qx_file.h"
#include "platform/qx_font.h"
#include "platform/qx_metafile.h"
#include "platform/qx_metafile_internal.h"
#include "platform/qx_region.h"
#include "platform/qx_surface.h"
#include "fuzz_support.h"

using namespace qxmeta;

namespace {

// Mostly small values, sometimes any 32-bit one.
int32_t Value(FuzzReader& in) {
  uint8_t kind = in.Byte();
  if (kind < 200) return int32_t(kind % 100) - 10 + int32_t(in.Byte() % 4) * 25;
  if (kind < 240) return int32_t(in.Byte()) << 8 | in.Byte();
  return int32_t(in.Word());
}

Pixels Snap(FuzzReader& in, bool whole) {
  Pixels p;
  p.w = 1 + in.Byte() % 12;
  p.h = 1 + in.Byte() % 12;
  p.mono = in.Byte() & 1;
  if (!whole) {
    p.fw = in.Byte() % 20;
    p.fh = in.Byte() % 20;
    p.ox = in.Byte() % 8;
    p.oy = in.Byte() % 8;
  }
  size_t n = size_t(p.w) * size_t(p.h);
  if (in.Byte() == 0xFF) n -= 1;  // inconsistent: refused by the player
  p.px.resize(n);
  for (uint32_t& v : p.px) v = p.mono ? ((in.Byte() & 1) ? 0xFFFFFFu : 0u) : (in.Word() & 0xFFFFFF);
  return p;
}

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

std::vector<uint8_t> Play(PlatMetafile mf) {
  Canvas c;
  PlatObj clip = PlatCreateRectRgn(2, 3, 40, 45);
  PlatSelectClipRgn(c.dc, clip);
  PlatDeleteObject(clip);
  PlatObj pen = PlatCurrentObject(c.dc, kPlatObjPen), brush = PlatCurrentObject(c.dc, kPlatObjBrush);
  if (!PlatPlayMetafile(c.dc, mf, PlatRect{4, 4, 44, 40})) std::abort();
  PlatRect box;
  PlatGetClipBox(c.dc, &box);
  if (box.left != 2 || box.top != 3 || box.right != 40 || box.bottom != 45) std::abort();
  if (PlatGetRop2(c.dc) != kPlatRop2CopyPen || PlatCurrentObject(c.dc, kPlatObjPen) != pen ||
      PlatCurrentObject(c.dc, kPlatObjBrush) != brush || PlatGetStretchBltMode(c.dc) != kPlatStretchAnd)
    std::abort();
  return c.Pixels();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  FuzzReader in{data, size};
  List list;
  BoxState state;
  int records = in.Byte() % 48;
  for (int i = 0; i < records; ++i) {
    Rec r;
    r.op = Op(in.Byte() % kOpCount);
    int values = in.Byte() % 20;
    for (int k = 0; k < values; ++k) r.v.push_back(Value(in));
    if (r.op == kText)
      for (int k = in.Byte() % 12; k > 0; --k) r.bytes.push_back(char(in.Byte()));
    if (r.op == kFont) {
      r.font.height = int32_t(in.Byte()) - 128;
      r.font.width = in.Byte() % 20;
      r.font.weight = in.Byte() * 4;
      r.font.italic = in.Byte() & 1;
      static const char* const kFaces[] = {"DejaVu Sans", "DejaVu Serif", "No Such Face"};
      const char* face = kFaces[in.Byte() % 3];
      PlatSetFaceName(&r.font, face, int32_t(std::strlen(face)));
    }
    if (r.op == kBlit) {
      uint8_t with = in.Byte();
      if (with & 1) r.src = Snap(in, false);
      if (with & 2) r.mask = Snap(in, true);
    }
    PlatRect box;
    if (RecordBox(r, state, 7, 9, &box)) {
      if (box.right < box.left || box.bottom < box.top) std::abort();
      Grow(&list.bounds, box.left, box.top, box.right, box.bottom);
    }
    state.Note(r);
    list.recs.push_back(std::move(r));
  }
  // The bounds' frame, or one of the fuzz bytes' own.
  list.frame = list.bounds;
  if (in.Byte() & 1) list.frame = PlatRect{Value(in), Value(in), Value(in), Value(in)};
  PlatMetafile mf = Adopt(std::move(list));
  if (!mf) std::abort();
  PlatMetafile copy = PlatCopyMetafile(mf);
  if (!copy) std::abort();
  std::vector<uint8_t> first = Play(mf);
  if (Play(mf) != first) std::abort();
  if (!PlatDeleteMetafile(mf)) std::abort();
  if (Play(copy) != first) std::abort();
  if (!PlatDeleteMetafile(copy)) std::abort();
  return 0;
}
