#include "recorder/application_reports.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <algorithm>

#include "audio/core/files/wave.h"
#include "platform/main_loop.h"
#include "platform/ui_hook.h"
#include "recorder/event_log.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx::test {
namespace {

std::vector<QMessageBox*> VisibleBoxes() {
  std::vector<QMessageBox*> boxes;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) boxes.push_back(box);
  }
  return boxes;
}

// An error from a queued call, as a worker's report or a failed start reaches the loop.
void RaiseInQueuedCall(const std::string& text) {
  MainLoop::Instance().Post([text] { throw EMMWaveError(text); });
  MainLoop::Instance().ProcessPending();
}

TEST_F(RecorderTest, MessagesAndErrorsAreLoggedAndShownWithoutWaitingForAClick) {
  {
    TApplicationReports reports(false);
    // Returns at once: a modal box here waited for ever with nobody at the screen.
    ShowMessageBox("Error reading options (options.ini).", "Pelmorax");
    RaiseInQueuedCall("I/O error opening /proc/x.wav");
    RaiseInQueuedCall("I/O error opening /proc/x.wav");  // the next tick's retry
    const std::vector<QMessageBox*> boxes = VisibleBoxes();
    ASSERT_EQ(boxes.size(), 2u) << "one box per error text while it is open";
    for (QMessageBox* box : boxes) EXPECT_FALSE(box->isModal());
    EXPECT_EQ(std::count_if(boxes.begin(), boxes.end(),
                            [](QMessageBox* box) { return box->icon() == QMessageBox::Critical; }),
              1);
    for (QMessageBox* box : boxes) box->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    RaiseInQueuedCall("I/O error opening /proc/x.wav");
    EXPECT_EQ(VisibleBoxes().size(), 1u) << "a closed error is shown again";
    for (QMessageBox* box : VisibleBoxes()) box->close();
  }
  {
    TApplicationReports headless(true);
    ShowMessageBox("Error opening COM1", "Pelmorax");
    EXPECT_TRUE(VisibleBoxes().empty()) << "without a display only stderr and the log";
  }
  const std::vector<std::string> log = CrLfLines(ReadFile(MonthlyLogFile(RecorderClock::Now())));
  ASSERT_EQ(log.size(), 5u);
  EXPECT_TRUE(log[0].ends_with(" Error reading options (options.ini).")) << log[0];
  EXPECT_TRUE(log[1].ends_with(" Error: I/O error opening /proc/x.wav")) << log[1];
  EXPECT_TRUE(log[4].ends_with(" Error opening COM1")) << log[4];
  EXPECT_TRUE(messages_.empty()) << "the reports replaced the test's hook";
}

// The options dialog tells of a missing folder as it opens: a box under a modal
// dialog could not be clicked, so it belongs to the dialog; without one, to the
// main window.
TEST_F(RecorderTest, ABoxAskedForAsAModalDialogOpensBelongsToTheDialog) {
  TApplicationReports reports(false);
  QWidget main_window;
  reports.SetBoxParent(&main_window);
  main_window.show();
  QDialog dialog(&main_window);
  dialog.setModal(true);
  ShowMessageBox("Path for audio files does not exist: /srv/rec", "Pelmorax");
  dialog.show();
  MainLoop::Instance().ProcessPending();
  std::vector<QMessageBox*> boxes = VisibleBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->parentWidget(), &dialog);
  boxes[0]->close();
  dialog.hide();
  RaiseInQueuedCall("I/O error opening /proc/x.wav");
  boxes = VisibleBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]->parentWidget(), &main_window);
  boxes[0]->close();
}

}  // namespace
}  // namespace pmx::test
