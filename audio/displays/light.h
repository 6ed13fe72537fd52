#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

#include "audio/core/chain/display_feed.h"
#include "audio/core/objects/mm_types.h"
#include "audio/displays/dib_graphic_control.h"
#include "audio/displays/spectrum_math.h"
#include "platform/exception.h"

namespace pmx {

class EMMLightError : public Exception {
 public:
  using Exception::Exception;
};

enum class TMMLightKind { lkCircle, lkSphere };
enum class TMMLightArrange { laLine, laTriangle };
enum class TMMLightPeakMode { pmRMS, pmPeak, pmAverage };

// A light organ: three lights (bass red, middle green, treble yellow) whose
// brightness follows the energy of three frequency bands of the PCM data it is
// fed. The picture is drawn once per layout in animated palette entries; a
// refresh only changes those entries' colours.
//
// Threads: everything, the feed included, runs on the thread that owns the
// control (the GUI thread, or the connector's pushing thread when it refreshes
// there, in which case properties must not change while it feeds). It has no
// timer client. data_lock_ guards the magnitudes, the decay state and the light
// records, which such a feed writes while a paint shows them; it is never taken
// inside the canvas's drawing section.
class TMMLight : public TMMDIBGraphicControl, public TMMDisplayFeed {
 public:
  explicit TMMLight(TComponent* owner = nullptr, QWidget* parent = nullptr);
  ~TMMLight() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { SetRebuilt(enabled_, value); }
  TMMLightKind Kind() const { return kind_; }
  void SetKind(TMMLightKind value) { SetRebuilt(kind_, value); }
  TMMLightArrange Arrange() const { return arrange_; }
  void SetArrange(TMMLightArrange value) { SetRebuilt(arrange_, value); }
  int TriangleDist() const { return triangle_dist_; }
  void SetTriangleDist(int value) { SetRebuilt(triangle_dist_, std::max(2, value)); }
  float SphereHorz() const { return sphere_horz_; }
  void SetSphereHorz(float value) { SetRebuilt(sphere_horz_, SphereValue(value)); }
  float SphereVert() const { return sphere_vert_; }
  void SetSphereVert(float value) { SetRebuilt(sphere_vert_, SphereValue(value)); }
  int ZoneCount() const { return zone_count_; }
  void SetZoneCount(int value) { SetRebuilt(zone_count_, std::max(1, value)); }
  TMMLightPeakMode PeakMode() const { return peak_mode_; }
  void SetPeakMode(TMMLightPeakMode value);
  int AmplitudeScale() const;
  void SetAmplitudeScale(int value);
  // Band 0 bass, 1 middle, 2 treble.
  int BandGain(int band) const;
  void SetBandGain(int band, int value);
  int GainBass() const { return BandGain(0); }
  void SetGainBass(int value) { SetBandGain(0, value); }
  int GainMiddle() const { return BandGain(1); }
  void SetGainMiddle(int value) { SetBandGain(1, value); }
  int GainTreble() const { return BandGain(2); }
  void SetGainTreble(int value) { SetBandGain(2, value); }
  int FFTLength() const { return input_.Length(); }
  void SetFFTLength(int value);
  TMMFFTWindow Window() const { return input_.Transform().Window(); }
  void SetWindow(TMMFFTWindow value) { input_.Transform().SetWindow(value); }
  int SampleRate() const { return input_.SampleRate(); }
  void SetSampleRate(int value);
  TMMDecayMode DecayMode() const { return decay_.Mode(); }
  void SetDecayMode(TMMDecayMode value) { decay_.SetMode(value); }
  int Decay() const { return decay_.Decay(); }
  void SetDecay(int value) { decay_.SetDecay(value); }
  TMMBits BitLength() const { return input_.Layout().bits; }
  void SetBitLength(TMMBits value) { input_.SetBits(value); }
  TMMChannel Channel() const { return input_.Layout().channel; }
  void SetChannel(TMMChannel value) { input_.SetChannel(value); }
  // A four-channel stream makes this 3, past the named modes.
  TMMMode Mode() const { return static_cast<TMMMode>(input_.Layout().mode); }
  void SetMode(TMMMode value) { input_.SetMode(static_cast<int>(value)); }

  void SetPCMWaveFormat(PWaveFormatEx format) override;
  void RefreshPCMData(const void* data) override;
  void ResetData() override;
  int BytesPerRefresh() const override { return input_.BytesPerRefresh(); }

  // The bins of band j: first (-1 when dropped) and end (0: the first bin alone).
  int BandFirst(int band) const { return bands_.at(band).first; }
  int BandEnd(int band) const { return bands_.at(band).end; }
  // What light i shows now, -1 before the first show after a reset.
  int Intensity(int light) const;
  int BandValue(int light) const;
  // The square a light is drawn in, in canvas pixels; empty when none is drawn.
  TRect LightSquare(int light) const;

  void SetBounds(int left, int top, int width, int height) override;
  void Paint(QPainter& canvas) override;

  TNotifyEvent OnPcmOverflow;

 protected:
  void Loaded() override;
  void BevelChanged() override;
  void BoundsChanged() override { BevelChanged(); }

 private:
  struct Band {
    int first = -1;
    int end = 0;
  };
  struct Record {
    int intensity = -1;
    int value = 0;
  };

  // A value the canvas cannot draw (too many sphere zones) is refused whole.
  template <class T>
  void SetRebuilt(T& field, T value) {
    if (field == value) return;
    const T old = field;
    field = value;
    try {
      Rebuild();
    } catch (...) {
      field = old;
      Rebuild();
      throw;
    }
  }
  // A sphere setting: not below 0 and finite (not a number is 0), so that the
  // shading never divides infinity by infinity.
  static float SphereValue(float value) {
    return value > 0 ? std::min(value, std::numeric_limits<float>::max()) : 0.0f;
  }
  void BandLimits();
  void Rebuild();
  void ResetLights();
  void DrawLights();
  void ComputeBands(const TMMSpectrumTransform& transform);
  int CombineBand(const Band& band) const;
  // What light i shows for its band value now; with data_lock_ held.
  int LightIntensity(int light) const;
  void Show(QPainter& dc);
  void SetLightColors(int light, int intensity);

  bool enabled_ = true;
  TMMLightKind kind_ = TMMLightKind::lkCircle;
  TMMLightArrange arrange_ = TMMLightArrange::laLine;
  int triangle_dist_ = 10;
  float sphere_horz_ = 1.0f;
  float sphere_vert_ = 1.0f;
  int zone_count_ = 60;
  TMMLightPeakMode peak_mode_ = TMMLightPeakMode::pmPeak;
  float amplitude_factor_ = 1.0f;
  std::array<float, 3> gain_factors_{0.05f, 0.05f, 0.05f};

  TMMFrequencyInput input_;
  mutable std::mutex data_lock_;
  TMMBinDecay decay_{0.01f};
  std::vector<int32_t> magnitudes_;
  std::array<Band, 3> bands_;
  std::array<Record, 3> records_;
  TRect inner_;
  int inner_width_ = 4;
  int inner_height_ = 4;
};

}  // namespace pmx
