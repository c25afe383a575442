// Flattened types and data between the current format and the previous one.
#include "flat_test_util.h"

using ftest::Bytes;
using ftest::Hex;

namespace {

class FlatVersionTest : public dtest::DataTest {};

// A flattened type: an array handle of the TD's words in host order.
UHandle TypeArray(const tdb::TD& td) {
  Bytes w = td.Bytes(tdb::Order::kWord);
  UHandle h = DSNewHandle(4 + int32(w.size()));
  int32 words = int32(w.size() / 2);
  std::memcpy(*h, &words, 4);
  std::memcpy(*h + 4, w.data(), w.size());
  return h;
}
Bytes TypeWords(UHandle h) {
  int32 words;
  std::memcpy(&words, *h, 4);
  return Bytes(*h + 4, *h + 4 + 2 * words);
}
LStrHandle Str(const Bytes& b) { return dtest::NewLStr(std::string(b.begin(), b.end())); }
Bytes Data(LStrHandle s) { return Bytes((*s)->str, (*s)->str + (*s)->cnt); }

struct Handles {
  ~Handles() {
    for (UHandle h : list) DSDisposeHandle(h);
  }
  UHandle Add(UHandle h) {
    list.push_back(h);
    return h;
  }
  LStrHandle Add(LStrHandle s) {
    list.push_back(reinterpret_cast<UHandle>(s));
    return s;
  }
  std::vector<UHandle> list;
};

TEST_F(FlatVersionTest, ToThePreviousFormatBooleansAreWordsAndStringsLoseTheirBound) {
  Handles hs;
  tdb::TD current = tdb::Cluster({tdb::Boolean(), tdb::String()});
  UHandle type = hs.Add(TypeArray(current));
  LStrHandle data = hs.Add(Str({1, 0, 0, 0, 1, 'x'}));
  UHandle outType = hs.Add(DSNewHandle(0));
  LStrHandle outData = hs.Add(Str({}));
  ASSERT_EQ(ConvertFlatDataVersion(type, outType, data, outData, 1), kNoErr);
  EXPECT_EQ(Hex(Data(outData)), "80 00 00 00 00 01 78");
  tdb::TD previous = tdb::Cluster({tdb::OldBoolean(), tdb::OldString()});
  EXPECT_EQ(Hex(TypeWords(outType)), Hex(previous.Bytes(tdb::Order::kWord)));
  // The string TD inside is 4 bytes long.
  Bytes mem = TypeWords(outType);
  ASSERT_EQ(TDByteSwapBounded(mem.data(), 0, 1, int32(mem.size())), kNoErr);
  EXPECT_EQ(mem[6 + 4 + 2], kTDString);
  EXPECT_EQ(GetNative16(mem.data() + 10), 4);

  // And back: the type and data are restored.
  UHandle backType = hs.Add(DSNewHandle(0));
  LStrHandle backData = hs.Add(Str({}));
  ASSERT_EQ(ConvertFlatDataVersion(outType, backType, outData, backData, 0), kNoErr);
  EXPECT_EQ(Hex(TypeWords(backType)), Hex(current.Bytes(tdb::Order::kWord)));
  EXPECT_EQ(Hex(Data(backData)), "01 00 00 00 01 78");
}

TEST_F(FlatVersionTest, SourcesAlreadyInTheAskedFormatOrMalformedAreRefused) {
  Handles hs;
  UHandle old = hs.Add(TypeArray(tdb::Cluster({tdb::OldBoolean(), tdb::OldString()})));
  UHandle cur = hs.Add(TypeArray(tdb::Cluster({tdb::Boolean(), tdb::String()})));
  LStrHandle data = hs.Add(Str({0x80, 0, 0, 0, 0, 0}));
  UHandle outType = hs.Add(DSNewHandle(0));
  LStrHandle outData = hs.Add(Str({}));
  EXPECT_EQ(ConvertFlatDataVersion(old, outType, data, outData, 1), kArgErr);
  EXPECT_EQ(ConvertFlatDataVersion(cur, outType, data, outData, 0), kArgErr);
  // A TD whose size passes the words given.
  UHandle bad = hs.Add(TypeArray(tdb::Cluster({tdb::Boolean(), tdb::String()})));
  int32 words = 3;
  std::memcpy(*bad, &words, 4);
  EXPECT_EQ(ConvertFlatDataVersion(bad, outType, data, outData, 1), kArgErr);
  // A count that passes its handle.
  words = 1000;
  std::memcpy(*bad, &words, 4);
  EXPECT_EQ(ConvertFlatDataVersion(bad, outType, data, outData, 1), kArgErr);
  // A nested size that passes its parent is caught before any walk.
  UHandle nested = hs.Add(TypeArray(tdb::Cluster({tdb::Boolean(), tdb::String()})));
  PutNative16(*nested + 4 + 6, 0x0400);
  EXPECT_EQ(ConvertFlatDataVersion(nested, outType, data, outData, 1), kArgErr);
  EXPECT_EQ(DataFailures(), 0) << ReportText();
}

TEST_F(FlatVersionTest, ArgumentChecks) {
  Handles hs;
  UHandle type = hs.Add(TypeArray(tdb::Cluster({tdb::Boolean(), tdb::String()})));
  LStrHandle data = hs.Add(Str({1, 0, 0, 0, 0}));
  UHandle outType = hs.Add(DSNewHandle(0));
  LStrHandle outData = hs.Add(Str({}));
  EXPECT_EQ(ConvertFlatDataVersion(type, nullptr, data, nullptr, 1), kNoErr);
  EXPECT_EQ(ConvertFlatDataVersion(nullptr, outType, data, nullptr, 1), kArgErr);
  EXPECT_EQ(ConvertFlatDataVersion(nullptr, nullptr, data, outData, 1), kArgErr);
  EXPECT_EQ(ConvertFlatDataVersion(type, nullptr, nullptr, outData, 1), kArgErr);
  UHandle empty = hs.Add(DSNewHClr(4));
  EXPECT_EQ(ConvertFlatDataVersion(empty, nullptr, data, outData, 1), kArgErr);
  // A type shorter than a TD header.
  UHandle tiny = hs.Add(DSNewHClr(6));
  int32 one = 1;
  std::memcpy(*tiny, &one, 4);
  EXPECT_EQ(ConvertFlatDataVersion(tiny, outType, nullptr, nullptr, 1), kArgErr);
  // Only the type.
  ASSERT_EQ(ConvertFlatDataVersion(type, outType, nullptr, nullptr, 1), kNoErr);
  EXPECT_EQ(Hex(TypeWords(outType)), Hex(tdb::Cluster({tdb::OldBoolean(), tdb::OldString()}).Bytes(tdb::Order::kWord)));
  // Data that runs short.
  LStrHandle shortData = hs.Add(Str({1, 0, 0, 0, 5, 'x'}));
  EXPECT_EQ(ConvertFlatDataVersion(type, outType, shortData, outData, 1), kArgErr);
}

TEST_F(FlatVersionTest, TypesWithoutStringsOrBooleansAreCopied) {
  Handles hs;
  tdb::TD td = tdb::Cluster({tdb::I16(), tdb::Array(tdb::DBL())});
  UHandle type = hs.Add(TypeArray(td));
  LStrHandle data = hs.Add(Str({0, 1, 0, 0, 0, 0}));
  UHandle outType = hs.Add(DSNewHandle(0));
  LStrHandle outData = hs.Add(Str({9, 9, 9}));
  ASSERT_EQ(ConvertFlatDataVersion(type, outType, data, outData, 1), kNoErr);
  EXPECT_EQ(Hex(TypeWords(outType)), Hex(td.Bytes(tdb::Order::kWord)));
  EXPECT_EQ(Hex(Data(outData)), "00 01 00 00 00 00");
  ASSERT_EQ(ConvertFlatDataVersion(type, outType, data, outData, 0), kNoErr);
  EXPECT_EQ(Hex(Data(outData)), "00 01 00 00 00 00");
}

TEST_F(FlatVersionTest, DataTooShortForTheTypeAllocatesNothing) {
  Handles hs;
  // A fixed array of 10^8 booleans: the empty value alone would take 100 MB.
  UHandle type = hs.Add(TypeArray(tdb::Array(tdb::Boolean(), {TDFixed(100000000)})));
  LStrHandle data = hs.Add(Str(Bytes(10, 0)));
  UHandle outType = hs.Add(DSNewHandle(0));
  LStrHandle outData = hs.Add(Str({}));
  int64_t before = ftest::PeakKB();
  EXPECT_EQ(ConvertFlatDataVersion(type, outType, data, outData, 1), kArgErr);
  // A bounded string: its room is made before any data is read.
  UHandle bounded = hs.Add(TypeArray(tdb::Cluster({tdb::Boolean(), tdb::String(0x7FFFFF00)})));
  EXPECT_EQ(ConvertFlatDataVersion(bounded, outType, data, outData, 1), kArgErr);
  EXPECT_LT(ftest::PeakKB() - before, 16 * 1024);
  // Room for a modest bound is fine.
  UHandle modest = hs.Add(TypeArray(tdb::Cluster({tdb::Boolean(), tdb::String(100)})));
  LStrHandle small = hs.Add(Str({1, 0, 0, 0, 2, 'h', 'i'}));
  ASSERT_EQ(ConvertFlatDataVersion(modest, outType, small, outData, 1), kNoErr);
  EXPECT_EQ(Hex(Data(outData)), "80 00 00 00 00 02 68 69");
}

TEST_F(FlatVersionTest, TypesThatDataCannotHaveAreRefusedWithoutReports) {
  Handles hs;
  LStrHandle data = hs.Add(Str(Bytes(64, 0)));
  UHandle outType = hs.Add(DSNewHandle(0));
  LStrHandle outData = hs.Add(Str({}));
  std::vector<tdb::TD> bad = {
      // A union element that does not start with its selector.
      tdb::Cluster({tdb::Boolean(), tdb::Union({tdb::Cluster({tdb::String(), tdb::I16()})})}),
      // A union of no elements: its data has no room for a selector.
      tdb::Cluster({tdb::Boolean(), tdb::Array(tdb::Cluster({tdb::Union({})}), {kTDVariable, kTDVariable})}),
      // A connector pane inside data.
      tdb::Cluster({tdb::Boolean(), tdb::Function(0, {0}, {tdb::I32()})}),
      // An array whose element is an array.
      tdb::Cluster({tdb::Boolean(), tdb::Array(tdb::Array(tdb::I8()))}),
      // Elements whose room is far more than the bytes they read from.
      tdb::Cluster({tdb::Boolean(), tdb::Array(tdb::Cluster({tdb::Array(tdb::Variant(), {0xFEFFFF, 3})}))}),
      tdb::Cluster({tdb::Boolean(), tdb::Array(tdb::String(100000))}),
      tdb::Array(tdb::Union({tdb::Cluster({tdb::I16(), tdb::Boolean()}), tdb::Cluster({tdb::I16(), tdb::Block(100000)})})),
      // A fixed dimension whose size alone passes 31 bits with the others.
      tdb::Cluster({tdb::Boolean(), tdb::Array(tdb::I8(), {kTDVariable, TDFixed(0x7FFFF7FF)})}),
  };
  for (auto& td : bad) {
    UHandle type = hs.Add(TypeArray(td));
    EXPECT_EQ(ConvertFlatDataVersion(type, outType, data, outData, 1), kArgErr) << Hex(td.Bytes());
  }
  EXPECT_EQ(DataFailures(), 0) << ReportText();
}

TEST_F(FlatVersionTest, RandomTypesGoToThePreviousFormatAndBack) {
  ftest::Gen gen(404);
  int32 n = qxtest::Scaled(300);
  int32 converted = 0;
  for (int32 i = 0; i < n; ++i) {
    tdb::TD td = tdb::Cluster({tdb::Boolean(), gen.Type(3)});
    dtest::Built b(td);
    Bytes f;
    gen.Flat(b.td(), f, 0);
    Handles hs;
    UHandle type = hs.Add(TypeArray(td));
    LStrHandle data = hs.Add(Str(f));
    UHandle prevType = hs.Add(DSNewHandle(0));
    LStrHandle prevData = hs.Add(Str({}));
    SCOPED_TRACE(testing::Message() << "TD " << Hex(b.bytes) << " flat " << Hex(f));
    MgErr err = ConvertFlatDataVersion(type, prevType, data, prevData, 1);
    if (err) {
      // Only types whose names make the string form undecidable are refused.
      EXPECT_EQ(err, kArgErr);
      continue;
    }
    UHandle curType = hs.Add(DSNewHandle(0));
    LStrHandle curData = hs.Add(Str({}));
    ASSERT_EQ(ConvertFlatDataVersion(prevType, curType, prevData, curData, 0), kNoErr);
    // The previous format has no bounds: string TDs come back variable.
    Bytes mem = td.Bytes();
    UHandle expect = hs.Add(DSNewHandle(4 + int32(mem.size())));
    int32 words = int32(mem.size() / 2);
    std::memcpy(*expect, &words, 4);
    std::memcpy(*expect + 4, mem.data(), mem.size());
    ASSERT_EQ(ConvertStringTDsInHandle(expect, 1), kNoErr);
    ASSERT_EQ(ConvertStringTDsInHandle(expect, 0), kNoErr);
    ASSERT_EQ(TDByteSwapBounded(*expect + 4, 1, 0, int32(mem.size())), kNoErr);
    EXPECT_EQ(Hex(TypeWords(curType)), Hex(TypeWords(expect)));
    EXPECT_EQ(Hex(Data(curData)), Hex(f));
    ++converted;
  }
  EXPECT_GT(converted, n / 2);
  EXPECT_EQ(DataFailures(), 0) << ReportText();
}

}  // namespace
