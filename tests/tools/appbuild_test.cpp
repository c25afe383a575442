// The builder's last step: copies of a small program with a resource file
// and a trailer appended, run to see what they make of themselves.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "mgsource/config.h"
#include "temp_folder.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

namespace fs = std::filesystem;

namespace {

class AppBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    qxbuild::AddConfigTokenStrings(&w);
    ASSERT_TRUE(w.Add(rsrcfmt::kTypeStrList, 128, rsrcw::StrList({"hello from the application"})));
    file_ = w.Write();
  }
  // Runs a program and reads its "name=value" lines.
  static std::map<std::string, std::string> Run(const std::string& program, const std::string& args = "") {
    std::map<std::string, std::string> out;
    FILE* p = popen((program + " " + args + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char line[1024];
    while (std::fgets(line, sizeof line, p)) {
      std::string s(line);
      if (!s.empty() && s.back() == '\n') s.pop_back();
      size_t eq = s.find('=');
      if (eq != std::string::npos) out[s.substr(0, eq)] = s.substr(eq + 1);
    }
    out["status"] = std::to_string(WEXITSTATUS(pclose(p)));
    return out;
  }
  // A built copy whose trailer byte at offset is replaced by value.
  std::string Patched(const std::string& name, int offset, uChar value) {
    std::string out = root_ + "/" + name;
    EXPECT_TRUE(qxbuild::AppendToProgram(QX_BUILT_APP_PROBE, file_, out));
    rsrcw::Bytes b = rsrcw::ReadHostFile(out);
    b[b.size() - rsrcfmt::kTrailerSize + size_t(offset)] = value;
    EXPECT_TRUE(rsrcw::WriteHostFile(out, b));
    return out;
  }
  TempFolder tmp_{"qxab"};
  std::string root_ = tmp_.Dir();
  rsrcw::Bytes file_;
};

}  // namespace

TEST_F(AppBuild, ABuiltCopyReadsItsOwnAppendedFile) {
  std::string app = root_ + "/probe.exe";
  std::string error;
  ASSERT_TRUE(qxbuild::AppendToProgram(QX_BUILT_APP_PROBE, file_, app, &error)) << error;
  rsrcw::Bytes original = rsrcw::ReadHostFile(QX_BUILT_APP_PROBE);
  rsrcw::Bytes built = rsrcw::ReadHostFile(app);
  ASSERT_EQ(built.size(), original.size() + file_.size() + 20);
  EXPECT_TRUE(std::equal(original.begin(), original.end(), built.begin()));
  const uChar* t = built.data() + built.size() - 20;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t), 4), "APPB");
  EXPECT_EQ(rsrcfmt::GetLE32(t + 4), 3u);
  EXPECT_EQ(rsrcfmt::GetLE32(t + 8), 0x005DC000u);
  EXPECT_EQ(rsrcfmt::GetLE32(t + 12), 1u);
  EXPECT_EQ(rsrcfmt::GetLE32(t + 16), uInt32(original.size()));

  auto out = Run(app);
  EXPECT_EQ(out["status"], "0");
  EXPECT_EQ(out["built"], "1");
  EXPECT_EQ(out["trailer"], "0");
  EXPECT_EQ(out["config"], root_ + "/probe.ini");  // the three-letter extension replaced
  EXPECT_EQ(out["open"], "0");
  EXPECT_EQ(out["key1"], "tmpdir (0)");
  EXPECT_EQ(out["key208"], "activeX.freeThreaded (0)");
  EXPECT_EQ(out["text"], "hello from the application (0)");
  EXPECT_EQ(out["close"], "0");
  // The configuration file named on the command line.
  EXPECT_EQ(Run(app, "-pref other.ini")["config"], "other.ini");
}

TEST_F(AppBuild, BadTrailersAndTheOriginalAreNotBuilt) {
  auto original = Run(QX_BUILT_APP_PROBE);
  EXPECT_EQ(original["status"], "0");
  EXPECT_EQ(original["built"], "0");
  EXPECT_EQ(original["trailer"], "1");
  EXPECT_EQ(original["config"], std::string(QX_BUILT_APP_PROBE) + ".ini");

  auto signature = Run(Patched("sig", rsrcfmt::kTrailerTag + 3, 'X'));
  EXPECT_EQ(signature["built"], "0");
  EXPECT_EQ(signature["trailer"], "1");
  auto version = Run(Patched("ver", rsrcfmt::kTrailerVersion, 2));
  EXPECT_EQ(version["built"], "0");
  EXPECT_EQ(version["trailer"], "1");
  // A valid trailer without the built flag.
  std::string unflagged = root_ + "/flag0";
  ASSERT_TRUE(qxbuild::AppendToProgram(QX_BUILT_APP_PROBE, file_, unflagged, nullptr, 0));
  auto flag = Run(unflagged);
  EXPECT_EQ(flag["built"], "0");
  EXPECT_EQ(flag["trailer"], "0");
  EXPECT_EQ(flag.count("open"), 0u);
}

TEST_F(AppBuild, FailuresLeaveNoFile) {
  std::string error;
  EXPECT_FALSE(qxbuild::AppendToProgram(root_ + "/missing", file_, root_ + "/out", &error));
  EXPECT_NE(error.find("missing"), std::string::npos);
  EXPECT_FALSE(fs::exists(root_ + "/out"));
  EXPECT_FALSE(qxbuild::AppendToProgram(QX_BUILT_APP_PROBE, file_, root_ + "/no/such/dir/out", &error));
  EXPECT_FALSE(fs::exists(root_ + "/no"));
}
