#include "recorder/application_reports.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "audio/core/objects/utilities.h"
#include "platform/main_loop.h"
#include "platform/ui_hook.h"
#include "recorder/event_log.h"

// Defined only in a build with a leak checker.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

namespace pmx {
namespace {

constexpr char kTitle[] = "Pelmorax";

QtMessageHandler previous_qt_handler = nullptr;
std::function<void()> display_loss_close;  // GUI thread

// Taken once: a second loss reported from inside the close only ends the process.
[[noreturn]] void EndOnDisplayLoss() {
  // The encoders the close starts would look for the display that is gone, and
  // fail to start.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (const auto close = std::exchange(display_loss_close, {})) close();
  EndProcess(1);
}

void QuietQtHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.startsWith("This plugin does not support") || text.startsWith("QStandardPaths: XDG_RUNTIME_DIR")) {
    return;
  }
  if (previous_qt_handler) previous_qt_handler(type, context, text);
  if (text.startsWith("The X11 connection broke") && MainLoop::Instance().IsGuiThread()) EndOnDisplayLoss();
}

// Told once a run, on the thread whose priority could not be raised.
void NotePriorityRefused(int error) {
  const std::string text = std::string("Thread priorities cannot be raised (") + std::strerror(error) +
                           "): the audio threads run at normal priority. Raising them needs CAP_SYS_NICE or a nice "
                           "limit (RLIMIT_NICE) of at least 30.";
  NoteInMonthlyLog(text);
  std::fprintf(stderr, "%s: %s\n", kTitle, text.c_str());
}

}  // namespace

void QuietQtNotices() { previous_qt_handler = qInstallMessageHandler(QuietQtHandler); }

void SetDisplayLossClose(std::function<void()> close) { display_loss_close = std::move(close); }

// The libraries' teardown at exit would only bring their destructors into
// memory, a megabyte at the very end and the process's peak.
void EndProcess(int exit_code) {
  if (__lsan_do_leak_check) __lsan_do_leak_check();
  std::fflush(nullptr);
  std::_Exit(exit_code);
}

std::string ErrorText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

void ReportApplicationError(std::exception_ptr error) {
  const std::string text = ErrorText(error);
  NoteInMonthlyLog("Error: " + OneLine(text));
  ShowErrorBox(text);
}

bool TRecorderApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ReportApplicationError(std::current_exception());
    return false;
  }
}

TApplicationReports::TApplicationReports(bool headless) : headless_(headless) {
  SetMessageBoxHook([this](const std::string& text, const std::string& caption) { Message(text, caption); });
  SetErrorBoxHook([this](const std::string& text) { Error(text); });
  MainLoop::Instance().SetExceptionHandler(ReportApplicationError);
  SetPriorityRefusedHandler(NotePriorityRefused);
}

TApplicationReports::~TApplicationReports() {
  SetPriorityRefusedHandler({});
  MainLoop::Instance().SetExceptionHandler({});
  SetErrorBoxHook({});
  SetMessageBoxHook({});
}

// The log takes it to stderr as well.
void TApplicationReports::Message(const std::string& text, const std::string& caption) {
  NoteInMonthlyLog(OneLine(text));
  ShowBox(QString::fromStdString(text), QString::fromStdString(caption), false);
}

// Logged, and so told on stderr, by ReportApplicationError.
void TApplicationReports::Error(const std::string& text) {
  ShowBox(QString::fromStdString(text), kTitle, true);
}

// Opened from the main loop, so that a dialog being opened as the message comes
// is up by then.
void TApplicationReports::ShowBox(const QString& text, const QString& caption, bool error) {
  if (headless_) return;
  MainLoop::Instance().Post([this, alive = QPointer<QObject>(&context_), text, caption, error] {
    if (alive) OpenBox(text, caption, error);
  });
}

void TApplicationReports::OpenBox(const QString& text, const QString& caption, bool error) {
  if (error && !open_errors_.insert(text).second) return;
  // A box under a modal dialog could not be clicked: it belongs to the dialog then.
  QWidget* modal = QApplication::activeModalWidget();
  auto* box = new QMessageBox(error ? QMessageBox::Critical : QMessageBox::NoIcon, caption, text,
                              QMessageBox::Ok, modal ? modal : parent_.data());
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  if (error) QObject::connect(box, &QObject::destroyed, &context_, [this, text] { open_errors_.erase(text); });
  box->show();
}

}  // namespace pmx
