#include "platform/alsa/wave_in_encoder.h"

#include <algorithm>
#include <stdexcept>

namespace pmx {

bool WaveInEncoder::CaptureFormat(const WaveFormatEx& codec, WaveFormatEx& pcm) {
  pcm = WaveFormatEx::Pcm(codec.nSamplesPerSec(), 16, codec.nChannels());
  if (acmFormatSuggest(nullptr, codec, pcm, WaveFormatEx::kHeaderSize,
                       ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR) {
    return false;
  }
  return acmStreamOpen(nullptr, nullptr, pcm, codec, ACM_STREAMOPENF_QUERY) == MMSYSERR_NOERROR;
}

WaveInEncoder::WaveInEncoder(const WaveFormatEx& pcm, const WaveFormatEx& codec) : codec_(codec) {
  if (acmStreamOpen(&stream_, nullptr, pcm, codec, 0) != MMSYSERR_NOERROR) {
    throw std::runtime_error("no encoder for the capture format");
  }
}

WaveInEncoder::~WaveInEncoder() { acmStreamClose(stream_, 0); }

void WaveInEncoder::Encode(const uint8_t* bytes, std::size_t count, std::vector<uint8_t>& out) {
  pending_.insert(pending_.end(), bytes, bytes + count);
  Convert(ACM_STREAMCONVERTF_BLOCKALIGN, out);
}

void WaveInEncoder::Finish(std::vector<uint8_t>& out) {
  Convert(ACM_STREAMCONVERTF_END, out);
  pending_.clear();
  started_ = false;
}

void WaveInEncoder::Reset() {
  acmStreamReset(stream_, 0);
  pending_.clear();
  started_ = false;
}

void WaveInEncoder::Convert(uint32_t flags, std::vector<uint8_t>& out) {
  uint32_t room = 0;
  acmStreamSize(stream_, static_cast<uint32_t>(pending_.size()), room, ACM_STREAMSIZEF_SOURCE);
  output_.resize(std::max<uint32_t>(room, codec_.nBlockAlign()));
  ACMSTREAMHEADER header;
  header.pbSrc = pending_.data();
  header.cbSrcLength = static_cast<uint32_t>(pending_.size());
  header.pbDst = output_.data();
  header.cbDstLength = static_cast<uint32_t>(output_.size());
  acmStreamPrepareHeader(stream_, header, 0);
  // The stream keeps output that does not fit: call until it has nothing more.
  for (;;) {
    if (!started_) flags |= ACM_STREAMCONVERTF_START;
    started_ = true;
    if (acmStreamConvert(stream_, header, flags) != MMSYSERR_NOERROR) break;
    flags &= ~ACM_STREAMCONVERTF_START;
    out.insert(out.end(), output_.begin(), output_.begin() + header.cbDstLengthUsed);
    const uint32_t used = header.cbSrcLengthUsed;
    header.pbSrc += used;
    header.cbSrcLength -= used;
    if (header.cbDstLengthUsed == 0 && used == 0) break;
  }
  const std::size_t consumed = static_cast<std::size_t>(header.pbSrc - pending_.data());
  acmStreamUnprepareHeader(stream_, header, 0);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(consumed));
}

}  // namespace pmx
