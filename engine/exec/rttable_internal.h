// The registration of the run-time function table, on any table of the
// table's shape: the engine keeps one for QXRTTable, and the tests use their
// own to check what is refused.
#pragma once
#include <bitset>

#include "engine/exec/rttable.h"

namespace qxrt {

class Registry {
 public:
  // table: kQXRTEntries + 1 words, filled with the stub and a final 0.
  explicit Registry(QXRTRoutine* table) : table_(table) {}
  MgErr Register(const QXRTEntry* entries, int32 count);
  void Close() { closed_ = true; }
  bool Closed() const { return closed_; }
  bool Registered(int32 index) const {
    return index >= 0 && index < kQXRTEntries && registered_[size_t(index)];
  }

 private:
  // Null when the entry may be written, else why it is refused.
  const char* Refusal(const QXRTEntry& e) const;

  QXRTRoutine* table_;
  std::bitset<kQXRTEntries> registered_;
  bool closed_ = false;
};

// Fills a table with the stub and the final 0, as QXRTTable starts.
void FillWithStub(QXRTRoutine* table);

}  // namespace qxrt
