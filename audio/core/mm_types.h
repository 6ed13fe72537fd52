#pragma once

namespace pmx {

// The unit positions and lengths are given in.
enum class TMMTimeFormats { tfMillisecond, tfByte, tfSample };

// Channel layout as a mode.
enum class TMMMode { mMono, mStereo, mMultiChannel };

// The kind of an audio file.
enum class TMMAudioFileType { ftNone, ftWave, ftMpeg, ftWMA, ftVorbis, ftCDA };

}  // namespace pmx
