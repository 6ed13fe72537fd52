#pragma once

#include <functional>

namespace pmx {

// Runs fn on the GUI thread and waits for it, like MainLoop::Synchronize, but an
// exception thrown by fn goes to the GUI thread's handler instead of ending the
// calling worker.
void SynchronizeFromWorker(const std::function<void()>& fn);

}  // namespace pmx
