// Shortcut files of the host: a shortcut is a symbolic link.
#pragma once
#include <string>

// When text (a system path text, see qx_drives.h) names a symbolic link,
// stores in *target the system text of what the link points at (a relative
// link taken from the link's folder, "." and ".." resolved by name) and
// returns true.  False for anything else, and for a target outside every
// mapped volume.
bool PlatReadShortcutLink(const char* text, std::string* target);
