#include "recorder/mosquill/lame_pipe.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace pmx {
namespace {

constexpr int kPipeBytes = 1 << 20;

}  // namespace

TLamePipe::TLamePipe(int kbps, int sample_rate, int channels, const std::string& mp3) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("no pipe: ") + std::strerror(errno));
  // A larger pipe lets lame and us take turns less often; the default size is kept
  // where the system refuses.
  fcntl(pipe_fds[1], F_SETPIPE_SZ, kPipeBytes);
  char khz[32];
  std::snprintf(khz, sizeof khz, "%g", sample_rate / 1000.0);
  // Raw input: lame never parses the recording itself, only what our reader took from it.
  std::vector<std::string> args{"lame", "--quiet", "-r", "-s", khz, "--bitwidth", "16", "--signed",
                                "--little-endian", "-m", channels == 1 ? "m" : "j", "-b", std::to_string(kbps),
                                "-", mp3};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], 0);
  const int spawned = posix_spawnp(&pid_, "lame", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[0]);
  if (spawned != 0) {
    close(pipe_fds[1]);
    throw std::runtime_error(std::string("lame could not be started: ") + std::strerror(spawned));
  }
  input_ = pipe_fds[1];
}

TLamePipe::~TLamePipe() { Finish(); }

bool TLamePipe::Write(const uint8_t* bytes, size_t count) {
  while (count > 0 && input_ >= 0) {
    const ssize_t done = write(input_, bytes, count);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    count -= static_cast<size_t>(done);
  }
  return input_ >= 0;
}

bool TLamePipe::Finish() {
  if (input_ >= 0) close(input_);
  input_ = -1;
  if (pid_ < 0) return false;
  int status = 0;
  pid_t waited;
  do waited = waitpid(pid_, &status, 0);
  while (waited < 0 && errno == EINTR);
  pid_ = -1;
  return waited > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void AppendPcm16(const uint8_t* bytes, size_t count, int bits, std::string& out) {
  const size_t width = static_cast<size_t>(bits / 8);
  for (size_t i = 0; i + width <= count; i += width) {
    if (width == 1) {
      const int v = (bytes[i] - 128) * 256;
      out += static_cast<char>(v & 0xFF);
      out += static_cast<char>(v >> 8 & 0xFF);
    } else {
      out += static_cast<char>(bytes[i + width - 2]);
      out += static_cast<char>(bytes[i + width - 1]);
    }
  }
}

}  // namespace pmx
