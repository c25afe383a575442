// Stored access lists as the configuration file gives them: listed as the
// preferences show them, with their glyphs, and stored back.  The listing
// stays inside the handle whatever the count and lengths say, and a round
// trip keeps every entry it accepted.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "shell/prefdlg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers();
  (void)started;
  if (size < 1 || size > 1 << 14) return 0;
  const bool tcp = data[0] & 1;
  UHandle h = AZNewHandle(int32(size - 1));
  if (!h) return 0;
  if (size > 1) std::memcpy(*h, data + 1, size - 1);
  CPStrHandle stored = reinterpret_cast<CPStrHandle>(h);
  const auto items = PrefListAccess(stored, tcp);
  if (items.empty()) __builtin_trap();
  CPStrHandle back = PrefStoreAccess(items);
  if (back) {
    const auto again = PrefListAccess(back, tcp);
    size_t kept = 0;
    for (const auto& it : items) kept += it.text.empty() ? 0 : 1;
    if (kept && again.size() != kept) __builtin_trap();
    for (size_t i = 0, j = 0; kept && i < items.size(); ++i) {
      if (items[i].text.empty()) continue;
      if (again[j].text != items[i].text || PrefGlyphAllows(again[j].glyph) != PrefGlyphAllows(items[i].glyph))
        __builtin_trap();
      ++j;
    }
    AZDisposeHandle(reinterpret_cast<UHandle>(back));
  }
  AZDisposeHandle(h);
  return 0;
}
