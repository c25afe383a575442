// Time: seconds since 1 January 1904 00:00 UTC (unsigned 32-bit, or a double
// with fractions of a second), local calendar fields with the zone rules of
// each instant, dates and times in the user's locale, strftime-style
// patterns into long strings, and the millisecond tick.
#pragma once
#include <ctime>

#include "extcode.h"

// Seconds from 1 January 1904 to 1 January 1970.
enum : uInt32 { kSecs1904To1970 = 2082844800u };

// The calendar record of SecsToDate and DateToSecs.
struct DateRec {
  int32 second;
  int32 minute;
  int32 hour;
  int32 day;      // 1-31
  int32 month;    // 1-12
  int32 year;     // e.g. 1998
  int32 weekday;  // 1-7, 1 Sunday
  int32 yearDay;  // 1-366
  int32 dst;      // daylight time in force
};
static_assert(sizeof(DateRec) == 36 && offsetof(DateRec, month) == 16 && offsetof(DateRec, dst) == 32,
              "calendar record layout");
// SecsToTm returns the C library's tm record, whose first nine 32-bit
// fields external code reads.
static_assert(offsetof(struct tm, tm_sec) == 0 && offsetof(struct tm, tm_min) == 4 &&
                  offsetof(struct tm, tm_hour) == 8 && offsetof(struct tm, tm_mday) == 12 &&
                  offsetof(struct tm, tm_mon) == 16 && offsetof(struct tm, tm_year) == 20 &&
                  offsetof(struct tm, tm_wday) == 24 && offsetof(struct tm, tm_yday) == 28 &&
                  offsetof(struct tm, tm_isdst) == 32,
              "tm record layout");

// The current time and its whole seconds and milliseconds.
struct TimeSecsMs {
  uInt32 secs;
  int32 ms;  // 0-999
};
static_assert(sizeof(TimeSecsMs) == 8, "seconds and milliseconds pair");

// The current time in whole seconds, rounded (halves to even).
QX_EXTERN_C uInt32 TimeInSecs();
// The current time as a double of seconds with their fraction.
QX_EXTERN_C void GetFloat64Time(float64* t);
// The current time's whole seconds and milliseconds (rounded).
QX_EXTERN_C void GetTimeSecsMs(TimeSecsMs* now);

// Local calendar fields of a time, with the zone rules and the daylight flag
// of that instant.  A time the host cannot convert gives 1 January 1904
// 00:00:00, a Friday.  SecsToTm's record (month 0-11, years since 1900,
// weekday 0-6, day of year 0-365) belongs to the calling thread and is
// overwritten by its next call.
QX_EXTERN_C struct tm* SecsToTm(const uInt32* secs);
QX_EXTERN_C void SecsToDate(uInt32 secs, DateRec* date);
// The time of local calendar fields (weekday and day of year ignored; the
// daylight flag only chooses in the hour that repeats when daylight time
// ends).  An invalid date is normalised through its day number (31 April is
// 1 May, month 13 January of the next year); a day of 0 gives 0, and so does
// a time before 1904 or after 2040-02-06 06:28:15 UTC.
QX_EXTERN_C uInt32 DateToSecs(const DateRec* date);
// The time of a calendar record of SecsToTm's form, as DateToSecs reads it.
QX_EXTERN_C uInt32 TmToSecs(const struct tm* t);

// Date and time texts in the user's locale, in a 128-byte buffer of the
// calling thread that the next call of the same function overwrites.
// DateCString styles: 0 short, 1 long, 2 long with abbreviated names (3 is
// read as 0, others pinned to 0-2).
QX_EXTERN_C CStr DateCString(uInt32 secs, int32 style);
// The same date text written into the caller's buffer of at least
// kLocaleDateBufSize bytes (cut to fit); a null buffer writes nothing.
constexpr int32 kLocaleDateBufSize = 128;
QX_EXTERN_C void DateToLocaleCStr(uInt32 secs, int32 style, CStr buffer);
QX_EXTERN_C CStr TimeCString(uInt32 secs, int32 withSeconds);
// The date in style 2, a space, and the time with seconds.
QX_EXTERN_C CStr ASCIITime(uInt32 secs);
// The time with seconds followed by ".%03d" of the milliseconds, cut to
// capacity - 1 characters and a NUL; returns the length.
QX_EXTERN_C int32 TimeMsCString(const TimeSecsMs* t, char* out, int32 capacity);

// Formats the time with a strftime pattern (the format's text, or "%c" when
// there is none or it is empty) into the result, resized to the length + 4.
// "%#" before a conversion strips the leading zeros of its numbers; "%"
// before a character that is not a known conversion is dropped.  Returns 2
// when a work buffer cannot be had and the resize error (result unchanged).
QX_EXTERN_C MgErr FormatDateTimeString(LStrHandle format, uInt32 secs, LStrHandle result);

// The millisecond tick count.
QX_EXTERN_C uInt32 MilliSecs();
// a - b as a signed 32-bit number: positive when a is later, right across the wrap.
QX_EXTERN_C int32 MillisecCmp(uInt32 a, uInt32 b);
// The high-resolution switch read by MilliSecs (off by default).
void SetMilliSecsHighRes(Bool32 on);

// The AM and PM designators, at most 4 characters each: "AM" and "PM" until
// DateReadAMPM reads them from the locale at start-up.  DateAMPM returns the
// designator (not NUL-terminated) and stores its length.
void DateReadAMPM();
const uChar* DateAMPM(Bool32 pm, int32* length);

// Used inside the managers.
// The local fields of a time (thread-safe; 1 January 1904 when the host
// cannot convert it).
void DateLocalFields(uInt32 secs, struct tm* out);
// The days of a month (1-12) of a year of the Gregorian calendar.
int32 DateDaysInMonth(int64 year, int32 month);
// The time of local calendar fields (month 1-12, any day, counted on from
// the month's start, and any seconds, counted on from the day's start) with
// the zone rules in force at that instant; dstHint as DateRec's flag (-1:
// none).  False when the host cannot represent it; the result may lie
// outside the 32-bit range.
bool DateFieldsToTime(int64 year, int32 month, int64 day, int64 secondsOfDay, int32 dstHint, int64* secs);
