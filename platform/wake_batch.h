#pragma once

#include <functional>
#include <utility>
#include <vector>

namespace pmx {

// Wake-ups that a thread asks for while it hands over several items in a row,
// given once each at the end of the row. A woken consumer of a higher priority
// would otherwise take the CPU at every item, run, and sleep again: a pair of
// context switches per item instead of one wake-up for the row.
//
// A batch belongs to the thread that opens it; batches opened inside it join it.
// Nothing inside a batch may wait for a consumer it has asked to wake.
class WakeBatch {
 public:
  WakeBatch();
  ~WakeBatch();
  WakeBatch(const WakeBatch&) = delete;
  WakeBatch& operator=(const WakeBatch&) = delete;

  // Runs wake at once outside a batch; inside one, at its end, once for all the
  // calls with the same key.
  static void Wake(const void* key, std::function<void()> wake);

 private:
  bool outermost_;
  std::vector<std::pair<const void*, std::function<void()>>> wakes_;
};

}  // namespace pmx
