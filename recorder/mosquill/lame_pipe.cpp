#include "recorder/mosquill/lame_pipe.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <vector>

extern char** environ;

namespace pmx {
namespace {

constexpr int kPipeBytes = 1 << 20;

// What a lame built with libsndfile says on every raw run, whatever --quiet asks;
// it reads our pipe as raw PCM all the same.
constexpr std::array<std::string_view, 2> kKnownWarning = {
    "WARNING: libsndfile may ignore -r and perform fseek's on the input.",
    "Compile without libsndfile if this is a problem."};

// Passes what lame wrote to stderr on to ours, but for the known warning.
void ForwardMessages(int messages) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  lseek(messages, 0, SEEK_SET);
  while ((got = read(messages, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<size_t>(got));
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line(text.data() + at, end - at);
    if (std::find(kKnownWarning.begin(), kKnownWarning.end(), line) == kKnownWarning.end()) {
      std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    }
    at = end + 1;
  }
}

}  // namespace

TLamePipe::TLamePipe(int kbps, int sample_rate, int channels, const std::string& mp3, int samples) {
  int pipe_fds[2] = {samples, -1};
  if (samples < 0) {
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("no pipe: ") + std::strerror(errno));
    // A larger pipe lets lame and us take turns less often; the default size is kept
    // where the system refuses.
    fcntl(pipe_fds[1], F_SETPIPE_SZ, kPipeBytes);
  }
  char khz[32];
  std::snprintf(khz, sizeof khz, "%g", sample_rate / 1000.0);
  // Raw input: lame never parses the recording's header, only takes the samples our reader found.
  std::vector<std::string> args{"lame", "--quiet", "-r", "-s", khz, "--bitwidth", "16", "--signed",
                                "--little-endian", "-m", channels == 1 ? "m" : "j", "-b", std::to_string(kbps),
                                "-", mp3};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // lame's messages wait in memory until it ends; a pipe would need a reader beside the writer.
  messages_ = memfd_create("lame-messages", MFD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], 0);
  if (messages_ >= 0) posix_spawn_file_actions_adddup2(&actions, messages_, 2);
  const int spawned = posix_spawnp(&pid_, "lame", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (samples < 0) close(pipe_fds[0]);
  if (spawned != 0) {
    if (samples < 0) close(pipe_fds[1]);
    if (messages_ >= 0) close(messages_);
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
  if (messages_ >= 0) {
    ForwardMessages(messages_);
    close(messages_);
    messages_ = -1;
  }
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
