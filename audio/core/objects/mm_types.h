#pragma once

namespace pmx {

// Sample width of a display's data.
enum class TMMBits { b8Bit, b16Bit };
// Channel layout: one channel, two, or more (the ordinal + 1 is the channel count
// up to three).
enum class TMMMode { mMono, mStereo, mMultiChannel };
// Which channel of a stereo stream a display follows.
enum class TMMChannel { chBoth, chLeft, chRight };
// How a display smooths its values over time.
enum class TMMDecayMode { dmNone, dmStepUp, dmExponential, dmUniform };
// Units of positions and lengths.
enum class TMMTimeFormats { tfMillisecond, tfByte, tfSample };
// Analysis window of the FFT displays; any value beyond the last behaves as
// fwRectangular.
enum class TMMFFTWindow : int {
  fwRectangular,
  fwHamming,
  fwHanning,
  fwBlackman,
  fwGaussian,
  fwWelch,
  fwParzen
};
// The kind of an audio file.
enum class TMMAudioFileType { ftNone, ftWave, ftMpeg, ftWMA, ftVorbis, ftCDA };

}  // namespace pmx
