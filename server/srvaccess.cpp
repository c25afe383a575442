#include "server/srvaccess.h"

#include <cctype>
#include <string>

#include "mgsource/debug.h"

namespace {

// Labels of letters, digits and "-", separated by "."; the last holds a
// letter or "-".
bool ValidName(const std::string& s) {
  if (s.empty()) return false;
  size_t start = 0;
  bool lastHasNonDigit = false;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == '.') {
      if (i == start) return false;
      start = i + 1;
      if (i < s.size()) lastHasNonDigit = false;
      continue;
    }
    const uChar c = uChar(s[i]);
    if (!std::isalnum(c) && c != '-') return false;
    if (!std::isdigit(c)) lastHasNonDigit = true;
  }
  return lastHasNonDigit;
}

// The kind of a TCP pattern (lower case), with its address and mask.
int32 TcpKind(const std::string& p, uInt32* address, uInt32* mask) {
  if (p == "*") return kAccessAll;
  if (p.find_first_not_of("0123456789.*") == std::string::npos && p[0] != '*') {
    uInt32 addr = 0, m = 0;
    int32 numbers = 0;
    size_t i = 0;
    while (true) {
      if (i < p.size() && p[i] == '*') {
        if (i + 1 != p.size() || numbers == 0 || numbers >= 4) return kAccessSyntaxError;
        const int32 shift = 8 * (4 - numbers);
        *address = addr << shift;
        *mask = m << shift;
        return kAccessPrefix;
      }
      size_t j = i;
      uInt32 v = 0;
      while (j < p.size() && std::isdigit(uChar(p[j])) && j - i < 4) v = v * 10 + uInt32(p[j++] - '0');
      if (j == i || v > 255 || (j < p.size() && std::isdigit(uChar(p[j])))) return kAccessSyntaxError;
      addr = (addr << 8) | v;
      m = (m << 8) | 0xFF;
      ++numbers;
      if (j == p.size()) {
        if (numbers != 4) return kAccessSyntaxError;
        *address = addr;
        *mask = m;
        return kAccessExact;
      }
      if (p[j] != '.' || numbers == 4) return kAccessSyntaxError;
      i = j + 1;
    }
  }
  if (p[0] == '*') return p.size() > 2 && p[1] == '.' && ValidName(p.substr(2)) ? kAccessDomainOrWildPath
                                                                                 : kAccessSyntaxError;
  return ValidName(p) ? kAccessNameOrPath : kAccessSyntaxError;
}

uInt32 ToNetwork(uInt32 v) {
  const uChar b[4] = {uChar(v >> 24), uChar(v >> 16), uChar(v >> 8), uChar(v)};
  uInt32 out;
  __builtin_memcpy(&out, b, 4);
  return out;
}

// The sign and the pattern, or false for a text without both.
bool Split(ConstPStr text, bool* allow, std::string* pattern) {
  if (!text || text[0] < 2 || (text[1] != '+' && text[1] != '-')) return false;
  *allow = text[1] == '+';
  pattern->assign(reinterpret_cast<const char*>(text + 2), size_t(text[0] - 1));
  return true;
}

}  // namespace

Bool32 QXSParseTcpEntry(ConstPStr text, uInt32* address, uInt32* mask, int32* flags) {
  uInt32 a = 0, m = 0;
  bool allow = false;
  std::string p;
  int32 kind = kAccessSyntaxError;
  if (Split(text, &allow, &p)) {
    for (char& c : p) c = char(std::tolower(uChar(c)));
    kind = TcpKind(p, &a, &m);
  }
  if (address) *address = ToNetwork(a);
  if (mask) *mask = ToNetwork(m);
  if (flags) *flags = kind | (allow && kind != kAccessSyntaxError ? kAccessAllowFlag : 0);
  return kind != kAccessSyntaxError;
}

Bool32 QXSParseViEntry(ConstPStr text, int32* flags) {
  bool allow = false;
  std::string p;
  int32 kind = kAccessSyntaxError;
  if (Split(text, &allow, &p)) {
    const bool wild = p.find_first_of("*?`") != std::string::npos;
    const bool path = p.find('\\') != std::string::npos;
    kind = p == "*" ? kAccessAll : path ? (wild ? kAccessDomainOrWildPath : kAccessNameOrPath)
                                        : (wild ? kAccessPrefix : kAccessExact);
  }
  if (flags) *flags = kind | (allow && kind != kAccessSyntaxError ? kAccessAllowFlag : 0);
  return kind != kAccessSyntaxError;
}

Bool32 QXSViAccessAllowed(ConstPStr name, Path) {
  DBPrintf("QXSViAccessAllowed: %p returns %s", name ? name : reinterpret_cast<ConstPStr>(""), "DENIED");
  return 0;
}
