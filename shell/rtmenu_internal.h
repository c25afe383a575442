// What the run-time menu files share among themselves.
#pragma once
#include <string>

#include "shell/rtmenu.h"

// A Pascal copy of a text, cut to 255 characters.
struct Str255Text {
  explicit Str255Text(const std::string& s);
  uChar p[256];
};

std::string TagOfItem(MenuHandle menu, int32 item);
// Finds an item by tag (case ignored), in submenus when asked.
bool FindTag(MenuHandle menu, const std::string& tag, bool submenus, MenuHandle* found, int32* item);
MenuHandle ProgramMenuBar();
CookieJar RTMJar();
const RTMMenuData* RTMGetAppMenuData();
void ParseShortcutText(const std::string& text, bool shift, int32* character, int32* keyCode, uInt32* modifiers);
// The key text of a shortcut: a key name, the character, or empty.
std::string ShortcutKeyText(int32 character, int32 keyCode);
MgErr RTMNewMenu(ConstPStr title, MenuHandle* out);
void SetBarMark(MenuHandle menu, bool on);
// Makes the VI's current menu a run-time menu (a copy stored as the VI's
// menu bar when it is not one); null when that fails.
MenuHandle RTMCopyToRunTimeMenu(UHandle vi);
MgErr RTMInsertUserItem(MenuHandle owner, MenuHandle menu, const std::string& name, std::string* tag, bool checked,
                        bool enabled, const std::string* shortcut, bool shift, int32 position, uInt32 data,
                        int32* menuErr);
MgErr RTMInsertAppItem(MenuHandle owner, MenuHandle menu, const std::string& name, const std::string& tag,
                       int32 position, uInt32 data, int32* menuErr);
// A temporary menu file that did not exist before, created empty: a name
// already taken in the shared folder is passed over.  Null when none can be
// made.
Path RTMNewExclusiveTemp();
// Shut-down has started: waiting calls give up.
void RTMSetShuttingDown();
void RTMClearShuttingDown();
// Tests: forget the catalog and the cached texts, and the shut-down mark.
void RTMResetCaches();
