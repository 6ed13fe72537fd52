#include <lame/lame.h>

#include <algorithm>
#include <iterator>

#include "platform/acm_driver.h"
#include "platform/byte_order.h"
#include "platform/mpg123_library.h"
#include "platform/shared_library.h"

namespace pmx {
namespace {

constexpr uint16_t kMp3Flags = 2;  // no padding
constexpr uint16_t kMp3CodecDelay = 1393;

bool Mpeg1(uint32_t rate) { return rate >= 32000; }

// The bit rates (kbit/s) layer 3 allows for a rate's MPEG version.
std::vector<uint32_t> AllowedKbps(uint32_t rate) {
  if (Mpeg1(rate)) return {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  return {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
}

// The ones the format list offers; the middle one is the default.
std::vector<uint32_t> OfferedKbps(uint32_t rate) {
  if (rate >= 44100) return {64, 128, 192};
  if (rate >= 22050) return {16, 32, 56};
  return {8, 16, 24};
}

bool RateAllowed(uint32_t rate) {
  constexpr uint32_t kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
  return std::find(std::begin(kRates), std::end(kRates), rate) != std::end(kRates);
}

WaveFormatEx Mp3Format(uint32_t rate, uint16_t channels, uint32_t kbps) {
  WaveFormatEx f;
  f.set_wFormatTag(WAVE_FORMAT_MPEGLAYER3);
  f.set_nChannels(channels);
  f.set_nSamplesPerSec(rate);
  f.set_nAvgBytesPerSec(kbps * 125);
  f.set_nBlockAlign(1);
  const auto block = static_cast<uint16_t>((Mpeg1(rate) ? 144000 : 72000) * kbps / rate);
  const uint16_t fields[] = {1, kMp3Flags, 0, block, 1, kMp3CodecDelay};
  uint8_t extra[12];
  for (int i = 0; i < 6; ++i) {
    extra[2 * i] = static_cast<uint8_t>(fields[i]);
    extra[2 * i + 1] = static_cast<uint8_t>(fields[i] >> 8);
  }
  f.SetExtra(extra);
  return f;
}

uint32_t Kbps(const WaveFormatEx& f) { return f.nAvgBytesPerSec() / 125; }

bool KbpsAllowed(const WaveFormatEx& f) {
  const std::vector<uint32_t> allowed = AllowedKbps(f.nSamplesPerSec());
  return f.nAvgBytesPerSec() % 125 == 0 &&
         std::find(allowed.begin(), allowed.end(), Kbps(f)) != allowed.end();
}

// Files written elsewhere differ in the flags, block size and codec delay; the
// decoder needs none of them.
bool Mp3Valid(const WaveFormatEx& f) {
  return f.wFormatTag() == WAVE_FORMAT_MPEGLAYER3 && (f.nChannels() == 1 || f.nChannels() == 2) &&
         RateAllowed(f.nSamplesPerSec()) && f.cbSize() >= 12 && f.ExtraComplete() &&
         f.Extra()[0] == 1 && f.Extra()[1] == 0;
}

// What the encoder writes: exactly our record at an allowed bit rate.
bool Mp3Writable(const WaveFormatEx& f) {
  return Mp3Valid(f) && KbpsAllowed(f) &&
         f == Mp3Format(f.nSamplesPerSec(), f.nChannels(), Kbps(f));
}

// One direction of layer 3: decoders read it, encoders write it.
class Mp3Driver : public AcmDriver {
 public:
  explicit Mp3Driver(bool encoder) : encoder_(encoder) {}

  std::vector<uint16_t> Tags() const override { return {WAVE_FORMAT_MPEGLAYER3}; }
  std::vector<WaveFormatEx> StandardFormats(uint16_t tag) const override {
    std::vector<WaveFormatEx> formats;
    if (tag != WAVE_FORMAT_MPEGLAYER3) return formats;
    for (uint32_t rate : kAcmStandardRates) {
      for (uint16_t ch : {1, 2}) {
        for (uint32_t kbps : OfferedKbps(rate)) formats.push_back(Mp3Format(rate, ch, kbps));
      }
    }
    return formats;
  }
  bool Valid(const WaveFormatEx& f) const override {
    return encoder_ ? Mp3Writable(f) : Mp3Valid(f);
  }

  std::optional<WaveFormatEx> Natural(const WaveFormatEx& src, uint16_t tag,
                                      const AcmFixedFields&) const override {
    const bool pcm_in = src == AcmPcm16(src) && src.nChannels() <= 2 &&
                        RateAllowed(src.nSamplesPerSec());
    if (encoder_ && tag == WAVE_FORMAT_MPEGLAYER3 && pcm_in) {
      return Mp3Format(src.nSamplesPerSec(), src.nChannels(), OfferedKbps(src.nSamplesPerSec())[1]);
    }
    if (!encoder_ && tag == WAVE_FORMAT_PCM && Mp3Valid(src)) return AcmPcm16(src);
    return {};
  }

  // Any allowed bit rate, not only the suggested one.
  std::unique_ptr<AcmCodec> Open(const WaveFormatEx& src,
                                 const WaveFormatEx& dst) const override {
    const WaveFormatEx& pcm = encoder_ ? src : dst;
    const WaveFormatEx& coded = encoder_ ? dst : src;
    if (!Valid(coded) || !(pcm == AcmPcm16(coded))) return nullptr;
    return MakeCodec(src, dst);
  }

 protected:
  bool Encoder() const { return encoder_; }

 private:
  bool encoder_;
};

constexpr uint32_t kMp3FrameSamples = 1152;

// Feeds the stream's bytes in and takes out what fits; what does not fit stays
// in the decoder and comes out with later steps or the flush.
class Mpg123Codec : public AcmCodec {
 public:
  Mpg123Codec(std::shared_ptr<const Mpg123Library> lib, const WaveFormatEx& coded)
      : AcmCodec(1, 512, 8 * kMp3FrameSamples * coded.nChannels() * 2),
        lib_(std::move(lib)),
        rate_(coded.nSamplesPerSec()),
        channels_(coded.nChannels()) {
    Reset();
  }
  ~Mpg123Codec() override { Close(); }

  uint32_t Step(std::span<const uint8_t> src, uint8_t* out) override {
    return Decode(src.data(), src.size(), out);
  }
  uint32_t Flush(uint8_t* out) override { return Decode(nullptr, 0, out); }

  void Reset() override {
    Close();
    handle_ = lib_->mpg123_new(nullptr, nullptr);
    if (!handle_) return;
    lib_->mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    lib_->mpg123_format_none(handle_);
    lib_->mpg123_format(handle_, static_cast<long>(rate_), channels_ == 1 ? MPG123_MONO : MPG123_STEREO,
                 MPG123_ENC_SIGNED_16);
    if (lib_->mpg123_open_feed(handle_) != MPG123_OK) Close();
  }

 private:
  void Close() {
    if (handle_) lib_->mpg123_delete(handle_);
    handle_ = nullptr;
  }

  uint32_t Decode(const uint8_t* in, std::size_t size, uint8_t* out) {
    if (!handle_) return 0;
    std::size_t total = 0;
    for (;;) {
      std::size_t done = 0;
      const int result = lib_->mpg123_decode(handle_, in, size, out + total, MaxOut() - total, &done);
      in = nullptr;
      size = 0;
      total += done;
      const bool more = result == MPG123_NEW_FORMAT || (result == MPG123_OK && done > 0);
      if (!more || total == MaxOut()) break;
    }
    return static_cast<uint32_t>(total);
  }

  std::shared_ptr<const Mpg123Library> lib_;
  uint32_t rate_;
  uint16_t channels_;
  mpg123_handle* handle_ = nullptr;
};

// libmp3lame's entry points, bound at run time.
struct LameLibrary {
  SharedLibrary library{"libmp3lame.so.0"};
  decltype(&lame_init) init = library.Bind<decltype(lame_init)>("lame_init");
  decltype(&lame_set_num_channels) set_channels =
      library.Bind<decltype(lame_set_num_channels)>("lame_set_num_channels");
  decltype(&lame_set_in_samplerate) set_in_rate =
      library.Bind<decltype(lame_set_in_samplerate)>("lame_set_in_samplerate");
  decltype(&lame_set_out_samplerate) set_out_rate =
      library.Bind<decltype(lame_set_out_samplerate)>("lame_set_out_samplerate");
  decltype(&lame_set_brate) set_brate = library.Bind<decltype(lame_set_brate)>("lame_set_brate");
  decltype(&lame_set_mode) set_mode = library.Bind<decltype(lame_set_mode)>("lame_set_mode");
  decltype(&lame_set_bWriteVbrTag) set_vbr_tag =
      library.Bind<decltype(lame_set_bWriteVbrTag)>("lame_set_bWriteVbrTag");
  decltype(&lame_init_params) init_params = library.Bind<decltype(lame_init_params)>("lame_init_params");
  decltype(&lame_encode_buffer) encode = library.Bind<decltype(lame_encode_buffer)>("lame_encode_buffer");
  decltype(&lame_encode_buffer_interleaved) encode_interleaved =
      library.Bind<decltype(lame_encode_buffer_interleaved)>("lame_encode_buffer_interleaved");
  decltype(&lame_encode_flush) flush = library.Bind<decltype(lame_encode_flush)>("lame_encode_flush");
  decltype(&lame_close) close = library.Bind<decltype(lame_close)>("lame_close");

  bool Complete() const {
    return init && set_channels && set_in_rate && set_out_rate && set_brate && set_mode &&
           set_vbr_tag && init_params && encode && encode_interleaved && flush && close;
  }
};

// lame's bound for one call's output: 1.25 x samples + 7200 bytes.
constexpr uint32_t kLameMaxOut = kMp3FrameSamples * 5 / 4 + 7200;

class LameCodec : public AcmCodec {
 public:
  LameCodec(std::shared_ptr<const LameLibrary> lib, const WaveFormatEx& coded)
      : AcmCodec(coded.nChannels() * 2u, kMp3FrameSamples * coded.nChannels() * 2u, kLameMaxOut),
        lib_(std::move(lib)),
        coded_(coded),
        samples_(kMp3FrameSamples * coded.nChannels()) {
    Reset();
  }
  ~LameCodec() override { Close(); }

  uint32_t Step(std::span<const uint8_t> src, uint8_t* out) override {
    const uint16_t channels = coded_.nChannels();
    const int frames = static_cast<int>(src.size() / (2u * channels));
    if (!gf_ || frames == 0) return 0;
    for (std::size_t i = 0; i < std::size_t(frames) * channels; ++i) {
      samples_[i] = LoadLES16(&src[2 * i]);
    }
    const int n = channels == 2
                      ? lib_->encode_interleaved(gf_, samples_.data(), frames, out, MaxOut())
                      : lib_->encode(gf_, samples_.data(), samples_.data(), frames, out, MaxOut());
    return n > 0 ? static_cast<uint32_t>(n) : 0;
  }

  uint32_t Flush(uint8_t* out) override {
    if (!gf_ || flushed_) return 0;
    flushed_ = true;
    const int n = lib_->flush(gf_, out, static_cast<int>(MaxOut()));
    return n > 0 ? static_cast<uint32_t>(n) : 0;
  }

  void Reset() override {
    Close();
    flushed_ = false;
    gf_ = lib_->init();
    if (!gf_) return;
    const auto rate = static_cast<int>(coded_.nSamplesPerSec());
    lib_->set_channels(gf_, coded_.nChannels());
    lib_->set_in_rate(gf_, rate);
    lib_->set_out_rate(gf_, rate);
    lib_->set_brate(gf_, static_cast<int>(Kbps(coded_)));
    lib_->set_mode(gf_, coded_.nChannels() == 1 ? MONO : JOINT_STEREO);
    lib_->set_vbr_tag(gf_, 0);
    if (lib_->init_params(gf_) < 0) Close();
  }

 private:
  void Close() {
    if (gf_) lib_->close(gf_);
    gf_ = nullptr;
  }

  std::shared_ptr<const LameLibrary> lib_;
  WaveFormatEx coded_;
  std::vector<int16_t> samples_;
  lame_global_flags* gf_ = nullptr;
  bool flushed_ = false;
};

// A direction of layer 3 over the library that serves it.
template <typename Library, typename Codec>
class Mp3LibraryDriver : public Mp3Driver {
 public:
  Mp3LibraryDriver(std::shared_ptr<const Library> lib, bool encoder, std::string short_name,
                   std::string long_name)
      : Mp3Driver(encoder),
        lib_(std::move(lib)),
        short_name_(std::move(short_name)),
        long_name_(std::move(long_name)) {}
  std::string ShortName() const override { return short_name_; }
  std::string LongName() const override { return long_name_; }

 protected:
  std::unique_ptr<AcmCodec> MakeCodec(const WaveFormatEx& src,
                                      const WaveFormatEx& dst) const override {
    return std::make_unique<Codec>(lib_, Encoder() ? dst : src);
  }

 private:
  std::shared_ptr<const Library> lib_;
  std::string short_name_;
  std::string long_name_;
};

template <typename Library, typename Codec>
std::unique_ptr<AcmDriver> MakeMp3Driver(std::shared_ptr<const Library> lib, bool encoder,
                                         const char* short_name, const char* long_name) {
  if (!lib->Complete()) return nullptr;
  return std::make_unique<Mp3LibraryDriver<Library, Codec>>(std::move(lib), encoder, short_name,
                                                            long_name);
}

}  // namespace

std::unique_ptr<AcmDriver> MakeAcmMp3DecodeDriver() {
  // The process's binding, which lives as long as the process: nothing to free.
  std::shared_ptr<const Mpg123Library> lib(&Mpg123(), [](const Mpg123Library*) {});
  return MakeMp3Driver<Mpg123Library, Mpg123Codec>(std::move(lib), false, "MPEG Layer-3 decoder",
                                                   "MPEG layer 3 decoder (libmpg123)");
}

std::unique_ptr<AcmDriver> MakeAcmMp3EncodeDriver() {
  return MakeMp3Driver<LameLibrary, LameCodec>(std::make_shared<const LameLibrary>(), true, "MPEG Layer-3 encoder",
                                               "MPEG layer 3 encoder (libmp3lame)");
}

}  // namespace pmx
