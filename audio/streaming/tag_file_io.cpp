#include "audio/streaming/tag_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace pmx {
namespace {

constexpr size_t kCopyChunk = 1 << 20;

std::string PathOfHandle(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string path(4096, '\0');
  const ssize_t length = readlink(link.c_str(), path.data(), path.size());
  if (length <= 0 || static_cast<size_t>(length) >= path.size()) return {};
  path.resize(static_cast<size_t>(length));
  if (path.front() != '/' || path.ends_with(" (deleted)")) return {};
  return path;
}

bool CopyContent(int from, int to) {
  std::vector<char> chunk(kCopyChunk);
  for (int64_t offset = 0;;) {
    const ssize_t got = pread(from, chunk.data(), chunk.size(), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!WriteAll(to, chunk.data(), static_cast<size_t>(got))) return false;
    offset += got;
  }
}

void SyncFolderOf(const std::string& path) {
  const std::string folder = path.substr(0, path.find_last_of('/') + 1);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  fsync(dir);
  close(dir);
}

// Writes head and the old content to a new file beside path, with the old file's
// mode and (where permitted) owner, and syncs it.
bool WriteReplacement(int fd, std::string_view head, const struct stat& old, int out) {
  // Not permitted for a file of another owner; the content matters more than the owner.
  [[maybe_unused]] const int owned = fchown(out, old.st_uid, old.st_gid);
  return fchmod(out, old.st_mode & 07777) == 0 && WriteAll(out, head.data(), head.size()) &&
         CopyContent(fd, out) && fsync(out) == 0;
}

}  // namespace

bool ReadAt(int fd, int64_t offset, void* data, size_t size) {
  auto* at = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = pread(fd, at, size, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got, offset += got, size -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const auto* at = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = write(fd, at, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    at += put, size -= static_cast<size_t>(put);
  }
  return true;
}

int64_t FileSize(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

int64_t FilePosition(int fd) { return lseek(fd, 0, SEEK_CUR); }

bool PrependToFile(int fd, std::string_view head) {
  struct stat old;
  const int flags = fcntl(fd, F_GETFL);
  const int fd_flags = fcntl(fd, F_GETFD);
  const int64_t position = FilePosition(fd);
  if (fstat(fd, &old) != 0 || !S_ISREG(old.st_mode) || flags < 0 || fd_flags < 0 || position < 0 ||
      (flags & O_ACCMODE) != O_RDWR)
    return false;
  const std::string path = PathOfHandle(fd);
  if (path.empty()) return false;
  std::string temp = path + ".XXXXXX";
  const int out = mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) return false;
  bool ok = WriteReplacement(fd, head, old, out);
  ok = close(out) == 0 && ok;
  // Opened before the rename, so that no failure can come after the old file is gone.
  const int fresh = ok ? open(temp.c_str(), (flags & (O_ACCMODE | O_APPEND)) | O_CLOEXEC) : -1;
  if (fresh < 0 || rename(temp.c_str(), path.c_str()) != 0) {
    if (fresh >= 0) close(fresh);
    unlink(temp.c_str());
    return false;
  }
  SyncFolderOf(path);
  const bool swapped = dup2(fresh, fd) == fd;
  close(fresh);
  if (!swapped) return false;
  if (fd_flags & FD_CLOEXEC) fcntl(fd, F_SETFD, FD_CLOEXEC);
  return lseek(fd, position, SEEK_SET) == position;
}

}  // namespace pmx
