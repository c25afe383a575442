#include <gtest/gtest.h>

#include "mgsource/rects.h"

namespace {
Rect R(int top, int left, int bottom, int right) {
  Rect r;
  r.top = int16(top);
  r.left = int16(left);
  r.bottom = int16(bottom);
  r.right = int16(right);
  return r;
}
Point P(int v, int h) {
  Point p;
  p.v = int16(v);
  p.h = int16(h);
  return p;
}
::testing::AssertionResult Is(const Rect& r, int top, int left, int bottom, int right) {
  if (r.top == top && r.left == left && r.bottom == bottom && r.right == right) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << r.top << ", " << r.left << ", " << r.bottom << ", " << r.right
                                       << ") expected (" << top << ", " << left << ", " << bottom << ", " << right
                                       << ")";
}
}  // namespace

TEST(RectBasics, SetSizeAndCentre) {
  Rect r;
  DSetRect(&r, 1, 2, 11, 22);  // left, top, right, bottom
  EXPECT_TRUE(Is(r, 2, 1, 22, 11));
  EXPECT_EQ(RectWidth(&r), 10);
  EXPECT_EQ(RectHeight(&r), 20);
  DSetRectCtr(&r, 10, 10, 5, 7);
  EXPECT_TRUE(Is(r, 7, 8, 14, 13));
  DSetRectCtr(&r, 0, 0, -5, -3);  // halves by arithmetic shift: -5 >> 1 is -3
  EXPECT_TRUE(Is(r, 2, 3, -1, -2));
  Point c;
  RectCentroid(&r, &c);
  EXPECT_EQ(c.v, 0);  // (2 + -1) >> 1
  EXPECT_EQ(c.h, 0);
  Rect odd = R(-3, -3, 0, 0);
  RectCentroid(&odd, &c);
  EXPECT_EQ(c.v, -2);  // -3 >> 1 floors
  LRect l;
  LSetRect(&l, -100000, 5, 200000, 7);
  EXPECT_EQ(LRectWidth(&l), 300000);
  EXPECT_EQ(LRectHeight(&l), 2);
}

TEST(RectBasics, PointArithmeticAndOffsets) {
  Point q = P(10, 20);
  DAddPt(P(1, 2), &q);
  EXPECT_EQ(q.v, 11);
  EXPECT_EQ(q.h, 22);
  DSubPt(P(11, 2), &q);
  EXPECT_EQ(q.v, 0);
  EXPECT_EQ(q.h, 20);
  Rect r = R(0, 0, 10, 20);
  DInsetRect(&r, 2, 3);
  EXPECT_TRUE(Is(r, 3, 2, 7, 18));
  DOffsetRect(&r, -2, 10);
  EXPECT_TRUE(Is(r, 13, 0, 17, 16));
  Rect a = R(1, 2, 3, 4);
  DAddRect(&a, &r);
  EXPECT_TRUE(Is(r, 14, 2, 20, 20));
  DSubRect(&a, &r);
  EXPECT_TRUE(Is(r, 13, 0, 17, 16));
  Rect c = R(0, 0, 0, 0);
  ScaleRect(&a, &r, &c);
  EXPECT_TRUE(Is(c, 12, -2, 14, 12));
  LRect l = {0, 0, 5, 5};
  LOffsetRect(&l, 100000, -7);
  EXPECT_EQ(l.left, 100000);
  EXPECT_EQ(l.top, -7);
  EXPECT_EQ(l.bottom, -2);
}

TEST(RectBasics, EmptyEqualAndInside) {
  Rect r = R(0, 0, 10, 10);
  EXPECT_FALSE(DEmptyRect(&r));
  Rect flat = R(5, 0, 5, 10);
  EXPECT_TRUE(DEmptyRect(&flat));
  Rect inverted = R(0, 10, 10, 0);
  EXPECT_TRUE(DEmptyRect(&inverted));
  Rect same = r;
  EXPECT_TRUE(DEqualRect(&r, &same));
  same.right = 11;
  EXPECT_FALSE(DEqualRect(&r, &same));
  EXPECT_TRUE(DPtInRect(P(0, 0), &r));
  EXPECT_TRUE(DPtInRect(P(9, 9), &r));
  EXPECT_FALSE(DPtInRect(P(10, 5), &r));  // bottom and right lie outside
  EXPECT_FALSE(DPtInRect(P(5, 10), &r));
  Rect inner = R(2, 2, 10, 10);
  EXPECT_TRUE(DRectInRect(&inner, &r));
  EXPECT_FALSE(DRectInRect(&r, &inner));
  LRect la = {0, 0, 4, 4}, lb = {0, 0, 4, 4};
  EXPECT_TRUE(LEqualRect(&la, &lb));
  lb.top = 4;
  EXPECT_TRUE(LEmptyRect(&lb));
}

TEST(RectBasics, SectionNormalisesAnEmptyResult) {
  Rect a = R(0, 0, 10, 10), b = R(5, 5, 20, 20), out;
  EXPECT_TRUE(DSectRect(&a, &b, &out));
  EXPECT_TRUE(Is(out, 5, 5, 10, 10));
  Rect far = R(30, 40, 50, 60);
  EXPECT_FALSE(DSectRect(&a, &far, &out));
  EXPECT_TRUE(Is(out, 30, 40, 30, 40));  // right raised to left, bottom to top
  Rect touching = R(10, 0, 20, 10);
  EXPECT_FALSE(DSectRect(&a, &touching, nullptr));
  // The output may be one of the inputs.
  EXPECT_TRUE(DSectRect(&a, &b, &b));
  EXPECT_TRUE(Is(b, 5, 5, 10, 10));
  LRect la = {0, 0, 100000, 100000}, lb = {200000, 0, 300000, 5}, lo;
  EXPECT_FALSE(LSectRect(&la, &lb, &lo));
  EXPECT_EQ(lo.top, 200000);
  EXPECT_EQ(lo.bottom, 200000);
  EXPECT_EQ(lo.right, 5);
}

TEST(RectBasics, UnionWithEmptyRectangles) {
  Rect a = R(0, 0, 10, 10), b = R(5, 5, 20, 30);
  DUnionRect(&a, &b);
  EXPECT_TRUE(Is(b, 0, 0, 20, 30));
  Rect empty = R(0, 0, 0, 0);
  DUnionRect(&a, &empty);
  EXPECT_TRUE(Is(empty, 0, 0, 10, 10));
  Rect emptyA = R(100, 100, 50, 50);
  Rect c = R(1, 1, 2, 2);
  DUnionRect(&emptyA, &c);
  EXPECT_TRUE(Is(c, 1, 1, 2, 2));
}

TEST(RectPoints, PinSpanAndGrow) {
  Rect r = R(0, 0, 10, 20);
  Point out;
  DPinRect(P(-5, 25), &r, &out);
  EXPECT_EQ(out.v, 0);
  EXPECT_EQ(out.h, 19);
  DPinRect(P(50, 5), &r, &out);
  EXPECT_EQ(out.v, 9);
  EXPECT_EQ(out.h, 5);
  Rect s;
  DPt2Rect(P(10, 1), P(2, 7), &s);
  EXPECT_TRUE(Is(s, 2, 1, 10, 7));
  DPtAndRect(P(-3, 30), &r);
  EXPECT_TRUE(Is(r, -3, 0, 10, 30));
  DPtAndRect(P(5, 5), &r);
  EXPECT_TRUE(Is(r, -3, 0, 10, 30));
}

TEST(RectPoints, XYDistFromEachSide) {
  Rect r = R(10, 10, 20, 20);
  EXPECT_EQ(XYDist(P(15, 15), &r), 0);
  EXPECT_EQ(XYDist(P(15, 5), &r), 5);
  EXPECT_EQ(XYDist(P(15, 20), &r), 1);  // the right edge itself is one away
  EXPECT_EQ(XYDist(P(25, 25), &r), 12);
  EXPECT_EQ(XYDist(P(0, 0), &r), 20);
}

TEST(RectPlacement, PinRectInRect) {
  Rect outer = R(0, 0, 100, 100);
  Rect r = R(-10, -5, 10, 15);
  PinRectInRect(&outer, &r);
  EXPECT_TRUE(Is(r, 0, 0, 20, 20));
  r = R(90, 95, 110, 115);
  PinRectInRect(&outer, &r);
  EXPECT_TRUE(Is(r, 80, 80, 100, 100));
  // Larger than the bounds: the left and top edges win.
  r = R(10, 10, 210, 210);
  PinRectInRect(&outer, &r);
  EXPECT_TRUE(Is(r, 0, 0, 200, 200));
  r = R(-50, -50, 150, 150);
  PinRectInRect(&outer, &r);
  EXPECT_TRUE(Is(r, 0, 0, 200, 200));
}

TEST(RectPlacement, CenterRect) {
  Rect r = R(10, 20, 15, 27);  // height 5, width 7
  CenterRect(&r);
  EXPECT_TRUE(Is(r, -2, -3, 3, 4));
}

TEST(RectPlacement, RectSharedCornerAllAnswers) {
  Rect b = R(0, 0, 10, 10);
  Rect tl = R(0, 0, 5, 5), bl = R(5, 0, 10, 5), br = R(5, 5, 10, 10), tr = R(0, 5, 5, 10), none = R(2, 2, 8, 8);
  EXPECT_EQ(RectSharedCorner(&tl, &b), 0);
  EXPECT_EQ(RectSharedCorner(&bl, &b), 3);
  EXPECT_EQ(RectSharedCorner(&br, &b), 2);
  EXPECT_EQ(RectSharedCorner(&tr, &b), 1);
  EXPECT_EQ(RectSharedCorner(&none, &b), -1);
  EXPECT_EQ(RectSharedCorner(nullptr, &b), -1);
  EXPECT_EQ(RectSharedCorner(&b, nullptr), -1);
  EXPECT_EQ(RectSharedCorner(&b, &b), 0);  // tested in order: top-left first
}

TEST(RectPlacement, FitRectInRectKeepsTheRatio) {
  Rect b = R(0, 0, 100, 100), out;
  Rect small = R(0, 0, 10, 20);
  FitRectInRect(&small, &b, &out);
  EXPECT_TRUE(Is(out, 45, 40, 55, 60));  // centred, unscaled
  Rect wide = R(0, 0, 50, 400);  // 8 times as wide as high
  FitRectInRect(&wide, &b, &out);
  EXPECT_EQ(RectWidth(&out), 100);
  EXPECT_EQ(RectHeight(&out), 12);
  EXPECT_EQ(out.left, 0);
  EXPECT_EQ(out.top, 44);
  Rect tall = R(0, 0, 1000, 10);
  FitRectInRect(&tall, &b, &out);
  EXPECT_EQ(RectHeight(&out), 100);
  EXPECT_EQ(RectWidth(&out), 2);  // 1 by the ratio, at least 2
  Rect line = R(0, 0, 0, 1000);
  FitRectInRect(&line, &b, &out);
  EXPECT_EQ(RectWidth(&out), 100);
  EXPECT_EQ(RectHeight(&out), 2);
  Rect zeroB = R(10, 10, 10, 10);
  FitRectInRect(&small, &zeroB, &out);  // nothing to divide by: no trap
  EXPECT_EQ(RectWidth(&out), 2);
  EXPECT_EQ(RectHeight(&out), 2);
}

TEST(RectPlacement, LongRectConversions) {
  Rect r = R(-1, 2, -3, 4);
  LRect l;
  RectToLRect(&r, &l);
  EXPECT_EQ(l.top, -1);
  EXPECT_EQ(l.bottom, -3);
  l.right = 0x12345;  // only the low half is kept
  LRectToRect(&l, &r);
  EXPECT_EQ(r.right, 0x2345);
  EXPECT_EQ(r.top, -1);
}

// The cell of RCShift as a point.
Point Cell(Point p, const Rect& r) { return WordToPoint(RCShift(p, &r)); }

TEST(RectGrid, RCShiftFloors) {
  Rect r = R(10, 20, 20, 40);  // cells 10 high, 20 wide
  struct Case {
    int v, h, row, col;
  } cases[] = {
      {9, 19, -1, -1},  // one pixel above and left of the top-left corner
      {10, 20, 0, 0},   {19, 39, 0, 0},  {20, 40, 1, 1},   {35, 100, 2, 4},
      {-11, -1, -3, -2}, {0, 0, -1, -1}, {-32768, 32767, -3278, 1637},
  };
  for (const Case& c : cases) {
    Point cell = Cell(P(c.v, c.h), r);
    EXPECT_EQ(cell.v, c.row) << c.v << "," << c.h;
    EXPECT_EQ(cell.h, c.col) << c.v << "," << c.h;
  }
}

TEST(RectGrid, RCShiftOfAZeroSizeAxisIsZero) {
  Point cell = Cell(P(500, 45), R(10, 20, 10, 40));
  EXPECT_EQ(cell.v, 0);
  EXPECT_EQ(cell.h, 1);
  cell = Cell(P(-7, 9), R(0, 0, 0, 0));
  EXPECT_EQ(cell.v, 0);
  EXPECT_EQ(cell.h, 0);
}

TEST(RectGrid, PointWordRoundTrip) {
  const int16 values[] = {0, 1, -1, 0x7FFF, -0x8000, 0x1234};
  for (int16 v : values)
    for (int16 h : values) {
      int32 w = PointToWord(P(v, h));
      EXPECT_EQ(uInt32(w) & 0xFFFF, uInt16(v));
      EXPECT_EQ(uInt32(w) >> 16, uInt16(h));
      Point back = WordToPoint(w);
      EXPECT_EQ(back.v, v);
      EXPECT_EQ(back.h, h);
    }
}

// Compiled code pushes the rectangle's address and the point word, calls
// through the run-time table and takes the cell from EAX; nothing else is
// pushed and the caller pops its two arguments.
TEST(RectGrid, RCShiftAnswersInEaxAsCompiledCodeCallsIt) {
  Rect r = R(10, 20, 20, 40);
  int32 pointWord = PointToWord(P(-11, 100));
  void* fn = reinterpret_cast<void*>(&RCShift);
  int32 eax;
  asm volatile(
      "pushl %[rect]\n\t"
      "pushl %[pt]\n\t"
      "call *%[fn]\n\t"
      "addl $8, %%esp"
      : "=a"(eax)
      : [rect] "r"(&r), [pt] "r"(pointWord), [fn] "r"(fn)
      : "ecx", "edx", "memory", "cc");
  Point cell = WordToPoint(eax);
  EXPECT_EQ(cell.v, -3);
  EXPECT_EQ(cell.h, 4);
}

TEST(RectMapping, DMapPtScalesAndPins) {
  Rect from = R(0, 0, 100, 100), to = R(0, 0, 200, 100);
  Point p = P(30, 30);
  DMapPt(&p, &from, &to);
  EXPECT_EQ(p.v, 60);
  EXPECT_EQ(p.h, 30);
  p = P(10000, 0);
  DMapPt(&p, &from, &to);
  EXPECT_EQ(p.v, 15000);
  p = P(-10000, -20000);
  DMapPt(&p, &from, &to);
  EXPECT_EQ(p.v, -15000);
  EXPECT_EQ(p.h, -15000);
  // Truncated toward zero on both sides.
  Rect third = R(0, 0, 3, 3), one = R(0, 0, 1, 1);
  p = P(-2, 2);
  DMapPt(&p, &third, &one);
  EXPECT_EQ(p.v, 0);
  EXPECT_EQ(p.h, 0);
  // Offsets of both rectangles.
  Rect f2 = R(10, 10, 20, 20), t2 = R(100, 200, 120, 240);
  p = P(15, 12);
  DMapPt(&p, &f2, &t2);
  EXPECT_EQ(p.v, 110);
  EXPECT_EQ(p.h, 208);
  // No destination: unchanged.
  p = P(3, 4);
  DMapPt(&p, &from, nullptr);
  EXPECT_EQ(p.v, 3);
  EXPECT_EQ(p.h, 4);
}

TEST(RectMapping, DMapPtWideProductPinsWithoutOverflow) {
  Rect from = R(-32000, 0, 32000, 10), to = R(-30000, 0, 30000, 10);
  Point p = P(32000, 5);
  DMapPt(&p, &from, &to);  // (64,000 x 60,000) passes 2^31
  EXPECT_EQ(p.v, 15000);
  EXPECT_EQ(p.h, 5);
  p = P(-32000, 5);
  DMapPt(&p, &from, &to);
  EXPECT_EQ(p.v, -15000);
}

TEST(RectMapping, ZeroSizeSourceLeavesThatCoordinate) {
  Rect flat = R(5, 0, 5, 10), to = R(0, 0, 100, 100);
  Point p = P(7, 3);
  DMapPt(&p, &flat, &to);
  EXPECT_EQ(p.v, 7);
  EXPECT_EQ(p.h, 30);
  Rect r = R(1, 1, 9, 9);
  DMapRect(&r, &flat, &to);
  EXPECT_TRUE(Is(r, 1, 10, 9, 90));
}

TEST(RectMapping, DMapRectKeepsAPixel) {
  Rect from = R(0, 0, 1000, 1000), to = R(0, 0, 10, 10);
  Rect r = R(500, 500, 505, 520);
  DMapRect(&r, &from, &to);
  EXPECT_TRUE(Is(r, 5, 5, 6, 6));  // height 0 by the scale, kept at 1
  Rect line = R(500, 500, 500, 900);  // no height: stays without
  DMapRect(&line, &from, &to);
  EXPECT_TRUE(Is(line, 5, 5, 5, 9));
  // At the pinning limit the pixel is kept inside it.
  Rect big = R(0, 0, 1, 1), huge = R(0, 0, 30000, 30000);
  Rect edge = R(1, 1, 2, 2);
  DMapRect(&edge, &big, &huge);
  EXPECT_EQ(edge.top, 14999);
  EXPECT_EQ(edge.bottom, 15000);
  // An inverted destination keeps the pixel on its side.
  Rect flipped = R(10, 0, 0, 10);
  Rect s = R(500, 500, 505, 505);
  DMapRect(&s, &from, &flipped);
  EXPECT_EQ(s.top, 5);
  EXPECT_EQ(s.bottom, 4);
}
