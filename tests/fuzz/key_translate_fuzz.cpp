// Key, character and mouse messages at random through the translation of
// host input: every event made is a key or idle event whose key code the
// table or the character rules give, no virtual key reads outside the key
// table, and every click counts as a single, double or triple click.
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"
#include "mgsource/window/winproc.h"
#include "platform/qx_input.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_window.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "key_translate_fuzz: %s\n", what);
    std::abort();
  }
}

// Cooks what was injected, so that the key state follows it.
void Drain() {
  PlatMsg m;
  while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) {
  }
}

const uint32_t kStateKeys[] = {kPlatVkShift, kPlatVkControl, kPlatVkAlt, kPlatVkCapital};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    // The first window makes this thread the one that takes input.
    PlatCreateWindow(nullptr, "fuzz", 0, 0, PlatRect{0, 0, 10, 10}, 0);
    WBuildKeyTable();
    return true;
  }();
  (void)ready;
  FuzzReader in{data, size};
  uint32_t time = 1000;
  while (in.n) {
    const uint8_t op = in.Byte() % 5;
    WEventRecord e{};
    switch (op) {
      case 0: {  // a key message, virtual keys up to 511
        const uint32_t vk = in.Byte() | uint32_t(in.Byte() & 1) << 8;
        const PlatLParam lParam = PlatLParam(int32_t(in.Word()));
        if (WTranslateKeyDown(lParam, vk, &e)) {
          Check(e.code == 4 || e.code == 6, "a key message makes a key or idle event");
          Check(vk < 256, "a key the layer does not have made an event");
          if (e.code == 6) {
            Check(e.keyCode >= 1 && e.keyCode <= 36, "a key code outside the table's");
            Check(e.character >= 0 && e.character < 256, "a character outside a byte");
          }
        }
        break;
      }
      case 1: {  // a character message
        const uint32_t c = in.Word();
        const PlatLParam lParam = PlatLParam(int32_t(in.Word()));
        if (WTranslateChar(lParam, c, &e)) {
          Check(e.code == 6 || e.code == 7, "a character makes a key event");
          Check(e.keyCode == 27 || (e.keyCode == 2 && e.character == 0), "a character's key code");
          Check(e.character >= 0 && e.character < 256, "a character outside a byte");
        }
        break;
      }
      case 2: {  // a click
        time += in.Byte() * 4;
        const Point p{int16_t(int8_t(in.Byte()) / 32), int16_t(int8_t(in.Byte()) / 32)};
        const int32_t bits = WClickCount(time, p, 1 + (in.Byte() & 1));
        Check(bits == 0x40 || bits == 0x80 || bits == 0x180, "click bits");
        break;
      }
      case 3: {  // a modifier key pressed or let go
        const uint8_t b = in.Byte();
        PlatInjectKey(kStateKeys[b & 3], (b & 4) != 0, ++time);
        Drain();
        break;
      }
      default: {  // a mouse button pressed or let go
        const uint8_t b = in.Byte();
        PlatInjectMouseButton(b % 3, (b & 4) != 0, 5, 5, ++time);
        Drain();
        break;
      }
    }
    const WModifiers m = WGetModifiers();
    Check((m & ~0x677) == 0, "modifier bits");
  }
  return 0;
}
