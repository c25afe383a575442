// Spreadsheet text: arrays of one to four dimensions written and read back,
// the documented cases, random round trips, text of any shape, page headers
// that would size or address outside the array, and the table entries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compiled_call.h"
#include "engine/datamgr.h"
#include "mgsource/memory.h"
#include "mgsource/support.h"
#include "rtlib/sheettable.h"
#include "strings_test_support.h"
#include "tools/tdbuilder.h"

namespace {

using rttest::Dispose;
using rttest::NewString;
using rttest::Text;

class SheetTableTest : public rttest::StringTest {
 protected:
  void SetUp() override {
    StringTest::SetUp();
    ASSERT_EQ(SupportInit(), kNoErr);
  }
};

const uChar* B(const std::string& s) { return reinterpret_cast<const uChar*>(s.data()); }
int32 N(const std::string& s) { return int32(s.size()); }

// A dense array of elements of elemSize bytes seen through a view: the data
// pointer and per dimension the size and the stride.
struct View {
  std::vector<uChar> words;  // ArrayViewData
  ArrayViewData* Get() { return reinterpret_cast<ArrayViewData*>(words.data()); }
  View(void* data, std::vector<int32> sizes, int32 elemSize) : words(4 + 8 * sizes.size()) {
    ArrayViewData* v = Get();
    v->ptr = static_cast<uChar*>(data);
    int32 stride = elemSize;
    for (size_t k = sizes.size(); k-- > 0;) {
      v->dims[k].size = sizes[k];
      v->dims[k].stride = stride;
      stride *= sizes[k] > 0 ? sizes[k] : 1;
    }
  }
};

std::string Write(void* data, std::vector<int32> sizes, const tdb::TD& elem, const std::string& fmt = "",
                  const std::string& delim = "", MgErr* errOut = nullptr) {
  std::vector<uChar> td = tdb::ArrayView(elem, std::vector<int32>(sizes.size(), kTDVariable)).Bytes();
  View v(data, sizes, DataSize(tdb::AsTD(elem.Bytes())));
  LStrHandle out = nullptr;
  MgErr err = ArrayToTable(v.Get(), tdb::AsTD(td), N(fmt), B(fmt), &out, N(delim), B(delim));
  if (errOut) *errOut = err;
  else EXPECT_EQ(err, kNoErr);
  std::string t = out ? Text(out) : "<null>";
  Dispose(out);
  return t;
}

// An array read from text, and what it holds.
struct Read {
  std::vector<uChar> td;
  UHandle h = nullptr;
  MgErr err = 0;
  int32 rank = 0;
  const TypeDescriptor* TD() const { return tdb::AsTD(td); }
  Read(const tdb::TD& elem, int32 r, const std::string& text, const std::string& fmt = "",
       const std::string& delim = "", UHandle start = nullptr)
      : td(tdb::Array(elem, std::vector<int32>(size_t(r), kTDVariable)).Bytes()), h(start), rank(r) {
    err = TableToArray(N(text), B(text), N(fmt), B(fmt), TD(), &h, N(delim), B(delim));
  }
  ~Read() {
    if (h) DisposeData(TD(), &h, &h + 1);
  }
  std::vector<int32> Sizes() const { return h ? dtest::Sizes(h, rank) : std::vector<int32>(size_t(rank), 0); }
  uChar* Elems() const { return reinterpret_cast<uChar*>(*h) + AlignDatum(dtest::ArrayElemTD(TD()), 4 * rank); }
  template <class T>
  std::vector<T> Values() const {
    int32 n = NArrayElts(rank, Sizes().data());
    std::vector<T> v(static_cast<size_t>(n));
    if (n) std::memcpy(v.data(), Elems(), sizeof(T) * size_t(n));
    return v;
  }
  std::vector<std::string> Strings() const {
    int32 n = NArrayElts(rank, Sizes().data());
    std::vector<std::string> v;
    for (int32 i = 0; i < n; ++i) {
      LStrHandle s;
      std::memcpy(&s, Elems() + 4 * i, 4);
      v.push_back(s ? Text(s) : "");
    }
    return v;
  }
};

TEST_F(SheetTableTest, DocumentedCases) {
  int32 a[] = {1, 2, 3, 4};
  EXPECT_EQ(Write(a, {2, 2}, tdb::I32(), "%d"), "1\t2\r\n3\t4\r\n");
  {
    Read r(tdb::I32(), 2, "1,2\n3", "", ",");
    ASSERT_EQ(r.err, kNoErr);
    EXPECT_EQ(r.Sizes(), (std::vector<int32>{2, 2}));
    EXPECT_EQ(r.Values<int32>(), (std::vector<int32>{1, 2, 3, 0}));
  }
  {
    Read r(tdb::I32(), 1, "1\n2,3", "", ",");
    ASSERT_EQ(r.err, kNoErr);
    EXPECT_EQ(r.Sizes(), (std::vector<int32>{2}));
    EXPECT_EQ(r.Values<int32>(), (std::vector<int32>{1, 0}));
  }
  // The line end is the system's.
  LStrHandle eol = SupportConsts().crlf;
  ASSERT_NE(eol, nullptr);
  EXPECT_EQ(Text(eol), "\r\n");
}

TEST_F(SheetTableTest, WritingShapesAndDefaults) {
  double d[] = {1.5, -2, 0.25};
  // "%g" writes the fixed form with six digits for numbers of this size.
  EXPECT_EQ(Write(d, {3}, tdb::DBL()), "1.500000\t-2.000000\t0.250000\r\n");
  EXPECT_EQ(Write(d, {3}, tdb::DBL(), "%.1f", "; "), "1.5; -2.0; 0.2\r\n");
  EXPECT_EQ(Write(d, {0}, tdb::DBL()), "\r\n");
  EXPECT_EQ(Write(d, {0, 3}, tdb::DBL()), "");
  EXPECT_EQ(Write(d, {3, 1}, tdb::DBL(), "%.2e"), "1.50E+0\r\n-2.00E+0\r\n2.50E-1\r\n");
  LStrHandle s[] = {NewString("a b"), nullptr, NewString("c")};
  EXPECT_EQ(Write(s, {3}, tdb::String()), "a b\t\tc\r\n");
  EXPECT_EQ(Write(s, {3}, tdb::String(), "<%s>", ","), "<a b>,<>,<c>\r\n");
  Dispose(s[0]);
  Dispose(s[2]);
  // Three dimensions: a header before each page and an empty line after it.
  int32 cube[12];
  for (int32 i = 0; i < 12; ++i) cube[i] = i;
  EXPECT_EQ(Write(cube, {2, 3, 2}, tdb::I32(), "%d"),
            "[0, 0, 0]\r\n0\t1\r\n2\t3\r\n4\t5\r\n\r\n[1, 0, 0]\r\n6\t7\r\n8\t9\r\n10\t11\r\n\r\n");
  EXPECT_EQ(Write(cube, {2, 1, 1, 2}, tdb::I32(), "%d"), "[0, 0, 0, 0]\r\n0\t1\r\n\r\n[1, 0, 0, 0]\r\n2\t3\r\n\r\n");
  // A view with strides of its own: every other element, rows backwards.
  int32 grid[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<uChar> td = tdb::ArrayView(tdb::I32(), {kTDVariable, kTDVariable}).Bytes();
  std::vector<uChar> vw(4 + 16);
  ArrayViewData* v = reinterpret_cast<ArrayViewData*>(vw.data());
  v->ptr = reinterpret_cast<uChar*>(&grid[4]);
  v->dims[0] = {2, -16};
  v->dims[1] = {2, 8};
  LStrHandle out = nullptr;
  ASSERT_EQ(ArrayToTable(v, tdb::AsTD(td), 2, B("%d"), &out, 1, B(",")), kNoErr);
  EXPECT_EQ(Text(out), "5,7\r\n1,3\r\n");
  // The format and the delimiter taken from the output's own block.
  LStrHandle fmt = NewString("%d|");
  ASSERT_EQ(ArrayToTable(v, tdb::AsTD(td), 2, (*fmt)->str, &fmt, 1, (*fmt)->str + 2), kNoErr);
  EXPECT_EQ(Text(fmt), "5|7\r\n1|3\r\n");
  Dispose(fmt);
  // Refused: no array, an element count that overflows, not an array type.
  EXPECT_EQ(ArrayToTable(nullptr, tdb::AsTD(td), 0, nullptr, &out, 0, nullptr), kArgErr);
  std::vector<uChar> i32 = tdb::I32().Bytes();
  EXPECT_EQ(ArrayToTable(v, tdb::AsTD(i32), 0, nullptr, &out, 0, nullptr), kArgErr);
  v->dims[0] = {1 << 20, 0};
  v->dims[1] = {1 << 12, 0};
  EXPECT_EQ(ArrayToTable(v, tdb::AsTD(td), 0, nullptr, &out, 0, nullptr), kMemFullErr);
  // Rows without elements still take a line each: too many are refused at once.
  v->dims[0] = {0x7FFFFFFF, 0};
  v->dims[1] = {0, 8};
  EXPECT_EQ(ArrayToTable(v, tdb::AsTD(td), 0, nullptr, &out, 0, nullptr), kMemFullErr);
  std::vector<uChar> td3 = tdb::ArrayView(tdb::I32(), {-1, -1, -1}).Bytes();
  std::vector<uChar> vw3(4 + 24);
  ArrayViewData* v3 = reinterpret_cast<ArrayViewData*>(vw3.data());
  v3->ptr = reinterpret_cast<uChar*>(grid);
  v3->dims[0] = {1 << 28, 0};
  v3->dims[1] = {1, 0};
  v3->dims[2] = {0, 4};
  EXPECT_EQ(ArrayToTable(v3, tdb::AsTD(td3), 0, nullptr, &out, 0, nullptr), kMemFullErr);
  EXPECT_EQ(Text(out), "5,7\r\n1,3\r\n");
  Dispose(out);
}

TEST_F(SheetTableTest, ThreeDimensionsRoundTrip) {
  int32 cube[12];
  for (int32 i = 0; i < 12; ++i) cube[i] = i * 7 - 20;
  std::string text = Write(cube, {2, 3, 2}, tdb::I32(), "%d");
  EXPECT_EQ(text.find("[0, 0, 0]\r\n"), 0u);
  EXPECT_NE(text.find("\r\n\r\n[1, 0, 0]\r\n"), std::string::npos);
  Read r(tdb::I32(), 3, text, "%d");
  ASSERT_EQ(r.err, kNoErr);
  EXPECT_EQ(r.Sizes(), (std::vector<int32>{2, 3, 2}));
  EXPECT_EQ(r.Values<int32>(), std::vector<int32>(cube, cube + 12));
  // With "," as the delimiter the headers' commas are no fields.
  std::string commas = Write(cube, {2, 3, 2}, tdb::I32(), "%d", ",");
  Read c(tdb::I32(), 3, commas, "%d", ",");
  EXPECT_EQ(c.Sizes(), (std::vector<int32>{2, 3, 2}));
  EXPECT_EQ(c.Values<int32>(), std::vector<int32>(cube, cube + 12));
  // Four dimensions: pages placed by their headers, in any order.
  Read f(tdb::I32(), 4, "[1, 1, 0, 0]\n5\t6\n\n[0, 2, 0, 0]\n7\t8\n\n");
  ASSERT_EQ(f.err, kNoErr);
  EXPECT_EQ(f.Sizes(), (std::vector<int32>{2, 3, 1, 2}));
  EXPECT_EQ(f.Values<int32>(), (std::vector<int32>{0, 0, 0, 0, 7, 8, 0, 0, 5, 6, 0, 0}));
}

TEST_F(SheetTableTest, RandomTwoDimensionalRoundTrips) {
  std::mt19937 rng(47);
  int rounds = qxtest::Scaled(1000);
  for (int round = 0; round < rounds; ++round) {
    int32 rows = int32(rng() % 6) + 1, cols = int32(rng() % 6) + 1;
    std::vector<double> d(size_t(rows * cols));
    for (double& x : d) {
      std::uniform_real_distribution<double> u(-1e6, 1e6);
      x = (rng() % 5 == 0) ? double(int32(rng() % 200) - 100) : u(rng) * std::pow(10.0, int(rng() % 20) - 10);
    }
    std::string text = Write(d.data(), {rows, cols}, tdb::DBL(), "%.17e", ",");
    Read r(tdb::DBL(), 2, text, "%f", ",");
    ASSERT_EQ(r.err, kNoErr);
    ASSERT_EQ(r.Sizes(), (std::vector<int32>{rows, cols}));
    ASSERT_EQ(r.Values<double>(), d) << text;

    // Strings without the delimiter or line ends, some empty.
    std::vector<std::string> words(size_t(rows * cols));
    std::vector<LStrHandle> hs;
    for (std::string& w : words) {
      int len = int(rng() % 8);
      for (int k = 0; k < len; ++k) w += char(' ' + rng() % 94);
      for (char& ch : w)
        if (ch == ';') ch = '_';
      hs.push_back(w.empty() && rng() % 2 ? nullptr : NewString(w));
    }
    // Every row has its last field non-empty so the widths stay.
    for (int32 rr = 0; rr < rows; ++rr) {
      size_t last = size_t(rr * cols + cols - 1);
      if (words[last].empty()) {
        words[last] = "z";
        Dispose(hs[last]);
        hs[last] = NewString("z");
      }
    }
    std::string st = Write(hs.data(), {rows, cols}, tdb::String(), "", ";");
    Read rs(tdb::String(), 2, st, "", ";");
    ASSERT_EQ(rs.err, kNoErr);
    ASSERT_EQ(rs.Sizes(), (std::vector<int32>{rows, cols}));
    ASSERT_EQ(rs.Strings(), words) << st;
    for (LStrHandle& h : hs) Dispose(h);
  }
}

TEST_F(SheetTableTest, StringElementsStayText) {
  Read r(tdb::String(), 2, "12\tabc\n-3.5\t\n", "%d");
  ASSERT_EQ(r.err, kNoErr);
  EXPECT_EQ(r.Sizes(), (std::vector<int32>{2, 2}));
  std::vector<std::string> v = r.Strings();
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0], "12");
  EXPECT_EQ(v[1], "abc");
  EXPECT_EQ(v[2], "-3.5");
  EXPECT_EQ(v[3], "");
}

TEST_F(SheetTableTest, TextOfAnyShape) {
  const std::string big(70000, 'x');
  struct Case {
    std::string text;
    int32 rank;
    std::vector<int32> sizes;
  } cases[] = {
      {"", 2, {0, 0}},
      {"", 1, {0}},
      {"\t\t\t", 2, {1, 4}},
      {"1\r2\r3", 2, {3, 1}},
      {"1\r\n\r\n2", 2, {3, 1}},
      {"no line end at all", 1, {1}},
      {big, 2, {1, 1}},
      {big + "\t" + big + "\n", 1, {2}},
      {"[", 3, {0, 0, 0}},
      {"[0, 0, 0]", 3, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    Read r(tdb::DBL(), c.rank, c.text);
    EXPECT_EQ(r.err, kNoErr) << c.text.substr(0, 20);
    EXPECT_EQ(r.Sizes(), c.sizes) << c.text.substr(0, 20);
  }
  Read s(tdb::String(), 2, big + "\t" + big);
  ASSERT_EQ(s.Strings().size(), 2u);
  EXPECT_EQ(s.Strings()[1], big);
  // A delimiter of CR or LF works for 1-D only.
  Read one(tdb::I32(), 1, "1\n2\n3", "", "\n");
  EXPECT_EQ(one.Values<int32>(), (std::vector<int32>{1, 2, 3}));
  Read two(tdb::I32(), 2, "1\n2\n3", "", "\n");
  EXPECT_EQ(two.Sizes(), (std::vector<int32>{3, 1}));
}

TEST_F(SheetTableTest, PagesWithoutRowsGiveTheEmptyArray) {
  Read r(tdb::I32(), 3, "[0, 0, 0]\n\n[1, 0, 0]\n1\t2\n\n");
  ASSERT_EQ(r.err, kNoErr);
  EXPECT_EQ(r.Sizes(), (std::vector<int32>{0, 0, 0}));
}

TEST_F(SheetTableTest, HeaderIndicesCannotSizeOrAddressOutside) {
  // Too large: 2, the output unchanged.
  Read keep(tdb::I32(), 4, "[0, 0, 0, 0]\n7\n\n");
  ASSERT_EQ(keep.err, kNoErr);
  UHandle before = keep.h;
  std::vector<uChar> td = tdb::Array(tdb::I32(), {-1, -1, -1, -1}).Bytes();
  const std::string huge = "[99999, 99999, 0, 0]\n1\t2\n\n";
  EXPECT_EQ(TableToArray(N(huge), B(huge), 0, nullptr, tdb::AsTD(td), &keep.h, 0, nullptr), kMemFullErr);
  EXPECT_EQ(keep.h, before);
  EXPECT_EQ(keep.Values<int32>(), (std::vector<int32>{7}));
  const std::string top = "[2147483647, 0, 0]\n1\n\n";
  std::vector<uChar> td3 = tdb::Array(tdb::I32(), {-1, -1, -1}).Bytes();
  UHandle none = nullptr;
  EXPECT_EQ(TableToArray(N(top), B(top), 0, nullptr, tdb::AsTD(td3), &none, 0, nullptr), kMemFullErr);
  EXPECT_EQ(none, nullptr);
  // Elements that would reach 1 GiB.
  const std::string wide = "[70000, 0, 0]\n" + std::string(4000, '\t') + "\n\n";
  EXPECT_EQ(TableToArray(N(wide), B(wide), 0, nullptr, tdb::AsTD(td3), &none, 0, nullptr), kMemFullErr);
  // Negative indices are not placed.
  Read neg(tdb::I32(), 3, "[-5, 0, 0]\n1\t2\n\n[1, 0, 0]\n3\t4\n\n[-1, 0, 0]\n9\t9\n\n");
  ASSERT_EQ(neg.err, kNoErr);
  EXPECT_EQ(neg.Sizes(), (std::vector<int32>{2, 1, 2}));
  EXPECT_EQ(neg.Values<int32>(), (std::vector<int32>{0, 0, 3, 4}));
  // Pages with more rows than the first are cut to its rows.
  Read more(tdb::I32(), 3, "[0, 0, 0]\n1\n\n[1, 0, 0]\n2\n3\n4\n\n");
  EXPECT_EQ(more.Sizes(), (std::vector<int32>{2, 1, 1}));
  EXPECT_EQ(more.Values<int32>(), (std::vector<int32>{1, 2}));
}

TEST_F(SheetTableTest, RefusedArguments) {
  std::vector<uChar> td = tdb::Array(tdb::I32(), {-1}).Bytes();
  std::vector<uChar> notArray = tdb::I32().Bytes();
  UHandle h = nullptr;
  EXPECT_EQ(TableToArray(1, B("1"), 0, nullptr, tdb::AsTD(notArray), &h, 0, nullptr), kArgErr);
  EXPECT_EQ(TableToArray(1, B("1"), 0, nullptr, tdb::AsTD(td), nullptr, 0, nullptr), kArgErr);
  int32 fake[4] = {1, 0, 0, 0};
  UHandle foreign = reinterpret_cast<UHandle>(fake);
  EXPECT_EQ(TableToArray(1, B("1"), 0, nullptr, tdb::AsTD(td), &foreign, 0, nullptr), kArgErr);
  EXPECT_EQ(foreign, reinterpret_cast<UHandle>(fake));
  // Failing allocations leave the output as it was.
  Read r(tdb::I32(), 1, "5\t6");
  UHandle was = r.h;
  for (int32 n = 1; n <= 2; ++n) {
    MemFailNthAllocation(n);
    MgErr err = TableToArray(3, B("7\t8"), 0, nullptr, r.TD(), &r.h, 0, nullptr);
    MemFailNthAllocation(0);
    if (err) {
      EXPECT_EQ(err, kMemFullErr);
      EXPECT_EQ(r.h, was);
      EXPECT_EQ(r.Values<int32>(), (std::vector<int32>{5, 6}));
    }
  }
}

TEST_F(SheetTableTest, WritingResizesTheOutputAtMostTwice) {
  std::vector<double> d(200);
  for (size_t i = 0; i < d.size(); ++i) d[i] = double(i) / 7;
  std::vector<uChar> td = tdb::ArrayView(tdb::DBL(), {-1, -1}).Bytes();
  View v(d.data(), {20, 10}, 8);
  for (bool fresh : {true, false}) {
    LStrHandle out = fresh ? nullptr : NewString("old");
    // A third allocation or resize would fail.
    MemFailNthAllocation(3);
    MgErr err = ArrayToTable(v.Get(), tdb::AsTD(td), 4, B("%.6f"), &out, 0, nullptr);
    MemFailNthAllocation(0);
    EXPECT_EQ(err, kNoErr);
    EXPECT_EQ(Text(out).substr(0, 20), "0.000000\t0.142857\t0.");
    Dispose(out);
  }
  // The first failing leaves the output alone.
  LStrHandle out = NewString("old");
  MemFailNthAllocation(1);
  EXPECT_EQ(ArrayToTable(v.Get(), tdb::AsTD(td), 0, nullptr, &out, 0, nullptr), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(Text(out), "old");
  Dispose(out);
}

TEST_F(SheetTableTest, ThroughTheTableAsCompiledCode) {
  rttest::StartRTTable();
  ASSERT_STREQ(QXRTEntryName(802), "SubString");
  ASSERT_STREQ(QXRTEntryName(792), "ArrayToTable");
  LStrHandle s = NewString("abcdef"), out = nullptr;
  qxtest::CallResult r = qxtest::CallAsCompiledCode(
      QXRTTable[802], {uInt32(s), uInt32(2), uInt32(3), uInt32(&out)});
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(r.espAfter, r.espBefore);
  EXPECT_EQ(Text(out), "cde");
  int32 a[] = {1, 2, 3, 4};
  std::vector<uChar> td = tdb::ArrayView(tdb::I32(), {-1, -1}).Bytes();
  View v(a, {2, 2}, 4);
  const std::string fmt = "%d";
  r = qxtest::CallAsCompiledCode(QXRTTable[792], {uInt32(v.Get()), uInt32(td.data()), 2u, uInt32(fmt.data()),
                                                  uInt32(&out), 0u, 0u});
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(Text(out), "1\t2\r\n3\t4\r\n");
  // Every entry of these functions stands at its index.
  for (int32 i : {722, 792, 793, 797, 798, 799, 800, 801, 802, 803, 804, 805, 806, 807, 808, 897, 1453, 1454})
    EXPECT_NE(QXRTTable[i], reinterpret_cast<QXRTRoutine>(&MissingRoutine)) << i;
  Dispose(s);
  Dispose(out);
}

}  // namespace
