#include "platform/riff_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/byte_order.h"
namespace pmx {
namespace {

constexpr uint32_t kRiff = FourCC("RIFF");
constexpr uint32_t kList = FourCC("LIST");
constexpr uint64_t kMaxChunkSize = 0xFFFFFFFFu;

bool IsForm(uint32_t id) { return id == kRiff || id == kList; }

bool Wanted(const RiffChunk& found, const RiffChunk& wanted, RiffFind find) {
  switch (find) {
    case RiffFind::Next:
      return true;
    case RiffFind::Chunk:
      return found.ckid == wanted.ckid;
    case RiffFind::Riff:
      return found.ckid == kRiff && found.fccType == wanted.fccType;
    case RiffFind::List:
      return found.ckid == kList && found.fccType == wanted.fccType;
  }
  return false;
}

bool ChunksReachEnd(const RiffReadAt& read, uint64_t at, uint64_t end) {
  uint8_t head[8];
  while (at <= end && end - at >= 8) {
    if (!read(at, head, sizeof head) || !PrintableChunkId(LoadLE32(head))) return false;
    const uint64_t size = LoadLE32(head + 4);
    at += 8 + size;
    if (at == end || at + (size & 1) == end) return true;
    at += size & 1;
  }
  return false;
}

// O_NONBLOCK keeps a FIFO from blocking the open; a regular file ignores it.
int OpenFlags(int access) { return access | O_CLOEXEC | O_NONBLOCK; }

}  // namespace

RiffFile::~RiffFile() { Close(); }

RiffResult RiffFile::OpenFd(UniqueFd fd, bool writable) {
  struct stat st {};
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return RiffResult::CannotOpen;
  fd_ = std::move(fd);
  writable_ = writable;
  pos_ = 0;
  buf_.assign(kDefaultBufferSize, 0);
  buf_start_ = 0;
  buf_len_ = dirty_lo_ = dirty_hi_ = 0;
  return RiffResult::Ok;
}

RiffResult RiffFile::OpenRead(const std::string& path) {
  Close();
  return OpenFd(UniqueFd(::open(path.c_str(), OpenFlags(O_RDONLY))), false);
}

RiffResult RiffFile::OpenReadWrite(const std::string& path) {
  Close();
  UniqueFd fd(::open(path.c_str(), OpenFlags(O_RDWR)));
  if (fd) return OpenFd(std::move(fd), true);
  if (errno != EACCES && errno != EROFS && errno != EPERM) return RiffResult::CannotOpen;
  return OpenFd(UniqueFd(::open(path.c_str(), OpenFlags(O_RDONLY))), false);
}

RiffResult RiffFile::Create(const std::string& path) {
  Close();
  UniqueFd fd(::open(path.c_str(), OpenFlags(O_RDWR | O_CREAT | O_EXCL), 0666));
  if (!fd) return errno == EEXIST ? RiffResult::FileExists : RiffResult::CannotOpen;
  // Held until close: tells other processes the file is still being written.
  flock(fd.get(), LOCK_EX | LOCK_NB);
  return OpenFd(std::move(fd), true);
}

RiffResult RiffFile::OpenMemory(std::span<const uint8_t> image) {
  Close();
  memory_ = image;
  memory_open_ = true;
  writable_ = false;
  pos_ = 0;
  buf_.clear();
  buf_len_ = dirty_lo_ = dirty_hi_ = 0;
  return RiffResult::Ok;
}

RiffResult RiffFile::Close() {
  if (!IsOpen()) return RiffResult::Ok;
  RiffResult result = Flush();
  if (sync_ && sync_->Error() != 0) result = RiffResult::CannotWrite;
  sync_.reset();
  if (fd_.Close() != 0) result = RiffResult::CannotWrite;
  memory_open_ = false;
  memory_ = {};
  writable_ = false;
  buf_len_ = dirty_lo_ = dirty_hi_ = 0;
  return result;
}

int64_t RiffFile::ReadAt(uint64_t offset, uint8_t* dst, std::size_t length) const {
  if (memory_open_) {
    if (offset >= memory_.size()) return 0;
    const std::size_t n = std::min<uint64_t>(length, memory_.size() - offset);
    std::memcpy(dst, memory_.data() + offset, n);
    return static_cast<int64_t>(n);
  }
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n =
        ::pread(fd_.get(), dst + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<int64_t>(done);
}

std::size_t RiffFile::WriteAt(uint64_t offset, const uint8_t* src, std::size_t length) {
  if (!writable_ || !fd_) return 0;
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n =
        ::pwrite(fd_.get(), src + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

RiffResult RiffFile::Flush() {
  if (dirty_hi_ <= dirty_lo_) return RiffResult::Ok;
  const std::size_t length = dirty_hi_ - dirty_lo_;
  if (WriteAt(buf_start_ + dirty_lo_, buf_.data() + dirty_lo_, length) != length) {
    return RiffResult::CannotWrite;
  }
  dirty_lo_ = dirty_hi_ = 0;
  return RiffResult::Ok;
}

RiffResult RiffFile::Sync() {
  const RiffResult flushed = Flush();
  if (flushed != RiffResult::Ok || !fd_) return flushed;
  return ::fdatasync(fd_.get()) == 0 ? RiffResult::Ok : RiffResult::CannotWrite;
}

RiffResult RiffFile::SyncBehind() {
  const RiffResult flushed = Flush();
  if (flushed != RiffResult::Ok || !fd_) return flushed;
  if (!sync_) sync_ = std::make_unique<BackgroundSync>(fd_.get());
  if (sync_->Error() != 0) {
    errno = sync_->Error();  // for the caller's report
    return RiffResult::CannotWrite;
  }
  sync_->Request();
  return RiffResult::Ok;
}

RiffResult RiffFile::SetBuffer(std::size_t size) {
  if (!IsOpen()) return RiffResult::CannotOpen;
  const RiffResult flushed = Flush();
  if (flushed != RiffResult::Ok) return flushed;
  buf_.assign(size, 0);
  buf_len_ = 0;
  return RiffResult::Ok;
}

// Loads the window at the position, after writing out the old one.
bool RiffFile::Fill() {
  if (Flush() != RiffResult::Ok) return false;
  buf_len_ = 0;
  const int64_t got = ReadAt(pos_, buf_.data(), buf_.size());
  if (got < 0) return false;
  buf_start_ = pos_;
  buf_len_ = static_cast<std::size_t>(got);
  return true;
}

// A transfer the window cannot help with bypasses it; the window is dropped so it
// can never hold bytes older than the file's.
int64_t RiffFile::ReadDirect(uint8_t* dst, std::size_t length) {
  if (Flush() != RiffResult::Ok) return -1;
  buf_len_ = 0;
  return ReadAt(pos_, dst, length);
}

bool RiffFile::WriteDirect(const uint8_t* src, std::size_t length) {
  if (Flush() != RiffResult::Ok) return false;
  buf_len_ = 0;
  // What a write that failed part way put on the disk is counted: it is sound.
  const std::size_t done = WriteAt(pos_, src, length);
  pos_ += done;
  return done == length;
}

int64_t RiffFile::Read(void* buffer, std::size_t length) {
  if (!IsOpen()) return -1;
  auto* dst = static_cast<uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < length) {
    if (InWindow(pos_)) {
      const std::size_t at = static_cast<std::size_t>(pos_ - buf_start_);
      const std::size_t n = std::min(length - done, buf_len_ - at);
      std::memcpy(dst + done, buf_.data() + at, n);
      done += n;
      pos_ += n;
      continue;
    }
    // A large read goes straight into the caller's memory: a player's buffers
    // would otherwise be copied twice.
    if (length - done >= buf_.size() / 2) {
      const int64_t got = ReadDirect(dst + done, length - done);
      if (got < 0) return -1;
      pos_ += static_cast<uint64_t>(got);
      done += static_cast<std::size_t>(got);
      break;
    }
    if (!Fill()) return -1;
    if (buf_len_ == 0) break;  // end of file
  }
  return static_cast<int64_t>(done);
}

int64_t RiffFile::Write(const void* buffer, std::size_t length) {
  if (!IsOpen() || !writable_) return -1;
  const auto* src = static_cast<const uint8_t*>(buffer);
  if (length >= buf_.size()) return WriteDirect(src, length) ? static_cast<int64_t>(length) : -1;
  std::size_t done = 0;
  while (done < length) {
    const bool joins =
        pos_ >= buf_start_ && pos_ <= buf_start_ + buf_len_ && pos_ < buf_start_ + buf_.size();
    if (!joins) {
      if (Flush() != RiffResult::Ok) return -1;
      buf_start_ = pos_;
      buf_len_ = 0;
    }
    const std::size_t at = static_cast<std::size_t>(pos_ - buf_start_);
    const std::size_t n = std::min(length - done, buf_.size() - at);
    std::memcpy(buf_.data() + at, src + done, n);
    dirty_lo_ = dirty_hi_ > dirty_lo_ ? std::min(dirty_lo_, at) : at;
    dirty_hi_ = std::max(dirty_hi_, at + n);
    buf_len_ = std::max(buf_len_, at + n);
    done += n;
    pos_ += n;
  }
  return static_cast<int64_t>(length);
}

int64_t RiffFile::Size() const {
  if (memory_open_) return static_cast<int64_t>(memory_.size());
  struct stat st {};
  if (!fd_ || fstat(fd_.get(), &st) != 0) return -1;
  return std::max<int64_t>(st.st_size, static_cast<int64_t>(buf_start_ + buf_len_));
}

int64_t RiffFile::Seek(int64_t offset, int whence) {
  if (!IsOpen()) return -1;
  int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<int64_t>(pos_);
  if (whence == SEEK_END) base = Size();
  if (base < 0 || (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)) return -1;
  if ((offset < 0 && base + offset < 0) ||
      (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset)) {
    return -1;
  }
  pos_ = static_cast<uint64_t>(base + offset);
  return static_cast<int64_t>(pos_);
}

bool RiffFile::WriteLE32At(uint64_t offset, uint32_t value) {
  uint8_t bytes[4];
  StoreLE32(bytes, value);
  const uint64_t back = pos_;
  pos_ = offset;
  const bool ok = Write(bytes, sizeof bytes) == sizeof bytes;
  pos_ = back;
  return ok;
}

RiffResult RiffFile::ReadHeaderPart(uint8_t* out, std::size_t length) {
  const int64_t got = Read(out, length);
  if (got < 0) return RiffResult::CannotRead;
  return got == static_cast<int64_t>(length) ? RiffResult::Ok : RiffResult::ChunkNotFound;
}

RiffResult RiffFile::Descend(RiffChunk& ck, const RiffChunk* parent, RiffFind find) {
  const uint64_t limit =
      parent ? parent->dwDataOffset + parent->cksize : std::numeric_limits<uint64_t>::max();
  for (;;) {
    const uint64_t at = pos_;
    if (at > limit || limit - at < 8) return RiffResult::ChunkNotFound;
    uint8_t header[8];
    if (const RiffResult got = ReadHeaderPart(header, sizeof header); got != RiffResult::Ok) return got;
    RiffChunk found;
    found.ckid = LoadLE32(header);
    found.cksize = LoadLE32(header + 4);
    found.dwDataOffset = at + 8;
    if (IsForm(found.ckid)) {
      uint8_t type[4];
      if (const RiffResult got = ReadHeaderPart(type, sizeof type); got != RiffResult::Ok) return got;
      found.fccType = LoadLE32(type);
    }
    if (Wanted(found, ck, find)) {
      ck = found;
      return RiffResult::Ok;
    }
    const uint64_t next = found.dwDataOffset + PaddedChunkSize(found.cksize);
    if (Seek(static_cast<int64_t>(next), SEEK_SET) < 0) return RiffResult::CannotSeek;
  }
}

RiffResult RiffFile::Ascend(RiffChunk& ck) {
  if (!ck.dirty) {
    const uint64_t next = ck.dwDataOffset + PaddedChunkSize(ck.cksize);
    return Seek(static_cast<int64_t>(next), SEEK_SET) < 0 ? RiffResult::CannotSeek : RiffResult::Ok;
  }
  if (pos_ < ck.dwDataOffset) return RiffResult::CannotSeek;
  const uint64_t size = pos_ - ck.dwDataOffset;
  if (size > kMaxChunkSize) return RiffResult::TooLarge;
  if (size != ck.cksize && !WriteLE32At(ck.dwDataOffset - 4, static_cast<uint32_t>(size))) {
    return RiffResult::CannotWrite;
  }
  if ((size & 1) != 0) {
    const uint8_t pad = 0;
    if (Write(&pad, 1) != 1) return RiffResult::CannotWrite;
  }
  ck.cksize = static_cast<uint32_t>(size);
  ck.dirty = false;
  return RiffResult::Ok;
}

RiffResult RiffFile::CreateChunk(RiffChunk& ck, RiffCreate kind) {
  if (kind == RiffCreate::Riff) ck.ckid = kRiff;
  if (kind == RiffCreate::List) ck.ckid = kList;
  uint8_t header[12];
  StoreLE32(header, ck.ckid);
  StoreLE32(header + 4, ck.cksize);
  StoreLE32(header + 8, ck.fccType);
  const std::size_t length = kind == RiffCreate::Chunk ? 8 : 12;
  const uint64_t at = pos_;
  if (Write(header, length) != static_cast<int64_t>(length)) return RiffResult::CannotWrite;
  ck.dwDataOffset = at + 8;
  ck.dirty = true;
  return RiffResult::Ok;
}

// The fields go out with the bytes between them in one write: a disk that takes
// its time over every call is asked once, not once for each field.
RiffResult RiffFile::PatchSizes(std::span<const RiffSizePatch> patches) {
  if (patches.empty()) return RiffResult::Ok;
  uint64_t from = UINT64_MAX;
  uint64_t to = 0;
  for (const RiffSizePatch& patch : patches) {
    if (patch.size > kMaxChunkSize) return RiffResult::TooLarge;
    from = std::min(from, patch.chunk.dwDataOffset - 4);
    to = std::max(to, patch.chunk.dwDataOffset);
  }
  if (Flush() != RiffResult::Ok) return RiffResult::CannotWrite;
  std::vector<uint8_t> bytes(to - from);
  if (ReadAt(from, bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size())) {
    return RiffResult::CannotRead;
  }
  for (const RiffSizePatch& patch : patches) {
    StoreLE32(bytes.data() + (patch.chunk.dwDataOffset - 4 - from), static_cast<uint32_t>(patch.size));
  }
  if (WriteAt(from, bytes.data(), bytes.size()) != bytes.size()) return RiffResult::CannotWrite;
  // The window may hold the old fields.
  const uint64_t lo = std::max(from, buf_start_);
  const uint64_t hi = std::min(to, buf_start_ + buf_len_);
  if (lo < hi) std::memcpy(buf_.data() + (lo - buf_start_), bytes.data() + (lo - from), hi - lo);
  return RiffResult::Ok;
}

bool PrintableChunkId(uint32_t id) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = static_cast<uint8_t>(id >> (8 * i));
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

uint64_t DataChunkBytes(const RiffReadAt& read, uint64_t data_start, uint64_t said,
                        uint64_t file_size) {
  const uint64_t there = file_size > data_start ? file_size - data_start : 0;
  if (said >= there) return there;
  const bool odd = (said & 1) != 0;
  if (odd && said + 1 == there) return said;
  const uint64_t end = data_start + said;
  return ChunksReachEnd(read, end, file_size) || (odd && ChunksReachEnd(read, end + 1, file_size)) ? said
                                                                                                    : there;
}

RiffResult FindWaveData(RiffFile& file, RiffChunk& data) {
  RiffChunk riff;
  if (file.Seek(0, SEEK_SET) != 0) return RiffResult::CannotSeek;
  const RiffResult found = file.Descend(riff, nullptr);
  if (found != RiffResult::Ok) return found;
  if (riff.ckid != kRiff || riff.fccType != FourCC("WAVE")) return RiffResult::ChunkNotFound;
  data = RiffChunk{};
  data.ckid = FourCC("data");
  return file.Descend(data, nullptr, RiffFind::Chunk);
}

}  // namespace pmx
