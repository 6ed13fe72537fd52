#include "audio/displays/dib_canvas.h"

#include <cxxabi.h>

#include <QPainter>
#include <cstdlib>
#include <typeinfo>
#include <unordered_map>

namespace pmx {
namespace {

constexpr int kFirstFreeEntry = 10;
constexpr int kLastBackgroundEntry = 244;
constexpr int kLastFreeEntry = 246;

// The class name of obj without its namespace.
std::string ClassName(const TObject& obj) {
  const char* mangled = typeid(obj).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : mangled;
  std::free(demangled);
  const auto colons = name.rfind("::");
  return colons == std::string::npos ? name : name.substr(colons + 2);
}

uint32_t RGBValue(const TPaletteEntry& e) {
  return e.peRed | static_cast<uint32_t>(e.peGreen) << 8 | static_cast<uint32_t>(e.peBlue) << 16;
}

TPaletteEntry EntryOf(uint32_t rgb, uint8_t flags) {
  return {static_cast<uint8_t>(rgb), static_cast<uint8_t>(rgb >> 8),
          static_cast<uint8_t>(rgb >> 16), flags};
}

// A colour-table quad: blue, green, red, flag in memory order.
uint32_t QuadOf(const TPaletteEntry& e, uint8_t flag) {
  return e.peBlue | static_cast<uint32_t>(e.peGreen) << 8 | static_cast<uint32_t>(e.peRed) << 16 |
         static_cast<uint32_t>(flag) << 24;
}

}  // namespace

TMMDIBCanvas::TMMDIBCanvas(const TObject* owner)
    : owner_class_(owner ? ClassName(*owner) : "TMMDIBCanvas") {
  CreateHandle();
}

int TMMDIBCanvas::Width() const {
  std::lock_guard lock(lock_);
  return width_;
}

int TMMDIBCanvas::Height() const {
  std::lock_guard lock(lock_);
  return height_;
}

void TMMDIBCanvas::SetWidth(int width) { SetSize(width, Height()); }

void TMMDIBCanvas::SetHeight(int height) { SetSize(Width(), height); }

void TMMDIBCanvas::SetSize(int width, int height) {
  std::lock_guard lock(lock_);
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  clip_ = {0, 0, width, height};
  needs_new_dib_ = true;
}

int TMMDIBCanvas::BitsPerPixel() const {
  std::lock_guard lock(lock_);
  return bits_;
}

void TMMDIBCanvas::SetBitsPerPixel(int bits) {
  std::lock_guard lock(lock_);
  if (bits == bits_) return;
  if (bits != 8 && bits != 24) throw EMMDIBError("Bitlength not supported yet");
  bits_ = bits;
  RecreateDIB();
}

bool TMMDIBCanvas::PaletteRealize() const {
  std::lock_guard lock(lock_);
  return palette_realize_;
}

void TMMDIBCanvas::SetPaletteRealize(bool value) {
  std::lock_guard lock(lock_);
  if (value == palette_realize_) return;
  palette_realize_ = value;
  RecreateDIB();
}

bool TMMDIBCanvas::PaletteMapped() const {
  std::lock_guard lock(lock_);
  return palette_mapped_;
}

void TMMDIBCanvas::SetPaletteMapped(bool value) {
  std::lock_guard lock(lock_);
  palette_mapped_ = value;
}

void TMMDIBCanvas::SetBackGroundBitmap(const QImage& bitmap) {
  std::lock_guard lock(lock_);
  background_ = bitmap;
  RecreateDIB();
}

bool TMMDIBCanvas::StretchBackGround() const {
  std::lock_guard lock(lock_);
  return stretch_background_;
}

void TMMDIBCanvas::SetStretchBackGround(bool value) {
  std::lock_guard lock(lock_);
  if (value == stretch_background_) return;
  stretch_background_ = value;
  if (!background_.isNull()) RecreateDIB();
}

void TMMDIBCanvas::SetLogPalette(const TLogPalette* palette) {
  std::lock_guard lock(lock_);
  user_palette_.reset();
  if (palette && palette->palVersion >= TLogPalette::kVersion && palette->palNumEntries <= 256) {
    user_palette_ = *palette;
  }
  RecreateDIB();
}

void TMMDIBCanvas::CreateHandle() {
  std::lock_guard lock(lock_);
  CheckDIB();
}

std::array<uint32_t, 256> TMMDIBCanvas::ColorTable() const {
  std::lock_guard lock(lock_);
  return color_table_;
}

void TMMDIBCanvas::CheckDIB() {
  if (needs_new_dib_) RecreateDIB();
}

void TMMDIBCanvas::RecreateDIB() {
  if (!idle_) {
    throw EMMDIBError(owner_class_ + ": Attempt to create new DIB while initialized for drawing");
  }
  CreateDIB();
}

int TMMDIBCanvas::Stride() const { return (std::max(width_, 1) * (bits_ / 8) + 3) / 4 * 4; }

void TMMDIBCanvas::CreateDIB() {
  pixels_.clear();
  background_pixels_.clear();
  if (CreateDIBHeader(bits_, 1, width_, height_, false).empty()) return;
  TLogPalette palette = CreateStaticColorPalette();
  BuildPalette(palette);
  AddAnimatedColors(palette);
  palette_ = palette.palPalEntry;
  for (int i = 0; i < 256; ++i) {
    const bool collapsing = i >= kFirstFreeEntry && i <= kLastFreeEntry - 1 && i < first_animated_;
    color_table_[i] = QuadOf(palette_[i], collapsing ? TPaletteEntry::PC_NOCOLLAPSE : 0);
  }
  const size_t size = static_cast<size_t>(Stride()) * std::max(height_, 1);
  if (!background_.isNull()) {
    background_pixels_.assign(size, 0);
    PaintBackground();
  }
  pixels_.assign(size, 0);  // black in both depths
  needs_new_dib_ = false;
  ++generation_;
}

uint64_t TMMDIBCanvas::Generation() const {
  std::lock_guard lock(lock_);
  return generation_;
}

void TMMDIBCanvas::BuildPalette(TLogPalette& palette) const {
  if (!background_.isNull()) {
    // Only a picture with a colour table brings colours of its own.
    const QList<QRgb> colors = background_.colorTable();
    for (int i = kFirstFreeEntry; i <= kLastBackgroundEntry && i < colors.size(); ++i) {
      palette.palPalEntry[i] = {static_cast<uint8_t>(qRed(colors[i])),
                                static_cast<uint8_t>(qGreen(colors[i])),
                                static_cast<uint8_t>(qBlue(colors[i])), 0};
    }
  } else if (user_palette_) {
    for (int i = kFirstFreeEntry; i <= kLastFreeEntry; ++i) {
      palette.palPalEntry[i] = user_palette_->palPalEntry[i];
      palette.palPalEntry[i].peFlags = TPaletteEntry::PC_NOCOLLAPSE;
    }
  }
}

void TMMDIBCanvas::AddAnimatedColors(TLogPalette& palette) {
  animated_.clear();
  const int count = requested_animated_;
  first_animated_ = count > 0 ? kLastFreeEntry + 1 - count : 256;
  uint32_t candidate = 0;
  for (int index = first_animated_; index <= kLastFreeEntry && count > 0; ++index) {
    const auto held = [&](uint32_t rgb) {
      for (const TPaletteEntry& e : palette.palPalEntry) {
        if (RGBValue(e) == rgb) return true;
      }
      return false;
    };
    while (held(candidate)) ++candidate;
    palette.palPalEntry[index] = EntryOf(candidate, TPaletteEntry::PC_RESERVED);
    animated_.push_back(palette.palPalEntry[index]);
  }
  // A batch in progress goes on with the new colours.
  if (animate_nesting_ > 0) pending_ = animated_;
}

void TMMDIBCanvas::PaintBackground() {
  const int width = std::max(width_, 1);
  const int height = std::max(height_, 1);
  QImage picture(width, height, QImage::Format_RGB32);
  picture.fill(Qt::black);
  {
    QPainter painter(&picture);
    if (stretch_background_) {
      painter.drawImage(QRect(0, 0, width, height), background_);
    } else {
      for (int y = 0; y < height; y += background_.height()) {
        for (int x = 0; x < width; x += background_.width()) painter.drawImage(x, y, background_);
      }
    }
  }
  std::unordered_map<QRgb, uint8_t> nearest;
  for (int y = 0; y < height; ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
    uint8_t* out = background_pixels_.data() + static_cast<size_t>(height - 1 - y) * Stride();
    for (int x = 0; x < width; ++x) {
      const QRgb c = in[x];
      if (bits_ == 24) {
        out[3 * x] = static_cast<uint8_t>(qBlue(c));
        out[3 * x + 1] = static_cast<uint8_t>(qGreen(c));
        out[3 * x + 2] = static_cast<uint8_t>(qRed(c));
        continue;
      }
      auto [it, fresh] = nearest.try_emplace(c, 0);
      if (fresh) it->second = static_cast<uint8_t>(NearestIndex(qRed(c), qGreen(c), qBlue(c)));
      out[x] = it->second;
    }
  }
}

uint32_t TMMDIBCanvas::NearestIndex(uint8_t red, uint8_t green, uint8_t blue) const {
  uint32_t best = 0;
  int best_distance = INT32_MAX;
  for (uint32_t i = 0; i < palette_.size(); ++i) {
    const int dr = palette_[i].peRed - red;
    const int dg = palette_[i].peGreen - green;
    const int db = palette_[i].peBlue - blue;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < best_distance) {
      best = i;
      best_distance = distance;
    }
  }
  return best;
}

uint32_t TMMDIBCanvas::NearestColor(TColor color) const {
  const TColor rgb = ColorToRGB(color);
  std::lock_guard lock(lock_);
  if (bits_ > 8) return rgb;
  return NearestIndex(static_cast<uint8_t>(rgb), static_cast<uint8_t>(rgb >> 8),
                      static_cast<uint8_t>(rgb >> 16));
}

void TMMDIBCanvas::SetDrawColor(TColor color) {
  const uint32_t value = NearestColor(color);
  std::lock_guard lock(lock_);
  state_.draw_value = bits_ > 8 ? value : value * 0x01010101u;
}

void TMMDIBCanvas::SetDrawIndex(uint32_t value) {
  std::lock_guard lock(lock_);
  state_.draw_value = bits_ > 8 ? value : (value & 0xFF) * 0x01010101u;
}

void TMMDIBCanvas::Notify(const TNotifyEvent& event) {
  if (event) event(this);
}

void TMMDIBCanvas::BeginDrawing() {
  lock_.lock();
  try {
    Notify(OnChanging);
    CheckDIB();
  } catch (...) {
    lock_.unlock();
    throw;
  }
  state_.bits = bits_;
  state_.bytes_per_pixel = bits_ / 8;
  state_.width = std::max(width_, 1);
  state_.height = std::max(height_, 1);
  state_.stride = Stride();
  state_.pixels = pixels_.empty() ? nullptr : pixels_.data();
  state_.clip = state_.pixels ? clip_ : TRect{};
  state_.current_x = 0;
  state_.current_y = 0;
  idle_ = false;
}

void TMMDIBCanvas::EndDrawing() {
  std::lock_guard lock(lock_);
  if (idle_) return;  // not drawing: nothing to end
  state_.current_x = state_.current_y = 0;
  state_.width = state_.height = state_.stride = 0;
  state_.pixels = nullptr;
  idle_ = true;
  lock_.unlock();  // the hold taken by BeginDrawing; the guard's stays for the event
  Notify(OnChange);
}

void TMMDIBCanvas::DrawToDC(QPainter& dc, const QRect& area, int src_x, int src_y) {
  if (!dc.isActive()) return;
  std::lock_guard lock(lock_);
  CheckDIB();
  if (pixels_.empty()) return;
  const int width = std::max(width_, 1);
  const int height = std::max(height_, 1);
  if (bits_ == 8) {
    // Looked up row by row into the painter's own format: an indexed image
    // would be converted through the painter's slow generic path on every blit.
    const QRect source = QRect(src_x, src_y, area.width(), area.height()) & QRect(0, 0, width, height);
    if (source.isEmpty()) return;
    QImage rgb(source.size(), QImage::Format_RGB32);
    std::array<QRgb, 256> colors;
    for (int i = 0; i < 256; ++i) colors[i] = 0xFF000000u | (color_table_[i] & 0xFFFFFF);
    for (int y = 0; y < source.height(); ++y) {
      const uint8_t* in = pixels_.data() +
                          static_cast<ptrdiff_t>(height - 1 - (source.top() + y)) * Stride() + source.left();
      auto* out = reinterpret_cast<QRgb*>(rgb.scanLine(y));
      for (int x = 0; x < source.width(); ++x) out[x] = colors[in[x]];
    }
    dc.drawImage(area.topLeft() + (source.topLeft() - QPoint(src_x, src_y)), rgb);
    return;
  }
  // The buffer read top-down is the picture upside down.
  QImage upside_down(pixels_.data(), width, height, Stride(), QImage::Format_BGR888);
  const QRect source(src_x, height - src_y - area.height(), area.width(), area.height());
  dc.drawImage(area.topLeft(), upside_down.copy(source).mirrored(false, true));
}

int TMMDIBCanvas::AnimatedCount() const {
  std::lock_guard lock(lock_);
  return static_cast<int>(animated_.size());
}

void TMMDIBCanvas::SetAnimatedColors(int count) {
  if (count < 0 || count > kMaxAnimatedColors) {
    throw EMMDIBError("Invalid count of animated colors");
  }
  std::lock_guard lock(lock_);
  if (count == static_cast<int>(animated_.size())) return;
  requested_animated_ = count;
  RecreateDIB();
}

int TMMDIBCanvas::AnimatedIndex(int i) const {
  std::lock_guard lock(lock_);
  return first_animated_ + i;
}

void TMMDIBCanvas::SetAnimatedColor(int i, TColor color) {
  const TPaletteEntry entry = EntryOf(ColorToRGB(color), TPaletteEntry::PC_RESERVED);
  std::lock_guard lock(lock_);
  if (i < 0 || i >= static_cast<int>(animated_.size())) {
    throw EMMDIBError("Invalidate animated color index");
  }
  if (animate_nesting_ > 0) {
    pending_[i] = entry;
    return;
  }
  palette_[first_animated_ + i] = entry;
  color_table_[first_animated_ + i] = QuadOf(entry, 0);
  ++generation_;
  Notify(OnChange);
}

void TMMDIBCanvas::BeginAnimate() {
  std::lock_guard lock(lock_);
  if (animate_nesting_++ > 0 || animated_.empty()) return;
  pending_.assign(palette_.begin() + first_animated_,
                  palette_.begin() + first_animated_ + animated_.size());
}

void TMMDIBCanvas::EndAnimate() {
  std::lock_guard lock(lock_);
  if (animate_nesting_ == 0 || --animate_nesting_ > 0 || animated_.empty()) return;
  for (size_t i = 0; i < pending_.size(); ++i) {
    palette_[first_animated_ + i] = pending_[i];
    color_table_[first_animated_ + i] = QuadOf(pending_[i], 0);
  }
  pending_.clear();
  ++generation_;
  Notify(OnChange);
}

}  // namespace pmx
