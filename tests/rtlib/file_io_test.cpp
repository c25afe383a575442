// Reading, writing, positioning, sizing and locking through file refnums.
#include <gtest/gtest.h>

#include "engine/datamgr.h"
#include "file_test_support.h"

namespace {

using namespace filetest;

class FileIOTest : public FileTest {};

TEST_F(FileIOTest, ByteReadsStopAtTheEndWithWhatWasRead) {
  Put("a.bin", "0123456789");
  FileRefnum r = Open("a.bin");
  struct Case {
    int32 mode, offset, count;
    std::string expect;
    MgErr err;
    int32 pos;
  } cases[] = {
      {kFPFromEnd, -3, 10, "789", kEOFErr, 10},  // 10 bytes at 3 before the end
      {kFPFromStart, 2, 3, "234", kNoErr, 5},
      {kFPFromCurrent, 1, 2, "67", kNoErr, 8},
      {kFPFromStart, 0, 0, "", kNoErr, 0},
      {kFPFromStart, 10, 1, "", kEOFErr, 10},
      {kFPFromStart, 20, 1, "", kEOFErr, 10},  // a position past the end stops at it
  };
  for (const Case& c : cases) {
    LStrHandle s = NewString("old");
    int32 pos = -1;
    EXPECT_EQ(ReadStr(r, c.mode, c.offset, &c.count, &s, false, false, &pos), c.err) << c.expect;
    EXPECT_EQ(Text(s), c.expect);
    EXPECT_EQ(pos, c.pos);
    Dispose(s);
  }
}

TEST_F(FileIOTest, AHugeCountOnASmallFileAllocatesNothingLarge) {
  Put("small", "0123456789");
  FileRefnum r = Open("small");
  LStrHandle s = nullptr;
  const int32 count = 0x7FFFFFFF;
  EXPECT_EQ(ReadStr(r, kFPFromStart, 0, &count, &s), kEOFErr);
  EXPECT_EQ(Text(s), "0123456789");
  Dispose(s);
}

TEST_F(FileIOTest, LinesEndAtCRLFOrCRLFAndThePositionFollowsTheEnd) {
  Put("lines", std::string("ab\r\ncd\ref\ngh"));
  FileRefnum r = Open("lines");
  struct Case {
    std::string expect;
    MgErr err;
  } cases[] = {{"ab\r\n", kNoErr}, {"cd\r", kNoErr}, {"ef\n", kNoErr}, {"gh", kEOFErr}, {"", kEOFErr}};
  for (const Case& c : cases) {
    LStrHandle s = nullptr;
    EXPECT_EQ(ReadStr(r, kFPFromCurrent, 0, nullptr, &s, true), c.err);
    EXPECT_EQ(Text(s), c.expect);
    Dispose(s);
  }
  // After the first line the next read starts at "c".
  LStrHandle s = nullptr;
  int32 pos = 0;
  ASSERT_EQ(ReadStr(r, kFPFromStart, 0, nullptr, &s, true, false, &pos), kNoErr);
  EXPECT_EQ(pos, 4);
  const int32 one = 1;
  ASSERT_EQ(ReadStr(r, kFPFromCurrent, 0, &one, &s), kNoErr);
  EXPECT_EQ(Text(s), "c");
  // With conversion the line end becomes one LF.
  ASSERT_EQ(ReadStr(r, kFPFromStart, 0, nullptr, &s, true, true), kNoErr);
  EXPECT_EQ(Text(s), "ab\n");
  // A count bounds the line.
  const int32 two = 2;
  ASSERT_EQ(ReadStr(r, kFPFromStart, 0, &two, &s, true), kNoErr);
  EXPECT_EQ(Text(s), "ab");
  Dispose(s);
}

TEST_F(FileIOTest, ACarriageReturnEndingAPieceLooksAtTheNextByte) {
  struct Case {
    std::string tail;
    std::string expectEnd;
    int32 next;  // position after the line
  } cases[] = {{"\nX", "\r\n", 1025}, {"X", "\r", 1024}, {"", "\r", 1024}};
  for (const Case& c : cases) {
    Put("cr", std::string(1023, 'a') + "\r" + c.tail);
    FileRefnum r = Open("cr");
    LStrHandle s = nullptr;
    int32 pos = 0;
    EXPECT_EQ(ReadStr(r, kFPFromStart, 0, nullptr, &s, true, false, &pos), kNoErr);
    EXPECT_EQ(Text(s), std::string(1023, 'a') + c.expectEnd);
    EXPECT_EQ(pos, c.next);
    Dispose(s);
    RTFPClose(r);
  }
  // A line longer than a piece is read in several.
  Put("long", std::string(3000, 'b') + "\nrest");
  FileRefnum r = Open("long");
  LStrHandle s = nullptr;
  EXPECT_EQ(ReadStr(r, kFPFromStart, 0, nullptr, &s, true), kNoErr);
  EXPECT_EQ(Text(s).size(), 3001u);
  Dispose(s);
}

TEST_F(FileIOTest, ArraysAndValuesRoundTripWithAndWithoutSizes) {
  FileRefnum r = Create("arr");
  TDHandle i32Arr(tdb::Array(tdb::I32())), i32(tdb::I32()), strArr(tdb::Array(tdb::String()));
  // Three int32 written with their size, then without.
  UHandle a = DSNewHandle(16);
  const int32 words[4] = {3, 1, -2, 0x01020304};
  std::memcpy(*a, words, 16);
  int32 pos = 0;
  ASSERT_EQ(FPWrite(r, nullptr, 0, kFPFromStart, 0, i32Arr.h(), 0, &a, kFPWriteSizes, &pos), kNoErr);
  EXPECT_EQ(pos, 16);
  ASSERT_EQ(FPWrite(r, nullptr, 0, kFPFromCurrent, 0, i32Arr.h(), 0, &a, 0, &pos), kNoErr);
  EXPECT_EQ(pos, 28);
  EXPECT_EQ(Get("arr").substr(0, 8), std::string("\0\0\0\3\0\0\0\1", 8)) << "big-endian with the size first";
  // Read back: one value (the size), then an array of 3, then 3 more.
  int32 n = 0;
  ASSERT_EQ(FPRead(r, nullptr, 0, kFPFromStart, 0, nullptr, i32.h(), 0, &n, 0, 0, 0, &pos), kNoErr);
  EXPECT_EQ(n, 3);
  UHandle back = nullptr;
  const int32 three = 3, ten = 10;
  ASSERT_EQ(FPRead(r, nullptr, 0, kFPFromCurrent, 0, &three, i32.h(), 0, &back, 0, 0, 0, &pos), kNoErr);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::memcmp(*back, words, 16), 0);
  // Asking for 10 where 3 remain gives 3 and the end of the file.
  ASSERT_EQ(FPRead(r, nullptr, 0, kFPFromCurrent, 0, &ten, i32.h(), 0, &back, 0, 0, 0, &pos), kEOFErr);
  EXPECT_EQ(std::memcmp(*back, words, 16), 0);
  EXPECT_EQ(pos, 28);
  DSDisposeHandle(back);
  DSDisposeHandle(a);

  // Strings of variable size: written with sizes, read as an array one by one.
  FileRefnum s = Create("strs");
  TDHandle str(tdb::String());
  for (const char* t : {"one", "", "three"}) {
    LStrHandle h = NewString(t);
    ASSERT_EQ(FPWrite(s, nullptr, 0, kFPFromCurrent, 0, str.h(), 0, &h, kFPWriteSizes, &pos), kNoErr);
    Dispose(h);
  }
  UHandle strs = nullptr;
  ASSERT_EQ(FPRead(s, nullptr, 0, kFPFromStart, 0, &ten, str.h(), 0, &strs, 0, 0, 0, &pos), kEOFErr);
  EXPECT_EQ(filetest::Strings(strs), (std::vector<std::string>{"one", "", "three"}));
  filetest::DisposeStrings(strs);
}

TEST_F(FileIOTest, ArraysOfNumberRecordsReadAsTheUnflattenerReadsThem) {
  using namespace tdb;
  // Numbers, clusters with and without padding, nested ones, and types the
  // one-piece read leaves to the unflattener (booleans, enumerations).
  const TD types[] = {I16(),
                      U8(),
                      DBL(),
                      CSG(),
                      Cluster({DBL(), I32()}),
                      Cluster({I8(), DBL(), I16()}),
                      Cluster({U8(), Cluster({I16(), SGL()}), CDB()}),
                      Cluster({Boolean(), I32()}),
                      Enum(kTDEnumU16, {"a", "b"})};
  std::string bytes;
  for (int i = 0; i < 997; ++i) bytes += char(i * 37 + (i >> 3));
  Put("nums", bytes);
  FileRefnum r = Open("nums");
  for (const TD& t : types) {
    TDHandle elt(t);
    const int32 esize = FlatSize(elt.td(), nullptr), stride = DataSize(elt.td());
    const int32 count = int32(bytes.size()) / esize + 1;  // one more than there is
    UHandle got = nullptr;
    int32 pos = 0;
    ASSERT_EQ(FPRead(r, nullptr, 0, kFPFromStart, 0, &count, elt.h(), 0, &got, 0, 0, 0, &pos), kEOFErr);
    ASSERT_EQ(*reinterpret_cast<int32*>(*got), count - 1) << int(elt.td()->code);
    UHandle flat = AZNewHandle(int32(bytes.size()));
    std::memcpy(*flat, bytes.data(), bytes.size());
    std::vector<uChar> one(size_t(stride), 0);
    for (int32 i = 0; i < count - 1; ++i) {
      std::fill(one.begin(), one.end(), 0);
      ASSERT_EQ(UnFlattenData(flat, i * esize, elt.td(), one.data(), esize, 0), esize);
      ASSERT_EQ(std::memcmp(*got + AlignDatum(elt.td(), 4) + i * stride, one.data(), size_t(stride)), 0)
          << int(elt.td()->code) << " record " << i;
    }
    AZDisposeHandle(flat);
    DSDisposeHandle(got);
  }
}

TEST_F(FileIOTest, AFixedArrayCountNear31BitsIsCutToTheFile) {
  Put("ten", "0123456789");
  FileRefnum r = Open("ten");
  TDHandle u8(tdb::U8()), i16(tdb::I16());
  UHandle a = nullptr;
  int32 pos = 0;
  const int32 huge = 0x7FFFFFFF;
  EXPECT_EQ(FPRead(r, nullptr, 0, kFPFromStart, 0, &huge, u8.h(), 0, &a, 0, 0, 0, &pos), kEOFErr);
  ASSERT_NE(a, nullptr);
  int32 n;
  std::memcpy(&n, *a, 4);
  EXPECT_EQ(n, 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*a) + 4, 10), "0123456789");
  UHandle b = nullptr;
  EXPECT_EQ(FPRead(r, nullptr, 0, kFPFromStart, 0, &huge, i16.h(), 0, &b, 0, 0, 0, &pos), kEOFErr);
  ASSERT_NE(b, nullptr);
  std::memcpy(&n, *b, 4);
  EXPECT_EQ(n, 5);
  int16 first;
  std::memcpy(&first, *b + 4, 2);
  EXPECT_EQ(first, int16(('0' << 8) | '1')) << "elements are unflattened big-endian";
  DSDisposeHandle(a);
  DSDisposeHandle(b);
}

TEST_F(FileIOTest, WriteFlagsConvertLineEndsAndWriteSizes) {
  FileRefnum r = Create("w");
  ASSERT_EQ(WriteStr(r, "a\nb"), kNoErr);
  EXPECT_EQ(Get("w"), "a\nb");
  ASSERT_EQ(WriteStr(r, "a\nb", kFPWriteConvertEOL, kFPFromStart, 0), kNoErr);
  EXPECT_EQ(Get("w"), "a\r\nb");
  ASSERT_EQ(WriteStr(r, "xy", kFPWriteSizes, kFPFromStart, 0), kNoErr);
  EXPECT_EQ(Get("w").substr(0, 6), std::string("\0\0\0\2xy", 6));
  ASSERT_EQ(WriteStr(r, "\n", kFPWriteSizes | kFPWriteConvertEOL, kFPFromStart, 0), kNoErr);
  EXPECT_EQ(Get("w").substr(0, 6), std::string("\0\0\0\2\r\n", 6));
  // Old booleans through flag 1.
  TDHandle b(tdb::Boolean());
  uChar t = 1;
  int32 pos = 0;
  ASSERT_EQ(FPWrite(r, nullptr, 0, kFPFromStart, 0, b.h(), 0, &t, kFPWriteOldBooleans, &pos), kNoErr);
  EXPECT_EQ(pos, 2) << "an old boolean is a 16-bit word";
  ASSERT_EQ(FPWrite(r, nullptr, 0, kFPFromStart, 0, b.h(), 0, &t, 0, &pos), kNoErr);
  EXPECT_EQ(pos, 1);
}

TEST_F(FileIOTest, SizePositionAndLocks) {
  Put("s", "0123456789");
  FileRefnum r = Open("s");
  int32 size = -1, pos = -1;
  // Mode 1, offset 0 only reports.
  ASSERT_EQ(FPEOF(r, nullptr, 0, kFPFromEnd, 0, &size), kNoErr);
  EXPECT_EQ(size, 10);
  ASSERT_EQ(FPEOF(r, nullptr, 0, kFPFromStart, 4, &size), kNoErr);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(Get("s"), "0123");
  ASSERT_EQ(FPEOF(r, nullptr, 0, kFPFromEnd, 2, &size), kNoErr);
  EXPECT_EQ(size, 6);
  ASSERT_EQ(FPSeek(r, nullptr, 0, kFPFromStart, 1, &pos), kNoErr);
  ASSERT_EQ(FPEOF(r, nullptr, 0, kFPFromCurrent, 2, &size), kNoErr);
  EXPECT_EQ(size, 3);
  // Sizes outside 0 ... 2^31 - 1 change nothing.
  EXPECT_EQ(FPEOF(r, nullptr, 0, kFPFromStart, -1, &size), kArgErr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(FPEOF(r, nullptr, 0, kFPFromEnd, 0x7FFFFFFF, &size), kArgErr);
  EXPECT_EQ(Get("s").size(), 3u);
  // Seeks: mode 2 offset 0 only reports; past the end is 4 at the end.
  ASSERT_EQ(FPSeek(r, nullptr, 0, kFPFromStart, 2, &pos), kNoErr);
  ASSERT_EQ(FPSeek(r, nullptr, 0, kFPFromCurrent, 0, &pos), kNoErr);
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(FPSeek(r, nullptr, 0, kFPFromEnd, 5, &pos), kEOFErr);
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(FPSeek(r, nullptr, 0, 3, 0, &pos), kArgErr);
  // A lock is seen by a second open of the file.
  FileRefnum other = Open("s");
  ASSERT_EQ(FPLockRange(r, kFPFromStart, 0, 2, 1), kNoErr);
  EXPECT_EQ(FPLockRange(other, kFPFromStart, 1, 1, 1), kFilePermErr);
  EXPECT_EQ(FPLockRange(r, kFPFromStart, 0, -1, 1), kArgErr);
  ASSERT_EQ(FPLockRange(r, kFPFromStart, 0, 2, 0), kNoErr);
  EXPECT_EQ(FPLockRange(other, kFPFromStart, 1, 1, 1), kNoErr);
  EXPECT_EQ(FPFlush(r), kNoErr);
}

TEST_F(FileIOTest, BadInputsGiveOneAndChangeNothing) {
  Put("b", "abc");
  FileRefnum r = Open("b");
  LStrHandle s = NewString("keep");
  const int32 neg = -1, one = 1;
  int32 pos = 7;
  EXPECT_EQ(ReadStr(r, kFPFromStart, 0, &neg, &s), kArgErr);
  EXPECT_EQ(ReadStr(r, -1, 0, &one, &s), kArgErr);
  EXPECT_EQ(ReadStr(0, kFPFromStart, 0, &one, &s), kArgErr);
  EXPECT_EQ(ReadStr(r + 1, kFPFromStart, 0, &one, &s), kArgErr) << "a foreign value";
  EXPECT_EQ(Text(s), "keep");
  EXPECT_EQ(WriteStr(r, "x", 0, 7), kArgErr);
  EXPECT_EQ(Get("b"), "abc");
  ASSERT_EQ(RTFPClose(r), kNoErr);
  EXPECT_EQ(ReadStr(r, kFPFromStart, 0, &one, &s, false, false, &pos), kArgErr) << "a closed refnum";
  EXPECT_EQ(RTFPClose(r), kArgErr);
  EXPECT_EQ(FPSeek(r, nullptr, 0, 0, 0, &pos), kArgErr);
  EXPECT_EQ(FPFlush(r), kArgErr);
  Dispose(s);
}

TEST_F(FileIOTest, AFailedReadEmptiesTheOutput) {
  Put("f", "abc");
  FileRefnum r = Open("f", kAccessWrite);
  LStrHandle s = NewString("keep");
  const int32 two = 2;
  EXPECT_NE(ReadStr(r, kFPFromStart, 0, &two, &s), kNoErr) << "a write-only file can't be read";
  EXPECT_EQ(Text(s), "");
  Dispose(s);
}

TEST_F(FileIOTest, TheStreamCheckMovesToTheEndOfAShortFile) {
  Put("c", "0123456789");
  Owned p(P("c"));
  FileRef f = nullptr;
  ASSERT_EQ(FMOpen(&f, p, kAccessRead, kDenyNone), kNoErr);
  ASSERT_EQ(FMSeek(f, 4, kFStart), kNoErr);
  EXPECT_EQ(FPCheckAvail(f, 6), kNoErr);
  int32 pos = 0;
  FMTell(f, &pos);
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(FPCheckAvail(f, 7), kEOFErr);
  FMTell(f, &pos);
  EXPECT_EQ(pos, 10);
  // The read procedure skips with a null buffer.
  ASSERT_EQ(FMSeek(f, 0, kFStart), kNoErr);
  EXPECT_EQ(FPStreamRead(nullptr, 3, f), kNoErr);
  char b[32];
  EXPECT_EQ(FPStreamRead(b, 2, f), kNoErr);
  EXPECT_EQ(std::string(b, 2), "34");
  EXPECT_EQ(FPStreamRead(b, 20, f), kEOFErr);
  FMClose(f);
}

TEST_F(FileIOTest, ReadConvertTakesItsArgumentsFromARecord) {
  Put("rc", "hello");
  FileRefnum r = Open("rc");
  LStrHandle s = nullptr;
  const int32 count = 4;
  int32 pos = 0;
  FPReadParams p{r, nullptr, 0, kFPFromStart, 1, &count, nullptr, 0, &s, 0, 0, 0, &pos};
  EXPECT_EQ(FPReadConvert(&p), kNoErr);
  EXPECT_EQ(Text(s), "ello");
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(FPReadConvert(nullptr), kArgErr);
  Dispose(s);
}

}  // namespace
