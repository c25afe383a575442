#include "prefs.h"

#include <atomic>

namespace {

constexpr int32 kDefaults[] = {
    0xB3B3B3,  // panel.background
    0x000000,  // execPalette.foreground
    0xEEEEEE,  // execPalette.background
    0xFFFF00,  // blinkFG
    0xFF0000,  // blinkBG
    1000,      // blinkSpeed
    1,         // checkAvailDiskSpace
    2000,      // warnMin
    500,       // abortMin
    1, 1, 1, 1, 1, 1, 1,  // flushDrawing .. useNewPrintHeader
    1,         // server.ole.enabled
    0,         // server.tcp.enabled
    3363,      // server.tcp.port
    1, 1, 1, 1,  // server.tcp.paranoid, server.vi.callsEnabled, .propertiesEnabled, server.app.propertiesEnabled
    1,         // viCaptionTipStrings
    1,         // updateSubVICtrlsFromIUseConsts
    1,         // activeX.freeThreaded
    0,         // tileUpDown
};
static_assert(sizeof kDefaults / sizeof kDefaults[0] == kPrefTileUpDown + 1, "the 27 defaults");

std::atomic<int32> gDefault[kPrefWordCount];
std::atomic<int32> gLive[kPrefWordCount];

struct DefaultsInit {
  DefaultsInit() {
    for (int32 i = 0; i < kPrefWordCount; ++i) {
      const int32 v = i <= kPrefTileUpDown ? kDefaults[i] : 0;
      gDefault[i].store(v);
      gLive[i].store(v);
    }
  }
} gInit;

bool Valid(int32 word) { return word >= 0 && word < kPrefWordCount; }

}  // namespace

int32 PrefDefault(int32 word) { return Valid(word) ? gDefault[word].load() : 0; }
void PrefSetDefault(int32 word, int32 value) {
  if (Valid(word)) gDefault[word].store(value);
}
void PrefResetToDefaults() {
  for (int32 i = 0; i < kPrefWordCount; ++i) gLive[i].store(i <= kPrefTileUpDown ? kDefaults[i] : 0);
  for (int32 i = 0; i < kPrefWordCount; ++i) gDefault[i].store(gLive[i].load());
}
int32 PrefGet(int32 word) { return Valid(word) ? gLive[word].load() : 0; }
void PrefSet(int32 word, int32 value) {
  if (Valid(word)) gLive[word].store(value);
}
