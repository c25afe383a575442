// Refnums that several threads use at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "file_test_support.h"

namespace {

using namespace filetest;

int Scaled(int n) { return std::getenv("QX_UNDER_VALGRIND") ? n / 10 : n; }

using FileThreadsTest = FileTest;

// A close while another thread reads and writes the refnum waits for the
// call under way; every later call answers 1 (the sanitizer build checks that
// nothing is used after it is freed).
TEST_F(FileThreadsTest, CloseWhileAnotherThreadReadsAndWrites) {
  Put("race", std::string(64 * 1024, 'x'));
  for (int round = 0; round < Scaled(100); ++round) {
    FileRefnum r = Open("race");
    std::atomic<bool> started{false};
    std::atomic<int> odd{0};
    std::thread user([&] {
      LStrHandle s = nullptr;
      const int32 n = 256;
      for (int i = 0;; ++i, started = true) {
        MgErr err = i & 1 ? WriteStr(r, "abcdefgh", 0, kFPFromStart, (i * 97) % 60000)
                          : ReadStr(r, kFPFromStart, (i * 131) % 60000, &n, &s);
        if (err == kArgErr) break;
        if (err) ++odd;
      }
      if (ReadStr(r, kFPFromStart, 0, &n, &s) != kArgErr || WriteStr(r, "z") != kArgErr) ++odd;
      Dispose(s);
    });
    while (!started) std::this_thread::yield();
    EXPECT_EQ(RTFPClose(r), kNoErr);
    user.join();
    EXPECT_EQ(odd.load(), 0) << round;
  }
}

// Two threads append records one by one to a datalog, through one refnum or
// two refnums of the file: every record is there, whole, in each writer's order.
TEST_F(FileThreadsTest, ConcurrentDatalogAppendersKeepEveryRecord) {
  TDHandle ref(tdb::DatalogRefnum(tdb::String()));
  const int32 kEach = Scaled(400);
  auto text = [](int k, int32 i) {
    return std::string(1, char('a' + k)) + std::to_string(i) + std::string(size_t(i % 13), '+');
  };
  for (bool two : {false, true}) {
    Owned p(P("both.log"));
    FileRefnum r[2] = {0, 0};
    ASSERT_EQ(RTFPNewFile(p, kDenyNone, nullptr, 0, 6, ref.h(), &r[0], 1), kNoErr);
    r[1] = r[0];
    if (two) {
      ASSERT_EQ(RTFPOpen(p, kAccessReadWrite, kDenyNone, ref.h(), 6, &r[1], 0), kNoErr);
    }
    std::atomic<int> failed{0};
    auto append = [&](int k) {
      for (int32 i = 0; i < kEach; ++i) {
        LStrHandle s = NewString(text(k, i));
        int32 pos = 0;
        if (FPWrite(r[k], ref.h(), 0, kFPFromStart, 0, string_->h(), 0, &s, 0, &pos)) ++failed;
        Dispose(s);
      }
    };
    std::thread t0(append, 0), t1(append, 1);
    t0.join();
    t1.join();
    EXPECT_EQ(failed.load(), 0);
    UHandle a = nullptr;
    int32 n = 2 * kEach, pos = 0, next[2] = {0, 0};
    EXPECT_EQ(FPRead(r[0], ref.h(), 0, kFPFromStart, 0, &n, string_->h(), 0, &a, 0, 0, 0, &pos), kNoErr);
    for (const std::string& s : Strings(a)) {
      const int k = s[0] == 'b';
      EXPECT_EQ(s, text(k, next[k]++));
    }
    DisposeStrings(a);
    EXPECT_EQ(next[0] + next[1], 2 * kEach);
    for (int k = 0; k <= int(two); ++k) EXPECT_EQ(RTFPClose(r[k]), kNoErr);
  }
}

}  // namespace
