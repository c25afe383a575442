// Helpers of the array sizing tests: the fixture (engine set-up, no handle
// left behind, reports of the family counted), TDs held in handles as the
// forms with a TD handle and offset take them, and snapshots of handles.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/align_scope.h"
#include "engine/data_test_util.h"
#include "mgsource/memory.h"
#include "rtlib/arraysize.h"
#include "tools/tdbuilder.h"

namespace astest {

using qxtest::AlignScope;
using dtest::Built;
using dtest::Dims;
using dtest::I32At;
using dtest::Sizes;

// A TD at a byte offset of a data-zone handle.
class TDHandle {
 public:
  explicit TDHandle(const tdb::TD& td, int32 offset = 6) : offset_(offset) {
    std::vector<uChar> bytes = td.Bytes();
    h_ = DSNewHClr(offset + int32(bytes.size()));
    std::memcpy(*h_ + offset, bytes.data(), bytes.size());
  }
  ~TDHandle() { DSDisposeHandle(h_); }
  TDHandle(const TDHandle&) = delete;
  TDHandle& operator=(const TDHandle&) = delete;
  UHandle h() const { return h_; }
  int32 offset() const { return offset_; }
  const TypeDescriptor* td() const { return reinterpret_cast<const TypeDescriptor*>(*h_ + offset_); }

 private:
  int32 offset_;
  UHandle h_;
};

// The bytes of a handle (empty for null), to show that a failure changed
// nothing.
inline std::vector<uChar> Snapshot(UHandle h) {
  if (!h) return {};
  return std::vector<uChar>(*h, *h + DSGetHandleSize(h));
}

// Disposes an array handle of these elements whose header says how many
// elements its n dimensions hold.
inline void DisposeArray(const TypeDescriptor* elem, int32 n, UHandle* h) {
  if (!*h) return;
  if (DataShape(elem) != 0) {
    int32 count = NArrayElts(n, reinterpret_cast<const int32*>(**h));
    int32 header = AlignDatum(elem, 4 * n);
    int32 es = DataSize(elem);
    for (int32 i = 0; i < count; ++i) DisposeData(elem, **h + header + i * es, **h + header + (i + 1) * es);
  }
  DSDisposeHandle(*h);
  *h = nullptr;
}

class ArraySizeTest : public dtest::DataTest {
 protected:
  void TearDown() override {
    MemFailNthAllocation(0);
    MemFullReset();
    DataTest::TearDown();
  }
  // Failures this family reported since the test began (or the last clear).
  static int FamilyFailures() { return qxtest::Reports::Get().Count("\"datasupp\""); }
};

}  // namespace astest
