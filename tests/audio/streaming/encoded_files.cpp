#include "tests/audio/streaming/encoded_files.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tests/support/file_bytes.h"

extern char** environ;

namespace pmx::test {

std::vector<int16_t> Sine(int64_t frames, int rate, int channels, double hz) {
  std::vector<int16_t> out;
  out.reserve(static_cast<size_t>(frames * channels));
  for (int64_t i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(std::lround(16000.0 * std::sin(2 * std::numbers::pi * hz * i / rate)));
    out.insert(out.end(), static_cast<size_t>(channels), v);
  }
  return out;
}

void PutRaw(const std::filesystem::path& path, const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes;
  bytes.reserve(samples.size() * 2);
  for (int16_t s : samples) {
    bytes.push_back(static_cast<uint8_t>(s & 0xFF));
    bytes.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
  }
  PutFile(path, bytes);
}

int RunTool(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return out;
}

double BestCorrelation(const std::vector<int16_t>& source, const std::vector<int16_t>& decoded, int channels,
                       int max_lag) {
  const size_t frames = std::min(source.size(), decoded.size()) / static_cast<size_t>(channels);
  double best = 0;
  for (int lag = 0; lag <= max_lag; ++lag) {
    double sd = 0, ss = 0, dd = 0;
    for (size_t f = 0; f + static_cast<size_t>(lag) < frames; ++f) {
      const double s = source[f * channels];
      const double d = decoded[(f + static_cast<size_t>(lag)) * channels];
      sd += s * d;
      ss += s * s;
      dd += d * d;
    }
    if (ss > 0 && dd > 0) best = std::max(best, sd / std::sqrt(ss * dd));
  }
  return best;
}

std::vector<int16_t> ReadSamples(TAuInput& input, size_t most_bytes) {
  std::vector<uint8_t> bytes(most_bytes);
  bool ended = false;
  bytes.resize(ReadFull(input, bytes.data(), static_cast<uint32_t>(most_bytes), ended));
  return Samples(bytes);
}

EncodedSine::EncodedSine(const std::string& file_name, const Command& command)
    : source_(Sine(kFrames, kRate, 2, 441)), path_(dir_ / file_name) {
  const std::filesystem::path raw = dir_ / "sine.raw";
  PutRaw(raw, source_);
  encoded_ = RunTool(command(raw.string(), path_.string())) == 0;
}

}  // namespace pmx::test
