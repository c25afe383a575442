#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "path_test_util.h"
#include "platform/qx_drives.h"
#include "test_support.h"

using namespace pathtest;

namespace {

class PathText : public ManagerTest {};
class PathOps : public ManagerTest {};
class PathFlat : public ManagerTest {};

using V = std::vector<std::string>;

}  // namespace

// ------------------------------------------------------------------ text

TEST_F(PathText, ExamplesAndTheirTexts) {
  Owned a(ToPath("C:\\dir\\file.txt"));
  EXPECT_EQ(Type(a), kAbsPath);
  EXPECT_EQ(Comps(a), (V{"C", "dir", "file.txt"}));
  EXPECT_EQ(Text(a), "C:\\dir\\file.txt");

  Owned c1(ToPath("C:")), c2(ToPath("C:\\"));
  EXPECT_EQ(Comps(c1), V{"C"});
  EXPECT_EQ(Comps(c2), V{"C"});
  EXPECT_EQ(Type(c2), kAbsPath);
  EXPECT_EQ(Text(c1), "C:\\");

  Owned n(ToPath("\\\\srv\\share\\a"));
  EXPECT_EQ(Type(n), kNetworkPath);
  EXPECT_EQ(Comps(n), (V{"\\\\srv\\share", "a"}));
  EXPECT_EQ(Text(n), "\\\\srv\\share\\a");

  Owned r(ToPath("a\\..\\..\\b"));
  EXPECT_EQ(Type(r), kRelPath);
  EXPECT_EQ(Comps(r), (V{"", "b"}));
  EXPECT_EQ(Text(r), "..\\b");

  Owned d(ToPath("C:\\a\\.\\b\\..\\c"));
  EXPECT_EQ(Comps(d), (V{"C", "a", "c"}));

  Owned s(ToPath("a/b"));
  EXPECT_EQ(Type(s), kRelPath);
  EXPECT_EQ(Comps(s), V{"a/b"});
}

TEST_F(PathText, EmptyTextsAndOddSeparators) {
  Owned e(ToPath(""));
  EXPECT_TRUE(FIsAPathOfType(e, kAbsPath));
  EXPECT_TRUE(FIsEmptyPath(e));
  EXPECT_EQ(Text(e), "");

  Owned dot(ToPath("."));
  EXPECT_EQ(Type(dot), kRelPath);
  EXPECT_EQ(FDepth(dot), 0);
  EXPECT_EQ(Text(dot), ".");

  // Runs of backslashes separate once; colons after the drive are skipped.
  Owned m(ToPath("C:::\\\\a\\\\\\b\\"));
  EXPECT_EQ(Comps(m), (V{"C", "a", "b"}));
  // A colon inside a later component stays in it.
  Owned k(ToPath("C:\\a:b"));
  EXPECT_EQ(Comps(k), (V{"C", "a:b"}));
  // Up-steps at the start of a relative path stay.
  Owned up(ToPath("..\\..\\x"));
  EXPECT_EQ(Comps(up), (V{"", "", "x"}));
  EXPECT_EQ(Text(up), "..\\..\\x");
}

TEST_F(PathText, LeadingBackslashUsesTheCurrentDrive) {
  std::string dir = std::filesystem::temp_directory_path().string() + "/qxcurXXXXXX";
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  ASSERT_EQ(PlatDriveMap('K', dir.c_str(), 0), 0);
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  Owned p(ToPath("\\x"));
  Owned q(ToPath(":y"));
  EXPECT_EQ(chdir(old), 0);
  rmdir(dir.c_str());
  PlatDriveMap('K', nullptr, 0);  // later tests list the drives
  EXPECT_EQ(Type(p), kAbsPath);
  EXPECT_EQ(Comps(p), (V{"K", "x"}));
  EXPECT_EQ(Comps(q), (V{"K", "y"}));
}

TEST_F(PathText, LongServerShareAndComponentsAreCut) {
  std::string server(300, 's');
  Owned p(ToPath("\\\\" + server + "\\share\\file"));
  ASSERT_EQ(Type(p), kNetworkPath);
  V c = Comps(p);
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0], "\\\\" + std::string(251, 's') + "\\s");  // the share keeps 252 - 251
  EXPECT_EQ(c[0].size(), 255u);
  Owned q(ToPath("\\\\srv\\" + std::string(300, 'h')));
  EXPECT_EQ(Comps(q)[0], "\\\\srv\\" + std::string(249, 'h'));
  Owned l(ToPath("C:\\" + std::string(400, 'n')));
  EXPECT_EQ(Comps(l)[1], std::string(255, 'n'));
}

TEST_F(PathText, StepsAboveAVolumeStayAtItsRoot) {
  Owned a(ToPath("C:\\..\\a"));
  EXPECT_EQ(Type(a), kAbsPath);
  EXPECT_EQ(Comps(a), (V{"C", "a"}));
  Owned b(ToPath("C:\\x\\..\\..\\..\\y"));
  EXPECT_EQ(Comps(b), (V{"C", "y"}));
  Owned n(ToPath("\\\\srv\\sh\\..\\z"));
  EXPECT_EQ(Comps(n), (V{"\\\\srv\\sh", "z"}));
}

TEST_F(PathText, TextOfTheNotAPathValueAndItsSetting) {
  Owned n(FNotAPath(nullptr));
  EXPECT_EQ(Text(n), "<Not A Path>");
  FSetNotAPathText(PS("<none>"));
  EXPECT_EQ(Text(n), "<none>");
  FSetNotAPathText(PS("<Not A Path>"));
}

TEST_F(PathText, TextIntoHandlesAndPointers) {
  Owned p(ToPath("C:\\a\\b"));
  LStrHandle h = nullptr;
  ASSERT_EQ(FPathToAZString(p, &h), kNoErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)), "C:\\a\\b");
  ASSERT_EQ(FPathToAZString(Owned(ToPath("C:\\longer\\text")), &h), kNoErr);  // resized
  EXPECT_EQ((*h)->cnt, 14);
  AZDisposeHandle(reinterpret_cast<UHandle>(h));
  LStrHandle d = nullptr;
  ASSERT_EQ(FPathToDSString(p, &d), kNoErr);
  EXPECT_TRUE(MemIsDSHandle(d));
  DSDisposeHandle(reinterpret_cast<UHandle>(d));

  UHandle c = FPathToCStrHandle(p);
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(*c), "C:\\a\\b");
  AZDisposeHandle(c);

  CStr s = nullptr;
  ASSERT_EQ(FPathToCStrPtr(p, &s), kNoErr);
  EXPECT_STREQ(s, "C:\\a\\b");
  AZDisposePtr(reinterpret_cast<UPtr>(s));
  // 260 characters fit, 261 don't.
  Owned fit(ToPath("C:\\" + std::string(255, 'a') + "\\b"));
  ASSERT_EQ(Text(fit).size(), 260u);
  ASSERT_EQ(FPathToCStrPtr(fit, &s), kNoErr);
  EXPECT_EQ(std::strlen(s), 260u);
  AZDisposePtr(reinterpret_cast<UPtr>(s));
  Owned over(ToPath("C:\\" + std::string(255, 'a') + "\\bc"));
  EXPECT_EQ(FPathToCStrPtr(over, &s), kMemFullErr);
  EXPECT_EQ(s, nullptr);
}

TEST_F(PathText, TextFromALongStringHandle) {
  const char* t = "D:\\x\\y";
  LStrHandle h = reinterpret_cast<LStrHandle>(AZNewHandle(4 + 6));
  (*h)->cnt = 6;
  std::memcpy((*h)->str, t, 6);
  Owned p;
  ASSERT_EQ(FStringToPath(h, &p), kNoErr);
  EXPECT_EQ(Comps(p), (V{"D", "x", "y"}));
  (*h)->cnt = 100;  // longer than its handle
  EXPECT_EQ(FStringToPath(h, &p), kArgErr);
  EXPECT_EQ(Comps(p), (V{"D", "x", "y"}));
  AZDisposeHandle(reinterpret_cast<UHandle>(h));
}

// ------------------------------------------------------------ operations

TEST_F(PathOps, RelativePathBetweenTwoPaths) {
  Owned from(ToPath("C:\\a\\b")), to(ToPath("C:\\a\\c\\d")), out(FEmptyPath(nullptr));
  ASSERT_EQ(FRelPath(from, to, out), kNoErr);
  EXPECT_EQ(Type(out), kRelPath);
  EXPECT_EQ(Text(out), "..\\c\\d");
  // Compared without case; adding it back gives the target.
  Owned upper(ToPath("c:\\A\\B"));
  ASSERT_EQ(FRelPath(upper, to, out), kNoErr);
  EXPECT_EQ(Text(out), "..\\c\\d");
  Owned back(FEmptyPath(nullptr));
  ASSERT_EQ(FAddPath(from, out, back), kNoErr);
  EXPECT_EQ(FPathCmp(back, to), 0);
  Owned rel(ToPath("x"));
  EXPECT_EQ(FRelPath(rel, to, out), kArgErr);
  EXPECT_EQ(FRelPath(from, to, nullptr), kArgErr);
}

TEST_F(PathOps, AddPathNormalisesAndMayWriteIntoTheBase) {
  Owned base(ToPath("C:\\a\\b")), rel(ToPath("..\\..\\c\\.\\d"));
  ASSERT_EQ(FAddPath(base, rel, base), kNoErr);
  EXPECT_EQ(Text(base), "C:\\c\\d");
  EXPECT_EQ(FAddPath(base, base, base), kArgErr);  // the second must be relative
  Owned r1(ToPath("x\\y")), r2(ToPath("..\\..\\..\\z")), out(FEmptyPath(nullptr));
  ASSERT_EQ(FAddPath(r1, r2, out), kNoErr);
  EXPECT_EQ(Type(out), kRelPath);
  EXPECT_EQ(Text(out), "..\\z");
  // An empty absolute base under up-steps becomes relative.
  Owned empty(FEmptyPath(nullptr)), up(ToPath("..\\q"));
  ASSERT_EQ(FAddPath(empty, up, out), kNoErr);
  EXPECT_EQ(Type(out), kRelPath);
}

TEST_F(PathOps, ComparisonsByPositionAndLexically) {
  Owned a(ToPath("C:\\a\\b\\c")), b(ToPath("c:\\A\\B\\C")), c(ToPath("C:\\a\\x\\c")), d(ToPath("C:\\a"));
  Owned r(ToPath("a\\b")), n(FNotAPath(nullptr)), n2(FNotAPath(nullptr)), net(ToPath("\\\\s\\h\\a"));
  EXPECT_EQ(FPathCmp(a, b), 0);
  EXPECT_EQ(FPathCmp(a, c), 3);  // the 1-based position of "b" and "x"
  EXPECT_EQ(FPathCmp(a, d), 3);  // a leading part: the smaller count + 1
  EXPECT_EQ(FPathCmp(d, a), 3);
  EXPECT_EQ(FPathCmp(a, r), -1);
  EXPECT_EQ(FPathCmp(a, nullptr), -1);
  EXPECT_EQ(FPathCmp(n, n2), 0);

  EXPECT_EQ(FPathCmpLexical(a, a), 0);
  EXPECT_LT(FPathCmpLexical(nullptr, a), 0);
  EXPECT_GT(FPathCmpLexical(a, nullptr), 0);
  EXPECT_LT(FPathCmpLexical(a, r), 0);   // absolute before relative
  EXPECT_LT(FPathCmpLexical(net, r), 0); // network ranks with absolute
  EXPECT_LT(FPathCmpLexical(r, n), 0);   // relative before not-a-path
  EXPECT_EQ(FPathCmpLexical(n, n2), 0);
  EXPECT_EQ(FPathCmpLexical(a, b), 0);
  EXPECT_LT(FPathCmpLexical(a, c), 0);
  EXPECT_GT(FPathCmpLexical(a, d), 0);   // then the counts
}

TEST_F(PathOps, MakePathFromComponents) {
  Owned p(FMakePath(nullptr, kAbsPath, PS("C").b, PS("dir").b, nullptr));
  ASSERT_NE(p.p, nullptr);
  EXPECT_EQ(Text(p), "C:\\dir");
  Owned r(FMakePath(nullptr, kRelPath, PS("").b, PS("x").b, nullptr));
  EXPECT_EQ(Text(r), "..\\x");
  EXPECT_EQ(FMakePath(nullptr, 7, PS("a").b, nullptr), nullptr);
  // An absolute path with an empty first component is refused; the given
  // handle stays as it was.
  EXPECT_EQ(FMakePath(nullptr, kAbsPath, PS("").b, PS("x").b, nullptr), nullptr);
  EXPECT_EQ(FMakePath(p, kAbsPath, PS("").b, nullptr), nullptr);
  EXPECT_EQ(Text(p), "C:\\dir");
  ASSERT_EQ(FMakePath(p, kNetworkPath, PS("\\\\s\\h").b, PS("f").b, nullptr), p.p);
  EXPECT_EQ(Text(p), "\\\\s\\h\\f");
  int junk = 0;
  EXPECT_EQ(FMakePath(reinterpret_cast<Path>(&junk), kAbsPath, nullptr), nullptr);
}

TEST_F(PathOps, ComponentsAppendedRemovedAndRead) {
  Owned p(ToPath("C:\\a"));
  EXPECT_EQ(FAppendName(p, PS("b")), kNoErr);
  EXPECT_EQ(FAppendName(p, PS("")), kArgErr);  // no up-steps in absolute paths
  EXPECT_EQ(FAppendName(p, nullptr), kArgErr);
  EXPECT_EQ(Text(p), "C:\\a\\b");
  Owned r(ToPath("x"));
  EXPECT_EQ(FAppendName(r, PS("")), kNoErr);
  EXPECT_EQ(Text(r), "x\\..");

  uChar name[256];
  EXPECT_EQ(FNamePtr(p, name), kNoErr);
  EXPECT_EQ(Str(name), "b");
  EXPECT_EQ(FNthName(p, 0, name), kNoErr);
  EXPECT_EQ(Str(name), "C");
  EXPECT_EQ(FNthName(p, 3, name), kArgErr);
  EXPECT_EQ(FNthName(p, -1, name), kArgErr);
  UHandle h = AZNewHandle(1);
  EXPECT_EQ(FName(p, h), kNoErr);
  EXPECT_EQ(AZGetHandleSize(h), 2);
  EXPECT_EQ(Str(*h), "b");
  AZDisposeHandle(h);

  Owned dir(FEmptyPath(nullptr));
  EXPECT_EQ(FDirName(p, dir), kNoErr);
  EXPECT_EQ(Text(dir), "C:\\a");
  EXPECT_EQ(FDirName(p, p), kNoErr);
  EXPECT_EQ(FDirName(p, p), kNoErr);
  EXPECT_EQ(Text(p), "C:\\");
  EXPECT_EQ(FDirName(p, p), kNoErr);
  EXPECT_EQ(FDepth(p), 0);
  EXPECT_EQ(FDirName(p, p), kArgErr);
  Owned net(ToPath("\\\\s\\h"));
  EXPECT_EQ(FDirName(net, dir), kArgErr);

  Owned vol(FEmptyPath(nullptr)), deep(ToPath("\\\\s\\h\\x\\y"));
  EXPECT_EQ(FVolName(deep, vol), kNoErr);
  EXPECT_EQ(Type(vol), kNetworkPath);
  EXPECT_EQ(Text(vol), "\\\\s\\h");
  EXPECT_EQ(FVolName(r, vol), kArgErr);
}

TEST_F(PathOps, TypesTestsAndCopies) {
  Owned p(ToPath("C:\\a")), n(FNotAPath(nullptr)), e(FEmptyPath(nullptr));
  int32 t = 9;
  EXPECT_EQ(FGetPathType(n, &t), kNoErr);
  EXPECT_EQ(t, kNotAPath);
  int junk[2] = {0, 0};
  EXPECT_EQ(FGetPathType(reinterpret_cast<Path>(junk), &t), kArgErr);
  EXPECT_EQ(t, kNotAPath);
  EXPECT_FALSE(FIsAPath(n));
  EXPECT_TRUE(FIsAPathOrNotAPath(n));
  EXPECT_TRUE(FIsAbsPath(p));
  EXPECT_TRUE(FIsEmptyPath(e));
  EXPECT_EQ(FDepth(n), -1);
  EXPECT_EQ(FSetPathType(p, kRelPath), kNoErr);
  EXPECT_EQ(Text(p), "C\\a");
  EXPECT_EQ(FSetPathType(p, kNetworkPath), kArgErr);
  EXPECT_EQ(FSetPathType(n, kAbsPath), kArgErr);
  EXPECT_EQ(FPathSize(p), 4 + 2 + 2);
  EXPECT_EQ(FPathSize(n), 4);

  Path copy = p;
  ASSERT_EQ(FPathToPath(&copy), kNoErr);
  EXPECT_NE(copy, p.p);
  EXPECT_EQ(FPathCmp(copy, p), 0);
  ASSERT_EQ(FPathCpy(copy, n), kNoErr);
  EXPECT_EQ(Type(copy), kNotAPath);
  EXPECT_EQ(FDisposePath(copy), kNoErr);
  EXPECT_EQ(FEmptyPath(reinterpret_cast<Path>(junk)), nullptr);
}

TEST_F(PathOps, MalformedHandlesGiveOneAndStayUnchanged) {
  // A count that promises more components than the handle holds.
  UHandle h = AZNewHandle(8);
  int16 hdr[2] = {kAbsPath, 3};
  std::memcpy(*h, hdr, 4);
  std::memcpy(*h + 4, "\x01" "C\x05" "a", 4);  // the second component runs past the end
  Path bad = reinterpret_cast<Path>(h);
  std::vector<uChar> before(*h, *h + 8);
  EXPECT_FALSE(FIsAPath(bad));
  EXPECT_FALSE(FIsAPathOrNotAPath(bad));
  EXPECT_EQ(FDepth(bad), -1);
  EXPECT_EQ(FAppendName(bad, PS("x")), kArgErr);
  EXPECT_EQ(FCanonPath(bad), kArgErr);
  uChar name[256];
  EXPECT_EQ(FNamePtr(bad, name), kArgErr);
  LStr probe = {-1, {0}};
  EXPECT_EQ(FPathToText(bad, &probe), kArgErr);
  Owned other(ToPath("C:\\q"));
  EXPECT_EQ(FPathCmp(bad, other), -1);
  EXPECT_EQ(AZGetHandleSize(h), 8);
  EXPECT_EQ(std::vector<uChar>(*h, *h + 8), before);
  size_t reports = Reports();
  EXPECT_EQ(FPathSize(bad), 0);
  EXPECT_GT(Reports(), reports);
  // Flattened, it is reported and written as a missing path.
  reports = Reports();
  uChar flat[12];
  EXPECT_EQ(FFlattenPath(bad, flat), 12);
  EXPECT_EQ(std::memcmp(flat, "PTH0\0\0\0\0\0\0\0\0", 12), 0);
  EXPECT_GT(Reports(), reports);
  // A negative count, and a type that is none.
  hdr[1] = -1;
  std::memcpy(*h, hdr, 4);
  EXPECT_FALSE(FIsAPath(bad));
  hdr[0] = 9;
  hdr[1] = 0;
  std::memcpy(*h, hdr, 4);
  EXPECT_FALSE(FIsAPathOrNotAPath(bad));
  AZDisposeHandle(h);
}

TEST_F(PathOps, HandlesOfTheDataZoneWorkToo) {
  Path p = reinterpret_cast<Path>(DSNewHandle(0));
  const char* t = "E:\\data\\x";
  ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>(t), int32(std::strlen(t)), &p), kNoErr);
  EXPECT_TRUE(MemIsDSHandle(p));
  EXPECT_EQ(Text(p), t);
  EXPECT_EQ(FAppendName(p, PS("y")), kNoErr);
  std::vector<uChar> v(size_t(FFlattenPath(p, nullptr)));
  FFlattenPath(p, v.data());
  Path q = nullptr;
  ASSERT_EQ(FUnFlattenPathData(v.data(), &q, int32(v.size())), int32(v.size()));
  EXPECT_EQ(FPathCmp(p, q), 0);
  EXPECT_EQ(FDisposePath(q), kNoErr);
  EXPECT_EQ(FDisposePath(p), kNoErr);
}

TEST_F(PathOps, CanonPathShrinksSlackAndFixesTheType) {
  UHandle h = AZNewHClr(64);
  int16 hdr[2] = {kAbsPath, 4};
  std::memcpy(*h, hdr, 4);
  std::memcpy(*h + 4, "\x06\\\\s\\hh\x01" "a\x00\x01" "b", 12);
  Path p = reinterpret_cast<Path>(h);
  ASSERT_EQ(FCanonPath(p), kNoErr);
  EXPECT_EQ(Type(p), kNetworkPath);
  EXPECT_EQ(Comps(p), (V{"\\\\s\\hh", "b"}));
  EXPECT_EQ(AZGetHandleSize(h), FPathSize(p));
  FDisposePath(p);
}

// ------------------------------------------------------------ flattening

namespace {

std::vector<uChar> Flatten(Path p) {
  int32 n = FFlattenPath(p, nullptr);
  std::vector<uChar> v(size_t(n), 0xEE);
  EXPECT_EQ(FFlattenPath(p, v.data()), n);
  return v;
}

// A random valid path: type 0, 1 or 3 with random components.
Path RandomPath(std::mt19937& rng) {
  int32 type = int32(rng() % 3);
  type = type == 2 ? kNetworkPath : type;
  Path p = FMakePath(nullptr, type, nullptr);
  int n = int(rng() % 12);
  for (int i = 0; i < n; ++i) {
    std::string c;
    int len = int(rng() % 40);
    if (rng() % 10 == 0) len = int(rng() % 256);
    if (type != kRelPath && len == 0) len = 1;
    for (int k = 0; k < len; ++k) c += char(rng() % 256);
    EXPECT_EQ(FAppendName(p, PS(c)), kNoErr);
  }
  return p;
}

}  // namespace

TEST_F(PathFlat, NullPathIsTwelveBytes) {
  std::vector<uChar> v = Flatten(nullptr);
  ASSERT_EQ(v.size(), 12u);
  EXPECT_EQ(std::memcmp(v.data(), "PTH0\0\0\0\0\0\0\0\0", 12), 0);
  Guarded g(v);
  Path p = nullptr;
  EXPECT_EQ(FUnFlattenPathData(g.data(), &p, 12), 12);
  EXPECT_EQ(p, nullptr);
  // Into a given handle it is no path: a failure.
  Owned given(ToPath("C:\\keep"));
  Path q = given;
  EXPECT_EQ(FUnFlattenPathData(g.data(), &q, 12), 13);
  EXPECT_EQ(Text(given), "C:\\keep");
  // Eight bytes are not enough.
  Guarded g8(std::vector<uChar>(v.begin(), v.begin() + 8));
  EXPECT_EQ(FUnFlattenPathData(g8.data(), &p, 8), 9);
}

TEST_F(PathFlat, LayoutIsBigEndianWithTheHandleSize) {
  Owned p(ToPath("C:\\ab"));
  std::vector<uChar> v = Flatten(p);
  const uChar expect[] = {'P', 'T', 'H', '0', 0, 0, 0, 9, 0, 0, 0, 2, 1, 'C', 2, 'a', 'b'};
  ASSERT_EQ(v.size(), sizeof expect);
  EXPECT_EQ(std::memcmp(v.data(), expect, sizeof expect), 0);
}

TEST_F(PathFlat, RandomPathsRoundTrip) {
  std::mt19937 rng(12345);
  for (int i = 0; i < Scaled(1000); ++i) {
    Owned p(RandomPath(rng));
    std::vector<uChar> v = Flatten(p);
    Guarded g(v);
    Path q = nullptr;
    ASSERT_EQ(FUnFlattenPathData(g.data(), &q, int32(v.size())), int32(v.size()));
    Owned oq(q);
    ASSERT_EQ(FPathCmp(p, q), 0);
    ASSERT_EQ(AZGetHandleSize(reinterpret_cast<UHandle>(q)), AZGetHandleSize(reinterpret_cast<UHandle>(p.p)));
    ASSERT_EQ(std::memcmp(*reinterpret_cast<UHandle>(q), *reinterpret_cast<UHandle>(p.p), size_t(FPathSize(p))),
              0);
    // Every shorter buffer fails with its size + 1 and leaves the given handle.
    for (size_t cut = 0; cut < v.size(); cut += 1 + cut / 4) {
      Guarded gc(std::vector<uChar>(v.begin(), v.begin() + long(cut)));
      Path r = q;
      ASSERT_EQ(FUnFlattenPathData(gc.data(), &r, int32(cut)), int32(cut) + 1);
      ASSERT_EQ(r, q);
    }
  }
}

TEST_F(PathFlat, BadBodiesFailWithoutReadingPastTheBuffer) {
  auto flat = [](uint32_t len, std::vector<uChar> body) {
    std::vector<uChar> v = {'P', 'T', 'H', '0'};
    PutBE32(v, len);
    v.insert(v.end(), body.begin(), body.end());
    return v;
  };
  struct Case {
    const char* what;
    std::vector<uChar> bytes;
  };
  std::vector<Case> cases = {
      {"type 4", flat(4, {0, 4, 0, 0})},
      {"type -1", flat(4, {0xFF, 0xFF, 0, 0})},
      {"negative count", flat(4, {0, 0, 0x80, 0})},
      {"component past L", flat(7, {0, 0, 0, 1, 5, 'a', 'b'})},
      {"count past L", flat(6, {0, 1, 0, 2, 1, 'a'})},
      {"L past the buffer", flat(20, {0, 1, 0, 0})},
      {"L = 0xFFFFFFF8", flat(0xFFFFFFF8u, {0, 1, 0, 0})},
      {"short header", {'P', 'T', 'H', '0', 0, 0}},
      {"three bytes", {'P', 'T', 'H'}},
  };
  for (const Case& c : cases) {
    Guarded g(c.bytes);
    Owned keep(ToPath("C:\\keep"));
    Path p = keep;
    int32 n = int32(c.bytes.size());
    EXPECT_EQ(FUnFlattenPathData(g.data(), &p, n), n + 1) << c.what;
    EXPECT_EQ(p, keep.p) << c.what;
    EXPECT_EQ(Text(keep), "C:\\keep") << c.what;
    Path fresh = nullptr;
    EXPECT_EQ(FUnFlattenPathData(g.data(), &fresh, n), n + 1) << c.what;
    EXPECT_EQ(fresh, nullptr) << c.what;
  }
  // Slack after the components is accepted.
  Guarded ok(flat(8, {0, 1, 0, 1, 1, 'a', 0, 0}));
  Path p = nullptr;
  EXPECT_EQ(FUnFlattenPathData(ok.data(), &p, 16), 16);
  EXPECT_EQ(Text(p), "a");
  FDisposePath(p);
}

TEST_F(PathFlat, HugeLengthAllocatesNothing) {
  MemFullReset();
  std::vector<uChar> v = {'P', 'T', 'H', '0', 0x7F, 0xFF, 0xFF, 0x00, 0, 0, 0, 0};
  Guarded g(v);
  Path p = nullptr;
  EXPECT_EQ(FUnFlattenPath(g.data(), &p), 0x7FFFFFFF);
  EXPECT_EQ(p, nullptr);
  EXPECT_FALSE(MemFullPending(nullptr));
  // Just above the largest body that can hold a valid path.
  std::vector<uChar> w = {'P', 'T', 'H', '0'};
  PutBE32(w, 4 + 32767 * 256 + 1);
  w.insert(w.end(), {0, 0, 0, 0});
  Guarded gw(w);
  EXPECT_EQ(FUnFlattenPath(gw.data(), &p), 0x7FFFFFFF);
  EXPECT_FALSE(MemFullPending(nullptr));
}

TEST_F(PathFlat, NotAPathReadsWithCountZero) {
  std::vector<uChar> v = {'P', 'T', 'H', '0', 0, 0, 0, 4, 0, 2, 0, 5};
  Guarded g(v);
  Path p = nullptr;
  EXPECT_EQ(FUnFlattenPathData(g.data(), &p, 12), 12);
  Owned o(p);
  EXPECT_TRUE(FIsAPathOrNotAPath(p));
  EXPECT_FALSE(FIsAPath(p));
  int16 count;
  std::memcpy(&count, *reinterpret_cast<UHandle>(p) + 2, 2);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Text(p), "<Not A Path>");
}

TEST_F(PathFlat, OldFormIsRead) {
  Capture cap;
  // Relative: an empty first component, then "ab" and "c", each padded.
  std::vector<uChar> v;
  PutBE32(v, 4 + 2 + 4 + 2);
  PutBE32(v, 3);
  v.insert(v.end(), {0, 0, 2, 'a', 'b', 0, 1, 'c'});
  Guarded g(v);
  Path p = nullptr;
  EXPECT_EQ(FUnFlattenPathData(g.data(), &p, int32(v.size())), 8 + 8);
  Owned o(p);
  EXPECT_EQ(Type(p), kRelPath);
  EXPECT_EQ(Text(p), "ab\\c");
  EXPECT_NE(cap.Debug().find("unflattening oldstyle flattened path"), std::string::npos);
  // Absolute.
  std::vector<uChar> a;
  PutBE32(a, 4 + 2 + 2);
  PutBE32(a, 2);
  a.insert(a.end(), {1, 'D', 1, 'x'});
  Guarded ga(a);
  Path q = nullptr;
  EXPECT_EQ(FUnFlattenPathData(ga.data(), &q, int32(a.size())), 12);
  EXPECT_EQ(Text(q), "D:\\x");
  FDisposePath(q);
  // A length below 4: no path, 8 bytes used.
  std::vector<uChar> z = {0, 0, 0, 2, 9, 9, 9, 9};
  Guarded gz(z);
  q = nullptr;
  EXPECT_EQ(FUnFlattenPathData(gz.data(), &q, 8), 8);
  EXPECT_EQ(q, nullptr);
}

TEST_F(PathFlat, OldFormWithBadPaddingOrCountFails) {
  Capture cap;
  struct Case {
    const char* what;
    std::vector<uChar> bytes;
  };
  auto old = [](uint32_t t, uint32_t count, std::vector<uChar> rest) {
    std::vector<uChar> v;
    PutBE32(v, t);
    PutBE32(v, count);
    v.insert(v.end(), rest.begin(), rest.end());
    return v;
  };
  std::vector<Case> cases = {
      {"padding past the end", old(7, 1, {2, 'a', 'b'})},
      {"component past the end", old(8, 1, {9, 'a', 'b', 'c'})},
      {"count past the data", old(8, 3, {1, 'a', 1, 'b'})},
      {"negative count", old(8, 0x80000000u, {1, 'a', 1, 'b'})},
      {"count too large", old(8, 40000, {1, 'a', 1, 'b'})},
      {"length but no count", {0, 0, 0, 9, 0, 0}},
  };
  for (const Case& c : cases) {
    Guarded g(c.bytes);
    Path p = nullptr;
    int32 n = int32(c.bytes.size());
    EXPECT_EQ(FUnFlattenPathData(g.data(), &p, n), n + 1) << c.what;
    EXPECT_EQ(p, nullptr) << c.what;
  }
}
