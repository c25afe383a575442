// The words of panel object records that the data walkers read: where a
// panel object keeps its type, its owner, its parts and the offsets of its
// entries in the panel's data space.  The offsets are set by the panel's
// allocation methods and by the load steps; they come from VI files, so
// every reader checks them against the data space before use.
//
// Records are read as 32-bit words at byte offsets of the object's data in
// its heap (machine order); the layouts below fix those offsets.
#pragma once
#include <cstddef>

#include "engine/datatype.h"
#include "mgsource/objheap.h"

// The leading words of every data display object (DDO) and data controller.
struct PanelObjHeader {
  uInt32 flags;    // word 0
  int32 owner;     // word 1: the owner object, 0 for the root
  int16 partId;    // byte 8
  int16 partOrder; // byte 10
  int32 w3;        // word 3: a controller's TypeID
  int32 w4;
  int32 w5;        // word 5: a controller's display object
  int32 partList;  // word 6: a DDO's part list; a controller's record offset
  int32 w7;        // word 7: a controller's record descriptor offset
  int32 w8;
  int32 typeId;    // word 9: a DDO's TypeID
};
static_assert(sizeof(PanelObjHeader) == 40 && offsetof(PanelObjHeader, owner) == 4 &&
              offsetof(PanelObjHeader, partId) == 8 && offsetof(PanelObjHeader, partOrder) == 10 &&
              offsetof(PanelObjHeader, w3) == 12 && offsetof(PanelObjHeader, w5) == 20 &&
              offsetof(PanelObjHeader, partList) == 24 && offsetof(PanelObjHeader, typeId) == 36,
              "panel object header");

// Words (32-bit word numbers) of the classes.
enum : int32 {
  kPWOwner = 1,
  kPWDCOTypeId = 3, kPWDCODisplay = 5, kPWDCORecord = 6, kPWDCORecordTD = 7,
  kPWDDOTypeId = 9,
  kPWClusterElements = 10,  // the cluster's element list
  kPWRefNumContained = 10,
  kPWNumRange = 11,         // a numeric's range entry
  kPWArrayElement = 10,     // the array's element display object
  kPWArrayGrid = 11,        // two int16: the visible grid's columns and rows, each less one
  kPWArrayShown = 12,       // two int16: the shown element's place (column, row) in the visible grid
  kPWArrayPrivate = 13,     // the private record: three index handles, then an element copy
  kPWArrayPrivateTD = 14,
  kPWTableData = 10,
  kPWScaleData = 7,
  kPWGraphChartType = 10, kPWGraphState = 11, kPWGraphHistory = 13, kPWGraphImage = 19,
};

// The container control and its word holding the embedded-object record.
constexpr int32 kClsContainer = 175;
constexpr int32 kPWContainerObject = 10;

// The array object record after the header.
struct PanelArrayRec {
  PanelObjHeader hdr;
  int32 element;
  int16 grid[2];   // columns less one, rows less one
  int16 shown[2];  // [0] added to the last dimension, [1] to the one before
  int32 privateData;
  int32 privateTD;
};
static_assert(sizeof(PanelArrayRec) == 60 && offsetof(PanelArrayRec, element) == 4 * kPWArrayElement &&
              offsetof(PanelArrayRec, grid) == 4 * kPWArrayGrid &&
              offsetof(PanelArrayRec, shown) == 4 * kPWArrayShown &&
              offsetof(PanelArrayRec, privateData) == 4 * kPWArrayPrivate,
              "array object record");

// The graph/chart record: its kind is the unsigned 16-bit word at byte 98;
// charts are the kinds 101 to 199.
constexpr int32 kPanelGraphKindByte = 98;
constexpr int32 kPanelGraphRecSize = 100;
// The tag's inline field (part 11 of a tag answers its address).
constexpr int32 kPanelTagInlineByte = 40;
constexpr int32 kPanelTagRecSize = 52;
static_assert(kPanelTagInlineByte + 12 == kPanelTagRecSize, "tag inline field");

// Part ids the data classes answer for.
enum : int16 {
  kPartVariantValue = 9,
  kPartTagInline = 11,
  kPartRingText = 12,
  kPartRingItems = 14,
  kPartScaleLabels = 17,
  kPartBoolValue = 22,
  kPartSlideHousing = 23,
  kPartSlideFill = 31,
  kPartDigital = 8001,
  kPartArrayIndex = 8002,  // an array's index display: its order is the dimension
  kPartTypeDefControl = 8010,
  kPartGraphFlags = 8011,
  kPartGraphFlags2 = 8014,
};

// The lowest data offset of a panel entry: the data space's header block.
constexpr int32 kPanelDataFloor = 528;

// A label part's text: a data-zone LStr handle in word 9 (null: empty).
constexpr int32 kPWLabelText = 9;

// The descriptor of the data-space entry of the heap's VI that starts at
// dataOffset and whose descriptor lies at tdOffset of the VI's data-space
// descriptor, when the two words name the same entry, it holds at least
// bytes and lies inside the data space; else null (reported as debug text).
// Stored pairs of words are checked with it before their entry is read.
QX_EXTERN_C const TypeDescriptor* PanelEntryTD(ObjHeap heap, int32 dataOffset, int32 tdOffset, int32 bytes);
// Tells PanelEntryTD that a VI's data-space type map was freed, replaced or
// rewritten in place: the entries it keeps indexed are found anew.  Every
// owner of a map calls it before such a change.
void DSTypeMapChanged();
