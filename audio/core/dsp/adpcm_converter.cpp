#include "audio/core/dsp/adpcm_converter.h"

#include <algorithm>
#include <new>

#include "audio/core/dsp/pcm_support.h"
#include "audio/core/dsp/wave_format.h"
#include "platform/codecs/ms_adpcm.h"

namespace pmx {

EMMADPCMError::EMMADPCMError() : Exception("Unable to convert to destination format") {}

TMMADPCMConverter::TMMADPCMConverter(TComponent* owner) : TMMDSPComponent(owner) {
  PublishLinks(true, true);
}

TMMADPCMConverter::~TMMADPCMConverter() { Closed(); }

void TMMADPCMConverter::SetBitLength(TMMBits value) {
  if (value == bits_) return;
  bits_ = value;
  UpdateConversion();
}

void TMMADPCMConverter::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdateConversion();
}

void TMMADPCMConverter::InputFormatChanged(PWaveFormatEx f) {
  if (f != input_format_.get()) input_format_ = wfCopyFormat(f);
  UpdateConversion();
}

void TMMADPCMConverter::Loaded() {
  TMMDSPComponent::Loaded();
  UpdateConversion();
}

void TMMADPCMConverter::CalcDestFormat() {
  dest_format_.reset();
  if (!input_format_ || !enabled_) return;
  const WaveFormatEx& in = *input_format_;
  const int bits = bits_ == TMMBits::b8Bit ? 8 : 16;
  auto dest = std::make_unique<WaveFormatEx>();
  if (in.wFormatTag() == WAVE_FORMAT_ADPCM) {
    if (!IsStandardMSADPCM(in) || MSADPCMSamplesPerBlock(in) < 2) return;
    if (!ADPCMConvertFormat(in, *dest, bits, 0, 0)) return;
  } else if (IsStepIndexADPCM(in)) {
    FillPCMFormat(*dest, static_cast<uint16_t>(bits), in.nChannels(), in.nSamplesPerSec());
  } else {
    return;
  }
  dest_format_ = std::move(dest);
}

void TMMADPCMConverter::UpdateConversion() {
  needed_ = input_format_ && enabled_ && input_format_->wFormatTag() != WAVE_FORMAT_PCM;
  possible_ = false;
  if (needed_) {
    CalcDestFormat();
    possible_ = dest_format_ && dest_format_->wFormatTag() == WAVE_FORMAT_PCM;
  }
  TMMDSPComponent::SetPWaveFormat(possible_ ? dest_format_.get() : input_format_.get());
}

void TMMADPCMConverter::Opened() {
  if (!opened_ && enabled_) {
    if (needed_ && possible_) {
      try {
        // Microsoft ADPCM is pulled in whole blocks, of whatever size: a block cut
        // at the end of a piece could not be decoded.
        const bool ms = input_format_->wFormatTag() == WAVE_FORMAT_ADPCM;
        const uint32_t block = input_format_->nBlockAlign();
        in_.assign(ms ? std::max<uint32_t>(kInputBytes / block, 1) * block : kInputBytes, 0);
        // Room for 16-bit samples of every block begun, even a partial last one.
        const auto bytes = static_cast<uint32_t>(in_.size());
        out_.assign((ms ? MSADPCMDecodeSize(*input_format_, bytes) : 4 * bytes) / 2, 0);
      } catch (const std::bad_alloc&) {
        possible_ = false;
      }
    }
    if (needed_ && !possible_) throw EMMADPCMError();
    opened_ = true;
  }
  TMMDSPComponent::Opened();
}

void TMMADPCMConverter::Closed() {
  if (opened_) {
    Stopped();
    opened_ = false;
    in_ = {};
    out_ = {};
  }
  TMMDSPComponent::Closed();
}

void TMMADPCMConverter::Started() {
  TMMDSPComponent::Started();
  if (!opened_ || started_) return;
  started_ = true;
  pull_ = {};
  available_ = read_ = 0;
  state_ = {};
}

void TMMADPCMConverter::Stopped() {
  if (started_.exchange(false)) Discard();
  TMMDSPComponent::Stopped();
}

void TMMADPCMConverter::Reset() {
  TMMDSPComponent::Reset();
  Discard();
  state_ = {};
}

uint32_t TMMADPCMConverter::Decode(uint32_t got) {
  const std::span<const uint8_t> source(in_.data(), got);
  if (input_format_->wFormatTag() == WAVE_FORMAT_ADPCM) {
    return MSADPCMDecode(*input_format_, *dest_format_, source, out_.data());
  }
  const uint32_t bytes = StepIndexDecode(*input_format_, state_, source, out_.data());
  return bits_ == TMMBits::b8Bit ? NarrowTo8Bits(out_.data(), bytes) : bytes;
}

void TMMADPCMConverter::BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  if (!opened_ || !started_ || !enabled_ || !Input() || !needed_ || !possible_) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    return;
  }
  lpWaveHdr->dwBytesRecorded = 0;
  uint32_t want = lpWaveHdr->dwBufferLength;
  for (;;) {
    CopyHeld(reinterpret_cast<const uint8_t*>(out_.data()), available_, read_, *lpWaveHdr, want);
    if (lpWaveHdr->LoopRestart || !started_ || want < 1) break;
    const uint32_t got = PullUpstream(*lpWaveHdr, in_.data(), static_cast<uint32_t>(in_.size()), pull_);
    if (got == 0 || !started_) break;
    const uint32_t decoded = Decode(got);
    if (decoded < 1) {
      if (pull_.exhausted) break;
      possible_ = false;
      MoreBuffers = false;
      return;
    }
    available_ = decoded;
    read_ = 0;
  }
  MoreBuffers = pull_.more || read_ < available_;
}

}  // namespace pmx
