#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/core/chain/display_feed.h"
#include "audio/core/objects/mm_types.h"
#include "audio/displays/scan_display.h"
#include "audio/displays/frequency_display.h"
#include "audio/displays/spectrum_math.h"
#include "platform/exception.h"

namespace pmx {

class EMMSpectrogramError : public Exception {
 public:
  using Exception::Exception;
};

// Pre-emphasis: none, first difference (6 dB per octave), second difference.
enum class TMMSpectrogramGain { sgrNone, sgr6db, sgr12db };
enum class TMMSpectrogramPalette {
  spHSV,
  spThreshold,
  spBlackWhite,
  spWhiteBlack,
  spBone,
  spCopper,
  spCool,
  spHot
};

// A running time-frequency picture: every block it is fed becomes one column,
// the lowest frequency at the bottom, each pixel the palette index of the
// loudest bin on its row. A bar marks the writing place; the picture wraps round
// or, with Scroll, fills once and then moves left. The levels are palette
// indices, so a new palette recolours without recomputing.
//
// Threads: as TMMScanDisplay. The row map, levels and emboss state belong to the
// feed while it runs (properties must not change then when the connector feeds
// on another thread); the write and bar columns are the frame routine's, under
// the back-store lock.
class TMMSpectrogram : public TMMFrequencyDisplay<TMMScanDisplay>, public TMMSpectrogramFeed {
 public:
  // The palette range of the 8-bit canvas that the levels index.
  static constexpr int kFirstIndex = 10;
  static constexpr int kColorCount = 236;
  static constexpr int kLastIndex = kFirstIndex + kColorCount - 1;

  explicit TMMSpectrogram(TComponent* owner = nullptr, QWidget* parent = nullptr);
  ~TMMSpectrogram() override;

  void SetFFTLength(int value);
  void SetWindow(TMMFFTWindow value) { input_.Transform().SetWindow(value); }
  void SetSampleRate(int value);
  TMMSpectrogramGain Gain() const { return gain_; }
  void SetGain(TMMSpectrogramGain value) { gain_ = value; }
  bool LogAmp() const { return log_amp_; }
  void SetLogAmp(bool value) { log_amp_ = value; }
  int AmplitudeScale() const;
  void SetAmplitudeScale(int value);
  int Sensitivy() const { return sensitivity_; }
  void SetSensitivy(int value);
  int FrequencyBase() const { return frequency_base_; }
  void SetFrequencyBase(int value);
  int FrequencyScale() const { return frequency_scale_; }
  void SetFrequencyScale(int value);
  TMMSpectrogramPalette PaletteTyp() const { return palette_typ_; }
  void SetPaletteTyp(TMMSpectrogramPalette value);
  bool Embossed() const { return embossed_; }
  void SetEmbossed(bool value) { SetInvalidate(embossed_, value); }
  bool DrawScale() const { return draw_scale_; }
  void SetDrawScale(bool value) { SetScaleShown(draw_scale_, value); }
  bool Accelerate() const override { return TMMScanDisplay::Accelerate(); }

  void SetPCMWaveFormat(PWaveFormatEx format) override;
  void RefreshPCMData(const void* data) override;
  void ResetData() override;
  int BytesPerRefresh() const override { return input_.BytesPerRefresh(); }

  // The palette of a kind: entries 10 .. 245 hold its 236 colours.
  static TLogPalette BuildPalette(TMMSpectrogramPalette kind);
  // Row map (row 0 at the bottom): first bin (-1: merged into the row below)
  // and end bin (0: the row reads its first bin only).
  int RowFirstBin(int row) const { return first_bin_.at(row); }
  int RowEndBin(int row) const { return end_bin_.at(row); }
  int ScaleDivisions() const { return divisions_; }
  int WriteColumn() const { return write_column_; }
  int BarColumn() const { return bar_column_; }
  int Level(int bin) const { return levels_.at(bin); }
  std::string InfoText(int x, int y) const override;

  void SetBounds(int left, int top, int width, int height) override;
  // The levels are palette indices: the canvas stays at 8 bits.
  void SetBitsPerPixel(int bits) override;
  void Paint(QPainter& canvas) override;

  TNotifyEvent OnPcmOverflow;

 protected:
  void Loaded() override;
  void BevelChanged() override { UpdateLayout(); }
  void BoundsChanged() override { UpdateLayout(); }
  TMMColumnSelection::Grip SelectionGrip() const override { return {3, 2, 2, 3}; }

 private:
  static constexpr int kScaleWidth = 32;

  void UpdateLayout();
  void BuildRowMap();
  void ComputeLevels();
  void DrawColumn();
  // The frame: refresh mode from a feed, paint mode from Paint.
  void DrawFrame(QPainter& dc, bool refresh);
  std::vector<int> TickRows() const override;
  void DrawScaleStrip(QPainter& dc, bool left) const;
  double RowFrequency(int y) const;
  int MinWidth() const;
  int MinHeight() const;

  TMMSpectrogramGain gain_ = TMMSpectrogramGain::sgrNone;
  bool log_amp_ = false;
  float amplitude_ = 1.0f;
  int sensitivity_ = -90;
  int frequency_base_ = 0;
  int frequency_scale_ = 1;
  TMMSpectrogramPalette palette_typ_ = TMMSpectrogramPalette::spThreshold;
  bool embossed_ = false;
  bool draw_scale_ = false;

  std::array<int32_t, TMMBinDecay::kMaxBins> levels_{};
  std::array<int16_t, TMMBinDecay::kMaxBins> emboss_{};
  std::vector<int> first_bin_;
  std::vector<int> end_bin_;
  std::vector<uint8_t> column_;
  int divisions_ = 1;
};

}  // namespace pmx
