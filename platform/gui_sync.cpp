#include "platform/gui_sync.h"

#include <exception>

#include "platform/main_loop.h"

namespace pmx {

bool SynchronizeFromWorker(const std::function<void()>& fn) {
  MainLoop& loop = MainLoop::Instance();
  try {
    return loop.Synchronize(fn);
  } catch (...) {
    loop.Post([error = std::current_exception()] { std::rethrow_exception(error); });
    return true;
  }
}

}  // namespace pmx
