#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/codecs/acm.h"
#include "platform/codecs/acm_driver.h"

namespace pmx {

// An open stream: its codec and the output that did not fit the last
// destination. Owned by the thread that converts on it.
struct AcmStream {
  std::unique_ptr<AcmCodec> codec;
  std::vector<uint8_t> carry;  // one step's output, reserved at open
  std::size_t carry_at = 0;
  std::size_t carry_end = 0;
};

namespace {

bool Sound(HACMSTREAM has) { return has && has->codec; }

bool HeaderFits(const ACMSTREAMHEADER& hdr) {
  return hdr.cbStruct >= 84 && (hdr.pbSrc || hdr.cbSrcLength == 0) &&
         (hdr.pbDst || hdr.cbDstLength == 0);
}

// Moves carried output into the destination; True when none is left.
bool DrainCarry(AcmStream& s, ACMSTREAMHEADER& hdr) {
  const std::size_t room = hdr.cbDstLength - hdr.cbDstLengthUsed;
  const std::size_t n = std::min(room, s.carry_end - s.carry_at);
  if (n > 0) std::memcpy(hdr.pbDst + hdr.cbDstLengthUsed, s.carry.data() + s.carry_at, n);
  s.carry_at += n;
  hdr.cbDstLengthUsed += static_cast<uint32_t>(n);
  return s.carry_at == s.carry_end;
}

// Writes one step's output straight to the destination when a whole step fits,
// else through the carry buffer. True while more output fits.
template <typename Produce>
bool Emit(AcmStream& s, ACMSTREAMHEADER& hdr, Produce produce) {
  const uint32_t room = hdr.cbDstLength - hdr.cbDstLengthUsed;
  if (room >= s.codec->MaxOut()) {
    hdr.cbDstLengthUsed += produce(hdr.pbDst + hdr.cbDstLengthUsed);
    return true;
  }
  s.carry_at = 0;
  s.carry_end = produce(s.carry.data());
  return DrainCarry(s, hdr);
}

// The next step's source bytes: whole grains up to a unit; at the end also the
// tail shorter than a grain.
uint32_t NextStep(const AcmCodec& codec, uint32_t left, bool end) {
  const uint32_t whole = std::min(codec.Unit(), left / codec.Grain() * codec.Grain());
  return whole > 0 ? whole : (end ? left : 0);
}

}  // namespace

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WaveFormatEx& src,
                       const WaveFormatEx& dst, uint32_t flags) {
  // Every driver converts in real time, so NONREALTIME changes nothing.
  const uint32_t known = ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_NONREALTIME;
  if (flags & ~known) return MMSYSERR_INVALFLAG;
  const bool query = flags & ACM_STREAMOPENF_QUERY;
  if (!query && !phas) return MMSYSERR_INVALPARAM;
  if (!AcmFormatSound(src) || !AcmFormatSound(dst)) return MMSYSERR_INVALPARAM;
  for (const auto& d : AcmDrivers()) {
    if (had && d.get() != had) continue;
    auto codec = d->Open(src, dst);
    if (!codec) continue;
    if (query) return MMSYSERR_NOERROR;
    auto stream = std::make_unique<AcmStream>();
    stream->carry.resize(codec->MaxOut());
    stream->codec = std::move(codec);
    *phas = stream.release();
    return MMSYSERR_NOERROR;
  }
  return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmStreamClose(HACMSTREAM has, uint32_t flags) {
  if (!Sound(has)) return MMSYSERR_INVALHANDLE;
  if (flags != 0) return MMSYSERR_INVALFLAG;
  delete has;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, uint32_t cbInput, uint32_t& cbOutput, uint32_t flags) {
  if (!Sound(has)) return MMSYSERR_INVALHANDLE;
  const AcmCodec& c = *has->codec;
  uint64_t result = 0;
  if (flags == ACM_STREAMSIZEF_SOURCE) {
    // Every step, a partial one included, plus the step carried from before.
    const uint64_t steps = (uint64_t{cbInput} + c.Unit() - 1) / c.Unit();
    result = (steps + 1) * c.MaxOut();
  } else if (flags == ACM_STREAMSIZEF_DESTINATION) {
    result = uint64_t{cbInput} / c.MaxOut() * c.Unit();
  } else {
    return MMSYSERR_INVALFLAG;
  }
  if (result == 0 || result > UINT32_MAX) return ACMERR_NOTPOSSIBLE;
  cbOutput = static_cast<uint32_t>(result);
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER& hdr, uint32_t flags) {
  if (!Sound(has)) return MMSYSERR_INVALHANDLE;
  if (flags != 0) return MMSYSERR_INVALFLAG;
  if (!HeaderFits(hdr)) return MMSYSERR_INVALPARAM;
  hdr.fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER& hdr, uint32_t flags) {
  if (!Sound(has)) return MMSYSERR_INVALHANDLE;
  if (flags != 0) return MMSYSERR_INVALFLAG;
  if (!(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  hdr.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER& hdr, uint32_t flags) {
  if (!Sound(has)) return MMSYSERR_INVALHANDLE;
  const uint32_t known =
      ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
  if (flags & ~known) return MMSYSERR_INVALFLAG;
  if (!(hdr.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  if (!HeaderFits(hdr)) return MMSYSERR_INVALPARAM;
  AcmStream& s = *has;
  AcmCodec& codec = *s.codec;
  if (flags & ACM_STREAMCONVERTF_START) {
    codec.Reset();
    s.carry_at = s.carry_end = 0;
  }
  const bool end = flags & ACM_STREAMCONVERTF_END;
  hdr.fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
  hdr.cbSrcLengthUsed = 0;
  hdr.cbDstLengthUsed = 0;
  bool room = DrainCarry(s, hdr);
  while (room) {
    const uint32_t n = NextStep(codec, hdr.cbSrcLength - hdr.cbSrcLengthUsed, end);
    if (n == 0) break;
    const std::span<const uint8_t> step(hdr.pbSrc + hdr.cbSrcLengthUsed, n);
    room = Emit(s, hdr, [&](uint8_t* out) { return codec.Step(step, out); });
    hdr.cbSrcLengthUsed += n;
  }
  if (room && end) Emit(s, hdr, [&](uint8_t* out) { return codec.Flush(out); });
  hdr.fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamReset(HACMSTREAM has, uint32_t flags) {
  if (!Sound(has)) return MMSYSERR_INVALHANDLE;
  if (flags != 0) return MMSYSERR_INVALFLAG;
  has->codec->Reset();
  has->carry_at = has->carry_end = 0;
  return MMSYSERR_NOERROR;
}

}  // namespace pmx
