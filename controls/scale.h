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

#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

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
  int16 mapping;      // 0 linear, 1 logarithmic (base 10)
  uInt32 endParts[2];
  UHandle markers;    // int32 count, then {float64 value, uInt32 colour} ascending
};
static_assert(sizeof(ScaleRec) == 96 && offsetof(ScaleRec, centre) == 72 && offsetof(ScaleRec, radius) == 76 &&
              offsetof(ScaleRec, pixelStart) == 78 && offsetof(ScaleRec, mapping) == 82 &&
              offsetof(ScaleRec, endParts) == 84 && offsetof(ScaleRec, markers) == 92,
              "scale record");
constexpr int32 kScaleMarkerEntry = 12;

enum : int16 { kScaleLinear = 0, kScaleLog = 1 };

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
QX_EXTERN_C int32 ScaleSetRangeValue(ObjHeap heap, int32 scale, int32 index, float64 value, int32* newIndex);
int32 ScaleSetLinearRange(ObjHeap heap, int32 scale, int32 index, float64 value, int32 limit);
int32 ScaleSetLogRange(ObjHeap heap, int32 scale, int32 index, float64 value, int32 limit);
// A marker increment of round figures for the range between a and b in at
// most limit markers (display format code and precision choose the figures).
float64 ChooseLinearIncrement(float64 a, float64 b, int32 limit, int32 precision, int32 code);
float64 LogIncrement(float64 lower, float64 upper, int32 limit, int32 code);
float64 ScaleMinorIncrement(ObjHeap heap, int32 scale, Bool32 round);
// How many marker labels fit along the scale (at least 2).
int32 ScaleMaxMarkers(ObjHeap heap, int32 scale, Bool32 round);
Bool32 ScaleValuesNearlyEqual(float64 a, float64 b);
// The marker array entry of a marker index (0 the last, 1 the first, n >= 2
// the entry n - 2); null outside the array.
UPtr ScaleMarkerEntry(ObjHeap heap, int32 scale, int32 index);
int32 ScaleReorderMarker(ScaleRec* rec, int32 index);
float64 IntPower(float64 base, int32 n);

// ---- Markers and labels --------------------------------------------------------------
// Recounts the scale's major markers and recomputes its bounds; 0.
QX_EXTERN_C MgErr ScaleRecalc(ObjHeap heap, int32 scale);
// The text-label list (a CPStr handle) of the scale of a slide, knob or
// colour ramp with text labels; null otherwise.
QX_EXTERN_C UHandle SlideScaleMarkerList(ObjHeap heap, int32 scale);
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

// Gives the panel and the data manager the scale services; start-up.
void ControlsInstallScaleHooks();
