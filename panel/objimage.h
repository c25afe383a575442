// The images of panel objects: one table for all panels, keyed by the image
// resource number, so that objects naming the same image share it.
//
// An object's image reference is a 32-bit word: 0 no image; negative a
// built-in control picture; while stored, the image's resource number in the
// high half; once loaded, 0x10000 | the image id (IGet).  Table entries hold
// {resource number, use count, image id} as three 16-bit words; the table is
// freed when its last entry goes.  User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/rsrc.h"

constexpr int32 kObjImageHeld = 0x10000;
constexpr int32 kImageTableFree = 0xFFFF;  // the resource number of an entry not to be shared
constexpr int32 kImageTableEntry = 6;

// The image kinds tried for an object image, in order.
constexpr int32 kObjImageKinds[] = {12, 16, 9, 5};

// Marks every entry free (resource number 0xFFFF): images loaded from then
// on are not shared with those before.
QX_EXTERN_C void FPClearImageTable();
// Loads the image an object's stored reference names (see above): 0, or an
// error with the reference released and cleared.  A resource number already
// in the table is shared and takes no resource number; any other must be the
// next number of the resource counter, else 1.
QX_EXTERN_C MgErr FPLoadObjImage(RsrcFileRef file, int32* imageRef, const Rect* bounds, uInt32 version);
// Releases one use of a loaded reference: 0, or 1 (and an assertion) for a
// reference the table does not hold.  The last use frees the image.
QX_EXTERN_C int32 FPSetObjImage(int32 imageRef);
// Adds one use: 0, or 1 for a reference the table does not hold.
QX_EXTERN_C int32 FPCheckImageRef(int32 imageRef);
// True when the table holds the reference (no report otherwise).
bool FPObjImageHeld(int32 imageRef);
// The uses of a loaded reference, 0 when not held; the number of entries.
int32 FPObjImageUses(int32 imageRef);
int32 FPImageTableCount();
