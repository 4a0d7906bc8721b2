// Scaling rules and the picture at other densities: MulDiv rounding, the
// choice of libjpeg's M/8 scaling, area averaging, and the background
// picture decoded for 144 and 192 dpi.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "framework/picture.h"
#include "framework/scaling.h"

namespace {

TEST(Scaling, MulDivRoundsHalvesAwayFromZero) {
  const struct {
    int Number, Numerator, Denominator, Result;
  } cases[] = {
      {11, 144, 96, 17},  {15, 144, 96, 23},   {13, 144, 96, 20},  {-13, 144, 96, -20}, {1, 144, 96, 2},
      {3, 120, 96, 4},    {395, 144, 96, 593}, {442, 192, 96, 884}, {7, 5, -2, -18},     {0, 144, 96, 0},
      {1, 1, 0, -1},      {1 << 30, 8, 1, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(framework::MulDivRound(c.Number, c.Numerator, c.Denominator), c.Result)
        << c.Number << " * " << c.Numerator << " / " << c.Denominator;
  }
  EXPECT_EQ(framework::ScaleFromDesign(11, 96), 11);
  EXPECT_EQ(framework::UsableDpi(0), 96);
  EXPECT_EQ(framework::UsableDpi(-5), 96);
  EXPECT_EQ(framework::UsableDpi(144), 144);
}

// The smallest M/8 that decodes at least the asked size (libjpeg rounds up).
TEST(PictureScaling, SmallestEighthsThatReachTheSize) {
  const struct {
    int Width, Height, TargetWidth, TargetHeight, Eighths;
  } cases[] = {
      {440, 395, 440, 395, 8},   // 96 dpi: as it is
      {440, 395, 660, 593, 12},  // 144 dpi: 660 x 593 (592.5 rounded up by libjpeg)
      {440, 395, 880, 790, 16},  // 192 dpi
      {440, 395, 550, 494, 10},  // 120 dpi
      {440, 395, 458, 411, 9},   // 100 dpi: 8/8 is too small
      {440, 395, 770, 691, 14},  // 168 dpi
      {440, 395, 1760, 1580, 16},  // 384 dpi: beyond libjpeg's largest, which is 16/8
      {8, 8, 2, 1, 2},           // the taller side decides
      {8, 8, 1, 3, 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JpegScaleEighths(c.Width, c.Height, c.TargetWidth, c.TargetHeight), c.Eighths)
        << c.TargetWidth << " x " << c.TargetHeight;
  }
}

TBitmap Picture(int width, int height, const std::vector<std::uint32_t>& pixels) {
  TBitmap picture;
  picture.Width = width;
  picture.Height = height;
  for (std::uint32_t rgb : pixels) {
    picture.Rgb.push_back(static_cast<std::uint8_t>(rgb >> 16));
    picture.Rgb.push_back(static_cast<std::uint8_t>(rgb >> 8));
    picture.Rgb.push_back(static_cast<std::uint8_t>(rgb));
  }
  return picture;
}

std::vector<std::uint32_t> Pixels(const TBitmap& picture) {
  std::vector<std::uint32_t> pixels;
  for (int y = 0; y < picture.Height; ++y) {
    for (int x = 0; x < picture.Width; ++x) pixels.push_back(picture.Pixel(x, y));
  }
  return pixels;
}

TEST(PictureScaling, AreaAveragingWeighsWhatEachPixelCovers) {
  // Halving: each result pixel is the mean of two (rounded to nearest).
  EXPECT_EQ(Pixels(ResampleByArea(Picture(4, 1, {0x000000, 0x646464, 0xC8C8C8, 0xFFFFFF}), 2, 1)),
            (std::vector<std::uint32_t>{0x323232, 0xE4E4E4}));
  // Three to two: the middle pixel counts half for each side.
  EXPECT_EQ(Pixels(ResampleByArea(Picture(3, 1, {0x000000, 0x303030, 0x909090}), 2, 1)),
            (std::vector<std::uint32_t>{0x101010, 0x707070}));
  // A 2 x 2 checkerboard to one pixel is grey, where nearest-neighbour would
  // give black or white; the channels are averaged each on its own.
  EXPECT_EQ(Pixels(ResampleByArea(Picture(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}), 1, 1)),
            (std::vector<std::uint32_t>{0x808080}));
  // Down as well as across: a column of four to two.
  EXPECT_EQ(Pixels(ResampleByArea(Picture(1, 4, {0x000000, 0x0A0A0A, 0x141414, 0x1E1E1E}), 1, 2)),
            (std::vector<std::uint32_t>{0x050505, 0x191919}));
  // The same size gives the same picture; larger spreads each pixel over its area.
  const TBitmap two = Picture(2, 1, {0x000000, 0x787878});
  EXPECT_EQ(Pixels(ResampleByArea(two, 2, 1)), Pixels(two));
  EXPECT_EQ(Pixels(ResampleByArea(two, 3, 1)), (std::vector<std::uint32_t>{0x000000, 0x3C3C3C, 0x787878}));
  EXPECT_TRUE(ResampleByArea(TBitmap{}, 4, 4).Empty());
}

std::vector<unsigned char> ReadAsset() {
  std::ifstream file(NVK_BACKGROUND_JPG, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

// The mean difference per channel between two pictures of one size.
double MeanDifference(const TBitmap& a, const TBitmap& b) {
  long long sum = 0;
  for (std::size_t i = 0; i < a.Rgb.size(); ++i) sum += std::abs(int{a.Rgb[i]} - int{b.Rgb[i]});
  return static_cast<double>(sum) / static_cast<double>(a.Rgb.size());
}

TEST(PictureScaling, BackgroundAtEachDensity) {
  const std::vector<unsigned char> bytes = ReadAsset();
  ASSERT_FALSE(bytes.empty());
  TBitmap at96;
  ASSERT_TRUE(DecodeJpeg(bytes.data(), bytes.size(), at96));
  TBitmap same;
  ASSERT_TRUE(DecodeJpegAtDpi(bytes.data(), bytes.size(), 96, same));
  EXPECT_EQ(same.Rgb, at96.Rgb) << "96 dpi decodes exactly as before";

  const struct {
    int Dpi, Width, Height;
  } densities[] = {{144, 660, 593}, {192, 880, 790}, {120, 550, 494}, {100, 458, 411}};
  for (const auto& d : densities) {
    SCOPED_TRACE(d.Dpi);
    TBitmap scaled;
    ASSERT_TRUE(DecodeJpegAtDpi(bytes.data(), bytes.size(), d.Dpi, scaled));
    ASSERT_EQ(scaled.Width, d.Width);
    ASSERT_EQ(scaled.Height, d.Height);
    ASSERT_EQ(scaled.Rgb.size(), static_cast<std::size_t>(d.Width) * static_cast<std::size_t>(d.Height) * 3);
    // Close to the 96-dpi picture enlarged, yet sharper than it: libjpeg
    // scaled the coefficients, so it is not the enlarged 96-dpi picture.
    const TBitmap enlarged = ResampleByArea(at96, d.Width, d.Height);
    const double difference = MeanDifference(scaled, enlarged);
    EXPECT_LT(difference, 4.0);
    EXPECT_GT(difference, 0.0);
  }
  // Damaged input fails at any dpi, and so does a dpi of none.
  TBitmap picture;
  EXPECT_FALSE(DecodeJpegAtDpi(bytes.data(), 20, 144, picture));
  EXPECT_TRUE(picture.Empty());
  EXPECT_FALSE(DecodeJpegAtDpi(bytes.data(), bytes.size(), 0, picture));
}

}  // namespace
