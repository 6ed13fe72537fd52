#pragma once

#include <QApplication>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <exception>
#include <functional>
#include <set>
#include <string>

namespace pmx {

// The text of an error as the user reads it.
std::string ErrorText(std::exception_ptr error);

// Writes an error that no handler took to the monthly log and shows it in the
// application's error box; the program goes on.
void ReportApplicationError(std::exception_ptr error);

// Keeps Qt's notices that say nothing to a station engineer (no window manager
// on the offscreen platform, no runtime folder for a service) off stderr, which
// is the recorder's journal. Install before the application object exists.
void QuietQtNotices();

// Qt's X11 platform ends the program with exit() as soon as it finds its
// connection to the display broken (the server died, the user logged out),
// while the capture threads still run: exit() would destroy what they use and
// leave the recording unfinished. Qt warns first, on the GUI thread, through
// the handler QuietQtNotices installs; there the close set here runs instead,
// and the process then ends with exit code 1, without that teardown. An empty
// close (the default) only ends the process so.
// Threads: set on the GUI thread.
void SetDisplayLossClose(std::function<void()> close);

// Ends the process once everything is written and closed, without the
// libraries' teardown; a leak checker, where one is built in, still runs.
[[noreturn]] void EndProcess(int exit_code);

// The recorder's application object: an exception that escapes an event handler
// is reported and the event loop goes on.
class TRecorderApplication : public QApplication {
 public:
  TRecorderApplication(int& argc, char** argv) : QApplication(argc, argv) {}
  bool notify(QObject* receiver, QEvent* event) override;
};

// Where the recorder's messages and errors go while nobody may be at the screen:
// each goes to the monthly log and to stderr (a service manager's journal) and,
// with a display, into a box that waits for nobody (an error text that is already
// open is not shown twice); while a modal dialog is open the box is the dialog's,
// so that it can be clicked. It also routes the exceptions of queued calls to
// ReportApplicationError, and logs once that thread priorities cannot be raised.
// Installs its hooks for its lifetime.
// Threads: create on the GUI thread; messages from other threads are shown from
// the main loop. parent_ and open_errors_ belong to the GUI thread.
class TApplicationReports {
 public:
  // headless: there is no display to show boxes on.
  explicit TApplicationReports(bool headless);
  ~TApplicationReports();
  TApplicationReports(const TApplicationReports&) = delete;
  TApplicationReports& operator=(const TApplicationReports&) = delete;

  // The window the boxes belong to, so that they close with it.
  void SetBoxParent(QWidget* parent) { parent_ = parent; }

 private:
  void Message(const std::string& text, const std::string& caption);
  void Error(const std::string& text);
  void ShowBox(const QString& text, const QString& caption, bool error);
  void OpenBox(const QString& text, const QString& caption, bool error);

  const bool headless_;
  QObject context_;  // ends the boxes' connections to this
  QPointer<QWidget> parent_;
  std::set<QString> open_errors_;
};

}  // namespace pmx
