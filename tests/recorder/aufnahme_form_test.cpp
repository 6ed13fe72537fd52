#include "recorder/aufnahme_form.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <optional>

#include "platform/qt/qt_main_loop.h"
#include "platform/unique_fd.h"
#include "recorder/doku_form.h"
#include "recorder/radio_group.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx::test {
namespace {

class RecordingsListTest : public RecorderTest {
 protected:
  RecordingsListTest() {
    std::filesystem::create_directories(folder_);
    RecorderOptions.RecordingFolder = folder_.string();
  }

  std::string MakeFile(const std::string& name, RecorderClock::TimePoint modified) {
    const std::filesystem::path path = folder_ / name;
    WriteFile(path, "audio");
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch());
    const timespec t{static_cast<time_t>(ns.count() / 1000000000), 0};
    const timespec times[2] = {t, t};
    EXPECT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
    return path.string();
  }

  // A form shown in March 2026 whose folder holds recordings of several months.
  void ShowMarch() {
    march_wav_ = MakeFile("20260307090503.wav", LocalTimePoint(2026, 3, 7, 10, 0, 0));
    take_ = MakeFile("take1.WAV", LocalTimePoint(2026, 3, 20, 8, 1, 2));
    older_ = MakeFile("20250301120000.ogg", LocalTimePoint(2025, 3, 1, 13, 0, 0));
    MakeFile("20260401000000.mp3", LocalTimePoint(2026, 4, 1, 1, 0, 0));
    MakeFile("notes.txt", LocalTimePoint(2026, 3, 2, 0, 0, 0));
    std::filesystem::create_directory(folder_ / "20260305000000.wav");
    clock_.emplace([] { return LocalTimePoint(2026, 3, 31, 23, 0, 0); });
    form_.FormShow();
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (int row = 0; row < form_.ListBox->count(); ++row) {
      lines.push_back(form_.ListBox->item(row)->text().toStdString());
    }
    return lines;
  }

  void Select(const std::string& path) {
    for (int row = 0; row < form_.ListBox->count(); ++row) {
      if (form_.ListBox->item(row)->text().toStdString().ends_with(" " + path)) {
        form_.ListBox->setCurrentRow(row);
        return;
      }
    }
    ADD_FAILURE() << path << " is not listed";
  }

  // Holds the lock the recorder holds on the file it writes.
  static UniqueFd LockAsRecorder(const std::string& path) {
    UniqueFd fd(open(path.c_str(), O_RDWR | O_CLOEXEC));
    EXPECT_TRUE(fd);
    EXPECT_EQ(flock(fd.get(), LOCK_EX | LOCK_NB), 0);
    return fd;
  }

  // A folder named like a kind of file other than the recordings it holds.
  std::filesystem::path folder_ = Home("MP3");
  std::optional<ScopedRecorderClock> clock_;
  TPlaybackChoice playback_{"earlier.wav", 2};
  TAufnahmeForm form_{RecorderOptions, playback_};
  std::string march_wav_, take_, older_;
};

TEST_F(RecordingsListTest, DisplayNamesFromTheRecordingNameTheFileTimeOrTheName) {
  // The name decides even for a file that no longer exists.
  EXPECT_EQ(RecordingDisplayName((folder_ / "20260307090503.wav").string()), "26/03/07 09:05:03");
  EXPECT_EQ(RecordingDisplayName(MakeFile("take1.wav", LocalTimePoint(2026, 1, 2, 3, 4, 5))),
            "26/01/02 03:04:05");
  EXPECT_EQ(RecordingDisplayName((folder_ / "gone.mp3").string()), "gone.mp3");
  EXPECT_EQ(RecordingDisplayName((folder_ / "2026030709050.wav").string()), "2026030709050.wav");
}

TEST_F(RecordingsListTest, TheMonthListsItsRecordingsOfEveryYearInTimeOrder) {
  ShowMarch();
  EXPECT_EQ(form_.SelektionRadioGroup->ItemIndex(), 2);
  const std::vector<std::string> march{"25/03/01 12:00:00 " + older_,
                                       "26/03/07 09:05:03 " + march_wav_,
                                       "26/03/20 08:01:02 " + take_};
  EXPECT_EQ(Lines(), march);
  const QFontMetrics metrics = form_.ListBox->fontMetrics();
  for (const std::string& line : march) {
    EXPECT_LE(metrics.horizontalAdvance(QString::fromStdString(line)) + 2 * form_.ListBox->frameWidth(),
              form_.ListBox->width())
        << "shown whole: " << line;
  }
  ASSERT_EQ(RecordingEntries(folder_.string() + "/", 3).size(), 3u);
  EXPECT_EQ(RecordingEntries(folder_.string() + "/", 3)[0].path, older_);

  form_.SelektionRadioGroup->Item(3)->click();
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_TRUE(Lines()[0].starts_with("26/04/01 00:00:00 "));
  form_.SelektionRadioGroup->Item(4)->click();
  EXPECT_TRUE(Lines().empty());
}

TEST_F(RecordingsListTest, OkHandsTheChosenFileToThePlayerByItsKind) {
  ShowMarch();
  int stops = 0;
  std::vector<std::pair<std::string, int>> loaded;
  form_.OnStopPlayback = [&] { ++stops; };
  form_.OnLoadPlaybackFile = [&] {
    loaded.emplace_back(playback_.PlaybackFile, playback_.PlaybackKind);
  };

  form_.OKBitBtnClick();  // nothing selected
  EXPECT_EQ(stops, 0);

  Select(march_wav_);
  form_.OKBitBtnClick();
  EXPECT_EQ(stops, 1);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0], std::pair(march_wav_, 1));  // a WAV file, though in a folder "MP3"
  EXPECT_EQ(form_.ListBox->count(), 0);            // closing clears the list

  form_.FormShow();
  Select(older_);
  emit form_.ListBox->itemDoubleClicked(form_.ListBox->currentItem());
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[1], std::pair(older_, 2));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(RecordingsListTest, AFileInUseIsNeitherPlayedNorDeleted) {
  ShowMarch();
  bool loaded = false;
  form_.OnLoadPlaybackFile = [&] { loaded = true; };
  const UniqueFd recorder = LockAsRecorder(take_);
  Select(take_);
  form_.OKBitBtnClick();
  EXPECT_FALSE(loaded);
  EXPECT_EQ(playback_.PlaybackFile, "earlier.wav");
  EXPECT_EQ(form_.ListBox->count(), 3);  // the window stays open

  form_.DeleteBitBtnClick();
  EXPECT_TRUE(std::filesystem::exists(take_));
  EXPECT_EQ(messages_, (std::vector<std::string>{"Error opening " + take_ + ". File in use?",
                                                 "Error deleting " + take_ + "."}));
  EXPECT_EQ(form_.ListBox->count(), 3);
}

TEST_F(RecordingsListTest, DeleteErasesOnlyTheSelectedRecording) {
  ShowMarch();
  EXPECT_TRUE(form_.DeleteBitBtn->isVisibleTo(&form_));
  form_.DeleteBitBtnClick();  // nothing selected
  EXPECT_EQ(playback_.PlaybackFile, "earlier.wav");

  Select(march_wav_);
  form_.DeleteBitBtnClick();
  EXPECT_FALSE(std::filesystem::exists(march_wav_));
  EXPECT_TRUE(std::filesystem::exists(take_));
  EXPECT_TRUE(std::filesystem::exists(older_));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 5);
  EXPECT_EQ(Lines().size(), 2u);
  EXPECT_TRUE(playback_.PlaybackFile.empty());
  EXPECT_EQ(form_.ListBox->currentRow(), -1);
  form_.DeleteBitBtnClick();  // the refilled list has no selection
  EXPECT_EQ(Lines().size(), 2u);

  chmod(take_.c_str(), 0444);
  Select(take_);
  form_.DeleteBitBtnClick();
  EXPECT_TRUE(std::filesystem::exists(take_));
  EXPECT_EQ(messages_, std::vector<std::string>{"Error deleting " + take_ + "."});

  RecorderOptions.HideDelete = true;
  form_.FormShow();
  EXPECT_FALSE(form_.DeleteBitBtn->isVisibleTo(&form_));
}

TEST_F(RecordingsListTest, TheMainWindowOpensTheListFromItsButtonAndItsMenu) {
  QtMainLoop loop;
  TDokuForm main_window("test", "");
  main_window.show();  // the menus come with the window
  main_window.Settings.RecorderOptions = RecorderOptions;
  TAufnahmeForm recordings(main_window.Settings.RecorderOptions, main_window.Playback, &main_window);
  int built = 0;  // the list is wanted on the first click, not before, and once
  main_window.SetAufnahmeForm([&] { return ++built, &recordings; });
  MakeFile("20260307090503.wav", LocalTimePoint(2026, 3, 7, 10, 0, 0));
  clock_.emplace([] { return LocalTimePoint(2026, 3, 9, 0, 0, 0); });
  std::vector<int> listed;
  const auto close_when_shown = [&] {
    QTimer::singleShot(0, &recordings, [&] {
      listed.push_back(recordings.isVisible() ? recordings.ListBox->count() : -1);
      recordings.CloseBitBtn->click();
    });
  };
  close_when_shown();
  EXPECT_EQ(built, 0);
  main_window.OeffnenBitBtn->click();
  QAction* select_file = main_window.menuBar()->actions().front()->menu()->actions().front();
  EXPECT_EQ(select_file->text().toStdString(), "Select File");
  close_when_shown();
  select_file->trigger();
  EXPECT_EQ(listed, (std::vector<int>{1, 1}));
  EXPECT_EQ(built, 1);
  EXPECT_EQ(recordings.ListBox->count(), 0);
}

}  // namespace
}  // namespace pmx::test
