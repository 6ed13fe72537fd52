#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/displays/dib_canvas.h"
#include "audio/displays/dib_primitives.h"

namespace pmx {

// One channel of a test block: a sine of `periods` cycles per `length` frames
// (a tone centred on bin `periods` of a transform of that length).
struct ToneSpec {
  double periods = 0;
  double amplitude = 0;
  double phase = 0;
  double offset = 0;
};

// frames x channels interleaved samples, 16-bit little-endian or 8-bit unsigned.
inline std::vector<uint8_t> ToneBlock(const std::vector<ToneSpec>& channels, int frames,
                                      int length, bool eight_bit = false) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < frames; ++i) {
    for (const ToneSpec& t : channels) {
      const double v = t.offset + t.amplitude * std::sin(2 * M_PI * t.periods * i / length + t.phase);
      if (eight_bit) {
        bytes.push_back(static_cast<uint8_t>(std::lround(128 + v)));
        continue;
      }
      const auto s = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
      bytes.push_back(static_cast<uint8_t>(s));
      bytes.push_back(static_cast<uint8_t>(s >> 8));
    }
  }
  return bytes;
}

// The raw value (palette index at 8 bits) of a canvas pixel.
inline int64_t CanvasPixel(TMMDIBCanvas& canvas, int x, int y) {
  TMMDIBDrawing section(canvas);
  return DIBGetPixel(canvas, x, y);
}

}  // namespace pmx
