#include "audio/streaming/streaming.h"

namespace pmx {

std::recursive_mutex& AuGlobalLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace pmx
