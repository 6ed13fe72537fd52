#pragma once

#include <functional>
#include <string>
#include <utility>

#include "audio/core/objects/objects.h"

namespace pmx {

class TMMDSPComponent;

// The worker thread of a chain component (device capture and playback threads,
// the ring buffer's queue thread). Created idle; Start runs it. While it runs,
// the thread knows itself, so that SynchronizeDSPCall can tell a DSP thread from
// any other caller.
//
// Threads: the component pointer is set at creation and only read afterwards;
// the rest is TThread's.
class TMMDSPThread : public TMMThreadEx {
 public:
  TMMDSPThread(std::string name, TMMDSPComponent* component)
      : TMMThreadEx(std::move(name)), component_(component) {}

  // The component that created the thread.
  TMMDSPComponent* Component() const { return component_; }
  // The DSP thread the caller runs on, or none.
  static TMMDSPThread* Current();

 protected:
  // Descendants put their work in ExecuteDSP.
  void Execute() final;
  virtual void ExecuteDSP() = 0;

 private:
  TMMDSPComponent* const component_;
};

// Runs method on the GUI thread, the calling DSP thread waiting for it, when
// called on a TMMDSPThread; on any other thread it runs method at once. While the
// main loop is closing, a DSP thread's method is dropped so that the thread can end.
void SynchronizeDSPCall(const std::function<void()>& method);

}  // namespace pmx
