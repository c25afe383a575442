#include "qx_sysinfo.h"

#include "qx_display.h"

namespace {

// Scroll bars and their arrows are 16 pixels across.
constexpr int32_t kScrollBar = 16;
constexpr int32_t kMenuBar = 20;
constexpr uint32_t kDoubleClickMs = 500;
// Surfaces hold 32-bit pixels.
constexpr int32_t kScreenDepth = 32;

// The colours, as red, green, blue (0x00RRGGBB), by PlatSysColour.
constexpr uint32_t kColours[kPlatColourCount] = {
    0xC0C0C0,  // button face
    0xC0C0C0,  // menu
    0xC0C0C0,  // scroll bar
    0x808080,  // button shadow
    0x808080,  // grey text
    0x000080,  // highlight: dark blue
    0xFFFFFF,  // button highlight
    0xFFFFFF,  // window
    0xFFFFFF,  // highlight text
    0x000000,  // button text
    0x000000,  // window text
    0x000000,  // window frame
    0x000000,  // menu text
};

}  // namespace

PlatVersion PlatGetVersion() { return PlatVersion{4, 0, true}; }

int32_t PlatGetSystemMetric(int32_t metric) {
  const PlatDisplay* screen = PlatGetDisplay();
  switch (metric) {
    case kPlatMetricScreenWidth:
    case kPlatMetricVirtualWidth: return screen->Width();
    case kPlatMetricScreenHeight:
    case kPlatMetricVirtualHeight: return screen->Height();
    case kPlatMetricVScrollWidth:
    case kPlatMetricHScrollHeight:
    case kPlatMetricVScrollArrow:
    case kPlatMetricHScrollArrow:
    // The size box fills the corner where the two scroll bars meet.
    case kPlatMetricSizeBoxWidth:
    case kPlatMetricSizeBoxHeight: return kScrollBar;
    case kPlatMetricVirtualLeft:
    case kPlatMetricVirtualTop: return 0;
    case kPlatMetricMonitors:
    case kPlatMetricSameDisplayFormat: return 1;
    case kPlatMetricScreenDepth: return kScreenDepth;
    case kPlatMetricMenuHeight: return kMenuBar;
    default: return 0;
  }
}

uint32_t PlatGetDoubleClickTime() { return kDoubleClickMs; }

uint32_t PlatSysColourRgb(int32_t index) {
  return index >= 0 && index < kPlatColourCount ? kColours[index] : 0;
}

uint32_t PlatGetSysColour(int32_t index) {
  const uint32_t rgb = PlatSysColourRgb(index);
  return (rgb & 0xFF) << 16 | (rgb & 0xFF00) | rgb >> 16;
}
