#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/temp_dir.h"

namespace pmx::test {

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file in a fresh folder with the given content, open on fd.
class TagFile {
 public:
  explicit TagFile(const std::string& content, int flags = O_RDWR) : path_(dir_ / "audio.mp3") {
    WriteBytes(path_, content);
    fd = open(path_.c_str(), flags | O_CLOEXEC);
  }
  ~TagFile() {
    if (fd >= 0) close(fd);
  }
  TagFile(const TagFile&) = delete;
  TagFile& operator=(const TagFile&) = delete;

  std::string Content() const { return ReadBytes(path_); }
  const std::filesystem::path& path() const { return path_; }
  const TempDir& dir() const { return dir_; }
  int64_t Position() const { return lseek(fd, 0, SEEK_CUR); }

  int fd = -1;

 private:
  TempDir dir_;
  std::filesystem::path path_;
};

}  // namespace pmx::test
