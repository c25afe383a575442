// The application's menus: their trimming, the item rules for a VI, the
// Windows list, the quit sequence, the Help menu's folder, VI Info and the
// Data Logging commands' alerts.
#include <filesystem>
#include <fstream>

#include "viwindow_fixture.h"
#include "dialog_blocks.h"
#include "app/dlgservices.h"
#include "engine/exec/menutexts.h"
#include "mgsource/appdirs.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/mainloop.h"
#include "shell/dialog.h"
#include "shell/eventfilter.h"
#include "shell/menuids.h"
#include "shell/progmenu.h"
#include "shell/progmenu_internal.h"
#include "shell/viinfo.h"
#include "shell/toplevel.h"
#include "engine/exec/exec.h"
#include "shell/splash.h"
#include "mgsource/printf.h"
#include "temp_folder.h"
#include "tools/vilibrary.h"
#include "tools/tdbuilder.h"
#include "rtlib/filerefnum.h"
#include "engine/vi/virecord.h"
#include "engine/vi/archive_format.h"

namespace {

std::string gMenuAlert;
int32_t KeepMenuAlert(const char*, const char* text, int32_t, int32_t) {
  gMenuAlert = text;
  return 0;
}
std::string gMenuDebug;
void KeepMenuDebug(const char* text) { gMenuDebug += text; }

class ProgMenuTest : public VIWindowBoundary {
 protected:
  void SetUp() override {
    VIWindowBoundary::SetUp();
    MenuTableReset(0);
    ASSERT_EQ(InitAppMenus(), kNoErr);
  }
  void TearDown() override {
    PrefSet(kPrefSimplePopups, 0);
    PlatSetAlertProc(nullptr);
    DisposeAppMenus();
    MenuTableReset(1);
    VIWindowBoundary::TearDown();
  }
  static std::vector<int32> Keys(int32 menu) {
    std::vector<int32> keys;
    MenuHandle m = MenuTableGet(menu);
    for (int32 i = 1; m && i <= MCountItems(m); ++i) {
      MenuItemInfo info{};
      MGetItemInfo(m, i, &info);
      keys.push_back(int32(info.itemKey));
    }
    return keys;
  }
  static bool On(int32 menu, int32 key) {
    MenuItemInfo info{};
    MenuHandle m = MenuTableGet(menu);
    MGetItemInfo(m, MFindLItemByKey(m, uInt32(key)), &info);
    return info.enabled != 0;
  }
  static bool Checked(int32 menu, int32 key) {
    MenuItemInfo info{};
    MenuHandle m = MenuTableGet(menu);
    MGetItemInfo(m, MFindLItemByKey(m, uInt32(key)), &info);
    return info.mark != 0;
  }
  VIRecord* Rec() { return VIRec(vi_); }
  // The object system's steps of the dialog builder, while dialogs_ lives.
  struct DialogSteps {
    EnginePanelHooks saved = *GetEnginePanelHooks();
    DialogSteps() {
      EnginePanelHooks h = saved;
      h.oAllocate = &OAllocate;
      h.newPanelRoot = &FPNewPanelRoot;
      SetEnginePanelHooks(&h);
      PanelInstallDialogHooks();
      DlgSetPanelServices(AppDialogServices());
    }
    ~DialogSteps() {
      DlgSetPanelServices(DlgPanelServices{});
      SetDlgPanelHooks(nullptr);
      SetEnginePanelHooks(&saved);
    }
  };
  static Path HostPath(const std::string& host) {
    std::string text = "C:";
    for (char c : host) text += c == '/' ? '\\' : c;
    Path p = nullptr;
    EXPECT_EQ(FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p), kNoErr);
    return p;
  }
};

// What the run-time system leaves of each menu, and with "simplePopups".
TEST_F(ProgMenuTest, TrimmingLeavesTheRunTimeItems) {
  const std::pair<int32, std::vector<int32>> plain[] = {
      {kFileMenu, {2, 3, 4, 11, 14, 21, 25}}, {kEditMenu, {4, 5, 6, 7, 8, 19}},
      {kOperateMenu, {1, 3, 4, 5, 6, 7, 10}}, {kWindowsMenu, {2, 7, 13, 14}},
      {kDialogEditMenu, {1, 2, 3, 4, 5, 6, 7, 8, 9}}, {kHelpMenu, {1, 4, 6, 7, 8}}};
  for (const auto& [menu, keys] : plain) EXPECT_EQ(Keys(menu), keys) << menu;
  Str255 text;
  MGetLItemName(MenuTableGet(kFileMenu), 1, text);
  EXPECT_EQ(T(text), "APP_OPEN");
  // The Data Logging menu hangs on Operate's item with key 6.
  EXPECT_EQ(MGetLItemPtr(MenuTableGet(kOperateMenu), 5)->submenu, MenuTableGet(kDataLogMenu));
  DisposeAppMenus();
  MenuTableReset(0);
  PrefSet(kPrefSimplePopups, 1);
  ASSERT_EQ(InitAppMenus(), kNoErr);
  const std::pair<int32, std::vector<int32>> simple[] = {
      {kFileMenu, {2, 3, 4, 11, 14, 25}}, {kEditMenu, {4, 5, 6, 7, 8}}, {kOperateMenu, {1}},
      {kWindowsMenu, {7, 13}}, {kHelpMenu, {1, 4, 7, 8}}};
  for (const auto& [menu, keys] : simple) EXPECT_EQ(Keys(menu), keys) << menu;
}

// The menu key with W chooses File -> Close: the program's menus give their
// shortcuts the menu-key modifier, which the menu manager keeps (a Ctrl
// token it drops, and no key would choose the item).
TEST_F(ProgMenuTest, TheMenuKeyWithALetterChoosesItsItem) {
  WEventRecord e{};
  e.code = weKey;
  e.keyCode = vkAscii;
  e.character = 'w';
  e.modifiers = 0x20;
  ASSERT_EQ(MMenuBarShortcut(&e, MenuTableGet(kBarPanelId), 1), 1);
  EXPECT_EQ(e.where, kFileMenu);
  MenuItemInfo info{};
  MGetItemInfo(MenuTableGet(kFileMenu), e.globalWhere, &info);
  EXPECT_EQ(info.itemKey, 3u);
}

// The item rules: no VI window, the kinds that never run, retrieval mode,
// and the Data Logging menu over mode and state.
TEST_F(ProgMenuTest, ItemRulesFollowTheVIsState) {
  EXPECT_EQ(VIWindSetupMenus(nullptr), 1);
  for (int32 key : {4, 5, 6, 7}) EXPECT_FALSE(On(kEditMenu, key)) << key;
  EXPECT_TRUE(On(kEditMenu, 19));
  for (const int16 kind : {int16(kVIKindControl), int16(4), int16(kVIKindDatalog)}) {
    Rec()->viKind = kind;
    Rec()->eState = kVIStateIdle;
    VIWindSetupMenus(panel_);
    EXPECT_EQ(On(kOperateMenu, 1), kind == kVIKindDatalog) << kind;
  }
  Rec()->flags2 |= 0x8000;
  VIWindSetupMenus(panel_);
  EXPECT_TRUE(On(kOperateMenu, 4) && Checked(kOperateMenu, 4) && !Checked(kOperateMenu, 5));
  const struct {
    uInt32 flags2, state;
    bool log, retrieve, retrieveChecked, change;
  } cases[] = {
      {0, kVIStateIdle, true, false, false, true},
      {0x800, kVIStateIdle, false, true, true, true},
      {0x400000, kVIStateIdle, false, false, false, false},
      {0, 2, false, false, false, false},
  };
  for (const auto& c : cases) {
    Rec()->flags2 = c.flags2;
    Rec()->eState = c.state;
    VIWindSetupMenus(panel_);
    SCOPED_TRACE(c.flags2 + c.state);
    EXPECT_EQ(On(kDataLogMenu, 1), c.log);
    EXPECT_EQ(On(kDataLogMenu, 2), c.retrieve);
    EXPECT_EQ(Checked(kDataLogMenu, 2), c.retrieveChecked);
    EXPECT_EQ(On(kDataLogMenu, 4), c.change);
    EXPECT_FALSE(On(kDataLogMenu, 5));
    if (c.flags2 == 0x800) {
      EXPECT_FALSE(On(kOperateMenu, 1) || On(kOperateMenu, 4) || On(kOperateMenu, 5));
    }
  }
}

// The open VI windows after a separator, "__" ignored in the order, the
// window being set up marked; without "_Full Size" a debug line.
TEST_F(ProgMenuTest, WindowsListIsAlphabeticalAfterASeparator) {
  for (const char* name : {"\x01" "b", "\x03" "__a", "\x01" "c"}) {
    UHandle vi = NewVICore(kVIKindDatalog, reinterpret_cast<ConstPStr>(name), -1);
    ASSERT_NE(vi, nullptr);
    ASSERT_EQ(OpenFrontPanel(vi), 1);
  }
  VIWindBuildWindowsList(vi_);
  MenuHandle m = MenuTableGet(kWindowsMenu);
  const int32 full = MFindLItemByKey(m, 13);
  std::vector<std::string> titles;
  for (int32 i = full + 1; i <= MCountItems(m); ++i) {
    Str255 t;
    MGetLItemName(m, i, t);
    titles.push_back(T(t));
  }
  // The list is one group whose head carries the run-time menus' tag.
  EXPECT_EQ(titles, (std::vector<std::string>{"", "APP_OPEN_WINDOWS", "__a", "b", "c"}));
  EXPECT_EQ(MGetLItemGroupSize(m, full + 2), 4);
  MenuItemInfo info{};
  MGetItemInfo(m, full + 2, &info);
  EXPECT_NE(info.mark, 0);
  MGetItemInfo(m, full + 3, &info);
  EXPECT_EQ(info.mark, 0);
  // Windows' command 0 brings the item's window to the front.
  EXPECT_EQ(AppMenuCommand(kWindowsMenu, full + 4, 0), 1);
  MDeleteItem(m, full);
  const PlatDebugSink old = PlatSetDebugSink(&KeepMenuDebug);
  gMenuDebug.clear();
  VIWindBuildWindowsList(vi_);
  PlatSetDebugSink(old);
  EXPECT_NE(gMenuDebug.find("couldn't find last item in the window menu"), std::string::npos);
}

// Quit: registered notifications only fire; in a nested loop the quit
// leaves the loop and comes back at the top level.
TEST_F(ProgMenuTest, QuitFiresNotificationsOrRepostsFromANestedLoop) {
  ASSERT_EQ(OccurInit(), kNoErr);
  const Occurrence occ = AllocOccur();
  ASSERT_EQ(InstallQuitNotification(occ, 1, nullptr), kNoErr);
  EXPECT_EQ(AppMenuCommand(kFileMenu, 0, 24), 1);
  EXPECT_FALSE(WQuitting());
  ASSERT_EQ(InstallQuitNotification(occ, 0, nullptr), kNoErr);
  WAdjustNesting(2);
  AppQuit();
  WAdjustNesting(-2);
  std::vector<WEventCode> posted;
  WPurgeEvents(kWRootWindow, [](WindowRef, const WEventRecord* e, void* d) -> int32 {
    if (e->code == kLeaveNestedLoopEvent || e->code == kWEvQuit) static_cast<std::vector<WEventCode>*>(d)->push_back(e->code);
    return 1;
  }, &posted);
  EXPECT_EQ(posted, (std::vector<WEventCode>{kLeaveNestedLoopEvent, kWEvQuit}));
  EXPECT_FALSE(WQuitting());
  DisposeQuitNotifications();
  WResetMainLoop();
  DeallocOccur(occ);
  OccurShutdown();
}

// The help folder: "_" names left out, a help file named by its ".txt",
// an empty folder no item, a library's top-level VIs, and a folder that
// links back to its parent walked once.
TEST_F(ProgMenuTest, HelpFolderItemsAndALinkLoopEnds) {
  TempFolder dir("qxhelp");
  namespace fs = std::filesystem;
  const fs::path root = dir.Dir();
  qxbuild::VILibraryWriter lib("lib.qlb");
  lib.Add(qxbuild::MakeMember("A.vi", archfmt::kTypeVI, {}, archfmt::kFlagTopLevel));
  lib.Add(qxbuild::MakeMember("B.vi", archfmt::kTypeVI, {}, 0));
  ASSERT_TRUE(rsrcw::WriteHostFile((root / "lib.qlb").string(), lib.Write()));
  std::ofstream(root / "_x.hlp") << "x";
  std::ofstream(root / "y.hlp") << "y";
  std::ofstream(root / "y.txt") << "Why   \n";
  fs::create_directory(root / "empty");
  fs::create_directory(root / "d");
  std::ofstream(root / "d" / "z.hlp") << "z";
  fs::create_directory_symlink("..", root / "d" / "back");
  MenuHandle menu = nullptr;
  ASSERT_EQ(MNewLMenu(&menu, reinterpret_cast<ConstPStr>("\x04Help"), 300), kNoErr);
  Path folder = HostPath(root.string());
  EXPECT_EQ(BuildHelpDirMenu(folder, menu, 0, 0, nullptr), 3);
  std::vector<std::string> items;
  for (int32 i = 1; i <= MCountItems(menu); ++i) {
    Str255 t;
    MGetItemText(menu, i, t);
    items.push_back(T(t));
  }
  EXPECT_EQ(items, (std::vector<std::string>{"d", "A.vi", "Why"}));
  MenuHandle sub = MGetLItemPtr(menu, 1)->submenu;
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(MCountItems(sub), 1) << "the link back to the folder is not walked again";
  const std::vector<std::string> exclude = {"y.*"};
  Str255 name;
  PStrCpy(name, reinterpret_cast<ConstPStr>("\x05Y.HLP"));
  EXPECT_TRUE(NameInPatternList(name, &exclude));
  DisposeMenuPaths(menu);
  ReleaseMenuID(MGetMenuID(sub));
  MDisposeMenu(sub);
  MDisposeMenu(menu);
  FDisposePath(folder);
}

// VI Info of a never-saved VI and control: the texts of list 319, "-" for
// the size on disk and the diagram.
TEST_F(ProgMenuTest, VIInfoOfANeverSavedVI) {
  {
  const DialogSteps steps;
  for (const int16 kind : {kVIKindDatalog, kVIKindControl}) {
    Rec()->viKind = kind;
    const DialogRef d = VIInfoLoad(vi_, 1);
    ASSERT_NE(d, nullptr);
    Str255 path, disk, diagram, total;
    DlgGetCtrlVal(d, 9, kDlgPStrValueType, path);
    DlgGetCtrlVal(d, 10, kDlgPStrValueType, disk);
    DlgGetCtrlVal(d, 14, kDlgPStrValueType, diagram);
    DlgGetCtrlVal(d, 17, kDlgPStrValueType, total);
    EXPECT_EQ(T(path), kind == kVIKindControl ? "Control not saved to disk" : "VI not saved to disk");
    EXPECT_EQ(T(disk), "-");
    EXPECT_EQ(T(diagram), "-");
    EXPECT_EQ(T(total).substr(0, 1), "~");
    DlgUnload(d);
  }
  }
  Str255 text;
  int32 sum = 0;
  FormatKBytes(-1, &sum, text);
  EXPECT_EQ(T(text), "-");
  FormatKBytes(1536, &sum, text);
  EXPECT_EQ(T(text) + std::to_string(sum), "1.5K1536");
}

// Log on a broken VI shows why; a log file of another record type gives
// list 700's entry 7 and the binding is cleared.
TEST_F(ProgMenuTest, LogCommandSaysWhyItCannotLog) {
  PlatSetAlertProc(&KeepMenuAlert);
  MenuHandle log = MenuTableGet(kDataLogMenu);
  Rec()->eState = kVIStateBroken;
  EXPECT_EQ(VIWindMenuCommand(kDataLogMenu, MFindLItemByKey(log, 1), panel_, kWNoWindow), 1);
  EXPECT_NE(gMenuAlert.find("Cannot log front panel of VI with broken run arrow."), std::string::npos) << gMenuAlert;
  gMenuAlert.clear();
  Rec()->eState = kVIStateIdle;
  EXPECT_EQ(VIWindMenuCommand(kDataLogMenu, MFindLItemByKey(log, 1), panel_, kWNoWindow), 1);
  EXPECT_NE(gMenuAlert.find("front panel data"), std::string::npos) << gMenuAlert;
  // A record to log, bound to a file that is no datalog of it: error 71.
  TempFolder dir("qxlogcmd");
  std::ofstream(dir.Dir() + "/panel.log") << "not a datalog";
  ASSERT_EQ(FRefNumJarCreate(), kNoErr);
  Rec()->logRecord = AZNewHClr(sizeof(DatalogBindingRec));
  auto binding = [&] { return reinterpret_cast<DatalogBindingRec*>(*Rec()->logRecord); };
  const std::vector<uChar> td = tdb::Cluster({tdb::I32(), tdb::I32()}).Bytes();
  binding()->recordTD = AZNewHandle(int32(td.size()));
  std::memcpy(*binding()->recordTD, td.data(), td.size());
  binding()->recordData = AZNewHClr(8);
  binding()->logPath = HostPath(dir.Dir() + "/panel.log");
  EXPECT_EQ(VIWindMenuCommand(kDataLogMenu, MFindLItemByKey(log, 1), panel_, kWNoWindow), 1);
  EXPECT_NE(gMenuAlert.find("The data in the VI's log file is incompatible with the VI's front panel."),
            std::string::npos) << gMenuAlert;
  EXPECT_FALSE(FIsAPath(binding()->logPath)) << "the binding is cleared";
  FDisposePath(binding()->logPath);
  AZDisposeHandle(binding()->recordTD);
  AZDisposeHandle(binding()->recordData);
  AZDisposeHandle(Rec()->logRecord);
  Rec()->logRecord = nullptr;
}

}  // namespace

namespace {

// The splash window with its five status lines looks as its golden.
TEST_F(ProgMenuTest, SplashWindowLooksAsItsGolden) {
  ASSERT_EQ(WInitScreenImage(), kNoErr);
  DInitDraw();
  drawing_ = true;
  CreateSplashWindow();
  const WindowRef w = SplashWindow();
  ASSERT_NE(w, kWNoWindow);
  WInvalRect(w, nullptr);
  PlatUiPump();
  // Lines 1 to 4 are drawn once; only the main line comes back with a redraw.
  for (int32 line = 0; line <= 4; ++line) {
    Str255 text;
    PPrintf(text, "status line %ld", long(line));
    SplashSetStatusText(w, text, line, 0);
  }
  PlatUiPump();
  const std::filesystem::path png = std::filesystem::path(QX_SOURCE_DIR) / "tests/shell/goldens/splash.png";
  qxtest::ExpectMatchesGolden(PlatWindowSurface(WHostWindow(w)), png, "the splash; QX_UPDATE_GOLDENS=1 makes it again");
  DestroySplash();
}

}  // namespace

namespace {

std::vector<std::pair<int32, int32>> gActions;  // action, argument (-1 none)

// The VI window's commands by menu and key: the edit actions and the
// reinitialisation go to the panel in a transaction, a paste that cannot
// paste and a Run the VI's options forbid are taken without action, and
// commands of other menus are left to the shell.
TEST_F(ProgMenuTest, WindowCommandsReachThePanelOrAreLeft) {
  ProgMenuHooks h = ProgMenuHooksInUse();
  h.sendAction = [](ObjHeap, int32 action, void* argument) {
    gActions.emplace_back(action, argument ? *static_cast<int32*>(argument) : -1);
    return 0;
  };
  SetProgMenuHooks(h);
  Rec()->stored84 = 1;  // no Run
  const struct {
    int32 menu, key, taken;
    std::vector<std::pair<int32, int32>> actions;
  } cases[] = {
      {kEditMenu, 4, 1, {{45, 4}}},      {kEditMenu, 7, 1, {{45, 7}}},       {kEditMenu, 6, 1, {}},
      {kDialogEditMenu, 5, 1, {{45, 5}}}, {kOperateMenu, 10, 1, {{42, -1}}}, {kOperateMenu, 1, 1, {}},
      {kEditMenu, 19, 0, {}},             {kWindowsMenu, 13, 0, {}},
  };
  for (const auto& c : cases) {
    gActions.clear();
    MenuHandle m = MenuTableGet(c.menu);
    EXPECT_EQ(VIWindMenuCommand(c.menu, MFindLItemByKey(m, uInt32(c.key)), panel_, kWNoWindow), c.taken)
        << c.menu << " " << c.key;
    EXPECT_EQ(gActions, c.actions) << c.menu << " " << c.key;
  }
  SetProgMenuHooks(ProgMenuHooks{});
}

// Every shortcut of the program's menu lists is the menu key with its
// letter, "Mk+X": each built item keeps exactly that key.
TEST_F(ProgMenuTest, TheProgramsMenusKeepTheirShortcuts) {
  int32 shortcuts = 0;
  for (const MenuTextList& l : kMenuTextLists) {
    MenuHandle m = nullptr;
    ASSERT_EQ(BuildListMenu(RunTimeRsrcFile(), l.id, l.id, &m), kNoErr) << l.name;
    for (int32 i = 1; i <= MCountItems(m); ++i) {
      const LItemRecord* r = MGetLItemPtr(m, i);
      const std::string entry = l.entries[r->itemKey];
      const size_t keys = entry.find(":Mk+");
      const bool has = keys != std::string::npos && keys + 5 == entry.size();
      shortcuts += has;
      EXPECT_EQ(std::make_tuple(r->shortcutKey, r->shortcutChar, r->shortcutMods),
                has ? std::make_tuple(int16(27), int32(std::toupper(uChar(entry.back()))), uInt32(0x20))
                    : std::make_tuple(int16(0), r->shortcutChar, r->shortcutMods))
          << entry;
    }
    MDisposeMenu(m);
  }
  EXPECT_GT(shortcuts, 20);
}

// A menu list's entry without its colon and tag is reported and left out;
// the keys of the others stay their entry numbers less one.
TEST_F(ProgMenuTest, AnEntryWithoutItsTagIsLeftOut) {
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  w.Add(rsrcfmt::kTypeStrList, 600, rsrcw::StrList({"Title", "A:APP_A", "no tag", "B:", "C:APP_C:Ctrl+K"}));
  const rsrcw::Bytes bytes = w.Write();
  UHandle fh = AZNewHandle(int32(bytes.size()));
  ASSERT_NE(fh, nullptr);
  std::memcpy(*fh, bytes.data(), bytes.size());
  RsrcFileRef file = 0;
  ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &file, nullptr, nullptr, fh), kNoErr);
  const PlatDebugSink old = PlatSetDebugSink(&KeepMenuDebug);
  gMenuDebug.clear();
  MenuHandle m = nullptr;
  ASSERT_EQ(BuildListMenu(file, 600, 600, &m), kNoErr);
  PlatSetDebugSink(old);
  std::vector<int32> keys;
  for (int32 i = 1; i <= MCountItems(m); ++i) keys.push_back(int32(MGetLItemPtr(m, i)->itemKey));
  EXPECT_EQ(keys, (std::vector<int32>{1, 4}));
  EXPECT_EQ(MGetLItemPtr(m, 2)->shortcutChar, 'K');
  EXPECT_NE(gMenuDebug.find("menu list 600 entry 3 has no tag"), std::string::npos) << gMenuDebug;
  EXPECT_NE(gMenuDebug.find("menu list 600 entry 4 has no tag"), std::string::npos) << gMenuDebug;
  MDisposeMenu(m);
  RCloseFile(file);
}

// A path menu opens its item's path only when the menu says it holds paths
// (attribute 8 or 16) or the call is not strict.
TEST_F(ProgMenuTest, PathMenusOpenOnlyMarkedMenusWhenStrict) {
  static int32 opened = 0;
  SetTopLevelOpenProc([](Path p, UHandle* vi, int32) {
    ++opened;
    FDisposePath(p);
    if (vi) *vi = nullptr;
    return MgErr(7);
  });
  MenuHandle m = nullptr;
  ASSERT_EQ(MNewLMenu(&m, reinterpret_cast<ConstPStr>("\x01P"), 200), kNoErr);
  MenuTableSet(200, m);
  Path p = HostPath("/nowhere/x.vi");
  ASSERT_NE(p, nullptr);
  ASSERT_EQ(MInsertLItem(m, reinterpret_cast<ConstPStr>("\x01x"), nullptr, 0, &p, 4, -1, 0), kNoErr);
  EXPECT_EQ(VIWindOpenMenuPath(panel_, 200, 1, 1), 0);
  EXPECT_EQ(opened, 0);
  const uInt32 vis = kMenuAttrVIMenu;
  MSetMenuAttrs(m, &vis, nullptr, nullptr, nullptr);
  EXPECT_EQ(VIWindOpenMenuPath(panel_, 200, 1, 1), 0) << "the VI did not open and the menu holds no help files";
  EXPECT_EQ(opened, 1);
  SetTopLevelOpenProc(nullptr);
  MenuTableSet(200, nullptr);
  MDisposeMenu(m);
  FDisposePath(p);
}

}  // namespace

namespace {

// The about box: its first frame looks as its golden; Enter, the cancel
// event and a click outside the picture end it.
TEST_F(ProgMenuTest, AboutBoxDrawsAndEndsAsItsFilterSays) {
  ASSERT_EQ(WInitScreenImage(), kNoErr);
  DInitDraw();
  drawing_ = true;
  const DialogSteps steps;
  VIWindHooks vh = VIWindHooksInUse();
  vh.dialogFilter = &DlgFilterVIEvents;
  const VIWindHooks former = VIWindSetHooks(vh);
  const Rect r{0, 0, 455, 560};
  const DialogRef d = DlgCreate(&r, reinterpret_cast<ConstPStr>("\0"), kAlertWindowKind, &AboutBoxFilter, 0);
  ASSERT_NE(d, nullptr);
  const WindowRef w = WindowRef(DlgWindow(d));
  DlgShow(d, 1);
  PlatUiPump();
  const std::filesystem::path png = std::filesystem::path(QX_SOURCE_DIR) / "tests/shell/goldens/aboutbox.png";
  qxtest::ExpectMatchesGolden(PlatWindowSurface(WHostWindow(w)), png, "the about box; QX_UPDATE_GOLDENS=1 makes it again");
  const struct {
    WEventCode code;
    int32 keyCode;
    Point at;
  } ends[] = {{weKey, 2, {0, 0}}, {kDlgEvCancel, 0, {0, 0}}, {weMouseDown, 0, {400, 20}}};
  for (const auto& c : ends) {
    WEventRecord e{};
    e.code = c.code;
    e.window = w;
    e.keyCode = c.keyCode;
    std::memcpy(&e.where, &c.at, sizeof c.at);
    EXPECT_EQ(AboutBoxFilter(&e, d, 0), 1);
    int32 quits = 0;
    WPurgeEvents(w, [](WindowRef, const WEventRecord* q, void* n) -> int32 {
      *static_cast<int32*>(n) += q->code == kWEvDialogQuit;
      return 1;
    }, &quits);
    EXPECT_EQ(quits, 1) << c.code;
  }
  DlgUnload(d);
  VIWindSetHooks(former);
}

}  // namespace

namespace {

int32_t CancelAlert(const char*, const char* text, int32_t, int32_t) {
  gMenuAlert = text;
  return kPlatAnsCancel;
}

// With a VI running at top level the development system asks before it
// quits; the second button keeps the VI running and the program going.
TEST_F(ProgMenuTest, QuitAsksBeforeAbortingARunningVI) {
  qxtest::StartThreadsAndResources();
  CfgTestSetValue("ESys.StdNParallel", "0");
  ASSERT_EQ(InitExec(), kNoErr);
  Rec()->eState = 2;
  PlatSetAlertProc(&CancelAlert);
  gMenuAlert.clear();
  EXPECT_EQ(AppMenuCommand(kFileMenu, 0, 25), 1);
  EXPECT_NE(gMenuAlert.find("Quitting will abort all running VIs."), std::string::npos) << gMenuAlert;
  EXPECT_NE(gMenuAlert.find("Quit"), std::string::npos);
  EXPECT_EQ(Rec()->eState & kVIStateMask, 2u);
  EXPECT_FALSE(WQuitting());
  Rec()->eState = kVIStateIdle;
  FinishExec();
}

// A built application quits with a VI running without asking.  Being built
// is read once per process from the program file's trailer, so the quit runs
// in a copy of this program that carries a built trailer.
TEST_F(ProgMenuTest, ABuiltApplicationQuitsWithoutAsking) {
  if (!IsBuiltApp()) {
    TempFolder dir("qxbuiltquit");
    const std::string copy = dir.Dir() + "/built", out = dir.Dir() + "/out";
    // The link's target, not the link: an emulated process's /proc/self/exe
    // reads as the emulator's own view and may not copy.
    std::filesystem::copy_file(std::filesystem::read_symlink("/proc/self/exe"), copy);
    const char trailer[20] = {'A', 'P', 'P', 'B', 3, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    std::ofstream(copy, std::ios::binary | std::ios::app).write(trailer, sizeof trailer);
    const std::string run = copy + " --gtest_filter=ProgMenuTest.ABuiltApplicationQuitsWithoutAsking > " + out + " 2>&1";
    const int status = std::system(run.c_str());
    std::ifstream in(out);
    const std::string said(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(status, 0) << said;
    return;
  }
  qxtest::StartThreadsAndResources();
  CfgTestSetValue("ESys.StdNParallel", "0");
  ASSERT_EQ(InitExec(), kNoErr);
  Rec()->eState = 2;
  PlatSetAlertProc(&KeepMenuAlert);
  gMenuAlert.clear();
  AppMenuCommand(kFileMenu, 0, 25);
  // The quit closed every VI, the fixture's too: this process ends here.
  std::printf("asked: \"%s\", quitting: %d\n", gMenuAlert.c_str(), int(WQuitting()));
  std::fflush(stdout);
  std::_Exit(gMenuAlert.empty() && WQuitting() ? 0 : 3);
}

}  // namespace

namespace {

// A VI window's own menu bar shows the panel bar's titles after trimming.
TEST_F(ProgMenuTest, TheWindowsMenuBarLooksAsItsGolden) {
  MLoadMenuColors();
  VIWindHooks h = VIWindHooksInUse();
  h.drawPanel = [](ObjHeap p) -> int32 {
    Rect c;
    std::memcpy(&c, viinst::ExtAt(p, kHeapExtContentRect), sizeof c);
    DSelectNormPen(kWhiteColor, kWhiteColor);
    return DPaintRect(&c), 0;
  };
  const VIWindHooks former = VIWindSetHooks(h);
  const int32 bars = PrefGet(kPrefUseWindowMenuBars);
  PrefSet(kPrefUseWindowMenuBars, 1);
  viinst::SetExtWord(panel_, kHeapExtMenuBar, kMenuBarPlain);
  const Rect content{40, 0, 100, 320};
  Rect frame;
  VIWindContentToWindow(kVIWindMenuBar, &content, &frame);
  const Rect placed{0, 0, int16(content.bottom - frame.top), 320};
  Rect c2;
  VIWindWindowToContent(kWNoWindow, kVIWindMenuBar, &placed, &c2);
  SCOPED_TRACE(R(c2));
  const WindowRef w = Shown(kVIWindMenuBar, c2);
  WSize(w, &placed);
  WInvalRect(w, nullptr);
  PlatUiPump();
  const std::filesystem::path png = std::filesystem::path(QX_SOURCE_DIR) / "tests/shell/goldens/menubar.png";
  qxtest::ExpectMatchesGolden(PlatWindowSurface(WHostWindow(w)), png, "the menu bar; QX_UPDATE_GOLDENS=1 makes it again");
  PrefSet(kPrefUseWindowMenuBars, bars);
  VIWindSetHooks(former);
}

}  // namespace
