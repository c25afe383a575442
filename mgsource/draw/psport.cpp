// The PostScript port's slots, the page cycle of the spool file, scaled
// sections, the clip update and the colour command.
#include "mgsource/draw/psport.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "mgsource/debug.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/psport_internal.h"
#include "mgsource/memory.h"
#include "platform/qx_file.h"
#include "platform/qx_printdc.h"

PSContext gPSContext{};

namespace {

PSPrinter gPrinter{0, nullptr, 1};
MgErr gError = kNoErr;

// The page being written: its image, spool file and print record.
struct Page {
  int32 image;
  FileRef file;
  UHandle record;
  int32 depth;
};
Page gPage{};

// Output is gathered here and written to the spool file in large pieces.
// The first failed write marks the page: nothing more is written and the
// page is not sent.
constexpr int32 kSpoolBuffer = 16384;
char gBuf[kSpoolBuffer];
int32 gUsed = 0;
bool gWriteFailed = false;

// The print record's fields read here (host order in memory).
constexpr int32 kPRPagePoints = 24;   // Rect
constexpr int32 kPRScale = 32;        // f32, printer pixels per point
constexpr int32 kPRBorderTop = 92;    // f32 inches
constexpr int32 kPRBorderLeft = 96;   // f32 inches
constexpr int32 kPRSize = 128;

bool HasRecord() { return gPage.record && *gPage.record && AZGetHandleSize(gPage.record) >= kPRSize; }

void BindPage(int32 image) {
  gPage = Page{};
  if (IKindOf(image) != kImagePage) return;
  const ImageEntry e = IEntryOf(image);
  UHandle info = reinterpret_cast<UHandle>(uintptr_t(e.data));
  if (!info || !*info) return;
  PageInfo pi;
  std::memcpy(&pi, *info, sizeof pi);
  gPage.image = image;
  gPage.file = reinterpret_cast<FileRef>(uintptr_t(pi.spoolFile));
  gPage.record = reinterpret_cast<UHandle>(uintptr_t(pi.printRecord));
  gPage.depth = int32(pi.depth);
}

void FlushSpool() {
  if (!gUsed) return;
  const int32 n = gUsed;
  gUsed = 0;
  if (gWriteFailed) return;
  int32 actual = 0;
  const MgErr err = gPage.file ? FMWrite(gPage.file, n, &actual, gBuf) : kArgErr;
  if (err != kNoErr || actual != n) {
    gWriteFailed = true;
    DBPrintf("PSWriteLine: FMWrite err=%ld", long(err ? err : kPSPrintErr));
    PSSetJobError(kPSPrintErr);
  }
}

// Writes the start of a page: the spool file cut to nothing, the printer's
// page started (unless it is open already: a restart goes on on the same
// printer page) and the prolog.  False when the file's size can't be read.
bool StartPage(bool printerPage = true) {
  gUsed = 0;
  gWriteFailed = false;
  int32 size = 0;
  if (!gPage.file || FGetEOF(gPage.file, &size) != kNoErr) {
    DBPrintf("PSFlushFileToPrinter: FGetEOF error");
    PSSetJobError(kPSPrintErr);
    return false;
  }
  if (size > 0) {
    FMSeek(gPage.file, 0, kFStart);
    FSetEOF(gPage.file, 0);
  }
  PlatSetLastError(0);
  if (printerPage && PlatStartPage(gPrinter.dc) < 1 && PlatLastError() != 0) PSSetJobError(kPSDriverErr);
  PSWritePrologue(gPage.image);
  return true;
}

const char* const kPatternNames[8] = {"graypatd",  "ltgraypatd",  "dkgraypatd",  "diag44patd",
                                      "diag22patd", "diag53patd", "diagX53patd", "selectpatd"};
const uChar kPatterns[8][8] = {
    {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55}, {0x88, 0x22, 0x88, 0x22, 0x88, 0x22, 0x88, 0x22},
    {0x77, 0xDD, 0x77, 0xDD, 0x77, 0xDD, 0x77, 0xDD}, {0xF0, 0xE1, 0xC3, 0x87, 0x0F, 0x1E, 0x3C, 0x78},
    {0xCC, 0x99, 0x33, 0x66, 0xCC, 0x99, 0x33, 0x66}, {0xF1, 0xE3, 0xC7, 0x8F, 0x1F, 0x3E, 0x7C, 0xF8},
    {0x09, 0x12, 0x24, 0x48, 0x90, 0x21, 0x42, 0x84}, {0x33, 0x55, 0xAA, 0xCC, 0x33, 0x55, 0xAA, 0xCC},
};

PSContext& C() { return gPSContext; }

int32 HalfWidthTimes2() { return C().currentPen ? C().writtenWidth : 1; }
float32 HalfWidth() { return float32(HalfWidthTimes2()) / 2.0f; }

void MoveTo(int32 h, int32 v) {
  gPSPort.penH = int16(h);
  gPSPort.penV = int16(v);
}

void WriteOut(PSLine& o) {
  o.S("\r");
  PSWriteBytes(o.Data(), o.Size());
}

// The fillpat line's tail: the rectangle and the pattern operands.
void FillPat(PSLine& o, int32 l, int32 t, int32 r, int32 b) {
  o.I(l).C(' ').I(t).C(' ').I(r).C(' ').I(b).C(' ').S(C().patternOps).S(" fillpat");
}

}  // namespace

// ---- shared with the text writer

void PSSetJobError(MgErr err) {
  gError = err;
  if (gPrinter.jobError) *gPrinter.jobError = err;
}

void PSWriteBytes(const char* bytes, int32 n) {
  if (n <= 0 || gWriteFailed) return;
  if (gUsed + n > kSpoolBuffer) FlushSpool();
  if (n > kSpoolBuffer) {
    std::memcpy(gBuf, bytes, size_t(kSpoolBuffer));
    gUsed = kSpoolBuffer;
    FlushSpool();
    PSWriteBytes(bytes + kSpoolBuffer, n - kSpoolBuffer);
    return;
  }
  std::memcpy(gBuf + gUsed, bytes, size_t(n));
  gUsed += n;
}

PSLine& PSLine::I(long v) {
  char tmp[16];
  int32 k = 0;
  unsigned long u = v < 0 ? 0ul - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
  do {
    tmp[k++] = char('0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0) tmp[k++] = '-';
  if (n_ + k > kCap) return *this;
  while (k) b_[n_++] = tmp[--k];
  return *this;
}

PSLine& PSLine::F(double v, int32 decimals) {
  char tmp[48];
  int32 k = std::snprintf(tmp, sizeof tmp, "%.*f", int(decimals), v);
  if (k <= 0 || k >= int32(sizeof tmp)) return *this;
  // Whatever the locale, the decimal separator written is a point.
  for (int32 i = 0; i < k; ++i)
    if (tmp[i] == ',') tmp[i] = '.';
  return Raw(tmp, k);
}

PSLine& PSLine::Raw(const char* s, int32 k) {
  if (k > kCap - n_) k = kCap - n_;
  if (k > 0) std::memcpy(b_ + n_, s, size_t(k));
  if (k > 0) n_ += k;
  return *this;
}

PSLine& PSLine::S(const char* s) { return Raw(s, int32(std::strlen(s))); }

void PSColour(PSLine& o, DColor c, bool withOperator) {
  if (c == kBlackColor || c == kWhiteColor) {
    o.S(c == kBlackColor ? "0 " : "1 ");
    if (withOperator) o.S("setgray ");
    return;
  }
  o.F(double((c >> 16) & 0xFF) / 255.0, 4).C(' ');
  o.F(double((c >> 8) & 0xFF) / 255.0, 4).C(' ');
  o.F(double(c & 0xFF) / 255.0, 4).C(' ');
  if (withOperator) o.S("setrgbcolor ");
}

void PSClipUpdate() {
  Rect& w = gPSPort.writtenClip;
  const Rect c = gPSPort.clip;
  if (std::memcmp(&w, &c, sizeof(Rect)) == 0) return;
  PSLine o;
  const bool inside = w.right > w.left && w.bottom > w.top && c.left >= w.left && c.top >= w.top &&
                      c.right <= w.right && c.bottom <= w.bottom;
  if (!inside) o.S("initclip ");
  o.I(c.left).C(' ').I(c.top).C(' ').I(c.right).C(' ').I(c.bottom).S(" rect clip");
  WriteOut(o);
  w = c;
}

void PSForgetPenAndClip() {
  C().currentPen = 0;
  gPSPort.writtenClip = Rect{0, 0, 0, 0};
}

// ---- the printer and the job error

void PSSetPrinter(const PSPrinter* printer) { gPrinter = printer ? *printer : PSPrinter{0, nullptr, 1}; }
MgErr PSJobError() { return gError; }
void PSClearJobError() { gError = kNoErr; }
Bool32 PSWindowsNT() { return gPrinter.windowsNT; }

// ---- page cycle

void PSWriteLine(const char* line) {
  if (line) PSWriteBytes(line, int32(std::strlen(line)));
}

void PSOpenPage(int32 image) {
  BindPage(image);
  C().sectionActive = 0;
  C().currentPen = 0;
  C().pattern = 0;
  StartPage();
}

void PSClosePage(int32 image) {
  if (image != gPage.image) BindPage(image);
  PSClose(gPage.file, 0);
  PlatSetLastError(0);
  if (PlatEndPage(gPrinter.dc) <= 0 && PlatLastError() != 0) PSSetJobError(kPSDriverErr);
}

namespace {

// Sends the spool file to the printer in pass-through chunks (a 16-bit byte
// count, then the bytes).  The chunk buffer is the call's own, so jobs on
// other threads never share it.
void PSFlushFileToPrinter() {
  int32 size = 0;
  if (!gPage.file || FGetEOF(gPage.file, &size) != kNoErr || FMSeek(gPage.file, 0, kFStart) != kNoErr) {
    DBPrintf("PSFlushFileToPrinter: FGetEOF &/or FMSeek error");
    PSSetJobError(kPSPrintErr);
    return;
  }
  if (size <= 0) return;
  std::vector<uChar> chunk(2 + size_t(size < kPSChunkBytes ? size : kPSChunkBytes));
  while (size > 0) {
    const int32 want = size < kPSChunkBytes ? size : kPSChunkBytes;
    int32 got = 0;
    const MgErr err = FMRead(gPage.file, want, &got, chunk.data() + 2);
    if (err != kNoErr || got <= 0) {
      DBPrintf("PSClose: FMRead err=%ld", long(err ? err : kEOFErr));
      PSSetJobError(kPSPrintErr);
      return;
    }
    const uInt16 count = uInt16(got);
    std::memcpy(chunk.data(), &count, 2);
    const int32 sent = PlatEscape(gPrinter.dc, kPlatEscPassThrough, got + 2, chunk.data(), nullptr);
    if (sent <= 0) {
      DBPrintf("PSClose: Escape return pc err=%d", int(sent));
      PSSetJobError(kPSDriverErr);
      return;
    }
    size -= got;
  }
}

}  // namespace

void PSClose(FileRef file, Bool32 restart) {
  if (file && file != gPage.file) {
    FlushSpool();
    gPage.file = file;
  }
  const bool section = C().sectionActive != 0;
  if (section) {
    if (restart) {
      // The section's scale and clip stay; it is written again after the
      // fresh prolog.
      PSWriteLine("grestore   % reset the section scale\r");
      C().sectionActive = 0;
    } else {
      PSEndSection();
    }
  }
  if (gPrinter.windowsNT) PSWriteLine("matrixequal{showpage}if\r");
  PSWriteLine("restore\r");
  PSWriteLine("end\r");
  FlushSpool();
  // A page whose text could not all be written is not sent: the printer
  // would get a cut program.
  if (!gWriteFailed) PSFlushFileToPrinter();
  if (!restart) return;
  StartPage(false);
  if (section) {
    PSLine o;
    o.S("gsave ").F(C().sectionH, 1).C(' ').F(C().sectionV, 1).S(" translate ");
    o.F(C().sectionScale, 4).C(' ').F(C().sectionScale, 4).S(" scale  % scale this section");
    WriteOut(o);
    C().sectionActive = 1;
  }
  PSForgetPenAndClip();
}

void PSBeginSection(float32 scale, int32 top, int32 left) {
  if (!(scale > 0.0f)) return;  // a scale that maps nothing: drawing stays as it is
  const float32 h = float32(left) - float32(left) * scale, v = float32(top) - float32(top) * scale;
  PSLine o;
  o.S("gsave ").F(h, 1).C(' ').F(v, 1).S(" translate ").F(scale, 4).C(' ').F(scale, 4);
  o.S(" scale  % scale this section");
  WriteOut(o);
  C().sectionActive = 1;
  C().sectionH = h;
  C().sectionV = v;
  C().sectionScale = scale;
  C().sectionClipSave = gDrawState.clipRect;
  Rect page{0, 0, 0, 0};
  gPSPort.bounds(&page);
  Rect mapped;
  mapped.left = int16(int32((float32(page.left) - h) / scale));
  mapped.top = int16(int32((float32(page.top) - v) / scale));
  mapped.right = int16(int32((float32(page.right) - h) / scale));
  mapped.bottom = int16(int32((float32(page.bottom) - v) / scale));
  DSetClipRect(&mapped);
}

void PSEndSection() {
  if (!C().sectionActive) return;
  PSWriteLine("grestore   % reset the section scale\r");
  C().sectionActive = 0;
  // The restore undid the pen and clip written inside the section.
  PSForgetPenAndClip();
  const Rect saved = C().sectionClipSave;
  DSetClipRect(&saved);
}

// ---- the slots

namespace {

int32 PSGetDepth() { return gPage.depth; }
int32 PSIsBW() { return gPage.depth == 1 ? 1 : 0; }
int32 PSIsScreenPort() { return 0; }

int32 PSSelectNormPen(DColor colour, DColor bwColour) {
  const DColor c = gPage.depth == 1 ? bwColour : colour;
  C().noPen = colour == kTransparentColor || c == kTransparentColor;
  if (C().noPen) return 0;
  if (C().currentPen == kNormalPen && C().normColour == c) return 0;
  const bool none = C().currentPen == 0;
  PSLine o;
  if (none || C().writtenFore != c) PSColour(o, c, true);
  if (none || C().writtenStyle != 0) o.S("[] 0 setdash 1 setlinecap ");
  if (none || C().writtenWidth != 1) o.S("1 setlinewidth ");
  C().pattern = 0;
  if (o.Size()) WriteOut(o);
  C().currentPen = kNormalPen;
  C().normColour = c;
  C().writtenFore = c;
  C().writtenStyle = 0;
  C().writtenWidth = 1;
  return 0;
}

void PatternOps(const DPenView& p) {
  PSLine o;
  o.S("[").F(((p.fore >> 16) & 0xFF) / 255.0, 2).C(' ').F(((p.fore >> 8) & 0xFF) / 255.0, 2).C(' ');
  o.F((p.fore & 0xFF) / 255.0, 2).S("]");
  o.S("[").F(((p.back >> 16) & 0xFF) / 255.0, 2).C(' ').F(((p.back >> 8) & 0xFF) / 255.0, 2).C(' ');
  o.F((p.back & 0xFF) / 255.0, 2).S("] ");
  o.S(p.mode == 0 ? "true " : "false ");
  int32 named = -1;
  for (int32 i = 0; i < 8 && named < 0; ++i)
    if (std::memcmp(p.pattern, kPatterns[i], 8) == 0) named = i;
  if (named >= 0) {
    o.S(kPatternNames[named]);
  } else {
    static const char kHex[] = "0123456789ABCDEF";
    o.C('<');
    for (int32 i = 0; i < 8; ++i) o.C(kHex[p.pattern[i] >> 4]).C(kHex[p.pattern[i] & 15]);
    o.C('>');
  }
  const int32 n = o.Size() < int32(sizeof C().patternOps) ? o.Size() : int32(sizeof C().patternOps) - 1;
  std::memcpy(C().patternOps, o.Data(), size_t(n));
  C().patternOps[n] = 0;
}

int32 PSSelectPen(int32 pen, DColor bwFore, DColor bwBack) {
  if (pen == kCurrentPen) {
    if (C().currentPen == kNormalPen)
      return PSSelectNormPen(C().noPen ? kTransparentColor : C().normColour, C().normColour);
    pen = C().currentPen;
  }
  C().noPen = 0;
  DPenView p{};
  if (pen < kGrayPen || !DPenForPage(pen, &p)) {
    C().currentPen = 0;
    return DBAssert(__FILE__, __LINE__, "DSelectPen: pen does not exist");
  }
  // Black-and-white colours stand in on a page of depth 1; a change of the
  // colours the pen was written with writes it whole again.
  if (gPage.depth == 1) {
    p.fore = bwFore == kTransparentColor ? kBlackColor : bwFore;
    p.back = bwBack == kTransparentColor ? kBlackColor : bwBack;
  }
  const bool sameColours = p.fore == C().writtenFore && p.back == C().writtenBack;
  if (pen == C().currentPen && !p.changed && sameColours) return 0;
  if (pen == C().currentPen && !sameColours) C().currentPen = 0;
  bool solid = true;
  for (int32 i = 0; i < 8; ++i) solid = solid && p.pattern[i] == 0xFF;
  C().pattern = solid ? 0 : 1;
  if (!solid) PatternOps(p);
  const bool none = C().currentPen == 0;
  PSLine o;
  if (none || p.fore != C().writtenFore) PSColour(o, p.fore, true);
  if (none || int32(p.style) != C().writtenStyle) {
    static const char* const kDash[5] = {"[] 0 setdash ", "[12 4] 0 setdash ", "[2 2] 0 setdash ",
                                         "[8 4 2 4] 0 setdash ", "[8 2 2 2 2 2] 0 setdash "};
    if (p.style < 5) o.S(kDash[p.style]).S(p.style == 0 ? "1 setlinecap " : "0 setlinecap ");
  }
  if (none || p.width != C().writtenWidth) {
    if (p.width == 0) o.S(".2 setlinewidth ");
    else o.I(p.width).S(" setlinewidth ");
  }
  C().currentPen = pen;
  C().writtenFore = p.fore;
  C().writtenBack = p.back;
  C().writtenStyle = int32(p.style);
  C().writtenWidth = p.width;
  if (o.Size()) WriteOut(o);
  return 0;
}

}  // namespace

// ---- lines and shapes

namespace {

int32 PSSetPixel(int32 h, int32 v) {
  if (!C().noPen) {
    PSClipUpdate();
    PSLine o;
    o.I(h).S(".48 ").I(v).S(".48 ").I(h).S(".52 ").I(v).S(".52 rect stroke  %SetPixel");
    WriteOut(o);
  }
  MoveTo(h, v);
  return 0;
}

int32 PSMoveTo(int32 h, int32 v) {
  MoveTo(h, v);
  return 0;
}
int32 PSMove(int32 dh, int32 dv) { return PSMoveTo(gPSPort.penH + dh, gPSPort.penV + dv); }

int32 PSLineTo(int32 h, int32 v) {
  if (!C().noPen) {
    PSClipUpdate();
    PSLine o;
    if (C().pattern) {
      FillPat(o, gPSPort.penH, gPSPort.penV, h, v);
    } else {
      o.S("newpath ").I(gPSPort.penH).C(' ').I(gPSPort.penV).S(" moveto ").I(h).C(' ').I(v).S(" lineto stroke");
    }
    WriteOut(o);
  }
  MoveTo(h, v);
  return 0;
}
int32 PSLine_(int32 dh, int32 dv) { return PSLineTo(gPSPort.penH + dh, gPSPort.penV + dv); }

int32 PSMHLineTo(int32 h, int32 v, Bool32 verticalFirst) {
  if (C().noPen) return PSMoveTo(h, v);
  const int32 ph = gPSPort.penH, pv = gPSPort.penV;
  if (h == ph || v == pv) return PSLineTo(h, v);
  if (verticalFirst) PSLineTo(ph, v);
  else PSLineTo(h, pv);
  return PSLineTo(h, v);
}
int32 PSMHLine(int32 dh, int32 dv, Bool32 verticalFirst) {
  return PSMHLineTo(gPSPort.penH + dh, gPSPort.penV + dv, verticalFirst);
}

// A point lies on a straight horizontal or vertical run between its two
// neighbours.
bool OnRun(const Point& a, const Point& p, const Point& b) {
  auto between = [](int32 x, int32 lo, int32 hi) { return lo <= hi ? lo <= x && x <= hi : hi <= x && x <= lo; };
  if (a.v == p.v && p.v == b.v) return between(p.h, a.h, b.h);
  if (a.h == p.h && p.h == b.h) return between(p.v, a.v, b.v);
  return false;
}

// Polygons of n + 1 points: framed (polyLine), painted (paintPoly) or
// painted with the pen's pattern (clipPoly and fillpat).
void Poly(const Point* p, int32 n, bool paint) {
  if (!p || n < 1) return;
  if (n == 1) {
    MoveTo(p[0].h, p[0].v);
    PSLineTo(p[1].h, p[1].v);
    return;
  }
  if (C().noPen) {
    MoveTo(p[n].h, p[n].v);
    return;
  }
  PSClipUpdate();
  const bool pattern = paint && C().pattern;
  PSLine o;
  if (pattern) o.S("gsave ");
  o.I(p[0].h).C(' ').I(p[0].v).C('[');
  for (int32 i = 1; i < n; ++i) {
    if (OnRun(p[i - 1], p[i], p[i + 1])) continue;
    o.C('[').I(p[i].h).C(' ').I(p[i].v).C(']');
    if (o.Size() > 220) {
      WriteOut(o);
      o.Clear();
    }
  }
  o.C('[').I(p[n].h).C(' ').I(p[n].v).S("]]");
  if (!pattern) {
    o.S(paint ? " paintPoly" : " polyLine");
    WriteOut(o);
    return;
  }
  int32 l = p[0].h, t = p[0].v, r = p[0].h, b = p[0].v;
  for (int32 i = 1; i < n; ++i) {
    l = p[i].h < l ? p[i].h : l;
    r = p[i].h > r ? p[i].h : r;
    t = p[i].v < t ? p[i].v : t;
    b = p[i].v > b ? p[i].v : b;
  }
  o.S(" clipPoly");
  WriteOut(o);
  o.Clear();
  FillPat(o, l, t, r, b);
  o.S(" grestore");
  WriteOut(o);
}

int32 PSPolyLine(const Point* points, int32 n) {
  Poly(points, n, false);
  if (points && n >= 1) MoveTo(points[n].h, points[n].v);
  return 0;
}
int32 PSPaintPoly(const Point* points, int32 n, int32) {
  Poly(points, n, true);
  return 0;
}

int32 PSFrameRect(const Rect* r) {
  if (!r || C().noPen) return 0;
  PSClipUpdate();
  const double in = HalfWidth();
  PSLine o;
  o.F(r->left + in, 2).C(' ').F(r->top + in, 2).C(' ').F(r->right - in, 2).C(' ').F(r->bottom - in, 2);
  o.S(" rect stroke");
  WriteOut(o);
  return 0;
}

int32 PaintRect(const Rect* r) {
  if (!r || C().noPen) return 0;
  PSClipUpdate();
  PSLine o;
  if (C().pattern) FillPat(o, r->left, r->top, r->right, r->bottom);
  else o.I(r->left).C(' ').I(r->top).C(' ').I(r->right).C(' ').I(r->bottom).S(" rect fill");
  WriteOut(o);
  return 0;
}

void XY(PSLine& o, double h, double v) { o.F(h, 2).C(' ').F(v, 2); }

void RoundRect(const Rect* r, int32 ovalWidth, int32 ovalHeight, bool paint) {
  if (!r || C().noPen) return;
  PSClipUpdate();
  const double in = paint ? 0.5 : HalfWidth();
  const double L = r->left + in, T = r->top + in, R = r->right - in, B = r->bottom - in;
  double ow = ovalWidth, oh = ovalHeight;
  if (ow > R - L) ow = R - L;
  if (oh > B - T) oh = B - T;
  if (ow < 0) ow = 0;
  if (oh < 0) oh = 0;
  const double rw = ow / 2, rh = oh / 2, cw = ow / 5, ch = oh / 5;
  const bool pattern = paint && C().pattern;
  if (pattern) PSWriteLine("gsave \r");
  PSLine o;
  o.S("newpath ");
  XY(o, L, T + rh);
  o.S(" moveto ");
  XY(o, L, T + ch), o.C(' '), XY(o, L + cw, T), o.C(' '), XY(o, L + rw, T);
  o.S(" curveto "), XY(o, R - rw, T), o.S(" lineto");
  WriteOut(o);
  o.Clear();
  XY(o, R - cw, T), o.C(' '), XY(o, R, T + ch), o.C(' '), XY(o, R, T + rh);
  o.S(" curveto "), XY(o, R, B - rh), o.S(" lineto");
  WriteOut(o);
  o.Clear();
  XY(o, R, B - ch), o.C(' '), XY(o, R - cw, B), o.C(' '), XY(o, R - rw, B);
  o.S(" curveto "), XY(o, L + rw, B), o.S(" lineto");
  WriteOut(o);
  o.Clear();
  XY(o, L + cw, B), o.C(' '), XY(o, L, B - ch), o.C(' '), XY(o, L, B - rh);
  o.S(" curveto");
  if (!pattern) {
    o.S(paint ? " closepath fill" : " closepath stroke");
    WriteOut(o);
    return;
  }
  WriteOut(o);
  o.Clear();
  o.S("closepath clip ");
  FillPat(o, r->left, r->top, r->right, r->bottom);
  o.S(" grestore");
  WriteOut(o);
}

int32 PSFrameRoundRect(const Rect* r, int32 w, int32 h) {
  RoundRect(r, w, h, false);
  return 0;
}
int32 PSPaintRoundRect(const Rect* r, int32 w, int32 h) {
  RoundRect(r, w, h, true);
  return 0;
}

// Ovals and arcs: centre and radii of the rectangle, inset by half the pen
// width when framed.  An oval is the arc from 0 to 360 in PostScript's
// angles.
void Arc(const Rect* r, int32 startAngle, int32 arcAngle, bool paint, bool oval) {
  if (!r || C().noPen) return;
  PSClipUpdate();
  const double in = paint ? 0.0 : HalfWidth();
  const double L = r->left + in, T = r->top + in, R = r->right - in, B = r->bottom - in;
  const double cx = (L + R) / 2, cy = (T + B) / 2, rw = (R - L) / 2, rh = (B - T) / 2;
  const int32 s = oval ? 0 : startAngle - 90, e = oval ? 360 : s + arcAngle;
  const bool neg = !oval && arcAngle < 0;
  PSLine o;
  if (C().pattern) o.S("gsave ");
  XY(o, cx, cy);
  if (paint && !oval) o.S(" 2 copy");
  o.C(' ');
  XY(o, rw, rh);
  o.C(' ').I(s).C(' ').I(e).C(' ');
  if (!C().pattern) {
    if (oval) o.S(paint ? "ovalFill" : "arcStroke");
    else if (paint) o.S(neg ? "arcnFill" : "arcFill");
    else o.S(neg ? "arcnStroke" : "arcStroke");
    WriteOut(o);
    return;
  }
  if (paint && oval) {
    o.S("ovalClip");
  } else if (paint) {
    o.S(neg ? "arcnFillClip" : "arcFillClip");
  } else {
    o.F(HalfWidth(), 2).S(neg ? " true arcStrokeClip" : " false arcStrokeClip");
  }
  WriteOut(o);
  o.Clear();
  FillPat(o, r->left, r->top, r->right, r->bottom);
  if (paint && oval) {
    o.S(" grestore");
    WriteOut(o);
    return;
  }
  WriteOut(o);
  PSWriteLine("grestore\r");
}

int32 PSFrameOval(const Rect* r) {
  Arc(r, 0, 360, false, true);
  return 0;
}
int32 PSPaintOval(const Rect* r) {
  Arc(r, 0, 360, true, true);
  return 0;
}
int32 PSFrameArc(const Rect* r, int32 s, int32 a) {
  Arc(r, s, a, false, false);
  return 0;
}
int32 PSPaintArc(const Rect* r, int32 s, int32 a) {
  Arc(r, s, a, true, false);
  return 0;
}

int32 PSGrayOutRect(const Rect* r, DColor colour) {
  if (!r) return 0;
  PSWriteLine("%GrayOutRect\r");
  PenState saved{};
  if (DGetPenState(kGrayPen, kPenFore | kPenBack, &saved) != kNoErr) return DBAssert(__FILE__, __LINE__, "no gray pen");
  const int32 pen = C().currentPen;
  const DColor norm = C().noPen ? kTransparentColor : C().normColour;
  PenState grey = saved;
  grey.fore = colour;
  grey.back = kBlackColor;
  DSetPenState(kGrayPen, kPenFore | kPenBack, &grey);
  PSSelectPen(kGrayPen, kBlackColor, kWhiteColor);
  PaintRect(r);
  DSetPenState(kGrayPen, kPenFore | kPenBack, &saved);
  // The pen selected before is selected again.
  if (pen == kNormalPen) PSSelectNormPen(norm, norm);
  else if (pen >= kGrayPen) PSSelectPen(pen, kBlackColor, kWhiteColor);
  return 0;
}

int32 PSSetClip(const Rect* r) {
  if (r) gPSPort.clip = *r;
  return 0;
}

int32 PSHiliteRect(const Rect*, DColor, DColor, DColor, DColor, int32 extra) { return extra; }
int32 PSScrollRect(const Rect*, int32, int32, Bool32, DColor, DColor bwFill) { return int32(bwFill); }
int32 PSFlush() { return 0; }

int32 PSAttach(int32 image) {
  gPSPort.target = uInt32(image);
  gPSPort.penH = gPSPort.penV = 0;
  gPSPort.writtenClip = gPSPort.clip = Rect{0, 0, 0, 0};
  C().currentPen = 0;
  if (image != gPage.image) {
    FlushSpool();
    BindPage(image);
  }
  return 0;
}

int32 PSBounds(Rect* out) {
  if (!out) return 0;
  *out = Rect{0, 0, 0, 0};
  if (HasRecord()) std::memcpy(out, *gPage.record + kPRPagePoints, sizeof(Rect));
  return 0;
}

}  // namespace

int32 PSPaintRectSlot(const Rect* r) { return PaintRect(r); }
int32 PSPageDepth() { return gPage.depth; }
UHandle PSPageRecord() { return HasRecord() ? gPage.record : nullptr; }
PlatObj PSPrinterDc() { return gPrinter.dc; }

// The prolog's page matrix and the page size it needs.
void PSPageMatrix(PSLine& o) {
  Rect page{0, 0, 0, 0};
  float32 scale = 1.0f, top = 0.0f, left = 0.0f;
  if (HasRecord()) {
    std::memcpy(&page, *gPage.record + kPRPagePoints, sizeof page);
    std::memcpy(&scale, *gPage.record + kPRScale, 4);
    std::memcpy(&top, *gPage.record + kPRBorderTop, 4);
    std::memcpy(&left, *gPage.record + kPRBorderLeft, 4);
  }
  if (!gPrinter.windowsNT) {
    o.S("[").F(scale, 2).S(" 0 0 ").F(scale, 2).S(" 0 0] concat");
    return;
  }
  const int32 H = page.bottom, W = page.right;
  if (H <= W) {
    o.S("[0 -1 -1 0 ").I(long(float32(H) + 72.0f * top)).C(' ').I(long(float32(W) + 72.0f * left));
  } else {
    o.S("[1 0 0 -1 ").I(long(72.0f * left)).C(' ').I(long(float32(H) + 72.0f * top));
  }
  o.S("] concat");
}

PSPortRecord gPSPort = {
    {
        PSGetDepth,       PSIsBW,          PSIsScreenPort,   PSSelectNormPen,  PSSelectPen,
        PSSetPixel,       PSMove,          PSMoveTo,         PSLine_,          PSLineTo,
        PSMHLine,         PSMHLineTo,      PSPolyLine,       PSPaintPoly,      PSFrameRect,
        PaintRect,        PSFrameRoundRect, PSPaintRoundRect, PSFrameOval,     PSPaintOval,
        PSFrameArc,       PSPaintArc,      PSGrayOutRect,    PSSetClip,        PSDrawImage,
        PSDrawBits,       PSTextBox,       PSTextDraw,       PSHiliteRect,     PSScrollRect,
        PSFlush,          PSAttach,        PSBounds,         0,                0,
        0,
    },
    {0, 0, 0, 0},
    {0, 0, 0, 0},
};
