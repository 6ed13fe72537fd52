#include "platform/alsa/fake_wave_driver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace pmx {
namespace {

class FakeStream : public WaveStream {
 public:
  explicit FakeStream(std::shared_ptr<FakePcm> pcm) : pcm_(std::move(pcm)) {}
  int Prepare() override { return pcm_->Prepare(); }
  int Start() override { return pcm_->Start(); }
  int Drop() override { return pcm_->Drop(); }
  long Read(void* data, uint32_t frames) override { return pcm_->Read(data, frames); }
  long Write(const void* data, uint32_t frames) override { return pcm_->Write(data, frames); }
  long Avail() override { return pcm_->Avail(); }
  long Delay() override { return pcm_->Delay(); }
  void Wait(bool, int timeout_ms) override { pcm_->Wait(timeout_ms); }
  void Wake() override { pcm_->Wake(); }
  uint64_t StartFrame() const override { return pcm_->StartFrame(); }
  uint64_t LostFrames() override { return pcm_->LostFrames(); }
  bool ReadClock(Clock& clock) override { return pcm_->ReadClock(clock); }
  std::chrono::steady_clock::time_point PlayTime() override { return pcm_->PlayTime(); }

 private:
  const std::shared_ptr<FakePcm> pcm_;
};

}  // namespace

FakePcm::FakePcm(bool capture, const WaveFormatEx& format, uint32_t buffer_frames,
                 uint64_t start_frame, int64_t rate_error_ppm, bool drops_when_full)
    : capture_(capture),
      format_(format),
      buffer_frames_(buffer_frames),
      start_frame_(start_frame),
      rate_error_ppm_(rate_error_ppm),
      drops_when_full_(drops_when_full) {}

void FakePcm::Advance(uint64_t frames) {
  std::lock_guard lock(mutex_);
  Move(frames, true);
}

void FakePcm::LoseUnreported(uint64_t frames) {
  std::lock_guard lock(mutex_);
  Move(frames, false);
}

void FakePcm::Move(uint64_t frames, bool keep) {
  ++ticks_;
  clock_ += frames;
  if (running_ && capture_) {
    // What the device has made by now at its own rate, less what it made before.
    run_clock_ += frames;
    const auto total = static_cast<uint64_t>(static_cast<__int128>(run_clock_) *
                                             (1'000'000 + rate_error_ppm_) / 1'000'000);
    const uint64_t made = total - made_;
    made_ = total;
    generated_ += made;
    // Frames not kept vanish without a word.
    if (keep && xrun_) {
      lost_ += made;
    } else if (keep) {
      buffered_ += made;
      if (buffered_ > buffer_frames_ && drops_when_full_) {
        if (dropped_ == 0) first_drop_ = clock_;
        // A sound server drops whole blocks of its queue: what it holds falls back.
        const uint64_t block = std::max<uint64_t>(buffer_frames_ / 4, 1);
        const uint64_t drop = std::min(buffered_, (buffered_ - buffer_frames_ + block - 1) / block * block);
        dropped_ += drop;
        buffered_ -= drop;
      } else if (buffered_ > buffer_frames_) {
        xrun_ = true;
      }
    }
  } else if (running_ && !xrun_) {
    const uint64_t take = std::min(frames, buffered_);
    const std::size_t bytes = take * format_.nBlockAlign();
    played_.insert(played_.end(), pending_.begin(), pending_.begin() + bytes);
    pending_.erase(pending_.begin(), pending_.begin() + bytes);
    buffered_ -= take;
    if (frames > take) xrun_ = true;
  }
  Changed();
}

void FakePcm::FailNext(Op op, int error) {
  std::lock_guard lock(mutex_);
  fail_[op] = error;
}

void FakePcm::InjectXrun() {
  std::lock_guard lock(mutex_);
  xrun_ = true;
  ++ticks_;
  Changed();
}

void FakePcm::SetReadDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  read_delay_ = delay;
  Changed();
}

uint64_t FakePcm::LostFrames() {
  std::lock_guard lock(mutex_);
  return std::exchange(lost_, 0) + (xrun_ ? buffered_ : 0);
}

bool FakePcm::ReadClock(WaveStream::Clock& clock) {
  std::lock_guard lock(mutex_);
  if (!capture_ || !running_ || xrun_) return false;
  clock.ready = buffered_;
  clock.stamp_ns = ClockNs();
  clock.unseen = 0;
  return true;
}

std::chrono::steady_clock::time_point FakePcm::PlayTime() {
  std::lock_guard lock(mutex_);
  return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ClockNs()));
}

int64_t FakePcm::ClockNs() const {
  return static_cast<int64_t>(static_cast<__int128>(clock_) * 1'000'000'000 / format_.nSamplesPerSec());
}

bool FakePcm::WaitUntil(const std::function<bool(const FakePcm&)>& pred,
                        std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return pred(*this); });
}

bool FakePcm::Check(const std::function<bool(const FakePcm&)>& pred) {
  std::lock_guard lock(mutex_);
  return pred(*this);
}

std::vector<uint8_t> FakePcm::PlayedBytes() {
  std::lock_guard lock(mutex_);
  return played_;
}

std::vector<uint8_t> FakePcm::Ramp(const WaveFormatEx& format, uint64_t first, uint64_t count) {
  const std::size_t channels = format.nChannels();
  const std::size_t width = format.nBlockAlign() / channels;
  std::vector<uint8_t> bytes(count * format.nBlockAlign());
  std::size_t at = 0;
  for (uint64_t sample = first * channels; sample < (first + count) * channels; ++sample) {
    // A codec's block can be wider than the sample number: its bytes past it are zero.
    for (std::size_t b = 0; b < width; ++b)
      bytes[at++] = b < sizeof(sample) ? static_cast<uint8_t>(sample >> (8 * b)) : 0;
  }
  return bytes;
}

int FakePcm::Injected(Op op) { return std::exchange(fail_[op], 0); }

void FakePcm::Changed() { changed_.notify_all(); }

int FakePcm::Prepare() {
  std::lock_guard lock(mutex_);
  if (const int error = Injected(kPrepare)) return error;
  running_ = xrun_ = false;
  buffered_ = 0;
  pending_.clear();
  Changed();
  return 0;
}

int FakePcm::Start() {
  std::lock_guard lock(mutex_);
  if (const int error = Injected(kStart)) return error;
  if (running_ || xrun_) return -EBADFD;
  running_ = true;
  ++starts_;
  Changed();
  return 0;
}

int FakePcm::Drop() {
  std::lock_guard lock(mutex_);
  if (const int error = Injected(kDrop)) return error;
  running_ = false;
  buffered_ = 0;
  pending_.clear();
  Changed();
  return 0;
}

long FakePcm::Read(void* data, uint32_t frames) {
  std::unique_lock lock(mutex_);
  if (read_delay_.count() > 0) {
    read_stuck_ = true;
    Changed();
    changed_.wait_for(lock, read_delay_, [this] { return read_delay_.count() == 0; });
    read_stuck_ = false;
  }
  if (const int error = Injected(kRead)) return error;
  if (xrun_) return -EPIPE;
  const uint64_t take = std::min<uint64_t>(frames, buffered_);
  if (take == 0) return -EAGAIN;
  const std::vector<uint8_t> ramp = Ramp(format_, generated_ - buffered_, take);
  std::memcpy(data, ramp.data(), ramp.size());
  buffered_ -= take;
  taken_ += take;
  Changed();
  return static_cast<long>(take);
}

long FakePcm::Write(const void* data, uint32_t frames) {
  std::lock_guard lock(mutex_);
  if (const int error = Injected(kWrite)) return error;
  if (xrun_) return -EPIPE;
  const uint64_t take = std::min<uint64_t>(frames, buffer_frames_ - buffered_);
  if (take == 0) return -EAGAIN;
  const auto* bytes = static_cast<const uint8_t*>(data);
  pending_.insert(pending_.end(), bytes, bytes + take * format_.nBlockAlign());
  buffered_ += take;
  Changed();
  return static_cast<long>(take);
}

long FakePcm::Avail() {
  std::lock_guard lock(mutex_);
  if (const int error = Injected(kAvail)) return error;
  if (xrun_) return -EPIPE;
  return static_cast<long>(capture_ ? buffered_ : buffer_frames_ - buffered_);
}

long FakePcm::Delay() {
  std::lock_guard lock(mutex_);
  if (const int error = Injected(kDelay)) return error;
  if (xrun_) return -EPIPE;
  return static_cast<long>(buffered_);
}

void FakePcm::Wait(int timeout_ms) {
  std::unique_lock lock(mutex_);
  const auto ready = [this] { return woken_ || ticks_ != seen_ticks_; };
  waiting_ = true;
  Changed();
  if (timeout_ms < 0) {
    changed_.wait(lock, ready);
  } else {
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
  }
  waiting_ = false;
  woken_ = false;
  seen_ticks_ = ticks_;
}

void FakePcm::Wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  Changed();
}

FakeWaveDriver::FakeWaveDriver()
    : inputs_{Device{"Fake Input"}}, outputs_{Device{"Fake Output"}} {}

void FakeWaveDriver::SetDevices(WaveDirection direction, std::vector<Device> devices) {
  std::lock_guard lock(mutex_);
  List(direction) = std::move(devices);
}

void FakeWaveDriver::SetAccepts(std::function<bool(const WaveFormatEx&)> accepts) {
  std::lock_guard lock(mutex_);
  accepts_ = std::move(accepts);
}

void FakeWaveDriver::FailNextOpen(MMRESULT result) {
  std::lock_guard lock(mutex_);
  fail_open_ = result;
}

void FakeWaveDriver::SetBufferFrames(uint32_t frames) {
  std::lock_guard lock(mutex_);
  buffer_frames_ = frames;
}

void FakeWaveDriver::SetStartFrame(uint64_t frame) {
  std::lock_guard lock(mutex_);
  start_frame_ = frame;
}

void FakeWaveDriver::SetRateError(int64_t ppm) {
  std::lock_guard lock(mutex_);
  rate_error_ppm_ = ppm;
}

void FakeWaveDriver::SetDropsWhenFull(bool drops) {
  std::lock_guard lock(mutex_);
  drops_when_full_ = drops;
}

std::shared_ptr<FakePcm> FakeWaveDriver::Last(WaveDirection direction) {
  std::lock_guard lock(mutex_);
  return direction == WaveDirection::kInput ? last_input_ : last_output_;
}

uint32_t FakeWaveDriver::NumDevs(WaveDirection direction) {
  std::lock_guard lock(mutex_);
  return static_cast<uint32_t>(List(direction).size());
}

MMRESULT FakeWaveDriver::GetCaps(WaveDirection direction, int id, WaveDeviceCaps& caps) {
  std::lock_guard lock(mutex_);
  const std::vector<Device>& list = List(direction);
  if (list.empty() || id < WAVE_MAPPER || id >= static_cast<int>(list.size())) {
    return MMSYSERR_BADDEVICEID;
  }
  const Device& device = list[id == WAVE_MAPPER ? 0 : static_cast<std::size_t>(id)];
  caps = WaveDeviceCaps{device.name, device.formats, device.channels};
  return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveDriver::Open(WaveDirection direction, int id, const WaveFormatEx& format,
                              bool query, std::unique_ptr<WaveStream>& stream) {
  std::lock_guard lock(mutex_);
  const std::vector<Device>& list = List(direction);
  if (list.empty() || id < WAVE_MAPPER || id >= static_cast<int>(list.size())) {
    return MMSYSERR_BADDEVICEID;
  }
  if (const MMRESULT failure = std::exchange(fail_open_, MMSYSERR_NOERROR)) return failure;
  if (accepts_ && !accepts_(format)) return WAVERR_BADFORMAT;
  if (query) return MMSYSERR_NOERROR;
  const bool capture = direction == WaveDirection::kInput;
  auto pcm = std::make_shared<FakePcm>(capture, format, buffer_frames_, start_frame_,
                                       capture ? rate_error_ppm_ : 0, capture && drops_when_full_);
  (capture ? last_input_ : last_output_) = pcm;
  stream = std::make_unique<FakeStream>(pcm);
  return MMSYSERR_NOERROR;
}

std::vector<FakeWaveDriver::Device>& FakeWaveDriver::List(WaveDirection direction) {
  return direction == WaveDirection::kInput ? inputs_ : outputs_;
}

}  // namespace pmx
