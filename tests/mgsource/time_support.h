// Helpers of the time tests: the zone of the process and times of UTC
// calendar fields in the system's seconds since 1904.
#pragma once
#include <cstdlib>
#include <ctime>

#include "mgsource/extcode.h"

inline void SetTZ(const char* tz) {
  setenv("TZ", tz, 1);
  tzset();
}

// Seconds since 1904 of a UTC calendar time.
inline int64 UtcSecs1904(int year, int mon, int day, int h = 0, int m = 0, int s = 0) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = mon - 1;
  t.tm_mday = day;
  t.tm_hour = h;
  t.tm_min = m;
  t.tm_sec = s;
  return int64(timegm(&t)) + 2082844800;
}
