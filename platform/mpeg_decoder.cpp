#include "platform/mpeg_decoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/mpg123_library.h"
#include "platform/riff_io.h"

namespace pmx {
namespace {

bool ReadAt(int fd, void* buffer, std::size_t n, int64_t at) {
  return ::pread(fd, buffer, n, at) == static_cast<ssize_t>(n);
}

// The "data" chunk of a RIFF/WAVE file as [begin, end); false for any other file.
bool WaveDataRange(const std::string& name, int64_t size, int64_t& begin, int64_t& end) {
  RiffFile file;
  RiffChunk data;
  if (file.OpenRead(name) != RiffResult::Ok || FindWaveData(file, data) != RiffResult::Ok) return false;
  begin = static_cast<int64_t>(data.dwDataOffset);
  end = std::min<int64_t>(begin + data.cksize, size);
  return true;
}

ssize_t ReadRange(void* handle, void* buffer, size_t count) {
  auto& r = *static_cast<MpegDecoder::Range*>(handle);
  const auto n = static_cast<std::size_t>(
      std::clamp<int64_t>(r.end - r.position, 0, static_cast<int64_t>(count)));
  if (n == 0) return 0;
  const ssize_t got = ::pread(r.fd, buffer, n, r.position);
  if (got > 0) r.position += got;
  return got;
}

off_t SeekRange(void* handle, off_t offset, int whence) {
  auto& r = *static_cast<MpegDecoder::Range*>(handle);
  const int64_t base = whence == SEEK_CUR ? r.position : whence == SEEK_END ? r.end : r.begin;
  const int64_t to = base + offset;
  if (to < r.begin || to > r.end) return -1;
  r.position = to;
  return static_cast<off_t>(to - r.begin);
}

}  // namespace

int32_t MpegDecoder::Version() { return Mpg123().Complete() ? kVersion : 0; }

std::string MpegDecoder::ErrorText(int error) {
  switch (error) {
    case kOk:
      return "No error";
    case kLibraryMissing:
      return "The MPEG decoder library libmpg123 is not available";
    case kCannotOpen:
      return "The file cannot be opened";
    case kNotMpeg:
      return "The file holds no MPEG audio";
    case kNotOpen:
      return "The file is not open";
    case kDecodeFailed:
      return "The MPEG audio data is damaged";
    case kSeekFailed:
      return "The position cannot be reached";
    case kNotSupported:
      return "Protected MPEG files are not supported";
    default:
      return "Unknown MPEG decoder error";
  }
}

MpegDecoder::MpegDecoder(std::function<void()> changed) : changed_(std::move(changed)) {}

MpegDecoder::~MpegDecoder() {
  std::lock_guard lock(mutex_);
  ClearLocked();
}

MpegDecoder::Handle* MpegDecoder::NewHandle(Range& range) const {
  const Mpg123Library& api = Mpg123();
  if (!api.Complete()) return nullptr;
  Handle* handle = api.mpg123_new(nullptr, nullptr);
  if (!handle) return nullptr;
  long flags = MPG123_QUIET;
  if (mode_ == TMpegChannelMode::cmLeft) flags |= MPG123_MONO_LEFT;
  if (mode_ == TMpegChannelMode::cmRight) flags |= MPG123_MONO_RIGHT;
  if (mode_ == TMpegChannelMode::cmDownMix) flags |= MPG123_MONO_MIX;
  api.mpg123_param(handle, MPG123_ADD_FLAGS, flags, 0);
  const bool mono = mode_ != TMpegChannelMode::cmBoth;
  if (info_.SampleRate > 0) {
    const bool stereo = !mono && info_.SampleMode != TSampleMode::smSingleChannel;
    api.KeepFormat(handle, info_.SampleRate, stereo ? MPG123_STEREO : MPG123_MONO);
  } else {
    api.AllowOnlySixteenBits(handle, mono ? MPG123_MONO : MPG123_MONO | MPG123_STEREO);
  }
  range.position = range.begin;
  if (!api.OpenMeasured(handle, &ReadRange, &SeekRange, &range)) FreeHandle(handle);
  return handle;
}

void MpegDecoder::FreeHandle(Handle*& handle) {
  if (!handle) return;
  Mpg123().mpg123_close(handle);
  Mpg123().mpg123_delete(handle);
  handle = nullptr;
}

int MpegDecoder::Probe() {
  const Mpg123Library& api = Mpg123();
  Range range{fd_.get(), data_begin_, data_end_, data_begin_};
  Handle* handle = NewHandle(range);
  long rate = 0;
  int channels = 0;
  int encoding = 0;
  mpg123_frameinfo frame{};
  if (!handle || api.mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK ||
      api.mpg123_info(handle, &frame) != MPG123_OK) {
    FreeHandle(handle);
    return kNotMpeg;
  }
  info_ = {};
  info_.Version = frame.version == MPG123_1_0 ? TMpegVersion::v1 : TMpegVersion::v2LSF;
  info_.Layer = frame.layer;
  info_.SampleRate = static_cast<int32_t>(frame.rate);
  info_.BitRate = frame.bitrate;
  info_.SampleMode = static_cast<TSampleMode>(std::clamp(static_cast<int>(frame.mode), 0, 3));
  info_.Frames = static_cast<int32_t>(std::max<off_t>(api.mpg123_framelength(handle), 0));
  const off_t samples = api.mpg123_length(handle);
  info_.PlayTime = samples > 0 && rate > 0 ? static_cast<int32_t>(samples * 1000 / rate) : 0;
  info_.MsPerFrame = api.mpg123_tpf(handle) * 1000.0;
  FreeHandle(handle);
  return kOk;
}

void MpegDecoder::SetRangeEnd() {
  int64_t begin = 0;
  int64_t end = file_size_;
  if (!WaveDataRange(name_, file_size_, begin, end)) begin = 0;
  data_begin_ = begin;
  data_end_ = std::max(begin, end - trailing_);
}

int MpegDecoder::SetFileName(const std::string& name) {
  int result = kOk;
  {
    std::lock_guard lock(mutex_);
    ClearLocked();
    if (name.empty()) return kOk;
    if (!Mpg123().Complete()) return kLibraryMissing;
    UniqueFd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return kCannotOpen;
    fd_ = std::move(fd);
    file_size_ = st.st_size;
    name_ = name;
    SetRangeEnd();
    result = Probe();
    if (result != kOk) ClearLocked();
  }
  if (result == kOk && changed_) changed_();
  return result;
}

std::string MpegDecoder::GetFileName() const {
  std::lock_guard lock(mutex_);
  return name_;
}

bool MpegDecoder::GetEmpty() const {
  std::lock_guard lock(mutex_);
  return !fd_;
}

int MpegDecoder::GetFileInfo(TMpegFileInfo& info) const {
  std::lock_guard lock(mutex_);
  if (!fd_) return kCannotOpen;
  info = info_;
  return kOk;
}

int MpegDecoder::OpenFile() {
  std::lock_guard lock(mutex_);
  if (!fd_) return kCannotOpen;
  if (handle_) return kOk;
  range_ = Range{fd_.get(), data_begin_, data_end_, data_begin_};
  handle_ = NewHandle(range_);
  if (!handle_) return kNotMpeg;
  return SeekLocked(pending_sample_);
}

void MpegDecoder::CloseLocked() {
  FreeHandle(handle_);
  done_ = false;
}

int MpegDecoder::CloseFile() {
  std::lock_guard lock(mutex_);
  CloseLocked();
  return kOk;
}

int MpegDecoder::ResetFile() {
  std::lock_guard lock(mutex_);
  if (!handle_) return kNotOpen;
  return SeekLocked(0);
}

int MpegDecoder::SeekLocked(int64_t sample) {
  done_ = false;
  return Mpg123().mpg123_seek(handle_, static_cast<off_t>(sample), SEEK_SET) < 0 ? kSeekFailed
                                                                                 : kOk;
}

int64_t MpegDecoder::ReadDataBytes(void* buffer, int64_t count) {
  std::lock_guard lock(mutex_);
  abort_.store(false);
  if (!handle_) return 0;
  auto* out = static_cast<unsigned char*>(buffer);
  int64_t total = 0;
  // A buffer too small for one sample frame would never be filled.
  count -= count % 4;
  while (total < count && !done_ && !abort_.load()) {
    size_t got = 0;
    const int result =
        Mpg123().mpg123_read(handle_, out + total, static_cast<size_t>(count - total), &got);
    total += static_cast<int64_t>(got);
    if (result == MPG123_DONE) done_ = true;
    if (result == MPG123_OK || result == MPG123_NEW_FORMAT || result == MPG123_DONE) continue;
    // A damaged stream ends where it can no longer be decoded; what came before plays.
    if (total > 0) {
      done_ = true;
      break;
    }
    return -kDecodeFailed;
  }
  return total;
}

bool MpegDecoder::GetDone() const {
  std::lock_guard lock(mutex_);
  return done_;
}

void MpegDecoder::AbortReadData() { abort_.store(true); }

int64_t MpegDecoder::SamplesPerFrame() const {
  return std::max<int64_t>(std::llround(info_.MsPerFrame * info_.SampleRate / 1000.0), 1);
}

int MpegDecoder::SetPosition(int64_t frame) {
  int64_t sample = 0;
  {
    std::lock_guard lock(mutex_);
    sample = std::max<int64_t>(frame, 0) * SamplesPerFrame();
  }
  return SetSamplePosition(sample);
}

int64_t MpegDecoder::GetPosition() const {
  const int64_t sample = GetSamplePosition();
  std::lock_guard lock(mutex_);
  return sample / SamplesPerFrame();
}

int MpegDecoder::SetSamplePosition(int64_t sample) {
  std::lock_guard lock(mutex_);
  pending_sample_ = std::max<int64_t>(sample, 0);
  return handle_ ? SeekLocked(pending_sample_) : kOk;
}

int64_t MpegDecoder::GetSamplePosition() const {
  std::lock_guard lock(mutex_);
  if (!handle_) return pending_sample_;
  return std::max<int64_t>(Mpg123().mpg123_tell(handle_), 0);
}

int MpegDecoder::SetTrailingHeader(int32_t bytes) {
  std::lock_guard lock(mutex_);
  trailing_ = std::max(bytes, 0);
  if (fd_) SetRangeEnd();
  return kOk;
}

int MpegDecoder::SetExactPosition(bool) { return kOk; }

int MpegDecoder::SetChannelMode(TMpegChannelMode mode) {
  std::lock_guard lock(mutex_);
  mode_ = mode;
  return kOk;
}

TMpegChannelMode MpegDecoder::GetChannelMode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}

void MpegDecoder::ClearLocked() {
  CloseLocked();
  fd_ = UniqueFd();
  name_.clear();
  info_ = {};
  pending_sample_ = 0;
  data_begin_ = data_end_ = file_size_ = 0;
}

void MpegDecoder::Clear() {
  std::lock_guard lock(mutex_);
  ClearLocked();
}

int MpegDecoder::ScanFile(int32_t, int32_t, int32_t) {
  int result = kOk;
  {
    std::lock_guard lock(mutex_);
    if (!fd_) return kCannotOpen;
    result = Probe();
  }
  if (result == kOk && changed_) changed_();
  return result;
}

int MpegDecoder::ScanFileEx(int32_t, int32_t) { return ScanFile(0, 0, 0); }

int MpegDecoder::EncryptFile(const std::string&, int32_t, int32_t, int32_t) {
  return kNotSupported;
}

bool MpegDecoder::ReadID3Tag(TMpegID3Record& tag) const {
  std::lock_guard lock(mutex_);
  uint8_t raw[128];
  if (!fd_ || file_size_ < 128 || !ReadAt(fd_.get(), raw, sizeof raw, file_size_ - 128) ||
      std::memcmp(raw, "TAG", 3) != 0) {
    return false;
  }
  tag = {};
  std::memcpy(tag.Title.data(), raw + 3, 30);
  std::memcpy(tag.Artist.data(), raw + 33, 30);
  std::memcpy(tag.Album.data(), raw + 63, 30);
  std::memcpy(tag.Year.data(), raw + 93, 4);
  std::memcpy(tag.Comment.data(), raw + 97, 28);
  // ID3v1.1: a zero byte ends the comment early when a track number follows.
  tag.Track = raw[125] == 0 ? raw[126] : 0;
  tag.Genre = raw[127];
  return true;
}

}  // namespace pmx
