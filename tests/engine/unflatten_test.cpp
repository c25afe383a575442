// Flat data read back from memory, strings and streams: the reading rules of
// every kind of type, short and bad data, and what the readers allocate.
#include "flat_test_util.h"
#include "platform/qx_vmem.h"

using dtest::Built;
using dtest::Datum;
using ftest::Bytes;
using ftest::Flat;
using ftest::FromStream;
using ftest::Hex;
using ftest::MemStream;
using ftest::Source;

namespace {

class UnFlattenTest : public dtest::DataTest {};

int32 ReadMem(const TypeDescriptor* td, void* dst, const Bytes& b, int32 flags = 0) {
  Source s(b);
  return UnFlattenFromMem(s.h, 0, td, dst, int32(b.size()), flags);
}

Bytes Be32(std::initializer_list<int32> words) {
  Bytes b;
  for (int32 w : words)
    for (int i = 3; i >= 0; --i) b.push_back(uChar(uInt32(w) >> (8 * i)));
  return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(UnFlattenTest, ShortStringReportsAvailablePlusOneAndEmptiesTheDestination) {
  Built b(tdb::String());
  Datum d(b.td());
  dtest::PutStr(d.p(), "previous");
  Bytes f = Cat(Be32({10}), Bytes(8, 'x'));
  EXPECT_EQ(ReadMem(b.td(), d.p(), f), 13);
  EXPECT_EQ(dtest::Str(d.S()), "");
  // Fewer than four bytes, and a negative count.
  EXPECT_EQ(ReadMem(b.td(), d.p(), Bytes{0, 0, 0}), 4);
  EXPECT_EQ(ReadMem(b.td(), d.p(), Be32({-1})), 5);
  EXPECT_EQ(ReadMem(b.td(), d.p(), Cat(Be32({2}), {'o', 'k'})), 6);
  EXPECT_EQ(dtest::Str(d.S()), "ok");
}

TEST_F(UnFlattenTest, FixedAndBoundedStringsKeepTheirBound) {
  Bytes abc = Cat(Be32({3}), {'a', 'b', 'c'});
  Built fixed(tdb::String(TDFixed(8)));
  Datum f(fixed.td());
  EXPECT_EQ(ReadMem(fixed.td(), f.p(), abc), 7);
  ASSERT_EQ((*f.S())->cnt, 8);
  EXPECT_EQ(Hex(Bytes((*f.S())->str, (*f.S())->str + 8)), "61 62 63 00 00 00 00 00");
  EXPECT_EQ(DSGetHandleSize(f.H()), 12);

  Built bounded(tdb::String(2));
  Datum g(bounded.td());
  EXPECT_EQ(ReadMem(bounded.td(), g.p(), abc), 7);
  EXPECT_EQ(dtest::Str(g.S()), "ab");
  EXPECT_EQ(DSGetHandleSize(g.H()), 6);

  // A variable array of bounded strings: its new elements have no handle yet.
  Built arr(tdb::Array(tdb::String(5)));
  Datum a(arr.td());
  Bytes flat = Cat(Be32({2, 3}), Cat({'x', 'y', 'z'}, Cat(Be32({7}), {'1', '2', '3', '4', '5', '6', '7'})));
  ClearReports();
  EXPECT_EQ(ReadMem(arr.td(), a.p(), flat), int32(flat.size()));
  EXPECT_EQ(DataFailures(), 0) << ReportText();
  UHandle h = a.H();
  LStrHandle e0, e1;
  std::memcpy(&e0, *h + 4, 4);
  std::memcpy(&e1, *h + 8, 4);
  EXPECT_EQ(dtest::Str(e0), "xyz");
  EXPECT_EQ(dtest::Str(e1), "12345");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(e1)), 9);
}

TEST_F(UnFlattenTest, EnumerationsClampToTheLastItem) {
  Built e8(tdb::Enum(kTDEnumU8, {"a", "b", "c"}));
  uChar v = 0;
  EXPECT_EQ(ReadMem(e8.td(), &v, Bytes{5}), 1);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(ReadMem(e8.td(), &v, Bytes{1}), 1);
  EXPECT_EQ(v, 1);
  Built e32(tdb::Enum(kTDEnumU32, {"a", "b"}));
  uInt32 w = 0;
  EXPECT_EQ(ReadMem(e32.td(), &w, Be32({-1})), 4);
  EXPECT_EQ(w, 1u);
  // Also inside arrays, which are moved as blocks or swapped in bulk.
  Built a8(tdb::Array(tdb::Enum(kTDEnumU8, {"a", "b", "c"})));
  Datum d(a8.td());
  EXPECT_EQ(ReadMem(a8.td(), d.p(), Cat(Be32({4}), {0, 7, 2, 200})), 8);
  EXPECT_EQ(Hex(Bytes(*d.H() + 4, *d.H() + 8)), "00 02 02 02");
  Built a16(tdb::Array(tdb::Enum(kTDEnumU16, {"a", "b"})));
  Datum d16(a16.td());
  EXPECT_EQ(ReadMem(a16.td(), d16.p(), Cat(Be32({2}), {0, 1, 1, 0})), 8);
  EXPECT_EQ(Hex(Bytes(*d16.H() + 4, *d16.H() + 8)), "01 00 01 00");
}

TEST_F(UnFlattenTest, ShortNumericsReadAsZeroAndReportTheirSize) {
  Built dbl(tdb::DBL());
  double x = 7;
  Source s(Bytes{0x3F, 0xF0, 0});
  EXPECT_EQ(UnFlattenData(s.h, 0, dbl.td(), &x, 3, 0), 8);
  EXPECT_EQ(x, 0.0);
  Built ext(tdb::EXT());
  uChar e[10];
  std::memset(e, 0x55, 10);
  EXPECT_EQ(UnFlattenData(s.h, 0, ext.td(), e, 3, 0), 16);
  EXPECT_EQ(Hex(Bytes(e, e + 10)), Hex(Bytes(10, 0)));
  // In a cluster the sum passes what was there.
  Built c(tdb::Cluster({tdb::I16(), tdb::I32()}));
  uChar cd[6];
  EXPECT_EQ(UnFlattenData(s.h, 0, c.td(), cd, 3, 0), 6);
}

TEST_F(UnFlattenTest, HandlesNeedTheirWholeCount) {
  Built h(tdb::Handle());
  Datum d(h.td());
  EXPECT_EQ(ReadMem(h.td(), d.p(), Cat(Be32({3}), {1, 2, 3})), 7);
  EXPECT_EQ(AZGetHandleSize(d.H()), 3);
  EXPECT_EQ(ReadMem(h.td(), d.p(), Cat(Be32({4}), {1, 2, 3})), 8);
  EXPECT_EQ(ReadMem(h.td(), d.p(), Be32({INT32_MIN})), 5);
  EXPECT_EQ(AZGetHandleSize(d.H()), 0);  // emptied, kept
}

TEST_F(UnFlattenTest, ValidDatumCutAtEveryByteFailsWithoutLeaks) {
  Built b(tdb::Cluster({tdb::I16(), tdb::String(), tdb::Array(tdb::Cluster({tdb::Path(), tdb::Handle()})),
                        tdb::Union({tdb::Cluster({tdb::I16(), tdb::String(4)}), tdb::Cluster({tdb::I16()})}),
                        tdb::Variant(), tdb::EXT()}));
  ftest::Gen gen(7);
  Bytes f;
  for (int tries = 0; tries < 50 && f.size() < 60; ++tries) {
    f.clear();
    gen.Flat(b.td(), f, 0);
  }
  ASSERT_GT(f.size(), 40u);
  for (size_t cut = 0; cut < f.size(); ++cut) {
    Bytes part(f.begin(), f.begin() + long(cut));
    Datum d(b.td());
    EXPECT_GT(ReadMem(b.td(), d.p(), part), int32(cut)) << cut;
    Datum e(b.td());
    MemStream s(part);
    EXPECT_NE(FromStream(s, b.td(), e.p()), kNoErr) << cut;
  }
  Datum d(b.td());
  EXPECT_EQ(ReadMem(b.td(), d.p(), f), int32(f.size()));
  EXPECT_EQ(Flat(b.td(), d.p()), f);
}

TEST_F(UnFlattenTest, CountsBeyondTheBytesAllocateNothing) {
  Built b(tdb::Array(tdb::Handle()));
  Datum d(b.td());
  int64_t before = ftest::PeakKB();
  Bytes f = Cat(Be32({0x07FFFFFF}), Bytes(8, 0));
  EXPECT_EQ(ReadMem(b.td(), d.p(), f), 13);
  // Variable arrays of arrays and strings count their smallest flat form.
  Built nested(tdb::Array(tdb::Cluster({tdb::Array(tdb::String())})));
  Datum n(nested.td());
  EXPECT_EQ(ReadMem(nested.td(), n.p(), f), 13);
  Built paths(tdb::Array(tdb::Path(), {kTDVariable, kTDVariable}));
  Datum p(paths.td());
  EXPECT_EQ(ReadMem(paths.td(), p.p(), Cat(Be32({0x4000, 0x4000}), Bytes(64, 0))), 73);
  int64_t after = ftest::PeakKB();
  ASSERT_GT(before, 0);
  EXPECT_LT(after - before, 16 * 1024) << "KB reserved";
  EXPECT_EQ(*reinterpret_cast<int32*>(*d.H()), 0);
}

TEST_F(UnFlattenTest, ElementsNeedingFarMoreMemoryThanTheirBytesAreRefused) {
  ftest::StreamCheck check;
  // 1,000 unions of 2 flat bytes each, whose larger element takes 100,002
  // bytes; 100 strings of 4 flat bytes each, bounded at 1 MB.
  Built unions(tdb::Array(
      tdb::Union({tdb::Cluster({tdb::I16()}), tdb::Cluster({tdb::I16(), tdb::Block(100000)})})));
  Bytes uf = Cat(Be32({1000}), Bytes(2000, 0));
  Built strings(tdb::Array(tdb::String(1 << 20)));
  Bytes sf = Cat(Be32({100}), Bytes(400, 0));
  int64_t before = ftest::PeakKB();
  for (auto [b, f] : {std::pair<const Built*, const Bytes*>{&unions, &uf}, {&strings, &sf}}) {
    SCOPED_TRACE(Hex(b->bytes));
    Datum d(b->td());
    EXPECT_EQ(ReadMem(b->td(), d.p(), *f), int32(f->size()) + 1);
    EXPECT_EQ(UnFlattenData(Source(*f).h, 0, b->td(), nullptr, int32(f->size()), 0), int32(f->size()) + 1)
        << "measuring agrees with reading";
    MemStream st(*f);
    EXPECT_EQ(FromStream(st, b->td(), d.p()), kArgErr);
    EXPECT_EQ(st.pos, 4) << "refused after the sizes, before any element";
    EXPECT_EQ(Flat(b->td(), d.p()), Be32({0}));
    // No elements: nothing to refuse.
    EXPECT_EQ(ReadMem(b->td(), d.p(), Be32({0})), 4);
  }
  EXPECT_LT(ftest::PeakKB() - before, 16 * 1024) << "KB reserved";
  // Elements whose memory stays in proportion read as before.
  Built fine(tdb::Array(tdb::Cluster({tdb::I16(), tdb::String(255)})));
  Bytes ff = Cat(Cat(Be32({2}), {0, 1}), Cat(Be32({1}), {'a', 0, 2, 0, 0, 0, 0}));
  Datum d(fine.td());
  EXPECT_EQ(ReadMem(fine.td(), d.p(), ff), int32(ff.size()));
  EXPECT_EQ(Flat(fine.td(), d.p()), ff);
  EXPECT_EQ(DataFailures(), 0) << ReportText();
}

TEST_F(UnFlattenTest, ArrayOfUnionsSmallerThanTheLargestElementReadsBack) {
  Built b(tdb::Array(tdb::Union({tdb::Cluster({tdb::I16(), tdb::I8()}), tdb::Cluster({tdb::I16(), tdb::Block(100)})})));
  Bytes f = Cat(Be32({3}), {0, 0, 1, 0, 0, 2, 0, 0, 3});
  Datum d(b.td());
  ASSERT_EQ(ReadMem(b.td(), d.p(), f), 13);
  EXPECT_EQ(Flat(b.td(), d.p()), f);
  MemStream s(f);
  Datum e(b.td());
  EXPECT_EQ(FromStream(s, b.td(), e.p()), kNoErr);
  EXPECT_EQ(Flat(b.td(), e.p()), f);
}

TEST_F(UnFlattenTest, UnionsNeedTheirSelectorAndChangeElementsCleanly) {
  Built b(tdb::Union({tdb::Cluster({tdb::I16(), tdb::String()}), tdb::Cluster({tdb::I16(), tdb::I32()})}));
  Datum d(b.td());
  Source one(Bytes{0});
  EXPECT_EQ(UnFlattenData(one.h, 0, b.td(), d.p(), 1, 0), 2);
  Bytes s0 = Cat({0, 0}, Cat(Be32({2}), {'h', 'i'}));
  Bytes s1 = Cat({0, 1}, Be32({0x12345678}));
  ASSERT_EQ(ReadMem(b.td(), d.p(), s0), 8);
  EXPECT_EQ(dtest::StrAt(d.p() + 2), "hi");
  // The string goes when the other element comes, and comes back made anew.
  ASSERT_EQ(ReadMem(b.td(), d.p(), s1), 6);
  EXPECT_EQ(d.Get<int32>(2), 0x12345678);
  ASSERT_EQ(ReadMem(b.td(), d.p(), s0), 8);
  EXPECT_EQ(dtest::StrAt(d.p() + 2), "hi");
  // An unknown selector reads nothing from memory; from a stream it is bad
  // data, which leaves the stream after the selector, as any failed read
  // leaves it where the failure was found.
  Source bad(Bytes{0, 9, 1, 2});
  EXPECT_EQ(UnFlattenData(bad.h, 0, b.td(), d.p(), 4, 0), 0);
  MemStream past(Bytes{0, 5, 0xAA, 0xBB});
  EXPECT_EQ(FromStream(past, b.td(), d.p()), kArgErr);
  EXPECT_EQ(past.pos, 2);
  MemStream skipped(Bytes{0xFF, 0xFF, 0xAA, 0xBB});
  EXPECT_EQ(FromStream(skipped, b.td(), nullptr), kArgErr);
  EXPECT_EQ(skipped.pos, 2);
  MemStream st(s1);
  ASSERT_EQ(FromStream(st, b.td(), d.p()), kNoErr);
  EXPECT_EQ(d.Get<int32>(2), 0x12345678);
  MemStream st0(s0);
  ASSERT_EQ(FromStream(st0, b.td(), d.p()), kNoErr);
  EXPECT_EQ(dtest::StrAt(d.p() + 2), "hi");
}

TEST_F(UnFlattenTest, ViewsAreNotRead) {
  Built sv(tdb::StringView());
  Built av(tdb::ArrayView(tdb::I32()));
  uChar d[12] = {};
  Bytes f = Cat(Be32({1}), Be32({5}));
  EXPECT_EQ(ReadMem(sv.td(), d, f), 9);
  MemStream s(f);
  EXPECT_EQ(FromStream(s, sv.td(), d), kArgErr);
  EXPECT_EQ(ReadMem(av.td(), d, f), 9);
}

TEST_F(UnFlattenTest, PathsInData) {
  Built b(tdb::Path());
  Datum d(b.td());
  Path p = FMakePath(nullptr, kAbsPath, "\001C", "\003abc", nullptr);
  Bytes f(static_cast<size_t>(FFlattenPath(p, nullptr)));
  FFlattenPath(p, f.data());
  ASSERT_EQ(ReadMem(b.td(), d.p(), f), int32(f.size()));
  EXPECT_EQ(FPathCmp(reinterpret_cast<Path>(d.H()), p), 0);
  // The form of no path reads into an existing path as a null handle.
  Bytes none = {'P', 'T', 'H', '0', 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ReadMem(b.td(), d.p(), none), 12);
  EXPECT_EQ(d.H(), nullptr);
  MemStream s(f);
  ASSERT_EQ(FromStream(s, b.td(), d.p()), kNoErr);
  EXPECT_EQ(FPathCmp(reinterpret_cast<Path>(d.H()), p), 0);
  MemStream sn(none);
  ASSERT_EQ(FromStream(sn, b.td(), d.p()), kNoErr);
  EXPECT_EQ(d.H(), nullptr);
  EXPECT_EQ(sn.pos, 12);
  // A bad tag, a short body, a body that is no path.
  Bytes tag = f;
  tag[3] = '1';
  MemStream s1(tag);
  EXPECT_EQ(FromStream(s1, b.td(), d.p()), kArgErr);
  Bytes shortBody = {'P', 'T', 'H', '0', 0, 0, 0, 2, 0, 0};
  MemStream s2(shortBody);
  EXPECT_EQ(FromStream(s2, b.td(), d.p()), kArgErr);
  Bytes badBody = {'P', 'T', 'H', '0', 0, 0, 0, 4, 0, 9, 0, 0};
  MemStream s3(badBody);
  EXPECT_EQ(FromStream(s3, b.td(), d.p()), kArgErr);
  EXPECT_GT(ReadMem(b.td(), d.p(), badBody), 12);
  FDisposePath(p);
}

TEST_F(UnFlattenTest, VariantsKeepOnlyInlineKinds) {
  Built b(tdb::Cluster({tdb::Variant(), tdb::I32()}));
  Datum d(b.td());
  uChar num[16] = {5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F};  // a double, 1.0
  Bytes f = Cat(Bytes(num, num + 16), Be32({77}));
  ASSERT_EQ(ReadMem(b.td(), d.p(), f), 20);
  EXPECT_EQ(Hex(Bytes(d.p(), d.p() + 16)), Hex(Bytes(num, num + 16)));
  EXPECT_EQ(Flat(b.td(), d.p()), f);
  // Stored bytes of a kind that holds a pointer read as an empty variant, and
  // what follows them reads on.
  uChar ptr[16] = {8, 0, 0, 0, 0, 0, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE, 0, 0, 0, 0};
  Bytes g = Cat(Bytes(ptr, ptr + 16), Be32({78}));
  ASSERT_EQ(ReadMem(b.td(), d.p(), g), 20);
  EXPECT_EQ(Hex(Bytes(d.p(), d.p() + 16)), Hex(Bytes(16, 0)));
  EXPECT_EQ(d.Get<int32>(16), 78);
  MemStream s(g);
  ASSERT_EQ(FromStream(s, b.td(), d.p()), kNoErr);
  EXPECT_EQ(Hex(Bytes(d.p(), d.p() + 16)), Hex(Bytes(16, 0)));
  EXPECT_EQ(d.Get<int32>(16), 78);
  // Only data that is actually short fails.
  EXPECT_EQ(ReadMem(b.td(), d.p(), Bytes(ptr, ptr + 15)), 16);
}

TEST_F(UnFlattenTest, FixedAndBoundedArraysKeepTheirShape) {
  Built fixed(tdb::Array(tdb::I16(), {TDFixed(3), TDFixed(3)}));
  Datum d(fixed.td());
  Bytes f = Cat(Be32({2, 2}), {0, 1, 0, 2, 0, 3, 0, 4});
  ASSERT_EQ(ReadMem(fixed.td(), d.p(), f), 16);
  UHandle h = d.H();
  EXPECT_EQ(dtest::Sizes(h, 2), (std::vector<int32>{3, 3}));
  int16 v[9];
  std::memcpy(v, *h + 8, 18);
  EXPECT_EQ(std::vector<int16>(v, v + 9), (std::vector<int16>{1, 2, 0, 3, 4, 0, 0, 0, 0}));
  // More than the fixed shape: the rest is read and dropped.
  Bytes g = Cat(Be32({1, 4}), {0, 9, 0, 8, 0, 7, 0, 6});
  ASSERT_EQ(ReadMem(fixed.td(), d.p(), g), 16);
  std::memcpy(v, *h + 8, 18);
  EXPECT_EQ(std::vector<int16>(v, v + 9), (std::vector<int16>{9, 8, 7, 0, 0, 0, 0, 0, 0}));
  MemStream s(f);
  ASSERT_EQ(FromStream(s, fixed.td(), d.p()), kNoErr);
  std::memcpy(v, *h + 8, 18);
  EXPECT_EQ(std::vector<int16>(v, v + 9), (std::vector<int16>{1, 2, 0, 3, 4, 0, 0, 0, 0}));

  Built bounded(tdb::Array(tdb::String(), {3}));
  Datum b(bounded.td());
  Bytes four = Cat(Be32({4}), Cat(Be32({1}), Cat({'a'}, Cat(Be32({1}), Cat({'b'}, Cat(Be32({0}), Be32({0})))))));
  ASSERT_EQ(ReadMem(bounded.td(), b.p(), four), int32(four.size()));
  EXPECT_EQ(dtest::Sizes(b.H(), 1), (std::vector<int32>{3}));
  EXPECT_EQ(DSGetHandleSize(b.H()), 16);
  EXPECT_EQ(dtest::StrAt(*b.H() + 4), "a");
  EXPECT_EQ(dtest::StrAt(*b.H() + 8), "b");
  MemStream sb(four);
  ASSERT_EQ(FromStream(sb, bounded.td(), b.p()), kNoErr);
  EXPECT_EQ(dtest::Sizes(b.H(), 1), (std::vector<int32>{3}));
  EXPECT_EQ(sb.pos, int32(four.size()));

  // A fixed array inside a variable one: its new elements get their room.
  Built outer(tdb::Array(tdb::Cluster({tdb::Array(tdb::U8(), {TDFixed(2)})})));
  Datum o(outer.td());
  Bytes two = Cat(Be32({2}), Cat(Be32({2}), Cat({1, 2}, Cat(Be32({2}), {3, 4}))));
  ASSERT_EQ(ReadMem(outer.td(), o.p(), two), int32(two.size()));
  EXPECT_EQ(Flat(outer.td(), o.p()), two);
  Datum o2(outer.td());
  MemStream so(two);
  ASSERT_EQ(FromStream(so, outer.td(), o2.p()), kNoErr);
  EXPECT_EQ(Flat(outer.td(), o2.p()), two);
}

TEST_F(UnFlattenTest, OldBooleansFromMemoryAndString) {
  Built b(tdb::Array(tdb::Boolean(), {kTDVariable, kTDVariable}));
  Datum d(b.td());
  Bytes f = Cat(Be32({2, 3}), {0xA0, 0x00, 0x60, 0x00});
  ASSERT_EQ(ReadMem(b.td(), d.p(), f, kFlatOldBooleans), 12);
  EXPECT_EQ(Hex(Bytes(*d.H() + 8, *d.H() + 14)), "01 00 01 00 01 01");
  // Through a string with the option word's bit 22.
  LStrHandle s = dtest::NewLStr(std::string(f.begin(), f.end()));
  UHandle tdh = AZNewHandle(int32(b.bytes.size()));
  std::memcpy(*tdh, b.bytes.data(), b.bytes.size());
  Datum e(b.td());
  EXPECT_FALSE(UnFlattenQXStrConvert_Old(s, tdh, 0, e.p(), kFlatOptionOldBooleans));
  EXPECT_EQ(Hex(Bytes(*e.H() + 8, *e.H() + 14)), "01 00 01 00 01 01");
  // Without it the same bytes are one byte per boolean and run short.
  EXPECT_TRUE(UnFlattenQXStr_Old(s, tdh, 0, e.p()));
  EXPECT_EQ(dtest::Sizes(e.H(), 2), (std::vector<int32>{0, 0}));
  AZDisposeHandle(tdh);
  DSDisposeHandle(reinterpret_cast<UHandle>(s));

  // Into fixed arrays of another shape: extra booleans dropped, missing ones false.
  Built fx(tdb::Array(tdb::Boolean(), {TDFixed(3)}));
  Datum x(fx.td());
  Bytes twenty = Cat(Be32({20}), {0xA0, 0x01, 0x90, 0x00});
  ASSERT_EQ(ReadMem(fx.td(), x.p(), twenty, kFlatOldBooleans), 8);
  EXPECT_EQ(Hex(Bytes(*x.H(), *x.H() + 7)), "03 00 00 00 01 00 01");
  ASSERT_EQ(ReadMem(fx.td(), x.p(), Cat(Be32({2}), {0xC0, 0x00}), kFlatOldBooleans), 6);
  EXPECT_EQ(Hex(Bytes(*x.H() + 4, *x.H() + 7)), "01 01 00");
  MemStream st(twenty);
  ASSERT_EQ(FromStream(st, fx.td(), x.p(), kFlatOldBooleans), kNoErr);
  EXPECT_EQ(Hex(Bytes(*x.H() + 4, *x.H() + 7)), "01 00 01");
  EXPECT_EQ(st.pos, 8);
}

TEST_F(UnFlattenTest, OldBooleansUnpackInPlaceFromStreams) {
  ftest::Gen gen(11);
  for (int32 rows : {1, 2, 5})
    for (int32 last : {0, 1, 2, 3, 15, 16, 17, 31, 33, 100}) {
      Built b(tdb::Array(tdb::Boolean(), {kTDVariable, kTDVariable}));
      Bytes f = Be32({rows, last});
      for (int32 r = 0; r < rows; ++r)
        for (int32 j = 0; j < last; j += 16) {
          uInt16 w = uInt16(gen.Next(0x10000));
          int32 m = last - j < 16 ? last - j : 16;
          w = uInt16(w & (0xFFFF0000u >> m));
          f.push_back(uChar(w >> 8));
          f.push_back(uChar(w));
        }
      Datum m(b.td());
      ASSERT_EQ(ReadMem(b.td(), m.p(), f, kFlatOldBooleans), int32(f.size()));
      Datum s(b.td());
      MemStream st(f);
      ASSERT_EQ(FromStream(st, b.td(), s.p(), kFlatOldBooleans), kNoErr) << rows << "x" << last;
      EXPECT_EQ(DSGetHandleSize(s.H()), 8 + rows * last);
      EXPECT_EQ(Bytes(*s.H(), *s.H() + 8 + rows * last), Bytes(*m.H(), *m.H() + 8 + rows * last))
          << rows << "x" << last;
      EXPECT_EQ(Flat(b.td(), s.p(), kFlatOldBooleans), f);
    }
  // Into a fixed array, whose room is one byte per boolean.
  Built fx(tdb::Array(tdb::Boolean(), {TDFixed(3)}));
  Datum d(fx.td());
  MemStream st(Cat(Be32({3}), {0xA0, 0x00}));
  ASSERT_EQ(FromStream(st, fx.td(), d.p(), kFlatOldBooleans), kNoErr);
  EXPECT_EQ(Hex(Bytes(*d.H() + 4, *d.H() + 7)), "01 00 01");
}

TEST_F(UnFlattenTest, StreamCountsAreCheckedAgainstTheStream) {
  ftest::StreamCheck check;
  Built s(tdb::String());
  Datum d(s.td());
  MemStream big(Cat(Be32({0x100000}), Bytes(10, 'x')));
  EXPECT_EQ(FromStream(big, s.td(), d.p()), kEOFErr);
  EXPECT_EQ(big.checks, (std::vector<int32>{0x100000}));
  MemStream neg(Be32({-2}));
  EXPECT_EQ(FromStream(neg, s.td(), d.p()), kArgErr);
  Built h(tdb::Handle());
  Datum hd(h.td());
  MemStream hbig(Cat(Be32({0x7FFFFFF0}), Bytes(10, 0)));
  EXPECT_EQ(FromStream(hbig, h.td(), hd.p()), kEOFErr);
  // An element area of 1 MB or more asks for the fewest bytes its elements take.
  Built a(tdb::Array(tdb::Handle()));
  Datum ad(a.td());
  int64_t before = ftest::PeakKB();
  MemStream arr(Cat(Be32({0x07FFFFFF}), Bytes(16, 0)));
  EXPECT_EQ(FromStream(arr, a.td(), ad.p()), kEOFErr);
  EXPECT_EQ(arr.checks, (std::vector<int32>{0x07FFFFFF * 4}));
  EXPECT_LT(ftest::PeakKB() - before, 16 * 1024);
  // Negative sizes and overflowing counts.
  MemStream negSize(Be32({-1}));
  EXPECT_EQ(FromStream(negSize, a.td(), ad.p()), kArgErr);
  Built a2(tdb::Array(tdb::U8(), {kTDVariable, kTDVariable}));
  Datum a2d(a2.td());
  MemStream over(Be32({0x10000, 0x10000}));
  EXPECT_EQ(FromStream(over, a2.td(), a2d.p()), kArgErr);
  // A large array that is there reads.
  Built dbl(tdb::Array(tdb::DBL()));
  Datum dd(dbl.td());
  Bytes many = Cat(Be32({200000}), Bytes(1600000, 0x40));
  MemStream ok(many);
  EXPECT_EQ(FromStream(ok, dbl.td(), dd.p()), kNoErr);
  EXPECT_EQ(ok.checks, (std::vector<int32>{1600000}));
  EXPECT_EQ(ok.reads, 2);  // the size, then the elements in one call
  EXPECT_EQ(DSGetHandleSize(dd.H()), 4 + 1600000);
}

TEST_F(UnFlattenTest, MemoryFullFailsTheRead) {
  ftest::StreamCheck check;
  Built b(tdb::Cluster({tdb::I32(), tdb::String(), tdb::Array(tdb::DBL())}));
  Bytes big = Cat(Be32({1, 0x200000}), Bytes(0x200000, 'q'));
  big = Cat(big, Be32({0}));
  Datum d(b.td());
  {
    Source src(big);
    PlatFailNextReservations(1);
    EXPECT_EQ(UnFlattenFromMem(src.h, 0, b.td(), d.p(), int32(big.size()), 0), int32(big.size()) + 1);
    PlatFailNextReservations(0);
  }
  EXPECT_EQ(dtest::StrAt(d.p() + 4), "");
  MemStream s(big);
  PlatFailNextReservations(1);
  EXPECT_EQ(FromStream(s, b.td(), d.p()), kMemFullErr);
  PlatFailNextReservations(0);
  MemStream arr(Cat(Be32({0, 0, 0x40000}), Bytes(0x200000, 1)));
  PlatFailNextReservations(1);
  EXPECT_EQ(FromStream(arr, b.td(), d.p()), kMemFullErr);
  PlatFailNextReservations(0);
  MemFullReset();
  MemStream ok(big);
  EXPECT_EQ(FromStream(ok, b.td(), d.p()), kNoErr);
  EXPECT_EQ(dtest::StrAt(d.p() + 4).size(), 0x200000u);
}

TEST_F(UnFlattenTest, StreamsWithoutACheckRefuseLargeCounts) {
  Built s(tdb::String());
  Datum d(s.td());
  MemStream big(Cat(Be32({0x100000}), Bytes(0x100000, 'x')));
  EXPECT_EQ(FromStream(big, s.td(), d.p()), kEOFErr);
  MemStream small(Cat(Be32({3}), {'a', 'b', 'c'}));
  EXPECT_EQ(FromStream(small, s.td(), d.p()), kNoErr);
  EXPECT_EQ(dtest::Str(d.S()), "abc");
}

TEST_F(UnFlattenTest, StreamErrorsStopTheReadAndEmptyTheDestination) {
  Built b(tdb::Cluster({tdb::String(), tdb::Array(tdb::I32())}));
  Datum d(b.td());
  Bytes f = Cat(Cat(Be32({2}), {'a', 'b'}), Cat(Be32({3}), Be32({1, 2, 3})));
  MemStream s(f);
  s.failAt = 12;
  EXPECT_EQ(FromStream(s, b.td(), d.p()), 6);
  EXPECT_EQ(dtest::StrAt(d.p()), "");
  EXPECT_EQ(dtest::Sizes(d.H(4), 1), (std::vector<int32>{0}));
  MemStream ok(f);
  ASSERT_EQ(FromStream(ok, b.td(), d.p()), kNoErr);
  EXPECT_EQ(Flat(b.td(), d.p()), f);
  // With no destination the datum is skipped whole.
  MemStream skip(Cat(f, {0xAB}));
  ASSERT_EQ(FromStream(skip, b.td(), nullptr), kNoErr);
  EXPECT_EQ(skip.pos, int32(f.size()));
}

TEST_F(UnFlattenTest, FlatClustersAreConvertedWhereTheyLie) {
  Built b(tdb::Array(tdb::Cluster({tdb::I16(), tdb::I32(), tdb::Enum(kTDEnumU8, {"a", "b"})})));
  ASSERT_EQ(FlatEltSizeClass(b.td(), 0), 7);
  Bytes f = Cat(Be32({2}), {0, 1, 0, 0, 0, 2, 9, 0xFF, 0xFF, 0x80, 0, 0, 0, 1});
  MemStream s(f);
  Datum d(b.td());
  ASSERT_EQ(FromStream(s, b.td(), d.p()), kNoErr);
  EXPECT_EQ(s.reads, 2);
  EXPECT_EQ(Hex(Bytes(*d.H() + 4, *d.H() + 18)), "01 00 02 00 00 00 01 FF FF 00 00 00 80 01");
  Datum m(b.td());
  ASSERT_EQ(ReadMem(b.td(), m.p(), f), int32(f.size()));
  EXPECT_EQ(Bytes(*m.H(), *m.H() + 18), Bytes(*d.H(), *d.H() + 18));
}

TEST_F(UnFlattenTest, NullSourcesAndMeasuringOnly) {
  Built b(tdb::Cluster({tdb::I32(), tdb::String()}));
  Bytes f = Cat(Be32({1}), Cat(Be32({2}), {'h', 'i'}));
  Source s(f);
  EXPECT_EQ(UnFlattenData(s.h, 0, b.td(), nullptr, int32(f.size()), 0), 10);
  EXPECT_EQ(UnFlattenData(s.h, 0, b.td(), nullptr, 9, 0), 10);
  Datum d(b.td());
  EXPECT_GT(UnFlattenData(nullptr, 0, b.td(), d.p(), 10, 0), 10);
  EXPECT_TRUE(UnFlattenFromString(nullptr, b.td(), d.p(), 0));
  // An offset into the source handle.
  Source t(Cat({0xAA, 0xBB}, f));
  UHandle tdh = AZNewHandle(int32(b.bytes.size()) + 2);
  std::memcpy(*tdh + 2, b.bytes.data(), b.bytes.size());
  EXPECT_EQ(UnFlatten_Old(t.h, 2, tdh, 2, d.p(), 10), 10);
  EXPECT_EQ(d.Get<int32>(0), 1);
  EXPECT_EQ(dtest::StrAt(d.p() + 4), "hi");
  EXPECT_GT(UnFlatten_Old(t.h, 2, tdh, 2, d.p(), 9), 9);
  EXPECT_EQ(dtest::StrAt(d.p() + 4), "");
  AZDisposeHandle(tdh);
  // An empty string holds the flat form of a void.
  Built v(tdb::Void());
  EXPECT_FALSE(UnFlattenFromString(nullptr, v.td(), nullptr, 0));
}

}  // namespace
