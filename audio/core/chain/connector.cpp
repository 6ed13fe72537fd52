#include "audio/core/chain/connector.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "audio/core/dsp/pcm_support.h"
#include "audio/core/dsp/wave_format.h"
#include "audio/core/objects/mm_strings.h"
#include "platform/main_loop.h"

namespace pmx {
namespace {

std::atomic<bool> g_enter_idle{false};

// Above this size a buffer lasts long enough that the pause animation runs at the
// shared timer's own period.
constexpr int32_t kPauseTickBufferSize = 8192;
constexpr int kPauseTickMs = 25;

}  // namespace

TMMConnector::TMMConnector(TComponent* owner)
    : TMMDSPComponent(owner),
      timer_(std::make_unique<TMMHiTimer>()),
      self_(std::make_shared<TMMConnector*>(this)) {
  PublishLinks(true, true);
  timer_->SetEnabled(false);
  timer_->SetInterval(kTimerInterval);
  timer_->SetOnTimer([this](TObject*) { Trigger(); });
  if (!Designing()) Register();
}

TMMConnector::~TMMConnector() {
  Stopped();
  self_.reset();  // calls still queued for this connector now run as nothing
  Unregister();
  timer_.reset();
}

void TMMConnector::Register() {
  connector_pump::Register(this);
  registered_ = true;
}

void TMMConnector::Unregister() {
  if (!registered_) return;
  connector_pump::Unregister(this);
  registered_ = false;
}

void TMMConnector::SetDesignMode(bool value) {
  TMMDSPComponent::SetDesignMode(value);
  if (!Designing() && !registered_) Register();
}

bool TMMConnector::EnterIdle() { return g_enter_idle.load(); }

void TMMConnector::SetEnterIdle(bool value) { g_enter_idle.store(value); }

void TMMConnector::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  if (Designing()) return;
  if (!value) {
    Disarm();
    ResetDisplays();
  } else if (feed_started_ && real_time_) {
    PostStart();
  }
}

void TMMConnector::SetAutoTrigger(bool value) {
  if (auto_trigger_ == value) return;
  if (!value && !Designing()) Disarm();
  auto_trigger_ = value;
  if (value && !Designing() && feed_started_ && enabled_ && real_time_) PostStart();
}

void TMMConnector::SetSpeed(int value) {
  speed_ = std::clamp(value, 1, kMaxSpeed);
  connector_pump::SpeedChanged();
}

void TMMConnector::SetTriggerMethod(TMMTriggerMethod value) {
  if (trigger_method_ == value) return;
  // Re-armed under the new method, so the pump's count stays exact.
  const bool was_armed = armed_;
  Disarm();
  trigger_method_ = value;
  if (was_armed) Arm();
}

void TMMConnector::SetRealTime(bool value) {
  if (real_time_ == value) return;
  if (IsOpened()) throw EMMConnectorError(LoadMMResString(SChangePropertyWhileOpen));
  real_time_ = value;
}

void TMMConnector::SetMicroClock(MicroClock clock) {
  std::lock_guard lock(lock_);
  clock_ = std::move(clock);
}

// ---- display links ----

TMMOscopeFeed* TMMConnector::Oscope(int i) const {
  return static_cast<TMMOscopeFeed*>(links_[kOscope1 + i]);
}

TMMSpectrogramFeed* TMMConnector::Spectrogram(int i) const {
  return static_cast<TMMSpectrogramFeed*>(links_[kSpectrogram1 + i]);
}

void TMMConnector::SetPairLink(int slot, TMMDisplayFeed* d) {
  const int first = slot & ~1;
  if (links_[slot] == d) return;
  if (d && (links_[first] == d || links_[first + 1] == d)) return;
  StoreLink(slot, d);
}

void TMMConnector::SetSpectrum(int index, TMMDisplayFeed* d) {
  const int slot = kSpectrum1 + index - 1;
  if (index < 1 || index > 4 || links_[slot] == d) return;
  StoreLink(slot, d);
}

void TMMConnector::StoreLink(int slot, TMMDisplayFeed* d) {
  TComponent* old = link_components_[slot];
  TComponent* component = dynamic_cast<TComponent*>(d);
  {
    std::lock_guard lock(lock_);
    links_[slot] = d;
    link_components_[slot] = component;
    ClearPending(slot);
  }
  if (old && std::count(link_components_.begin(), link_components_.end(), old) == 0) {
    old->RemoveFreeNotification(this);
  }
  if (component) component->FreeNotification(this);
  if (d) SendFormat();
}

void TMMConnector::ClearPending(int slot) {
  if (slot >= kSpectrogram1) {
    spectrogram_pending_ = false;
  } else {
    groups_[std::min(slot / 2, static_cast<int>(kSpectra))].pending = false;
  }
}

void TMMConnector::Notification(TComponent* component, TOperation operation) {
  TMMDSPComponent::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  std::lock_guard lock(lock_);
  for (int slot = 0; slot < kLinks; ++slot) {
    if (link_components_[slot] != component) continue;
    links_[slot] = nullptr;
    link_components_[slot] = nullptr;
    ClearPending(slot);
  }
}

void TMMConnector::SendFormat() {
  PWaveFormatEx chain = PWaveFormat();
  if (!chain) return;
  std::lock_guard lock(lock_);
  const std::optional<WaveFormatEx> format = feed_started_ ? display_format_ : FeedFormat(chain);
  if (!format) return;
  silence_ = format->wBitsPerSample() == 8 ? 128 : 0;
  for (TMMDisplayFeed* d : links_) {
    if (d) d->SetPCMWaveFormat(&*format);
  }
}

std::optional<WaveFormatEx> TMMConnector::FeedFormat(PWaveFormatEx chain) const {
  if (chain->wFormatTag() == WAVE_FORMAT_PCM) return *chain;
  if (!auto_convert_) return std::nullopt;
  WaveFormatEx pcm;
  acmSuggestPCMFormat(chain, pcm);
  if (pcm.wFormatTag() != WAVE_FORMAT_PCM || !acmCanConvert(chain, &pcm, cqLow)) {
    return std::nullopt;
  }
  return pcm;
}

bool TMMConnector::OpenFeed(PWaveFormatEx chain) {
  display_format_ = FeedFormat(chain);
  if (!display_format_) return false;
  tap_.assign(static_cast<size_t>(BufferSize()), 0);
  if (chain->wFormatTag() == WAVE_FORMAT_PCM) return true;
  converter_ = acmCreateConverter(chain, &*display_format_, tap_.data(), cqLow,
                                  static_cast<uint32_t>(BufferSize()));
  if (converter_) return true;
  tap_ = {};
  display_format_.reset();
  return false;
}

uint8_t* TMMConnector::Data() const {
  return converter_ ? converter_->DestBuffer : const_cast<uint8_t*>(tap_.data());
}

void TMMConnector::ResetDisplays() {
  std::lock_guard lock(lock_);
  for (TMMDisplayFeed* d : links_) {
    if (d) d->ResetData();
  }
}

// ---- chain ----

void TMMConnector::SetPWaveFormat(PWaveFormatEx f) {
  TMMDSPComponent::SetPWaveFormat(f);
  SendFormat();
}

void TMMConnector::Started() {
  TMMDSPComponent::Started();
  PWaveFormatEx chain = PWaveFormat();
  if (Designing() || !chain || feed_started_) return;
  {
    std::lock_guard lock(lock_);
    for (Group& g : groups_) g.pending = false;
    spectrogram_pending_ = false;
    if (BufferSize() <= 0 || !OpenFeed(chain)) return;
    valid_ = 0;
    feed_started_ = true;
  }
  connector_pump::SpeedChanged();
  SendFormat();
  if (enabled_ && real_time_) PostStart();
}

void TMMConnector::Paused() {
  TMMDSPComponent::Paused();
  if (!feed_started_ || feed_paused_) return;
  feed_paused_ = true;
  {
    std::lock_guard lock(lock_);
    FillSilence();
  }
  if (real_time_) StartPauseAnimation();
}

void TMMConnector::Restarted() {
  TMMDSPComponent::Restarted();
  if (!feed_paused_) return;
  feed_paused_ = false;
  StopPauseAnimation();
}

void TMMConnector::Reset() {
  TMMDSPComponent::Reset();
  if (!feed_started_) return;
  std::lock_guard lock(lock_);
  FillSilence();
}

void TMMConnector::Stopped() {
  if (feed_started_) {
    Disarm();
    StopPauseAnimation();
    feed_paused_ = false;
    {
      // Under the lock: a tap on the pushing thread either finished its copy or
      // sees the feed stopped, never a freed buffer.
      std::lock_guard lock(lock_);
      feed_started_ = false;
      acmDestroyConverter(converter_);
      tap_ = {};
      valid_ = 0;
      display_format_.reset();
      for (Group& g : groups_) g.pending = false;
      spectrogram_pending_ = false;
    }
    if (refresh_on_stop_) ResetDisplays();
  }
  TMMDSPComponent::Stopped();
}

void TMMConnector::BufferReady(WAVEHDR* lpWaveHdr) {
  // Behind a playing device the displays follow what sounds now, not what was queued.
  WAVEHDR* tapped = lpWaveHdr;
  if (synchronize_ && tapped && tapped->dwBytesRecorded > 0 && tapped->LinkedHeader) {
    tapped = tapped->LinkedHeader;
  }
  if (tapped) TapBuffer(tapped->lpData, tapped->dwBytesRecorded);
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMConnector::BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  if (lpWaveHdr) TapBuffer(lpWaveHdr->lpData, lpWaveHdr->dwBytesRecorded);
}

void TMMConnector::FillSilence() {
  const int64_t capacity = converter_ ? converter_->DestSize : static_cast<int64_t>(tap_.size());
  if (!tap_.empty()) std::fill_n(Data(), capacity, silence_);
  valid_ = tap_.empty() ? 0 : capacity;
}

// ---- tapping and refreshing ----

void TMMConnector::TapBuffer(const void* data, int64_t count) {
  if (!enabled_ || !feed_started_ || feed_paused_ || !data || count <= 0) return;
  const int64_t now = Now();
  {
    std::lock_guard lock(lock_);
    if (!feed_started_ || tap_.empty()) return;
    const auto n = static_cast<size_t>(std::min<int64_t>(count, tap_.size()));
    std::memcpy(tap_.data(), data, n);
    valid_ = static_cast<int64_t>(n);
    if (converter_) {
      valid_ = acmConvertBytes(converter_.get(), static_cast<uint32_t>(n));
      if (valid_ <= 0) {
        valid_ = 0;
        return;
      }
    }
    MarkPending(now);
  }
  if (!real_time_ && auto_trigger_) Refresh();
  WakePump();
}

void TMMConnector::MarkPending(int64_t now) {
  arrival_ = now;
  for (Group& g : groups_) {
    const auto first = links_.begin() + g.first;
    if (std::any_of(first, first + g.count, [](auto* d) { return d != nullptr; })) {
      g.pending = true;
      g.offset = 0;
    }
  }
  spectrogram_offsets_ = {0, 0};
  if (links_[kSpectrogram1] || links_[kSpectrogram1 + 1]) spectrogram_pending_ = true;
}

void TMMConnector::PauseTick() {
  if (!feed_paused_) return;
  const int64_t now = Now();
  {
    std::lock_guard lock(lock_);
    MarkPending(now);
  }
  WakePump();
}

bool TMMConnector::CanRefresh() const {
  return enabled_ && (armed_ || (!real_time_ && feed_started_));
}

bool TMMConnector::DueForPump() const { return PacedByPump() && enabled_ && armed_; }

bool TMMConnector::PacedByPump() const {
  return auto_trigger_ && trigger_method_ == TMMTriggerMethod::tmMessage;
}

void TMMConnector::Refresh(bool catch_up) {
  {
    std::lock_guard lock(lock_);
    if (!CanRefresh() || tap_.empty()) return;
    RefreshLocked(catch_up);
  }
  if (OnTrigger) OnTrigger(this);
}

void TMMConnector::RefreshLocked(bool catch_up) {
  const int64_t elapsed = Now() - arrival_;
  for (int i = 0; i < kGroups; ++i) {
    while (groups_[i].pending && RefreshGroup(groups_[i], i, elapsed) && catch_up) {
    }
  }
  while (spectrogram_pending_ && RefreshSpectrograms(elapsed) && catch_up) {
  }
}

int64_t TMMConnector::DueAt(int64_t offset) const {
  const uint32_t rate = display_format_ ? display_format_->nAvgBytesPerSec() : 0;
  if (!synchronize_ || rate == 0) return 0;
  return offset * 1000000 / rate;
}

bool TMMConnector::Due(int64_t offset, int64_t elapsed) const { return elapsed >= DueAt(offset); }

std::optional<int64_t> TMMConnector::NextDueIn() const {
  std::lock_guard lock(lock_);
  if (!CanRefresh() || tap_.empty()) return std::nullopt;
  std::optional<int64_t> first;
  const auto consider = [&](int64_t offset) { first = std::min(first.value_or(offset), offset); };
  for (const Group& g : groups_) {
    if (g.pending) consider(g.offset);
  }
  if (spectrogram_pending_) {
    for (int i = 0; i < 2; ++i) {
      if (Spectrogram(i)) consider(spectrogram_offsets_[i]);
    }
  }
  if (!first) return std::nullopt;
  return arrival_ + DueAt(*first) - Now();
}

void TMMConnector::WakePump() const {
  if (armed_ && PacedByPump()) connector_pump::WakeIn(0);
}

int TMMConnector::GroupStep(const Group& g) const {
  int step = 0;
  for (int s = g.first; s < g.first + g.count; ++s) {
    if (links_[s]) step = std::max(step, links_[s]->BytesPerRefresh());
  }
  return step;
}

int64_t TMMConnector::OscopeTrigger(int64_t offset) const {
  const int mode = trigger_mode_ == TMMTriggerMode::tmUpFlank ? tmRising : tmFalling;
  const auto rest = std::span<const uint8_t>(Data(), static_cast<size_t>(valid_)).subspan(
      static_cast<size_t>(std::min(offset, valid_)), static_cast<size_t>(std::max<int64_t>(0, valid_ - offset)));
  return PCMFindTrigger(*display_format_, rest, trigger_level_, mode, 0);
}

int64_t TMMConnector::OscopeAdvance(int step) const {
  const TMMOscopeFeed* o = Oscope(0) ? Oscope(0) : Oscope(1);
  if (!o || !o->Scroll() || !o->Accelerate()) return step;
  return static_cast<int64_t>(o->FFTLength() / 4) * (o->BitLength() + 1) * (o->Mode() + 1);
}

bool TMMConnector::RefreshGroup(Group& g, int group, int64_t elapsed) {
  const int step = GroupStep(g);
  const bool oscope = group == kOscopes;
  int64_t trigger = 0;
  if (oscope && trigger_mode_ != TMMTriggerMode::tmNone && !feed_paused_) {
    trigger = OscopeTrigger(g.offset);
  }
  if (!Due(g.offset, elapsed)) return false;
  if (trigger > 0) g.offset += trigger;
  const int64_t at = g.offset;
  g.offset += oscope ? OscopeAdvance(step) : step;
  // A display that takes no bytes would never let the group end.
  if (step <= 0 || at + step > valid_) {
    g.pending = false;
    return false;
  }
  for (int s = g.first; s < g.first + g.count; ++s) {
    if (links_[s]) links_[s]->RefreshPCMData(Data() + at);
  }
  return g.offset > at;  // a block that does not move on is not handed over again
}

bool TMMConnector::RefreshSpectrograms(int64_t elapsed) {
  std::array<int64_t, 2> due_at{-1, -1};
  bool any_due = false;
  bool any_fits = false;
  bool moved = false;
  for (int i = 0; i < 2; ++i) {
    TMMSpectrogramFeed* s = Spectrogram(i);
    const int64_t at = spectrogram_offsets_[i];
    if (!s || !Due(at, elapsed)) continue;
    any_due = true;
    const int step = s->BytesPerRefresh();
    const int advance = s->Accelerate() ? step / 4 : step;
    spectrogram_offsets_[i] += advance;
    moved = moved || advance > 0;
    if (step > 0 && at + step <= valid_) {
      due_at[i] = at;
      any_fits = true;
    }
  }
  if (!any_due) return false;
  if (!any_fits) {
    spectrogram_pending_ = false;
    return false;
  }
  for (int i = 0; i < 2; ++i) {
    if (due_at[i] >= 0) Spectrogram(i)->RefreshPCMData(Data() + due_at[i]);
  }
  return moved;
}

// ---- driving ----

void TMMConnector::Trigger() {
  if (!CanRefresh() || PacedByPump()) return;
  if (MainLoop::Instance().IsGuiThread()) {
    Refresh();
    return;
  }
  int idle = 0;
  if (!triggers_in_flight_.compare_exchange_strong(idle, 1)) return;
  Post([](TMMConnector& c) {
    c.triggers_in_flight_ = 0;
    if (c.enabled_ && c.armed_) c.Refresh();
  });
}

void TMMConnector::Post(std::function<void(TMMConnector&)> fn) {
  std::weak_ptr<TMMConnector*> weak = self_;
  MainLoop::Instance().Post([weak, fn = std::move(fn)] {
    if (auto self = weak.lock()) fn(**self);
  });
}

void TMMConnector::PostStart() {
  Post([](TMMConnector& c) { c.HandleStart(); });
}

void TMMConnector::HandleStart() {
  if (!feed_started_ || armed_) return;
  Arm();
}

void TMMConnector::Arm() {
  triggers_in_flight_ = 0;
  armed_ = true;
  if (!auto_trigger_) return;
  if (trigger_method_ == TMMTriggerMethod::tmMessage) {
    connector_pump::Arm();
    if (NextDueIn()) WakePump();  // a buffer tapped before arming is owed too
  } else {
    timer_->SetEnabled(true);
  }
}

void TMMConnector::Disarm() {
  if (!armed_.exchange(false) || !auto_trigger_) return;
  if (trigger_method_ == TMMTriggerMethod::tmMessage) {
    connector_pump::Disarm();
  } else {
    timer_->SetEnabled(false);
  }
}

void TMMConnector::StartPauseAnimation() {
  if (pause_client_) return;
  const int32_t size = BufferSize();
  int interval = kPauseTickMs;
  if (size < kPauseTickBufferSize && display_format_) {
    interval = std::max(1, wfBytesToMs(&*display_format_, size));
  }
  pause_client_ = MMTimerAddClient(
      interval, 0, [](PMMTimerClient, void* data) { static_cast<TMMConnector*>(data)->PauseTick(); },
      this);
  if (!pause_client_) throw EOutOfResources("Nicht genügend Timer verfügbar");
}

void TMMConnector::StopPauseAnimation() {
  if (!pause_client_) return;
  // Without lock_: the tick takes it inside the timer's list lock.
  MMTimerRemoveClient(pause_client_);
  pause_client_ = nullptr;
}

}  // namespace pmx
