#pragma once

#include <QCursor>
#include <QImage>
#include <QPoint>
#include <QString>

#include "audio/core/ui/graphics.h"

class QPainter;
class QWidget;

namespace pmx {

void GetBitmapSize(const QImage& bitmap, int& width, int& height);
// The colour of the bottom-left pixel, which marks a bitmap's transparent parts;
// black for an empty bitmap.
TColor GetTransparentColor(const QImage& bitmap);
// Draws bitmap at x, y, leaving the destination as it was wherever the bitmap has
// color. May be called from any thread; drawings are serialised by one lock.
void DrawTransparentBitmap(QPainter& dest, const QImage& bitmap, int x, int y, TColor color);

// Draws text in the given face with size pixels height, in the canvas's pen colour
// and over its brush unless that is empty. Alignment 0: x is the left edge,
// vertically centred on y; 1: x is the right edge, centred on y; 2: written upwards,
// horizontally centred on x, its last letter at y and its first below it.
void DrawRotatedText(QPainter& canvas, int x, int y, int alignment, int size,
                     const QString& face, const QString& text);

// The top-left corner of rect, given in control's coordinates, in form's.
QPoint ClientToFormPoint(const QWidget& form, const QWidget& control, const TRect& rect);
// Height of a window caption plus both frame edges, as the current style draws them.
int GetCaptionFrameHeight();

// Cursor numbers: the toolkit's standard ones are 0 and below; the library's own
// (2001 .. 2031) show the default cursor unless one was registered.
using TCursor = int;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crCross = -3;
inline constexpr TCursor crIBeam = -4;
inline constexpr TCursor crSizeNS = -7;
inline constexpr TCursor crSizeWE = -9;
inline constexpr TCursor crHourGlass = -11;
inline constexpr TCursor crHandPoint = -21;

// Registers a cursor under a number (GUI thread).
void RegisterScreenCursor(TCursor id, const QCursor& cursor);
// The cursor of a number; the default arrow for one that nobody registered.
QCursor ScreenCursor(TCursor id);

}  // namespace pmx
