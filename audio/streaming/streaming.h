#pragma once

#include <mutex>

#include "platform/exception.h"

namespace pmx {

// The one error class of the streaming suite.
class EAuException : public Exception {
 public:
  using Exception::Exception;
};

// The suite's process-wide lock, taken by the library loaders.
std::recursive_mutex& AuGlobalLock();

}  // namespace pmx
