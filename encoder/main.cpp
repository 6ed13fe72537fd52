#include <QApplication>
#include <cstdlib>
#include <string>
#include <vector>

#include "encoder/encode_job.h"
#include "encoder/main_form.h"
#include "platform/ipc/program_folder.h"
#include "platform/ipc/spawn_detached.h"
#include "platform/qt/qt_main_loop.h"

int main(int argc, char** argv) {
  // Without a display the encoder still runs, on Qt's offscreen platform.
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication app(argc, argv);
  pmx::QtMainLoop loop;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  auto launcher = [](const std::vector<std::string>& args) {
    std::vector<std::string> argv_again{"kobrinvert"};
    argv_again.insert(argv_again.end(), args.begin(), args.end());
    // The program itself, not a copy in the settings folder $PELMORAX_HOME names.
    return pmx::SpawnDetached(pmx::ExecutableFolder() / "kobrinvert", argv_again, {}) > 0;
  };
  pmx::TVorbisEncodeJob job;
  pmx::TForm1 form(arguments, job, launcher);
  form.show();
  QApplication::exec();
  // A stalled encode may never give its worker back; the new copy starts over.
  if (form.Controller().Restarted()) std::_Exit(0);
  return form.Controller().ExitCode();
}
