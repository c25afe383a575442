// The colour resources of the run-time resource file, written from the
// drawing manager's built-in tables: the colour list, the palette tables
// and the colour-index maps, 32-bit words big-endian.
#pragma once
#include "tools/rsrcwriter.h"

namespace qxbuild {
void AddColorResources(rsrcw::Writer* writer);
}  // namespace qxbuild
