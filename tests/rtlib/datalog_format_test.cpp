// Datalog files through refnums: the format and its index tree, append,
// read, seek and count, the type check, the conversion of the previous
// version, and files with one corrupted field.
#include <gtest/gtest.h>

#include <thread>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "compiled_call.h"
#include "engine/codeentry_test_support.h"
#include "file_test_support.h"
#include "mgsource/byteorder.h"
#include "rtlib/datalog.h"
#include "rttable_start.h"
#include "tools/datalogwriter.h"

namespace {

using namespace filetest;

std::vector<uChar> Bytes(const std::string& s) { return std::vector<uChar>(s.begin(), s.end()); }
std::string Str(const std::vector<uChar>& v) { return std::string(v.begin(), v.end()); }
std::string Name(int32 i) { return "record " + std::to_string(i) + std::string(size_t(i % 7), '+'); }

class DatalogTest : public FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    strRef_ = std::make_unique<TDHandle>(tdb::DatalogRefnum(tdb::String()));
    strArray_ = std::make_unique<TDHandle>(tdb::Array(tdb::String()));
  }
  void TearDown() override {
    strRef_.reset();
    strArray_.reset();
    FileTest::TearDown();
  }
  FileRefnum NewLog(const std::string& rel, const TDHandle& refType) {
    Owned p(P(rel));
    FileRefnum r = 0;
    const int32 recordOffset = 6;  // the record type after the refnum's header
    EXPECT_EQ(RTFPNewFile(p, kDenyNone, nullptr, 0, recordOffset, refType.h(), &r, 1), kNoErr);
    if (r) open_.push_back(r);
    return r;
  }
  MgErr OpenLog(const std::string& rel, const TDHandle& refType, FileRefnum* r, int32 deny = kDenyNone) {
    Owned p(P(rel));
    *r = 0;
    const MgErr err = RTFPOpen(p, kAccessReadWrite, deny, refType.h(), 6, r, 0);
    if (*r) open_.push_back(*r);
    return err;
  }
  // Appends strings: one record each, or all as one array.
  MgErr AppendStrings(FileRefnum r, int32 from, int32 n, bool asArray, int32* pos = nullptr) {
    int32 p = -1;
    MgErr err = kNoErr;
    if (!asArray) {
      for (int32 i = from; i < from + n && !err; ++i) {
        LStrHandle s = NewString(Name(i));
        err = FPWrite(r, strRef_->h(), 0, kFPFromStart, 0, string_->h(), 0, &s, 0, pos ? pos : &p);
        Dispose(s);
      }
      return err;
    }
    UHandle a = nullptr;
    EXPECT_EQ(ArrayResizeElts(tdb::AsTD(tdb::String().Bytes()), 1, &a, n), kNoErr);
    std::memcpy(*a, &n, 4);
    for (int32 i = 0; i < n; ++i) {
      LStrHandle s = NewString(Name(from + i));
      std::memcpy(*a + 4 + 4 * i, &s, 4);
    }
    err = FPWrite(r, strRef_->h(), 0, kFPFromStart, 0, strArray_->h(), 0, &a, 0, pos ? pos : &p);
    DisposeStrings(a);
    return err;
  }
  MgErr ReadStrings(FileRefnum r, int32 mode, int32 offset, int32 n, std::vector<std::string>* out,
                    int32* pos = nullptr) {
    UHandle a = nullptr;
    int32 p = -1;
    MgErr err = FPRead(r, strRef_->h(), 0, mode, offset, &n, string_->h(), 0, &a, 0, 0, 0, pos ? pos : &p);
    *out = Strings(a);
    DisposeStrings(a);
    return err;
  }
  std::vector<uChar> File(const std::string& rel) const { return Bytes(Get(rel)); }

  std::unique_ptr<TDHandle> strRef_, strArray_;
};

std::vector<std::vector<uChar>> FlatNames(int32 n) {
  std::vector<std::vector<uChar>> v;
  for (int32 i = 0; i < n; ++i) v.push_back(dlw::FlatString(Bytes(Name(i))));
  return v;
}

TEST_F(DatalogTest, ANewFileIsTheHeaderAndTheType) {
  FileRefnum r = NewLog("new.log", *strRef_);
  std::vector<uChar> want = {'D', 'T', 'L', 'G', 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<uChar> td = tdb::String().Bytes(tdb::Order::kFile);
  want.insert(want.end(), td.begin(), td.end());
  EXPECT_EQ(File("new.log"), want);
  int32 count = -1;
  EXPECT_EQ(FPEOF(r, strRef_->h(), 0, kFPFromStart, 5, &count), kNoErr);
  EXPECT_EQ(count, 0) << "the end of a datalog cannot be set";
  const std::pair<int32, int32> levels[] = {{0, 0}, {127, 0}, {128, 1}, {16383, 1}, {16384, 2}, {0x7FFFFFFF, 4}};
  for (const auto& l : levels) EXPECT_EQ(IndexLevel(l.first), l.second) << l.first;
}

TEST_F(DatalogTest, AppendsLayTheTreeOutAsTheWriterDoes) {
  // 100 single records, then arrays of 200 (pieces of 28, 128 and 44) and
  // of 30: the same bytes as 330 records appended one by one.
  FileRefnum r = NewLog("a.log", *strRef_);
  int32 pos = -1;
  ASSERT_EQ(AppendStrings(r, 0, 100, false), kNoErr);
  ASSERT_EQ(AppendStrings(r, 100, 200, true, &pos), kNoErr);
  EXPECT_EQ(pos, 300);
  ASSERT_EQ(AppendStrings(r, 300, 30, true), kNoErr);
  const std::vector<uChar> file = File("a.log");
  EXPECT_EQ(file, dlw::Write(3, tdb::String(), FlatNames(330), false));
  // The root is a level-2 block only past 16,384; here a level-1 block whose
  // entry 1 leads to the second leaf, whose entry 1 holds record 129.
  const uInt32 root = GetBE32(&file[12]);
  const uInt32 leaf1 = GetBE32(&file[root + 4]);
  const uInt32 at129 = GetBE32(&file[leaf1 + 4]);
  EXPECT_EQ(Str(std::vector<uChar>(file.begin() + at129 + 4, file.begin() + at129 + 4 + Name(129).size())),
            Name(129));
  EXPECT_EQ(GetBE32(&file[GetBE32(&file[root])]), uInt32(16 + tdb::String().Bytes().size() + 512))
      << "entry 0 of the first leaf: record 0, just after that leaf";
}

TEST_F(DatalogTest, SixteenThousandFourHundredRecordsGrowALevelTwoRoot) {
  FileRefnum r = NewLog("big.log", *strRef_);
  ASSERT_EQ(AppendStrings(r, 0, 16400, true), kNoErr);
  const std::vector<uChar> file = File("big.log");
  EXPECT_EQ(file, dlw::Write(3, tdb::String(), FlatNames(16400), false));
  std::vector<std::string> got;
  for (int32 at : {0, 127, 128, 16383, 16384, 16399}) {
    ASSERT_EQ(ReadStrings(r, kFPFromStart, at, 1, &got), kNoErr) << at;
    EXPECT_EQ(got, std::vector<std::string>{Name(at)});
  }
}

TEST_F(DatalogTest, FixedSizeRecordsHaveNoIndex) {
  TDHandle recType(tdb::DatalogRefnum(tdb::Cluster({tdb::DBL(), tdb::I32()})));
  TDHandle clust(tdb::Cluster({tdb::DBL(), tdb::I32()}));
  FileRefnum r = NewLog("fixed.log", recType);
  struct Rec {
    double d;
    int32 i;
  };
  for (int32 i = 0; i < 300; ++i) {
    Rec v{i * 0.5, -i};
    int32 pos = -1;
    ASSERT_EQ(FPWrite(r, recType.h(), 0, kFPFromStart, 0, clust.h(), 0, &v, 0, &pos), kNoErr);
    EXPECT_EQ(pos, i + 1);
  }
  const std::vector<uChar> file = File("fixed.log");
  const size_t n = tdb::Cluster({tdb::DBL(), tdb::I32()}).Bytes().size();
  EXPECT_EQ(file.size(), 16 + n + 300 * 12);
  EXPECT_EQ(GetBE32(&file[12]), 0u) << "no root";
  EXPECT_EQ(int32(GetBE32(&file[16 + n + 7 * 12 + 8])), -7) << "record r at 16 + n + r * 12";
  // All of them as one array, then one from the middle.
  UHandle a = nullptr;
  int32 count = 1000, pos = -1;
  EXPECT_EQ(FPRead(r, recType.h(), 0, kFPFromStart, 0, &count, clust.h(), 0, &a, 0, 0, 0, &pos), kEOFErr);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(*reinterpret_cast<int32*>(*a), 300);
  EXPECT_EQ(pos, 300);
  DSDisposeHandle(a);
  Rec one{};
  EXPECT_EQ(FPRead(r, recType.h(), 0, kFPFromStart, 299, nullptr, clust.h(), 0, &one, 0, 0, 0, &pos), kNoErr);
  EXPECT_EQ(one.i, -299);
  EXPECT_EQ(pos, 300);
}

TEST_F(DatalogTest, ReadsSeeksAndTheCurrentRecord) {
  FileRefnum r = NewLog("rs.log", *strRef_);
  ASSERT_EQ(AppendStrings(r, 0, 300, true), kNoErr);
  std::vector<std::string> got;
  int32 pos = -1;
  // Arrays across group boundaries, each read moving the current record.
  ASSERT_EQ(ReadStrings(r, kFPFromStart, 120, 140, &got, &pos), kNoErr);
  ASSERT_EQ(got.size(), 140u);
  for (int32 i = 0; i < 140; ++i) EXPECT_EQ(got[size_t(i)], Name(120 + i));
  EXPECT_EQ(pos, 260);
  ASSERT_EQ(ReadStrings(r, kFPFromCurrent, 0, 100, &got, &pos), kEOFErr) << "40 left";
  EXPECT_EQ(got.size(), 40u);
  EXPECT_EQ(got.back(), Name(299));
  EXPECT_EQ(pos, 300);
  struct Case {
    int32 mode, offset;
    MgErr err;
    int32 at;
  } seeks[] = {
      {kFPFromStart, -1, kEOFErr, 0},     {kFPFromStart, 301, kEOFErr, 300}, {kFPFromEnd, -1, kNoErr, 299},
      {kFPFromCurrent, -10, kNoErr, 289}, {kFPFromStart, 128, kNoErr, 128},  {kFPFromEnd, 0, kNoErr, 300},
  };
  for (const Case& c : seeks) {
    EXPECT_EQ(FPSeek(r, strRef_->h(), 0, c.mode, c.offset, &pos), c.err) << c.offset;
    EXPECT_EQ(pos, c.at) << c.offset;
  }
  EXPECT_EQ(ReadStrings(r, kFPFromCurrent, 0, 1, &got, &pos), kEOFErr) << "at the end";
  EXPECT_TRUE(got.empty());
  // A single record read at a clamped position reads record 0 and says 4.
  LStrHandle s = nullptr;
  EXPECT_EQ(FPRead(r, strRef_->h(), 0, kFPFromStart, -5, nullptr, string_->h(), 0, &s, 0, 0, 0, &pos), kEOFErr);
  EXPECT_EQ(Text(s), Name(0));
  EXPECT_EQ(pos, 1);
  Dispose(s);
  // An append makes the current record the count.
  ASSERT_EQ(AppendStrings(r, 300, 1, false, &pos), kNoErr);
  EXPECT_EQ(pos, 301);
}

TEST_F(DatalogTest, NoFlushWithinAGroup) {
  FileRefnum r = NewLog("fl.log", *strRef_);
  FileRef f = nullptr;
  ASSERT_EQ(FRefNumToFD(r, &f), kNoErr);
  PlatFileFault count;
  count.file = reinterpret_cast<PlatFile*>(f);
  // The first record: a block, the bytes, the entry, the header and a
  // flush; the second: the bytes, the entry and the header.
  for (int64_t want : {5, 3}) {
    PlatFileSetFault(&count);
    ASSERT_EQ(AppendStrings(r, 0, 1, false), kNoErr);
    EXPECT_EQ(PlatFileFaultChanges(), want);
  }
  PlatFileSetFault(nullptr);
}

TEST_F(DatalogTest, TheTypeCheckOfOpen) {
  FileRefnum made = NewLog("t.log", *strRef_);
  ASSERT_EQ(AppendStrings(made, 0, 3, false), kNoErr);
  ASSERT_EQ(RTFPClose(made), kNoErr);
  TDHandle i32Log(tdb::DatalogRefnum(tdb::I32()));
  TDHandle u32Log(tdb::DatalogRefnum(tdb::U32()));
  TDHandle i16Log(tdb::DatalogRefnum(tdb::I16()));
  FileRefnum r = 0;
  EXPECT_EQ(OpenLog("t.log", *strRef_, &r), kNoErr);
  EXPECT_EQ(OpenLog("t.log", i32Log, &r), kDatalogIncompatibleErr);
  EXPECT_EQ(r, 0u);
  // A signedness difference opens; another width does not (nothing converts
  // records between widths).
  FileRefnum ints = NewLog("i.log", i32Log);
  int32 v = -5, pos = 0;
  TDHandle i32(tdb::I32());
  ASSERT_EQ(FPWrite(ints, i32Log.h(), 0, 0, 0, i32.h(), 0, &v, 0, &pos), kNoErr);
  EXPECT_EQ(OpenLog("i.log", u32Log, &r), kNoErr);
  EXPECT_EQ(OpenLog("i.log", i16Log, &r), kDatalogIncompatibleErr);
  // The check keeps the file's position.
  FileRef f = nullptr;
  ASSERT_EQ(FRefNumToFD(ints, &f), kNoErr);
  ASSERT_EQ(FMSeek(f, 7, kFStart), kNoErr);
  int32 version = 0, at = 0;
  EXPECT_EQ(CheckDatalogType(f, tdb::AsTD(tdb::I32().Bytes()), &version), kNoErr);
  EXPECT_EQ(version, 3);
  ASSERT_EQ(FMTell(f, &at), kNoErr);
  EXPECT_EQ(at, 7);
  // A file that is not a datalog.
  Put("plain.txt", "DTLG but not quite a datalog");
  EXPECT_EQ(OpenLog("plain.txt", *strRef_, &r), kDatalogIncompatibleErr);
}

// Version-2 logs of booleans: old 16-bit booleans in the type and records.
std::vector<uChar> OldBooleanLog(int32 n) {
  std::vector<std::vector<uChar>> recs;
  const std::vector<uChar> td = tdb::Boolean().Bytes();
  for (int32 i = 0; i < n; ++i) {
    const uChar b = i % 3 ? 1 : 0;
    recs.push_back(dlw::FlatRecord(tdb::AsTD(td), &b, true));
  }
  return dlw::Write(2, tdb::OldBoolean(), recs, true);
}

TEST_F(DatalogTest, AVersionTwoLogConvertsWithEqualRecords) {
  Put("v2.log", Str(OldBooleanLog(10)));
  TDHandle boolLog(tdb::DatalogRefnum(tdb::Boolean()));
  FileRefnum r = 0;
  ASSERT_EQ(OpenLog("v2.log", boolLog, &r), -1) << "the caller is asked to convert";
  ASSERT_NE(r, 0u);
  Owned p(P("v2.log"));
  ASSERT_EQ(RTFPOpen(p, kAccessReadWrite, kDenyNone, nullptr, 0, &r, 1), kNoErr);
  TDHandle boolean(tdb::Boolean());
  for (int32 i = 0; i < 10; ++i) {
    uChar b = 7;
    int32 pos = 0;
    ASSERT_EQ(FPRead(r, boolLog.h(), 0, kFPFromStart, i, nullptr, boolean.h(), 0, &b, 0, 0, 0, &pos), kNoErr);
    EXPECT_EQ(b != 0, i % 3 != 0) << i;
  }
  const std::vector<uChar> file = File("v2.log");
  EXPECT_EQ(GetBE32(&file[4]), 3u);
  EXPECT_EQ(file.size(), 16 + tdb::Boolean().Bytes().size() + 10) << "one byte per boolean now";
  for (const auto& e : fs::directory_iterator(root_))
    EXPECT_EQ(e.path().filename().string().rfind("tmp", 0), std::string::npos) << "no temporary file left";
}

TEST_F(DatalogTest, AFailedConversionLeavesTheOriginalAndClosesIt) {
  const std::vector<uChar> original = OldBooleanLog(300);
  TDHandle boolLog(tdb::DatalogRefnum(tdb::Boolean()));
  // A conversion that succeeds counts its changes: the last is the replace.
  Put("v2.log", Str(original));
  FileRefnum first = 0;
  ASSERT_EQ(OpenLog("v2.log", boolLog, &first), -1);
  PlatFileFault counting;
  PlatFileSetFault(&counting);
  ASSERT_EQ(ConvertDatalog(first, kAccessReadWrite, kDenyNone), kNoErr);
  const int64_t changes = PlatFileFaultChanges();
  PlatFileSetFault(nullptr);
  RTFPClose(first);
  ASSERT_GT(changes, 300);
  // Failures at changes of the new file (writes, the flush) and at the
  // replace, with a full disk or another error.
  for (int64_t k : {int64_t(1), int64_t(2), int64_t(5), int64_t(40), changes - 1, changes}) {
    Put("v2.log", Str(original));
    FileRefnum r = 0;
    ASSERT_EQ(OpenLog("v2.log", boolLog, &r), -1);
    PlatFileFault fault;
    fault.failAt = k;
    fault.code = k % 2 ? kPlatErrDiskFull : kPlatErrAccessDenied;
    PlatFileSetFault(&fault);
    Owned p(P("v2.log"));
    EXPECT_NE(RTFPOpen(p, kAccessReadWrite, kDenyNone, nullptr, 0, &r, 1), kNoErr) << k;
    PlatFileSetFault(nullptr);
    EXPECT_EQ(r, 0u);
    EXPECT_EQ(File("v2.log"), original) << k;
    for (const auto& e : fs::directory_iterator(root_)) EXPECT_EQ(e.path().filename(), "v2.log") << k;
    // Closed: an exclusive open succeeds.
    FileRefnum again = 0;
    EXPECT_EQ(OpenLog("v2.log", boolLog, &again, kDenyReadWrite), -1) << k;
    RTFPClose(again);
  }
}

TEST_F(DatalogTest, ConcurrentConversionsDoNotCollide) {
  TDHandle boolLog(tdb::DatalogRefnum(tdb::Boolean()));
  constexpr int kLogs = 4;
  FileRefnum refs[kLogs] = {};
  for (int i = 0; i < kLogs; ++i) {
    Put("c" + std::to_string(i) + ".log", Str(OldBooleanLog(20 + i)));
    ASSERT_EQ(OpenLog("c" + std::to_string(i) + ".log", boolLog, &refs[i]), -1);
  }
  std::vector<std::thread> threads;
  MgErr errs[kLogs] = {};
  for (int i = 0; i < kLogs; ++i)
    threads.emplace_back([&, i] { errs[i] = ConvertDatalog(refs[i], kAccessReadWrite, kDenyNone); });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kLogs; ++i) {
    EXPECT_EQ(errs[i], kNoErr);
    int32 count = 0;
    EXPECT_EQ(FPEOF(refs[i], boolLog.h(), 0, 0, 0, &count), kNoErr);
    EXPECT_EQ(count, 20 + i);
  }
}

TEST_F(DatalogTest, OneCorruptFieldAtATime) {
  const std::vector<uChar> sound = dlw::Write(3, tdb::String(), FlatNames(200), false);
  struct Case {
    dlw::Field field;
    uInt32 value;
    MgErr open, read;    // of the open, and of reading every record
    bool appendRefused;  // the header itself is unsound
  } cases[] = {
      {dlw::Field::kCount, 0xFFFFFFFF, kNoErr, kFileIOErr, true},
      {dlw::Field::kCount, 100000, kNoErr, kFileIOErr, true},
      {dlw::Field::kRoot, 0, kNoErr, kFileIOErr, true},
      {dlw::Field::kRoot, 0x7FFFFFF0, kNoErr, kFileIOErr, true},
      {dlw::Field::kIndexEntry, 3, kNoErr, kFileIOErr, false},
      {dlw::Field::kIndexEntry, 0, kNoErr, kFileIOErr, false},
      {dlw::Field::kTypeSize, 2, kDatalogIncompatibleErr, kFileIOErr, true},
      {dlw::Field::kTypeSize, 0xFFF0, kDatalogIncompatibleErr, kFileIOErr, true},
      {dlw::Field::kRecordLength, 0x7FFFFFFF, kNoErr, kEOFErr, false},
  };
  for (const Case& c : cases) {
    const std::vector<uChar> bad = dlw::Write(3, tdb::String(), FlatNames(200), false, {c.field, c.value});
    ASSERT_NE(bad, sound);
    Put("bad.log", Str(bad));
    FileRefnum r = 0;
    EXPECT_EQ(OpenLog("bad.log", *strRef_, &r), c.open) << int(c.field) << " " << c.value;
    if (!r) {
      FileRef f = nullptr;
      Owned p(P("bad.log"));
      ASSERT_EQ(FMOpen(&f, p, kAccessReadWrite, kDenyNone), kNoErr);
      ASSERT_EQ(FNewRefNum(p, f, &r), kNoErr);
      open_.push_back(r);
    }
    std::vector<std::string> got;
    EXPECT_EQ(ReadStrings(r, kFPFromStart, 0, 200, &got), c.read) << int(c.field) << " " << c.value;
    if (c.appendRefused) {
      EXPECT_EQ(AppendStrings(r, 0, 1, false), kFileIOErr);
      EXPECT_EQ(File("bad.log"), bad) << "an append writes nothing";
    }
    RTFPClose(r);
  }
}

// An index block that overlaps the root (a damaged file): appending into
// it would write the new entries over the root's own, so the append is
// refused and the file left as it was.
TEST_F(DatalogTest, AnAppendRefusesALeafOverlappingTheRoot) {
  std::vector<uChar> bad = dlw::Write(3, tdb::String(), FlatNames(130), false);
  const uInt32 root = GetBE32(bad.data() + 12);
  ASSERT_LT(root + 8, bad.size());
  PutBE32(bad.data() + root + 4, root - 6);  // the second leaf starts 6 bytes before the root
  Put("bad.log", Str(bad));
  FileRefnum r = 0;
  ASSERT_EQ(OpenLog("bad.log", *strRef_, &r), kNoErr);
  EXPECT_EQ(AppendStrings(r, 130, 1, false), kFileIOErr);
  EXPECT_EQ(File("bad.log"), bad) << "an append writes nothing";
  std::vector<std::string> got;
  EXPECT_EQ(ReadStrings(r, kFPFromStart, 0, 128, &got), kNoErr);
  EXPECT_EQ(got.size(), 128u);
  RTFPClose(r);
}

// A power loss that keeps an append's in-place writes (the header, entries
// in existing blocks) but cuts the bytes it added anywhere: the log reopens
// with every earlier record whole, a read past them gives 4, and an append
// goes after them.  The cases: within a group, a new root and leaf (the tree
// grows), a new leaf, an array across a group and the growth, fixed sizes.
TEST_F(DatalogTest, EveryCutOfAnAppendKeepsTheEarlierRecords) {
  TDHandle intRef(tdb::DatalogRefnum(tdb::I32())), i32(tdb::I32());
  const struct { bool strings; int32 before, added; } cases[] = {
      {true, 100, 1}, {true, 128, 1}, {true, 256, 1}, {true, 100, 100}, {false, 50, 1}, {false, 50, 10}};
  // Thousands of reopened and flushed files: in memory where the host can.
  std::string dir = (fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()).string() + "/qxcXXXXXX";
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  ASSERT_EQ(PlatDriveMap('G', dir.c_str(), kPlatDriveFixed), 0);
  Owned path(pathtest::ToPath("G:\\cut.log"));
  auto bytes = [&] {
    std::ifstream i(dir + "/cut.log", std::ios::binary);
    return std::vector<uChar>(std::istreambuf_iterator<char>(i), {});
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + "+" + std::to_string(c.added));
    const TDHandle& ref = c.strings ? *strRef_ : intRef;
    auto name = [&](int32 i) { return c.strings ? Name(i) : std::to_string(i); };
    auto append = [&](FileRefnum r, int32 from, int32 n) {
      if (c.strings) return AppendStrings(r, from, n, n > 1);
      MgErr err = kNoErr;
      for (int32 i = from, pos; i < from + n && !err; ++i)
        err = FPWrite(r, ref.h(), 0, kFPFromStart, 0, i32.h(), 0, &i, 0, &pos);
      return err;
    };
    auto readAll = [&](FileRefnum r, int32 n, std::vector<std::string>* got) {
      if (c.strings) return ReadStrings(r, kFPFromStart, 0, n, got);
      UHandle a = nullptr;
      int32 pos = 0;
      const MgErr err = FPRead(r, ref.h(), 0, kFPFromStart, 0, &n, i32.h(), 0, &a, 0, 0, 0, &pos);
      got->clear();
      for (int32 i = 0; a && i < *reinterpret_cast<int32*>(*a); ++i)
        got->push_back(std::to_string(reinterpret_cast<int32*>(*a + 4)[i]));
      if (a) DSDisposeHandle(a);
      return err;
    };
    FileRefnum r = 0;
    ASSERT_EQ(RTFPNewFile(path, kDenyNone, nullptr, 0, 6, ref.h(), &r, 1), kNoErr);
    ASSERT_EQ(append(r, 0, c.before), kNoErr);
    const std::vector<uChar> a = bytes();
    ASSERT_EQ(append(r, c.before, c.added), kNoErr);
    ASSERT_EQ(RTFPClose(r), kNoErr);
    const std::vector<uChar> b = bytes();
    for (size_t cut = a.size(); cut < b.size() && !HasFailure(); ++cut) {
      SCOPED_TRACE(cut);
      std::ofstream(dir + "/cut.log", std::ios::binary).write(reinterpret_cast<const char*>(b.data()), long(cut));
      ASSERT_EQ(RTFPOpen(path, kAccessReadWrite, kDenyNone, ref.h(), 6, &r, 0), kNoErr);
      int32 count = -1;
      ASSERT_EQ(FPEOF(r, ref.h(), 0, 0, 0, &count), kNoErr);
      EXPECT_GE(count, c.before);
      EXPECT_LT(count, c.before + c.added);
      std::vector<std::string> got;
      EXPECT_EQ(readAll(r, count + 1, &got), kEOFErr);
      got.push_back(name(1000));
      ASSERT_EQ(append(r, 1000, 1), kNoErr);
      std::vector<std::string> after;
      EXPECT_EQ(readAll(r, count + 1, &after), kNoErr);
      ASSERT_EQ(after, got);
      for (int32 i = 0; i < count; ++i) ASSERT_EQ(got[size_t(i)], name(i));
      ASSERT_EQ(RTFPClose(r), kNoErr);
    }
  }
  PlatDriveMap('G', nullptr, 0);
  fs::remove_all(dir);
}

TEST_F(DatalogTest, CompiledCodeAppendsAndReadsThroughTheTable) {
  ASSERT_EQ(rttest::StartRunTimeTable().rtlib, kNoErr);
  FileRefnum r = NewLog("cc.log", *strRef_);
  using rttest::Word;
  LStrHandle s = NewString("compiled");
  int32 pos = -1;
  qxtest::CallResult res = qxtest::CallAsCompiledCode(
      QXRTTable[838], {r, Word(strRef_->h()), 0, 0, 0, Word(string_->h()), 0, Word(&s), 0, Word(&pos)});
  EXPECT_EQ(res.eax, uInt32(kNoErr));
  EXPECT_EQ(res.espAfter, res.espBefore);
  EXPECT_EQ(pos, 1);
  LStrHandle back = nullptr;
  res = qxtest::CallAsCompiledCode(QXRTTable[830], {r, Word(strRef_->h()), 0, kFPFromStart, 0, 0,
                                                    Word(string_->h()), 0, Word(&back), 0, 0, 0, Word(&pos)});
  EXPECT_EQ(res.eax, uInt32(kNoErr));
  EXPECT_EQ(Text(back), "compiled");
  EXPECT_EQ(pos, 1);
  Dispose(s);
  Dispose(back);
}

}  // namespace
