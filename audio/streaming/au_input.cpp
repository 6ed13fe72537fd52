#include "audio/streaming/au_input.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "audio/streaming/streaming.h"

namespace pmx {

void TAuInput::Init() {
  std::string error;
  {
    std::lock_guard lock(DataLock);
    end_of_data_ = false;
    try {
      DoInit();
    } catch (const std::exception& e) {
      end_of_data_ = true;
      error = e.what();
    }
  }
  if (!error.empty()) throw EAuException(error);
}

void TAuInput::Flush() {
  std::lock_guard lock(DataLock);
  DropReadAhead();
  DoFlush();
}

void TAuInput::DropReadAhead() { ahead_filled_ = ahead_offset_ = 0; }

bool TAuInput::ServeReadAhead(const uint8_t*& buffer, uint32_t& bytes) {
  if (ahead_offset_ >= ahead_filled_) return false;
  bytes = std::min(bytes, ahead_filled_ - ahead_offset_);
  buffer = read_ahead_.data() + ahead_offset_;
  ahead_offset_ += bytes;
  position_ += bytes;
  if (ahead_offset_ >= ahead_filled_) DropReadAhead();  // the memory stays valid until the next fetch
  return true;
}

void TAuInput::FetchData(const uint8_t*& buffer, uint32_t& bytes) {
  std::lock_guard lock(DataLock);
  if (!ServeReadAhead(buffer, bytes)) ReadData(buffer, bytes);
}

void TAuInput::Prefetch(uint32_t bytes) {
  std::lock_guard lock(DataLock);
  if (ahead_filled_ != 0) return;
  if (read_ahead_.size() < bytes) read_ahead_.resize(bytes);
  const uint32_t got = CopyFetch(*this, read_ahead_.data(), bytes);
  ahead_filled_ = got;
  ahead_offset_ = 0;
  position_ -= got;  // counted again when served
}

void TAuInput::Reset() {
  try {
    Flush();
  } catch (const std::exception&) {
    // A reset must succeed whatever the source thinks of it.
  }
  busy_ = false;
}

uint32_t CopyFetch(TAuInput& input, uint8_t* destination, uint32_t bytes) {
  const uint8_t* buffer = nullptr;
  input.FetchData(buffer, bytes);
  if (bytes > 0) std::memcpy(destination, buffer, bytes);
  return bytes;
}

uint32_t ReadFull(TAuInput& input, uint8_t* destination, uint32_t bytes, bool& ended) {
  uint32_t total = 0;
  ended = false;
  while (total < bytes) {
    const uint32_t got = CopyFetch(input, destination + total, bytes - total);
    if (got == 0) {
      ended = true;
      break;
    }
    total += got;
  }
  return total;
}

void TAuStreamedInput::SetStream(TStream* stream) {
  stream_ = stream;
  stream_assigned_ = stream != nullptr;
}

void TAuStreamedInput::FetchWithinWindow(const uint8_t*& buffer, uint32_t& bytes) {
  ReadData(buffer, bytes);
  if (bytes == 0) {
    end_of_data_ = true;
    return;
  }
  position_ += bytes;
  const int64_t size = size_;
  if (size > 0 && position_ >= size) {
    end_of_data_ = true;
    // Samples past the window's end are never handed out.
    if (position_ > size) {
      bytes -= static_cast<uint32_t>(position_ - size);
      position_ = size;
    }
  }
}

void TAuStreamedInput::StartOver() {
  end_of_data_ = false;
  int64_t start = start_sample_;
  if (seekable_) {
    SeekToSample(start);
  } else {
    Flush();
    Init();
  }
  position_ = 0;
}

// Bytes read ahead, and the last block of a looping pass, are handed out before
// the end is reported or the loop starts over.
void TAuStreamedInput::FetchData(const uint8_t*& buffer, uint32_t& bytes) {
  std::lock_guard lock(DataLock);
  if (ServeReadAhead(buffer, bytes)) return;
  if (end_of_data_ && !loop_) {
    buffer = nullptr;
    bytes = 0;
    return;
  }
  if (end_of_data_) StartOver();
  const uint32_t requested = bytes;
  FetchWithinWindow(buffer, bytes);
  if (bytes > 0 || !loop_) return;
  StartOver();
  bytes = requested;
  FetchWithinWindow(buffer, bytes);
}

int TAuFileIn::GetBitsPerSample() {
  OpenSource();
  return bits_per_sample_;
}

int TAuFileIn::GetChannels() {
  OpenSource();
  return channels_;
}

int TAuFileIn::GetSampleRate() {
  OpenSource();
  return sample_rate_;
}

// The playback panel asks for it while a run may be opening the file: the run's
// Init holds DataLock, so the two never open or read the format at once.
int TAuFileIn::GetLengthSeconds() {
  std::lock_guard lock(DataLock);
  OpenSource();
  const int64_t per_second = int64_t{sample_rate_} * channels_ * (bits_per_sample_ / 8);
  return per_second > 0 ? static_cast<int>(std::nearbyint(static_cast<double>(size_) / per_second)) : 0;
}

int64_t TAuFileIn::GetLengthSamples() {
  OpenSource();
  const int64_t frame = int64_t{channels_} * bits_per_sample_ / 8;
  total_samples_ = size_ > 0 && frame > 0 ? size_ / frame : -1;
  return total_samples_;
}

void TAuFileIn::Reset() {
  TAuInput::Reset();
  open_count_ = 0;
}

void TAuFileIn::SetFileName(const std::string& name) {
  cued_ = -1;
  CloseSource();
  file_name_ = name;
}

void TAuFileIn::SetStream(TStream* stream) {
  cued_ = -1;
  CloseSource();
  TAuStreamedInput::SetStream(stream);
}

void TAuFileIn::OpenOwnStream() {
  if (stream_assigned_) return;
  constexpr uint16_t kReadShareRead = 32;
  owned_stream_ = std::make_unique<TAuFileStream>(file_name_, kReadShareRead);
  stream_ = owned_stream_.get();
}

void TAuFileIn::ReleaseStream() {
  if (stream_assigned_) {
    if (stream_ != nullptr) stream_->Seek(0, TStream::soBeginning);
    return;
  }
  stream_ = nullptr;
  owned_stream_.reset();
}

void TAuFileIn::DoInit() {
  if (busy_) throw EAuException("The component is Busy");
  if (!stream_assigned_ && file_name_.empty()) throw EAuException("The file name is not assigned");
  busy_ = true;
  position_ = 0;
  try {
    OpenSource();
  } catch (...) {
    // A source that cannot open leaves the input free for the next try.
    busy_ = false;
    throw;
  }
  bytes_per_frame_ = static_cast<uint16_t>(channels_ * bits_per_sample_ / 8);
  if (bytes_per_frame_ == 0 || sample_rate_ <= 0) {
    busy_ = false;
    throw EAuException("The input has no valid audio format");
  }
  total_samples_ = size_ / bytes_per_frame_;
  length_seconds_ = static_cast<int32_t>(total_samples_ / sample_rate_);
  // Whatever a former run left decoded is not this run's data.
  decode_index_ = 1;
  decode_filled_ = 0;
  if (start_sample_ > 0) {
    SeekSample(0);
    position_ = 0;
  }
  if (start_sample_ > 0 || end_sample_ != -1) ApplyWindow();
  const int64_t cued = cued_.exchange(-1);
  if (cued > 0) SeekSample(cued);
}

// Narrows Size to the frames from StartSample to EndSample, both included.
void TAuFileIn::ApplyWindow() {
  if (end_sample_ >= total_samples_) end_sample_ = -1;
  const int64_t last = end_sample_ == -1 ? total_samples_ - 1 : end_sample_;
  total_samples_ = std::max<int64_t>(0, last - start_sample_ + 1);
  size_ = total_samples_ * bytes_per_frame_;
}

void TAuFileIn::DoFlush() {
  cued_ = -1;
  CloseSource();
  start_sample_ = 0;
  end_sample_ = -1;
  busy_ = false;
}

bool TAuFileIn::SeekSample(int64_t sample) {
  if (!seekable_ || (total_samples_ != 0 && total_samples_ < sample)) return false;
  std::lock_guard lock(DataLock);
  if (!busy_) {
    start_sample_ = sample;
    position_ = sample * bytes_per_frame_;
    end_sample_ = -1;
    return true;
  }
  DropReadAhead();
  int64_t target = start_sample_ + sample;
  bool landed = false;
  try {
    landed = SeekToSample(target);
  } catch (const std::exception&) {
    landed = false;
  }
  position_ = (target - start_sample_) * bytes_per_frame_;
  if (landed) end_of_data_ = false;  // a seek back after the end reads again
  return landed;
}

void TAuFileIn::Cue(int64_t sample) {
  const int64_t total = GetLengthSamples();
  if (busy_ || total < 0) return;
  std::lock_guard lock(DataLock);
  cued_ = std::clamp<int64_t>(sample, 0, total);
  position_ = cued_ * (int64_t{channels_} * bits_per_sample_ / 8);
}

void TAuFileIn::MoveByPercent(int percent) {
  const int64_t size = size_;
  if (!seekable_ || size == 0) return;
  const double f = std::clamp(static_cast<double>(position_) / static_cast<double>(size) + percent / 100.0, 0.0, 1.0);
  SeekSample(static_cast<int64_t>(std::nearbyint(static_cast<double>(total_samples_) * f)));
}

}  // namespace pmx
