#pragma once

#include <QDialog>
#include <QRect>

namespace pmx {

// Forms lay their controls out at fixed places, as their designer drew them.
template <typename W>
W* Place(W* widget, int left, int top, int width, int height) {
  widget->setGeometry(left, top, width, height);
  return widget;
}

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

// Runs dialog modally. The first time its client area is centred on its parent
// window's client area, which needs no guess of the frames a window manager adds
// later; after that it reopens where the user left it.
inline int ExecPlaced(QDialog& dialog) {
  QWidget* parent = dialog.parentWidget();
  if (parent && !dialog.property("pmx_placed").toBool()) {
    if (!dialog.testAttribute(Qt::WA_Resized)) dialog.adjustSize();
    QRect placed(QPoint(), dialog.size());
    placed.moveCenter(parent->window()->geometry().center());
    dialog.setGeometry(placed);
    dialog.setProperty("pmx_placed", true);
  }
  return dialog.exec();
}

}  // namespace pmx
