#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "audio/core/dsp/acm_support.h"
#include "platform/alsa/fake_wave_driver.h"
#include "platform/main_loop.h"
#include "platform/qt/qt_main_loop.h"
#include "platform/qt/qt_stop_signals.h"
#include "recorder/application_reports.h"
#include "recorder/doku_form.h"
#include "recorder/event_log.h"
#include "recorder/instance_listener.h"
#include "recorder/instance_start.h"
#include "recorder/recorder_options.h"
#include "tests/recorder/recorder_fixture.h"
#include "tests/recorder/remote_target.h"
#include "tests/recorder/wav_bytes.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace {

// A slow disk, as strace's fault injection makes one: once set, every pwrite of
// this process first waits, so a recording's backlog is still being written
// when the test stops the recorder.
std::atomic<bool> g_slow_disk{false};

}  // namespace

extern "C" ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  if (g_slow_disk.load()) std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return syscall(SYS_pwrite64, fd, data, size, offset);
}

namespace pmx {
namespace {

using namespace std::chrono_literals;

constexpr int kReportFd = 3;
constexpr char kReportVariable[] = "PMX_RECORDER_REPORT_FD";
constexpr char kArgumentVariable[] = "PMX_START_ARGUMENT";
constexpr char kLoseDisplayVariable[] = "PMX_LOSE_DISPLAY";
// Frames the recording process captures: 3 s at the default 8 kHz mono 8 bit.
constexpr uint64_t kCapturedFrames = 24000;

// A recorder in a process of its own: this test binary started again to run
// one of the disabled tests below, which report each action as a line on
// kReportFd.
class RecorderProcess {
 public:
  RecorderProcess(const std::filesystem::path& runtime_dir, const std::string& test,
                  std::vector<std::string> env) {
    int fds[2];
    if (pipe(fds) != 0) return;
    report_ = fds[0];
    env.push_back("XDG_RUNTIME_DIR=" + runtime_dir.string());
    env.push_back(std::string(kReportVariable) + "=" + std::to_string(kReportFd));
    for (char** e = environ; *e; ++e) env.emplace_back(*e);  // later duplicates lose
    std::vector<std::string> args{"/proc/self/exe", "--gtest_filter=RecorderProcess.DISABLED_" + test,
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
  // A start of the program with argument.
  RecorderProcess(const std::filesystem::path& runtime_dir, const std::string& argument)
      : RecorderProcess(runtime_dir, "StartsAsTheProgramDoes", {std::string(kArgumentVariable) + "=" + argument}) {}
  ~RecorderProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    if (report_ >= 0) close(report_);
  }

  pid_t Pid() const { return pid_; }
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
  // -1 when the process has not ended within timeout.
  int Wait(std::chrono::milliseconds timeout) {
    int status = -1;
    if (MainLoop::Instance().PumpUntil([&] { return pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_; },
                                       timeout)) {
      pid_ = -1;
    }
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

bool Exited(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

void Report(const std::string& line) {
  const std::string text = line + "\n";
  const int fd = std::atoi(std::getenv(kReportVariable));
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// The program's start (from its argument) with a stand-in main window: a
// recorder reports "Recorder" and its recording option, then each action, and
// runs until closed; a start that hands its command over reports "Handed" and
// its exit code.
TEST(RecorderProcess, DISABLED_StartsAsTheProgramDoes) {
  if (!std::getenv(kReportVariable)) GTEST_SKIP() << "started only by the tests of several processes";
  const char* argument = std::getenv(kArgumentVariable);
  std::vector<std::string> arguments;
  if (argument && *argument) arguments.emplace_back(argument);  // else none, as for the unnamed recorder
  InstanceBus bus;  // in $XDG_RUNTIME_DIR, as a real start
  TStartDecision start = MainSequence(arguments, bus);
  if (!start.become_recorder) return Report("Handed " + std::to_string(start.exit_code));
  // A recorder needs a while to come up before it listens.
  std::this_thread::sleep_for(20ms);
  test::NotingTarget window;
  window.on_action = Report;
  TInstanceListener listener(window);
  ASSERT_TRUE(listener.Listen(start.instance_name));
  Report("Recorder " + start.recording_option);
  ASSERT_TRUE(MainLoop::Instance().PumpUntil(
      [&] { return !window.actions.empty() && window.actions.back() == "Close"; }, 30s));
}

TEST(TwoProcesses, ASecondStartCommandsAndClosesTheFirst) {
  test::TempDir runtime;
  RecorderProcess first(runtime.path(), "");
  ASSERT_EQ(first.ReadLine(), "Recorder ");
  InstanceBus bus((runtime / "pelmorax").string());

  TStartDecision second = MainSequence({"-RECORDSTOP"}, bus);
  EXPECT_FALSE(second.become_recorder);
  EXPECT_EQ(first.ReadLine(), "StopRecording");
  EXPECT_EQ(first.ReadLine(), "ShowInstanceRequest");

  second = MainSequence({"-CLOSE"}, bus);
  EXPECT_FALSE(second.become_recorder);
  EXPECT_EQ(first.ReadLine(), "Close");
  EXPECT_TRUE(Exited(first.Wait()));

  // -CLOSE while a recorder has taken its name but does not listen yet.
  RecorderProcess starting(runtime.path(), "Studio2");
  ASSERT_TRUE(MainLoop::Instance().PumpUntil([&] { return !bus.ClaimedNames().empty(); }, 20s));
  EXPECT_EQ(MainSequence({"-CLOSE"}, bus).exit_code, 0);
  EXPECT_EQ(starting.ReadLine(), "Recorder Studio2");
  EXPECT_EQ(starting.ReadLine(), "Close");
  EXPECT_TRUE(Exited(starting.Wait()));
}

// A service manager and a login script start the program at once: one recorder
// comes up, and the other start's command reaches it, however the race goes.
TEST(TwoProcesses, TwoStartsAtOnceMakeOneRecorderThatGetsBothCommands) {
  for (int run = 0; run < 50; ++run) {
    SCOPED_TRACE(run);
    test::TempDir runtime;
    RecorderProcess starts[] = {{runtime.path(), "-RECORDSTART"}, {runtime.path(), "-RECORDSTOP"}};
    const std::string lines[] = {starts[0].ReadLine(), starts[1].ReadLine()};
    const int recorder = lines[0].starts_with("Recorder") ? 0 : 1;
    const int other = 1 - recorder;
    ASSERT_EQ(lines[other], "Handed 0") << lines[recorder];
    ASSERT_EQ(lines[recorder], recorder == 0 ? "Recorder -RECORDSTART" : "Recorder -RECORDSTOP");
    EXPECT_EQ(starts[recorder].ReadLine(), other == 0 ? "StartRecording" : "StopRecording");
    EXPECT_EQ(starts[recorder].ReadLine(), "ShowInstanceRequest");
    EXPECT_TRUE(Exited(starts[other].Wait()));

    InstanceBus bus((runtime / "pelmorax").string());
    EXPECT_EQ(MainSequence({"-CLOSE"}, bus).exit_code, 0);
    EXPECT_EQ(starts[recorder].ReadLine(), "Close");
    EXPECT_TRUE(Exited(starts[recorder].Wait()));
  }
}

// The main window recording from the fake device into PELMORAX_HOME/rec until a
// stop signal, or with PMX_LOSE_DISPLAY set until its display is lost; reports
// "Captured" once the device's frames are taken, with the disk slowed down so
// that most of them still wait to be written.
TEST(RecorderProcess, DISABLED_RecordsUntilStopped) {
  if (!std::getenv(kReportVariable)) GTEST_SKIP() << "started only by the tests of several processes";
  LoadACM();
  FakeWaveDriver driver;
  driver.SetBufferFrames(1 << 16);
  driver.SetDevices(WaveDirection::kInput, {{"First"}});
  ScopedWaveDriver driver_scope(driver);
  QtMainLoop loop;
  TDokuForm form("", "");
  form.Settings.RecorderOptions = {};
  form.Settings.RecorderOptions.RecordingFolder =
      (std::filesystem::path(std::getenv("PELMORAX_HOME")) / "rec").string();
  TInstanceListener listener(form);
  const QtStopSignals stop_signals([&listener](int signal) { listener.CloseOnStopSignal(signal); });
  QuietQtNotices();
  SetDisplayLossClose([&listener] { listener.CloseOnDisplayLoss(); });
  form.SpdBtnREcord->click();
  ASSERT_TRUE(form.Recording());
  g_slow_disk = true;
  const std::shared_ptr<FakePcm> pcm = driver.Last(WaveDirection::kInput);
  pcm->Advance(kCapturedFrames);
  ASSERT_TRUE(pcm->WaitUntil([](const FakePcm& p) { return p.Buffered() == 0; }));
  Report("Captured");
  if (std::getenv(kLoseDisplayVariable)) {
    // As Qt's X11 platform ends the program when the X server has gone.
    QTimer::singleShot(0, [] {
      qWarning("The X11 connection broke (error 1). Did the X11 server die?");
      std::exit(1);
    });
  }
  EXPECT_EQ(QApplication::exec(), 0);
}

// The one recording in home/rec holds every captured frame under a header that
// tells its size, and the monthly log has each of lines.
void ExpectFinishedRecording(const std::filesystem::path& home, const std::vector<std::string>& lines) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(home / "rec")) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u);
  const std::string bytes = test::ReadFile(files[0]);
  ASSERT_EQ(bytes.size(), 44 + kCapturedFrames);
  EXPECT_EQ(test::Uint32At(bytes, 4), bytes.size() - 8);
  EXPECT_EQ(test::Uint32At(bytes, 40), kCapturedFrames);
  const std::vector<uint8_t> ramp = FakePcm::Ramp(WaveFormatEx::Pcm(8000, 8, 1), 0, kCapturedFrames);
  EXPECT_TRUE(bytes.compare(44, std::string::npos, std::string(ramp.begin(), ramp.end())) == 0);
  std::string log;
  for (const auto& entry : std::filesystem::directory_iterator(home)) {
    if (entry.path().filename().string().starts_with("Month-")) log += test::ReadFile(entry.path());
  }
  for (const std::string& line : lines) EXPECT_NE(log.find(line), std::string::npos) << log;
}

// A service manager stops the recorder with SIGTERM while a slow disk still
// writes the backlog: the process ends only after every captured byte is in the
// file and the header tells its size, and says so in the log.
TEST(TwoProcesses, SigtermOnASlowDiskFinishesTheRecordingFirst) {
  test::TempDir runtime;
  test::TempDir home;
  std::filesystem::create_directory(home / "rec");
  RecorderProcess recorder(runtime.path(), "RecordsUntilStopped", {"PELMORAX_HOME=" + home.path().string()});
  ASSERT_EQ(recorder.ReadLine(), "Captured");
  ASSERT_EQ(kill(recorder.Pid(), SIGTERM), 0);
  EXPECT_TRUE(Exited(recorder.Wait()));
  ExpectFinishedRecording(home.path(),
                          {"SIGTERM received: finishing the recording and closing", "Closed on SIGTERM"});
}

// The X server dies under a recorder (the user logged out) while a slow disk
// still writes the backlog, and Qt ends the program: the recording is finished
// first, as on SIGTERM, and the exit code says that something went wrong.
TEST(TwoProcesses, ALostDisplayOnASlowDiskFinishesTheRecordingFirst) {
  test::TempDir runtime;
  test::TempDir home;
  std::filesystem::create_directory(home / "rec");
  RecorderProcess recorder(runtime.path(), "RecordsUntilStopped",
                           {"PELMORAX_HOME=" + home.path().string(), std::string(kLoseDisplayVariable) + "=1"});
  ASSERT_EQ(recorder.ReadLine(), "Captured");
  const int status = recorder.Wait(30s);
  ASSERT_NE(status, -1) << "the recorder hung at its end";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  ExpectFinishedRecording(home.path(), {"The display was lost: finishing the recording and closing",
                                        "Closed on the loss of the display"});
}

}  // namespace
}  // namespace pmx
