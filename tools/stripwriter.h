// The tool bar's image strips of the run-time resource file: "DSIM"
// pictures whose cells stand in columns of ten, cell c at
// ((c div 10) x 21, (c mod 10) x 19), each 20 x 19 pixels.
#pragma once
#include "tools/rsrcwriter.h"

namespace qxbuild {

// The strip of 48 cells as a picture resource: its bounds, depth (8, or 1
// for black and white) and no pen definitions, then the records that paint
// the cells' glyphs (arrows, stop, pause, step and record shapes).
rsrcw::Bytes ToolBarStrip(bool blackAndWhite);
// The splash window's launch picture (240 x 120) in the same form.
rsrcw::Bytes LaunchPicture(bool blackAndWhite);
// Adds "DSIM" 6000 (colour) and 6001 (black and white).
void AddToolBarStrips(rsrcw::Writer* writer);

}  // namespace qxbuild
