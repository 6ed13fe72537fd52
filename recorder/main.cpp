#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/core/dsp/acm_support.h"
#include "audio/core/ui/acm_format_dialog.h"
#include "platform/alsa/alsa_wave_driver.h"
#include "platform/ipc/instance_bus.h"
#include "platform/qt/qt_main_loop.h"
#include "platform/qt/qt_stop_signals.h"
#include "recorder/application_reports.h"
#include "recorder/aufnahme_form.h"
#include "recorder/doku_form.h"
#include "recorder/frm_exit.h"
#include "recorder/instance_listener.h"
#include "recorder/instance_start.h"
#include "recorder/logo_form.h"
#include "recorder/para_form.h"

namespace {

// The codec registry is bound before the first component exists and released
// after the last one has gone.
struct CodecRegistryBinding {
  CodecRegistryBinding() {
    pmx::LoadACM();
    pmx::InstallACMFormatDialog();
  }
  ~CodecRegistryBinding() { pmx::UnloadACM(); }
  CodecRegistryBinding(const CodecRegistryBinding&) = delete;
  CodecRegistryBinding& operator=(const CodecRegistryBinding&) = delete;
};

// Without a display the recorder still runs, on Qt's offscreen platform, and
// nothing it says waits for a click.
bool ChooseHeadless() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return true;
  }
  return platform && std::string(platform) == "offscreen";
}

// Nobody ever sees a headless recorder's level bars: its capture wakes every
// quarter second instead of for every buffer, from a device buffer with room for
// four of those waits.
pmx::AlsaWaveDriver::Options HeadlessCapture() {
  pmx::AlsaWaveDriver::Options options;
  options.capture_buffer_ms = 1000;
  options.capture_wake_ms = 250;
  return options;
}

// The recorder itself; what raises before its event loop runs ends it with a report.
int RunRecorder(int argc, char** argv, bool headless) {
  // First in, last out: every device of the recorder is closed before it goes.
  std::optional<pmx::AlsaWaveDriver> unwatched_driver;
  std::optional<pmx::ScopedWaveDriver> unwatched;
  if (headless) unwatched.emplace(unwatched_driver.emplace(HeadlessCapture()));
  pmx::TRecorderApplication app(argc, argv);
  QApplication::setApplicationName("Pelmorax");
  pmx::QtMainLoop loop;
  pmx::TApplicationReports reports(headless);
  pmx::TStartDecision start;
  {
    pmx::InstanceBus bus;
    start = pmx::MainSequence(std::vector<std::string>(argv + 1, argv + argc), bus);
  }
  if (!start.become_recorder) return start.exit_code;
  const CodecRegistryBinding codecs;
  pmx::TDokuForm main_window(start.instance_name, start.recording_option);
  // The other forms are built when first wanted and go before the main window.
  std::unique_ptr<pmx::TParaForm> options;
  std::unique_ptr<pmx::TAufnahmeForm> recordings;
  std::unique_ptr<pmx::TLogoForm> logo;
  std::unique_ptr<pmx::TfrmExit> exit_dialog;
  main_window.SetParaForm([&] {
    options = std::make_unique<pmx::TParaForm>(main_window.Settings, &main_window);
    options->SetMainForm(&main_window);
    return options.get();
  });
  main_window.SetAufnahmeForm([&] {
    recordings = std::make_unique<pmx::TAufnahmeForm>(main_window.Settings.RecorderOptions,
                                                      main_window.Playback, &main_window);
    return recordings.get();
  });
  main_window.SetLogoForm([&] { return (logo = std::make_unique<pmx::TLogoForm>()).get(); });
  main_window.SetExitForm([&] { return (exit_dialog = std::make_unique<pmx::TfrmExit>(&main_window)).get(); });
  main_window.SetHeadless(headless);
  reports.SetBoxParent(&main_window);
  // Destroyed first: no command reaches the window once the loop has ended.
  pmx::TInstanceListener listener(main_window);
  listener.Listen(start.instance_name);
  main_window.SetInstanceListener(&listener);
  const pmx::QtStopSignals stop_signals(
      [&listener](int signal) { listener.CloseOnStopSignal(signal); });
  pmx::SetDisplayLossClose([&listener] { listener.CloseOnDisplayLoss(); });
  // Start-up runs inside the event loop, where its errors are reported like any
  // handler's and its waits let no other request run nested.
  QTimer::singleShot(0, &main_window, [&main_window] { main_window.Start(); });
  const int result = QApplication::exec();
  pmx::SetDisplayLossClose({});
  main_window.SetInstanceListener(nullptr);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  // Under a file size limit a write fails, is reported and ends only that file;
  // the signal's default would end the recorder.
  std::signal(SIGXFSZ, SIG_IGN);
  // Everything logged goes to stderr too: a reader of it that went away (a pipe
  // closed) is seen at the write, and must not end the recording.
  std::signal(SIGPIPE, SIG_IGN);
  const bool headless = ChooseHeadless();
  pmx::QuietQtNotices();
  int exit_code = 1;
  try {
    exit_code = RunRecorder(argc, argv, headless);
  } catch (...) {
    pmx::ReportApplicationError(std::current_exception());
  }
  // Everything is written, closed and handed on by now.
  pmx::EndProcess(exit_code);
}
