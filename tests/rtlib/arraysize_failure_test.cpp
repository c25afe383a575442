// Every resize form with each of its allocations made to fail in turn: the
// failure gives 2 and leaves the handle byte-identical, with nothing made and
// nothing freed; only the empty values of SetArraySzAndInflateNewElt come
// after its resize, and that array still disposes without a leak.
#include <functional>

#include "arraysize_test_support.h"

using namespace astest;
using namespace tdb;

namespace {

using ArrayFailures = ArraySizeTest;

// A form run on a handle that setup made (null or an array with content).
struct Form {
  const char* name;
  std::function<UHandle()> setup;
  std::function<MgErr(UHandle*)> run;
  // Disposes what the form left: a flat handle, or an array of strings.
  std::function<void(UHandle*)> dispose;
};

// A big rank makes the two-list forms take their scratch room from the data
// zone, which is one more allocation to fail.
constexpr int32 kBigRank = 40;

class FailureForms {
 public:
  FailureForms() : strTD_(String()), dblTD_(DBL()) {
    bigA_.assign(kBigRank, 1);
    bigB_.assign(kBigRank, 1);
    bigA_[kBigRank - 1] = 9;
    bigB_[kBigRank - 1] = 7;
  }
  std::vector<Form> All() {
    const TypeDescriptor* str = StdTDTable[kStdTDString];
    const TypeDescriptor* dbl = StdTDTable[kTDDBL];
    auto strings = [str](int32 n) {
      return [str, n]() {
        UHandle h = nullptr;
        int32 count = n;
        EXPECT_EQ(VectorResize(str, &h, Dims(&count)), kNoErr);
        for (int32 i = 0; i < n; ++i) dtest::PutStr(*h + 4 + 4 * i, "s" + std::to_string(i));
        return h;
      };
    };
    auto flat = [](int32 bytes) {
      return [bytes]() {
        UHandle h = DSNewHClr(bytes);
        std::memset(*h + 4, 0x77, size_t(bytes - 4));
        return h;
      };
    };
    auto none = []() { return UHandle(nullptr); };
    auto disposeStrings = [str](UHandle* h) { DisposeArray(str, 1, h); };
    auto disposeFlat = [](UHandle* h) {
      if (*h) DSDisposeHandle(*h);
      *h = nullptr;
    };
    auto disposeBig = [](UHandle* h) {
      if (*h) DSDisposeHandle(*h);
      *h = nullptr;
    };
    return {
        // The header keeps its count of 2: the strings there are disposed.
        {"ArrayResizeElts", strings(2), [str](UHandle* h) { return ArrayResizeElts(str, 1, h, 5); }, disposeStrings},
        {"SetArraySize", strings(2), [this](UHandle* h) { return SetArraySize(strTD_.h(), strTD_.offset(), 1, h, 6); },
         disposeStrings},
        {"NumericArrayResize", none, [](UHandle* h) { return NumericArrayResize(kTDDBL, 1, h, 4); }, disposeFlat},
        {"ArrayResize", strings(1),
         [str](UHandle* h) {
           int32 c = 3;
           return ArrayResize(str, 1, h, Dims(&c));
         },
         disposeStrings},
        {"VectorResize", strings(2),
         [str](UHandle* h) {
           int32 c = 4;
           return VectorResize(str, h, Dims(&c));
         },
         disposeStrings},
        {"VectorResize from null", none,
         [dbl](UHandle* h) {
           int32 c = 4;
           return VectorResize(dbl, h, Dims(&c));
         },
         disposeFlat},
        {"FlatArrayResize", flat(4 + 8),
         [](UHandle* h) {
           int32 three = 3;
           return FlatArrayResize(4, 4, 1, h, Dims(&three));
         },
         disposeFlat},
        {"FlatVectorResize", none,
         [](UHandle* h) {
           int32 c = 5;
           return FlatVectorResize(8, 4, h, Dims(&c));
         },
         disposeFlat},
        {"FlatVectorResize shrinking", flat(4 + 40),
         [](UHandle* h) {
           int32 c = 2;
           return FlatVectorResize(1, 4, h, Dims(&c));
         },
         disposeFlat},
        {"FlatHandleResize", flat(12), [](UHandle* h) { return FlatHandleResize(2, 4, h, 30); }, disposeFlat},
        {"FlatHandleResize from null", none, [](UHandle* h) { return FlatHandleResize(2, 4, h, -1); }, disposeFlat},
        {"HandleVectorResize", none, [](UHandle* h) { return HandleVectorResize(h, 5); }, disposeFlat},
        {"ArrayResize2", none,
         [this, dbl](UHandle* h) { return ArrayResize2(dbl, kBigRank, h, Dims(bigA_.data()), Dims(bigB_.data())); },
         disposeBig},
        {"VectorResize2", strings(1),
         [str](UHandle* h) {
           int32 a = 3, b = 8;
           return VectorResize2(str, h, Dims(&a), Dims(&b));
         },
         disposeStrings},
        {"FlatArrayResize2", none,
         [this](UHandle* h) {
           return FlatArrayResize2(4, 4 * kBigRank, kBigRank, h, Dims(bigA_.data()), Dims(bigB_.data()));
         },
         disposeBig},
        {"FlatVectorResize2", none,
         [](UHandle* h) {
           int32 a = 3, b = 8;
           return FlatVectorResize2(2, 4, h, Dims(&a), Dims(&b));
         },
         disposeFlat},
        {"ArrayResize_Old", strings(1),
         [this](UHandle* h) {
           int32 c = 2;
           return ArrayResize_Old(strTD_.h(), strTD_.offset(), 1, h, Dims(&c));
         },
         disposeStrings},
        {"VectorResize_Old", strings(1),
         [this](UHandle* h) {
           int32 c = 7;
           return VectorResize_Old(strTD_.h(), strTD_.offset(), h, Dims(&c));
         },
         disposeStrings},
        {"ArrayResize2_Old", none,
         [this](UHandle* h) {
           return ArrayResize2_Old(dblTD_.h(), dblTD_.offset(), kBigRank, h, Dims(bigA_.data()),
                                   Dims(bigB_.data()));
         },
         disposeBig},
        {"VectorResize2_Old", strings(1),
         [this](UHandle* h) {
           int32 a = 9, b = 4;
           return VectorResize2_Old(strTD_.h(), strTD_.offset(), h, Dims(&a), Dims(&b));
         },
         disposeStrings},
    };
  }

 private:
  TDHandle strTD_;
  TDHandle dblTD_;
  std::vector<int32> bigA_, bigB_;
};

TEST_F(ArrayFailures, EachAllocationFailsInTurnAndChangesNothing) {
  FailureForms forms;
  for (const Form& f : forms.All()) {
    SCOPED_TRACE(f.name);
    int32 calls = -1;
    for (int32 n = 1; n <= 8 && calls < 0; ++n) {
      UHandle h = f.setup();
      std::vector<uChar> before = Snapshot(h);
      UHandle was = h;
      int32 live = dtest::LiveHandles();
      MemFullReset();
      MemFailNthAllocation(n);
      MgErr err = f.run(&h);
      MemFailNthAllocation(0);
      if (err == kNoErr) {
        calls = n - 1;
      } else {
        EXPECT_EQ(err, kMemFullErr) << "failure " << n;
        EXPECT_EQ(h, was) << "failure " << n;
        EXPECT_EQ(Snapshot(h), before) << "failure " << n;
        EXPECT_EQ(dtest::LiveHandles(), live) << "failure " << n;
        EXPECT_EQ(MemFullPending(nullptr), 1) << "the failure is recorded";
      }
      f.dispose(&h);
    }
    EXPECT_GE(calls, 1) << "the form allocates, so a failure was tried";
  }
  EXPECT_EQ(FamilyFailures() + DataFailures(), 0);
}

// The big-rank forms took their scratch room and their handle: two failures.
TEST_F(ArrayFailures, ScratchRoomForManySizesIsOneMoreAllocation) {
  std::vector<int32> a(kBigRank, 1), b(kBigRank, 2);
  for (int32 n = 1; n <= 2; ++n) {
    UHandle h = nullptr;
    MemFailNthAllocation(n);
    EXPECT_EQ(ArrayResize2(StdTDTable[kTDU8], kBigRank, &h, Dims(a.data()), Dims(b.data())), kMemFullErr) << n;
    MemFailNthAllocation(0);
    EXPECT_EQ(h, nullptr);
  }
  UHandle h = nullptr;
  ASSERT_EQ(ArrayResize2(StdTDTable[kTDU8], kBigRank, &h, Dims(a.data()), Dims(b.data())), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 4 * kBigRank + 1);
  DSDisposeHandle(h);
}

TEST_F(ArrayFailures, EmptyValuesComeAfterTheResize) {
  TDHandle th(Cluster({String(), I32(), Array(String())}));
  const TypeDescriptor* elem = th.td();
  int32 es = DataSize(elem);
  int32 made = -1;
  for (int32 n = 1; n <= 12 && made < 0; ++n) {
    UHandle h = nullptr;
    ASSERT_EQ(SetArraySzAndInflateNewElt(th.h(), th.offset(), 1, &h, 1), kNoErr);
    int32 one = 1;
    std::memcpy(*h, &one, 4);
    std::vector<uChar> before = Snapshot(h);
    int32 live = dtest::LiveHandles();
    MemFailNthAllocation(n);
    MgErr err = SetArraySzAndInflateNewElt(th.h(), th.offset(), 1, &h, 4);
    MemFailNthAllocation(0);
    if (err == kNoErr) {
      made = n - 1;
      EXPECT_EQ(dtest::LiveHandles(), live + 3 * 2);
    } else if (n == 1) {
      EXPECT_EQ(err, kMemFullErr);
      EXPECT_EQ(Snapshot(h), before) << "nothing initialised";
      EXPECT_EQ(dtest::LiveHandles(), live);
    } else {
      EXPECT_EQ(err, kMemFullErr) << n;
      EXPECT_EQ(DSGetHandleSize(h), 4 + 4 * es) << "the array stays grown";
      // The element that failed keeps what it made before the failure; the
      // elements after it are made all the same.
      int32 now = dtest::LiveHandles();
      EXPECT_TRUE(now == live + 3 * 2 - 1 || now == live + 3 * 2 - 2) << now - live;
      int32 failed = 1 + (n - 2) / 2;
      if (failed < 3) {
        EXPECT_NE(dtest::LoadSlot(*h + 4 + 3 * es), nullptr) << "the last element's string";
      }
    }
    // The caller states the count; the array then disposes without a leak
    // (the fixture checks).
    int32 count = (DSGetHandleSize(h) - 4) / es;
    std::memcpy(*h, &count, 4);
    MemFullReset();
    DisposeArray(elem, 1, &h);
  }
  EXPECT_EQ(made, 1 + 3 * 2) << "the resize, then a string and an array per element";
}

}  // namespace
