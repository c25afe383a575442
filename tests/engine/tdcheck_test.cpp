// The bounds check of TDs from files, and the walkers on what it accepts.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "engine/datatype.h"
#include "engine_test_support.h"
#include "fuzz/typedesc_walk.h"
#include "tools/tdbuilder.h"

using namespace tdb;
using qxtest::EngineTest;

namespace {

std::vector<tdb::TD> Samples() {
  return {
      I32().Named("n"),
      Enum(kTDEnumU16, {"red", "green", "blue"}).Named("colour"),
      Unit(kTDUnitDBL, {{1, 2}, {3, -4}}),
      Cluster({I8(), String().Named("s"), Array(Cluster({DBL(), Path(TDFixed(8))}), {-1, TDFixed(3)})}).Named("c"),
      Union({I16(), Cluster({I16(), EXT()})}),
      Function(7, {0x1100, 0x0001}, {I32().Named("in"), StringView()}),
      Typedef("my type", Cluster({Boolean(), Handle(2)}), 3).Named("ctl"),
      DatalogRefnum(Cluster({I32(), String()})),
      NamedRefnum(6, "Class"),
      NamedRefnum(7, "IDispatch"),
      ObjectRefnum(Array(I32())),
      ObjectRefnum(1, 5),
      Cluster({Wrapper(I32()), TypeOnly(DBL()), TypedRef(String()), Variant(), Block(12), Header(kTDOpaque36)}),
      ArrayView(CXT(), {-1, -1}),
  };
}

// An exact-size copy of the bytes, so that AddressSanitizer sees overruns.
struct Exact {
  explicit Exact(const std::vector<uChar>& v) : len(int32(v.size())), p(new uChar[v.size() ? v.size() : 1]) {
    if (!v.empty()) std::memcpy(p.get(), v.data(), v.size());
  }
  int32 len;
  std::unique_ptr<uChar[]> p;
};

using BadTDs = EngineTest;

TEST_F(BadTDs, SamplesAreAcceptedAndWalkClean) {
  for (const tdb::TD& t : Samples()) {
    Exact e(t.Bytes());
    ASSERT_EQ(TDCheckBounds(e.p.get(), e.len), kNoErr) << "code 0x" << std::hex << int(e.p[2]);
    tdwalk::Exercise(e.p.get(), e.len);
  }
  EXPECT_EQ(Failures(), 0) << ReportText();
}

TEST_F(BadTDs, EveryTruncationIsRefusedOrWalkedClean) {
  for (const tdb::TD& t : Samples()) {
    std::vector<uChar> full = t.Bytes();
    for (size_t k = 0; k < full.size(); ++k) {
      std::vector<uChar> cut(full.begin(), full.begin() + k);
      Exact plain(cut);
      EXPECT_EQ(TDCheckBounds(plain.p.get(), plain.len), kArgErr) << k;
      // The same bytes with the size field telling the cut length.
      if (k >= 4) {
        uInt16 sz = uInt16(k);
        std::memcpy(cut.data(), &sz, 2);
        Exact patched(cut);
        tdwalk::Classify(patched.p.get(), patched.len);
        if (TDCheckBounds(patched.p.get(), patched.len) == kNoErr) tdwalk::Exercise(patched.p.get(), patched.len);
      }
    }
  }
}

TEST_F(BadTDs, RandomByteMutationsAreRefusedOrWalkedClean) {
  std::vector<std::vector<uChar>> samples;
  for (const tdb::TD& t : Samples()) samples.push_back(t.Bytes());
  std::mt19937 rng(12345);
  int accepted = 0;
  const int rounds = qxtest::Scaled(10000);
  for (int i = 0; i < rounds; ++i) {
    std::vector<uChar> v = samples[rng() % samples.size()];
    v[rng() % v.size()] = uChar(rng());
    Exact e(v);
    tdwalk::Classify(e.p.get(), e.len);
    if (TDCheckBounds(e.p.get(), e.len) == kNoErr) {
      ++accepted;
      tdwalk::Exercise(e.p.get(), e.len);
    }
  }
  // Many mutations hit names and values and stay acceptable.
  EXPECT_GT(accepted, rounds / 10);
}

TEST_F(BadTDs, LargeAndMarkedTDsAreAccepted) {
  Exact big(Cluster(std::vector<tdb::TD>(10000, I32())).Bytes());
  ASSERT_EQ(big.len, 40006);
  EXPECT_EQ(TDCheckBounds(big.p.get(), big.len), kNoErr);
  EXPECT_EQ(TDCheckBounds(big.p.get(), big.len - 1), kArgErr);

  std::vector<uChar> marked = Cluster(std::vector<tdb::TD>(20000, I32())).Bytes();
  ASSERT_EQ(AsTD(marked)->size, kTDSizeInHolder);
  Exact m(marked);
  EXPECT_EQ(TDCheckBounds(m.p.get(), m.len), kNoErr);
  EXPECT_EQ(DataSize(reinterpret_cast<TypeDescriptor*>(m.p.get())), 80000);
  EXPECT_EQ(TDCheckBounds(m.p.get(), m.len - 4), kArgErr);  // the last element cut off
  // Only the top level may carry the marker.
  std::vector<uChar> nested = Cluster({I8(), Cluster(std::vector<tdb::TD>(20000, I32()))}).Bytes();
  Exact n(nested);
  EXPECT_EQ(TDCheckBounds(n.p.get(), n.len), kArgErr);
}

TEST_F(BadTDs, HeaderOnlyCode36IsAcceptedAndWalked) {
  Exact e(Cluster({Header(kTDOpaque36).Named("o"), I8()}).Bytes());
  ASSERT_EQ(TDCheckBounds(e.p.get(), e.len), kNoErr);
  tdwalk::Exercise(e.p.get(), e.len);
  const TypeDescriptor* t = reinterpret_cast<TypeDescriptor*>(e.p.get());
  EXPECT_EQ(DataSize(t), 5);
  EXPECT_EQ(DataShape(t), 1);
  EXPECT_EQ(Failures(), 0);
}

MgErr CheckOf(const tdb::TD& t) {
  Exact e(t.Bytes());
  return TDCheckBounds(e.p.get(), e.len);
}

TEST_F(BadTDs, WhatIsRefused) {
  EXPECT_EQ(CheckOf(Cluster({I32(), I8().WithSize(0)})), kArgErr);
  EXPECT_EQ(CheckOf(Cluster({I32(), I8().WithSize(0xFFFF)})), kArgErr);
  EXPECT_EQ(CheckOf(Cluster({I32(), I8().WithSize(3)})), kArgErr);
  EXPECT_EQ(CheckOf(Cluster({I32(), I8().WithSize(8)})), kArgErr);  // past its parent
  EXPECT_EQ(CheckOf(I32().WithSize(3)), kArgErr);
  EXPECT_EQ(CheckOf(Header(kTDInternal80)), kArgErr);
  EXPECT_EQ(CheckOf(Header(kTDInternal81)), kArgErr);
  EXPECT_EQ(CheckOf(Header(0x0F)), kArgErr);
  EXPECT_EQ(CheckOf(Header(0x99)), kArgErr);
  EXPECT_EQ(CheckOf(Refnum(11)), kArgErr);
  EXPECT_EQ(CheckOf(Refnum(-1)), kArgErr);
  EXPECT_EQ(CheckOf(Refnum(10)), kArgErr);  // kind 10 needs its string
  EXPECT_EQ(CheckOf(NamedRefnum(10, "x")), kNoErr);
  EXPECT_EQ(CheckOf(Variant(2)), kArgErr);
  EXPECT_EQ(CheckOf(Block(-1)), kArgErr);
  EXPECT_EQ(CheckOf(I32().WithFlags(kTDFlagName)), kArgErr);  // a name flag without a name
  EXPECT_EQ(CheckOf(OldString()), kArgErr);                   // memory order holds the current form
  EXPECT_EQ(CheckOf(Typedef("t", Void()).WithSize(12)), kArgErr);
  // Negative and oversized counts.
  EXPECT_EQ(CheckOf(TD(kTDCluster, {I16Part(-1)})), kArgErr);
  EXPECT_EQ(CheckOf(TD(kTDCluster, {I16Part(2), ChildPart(I32())})), kArgErr);
  EXPECT_EQ(CheckOf(TD(kTDArray, {I16Part(-1), ChildPart(I32())})), kArgErr);
  EXPECT_EQ(CheckOf(TD(kTDArray, {I16Part(3), I32Part(-1), ChildPart(I32())})), kArgErr);
  EXPECT_EQ(CheckOf(TD(kTDEnumU8, {I16Part(5), PStrPart("ab")})), kArgErr);
  EXPECT_EQ(CheckOf(TD(kTDUnitSGL, {I16Part(2), I16Part(1), I16Part(1)})), kArgErr);
  EXPECT_EQ(CheckOf(TD(kTDFunction, {I16Part(1), I16Part(0), I16Part(0)})), kArgErr);
  // A name or string running past its TD.
  EXPECT_EQ(CheckOf(I32().Named("abc").WithSize(7)), kArgErr);
  EXPECT_EQ(CheckOf(TD(kTDRefnum, {I16Part(6), BytesPart({5, 'a', 'b'})})), kArgErr);
  EXPECT_EQ(CheckOf(TD(kTDTypedef, {I32Part(0), BytesPart({40, 'a'}), ChildPart(I32())})), kArgErr);
  EXPECT_EQ(CheckOf(TD(kTDRefnum, {I16Part(8), I16Part(2)})), kArgErr);
  EXPECT_EQ(CheckOf(TD(kTDRefnum, {I16Part(8), I16Part(1)})), kArgErr);
  // Too little to hold anything.
  uChar three[3] = {3, 0, 0};
  EXPECT_EQ(TDCheckBounds(three, 3), kArgErr);
  EXPECT_EQ(TDCheckBounds(nullptr, 8), kArgErr);
}

TEST_F(BadTDs, NestingDepthIsLimited) {
  tdb::TD deep = I32();
  for (int i = 0; i < kTDMaxDepth; ++i) deep = Wrapper(deep);
  EXPECT_EQ(CheckOf(deep), kNoErr);
  EXPECT_EQ(CheckOf(Wrapper(deep)), kArgErr);
  std::vector<uChar> w = Wrapper(deep).Bytes(Order::kWord);
  EXPECT_EQ(ClassifyStringTDForm(w.data(), int32(w.size())), 4);
}

}  // namespace
