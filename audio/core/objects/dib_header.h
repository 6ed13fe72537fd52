#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace pmx {

// The 40-byte header of a device-independent bitmap.
struct TBitmapInfoHeader {
  static constexpr uint32_t kSize = 40;
  static constexpr uint32_t BI_RGB = 0;

  uint32_t biSize = kSize;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // positive: rows stored bottom-up
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = BI_RGB;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;

  // Little-endian, as it stands in files.
  void WriteTo(uint8_t* bytes) const;
  static TBitmapInfoHeader ReadFrom(const uint8_t* bytes);
};

// A palette entry; flags as the palette knows them.
struct TPaletteEntry {
  static constexpr uint8_t PC_RESERVED = 0x01;
  static constexpr uint8_t PC_NOCOLLAPSE = 0x04;

  uint8_t peRed = 0;
  uint8_t peGreen = 0;
  uint8_t peBlue = 0;
  uint8_t peFlags = 0;

  bool operator==(const TPaletteEntry&) const = default;
};

struct TLogPalette {
  static constexpr uint16_t kVersion = 0x300;

  uint16_t palVersion = kVersion;
  uint16_t palNumEntries = 256;
  std::array<TPaletteEntry, 256> palPalEntry{};
};

// Byte length of a row of bits bits, padded to whole 32-bit words.
constexpr uint32_t DIBRowSize(uint32_t bits) { return (bits + 31) / 32 * 4; }

// Header, pixels and colour table together.
uint32_t DIBTotalSize(const TBitmapInfoHeader& header);

// A 256-entry palette holding the 20 static colours in entries 0-9 and 246-255;
// the others black.
TLogPalette CreateStaticColorPalette();

// A zeroed packed bitmap: the header, a 256-entry colour table and, with_image,
// room for the pixels. Width and height are raised to 1; bits above 8 other than
// 24 become 24; the stored height is height x orientation (1 bottom-up, -1
// top-down). Empty when the memory cannot be had.
std::vector<uint8_t> CreateDIBHeader(int bits, int orientation, int width, int height,
                                     bool with_image);

}  // namespace pmx
