// Importing a VI's strings from a string file: the section found by name,
// the top level applied, errors and warnings reported in the log and the
// alerts, file failures answered with their error.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/shellsvc.h"
#include "engine/vi/rtrsrc.h"
#include "fuzz/rsrc_image.h"
#include "mgsource/rsrc.h"
#include "engine/engine_test_support.h"
#include "engine/vi/viinst.h"
#include "panel/fppanel.h"
#include "panel/strimport.h"
#include "panel/vistring_fixture.h"
#include "mgsource/datetime.h"
#include "shell/dialog.h"
#include "shell/vistring.h"
#include "temp_folder.h"
#include "tools/appbuild.h"

namespace {

std::vector<std::string> gAlerts;
int32 Capture(int32, const void* message, ConstPStr, int32, int32) {
  const uChar* p = static_cast<const uChar*>(message);
  gAlerts.emplace_back(reinterpret_cast<const char*>(p + 1), p[0]);
  return 0;
}

// A VI with a panel of the fixture's objects; the panel's engine hooks are
// not installed (the shell's dialogs stay the shell's own).
class VIStringTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
    ASSERT_EQ(TypeHeapInit(), kNoErr);
    vi_ = vib::NewVI();
    ASSERT_EQ(RegisterVI(vi_), kNoErr);
    panel_ = vib::NewPanel(vi_);
    root_ = FPNewPanelRoot(panel_);
    ASSERT_NE(root_, 0);
    PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtRoot, uInt32(root_));
    std::memcpy(VIRec(vi_)->name, "\004Test", 5);
    rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
    qxbuild::AddRunTimeResources(&w);
    ref_ = FuzzOpenRsrcImage(w.Write());
    SetRunTimeRsrcFile(ref_);
    SetVIStringHooks({.importPanel = &FPImportStrings, .className = &GetObjClassName});
    SetOneButtonAlertProc(&Capture);
    gAlerts.clear();
    VIRec(vi_)->viKind = 2;
    p_ = vsfix::Build(panel_, root_);
  }
  void TearDown() override {
    ShellInstallAlertHooks();  // the shell's own alert again
    SetVIStringHooks({});
    SetRunTimeRsrcFile(0);
    if (ref_) RCloseFile(ref_);
    for (Path p : paths_) FDisposePath(p);
    UnregisterVI(vi_);
    vib::DisposeVI(vi_);
    EngineTest::TearDown();
  }
  Path PathOf(const std::string& name) {
    std::string text = "C:";
    for (char c : dir_.Dir() + "/" + name) text += c == '/' ? '\\' : c;
    Path p = nullptr;
    EXPECT_EQ(FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p), kNoErr);
    paths_.push_back(p);
    return p;
  }
  MgErr Import(const std::string& file, const char* log = "log.txt") {
    std::ofstream(dir_.Dir() + "/s.txt", std::ios::binary) << file;
    return ImportVIStrings(vi_, PathOf("s.txt"), 1, log ? PathOf(log) : nullptr);
  }
  // The log's lines (CR LF ends each).
  std::vector<std::string> LogLines() {
    std::ifstream in(dir_.Dir() + "/log.txt", std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    std::vector<std::string> lines;
    std::string s = all.str();
    for (size_t at = 0, end; at < s.size(); at = end + 2) {
      end = s.find("\r\n", at);
      if (end == std::string::npos) end = s.size();
      lines.push_back(s.substr(at, end - at));
    }
    return lines;
  }
  TempFolder dir_{"vistring"};
  RsrcFileRef ref_ = 0;
  std::vector<Path> paths_;
  vsfix::Panel p_{};
  UHandle vi_ = nullptr;
  ObjHeap panel_ = nullptr;
  int32 root_ = 0;
};

TEST_F(VIStringTest, TheNamedSectionIsFoundAndItsTopLevelApplied) {
  VIRec(vi_)->helpPath = PathOf("help.hlp");
  paths_.pop_back();
  VIRec(vi_)->helpTag = AZNewHandle(4);
  vsfix::File f{.viName = "TEST"};
  std::string section = vsfix::Section(f);
  section.replace(section.find("Title"), 5, "a<<b>>\"\" <CRLF>c\r\nd");
  section.replace(section.find("\"default\""), 9, "\"minimal\"");
  const std::string other = "<VI name=\"Other\">junk <<VI> </VI>\r\n";
  ASSERT_EQ(Import(other + section + "<VI name=\"Third\"></VI>"), kNoErr);
  const UHandle title = VIRec(vi_)->title;
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(*title + 1), **title), "a<b>\" \r\ncd");
  EXPECT_EQ(VIRec(vi_)->helpPath, nullptr);
  EXPECT_EQ(VIRec(vi_)->helpTag, nullptr);
  EXPECT_EQ(VIRec(vi_)->rtMenuWord & 3, 1u);
  EXPECT_TRUE(gAlerts.empty());
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], std::string(44, '#'));
  EXPECT_EQ(log[1].rfind("Imported the strings of \"Test\" from \"", 0), 0u) << log[1];
  EXPECT_EQ(log[2].rfind(std::string(DateCString(TimeInSecs(), 2)) + " ", 0), 0u) << "dated in the long format";
  EXPECT_EQ(log[3], log[0]);
}

TEST_F(VIStringTest, ErrorsStopTheImportAndWarningsAreCounted) {
  const std::string six = "a=1 b=2 c=3 d=4 e=5 f=6 ";
  struct Case {
    vsfix::File file;
    std::string from, to;
    MgErr result;
    const char* shown;  // in the alert
    const char* header;  // the log's second line starts so
  } cases[] = {
      {{.viName = "Other"}, "", "", 42, "Error: no section of this VI in the file (line 1)", "Importing the strings"},
      {{}, "syntaxVersion=2", "syntaxVersion=1", 42, "unexpected tag (line 3) at: <HELP_PATH>", "Importing the strings"},
      {{}, "<TITLE>", "<TITLE >", 42, "syntax error (line 2) at: <TITLE >", "Importing the strings"},
      {{}, "<VI ", "<VI " + six, 0, "Warning in : unknown attribute (line 1) at: a=1", "6 warning(s)"},
      {{.name = "name"}, "", "", 42, "Error in String: the control's name differs", "Importing the strings"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir_.Dir() + "/log.txt");
    gAlerts.clear();
    std::string text = vsfix::Section(c.file);
    if (!c.from.empty()) text.replace(text.find(c.from), c.from.size(), c.to);
    EXPECT_EQ(Import(text), c.result) << text;
    ASSERT_EQ(gAlerts.size(), 1u) << text;
    EXPECT_NE(gAlerts[0].find(c.shown), std::string::npos) << gAlerts[0];
    const std::vector<std::string> log = LogLines();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[1].rfind(c.header, 0), 0u) << log[1];
    if (c.result == 0) { EXPECT_EQ(log.size(), 4u + 5u); }  // five of the six warnings described
  }
}

TEST_F(VIStringTest, FileFailuresAnswerTheirErrorAndTheLogIsNeverTheStringFile) {
  const std::string text = vsfix::Section({});
  EXPECT_EQ(Import(text, "s.txt"), kNoErr);
  std::ifstream in(dir_.Dir() + "/s.txt", std::ios::binary);
  std::stringstream kept;
  kept << in.rdbuf();
  EXPECT_EQ(kept.str(), text);
  ClearReports();
  EXPECT_EQ(ImportVIStrings(vi_, PathOf("missing.txt"), 1, PathOf("log.txt")), kFileNotFoundErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("ImportVIStrings: error on file operation: 7"), 1);
  ASSERT_EQ(gAlerts.size(), 1u);
  EXPECT_EQ(gAlerts[0], "The VI string file could not be read.");
  EXPECT_FALSE(std::filesystem::exists(dir_.Dir() + "/log.txt"));
}

}  // namespace
