#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "audio/streaming/au_input.h"
#include "audio/streaming/vorbis_loaders.h"

namespace pmx::test {

// An interleaved sine of freq Hz at amplitude (full scale 1), as 16-bit samples.
inline std::vector<int16_t> Sine16(int64_t frames, int channels, int rate, double freq, double amplitude) {
  std::vector<int16_t> samples(static_cast<size_t>(frames * channels));
  for (int64_t i = 0; i < frames; ++i) {
    const double v = amplitude * std::sin(2 * std::numbers::pi * freq * static_cast<double>(i) / rate);
    for (int c = 0; c < channels; ++c) samples[static_cast<size_t>(i * channels + c)] = static_cast<int16_t>(std::lround(v * 32767));
  }
  return samples;
}

// A file input over PCM bytes in memory, in any format.
class PcmMemoryIn : public TAuFileIn {
 public:
  PcmMemoryIn(std::vector<uint8_t> data, int channels, int bits, int rate)
      : data_(std::move(data)), channels(channels), bits(bits), rate(rate) {
    SetFileName("memory");
  }
  template <class Sample>
  static std::vector<uint8_t> Bytes(const std::vector<Sample>& samples) {
    std::vector<uint8_t> bytes(samples.size() * sizeof(Sample));
    if (!bytes.empty()) std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
  }

 protected:
  void OpenSource() override {
    std::lock_guard lock(OpenLock);
    if (open_count_++ > 0) return;
    read_ = 0;
    channels_ = channels;
    bits_per_sample_ = bits;
    sample_rate_ = rate;
    size_ = static_cast<int64_t>(data_.size());
  }
  void CloseSource() override { open_count_ = 0; }
  void ReadData(const uint8_t*& buffer, uint32_t& bytes) override {
    bytes = static_cast<uint32_t>(std::min<size_t>({bytes, 5000, data_.size() - read_}));
    buffer = data_.data() + read_;
    read_ += bytes;
  }
  bool SeekToSample(int64_t&) override { return false; }

 private:
  std::vector<uint8_t> data_;
  size_t read_ = 0;
  int channels, bits, rate;
};

// What an Ogg Vorbis file decodes to.
struct DecodedOgg {
  bool ok = false;
  int channels = 0;
  long rate = 0;
  int64_t pcm_total = -1;
  std::vector<int16_t> samples;  // interleaved
  std::vector<std::string> comments;
};

inline DecodedOgg DecodeOgg(const std::filesystem::path& path) {
  DecodedOgg result;
  LoadVorbisFileLibrary();
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return result;
  OggVorbis_File vf;
  if (VorbisFileLib.ov_open_callbacks(file, &vf, nullptr, 0, OV_CALLBACKS_DEFAULT) != 0) {
    std::fclose(file);
    return result;
  }
  vorbis_info* info = VorbisFileLib.ov_info(&vf, -1);
  result.channels = info->channels;
  result.rate = info->rate;
  result.pcm_total = VorbisFileLib.ov_pcm_total(&vf, -1);
  vorbis_comment* comment = VorbisFileLib.ov_comment(&vf, -1);
  for (int i = 0; i < comment->comments; ++i) result.comments.emplace_back(comment->user_comments[i]);
  char buffer[8192];
  int section = 0;
  long got;
  while ((got = VorbisFileLib.ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &section)) > 0) {
    const size_t old = result.samples.size();
    result.samples.resize(old + static_cast<size_t>(got) / 2);
    std::memcpy(result.samples.data() + old, buffer, static_cast<size_t>(got));
  }
  result.ok = got == 0;
  VorbisFileLib.ov_clear(&vf);
  return result;
}

// Signal-to-noise ratio in dB of decoded against the original, sample by sample.
inline double SnrDb(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded) {
  double signal = 0, noise = 0;
  const size_t n = std::min(original.size(), decoded.size());
  for (size_t i = 0; i < n; ++i) {
    signal += double(original[i]) * original[i];
    const double d = double(original[i]) - decoded[i];
    noise += d * d;
  }
  return 10 * std::log10(signal / std::max(noise, 1.0));
}

}  // namespace pmx::test
