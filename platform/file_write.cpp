#include "platform/file_write.h"

#include <fcntl.h>
#include <unistd.h>

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

bool ReplaceFileContents(const std::filesystem::path& path, std::string_view data) {
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
