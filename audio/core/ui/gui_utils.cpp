#include "audio/core/ui/gui_utils.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QWidget>
#include <algorithm>
#include <map>
#include <mutex>

namespace pmx {
namespace {

std::mutex g_transparent_lock;

std::map<TCursor, QCursor>& Cursors() {
  static std::map<TCursor, QCursor> cursors = {
      {crArrow, QCursor(Qt::ArrowCursor)},        {crCross, QCursor(Qt::CrossCursor)},
      {crIBeam, QCursor(Qt::IBeamCursor)},        {crSizeNS, QCursor(Qt::SizeVerCursor)},
      {crSizeWE, QCursor(Qt::SizeHorCursor)},     {crHourGlass, QCursor(Qt::WaitCursor)},
      {crHandPoint, QCursor(Qt::PointingHandCursor)},
  };
  return cursors;
}

}  // namespace

void GetBitmapSize(const QImage& bitmap, int& width, int& height) {
  width = bitmap.width();
  height = bitmap.height();
}

TColor GetTransparentColor(const QImage& bitmap) {
  if (bitmap.isNull()) return clBlack;
  return FromQColor(bitmap.pixelColor(0, bitmap.height() - 1));
}

void DrawTransparentBitmap(QPainter& dest, const QImage& bitmap, int x, int y, TColor color) {
  std::lock_guard lock(g_transparent_lock);
  QImage masked = bitmap.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = ToQColor(color).rgb() & 0xFFFFFF;
  for (int row = 0; row < masked.height(); ++row) {
    auto* line = reinterpret_cast<QRgb*>(masked.scanLine(row));
    for (int col = 0; col < masked.width(); ++col) {
      if ((line[col] & 0xFFFFFF) == key) line[col] = 0;
    }
  }
  dest.drawImage(x, y, masked);
}

void DrawRotatedText(QPainter& canvas, int x, int y, int alignment, int size,
                     const QString& face, const QString& text) {
  QFont font(face);
  font.setPixelSize(std::max(size, 1));
  font.setWeight(QFont::Normal);
  const QFontMetrics metrics(font);
  const int cx = metrics.horizontalAdvance(text);
  const int cy = metrics.height();
  canvas.save();
  canvas.setFont(font);
  if (alignment == 2) {
    canvas.translate(x - cy / 2, y + cx);
    canvas.rotate(-90);
  } else {
    canvas.translate(alignment == 1 ? x - cx : x, y - cy / 2);
  }
  const QRect box(0, 0, cx, cy);
  if (canvas.brush().style() != Qt::NoBrush) canvas.fillRect(box, canvas.brush());
  canvas.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  canvas.restore();
}

QPoint ClientToFormPoint(const QWidget& form, const QWidget& control, const TRect& rect) {
  return form.mapFromGlobal(control.mapToGlobal(QPoint(rect.Left, rect.Top)));
}

int GetCaptionFrameHeight() {
  const QStyle* style = QApplication::style();
  return style->pixelMetric(QStyle::PM_TitleBarHeight) +
         2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth);
}

void RegisterScreenCursor(TCursor id, const QCursor& cursor) { Cursors()[id] = cursor; }

QCursor ScreenCursor(TCursor id) {
  const auto it = Cursors().find(id);
  return it == Cursors().end() ? QCursor(Qt::ArrowCursor) : it->second;
}

}  // namespace pmx
