#pragma once

#include "platform/media/media_reader.h"

namespace pmx {

// True when the source, from its current position, starts with an ASF header that
// carries a content-encryption object (plain or extended). Looks at no more than
// the header's top-level object list, bounded in count and size; the source is
// back at its position afterwards.
bool AsfHeaderIsProtected(MediaByteSource& source);

}  // namespace pmx
