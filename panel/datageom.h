// Geometry of composite data objects and the moves of text entry between
// their elements: frames fitted around arrays, refnums and clusters; the
// needles and fills of slides and knobs following their values; the index
// displays of an array stacked; text parts taking keys; Tab from element to
// element; picture-ring grid menus; arrays scrolled by whole cells.
//
// Objects come from VI files: every offset is checked to name a used block
// large enough for what is read before it is read.  User-interface thread
// only.
#pragma once
#include "engine/panelrec.h"
#include "mgsource/window/menus.h"
#include "panel/dataxfer.h"
#include "panel/objects.h"
#include "panel/transact.h"

// Words and fields of the composite objects used here (byte offsets).
enum : int32 {
  kArrayGridColsAt = 44,   // int16: visible columns less one
  kArrayGridRowsAt = 46,   // int16: visible rows less one
  kArrayFirstColAt = 48,   // int16: grid column of the element shown
  kArrayFirstRowAt = 50,   // int16: grid row of the element shown
  kContainerElementsWord = 10,  // a cluster's element list, an array's element, a refnum's inner object
};
// Part ids of the frames, needles and index displays.
enum : int16 {
  kPartFrame = 9, kPartTextOfDisplay = 10, kPartFrameInner = 28, kPartIndexFrame = 30,
  kPartNeedle = 23, kPartFill = 31, kPartHousing = 8, kPartScale = 17,  // index displays: kPartArrayIndex
};
// Object flag bits of this family.
enum : uInt32 {
  kArrayFlagWideCells = 1u << 18,      // the element's cell is one pixel larger on each side
  kClusterFlagFollowH = 1u << 21,      // the frame follows the elements horizontally
  kClusterFlagFollowV = 1u << 22,      // ... and vertically
  kSlideFlagHorizontal = 1u << 21,
  kObjFlagNoCachedImage = 1u << 22,    // the object's off-screen image cannot be used
  kFillFlagStrips = 1u << 1,           // only the changed strips of a fill are redrawn
  kFillFlagFromTop = 1u << 22,         // the fill's base is the scale's top
  kFillFlagStopAtNeedle = 1u << 23,    // the fill stops at the nearest needle of another order
};
// Options of ObjUpdateDataBounds and its answer bit.
enum : int32 {
  kBoundsDrawNow = 1, kBoundsShowDigital = 2, kBoundsSetPort = 4, kBoundsOptionsMax = 7,
  kBoundsInvalidated = 0x20000,
};


// Resize the frame (part 9) around the contents; 1 when it changed (the
// object was invalidated, the frame and then the object sized, the object
// invalidated again), else 0.  No element (inner object, visible element)
// or no frame: 0.
QX_EXTERN_C int32 ArrayFitFrame(ObjHeap heap, int32 array);
QX_EXTERN_C int32 RefNumFitFrame(ObjHeap heap, int32 refnum);
QX_EXTERN_C int32 ClusterFitFrame(ObjHeap heap, int32 cluster, int32 margin);
// A cluster's element list word; 0 when its block does not hold the word.
inline int32 ClusterElementList(ObjHeap heap, int32 cluster) {
  return cluster > 0 && OHUsedBlockHolds(heap, cluster, 4 * (kContainerElementsWord + 1))
             ? ObjWord(heap, cluster, kContainerElementsWord)
             : 0;
}
// ClusterFitFrame of a cluster with its element list word (not 0).
int32 ClusterFitList(ObjHeap heap, int32 cluster, int32 list, int32 margin);

// Moves the needles (and a slide's fills) of a slide or knob from the old
// to the new value (old null: everything moves); options as above (above 7:
// an assertion and nothing done).  0x20000 when a changed rectangle was
// invalidated rather than drawn, else 0.
QX_EXTERN_C int32 ObjUpdateDataBounds(ObjHeap heap, int32 object, const void* oldData, const void* newData,
                                      int32 options);
// The same for a caller that has read the object's type descriptor already
// (its typedefs skipped); null has it read here.
int32 ObjUpdateDataBoundsOfType(ObjHeap heap, int32 object, const TypeDescriptor* td, const void* oldData,
                                const void* newData, int32 options);

// Sizes the fills (parts 31) of a slide to its value (data): each from its
// base (the scale's top with fill flag bit 22, else its bottom; on a cluster
// with bit 23 the nearest needle of another order on the way) to its value,
// pinned to the scale.  The unions of the rectangles the fills left and
// entered; 1 when any fill changed, else 0 (also for a knob, or a scale part
// that is not the object's part 17; 0 names that part).
QX_EXTERN_C int32 ObjMapDataToScale(ObjHeap heap, int32 object, int32 scalePart, Rect* left, Rect* entered,
                                    const void* data);

// Gives every index display of the array the text style of the changed one
// (0: none) and stacks them, the index frame (part 30) ending 2 pixels below.
QX_EXTERN_C void ArrayFitIndexText(ObjHeap heap, int32 array, int32 changed);

// The do-it of a data object's text part (part, or the first of partId):
// keys, presses and commits; flags bit 0 keep the key focus, bit 11 commit,
// bit 20 leave a commit alone.  The result bits.
QX_EXTERN_C int32 ObjTextActivate(ObjHeap heap, int32 object, int32 part, int32 partId, ActionParams* params,
                                  int32 flags);

// Moves the text entry from the element named at frame (the owner's frame,
// level 3 with the element's index, or level 1 with the element's frame
// next) to the next one, or the previous with Shift, wrapping; the owner is
// object, or the frame's object when it is 0.  The last reply of an element.
QX_EXTERN_C int32 ElementTabNext(ObjHeap heap, int32 object, TransactionFrame* frame, ActionParams* params);

// The element object a path designates: from object down through the
// frames of path while the object is a GrouperObject; 0 when the path ends
// inside groupers.
QX_EXTERN_C int32 PathFindElement(ObjHeap heap, const TransactionFrame* path, int32 object);

// ObjClickOperates is in panel/ctrlops.h.
#include "panel/ctrlops.h"

// Scrolls the array's grid by the whole element cells between the element
// and the request's point (a transaction state: mode, point word); the
// cells (rows in v, columns in h) as a point word, or 0.  A drag over the
// array (mode 22) of objects of its own heap that include the array or lie
// inside it only moves the request's point back.
QX_EXTERN_C int32 ArrayDragScroll(ObjHeap heap, int32 array, TransactionState* request, const DataXferRec* xfer);
constexpr int32 kTRModeDragOver = 22;
