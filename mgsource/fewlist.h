// A list of a few items kept in place, more spilled to the heap.  The lists
// the drawing and moving paths make (an object's parts, an update's changed
// rectangles) are short, and an allocation each would cost more than the
// work they list.
#pragma once
#include <cstddef>
#include <vector>

template <typename T, size_t N>
class FewList {
 public:
  void push_back(const T& t) {
    if (n_ < N) {
      few_[n_++] = t;
      return;
    }
    if (more_.empty()) more_.assign(few_, few_ + N);
    more_.push_back(t);
    ++n_;
  }
  bool empty() const { return n_ == 0; }
  size_t size() const { return n_; }
  T* begin() { return n_ <= N ? few_ : more_.data(); }
  T* end() { return begin() + n_; }
  const T* begin() const { return n_ <= N ? few_ : more_.data(); }
  const T* end() const { return begin() + n_; }
  const T& front() const { return *begin(); }

 private:
  T few_[N];
  size_t n_ = 0;
  std::vector<T> more_;
};
