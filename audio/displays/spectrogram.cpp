#include "audio/displays/spectrogram.h"

#include <QPainter>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "audio/core/dsp/pcm_support.h"
#include "audio/core/objects/mm_strings.h"
#include "audio/displays/dib_primitives.h"

namespace pmx {
namespace {

TMMDisplayGroup g_spectrograms;

// A colour value of a palette formula; one outside 0 .. 255 keeps its low byte.
uint8_t Byte(double v) { return static_cast<uint8_t>(static_cast<int>(std::trunc(v)) & 0xFF); }

TPaletteEntry PaletteColor(TMMSpectrogramPalette kind, int h) {
  auto rgb = [](double r, double g, double b) {
    return TPaletteEntry{Byte(r), Byte(g), Byte(b), 0};
  };
  switch (kind) {
    case TMMSpectrogramPalette::spThreshold:
      if (h <= 15) return rgb(0, 0, 0);
      [[fallthrough]];
    case TMMSpectrogramPalette::spHSV:
      if (h < 64) return rgb(0, 4 * h, 255);
      if (h < 128) return rgb(0, 255, 254 - (4 * h - 256));
      if (h < 192) return rgb(4 * h - 512 + 2, 255, 0);
      return rgb(255, 252 - (4 * h - 768), 0);
    case TMMSpectrogramPalette::spBlackWhite:
      return rgb(h, h, h);
    case TMMSpectrogramPalette::spWhiteBlack:
      return rgb(255 - h, 255 - h, 255 - h);
    case TMMSpectrogramPalette::spBone:
      if (h < 96) return rgb(0.88889 * h, 0.88889 * h, 1.2 * h);
      if (h < 192) return rgb(0.88889 * h, 1.2 * h - 29, 0.88889 * h + 29);
      return rgb(1.2 * h - 60, 0.88889 * h + 29, 0.88889 * h + 29);
    case TMMSpectrogramPalette::spCopper:
      return rgb(h >= 208 ? 255 : 1.23 * h, 0.78 * h, 0.5 * h);
    case TMMSpectrogramPalette::spCool:
      return rgb(h, 255 - h, 255);
    default:  // spHot
      if (h < 96) return rgb(2.66667 * h + 0.5, 0, 0);
      if (h < 192) return rgb(255, 2.66667 * h - 254, 0);
      return rgb(255, 255, 4 * h - 766);
  }
}

}  // namespace

TMMSpectrogram::TMMSpectrogram(TComponent* owner, QWidget* parent)
    : TMMFrequencyDisplay(owner, parent, g_spectrograms) {
  SetPaletteRealize(true);
  SetColor(clBlack);
  const TLogPalette palette = BuildPalette(palette_typ_);
  DIBCanvas().SetLogPalette(&palette);
  SetBounds(0, 0, 194, 90);
  SetFFTLength(128);
}

TMMSpectrogram::~TMMSpectrogram() = default;

TLogPalette TMMSpectrogram::BuildPalette(TMMSpectrogramPalette kind) {
  TLogPalette palette;
  for (int k = 0; k < kColorCount; ++k) {
    palette.palPalEntry[kFirstIndex + k] = PaletteColor(kind, k * 256 / kColorCount);
  }
  return palette;
}

// ---- properties ----

void TMMSpectrogram::SetFFTLength(int value) {
  if (!input_.SetLength(value)) return;
  BuildRowMap();
  Invalidate();
}

void TMMSpectrogram::SetSampleRate(int value) {
  if (!input_.SetSampleRate(value)) return;
  BuildRowMap();
  Invalidate();
}

int TMMSpectrogram::AmplitudeScale() const {
  return static_cast<int>(std::lround(amplitude_ * 100));
}

void TMMSpectrogram::SetAmplitudeScale(int value) {
  amplitude_ = static_cast<float>(std::clamp(value, 0, 1000)) / 100;
}

void TMMSpectrogram::SetSensitivy(int value) { sensitivity_ = std::clamp(value, -90, -9); }

void TMMSpectrogram::SetFrequencyBase(int value) {
  value = std::max(value, 0);
  if (frequency_base_ == value) return;
  frequency_base_ = value;
  BuildRowMap();
  Invalidate();
}

void TMMSpectrogram::SetFrequencyScale(int value) {
  value = std::clamp(value, 1, 16);
  if (frequency_scale_ == value) return;
  frequency_scale_ = value;
  BuildRowMap();
  Invalidate();
}

void TMMSpectrogram::SetPaletteTyp(TMMSpectrogramPalette value) {
  if (palette_typ_ == value) return;
  palette_typ_ = value;
  if (Loading()) return;
  const TLogPalette palette = BuildPalette(value);
  DIBCanvas().SetLogPalette(&palette);
  Invalidate();
}

void TMMSpectrogram::Loaded() {
  TMMScanDisplay::Loaded();
  const TLogPalette palette = BuildPalette(palette_typ_);
  DIBCanvas().SetLogPalette(&palette);
  BuildRowMap();
  Invalidate();
}

void TMMSpectrogram::SetBitsPerPixel(int bits) {
  if (bits != 8) throw EMMDIBError("Bitlength not supported yet");
}

// ---- layout ----

int TMMSpectrogram::MinWidth() const { return 2 * Bevel()->BevelExtent() + (draw_scale_ ? 69 : 5); }

int TMMSpectrogram::MinHeight() const { return 2 * Bevel()->BevelExtent() + 5; }

void TMMSpectrogram::SetBounds(int left, int top, int width, int height) {
  TMMScanDisplay::SetBounds(left, top, std::max(width, MinWidth()), std::max(height, MinHeight()));
}

void TMMSpectrogram::UpdateLayout() {
  TRect r = ClientRect();
  if (draw_scale_) {
    r.Left += kScaleWidth;
    r.Right -= kScaleWidth;
  }
  SetPicture(r.Inset(Bevel()->BevelExtent()));
  first_bin_.assign(height_, 0);
  end_bin_.assign(height_, 0);
  column_.assign(height_, kFirstIndex);
  DIBCanvas().SetSize(width_, height_);
  BuildRowMap();
  ResetData();
}

void TMMSpectrogram::BuildRowMap() {
  if (Loading() || first_bin_.empty()) return;
  const int n = input_.Length();
  const int rate = input_.Rate();
  const int z = frequency_scale_;
  const int f0 = std::clamp(frequency_base_, 0, std::max(rate / 2 - 1000, 0));
  const float f = static_cast<float>(f0) / rate * n;
  const int last_bin = n / 2 - 1;
  for (int i = 0; i < height_; ++i) {
    const double bin =
        std::floor(f + 0.01 + static_cast<double>(i) / height_ * (n / 2 - f * z) / z);
    first_bin_[i] = std::clamp(static_cast<int>(bin), 0, last_bin);
    if (i > 0) end_bin_[i - 1] = first_bin_[i];
  }
  end_bin_[height_ - 1] = 0;
  for (int i = 0; i < height_; ++i) {
    if (first_bin_[i] + 1 >= end_bin_[i]) end_bin_[i] = 0;
  }
  for (int i = height_ - 1; i >= 1; --i) {
    if (first_bin_[i] == first_bin_[i - 1]) {
      first_bin_[i] = -1;
      end_bin_[i] = 0;
    }
  }
  divisions_ = std::max(1, static_cast<int>(rate / 2.0 / 1000 * z));
  while (height_ / divisions_ < 10 && divisions_ > 1) divisions_ /= 2;
}

// ---- feed ----

void TMMSpectrogram::SetPCMWaveFormat(PWaveFormatEx format) {
  if (!ValidPCMFormat(format))
    throw EMMSpectrogramError(LoadMMResString(SInvalidWaveFormatDisplay));
  input_.SetFormat(*format);
  BuildRowMap();
  Invalidate();
}

void TMMSpectrogram::RefreshPCMData(const void* data) {
  if (!Enabled() || !Visible() || info_mode_ || !data) return;
  std::array<int32_t, TMMSpectrumTransform::kMaxLength> values;
  const int overflows = input_.ReadEmphasized(data, static_cast<int>(gain_), values.data());
  for (int i = 0; i < overflows && OnPcmOverflow; ++i) OnPcmOverflow(this);
  input_.Transform().Run(values.data(), input_.EightBit());
  ComputeLevels();
  PaintDirect([this](QPainter& dc) { DrawFrame(dc, true); });
}

void TMMSpectrogram::ComputeLevels() {
  const TMMSpectrumTransform& transform = input_.Transform();
  const double a = amplitude_;
  const int lift = -90 - sensitivity_;
  for (int j = 0; j < transform.Length() / 2; ++j) {
    const auto p = static_cast<double>(transform.Power(j));
    const double level =
        log_amp_ ? std::log(std::max(p, 1.0)) * 20 * a + 2 * lift : std::sqrt(p) * a + lift;
    levels_[j] = static_cast<int32_t>(std::trunc(level)) + kFirstIndex;
  }
}

void TMMSpectrogram::ResetData() {
  EndInfoMode();
  selection_.Set(-1, -1, width_);
  RequestRedraw();
  PaintDirect([this](QPainter& dc) { Paint(dc); });
}

std::string TMMSpectrogram::InfoText(int /*x*/, int y) const {
  char text[32];
  std::snprintf(text, sizeof text, "%2.3f KHz", RowFrequency(y) / 1000);
  return text;
}

double TMMSpectrogram::RowFrequency(int y) const {
  const double rate = input_.Rate();
  const double z = frequency_scale_;
  const double f0 = std::clamp(frequency_base_, 0, std::max(input_.Rate() / 2 - 1000, 0));
  return f0 + (rate / 2 - z * f0) * (height_ - y - 1) / std::max(height_ - 1, 1) / z;
}

}  // namespace pmx
