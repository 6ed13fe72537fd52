#include "platform/ipc/spawn_detached.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/unique_fd.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

TEST(SpawnDetached, ArgumentsReachTheProgramUntouchedInItsFolder) {
  test::TempDir dir;
  const auto script = dir / "record-args";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > args.txt\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  const std::vector<std::string> arguments = {"C:\\My*Rec/a b.wav", "*", "$(touch hacked)", "'q'", "",
                                              "delete"};
  const pid_t pid = SpawnDetached(script, arguments, dir.path());
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(ChildReaper::Instance().WaitReaped(pid, 20s));
  std::ifstream file(dir / "args.txt");
  std::vector<std::string> received;
  for (std::string line; std::getline(file, line);) received.push_back(line);
  EXPECT_EQ(received, arguments);
  EXPECT_FALSE(std::filesystem::exists(dir / "hacked"));
}

// The child's open descriptors once its start is over: until then it may still be
// a copy of this process (a sanitizer's spawn forks first), and the loader and the
// C library open files of their own for a moment. An inherited one stays for good.
std::vector<std::string> SettledDescriptors(pid_t pid, std::chrono::milliseconds timeout) {
  const std::filesystem::path fd_folder = "/proc/" + std::to_string(pid) + "/fd";
  const std::vector<std::string> standard{"0", "1", "2"};
  std::vector<std::string> fds;
  for (const auto deadline = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < deadline;) {
    fds.clear();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(fd_folder, error)) fds.push_back(entry.path().filename());
    std::sort(fds.begin(), fds.end());
    if (fds == standard) break;
    std::this_thread::sleep_for(1ms);
  }
  return fds;
}

TEST(SpawnDetached, ChildHasItsOwnSessionNoInheritedDescriptorsAndIsReaped) {
  test::TempDir dir;
  UniqueFd leaked(open(dir.path().c_str(), O_RDONLY));  // no O_CLOEXEC on purpose
  ASSERT_GE(leaked.get(), 3);
  const pid_t pid = SpawnDetached("/bin/sleep", {"60"}, dir.path());
  ASSERT_GT(pid, 0);
  const std::filesystem::path proc = "/proc/" + std::to_string(pid);
  EXPECT_EQ(SettledDescriptors(pid, 10s), (std::vector<std::string>{"0", "1", "2"}));
  EXPECT_EQ(std::filesystem::read_symlink(proc / "fd/0"), "/dev/null");
  EXPECT_EQ(std::filesystem::read_symlink(proc / "cwd"), dir.path());
  EXPECT_EQ(getsid(pid), pid);

  ASSERT_EQ(kill(pid, SIGKILL), 0);
  ASSERT_TRUE(ChildReaper::Instance().WaitReaped(pid, 20s));
  EXPECT_EQ(kill(pid, 0), -1) << "no zombie is left";
  EXPECT_EQ(errno, ESRCH);
}

TEST(SpawnDetached, MissingProgramOrFolderIsReported) {
  errno = 0;
  EXPECT_EQ(SpawnDetached("/nonexistent/mosquill", {"x"}, ""), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(SpawnDetached("/bin/true", {}, "/nonexistent"), -1);
}

}  // namespace
}  // namespace pmx
