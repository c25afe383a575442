// Helpers of the data tests: data buffers of exactly a TD's size, strings and
// arrays made and read back, and a count of live handles to catch leaks.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "engine_test_support.h"
#include "mgsource/memory.h"
#include "platform/qx_vmem.h"
#include "tests/live_handles.h"
#include "tools/tdbuilder.h"

namespace dtest {

struct Built {
  explicit Built(const tdb::TD& t) : bytes(t.Bytes()) {}
  const TypeDescriptor* td() const { return tdb::AsTD(bytes); }
  TypeDescriptor* td() { return tdb::AsTD(bytes); }
  std::vector<uChar> bytes;
};

// Handles alive in both zones.
inline int32 LiveHandles() { return LiveHandleCount(); }

// A datum of a TD in a heap buffer of exactly its size (so that the address
// sanitizer sees any access past it), disposed at the end.
class Datum {
 public:
  explicit Datum(const TypeDescriptor* td, bool init = true) : td_(td), size_(DataSize(td)) {
    buf_.reset(new uChar[size_ > 0 ? size_ : 1]);
    std::memset(buf_.get(), 0, size_t(size_ > 0 ? size_ : 1));
    if (init) {
      EXPECT_EQ(InitEmptyData(td_, p()), kNoErr);
    }
  }
  ~Datum() { DisposeData(td_, p(), p() + size_); }
  Datum(const Datum&) = delete;
  Datum& operator=(const Datum&) = delete;
  uChar* p() { return buf_.get(); }
  uChar* end() { return buf_.get() + size_; }
  int32 size() const { return size_; }
  template <typename V>
  V Get(int32 off) const {
    V v;
    std::memcpy(&v, buf_.get() + off, sizeof v);
    return v;
  }
  template <typename V>
  void Set(int32 off, V v) {
    std::memcpy(buf_.get() + off, &v, sizeof v);
  }
  UHandle H(int32 off = 0) const { return Get<UHandle>(off); }
  LStrHandle S(int32 off = 0) const { return reinterpret_cast<LStrHandle>(H(off)); }

 private:
  const TypeDescriptor* td_;
  int32 size_;
  std::unique_ptr<uChar[]> buf_;
};

inline LStrHandle NewLStr(const std::string& s) {
  LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(s.size()) + 4));
  (*h)->cnt = int32(s.size());
  if (!s.empty()) std::memcpy((*h)->str, s.data(), s.size());
  return h;
}
inline std::string Str(LStrHandle h) {
  if (!h) return "<null>";
  return std::string(reinterpret_cast<const char*>((*h)->str), size_t((*h)->cnt));
}
// Replaces the string in a data slot.
inline void PutStr(uChar* slot, const std::string& s) {
  LStrHandle h;
  std::memcpy(&h, slot, 4);
  LStrHandle src = NewLStr(s);
  EXPECT_EQ(CopyString(src, &h), kNoErr);
  DSDisposeHandle(reinterpret_cast<UHandle>(src));
  std::memcpy(slot, &h, 4);
}
// Puts s into the bounded string in a data slot (its handle keeps its size).
inline void PutBounded(uChar* slot, const std::string& s) {
  LStrHandle h;
  std::memcpy(&h, slot, 4);
  ASSERT_GE(DSGetHandleSize(reinterpret_cast<UHandle>(h)), int32(s.size()) + 4);
  (*h)->cnt = int32(s.size());
  std::memcpy((*h)->str, s.data(), s.size());
}
// A bounded string's room (4 + bound bytes) holding s.
inline LStrHandle NewEmptyStringForTest(int32 bound, const std::string& s) {
  LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHClr(4 + bound));
  (*h)->cnt = int32(s.size());
  if (!s.empty()) std::memcpy((*h)->str, s.data(), s.size());
  return h;
}
inline LStrHandle LoadSlot(const uChar* slot) {
  LStrHandle h;
  std::memcpy(&h, slot, 4);
  return h;
}
inline std::string StrAt(const uChar* slot) {
  LStrHandle h;
  std::memcpy(&h, slot, 4);
  return Str(h);
}

// The element TD of an array TD.
inline const TypeDescriptor* ArrayElemTD(const TypeDescriptor* array) {
  const uChar* p = reinterpret_cast<const uChar*>(array);
  int16 rank;
  std::memcpy(&rank, p + 4, 2);
  return reinterpret_cast<const TypeDescriptor*>(p + 6 + 4 * rank);
}

inline int32 I32At(UHandle h, int32 off) {
  int32 v;
  std::memcpy(&v, *h + off, 4);
  return v;
}
inline std::vector<int32> Sizes(UHandle h, int32 rank) {
  std::vector<int32> v;
  for (int32 k = 0; k < rank; ++k) v.push_back(I32At(h, 4 * k));
  return v;
}

// A dimension list as ArrayResize takes it: the address of a pointer to the
// sizes, alive for the call it is passed to.
class Dims {
 public:
  explicit Dims(const int32* sizes) : p_(const_cast<int32*>(sizes)) {}
  operator int32**() { return &p_; }

 private:
  int32* p_;
};

// The test fixture: engine set-up, and no handle left behind by a test.
class DataTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    live_ = LiveHandles();
  }
  void TearDown() override {
    EXPECT_EQ(LiveHandles(), live_) << "handles leaked or freed twice";
    EngineTest::TearDown();
  }
  static int DataFailures() { return qxtest::Reports::Get().Count("\"data\""); }

 private:
  int32 live_ = 0;
};

}  // namespace dtest
