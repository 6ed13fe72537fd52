#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/main_loop.h"
#include "recorder/instance_listener.h"
#include "recorder/instance_start.h"
#include "tests/recorder/remote_target.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace pmx {
namespace {

using namespace std::chrono_literals;

constexpr int kReportFd = 3;
constexpr char kReportVariable[] = "PMX_RECORDER_REPORT_FD";

// A recorder in a process of its own: this test binary started again to run
// the disabled test below, which reports each action as a line on kReportFd.
class RecorderProcess {
 public:
  explicit RecorderProcess(const std::string& runtime_dir) {
    int fds[2];
    if (pipe(fds) != 0) return;
    report_ = fds[0];
    std::vector<std::string> env{"XDG_RUNTIME_DIR=" + runtime_dir,
                                 std::string(kReportVariable) + "=" + std::to_string(kReportFd)};
    for (char** e = environ; *e; ++e) env.emplace_back(*e);  // later duplicates lose
    std::vector<std::string> args{"/proc/self/exe",
                                  "--gtest_filter=RecorderProcess.DISABLED_RunsUntilClosed",
                                  "--gtest_also_run_disabled_tests"};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], kReportFd);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const int error = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, Pointers(args).data(),
                                  Pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (error != 0) pid_ = -1;
  }
  ~RecorderProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (report_ >= 0) close(report_);
  }

  // The next reported line; empty after 20 s without one or at the end.
  std::string ReadLine() {
    std::string line;
    char c = 0;
    pollfd p{report_, POLLIN, 0};
    while (poll(&p, 1, 20000) == 1 && read(report_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  int Wait() {
    int status = -1;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) pid_ = -1;
    return status;
  }

 private:
  static std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
  }

  pid_t pid_ = -1;
  int report_ = -1;
};

TEST(RecorderProcess, DISABLED_RunsUntilClosed) {
  const char* report = std::getenv(kReportVariable);
  if (!report) GTEST_SKIP() << "started only by the two-process test";
  const int fd = std::atoi(report);
  test::NotingTarget window;
  window.on_action = [fd](const std::string& action) {
    const std::string line = action + "\n";
    ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  };
  TInstanceListener listener(window);  // in $XDG_RUNTIME_DIR, as a real start
  ASSERT_TRUE(listener.Listen(""));
  window.on_action("Listening");
  ASSERT_TRUE(MainLoop::Instance().PumpUntil(
      [&] { return !window.actions.empty() && window.actions.back() == "Close"; }, 30s));
}

TEST(TwoProcesses, ASecondStartCommandsAndClosesTheFirst) {
  test::TempDir runtime;
  RecorderProcess first(runtime.path().string());
  ASSERT_EQ(first.ReadLine(), "Listening");
  InstanceBus bus((runtime / "pelmorax").string());

  TStartDecision second = MainSequence({"-RECORDSTOP"}, bus);
  EXPECT_FALSE(second.become_recorder);
  EXPECT_EQ(first.ReadLine(), "StopRecording");
  EXPECT_EQ(first.ReadLine(), "ShowInstanceRequest");

  second = MainSequence({"-CLOSE"}, bus);
  EXPECT_FALSE(second.become_recorder);
  EXPECT_EQ(first.ReadLine(), "Close");
  const int status = first.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace pmx
