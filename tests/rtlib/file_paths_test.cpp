// Paths, folders and volumes of diagrams; the date and time texts; moves
// and copies that lose nothing when they fail part-way.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "mgsource/fourcc.h"
#include "file_test_support.h"
#include "mgsource/datetime.h"
#include "tools/rsrcwriter.h"

namespace {

using namespace filetest;

class FilePathsTest : public FileTest {
 protected:
  static std::string PathText(Path p) { return pathtest::Text(p); }
  UHandle List(const std::vector<std::string>& items) {
    UHandle a = nullptr;
    EXPECT_EQ(ArrayResizeElts(StdTDTable[kStdTDString], 1, &a, int32(items.size())), kNoErr);
    int32 n = int32(items.size());
    std::memcpy(*a, &n, 4);
    for (int32 i = 0; i < n; ++i) {
      LStrHandle s = NewString(items[size_t(i)]);
      std::memcpy(*a + 4 + 4 * i, &s, 4);
    }
    return a;
  }
  // A tree of folders and files, each file's text its own name.
  void Tree(const std::string& root) {
    fs::create_directories(Host(root + "/sub/deeper"));
    for (const char* f : {"a.txt", "b.bin", "sub/c.txt", "sub/deeper/d.txt"}) Put(root + "/" + f, root + f);
  }
  std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> m;
    for (auto& e : fs::recursive_directory_iterator(Host(root))) {
      const std::string rel = fs::relative(e.path(), Host(root)).string();
      m[rel] = e.is_directory() ? "<dir>" : Get(root + "/" + rel);
    }
    return m;
  }
};

TEST_F(FilePathsTest, BuildStripAndArrayRoundTrips) {
  Owned base(P("dir"));
  LStrHandle name = NewString("file.txt");
  Path built = nullptr;
  ASSERT_EQ(FPBuildPath(base, &name, kFPNameString, &built), kNoErr);
  EXPECT_EQ(PathText(built), "F:\\dir\\file.txt");
  Path dir = nullptr;
  LStrHandle stripped = nullptr;
  ASSERT_EQ(FPStripPath(built, &dir, &stripped), kNoErr);
  EXPECT_EQ(PathText(dir), "F:\\dir");
  EXPECT_EQ(Text(stripped), "file.txt");
  // A relative path appended; other name types are 1.
  Owned rel(pathtest::ToPath("a\\b"));
  Path relName = rel.p;
  ASSERT_EQ(FPBuildPath(base, &relName, kFPNamePath, &built), kNoErr);
  EXPECT_EQ(PathText(built), "F:\\dir\\a\\b");
  EXPECT_EQ(FPBuildPath(base, &name, 7, &built), kArgErr);
  EXPECT_FALSE(FIsAPath(built));
  // Without a base the name is built on an empty path.
  ASSERT_EQ(FPBuildPath(nullptr, &relName, kFPNamePath, &built), kNoErr);
  int32 type = -1;
  ASSERT_EQ(FPPathType(built, &type), kNoErr);
  // Depth 0 is 1, with not-a-path and an empty name.
  Owned root(FEmptyPath(nullptr));
  EXPECT_EQ(FPStripPath(root, &dir, &stripped), kArgErr);
  EXPECT_FALSE(FIsAPath(dir));
  EXPECT_EQ(Text(stripped), "");
  // Arrays both ways.
  UHandle comps = nullptr;
  uChar relative = 9;
  Owned deep(P("x\\y\\z"));
  ASSERT_EQ(FPPathToArr(deep, &relative, &comps), kNoErr);
  EXPECT_EQ(Strings(comps), (std::vector<std::string>{"F", "x", "y", "z"}));
  EXPECT_EQ(relative, 0);
  Path back = nullptr;
  ASSERT_EQ(FPArrToPath(comps, 0, &back), kNoErr);
  EXPECT_EQ(FPathCmp(back, deep), 0);
  // An empty component steps up one level.
  UHandle up = List({"F", "x", "y", "", "w"});
  ASSERT_EQ(FPArrToPath(up, 0, &back), kNoErr);
  EXPECT_EQ(PathText(back), "F:\\x\\w");
  // An absolute path whose first component is empty is 1.
  UHandle badFirst = List({"", "x"});
  EXPECT_EQ(FPArrToPath(badFirst, 0, &back), kArgErr);
  EXPECT_FALSE(FIsAPath(back));
  // Relative paths keep their leading steps up.
  UHandle relUp = List({"", "a"});
  ASSERT_EQ(FPArrToPath(relUp, 1, &back), kNoErr);
  ASSERT_EQ(FPPathToArr(back, &relative, &comps), kNoErr);
  EXPECT_EQ(relative, 1);
  EXPECT_EQ(Strings(comps), (std::vector<std::string>{"", "a"}));
  // The external forms.
  Owned ext(FEmptyPath(nullptr));
  ASSERT_EQ(FArrToPath(up, 0, ext), kNoErr);
  EXPECT_EQ(PathText(ext), "F:\\x\\w");
  uChar r8 = 5;
  ASSERT_EQ(FPathToArr(ext, &r8, comps), kNoErr);
  EXPECT_EQ(Strings(comps), (std::vector<std::string>{"F", "x", "w"}));
  EXPECT_EQ(r8, 0);
  for (UHandle* h : {&comps, &up, &badFirst, &relUp}) DisposeStrings(*h);
  for (Path p : {built, dir, back}) FDisposePath(p);
  Dispose(name);
  Dispose(stripped);
}

TEST_F(FilePathsTest, MovesAndCopiesIntoFoldersDuplicatesAndIntoItself) {
  Put("f.txt", "one");
  fs::create_directories(Host("into"));
  Owned f(P("f.txt")), into(P("into")), missingParent(P("none\\x")), self(P("into\\in"));
  Path out = nullptr;
  ASSERT_EQ(FPCopy(f, into, &out), kNoErr);
  EXPECT_EQ(PathText(out), "F:\\into\\f.txt") << "into a folder the name is appended";
  EXPECT_EQ(Get("into/f.txt"), "one");
  EXPECT_EQ(FPCopy(f, into, &out), kDupPathErr);
  EXPECT_FALSE(FIsAPath(out));
  EXPECT_EQ(FPMove(f, into, &out), kDupPathErr);
  EXPECT_EQ(Get("f.txt"), "one");
  EXPECT_EQ(FPCopy(f, missingParent, &out), kArgErr);
  // A folder into itself.
  EXPECT_EQ(FPMove(into, self, &out), kArgErr);
  EXPECT_EQ(FPCopy(into, into, &out), kArgErr);
  EXPECT_TRUE(Exists("into/f.txt"));
  // A file moved under a new name.
  Owned renamed(P("g.txt"));
  ASSERT_EQ(FPMove(f, renamed, &out), kNoErr);
  EXPECT_EQ(Get("g.txt"), "one");
  EXPECT_FALSE(Exists("f.txt"));
  // A folder tree copied and moved.
  Tree("t");
  const auto before = Snapshot("t");
  Owned t(P("t")), t2(P("t2")), t3(P("t3"));
  ASSERT_EQ(FPCopy(t, t2, &out), kNoErr);
  EXPECT_EQ(Snapshot("t2"), before);
  ASSERT_EQ(FPMove(t2, t3, &out), kNoErr);
  EXPECT_EQ(Snapshot("t3"), before);
  EXPECT_FALSE(Exists("t2"));
  FDisposePath(out);
}

TEST_F(FilePathsTest, DeleteListAndInformation) {
  Tree("d");
  Owned d(P("d")), sub(P("d\\sub\\deeper")), file(P("d\\sub\\deeper\\d.txt"));
  EXPECT_EQ(FPDelete(d), kFileIOErr) << "a folder that is not empty";
  ASSERT_EQ(FPDelete(file), kNoErr);
  ASSERT_EQ(FPDelete(sub), kNoErr);
  EXPECT_FALSE(Exists("d/sub/deeper"));
  Owned nap(FNotAPath(nullptr));
  EXPECT_EQ(FPDelete(nap), kArgErr);
  // Listing with a pattern.
  UHandle files = nullptr, folders = nullptr;
  LStrHandle pattern = NewString("*.txt");
  ASSERT_EQ(FPListFolder(d, pattern, nullptr, 0, &files, &folders), kNoErr);
  EXPECT_EQ(Strings(files), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(Strings(folders), std::vector<std::string>{});
  ASSERT_EQ(FPListFolder(d, nullptr, nullptr, 0, &files, &folders), kNoErr);
  EXPECT_EQ(Strings(files), (std::vector<std::string>{"a.txt", "b.bin"}));
  EXPECT_EQ(Strings(folders), std::vector<std::string>{"sub"});
  Owned missing(P("nothing"));
  EXPECT_NE(FPListFolder(missing, nullptr, nullptr, 0, &files, &folders), kNoErr);
  EXPECT_TRUE(Strings(files).empty() && Strings(folders).empty()) << "emptied on failure";
  // Information of a file and a folder.
  uChar isFolder = 9;
  int32 size = -1;
  uInt32 date = 0;
  Owned a(P("d\\a.txt"));
  ASSERT_EQ(FPFileOrFolderInfo(a, &isFolder, &size, &date), kNoErr);
  EXPECT_EQ(isFolder, 0);
  EXPECT_EQ(size, 6);
  EXPECT_GT(date, 0u);
  ASSERT_EQ(FPFileOrFolderInfo(d, &isFolder, &size, &date), kNoErr);
  EXPECT_EQ(isFolder, 1);
  EXPECT_EQ(size, 3) << "the entries of a folder";
  EXPECT_NE(FPFileOrFolderInfo(missing, &isFolder, &size, &date), kNoErr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(date, 0u);
  DisposeStrings(files);
  DisposeStrings(folders);
  Dispose(pattern);
}

TEST_F(FilePathsTest, TypeAndCreatorAreReadInOrderAndCannotBeSet) {
  // The file manager knows resource files of kind QXIN by the extension "vi".
  UHandle table = AZNewHClr(4 + 8);
  const int32 one = 1;
  const uInt32 kind = FourCC("QXIN");
  std::memcpy(*table, &one, 4);
  std::memcpy(*table + 4, &kind, 4);
  std::memcpy(*table + 8, "vi", 3);
  ASSERT_EQ(FSetResExt(table, nullptr), kNoErr);
  rsrcw::Writer w(FourCC("QXIN"), FourCC("QNLX"));
  w.Add(FourCC("STR "), 1, rsrcw::Bytes{0});
  ASSERT_TRUE(rsrcw::WriteHostFile(Host("v.vi"), w.Write()));
  Put("plain.dat", "x");
  Owned p(P("v.vi")), plain(P("plain.dat"));
  LStrHandle type = nullptr, creator = nullptr;
  ASSERT_EQ(FPTypeAndCreator(p, nullptr, nullptr, &type, &creator), kNoErr);
  EXPECT_EQ(Text(type), "QXIN");
  EXPECT_EQ(Text(creator), "QNLX");
  LStrHandle four = NewString("TEXT"), three = NewString("abc");
  EXPECT_EQ(FPTypeAndCreator(p, four, nullptr, &type, &creator), kSysCapacityErr);
  EXPECT_EQ(Text(type), "");
  EXPECT_EQ(FPTypeAndCreator(p, nullptr, four, &type, &creator), kSysCapacityErr);
  EXPECT_EQ(FPTypeAndCreator(p, three, nullptr, &type, &creator), kArgErr);
  EXPECT_EQ(FPTypeAndCreator(p, nullptr, three, &type, &creator), kArgErr);
  ASSERT_EQ(FPTypeAndCreator(plain, nullptr, nullptr, &type, &creator), kNoErr);
  EXPECT_EQ(Text(type), "????");
  FSetResExt(nullptr, nullptr);
  for (LStrHandle* h : {&type, &creator, &four, &three}) Dispose(*h);
}

TEST_F(FilePathsTest, VolumeInformationAddsUp) {
  Put("v", "x");
  Owned p(P("v"));
  float64 total = 0, used = 0, freeBytes = 0;
  ASSERT_EQ(FPVolumeInfo(p, &total, &used, &freeBytes), kNoErr);
  EXPECT_GT(total, 0);
  EXPECT_EQ(total, used + freeBytes);
  EXPECT_EQ(PathText(p), "F:\\") << "the input becomes the volume's path";
  EXPECT_EQ(FDepth(p), 1);
  Owned nap(FNotAPath(nullptr));
  EXPECT_EQ(FPVolumeInfo(nap, &total, &used, &freeBytes), kArgErr);
  EXPECT_EQ(total, 0);
  EXPECT_EQ(freeBytes, 0);
}

TEST_F(FilePathsTest, NewFolderAndAccessRights) {
  Owned d(P("made"));
  LStrHandle bad = NewString("");
  (*bad)->cnt = -1;
  EXPECT_EQ(FPNewFolder(d, bad, 0), kArgErr);
  EXPECT_FALSE(Exists("made"));
  (*bad)->cnt = 0;
  ASSERT_EQ(FPNewFolder(d, nullptr, 0750), kNoErr);
  struct stat st;
  ASSERT_EQ(stat(Host("made").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  int32 perm = 0;
  LStrHandle owner = nullptr, group = nullptr;
  ASSERT_EQ(FPAccessRights(d, nullptr, nullptr, nullptr, &owner, &group, &perm), kNoErr);
  EXPECT_EQ(perm, 0777) << "the file manager's folders";
  // A file made read-only and writable again.
  Put("made/f", "x");
  Owned f(P("made\\f"));
  const int32 readOnly = 0444, writable = 0666;
  ASSERT_EQ(FPAccessRights(f, nullptr, nullptr, &readOnly, &owner, &group, &perm), kNoErr);
  EXPECT_EQ(perm, 0444);
  ASSERT_EQ(FPAccessRights(f, nullptr, nullptr, &writable, &owner, &group, &perm), kNoErr);
  EXPECT_EQ(perm, 0666);
  EXPECT_EQ(FPAccessRights(f, bad, nullptr, &writable, &owner, &group, &perm), kNoErr) << "a string of 0 is given";
  (*bad)->cnt = -1;
  EXPECT_EQ(FPAccessRights(f, bad, nullptr, &readOnly, &owner, &group, &perm), kArgErr);
  EXPECT_EQ(perm, 0);
  (*bad)->cnt = 0;
  EXPECT_EQ(Get("made/f"), "x");
  Owned missing(P("missing"));
  perm = 5;
  EXPECT_NE(FPAccessRights(missing, nullptr, nullptr, nullptr, &owner, &group, &perm), kNoErr);
  EXPECT_EQ(perm, 0);
  for (LStrHandle* h : {&bad, &owner, &group}) Dispose(*h);
}

TEST_F(FilePathsTest, DateAndTimeTexts) {
  const uInt32 secs = 3000000000u;
  LStrHandle s = nullptr;
  for (int32 style : {0, 1, 2}) {
    ASSERT_EQ(DateLStr(&s, secs, style), kNoErr);
    EXPECT_EQ(Text(s), DateCString(secs, style)) << style;
  }
  ASSERT_EQ(DateLStr(&s, secs, 7), kNoErr);
  EXPECT_EQ(Text(s), DateCString(secs, 2)) << "style 7 is pinned to 2";
  ASSERT_EQ(DateLStr(&s, secs, 3), kNoErr);
  EXPECT_EQ(Text(s), DateCString(secs, 2)) << "3 is pinned to 2, not read as 0";
  ASSERT_EQ(DateLStr(&s, secs, -4), kNoErr);
  EXPECT_EQ(Text(s), DateCString(secs, 0));
  ASSERT_EQ(TimeLStr(&s, secs, 1), kNoErr);
  EXPECT_EQ(Text(s), TimeCString(secs, 1));
  ASSERT_EQ(TimeLStr(&s, secs, 0), kNoErr);
  EXPECT_EQ(Text(s), TimeCString(secs, 0));
  Dispose(s);
}

MgErr TestTemp(Path out) {
  Path p = pathtest::ToPath("F:\\tmpdir");
  MgErr err = FPathCpy(out, p);
  FDisposePath(p);
  return err;
}

TEST_F(FilePathsTest, FoldersOfTheShell) {
  Path out = nullptr;
  EXPECT_NE(FPVILib(&out), kNoErr) << "without the shell there is no vi.lib";
  EXPECT_FALSE(FIsAPath(out));
  EXPECT_EQ(FPTmpDir(&out), kNoErr) << "the host's temporary folder";
  EXPECT_TRUE(FIsAPath(out));
  FileShellHooks h{};
  h.tempDirPath = &TestTemp;
  SetFileShellHooks(&h);
  ASSERT_EQ(FPTmpDir(&out), kNoErr);
  EXPECT_EQ(PathText(out), "F:\\tmpdir");
  EXPECT_NE(FPVIPath(nullptr, &out), kNoErr);
  EXPECT_FALSE(FIsAPath(out));
  Owned vi(P("my.vi"));
  ASSERT_EQ(FPVIPath(vi, &out), kNoErr);
  EXPECT_EQ(PathText(out), "F:\\my.vi");
  FDisposePath(out);
}

// ---- Nothing lost ---------------------------------------------------------------------------

TEST_F(FilePathsTest, AFolderMoveThatFailsPartWayLeavesTheSourceWhole) {
  Tree("src");
  const auto before = Snapshot("src");
  Owned src(P("src")), dst(P("dst"));
  // Folders can't be renamed in one step: the move copies entry by entry.
  for (int64_t k = 1;; ++k) {
    PlatFileFault fault;
    fault.failAt = k;
    fault.moveAcrossVolumes = true;
    PlatFileSetFault(&fault);
    Path out = nullptr;
    const MgErr err = FPMove(src, dst, &out);
    const int64_t failures = PlatFileFaultFailures();
    PlatFileSetFault(nullptr);
    FDisposePath(out);
    if (err == kNoErr) {
      EXPECT_EQ(failures, 0);
      EXPECT_EQ(Snapshot("dst"), before);
      EXPECT_FALSE(Exists("src"));
      EXPECT_GT(k, 4) << "every file was written at least once";
      break;
    }
    EXPECT_EQ(err, kFileIOErr) << k;
    EXPECT_EQ(Snapshot("src"), before) << k;
    EXPECT_FALSE(Exists("dst")) << "no partial copy remains, k = " << k;
    ASSERT_LT(k, 100);
  }
}

TEST_F(FilePathsTest, AFolderWithAnUnreadableFileIsNotMovedAndLosesNothing) {
  Tree("src");
  const auto before = Snapshot("src");
  // A file held open with others denied can't be read by the copy.
  FileRefnum held = Open("src\\sub\\c.txt", kAccessRead, kDenyReadWrite);
  ASSERT_NE(held, 0u);
  Owned src(P("src")), dst(P("dst"));
  PlatFileFault fault;
  fault.moveAcrossVolumes = true;
  PlatFileSetFault(&fault);
  Path out = nullptr;
  EXPECT_EQ(FPMove(src, dst, &out), kFilePermErr);
  PlatFileSetFault(nullptr);
  EXPECT_FALSE(FIsAPath(out));
  EXPECT_FALSE(Exists("dst"));
  ASSERT_EQ(RTFPClose(held), kNoErr);
  EXPECT_EQ(Snapshot("src"), before);
  // In one step the same folder moves whole.
  ASSERT_EQ(FPMove(src, dst, &out), kNoErr);
  EXPECT_EQ(Snapshot("dst"), before);
  FDisposePath(out);
}

TEST_F(FilePathsTest, ACopyThatFailsWithAChosenCodeRemovesThePartialCopy) {
  Tree("src");
  Owned src(P("src")), dst(P("dst"));
  PlatFileFault fault;
  fault.failAt = 2;
  fault.code = kPlatErrAccessDenied;
  PlatFileSetFault(&fault);
  Path out = nullptr;
  EXPECT_EQ(FPCopy(src, dst, &out), kFilePermErr);
  PlatFileSetFault(nullptr);
  FDisposePath(out);
  EXPECT_FALSE(Exists("dst"));
  EXPECT_TRUE(Exists("src/sub/deeper/d.txt"));
}

}  // namespace
