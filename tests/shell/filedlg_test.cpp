// The file dialog driven through its filter with the events its panel
// sends, over folder trees made here: nesting, the fixed folder, the name
// check, the recent lists, the existence questions, the listing, choosing
// folders and making them, and the path ring.
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dlgservices.h"
#include "dialog_blocks.h"
#include "engine/viinst_test_support.h"
#include "mgsource/config_test_file.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/filemgr.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"
#include "shell/filedlg.h"
#include "temp_folder.h"
#include "tools/appbuild.h"
#include "tools/vilibrary.h"

namespace filedlg_test {

std::vector<std::string> gAlerts;
int32_t gAnswer = 0;
int32_t RecordAlert(const char*, const char* text, int32_t, int32_t) {
  const std::string t = text ? text : "";
  gAlerts.push_back(t.substr(0, t.find("\n [")));  // without the buttons
  return gAnswer;
}
std::string gDebug;
// The debug output into gDebug while it lives.
struct DebugCapture {
  PlatDebugSink sink = PlatSetDebugSink([](const char* t) { gDebug += t; });
  Bool32 was = DBDebuggingOn();
  DebugCapture() { DBSetDebugging(1), gDebug.clear(); }
  ~DebugCapture() { DBSetDebugging(was), PlatSetDebugSink(sink); }
};
std::function<void(DialogRef)> gScript;

std::string Fmt(int32 entry, const std::string& arg) {
  std::string f = kFDTexts[entry - 1];
  const size_t at = f.find("%p");
  return at == std::string::npos ? f : f.replace(at, 2, arg);
}

class FileDialogTest : public qxvitest::VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    DInitDraw();  // the dialogs' controls draw their values
    rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
    qxbuild::AddFileDialogResources(&w);
    blocks_ = std::make_unique<RunTimeDialogBlocks>(std::move(w));
    EnginePanelHooks panel = *GetEnginePanelHooks();
    panel.oAllocate = &OAllocate;
    panel.newPanelRoot = &FPNewPanelRoot;
    SetEnginePanelHooks(&panel);
    // The focus moves by the heap extension's word alone.
    DlgPanelServices services = AppDialogServices();
    services.releaseKeyFocus = [](ObjHeap heap) -> MgErr {
      PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtKeyFocus, 0);
      return kNoErr;
    };
    services.setKeyFocus = [](ObjHeap heap, int32, int32 object, int32, int32) -> int32 {
      PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtKeyFocus, uInt32(object));
      return 1;
    };
    services.commitKeyFocus = [](ObjHeap) -> MgErr { return kNoErr; };
    DlgSetPanelServices(services);
    // "qlb" files are VI libraries.
    UHandle ext = AZNewHClr(12);
    const int32 one = 1;
    std::memcpy(*ext, &one, 4);
    std::memcpy(*ext + 4, "QXARqlb", 8);
    FSetResExt(ext, nullptr);
    ASSERT_EQ(PlatDriveMap('N', root_.Dir().c_str(), kPlatDriveFixed), 0);
    for (const char* d : {"a/b", "a/c", "e"}) std::filesystem::create_directories(root_.Dir() + "/" + d);
    for (const char* f : {"a/x.vi", "a/y.txt", "a/z.ctl"}) std::ofstream(root_.Dir() + "/" + f) << "x";
    qxbuild::VILibraryWriter lib("lib.qlb");
    lib.Add(qxbuild::MakeMember("m.vi", archfmt::kTypeVI, {}, archfmt::kFlagTopLevel));
    lib.Add(qxbuild::MakeMember("n.vi", archfmt::kTypeVI));
    const rsrcw::Bytes bytes = lib.Write();
    std::ofstream(root_.Dir() + "/a/lib.qlb", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                       std::streamsize(bytes.size()));
    saved_ = PlatSetAlertProc(&RecordAlert);
    gAlerts.clear();
    gAnswer = 0;
    FDSetRunHook([](DialogRef d) {
      if (gScript) gScript(d);
    });
  }
  void TearDown() override {
    gScript = nullptr;
    FDSetRunHook(nullptr);
    FDSetNewBoxRunHook(nullptr);
    PlatSetAlertProc(saved_);
    PlatDriveMap('N', nullptr, 0);
    FSetResExt(nullptr, nullptr);
    for (int32 k = 0; k < 2; ++k)
      while (!FDRecentList(k).entries.empty()) FDRecentRemove(FDRecentList(k), 0);
    DlgSetPanelServices(DlgPanelServices{});
    blocks_.reset();
    DDisposeDraw();
    VITest::TearDown();
  }
  static Path P(const std::string& text) {
    Path p = nullptr;
    FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p);
    return p;
  }
  static std::string T(Path p) {
    CStr c = nullptr;
    if (FPathToCStrPtr(p, &c) != kNoErr) return "?";
    std::string s(reinterpret_cast<char*>(c));
    AZDisposePtr(reinterpret_cast<UPtr>(c));
    return s;
  }
  // Runs a dialog at the folder with the script; the result and the path.
  MgErr Run(const std::string& start, int32 flags, std::function<void(DialogRef)> script, std::string* out = nullptr,
            const char* name = "", int32 kinds = -1, FDFilterProc filter = nullptr) {
    gScript = std::move(script);
    Path p = P(start);
    Str255 n;
    n[0] = uChar(std::strlen(name));
    std::memcpy(n + 1, name, n[0]);
    const MgErr err = FileDialog(kDlgDefaultPos, kDlgDefaultPos, nullptr, p, n, nullptr, flags, 0, filter, 0, kinds);
    if (out) *out = T(p);
    FDisposePath(p);
    gScript = nullptr;
    return err;
  }
  static void Hit(DialogRef d, int32 item) {
    WEventRecord e{};
    e.code = kDlgEvItemChange;
    e.where = item;
    e.globalWhere = kDlgResultCommitted;
    FDDialogFilter(&e, d, 0);
  }
  static void Type(DialogRef d, int32 item, const std::string& text) {
    Str255 t;
    t[0] = uChar(text.size());
    std::memcpy(t + 1, text.data(), text.size());
    DlgSetCtrlVal(d, item, kDlgPStrValueType, t);
  }
  static std::string Listing() {
    std::string s;
    for (const FDEntry& e : FDCurrent().entries)
      s += e.text + "/" + std::to_string(e.glyph) + (e.enabled ? "" : "-") + " ";
    return s;
  }

  TempFolder root_{"qxfd"};
  std::unique_ptr<RunTimeDialogBlocks> blocks_;
  PlatAlertProc saved_ = nullptr;
};

// A call from inside a running dialog gives 6 and the debug line; a fixed
// folder that does not exist gives entry 30 and 43.
TEST_F(FileDialogTest, NestedCallsAndAMissingFixedFolderAreRefused) {
  DebugCapture capture;
  MgErr nested = 0;
  Path inner = P("N:\\a");
  EXPECT_EQ(Run("N:\\a", kFDBrowse | kFDChooseFiles, [&](DialogRef) {
              nested = FileDialog(kDlgDefaultPos, kDlgDefaultPos, nullptr, inner, nullptr, nullptr, kFDBrowse, 0,
                                  nullptr, 0, -1);
            }), kCancelErr);
  FDisposePath(inner);
  EXPECT_EQ(nested, kFileIOErr);
  EXPECT_NE(gDebug.find("FileDialog: nested call - returning fIOErr"), std::string::npos) << gDebug;
  EXPECT_EQ(Run("N:\\gone", kFDChooseFiles, nullptr), kCancelErr);
  ASSERT_EQ(gAlerts.size(), 1u);
  EXPECT_EQ(gAlerts[0], Fmt(30, "N:\\gone"));
}

// The message lists entry 15, then each fault in the fixed order.
TEST_F(FileDialogTest, CheckNameListsTheFaultsInOrder) {
  const struct {
    const char* name;
    int32 result;
    std::string message;
  } cases[] = {
      {"", 1, "Name \"\" is illegal because:\rIt is empty.\r"},
      {"a*b.", 1, "Name \"a*b.\" is illegal because:\r" + std::string(kFDTexts[39]) +
                      "It contains the illegal character \"*\".\r"},
      {"fine.vi", 0, ""},
  };
  for (const auto& c : cases) {
    Str255 name, msg = {0};
    name[0] = uChar(std::strlen(c.name));
    std::memcpy(name + 1, c.name, name[0]);
    EXPECT_EQ(FDCheckName(name, nullptr, 176, msg), c.result) << c.name;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(msg + 1), msg[0]), c.message) << c.name;
  }
}

// Eight folders keep the newest seven; an unchanged list writes nothing; an
// emptied one removes its key.
TEST_F(FileDialogTest, RecentListsKeepSevenAndAreWrittenOnlyWhenChanged) {
  CfgTestClearValues();
  FDRecentInit();
  RecentDirList& edit = FDRecentList(0);
  for (int32 i = 0; i < 8; ++i) {
    std::filesystem::create_directories(root_.Dir() + "/r" + std::to_string(i));
    Path p = P("N:\\r" + std::to_string(i));
    FDRecentAdd(edit, p, 0);
    FDisposePath(p);
  }
  ASSERT_EQ(edit.entries.size(), 7u);
  EXPECT_EQ(T(edit.entries.front().folder), "N:\\r7");
  EXPECT_EQ(T(edit.entries.back().folder), "N:\\r1") << "r0 left";
  FDRecentSave();
  auto file = [] {
    std::ifstream in(TestConfigFile::Name());
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  const std::string written = file();
  EXPECT_NE(written.find("editRecentPaths="), std::string::npos) << written;
  FDRecentInit();
  FDRecentSave();
  EXPECT_EQ(file(), written) << "unchanged";
  while (!edit.entries.empty()) FDRecentRemove(edit, 0);
  FDRecentSave();
  EXPECT_EQ(file().find("editRecentPaths"), std::string::npos);
  CfgTestClearValues();
}

// Replacing asks (button 2 keeps the dialog); opening a missing name says
// so; no file goes at the top level.
TEST_F(FileDialogTest, ExistenceQuestionsKeepTheDialogWhenRefused) {
  const struct {
    const char* folder;
    int32 flags;
    const char* name;
    int32 answer;
    MgErr result;
    std::string alert;
  } cases[] = {
      {"N:\\a", kFDBrowse | kFDChooseFiles | kFDSave, "y.txt", kPlatAnsCancel, kCancelErr, Fmt(7, "N:\\a\\y.txt")},
      {"N:\\a", kFDBrowse | kFDChooseFiles | kFDSave, "y.txt", kPlatAnsOK, kNoErr, Fmt(7, "N:\\a\\y.txt")},
      {"N:\\a", kFDBrowse | kFDChooseFiles | kFDOpen, "q.vi", 0, kCancelErr, Fmt(9, "N:\\a\\q.vi")},
      {"N:\\a", kFDBrowse | kFDChooseFiles | kFDSave, "new.vi", 0, kNoErr, ""},
      // A folder that may be saved as is not entered: it stays named in its parent.
      {"N:\\a", kFDBrowse | kFDChooseFolders | kFDSave, "b", 0, kCancelErr, ""},
  };
  for (const auto& c : cases) {
    gAlerts.clear();
    gAnswer = c.answer;
    std::string out;
    EXPECT_EQ(Run(c.folder, c.flags, [&](DialogRef d) {
                Type(d, kFDItemName, c.name);
                Hit(d, kFDItemMain);
                Str255 n = {0};
                DlgGetCtrlVal(d, kFDItemName, kDlgPStrValueType, n);
                const std::string named(reinterpret_cast<const char*>(n + 1), n[0]);
                EXPECT_EQ(T(FDCurrent().folder) + "\\" + named, std::string(c.folder) + "\\" + c.name);
              }, &out), c.result) << c.name;
    EXPECT_EQ(gAlerts.empty() ? "" : gAlerts[0], c.alert) << c.name;
    if (c.result == kNoErr) {
      EXPECT_EQ(out, std::string(c.folder) + "\\" + c.name);
    }
  }
  gAlerts.clear();
  Run("N:\\a", kFDBrowse | kFDChooseFiles | kFDSave, [&](DialogRef d) {
    SetDir(FDCurrent().folder, 5);
    Type(d, kFDItemName, "f.txt");
    Hit(d, kFDItemMain);
  });
  ASSERT_FALSE(gAlerts.empty());
  EXPECT_EQ(gAlerts.back(), Fmt(25, "top level"));
}

int32 HideZ(Path file, int32) {
  Str255 n;
  FNamePtr(file, n);
  return n[1] != 'z';
}

// The listing over flags and kinds: the parent and this-folder entries,
// disabled entries, the kind ring, an empty custom pattern, the caller's
// filter, and a library entered with its divider.
TEST_F(FileDialogTest, ListingFollowsFlagsKindsAndFilters) {
  const struct {
    const char* folder;
    int32 flags, kinds;
    FDFilterProc filter;
    int32 kindIndex;  // -1: as the dialog chose
    const char* want;
  } cases[] = {
      {"N:\\a", kFDBrowse | kFDChooseFiles, -1, nullptr, -1,
       "../15 b/14 c/14 lib.qlb/26 x.vi/13 y.txt/13 z.ctl/13 "},
      {"N:\\a", kFDBrowse | kFDChooseFolders, -1, nullptr, -1,
       "../15 ./15 b/14 c/14 lib.qlb/26- x.vi/13- y.txt/13- z.ctl/13- "},
      {"N:\\a", kFDChooseFiles, -1, HideZ, -1, "b/14- c/14- lib.qlb/26 x.vi/13 y.txt/13 "},
      {"N:\\a", kFDBrowse | kFDChooseFiles | kFDLibsAreFolders, 133, nullptr, -1,
       "../15 b/14 c/14 lib.qlb/26 "},
      {"N:\\a", kFDBrowse | kFDChooseFiles, -1, nullptr, 1, "../15 b/14 c/14 lib.qlb/26 x.vi/13 y.txt/13 z.ctl/13 "},
      {"N:\\a\\lib.qlb", kFDBrowse | kFDChooseFiles | kFDLibsAreFolders | kFDChooseLibraries, -1, nullptr, -1,
       "../15 ./27 m.vi/21 /-1- n.vi/21 "},
  };
  for (const auto& c : cases) {
    std::string seen;
    Run(c.folder, c.flags, [&](DialogRef d) {
      if (c.kindIndex >= 0) {
        // "Custom Pattern" emptied: "*".
        DlgSetCtrlVal(d, kFDItemKindRing, 3, &c.kindIndex);
        Hit(d, kFDItemKindRing);
        Type(d, kFDItemPattern, "");
        Hit(d, kFDItemPattern);
        EXPECT_EQ(FDCurrent().pattern, "*");
      }
      seen = Listing();
    }, nullptr, "", c.kinds, c.filter);
    EXPECT_EQ(seen, c.want) << c.folder << " " << c.flags;
  }
}

// Choose-folder mode: the buttons follow the selection; a new folder is
// made and entered; none is made inside a library.
TEST_F(FileDialogTest, ChoosingAndMakingFolders) {
  const int32 flags = kFDBrowse | kFDChooseFolders | kFDNewFolder | kFDLibsAreFolders;
  FDSetNewBoxRunHook([](DialogRef box) {
    Type(box, kFDBoxName, "made");
    WEventRecord e{};
    e.code = kDlgEvItemChange;
    e.where = kFDBoxFolder;
    e.globalWhere = kDlgResultCommitted;
    CallbackProc(&e, box, 0);
  });
  std::string out;
  EXPECT_EQ(Run("N:\\a", flags, [&](DialogRef d) {
              const int32 lib = DlgFindListItem(d, kFDItemList, reinterpret_cast<ConstPStr>("\x07lib.qlb"));
              DlgSetSelectedListItem(d, kFDItemList, lib, 0);
              Hit(d, kFDItemList);
              EXPECT_EQ(DlgKeyNavItem(d, 0, nullptr), kFDItemMain) << "a library opens";
              Hit(d, kFDItemNew);
              EXPECT_EQ(gAlerts.size(), 0u);
              EXPECT_EQ(T(FDCurrent().folder), "N:\\a\\made");
              Hit(d, kFDItemSelect);
            }, &out), kNoErr);
  EXPECT_EQ(out, "N:\\a\\made");
  EXPECT_TRUE(std::filesystem::is_directory(root_.Dir() + "/a/made"));
  Run("N:\\a\\lib.qlb", flags, [&](DialogRef d) { Hit(d, kFDItemNew); });
  ASSERT_EQ(gAlerts.size(), 1u);
  EXPECT_EQ(gAlerts[0], Fmt(24, "N:\\a\\lib.qlb"));
}

// A long recent folder is cut to 50 characters in the middle; a vanished
// one says so and leaves the list.
TEST_F(FileDialogTest, PathRingCutsRecentFoldersAndDropsVanishedOnes) {
  const std::string longName = std::string(100, 'd') + "\\" + std::string(16, 'e');
  std::filesystem::create_directories(root_.Dir() + "/" + std::string(100, 'd') + "/" + std::string(16, 'e'));
  for (const std::string& f : {"N:\\" + longName, std::string("N:\\e"), std::string("N:\\vanished")}) {
    Path p = P(f);
    FDRecentAdd(FDRecentList(0), p, 0);
    FDisposePath(p);
  }
  Run("N:\\a", kFDBrowse | kFDChooseFiles, [&](DialogRef d) {
    const FDState& s = FDCurrent();
    ASSERT_EQ(s.pathRingTexts.size(), 3u + 3u);  // a, N:, Drives, then the three
    EXPECT_EQ(s.pathRingTexts[0], "a");
    EXPECT_EQ(s.pathRingTexts[2], kFDTexts[kFDStrDrives - 1]);
    const std::string cut = s.pathRingTexts[5];
    EXPECT_EQ(cut.size(), 50u);
    EXPECT_EQ(cut, "N:\\..." + std::string(27, 'd') + "\\" + std::string(16, 'e'));
    int32 vanished = 3;
    DlgSetCtrlVal(d, kFDItemPathRing, 3, &vanished);
    Hit(d, kFDItemPathRing);
  });
  ASSERT_EQ(gAlerts.size(), 1u);
  EXPECT_EQ(gAlerts[0], Fmt(9, "N:\\vanished"));
  EXPECT_EQ(FDRecentList(0).entries.size(), 2u) << "vanished gone";
}

}  // namespace filedlg_test

namespace filedlg_test {

// The navigation keys, a volume event, an unknown item and the cancel
// event; the default folder; the drive question.
TEST_F(FileDialogTest, KeysEventsDefaultFolderAndDriveRetry) {
  DebugCapture capture;
  auto send = [](DialogRef d, WEventCode code, int32 keyCode, int32 where = 0) {
    WEventRecord e{};
    e.code = code;
    e.modifiers = 0x20;
    e.keyCode = keyCode;
    e.where = where;
    return FDDialogFilter(&e, d, 0);
  };
  std::vector<std::string> seen;
  EXPECT_EQ(Run("N:\\a\\b", kFDBrowse | kFDChooseFiles, [&](DialogRef d) {
              send(d, weKey, 4);
              seen.push_back(T(FDCurrent().folder));
              static const uChar kVolume[] = "\x03N:\\";
              send(d, 38, 0, int32(uintptr_t(kVolume)));
              seen.push_back(T(FDCurrent().folder));
              Hit(d, 13);
              send(d, kDlgEvCancel, 0);
            }), kCancelErr);
  EXPECT_EQ(seen, (std::vector<std::string>{"N:\\a", "N:\\"}));
  EXPECT_NE(gDebug.find("default --  dItem hit 13"), std::string::npos) << gDebug;

  std::string cwd;
  ASSERT_TRUE(PlatCurrentFolder(&cwd));
  Path gone = P("N:\\gone"), e = P("N:\\e"), out = FEmptyPath(nullptr);
  EXPECT_EQ(FDSetDefaultDir(gone), kFileNotFoundErr);
  EXPECT_EQ(FDSetDefaultDir(e), kNoErr);
  EXPECT_EQ(FDGetDefaultDir(out), kNoErr);
  EXPECT_EQ(T(out), "N:\\e");
  std::string now;
  PlatCurrentFolder(&now);
  EXPECT_EQ(now, std::filesystem::canonical(root_.Dir() + "/e").string());
  PlatSetCurrentFolder(cwd);
  gAlerts.clear();
  gAnswer = kPlatAnsCancel;
  EXPECT_EQ(FDRetryDriveAlert(gone, kFileNotFoundErr), 1) << "not a volume's top level";
  Path q = P("Q:\\");
  EXPECT_EQ(FDRetryDriveAlert(q, kFileNotFoundErr), 0);
  EXPECT_EQ(gAlerts, (std::vector<std::string>{"Cannot read from drive Q:\\. Try again?"}));
  for (Path p : {gone, e, out, q}) FDisposePath(p);
}

}  // namespace filedlg_test
