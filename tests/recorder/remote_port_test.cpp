#include <QPushButton>
#include <QTimer>
#include <sys/ioctl.h>

#include "platform/ports/fake_serial_device.h"
#include "platform/qt/qt_main_loop.h"
#include "recorder/doku_form.h"
#include "recorder/frm_exit.h"
#include "recorder/para_form.h"
#include "recorder/radio_group.h"
#include "tests/recorder/recorder_fixture.h"

namespace pmx::test {
namespace {

// The main window and its options dialog over a fake serial line.
class RemotePortTest : public RecorderTest {
 protected:
  RemotePortTest() {
    form_.SerialPort1.SetOpener(line_->Opener());
    para_.SetMainForm(&form_);
    form_.SetParaForm([this] { return &para_; });
    std::filesystem::create_directory(Home("rec"));
    form_.Settings.RecorderOptions = {};
    form_.Settings.RecorderOptions.RecordingFolder = Home("rec").string();
  }
  void ChoosePort(int save_mode, int item) {
    form_.Settings.RecorderOptions.SaveMode = save_mode;
    para_.FormShow();
    para_.rdrgrpIOAddress->Item(item)->click();
  }

  QtMainLoop loop_;
  std::shared_ptr<FakeSerialDevice> line_ = std::make_shared<FakeSerialDevice>();
  TDokuForm form_{"", ""};
  TParaForm para_{form_.Settings, &form_};
};

TEST_F(RemotePortTest, AComItemOpensThePortOnlyInSerialMode) {
  ChoosePort(7, 5);  // COM3
  EXPECT_TRUE(form_.SerialPort1.Active());
  EXPECT_EQ(form_.SerialPort1.CommPort(), "COM3");
  EXPECT_EQ(line_->OutputLines() & (TIOCM_RTS | TIOCM_DTR), TIOCM_RTS);
  ChoosePort(5, 5);
  EXPECT_FALSE(form_.SerialPort1.Active());
  EXPECT_EQ(line_->Opens(), 1);
  ChoosePort(7, 1);  // LPT2 only closes
  EXPECT_FALSE(form_.SerialPort1.Active());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(RemotePortTest, APortThatDoesNotOpenIsReported) {
  line_->SetOpenError(ENOENT);
  ChoosePort(7, 8);
  EXPECT_FALSE(form_.SerialPort1.Active());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Error opening COM6");
}

TEST_F(RemotePortTest, ExitAsksFirstAndOnlyYesCloses) {
  TfrmExit exit_dialog(&form_);
  form_.SetExitForm([&exit_dialog] { return &exit_dialog; });
  form_.show();
  auto answer = [&](const char* button) {
    QTimer::singleShot(0, &exit_dialog, [&exit_dialog, button] {
      exit_dialog.findChild<QPushButton*>(button)->click();
    });
    form_.CloseBitBtnClick();
  };
  answer("No");
  EXPECT_TRUE(form_.isVisible());
  EXPECT_FALSE(std::filesystem::exists(Home("preferences.ini")));
  answer("Yes");
  EXPECT_FALSE(form_.isVisible());
  EXPECT_TRUE(std::filesystem::exists(Home("preferences.ini")));
}

}  // namespace
}  // namespace pmx::test
