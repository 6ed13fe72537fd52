#pragma once

#include <QTimer>
#include <QWidget>

namespace pmx {

// The splash: a borderless window with the product name and version that closes
// itself a second after it was shown. GUI thread only.
class TLogoForm : public QWidget {
 public:
  explicit TLogoForm(QWidget* parent = nullptr);

  // Shows the splash centred on the main window.
  void ShowCentredOn(const QWidget& main_window);

  QTimer Timer1;

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace pmx
