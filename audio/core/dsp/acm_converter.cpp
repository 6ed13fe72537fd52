#include "audio/core/dsp/acm_converter.h"

#include <algorithm>
#include <cstring>

#include "audio/core/dsp/pcm_support.h"
#include "audio/core/dsp/wave_format.h"

namespace pmx {
namespace {

constexpr const char* kUnableToConvert = "Unable to convert to destination format";
constexpr int kPullsWithoutOutput = 5;

}  // namespace

TMMACMConverter::TMMACMConverter(TComponent* owner) : TMMDSPComponent(owner) {
  PublishLinks(true, true);
}

TMMACMConverter::~TMMACMConverter() { Closed(); }

void TMMACMConverter::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdateConversion();
}

void TMMACMConverter::SetPWaveFormat(PWaveFormatEx f) {
  if (!f || !Propagating()) return;
  requested_ = wfCopyFormat(f);
  UpdateConversion();
}

void TMMACMConverter::InputFormatChanged(PWaveFormatEx f) {
  if (f == input_format_.get()) return;
  input_format_ = wfCopyFormat(f);
  UpdateConversion();
}

void TMMACMConverter::Loaded() {
  TMMDSPComponent::Loaded();
  UpdateConversion();
}

void TMMACMConverter::CalcDestFormat() {
  dest_format_.reset();
  if (enabled_) dest_format_ = wfCopyFormat(requested_.get());
}

void TMMACMConverter::UpdateConversion() {
  needed_ = possible_ = false;
  if (input_format_ && enabled_) {
    CalcDestFormat();
    needed_ = acmFormatsDiffer(input_format_.get(), dest_format_.get());
    possible_ = needed_ && acmCanConvert(input_format_.get(), dest_format_.get(), quality_);
  }
  TMMDSPComponent::SetPWaveFormat(possible_ ? dest_format_.get() : input_format_.get());
}

void TMMACMConverter::UpdateDestFormat() {
  CalcDestFormat();
  SetPWaveFormat(dest_format_ ? dest_format_.get() : input_format_.get());
}

void TMMACMConverter::Opened() {
  if (!opened_ && enabled_) {
    if (needed_ && possible_) {
      convert_ = acmCreateConverter(input_format_.get(), PWaveFormat(), nullptr, quality_, kStep);
      if (!convert_) possible_ = false;
    }
    if (needed_ && !possible_) throw EMMConverterError(kUnableToConvert);
    opened_ = true;
  }
  TMMDSPComponent::Opened();
}

void TMMACMConverter::Closed() {
  if (opened_) {
    Stopped();
    opened_ = false;
    acmDestroyConverter(convert_);
  }
  TMMDSPComponent::Closed();
}

void TMMACMConverter::Started() {
  TMMDSPComponent::Started();
  if (!opened_ || started_) return;
  pull_ = {};
  started_ = true;
}

void TMMACMConverter::Stopped() {
  if (started_.exchange(false) && convert_) convert_->ReadOffset = convert_->BytesAvailable;
  TMMDSPComponent::Stopped();
}

void TMMACMConverter::Reset() {
  TMMDSPComponent::Reset();
  if (!convert_) return;
  acmResetConverter(convert_.get());
  pull_.exhausted = false;
}

bool TMMACMConverter::Converting() const {
  return opened_ && started_ && needed_ && possible_ && convert_;
}

void TMMACMConverter::Fail() {
  possible_ = false;
  throw EMMConverterError(kUnableToConvert);
}

// Converts n bytes at the source buffer; any failure marks the converter unable.
int64_t TMMACMConverter::Convert(uint32_t n, bool end) {
  int64_t got = -1;
  try {
    got = end ? acmConvertEnd(convert_.get(), n) : acmConvertBytes(convert_.get(), n);
  } catch (...) {
    possible_ = false;
    throw;
  }
  if (got < 0) Fail();
  return got;
}

void TMMACMConverter::PushOutput() {
  TACMConvert& c = *convert_;
  while (started_ && c.ReadOffset < c.BytesAvailable) {
    const uint32_t n =
        std::min(c.BytesAvailable - c.ReadOffset, static_cast<uint32_t>(BufferSize()));
    header_ = {};
    header_.lpData = reinterpret_cast<char*>(c.DestBuffer + c.ReadOffset);
    header_.dwBufferLength = header_.dwBytesRecorded = n;
    c.ReadOffset += n;
    TMMDSPComponent::BufferReady(&header_);
  }
}

void TMMACMConverter::BufferReady(WAVEHDR* lpWaveHdr) {
  if (!Converting()) {
    TMMDSPComponent::BufferReady(lpWaveHdr);
    return;
  }
  uint32_t remaining = lpWaveHdr->dwBytesRecorded;
  uint32_t offset = 0;
  while (started_ && remaining >= 1) {
    // A step the conversion object takes whole: bytes past it would be dropped.
    const uint32_t chunk = std::min(remaining, convert_->SourceSize);
    std::memcpy(convert_->SourceBuffer, lpWaveHdr->lpData + offset, chunk);
    if (Convert(chunk, false) < 1 && !convert_->InputPending && !convert_->ConsumedWithoutOutput) {
      Fail();
    }
    offset += chunk;
    remaining -= chunk;
    PushOutput();
  }
}

void TMMACMConverter::BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  if (!Converting() || !Input()) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    return;
  }
  uint32_t want = lpWaveHdr->dwBufferLength - lpWaveHdr->dwBytesRecorded;
  int tries = 0;
  for (;;) {
    CopyHeld(convert_->DestBuffer, convert_->BytesAvailable, convert_->ReadOffset, *lpWaveHdr, want);
    if (lpWaveHdr->LoopRestart || !started_ || want < 1) break;
    const uint32_t got = PullUpstream(*lpWaveHdr, convert_->SourceBuffer, convert_->SourceSize, pull_);
    if (!started_) break;
    if (got > 0) {
      if (Convert(got, false) > 0) continue;
      if (!pull_.exhausted) {
        if (++tries >= kPullsWithoutOutput) Fail();
        continue;
      }
    }
    // The pulled bytes went in above: the flush only drains what the codecs hold.
    if (Convert(0, true) < 1) break;
  }
  MoreBuffers = pull_.more || convert_->ReadOffset < convert_->BytesAvailable || convert_->InputPending;
}

void TMMPCMConverter::SetAutoConvert(bool value) {
  if (value == auto_convert_) return;
  auto_convert_ = value;
  UpdateDestFormat();
}

void TMMPCMConverter::SetSampleRate(int32_t value) {
  value = std::clamp(value, 8000, 88200);
  if (value == rate_) return;
  rate_ = value;
  UpdateDestFormat();
}

void TMMPCMConverter::SetBitLength(TMMBits value) {
  if (value == bits_) return;
  bits_ = value;
  UpdateDestFormat();
}

void TMMPCMConverter::SetMode(TMMMode value) {
  if (value == mode_ || value == TMMMode::mMultiChannel) return;
  mode_ = value;
  UpdateDestFormat();
}

void TMMPCMConverter::SetRequired(const TMMRequiredParams& value) {
  if (value == required_) return;
  required_ = value;
  UpdateDestFormat();
}

void TMMPCMConverter::SetPWaveFormat(PWaveFormatEx f) {
  if (!f || !Propagating()) return;
  if (!ValidPCMFormat(f) && !Designing()) throw EMMConverterError("Invalid WaveFormat");
  TMMACMConverter::SetPWaveFormat(f);
}

void TMMPCMConverter::CalcDestFormat() {
  dest_format_.reset();
  if (!Enabled()) return;
  const auto bits = static_cast<uint16_t>(bits_ == TMMBits::b16Bit ? 16 : 8);
  const auto channels = static_cast<uint16_t>(mode_ == TMMMode::mStereo ? 2 : 1);
  auto dest = std::make_unique<WaveFormatEx>();
  if (PWaveFormatEx in = InputCopy()) {
    acmSuggestPCMFormat(in, *dest);
    if (!auto_convert_ && dest->wFormatTag() != 0) {
      FillPCMFormat(
          *dest, required_.contains(rpBits) ? bits : dest->wBitsPerSample(),
          required_.contains(rpChannels) ? channels : dest->nChannels(),
          required_.contains(rpSampleRate) ? static_cast<uint32_t>(rate_) : dest->nSamplesPerSec());
    }
  } else {
    FillPCMFormat(*dest, bits, channels, static_cast<uint32_t>(rate_));
  }
  if (dest->wFormatTag() != 0) dest_format_ = std::move(dest);
}

}  // namespace pmx
