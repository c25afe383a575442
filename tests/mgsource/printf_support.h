// Helpers of the printf and number-text tests: formatting into strings,
// formats that end against an inaccessible page, and the debug reports.
#pragma once
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "mgsource/printf.h"
#include "test_support.h"

namespace printftest {

// SPrintf into a string.
inline std::string Fmt(const char* fmt, ...) {
  char buf[4096];
  va_list ap;
  va_start(ap, fmt);
  int32 n = SPrintfv(buf, sizeof buf, fmt, int32(std::strlen(fmt)), ap);
  va_end(ap);
  return std::string(buf, size_t(n));
}

// A format copied so that its last byte is the last readable byte before an
// inaccessible page: any read past its length faults.
class GuardedFormat {
 public:
  explicit GuardedFormat(const std::string& text) : len_(int32(text.size())) {
    page_ = size_t(sysconf(_SC_PAGESIZE));
    base_ = static_cast<char*>(mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EXPECT_NE(base_, MAP_FAILED);
    mprotect(base_ + page_, page_, PROT_NONE);
    start_ = base_ + page_ - text.size();
    std::memcpy(start_, text.data(), text.size());
  }
  ~GuardedFormat() { munmap(base_, 2 * page_); }
  const char* data() const { return start_; }
  int32 size() const { return len_; }

 private:
  size_t page_;
  char* base_;
  char* start_;
  int32 len_;
};

// SPrintfv of a guarded format into a string (out: the result).
inline std::string FmtGuarded(const GuardedFormat& g, int32* result, ...) {
  char buf[1024];
  std::memset(buf, 0, sizeof buf);
  va_list ap;
  va_start(ap, result);
  int32 n = SPrintfv(buf, sizeof buf, g.data(), g.size(), ap);
  va_end(ap);
  *result = n;
  return std::string(buf, size_t(n > 0 ? n : 0));
}

}  // namespace printftest
