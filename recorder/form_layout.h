#pragma once

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

}  // namespace pmx
