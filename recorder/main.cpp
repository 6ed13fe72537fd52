#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <string>

#include "platform/qt/qt_main_loop.h"
#include "platform/ui_hook.h"
#include "recorder/doku_form.h"
#include "recorder/frm_exit.h"
#include "recorder/logo_form.h"
#include "recorder/para_form.h"

namespace {

// The recorder's name among its instances: empty when the first argument is one
// of the recording commands.
std::string InstanceName(const std::string& first_argument) {
  const QString upper = QString::fromStdString(first_argument).toUpper();
  for (const char* command : {"-RECORDSTOP", "-RECORDSTART", "-RECORDPAUSE", "-RECORDRESTART"}) {
    if (upper == command) return {};
  }
  return first_argument;
}

}  // namespace

int main(int argc, char** argv) {
  // Without a display the recorder still runs, on Qt's offscreen platform.
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
      !std::getenv("WAYLAND_DISPLAY")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Pelmorax");
  pmx::QtMainLoop loop;
  pmx::SetMessageBoxHook([](const std::string& text, const std::string& caption) {
    QMessageBox::information(QApplication::activeWindow(), QString::fromStdString(caption),
                             QString::fromStdString(text));
  });
  const std::string first_argument = argc > 1 ? argv[1] : "";
  pmx::TDokuForm main_window(InstanceName(first_argument), first_argument);
  pmx::TParaForm options(&main_window);
  pmx::TLogoForm logo;
  pmx::TfrmExit exit_dialog(&main_window);
  options.SetMainForm(&main_window);
  main_window.SetParaForm(&options);
  main_window.SetLogoForm(&logo);
  main_window.SetExitForm(&exit_dialog);
  main_window.show();
  const int result = QApplication::exec();
  pmx::SetMessageBoxHook({});
  return result;
}
