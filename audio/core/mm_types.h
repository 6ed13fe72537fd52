#pragma once

namespace pmx {

// Sample width of a display's data.
enum class TMMBits { b8Bit, b16Bit };
// Channel layout of a display's data; the ordinal + 1 is the channel count.
enum class TMMMode { mMono, mStereo, mQuadro };
// Which channel of a stereo stream a display follows.
enum class TMMChannel { chBoth, chLeft, chRight };
// How a display smooths its values over time.
enum class TMMDecayMode { dmNone, dmStepUp, dmExponential, dmUniform };

}  // namespace pmx
