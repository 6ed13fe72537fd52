#include "recorder/event_log.h"

#include <gtest/gtest.h>

#include "tests/recorder/recorder_fixture.h"

namespace pmx {
namespace {

using test::CrLfLines;
using test::LocalTimePoint;
using test::ReadFile;

using EventLogTest = test::RecorderTest;

TEST_F(EventLogTest, EventsGoToTheLogOfTheirMonthAndTheLatestToAlarmTxt) {
  RecorderClock::TimePoint now = LocalTimePoint(2026, 1, 31, 23, 59, 59, 500);
  ScopedRecorderClock clock([&now] { return now; });
  LogEvent("no signal");
  const std::string january_line = DateTimeText(now) + " no signal";
  now = LocalTimePoint(2026, 2, 1, 0, 0, 1);
  LogEvent("normal");
  LogEvent("no signal");

  EXPECT_EQ(CrLfLines(ReadFile(Home("Month-01-log.txt"))), std::vector<std::string>{january_line});
  EXPECT_EQ(CrLfLines(ReadFile(Home("Month-02-log.txt"))),
            (std::vector<std::string>{DateTimeText(now) + " normal", DateTimeText(now) + " no signal"}));
  EXPECT_EQ(CrLfLines(ReadFile(Home("alarm.txt"))), std::vector<std::string>{DateTimeText(now) + " no signal"});
  EXPECT_NE(DateTimeText(now), DateTimeText(LocalTimePoint(2026, 2, 1, 0, 0, 2)));
}

TEST_F(EventLogTest, UnopenableLogWritesNothing) {
  setenv("PELMORAX_HOME", Home("missing").c_str(), 1);
  EXPECT_NO_THROW(LogEvent("normal"));
  EXPECT_FALSE(std::filesystem::exists(Home("missing")));
}

TEST_F(EventLogTest, WriteErrorRaises) {
  ScopedRecorderClock clock([] { return LocalTimePoint(2026, 5, 2, 12, 0, 0); });
  std::filesystem::create_symlink("/dev/full", Home("Month-05-log.txt"));
  EXPECT_THROW(LogEvent("no signal"), EInOutError);
  EXPECT_FALSE(std::filesystem::exists(Home("alarm.txt")));
}

}  // namespace
}  // namespace pmx
