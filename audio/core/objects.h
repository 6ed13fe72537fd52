#pragma once

#include "audio/core/component.h"
#include "audio/core/thread.h"

namespace pmx {

// Root of the library's non-visual components.
class TMMComponent : public TComponent {
 public:
  using TComponent::TComponent;
  // Sets or clears the designing state of this component and the ones it owns.
  virtual void SetDesignMode(bool value);

 protected:
  // Calls SetDesignMode only when the state differs.
  void CheckDesignMode(bool value);
};

class TMMNonVisualComponent : public TMMComponent {
 public:
  using TMMComponent::TMMComponent;
};

// Base of the library's threads.
class TMMThreadEx : public TThread {};

}  // namespace pmx
