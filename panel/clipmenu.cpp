#include "panel/clipmenu.h"

MgErr InitColorPalette(MenuHandle* menu) {
  static const uChar kTitle[] = "\x0d" "Color Palette";
  return MNewPictMenu(menu, kTitle, kColorPaletteMenuId, 8);
}

namespace {

// The palette's run: the colours shown at opening and the current ones,
// the flags, the depth and the caller's choice procedure.
struct PaletteRun {
  int32 shown[2];
  int32 current[2];
  int32 flags;
  int32 depth;
  ColorPaletteProc proc;
  int32 argument;
} gPalette{};

constexpr int32 kRunFlags = 0x70000, kChoiceBits = 0x700;

}  // namespace

void PrepareColorPalette(int32 foreground, int32 background, int32 flags, int32 depth, ColorPaletteProc proc,
                         int32 argument) {
  gPalette.shown[0] = gPalette.current[0] = foreground;
  gPalette.shown[1] = gPalette.current[1] = background;
  gPalette.flags = flags & ~kRunFlags;
  gPalette.depth = depth;
  gPalette.proc = proc;
  gPalette.argument = argument;
}

int32 DoColorPalette(int32 menuResult, int32 item) {
  const ColorPaletteProc proc = gPalette.proc;
  const int32 argument = gPalette.argument;
  gPalette.proc = nullptr;
  gPalette.argument = 0;
  // Without cells nothing can be chosen and the current colours never move
  // from those shown at opening: the run does not count.
  (void)menuResult, (void)item;
  int32 flags = gPalette.flags & ~kChoiceBits;
  gPalette.flags = flags;
  if (!proc) return 0;
  if (!(flags & kPaletteFromDialog)) flags |= kPaletteFromGrid;
  return proc(gPalette.current[0], gPalette.current[1], flags | kPaletteFinal, argument);
}

