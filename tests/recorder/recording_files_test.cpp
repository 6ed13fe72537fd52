#include "recorder/recording_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/unique_fd.h"
#include "recorder/event_log.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx {
namespace {

using test::LocalTimePoint;

class RecordingFilesTest : public test::RecorderTest {
 protected:
  RecordingFilesTest() {
    std::filesystem::create_directory(folder_);
    RecorderOptions.RecordingFolder = folder_.string();
  }

  // A file in the recording folder modified at the given time.
  std::filesystem::path MakeFile(const std::string& name, RecorderClock::TimePoint modified) {
    const std::filesystem::path path = folder_ / name;
    test::WriteFile(path, "data");
    SetTime(path, modified);
    return path;
  }

  static void SetTime(const std::filesystem::path& path, RecorderClock::TimePoint modified) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch());
    const timespec t{static_cast<time_t>(ns.count() / 1000000000), static_cast<long>(ns.count() % 1000000000)};
    const timespec times[2] = {t, t};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
  }

  std::filesystem::path folder_ = Home("rec");
};

TEST_F(RecordingFilesTest, SweepDeletesOnlyExpiredRecordingsOfTheAskedKinds) {
  // The sweep of the tick at 00:00 on 20 January.
  ScopedRecorderClock clock([] { return LocalTimePoint(2026, 1, 20, 0, 0, 0, 200); });
  RecorderOptions.CompressedDays = 7;
  RecorderOptions.WavDays = 0;
  const auto eight_days_ago = LocalTimePoint(2026, 1, 12, 9, 0, 0);
  MakeFile("a.ogg", eight_days_ago);
  MakeFile("b.ogg", LocalTimePoint(2026, 1, 13, 14, 0, 0));  // counts as of the 14th
  MakeFile("c.OGG", eight_days_ago);
  MakeFile("d.Mp3", eight_days_ago);
  MakeFile("e.wav", LocalTimePoint(2020, 1, 1, 0, 0, 0));
  MakeFile("f.txt", eight_days_ago);
  MakeFile("g.ogg.part", eight_days_ago);
  const auto read_only = MakeFile("h.mp3", eight_days_ago);
  std::filesystem::permissions(read_only, std::filesystem::perms::owner_read);
  // A link into another folder: neither it nor its old target goes.
  const auto outside = Home("outside.ogg");
  test::WriteFile(outside, "keep");
  SetTime(outside, eight_days_ago);
  std::filesystem::create_symlink(outside, folder_ / "i.ogg");
  SetTime(folder_ / "i.ogg", eight_days_ago);
  std::filesystem::create_directory(folder_ / "j.ogg");
  SetTime(folder_ / "j.ogg", eight_days_ago);

  DeleteExpiredRecordings(RecorderOptions);

  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    left.push_back(entry.path().filename());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"b.ogg", "e.wav", "f.txt", "g.ogg.part", "h.mp3", "i.ogg",
                                            "j.ogg"}));
  EXPECT_TRUE(std::filesystem::exists(outside));

  const std::string log = test::ReadFile(Home("Month-01-log.txt"));
  for (const char* name : {"a.ogg", "c.OGG", "d.Mp3"}) {
    EXPECT_NE(log.find(" Deleted " + (folder_ / name).string() + "\r\n"), std::string::npos) << log;
  }
  EXPECT_EQ(test::CrLfLines(log).size(), 3u);
  EXPECT_FALSE(std::filesystem::exists(Home("alarm.txt"))) << "deletions are no alarm events";
}

TEST_F(RecordingFilesTest, SweepKeepsWavFilesForWavDays) {
  // The afternoon sweep still counts as of its own day.
  ScopedRecorderClock clock([] { return LocalTimePoint(2026, 1, 20, 16, 0, 0, 400); });
  RecorderOptions.WavDays = 2;
  RecorderOptions.CompressedDays = 2000;
  MakeFile("old.WAV", LocalTimePoint(2026, 1, 17, 11, 59, 0));  // the 17th
  MakeFile("new.wav", LocalTimePoint(2026, 1, 17, 12, 1, 0));   // rounds to the 18th
  MakeFile("kept.mp3", LocalTimePoint(2024, 1, 1, 0, 0, 0));
  DeleteExpiredRecordings(RecorderOptions);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "old.WAV"));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "new.wav"));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "kept.mp3"));
}

TEST_F(RecordingFilesTest, NewNameIsTheStartTimeAndNeverAnExistingRecording) {
  ScopedRecorderClock clock([] { return LocalTimePoint(2026, 3, 7, 9, 5, 3, 900); });
  const std::string first = (folder_ / "20260307090503.wav").string();
  EXPECT_EQ(NewRecordingFileName(RecorderOptions.RecordingFolder), first);

  test::WriteFile(first, "");
  EXPECT_EQ(NewRecordingFileName(RecorderOptions.RecordingFolder),
            (folder_ / "20260307090504.wav").string());
  // The encoder already made the compressed file of the next second (the WAV is gone).
  test::WriteFile(folder_ / "20260307090504.ogg", "");
  EXPECT_EQ(NewRecordingFileName(RecorderOptions.RecordingFolder),
            (folder_ / "20260307090505.wav").string());

  RecorderOptions.RecordingFolder = Home("missing").string();
  EXPECT_EQ(NewRecordingFileName(RecorderOptions.RecordingFolder), "");
  RecorderOptions.RecordingFolder = first;  // a file, no folder
  EXPECT_EQ(NewRecordingFileName(RecorderOptions.RecordingFolder), "");
}

TEST_F(RecordingFilesTest, FileInUseWhileAnotherDescriptorHoldsTheLock) {
  const std::string path = (folder_ / "rec.wav").string();
  EXPECT_TRUE(FileNotInUse(path)) << "a missing file";
  test::WriteFile(path, "data");
  EXPECT_TRUE(FileNotInUse(path));
  {
    UniqueFd recorder(open(path.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_EQ(flock(recorder.get(), LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(FileNotInUse(path));
  }
  EXPECT_TRUE(FileNotInUse(path));
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  EXPECT_TRUE(FileNotInUse(path)) << "a read-only recording can still be played";
}

TEST_F(RecordingFilesTest, EraseFileKeepsReadOnlyFiles) {
  const std::string path = (folder_ / "a.wav").string();
  test::WriteFile(path, "data");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::group_write);
  EXPECT_FALSE(EraseFile(path));
  EXPECT_TRUE(std::filesystem::exists(path));
  std::filesystem::permissions(path, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  EXPECT_TRUE(EraseFile(path));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(EraseFile(path));
}

}  // namespace
}  // namespace pmx
