#pragma once

#include <functional>

namespace pmx {

// Runs fn on the GUI thread and waits for it, like MainLoop::Synchronize, but an
// exception thrown by fn goes to the GUI thread's handler instead of ending the
// calling worker. False when the loop is closing and fn did not run.
bool SynchronizeFromWorker(const std::function<void()>& fn);

}  // namespace pmx
