// Reads arbitrary bytes as a configuration file: every kind from a few keys,
// each value that reads written back and read again the same; the input's
// bytes written as a string value; and the last bytes as an application
// trailer.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mgsource/config.h"
#include "mgsource/config_internal.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/sorting.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

int32 NewFont(ConstPStr name, int32 size, int32 style, int32 weight) {
  Check(name && name[0] <= 255 && size >= 0 && size <= 65535 && style >= 0 && style <= 15 &&
        (weight == 0 || weight == 1000));
  return size * 16 + style + (weight ? 1 << 20 : 0);
}
void FontInfo(int32 font, PStr name, int32* size, int32* style, int32* weight) {
  std::memcpy(name, "\x04Sans", 5);
  *size = (font & 0xFFFFF) >> 4;
  *style = font & 15;
  *weight = font >> 20 ? 1000 : 0;
}

const uChar kKeys[][4] = {"\x01k", "\x01K", "\x02k1", "\x01x"};

void DisposePathList(UHandle list) {
  int32 n;
  std::memcpy(&n, *list, 4);
  for (; n > 0; --n) FDisposePath(reinterpret_cast<Path>(intptr_t(HObjListDelete(list, n - 1))));
  AZDisposeHandle(list);
}

// Reads key as kind; when it reads, writes it back and reads the same again.
void Exercise(int32 kind, ConstPStr key, bool writeBack) {
  union {
    uInt32 color;
    int16 ints[4];
    UHandle handle;
    int32 word;
    Path path;
    CPStrHandle strings;
    float32 number;
  } v, again;
  std::memset(&v, 0, sizeof v);
  std::memset(&again, 0, sizeof again);
  MgErr err = CfgGetDefault(kind, key, &v);
  if (kind < kCfgColor || kind > kCfgNumber) {
    Check(err == kCfgBadTypeErr);
    return;
  }
  Check(err == kNoErr || err == kCfgTokenNotFoundErr || err == kCfgParseErr);
  if (err == kNoErr && writeBack && CfgWrite(kind, key, &v) == kNoErr) {
    // An empty path writes an empty text, which reads as no value.
    MgErr back = CfgGetDefault(kind, key, &again);
    Check(back == kNoErr || (kind == kCfgPath && back == kCfgTokenNotFoundErr));
    switch (kind) {
      case kCfgColor: Check(again.color == (v.color == 0x1000000u ? v.color : v.color & 0xFFFFFF)); break;
      case kCfgFourInts: Check(std::memcmp(v.ints, again.ints, sizeof v.ints) == 0); break;
      case kCfgBool: case kCfgInt: case kCfgFont: Check(v.word == again.word); break;
      default: break;
    }
  }
  for (auto* u : {&v, &again}) {
    if (kind == kCfgString && u->handle) AZDisposeHandle(u->handle);
    if (kind == kCfgPath && u->path) FDisposePath(u->path);
    if (kind == kCfgPathList && u->handle) DisposePathList(u->handle);
    if (kind == kCfgStringList && u->strings) AZDisposeHandle(reinterpret_cast<UHandle>(u->strings));
  }
}

std::string Contents(const std::string& file) {
  std::string s;
  if (FILE* f = std::fopen(file.c_str(), "rb")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
    std::fclose(f);
  }
  return s;
}

// Writes the bytes as a string value: one holding a NUL or a line break is
// refused and leaves the file byte for byte; any other reads back the same.
void WriteRawString(const std::string& file, const uint8_t* data, size_t size) {
  size_t n = size > 255 ? 255 : size;
  UHandle h = AZNewHandle(int32(n) + 1);
  if (!h) return;
  (*h)[0] = uChar(n);
  std::memcpy(*h + 1, data, n);
  bool bad = std::memchr(data, 0, n) || std::memchr(data, '\r', n) || std::memchr(data, '\n', n);
  std::string before = Contents(file);
  MgErr err = CfgWrite(kCfgString, kKeys[2], &h);
  if (bad) {
    Check(err == kArgErr);
    Check(Contents(file) == before);
  } else if (err == kNoErr) {
    UHandle back = nullptr;
    Check(CfgGetDefault(kCfgString, kKeys[2], &back) == kNoErr);
    Check(back && (*back)[0] == n && std::memcmp(*back + 1, data, n) == 0);
    AZDisposeHandle(back);
  }
  AZDisposeHandle(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = MemInit() == kNoErr;
  // In memory where the host has it: the writes sync the file.
  static struct File {
    std::string name = access("/dev/shm", W_OK) == 0 ? "/dev/shm/qxcfgfuzzXXXXXX" : "/tmp/qxcfgfuzzXXXXXX";
    File() {
      int fd = mkstemp(name.data());
      if (fd >= 0) close(fd);
    }
    ~File() { unlink(name.c_str()); }
  } tmp;
  const std::string& file = tmp.name;
  if (!started) return 0;
  CfgSetFontProcs(NewFont, FontInfo);
  const char* args[] = {"fuzz", "-pref", file.c_str()};
  CfgChooseFile(3, args);
  CfgSetSectionName("Quenlix");

  // The trailer checks on the last bytes, whatever their count.
  size_t tail = size < 24 ? size : 24;
  const uChar* t = data + size - tail;
  MgErr valid = AppTrailerCheck(t, int32(tail));
  Bool32 built = AppTrailerIsBuilt(t, int32(tail));
  Check(!built || valid == kNoErr);
  Check(valid != kNoErr || (tail == 20 && std::memcmp(t, "APPB", 4) == 0));

  FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  bool writeBack = size > 0 && (data[0] & 1);
  for (int32 kind = -1; kind <= 10; ++kind)
    for (const uChar* key : kKeys) Exercise(kind, key, writeBack && key == kKeys[0]);
  if (writeBack) WriteRawString(file, data + 1, size - 1);
  return 0;
}
