// The support manager's start-up, the random generator, version texts and
// shortcut files.
#include "support.h"

#include <cmath>
#include <cstring>
#include <string>

#include "datetime.h"
#include "debug.h"
#include "extmath.h"
#include "filemgr.h"
#include "memory.h"
#include "numconv.h"
#include "thread.h"
#include "platform/qx_charcase.h"
#include "platform/qx_process.h"
#include "platform/qx_shortcut.h"

namespace {

SupportConstants gConsts = {};
int32 gProcessNumber = 0;

// The generator's seeds, guarded by gRandomMutex once it exists.
ThMutex gRandomMutex = nullptr;
int32 gS1 = 1234, gS2 = 1234 * 8191 % 16384, gS3 = (1234 * 8191 % 16384) * 8191 % 16384;

LStrHandle NewLStr(const char* bytes, int32 n) {
  UHandle h = DSNewHandle(4 + n);
  if (!h) return nullptr;
  LStrHandle s = reinterpret_cast<LStrHandle>(h);
  (*s)->cnt = n;
  std::memcpy((*s)->str, bytes, size_t(n));
  return s;
}

template <typename T, typename B>
T FromBits(B bits) {
  static_assert(sizeof(T) == sizeof(B));
  T v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

MgErr MakeConstants() {
  SupportConstants& c = gConsts;
  if (!c.cr) c.cr = NewLStr("\r", 1);
  if (!c.lf) c.lf = NewLStr("\n", 1);
  if (!c.crlf) c.crlf = NewLStr("\r\n", 2);
  if (!c.tab) c.tab = NewLStr("\t", 1);
  if (!c.empty) c.empty = NewLStr("", 0);
  if (!c.emptyPath) c.emptyPath = FEmptyPath(nullptr);
  if (!c.notAPath) c.notAPath = FNotAPath(nullptr);
  if (!c.cr || !c.lf || !c.crlf || !c.tab || !c.empty || !c.emptyPath || !c.notAPath) return kMemFullErr;
  return kNoErr;
}

bool EndsWithLnk(const char* path, size_t n) { return n >= 4 && PlatSameNoCase(path + n - 4, 4, ".lnk", 4); }

char Digit(uInt32 nibble) { return char(nibble < 10 ? '0' + nibble : 'A' + nibble - 10); }

}  // namespace

MgErr SupportInit() {
  PlatSetLocaleFromEnvironment();
  gProcessNumber = PlatProcessId() % 10000;
  InitPowersOfTen();
  DateReadAMPM();
  if (MakeConstants()) return kMemFullErr;
  gConsts.sglPosInf = FromBits<float32>(uInt32(0x7F800000u));
  gConsts.sglNegInf = FromBits<float32>(uInt32(0xFF800000u));
  gConsts.dblPosInf = FromBits<float64>(uInt64(0x7FF0000000000000ull));
  gConsts.dblNegInf = FromBits<float64>(uInt64(0xFFF0000000000000ull));
  gConsts.dblNaN = FromBits<float64>(~uInt64(0));
  NumInitDecimalPt();
  int32 s1 = int32(MilliSecs() % 16384u);
  if (s1 == 0) s1 = 1234;
  int32 s2 = s1 * 8191 % 16384;
  int32 s3 = s2 * 8191 % 16384;
  RandomSetSeeds(s1, s2, s3);
  if (!gRandomMutex) {
    ThMutex m = nullptr;
    if (ThMutexCreate(&m, "RandomGen")) return kMemFullErr;
    gRandomMutex = m;
  }
  return kNoErr;
}

void SupportShutdown() {
  ThMutex m = gRandomMutex;
  gRandomMutex = nullptr;
  if (m) ThMutexDestroy(m);
}

const SupportConstants& SupportConsts() { return gConsts; }
int32 SupportProcessNumber() { return gProcessNumber; }

// ---- random numbers

void RandomSetSeeds(int32 s1, int32 s2, int32 s3) {
  ThMutexAcquire(gRandomMutex);
  gS1 = s1;
  gS2 = s2;
  gS3 = s3;
  ThMutexRelease(gRandomMutex);
}

void RandomGetSeeds(int32* s1, int32* s2, int32* s3) {
  ThMutexAcquire(gRandomMutex);
  if (s1) *s1 = gS1;
  if (s2) *s2 = gS2;
  if (s3) *s3 = gS3;
  ThMutexRelease(gRandomMutex);
}

void RandomGen(float64* x) {
  ThMutexAcquire(gRandomMutex);
  int32 s1 = gS1 = 171 * gS1 % 30269;
  int32 s2 = gS2 = 172 * gS2 % 30307;
  int32 s3 = gS3 = 170 * gS3 % 30323;
  ThMutexRelease(gRandomMutex);
  float64 sum = float64(s1) / 30269.0 + float64(s2) / 30307.0 + float64(s3) / 30323.0;
  float64 r = sum - std::floor(sum);
  if (r < 0) DBAssert(__FILE__, __LINE__, "random number below 0");
  if (x) *x = r;
}

// ---- version text

void VersToPStr(uInt32 v, PStr text) {
  if (!text) return;
  char out[16];
  int32 n = 0;
  uInt32 tens = v >> 28, units = (v >> 24) & 15, minor = (v >> 20) & 15, fix = (v >> 16) & 15;
  uInt32 stage = (v >> 8) & 0xFF, build = v & 0xFF;
  if (tens) out[n++] = Digit(tens);
  out[n++] = Digit(units);
  out[n++] = '.';
  out[n++] = Digit(minor);
  if (fix) {
    out[n++] = '.';
    out[n++] = Digit(fix);
  }
  char stageChar = stage == 0x20 ? 'd' : stage == 0x40 ? 'a' : stage == 0x60 ? 'b' : 0;
  if (stageChar) {
    out[n++] = stageChar;
    uInt32 bt = build >> 4, bu = build & 15;
    if (bt) out[n++] = Digit(bt);
    if (bt || bu) out[n++] = Digit(bu);
  }
  text[0] = uChar(n);
  std::memcpy(text + 1, out, size_t(n));
}

// ---- shortcuts

Bool32 FResolveShortcut(CStr path) {
  if (!path) return 0;
  size_t n = strnlen(path, kMaxHostTextLen + 1);
  if (n > size_t(kMaxHostTextLen) || !EndsWithLnk(path, n)) return 0;
  std::string target;
  if (!PlatReadShortcutLink(path, &target) || target.empty() || target.size() >= size_t(kMaxHostTextLen))
    return 0;
  std::memcpy(path, target.c_str(), target.size() + 1);
  return 1;
}

Bool32 FResolveShortcutsInPath(CStr path) {
  if (!path) return 0;
  size_t len = strnlen(path, kMaxHostTextLen + 1);
  if (len > size_t(kMaxHostTextLen)) return 0;
  std::string cur(path, len);
  char buf[kHostTextBufSize];
  bool changed = false;
  for (size_t pos = cur.find('\\'); pos != std::string::npos; pos = cur.find('\\', pos + 1)) {
    if (pos == 0 || pos >= size_t(kMaxHostTextLen)) continue;
    std::memcpy(buf, cur.data(), pos);
    buf[pos] = 0;
    if (!FResolveShortcut(buf)) continue;
    std::string target(buf);
    while (!target.empty() && target.back() == '\\') target.pop_back();
    cur = target + cur.substr(pos);
    pos = target.size();
    changed = true;
  }
  if (cur.size() < size_t(kMaxHostTextLen)) {
    std::memcpy(buf, cur.c_str(), cur.size() + 1);
    if (FResolveShortcut(buf)) {
      cur = buf;
      changed = true;
    }
  }
  if (!changed || cur.size() >= size_t(kMaxHostTextLen)) return 0;
  std::memcpy(path, cur.c_str(), cur.size() + 1);
  return 1;
}
