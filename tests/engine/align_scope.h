// Sets the maximum data alignment for a scope and restores it after.
#pragma once
#include "engine/datatype.h"

namespace qxtest {

class AlignScope {
 public:
  explicit AlignScope(int16 a) : old_(SetMaxDataAlign(a)) {}
  ~AlignScope() { SetMaxDataAlign(old_); }
  AlignScope(const AlignScope&) = delete;
  AlignScope& operator=(const AlignScope&) = delete;

 private:
  int16 old_;
};

}  // namespace qxtest
