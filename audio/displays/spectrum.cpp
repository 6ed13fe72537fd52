#include "audio/displays/spectrum.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "audio/core/dsp/pcm_support.h"
#include "audio/core/objects/mm_strings.h"
#include "audio/core/ui/gui_utils.h"

namespace pmx {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Log units: 8192 per doubling of power, and how many make a decibel.
const double kLogUnit = 8192 / std::log(2.0);
const double kUnitsPerDb = 819.2 * std::log2(10.0);
constexpr double kDbRange = 60;
constexpr int kFactorFloor = 4096;

// Spectrum displays resetting now, process-wide: a reset never nests.
std::atomic<int> g_resetting{0};

// Doubles value until it reaches kFactorFloor, counting the doublings in shift.
double ScaleUp(double value, int& shift) {
  while (value < kFactorFloor && shift < 40) {
    value *= 2;
    ++shift;
  }
  return value;
}

}  // namespace

TMMSpectrum::TMMSpectrum(TComponent* owner, QWidget* parent)
    : TMMFrequencyDisplay(owner, parent),
      results_(TMMBinDecay::kMaxBins),
      amp_offset_(TMMBinDecay::kMaxBins),
      inactive_(std::make_unique<TMMDIBCanvas>(this)) {
  // The scrolling kind builds its picture refresh by refresh, and the measuring
  // box lives in what is shown: an exposure must not draw a fresh frame over them.
  KeepPictureOnExpose();
  SetColor(clBlack);
  setCursor(ScreenCursor(crCross));
  SetBounds(0, 0, 194, 89);
  SetFFTLength(128);
  if (!Designing()) timer_client_.Add([this] { PeakTimer(); }, false);
}

TMMSpectrum::~TMMSpectrum() = default;

// ---- properties ----

void TMMSpectrum::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  if (!value) {
    EndInfoMode();
    Clear();
    SetTimerSuspended(true);
  } else {
    Reset();
    if (num_peaks_ > 0) SetTimerSuspended(false);
  }
  Invalidate();
}

void TMMSpectrum::SetKind(TMMSpectrumKind value) {
  if (kind_ == value) return;
  kind_ = value;
  SpotLayout();
  ClearBars();
  Invalidate();
}

void TMMSpectrum::SetFFTLength(int value) {
  if (!input_.SetLength(value)) return;
  BuildBinMap();
  Reset();
  Invalidate();
}

void TMMSpectrum::SetWindow(TMMFFTWindow value) { input_.Transform().SetWindow(value); }

void TMMSpectrum::SetSampleRate(int value) {
  if (!input_.SetSampleRate(value)) return;
  BuildBinMap();
  Reset();
  Invalidate();
}

void TMMSpectrum::SetLogFreq(bool value) {
  if (log_freq_ == value) return;
  log_freq_ = value;
  BuildBinMap();
  Reset();
  Invalidate();
}

void TMMSpectrum::SetFrequencyScale(int value) {
  value = static_cast<int>(std::bit_floor(static_cast<unsigned>(std::clamp(value, 1, 16))));
  if (frequency_scale_ == value) return;
  frequency_scale_ = value;
  zoom_ = value;
  BuildBinMap();
  Reset();
  Invalidate();
}

void TMMSpectrum::SetLogAmp(bool value) {
  if (log_amp_ == value) return;
  log_amp_ = value;
  BuildAmplitudeTables();
  Reset();
  Invalidate();
}

void TMMSpectrum::SetGain(TMMSpectrumGain value) {
  if (gain_ == value) return;
  gain_ = value;
  emphasis_order_ = static_cast<int>(value) / 2;
  emphasis_3db_ = static_cast<int>(value) % 2 != 0;
  BuildAmplitudeTables();
  ClearBars();
  Invalidate();
}

void TMMSpectrum::SetRefFreq(int value) {
  value = std::clamp(value, 1, 44100);
  if (ref_freq_ == value) return;
  ref_freq_ = value;
  BuildAmplitudeTables();
  ClearBars();
  Invalidate();
}

void TMMSpectrum::SetVerticalScale(int value) {
  value = std::clamp(value, 1, 500);
  if (vertical_scale_ == value) return;
  vertical_scale_ = value;
  BuildAmplitudeTables();
  ClearBars();
  Invalidate();
}

void TMMSpectrum::SetNumPeaks(int value) {
  if (value < 0 || value > 5 || value == num_peaks_) return;
  num_peaks_ = value;
  ClearBars();
  if (value == 0) {
    SetTimerSuspended(true);
  } else if (enabled_) {
    SetTimerSuspended(false);
  }
  Invalidate();
}

void TMMSpectrum::SetPeakDelay(int value) {
  if (value < 0 || value > 50 || value == peak_delay_) return;
  peak_delay_ = value;
  ClearBars();
  Invalidate();
}

void TMMSpectrum::SetPeakSpeed(int value) {
  if (value < 0 || value > 50 || value == peak_speed_) return;
  peak_speed_ = value;
  ClearBars();
  Invalidate();
}

void TMMSpectrum::SetSpace(int value) {
  if (value < 0 || value > 5 || value == space_) return;
  space_ = value;
  ClearBars();
  BuildInactivePicture();
  Invalidate();
}

void TMMSpectrum::SetSpotSpace(int value) {
  if (value < 0 || value > 10 || value == spot_space_) return;
  spot_space_ = value;
  SpotLayout();
  ClearBars();
  Invalidate();
}

void TMMSpectrum::SetSpotHeight(int value) {
  if (value < 1 || value > height_ / 3 || value == spot_height_) return;
  spot_height_ = value;
  SpotLayout();
  ClearBars();
  Invalidate();
}

void TMMSpectrum::SetPoint1(int value) {
  if (value < 1 || value > 100 || value == point1_) return;
  point1_ = value;
  SpotLayout();
  Invalidate();
}

void TMMSpectrum::SetPoint2(int value) {
  if (value < 1 || value > 100 || value == point2_) return;
  point2_ = value;
  SpotLayout();
  Invalidate();
}

void TMMSpectrum::SetColors(ColorIndex index, TColor value) {
  if (colors_.at(index) == value) return;
  colors_[index] = value;
  BuildInactivePicture();
  Invalidate();
}

void TMMSpectrum::SetInactiveDoted(bool value) {
  if (inactive_doted_ == value) return;
  inactive_doted_ = value;
  BuildInactivePicture();
  Invalidate();
}

void TMMSpectrum::SetOnDrawBar(TMMSpectrumDrawBar value) {
  on_draw_bar_ = std::move(value);
  if (!on_draw_bar_) BuildInactivePicture();
  Invalidate();
}

void TMMSpectrum::SetOnGetXScale(TMMSpectrumGetXScale value) {
  on_get_x_scale_ = std::move(value);
  BuildBinMap();
  Reset();
  Invalidate();
}

void TMMSpectrum::SetDesignMode(bool value) {
  TMMDIBGraphicControl::SetDesignMode(value);
  if (Designing()) return;
  timer_client_.Add([this] { PeakTimer(); }, !enabled_ || num_peaks_ == 0);
  Clear();
  Invalidate();
}

void TMMSpectrum::SetBitsPerPixel(int bits) {
  if (bits != 8 && bits != 24) throw EMMDIBError("Bitlength not supported yet");
  DIBCanvas().SetBitsPerPixel(bits);
  inactive_->SetBitsPerPixel(bits);
  BuildInactivePicture();
  Invalidate();
}

void TMMSpectrum::ColorChanged() {
  BuildInactivePicture();
  TMMDIBGraphicControl::ColorChanged();
}

void TMMSpectrum::Loaded() {
  TMMDIBGraphicControl::Loaded();
  BuildBinMap();
  Reset();
  Invalidate();
}

// ---- feed ----

void TMMSpectrum::SetPCMWaveFormat(PWaveFormatEx format) {
  if (!ValidPCMFormat(format)) throw EMMSpectrumError(LoadMMResString(SInvalidWaveFormatDisplay));
  if (input_.SetFormat(*format)) {
    BuildBinMap();
    Reset();
  }
  Invalidate();
}

void TMMSpectrum::RefreshPCMData(const void* data) {
  if (!enabled_ || !Visible() || info_mode_ || !data) return;
  std::array<int32_t, TMMSpectrumTransform::kMaxLength> values;
  const int overflows = input_.ReadEmphasized(data, emphasis_order_, values.data());
  for (int i = 0; i < overflows && OnPcmOverflow; ++i) OnPcmOverflow(this);
  input_.Transform().Run(values.data(), input_.EightBit());
  ComputeResults();
  PaintDirect([this](QPainter& dc) { DrawFrame(dc, true); });
}

void TMMSpectrum::ComputeResults() {
  std::lock_guard lock(data_lock_);
  const TMMSpectrumTransform& transform = input_.Transform();
  const int bins = transform.Length() / 2;
  if (decay_.Mode() == TMMDecayMode::dmNone && log_amp_) {
    for (int j = 0; j < bins; ++j) {
      const int64_t p = transform.Power(j);
      const double r = p > 0 ? std::trunc(std::log(static_cast<double>(p)) * kLogUnit - amp_offset_[j]) : 0;
      results_[j] = static_cast<int32_t>(std::max(r, 0.0));
    }
    return;
  }
  decay_.Advance();
  for (int j = 0; j < bins; ++j) {
    const auto m = static_cast<int32_t>(16 * std::sqrt(static_cast<double>(transform.Power(j))));
    results_[j] = decay_.Apply(j, m);
  }
}

void TMMSpectrum::ResetData() {
  EndInfoMode();
  Clear();
  PaintDirect([this](QPainter& dc) { Paint(dc); });
}

void TMMSpectrum::Reset() {
  if (Loading() || g_resetting > 0) return;
  struct Nesting {
    Nesting() { ++g_resetting; }
    ~Nesting() { --g_resetting; }
  } nesting;
  Clear();
}

void TMMSpectrum::Clear() {
  input_.Transform().Clear();
  ClearBars();
  {
    std::lock_guard lock(data_lock_);
    std::fill(results_.begin(), results_.end(), 0);
    loudest_ = {};
    decay_.Reset();
    if (enabled_ && !OnNeedData && Designing()) {
      // A picture for the form designer.
      for (int32_t& r : results_) r = std::rand() % 32767;
    }
  }
  if (enabled_ && OnNeedData) OnNeedData(this);
}

int TMMSpectrum::BinResult(int bin) const {
  std::lock_guard lock(data_lock_);
  return results_.at(bin);
}

int TMMSpectrum::LoudestValue() const {
  std::lock_guard lock(data_lock_);
  return loudest_.value;
}

void TMMSpectrum::ClearBars() {
  for (int i = 0; i < bar_capacity_; ++i) {
    TMMSpectrumBar& bar = bars_[i];
    bar.first = -1;
    bar.end = bar.value = bar.peak = bar.hold = 0;
  }
}

std::vector<TMMSpectrum::BarState> TMMSpectrum::Bars() const {
  std::vector<BarState> list;
  for (int i = 0; i < bar_capacity_ && bars_[i].first >= 0; ++i) {
    const TMMSpectrumBar& bar = bars_[i];
    list.push_back({bar.first, bar.end, bar.value, bar.peak});
  }
  return list;
}

void TMMSpectrum::PeakTimer() {
  if (num_peaks_ <= 0 || !bars_ || info_mode_) return;
  for (int i = 0; i < bar_capacity_ && bars_[i].first >= 0; ++i) {
    TMMSpectrumBar& bar = bars_[i];
    if (bar.peak <= 0 || --bar.hold > 0) continue;
    const int speed = peak_speed_;
    if (speed != 0) {
      --bar.peak;
      bar.hold = speed;
    } else {
      bar.peak = 0;
      bar.hold = 0;
    }
  }
}

// ---- layout ----

int TMMSpectrum::MinWidth() const {
  return 2 * Bevel()->BevelExtent() + (draw_amp_scale_ ? 69 : 5);
}

int TMMSpectrum::MinHeight() const {
  return 2 * Bevel()->BevelExtent() + (draw_freq_scale_ ? 45 : 5);
}

void TMMSpectrum::SetBounds(int left, int top, int width, int height) {
  TMMDIBGraphicControl::SetBounds(left, top, std::max(width, MinWidth()),
                                  std::max(height, MinHeight()));
}

void TMMSpectrum::UpdateLayout() {
  TRect r = ClientRect();
  if (draw_amp_scale_) {
    r.Left += kAmpScaleWidth;
    r.Right -= kAmpScaleWidth;
  }
  if (draw_freq_scale_) r.Bottom -= kFreqScaleHeight;
  picture_ = r.Inset(Bevel()->BevelExtent());
  width_ = std::max(picture_.Width(), 4);
  height_ = std::max(picture_.Height(), 4);
  if (width_ + 1 != bar_capacity_) {
    // The timer must not walk the list while it moves; a suspension counts, so
    // this pair leaves any other suspension as it was.
    const PMMTimerClient client = timer_client_.Client();
    if (client) MMTimerSuspendClient(client);
    bars_ = std::make_unique<TMMSpectrumBar[]>(width_ + 1);
    bar_capacity_ = width_ + 1;
    if (client) MMTimerResumeClient(client);
  }
  first_bin_.assign(width_ + 10, 0);
  end_bin_.assign(width_ + 10, 0);
  column_factor_.assign(width_, 0);
  DIBCanvas().SetSize(width_, height_);
  inactive_->SetSize(width_, height_);
  SpotLayout();
  BuildBinMap();
  Reset();
}

void TMMSpectrum::SpotLayout() {
  const int pitch = spot_height_ + spot_space_;
  spots_ = std::max(1, (height_ + spot_space_) / pitch);
  spot_offset_ = (spot_space_ + height_ - pitch * spots_) / 2;
  auto zone = [this](int point) -> int {
    switch (kind_) {
      case TMMSpectrumKind::skBars:
      case TMMSpectrumKind::skPeaks:
        return static_cast<int>(std::nearbyint(point * spots_ / 100.0));
      case TMMSpectrumKind::skScroll:
        return static_cast<int>(std::nearbyint(point * height_ / 3.0 / 100));
      case TMMSpectrumKind::skDots:
        return static_cast<int>(std::nearbyint(height_ - point * height_ / 100.0));
      default:
        return static_cast<int>(std::nearbyint(point * height_ / 100.0));
    }
  };
  z1_ = zone(point1_);
  z2_ = zone(point2_);
  line_offset_ = kind_ == TMMSpectrumKind::skScroll ? height_ - height_ / 3 : 1;
  BuildInactivePicture();
  Reset();
}

void TMMSpectrum::BuildBinMap() {
  if (Loading() || first_bin_.empty()) return;
  const double n = input_.Length();
  const double rate = input_.Rate();
  zoom_ = std::clamp(zoom_, 1.0, 16.0);
  if (log_freq_) {
    low_freq_ = std::clamp(low_freq_, rate / n, (rate / 2) / std::pow(n / 2, 1 / zoom_));
  } else {
    low_freq_ = std::max(0.0, low_freq_);
    if (low_freq_ + rate / (2 * zoom_) > rate / 2) low_freq_ = rate / 2 - rate / (2 * zoom_);
  }
  const int last_bin = input_.Length() / 2 - 1;
  if (on_get_x_scale_) {
    on_get_x_scale_(this, first_bin_, end_bin_);
    first_bin_.resize(width_ + 10, -1);
    end_bin_.resize(width_ + 10, 0);
    // A handler's numbers become indices: keep them inside the spectrum.
    for (int i = 0; i < width_; ++i) {
      first_bin_[i] = std::clamp(first_bin_[i], -1, last_bin);
      end_bin_[i] = std::clamp(end_bin_[i], 0, last_bin + 1);
    }
  } else {
    MapColumns(low_freq_);
    for (int i = 0; i < width_; ++i) {
      if (first_bin_[i] + 1 >= end_bin_[i]) end_bin_[i] = 0;
    }
  }
  for (int i = width_ - 1; i >= 1; --i) {
    if (first_bin_[i] == first_bin_[i - 1]) {
      first_bin_[i] = -1;
      end_bin_[i] = 0;
    }
  }
  BuildAmplitudeTables();
  BuildInactivePicture();
  Invalidate();
}

void TMMSpectrum::MapColumns(double low) {
  const double n = input_.Length();
  const double w = width_;
  const int last_bin = input_.Length() / 2 - 1;
  for (int i = 0; i < width_; ++i) {
    double bin;
    if (log_freq_) {
      bin = std::floor(std::pow((n + 1) / 2, (i - 0.45) / (w * zoom_)) * n * low / input_.Rate() + 0.51) - 1;
    } else {
      bin = std::floor(i / w * n / 2 / zoom_ + low / input_.Rate() * n + 0.01);
    }
    const int k = std::clamp(static_cast<int>(bin), 0, last_bin);
    first_bin_[i] = k;
    if (i > 0) end_bin_[i - 1] = k;
  }
  end_bin_[width_ - 1] = 0;
}

void TMMSpectrum::BuildAmplitudeTables() {
  if (Loading() || column_factor_.empty()) return;
  const double h = height_;
  const double vs = vertical_scale_ / 100.0;
  const double rate = input_.Rate();
  const double ref = ref_freq_;
  const int n = input_.Length();
  if (!log_amp_) {
    amp_shift_ = 4;
    double x = h / (std::sqrt(ref) * vs * 32768);
    if (emphasis_order_ == 1) x *= rate / (2 * kPi * ref);
    if (emphasis_order_ == 2) x *= rate * rate / (4 * kPi * kPi * ref * ref);
    if (!emphasis_3db_) {
      const double y = ScaleUp(std::sqrt(ref) * x, amp_shift_);
      for (int i = 0; i < width_; ++i) {
        column_factor_[i] = first_bin_[i] >= 0 ? static_cast<int64_t>(std::floor(y + 0.5)) : 0;
      }
    } else {
      while (std::sqrt(rate / 2) * x < kFactorFloor && amp_shift_ < 44) {
        x *= 2;
        ++amp_shift_;
      }
      for (int i = 0; i < width_; ++i) {
        const int k = first_bin_[i];
        column_factor_[i] =
            k >= 0 ? static_cast<int64_t>(std::nearbyint(x * std::sqrt((k + 1) * rate / n) + 0.5)) : 0;
      }
    }
    return;
  }
  const double pixels_per_unit = h / (kDbRange * kUnitsPerDb);
  const double full_scale = 20 * std::log10(32768.0);
  double g = kUnitsPerDb * (full_scale - kDbRange);
  if (emphasis_order_ > 0) {
    const double q = emphasis_order_ == 1 ? 20 : 40;
    g = kUnitsPerDb * (full_scale - q * std::log10(rate / (2 * kPi * ref)) - kDbRange);
  }
  amp_shift_ = 0;
  const auto factor = static_cast<int64_t>(std::floor(ScaleUp(pixels_per_unit, amp_shift_) + 0.5));
  std::fill(column_factor_.begin(), column_factor_.end(), factor);
  for (int j = 0; j < n / 2; ++j) {
    const double tilt = emphasis_3db_ ? kUnitsPerDb * 10 * std::log10((j + 1) * rate / n / ref) : 0;
    amp_offset_[j] = static_cast<int32_t>(std::floor(g + 0.5 - tilt));
  }
}

int TMMSpectrum::BarValue(int first_bin, int end_bin, int column) const {
  int best = first_bin;
  for (int k = first_bin + 1; k < end_bin; ++k) {
    if (results_[k] > results_[best]) best = k;
  }
  const int64_t m = results_[best];
  if (m < 1) return 0;
  if (log_amp_ && decay_.Mode() != TMMDecayMode::dmNone) {
    const double pixels_per_unit = height_ / (kDbRange * kUnitsPerDb);
    const double v = (2 * std::log(m / 16.0) * kLogUnit - amp_offset_[best]) * pixels_per_unit;
    return static_cast<int>(std::clamp(std::trunc(v), 0.0, 1e9));
  }
  // M x factor passes 32 bits on the dB paths and at full scale.
  return static_cast<int>(std::min<int64_t>((m * column_factor_[column]) >> amp_shift_, 1 << 30));
}

double TMMSpectrum::ColumnFrequency(double x) const {
  const double rate = input_.Rate();
  const double last = std::max(1, width_ - 1);
  double f;
  if (log_freq_) {
    f = low_freq_ * std::pow(input_.Length() / 2.0, x / (last * zoom_));
  } else {
    f = low_freq_ + x * (rate / 2 - low_freq_) / last / zoom_;
  }
  return std::max(0.0, f);
}

double TMMSpectrum::BinFrequency(int bin) const {
  const double step = static_cast<double>(input_.Rate()) / input_.Length();
  if (!log_freq_) return (bin + 0.5) * step;
  return bin > 1 ? bin * step : (bin + 0.25) * step;
}

}  // namespace pmx
