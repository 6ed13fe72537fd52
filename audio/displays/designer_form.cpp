#include "audio/displays/designer_form.h"

#include <QCheckBox>
#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "audio/core/ui/controls.h"
#include "audio/displays/designer.h"

namespace pmx {
namespace {

QFrame* MakeSeparator(QWidget* parent, int top) {
  auto* bevel = new QFrame(parent);
  bevel->setFrameShape(QFrame::HLine);
  bevel->setFrameShadow(QFrame::Sunken);
  bevel->setGeometry(6, top, 119, 2);
  return bevel;
}

}  // namespace

TMMDesignerForm::TMMDesignerForm(TMMDesigner& designer, QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), designer_(designer) {
  setObjectName("MMDesignerForm");
  setWindowTitle("Designer");
  setFixedSize(131, 236);
  MMPanel1 = new TMMPanel(nullptr, this);
  MMPanel1->setObjectName("MMPanel1");
  MMPanel1->setGeometry(0, 0, 131, 236);
  MMPanel1->Bevel()->SetBevelOuter(TBevelCut::bvRaised);
  MMPanel1->Bevel()->SetBevelInner(TBevelCut::bvLowered);
  ckbActive = MakeCheckBox("Designer &Active", "ckbActive", 8);
  ckbAuto = MakeCheckBox("Auto &Update", "ckbAuto", 27);
  ckbSound = MakeCheckBox("&Sounds Enabled", "ckbSound", 46);
  Bevel1 = MakeSeparator(MMPanel1, 68);
  Label1 = new QLabel("Visible groups", MMPanel1);
  Label1->setObjectName("Label1");
  Label1->setGeometry(8, 74, 115, 14);
  GroupBox = new QListWidget(MMPanel1);
  GroupBox->setObjectName("GroupBox");
  GroupBox->setSelectionMode(QAbstractItemView::MultiSelection);
  GroupBox->setGeometry(8, 90, 115, 80);
  btnAll = MakeButton("&All", "btnAll", 8, 174);
  btnNone = MakeButton("&None", "btnNone", 68, 174);
  Bevel2 = MakeSeparator(MMPanel1, 200);
  btnHeight = MakeButton("&Height...", "btnHeight", 8, 206);
  btnClose = MakeButton("&Close", "btnClose", 68, 206);
  btnClose->setDefault(true);
  connect(btnAll, &QPushButton::clicked, this, [this] { btnAllClick(); });
  connect(btnNone, &QPushButton::clicked, this, [this] { btnNoneClick(); });
  connect(btnHeight, &QPushButton::clicked, this, [this] { btnHeightClick(); });
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

QCheckBox* TMMDesignerForm::MakeCheckBox(const char* caption, const char* name, int top) {
  auto* box = new QCheckBox(caption, MMPanel1);
  box->setObjectName(name);
  box->setGeometry(8, top, 115, 17);
  connect(box, &QCheckBox::clicked, this, [this, box] { CheckBoxClick(box); });
  return box;
}

QPushButton* TMMDesignerForm::MakeButton(const char* caption, const char* name, int left, int top) {
  auto* button = new QPushButton(caption, MMPanel1);
  button->setObjectName(name);
  button->setGeometry(left, top, 55, 22);
  return button;
}

void TMMDesignerForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TMMDesignerForm::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  FormHide();
}

void TMMDesignerForm::FormShow() {
  btnHeight->setEnabled(designer_.Active());
  ckbActive->setChecked(designer_.Active());
  ckbAuto->setChecked(designer_.AutoUpdate());
  ckbSound->setChecked(designer_.Sound());
  GroupBox->clear();
  for (const TLinkKind& kind : LinkKinds()) {
    const QString group = QString::fromStdString(kind.Group);
    if (!GroupBox->findItems(group, Qt::MatchExactly).isEmpty()) continue;
    auto* item = new QListWidgetItem(group, GroupBox);
    item->setSelected(!designer_.HiddenGroups().contains(group));
  }
}

void TMMDesignerForm::FormHide() {
  QStringList hidden;
  for (int i = 0; i < GroupBox->count(); ++i) {
    if (!GroupBox->item(i)->isSelected()) hidden << GroupBox->item(i)->text();
  }
  designer_.SetHiddenGroups(hidden);
  if (std::exchange(height_drag_, false)) {
    designer_.StartHeightDrag(designer_.Form()->ClientWidget().mapFromGlobal(QCursor::pos()).y());
  }
  TMMDesigner::OptionsClosed();
  deleteLater();
}

void TMMDesignerForm::CheckBoxClick(QCheckBox* sender) {
  if (sender == ckbActive) {
    designer_.SetActive(ckbActive->isChecked());
    btnHeight->setEnabled(ckbActive->isChecked());
  } else if (sender == ckbAuto) {
    designer_.SetAutoUpdate(ckbAuto->isChecked());
  } else if (sender == ckbSound) {
    designer_.SetSound(ckbSound->isChecked());
  }
}

void TMMDesignerForm::SelectAll(bool selected) {
  for (int i = 0; i < GroupBox->count(); ++i) GroupBox->item(i)->setSelected(selected);
}

void TMMDesignerForm::btnHeightClick() {
  height_drag_ = true;
  accept();
}

}  // namespace pmx
