#pragma once

#include <QWidget>

#include "audio/core/objects/component.h"

namespace pmx {

// The component side of a top-level window: the owner of the library's components
// placed on it. A form class derives from its Qt window class and from TForm, and
// hands TForm its own window. GUI thread only.
class TForm : public TComponent {
 public:
  explicit TForm(QWidget& window) : window_(window) {}

  QWidget& Window() const { return window_; }
  // The part of the window the form's controls live in: a main window's central
  // widget (below its menu bar), else the window itself.
  QWidget& ClientWidget() const;
  // The client area in its own coordinates, laid out for the window's current size.
  QRect ClientRect() const;
  int ClientHeight() const { return ClientRect().height(); }
  // Resizes the window so that its client area gets this height.
  void SetClientHeight(int height);

 private:
  QWidget& window_;
};

}  // namespace pmx
