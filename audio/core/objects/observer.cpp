#include "audio/core/objects/observer.h"

#include <algorithm>

namespace pmx {

TMMObserver::~TMMObserver() {
  if (observable_) observable_->RemoveObserver(this);
}

void TMMObserver::Notify(void* data) {
  if (!muted_ && OnNotify) OnNotify(user_data_, this, data);
}

TMMObservable::~TMMObservable() {
  while (!observers_.empty()) RemoveObserver(observers_.back());
}

void TMMObservable::AddObserver(TMMObserver* observer) {
  if (observer->observable_) observer->observable_->RemoveObserver(observer);
  observers_.push_back(observer);
  observer->observable_ = this;
}

void TMMObservable::RemoveObserver(TMMObserver* observer) {
  if (observer->observable_ != this) return;
  observers_.erase(std::find(observers_.begin(), observers_.end(), observer));
  observer->observable_ = nullptr;
}

void TMMObservable::Notify(void* data) {
  if (muted_) return;
  // By index, re-checked each step: a callback may shrink the list.
  for (size_t i = observers_.size(); i > 0; --i) {
    if (i <= observers_.size()) observers_[i - 1]->Notify(data);
  }
}

}  // namespace pmx
