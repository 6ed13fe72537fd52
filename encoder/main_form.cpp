#include "encoder/main_form.h"

#include <QFont>
#include <QPalette>
#include <iostream>

namespace pmx {
namespace {

QLabel* MakeLabel(QWidget* parent, int left, int top, const QString& caption) {
  auto* label = new QLabel(caption, parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}

}  // namespace

TForm1::TForm1(std::vector<std::string> arguments, TEncodeJob& job, TProcessLauncher launcher)
    : controller_(std::move(arguments), *this, job, std::move(launcher)) {
  setWindowFlags(Qt::FramelessWindowHint);
  setWindowTitle("kobrinvert");
  setFixedSize(304, 58);
  move(275, 226);
  Panel1 = new QWidget(this);
  Panel1->setGeometry(0, 0, 304, 58);
  Panel1->setAutoFillBackground(true);
  QPalette colours = Panel1->palette();
  colours.setColor(QPalette::Window, ToQColor(clTeal));
  colours.setColor(QPalette::WindowText, colours.color(QPalette::Highlight));
  Panel1->setPalette(colours);
  QFont font("Arial");
  font.setPixelSize(9);
  Panel1->setFont(font);
  Label2 = MakeLabel(Panel1, 6, 6, "Encoding: ");
  Label3 = MakeLabel(Panel1, 58, 6, "");
  lblStatus = MakeLabel(Panel1, 256, 8, "State");
  MMGauge1 = new TMMGauge(nullptr, Panel1);
  MMGauge1->setGeometry(6, 26, 289, 14);
  MMGauge1->SetForeColor(clBackground);
  MMGauge1->Bevel()->SetBevelOuter(TBevelCut::bvLowered);
  MMGauge1->Bevel()->SetBevelOuterWidth(1);
  Timer1.setInterval(1000);
  tmrUeberwachung.setInterval(TEncoderController::kWatchdogMs);
  connect(&tmrDelay, &QTimer::timeout, this, [this] {
    Timer1.start();
    tmrDelay.stop();
  });
  connect(&Timer1, &QTimer::timeout, this, [this] {
    Timer1.stop();
    controller_.StartEncode();
  });
  connect(&tmrUeberwachung, &QTimer::timeout, this, [this] { controller_.WatchdogTick(); });
}

TForm1::~TForm1() = default;

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  FormShow();
}

void TForm1::FormShow() {
  tmrDelay.start(controller_.FormShow());
}

void TForm1::ShowStatus(const std::string& text) {
  lblStatus->setText(QString::fromStdString(text));
  lblStatus->adjustSize();
  lblStatus->repaint();
}

void TForm1::ShowSource(const std::string& path) {
  Label3->setText(QString::fromStdString(path));
  Label3->adjustSize();
}

void TForm1::ShowProgress(int percent) { MMGauge1->SetProgress(percent); }
void TForm1::MoveTo(int left, int top) { move(left, top); }
void TForm1::Minimize() { setWindowState(windowState() | Qt::WindowMinimized); }
void TForm1::ArmWatchdog() { tmrUeberwachung.start(); }
void TForm1::ReportError(const std::string& text) { std::cerr << text << std::endl; }

void TForm1::Close() {
  Timer1.stop();
  tmrDelay.stop();
  tmrUeberwachung.stop();
  close();
}

}  // namespace pmx
