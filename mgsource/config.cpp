// The configuration file: choosing it, reading keys as typed values and
// writing them back.
#include "config.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "config_internal.h"
#include "counted_strings.h"
#include "filemgr.h"
#include "memory.h"
#include "printf.h"
#include "sorting.h"
#include "textnum.h"
#include "platform/qx_charcase.h"
#include "platform/qx_file.h"
#include "platform/qx_inifile.h"

namespace {

constexpr int32 kMaxFileText = 260;
constexpr int32 kSmallBufSize = 300;     // keys are read here first
constexpr int32 kValueStep = 1024;       // the value handle for longer texts
constexpr int32 kValueKeepLimit = 2000;  // above this it is cut back after a read

// The file name, the section and the value handle are guarded by gLock.
std::mutex gLock;
bool gChosen = false;
char gFile[kMaxFileText + 1];
char gSection[256] = "Quenlix";
UHandle gValue = nullptr;

std::atomic<CfgNewFontProc> gNewFont{nullptr};
std::atomic<CfgFontInfoProc> gFontInfo{nullptr};

// The program file's name with ".ini" in place of its three-character
// extension, or appended when it has none; empty when the result would be
// longer than a file name may be.
void ChooseDefaultLocked() {
  gChosen = true;
  gFile[0] = 0;
  std::string name;
  if (!PlatProgramFile(&name)) return;
  size_t slash = name.find_last_of("/\\");
  size_t n = name.size();
  if (n >= 4 && name[n - 4] == '.' && (slash == std::string::npos || slash < n - 4)) name.resize(n - 4);
  name += ".ini";
  if (name.size() > size_t(kMaxFileText)) return;
  std::memcpy(gFile, name.c_str(), name.size() + 1);
}

void EnsureChosenLocked() {
  if (!gChosen) ChooseDefaultLocked();
}

// The key as a C string; a key holding a NUL byte would name a shorter key,
// so it is refused.
bool KeyText(ConstPStr key, char* out) {
  if (!key || std::memchr(key + 1, 0, key[0])) return false;
  std::memcpy(out, key + 1, key[0]);
  out[key[0]] = 0;
  return true;
}

// Reads the text of key with gLock held: into small, or into the value
// handle when it fills small.  Quotes around it are dropped.
MgErr ReadRawLocked(const char* key, char* small, const uChar** text, int32* len) {
  EnsureChosenLocked();
  int64_t full = 0;
  int32 n = PlatIniRead(gFile, gSection, key, "", small, kSmallBufSize, &full);
  const char* t = small;
  if (n >= kSmallBufSize - 1) {
    // A long value: into the value handle, grown in whole steps until the
    // text fits (the file may change between two reads).
    if (!gValue) gValue = AZNewHandle(kValueStep);
    if (!gValue) return kCfgAllocErr;
    for (;;) {
      int32 size = AZGetHandleSize(gValue);
      if (full + 1 > size) {
        int64 want = (full + 1 + kValueStep - 1) / kValueStep * kValueStep;
        if (want > 0x7FFFFFFF || AZSetHandleSize(gValue, int32(want))) return kCfgAllocErr;
        size = int32(want);
      }
      n = PlatIniRead(gFile, gSection, key, "", reinterpret_cast<char*>(*gValue), size, &full);
      if (full < size) break;
    }
    t = reinterpret_cast<const char*>(*gValue);
  }
  if (n == 0) return kCfgTokenNotFoundErr;
  if (n >= 2 && (t[0] == '"' || t[0] == '\'') && t[n - 1] == t[0]) {
    ++t;
    n -= 2;
  }
  *text = reinterpret_cast<const uChar*>(t);
  *len = n;
  return kNoErr;
}

void TrimValueHandleLocked() {
  if (gValue && AZGetHandleSize(gValue) > kValueKeepLimit) AZSetHandleSize(gValue, kValueStep);
}

bool IsBlank(uChar c) { return c == ' ' || c == '\t'; }

bool OnlyBlanks(const uChar* p, const uChar* end) {
  for (; p < end; ++p)
    if (!IsBlank(*p)) return false;
  return true;
}

bool EqualsNoCase(const uChar* t, int32 len, const char* word) {
  return PlatSameNoCase(t, size_t(len), word, std::strlen(word));
}

// ---- reading each kind: the value is stored only when the whole text read

MgErr ReadColor(const uChar* t, int32 len, uInt32* value) {
  static const char kTransparent[] = "transparent";
  constexpr int32 kLen = int32(sizeof kTransparent - 1);
  if (len >= kLen && EqualsNoCase(t, kLen, kTransparent)) {
    *value = 0x1000000u;
    return kNoErr;
  }
  const uChar* cur = t;
  uInt32 v = uInt32(HexStrToNum(&cur, len, kNumU32));
  if (cur == t || !OnlyBlanks(cur, t + len)) return kCfgParseErr;
  *value = v;
  return kNoErr;
}

MgErr ReadFourInts(const uChar* t, int32 len, int16* value) {
  int16 v[4];
  const uChar* cur = t;
  const uChar* end = t + len;
  for (int32 i = 0; i < 4; ++i) {
    const uChar* start = cur;
    v[i] = int16(DecStrToNum(&cur, int32(end - cur), kNumI16));
    if (cur == start) return kCfgParseErr;
    if (cur < end) ++cur;  // the separator that follows each number
  }
  if (!OnlyBlanks(cur, end)) return kCfgParseErr;
  std::memcpy(value, v, sizeof v);
  return kNoErr;
}

MgErr ReadString(const uChar* t, int32 len, UHandle* value) {
  if (len > 255) len = 255;
  UHandle h = *value;
  if (!h) {
    h = AZNewHandle(len + 1);
    if (!h) return kCfgAllocErr;
  } else if (AZSetHandleSize(h, len + 1)) {
    return kCfgAllocErr;
  }
  (*h)[0] = uChar(len);
  std::memcpy(*h + 1, t, size_t(len));
  *value = h;
  return kNoErr;
}

MgErr ReadBool(const uChar* t, int32 len, int32* value) {
  if (EqualsNoCase(t, len, "true") || EqualsNoCase(t, len, "yes") || EqualsNoCase(t, len, "on")) {
    *value = 1;
  } else if (EqualsNoCase(t, len, "false") || EqualsNoCase(t, len, "no") || EqualsNoCase(t, len, "off")) {
    *value = 0;
  } else {
    return kCfgParseErr;
  }
  return kNoErr;
}

template <typename T>
MgErr ReadNumber(const uChar* t, int32 len, int32 type, T* value) {
  T v;
  if (!TextToNum(t, len, type, &v, 0, 0, nullptr)) return kCfgParseErr;
  *value = v;
  return kNoErr;
}

MgErr MapPathErr(MgErr err) { return err == kMemFullErr ? kCfgAllocErr : kCfgParseErr; }

MgErr ReadPath(const uChar* t, int32 len, Path* value) {
  Path p = nullptr;
  if (MgErr err = FTextToPath(t, len, &p)) return MapPathErr(err);
  if (*value) {
    MgErr err = FPathCpy(*value, p);
    FDisposePath(p);
    return err ? MapPathErr(err) : kNoErr;
  }
  *value = p;
  return kNoErr;
}

MgErr ReadPathList(const uChar* t, int32 len, UHandle* value) {
  UHandle list = *value;
  if (!list) {
    list = AZNewHClr(4);
    if (!list) return kCfgAllocErr;
    *value = list;
  } else if (!*list || AZGetHandleSize(list) < 4) {
    return kArgErr;
  }
  int32 i = 0;
  while (i < len) {
    while (i < len && (t[i] == ';' || t[i] == ' ')) ++i;
    if (i >= len) break;
    int32 start = i;
    while (i < len && t[i] != ';') ++i;
    int32 end = i;
    while (end > start && t[end - 1] == ' ') --end;
    Path p = nullptr;
    if (MgErr err = FTextToPath(t + start, end - start, &p)) return MapPathErr(err);
    if (MgErr err = HObjListInsert(list, int32(reinterpret_cast<intptr_t>(p)), 0x7FFFFFFF)) {
      FDisposePath(p);
      return err == kMemFullErr ? kCfgAllocErr : err;
    }
  }
  return kNoErr;
}

// A font value: a quoted name, spaces, the size and the style letters.
struct FontSpec {
  uChar name[256];
  int32 size = 0, style = 0, weight = 0;
};

MgErr ParseFont(const uChar* t, int32 len, FontSpec* f) {
  int32 i = 0;
  while (i < len && IsBlank(t[i])) ++i;
  if (i >= len || t[i] != '"') return kCfgParseErr;
  int32 start = ++i;
  while (i < len && t[i] != '"') ++i;
  if (i >= len) return kCfgParseErr;
  int32 n = i - start > 255 ? 255 : i - start;
  f->name[0] = uChar(n);
  std::memcpy(f->name + 1, t + start, size_t(n));
  ++i;
  while (i < len && IsBlank(t[i])) ++i;
  int32 digits = i;
  while (i < len && t[i] >= '0' && t[i] <= '9') ++i;
  if (i == digits) return kCfgParseErr;
  uInt16 size = 0;
  if (!TextToNum(t + digits, i - digits, kNumU16, &size, 0, 0, nullptr)) return kCfgParseErr;
  f->size = size;
  for (; i < len; ++i) {
    switch (t[i]) {
      case 'B': f->weight = 1000; break;
      case 'I': f->style |= 2; break;
      case 'S': f->style |= 1; break;
      case 'U': f->style |= 4; break;
      case 'O': f->style |= 8; break;
      default: break;
    }
  }
  return kNoErr;
}

MgErr ReadStringList(const uChar* t, int32 len, CPStrHandle* value) {
  // Size first: a count, then each string cut to 255 characters.
  int64 size = 4;
  int32 count = 0;
  for (int32 i = 0; i <= len; ++count) {
    int32 start = i;
    while (i < len && t[i] != ';') ++i;
    size += 1 + (i - start > 255 ? 255 : i - start);
    ++i;
  }
  if (len == 0) {
    count = 0;
    size = 4;
  }
  if (size > 0x7FFFFFFF) return kCfgAllocErr;
  UHandle h = reinterpret_cast<UHandle>(*value);
  if (!h) {
    h = AZNewHandle(int32(size));
    if (!h) return kCfgAllocErr;
  } else if (AZSetHandleSize(h, int32(size))) {
    return kCfgAllocErr;
  }
  std::memcpy(*h, &count, 4);
  uChar* out = *h + 4;
  for (int32 i = 0, k = 0; k < count; ++k) {
    int32 start = i;
    while (i < len && t[i] != ';') ++i;
    int32 n = i - start > 255 ? 255 : i - start;
    *out++ = uChar(n);
    std::memcpy(out, t + start, size_t(n));
    out += n;
    ++i;
  }
  *value = reinterpret_cast<CPStrHandle>(h);
  return kNoErr;
}

MgErr ReadKind(int32 kind, const uChar* t, int32 len, void* value, FontSpec* font) {
  switch (kind) {
    case kCfgColor: return ReadColor(t, len, static_cast<uInt32*>(value));
    case kCfgFourInts: return ReadFourInts(t, len, static_cast<int16*>(value));
    case kCfgString: return ReadString(t, len, static_cast<UHandle*>(value));
    case kCfgBool: return ReadBool(t, len, static_cast<int32*>(value));
    case kCfgInt: return ReadNumber(t, len, kNumI32, static_cast<int32*>(value));
    case kCfgPath: return ReadPath(t, len, static_cast<Path*>(value));
    case kCfgPathList: return ReadPathList(t, len, static_cast<UHandle*>(value));
    case kCfgFont: return ParseFont(t, len, font);
    case kCfgStringList: return ReadStringList(t, len, static_cast<CPStrHandle*>(value));
    case kCfgNumber: return ReadNumber(t, len, kNumSGL, static_cast<float32*>(value));
    default: return kCfgBadTypeErr;
  }
}

// ---- writing: the text of a value, in a buffer that moves into a handle
// of the application zone when it outgrows its own bytes

class TextOut {
 public:
  ~TextOut() {
    if (h_) AZDisposeHandle(h_);
  }
  void Add(const void* p, int32 n) {
    if (failed_ || n <= 0) return;
    if (int64(len_) + n + 1 > 0x7FFFFFFF) {
      failed_ = true;
      return;
    }
    int32 need = len_ + n + 1;
    if (!h_ && need <= int32(sizeof small_)) {
      std::memcpy(small_ + len_, p, size_t(n));
    } else {
      if (!h_) {
        h_ = AZNewHandle(need * 2 > need ? need * 2 : need);
        if (!h_) {
          failed_ = true;
          return;
        }
        std::memcpy(*h_, small_, size_t(len_));
      } else if (AZGetHandleSize(h_) < need) {
        int32 grow = need <= 0x3FFFFFFF ? need * 2 : need;
        if (AZSetHandleSize(h_, grow)) {
          failed_ = true;
          return;
        }
      }
      std::memcpy(*h_ + len_, p, size_t(n));
    }
    len_ += n;
  }
  void Add(const char* s) { Add(s, int32(std::strlen(s))); }
  void AddP(ConstPStr p) { Add(p + 1, p[0]); }
  int32 Length() const { return len_; }
  // The text with a NUL, or null when memory ran out.
  const char* Text() {
    if (failed_) return nullptr;
    char* base = h_ ? reinterpret_cast<char*>(*h_) : small_;
    base[len_] = 0;
    return base;
  }

 private:
  char small_[300];
  UHandle h_ = nullptr;
  int32 len_ = 0;
  bool failed_ = false;
};

MgErr AddPathText(TextOut* out, Path p) {
  LStrHandle text = nullptr;
  MgErr err = FPathToAZString(p, &text);
  if (err) return err == kMemFullErr ? kCfgAllocErr : err;
  out->Add((*text)->str, (*text)->cnt);
  AZDisposeHandle(reinterpret_cast<UHandle>(text));
  return kNoErr;
}

MgErr WriteColor(uInt32 c, TextOut* out) {
  char buf[16];
  if (c == 0x1000000u) out->Add("transparent");
  else out->Add(buf, SPrintf(buf, "%06lx", c & 0xFFFFFFu));
  return kNoErr;
}

MgErr WriteFourInts(const int16* v, TextOut* out) {
  char buf[48];
  out->Add(buf, SPrintf(buf, "%d,%d,%d,%d", int32(v[0]), int32(v[1]), int32(v[2]), int32(v[3])));
  return kNoErr;
}

MgErr WriteString(UHandle h, TextOut* out) {
  if (!h || !*h || AZGetHandleSize(h) < 1 + (*h)[0]) return kArgErr;
  out->Add("\"");
  out->AddP(*h);
  out->Add("\"");
  return kNoErr;
}

MgErr WritePathList(UHandle list, TextOut* out) {
  if (!list || !*list || AZGetHandleSize(list) < 4) return kArgErr;
  int32 count;
  std::memcpy(&count, *list, 4);
  if (count < 0 || count > (AZGetHandleSize(list) - 4) / 4) return kArgErr;
  out->Add("\"");
  for (int32 i = 0; i < count; ++i) {
    int32 word;
    std::memcpy(&word, *list + 4 + 4 * i, 4);
    if (i > 0) out->Add(";");
    if (MgErr err = AddPathText(out, reinterpret_cast<Path>(intptr_t(word)))) return err;
  }
  out->Add("\"");
  return kNoErr;
}

MgErr WriteFont(int32 font, TextOut* out) {
  CfgFontInfoProc info = gFontInfo.load();
  if (!info) return kCapabilityErr;
  uChar name[256] = {0};
  int32 size = 0, style = 0, weight = 0;
  info(font, name, &size, &style, &weight);
  char buf[300];
  out->Add(buf, SPrintf(buf, "\"%p\" %d ", name, size));
  if (weight > 0) out->Add("B");
  if (style & 2) out->Add("I");
  if (style & 1) out->Add("S");
  if (style & 4) out->Add("U");
  if (style & 8) out->Add("O");
  return kNoErr;
}

MgErr WriteStringList(CPStrHandle h, TextOut* out) {
  if (!h || !*h) return kArgErr;
  int32 size = AZGetHandleSize(reinterpret_cast<UHandle>(h));
  if (size < 4) return kArgErr;
  int32 count = (*h)->cnt;
  if (count < 0) return kArgErr;
  out->Add("\"");
  int32 at = 4;
  for (int32 i = 0; i < count; ++i) {
    const uChar* base = reinterpret_cast<const uChar*>(*h);
    if (at >= size || at + 1 + base[at] > size) return kArgErr;
    if (i > 0) out->Add(";");
    out->Add(base + at + 1, base[at]);
    at += 1 + base[at];
  }
  out->Add("\"");
  return kNoErr;
}

MgErr WriteNumber(float32 v, TextOut* out) {
  char buf[64];
  out->Add(buf, SPrintf(buf, "%f", float64(v)));
  return kNoErr;
}

MgErr FormatKind(int32 kind, const void* value, TextOut* out) {
  switch (kind) {
    case kCfgColor: return WriteColor(*static_cast<const uInt32*>(value), out);
    case kCfgFourInts: return WriteFourInts(static_cast<const int16*>(value), out);
    case kCfgString: return WriteString(*static_cast<const UHandle*>(value), out);
    case kCfgBool: out->Add(*static_cast<const int32*>(value) ? "True" : "False"); return kNoErr;
    case kCfgInt: {
      char buf[16];
      out->Add(buf, SPrintf(buf, "%ld", *static_cast<const int32*>(value)));
      return kNoErr;
    }
    case kCfgPath: return AddPathText(out, *static_cast<const Path*>(value));
    case kCfgPathList: return WritePathList(*static_cast<const UHandle*>(value), out);
    case kCfgFont: return WriteFont(*static_cast<const int32*>(value), out);
    case kCfgStringList: return WriteStringList(*static_cast<const CPStrHandle*>(value), out);
    case kCfgNumber: return WriteNumber(*static_cast<const float32*>(value), out);
    default: return kCfgBadTypeErr;
  }
}

MgErr IniResultToMgErr(int32 r) {
  switch (r) {
    case kPlatIniOk: return kNoErr;
    case kPlatIniAccessDenied: return kFilePermErr;
    case kPlatIniBadArg: return kArgErr;
    default: return kFileIOErr;
  }
}

}  // namespace

// ---- choosing the file and the section

void CfgChooseFile(int32 argc, const char* const* argv) {
  std::lock_guard<std::mutex> g(gLock);
  const char* chosen = nullptr;
  for (int32 i = 0; argv && i < argc; ++i) {
    if (!argv[i] || std::strcmp(argv[i], "-pref") != 0 || i + 1 >= argc) continue;
    ++i;
    if (argv[i] && argv[i][0] && std::strlen(argv[i]) <= size_t(kMaxFileText)) chosen = argv[i];
  }
  if (!chosen) {
    ChooseDefaultLocked();
    return;
  }
  gChosen = true;
  std::strcpy(gFile, chosen);
}

void CfgSetSectionName(const char* name) {
  std::lock_guard<std::mutex> g(gLock);
  size_t n = name ? std::strlen(name) : 0;
  if (n > 255) n = 255;
  std::memcpy(gSection, name ? name : "", n);
  gSection[n] = 0;
}

std::string CfgFileText() {
  std::lock_guard<std::mutex> g(gLock);
  EnsureChosenLocked();
  return gFile;
}

void CfgSetFontProcs(CfgNewFontProc newFont, CfgFontInfoProc fontInfo) {
  gNewFont.store(newFont);
  gFontInfo.store(fontInfo);
}

// ---- reading and writing keys

MgErr CfgGetDefault(int32 kind, ConstPStr key, void* value) {
  if (kind < kCfgColor || kind > kCfgNumber) return kCfgBadTypeErr;
  char k[256];
  if (!value || !KeyText(key, k)) return kArgErr;
  FontSpec font;
  MgErr err;
  {
    std::lock_guard<std::mutex> g(gLock);
    char small[kSmallBufSize];
    const uChar* text = nullptr;
    int32 len = 0;
    err = ReadRawLocked(k, small, &text, &len);
    if (!err) err = ReadKind(kind, text, len, value, &font);
    TrimValueHandleLocked();
  }
  if (err || kind != kCfgFont) return err;
  // The font manager is called with no lock of this manager held.
  CfgNewFontProc newFont = gNewFont.load();
  if (!newFont) return kCapabilityErr;
  *static_cast<int32*>(value) = newFont(font.name, font.size, font.style, font.weight);
  return kNoErr;
}

Bool32 CfgKeyPresent(ConstPStr key) {
  char k[256];
  if (!KeyText(key, k)) return 0;
  std::string file, section;
  {
    std::lock_guard<std::mutex> g(gLock);
    EnsureChosenLocked();
    file = gFile;
    section = gSection;
  }
  if (file.empty()) return 0;
  // A missing key answers each default; a present one its value twice.
  char a[4], b[4];
  PlatIniRead(file.c_str(), section.c_str(), k, "a", a, sizeof a);
  PlatIniRead(file.c_str(), section.c_str(), k, "b", b, sizeof b);
  return std::strcmp(a, "a") != 0 || std::strcmp(b, "b") != 0 ? 1 : 0;
}

MgErr CfgWriteRaw(ConstPStr key, const char* text) {
  char k[256];
  if (!KeyText(key, k)) return kArgErr;
  std::string file, section;
  {
    std::lock_guard<std::mutex> g(gLock);
    EnsureChosenLocked();
    file = gFile;
    section = gSection;
  }
  if (file.empty()) return kFileIOErr;
  return IniResultToMgErr(PlatIniWrite(file.c_str(), section.c_str(), k, text));
}

MgErr CfgWrite(int32 kind, ConstPStr key, const void* value) {
  if (kind < kCfgColor || kind > kCfgNumber) return kCfgBadTypeErr;
  if (!key || !value) return kArgErr;
  TextOut out;
  if (MgErr err = FormatKind(kind, value, &out)) return err;
  const char* text = out.Text();
  if (!text) return kCfgAllocErr;
  // A NUL inside the text would end it early in the file, storing less than
  // was asked; it is refused like a line break, leaving the file as it was.
  if (std::memchr(text, 0, size_t(out.Length()))) return kArgErr;
  return CfgWriteRaw(key, text);
}

MgErr CfgRemove(int32 /*kind*/, ConstPStr key) { return CfgWriteRaw(key, nullptr); }

MgErr CfgGetPathDefault(ConstPStr key, Path* path, Path def) {
  if (!path) return kArgErr;
  Path p = nullptr;
  MgErr err = CfgGetDefault(kCfgPath, key, &p);
  if (err == kCfgAllocErr) return kMemFullErr;
  if (!err && FExists(p) == 2) {
    *path = p;
    return kNoErr;
  }
  if (p) FDisposePath(p);
  if (def && FExists(def) == 2) {
    Path copy = def;
    if (FPathToPath(&copy)) return kMemFullErr;
    *path = copy;
    return kNoErr;
  }
  // A key that read but names no folder has no error of its own: the folder
  // is not found.
  return err ? err : kFileNotFoundErr;
}
