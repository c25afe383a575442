// Redrawing panel objects through invalidation: the invalidation (message
// 22), rectangle (message 23) and overlap-marking (message 21) methods of
// the panel classes, and the helpers that decide whether a cosmetic part
// paints every pixel of its rectangle.
//
// Nothing here draws: rectangles of the panel's window (panel coordinates)
// are added to the window's area waiting to be redrawn, and objects that
// cannot be drawn straight onto the window get the marking bits.  Objects
// come from VI files: every offset is checked to name a used block large
// enough for what is read, and nested sends are bounded by the heap's size.
// User-interface thread only.
#pragma once
#include "mgsource/draw/dport.h"
#include "panel/objects.h"
#include "panel/objload.h"

// Object flag bits of this family.
enum : uInt32 {
  kObjFlagOpaque = 0x2,       // a cosmetic part paints every pixel of its rectangle
  kObjFlagOverlapMark = 0x4,  // drawn through invalidation (set by the marking)
  kObjFlagMoved = 0x1000,     // moved since it was last invalidated
  kRootFlagRemark = 0x80000,  // the root: the marking must be computed again
};
// OInval levels.
enum : int32 { kInvalAll = 0, kInvalValue = 1, kInvalFrame = 2 };
// OGetRect kinds named here (every other kind answers the bounds).
enum : int32 { kRectBounds = 0, kRectMain = 2, kRectFrame = 3, kRectMainOnly = 5 };

// Asks for the object to be drawn again at a level (message 22).
QX_EXTERN_C void OInval(ObjHeap heap, int32 object, int32 level);
// OMarkInRect (panel/objects.h) takes (region, clip rectangle, bits): the
// region (a DRgn, 0: none) collects the rectangles visited; nonzero when
// the object was marked.

// The union of the bounds of the object's scale parts (a knob's two
// apart); an empty rectangle without one.
QX_EXTERN_C void FPUnionScaleRects(ObjHeap heap, int32 object, Rect* rect);
// Whether the rectangle, clipped to clip, meets the region (0 without a
// region or when the two rectangles do not meet); with add, the clipped
// rectangle is then added to the region.
QX_EXTERN_C Bool32 FPRectTouchesRegion(const Rect* rect, const Rect* clip, DRgn region, Bool32 add);
// Sets or clears the marking bits of a label and its text record's mode bit
// 0x4000.
QX_EXTERN_C void FPSetTextMarked(ObjHeap heap, int32 label, uInt32 bits, Bool32 set);
// Whether the cosmetic part paints every pixel of its rectangle, kept in
// its flag bit 0x2; a change on a front panel sets the root's 0x80000.
QX_EXTERN_C int32 FPInvalDiff(ObjHeap heap, int32 part);
// The opacity test by class: multi-cosmetics, the sliders and housings of
// slides and knobs and a picture's part 28 are tested; any other part
// counts as opaque (1).
QX_EXTERN_C int32 FPInvalObjRect(ObjHeap heap, int32 owner, int32 part);

// Whether part 9, 10 or 11 of the object shows its standard built-in
// picture (300, 301, 302); whether every picture of a Boolean's part 21 is
// a built-in button picture (272 to 275).
QX_EXTERN_C int32 IsPart9StdImage(ObjHeap heap, int32 object);
QX_EXTERN_C int32 IsPart10StdImage(ObjHeap heap, int32 object);
QX_EXTERN_C int32 IsPart11StdImage(ObjHeap heap, int32 object);
QX_EXTERN_C int32 GetBoolButtonImageKind(ObjHeap heap, int32 object);

// The methods of a class for slots 21, 22 and 23; null where the class has
// none of its own.
ObjMethodAddr OMarkInRectMethodFor(int32 cls);
ObjMethodAddr OInvalMethodFor(int32 cls);
ObjMethodAddr OGetRectMethodFor(int32 cls);
// True for a rectangle method that answers kRectBounds by the object's
// bounds when its block holds an object's leading fields (kObjPartList + 4
// bytes) and by an empty rectangle otherwise, with no other effect.
bool OGetRectAnswersBounds(ObjMethodAddr method);
// A cosmetic's block holds its words up to its background colour's.
constexpr int32 kCosmeticBytes = 36;
// The cosmetics' rectangle method, tested here before any other.
extern const ObjMethodAddr kCosmeticGetRectMethod;
// OGetRectBoundsRead for a method that is not the cosmetics'.
bool OGetRectBoundsReadOther(ObjHeap heap, int32 o, int32 usable, ObjMethodAddr method, Rect* out);
// What the rectangle method of the object's class answers for kRectBounds,
// read from the object's block, for the methods that read nothing else
// there: those OGetRectAnswersBounds names, the grouper's, and the
// cosmetics' for a cosmetic with no image (not a big multi-cosmetic).  The
// object is a used block of usable bytes and class cls (a header check the
// caller made), method its class's rectangle method.  False, with nothing
// read, when the message must be sent.
inline bool OGetRectBoundsRead(ObjHeap heap, int32 o, int32 usable, int32 cls, ObjMethodAddr method, Rect* out) {
  // A decoration, the commonest part, is read here.
  if (method != kCosmeticGetRectMethod) return OGetRectBoundsReadOther(heap, o, usable, method, out);
  if (cls == kClsBigMultiCosmetic) return false;
  if (usable < kCosmeticBytes) {
    *out = Rect{0, 0, 0, 0};
    return true;
  }
  // An image reference whose id is not 0 is asked for its mask's bounds.
  uInt32 image;
  __builtin_memcpy(&image, *heap + o + kObjImage, sizeof image);
  if (image & 0xFFFF) return false;
  __builtin_memcpy(out, *heap + o + kObjBounds, sizeof *out);
  return true;
}
