#include "recorder/doku_form.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include "platform/qt/qt_main_loop.h"
#include "recorder/event_log.h"
#include "recorder/instance_listener.h"
#include "recorder/instance_start.h"
#include "recorder/preferences_file.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx::test {
namespace {

// A main window whose recording chain only notes what it is asked to do.
class ProbeForm : public TDokuForm {
 public:
  ProbeForm(std::vector<std::string>& log, std::string name, std::string argument)
      : TDokuForm(std::move(name), std::move(argument)), log_(log) {}

  int format_refusals = 0;
  bool registry = false;

 protected:
  void StartRecording() override { log_.push_back("record"); }
  void StopRecording() override { log_.push_back("stop"); }
  void StartMonitor() override { log_.push_back("monitor"); }
  void AssignDevices(uint8_t in, uint8_t out) override {
    log_.push_back("devices " + std::to_string(in) + " " + std::to_string(out));
  }
  bool CodecRegistryPresent() const override { return registry; }
  bool ChooseRecordingFormat() override {
    log_.push_back("format");
    return format_refusals-- <= 0;
  }

 private:
  std::vector<std::string>& log_;
};

class MainWindowTest : public RecorderTest {
 protected:
  void SaveSettings(int save_mode, int record_format, int compressed_days) {
    LoadOptions(settings_);
    messages_.clear();
    TRecorderOptions record = RecorderOptions;
    record.SaveMode = save_mode;
    record.RecordFormat = static_cast<uint16_t>(record_format);
    record.CompressedDays = static_cast<uint16_t>(compressed_days);
    record.InDevice = 2;
    record.OutDevice = 1;
    ASSERT_TRUE(SaveOptions(settings_, record));
    ResetOptions();
  }

  QtMainLoop loop_;
  std::vector<std::string> log_;
};

TEST_F(MainWindowTest, StartUpRunsInOrderAndRecordsWhenAsked) {
  SaveSettings(6, 0, 1);
  ASSERT_TRUE(WritePreferences({700, 450, 30, 40}));
  ProbeForm form(log_, "Studio", "-recordstart");
  form.show();
  EXPECT_EQ(log_, (std::vector<std::string>{"devices 2 1", "monitor", "record"}));
  EXPECT_EQ(form.windowTitle(), "Pelmorax Studio");
  EXPECT_TRUE(form.StatusTimer->Enabled());
  EXPECT_TRUE(form.LogoTimer.isActive());
  EXPECT_EQ(form.geometry(), QRect(40, 30, 700, 450));
  // The designer is there, and idle: the restored height stands, no events go through it.
  EXPECT_EQ(form.MMDesigner1.Owner(), static_cast<TComponent*>(&form));
  EXPECT_EQ(form.MMDesigner1.RuntimeHeight(), -1);
  EXPECT_FALSE(form.MMDesigner1.Hooked());
  EXPECT_FALSE(form.Slider->isEnabled());
  EXPECT_TRUE(form.pnlWarning->isVisible());
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(form.Recording());
  EXPECT_EQ(form.RecorderState.GapCountdown, 3);
  // The control tick now runs every 500 ms on this thread.
  EXPECT_TRUE(loop_.PumpUntil([&] { return form.Label1->text() != "Last peak: 0"; },
                              std::chrono::seconds(5)));
  EXPECT_EQ(form.RecorderState.GapCountdown, 2);
  form.close();
}

TEST_F(MainWindowTest, CodecFormatIsAskedForUntilAcceptedOnlyWithARegistry) {
  SaveSettings(5, 1, 7);
  {
    ProbeForm form(log_, "", "");
    form.registry = true;
    form.format_refusals = 2;
    form.show();
    EXPECT_FALSE(form.pnlWarning->isVisible());
  }
  EXPECT_EQ(log_, (std::vector<std::string>{"format", "format", "format", "devices 2 1"}));
  log_.clear();
  {
    ProbeForm without(log_, "", "");
    without.show();
    EXPECT_EQ(log_, (std::vector<std::string>{"devices 2 1"}));
  }

  log_.clear();
  ProbeForm unattended(log_, "", "");
  unattended.registry = true;
  unattended.SetHeadless(true);
  unattended.Start();
  EXPECT_EQ(log_, (std::vector<std::string>{"devices 2 1"})) << "nobody there to answer";
  EXPECT_NE(ReadFile(MonthlyLogFile(RecorderClock::Now())).find("the stored format is used"), std::string::npos);
  EXPECT_FALSE(unattended.isVisible()) << "nobody could see it";
  // Closed (-CLOSE, a service stop), the window that was never shown still ends the
  // program. (No window is visible here: the quit would close it, and its close would
  // quit again, in whatever loop runs next.)
  QTimer fallback;
  QObject::connect(&fallback, &QTimer::timeout, [] { QApplication::exit(1); });
  fallback.start(10000);
  QTimer::singleShot(0, &unattended, [&unattended] { unattended.close(); });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_EQ(log_.back(), "stop");
}

TEST_F(MainWindowTest, CloseStopsTheRecordingAndKeepsTheGeometryOfAMaximisedWindow) {
  SaveSettings(5, 0, 7);
  QSize maximised;
  {
    ProbeForm form(log_, "", "");
    form.showMaximized();
    ASSERT_TRUE(loop_.PumpUntil([&] { return form.width() > 640; }, std::chrono::seconds(5)));
    maximised = form.size();
    form.close();
    EXPECT_FALSE(form.StatusTimer->Enabled());
  }
  EXPECT_EQ(log_.back(), "stop");
  const std::optional<TWindowGeometry> saved = ReadPreferences();
  ASSERT_TRUE(saved);
  EXPECT_EQ(QSize(saved->Width, saved->Height), maximised);

  ProbeForm again(log_, "", "");
  again.show();
  EXPECT_FALSE(again.isMaximized());
  EXPECT_EQ(again.size(), maximised);
}

TEST_F(MainWindowTest, RestartsKeepTheSavedGeometryAndTheDesignedSize) {
  SaveSettings(5, 0, 7);
  ASSERT_TRUE(WritePreferences({700, 450, 30, 40}));
  for (int start = 0; start < 2; ++start) {
    ProbeForm form(log_, "", "");
    form.show();
    form.close();
    const std::optional<TWindowGeometry> saved = ReadPreferences();
    ASSERT_TRUE(saved);
    EXPECT_EQ(QRect(saved->Left, saved->Top, saved->Width, saved->Height), QRect(40, 30, 700, 450))
        << "start " << start;
  }
  ASSERT_TRUE(WritePreferences({200, 100, 30, 40}));
  ProbeForm shrunk(log_, "", "");
  shrunk.show();
  EXPECT_EQ(shrunk.size(), QSize(640, 430)) << "Record, Stop, Options and Exit stay on screen";
}

TEST_F(MainWindowTest, RemoteCloseSkipsTheQuestionStopsTheRecordingAndSavesTheGeometry) {
  SaveSettings(5, 0, 7);
  ProbeForm form(log_, "", "");
  TInstanceListener listener(form, Home("bus").string());
  form.SetInstanceListener(&listener);
  form.show();
  form.resize(660, 470);
  listener.ExecuteRemoteCommand(rcClose);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(log_.back(), "stop");
  const std::optional<TWindowGeometry> saved = ReadPreferences();
  ASSERT_TRUE(saved);
  EXPECT_EQ(QSize(saved->Width, saved->Height), QSize(660, 470));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, PreferencesNeedFourNumbers) {
  std::ofstream(Home("preferences.ini")) << "640\r\n430\r\nx\r\n5\r\n";
  EXPECT_FALSE(ReadPreferences());
  std::ofstream(Home("preferences.ini")) << "640\n430\n12\n";
  EXPECT_FALSE(ReadPreferences());
  std::ofstream(Home("preferences.ini")) << " 800\n600\n-4\n7\n";
  EXPECT_EQ(ReadPreferences(), (TWindowGeometry{800, 600, -4, 7}));
}

}  // namespace
}  // namespace pmx::test
