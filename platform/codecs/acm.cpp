#include "platform/codecs/acm.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/codecs/acm_driver.h"

namespace pmx {
namespace {

struct ServiceState {
  std::mutex mutex;  // guards services and chooser
  std::shared_ptr<const TAcmServices> services = std::make_shared<TAcmServices>();
  TAcmFormatChooser chooser;
};

ServiceState& State() {
  static ServiceState state;
  return state;
}

bool Known(HACMOBJ obj) {
  for (const auto& d : AcmDrivers()) {
    if (d.get() == obj) return true;
  }
  return false;
}

// The drivers a call with had looks at: that one, or all of them.
std::vector<const AcmDriver*> Scope(HACMDRIVER had) {
  std::vector<const AcmDriver*> scope;
  for (const auto& d : AcmDrivers()) {
    if (!had || d.get() == had) scope.push_back(d.get());
  }
  return scope;
}

bool Lists(const AcmDriver& d, uint16_t tag) {
  const auto tags = d.Tags();
  return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

uint32_t LargestFormat(const AcmDriver& d, uint16_t tag) {
  uint32_t largest = 0;
  for (const WaveFormatEx& f : d.StandardFormats(tag)) {
    largest = std::max<uint32_t>(largest, static_cast<uint32_t>(f.size()));
  }
  return largest;
}

std::string TagName(uint16_t tag) {
  WaveFormatEx f;
  f.set_wFormatTag(tag);
  const auto services = AcmServices();
  return services->TagName ? services->TagName(f) : std::string();
}

void FillTagDetails(const AcmDriver& d, uint32_t index, uint16_t tag,
                    ACMFORMATTAGDETAILS& details) {
  details.dwFormatTagIndex = index;
  details.dwFormatTag = tag;
  details.cbFormatSize = LargestFormat(d, tag);
  details.fdwSupport = d.Support();
  details.cStandardFormats = static_cast<uint32_t>(d.StandardFormats(tag).size());
  details.szFormatTag = TagName(tag);
}

void FillFormatDetails(const AcmDriver& d, uint32_t index, const WaveFormatEx& f,
                       ACMFORMATDETAILS& details) {
  details.dwFormatIndex = index;
  details.dwFormatTag = f.wFormatTag();
  details.fdwSupport = d.Support();
  details.wfx = f;
  const auto services = AcmServices();
  details.szFormat = services->FormatText ? services->FormatText(f) : std::string();
}

const AcmDriver* DriverFor(HACMDRIVER had, const WaveFormatEx& f) {
  for (const AcmDriver* d : Scope(had)) {
    if (Lists(*d, f.wFormatTag()) && d->Valid(f)) return d;
  }
  return nullptr;
}

bool FieldsMatch(const WaveFormatEx& f, const WaveFormatEx& want, uint32_t flags) {
  return (!(flags & ACM_FORMATENUMF_WFORMATTAG) || f.wFormatTag() == want.wFormatTag()) &&
         (!(flags & ACM_FORMATENUMF_NCHANNELS) || f.nChannels() == want.nChannels()) &&
         (!(flags & ACM_FORMATENUMF_NSAMPLESPERSEC) ||
          f.nSamplesPerSec() == want.nSamplesPerSec()) &&
         (!(flags & ACM_FORMATENUMF_WBITSPERSAMPLE) ||
          f.wBitsPerSample() == want.wBitsPerSample());
}

// Some driver converts src to dst.
bool Converts(const WaveFormatEx& src, const WaveFormatEx& dst) {
  return acmStreamOpen(nullptr, nullptr, src, dst, ACM_STREAMOPENF_QUERY |
                                                       ACM_STREAMOPENF_NONREALTIME) ==
         MMSYSERR_NOERROR;
}

// Some driver converts f into something (PCM converts to itself).
bool Reads(const WaveFormatEx& f) {
  const WaveFormatEx none;
  const AcmFixedFields fixed{none, 0};
  for (const auto& d : AcmDrivers()) {
    if (d->Natural(f, WAVE_FORMAT_PCM, fixed)) return true;
    for (uint16_t tag : d->Tags()) {
      if (d->Natural(f, tag, fixed)) return true;
    }
  }
  return false;
}

// Some driver writes exactly f from PCM of its channels and rate.
bool Writes(const WaveFormatEx& f) {
  const WaveFormatEx none;
  const AcmFixedFields fixed{none, 0};
  const WaveFormatEx pcm = f.wFormatTag() == WAVE_FORMAT_PCM ? f : AcmPcm16(f);
  for (const auto& d : AcmDrivers()) {
    const auto written = d->Natural(pcm, f.wFormatTag(), fixed);
    if (written && *written == f) return true;
  }
  return false;
}

// INPUT: some driver reads f; OUTPUT: some driver writes it; CONVERT: the
// template converts to it; SUGGEST: it is what the template is suggested as.
bool PassesEnumFilters(const WaveFormatEx& f, const WaveFormatEx& templ, uint32_t flags) {
  if (!FieldsMatch(f, templ, flags)) return false;
  if ((flags & ACM_FORMATENUMF_CONVERT) && !Converts(templ, f)) return false;
  if (flags & ACM_FORMATENUMF_SUGGEST) {
    WaveFormatEx suggestion = f;
    if (acmFormatSuggest(nullptr, templ, suggestion, 0xFFFF, ACM_FORMATSUGGESTF_TYPEMASK) !=
            MMSYSERR_NOERROR ||
        !(suggestion == f)) {
      return false;
    }
  }
  if ((flags & ACM_FORMATENUMF_INPUT) && !Reads(f)) return false;
  if ((flags & ACM_FORMATENUMF_OUTPUT) && !Writes(f)) return false;
  return true;
}

}  // namespace

std::shared_ptr<const TAcmServices> AcmServices() {
  ServiceState& state = State();
  std::lock_guard lock(state.mutex);
  return state.services;
}

void acmInstallServices(TAcmServices services) {
  ServiceState& state = State();
  std::lock_guard lock(state.mutex);
  state.services = std::make_shared<const TAcmServices>(std::move(services));
}

uint32_t acmGetVersion() { return kAcmVersion; }

MMRESULT acmMetrics(HACMOBJ obj, uint32_t metric, uint32_t& value) {
  if (obj && !Known(obj)) return MMSYSERR_INVALHANDLE;
  const auto scope = Scope(obj);
  value = 0;
  switch (metric) {
    case ACM_METRIC_COUNT_DRIVERS:
      value = static_cast<uint32_t>(scope.size());
      return MMSYSERR_NOERROR;
    case ACM_METRIC_COUNT_CODECS:
    case ACM_METRIC_COUNT_CONVERTERS:
      for (const AcmDriver* d : scope) {
        const uint32_t kind = metric == ACM_METRIC_COUNT_CODECS
                                  ? ACMDRIVERDETAILS_SUPPORTF_CODEC
                                  : ACMDRIVERDETAILS_SUPPORTF_CONVERTER;
        value += (d->Support() & kind) ? 1 : 0;
      }
      return MMSYSERR_NOERROR;
    case ACM_METRIC_COUNT_FILTERS:
    case ACM_METRIC_COUNT_DISABLED:
    case ACM_METRIC_COUNT_HARDWARE:
    case ACM_METRIC_MAX_SIZE_FILTER:
      return MMSYSERR_NOERROR;
    case ACM_METRIC_MAX_SIZE_FORMAT:
      for (const AcmDriver* d : scope) {
        for (uint16_t tag : d->Tags()) value = std::max(value, LargestFormat(*d, tag));
      }
      return MMSYSERR_NOERROR;
    default:
      return MMSYSERR_NOTSUPPORTED;
  }
}

MMRESULT acmDriverEnum(const ACMDRIVERENUMCB& callback, uint32_t flags) {
  if (!callback) return MMSYSERR_INVALPARAM;
  if (flags != 0) return MMSYSERR_INVALFLAG;
  for (const auto& d : AcmDrivers()) {
    if (!callback(d.get(), d->Support())) break;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverDetails(HACMDRIVERID hadid, ACMDRIVERDETAILS& details, uint32_t flags) {
  if (!Known(hadid)) return MMSYSERR_INVALHANDLE;
  if (flags != 0) return MMSYSERR_INVALFLAG;
  details.fdwSupport = hadid->Support();
  details.cFormatTags = static_cast<uint32_t>(hadid->Tags().size());
  details.cFilterTags = 0;
  details.szShortName = hadid->ShortName();
  details.szLongName = hadid->LongName();
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverOpen(HACMDRIVER* phad, HACMDRIVERID hadid, uint32_t flags) {
  if (!phad) return MMSYSERR_INVALPARAM;
  if (!Known(hadid)) return MMSYSERR_INVALHANDLE;
  if (flags != 0) return MMSYSERR_INVALFLAG;
  *phad = hadid;
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverClose(HACMDRIVER had, uint32_t flags) {
  if (!Known(had)) return MMSYSERR_INVALHANDLE;
  return flags == 0 ? MMSYSERR_NOERROR : MMSYSERR_INVALFLAG;
}

MMRESULT acmDriverID(HACMOBJ obj, HACMDRIVERID* phadid, uint32_t flags) {
  if (!phadid) return MMSYSERR_INVALPARAM;
  if (!Known(obj)) return MMSYSERR_INVALHANDLE;
  if (flags != 0) return MMSYSERR_INVALFLAG;
  *phadid = obj;
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatTagDetails(HACMDRIVER had, ACMFORMATTAGDETAILS& details, uint32_t flags) {
  if (had && !Known(had)) return MMSYSERR_INVALHANDLE;
  if (flags == ACM_FORMATTAGDETAILSF_INDEX) {
    if (!had) return MMSYSERR_INVALPARAM;
    const auto tags = had->Tags();
    if (details.dwFormatTagIndex >= tags.size()) return ACMERR_NOTPOSSIBLE;
    FillTagDetails(*had, details.dwFormatTagIndex, tags[details.dwFormatTagIndex], details);
    return MMSYSERR_NOERROR;
  }
  if (flags != ACM_FORMATTAGDETAILSF_FORMATTAG && flags != ACM_FORMATTAGDETAILSF_LARGESTSIZE) {
    return MMSYSERR_INVALFLAG;
  }
  const bool largest = flags == ACM_FORMATTAGDETAILSF_LARGESTSIZE;
  const AcmDriver* best = nullptr;
  uint16_t best_tag = 0;
  uint32_t best_index = 0;
  for (const AcmDriver* d : Scope(had)) {
    const auto tags = d->Tags();
    for (uint32_t i = 0; i < tags.size(); ++i) {
      const bool wanted = tags[i] == details.dwFormatTag ||
                          (largest && details.dwFormatTag == WAVE_FORMAT_UNKNOWN);
      if (!wanted) continue;
      if (!best || (largest && LargestFormat(*d, tags[i]) > LargestFormat(*best, best_tag))) {
        best = d, best_tag = tags[i], best_index = i;
      }
    }
  }
  if (!best) return ACMERR_NOTPOSSIBLE;
  FillTagDetails(*best, best_index, best_tag, details);
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatTagEnum(HACMDRIVER had, const ACMFORMATTAGENUMCB& callback, uint32_t flags) {
  if (!callback) return MMSYSERR_INVALPARAM;
  if (had && !Known(had)) return MMSYSERR_INVALHANDLE;
  if (flags != 0) return MMSYSERR_INVALFLAG;
  for (const AcmDriver* d : Scope(had)) {
    const auto tags = d->Tags();
    for (uint32_t i = 0; i < tags.size(); ++i) {
      ACMFORMATTAGDETAILS details;
      FillTagDetails(*d, i, tags[i], details);
      if (!callback(d, details, d->Support())) return MMSYSERR_NOERROR;
    }
  }
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatDetails(HACMDRIVER had, ACMFORMATDETAILS& details, uint32_t flags) {
  if (had && !Known(had)) return MMSYSERR_INVALHANDLE;
  if (flags == ACM_FORMATDETAILSF_INDEX) {
    if (!had) return MMSYSERR_INVALPARAM;
    const auto formats = had->StandardFormats(static_cast<uint16_t>(details.dwFormatTag));
    if (details.dwFormatIndex >= formats.size()) return ACMERR_NOTPOSSIBLE;
    FillFormatDetails(*had, details.dwFormatIndex, formats[details.dwFormatIndex], details);
    return MMSYSERR_NOERROR;
  }
  if (flags != ACM_FORMATDETAILSF_FORMAT) return MMSYSERR_INVALFLAG;
  if (!AcmFormatSound(details.wfx)) return MMSYSERR_INVALPARAM;
  const AcmDriver* d = DriverFor(had, details.wfx);
  if (!d) return ACMERR_NOTPOSSIBLE;
  const WaveFormatEx f = details.wfx;
  FillFormatDetails(*d, 0, f, details);
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatEnum(HACMDRIVER had, const ACMFORMATDETAILS& templ,
                       const ACMFORMATENUMCB& callback, uint32_t flags) {
  if (!callback) return MMSYSERR_INVALPARAM;
  if (had && !Known(had)) return MMSYSERR_INVALHANDLE;
  const uint32_t known = ACM_FORMATENUMF_WFORMATTAG | ACM_FORMATENUMF_NCHANNELS |
                         ACM_FORMATENUMF_NSAMPLESPERSEC | ACM_FORMATENUMF_WBITSPERSAMPLE |
                         ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST |
                         ACM_FORMATENUMF_INPUT | ACM_FORMATENUMF_OUTPUT;
  if (flags & ~known) return MMSYSERR_INVALFLAG;
  const bool from_template = flags & (ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST);
  if (from_template && !AcmFormatSound(templ.wfx)) return MMSYSERR_INVALPARAM;
  for (const AcmDriver* d : Scope(had)) {
    for (uint16_t tag : d->Tags()) {
      const auto formats = d->StandardFormats(tag);
      for (uint32_t i = 0; i < formats.size(); ++i) {
        if (!PassesEnumFilters(formats[i], templ.wfx, flags)) continue;
        ACMFORMATDETAILS details;
        FillFormatDetails(*d, i, formats[i], details);
        if (!callback(d, details, d->Support())) return MMSYSERR_NOERROR;
      }
    }
  }
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatSuggest(HACMDRIVER had, const WaveFormatEx& src, WaveFormatEx& dst,
                          uint32_t cbwfxDst, uint32_t flags) {
  if (had && !Known(had)) return MMSYSERR_INVALHANDLE;
  if (flags & ~ACM_FORMATSUGGESTF_TYPEMASK) return MMSYSERR_INVALFLAG;
  if (!AcmFormatSound(src) || cbwfxDst < WaveFormatEx::kHeaderSize) return MMSYSERR_INVALPARAM;
  const uint16_t tag =
      (flags & ACM_FORMATSUGGESTF_WFORMATTAG) ? dst.wFormatTag() : WAVE_FORMAT_PCM;
  const AcmFixedFields fixed{dst, flags};
  for (const AcmDriver* d : Scope(had)) {
    auto natural = d->Natural(src, tag, fixed);
    if (!natural || natural->size() > cbwfxDst) continue;
    const bool keeps =
        (!fixed.Fixes(ACM_FORMATSUGGESTF_NCHANNELS) || natural->nChannels() == dst.nChannels()) &&
        (!fixed.Fixes(ACM_FORMATSUGGESTF_NSAMPLESPERSEC) ||
         natural->nSamplesPerSec() == dst.nSamplesPerSec()) &&
        (!fixed.Fixes(ACM_FORMATSUGGESTF_WBITSPERSAMPLE) ||
         natural->wBitsPerSample() == dst.wBitsPerSample());
    if (!keeps) continue;
    dst = *std::move(natural);
    return MMSYSERR_NOERROR;
  }
  return ACMERR_NOTPOSSIBLE;
}

void acmSetFormatChooser(TAcmFormatChooser chooser) {
  ServiceState& state = State();
  std::lock_guard lock(state.mutex);
  state.chooser = std::move(chooser);
}

MMRESULT acmFormatChoose(ACMFORMATCHOOSE& choose) {
  TAcmFormatChooser chooser;
  {
    ServiceState& state = State();
    std::lock_guard lock(state.mutex);
    chooser = state.chooser;
  }
  if (!chooser) return MMSYSERR_NOTSUPPORTED;
  if (!choose.pwfx || choose.cbwfx < WaveFormatEx::kHeaderSize) return MMSYSERR_INVALPARAM;
  return chooser(choose);
}

}  // namespace pmx
