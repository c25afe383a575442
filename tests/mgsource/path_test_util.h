// Helpers of the path and file manager tests.
#pragma once
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "mgsource/path.h"

namespace pathtest {

// A Pascal string from a C string.
struct PS {
  uChar b[256];
  explicit PS(const std::string& s) {
    b[0] = uChar(s.size() > 255 ? 255 : s.size());
    std::memcpy(b + 1, s.data(), b[0]);
  }
  operator PStr() { return b; }
  operator ConstPStr() const { return b; }
};

inline std::string Str(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

// Disposes a path at the end of a scope.
struct Owned {
  Path p = nullptr;
  Owned() = default;
  explicit Owned(Path q) : p(q) {}
  ~Owned() { FDisposePath(p); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  operator Path() const { return p; }
  Path* operator&() { return &p; }
};

inline Path ToPath(const std::string& text) {
  Path p = nullptr;
  EXPECT_EQ(FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p), kNoErr) << text;
  return p;
}

inline std::string Text(Path p) {
  LStr probe = {-1, {0}};
  if (FPathToText(p, &probe) != kNoErr) return "<error>";
  std::vector<uChar> buf(size_t(4 + probe.cnt + 1));
  LStrPtr l = reinterpret_cast<LStrPtr>(buf.data());
  l->cnt = 0;
  EXPECT_EQ(FPathToText(p, l), kNoErr);
  return std::string(reinterpret_cast<const char*>(l->str), size_t(l->cnt));
}

inline int32 Type(Path p) {
  int32 t = -1;
  FGetPathType(p, &t);
  return t;
}

inline std::vector<std::string> Comps(Path p) {
  std::vector<std::string> v;
  for (int32 i = 0; i < FDepth(p); ++i) {
    uChar name[256];
    EXPECT_EQ(FNthName(p, i, name), kNoErr);
    v.push_back(Str(name));
  }
  return v;
}

// A buffer whose last byte is followed by an inaccessible page, so that any
// read past the data faults.
class Guarded {
 public:
  explicit Guarded(const std::vector<uChar>& data) {
    long page = sysconf(_SC_PAGESIZE);
    size_t pages = (data.size() + size_t(page) - 1) / size_t(page) + 1;
    size_ = (pages + 1) * size_t(page);
    base_ = static_cast<uChar*>(mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + pages * size_t(page), size_t(page), PROT_NONE);
    data_ = base_ + pages * size_t(page) - data.size();
    if (!data.empty()) std::memcpy(data_, data.data(), data.size());
  }
  ~Guarded() { munmap(base_, size_); }
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;
  const uChar* data() const { return data_; }

 private:
  uChar* base_;
  uChar* data_;
  size_t size_;
};

inline void PutBE32(std::vector<uChar>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uChar(x >> s));
}
inline void PutBE16(std::vector<uChar>& v, uint16_t x) {
  v.push_back(uChar(x >> 8));
  v.push_back(uChar(x));
}

}  // namespace pathtest
