#include "audio/core/dsp/acm_support.h"

#include <atomic>
#include <cstring>
#include <functional>

#include "audio/core/dsp/pcm_convert.h"
#include "audio/core/dsp/wave_format.h"

namespace pmx {
namespace {

std::atomic<bool> g_loaded{false};

const TACMEntryPoints& Bound() {
  static const TACMEntryPoints bound = [] {
    TACMEntryPoints e;
    e.acmGetVersion = &acmGetVersion;
    e.acmMetrics = &acmMetrics;
    e.acmDriverEnum = &acmDriverEnum;
    e.acmDriverDetailsA = &acmDriverDetails;
    e.acmDriverOpen = &acmDriverOpen;
    e.acmDriverClose = &acmDriverClose;
    e.acmDriverID = &acmDriverID;
    e.acmFormatTagDetailsA = &acmFormatTagDetails;
    e.acmFormatTagEnumA = &acmFormatTagEnum;
    e.acmFormatChooseA = &acmFormatChoose;
    e.acmFormatDetailsA = &acmFormatDetails;
    e.acmFormatEnumA = &acmFormatEnum;
    e.acmFormatSuggest = &acmFormatSuggest;
    e.acmStreamOpen = &acmStreamOpen;
    e.acmStreamClose = &acmStreamClose;
    e.acmStreamSize = &acmStreamSize;
    e.acmStreamConvert = &acmStreamConvert;
    e.acmStreamReset = &acmStreamReset;
    e.acmStreamPrepareHeader = &acmStreamPrepareHeader;
    e.acmStreamUnprepareHeader = &acmStreamUnprepareHeader;
    return e;
  }();
  return bound;
}

TAcmServices CoreServices() {
  TAcmServices s;
  s.TagName = [](const WaveFormatEx& f) { return wfGetFormatName(&f); };
  s.FormatText = [](const WaveFormatEx& f) { return wfGetFormatString(&f); };
  s.PcmConvert = [](std::span<const uint8_t> src, const WaveFormatEx& sf, std::span<uint8_t> dst,
                    const WaveFormatEx& df) { return PCMConvert(src, sf, dst, df); };
  s.PcmConvertSize = [](const WaveFormatEx& sf, const WaveFormatEx& df, int64_t count) {
    return PCMConvertSize(sf, df, count);
  };
  return s;
}

uint32_t QueryFlags(TMMConvertQuality quality) {
  return ACM_STREAMOPENF_QUERY | (quality == cqHigh ? ACM_STREAMOPENF_NONREALTIME : 0);
}

bool Query(const WaveFormatEx& a, const WaveFormatEx& b, TMMConvertQuality quality) {
  return ACMEntryPoints().acmStreamOpen(nullptr, nullptr, a, b, QueryFlags(quality)) ==
         MMSYSERR_NOERROR;
}

bool Suggest(const WaveFormatEx& src, WaveFormatEx& dst, uint32_t flags) {
  constexpr uint32_t kIntermediateSize = 1025;
  return ACMEntryPoints().acmFormatSuggest(nullptr, src, dst, kIntermediateSize, flags) ==
         MMSYSERR_NOERROR;
}

// The PCM format to go through when S does not convert to D directly.
bool Intermediate(const WaveFormatEx& s, const WaveFormatEx& d, TMMConvertQuality quality,
                  WaveFormatEx& i) {
  i = WaveFormatEx();
  i.set_nChannels(d.nChannels());
  i.set_nSamplesPerSec(d.nSamplesPerSec());
  if (s.wFormatTag() == WAVE_FORMAT_PCM) {
    if (d.nChannels() == s.nChannels() && d.nSamplesPerSec() == s.nSamplesPerSec()) return false;
    if (!Suggest(s, i, ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC)) {
      return false;
    }
    if (Query(i, d, quality)) return true;
    i.set_wBitsPerSample(i.wBitsPerSample() == 16 ? 8 : 16);
    return Suggest(s, i,
                   ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC |
                       ACM_FORMATSUGGESTF_WBITSPERSAMPLE);
  }
  i.set_wFormatTag(WAVE_FORMAT_PCM);
  if (Suggest(s, i,
              ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                  ACM_FORMATSUGGESTF_NSAMPLESPERSEC)) {
    return true;
  }
  i = WaveFormatEx();
  i.set_wFormatTag(WAVE_FORMAT_PCM);
  return Suggest(s, i, ACM_FORMATSUGGESTF_WFORMATTAG);
}

using StageAdder = std::function<bool(const WaveFormatEx&, const WaveFormatEx&)>;

// Walks the path S -> D as the search finds it, handing each step to add. The
// depth limit stops a search whose suggestions would go round in circles.
bool WalkPath(const WaveFormatEx& s, const WaveFormatEx& d, TMMConvertQuality quality,
              const StageAdder& add, int depth = 0) {
  constexpr int kMaxStages = 4;
  if (!acmFormatsDiffer(&s, &d)) return true;
  if (Query(s, d, quality)) return add(s, d);
  WaveFormatEx i;
  if (depth + 1 >= kMaxStages || !Intermediate(s, d, quality, i)) return false;
  if (!Query(s, i, quality) || !add(s, i)) return false;
  return !acmFormatsDiffer(&i, &d) || WalkPath(i, d, quality, add, depth + 1);
}

bool OpenStage(TACMConvert& object, const WaveFormatEx& a, const WaveFormatEx& b,
               TMMConvertQuality quality, uint32_t in_size) {
  const TACMEntryPoints& acm = ACMEntryPoints();
  auto stage = std::make_unique<TACMStage>();
  const uint32_t flags = quality == cqHigh ? ACM_STREAMOPENF_NONREALTIME : 0;
  if (acm.acmStreamOpen(&stage->Stream, nullptr, a, b, flags) != MMSYSERR_NOERROR) return false;
  // Room for a whole input after the leftover of the step before.
  const uint32_t source_size = 2 * in_size;
  uint32_t dest_size = 0;
  if (acm.acmStreamSize(stage->Stream, source_size, dest_size, ACM_STREAMSIZEF_SOURCE) !=
      MMSYSERR_NOERROR) {
    acm.acmStreamClose(stage->Stream, 0);
    return false;
  }
  stage->Source.resize(source_size);
  stage->Dest.resize(dest_size);
  ACMSTREAMHEADER& h = stage->Header;
  h.pbSrc = stage->Source.data();
  h.cbSrcLength = h.dwSrcUser = source_size;
  h.pbDst = stage->Dest.data();
  h.cbDstLength = h.dwDstUser = dest_size;
  if (acm.acmStreamPrepareHeader(stage->Stream, h, 0) != MMSYSERR_NOERROR) {
    acm.acmStreamClose(stage->Stream, 0);
    return false;
  }
  object.DestBuffer = stage->Dest.data();
  object.DestSize = dest_size;
  object.Stages.push_back(std::move(stage));
  return true;
}

// One stage's step: leftover first, then the m new bytes. -1 on a stream error.
int64_t ConvertStage(TACMConvert& object, TACMStage& stage, const uint8_t* input, uint32_t m,
                     bool end) {
  ACMSTREAMHEADER& h = stage.Header;
  if (uint64_t{stage.Leftover} + m > stage.Source.size()) return -1;
  if (m > 0) std::memcpy(stage.Source.data() + stage.Leftover, input, m);
  h.cbSrcLength = stage.Leftover + m;
  h.cbDstLength = static_cast<uint32_t>(stage.Dest.size());
  const uint32_t flags = end ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
  if (ACMEntryPoints().acmStreamConvert(stage.Stream, h, flags) != MMSYSERR_NOERROR) return -1;
  const uint32_t used = h.cbSrcLengthUsed;
  stage.Leftover = h.cbSrcLength - used;
  if (stage.Leftover > 0) {
    std::memmove(stage.Source.data(), stage.Source.data() + used, stage.Leftover);
    object.InputPending = true;
  }
  if (!end && h.cbDstLengthUsed == 0 && used > 0) object.ConsumedWithoutOutput = true;
  return h.cbDstLengthUsed;
}

int64_t Convert(TACMConvert* object, uint32_t n, bool end) {
  if (!object || object->Stages.empty()) return -1;
  n = std::min(n, object->SourceSize);
  object->InputPending = false;
  if (!end) object->ConsumedWithoutOutput = false;
  const uint8_t* input = object->SourceBuffer;
  int64_t out = n;
  for (const auto& stage : object->Stages) {
    out = ConvertStage(*object, *stage, input, static_cast<uint32_t>(out), end);
    if (out < 0) return -1;
    input = stage->Dest.data();
  }
  object->BytesAvailable = static_cast<uint32_t>(out);
  object->ReadOffset = 0;
  return out;
}

}  // namespace

void LoadACM() {
  acmInstallServices(CoreServices());
  g_loaded.store(true);
}

void UnloadACM() { g_loaded.store(false); }

bool ACMLoaded() { return g_loaded.load(); }

bool ACMAvailable() {
  return ACMLoaded() && (ACMEntryPoints().acmGetVersion() >> 16) >= 0x0200;
}

const TACMEntryPoints& ACMEntryPoints() {
  static const TACMEntryPoints none;
  return ACMLoaded() ? Bound() : none;
}

bool acmFormatsDiffer(PWaveFormatEx a, PWaveFormatEx b) {
  if (!a || !b) return false;
  return a->wFormatTag() != b->wFormatTag() || a->wBitsPerSample() != b->wBitsPerSample() ||
         a->nChannels() != b->nChannels() || a->nSamplesPerSec() != b->nSamplesPerSec();
}

void acmSuggestPCMFormat(PWaveFormatEx format, WaveFormatEx& out) {
  out = WaveFormatEx();
  if (!format || !ACMAvailable()) return;
  if (format->wFormatTag() == WAVE_FORMAT_PCM) {
    out.set_wFormatTag(format->wFormatTag());
    out.set_nChannels(format->nChannels());
    out.set_nSamplesPerSec(format->nSamplesPerSec());
    out.set_nAvgBytesPerSec(format->nAvgBytesPerSec());
    out.set_nBlockAlign(format->nBlockAlign());
    out.set_wBitsPerSample(format->wBitsPerSample());
    out.set_cbSize(format->cbSize());
    return;
  }
  WaveFormatEx suggestion;
  suggestion.set_wFormatTag(WAVE_FORMAT_PCM);
  const TACMEntryPoints& acm = ACMEntryPoints();
  if (acm.acmFormatSuggest(nullptr, *format, suggestion, WaveFormatEx::kHeaderSize,
                           ACM_FORMATSUGGESTF_WFORMATTAG) == MMSYSERR_NOERROR &&
      acm.acmStreamOpen(nullptr, nullptr, *format, suggestion, ACM_STREAMOPENF_QUERY) ==
          MMSYSERR_NOERROR) {
    out = suggestion;
  }
}

bool acmCanConvert(PWaveFormatEx source, PWaveFormatEx dest, TMMConvertQuality quality) {
  if (!ACMAvailable() || !source || !dest) return false;
  return WalkPath(*source, *dest, quality,
                  [](const WaveFormatEx&, const WaveFormatEx&) { return true; });
}

TACMConvert::~TACMConvert() {
  const TACMEntryPoints& acm = Bound();
  for (auto it = Stages.rbegin(); it != Stages.rend(); ++it) {
    TACMStage& stage = **it;
    ACMSTREAMHEADER& h = stage.Header;
    if (h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) {
      h.cbSrcLength = static_cast<uint32_t>(h.dwSrcUser);
      h.cbDstLength = static_cast<uint32_t>(h.dwDstUser);
      acm.acmStreamUnprepareHeader(stage.Stream, h, 0);
    }
    acm.acmStreamClose(stage.Stream, 0);
  }
}

PACMConvert acmCreateConverter(PWaveFormatEx source, PWaveFormatEx dest, uint8_t* source_buffer,
                               TMMConvertQuality quality, uint32_t buffer_size) {
  if (!ACMAvailable() || !source || !dest || !acmFormatsDiffer(source, dest)) return nullptr;
  if (source->nBlockAlign() == 0) return nullptr;
  auto object = std::make_unique<TACMConvert>();
  object->SourceSize = source->nBlockAlign() * (buffer_size / source->nBlockAlign());
  if (object->SourceSize == 0) return nullptr;
  uint32_t in_size = object->SourceSize;
  object->SourceBuffer = source_buffer;
  if (!source_buffer) {
    in_size = 4 * object->SourceSize;
    object->OwnSource.resize(in_size);
    object->SourceBuffer = object->OwnSource.data();
  }
  TACMConvert& o = *object;
  const bool built = WalkPath(*source, *dest, quality,
                              [&](const WaveFormatEx& a, const WaveFormatEx& b) {
                                const uint32_t size = o.Stages.empty() ? in_size : o.DestSize;
                                return OpenStage(o, a, b, quality, size);
                              });
  if (!built || object->Stages.empty()) return nullptr;
  return object;
}

int64_t acmConvertBytes(TACMConvert* object, uint32_t n) { return Convert(object, n, false); }

int64_t acmConvertEnd(TACMConvert* object, uint32_t n) { return Convert(object, n, true); }

void acmResetConverter(TACMConvert* object) {
  if (!object) return;
  object->ReadOffset = object->BytesAvailable;
  object->InputPending = false;
  object->ConsumedWithoutOutput = false;
  for (const auto& stage : object->Stages) {
    stage->Leftover = 0;
    stage->Header.cbSrcLength = 0;
    Bound().acmStreamConvert(stage->Stream, stage->Header,
                             ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
  }
}

void acmDestroyConverter(PACMConvert& object) { object.reset(); }

}  // namespace pmx
