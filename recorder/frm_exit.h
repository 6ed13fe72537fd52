#pragma once

#include <QDialog>

namespace pmx {

// "Do you want to exit Pelmorax?": "Yes" accepts, "No" cancels. GUI thread only.
class TfrmExit : public QDialog {
 public:
  explicit TfrmExit(QWidget* parent = nullptr);
};

}  // namespace pmx
