#pragma once

#include <QDialog>

class QCheckBox;
class QFrame;
class QLabel;
class QListWidget;
class QPushButton;

namespace pmx {

class TMMDesigner;
class TMMPanel;

// The designer's options: what it draws and which link groups show. It applies the
// group choice, and a height drag it was asked for, when it hides. GUI thread only.
class TMMDesignerForm : public QDialog {
 public:
  explicit TMMDesignerForm(TMMDesigner& designer, QWidget* parent = nullptr);

  TMMDesigner& Designer() const { return designer_; }

  TMMPanel* MMPanel1 = nullptr;
  QCheckBox* ckbActive = nullptr;
  QCheckBox* ckbAuto = nullptr;
  QCheckBox* ckbSound = nullptr;
  QLabel* Label1 = nullptr;
  QListWidget* GroupBox = nullptr;
  QPushButton* btnAll = nullptr;
  QPushButton* btnNone = nullptr;
  QPushButton* btnHeight = nullptr;
  QPushButton* btnClose = nullptr;
  QFrame* Bevel1 = nullptr;
  QFrame* Bevel2 = nullptr;

  void FormShow();
  void FormHide();
  void CheckBoxClick(QCheckBox* sender);
  void btnAllClick() { SelectAll(true); }
  void btnNoneClick() { SelectAll(false); }
  void btnHeightClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QCheckBox* MakeCheckBox(const char* caption, const char* name, int top);
  QPushButton* MakeButton(const char* caption, const char* name, int left, int top);
  void SelectAll(bool selected);

  TMMDesigner& designer_;
  bool height_drag_ = false;
};

}  // namespace pmx
