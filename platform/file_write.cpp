#include "platform/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/unique_fd.h"

namespace pmx {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

namespace {

bool OtherThanRegularFile(const std::filesystem::path& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

}  // namespace

int ReadRegularFile(const std::filesystem::path& path, std::size_t max_bytes, std::string& text) {
  // Checked before the open too: opening some devices already acts on them.
  if (OtherThanRegularFile(path)) return kNotRegularFile;
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return errno;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kNotRegularFile;
  text.clear();
  char chunk[4096];
  while (text.size() < max_bytes) {
    const ssize_t n = read(fd.get(), chunk, std::min(sizeof chunk, max_bytes - text.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  return 0;
}

bool ReplaceFileContents(const std::filesystem::path& path, std::string_view data) {
  if (OtherThanRegularFile(path)) return false;
  std::filesystem::path temp = path;
  temp += ".tmp-" + std::to_string(getpid());
  UniqueFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!fd) return false;
  bool ok = WriteAll(fd.get(), data) && fsync(fd.get()) == 0;
  ok = fd.Close() == 0 && ok;
  ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

}  // namespace pmx
