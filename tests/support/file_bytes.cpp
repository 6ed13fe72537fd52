#include "tests/support/file_bytes.h"

#include <fstream>
#include <iterator>
#include <string>

namespace pmx::test {

std::vector<uint8_t> FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void PutFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint64_t WriteCalls() {
  std::ifstream io("/proc/thread-self/io");
  for (std::string key; io >> key;) {
    uint64_t value = 0;
    io >> value;
    if (key == "syscw:") return value;
  }
  return 0;
}

}  // namespace pmx::test
