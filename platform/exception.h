#pragma once

#include <stdexcept>
#include <string>

namespace pmx {

// Root of every error the system raises; each subsystem derives its own classes.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace pmx
