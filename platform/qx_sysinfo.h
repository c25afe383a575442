// System values of the host: the version the system reports, metrics of the
// screen and of the elements the system draws itself, the double-click time
// and the system colours.
//
// There is one screen and its work area is the whole of it (the work area of
// qx_window.h); the host offers no multi-monitor functions, so the callers'
// single-screen answers apply.  The values never change while the process
// runs.
#pragma once
#include <cstdint>

// The version the system reports: 4.0 of the NT line.
struct PlatVersion {
  int32_t major;
  int32_t minor;
  bool isNT;
};
PlatVersion PlatGetVersion();

// Metrics, in pixels unless said otherwise.
enum PlatMetric : int32_t {
  kPlatMetricScreenWidth = 0,
  kPlatMetricScreenHeight = 1,
  kPlatMetricVScrollWidth = 2,       // width of a vertical scroll bar
  kPlatMetricHScrollHeight = 3,      // height of a horizontal scroll bar
  kPlatMetricVScrollArrow = 4,       // height of a vertical scroll bar's arrow
  kPlatMetricHScrollArrow = 5,       // width of a horizontal scroll bar's arrow
  kPlatMetricVirtualLeft = 6,        // the box around all screens
  kPlatMetricVirtualTop = 7,
  kPlatMetricVirtualWidth = 8,
  kPlatMetricVirtualHeight = 9,
  kPlatMetricMonitors = 10,          // a count
  kPlatMetricSameDisplayFormat = 11, // 1: every screen has the same format
  kPlatMetricScreenDepth = 12,       // bits a pixel
  kPlatMetricMenuHeight = 13,        // height of a menu bar the system draws
  kPlatMetricSizeBoxWidth = 14,      // the size box in a window's corner
  kPlatMetricSizeBoxHeight = 15,
  kPlatMetricCount = 16,
};
// 0 for an unknown metric.
int32_t PlatGetSystemMetric(int32_t metric);

// The longest time between two clicks of a double click, in milliseconds.
uint32_t PlatGetDoubleClickTime();

// The system colours the system draws its own elements with.
enum PlatSysColour : int32_t {
  kPlatColourButtonFace = 0,
  kPlatColourMenu = 1,
  kPlatColourScrollBar = 2,
  kPlatColourButtonShadow = 3,
  kPlatColourGreyText = 4,
  kPlatColourHighlight = 5,
  kPlatColourButtonHighlight = 6,
  kPlatColourWindow = 7,
  kPlatColourHighlightText = 8,
  kPlatColourButtonText = 9,
  kPlatColourWindowText = 10,
  kPlatColourWindowFrame = 11,
  kPlatColourMenuText = 12,
  kPlatColourCount = 13,
};
// The colour as 0x00BBGGRR (red in the low byte); 0 (black) for an unknown
// index.
uint32_t PlatGetSysColour(int32_t index);
// The same colour as 0x00RRGGBB, the order of surface pixels and DColor.
uint32_t PlatSysColourRgb(int32_t index);
