// The file dialog's own panel: browsing folders, volumes and the insides of
// VI libraries, the listing with its kinds and filters, the rings, and the
// rules that accept, refuse or enter what the operator picks.
#include <algorithm>
#include <cstring>

#include "engine/shellsvc.h"
#include "engine/vi/archive.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/window/window.h"
#include "shell/filedlg.h"

namespace {

constexpr uInt32 kLibraryType = FourCC("QXAR");
constexpr uInt32 kKindDisk = FourCC("hdsk"), kKindServer = FourCC("srvr"), kKindFloppy = FourCC("flpy");
constexpr int32 kInvisible = 0x8, kTopLevelMember = 0x10;
constexpr int32 kNavModifier = 0x20;
enum : int32 { kKeyUp = 4, kKeyOpen = 5, kKeyPrevDrive = 6, kKeyNextDrive = 7 };
constexpr WEventCode kEvVolume = 38;
constexpr int32 kPathRingWidth = 50;
constexpr int32 kCheckNameOptions = 176;

FDState gState;
void (*gNewBoxHook)(DialogRef) = nullptr;

void SetP(PStr out, const std::string& s) {
  const size_t n = std::min<size_t>(s.size(), 255);
  out[0] = uChar(n);
  std::memcpy(out + 1, s.data(), n);
}
std::string StrOf(ConstPStr p) { return p ? std::string(reinterpret_cast<const char*>(p + 1), p[0]) : std::string(); }

Path CopyOf(Path p) {
  Path c = FEmptyPath(nullptr);
  if (c && p && FPathCpy(c, p) != kNoErr) {
    FDisposePath(c);
    return nullptr;
  }
  return c;
}
struct OwnedPath {
  Path p;
  explicit OwnedPath(Path path) : p(path) {}
  ~OwnedPath() {
    if (p) FDisposePath(p);
  }
  OwnedPath(const OwnedPath&) = delete;
  OwnedPath& operator=(const OwnedPath&) = delete;
};

bool IsFolderGlyph(int32 g) { return g == 14 || g == 15 || g == 17 || g == 18 || g == 20; }
bool IsLibraryGlyph(int32 g) { return g == kGlyphLibrary || g == kGlyphThisLibrary; }

bool ChooseFolderMode(int32 f) {
  return ((f & kFDChooseFolders) && (f & kFDBrowse)) || ((f & kFDChooseLibraries) && (f & kFDLibsAreFolders));
}

void Alert(int32 entry, Path path) { FDPathAlert(kFDTextsListId, entry, path, 1, nullptr, nullptr, 1); }

std::string ItemText(DialogRef d, int32 item) {
  Str255 t = {0};
  if (DlgGetCtrlVal(d, item, kDlgPStrValueType, t) != kNoErr) return std::string();
  return StrOf(t);
}
void SetItemText(DialogRef d, int32 item, const std::string& s) {
  Str255 t;
  SetP(t, s);
  DlgSetCtrlVal(d, item, kDlgPStrValueType, t);
}
int32 RingValue(DialogRef d, int32 item) {
  int32 v = 0;
  DlgGetCtrlVal(d, item, 3, &v);
  return v;
}
void SetRingValue(DialogRef d, int32 item, int32 v) { DlgSetCtrlVal(d, item, 3, &v); }
// The ring's texts, replaced.
void FillRing(DialogRef d, int32 item, const std::vector<std::string>& texts) {
  DlgRingClear(d, item);
  for (size_t i = 0; i < texts.size(); ++i) {
    Str255 t;
    SetP(t, texts[i]);
    DlgRingInsertItem(d, item, t, nullptr, int32(i), 0);
  }
}

std::string EntryText(int32 entry) {
  Str255 t;
  FDListText(kFDTextsListId, entry, t);
  return StrOf(t);
}

// What an item named in the current folder is.
enum class Kind { kNone, kFile, kFolder, kLibrary };
Kind KindOf(Path item) {
  if (gState.inLibrary) return FExists(item) == 1 ? Kind::kFile : Kind::kNone;
  const int32 e = FExists(item);
  if (e == 2) return Kind::kFolder;
  if (e == 1) return IsQLBFile(item) ? Kind::kLibrary : Kind::kFile;
  return Kind::kNone;
}
// Inside a library, an item exists when the library has a member of its name.
bool MemberExists(ConstPStr name) {
  uInt32 type = 0;
  return ArchiveLookupMember(gState.folder, name, &type) == kNoErr;
}
bool Choosable(Kind k, int32 f) {
  return (k == Kind::kFolder && (f & kFDChooseFolders)) || (k == Kind::kFile && (f & kFDChooseFiles)) ||
         (k == Kind::kLibrary &&
          ((f & kFDChooseLibraries) || ((f & kFDChooseFiles) && !(f & kFDLibsAreFolders))));
}
bool Openable(Kind k, int32 f) {
  return (k == Kind::kFolder && (f & kFDBrowse)) || (k == Kind::kLibrary && (f & kFDLibsAreFolders));
}
Kind KindOfGlyph(int32 g) {
  return IsFolderGlyph(g) ? Kind::kFolder : IsLibraryGlyph(g) ? Kind::kLibrary : Kind::kFile;
}

// The selected entry of the list, -1 for none.
int32 Selected() {
  int32 index = -1;
  if (!DlgGetSelectedListItem(gState.dialog, kFDItemList, &index, nullptr)) return -1;
  return index >= 0 && size_t(index) < gState.entries.size() ? index : -1;
}

void UpdateButtons();
MgErr EnterFolder(Path folder);

// The list would take the key focus here, but the listbox class has no
// operate-mode action for the focus yet: the name field keeps it.
void FocusList(DialogRef d) {
  if (DlgGetKbdFocus(d) != kFDItemName) DlgSetKbdFocus(d, kFDItemName, 0, 0x7fffffff);
}

// "%p is an existing %p." with the item and its kind.
void ExistingKindAlert(Path item, Kind k) {
  Str255 kindWord, fmt, text, shown;
  FDListText(kFDTextsListId, k == Kind::kFolder ? kFDStrDirectory : k == Kind::kLibrary ? kFDStrLibrary : kFDStrFile,
             kindWord);
  FDListText(kFDTextsListId, kFDStrExistingKind, fmt);
  FPathToAbbrevPStr(item, 255 - fmt[0] - kindWord[0], shown);
  PPrintfp(text, fmt, shown, kindWord);
  OneButtonAlert(kAlertPStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos);
}

}  // namespace

FDState& FDCurrent() { return gState; }
void FDSetNewBoxRunHook(void (*hook)(DialogRef dialog)) { gNewBoxHook = hook; }

int32 FDGlyphOf(uInt32 type, bool folder) {
  if (folder) return type == kKindDisk ? kGlyphDisk : type == kKindServer ? kGlyphServer
                     : type == kKindFloppy ? kGlyphFloppy : kGlyphFolder;
  switch (type) {
    case FourCC("QXSB"): return kGlyphSubr;
    case FourCC("QXCC"): return kGlyphControl;
    case FourCC("QXDL"): return kGlyphDatalog;
    case FourCC("QXIN"): return kGlyphVI;
    case FourCC("QXAR"): return kGlyphLibrary;
    default: return kGlyphFile;
  }
}

// ---- Listing ------------------------------------------------------------------------------------

MgErr FDList(Path folder, std::vector<FDEntry>* entries, std::vector<int32>* listFlags) {
  entries->clear();
  listFlags->clear();
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHandle(0));
  UHandle types = AZNewHandle(0);
  MgErr err = names && types ? kNoErr : kMemFullErr;
  const bool library = FDepth(folder) > 0 && FExists(folder) == 1;
  if (!err) {
    err = library ? ArchiveDirList(folder, names, reinterpret_cast<DirEntryTypeHandle>(types), 2, 0)
                  : FListDir(folder, names, reinterpret_cast<DirEntryTypeHandle>(types));
  }
  if (err) {
    DBPrintf("FDList: bad path: err=%ld\n", long(err));
  } else {
    const int32 nameBytes = AZGetHandleSize(reinterpret_cast<UHandle>(names));
    const int32 count = nameBytes >= 4 ? int32(GetNative32(reinterpret_cast<UPtr>(*names))) : 0;
    const int32 typeCount = AZGetHandleSize(types) / int32(sizeof(DirEntryType));
    int32 at = 4;
    for (int32 i = 0; i < count && i < typeCount && at < nameBytes; ++i) {
      const uChar* name = reinterpret_cast<UPtr>(*names) + at;
      const int32 len = name[0];
      if (at + 1 + len > nameBytes) break;
      at += 1 + len;
      const int32 flags = int32(GetNative32(*types + 8 * i));
      const uInt32 type = GetNative32(*types + 8 * i + 4);
      // A name holding the path separator cannot be a component.
      if (len == 0 || std::memchr(name + 1, '\\', size_t(len))) continue;
      FDEntry e;
      e.text.assign(reinterpret_cast<const char*>(name + 1), size_t(len));
      const bool isFolder = !library && !(flags & kIsFile);
      e.type = isFolder || (flags & kRecognizedType) || library ? type : 0;
      e.glyph = FDGlyphOf(e.type, isFolder);
      entries->push_back(std::move(e));
      listFlags->push_back(flags);
    }
  }
  if (names) AZDisposeHandle(reinterpret_cast<UHandle>(names));
  if (types) AZDisposeHandle(types);
  return err;
}

MgErr FDFillList() {
  FDState& s = gState;
  std::vector<FDEntry> listed;
  std::vector<int32> flags;
  if (MgErr err = FDList(s.folder, &listed, &flags)) return err;
  const int32 f = s.flags;
  std::vector<FDEntry> out;
  if ((f & kFDBrowse) && FDepth(s.folder) > 0) {
    out.push_back(FDEntry{"..", kGlyphParent, 0, true});
    const bool mayChoose = s.inLibrary ? (f & kFDChooseLibraries) != 0 : (f & kFDChooseFolders) != 0;
    if (mayChoose) out.push_back(FDEntry{".", s.inLibrary ? kGlyphThisLibrary : kGlyphParent, 0, true});
  }
  Str255 pattern;
  SetP(pattern, s.pattern);
  int32 lastMarked = -1;
  for (size_t i = 0; i < listed.size(); ++i) {
    FDEntry& e = listed[i];
    if (flags[i] & kInvisible) continue;
    const Kind k = KindOfGlyph(e.glyph);
    const bool browsedLibrary = k == Kind::kLibrary && (f & kFDLibsAreFolders);
    if (k != Kind::kFolder && !browsedLibrary) {
      Str255 name;
      SetP(name, e.text);
      if (!s.kinds.Keeps(s.kindIndex, e.type, name, pattern)) continue;
      if (s.filter) {
        OwnedPath full(CopyOf(s.folder));
        if (!full.p || FAppendName(full.p, name) != kNoErr || s.filter(full.p, s.filterData) <= 0) continue;
      }
    }
    // Whether it may be picked.
    const bool all = (f & kFDSave) && (f & kFDChooseFiles) && (f & kFDChooseFolders) && (f & kFDChooseLibraries);
    if (!all) {
      if (k == Kind::kFile && !(f & kFDChooseFiles)) e.enabled = false;
      if (k == Kind::kLibrary && !Choosable(k, f) && !(f & kFDLibsAreFolders)) e.enabled = false;
      if (k == Kind::kFolder && !(f & kFDChooseFolders) && !(f & kFDBrowse)) e.enabled = false;
    }
    out.push_back(e);
    if (flags[i] & kTopLevelMember) lastMarked = int32(out.size()) - 1;
  }
  if (lastMarked >= 0 && size_t(lastMarked) + 1 < out.size())
    out.insert(out.begin() + lastMarked + 1, FDEntry{"", kGlyphDivider, 0, false});
  s.entries = std::move(out);
  // The list item.
  if (s.dialog) {
    DlgDeleteList(s.dialog, kFDItemList);
    for (size_t i = 0; i < s.entries.size(); ++i) {
      Str255 t;
      SetP(t, s.entries[i].text);
      DlgInsertListItem(s.dialog, kFDItemList, int32(i), t, s.entries[i].glyph);
      if (!s.entries[i].enabled) DlgEnableListItem(s.dialog, kFDItemList, int32(i), 0);
    }
    // No double-click stands for the new entries.
    DlgGetDoubleClickListItem(s.dialog, kFDItemList, nullptr);
  }
  return kNoErr;
}

// ---- Rings ---------------------------------------------------------------------------------------

void FDSetPathRing() {
  FDState& s = gState;
  for (Path p : s.pathRing)
    if (p) FDisposePath(p);
  s.pathRing.clear();
  std::vector<std::string> texts;
  // The folder and its ancestors, then "Drives".
  for (Path p = CopyOf(s.folder); p;) {
    if (FDepth(p) == 0) {
      FDisposePath(p);
      break;
    }
    Str255 name;
    FNamePtr(p, name);
    std::string t = StrOf(name);
    if (FDepth(p) == 1 && t.size() == 1) t += ':';
    texts.push_back(t);
    s.pathRing.push_back(p);
    Path up = CopyOf(p);
    if (!up || FDirName(up, up) != kNoErr) {
      if (up) FDisposePath(up);
      break;
    }
    p = up;
  }
  texts.push_back(EntryText(kFDStrDrives));
  s.pathRing.push_back(nullptr);
  // The recent folders, each cut to 50 characters.
  s.ringRecent.clear();
  if (s.flags & kFDBrowse) {
    for (size_t i = 0; i < s.recent->entries.size(); ++i) {
      const RecentDir& r = s.recent->entries[i];
      if (r.type == kLibraryType && !(s.flags & kFDLibsAreFolders)) continue;
      Str255 shown;
      FPathToAbbrevPStr(r.folder, kPathRingWidth, shown);
      texts.push_back(StrOf(shown));
      s.ringRecent.push_back(int32(i));
    }
  }
  s.pathRingTexts = texts;
  if (s.dialog) {
    FillRing(s.dialog, kFDItemPathRing, texts);
    SetRingValue(s.dialog, kFDItemPathRing, 0);
  }
}

void FDSetDriveRing() {
  FDState& s = gState;
  s.drives.clear();
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHandle(0));
  UHandle types = AZNewHandle(0);
  if (names && types && FListVolumes(names, reinterpret_cast<DirEntryTypeHandle>(types)) == kNoErr) {
    const int32 n = int32(GetNative32(reinterpret_cast<UPtr>(*names)));
    const uChar* p = reinterpret_cast<UPtr>(*names) + 4;
    for (int32 i = 0; i < n; ++i, p += 1 + p[0]) s.drives.push_back(std::string(reinterpret_cast<const char*>(p + 1), p[0]) + ":");
  }
  if (names) AZDisposeHandle(reinterpret_cast<UHandle>(names));
  if (types) AZDisposeHandle(types);
  // A network volume that is current and not among them comes last.
  s.driveIndex = 0;
  if (s.folder && FDepth(s.folder) > 0) {
    Str255 vol;
    FNthName(s.folder, 0, vol);
    std::string v = StrOf(vol);
    if (FIsAPathOfType(s.folder, kAbsPath)) v += ':';
    auto at = std::find(s.drives.begin(), s.drives.end(), v);
    if (at == s.drives.end()) {
      s.drives.push_back(v);
      at = s.drives.end() - 1;
    }
    s.driveIndex = int32(at - s.drives.begin());
  }
  if (s.dialog) {
    FillRing(s.dialog, kFDItemDriveRing, s.drives);
    SetRingValue(s.dialog, kFDItemDriveRing, s.driveIndex);
  }
}

namespace {

// The volume's root path of a drive ring text.
Path DrivePath(const std::string& drive) {
  std::string t = drive;
  if (!t.empty() && t.back() == ':') t += '\\';
  Path p = nullptr;
  if (FTextToPath(reinterpret_cast<const uChar*>(t.data()), int32(t.size()), &p) != kNoErr) return nullptr;
  return p;
}

void StepDrive(int32 by) {
  FDState& s = gState;
  FDSetDriveRing();
  const int32 n = int32(s.drives.size());
  if (n == 0) return;
  const int32 next = ((s.driveIndex + by) % n + n) % n;
  OwnedPath p(DrivePath(s.drives[size_t(next)]));
  if (p.p) SetDir(p.p, 0);
}

}  // namespace

// ---- Entering folders ----------------------------------------------------------------------------

MgErr SetDir(Path folder, int32 levels) {
  FDState& s = gState;
  const bool fresh = levels < 0;
  // 1. A fixed folder.
  if (s.fixed && !(levels <= 0 && FPathCmp(folder, s.fixed) == 0)) {
    OwnedPath target(CopyOf(folder));
    for (int32 i = 0; target.p && i < levels; ++i) FDirName(target.p, target.p);
    if (target.p && FPathCmp(target.p, s.fixed) != 0) {
      Alert(kFDStrMustSelect, s.fixed);
      return kCancelErr;
    }
  }
  // 2. Where to go.
  Path target = CopyOf(folder);
  if (!target) return kMemFullErr;
  std::string selection;
  if (levels > 0 && levels >= FDepth(target)) {
    Str255 vol;
    if (FNthName(target, 0, vol) == kNoErr) selection = StrOf(vol) + (FIsAPathOfType(target, kAbsPath) ? ":" : "");
    FEmptyPath(target);
    FSetPathType(target, kAbsPath);
  } else {
    for (int32 i = 0; i < levels; ++i) FDirName(target, target);
    while (FDepth(target) > 0 && FExists(target) == 0) FDirName(target, target);
  }
  // 4. List it, stepping back on failure.
  Path previous = s.folder ? CopyOf(s.folder) : nullptr;
  MgErr err = kNoErr;
  for (;;) {
    Path old = s.folder;
    s.folder = target;
    s.inLibrary = FDepth(target) > 0 && FExists(target) == 1;
    err = FDFillList();
    if (!err) {
      if (old) FDisposePath(old);
      break;
    }
    s.folder = old;
    Alert(kFDStrListFailed, target);
    if (previous && FPathCmp(previous, target) != 0 && FPathCmp(previous, folder) != 0) {
      FPathCpy(target, previous);
      FDisposePath(previous);
      previous = nullptr;
    } else if (FDepth(target) > 0) {
      FDirName(target, target);
    } else {
      DBPrintf("Unable to resolve error in SetDir!!!\n");
      FDisposePath(target);
      if (previous) FDisposePath(previous);
      return err;
    }
  }
  if (previous) FDisposePath(previous);
  s.inLibrary = FDepth(s.folder) > 0 && FExists(s.folder) == 1;
  // 5. The selection, the rings and the buttons.
  if (s.dialog) {
    if (selection.empty()) selection = s.proposed.empty() ? ItemText(s.dialog, kFDItemName) : s.proposed;
    for (size_t i = 0; i < s.entries.size(); ++i)
      if (!selection.empty() && s.entries[i].text == selection && s.entries[i].enabled) {
        DlgSetSelectedListItem(s.dialog, kFDItemList, int32(i), 1);
        break;
      }
    // Nothing is made inside a library (in a fixed folder the button is hidden).
    if (s.flags & kFDBrowse) DlgGrayControl(s.dialog, kFDItemNew, s.inLibrary ? 2 : 0);
    DlgRefresh(s.dialog, kFDItemList);
  }
  FDSetPathRing();
  if (fresh) FDSetDriveRing();
  UpdateButtons();
  if (s.dialog) FocusList(s.dialog);
  return kNoErr;
}

namespace {

MgErr EnterFolder(Path folder) { return SetDir(folder, 0); }

// What the buttons act on: the list's selection, else the current folder.
struct Target {
  Kind kind = Kind::kNone;
  bool valid = false;
};
Target SelectionTarget() {
  Target t;
  const int32 i = Selected();
  if (i >= 0) {
    const FDEntry& e = gState.entries[size_t(i)];
    if (e.text == ".") t.kind = gState.inLibrary ? Kind::kLibrary : Kind::kFolder;
    else if (e.text == "..") t.kind = Kind::kFolder;
    else t.kind = gState.inLibrary ? Kind::kFile : KindOfGlyph(e.glyph);
    t.valid = e.glyph != kGlyphDivider;
  }
  return t;
}

void UpdateButtons() {
  FDState& s = gState;
  if (!s.dialog) return;
  const Target t = SelectionTarget();
  const int32 f = s.flags;
  const bool open = t.valid && Openable(t.kind, f);
  const bool folderish = t.valid && (t.kind == Kind::kFolder || (t.kind == Kind::kLibrary && (f & kFDLibsAreFolders)));
  Str255 title;
  SetP(title, EntryText(folderish || ChooseFolderMode(f) ? kFDStrOpen : kFDStrOK));
  DlgSetBoolText(s.dialog, kFDItemMain, title);
  if (ChooseFolderMode(f)) {
    const bool choose = t.valid ? Choosable(t.kind, f) : Choosable(s.inLibrary ? Kind::kLibrary : Kind::kFolder, f);
    DlgGrayControl(s.dialog, kFDItemSelect, choose ? 0 : 2);
    DlgGrayControl(s.dialog, kFDItemMain, open ? 0 : 2);
    DlgSetKeyNavItem(s.dialog, open ? kFDItemMain : kFDItemSelect, 0);
  }
}

// Choosing the named item of the current folder: the existence questions,
// then out with 0.
bool Choose(Path item, const std::string& name) {
  Str255 n;
  SetP(n, name);
  if (!FDExistenceCheck(item, n)) return false;
  FDState& s = gState;
  if (s.chosen) FDisposePath(s.chosen);
  s.chosen = CopyOf(item);
  s.chosenName = name;
  s.quitCode = kNoErr;
  DlgQuit(s.dialog, kNoErr);
  return true;
}

// In save mode a folder that may itself be chosen is a name to save under,
// not a place to browse: its parent is entered with the folder's name in the
// name field, where the operator may keep or change it.
void ShowInParent(Path item) {
  Str255 last = {0};
  OwnedPath parent(CopyOf(item));
  if (!parent.p || FNamePtr(item, last) != kNoErr || FDirName(parent.p, parent.p) != kNoErr) return;
  SetItemText(gState.dialog, kFDItemName, StrOf(last));
  EnterFolder(parent.p);
}

// The main button (choose false) or the choose-this-folder button.
void Accept(bool chooseButton) {
  FDState& s = gState;
  std::string name = ItemText(s.dialog, kFDItemName);
  const int32 sel = Selected();
  if (name.empty() && sel >= 0 && s.entries[size_t(sel)].enabled) name = s.entries[size_t(sel)].text;
  if (name.empty() && chooseButton) name = ".";
  if (name.empty()) return;
  OwnedPath item(CopyOf(s.folder));
  if (!item.p) return;
  if (name == "..") {
    FDirName(item.p, item.p);
  } else if (name != ".") {
    const bool listed = std::any_of(s.entries.begin(), s.entries.end(), [&](const FDEntry& e) { return e.text == name; });
    if (!listed) {
      // A path, absolute or relative to the current folder.
      Path typed = nullptr;
      if (FTextToPath(reinterpret_cast<const uChar*>(name.data()), int32(name.size()), &typed) == kNoErr && typed) {
        OwnedPath t(typed);
        if (!FIsAPathOfType(t.p, kAbsPath) && !FIsAPathOfType(t.p, kNetworkPath)) FAddPath(s.folder, t.p, t.p);
        const int32 e = FExists(t.p);
        if (e == 2 || (e == 1 && (s.flags & kFDLibsAreFolders) && IsQLBFile(t.p))) {
          EnterFolder(t.p);
          return;
        }
        if (FDepth(t.p) > 0 && FPathCmp(t.p, item.p) != 0) {
          Str255 last;
          OwnedPath dir(CopyOf(t.p));
          if (dir.p && FNamePtr(t.p, last) == kNoErr && FDirName(dir.p, dir.p) == kNoErr) {
            name = StrOf(last);
            if (FPathCmp(dir.p, s.folder) != 0) {
              FileInfoRec info;
              const MgErr err = FDepth(dir.p) > 0 ? FGetInfo(dir.p, &info) : kNoErr;
              if (err && !FDRetryDriveAlert(dir.p, err)) return;
              if (FExists(dir.p) != 2 || EnterFolder(dir.p) != kNoErr) return;
              SetItemText(s.dialog, kFDItemName, name);
            }
          }
        }
      }
    }
    Str255 n;
    SetP(n, name);
    if (FDCheckName(n, s.folder, kCheckNameOptions, nullptr)) return;
    FAppendName(item.p, n);
  }
  const Kind k = name == "." ? (s.inLibrary ? Kind::kLibrary : Kind::kFolder) : KindOf(item.p);
  const Kind asKind = k == Kind::kNone ? Kind::kFile : k;
  const bool choosable = Choosable(asKind, s.flags);
  const bool openable = k != Kind::kNone && Openable(k, s.flags) && name != ".";
  if (openable && !chooseButton) {
    if ((s.flags & kFDSave) && choosable && k == Kind::kFolder && name != "..") {
      ShowInParent(item.p);
      return;
    }
    EnterFolder(item.p);
    return;
  }
  if (choosable) {
    // "." and "..": the item's own name.
    Str255 last = {0};
    if (name == "." || name == "..") FNamePtr(item.p, last);
    Choose(item.p, name == "." || name == ".." ? StrOf(last) : name);
    return;
  }
  if (openable) {
    EnterFolder(item.p);
    return;
  }
  if ((k == Kind::kFolder || k == Kind::kLibrary) && (s.flags & kFDChooseFiles)) return;
  ExistingKindAlert(item.p, k);
}

}  // namespace

bool FDExistenceCheck(Path item, ConstPStr name) {
  FDState& s = gState;
  const int32 f = s.flags;
  Kind k = Kind::kNone;
  if (s.inLibrary) k = MemberExists(name) ? Kind::kFile : Kind::kNone;
  else k = KindOf(item);
  // Only volumes at the top level: no files there.
  if (FDepth(s.folder) == 0 && (k == Kind::kFile || k == Kind::kNone)) {
    Alert(kFDStrNoFilesHere, s.folder);
    return false;
  }
  if (k != Kind::kNone && !Choosable(k, f)) {
    ExistingKindAlert(item, k);
    return false;
  }
  if ((f & kFDSave) && k == Kind::kFile)
    return FDPathAlert(kFDTextsListId, kFDStrReplace, item, 0, nullptr, nullptr, 1) == 1;
  if ((f & kFDSave) && k != Kind::kNone) {
    Alert(kFDStrExists, item);
    return false;
  }
  if ((f & kFDOpen) && k == Kind::kNone) {
    Alert(kFDStrMissing, item);
    return false;
  }
  return true;
}

// ---- The new-folder box -----------------------------------------------------------------------

namespace {

struct NewBox {
  int32 code = kCancelErr;
  bool library = false;
  std::string name;
};
NewBox gBox;

void NewBoxButton(DialogRef box, int32 button) {
  FDState& s = gState;
  Str255 n = {0};
  DlgGetCtrlVal(box, kFDBoxName, kDlgPStrValueType, n);
  if (FDCheckName(n, s.folder, kCheckNameOptions, nullptr)) return;
  const bool library = button == kFDBoxLibrary;
  if (library && PStrHasRezExt(n) != kLibraryType) PStrAppendRezExt(n, kLibraryType);
  OwnedPath p(CopyOf(s.folder));
  if (!p.p || FAppendName(p.p, n) != kNoErr) return;
  // The existence questions as for saving a folder or library.
  const int32 saved = s.flags;
  s.flags = kFDSave | kFDChooseLibraries | kFDChooseFolders;
  const bool ok = FDExistenceCheck(p.p, n);
  s.flags = saved;
  if (!ok) return;
  gBox.code = kNoErr;
  gBox.library = library;
  gBox.name = StrOf(n);
  DlgQuit(box, kNoErr);
}

void NewFolderOrLibrary() {
  FDState& s = gState;
  if (FDepth(s.folder) == 0 || s.inLibrary) {
    Alert(kFDStrCantCreate, s.folder);
    return;
  }
  const bool folders = s.flags & kFDNewFolder, libraries = s.flags & kFDNewLibrary;
  DialogRef box = DlgLoad(RunTimeRsrcFile(), kFDNewBoxId, nullptr, 0, &CallbackProc, 0);
  if (!box) {
    QX_ASSERT_MSG(false, "FileDialog: no new-folder box resource");
    return;
  }
  if (!folders) DlgHideControl(box, kFDBoxFolder);
  if (!libraries) DlgHideControl(box, kFDBoxLibrary);
  SetItemText(box, kFDBoxPrompt,
              EntryText(folders && libraries ? kFDStrNewDirOrLib : folders ? kFDStrNewDir : kFDStrNewLib));
  SetItemText(box, kFDBoxName, EntryText(kFDStrUntitled));
  // 50 pixels right of and below the file dialog's origin.
  Rect r{};
  if (const WindowRef w = DlgWindow(s.dialog)) WGetGlobalRect(w, &r);
  DlgMove(box, r.left + 50, r.top + 50);
  gBox = NewBox{};
  if (gNewBoxHook) gNewBoxHook(box);
  else DlgBoxLoop(box);
  DlgUnload(box);
  if (gBox.code == kNoErr) {
    Str255 n;
    SetP(n, gBox.name);
    OwnedPath p(CopyOf(s.folder));
    if (p.p && FAppendName(p.p, n) == kNoErr) {
      if (!gBox.library) {
        if (FNewDir(p.p) != kNoErr) {
          Alert(kFDStrCantCreate, s.folder);
        } else {
          FileInfoRec info;
          if (FGetInfo(p.p, &info) != kNoErr) Alert(kFDStrAccess, p.p);
          else EnterFolder(p.p);
        }
      } else {
        // The library is made by the caller once a name is accepted in it.
        if (s.folder) FDisposePath(s.folder);
        s.folder = CopyOf(p.p);
        s.inLibrary = true;
        s.entries.clear();
        DlgDeleteList(s.dialog, kFDItemList);
        FDSetPathRing();
        UpdateButtons();
      }
    }
  }
  if (s.flags & kFDOpen) FocusList(s.dialog);
  else DlgSetKbdFocus(s.dialog, kFDItemName, 0, 0x7fffffff);
}

}  // namespace

int32 CallbackProc(const WEventRecord* event, DialogRef dialog, int32) {
  if (!event) return 0;
  const FDState& s = gState;
  const int32 defaultButton = (s.flags & kFDNewFolder) ? kFDBoxFolder : kFDBoxLibrary;
  switch (event->code) {
    case kDlgEvItemChange:
      if ((event->where == kFDBoxFolder || event->where == kFDBoxLibrary) && (event->globalWhere & kDlgResultCommitted)) {
        NewBoxButton(dialog, event->where);
        return 1;
      }
      return 0;
    case weKey:
      if (event->keyCode == kDlgReturnKeyCode && DlgGetKbdFocus(dialog) == kFDBoxName) {
        NewBoxButton(dialog, defaultButton);
        return 1;
      }
      return 0;
    case kDlgEvCancel:
      gBox.code = kCancelErr;
      DlgQuit(dialog, kCancelErr);
      return 1;
    default: return 0;
  }
}

// ---- Items and events ---------------------------------------------------------------------------

void FDItemHit(int32 item) {
  FDState& s = gState;
  switch (item) {
    case kFDItemList: {
      const int32 i = Selected();
      if (i >= 0 && s.entries[size_t(i)].enabled && s.entries[size_t(i)].glyph != kGlyphDivider) {
        const FDEntry& e = s.entries[size_t(i)];
        const Kind k = e.text == "." || e.text == ".." ? Kind::kFolder : s.inLibrary ? Kind::kFile : KindOfGlyph(e.glyph);
        if (Choosable(k, s.flags) && e.text != "." && e.text != "..") SetItemText(s.dialog, kFDItemName, e.text);
      }
      int32 clicked = -1;
      if (DlgGetDoubleClickListItem(s.dialog, kFDItemList, &clicked)) {
        const int32 def = DlgKeyNavItem(s.dialog, 0, nullptr);
        if (def && def != kFDItemList) FDItemHit(def);
        return;
      }
      UpdateButtons();
      break;
    }
    case kFDItemName: UpdateButtons(); break;
    case kFDItemPathRing: {
      const int32 v = RingValue(s.dialog, kFDItemPathRing);
      const int32 ancestors = int32(s.pathRing.size());
      if (v >= 0 && v < ancestors) {
        if (!s.pathRing[size_t(v)]) SetDir(s.folder, FDepth(s.folder));
        else SetDir(s.folder, v);
      } else if (v >= ancestors && size_t(v - ancestors) < s.ringRecent.size()) {
        const int32 r = s.ringRecent[size_t(v - ancestors)];
        Path p = s.recent->entries[size_t(r)].folder;
        const int32 e = FExists(p);
        if (e == 2 || (e == 1 && IsQLBFile(p))) {
          OwnedPath copy(CopyOf(p));
          if (copy.p) SetDir(copy.p, 0);
        } else {
          Alert(kFDStrMissing, p);
          FDRecentRemove(*s.recent, r);
          FDSetPathRing();
        }
      }
      break;
    }
    case kFDItemDriveRing: {
      const int32 v = RingValue(s.dialog, kFDItemDriveRing);
      if (v >= 0 && size_t(v) < s.drives.size()) {
        OwnedPath p(DrivePath(s.drives[size_t(v)]));
        if (p.p) SetDir(p.p, 0);
      }
      break;
    }
    case kFDItemEject: break;  // hidden; nothing to eject here
    case kFDItemNew: NewFolderOrLibrary(); break;
    case kFDItemSelect: Accept(true); break;
    case kFDItemMain: Accept(false); break;
    case kFDItemCancel:
      s.quitCode = kCancelErr;
      DlgQuit(s.dialog, kCancelErr);
      break;
    case kFDItemKindRing:
      s.kindIndex = RingValue(s.dialog, kFDItemKindRing);
      if (s.kinds.IsCustom(s.kindIndex)) DlgShowControl(s.dialog, kFDItemPattern);
      else DlgHideControl(s.dialog, kFDItemPattern);
      FDFillList();
      UpdateButtons();
      break;
    case kFDItemPattern:
      s.pattern = ItemText(s.dialog, kFDItemPattern);
      if (s.pattern.empty()) {
        s.pattern = "*";
        SetItemText(s.dialog, kFDItemPattern, s.pattern);
      }
      FDFillList();
      UpdateButtons();
      break;
    default: DBPrintf("default --  dItem hit %ld\n", long(item)); break;
  }
}

int32 FDDialogFilter(const WEventRecord* event, DialogRef dialog, int32) {
  FDState& s = gState;
  if (!event || dialog != s.dialog) return 0;
  // The focus memory between the list and the name field.
  const int32 focus = DlgGetKbdFocus(dialog);
  if (focus != s.lastFocus) {
    if (s.lastFocus == kFDItemList && focus == kFDItemName) {
      s.rememberedSelection = Selected();
      DlgSetSelectedListItem(dialog, kFDItemList, -1, 0);
      UpdateButtons();
    } else if (s.lastFocus == kFDItemName && focus == kFDItemList && Selected() < 0 && s.rememberedSelection >= 0) {
      DlgSetSelectedListItem(dialog, kFDItemList, s.rememberedSelection, 1);
      UpdateButtons();
    }
    s.lastFocus = focus;
  }
  switch (event->code) {
    case kDlgEvItemChange:
      if (!(event->globalWhere & kDlgResultCommitted)) return 0;
      FDItemHit(event->where);
      return 1;
    case kDlgEvItemClick:
      if (event->where == kFDItemDriveRing) FDSetDriveRing();
      return 0;
    case weKey:
      if (!(event->modifiers & kNavModifier)) return 0;
      switch (event->keyCode) {
        case kKeyUp: SetDir(s.folder, 1); return 1;
        case kKeyOpen: Accept(false); return 1;
        case kKeyPrevDrive: StepDrive(-1); return 1;
        case kKeyNextDrive: StepDrive(1); return 1;
        default: return 0;
      }
    case kDlgEvCancel: FDItemHit(kFDItemCancel); return 1;
    case kEvVolume: {
      ConstPStr volume = reinterpret_cast<ConstPStr>(uintptr_t(uInt32(event->where)));
      if (!volume) return 1;
      FDSetDriveRing();
      std::string v = StrOf(volume);
      if (!v.empty() && v.back() == '\\') v.pop_back();
      for (size_t i = 0; i < s.drives.size(); ++i)
        if (s.drives[i] == v) {
          OwnedPath p(DrivePath(v));
          if (p.p) SetDir(p.p, 0);
        }
      return 1;
    }
    default: return 0;
  }
}

MgErr FDPanelStart(DialogRef dialog, Path start, ConstPStr prompt, int32 h, int32 v) {
  FDState& s = gState;
  s.dialog = dialog;
  const int32 f = s.flags;
  if (!(f & kFDBrowse)) {
    const int32 e = FExists(start);
    if (!(e == 2 || (e == 1 && (f & kFDLibsAreFolders) && IsQLBFile(start)))) {
      Alert(kFDStrCantSave, start);
      return kCancelErr;
    }
    s.fixed = CopyOf(start);
    for (int32 item : {kFDItemDriveRing, kFDItemEject, kFDItemNew, kFDItemSelect}) DlgHideControl(dialog, item);
  }
  if (f & kFDNoCancel) DlgHideControl(dialog, kFDItemCancel);
  if (!ChooseFolderMode(f)) DlgHideControl(dialog, kFDItemSelect);
  if (!(f & (kFDNewFolder | kFDNewLibrary))) DlgHideControl(dialog, kFDItemNew);
  DlgHideControl(dialog, kFDItemEject);
  if (!s.proposed.empty()) SetItemText(dialog, kFDItemName, s.proposed);
  if (f & kFDBrowse) FDSetDriveRing();
  if (prompt) {
    DlgSetCtrlVal(dialog, kFDItemPrompt, kDlgPStrValueType, prompt);
    DlgSetStringItemFlag(dialog, kFDItemPrompt, 1);
  }
  // The kind ring: the first group, or the custom pattern when there is no
  // group, is chosen when either is given.
  std::vector<std::string> kinds{EntryText(kFDStrViewAll)};
  for (const FDKindGroup& g : s.kinds.groups) kinds.push_back(g.name);
  kinds.push_back(EntryText(kFDStrCustom));
  FillRing(dialog, kFDItemKindRing, kinds);
  s.kindIndex = !s.kinds.groups.empty() ? 1 : !s.pattern.empty() ? s.kinds.Count() - 1 : 0;
  SetRingValue(dialog, kFDItemKindRing, s.kindIndex);
  if (s.kinds.IsCustom(s.kindIndex)) SetItemText(dialog, kFDItemPattern, s.pattern);
  else DlgHideControl(dialog, kFDItemPattern);
  DlgMove(dialog, h, v);
  if (MgErr err = SetDir(start, -1)) return err;
  if (f & kFDOpen) {
    FocusList(dialog);
  } else {
    DlgSetKbdFocus(dialog, kFDItemName, 0, 0x7fffffff);
    DlgSetSelectedListItem(dialog, kFDItemList, -1, 0);
  }
  s.lastFocus = DlgGetKbdFocus(dialog);
  UpdateButtons();
  return kNoErr;
}
