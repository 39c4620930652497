// The program's icon as the backends receive it: a Windows .ico with images of
// 32, 16, 20, 24, 48 and 256 pixels square, 256 colours each. The file is read back the way a
// system reads it, and each picture is checked for what it must show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "ui/resource.h"

namespace {

constexpr std::size_t kDirSize = 6;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kPaletteSize = 256 * 4;

unsigned U8(const IconData& ico, std::size_t at) { return ico.bytes[at]; }
unsigned U16(const IconData& ico, std::size_t at) { return U8(ico, at) | U8(ico, at + 1) << 8; }
std::uint32_t U32(const IconData& ico, std::size_t at) {
  return U16(ico, at) | static_cast<std::uint32_t>(U16(ico, at + 2)) << 16;
}

struct Rgb {
  unsigned r, g, b;
  bool operator<(const Rgb& o) const { return r != o.r ? r < o.r : g != o.g ? g < o.g : b < o.b; }
};

// One image decoded from the file: its palette, and per pixel (top row first)
// the palette index and whether the AND mask leaves it opaque.
struct Picture {
  int size = 0;
  std::vector<Rgb> palette;
  std::vector<unsigned> index;
  std::vector<bool> opaque;

  Rgb At(int x, int y) const { return palette[index[y * size + x]]; }
  bool Opaque(int x, int y) const { return opaque[y * size + x]; }
};

std::size_t XorRowBytes(int size) { return (static_cast<std::size_t>(size) + 3) / 4 * 4; }
std::size_t AndRowBytes(int size) { return (static_cast<std::size_t>(size) + 31) / 32 * 4; }

// Decodes the image that directory entry n points at; the file's structure is
// checked by the tests, this only reads it.
Picture Decode(const IconData& ico, std::size_t n) {
  const std::size_t entry = kDirSize + n * kEntrySize;
  const std::size_t at = U32(ico, entry + 12);
  Picture p;
  p.size = static_cast<int>(U32(ico, at + 4));
  for (std::size_t i = 0; i < 256; ++i) {
    const std::size_t c = at + kInfoHeaderSize + i * 4;
    p.palette.push_back({U8(ico, c + 2), U8(ico, c + 1), U8(ico, c)});
  }
  const std::size_t xorAt = at + kInfoHeaderSize + kPaletteSize;
  const std::size_t andAt = xorAt + XorRowBytes(p.size) * static_cast<std::size_t>(p.size);
  for (int y = 0; y < p.size; ++y) {
    const std::size_t row = static_cast<std::size_t>(p.size - 1 - y);  // stored bottom-up
    for (int x = 0; x < p.size; ++x) {
      const std::size_t ux = static_cast<std::size_t>(x);
      p.index.push_back(U8(ico, xorAt + row * XorRowBytes(p.size) + ux));
      const unsigned bits = U8(ico, andAt + row * AndRowBytes(p.size) + ux / 8);
      p.opaque.push_back((bits & (0x80u >> (ux % 8))) == 0);
    }
  }
  return p;
}

bool IsBlue(const Rgb& c) { return c.b >= 150 && c.b > c.r + 80 && c.b > c.g + 40; }
bool IsSilver(const Rgb& c) {
  const unsigned lo = std::min({c.r, c.g, c.b}), hi = std::max({c.r, c.g, c.b});
  return lo >= 170 && hi - lo <= 48;
}
bool IsGreen(const Rgb& c) { return c.g > c.r + 15 && c.g > c.b + 15; }

TEST(IconFile, HoldsAnImageOf256ColoursForEachScaling) {
  const IconData ico = FindIconData(IDR_MAINFRAME);
  // The system's standard sizes first; then 125 %, 150 %, 300 % and large views.
  const int sizes[] = {32, 16, 20, 24, 48, 256};
  const std::size_t count = sizeof sizes / sizeof sizes[0];
  ASSERT_NE(ico.bytes, nullptr);
  ASSERT_GE(ico.size, kDirSize + count * kEntrySize);
  EXPECT_EQ(U16(ico, 0), 0u);  // reserved
  EXPECT_EQ(U16(ico, 2), 1u);  // an icon, not a cursor
  ASSERT_EQ(U16(ico, 4), count);

  std::size_t expectedAt = kDirSize + count * kEntrySize;
  for (std::size_t n = 0; n < count; ++n) {
    SCOPED_TRACE("image " + std::to_string(n));
    const int size = sizes[n];
    const std::size_t entry = kDirSize + n * kEntrySize;
    EXPECT_EQ(U8(ico, entry), static_cast<unsigned>(size % 256));  // 0 stands for 256
    EXPECT_EQ(U8(ico, entry + 1), static_cast<unsigned>(size % 256));
    EXPECT_EQ(U8(ico, entry + 2), 0u);  // 0 stands for 256 colours
    EXPECT_EQ(U8(ico, entry + 3), 0u);
    EXPECT_EQ(U16(ico, entry + 4), 1u);  // planes
    EXPECT_EQ(U16(ico, entry + 6), 8u);  // bits per pixel

    // Header, palette, 8-bit XOR bitmap and 1-bit AND mask, rows padded to
    // four bytes; the images follow each other with nothing in between.
    const std::size_t pixels = static_cast<std::size_t>(size);
    const std::size_t bitmaps = (XorRowBytes(size) + AndRowBytes(size)) * pixels;
    const std::size_t length = U32(ico, entry + 8);
    const std::size_t at = U32(ico, entry + 12);
    EXPECT_EQ(length, kInfoHeaderSize + kPaletteSize + bitmaps);
    ASSERT_EQ(at, expectedAt);
    ASSERT_LE(at + length, ico.size);
    expectedAt += length;

    EXPECT_EQ(U32(ico, at), kInfoHeaderSize);
    EXPECT_EQ(U32(ico, at + 4), pixels);
    EXPECT_EQ(U32(ico, at + 8), 2 * pixels);  // XOR and AND halves
    EXPECT_EQ(U16(ico, at + 12), 1u);
    EXPECT_EQ(U16(ico, at + 14), 8u);
    EXPECT_EQ(U32(ico, at + 16), 0u);  // uncompressed
    const std::uint32_t used = U32(ico, at + 32);
    EXPECT_TRUE(used == 0 || used == 256) << used;
  }
  EXPECT_EQ(expectedAt, ico.size);
}

TEST(IconFile, PaletteStartsWithTheSixteenStandardColours) {
  const Picture p = Decode(FindIconData(IDR_MAINFRAME), 0);
  const Rgb standard[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                            {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                            {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                            {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  for (int i = 0; i < 16; ++i) {
    EXPECT_FALSE(p.palette[i] < standard[i] || standard[i] < p.palette[i]) << "entry " << i;
  }
  EXPECT_EQ(std::set<Rgb>(p.palette.begin(), p.palette.end()).size(), 256u);
}

TEST(IconFile, OnlyTheMainFrameIconExists) {
  for (UINT id : {0u, 1u, 102u, 127u, 129u}) {
    const IconData none = FindIconData(id);
    EXPECT_EQ(none.bytes, nullptr) << id;
    EXPECT_EQ(none.size, 0u) << id;
  }
}

// Each image, checked for its size with thresholds that scale with it.
class IconPicture : public ::testing::TestWithParam<std::size_t> {
 protected:
  Picture picture_ = Decode(FindIconData(IDR_MAINFRAME), GetParam());
  int n_ = picture_.size;
};

TEST_P(IconPicture, StandsOnATransparentGround) {
  const Picture& p = picture_;
  int clear = 0;
  for (int y = 0; y < n_; ++y) {
    for (int x = 0; x < n_; ++x) {
      if (p.Opaque(x, y)) continue;
      ++clear;
      // Where the mask lets the screen through, the XOR bitmap must not
      // change it: its colour there is black.
      const Rgb c = p.At(x, y);
      EXPECT_EQ(c.r + c.g + c.b, 0u) << x << "," << y;
    }
  }
  EXPECT_GT(clear, 0);
  EXPECT_GT(n_ * n_ - clear, n_ * n_ / 2) << "the figure fills most of the image";
  for (int corner : {0, 1, 2, 3}) {
    EXPECT_FALSE(p.Opaque(corner % 2 ? n_ - 1 : 0, corner / 2 ? n_ - 1 : 0)) << corner;
  }
}

TEST_P(IconPicture, HasABlueArrowPointingUpAtTheBottomCentre) {
  const Picture& p = picture_;
  int inside = 0;
  std::vector<int> width(static_cast<std::size_t>(n_));
  for (int y = 0; y < n_; ++y) {
    for (int x = 0; x < n_; ++x) {
      if (!p.Opaque(x, y) || !IsBlue(p.At(x, y))) continue;
      const bool bottomCentre = y >= n_ / 2 && x >= n_ / 4 && x < 3 * n_ / 4;
      EXPECT_TRUE(bottomCentre) << "blue at " << x << "," << y;
      ++inside;
      ++width[static_cast<std::size_t>(y)];
    }
  }
  EXPECT_GE(inside, n_ / 2);
  // Pointing up: the arrow's first blue row is narrower than its widest.
  std::size_t top = 0, widest = 0;
  while (top < width.size() && width[top] == 0) ++top;
  for (std::size_t y = 0; y < width.size(); ++y) {
    if (width[y] > width[widest]) widest = y;
  }
  ASSERT_LT(top, width.size());
  EXPECT_LT(top, widest);
  EXPECT_LT(width[top], width[widest]);
}

TEST_P(IconPicture, HasASilverDiscBehindAndAGreenDisplayInFront) {
  const Picture& p = picture_;
  int silverUpperRight = 0, greenLeft = 0;
  for (int y = 0; y < n_; ++y) {
    for (int x = 0; x < n_; ++x) {
      if (!p.Opaque(x, y)) continue;
      if (x >= n_ / 2 && y < n_ / 2 && IsSilver(p.At(x, y))) ++silverUpperRight;
      if (x < n_ / 2 && IsGreen(p.At(x, y))) ++greenLeft;
    }
  }
  EXPECT_GE(silverUpperRight, n_ * n_ / 16);
  EXPECT_GE(greenLeft, n_ / 4);
}

TEST_P(IconPicture, IsShadedWithManyColours) {
  const Picture& p = picture_;
  std::set<Rgb> colours;
  for (int y = 0; y < n_; ++y) {
    for (int x = 0; x < n_; ++x) {
      if (p.Opaque(x, y)) colours.insert(p.At(x, y));
    }
  }
  // Far beyond what the 16 standard colours could give, and half the palette
  // where the image is large enough to use it.
  EXPECT_GE(colours.size(), static_cast<std::size_t>(std::min(n_ * 2, 128))) << n_;
}

std::string SizeName(const ::testing::TestParamInfo<std::size_t>& image) {
  const int sizes[] = {32, 16, 20, 24, 48, 256};
  return "Size" + std::to_string(sizes[image.param]);
}

INSTANTIATE_TEST_SUITE_P(EverySize, IconPicture, ::testing::Values(0u, 1u, 2u, 3u, 4u, 5u),
                         SizeName);

}  // namespace
