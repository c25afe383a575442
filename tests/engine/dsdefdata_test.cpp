// Default data: deflating the stored entries of a data space and inflating
// a new data space from them, with short and bad data refused cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "data_test_util.h"
#include "engine/dsalloc.h"
#include "engine/flatten.h"
#include "mgsource/byteorder.h"
#include "tools/vibuilder.h"

namespace {

using Bytes = std::vector<uChar>;
using dtest::NewLStr;
using dtest::StrAt;

constexpr uChar kStored = kDSEntryStored;

class DefaultDataTest : public dtest::DataTest {
 protected:
  void TearDown() override {
    for (auto& s : spaces_) {
      DisposeData(reinterpret_cast<const TypeDescriptor*>(*s.second), *s.first, *s.first + DSGetHandleSize(s.first));
      DSDisposeHandle(s.first);
    }
    for (UHandle vi : vis_) vib::DisposeVI(vi);
    dtest::DataTest::TearDown();
  }
  UHandle NewVI(const std::vector<tdb::TD>& entries, bool withDataSpace = true) {
    UHandle vi = vib::NewVI(entries, withDataSpace);
    EXPECT_NE(vi, nullptr);
    vis_.push_back(vi);
    td_ = VIRec(vi)->dsTypeMap;
    return vi;
  }
  const TypeDescriptor* Type() const { return reinterpret_cast<const TypeDescriptor*>(*td_); }
  // The data offset of top-level element i and of element j inside it.
  int32 Off(int32 i) const { return ObjOff(Type(), i); }
  static int32 ObjOff(const TypeDescriptor* cluster, int32 i) {
    int32 off = 0;
    for (int32 k = 0; k < i; ++k) off += DataSize(ElemTD(cluster, k));
    return off;
  }
  int32 Off(int32 i, int32 j) const { return Off(i) + ObjOff(ElemTD(Type(), i), j); }
  // A data space disposed with the type it was made of.
  UHandle Keep(UHandle ds) {
    if (ds) spaces_.emplace_back(ds, td_);
    return ds;
  }
  static UHandle HandleOf(const Bytes& b) {
    UHandle h = nullptr;
    EXPECT_EQ(AZPtrToHand(b.data(), &h, int32(b.size())), kNoErr);
    return h;
  }
  static Bytes BytesOf(UHandle h) { return Bytes(*h, *h + AZGetHandleSize(h)); }
  static void PutArray(uChar* slot, const TypeDescriptor* arrayTD, const std::vector<int32>& values, int32 width) {
    UHandle a = nullptr;
    std::memcpy(&a, slot, 4);
    int32 n = int32(values.size());
    ASSERT_EQ(ArrayResize(dtest::ArrayElemTD(arrayTD), 1, &a, dtest::Dims(&n)), kNoErr);
    for (int32 i = 0; i < n; ++i) {
      if (width == 4) PutNative32(*a + 4 + 4 * i, uInt32(values[size_t(i)]));
      if (width == 2) PutNative16(*a + 4 + 2 * i, uInt16(values[size_t(i)]));
      if (width == 1) (*a)[4 + i] = uChar(values[size_t(i)]);
    }
    std::memcpy(slot, &a, 4);
  }
  static bool EmptyString(const uChar* slot) {
    std::string v = StrAt(slot);
    return v == "<null>" || v.empty();
  }
  static std::vector<int32> ArrayAt(const uChar* slot, int32 width) {
    UHandle a = nullptr;
    std::memcpy(&a, slot, 4);
    std::vector<int32> v;
    if (!a) return v;
    for (int32 i = 0, n = int32(GetNative32(*a)); i < n; ++i)
      v.push_back(width == 4 ? int32(GetNative32(*a + 4 + 4 * i)) : int32(int16(GetNative16(*a + 4 + 2 * i))));
    return v;
  }

  std::vector<UHandle> vis_;
  std::vector<std::pair<UHandle, UHandle>> spaces_;
  UHandle td_ = nullptr;
};

Bytes BE32(uInt32 v) { return {uChar(v >> 24), uChar(v >> 16), uChar(v >> 8), uChar(v)}; }
Bytes FlatStr(const std::string& s) {
  Bytes b = BE32(uInt32(s.size()));
  b.insert(b.end(), s.begin(), s.end());
  return b;
}
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// The entries of the round trip: stored and not, flat and not, nested.
std::vector<tdb::TD> RoundTripEntries() {
  using namespace tdb;
  return {
      String().WithFlags(kStored),                                   // 1
      Array(I32()).WithFlags(kStored),                               // 2
      Cluster({I16().WithFlags(kStored), String(),                   // 3: walked into
               Cluster({String().WithFlags(kStored), Array(DBL())})}),
      String(),                                                      // 4
      Array(U8()),                                                   // 5
      Cluster({String(), Array(I16())}).WithFlags(kStored),          // 6: stored whole
      DBL().WithFlags(kStored),                                      // 7
      I32(),                                                         // 8
  };
}

TEST_F(DefaultDataTest, DeflatedStoredValuesInflateBackAndTheRestIsEmpty) {
  UHandle vi = NewVI(RoundTripEntries());
  uChar* d = *VIRec(vi)->dataSpace;
  dtest::PutStr(d + Off(1), "hello");
  PutArray(d + Off(2), ElemTD(Type(), 2), {1, -2, 3}, 4);
  PutNative16(d + Off(3, 0), 7);
  dtest::PutStr(d + Off(3, 1), "gone");
  dtest::PutStr(d + Off(3) + ObjOff(ElemTD(Type(), 3), 2), "kept");
  dtest::PutStr(d + Off(4), "gone too");
  PutArray(d + Off(5), ElemTD(Type(), 5), {9}, 1);
  dtest::PutStr(d + Off(6, 0), "in");
  PutArray(d + Off(6, 1), ElemTD(ElemTD(Type(), 6), 1), {4, 5}, 2);
  double x = 2.5;
  std::memcpy(d + Off(7), &x, 8);
  PutNative32(d + Off(8), 99);

  UHandle flat = DeflateDataSpace(vi);
  ASSERT_NE(flat, nullptr);
  Bytes expect = FlatStr("hello");
  Append(expect, BE32(3));
  Append(expect, BE32(1));
  Append(expect, BE32(uInt32(-2)));
  Append(expect, BE32(3));
  Append(expect, {0, 7});
  Append(expect, FlatStr("kept"));
  Append(expect, FlatStr("in"));
  Append(expect, BE32(2));
  Append(expect, {0, 4, 0, 5});
  Append(expect, {0x40, 0x04, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(BytesOf(flat), expect);

  UHandle ds = Keep(InflateDataSpace(vi, flat, 0));
  AZDisposeHandle(flat);
  ASSERT_NE(ds, nullptr);
  int32 size = DataSize(Type());
  EXPECT_EQ(DSGetHandleSize(ds), size);
  EXPECT_EQ(DSHdr(ds)->size, size);
  EXPECT_EQ(DSHdr(ds)->typeDesc, td_);
  uChar* n = *ds;
  EXPECT_EQ(StrAt(n + Off(1)), "hello");
  EXPECT_EQ(ArrayAt(n + Off(2), 4), (std::vector<int32>{1, -2, 3}));
  EXPECT_EQ(GetNative16(n + Off(3, 0)), 7);
  EXPECT_TRUE(EmptyString(n + Off(3, 1))) << "not stored: empty";
  EXPECT_EQ(StrAt(n + Off(3) + ObjOff(ElemTD(Type(), 3), 2)), "kept");
  EXPECT_TRUE(ArrayAt(n + Off(3) + ObjOff(ElemTD(Type(), 3), 2) + 4, 4).empty());
  EXPECT_TRUE(EmptyString(n + Off(4))) << "not stored: empty";
  EXPECT_TRUE(ArrayAt(n + Off(5), 1).empty());
  EXPECT_EQ(StrAt(n + Off(6, 0)), "in");
  EXPECT_EQ(ArrayAt(n + Off(6, 1), 2), (std::vector<int32>{4, 5}));
  double y = 0;
  std::memcpy(&y, n + Off(7), 8);
  EXPECT_EQ(y, 2.5);
  EXPECT_EQ(GetNative32(n + Off(8)), 0u) << "flat data that is not stored stays zero";
  for (int32 i = 0; i < kDataSpaceHeaderSize; ++i) {
    if (i == int32(offsetof(DataSpaceHeader, size)) || i == int32(offsetof(DataSpaceHeader, typeDesc))) {
      i += 3;
      continue;
    }
    ASSERT_EQ(n[i], 0) << "header byte " << i;
  }
}

TEST_F(DefaultDataTest, ShortDataGivesNullAndLeaksNothing) {
  using namespace tdb;
  UHandle vi = NewVI({String().WithFlags(kStored), Array(Cluster({String(), I32()})).WithFlags(kStored),
                      Cluster({String().WithFlags(kStored), Array(I16())}), I32().WithFlags(kStored)});
  Bytes good = FlatStr("abcdef");
  Append(good, BE32(2));
  Append(good, FlatStr("one"));
  Append(good, BE32(1));
  Append(good, FlatStr("two"));
  Append(good, BE32(2));
  Append(good, FlatStr("inner"));
  Append(good, BE32(0x01020304));
  UHandle h = HandleOf(good);
  UHandle ok = Keep(InflateDataSpace(vi, h, 0));
  AZDisposeHandle(h);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(StrAt(*ok + Off(3, 0)), "inner");
  EXPECT_EQ(GetNative32(*ok + Off(4)), 0x01020304u);

  // The zones' totals stay as they are once the first round has warmed the pool.
  MemStatsRecord az0{}, ds0{};
  int32 live = dtest::LiveHandles();
  for (int round = 0; round < 2; ++round) {
    if (round == 1) {
      AZMemStats(&az0);
      DSMemStats(&ds0);
    }
    for (size_t len = 0; len < good.size(); ++len) {
      UHandle cut = HandleOf(Bytes(good.begin(), good.begin() + long(len)));
      EXPECT_EQ(InflateDataSpace(vi, cut, 0), nullptr) << "cut at " << len;
      AZDisposeHandle(cut);
      ASSERT_EQ(dtest::LiveHandles(), live) << "cut at " << len;
    }
  }
  // A count far beyond the data is refused before anything is made for it.
  Bytes huge = FlatStr("abcdef");
  Append(huge, BE32(0x7FFFFFF0));
  UHandle hh = HandleOf(huge);
  EXPECT_EQ(InflateDataSpace(vi, hh, 0), nullptr);
  AZDisposeHandle(hh);
  EXPECT_EQ(InflateDataSpace(vi, nullptr, 0), nullptr) << "no default data for stored entries";
  MemStatsRecord az1, ds1;
  AZMemStats(&az1);
  DSMemStats(&ds1);
  EXPECT_EQ(az1.allocTotal, az0.allocTotal);
  EXPECT_EQ(ds1.allocTotal, ds0.allocTotal);
  EXPECT_EQ(dtest::LiveHandles(), live);
}

TEST_F(DefaultDataTest, TheClusterIsMarkedWhenEveryUnmarkedElementIsFlat) {
  using namespace tdb;
  struct Case {
    const char* what;
    std::vector<TD> entries;
    bool marked;
  };
  const Case cases[] = {
      {"flat only", {I32(), DBL(), Cluster({I16()})}, true},
      {"stored string", {String().WithFlags(kStored)}, true},
      {"private string", {String().WithFlags(kDSEntryPrivate)}, true},
      {"unmarked string", {I32(), String()}, false},
      {"unmarked array in a cluster", {Cluster({I16(), Array(U8())})}, false},
      {"marked cluster holding an array", {Cluster({Array(U8())}).WithFlags(kDSEntryPrivate)}, true},
  };
  for (const Case& c : cases) {
    UHandle vi = NewVI(c.entries);
    (*td_)[3] = c.marked ? 0 : kDSEntryPrivate;  // the opposite, to see it change
    UHandle flat = DeflateDataSpace(vi);
    ASSERT_NE(flat, nullptr);
    UHandle ds = Keep(InflateDataSpace(vi, flat, 0));
    AZDisposeHandle(flat);
    ASSERT_NE(ds, nullptr) << c.what;
    EXPECT_EQ(((*td_)[3] & kDSEntryPrivate) != 0, c.marked) << c.what;
  }
}

TEST_F(DefaultDataTest, BadDescriptorsAndTheOldBooleanFormat) {
  using namespace tdb;
  // Not a cluster, a cluster smaller than the header, element sizes past the handle.
  UHandle vi = NewVI({}, false);
  Bytes notCluster = Array(I32()).Bytes();
  ASSERT_EQ(DSPtrToXHand(notCluster.data(), td_, int32(notCluster.size())), kNoErr);
  EXPECT_EQ(InflateDataSpace(vi, nullptr, 0), nullptr);
  Bytes small = Cluster({Block(100)}).Bytes();
  ASSERT_EQ(DSPtrToXHand(small.data(), td_, int32(small.size())), kNoErr);
  EXPECT_EQ(InflateDataSpace(vi, nullptr, 0), nullptr);
  Bytes past = vib::DataSpaceType({I32()}).Bytes();
  PutNative16(&past[14], 200);
  ASSERT_EQ(DSPtrToXHand(past.data(), td_, int32(past.size())), kNoErr);
  EXPECT_EQ(InflateDataSpace(vi, nullptr, 0), nullptr);
  EXPECT_EQ(InflateDataSpace(nullptr, nullptr, 0), nullptr);
  // Codes that no data has, and sizes past 31 bits, are refused without a report.
  ClearReports();
  for (const TD& t : {vib::DataSpaceType({Function(0, {}, {})}), vib::DataSpaceType({Array(Function(0, {}, {}))}),
                      vib::DataSpaceType({Header(0x99)}), vib::DataSpaceType({Variant(2)}),
                      vib::DataSpaceType({Block(0x7FFFFF00), Block(0x7FFFFF00)}),
                      vib::DataSpaceType({Cluster({Block(0x40000000), Block(0x40000000)})})}) {
    Bytes b = t.Bytes();
    ASSERT_EQ(DSPtrToXHand(b.data(), td_, int32(b.size())), kNoErr);
    EXPECT_EQ(InflateDataSpace(vi, nullptr, 0), nullptr);
  }
  EXPECT_EQ(ReportText(), "");
  ClearReports();
  EXPECT_EQ(DeflateDataSpace(vi), nullptr);
  EXPECT_EQ(qxtest::Reports::Get().Count("no data space"), 1);

  // Booleans of the previous format are 16-bit words.
  UHandle b = NewVI({Boolean().WithFlags(kStored), Boolean().WithFlags(kStored)});
  Bytes old{0x80, 0x00, 0x00, 0x00};
  UHandle h = HandleOf(old);
  UHandle ds = Keep(InflateDataSpace(b, h, kFlatOldBooleans));
  ASSERT_NE(ds, nullptr);
  EXPECT_NE((*ds)[Off(1)], 0);
  EXPECT_EQ((*ds)[Off(2)], 0);
  UHandle cur = Keep(InflateDataSpace(b, h, 0));
  AZDisposeHandle(h);
  ASSERT_NE(cur, nullptr) << "the current format reads one byte per boolean";
  EXPECT_NE((*cur)[Off(1)], 0);
  EXPECT_EQ((*cur)[Off(2)], 0);
}

}  // namespace
