// Drives a cookie jar with arbitrary operations and arbitrary 32-bit values
// and checks every answer against a model of the live cookies.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "mgsource/cookie.h"
#include "mgsource/memory.h"

namespace {
void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool Same(const std::vector<uChar>& a, const std::vector<uChar>& b, int32 n) {
  return n == 0 || std::memcmp(a.data(), b.data(), size_t(n)) == 0;
}

uint32_t Word(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = MemInit() == kNoErr;
  if (!started || size < 1) return 0;
  const int32 infoSize = data[0] % 41;
  CookieJar jar = MCNewBigJar(infoSize);
  if (!jar) return 0;
  std::map<Cookie, std::vector<uChar>> live;
  std::vector<uChar> info(size_t(infoSize) + 1), out(size_t(infoSize) + 1);
  auto Fill = [&](uint32_t seed) {
    for (int32 i = 0; i < infoSize; ++i) info[size_t(i)] = uChar(seed >> (i % 4 * 8)) ^ uChar(i);
  };
  auto Pick = [&](uint32_t v) {
    auto it = live.begin();
    std::advance(it, long(v % live.size()));
    return it->first;
  };

  for (size_t pos = 1; pos + 5 <= size; pos += 5) {
    uint32_t v = Word(data + pos + 1);
    switch (data[pos] % 7) {
      case 0: {  // a few new cookies
        for (uint32_t k = 0; k < 1 + (v >> 28); ++k) {
          Fill(v + k);
          Cookie c = MCNewCookie(jar, info.data());
          Check(c != 0 && (c >> 16) != 0 && !live.count(c));
          Check(MCCookieIndex(jar, c) == int32(c & 0xFFFF));
          live[c].assign(info.begin(), info.begin() + infoSize);
        }
        break;
      }
      case 1: {  // dispose a live one
        if (live.empty()) break;
        Cookie c = Pick(v);
        Check(MCDisposeCookie(jar, c, out.data()) == kNoErr);
        Check(Same(out, live[c], infoSize));
        live.erase(c);
        Check(!MCIsACookie(jar, c));
        break;
      }
      case 2: {  // look up any value
        bool isLive = live.count(v) != 0;
        Check(MCIsACookie(jar, v) == (isLive ? 1 : 0));
        void* p = &out;
        Check(MCGetCookieInfoPtr(jar, v, &p) == (isLive ? kNoErr : kArgErr));
        Check(isLive ? p != nullptr : p == nullptr);
        Check(MCGetCookieInfo(jar, v, out.data()) == (isLive ? kNoErr : kArgErr));
        if (isLive) Check(Same(out, live[v], infoSize));
        break;
      }
      case 3: {  // dispose any value
        bool isLive = live.count(v) != 0;
        Check(MCDisposeCookie(jar, v, nullptr) == (isLive ? kNoErr : kArgErr));
        live.erase(v);
        break;
      }
      case 4: {  // overwrite the information of a live one
        if (live.empty()) break;
        Cookie c = Pick(v);
        Fill(~v);
        Check(MCSetCookieInfo(jar, c, info.data()) == kNoErr);
        live[c].assign(info.begin(), info.begin() + infoSize);
        break;
      }
      case 5: {  // a live cookie with its sequence changed is no cookie
        if (live.empty()) break;
        Cookie c = Pick(v) ^ ((v | 1) << 16);
        Check(MCIsACookie(jar, c) == (live.count(c) ? 1 : 0));
        break;
      }
      case 6: {  // size and list
        int32 n = -1;
        Check(MCJarSize(jar, &n) == kNoErr && n == int32(live.size()));
        UHandle h = nullptr;
        Check(MCGetCookieList(jar, &h) == kNoErr);
        int32 count;
        std::memcpy(&count, *h, 4);
        Check(count == n);
        int32 prevIndex = -1;
        for (int32 i = 0; i < count; ++i) {
          Cookie c;
          std::memcpy(&c, *h + 4 + 4 * i, 4);
          Check(live.count(c) && int32(c & 0xFFFF) > prevIndex);
          prevIndex = int32(c & 0xFFFF);
        }
        AZDisposeHandle(h);
        break;
      }
    }
  }
  MCDisposeJar(jar);
  return 0;
}
