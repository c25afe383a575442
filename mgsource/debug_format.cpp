#include "debug_format.h"

#include <cstdio>
#include <cstring>

namespace {

// Appends what snprintf wrote for one conversion to the output, cut to fit.
struct Out {
  char* buf;
  int32 cap;  // room for characters, the NUL excluded
  int32 len = 0;
  void Add(const char* s, int32 n) {
    if (n > cap - len) n = cap - len;
    if (n > 0) std::memcpy(buf + len, s, size_t(n));
    len += n > 0 ? n : 0;
  }
  bool Full() const { return len >= cap; }
};

}  // namespace

int32 DBFormatv(char* buf, int32 capacity, const char* fmt, va_list ap) {
  if (!buf || capacity <= 0) return 0;
  Out out{buf, capacity - 1};
  va_list args;
  va_copy(args, ap);
  const char* f = fmt ? fmt : "";
  while (*f && !out.Full()) {
    if (*f != '%') {
      const char* run = f;
      while (*f && *f != '%') ++f;
      out.Add(run, int32(f - run));
      continue;
    }
    // One conversion: flags, width, precision, length, then the conversion.
    const char* start = f++;
    while (*f && std::strchr("-+ #0", *f)) ++f;
    bool starWidth = *f == '*';
    if (starWidth) ++f;
    while (*f >= '0' && *f <= '9') ++f;
    bool starPrec = false;
    if (*f == '.') {
      ++f;
      starPrec = *f == '*';
      if (starPrec) ++f;
      while (*f >= '0' && *f <= '9') ++f;
    }
    // Length modifiers are read here and written again below as the
    // argument actually passed needs them.
    const char* lengthAt = f;
    int longs = 0;
    bool wide = false;
    while (*f && std::strchr("hlLqjzt", *f)) {
      if (*f == 'l' || *f == 'q') ++longs;
      if (*f == 'L' || *f == 'j') wide = true;
      ++f;
    }
    if (!*f) break;
    char conv = *f++;
    int32 specLen = int32(f - start);
    int32 headLen = int32(lengthAt - start);
    char spec[40];
    if (headLen > 32) continue;  // nonsense: dropped
    std::memcpy(spec, start, size_t(headLen));
    auto setSpec = [&](const char* modifiers, char c) {
      int32 k = headLen;
      for (const char* m = modifiers; *m; ++m) spec[k++] = *m;
      spec[k++] = c;
      spec[k] = 0;
    };
    int width = starWidth ? va_arg(args, int) : 0;
    int prec = starPrec ? va_arg(args, int) : 0;
    char tmp[512];
    int n = 0;
    // Calls snprintf with the star arguments that the conversion asked for.
    auto put = [&](auto value) {
      if (starWidth && starPrec) n = std::snprintf(tmp, sizeof tmp, spec, width, prec, value);
      else if (starWidth) n = std::snprintf(tmp, sizeof tmp, spec, width, value);
      else if (starPrec) n = std::snprintf(tmp, sizeof tmp, spec, prec, value);
      else n = std::snprintf(tmp, sizeof tmp, spec, value);
    };
    switch (conv) {
      case '%':
        out.Add("%", 1);
        continue;
      case 'p': {  // a Pascal string
        const uChar* p = va_arg(args, const uChar*);
        char text[256];
        int32 len = p ? p[0] : 0;
        if (len) std::memcpy(text, p + 1, size_t(len));
        text[len] = 0;
        setSpec("", 's');
        put(static_cast<const char*>(text));
        break;
      }
      case 's': {
        const char* s = va_arg(args, const char*);
        setSpec("", 's');
        put(s ? s : "");
        break;
      }
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
        setSpec(wide ? "L" : "", conv);
        if (wide) put(va_arg(args, long double));
        else put(va_arg(args, double));
        break;
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c':
        if (longs >= 2 || wide) {
          long long v = va_arg(args, long long);
          setSpec(conv == 'c' ? "" : "ll", conv);
          if (conv == 'c') put(int(v));
          else put(v);
        } else {
          long v = va_arg(args, long);  // int and long are both one 32-bit word
          setSpec(conv == 'c' ? "" : "l", conv);
          if (conv == 'c') put(int(v));
          else put(v);
        }
        break;
      default:  // not a conversion we know: the text as it stands
        out.Add(start, specLen);
        continue;
    }
    if (n > 0) out.Add(tmp, n < int(sizeof tmp) ? n : int(sizeof tmp) - 1);
  }
  va_end(args);
  buf[out.len] = 0;
  return out.len;
}

int32 DBPFormat(PStr dst, const char* fmt, ...) {
  char text[256];
  va_list ap;
  va_start(ap, fmt);
  int32 n = DBFormatv(text, sizeof text, fmt, ap);
  va_end(ap);
  std::memcpy(dst + 1, text, size_t(n));
  dst[0] = uChar(n);
  return n;
}
