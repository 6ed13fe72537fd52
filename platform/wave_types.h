#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/byte_order.h"

namespace pmx {

// Format tags of the wave-format record.
constexpr uint16_t WAVE_FORMAT_UNKNOWN = 0x0000;
constexpr uint16_t WAVE_FORMAT_PCM = 0x0001;
constexpr uint16_t WAVE_FORMAT_ADPCM = 0x0002;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 0x0003;
constexpr uint16_t WAVE_FORMAT_ALAW = 0x0006;
constexpr uint16_t WAVE_FORMAT_MULAW = 0x0007;
constexpr uint16_t WAVE_FORMAT_IMA_ADPCM = 0x0011;
constexpr uint16_t WAVE_FORMAT_GSM610 = 0x0031;
constexpr uint16_t WAVE_FORMAT_MPEG = 0x0050;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;
constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// The WAVEFORMATEX record as the bytes it is on disk and between components:
// 18 little-endian header bytes followed by cbSize extra bytes. Accessors read and
// write the header fields; the byte vector always holds at least the header.
// A value type: copies are independent. Not shared between threads.
class WaveFormatEx {
 public:
  static constexpr std::size_t kHeaderSize = 18;

  WaveFormatEx() : bytes_(kHeaderSize, 0) {}
  // Takes a record from raw bytes: shorter input is zero-padded to the header;
  // bytes beyond the header are kept as the extra bytes (cbSize is not changed).
  static WaveFormatEx FromBytes(std::span<const uint8_t> bytes);
  // A PCM record with the derived fields filled in.
  static WaveFormatEx Pcm(uint32_t samples_per_sec, uint16_t bits, uint16_t channels);

  uint16_t wFormatTag() const { return Get16(0); }
  uint16_t nChannels() const { return Get16(2); }
  uint32_t nSamplesPerSec() const { return Get32(4); }
  uint32_t nAvgBytesPerSec() const { return Get32(8); }
  uint16_t nBlockAlign() const { return Get16(12); }
  uint16_t wBitsPerSample() const { return Get16(14); }
  uint16_t cbSize() const { return Get16(16); }

  void set_wFormatTag(uint16_t v) { Set16(0, v); }
  void set_nChannels(uint16_t v) { Set16(2, v); }
  void set_nSamplesPerSec(uint32_t v) { Set32(4, v); }
  void set_nAvgBytesPerSec(uint32_t v) { Set32(8, v); }
  void set_nBlockAlign(uint16_t v) { Set16(12, v); }
  void set_wBitsPerSample(uint16_t v) { Set16(14, v); }
  // Only the field; the extra bytes are set with SetExtra.
  void set_cbSize(uint16_t v) { Set16(16, v); }

  // The extra bytes present after the header (may differ from cbSize for a record
  // taken from untrusted bytes).
  // True when the extra bytes that cbSize announces are all present.
  bool ExtraComplete() const { return cbSize() <= bytes_.size() - kHeaderSize; }
  std::span<const uint8_t> Extra() const {
    return std::span<const uint8_t>(bytes_).subspan(kHeaderSize);
  }
  std::span<uint8_t> MutableExtra() { return std::span<uint8_t>(bytes_).subspan(kHeaderSize); }
  // Replaces the extra bytes and sets cbSize to their count.
  void SetExtra(std::span<const uint8_t> extra);

  // All bytes held: header plus extra bytes.
  std::span<const uint8_t> Bytes() const { return bytes_; }
  const uint8_t* data() const { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }

  bool operator==(const WaveFormatEx& other) const = default;

 private:
  uint16_t Get16(std::size_t at) const { return LoadLE16(&bytes_[at]); }
  uint32_t Get32(std::size_t at) const { return LoadLE32(&bytes_[at]); }
  void Set16(std::size_t at, uint16_t v) { StoreLE16(&bytes_[at], v); }
  void Set32(std::size_t at, uint32_t v) { StoreLE32(&bytes_[at], v); }

  std::vector<uint8_t> bytes_;
};

using PWaveFormatEx = const WaveFormatEx*;

// The platform's wave buffer header. Flags: done 1, prepared 2.
constexpr uint32_t WHDR_DONE = 0x00000001;
constexpr uint32_t WHDR_PREPARED = 0x00000002;
constexpr uint32_t WHDR_BEGINLOOP = 0x00000004;
constexpr uint32_t WHDR_ENDLOOP = 0x00000008;
constexpr uint32_t WHDR_INQUEUE = 0x00000010;

// The platform part first, then the fields the chain's components keep with each
// buffer: the byte count a playing device saves across its driver call, the buffer
// sounding while this one is passed on, and the loop state a looping source and the
// playing device hand along. The devices ignore the chain's fields.
struct WAVEHDR {
  char* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  uint32_t dwFlags = 0;
  uint32_t dwLoops = 0;
  WAVEHDR* lpNext = nullptr;
  uintptr_t reserved = 0;

  uint32_t SavedBytes = 0;
  WAVEHDR* LinkedHeader = nullptr;
  bool LoopFlag = false;
  uint32_t LoopCount = 0;
  int32_t LoopsRemaining = 0;
  bool LoopRestart = false;  // the source wrapped to its start in this buffer
};

}  // namespace pmx
