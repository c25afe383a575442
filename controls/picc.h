// The drawing primitives of the built-in control pictures: the shading
// model (highlight and shadow of a colour, the lighter and darker shades),
// bevelled rectangles and their groove, gradients, frames, ovals, half
// ovals, rounded rectangles, oblongs, knobs and triangles; the composite
// control parts built from them (arrow buttons, check boxes, switches,
// toggles, push buttons, sliders, LEDs, refnum and document frames, glyphs,
// the dialog-style pictures in system colours, the pop-up arrow box); and
// the outline and arrow geometry of line pictures.
//
// Every primitive draws on the current port of the drawing manager, so
// also into recorded pictures, offscreen pixmaps and printer pages.
// Points handed to the port are (horizontal, vertical); point arrays are
// Point (vertical first).  Angles are degrees, 0 at the top, clockwise.
//
// Colours: foreColor is the frame, outline, line and glyph colour,
// backColor the fill; 0x1000000 is transparent (nothing is drawn in it).
// Looks: the style bits of the control pictures.  A primitive reads the
// colour nibble (bits 8-11) on colour ports and the black-and-white nibble
// (bits 12-15) on black-and-white ports (DIsBW); filled wins over flat,
// flat over the bevel; the lower bit of a bevel pair (lowered, top-left
// shading) wins over the upper.
//
// Every primitive works in 32-bit coordinates and pins what it hands to the
// port to 16 bits, leaves the caller's rectangle as it was, draws nothing
// outside its rectangle and loops at most as often as the rectangle is
// large.  An empty rectangle draws nothing; most primitives write their own
// text on the debug output then.
//
// User-interface thread only, between WSetup and WRestore.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/extcode.h"

// ---- Style bits ------------------------------------------------------------------------

enum : int32 {
  // Colour looks.
  kLookLowered = 0x100,
  kLookRaised = 0x200,
  kLookFlat = 0x400,
  kLookFilled = 0x800,
  // Black-and-white looks.
  kLookBWTopLeft = 0x1000,
  kLookBWBottomRight = 0x2000,
  kLookBWFlat = 0x4000,
  kLookBWFilled = 0x8000,
  // A black outline around the bevel (colour ports).
  kLookOutline = 0x100000,
};

// Directions.
enum : int32 {
  kPictLeft = 0x10000,
  kPictRight = 0x20000,
  kPictUp = 0x40000,
  kPictDown = 0x80000,
  kPictHorizontal = 0x30000,
  kPictVertical = 0xC0000,
};

// ---- Shading rules -----------------------------------------------------------------------

// Highlight and shadow of a colour on the current port: each channel halfway
// to white ((c + 256) / 2) and halved (c / 2) on ports deeper than 4 bits,
// 0xE4E4E4 and 0x666666 at depth 4, black below; transparent stays
// transparent.
void PiccHilites(DColor colour, DColor* hilite, DColor* shadow);
// The shade pens' colours: each channel (c + 256) / 2, or c / 2, the top
// byte kept; transparent stays transparent.  On black-and-white ports the
// pens draw them in black.
DColor PiccLighterShade(DColor colour);
DColor PiccDarkerShade(DColor colour);
// The bevel inset: a width n above 0 is clamped to half of min(width,
// height) - 2 made even (0 below 2), and the rectangle inset by it on all
// four sides; the width used is returned.  n <= 0 insets by n as it is.
int32 PiccBevelInset(Rect* r, int32 n);
// The diagonal angle of a rectangle: atan(width / height) in whole degrees
// (truncated), 45 when the height is below 1.  The upper-left half of its
// oval is the arc (A + 180, 180), the lower-right half (A, 180).
int32 PiccDiagonalAngle(const Rect* r);

// The three dithered pattern pens of the gradient fill on palette ports
// (1/8, 1/4 and 1/2 of their bits set), by number 0 to 2: start-up hands
// the pens it made.  Without a source every pen is 0 (none).
typedef int32 (*PiccBlendPenSource)(int32 which);
void PiccSetBlendPenSource(PiccBlendPenSource source);
PiccBlendPenSource PiccBlendPenSourceInUse();
int32 PiccBlendPen(int32 which);

// ---- Bevelled shapes ---------------------------------------------------------------------

// A bevelled rectangle: filled, or the fill inside the bevel and a flat
// frame, a colour bevel (with kLookOutline a black outline) or a
// black-and-white grey shading of the clamped width; a non-zero direction
// adds the groove.
QX_EXTERN_C void DrawRect(const Rect* r, DColor foreColor, DColor backColor, int32 looks, int32 width,
                          int32 direction);
// The groove across the middle of a rectangle: vertical for exactly
// 0xC0000, else horizontal.  Nothing when foreColor is transparent.
QX_EXTERN_C void DrawGroove(const Rect* r, DColor foreColor, DColor backColor, int32 looks, int32 direction);
// The gradient rectangle of colour ports: the top quarter banded from the
// highlight of backColor through the HLS mean to its shadow, the rest from
// the shadow back to the highlight, along the direction (0x30000 or
// 0xC0000).  On a black-and-white port an internal error is reported.
QX_EXTERN_C void DrawRectHLS(const Rect* r, DColor foreColor, DColor backColor, int32 looks, int32 width,
                             int32 direction);
// The gradient fill: bands of (length >> shift) pixels (at least 1) whose
// lightness runs from colour 1's toward colour 2's, hue and saturation
// those of colour 1; vertical (from the bottom up) for exactly 0xC0000,
// else horizontal (from the left).  Palette ports merge bands of one palette
// index and dither where the index changes.
QX_EXTERN_C void DrawGradient(const Rect* r, DColor colour1, DColor colour2, int32 direction, int32 shift);
// The band blend: the lower half (0xC0000) or left half (otherwise) of the
// band painted in c, the other half with the blend pen of (a, b, c, d).
void PaintBlendBand(const Rect* r, DColor a, DColor b, DColor c, DColor d, int32 direction);
// The dithered pen for two colour pairs: x = |a - b|, y = |c - d|, r the
// smaller over the larger (0 when both are 0); r <= 0.25 the first pen,
// <= 0.5 the second, above the third; its colours become (a, c) when
// x <= y, else (c, a).  The pen is returned for selection (0 when start-up
// gave none).
QX_EXTERN_C int32 SelectBlendPen(DColor a, DColor b, DColor c, DColor d);
// The three-colour band fill: a lying cylinder (0x30000) shades its bottom
// half from A to B and its top half from B to C upwards, a standing one
// (0xC0000) its left half from A to B and its right half from B to C
// rightwards, each with shift - 1.  Any other axis draws nothing.
QX_EXTERN_C void ShadeCylinder(const Rect* r, DColor a, DColor b, DColor c, int32 axis, int32 shift);
// A triangle shaded as a fan of lines from its apex to each pixel of its
// base: the apex is the point the direction points to (up, down, left,
// right), the base is walked left to right (up, down) or bottom to top
// (left, right), and the lightness runs from start through middle to end
// over the two halves of the base in bands of (length >> shift) pixels;
// hue and saturation stay the start colour's.
QX_EXTERN_C void ShadeTriangleFan(const Point* points, int32 direction, DColor start, DColor end, DColor middle,
                                  int32 shift);
// A round surface: quarter arcs from startAngle, each band (half of the
// larger side >> shift, at least 2) inset from the last, the lightness
// running from first's to second's over half the larger side.  Palette
// ports paint each band in its palette colour and a dithered blend.
QX_EXTERN_C void ShadeArcBands(const Rect* r, DColor first, DColor second, int32 startAngle, int32 shift);
// The corner of a bent pipe: rows (height >> shift) walked from the top
// (axis 0x30000) or the bottom (0xC0000); with flag 16 each row is shaded
// from an edge moving right from the left edge to the middle, with flag 1
// from the middle to an edge moving left from the right edge, as long as
// the edge lies in its half.  flags = axis plus 16 or 1.
QX_EXTERN_C void ShadeBandsSplit(const Rect* r, DColor first, DColor second, DColor third, int32 shift, int32 flags);
// The rectangle painted in the fill colour and framed in the frame colour.
QX_EXTERN_C void FillFrameRect(const Rect* r, DColor frame, DColor fill);

// A frame of the clamped width between the rectangle and the rectangle
// inset by it: bands in backColor, one-pixel bevels or two frames in
// foreColor.
QX_EXTERN_C void DrawRectFrame(const Rect* r, DColor foreColor, DColor backColor, int32 looks, int32 width);
// The oval of the rectangle: filled, or painted in backColor and framed
// flat, bevelled along the diagonal or grey-shaded on black-and-white ports.
QX_EXTERN_C void DrawOval(const Rect* r, DColor foreColor, DColor backColor, int32 looks, int32 width);
// An oval ring of the clamped width.
QX_EXTERN_C void DrawOvalFrame(const Rect* r, DColor foreColor, DColor backColor, int32 looks, int32 width);
// The half of the oval that faces the direction.
QX_EXTERN_C void DrawHalfOval(const Rect* r, DColor foreColor, DColor backColor, int32 looks, int32 direction);
// A rounded rectangle with corners of min(width, height) / 2.
QX_EXTERN_C void DrawRndRect(const Rect* r, DColor foreColor, DColor backColor, int32 looks, int32 width);
// A rectangle with semicircular ends on its short sides: vertical when the
// direction has a vertical bit.  Not longer than wide it is an oval.
QX_EXTERN_C void DrawOblong(const Rect* r, DColor foreColor, DColor backColor, int32 looks, int32 width,
                            int32 direction);
// A knob: a shaded disc and its cap.
QX_EXTERN_C void DrawKnob(const Rect* r, DColor foreColor, DColor backColor);

// ---- Triangles and tests -----------------------------------------------------------------

// The three points of an isosceles triangle filling the rectangle with its
// apex at the middle of the side the direction names (up, down, left,
// otherwise right); points has room for four.  False for an empty
// rectangle.
QX_EXTERN_C Bool32 MakeTri(const Rect* r, int32 direction, Point* points);
// The three points of a right-angled triangle with the right angle (the
// second point) at the top-left corner (up), bottom-right (down),
// bottom-left (left) or top-right (otherwise).
QX_EXTERN_C Bool32 MakeRightTri(const Rect* r, int32 direction, Point* points);
// Closes the triangle (the fourth point becomes the first) and draws it;
// a non-zero swap exchanges highlight and shadow.
QX_EXTERN_C void DrawTriangle(Point* points, DColor foreColor, DColor backColor, int32 looks, int32 swap);
// True when the point lies in the convex polygon of count points (edges
// included): the signed areas with every edge, the closing edge first,
// never change sign.  False for fewer than three points.
QX_EXTERN_C Bool32 PtInConvexPoly(Point point, int32 count, const Point* points);
// The bottom and right edges moved in (out) by a vertical and a horizontal
// amount; an empty result is an internal error.
QX_EXTERN_C void ShrinkRectBR(Rect* r, int32 dv, int32 dh);
QX_EXTERN_C void GrowRectBR(Rect* r, int32 dv, int32 dh);

// ---- Composite control parts -------------------------------------------------------------

// A triangle filling the rectangle, shaded with the raised bit swapped for
// left and the lowered bit otherwise.
QX_EXTERN_C void DrawArrowTri(const Rect* r, DColor fore, DColor back, int32 looks, int32 direction);
// An arrow button: the bevelled box and a filled triangle centred in it.
QX_EXTERN_C void DrawArrowRect(const Rect* r, DColor fore, DColor back, int32 looks, int32 direction);
QX_EXTERN_C void DrawCheckBox(const Rect* r, DColor fore, DColor back, int32 looks);
// Slide switches: the well, and the thumb in the half the direction names.
QX_EXTERN_C void DrawUDSwitch(const Rect* r, DColor fore, DColor back, int32 direction);
QX_EXTERN_C void DrawLRSwitch(const Rect* r, DColor fore, DColor back, int32 direction);
// A toggle switch: its round base and a lever toward the direction, or a
// bar across it (0x30000, 0xC0000).
QX_EXTERN_C void DrawToggle(const Rect* r, DColor fore, DColor back, int32 direction);
// Push buttons: a bezel and a face standing out by a depth; the
// black-and-white look 0x2000, 0x1000 or 0x4000 says how.
QX_EXTERN_C void DrawSquarePush(const Rect* r, DColor fore, DColor back, int32 colourLook, int32 bwLook);
QX_EXTERN_C void DrawRoundPush(const Rect* r, DColor fore, DColor back, int32 colourLook, int32 bwLook);
QX_EXTERN_C void DrawPushFace(const Rect* r, DColor fore, DColor back, int32 depth, int32 bwLook);
QX_EXTERN_C void DrawRoundPushFace(const Rect* r, DColor fore, DColor back, int32 depth, int32 bwLook);
// Slider switches: the slot, the handle (a push face) in the half the
// direction names, and three grooves on it.
QX_EXTERN_C void DrawUDSlider(const Rect* r, DColor fore, DColor back, int32 direction, int32 bwLook);
QX_EXTERN_C void DrawLRSlider(const Rect* r, DColor fore, DColor back, int32 direction, int32 bwLook);
// LEDs: a bezel and the lamp with its glint.
QX_EXTERN_C void DrawRoundLED(const Rect* r, DColor fore, DColor back, int32 looks);
QX_EXTERN_C void DrawSquareLED(const Rect* r, DColor fore, DColor back, int32 looks);
QX_EXTERN_C void DrawLEDGlint(const Rect* r, DColor colour, DColor bwColour, int32 looks);
QX_EXTERN_C void DrawLEDButt(const Rect* r, DColor fore, DColor back, int32 looks);
// Refnum and document frames and the path, tag and diamond glyphs.
QX_EXTERN_C void DrawRefNum(const Rect* r, DColor fore, DColor back, int32 looks);
QX_EXTERN_C void DrawDocument(const Rect* r, DColor fore, DColor back, int32 looks);
QX_EXTERN_C void DrawPathGlyph(const Rect* r, DColor fore, DColor back, int32 looks);
QX_EXTERN_C void DrawTagGlyph(const Rect* r, DColor fore, DColor back, int32 looks);
QX_EXTERN_C void DrawDiamond(const Rect* r, DColor fore, DColor back, int32 style);
// Dialog-style pictures in the system colours, by state 0 to 3 (other
// states draw as 0).
QX_EXTERN_C void DrawDlgRadio(const Rect* r, int32 state);
QX_EXTERN_C void DrawDlgCheckBox(const Rect* r, int32 state);
QX_EXTERN_C void DrawDlgButton(const Rect* r, int32 state);
QX_EXTERN_C void DrawDlgRing(const Rect* r, int32 state);
// The pop-up arrow box of looks 0x100, 0x200, 0x400 and 0x800 (others draw
// nothing).
QX_EXTERN_C void DrawPopupArrow(const Rect* r, DColor fore, DColor back, int32 look);

// ---- Line geometry -----------------------------------------------------------------------

// Style bits of a line picture.
enum : int32 {
  kLineArrows = 0x100,    // arrow heads (at point 2)
  kLineBothEnds = 0x200,  // also at point 1
  kLineWedge = 0x400,     // one wedge over the whole line instead
  kLineBarbed = 0x800,    // barbed heads, the narrower wedge
};
// Modes of BuildLinePolys.
enum : int32 { kLineHit = 0, kLineDraw = 1 };

// The polygons of one line: at most the body and two heads.
enum : int32 { kLinePolyMaxPolys = 3, kLinePolyMaxPoints = 12 };
struct LinePoly {
  int32 first;    // its first point in the buffer
  int32 count;    // its points
  int32 closing;  // 1 for the barbed shapes
};
struct LinePolys {
  int32 nPolys;
  int32 nPoints;
  LinePoly polys[kLinePolyMaxPolys];
  Point points[kLinePolyMaxPoints];
};

// Appends the polygons of the line from p1 to p2 (width above 1: the body,
// 2 x width thick; style 0x100: heads or the wedge) and returns the number
// appended.  What does not fit the buffers is left out.
QX_EXTERN_C int32 BuildLinePolys(int32 mode, Point p1, Point p2, int32 width, int32 style, LinePolys* polys);
// Widens r (right and bottom exclusive) to hold every point; an empty r
// becomes the points' bounds.
QX_EXTERN_C void LinePolysBounds(const LinePolys* polys, Rect* r);
// Maps every point proportionally from one rectangle onto another.
QX_EXTERN_C void MapLinePolys(LinePolys* polys, const Rect* from, const Rect* to);
// True when the point lies in any of the polygons.
QX_EXTERN_C Bool32 PtInLinePolys(Point point, const LinePolys* polys);
// Paints every polygon with the current pen and empties the buffers.
QX_EXTERN_C void PaintLinePolys(LinePolys* polys);
// The hit test of a line: its polygons in mode 0 with width + 2.
QX_EXTERN_C Bool32 LineHitTest(Point point, Point p1, Point p2, int32 width, int32 style);

// ---- The control picture table -----------------------------------------------------------
//
// The 375 built-in control pictures are procedural images (kind 10): each
// a picture procedure and a style word, registered in the image table at
// start-up and named by picture code (table index + 9, codes 9 to 383).
// The image manager sends them numbered messages with a PictMessageBlock.

// The messages of picture procedures.
enum : int32 {
  kPictMsgInit = 0,        // set the state for rect
  kPictMsgDraw = 1,        // draw in rect with the two colours
  kPictMsgHit = 2,         // result 1 when point hits the shape in rect
  kPictMsgRectHit = 3,     // result 1 when otherRect meets the shape
  kPictMsgSize = 4,        // rect = the natural size at (0, 0)
  kPictMsgMoved = 5,       // rect changed from otherRect: the state follows
  kPictMsgNothing = 6,
  kPictMsgShape = 7,       // shapeKind, and result 1 when opaque
  kPictMsgOwnState = 10,   // result 1 when each use needs its own copy
  kPictMsgFlatten = 11,    // stateHandle = a new 12-byte flattened state
  kPictMsgUnflatten = 12,  // the style and state words from stateHandle
  kPictMsgGetEnds = 13,    // point1, point2 = the end points
  kPictMsgSetEnds = 14,    // the end points = point1, point2; rect = bounds
};
// Shape kinds of message 7.
enum : int32 { kPictShapeRect = 0, kPictShapeOval = 1, kPictShapeOther = 2 };
// Parts of the style word.
enum : uInt32 {
  kPictLooksMask = 0xF0FF00,
  kPictVariantMask = 0xFF,
  kPictDirectionMask = 0xF0000,
  kPictColourLookMask = 0xF00,
  kPictBWLookMask = 0xF000,
  kPictGradient = 0x200000,  // gradient rectangles on colour ports of depth 8 or more
};

// One entry of the table: the procedure and its style word.
struct PictureProcEntry {
  PictureProc proc;
  uInt32 style;
};
constexpr int32 kPictureProcCount = 375;
constexpr int32 kFirstControlPict = 9;
// The table, in picture-code order.
const PictureProcEntry* PictureProcTable();
// The version below which a panel's line pictures share one image.
constexpr uInt32 kLinePictOwnStateVersion = 0x04502046;

// A new procedural image (flags 0, kind 10, the procedure, the style, both
// state words 0): 2 when no image entry can be had (id 0).
MgErr INewProcImage(PictureProc proc, uInt32 style, int32* image);
// Registers the table at start-up: entry n into picture code n + 9.  An
// entry that gets no image leaves its code 0 and the next one goes on.
QX_EXTERN_C void InitFPImages();

// The default answers every procedure falls back on, for rectangular and
// oval pictures: 0, 5 and 6 nothing; 1 a placeholder (the shape painted in
// backColor and framed in foreColor, both diagonals); 2 and 3 the hit
// tests of the shape; 4 a 32 x 32 size; 7 the shape kind; 10 no state of
// its own; any other message is an internal error.  Each returns 0.
QX_EXTERN_C int32 RectDefaultPictProc(int32 message, PictStyleBlock* style, PictMessageBlock* block);
QX_EXTERN_C int32 OvalDefaultPictProc(int32 message, PictStyleBlock* style, PictMessageBlock* block);
// Whether a point lies in the ellipse of r (right and bottom edges
// excluded), and whether a rectangle meets it.
Bool32 PtInEllipse(Point p, const Rect* r);
Bool32 RectMeetsEllipse(const Rect* test, const Rect* oval);

// The picture procedures of the table.
#define QX_PICT_PROC(name) QX_EXTERN_C int32 name(int32 message, PictStyleBlock* style, PictMessageBlock* block)
QX_PICT_PROC(RectPictProc);
QX_PICT_PROC(OvalPictProc);
QX_PICT_PROC(RectFramePictProc);
QX_PICT_PROC(OvalFramePictProc);
QX_PICT_PROC(WideRectFramePictProc);
QX_PICT_PROC(WideOvalFramePictProc);
QX_PICT_PROC(CheckBoxPictProc);
QX_PICT_PROC(RoundPushPictProc);
QX_PICT_PROC(SquarePushPictProc);
QX_PICT_PROC(SwitchPictProc);
QX_PICT_PROC(TogglePictProc);
QX_PICT_PROC(SliderPictProc);
QX_PICT_PROC(RoundLEDPictProc);
QX_PICT_PROC(SquareLEDPictProc);
QX_PICT_PROC(LEDButtonPictProc);
QX_PICT_PROC(TrianglePictProc);
QX_PICT_PROC(RightTrianglePictProc);
QX_PICT_PROC(ArrowRectPictProc);
QX_PICT_PROC(RndRectPictProc);
QX_PICT_PROC(OblongPictProc);
QX_PICT_PROC(HalfOvalPictProc);
QX_PICT_PROC(LinePictProc);
QX_PICT_PROC(RefNumPictProc);
QX_PICT_PROC(KnobPictProc);
QX_PICT_PROC(PathGlyphPictProc);
QX_PICT_PROC(TagGlyphPictProc);
QX_PICT_PROC(GlyphButtonPictProc);
QX_PICT_PROC(ArrowTabPictProc);
QX_PICT_PROC(DiamondPictProc);
QX_PICT_PROC(DlgButtonPictProc);
QX_PICT_PROC(DlgRingPictProc);
QX_PICT_PROC(DlgRadioPictProc);
QX_PICT_PROC(DlgCheckBoxPictProc);
QX_PICT_PROC(DlgBoxPictProc);
QX_PICT_PROC(BevelRingPictProc);
QX_PICT_PROC(SystemFramePictProc);
QX_PICT_PROC(FaceFillPictProc);
QX_PICT_PROC(MenuFillPictProc);
QX_PICT_PROC(MenuBoxPictProc);
QX_PICT_PROC(PopupArrowPictProc);
// Shapes drawn with port primitives.
QX_PICT_PROC(PlainTrianglePictProc);
QX_PICT_PROC(BarPictProc);
QX_PICT_PROC(StemPictProc);
QX_PICT_PROC(OpenTankPictProc);
QX_PICT_PROC(OvalZigzagPictProc);
QX_PICT_PROC(OvalCrossPictProc);
QX_PICT_PROC(TwinTrianglePictProc);
QX_PICT_PROC(FlaskPictProc);
QX_PICT_PROC(TrapezoidPictProc);
QX_PICT_PROC(DrumPictProc);
QX_PICT_PROC(ZigzagPictProc);
// Process-plant equipment.  The valve's kind picks its actuator: a block
// against the edge (ValvePictProc) or a half oval further in
// (RoundValvePictProc).
QX_PICT_PROC(ValvePictProc);
QX_PICT_PROC(RoundValvePictProc);
QX_PICT_PROC(TeePictProc);
QX_PICT_PROC(ElbowPictProc);
QX_PICT_PROC(PipePictProc);
QX_PICT_PROC(PumpPictProc);
QX_PICT_PROC(MotorPictProc);
QX_PICT_PROC(HopperAPictProc);
QX_PICT_PROC(HopperBPictProc);
#undef QX_PICT_PROC
