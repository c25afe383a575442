// Debug output and failure reports until the full debug manager is in place:
// the text goes to the debug output, reports name file, line, code and text,
// and nothing ends the process.
#include "debug.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/qx_debugout.h"

namespace {
// A small formatter for the stand-in: the C conversions, plus %p for a Pascal string.
std::string Format(const char* fmt, va_list ap) {
  std::string out;
  for (const char* f = fmt; *f; ++f) {
    if (*f != '%') {
      out += *f;
      continue;
    }
    const char* start = f++;
    while (*f && std::strchr("-+ #0123456789.", *f)) ++f;
    while (*f == 'l' || *f == 'h') ++f;
    if (!*f) break;
    std::string spec(start, size_t(f - start + 1));
    char tmp[512];
    switch (*f) {
      case 'p': {
        const uChar* p = va_arg(ap, const uChar*);
        if (p) out.append(reinterpret_cast<const char*>(p + 1), p[0]);
        continue;
      }
      case 's': std::snprintf(tmp, sizeof tmp, spec.c_str(), va_arg(ap, const char*)); break;
      case 'f': case 'e': case 'g': case 'E': case 'G':
        std::snprintf(tmp, sizeof tmp, spec.c_str(), va_arg(ap, double)); break;
      case '%': out += '%'; continue;
      default: std::snprintf(tmp, sizeof tmp, spec.c_str(), va_arg(ap, int32)); break;
    }
    out += tmp;
  }
  return out;
}
int32 gLines = 0;
}  // namespace

int32 DBPrintf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = Format(fmt, ap);
  va_end(ap);
  s += '\n';
  PlatDebugOutput(s.c_str());
  return ++gLines;
}

MgErr DBMgErr(const char* file, int32 line, MgErr err, const char* text) {
  if (err == 0) return 0;
  DBPrintf("Error #%ld: %s \"%s\" line %ld", err, text ? text : "", file ? file : "", line);
  return 1;
}

int32 DBAssert(const char* file, int32 line, const char* text) {
  DBPrintf("Failure %s: \"%s\" line %ld", text ? text : "", file ? file : "", line);
  return 0;
}
