#include "audio/core/files/wave_file.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "audio/core/dsp/wave_format.h"
#include "audio/core/files/file_registry.h"
#include "audio/core/files/mpeg_file.h"
#include "audio/core/objects/dsp_thread.h"
#include "audio/core/objects/mm_strings.h"
#include "audio/core/objects/mul_div.h"
#include "audio/core/objects/utilities.h"

namespace pmx {
namespace {

bool QueryDiskFree(const std::string& path, int64_t& free) {
  int64_t total = 0;
  return GetDiskFree(path, free, total);
}

// The folder a file lies in, for the volume queries.
std::string FolderOf(const std::string& name) {
  const std::filesystem::path folder = std::filesystem::path(name).parent_path();
  return folder.empty() ? "." : folder.string();
}

}  // namespace

TMMCustomWaveFile::TMMCustomWaveFile(TComponent* owner)
    : TMMCustomFile(owner), wave_(std::make_unique<TMMWave>()), disk_free_(QueryDiskFree) {
  PublishLinks(true, true);
  wave_observer_.OnNotify = [this](void*, TMMObserver*, void*) { WaveChanged(); };
  wave_->AddObserver(&wave_observer_);
}

TMMCustomWaveFile::~TMMCustomWaveFile() {
  Closed();
  wave_->RemoveObserver(&wave_observer_);
}

void TMMCustomWaveFile::WaveChanged() {
  if (OnChange) OnChange(this);
  if (wave_->FileMustExist() || wave_->GetPWaveFormat()) SetPWaveFormat(wave_->GetPWaveFormat());
  if (OnChanged) OnChanged(this);
}

void TMMCustomWaveFile::SetPWaveFormat(PWaveFormatEx f) {
  TMMCustomFile::SetPWaveFormat(f);
  const PWaveFormatEx own = PWaveFormat();
  const bool eightBitPcm =
      own && own->wFormatTag() == WAVE_FORMAT_PCM && own->wBitsPerSample() == 8;
  silence_.store(eightBitPcm ? 128 : 0);
}

bool TMMCustomWaveFile::HoldsData() const {
  const PWaveIORecord record = wave_->IORecord();
  return record && record->dwTotalSamples > 0;
}

void TMMCustomWaveFile::Fire(const TNotifyEvent& event) {
  if (event) SynchronizeDSPCall([this, &event] { event(this); });
}

template <typename Create>
decltype(auto) TMMCustomWaveFile::CreateUnderFreeName(std::string name, Create create) {
  // Each rule's answer is free when given: only another creator racing for the
  // same names takes several.
  constexpr int kTries = 10;
  for (int tries = 1;; ++tries) {
    try {
      return create(name);
    } catch (const EMMWaveFileExists&) {
      if (!free_name_ || tries == kTries || (name = free_name_(name)).empty()) throw;
    }
  }
}

bool TMMCustomWaveFile::OpenFile() {
  std::lock_guard lock(wave_lock_);
  if (file_opened_.load()) return false;
  if (Input()) {
    SetPWaveFormat(Input()->PWaveFormat());
    if (!PWaveFormat() || wave_->FileName().empty()) return false;
    CreateUnderFreeName(wave_->FileName(), [this](const std::string& name) {
      wave_->CreateWaveFile(name, PWaveFormat());
    });
    NoteCreated(wave_->FileName());
    wave_->IORecord()->MaxFileSize = max_file_size_.load();
    data_bytes_.store(0);
    lost_bytes_.store(0);
    std::lock_guard status(status_lock_);
    failure_.clear();
    split_to_.clear();
  } else {
    if (!HoldsData()) return false;
    wave_->OpenWaveFile();
    if (!cued_position_) start_position_ = wave_->GetPosition();
  }
  file_opened_.store(true);
  return true;
}

void TMMCustomWaveFile::Opened() {
  TMMCustomFile::Opened();
  if (OpenFile()) Fire(OnOpen);
}

void TMMCustomWaveFile::Started() {
  TMMCustomFile::Started();
  if (!file_opened_.load() || file_started_.exchange(true)) return;
  if (!Input()) {
    std::lock_guard lock(wave_lock_);
    // A seek made before Play holds for that run only: a replay starts where the file did.
    wave_->SetPosition(cued_position_.value_or(start_position_));
    cued_position_.reset();
  }
}

void TMMCustomWaveFile::Stopped() {
  if (file_opened_.load()) file_started_.store(false);
  TMMCustomFile::Stopped();
}

void TMMCustomWaveFile::Reset() {
  TMMCustomFile::Reset();
  if (file_opened_.load() && file_started_.load()) {
    std::lock_guard lock(wave_lock_);
    wave_->ResetWave();
  }
}

bool TMMCustomWaveFile::CloseFile() {
  std::lock_guard lock(wave_lock_);
  if (!file_opened_.load()) return false;
  const PWaveIORecord record = wave_->IORecord();
  if (Input() && record && record->Created && record->dwDataBytes == 0) {
    // A recording is never empty.
    const uint8_t zeros[4] = {};
    wave_->WriteData(zeros, sizeof zeros);
  }
  errno = 0;
  if (!wave_->CloseWaveFile()) NoteCloseFailure(wave_->FileName(), errno);
  file_opened_.store(false);
  return true;
}

void TMMCustomWaveFile::Closed() {
  if (file_opened_.load()) Stopped();
  if (CloseFile()) Fire(OnClose);
  TMMCustomFile::Closed();
}

void TMMCustomWaveFile::SetDiskFreeQuery(TDiskFreeQuery query) {
  std::lock_guard lock(wave_lock_);
  disk_free_ = std::move(query);
  free_space_ = FreeSpace{};
}

void TMMCustomWaveFile::SetFreeName(TFreeName free_name) {
  std::lock_guard lock(wave_lock_);
  free_name_ = std::move(free_name);
}

// A volume query on every write costs more than the write; between two answers a
// second apart every byte written counts as gone, so the figure can only be too
// low, and a figure too low is checked with the drive before the file gives up.
bool TMMCustomWaveFile::HasRoomFor(int64_t bytes) {
  const int64_t needed = wave_->IOBufferSize() + bytes + kDiskReserve;
  const auto now = std::chrono::steady_clock::now();
  const std::string& file = wave_->FileName();
  if (file != free_space_.file || free_space_.bytes < needed ||
      now - free_space_.asked >= kFreeSpaceAge) {
    int64_t free = 0;
    const bool known = disk_free_(FolderOf(file), free);
    free_space_ = {file, known ? free : -1, now};
  }
  if (free_space_.bytes < needed) return false;
  free_space_.bytes -= bytes;
  return true;
}

std::string TMMCustomWaveFile::WriteFailure() const {
  std::lock_guard status(status_lock_);
  return failure_;
}

void TMMCustomWaveFile::SetFailure(const std::string& text) {
  std::lock_guard status(status_lock_);
  failure_ = text;
}

void TMMCustomWaveFile::SplitTo(const std::string& name) {
  std::lock_guard status(status_lock_);
  split_to_ = name;
}

namespace {

std::string TakeOldest(std::vector<std::string>& list) {
  if (list.empty()) return "";
  std::string oldest = std::move(list.front());
  list.erase(list.begin());
  return oldest;
}

}  // namespace

std::string TMMCustomWaveFile::TakeFinishedSplit() {
  std::lock_guard status(status_lock_);
  return TakeOldest(finished_);
}

void TMMCustomWaveFile::NoteCloseFailure(const std::string& name, int error) {
  std::lock_guard status(status_lock_);
  close_failures_.push_back(name + ": not finished on the disk (" +
                            std::strerror(error != 0 ? error : EIO) + ")");
}

void TMMCustomWaveFile::NoteCreated(const std::string& name) {
  if (!keep_created_.load()) return;
  const RiffFile* file = wave_->IORecord()->hmmio.get();
  UniqueFd fd(file ? fcntl(file->Descriptor(), F_DUPFD_CLOEXEC, 0) : -1);
  std::lock_guard status(status_lock_);
  created_.push_back({name, std::move(fd)});
}

TCreatedFile TMMCustomWaveFile::TakeCreatedFile() {
  std::lock_guard status(status_lock_);
  if (created_.empty()) return {};
  TCreatedFile oldest = std::move(created_.front());
  created_.erase(created_.begin());
  return oldest;
}

std::string TMMCustomWaveFile::TakeCloseFailure() {
  std::lock_guard status(status_lock_);
  return TakeOldest(close_failures_);
}

bool TMMCustomWaveFile::SwitchFile() {
  std::string next;
  {
    std::lock_guard status(status_lock_);
    next.swap(split_to_);
  }
  if (next.empty()) return true;
  const std::string finished = wave_->FileName();
  try {
    errno = 0;
    // The old file's failure to finish is reported; the recording goes on in the new one.
    const bool closed = CreateUnderFreeName(next, [this](const std::string& name) {
      return wave_->SwitchWaveFile(name, PWaveFormat());
    });
    if (!closed) NoteCloseFailure(finished, errno);
  } catch (const EMMWaveError& error) {
    // The old file stays open: the split is asked for early enough that it still
    // takes this buffer, and the sink closes after it.
    SetFailure(std::string(error.what()) + ": " + next);
    return false;
  }
  NoteCreated(wave_->FileName());
  wave_->IORecord()->MaxFileSize = max_file_size_.load();
  data_bytes_.store(0);
  // Handed out only now, so whoever takes it sees the new file's count.
  std::lock_guard status(status_lock_);
  finished_.push_back(finished);
  return true;
}

bool TMMCustomWaveFile::WriteBuffer(const WAVEHDR* lpWaveHdr) {
  if (!GetEnabled() || !Input() || lpWaveHdr->dwBytesRecorded == 0) return true;
  if (!file_started_.load()) {
    // The sink closed itself on a failure: what the chain still delivers is lost.
    if (!WriteFailure().empty()) lost_bytes_ += lpWaveHdr->dwBytesRecorded;
    return true;
  }
  std::lock_guard lock(wave_lock_);
  if (!file_opened_.load() || wave_->FileName().empty()) return true;
  const bool switched = SwitchFile();
  return WriteToFile(lpWaveHdr) && switched;
}

bool TMMCustomWaveFile::WriteToFile(const WAVEHDR* lpWaveHdr) {
  const int64_t bytes = lpWaveHdr->dwBytesRecorded;
  if (!HasRoomFor(bytes)) {
    lost_bytes_ += bytes;
    SetFailure("Not enough space on the disk");
    return false;
  }
  const auto before = static_cast<int64_t>(wave_->IORecord()->dwDataBytes);
  errno = 0;
  const int64_t written = wave_->WriteData(lpWaveHdr->lpData, bytes);
  const int error = errno;
  data_bytes_.store(static_cast<int64_t>(wave_->IORecord()->dwDataBytes));
  if (written > 0) return true;
  lost_bytes_ += bytes - (data_bytes_.load() - before);
  SetFailure(written == 0 ? "The file reached the largest size a WAV file can have"
                          : std::string("Write error: ") + std::strerror(error != 0 ? error : EIO));
  return false;
}

uint64_t TMMCustomWaveFile::LostFrames() const {
  const PWaveFormatEx format = PWaveFormat();
  const int64_t bytes = lost_bytes_.load();
  if (!format || format->nAvgBytesPerSec() == 0) return 0;
  return static_cast<uint64_t>(MulDiv64(bytes, format->nSamplesPerSec(), format->nAvgBytesPerSec()));
}

void TMMCustomWaveFile::BufferReady(WAVEHDR* lpWaveHdr) {
  if (!WriteBuffer(lpWaveHdr)) Closed();
  TMMCustomFile::BufferReady(lpWaveHdr);
}

bool TMMCustomWaveFile::Loop(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  if (!lpWaveHdr->LoopFlag) return false;
  if (lpWaveHdr->LoopCount != 0 && --lpWaveHdr->LoopsRemaining < 0) return false;
  wave_->SetPosition(0);
  wave_->ResetWave();
  MoreBuffers = true;
  lpWaveHdr->LoopRestart = true;
  return true;
}

bool TMMCustomWaveFile::LoadBuffer(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  std::lock_guard lock(wave_lock_);
  if (!HoldsData()) {
    lpWaveHdr->dwBytesRecorded = 0;
    return false;
  }
  const int64_t n = wave_->ReadData(lpWaveHdr->lpData, lpWaveHdr->dwBufferLength);
  lpWaveHdr->dwBytesRecorded = static_cast<uint32_t>(std::max<int64_t>(n, 0));
  if (n <= 0) return false;
  if (wave_->BytesLeft() > 0) {
    MoreBuffers = true;
    return false;
  }
  return Loop(lpWaveHdr, MoreBuffers);
}

void TMMCustomWaveFile::BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  if (Input()) {
    TMMCustomFile::BufferLoad(lpWaveHdr, MoreBuffers);
    if (!WriteBuffer(lpWaveHdr)) Closed();
    return;
  }
  if (file_started_.load() && GetEnabled()) {
    // Fired outside the lock, so the handler may use the component.
    if (LoadBuffer(lpWaveHdr, MoreBuffers) && OnLooping) OnLooping(this);
    return;
  }
  std::memset(lpWaveHdr->lpData, silence_.load(), lpWaveHdr->dwBufferLength);
  lpWaveHdr->dwBytesRecorded = lpWaveHdr->dwBufferLength;
  MoreBuffers = true;
}

bool TMMCustomWaveFile::CanLoad(const std::string& name, const TMMDecryptCallback&, uint8_t) {
  // MPEG carried in a WAVE file is the MPEG class's to play.
  return ExtensionAdmitted(name, GetExtensions()) && wioIsWaveFile(name, WIO_MODE_FILE) &&
         !IsMpegInWave(name);
}

bool TMMCustomWaveFile::GetFileInfo(const std::string& name, TMMFileInfo& info) {
  info = {};
  TMMWave wave;
  try {
    wave.SetFileName(name);
  } catch (const Exception&) {
    return false;
  }
  const PWaveIORecord record = wave.IORecord();
  if (!record) return false;
  info.FileType = ClassFileType();
  info.FileName = name;
  info.Length = wfSamplesToMs64(&record->wfx, record->dwTotalSamples);
  return true;
}

std::string TMMCustomWaveFile::GetFilter() { return LoadMMResString(SWaveFileFilter); }

int32_t TMMCustomWaveFile::GetBlockSize() const {
  return PWaveFormat() ? PWaveFormat()->nBlockAlign() : 0;
}

bool TMMCustomWaveFile::GetEmpty() const { return wave_->DataSize() == 0; }

int64_t TMMCustomWaveFile::GetTime() const {
  const PWaveIORecord record = wave_->IORecord();
  return record ? wfSamplesToMs64(&record->wfx, record->dwTotalSamples) : 0;
}

int64_t TMMCustomWaveFile::GetTimePosition() const {
  const PWaveIORecord record = wave_->IORecord();
  if (!record) return 0;
  return wfSamplesToMs64(&record->wfx, wave_->TimeToSamples(wave_->GetPosition()));
}

void TMMCustomWaveFile::SetTimePosition(int64_t ms) {
  const PWaveIORecord record = wave_->IORecord();
  if (!record) return;
  MoveTo(wave_->SamplesToTime(MulDiv64(ms, record->wfx.nSamplesPerSec(), 1000)));
}

void TMMCustomWaveFile::SetPosition(int64_t position) { MoveTo(position); }

void TMMCustomWaveFile::SetFileName(const std::string& name) {
  {
    std::lock_guard lock(wave_lock_);
    cued_position_.reset();
  }
  wave_->SetFileName(name);
}

void TMMCustomWaveFile::MoveTo(int64_t position) {
  std::lock_guard lock(wave_lock_);
  const bool cue = !file_started_.load() && !Input();
  // Runs without a seek start where the file stood before the first one.
  if (cue && !cued_position_ && !file_opened_.load()) start_position_ = wave_->GetPosition();
  wave_->SetPosition(position);
  if (cue) cued_position_ = wave_->GetPosition();
}

}  // namespace pmx
