#include "recorder/frm_exit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace pmx {

TfrmExit::TfrmExit(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Exit");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Do you want to exit Pelmorax?", this));
  auto* buttons = new QHBoxLayout;
  auto* yes = new QPushButton("Yes", this);
  yes->setObjectName("Yes");
  auto* no = new QPushButton("No", this);
  no->setObjectName("No");
  yes->setDefault(true);
  buttons->addWidget(yes);
  buttons->addWidget(no);
  layout->addLayout(buttons);
  connect(yes, &QPushButton::clicked, this, &QDialog::accept);
  connect(no, &QPushButton::clicked, this, &QDialog::reject);
}

}  // namespace pmx
