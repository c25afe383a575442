// The Help menu's help-folder items: the folder's help files, VIs, VI
// libraries and sub-folders as items and sub-menus, each item's data the
// path it opens.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "engine/vi/archive.h"
#include "engine/vi/vifind.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/lmenu.h"
#include "platform/qx_file.h"
#include "shell/menuids.h"
#include "shell/progmenu.h"

namespace {

constexpr int32 kHelpTextChars = 200;
using Visited = std::set<std::pair<uint64_t, uint64_t>>;

std::string_view View(ConstPStr p) { return std::string_view(reinterpret_cast<const char*>(p + 1), p[0]); }
void Set(PStr out, std::string_view s) {
  const size_t n = std::min<size_t>(s.size(), 255);
  out[0] = uChar(n);
  std::memcpy(out + 1, s.data(), n);
}
bool EndsWithCase(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i)
    if (std::tolower(uChar(s[s.size() - tail.size() + i])) != std::tolower(uChar(tail[i]))) return false;
  return true;
}

bool Match(std::string_view pattern, std::string_view name) {
  // Iterative match with one back-tracking point for the last "*".
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || std::tolower(uChar(pattern[p])) == std::tolower(uChar(name[n])))) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++, mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1, n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

Path Child(Path folder, ConstPStr name) {
  Path p = FEmptyPath(nullptr);
  if (p && (FPathCpy(p, folder) != kNoErr || FAppendName(p, name) != kNoErr)) {
    FDisposePath(p);
    p = nullptr;
  }
  return p;
}

// The identity of a folder on its device; false when it cannot be read.
bool FolderId(Path folder, std::pair<uint64_t, uint64_t>* id) {
  char text[kHostTextBufSize];
  PlatFileAttr attr{};
  if (FPathToHostText(folder, text) != kNoErr || PlatFileAttrOf(text, &attr) != 0) return false;
  *id = {attr.device, attr.inode};
  return true;
}

// The first 200 characters of "<name without extension>.txt" beside the
// entry, trailing blanks removed; false when there is none.
bool SideText(Path folder, std::string_view name, PStr out) {
  const size_t dot = name.rfind('.');
  Str255 txt;
  Set(txt, std::string(name.substr(0, dot)) + ".txt");
  Path p = Child(folder, txt);
  if (!p) return false;
  FileRef f = nullptr;
  bool ok = false;
  if (FMOpen(&f, p, kAccessRead, kDenyNone) == kNoErr) {
    char buffer[kHelpTextChars];
    int32 got = 0;
    FMRead(f, kHelpTextChars, &got, reinterpret_cast<UPtr>(buffer));
    FMClose(f);
    std::string_view t(buffer, size_t(std::clamp<int32>(got, 0, kHelpTextChars)));
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r' || t.back() == '\n'))
      t.remove_suffix(1);
    Set(out, t);
    ok = !t.empty();
  }
  FDisposePath(p);
  return ok;
}

// Adds an item whose data is a copy of the path (the menu keeps the copy's
// address: the flattened path would not fit the 256 data bytes of long paths).
bool AddPathItem(MenuHandle menu, ConstPStr label, Path path, int32* position) {
  Path copy = FEmptyPath(nullptr);
  if (!copy || FPathCpy(copy, path) != kNoErr) {
    if (copy) FDisposePath(copy);
    return false;
  }
  if (MInsertLItem(menu, label, nullptr, 0, &copy, int32(sizeof copy), *position, 0) != kNoErr) {
    FDisposePath(copy);
    return false;
  }
  ++*position;
  return true;
}

int32 Walk(Path folder, MenuHandle menu, Bool32 viOnly, int32 position, const std::vector<std::string>* exclude,
           Visited* visited) {
  std::pair<uint64_t, uint64_t> id;
  if (FolderId(folder, &id) && !visited->insert(id).second) return 0;
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  DirEntryTypeHandle types = reinterpret_cast<DirEntryTypeHandle>(AZNewHandle(0));
  int32 added = 0;
  if (names && types && FListDir(folder, names, types) == kNoErr) {
    std::vector<std::string> list;
    for (int32 i = 0; i < (*names)->cnt; ++i)
      if (const uChar* n = CPStrIndex(names, i)) list.emplace_back(reinterpret_cast<const char*>(n + 1), n[0]);
    std::sort(list.begin(), list.end());
    for (const std::string& entry : list) {
      Str255 name, label;
      Set(name, entry);
      if (entry.empty() || entry[0] == '_' || NameInPatternList(name, exclude)) continue;
      Path p = Child(folder, name);
      if (!p) continue;
      const int32 kind = FExists(p);
      if (kind == 2) {
        const int32 subId = NewMenuID(kMenuKindStandard);
        MenuHandle sub = nullptr;
        MakeMenuItemLabel(name, 0, 0, label);
        if (subId > 0 && MNewLMenu(&sub, label, subId) == kNoErr) {
          const uInt32 attr = kMenuAttrHelpMenu;
          MSetMenuAttrs(sub, &attr, nullptr, nullptr, nullptr);
          if (Walk(p, sub, viOnly, 0, exclude, visited) > 0 &&
              MInsertLItem(menu, label, nullptr, 0, nullptr, 0, position, 0) == kNoErr) {
            MenuTableSet(subId, sub);
            MSetLItemSubmenu(menu, position + 1, sub);
            ++position, ++added;
          } else {
            MDisposeMenu(sub);
            ReleaseMenuID(subId);
          }
        } else if (subId > 0) {
          ReleaseMenuID(subId);
        }
      } else if (kind == 1 && IsQLBFile(p)) {
        const int32 n = AddLibraryTopLevelItems(p, menu, position);
        position += n, added += n;
      } else if (kind == 1 && LocateVIFile(p, kFindTypeVI)) {
        MakeMenuItemLabel(name, 0, 0, label);
        if (AddPathItem(menu, label, p, &position)) ++added;
      } else if (kind == 1 && !viOnly && EndsWithCase(entry, ".hlp")) {
        Str255 text;
        if (SideText(folder, entry, text)) MakeMenuItemLabel(text, 0, 0, label);
        else MakeMenuItemLabel(name, 1, 1, label);
        if (AddPathItem(menu, label, p, &position)) ++added;
      }
      FDisposePath(p);
    }
  }
  if (names) AZDisposeHandle(reinterpret_cast<UHandle>(names));
  if (types) AZDisposeHandle(reinterpret_cast<UHandle>(types));
  return added;
}

}  // namespace

Bool32 NameInPatternList(ConstPStr name, const std::vector<std::string>* patterns) {
  if (!name || !patterns) return 0;
  for (const std::string& p : *patterns)
    if (Match(p, View(name))) return 1;
  return 0;
}

void MakeMenuItemLabel(ConstPStr name, Bool32 ellipsis, Bool32 helpFile, PStr label) {
  std::string s = "__";
  std::string_view n = View(name);
  const bool hlp = EndsWithCase(n, ".hlp");
  if (ellipsis && n.size() > 3 && (!hlp || helpFile)) {
    if (hlp) n.remove_suffix(4);
    s.append(n);
    s.append("...");
  } else {
    s.append(n);
  }
  Set(label, s);
}

void DisposeMenuPaths(MenuHandle menu) {
  if (!menu || !*menu || !MIsListMenu(menu)) return;
  for (int32 item = 1; item <= MCountItems(menu); ++item) {
    const LItemRecord* r = MGetLItemPtr(menu, item);
    if (!r) break;
    if (MenuHandle sub = r->submenu; sub && sub != menu) DisposeMenuPaths(sub);
    Path p = nullptr;
    if (MGetItemData(menu, item, &p, int32(sizeof p)) == int32(sizeof p) && p) {
      FDisposePath(p);
      p = nullptr;
    }
  }
}

int32 AddLibraryTopLevelItems(Path library, MenuHandle menu, int32 position) {
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  UHandle records = AZNewHandle(0);
  int32 added = 0;
  RsrcFileRef file = 0;
  if (names && records && ROpenFile(library, kRsrcReadOnly, &file, nullptr, nullptr) == kNoErr) {
    const MgErr err = ArchiveDirListRef(file, names, records, 2, 0);
    if (err) DBPrintf("err from MakeArcListMenu is %ld", long(err));
    const int32 count = err ? 0 : (*names)->cnt;
    const int32 recordCount = AZGetHandleSize(records) / 12;
    for (int32 i = 0; i < count && i < recordCount; ++i) {
      uInt32 flags = 0;
      std::memcpy(&flags, *records + 12 * i, 4);
      if (!(flags & 0x10)) break;
      const uChar* n = CPStrIndex(names, i);
      if (!n) break;
      Str255 name, label;
      PStrCpy(name, n);
      Path member = Child(library, name);
      if (!member) continue;
      MakeMenuItemLabel(name, 0, 0, label);
      if (AddPathItem(menu, label, member, &position)) ++added;
      FDisposePath(member);
    }
    RCloseFile(file);
  } else if (names && records) {
    DBPrintf("err from MakeArcListMenu is %ld", long(kFileNotFoundErr));
  }
  if (names) AZDisposeHandle(reinterpret_cast<UHandle>(names));
  if (records) AZDisposeHandle(records);
  return added;
}

int32 BuildHelpDirMenu(Path folder, MenuHandle menu, Bool32 viOnly, int32 position,
                       const std::vector<std::string>* exclude) {
  if (!folder || !menu) return 0;
  Visited visited;
  return Walk(folder, menu, viOnly, position, exclude, &visited);
}
