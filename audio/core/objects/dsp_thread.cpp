#include "audio/core/objects/dsp_thread.h"

#include "platform/main_loop.h"

namespace pmx {
namespace {

thread_local TMMDSPThread* current_dsp_thread = nullptr;

// Marks the running thread as a DSP thread for the scope of its work.
class CurrentScope {
 public:
  explicit CurrentScope(TMMDSPThread* thread) { current_dsp_thread = thread; }
  ~CurrentScope() { current_dsp_thread = nullptr; }
  CurrentScope(const CurrentScope&) = delete;
  CurrentScope& operator=(const CurrentScope&) = delete;
};

}  // namespace

TMMDSPThread* TMMDSPThread::Current() { return current_dsp_thread; }

void TMMDSPThread::Execute() {
  CurrentScope scope(this);
  ExecuteDSP();
}

void SynchronizeDSPCall(const std::function<void()>& method) {
  MainLoop& loop = MainLoop::Instance();
  if (TMMDSPThread::Current() && !loop.IsGuiThread()) {
    loop.Synchronize(method);
    return;
  }
  method();
}

}  // namespace pmx
