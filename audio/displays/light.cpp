#include "audio/displays/light.h"

#include <QPainter>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "audio/core/dsp/pcm_support.h"
#include "audio/core/objects/mm_strings.h"
#include "audio/displays/dib_primitives.h"

namespace pmx {
namespace {

constexpr int kLights = 3;
constexpr double kAmplitudeUnit = 0.01;
constexpr double kGainUnit = 0.0005;
// Band edges: the geometric means between the centres 150, 750 and 1750 Hz.
const std::array<double, kLights> kBandEdges{0, std::sqrt(150.0 * 750), std::sqrt(750.0 * 1750)};

TColor LightColor(int light, int a) {
  const auto v = static_cast<uint8_t>(a);
  switch (light) {
    case 0:
      return RGBColor(v, 0, 0);
    case 1:
      return RGBColor(0, v, 0);
    default:
      return RGBColor(v, v, 0);
  }
}

}  // namespace

TMMLight::TMMLight(TComponent* owner, QWidget* parent)
    : TMMDIBGraphicControl(owner, parent), magnitudes_(TMMBinDecay::kMaxBins) {
  SetPaletteRealize(true);
  SetColor(clBlack);
  SetBounds(0, 0, 194, 90);
  SetFFTLength(128);
}

TMMLight::~TMMLight() = default;

void TMMLight::SetPeakMode(TMMLightPeakMode value) {
  if (peak_mode_ == value) return;
  peak_mode_ = value;
  PaintDirect([this](QPainter& dc) { Show(dc); });
}

int TMMLight::AmplitudeScale() const {
  return static_cast<int>(std::nearbyint(amplitude_factor_ / kAmplitudeUnit));
}

void TMMLight::SetAmplitudeScale(int value) {
  amplitude_factor_ = static_cast<float>(std::clamp(value, 0, 1000) * kAmplitudeUnit);
  ResetLights();
}

int TMMLight::BandGain(int band) const {
  return static_cast<int>(std::nearbyint(gain_factors_.at(band) / kGainUnit));
}

void TMMLight::SetBandGain(int band, int value) {
  gain_factors_.at(band) = static_cast<float>(std::clamp(value, 0, 1000) * kGainUnit);
  ResetLights();
}

void TMMLight::SetFFTLength(int value) {
  if (!input_.SetLength(value)) return;
  BandLimits();
  Rebuild();
}

void TMMLight::SetSampleRate(int value) {
  if (!input_.SetSampleRate(value)) return;
  BandLimits();
  Rebuild();
}

void TMMLight::Loaded() {
  TMMDIBGraphicControl::Loaded();
  BandLimits();
  Rebuild();
}

// ---- feed ----

void TMMLight::SetPCMWaveFormat(PWaveFormatEx format) {
  if (!ValidPCMFormat(format)) throw EMMLightError(LoadMMResString(SInvalidWaveFormatDisplay));
  if (!input_.SetFormat(*format)) return;
  BandLimits();
  Rebuild();
}

void TMMLight::RefreshPCMData(const void* data) {
  if (!enabled_ || !Visible() || !data) return;
  const int n = input_.Length();
  const bool eight_bit = input_.EightBit();
  const TMMChannelLayout& layout = input_.Layout();
  const bool mean = layout.mode > 0 && layout.channel == TMMChannel::chBoth;
  std::array<int32_t, TMMSpectrumTransform::kMaxLength> values;
  const int overflows = input_.Read(data, values.data(), eight_bit ? 255 : (mean ? 32766 : 32767));
  for (int i = 0; i < overflows && OnPcmOverflow; ++i) OnPcmOverflow(this);
  if (eight_bit) {
    for (int i = 0; i < n; ++i) values[i] -= 128;
  }
  TMMSpectrumTransform& transform = input_.Transform();
  transform.Run(values.data(), eight_bit);
  bool changed = false;
  {
    std::lock_guard lock(data_lock_);
    ComputeBands(transform);
    for (int i = 0; i < kLights; ++i) changed |= LightIntensity(i) != records_[i].intensity;
  }
  // The picture is only its colours: when none changed there is nothing to show.
  if (changed) PaintDirect([this](QPainter& dc) { Show(dc); });
}

void TMMLight::ComputeBands(const TMMSpectrumTransform& transform) {
  const int n = transform.Length();
  decay_.Advance();
  for (int j = 0; j < n / 2; ++j) {
    const double magnitude = std::sqrt(static_cast<double>(transform.Power(j))) * amplitude_factor_;
    magnitudes_[j] = decay_.Apply(j, static_cast<int32_t>(magnitude));
  }
  int out = 0;
  for (const Band& band : bands_) {
    if (band.first >= 0) records_[out++].value = CombineBand(band);
  }
}

int TMMLight::CombineBand(const Band& band) const {
  const int b = band.first;
  const int e = band.end;
  int64_t v = magnitudes_[b];
  if (e == 0) return static_cast<int>(v);
  double squares = magnitudes_[b];
  int64_t sum = 0;
  for (int k = b; k < e; ++k) {
    const int64_t m = magnitudes_[k];
    if (peak_mode_ == TMMLightPeakMode::pmPeak) v = std::max(v, m);
    sum += m;
    squares += m * (m + 0.1);
  }
  if (peak_mode_ == TMMLightPeakMode::pmAverage) v = (v + sum) / (1 + e - b);
  if (peak_mode_ == TMMLightPeakMode::pmRMS) v = static_cast<int64_t>(std::sqrt(squares / std::max(e - b, 1)));
  return static_cast<int>(std::min<int64_t>(v, INT32_MAX));
}

void TMMLight::ResetData() {
  ResetLights();
  PaintDirect([this](QPainter& dc) { Show(dc); });
}

void TMMLight::ResetLights() {
  std::lock_guard lock(data_lock_);
  if (Designing() && enabled_) {
    for (int32_t& m : magnitudes_) m = std::rand() % 32767;
  } else {
    std::fill(magnitudes_.begin(), magnitudes_.end(), 0);
    input_.Transform().Clear();
    decay_.Reset();
  }
  for (Record& record : records_) record = {-1, 0};
}

int TMMLight::Intensity(int light) const {
  std::lock_guard lock(data_lock_);
  return records_.at(light).intensity;
}

int TMMLight::BandValue(int light) const {
  std::lock_guard lock(data_lock_);
  return records_.at(light).value;
}

// ---- bands and lights ----

void TMMLight::BandLimits() {
  if (Loading()) return;
  const int n = input_.Length();
  for (int j = 0; j < kLights; ++j) {
    const double bin = std::nearbyint(kBandEdges[j] / input_.Rate() * n);
    bands_[j].first = static_cast<int>(std::clamp(bin, 0.0, n / 2.0));
  }
  for (int j = 0; j < kLights; ++j) {
    bands_[j].end = j + 1 < kLights ? bands_[j + 1].first : n / 2 - 1;
    if (bands_[j].first + 1 >= bands_[j].end) bands_[j].end = 0;
  }
  for (int j = kLights - 1; j >= 1; --j) {
    if (bands_[j].first == bands_[j - 1].first) bands_[j] = {-1, 0};
  }
}

int TMMLight::LightIntensity(int light) const {
  const double weight = gain_factors_[light] * (1 << light);
  return static_cast<int>(std::clamp(std::trunc(records_[light].value * weight), 0.0, 255.0));
}

void TMMLight::Show(QPainter& dc) {
  TMMDIBCanvas& canvas = DIBCanvas();
  std::lock_guard lock(data_lock_);
  canvas.BeginAnimate();
  for (int i = 0; i < kLights; ++i) {
    const int a = LightIntensity(i);
    if (a == records_[i].intensity) continue;
    records_[i].intensity = a;
    SetLightColors(i, a);
  }
  canvas.EndAnimate();
  canvas.DrawToDC(dc, QRect(inner_.Left, inner_.Top, inner_width_, inner_height_), 0, 0);
}

void TMMLight::SetLightColors(int light, int a) {
  TMMDIBCanvas& canvas = DIBCanvas();
  if (kind_ == TMMLightKind::lkCircle) {
    canvas.SetAnimatedColor(light, LightColor(light, a));
    return;
  }
  const double zones = zone_count_;
  for (int z = 0; z < zone_count_; ++z) {
    const double d = std::min<double>(zone_count_ - z - 1, std::trunc(zones * sphere_horz_));
    int zone_intensity = 0;
    if (sphere_horz_ != 0 && sphere_vert_ != 0) {
      const double across = zones * zones - (d / sphere_horz_) * (d / sphere_horz_);
      const double g = std::trunc(sphere_vert_ * std::sqrt(std::max(0.0, across)));
      const double h = std::trunc(g / (zones * sphere_vert_) * 255);
      zone_intensity = static_cast<int>(a / 255.0 * h);
    }
    canvas.SetAnimatedColor(light * zone_count_ + z, LightColor(light, zone_intensity));
  }
}

void TMMLight::Paint(QPainter& canvas) {
  TMMDIBGraphicControl::Paint(canvas);
  Show(canvas);
}

void TMMLight::SetBounds(int left, int top, int width, int height) {
  const int least = 2 * Bevel()->BevelExtent() + 5;
  TMMDIBGraphicControl::SetBounds(left, top, std::max(width, least), std::max(height, least));
}

void TMMLight::BevelChanged() {
  inner_ = GetInnerRect();
  inner_width_ = std::max(4, inner_.Width());
  inner_height_ = std::max(4, inner_.Height());
  DIBCanvas().SetSize(inner_width_, inner_height_);
  Rebuild();
}

void TMMLight::Rebuild() {
  if (Loading()) return;
  TMMDIBCanvas& canvas = DIBCanvas();
  // In 64 bits: a zone count past the canvas's colours must not wrap to a small one.
  const int64_t animated = kind_ == TMMLightKind::lkCircle ? kLights : int64_t{zone_count_} * kLights;
  canvas.SetAnimatedColors(static_cast<int>(std::min<int64_t>(animated, INT_MAX)));
  ResetLights();
  {
    TMMDIBDrawing section(canvas);
    canvas.SetDrawColor(Color());
    DIBClear(canvas);
    DrawLights();
  }
  update();
}

TRect TMMLight::LightSquare(int light) const {
  // In 64 bits: a gap of any size leaves r below 1 instead of wrapping.
  const int64_t w = inner_width_;
  const int64_t h = inner_height_;
  const int64_t g = triangle_dist_ / 2;
  int64_t r;
  int64_t box_w;
  int64_t box_h;
  int64_t x;
  int64_t y;
  if (arrange_ == TMMLightArrange::laLine) {
    const bool across = w >= h;
    int64_t long_side = across ? w : h;
    int64_t short_side = across ? h : w;
    if (3 * short_side <= long_side) {
      long_side = 3 * short_side;
    } else {
      short_side = long_side / 3;
    }
    r = (long_side / 3) / 2 - g;
    const int64_t along = 2 * light * r + (2 * light + 1) * g;
    box_w = across ? long_side : short_side;
    box_h = across ? short_side : long_side;
    x = across ? along : g;
    y = across ? g : along;
  } else {
    r = (std::min(w, h) - 4 * g) / 4;
    const int64_t a = g + r;
    box_w = 4 * a;
    box_h = static_cast<int64_t>(static_cast<double>(a) * 3.7320508);
    x = (light == 0 ? a : light == 1 ? 2 * a : 3 * a) - r;
    y = (light == 1 ? box_h - a : a) - r;
  }
  if (r < 1) return {};
  const auto left = static_cast<int>(x + (w - box_w) / 2);
  const auto top = static_cast<int>(y + (h - box_h) / 2);
  const auto side = static_cast<int>(2 * r);
  return {left, top, left + side, top + side};
}

void TMMLight::DrawLights() {
  TMMDIBCanvas& canvas = DIBCanvas();
  for (int i = 0; i < kLights; ++i) {
    const TRect square = LightSquare(i);
    const int side = square.Width();
    if (side < 2) continue;
    const int zones = kind_ == TMMLightKind::lkCircle ? 1 : zone_count_;
    for (int z = 0; z < zones; ++z) {
      const int inset = static_cast<int>(static_cast<double>(side) / zones * 0.5 * z);
      const int radius = side / 2 - inset;
      canvas.SetDrawIndex(static_cast<uint32_t>(canvas.AnimatedIndex(i * zones + z)));
      DIBEllipse(canvas, square.Left + side / 2, square.Top + side / 2, radius, radius);
    }
  }
}

}  // namespace pmx
