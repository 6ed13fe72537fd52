#include "audio/core/ui/graphics.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

namespace pmx {
namespace {

struct SystemRole {
  TColor color;
  QPalette::ColorRole role;
};

constexpr SystemRole kSystemRoles[] = {
    {clActiveCaption, QPalette::Highlight}, {clWindow, QPalette::Base},
    {clWindowFrame, QPalette::Shadow},
    {clWindowText, QPalette::WindowText}, {clHighlight, QPalette::Highlight},
    {clHighlightText, QPalette::HighlightedText}, {clBtnShadow, QPalette::Dark},
    {clBtnText, QPalette::ButtonText},    {clBtnHighlight, QPalette::Light},
};

// clBtnFace and unknown system colours take the button face.
QPalette::ColorRole RoleOf(TColor color) {
  for (const SystemRole& entry : kSystemRoles) {
    if (entry.color == color) return entry.role;
  }
  return QPalette::Button;
}

}  // namespace

TColor ColorToRGB(TColor color) {
  if ((color & clSystemColor) != clSystemColor) return color & 0xFFFFFF;
  return FromQColor(QGuiApplication::palette().color(QPalette::Active, RoleOf(color)));
}

QColor ToQColor(TColor color) {
  const TColor rgb = ColorToRGB(color);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

TColor FromQColor(const QColor& color) {
  return RGBColor(static_cast<uint8_t>(color.red()), static_cast<uint8_t>(color.green()),
                  static_cast<uint8_t>(color.blue()));
}

void FillRect(QPainter& canvas, const TRect& rect, TColor color) {
  if (rect.Width() > 0 && rect.Height() > 0) canvas.fillRect(rect.ToQRect(), ToQColor(color));
}

void Frame3D(QPainter& canvas, TRect& rect, TColor top_left, TColor bottom_right, int width) {
  const QColor light = ToQColor(top_left);
  const QColor dark = ToQColor(bottom_right);
  for (; width > 0 && rect.Width() > 0 && rect.Height() > 0; --width) {
    const int right = rect.Right - 1;
    const int bottom = rect.Bottom - 1;
    canvas.fillRect(rect.Left, rect.Top, right - rect.Left, 1, light);
    canvas.fillRect(rect.Left, rect.Top, 1, bottom - rect.Top, light);
    canvas.fillRect(right, rect.Top, 1, bottom - rect.Top + 1, dark);
    canvas.fillRect(rect.Left, bottom, right - rect.Left + 1, 1, dark);
    rect = rect.Inset(1);
  }
  rect = rect.Inset(width);  // what is left of a frame wider than the rectangle
}

}  // namespace pmx
