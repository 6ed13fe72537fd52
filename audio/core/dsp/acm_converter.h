#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>

#include "audio/core/dsp/acm_support.h"
#include "audio/core/dsp/dsp_component.h"
#include "audio/core/objects/mm_types.h"
#include "platform/exception.h"

namespace pmx {

class EMMConverterError : public Exception {
 public:
  using Exception::Exception;
};

// A chain node converting the arriving format into the one set on it through an
// ACM conversion object, on the push road and on the pull road alike. Equal
// formats pass through untouched.
//
// Threads: formats, properties and lifecycle on the GUI thread while the chain is
// stopped; BufferReady or BufferLoad, with the conversion object they use, on the
// driving device's thread. The started flag is atomic: Stopped may clear it while
// a road runs.
class TMMACMConverter : public TMMDSPComponent {
 public:
  explicit TMMACMConverter(TComponent* owner = nullptr);
  ~TMMACMConverter() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TMMConvertQuality Quality() const { return quality_; }
  void SetQuality(TMMConvertQuality value) { quality_ = value; }

  void SetPWaveFormat(PWaveFormatEx f) override;
  void InputFormatChanged(PWaveFormatEx f) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Reset() override;
  void BufferReady(WAVEHDR* lpWaveHdr) override;
  void BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) override;

 protected:
  void Loaded() override;
  virtual void CalcDestFormat();
  void UpdateConversion();
  // CalcDestFormat, then the destination in force (or the input) as the format.
  void UpdateDestFormat();
  PWaveFormatEx InputCopy() const { return input_format_.get(); }
  std::unique_ptr<WaveFormatEx> dest_format_;

 private:
  static constexpr uint32_t kStep = 8192;

  bool Converting() const;
  [[noreturn]] void Fail();
  int64_t Convert(uint32_t n, bool end);
  void PushOutput();

  bool enabled_ = true;
  TMMConvertQuality quality_ = cqLow;
  std::unique_ptr<WaveFormatEx> input_format_;
  std::unique_ptr<WaveFormatEx> requested_;
  bool opened_ = false;
  std::atomic<bool> started_{false};
  bool needed_ = false;
  bool possible_ = false;
  PACMConvert convert_;
  WAVEHDR header_{};  // the push road's
  TMMPullState pull_;
};

enum TMMRequiredParam { rpBits, rpChannels, rpSampleRate };
using TMMRequiredParams = std::set<TMMRequiredParam>;

// Converts to PCM: the format suggested for the input, or one built from
// BitLength, Mode and SampleRate.
class TMMPCMConverter : public TMMACMConverter {
 public:
  explicit TMMPCMConverter(TComponent* owner = nullptr) : TMMACMConverter(owner) {}

  bool AutoConvert() const { return auto_convert_; }
  void SetAutoConvert(bool value);
  int32_t SampleRate() const { return rate_; }
  // Limited to 8000..88200.
  void SetSampleRate(int32_t value);
  TMMBits BitLength() const { return bits_; }
  void SetBitLength(TMMBits value);
  TMMMode Mode() const { return mode_; }
  // Mono and stereo only; other modes are ignored.
  void SetMode(TMMMode value);
  const TMMRequiredParams& Required() const { return required_; }
  void SetRequired(const TMMRequiredParams& value);

  // Raises EMMConverterError for a format that is not valid PCM.
  void SetPWaveFormat(PWaveFormatEx f) override;

 protected:
  void CalcDestFormat() override;

 private:
  bool auto_convert_ = true;
  int32_t rate_ = 11025;
  TMMBits bits_ = TMMBits::b8Bit;
  TMMMode mode_ = TMMMode::mMono;
  TMMRequiredParams required_{rpBits, rpChannels, rpSampleRate};
};

}  // namespace pmx
