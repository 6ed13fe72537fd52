#include "audio/core/files/audio_file.h"

#include <algorithm>
#include <cstring>

#include "audio/core/dsp/wave_format.h"
#include "audio/core/files/wave.h"
#include "audio/core/objects/dsp_thread.h"
#include "audio/core/objects/mm_strings.h"

namespace pmx {
namespace {

// Fade points beyond the end keep the gain ramp of a fade-out going past it.
constexpr int64_t kPastEndMs = 10000;

}  // namespace

TMMPanGains CalcPanGains(int32_t volume, int32_t panning) {
  constexpr int32_t scale = TMMCustomAudioFile::kPanScale;
  TMMPanGains gains{volume, volume};
  if (panning > 0) {
    gains.Left = (scale - panning) * volume / scale;
  } else {
    gains.Right = (scale + panning) * volume / scale;
  }
  return gains;
}

TMMCustomAudioFile::TMMCustomAudioFile(TComponent* owner)
    : TMMBaseAudioFile(owner),
      fades_(std::make_unique<TMMFadeList>()),
      adpcm_(std::make_unique<TMMADPCMConverter>(this)),
      pcm_(std::make_unique<TMMPCMConverter>(this)) {
  PublishLinks(false, true);
  SetAcceptsInput(true);
  adpcm_->SetOutput(pcm_.get());
  pcm_->SetOutput(this);
}

TMMCustomAudioFile::~TMMCustomAudioFile() {
  Closed();
  MarkDestroying();
  CloseFile();
  SetInput(nullptr);
}

std::string TMMCustomAudioFile::GetFileName() const {
  return GetEmpty() ? std::string() : inner_->GetFileName();
}

std::string TMMCustomAudioFile::GetFilter() const { return GetAudioFileFilter(true); }

void TMMCustomAudioFile::LoadFile(const std::string& name, TMMAudioFileType type) {
  if (Destroying() || name == GetFileName()) return;
  CloseFile();
  if (name.empty() || !NamesAudioSource(name)) return;
  TMMFileClass chosen;
  if (type != TMMAudioFileType::ftNone && FindFileClass(type, chosen)) {
    TryLoadFile(chosen, name);
    return;
  }
  for (const TMMFileClass& c : FileRegistry().Classes()) {
    if (c.CanLoad(name, decrypt_, decrypt_mode_)) {
      TryLoadFile(c, name);
      return;
    }
  }
  adpcm_->SetInput(nullptr);
  throw EMMAudioError("This is not a valid Audiofile");
}

void TMMCustomAudioFile::TryLoadFile(const TMMFileClass& fileClass, const std::string& name) {
  inner_ = fileClass.Create(this);
  inner_->SetEnabled(enabled_);
  inner_->OnChanged = [this](TObject*) { Change(); };
  try {
    if (fileClass.FileType() == TMMAudioFileType::ftMpeg) {
      inner_->SetDecryptCallback(decrypt_);
      inner_->SetDecryptMode(decrypt_mode_);
    }
    DoFileLoading();
    inner_->SetFileName(name);
    {
      std::lock_guard lock(lock_);
      fade_out_start_ = inner_->GetTime();
    }
    adpcm_->SetInput(inner_.get());
    // Decided afresh for every file: a converter left off by the previous one
    // would call any input convertible.
    adpcm_->SetEnabled(true);
    adpcm_->SetEnabled(adpcm_->IsConvertible());
    ResetPlayRange();
    DoFileLoaded();
  } catch (...) {
    adpcm_->SetInput(nullptr);
    inner_.reset();
    throw;
  }
}

void TMMCustomAudioFile::CloseFile() {
  // A file closed under a run: the stand-alone road is closed properly; a device
  // that still pulls gets nothing more from here (and ends), and no pull is left
  // inside the file once the lock was had.
  if (!Output()) Close();
  {
    std::lock_guard lock(lock_);
    started_ = false;
  }
  if (inner_) {
    adpcm_->SetInput(nullptr);
    inner_.reset();
  }
  std::lock_guard lock(lock_);
  bytes_delivered_ = 0;
  fade_in_ = fade_out_ = fade_out_start_ = 0;
  file_length_ = play_end_ = 0;
}

TMMAudioFileType TMMCustomAudioFile::GetFileType() const {
  return GetEmpty() ? TMMAudioFileType::ftNone : inner_->FileType();
}

bool TMMCustomAudioFile::GetEmpty() const { return !inner_ || inner_->GetEmpty(); }

int32_t TMMCustomAudioFile::GetBlockSize() const { return GetEmpty() ? 0 : inner_->GetBlockSize(); }

void TMMCustomAudioFile::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (inner_) inner_->SetEnabled(value);
}

int32_t TMMCustomAudioFile::MpegTrailingHeader() const {
  return GetFileType() == TMMAudioFileType::ftMpeg ? inner_->GetTrailingHeader() : 0;
}

void TMMCustomAudioFile::SetMpegTrailingHeader(int32_t value) {
  if (GetFileType() == TMMAudioFileType::ftMpeg) inner_->SetTrailingHeader(value);
}

int32_t TMMCustomAudioFile::Volume() const {
  std::lock_guard lock(lock_);
  return volume_;
}

void TMMCustomAudioFile::SetVolume(int32_t value) {
  std::lock_guard lock(lock_);
  value = std::clamp(value, 0, 2 * kUnity);
  if (value == volume_) return;
  volume_ = value;
  if (started_) UpdateFades();
}

int32_t TMMCustomAudioFile::Panning() const {
  std::lock_guard lock(lock_);
  return panning_;
}

void TMMCustomAudioFile::SetPanning(int32_t value) {
  std::lock_guard lock(lock_);
  value = std::clamp(value, -kPanScale, kPanScale);
  if (value == panning_) return;
  panning_ = value;
  if (started_) UpdateFades();
}

int64_t TMMCustomAudioFile::FileLength() const {
  std::lock_guard lock(lock_);
  return file_length_;
}

int64_t TMMCustomAudioFile::PlayEnd() const {
  std::lock_guard lock(lock_);
  return play_end_;
}

int64_t TMMCustomAudioFile::StartPosition() const {
  std::lock_guard lock(lock_);
  return start_position_;
}

void TMMCustomAudioFile::ResetPlayRange() {
  std::lock_guard lock(lock_);
  start_position_ = 0;
  play_end_ = file_length_ = fade_out_start_;
}

int64_t TMMCustomAudioFile::TimePosition() const {
  if (started_ && PWaveFormat())
    return wfBytesToMs64(PWaveFormat(), bytes_delivered_) + start_position_;
  return GetEmpty() ? 0 : inner_->GetTimePosition();
}

int64_t TMMCustomAudioFile::GetTimePosition() const {
  std::lock_guard lock(lock_);
  return TimePosition();
}

void TMMCustomAudioFile::BeginRun(int64_t position) {
  end_reached_ = tail_sent_ = false;
  start_position_ = position;
  // What comes before the position counts below it, so it lies under the ramp in
  // and the run's counters meet the file's end.
  bytes_delivered_ = inner_ && PWaveFormat() ? -wfSamplesToBytes64(PWaveFormat(), inner_->GetLeadSamples()) : 0;
  if (PWaveFormat()) bytes_remaining_ = wfMsToBytes64(PWaveFormat(), play_end_ - position);
}

void TMMCustomAudioFile::SetTimePosition(int64_t ms) {
  std::lock_guard lock(lock_);
  const int64_t position = std::clamp<int64_t>(ms, 0, play_end_);
  if (started_) {
    SeekRun(position);
  } else if (inner_) {
    inner_->SetTimePosition(position);
  }
}

void TMMCustomAudioFile::SeekRun(int64_t position) {
  if (inner_) inner_->SetTimePosition(position);
  BeginRun(position);
  adpcm_->Reset();
  pcm_->Reset();
  UpdateFades();
}

void TMMCustomAudioFile::SetFades(int64_t fadeInMs, int64_t fadeOutMs, int64_t) {
  {
    std::lock_guard lock(lock_);
    fade_in_ = fadeInMs;
    fade_out_ = fadeOutMs;
    // The fade-out always ends with the file: the position asked for is not used.
    fade_out_start_ = std::max(play_end_ - fade_out_, fade_in_);
  }
  UpdateFades();
}

void TMMCustomAudioFile::UpdateFades() {
  std::lock_guard lock(lock_);
  const PWaveFormatEx format = PWaveFormat();
  if (GetEmpty() || !format) return;
  fades_->Clear();
  const int64_t a = std::max<int64_t>(std::min(fade_out_start_, play_end_ - 1), 1);
  const int64_t f = std::max<int64_t>(std::min(fade_in_, a - 1), 0);
  early_fade_out_ = a < play_end_ - 1;
  const TMMPanGains full = CalcPanGains(volume_, panning_);
  auto add = [&](int64_t ms, bool on) {
    fades_->Add(TMMFadePoint{wfMsToBytes64(format, ms), on ? volume_ : 0, on ? full.Left : 0,
                             on ? full.Right : 0});
  };
  add(0, false);
  if (start_position_ > 0) add(start_position_, false);
  add(start_position_ + f + 1, true);
  add(a, true);
  add(a + fade_out_, false);
  add(file_length_ + kPastEndMs, false);
  fades_->Sort();
  // The byte reached, exactly: a position in ms would round away from it.
  const int64_t at = wfMsToBytes64(format, start_position_) + bytes_delivered_;
  const TMMPanGains now = CalcPanGains(fades_->VolumeAt(at), panning_);
  fades_->SetPlayState(TMMFadeState{1, at, now.Left, now.Right});
}

uint8_t TMMCustomAudioFile::SilenceByte() const {
  const PWaveFormatEx format = PWaveFormat();
  return format && format->wFormatTag() == WAVE_FORMAT_PCM && format->wBitsPerSample() == 8 ? 128
                                                                                            : 0;
}

void TMMCustomAudioFile::FadeOut(int64_t ms) {
  std::lock_guard lock(lock_);
  if (!started_) return;
  if (!manual_fade_out_) {
    saved_fade_out_start_ = fade_out_start_;
    saved_fade_out_ = fade_out_;
  }
  manual_fade_out_ = true;
  const int64_t now = TimePosition();
  fade_out_start_ = now;
  fade_out_ = std::min(ms, play_end_ - now);
  UpdateFades();
}

void TMMCustomAudioFile::EndManualFadeOut() {
  if (manual_fade_out_) {
    fade_out_start_ = saved_fade_out_start_;
    fade_out_ = saved_fade_out_;
  }
  manual_fade_out_ = early_fade_out_ = false;
}

void TMMCustomAudioFile::Opened() {
  {
    std::lock_guard lock(lock_);
    if (!opened_) {
      end_reached_ = tail_sent_ = false;
      opened_ = true;
    }
  }
  TMMBaseAudioFile::Opened();
}

void TMMCustomAudioFile::Closed() {
  Stopped();
  {
    std::lock_guard lock(lock_);
    if (opened_) {
      end_reached_ = tail_sent_ = true;
      opened_ = false;
    }
  }
  TMMBaseAudioFile::Closed();
}

void TMMCustomAudioFile::Started() {
  {
    std::lock_guard lock(lock_);
    if (!started_ && !GetEmpty()) {
      BeginRun(inner_->GetTimePosition());
      started_ = true;
      UpdateFades();
    }
  }
  TMMBaseAudioFile::Started();
}

void TMMCustomAudioFile::Stopped() {
  {
    std::lock_guard lock(lock_);
    if (started_) {
      end_reached_ = tail_sent_ = true;
      EndManualFadeOut();
      started_ = false;
    }
  }
  TMMBaseAudioFile::Stopped();
}

void TMMCustomAudioFile::Reset() {
  {
    std::lock_guard lock(lock_);
    if (opened_) {
      EndManualFadeOut();
      // What the pulling device dropped was never heard: the run starts again
      // where it began and the file is read from there again, so the counters
      // keep meeting the file's own end (a handler may have pulled after a seek).
      if (started_) {
        SeekRun(start_position_);
      } else {
        BeginRun(TimePosition());
        UpdateFades();
      }
    }
  }
  TMMBaseAudioFile::Reset();
}

void TMMCustomAudioFile::Pull(WAVEHDR* h, bool& MoreBuffers, uint32_t n) {
  const uint32_t length = h->dwBufferLength;
  const bool loop = h->LoopFlag;
  // The inner chain must end at the end of the file: looping is decided here.
  h->LoopFlag = false;
  h->dwBufferLength = n;
  h->dwBytesRecorded = 0;
  MoreBuffers = false;
  TMMBaseAudioFile::BufferLoad(h, MoreBuffers);
  h->LoopFlag = loop;
  h->dwBufferLength = length;
  h->dwBytesRecorded = std::min(h->dwBytesRecorded, n);
  bytes_delivered_ += h->dwBytesRecorded;
  if (PWaveFormat()) {
    ApplyFades(*PWaveFormat(), std::span(reinterpret_cast<uint8_t*>(h->lpData), h->dwBytesRecorded),
               *fades_);
  }
}

bool TMMCustomAudioFile::Loop(WAVEHDR* h, bool& MoreBuffers) {
  if (manual_fade_out_ || !h->LoopFlag) return false;
  if (h->LoopCount > 0) --h->LoopsRemaining;
  if (h->LoopCount != 0 && h->LoopsRemaining < 0) return false;
  SetTimePosition(0);
  start_position_ = 0;
  MoreBuffers = true;
  h->LoopRestart = true;
  end_reached_ = false;
  return true;
}

void TMMCustomAudioFile::Load(WAVEHDR* h, bool& MoreBuffers) {
  int64_t n = h->dwBufferLength;
  if (play_end_ < file_length_) n = std::min(n, bytes_remaining_ - bytes_delivered_);
  h->dwBytesRecorded = 0;
  if (n >= 1 && !end_reached_) Pull(h, MoreBuffers, static_cast<uint32_t>(n));
  const bool faded_out = early_fade_out_ && TimePosition() >= fade_out_start_ + fade_out_;
  if (h->dwBytesRecorded == 0 || !MoreBuffers || faded_out) {
    MoreBuffers = false;
    const bool ending = !end_reached_;
    end_reached_ = true;
    // A WAV file cut short under the player (a recording being edited or
    // removed) must not pass for a finished one.
    if (ending && !faded_out && inner_->FileType() == TMMAudioFileType::ftWave &&
        TimePosition() + 1 < play_end_) {
      throw EMMWaveError(SErrorReadingWave);
    }
    // A file that ended on a buffer boundary starts over in this very buffer.
    if (Loop(h, MoreBuffers) && h->dwBytesRecorded == 0) Pull(h, MoreBuffers, h->dwBufferLength);
  }
  if (h->dwBytesRecorded == 0 && end_reached_ && !tail_sent_ && h->dwBufferLength >= 4) {
    std::memset(h->lpData, SilenceByte(), 4);
    h->dwBytesRecorded = 4;
    tail_sent_ = true;
  }
}

void TMMCustomAudioFile::BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  try {
    std::lock_guard lock(lock_);
    if (!opened_ || !started_) return;
    Load(lpWaveHdr, MoreBuffers);
  } catch (...) {
    bool handled = false;
    DoError(handled);
    if (!handled) throw;
    lpWaveHdr->dwBytesRecorded = std::min<uint32_t>(4, lpWaveHdr->dwBufferLength);
  }
}

void TMMCustomAudioFile::WalkChain(const std::function<void(TMMDSPComponent&)>& visit) {
  TMMDSPComponent* head = this;
  while (head->Input()) head = head->Input();
  for (TMMDSPComponent* node = head; node; node = node->Output()) visit(*node);
}

void TMMCustomAudioFile::Open(int32_t bufferSize) {
  if (opened_ || Output()) return;
  WalkChain([bufferSize](TMMDSPComponent& node) {
    node.SetBufferSize(bufferSize);
    node.Opened();
  });
}

void TMMCustomAudioFile::Start() {
  if (!started_) WalkChain([](TMMDSPComponent& node) { node.Started(); });
}

void TMMCustomAudioFile::Stop() {
  if (started_) WalkChain([](TMMDSPComponent& node) { node.Stopped(); });
}

void TMMCustomAudioFile::ResetChain() {
  if (opened_ && started_) WalkChain([](TMMDSPComponent& node) { node.Reset(); });
}

void TMMCustomAudioFile::Close() {
  Stop();
  if (opened_) WalkChain([](TMMDSPComponent& node) { node.Closed(); });
}

int32_t TMMCustomAudioFile::ReadBuffer(char* data, int32_t length, bool& MoreBuffers) {
  if (!opened_ || !started_ || length <= 0) return 0;
  WAVEHDR header;
  header.lpData = data;
  header.dwBufferLength = static_cast<uint32_t>(length);
  BufferLoad(&header, MoreBuffers);
  return static_cast<int32_t>(header.dwBytesRecorded);
}

void TMMCustomAudioFile::AbortRead() {
  if (opened_ && started_ && inner_) inner_->AbortRead();
}

void TMMCustomAudioFile::DoFileLoading() {
  if (OnFileLoading) OnFileLoading(this);
}

void TMMCustomAudioFile::DoFileLoaded() {
  if (OnFileLoaded) OnFileLoaded(this);
}

void TMMCustomAudioFile::Change() {
  if (OnChange) OnChange(this);
}

void TMMCustomAudioFile::DoError(bool& Handled) {
  if (OnError) SynchronizeDSPCall([this, &Handled] { OnError(this, Handled); });
}

}  // namespace pmx
