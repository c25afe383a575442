#include <gtest/gtest.h>
#include <locale.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/path.h"
#include "mgsource/pool.h"
#include "mgsource/support.h"
#include "path_test_util.h"
#include "platform/qx_drives.h"
#include "temp_folder.h"
#include "test_support.h"

using namespace pathtest;
namespace fs = std::filesystem;

namespace {

class Support : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    EnsureManagers();
    ASSERT_EQ(SupportInit(), kNoErr);
    ResetLiveBaseline();  // the shared constants live on
  }
  // The start-up set the C library's locale from the environment.
  void TearDown() override {
    setlocale(LC_ALL, "C");
    ManagerTest::TearDown();
  }
};

class SupportThreads : public Support {};

std::string VersText(uInt32 v) {
  uChar text[256];
  std::memset(text, 0xEE, sizeof text);
  VersToPStr(v, text);
  return Str(text);
}

// One step of the generator, as the recurrence gives it.
double Step(int32* s1, int32* s2, int32* s3) {
  *s1 = 171 * *s1 % 30269;
  *s2 = 172 * *s2 % 30307;
  *s3 = 170 * *s3 % 30323;
  double sum = *s1 / 30269.0 + *s2 / 30307.0 + *s3 / 30323.0;
  return sum - std::floor(sum);
}

std::string LStrText(LStrHandle h) { return std::string(reinterpret_cast<const char*>((*h)->str), size_t((*h)->cnt)); }

template <typename T, typename B>
B Bits(T v) {
  B b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

}  // namespace

TEST(VersionText, DigitsStagesAndBuilds) {
  EXPECT_EQ(VersText(0x02136012), "2.1.3b12");  // 2.1.3 beta 12
  EXPECT_EQ(VersText(0x02108000), "2.1");       // 2.1.0 release
  EXPECT_EQ(VersText(0x10228005), "10.2.2");    // release: the build is dropped
  EXPECT_EQ(VersText(0x03002003), "3.0d3");
  EXPECT_EQ(VersText(0x03004000), "3.0a");
  EXPECT_EQ(VersText(0x05018003), "5.0.1");
  EXPECT_EQ(VersText(0x01206010), "1.2b10");    // a zero units digit after a tens digit stays
  EXPECT_EQ(VersText(0x00000000), "0.0");       // an unknown stage drops the build
  EXPECT_EQ(VersText(0x99996099), "99.9.9b99");
  VersToPStr(0x01000000, nullptr);  // no output: nothing happens
}

TEST_F(Support, StartUpMakesTheSharedConstants) {
  const SupportConstants& c = SupportConsts();
  EXPECT_EQ(LStrText(c.cr), "\r");
  EXPECT_EQ(LStrText(c.lf), "\n");
  EXPECT_EQ(LStrText(c.crlf), "\r\n");
  EXPECT_EQ(LStrText(c.tab), "\t");
  EXPECT_EQ((*c.empty)->cnt, 0);
  EXPECT_TRUE(FIsEmptyPath(c.emptyPath));
  EXPECT_EQ(Type(c.notAPath), kNotAPath);
  EXPECT_EQ((Bits<float32, uInt32>(c.sglPosInf)), 0x7F800000u);
  EXPECT_EQ((Bits<float32, uInt32>(c.sglNegInf)), 0xFF800000u);
  EXPECT_EQ((Bits<float64, uInt64>(c.dblPosInf)), 0x7FF0000000000000ull);
  EXPECT_EQ((Bits<float64, uInt64>(c.dblNegInf)), 0xFFF0000000000000ull);
  EXPECT_EQ((Bits<float64, uInt64>(c.dblNaN)), ~0ull);
  EXPECT_EQ(SupportProcessNumber(), int32(getpid() % 10000));
  // A second start-up keeps the constants it made.
  LStrHandle cr = c.cr;
  ASSERT_EQ(SupportInit(), kNoErr);
  EXPECT_EQ(SupportConsts().cr, cr);
}

TEST_F(Support, TheSeedsComeFromTheMillisecondTick) {
  int32 s1, s2, s3;
  RandomGetSeeds(&s1, &s2, &s3);
  EXPECT_GE(s1, 1);
  EXPECT_LT(s1, 16384);
  EXPECT_EQ(s2, s1 * 8191 % 16384);
  EXPECT_EQ(s3, s2 * 8191 % 16384);
}

TEST_F(Support, NumbersKeepThePointWhateverTheLocale) {
  locale_t probe = newlocale(LC_ALL_MASK, "C.UTF-8", locale_t(0));
  if (probe == locale_t(0)) GTEST_SKIP() << "no C.UTF-8 locale here";
  freelocale(probe);
  setenv("LC_ALL", "C.UTF-8", 1);
  ASSERT_EQ(SupportInit(), kNoErr);
  std::string ctype = setlocale(LC_CTYPE, nullptr);
  std::string numeric = setlocale(LC_NUMERIC, nullptr);
  unsetenv("LC_ALL");
  setlocale(LC_ALL, "C");
  EXPECT_EQ(ctype, "C.UTF-8");
  EXPECT_EQ(numeric, "C");
}

TEST_F(Support, RandomNumbersFollowTheRecurrence) {
  RandomSetSeeds(1, 2, 3);
  int32 s1 = 1, s2 = 2, s3 = 3;
  for (int i = 0; i < 20; ++i) {
    double x = -1;
    RandomGen(&x);
    EXPECT_EQ(x, Step(&s1, &s2, &s3)) << i;
  }
  int32 g1, g2, g3;
  RandomGetSeeds(&g1, &g2, &g3);
  EXPECT_EQ(g1, s1);
  EXPECT_EQ(g2, s2);
  EXPECT_EQ(g3, s3);
  // Never below 0 nor 1 or more, over many steps from a start-up seed.
  RandomSetSeeds(1234, 1234 * 8191 % 16384, (1234 * 8191 % 16384) * 8191 % 16384);
  double lo = 1, hi = 0;
  for (int i = 0; i < Scaled(200000); ++i) {
    double x;
    RandomGen(&x);
    ASSERT_GE(x, 0.0);
    ASSERT_LT(x, 1.0);
    lo = std::min(lo, x);
    hi = std::max(hi, x);
  }
  EXPECT_LT(lo, 0.01);
  EXPECT_GT(hi, 0.99);
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(SupportThreads, ConcurrentDrawsStepTheSeedsOnceEach) {
  const int kThreads = 4, kCalls = Scaled(100000);
  RandomSetSeeds(11, 22, 33);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kCalls; ++i) {
        double x;
        RandomGen(&x);
        if (!(x >= 0 && x < 1)) ADD_FAILURE() << x;
      }
    });
  }
  for (auto& th : threads) th.join();
  int32 s1 = 11, s2 = 22, s3 = 33;
  for (int i = 0; i < kThreads * kCalls; ++i) Step(&s1, &s2, &s3);
  int32 g1, g2, g3;
  RandomGetSeeds(&g1, &g2, &g3);
  EXPECT_EQ(g1, s1);
  EXPECT_EQ(g2, s2);
  EXPECT_EQ(g3, s3);
}

// Starts the managers in a process of its own with the pool already full:
// the support start-up then fails with 2.
void StartWithFullMemory() {
  if (MemInit() != kNoErr) std::exit(10);
  MemPool* pool = PoolInitDefault();
  PoolSetCeiling(pool, PoolSize(pool));
  while (AZNewHandle(8)) {
  }
  while (DSNewHandle(8)) {
  }
  MgErr err = SupportInit();
  std::exit(err == kMemFullErr ? 0 : 1);
}

TEST(SupportStartUp, FailsWithTwoWhenAConstantCantBeMade) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartWithFullMemory(), ::testing::ExitedWithCode(0), "");
}

// ---- shortcuts

namespace {

// A fresh folder mapped as drive S, with shortcuts made as symbolic links.
class Shortcuts : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(PlatDriveMap('S', root_.c_str(), 1), 0); }
  void TearDown() override { PlatDriveMap('S', nullptr, 0); }
  std::string Host(const std::string& rel) const { return root_ + "/" + rel; }
  // Runs one resolver on a copy of text in a buffer of 264 bytes.
  static std::pair<bool, std::string> Run(Bool32 (*resolve)(CStr), const std::string& text) {
    char buf[264];
    std::memset(buf, 0, sizeof buf);
    std::memcpy(buf, text.c_str(), text.size() + 1);
    bool r = resolve(buf) != 0;
    return {r, buf};
  }
  TempFolder tmp_{"qxlnk"};
  std::string root_ = tmp_.Dir();
};

}  // namespace

TEST_F(Shortcuts, ALinkNamedLnkResolvesToItsTarget) {
  fs::create_directories(Host("real/sub"));
  std::ofstream(Host("file.lnk")) << "a plain file";
  fs::create_symlink(Host("real/sub"), Host("Folder.LNK"));
  fs::create_symlink("real", Host("rel.lnk"));
  fs::create_symlink(Host("real"), Host("nolnk"));
  EXPECT_EQ(Run(FResolveShortcut, "S:\\folder.lnk"), std::make_pair(true, std::string("S:\\real\\sub")));
  EXPECT_EQ(Run(FResolveShortcut, "S:\\rel.lnk"), std::make_pair(true, std::string("S:\\real")));
  // A plain ".lnk" file, a missing one, a link without the extension: unchanged.
  EXPECT_EQ(Run(FResolveShortcut, "S:\\file.lnk"), std::make_pair(false, std::string("S:\\file.lnk")));
  EXPECT_EQ(Run(FResolveShortcut, "S:\\gone.lnk"), std::make_pair(false, std::string("S:\\gone.lnk")));
  EXPECT_EQ(Run(FResolveShortcut, "S:\\nolnk"), std::make_pair(false, std::string("S:\\nolnk")));
  EXPECT_EQ(Run(FResolveShortcut, ".lnk"), std::make_pair(false, std::string(".lnk")));
  EXPECT_FALSE(FResolveShortcut(nullptr));
}

TEST_F(Shortcuts, LinksAlongAPathAreFollowed) {
  fs::create_directories(Host("a/target/deeper"));
  fs::create_directories(Host("b"));
  fs::create_symlink(Host("a/target"), Host("b/third.lnk"));
  fs::create_symlink(Host("a/target/deeper"), Host("a/target/next.lnk"));
  // The third component is a shortcut to a folder: the path continues below its target.
  EXPECT_EQ(Run(FResolveShortcutsInPath, "S:\\b\\third.lnk\\file.txt"),
            std::make_pair(true, std::string("S:\\a\\target\\file.txt")));
  // Shortcuts inside the target are followed too, and the whole path last.
  EXPECT_EQ(Run(FResolveShortcutsInPath, "S:\\b\\third.lnk\\next.lnk\\x"),
            std::make_pair(true, std::string("S:\\a\\target\\deeper\\x")));
  EXPECT_EQ(Run(FResolveShortcutsInPath, "S:\\b\\third.lnk"), std::make_pair(true, std::string("S:\\a\\target")));
  EXPECT_EQ(Run(FResolveShortcutsInPath, "S:\\b\\plain\\x"), std::make_pair(false, std::string("S:\\b\\plain\\x")));
  EXPECT_FALSE(FResolveShortcutsInPath(nullptr));
}

TEST_F(Shortcuts, AResultOf260CharactersOrMoreIsNotCopiedBack) {
  std::string longDir = "a/" + std::string(120, 'd') + "/" + std::string(120, 'e');
  fs::create_directories(Host(longDir));
  fs::create_symlink(Host(longDir), Host("l.lnk"));
  std::string target = "S:\\a\\" + std::string(120, 'd') + "\\" + std::string(120, 'e');
  ASSERT_LT(target.size(), 260u);
  std::string tail(259 - target.size(), 'x');
  // Just below 260 the result is copied; one more character and it isn't.
  EXPECT_EQ(Run(FResolveShortcutsInPath, "S:\\l.lnk\\" + tail.substr(1)),
            std::make_pair(true, target + "\\" + tail.substr(1)));
  EXPECT_EQ(Run(FResolveShortcutsInPath, "S:\\l.lnk\\" + tail),
            std::make_pair(false, "S:\\l.lnk\\" + tail));
}
