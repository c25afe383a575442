#include "qx_locale.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

char PlatLocaleDecimalPoint() {
  // A locale object of its own: setlocale would change the whole process.
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", locale_t(0));
  if (loc == locale_t(0)) return '.';
  const char* radix = nl_langinfo_l(RADIXCHAR, loc);
  char c = (radix && radix[0]) ? radix[0] : '.';
  freelocale(loc);
  return c;
}

// ------------------------------------------------------------ character sets

bool PlatLocaleIsUTF8(locale_t loc) {
  // The character set of the time category's own texts.
  const char* cs = nl_langinfo_l(_NL_TIME_CODESET, loc);
  return cs && (std::strcmp(cs, "UTF-8") == 0 || std::strcmp(cs, "utf8") == 0);
}

namespace {

// The characters that code page 1252 places in 0x80 to 0x9F (0 where it has
// none).
constexpr uint16_t kCP1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char CP1252Of(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return char(cp);
  if (cp == 0x202F) return char(0xA0);  // narrow no-break space
  for (int i = 0; i < 32; ++i)
    if (kCP1252High[i] && kCP1252High[i] == cp) return char(0x80 + i);
  return '?';
}

}  // namespace

size_t PlatUTF8ToCP1252(const char* in, size_t len, char* out) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(in);
  size_t i = 0, n = 0;
  while (i < len) {
    unsigned char c = s[i];
    if (c < 0x80) {
      out[n++] = char(c);
      ++i;
      continue;
    }
    int extra = (c >= 0xC2 && c <= 0xDF) ? 1 : (c >= 0xE0 && c <= 0xEF) ? 2 : (c >= 0xF0 && c <= 0xF4) ? 3 : -1;
    uint32_t cp = extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    bool ok = extra > 0;
    for (int k = 1; ok && k <= extra; ++k) {
      if (i + size_t(k) >= len || (s[i + k] & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    // Overlong forms and surrogates are not characters.
    if (ok && ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))))
      ok = false;
    if (!ok) {
      out[n++] = '?';
      ++i;
      continue;
    }
    out[n++] = CP1252Of(cp);
    i += size_t(extra) + 1;
  }
  return n;
}

// ------------------------------------------------------------ time locale

namespace {

const char* const kDayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

// Copies a C string, cut to fit.
void CopyCut(char* dst, size_t cap, const char* src) {
  size_t n = std::strlen(src);
  if (n > cap - 1) n = cap - 1;
  std::memcpy(dst, src, n);
  dst[n] = 0;
}

// A locale text in code page 1252, cut to fit; false when it is empty.
bool CopyLocaleText(char* dst, size_t cap, const char* src, bool utf8) {
  if (!src || !src[0]) return false;
  char tmp[256];
  size_t n = std::strlen(src);
  if (n > sizeof tmp) n = sizeof tmp;
  std::memcpy(tmp, src, n);
  if (utf8) n = PlatUTF8ToCP1252(tmp, n, tmp);
  if (n > cap - 1) n = cap - 1;
  std::memcpy(dst, tmp, n);
  dst[n] = 0;
  return n > 0;
}

void SetDefaults(PlatTimeLocale* t) {
  CopyCut(t->shortDate, sizeof t->shortDate, "M/d/yyyy");
  CopyCut(t->longDate, sizeof t->longDate, "dddd, MMMM d, yyyy");
  CopyCut(t->timeFormat, sizeof t->timeFormat, "h:mm:ss tt");
  CopyCut(t->am, sizeof t->am, "AM");
  CopyCut(t->pm, sizeof t->pm, "PM");
  for (int i = 0; i < 7; ++i) {
    CopyCut(t->dayNames[i], sizeof t->dayNames[i], kDayNames[i]);
    CopyCut(t->dayAbbrevs[i], 4, kDayNames[i]);
  }
  for (int i = 0; i < 12; ++i) {
    CopyCut(t->monthNames[i], sizeof t->monthNames[i], kMonthNames[i]);
    CopyCut(t->monthAbbrevs[i], 4, kMonthNames[i]);
  }
}

// True when the environment names a locale for the category other than
// the C library's own.
bool EnvNamesLocale(const char* categoryVar) {
  const char* names[3] = {std::getenv("LC_ALL"), std::getenv(categoryVar), std::getenv("LANG")};
  const char* name = nullptr;
  for (const char* n : names)
    if (n && n[0]) {
      name = n;
      break;
    }
  if (!name) return false;
  return !(std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 || std::strncmp(name, "C.", 2) == 0);
}

// Builds a picture from a strftime format, the letters of the literal text
// quoted.
class PictureWriter {
 public:
  PictureWriter(char* out, size_t cap) : out_(out), cap_(cap) {}
  void Element(const char* e) {
    Close();
    Raw(e);
  }
  void Literal(char c) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '\'';
    if (letter && !quoted_) {
      Raw("'");
      quoted_ = true;
    } else if (!letter) {
      Close();
    }
    if (c == '\'') Raw("'");
    char s[2] = {c, 0};
    Raw(s);
  }
  bool Finish() {
    Close();
    if (ok_) out_[n_] = 0;
    return ok_;
  }

 private:
  void Close() {
    if (quoted_) Raw("'");
    quoted_ = false;
  }
  void Raw(const char* s) {
    for (; *s; ++s) {
      if (n_ + 1 >= cap_) {
        ok_ = false;
        return;
      }
      out_[n_++] = *s;
    }
  }
  char* out_;
  size_t cap_;
  size_t n_ = 0;
  bool quoted_ = false;
  bool ok_ = true;
};

bool ConvertFormat(PictureWriter& w, const char* f, locale_t loc, int depth) {
  if (!f || depth > 3) return false;
  for (; *f; ++f) {
    if (*f != '%') {
      w.Literal(*f);
      continue;
    }
    ++f;
    bool noPad = false;
    while (*f == '-' || *f == '_' || *f == '0' || *f == '^' || *f == '#') {
      if (*f == '-' || *f == '_') noPad = true;
      ++f;
    }
    if (*f == 'E' || *f == 'O') ++f;
    switch (*f) {
      case 'd': w.Element(noPad ? "d" : "dd"); break;
      case 'e': w.Element("d"); break;
      case 'm': w.Element(noPad ? "M" : "MM"); break;
      case 'y': w.Element("yy"); break;
      case 'Y': w.Element("yyyy"); break;
      case 'b': case 'h': w.Element("MMM"); break;
      case 'B': w.Element("MMMM"); break;
      case 'a': w.Element("ddd"); break;
      case 'A': w.Element("dddd"); break;
      case 'H': w.Element(noPad ? "H" : "HH"); break;
      case 'k': w.Element("H"); break;
      case 'I': w.Element(noPad ? "h" : "hh"); break;
      case 'l': w.Element("h"); break;
      case 'M': w.Element("mm"); break;
      case 'S': w.Element("ss"); break;
      case 'p': case 'P': w.Element("tt"); break;
      case 'T': w.Element("HH:mm:ss"); break;
      case 'R': w.Element("HH:mm"); break;
      case 'D': w.Element("MM/dd/yy"); break;
      case 'F': w.Element("yyyy-MM-dd"); break;
      case 'r':
        if (!ConvertFormat(w, nl_langinfo_l(T_FMT_AMPM, loc), loc, depth + 1)) return false;
        break;
      case 'n': case 't': w.Literal(' '); break;
      case '%': w.Literal('%'); break;
      default: return false;  // a conversion that pictures cannot show
    }
  }
  return true;
}

bool PictureOf(char* out, size_t cap, const char* format, locale_t loc) {
  if (!format || !format[0]) return false;
  char tmp[64];
  PictureWriter w(tmp, sizeof tmp);
  if (!ConvertFormat(w, format, loc, 0) || !w.Finish()) return false;
  CopyCut(out, cap, tmp);
  return true;
}

}  // namespace

void PlatGetTimeLocale(PlatTimeLocale* out) {
  if (!out) return;
  SetDefaults(out);
  if (!EnvNamesLocale("LC_TIME")) return;
  locale_t loc = newlocale(LC_TIME_MASK, "", locale_t(0));
  if (loc == locale_t(0)) return;
  bool utf8 = PlatLocaleIsUTF8(loc);
  for (int i = 0; i < 7; ++i) {
    CopyLocaleText(out->dayNames[i], sizeof out->dayNames[i], nl_langinfo_l(nl_item(DAY_1 + i), loc), utf8);
    CopyLocaleText(out->dayAbbrevs[i], sizeof out->dayAbbrevs[i], nl_langinfo_l(nl_item(ABDAY_1 + i), loc), utf8);
  }
  for (int i = 0; i < 12; ++i) {
    CopyLocaleText(out->monthNames[i], sizeof out->monthNames[i], nl_langinfo_l(nl_item(MON_1 + i), loc), utf8);
    CopyLocaleText(out->monthAbbrevs[i], sizeof out->monthAbbrevs[i], nl_langinfo_l(nl_item(ABMON_1 + i), loc),
                   utf8);
  }
  CopyLocaleText(out->am, sizeof out->am, nl_langinfo_l(AM_STR, loc), utf8);
  CopyLocaleText(out->pm, sizeof out->pm, nl_langinfo_l(PM_STR, loc), utf8);
  PictureOf(out->shortDate, sizeof out->shortDate, nl_langinfo_l(D_FMT, loc), loc);
  PictureOf(out->timeFormat, sizeof out->timeFormat, nl_langinfo_l(T_FMT, loc), loc);
  freelocale(loc);
}

// ------------------------------------------------------------ pictures

namespace {

class Out {
 public:
  Out(char* b, size_t cap) : b_(b), cap_(cap) {}
  void Put(char c) {
    if (b_ && n_ + 1 < cap_) b_[n_++] = c;
  }
  void Put(const char* s) {
    for (; *s; ++s) Put(*s);
  }
  void Num(long v, int width) {
    char tmp[24];
    std::snprintf(tmp, sizeof tmp, "%0*ld", width, v);
    Put(tmp);
  }
  size_t Len() const { return n_; }
  void Cut(size_t n) {
    if (n < n_) n_ = n;
  }
  size_t Finish() {
    if (b_ && cap_) b_[n_] = 0;
    return n_;
  }

 private:
  char* b_;
  size_t cap_;
  size_t n_ = 0;
};

int Wrap(int v, int n) { return ((v % n) + n) % n; }

}  // namespace

size_t PlatFormatPicture(char* out, size_t capacity, const char* picture, const struct tm* f,
                         const PlatTimeLocale* loc, bool noSeconds) {
  Out o(out, capacity);
  if (!picture || !f || !loc) return o.Finish();
  size_t lastElementEnd = 0;
  for (size_t i = 0; picture[i];) {
    char c = picture[i];
    if (c == '\'') {
      for (++i; picture[i]; ++i) {
        if (picture[i] == '\'') {
          if (picture[i + 1] != '\'') {
            ++i;
            break;
          }
          ++i;  // two quotes: one quote
        }
        o.Put(picture[i]);
      }
      continue;
    }
    if (!std::strchr("dMyhHmstg", c)) {
      o.Put(c);
      ++i;
      continue;
    }
    int run = 0;
    while (picture[i] == c) ++run, ++i;
    int hour12 = f->tm_hour % 12 == 0 ? 12 : f->tm_hour % 12;
    const char* designator = f->tm_hour < 12 ? loc->am : loc->pm;
    switch (c) {
      case 'd':
        if (run >= 4) o.Put(loc->dayNames[Wrap(f->tm_wday, 7)]);
        else if (run == 3) o.Put(loc->dayAbbrevs[Wrap(f->tm_wday, 7)]);
        else o.Num(f->tm_mday, run);
        break;
      case 'M':
        if (run >= 4) o.Put(loc->monthNames[Wrap(f->tm_mon, 12)]);
        else if (run == 3) o.Put(loc->monthAbbrevs[Wrap(f->tm_mon, 12)]);
        else o.Num(Wrap(f->tm_mon, 12) + 1, run);
        break;
      case 'y':
        if (run >= 3) o.Num(long(f->tm_year) + 1900, 1);
        else o.Num(Wrap(f->tm_year + 1900, 100), run);
        break;
      case 'h': o.Num(hour12, run > 1 ? 2 : 1); break;
      case 'H': o.Num(f->tm_hour, run > 1 ? 2 : 1); break;
      case 'm': o.Num(f->tm_min, run > 1 ? 2 : 1); break;
      case 's':
        if (noSeconds) {
          o.Cut(lastElementEnd);  // the separator before the seconds goes too
          continue;
        }
        o.Num(f->tm_sec, run > 1 ? 2 : 1);
        break;
      case 't':
        if (run == 1) {
          if (designator[0]) o.Put(designator[0]);
        } else {
          o.Put(designator);
        }
        break;
      default: break;  // era: none
    }
    lastElementEnd = o.Len();
  }
  return o.Finish();
}
