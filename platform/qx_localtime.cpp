#include "qx_localtime.h"

#include <ctime>

static_assert(sizeof(time_t) == 8, "time_t must be 64 bits (_TIME_BITS=64)");

bool PlatLocalTimeFields(int64_t secsSince1904, struct tm* out) {
  if (!out) return false;
  // Guard the subtraction; localtime_r itself refuses years beyond an int.
  if (secsSince1904 > INT64_MAX / 2 || secsSince1904 < INT64_MIN / 2) return false;
  time_t t = time_t(secsSince1904 - kPlatEpoch1904ToUnix);
  return localtime_r(&t, out) != nullptr;
}

size_t PlatFormatTimeFields(char* out, size_t capacity, const char* format, const struct tm* fields) {
  if (!out || capacity == 0 || !format || !fields) return 0;
  // The process's LC_TIME is "C": English names and the AM and PM designators.
  size_t n = strftime(out, capacity, format, fields);
  if (n == 0) out[0] = 0;
  return n;
}
