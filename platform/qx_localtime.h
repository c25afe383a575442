// Local calendar time of the platform layer.
//
// Times of the system are seconds since 1 January 1904 00:00 UTC.  They are
// turned into calendar fields of the local time zone with the zone rules in
// force at that instant (daylight saving included), on a 64-bit time_t, so
// dates after 2038 convert as well as those before 1970.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

// Seconds from 1 January 1904 to 1 January 1970.
constexpr int64_t kPlatEpoch1904ToUnix = 2082844800;

// The local calendar fields (the C library's tm record) of a time in whole
// seconds since 1904; tm_isdst tells whether daylight time was in force at
// that instant.  False when the host cannot represent the time.
bool PlatLocalTimeFields(int64_t secsSince1904, struct tm* out);

// The time in seconds since 1904 of a local wall-clock time, given as the
// seconds since 1904 that the same calendar fields would make in UTC, with
// the zone rules in force at that instant.  In the hour that repeats when
// daylight time ends, isdstHint 0 picks the standard reading and 1 the
// daylight one; -1 leaves the choice to the host.  A wall time that the
// zone skips is read as the host's mktime reads it.  False when the host
// cannot represent the time.
bool PlatLocalWallToTime(int64_t wallSecs, int isdstHint, int64_t* secsSince1904);

// strftime of calendar fields in the "C" locale (English names, "AM"/"PM"):
// the number of bytes written before the NUL, 0 when they did not fit.
size_t PlatFormatTimeFields(char* out, size_t capacity, const char* format, const struct tm* fields);

// strftime of calendar fields with the time conventions of the environment's
// locale (LC_ALL, LC_TIME, LANG), the text in code page 1252.  Writes at most
// capacity - 1 bytes and a NUL (when capacity is not 0) and returns the
// length of the whole text, which is more than capacity - 1 when it was cut.
size_t PlatFormatTimeFieldsLocale(char* out, size_t capacity, const char* format, const struct tm* fields);
