// The help window's resources of the run-time resource file: the help-file
// names, its tip and key-navigation texts, the description of an object
// without one, its default pictures and the online-help button's icons.
#pragma once
#include "tools/rsrcwriter.h"

namespace qxbuild {

// The default picture ("DSIM", depth 8, or 1 for black and white): a framed
// question mark.
rsrcw::Bytes HelpDefaultPicture(bool blackAndWhite);
// STR# 30001, 11116, 12001 and 11110, 'STR ' 2025, "DSIM" 30020 and 30021,
// the icon families 7018 (online help) and 7019 (none).
void AddHelpResources(rsrcw::Writer* writer);

}  // namespace qxbuild
