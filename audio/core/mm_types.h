#pragma once

namespace pmx {

// Sample width of a PCM stream.
enum class TMMBits { b8Bit, b16Bit };
// Channel layout: one channel, two, or more.
enum class TMMMode { mMono, mStereo, mMultiChannel };
// Units of positions and lengths.
enum class TMMTimeFormats { tfMillisecond, tfByte, tfSample };

}  // namespace pmx
