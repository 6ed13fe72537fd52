#include "audio/core/objects/record_list.h"

#include <string>

namespace pmx {

void ListIndexError(int64_t value) {
  throw EListError("List index out of bounds (" + std::to_string(value) + ")");
}

}  // namespace pmx
