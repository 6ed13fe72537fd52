#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/codecs/acm.h"
#include "platform/wave_types.h"

// What a driver of the codec registry implements. Drivers are immutable after
// construction and shared by every thread; a codec belongs to its stream.

namespace pmx {

// One open conversion. The stream feeds it steps: a whole number of grains up to
// one unit, or at the end a tail shorter than a grain.
class AcmCodec {
 public:
  AcmCodec(uint32_t grain, uint32_t unit, uint32_t max_out)
      : grain_(grain), unit_(unit), max_out_(max_out) {}
  virtual ~AcmCodec() = default;
  AcmCodec(const AcmCodec&) = delete;
  AcmCodec& operator=(const AcmCodec&) = delete;

  uint32_t Grain() const { return grain_; }
  uint32_t Unit() const { return unit_; }
  // The most bytes one step (or the flush) writes.
  uint32_t MaxOut() const { return max_out_; }

  // Writes the step's output to out (MaxOut bytes of room); result bytes written.
  virtual uint32_t Step(std::span<const uint8_t> src, uint8_t* out) = 0;
  // At the end of the stream: what the codec still holds.
  virtual uint32_t Flush(uint8_t* /*out*/) { return 0; }
  // Forgets all state, as at the start of a stream.
  virtual void Reset() {}

 private:
  uint32_t grain_;
  uint32_t unit_;
  uint32_t max_out_;
};

// A codec between 16-bit PCM and fixed blocks of spb frames: one block per
// step. A tail shorter than a block is padded with silence when encoding.
class AcmBlockCodec : public AcmCodec {
 public:
  AcmBlockCodec(uint16_t channels, uint16_t spb, uint16_t block, bool encode);

  uint32_t Step(std::span<const uint8_t> src, uint8_t* out) override;

 protected:
  // frames: spb interleaved frames; writes block bytes.
  virtual void EncodeBlock(const int16_t* frames, uint8_t* out) = 0;
  // Result: frames written (at most spb).
  virtual uint32_t DecodeBlock(std::span<const uint8_t> block, int16_t* frames) = 0;

  uint16_t Channels() const { return channels_; }
  uint16_t SamplesPerBlock() const { return spb_; }
  uint16_t BlockBytes() const { return block_; }

 private:
  uint16_t channels_;
  uint16_t spb_;
  uint16_t block_;
  bool encode_;
  std::vector<int16_t> frames_;  // one block's samples, sized at construction
};

// The fields a suggestion keeps from the caller's destination.
struct AcmFixedFields {
  const WaveFormatEx& dst;
  uint32_t flags;
  bool Fixes(uint32_t flag) const { return (flags & flag) != 0; }
};

class AcmDriver {
 public:
  virtual ~AcmDriver() = default;

  virtual std::string ShortName() const = 0;
  virtual std::string LongName() const = 0;
  // ACMDRIVERDETAILS_SUPPORTF_CODEC or _CONVERTER.
  virtual uint32_t Support() const { return ACMDRIVERDETAILS_SUPPORTF_CODEC; }
  // The format tags the driver lists, in index order.
  virtual std::vector<uint16_t> Tags() const = 0;
  virtual std::vector<WaveFormatEx> StandardFormats(uint16_t tag) const = 0;
  // A format of one of its tags that it can read or write.
  virtual bool Valid(const WaveFormatEx& format) const = 0;
  // What the driver writes from src in the tag asked for (the fixed fields
  // matter only to drivers that can honour them); none when it cannot.
  virtual std::optional<WaveFormatEx> Natural(const WaveFormatEx& src, uint16_t tag,
                                              const AcmFixedFields& fixed) const = 0;
  // A codec for src -> dst; none when the driver cannot convert them.
  virtual std::unique_ptr<AcmCodec> Open(const WaveFormatEx& src, const WaveFormatEx& dst) const;

 protected:
  // Called by Open once dst is exactly what the driver writes from src.
  virtual std::unique_ptr<AcmCodec> MakeCodec(const WaveFormatEx& src,
                                              const WaveFormatEx& dst) const = 0;
};

// A codec between 16-bit PCM and one tag whose format follows from the rate and
// the channel count alone.
class AcmCodecDriver : public AcmDriver {
 public:
  AcmCodecDriver(uint16_t tag, std::vector<uint16_t> channels, std::vector<uint32_t> rates);

  std::vector<uint16_t> Tags() const override { return {tag_}; }
  std::vector<WaveFormatEx> StandardFormats(uint16_t tag) const override;
  bool Valid(const WaveFormatEx& format) const override;
  std::optional<WaveFormatEx> Natural(const WaveFormatEx& src, uint16_t tag,
                                      const AcmFixedFields& fixed) const override;

 protected:
  virtual WaveFormatEx CodedFormat(uint32_t rate, uint16_t channels) const = 0;
  // Whether the codec reads a format of its tag, channels and rate: by default
  // only what it writes itself.
  virtual bool Reads(const WaveFormatEx& format) const {
    return CodedFormat(format.nSamplesPerSec(), format.nChannels()) == format;
  }
  uint16_t Tag() const { return tag_; }
  bool Encodes(const WaveFormatEx& dst) const { return dst.wFormatTag() == tag_; }

 private:
  bool TakesChannels(uint16_t channels) const;

  uint16_t tag_;
  std::vector<uint16_t> channels_;
  std::vector<uint32_t> rates_;
};

// The drivers; each returns none when its library is missing.
std::unique_ptr<AcmDriver> MakeAcmPcmDriver();
std::unique_ptr<AcmDriver> MakeAcmG711Driver(uint16_t tag);
std::unique_ptr<AcmDriver> MakeAcmImaAdpcmDriver();
std::unique_ptr<AcmDriver> MakeAcmMsAdpcmDriver();
std::unique_ptr<AcmDriver> MakeAcmGsmDriver();
std::unique_ptr<AcmDriver> MakeAcmMp3DecodeDriver();
std::unique_ptr<AcmDriver> MakeAcmMp3EncodeDriver();

// The registry's drivers, in priority order; built on first use.
const std::vector<std::unique_ptr<AcmDriver>>& AcmDrivers();

// The structural checks every format passes before a driver sees it: channels,
// rate and block alignment non-zero and the announced extra bytes present.
bool AcmFormatSound(const WaveFormatEx& format);

// The services the core installed (empty functions before); the copy stays
// valid when they are installed again.
std::shared_ptr<const TAcmServices> AcmServices();

// The standard rates drivers offer.
inline constexpr uint32_t kAcmStandardRates[] = {8000, 11025, 22050, 44100};

// A 16-bit PCM record, the side every codec reads and writes.
WaveFormatEx AcmPcm16(const WaveFormatEx& like);

}  // namespace pmx
