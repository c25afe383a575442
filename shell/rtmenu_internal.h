// What the run-time menu files share among themselves.
#pragma once
#include <string>
#include <unordered_map>
#include <unordered_set>

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
// The tags in use in menu trees, folded as the menu manager compares item
// names, so that whether a tag is taken is known without searching the
// trees; with, per tag cut for a suffix, the first suffix not known taken.
class RTMTagSet {
 public:
  // Every item's tag of the menu and of the submenus under it.
  void AddTree(MenuHandle menu);
  // Items first..last of the menu with the submenus under them.
  void AddItems(MenuHandle menu, int32 first, int32 last);
  void Add(const std::string& tag);
  bool Has(const std::string& tag) const;
  // Takes the other's tags (the other is left empty).
  void Merge(RTMTagSet& other);
  int32& NextSuffix(const std::string& base);

 private:
  static std::string Key(const std::string& tag);
  void AddTreeAt(MenuHandle menu, int32 first, int32 last, int32 depth);
  std::unordered_set<std::string> tags_;
  std::unordered_map<std::string, int32> next_;
};
// Where an item goes: the tags under the menu it goes into (which take its
// tag) and, when the menu is not its owner, the owner's tags.
struct RTMTagScope {
  RTMTagSet* own;
  const RTMTagSet* owner;
  bool InUse(const std::string& tag) const { return own->Has(tag) || (owner && owner->Has(tag)); }
};
// With a scope the tags are looked up there and the scope takes the new
// item's tags; without one the menu and its owner are read for them.
MgErr RTMInsertUserItem(MenuHandle owner, MenuHandle menu, const std::string& name, std::string* tag, bool checked,
                        bool enabled, const std::string* shortcut, bool shift, int32 position, uInt32 data,
                        int32* menuErr, RTMTagScope* scope = nullptr);
MgErr RTMInsertAppItem(MenuHandle owner, MenuHandle menu, const std::string& name, const std::string& tag,
                       int32 position, uInt32 data, int32* menuErr, RTMTagScope* scope = nullptr);
// Makes the tag one that neither the menu's tree nor its owner's holds.
void RTMMakeTagUnique(MenuHandle owner, MenuHandle menu, std::string* tag, RTMTagScope* scope = nullptr);
// A temporary menu file that did not exist before, created empty: a name
// already taken in the shared folder is passed over.  Null when none can be
// made.
Path RTMNewExclusiveTemp();
// Shut-down has started: waiting calls give up.
void RTMSetShuttingDown();
void RTMClearShuttingDown();
// Tests: forget the catalog and the cached texts, and the shut-down mark.
void RTMResetCaches();
