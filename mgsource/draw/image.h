// The image table: every picture-like thing the system draws is an entry
// named by a small number, the image id (1-based; 0 is no image): icons of
// 1, 4 and 8 bits, their masks and icon families (kind 5), pixmaps,
// sub-images, pictures, procedural images, cursors, windows, PostScript
// pages and metafiles.  Images load from resource files, whose bytes are
// not trusted: every count and offset is checked against the resource.
// The table is used from the user-interface thread.
#pragma once
#include <cstddef>

#include "mgsource/draw/pictops.h"
#include "mgsource/extcode.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "platform/qx_drawobj.h"

// Image kinds held here, and their resource types.
enum : int32 {
  kImageIcon1 = 1,    // "ICON" (or the first 128 bytes of "ICN#"), 128 bytes
  kImageIcon4 = 2,    // "icl4", 512 bytes
  kImageIcon8 = 3,    // "icl8", 1,024 bytes
  kImageMask = 4,     // the bytes 128-255 of "ICN#"
  kImageFamily = 5,   // no resource of its own: the members of the same id
  kImagePixmap = 6,   // "BMAP": PixmapInfo, host bitmap
  kImageSub = 7,      // a part of another image
  kImagePICT = 8,     // "PICT": a metafile (nothing loads one)
  kImagePicture = 9,  // "DSIM": picture data, PictInfo
  kImageProc = 10,    // "PICC": a drawing procedure and its style
  kImageCursor = 11,  // "CURS"
  kImageDIB = 12,     // "WDIB": loads as a pixmap
  kImageWindow = 13,  // a window as a drawing target: the data word is the window
  kImagePage = 14,    // a PostScript page
  kImageMeta = 16,    // "WEMF": an enhanced metafile, MetaInfo
};
// Entry flags.
enum : int32 {
  kImageInFile = 0x01,    // the data is a resource of its file (RRelease)
  kImageOwned = 0x02,     // the data belongs to the image
  kImageLive = 0x08,      // pictures: records hold pen numbers and fonts as recorded
  kImageBorrowed = 0x10,  // pictures: the data is never disposed by the image
  kImageAppZone = 0x20,   // ICreatePict input only: the data is an application-zone handle
  kImageOfPicture = 0x40, // owned by the picture naming it (and a picture's data in either zone)
};

// The records that kinds hold, big handles of the application zone.
struct PixmapInfo {
  uInt32 bits;  // handle of a BMAP's bytes, or 0 when the pixmap lives in its host bitmap
  Rect bounds;
  uInt32 depth;
};
struct PictInfo {
  Rect bounds;
  uInt32 depth;
  uInt32 penCount;  // opcode 30 and 31 records
};
struct MetaInfo {
  Rect bounds;
  uInt32 depth;
};
struct PageInfo {
  uInt32 depth;
  uInt32 spoolFile;
  uInt32 printRecord;
};

static_assert(sizeof(PixmapInfo) == 16 && offsetof(PixmapInfo, depth) == 12, "PixmapInfo");
static_assert(sizeof(PictInfo) == 16 && offsetof(PictInfo, penCount) == 12, "PictInfo");
static_assert(sizeof(MetaInfo) == 12 && offsetof(MetaInfo, depth) == 8, "MetaInfo");
static_assert(sizeof(PageInfo) == 12 && offsetof(PageInfo, printRecord) == 8, "PageInfo");

// The handle an entry's data or extra word holds.
inline UHandle IHandleOf(uInt32 word) { return reinterpret_cast<UHandle>(uintptr_t(word)); }
// The record of type T that the handle in word holds; null when there is
// no handle or it is too short for a T.
template <typename T>
const T* IInfoOf(uInt32 word) {
  UHandle h = IHandleOf(word);
  if (!h || AZGetHandleSize(h) < int32(sizeof(T))) return nullptr;
  return reinterpret_cast<const T*>(*h);
}

// One entry of the table; a free entry has kind 0 and its data word links
// to the next free entry.  A sub-image keeps u16 parent, i16 left, i16
// top, i8 width and i8 height in place of the four words.
// An entry's kind: one of the kinds above, 0 for a free entry.
typedef uInt16 ImageKind;

struct ImageEntry {
  uInt16 flags;
  ImageKind kind;
  uInt32 data;
  uInt32 extra;
  uInt32 third;
  uInt32 fourth;
};
static_assert(sizeof(ImageEntry) == 20 && offsetof(ImageEntry, data) == 4 && offsetof(ImageEntry, fourth) == 16,
              "image entry");

// The table with count free entries (1 .. count linked in order); a table
// made before is disposed first.  2 when it can't be had.
QX_EXTERN_C MgErr IInitImageTable(int32 count);
// Releases every image (an icon family's members as entries of their own)
// and disposes the table.
QX_EXTERN_C void IDisposeImageTable();
// The head of the free list, growing the table by 20 entries when it is
// empty; 0 when it can't grow or holds 65,535 entries.  The caller sets
// the kind.
QX_EXTERN_C int32 INewImageEntry();
// Frees an entry: it is reused before those freed earlier.
QX_EXTERN_C void IFreeImageEntry(int32 image);
// The table's size, in entries.
int32 IImageTableCount();
// A copy of an entry (all zero for an id that names none).
ImageEntry IEntryOf(int32 image);
// The entry itself, for the image layer's own files: null for an id that
// names none; valid until the table next grows.
ImageEntry* IEntryPtr(int32 image);

// Creation: 0, or 17 when an allocation fails (the entry freed, 0 stored),
// 2 when no entry can be had.
// A picture of pictData (null: a new empty one), owned by the image;
// flags as above (0x20 says pictData is an application-zone handle).  The
// records are walked to count the pen and font definitions, and the length
// word set to the data's size - 4.  1 when pictData is shorter than 4.
QX_EXTERN_C MgErr ICreatePict(int32 window, const Rect* bounds, int32 depth, QXPict pictData, int32 flags,
                              int32* image);
// A pixmap held in a host bitmap of rect's size: depth 0 the display's.
QX_EXTERN_C MgErr ICreatePixmap(int32 window, const Rect* rect, int32 depth, int32* image);
// A part of parent: 1 when the part is wider or higher than 127 or negative.
QX_EXTERN_C MgErr ICreateSubImage(int32 parent, const Rect* rect, int32* image);
// A metafile image of metafile (0: one to be recorded into), its bounds
// moved to the origin, or of rect's size (height + 1, width + 1) without
// one; 1 (and a report) with both.
QX_EXTERN_C MgErr ICreatePCMetaFile(int32 window, int32 depth, uInt32 metafile, int32* image, const Rect* rect);
QX_EXTERN_C MgErr ICreateMetaFileImage(int32 window, int32 depth, int32* image, const Rect* rect);
typedef void (*ImageProc)();
QX_EXTERN_C MgErr ICreateProcImage(ImageProc proc, int32 style, int32* image);
QX_EXTERN_C MgErr ICreatePageImage(int32 window, int32 depth, uInt32 spoolFile, int32* image, uInt32 printRecord);
// A pixmap (flags 0x02) holding a host bitmap, its bounds and depth read
// from the bitmap; 16 when it is no bitmap.
MgErr IPixmapFromHostBitmap(PlatObj bitmap, int32* image);
// A copy of a metafile, picture or procedural image; 1 for other kinds.
QX_EXTERN_C MgErr IDuplicate(int32 image, int32* copy);
// Marks a picture whose records this process's recorder wrote: only such
// pictures play and release the handles and ids of their records 19, 20,
// 26 and 27.  ICreatePict marks the new empty pictures it makes.
void ISetPictRecorded(int32 image);
bool IPictRecorded(int32 image);
// Releases what a recorded picture's records own: the text records of
// opcode 19, the images of opcode 20 carrying flag 0x40.
void IReleasePictRefs(int32 image);
// An icon mask (kind 4) from the members of a family: set where a member
// is not white or the white is enclosed.  0 when no member is given.
int32 IMakeIconMask(int32 icon, int32 icon4, int32 icon8);
// The image made from a resource of a kind's type: mode 1 the image owns
// the handle (flags 0x02), 2 it stays the file's (0x01).  The handle is
// consumed even on failure: 16 when its bytes don't hold the kind.
MgErr IMakeImageFromRsrc(int32 kind, UHandle rsrc, int32* image, int32 mode);

// Device-independent bitmaps of "WDIB" resources: a 40-byte header stored
// big-endian, the colour table, little-endian rows.
// Swaps the header's fields between stored and host order in place; false
// when the handle is shorter than 40 bytes.
bool ISwapDIBHeader(UHandle dib, Bool32 toHost);
// Colour-table entries of a host-order header: the used count, else 2, 16
// or 256 for depths 1, 4 and 8, else 0.
int32 IDIBColorCount(const void* header);
int32 IDIBColorTableSize(const void* header);
// The offset of the rows from the header's start.
int32 IDIBBits(const void* header);
// A host bitmap of the DIB (host-order header) of size bytes on a screen
// context; null when the bytes don't hold it.
PlatObj IHostBitmapFromDIB(const void* dib, int32 size);

// Loads an image of a kind from a resource file into a new entry: 0, or 15
// when the resource is missing, 16 when an icon family has no member, a
// resource is too short for its kind (a CURS under 68 bytes or with its hot
// spot outside) or the kind has no resource type, 53 for procedural images,
// 2 when no entry can be had.  A family without a mask gets one made from
// its members when it has a 1-bit member.  With detach the data is taken from the file
// (the image owns it); otherwise it stays the file's resource.
QX_EXTERN_C MgErr IGet(RsrcFileRef file, int32 kind, int32 resourceId, int32* image, Bool32 detach);
QX_EXTERN_C MgErr IGetNamed(RsrcFileRef file, int32 kind, ConstPStr name, int32* image, Bool32 detach);
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
// The depth of an image: icons their own, pixmaps, pictures, metafiles and
// pages their record's, a window its window's (WGetDepth); 0 for other
// kinds and invalid ids (reported).
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
// into a context obtained from its window and given back on detach.  A
// pixmap draws into paintDc when given (its bitmap already selected),
// else into a new memory context holding its host bitmap, in the pixmap's
// own coordinates; a picture turns recording on.  0 detaches only and
// leaves the null port.  Other kinds are reported and nothing is attached.
void IAttachTarget(int32 image, PlatObj paintDc);

// What IOpen saves of the drawing state and IClose puts back.
struct ImageSaveRecord {
  PlatObj dc;
  PlatObj memDc;
  Bool32 obtainedDc;
  int32 originH;
  int32 originV;
  int32 target;      // the previous target image
  uInt16 depth;
  uInt16 bw;
  Rect clip;         // the window's clip (empty: none)
  // Beyond the stored fields: the window and the recording flag of the
  // previous target, so that IClose restores a recording it interrupted.
  int32 window;
  Bool32 recording;
  Rect bounds;
  Bool32 opened;     // IOpen attached the image (0: it refused it)
};
// Redirects drawing into a pixmap, picture, page or metafile (a picture is
// emptied and records from now on; a metafile records into a new
// metafile that replaces its own at IClose); the previous target's state
// goes into save.  No current window or target is reported; another kind
// is reported and changes nothing.
QX_EXTERN_C void IOpen(int32 image, ImageSaveRecord* save);
// Ends drawing into the image (a picture's definition table becomes its pen
// count) and puts back the state of save; the kind of the target now
// current.
QX_EXTERN_C int32 IClose(int32 image, ImageSaveRecord* save);
// The current target image and its window; either may be null.
QX_EXTERN_C void IGetCurrentTarget(int32* image, int32* window);

// Prepares an image opened for drawing: clipped to its rectangle, the
// white normal pen selected, the rectangle painted white (a metafile gets
// two inverted lines along its right and bottom edges instead).
QX_EXTERN_C void IEraseImage(int32 image);
// A pixmap's new size and depth (0: the window's; -1: its own), its pixels
// kept where the rectangles meet when keepBits: 1 for another kind, 26 with
// no window, 17 when it has no host bitmap afterwards.
QX_EXTERN_C MgErr ISetPixmapBounds(int32 image, int32 window, const Rect* rect, int32 depth, Bool32 keepBits);
// Offscreen drawing of rect (window coordinates) of the current window:
// the outermost level draws into one shared pixmap, copied to the window
// by the outermost ICopyOffscreen when copy is non-zero.  Without a pixmap
// drawing goes to the window and the error is returned (no memory alert).
QX_EXTERN_C MgErr IDrawOffscreen(const Rect* rect, Rect* clipSave);
QX_EXTERN_C void ICopyOffscreen(const Rect* clipSave, Bool32 copy);
// The shared pixmap (0: none) and the nesting; IForgetOffscreen lets go
// of the pixmap when the image table that held it is disposed.
int32 IOffscreenImage();
int32 IOffscreenNesting();
void IForgetOffscreen();
// Whether a metafile image is open for drawing: its recording context
// lives from its IOpen to its IClose, and the image is not released
// meanwhile.  IAbandonMetaRecordings closes every such context and drops
// what it recorded (the image table is being disposed).
bool IMetaRecordingOpen(int32 image);
void IAbandonMetaRecordings();
