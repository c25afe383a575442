#include "qx_uitest_script.h"

#include <cstring>
#include <strings.h>

#include "qx_input.h"

namespace {

struct KeyName {
  const char* name;
  uint32_t key;
};

// Named keys other than letters and digits (which are their ASCII codes).
constexpr KeyName kKeyNames[] = {
    {"Backspace", kPlatVkBack}, {"Tab", kPlatVkTab},         {"Enter", kPlatVkReturn},   {"Shift", kPlatVkShift},
    {"Ctrl", kPlatVkControl},   {"Alt", kPlatVkAlt},         {"Escape", kPlatVkEscape},  {"Space", kPlatVkSpace},
    {"PageUp", kPlatVkPrior},   {"PageDown", kPlatVkNext},   {"End", kPlatVkEnd},        {"Home", kPlatVkHome},
    {"Left", kPlatVkLeft},      {"Up", kPlatVkUp},           {"Right", kPlatVkRight},    {"Down", kPlatVkDown},
    {"Insert", kPlatVkInsert},  {"Delete", kPlatVkDelete},   {"F1", kPlatVkF1},          {"F2", kPlatVkF1 + 1},
    {"F3", kPlatVkF1 + 2},      {"F4", kPlatVkF1 + 3},       {"F5", kPlatVkF1 + 4},      {"F6", kPlatVkF1 + 5},
    {"F7", kPlatVkF1 + 6},      {"F8", kPlatVkF1 + 7},       {"F9", kPlatVkF1 + 8},      {"F10", kPlatVkF10},
    {"F11", kPlatVkF1 + 10},    {"F12", kPlatVkF12},
};

constexpr KeyName kModifiers[] = {{"Shift", kScriptShift}, {"Ctrl", kScriptCtrl}, {"Alt", kScriptAlt}};

bool Space(char c) { return c == ' ' || c == '\t'; }

// Walks one line.
struct LineReader {
  const char* p;
  const char* end;
  std::string* message;

  void SkipSpace() {
    while (p < end && Space(*p)) ++p;
  }
  bool AtEnd() {
    SkipSpace();
    return p == end;
  }
  bool Fail(const char* what) {
    *message = what;
    return false;
  }
  // A word: the characters up to the next space.
  bool Word(std::string* out, const char* what) {
    SkipSpace();
    const char* start = p;
    while (p < end && !Space(*p)) ++p;
    if (p == start) return Fail(what);
    out->assign(start, p);
    return true;
  }
  bool Number(int32_t* out, int32_t lo, int32_t hi, const char* what) {
    std::string w;
    if (!Word(&w, what)) return false;
    size_t i = w[0] == '-' ? 1 : 0;
    if (i == w.size() || w.size() - i > 6) return Fail(what);
    int32_t v = 0;
    for (; i < w.size(); ++i) {
      if (w[i] < '0' || w[i] > '9') return Fail(what);
      v = v * 10 + (w[i] - '0');
    }
    if (w[0] == '-') v = -v;
    if (v < lo || v > hi) return Fail(what);
    *out = v;
    return true;
  }
  bool Quoted(std::string* out, const char* what) {
    SkipSpace();
    if (p == end || *p != '"') return Fail(what);
    ++p;
    out->clear();
    while (p < end && *p != '"') {
      char c = *p++;
      if (c == '\\') {
        if (p == end) return Fail("unterminated text");
        switch (*p++) {
          case '"': c = '"'; break;
          case '\\': c = '\\'; break;
          case 'n': c = '\n'; break;
          case 't': c = '\t'; break;
          default: return Fail("unknown escape in text");
        }
      }
      out->push_back(c);
    }
    if (p == end) return Fail("unterminated text");
    ++p;
    if (p < end && !Space(*p)) return Fail("text must be followed by a space");
    return true;
  }
  bool File(std::string* out) {
    SkipSpace();
    if (p < end && *p == '"') {
      if (!Quoted(out, "file name expected")) return false;
      if (out->empty()) return Fail("empty file name");
      return true;
    }
    return Word(out, "file name expected");
  }
};

int32_t FindKeyName(const KeyName* table, size_t n, const char* name, size_t len) {
  for (size_t i = 0; i < n; ++i)
    if (std::strlen(table[i].name) == len && strncasecmp(table[i].name, name, len) == 0) return int32_t(i);
  return -1;
}

bool ParseKey(const std::string& word, PlatScriptStep* step, std::string* message) {
  size_t start = 0;
  for (;;) {
    const size_t plus = word.find('+', start);
    // A '+' at the very end is the key itself only when nothing else is
    // left; no key is named "+".
    if (plus == std::string::npos) break;
    const int32_t m = FindKeyName(kModifiers, std::size(kModifiers), word.data() + start, plus - start);
    if (m < 0) {
      *message = "unknown modifier";
      return false;
    }
    if (step->mods & kModifiers[m].key) {
      *message = "modifier given twice";
      return false;
    }
    step->mods |= kModifiers[m].key;
    start = plus + 1;
  }
  step->key = PlatScriptKeyOfName(word.data() + start, word.size() - start);
  if (step->key == 0) {
    *message = "unknown key";
    return false;
  }
  return true;
}

bool ParseLine(const char* p, const char* end, PlatScriptStep* step, std::string* message) {
  LineReader r{p, end, message};
  std::string op;
  if (!r.Word(&op, "step expected")) return false;
  if (op == "wait") {
    step->op = kScriptWait;
  } else if (op == "click") {
    step->op = kScriptClick;
    if (!r.Number(&step->x, -32768, 32767, "click needs X and Y") ||
        !r.Number(&step->y, -32768, 32767, "click needs X and Y"))
      return false;
  } else if (op == "key") {
    step->op = kScriptKey;
    std::string name;
    if (!r.Word(&name, "key needs a name") || !ParseKey(name, step, message)) return false;
  } else if (op == "type") {
    step->op = kScriptType;
    if (!r.Quoted(&step->text, "type needs a quoted text")) return false;
  } else if (op == "wheel") {
    step->op = kScriptWheel;
    if (!r.Number(&step->steps, -kScriptMaxWheel, kScriptMaxWheel, "wheel needs N, X and Y") ||
        !r.Number(&step->x, -32768, 32767, "wheel needs N, X and Y") ||
        !r.Number(&step->y, -32768, 32767, "wheel needs N, X and Y"))
      return false;
    if (step->steps == 0) return r.Fail("wheel needs N, X and Y");
  } else if (op == "snapshot") {
    step->op = kScriptSnapshot;
    if (!r.File(&step->text)) return false;
  } else if (op == "snapshot-window") {
    step->op = kScriptSnapshotWindow;
    if (!r.Quoted(&step->title, "snapshot-window needs a quoted title") || !r.File(&step->text)) return false;
  } else if (op == "quit") {
    step->op = kScriptQuit;
  } else if (op == "wait-file") {
    step->op = kScriptWaitFile;
    if (!r.File(&step->text)) return false;
  } else {
    return r.Fail("unknown step");
  }
  if (!r.AtEnd()) return r.Fail("unexpected text after the step");
  return true;
}

void QuoteInto(std::string* out, const std::string& text) {
  out->push_back('"');
  for (char c : text) {
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\t': *out += "\\t"; break;
      default: out->push_back(c);
    }
  }
  out->push_back('"');
}

}  // namespace

uint32_t PlatScriptKeyOfName(const char* name, size_t len) {
  if (len == 1) {
    const char c = name[0];
    if (c >= '0' && c <= '9') return uint32_t(c);
    if (c >= 'A' && c <= 'Z') return uint32_t(c);
    if (c >= 'a' && c <= 'z') return uint32_t(c - 'a' + 'A');
  }
  const int32_t i = FindKeyName(kKeyNames, std::size(kKeyNames), name, len);
  return i < 0 ? 0 : kKeyNames[i].key;
}

std::string PlatScriptNameOfKey(uint32_t key) {
  if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) return std::string(1, char(key));
  for (const KeyName& k : kKeyNames)
    if (k.key == key) return k.name;
  return std::string();
}

bool PlatScriptParse(const char* text, size_t size, std::vector<PlatScriptStep>* steps, int32_t* badLine,
                     std::string* message) {
  steps->clear();
  int32_t line = 0;
  for (size_t pos = 0; pos < size;) {
    ++line;
    const char* start = text + pos;
    const void* nl = std::memchr(start, '\n', size - pos);
    const char* end = nl ? static_cast<const char*>(nl) : text + size;
    pos = size_t(end - text) + (nl ? 1 : 0);
    if (end > start && end[-1] == '\r') --end;
    std::string why;
    if (size_t(end - start) > kScriptMaxLine) {
      why = "line too long";
    } else {
      for (const char* c = start; c < end && why.empty(); ++c)
        if ((*c < 0x20 && *c != '\t') || *c == 0x7F || static_cast<unsigned char>(*c) >= 0x80)
          why = "character that is not printable ASCII";
    }
    if (why.empty()) {
      const char* first = start;
      while (first < end && Space(*first)) ++first;
      if (first == end || *first == '#') continue;
      PlatScriptStep step;
      step.line = line;
      if (ParseLine(first, end, &step, &why)) {
        steps->push_back(std::move(step));
        continue;
      }
    }
    *badLine = line;
    *message = why;
    steps->clear();
    return false;
  }
  return true;
}

std::string PlatScriptFormat(const PlatScriptStep& s) {
  std::string out;
  switch (s.op) {
    case kScriptWait: return "wait";
    case kScriptQuit: return "quit";
    case kScriptClick: return "click " + std::to_string(s.x) + " " + std::to_string(s.y);
    case kScriptWheel:
      return "wheel " + std::to_string(s.steps) + " " + std::to_string(s.x) + " " + std::to_string(s.y);
    case kScriptKey: {
      out = "key ";
      for (const KeyName& m : kModifiers)
        if (s.mods & m.key) out += std::string(m.name) + "+";
      out += PlatScriptNameOfKey(s.key);
      return out;
    }
    case kScriptType:
      out = "type ";
      QuoteInto(&out, s.text);
      return out;
    case kScriptWaitFile:
      out = "wait-file ";
      QuoteInto(&out, s.text);
      return out;
    case kScriptSnapshot:
      out = "snapshot ";
      QuoteInto(&out, s.text);
      return out;
    case kScriptSnapshotWindow:
      out = "snapshot-window ";
      QuoteInto(&out, s.title);
      out += " ";
      QuoteInto(&out, s.text);
      return out;
  }
  return out;
}
