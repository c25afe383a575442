// Help files, shown by an outside viewer.
//
// The viewer is the program QX_HELP_VIEWER names, or, under X11 (DISPLAY
// set), xdg-open when it is installed.  It gets one argument: the help
// file's host path, with "#keyword" added when a keyword is given.  Without
// a viewer, or for a file that does not exist, the call fails and says why
// on stderr.
#pragma once
#include <cstdint>

enum PlatHelpCommand : int32_t {
  kPlatHelpShow = 1,  // open the file, at the keyword when one is given
  kPlatHelpQuit = 2,  // end every viewer this process started
};

// path is a host path or a system path text (qx_drives.h).  Returns 0 on
// success, 1 when help failed.
int32_t PlatHelp(const char* path, int32_t command, const char* keyword);
// The viewers started and not yet ended.
int32_t PlatHelpViewers();
