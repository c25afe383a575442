// Random values of random nested types: flat data read back from memory, from
// a string and from a stream gives a datum that flattens to the same bytes.
#include "flat_test_util.h"

using dtest::Built;
using dtest::Datum;
using ftest::Bytes;
using ftest::Flat;
using ftest::Hex;
using ftest::MemStream;

namespace {

class FlatRoundTripTest : public dtest::DataTest {};

TEST_F(FlatRoundTripTest, RandomValuesReadBackEqualFromMemoryStringAndStream) {
  ftest::StreamCheck check;
  ftest::Gen gen(20260107);
  int32 n = qxtest::Scaled(1000);
  for (int32 i = 0; i < n; ++i) {
    Built b(gen.Type(4));
    int32 flags = gen.Next(4) == 0 ? kFlatOldBooleans : 0;
    Bytes f;
    gen.Flat(b.td(), f, flags);
    SCOPED_TRACE(testing::Message() << "value " << i << " TD " << Hex(b.bytes) << " flat " << Hex(f));
    EXPECT_EQ(FlatSizeWalk(b.td(), nullptr, flags) >= 0, true);

    Datum m(b.td());
    ftest::Source src(f);
    ASSERT_EQ(UnFlattenFromMem(src.h, 0, b.td(), m.p(), int32(f.size()), flags), int32(f.size()));
    ASSERT_EQ(Flat(b.td(), m.p(), flags), f);

    Datum s(b.td());
    LStrHandle str = dtest::NewLStr(std::string(f.begin(), f.end()));
    EXPECT_FALSE(UnFlattenFromString(str, b.td(), s.p(), flags));
    EXPECT_EQ(Flat(b.td(), s.p(), flags), f);
    LStrHandle again = dtest::NewLStr("");
    ASSERT_EQ(FlattenToLStr(again, b.td(), s.p(), flags), kNoErr);
    EXPECT_EQ(dtest::Str(again), dtest::Str(str));
    DSDisposeHandle(reinterpret_cast<UHandle>(str));
    DSDisposeHandle(reinterpret_cast<UHandle>(again));

    Datum t(b.td());
    MemStream st(f);
    ASSERT_EQ(ftest::FromStream(st, b.td(), t.p(), flags), kNoErr);
    EXPECT_EQ(st.pos, int32(f.size()));
    EXPECT_EQ(Flat(b.td(), t.p(), flags), f);

    // Another value read over the first one reuses its handles.
    Bytes g;
    gen.Flat(b.td(), g, flags);
    ftest::Source src2(g);
    ASSERT_EQ(UnFlattenFromMem(src2.h, 0, b.td(), m.p(), int32(g.size()), flags), int32(g.size()));
    EXPECT_EQ(Flat(b.td(), m.p(), flags), g);
    MemStream st2(g);
    ASSERT_EQ(ftest::FromStream(st2, b.td(), t.p(), flags), kNoErr);
    EXPECT_EQ(Flat(b.td(), t.p(), flags), g);

    // Measuring alone consumes the same bytes.
    EXPECT_EQ(UnFlattenData(src.h, 0, b.td(), nullptr, int32(f.size()), flags), int32(f.size()));
    MemStream skip(f);
    EXPECT_EQ(ftest::FromStream(skip, b.td(), nullptr, flags), kNoErr);
    EXPECT_EQ(skip.pos, int32(f.size()));
  }
  EXPECT_EQ(DataFailures(), 0) << ReportText();
}

TEST_F(FlatRoundTripTest, CutRandomValuesFailCleanly) {
  ftest::Gen gen(99);
  int32 n = qxtest::Scaled(200);
  for (int32 i = 0; i < n; ++i) {
    Built b(gen.Type(4));
    Bytes f;
    gen.Flat(b.td(), f, 0);
    if (f.empty()) continue;
    size_t cut = gen.Next(uint32_t(f.size()));
    Bytes part(f.begin(), f.begin() + long(cut));
    SCOPED_TRACE(testing::Message() << "TD " << Hex(b.bytes) << " cut " << cut << " of " << Hex(f));
    Datum m(b.td());
    ftest::Source src(part);
    EXPECT_GT(UnFlattenFromMem(src.h, 0, b.td(), m.p(), int32(part.size()), 0), int32(part.size()));
    Datum t(b.td());
    MemStream st(part);
    EXPECT_NE(ftest::FromStream(st, b.td(), t.p()), kNoErr);
  }
  EXPECT_EQ(DataFailures(), 0) << ReportText();
}

}  // namespace
