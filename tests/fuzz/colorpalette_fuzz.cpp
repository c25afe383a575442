// Colour-table resources of the palette from the resource file.  The input
// is split into the 4-bit and the 8-bit tables ("CLR#" 2004 and 2008); the
// palette is made, sized at both depths, hit-tested across its area and
// walked with the arrow keys.  Invariants: a table kept has columns and no
// more colours than its bytes hold, every hit is 0, 2001, 10000 or a cell
// of the grid, every key lands on a cell, 10000 or where it was, and no
// read goes past a table (ASan) nor divides by zero (UBSan).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/vi/rtrsrc.h"
#include "fuzz_support.h"
#include "mgsource/fourcc.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/winproc.h"
#include "panel/colorpal.h"
#include "tests/draw_start.h"
#include "tools/colorwriter.h"
#include "tools/rsrcwriter.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant: %s\n", what);
    std::abort();
  }
}

int32 Cells(const ColorPaletteRecord* p) {
  if (p->table < 0 || !p->tables[p->table]) return 0;
  int32 columns = 0, count = 0;
  std::memcpy(&columns, *p->tables[p->table], 4);
  std::memcpy(&count, *p->tables[p->table] + 4, 4);
  const int32 rows = (count + columns - 1) / columns;
  return rows * columns;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = FuzzStartManagers() && StartDrawing() && RInitResources() == kNoErr;
  if (!started || size > 1 << 14) return 0;
  const size_t cut = size ? data[0] % (size + 1) : 0;
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  w.Add(FourCC("CLR#"), 2004, rsrcw::Bytes(data, data + cut));
  w.Add(FourCC("CLR#"), 2008, rsrcw::Bytes(data + cut, data + size));
  qxbuild::AddColorResources(&w);
  const rsrcw::Bytes file = w.Write();
  UHandle fh = AZNewHandle(int32(file.size()));
  if (!fh) return 0;
  std::memcpy(*fh, file.data(), file.size());
  RsrcFileRef ref = 0;
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, fh) != kNoErr) return 0;
  SetRunTimeRsrcFile(ref);
  MenuHandle menu = nullptr;
  if (InitPanelColorPalette(&menu) == kNoErr) {
    const ColorPaletteRecord* p = ColorPalette();
    for (UHandle t : p->tables) {
      if (!t) continue;
      const int32 bytes = AZGetHandleSize(t);
      int32 columns = 0, count = 0;
      std::memcpy(&columns, *t, 4);
      std::memcpy(&count, *t + 4, 4);
      Check(columns > 0 && count >= 0 && count <= (bytes - 8) / 4, "a kept table fits its bytes");
    }
    for (int32 depth : {4, 8}) {
      PrepareColorPalette(0, 0xFFFFFF, 0x700 | (size & 1 ? 0xC000 : 0), depth, nullptr, 0);
      MCalcMenuSize(menu);
      const Rect r = (*menu)->size;
      const int32 cells = Cells(p);
      for (int32 v = r.top - 2; v < r.bottom + 2; v += 3)
        for (int32 h = r.left - 2; h < r.right + 2; h += 5) {
          const int32 hit = PaletteHitTest(p, Point{int16(v), int16(h)});
          Check(hit == 0 || hit == 2001 || hit == 10000 || (hit >= 1 && hit <= cells), "a hit names a cell");
          if (hit >= 1 && hit <= cells) (void)PaletteCellColor(ColorPalette(), hit);
        }
      for (size_t k = 0; k < size && k < 64; ++k) {
        MenuProcMsg m{};
        m.code = kMenuKeyStep;
        m.a6 = uInt32(vkUp + data[k] % 4);
        const int32 before = (*menu)->currentItem;
        const int32 at = ColorPaletteMenuProc(&m, menu);
        Check(at == before || at == 10000 || (at >= 1 && at <= cells), "a key lands on a cell");
      }
      DoColorPalette(kColorPaletteMenuId, (*menu)->currentItem);
    }
    DisposeColorPalette();
    MDisposeMenu(menu);
  }
  SetRunTimeRsrcFile(0);
  RCloseFile(ref);
  return 0;
}
