#include "tests/audio/core/wave_test_files.h"

#include <spawn.h>
#include <sys/wait.h>

#include "platform/byte_order.h"

extern char** environ;

namespace pmx::test {

uint32_t LE32At(const std::vector<uint8_t>& bytes, std::size_t at) {
  return LoadLE32(&bytes.at(at + 3) - 3);
}

std::string IdAt(const std::vector<uint8_t>& bytes, std::size_t at) {
  return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

WaveImage::WaveImage(uint32_t riffSize) : riffSize_(riffSize) {}

WaveImage& WaveImage::Chunk(const std::string& id, uint32_t size,
                            const std::vector<uint8_t>& content) {
  bytes_.insert(bytes_.end(), id.begin(), id.end());
  AppendLE32(bytes_, size);
  return Raw(content);
}

WaveImage& WaveImage::Fmt(const WaveFormatEx& wfx, uint32_t size) {
  std::vector<uint8_t> content(wfx.Bytes().begin(), wfx.Bytes().end());
  content.resize(size, 0);
  return Chunk("fmt ", size, content);
}

WaveImage& WaveImage::Data(uint32_t n, uint32_t field) {
  std::vector<uint8_t> content(n);
  for (uint32_t i = 0; i < n; ++i) content[i] = static_cast<uint8_t>(i);
  return Chunk("data", field, content);
}

WaveImage& WaveImage::Raw(const std::vector<uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::vector<uint8_t> WaveImage::Bytes() const {
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
  AppendLE32(out, riffSize_ != 0 ? riffSize_ : static_cast<uint32_t>(bytes_.size() + 4));
  out.insert(out.end(), {'W', 'A', 'V', 'E'});
  out.insert(out.end(), bytes_.begin(), bytes_.end());
  return out;
}

bool RunProgram(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace pmx::test
