// The device-file reader of the simulated GPIB bus.
#include "platform/instr/instrconf.h"

#include <cstdio>
#include <cstring>

namespace qxinstr {
namespace {

// A cursor over one line; every read checks the end.
struct Cursor {
  const char* p;
  const char* end;
  bool AtEnd() const { return p >= end; }
  char Peek() const { return p < end ? *p : '\0'; }
  void SkipBlanks() {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
  }
  // At the end of the line or of its items (a comment follows).
  bool AtItemsEnd() {
    SkipBlanks();
    return p >= end || *p == '#';
  }
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
bool IsWordEnd(char c) { return c == ' ' || c == '\t' || c == '#'; }

// A decimal number of at most max; no sign, at least one digit.
bool Number(Cursor& c, uint32_t max, uint32_t* out, std::string* why, const char* what) {
  if (!IsDigit(c.Peek())) {
    *why = std::string("number expected for ") + what;
    return false;
  }
  uint32_t v = 0;
  while (IsDigit(c.Peek())) {
    uint32_t d = uint32_t(*c.p++ - '0');
    if (d > max || v > (max - d) / 10) {
      *why = std::string(what) + " out of range";
      return false;
    }
    v = v * 10 + d;
  }
  *out = v;
  return true;
}

// The rest of a word: nothing but its end may follow.
bool WordEnds(Cursor& c, std::string* why) {
  if (c.AtEnd() || IsWordEnd(*c.p)) return true;
  *why = "unexpected character";
  return false;
}

// A quoted text with its escapes.
bool Quoted(Cursor& c, std::string* out, std::string* why) {
  if (c.Peek() != '"') {
    *why = "quoted text expected";
    return false;
  }
  ++c.p;
  out->clear();
  for (;;) {
    if (c.AtEnd()) {
      *why = "unterminated quote";
      return false;
    }
    char ch = *c.p++;
    if (ch == '"') return true;
    if (ch != '\\') {
      out->push_back(ch);
      continue;
    }
    if (c.AtEnd()) {
      *why = "unterminated quote";
      return false;
    }
    char e = *c.p++;
    switch (e) {
      case 'r': out->push_back('\r'); break;
      case 'n': out->push_back('\n'); break;
      case '"': out->push_back('"'); break;
      case '\\': out->push_back('\\'); break;
      case 'x': {
        int hi = c.p < c.end ? HexValue(c.p[0]) : -1;
        int lo = c.p + 1 < c.end ? HexValue(c.p[1]) : -1;
        if (hi < 0 || lo < 0) {
          *why = "bad \\x escape";
          return false;
        }
        out->push_back(char(hi * 16 + lo));
        c.p += 2;
        break;
      }
      default:
        *why = "unknown escape";
        return false;
    }
  }
}

// <b>:<p>[+<s>]
bool Address(Cursor& c, Item* item, std::string* why) {
  if (!Number(c, kMaxBoard, &item->board, why, "board")) return false;
  if (c.Peek() != ':') {
    *why = "':' expected in address";
    return false;
  }
  ++c.p;
  if (!Number(c, kMaxAddress, &item->primary, why, "primary address")) return false;
  item->secondary = -1;
  if (c.Peek() == '+') {
    ++c.p;
    uint32_t s = 0;
    if (!Number(c, kMaxAddress, &s, why, "secondary address")) return false;
    item->secondary = int32_t(s);
  }
  return WordEnds(c, why);
}

// A bare word up to a blank, "#" or the end.
std::string Word(Cursor& c) {
  const char* s = c.p;
  while (!c.AtEnd() && !IsWordEnd(*c.p) && *c.p != '=') ++c.p;
  return std::string(s, size_t(c.p - s));
}

bool Flag(Cursor& c, int32_t* out, std::string* why, const char* what) {
  uint32_t v = 0;
  if (!Number(c, 1, &v, why, what)) return false;
  *out = int32_t(v);
  return WordEnds(c, why);
}

// One of the given words; its index.
bool Choice(Cursor& c, const char* const* words, int n, int32_t* out, std::string* why, const char* what) {
  std::string w = Word(c);
  for (int i = 0; i < n; ++i) {
    if (w == words[i]) {
      *out = i;
      return WordEnds(c, why);
    }
  }
  *why = std::string("bad value of ") + what;
  return false;
}

bool BoardKeys(Cursor& c, Item* item, std::string* why) {
  while (!c.AtItemsEnd()) {
    std::string key = Word(c);
    if (c.Peek() != '=') {
      *why = "'=' expected after " + key;
      return false;
    }
    ++c.p;
    bool ok;
    if (key == "controller") ok = Flag(c, &item->controller, why, "controller");
    else if (key == "async") ok = Flag(c, &item->async, why, "async");
    else {
      *why = "unknown key " + key;
      return false;
    }
    if (!ok) return false;
  }
  return true;
}

bool DeviceKeys(Cursor& c, Item* item, std::string* why) {
  static const char* const kEos[] = {"none", "lf", "cr", "crlf"};
  static const char* const kFail[] = {"none", "system", "timeout"};
  while (!c.AtItemsEnd()) {
    std::string key = Word(c);
    if (c.Peek() != '=') {
      *why = "'=' expected after " + key;
      return false;
    }
    ++c.p;
    bool ok;
    if (key == "idn") ok = Quoted(c, &item->idn, why) && WordEnds(c, why);
    else if (key == "eos") ok = Choice(c, kEos, 4, &item->eos, why, "eos");
    else if (key == "delay") ok = Number(c, kMaxDelay, &item->delay, why, "delay") && WordEnds(c, why);
    else if (key == "poll") ok = Number(c, 255, &item->poll, why, "poll") && WordEnds(c, why);
    else if (key == "srq-after") {
      ok = Quoted(c, &item->srqAfter, why) && WordEnds(c, why);
      item->hasSrqAfter = ok;
    } else if (key == "listen") ok = Flag(c, &item->listen, why, "listen");
    else if (key == "fail") ok = Choice(c, kFail, 3, &item->fail, why, "fail");
    else if (key == "vxi") {
      item->vxi.clear();
      while (!c.AtEnd() && !IsWordEnd(*c.p)) {
        int hi = HexValue(*c.p);
        int lo = c.p + 1 < c.end ? HexValue(c.p[1]) : -1;
        if (hi < 0 || lo < 0 || item->vxi.size() >= kMaxVxiBytes) break;
        item->vxi.push_back(char(hi * 16 + lo));
        c.p += 2;
      }
      ok = !item->vxi.empty() && WordEnds(c, why);
      if (!ok) *why = "bad vxi bytes";
    } else {
      *why = "unknown key " + key;
      return false;
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace

int32_t ParseLine(const char* text, size_t len, Item* item, std::string* why) {
  *item = Item();
  why->clear();
  if (len > kMaxLine) {
    *why = "line too long";
    return kLineBad;
  }
  if (len && text[len - 1] == '\r') --len;
  Cursor c{text, text + len};
  if (c.AtItemsEnd()) return kLineEmpty;
  std::string word = Word(c);
  if (!c.AtEnd() && !IsWordEnd(*c.p)) {
    *why = "unknown word";
    return kLineBad;
  }
  c.SkipBlanks();
  bool ok;
  if (word == "board") {
    item->kind = kItemBoard;
    ok = Number(c, kMaxBoard, &item->board, why, "board") && WordEnds(c, why) && BoardKeys(c, item, why);
  } else if (word == "device") {
    item->kind = kItemDevice;
    ok = Address(c, item, why) && DeviceKeys(c, item, why);
  } else if (word == "answer") {
    item->kind = kItemAnswer;
    ok = Address(c, item, why);
    if (ok) {
      c.SkipBlanks();
      ok = Quoted(c, &item->query, why) && WordEnds(c, why);
    }
    if (ok) {
      c.SkipBlanks();
      ok = Quoted(c, &item->reply, why) && WordEnds(c, why);
    }
    if (ok && !c.AtItemsEnd()) {
      *why = "text after the reply";
      ok = false;
    }
  } else {
    *why = "unknown word " + word;
    ok = false;
  }
  return ok ? kLineItem : kLineBad;
}

void ReadText(const char* text, size_t size, ItemProc take, ReportProc report, void* ctx) {
  size_t pos = 0;
  uint32_t line = 0;
  Item item;
  std::string why;
  while (pos < size) {
    ++line;
    const void* nl = std::memchr(text + pos, '\n', size - pos);
    size_t end = nl ? size_t(static_cast<const char*>(nl) - text) : size;
    int32_t r = ParseLine(text + pos, end - pos, &item, &why);
    if (r == kLineItem && !take(ctx, item, &why)) r = kLineBad;
    if (r == kLineBad) report(ctx, line, why);
    pos = end + 1;
  }
}

bool ReadFile(const char* path, ItemProc take, ReportProc report, void* ctx) {
  if (!path || !*path) return false;
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::string all;
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
  std::fclose(f);
  ReadText(all.data(), all.size(), take, report, ctx);
  return true;
}

}  // namespace qxinstr
