#include "platform/wake_batch.h"

#include <algorithm>

namespace pmx {
namespace {

thread_local WakeBatch* open_batch = nullptr;

}  // namespace

WakeBatch::WakeBatch() : outermost_(open_batch == nullptr) {
  if (outermost_) open_batch = this;
}

WakeBatch::~WakeBatch() {
  if (!outermost_) return;
  open_batch = nullptr;
  for (auto& [key, wake] : wakes_) wake();
}

void WakeBatch::Wake(const void* key, std::function<void()> wake) {
  WakeBatch* batch = open_batch;
  if (!batch) {
    wake();
    return;
  }
  auto& wakes = batch->wakes_;
  const bool asked =
      std::any_of(wakes.begin(), wakes.end(), [key](const auto& w) { return w.first == key; });
  if (!asked) wakes.emplace_back(key, std::move(wake));
}

}  // namespace pmx
