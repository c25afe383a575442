// Metafiles: drawings kept as a list of drawing calls, played back into any
// rectangle of any context.
//
// A recording context is a drawing context like any other (qx_dc.h); every
// public call made on it is kept in order, with a snapshot of what it draws
// with: the pen, brush and font descriptions when they are selected, the
// pixels of the source (and mask) of each block transfer.  Nothing is
// painted and nothing is written to a file: the list stays in memory.
//
// Header: bounds and frame are both the box of the pixels the calls draw,
// ignoring the clip, right and bottom included ((0, 0, -1, -1) when nothing
// is drawn), taken from the rasteriser's own geometry.  Imported metafiles
// (qx_metafile_read.h) bring a frame of their own.
//
// A block transfer keeps the part of its source rectangle that lies in the
// source surface: played back, destination pixels whose source lay outside
// are left alone, as the direct call leaves them.
//
// Playing maps the frame onto the rectangle (dl, dt, dr, db): a coordinate
// x goes to dl + (x - fl) dw / fw with dw = dr - dl and fw = fr - fl + 1,
// computed in doubles and rounded halves up (y alike); rectangles map their
// edges.  Pen widths scale by dw / fw (at least 1 for a non-zero width),
// font heights by dh / fh, and bitmaps are stretched onto their mapped
// rectangles.  Every call plays on the context's state as it stands; pens,
// brushes, fonts, modes, colours, position and clip are put back afterwards.
// A clip of the metafile is combined with the context's own clip.
//
// Metafile handles carry a generation: a deleted metafile's handle, a
// handle never made and a drawing-object handle are all refused with
// kPlatErrInvalidHandle.  Metafiles are thread-safe to look up; one thread
// plays or deletes a given metafile at a time.
#pragma once
#include <cstdint>
#include <string>

#include "platform/qx_drawobj.h"

using PlatMetafile = uint32_t;

struct PlatMetaHeader {
  PlatRect bounds;  // right and bottom included
  PlatRect frame;   // right and bottom included
  int32_t records;  // calls kept
  int32_t paletteEntries;
};

// A recording context.  fileName is accepted and not used: the recording
// stays in memory, so two processes naming the same file never share it.
// The description is kept in the header.
PlatObj PlatCreateMetafileDc(const char* fileName, const char* description);
// Ends the recording and deletes the context; the metafile, or 0 (with
// kPlatErrInvalidHandle) for a context that is not recording.
PlatMetafile PlatCloseMetafileDc(PlatObj dc);
bool PlatIsMetafileDc(PlatObj dc);

bool PlatPlayMetafile(PlatObj dc, PlatMetafile mf, const PlatRect& rect);
// A copy that owns all of its data: it outlives the original.
PlatMetafile PlatCopyMetafile(PlatMetafile mf);
bool PlatDeleteMetafile(PlatMetafile mf);
bool PlatIsMetafile(PlatMetafile mf);
bool PlatGetMetafileHeader(PlatMetafile mf, PlatMetaHeader* header);
// The description given when it was made ("" for none).
std::string PlatMetafileDescription(PlatMetafile mf);
// Copies up to max palette entries (0x00BBGGRR); the number the metafile
// holds, -1 for a bad handle.
int32_t PlatGetMetafilePalette(PlatMetafile mf, uint32_t* colours, int32_t max);
