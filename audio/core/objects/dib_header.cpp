#include "audio/core/objects/dib_header.h"

#include <algorithm>
#include <new>

namespace pmx {
namespace {

template <class T>
void Put(uint8_t*& out, T value) {
  for (size_t i = 0; i < sizeof(T); ++i)
    *out++ = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

template <class T>
T Take(const uint8_t*& in) {
  uint64_t value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<uint64_t>(*in++) << (8 * i);
  return static_cast<T>(value);
}

struct StaticColor {
  int index;
  uint8_t red, green, blue;
};

constexpr StaticColor kStaticColors[] = {
    {0, 0, 0, 0},         {1, 128, 0, 0},     {2, 0, 128, 0},       {3, 128, 128, 0},
    {4, 0, 0, 128},       {5, 128, 0, 128},   {6, 0, 128, 128},     {7, 192, 192, 192},
    {8, 192, 220, 192},   {9, 166, 202, 240}, {246, 255, 251, 240}, {247, 160, 160, 164},
    {248, 128, 128, 128}, {249, 255, 0, 0},   {250, 0, 255, 0},     {251, 255, 255, 0},
    {252, 0, 0, 255},     {253, 255, 0, 255}, {254, 0, 255, 255},   {255, 255, 255, 255},
};

constexpr uint32_t kColorTableSize = 256 * 4;

}  // namespace

void TBitmapInfoHeader::WriteTo(uint8_t* out) const {
  Put(out, biSize);
  Put(out, biWidth);
  Put(out, biHeight);
  Put(out, biPlanes);
  Put(out, biBitCount);
  Put(out, biCompression);
  Put(out, biSizeImage);
  Put(out, biXPelsPerMeter);
  Put(out, biYPelsPerMeter);
  Put(out, biClrUsed);
  Put(out, biClrImportant);
}

TBitmapInfoHeader TBitmapInfoHeader::ReadFrom(const uint8_t* in) {
  TBitmapInfoHeader h;
  h.biSize = Take<uint32_t>(in);
  h.biWidth = Take<int32_t>(in);
  h.biHeight = Take<int32_t>(in);
  h.biPlanes = Take<uint16_t>(in);
  h.biBitCount = Take<uint16_t>(in);
  h.biCompression = Take<uint32_t>(in);
  h.biSizeImage = Take<uint32_t>(in);
  h.biXPelsPerMeter = Take<int32_t>(in);
  h.biYPelsPerMeter = Take<int32_t>(in);
  h.biClrUsed = Take<uint32_t>(in);
  h.biClrImportant = Take<uint32_t>(in);
  return h;
}

uint32_t DIBTotalSize(const TBitmapInfoHeader& header) {
  return header.biSize + header.biSizeImage + 4 * header.biClrUsed;
}

TLogPalette CreateStaticColorPalette() {
  TLogPalette palette;
  for (const StaticColor& c : kStaticColors) {
    palette.palPalEntry[c.index] = TPaletteEntry{c.red, c.green, c.blue, 0};
  }
  return palette;
}

std::vector<uint8_t> CreateDIBHeader(int bits, int orientation, int width, int height,
                                     bool with_image) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (bits > 8 && bits != 24) bits = 24;
  TBitmapInfoHeader header;
  header.biWidth = width;
  header.biHeight = height * orientation;
  header.biBitCount = static_cast<uint16_t>(bits);
  if (with_image) {
    header.biSizeImage = DIBRowSize(static_cast<uint32_t>(width) * bits) * height;
  }
  header.biClrUsed = bits == 4 ? 16 : bits == 8 ? 256 : 0;
  std::vector<uint8_t> block;
  try {
    block.assign(TBitmapInfoHeader::kSize + kColorTableSize + header.biSizeImage, 0);
  } catch (const std::bad_alloc&) {
    return {};
  }
  header.WriteTo(block.data());
  return block;
}

}  // namespace pmx
