#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace pmx::fuzz {

// Stops the run with a message when a property of the code under test fails.
inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// One reusable file descriptor whose whole content is set per input. A memfd
// when path-less, else a file in a private folder (for code that renames).
class InputFile {
 public:
  explicit InputFile(bool on_disk = false) {
    if (!on_disk) {
      fd_ = memfd_create("pmx-fuzz", MFD_CLOEXEC);
      return;
    }
    std::string pattern = (RamFolder() / "pmx-fuzz-XXXXXX").string();
    Check(mkdtemp(pattern.data()) != nullptr, "temporary folder");
    path_ = std::filesystem::path(pattern) / "input";
  }
  ~InputFile() {
    if (fd_ >= 0) close(fd_);
    if (!path_.empty()) std::filesystem::remove_all(path_.parent_path());
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // The descriptor, holding exactly data and positioned at its start.
  int Load(const uint8_t* data, size_t size) {
    if (!path_.empty()) {
      if (fd_ >= 0) close(fd_);
      fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    Check(fd_ >= 0 && ftruncate(fd_, 0) == 0, "reset the input file");
    Check(size == 0 || pwrite(fd_, data, size, 0) == static_cast<ssize_t>(size), "write the input file");
    lseek(fd_, 0, SEEK_SET);
    return fd_;
  }

 private:
  static std::filesystem::path RamFolder() {
    const std::filesystem::path shm = "/dev/shm";
    return std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
  }

  int fd_ = -1;
  std::filesystem::path path_;
};

}  // namespace pmx::fuzz
