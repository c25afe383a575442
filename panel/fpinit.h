// New panel objects placed on a panel, and the images cosmetics and labels
// are made with.  User-interface thread only.
#pragma once
#include "mgsource/rects.h"
#include "panel/objects.h"

// The panel modifications a new object records for its VI.
constexpr uInt32 kDocModObject = 0x80000001, kDocModCosmetic = 0x80000020;

// A new object of the named class on the panel: the selection emptied, the
// object made and initialised from the template of the resource id.  Kind
// "DDO " (refused for a VI of kind 7) makes it with category "QXCT" and
// centres it on the point; kind "COSM" with category "COSM", not moved.
// The VI is marked modified.  The object, or 0.
QX_EXTERN_C int32 FPNewObjectAt(ObjHeap heap, Point where, uInt32 kind, ConstPStr className, int32 unused,
                                int32 rsrcId);
// An image reference from a template's (kind, number): 0 a built-in control
// picture, 1 the current image (one more use; the rectangle becomes the
// current rectangle), 2 the image resource of that number from the run-time
// resource file (the image table cleared first).  0 or an error.
QX_EXTERN_C MgErr FPMakeObjImage(int32 kind, int32 number, int32* imageRef, Rect* rect);
// Draws a loaded image reference at the rectangle moved by the point.
QX_EXTERN_C void FPDrawImageAt(const Rect* rect, int32 image, Point at);
// The current image and its rectangle (set when pasting).
extern int32 gObjImageCurrent;
extern Rect gObjImageCurrentRect;
