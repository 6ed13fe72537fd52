#include "recorder/device_choice.h"

#include "platform/alsa/fake_wave_driver.h"
#include "recorder/event_log.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx::test {
namespace {

TEST_F(RecorderTest, AStoredDeviceThatIsGoneFallsBackToDefaultWithALogLine) {
  FakeWaveDriver driver;
  ScopedWaveDriver installed(driver);
  driver.SetDevices(WaveDirection::kInput, {{"default"}, {"Card"}});
  driver.SetDevices(WaveDirection::kOutput, {{"default"}});
  EXPECT_EQ(UsableDevice(WaveDirection::kInput, 1), 1);
  EXPECT_FALSE(std::filesystem::exists(MonthlyLogFile(RecorderClock::Now())));

  EXPECT_EQ(UsableDevice(WaveDirection::kInput, 2), 0);
  EXPECT_EQ(UsableDevice(WaveDirection::kOutput, 255), 0);
  const std::vector<std::string> lines = CrLfLines(ReadFile(MonthlyLogFile(RecorderClock::Now())));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].ends_with("Recording device 2 does not exist; using \"default\"")) << lines[0];
  EXPECT_TRUE(lines[1].ends_with("Playback device 255 does not exist; using \"default\"")) << lines[1];
}

}  // namespace
}  // namespace pmx::test
