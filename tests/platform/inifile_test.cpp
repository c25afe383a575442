#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/qx_drives.h"
#include "platform/qx_inifile.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

class IniFile : public ::testing::Test {
 protected:
  void TearDown() override { PlatIniSetFailHook(nullptr); }
  void Put(const std::string& data, const std::string& path = "") {
    std::ofstream(path.empty() ? file_ : path, std::ios::binary) << data;
  }
  std::string Get(const std::string& path = "") {
    std::ifstream in(path.empty() ? file_ : path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string Read(const char* section, const char* key, const char* def = "MISSING") {
    char buf[512];
    int32_t n = PlatIniRead(file_.c_str(), section, key, def, buf, sizeof buf);
    EXPECT_EQ(size_t(n), std::string(buf).size());
    return buf;
  }
  int32_t Write(const char* section, const char* key, const char* text) {
    return PlatIniWrite(file_.c_str(), section, key, text);
  }
  TempFolder tmp_{"qxini"};
  std::string root_ = tmp_.Dir(), file_ = root_ + "/a.ini";
};

class IniFileThreads : public IniFile {};

}  // namespace

TEST_F(IniFile, NamesIgnoreCaseAndTheFirstMatchWins) {
  Put("top=ignored\n[App]\nKey=one\nkey=two\n[other]\nkey=three\n[APP]\nlater=four\nkey=five\n");
  EXPECT_EQ(Read("app", "KEY"), "one");
  EXPECT_EQ(Read("Other", "key"), "three");
  EXPECT_EQ(Read("app", "later"), "four");  // a second section of the same name is searched too
  EXPECT_EQ(Read("app", "top"), "MISSING");
  EXPECT_EQ(Read("none", "key"), "MISSING");
  EXPECT_EQ(Read("app", "absent", nullptr), "");
}

TEST_F(IniFile, ValuesAreTrimmedAndQuotesKept) {
  Put("; comment=no\r\n  [ App ]  \r\n  spaced  =  a b  \r\n;key=commented\r\nquoted=\"x\"\r\nempty=\r\n"
      "eq=a=b\r\nnoequals\r\nlast=end");
  EXPECT_EQ(Read("App", "spaced"), "a b");
  EXPECT_EQ(Read("App", "quoted"), "\"x\"");
  EXPECT_EQ(Read("App", "empty"), "");
  EXPECT_EQ(Read("App", "eq"), "a=b");
  EXPECT_EQ(Read("App", "last"), "end");  // no final line end
  EXPECT_EQ(Read("App", ";key"), "MISSING");
  EXPECT_EQ(Read("App", "noequals"), "MISSING");
}

TEST_F(IniFile, AnyBytesReadWithoutHarm) {
  std::string data = "[s]\nnul=ab";
  data += '\0';
  data += "cd\n\xff\xfe=\x01\n[broken\nk=v\n";
  data += std::string(100000, 'x');
  Put(data);
  EXPECT_EQ(Read("s", "nul"), "ab");
  EXPECT_EQ(Read("s", "k"), "v");  // a header without "]" is no header
  Put("");
  EXPECT_EQ(Read("s", "k"), "MISSING");
  EXPECT_EQ(PlatIniRead(file_.c_str(), "s", "k", "d", nullptr, 10), 0);
  char one[1];
  EXPECT_EQ(PlatIniRead(file_.c_str(), "s", "k", "d", one, 1), 0);
  EXPECT_EQ(one[0], 0);
}

TEST_F(IniFile, LongValuesAreCutAndTheirLengthTold) {
  std::string big(5000, 'v');
  Put("[s]\nk=" + big + "\n");
  char buf[300];
  int64_t full = 0;
  EXPECT_EQ(PlatIniRead(file_.c_str(), "s", "k", "", buf, sizeof buf, &full), 299);
  EXPECT_EQ(full, 5000);
  EXPECT_EQ(std::string(buf), big.substr(0, 299));
  std::vector<char> all(5001);
  EXPECT_EQ(PlatIniRead(file_.c_str(), "s", "k", "", all.data(), 5001, &full), 5000);
  EXPECT_EQ(std::string(all.data()), big);
}

TEST_F(IniFile, ReplacingKeepsEveryOtherByte) {
  std::string before = "; head\r\n[A]\r\nx = 1\r\nKey =  old  \r\n\r\n[B]\r\nkey=b\r\n";
  Put(before);
  EXPECT_EQ(Write("a", "KEY", "new value"), kPlatIniOk);
  EXPECT_EQ(Get(), "; head\r\n[A]\r\nx = 1\r\nKey =  new value\r\n\r\n[B]\r\nkey=b\r\n");
  EXPECT_EQ(Write("a", "KEY", "new value"), kPlatIniOk);  // the same value: nothing changes
  EXPECT_EQ(Read("A", "key"), "new value");
}

TEST_F(IniFile, NewKeysJoinTheirSectionAndNewSectionsTheEnd) {
  Put("[A]\nx=1\n\n[B]\ny=2");
  EXPECT_EQ(Write("A", "k", "v"), kPlatIniOk);
  EXPECT_EQ(Get(), "[A]\nx=1\nk=v\n\n[B]\ny=2");
  EXPECT_EQ(Write("B", "z", "3"), kPlatIniOk);
  EXPECT_EQ(Get(), "[A]\nx=1\nk=v\n\n[B]\ny=2\nz=3\n");
  EXPECT_EQ(Write("C", "w", ""), kPlatIniOk);
  EXPECT_EQ(Get(), "[A]\nx=1\nk=v\n\n[B]\ny=2\nz=3\n[C]\nw=\n");
  Put("[A]\r\nx=1\r\n");
  EXPECT_EQ(Write("D", "k", "v"), kPlatIniOk);
  EXPECT_EQ(Get(), "[A]\r\nx=1\r\n[D]\r\nk=v\r\n");
}

TEST_F(IniFile, DeletionRemovesEveryMatchAndNothingElse) {
  Put("[A]\nk=1\nx=2\n[b]\nk=3\n[a]\nK=4\n");
  EXPECT_EQ(Write("A", "k", nullptr), kPlatIniOk);
  EXPECT_EQ(Get(), "[A]\nx=2\n[b]\nk=3\n[a]\n");
  EXPECT_EQ(Read("a", "k"), "MISSING");
  // Deleting what isn't there neither changes nor creates a file.
  EXPECT_EQ(Write("A", "k", nullptr), kPlatIniOk);
  std::string other = root_ + "/none.ini";
  EXPECT_EQ(PlatIniWrite(other.c_str(), "A", "k", nullptr), kPlatIniOk);
  EXPECT_FALSE(fs::exists(other));
}

TEST_F(IniFile, CreatesTheFileWithTheUsualPermissions) {
  EXPECT_EQ(Write("App", "k", "v"), kPlatIniOk);
  EXPECT_EQ(Get(), "[App]\nk=v\n");
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(fs::status(file_).permissions(), fs::perms(0666 & ~mask));
  chmod(file_.c_str(), 0640);
  EXPECT_EQ(Write("App", "k", "w"), kPlatIniOk);
  EXPECT_EQ(fs::status(file_).permissions(), fs::perms(0640));
  // No temporary file is left behind.
  int n = 0;
  for (auto& e : fs::directory_iterator(root_)) n += e.exists() ? 1 : 0;
  EXPECT_EQ(n, 1);
}

TEST_F(IniFile, WritesGoThroughSymbolicLinksToTheirTarget) {
  fs::create_directory(root_ + "/real");
  Put("[A]\nk=1\n", root_ + "/real/t.ini");
  fs::create_symlink("real/t.ini", file_);
  std::string chain = root_ + "/chain.ini";
  fs::create_symlink(file_, chain);
  EXPECT_EQ(PlatIniWrite(chain.c_str(), "A", "k", "2"), kPlatIniOk);
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_TRUE(fs::is_symlink(chain));
  EXPECT_EQ(Get(root_ + "/real/t.ini"), "[A]\nk=2\n");
  // A dangling link makes its target.
  std::string dangling = root_ + "/d.ini";
  fs::create_symlink("real/new.ini", dangling);
  EXPECT_EQ(PlatIniWrite(dangling.c_str(), "A", "k", "3"), kPlatIniOk);
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_EQ(Get(root_ + "/real/new.ini"), "[A]\nk=3\n");
  // A loop of links is an error.
  std::string loop = root_ + "/loop.ini";
  fs::create_symlink("loop.ini", loop);
  EXPECT_EQ(PlatIniWrite(loop.c_str(), "A", "k", "3"), kPlatIniIOError);
}

TEST_F(IniFile, FailuresLeaveTheFileAsItWas) {
  Put("[A]\nk=1\n");
  static std::string seen;
  PlatIniSetFailHook([](const char* path) {
    seen = path;
    return EACCES;
  });
  EXPECT_EQ(Write("A", "k", "2"), kPlatIniAccessDenied);
  EXPECT_EQ(seen, file_);
  PlatIniSetFailHook([](const char*) { return EROFS; });
  EXPECT_EQ(Write("A", "k", "2"), kPlatIniAccessDenied);
  PlatIniSetFailHook([](const char*) { return EPERM; });
  EXPECT_EQ(Write("A", "k", nullptr), kPlatIniAccessDenied);
  PlatIniSetFailHook([](const char*) { return ENOSPC; });
  EXPECT_EQ(Write("A", "k", "2"), kPlatIniIOError);
  EXPECT_EQ(Get(), "[A]\nk=1\n");
  PlatIniSetFailHook(nullptr);
  // A folder in the way of the file.
  std::string dir = root_ + "/dir.ini";
  fs::create_directory(dir);
  EXPECT_EQ(PlatIniWrite(dir.c_str(), "A", "k", "2"), kPlatIniIOError);
  std::string missing = root_ + "/no/such/x.ini";
  EXPECT_EQ(PlatIniWrite(missing.c_str(), "A", "k", "2"), kPlatIniIOError);
}

TEST_F(IniFile, NamesAndTextsThatALineCantHoldAreRefused) {
  Put("[A]\nk=1\n");
  EXPECT_EQ(Write("A", "k", "two\nlines"), kPlatIniBadArg);
  EXPECT_EQ(Write("A", "k", "cr\r"), kPlatIniBadArg);
  EXPECT_EQ(Write("A", "a=b", "1"), kPlatIniBadArg);
  EXPECT_EQ(Write("A", "[k", "1"), kPlatIniBadArg);
  EXPECT_EQ(Write("A", ";k", "1"), kPlatIniBadArg);
  EXPECT_EQ(Write("A", " ", "1"), kPlatIniBadArg);
  EXPECT_EQ(Write("A]", "k", "1"), kPlatIniBadArg);
  EXPECT_EQ(Write("", "k", "1"), kPlatIniBadArg);
  EXPECT_EQ(Write(nullptr, "k", "1"), kPlatIniBadArg);
  EXPECT_EQ(PlatIniWrite("", "A", "k", "1"), kPlatIniBadArg);
  EXPECT_EQ(Get(), "[A]\nk=1\n");
}

TEST_F(IniFile, SystemPathTextsNameFilesThroughTheDriveMap) {
  ASSERT_EQ(PlatDriveMap('P', root_.c_str(), 1), 0);
  Put("");
  EXPECT_EQ(PlatIniWrite("P:\\A.INI", "s", "k", "v"), kPlatIniOk);
  EXPECT_EQ(Get(), "[s]\nk=v\n");  // the existing name is matched without case
  char buf[16];
  EXPECT_EQ(PlatIniRead("p:\\a.ini", "s", "k", "", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "v");
  PlatDriveMap('P', nullptr, 0);
}

TEST_F(IniFileThreads, ConcurrentWritesLoseNoKey) {
  const int kThreads = 4, kKeys = std::getenv("QX_UNDER_VALGRIND") ? 5 : 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kKeys; ++i) {
        std::string key = "k" + std::to_string(t) + "_" + std::to_string(i);
        EXPECT_EQ(Write("S", key.c_str(), std::to_string(i).c_str()), kPlatIniOk);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kKeys; ++i) {
      std::string key = "k" + std::to_string(t) + "_" + std::to_string(i);
      EXPECT_EQ(Read("S", key.c_str()), std::to_string(i));
    }
}
