#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "audio/core/objects/objects.h"
#include "platform/exception.h"

namespace pmx {

// The runtime's error for an index, count or capacity outside a list's bounds.
class EListError : public Exception {
 public:
  using Exception::Exception;
};

// Raises EListError with the runtime's list-index message for value.
[[noreturn]] void ListIndexError(int64_t value);

constexpr int kMaxListSize = 134217727;

// Index of the first of count ascending keys that is greater than position; count
// when position is at or after the last key; -1 for no keys.
template <class KeyAt>
int IndexAfterKey(int count, int64_t position, KeyAt key_at) {
  if (count == 0) return -1;
  if (position >= key_at(count - 1)) return count;
  int low = 0;
  int high = count - 1;
  while (low < high) {
    const int mid = low + (high - low) / 2;
    if (key_at(mid) > position) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  return low;
}

// The straight line through (p0, v0) and (p1, v1) at position, with a 64-bit
// product and truncating division; p1 must differ from p0.
inline int32_t InterpolateLinear(int64_t p0, int32_t v0, int64_t p1, int32_t v1,
                                 int64_t position) {
  return static_cast<int32_t>(v0 + (int64_t{v1} - v0) * (position - p0) / (p1 - p0));
}

// A growable array of plain records kept in order of the key field Key, with the
// runtime list's growth rule and limits. With kAnnounce every add, insert and
// clear is bracketed by Changing and Changed. Not shared between threads: its
// owner serialises access.
template <class Item, auto Key, bool kAnnounce>
class TMMRecordList : public TMMObject {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  int Capacity() const { return capacity_; }

  const Item& GetItem(int index) const {
    if (index < 0 || index >= Count()) Error(index);
    return items_[index];
  }

  int Add(const Item& item) {
    Insert(Count(), item);
    return Count() - 1;
  }

  virtual void Clear() {
    Announce(true);
    items_.clear();
    items_.shrink_to_fit();
    capacity_ = 0;
    Announce(false);
  }

  // New records are zero-filled.
  void SetCount(int count) {
    if (count < 0 || count > kMaxListSize) Error(count);
    if (count > capacity_) SetCapacity(count);
    items_.resize(count, Item{});
  }

  void SetCapacity(int capacity) {
    if (capacity < Count() || capacity > kMaxListSize) Error(capacity);
    capacity_ = capacity;
    items_.reserve(capacity);
  }

  int IndexAfter(int64_t position) const {
    return IndexAfterKey(Count(), position, [this](int i) { return items_[i].*Key; });
  }

 protected:
  // 0 <= index <= count; the tail moves up.
  void Insert(int index, const Item& item) {
    if (index < 0 || index > Count()) Error(index);
    Announce(true);
    if (Count() == capacity_) Grow();
    items_.insert(items_.begin() + index, item);
    Announce(false);
  }

  [[noreturn]] virtual void Error(int64_t value) const { ListIndexError(value); }

  // By 16 from a capacity of 9 up, by 4 below 5, else by 8.
  virtual void Grow() {
    SetCapacity(capacity_ + (capacity_ > 8 ? 16 : capacity_ > 4 ? 8 : 4));
  }

  std::vector<Item>& Items() { return items_; }

 private:
  void Announce(bool changing) {
    if constexpr (kAnnounce) Changed(changing);
  }

  std::vector<Item> items_;
  int capacity_ = 0;
};

}  // namespace pmx
