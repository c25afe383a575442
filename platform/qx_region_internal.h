// Region helpers shared by the drawing contexts.
#pragma once
#include <pixman.h>

#include <cstdint>

namespace qxdraw {

int32_t RegionKind(const pixman_region32_t* r);
void SetRect(pixman_region32_t* r, int32_t l, int32_t t, int32_t rr, int32_t b);
void SetEllipse(pixman_region32_t* r, int32_t l, int32_t t, int32_t rr, int32_t b);
void SetRoundRect(pixman_region32_t* r, int32_t l, int32_t t, int32_t rr, int32_t b, int32_t ew,
                  int32_t eh);

// True when moving every box of the region by (dx, dy) stays inside int32.
inline bool OffsetFits(const pixman_region32_t* r, int32_t dx, int32_t dy) {
  if (!pixman_region32_not_empty(const_cast<pixman_region32_t*>(r))) return true;
  const pixman_box32_t* e = pixman_region32_extents(const_cast<pixman_region32_t*>(r));
  auto fits = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
  return fits(int64_t(e->x1) + dx) && fits(int64_t(e->x2) + dx) && fits(int64_t(e->y1) + dy) &&
         fits(int64_t(e->y2) + dy);
}

}  // namespace qxdraw
