#pragma once

namespace pmx {

// Where a device or timer delivers its events: on the GUI thread, in the
// platform's callback, or on a thread of its own.
enum class TMMCBMode { cmWindow, cmCallback, cmThread };

}  // namespace pmx
