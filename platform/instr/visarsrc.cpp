// Resource names and find expressions of the VISA library.
#include "platform/instr/visarsrc.h"

#include <cstring>
#include <vector>

namespace qxvisa {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameWord(const char* p, size_t n, const char* word) {
  size_t w = std::strlen(word);
  if (n != w) return false;
  for (size_t i = 0; i < n; ++i) {
    if (Lower(p[i]) != word[i]) return false;
  }
  return true;
}

// Decimal digits only, at most max; an empty field is no number.
bool Number(const char* p, size_t n, uint32_t max, uint32_t* v) {
  if (n == 0 || n > 6) return false;
  uint32_t x = 0;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    x = x * 10 + uint32_t(p[i] - '0');
  }
  if (x > max) return false;
  *v = x;
  return true;
}

bool HostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_';
}

struct Field {
  const char* p;
  size_t n;
};

// The fields between "::" separators.
std::vector<Field> Fields(const char* text, size_t len) {
  std::vector<Field> out;
  size_t start = 0;
  for (size_t i = 0; i + 1 < len;) {
    if (text[i] == ':' && text[i + 1] == ':') {
      out.push_back({text + start, i - start});
      i += 2;
      start = i;
    } else {
      ++i;
    }
  }
  out.push_back({text + start, len - start});
  return out;
}

// "<keyword>[<board>]".
bool Interface(const Field& f, const char* keyword, uint32_t* board) {
  size_t k = std::strlen(keyword);
  if (f.n < k || !SameWord(f.p, k, keyword)) return false;
  *board = 0;
  return f.n == k || Number(f.p + k, f.n - k, kMaxRsrcBoard, board);
}

}  // namespace

bool ParseRsrc(const char* name, size_t len, Rsrc* r) {
  *r = Rsrc();
  if (!name || len == 0 || len > kMaxRsrcText || std::memchr(name, '\0', len)) return false;
  std::vector<Field> f = Fields(name, len);
  Rsrc out;
  if (Interface(f[0], "gpib", &out.board)) {
    if (f.size() != 3 && f.size() != 4) return false;
    if (!SameWord(f.back().p, f.back().n, "instr")) return false;
    if (!Number(f[1].p, f[1].n, kMaxRsrcAddress, &out.primary)) return false;
    if (f.size() == 4) {
      uint32_t s = 0;
      if (!Number(f[2].p, f[2].n, kMaxRsrcAddress, &s)) return false;
      out.secondary = int32_t(s);
    }
    out.kind = kRsrcGPIB;
  } else if (Interface(f[0], "tcpip", &out.board)) {
    if (f.size() != 4 || !SameWord(f[3].p, f[3].n, "socket")) return false;
    if (f[1].n == 0) return false;
    for (size_t i = 0; i < f[1].n; ++i) {
      if (!HostChar(f[1].p[i])) return false;
    }
    if (!Number(f[2].p, f[2].n, 65535, &out.port) || out.port == 0) return false;
    out.host.assign(f[1].p, f[1].n);
    out.kind = kRsrcTCPSocket;
  } else {
    return false;
  }
  *r = out;
  return true;
}

std::string GPIBDescription(uint32_t board, uint32_t primary, int32_t secondary) {
  std::string s = "GPIB" + std::to_string(board) + "::" + std::to_string(primary);
  if (secondary >= 0) s += "::" + std::to_string(secondary);
  return s + "::INSTR";
}

int32_t MatchExpr(const char* expr, size_t exprLen, const char* text, size_t textLen) {
  if (!expr || exprLen == 0 || exprLen > kMaxRsrcText || std::memchr(expr, '\0', exprLen)) return kMatchBad;
  struct Item {
    char c;
    bool any, star;
  };
  std::vector<Item> items;
  for (size_t i = 0; i < exprLen; ++i) {
    if (expr[i] == '*') {
      if (items.empty() || items.back().star) return kMatchBad;
      items.back().star = true;
    } else {
      items.push_back({Lower(expr[i]), expr[i] == '?', false});
    }
  }
  if (!text) textLen = 0;
  // at[j]: the first j characters of the text can be matched by the items
  // taken so far.
  std::vector<char> at(textLen + 1, 0), next(textLen + 1, 0);
  at[0] = 1;
  for (const Item& it : items) {
    std::fill(next.begin(), next.end(), 0);
    for (size_t j = 0; j <= textLen; ++j) {
      bool fits = j > 0 && (it.any || Lower(text[j - 1]) == it.c);
      if (it.star) next[j] = at[j] || (fits && next[j - 1]);
      else next[j] = fits && at[j - 1];
    }
    at.swap(next);
  }
  return at[textLen] ? kMatchYes : kMatchNo;
}

}  // namespace qxvisa
