#include "audio/core/wave_in.h"

#include <algorithm>

#include "audio/core/mm_strings.h"
#include "audio/core/pcm_support.h"
#include "audio/core/wave_format.h"
#include "platform/ui_hook.h"

namespace pmx {
namespace {

constexpr std::chrono::milliseconds kNotificationTimeout{1000};
// Long enough for a slow chain to take the buffers handed back at Stop.
constexpr std::chrono::milliseconds kDrainTimeout{5000};

TMMWaveDevice::Kind WaveInKind() {
  return {WaveDirection::kInput, TMMCustomWaveIn::kMaxBuffers,
          LoadMMResString(SNoRecordingDevice), "TMMWaveIn", "WaveIn"};
}

}  // namespace

TMMCustomWaveIn::TMMCustomWaveIn(TComponent* owner)
    : TMMCustomSoundComponent(owner), device_(WaveInKind(), [this](const std::string& message) {
        Error(message);
      }) {
  PublishLinks(false, true);
  FormatChanged();
}

TMMCustomWaveIn::~TMMCustomWaveIn() {
  MarkDestroying();
  close_pending_ = false;
  Close();
  device_.StopThread();
  handle_.reset();
}

std::string TMMCustomWaveIn::GetWaveInDeviceName(int index) {
  return TMMWaveDevice::DeviceName(WaveDirection::kInput, index);
}

void TMMCustomWaveIn::Error(const std::string& message) {
  Fire(OnError);
  throw EMMWaveInError(message);
}

// ---- properties

void TMMCustomWaveIn::SetPWaveFormat(PWaveFormatEx f) {
  Close();
  if (ValidPCMFormat(f)) {
    sample_rate_ = static_cast<int>(f->nSamplesPerSec());
    bits_ = f->wBitsPerSample() == 16 ? TMMBits::b16Bit : TMMBits::b8Bit;
    channels_ = f->nChannels();
  }
  TMMCustomSoundComponent::SetPWaveFormat(f);
}

void TMMCustomWaveIn::FormatChanged() {
  WaveFormatEx format;
  FillPCMFormat(format, bits_ == TMMBits::b16Bit ? 16 : 8, static_cast<uint16_t>(channels_),
                static_cast<uint32_t>(sample_rate_));
  SetPWaveFormat(&format);
}

void TMMCustomWaveIn::SetBufferSize(int32_t n) {
  TMMCustomSoundComponent::SetBufferSize(device_.NewBufferSize(n));
}

TMMMode TMMCustomWaveIn::Mode() const {
  if (channels_ == 2) return TMMMode::mStereo;
  return channels_ >= 3 ? TMMMode::mMultiChannel : TMMMode::mMono;
}

void TMMCustomWaveIn::SetMode(TMMMode value) {
  if (value != TMMMode::mMultiChannel) SetChannels(value == TMMMode::mStereo ? 2 : 1);
}

void TMMCustomWaveIn::SetChannels(int value) {
  value = std::clamp(value, 1, 8);
  if (value == channels_) return;
  device_.CheckClosed();
  channels_ = value;
  FormatChanged();
}

void TMMCustomWaveIn::SetBitLength(TMMBits value) {
  if (value == bits_) return;
  device_.CheckClosed();
  bits_ = value;
  FormatChanged();
}

void TMMCustomWaveIn::SetSampleRate(int value) {
  value = std::clamp(value, 8000, 100000);
  if (value == sample_rate_) return;
  device_.CheckClosed();
  sample_rate_ = value;
  FormatChanged();
}

int64_t TMMCustomWaveIn::ToBytes(int64_t value) const {
  switch (time_format_) {
    case TMMTimeFormats::tfMillisecond:
      return wfMsToBytes(PWaveFormat(), static_cast<int32_t>(value));
    case TMMTimeFormats::tfSample:
      return wfSamplesToBytes(PWaveFormat(), static_cast<int32_t>(value));
    case TMMTimeFormats::tfByte:
      break;
  }
  return value;
}

int64_t TMMCustomWaveIn::FromBytes(int64_t bytes) const {
  const auto b = static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX));
  switch (time_format_) {
    case TMMTimeFormats::tfMillisecond:
      return wfBytesToMs(PWaveFormat(), b);
    case TMMTimeFormats::tfSample:
      return wfBytesToSamples(PWaveFormat(), b);
    case TMMTimeFormats::tfByte:
      break;
  }
  return bytes;
}

void TMMCustomWaveIn::SetTimeFormat(TMMTimeFormats value) {
  time_format_ = value;
  if (max_record_time_ < 0) return;
  try {
    max_record_time_ = static_cast<int32_t>(FromBytes(byte_limit_));
  } catch (const EMMWaveFormatError&) {
    // Without a measurable format the limit stays as it was written.
  }
}

void TMMCustomWaveIn::SetMaxRecordTime(int32_t value) {
  max_record_time_ = value;
  ComputeByteLimit();
}

void TMMCustomWaveIn::ComputeByteLimit() {
  int64_t bytes = -1;
  if (max_record_time_ >= 0 && PWaveFormat()) {
    try {
      bytes = ToBytes(max_record_time_);
    } catch (const EMMWaveFormatError&) {
    }
  }
  if (bytes < 0) {
    byte_limit_ = INT32_MAX;
    return;
  }
  const int64_t block = PWaveFormat()->nBlockAlign() ? PWaveFormat()->nBlockAlign() : 1;
  byte_limit_ = bytes / block * block;
}

uint64_t TMMCustomWaveIn::Overruns() const { return handle_ ? handle_->Overruns() : 0; }

// ---- position

MMRESULT TMMCustomWaveIn::ReadPosition(uint32_t& samples) {
  MMTIME time{TIME_SAMPLES, 0};
  const MMRESULT result = handle_->GetPosition(time);
  samples = time.wType == TIME_SAMPLES ? time.value
                                       : static_cast<uint32_t>(wfBytesToSamples(
                                             PWaveFormat(), static_cast<int32_t>(time.value)));
  return result;
}

int64_t TMMCustomWaveIn::GetPosition() {
  if (!device_.Has(wsOpen) || !PWaveFormat() || close_pending_ || closing_ || !handle_) return 0;
  uint32_t position = 0;
  device_.Check("WaveInGetPosition", ReadPosition(position));
  int64_t samples;
  {
    std::lock_guard lock(device_.mutex);
    samples = wraps_.Extend(position);
  }
  int64_t result = samples;
  if (time_format_ == TMMTimeFormats::tfMillisecond) result = wfSamplesToMs64(PWaveFormat(), samples);
  if (time_format_ == TMMTimeFormats::tfByte) result = wfSamplesToBytes64(PWaveFormat(), samples);
  if (max_record_time_ > 0) result = std::min<int64_t>(result, max_record_time_);
  return result;
}

// ---- lifecycle

template <class Step>
void TMMCustomWaveIn::Guarded(Step step, unsigned state_on_error) {
  try {
    step();
  } catch (...) {
    Fire(OnError);
    if (state_on_error) device_.SetState(state_on_error | device_.State());
    Close();
    throw;
  }
}

void TMMCustomWaveIn::Open() {
  device_.CheckOpenable(PWaveFormat(), LoadMMResString(SInvalidWaveFormat));
  if (device_.Has(wsOpen)) Close();
  if (device_.Has(wsOpen) || closing_) return;
  try {
    OpenDevice();
  } catch (...) {
    Fire(OnError);
    device_.SetState(wsOpen);
    Close();
    device_.SetState(wsClosed);
    throw;
  }
}

void TMMCustomWaveIn::OpenDevice() {
  {
    std::lock_guard lock(device_.mutex);
    stopping_ = stop_posted_ = stop_pending_ = false;
  }
  failed_ = false;
  if (!device_.Supports(*PWaveFormat())) {
    Error("WaveInOpen:\n\r" + LoadMMResString(SCantRecordFormat));
  }
  close_pending_ = false;
  ++epoch_;
  device_.ClearNotifications();
  if (CallBackMode() == TMMCBMode::cmThread) {
    device_.StartThread(std::make_unique<TMMWaveInThread>(
        this, [this](std::exception_ptr error) { HandlerFailed(error); }));
  }
  device_.Check("WaveInOpen",
                waveInOpen(handle_, DeviceID(), *PWaveFormat(),
                           device_.Callback([this](WAVEHDR* h) { BufferDone(h); }), 0));
  const unsigned state = device_.State();
  device_.SetState(wsClosed);
  TMMCustomSoundComponent::Opened();
  device_.SetState(state);
  if (!device_.WaitNotification(true, kNotificationTimeout)) {
    Error("WaveInOpen:\n\r" + LoadMMResString(SUnableToOpenDevice));
  }
  device_.SetState(wsOpen);
  for (int i = 0; i < NumBuffers(); ++i) {
    device_.Check("WaveInPrepareHeader",
                  handle_->PrepareHeader(device_.AllocateBlock(i, BufferSize())));
  }
  Opened();
}

void TMMCustomWaveIn::Opened() { Fire(OnOpen); }

void TMMCustomWaveIn::Start() {
  if (!device_.Has(wsOpen)) Open();
  if (!device_.Has(wsOpen) || device_.Has(wsStarted)) return;
  Guarded(
      [this] {
        {
          std::lock_guard lock(device_.mutex);
          queued_ = handler_depth_ = 0;
          stop_pending_ = stopping_ = stop_posted_ = false;
          wraps_ = {};
        }
        recorded_ = 0;
        ComputeByteLimit();
        for (int i = 0; i < NumBuffers(); ++i) AddBuffer(device_.Block(i));
        Started();
      },
      wsStarted);
}

void TMMCustomWaveIn::AddBuffer(WAVEHDR* header) {
  device_.Check("WaveInAddBuffer", QueueAgain(header));
}

MMRESULT TMMCustomWaveIn::QueueAgain(WAVEHDR* header) {
  header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
  const MMRESULT result = handle_->AddBuffer(header);
  if (result == MMSYSERR_NOERROR) ++queued_;
  return result;
}

void TMMCustomWaveIn::Started() {
  device_.AddState(wsStarted);
  // The chain is started first, so that nothing captured reaches a stopped node.
  TMMCustomSoundComponent::Started();
  if (!device_.Has(wsPaused)) device_.Check("WaveInStart", handle_->Start());
  Fire(OnStart);
}

void TMMCustomWaveIn::Pause() {
  if (!device_.Has(wsOpen)) Open();
  if (!device_.Has(wsOpen) || device_.Has(wsPaused)) return;
  Guarded([this] {
    if (device_.Has(wsStarted)) device_.Check("WaveInPause", handle_->Stop());
    Paused();
  });
}

void TMMCustomWaveIn::Paused() {
  device_.AddState(wsPaused);
  TMMCustomSoundComponent::Paused();
  Fire(OnPause);
}

void TMMCustomWaveIn::Restart() {
  if (!device_.Has(wsStarted) || !device_.Has(wsPaused)) return;
  Guarded([this] {
    device_.Check("WaveInRestart", handle_->Start());
    Restarted();
  });
}

void TMMCustomWaveIn::Restarted() {
  device_.RemoveState(wsPaused);
  TMMCustomSoundComponent::Restarted();
  Fire(OnRestart);
}

void TMMCustomWaveIn::Stop() {
  if (!device_.Has(wsStarted | wsPaused)) return;
  Guarded([this] {
    {
      std::lock_guard lock(device_.mutex);
      stopping_ = true;
    }
    device_.Check("WaveInStop", handle_->Stop());
    {
      std::lock_guard lock(device_.mutex);
      wraps_.ClearWraps();
    }
    device_.Check("WaveInReset", handle_->Reset());
    if (!InHandler()) AwaitQueueEmpty();
    Stopped();
  });
}

void TMMCustomWaveIn::AwaitQueueEmpty() {
  TMMWaveDevice::Await(
      [this] {
        std::lock_guard lock(device_.mutex);
        return queued_ == 0;
      },
      kDrainTimeout);
}

void TMMCustomWaveIn::Stopped() {
  {
    std::lock_guard lock(device_.mutex);
    if (!device_.Has(wsStarted | wsPaused)) return;
    if (InHandler()) {
      stop_pending_ = true;
      return;
    }
    device_.RemoveState(wsStarted | wsPaused);
    queued_ = 0;
    stop_pending_ = false;
  }
  TMMCustomSoundComponent::Stopped();
  if (!Destroying()) Fire(OnStop);
  if (close_pending_) Close();
}

void TMMCustomWaveIn::Close() {
  if (!((device_.Has(wsOpen) && !closing_) || close_pending_)) return;
  closing_ = true;
  try {
    if (device_.Has(wsStarted | wsPaused)) Stop();
  } catch (...) {
    // Stop has reported it; the device is taken down all the same.
  }
  {
    std::lock_guard lock(device_.mutex);
    if (stop_pending_) {
      close_pending_ = true;
      return;
    }
  }
  close_pending_ = false;
  try {
    CloseDevice();
  } catch (...) {
    closing_ = false;
  }
}

void TMMCustomWaveIn::CloseDevice() {
  bool notified = true;
  device_.StopThread();
  if (handle_) {
    handle_->Stop();
    handle_->Reset();
    for (int i = 0; i < device_.BlockCount(); ++i) {
      device_.Check("WaveInUnprepareHeader", handle_->UnprepareHeader(device_.Block(i)));
    }
    const MMRESULT result = handle_->Close();
    if (result == MMSYSERR_NOERROR) notified = device_.WaitNotification(false, kNotificationTimeout);
    handle_.reset();
    device_.Check("WaveInClose", result);
  }
  device_.SetState(wsClosed);
  {
    std::lock_guard lock(device_.mutex);
    wraps_.ClearWraps();
  }
  TMMCustomSoundComponent::Closed();
  Closed();
  if (!notified) Error("WaveInClose:\n\r" + LoadMMResString(SUnableToCloseDevice));
}

void TMMCustomWaveIn::Closed() {
  device_.FreeBlocks();
  closing_ = false;
  if (!Destroying()) Fire(OnClose);
}

// ---- buffers

void TMMCustomWaveIn::BufferDone(WAVEHDR* header) {
  // Device I/O thread: hand the buffer to the handler thread.
  const uint64_t epoch = epoch_.load();
  if (CallBackMode() == TMMCBMode::cmThread) {
    device_.Dispatch([this, header, epoch] { HandleBuffer(header, epoch); });
    return;
  }
  device_.Dispatch([this, header, epoch] {
    try {
      HandleBuffer(header, epoch);
    } catch (...) {
      HandlerFailed(std::current_exception());
    }
  });
}

void TMMCustomWaveIn::HandleBuffer(WAVEHDR* header, uint64_t epoch) {
  if (epoch != epoch_.load() || !device_.Has(wsStarted)) return;
  {
    std::lock_guard lock(device_.mutex);
    if (handler_depth_++ == 0) handler_thread_.store(std::this_thread::get_id());
  }
  try {
    // Everything captured goes down the chain, also what comes back while stopping.
    if (header->dwBytesRecorded > 0 && !failed_) BufferReady(header);
    MMRESULT result = MMSYSERR_NOERROR;
    {
      // Queued again under the lock, so that a Stop either sees it queued (and its
      // Reset returns it) or keeps it from being queued.
      std::lock_guard lock(device_.mutex);
      --queued_;
      uint32_t position = 0;
      if (!stopping_ && !stop_pending_ && !failed_) {
        if (ReadPosition(position) == MMSYSERR_NOERROR && position != 0) wraps_.Track(position);
        result = QueueAgain(header);
      }
    }
    device_.Check("WaveInAddBuffer", result);
  } catch (...) {
    EndHandler();
    throw;
  }
  EndHandler();
}

void TMMCustomWaveIn::EndHandler() {
  {
    std::lock_guard lock(device_.mutex);
    if (--handler_depth_ == 0) {
      handler_thread_.store(std::thread::id());
      if (stop_pending_ && !stop_posted_) {
        stop_posted_ = stopping_ = true;
        device_.PostToGui([this] { Stop(); });
      }
    }
  }
  TMMWaveDevice::Changed();
}

void TMMCustomWaveIn::HandlerFailed(std::exception_ptr error) {
  failed_ = true;
  device_.PostToGui([this] { Close(); });
  HandleApplicationException(error);
}

void TMMCustomWaveIn::BufferReady(WAVEHDR* lpWaveHdr) {
  recorded_ += lpWaveHdr->dwBytesRecorded;
  bool reached = false;
  if (max_record_time_ > 0 && recorded_ >= byte_limit_) {
    const int64_t excess = std::min<int64_t>(recorded_ - byte_limit_, lpWaveHdr->dwBytesRecorded);
    lpWaveHdr->dwBytesRecorded -= static_cast<uint32_t>(excess);
    recorded_ = byte_limit_;
    reached = true;
  }
  if (lpWaveHdr->dwBytesRecorded > 0) TMMCustomSoundComponent::BufferReady(lpWaveHdr);
  bool stopping;
  {
    std::lock_guard lock(device_.mutex);
    stopping = stopping_;
  }
  if (reached && !stopping) Stop();
}

}  // namespace pmx
