#pragma once

#include <cstdint>
#include <vector>

#include "platform/codecs/acm.h"
#include "platform/wave_types.h"

namespace pmx {

// Encodes the PCM a capture device records into a codec format through the codec
// registry, so a device that only records PCM can serve a codec format. Owned and
// used by one capture device under its lock.
class WaveInEncoder {
 public:
  // The PCM format the device records for codec, or false when the registry
  // cannot encode codec from any PCM format.
  static bool CaptureFormat(const WaveFormatEx& codec, WaveFormatEx& pcm);

  WaveInEncoder(const WaveFormatEx& pcm, const WaveFormatEx& codec);
  ~WaveInEncoder();
  WaveInEncoder(const WaveInEncoder&) = delete;
  WaveInEncoder& operator=(const WaveInEncoder&) = delete;

  const WaveFormatEx& Codec() const { return codec_; }
  // Appends the whole codec blocks that bytes of PCM complete to out; the rest
  // waits for more PCM or for Finish.
  void Encode(const uint8_t* bytes, std::size_t count, std::vector<uint8_t>& out);
  // Encodes what is pending, the partial block padded, and starts afresh.
  void Finish(std::vector<uint8_t>& out);
  // Forgets the pending PCM.
  void Reset();

 private:
  void Convert(uint32_t flags, std::vector<uint8_t>& out);

  const WaveFormatEx codec_;
  HACMSTREAM stream_ = nullptr;
  std::vector<uint8_t> pending_;  // PCM not yet encoded
  std::vector<uint8_t> output_;   // the conversion's destination
  bool started_ = false;
};

}  // namespace pmx
