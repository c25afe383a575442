// Deep copies: strings of every bound form, paths, handles, arrays, unions,
// the packed boolean form and variants through their procedures.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "data_test_util.h"
#include "mgsource/path.h"

using namespace tdb;
using namespace dtest;

namespace {

using DataCopy = DataTest;

std::string PathText(::Path p) {
  LStrHandle t = nullptr;
  if (FPathToDSString(p, &t) != kNoErr) return "<bad>";
  std::string s = Str(t);
  DSDisposeHandle(reinterpret_cast<UHandle>(t));
  return s;
}

TEST_F(DataCopy, DeepCopyIsIndependentOfItsSource) {
  Built t(Cluster({I32(), Array(String()), Array(Cluster({DBL(), tdb::Path()}))}));
  const TypeDescriptor* strs = ElemTD(t.td(), 1);
  const TypeDescriptor* recs = ElemTD(t.td(), 2);
  Datum src(t.td());
  src.Set<int32>(0, 77);
  UHandle a = src.H(4);
  int32 three[1] = {3};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &a, Dims(three)), kNoErr);
  for (int i = 0; i < 3; ++i) PutStr(*a + 4 + 4 * i, std::string(size_t(i + 1), char('a' + i)));
  UHandle r = src.H(8);
  int32 two[1] = {2};
  const TypeDescriptor* rec = ArrayElemTD(recs);
  ASSERT_EQ(ArrayResize(rec, 1, &r, Dims(two)), kNoErr);
  for (int i = 0; i < 2; ++i) {
    uChar* e = *r + 4 + 12 * i;
    double v = 1.5 * (i + 1);
    std::memcpy(e, &v, 8);
    ::Path p = FMakePath(nullptr, kAbsPath, "\001C", i ? "\002p1" : "\002p0", nullptr);
    std::memcpy(e + 8, &p, 4);
  }

  Datum dst(t.td());
  ASSERT_EQ(CopyData(t.td(), src.p(), dst.p()), kNoErr);
  // Change and free the source: the copy keeps its own values.
  PutStr(*src.H(4) + 4, "changed");
  DisposeData(strs, src.p() + 4, src.p() + 8);
  DisposeData(recs, src.p() + 8, src.p() + 12);

  EXPECT_EQ(dst.Get<int32>(0), 77);
  UHandle da = dst.H(4);
  ASSERT_EQ(I32At(da, 0), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(StrAt(*da + 4 + 4 * i), std::string(size_t(i + 1), char('a' + i)));
  UHandle dr = dst.H(8);
  ASSERT_EQ(I32At(dr, 0), 2);
  for (int i = 0; i < 2; ++i) {
    double v;
    std::memcpy(&v, *dr + 4 + 12 * i, 8);
    EXPECT_EQ(v, 1.5 * (i + 1));
    ::Path p;
    std::memcpy(&p, *dr + 12 + 12 * i, 4);
    EXPECT_EQ(PathText(p), i ? "C:\\p1" : "C:\\p0");
  }
}

TEST_F(DataCopy, IntoADestinationHoldingOtherData) {
  Built t(Array(Cluster({String(), I16()})));
  const TypeDescriptor* elem = ArrayElemTD(t.td());
  Datum src(t.td()), dst(t.td());
  UHandle s = src.H(), d = dst.H();
  int32 two[1] = {2}, five[1] = {5};
  ASSERT_EQ(ArrayResize(elem, 1, &s, Dims(two)), kNoErr);
  ASSERT_EQ(ArrayResize(elem, 1, &d, Dims(five)), kNoErr);
  for (int i = 0; i < 2; ++i) PutStr(*s + 4 + 6 * i, "src" + std::to_string(i));
  for (int i = 0; i < 5; ++i) PutStr(*d + 4 + 6 * i, "old destination " + std::to_string(i));
  ASSERT_EQ(CopyData(t.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(dst.H(), d) << "the destination's handle is reused";
  ASSERT_EQ(I32At(d, 0), 2);
  EXPECT_EQ(DSGetHandleSize(d), 4 + 12);
  EXPECT_EQ(StrAt(*d + 4), "src0");
  EXPECT_EQ(StrAt(*d + 10), "src1");
  // The fixture finds the three strings past the new end freed.
}

TEST_F(DataCopy, NullSourceStringsAndBoundedStrings) {
  Built t(Cluster({I32(), String()}));
  Datum src(t.td(), false), dst(t.td());
  src.Set<int32>(0, 5);
  ASSERT_EQ(CopyData(t.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(dst.Get<int32>(0), 5);
  ASSERT_NE(dst.S(4), nullptr);
  EXPECT_EQ((*dst.S(4))->cnt, 0);

  Built b(String(8));
  Datum bs(b.td()), bd(b.td());
  PutBounded(bs.p(), "ab");
  ASSERT_EQ(DSGetHandleSize(bs.H()), 12);
  ASSERT_EQ(CopyData(b.td(), bs.p(), bd.p()), kNoErr);
  EXPECT_EQ(Str(bd.S()), "ab");
  EXPECT_EQ(DSGetHandleSize(bd.H()), 12);
}

TEST_F(DataCopy, CopyStringResizesOnlyWhenTheCountsDiffer) {
  LStrHandle src = NewLStr("abcd");
  LStrHandle dst = reinterpret_cast<LStrHandle>(DSNewHandle(64));
  (*dst)->cnt = 4;
  ASSERT_EQ(CopyString(src, &dst), kNoErr);
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(dst)), 64) << "equal counts keep the room";
  EXPECT_EQ(Str(dst), "abcd");
  (*src)->cnt = 2;
  ASSERT_EQ(CopyString(src, &dst), kNoErr);
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(dst)), 6);
  EXPECT_EQ(Str(dst), "ab");
  ASSERT_EQ(CopyString(nullptr, &dst), kNoErr);
  EXPECT_EQ(Str(dst), "");
  LStrHandle made = nullptr;
  ASSERT_EQ(CopyString(src, &made), kNoErr);
  EXPECT_EQ(Str(made), "ab");
  EXPECT_EQ(CopyString(src, nullptr), kArgErr);
  for (LStrHandle h : {src, dst, made}) DSDisposeHandle(reinterpret_cast<UHandle>(h));
}

TEST_F(DataCopy, CopyBndFixStringNeedsExactlyTheBoundsRoom) {
  LStrHandle src = NewLStr("abcdef");
  LStrHandle wrong = reinterpret_cast<LStrHandle>(DSNewHClr(10));
  EXPECT_EQ(CopyBndFixString(src, &wrong, 8), kArgErr);
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(wrong)), 10);
  EXPECT_EQ((*wrong)->cnt, 0);

  LStrHandle bounded = reinterpret_cast<LStrHandle>(DSNewHClr(8));
  ASSERT_EQ(CopyBndFixString(src, &bounded, 4), kNoErr);
  EXPECT_EQ(Str(bounded), "abcd") << "cut at the bound";
  LStrHandle fixed = reinterpret_cast<LStrHandle>(DSNewHandle(9));
  std::memset(*fixed, 0x77, 9);
  (*src)->cnt = 3;
  ASSERT_EQ(CopyBndFixString(src, &fixed, TDFixed(5)), kNoErr);
  EXPECT_EQ(Str(fixed), std::string("abc\0\0", 5)) << "a fixed string keeps its count, cleared after the copy";
  ASSERT_EQ(CopyBndFixString(nullptr, &bounded, 4), kNoErr);
  EXPECT_EQ(Str(bounded), "");

  LStrHandle none = nullptr;
  EXPECT_EQ(CopyBndFixString(src, &none, 3), kArgErr);
  EXPECT_EQ(none, nullptr);
  ASSERT_EQ(CopyBndFixString(src, &none, 0), kNoErr);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(none)), 4);
  EXPECT_EQ((*none)->cnt, 0);
  for (LStrHandle h : {src, wrong, bounded, fixed, none}) DSDisposeHandle(reinterpret_cast<UHandle>(h));
}

TEST_F(DataCopy, PathsHandlesAndFlatArrays) {
  ::Path src = FMakePath(nullptr, kAbsPath, "\001C", "\003abc", nullptr);
  ::Path made = nullptr;
  ASSERT_EQ(CopyPath(src, &made), kNoErr);
  EXPECT_EQ(PathText(made), "C:\\abc");
  ::Path into = FEmptyPath(nullptr);
  ASSERT_EQ(CopyPath(src, &into), kNoErr);
  EXPECT_EQ(FPathCmp(into, src), 0);
  // A null path copies to null, whatever the destination held.
  ASSERT_EQ(CopyPath(nullptr, &into), kNoErr);
  EXPECT_EQ(into, nullptr);
  ::Path none = nullptr;
  ASSERT_EQ(CopyPath(nullptr, &none), kNoErr);
  EXPECT_EQ(none, nullptr);
  for (::Path p : {src, made}) FDisposePath(p);

  UHandle h = AZNewHandle(3);
  std::memcpy(*h, "xyz", 3);
  UHandle copy = nullptr;
  ASSERT_EQ(CopyHandle(h, &copy), kNoErr);
  ASSERT_EQ(AZGetHandleSize(copy), 3);
  EXPECT_EQ(std::memcmp(*copy, "xyz", 3), 0);
  ASSERT_EQ(CopyHandle(nullptr, &copy), kNoErr);
  EXPECT_EQ(AZGetHandleSize(copy), 0);
  AZDisposeHandle(h);
  AZDisposeHandle(copy);

  UHandle flat = DSNewHandle(12);
  std::memcpy(*flat, "\x02\0\0\0abcdefgh", 12);
  UHandle dup = nullptr;
  ASSERT_EQ(CopyFlatArray(4, flat, &dup), kNoErr);
  ASSERT_EQ(DSGetHandleSize(dup), 12);
  EXPECT_EQ(std::memcmp(*dup, *flat, 12), 0);
  ASSERT_EQ(CopyFlatArray(4, nullptr, &dup), kNoErr);
  EXPECT_EQ(DSGetHandleSize(dup), 4);
  EXPECT_EQ(I32At(dup, 0), 0);
  DSDisposeHandle(flat);
  DSDisposeHandle(dup);
}

TEST_F(DataCopy, FixedAndBoundedArraysNeedTheTypesCount) {
  Built t(Array(String(), {TDFixed(2)}));
  Datum src(t.td()), dst(t.td());
  PutStr(*src.H() + 4, "first");
  PutStr(*src.H() + 8, "second");
  ASSERT_EQ(CopyData(t.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(StrAt(*dst.H() + 4), "first");
  EXPECT_EQ(StrAt(*dst.H() + 8), "second");
  // A destination with room for another count is refused.
  UHandle d = dst.H();
  DisposeData(StdTDTable[kStdTDString], *d + 8, *d + 12);
  ASSERT_EQ(DSSetHandleSize(d, 8), kNoErr);
  EXPECT_EQ(CopyData(t.td(), src.p(), dst.p()), kMemFullErr);
  EXPECT_EQ(DSGetHandleSize(d), 8);

  Built b(Array(I16(), {3}));
  Datum bs(b.td()), bd(b.td());
  std::memcpy(*bs.H(), "\x02\0\0\0\x01\0\x02\0", 8);
  ASSERT_EQ(CopyData(b.td(), bs.p(), bd.p()), kNoErr);
  EXPECT_EQ(std::memcmp(*bd.H(), *bs.H(), 10), 0);
  EXPECT_EQ(DSGetHandleSize(bd.H()), 10);
}

TEST_F(DataCopy, UnionsFollowTheSourceSelector) {
  Built t(Union({Cluster({I16(), String()}), Cluster({I16(), DBL()})}));
  Datum src(t.td(), false), dst(t.td());
  PutStr(dst.p() + 2, "destination string");
  src.Set<int16>(0, 1);
  src.Set<double>(2, 4.25);
  ASSERT_EQ(CopyData(t.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(dst.Get<int16>(0), 1);
  EXPECT_EQ(dst.Get<double>(2), 4.25);
  // Back to element 0 from a string source.
  src.Set<int16>(0, 0);
  src.Set<double>(2, 0.0);
  PutStr(src.p() + 2, "zero");
  ASSERT_EQ(CopyData(t.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(dst.Get<int16>(0), 0);
  EXPECT_EQ(StrAt(dst.p() + 2), "zero");
  // A selector out of range copies nothing.
  src.Set<int16>(0, 9);
  EXPECT_EQ(CopyData(t.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(StrAt(dst.p() + 2), "zero");
  src.Set<int16>(0, 0);
}

// Booleans of rows of 17: two words per row, top bit first, the unused bits clear.
TEST_F(DataCopy, BooleansRoundTripThroughThePackedForm) {
  Built bytes(Array(Boolean(), {-1, -1}));
  Built packed(Array(OldBoolean(), {-1, -1}));
  UHandle src = nullptr;
  int32 sizes[2] = {3, 17};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDBoolean], 2, &src, Dims(sizes)), kNoErr);
  std::vector<uChar> want(51);
  for (int i = 0; i < 51; ++i) want[size_t(i)] = uChar((i * 7 + i / 5) % 3 == 0);
  std::memcpy(*src + 8, want.data(), 51);

  uChar slot[4], out[4] = {0, 0, 0, 0};
  std::memcpy(slot, &src, 4);
  ASSERT_EQ(CopyDataWalk(bytes.td(), slot, out, kCopyOtherBooleans), kNoErr);
  UHandle words;
  std::memcpy(&words, out, 4);
  ASSERT_EQ(DSGetHandleSize(words), 8 + 3 * 2 * 2);
  EXPECT_EQ(Sizes(words, 2), (std::vector<int32>{3, 17}));
  for (int r = 0; r < 3; ++r) {
    uInt16 w0, w1;
    std::memcpy(&w0, *words + 8 + 4 * r, 2);
    std::memcpy(&w1, *words + 10 + 4 * r, 2);
    for (int j = 0; j < 16; ++j) EXPECT_EQ((w0 >> (15 - j)) & 1, want[size_t(r * 17 + j)]) << r << "," << j;
    EXPECT_EQ(w1 >> 15, want[size_t(r * 17 + 16)]);
    EXPECT_EQ(w1 & 0x7FFF, 0) << "unused bits are clear";
  }
  UHandle back = nullptr;
  ASSERT_EQ(CopyBooleanArray(packed.td(), words, &back), kNoErr);
  ASSERT_EQ(DSGetHandleSize(back), 8 + 51);
  EXPECT_EQ(std::memcmp(*back + 8, want.data(), 51), 0);
  EXPECT_EQ(Sizes(back, 2), (std::vector<int32>{3, 17}));
  for (UHandle h : {src, words, back}) DSDisposeHandle(h);
}

TEST_F(DataCopy, BooleanScalarsAndClustersInTheOtherForm) {
  Built t(Cluster({I8(), Boolean(), I32(), Boolean()}));
  uChar src[7] = {9, 1, 4, 3, 2, 1, 0};
  uChar dst[9];
  std::memset(dst, 0xEE, sizeof dst);
  ASSERT_EQ(CopyDataWalk(t.td(), src, dst, kCopyOtherBooleans), kNoErr);
  uInt16 w;
  EXPECT_EQ(dst[0], 9);
  std::memcpy(&w, dst + 1, 2);
  EXPECT_EQ(w, 0x8000);
  EXPECT_EQ(std::memcmp(dst + 3, src + 2, 4), 0);
  std::memcpy(&w, dst + 7, 2);
  EXPECT_EQ(w, 0);
  // The old form back to bytes.
  Built old(Cluster({I8(), OldBoolean(), I32(), OldBoolean()}));
  uChar again[7];
  ASSERT_EQ(CopyDataWalk(old.td(), dst, again, kCopyOtherBooleans), kNoErr);
  EXPECT_EQ(std::memcmp(again, src, 6), 0);
  EXPECT_EQ(again[6], 0);
}

TEST_F(DataCopy, OldEntriesAndBadArguments) {
  Built t(Cluster({String(), I32()}));
  UHandle tds = DSNewHandle(int32(t.bytes.size()) + 2);
  std::memcpy(*tds + 2, t.bytes.data(), t.bytes.size());
  Datum src(t.td()), dst(t.td());
  PutStr(src.p(), "old");
  ASSERT_EQ(CopyData2HO(tds, 2, src.p(), dst.p(), 0), kNoErr);
  EXPECT_EQ(StrAt(dst.p()), "old");
  DSDisposeHandle(tds);
  EXPECT_EQ(CopyData(t.td(), nullptr, dst.p()), kArgErr);
  EXPECT_EQ(CopyData2HO(nullptr, 0, src.p(), dst.p(), 0), kArgErr);
}

// ---- Variants through a test double of the automation procedures ----------------

std::atomic<int> gHeld{0};
struct FakeVariant {
  int16 vt;  // 0 empty, 5 a double, 8 a string the record owns
  int16 pad[3];
  union {
    double d;
    char* s;
  };
};
static_assert(sizeof(FakeVariant) == 16, "variant record");

MgErr FakeInit(void* v) {
  std::memset(v, 0, 16);
  return kNoErr;
}
void FakeClear(void* v) {
  FakeVariant f;
  std::memcpy(&f, v, 16);
  if (f.vt == 8) {
    std::free(f.s);
    --gHeld;
  }
  std::memset(v, 0, 16);
}
MgErr FakeCopy(const void* s, void* d) {
  FakeClear(d);
  FakeVariant f;
  std::memcpy(&f, s, 16);
  if (f.vt == 8) {
    f.s = strdup(f.s);
    ++gHeld;
  }
  std::memcpy(d, &f, 16);
  return kNoErr;
}
const VariantDataProcs kFake = {FakeInit, FakeClear, FakeCopy};

class DataVariant : public DataTest {
 protected:
  void SetUp() override {
    DataTest::SetUp();
    SetVariantDataProcs(&kFake);
  }
  void TearDown() override {
    SetVariantDataProcs(nullptr);
    EXPECT_EQ(gHeld.load(), 0);
    DataTest::TearDown();
  }
  static void Put(uChar* p, const char* text) {
    FakeVariant f{};
    f.vt = 8;
    f.s = strdup(text);
    ++gHeld;
    std::memcpy(p, &f, 16);
  }
  static std::string Text(const uChar* p) {
    FakeVariant f;
    std::memcpy(&f, p, 16);
    return f.vt == 8 ? f.s : "";
  }
};

TEST_F(DataVariant, CopiedClearedAndResetThroughTheProcedures) {
  Built t(Cluster({I32(), Variant(), Array(Variant())}));
  Datum src(t.td()), dst(t.td());
  Put(src.p() + 4, "value");
  UHandle a = src.H(20);
  int32 two[1] = {2};
  ASSERT_EQ(ArrayResize(ArrayElemTD(ElemTD(t.td(), 2)), 1, &a, Dims(two)), kNoErr);
  src.Set(20, a);
  Put(*a + 4, "in array");
  FakeVariant dbl{};
  dbl.vt = 5;
  dbl.d = 2.5;
  std::memcpy(*a + 20, &dbl, 16);
  ASSERT_EQ(CopyData(t.td(), src.p(), dst.p()), kNoErr);
  EXPECT_EQ(gHeld.load(), 4);
  EXPECT_EQ(Text(dst.p() + 4), "value");
  EXPECT_EQ(Text(*dst.H(20) + 4), "in array");
  FakeVariant got;
  std::memcpy(&got, *dst.H(20) + 20, 16);
  EXPECT_EQ(got.vt, 5);
  EXPECT_EQ(got.d, 2.5);
  EXPECT_EQ(ResetData(t.td(), dst.p()), kNoErr);
  EXPECT_EQ(gHeld.load(), 2);
  EXPECT_EQ(Text(dst.p() + 4), "");
}

}  // namespace
