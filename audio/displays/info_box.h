#pragma once

#include <QImage>
#include <QRect>
#include <QString>

namespace pmx {

class TMMDIBGraphicControl;

// The measuring box a display shows while the left button is held: a text in a
// framed white box below the pointer, drawn straight into the control's
// back-store with what it covers kept, so that moving or ending it puts the
// picture back. Belongs to the GUI thread.
class TMMInfoBox {
 public:
  // Puts the box for a pointer at x, y (control coordinates) showing text.
  void Show(TMMDIBGraphicControl& control, int x, int y, const QString& text);
  // Takes the box away; restore false drops what it covered unshown.
  void Hide(TMMDIBGraphicControl& control, bool restore = true);

 private:
  QImage under_;
  QRect box_;
};

}  // namespace pmx
