#include "audio/core/objects/dib_header.h"

#include <gtest/gtest.h>

namespace pmx {
namespace {

TEST(DIBHeader, SizesOfAPackedBitmap) {
  EXPECT_EQ(DIBRowSize(40), 8u);
  EXPECT_EQ(DIBRowSize(24 * 3), 12u);
  const std::vector<uint8_t> block = CreateDIBHeader(8, 1, 5, 3, true);
  ASSERT_EQ(block.size(), 40u + 1024u + 24u);
  const TBitmapInfoHeader h = TBitmapInfoHeader::ReadFrom(block.data());
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 5);
  EXPECT_EQ(h.biHeight, 3);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 8);
  EXPECT_EQ(h.biSizeImage, 24u);
  EXPECT_EQ(h.biClrUsed, 256u);
  EXPECT_EQ(DIBTotalSize(h), 1088u);
  // Little-endian on disk: the width field is bytes 4..7.
  EXPECT_EQ(block[4], 5);
  EXPECT_EQ(block[5], 0);
}

TEST(DIBHeader, OddRequestsAreMadeValid) {
  const TBitmapInfoHeader h =
      TBitmapInfoHeader::ReadFrom(CreateDIBHeader(16, -1, 0, 2, true).data());
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biWidth, 1);
  EXPECT_EQ(h.biHeight, -2);
  EXPECT_EQ(h.biClrUsed, 0u);
  EXPECT_EQ(h.biSizeImage, 8u);
  EXPECT_EQ(TBitmapInfoHeader::ReadFrom(CreateDIBHeader(8, 1, 5, 3, false).data()).biSizeImage, 0u);
}

TEST(DIBHeader, StaticPalette) {
  const TLogPalette p = CreateStaticColorPalette();
  EXPECT_EQ(p.palVersion, 0x300);
  EXPECT_EQ(p.palNumEntries, 256);
  EXPECT_EQ(p.palPalEntry[8], (TPaletteEntry{192, 220, 192, 0}));
  EXPECT_EQ(p.palPalEntry[9], (TPaletteEntry{166, 202, 240, 0}));
  EXPECT_EQ(p.palPalEntry[246], (TPaletteEntry{255, 251, 240, 0}));
  EXPECT_EQ(p.palPalEntry[247], (TPaletteEntry{160, 160, 164, 0}));
  EXPECT_EQ(p.palPalEntry[254], (TPaletteEntry{0, 255, 255, 0}));
  EXPECT_EQ(p.palPalEntry[100], (TPaletteEntry{0, 0, 0, 0}));
}

}  // namespace
}  // namespace pmx
