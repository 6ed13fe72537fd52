#pragma once

#include "audio/core/objects/component.h"
#include "audio/core/objects/thread.h"

namespace pmx {

// A persistent object that announces changes, batched between BeginUpdate and
// EndUpdate so that a batch ends with one OnChange. Single-threaded.
class TMMObject : public TObject {
 public:
  void BeginUpdate();
  void EndUpdate();
  // Fire their event only outside a batch.
  virtual void Changing();
  virtual void Changed();
  // True announces a change to come, False one made.
  virtual void Changed(bool changing) { changing ? Changing() : Changed(); }

  TNotifyEvent OnChanging;
  TNotifyEvent OnChange;

 private:
  int update_count_ = 0;
};

// Root of the library's non-visual components.
class TMMComponent : public TComponent {
 public:
  using TComponent::TComponent;
  // Sets or clears the designing state of this component and the ones it owns.
  virtual void SetDesignMode(bool value);
};

class TMMNonVisualComponent : public TMMComponent {
 public:
  using TMMComponent::TMMComponent;
};

// Base of the library's threads; their priority is TThread's (SetMMThreadPriority).
class TMMThreadEx : public TThread {
 public:
  using TThread::TThread;
};

}  // namespace pmx
