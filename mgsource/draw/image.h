// The image table: every picture-like thing the system draws is an entry
// named by a small number, the image id (1-based; 0 is no image).  This
// part holds the icons: 32 x 32 icons of 1, 4 and 8 bits, their masks and
// icon families (kind 5), which group one of each, loaded from and written
// to resource files.  The table is used from the user-interface thread.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/rsrc.h"
#include "platform/qx_drawobj.h"

// Image kinds held here, and their resource types.
enum : int32 {
  kImageIcon1 = 1,    // "ICON" (or the first 128 bytes of "ICN#"), 128 bytes
  kImageIcon4 = 2,    // "icl4", 512 bytes
  kImageIcon8 = 3,    // "icl8", 1,024 bytes
  kImageMask = 4,     // the bytes 128-255 of "ICN#"
  kImageFamily = 5,   // no resource of its own: the members of the same id
  kImagePixmap = 6,
  kImagePicture = 9,
  kImageWindow = 13,  // a window as a drawing target: the data word is the window
  kImagePage = 14,    // a PostScript page
};
enum : int32 { kImageOwned = 0x02, kImageInFile = 0x01 };

// Loads an image of a kind from a resource file into a new entry: 0, or 15
// when the resource is missing, 16 when an icon family has no member or a
// resource is too short for its kind, 53 for kinds other than those above,
// 2 when no entry can be had.  With detach the data is taken from the file
// (the image owns it); otherwise it stays the file's resource.
QX_EXTERN_C MgErr IGet(RsrcFileRef file, int32 kind, int32 resourceId, int32* image, Bool32 detach);
// Writes an icon into a resource file: kinds 1 to 4 as a copy under their
// resource type; a family as its members of kinds 1, 2 and 3 (not the mask),
// the first error returned; other kinds write nothing and give 0.
QX_EXTERN_C MgErr IAdd(int32 image, RsrcFileRef file, ConstPStr name, int32 resourceId);
// Releases an image's data and frees its entry; a family releases its mask
// and members.
QX_EXTERN_C MgErr IRelease(int32 image);
// The kind of a valid image; 0 (and an assertion report) for an invalid id.
QX_EXTERN_C int32 IGetKind(int32 image);
// The resource type of a kind, 0 for kinds without one.
QX_EXTERN_C uInt32 IRsrcTypeOfKind(int32 kind);
// The kind of an image without a report: 0 for an id that names none.
int32 IKindOf(int32 image);
// The depth of an image: icons their own, a window its window's (WGetDepth);
// 0 for other kinds and invalid ids (reported).
QX_EXTERN_C int32 IGetDepth(int32 image);

// Window images (kind 13): the window manager makes one for the screen; the
// window it draws for is its data word.
QX_EXTERN_C MgErr ICreateWindowImage(int32* image, int32 window);
// The window of a window image, 0 for anything else.
int32 IWindowOf(int32 image);
void ISetWindowOf(int32 image, int32 window);

// Makes the image the drawing target: the current target is detached first
// (its device context given back), then the image is recorded with its
// window, depth and black-and-white flag in the drawing state and the port
// for it installed.  A window image draws into paintDc when given, else
// into a context obtained from its window and given back on detach.  0
// detaches only and leaves the null port.  Window images only for now; any
// other kind is reported and nothing is attached.
void IAttachTarget(int32 image, PlatObj paintDc);
