#include "recorder/recording_header.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/riff_io.h"
#include "platform/unique_fd.h"
#include "recorder/event_log.h"

namespace pmx {
namespace {

constexpr int64_t kChunkHeader = 8;

[[noreturn]] void RaiseIo(const std::string& what, const std::string& file_name) {
  throw EInOutError("I/O error " + what + " " + file_name + ": " + std::strerror(errno));
}

// Reads exactly length bytes at offset; false at the end of the file.
bool ReadAt(int fd, char* out, int64_t length, int64_t offset, const std::string& file_name) {
  while (length > 0) {
    const ssize_t got = pread(fd, out, length, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) RaiseIo("reading", file_name);
    if (got == 0) return false;
    out += got;
    length -= got;
    offset += got;
  }
  return true;
}

void WriteUint32At(int fd, int64_t value, int64_t offset, const std::string& file_name) {
  const auto v = static_cast<uint32_t>(std::min<int64_t>(value, UINT32_MAX));
  uint8_t bytes[4];
  StoreLE32(bytes, v);
  for (int64_t done = 0; done < 4;) {
    const ssize_t put = pwrite(fd, bytes + done, 4 - done, offset + done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) RaiseIo("writing", file_name);
    done += put;
  }
}

}  // namespace

bool FixWaveHeader(const std::string& file_name) {
  UniqueFd fd(open(file_name.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) RaiseIo("opening", file_name);
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) RaiseIo("reading", file_name);
  const int64_t file_size = info.st_size;
  RiffFile walk;
  if (walk.OpenRead(file_name) != RiffResult::Ok) RaiseIo("opening", file_name);
  RiffChunk data;
  const RiffResult found = FindWaveData(walk, data);
  if (found == RiffResult::CannotRead) RaiseIo("reading", file_name);
  if (found != RiffResult::Ok) return false;
  WriteUint32At(fd.get(), file_size - kChunkHeader, 4, file_name);
  const auto read = [&fd, &file_name](uint64_t at, uint8_t* out, std::size_t length) {
    return ReadAt(fd.get(), reinterpret_cast<char*>(out), static_cast<int64_t>(length), static_cast<int64_t>(at), file_name);
  };
  const uint64_t data_bytes = DataChunkBytes(read, data.dwDataOffset, data.cksize, file_size);
  if (data_bytes != data.cksize) WriteUint32At(fd.get(), static_cast<int64_t>(data_bytes), data.dwDataOffset - 4, file_name);
  if (fd.Close() != 0) RaiseIo("closing", file_name);
  return true;
}

bool StampFileTime(const std::string& file_name, RecorderClock::TimePoint when) {
  UniqueFd fd(open(file_name.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) return false;
  const auto since_epoch = when.time_since_epoch();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
  const timespec times[2] = {
      {0, UTIME_OMIT},
      {static_cast<time_t>(seconds.count()),
       static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch - seconds).count())}};
  return futimens(fd.get(), times) == 0;
}

}  // namespace pmx
