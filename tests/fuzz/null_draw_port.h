// A drawing port that keeps nothing, for the graph targets' immediate
// redraws: every drawing call succeeds and leaves no trace.  Whether it
// passes for the screen is the target's choice (FuzzScreenPort).
#pragma once
#include "mgsource/draw/dport.h"

inline bool& FuzzScreenPort() {
  static bool screen = true;
  return screen;
}

inline const DPort* FuzzNullDrawPort() {
  static DPort p = [] {
    DPort q = gNullPort;
    q.getDepth = [] { return int32(32); };
    q.isBW = [] { return int32(0); };
    q.isScreenPort = [] { return int32(FuzzScreenPort()); };
    q.selectNormPen = [](DColor, DColor) { return int32(0); };
    q.selectPen = [](int32, DColor, DColor) { return int32(0); };
    q.frameRect = [](const Rect*) { return int32(0); };
    q.paintRect = [](const Rect*) { return int32(0); };
    q.setClip = [](const Rect*) { return int32(0); };
    q.setPixel = [](int32, int32) { return int32(0); };
    q.moveTo = [](int32, int32) { return int32(0); };
    q.lineTo = [](int32, int32) { return int32(0); };
    q.mhLineTo = [](int32, int32, Bool32) { return int32(0); };
    q.polyLine = [](const Point*, int32) { return int32(0); };
    q.frameOval = [](const Rect*) { return int32(0); };
    q.paintOval = [](const Rect*) { return int32(0); };
    q.scrollRect = [](const Rect*, int32, int32, Bool32, DColor, DColor) { return int32(0); };
    q.bounds = [](Rect* r) {
      *r = Rect{0, 0, 0, 0};
      return int32(0);
    };
    return q;
  }();
  return &p;
}
