#include "cfgwords.h"

#include <array>
#include <bit>

namespace {

constexpr int32 Float(float32 f) { return std::bit_cast<int32>(f); }

constexpr std::array<int32, kCfgWordCount> kDefaults = {
    0,                                   // debugging
    -15, 0, 1, 2, 15,                    // thread priorities, background .. time critical
    0,                                   // HardWaitTimeCritical
    0,                                   // useLocaleDecimalPt
    Float(1.05f), Float(1.3f),           // font multipliers
    0, 0, 1, 1, 0, 0, 0,                 // print flags (PostScript level 2 and colour printing on)
    Float(0.f), Float(0.f), Float(0.f), Float(0.f),  // margins
    0,                                   // CheckWindowsQueueMsgTime
    0,                                   // useTaskBar
    0,                                   // hideRootWindow
    1,                                   // RegisterExtensions
};
static_assert(kDefaults[kCfgWordCount - 1] == 1, "one default per word, the last RegisterExtensions");

// Constant-initialised: the words hold their defaults before any start-up.
std::array<int32, kCfgWordCount> gLive = kDefaults;

bool Valid(int32 word) { return word >= 0 && word < kCfgWordCount; }

}  // namespace

void CfgLoadDefaultWords() {
  gLive = kDefaults;
}

int32* CfgWordPtr(int32 word) { return Valid(word) ? &gLive[word] : nullptr; }
int32 CfgWordGet(int32 word) { return Valid(word) ? gLive[word] : 0; }
float32 CfgWordFloat(int32 word) { return std::bit_cast<float32>(CfgWordGet(word)); }
void CfgWordSet(int32 word, int32 value) {
  if (Valid(word)) gLive[word] = value;
}
int32 CfgWordDefault(int32 word) { return Valid(word) ? kDefaults[word] : 0; }
