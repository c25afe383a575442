// Host bitmaps of icons and pixmaps, and pixel access in the system's row
// format.
//
// The system's rows: top row first; row bytes at depth 32 width x 4, 24
// width x 3 (red, green, blue, unpadded), 16 width x 2, and at depths 1, 4
// and 8 ((width x depth + 15) / 16) x 2.  A set 1-bit pixel is black; 4-
// and 8-bit pixels index the system's 16- and 256-entry colour tables.
// Device-independent bitmaps (DIBs) as the platform reads and writes them:
// a 40-byte header, the colour table, bottom-row-first rows padded to 32
// bits (a negative height: top row first).
//
// Rectangles, row bytes and buffers come from external code: each is
// checked before use.  User-interface thread only.
#pragma once
#include <vector>

#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "platform/qx_drawobj.h"

// The host bitmap of an icon (kinds 1 to 4: depth 1, 4, 8, 1) or pixmap,
// made on first use and kept; a pixmap's source rectangle is moved by
// minus its top-left corner.  0 for other kinds, and for a pixmap of zero
// or negative size ("ILockHost: width &/or height <= 0. Can't create
// hostData.").  A new icon bitmap counts towards the budget.
PlatObj ILockHost(int32 image, Rect* srcRect, int32* depth);
// The count of host bitmaps that icon entries hold, and one fewer when an
// icon's bitmap is deleted.
int32 IHostBitmapCount();
void ICountOffHostBitmap();
// Deletes every icon's host bitmap and those of resource-backed pixmaps.
QX_EXTERN_C void IFreeHostBitmaps();

// A host bitmap of the rows (16-bit padded) at depth 1, 4, 8, 16, 24 or
// 32; colours as in PreparePCData.  0 on failure.
PlatObj CreateHostData(const uInt8* bits, int32 width, int32 height, int32 depth, const uInt8* colours,
                       int32 colourCount);
// The DIB of the rows: header and colour table into header, rows (bottom
// row first, 32-bit padded; depth 32 top row first with a negative height)
// into bitsOut.  colours: entries of 8 bytes (u16 index, u16 red, green,
// blue; the high byte used), or null for the system tables.  1 for another
// depth ("PreparePCData: Invalid depth of %ld. No pcData created."), 1 for
// a size that does not fit.
MgErr PreparePCData(const uInt8* bits, const uInt8* colours, int32 width, int32 height, int32 depth,
                    int32 colourCount, std::vector<uInt8>* bitsOut, std::vector<uInt8>* header);
// A 40-byte header (host order) and room for the colour table: bit count
// 1, 4, 8, 16, 24 or 32 from the depth, image size of 32-bit padded rows.
void IMakeDIBHeader(int32 width, int32 height, int32 depth, int32 colourCount, std::vector<uInt8>* header);

// Reads the pixels of rect (empty: the whole pixmap) at depth (0: the
// pixmap's) into buffer in the system's row format; rowBytes and size are
// filled when 0; a null buffer asks for them only.  colourTable, when
// given, gets the 256 or 16 system colours, or white and black at depth 1.
// 16 for id 0, 1 for another kind, depth or a rectangle outside the
// pixmap, or row bytes too small.
QX_EXTERN_C MgErr IGetHostBits(int32 image, int32 flags, int32* depth, const Rect* rect, int32* rowBytes,
                               int32* size, uInt8* buffer, DColor* colourTable);
// Writes rows of the system's format into rect of the pixmap; 16 for id 0,
// 1 for another kind, a rectangle outside or too few row bytes, 53 for a
// partial rectangle at another depth, 17 when memory runs out.
QX_EXTERN_C MgErr IPutHostBits(int32 image, int32 flags, int32 depth, const Rect* rect, int32 rowBytes,
                               const uInt8* buffer, int32 extra);
// The first pixel-block record of a picture into the data-zone handle:
// rows, (D x 8 / rows) / depth, then the D pixel bytes.  Other kinds,
// pictures without a valid block and a failed resize leave it unchanged.
QX_EXTERN_C void IGetQXPictBits(int32 image, UHandle handle);
// A copy of a pixmap a picture owns, at its own depth (0 when none can be
// made, or for another kind).
int32 ICopyOwnedPixmap(int32 image);
// Prints a pixmap band by band on a printer context; flags 4 (no band
// escape), 8 (band information failed), 32 (a stretch failed), 0x800 (a
// band escape failed).
int32 IPrintPixmapDIB(int32 image, int32 ignored, PlatObj printerDc);
// Stretches srcRect of the bitmap onto destRect of the current context.
void IStretchHostBitmap(PlatObj bitmap, const Rect* srcRect, const Rect* destRect);
// The bitmap as a packed DIB (depth above 8: 24 bits); false on failure.
bool IHostBitmapToDIB(PlatObj bitmap, PlatObj palette, std::vector<uInt8>* dib);
// The first two colour-table entries of a 1-bit DIB header.
void ISetDIBColors(uInt8* header, DColor colour0, DColor colour1);
// Deletes a host drawing object; a failure is reported.
void IDeleteHostObject(PlatObj object);
void IInvertBytes(uInt8* bytes, int32 n);
void IReverseWords(uInt8* words, int32 n);
// The print manager's pixels-per-point scale of page bitmaps (1 unless set).
extern double gBitmapScale;
