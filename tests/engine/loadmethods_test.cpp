// The load methods: a VI loaded by name with its subVIs and an "MQ"
// subroutine, the requester rules, resource handles of the file being
// loaded, library functions found along the search path, and the progress
// dialog's answers (scripted clicks).
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <mutex>

#include "engine/exec/dsprocs.h"
#include "engine/exec/rttable.h"
#include "engine/link/hierarchy.h"
#include "engine/link/loadmethods.h"
#include "engine/shellsvc.h"
#include "engine/vi/archive.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "mgsource/extload.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path_test_util.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "platform/qx_drives.h"
#include "tools/appbuild.h"
#include "tools/i386emit.h"
#include "tools/linkinfowriter.h"
#include "tools/mqwriter.h"
#include "tools/vifile.h"
#include "tools/vilibrary.h"
#include "link_check.h"
#include "runtime_root.h"
#include "viinst_test_support.h"

namespace fs = std::filesystem;
using pathtest::Owned;
using pathtest::PS;
using pathtest::Str;
using pathtest::Text;
using pathtest::ToPath;

namespace {

// The scripted shell and dialog.
struct Script {
  std::deque<std::deque<int32>> clicks;  // per dialog step, the items clicked
  std::deque<int32> threeButtons;        // answers 1..3 of the stop question
  std::vector<std::string> log;          // what the dialog and the alerts showed
  int32 unitAccess = 0;                  // unit-access records alive
  int32 dialogs = 0;
  LoadDlgFilterProc filter = nullptr;
  void* context = nullptr;
};
Script& S() {
  static Script s;
  return s;
}

void* DlgLoad(int32 id, int32 h, int32 v, LoadDlgFilterProc filter, void* context) {
  S().log.push_back("load " + std::to_string(id) + " " + std::to_string(h) + "," + std::to_string(v));
  S().filter = filter;
  S().context = context;
  ++S().dialogs;
  return &S();
}
void DlgText(void*, int32 item, ConstPStr text) { S().log.push_back(std::to_string(item) + "=" + Str(text)); }
void DlgBool(void*, int32 item, ConstPStr text) { S().log.push_back(std::to_string(item) + "~" + Str(text)); }
int32 DlgStep(void*) {
  if (S().clicks.empty()) return 0;
  std::deque<int32> c = S().clicks.front();
  S().clicks.pop_front();
  for (int32 item : c) S().filter(S().context, item);
  return 0;
}
void DlgUnload(void*) { S().log.push_back("unload"); }
int32 ThreeButtons(ConstPStr message, ConstPStr, ConstPStr, ConstPStr b3) {
  S().log.push_back(Str(message) + "|" + Str(b3));
  if (S().threeButtons.empty()) return 3;
  const int32 a = S().threeButtons.front();
  S().threeButtons.pop_front();
  return a;
}
void* AllocUA(int32) {
  ++S().unitAccess;
  return AZNewPClr(16);
}
void DisposeUA(void* r) {
  --S().unitAccess;
  AZDisposePtr(static_cast<UPtr>(r));
}

// An "MQ" code record of version 3 and kind "CIN " whose single entry
// counts load (16) and unload (24) messages in two words of its own block.
constexpr int32 kLoadCountAt = 80, kUnloadCountAt = 84;
vif::Bytes CountingCIN() {
  mqw::Image img;
  img.code.assign(96, 0);
  std::memcpy(img.code.data() + 8, "CIN ", 4);
  const uChar entry[] = {0x8B, 0x44, 0x24, 0x04,              // mov eax, [esp+4]
                         0x83, 0xF8, 0x10, 0x75, 0x06,        // cmp eax, 16; jne +6
                         0xFF, 0x05, kLoadCountAt, 0, 0, 0,   // inc dword [load]
                         0x83, 0xF8, 0x18, 0x75, 0x06,        // cmp eax, 24; jne +6
                         0xFF, 0x05, kUnloadCountAt, 0, 0, 0, // inc dword [unload]
                         0x31, 0xC0, 0xC3};                   // xor eax, eax; ret
  std::memcpy(img.code.data() + 48, entry, sizeof entry);
  img.relocations = {mqw::Reloc32(48 + 11), mqw::Reloc32(48 + 22)};
  img.entryOffset = 48;
  img.version = 3;
  return mqw::Write(img);
}

class LoadMethodsTest : public qxvitest::VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
    qxtest::StartRTTable();
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ASSERT_TRUE(qxvitest::StartBareLinker());
    // The loader enters code through the code hooks: the real ones.
    SetVICodeHooks(nullptr);
    InstallVICodeHooks();
    InstallLoadMethods();
    ASSERT_TRUE(drive_.Make("qxlm"));
    root_ = drive_.root();
    S() = Script{};
    LoadMethodHooks h{};
    h.allocUnitAccess = &AllocUA;
    h.disposeUnitAccess = &DisposeUA;
    h.dlgLoad = &DlgLoad;
    h.dlgSetText = &DlgText;
    h.dlgSetBoolText = &DlgBool;
    h.dlgBoxStep = &DlgStep;
    h.dlgUnload = &DlgUnload;
    SetLoadMethodHooks(&h);
    VIFindShellHooks f{};
    f.threeButtonAlert = &ThreeButtons;
    SetVIFindShellHooks(&f);
    SetOneButtonAlertProc([](int32 kind, const void* m, ConstPStr, int32, int32) -> int32 {
      S().log.push_back("alert " + (kind == kAlertCStr ? std::string(static_cast<const char*>(m))
                                                       : Str(static_cast<ConstPStr>(m))));
      return 0;
    });
    SetVISearchPath(nullptr, 0, -1);
    gQXMissingSubroutine = 0;
  }
  void TearDown() override {
    SetOneButtonAlertProc(nullptr);
    SetLoadMethodHooks(nullptr);
    SetVIFindShellHooks(nullptr);
    SetVISearchPath(nullptr, 0, -1);
    SetLinkLoadMethods(nullptr);
    SetVILoadPanelHooks(nullptr);
    VITest::TearDown();
    EXPECT_EQ(S().unitAccess, 0);
    linkcheck::DisposeTables();
    SetLinkerServices(nullptr);
    drive_.Remove();
    FExitFileMgr();
  }
  void Write(const std::string& rel, const vif::Bytes& bytes) {
    fs::create_directories(fs::path(root_ + "/" + rel).parent_path());
    ASSERT_TRUE(rsrcw::WriteHostFile(root_ + "/" + rel, bytes));
  }
  // A VI whose code only returns.
  static vif::VIFile SimpleVI(const std::string& name) {
    vif::VIFile v;
    v.name = name;
    v.entries = {tdb::I32(), tdb::I32()};
    emit::Code c;
    c.SetEntry();
    c.Ret();
    v.code = c.Finish();
    return v;
  }
  // A recorded path "beside the referring file".
  static std::vector<uChar> Beside(const std::string& name) {
    Path p = FMakePath(nullptr, kRelPath, static_cast<ConstPStr>(PS("")), static_cast<ConstPStr>(PS(name)), nullptr);
    std::vector<uChar> flat = liw::FlatPath(p);
    FDisposePath(p);
    return flat;
  }
  UHandle LoadByName(const std::string& path) {
    Owned p(ToPath(path));
    Str255 name;
    FNamePtr(p.p, name);
    UHandle vi = nullptr;
    const int32 r = LoadVIByName(name, p.p, &vi, 0);
    EXPECT_EQ(r, vi ? 1 : 0);
    return vi;
  }
  static bool Loaded(const std::string& name, uInt32 cls) {
    int32 e = 0;
    return LookupLinkItem(PS(name), cls, &e) && e;
  }

  qxtest::RuntimeRoot drive_;
  std::string root_;
};

TEST_F(LoadMethodsTest, AVIWithSubVIsAndASubroutineLoadsCompletely) {
  vif::VIFile main = SimpleVI("Main.vi");
  main.viRefs = {LinkInfoRef{FourCC("QXIN"), "A.vi", {}, {}, Beside("A.vi")},
                 LinkInfoRef{FourCC("QXIN"), "B.vi", {}, {}, Beside("B.vi")}};
  main.dsRefs = {LinkInfoRef{FourCC("QXSB"), "Sub", {kDataSpaceHeaderSize}, {}, liw::FlatPath(nullptr)}};
  Write("m/Main.vi", vif::Write(main));
  Write("m/A.vi", vif::Write(SimpleVI("A.vi")));
  Write("m/B.vi", vif::Write(SimpleVI("B.vi")));
  vif::SubrFile sub;
  sub.code = CountingCIN();
  Write("m/Sub.qsb", vif::WriteSubrFile(sub));

  UHandle vi = LoadByName("L:\\m\\Main.vi");
  ASSERT_NE(vi, nullptr) << qxtest::Reports::Get().Text();
  EXPECT_EQ(LoadedVICount(), 3);
  EXPECT_TRUE(Loaded("A.vi", FourCC("QXIN")));
  EXPECT_TRUE(Loaded("B.vi", FourCC("QXIN")));
  EXPECT_EQ(gQXMissingSubroutine, 0);
  int32 entry = 0;
  ASSERT_TRUE(LookupLinkItem(PS("Sub"), FourCC("QXSB"), &entry));
  const uChar* record = reinterpret_cast<const uChar*>(uintptr_t(LE(entry).owner));
  EXPECT_EQ(GetNative32(record + kLoadCountAt), 1u) << "initialised once";
  EXPECT_EQ(S().unitAccess, 1);
  EXPECT_EQ(Text(LE(entry).path), "L:\\m\\Sub.qsb");
  // The data space holds the subroutine's record at its site.
  UHandle ds = VIRec(vi)->dataSpace;
  EXPECT_EQ(GetNative32(*ds + kDataSpaceHeaderSize), LE(entry).owner);
  // The subVIs are bound: their entries have a referrer.
  int32 a = 0;
  LookupLinkItem(PS("A.vi"), FourCC("QXIN"), &a);
  EXPECT_NE(LE(a).referrers, 0);
  // Loading again finds it in the table.
  UHandle again = LoadByName("L:\\m\\Main.vi");
  EXPECT_EQ(again, vi);
  EXPECT_EQ(GetNative32(record + kLoadCountAt), 1u);
  // The caller goes: the subroutine loses its last referrer and is unloaded.
  DisposeVI(vi, 1);
  EXPECT_FALSE(Loaded("Sub", FourCC("QXSB")));
  EXPECT_EQ(S().unitAccess, 0);
  EXPECT_EQ(linkcheck::Walk(), "");
}

TEST_F(LoadMethodsTest, RequesterRulesAndResourceHandles) {
  Write("m/A.vi", vif::Write(SimpleVI("A.vi")));
  Owned base(ToPath("L:\\m\\X.vi"));
  Owned ref(ToPath("L:\\m\\A.vi"));
  // A VI asked for by a custom control, or a control by a data space: 0,
  // nothing searched.
  EXPECT_EQ(QXINLoadMethod(PS("A.vi"), base.p, ref.p, FourCC("QXCC"), nullptr, 0), 0);
  EXPECT_EQ(QXCCLoadMethod(PS("A.vi"), base.p, ref.p, FourCC("VIDS"), nullptr, 0), 0);
  EXPECT_EQ(LoadedVICount(), 0);
  EXPECT_EQ(QXINLoadMethod(PS("A.vi"), base.p, ref.p, kLinkClassNoneCode, nullptr, 0), kFindInFolder);
  EXPECT_EQ(LoadedVICount(), 1);

  // Resource handles: only 10-byte blocks, only with a file being loaded.
  uChar block[10];
  PutNative16(block, 10);
  PutNative32(block + 2, FourCC("DATA"));
  PutNative32(block + 6, 7);
  EXPECT_EQ(GenhLoadMethod(PS("h"), nullptr, nullptr, 0, block, 0), 0) << "no file being loaded";
  rsrcw::Writer w(FourCC("QXIN"), FourCC("QNLX"));
  w.Add(FourCC("DATA"), 7, {9, 8, 7});
  w.Add(FourCC("DATA"), 8, {1}, std::string("named"));
  Write("g.rsc", w.Write());
  Owned gp(ToPath("L:\\g.rsc"));
  ASSERT_EQ(ROpenFile(gp.p, kRsrcReadOnly, &gQXLoadingRsrcFile, nullptr, nullptr), kNoErr);
  uChar shortBlock[8];
  PutNative16(shortBlock, 8);
  EXPECT_EQ(GenhLoadMethod(PS("h"), nullptr, nullptr, 0, shortBlock, 0), 0);
  EXPECT_EQ(GenhLoadMethod(PS("h"), nullptr, nullptr, 0, block, 0), 1);
  PutNative32(block + 6, 0);
  EXPECT_EQ(GenhLoadMethod(PS("named"), nullptr, nullptr, 0, block, 0), 1);
  PutNative32(block + 6, 99);
  EXPECT_EQ(GenhLoadMethod(PS("missing"), nullptr, nullptr, 0, block, 0), 1) << "1 even when not found";
  RCloseFile(gQXLoadingRsrcFile);
  gQXLoadingRsrcFile = 0;
  for (const char* n : {"h", "named"}) {
    int32 e = 0;
    ASSERT_TRUE(LookupLinkItem(PS(n), FourCC("GENH"), &e)) << n;
    UHandle h = reinterpret_cast<UHandle>(uintptr_t(LE(e).owner));
    const uChar* tb = *gLinkNameHeap + LE(e).typeBlock;
    EXPECT_EQ(GetNative32(tb + 6), std::string(n) == "h" ? 7u : 8u) << "the id is recorded";
    UnlinkItemByName(PS(n), FourCC("GENH"));
    AZDisposeHandle(h);
  }
  EXPECT_FALSE(Loaded("missing", FourCC("GENH")));
}

TEST_F(LoadMethodsTest, LibraryFunctionsAlongTheSearchPath) {
  const std::string lib = QX_LIBXF;
  auto place = [&](const std::string& rel) {
    fs::create_directories(fs::path(root_ + "/" + rel).parent_path());
    fs::copy_file(lib, root_ + "/" + rel, fs::copy_options::overwrite_existing);
  };
  struct Case {
    const char* what;
    std::string name;
    std::vector<std::string> searchPath;
    std::string placedAt;  // where the library lies, or ""
    std::string refPath;   // the recorded path, or ""
    int32 result;
    std::string loadedFrom;
  };
  const Case cases[] = {
      {"recorded place", "libxf.so:fnXY", {}, "r/libxf.so", "L:\\r\\libxf.so", kFindInFolder, "L:\\r\\libxf.so"},
      {"below a star entry", "libxq.so:fnXY", {"L:\\t\\*"}, "t/x/libxq.so", "", kFindFound, "L:\\t\\x\\libxq.so"},
      {"plain entry after a star entry", "libxq.so:fnXY", {"L:\\e\\*", "L:\\t"}, "t/x/libxq.so", "", kFindFound,
       "L:\\t\\x\\libxq.so"},
      {"plain entry alone", "libxq.so:fnXY", {"L:\\t"}, "t/x/libxq.so", "", 0, ""},
      {"too short a function", "libxq.so:f", {"L:\\t\\*"}, "t/x/libxq.so", "", 0, ""},
      {"no colon", "nocolon", {"L:\\t\\*"}, "t/x/libxq.so", "", 0, ""},
      {"no function of that name", "libxq.so:nothereXY", {"L:\\t\\*"}, "t/x/libxq.so", "", 0, ""},
  };
  fs::create_directories(root_ + "/e");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root_ + "/t");
    fs::remove_all(root_ + "/r");
    place(c.placedAt);
    std::vector<Path> sp;
    for (const std::string& e : c.searchPath) sp.push_back(ToPath(e));
    SetVISearchPath(sp.data(), int32(sp.size()), -1);
    for (Path p : sp) FDisposePath(p);
    gQXMissingSubroutine = 0;
    Owned ref(c.refPath.empty() ? nullptr : ToPath(c.refPath));
    EXPECT_EQ(XFunLoadMethod(PS(c.name), nullptr, ref.p, FourCC("VIDS"), nullptr, 0), c.result);
    EXPECT_EQ(gQXMissingSubroutine, c.result ? 0 : 1);
    int32 e = 0;
    EXPECT_EQ(LookupLinkItem(PS(c.name), FourCC("XFun"), &e) && e, c.result != 0);
    if (!e) continue;
    EXPECT_EQ(Text(LE(e).path), c.loadedFrom);
    UHandle rec = reinterpret_cast<UHandle>(uintptr_t(LE(e).owner));
    typedef int (*Fn)(int, int);
    Fn fn = reinterpret_cast<Fn>(uintptr_t(GetNative32(*rec + kXFunRecProc)));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(40000, 2345), 42345);
    EXPECT_EQ(S().unitAccess, 1);
    UnloadExternalFunction(e);
    EXPECT_FALSE(Loaded(c.name, FourCC("XFun")));
    EXPECT_EQ(S().unitAccess, 0);
  }
  EXPECT_EQ(linkcheck::Walk(), "");
}

TEST_F(LoadMethodsTest, LibraryFolderLoopEndsTheSearch) {
  fs::create_directories(root_ + "/t/a");
  ASSERT_EQ(symlink("..", (root_ + "/t/a/up").c_str()), 0);
  Owned top(ToPath("L:\\t"));
  Path found = nullptr;
  EXPECT_EQ(FindLibraryInFolder(top.p, PS("libxf.so"), 1, &found), 0);
  EXPECT_EQ(found, nullptr);
}

TEST_F(LoadMethodsTest, ProgressAnswersSteerTheLoad) {
  // Main references a missing subVI: the search reports to the dialog.
  vif::VIFile main = SimpleVI("Main.vi");
  main.viRefs = {LinkInfoRef{FourCC("QXIN"), "Gone.vi", {}, {}, Beside("Gone.vi")}};
  Write("m/Main.vi", vif::Write(main));
  struct Case {
    const char* what;
    std::deque<std::deque<int32>> clicks;
    std::deque<int32> buttons;
    bool loaded;
  };
  const Case cases[] = {
      {"ignore the subVI", {{kProgItemIgnore}}, {}, true},
      {"stop, then yes", {{kProgItemStop}}, {1}, true},
      {"stop, then no", {{kProgItemStop}}, {2}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    S().log.clear();
    S().clicks = c.clicks;
    S().threeButtons = c.buttons;
    UHandle vi = LoadByName("L:\\m\\Main.vi");
    EXPECT_EQ(vi != nullptr, c.loaded);
    EXPECT_FALSE(Loaded("Gone.vi", FourCC("QXIN")));
    ASSERT_FALSE(S().log.empty());
    EXPECT_EQ(S().log[0], "load 6306 150,150");
    EXPECT_NE(std::find(S().log.begin(), S().log.end(), "6=Loading:"), S().log.end());
    EXPECT_NE(std::find(S().log.begin(), S().log.end(), "3~Ignore SubVI"), S().log.end());
    EXPECT_EQ(S().log.back(), "unload");
    if (!c.buttons.empty()) {
      EXPECT_NE(std::find(S().log.begin(), S().log.end(),
                          "Some subVIs or controls have not been loaded yet. Do you want to open Main.vi without "
                          "them?|Continue Loading"),
                S().log.end());
    }
    if (vi) {
      int32 e = 0;
      // The reference waits for the subVI.
      EXPECT_FALSE(LookupLinkItem(PS("Gone.vi"), FourCC("QXIN"), &e) && e);
      DisposeVI(vi, 1);
    }
    EXPECT_EQ(LoadedVICount(), 0);
    EXPECT_EQ(linkcheck::Walk(), "");
  }
}

TEST_F(LoadMethodsTest, IgnoredLibraryFailsTheVIWithError21) {
  vif::VIFile main = SimpleVI("Main.vi");
  main.dsRefs = {LinkInfoRef{FourCC("XFun"), "libnone.so:fnXY", {kDataSpaceHeaderSize}, {}, liw::FlatPath(nullptr)}};
  Write("m/Main.vi", vif::Write(main));
  std::vector<Path> sp{ToPath("L:\\m")};
  SetVISearchPath(sp.data(), 1, -1);
  FDisposePath(sp[0]);
  S().clicks = {{kProgItemIgnore}};
  UHandle vi = LoadByName("L:\\m\\Main.vi");
  EXPECT_EQ(vi, nullptr);
  // The load error shown is 21's.
  const auto shown = std::find_if(S().log.begin(), S().log.end(), [](const std::string& l) {
    return l.find("An external subroutine required for execution could not be found.") != std::string::npos;
  });
  EXPECT_NE(shown, S().log.end());
  EXPECT_NE(std::find(S().log.begin(), S().log.end(), "3~Ignore Library"), S().log.end());
  EXPECT_FALSE(Loaded("libnone.so:fnXY", FourCC("XFun")));
  EXPECT_EQ(LoadedVICount(), 0);
}

TEST_F(LoadMethodsTest, ReloadingAPartReopensTheVIsFile) {
  Write("m/A.vi", vif::Write(SimpleVI("A.vi")));
  UHandle vi = LoadByName("L:\\m\\A.vi");
  ASSERT_NE(vi, nullptr);
  ASSERT_EQ(VIRec(vi)->rsrcFile, 0u) << "closed once loaded";
  // Found again by its path: the file is read (it has no panel) and closed.
  const MgErr e = ReloadVIPart(vi, kPanelHeapRsrcType, 77);
  EXPECT_NE(e, 77);
  EXPECT_NE(e, kNoErr);
  EXPECT_EQ(VIRec(vi)->rsrcFile, 0u);
  // Gone: the default result, without asking (the search gives up).
  fs::remove(root_ + "/m/A.vi");
  ASSERT_EQ(SetLinkSearchHook([](void*, int32, ConstPStr, Path, int32, int32, uInt32) { return 3; }, nullptr), 1);
  EXPECT_EQ(ReloadVIPart(vi, kPanelHeapRsrcType, 77), 77);
  ClearLinkSearchHook();
  // Closing the load file forgets it everywhere.
  Write("g.rsc", vif::Write(SimpleVI("G.vi")));
  Owned gp(ToPath("L:\\g.rsc"));
  RsrcFileRef f = 0;
  ASSERT_EQ(ROpenFile(gp.p, kRsrcReadOnly, &f, nullptr, nullptr), kNoErr);
  VIRec(vi)->rsrcFile = f;
  gQXLoadingRsrcFile = f;
  CloseLoadFile(vi, f);
  EXPECT_EQ(VIRec(vi)->rsrcFile, 0u);
  EXPECT_EQ(gQXLoadingRsrcFile, 0u);
}

// A VI's panel loads later from its file, found again by the VI's path: a
// plain file, or a library member expanded in memory below the size limit
// and through a temporary file above it, dated from the library's
// directory (a member redated there fails with 28).  A panel unloaded and
// loaded again reads its LIfp without a second link item.
TEST_F(LoadMethodsTest, APanelLoadsLaterFromTheVIsFileOrItsLibraryMember) {
  struct Case {
    const char* what;
    bool library;
    size_t padding;
    bool redated;
  } cases[] = {
      {"a plain file", false, 0, false},
      {"a small library member", true, 0, false},
      {"a member redated in the directory", true, 0, true},
      {"a library member above the memory limit", true, 400000, false},
  };
  constexpr uInt32 kDate = 0x7A001234;
  // Large members expand into the temporary files the shell names.
  ArchiveSetTempPathProc([](const char* format, Path) -> Path {
    char name[64];
    std::snprintf(name, sizeof name, format, 1L);
    return ToPath(std::string("L:\\") + name);
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vif::VIFile v = SimpleVI("P.vi");
    if (c.padding) v.raw[FourCC("DATA")] = vif::Bytes(c.padding, 0x5A);
    const vif::Bytes file = vif::WriteWithPanel(v);
    ASSERT_FALSE(file.empty());
    auto writeLibrary = [&](uInt32 date) {
      qxbuild::VILibraryWriter lib("lib.qlb");
      qxbuild::LibraryMember m;
      m.name = "P.vi";
      m.file = file;
      m.modDate = date;
      lib.Add(m);
      Write("m/lib.qlb", lib.Write());
    };
    if (c.library) writeLibrary(kDate);
    else Write("m/P.vi", file);
    UHandle vi = LoadByName(c.library ? "L:\\m\\lib.qlb\\P.vi" : "L:\\m\\P.vi");
    ASSERT_NE(vi, nullptr);
    EXPECT_EQ((VIRec(vi)->marks & kVIMarkFromLibrary) != 0, c.library);
    if (c.library) {
      EXPECT_EQ(VIRec(vi)->modDate, kDate) << "the member's date from the directory";
    }
    EXPECT_EQ(fs::exists(root_ + "/uarc1.vi"), c.padding > 0) << "expanded through the temporary file";
    ASSERT_EQ(VIRec(vi)->panelHeap, nullptr) << "nothing asked for the panel";
    if (c.redated) writeLibrary(kDate + 60);
    gQXLoadErrorCode = 0;
    for (int32 round = 0; round < (c.redated ? 1 : 2); ++round) {
      SCOPED_TRACE(round);
      EXPECT_EQ(LoadFPHeap(vi), c.redated ? kModDateChangedErr : kNoErr);
      EXPECT_EQ(gQXLoadErrorCode, c.redated ? kLoadErrModDate : 0);
      EXPECT_EQ(VIRec(vi)->panelHeap != nullptr, !c.redated);
      EXPECT_EQ(VIRec(vi)->rsrcFile, 0u) << "the file it opened is closed again";
      EXPECT_EQ(linkcheck::CountPublic(PS("P.vi"), kLinkClassPanel), c.redated ? 0 : 1);
      EXPECT_EQ(linkcheck::Walk(), "");
      // Unloaded again: the next round reads the panel and its LIfp anew.
      if (VIRec(vi)->panelHeap) {
        EXPECT_EQ(CloseFPAndUnload(vi), 1);
      }
      EXPECT_EQ(linkcheck::CountPublic(PS("P.vi"), kLinkClassPanel), 0);
    }
    if (c.library && !c.padding) {
      // A library that is gone gives the file's error, not a changed date.
      EXPECT_EQ(CheckHeapModDate(vi, 2), c.redated ? kModDateChangedErr : kNoErr);
      fs::remove(root_ + "/m/lib.qlb");
      const MgErr gone = CheckHeapModDate(vi, 2);
      EXPECT_NE(gone, kNoErr);
      EXPECT_NE(gone, kModDateChangedErr);
    }
    gQXLoadErrorCode = 0;
    DisposeVI(vi, 1);
    fs::remove_all(root_ + "/m");
  }
  EXPECT_EQ(CleanUpArchive(), kNoErr);
  ArchiveSetTempPathProc(nullptr);
}

TEST_F(LoadMethodsTest, OpenVIFileLoadsByPathAndOwnsThePath) {
  Write("m/A.vi", vif::Write(SimpleVI("A.vi")));
  struct Case {
    const char* path;
    int32 flags;
    MgErr result;
  } cases[] = {{"L:\\m\\A.vi", kOpenVIShowProgress, kNoErr}, {"L:\\m\\A.vi", 0, kNoErr},
               {"L:\\m\\none.vi", 0, kOpenVINotFound}};
  for (const Case& c : cases) {
    UHandle vi = nullptr;
    EXPECT_EQ(OpenVIFile(ToPath(c.path), &vi, c.flags), c.result) << c.path;
    EXPECT_EQ(vi != nullptr, c.result == kNoErr);
    EXPECT_EQ(LinkHookCallFind(nullptr, nullptr, 0), 1) << "the progress state is gone";
  }
  EXPECT_EQ(LoadedVICount(), 1) << "loaded once, found in the table after";
}

}  // namespace
