#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// The fault hook counts the changes of the file it names and fails the one
// it names (and the later ones when sticky), or whatever reaches past a byte
// limit, leaving the file as a full disk would.
TEST_F(PlatFiles, FaultsFailTheChangesTheyName) {
  Write("f", "");
  Write("g", "");
  PlatFile *f = nullptr, *g = nullptr;
  ASSERT_EQ(PlatFileOpen("P:\\f", kPlatOpenExisting, kPlatReadWrite, kPlatDenyNone, &f), 0);
  ASSERT_EQ(PlatFileOpen("P:\\g", kPlatOpenExisting, kPlatReadWrite, kPlatDenyNone, &g), 0);
  auto size = [](PlatFile* file) {
    int64_t n = -1;
    EXPECT_EQ(PlatFileGetSize(file, &n), 0);
    return n;
  };
  struct Case {
    int64_t failAt;
    bool sticky;
    std::vector<bool> fails;  // of: write, write, size change, flush, write
  };
  const Case cases[] = {
      {0, false, {false, false, false, false, false}},
      {1, false, {true, false, false, false, false}},
      {2, false, {false, true, false, false, false}},
      {3, false, {false, false, true, false, false}},
      {4, false, {false, false, false, true, false}},
      {3, true, {false, false, true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failAt);
    ASSERT_EQ(PlatFileSetSize(f, 0), 0);
    ASSERT_EQ(PlatFileSetPos(f, 0), 0);
    PlatFileFault fault;
    fault.file = f;
    fault.failAt = c.failAt;
    fault.sticky = c.sticky;
    PlatFileSetFault(&fault);
    int64_t expected = 0;
    uint32_t done = 99;
    EXPECT_EQ(PlatFileWrite(f, "abcd", 4, &done), c.fails[0] ? kPlatErrDiskFull : 0);
    EXPECT_EQ(done, c.fails[0] ? 0u : 4u);
    if (!c.fails[0]) expected = 4;
    EXPECT_EQ(PlatFileWrite(f, "ef", 2, &done), c.fails[1] ? kPlatErrDiskFull : 0);
    if (!c.fails[1]) expected += 2;
    EXPECT_EQ(size(f), expected);
    EXPECT_EQ(PlatFileSetSize(f, 100), c.fails[2] ? kPlatErrDiskFull : 0);
    EXPECT_EQ(size(f), c.fails[2] ? expected : 100);
    EXPECT_EQ(PlatFileFlush(f), c.fails[3] ? kPlatErrDiskFull : 0);
    EXPECT_EQ(PlatFileWrite(f, "g", 1, &done), c.fails[4] ? kPlatErrDiskFull : 0);
    // Another file is not counted.
    EXPECT_EQ(PlatFileWrite(g, "x", 1, &done), 0);
    EXPECT_EQ(PlatFileFaultChanges(), 5);
    EXPECT_EQ(PlatFileFaultFailures(), int64_t(std::count(c.fails.begin(), c.fails.end(), true)));
    PlatFileSetFault(nullptr);
  }

  // A byte limit: writes reach up to it, size changes stay below it.
  ASSERT_EQ(PlatFileSetSize(f, 0), 0);
  ASSERT_EQ(PlatFileSetPos(f, 0), 0);
  PlatFileFault limit;
  limit.byteLimit = 6;
  PlatFileSetFault(&limit);
  uint32_t done = 0;
  EXPECT_EQ(PlatFileWrite(f, "abcd", 4, &done), 0);
  EXPECT_EQ(PlatFileWrite(f, "efgh", 4, &done), kPlatErrDiskFull);
  EXPECT_EQ(done, 2u);
  EXPECT_EQ(size(f), 6);
  EXPECT_EQ(PlatFileWrite(f, "i", 1, &done), kPlatErrDiskFull);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(PlatFileSetSize(f, 7), kPlatErrDiskFull);
  EXPECT_EQ(PlatFileSetSize(f, 3), 0);
  EXPECT_EQ(PlatFileSetPos(f, 0), 0);
  EXPECT_EQ(PlatFileWrite(f, "ABCDEF", 6, &done), 0);
  EXPECT_EQ(PlatFileFaultFailures(), 3);
  PlatFileSetFault(nullptr);
  EXPECT_EQ(PlatFileWrite(f, "GH", 2, &done), 0);
  EXPECT_EQ(PlatFileFaultChanges(), 0);
  EXPECT_EQ(size(f), 8);
  char back[8];
  ASSERT_EQ(PlatFileSetPos(f, 0), 0);
  ASSERT_EQ(PlatFileRead(f, back, 8, &done), 0);
  EXPECT_EQ(std::string(back, 8), "ABCDEFGH");
  EXPECT_EQ(PlatFileClose(f), 0);
  EXPECT_EQ(PlatFileClose(g), 0);
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

TEST(PlatUmask, ReadsTheMaskWithoutChangingIt) {
  mode_t saved = umask(022);
  for (mode_t m : {mode_t(0), mode_t(022), mode_t(027), mode_t(077), mode_t(0777), mode_t(0202)}) {
    umask(m);
    EXPECT_EQ(PlatGetUmask(), uint32_t(m)) << std::oct << m;
    EXPECT_EQ(PlatGetUmask(), uint32_t(m)) << std::oct << m;
    EXPECT_EQ(umask(m), m) << "the read changed the mask";
  }
  umask(saved);
}
