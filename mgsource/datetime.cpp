// Dates and times: the current time, local calendar fields, locale texts and
// strftime patterns.
#include <cstring>

#include "datetime.h"
#include "debug.h"
#include "memory.h"
#include "numconv.h"
#include "printf.h"
#include "platform/qx_locale.h"
#include "platform/qx_localtime.h"
#include "platform/qx_time.h"

namespace {

constexpr int32 kCStrBufSize = kLocaleDateBufSize;
constexpr int64 kMaxSecs = 0xFFFFFFFFll;

// ---------------------------------------------------------------- calendar

bool IsLeapYear(int64 y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr int32 kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int32 kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr int64 FloorDiv(int64 a, int64 b) {
  int64 q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The day number of a date whose month is 1 to 12 (any day, counted on from
// the month's start).
constexpr int64 DayNumber(int64 year, int64 month, int64 day) {
  int64 a = month <= 2 ? 1 : 0;
  int64 y = year + 4800 - a;
  int64 m = month <= 2 ? month + 9 : month - 3;
  return ((FloorDiv(y, 100) * 146097) >> 2) + ((((y % 100) + 100) % 100 * 1461) >> 2) + (153 * m + 2) / 5 + day -
         32045;
}

constexpr int64 kDayNumber1904 = DayNumber(1904, 1, 1);

// 1 January 1904 00:00:00, a Friday: the fields of a failed conversion.
void FailureFields(struct tm* t) {
  std::memset(t, 0, sizeof *t);
  t->tm_mday = 1;
  t->tm_year = 4;
  t->tm_wday = 5;
  t->tm_zone = "";
}

// The local fields of a time, with the zone rules of that instant.
void LocalFields(uInt32 secs, struct tm* t) {
  if (!PlatLocalTimeFields(secs, t)) FailureFields(t);
}

// The day of the year (0-365) from the month table.
int32 YearDay(const struct tm& t) {
  int32 mon = t.tm_mon < 0 ? 0 : t.tm_mon > 11 ? 11 : t.tm_mon;
  int32 yday = kDaysBeforeMonth[mon] + t.tm_mday - 1;
  if (mon > 1 && IsLeapYear(int64(t.tm_year) + 1900)) ++yday;
  return yday;
}

thread_local struct tm tTm;
thread_local char tDateBuf[kCStrBufSize];
thread_local char tTimeBuf[kCStrBufSize];
thread_local char tBothBuf[kCStrBufSize];

// ---------------------------------------------------------------- locale texts

// Shortens every run of four or more "d" or "M" outside quoted text to three.
void AbbreviatePicture(const char* in, char* out, size_t cap) {
  size_t n = 0;
  bool quoted = false;
  for (size_t i = 0; in[i] && n + 1 < cap;) {
    char c = in[i];
    if (c == '\'') quoted = !quoted;
    if (!quoted && (c == 'd' || c == 'M')) {
      size_t run = 0;
      while (in[i] == c) ++run, ++i;
      if (run >= 4) run = 3;
      for (size_t k = 0; k < run && n + 1 < cap; ++k) out[n++] = c;
      continue;
    }
    out[n++] = c;
    ++i;
  }
  out[n] = 0;
}

void FormatDate(uInt32 secs, int32 style, char* out, size_t cap) {
  if (style == 3) style = 0;
  style = Pin(style, 0, 2);
  PlatTimeLocale loc;
  PlatGetTimeLocale(&loc);
  struct tm t;
  LocalFields(secs, &t);
  char shortened[sizeof loc.longDate];
  const char* picture = loc.shortDate;
  if (style == 1) picture = loc.longDate;
  if (style == 2) {
    AbbreviatePicture(loc.longDate, shortened, sizeof shortened);
    picture = shortened;
  }
  PlatFormatPicture(out, cap, picture, &t, &loc, false);
}

void FormatTime(uInt32 secs, bool withSeconds, char* out, size_t cap) {
  PlatTimeLocale loc;
  PlatGetTimeLocale(&loc);
  struct tm t;
  LocalFields(secs, &t);
  PlatFormatPicture(out, cap, loc.timeFormat, &t, &loc, !withSeconds);
}

// ---------------------------------------------------------------- AM and PM

struct Designator {
  uChar text[4];
  int32 len;
};
Designator gAM = {{'A', 'M'}, 2};
Designator gPM = {{'P', 'M'}, 2};

void SetDesignator(Designator& d, const char* text) {
  int32 n = int32(std::strlen(text));
  if (n > 4) n = 4;
  std::memcpy(d.text, text, size_t(n));
  d.len = n;
}

}  // namespace

// ---------------------------------------------------------------- now

void GetTimeSecsMs(TimeSecsMs* now) {
  if (!now) return;
  int64_t secs;
  int32_t nanos;
  PlatUtcNow(&secs, &nanos);
  int32 ms = (nanos + 500000) / 1000000;
  if (ms >= 1000) {
    ms -= 1000;
    ++secs;
  }
  now->secs = uInt32(secs);
  now->ms = ms;
}

uInt32 TimeInSecs() {
  int64_t secs;
  int32_t nanos;
  PlatUtcNow(&secs, &nanos);
  if (nanos > 500000000 || (nanos == 500000000 && (secs & 1))) ++secs;
  return uInt32(secs);
}

void GetFloat64Time(float64* t) {
  if (!t) return;
  int64_t secs;
  int32_t nanos;
  PlatUtcNow(&secs, &nanos);
  *t = float64(secs) + float64(nanos) * 1e-9;
}

// ---------------------------------------------------------------- fields

struct tm* SecsToTm(const uInt32* secs) {
  struct tm t;
  if (secs) LocalFields(*secs, &t);
  else FailureFields(&t);
  t.tm_yday = YearDay(t);
  tTm = t;
  return &tTm;
}

void SecsToDate(uInt32 secs, DateRec* d) {
  if (!d) return;
  struct tm t;
  LocalFields(secs, &t);
  d->second = t.tm_sec;
  d->minute = t.tm_min;
  d->hour = t.tm_hour;
  d->day = t.tm_mday;
  d->month = t.tm_mon + 1;
  d->year = t.tm_year + 1900;
  d->weekday = t.tm_wday + 1;
  d->yearDay = YearDay(t) + 1;
  d->dst = t.tm_isdst > 0 ? 1 : 0;
}

uInt32 DateToSecs(const DateRec* d) {
  if (!d) return 0;
  // The host's calendar conversion refuses a time of day outside 0:00:00 to
  // 23:59:59, and a refused step gives 0; only the date carries.
  if (d->hour < 0 || d->hour > 23 || d->minute < 0 || d->minute > 59 || d->second < 0 || d->second > 59) return 0;
  int64 year = d->year, month = d->month, day = d->day;
  if (day < 1 || day > DateDaysInMonth(year, d->month)) {
    if (day == 0) return 0;
    // Months beyond 1 to 12 carry into the year; days beyond the month's
    // length carry through the day number.
    int64 carry = FloorDiv(month - 1, 12);
    year += carry;
    month -= carry * 12;
  }
  int64 secondsOfDay = int64(d->hour) * 3600 + int64(d->minute) * 60 + int64(d->second);
  int64 secs;
  if (!DateFieldsToTime(year, int32(month), day, secondsOfDay, d->dst, &secs)) return 0;
  if (secs < 0 || secs > kMaxSecs) return 0;
  return uInt32(secs);
}

uInt32 TmToSecs(const struct tm* t) {
  if (!t) return 0;
  DateRec d{};
  d.second = t->tm_sec, d.minute = t->tm_min, d.hour = t->tm_hour, d.day = t->tm_mday;
  d.month = t->tm_mon + 1, d.year = t->tm_year + 1900, d.dst = t->tm_isdst > 0 ? 1 : 0;
  return DateToSecs(&d);
}

void DateLocalFields(uInt32 secs, struct tm* out) {
  LocalFields(secs, out);
  out->tm_yday = YearDay(*out);
}

int32 DateDaysInMonth(int64 year, int32 month) {
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDaysInMonth[month - 1];
}

bool DateFieldsToTime(int64 year, int32 month, int64 day, int64 secondsOfDay, int32 dstHint, int64* secs) {
  if (month < 1 || month > 12 || !secs) return false;
  // Far beyond any time the host keeps; also keeps the arithmetic in range.
  constexpr int64 kYearLimit = 1000000000, kDayLimit = int64(1) << 40;
  if (year > kYearLimit || year < -kYearLimit || day > kDayLimit || day < -kDayLimit) return false;
  if (secondsOfDay > kDayLimit * 86400 || secondsOfDay < -kDayLimit * 86400) return false;
  int64 wall = (DayNumber(year, month, day) - kDayNumber1904) * 86400 + secondsOfDay;
  return PlatLocalWallToTime(wall, dstHint == 0 || dstHint == 1 ? dstHint : -1, secs);
}

// ---------------------------------------------------------------- texts

CStr DateCString(uInt32 secs, int32 style) {
  FormatDate(secs, style, tDateBuf, sizeof tDateBuf);
  return tDateBuf;
}

void DateToLocaleCStr(uInt32 secs, int32 style, CStr buffer) {
  if (buffer) FormatDate(secs, style, buffer, kLocaleDateBufSize);
}

CStr TimeCString(uInt32 secs, int32 withSeconds) {
  FormatTime(secs, withSeconds != 0, tTimeBuf, sizeof tTimeBuf);
  return tTimeBuf;
}

CStr ASCIITime(uInt32 secs) {
  char date[kCStrBufSize], time[kCStrBufSize];
  FormatDate(secs, 2, date, sizeof date);
  FormatTime(secs, true, time, sizeof time);
  size_t n = 0;
  for (const char* s = date; *s && n + 1 < sizeof tBothBuf; ++s) tBothBuf[n++] = *s;
  if (n + 1 < sizeof tBothBuf) tBothBuf[n++] = ' ';
  for (const char* s = time; *s && n + 1 < sizeof tBothBuf; ++s) tBothBuf[n++] = *s;
  tBothBuf[n] = 0;
  return tBothBuf;
}

int32 TimeMsCString(const TimeSecsMs* t, char* out, int32 capacity) {
  if (!out || capacity <= 0) return 0;
  out[0] = 0;
  if (!t) return 0;
  char text[kCStrBufSize + 16];
  FormatTime(t->secs, true, text, kCStrBufSize);
  int32 n = int32(std::strlen(text));
  n += SPrintf(text + n, ".%03d", t->ms);
  if (n > capacity - 1) n = capacity - 1;
  std::memcpy(out, text, size_t(n));
  out[n] = 0;
  return n;
}

// ---------------------------------------------------------------- AM and PM

void DateReadAMPM() {
  PlatTimeLocale loc;
  PlatGetTimeLocale(&loc);
  SetDesignator(gAM, loc.am);
  SetDesignator(gPM, loc.pm);
}

const uChar* DateAMPM(Bool32 pm, int32* length) {
  const Designator& d = pm ? gPM : gAM;
  if (length) *length = d.len;
  return d.text;
}

// ---------------------------------------------------------------- patterns

namespace {

// The output estimate of each conversion that patterns keep; 0 for the
// characters that are no conversion.
int32 ConversionEstimate(uChar c) {
  switch (c) {
    case 'a': return 8;
    case 'A': return 16;
    case 'b': return 8;
    case 'B': return 16;
    case 'c': return 40;
    case 'd': return 2;
    case 'H': return 2;
    case 'I': return 2;
    case 'j': return 3;
    case 'm': return 2;
    case 'M': return 2;
    case 'p': return 2;
    case 'S': return 2;
    case 'U': return 2;
    case 'w': return 1;
    case 'W': return 2;
    case 'x': return 40;
    case 'X': return 40;
    case 'y': return 2;
    case 'Y': return 4;
    case 'Z': return 16;
    default: return 0;
  }
}

// A work buffer: on the stack up to 4096 bytes, larger ones from the data
// zone.  Data() is null when a larger one cannot be had.
class WorkBuffer {
 public:
  explicit WorkBuffer(int64 size) {
    if (size <= kStackSize) {
      p_ = stack_;
    } else if (size <= INT32_MAX) {
      p_ = reinterpret_cast<char*>(DSNewPtr(int32(size)));
      heap_ = p_ != nullptr;
    }
  }
  ~WorkBuffer() {
    if (heap_) DSDisposePtr(reinterpret_cast<UPtr>(p_));
  }
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;
  char* Data() { return p_; }

 private:
  static constexpr int64 kStackSize = 4096;
  char stack_[kStackSize];
  char* p_ = nullptr;
  bool heap_ = false;
};

// Removes the leading zeros of the numbers in a text: a "0" followed by a
// digit goes unless it follows a digit, ":" or ".".
size_t StripLeadingZeros(char* s, size_t n) {
  size_t k = 0;
  for (size_t i = 0; i < n; ++i) {
    char prev = k ? s[k - 1] : 0;
    bool afterNumber = (prev >= '0' && prev <= '9') || prev == ':' || prev == '.';
    if (s[i] == '0' && i + 1 < n && s[i + 1] >= '0' && s[i + 1] <= '9' && !afterNumber) continue;
    s[k++] = s[i];
  }
  return k;
}

// The output of the pattern: at most its estimate; what passes it is cut
// and reported once.
class PatternOutput {
 public:
  PatternOutput(char* buf, int64 estimate) : buf_(buf), cap_(estimate) {}
  int64 Room() const { return cap_ - n_; }
  // Formats one NUL-terminated run of the pattern at the end.
  void Format(const char* run, const struct tm* t) {
    if (cut_) return;
    size_t len = PlatFormatTimeFieldsLocale(buf_ + n_, size_t(Room()) + 1, run, t);
    Advance(len);
  }
  void Put(const char* s, size_t len) {
    if (cut_) return;
    size_t k = len < size_t(Room()) ? len : size_t(Room());
    std::memcpy(buf_ + n_, s, k);
    Advance(len);
  }
  int64 Length() const { return n_; }

 private:
  void Advance(size_t len) {
    if (int64(len) > Room()) {
      DBAssert(__FILE__, __LINE__, "date and time text reached its estimated length");
      n_ = cap_;
      cut_ = true;
      return;
    }
    n_ += int64(len);
  }
  char* buf_;
  int64 cap_;
  int64 n_ = 0;
  bool cut_ = false;
};

// Formats pattern bytes [a, b) of a copy that has a spare byte at its end:
// runs without NUL bytes go through strftime, NUL bytes are copied.
void FormatRuns(char* copy, int32 a, int32 b, const struct tm* t, PatternOutput& out) {
  while (a < b) {
    int32 e = a;
    while (e < b && copy[e] != 0) ++e;
    if (e > a) {
      char saved = copy[e];
      copy[e] = 0;
      out.Format(copy + a, t);
      copy[e] = saved;
    }
    if (e < b) out.Put("", 1);
    a = e + 1;
  }
}

}  // namespace

MgErr FormatDateTimeString(LStrHandle format, uInt32 secs, LStrHandle result) {
  if (!result) return kArgErr;
  // The pattern's bytes, never more than its handle holds.
  static const uChar kDefault[] = {'%', 'c'};
  const uChar* src = kDefault;
  int32 len = 2;
  if (format && *format) {
    int32 cnt = (*format)->cnt;
    int32 room = -1;
    if (AZIsHandle(format)) room = AZGetHandleSize(reinterpret_cast<UHandle>(format)) - 4;
    else if (MemIsDSHandle(format)) room = DSGetHandleSize(reinterpret_cast<UHandle>(format)) - 4;
    if (room >= 0 && cnt > room) cnt = room;
    if (cnt > 0) {
      src = (*format)->str;
      len = cnt;
    }
  }
  // First pass: keep the known conversions, "%%" and the other text; drop a
  // "%" before anything else; estimate the length of the output.
  WorkBuffer copyBuf(int64(len) + 1);
  char* copy = copyBuf.Data();
  if (!copy) return kMemFullErr;
  int32 n = 0;
  int64 estimate = 0;
  for (int32 i = 0; i < len;) {
    uChar c = src[i];
    if (c != '%') {
      copy[n++] = char(c);
      ++estimate;
      ++i;
      continue;
    }
    if (i + 1 < len && src[i + 1] == '%') {
      copy[n++] = '%';
      copy[n++] = '%';
      ++estimate;
      i += 2;
      continue;
    }
    bool hash = i + 1 < len && src[i + 1] == '#';
    int32 at = hash ? i + 2 : i + 1;
    int32 est = at < len ? ConversionEstimate(src[at]) : 0;
    if (est > 0) {
      copy[n++] = '%';
      if (hash) copy[n++] = '#';
      copy[n++] = char(src[at]);
      estimate += est;
      i = at + 1;
    } else {
      ++i;  // the "%" goes, the character stays as text
    }
  }
  copy[n] = 0;

  struct tm t;
  DateLocalFields(secs, &t);

  WorkBuffer outBuf(estimate + 1);
  char* text = outBuf.Data();
  if (!text) return kMemFullErr;
  PatternOutput out(text, estimate);
  // The pattern is cut before each "%#": the conversion after it loses its
  // leading zeros, the rest of the piece is formatted as it is.
  int32 a = 0;
  while (a < n) {
    int32 b = a;
    if (copy[a] == '%' && copy[a + 1] == '#') {
      char conv[3] = {'%', copy[a + 2], 0};
      char one[512];
      size_t k = PlatFormatTimeFieldsLocale(one, sizeof one, conv, &t);
      if (k > sizeof one - 1) k = sizeof one - 1;
      k = StripLeadingZeros(one, k);
      out.Put(one, k);
      a += 3;
      b = a;
    }
    while (b < n && !(copy[b] == '%' && copy[b + 1] == '#')) b += copy[b] == '%' ? 2 : 1;
    FormatRuns(copy, a, b, &t, out);
    a = b;
  }

  int32 total = int32(out.Length());
  MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(result), total + 4);
  if (err) return err;
  std::memcpy((*result)->str, text, size_t(total));
  (*result)->cnt = total;
  return kNoErr;
}
