#include "platform/gui_sync.h"

#include <exception>

#include "platform/main_loop.h"

namespace pmx {

void SynchronizeFromWorker(const std::function<void()>& fn) {
  MainLoop& loop = MainLoop::Instance();
  try {
    loop.Synchronize(fn);
  } catch (...) {
    loop.Post([error = std::current_exception()] { std::rethrow_exception(error); });
  }
}

}  // namespace pmx
