// Element counts of array handles and the core array resize, which keeps the
// handles inside the elements consistent.
//
// An array handle holds one int32 size per dimension, outermost first, then
// the elements from AlignDatum(element TD, 4 * rank) on, DataSize apart.
#pragma once
#include "engine/datatype.h"
#include "mgsource/memory.h"

// A data-zone handle laid out as above; null is the empty array.
typedef UHandle ArrayHandle;

// The number of significant bits of |v| (0 for 0).
QX_EXTERN_C int32 BitLength(int32 v);
// The product of n sizes (1 for n = 0); -1 for a negative size or when the
// bit lengths of the running product and the next size reach 31, and for a
// negative n or no sizes.
QX_EXTERN_C int32 NArrayElts(int32 n, const int32* sizes);
// Gives the handle room for count elements (-1 counts as 0): removed
// elements are disposed, added ones are zero bytes; a null handle gets a new
// cleared one.  The dimension sizes are left alone.  Once elements holding
// handles are disposed the shrink stands, even if the memory manager could
// not give back their room.  2 when the count is
// refused or memory is short, 1 (reported) when the handle's sizes are
// negative, overflow or claim more elements than it holds; the handle is
// then unchanged.
QX_EXTERN_C MgErr ArrayResizeElts(const TypeDescriptor* elemTD, int32 n, UHandle* array, int32 count);
// Resizes to the product of the n sizes and writes them into the header
// (clears the header when there is no list).  The list is the address of a
// pointer to the n sizes, as another array's handle reaches its header; a
// null address or pointer is no list.  2, nothing changed, when the sizes
// hold a negative size or their product overflows.
QX_EXTERN_C MgErr ArrayResize(const TypeDescriptor* elemTD, int32 n, UHandle* array, int32** sizes);

namespace dm {

// Scratch storage for a few words per dimension, on the stack for small
// ranks, else from the data zone; ok() is false when that allocation failed.
class RankBuffer {
 public:
  explicit RankBuffer(int32 words) {
    if (words > kInline) {
      heap_ = reinterpret_cast<int32*>(DSNewPtr(words * int32(sizeof(int32))));
      p_ = heap_;
    } else {
      p_ = inline_;
    }
  }
  ~RankBuffer() {
    if (heap_) DSDisposePtr(reinterpret_cast<UPtr>(heap_));
  }
  RankBuffer(const RankBuffer&) = delete;
  RankBuffer& operator=(const RankBuffer&) = delete;
  int32* get() { return p_; }
  bool ok() const { return p_ != nullptr; }

 private:
  static constexpr int32 kInline = 32;
  int32 inline_[kInline];
  int32* heap_ = nullptr;
  int32* p_ = nullptr;
};

}  // namespace dm
