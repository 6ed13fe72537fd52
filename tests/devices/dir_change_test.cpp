#include "devices/dir_change.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/main_loop.h"
#include "tests/support/temp_dir.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
namespace fs = std::filesystem;

void Touch(const fs::path& path, const std::string& text = "x") { std::ofstream(path, std::ios::app) << text; }

// Makes a file appear at once, complete, so that one comparison sees it whole.
void Create(const fs::path& path) {
  const fs::path hidden = path.parent_path() / ("." + path.filename().string());
  Touch(hidden);
  fs::rename(hidden, path);
}

// A watch on a temp folder that records its events as "Event:name".
class DirChangeTest : public ::testing::Test {
 protected:
  DirChangeTest() {
    Pair(watch_.OnChangeAttributes, "Attributes");
    Pair(watch_.OnChangeCreationTime, "Creation");
    Pair(watch_.OnChangeAccessTime, "Access");
    Pair(watch_.OnChangeWriteTime, "WriteTime");
    Pair(watch_.OnChangeSize, "Size");
    Pair(watch_.OnAnyChange, "Any");
    Single(watch_.OnChangeDeleted, "Deleted");
    Single(watch_.OnChangeNew, "New");
    Single(watch_.OnChangeRenamed, "Renamed");
    watch_.SetDirectory(dir_.path().string());
  }

  void Pair(TDirCh& event, const std::string& name) {
    event = [this, name](TObject*, const TFindData& item1, const TFindData& item2) {
      events_.push_back(name + ":" + item1.FileName);
      if (name == "Any") any_second_.push_back(item2.FileName);
    };
  }
  void Single(TDirCh1& event, const std::string& name) {
    event = [this, name](TObject*, const TFindData& item) { events_.push_back(name + ":" + item.FileName); };
  }

  bool WaitForEvents(std::size_t count) {
    return MainLoop::Instance().PumpUntil([&] { return events_.size() >= count; }, 5s);
  }

  test::TempDir dir_;
  TDirChange watch_;
  std::vector<std::string> events_;
  std::vector<std::string> any_second_;
};

TEST_F(DirChangeTest, RenameIsReportedAsRenamedWithoutDeleted) {
  Touch(dir_ / "a.wav");
  watch_.SetActive(true);
  ASSERT_TRUE(watch_.Active());
  EXPECT_EQ(watch_.Directory(), dir_.path().string() + "/");
  fs::rename(dir_ / "a.wav", dir_ / "b.wav");
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_THAT(events_, ElementsAre("Any:a.wav", "Renamed:b.wav", "Any:b.wav"));
  // The other side of a vanished or new entry is an empty record.
  EXPECT_THAT(any_second_, ElementsAre("", ""));
}

TEST_F(DirChangeTest, NewAndDeletedEntries) {
  Touch(dir_ / "old.wav");
  watch_.SetActive(true);
  Create(dir_ / "new.wav");
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_THAT(events_, ElementsAre("New:new.wav", "Any:new.wav"));
  events_.clear();
  fs::remove(dir_ / "old.wav");
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_THAT(events_, ElementsAre("Deleted:old.wav", "Any:old.wav"));
}

TEST_F(DirChangeTest, AppendingChangesWriteTimeAndSize) {
  Touch(dir_ / "a.wav");
  // An old write time, so that the append surely moves it.
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir_ / "a.wav").c_str(), times, 0), 0);
  watch_.SetActive(true);
  Touch(dir_ / "a.wav", "more");
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_THAT(events_, ElementsAre("WriteTime:a.wav", "Size:a.wav", "Any:a.wav"));
}

TEST_F(DirChangeTest, AttributeChangeIsReported) {
  Touch(dir_ / "a.wav");
  watch_.SetActive(true);
  fs::permissions(dir_ / "a.wav", fs::perms::owner_write, fs::perm_options::remove);
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_THAT(events_, ElementsAre("Attributes:a.wav", "Any:a.wav"));
}

TEST_F(DirChangeTest, DotEntriesAreNeverReported) {
  watch_.SetActive(true);
  Touch(dir_ / ".hidden");
  Create(dir_ / "seen");
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_THAT(events_, ElementsAre("New:seen", "Any:seen"));
}

TEST_F(DirChangeTest, MissingFolderStaysInactive) {
  watch_.SetDirectory((dir_ / "missing").string());
  watch_.SetActive(true);
  EXPECT_FALSE(watch_.Active());
}

TEST_F(DirChangeTest, DeletedFolderEndsTheWatchAfterALastComparison) {
  const fs::path folder = dir_ / "sub";
  fs::create_directory(folder);
  Touch(folder / "a.wav");
  watch_.SetDirectory(folder.string());
  watch_.SetActive(true);
  ASSERT_TRUE(watch_.Active());
  fs::remove_all(folder);
  ASSERT_TRUE(MainLoop::Instance().PumpUntil([&] { return !watch_.Active(); }, 5s));
  EXPECT_THAT(events_, ElementsAre("Deleted:a.wav", "Any:a.wav"));
  // It can watch again once the folder is back.
  fs::create_directory(folder);
  watch_.SetActive(true);
  EXPECT_TRUE(watch_.Active());
}

TEST_F(DirChangeTest, NewDirectoryReplacesTheOldWatch) {
  const fs::path other = dir_ / "other";
  fs::create_directory(other);
  watch_.SetActive(true);
  watch_.SetDirectory(other.string());
  ASSERT_TRUE(watch_.Active());
  Create(dir_ / "old-folder.wav");
  Create(other / "new-folder.wav");
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_THAT(events_, ElementsAre("New:new-folder.wav", "Any:new-folder.wav"));
  watch_.SetActive(false);
  EXPECT_FALSE(watch_.Active());
}

}  // namespace
}  // namespace pmx
