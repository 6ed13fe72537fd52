#include "audio/core/files/wave_file.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "audio/core/objects/dsp_thread.h"
#include "platform/main_loop.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_test_files.h"

extern char** environ;

namespace pmx {
namespace {

using namespace std::chrono_literals;
using test::FileBytes;
using test::LE32At;

class Source : public TMMDSPComponent {
 public:
  explicit Source(const WaveFormatEx& wfx) {
    PublishLinks(false, true);
    SetPWaveFormat(&wfx);
  }
};

// A sink wave file fed by a source node, recording into name.
struct Recorder {
  Recorder(const WaveFormatEx& wfx, const std::string& name) : source(wfx) {
    file.Wave()->SetFileMustExist(false);
    file.Wave()->SetIOBufferSize(8192);
    file.Wave()->SetFileName(name);
    file.SetInput(&source);
  }
  void Open() {
    file.Opened();
    file.Started();
  }
  void Push(std::vector<uint8_t>& bytes) {
    WAVEHDR hdr;
    hdr.lpData = reinterpret_cast<char*>(bytes.data());
    hdr.dwBufferLength = hdr.dwBytesRecorded = static_cast<uint32_t>(bytes.size());
    file.BufferReady(&hdr);
  }
  Source source;
  TMMWaveFile file;
};

std::vector<uint8_t> Ramp(std::size_t n, std::size_t from = 0) {
  std::vector<uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>((from + i) * 7);
  return bytes;
}

TEST(WaveFile, SinkRecordsEveryBufferIntoACanonicalFile) {
  test::TempDir dir;
  const std::string name = dir / "rec.wav";
  Recorder rec(WaveFormatEx::Pcm(44100, 16, 2), name);
  int opens = 0, closes = 0;
  rec.file.OnOpen = [&](TObject*) { ++opens; };
  rec.file.OnClose = [&](TObject*) { ++closes; };
  rec.Open();
  std::vector<uint8_t> first = Ramp(100000), second = Ramp(76400, 100000);
  rec.Push(first);
  rec.Push(second);
  rec.file.Stopped();
  rec.file.Closed();
  rec.file.Closed();
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(closes, 1);
  const std::vector<uint8_t> bytes = FileBytes(name);
  ASSERT_EQ(bytes.size(), 176444u);
  EXPECT_EQ(LE32At(bytes, 4), 176436u);
  EXPECT_EQ(LE32At(bytes, 40), 176400u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 44, bytes.end()), Ramp(176400));
}

TEST(WaveFile, RecordingClosedBeforeAnyBufferHoldsFourZeroBytes) {
  test::TempDir dir;
  const std::string name = dir / "short.wav";
  Recorder rec(WaveFormatEx::Pcm(8000, 16, 1), name);
  rec.Open();
  rec.file.Closed();
  const std::vector<uint8_t> bytes = FileBytes(name);
  ASSERT_EQ(bytes.size(), 48u);
  EXPECT_EQ(LE32At(bytes, 40), 4u);
  EXPECT_EQ(LE32At(bytes, 44), 0u);
}

TEST(WaveFile, AnExistingFileIsNeverReplaced) {
  test::TempDir dir;
  const std::string name = dir / "taken.wav";
  test::PutFile(name, {9, 9, 9});
  Source source(WaveFormatEx::Pcm(8000, 16, 1));
  TMMWaveFile file;
  file.Wave()->SetFileMustExist(false);
  EXPECT_THROW(file.Wave()->SetFileName(name), EMMWaveError);  // not a wave file
  file.SetInput(&source);
  file.Wave()->SetFileName(dir / "free.wav");
  test::PutFile(dir / "free.wav", {1, 2});  // taken between naming and opening
  const auto refusal = [&file]() -> std::string {
    try {
      file.Opened();
    } catch (const EMMWaveError& e) {
      return e.what();
    }
    return "opened";
  };
  EXPECT_THROW(file.Opened(), EMMWaveFileExists);
  EXPECT_EQ(refusal(), "Unable to create wave file (File exists)");
  EXPECT_FALSE(file.FileOpened());
  EXPECT_EQ(FileBytes(dir / "free.wav"), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(FileBytes(name), (std::vector<uint8_t>{9, 9, 9}));
  file.Wave()->SetFileName(dir / "no folder" / "x.wav");
  EXPECT_EQ(refusal(), "Unable to create wave file (No such file or directory)")
      << "any refusal says why";
}

// With a free-name rule a name taken meanwhile gives way to the rule's, when the
// sink opens and when it splits, without a gap; the taken files stay as they are.
TEST(WaveFile, ATakenNameGivesWayToTheFreeNameAtOpenAndAtASplit) {
  test::TempDir dir;
  const std::string first = dir / "a.wav", second = dir / "b.wav";
  Recorder rec(WaveFormatEx::Pcm(8000, 16, 1), first);
  test::PutFile(first, {1});  // taken between naming and opening
  test::PutFile(second, {2});
  rec.file.SetFreeName(
      [](const std::string& taken) { return taken.substr(0, taken.size() - 4) + "2.wav"; });
  rec.file.SetKeepCreatedFiles(true);
  rec.Open();
  std::vector<uint8_t> one = Ramp(1000), two = Ramp(600, 1000), three = Ramp(400, 1600);
  rec.Push(one);
  rec.file.SplitTo(second);
  rec.Push(two);
  rec.Push(three);
  rec.file.Closed();
  EXPECT_EQ(rec.file.TakeFinishedSplit(), (dir / "a2.wav").string());
  EXPECT_EQ(rec.file.TakeCreatedFile().name, (dir / "a2.wav").string());
  EXPECT_EQ(rec.file.TakeCreatedFile().name, (dir / "b2.wav").string());
  const std::vector<uint8_t> a2 = FileBytes(dir / "a2.wav"), b2 = FileBytes(dir / "b2.wav");
  EXPECT_EQ(std::vector<uint8_t>(a2.begin() + 44, a2.end()), one);
  two.insert(two.end(), three.begin(), three.end());
  EXPECT_EQ(std::vector<uint8_t>(b2.begin() + 44, b2.end()), two);
  EXPECT_EQ(FileBytes(first), std::vector<uint8_t>{1});
  EXPECT_EQ(FileBytes(second), std::vector<uint8_t>{2});
}

TEST(WaveFile, SinkClosesItselfWhenTheDiskRunsShort) {
  test::TempDir dir;
  const std::string name = dir / "full.wav";
  Recorder rec(WaveFormatEx::Pcm(8000, 16, 1), name);
  int64_t free = 83968;
  bool readable = true;
  rec.file.SetDiskFreeQuery([&](const std::string& path, int64_t& f) {
    EXPECT_EQ(path, dir.path().string());
    f = free;
    return readable;
  });
  int closes = 0;
  rec.file.OnClose = [&](TObject*) { ++closes; };
  rec.Open();
  std::vector<uint8_t> buffer = Ramp(65536);
  rec.Push(buffer);  // 8192 + 65536 + 10240 free: written
  EXPECT_TRUE(rec.file.FileOpened());
  free = 83967;
  rec.Push(buffer);
  EXPECT_FALSE(rec.file.FileOpened());
  EXPECT_EQ(closes, 1);
  rec.Push(buffer);  // stays closed
  EXPECT_EQ(LE32At(FileBytes(name), 40), 65536u);

  // Opened again it records; a volume that cannot be queried, when asked, closes it too.
  std::filesystem::rename(name, dir / "first.wav");
  free = 83968;  // the next write asks again
  rec.Open();
  rec.Push(buffer);
  readable = false;
  rec.Push(buffer);
  EXPECT_FALSE(rec.file.FileOpened());
  EXPECT_EQ(closes, 2);
  EXPECT_EQ(LE32At(FileBytes(name), 40), 65536u);
}

TEST(WaveFile, SinkClosesItselfBeforeTheRiffSizeWouldWrap) {
  test::TempDir dir;
  const std::string name = dir / "long.wav";
  Recorder rec(WaveFormatEx::Pcm(8000, 16, 1), name);
  rec.Open();
  rec.file.Wave()->IORecord()->MaxFileSize = 44 + 3000;
  std::vector<uint8_t> buffer = Ramp(1000);
  for (int i = 0; i < 5; ++i) rec.Push(buffer);
  EXPECT_FALSE(rec.file.FileOpened());
  const std::vector<uint8_t> bytes = FileBytes(name);
  EXPECT_EQ(bytes.size(), 3044u);
  EXPECT_EQ(LE32At(bytes, 4), 3036u);
}

// A split goes on in a new file without a gap; one whose new file cannot be made
// keeps the buffer that asked for it in the old file, which is still below the
// limit, before the sink closes with the reason.
TEST(WaveFile, SplitKeepsEveryBufferWhetherOrNotTheNewFileCanBeMade) {
  test::TempDir dir;
  const std::string first = dir / "a.wav", second = dir / "b.wav", taken = dir / "c.wav";
  Recorder rec(WaveFormatEx::Pcm(8000, 16, 1), first);
  rec.Open();
  std::vector<uint8_t> one = Ramp(1000), two = Ramp(600, 1000), three = Ramp(400, 1600);
  rec.Push(one);
  rec.file.SplitTo(second);
  rec.Push(two);
  EXPECT_EQ(rec.file.TakeFinishedSplit(), first);
  const std::vector<uint8_t> finished = FileBytes(first);
  EXPECT_EQ(std::vector<uint8_t>(finished.begin() + 44, finished.end()), one);

  std::ofstream(taken) << "someone else's";
  rec.file.SplitTo(taken);
  rec.Push(three);
  EXPECT_FALSE(rec.file.FileOpened());
  EXPECT_NE(rec.file.WriteFailure().find(taken), std::string::npos);
  EXPECT_EQ(rec.file.TakeFinishedSplit(), "");
  EXPECT_EQ(rec.file.GetFileName(), second);
  const std::vector<uint8_t> bytes = FileBytes(second);
  ASSERT_EQ(bytes.size(), 44u + 1000u);
  EXPECT_EQ(LE32At(bytes, 40), 1000u);
  two.insert(two.end(), three.begin(), three.end());
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 44, bytes.end()), two);
  EXPECT_EQ(FileBytes(taken).size(), 14u);
}

// A file whose last bytes can't be written when it is finished (here: the process
// may not make files larger than 500 bytes) is reported with its name, whether a
// split or the end of the recording finished it; the recording goes on in the new
// file meanwhile.
TEST(WaveFile, AFileThatCannotBeFinishedIsReported) {
  test::TempDir dir;
  const std::string first = dir / "a.wav", second = dir / "b.wav";
  Recorder rec(WaveFormatEx::Pcm(8000, 16, 1), first);
  rec.Open();
  std::vector<uint8_t> one = Ramp(1000), two = Ramp(300, 1000), three = Ramp(400, 1300);
  rec.Push(one);  // still in the file's buffer
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_signal = signal(SIGXFSZ, SIG_IGN);
  rlimit limit = old_limit;
  limit.rlim_cur = 500;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  rec.file.SplitTo(second);
  rec.Push(two);
  rec.Push(three);
  rec.file.Closed();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_signal);

  EXPECT_EQ(rec.file.TakeFinishedSplit(), first);
  const std::string failed_first = rec.file.TakeCloseFailure();
  EXPECT_EQ(failed_first.rfind(first + ": not finished on the disk (", 0), 0u) << failed_first;
  const std::string failed_second = rec.file.TakeCloseFailure();
  EXPECT_EQ(failed_second.rfind(second + ": not finished on the disk (", 0), 0u) << failed_second;
  EXPECT_EQ(rec.file.TakeCloseFailure(), "");
  EXPECT_EQ(FileBytes(second).size(), 500u);
}

// Pushes buffers into its component from a chain thread, as the ring buffer's
// queue thread does.
class QueueThread : public TMMDSPThread {
 public:
  QueueThread(TMMDSPComponent* component, std::vector<uint8_t>* buffer)
      : TMMDSPThread("test-feeder", component), buffer_(buffer) {}
  ~QueueThread() override { WaitFor(); }

 protected:
  void ExecuteDSP() override {
    WAVEHDR hdr;
    hdr.lpData = reinterpret_cast<char*>(buffer_->data());
    hdr.dwBufferLength = hdr.dwBytesRecorded = static_cast<uint32_t>(buffer_->size());
    for (int i = 0; i < 3; ++i) Component()->BufferReady(&hdr);
  }

 private:
  std::vector<uint8_t>* buffer_;
};

TEST(WaveFile, TheDriveIsAskedAtMostOnceASecondAndAgainBeforeEveryNoRoom) {
  test::TempDir dir;
  Recorder rec(WaveFormatEx::Pcm(8000, 16, 1), dir / "cached.wav");
  constexpr int64_t kBuffer = 4000;
  constexpr int64_t kNeeded = 8192 + kBuffer + TMMCustomWaveFile::kDiskReserve;
  int64_t free = kNeeded + 2 * kBuffer;  // three buffers, by the figure that is taken off
  int calls = 0;
  rec.file.SetDiskFreeQuery([&](const std::string&, int64_t& f) {
    ++calls;
    f = free;
    return true;
  });
  rec.Open();
  std::vector<uint8_t> buffer = Ramp(kBuffer);
  const auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) rec.Push(buffer);
  const int seconds = static_cast<int>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count());
  EXPECT_LE(calls, 1 + seconds);
  // The figure left says no room: the drive is asked again, and its answer counts.
  const int before = calls;
  rec.Push(buffer);
  EXPECT_EQ(calls, before + 1);
  EXPECT_TRUE(rec.file.FileOpened());
  free = kNeeded - 1;
  for (int i = 0; i < 3; ++i) rec.Push(buffer);
  EXPECT_FALSE(rec.file.FileOpened());
  EXPECT_EQ(LE32At(FileBytes(dir / "cached.wav"), 40), static_cast<uint32_t>(4 + 2) * kBuffer);
}

TEST(WaveFile, CloseFromTheQueueThreadIsAnnouncedOnTheGuiThread) {
  PlainMainLoop loop;
  ScopedMainLoop scope(loop);
  test::TempDir dir;
  Recorder rec(WaveFormatEx::Pcm(8000, 16, 1), dir / "q.wav");
  std::atomic<int> free_calls{0};
  rec.file.SetDiskFreeQuery([&](const std::string&, int64_t& f) {
    f = free_calls++ == 0 ? 8192 + 1600 + TMMCustomWaveFile::kDiskReserve : 0;  // one buffer's room
    return true;
  });
  std::thread::id closed_on;
  rec.file.OnClose = [&](TObject*) { closed_on = std::this_thread::get_id(); };
  rec.Open();
  std::vector<uint8_t> buffer = Ramp(1600);
  QueueThread queue(&rec.file, &buffer);
  ASSERT_TRUE(queue.Start());
  ASSERT_TRUE(loop.PumpUntil([&] { return queue.Finished(); }, 10s));
  queue.WaitFor();
  EXPECT_EQ(closed_on, std::this_thread::get_id());
  EXPECT_FALSE(rec.file.FileOpened());
  EXPECT_EQ(LE32At(FileBytes(dir / "q.wav"), 40), 1600u);
}

struct Player {
  explicit Player(const std::string& name) {
    file.Wave()->SetFileName(name);
    file.Opened();
    file.Started();
  }
  uint32_t Load(std::vector<uint8_t>& buffer, bool& more, bool loop = false) {
    WAVEHDR hdr;
    hdr.lpData = reinterpret_cast<char*>(buffer.data());
    hdr.dwBufferLength = static_cast<uint32_t>(buffer.size());
    hdr.LoopFlag = loop;
    more = false;
    file.BufferLoad(&hdr, more);
    restarted = hdr.LoopRestart;
    return hdr.dwBytesRecorded;
  }
  TMMWaveFile file;
  bool restarted = false;
};

TEST(WaveFile, SourceFillsPulledBuffersAndLoops) {
  test::TempDir dir;
  const std::string name = dir / "play.wav";
  test::PutFile(name, test::WaveImage().Fmt(WaveFormatEx::Pcm(8000, 8, 1)).Data(1000, 1000).Bytes());
  Player player(name);
  int loops = 0;
  player.file.OnLooping = [&](TObject*) { ++loops; };
  std::vector<uint8_t> buffer(400);
  bool more = false;
  EXPECT_EQ(player.Load(buffer, more), 400u);
  EXPECT_TRUE(more);
  EXPECT_EQ(player.Load(buffer, more), 400u);
  EXPECT_EQ(buffer[0], static_cast<uint8_t>(400));
  EXPECT_EQ(player.Load(buffer, more, true), 200u);  // the end, looped
  EXPECT_TRUE(more);
  EXPECT_TRUE(player.restarted);
  EXPECT_EQ(loops, 1);
  EXPECT_EQ(player.Load(buffer, more), 400u);
  EXPECT_EQ(buffer[1], 1);
  player.Load(buffer, more);
  EXPECT_EQ(player.Load(buffer, more), 200u);  // the end, not looped
  EXPECT_FALSE(more);

  player.file.SetEnabled(false);
  EXPECT_EQ(player.Load(buffer, more), 400u);
  EXPECT_EQ(buffer, std::vector<uint8_t>(400, 128));
  EXPECT_TRUE(more);
  player.file.Closed();
}

TEST(WaveFile, WaveNamingAndProperties) {
  test::TempDir dir;
  TMMWave wave;
  EXPECT_EQ(wave.GetPosition(), -1);
  EXPECT_EQ(wave.SampleRate(), 11025u);
  EXPECT_EQ(wave.FormatString(), "Unknown");
  wave.SetIOBufferSize(4096);
  EXPECT_EQ(wave.IOBufferSize(), 8192);
  try {
    wave.SetFileName(dir / "missing.wav");
    FAIL();
  } catch (const EMMWaveError& e) {
    EXPECT_STREQ(e.what(), "Error reading wave file");
  }
  test::PutFile(dir / "text.wav", {'h', 'e', 'l', 'l', 'o'});
  try {
    wave.SetFileName(dir / "text.wav");
    FAIL();
  } catch (const EMMWaveError& e) {
    EXPECT_STREQ(e.what(), "Invalid wave file...");
  }
  const std::string name = dir / "w.wav";
  test::PutFile(name, test::WaveImage().Fmt(WaveFormatEx::Pcm(8000, 16, 2)).Data(8000, 8000).Bytes());
  int changes = 0;
  wave.OnChange = [&](TObject*) { ++changes; };
  wave.SetFileName(name);
  wave.SetFileName(name);
  EXPECT_EQ(changes, 1);
  test::PutFile(name, test::WaveImage().Fmt(WaveFormatEx::Pcm(8000, 16, 2)).Data(16000, 16000).Bytes());
  wave.SetFileName(name);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(wave.Mode(), TMMMode::mStereo);
  wave.SetTimeFormat(TMMTimeFormats::tfMillisecond);
  EXPECT_EQ(wave.DataSize(), 500);
  wave.OpenWaveFile();
  wave.SetPosition(250);
  std::vector<uint8_t> buffer(4);
  EXPECT_EQ(wave.ReadData(buffer.data(), 4), 4);
  EXPECT_EQ(buffer[0], static_cast<uint8_t>(8000));  // 250 ms = 2000 samples = 8000 bytes
  TMMWave copy;
  copy.Assign(&wave);
  EXPECT_EQ(copy.FileName(), name);
  EXPECT_EQ(copy.TimeFormat(), TMMTimeFormats::tfMillisecond);
  wave.CloseWaveFile();
  wave.SetFileName("");
  EXPECT_EQ(wave.IORecord(), nullptr);
}

// The child of the kill test: records until told nothing more, reporting each buffer.
TEST(WaveFileKill, Child) {
  const char* name = std::getenv("PMX_KILL_CHILD_FILE");
  if (!name) GTEST_SKIP() << "run by WaveFile.KilledRecordingIsReadable";
  Recorder rec(WaveFormatEx::Pcm(8000, 16, 1), name);
  rec.Open();
  for (int i = 0; i < 45; ++i) {
    std::vector<uint8_t> buffer = Ramp(1600, i * 1600);
    rec.Push(buffer);
    const char done = 1;
    ASSERT_EQ(write(3, &done, 1), 1);
  }
  char never = 0;
  (void)!read(0, &never, 1);  // the parent kills it here
}

TEST(WaveFile, KilledRecordingIsReadableUpToTheLastSizeUpdate) {
  test::TempDir dir;
  const std::string name = dir / "killed.wav";
  int report[2], hold[2];
  ASSERT_EQ(pipe(report), 0);
  ASSERT_EQ(pipe(hold), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, report[1], 3);
  posix_spawn_file_actions_adddup2(&actions, hold[0], 0);
  const std::string env = "PMX_KILL_CHILD_FILE=" + name;
  std::vector<char*> envp = {const_cast<char*>(env.c_str())};
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  envp.push_back(nullptr);
  std::string self = std::filesystem::read_symlink("/proc/self/exe");
  std::string filter = "--gtest_filter=WaveFileKill.Child";
  char* argv[] = {self.data(), filter.data(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(report[1]);
  close(hold[0]);
  int buffers = 0;
  while (buffers < 45) {
    pollfd p{report[0], POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 20000), 1);
    char c;
    ASSERT_EQ(read(report[0], &c, 1), 1);
    ++buffers;
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  close(report[0]);
  close(hold[1]);
  EXPECT_TRUE(WIFSIGNALED(status));

  const std::string raw = dir / "killed.raw";
  ASSERT_TRUE(test::RunProgram({"sox", "-q", name, "-t", "raw", raw}));
  const std::vector<uint8_t> read = FileBytes(raw);
  const std::size_t written = 45 * 1600;
  // 2 s of 8000 Hz 16-bit mono: sizes go to disk at least every 32000 bytes.
  EXPECT_GE(read.size(), written - 32000);
  EXPECT_LE(read.size(), written);
  EXPECT_EQ(read, Ramp(read.size()));
}

}  // namespace
}  // namespace pmx
