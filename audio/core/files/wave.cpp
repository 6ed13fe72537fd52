#include "audio/core/files/wave.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "audio/core/dsp/wave_format.h"
#include "audio/core/objects/mm_strings.h"
#include "audio/core/objects/mul_div.h"
#include "audio/core/objects/utilities.h"

namespace pmx {
namespace {

constexpr uint32_t kWaveType = FourCC("WAVE");
constexpr uint32_t kNoFormatSampleRate = 11025;

std::string ExpandName(const std::string& name) {
  if (name.empty()) return name;
  return std::filesystem::absolute(name).lexically_normal().string();
}

}  // namespace

EMMWaveError::EMMWaveError(int message) : Exception(LoadMMResString(message)) {}

EMMWaveError EMMWaveError::UnableToCreate(int error) {
  return EMMWaveError(LoadMMResString(SUnableCreateWave) + " (" + std::strerror(error) + ")");
}

EMMWaveFileExists::EMMWaveFileExists() : EMMWaveError(UnableToCreate(EEXIST)) {}

TMMWave::~TMMWave() { wioFreeInfo(record_); }

void TMMWave::NotifyChange() {
  if (assigning_) {
    change_pending_ = true;
    return;
  }
  Changed();
  observers_.Notify(this);
}

void TMMWave::FreeAll() {
  if (record_) wioFreeInfo(record_);
  file_name_.clear();
  segments_.Clear();
  range_start_ = range_end_ = position_ = bytes_left_ = total_bytes_ = 0;
  current_segment_ = -1;
  segment_bytes_left_ = 0;
  opened_ = false;
}

void TMMWave::TakeRecord(std::unique_ptr<TWaveIORecord> record) {
  FreeAll();
  record_ = std::move(record);
  range_start_ = record_->dwFirstSample;
  range_end_ = record_->dwLastSample;
  position_ = record_->dwPosition;
  bytes_left_ = record_->dwBytesLeft;
}

void TMMWave::SetFileName(const std::string& value) {
  const std::string name = ExpandName(value);
  const int64_t onDisk = GetFileSizeByName(name);
  const int64_t known = record_ ? static_cast<int64_t>(record_->dwFileSize) : 0;
  if (name == file_name_ && onDisk == known) return;
  if (name.empty()) {
    if (!file_name_.empty() || record_) {
      FreeAll();
      NotifyChange();
    }
    return;
  }
  const bool exists = wioFileExists(name);
  std::unique_ptr<TWaveIORecord> parsed;
  if (exists && wioReadInfo(parsed, name, kWaveType, WIO_MODE_FILE) == WIOERR_NOERROR) {
    TakeRecord(std::move(parsed));
  } else if (!exists && !file_must_exist_) {
    FreeAll();
  } else {
    throw EMMWaveError(exists ? SInvalidWaveFile : SErrorReadingWave);
  }
  file_name_ = name;
  BuildSegments();
  NotifyChange();
}

void TMMWave::SetIOBufferSize(int32_t value) {
  io_buffer_size_ = std::max(value, kMinIOBufferSize);
  if (record_ && record_->hmmio && wioSetIOBuffer(record_.get(), io_buffer_size_) != 0) {
    throw EMMWaveError(SUnableSetupIOBuffer);
  }
}

void TMMWave::SetTimeFormat(TMMTimeFormats value) {
  time_format_ = value;
  BuildSegments();
}

uint16_t TMMWave::BitLength() const {
  return GetPWaveFormat() ? GetPWaveFormat()->wBitsPerSample() : 0;
}

TMMMode TMMWave::Mode() const {
  const uint16_t channels = GetPWaveFormat() ? GetPWaveFormat()->nChannels() : 1;
  if (channels == 2) return TMMMode::mStereo;
  return channels > 2 ? TMMMode::mMultiChannel : TMMMode::mMono;
}

uint16_t TMMWave::FormatTag() const {
  return GetPWaveFormat() ? GetPWaveFormat()->wFormatTag() : 0;
}

std::string TMMWave::FormatString() const { return wfGetFormatName(GetPWaveFormat()); }

uint32_t TMMWave::SampleRate() const {
  return GetPWaveFormat() ? GetPWaveFormat()->nSamplesPerSec() : kNoFormatSampleRate;
}

int64_t TMMWave::FileSize() const {
  return record_ ? static_cast<int64_t>(record_->dwFileSize) : 0;
}

int64_t TMMWave::DataSize() const {
  return record_ ? SamplesToTime(record_->dwTotalSamples) : 0;
}

PWaveFormatEx TMMWave::GetPWaveFormat() const { return record_ ? &record_->wfx : nullptr; }

int64_t TMMWave::BytesOf(int64_t samples) const {
  return record_ ? wioSamplesToBytes(*record_, samples) : 0;
}

int64_t TMMWave::SamplesOf(int64_t bytes) const {
  return record_ ? wioBytesToSamples(*record_, bytes) : 0;
}

int64_t TMMWave::SamplesToTime(int64_t samples) const {
  if (!record_) return samples;
  switch (time_format_) {
    case TMMTimeFormats::tfMillisecond:
      return wfSamplesToMs64(&record_->wfx, samples);
    case TMMTimeFormats::tfByte:
      return BytesOf(samples);
    case TMMTimeFormats::tfSample:
      break;
  }
  return samples;
}

int64_t TMMWave::TimeToSamples(int64_t time) const {
  if (!record_) return time;
  switch (time_format_) {
    case TMMTimeFormats::tfMillisecond:
      return MulDiv64(time, record_->wfx.nSamplesPerSec(), 1000);
    case TMMTimeFormats::tfByte:
      return SamplesOf(time);
    case TMMTimeFormats::tfSample:
      break;
  }
  return time;
}

void TMMWave::BuildSegments() {
  segments_.Clear();
  if (!GetPWaveFormat() || range_end_ <= range_start_) return;
  const int64_t startBytes = BytesOf(range_start_);
  segments_.AddCut({range_start_, startBytes, range_end_ - range_start_,
                    BytesOf(range_end_) - startBytes});
}

int64_t TMMWave::PlayListSamples() const {
  int64_t samples = 0;
  for (int i = 0; i < segments_.Count(); ++i) samples += segments_.GetItem(i).Length;
  return samples;
}

std::unique_ptr<TWaveIORecord> TMMWave::CreateRecord(const std::string& name,
                                                     PWaveFormatEx pwfx) const {
  if (!wioIsValidName(name)) throw EMMWaveError(SUnableCreateWave);
  if (wioFileExists(name)) throw EMMWaveFileExists();
  std::unique_ptr<TWaveIORecord> created;
  if (wioCreateInfo(created, pwfx) != 0) throw EMMWaveError(SUnableCreateWave);
  errno = 0;
  if (wioCreateFile(created.get(), name) != 0) {
    const int error = errno;
    wioFreeInfo(created);
    // A name taken meanwhile is refused by the create itself and left alone.
    if (error == EEXIST) throw EMMWaveFileExists();
    throw EMMWaveError::UnableToCreate(error != 0 ? error : EIO);
  }
  if (wioSetIOBuffer(created.get(), io_buffer_size_) != 0) {
    wioFreeInfo(created);
    throw EMMWaveError(SUnableSetupIOBuffer);
  }
  return created;
}

void TMMWave::CreateWaveFile(const std::string& name, PWaveFormatEx pwfx) {
  const std::string expanded = ExpandName(name);
  UseCreated(CreateRecord(expanded, pwfx), expanded);
}

bool TMMWave::SwitchWaveFile(const std::string& name, PWaveFormatEx pwfx) {
  const std::string expanded = ExpandName(name);
  std::unique_ptr<TWaveIORecord> created = CreateRecord(expanded, pwfx);
  const bool finished = CloseWaveFile();
  const int error = errno;
  UseCreated(std::move(created), expanded);
  errno = error;
  return finished;
}

void TMMWave::UseCreated(std::unique_ptr<TWaveIORecord> created, const std::string& name) {
  TakeRecord(std::move(created));
  file_name_ = name;
  BuildSegments();
  NotifyChange();
}

void TMMWave::OpenWaveFile() {
  if (!record_) return;
  if (wioReopen(record_.get()) != 0) throw EMMWaveError(SUnableOpenWave);
  if (wioSetIOBuffer(record_.get(), io_buffer_size_) != 0) throw EMMWaveError(SUnableSetupIOBuffer);
  BuildSegments();
  opened_ = true;
  SetPosition(GetPosition());
}

bool TMMWave::CloseWaveFile() {
  const bool finished = !record_ || wioFinish(record_.get()) == WIOERR_NOERROR;
  if (record_) range_end_ = record_->dwLastSample;
  opened_ = false;
  position_ = 0;
  bytes_left_ = 0;
  return finished;
}

int64_t TMMWave::GetPosition() const { return record_ ? SamplesToTime(position_) : -1; }

void TMMWave::SeekRecord(int64_t sample) {
  if (wioSeek(record_.get(), sample) != 0 && wioSeek(record_.get(), sample) != 0) {
    throw EMMWaveError(SErrorSeeking);
  }
}

void TMMWave::SetPosition(int64_t position) {
  if (!record_) return;
  position_ = TimeToSamples(position);
  lead_ = 0;
  if (!opened_) return;
  const int64_t total = PlayListSamples();
  const int64_t s = std::clamp<int64_t>(position_, 0, total);
  position_ = s;
  total_bytes_ = 0;
  for (int i = 0; i < segments_.Count(); ++i) total_bytes_ += segments_.GetItem(i).LengthBytes;
  bytes_left_ = total_bytes_ - BytesOf(s);
  current_segment_ = -1;
  segment_bytes_left_ = 0;
  int64_t sum = 0;
  int64_t before = 0;  // bytes of the segments before
  for (int i = 0; i < segments_.Count(); ++i) {
    const TMMCut& segment = segments_.GetItem(i);
    sum += segment.Length;
    if (sum < s) {
      before += segment.LengthBytes;
      continue;
    }
    // A compressed file is read on from the start of the block that holds the
    // sample: a block skipped would leave the run short of the file's end.
    const int64_t sample = segment.Start + segment.Length + s - sum;
    const int64_t per_block = wioSamplesPerBlock(*record_);
    const int64_t from = std::max(sample / per_block * record_->wfx.nBlockAlign(), segment.StartBytes);
    SeekRecord(SamplesOf(from));
    lead_ = std::max<int64_t>(sample - from / record_->wfx.nBlockAlign() * per_block, 0);
    segment_bytes_left_ = segment.StartBytes + segment.LengthBytes - from;
    bytes_left_ = total_bytes_ - before - (from - segment.StartBytes);
    current_segment_ = i;
    return;
  }
  if (s != 0) throw EMMWaveError(SErrorSeeking);
}

int64_t TMMWave::ReadSegments(uint8_t* buffer, int64_t want) {
  int64_t done = 0;
  while (want > 0) {
    if (segment_bytes_left_ <= 0) {
      if (current_segment_ + 1 >= segments_.Count()) {
        bytes_left_ = 0;
        break;
      }
      const TMMCut& next = segments_.GetItem(++current_segment_);
      segment_bytes_left_ = next.LengthBytes;
      SeekRecord(next.Start);
      continue;
    }
    const int64_t n = wioRead(record_.get(), buffer + done,
                              static_cast<std::size_t>(std::min(want, segment_bytes_left_)));
    if (n < 1) break;
    done += n;
    want -= n;
    segment_bytes_left_ -= n;
  }
  return done;
}

int64_t TMMWave::ReadData(void* buffer, int64_t length) {
  if (!record_ || bytes_left_ <= 0) return -1;
  auto* bytes = static_cast<uint8_t*>(buffer);
  const int64_t count = ReadSegments(bytes, std::min(length, bytes_left_));
  if (count == 0) {
    // Nothing left to give: one short buffer of silence ends the stream.
    const int64_t silence = std::min<int64_t>(4, length);
    std::memset(bytes, 0, static_cast<std::size_t>(silence));
    bytes_left_ = segment_bytes_left_ = 0;
    position_ = PlayListSamples();
    return silence;
  }
  lead_ = 0;
  bytes_left_ -= count;
  position_ = SamplesOf(total_bytes_ - bytes_left_);
  return count;
}

int64_t TMMWave::WriteData(const void* buffer, int64_t length) {
  if (!record_ || length <= 0) return -1;
  const int64_t written = wioWrite(record_.get(), buffer, static_cast<std::size_t>(length));
  range_end_ = record_->dwLastSample;
  BuildSegments();
  return written;
}

void TMMWave::Assign(const TMMWave* source) {
  if (source == this) return;
  if (!source) {
    FreeAll();
    NotifyChange();
    return;
  }
  assigning_ = true;
  try {
    FreeAll();
    file_must_exist_ = source->file_must_exist_;
    std::unique_ptr<TWaveIORecord> fresh;
    if (!source->file_name_.empty()) {
      SetFileName(source->file_name_);
    } else if (source->GetPWaveFormat() && wioCreateInfo(fresh, source->GetPWaveFormat()) == 0) {
      TakeRecord(std::move(fresh));
      NotifyChange();
    } else {
      NotifyChange();
    }
    time_format_ = source->time_format_;
    range_start_ = source->range_start_;
    range_end_ = source->range_end_;
    position_ = source->position_;
    io_buffer_size_ = source->io_buffer_size_;
    BuildSegments();
  } catch (...) {
    assigning_ = false;
    throw;
  }
  assigning_ = false;
  if (std::exchange(change_pending_, false)) NotifyChange();
}

}  // namespace pmx
