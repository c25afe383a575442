// Null and emptied handles of bounded and fixed strings and arrays are the
// empty value: copies, conversions and resets accept them on either side,
// and a copy flattens exactly as its source.  Random values of random types
// read from valid flat data copy, convert to their own type and reset
// without fail.
#include "flat_test_util.h"

using dtest::Built;
using dtest::Datum;
using ftest::Bytes;
using ftest::Flat;
using ftest::Hex;

namespace {

using namespace tdb;

class NullSlots : public dtest::DataTest {
 protected:
  // Reads the flat bytes into a datum; the read must take them all.
  static void Read(const TypeDescriptor* td, uChar* d, const Bytes& f) {
    ftest::Source src(f);
    ASSERT_EQ(UnFlattenFromMem(src.h, 0, td, d, int32(f.size()), 0), int32(f.size()));
  }
  // A datum whose bytes are all 0: every handle in it null.
  static std::unique_ptr<Datum> Zeroed(const TypeDescriptor* td) { return std::make_unique<Datum>(td, false); }
};

Bytes Be32(int32 v) { return {uChar(uInt32(v) >> 24), uChar(uInt32(v) >> 16), uChar(uInt32(v) >> 8), uChar(v)}; }
Bytes Counted(const std::string& s) {
  Bytes b = Be32(int32(s.size()));
  b.insert(b.end(), s.begin(), s.end());
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

TEST_F(NullSlots, BoundedStringsCopyIntoEmptyAndNullArrays) {
  Built t(Array(String(8)));
  Datum src(t.td());
  Bytes f = Cat({Be32(2), Counted("ab"), Counted("cd")});
  Read(t.td(), src.p(), f);
  Datum fresh(t.td());
  EXPECT_EQ(CopyData(t.td(), src.p(), fresh.p()), kNoErr);
  EXPECT_EQ(Flat(t.td(), fresh.p()), f);
  auto null = Zeroed(t.td());
  EXPECT_EQ(CopyData(t.td(), src.p(), null->p()), kNoErr);
  EXPECT_EQ(Flat(t.td(), null->p()), f);
  // Each new string has the room of its bound.
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(dtest::LoadSlot(*null->H() + 4))), 12);
}

TEST_F(NullSlots, StringsConvertIntoBoundedStrings) {
  Built from(Array(String()));
  Built to(Array(String(8)));
  Datum src(from.td());
  Bytes f = Cat({Be32(2), Counted("ab"), Counted("cd")});
  Read(from.td(), src.p(), f);
  Datum dst(to.td());
  EXPECT_EQ(CopyConvertData(from.td(), to.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(Flat(to.td(), dst.p()), f);
  // Back, and into a null destination.
  auto back = Zeroed(from.td());
  EXPECT_EQ(CopyConvertData(to.td(), from.td(), dst.p(), back->p()), kNoErr);
  EXPECT_EQ(Flat(from.td(), back->p()), f);
}

TEST_F(NullSlots, EmptiedFixedArraysOfFixedStringsTakeCopiesAndResets) {
  Built t(Array(String(TDFixed(4)), {TDFixed(2)}));
  Datum src(t.td());
  Bytes f = Cat({Be32(2), Counted("abcd"), Counted("wxyz")});
  Read(t.td(), src.p(), f);
  Datum dst(t.td());
  Read(t.td(), dst.p(), f);
  EmptyData(t.td(), dst.p(), dst.end());
  EXPECT_EQ(dtest::LoadSlot(*dst.H() + 4), nullptr) << "emptying disposes the elements";
  EXPECT_EQ(CopyData(t.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(Flat(t.td(), dst.p()), f);
  EmptyData(t.td(), dst.p(), dst.end());
  EXPECT_EQ(ResetData(t.td(), dst.p()), kNoErr);
  Datum empty(t.td());
  EXPECT_EQ(Flat(t.td(), dst.p()), Flat(t.td(), empty.p()));
  EXPECT_EQ(CopyConvertData(t.td(), t.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(Flat(t.td(), dst.p()), f);
  // Null strings in a source copy as empty strings over strings that hold data.
  Datum emptied(t.td());
  Read(t.td(), emptied.p(), f);
  EmptyData(t.td(), emptied.p(), emptied.end());
  Read(t.td(), dst.p(), f);
  EXPECT_EQ(CopyData(t.td(), emptied.p(), dst.p()), kNoErr);
  EXPECT_EQ(Flat(t.td(), dst.p()), Flat(t.td(), emptied.p()));
  EXPECT_EQ(Flat(t.td(), dst.p()), Cat({Be32(2), Be32(0), Be32(0)}));
  // A null source is the empty value: copying it keeps the null slot null.
  auto nothing = Zeroed(t.td());
  auto into = Zeroed(t.td());
  EXPECT_EQ(CopyData(t.td(), nothing->p(), into->p()), kNoErr);
  EXPECT_EQ(Flat(t.td(), into->p()), Flat(t.td(), nothing->p()));
}

TEST_F(NullSlots, UnionsMakeTheNewElementBeforeCopyingIntoIt) {
  for (bool array : {true, false}) {
    TD second = array ? Array(I32(), {TDFixed(2)}) : String(TDFixed(3));
    Built t(Union({Cluster({I16(), I32()}), Cluster({I16(), second})}));
    SCOPED_TRACE(Hex(t.bytes));
    Datum one(t.td());
    Bytes f = array ? Cat({{0, 1}, Be32(2), Be32(7), Be32(9)}) : Cat({{0, 1}, Counted("abc")});
    Read(t.td(), one.p(), f);
    Datum zero(t.td());
    EXPECT_EQ(zero.Get<int16>(0), 0);
    EXPECT_EQ(CopyData(t.td(), one.p(), zero.p()), kNoErr);
    EXPECT_EQ(Flat(t.td(), zero.p()), f);
    Datum conv(t.td());
    EXPECT_EQ(CopyConvertData(t.td(), t.td(), one.p(), conv.p()), kNoErr);
    EXPECT_EQ(Flat(t.td(), conv.p()), f);
    // And back to element 0, which frees element 1's handle.
    Datum back(t.td());
    EXPECT_EQ(CopyData(t.td(), back.p(), conv.p()), kNoErr);
    EXPECT_EQ(Flat(t.td(), conv.p()), Flat(t.td(), back.p()));
  }
}

TEST_F(NullSlots, BoundedArraysWithoutElementsKeepTheirSizesInCopies) {
  // Sizes 2 x 0 of an inner array bounded at 3 in its first dimension and
  // fixed at 0 in its second: no elements, but the sizes are part of the value.
  Built t(Array(Cluster({Array(I32(), {3, TDFixed(0)})})));
  Datum src(t.td());
  Bytes f = Cat({Be32(1), Be32(2), Be32(0)});
  Read(t.td(), src.p(), f);
  Datum dst(t.td());
  EXPECT_EQ(CopyData(t.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(Flat(t.td(), dst.p()), f);
  EXPECT_EQ(FlatSize(t.td(), dst.p()), 12);
  Datum conv(t.td());
  EXPECT_EQ(CopyConvertData(t.td(), t.td(), src.p(), conv.p()), kNoErr);
  EXPECT_EQ(Flat(t.td(), conv.p()), f);
}

TEST_F(NullSlots, ANullPathCopiesToANullPath) {
  Built t(Cluster({I16(), tdb::Path()}));
  Bytes f = Cat({{0, 5}, {'P', 'T', 'H', '0', 0, 0, 0, 0, 0, 0, 0, 0}});
  Datum src(t.td());
  Read(t.td(), src.p(), f);
  EXPECT_EQ(src.H(2), nullptr);
  Datum dst(t.td());
  ASSERT_NE(dst.H(2), nullptr);
  EXPECT_EQ(CopyData(t.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(dst.H(2), nullptr);
  EXPECT_EQ(Flat(t.td(), dst.p()), f);
  Datum conv(t.td());
  EXPECT_EQ(CopyConvertData(t.td(), t.td(), src.p(), conv.p()), kNoErr);
  EXPECT_EQ(Flat(t.td(), conv.p()), f);
}

// Random types of every kind but views, paths included, with valid values.
TEST_F(NullSlots, RandomValuesCopyConvertAndResetWithoutFail) {
  ftest::StreamCheck check;
  ftest::Gen gen(22022);
  int32 n = qxtest::Scaled(3000);
  int32 tried = 0;
  for (int32 i = 0; i < n; ++i) {
    Built b(gen.Type(4));
    const TypeDescriptor* t = b.td();
    if (b.bytes.size() >= 0xFFFF || DataSize(t) > (1 << 16)) continue;
    Bytes f;
    gen.Flat(t, f, 0);
    SCOPED_TRACE(testing::Message() << "value " << i << " TD " << Hex(b.bytes) << " flat " << Hex(f));
    Datum a(t);
    Read(t, a.p(), f);
    if (HasFailure()) return;
    ++tried;
    Datum fresh(t);
    ASSERT_EQ(CopyData(t, a.p(), fresh.p()), kNoErr);
    EXPECT_EQ(Flat(t, fresh.p()), f);
    auto null = Zeroed(t);
    ASSERT_EQ(CopyData(t, a.p(), null->p()), kNoErr);
    EXPECT_EQ(Flat(t, null->p()), f);
    Datum conv(t);
    ASSERT_EQ(CopyConvertData(t, t, a.p(), conv.p()), kNoErr);
    EXPECT_EQ(Flat(t, conv.p()), f);
    auto nullConv = Zeroed(t);
    ASSERT_EQ(CopyConvertData(t, t, a.p(), nullConv->p()), kNoErr);
    EXPECT_EQ(Flat(t, nullConv->p()), f);
    // Over a datum that holds another value.
    Bytes g;
    gen.Flat(t, g, 0);
    Read(t, fresh.p(), g);
    ASSERT_EQ(CopyData(t, a.p(), fresh.p()), kNoErr);
    EXPECT_EQ(Flat(t, fresh.p()), f);
    Read(t, conv.p(), g);
    ASSERT_EQ(CopyConvertData(t, t, a.p(), conv.p()), kNoErr);
    EXPECT_EQ(Flat(t, conv.p()), f);
    // Resets of a value, of an emptied value and of null handles.
    ASSERT_EQ(ResetData(t, a.p()), kNoErr);
    EmptyData(t, fresh.p(), fresh.end());
    ASSERT_EQ(ResetData(t, fresh.p()), kNoErr);
    ASSERT_EQ(ResetData(t, Zeroed(t)->p()), kNoErr);
    EmptyData(t, conv.p(), conv.end());
    ASSERT_EQ(CopyData(t, null->p(), conv.p()), kNoErr);
    EXPECT_EQ(Flat(t, conv.p()), f);
  }
  EXPECT_GT(tried, n / 2);
  EXPECT_EQ(DataFailures(), 0) << ReportText();
}

}  // namespace
