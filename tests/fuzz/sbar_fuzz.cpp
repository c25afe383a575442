// Scroll-bar numbers come from data sizes and diagrams: any rectangle and
// any int32 value, visible amount and total go through the geometry and a
// sequence of tracking events.  The thumb stays inside the track, parts
// inside the bar, and every tracking result is 0, 1, a part code, or a
// thumb value in 0..total - visible with the orientation's bits.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "mgsource/draw/dport.h"
#include "mgsource/rects.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/wevent.h"

namespace {

int32 Word(const uint8_t* d) { return int32(uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16 | uint32_t(d[3]) << 24); }
int16 Half(const uint8_t* d) { return int16(uint16_t(d[0] | d[1] << 8)); }

bool Inside(const Rect& in, const Rect& out) {
  return in.top >= out.top && in.left >= out.left && in.bottom <= out.bottom && in.right <= out.right;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    if (!FuzzStartManagers()) return false;
    DSetPortTarget(0);  // the null port: drawing goes nowhere
    return true;
  }();
  if (!ready || size < 21) return 0;
  Rect r{Half(data), Half(data + 2), Half(data + 4), Half(data + 6)};
  // Keep the bar's extent within 16 bits so that its parts are representable.
  if (r.bottom < r.top) std::swap(r.bottom, r.top);
  if (r.right < r.left) std::swap(r.right, r.left);
  if (int32(r.bottom) - r.top > 30000) r.bottom = int16(r.top + 30000);
  if (int32(r.right) - r.left > 30000) r.right = int16(r.left + 30000);
  const int32 value = Word(data + 8), visible = Word(data + 12), total = Word(data + 16);
  const Bool32 vertical = data[20] & 1;
  gMenuMetrics.vArrowHeight = gMenuMetrics.hArrowWidth = 6 + (data[20] >> 3);
  SBarParts p;
  SBarGeometry(&r, value, visible, total, vertical, &p);
  FUZZ_CHECK(p.value >= 0 && int64_t(p.value) <= int64_t(p.total) - p.visible);
  FUZZ_CHECK(p.arrow >= 0 && p.trackLength >= 0 && p.thumbLength >= 0);
  FUZZ_CHECK(Inside(p.track, r));
  if (p.active && !DEmptyRect(&p.thumb)) FUZZ_CHECK(Inside(p.thumb, p.track));
  DrawSBar(&r, value, visible, total, nullptr, nullptr, vertical);
  // Events: 5 bytes each, a code and a point.
  static const int32 kCodes[] = {weMouseDown, weMouseMove, weMouseIdle, 46, weKey, weMouseUp};
  const int64_t range = int64_t(total) - visible;
  for (size_t at = 21; at + 5 <= size; at += 5) {
    const int32 code = kCodes[data[at] % 6];
    const Point pt{Half(data + at + 1), Half(data + at + 3)};
    const int32 res = TrackSBarEvent(&r, pt, code, value, visible, total, nullptr, nullptr, vertical);
    if (res < 0) {
      const uint32_t u = uint32_t(res);
      FUZZ_CHECK(vertical || (u & kSBarThumbHorizontal) == kSBarThumbHorizontal);
      const int64_t v = vertical ? int64_t(u & 0x7FFFFFFFu) : int64_t(u & kSBarThumbValueMask);
      FUZZ_CHECK(v <= range);
    } else {
      FUZZ_CHECK(res <= 9);
      if (res > 1) FUZZ_CHECK(total > visible && visible > 0);
    }
  }
  TrackSBarEvent(&r, Point{0, 0}, weMouseUp, value, visible, total, nullptr, nullptr, vertical);
  SBarResetTrackers();
  return 0;
}
