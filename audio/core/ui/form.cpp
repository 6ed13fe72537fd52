#include "audio/core/ui/form.h"

#include <QLayout>
#include <QMainWindow>

namespace pmx {

QWidget& TForm::ClientWidget() const {
  auto* main_window = qobject_cast<QMainWindow*>(&window_);
  QWidget* central = main_window ? main_window->centralWidget() : nullptr;
  return central ? *central : window_;
}

QRect TForm::ClientRect() const {
  QWidget& client = ClientWidget();
  // A main window lays its menu bar and central widget out only once it is shown,
  // and after its own resize event.
  if (&client != &window_ && window_.layout()) window_.layout()->setGeometry(window_.rect());
  return client.rect();
}

void TForm::SetClientHeight(int height) {
  window_.resize(window_.width(), window_.height() - ClientHeight() + height);
}

}  // namespace pmx
