#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "audio/core/chain/connector_pump.h"
#include "audio/core/chain/display_feed.h"
#include "audio/core/dsp/acm_support.h"
#include "audio/core/dsp/dsp_component.h"
#include "audio/core/objects/hi_timer.h"
#include "audio/core/objects/shared_timer.h"
#include "audio/core/objects/utilities.h"
#include "platform/exception.h"

namespace pmx {

class EMMConnectorError : public Exception {
 public:
  using Exception::Exception;
};

enum class TMMTriggerMethod { tmMessage, tmTimer };
enum class TMMTriggerMode { tmNone, tmUpFlank, tmDownFlank };

// A pass-through node that taps every buffer flowing through it and feeds the
// tapped audio to up to 14 displays: the format when the chain starts, display-
// sized blocks of each buffer spread over the buffer's real duration, and a reset
// when the chain stops or the feed is switched off. A codec chain is fed through
// a conversion to PCM when AutoConvert is on.
//
// Threads: properties, links and lifecycle notifications belong to the GUI thread.
// TapBuffer runs on the pushing (or pulling) thread; the refresh runs on the GUI
// thread (pacing pump, trigger call, internal timer) or, with RealTime off, on the
// pushing thread. lock_ guards the tap buffer, its valid count, the arrival time
// and every group's pending flag and read offset; OnTrigger fires outside it. The
// shared timer's thread (pause animation) only sets the arrival time and the
// groups under lock_. The switches and the started, armed and paused flags are
// atomics for the readers on other threads. Calls posted to the GUI thread hold only a weak reference, so
// those of a destroyed connector run as nothing and nobody else's are touched.
class TMMConnector : public TMMDSPComponent {
 public:
  static constexpr int kMaxSpeed = 5000;
  static constexpr int kTimerInterval = 20;
  using MicroClock = std::function<int64_t()>;

  explicit TMMConnector(TComponent* owner = nullptr);
  ~TMMConnector() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool AutoConvert() const { return auto_convert_; }
  void SetAutoConvert(bool value) { auto_convert_ = value; }
  bool AutoTrigger() const { return auto_trigger_; }
  void SetAutoTrigger(bool value);
  bool Synchronize() const { return synchronize_; }
  void SetSynchronize(bool value) { synchronize_ = value; }
  int Speed() const { return speed_; }
  void SetSpeed(int value);
  TMMTriggerMethod TriggerMethod() const { return trigger_method_.load(); }
  void SetTriggerMethod(TMMTriggerMethod value);
  TMMTriggerMode TriggerMode() const { return trigger_mode_; }
  void SetTriggerMode(TMMTriggerMode value) { trigger_mode_ = value; }
  int TriggerLevel() const { return trigger_level_; }
  void SetTriggerLevel(int value) { trigger_level_ = value; }
  bool RefreshOnStop() const { return refresh_on_stop_; }
  void SetRefreshOnStop(bool value) { refresh_on_stop_ = value; }
  bool RealTime() const { return real_time_; }
  void SetRealTime(bool value);
  // One value for every connector.
  static bool EnterIdle();
  static void SetEnterIdle(bool value);

  TMMDisplayFeed* Level1() const { return links_[kLevel1]; }
  void SetLevel1(TMMDisplayFeed* d) { SetPairLink(kLevel1, d); }
  TMMDisplayFeed* Level2() const { return links_[kLevel1 + 1]; }
  void SetLevel2(TMMDisplayFeed* d) { SetPairLink(kLevel1 + 1, d); }
  TMMDisplayFeed* Meter1() const { return links_[kMeter1]; }
  void SetMeter1(TMMDisplayFeed* d) { SetPairLink(kMeter1, d); }
  TMMDisplayFeed* Meter2() const { return links_[kMeter1 + 1]; }
  void SetMeter2(TMMDisplayFeed* d) { SetPairLink(kMeter1 + 1, d); }
  TMMOscopeFeed* Oscope1() const { return Oscope(0); }
  void SetOscope1(TMMOscopeFeed* d) { SetPairLink(kOscope1, d); }
  TMMOscopeFeed* Oscope2() const { return Oscope(1); }
  void SetOscope2(TMMOscopeFeed* d) { SetPairLink(kOscope1 + 1, d); }
  TMMDisplayFeed* Light1() const { return links_[kLight1]; }
  void SetLight1(TMMDisplayFeed* d) { SetPairLink(kLight1, d); }
  TMMDisplayFeed* Light2() const { return links_[kLight1 + 1]; }
  void SetLight2(TMMDisplayFeed* d) { SetPairLink(kLight1 + 1, d); }
  // index 1..4
  TMMDisplayFeed* Spectrum(int index) const { return links_.at(kSpectrum1 + index - 1); }
  void SetSpectrum(int index, TMMDisplayFeed* d);
  TMMSpectrogramFeed* Spectrogram1() const { return Spectrogram(0); }
  void SetSpectrogram1(TMMSpectrogramFeed* d) { SetPairLink(kSpectrogram1, d); }
  TMMSpectrogramFeed* Spectrogram2() const { return Spectrogram(1); }
  void SetSpectrogram2(TMMSpectrogramFeed* d) { SetPairLink(kSpectrogram1 + 1, d); }

  // Copies one buffer for the displays; any thread that moves buffers.
  virtual void TapBuffer(const void* data, int64_t count);
  // One refresh on demand, for a program that drives the displays itself.
  virtual void Trigger();

  void SetPWaveFormat(PWaveFormatEx f) override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void Reset() override;
  void BufferReady(WAVEHDR* lpWaveHdr) override;
  void BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) override;
  void SetDesignMode(bool value) override;

  bool Armed() const { return armed_.load(); }
  // Replaces the microsecond clock the pacing reads (tests drive it by hand).
  void SetMicroClock(MicroClock clock);

  TNotifyEvent OnTrigger;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend void connector_pump::Pump();
  struct Group {
    int first = 0;
    int count = 0;
    bool pending = false;
    int64_t offset = 0;
  };
  enum : int {
    kLevel1 = 0, kMeter1 = 2, kOscope1 = 4, kLight1 = 6, kSpectrum1 = 8, kSpectrogram1 = 12,
    kLinks = 14
  };
  enum : int { kLevels, kMeters, kOscopes, kLights, kSpectra, kGroups };

  TMMOscopeFeed* Oscope(int i) const;
  TMMSpectrogramFeed* Spectrogram(int i) const;
  void SetPairLink(int slot, TMMDisplayFeed* d);
  void StoreLink(int slot, TMMDisplayFeed* d);
  void ClearPending(int slot);
  void SendFormat();
  // The PCM format the displays get for the chain's format; none when not fed.
  std::optional<WaveFormatEx> FeedFormat(PWaveFormatEx chain) const;
  bool OpenFeed(PWaveFormatEx chain);
  // The display data: the tap buffer, or the converter's output (under lock_).
  uint8_t* Data() const;
  void ResetDisplays();
  void Register();
  void Unregister();

  bool DueForPump() const;
  bool CanRefresh() const;
  // One pass over the groups; catching up, a group hands over every block due by
  // now instead of one (without Synchronize, all of them).
  void Refresh(bool catch_up = false);
  void RefreshLocked(bool catch_up);
  // One block of the group when due; false when it was not due or the group ended.
  bool RefreshGroup(Group& g, int group, int64_t elapsed);
  bool RefreshSpectrograms(int64_t elapsed);
  // Microseconds until the next block of a pending group falls due (0 or less:
  // due now); none when nothing is pending.
  std::optional<int64_t> NextDueIn() const;
  int64_t DueAt(int64_t offset) const;
  void WakePump() const;
  bool Due(int64_t offset, int64_t elapsed) const;
  int GroupStep(const Group& g) const;
  int64_t OscopeTrigger(int64_t offset) const;
  int64_t OscopeAdvance(int step) const;
  void MarkPending(int64_t now);
  void FillSilence();
  void PauseTick();
  int64_t Now() const { return clock_ ? clock_() : GetMicroTime(); }
  std::array<TComponent*, kLinks> link_components_{};

  void PostStart();
  void HandleStart();
  void Arm();
  void Disarm();
  bool PacedByPump() const;
  void StartPauseAnimation();
  void StopPauseAnimation();
  void Post(std::function<void(TMMConnector&)> fn);

  std::atomic<bool> enabled_{true};
  bool auto_convert_ = true;
  std::atomic<bool> auto_trigger_{true};
  std::atomic<bool> synchronize_{true};
  int speed_ = kMaxSpeed;
  std::atomic<TMMTriggerMethod> trigger_method_{TMMTriggerMethod::tmMessage};
  TMMTriggerMode trigger_mode_ = TMMTriggerMode::tmNone;
  int trigger_level_ = 0;
  bool refresh_on_stop_ = true;
  std::atomic<bool> real_time_{true};
  bool registered_ = false;

  std::array<TMMDisplayFeed*, kLinks> links_{};
  std::array<Group, kGroups> groups_{
      {{kLevel1, 2}, {kMeter1, 2}, {kOscope1, 2}, {kLight1, 2}, {kSpectrum1, 4}}};
  bool spectrogram_pending_ = false;
  std::array<int64_t, 2> spectrogram_offsets_{};

  std::atomic<bool> feed_started_{false};
  std::atomic<bool> armed_{false};
  std::atomic<bool> feed_paused_{false};
  std::atomic<int> triggers_in_flight_{0};

  mutable std::recursive_mutex lock_;
  std::optional<WaveFormatEx> display_format_;
  uint8_t silence_ = 0;
  std::vector<uint8_t> tap_;
  PACMConvert converter_;  // a codec chain's decoder into display_format_; none for PCM
  int64_t valid_ = 0;
  int64_t arrival_ = 0;
  MicroClock clock_;

  PMMTimerClient pause_client_ = nullptr;
  std::unique_ptr<TMMHiTimer> timer_;
  std::shared_ptr<TMMConnector*> self_;
};

}  // namespace pmx
