// Refnums that several threads use at once: a close while another thread
// reads or writes the file, and datalog appends from two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "file_test_support.h"
#include "mgsource/thread.h"

namespace {

using namespace filetest;

int Scaled(int n) { return std::getenv("QX_UNDER_VALGRIND") ? (n / 10 > 0 ? n / 10 : 1) : n; }

class FileThreadsTest : public FileTest {};

// One thread reads and writes through a refnum while another closes it: the
// close waits for the call under way, later calls answer 1, and nothing is
// used after it is freed (the sanitizer build checks).
TEST_F(FileThreadsTest, CloseWhileAnotherThreadReadsAndWrites) {
  Put("race", std::string(64 * 1024, 'x'));
  for (int round = 0; round < Scaled(100); ++round) {
    FileRefnum r = Open("race");
    ASSERT_NE(r, 0u);
    std::atomic<bool> started{false};
    std::atomic<int> odd{0};
    std::thread user([&] {
      LStrHandle s = nullptr;
      for (int i = 0;; ++i) {
        const int32 n = 256;
        MgErr err = i & 1 ? WriteStr(r, "abcdefgh", 0, kFPFromStart, (i * 97) % 60000)
                          : ReadStr(r, kFPFromStart, (i * 131) % 60000, &n, &s);
        started = true;
        if (err == kArgErr) break;  // closed: every later call answers 1
        if (err != kNoErr) ++odd;
      }
      const int32 n = 1;
      if (ReadStr(r, kFPFromStart, 0, &n, &s) != kArgErr) ++odd;
      if (WriteStr(r, "z") != kArgErr) ++odd;
      Dispose(s);
    });
    while (!started) std::this_thread::yield();
    if (round & 1) std::this_thread::yield();
    EXPECT_EQ(RTFPClose(r), kNoErr);
    user.join();
    EXPECT_EQ(odd.load(), 0) << "round " << round;
    EXPECT_FALSE(FIsARefNum(r));
  }
}

class DatalogThreadsTest : public FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    ref_ = std::make_unique<TDHandle>(tdb::DatalogRefnum(tdb::String()));
  }
  void TearDown() override {
    ref_.reset();
    FileTest::TearDown();
  }
  std::unique_ptr<TDHandle> ref_;
};

// Two threads append records one by one to one datalog, through one refnum
// or through two refnums of the same file; the log then holds every record
// each appender was told was written, each whole.
TEST_F(DatalogThreadsTest, ConcurrentAppendersKeepEveryRecord) {
  const int32 kEach = Scaled(400);
  for (bool twoRefnums : {false, true}) {
    SCOPED_TRACE(twoRefnums ? "two refnums" : "one refnum");
    Owned p(P("both.log"));
    FileRefnum a = 0, b = 0;
    ASSERT_EQ(RTFPNewFile(p, kDenyNone, nullptr, 0, 6, ref_->h(), &a, 1), kNoErr);
    b = a;
    if (twoRefnums) {
      ASSERT_EQ(RTFPOpen(p, kAccessReadWrite, kDenyNone, ref_->h(), 6, &b, 0), kNoErr);
    }
    std::atomic<int> failed{0};
    auto appender = [&](FileRefnum r, char tag) {
      for (int32 i = 0; i < kEach; ++i) {
        // Lengths vary so that records cross group boundaries unevenly.
        LStrHandle s = NewString(std::string(1, tag) + std::to_string(i) + std::string(size_t(i % 13), tag));
        int32 pos = 0;
        if (FPWrite(r, ref_->h(), 0, kFPFromStart, 0, string_->h(), 0, &s, 0, &pos) != kNoErr) ++failed;
        Dispose(s);
      }
    };
    std::thread t1(appender, a, 'a'), t2(appender, b, 'b');
    t1.join();
    t2.join();
    EXPECT_EQ(failed.load(), 0);
    int32 count = -1;
    EXPECT_EQ(FPEOF(a, ref_->h(), 0, 0, 0, &count), kNoErr);
    EXPECT_EQ(count, 2 * kEach);
    UHandle arr = nullptr;
    int32 n = 2 * kEach, pos = 0;
    EXPECT_EQ(FPRead(a, ref_->h(), 0, kFPFromStart, 0, &n, string_->h(), 0, &arr, 0, 0, 0, &pos), kNoErr);
    // Each appender's records are all there, whole, in the order it wrote them.
    int32 next[2] = {0, 0};
    for (const std::string& s : Strings(arr)) {
      const int k = s.empty() || s[0] == 'a' ? 0 : 1;
      const char tag = k ? 'b' : 'a';
      EXPECT_EQ(s, std::string(1, tag) + std::to_string(next[k]) + std::string(size_t(next[k] % 13), tag));
      ++next[k];
    }
    DisposeStrings(arr);
    EXPECT_EQ(next[0], kEach);
    EXPECT_EQ(next[1], kEach);
    EXPECT_EQ(RTFPClose(a), kNoErr);
    if (twoRefnums) {
      EXPECT_EQ(RTFPClose(b), kNoErr);
    }
  }
}

}  // namespace
