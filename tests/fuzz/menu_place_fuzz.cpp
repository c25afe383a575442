// Menu placement on random screens: list menus (arrow and scroll-bar mode)
// and palette menus of any size, item count, row height, anchor and initial
// item through MPlaceMenu, and submenus beside items and below bar titles
// through MSubmenuRect.  Invariants: at least one row and the first visible
// item within the items; the width kept; the window on the screen (4 pixels
// inside left and right, or whole for scroll-bar menus) whenever it fits
// there; palette menus only move up; a submenu keeps its parent's side while
// it fits there and lies 4 pixels inside the screen when it fits.
//
// The input is a run of 4-byte words, the first byte the most significant:
// screen left, top, width, height; menu kind (0 arrow, 1 scroll bar,
// 2 palette), item count, line height, width, palette height; anchor top,
// left (from the screen's corner), height, width; initial item, list style,
// mode (0 pop-up, 1 from an item, 2 from a title); submenu side (1 left),
// bar title.  scripts/menu_place_seeds.py writes the seeds.
#include <algorithm>
#include <cstdint>
#include <map>

#include "fuzz_support.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menutrack.h"
#include "tests/draw_start.h"

namespace {

constexpr int32 kMargin = 4;

int32 In(FuzzReader& in, int32 lo, int32 hi) { return lo + int32(in.Word() % uInt32(hi - lo + 1)); }

// A list menu of n items, made once.
MenuHandle ListMenu(int32 n) {
  static std::map<int32, MenuHandle> made;
  MenuHandle& m = made[n];
  if (!m) {
    const uChar title[] = {1, 'M'}, text[] = {4, 'I', 't', 'e', 'm'};
    FUZZ_CHECK(MNewLMenu(&m, title, 1) == kNoErr);
    for (int32 i = 0; i < n; ++i) FUZZ_CHECK(MInsertLItem(m, text, nullptr, 0, nullptr, 0, -1, 0) == kNoErr);
  }
  return m;
}

MenuHandle Palette() {
  static MenuHandle m = nullptr;
  if (!m) {
    const uChar title[] = {1, 'P'};
    FUZZ_CHECK(MNewPictMenu(&m, title, 2, 4) == kNoErr);
  }
  return m;
}

int32 H(const Rect& r) { return r.bottom - r.top; }
int32 W(const Rect& r) { return r.right - r.left; }
bool Within(const Rect& r, const Rect& s, int32 inset) {
  return r.left >= s.left + inset && r.right <= s.right - inset && r.top >= s.top + inset &&
         r.bottom <= s.bottom - inset;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = FuzzStartManagers() && StartDrawing();
  FUZZ_CHECK(started);
  FuzzReader in{data, size};
  const int32 sl = In(in, -2000, 2000), st = In(in, -2000, 2000);
  const Rect screen{int16(st), int16(sl), int16(st + In(in, 1, 4000)), int16(sl + In(in, 1, 4000))};
  const int32 kind = In(in, 0, 2), count = In(in, 0, 400), lineHeight = In(in, 1, 64);
  const int32 width = In(in, 1, 2000), paletteHeight = In(in, 1, 3000);
  const int32 at = In(in, -200, H(screen) + 200), al = In(in, -200, W(screen) + 200);
  const Rect anchor{int16(screen.top + at), int16(screen.left + al), int16(screen.top + at + In(in, 0, 100)),
                    int16(screen.left + al + In(in, 0, 300))};
  const int32 initial = In(in, 0, count), listStyle = In(in, 0, 1);
  static constexpr int32 kModes[] = {kMPlacePopUp, kMPlaceFromItem, kMPlaceFromTitle};
  const int32 mode = kModes[In(in, 0, 2)];
  const bool parentLeft = In(in, 0, 1) != 0, fromBar = In(in, 0, 1) != 0;

  MenuHandle menu = kind == 2 ? Palette() : ListMenu(count);
  const int32 row = lineHeight + 2, items = (*menu)->itemCount;
  (*menu)->lineHeight = lineHeight;
  (*menu)->scrollBar = kind == 1;
  (*menu)->size = Rect{0, 0, int16(kind == 2 ? paletteHeight : std::max(items, 1) * row + 4), int16(width)};
  const int32 height = H((*menu)->size);
  MSetListStyle(listStyle);
  Rect r{};
  MPlaceMenu(menu, &anchor, mode, &screen, &r, kind == 2 ? 0 : initial);
  MSetListStyle(0);

  const int32 rows = (*menu)->visibleRows, first = (*menu)->firstVisible;
  const bool anchorOnScreen = anchor.top >= screen.top && anchor.bottom <= screen.bottom &&
                              anchor.left >= screen.left && anchor.right <= screen.right;
  FUZZ_CHECK(W(r) == std::min(width, kind == 1 ? W(screen) : width));
  if (!listStyle && width + 2 * kMargin <= W(screen) && kind != 1)
    FUZZ_CHECK(r.left >= screen.left + kMargin && r.right <= screen.right - kMargin);
  if (kind == 2) {
    // Only moved up, bottom 4 pixels above the screen's.
    FUZZ_CHECK(H(r) == height && r.top == std::min(int32(anchor.top), screen.bottom - kMargin - height));
  } else {
    FUZZ_CHECK(rows >= 1 && rows <= std::max(items, 1));
    if (items > 0) FUZZ_CHECK(first >= 1 && first + rows - 1 <= items);
    if (kind == 0) {
      FUZZ_CHECK(H(r) == rows * row + 4);
      // A menu with room for two rows on either side of its anchor stays on
      // the screen.
      if (anchorOnScreen && anchor.top - screen.top >= 2 * row + 8 && screen.bottom - anchor.bottom >= 2 * row + 8)
        FUZZ_CHECK(r.top >= screen.top && r.bottom <= screen.bottom);
    } else if (anchorOnScreen && anchor.bottom > screen.top) {
      FUZZ_CHECK(r.top >= screen.top && r.bottom <= screen.bottom && rows <= std::max(H(r) - 4, row) / row);
    }
  }

  // A submenu of this size beside the anchor.
  const int32 sw = std::min(width, 2000), sh = std::min(height, 3000), dv = kind == 2 ? 20 : 0;
  bool left = parentLeft;
  const Rect s = MSubmenuRect(anchor, screen, sw, sh, fromBar, dv, 0, &left);
  FUZZ_CHECK(W(s) == sw && H(s) == sh);
  if (sw + 2 * kMargin <= W(screen) && sh + 2 * kMargin <= H(screen)) FUZZ_CHECK(Within(s, screen, kMargin));
  if (!fromBar) {
    const bool fitsLeft = anchor.left + 5 - sw >= screen.left + kMargin;
    const bool fitsRight = anchor.right - 5 + sw <= screen.right - kMargin;
    if (parentLeft ? fitsLeft : fitsRight) FUZZ_CHECK(left == parentLeft);
    else if (parentLeft ? fitsRight : fitsLeft) FUZZ_CHECK(left != parentLeft);
  } else if (anchorOnScreen && anchor.bottom >= screen.top + kMargin &&
             anchor.bottom + sh <= screen.bottom - kMargin && sw + 2 * kMargin <= W(screen)) {
    FUZZ_CHECK(s.top == anchor.bottom);
  }
  return 0;
}
