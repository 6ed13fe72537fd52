#include "audio/displays/oscope.h"

#include <QPainter>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <span>

#include "audio/core/dsp/pcm_support.h"
#include "audio/core/objects/mm_strings.h"
#include "audio/displays/spectrum_math.h"

namespace pmx {
namespace {

TMMDisplayGroup g_oscopes;

}  // namespace

TMMOscope::TMMOscope(TComponent* owner, QWidget* parent)
    : TMMScanDisplay(owner, parent, g_oscopes) {
  min_bar_width_ = 1;
  SetColor(clBlack);
  SetBounds(0, 0, 194, 90);
  UpdateLayout();
}

TMMOscope::~TMMOscope() = default;

// ---- properties ----

void TMMOscope::SetEffect(TMMOscopeEffect value) {
  effect_ = value;
  UpdateLayout();
  Invalidate();
}

void TMMOscope::SetBitLength(TMMBits value) {
  if (bits_ == value) return;
  bits_ = value;
  UpdateBytesPerRefresh();
  Invalidate();
}

void TMMOscope::SetChannel(TMMChannel value) {
  if (channel_ == value) return;
  channel_ = value;
  Invalidate();
}

void TMMOscope::SetMode(TMMMode value) {
  if (mode_ == static_cast<int>(value)) return;
  mode_ = static_cast<int>(value);
  UpdateBytesPerRefresh();
  Invalidate();
}

void TMMOscope::SetSampleRate(int value) {
  value = std::clamp(value, 8000, 88200);
  if (sample_rate_ == value && rate_ == value) return;
  sample_rate_ = rate_ = value;
  Invalidate();
}

void TMMOscope::SetZoom(int value) {
  if (value == 0) return;
  value = std::clamp(value, -9, 9);
  if (zoom_ == value) return;
  zoom_ = value;
  UpdateBytesPerRefresh();
  Invalidate();
}

void TMMOscope::SetGain(int value) {
  if (value < -8 || value > 32) return;
  SetInvalidate(gain_, value);
}

void TMMOscope::SetFFTLength(int value) {
  value = static_cast<int>(std::bit_floor(static_cast<unsigned>(std::clamp(value, 1, 4096))));
  if (fft_length_ == value) return;
  fft_length_ = value;
  UpdateBytesPerRefresh();
  if (Scroll()) Invalidate();
}

void TMMOscope::ScrollChanged() {
  UpdateLayout();
  Invalidate();
}

// ---- layout ----

int TMMOscope::MinWidth() const {
  return 2 * Bevel()->BevelExtent() + 2 + (draw_amp_scale_ ? 66 : 0);
}

int TMMOscope::MinHeight() const {
  return 2 * Bevel()->BevelExtent() + 2 + (draw_time_scale_ ? 42 : 0);
}

void TMMOscope::SetBounds(int left, int top, int width, int height) {
  TMMScanDisplay::SetBounds(left, top, std::max(width, MinWidth()), std::max(height, MinHeight()));
}

void TMMOscope::UpdateLayout() {
  TRect r = ClientRect();
  if (draw_amp_scale_) {
    r.Left += kAmpScaleWidth;
    r.Right -= kAmpScaleWidth;
  }
  if (draw_time_scale_) r.Bottom -= kTimeScaleHeight;
  SetPicture(r.Inset(Bevel()->BevelExtent()));
  trace_.resize(width_);
  ClearTrace();
  DIBCanvas().SetSize(width_, height_);
  switch (effect_) {
    case TMMOscopeEffect::efPeak:
      effect_low_ = height_ / 3;
      effect_high_ = height_ - height_ / 3;
      break;
    case TMMOscopeEffect::efSplit:
      effect_low_ = 0;
      effect_high_ = height_ / 2;
      break;
    default:
      effect_low_ = 0;
      effect_high_ = height_;
  }
  UpdateBytesPerRefresh();
  RequestRedraw();
  amp_divisions_ = 2;
  for (int d : {10, 8, 6, 4}) {
    if (height_ / d >= 10) {
      amp_divisions_ = d;
      break;
    }
  }
  Invalidate();
}

void TMMOscope::UpdateBytesPerRefresh() {
  const int b = FrameBytes();
  if (Scroll()) {
    bytes_per_refresh_ = b * fft_length_;
    return;
  }
  const int x = b * width_;
  if (zoom_ > 0) {
    bytes_per_refresh_ = x * zoom_;
  } else {
    // Whole frames, so that the connector's next block starts on one.
    const int align = std::max(4, b);
    bytes_per_refresh_ = (x / (1 - zoom_) + 5) / align * align;
  }
}

int TMMOscope::TimeDivisions() const {
  int c = 32;
  while (width_ / c < 10 && c > 1) c /= 2;
  return c;
}

std::vector<int> TMMOscope::TickRows() const {
  std::vector<int> rows;
  for (int k = 0; k <= amp_divisions_; ++k)
    rows.push_back(height_ - 1 - k * height_ / amp_divisions_);
  return rows;
}

double TMMOscope::RefreshMilliseconds() const {
  WaveFormatEx format;
  FillPCMFormat(format, static_cast<uint16_t>(8 * (BitLength() + 1)),
                static_cast<uint16_t>(mode_ + 1), static_cast<uint32_t>(rate_));
  return 1000.0 * bytes_per_refresh_ / std::max<uint32_t>(format.nAvgBytesPerSec(), 1);
}

// ---- feed ----

void TMMOscope::SetPCMWaveFormat(PWaveFormatEx format) {
  if (!ValidPCMFormat(format)) throw EMMOscopeError(LoadMMResString(SInvalidWaveFormatDisplay));
  // The property keeps its range; the labels use the stream's own rate.
  sample_rate_ = std::clamp(static_cast<int>(format->nSamplesPerSec()), 8000, 88200);
  rate_ = static_cast<int>(format->nSamplesPerSec());
  bits_ = static_cast<TMMBits>(format->wBitsPerSample() / 8 - 1);
  mode_ = format->nChannels() - 1;
  UpdateBytesPerRefresh();
  Invalidate();
}

int32_t TMMOscope::FrameValue(const uint8_t* frame) const {
  int32_t v;
  ReadChannelFrames(frame, TMMChannelLayout{bits_, mode_, channel_}, 1, &v);
  return bits_ == TMMBits::b8Bit ? v * 256 - 32768 : v;
}

void TMMOscope::ReadTrace(const uint8_t* data) {
  const int b = FrameBytes();
  const int last_frame = std::max(bytes_per_refresh_ / b - 1, 0);
  int32_t previous = 0;
  for (int x = 0; x < width_; ++x) {
    const int frame = std::min(zoom_ > 0 ? x * zoom_ : x / (1 - zoom_), last_frame);
    const int32_t raw = FrameValue(data + static_cast<ptrdiff_t>(frame) * b);
    trace_[x] = static_cast<int16_t>(low_pass_ ? (previous + 3 * raw) / 4 : raw);
    previous = raw;
  }
}

void TMMOscope::ReadExtremes(const uint8_t* data) {
  const auto bytes = std::span<const uint8_t>(data, static_cast<size_t>(bytes_per_refresh_));
  int32_t low[2];
  int32_t high[2];
  if (mode_ <= 1) {
    WaveFormatEx format;
    FillPCMFormat(format, static_cast<uint16_t>(8 * (BitLength() + 1)),
                  static_cast<uint16_t>(mode_ + 1), static_cast<uint32_t>(rate_));
    const TPCMPeaks p = PCMFindPeaks(format, bytes);
    low[0] = std::min(p.First1, p.Second1);
    high[0] = std::max(p.First1, p.Second1);
    low[1] = std::min(p.First2, p.Second2);
    high[1] = std::max(p.First2, p.Second2);
  } else {
    // More than two channels: the first two are left and right.
    std::vector<int32_t> values(fft_length_);
    for (int c = 0; c < 2; ++c) {
      const TMMChannel which = c == 0 ? TMMChannel::chLeft : TMMChannel::chRight;
      ReadChannelFrames(data, TMMChannelLayout{bits_, mode_, which}, fft_length_, values.data());
      const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
      low[c] = *lo;
      high[c] = *hi;
    }
  }
  const int c = mode_ == 0 || channel_ == TMMChannel::chLeft ? 0 : 1;
  int32_t v[2] = {low[c], high[c]};
  if (mode_ > 0 && channel_ == TMMChannel::chBoth) {
    v[0] = (low[0] + low[1]) / 2;
    v[1] = (high[0] + high[1]) / 2;
  }
  for (int i = 0; i < 2; ++i) {
    trace_[i] = static_cast<int16_t>(bits_ == TMMBits::b8Bit ? v[i] * 256 - 32768 : v[i]);
  }
}

void TMMOscope::RefreshPCMData(const void* data) {
  if (!Enabled() || !Visible() || info_mode_ || !data) return;
  PaintDirect([this, data](QPainter& dc) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (Scroll()) {
      ReadExtremes(bytes);
    } else {
      ReadTrace(bytes);
    }
    DrawScope(dc, false);
  });
}

void TMMOscope::ResetData() {
  EndInfoMode();
  PaintDirect([this](QPainter& dc) {
    ClearTrace();
    Paint(dc);
  });
}

void TMMOscope::ClearTrace() {
  std::fill(trace_.begin(), trace_.end(), 0);
  if (!Designing()) return;
  // A decaying sine shows the form designer what the trace looks like.
  const int n = width_;
  for (int i = 0; i < n; ++i) {
    const double a = 1.0 - static_cast<double>(i) / n;
    trace_[i] = static_cast<int16_t>(std::lround(std::sin(16 * M_PI * i / (n - 1)) * a * 30719));
  }
}

void TMMOscope::SetDesignMode(bool value) {
  TMMScanDisplay::SetDesignMode(value);
  ClearTrace();
  Invalidate();
}

std::string TMMOscope::InfoText(int x, int y) const {
  const double ms = (x + 1) * RefreshMilliseconds() / width_;
  double volts;
  if (kind_ == TMMOscopeKind::okSpikes) {
    volts = static_cast<double>(height_ - y - 1) / (height_ - 1);
  } else {
    int d = height_ / 2 - y;
    if (d < 0) --d;
    volts = d * 2.0 / height_;
  }
  char text[48];
  std::snprintf(text, sizeof text, "%4.1f ms %4.2f V", ms, volts);
  return text;
}

}  // namespace pmx
