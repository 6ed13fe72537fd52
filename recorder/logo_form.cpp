#include "recorder/logo_form.h"

#include <QLabel>
#include <QVBoxLayout>

namespace pmx {

TLogoForm::TLogoForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("LogoForm");
  setFixedSize(340, 269);
  setAutoFillBackground(true);
  setStyleSheet("#LogoForm { background: #008080; border: 2px outset #c0c0c0; }"
                "QLabel { color: white; }");
  auto* layout = new QVBoxLayout(this);
  auto* name = new QLabel("Pelmorax", this);
  name->setAlignment(Qt::AlignCenter);
  name->setFont(QFont("Arial", 28, QFont::Bold));
  auto* version = new QLabel("Version " PMX_VERSION, this);
  version->setAlignment(Qt::AlignCenter);
  version->setFont(QFont("Arial", 10));
  layout->addStretch();
  layout->addWidget(name);
  layout->addWidget(version);
  layout->addStretch();
  Timer1.setInterval(1000);
  Timer1.setSingleShot(true);
  connect(&Timer1, &QTimer::timeout, this, &QWidget::close);
}

void TLogoForm::ShowCentredOn(const QWidget& main_window) {
  const QRect frame = main_window.frameGeometry();
  move(frame.left() + (frame.width() - width()) / 2, frame.top() + (frame.height() - height()) / 2);
  show();
}

void TLogoForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Timer1.start();
}

}  // namespace pmx
