// The shell's start-up parts in process: the disk-space check, the
// temporary resource files, the preferences over their defaults, the
// tileUpDown write-back and the version and file-type readers.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/appdirs.h"
#include "mgsource/config_test_file.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "platform/qx_alert.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"
#include "platform/qx_process.h"
#include "mgsource/config.h"
#include "mgsource/counted_strings.h"
#include "mgsource/printf.h"
#include "mgsource/draw/imagegeom.h"
#include "shell/shellglobals.h"
#include "shell/shellinit.h"
#include "temp_folder.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> gInitAlerts;
int32_t RecordInitAlert(const char*, const char* text, int32_t, int32_t) {
  gInitAlerts.push_back(text);
  return kPlatAnsOK;
}
uint64_t gFakeFree = 0;
int32_t FakeFreeSpace(const char*, uint64_t* total, uint64_t* freeBytes) {
  if (total) *total = gFakeFree * 2;
  if (freeBytes) *freeBytes = gFakeFree;
  return 0;
}

class ShellInitTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ASSERT_EQ(PlatDriveMap('T', tmp_.Dir().c_str(), kPlatDriveFixed), 0);
    Path t = nullptr;
    const char kT[] = "T:\\";
    ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>(kT), 3, &t), kNoErr);
    SetTempDirPath(t);
    FDisposePath(t);
    gInitAlerts.clear();
    PlatSetAlertProc(&RecordInitAlert);
  }
  void TearDown() override {
    PlatSetAlertProc(nullptr);
    PlatSetVolumeSpaceHook(nullptr);
    if (RsrcFileRef rt = RunTimeRsrcFile()) RCloseFile(rt);
    SetRunTimeRsrcFile(0);
    DisposeAppFolderPaths();
    PlatDriveMap('T', nullptr, 0);
    EngineTest::TearDown();
  }
  // A run-time resource file with the run-time's resources and extra ones.
  void OpenRunTime(const std::vector<std::pair<uInt32, std::pair<int32, rsrcw::Bytes>>>& extra = {}) {
    rsrcw::Writer w(FourCC("QXRS"), FourCC("QNLX"));
    for (const auto& e : extra) w.Add(e.first, e.second.first, e.second.second);
    qxbuild::AddRunTimeResources(&w);
    ASSERT_TRUE(rsrcw::WriteHostFile(tmp_.Dir() + "/rt.rsc", w.Write()));
    Path p = nullptr;
    const char kRt[] = "T:\\rt.rsc";
    ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>(kRt), 9, &p), kNoErr);
    RsrcFileRef ref = 0;
    ASSERT_EQ(ROpenFile(p, kRsrcReadOnly, &ref, nullptr, nullptr), kNoErr);
    FDisposePath(p);
    SetRunTimeRsrcFile(ref);
  }
  Path TempPath() {
    Path p = FEmptyPath(nullptr);
    EXPECT_EQ(GetTempDirPath(p), kNoErr);
    return p;
  }
  TempFolder tmp_{"qxshinit"};
};

// abortMin and warnMin in kilobytes, compared in doubles so that large
// values do not wrap.
TEST_F(ShellInitTest, DiskSpaceAgainstAbortAndWarnMinimums) {
  OpenRunTime();
  PlatSetVolumeSpaceHook(&FakeFreeSpace);
  const struct {
    const char* abortMin;
    uint64_t free;
    MgErr want;
    const char* alertStart;
  } cases[] = {
      {nullptr, 500 * 1024 - 1, kDiskFullErr, "There is less than 500K"},
      {nullptr, 500 * 1024, kNoErr, "There is less than 2000K of disk space available on volume T:\\.  Quenlix can run"},
      {nullptr, 2000 * 1024, kNoErr, nullptr},
      {"3000000", 3000000ull * 1024 - 1, kDiskFullErr, "There is less than 3000000K"},
      {"3000000", 3000000ull * 1024, kNoErr, nullptr},
  };
  Path temp = TempPath();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.free);
    c.abortMin ? CfgTestSetValue("abortMin", c.abortMin) : CfgTestRemoveValue("abortMin");
    gFakeFree = c.free;
    gInitAlerts.clear();
    EXPECT_EQ(CheckDiskSpace(temp), c.want);
    if (!c.alertStart) {
      EXPECT_TRUE(gInitAlerts.empty());
    } else {
      ASSERT_EQ(gInitAlerts.size(), 1u);
      EXPECT_EQ(gInitAlerts[0].rfind(c.alertStart, 0), 0u) << gInitAlerts[0];
    }
  }
  CfgTestRemoveValue("abortMin");
  FDisposePath(temp);
}

// A name another file has taken is passed over; that file stays.
TEST_F(ShellInitTest, TemporaryFilesPassOverAForeignFile) {
  const int32 n = PlatProcessId() % 10000;
  const std::string foreign = tmp_.Dir() + "/qxtr" + std::to_string(n) + ".rsc";
  std::ofstream(foreign) << "someone else's";
  ASSERT_EQ(CreateTempResFiles(), kNoErr);
  EXPECT_TRUE(fs::exists(tmp_.Dir() + "/qxtr" + std::to_string((n + 1) % 10000) + ".rsc"));
  EXPECT_TRUE(fs::exists(tmp_.Dir() + "/qxtl" + std::to_string(n) + ".rsc"));
  DisposeTempResFiles();
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(tmp_.Dir())) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{fs::path(foreign).filename().string()});
  EXPECT_EQ(std::ifstream(foreign).get(), 's');
}

// The compiled-in defaults, values read over them, the access lists, the
// precisions and the flag that turns the OLE server off.
TEST_F(ShellInitTest, PreferencesOverTheirDefaults) {
  const struct {
    std::vector<std::pair<const char*, const char*>> keys;
    bool flagClear;
    std::vector<std::pair<int32, int32>> want;
  } cases[] = {
      {{}, false, {{kPrefPanelBackground, 0xB3B3B3}, {kPrefBlinkSpeed, 1000}, {kPrefWarnMin, 2000},
                   {kPrefServerTcpPort, 3363}, {kPrefServerOleEnabled, 1}, {kPrefTileUpDown, 0},
                   {kPrefDefPrecision, 0}, {kPrefFormulaPrecision, 0}}},
      {{{"blinkSpeed", "250"}, {"defPrecision", "DOUBLE"}, {"formulaBoxPrecision", "quad"}, {"showWarnings", "True"}},
       false,
       {{kPrefBlinkSpeed, 250}, {kPrefDefPrecision, 1}, {kPrefFormulaPrecision, 0}, {kPrefCurrentWarnings, 1}}},
      {{{"formulaBoxPrecision", "extended"}}, true, {{kPrefFormulaPrecision, 11}, {kPrefServerOleEnabled, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys.size());
    CfgTestClearValues();
    for (const auto& k : c.keys) CfgTestSetValue(k.first, k.second);
    if (RsrcFileRef rt = RunTimeRsrcFile()) RCloseFile(rt);
    if (c.flagClear) OpenRunTime({{FourCC("FLAG"), {1500, {0}}}});
    else OpenRunTime();
    PrefResetToDefaults();
    ReadShellPreferences();
    for (const auto& w : c.want) EXPECT_EQ(PrefGet(w.first), w.second) << w.first;
  }
  ASSERT_NE(ShellViAccessList(), nullptr);
  EXPECT_EQ((*ShellViAccessList())->cnt, 1);
  // A server enabled at start-up allows this machine's own address, in
  // dotted form (no look-up of its name).
  ShellStartHooks hooks{};
  hooks.hostAddress = [](ConstPStr, uInt32* address) -> MgErr {
    *address = 0x0201A8C0;  // 192.168.1.2
    return kNoErr;
  };
  hooks.hostName = [](uInt32, PStr name, int32 noLookUp) -> MgErr {
    PPrintf(name, "%s", noLookUp ? "192.168.1.2" : "myhost.example");
    return kNoErr;
  };
  ShellSetStartHooks(hooks);
  CfgTestSetValue("server.tcp.enabled", "True");
  PrefResetToDefaults();
  ReadShellPreferences();
  ShellSetStartHooks(ShellStartHooks{});
  ASSERT_NE(ShellTcpAccessList(), nullptr);
  ASSERT_EQ((*ShellTcpAccessList())->cnt, 1);
  const uChar* entry = CPStrIndex(ShellTcpAccessList(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry + 1), entry[0]), "+192.168.1.2");
  CfgTestClearValues();
}

// The key holds the live value only when it differs from the default; a
// value already there leaves the file as it was.
TEST_F(ShellInitTest, TileUpDownIsWrittenOnlyWhenItDiffersFromTheDefault) {
  const struct {
    const char* before;
    int32 live;
    const char* after;  // null: the key is absent
  } cases[] = {{"True", 0, nullptr}, {nullptr, 1, "True"}, {nullptr, 0, nullptr}, {"True", 1, "True"}};
  for (const auto& c : cases) {
    CfgTestClearValues();
    if (c.before) CfgTestSetValue("tileUpDown", c.before);
    std::ifstream in(TestConfigFile::Name());
    const std::string file((std::istreambuf_iterator<char>(in)), {});
    PrefResetToDefaults();
    PrefSet(kPrefTileUpDown, c.live);
    ShellSaveTileUpDown(PrefDefault(kPrefTileUpDown));
    std::ifstream again(TestConfigFile::Name());
    const std::string now((std::istreambuf_iterator<char>(again)), {});
    if (c.after) EXPECT_NE(now.find(std::string("tileUpDown=") + c.after), std::string::npos) << now;
    else EXPECT_EQ(now.find("tileUpDown"), std::string::npos) << now;
    if ((c.before != nullptr) == (c.after != nullptr)) { EXPECT_EQ(now, file) << "unchanged"; }
  }
  CfgTestClearValues();
}

std::map<int32, int32> gPicts;
MgErr RecordPict(int32 index, int32 image) {
  gPicts[index] = image;
  return kNoErr;
}

// The glyphs are cut by the rectangle list as far as its bytes go, each
// table entry reaches the panel and is taken back; key names come from the
// file's list.
TEST_F(ShellInitTest, PanelPicturesAndKeyNamesComeFromTheRunTimeFile) {
  const struct {
    std::vector<uChar> rects;  // empty: the builder's list
    int32 glyphs;
    size_t alerts;
  } cases[] = {
      {{}, 94, 0},
      {[] { auto b = qxbuild::GlyphRectList(10); b[1] = 94; return b; }(), 10, 1},  // count past the bytes
      {qxbuild::GlyphRectList(93), 93, 1},                                          // not 94: asserted
  };
  ShellStartHooks hooks{};
  hooks.setBuiltInPict = &RecordPict;
  ShellSetStartHooks(hooks);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.glyphs);
    if (RsrcFileRef rt = RunTimeRsrcFile()) RCloseFile(rt);
    if (c.rects.empty()) OpenRunTime();
    else OpenRunTime({{FourCC("nrct"), {129, c.rects}}});
    gPicts.clear();
    gInitAlerts.clear();
    InitPanelImages(RunTimeRsrcFile());
    EXPECT_EQ(gInitAlerts.size(), c.alerts);
    int32 glyphs = 0, stored = 0;
    for (const auto& [index, image] : gPicts) {
      EXPECT_NE(image, 0) << index;
      glyphs += index >= 2000 && index < 2094;
      stored += index >= 7000 && index < 7029;
    }
    EXPECT_EQ(glyphs, c.glyphs);
    EXPECT_EQ(stored, 29);
    Rect r{};
    EXPECT_EQ(IGetRect(gPicts[2009], &r), 1);
    EXPECT_EQ(r.left, 9 * 16);
    EXPECT_EQ(RectWidth(&r), 16);
    if (c.glyphs == 94) {
      EXPECT_EQ(ShellPanelPict(0), gPicts[2051]);
    }
    DisposePanelImages();
    for (const auto& [index, image] : gPicts) EXPECT_EQ(image, 0) << index;
  }
  CfgSetKeyNameFile(RunTimeRsrcFile());
  gInitAlerts.clear();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(CfgKeyName(3)) + 1, CfgKeyName(3)[0]), "viSearchPath");
  CfgKeyName(kCfgKeyCount + 1);
  EXPECT_EQ(gInitAlerts.size(), 1u) << "a failed lookup is reported";
  CfgSetKeyNameFile(0);
  ShellSetStartHooks(ShellStartHooks{});
}

// A stored control image whose icons hold nothing leaves its code empty;
// the error is written and the rest are loaded.
TEST_F(ShellInitTest, AMissingStoredImageLeavesItsCodeEmpty) {
  ShellStartHooks hooks{};
  hooks.setBuiltInPict = &RecordPict;
  ShellSetStartHooks(hooks);
  // The family's members, too short to be icons, stand in for the builder's.
  std::vector<std::pair<uInt32, std::pair<int32, rsrcw::Bytes>>> empty;
  for (uInt32 type : {FourCC("ICON"), FourCC("icl4"), FourCC("icl8"), FourCC("ICN#")})
    empty.push_back({type, {150, rsrcw::Bytes(2, 0)}});
  OpenRunTime(empty);
  gPicts.clear();
  ClearReports();
  InitPanelImages(RunTimeRsrcFile());
  EXPECT_EQ(ShellStoredImage(10), 0);
  EXPECT_EQ(gPicts.count(7010), 0u);
  EXPECT_NE(ShellStoredImage(9), 0);
  EXPECT_NE(ShellStoredImage(11), 0) << "the loop goes on";
  EXPECT_NE(gPicts[7011], 0);
  EXPECT_NE(ReportText().find("InitFPImages got an error 16"), std::string::npos) << ReportText();
  DisposePanelImages();
  ShellSetStartHooks(ShellStartHooks{});
}

TEST(ShellReaders, VersionAndFileTypeResourcesAreReadWithinTheirBytes) {
  const struct {
    std::vector<uChar> bytes;
    bool whole;
    uInt32 version;
    std::string text;
  } vers[] = {
      {{5, 1, 0x80, 3, 0, 0, 3, '5', '.', '0'}, true, 0x05018003, "5.0"},
      {{5, 1, 0x80, 3, 0, 0, 9, '5'}, false, 0x05018003, ""},  // the text runs past the resource
      {{5, 1, 0x80, 3, 0}, false, 0x05018003, ""},
      {{5, 1}, false, 0, ""},
  };
  for (const auto& v : vers) {
    ShellVers out;
    EXPECT_EQ(ShellParseVers(v.bytes.data(), int32(v.bytes.size()), &out), v.whole);
    EXPECT_EQ(out.version, v.version);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.shortText + 1), out.shortText[0]), v.text);
  }
  const struct {
    std::vector<uChar> bytes;
    MgErr want;
  } ext[] = {{{0, 0, 0, 1, 'T', 'E', 'X', 'T', 't', 'x', 't', 0}, kNoErr},
             {{0, 0, 0, 2, 'T', 'E', 'X', 'T', 't', 'x', 't', 0}, kArgErr},
             {{0x40, 0, 0, 0, 1, 2, 3, 4}, kArgErr},
             {{0, 0}, kArgErr}};
  for (const auto& e : ext) {
    UHandle h = AZNewHandle(int32(e.bytes.size()));
    ASSERT_NE(h, nullptr);
    std::memcpy(*h, e.bytes.data(), e.bytes.size());
    EXPECT_EQ(ShellCheckExtTable(h), e.want);
    if (e.want == kNoErr) { EXPECT_EQ(*reinterpret_cast<int32*>(*h), 1) << "the count in native order"; }
    AZDisposeHandle(h);
  }
}

}  // namespace
