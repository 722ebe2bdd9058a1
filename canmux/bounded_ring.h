#pragma once
// A fixed-capacity FIFO whose storage is allocated once at construction: the bus paths push and
// pop frames without allocating. Not thread-safe; owners guard it.
#include <cstddef>
#include <vector>

template <typename T>
class BoundedRing {
 public:
  explicit BoundedRing(size_t capacity) : slots_(capacity) {}

  // False (and nothing stored) when full.
  bool push(const T& value) {
    if (count_ == slots_.size()) return false;
    slots_[(head_ + count_) % slots_.size()] = value;
    ++count_;
    return true;
  }

  // False when empty.
  bool pop(T* out) {
    if (count_ == 0) return false;
    *out = slots_[head_];
    head_ = (head_ + 1) % slots_.size();
    --count_;
    return true;
  }

  // The oldest value; only when not empty.
  const T& front() const { return slots_[head_]; }

  void clear() { head_ = count_ = 0; }
  size_t size() const { return count_; }
  size_t capacity() const { return slots_.size(); }
  bool empty() const { return count_ == 0; }
  bool full() const { return count_ == slots_.size(); }

 private:
  std::vector<T> slots_;
  size_t head_ = 0;
  size_t count_ = 0;
};
