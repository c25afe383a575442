// What the unit-label editing shares with the unit lookup of panel objects:
// the object words it reads, the search for an object's unit label and the
// label text with its over-long replacement.
#pragma once
#include "engine/datatype.h"
#include "mgsource/objheap.h"
#include "rtlib/units.h"

// The part ids: a numeric's unit label and its display part, whose panel
// data holds the display factor and offset (its sixth and seventh doubles).
constexpr int16 kUnitLabelPartId = 65;
constexpr int16 kUnitDisplayPartId = 17;
constexpr int32 kUnitDisplayFactorDouble = 5;
// Label texts are at most this long.
constexpr int32 kUnitMaxLabelText = 255;
// The string list whose entry 1 replaces a longer label, and its text when
// the run-time resource file has no such list.
constexpr int32 kUnitLongLabelListId = 11190;
#define kUnitLongLabelText "Unit label must be less than 256 characters."

int32 UnitObjWord(ObjHeap heap, int32 obj, int32 word);
int16 UnitPartId(ObjHeap heap, int32 obj);
int16 UnitPartOrder(ObjHeap heap, int32 obj);
// The object's part of the id (and of the order; -1 takes any), 0 for none.
int32 UnitPartOf(ObjHeap heap, int32 obj, int16 id, int32 order);
// The data's descriptor of an object that is no scale: an array's element,
// a cluster's first element; null when there is none.
const TypeDescriptor* UnitValueTD(ObjHeap heap, int32 object);
// The unit label (part 65) of the object or of the first owner that has one
// while the objects are parts; 0, written to the debug output, when none.
int32 UnitLabelPart(ObjHeap heap, int32 object);
// True when the record's pairs are the dimension list of the descriptor of
// a numeric with a unit (for any other descriptor: when it has no pairs).
bool UnitDimsEqual(const TypeDescriptor* td, const ParsedUnit* rec);
// The text that replaces an over-long label, as a Pascal string.
void UnitLongLabelText(Str255 text);
// The label's text as [*begin, *end); one of more than 255 characters is
// replaced, in the label too, by the text that says so (which spare may
// hold).  False when the word names no live text handle or its count does
// not fit the handle.
bool UnitLabelText(ObjHeap heap, int32 label, const uChar** begin, const uChar** end, Str255 spare);
