#include "qx_cursor.h"

#include <array>
#include <cstring>
#include <map>
#include <mutex>

#include "qx_file.h"

namespace {

struct CursorImage {
  std::array<uint8_t, kPlatCursorPlaneBytes> andPlane;
  std::array<uint8_t, kPlatCursorPlaneBytes> xorPlane;
  int32_t hotX, hotY;
};

// Handles of made cursors start above the system ones and count up; a
// destroyed handle comes back only after 2^32 - 16 more cursors were made.
constexpr PlatCursor kFirstMade = 16;

// Rows of a system cursor as text, 32 columns at most: 'X' black, '.' white,
// ' ' (or nothing) the screen.
struct SystemShape {
  int32_t hotX, hotY;
  const char* rows[kPlatCursorSize];
};

constexpr SystemShape kArrow = {0, 0,
                                {"X", "XX", "X.X", "X..X", "X...X", "X....X", "X.....X", "X......X",
                                 "X.......X", "X........X", "X.....XXXXX", "X..X..X", "X.X X..X", "XX  X..X",
                                 "X    X..X", "     X..X", "      X..X", "      X..X", "       XX"}};
constexpr SystemShape kWait = {
    5, 8, {"XXXXXXXXXXX", "X.........X", "XXXXXXXXXXX", " X.......X", " X.......X", " X.X.X.X.X", " XX.X.X.XX",
           "  XX.X.XX", "   XX.XX", "    X.X", "   XX.XX", "  XX...XX", " XX..X..XX", " X...X...X",
           " X..X.X..X", " X.X.X.X.X", "XXXXXXXXXXX", "X.........X", "XXXXXXXXXXX"}};
constexpr SystemShape kSizeNWSE = {
    7, 7, {"XXXXXX", "X....X", "X...X", "X....X", "X.X..X", "XX X..X", "    X..X", "     X..X",
           "      X..X XX", "       X..X.X", "        X....X", "         X...X", "        X....X",
           "        XXXXXX"}};

CursorImage FromShape(const SystemShape& shape) {
  CursorImage img;
  img.andPlane.fill(0xFF);  // the screen shows wherever no row says otherwise
  img.xorPlane.fill(0);
  img.hotX = shape.hotX;
  img.hotY = shape.hotY;
  for (int32_t y = 0; y < kPlatCursorSize && shape.rows[y]; ++y) {
    const char* row = shape.rows[y];
    for (int32_t x = 0; x < kPlatCursorSize && row[x]; ++x) {
      if (row[x] == ' ') continue;
      const int32_t byte = y * 4 + x / 8;
      const uint8_t bit = uint8_t(0x80 >> (x % 8));
      img.andPlane[byte] &= uint8_t(~bit);
      if (row[x] == '.') img.xorPlane[byte] |= bit;
    }
  }
  return img;
}

struct Cursors {
  std::mutex lock;
  std::map<PlatCursor, CursorImage> images;
  PlatCursor nextId = kFirstMade;
  PlatCursor current = kPlatCursorArrow;
  int32_t showCount = 0;
  Cursors() { AddSystem(); }
  void AddSystem() {
    images[kPlatCursorArrow] = FromShape(kArrow);
    images[kPlatCursorWait] = FromShape(kWait);
    images[kPlatCursorSizeNWSE] = FromShape(kSizeNWSE);
  }
};

Cursors& TheCursors() {
  static Cursors* c = new Cursors;
  return *c;
}

bool IsSystem(PlatCursor c) { return c >= kPlatCursorArrow && c <= kPlatCursorSizeNWSE; }

bool PlaneBit(const std::array<uint8_t, kPlatCursorPlaneBytes>& plane, int32_t x, int32_t y) {
  return (plane[size_t(y * 4 + x / 8)] >> (7 - x % 8)) & 1;
}

uint32_t Combine(const CursorImage& img, int32_t x, int32_t y, uint32_t screen) {
  const bool a = PlaneBit(img.andPlane, x, y), xr = PlaneBit(img.xorPlane, x, y);
  const uint32_t alpha = screen & 0xFF000000u;
  if (!a) return alpha | (xr ? 0xFFFFFFu : 0u);
  return xr ? screen ^ 0xFFFFFFu : screen;
}

}  // namespace

PlatCursor PlatLoadSystemCursor(int32_t which) {
  if (!IsSystem(PlatCursor(which))) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  return PlatCursor(which);
}

PlatCursor PlatCreateCursor(int32_t hotX, int32_t hotY, const uint8_t* andPlane, const uint8_t* xorPlane) {
  if (!andPlane || !xorPlane || hotX < 0 || hotY < 0 || hotX >= kPlatCursorSize || hotY >= kPlatCursorSize) {
    PlatSetLastError(kPlatErrInvalidParam);
    return 0;
  }
  CursorImage img;
  std::memcpy(img.andPlane.data(), andPlane, kPlatCursorPlaneBytes);
  std::memcpy(img.xorPlane.data(), xorPlane, kPlatCursorPlaneBytes);
  img.hotX = hotX;
  img.hotY = hotY;
  Cursors& cs = TheCursors();
  std::lock_guard<std::mutex> g(cs.lock);
  if (cs.images.size() >= size_t(UINT32_MAX - kFirstMade)) {
    PlatSetLastError(kPlatErrNoMemory);
    return 0;
  }
  PlatCursor id = cs.nextId;
  while (cs.images.count(id)) id = id == UINT32_MAX ? kFirstMade : id + 1;
  cs.nextId = id == UINT32_MAX ? kFirstMade : id + 1;
  cs.images[id] = img;
  return id;
}

bool PlatDestroyCursor(PlatCursor c) {
  Cursors& cs = TheCursors();
  std::lock_guard<std::mutex> g(cs.lock);
  if (IsSystem(c) || !cs.images.count(c)) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return false;
  }
  if (cs.current == c) {
    PlatSetLastError(kPlatErrBusy);
    return false;
  }
  cs.images.erase(c);
  return true;
}

bool PlatCursorIsValid(PlatCursor c) {
  Cursors& cs = TheCursors();
  std::lock_guard<std::mutex> g(cs.lock);
  return cs.images.count(c) != 0;
}

uint32_t PlatCursorPixel(PlatCursor c, int32_t x, int32_t y, uint32_t screen) {
  if (x < 0 || y < 0 || x >= kPlatCursorSize || y >= kPlatCursorSize) return screen;
  Cursors& cs = TheCursors();
  std::lock_guard<std::mutex> g(cs.lock);
  auto it = cs.images.find(c);
  return it == cs.images.end() ? screen : Combine(it->second, x, y, screen);
}

bool PlatCursorHotSpot(PlatCursor c, int32_t* x, int32_t* y) {
  Cursors& cs = TheCursors();
  std::lock_guard<std::mutex> g(cs.lock);
  auto it = cs.images.find(c);
  if (it == cs.images.end()) return false;
  if (x) *x = it->second.hotX;
  if (y) *y = it->second.hotY;
  return true;
}

bool PlatCursorDraw(PlatCursor c, PlatSurface* s, int32_t x, int32_t y) {
  if (!s || PlatSurfaceFormatOf(s) != kPlatRgb32) return false;
  CursorImage img;
  {
    Cursors& cs = TheCursors();
    std::lock_guard<std::mutex> g(cs.lock);
    auto it = cs.images.find(c);
    if (it == cs.images.end()) return false;
    img = it->second;
  }
  const int32_t left = x - img.hotX, top = y - img.hotY;
  const int32_t w = PlatSurfaceWidth(s), h = PlatSurfaceHeight(s);
  for (int32_t cy = 0; cy < kPlatCursorSize; ++cy) {
    const int32_t sy = top + cy;
    if (sy < 0 || sy >= h) continue;
    for (int32_t cx = 0; cx < kPlatCursorSize; ++cx) {
      const int32_t sx = left + cx;
      if (sx < 0 || sx >= w) continue;
      PlatSurfaceSetPixel(s, sx, sy, Combine(img, cx, cy, PlatSurfaceGetPixel(s, sx, sy)));
    }
  }
  return true;
}

PlatCursor PlatSetCursor(PlatCursor c) {
  Cursors& cs = TheCursors();
  std::lock_guard<std::mutex> g(cs.lock);
  if (c != 0 && !cs.images.count(c)) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return 0;
  }
  const PlatCursor before = cs.current;
  cs.current = c;
  return before;
}

PlatCursor PlatGetCursor() {
  Cursors& cs = TheCursors();
  std::lock_guard<std::mutex> g(cs.lock);
  return cs.current;
}

int32_t PlatShowCursor(bool show) {
  Cursors& cs = TheCursors();
  std::lock_guard<std::mutex> g(cs.lock);
  return show ? ++cs.showCount : --cs.showCount;
}

bool PlatCursorVisible() {
  Cursors& cs = TheCursors();
  std::lock_guard<std::mutex> g(cs.lock);
  return cs.showCount >= 0 && cs.current != 0;
}

void PlatCursorsReset() {
  Cursors& cs = TheCursors();
  std::lock_guard<std::mutex> g(cs.lock);
  cs.images.clear();
  cs.AddSystem();
  cs.nextId = kFirstMade;
  cs.current = kPlatCursorArrow;
  cs.showCount = 0;
}
