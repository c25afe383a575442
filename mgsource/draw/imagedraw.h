// Drawing images by kind: icons and pixmaps copied from their host bitmaps
// with masks and colour substitution, windows' screen pixels, metafiles
// through a cache of rendered bitmaps; whether an image paints every pixel
// of a rectangle; the budget of icon host bitmaps.  User-interface thread
// only.
#pragma once
#include <vector>

#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "platform/qx_drawobj.h"

// The host slot's drawing of the kinds drawn from host bitmaps and
// metafiles (icons, families, pixmaps, windows, metafiles); colours already chosen for the port.
void IDrawByKind(int32 image, int32 kind, const Rect* subRect, const Rect& src, const Rect& dest, DColor fg,
                 DColor bg, DColor bwFore, DColor bwBack);

// The parent of a sub-image, 0 for another kind.
int32 ISubImageParent(int32 sub);

// Draws the image count times, into destRect moved by (dh[i], dv[i]).
QX_EXTERN_C void IDrawAtOffsets(int32 image, const Rect* srcRect, const Rect* destRect, DColor fore, DColor back,
                                DColor bwFore, DColor bwBack, int32 count, const int32* dh, const int32* dv);

// Copies srcRect of a host bitmap of depth onto destRect (device
// coordinates) of the current context: a one-bit source paints its set
// pixels in fg and the others in bg (transparent: the destination kept); a
// mask image (kind 4, or a one-bit pixmap) limits the copy to its set
// pixels.
void ICopyImage(PlatObj bitmap, const Rect* srcRect, const Rect* destRect, DColor fg, DColor bg, int32 maskId,
                int32 depth);
// Reads the source through a device-independent copy whose two colours are
// set for each step (off by default).
extern Bool32 gForceCorrectColors;

// A window's screen pixels of srcRect (window coordinates) onto destRect.
void IDrawWindowImage(int32 image, const Rect* srcRect, const Rect* destRect);
// An icon (kinds 1 to 4) painted rectangle by rectangle with the normal
// pen, inside the mask (kind 4), for targets without masked transfers:
// pixels of their own colour, one-bit pixels set in fg and clear in bg
// (transparent: not painted).
void IDrawIconRuns(int32 icon, int32 mask, const Rect* srcRect, const Rect* destRect, DColor fg, DColor bg);

// Whether the image drawn into rect in colours (fore, back; null: black on
// white) paints every pixel of it; with mask, a handle of the 1-bit rows
// (16-bit padded, a set bit painted) when it does not, else null.  2 when
// memory runs out.
QX_EXTERN_C MgErr IIsSolid(int32 image, const Rect* rect, const DColor* colours, Bool32* solid, UHandle* mask);

// Deletes icon host bitmaps beyond the budget of 80, 20 at most per call,
// walking the table round-robin.
QX_EXTERN_C void IPurgeHostBitmaps();

// The metafile-bitmap cache: made and disposed with the image table;
// releasing a metafile drops its entries.
void IMetaCacheInit();
void IMetaCacheDispose();
void IMetaCacheDrop(uInt32 metafile);
// Switches the cache (on by default); the previous setting.
Bool32 IMetaCacheSetOn(Bool32 on);
struct IMetaCacheEntry {
  uInt32 metafile;  // 0: a free entry
  PlatObj bitmap;
  int32 mask;       // 1-bit pixmap of the painted pixels, 0 when solid
  Rect size;
  int32 depth;
  int32 uses;       // since the last ageing
};
std::vector<IMetaCacheEntry> IMetaCacheEntries();
// The draw counter that ages the cache.
int32 IMetaCacheCounter();
