#include "rtlib/vistrread.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/datamgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/draw/fonts.h"

namespace {

const char* const kTagNames[kVSTagCount] = {
    "VI",         "DESC",       "CONTENT",    "TITLE",         "STEXT",    "LABEL",   "FONT",       "MLABEL",
    "STRING",     "STRINGS",    "PART",       "PARTS",         "CONTROL",  "GROUPER", "LBLABEL",    "DEFAULT",
    "PRIV",       "ITEMS",      "PLOTS",      "CURSORS",       "ROW_HEADER", "COL_HEADER", "CELL_FONTS",
    "SAME_AS_LABEL", "NO_TITLE", "CR",        "CRLF",          "LF",       "CLUSTER", "ARRAY",      "NON_STRING",
    "PATH",       "SEP",        "HELP_PATH",  "HELP_TAG",      "RTM_PATH",
};
constexpr int32 kLongestTagName = 13;  // "SAME_AS_LABEL"

// The kinds of attribute values.
enum AttrKind { kDecimal, kHexDigits, kQuoted, kQuotedSkipped, kStyleLetters, kBareWord, kColour };
struct AttrDef {
  const char* name;
  AttrKind kind;
};
struct TagAttrs {
  int32 count;
  AttrDef defs[5];
};
// The attributes of a tag (none for most).
TagAttrs AttrsOf(int32 tag) {
  switch (tag) {
    case kTagVI:
      return {4, {{"QXversion", kHexDigits}, {"revision", kDecimal}, {"name", kQuoted}, {"syntaxVersion", kDecimal}}};
    case kTagPART: return {3, {{"ID", kDecimal}, {"order", kDecimal}, {"type", kQuotedSkipped}}};
    case kTagCONTROL: return {3, {{"ID", kDecimal}, {"type", kQuotedSkipped}, {"name", kQuoted}}};
    case kTagFONT:
      return {5, {{"color", kColour}, {"size", kDecimal}, {"name", kQuoted}, {"style", kStyleLetters},
                  {"predef", kBareWord}}};
    case kTagCLUSTER: case kTagARRAY: return {1, {{"nElems", kDecimal}}};
    case kTagPATH: case kTagRTM_PATH: return {1, {{"type", kQuoted}}};
    case kTagNO_TITLE: return {1, {{"name", kQuoted}}};
    default: return {0, {}};
  }
}

// The text's bytes as they are now (the handle does not change during an
// import, but its block may move when other blocks are made).
struct Text {
  const uChar* b;
  int32 n;
};
Text TextOf(const ImportStringsRequest* rq) { return {VSLStrBytes(rq->text), VSLStrLen(rq->text)}; }

int32 LookUpName(const uChar* s, int32 n) {
  if (n > kLongestTagName) return -1;
  for (int32 i = 0; i < kVSTagCount; ++i)
    if (std::strlen(kTagNames[i]) == size_t(n) && std::memcmp(kTagNames[i], s, size_t(n)) == 0) return i;
  return -1;
}

// Skips spaces, tabs, CRs and LFs, counting CR LF pairs.
void SkipWhite(Text t, int32* p, int32* line) {
  while (*p < t.n) {
    const uChar c = t.b[*p];
    if (c == '\r' && *p + 1 < t.n && t.b[*p + 1] == '\n') ++*line;
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return;
    ++*p;
  }
}

// A tag's "<", optional "/", spaces and name at p.  With slashInName the
// "/" is read as part of the name (inside quoted values, where a closing
// tag is an unknown name).
struct Head {
  int32 tag;
  bool closing;
  int32 nameEnd;  // the byte after the name: a space or ">"
};
int32 ParseHead(Text t, int32 p, Head* h, bool slashInName = false) {
  if (p >= t.n) return kVSEndOfFile;
  if (t.b[p] != '<') return kVSSyntax;
  ++p;
  h->closing = false;
  if (!slashInName && p < t.n && t.b[p] == '/') {
    h->closing = true;
    ++p;
  }
  while (p < t.n && t.b[p] == ' ') ++p;
  const int32 start = p;
  while (p < t.n && t.b[p] != ' ' && t.b[p] != '>' && p - start <= kLongestTagName) ++p;
  if (p - start > kLongestTagName) return kVSUnknownTag;
  if (p >= t.n) return kVSEndOfFile;
  if (p == start) return kVSUnexpectedTag;
  h->tag = LookUpName(t.b + start, p - start);
  if (h->tag < 0) return kVSUnknownTag;
  h->nameEnd = p;
  return 0;
}

bool IsLineEndTag(int32 tag) { return tag == kTagCR || tag == kTagLF || tag == kTagCRLF; }

// Text by the text rules from p: element text stops on the "<" of a tag
// other than the line ends; quoted text stops after its closing quote.
int32 ScanText(Text t, int32* pp, int32* line, bool quoted, std::string* out) {
  int32 p = *pp;
  for (;;) {
    if (p >= t.n) return kVSEndOfFile;
    const uChar c = t.b[p];
    if (c == '<') {
      if (p + 1 < t.n && t.b[p + 1] == '<') {
        out->push_back('<');
        p += 2;
        continue;
      }
      Head h;
      if (int32 r = ParseHead(t, p, &h, quoted)) return r;
      if (!h.closing && IsLineEndTag(h.tag)) {
        if (t.b[h.nameEnd] != '>') return kVSSyntax;
        if (h.tag != kTagLF) out->push_back('\r');
        if (h.tag != kTagCR) out->push_back('\n');
        p = h.nameEnd + 1;
        continue;
      }
      if (quoted) return kVSSyntax;  // a known tag inside a quoted value
      *pp = p;
      return 0;
    }
    if (c == '>') {
      if (p + 1 < t.n && t.b[p + 1] == '>') {
        out->push_back('>');
        p += 2;
        continue;
      }
      return kVSSyntax;
    }
    if (c == '"') {
      if (p + 1 < t.n && t.b[p + 1] == '"') {
        out->push_back('"');
        p += 2;
        continue;
      }
      if (!quoted) return kVSSyntax;
      *pp = p + 1;
      return 0;
    }
    if (c == '\r') {
      if (p + 1 < t.n && t.b[p + 1] == '\n') ++*line;
    } else if (c != '\n') {
      out->push_back(char(c));
    }
    ++p;
  }
}

// Stores the bytes into a data-zone counted string, made when *h is null.
int32 StoreText(const std::string& s, LStrHandle* h) {
  const int32 size = int32(4 + s.size());
  if (!*h) {
    *h = reinterpret_cast<LStrHandle>(DSNewHandle(size));
    if (!*h) return kVSMemory;
  } else if (DSSetHandleSize(reinterpret_cast<UHandle>(*h), size) != kNoErr) {
    return kVSMemory;
  }
  PutNative32(reinterpret_cast<uChar*>(**h), uInt32(s.size()));
  if (!s.empty()) std::memcpy((**h)->str, s.data(), s.size());
  return 0;
}

void ToPStr(const std::string& s, PStr out) {
  const size_t n = s.size() < 255 ? s.size() : 255;
  out[0] = uChar(n);
  std::memcpy(out + 1, s.data(), n);
}

// One attribute value as parsed.
struct AttrValue {
  int64 number = 0;
  std::string text;
  int32 style = 0, weight = 0;
};

bool ValueEnds(Text t, int32 p) { return p < t.n && (t.b[p] == ' ' || t.b[p] == '>'); }

int32 ParseValue(Text t, int32* pp, int32* line, AttrKind kind, AttrValue* v) {
  int32 p = *pp;
  switch (kind) {
    case kDecimal:
    case kHexDigits: {
      const int64 base = kind == kHexDigits ? 16 : 10;
      const int32 start = p;
      uInt64 n = 0;
      while (p < t.n && t.b[p] >= '0' && t.b[p] <= '9') {
        n = n * uInt64(base) + uInt64(t.b[p] - '0');
        // A number wider than its word is a bad value, not a wrapped one.
        if (n > (kind == kHexDigits ? 0xFFFFFFFFull : 0x7FFFFFFFull)) return kVSBadValue;
        ++p;
      }
      if (p >= t.n) return kVSEndOfFile;
      if (p == start || !ValueEnds(t, p)) return kVSBadValue;
      v->number = int64(n);
      break;
    }
    case kColour: {
      const int32 start = p;
      uInt32 n = 0;
      while (p < t.n && std::isxdigit(t.b[p])) {
        if (p - start == 6) return kVSBadValue;
        const uChar c = t.b[p];
        n = n * 16 + uInt32(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        ++p;
      }
      if (p >= t.n) return kVSEndOfFile;
      if (p == start || !ValueEnds(t, p)) return kVSBadValue;
      v->number = n;
      break;
    }
    case kQuoted:
      if (p >= t.n) return kVSEndOfFile;
      if (t.b[p] != '"') return kVSSyntax;
      ++p;
      if (int32 r = ScanText(t, &p, line, true, &v->text)) return r;
      if (p >= t.n) return kVSEndOfFile;
      if (!ValueEnds(t, p)) return kVSSyntax;
      break;
    case kQuotedSkipped:
      if (p >= t.n) return kVSEndOfFile;
      if (t.b[p] != '"') return kVSSyntax;
      for (++p; p < t.n && t.b[p] != '"'; ++p) {
      }
      if (p + 1 >= t.n) return kVSEndOfFile;
      ++p;
      if (!ValueEnds(t, p)) return kVSSyntax;
      break;
    case kStyleLetters:
      if (p >= t.n) return kVSEndOfFile;
      if (t.b[p] != '\'') return kVSBadValue;
      for (++p; p < t.n && t.b[p] != '\''; ++p) {
        switch (t.b[p]) {
          case 'B': v->weight = 1000; break;
          case 'I': v->style |= 0x02; break;
          case 'U': v->style |= 0x04; break;
          case 'O': v->style |= 0x08; break;
          case 'S': v->style |= 0x01; break;
          case 'H': v->style |= 0x10; break;
          default: return kVSBadValue;
        }
      }
      if (p + 1 >= t.n) return kVSEndOfFile;
      ++p;
      if (!ValueEnds(t, p)) return kVSBadValue;
      break;
    case kBareWord:
      while (p < t.n && t.b[p] != ' ' && t.b[p] != '>') v->text.push_back(char(t.b[p++]));
      if (p >= t.n) return kVSEndOfFile;
      break;
  }
  *pp = p;
  return 0;
}

// The attributes after a tag's name up to and past its ">"; each known one
// goes to take(index in the tag's list, value), which may refuse it with a
// code.  Unknown ones are warnings (recorded when warn is given) whose
// values are skipped to the next space or ">".
template <typename Take>
int32 ParseAttrs(Text t, int32* pp, int32* line, int32 tag, ImportStringsContext* warn, uInt32 object, Take take) {
  const TagAttrs attrs = AttrsOf(tag);
  int32 p = *pp;
  for (;;) {
    while (p < t.n && t.b[p] == ' ') ++p;
    if (p >= t.n) return kVSEndOfFile;
    if (t.b[p] == '>') break;
    const int32 start = p;
    while (p < t.n && t.b[p] != '=' && t.b[p] != '>') ++p;
    if (p >= t.n) return kVSEndOfFile;
    if (t.b[p] == '>') return kVSBadValue;  // no "="
    int32 index = -1;
    for (int32 i = 0; i < attrs.count; ++i)
      if (std::strlen(attrs.defs[i].name) == size_t(p - start) &&
          std::memcmp(attrs.defs[i].name, t.b + start, size_t(p - start)) == 0)
        index = i;
    ++p;
    if (index < 0) {
      if (warn) {
        const int32 saved = warn->line;
        warn->line = *line;
        RecordImportError(warn, kVSUnknownAttr, object, uInt32(start));
        warn->line = saved;
      }
      while (p < t.n && t.b[p] != ' ' && t.b[p] != '>') ++p;
      if (p >= t.n) return kVSEndOfFile;
      continue;
    }
    AttrValue v;
    if (int32 r = ParseValue(t, &p, line, attrs.defs[index].kind, &v)) return r;
    if (int32 r = take(index, v)) return r;
  }
  *pp = p + 1;
  return 0;
}

// An opening tag of the kind expected at the position (after white space)
// with its attributes; on success the position and line advance.
template <typename Take>
int32 ReadTagWithAttrs(ImportStringsRequest* rq, int32 tag, bool warn, uInt32 object, Take take) {
  Text t = TextOf(rq);
  int32 p = int32(rq->position), line = rq->context->line;
  SkipWhite(t, &p, &line);
  Head h;
  if (int32 r = ParseHead(t, p, &h)) return r;
  if (h.tag != tag || h.closing) return kVSUnexpectedTag;
  p = h.nameEnd;
  if (int32 r = ParseAttrs(t, &p, &line, tag, warn ? rq->context : nullptr, object, take)) return r;
  rq->position = uInt32(p);
  rq->context->line = line;
  return 0;
}

// The installed faces, read once.
CPStrHandle InstalledFaces() {
  static CPStrHandle faces = [] {
    CPStrHandle h = reinterpret_cast<CPStrHandle>(AZNewHandle(4));
    if (h) {
      PutNative32(reinterpret_cast<uChar*>(*h), 0);
      TGetFontList(h);
    }
    return h;
  }();
  return faces;
}

bool FaceInstalled(ConstPStr name) {
  if (name[0] == 1 && name[1] >= '0' && name[1] <= '2') return true;  // the standard fonts
  CPStrHandle faces = InstalledFaces();
  if (!faces) return false;
  const int32 count = int32(GetNative32(reinterpret_cast<const uChar*>(*faces)));
  const int32 size = AZGetHandleSize(reinterpret_cast<UHandle>(faces));
  int32 at = 4;
  for (int32 i = 0; i < count && at < size; ++i) {
    const uChar* s = reinterpret_cast<const uChar*>(*faces) + at;
    if (at + 1 + s[0] > size) break;
    if (PStrEqual(s, name)) return true;
    at += 1 + s[0];
  }
  return false;
}

void StandardFontSettings(int32 which, VSFont* f) {
  f->name[0] = 1;
  f->name[1] = uChar('0' + which);
  Str255 ignored;
  int32 size = 0, style = 0, weight = 0;
  if (TGetFontInfo(TStandardFont(which), ignored, &size, &style, &weight)) {
    f->size = size;
    f->style = style;
    f->weight = weight;
  } else {
    f->size = f->style = f->weight = 0;
  }
}

// Saves the position and line, restored unless the reader succeeds.
struct Rollback {
  ImportStringsRequest* rq;
  uInt32 position;
  int32 line;
  explicit Rollback(ImportStringsRequest* r) : rq(r), position(r->position), line(r->context->line) {}
  int32 operator()(int32 code) {
    if (code) {
      rq->position = position;
      rq->context->line = line;
    }
    return code;
  }
};

}  // namespace

const char* VSTagName(int32 tag) { return tag >= 0 && tag < kVSTagCount ? kTagNames[tag] : ""; }

void InitImportContext(ImportStringsContext* c) {
  std::memset(c, 0, sizeof *c);
  c->errCode = -1;
  c->warnCount = -1;
  c->line = 1;
}

int32 RecordImportError(ImportStringsContext* c, int32 code, uInt32 object, uInt32 position) {
  if (!c) return VSIsWarning(code) ? 0 : kImportStop;
  if (VSIsWarning(code)) {
    const int32 n = c->warnCount < 0 ? 0 : c->warnCount;
    if (n < kImportWarningSlots) c->warnings[n] = {code, object, position, c->line};
    c->warnCount = n + 1;
    return 0;
  }
  if (c->errCode == -1) {
    c->errCode = code;
    c->errObject = object;
    c->errPosition = position;
    c->errLine = c->line;
  }
  return kImportStop;
}

int32 VSLStrLen(UHandle h) {
  if (!h || !*h) return 0;
  const int32 size = AZIsHandle(h) ? AZGetHandleSize(h) : DSGetHandleSize(h);
  if (size < 4) return 0;
  const int32 n = int32(GetNative32(*h));
  return n >= 0 && n <= size - 4 ? n : 0;
}

const uChar* VSLStrBytes(UHandle h) { return h && *h ? *h + 4 : nullptr; }

bool VSLStrEqual(UHandle a, UHandle b) {
  const int32 n = VSLStrLen(a);
  return n == VSLStrLen(b) && (n == 0 || std::memcmp(VSLStrBytes(a), VSLStrBytes(b), size_t(n)) == 0);
}

int32 PeekTag(ImportStringsRequest* rq, int32* tag, bool* closing) {
  Text t = TextOf(rq);
  int32 p = int32(rq->position), line = 0;
  SkipWhite(t, &p, &line);
  Head h;
  if (int32 r = ParseHead(t, p, &h)) return r;
  *tag = h.tag;
  *closing = h.closing;
  return 0;
}

int32 ExpectTag(ImportStringsRequest* rq, int32 tag, bool closing) {
  Text t = TextOf(rq);
  int32 p = int32(rq->position), line = rq->context->line;
  SkipWhite(t, &p, &line);
  Head h;
  if (int32 r = ParseHead(t, p, &h)) return r;
  if (h.tag != tag || h.closing != closing) return kVSUnexpectedTag;
  if (t.b[h.nameEnd] != '>') return kVSSyntax;
  rq->position = uInt32(h.nameEnd + 1);
  rq->context->line = line;
  return 0;
}

int32 ReadElementText(ImportStringsRequest* rq, LStrHandle* out) {
  Text t = TextOf(rq);
  int32 p = int32(rq->position), line = rq->context->line;
  std::string s;
  if (int32 r = ScanText(t, &p, &line, false, &s)) return r;
  if (int32 r = StoreText(s, out)) return r;
  rq->position = uInt32(p);
  rq->context->line = line;
  return 0;
}

int32 ReadQuotedValue(ImportStringsRequest* rq, LStrHandle* out) {
  Text t = TextOf(rq);
  int32 p = int32(rq->position), line = rq->context->line;
  if (p >= t.n) return kVSEndOfFile;
  if (t.b[p] != '"') return kVSSyntax;
  ++p;
  std::string s;
  if (int32 r = ScanText(t, &p, &line, true, &s)) return r;
  if (int32 r = StoreText(s, out)) return r;
  rq->position = uInt32(p);
  rq->context->line = line;
  return 0;
}

int32 ReadStringElement(ImportStringsRequest* rq, int32 tag, LStrHandle* out) {
  Rollback back(rq);
  if (int32 r = ExpectTag(rq, tag, false)) return back(r);
  if (int32 r = ReadElementText(rq, out)) return back(r);
  return back(ExpectTag(rq, tag, true));
}

int32 ReadStringList(ImportStringsRequest* rq, UHandle* out) {
  Rollback back(rq);
  *out = nullptr;
  if (int32 r = ExpectTag(rq, kTagSTRINGS, false)) return back(r);
  std::string list(4, '\0');
  int32 count = 0;
  LStrHandle item = nullptr;
  int32 r = 0;
  for (;;) {
    int32 tag;
    bool closing;
    if ((r = PeekTag(rq, &tag, &closing))) break;
    if (tag != kTagSTRING || closing) {
      r = ExpectTag(rq, kTagSTRINGS, true);
      break;
    }
    if ((r = ReadStringElement(rq, kTagSTRING, &item))) break;
    const int32 n = VSLStrLen(reinterpret_cast<UHandle>(item));
    const int32 kept = n < 255 ? n : 255;
    list.push_back(char(kept));
    list.append(reinterpret_cast<const char*>(VSLStrBytes(reinterpret_cast<UHandle>(item))), size_t(kept));
    ++count;
  }
  if (item) DSDisposeHandle(reinterpret_cast<UHandle>(item));
  if (r) return back(r);
  PutNative32(reinterpret_cast<uChar*>(list.data()), uInt32(count));
  UHandle h = AZNewHandle(int32(list.size()));
  if (!h) return back(kVSMemory);
  std::memcpy(*h, list.data(), list.size());
  *out = h;
  return 0;
}

void VSAppFontSettings(VSFont* font) {
  StandardFontSettings(0, font);
  font->colour = 0;
}

int32 ReadFontTag(ImportStringsRequest* rq, VSFont* font, uInt32 object) {
  int32 tag;
  bool closing;
  // Text that is no tag at all (a table's next cell position) is no FONT
  // tag either: the entry keeps the settings it carries over.
  {
    Text t = TextOf(rq);
    int32 p = int32(rq->position), line = 0;
    SkipWhite(t, &p, &line);
    if (p < t.n && t.b[p] != '<') return kVSUnexpectedTag;
  }
  if (int32 r = PeekTag(rq, &tag, &closing)) return r == kVSEndOfFile ? kVSUnexpectedTag : r;
  if (tag != kTagFONT || closing) return kVSUnexpectedTag;
  VSFont f = *font;
  const int32 r = ReadTagWithAttrs(rq, kTagFONT, true, object, [&](int32 index, const AttrValue& v) -> int32 {
    switch (index) {
      case 0: f.colour = DColor(v.number); break;
      case 1:
        if (v.number > 0xFFFF) return kVSBadValue;
        f.size = int32(v.number);
        break;
      case 2:
        ToPStr(v.text, f.name);
        if (!FaceInstalled(f.name)) PStrCpy(f.name, reinterpret_cast<ConstPStr>("\0010"));
        break;
      case 3:
        f.style = v.style;
        f.weight = v.weight;
        break;
      case 4:
        if (v.text == "APPFONT") StandardFontSettings(0, &f);
        else if (v.text == "SYSFONT") StandardFontSettings(1, &f);
        else if (v.text == "DLGFONT") StandardFontSettings(2, &f);
        else return kVSBadValue;
        break;
    }
    return 0;
  });
  if (r == 0) *font = f;
  return r;
}

int32 ReadPathElement(ImportStringsRequest* rq, Path* out, uInt32 object) {
  Rollback back(rq);
  *out = nullptr;
  int32 type = kAbsPath;
  int32 r = ReadTagWithAttrs(rq, kTagPATH, true, object, [&](int32, const AttrValue& v) -> int32 {
    static const char* const kTypes[] = {"absolute", "relative", "not-a-path", "unc"};
    for (int32 i = 0; i < 4; ++i)
      if (v.text == kTypes[i]) {
        type = i;
        return 0;
      }
    return kVSBadValue;
  });
  if (r) return back(r);
  Path path = FMakePath(nullptr, type, nullptr);
  if (!path) return back(kVSMemory);
  std::string s;
  for (;;) {
    Text t = TextOf(rq);
    int32 p = int32(rq->position), line = rq->context->line;
    s.clear();
    if ((r = ScanText(t, &p, &line, false, &s))) break;
    rq->position = uInt32(p);
    rq->context->line = line;
    int32 tag;
    bool closing;
    if ((r = PeekTag(rq, &tag, &closing))) break;
    const bool last = tag == kTagPATH && closing;
    if (!last && (tag != kTagSEP || closing)) {
      r = kVSUnexpectedTag;
      break;
    }
    if (!(last && s.empty()) && type != kNotAPath) {
      Str255 name;
      ToPStr(s, name);
      if (FAppendName(path, name) != kNoErr) {
        r = kVSPathComponent;
        break;
      }
    }
    if ((r = ExpectTag(rq, last ? kTagPATH : kTagSEP, last))) break;
    if (last) break;
  }
  if (r) {
    FDisposePath(path);
    return back(r);
  }
  *out = path;
  return 0;
}

int32 ReadOptionalPath(ImportStringsRequest* rq, int32 wrapper, Path current, Path* out, Bool32* changed,
                       uInt32 object) {
  Rollback back(rq);
  *out = nullptr;
  *changed = 0;
  if (int32 r = ExpectTag(rq, wrapper, false)) return back(r);
  int32 tag;
  bool closing;
  if (int32 r = PeekTag(rq, &tag, &closing)) return back(r);
  Path path = nullptr;
  if (!(tag == wrapper && closing))
    if (int32 r = ReadPathElement(rq, &path, object)) return back(r);
  if (int32 r = ExpectTag(rq, wrapper, true)) {
    if (path) FDisposePath(path);
    return back(r);
  }
  *changed = (!current) != (!path) || (current && path && FPathCmp(current, path) != 0);
  *out = path;
  return 0;
}

int32 ReadMarkerTag(ImportStringsRequest* rq, int32 tag) { return ExpectTag(rq, tag, false); }

int32 ReadCellPosition(ImportStringsRequest* rq, int32* row, int32* column) {
  Text t = TextOf(rq);
  int32 p = int32(rq->position), line = rq->context->line;
  SkipWhite(t, &p, &line);
  if (p >= t.n) return kVSEndOfFile;
  if (t.b[p++] != '[') return kVSSyntax;
  int32 values[2];
  for (int32& value : values) {
    while (p < t.n && t.b[p] == ' ') ++p;
    const bool negative = p < t.n && t.b[p] == '-';
    if (p < t.n && (t.b[p] == '-' || t.b[p] == '+')) ++p;
    const int32 start = p;
    int64 n = 0;
    while (p < t.n && t.b[p] >= '0' && t.b[p] <= '9') {
      n = n * 10 + (t.b[p++] - '0');
      if (n > 0x80000000ll) return kVSBadValue;
    }
    if (p >= t.n) return kVSEndOfFile;
    if (p == start || (!negative && n > 0x7FFFFFFF)) return kVSBadValue;
    value = int32(negative ? -n : n);
  }
  while (p < t.n && t.b[p] == ' ') ++p;
  if (p >= t.n) return kVSEndOfFile;
  if (t.b[p] != ']') return kVSSyntax;
  *row = values[0];
  *column = values[1];
  rq->position = uInt32(p + 1);
  rq->context->line = line;
  return 0;
}

int32 ReadPartAttrs(ImportStringsRequest* rq, VSPartAttrs* attrs, uInt32 object) {
  VSPartAttrs a;
  const int32 r = ReadTagWithAttrs(rq, kTagPART, true, object, [&](int32 index, const AttrValue& v) -> int32 {
    if (index == 0) a.id = int32(v.number);
    if (index == 1) a.order = int32(v.number);
    return 0;
  });
  if (r == 0) *attrs = a;
  return r;
}

int32 ReadControlAttrs(ImportStringsRequest* rq, VSControlAttrs* attrs, uInt32 object) {
  int32 id = -1;
  std::string name;
  bool hasName = false;
  const int32 r = ReadTagWithAttrs(rq, kTagCONTROL, true, object, [&](int32 index, const AttrValue& v) -> int32 {
    if (index == 0) id = int32(v.number);
    if (index == 2) {
      name = v.text;
      hasName = true;
    }
    return 0;
  });
  if (r) return r;
  attrs->id = id;
  attrs->name = nullptr;
  if (hasName && StoreText(name, &attrs->name)) return kVSMemory;
  return 0;
}

int32 ReadVITag(ImportStringsRequest* rq, VSVIAttrs* attrs, bool warn) {
  VSVIAttrs a;
  const int32 r = ReadTagWithAttrs(rq, kTagVI, warn, 0, [&](int32 index, const AttrValue& v) -> int32 {
    switch (index) {
      case 0: a.version = int32(uInt32(v.number)); break;
      case 1: a.revision = int32(v.number); break;
      case 2: ToPStr(v.text, a.name); break;
      case 3: a.syntaxVersion = int32(v.number); break;
    }
    return 0;
  });
  if (r == 0) *attrs = a;
  return r;
}

int32 ReadRTMPathTag(ImportStringsRequest* rq, int32* type) {
  int32 kind = -1;
  const int32 r = ReadTagWithAttrs(rq, kTagRTM_PATH, true, 0, [&](int32, const AttrValue& v) -> int32 {
    static const char* const kKinds[] = {"default", "minimal", "custom"};
    for (int32 i = 0; i < 3; ++i)
      if (v.text == kKinds[i]) {
        kind = i;
        return 0;
      }
    return kVSBadValue;
  });
  if (r == 0) *type = kind;
  return r;
}

int32 ReadNoTitleTag(ImportStringsRequest* rq) {
  return ReadTagWithAttrs(rq, kTagNO_TITLE, true, 0, [](int32, const AttrValue&) -> int32 { return 0; });
}

void SkipWhiteSpace(ImportStringsRequest* rq) {
  int32 p = int32(rq->position);
  SkipWhite(TextOf(rq), &p, &rq->context->line);
  rq->position = uInt32(p);
}

int32 SkipVISection(ImportStringsRequest* rq) {
  Text t = TextOf(rq);
  int32 line = rq->context->line;
  for (int32 p = int32(rq->position); p < t.n; ++p) {
    const uChar c = t.b[p];
    if (c == '\r' && p + 1 < t.n && t.b[p + 1] == '\n') ++line;
    if (c != '<') continue;
    if (p + 1 < t.n && t.b[p + 1] == '<') {
      ++p;
      continue;
    }
    Head h;
    if (ParseHead(t, p, &h) == 0 && h.closing && h.tag == kTagVI && t.b[h.nameEnd] == '>') {
      rq->position = uInt32(h.nameEnd + 1);
      rq->context->line = line;
      return 0;
    }
  }
  return kVSNoSection;
}

// ---- Typed values ---------------------------------------------------------------------
namespace {

// An ARRAY or CLUSTER tag where one is expected: another known tag is a
// structure mismatch (14); its element count.
int32 ReadCountTag(ImportStringsRequest* rq, int32 tag, int32* count, uInt32 object) {
  int32 next;
  bool closing;
  if (int32 r = PeekTag(rq, &next, &closing)) return r;
  if (next != tag || closing) return kVSStructure;
  int32 n = -1;
  const int32 r = ReadTagWithAttrs(rq, tag, true, object, [&](int32, const AttrValue& v) -> int32 {
    n = int32(v.number);
    return 0;
  });
  *count = n;
  return r;
}

int32 ReadTypedValueAt(ImportStringsRequest* rq, const TypeDescriptor* td, UPtr data, Bool32* changed, uInt32 object,
                       int32 depth) {
  if (!td || !data || depth > 64) return kVSStructure;
  td = SkipTypedefs(td);
  const uChar* tb = reinterpret_cast<const uChar*>(td);
  switch (td->code) {
    case kTDArray:
    case kTDArrayView: {
      const int32 dims = int16(GetNative16(tb + 4));
      UHandle array;
      std::memcpy(&array, data, sizeof array);
      int64 have = 0;
      if (array && *array && dims > 0 && DSGetHandleSize(array) >= 4 * dims) {
        have = 1;
        for (int32 d = 0; d < dims; ++d) have *= int32(GetNative32(*array + 4 * d));
      }
      int32 n;
      if (int32 r = ReadCountTag(rq, kTagARRAY, &n, object)) return r;
      if (n != have) return kVSStructure;
      const TypeDescriptor* elem = reinterpret_cast<const TypeDescriptor*>(tb + 6 + 4 * dims);
      const int32 size = DataSize(elem);
      const int32 start = AlignDatum(elem, 4 * dims);
      if (n > 0 && (size <= 0 || int64(start) + int64(n) * size > DSGetHandleSize(array))) return kVSStructure;
      for (int32 i = 0; i < n; ++i)
        if (int32 r = ReadTypedValueAt(rq, elem, *array + start + i * size, changed, object, depth + 1)) return r;
      return ExpectTag(rq, kTagARRAY, true);
    }
    case kTDCluster: {
      const int32 count = int16(GetNative16(tb + 4));
      int32 n;
      if (int32 r = ReadCountTag(rq, kTagCLUSTER, &n, object)) return r;
      if (n != count) return kVSStructure;
      int32 offset = 0;
      for (int32 i = 0; i < count; ++i) {
        const TypeDescriptor* elem = ElemTD(td, i);
        if (!elem) return kVSStructure;
        offset = AlignDatum(elem, offset);
        if (int32 r = ReadTypedValueAt(rq, elem, data + offset, changed, object, depth + 1)) return r;
        offset += DataSize(elem);
      }
      return ExpectTag(rq, kTagCLUSTER, true);
    }
    case kTDString:
    case kTDStringView: {
      LStrHandle text = nullptr;
      int32 r = ReadStringElement(rq, kTagSTRING, &text);
      UHandle current;
      std::memcpy(&current, data, sizeof current);
      if (!r && !VSLStrEqual(current, reinterpret_cast<UHandle>(text))) {
        if (CopyData(StdTDTable[kStdTDString], &text, data) != kNoErr) r = kVSMemory;
        else *changed = 1;
      }
      if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
      return r;
    }
    case kTDPath: {
      Path path = nullptr;
      int32 r = ReadPathElement(rq, &path, object);
      Path current;
      std::memcpy(&current, data, sizeof current);
      if (!r && (!current || FPathCmp(current, path) != 0)) {
        if (CopyData(StdTDTable[kStdTDPath], &path, data) != kNoErr) r = kVSMemory;
        else *changed = 1;
      }
      if (path) FDisposePath(path);
      return r;
    }
    default:
      return ExpectTag(rq, kTagNON_STRING, false);
  }
}

}  // namespace

int32 ReadTypedValue(ImportStringsRequest* rq, const TypeDescriptor* td, UPtr data, Bool32* changed,
                     uInt32 object) {
  Rollback back(rq);
  return back(ReadTypedValueAt(rq, td, data, changed, object, 0));
}
