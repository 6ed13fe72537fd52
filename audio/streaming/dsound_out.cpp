#include "audio/streaming/dsound_out.h"

#include <algorithm>
#include <cstdio>

#include "audio/streaming/streaming.h"

namespace pmx {
namespace {

constexpr uint32_t kTailStepMs = 100;
// The PCM sub-format of an extensible wave format.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint32_t ChannelMask(int channels) {
  switch (channels) {
    case 2: return 0x3;
    case 6: return 0x3F;
    case 8: return 0xFF;
    default: return 0;
  }
}

std::string Hex8(int value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

TDXAudioOut::TDXAudioOut(TComponent* owner, SoundSystem* system)
    : TAuOutput(owner), system_(system ? *system : DefaultSoundSystem()) {}

TDXAudioOut::~TDXAudioOut() { Stop(false); }

const std::vector<SoundDevice>& TDXAudioOut::Devices() const {
  std::call_once(devices_read_, [this] { devices_ = system_.Devices(); });
  return devices_;
}

void TDXAudioOut::SetDeviceNumber(int number) {
  if (number < 0) throw EAuException("Invalid device number");
  device_number_ = number;
}

void TDXAudioOut::SetFramesInBuffer(uint32_t frames) {
  if (!Busy()) frames_in_buffer_ = frames;
}

void TDXAudioOut::SetVolume(int hundredths_db) {
  volume_ = hundredths_db;
  std::lock_guard lock(buffer_mutex_);
  if (buffer_) buffer_->SetVolume(hundredths_db);
}

void TDXAudioOut::Pause() {
  TAuOutput::Pause();
  std::lock_guard lock(buffer_mutex_);
  if (buffer_ && !first_ && !input_ended_) buffer_->Stop();
}

void TDXAudioOut::Resume() {
  {
    std::lock_guard lock(buffer_mutex_);
    if (buffer_ && !first_ && !input_ended_ && GetStatus() == TAuStatus::kPaused) buffer_->Restart();
  }
  TAuOutput::Resume();
}

void TDXAudioOut::DropQueued() {
  if (GetStatus() != TAuStatus::kPaused) return;
  std::lock_guard lock(buffer_mutex_);
  // Before the first block there is nothing to drop.
  if (!buffer_ || first_) return;
  // A device that fails here fails the run's next write, which reports it.
  buffer_->Drop();
  written_end_ = Input()->Position();
  // The run writes and starts its buffer afresh, and reads on if the input had ended.
  first_ = true;
  input_ended_ = false;
}

int64_t TDXAudioOut::HeardPosition() {
  std::lock_guard lock(buffer_mutex_);
  if (!buffer_) return Input() ? Input()->Position() : 0;
  uint32_t unplayed = 0;
  if (buffer_->UnplayedData(unplayed) != 0) unplayed = 0;
  return std::max<int64_t>(0, written_end_ - unplayed);
}

WaveFormatEx TDXAudioOut::BufferFormat() const {
  WaveFormatEx format = WaveFormatEx::Pcm(static_cast<uint32_t>(sample_rate_), static_cast<uint16_t>(bits_),
                                          static_cast<uint16_t>(channels_));
  if (channels_ <= 2 && bits_ != 24) return format;
  std::vector<uint8_t> extra(22, 0);
  const uint32_t mask = ChannelMask(channels_);
  for (int i = 0; i < 4; ++i) extra[2 + i] = static_cast<uint8_t>(mask >> (8 * i));
  std::copy(std::begin(kPcmSubFormat), std::end(kPcmSubFormat), extra.begin() + 6);
  format.set_wFormatTag(WAVE_FORMAT_EXTENSIBLE);
  format.SetExtra(extra);
  return format;
}

void TDXAudioOut::PrepareOutput() {
  released_ = false;
  const std::vector<SoundDevice>& devices = Devices();
  if (device_number_ >= static_cast<int>(devices.size())) {
    throw EAuException("Invalid device number");
  }
  Input()->Init();
  channels_ = Input()->GetChannels();
  sample_rate_ = Input()->GetSampleRate();
  bits_ = Input()->GetBitsPerSample();
  std::unique_ptr<SoundBuffer> buffer =
      system_.Create(devices[static_cast<size_t>(device_number_)]);
  if (!buffer) throw EAuException("Failed to create DirectSound device");
  transfer_.assign(static_cast<size_t>(frames_in_buffer_) * static_cast<size_t>(bits_ / 8 * channels_), 0);
  silence_ = bits_ == 8 ? 128 : 0;
  const int result = buffer->InitOutput(BufferFormat(), static_cast<uint32_t>(transfer_.size()));
  if (result != 0) throw EAuException("Failed to create DirectSound buffer" + Hex8(result));
  {
    std::lock_guard lock(buffer_mutex_);
    buffer_ = std::move(buffer);
    written_end_ = Input()->Position();
  }
  first_ = true;
  input_ended_ = false;
  last_underruns_ = 0;
}

bool TDXAudioOut::OutputBlock(bool abort) {
  if (!Busy()) return true;
  if (!Active()) return false;
  if (first_) WriteFirstBlock();
  if (abort) {
    std::lock_guard lock(buffer_mutex_);
    buffer_->Stop();
    SetActive(false);
    return false;
  }
  if (input_ended_) {
    PlayOut();
    return false;
  }
  const uint32_t free = WaitForRoom();
  if (free > 0) {
    Refill(std::min(free, static_cast<uint32_t>(transfer_.size())));
    CheckUnderruns();
  }
  return true;
}

void TDXAudioOut::WriteFirstBlock() {
  bool ended = false;
  const uint32_t got = ReadFull(*Input(), transfer_.data(), static_cast<uint32_t>(transfer_.size()), ended);
  std::lock_guard lock(buffer_mutex_);
  buffer_->SetVolume(volume_);
  Check(buffer_->Write(transfer_.data(), got));
  written_end_ = Input()->Position();
  if (ended) Check(buffer_->FillSilence(silence_));
  Check(buffer_->Start());
  input_ended_ = ended;
  first_ = false;
}

void TDXAudioOut::Refill(uint32_t bytes) {
  bool ended = false;
  const uint32_t got = ReadFull(*Input(), transfer_.data(), bytes, ended);
  std::lock_guard lock(buffer_mutex_);
  Check(buffer_->Write(transfer_.data(), got));
  written_end_ = Input()->Position();
  if (ended) Check(buffer_->FillSilence(silence_));
  input_ended_ = ended;
}

void TDXAudioOut::CheckUnderruns() {
  std::unique_lock lock(buffer_mutex_);
  const uint32_t underruns = buffer_->Underruns();
  if (underruns == last_underruns_) return;
  last_underruns_ = underruns;
  Check(buffer_->Stop());
  Check(buffer_->FillSilence(silence_));
  PostNotification(&TDXAudioOut::OnUnderrun);
  Check(buffer_->Restart());
}

uint32_t TDXAudioOut::WaitForRoom() {
  const uint32_t frame = static_cast<uint32_t>(bits_ / 8 * channels_);
  for (int empty = 0;; ++empty) {
    WaitOneInterval();
    if (StopFlagSet()) return 0;
    uint32_t free = 0;
    {
      std::lock_guard lock(buffer_mutex_);
      Check(buffer_->GetFreeSpace(free));
    }
    if (empty >= kEmptyPollsAllowed) throw EAuException("Audio output error");
    free -= free % frame;
    if (free > 0) return free;
  }
}

void TDXAudioOut::WaitOneInterval() {
  const uint32_t interval = polling_interval_;
  const uint32_t start = system_.Now();
  if (prefetch_) {
    const uint32_t frame = static_cast<uint32_t>(bits_ / 8 * channels_);
    const uint64_t frames = uint64_t{interval} * static_cast<uint64_t>(sample_rate_) / 1000;
    const auto bytes = static_cast<uint32_t>(frame * frames / 4 * 3 / frame * frame);
    // An empty fetch would read as the end of the input.
    if (bytes > 0) Input()->Prefetch(bytes);
  }
  const uint32_t spent = system_.Now() - start;
  if (spent < interval) system_.Sleep(interval - spent);
}

void TDXAudioOut::PlayOut() {
  SetActive(false);
  // Whole seconds, rounded up: the last data in the buffer must be heard.
  const uint64_t per_second = uint64_t{static_cast<uint32_t>(sample_rate_)} * static_cast<uint32_t>(bits_ / 8 * channels_);
  const uint64_t seconds = per_second == 0 ? 0 : (transfer_.size() + per_second - 1) / per_second;
  for (uint64_t step = 0; step < seconds * 1000 / kTailStepMs; ++step) {
    system_.Sleep(kTailStepMs);
    std::lock_guard lock(buffer_mutex_);
    Check(buffer_->FillSilence(silence_));
  }
  std::lock_guard lock(buffer_mutex_);
  buffer_->Stop();
}

void TDXAudioOut::FinishOutput() {
  if (released_) return;
  {
    std::lock_guard lock(buffer_mutex_);
    buffer_.reset();
  }
  transfer_.clear();
  transfer_.shrink_to_fit();
  Input()->Flush();
  released_ = true;
}

void TDXAudioOut::Check(int result) {
  if (result != 0) throw EAuException("Audio output error");
}

}  // namespace pmx
