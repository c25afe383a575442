// The n-dimensional array kernels: insertion and deletion with their
// normalisation, replacement of sub-blocks, rank changes, failures that leave
// the array as it was, a long random walk against a model, and threads.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "data_test_util.h"

using namespace tdb;
using namespace dtest;

namespace {

using ArrayKernels = DataTest;

// An I32 array handle of these sizes holding 1, 2, 3 ... in order.
UHandle Counting(std::vector<int32> sizes) {
  UHandle h = nullptr;
  EXPECT_EQ(ArrayResize(StdTDTable[kTDI32], int32(sizes.size()), &h, Dims(sizes.data())), kNoErr);
  int32 n = NArrayElts(int32(sizes.size()), sizes.data());
  for (int32 i = 0; i < n; ++i) {
    int32 v = i + 1;
    std::memcpy(*h + 4 * int32(sizes.size()) + 4 * i, &v, 4);
  }
  return h;
}
std::vector<int32> Values(UHandle h, int32 rank) {
  std::vector<int32> sz = Sizes(h, rank);
  int32 n = NArrayElts(rank, sz.data());
  std::vector<int32> v;
  for (int32 i = 0; i < n; ++i) v.push_back(I32At(h, 4 * rank + 4 * i));
  return v;
}

TEST_F(ArrayKernels, InsertRowsOfA2DArray) {
  Built t(Array(I32(), {-1, -1}));
  UHandle h = Counting({3, 2});
  int32 pos[2] = {1, 0}, cnt[2] = {2, 0};
  ASSERT_EQ(ArrayInsertDeleteNDim(t.td(), &h, pos, cnt, nullptr), kNoErr);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{5, 2}));
  EXPECT_EQ(Values(h, 2), (std::vector<int32>{1, 2, 0, 0, 0, 0, 3, 4, 5, 6}));
  EXPECT_EQ(DSGetHandleSize(h), 8 + 40);
  // Columns with a fill value.
  int32 seven = 7;
  int32 pos2[2] = {0, 2}, cnt2[2] = {0, 1};
  ASSERT_EQ(ArrayInsertDeleteNDim(t.td(), &h, pos2, cnt2, &seven), kNoErr);
  EXPECT_EQ(Values(h, 2), (std::vector<int32>{1, 2, 7, 0, 0, 7, 0, 0, 7, 3, 4, 7, 5, 6, 7}));
  DSDisposeHandle(h);
}

TEST_F(ArrayKernels, PositionsAndCountsAreNormalisedAndWrittenBack) {
  Built t(Array(I32()));
  UHandle h = Counting({3});
  int32 pos[1] = {10}, cnt[1] = {1};
  ASSERT_EQ(ArrayInsertDeleteNDim(t.td(), &h, pos, cnt, nullptr), kNoErr);
  EXPECT_EQ(pos[0], 3);
  EXPECT_EQ(Values(h, 1), (std::vector<int32>{1, 2, 3, 0}));
  DSDisposeHandle(h);

  h = Counting({4});
  int32 p2[1] = {2}, c2[1] = {-5};
  ASSERT_EQ(ArrayInsertDeleteNDim(t.td(), &h, p2, c2, nullptr), kNoErr);
  EXPECT_EQ(c2[0], -2);
  EXPECT_EQ(Values(h, 1), (std::vector<int32>{1, 2}));
  EXPECT_EQ(DSGetHandleSize(h), 12);
  int32 p3[1] = {-4}, c3[1] = {-1};
  ASSERT_EQ(ArrayInsertDeleteNDim(t.td(), &h, p3, c3, nullptr), kNoErr);
  EXPECT_EQ(p3[0], 0);
  EXPECT_EQ(Values(h, 1), (std::vector<int32>{2}));
  DSDisposeHandle(h);

  Built t2(Array(I32(), {-1, -1}));
  h = Counting({2, 3});
  int32 p4[2] = {0, 1}, c4[2] = {0, -1};
  ASSERT_EQ(ArrayInsertDeleteNDim(t2.td(), &h, p4, c4, nullptr), kNoErr);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{2, 2}));
  EXPECT_EQ(Values(h, 2), (std::vector<int32>{1, 3, 4, 6}));
  int32 p5[2] = {1, 0}, c5[2] = {2, -1};
  ASSERT_EQ(ArrayInsertDeleteNDim(t2.td(), &h, p5, c5, nullptr), kNoErr);
  EXPECT_EQ(c5[1], 0) << "the first count decides: inserting ignores the -1";
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{4, 2}));
  EXPECT_EQ(Values(h, 2), (std::vector<int32>{1, 3, 0, 0, 0, 0, 4, 6}));
  DSDisposeHandle(h);
}

TEST_F(ArrayKernels, BadArgumentsAndSizesOutOfRange) {
  Built t(Array(I32()));
  UHandle h = Counting({2});
  int32 pos[1] = {0}, cnt[1] = {0x7FFFFFF0};
  EXPECT_EQ(ArrayInsertDeleteNDim(t.td(), &h, pos, cnt, nullptr), kMemFullErr);
  cnt[0] = 0x10000000;
  EXPECT_EQ(ArrayInsertDeleteNDim(t.td(), &h, pos, cnt, nullptr), kMemFullErr) << "1 GiB of elements";
  EXPECT_EQ(Values(h, 1), (std::vector<int32>{1, 2}));
  Built rank0(Array(I32(), {}));
  cnt[0] = 1;
  EXPECT_EQ(ArrayInsertDeleteNDim(rank0.td(), &h, pos, cnt, nullptr), kArgErr);
  EXPECT_EQ(ArrayInsertDeleteNDim(t.td(), nullptr, pos, cnt, nullptr), kArgErr);
  // Counts of 0 change nothing; a null handle grows like an empty array.
  cnt[0] = 0;
  EXPECT_EQ(ArrayInsertDeleteNDim(t.td(), &h, pos, cnt, nullptr), kNoErr);
  DSDisposeHandle(h);
  UHandle none = nullptr;
  cnt[0] = 2;
  ASSERT_EQ(ArrayInsertDeleteNDim(t.td(), &none, pos, cnt, nullptr), kNoErr);
  EXPECT_EQ(Values(none, 1), (std::vector<int32>{0, 0}));
  DSDisposeHandle(none);
}

TEST_F(ArrayKernels, StringsAreMadeCopiedAndDisposed) {
  Built t(Array(String(), {-1, -1}));
  UHandle h = nullptr;
  int32 sizes[2] = {2, 2};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 2, &h, Dims(sizes)), kNoErr);
  for (int i = 0; i < 4; ++i) PutStr(*h + 8 + 4 * i, "e" + std::to_string(i));
  LStrHandle fill = NewLStr("fill");
  int32 pos[2] = {1, 1}, cnt[2] = {1, 1};
  ASSERT_EQ(ArrayInsertDeleteNDim(t.td(), &h, pos, cnt, &fill), kNoErr);
  std::vector<std::string> want = {"e0", "fill", "e1", "fill", "fill", "fill", "e2", "fill", "e3"};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(StrAt(*h + 8 + 4 * i), want[size_t(i)]) << i;
  int32 dpos[2] = {0, 0}, dcnt[2] = {-2, -1};
  ASSERT_EQ(ArrayInsertDeleteNDim(t.td(), &h, dpos, dcnt, nullptr), kNoErr);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{1, 2}));
  EXPECT_EQ(StrAt(*h + 8), "fill");
  EXPECT_EQ(StrAt(*h + 12), "e3");
  DSDisposeHandle(reinterpret_cast<UHandle>(fill));
  DisposeData(t.td(), reinterpret_cast<uChar*>(&h), reinterpret_cast<uChar*>(&h) + 4);
}

TEST_F(ArrayKernels, AFailedInsertionLeavesTheArrayAsItWas) {
  // Copying the fill into a new element fails with 2 at its fixed array,
  // whose handle in the fill does not hold its two elements, after the
  // element's string was made.
  Built recs(Array(Cluster({String(), Array(I32(), {TDFixed(2)})})));
  const TypeDescriptor* rec = ArrayElemTD(recs.td());
  UHandle h = nullptr;
  int32 two[1] = {2};
  ASSERT_EQ(ArrayResize(rec, 1, &h, Dims(two)), kNoErr);
  for (int i = 0; i < 2; ++i) ASSERT_EQ(InitEmptyData(rec, *h + 4 + 8 * i), kNoErr);
  PutStr(*h + 4, "kept");
  std::vector<uChar> before(*h, *h + DSGetHandleSize(h));
  uChar fill[8];
  ASSERT_EQ(InitEmptyData(rec, fill), kNoErr);
  PutStr(fill, "fill");
  UHandle fixed;
  std::memcpy(&fixed, fill + 4, 4);
  ASSERT_EQ(DSSetHandleSize(fixed, 4 + 4), kNoErr);
  int32 pos[1] = {1}, cnt[1] = {3};
  EXPECT_EQ(ArrayInsertDeleteNDim(recs.td(), &h, pos, cnt, fill), kMemFullErr);
  EXPECT_EQ(pos[0], 1);
  EXPECT_EQ(cnt[0], 3);
  EXPECT_TRUE(std::vector<uChar>(*h, *h + DSGetHandleSize(h)) == before);
  EXPECT_EQ(StrAt(*h + 4), "kept");
  DisposeData(rec, fill, fill + 8);
  DisposeData(recs.td(), reinterpret_cast<uChar*>(&h), reinterpret_cast<uChar*>(&h) + 4);

  // A fill of bounded strings goes into new elements whose strings are null:
  // each gets its room made.
  Built bnd(Array(String(8)));
  h = nullptr;
  ASSERT_EQ(ArrayResize(ArrayElemTD(bnd.td()), 1, &h, Dims(two)), kNoErr);
  LStrHandle ab = NewEmptyStringForTest(8, "ab");
  int32 p1[1] = {1}, c1[1] = {2};
  EXPECT_EQ(ArrayInsertDeleteNDim(bnd.td(), &h, p1, c1, &ab), kNoErr);
  EXPECT_EQ(Sizes(h, 1), std::vector<int32>{4});
  EXPECT_EQ(StrAt(*h + 4), "<null>");
  EXPECT_EQ(StrAt(*h + 8), "ab");
  EXPECT_EQ(StrAt(*h + 12), "ab");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(LoadSlot(*h + 12))), 12);
  DSDisposeHandle(reinterpret_cast<UHandle>(ab));
  DisposeData(bnd.td(), reinterpret_cast<uChar*>(&h), reinterpret_cast<uChar*>(&h) + 4);

  // Memory runs out while a new string is made.
  Built strs(Array(String()));
  h = nullptr;
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &h, Dims(two)), kNoErr);
  PutStr(*h + 4, "first");
  PutStr(*h + 8, "second");
  before.assign(*h, *h + DSGetHandleSize(h));
  LStrHandle big = reinterpret_cast<LStrHandle>(DSNewHClr((1 << 20) + 4));
  (*big)->cnt = 1 << 20;
  UHandle held = h;
  int32 p2[1] = {1}, c2[1] = {3};
  PlatFailNextReservations(100);
  EXPECT_EQ(ArrayInsertDeleteNDim(strs.td(), &h, p2, c2, &big), kMemFullErr);
  PlatFailNextReservations(0);
  MemFullReset();
  EXPECT_EQ(h, held);
  EXPECT_TRUE(std::vector<uChar>(*h, *h + DSGetHandleSize(h)) == before);
  EXPECT_EQ(StrAt(*h + 4), "first");
  EXPECT_EQ(StrAt(*h + 8), "second");
  DSDisposeHandle(reinterpret_cast<UHandle>(big));
  DisposeData(strs.td(), reinterpret_cast<uChar*>(&h), reinterpret_cast<uChar*>(&h) + 4);
}

TEST_F(ArrayKernels, ReplaceWritesInsideTheDestinationOnly) {
  Built t(Array(I32(), {-1, -1}));
  UHandle d = Counting({3, 4});
  UHandle s = Counting({2, 2});
  std::vector<uChar> before(*d, *d + DSGetHandleSize(d));
  for (std::vector<int32> start : {std::vector<int32>{2, 0}, {0, 3}, {-1, 0}, {0, 0x7FFFFFFF}}) {
    EXPECT_EQ(ArrayReplaceSubsetNDim(t.td(), d, start.data(), s), kArgErr);
    EXPECT_EQ(std::vector<uChar>(*d, *d + DSGetHandleSize(d)), before);
  }
  int32 start[2] = {1, 2};
  ASSERT_EQ(ArrayReplaceSubsetNDim(t.td(), d, start, s), kNoErr);
  EXPECT_EQ(Values(d, 2), (std::vector<int32>{1, 2, 3, 4, 5, 6, 1, 2, 9, 10, 3, 4}));
  EXPECT_EQ(DSGetHandleSize(d), 8 + 48);
  EXPECT_EQ(ArrayReplaceSubsetNDim(t.td(), d, start, nullptr), kNoErr);
  int32 none[2] = {0, 0};
  EXPECT_EQ(ArrayReplaceSubsetNDim(t.td(), nullptr, none, s), kArgErr);
  DSDisposeHandle(d);
  DSDisposeHandle(s);

  Built st(Array(String()));
  UHandle sd = nullptr, ss = nullptr;
  int32 three[1] = {3}, one[1] = {1};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &sd, Dims(three)), kNoErr);
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &ss, Dims(one)), kNoErr);
  for (int i = 0; i < 3; ++i) PutStr(*sd + 4 + 4 * i, "dddd");
  PutStr(*ss + 4, "sss");
  UHandle reused;
  std::memcpy(&reused, *sd + 8, 4);
  int32 at[1] = {1};
  ASSERT_EQ(ArrayReplaceSubsetNDim(st.td(), sd, at, ss), kNoErr);
  EXPECT_EQ(StrAt(*sd + 8), "sss");
  UHandle now;
  std::memcpy(&now, *sd + 8, 4);
  EXPECT_EQ(now, reused) << "the destination element's handle is reused";
  for (UHandle* p : {&sd, &ss}) DisposeData(st.td(), reinterpret_cast<uChar*>(p), reinterpret_cast<uChar*>(p) + 4);
}

TEST_F(ArrayKernels, RankChanges) {
  UHandle h = Counting({3, 4});
  ASSERT_EQ(AdjustArrayDims(StdTDTable[kTDI32], h, 2, 3), kNoErr);
  EXPECT_EQ(Sizes(h, 3), (std::vector<int32>{1, 3, 4}));
  std::vector<int32> want;
  for (int i = 1; i <= 12; ++i) want.push_back(i);
  EXPECT_EQ(Values(h, 3), want);
  EXPECT_EQ(DSGetHandleSize(h), 12 + 48);
  ASSERT_EQ(AdjustArrayDims(StdTDTable[kTDI32], h, 3, 1), kNoErr);
  EXPECT_EQ(Sizes(h, 1), (std::vector<int32>{4}));
  EXPECT_EQ(Values(h, 1), (std::vector<int32>{1, 2, 3, 4}));
  EXPECT_EQ(DSGetHandleSize(h), 4 + 16);
  DSDisposeHandle(h);

  h = Counting({0, 4});
  ASSERT_EQ(AdjustArrayDims(StdTDTable[kTDI32], h, 2, 3), kNoErr);
  EXPECT_EQ(Sizes(h, 3), (std::vector<int32>{0, 0, 4}));
  ASSERT_EQ(AdjustArrayDims(StdTDTable[kTDI32], h, 3, 2), kNoErr);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{0, 0})) << "an empty array's sizes are cleared first";
  EXPECT_EQ(AdjustArrayDims(StdTDTable[kTDI32], h, 0, 2), kArgErr);
  EXPECT_EQ(AdjustArrayDims(StdTDTable[kTDI32], nullptr, 1, 2), kNoErr);
  DSDisposeHandle(h);

  // Dropping a leading dimension drops the elements it covered.
  UHandle s = nullptr;
  int32 sizes[2] = {2, 2};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 2, &s, Dims(sizes)), kNoErr);
  for (int i = 0; i < 4; ++i) PutStr(*s + 8 + 4 * i, "s" + std::to_string(i));
  UHandle tds = DSNewHandle(8);
  std::memcpy(*tds, StdTDTable[kStdTDString], 8);
  ASSERT_EQ(AdjustArrayDims_Old(tds, 0, s, 2, 1), kNoErr);
  EXPECT_EQ(Sizes(s, 1), (std::vector<int32>{2}));
  EXPECT_EQ(StrAt(*s + 4), "s0");
  EXPECT_EQ(StrAt(*s + 8), "s1");
  EXPECT_EQ(DSGetHandleSize(s), 12);
  DSDisposeHandle(tds);
  DisposeData(StdTDTable[25], reinterpret_cast<uChar*>(&s), reinterpret_cast<uChar*>(&s) + 4);
}

// ---- A random walk against a model ------------------------------------------------

struct Model {
  std::vector<int32> dims;
  std::vector<std::string> v;
  int32 Count() const { return dims[0] * dims[1] * dims[2]; }
};

int32 Lin(const std::vector<int32>& dims, const int32* i) { return (i[0] * dims[1] + i[1]) * dims[2] + i[2]; }

// The insertion or deletion as its rules say, index by index.
void ModelEdit(Model& m, std::vector<int32> pos, std::vector<int32> cnt, const std::string& fill) {
  int dir = 0;
  for (int k = 0; k < 3; ++k) {
    pos[size_t(k)] = std::max(0, std::min(pos[size_t(k)], m.dims[size_t(k)]));
    if (!dir && cnt[size_t(k)]) dir = cnt[size_t(k)] > 0 ? 1 : -1;
  }
  for (int k = 0; k < 3; ++k) {
    int32& c = cnt[size_t(k)];
    if (dir > 0 && c < 0) c = 0;
    if (dir < 0) c = std::max(std::min(c, 0), pos[size_t(k)] - m.dims[size_t(k)]);
  }
  std::vector<int32> nd(3);
  for (int k = 0; k < 3; ++k) nd[size_t(k)] = m.dims[size_t(k)] + cnt[size_t(k)];
  std::vector<std::string> nv(size_t(nd[0] * nd[1] * nd[2]));
  int32 j[3];
  for (j[0] = 0; j[0] < nd[0]; ++j[0])
    for (j[1] = 0; j[1] < nd[1]; ++j[1])
      for (j[2] = 0; j[2] < nd[2]; ++j[2]) {
        int32 i[3];
        bool made = false;
        for (int k = 0; k < 3; ++k) {
          int32 p = pos[size_t(k)], c = cnt[size_t(k)];
          if (dir > 0) {
            if (j[k] >= p && j[k] < p + c) made = true;
            i[k] = j[k] >= p + c ? j[k] - c : j[k];
          } else {
            i[k] = j[k] >= p ? j[k] - c : j[k];
          }
        }
        nv[size_t(Lin(nd, j))] = made ? fill : m.v[size_t(Lin(m.dims, i))];
      }
  m.dims = nd;
  m.v = nv;
}

void Check(const Model& m, UHandle h) {
  if (!h) {
    ASSERT_EQ(m.Count(), 0);
    return;
  }
  ASSERT_EQ(Sizes(h, 3), m.dims);
  ASSERT_GE(DSGetHandleSize(h), 12 + 4 * m.Count());
  for (int32 i = 0; i < m.Count(); ++i) ASSERT_EQ(StrAt(*h + 12 + 4 * i), m.v[size_t(i)]) << i;
}

// Runs steps of random insertions, deletions and replacements on a 3-D
// array of strings and compares with the model after each when check is set.
void RandomWalk(uint32_t seed, int steps, bool checkEach) {
  Built t(Array(String(), {-1, -1, -1}));
  std::mt19937 rng(seed);
  auto r = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Model m{{0, 0, 0}, {}};
  UHandle h = nullptr;
  int tag = 0;
  for (int step = 0; step < steps; ++step) {
    int op = r(0, 9);
    if (op < 7) {
      std::vector<int32> pos(3), cnt(3);
      bool shrink = m.Count() > 150;
      for (int k = 0; k < 3; ++k) {
        pos[size_t(k)] = r(-1, m.dims[size_t(k)] + 1);
        cnt[size_t(k)] = r(0, 3) == 0 ? 0 : (shrink ? r(-3, 1) : r(-2, 3));
      }
      std::string fill;
      LStrHandle fh = nullptr;
      if (r(0, 1)) {
        fill = "f" + std::to_string(++tag);
        fh = NewLStr(fill);
      }
      std::vector<int32> p = pos, c = cnt;
      Model before = m;
      ModelEdit(m, pos, cnt, fill);
      ASSERT_EQ(ArrayInsertDeleteNDim(t.td(), &h, p.data(), c.data(), fh ? &fh : nullptr), kNoErr);
      if (fh) DSDisposeHandle(reinterpret_cast<UHandle>(fh));
    } else if (m.Count() > 0) {
      std::vector<int32> ss(3), start(3);
      for (int k = 0; k < 3; ++k) {
        ss[size_t(k)] = r(0, m.dims[size_t(k)]);
        start[size_t(k)] = r(-1, m.dims[size_t(k)]);
      }
      UHandle s = nullptr;
      ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 3, &s, Dims(ss.data())), kNoErr);
      int32 n = ss[0] * ss[1] * ss[2];
      for (int32 i = 0; i < n; ++i) PutStr(*s + 12 + 4 * i, "r" + std::to_string(++tag));
      bool fits = true;
      for (int k = 0; k < 3; ++k)
        if (start[size_t(k)] < 0 || start[size_t(k)] + ss[size_t(k)] > m.dims[size_t(k)]) fits = false;
      MgErr err = ArrayReplaceSubsetNDim(t.td(), h, start.data(), s);
      ASSERT_EQ(err, fits ? kNoErr : kArgErr);
      if (fits) {
        int32 i[3];
        for (i[0] = 0; i[0] < ss[0]; ++i[0])
          for (i[1] = 0; i[1] < ss[1]; ++i[1])
            for (i[2] = 0; i[2] < ss[2]; ++i[2]) {
              int32 j[3] = {start[0] + i[0], start[1] + i[1], start[2] + i[2]};
              m.v[size_t(Lin(m.dims, j))] = StrAt(*s + 12 + 4 * Lin(ss, i));
            }
      }
      DisposeData(t.td(), reinterpret_cast<uChar*>(&s), reinterpret_cast<uChar*>(&s) + 4);
    }
    if (checkEach || step == steps - 1) {
      Check(m, h);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  DisposeData(t.td(), reinterpret_cast<uChar*>(&h), reinterpret_cast<uChar*>(&h) + 4);
}

TEST_F(ArrayKernels, RandomStepsMatchAModel) { RandomWalk(20240611, qxtest::Scaled(1000), true); }

TEST(ArrayKernelsThreads, FourThreadsOnTheirOwnArrays) {
  qxtest::StartManagers();
  int32 live = LiveHandles();
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([i, &failures] {
      RandomWalk(uint32_t(1000 + i), qxtest::Scaled(10000), false);
      failures[size_t(i)] = ::testing::Test::HasFailure();
    });
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
  EXPECT_EQ(LiveHandles(), live);
}

}  // namespace
