// Intensity graphs and charts: the 256-entry colour table a colour scale is
// reduced to, the tables that spread samples over pixels, and the picture
// that carries an 8-bit index image to the drawing manager.  The image and
// the Z autoscale themselves (BuildIntensityBitmap, ScanZRange,
// DrawIntensChartUpdate) are declared with the plot drawing in graph.h.
#pragma once
#include "controls/graph.h"

// The colour table: the count 256, then entry 0 (below the range), entries
// 1..254 (inside it) and entry 255 (above it).
constexpr int32 kColorTableEntries = 256;
constexpr int32 kColorTableBytes = 4 * (kColorTableEntries + 1);
// Flag bits of the colour scale (part 68): colours are not interpolated
// between markers; the table was given directly and is not rebuilt.
constexpr uInt32 kZScaleStepped = 0x80000;
constexpr uInt32 kZScaleIgnoreColorArray = 0x100000;
// The index image's header: row count, then row length in bytes.
constexpr int32 kIndexImageHeader = 8;

// The graph's intensity record (the colour table, the pending index image
// and the rectangle last drawn), or null when the graph's word names none
// inside the data space; valid until the data space next moves.
QX_EXTERN_C IntensityRec* IntensityRecOf(ObjHeap heap, int32 graph);
// Rebuilds the graph's colour table from its colour scale: 0, or 16 when
// the table cannot be allocated (the old one kept).  A graph without its
// colour scale or intensity record is an assertion (16).
QX_EXTERN_C int32 BuildColorTable(ObjHeap heap, int32 graph);
// How many of the markers lie at or below the value, counted from the first
// until one is greater or unordered.  The array is read within its handle.
QX_EXTERN_C int32 ColorMarkerIndex(float64 value, UHandle markers);
// n samples over the pixels firstPixel .. endPixel - 1.  More samples than
// pixels (*moreSamples 1): one entry a pixel, the samples in it; else
// (*moreSamples 0): one entry a sample, the pixels it covers (0: none),
// placed over firstData .. lastData.  A new pointer block of int32 entries
// (a count that cannot overflow however many samples a pixel takes); null
// when memory ran out.  No samples or no pixels give an empty table.
QX_EXTERN_C int32* SpanRunTable(int32 n, int32 firstPixel, int32 endPixel, int32 firstData, int32 lastData,
                                Bool32* moreSamples);
// The index image as a picture of one pixel-map record at bounds, of the
// depth, with the colour table's colours (none: no colours).  A new handle,
// or null when memory ran out or the image's header does not match its
// handle.
QX_EXTERN_C UHandle BitmapToPict(UHandle colorTable, int32 depth, const Rect* bounds, UHandle image);
// After a colour-scale change with the image kept: the colour table
// rebuilt (unless it was given directly) and the kept image drawn again;
// drawn offscreen, the cached image is then copied into the plot area.
// The drawing's reply flags (16: the table or the picture failed).
QX_EXTERN_C int32 RedrawIntensityImage(ObjHeap heap, int32 graph);
