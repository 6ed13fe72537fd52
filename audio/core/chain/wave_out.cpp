#include "audio/core/chain/wave_out.h"

#include "audio/core/dsp/wave_format.h"
#include "audio/core/objects/mm_strings.h"

namespace pmx {
namespace {

constexpr std::chrono::milliseconds kNotificationTimeout{5000};
constexpr std::chrono::milliseconds kDrainTimeout{5000};

TMMWaveDevice::Kind WaveOutKind() {
  return {WaveDirection::kOutput, TMMWaveOut::kMaxBuffers, LoadMMResString(SNoPlayingDevice),
          "TMMWaveOut", "WaveOut"};
}

}  // namespace

TMMWaveOut::TMMWaveOut(TComponent* owner)
    : TMMWaveDeviceComponent(owner, WaveOutKind()) {
  PublishLinks(true, true);
}

TMMWaveOut::~TMMWaveOut() {
  MarkDestroying();
  Close();
  device_.StopThread();
  handle_.reset();
}

std::string TMMWaveOut::GetWaveOutDeviceName(int index) {
  return TMMWaveDevice::DeviceName(WaveDirection::kOutput, index);
}

void TMMWaveOut::Error(const std::string& message) {
  Fire(OnError);
  throw EMMWaveOutError(message);
}

void TMMWaveOut::SetPWaveFormat(PWaveFormatEx f) {
  Close();
  TMMCustomWaveOutComponent::SetPWaveFormat(f);
}

void TMMWaveOut::SetBufferSize(int32_t n) {
  TMMCustomWaveOutComponent::SetBufferSize(device_.NewBufferSize(n));
}

void TMMWaveOut::SetLooping(bool value) {
  looping_ = value;
  loops_remaining_ = loop_count_;
}

void TMMWaveOut::SetLoopCount(uint16_t value) {
  loop_count_ = value;
  loops_remaining_ = value;
}

uint64_t TMMWaveOut::Underruns() const {
  return handle_ ? handle_->Underruns() : closed_underruns_;
}

// ---- position

int64_t TMMWaveOut::PlayedSamples() {
  uint32_t position = 0;
  device_.Check("WaveOutGetPosition", TMMWaveDevice::ReadSamples(*handle_, PWaveFormat(), position));
  std::lock_guard lock(device_.mutex);
  return device_.handlers.wraps.Extend(position) + position_base_ - loop_base_;
}

int64_t TMMWaveOut::GetPosition() {
  if (!device_.Has(wsOpen) || !PWaveFormat() || device_.ClosePending() || !handle_) return 0;
  const int64_t samples = PlayedSamples();
  if (time_format_ == TMMTimeFormats::tfMillisecond) return wfSamplesToMs64(PWaveFormat(), samples);
  if (time_format_ == TMMTimeFormats::tfByte) return wfSamplesToBytes64(PWaveFormat(), samples);
  return samples;
}

// ---- lifecycle

template <class Step>
void TMMWaveOut::Guarded(Step step, unsigned state_on_error) {
  TMMWaveDevice::Guarded(step, [this, state_on_error] {
    Fire(OnError);
    device_.AddState(state_on_error);
    Close();
  });
}

void TMMWaveOut::Open() {
  device_.Open(
      PWaveFormat(), "WaveOutOpen:\n\r" + LoadMMResString(SInvalidWaveFormat), [this] { Fire(OnError); }, [this] { Close(); },
      [this] { OpenDevice(); });
}

void TMMWaveOut::OpenDevice() {
  device_.PrepareOpen(*PWaveFormat(), "WaveOutOpen:\n\r" + LoadMMResString(SCantPlayFormat));
  closed_underruns_ = 0;
  TMMCustomSoundComponent::Opened();
  if (CallBackMode() == TMMCBMode::cmThread) {
    device_.StartThread(std::make_unique<TMMWaveOutThread>(
        this, [this](std::exception_ptr error) { HandlerFailed(std::move(error)); }));
  }
  const uint32_t flags = mapped_ && DeviceID() >= 0 ? WAVE_MAPPED : 0;
  device_.Check("WaveOutOpen",
                waveOutOpen(handle_, DeviceID(), *PWaveFormat(),
                            device_.Callback([this](WAVEHDR* h) { BufferDone(h); }), flags));
  device_.AwaitOpened("WaveOutOpen", kNotificationTimeout);
  Fire(OnOpen);
}

void TMMWaveOut::Start() {
  if (!device_.Has(wsOpen)) Open();
  if (!device_.Has(wsOpen) || device_.Has(wsStarted)) return;
  Guarded(
      [this] {
        device_.ResetHandlers();
        {
          std::lock_guard lock(device_.mutex);
          position_base_ = loop_base_ = 0;
        }
        loops_remaining_ = loop_count_;
        index_ = 0;
        // The device stays silent while the queue is primed.
        device_.Check("WaveOutPause", handle_->Pause());
        TMMCustomSoundComponent::Started();
        filled_ = Prime();
        device_.AddState(wsStarted);
        if (filled_ == 0) {
          TMMCustomSoundComponent::Stopped();
          Error("WaveOutStart:\n\r" + LoadMMResString(SUnableToStartDevice));
        }
        if (!device_.Has(wsPaused)) device_.Check("WaveOutRestart", handle_->Restart());
        Fire(OnStart);
      },
      wsStarted);
}

int TMMWaveOut::Prime() {
  more_ = true;
  int written = 0;
  for (int i = 0; i < NumBuffers() && more_; ++i) {
    WAVEHDR* header = device_.AllocateBlock(i, BufferSize());
    device_.Check("WaveOutPrepareHeader", handle_->PrepareHeader(header));
    if (LoadBuffer(header) < 1) break;
    Write(header);
    ++written;
  }
  return written;
}

int32_t TMMWaveOut::LoadBuffer(WAVEHDR* header) {
  bool more = false;
  BufferLoad(header, more);
  const auto bytes = static_cast<int32_t>(header->dwBytesRecorded);
  more_ = more && bytes > 0;
  return bytes;
}

void TMMWaveOut::BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  lpWaveHdr->dwBufferLength = static_cast<uint32_t>(BufferSize());
  lpWaveHdr->dwBytesRecorded = 0;
  lpWaveHdr->LoopFlag = looping_;
  if (looping_) {
    lpWaveHdr->LoopCount = loop_count_;
    lpWaveHdr->LoopsRemaining = loops_remaining_;
    lpWaveHdr->LoopRestart = false;
  }
  TMMCustomWaveOutComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  // The driver plays only the filled part.
  lpWaveHdr->dwBufferLength = lpWaveHdr->dwBytesRecorded;
  if (looping_) loops_remaining_ = lpWaveHdr->LoopsRemaining;
}

void TMMWaveOut::Write(WAVEHDR* header) {
  if (OnBufferFilled) OnBufferFilled(this, header);
  MMRESULT result;
  {
    // Under the lock, so that a flush either finds it queued or keeps it out.
    std::lock_guard lock(device_.mutex);
    if (device_.handlers.stopping || device_.handlers.flushing) return;
    header->dwFlags = (header->dwFlags | WHDR_PREPARED) & ~WHDR_DONE;
    header->SavedBytes = header->dwBytesRecorded;
    ++device_.handlers.queued;
    result = handle_->Write(header);
    if (result != MMSYSERR_NOERROR) --device_.handlers.queued;
  }
  device_.Check("WaveOutWrite", result);
  // Buffers the write found played go to their handlers from here: a device
  // that keeps pace costs no hand-off through the device's thread.
  handle_->DeliverPending();
}

void TMMWaveOut::Flush() {
  {
    std::lock_guard lock(device_.mutex);
    device_.handlers.flushing = true;
  }
  device_.NewEpoch();
  const MMRESULT result = handle_->Reset();
  if (result != MMSYSERR_NOERROR) device_.Check("WaveOutReset", result);
  device_.AwaitIdle(kDrainTimeout);
  index_ = 0;
  std::lock_guard lock(device_.mutex);
  device_.handlers.queued = 0;
}

void TMMWaveOut::Pause() {
  if (!device_.Has(wsOpen)) Open();
  if (!device_.Has(wsOpen) || device_.Has(wsPaused)) return;
  Guarded([this] {
    if (device_.Has(wsStarted)) {
      device_.Check("WaveOutPause", handle_->Pause());
      device_.AddState(wsPaused);
      if (UpstreamDevice()) {
        // The queue is emptied; Restart primes it again from here.
        const int64_t played = PlayedSamples();
        Flush();
        std::lock_guard lock(device_.mutex);
        position_base_ = played + loop_base_;
        device_.handlers.wraps = {};
        reprime_ = true;
      }
    }
    device_.AddState(wsPaused);
    TMMCustomSoundComponent::Paused();
    Fire(OnPause);
  });
}

void TMMWaveOut::Restart() {
  if (!device_.Has(wsStarted) || !device_.Has(wsPaused)) return;
  Guarded([this] {
    {
      std::lock_guard lock(device_.mutex);
      device_.handlers.flushing = false;
    }
    TMMCustomSoundComponent::Restarted();
    if (reprime_) {
      reprime_ = false;
      filled_ = Prime();
      if (filled_ == 0) {
        device_.RemoveState(wsPaused);
        Stop();
        return;
      }
    }
    device_.Check("WaveOutRestart", handle_->Restart());
    device_.RemoveState(wsPaused);
    Fire(OnRestart);
  });
}

void TMMWaveOut::ResetDevice() {
  if (!device_.Has(wsStarted | wsPaused)) return;
  {
    std::lock_guard lock(device_.mutex);
    if (device_.handlers.flushing) return;
  }
  Guarded([this] {
    device_.Check("WaveOutPause", handle_->Pause());
    Flush();
    {
      std::lock_guard lock(device_.mutex);
      device_.handlers.flushing = false;
      device_.handlers.wraps = {};
      position_base_ = loop_base_ = 0;
    }
    TMMCustomSoundComponent::Reset();
    filled_ = Prime();
    if (!device_.Has(wsPaused)) device_.Check("WaveOutRestart", handle_->Restart());
    if (filled_ == 0) Stop();
  });
}

void TMMWaveOut::Stop() {
  if (!device_.Has(wsStarted | wsPaused)) return;
  Guarded([this] {
    {
      std::lock_guard lock(device_.mutex);
      device_.handlers.stopping = device_.handlers.flushing = true;
      device_.handlers.wraps.ClearWraps();
    }
    device_.NewEpoch();
    const MMRESULT result = handle_->Reset();
    if (result != MMSYSERR_NOERROR) device_.Check("WaveOutReset", result);
    {
      std::lock_guard lock(device_.mutex);
      if (device_.InHandler()) {
        device_.handlers.stop_pending = true;
        return;
      }
    }
    StopDevice();
  });
}

void TMMWaveOut::StopDevice() {
  device_.RemoveState(wsStarted | wsPaused);
  device_.AwaitIdle(kDrainTimeout);
  TMMCustomSoundComponent::Stopped();
  for (int i = 0; i < device_.BlockCount(); ++i) {
    device_.Check("WaveOutUnprepareHeader", handle_->UnprepareHeader(device_.Block(i)));
  }
  device_.FreeBlocks();
  filled_ = index_ = 0;
  reprime_ = false;
  {
    std::lock_guard lock(device_.mutex);
    device_.handlers.queued = 0;
    device_.handlers.stop_pending = false;
  }
  if (!Destroying()) Fire(OnStop);
  if (device_.ClosePending()) Close();
}

void TMMWaveOut::Close() {
  device_.Close([this] { Stop(); }, [this] { CloseDevice(); });
}

void TMMWaveOut::CloseDevice() {
  bool notified = true;
  device_.StopThread();
  if (handle_) {
    const std::unique_ptr<WaveOutDevice> handle = std::move(handle_);
    closed_underruns_ = handle->Underruns();
    notified = device_.CloseHandle(*handle, "WaveOutClose");
  }
  device_.MarkClosed();
  TMMCustomSoundComponent::Closed();
  if (!Destroying()) Fire(OnClose);
  if (!notified) Error("WaveOutClose:\n\r" + LoadMMResString(SUnableToCloseDevice));
}

// ---- buffers

void TMMWaveOut::BufferDone(WAVEHDR* header) {
  // Device I/O thread: counted here, so that a handler sees the driver's queue;
  // while flushing or stopping the buffer is only counted off.
  device_.DispatchBuffer([this, header] { HandleDone(header); },
                         [this](std::exception_ptr error) { HandlerFailed(std::move(error)); },
                         [this] {
                           TMMWaveDevice::Handlers& h = device_.handlers;
                           --h.queued;
                           return !h.flushing && !h.stopping;
                         });
}

void TMMWaveOut::HandleDone(WAVEHDR* header) {
  if (!device_.Has(wsStarted) || filled_ == 0) return;
  device_.EnterHandler();
  try {
    PassOn(header);
    bool stop_pending;
    {
      std::lock_guard lock(device_.mutex);
      stop_pending = device_.handlers.stop_pending;
    }
    if (stop_pending || device_.Failed()) return EndHandler();
    // A pass of a looping source ended with this buffer, also when the source's
    // last buffers were all queued at once.
    if (looping_ && header->LoopRestart) NoteLoop(header);
    if (more_) Refill(header);
  } catch (...) {
    EndHandler();
    throw;
  }
  EndHandler();
}

void TMMWaveOut::PassOn(WAVEHDR* header) {
  index_ = (index_ + 1) % filled_;
  header->dwBytesRecorded = header->SavedBytes;
  WAVEHDR* playing = device_.Block(index_);
  header->LinkedHeader = playing;
  playing->dwBytesRecorded = playing->SavedBytes;
  if (!device_.Failed()) TMMCustomWaveOutComponent::BufferReady(header);
  uint32_t position = 0;
  if (TMMWaveDevice::ReadSamples(*handle_, PWaveFormat(), position) == MMSYSERR_NOERROR) {
    std::lock_guard lock(device_.mutex);
    device_.handlers.wraps.Track(position);
  }
}

void TMMWaveOut::NoteLoop(WAVEHDR* header) {
  const int64_t played = PlayedSamples();
  {
    std::lock_guard lock(device_.mutex);
    loop_base_ += played;
  }
  header->LoopRestart = false;
  Looped();
  Fire(OnLooping);
}

void TMMWaveOut::Refill(WAVEHDR* header) {
  const int32_t bytes = LoadBuffer(header);
  bool stop_pending;
  {
    std::lock_guard lock(device_.mutex);
    stop_pending = device_.handlers.stop_pending;
  }
  if (stop_pending) return;
  if (bytes < 1) Error(LoadMMResString(SErrorFillingBuffer));
  Write(header);
}

void TMMWaveOut::EndHandler() {
  if (!device_.LeaveHandler(!more_)) return;
  // Everything has played, or a stop was asked for inside the handler.
  handle_->Pause();
  device_.PostToGui([this] { Stop(); });
}

void TMMWaveOut::HandlerFailed(std::exception_ptr error) {
  device_.HandlerFailed(std::move(error), [this] { Close(); });
}

}  // namespace pmx
