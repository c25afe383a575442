#include "tools/stripwriter.h"
#include "tools/helpwriter.h"

#include <algorithm>
#include <initializer_list>

#include "mgsource/byteorder.h"
#include "mgsource/fourcc.h"
#include "tools/appbuild.h"

namespace qxbuild {

namespace {

constexpr int32 kCells = 48, kCellWidth = 20;
constexpr int16 kStripWidth = int16((kCells - 1) / 10 * 21 + kCellWidth), kStripHeight = 10 * 19;
constexpr uInt32 kBlack = 0x000000, kWhite = 0xFFFFFF, kGrey = 0x999999, kRed = 0xCC0000, kGreen = 0x009900,
                 kYellow = 0xFFDD00, kFace = 0xDDDDDD;

enum Glyph {
  kArrow, kArrowBar, kArrowBox, kBroken, kLoop, kWarn, kCross, kCheck, kUpDown, kStepInto, kStepOver, kStepOut,
  kPause, kBox, kOval, kOctagon, kLines, kSkip,
};
struct Cell {
  Glyph glyph;
  uInt32 fill;
};
// The glyph of each cell: run states, continuous run, warnings, cancel and
// confirm, the steps, pause, the records, layout, highlighting and abort.
constexpr Cell kCellGlyphs[kCells] = {
    {kArrow, kWhite}, {kArrow, kBlack}, {kArrowBox, kWhite}, {kArrowBox, kBlack},        // 0-3
    {kBroken, kGrey}, {kArrow, kRed}, {kLoop, kWhite}, {kLoop, kBlack},                  // 4-7
    {kWarn, kYellow}, {kCross, kRed}, {kCheck, kGreen}, {kUpDown, kBlack},               // 8-11
    {kStepInto, kWhite}, {kStepOver, kWhite}, {kStepOut, kWhite}, {kArrow, kGrey},       // 12-15
    {kPause, kWhite}, {kPause, kRed}, {kCross, kRed}, {kArrow, kWhite},                  // 16-19
    {kArrowBar, kWhite}, {kCross, kBlack}, {kBox, kWhite}, {kBox, kGrey},                // 20-23
    {kOval, kWhite}, {kUpDown, kWhite}, {kLines, kBlack}, {kLines, kGrey},               // 24-27
    {kBox, kYellow}, {kBox, kGreen}, {kOval, kYellow}, {kOval, kGrey},                   // 28-31
    {kOval, kWhite}, {kOval, kYellow}, {kOctagon, kRed}, {kCheck, kBlack},               // 32-35
    {kLoop, kGrey}, {kBroken, kRed}, {kBox, kBlack}, {kBox, kRed},                       // 36-39
    {kLines, kWhite}, {kBox, kWhite}, {kBox, kBlack}, {kPause, kBlack},                  // 40-43
    {kArrowBar, kBlack}, {kSkip, kWhite}, {kStepOut, kBlack}, {kArrowBar, kGrey},        // 44-47
};

struct P {
  int h, v;
};

class Records {
 public:
  void Pen(uInt32 colour) {
    // Black and white: white stays white, every other colour is black.
    Head(1, 8);
    U32(colour), U32(colour == kWhite ? kWhite : kBlack);
  }
  void Paint(int left, int top, int right, int bottom) {
    Head(10, 8);
    U16(top), U16(left), U16(bottom), U16(right);
  }
  // A closed polygon filled, then outlined in black.
  void Poly(std::initializer_list<P> pts, uInt32 fill) {
    const int n = int(pts.size());
    Pen(fill);
    Head(17, 4 * n + 12);
    U32(uInt32(n)), U32(0);
    for (const P& p : pts) Pt(p);
    Pt(*pts.begin());
    Pen(kBlack);
    Head(16, 4 * n + 8);
    U32(uInt32(n));
    for (const P& p : pts) Pt(p);
    Pt(*pts.begin());
  }
  void Line(P a, P b) {
    Head(6, 4), Pt(a);
    Head(8, 4), Pt(b);
  }
  rsrcw::Bytes bytes;

 private:
  void Head(int op, int size) { U16(op), U32(uInt32(size)); }
  void U16(int v) { bytes.push_back(uChar(v >> 8)), bytes.push_back(uChar(v)); }
  void U32(uInt32 v) { U16(int(v >> 16)), U16(int(v & 0xFFFF)); }
  void Pt(P p) { U16(oy_ + p.v), U16(ox_ + p.h); }

 public:
  int ox_ = 0, oy_ = 0;  // the cell's top-left corner
};

void DrawCell(Records& r, const Cell& c) {
  const uInt32 f = c.fill;
  switch (c.glyph) {
    case kArrow: r.Poly({{4, 3}, {16, 9}, {4, 15}}, f); break;
    case kArrowBar: r.Poly({{3, 4}, {5, 4}, {5, 14}, {3, 14}}, kBlack), r.Poly({{7, 3}, {17, 9}, {7, 15}}, f); break;
    case kArrowBox:
      r.Poly({{3, 3}, {13, 9}, {3, 15}}, f), r.Poly({{12, 11}, {17, 11}, {17, 16}, {12, 16}}, kWhite);
      break;
    case kBroken:
      r.Poly({{4, 3}, {16, 9}, {4, 15}}, f);
      r.Pen(kBlack), r.Line({9, 4}, {7, 9}), r.Line({7, 9}, {10, 14});
      break;
    case kLoop: r.Poly({{3, 3}, {10, 6}, {3, 9}}, f), r.Poly({{17, 10}, {10, 13}, {17, 16}}, f); break;
    case kWarn:
      r.Poly({{10, 2}, {17, 16}, {3, 16}}, f);
      r.Pen(kBlack), r.Line({10, 6}, {10, 11}), r.Line({10, 13}, {10, 14});
      break;
    case kCross:
      r.Pen(f);
      for (int d = 0; d < 2; ++d) r.Line({4 + d, 4}, {15 + d, 14}), r.Line({15 + d, 4}, {4 + d, 14});
      break;
    case kCheck:
      r.Pen(f);
      for (int d = 0; d < 2; ++d) r.Line({4, 9 + d}, {8, 13 + d}), r.Line({8, 13 + d}, {16, 4 + d});
      break;
    case kUpDown: r.Poly({{13, 2}, {18, 8}, {8, 8}}, f), r.Poly({{8, 10}, {18, 10}, {13, 16}}, f); break;
    case kStepInto: r.Poly({{7, 2}, {13, 2}, {13, 8}, {16, 8}, {10, 14}, {4, 8}, {7, 8}}, f); break;
    case kStepOver:
      r.Poly({{3, 13}, {17, 13}, {17, 16}, {3, 16}}, kGrey);
      r.Poly({{3, 7}, {12, 7}, {12, 3}, {17, 9}, {12, 11}, {3, 11}}, f);
      break;
    case kStepOut: r.Poly({{10, 2}, {16, 8}, {13, 8}, {13, 15}, {7, 15}, {7, 8}, {4, 8}}, f); break;
    case kPause:
      r.Poly({{5, 4}, {8, 4}, {8, 15}, {5, 15}}, f), r.Poly({{12, 4}, {15, 4}, {15, 15}, {12, 15}}, f);
      break;
    case kBox: r.Poly({{4, 3}, {16, 3}, {16, 15}, {4, 15}}, f); break;
    case kOval: r.Poly({{7, 2}, {13, 2}, {16, 6}, {16, 10}, {12, 14}, {8, 14}, {4, 10}, {4, 6}}, f); break;
    case kOctagon: r.Poly({{7, 2}, {13, 2}, {17, 6}, {17, 12}, {13, 16}, {7, 16}, {3, 12}, {3, 6}}, f); break;
    case kLines:
      r.Pen(f);
      for (int v = 4; v <= 14; v += 5) r.Line({4, v}, {16, v});
      break;
    case kSkip: r.Poly({{3, 4}, {5, 4}, {5, 14}, {3, 14}}, kBlack), r.Poly({{16, 3}, {6, 9}, {16, 15}}, f); break;
  }
}

// The bounds, depth and pen-count header of a picture, then its records.
rsrcw::Bytes PictureResource(const Records& r, int16 height, int16 width, bool blackAndWhite) {
  rsrcw::Bytes out(16 + r.bytes.size(), 0);
  PutBE16(&out[4], uInt16(height));
  PutBE16(&out[6], uInt16(width));
  PutBE16(&out[8], blackAndWhite ? 1 : 8);
  PutBE32(&out[12], uInt32(r.bytes.size()));
  std::copy(r.bytes.begin(), r.bytes.end(), out.begin() + 16);
  return out;
}

}  // namespace

rsrcw::Bytes HelpDefaultPicture(bool blackAndWhite) {
  constexpr int16 kSide = 64;
  Records r;
  r.Pen(kWhite);
  r.Paint(0, 0, kSide, kSide);
  r.Pen(blackAndWhite ? kBlack : kGrey);
  r.Line({2, 2}, {kSide - 3, 2}), r.Line({kSide - 3, 2}, {kSide - 3, kSide - 3});
  r.Line({kSide - 3, kSide - 3}, {2, kSide - 3}), r.Line({2, kSide - 3}, {2, 2});
  // The question mark: a hook and a dot.
  r.Poly({{20, 18}, {26, 12}, {38, 12}, {44, 18}, {44, 26}, {35, 33}, {35, 40}, {29, 40}, {29, 31}, {38, 24},
          {38, 19}, {26, 19}, {26, 22}, {20, 22}},
         blackAndWhite ? kBlack : kYellow);
  r.Poly({{29, 45}, {35, 45}, {35, 51}, {29, 51}}, blackAndWhite ? kBlack : kYellow);
  return PictureResource(r, kSide, kSide, blackAndWhite);
}

rsrcw::Bytes ToolBarStrip(bool blackAndWhite) {
  Records r;
  r.Pen(blackAndWhite ? kWhite : kFace);
  r.Paint(0, 0, kStripWidth, kStripHeight);
  for (int32 c = 0; c < kCells; ++c) {
    r.ox_ = c / 10 * 21, r.oy_ = c % 10 * 19;
    DrawCell(r, kCellGlyphs[c]);
  }
  return PictureResource(r, kStripHeight, kStripWidth, blackAndWhite);
}

void AddHelpResources(rsrcw::Writer* writer) {
  writer->Add(rsrcfmt::kTypeStrList, 30001,
              rsrcw::StrList({"qxhelp.hlp", "qxdiag.hlp", "qxinstio.hlp", "qxcomm.hlp", "qxdiag.hlp"}),
              std::string("help files"));
  writer->Add(rsrcfmt::kTypeStrList, 11116, rsrcw::StrList({"", "", "", "", "Online Help"}), std::string("help tips"));
  writer->Add(rsrcfmt::kTypeStrList, 12001, rsrcw::StrList({"Key Navigation"}), std::string("help titles"));
  writer->Add(rsrcfmt::kTypeStrList, 11110,
              rsrcw::StrList({"<Return>", "<Escape>", "<Home>", "<End>", "<PageUp>", "<PageDown>", "<Clear>"}),
              std::string("key names"));
  const std::string none = "No description available.";
  writer->Add(rsrcfmt::kTypeString, 2025, rsrcw::BytesOf(char(none.size()) + none));
  writer->Add(FourCC("DSIM"), 30020, HelpDefaultPicture(false));
  writer->Add(FourCC("DSIM"), 30021, HelpDefaultPicture(true));
  // The online-help button: a framed book, filled when the target has
  // online help, hollow when it has none.
  static const auto frame = +[](int x, int y) { return x == 4 || x == 27 || y == 4 || y == 27 || x == 15; };
  static const auto filled = +[](int x, int y) { return x >= 4 && x <= 27 && y >= 4 && y <= 27; };
  static const auto hollow = +[](int x, int y) { return x == 4 || x == 27 || y == 4 || y == 27; };
  for (const auto& r : IconFamilyResources(frame, filled, 9, 216)) writer->Add(r.first, 7018, r.second);
  for (const auto& r : IconFamilyResources(frame, hollow, 7, 43)) writer->Add(r.first, 7019, r.second);
}

rsrcw::Bytes LaunchPicture(bool blackAndWhite) {
  constexpr int16 kWidth = 240, kHeight = 120;
  Records r;
  r.Pen(kWhite);
  r.Paint(0, 0, kWidth, kHeight);
  // A flow of three boxes joined by arrows: the engine's mark.
  const uInt32 fills[3] = {blackAndWhite ? kWhite : kYellow, blackAndWhite ? kWhite : kGreen,
                           blackAndWhite ? kWhite : kRed};
  for (int i = 0; i < 3; ++i) {
    const int left = 10 + 80 * i;
    r.Poly({{left, 30}, {left + 60, 30}, {left + 60, 90}, {left, 90}}, fills[i]);
    if (i < 2) r.Poly({{left + 62, 55}, {left + 76, 60}, {left + 62, 65}}, kBlack);
  }
  return PictureResource(r, kHeight, kWidth, blackAndWhite);
}

void AddToolBarStrips(rsrcw::Writer* writer) {
  writer->Add(FourCC("DSIM"), 6000, ToolBarStrip(false));
  writer->Add(FourCC("DSIM"), 6001, ToolBarStrip(true));
}

}  // namespace qxbuild
