#pragma once

namespace pmx {

// The first call of every thread of ours: gives it its name (as top, ps and
// debuggers show it; at most 15 characters are kept) and a clean vector unit.
void BeginThread(const char* name);

}  // namespace pmx
