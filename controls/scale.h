// Scales: the numeric layout every scale keeps in the panel's data space
// (its ScaleRec), mapping values to pixel positions and angles and back,
// changing one range value (an end, the marker increment or the automatic
// increment), recounting a scale's markers, and the text labels a slide,
// knob or colour ramp gives its scale.
//
// Scale records and the words of scale objects come from VI files: every
// record is found through the scale object's pair of data and descriptor
// words (or checked against the data space when given by offset), and marker
// arrays are read within their handle.
#pragma once
#include <cstddef>

#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

// The mapping of a scale: 0 linear, 1 logarithmic (base 10).
typedef int16 ScaleMapping;
enum : ScaleMapping { kScaleLinear = 0, kScaleLog = 1 };
// The marker array: a count, then the entries in ascending value order.
struct ScaleMarker {
  float64 value;
  uInt32 colour;
};
struct ScaleMarkers {
  int32 count;
  ScaleMarker entries[1];
};
static_assert(sizeof(void*) != 4 || (sizeof(ScaleMarker) == 12 && offsetof(ScaleMarkers, entries) == 4), "marker array");

// The record, in the panel's data space.
struct ScaleRec {
  float64 min;        // value at the pixel start (may exceed max: inverted)
  float64 max;        // value at the pixel end
  float64 start;      // value of the first major marker
  float64 increment;  // linear: distance of major markers; logarithmic: their ratio
  float64 minorIncrement;
  float64 multiplier; // displayed value = value * multiplier + offset; never 0
  float64 offset;
  float64 startAngle; // round scales: angle of min, counter-clockwise from the right
  float64 sweep;      // round scales: angle covered clockwise from the start
  Point centre;       // round scales
  int16 radius;       // round scales: radius of the marker labels
  int16 pixelStart;   // pixel coordinate of min
  int16 pixelEnd;     // pixel coordinate of max
  ScaleMapping mapping;
  uInt32 endParts[2];
  UHandle markers;    // ScaleMarkers
};
static_assert(sizeof(ScaleRec) == 96 && offsetof(ScaleRec, centre) == 72 && offsetof(ScaleRec, radius) == 76 &&
              offsetof(ScaleRec, pixelStart) == 78 && offsetof(ScaleRec, mapping) == 82 &&
              offsetof(ScaleRec, endParts) == 84 && offsetof(ScaleRec, markers) == 92,
              "scale record");
constexpr int32 kScaleMarkerEntry = 12;  // the stored size of a ScaleMarker

// Scale object words and fields (byte offsets of the object's data).
enum : int32 {
  kScaleObjData = 7,          // word: offset of the ScaleRec in the data space
  kScaleObjDataTD = 8,        // word: offset of its descriptor
  kScaleObjBounds = 16,       // Rect: the scale's bounds (the common object field)
  kScaleObjInner = 36,        // Rect: the area of ticks and labels
  kScaleObjMarkerCount = 44,  // int16: major markers of the last walk
  kScaleObjEditIndex = 46,    // int16: marker whose label is edited, -1 none
  kScaleObjFormat = 48,       // int16: the display format code
};
// Flag bits of a scale object.
enum : uInt32 {
  kScaleHidden = 0x8,
  kScaleRound = 0x10000,
  kScaleArbitrary = 0x20000,
  kScaleArrayHasEnds = 0x40000,
  kScaleTextLabels = 0x100000,
  kScaleHorizontal = 0x200000,
  kScaleEndLabels = 0x1000000,
  kScaleEndTicks = 0x2000000,
  kScaleInnerLabels = 0x4000000,
  kScaleInnerTicks = 0x8000000,
  kScaleMinorTicks = 0x10000000,
  kScaleLooseFit = 0x40000000,
};
// The label part's flag bit: the label takes the size of its text.
constexpr uInt32 kScaleLabelFitsText = 0x20000;
// Parts of a scale, and the scale part of its control.
enum : int16 { kScalePartLabel = 27, kScalePartTick = 40, kScalePartMinorTick = 45, kControlPartScale = 17 };
// Reply flags of a range change.
enum : int32 { kScaleReplyMarkers = 0x80, kScaleReplyRange = 0x280, kScaleReplyArrayEnds = 0x200 };

// The scale's record, through its object's data and descriptor words; null
// (with an assertion) when the words name no record inside the data space.
ScaleRec* ScaleRecOf(ObjHeap heap, int32 scale);
// The record at a data offset of the panel's data space; null (with an
// assertion) when none lies there whole.
ScaleRec* ScaleRecAt(ObjHeap heap, int32 dataOffset);

// The range of the control's scale (part 17): its ends and their pixels
// (any output may be null), and whether the values grow toward the left
// (a horizontal scale) or toward the bottom (a vertical one).  0 without a
// scale.
QX_EXTERN_C int32 GetScaleRange(ObjHeap heap, int32 control, float64* min, float64* max, int16* pixelStart,
                                int16* pixelEnd);

// ---- Mappings ------------------------------------------------------------------------
// Numeric types: 1-3, 5-7, 9-11 (bit 0x10 ignored); others are assertions
// and nothing is written.  Pixels are pinned to +-15000 (NaN: 15005).
QX_EXTERN_C void MapValuesToPixels(ObjHeap heap, int32 dataOffset, int32 numType, const void* values,
                                   int32 valueStride, int32 count, int16* pixels, int32 pixelStride);
// The pixel stride counts 16-bit elements, the value stride bytes.  Integer
// results are clamped to their type and rounded half to even.
QX_EXTERN_C void MapPixelsToValues(ObjHeap heap, int32 dataOffset, int32 numType, const int16* pixels,
                                   int32 pixelStride, int32 count, void* values, int32 valueStride);
// The pixel pinned between the two pixel ends (written back), then mapped.
QX_EXTERN_C void ScalePixelToValuePinned(ObjHeap heap, int32 dataOffset, int32 numType, int16* pixel, void* value);
// The pixel of a value, pinned between the two pixel ends.
QX_EXTERN_C void ScaleValueToPixelPinned(ObjHeap heap, int32 dataOffset, int32 numType, const void* value,
                                         int16* pixel);
// The point at the radius from a round scale's centre where the value lies
// along the sweep (values past the ends at the ends).
QX_EXTERN_C void KnobValueToPoint(ObjHeap heap, int32 dataOffset, int32 numType, int32 radius, const void* value,
                                  Point* point);
// The angle in [0, 2 pi) of the point about a round scale's centre (0 for
// the centre itself).
QX_EXTERN_C void KnobPointToAngle(ObjHeap heap, int32 dataOffset, Point point, float64* angle);
// The value of an angle: min just counter-clockwise of the start angle, max
// just clockwise of the end of the sweep, else mapped along the sweep.
QX_EXTERN_C void KnobAngleToValue(ObjHeap heap, int32 dataOffset, int32 numType, float64 angle, void* value);

// ---- Range values --------------------------------------------------------------------
// Sets one range value given in displayed units: index -2 the automatic
// increment (value ignored), 0 the upper and 1 the lower end, others the
// increment from the marker after the lower end (or, with arbitrary markers,
// that marker, whose index after reordering goes to newIndex).  Reply flags.
// A value that is not finite only invalidates the scale (0); a marker index
// outside the marker array changes nothing (0).
QX_EXTERN_C int32 ScaleSetRangeValue(ObjHeap heap, int32 scale, int32 index, float64 value, int32* newIndex);
int32 ScaleSetLinearRange(ObjHeap heap, int32 scale, int32 index, float64 value, int32 limit);
int32 ScaleSetLogRange(ObjHeap heap, int32 scale, int32 index, float64 value, int32 limit);
// A marker increment of round figures for the range between a and b in at
// most limit markers (display format code and precision choose the figures).
float64 ChooseLinearIncrement(float64 a, float64 b, int32 limit, int32 precision, int32 code);
// The same for ends already in order (a <= b; others are an assertion and 0).
float64 LinearIncrementCore(float64 a, float64 b, int32 limit, int32 precision, int32 code);
float64 LogIncrement(float64 lower, float64 upper, int32 limit, int32 code);
float64 ScaleMinorIncrement(ObjHeap heap, int32 scale, Bool32 round);
// How many marker labels fit along the scale (at least 2): the label's
// extent is the larger of the two ends' texts when the label part fits its
// text, else the part's size; round scales count the tick's diagonal (5 for
// a tick drawn as a line) beyond the label radius.
int32 ScaleMaxMarkers(ObjHeap heap, int32 scale, Bool32 round);
Bool32 ScaleValuesNearlyEqual(float64 a, float64 b);
// The marker array entry of a marker index (0 the last, 1 the first, n >= 2
// the entry n - 2); null outside the array.
UPtr ScaleMarkerEntry(ObjHeap heap, int32 scale, int32 index);
int32 ScaleReorderMarker(ScaleRec* rec, int32 index);
float64 IntPower(float64 base, int32 n);

// ---- Markers and labels --------------------------------------------------------------
// What a walk hands its procedure for each marker and minor tick.
enum : uInt16 {
  kScaleMarkerMinor = 0x1,     // a minor tick (nothing else is set)
  kScaleMarkerLabel = 0x2,     // the label is shown
  kScaleMarkerTick = 0x4,      // the tick is shown
  kScaleMarkerDisabled = 0x8,  // the label's text item is disabled in the owner's list
};
struct ScaleMarkerRec {
  int32 index;         // 0 the upper end, 1 the lower end, 2 and up the interior markers
  uInt32 callerMode;   // the caller's word, handed on
  int16 pixel;         // straight scales: the marker's pixel
  uInt16 flags;        // kScaleMarker*
  int32 tickPart;      // the parts, placed at the marker (0: the scale has none)
  int32 minorPart;
  int32 labelPart;
  void* cookie;        // the caller's
  Rect rect;           // the caller's
  float64 sine;        // round scales: of the marker's angle
  float64 cosine;
};
static_assert(sizeof(void*) != 4 || (offsetof(ScaleMarkerRec, callerMode) == 4 && offsetof(ScaleMarkerRec, pixel) == 8 &&
                                     offsetof(ScaleMarkerRec, flags) == 10 && offsetof(ScaleMarkerRec, tickPart) == 12 &&
                                     offsetof(ScaleMarkerRec, labelPart) == 20 && offsetof(ScaleMarkerRec, cookie) == 24 &&
                                     offsetof(ScaleMarkerRec, rect) == 28 && offsetof(ScaleMarkerRec, sine) == 36 &&
                                     offsetof(ScaleMarkerRec, cosine) == 44 && sizeof(ScaleMarkerRec) == 52),
              "marker record");
// A walk's procedure: a non-zero answer ends the walk and is its answer.
typedef int32 (*ScaleMarkerProc)(ObjHeap heap, int32 scale, ScaleMarkerRec* marker);
// Walk modes: positions only (no label texts, no tick placement); the
// edited marker's label left empty, with the panel's editing text; and the
// style replaced by end ticks, interior ticks and minor ticks (any of them).
enum : int32 {
  kScaleWalkPositions = 1,
  kScaleWalkEditing = 2,
  kScaleWalkEndTicks = 4,
  kScaleWalkInnerTicks = 8,
  kScaleWalkMinorTicks = 16,
};
// Walks the scale's markers in order (the upper end, the lower end, the
// interior markers with their minor ticks), placing the tick, minor tick and
// label parts at each and handing it to proc; the proc's first non-zero
// answer, or 0.  textList: the owner's label texts (a CPStr handle) or null.
// At most 1000 interior markers without a text list (reported, the walk then
// ends at the upper end); with one, 32767.
QX_EXTERN_C int32 ScaleForEachMarker(ObjHeap heap, int32 scale, ScaleMarkerProc proc, void* cookie, const Rect* rect,
                                     int32 mode, uInt32 callerMode, UHandle textList);
// Moves the tick part to the marker: centred on a straight scale's pixel;
// on a round scale outside (or with the horizontal bit inside) the label
// radius along the marker's angle, or, for a line picture, given the line
// of 5 pixels (3 for the minor tick part) from the radius.  The tick's
// length, negative inside.
float64 ScalePlaceTickPart(ObjHeap heap, int32 scale, int32 part, const ScaleMarkerRec* marker);
// Walk procedures: counting the markers that are not minor ticks (cookie:
// an int32 counter); uniting the bounds of the shown parts into the cookie's
// Rect (caller mode 1 labels, 2 ticks); drawing a grid line across the
// rectangle at each marker but the two pixel ends (cookie: ScaleGridPens).
QX_EXTERN_C int32 ScaleCountMarkers(ObjHeap heap, int32 scale, ScaleMarkerRec* marker);
enum : uInt32 { kScaleUnionLabels = 1, kScaleUnionTicks = 2 };
QX_EXTERN_C int32 ScaleUnionMarkerRect(ObjHeap heap, int32 scale, ScaleMarkerRec* marker);
// The graph code's grid pens (pen-table entries) and the colours they take
// on black-and-white ports.
struct ScaleGridPens {
  int32 majorPen;
  int32 minorPen;
  DColor bwFore;
  DColor bwBack;
};
QX_EXTERN_C int32 ScaleGridLine(ObjHeap heap, int32 scale, ScaleMarkerRec* marker);

// Recounts the scale's major markers and recomputes its inner rectangle and
// bounds; 0.
QX_EXTERN_C MgErr ScaleRecalc(ObjHeap heap, int32 scale);
// The area of the scale's ticks (minor ticks included) and labels, each
// when asked for; empty when the style shows none of them.
QX_EXTERN_C void ScaleGetPartsRect(ObjHeap heap, int32 scale, Rect* rect, Bool32 withLabels, Bool32 withTicks);
// The bounding box of a round scale's arc at the label radius, from the
// start angle clockwise over the sweep (the circle's for 2 pi or more).
void ScaleArcBounds(const ScaleRec* r, Rect* bounds);
// Reads the scale's style (1 to 9) when styleIn is null; else sets it: 6
// hides the scale, the others choose which ends and interior markers show
// labels and ticks and whether minor ticks show.  *ok 0 for a style outside
// 1 to 9 (nothing changed).  *styleOut: the style afterwards.
QX_EXTERN_C void ScaleStyleFlags(ObjHeap heap, int32 scale, int32* styleOut, const int32* styleIn, Bool32* ok);
// Whether the scale applies to its graph's kind: a graph's part 18 not for
// kinds 3, 4 and the charts, part 19 not for kinds 3, 4, 104 to 106; every
// other scale applies.
QX_EXTERN_C Bool32 GraphPartApplies(ObjHeap heap, int32 scale);
// The text-label list (a CPStr handle) of the scale of a slide, knob or
// colour ramp with text labels; null otherwise.
QX_EXTERN_C UHandle SlideScaleMarkerList(ObjHeap heap, int32 scale);
// Whether the scale's owner is a slide, knob or colour ramp whose display
// (part 8001) holds a text part (part 12): each missing link is an
// assertion.
QX_EXTERN_C Bool32 ScaleCheckTextLabels(ObjHeap heap, int32 scale);
Bool32 ScaleValueReached(float64 v, float64 end);
// Whether v lies past end (beyond the rounding a ratio of 1e-13 allows).
Bool32 ScaleValueBeyond(float64 v, float64 end);
// Widens the ends to whole increments of the record (whole powers of the
// increment on logarithmic scales); ends that would not be finite stay, and
// so do both ends for an increment that does not step (not positive, or a
// ratio of 1 or less).
void ScaleLooseFit(float64* lower, float64* upper, const ScaleRec* r);
// Sets the scale's range from data extremes (an end that is not finite keeps
// the scale's own), widening equal ends, and recomputes the increment and
// markers; *changed tells whether the ends moved.  Nothing changes when they
// did not and force is false.  0.
QX_EXTERN_C MgErr CalcScaleMarkers(ObjHeap heap, int32 scale, float64 lower, float64 upper, Bool32 keepIncrement,
                                   Bool32 force, Bool32* changed);

// The pixel of one value on a straight scale, as MapValuesToPixels maps it.
int16 ScaleValuePixel(const ScaleRec* r, float64 value);
// The owner's label texts for the scale (its data answer, when that is a
// handle), or null.
UHandle ScaleTextList(ObjHeap heap, int32 scale);
// Whether obj names a used block of the heap holding at least bytes.
inline bool ScaleHasBytes(ObjHeap heap, int32 obj, int32 bytes) {
  return obj > 0 && OHIsUsedBlock(heap, obj) && OHBlockSize(heap, obj) >= bytes;
}
// Unites a rectangle that is not empty into another.
void ScaleUnite(Rect* into, Rect r);
// A part's bounds (empty for a block too small to hold them).
Rect ScalePartBounds(ObjHeap heap, int32 part);
// Whether a tick part's picture is drawn as a line: a cosmetic whose
// procedural picture answers shape 2 to the opacity message.
Bool32 ScalePartIsLine(ObjHeap heap, int32 part);

// Gives the panel and the data manager the scale services; start-up.
void ControlsInstallScaleHooks();
