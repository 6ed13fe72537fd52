#include "recorder/radio_group.h"

#include <QGridLayout>
#include <QRadioButton>

namespace pmx {

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns,
                         QWidget* parent)
    : QGroupBox(caption, parent) {
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(6, 2, 6, 2);
  layout->setSpacing(0);
  const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    buttons_.addButton(button, i);
    layout->addWidget(button, i % rows, i / rows);
  }
  connect(&buttons_, &QButtonGroup::idClicked, this, [this] {
    if (OnClick) OnClick();
  });
}

void TRadioGroup::SetItemIndex(int index) {
  if (QAbstractButton* button = buttons_.button(index)) {
    button->setChecked(true);
    return;
  }
  buttons_.setExclusive(false);
  for (QAbstractButton* button : buttons_.buttons()) button->setChecked(false);
  buttons_.setExclusive(true);
}

}  // namespace pmx
