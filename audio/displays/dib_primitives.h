#pragma once

#include <cstdint>

#include "audio/core/ui/graphics.h"
#include "audio/displays/dib_canvas.h"

namespace pmx {

// Fast drawing straight into a canvas's pixels, between its BeginDrawing and
// EndDrawing, on the thread that called them. Coordinates are pixels of the
// picture, (0, 0) top left; runs include their start and exclude their end.
// Nothing outside the canvas's clip rectangle is ever written, and outside a
// drawing nothing at all. Colours are the canvas's draw value unless given.

// value: a palette index for 8 bits, an RGB value for 24.
void DIBSetPixel(TMMDIBCanvas& canvas, int x, int y, uint32_t value);
// The pixel's raw value; -1 outside the clip rectangle.
int64_t DIBGetPixel(TMMDIBCanvas& canvas, int x, int y);
void DIBMoveTo(TMMDIBCanvas& canvas, int x, int y);
// A line from the current point, which it does not set at its end; (x, y) becomes
// the current point.
void DIBLineTo(TMMDIBCanvas& canvas, int x, int y);
void DIBHorzLine(TMMDIBCanvas& canvas, int x1, int x2, int y);
// 4 pixels on, 4 off from the left end; a run shorter than 4 pixels draws nothing.
void DIBHorzLineDashed(TMMDIBCanvas& canvas, int x1, int x2, int y);
// One pixel, then gap (at least 1) pixels left out, from the left end.
void DIBHorzLineDotted(TMMDIBCanvas& canvas, int gap, int x1, int x2, int y);
void DIBVertLine(TMMDIBCanvas& canvas, int x, int y1, int y2);
// 4 pixels on, 4 off from the top end; short runs are drawn too.
void DIBVertLineDashed(TMMDIBCanvas& canvas, int x, int y1, int y2);
void DIBVertLineDotted(TMMDIBCanvas& canvas, int gap, int x, int y1, int y2);
// 8 bits only: bytes[i] becomes the index of pixel (x, y + i) for i < count.
void DIBDrawColumn(TMMDIBCanvas& canvas, int x, int y, const uint8_t* bytes, int count);
// Corners in any order; right and bottom edges excluded.
void DIBFillRect(TMMDIBCanvas& canvas, const TRect& rect);
// Every pixel of rect XORed with the draw value.
void DIBFillRect2(TMMDIBCanvas& canvas, const TRect& rect);
// Mode 1: every second pixel of every second row from the top-left corner; else a fill.
void DIBFillRectMode(TMMDIBCanvas& canvas, const TRect& rect, int mode);
// The whole picture in the draw value.
void DIBClear(TMMDIBCanvas& canvas);
// Copies a width x height block at sx, sy of source (pixels laid out like the
// canvas's) to dx, dy; both places are clipped, overlapping blocks copy intact.
void DIBCopyRect(TMMDIBCanvas& canvas, int dx, int dy, int width, int height, int sx, int sy,
                 const uint8_t* source);
// A filled ellipse around cx, cy; nothing for a radius below 1.
void DIBEllipse(TMMDIBCanvas& canvas, int cx, int cy, int rx, int ry);

}  // namespace pmx
