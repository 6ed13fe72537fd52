#include "audio/displays/info_box.h"

#include <QFontMetrics>
#include <QPainter>

#include "audio/displays/dib_graphic_control.h"

namespace pmx {

void TMMInfoBox::Show(TMMDIBGraphicControl& control, int x, int y, const QString& text) {
  control.PaintDirect([&](QPainter& dc) {
    if (!under_.isNull()) dc.drawImage(box_.topLeft(), under_);
    dc.setFont(QFont("MS Sans Serif", 8));
    const QFontMetrics metrics(dc.font());
    QRect box(x, y + 15, 10 * metrics.horizontalAdvance('W') + 4, metrics.height() + 2);
    if (box.bottom() >= control.height()) box.moveTop(box.top() - 40);
    if (box.right() >= control.width()) box.moveLeft(control.width() - box.width());
    if (box.top() < 0) box.moveTop(0);
    box_ = box;
    under_ = static_cast<QImage*>(dc.device())->copy(box);
    dc.fillRect(box, Qt::white);
    dc.setPen(Qt::black);
    dc.drawRect(box.adjusted(0, 0, -1, -1));
    dc.setPen(control.palette().toolTipText().color());
    dc.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, text);
  });
}

void TMMInfoBox::Hide(TMMDIBGraphicControl& control, bool restore) {
  if (restore && !under_.isNull()) {
    control.PaintDirect([this](QPainter& dc) { dc.drawImage(box_.topLeft(), under_); });
  }
  under_ = QImage();
}

}  // namespace pmx
