// Locale values of the platform layer, read from the environment's locale
// settings (LC_ALL, LC_NUMERIC, LC_TIME, LANG) without changing the
// process's own locale, which stays "C" so that the C library's number
// formatting and parsing never depend on the user's settings.  Texts are
// given in the system's code page (1252).
#pragma once
#include <locale.h>

#include <cstddef>
#include <ctime>

// The first byte of the numeric locale's decimal separator; '.' when the
// environment names no usable locale or the separator is empty.
char PlatLocaleDecimalPoint();

// The time conventions of the environment's LC_TIME.  Pictures use the
// letters d, dd (day), ddd, dddd (day name), M, MM (month), MMM, MMMM
// (month name), y, yy, yyyy (year), h, hh (12-hour clock), H, HH (24-hour
// clock), m, mm, s, ss, t (first letter of the designator), tt (designator);
// text between single quotes is copied, two quotes inside it give one.  Day
// names start with Sunday.  Without a usable locale, or for "C" and
// "POSIX", the US-English conventions: "M/d/yyyy", "dddd, MMMM d, yyyy",
// "h:mm:ss tt", "AM", "PM" and the English names.  The long date picture is
// always the US-English one, with the locale's names.
struct PlatTimeLocale {
  char shortDate[64];
  char longDate[64];
  char timeFormat[64];
  char am[5];  // at most 4 characters; "AM" and "PM" when the locale has none
  char pm[5];
  char dayNames[7][32];
  char dayAbbrevs[7][16];
  char monthNames[12][32];
  char monthAbbrevs[12][16];
};
void PlatGetTimeLocale(PlatTimeLocale* out);

// Formats calendar fields with a picture.  noSeconds leaves out the seconds
// and the text between them and the element before them.  Writes at most
// capacity - 1 bytes and a NUL (when capacity is not 0); returns the number
// of bytes written before the NUL.
size_t PlatFormatPicture(char* out, size_t capacity, const char* picture, const struct tm* fields,
                         const PlatTimeLocale* locale, bool noSeconds);

// True when the texts of the locale's LC_TIME category are in UTF-8.
bool PlatLocaleIsUTF8(locale_t loc);
// Converts len bytes of UTF-8 to code page 1252 ('?' for characters that it
// lacks and for bytes that are not UTF-8); out may be in.  Returns the
// number of bytes written, at most len.
size_t PlatUTF8ToCP1252(const char* in, size_t len, char* out);
