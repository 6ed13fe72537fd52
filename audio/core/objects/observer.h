#pragma once

#include <functional>
#include <vector>

#include "audio/core/objects/component.h"

namespace pmx {

class TMMObservable;

// One listener of a TMMObservable. It belongs to at most one observable at a time;
// either side may go first, the other forgets it. Single-threaded, like its owner.
class TMMObserver : public TObject {
 public:
  using TNotifyProc = std::function<void(void* user_data, TMMObserver* observer, void* data)>;

  TMMObserver() = default;
  ~TMMObserver() override;
  TMMObserver(const TMMObserver&) = delete;
  TMMObserver& operator=(const TMMObserver&) = delete;

  TMMObservable* Observable() const { return observable_; }
  void SetMuted(bool muted) { muted_ = muted; }
  void SetUserData(void* user_data) { user_data_ = user_data; }

  // Calls OnNotify with the user data, this observer and data, unless muted.
  void Notify(void* data);

  TNotifyProc OnNotify;

 private:
  friend class TMMObservable;

  TMMObservable* observable_ = nullptr;
  bool muted_ = false;
  void* user_data_ = nullptr;
};

class TMMObservable : public TObject {
 public:
  TMMObservable() = default;
  ~TMMObservable() override;
  TMMObservable(const TMMObservable&) = delete;
  TMMObservable& operator=(const TMMObservable&) = delete;

  // Takes observer over from any observable it belonged to.
  void AddObserver(TMMObserver* observer);
  // Only an observer of this observable is removed.
  void RemoveObserver(TMMObserver* observer);
  // Notifies the observers, the last added first, unless muted. An observer may
  // remove itself or others meanwhile.
  void Notify(void* data);

  int ObserverCount() const { return static_cast<int>(observers_.size()); }
  void SetMuted(bool muted) { muted_ = muted; }

 private:
  std::vector<TMMObserver*> observers_;
  bool muted_ = false;
};

}  // namespace pmx
