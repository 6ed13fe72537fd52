#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>

#include "audio/core/objects/component.h"

namespace pmx {

// How objects of one class are read from and written to a stream.
struct TRegisterRec {
  std::string class_name;
  std::function<void(std::istream&, TObject&)> load;
  std::function<void(std::ostream&, const TObject&)> store;
};

// Registers the stream procedures of a class; a class registered before keeps its
// first record. Safe from any thread.
void RegisterClassIO(std::function<void(std::istream&, TObject&)> load,
                     std::function<void(std::ostream&, const TObject&)> store,
                     const std::string& class_name);
// The record of a class, none when it was never registered. Records live until
// the process ends.
const TRegisterRec* FindClassIO(const std::string& class_name);

}  // namespace pmx
