#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/core/dsp/adpcm.h"
#include "audio/core/dsp/dsp_component.h"
#include "audio/core/objects/mm_types.h"
#include "platform/exception.h"

namespace pmx {

class EMMADPCMError : public Exception {
 public:
  EMMADPCMError();
};

// A pull-road node that decodes Microsoft ADPCM and the step-index variants into
// PCM of BitLength bits; any other input passes through untouched, and so do
// pushed buffers.
//
// Threads: formats, properties and lifecycle on the GUI thread while the chain is
// stopped; BufferLoad, with the buffers and decoder state it uses, on the pulling
// device's thread. Buffers exist only while opened. The started flag is atomic:
// Stopped may clear it while the pull road runs.
class TMMADPCMConverter : public TMMDSPComponent {
 public:
  explicit TMMADPCMConverter(TComponent* owner = nullptr);
  ~TMMADPCMConverter() override;

  TMMBits BitLength() const { return bits_; }
  void SetBitLength(TMMBits value);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // True when no conversion is needed or the conversion is possible.
  bool IsConvertible() const { return !needed_ || possible_; }

  // The destination is always derived from the input.
  void SetPWaveFormat(PWaveFormatEx) override {}
  void InputFormatChanged(PWaveFormatEx f) override;
  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Reset() override;
  void BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) override;

 protected:
  void Loaded() override;
  virtual void CalcDestFormat();

 private:
  static constexpr uint32_t kInputBytes = 4096;

  void UpdateConversion();
  void Discard() { read_ = available_; }
  uint32_t Decode(uint32_t got);

  TMMBits bits_ = TMMBits::b16Bit;
  bool enabled_ = true;
  std::unique_ptr<WaveFormatEx> input_format_;
  std::unique_ptr<WaveFormatEx> dest_format_;
  bool opened_ = false;
  std::atomic<bool> started_{false};
  bool needed_ = false;
  bool possible_ = false;
  std::vector<uint8_t> in_;
  std::vector<int16_t> out_;  // decoded samples; read as PCM bytes
  uint32_t available_ = 0;
  uint32_t read_ = 0;
  TStepIndexState state_{};
  TMMPullState pull_;
};

}  // namespace pmx
