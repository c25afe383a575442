// Colours as the drawing calls take them: 0x00RRGGBB, with one value above
// every colour for "transparent" (nothing is drawn in it).
#pragma once
#include "mgsource/extcode.h"

typedef uInt32 DColor;
constexpr DColor kTransparentColor = 0x1000000;
constexpr DColor kBlackColor = 0x000000;
constexpr DColor kWhiteColor = 0xFFFFFF;
