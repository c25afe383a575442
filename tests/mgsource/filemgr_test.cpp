#include <gtest/gtest.h>
#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "path_test_util.h"
#include "tools/rsrcwriter.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"
#include "test_support.h"

using namespace pathtest;
namespace fs = std::filesystem;

namespace {

using V = std::vector<std::string>;

// Every test works in a fresh temporary folder mapped as drive Q.
class FileTest : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    std::string t = (fs::temp_directory_path() / "qxfmXXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    root_ = t;
    ASSERT_EQ(PlatDriveMap('Q', root_.c_str(), kPlatDriveFixed), 0);
  }
  void TearDown() override {
    FSetResExt(nullptr, nullptr);
    PlatDriveMap('Q', nullptr, 0);
    std::error_code ec;
    fs::remove_all(root_, ec);
    FExitFileMgr();
  }
  std::string Host(const std::string& rel) const { return root_ + "/" + rel; }
  static Path Q(const std::string& rel) { return ToPath("Q:\\" + rel); }
  void Write(const std::string& rel, const std::string& data) {
    std::ofstream(Host(rel), std::ios::binary) << data;
  }
  std::string Read(const std::string& rel) {
    std::ifstream in(Host(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void MakeDir(const std::string& rel) { fs::create_directories(Host(rel)); }

  std::string root_;
};

class FileOpen : public FileTest {};
class FileIO : public FileTest {};
class FileFolders : public FileTest {};
class FileInfo : public FileTest {};
class FileNames : public FileTest {};
class FileLayer : public FileTest {};

// An extension table of (type, extension) entries.
UHandle ExtTable(const std::vector<std::pair<std::string, std::string>>& entries) {
  UHandle h = AZNewHClr(int32(4 + 8 * entries.size()));
  int32 n = int32(entries.size());
  std::memcpy(*h, &n, 4);
  for (size_t i = 0; i < entries.size(); ++i) {
    std::memcpy(*h + 4 + 8 * i, entries[i].first.data(), 4);
    std::memcpy(*h + 8 + 8 * i, entries[i].second.data(), entries[i].second.size());
  }
  return h;
}

void SetTables() {
  FSetResExt(ExtTable({{"QXAR", "qlb"}, {"QXIN", "qvi"}}), ExtTable({{"QXCC", "ctl"}, {"QXAR", "arc"}}));
}

CPStrHandle NewNames() { return reinterpret_cast<CPStrHandle>(AZNewHClr(4)); }
DirEntryTypeHandle NewTypes() { return reinterpret_cast<DirEntryTypeHandle>(AZNewHandle(0)); }

V Names(CPStrHandle h) {
  V v;
  int32 n = (*h)->cnt;
  const uChar* p = (*h)->str;
  for (int32 i = 0; i < n; ++i, p += 1 + p[0]) v.push_back(Str(p));
  return v;
}

int32 TypeCount(DirEntryTypeHandle h) {
  return AZGetHandleSize(reinterpret_cast<UHandle>(h)) / int32(sizeof(DirEntryType));
}

struct Listed {
  V names;
  std::vector<DirEntryType> types;
  MgErr err;
};

Listed List(Path p, int32 options = 0) {
  CPStrHandle names = NewNames();
  DirEntryTypeHandle types = NewTypes();
  Listed l;
  l.err = FListDirEx(p, names, types, options);
  l.names = Names(names);
  for (int32 i = 0; i < TypeCount(types); ++i) l.types.push_back((*types)[i]);
  AZDisposeHandle(reinterpret_cast<UHandle>(names));
  AZDisposeHandle(reinterpret_cast<UHandle>(types));
  return l;
}

const uInt32 kUnknown = FourCC("????");

}  // namespace

// ----------------------------------------------------------- opening files

TEST_F(FileOpen, BadArgumentsAndMissingFiles) {
  FileRef f = reinterpret_cast<FileRef>(1);
  EXPECT_EQ(FMOpen(&f, Owned(ToPath("C:\\")), kAccessRead, kDenyNone), kArgErr);
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(FMOpen(&f, Owned(Q("missing.txt")), kAccessRead, kDenyNone), kFileNotFoundErr);
  EXPECT_EQ(FMOpen(&f, Owned(Q("nodir\\missing.txt")), kAccessRead, kDenyNone), kFileNotFoundErr);
  Write("a.txt", "x");
  Owned a(Q("a.txt"));
  EXPECT_EQ(FMOpen(&f, a, 4, kDenyNone), kArgErr);
  EXPECT_EQ(FMOpen(&f, a, kAccessRead, 3), kArgErr);
  EXPECT_EQ(FMOpen(&f, a, -1, kDenyNone), kArgErr);
  EXPECT_EQ(FMOpen(nullptr, a, kAccessRead, kDenyNone), kArgErr);
  EXPECT_EQ(FMOpen(&f, Owned(ToPath("rel\\a.txt")), kAccessRead, kDenyNone), kArgErr);
  EXPECT_EQ(FMOpen(&f, Owned(FNotAPath(nullptr)), kAccessRead, kDenyNone), kArgErr);
  // A folder is no file.
  MakeDir("sub");
  EXPECT_EQ(FMOpen(&f, Owned(Q("sub")), kAccessRead, kDenyNone), kFilePermErr);
  // An unmapped drive.
  EXPECT_EQ(FMOpen(&f, Owned(ToPath("W:\\x")), kAccessRead, kDenyNone), kFileNotFoundErr);
}

TEST_F(FileOpen, CreateNewAndAlways) {
  Owned p(Q("new.txt"));
  FileRef f = nullptr;
  ASSERT_EQ(FCreate(&f, p, 0666, kAccessReadWrite, kDenyReadWrite, nullptr), kNoErr);
  ASSERT_NE(f, nullptr);
  int32 n = 0;
  EXPECT_EQ(FMWrite(f, 5, &n, "hello"), kNoErr);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(FMClose(f), kNoErr);
  EXPECT_EQ(Read("new.txt"), "hello");
  EXPECT_EQ(FCreate(&f, p, 0666, kAccessReadWrite, kDenyReadWrite, nullptr), kDupPathErr);
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(FCreate(&f, p, 0666, kAccessWriteTruncate, kDenyNone, nullptr), kArgErr);
  ASSERT_EQ(FCreateAlways(&f, p, 0666, kAccessWrite, kDenyNone, nullptr), kNoErr);
  EXPECT_EQ(FMClose(f), kNoErr);
  EXPECT_EQ(Read("new.txt"), "");
}

TEST_F(FileOpen, AccessThreeCutsTheFile) {
  Write("t.txt", "0123456789");
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, Owned(Q("t.txt")), kAccessWriteTruncate, kDenyNone), kNoErr);
  int32 size = -1;
  EXPECT_EQ(FGetEOF(f, &size), kNoErr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(FMClose(f), kNoErr);
  // Access 3 needs the file to exist.
  EXPECT_EQ(FMOpen(&f, Owned(Q("none.txt")), kAccessWriteTruncate, kDenyNone), kFileNotFoundErr);
}

TEST_F(FileOpen, SecondExclusiveOpenFailsAfterThreeTries) {
  Write("x.txt", "data");
  Owned p(Q("x.txt"));
  FileRef a = nullptr, b = nullptr;
  ASSERT_EQ(FMOpen(&a, p, kAccessReadWrite, kDenyReadWrite), kNoErr);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(FMOpen(&b, p, kAccessRead, kDenyNone), kFilePermErr);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 95);  // two pauses of 50 ms between three tries
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(FMClose(a), kNoErr);
  ASSERT_EQ(FMOpen(&b, p, kAccessRead, kDenyNone), kNoErr);
  EXPECT_EQ(FMClose(b), kNoErr);
}

TEST_F(FileOpen, DenyWriteAdmitsReadersOnly) {
  Write("s.txt", "data");
  Owned p(Q("s.txt"));
  FileRef a = nullptr, r = nullptr, w = nullptr;
  ASSERT_EQ(FMOpen(&a, p, kAccessRead, kDenyWrite), kNoErr);
  EXPECT_EQ(FMOpen(&r, p, kAccessRead, kDenyNone), kNoErr);
  EXPECT_EQ(FMOpen(&w, p, kAccessWrite, kDenyNone), kFilePermErr);
  // An open that would deny the reader's access already granted fails too.
  FileRef x = nullptr;
  EXPECT_EQ(FMOpen(&x, p, kAccessRead, kDenyReadWrite), kFilePermErr);
  EXPECT_EQ(FMClose(r), kNoErr);
  EXPECT_EQ(FMClose(a), kNoErr);
  EXPECT_EQ(FMOpen(&w, p, kAccessWrite, kDenyNone), kNoErr);
  EXPECT_EQ(FMClose(w), kNoErr);
  // A file open in this process can't be removed.
  ASSERT_EQ(FMOpen(&a, p, kAccessRead, kDenyNone), kNoErr);
  EXPECT_EQ(FRemove(p), kFilePermErr);
  EXPECT_EQ(FMClose(a), kNoErr);
  EXPECT_EQ(FRemove(p), kNoErr);
}

// ------------------------------------------------------- reading, writing

TEST_F(FileIO, SeeksStopAtBothEnds) {
  Write("f.bin", "0123456789");
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, Owned(Q("f.bin")), kAccessReadWrite, kDenyNone), kNoErr);
  int32 pos = -1;
  EXPECT_EQ(FMSeek(f, 11, kFStart), kEOFErr);
  EXPECT_EQ(FMTell(f, &pos), kNoErr);
  EXPECT_EQ(pos, 10);
  EXPECT_EQ(FMSeek(f, -1, kFStart), kEOFErr);
  EXPECT_EQ(FMTell(f, &pos), kNoErr);
  EXPECT_EQ(pos, 0);
  EXPECT_EQ(FMSeek(f, 4, kFStart), kNoErr);
  EXPECT_EQ(FMSeek(f, 0, kFCurrent), kNoErr);
  EXPECT_EQ(FMSeek(f, 2, kFCurrent), kNoErr);
  EXPECT_EQ(FMTell(f, &pos), kNoErr);
  EXPECT_EQ(pos, 6);
  EXPECT_EQ(FMSeek(f, -7, kFCurrent), kEOFErr);
  EXPECT_EQ(FMTell(f, &pos), kNoErr);
  EXPECT_EQ(pos, 0);
  EXPECT_EQ(FMSeek(f, -3, kFEnd), kNoErr);
  EXPECT_EQ(FMTell(f, &pos), kNoErr);
  EXPECT_EQ(pos, 7);
  EXPECT_EQ(FMSeek(f, -2, 99), kNoErr);  // any other mode counts from the end
  EXPECT_EQ(FMTell(f, &pos), kNoErr);
  EXPECT_EQ(pos, 8);
  EXPECT_EQ(FMClose(f), kNoErr);
}

TEST_F(FileIO, ReadsAtTheEndAndShortReads) {
  Write("r.bin", "abcdef");
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, Owned(Q("r.bin")), kAccessRead, kDenyNone), kNoErr);
  uChar buf[16] = {};
  int32 n = -1;
  EXPECT_EQ(FMRead(f, 4, &n, buf), kNoErr);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(FMRead(f, 4, &n, buf), kEOFErr);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(std::memcmp(buf, "ef", 2), 0);
  EXPECT_EQ(FMRead(f, 4, &n, buf), kEOFErr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(FMRead(f, 0, nullptr, nullptr), kNoErr);
  EXPECT_EQ(FMRead(f, -1, &n, buf), kArgErr);
  EXPECT_EQ(FMWrite(f, 1, &n, "x"), kFilePermErr);  // opened for reading
  EXPECT_EQ(FMClose(f), kNoErr);
}

TEST_F(FileIO, SetEndOfFileKeepsThePositionInside) {
  Write("e.bin", "0123456789");
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, Owned(Q("e.bin")), kAccessReadWrite, kDenyNone), kNoErr);
  EXPECT_EQ(FSetEOF(f, -1), kArgErr);
  int32 pos = -1, size = -1;
  ASSERT_EQ(FMSeek(f, 8, kFStart), kNoErr);
  EXPECT_EQ(FSetEOF(f, 5), kNoErr);
  EXPECT_EQ(FMTell(f, &pos), kNoErr);
  EXPECT_EQ(pos, 5);
  ASSERT_EQ(FMSeek(f, 2, kFStart), kNoErr);
  EXPECT_EQ(FSetEOF(f, 20), kNoErr);
  EXPECT_EQ(FMTell(f, &pos), kNoErr);
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(FGetEOF(f, &size), kNoErr);
  EXPECT_EQ(size, 20);
  EXPECT_EQ(FFlush(f), kNoErr);
  EXPECT_EQ(FMClose(f), kNoErr);
  EXPECT_EQ(Read("e.bin"), std::string("01234") + std::string(15, '\0'));
}

TEST_F(FileIO, RangeLocksConflictBetweenOpens) {
  Write("l.bin", std::string(100, 'x'));
  Owned p(Q("l.bin"));
  FileRef a = nullptr, b = nullptr;
  ASSERT_EQ(FMOpen(&a, p, kAccessReadWrite, kDenyNone), kNoErr);
  ASSERT_EQ(FMOpen(&b, p, kAccessReadWrite, kDenyNone), kNoErr);
  EXPECT_EQ(FLockOrUnlockRange(a, kFStart, 10, 10, 1), kNoErr);
  EXPECT_EQ(FLockOrUnlockRange(b, kFStart, 15, 10, 1), kFilePermErr);
  EXPECT_EQ(FLockOrUnlockRange(a, kFStart, 19, 1, 1), kFilePermErr);  // overlaps its own
  EXPECT_EQ(FLockOrUnlockRange(b, kFStart, 20, 10, 1), kNoErr);        // touches, no overlap
  EXPECT_EQ(FLockOrUnlockRange(b, kFStart, 10, 10, 0), kArgErr);       // not b's lock
  EXPECT_EQ(FLockOrUnlockRange(a, kFStart, 10, 5, 0), kArgErr);        // not the exact range
  EXPECT_EQ(FLockOrUnlockRange(a, kFStart, 10, 10, 0), kNoErr);
  EXPECT_EQ(FLockOrUnlockRange(b, kFStart, 15, 5, 1), kNoErr);
  // From the end and from the current position.
  EXPECT_EQ(FLockOrUnlockRange(a, kFEnd, -10, 5, 1), kNoErr);
  EXPECT_EQ(FLockOrUnlockRange(b, kFStart, 92, 1, 1), kFilePermErr);
  ASSERT_EQ(FMSeek(b, 50, kFStart), kNoErr);
  EXPECT_EQ(FLockOrUnlockRange(b, kFCurrent, 0, 5, 1), kNoErr);
  EXPECT_EQ(FLockOrUnlockRange(a, kFStart, 52, 1, 1), kFilePermErr);
  EXPECT_EQ(FLockOrUnlockRange(a, 4, 0, 1, 1), kArgErr);
  EXPECT_EQ(FLockOrUnlockRange(a, kFStart, -5, 1, 1), kArgErr);
  // Closing gives the locks up.
  EXPECT_EQ(FMClose(b), kNoErr);
  EXPECT_EQ(FLockOrUnlockRange(a, kFStart, 0, 100, 0), kArgErr);
  EXPECT_EQ(FLockOrUnlockRange(a, kFStart, 15, 5, 1), kNoErr);
  EXPECT_EQ(FMClose(a), kNoErr);
}

TEST_F(FileIO, NullAndStaleReferencesGiveOne) {
  int32 n;
  uChar buf[4];
  EXPECT_EQ(FMClose(nullptr), kArgErr);
  EXPECT_EQ(FMRead(nullptr, 1, &n, buf), kArgErr);
  EXPECT_EQ(FMWrite(nullptr, 1, &n, buf), kArgErr);
  EXPECT_EQ(FMSeek(nullptr, 0, kFStart), kArgErr);
  EXPECT_EQ(FMTell(nullptr, &n), kArgErr);
  EXPECT_EQ(FGetEOF(nullptr, &n), kArgErr);
  EXPECT_EQ(FSetEOF(nullptr, 0), kArgErr);
  EXPECT_EQ(FFlush(nullptr), kArgErr);
  EXPECT_EQ(FLockOrUnlockRange(nullptr, kFStart, 0, 1, 1), kArgErr);
  Write("c.txt", "x");
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, Owned(Q("c.txt")), kAccessRead, kDenyNone), kNoErr);
  EXPECT_EQ(FMClose(f), kNoErr);
  EXPECT_EQ(FMClose(f), kArgErr);
  EXPECT_EQ(FMRead(f, 1, &n, buf), kArgErr);
}

TEST_F(FileIO, SparseFileOfFiveGigabytes) {
  Owned p(Q("big.bin"));
  FileRef f = nullptr;
  ASSERT_EQ(FCreate(&f, p, 0666, kAccessReadWrite, kDenyNone, nullptr), kNoErr);
  ASSERT_EQ(FMClose(f), kNoErr);
  if (truncate(Host("big.bin").c_str(), 5LL << 30) != 0) GTEST_SKIP() << "no sparse files here";
  FileInfoRec info;
  ASSERT_EQ(FGetInfo(p, &info), kNoErr);
  EXPECT_EQ(info.size, 0x7FFFFFFF);
  ASSERT_EQ(FMOpen(&f, p, kAccessRead, kDenyNone), kNoErr);
  int32 size = 0;
  EXPECT_EQ(FGetEOF(f, &size), kArgErr);  // beyond what 32 bits tell
  EXPECT_EQ(FMSeek(f, 0, kFEnd), kNoErr);
  EXPECT_EQ(FMTell(f, &size), kArgErr);
  EXPECT_EQ(FMClose(f), kNoErr);
}

TEST_F(FileIO, WritesReachTheDiskAndModDatesFollow) {
  Owned p(Q("w.bin"));
  FileRef f = nullptr;
  ASSERT_EQ(FCreate(&f, p, 0666, kAccessReadWrite, kDenyNone, nullptr), kNoErr);
  std::string data(100000, 'q');
  int32 n = 0;
  EXPECT_EQ(FMWrite(f, int32(data.size()), &n, data.data()), kNoErr);
  EXPECT_EQ(n, int32(data.size()));
  uInt32 byRef = 0, byPath = 0;
  Bool32 ro = 1;
  EXPECT_EQ(FGetModDate(nullptr, f, &byRef, &ro), kNoErr);
  EXPECT_EQ(ro, 0);
  EXPECT_EQ(FMClose(f), kNoErr);
  EXPECT_EQ(Read("w.bin"), data);
  EXPECT_EQ(FGetModDate(p, nullptr, &byPath, nullptr), kNoErr);
  EXPECT_EQ(byRef, byPath);
  EXPECT_GT(byPath, 3000000000u);  // a date after 1999
  EXPECT_EQ(FGetModDate(Owned(ToPath("Q:")), nullptr, &byPath, nullptr), kNoErr);
  EXPECT_EQ(byPath, 0u);
  EXPECT_EQ(FGetModDate(Owned(FEmptyPath(nullptr)), nullptr, &byPath, nullptr), kNoErr);
  EXPECT_EQ(FGetModDate(p, nullptr, nullptr, nullptr), kArgErr);
}

// --------------------------------------------------------------- folders

TEST_F(FileFolders, ListingIsSortedWithoutCase) {
  MakeDir("d");
  Write("d/b", "");
  Write("d/A", "");
  Write("d/c", "");
  MakeDir("d/sub");
  Listed l = List(Owned(Q("d")));
  EXPECT_EQ(l.err, kNoErr);
  EXPECT_EQ(l.names, (V{"A", "b", "c", "sub"}));
  ASSERT_EQ(l.types.size(), 4u);
  EXPECT_EQ(l.types[0].flags, kIsFile);
  EXPECT_EQ(l.types[3].flags, 0);
  // Without types.
  CPStrHandle names = NewNames();
  EXPECT_EQ(FListDir(Owned(Q("d")), names, nullptr), kNoErr);
  EXPECT_EQ(Names(names), (V{"A", "b", "c", "sub"}));
  EXPECT_EQ(FListDir(Owned(Q("d")), nullptr, nullptr), kArgErr);
  AZDisposeHandle(reinterpret_cast<UHandle>(names));
}

TEST_F(FileFolders, RegisteredExtensionsAndDanglingLinks) {
  SetTables();
  MakeDir("d");
  Write("d/lib.QLB", "");
  Write("d/x.ctl", "");
  Write("d/plain.txt", "");
  ASSERT_EQ(symlink(Host("d/nowhere").c_str(), Host("d/dangling").c_str()), 0);
  Listed l = List(Owned(Q("d")));
  ASSERT_EQ(l.names, (V{"dangling", "lib.QLB", "plain.txt", "x.ctl"}));
  EXPECT_EQ(l.types[0].flags, kIsFile | kErrGettingType);
  EXPECT_EQ(l.types[1].flags, kIsFile | kRecognizedType);
  EXPECT_EQ(l.types[1].type, FourCC("QXAR"));
  EXPECT_EQ(l.types[2].flags, kIsFile);
  EXPECT_EQ(l.types[3].flags, kIsFile | kRecognizedType);
  EXPECT_EQ(l.types[3].type, FourCC("QXCC"));
}

TEST_F(FileFolders, MissingAndEmptyFolders) {
  Listed missing = List(Owned(Q("nothere")));
  EXPECT_EQ(missing.err, kFileNotFoundErr);
  Write("file", "");
  EXPECT_EQ(List(Owned(Q("file"))).err, kFileNotFoundErr);
  MakeDir("empty");
  CPStrHandle names = NewNames();
  DirEntryTypeHandle types = NewTypes();
  EXPECT_EQ(FListDirEx(Owned(Q("empty")), names, types, 0), kNoErr);
  EXPECT_EQ((*names)->cnt, 0);
  EXPECT_EQ(AZGetHandleSize(reinterpret_cast<UHandle>(names)), 4);
  EXPECT_EQ(TypeCount(types), 0);
  // The root of a drive lists its entries, with no "." or "..".
  Listed root = List(Owned(ToPath("Q:")));
  EXPECT_EQ(root.names, (V{"empty", "file"}));
  EXPECT_EQ(FListDirEx(Owned(ToPath("x\\y")), names, types, 0), kArgErr);
  AZDisposeHandle(reinterpret_cast<UHandle>(names));
  AZDisposeHandle(reinterpret_cast<UHandle>(types));
}

TEST_F(FileFolders, EmptyPathListsTheDrives) {
  ASSERT_EQ(PlatDriveMap('D', root_.c_str(), kPlatDriveRemovable), 0);
  ASSERT_EQ(PlatDriveMap('E', root_.c_str(), kPlatDriveRemote), 0);
  ASSERT_EQ(PlatDriveMap('F', root_.c_str(), kPlatDriveCDROM), 0);
  ASSERT_EQ(PlatDriveMap('G', root_.c_str(), kPlatDriveRAM), 0);
  Listed l = List(Owned(FEmptyPath(nullptr)));
  EXPECT_EQ(l.err, kNoErr);
  EXPECT_EQ(l.names, (V{"C", "D", "E", "F", "G", "Q"}));
  const uInt32 kinds[] = {FourCC("hdsk"), FourCC("flpy"), FourCC("srvr"),
                          FourCC("flpy"), FourCC("hdsk"), FourCC("hdsk")};
  ASSERT_EQ(l.types.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(l.types[i].flags, kRecognizedType) << i;
    EXPECT_EQ(l.types[i].type, kinds[i]) << i;
  }
  EXPECT_EQ(std::memcmp(&l.types[2].type, "srvr", 4), 0);
  FileInfoRec info;
  ASSERT_EQ(FGetInfo(Owned(FEmptyPath(nullptr)), &info), kNoErr);
  EXPECT_EQ(info.size, 6);
  EXPECT_EQ(info.folder, 1);
  EXPECT_EQ(info.type, kUnknown);
  EXPECT_EQ(info.permissions, 0);
  EXPECT_EQ(info.mdate, 0u);
  for (char c : {'D', 'E', 'F', 'G'}) PlatDriveMap(c, nullptr, 0);
}

TEST_F(FileFolders, HeaderOptionAsksTheResourceManager) {
  MakeDir("d");
  ASSERT_TRUE(rsrcw::WriteHostFile(Host("d/one.bin"), rsrcw::Writer(FourCC("QXRS"), 0).Write()));
  Write("d/two.qlb", "");
  SetTables();
  Listed l = List(Owned(Q("d")), kListByHeader);
  ASSERT_EQ(l.names, (V{"one.bin", "two.qlb"}));
  EXPECT_EQ(l.types[0].flags, kIsFile | kRecognizedType);
  EXPECT_EQ(l.types[0].type, FourCC("QXRS"));
  EXPECT_EQ(l.types[1].flags, kIsFile);  // by header, not by extension
  Listed byExt = List(Owned(Q("d")));
  EXPECT_EQ(byExt.types[0].flags, kIsFile);
  EXPECT_EQ(byExt.types[1].flags, kIsFile | kRecognizedType);
}

TEST_F(FileFolders, ShortcutsAreFollowed) {
  SetTables();
  MakeDir("d");
  MakeDir("real");
  Write("real/lib.qlb", "");
  Write("real/inner.txt", "inside");
  MakeDir("rdrive");
  // Shortcuts are symbolic links whose names end in ".lnk".
  fs::create_symlink(Host("rdrive"), Host("d/todrive.lnk"));
  fs::create_symlink(Host("real/lib.qlb"), Host("d/tofile.lnk"));
  fs::create_symlink(Host("real/gone"), Host("d/gone.lnk"));
  fs::create_symlink("../real", Host("d/walk.lnk"));
  ASSERT_EQ(PlatDriveMap('R', Host("rdrive").c_str(), kPlatDriveRemovable), 0);
  Listed l = List(Owned(Q("d")));
  ASSERT_EQ(l.names, (V{"gone.lnk", "todrive.lnk", "tofile.lnk", "walk.lnk"}));
  EXPECT_EQ(l.types[0].flags, kIsLink | kIsFile | kErrGettingType);
  EXPECT_EQ(l.types[1].flags, kIsLink | kRecognizedType);
  EXPECT_EQ(l.types[1].type, FourCC("flpy"));
  EXPECT_EQ(l.types[2].flags, kIsLink | kIsFile | kRecognizedType);
  EXPECT_EQ(l.types[2].type, FourCC("QXAR"));
  EXPECT_EQ(l.types[3].flags, kIsLink);
  // A shortcut inside a path leads there when the file is opened.
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, Owned(Q("d\\walk.lnk\\inner.txt")), kAccessRead, kDenyNone), kNoErr);
  uChar buf[8];
  int32 n = 0;
  EXPECT_EQ(FMRead(f, 6, &n, buf), kNoErr);
  EXPECT_EQ(std::memcmp(buf, "inside", 6), 0);
  EXPECT_EQ(FMClose(f), kNoErr);
  char text[kHostTextBufSize];
  EXPECT_EQ(FPathToHostText(Owned(Q("d\\walk.lnk\\inner.txt")), text), kNoErr);
  EXPECT_STREQ(text, "Q:\\real\\inner.txt");
  // FGetInfo goes through the host text and back.
  FileInfoRec info;
  ASSERT_EQ(FGetInfo(Owned(Q("d\\tofile.lnk")), &info), kNoErr);
  EXPECT_EQ(info.type, FourCC("QXAR"));
  PlatDriveMap('R', nullptr, 0);
}

TEST_F(FileFolders, CreateRemoveMoveAndCopy) {
  Owned dir(Q("made"));
  EXPECT_EQ(FNewDir(dir), kNoErr);
  EXPECT_TRUE(fs::is_directory(Host("made")));
  EXPECT_EQ(FNewDir(dir), kDupPathErr);
  EXPECT_EQ(FNewDir(Owned(Q("con"))), kArgErr);
  Owned bad(Q("made"));
  FAppendName(bad, PS("a?b"));
  EXPECT_EQ(FNewDir(bad), kArgErr);

  Write("made/f.txt", "content");
  EXPECT_EQ(FRemove(dir), kFileIOErr);  // not empty
  EXPECT_TRUE(fs::exists(Host("made/f.txt")));

  Owned from(Q("made\\f.txt")), to(Q("g.txt"));
  EXPECT_EQ(FCopy(from, to), kNoErr);
  EXPECT_EQ(Read("g.txt"), "content");
  EXPECT_EQ(FCopy(from, to), kDupPathErr);
  EXPECT_EQ(FCopy(Owned(ToPath("Q:")), Owned(Q("x"))), kArgErr);
  EXPECT_EQ(FCopy(dir, Owned(Q("dircopy"))), kFilePermErr);  // folders aren't copied
  EXPECT_EQ(FCopy(Owned(Q("nothing")), Owned(Q("y"))), kFileNotFoundErr);

  EXPECT_EQ(FMove(from, to), kDupPathErr);  // never replaces
  Owned moved(Q("h.txt"));
  EXPECT_EQ(FMove(from, moved), kNoErr);
  EXPECT_EQ(Read("h.txt"), "content");
  EXPECT_FALSE(fs::exists(Host("made/f.txt")));
  EXPECT_EQ(FMove(Owned(ToPath("Q:")), moved), kArgErr);
  EXPECT_EQ(FMove(moved, Owned(FEmptyPath(nullptr))), kArgErr);
  // A change of letter case alone.
  EXPECT_EQ(FMove(moved, Owned(Q("H.TXT"))), kNoErr);
  EXPECT_TRUE(fs::exists(Host("H.TXT")));

  EXPECT_EQ(FRemove(Owned(Q("H.TXT"))), kNoErr);
  EXPECT_EQ(FRemove(dir), kNoErr);
  EXPECT_FALSE(fs::exists(Host("made")));
  EXPECT_EQ(FRemove(dir), kFileNotFoundErr);
  EXPECT_EQ(FRemove(Owned(ToPath("Q:"))), kFilePermErr);
}

TEST_F(FileFolders, ExistenceTests) {
  MakeDir("d");
  Write("f", "");
  EXPECT_EQ(FExists(Owned(Q("d"))), 2);
  EXPECT_EQ(FExists(Owned(Q("f"))), 1);
  EXPECT_EQ(FExists(Owned(Q("none"))), 0);
  EXPECT_EQ(FExists(Owned(FEmptyPath(nullptr))), 2);
  EXPECT_EQ(FExists(Owned(ToPath("Q:"))), 2);
  EXPECT_EQ(FExists(Owned(FNotAPath(nullptr))), 0);
  EXPECT_EQ(FExists(Owned(ToPath("rel"))), 0);
  EXPECT_EQ(FDirExistsErr(Owned(Q("d"))), kNoErr);
  EXPECT_EQ(FDirExistsErr(Owned(Q("f"))), kArgErr);
  EXPECT_EQ(FDirExistsErr(Owned(Q("none"))), kFileNotFoundErr);
}

// ------------------------------------------------------------ information

TEST_F(FileInfo, FoldersCountTheirEntries) {
  MakeDir("d/x");
  Write("d/a", "");
  Write("d/b", "");
  FileInfoRec info;
  std::memset(&info, 0x5A, sizeof info);
  ASSERT_EQ(FGetInfo(Owned(Q("d")), &info), kNoErr);
  EXPECT_EQ(info.folder, 1);
  EXPECT_EQ(info.size, 3);
  EXPECT_EQ(info.type, kUnknown);
  EXPECT_EQ(info.creator, kUnknown);
  EXPECT_EQ(info.permissions, 0777);
  EXPECT_EQ(info.reserved2, 0);
  EXPECT_EQ(info.owner[0], 0);
  EXPECT_EQ(info.group[0], 0);
  EXPECT_GT(info.mdate, 0u);
  // A drive counts everything and has no dates.
  ASSERT_EQ(FGetInfo(Owned(ToPath("Q:")), &info), kNoErr);
  EXPECT_EQ(info.size, 1);
  EXPECT_EQ(info.folder, 1);
  EXPECT_EQ(info.mdate, 0u);
  EXPECT_EQ(info.cdate, 0u);
  EXPECT_EQ(FGetInfo(Owned(Q("none")), &info), kFileNotFoundErr);
  EXPECT_EQ(FGetInfo(Owned(Q("d")), nullptr), kArgErr);
}

TEST_F(FileInfo, FilesGetTheirRegisteredType) {
  SetTables();
  Write("lib.qlb", "12345");
  Write("plain", "");
  FileInfoRec info;
  ASSERT_EQ(FGetInfo(Owned(Q("lib.qlb")), &info), kNoErr);
  EXPECT_EQ(info.folder, 0);
  EXPECT_EQ(info.size, 5);
  EXPECT_EQ(info.type, FourCC("QXAR"));
  EXPECT_EQ(info.creator, FourCC("QNLX"));
  EXPECT_EQ(std::memcmp(&info.type, "QXAR", 4), 0) << "the code's bytes as the table holds them";
  EXPECT_EQ(std::memcmp(&info.creator, "QNLX", 4), 0);
  EXPECT_EQ(info.permissions, 0666);
  EXPECT_GE(info.mdate, info.cdate);
  ASSERT_EQ(FGetInfo(Owned(Q("plain")), &info), kNoErr);
  EXPECT_EQ(info.type, kUnknown);
  EXPECT_EQ(info.creator, kUnknown);
}

TEST_F(FileInfo, SetInfoThenModDateAndRights) {
  Write("f", "x");
  Owned p(Q("f"));
  FileInfoRec info;
  ASSERT_EQ(FGetInfo(p, &info), kNoErr);
  info.mdate = 3000000000u;
  info.permissions = 0444;
  info.type = FourCC("QXIN");
  // Not a resource file: no header to change, and no failure.
  ASSERT_EQ(FSetInfo(p, &info), kNoErr);
  EXPECT_EQ(Read("f"), "x");
  uInt32 date = 0;
  Bool32 ro = 0;
  ASSERT_EQ(FGetModDate(p, nullptr, &date, &ro), kNoErr);
  EXPECT_EQ(date, 3000000000u);
  EXPECT_EQ(ro, 1);
  Str255 owner, group;
  int32 perm = 0;
  ASSERT_EQ(FGetAccessRights(p, owner, group, &perm), kNoErr);
  EXPECT_EQ(perm, 0444);
  EXPECT_EQ(FGetAccessRights(p, owner, group, nullptr), kArgErr);
  int32 rw = 0644;
  ASSERT_EQ(FSetAccessRights(p, owner, group, &rw), kNoErr);
  ASSERT_EQ(FGetAccessRights(p, owner, group, &perm), kNoErr);
  EXPECT_EQ(perm, 0666);
  // A resource file's header takes the type and creator.
  ASSERT_TRUE(rsrcw::WriteHostFile(Host("f"), rsrcw::Writer(FourCC("APPL"), 0).Write()));
  info.permissions = 0666;
  info.creator = FourCC("QNLX");
  ASSERT_EQ(FSetInfo(p, &info), kNoErr);
  uInt32 type = 0, creator = 0;
  ASSERT_EQ(RIsResFile(p, &type, &creator), kNoErr);
  EXPECT_EQ(type, FourCC("QXIN"));
  EXPECT_EQ(creator, FourCC("QNLX"));
  EXPECT_EQ(Read("f").substr(8, 8), "QXINQNLX") << "stored as the characters in reading order";
  // A resource header that can't be written is a failure; a folder record does nothing.
  FileRef other = nullptr;
  ASSERT_EQ(FMOpen(&other, p, kAccessRead, kDenyWrite), kNoErr);
  info.type = FourCC("BAD!");
  EXPECT_EQ(FSetInfo(p, &info), kFilePermErr);
  info.folder = 1;
  EXPECT_EQ(FSetInfo(p, &info), kNoErr);
  FMClose(other);
  ASSERT_EQ(RIsResFile(p, &type, nullptr), kNoErr);
  EXPECT_EQ(type, FourCC("QXIN"));
  MakeDir("d");
  ASSERT_EQ(FGetAccessRights(Owned(Q("d")), owner, group, &perm), kNoErr);
  EXPECT_EQ(perm, 0777);
  ASSERT_EQ(FGetAccessRights(Owned(FEmptyPath(nullptr)), owner, group, &perm), kNoErr);
  EXPECT_EQ(perm, 0);
}

TEST_F(FileInfo, DefaultPermissionsAndGroup) {
  mode_t old = umask(022);
  EXPECT_EQ(FGetDefPerm(0666), 0644);
  EXPECT_EQ(FGetDefPerm(0777), 0755);
  umask(old);
  LStrHandle g = FGetDefGroup(nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ((*g)->cnt, 0);
  LStrHandle same = FGetDefGroup(g);
  EXPECT_EQ(same, g);
  AZDisposeHandle(reinterpret_cast<UHandle>(g));
}

TEST_F(FileInfo, VolumesAndTheirPaths) {
  Owned p(Q("a\\b"));
  VolInfoRec v;
  ASSERT_EQ(FGetVolInfo(p, &v), kNoErr);
  EXPECT_GT(v.total, 0u);
  EXPECT_LE(v.free, v.total);
  EXPECT_EQ(FDepth(p), 1);  // cut to its volume
  float64 freeBytes = -1, total = -1;
  EXPECT_EQ(FMGetVolInfo(Owned(Q("x")), &freeBytes, &total), kNoErr);
  EXPECT_GT(total, 0);
  EXPECT_GE(freeBytes, 0);
  EXPECT_EQ(FMGetVolInfo(Owned(Q("x")), nullptr, nullptr), kNoErr);
  EXPECT_EQ(FMGetVolInfo(Owned(ToPath("W:\\x")), &freeBytes, nullptr), kFileNotFoundErr);
  EXPECT_EQ(FMGetVolInfo(Owned(ToPath("QQ:\\x")), &freeBytes, nullptr), kArgErr);
  Path vol = nullptr;
  ASSERT_EQ(FMGetVolPath(Owned(Q("a\\b")), &vol), kNoErr);
  EXPECT_EQ(Text(vol), "Q:\\");
  ASSERT_EQ(FMGetVolPath(Owned(ToPath("\\\\srv\\share\\f")), &vol), kNoErr);
  EXPECT_EQ(Text(vol), "\\\\srv\\share");
  EXPECT_EQ(FMGetVolPath(Owned(FEmptyPath(nullptr)), &vol), kArgErr);
  EXPECT_EQ(FMGetVolPath(Owned(ToPath("QQ:\\x")), &vol), kArgErr);
  FDisposePath(vol);
}

TEST_F(FileInfo, ProgramTemporaryAndCurrentFolders) {
  Owned app, file;
  ASSERT_EQ(FAppFilePath(&file), kNoErr);
  ASSERT_EQ(FAppPath(&app), kNoErr);
  EXPECT_EQ(FDepth(app) + 1, FDepth(file));
  EXPECT_EQ(FExists(file), 1);
  EXPECT_EQ(FExists(app), 2);
  size_t reports = Reports();
  char text[300];
  ASSERT_EQ(FAppFileText(text, sizeof text), kNoErr);
  EXPECT_EQ(Reports(), reports);  // no extension is no failure
  EXPECT_EQ(std::string(text), Text(file));
  EXPECT_EQ(FAppFileText(text, 3), kArgErr);

  setenv("TMPDIR", Host("").c_str(), 1);
  Owned tmp;
  ASSERT_EQ(FTempDirPath(&tmp), kNoErr);
  EXPECT_EQ(Text(tmp), "Q:\\");
  setenv("TMPDIR", Host("missing").c_str(), 1);
  ASSERT_EQ(FTempDirPath(&tmp), kNoErr);
  EXPECT_EQ(FPathCmp(tmp, app), 0);
  unsetenv("TMPDIR");

  MakeDir("cur");
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(Host("cur").c_str()), 0);
  Owned cur;
  EXPECT_EQ(FCurrentDirPath(&cur), kNoErr);
  EXPECT_EQ(chdir(old), 0);
  EXPECT_EQ(Text(cur), "Q:\\cur");

  Path os = nullptr;
  EXPECT_EQ(FGetOSFolderPath(0, &os), kFileNotFoundErr);
}

TEST_F(FileInfo, TrueNamesAndHostPaths) {
  Write("Read.Me", "r");
  Owned p(Q("READ.ME"));
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, p, kAccessRead, kDenyNone), kNoErr);
  EXPECT_EQ(FMClose(f), kNoErr);
  EXPECT_EQ(FTrueNamePath(p), kNoErr);
  EXPECT_EQ(Text(p), "Q:\\Read.Me");
  EXPECT_EQ(FTrueNamePath(Owned(Q("gone"))), kFileNotFoundErr);
  EXPECT_EQ(FTrueNamePath(Owned(ToPath("q:"))), kNoErr);

  Path h = FHostPath(nullptr, Owned(ToPath("q:\\a\\..\\b")));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Text(h), "q:\\b");
  Owned e(FEmptyPath(nullptr));
  EXPECT_EQ(FHostPath(h, e), h);
  EXPECT_TRUE(FIsEmptyPath(h));
  EXPECT_EQ(FHostPath(nullptr, Owned(ToPath("rel"))), nullptr);
  FDisposePath(h);
}

// ------------------------------------------------------------------- names

TEST_F(FileNames, DeviceNamesReservedCharactersAndDots) {
  uChar bad[256], text[256];
  EXPECT_EQ(FCheckName(PS("con"), nullptr, 0, bad, text), kNameReserved);
  EXPECT_EQ(FCheckName(PS("LPT1"), nullptr, 0, bad, text), kNameReserved);
  EXPECT_EQ(FCheckName(PS("Clock$"), nullptr, 0, bad, text), kNameReserved);
  EXPECT_EQ(FCheckName(PS("com0"), nullptr, 0, bad, text), kNameReserved);
  EXPECT_EQ(FCheckName(PS("lpt"), nullptr, 0, bad, text), 0);
  EXPECT_EQ(FCheckName(PS("LPT12"), nullptr, 0, bad, text), 0);
  EXPECT_EQ(FCheckName(PS("COMx"), nullptr, 0, bad, text), 0);
  EXPECT_EQ(FCheckName(PS("con.txt"), nullptr, 0, bad, text), 0);
  EXPECT_EQ(FCheckName(PS("a:b"), nullptr, 0, bad, text), kNameBadChar);
  EXPECT_EQ(Str(bad), ":");
  EXPECT_EQ(FCheckName(PS("x."), nullptr, 0, bad, text), kNameEndsWithDot);
  EXPECT_EQ(Str(bad), "");
  EXPECT_EQ(FCheckName(PS("a*b?c/d"), nullptr, 0, bad, text), kNameBadChar);
  EXPECT_EQ(Str(bad), "/?*");  // collected stepping back from the end
  EXPECT_EQ(FCheckName(PS("<|>\"\\"), nullptr, 0, bad, text), kNameBadChar);
  EXPECT_EQ(Str(bad), "\\\">|<");
  EXPECT_EQ(FCheckName(PS("nul:."), nullptr, 0, bad, text), kNameBadChar | kNameEndsWithDot);
  EXPECT_EQ(FCheckName(PS("\xe9t\xe9"), nullptr, 0, bad, text), 0);
  bad[0] = text[0] = 3;
  EXPECT_EQ(FCheckName(PS(""), nullptr, 0, bad, text), kNameEmpty);
  EXPECT_EQ(bad[0], 0);
  EXPECT_EQ(text[0], 0);
  EXPECT_EQ(FCheckName(PS("a:b"), nullptr, 1, bad, text), 0);
  EXPECT_EQ(FCheckName(nullptr, nullptr, 0, nullptr, nullptr), kNameEmpty);
  EXPECT_EQ(FNameCheck(PS("prn"), nullptr), kNameReserved);
}

TEST_F(FileNames, ExtensionsAreStrippedAndAppended) {
  uChar name[256];
  std::memcpy(name, PS("file.qlb").b, 9);
  EXPECT_EQ(PStrStripRezExt(name, 0), 4);
  EXPECT_EQ(Str(name), "file");
  EXPECT_EQ(PStrStripRezExt(name, 0), 0);
  std::memcpy(name, PS("a.toolong").b, 10);
  EXPECT_EQ(PStrStripRezExt(name, 0), 0);
  std::memcpy(name, PS("x.").b, 3);
  EXPECT_EQ(PStrStripRezExt(name, 0), 0);

  EXPECT_EQ(PStrHasRezExt(PS("lib.qlb")), 0u);  // no tables yet
  EXPECT_EQ(HasRezExt(Owned(Q("lib.qlb"))), 0u);
  SetTables();
  EXPECT_EQ(PStrHasRezExt(PS("lib.QLB")), FourCC("QXAR"));
  EXPECT_EQ(PStrHasRezExt(PS("x.arc")), FourCC("QXAR"));
  EXPECT_EQ(PStrHasRezExt(PS("x.qlbb")), 0u);
  EXPECT_EQ(HasRezExt(Owned(Q("dir\\v.qvi"))), FourCC("QXIN"));
  std::memcpy(name, PS("v.qvi").b, 6);
  EXPECT_EQ(PStrStripRezExt(name, FourCC("QXAR")), 0);
  EXPECT_EQ(PStrStripRezExt(name, FourCC("QXIN")), 4);
  EXPECT_EQ(PStrAppendRezExt(name, FourCC("QXAR")), kNoErr);
  EXPECT_EQ(Str(name), "v.qlb");  // the first table first
  EXPECT_EQ(PStrAppendRezExt(name, FourCC("QXCC")), kNoErr);
  EXPECT_EQ(Str(name), "v.qlb.ctl");
  EXPECT_EQ(PStrAppendRezExt(name, FourCC("NONE")), kRsrcNotFoundErr);
  std::memcpy(name, PS(std::string(252, 'n')).b, 253);
  EXPECT_EQ(PStrAppendRezExt(name, FourCC("QXAR")), kArgErr);
  EXPECT_EQ(name[0], 252);
  std::memcpy(name, PS(std::string(251, 'n')).b, 252);
  EXPECT_EQ(PStrAppendRezExt(name, FourCC("QXAR")), kNoErr);
  EXPECT_EQ(name[0], 255);
}

TEST_F(FileNames, TablesWithCountsPastTheirHandles) {
  UHandle t = ExtTable({{"QXAR", "qlb"}});
  int32 lie = 1000;
  std::memcpy(*t, &lie, 4);
  FSetResExt(t, nullptr);
  EXPECT_EQ(PStrHasRezExt(PS("a.qlb")), FourCC("QXAR"));
  EXPECT_EQ(PStrHasRezExt(PS("a.zzz")), 0u);
  lie = -5;
  std::memcpy(*t, &lie, 4);
  EXPECT_EQ(PStrHasRezExt(PS("a.qlb")), 0u);
}

TEST_F(FileNames, PatternsGainTheirDots) {
  auto fits = [](const std::string& pat, const std::string& name) {
    return FStrFitsPat(reinterpret_cast<const uChar*>(pat.data()), reinterpret_cast<const uChar*>(name.data()),
                       int32(pat.size()), int32(name.size())) != 0;
  };
  EXPECT_TRUE(fits("*", "readme"));       // "*.*" against "readme."
  EXPECT_TRUE(fits("*.*", "readme"));
  EXPECT_TRUE(fits("a*", "abc.txt"));     // "a*.*"
  EXPECT_TRUE(fits("*.TXT", "notes.txt"));
  EXPECT_FALSE(fits("*.txt", "readme"));
  EXPECT_TRUE(fits("?", "a"));
  EXPECT_FALSE(fits("?", "ab"));
  EXPECT_TRUE(fits("*.", "readme"));
}

// ---------------------------------------------------------- the host layer

TEST_F(FileLayer, HostTextRefusesBadComponents) {
  char text[kHostTextBufSize];
  EXPECT_EQ(FPathToHostText(Owned(ToPath("C:\\tmp")), text), kNoErr);
  EXPECT_STREQ(text, "C:\\tmp");
  EXPECT_EQ(FPathToHostText(Owned(ToPath("c:")), text), kNoErr);
  EXPECT_STREQ(text, "c:\\");
  for (const char* name : {"..", ".", "a/b", "con", "x:y", "a*"}) {
    Owned p(ToPath("C:\\tmp"));
    ASSERT_EQ(FAppendName(p, PS(name)), kNoErr);
    EXPECT_EQ(FPathToHostText(p, text), kArgErr) << name;
    EXPECT_STREQ(text, "") << name;
  }
  Owned nul(ToPath("C:\\tmp"));
  ASSERT_EQ(FAppendName(nul, PS(std::string("a\0b", 3))), kNoErr);
  EXPECT_EQ(FPathToHostText(nul, text), kArgErr);
  EXPECT_EQ(FPathToHostText(Owned(ToPath("CD:\\x")), text), kArgErr);
  EXPECT_EQ(FPathToHostText(Owned(ToPath("1:\\x")), text), kArgErr);
  EXPECT_EQ(FPathToHostText(Owned(ToPath("rel")), text), kArgErr);
  EXPECT_EQ(FPathToHostText(Owned(FEmptyPath(nullptr)), text), kArgErr);
  // 260 characters at most.
  Owned fit(ToPath("C:\\" + std::string(255, 'a') + "\\b"));
  EXPECT_EQ(FPathToHostText(fit, text), kNoErr);
  EXPECT_EQ(std::strlen(text), 260u);
  Owned over(ToPath("C:\\" + std::string(255, 'a') + "\\bc"));
  EXPECT_EQ(FPathToHostText(over, text), kArgErr);
}

TEST_F(FileLayer, DrivesMapBothWays) {
  std::string host;
  bool root = true;
  ASSERT_EQ(PlatResolveSysText("C:\\tmp", &host, &root), 0);
  EXPECT_EQ(host, "/tmp");
  EXPECT_FALSE(root);
  std::string text;
  ASSERT_TRUE(PlatHostToSysText("/tmp", &text));
  EXPECT_EQ(text, "C:\\tmp");
  ASSERT_TRUE(PlatHostToSysText(Host("a/b").c_str(), &text));
  EXPECT_EQ(text, "Q:\\a\\b");  // the longest root wins
  ASSERT_TRUE(PlatHostToSysText(root_.c_str(), &text));
  EXPECT_EQ(text, "Q:\\");
  // Up-steps stop at the drive's root.
  ASSERT_EQ(PlatResolveSysText("Q:\\..\\..\\x", &host, nullptr), 0);
  EXPECT_EQ(host, Host("x"));
  ASSERT_EQ(PlatResolveSysText("Q:\\a\\..\\..", &host, &root), 0);
  EXPECT_EQ(host, root_);
  EXPECT_TRUE(root);
  EXPECT_EQ(PlatResolveSysText("W:\\x", &host, nullptr), 3);
  EXPECT_EQ(PlatResolveSysText("x\\y", &host, nullptr), 3);
  // A share.
  ASSERT_EQ(PlatShareMap("\\\\Srv\\Pub", Host("").c_str()), 0);
  ASSERT_EQ(PlatResolveSysText("\\\\srv\\pub\\f", &host, nullptr), 0);
  EXPECT_EQ(host, Host("f"));
  Write("f", "net");
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, Owned(ToPath("\\\\SRV\\PUB\\f")), kAccessRead, kDenyNone), kNoErr);
  EXPECT_EQ(FMClose(f), kNoErr);
  EXPECT_EQ(PlatVolumeKind("\\\\srv\\pub\\"), kPlatDriveRemote);
  ASSERT_EQ(PlatShareMap("\\\\Srv\\Pub", nullptr), 0);
  EXPECT_EQ(FMOpen(&f, Owned(ToPath("\\\\SRV\\PUB\\f")), kAccessRead, kDenyNone), kFileNotFoundErr);
}

TEST_F(FileLayer, NamesMatchWithoutCase) {
  MakeDir("Sub");
  Write("Sub/Read.Me", "x");
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, Owned(Q("SUB\\READ.ME")), kAccessRead, kDenyNone), kNoErr);
  EXPECT_EQ(FMClose(f), kNoErr);
  Owned p(Q("sub\\read.me"));
  EXPECT_EQ(FTrueNamePath(p), kNoErr);
  EXPECT_EQ(Text(p), "Q:\\sub\\Read.Me");
  // An exact match comes first when names differ only in case.
  Write("Sub/READ.ME", "y");
  ASSERT_EQ(FMOpen(&f, Owned(Q("Sub\\READ.ME")), kAccessRead, kDenyNone), kNoErr);
  uChar c = 0;
  EXPECT_EQ(FMRead(f, 1, nullptr, &c), kNoErr);
  EXPECT_EQ(c, 'y');
  EXPECT_EQ(FMClose(f), kNoErr);
}

TEST_F(FileLayer, DrivesFromTheEnvironment) {
  setenv("QUENLIX_DRIVES", ("D=" + root_ + ";E=" + root_ + "/:removable;H=relative;\\\\s\\p=" + root_ +
                            ":remote;bad;X=" + root_ + ":cdrom")
                               .c_str(),
         1);
  PlatDrivesReset();
  EXPECT_EQ(PlatDriveKindOf('D'), kPlatDriveFixed);
  EXPECT_EQ(PlatDriveKindOf('e'), kPlatDriveRemovable);
  EXPECT_EQ(PlatDriveKindOf('H'), kPlatDriveNone);
  EXPECT_EQ(PlatDriveKindOf('X'), kPlatDriveCDROM);
  EXPECT_EQ(PlatDriveKindOf('C'), kPlatDriveFixed);
  EXPECT_EQ(PlatDriveKindOf('Q'), kPlatDriveNone);  // the reset forgot the test's own drive
  std::string host;
  ASSERT_EQ(PlatResolveSysText("E:\\z", &host, nullptr), 0);
  EXPECT_EQ(host, root_ + "/z");
  ASSERT_EQ(PlatResolveSysText("\\\\S\\P\\z", &host, nullptr), 0);
  EXPECT_EQ(host, root_ + "/z");
  unsetenv("QUENLIX_DRIVES");
  PlatDrivesReset();
  EXPECT_EQ(PlatDriveMask(), 1u << ('C' - 'A'));
}

TEST_F(FileLayer, HostErrorsAndErrnoValuesMapAsTheTablesSay) {
  struct {
    int err;
    MgErr mg;
  } errnos[] = {{ENOENT, 7}, {ENOTDIR, 7}, {EACCES, 8}, {EPERM, 8}, {EROFS, 8}, {EISDIR, 8}, {ENOMEM, 2},
                {EEXIST, 10}, {EINVAL, 1}, {ENAMETOOLONG, 1}, {ENOSPC, 6}, {ENOTEMPTY, 6}, {EIO, 6}, {EMFILE, 6}};
  for (auto& e : errnos) {
    PlatSetLastError(PlatErrnoToError(e.err));
    EXPECT_EQ(FLastErrorToMgErr(), e.mg) << e.err;
  }
  EXPECT_EQ(PlatErrnoToError(ENOENT), 2);
  EXPECT_EQ(PlatErrnoToError(ENOTDIR), 3);
  EXPECT_EQ(PlatErrnoToError(EEXIST), 80);
  EXPECT_EQ(PlatErrnoToError(EINVAL), 87);
  EXPECT_EQ(PlatErrnoToError(ENAMETOOLONG), 123);
  struct {
    int32 code;
    MgErr mg;
  } hosts[] = {{2, 7}, {3, 7}, {267, 7}, {5, 8}, {32, 8}, {33, 8}, {8, 2}, {80, 10}, {183, 10},
               {87, 1}, {123, 1}, {158, 1}, {0, 6}, {1, 6}, {4, 6}, {112, 6}, {145, 6}};
  for (auto& h : hosts) {
    PlatSetLastError(h.code);
    EXPECT_EQ(FLastErrorToMgErr(), h.mg) << h.code;
  }
  struct {
    int err;
    Bool32 flag;
    MgErr mg;
  } crt[] = {{0, 0, 0}, {ENOENT, 0, 7}, {ENOENT, 1, 1}, {EBADF, 0, 1}, {EINVAL, 0, 1}, {ENOMEM, 0, 2},
             {EACCES, 0, 8}, {EEXIST, 0, 10}, {EMFILE, 0, 11}, {ENFILE, 0, 11}, {ENOSPC, 0, 9},
             {ESPIPE, 0, 4}, {EIO, 0, 6}};
  for (auto& c : crt) EXPECT_EQ(FErrnoToMgErr(c.err, c.flag), c.mg) << c.err;
}

// ------------------------------------------------------ printf with files

namespace {
class FilePrintf : public FileTest {};

std::string Format(const char* fmt, Path p) {
  char out[1024];
  int32 n = SPrintf(out, fmt, p);
  return std::string(out, size_t(n > 0 ? n : 0));
}
}  // namespace

TEST_F(FilePrintf, PathsPrintAsTheirText) {
  for (const char* t : {"C:\\dir\\file.txt", "c:", "\\\\srv\\share\\a", "a\\..\\..\\b", "."}) {
    Owned p(ToPath(t));
    EXPECT_EQ(Format("[%z]", p), "[" + Text(p) + "]") << t;
  }
  Owned n(FNotAPath(nullptr));
  EXPECT_EQ(Format("%z", n), "<Not A Path>");
  Owned fits(ToPath("C:\\" + std::string(200, 'a') + "\\" + std::string(48, 'b')));
  ASSERT_EQ(Text(fits).size(), 252u);
  EXPECT_EQ(Format("%z", fits), Text(fits));
  Owned longer(ToPath("C:\\" + std::string(200, 'a') + "\\" + std::string(96, 'b')));
  ASSERT_EQ(Text(longer).size(), 300u);
  EXPECT_EQ(Format("%z", longer), "<path too long>");
}

TEST_F(FilePrintf, FormattedTextGoesToTheFile) {
  Owned p(Q("out.txt"));
  FileRef f = nullptr;
  ASSERT_EQ(FCreate(&f, p, 0666, kAccessWrite, kDenyWrite, nullptr), kNoErr);
  int32 n = FPrintf(f, "%s=%ld in %z\n", "answer", 42, static_cast<Path>(p));
  std::string expect = "answer=42 in " + Text(p) + "\n";
  EXPECT_EQ(n, int32(expect.size()));
  EXPECT_EQ(FPrintf(f, "%p", PS("!").b), 1);
  EXPECT_EQ(FMClose(f), kNoErr);
  EXPECT_EQ(Read("out.txt"), expect + "!");
}

TEST_F(FilePrintf, ShortWritesGiveMinusOne) {
  // The file may not grow past 8 bytes: the write stops short.
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 8;
  Owned p(Q("short.txt"));
  FileRef f = nullptr;
  ASSERT_EQ(FCreate(&f, p, 0666, kAccessWrite, kDenyNone, nullptr), kNoErr);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int32 n = FPrintf(f, "%s", "0123456789abcdef");
  int32 written = 0;
  MgErr err = FMWrite(f, 4, &written, "more");
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(n, -1);
  EXPECT_NE(err, kNoErr);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(FMClose(f), kNoErr);
  EXPECT_EQ(Read("short.txt"), "01234567");
  // A device that takes nothing.
  if (access("/dev/full", W_OK) == 0) {
    ASSERT_EQ(FMOpen(&f, Owned(ToPath("C:\\dev\\full")), kAccessWrite, kDenyNone), kNoErr);
    EXPECT_EQ(FPrintf(f, "%s", "x"), -1);
    EXPECT_EQ(FMClose(f), kNoErr);
  }
}
