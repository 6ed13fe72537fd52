#pragma once

#include <QImage>
#include <QRect>
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/core/objects/component.h"
#include "audio/core/objects/dib_header.h"
#include "audio/core/ui/graphics.h"
#include "platform/exception.h"

class QPainter;

namespace pmx {

class EMMDIBError : public Exception {
 public:
  using Exception::Exception;
};

// What the fast primitives draw with: a snapshot of the canvas taken by
// BeginDrawing and cleared by EndDrawing.
struct TDIBDrawState {
  int bits = 0;
  int bytes_per_pixel = 0;
  int width = 0;
  int height = 0;
  int stride = 0;
  uint8_t* pixels = nullptr;  // start of the bottom row
  TRect clip;
  uint32_t draw_value = 0;  // 8 bits: the index in all four bytes; 24 bits: red in the low byte
  int current_x = 0;
  int current_y = 0;

  // Row y of the picture (0 = top); the pixel memory is bottom-up.
  uint8_t* Row(int y) const { return pixels + static_cast<ptrdiff_t>(height - 1 - y) * stride; }
};

// The off-screen picture of a display: a bottom-up pixel buffer of 8 bits (with a
// 256-colour table around the 20 static colours, up to 236 of them animated) or
// 24 bits, an optional background picture, and a blit onto a QPainter.
//
// Threads: the GUI thread paints and changes settings, the feeding thread draws.
// Every field is guarded by the canvas's recursive lock; BeginDrawing takes it and
// EndDrawing releases it, so a change of settings waits for a drawing on another
// thread to end, and on the drawing thread itself raises EMMDIBError.
class TMMDIBCanvas : public TObject {
 public:
  static constexpr int kMaxAnimatedColors = 236;

  // owner names the canvas in one message; it may be none.
  explicit TMMDIBCanvas(const TObject* owner = nullptr);
  TMMDIBCanvas(const TMMDIBCanvas&) = delete;
  TMMDIBCanvas& operator=(const TMMDIBCanvas&) = delete;

  int Width() const;
  int Height() const;
  void SetWidth(int width);
  void SetHeight(int height);
  // Only marks the bitmap for rebuilding when the size differs.
  void SetSize(int width, int height);
  int BitsPerPixel() const;
  void SetBitsPerPixel(int bits);
  // The palette switches are kept for the displays that publish them; on a
  // true-colour screen the blit looks the same either way.
  bool PaletteRealize() const;
  void SetPaletteRealize(bool value);
  bool PaletteMapped() const;
  void SetPaletteMapped(bool value);
  const QImage& BackGroundBitmap() const { return background_; }
  // A null image removes the background.
  void SetBackGroundBitmap(const QImage& bitmap);
  bool StretchBackGround() const;
  void SetStretchBackGround(bool value);
  // A copy of a palette whose entries 10-246 fill the colour table; none removes it.
  void SetLogPalette(const TLogPalette* palette);

  // Rebuilds the bitmap when it is marked for that.
  void CreateHandle();
  // The 256 colours of the bitmap as 0x00RRGGBB with the entry's flag in the top byte.
  std::array<uint32_t, 256> ColorTable() const;
  // The bottom-up pixel memory of the background picture; empty without one.
  const std::vector<uint8_t>& BackGroundPixels() const { return background_pixels_; }

  // Changes whenever the pixels or the colour table are made anew or recoloured,
  // so a drawer that keeps what it drew last knows to draw everything again.
  uint64_t Generation() const;

  // The pixel value nearest to color: RGB for 24 bits, the palette index for 8.
  uint32_t NearestColor(TColor color) const;
  void SetDrawColor(TColor color);
  // A raw pixel value: RGB for 24 bits, an index (its low byte) for 8.
  void SetDrawIndex(uint32_t value);

  void BeginDrawing();
  void EndDrawing();
  // The primitives' state; valid between BeginDrawing and EndDrawing on that thread.
  TDIBDrawState& DrawState() { return state_; }

  // Copies area (left, top, width, height on the target) from srcX, srcY of the
  // picture; nothing on a painter that is not painting.
  void DrawToDC(QPainter& dc, const QRect& area, int src_x, int src_y);

  int AnimatedCount() const;
  void SetAnimatedColors(int count);
  int AnimatedIndex(int i) const;
  // Outside an animation batch the colour shows at the next blit; inside one it
  // waits for the outermost EndAnimate.
  void SetAnimatedColor(int i, TColor color);
  void BeginAnimate();
  void EndAnimate();

  TNotifyEvent OnChanging;
  TNotifyEvent OnChange;

 private:
  void CheckDIB();
  void RecreateDIB();
  void CreateDIB();
  void BuildPalette(TLogPalette& palette) const;
  void AddAnimatedColors(TLogPalette& palette);
  void PaintBackground();
  uint32_t NearestIndex(uint8_t red, uint8_t green, uint8_t blue) const;
  int Stride() const;
  void Notify(const TNotifyEvent& event);

  mutable std::recursive_mutex lock_;
  std::string owner_class_;
  int bits_ = 8;
  int width_ = 1;
  int height_ = 1;
  TRect clip_;  // empty until the first size change
  bool palette_realize_ = false;
  bool palette_mapped_ = false;
  bool stretch_background_ = true;
  bool needs_new_dib_ = true;
  bool idle_ = true;
  QImage background_;
  std::optional<TLogPalette> user_palette_;
  std::array<TPaletteEntry, 256> palette_{};
  std::array<uint32_t, 256> color_table_{};
  std::vector<uint8_t> pixels_;
  std::vector<uint8_t> background_pixels_;
  int requested_animated_ = 0;
  int first_animated_ = 256;
  std::vector<TPaletteEntry> animated_;
  int animate_nesting_ = 0;
  uint64_t generation_ = 0;
  std::vector<TPaletteEntry> pending_;
  TDIBDrawState state_;
};

// Holds a canvas's drawing section for a scope, so that a raising callback still
// ends it.
class TMMDIBDrawing {
 public:
  explicit TMMDIBDrawing(TMMDIBCanvas& canvas) : canvas_(canvas) { canvas_.BeginDrawing(); }
  ~TMMDIBDrawing() { canvas_.EndDrawing(); }
  TMMDIBDrawing(const TMMDIBDrawing&) = delete;
  TMMDIBDrawing& operator=(const TMMDIBDrawing&) = delete;

 private:
  TMMDIBCanvas& canvas_;
};

}  // namespace pmx
