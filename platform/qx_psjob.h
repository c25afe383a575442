// The PostScript text of a print job.
//
// A job file is a DSC 3.0 document: its header (title, page count, bounding
// box, "setpagedevice" with the paper), then each page as "%%Page: k k",
// "gsave", its pieces in order and "grestore showpage".  A page is laid out
// in device pixels: every piece runs under the matrix [s 0 0 -s L T]
// (s = 72 / dpi, (L, T) the printable area's top-left corner in default user
// space), so pass-through text never sees the default matrix.
//
// Raster pieces come from a page surface whose words carry a drawn mark in
// their alpha byte: a fresh page is white with alpha 0, and every drawing
// call stores its pixels with alpha 0xFF.  A raster piece paints the marked
// pixels as "rectfill"s of equal-colour runs, runs of equal extent and colour
// in consecutive rows merged into one rectangle, and clears the marks, so
// untouched white covers nothing.  Each rectangle is inset by a quarter
// device pixel on every side, so that renderers which paint every pixel a
// shape touches paint exactly its pixels.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qx_surface.h"

struct PlatPsGeometry {
  int32_t dpi = 300;
  int32_t paperW = 612, paperH = 792;  // points, as the page is oriented
  int32_t offsetX = 75, offsetY = 75;  // device pixels of the unprintable border
};

// "gsave [s 0 0 -s L T] concat" and a line end.
std::string PlatPsPieceOpen(const PlatPsGeometry& g);
// The page's words set to white with no drawn mark.
void PlatPsClearPage(PlatSurface* page);
// Appends the raster piece of the marked pixels (nothing when none is
// marked) and clears the marks; mono pages write black or white only.
// Returns whether anything was painted.
bool PlatPsRasterPiece(PlatSurface* page, const PlatPsGeometry& g, bool mono, std::string* out);
// A whole page as one 24-bit image (raster printers' job files).
std::string PlatPsImagePage(const PlatSurface* page, const PlatPsGeometry& g);
// The whole document from the pages' bodies.
std::string PlatPsDocument(const std::string& title, const PlatPsGeometry& g,
                           const std::vector<std::string>& pages);
