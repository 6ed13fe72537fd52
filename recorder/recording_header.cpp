#include "recorder/recording_header.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/byte_order.h"
#include "platform/unique_fd.h"
#include "recorder/event_log.h"

namespace pmx {
namespace {

constexpr int64_t kChunkHeader = 8;
constexpr int64_t kFirstChunk = 12;

struct ChunkHeader {
  char id[4];
  uint32_t size;
};

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

std::optional<ChunkHeader> ReadChunkHeader(int fd, int64_t offset, const std::string& file_name) {
  char bytes[kChunkHeader];
  if (!ReadAt(fd, bytes, kChunkHeader, offset, file_name)) return std::nullopt;
  ChunkHeader header;
  std::memcpy(header.id, bytes, 4);
  header.size = LoadLE32(reinterpret_cast<const uint8_t*>(bytes) + 4);
  return header;
}

int64_t ChunkEnd(int64_t offset, uint32_t size) { return offset + kChunkHeader + size + (size & 1); }

bool PlausibleId(const char* id) {
  return std::all_of(id, id + 4, [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// True when complete chunks with printable ids lead from offset exactly to the end.
bool ChunksReachEnd(int fd, int64_t offset, int64_t file_size, const std::string& file_name) {
  while (offset < file_size) {
    const auto header = ReadChunkHeader(fd, offset, file_name);
    if (!header || !PlausibleId(header->id)) return false;
    offset = ChunkEnd(offset, header->size);
  }
  return offset == file_size;
}

// The "data" chunk's header and, in offset, where it lies; walks from the first chunk.
std::optional<ChunkHeader> FindData(int fd, int64_t& offset, int64_t file_size, const std::string& file_name) {
  for (offset = kFirstChunk; offset + kChunkHeader <= file_size;) {
    const auto header = ReadChunkHeader(fd, offset, file_name);
    if (!header) return std::nullopt;
    if (std::memcmp(header->id, "data", 4) == 0) return header;
    offset = ChunkEnd(offset, header->size);
  }
  return std::nullopt;
}

}  // namespace

bool FixWaveHeader(const std::string& file_name) {
  UniqueFd fd(open(file_name.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) RaiseIo("opening", file_name);
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) RaiseIo("reading", file_name);
  const int64_t file_size = info.st_size;
  char riff[kFirstChunk];
  if (!ReadAt(fd.get(), riff, kFirstChunk, 0, file_name) || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0) {
    return false;
  }
  int64_t data_offset = 0;
  const auto data = FindData(fd.get(), data_offset, file_size, file_name);
  if (!data) return false;
  WriteUint32At(fd.get(), file_size - kChunkHeader, 4, file_name);
  const int64_t data_start = data_offset + kChunkHeader;
  const int64_t declared_end = ChunkEnd(data_offset, data->size);
  const bool declared_fits = declared_end == file_size ||
                             (declared_end < file_size && ChunksReachEnd(fd.get(), declared_end, file_size, file_name));
  if (!declared_fits) {
    WriteUint32At(fd.get(), file_size - data_start, data_offset + 4, file_name);
  }
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
