// Every picture primitive behind one calling form, with the looks,
// directions, widths and states each one takes: the golden sheets draw each
// in all of them, the empty-rectangle test checks each one's text, and the
// fuzz target calls each with any arguments.
#pragma once
#include <vector>

#include "controls/picc.h"
#include "mgsource/rects.h"

namespace picctest {

struct Args {
  DColor fore, back;
  int32 looks, width, direction, state;
};

struct Call {
  const char* name;
  const char* emptyText;  // "" when it writes none
  void (*draw)(const Rect* r, const Args& a);
  const std::vector<int32>* looks;
  const std::vector<int32>* directions;
  const std::vector<int32>* widths;  // widths, shifts or swaps
  const std::vector<int32>* states;
  bool colourOnly;  // drawn on colour ports only
};

inline const std::vector<int32> kNone{0};
inline const std::vector<int32> kShapeLooks{0x1100, 0x2200, 0x4400, 0x8800, 0x102200, 0x101100};
inline const std::vector<int32> kLooks4{0x1100, 0x2200, 0x4400, 0x8800};
inline const std::vector<int32> kPushLooks{0x1100, 0x2100, 0x4100, 0x1200, 0x2200,
                                           0x4200, 0x1300, 0x2300, 0x4300};
inline const std::vector<int32> kPopupLooks{0x100, 0x200, 0x400, 0x800};
inline const std::vector<int32> kTagLooks{0x2200, 0x4400};
inline const std::vector<int32> kLineStyles{0, 0x100, 0x300, 0x900, 0xB00, 0x500, 0xD00};
inline const std::vector<int32> kDirs4{kPictLeft, kPictRight, kPictUp, kPictDown};
inline const std::vector<int32> kDirs6{kPictLeft, kPictRight, kPictUp, kPictDown, kPictHorizontal, kPictVertical};
inline const std::vector<int32> kDirsUD{kPictUp, kPictDown};
inline const std::vector<int32> kDirsLR{kPictLeft, kPictRight};
inline const std::vector<int32> kAxes{kPictHorizontal, kPictVertical};
inline const std::vector<int32> kGrooves{0, kPictHorizontal, kPictVertical};
inline const std::vector<int32> kWidths{1, 3};
inline const std::vector<int32> kWidth2{2};
inline const std::vector<int32> kShifts{2, 5};
inline const std::vector<int32> kSwaps{0, 1};
inline const std::vector<int32> kStates4{0, 1, 2, 3};
inline const std::vector<int32> kRingStates{0, 1};

// A line across the rectangle from its lower left to its upper right, its
// polygons mapped from their bounds onto the rectangle inset by 2.
inline void DrawLine(const Rect* r, const Args& a) {
  if (DEmptyRect(r)) return;
  LinePolys lp{};
  const Point p1{int16(r->bottom - 3), int16(r->left + 2)}, p2{int16(r->top + 2), int16(r->right - 3)};
  BuildLinePolys(kLineDraw, p1, p2, a.width, a.looks, &lp);
  Rect bounds{0, 0, 0, 0};
  LinePolysBounds(&lp, &bounds);
  Rect to = *r;
  DInsetRect(&to, 2, 2);
  MapLinePolys(&lp, &bounds, &to);
  PaintLinePolys(&lp);
}

inline const std::vector<Call>& Calls() {
  static const std::vector<Call> calls{
      {"DrawRect", "DrawRect empty rect",
       [](const Rect* r, const Args& a) { DrawRect(r, a.fore, a.back, a.looks, a.width, a.direction); }, &kShapeLooks,
       &kGrooves, &kWidths, &kNone, false},
      {"DrawGroove", "", [](const Rect* r, const Args& a) { DrawGroove(r, a.fore, a.back, a.looks, a.direction); },
       &kShapeLooks, &kAxes, &kNone, &kNone, false},
      {"DrawRectHLS", "DrawRect empty rect",
       [](const Rect* r, const Args& a) { DrawRectHLS(r, a.fore, a.back, a.looks, a.width, a.direction); }, &kNone,
       &kAxes, &kNone, &kNone, true},
      {"DrawGradient", "", [](const Rect* r, const Args& a) { DrawGradient(r, a.fore, a.back, a.direction, a.width); },
       &kNone, &kAxes, &kShifts, &kNone, false},
      {"ShadeCylinder", "",
       [](const Rect* r, const Args& a) { ShadeCylinder(r, a.back, a.fore, a.back, a.direction, a.width); }, &kNone,
       &kAxes, &kShifts, &kNone, false},
      {"DrawRectFrame", "DrawRectFrame empty rect",
       [](const Rect* r, const Args& a) { DrawRectFrame(r, a.fore, a.back, a.looks, a.width); }, &kShapeLooks, &kNone,
       &kWidths, &kNone, false},
      {"DrawOval", "DrawOval empty rect",
       [](const Rect* r, const Args& a) { DrawOval(r, a.fore, a.back, a.looks, a.width); }, &kShapeLooks, &kNone,
       &kWidths, &kNone, false},
      {"DrawOvalFrame", "DrawOvalFrame empty rect",
       [](const Rect* r, const Args& a) { DrawOvalFrame(r, a.fore, a.back, a.looks, a.width); }, &kShapeLooks, &kNone,
       &kWidths, &kNone, false},
      {"DrawHalfOval", "DrawHalfOval empty rect",
       [](const Rect* r, const Args& a) { DrawHalfOval(r, a.fore, a.back, a.looks, a.direction); }, &kLooks4, &kDirs4,
       &kNone, &kNone, false},
      {"DrawRndRect", "DrawRndRect empty rect",
       [](const Rect* r, const Args& a) { DrawRndRect(r, a.fore, a.back, a.looks, a.width); }, &kShapeLooks, &kNone,
       &kWidths, &kNone, false},
      {"DrawOblong", "DrawOblong empty rect",
       [](const Rect* r, const Args& a) { DrawOblong(r, a.fore, a.back, a.looks, a.width, a.direction); },
       &kShapeLooks, &kAxes, &kWidth2, &kNone, false},
      {"DrawKnob", "DrawKnob empty rect", [](const Rect* r, const Args& a) { DrawKnob(r, a.fore, a.back); }, &kNone,
       &kNone, &kNone, &kNone, false},
      {"MakeTri", "MakeTri empty rect",
       [](const Rect* r, const Args& a) {
         Point p[4];
         if (MakeTri(r, a.direction, p)) DrawTriangle(p, a.fore, a.back, a.looks, a.width);
       },
       &kLooks4, &kDirs4, &kSwaps, &kNone, false},
      {"MakeRightTri", "MakeRightTri empty rect",
       [](const Rect* r, const Args& a) {
         Point p[4];
         if (MakeRightTri(r, a.direction, p)) DrawTriangle(p, a.fore, a.back, a.looks, a.width);
       },
       &kLooks4, &kDirs4, &kSwaps, &kNone, false},
      {"DrawArrowTri", "MakeTri empty rect",
       [](const Rect* r, const Args& a) { DrawArrowTri(r, a.fore, a.back, a.looks, a.direction); }, &kLooks4, &kDirs4,
       &kNone, &kNone, false},
      {"DrawArrowRect", "DrawArrowRect empty rect",
       [](const Rect* r, const Args& a) { DrawArrowRect(r, a.fore, a.back, a.looks, a.direction); }, &kLooks4,
       &kDirs4, &kNone, &kNone, false},
      {"DrawCheckBox", "DrawCheckBox empty rect",
       [](const Rect* r, const Args& a) { DrawCheckBox(r, a.fore, a.back, a.looks); }, &kLooks4, &kNone, &kNone,
       &kNone, false},
      {"DrawUDSwitch", "DrawUDSwitch empty rect",
       [](const Rect* r, const Args& a) { DrawUDSwitch(r, a.fore, a.back, a.direction); }, &kNone, &kDirsUD, &kNone,
       &kNone, false},
      {"DrawLRSwitch", "DrawLRSwitch empty rect",
       [](const Rect* r, const Args& a) { DrawLRSwitch(r, a.fore, a.back, a.direction); }, &kNone, &kDirsLR, &kNone,
       &kNone, false},
      {"DrawToggle", "DrawToggle empty rect",
       [](const Rect* r, const Args& a) { DrawToggle(r, a.fore, a.back, a.direction); }, &kNone, &kDirs6, &kNone,
       &kNone, false},
      {"DrawSquarePush", "DrawSquarePush empty rect",
       [](const Rect* r, const Args& a) { DrawSquarePush(r, a.fore, a.back, a.looks & 0xF00, a.looks & 0xF000); },
       &kPushLooks, &kNone, &kNone, &kNone, false},
      {"DrawRoundPush", "DrawRoundPush empty rect",
       [](const Rect* r, const Args& a) { DrawRoundPush(r, a.fore, a.back, a.looks & 0xF00, a.looks & 0xF000); },
       &kPushLooks, &kNone, &kNone, &kNone, false},
      {"DrawUDSlider", "DrawUDSlider empty rect",
       [](const Rect* r, const Args& a) { DrawUDSlider(r, a.fore, a.back, a.direction, a.looks & 0xF000); },
       &kPushLooks, &kDirsUD, &kNone, &kNone, false},
      {"DrawLRSlider", "DrawLRSlider empty rect",
       [](const Rect* r, const Args& a) { DrawLRSlider(r, a.fore, a.back, a.direction, a.looks & 0xF000); },
       &kPushLooks, &kDirsLR, &kNone, &kNone, false},
      {"DrawRoundLED", "DrawRoundLED empty rect",
       [](const Rect* r, const Args& a) { DrawRoundLED(r, a.fore, a.back, a.looks); }, &kLooks4, &kNone, &kNone,
       &kNone, false},
      {"DrawSquareLED", "DrawSquareLED empty rect",
       [](const Rect* r, const Args& a) { DrawSquareLED(r, a.fore, a.back, a.looks); }, &kLooks4, &kNone, &kNone,
       &kNone, false},
      {"DrawLEDGlint", "", [](const Rect* r, const Args& a) { DrawLEDGlint(r, a.back, a.fore, a.looks); }, &kLooks4,
       &kNone, &kNone, &kNone, false},
      {"DrawLEDButt", "DrawLEDButt empty rect",
       [](const Rect* r, const Args& a) { DrawLEDButt(r, a.fore, a.back, a.looks); }, &kLooks4, &kNone, &kNone,
       &kNone, false},
      {"DrawRefNum", "DrawRefNum empty rect",
       [](const Rect* r, const Args& a) { DrawRefNum(r, a.fore, a.back, a.looks); }, &kLooks4, &kNone, &kNone, &kNone,
       false},
      {"DrawDocument", "DrawDocument empty rect",
       [](const Rect* r, const Args& a) { DrawDocument(r, a.fore, a.back, a.looks); }, &kLooks4, &kNone, &kNone,
       &kNone, false},
      {"DrawPathGlyph", "DrawPathGlyph empty rect",
       [](const Rect* r, const Args& a) { DrawPathGlyph(r, a.fore, a.back, a.looks); }, &kLooks4, &kNone, &kNone,
       &kNone, false},
      {"DrawTagGlyph", "DrawTagGlyph empty rect",
       [](const Rect* r, const Args& a) { DrawTagGlyph(r, a.fore, a.back, a.looks); }, &kTagLooks, &kNone, &kNone,
       &kNone, false},
      {"DrawDiamond", "", [](const Rect* r, const Args& a) { DrawDiamond(r, a.fore, a.back, a.looks); }, &kLooks4,
       &kNone, &kNone, &kNone, false},
      {"DrawDlgRadio", "Drawdlg radio empty rect", [](const Rect* r, const Args& a) { DrawDlgRadio(r, a.state); },
       &kNone, &kNone, &kNone, &kStates4, false},
      {"DrawDlgCheckBox", "", [](const Rect* r, const Args& a) { DrawDlgCheckBox(r, a.state); }, &kNone, &kNone,
       &kNone, &kStates4, false},
      {"DrawDlgButton", "", [](const Rect* r, const Args& a) { DrawDlgButton(r, a.state); }, &kNone, &kNone, &kNone,
       &kStates4, false},
      {"DrawDlgRing", "", [](const Rect* r, const Args& a) { DrawDlgRing(r, a.state); }, &kNone, &kNone, &kNone,
       &kRingStates, false},
      {"DrawPopupArrow", "", [](const Rect* r, const Args& a) { DrawPopupArrow(r, a.fore, a.back, a.looks); },
       &kPopupLooks, &kNone, &kNone, &kNone, false},
      {"BuildLinePolys", "", &DrawLine, &kLineStyles, &kNone, &kWidths, &kNone, false},
  };
  return calls;
}

}  // namespace picctest
