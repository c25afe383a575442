// The PostScript page prolog, fonts and text: the procedures every page
// calls, the mapping of faces to the standard printer fonts with their
// re-encoding to the ANSI character set, and text boxes written through
// drawText, which prints a text exactly as wide as the screen shows it.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/draw/psport_internal.h"
#include "mgsource/memory.h"
#include "platform/qx_dc.h"
#include "platform/qx_font.h"
#include "platform/qx_text.h"

namespace {

// The prolog after the page matrix, line by line.
const char* const kProcedures[] = {
    "/bdf{bind def}bind def",
    "/xdf{exch def}bdf",
    "/rect {",
    "  /btm xdf /rt xdf /top xdf /lf xdf",
    "  newpath lf top moveto rt top lineto rt btm lineto lf btm lineto closepath",
    "}bdf",
    "/polyLine {",
    "  /ptsArray xdf  /v xdf  /h xdf",
    "  newpath h v moveto",
    "  ptsArray {aload pop /v xdf /h xdf h v lineto} forall stroke",
    "}bdf",
    "/clipPoly {",
    "  /ptsArray xdf /v xdf /h xdf",
    "  newpath h v moveto",
    "  ptsArray {aload pop /v xdf /h xdf h v lineto} forall closepath eoclip",
    "}bdf",
    "/paintPoly {",
    "  /ptsArray xdf /v xdf /h xdf",
    "  newpath h v moveto",
    "  ptsArray {aload pop /v xdf /h xdf h v lineto} forall closepath eofill",
    "}bdf",
    "/arcguts {",
    "  /arcNeg xdf /endAngle xdf /startAngle xdf /htRad xdf /wtRad xdf",
    "  /yCenter xdf /xCenter xdf /savematrix matrix currentmatrix def",
    "  newpath  xCenter yCenter translate wtRad htRad scale 0 0 1 startAngle endAngle",
    "  arcNeg{arcn}{arc}ifelse savematrix setmatrix",
    "}bdf",
    "/ovalFill {false arcguts closepath fill} bdf",
    "/ovalClip {false arcguts closepath clip} bdf",
    "/arcPath {false arcguts lineto closepath} bdf",
    "/arcnPath {true arcguts lineto closepath} bdf",
    "/arcFill {arcPath fill} bdf",
    "/arcStroke {false arcguts stroke} bdf",
    "/arcnFill {arcnPath fill} bdf",
    "/arcnStroke {true arcguts stroke} bdf",
    "/arcFillClip {arcPath clip} bdf",
    "/arcnFillClip {arcnPath clip} bdf",
    // The band a stroke of the arc covers: the outer arc with radii grown by
    // half the width, back along the inner one with radii shrunk by it.
    "/arcStrokeClip {",
    "\t/scNeg xdf /scHalf xdf /scEnd xdf /scStart xdf /scHt xdf /scWt xdf /scY xdf /scX xdf",
    "\t/scMat matrix currentmatrix def",
    "\tnewpath scX scY translate scWt scHalf add scHt scHalf add scale",
    "\t0 0 1 scStart scEnd scNeg{arcn}{arc}ifelse scMat setmatrix",
    "\tscX scY translate scWt scHalf sub .01 2 copy lt{exch}if pop",
    "\tscHt scHalf sub .01 2 copy lt{exch}if pop scale",
    "\t0 0 1 scEnd scStart scNeg{arc}{arcn}ifelse scMat setmatrix",
    "\tclosepath clip",
    "} bdf",
    "/graypatd <aa55aa55aa55aa55> def",
    "/ltgraypatd <8822882288228822> def",
    "/dkgraypatd <77dd77dd77dd77dd> def",
    "/diag44patd <f0e1c3870f1e3c78> def",
    "/diag22patd <cc993366cc993366> def",
    "/diag53patd <F1E3C78F1F3E7CF8> def",
    "/diagX53patd <0912244890214284> def",
    "/selectpatd <3355aacc3355aacc> def",
    // x1 y1 x2 y2 fgc bgc doBG pat: the rectangle tiled with 8 x 8 cells of
    // the pattern from a multiple of 8, clipped to the rectangle shrunk by
    // 0.10 on each side.
    "/fillpat {",
    "  /pat xdf /doBG xdf /bgc xdf /fgc xdf /y2 xdf /x2 xdf /y1 xdf /x1 xdf",
    "  x1 x2 gt {x1 x2 /x1 xdf /x2 xdf} if",
    "  y1 y2 gt {y1 y2 /y1 xdf /y2 xdf} if",
    "  gsave",
    "  newpath x1 .1 add y1 .1 add moveto x2 .1 sub y1 .1 add lineto",
    "  x2 .1 sub y2 .1 sub lineto x1 .1 add y2 .1 sub lineto closepath clip",
    "  /x1 x1 cvi x1 cvi 8 mod abs sub def /y1 y1 cvi y1 cvi 8 mod abs sub def",
    "  y1 8 y2 {",
    "    /fpy xdf",
    "    x1 8 x2 {",
    "      /fpx xdf gsave fpx fpy translate 8 8 scale",
    "      fgc aload pop setrgbcolor 8 8 true [8 0 0 8 0 0] pat imagemask",
    "      doBG {bgc aload pop setrgbcolor 8 8 false [8 0 0 8 0 0] pat imagemask} if",
    "      grestore",
    "    } for",
    "  } for",
    "  grestore",
    "} bdf",
    "/tLeft 0 def",
    "/tRight 16 def",
    "/tCenter 32 def",
    "/tOutline 8 def",
    "/tUnderline 4 def",
    "/tStrikeout 1 def",
    "/gUnique 0 def",
    "/gCurFont 0 def",
    "/gFontIsOutline false def",
    "/|/def load def/,/load load |/@/dup , |/b{bind def}bind |/!/pop , |",
    "/bullets{{/bullet}repeat}b/ANSIEncoding[/grave/acute/circumflex/tilde/macron",
    "/breve/dotaccent/dieresis/ring/cedilla/hungarumlaut/ogonek/caron/dotlessi",
    "18 bullets StandardEncoding 32 95 getinterval aload ! 3 bullets",
    "/quotesinglbase/florin/quotedblbase/ellipsis/dagger/daggerdbl/circumflex",
    "/perthousand/Scaron/guilsinglleft/OE 4 bullets/quoteleft/quoteright",
    "/quotedblleft/quotedblright/bullet/endash/emdash/tilde/trademark/scaron",
    "/guilsinglright/oe 2 bullets/Ydieresis/space/exclamdown/cent/sterling",
    "/currency/yen/brokenbar/section/dieresis/copyright/ordfeminine",
    "/guillemotleft/logicalnot/hyphen/registered/macron/degree/plusminus",
    "/twosuperior/threesuperior/acute/mu/paragraph/periodcentered/cedilla",
    "/onesuperior/ordmasculine/guillemotright/onequarter/onehalf/threequarters",
    "/questiondown/Agrave/Aacute/Acircumflex/Atilde/Adieresis/Aring/AE",
    "/Ccedilla/Egrave/Eacute/Ecircumflex/Edieresis/Igrave/Iacute/Icircumflex",
    "/Idieresis/Eth/Ntilde/Ograve/Oacute/Ocircumflex/Otilde/Odieresis/multiply",
    "/Oslash/Ugrave/Uacute/Ucircumflex/Udieresis/Yacute/Thorn/germandbls",
    "/agrave/aacute/acircumflex/atilde/adieresis/aring/ae/ccedilla/egrave",
    "/eacute/ecircumflex/edieresis/igrave/iacute/icircumflex/idieresis/eth",
    "/ntilde/ograve/oacute/ocircumflex/otilde/odieresis/divide/oslash/ugrave",
    "/uacute/ucircumflex/udieresis/yacute/thorn/ydieresis]| ANSIEncoding @ 39/quotesingle put 96/grave",
    "put",
    // new base: new is a copy of base with the ANSI encoding.
    "/ReencodeFont {",
    "  findfont dup length dict begin",
    "  {1 index /FID ne {def} {pop pop} ifelse} forall",
    "  /Encoding ANSIEncoding def",
    "  currentdict end definefont pop",
    "} bdf",
    // name: a name ending in -ISO is made from the name without it, once.
    "/CheckFontEncoding {",
    "  /cfName xdf",
    "  cfName 128 string cvs (-ISO) search {",
    "    /cfBase xdf pop pop",
    "    FontDirectory cfName known not {cfName cfBase cvn ReencodeFont} if",
    "  } {pop} ifelse",
    "} bdf",
    // font dict -> a copy without its FID, painted by stroking.
    "/makeoutlinedict {",
    "  dup length 3 add dict begin",
    "  {1 index /FID ne 2 index /XUID ne and {def} {pop pop} ifelse} forall",
    "  /PaintType 2 def",
    "  currentdict end",
    "} bdf",
    // base new strokeWidth uniqueID
    "/MakeOutlineFont {",
    "  /moID xdf /moStroke xdf /moNew xdf",
    "  findfont makeoutlinedict begin",
    "  /StrokeWidth moStroke def /UniqueID moID def",
    "  moNew currentdict end definefont pop",
    "} bdf",
    // name suffix size: the outline copy of name, named name + suffix, made
    // once and selected.
    "/OutlineFont {",
    "  /ofSize xdf /ofSuffix xdf /ofName xdf",
    "  /ofBase ofName 128 string cvs def",
    "  /ofNew ofBase length ofSuffix length add string def",
    "  ofNew 0 ofBase putinterval ofNew ofBase length ofSuffix putinterval",
    "  /ofNewName ofNew cvn def",
    "  FontDirectory ofNewName known not {",
    "    /gUnique gUnique 1 add def",
    "    ofName ofNewName 1000 ofSize abs 1 max div gUnique 4100000 add MakeOutlineFont",
    "  } if",
    "  /gCurFont ofNewName findfont def",
    "  /gFontIsOutline true def",
    "} bdf",
    // name suffix size
    "/AssignFont {",
    "  /afSize xdf /afSuffix xdf /afName xdf",
    "  afName CheckFontEncoding",
    "  /gCurFont afName findfont def",
    "  /gFontIsOutline false def",
    "  afSuffix length 0 gt {afName afSuffix afSize OutlineFont} if",
    "} bdf",
    // text factor wsize hsize totalHt ascent rLeft rTop rRight rBottom doClip
    // style justify: the text in gCurFont, factor / wsize units wide.
    "/drawText {",
    "  /dtJust xdf /dtStyle xdf /dtClip xdf /dtBottom xdf /dtRight xdf /dtTop xdf /dtLeft xdf",
    "  /dtAscent xdf /dtTotal xdf /dtHsize xdf /dtWsize xdf /dtFactor xdf /dtText xdf",
    "  gsave",
    "  gCurFont [dtWsize 0 0 0 dtWsize sub 0 0] makefont setfont",
    "  /dtW dtText stringwidth pop def",
    "  dtW 0 gt {",
    "    gCurFont [dtFactor dtW div 0 0 0 dtWsize sub 0 0] makefont setfont",
    "    /dtW dtFactor dtWsize div def",
    "    dtClip 0 gt {dtLeft dtTop dtRight dtBottom rect clip} if",
    "    /dtX dtRight dtLeft sub dtW sub def",
    "    /dtX dtJust tRight eq {dtX} {dtJust tCenter eq {dtX 2 div} {0} ifelse} ifelse dtLeft add def",
    "    /dtY dtTop dtAscent add def",
    "    newpath dtX dtY moveto",
    "    dtStyle tOutline and 0 ne gFontIsOutline not and",
    "      {dtText false charpath 1 setlinewidth stroke} {dtText show} ifelse",
    "    1 setlinewidth [] 0 setdash",
    "    dtStyle tUnderline and 0 ne",
    "      {newpath dtX dtY 1 add moveto dtW 0 rlineto stroke} if",
    "    dtStyle tStrikeout and 0 ne",
    "      {newpath dtX dtTop dtTotal 2 div add moveto dtW 0 rlineto stroke} if",
    "  } if",
    "  grestore",
    "} bdf",
    "2 setmiterlimit 1 setlinejoin",
    "systemdict /languagelevel known",
    " {languagelevel 2 ge {true setstrokeadjust}if }if",
};

// The font last assigned on the page.
char gLastFont[72] = "";
char gLastOutline[24] = "";

void Line(const char* text) {
  PSWriteBytes(text, int32(std::strlen(text)));
  PSWriteBytes("\r", 1);
}

// Family variants: regular, bold, italic, bold italic suffixes.
struct Variant {
  const char* family;
  const char* suffix[4];
};
const Variant kVariants[] = {
    {"Helvetica", {"", "-Bold", "-Oblique", "-BoldOblique"}},
    {"Times", {"-Roman", "-Bold", "-Italic", "-BoldItalic"}},
    {"Courier", {"", "-Bold", "-Oblique", "-BoldOblique"}},
    {"AvantGarde", {"-Book", "-Demi", "-BookOblique", "-DemiOblique"}},
    {"Helvetica-Narrow", {"", "-Bold", "-Oblique", "-BoldOblique"}},
    {"NewCenturySchlbk", {"-Roman", "-Bold", "-Italic", "-BoldItalic"}},
    {"Bookman", {"-Light", "-Demi", "-LightItalic", "-DemiItalic"}},
    {"Palatino", {"-Roman", "-Bold", "-Italic", "-BoldItalic"}},
    {"Symbol", {"", "", "", ""}},
    {"ZapfChancery", {"-MediumItalic", "-MediumItalic", "-MediumItalic", "-MediumItalic"}},
    {"ZapfDingbats", {"", "", "", ""}},
    {"Helvetica-Bold", {"", "", "Oblique", "Oblique"}},
    {"Times-Bold", {"", "", "Italic", "Italic"}},
};

PlatObj MeasureDc() {
  static PlatObj dc = 0;
  if (!dc) dc = PlatCreateScreenDc();
  return dc;
}

// The width of the text on the screen in the font, tabs as blanks, as the
// text layout measures it.
int32 ScreenWidth(const FontEntry* e, const uChar* text, int32 length) {
  if (!e || !text || length <= 0) return 0;
  const PlatObj dc = MeasureDc();
  if (!dc) return 0;
  TSelectFontIntoDC(dc, e->object);
  char buf[256];
  int32 width = 0;
  for (int32 at = 0; at < length;) {
    const int32 n = length - at < int32(sizeof buf) ? length - at : int32(sizeof buf);
    for (int32 i = 0; i < n; ++i) buf[i] = text[at + i] == '\t' || text[at + i] == 0 ? ' ' : char(text[at + i]);
    int32 w = 0, h = 0;
    PlatGetTextExtent(dc, buf, n, &w, &h);
    width += w;
    at += n;
  }
  return width;
}

// Writes the escaped text as a PostScript string, in pieces of at most 200
// bytes joined by backslash-newline (which the string does not keep), an
// escape sequence never split.
void WriteString(const uChar* esc, int32 n) {
  PSWriteBytes("(", 1);
  int32 start = 0, at = 0;
  while (at < n) {
    int32 unit = 1;
    if (esc[at] == '\\') unit = at + 1 < n && esc[at + 1] >= '0' && esc[at + 1] <= '7' ? 4 : 2;
    if (at + unit - start > 200) {
      PSWriteBytes(reinterpret_cast<const char*>(esc + start), at - start);
      PSWriteBytes("\\\r", 2);
      start = at;
    }
    at += unit;
  }
  PSWriteBytes(reinterpret_cast<const char*>(esc + start), n - start);
}

// ") factor size hsize totalHt ascent left top right bottom doClip style
// justification drawText".
void WriteDrawText(int32 factor, int32 size, int32 hsize, int32 totalHt, int32 ascent, int32 l, int32 t, int32 r,
                   int32 b, int32 doClip, int32 style, int32 just) {
  PSLine o;
  o.S(") ").I(factor).C(' ').I(size).C(' ').I(hsize).C(' ').I(totalHt).C(' ').I(ascent).C(' ');
  o.I(l).C(' ').I(t).C(' ').I(r).C(' ').I(b).C(' ').I(doClip).C(' ').I(style).C(' ').I(just).S(" drawText\r");
  PSWriteBytes(o.Data(), o.Size());
}

void PaintIn(const Rect* r, DColor colour, DColor bwColour) {
  if (colour == kTransparentColor) return;
  gPSPort.selectNormPen(colour, bwColour);
  PSPaintRectSlot(r);
}

}  // namespace

void PSResetFontState() {
  gLastFont[0] = 0;
  gLastOutline[0] = 0;
}

void PSWritePrologue(int32) {
  PSResetFontState();
  Line("%!PS-Adobe-3.0");
  Line("/mydict 250 dict def mydict begin");
  Line("save");
  PSLine o;
  if (PSWindowsNT()) {
    Line("/mat_df [0 0 0 0 0 0] defaultmatrix def");
    Line("/mat_cur [0 0 0 0 0 0] currentmatrix def");
    Line("/matrixequal true def");
    Line("0 1 5 {/ctr exch def mat_df ctr get mat_cur ctr get ne{/matrixequal false def exit}if}for");
    o.S("mat_df setmatrix ");
  }
  PSPageMatrix(o);
  o.C('\r');
  PSWriteBytes(o.Data(), o.Size());
  for (const char* l : kProcedures) Line(l);
}

void PSFontName(const char* face, int32 faceLength, int32 style, int32 weight, char out[64]) {
  const char* family = PlatFontMapFamily(PlatFontMapRow(face, faceLength));
  if (!family) family = "Helvetica";
  const int32 variant = (weight >= 1 ? 1 : 0) + ((style & 2) ? 2 : 0);
  const char* suffix = "";
  for (const Variant& v : kVariants)
    if (std::strcmp(v.family, family) == 0) suffix = v.suffix[variant];
  std::strncpy(out, family, 63);
  out[63] = 0;
  std::strncat(out, suffix, 63 - std::strlen(out));
}

void PSSetFont(int32 font) {
  Str255 name{};
  int32 size = 0, style = 0, weight = 0;
  if (!TGetFontInfo(font, name, &size, &style, &weight)) {
    font = kAppFont;
    TGetFontInfo(font, name, &size, &style, &weight);
  }
  if (const FontEntry* e = TFontEntry(font)) weight = e->weight;
  // The standard fonts go by the face the host uses for them.
  if (name[0] == 1 && name[1] >= '0' && name[1] <= '2') GetRealName(TStandardFont(name[1] - '0'), name);
  char ps[64];
  PSFontName(reinterpret_cast<const char*>(name + 1), name[0], style, weight, ps);
  char outline[24] = "()";
  if (style & 8) {
    PSLine o;
    o.S("(-Outline").I(size).C(')');
    std::memcpy(outline, o.Data(), size_t(o.Size()));
    outline[o.Size()] = 0;
  }
  if (std::strcmp(ps, gLastFont) == 0 && std::strcmp(outline, gLastOutline) == 0) return;
  std::strcpy(gLastFont, ps);
  std::strcpy(gLastOutline, outline);
  PSLine o;
  o.C('/').S(ps);
  if (TFontIsAnsi(font)) o.S("-ISO");
  o.C(' ').S(outline).C(' ').I(size).S(" AssignFont\r");
  PSWriteBytes(o.Data(), o.Size());
}

UPtr PSEscapeText(const uChar* text, int32* length) {
  if (!length || *length < 0 || (*length > 0 && !text)) return nullptr;
  const int32 n = *length;
  int32 out = 0;
  for (int32 i = 0; i < n; ++i) {
    const uChar c = text[i];
    out += c >= 128 ? 4 : (c == '(' || c == ')' || c == '\\') ? 2 : 1;
  }
  UPtr p = AZNewPtr(out ? out : 1);
  if (!p) return nullptr;
  int32 k = 0;
  for (int32 i = 0; i < n; ++i) {
    const uChar c = text[i];
    if (c >= 128) {
      p[k++] = '\\';
      p[k++] = uChar('0' + (c >> 6));
      p[k++] = uChar('0' + ((c >> 3) & 7));
      p[k++] = uChar('0' + (c & 7));
    } else if (c == '(' || c == ')' || c == '\\') {
      p[k++] = '\\';
      p[k++] = c;
    } else {
      p[k++] = c == '\t' ? ' ' : c;
    }
  }
  *length = out;
  return p;
}

namespace {

// The colour a black-and-white page shows for a colour.
DColor BWOf(DColor c) { return c == kTransparentColor ? c : DIndexToColor(DColorToIndex(c, 1, nullptr), 1); }

// The font's size, style bits and line measures (an unknown font is the
// application font); false when not even that one is there.
struct TextFont {
  int32 font, size, style, ascent, hsize, totalHt;
  const FontEntry* entry;
};
bool TakeFont(int32 font, TextFont* f) {
  if (!TFontEntry(font)) font = kAppFont;
  const FontEntry* e = TFontEntry(font);
  if (!e) return false;
  Str255 name{};
  int32 size = 0, style = 0;
  TGetFontInfo(font, name, &size, &style, nullptr);
  *f = TextFont{font, size, style & 0x1F, e->ascent, e->ascent + e->descent, e->ascent + e->descent + e->leading, e};
  return true;
}

// Writes one drawText call for the text (already in its display form) at
// the rectangle (doClip -1: clipped when the text does not fit or its style
// reaches out); the screen width of the text, or -1 when memory ran out.
int32 WriteText(const TextFont& f, const uChar* text, int32 length, int32 extra, const LRect& r, int32 doClip,
                int32 just) {
  const int32 w = ScreenWidth(f.entry, text, length);
  const int32 factor = (w + extra) * f.size;
  if (factor == 0) return w;
  if (doClip < 0)
    doClip = w > r.right - r.left || f.totalHt > r.bottom - r.top ||
                     (f.style & (kFontStrikeout | kFontItalic | kFontUnderline))
                 ? 1
                 : 0;
  int32 n = length;
  UPtr esc = PSEscapeText(text, &n);
  if (!esc) return -1;
  PSSetFont(f.font);
  WriteString(esc, n);
  AZDisposePtr(esc);
  WriteDrawText(factor, f.size, f.hsize, f.totalHt, f.ascent, r.left, r.top, r.right, r.bottom, doClip, f.style,
                just);
  return w;
}

// The password or hex form of the text when the mode asks for one (shown
// then owns it), else the text itself; false when memory ran out.
bool DisplayForm(uInt32 mode, const uChar* text, int32* length, int32 font, UPtr* shown, const uChar** out) {
  *shown = nullptr;
  *out = text;
  if (!(mode & (kTRModePassword | kTRModeHex)) || *length <= 0) return true;
  *shown = TMakeDisplayText(mode, text, length, font);
  *out = *shown;
  return *shown != nullptr;
}

struct RunPiece {
  int32 start, end, font;
  DColor colour;
};

}  // namespace

int32 PSTextBox(const Rect* r, int32 flags, const uChar* text, int32 length, int32 font, DColor fore, DColor back,
                DColor bwFore, DColor bwBack) {
  if (!r) return 0;
  PSClipUpdate();
  const bool dimmed = (flags & 0xF00) == 0x100;
  if (dimmed) flags &= ~0x100;
  // Text boxes come from pictures as well, stored ones included: what the
  // page cannot write is reported on the debug output, never asserted on.
  if (flags & (64 | 128)) {
    DBPrintf("TBox: flags not supported");
    flags &= ~(64 | 128);
  }
  if (length < 0 || (length > 0 && !text)) return DBAssert(__FILE__, __LINE__, "TBox: bad text");
  if (length == 0 || (length == 1 && text[0] == 0)) {
    PaintIn(r, back, bwBack);
    return 0;
  }
  const int32 mode = flags & 15;
  if (mode != 0 && mode != 8) {
    // Other layouts go through a text record's line layout.
    if (mode == 3) DBPrintf("TBox: layout mode 3");
    TRecord record = TNew(r, uInt32(flags), text, length, font, fore, back);
    if (!record) return DBAssert(__FILE__, __LINE__, "TBox: out of memory");
    PSTextDraw(record);
    TDispose(record);
    return 0;
  }
  const bool bw = gPSPort.isBW() != 0;
  PaintIn(r, back, bwBack);
  DColor colour = bw ? bwFore : fore;
  if (dimmed) {
    const bool opaque = (bw ? bwBack : back) != kTransparentColor;
    colour = !bw && opaque && back != 0xCCCCCC ? DColor(0xCCCCCC) : kBlackColor;
  }
  if (colour == kTransparentColor) return 0;
  gPSPort.selectNormPen(colour, colour);
  TextFont f;
  if (!TakeFont(font, &f)) return DBAssert(__FILE__, __LINE__, "TBox: no font");
  UPtr shown;
  const uChar* t;
  if (!DisplayForm(uInt32(flags), text, &length, f.font, &shown, &t))
    return DBAssert(__FILE__, __LINE__, "TBox: out of memory");
  const int32 just = flags & 48;
  const LRect box{r->top, r->left, r->bottom, r->right};
  const int32 w = WriteText(f, t, length, mode == 8 && just != 16 ? 1 : 0, box, -1, just);
  if (shown) AZDisposePtr(shown);
  if (w < 0) return DBAssert(__FILE__, __LINE__, "TBox: out of memory");
  return 0;
}

int32 PSTextDraw(UHandle record) {
  if (!record || DSCheckHandle(record) != kNoErr || !*record)
    return DBAssert(__FILE__, __LINE__, "TDraw: not a text record");
  TValidateLines(record);
  PSClipUpdate();
  // What the drawing needs, copied: writing may move the record.
  const TRecordData* d = TRData(record);
  const uInt32 mode = d->mode, flags = d->flags;
  const Rect view = d->view;
  const LRect dest = d->dest;
  const DColor back = d->background, ink = d->runs[0].colour;
  std::string text;
  if (d->text && *d->text) text.assign(reinterpret_cast<const char*>(*d->text + 4), GetNative32(*d->text));
  const int32 length = int32(text.size());
  std::vector<RunPiece> runs;
  for (int32 i = 1; i <= d->runCount; ++i)
    runs.push_back(
        {int32(std::min<uInt32>(d->runs[i].start, uInt32(length))), 0, d->runs[i].font, d->runs[i].colour});
  if (runs.empty()) runs.push_back({0, 0, d->runs[0].font, ink});
  for (size_t i = 0; i < runs.size(); ++i) runs[i].end = i + 1 < runs.size() ? runs[i + 1].start : length;
  // A transparent background is left alone, unless an active record asks
  // for an opaque fill: white under dark text, black under light.
  DColor fill = back;
  if (fill == kTransparentColor && (flags & kTRFlagActive))
    fill = BWOf(ink) == kWhiteColor ? kBlackColor : kWhiteColor;
  auto paint = [&](const Rect& r) {
    if (r.top < r.bottom && r.left < r.right) PaintIn(&r, fill, BWOf(fill));
  };
  if (flags & kTRFlagCollapsed) {
    paint(view);
    return 0;
  }
  const int32 just = int32(mode & kTRModeJustify);
  const bool hex = (mode & kTRModeHex) != 0;
  const int32 lines = TLineCount(record);
  int32 top = dest.top, line = 0;
  size_t first = 0;
  for (; line < lines; ++line) {
    const TLineEntry e = TLineAt(record, line);
    if (top + e.height > view.top) break;
    top += e.height;
  }
  for (; line < lines && top < view.bottom; ++line) {
    const TLineEntry e = TLineAt(record, line);
    const int32 start = std::clamp(e.start, 0, length);
    const int32 end = line + 1 < lines ? std::clamp(TLineAt(record, line + 1).start, start, length) : length;
    const int32 bottom = top + e.height;
    const Rect box{int16(std::max<int32>(top, view.top)), view.left, int16(std::min<int32>(bottom, view.bottom)),
                   view.right};
    int32 h = dest.left;
    if (just == kTRJustifyRight) h = dest.right - e.width;
    else if (just == kTRJustifyCentre) h = dest.left + (dest.right - dest.left - e.trimmed) / 2;
    bool clip = box.top != top || box.bottom != bottom || e.width > view.right - view.left;
    if (just == 0) clip |= h < view.left;
    else if (just == kTRJustifyRight) clip |= h + e.width > view.right;
    else clip |= h < view.left || h + e.width > view.right;
    // The runs ascend: those of the line follow the ones before it.
    while (first + 1 < runs.size() && runs[first].end <= start) ++first;
    for (size_t k = first; k < runs.size() && runs[k].start < end; ++k) {
      TextFont f;
      if (runs[k].end > start && TakeFont(runs[k].font, &f)) clip |= (f.style & (kFontItalic | kFontUnderline)) != 0;
    }
    if (box.top < box.bottom && box.left < box.right) {
      if (clip) {
        PSLine o;
        o.S("gsave ").I(box.left).C(' ').I(box.top).C(' ').I(box.right).C(' ').I(box.bottom).S(" rect clip\r");
        PSWriteBytes(o.Data(), o.Size());
      }
      paint(box);
      for (size_t k = first; k < runs.size() && runs[k].start < end; ++k) {
        const RunPiece& p = runs[k];
        const int32 a = std::max(p.start, start);
        int32 z = std::min(p.end, end);
        if (a >= z) continue;
        if (!hex)
          while (z > a && (text[size_t(z - 1)] == '\r' || text[size_t(z - 1)] == '\n')) --z;
        TextFont f;
        if (z == a || !TakeFont(p.font, &f)) continue;
        int32 n = z - a;
        UPtr shown;
        const uChar* t;
        if (!DisplayForm(mode, reinterpret_cast<const uChar*>(text.data()) + a, &n, f.font, &shown, &t))
          return DBAssert(__FILE__, __LINE__, "TDraw: out of memory");
        const LRect at{top + e.ascent - f.ascent, h, view.bottom, view.right};
        int32 w = 0;
        if (p.colour != kTransparentColor) {
          gPSPort.selectNormPen(p.colour, BWOf(p.colour));
          w = WriteText(f, t, n, 0, at, 0, 0);
        } else {
          w = ScreenWidth(f.entry, t, n);
        }
        if (shown) AZDisposePtr(shown);
        if (w < 0) return DBAssert(__FILE__, __LINE__, "TDraw: out of memory");
        h += w;
      }
      if (clip) {
        PSWriteBytes("grestore\r", 9);
        // The restore undid the pen written inside.
        gPSContext.currentPen = 0;
      }
    }
    top = bottom;
  }
  if (top < view.bottom) paint(Rect{int16(std::max<int32>(top, view.top)), view.left, view.bottom, view.right});
  return 0;
}
