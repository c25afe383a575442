#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/qx_drives.h"
#include "platform/qx_file.h"

namespace fs = std::filesystem;

namespace {

// A fresh temporary folder mapped as drive P.
class PlatFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string t = (fs::temp_directory_path() / "qxplXXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    root_ = t;
    ASSERT_EQ(PlatDriveMap('P', root_.c_str(), kPlatDriveFixed), 0);
  }
  void TearDown() override {
    PlatDriveMap('P', nullptr, 0);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void Write(const std::string& rel, const std::string& data) {
    std::ofstream(root_ + "/" + rel, std::ios::binary) << data;
  }
  std::vector<std::string> Find(const std::string& text, int32_t* err) {
    std::vector<std::string> v;
    PlatFind* f = nullptr;
    PlatFindEntry e;
    *err = PlatFindFirst(text.c_str(), &f, &e);
    if (*err) return v;
    do v.push_back(e.name);
    while (PlatFindNext(f, &e) == 0);
    PlatFindClose(f);
    return v;
  }
  std::string root_;
};

class PlatFilesConcurrent : public PlatFiles {};

int Scaled(int n) { return std::getenv("QX_UNDER_VALGRIND") ? n / 20 + 1 : n; }

}  // namespace

TEST_F(PlatFiles, FindListsDotsFirstExceptAtTheRoot) {
  fs::create_directory(root_ + "/d");
  Write("d/a.txt", "");
  Write("d/B.TXT", "");
  Write("d/c.bin", "");
  int32_t err = -1;
  std::vector<std::string> all = Find("P:\\d\\*.*", &err);
  ASSERT_EQ(err, 0);
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[0], ".");
  EXPECT_EQ(all[1], "..");
  std::vector<std::string> txt = Find("P:\\d\\*.txt", &err);
  ASSERT_EQ(err, 0);
  std::sort(txt.begin(), txt.end());
  EXPECT_EQ(txt, (std::vector<std::string>{"B.TXT", "a.txt"}));
  std::vector<std::string> root = Find("P:\\*", &err);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(root, std::vector<std::string>{"d"});
  Find("P:\\d\\*.zip", &err);
  EXPECT_EQ(err, kPlatErrFileNotFound);
  Find("P:\\missing\\*.*", &err);
  EXPECT_EQ(err, kPlatErrPathNotFound);
  Find("P:\\d\\a.txt\\*.*", &err);
  EXPECT_EQ(err, kPlatErrPathNotFound);
  EXPECT_EQ(PlatLastError(), kPlatErrPathNotFound);
}

TEST_F(PlatFiles, OpensDenyEachOtherBothWays) {
  Write("f", "x");
  PlatFile *a = nullptr, *b = nullptr;
  ASSERT_EQ(PlatFileOpen("P:\\f", kPlatOpenExisting, kPlatReadWrite, kPlatDenyNone, &a), 0);
  // The new open would deny the write access that a already has.
  EXPECT_EQ(PlatFileOpen("P:\\f", kPlatOpenExisting, kPlatRead, kPlatDenyWrite, &b), kPlatErrSharing);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(PlatFileOpen("p:\\F", kPlatOpenExisting, kPlatRead, kPlatDenyNone, &b), 0);
  EXPECT_TRUE(PlatFileIsOpen(b));
  EXPECT_EQ(PlatFileClose(b), 0);
  EXPECT_FALSE(PlatFileIsOpen(b));
  EXPECT_EQ(PlatFileClose(a), 0);
  EXPECT_EQ(PlatFileOpen("P:\\f", kPlatOpenExisting, 7, kPlatDenyNone, &a), kPlatErrInvalidParam);
  EXPECT_EQ(PlatFileOpen("P:\\", kPlatOpenExisting, kPlatRead, kPlatDenyNone, &a), kPlatErrAccessDenied);
}

TEST_F(PlatFiles, LocksHoldAgainstOtherProcesses) {
  Write("l", std::string(64, 'l'));
  PlatFile* a = nullptr;
  ASSERT_EQ(PlatFileOpen("P:\\l", kPlatOpenExisting, kPlatReadWrite, kPlatDenyNone, &a), 0);
  ASSERT_EQ(PlatFileLockRange(a, 8, 8, true), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    PlatFile* c = nullptr;
    if (PlatFileOpen("P:\\l", kPlatOpenExisting, kPlatReadWrite, kPlatDenyNone, &c)) _exit(2);
    int32_t conflict = PlatFileLockRange(c, 12, 1, true);
    int32_t free = PlatFileLockRange(c, 16, 8, true);
    _exit(conflict == kPlatErrLock && free == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(PlatFileLockRange(a, 8, 0, true), kPlatErrInvalidParam);
  EXPECT_EQ(PlatFileLockRange(a, 8, 8, false), 0);
  EXPECT_EQ(PlatFileLockRange(a, 8, 8, false), kPlatErrNotLocked);
  EXPECT_EQ(PlatFileClose(a), 0);
}

TEST_F(PlatFiles, CopiesAndMovesNeverReplace) {
  Write("a", "aaa");
  Write("b", "bbb");
  EXPECT_EQ(PlatCopy("P:\\a", "P:\\b"), kPlatErrFileExists);
  EXPECT_EQ(PlatMove("P:\\a", "P:\\b"), kPlatErrAlreadyExists);
  EXPECT_EQ(PlatCopy("P:\\a", "P:\\c"), 0);
  EXPECT_EQ(PlatMove("P:\\c", "P:\\d"), 0);
  std::ifstream in(root_ + "/d");
  std::string s;
  in >> s;
  EXPECT_EQ(s, "aaa");
  EXPECT_EQ(PlatRemove("P:\\d"), 0);
  EXPECT_EQ(PlatRemove("P:\\d"), kPlatErrFileNotFound);
  EXPECT_EQ(PlatMakeFolder("P:\\dir"), 0);
  EXPECT_EQ(PlatMakeFolder("P:\\dir"), kPlatErrFileExists);
  EXPECT_EQ(PlatMakeFolder("P:\\"), kPlatErrAlreadyExists);
  EXPECT_EQ(PlatMakeFolder("P:\\no\\dir"), kPlatErrFileNotFound);
}

TEST_F(PlatFilesConcurrent, ExclusiveOpensNeverOverlap) {
  Write("x", "x");
  std::atomic<int> holders{0}, maxHolders{0}, granted{0};
  auto worker = [&] {
    for (int i = 0; i < Scaled(300); ++i) {
      PlatFile* f = nullptr;
      if (PlatFileOpen("P:\\x", kPlatOpenExisting, kPlatReadWrite, kPlatDenyAll, &f) != 0) continue;
      int now = ++holders;
      int seen = maxHolders.load();
      while (now > seen && !maxHolders.compare_exchange_weak(seen, now)) {
      }
      ++granted;
      --holders;
      PlatFileClose(f);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(worker);
  for (auto& t : threads) t.join();
  EXPECT_EQ(maxHolders.load(), 1);
  EXPECT_GT(granted.load(), 0);
}
