// A matcher written plainly from the rules of compiled patterns, for tests
// and fuzz targets to hold the run-time matcher against: recursion over the
// compiled bytes, every quantifier tried from its longest take down, every
// start from the offset on.  Exponential, so for short patterns and texts.
#pragma once
#include <cctype>
#include <string>
#include <utility>

#include "mgsource/extcode.h"

namespace rttest {

struct Reference {
  const std::string& code;
  const std::string& s;

  static int Kind(int c) {
    if (c > 127) return 0;
    if (c == ' ' || (c >= 9 && c <= 13)) return 2;
    if (c < 32 || c == 127) return 1;
    if (std::isdigit(c)) return 3;
    if (std::isupper(c)) return 4;
    if (std::islower(c)) return 5;
    return 6;
  }
  bool InClass(const std::string& b, uChar c) const {
    size_t i = 0;
    bool neg = !b.empty() && (b[0] == '^' || b[0] == '~');
    if (neg) i = 1;
    bool in = false;
    while (i < b.size()) {
      uChar x = uChar(b[i]);
      if (i + 2 < b.size() && b[i + 1] == '-') {
        uChar y = uChar(b[i + 2]);
        int kx = Kind(x);
        if (x <= y && kx == Kind(y) && kx >= 3 && kx <= 5) {
          in |= c >= x && c <= y;
          i += 3;
          continue;
        }
      }
      in |= c == x;
      ++i;
    }
    if (!neg) return in;
    if (b[0] == '^' && c < 32) return false;
    return !in;
  }
  // -2 for a pattern that is not well formed.
  int At(size_t i, int p) const {
    int n = int(s.size());
    if (i >= code.size()) return -2;
    uChar op = uChar(code[i]);
    if (op == 0) return i + 1 == code.size() ? p : -2;
    if (op == 0x20) return p == n ? At(i + 1, p) : -1;
    int q = op & 7;
    if (q != 0 && q != 1 && q != 2 && q != 4) return -2;
    size_t next;
    std::string cls;
    switch (op & ~7) {
      case 0x60:
        next = i + 2;
        break;
      case 0x28:
        next = i + 1;
        break;
      case 0x30:
        if (i + 1 >= code.size() || code[i + 1] == 0) return -2;
        next = i + 1 + uChar(code[i + 1]);
        cls = code.substr(i + 2, uChar(code[i + 1]) - 1);
        break;
      default:
        return -2;
    }
    if (next > code.size()) return -2;
    auto ok = [&](int pos) {
      if (pos >= n) return false;
      uChar c = uChar(s[size_t(pos)]);
      if ((op & ~7) == 0x60) return c == uChar(code[i + 1]);
      if ((op & ~7) == 0x28) return true;
      return InClass(cls, c);
    };
    if (q == 0) return ok(p) ? At(next, p + 1) : -1;
    int most = 0;
    if (q == 4) {
      most = ok(p) ? 1 : 0;
    } else {
      while (ok(p + most)) ++most;
    }
    for (int k = most; k >= (q == 2 ? 1 : 0); --k) {
      int r = At(next, p + k);
      if (r != -1) return r;
    }
    return -1;
  }
  // The match start and end, or -1 for none.
  std::pair<int, int> Search(int offset) const {
    if (offset < 0) offset = 0;
    int n = int(s.size());
    if (!code.empty() && code[0] == 'X') {
      if (offset > n) return {-1, -1};
      int r = At(1, offset);
      return r >= 0 ? std::pair(offset, r) : std::pair(-1, -1);
    }
    for (int st = offset; st < n; ++st) {
      int r = At(0, st);
      if (r == -2) return {-1, -1};
      if (r >= 0) return {st, r};
    }
    return {-1, -1};
  }
};

// True when the bytes are atoms the compiler writes, ending in the end
// opcode and nothing after it.
inline bool WellFormed(const std::string& code) {
  size_t i = !code.empty() && code[0] == 'X' ? 1 : 0;
  while (i < code.size()) {
    uChar op = uChar(code[i]);
    if (op == 0) return i + 1 == code.size();
    int q = op & 7;
    if (op == 0x20) {
      ++i;
    } else if (q != 0 && q != 1 && q != 2 && q != 4) {
      return false;
    } else if ((op & ~7) == 0x60) {
      i += 2;
    } else if ((op & ~7) == 0x28) {
      i += 1;
    } else if ((op & ~7) == 0x30 && i + 1 < code.size() && code[i + 1] != 0) {
      i += 1 + uChar(code[i + 1]);
    } else {
      return false;
    }
  }
  return false;
}

}  // namespace rttest
