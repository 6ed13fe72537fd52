#include "platform/codecs/ms_adpcm.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "platform/byte_order.h"

namespace pmx {

const int16_t kMSADPCMCoefficient1[kMSADPCMCoefficients] = {256, 512, 0, 192, 240, 460, 392};
const int16_t kMSADPCMCoefficient2[kMSADPCMCoefficients] = {0, -256, 0, 64, 0, -208, -232};

namespace {

constexpr int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                 768, 614, 512, 409, 307, 230, 230, 230};
constexpr std::size_t kExtraSize = 4 + 4 * kMSADPCMCoefficients;

// The code that brings the channel nearest to sample.
int Choose(const MSADPCMChannel& p, int sample) {
  const int error = sample - p.Predict();
  const int rounded = error >= 0 ? (error + p.delta / 2) / p.delta : -((-error + p.delta / 2) / p.delta);
  return std::clamp(rounded, -8, 7);
}

// Encodes one channel's samples with one coefficient pair into codes, leaving
// the block header's state in start; returns the squared error so that the best
// pair can be kept.
double EncodeChannel(const int16_t* frames, uint16_t channels, int ch, uint16_t spb, int pair,
                     MSADPCMChannel& start, uint8_t* codes) {
  MSADPCMChannel p;
  p.c1 = kMSADPCMCoefficient1[pair];
  p.c2 = kMSADPCMCoefficient2[pair];
  p.s2 = frames[ch];
  p.s1 = spb > 1 ? frames[channels + ch] : 0;
  const int first_step = spb > 2 ? std::abs(frames[2 * channels + ch] - p.Predict()) : 0;
  p.delta = std::max(16, first_step / 4);
  start = p;
  double error = 0;
  for (uint16_t i = 2; i < spb; ++i) {
    const int sample = frames[i * channels + ch];
    const int code = Choose(p, sample);
    codes[i] = static_cast<uint8_t>(code & 15);
    const double diff = sample - p.Apply(code);
    error += diff * diff;
  }
  return error;
}

}  // namespace

void MSADPCMChannel::SetDelta(int header_delta) { delta = std::clamp(header_delta, kLeastDelta, kMostDelta); }

int MSADPCMChannel::Predict() const {
  return static_cast<int>((int64_t{s1} * c1 + int64_t{s2} * c2) >> 8);
}

int MSADPCMChannel::Apply(int code) {
  const int64_t sample = std::clamp<int64_t>(Predict() + int64_t{code} * delta, -32768, 32767);
  delta = static_cast<int>(std::clamp<int64_t>((int64_t{kAdaptation[code & 15]} * delta) >> 8, kLeastDelta, kMostDelta));
  s2 = s1;
  s1 = static_cast<int>(sample);
  return s1;
}

WaveFormatEx MSADPCMFormat(uint32_t rate, uint16_t channels) {
  auto block = static_cast<uint16_t>(256 * channels);
  if (rate > 11025) block = static_cast<uint16_t>(block * (rate / 11000));
  // The 16-bit block wraps to 0 for absurd rates or channel counts: no such format.
  if (block == 0 || channels == 0) return WaveFormatEx();
  const auto spb = static_cast<uint16_t>((block * 8 - channels * 56) / (channels * 4) + 2);
  const auto g = static_cast<uint16_t>(channels * 4 * rate / 8);
  const auto avg = static_cast<uint16_t>(g + 7 * channels * (g / block + 1));
  WaveFormatEx f;
  f.set_wFormatTag(WAVE_FORMAT_ADPCM);
  f.set_nChannels(channels);
  f.set_nSamplesPerSec(rate);
  f.set_nAvgBytesPerSec(avg);
  f.set_nBlockAlign(block);
  f.set_wBitsPerSample(4);
  uint8_t extra[kExtraSize];
  StoreLE16(extra, spb);
  StoreLE16(extra + 2, kMSADPCMCoefficients);
  for (int i = 0; i < kMSADPCMCoefficients; ++i) {
    StoreLE16(extra + 4 + 4 * i, kMSADPCMCoefficient1[i]);
    StoreLE16(extra + 6 + 4 * i, kMSADPCMCoefficient2[i]);
  }
  f.SetExtra(extra);
  return f;
}

bool IsStandardMSADPCM(const WaveFormatEx& f) {
  if (f.wFormatTag() != WAVE_FORMAT_ADPCM || f.wBitsPerSample() != 4 || f.nChannels() < 1 ||
      f.nChannels() > 4 || f.cbSize() < kExtraSize || !f.ExtraComplete()) {
    return false;
  }
  const uint8_t* e = f.Extra().data();
  if (LoadLES16(e + 2) != kMSADPCMCoefficients) return false;
  for (int i = 0; i < kMSADPCMCoefficients; ++i) {
    if (LoadLES16(e + 4 + 4 * i) != kMSADPCMCoefficient1[i] ||
        LoadLES16(e + 6 + 4 * i) != kMSADPCMCoefficient2[i]) {
      return false;
    }
  }
  return true;
}

uint16_t MSADPCMSamplesPerBlock(const WaveFormatEx& f) {
  const uint32_t channels = f.nChannels();
  if (f.wFormatTag() != WAVE_FORMAT_ADPCM || f.wBitsPerSample() != 4 || channels < 1 || channels > 4 ||
      f.cbSize() < 2 || f.Extra().size() < 2 || f.nBlockAlign() < 7 * channels) {
    return 0;
  }
  const uint16_t spb = LoadLE16(f.Extra().data());
  const uint32_t most = (f.nBlockAlign() - 7 * channels) * 2 / channels + 2;
  return spb >= 2 && spb <= most ? spb : 0;
}

uint32_t MSADPCMDecodeBlock(std::span<const uint8_t> block, uint16_t channels, uint16_t spb,
                            int16_t* out) {
  const std::size_t header = 7u * channels;
  if (block.size() < header || spb < 2 || channels == 0 || channels > 4) return 0;
  MSADPCMChannel p[4];
  for (int ch = 0; ch < channels; ++ch) {
    const uint8_t index = block[ch];
    if (index >= kMSADPCMCoefficients) return 0;
    p[ch].c1 = kMSADPCMCoefficient1[index];
    p[ch].c2 = kMSADPCMCoefficient2[index];
    p[ch].SetDelta(LoadLES16(&block[channels + 2 * ch]));
    p[ch].s1 = LoadLES16(&block[3 * channels + 2 * ch]);
    p[ch].s2 = LoadLES16(&block[5 * channels + 2 * ch]);
    out[ch] = static_cast<int16_t>(p[ch].s2);
    out[channels + ch] = static_cast<int16_t>(p[ch].s1);
  }
  std::size_t at = header;
  bool high = true;
  uint32_t frame = 2;
  for (; frame < spb; ++frame) {
    for (int ch = 0; ch < channels; ++ch) {
      if (at >= block.size()) return frame;
      const int nibble = high ? block[at] >> 4 : block[at] & 15;
      if (!high) ++at;
      high = !high;
      out[frame * channels + ch] = static_cast<int16_t>(p[ch].Apply(nibble >= 8 ? nibble - 16 : nibble));
    }
  }
  return frame;
}

void MSADPCMEncodeBlock(const int16_t* frames, uint16_t channels, uint16_t spb, uint8_t* out,
                        uint16_t block) {
  std::fill(out, out + block, 0);
  std::vector<uint8_t> codes(std::size_t{channels} * spb);
  std::size_t at = 7u * channels;
  for (int ch = 0; ch < channels; ++ch) {
    uint8_t* mine = codes.data() + static_cast<std::size_t>(ch) * spb;
    int best = 0;
    double best_error = std::numeric_limits<double>::max();
    MSADPCMChannel start;
    for (int pair = 0; pair < kMSADPCMCoefficients; ++pair) {
      const double error = EncodeChannel(frames, channels, ch, spb, pair, start, mine);
      if (error < best_error) best = pair, best_error = error;
    }
    EncodeChannel(frames, channels, ch, spb, best, start, mine);
    out[ch] = static_cast<uint8_t>(best);
    StoreLE16(out + channels + 2 * ch, start.delta);
    StoreLE16(out + 3 * channels + 2 * ch, start.s1);
    StoreLE16(out + 5 * channels + 2 * ch, start.s2);
  }
  bool high = true;
  for (uint16_t frame = 2; frame < spb; ++frame) {
    for (int ch = 0; ch < channels && at < block; ++ch) {
      const uint8_t code = codes[static_cast<std::size_t>(ch) * spb + frame];
      out[at] |= high ? code << 4 : code;
      if (!high) ++at;
      high = !high;
    }
  }
}

}  // namespace pmx
