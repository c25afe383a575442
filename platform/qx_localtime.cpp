#include "qx_localtime.h"

#include <locale.h>

#include <cstring>
#include <ctime>
#include <string>

#include "qx_locale.h"

static_assert(sizeof(time_t) == 8, "time_t must be 64 bits (_TIME_BITS=64)");

bool PlatLocalTimeFields(int64_t secsSince1904, struct tm* out) {
  if (!out) return false;
  // Guard the subtraction; localtime_r itself refuses years beyond an int.
  if (secsSince1904 > INT64_MAX / 2 || secsSince1904 < INT64_MIN / 2) return false;
  time_t t = time_t(secsSince1904 - kPlatEpoch1904ToUnix);
  return localtime_r(&t, out) != nullptr;
}

namespace {

bool SameWallFields(const struct tm& a, const struct tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday && a.tm_hour == b.tm_hour &&
         a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

// mktime of the wall fields with the given daylight flag; false when the
// host refuses them.  (time_t)-1 is also a real instant, told apart by
// converting it back.
bool MakeTime(const struct tm& wall, int isdst, time_t* out) {
  struct tm t = wall;
  t.tm_isdst = isdst;
  time_t r = mktime(&t);
  if (r == time_t(-1)) {
    struct tm back;
    if (!localtime_r(&r, &back) || !SameWallFields(back, wall)) return false;
  }
  *out = r;
  return true;
}

}  // namespace

bool PlatLocalWallToTime(int64_t wallSecs, int isdstHint, int64_t* secsSince1904) {
  if (!secsSince1904) return false;
  if (wallSecs > INT64_MAX / 2 || wallSecs < INT64_MIN / 2) return false;
  // The wall fields, normalised: the UTC fields of the same count.
  time_t w = time_t(wallSecs - kPlatEpoch1904ToUnix);
  struct tm wall;
  if (!gmtime_r(&w, &wall)) return false;
  time_t r;
  if (!MakeTime(wall, -1, &r)) return false;
  if (isdstHint == 0 || isdstHint == 1) {
    // A repeated hour reads both ways; take the reading the caller names
    // when it gives the same wall time.
    struct tm got;
    time_t r2;
    if (localtime_r(&r, &got) && got.tm_isdst != isdstHint && MakeTime(wall, isdstHint, &r2)) {
      struct tm back;
      if (localtime_r(&r2, &back) && back.tm_isdst == isdstHint && SameWallFields(back, wall)) r = r2;
    }
  }
  *secsSince1904 = int64_t(r) + kPlatEpoch1904ToUnix;
  return true;
}

size_t PlatFormatTimeFields(char* out, size_t capacity, const char* format, const struct tm* fields) {
  if (!out || capacity == 0 || !format || !fields) return 0;
  // The process's LC_TIME is "C": English names and the AM and PM designators.
  size_t n = strftime(out, capacity, format, fields);
  if (n == 0) out[0] = 0;
  return n;
}

size_t PlatFormatTimeFieldsLocale(char* out, size_t capacity, const char* format, const struct tm* fields) {
  if (out && capacity) out[0] = 0;
  if (!format || !fields) return 0;
  locale_t loc = newlocale(LC_TIME_MASK, "", locale_t(0));
  bool own = loc != locale_t(0);
  if (!own) loc = newlocale(LC_TIME_MASK, "C", locale_t(0));
  if (loc == locale_t(0)) return 0;
  // strftime gives 0 both for an empty text and for one that does not fit:
  // a marker at the end of the format tells them apart.
  std::string fmt(format);
  fmt += '\x01';
  // No conversion writes more than 256 bytes in any locale.
  const size_t most = fmt.size() * 256 + 256;
  std::string buf(fmt.size() * 4 + 256, '\0');
  size_t n = 0;
  for (;;) {
    n = strftime_l(buf.data(), buf.size(), fmt.c_str(), fields, loc);
    if (n > 0 || buf.size() >= most) break;
    buf.resize(buf.size() * 4 < most ? buf.size() * 4 : most);
  }
  bool utf8 = PlatLocaleIsUTF8(loc);
  freelocale(loc);
  if (n == 0) return 0;
  buf.resize(n - 1);  // without the marker
  size_t len = utf8 ? PlatUTF8ToCP1252(buf.data(), buf.size(), buf.data()) : buf.size();
  if (out && capacity) {
    size_t k = len < capacity - 1 ? len : capacity - 1;
    std::memcpy(out, buf.data(), k);
    out[k] = 0;
  }
  return len;
}
