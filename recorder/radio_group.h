#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QStringList>
#include <functional>

namespace pmx {

// A captioned group of radio buttons in one or more columns, known by the index of
// the checked item (-1: none). GUI thread only.
class TRadioGroup : public QGroupBox {
 public:
  TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);

  int ItemIndex() const { return buttons_.checkedId(); }
  // An index outside the items unchecks every button.
  void SetItemIndex(int index);
  int Count() const { return static_cast<int>(buttons_.buttons().size()); }
  QAbstractButton* Item(int index) const { return buttons_.button(index); }

  // Runs when the user clicks an item.
  std::function<void()> OnClick;

 private:
  QButtonGroup buttons_;
};

}  // namespace pmx
