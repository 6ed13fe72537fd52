#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/options_file.h"
#include "recorder/recorder_options.h"
#include "tests/recorder/recorder_fixture.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace pmx::test {
namespace {

using namespace std::chrono_literals;

// The installed recorder, started as a service manager starts it: no display, a
// fresh user, its own runtime folder (so commands reach no other recorder) and an
// ALSA configuration of the test's choosing.
class Unattended {
 public:
  explicit Unattended(const std::string& alsa_config) {
    for (const char* sub : {"home", "run"}) std::filesystem::create_directory(dir_ / sub);
    std::filesystem::permissions(dir_ / "run", std::filesystem::perms::owner_all);
    WriteFile(dir_ / "asound.conf", alsa_config);
  }
  ~Unattended() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  std::filesystem::path Settings() const { return dir_ / "settings"; }
  std::filesystem::path HomeDir() const { return dir_ / "home"; }

  std::filesystem::path RuntimeDir() const { return dir_ / "run"; }

  void StartRecorder(const std::vector<std::string>& arguments) { pid_ = Spawn(arguments); }
  // The exit status of another start of the program with arguments; -1 when it
  // has not ended within 20 s.
  int Command(const std::vector<std::string>& arguments) { return Wait(Spawn(arguments), 20s); }
  void SignalRecorder(int signal) const { kill(pid_, signal); }
  int WaitRecorder() {
    const int status = Wait(pid_, 20s);
    pid_ = -1;
    return status;
  }
  // The monthly log once it holds text, within 20 s.
  std::string LogHolding(const std::string& text) const {
    for (auto until = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(20ms)) {
      for (const auto& entry : std::filesystem::directory_iterator(Settings(), ignored_)) {
        if (!entry.path().filename().string().starts_with("Month-")) continue;
        const std::string log = ReadFile(entry.path());
        if (log.find(text) != std::string::npos) return log;
      }
    }
    return {};
  }
  std::string Stderr() const { return ReadFile(dir_ / "stderr.txt"); }

 private:
  pid_t Spawn(const std::vector<std::string>& arguments) {
    const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin" / "pelmorax").string();
    std::vector<std::string> env{"HOME=" + HomeDir().string(), "PELMORAX_HOME=" + Settings().string(),
                                 "XDG_RUNTIME_DIR=" + (dir_ / "run").string(),
                                 "ALSA_CONFIG_PATH=" + (dir_ / "asound.conf").string()};
    // The rest as given (sanitizer settings), without any display.
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('='));
      if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM" &&
          std::none_of(env.begin(), env.end(), [&](const std::string& own) { return own.starts_with(name + "="); })) {
        env.push_back(entry);
      }
    }
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir_ / "stderr.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, Pointers(args).data(),
                                  Pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
  }
  static int Wait(pid_t pid, std::chrono::seconds timeout) {
    int status = -1;
    for (auto until = std::chrono::steady_clock::now() + timeout; pid > 0;
         std::this_thread::sleep_for(20ms)) {
      if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      if (std::chrono::steady_clock::now() > until) return -1;
    }
    return -1;
  }
  static std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
  }

  TempDir dir_;
  pid_t pid_ = -1;
  mutable std::error_code ignored_;
};

// A first start on a machine whose "default" device cannot be opened: the
// defaults are written, the failure is logged, and the recorder stays for -CLOSE.
TEST(UnattendedStart, AFirstStartWithADeadDeviceSaysSoAndKeepsRunning) {
  Unattended run("pcm.!default { type hw card 97 }\n");
  run.StartRecorder({"-RECORDSTART"});
  const std::string log = run.LogHolding("could not be started: WaveInOpen");
  EXPECT_NE(log.find("(ALSA cannot open \"default\": "), std::string::npos) << "ALSA's own reason: " << log;
  EXPECT_FALSE(log.empty()) << run.Stderr();
  EXPECT_NE(log.find("default settings written"), std::string::npos) << log;
  EXPECT_TRUE(std::filesystem::is_directory(run.HomeDir() / "Pelmorax"));
  EXPECT_EQ(run.Command({"-CLOSE"}), 0) << run.Stderr();
  EXPECT_EQ(run.WaitRecorder(), 0) << run.Stderr();
  EXPECT_NE(run.Command({"-CLOSE"}), 0) << "nobody was left to take it";
  EXPECT_EQ(run.Stderr().find("propagateSizeHints"), std::string::npos) << run.Stderr();
}

// A damaged settings file and a folder that cannot be written: both are logged,
// neither waits for a click or ends the recorder.
TEST(UnattendedStart, AFolderThatCannotBeWrittenIsReportedNotFatal) {
  Unattended run("pcm.!default { type null }\n");
  TRecorderOptions settings = DefaultRecorderOptions();
  settings.RecordingFolder = "/proc";  // a folder no one may create files in
  std::filesystem::create_directory(run.Settings());
  std::string text = WriteOptionsText(settings);
  text.replace(text.rfind("\r\n0\r\n"), 5, "\r\nzero\r\n");  // the stop delay
  WriteFile(run.Settings() / "options.ini", text);
  run.StartRecorder({"-RECORDSTART"});
  const std::string log = run.LogHolding("Error: ");
  EXPECT_NE(log.find("Error: Recording to /proc/2"), std::string::npos) << "the file it could not create: " << log;
  EXPECT_NE(log.find("Error reading options (options.ini): line 58 holds no number"), std::string::npos)
      << log << run.Stderr();
  EXPECT_EQ(run.Command({"-CLOSE"}), 0) << run.Stderr();
  EXPECT_EQ(run.WaitRecorder(), 0) << run.Stderr();
}

// Settings files that are FIFOs (or devices) would hold the recorder before it
// records, deaf to SIGTERM: they are reported, the first-start settings record,
// a stop signal ends the recorder, and neither FIFO is replaced.
TEST(UnattendedStart, SettingsFilesThatAreFifosAreReportedAndLeftAlone) {
  Unattended run("pcm.!default { type null }\n");
  std::filesystem::create_directory(run.Settings());
  for (const char* name : {"options.ini", "preferences.ini"}) {
    ASSERT_EQ(mkfifo((run.Settings() / name).c_str(), 0600), 0);
  }
  run.StartRecorder({"-RECORDSTART"});
  const std::string folder = (run.HomeDir() / "Pelmorax").string();
  const std::string log = run.LogHolding("recording folder " + folder + " was missing");
  ASSERT_FALSE(log.empty()) << run.Stderr();
  EXPECT_NE(log.find("Error reading options (options.ini): it is not a regular file. The first-start settings"),
            std::string::npos) << log;
  EXPECT_NE(log.find("Error reading preferences (preferences.ini): it is not a regular file"), std::string::npos)
      << log;
  run.SignalRecorder(SIGTERM);
  EXPECT_EQ(run.WaitRecorder(), 0) << run.Stderr();
  EXPECT_NE(run.LogHolding("Closed on SIGTERM").find("Error writing preferences (preferences.ini)"),
            std::string::npos);
  for (const char* name : {"options.ini", "preferences.ini"}) {
    EXPECT_TRUE(std::filesystem::is_fifo(run.Settings() / name)) << name;
  }
  std::vector<std::filesystem::path> recordings;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) recordings.push_back(entry.path());
  ASSERT_EQ(recordings.size(), 1u);
  EXPECT_EQ(recordings[0].extension(), ".wav");
}

// An instance folder that others may write (or a script's unset variable for the
// name) starts no recorder that could not be commanded, or a second one of the
// same name: the program ends at once, says why on stderr, and records nothing.
TEST(UnattendedStart, AnInstanceFolderOthersMayWriteOrAnEmptyNameStartsNothing) {
  Unattended run("pcm.!default { type null }\n");
  const std::filesystem::path folder = run.RuntimeDir() / "pelmorax";
  std::filesystem::create_directory(folder);
  std::filesystem::permissions(folder, std::filesystem::perms::all);
  run.StartRecorder({"-RECORDSTART"});
  EXPECT_EQ(run.WaitRecorder(), 1) << run.Stderr();
  EXPECT_EQ(run.Command({"-RECORDSTART"}), 1) << run.Stderr();
  EXPECT_EQ(run.Command({"-CLOSE"}), 1) << run.Stderr();
  EXPECT_NE(run.Stderr().find(folder.string() + " cannot be used: others may use it (mode 0777)"), std::string::npos)
      << run.Stderr();
  EXPECT_FALSE(std::filesystem::exists(run.HomeDir() / "Pelmorax")) << "nothing recorded";

  std::filesystem::remove(folder);
  for (const char* command : {"-RECORDSTART", "-CLOSE", "-BOGUS"}) {
    EXPECT_EQ(run.Command({"", command}), 2) << command << run.Stderr();
  }
  EXPECT_NE(run.Stderr().find("The instance name is empty"), std::string::npos) << run.Stderr();
  EXPECT_FALSE(std::filesystem::exists(run.HomeDir() / "Pelmorax")) << "nothing recorded";
}

}  // namespace
}  // namespace pmx::test
