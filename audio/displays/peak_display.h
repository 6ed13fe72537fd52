#pragma once

#include <cstdint>

#include "audio/core/chain/display_feed.h"
#include "audio/core/objects/mm_types.h"
#include "audio/core/objects/shared_timer.h"
#include "audio/displays/dib_graphic_control.h"
#include "audio/displays/peak_feed.h"

namespace pmx {

// What the level bar and the needle meter share: the PCM layout they are fed, the
// gain, sensitivity and decay, the peak feed with its hold timer and the overflow
// events. A display maps amplitudes to its own scale and shows each new value.
//
// Threads: as the displays' (see TMMPeakFeed for the shared timer's part).
class TMMPeakDisplay : public TMMDIBGraphicControl, public TMMDisplayFeed {
 public:
  static constexpr int kFullScale = 32767;

  TMMPeakDisplay(TComponent* owner, QWidget* parent, TMMPeakRules rules, int sensitivity)
      : TMMDIBGraphicControl(owner, parent), sensitivity_(sensitivity), feed_(rules) {}

  // The display's own switch, not the widget's enabled state.
  bool Enabled() const { return enabled_; }
  TMMBits BitLength() const { return bits_; }
  void SetBitLength(TMMBits value) { SetFormatField(bits_, value); }
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value) { SetFormatField(channel_, value); }
  // A four-channel stream makes this 3, past the named modes.
  TMMMode Mode() const { return static_cast<TMMMode>(mode_); }
  void SetMode(TMMMode value) { SetFormatField(mode_, static_cast<int>(value)); }
  int Gain() const { return gain_ - 8; }
  void SetGain(int value);
  int Samples() const { return samples_; }
  void SetSamples(int value);
  int Sensitivy() const { return sensitivity_; }
  bool LogAmp() const { return log_amp_; }
  void SetLogAmp(bool value);
  TMMDecayMode DecayMode() const { return feed_.Decay().Mode(); }
  void SetDecayMode(TMMDecayMode value) { feed_.Decay().SetMode(value); }
  int Decay() const { return feed_.Decay().Decay(); }
  void SetDecay(int value) { feed_.Decay().SetDecay(value); }
  int PeakDelay() const { return feed_.PeakDelay(); }
  void SetPeakDelay(int value) {
    if (feed_.SetPeakDelay(value)) update();
  }
  int PeakSpeed() const { return feed_.PeakSpeed(); }
  void SetPeakSpeed(int value) {
    if (feed_.SetPeakSpeed(value)) update();
  }
  // Shows value percent of full scale (clamped to 0..100).
  void SetValue(int value);
  int DCOffsetL() const { return dc_offset_l_; }
  void SetDCOffsetL(int value) { dc_offset_l_ = value; }
  int DCOffsetR() const { return dc_offset_r_; }
  void SetDCOffsetR(int value) { dc_offset_r_ = value; }

  // The absolute block peak before decay and gain, 0..32768.
  int LastPeak() const { return feed_.LastPeak(); }
  // The client on the shared timer, none at design time.
  PMMTimerClient PeakTimerClient() const { return feed_.TimerClient(); }

  void RefreshPCMData(const void* data) override;
  int BytesPerRefresh() const override { return bytes_per_refresh_; }

  // One tick of the peak hold; the shared timer calls it every 25 ms.
  void PeakTimer() { feed_.Tick(); }

  void SetDesignMode(bool value) override;

  TNotifyEvent OnGainOverflow;
  TNotifyEvent OnPcmOverflow;

 protected:
  // Whether the display holds peaks now.
  virtual bool HoldsPeaks() const = 0;
  // A block's peak or a set value (0..32767) through the feed, shown when it changed.
  virtual void SetValueInternal(int64_t v) = 0;
  // Takes the layout of a PCM format; false when it is none a display can read.
  bool TakeFormat(PWaveFormatEx format);
  void UpdateBytesPerRefresh();
  void AddTimerClient();

  bool enabled_ = true;
  TMMBits bits_ = TMMBits::b8Bit;
  TMMChannel channel_ = TMMChannel::chBoth;
  int mode_ = 0;  // channels - 1
  int gain_ = 8;  // the multiplier G, applied as v x G div 8
  int samples_ = 50;
  int sensitivity_;
  bool log_amp_ = true;
  int dc_offset_l_ = 0;
  int dc_offset_r_ = 0;
  int bytes_per_refresh_ = 50;
  // The display's value is the feed's. Last: its timer client's removal waits for
  // a running tick.
  TMMPeakFeed feed_;

 private:
  template <class T, class V>
  void SetFormatField(T& field, V value) {
    if (field == value) return;
    field = value;
    UpdateBytesPerRefresh();
    update();
  }
};

}  // namespace pmx
