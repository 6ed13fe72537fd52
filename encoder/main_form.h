#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <string>
#include <vector>

#include "encoder/encoder_controller.h"
#include "encoder/gauge.h"

namespace pmx {

// The encoder's small borderless progress window; its timers drive the controller.
// GUI thread only.
class TForm1 : public QWidget, public TEncoderView {
 public:
  TForm1(std::vector<std::string> arguments, TEncodeJob& job, TProcessLauncher launcher);
  ~TForm1() override;

  TEncoderController& Controller() { return controller_; }

  void ShowStatus(const std::string& text) override;
  void ShowSource(const std::string& path) override;
  void ShowProgress(int percent) override;
  void MoveTo(int left, int top) override;
  void Minimize() override;
  void ArmWatchdog() override;
  void ReportError(const std::string& text) override;
  void Close() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();

  QWidget* Panel1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* lblStatus;
  TMMGauge* MMGauge1;
  QTimer Timer1;
  QTimer tmrDelay;
  QTimer tmrUeberwachung;
  TEncoderController controller_;
  bool shown_ = false;
};

}  // namespace pmx
