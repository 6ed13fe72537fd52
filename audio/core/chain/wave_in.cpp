#include "audio/core/chain/wave_in.h"

#include <algorithm>
#include <utility>

#include "audio/core/dsp/pcm_support.h"
#include "audio/core/dsp/wave_format.h"
#include "audio/core/objects/mm_strings.h"

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
    : TMMWaveDeviceComponent(owner, WaveInKind()) {
  PublishLinks(false, true);
  FormatChanged();
}

TMMCustomWaveIn::~TMMCustomWaveIn() {
  MarkDestroying();
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

bool TMMCustomWaveIn::Holds(int value, int current) const {
  return value == current && PWaveFormat() && PWaveFormat()->wFormatTag() == WAVE_FORMAT_PCM;
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
  if (Holds(value, channels_)) return;
  device_.CheckClosed();
  channels_ = value;
  FormatChanged();
}

void TMMCustomWaveIn::SetBitLength(TMMBits value) {
  if (Holds(static_cast<int>(value), static_cast<int>(bits_))) return;
  device_.CheckClosed();
  bits_ = value;
  FormatChanged();
}

void TMMCustomWaveIn::SetSampleRate(int value) {
  value = std::clamp(value, 8000, 100000);
  if (Holds(value, sample_rate_)) return;
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

uint64_t TMMCustomWaveIn::Overruns() const {
  return handle_ ? handle_->Overruns() : closed_overruns_;
}

uint64_t TMMCustomWaveIn::LostFrames() const {
  return handle_ ? handle_->LostFrames() : closed_lost_;
}

std::string TMMCustomWaveIn::Failure() const {
  std::lock_guard lock(device_.mutex);
  return failure_;
}

// ---- position

int64_t TMMCustomWaveIn::GetPosition() {
  if (!device_.Has(wsOpen) || !PWaveFormat() || device_.Closing() || !handle_) return 0;
  uint32_t position = 0;
  device_.Check("WaveInGetPosition", TMMWaveDevice::ReadSamples(*handle_, PWaveFormat(), position));
  int64_t samples;
  {
    // Every reading follows the counter, so a wrap between two buffers is seen too.
    std::lock_guard lock(device_.mutex);
    if (position != 0) device_.handlers.wraps.Track(position);
    samples = device_.handlers.wraps.Extend(position);
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
  TMMWaveDevice::Guarded(step, [this, state_on_error] {
    Fire(OnError);
    device_.AddState(state_on_error);
    Close();
  });
}

void TMMCustomWaveIn::Open() {
  device_.Open(
      PWaveFormat(), LoadMMResString(SInvalidWaveFormat), [this] { Fire(OnError); }, [this] { Close(); },
      [this] { OpenDevice(); });
}

void TMMCustomWaveIn::OpenDevice() {
  device_.PrepareOpen(*PWaveFormat(), "WaveInOpen:\n\r" + LoadMMResString(SCantRecordFormat));
  closed_overruns_ = closed_lost_ = 0;
  {
    std::lock_guard lock(device_.mutex);
    failure_.clear();
  }
  if (CallBackMode() == TMMCBMode::cmThread) {
    device_.StartThread(std::make_unique<TMMWaveInThread>(
        this, [this](std::exception_ptr error) { HandlerFailed(std::move(error)); }));
  }
  device_.Check("WaveInOpen", waveInOpen(handle_, DeviceID(), *PWaveFormat(), DeviceCallback(), 0));
  const unsigned state = device_.State();
  device_.SetState(wsClosed);
  TMMCustomSoundComponent::Opened();
  device_.SetState(state);
  device_.AwaitOpened("WaveInOpen", kNotificationTimeout);
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
        device_.ResetHandlers();
        recorded_ = 0;
        ComputeByteLimit();
        for (int i = 0; i < NumBuffers(); ++i) AddBuffer(device_.Block(i));
        Started();
      },
      wsStarted);
}

void TMMCustomWaveIn::AddBuffer(WAVEHDR* header) {
  bool wake = false;
  const MMRESULT result = QueueAgain(header, wake);
  if (wake) handle_->WakeIoThread();
  device_.Check("WaveInAddBuffer", result);
}

MMRESULT TMMCustomWaveIn::QueueAgain(WAVEHDR* header, bool& wake) {
  header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
  const MMRESULT result = handle_->QueueBuffer(header, wake);
  if (result == MMSYSERR_NOERROR) ++device_.handlers.queued;
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
      device_.handlers.stopping = true;
    }
    device_.Check("WaveInStop", handle_->Stop());
    {
      std::lock_guard lock(device_.mutex);
      device_.handlers.wraps.ClearWraps();
    }
    device_.Check("WaveInReset", handle_->Reset());
    if (!device_.InHandler()) device_.AwaitIdle(kDrainTimeout);
    Stopped();
  });
}

void TMMCustomWaveIn::Stopped() {
  {
    std::lock_guard lock(device_.mutex);
    if (!device_.Has(wsStarted | wsPaused)) return;
    if (device_.InHandler()) {
      device_.handlers.stop_pending = true;
      return;
    }
    device_.RemoveState(wsStarted | wsPaused);
    device_.handlers.queued = 0;
    device_.handlers.stop_pending = false;
  }
  TMMCustomSoundComponent::Stopped();
  if (!Destroying()) Fire(OnStop);
  if (device_.ClosePending()) Close();
}

void TMMCustomWaveIn::Close() {
  device_.Close([this] { Stop(); }, [this] { CloseDevice(); });
}

void TMMCustomWaveIn::CloseDevice() {
  bool notified = true;
  device_.StopThread();
  if (handle_) {
    const std::unique_ptr<WaveInDevice> handle = std::move(handle_);
    handle->Stop();
    handle->Reset();
    for (int i = 0; i < device_.BlockCount(); ++i) {
      device_.Check("WaveInUnprepareHeader", handle->UnprepareHeader(device_.Block(i)));
    }
    closed_overruns_ = handle->Overruns();
    closed_lost_ = handle->LostFrames();
    notified = device_.CloseHandle(*handle, "WaveInClose");
  }
  device_.MarkClosed();
  TMMCustomSoundComponent::Closed();
  Closed();
  if (!notified) Error("WaveInClose:\n\r" + LoadMMResString(SUnableToCloseDevice));
}

void TMMCustomWaveIn::Closed() {
  if (!Destroying()) Fire(OnClose);
}

// ---- buffers

void TMMCustomWaveIn::BufferDone(WAVEHDR* header) {
  // Device I/O thread: hand the buffer to the handler thread.
  device_.DispatchBuffer([this, header] { HandleBuffer(header); },
                         [this](std::exception_ptr error) { HandlerFailed(std::move(error)); });
}

void TMMCustomWaveIn::HandleBuffer(WAVEHDR* header) {
  if (!device_.Has(wsStarted)) return;
  device_.EnterHandler();
  try {
    // Everything captured goes down the chain, also what comes back while stopping.
    if (header->dwBytesRecorded > 0 && !device_.Failed()) BufferReady(header);
    MMRESULT result = MMSYSERR_NOERROR;
    bool wake = false;
    {
      // Queued again under the lock, so that a Stop either sees it queued (and its
      // Reset returns it) or keeps it from being queued. The I/O thread is woken
      // after the lock is let go: it needs the lock as soon as it has read.
      std::lock_guard lock(device_.mutex);
      TMMWaveDevice::Handlers& h = device_.handlers;
      --h.queued;
      uint32_t position = 0;
      if (!h.stopping && !h.stop_pending && !device_.Failed()) {
        if (TMMWaveDevice::ReadSamples(*handle_, PWaveFormat(), position) == MMSYSERR_NOERROR &&
            position != 0) {
          h.wraps.Track(position);
        }
        result = QueueAgain(header, wake);
      }
    }
    if (wake) handle_->WakeIoThread();
    device_.Check("WaveInAddBuffer", result);
  } catch (...) {
    EndHandler();
    throw;
  }
  EndHandler();
}

void TMMCustomWaveIn::EndHandler() {
  if (device_.LeaveHandler(false)) device_.PostToGui([this] { Stop(); });
}

WaveCallback TMMCustomWaveIn::DeviceCallback() {
  WaveCallback notes = device_.Callback([this](WAVEHDR* h) { BufferDone(h); });
  return [this, notes](WaveDevice& handle, uint32_t message, WAVEHDR* header) {
    if (message != WIM_FAILED) return notes(handle, message, header);
    // Queued behind the buffers handed back before it.
    device_.DispatchBuffer([this] { DeviceFailed(); },
                           [this](std::exception_ptr error) { HandlerFailed(std::move(error)); });
  };
}

void TMMCustomWaveIn::DeviceFailed() {
  if (!device_.Has(wsStarted)) return;
  {
    std::lock_guard lock(device_.mutex);
    failure_ = handle_->Failure();
  }
  Fire(OnError);
}

void TMMCustomWaveIn::HandlerFailed(std::exception_ptr error) {
  device_.HandlerFailed(std::move(error), [this] { Close(); });
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
    stopping = device_.handlers.stopping;
  }
  if (reached && !stopping) Stop();
}

}  // namespace pmx
