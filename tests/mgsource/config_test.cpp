#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mgsource/config.h"
#include "mgsource/config_internal.h"
#include "mgsource/counted_strings.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/sorting.h"
#include "path_test_util.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"
#include "platform/qx_inifile.h"
#include "temp_folder.h"
#include "test_support.h"

using namespace pathtest;
namespace fs = std::filesystem;

namespace {

// The font manager's part, played by a small table.
struct FontEntry {
  std::string name;
  int32 size, style, weight;
};
std::vector<FontEntry> gFonts;

int32 TableNewFont(ConstPStr name, int32 size, int32 style, int32 weight) {
  gFonts.push_back({Str(name), size, style, weight});
  return int32(gFonts.size()) - 1;
}
void TableFontInfo(int32 font, PStr name, int32* size, int32* style, int32* weight) {
  const FontEntry& f = gFonts.at(size_t(font));
  name[0] = uChar(f.name.size());
  std::memcpy(name + 1, f.name.data(), f.name.size());
  *size = f.size;
  *style = f.style;
  *weight = f.weight;
}

// Every test reads and writes a file of its own in a fresh folder, which is
// also mapped as drive K.
class Config : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    Choose({"prog", "-pref", file_});
    CfgSetSectionName("Quenlix");
    ASSERT_EQ(PlatDriveMap('K', root_.c_str(), kPlatDriveFixed), 0);
    gFonts.clear();
    CfgSetFontProcs(TableNewFont, TableFontInfo);
    // The configuration manager keeps the handle of the first long value it
    // reads for the next ones: it is made here, before the count.
    static bool primed = false;
    if (!primed) {
      Key("primer", std::string(400, 'p'));
      UHandle h = nullptr;
      ASSERT_EQ(Read(kCfgString, "primer", &h), kNoErr);
      AZDisposeHandle(h);
      std::remove(file_.c_str());
      primed = true;
    }
    ResetLiveBaseline();
  }
  void TearDown() override {
    CfgSetFontProcs(nullptr, nullptr);
    PlatIniSetFailHook(nullptr);
    CfgSetSectionName("Quenlix");
    PlatDriveMap('K', nullptr, 0);
    ManagerTest::TearDown();
  }
  static void Choose(const std::vector<std::string>& args) {
    std::vector<const char*> v;
    for (auto& a : args) v.push_back(a.c_str());
    CfgChooseFile(int32(v.size()), v.data());
  }
  void Put(const std::string& data) { std::ofstream(file_, std::ios::binary) << data; }
  std::string Get(const std::string& path = "") {
    std::ifstream in(path.empty() ? file_ : path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The file holding one key of the section.
  void Key(const std::string& key, const std::string& text) { Put("[Quenlix]\n" + key + "=" + text + "\n"); }

  template <typename T>
  MgErr Read(int32 kind, const char* key, T* value) {
    return CfgGetDefault(kind, PS(key), value);
  }
  template <typename T>
  MgErr Write(int32 kind, const char* key, const T& value) {
    return CfgWrite(kind, PS(key), &value);
  }
  TempFolder tmp_{"qxcf"};
  std::string root_ = tmp_.Dir(), file_ = root_ + "/prefs.ini";
};

UHandle PStrHandle(const std::string& s) {
  UHandle h = AZNewHandle(int32(s.size()) + 1);
  (*h)[0] = uChar(s.size());
  std::memcpy(*h + 1, s.data(), s.size());
  return h;
}

std::vector<std::string> Strings(CPStrHandle h) {
  std::vector<std::string> v;
  const uChar* p = reinterpret_cast<const uChar*>(*h) + 4;
  for (int32 i = 0; i < (*h)->cnt; ++i) {
    v.push_back(Str(p));
    p += 1 + p[0];
  }
  return v;
}

std::vector<std::string> PathTexts(UHandle list) {
  std::vector<std::string> v;
  int32 n;
  std::memcpy(&n, *list, 4);
  for (int32 i = 0; i < n; ++i) {
    int32 word;
    std::memcpy(&word, *list + 4 + 4 * i, 4);
    v.push_back(Text(reinterpret_cast<Path>(intptr_t(word))));
  }
  return v;
}

void DisposePathList(UHandle list) {
  for (int32 n; std::memcpy(&n, *list, 4), n > 0;)
    FDisposePath(reinterpret_cast<Path>(intptr_t(HObjListDelete(list, n - 1))));
  AZDisposeHandle(list);
}

}  // namespace

// ---- choosing the file

TEST_F(Config, TheLastPrefWithANameWins) {
  Choose({"prog", "-pref", root_ + "/a.ini", "doc.vi", "-pref", root_ + "/b.ini"});
  EXPECT_EQ(CfgFileText(), root_ + "/b.ini");
  int32 on = 1;
  ASSERT_EQ(Write(kCfgBool, "flag", on), kNoErr);
  EXPECT_EQ(Get(root_ + "/b.ini"), "[Quenlix]\nflag=True\n");
  EXPECT_FALSE(fs::exists(root_ + "/a.ini"));

  Choose({"prog", "-pref", root_ + "/a.ini", "-pref"});  // a trailing "-pref" is ignored
  EXPECT_EQ(CfgFileText(), root_ + "/a.ini");
  Choose({"prog", "-PREF", root_ + "/c.ini"});  // case counts
  std::string program;
  ASSERT_TRUE(PlatProgramFile(&program));
  EXPECT_EQ(CfgFileText(), program + ".ini");  // a Linux program name has no extension
  Choose({});
  EXPECT_EQ(CfgFileText(), program + ".ini");
  // A name longer than 260 characters is passed over.
  Choose({"prog", "-pref", root_ + "/a.ini", "-pref", "/" + std::string(260, 'x')});
  EXPECT_EQ(CfgFileText(), root_ + "/a.ini");
  Choose({"prog", "-pref", "/" + std::string(259, 'x')});
  EXPECT_EQ(CfgFileText(), "/" + std::string(259, 'x'));
}

TEST_F(Config, TheSectionIsTheApplicationsName) {
  Put("[Quenlix]\nk=1\n[MyApp]\nk=2\n");
  int32 v = 0;
  EXPECT_EQ(Read(kCfgInt, "k", &v), kNoErr);
  EXPECT_EQ(v, 1);
  CfgSetSectionName("myapp");
  EXPECT_EQ(Read(kCfgInt, "k", &v), kNoErr);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(Write(kCfgInt, "j", int32(3)), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nk=1\n[MyApp]\nk=2\nj=3\n");
}

// ---- reading and writing each kind

TEST_F(Config, AbsentEmptyAndBadKinds) {
  int32 v = 77;
  EXPECT_EQ(Read(kCfgInt, "none", &v), kCfgTokenNotFoundErr);
  Key("empty", "");
  EXPECT_EQ(Read(kCfgInt, "empty", &v), kCfgTokenNotFoundErr);
  Key("blank", "   ");
  EXPECT_EQ(Read(kCfgBool, "blank", &v), kCfgTokenNotFoundErr);
  EXPECT_EQ(v, 77);
  Key("k", "1");
  EXPECT_EQ(Read(12, "k", &v), kCfgBadTypeErr);
  EXPECT_EQ(Read(-1, "k", &v), kCfgBadTypeErr);
  EXPECT_EQ(Write(12, "k", v), kCfgBadTypeErr);
  EXPECT_EQ(CfgGetDefault(kCfgInt, nullptr, &v), kArgErr);
  EXPECT_EQ(CfgGetDefault(kCfgInt, PS("k"), nullptr), kArgErr);
  EXPECT_EQ(v, 77);
  EXPECT_EQ(Get(), "[Quenlix]\nk=1\n");
}

TEST_F(Config, MatchingQuotesAroundAValueAreDropped) {
  UHandle h = nullptr;
  Key("s", "'single'");
  ASSERT_EQ(Read(kCfgString, "s", &h), kNoErr);
  EXPECT_EQ(Str(*h), "single");
  Key("s", "\"mixed'");
  ASSERT_EQ(Read(kCfgString, "s", &h), kNoErr);
  EXPECT_EQ(Str(*h), "\"mixed'");
  Key("s", "\"");
  ASSERT_EQ(Read(kCfgString, "s", &h), kNoErr);
  EXPECT_EQ(Str(*h), "\"");
  Key("s", "\"\"");
  ASSERT_EQ(Read(kCfgString, "s", &h), kNoErr);
  EXPECT_EQ(Str(*h), "");
  AZDisposeHandle(h);
}

TEST_F(Config, Colours) {
  uInt32 c = 5;
  Key("c", "Transparent");
  ASSERT_EQ(Read(kCfgColor, "c", &c), kNoErr);
  EXPECT_EQ(c, 0x1000000u);
  Key("c", "TRANSPARENTly");  // the 11 letters at the start are enough
  c = 5;
  ASSERT_EQ(Read(kCfgColor, "c", &c), kNoErr);
  EXPECT_EQ(c, 0x1000000u);
  Key("c", "ff0000");  // digits of either case
  ASSERT_EQ(Read(kCfgColor, "c", &c), kNoErr);
  EXPECT_EQ(c, 0xFF0000u);
  for (const char* bad : {"zz", "ff00zz", "-1", "transp"}) {
    Key("c", bad);
    c = 5;
    EXPECT_EQ(Read(kCfgColor, "c", &c), kCfgParseErr) << bad;
    EXPECT_EQ(c, 5u);
  }
  EXPECT_EQ(Write(kCfgColor, "c", uInt32(0x1000000)), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nc=transparent\n");
  EXPECT_EQ(Write(kCfgColor, "c", uInt32(0x0A0B0C)), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nc=0A0B0C\n");  // the printf dialect's digits
  EXPECT_EQ(Write(kCfgColor, "c", uInt32(0x7ABCDEF)), kNoErr);  // the low 24 bits
  EXPECT_EQ(Get(), "[Quenlix]\nc=ABCDEF\n");
  ASSERT_EQ(Read(kCfgColor, "c", &c), kNoErr);
  EXPECT_EQ(c, 0xABCDEFu);
}

TEST_F(Config, FourIntegers) {
  int16 r[4] = {10, -20, 30, 32767};
  ASSERT_EQ(CfgWrite(kCfgFourInts, PS("r"), r), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nr=10,-20,30,32767\n");
  int16 back[4] = {};
  ASSERT_EQ(Read(kCfgFourInts, "r", back), kNoErr);
  EXPECT_EQ(std::memcmp(r, back, sizeof r), 0);
  // Out of range saturates, as the number parsers do, without an error.
  Key("r", "40000,0,0,-99999");
  ASSERT_EQ(Read(kCfgFourInts, "r", back), kNoErr);
  EXPECT_EQ(back[0], 32767);
  EXPECT_EQ(back[1], 0);
  EXPECT_EQ(back[3], -32768);
  Key("r", "1 2 3 4");  // any one character separates
  ASSERT_EQ(Read(kCfgFourInts, "r", back), kNoErr);
  EXPECT_EQ(back[3], 4);
  for (const char* bad : {"1,2,3", "1,,2,3", "a,1,2,3", "1,2,3,4,5"}) {
    Key("r", bad);
    int16 keep[4] = {9, 9, 9, 9};
    EXPECT_EQ(Read(kCfgFourInts, "r", keep), kCfgParseErr) << bad;
    EXPECT_EQ(keep[0], 9);
    EXPECT_EQ(keep[3], 9);
  }
}

TEST_F(Config, Strings) {
  UHandle h = PStrHandle("hello, world");
  ASSERT_EQ(Write(kCfgString, "s", h), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\ns=\"hello, world\"\n");
  UHandle back = PStrHandle("old");
  ASSERT_EQ(Read(kCfgString, "s", &back), kNoErr);
  EXPECT_EQ(Str(*back), "hello, world");
  EXPECT_EQ(AZGetHandleSize(back), 13);
  // At most 255 characters are kept.
  Key("s", std::string(400, 'q'));
  ASSERT_EQ(Read(kCfgString, "s", &back), kNoErr);
  EXPECT_EQ(Str(*back), std::string(255, 'q'));
  UHandle fresh = nullptr;  // a null variable gets a handle
  ASSERT_EQ(Read(kCfgString, "s", &fresh), kNoErr);
  EXPECT_EQ((*fresh)[0], 255);
  // A text with a line break can't be written.
  AZSetHandleSize(h, 4);
  std::memcpy(*h, "\x03" "a\nb", 4);
  EXPECT_EQ(Write(kCfgString, "s", h), kArgErr);
  EXPECT_EQ(Write(kCfgString, "s", UHandle(nullptr)), kArgErr);
  AZDisposeHandle(h);
  AZDisposeHandle(back);
  AZDisposeHandle(fresh);
}

TEST_F(Config, Booleans) {
  int32 b = 7;
  for (auto [text, want] : std::vector<std::pair<const char*, int32>>{
           {"YES", 1}, {"true", 1}, {"On", 1}, {"no", 0}, {"FALSE", 0}, {"off", 0}}) {
    Key("b", text);
    b = 7;
    ASSERT_EQ(Read(kCfgBool, "b", &b), kNoErr) << text;
    EXPECT_EQ(b, want) << text;
  }
  for (const char* bad : {"maybe", "1", "yess", "tru"}) {
    Key("b", bad);
    b = 7;
    EXPECT_EQ(Read(kCfgBool, "b", &b), kCfgParseErr) << bad;
    EXPECT_EQ(b, 7);
  }
  EXPECT_EQ(Write(kCfgBool, "b", int32(5)), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nb=True\n");
  EXPECT_EQ(Write(kCfgBool, "b", int32(0)), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nb=False\n");
}

TEST_F(Config, IntegersAndNumbers) {
  int32 i = 0;
  EXPECT_EQ(Write(kCfgInt, "i", int32(-2147483647 - 1)), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\ni=-2147483648\n");
  ASSERT_EQ(Read(kCfgInt, "i", &i), kNoErr);
  EXPECT_EQ(i, -2147483647 - 1);
  Key("i", "99999999999");
  ASSERT_EQ(Read(kCfgInt, "i", &i), kNoErr);
  EXPECT_EQ(i, 2147483647);
  for (const char* bad : {"12abc", "abc", "1.5"}) {
    Key("i", bad);
    i = 3;
    EXPECT_EQ(Read(kCfgInt, "i", &i), kCfgParseErr) << bad;
    EXPECT_EQ(i, 3);
  }
  float32 f = 0;
  Put("");
  EXPECT_EQ(Write(kCfgNumber, "f", float32(1.5f)), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nf=1.500000\n");
  ASSERT_EQ(Read(kCfgNumber, "f", &f), kNoErr);
  EXPECT_EQ(f, 1.5f);
  Key("f", "-2.25e3");
  ASSERT_EQ(Read(kCfgNumber, "f", &f), kNoErr);
  EXPECT_EQ(f, -2250.0f);
  Key("f", "abc");
  f = 4;
  EXPECT_EQ(Read(kCfgNumber, "f", &f), kCfgParseErr);
  EXPECT_EQ(f, 4.0f);
}

TEST_F(Config, Paths) {
  Owned p(ToPath("C:\\dir\\file.txt"));
  ASSERT_EQ(Write(kCfgPath, "p", p.p), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\np=C:\\dir\\file.txt\n");
  Owned back;
  ASSERT_EQ(Read(kCfgPath, "p", &back.p), kNoErr);
  EXPECT_EQ(FPathCmp(p, back), 0);
  Owned reused(ToPath("D:\\other"));
  Path before = reused.p;
  ASSERT_EQ(Read(kCfgPath, "p", &reused.p), kNoErr);
  EXPECT_EQ(reused.p, before);  // the caller's handle is resized in place
  EXPECT_EQ(Text(reused), "C:\\dir\\file.txt");
  Key("p", "\"C:\\with space\\x\"");
  ASSERT_EQ(Read(kCfgPath, "p", &reused.p), kNoErr);
  EXPECT_EQ(Text(reused), "C:\\with space\\x");
}

TEST_F(Config, PathListsAppend) {
  UHandle list = AZNewHClr(4);
  Path a = ToPath("C:\\a"), b = ToPath("C:\\b c");
  ASSERT_EQ(HObjListInsert(list, int32(intptr_t(a)), 0), kNoErr);
  ASSERT_EQ(HObjListInsert(list, int32(intptr_t(b)), 1), kNoErr);
  ASSERT_EQ(Write(kCfgPathList, "l", list), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nl=\"C:\\a;C:\\b c\"\n");
  ASSERT_EQ(Read(kCfgPathList, "l", &list), kNoErr);
  EXPECT_EQ(PathTexts(list), (std::vector<std::string>{"C:\\a", "C:\\b c", "C:\\a", "C:\\b c"}));
  // Runs of ";" and spaces between the texts are skipped.
  Key("l", " ;; C:\\x ; ;C:\\y;");
  UHandle fresh = nullptr;
  ASSERT_EQ(Read(kCfgPathList, "l", &fresh), kNoErr);
  EXPECT_EQ(PathTexts(fresh), (std::vector<std::string>{"C:\\x", "C:\\y"}));
  UHandle empty = AZNewHClr(4);
  Put("");
  ASSERT_EQ(Write(kCfgPathList, "l", empty), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nl=\"\"\n");
  DisposePathList(list);
  DisposePathList(fresh);
  AZDisposeHandle(empty);
}

TEST_F(Config, Fonts) {
  int32 font = -1;
  Key("f", "\"Sans\" 12 BI");
  ASSERT_EQ(Read(kCfgFont, "f", &font), kNoErr);
  ASSERT_EQ(font, 0);
  EXPECT_EQ(gFonts[0].name, "Sans");
  EXPECT_EQ(gFonts[0].size, 12);
  EXPECT_EQ(gFonts[0].weight, 1000);
  EXPECT_EQ(gFonts[0].style, 2);
  Key("f", "\"Serif Bold\"   70000 xSUO?");
  ASSERT_EQ(Read(kCfgFont, "f", &font), kNoErr);
  EXPECT_EQ(gFonts[1].name, "Serif Bold");
  EXPECT_EQ(gFonts[1].size, 65535);  // the size saturates, no error
  EXPECT_EQ(gFonts[1].style, 1 | 4 | 8);
  EXPECT_EQ(gFonts[1].weight, 0);
  for (const char* bad : {"Sans 12", "\"Sans 12 B", "\"Sans\" B", "\"Sans\""}) {
    Key("f", bad);
    font = 9;
    EXPECT_EQ(Read(kCfgFont, "f", &font), kCfgParseErr) << bad;
    EXPECT_EQ(font, 9);
  }
  EXPECT_EQ(gFonts.size(), 2u);
  // Written: the quoted name, the size, a space, then B, I, S, U, O.
  gFonts.push_back({"Mono", 9, 1 | 2 | 4 | 8, 700});
  ASSERT_EQ(Write(kCfgFont, "f", int32(2)), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nf=\"Mono\" 9 BISUO\n");
  gFonts.push_back({"Plain", 10, 0, 0});
  ASSERT_EQ(Write(kCfgFont, "f", int32(3)), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nf=\"Plain\" 10 \n");
  ASSERT_EQ(Read(kCfgFont, "f", &font), kNoErr);
  EXPECT_EQ(gFonts.back().name, "Plain");
  EXPECT_EQ(gFonts.back().size, 10);
  // Without a font manager a font neither reads nor writes.
  CfgSetFontProcs(nullptr, nullptr);
  font = 9;
  EXPECT_EQ(Read(kCfgFont, "f", &font), kCapabilityErr);
  EXPECT_EQ(font, 9);
  EXPECT_EQ(Write(kCfgFont, "f", int32(0)), kCapabilityErr);
}

TEST_F(Config, StringLists) {
  CPStrHandle list = nullptr;
  Key("l", "\"+*;+host.example;;-bad\"");
  ASSERT_EQ(Read(kCfgStringList, "l", &list), kNoErr);
  EXPECT_EQ(Strings(list), (std::vector<std::string>{"+*", "+host.example", "", "-bad"}));
  ASSERT_EQ(Write(kCfgStringList, "m", list), kNoErr);
  EXPECT_EQ(Get(), "[Quenlix]\nl=\"+*;+host.example;;-bad\"\nm=\"+*;+host.example;;-bad\"\n");
  CPStrHandle back = nullptr;
  ASSERT_EQ(Read(kCfgStringList, "m", &back), kNoErr);
  EXPECT_TRUE(CPStrEqual(list, back));
  // Each string keeps at most 255 characters; reading replaces the list.
  Key("l", std::string(300, 'a') + ";b");
  ASSERT_EQ(Read(kCfgStringList, "l", &list), kNoErr);
  EXPECT_EQ(Strings(list), (std::vector<std::string>{std::string(255, 'a'), "b"}));
  Key("l", "\"\"");
  ASSERT_EQ(Read(kCfgStringList, "l", &list), kNoErr);
  EXPECT_EQ((*list)->cnt, 0);
  EXPECT_EQ(AZGetHandleSize(reinterpret_cast<UHandle>(list)), 4);
  AZDisposeHandle(reinterpret_cast<UHandle>(list));
  AZDisposeHandle(reinterpret_cast<UHandle>(back));
}

TEST_F(Config, LongValuesReadInFull) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += (i ? ";" : "") + std::string("w") + std::to_string(i % 10) + "xy";
  text += "z";
  ASSERT_EQ(text.size(), 5000u);
  Key("long", text);
  CPStrHandle list = nullptr;
  ASSERT_EQ(Read(kCfgStringList, "long", &list), kNoErr);
  EXPECT_EQ((*list)->cnt, 1000);
  EXPECT_EQ(Strings(list).back(), "w9xyz");
  // Values just below and at the size of the first buffer.
  for (size_t n : {298u, 299u, 300u, 1023u, 1024u, 2049u}) {
    Key("s", "\"" + std::string(n, 'z') + "\"");
    ASSERT_EQ(Read(kCfgStringList, "s", &list), kNoErr) << n;
    EXPECT_EQ(Strings(list)[0].size(), n > 255 ? 255u : n);
  }
  AZDisposeHandle(reinterpret_cast<UHandle>(list));
}

// Reads a short and a long value in a process in which the memory manager
// never started; exits with 0 when the short one read and the long one gave 22.
void ReadWithoutMemory() {
  std::string dir = fs::temp_directory_path().string() + "/qxcbmXXXXXX";
  if (!mkdtemp(dir.data())) std::exit(10);
  std::string file = dir + "/p.ini";
  std::ofstream(file) << "[Quenlix]\nshort=12\nlong=" << std::string(299, '1') << "\n";
  const char* args[] = {"p", "-pref", file.c_str()};
  CfgChooseFile(3, args);
  int32 v = 5;
  MgErr shortErr = CfgGetDefault(kCfgInt, PS("short"), &v);
  int32 w = 5;
  MgErr longErr = CfgGetDefault(kCfgInt, PS("long"), &w);
  fs::remove_all(dir);
  std::exit(shortErr == kNoErr && v == 12 && longErr == kCfgAllocErr && w == 5 ? 0 : 1);
}

TEST(ConfigBeforeMemory, LongValuesNeedTheMemoryManager) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a process of its own
  EXPECT_EXIT(ReadWithoutMemory(), ::testing::ExitedWithCode(0), "");
}

// ---- writing and removing

TEST_F(Config, RemovingDeletesOnlyItsKey) {
  std::string before = "; settings\r\n[Other]\r\nk=0\r\n[Quenlix]\r\na = 1\r\nk = 2\r\nz=3\r\n";
  Put(before);
  EXPECT_EQ(CfgRemove(kCfgInt, PS("K")), kNoErr);
  EXPECT_EQ(Get(), "; settings\r\n[Other]\r\nk=0\r\n[Quenlix]\r\na = 1\r\nz=3\r\n");
  EXPECT_EQ(CfgRemove(kCfgInt, PS("k")), kNoErr);  // nothing left to remove
  EXPECT_EQ(Write(kCfgInt, "a", int32(5)), kNoErr);
  EXPECT_EQ(Get(), "; settings\r\n[Other]\r\nk=0\r\n[Quenlix]\r\na = 5\r\nz=3\r\n");
}

TEST_F(Config, AFailedWriteLeavesTheFileAndSaysWhy) {
  Key("k", "1");
  PlatIniSetFailHook([](const char*) { return EACCES; });
  EXPECT_EQ(Write(kCfgInt, "k", int32(2)), kFilePermErr);
  EXPECT_EQ(CfgRemove(kCfgInt, PS("k")), kFilePermErr);
  PlatIniSetFailHook([](const char*) { return EIO; });
  EXPECT_EQ(Write(kCfgInt, "k", int32(2)), kFileIOErr);
  PlatIniSetFailHook(nullptr);
  EXPECT_EQ(Get(), "[Quenlix]\nk=1\n");
  Choose({"prog", "-pref", root_ + "/missing/folder/x.ini"});
  EXPECT_EQ(Write(kCfgInt, "k", int32(2)), kFileIOErr);
  EXPECT_EQ(Write(kCfgInt, "bad=key", int32(1)), kArgErr);
}

TEST_F(Config, WritesThroughASymbolicLinkChangeItsTarget) {
  fs::create_directory(root_ + "/real");
  std::ofstream(root_ + "/real/t.ini") << "[Quenlix]\nk=1\n";
  fs::create_symlink("real/t.ini", file_);
  EXPECT_EQ(Write(kCfgInt, "k", int32(2)), kNoErr);
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_EQ(Get(root_ + "/real/t.ini"), "[Quenlix]\nk=2\n");
  int32 v = 0;
  ASSERT_EQ(Read(kCfgInt, "k", &v), kNoErr);
  EXPECT_EQ(v, 2);
}

// ---- the path key with a folder as default

TEST_F(Config, PathKeysWithAFolderDefault) {
  fs::create_directory(root_ + "/keydir");
  fs::create_directory(root_ + "/defdir");
  std::ofstream(root_ + "/file") << "x";
  Owned def(ToPath("K:\\defdir"));
  Owned notDir(ToPath("K:\\file"));

  Key("p", "K:\\keydir");
  Path got = nullptr;
  ASSERT_EQ(CfgGetPathDefault(PS("p"), &got, def), kNoErr);
  EXPECT_EQ(Text(got), "K:\\keydir");
  FDisposePath(got);

  for (const char* text : {"K:\\file", "K:\\gone"}) {  // names no folder: the default
    Key("p", text);
    got = nullptr;
    ASSERT_EQ(CfgGetPathDefault(PS("p"), &got, def), kNoErr) << text;
    EXPECT_EQ(Text(got), "K:\\defdir");
    EXPECT_NE(got, def.p);  // a copy
    FDisposePath(got);
  }
  Put("");
  got = nullptr;
  ASSERT_EQ(CfgGetPathDefault(PS("p"), &got, def), kNoErr);
  EXPECT_EQ(Text(got), "K:\\defdir");
  FDisposePath(got);

  // Neither is a folder: the key's error, or 7 when the key itself read.
  got = nullptr;
  EXPECT_EQ(CfgGetPathDefault(PS("p"), &got, notDir), kCfgTokenNotFoundErr);
  EXPECT_EQ(got, nullptr);
  Key("p", "K:\\gone");
  EXPECT_EQ(CfgGetPathDefault(PS("p"), &got, notDir), kFileNotFoundErr);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(CfgGetPathDefault(PS("p"), &got, nullptr), kFileNotFoundErr);
  EXPECT_EQ(got, nullptr);
}

// ---- the key names

TEST(ConfigKeys, TheTableHoldsEveryNameInOrder) {
  EXPECT_EQ(kCfgKeyCount, 208);
  EXPECT_STREQ(CfgKeyTableName(1), "tmpdir");
  EXPECT_STREQ(CfgKeyTableName(23), "QXdebugKeys");
  EXPECT_STREQ(CfgKeyTableName(90), "useLocaleDecimalPt");
  EXPECT_STREQ(CfgKeyTableName(141), "ESys.StdNParallel");
  EXPECT_STREQ(CfgKeyTableName(166), "ESys.other2.TCritical");
  EXPECT_STREQ(CfgKeyTableName(181), "server.tcp.port");
  EXPECT_STREQ(CfgKeyTableName(193), "syncVisa");
  EXPECT_STREQ(CfgKeyTableName(194), "cleanupVisa");
  EXPECT_STREQ(CfgKeyTableName(208), "activeX.freeThreaded");
  for (int32 reserved : {45, 84, 132, 133}) EXPECT_STREQ(CfgKeyTableName(reserved), "") << reserved;
  EXPECT_STREQ(CfgKeyTableName(0), "");
  EXPECT_STREQ(CfgKeyTableName(209), "");
  // Every other name is unique and fits a line of the file.
  std::vector<std::string> seen;
  for (int32 i = 1; i <= kCfgKeyCount; ++i) {
    std::string n = CfgKeyTableName(i);
    if (n.empty()) continue;
    EXPECT_EQ(n.find_first_of("=[]; \t"), std::string::npos) << n;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), n), 0) << n;
    seen.push_back(n);
  }
  EXPECT_EQ(seen.size(), 204u);
  EXPECT_STREQ(kCfgKeyListName, "ConfigTokenStrings");
}

// ---- the trailer

TEST_F(Config, TrailerBytes) {
  uChar t[24] = {'A', 'P', 'P', 'B', 3, 0, 0, 0, 0, 0xC0, 0x5D, 0, 1, 0, 0, 0, 0x10, 0, 0, 0};
  EXPECT_EQ(AppTrailerCheck(t, 20), kNoErr);
  EXPECT_TRUE(AppTrailerIsBuilt(t, 20));
  for (int32 n : {0, 4, 19, 21, 24}) {
    EXPECT_NE(AppTrailerCheck(t, n), kNoErr) << n;
    EXPECT_FALSE(AppTrailerIsBuilt(t, n)) << n;
  }
  EXPECT_NE(AppTrailerCheck(nullptr, 20), kNoErr);
  t[12] = 0;  // valid, but not built
  EXPECT_EQ(AppTrailerCheck(t, 20), kNoErr);
  EXPECT_FALSE(AppTrailerIsBuilt(t, 20));
  t[4] = 2;
  EXPECT_NE(AppTrailerCheck(t, 20), kNoErr);
  t[4] = 3;
  t[7] = 1;  // the whole word is the version
  EXPECT_NE(AppTrailerCheck(t, 20), kNoErr);
  t[7] = 0;
  t[0] = 'a';
  EXPECT_NE(AppTrailerCheck(t, 20), kNoErr);
}

TEST_F(Config, TheTestProgramHasNoTrailer) {
  Capture cap;
  uChar t[20];
  EXPECT_EQ(ReadAppTrailer(t), kArgErr);
  EXPECT_FALSE(IsBuiltApp());
  EXPECT_FALSE(IsBuiltApp());
  std::string program;
  ASSERT_TRUE(PlatProgramFile(&program));
  EXPECT_NE(cap.Debug().find(program + " is my appfiles name"), std::string::npos) << cap.Debug();
}

// ---- hostile files and values

namespace {

// Runs call on a thread of its own; when it hasn't returned after twenty
// seconds (it waits on a pipe nobody writes; a loaded machine may take a
// while over a call that does not), a writer opened on fifo lets it go, and
// the test fails instead of hanging.
void WithoutBlocking(const std::string& fifo, const std::function<void()>& call) {
  std::atomic<bool> done{false};
  std::thread t([&] {
    call();
    done = true;
  });
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  bool blocked = !done;
  while (!done) {
    int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  t.join();
  EXPECT_FALSE(blocked) << "the call waited on " << fifo;
}

}  // namespace

TEST_F(Config, AFileThatIsNotARegularFileNeverBlocks) {
  std::string fifo = root_ + "/pipe.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(root_ + "/folder.ini");
  for (const std::string& name : {fifo, root_ + "/folder.ini", std::string("/dev/null")}) {
    SCOPED_TRACE(name);
    Choose({"prog", "-pref", name});
    int32 v = 7;
    MgErr readErr = -1, writeErr = -1, removeErr = -1;
    WithoutBlocking(fifo, [&] { readErr = Read(kCfgInt, "k", &v); });
    WithoutBlocking(fifo, [&] { writeErr = Write(kCfgInt, "k", int32(1)); });
    WithoutBlocking(fifo, [&] { removeErr = CfgRemove(kCfgInt, PS("k")); });
    EXPECT_EQ(readErr, kCfgTokenNotFoundErr);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(writeErr, kFileIOErr);
    EXPECT_EQ(removeErr, kFileIOErr);
  }
  struct stat st;
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_TRUE(fs::is_directory(root_ + "/folder.ini"));
}

TEST_F(Config, ValuesHoldingANulAreRefusedAndTheFileKept) {
  const std::string before = "; mine\r\n[Quenlix]\r\ns=\"old\"\r\np=C:\\x\r\n";
  Put(before);
  UHandle s = PStrHandle(std::string("a\0b", 3));
  EXPECT_EQ(Write(kCfgString, "s", s), kArgErr);
  EXPECT_EQ(Write(kCfgString, "new", s), kArgErr);
  AZDisposeHandle(s);
  Owned p(FEmptyPath(nullptr));
  ASSERT_EQ(FAppendName(p, PS("C")), kNoErr);
  ASSERT_EQ(FAppendName(p, PS(std::string("a\0b", 3))), kNoErr);
  EXPECT_EQ(Write(kCfgPath, "p", p.p), kArgErr);
  UHandle list = AZNewHClr(4);
  ASSERT_EQ(HObjListInsert(list, int32(reinterpret_cast<intptr_t>(p.p)), 0), kNoErr);
  EXPECT_EQ(Write(kCfgPathList, "l", list), kArgErr);
  AZDisposeHandle(list);
  CPStrHandle strs = reinterpret_cast<CPStrHandle>(AZNewHandle(4 + 4));
  (*strs)->cnt = 1;
  std::memcpy(reinterpret_cast<uChar*>(*strs) + 4, "\x03" "x\0y", 4);
  EXPECT_EQ(Write(kCfgStringList, "t", strs), kArgErr);
  AZDisposeHandle(reinterpret_cast<UHandle>(strs));
  // A key name holding a NUL would name a shorter key: refused for reading,
  // writing and removing alike.
  int32 v = 5;
  EXPECT_EQ(CfgGetDefault(kCfgInt, PS(std::string("s\0z", 3)), &v), kArgErr);
  EXPECT_EQ(CfgWrite(kCfgInt, PS(std::string("s\0z", 3)), &v), kArgErr);
  EXPECT_EQ(CfgRemove(kCfgInt, PS(std::string("s\0z", 3))), kArgErr);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(Get(), before);
  // Without the NUL the same values are stored.
  UHandle ok = PStrHandle("ab");
  EXPECT_EQ(Write(kCfgString, "s", ok), kNoErr);
  AZDisposeHandle(ok);
  EXPECT_EQ(Get(), "; mine\r\n[Quenlix]\r\ns=\"ab\"\r\np=C:\\x\r\n");
}

TEST_F(Config, WordsAndNamesIgnoreCaseOfTheCodePage) {
  Put("[QUENLIX]\nFLAG=YeS\nc=TRANSPARENTly\n\xC4k=1\n");
  int32 b = 0;
  ASSERT_EQ(Read(kCfgBool, "flag", &b), kNoErr);
  EXPECT_EQ(b, 1);
  uInt32 c = 0;
  ASSERT_EQ(Read(kCfgColor, "C", &c), kNoErr);
  EXPECT_EQ(c, 0x1000000u);
  int32 n = 0;
  ASSERT_EQ(Read(kCfgInt, "\xE4K", &n), kNoErr);  // a-umlaut matches A-umlaut
  EXPECT_EQ(n, 1);
  EXPECT_EQ(Read(kCfgInt, "ak", &n), kCfgTokenNotFoundErr);
}

// One thread asks for the default permissions while another creates
// configuration files: the mask stays the process's, and every file gets
// the mode that mask gives.
TEST_F(Config, ConcurrentMaskReadersLeaveTheMaskAndNewFilesAlone) {
  mode_t saved = umask(027);
  ASSERT_EQ(PlatGetUmask(), 027u);
  std::atomic<bool> stop{false};
  std::atomic<int> wrongPerm{0};
  std::thread reader([&] {
    while (!stop) {
      if (FGetDefPerm(0777) != 0750) ++wrongPerm;
    }
  });
  int rounds = Scaled(1000), wrongMode = 0, failed = 0;
  for (int i = 0; i < rounds; ++i) {
    std::string name = root_ + "/m" + std::to_string(i) + ".ini";
    Choose({"prog", "-pref", name});
    if (Write(kCfgInt, "k", int32(i)) != kNoErr) ++failed;
    struct stat st;
    if (stat(name.c_str(), &st) != 0 || (st.st_mode & 07777) != 0640) ++wrongMode;
    unlink(name.c_str());
  }
  stop = true;
  reader.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(wrongMode, 0);
  EXPECT_EQ(wrongPerm.load(), 0);
  EXPECT_EQ(PlatGetUmask(), 027u);
  EXPECT_EQ(umask(saved), 027u);
}
