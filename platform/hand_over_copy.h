#pragma once

#include <cstddef>

namespace pmx {

// Copies size bytes into a buffer that another thread reads next and the caller
// does not touch again, such as a capture buffer or a ring slot being handed on.
// A large copy bypasses the caller's cache with streaming stores: an ordinary
// store would first fetch each line of the destination, and take it away from
// the core that read the buffer last time round, which costs far more than the
// copy itself. The reader fetches the lines from memory either way.
void HandOverCopy(void* to, const void* from, std::size_t size);

}  // namespace pmx
