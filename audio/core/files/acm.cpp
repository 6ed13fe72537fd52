#include "audio/core/files/acm.h"

#include <cstdio>

#include "audio/core/dsp/acm_support.h"
#include "audio/core/dsp/wave_format.h"
#include "audio/core/files/wave_file.h"
#include "audio/core/objects/mm_strings.h"
#include "platform/ui_hook.h"

namespace pmx {
namespace {

uint32_t EnumFlags(TMMACMEnumFormats value, bool with_format) {
  switch (value) {
    case efInput:
      return ACM_FORMATENUMF_INPUT;
    case efOutput:
      return ACM_FORMATENUMF_OUTPUT;
    case efConvert:
      return with_format ? ACM_FORMATENUMF_CONVERT : 0;
    case efSuggest:
      return with_format ? ACM_FORMATENUMF_SUGGEST : 0;
    case efRestrict:
      return with_format ? ACM_FORMATENUMF_WFORMATTAG : 0;
    case efAll:
      break;
  }
  return 0;
}

// The record's own bytes: 18 for PCM, else 18 + cbSize; 0 when they are not all
// there.
uint32_t RecordSize(const WaveFormatEx& f) {
  if (f.wFormatTag() == WAVE_FORMAT_PCM) return WaveFormatEx::kHeaderSize;
  return f.ExtraComplete() ? WaveFormatEx::kHeaderSize + f.cbSize() : 0;
}

WaveFormatEx Trimmed(const WaveFormatEx& f) {
  WaveFormatEx copy = WaveFormatEx::FromBytes(f.Bytes().first(RecordSize(f)));
  if (copy.wFormatTag() == WAVE_FORMAT_PCM) copy.set_cbSize(0);
  return copy;
}

}  // namespace

TMMACM::TMMACM(TComponent* owner)
    : TMMNonVisualComponent(owner), title_(LoadMMResString(SACMSelect)) {
  Probe();
}

TMMACM::~TMMACM() = default;

void TMMACM::Probe() {
  if (!ACMLoaded()) {
    ShowMessageBox(LoadMMResString(SACMNotInstalled), "");
    return;
  }
  const uint32_t version = ACMEntryPoints().acmGetVersion();
  if ((version >> 16) < 0x0200) {
    char text[512];
    std::snprintf(text, sizeof text, LoadMMResString(SACMVersion).c_str(),
                  static_cast<unsigned>(version >> 24), static_cast<unsigned>((version >> 16) & 0xFF));
    ShowMessageBox(text, "");
    return;
  }
  acm_present_ = true;
  num_drivers_ = static_cast<int>(Metric(ACM_METRIC_COUNT_DRIVERS));
  num_codecs_ = static_cast<int>(Metric(ACM_METRIC_COUNT_CODECS));
  num_converters_ = static_cast<int>(Metric(ACM_METRIC_COUNT_CONVERTERS));
  num_filters_ = static_cast<int>(Metric(ACM_METRIC_COUNT_FILTERS));
  max_format_size_ = Metric(ACM_METRIC_MAX_SIZE_FORMAT);
  max_filter_size_ = Metric(ACM_METRIC_MAX_SIZE_FILTER);
}

uint32_t TMMACM::Metric(uint32_t metric) const {
  uint32_t value = 0;
  return ACMEntryPoints().acmMetrics(nullptr, metric, value) == MMSYSERR_NOERROR ? value : 0;
}

void TMMACM::SetSource(TMMCustomWaveFile* value) {
  if (source_ == value) return;
  if (source_) source_->RemoveFreeNotification(this);
  source_ = value;
  if (source_) source_->FreeNotification(this);
}

void TMMACM::Notification(TComponent* component, TOperation operation) {
  TMMNonVisualComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == source_) source_ = nullptr;
}

void TMMACM::SetFormat(PWaveFormatEx format) {
  if (!format) return;
  const uint32_t size = RecordSize(*format);
  ACMFORMATDETAILS details;
  details.wfx = size ? Trimmed(*format) : WaveFormatEx();
  const bool known = acm_present_ && size > 0 && size <= max_format_size_ &&
                     ACMEntryPoints().acmFormatDetailsA(nullptr, details,
                                                        ACM_FORMATDETAILSF_FORMAT) ==
                         MMSYSERR_NOERROR;
  if (!known) throw EMMACMError(LoadMMResString(SInvalidWaveFormat));
  format_ = details.wfx;
}

bool TMMACM::GetFormatDescription(PWaveFormatEx format, std::string& tag_name,
                                  std::string& format_text) const {
  if (!format) return false;
  const TACMEntryPoints& acm = ACMEntryPoints();
  ACMFORMATTAGDETAILS tag;
  tag.dwFormatTag = format->wFormatTag();
  ACMFORMATDETAILS details;
  details.dwFormatTag = format->wFormatTag();
  details.wfx = *format;
  const bool with_acm = acm_present_ && ACMAvailable();
  tag_name = with_acm && acm.acmFormatTagDetailsA(nullptr, tag, ACM_FORMATTAGDETAILSF_FORMATTAG) ==
                             MMSYSERR_NOERROR
                 ? tag.szFormatTag
                 : wfGetFormatName(format);
  format_text = with_acm && acm.acmFormatDetailsA(nullptr, details, ACM_FORMATDETAILSF_FORMAT) ==
                                MMSYSERR_NOERROR
                    ? details.szFormat
                    : wfGetFormatString(format);
  return true;
}

bool TMMACM::ChooseFormat(PWaveFormatEx format, const std::string& title) {
  if (!acm_present_) return false;
  ACMFORMATCHOOSE choose;
  WaveFormatEx buffer = format_;
  if (format) {
    const uint32_t size = RecordSize(*format);
    if (size == 0) throw EMMACMError(LoadMMResString(SInvalidWaveFormat));
    max_format_size_ = std::max(max_format_size_, size);
    buffer = Trimmed(*format);
    choose.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
  }
  choose.hwndOwner = Owner();
  choose.pwfx = &buffer;
  choose.cbwfx = max_format_size_;
  choose.pszTitle = title;
  choose.fdwEnum = EnumFlags(enum_formats_, format != nullptr);
  choose.pwfxEnum = choose.fdwEnum & (ACM_FORMATENUMF_CONVERT | ACM_FORMATENUMF_SUGGEST |
                                      ACM_FORMATENUMF_WFORMATTAG)
                        ? format
                        : nullptr;
  const auto choose_once = [&] { return ACMEntryPoints().acmFormatChooseA(choose); };
  MMRESULT result = choose_once();
  if (result != MMSYSERR_NOERROR && result != ACMERR_CANCELED) result = choose_once();
  if (format) {
    // The buffer holds the given format from now on, whatever the user does.
    format_ = buffer;
  }
  if (result == ACMERR_CANCELED) return false;
  if (result != MMSYSERR_NOERROR) {
    throw EMMACMError("acmFormatChoose failed with error " + std::to_string(result));
  }
  format_ = Trimmed(buffer);
  return true;
}

}  // namespace pmx
