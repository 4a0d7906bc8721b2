// Area averaging of pictures: exact integer weights on a common grid of
// source and result pixels, one pass across and one down.
#include <cstdint>
#include <vector>

#include "framework/picture.h"

namespace {

// How much of each source pixel one result pixel covers. On a grid of
// source x result units, source pixel i spans [i * result, (i + 1) * result)
// and result pixel j spans [j * source, (j + 1) * source); the weights of
// one result pixel add up to `source`.
struct Cover {
  int First = 0;
  std::vector<std::uint32_t> Weights;
};

std::vector<Cover> Covers(int source, int result) {
  std::vector<Cover> covers(static_cast<std::size_t>(result));
  const std::int64_t s = source;
  const std::int64_t r = result;
  for (std::int64_t j = 0; j < r; ++j) {
    const std::int64_t low = j * s;
    const std::int64_t high = (j + 1) * s;
    Cover& cover = covers[static_cast<std::size_t>(j)];
    cover.First = static_cast<int>(low / r);
    for (std::int64_t i = low / r; i * r < high; ++i) {
      const std::int64_t from = i * r > low ? i * r : low;
      const std::int64_t to = (i + 1) * r < high ? (i + 1) * r : high;
      cover.Weights.push_back(static_cast<std::uint32_t>(to - from));
    }
  }
  return covers;
}

}  // namespace

TBitmap ResampleByArea(const TBitmap& source, int width, int height) {
  TBitmap result;
  if (source.Empty() || width < 1 || height < 1) return result;
  const std::vector<Cover> across = Covers(source.Width, width);
  const std::vector<Cover> down = Covers(source.Height, height);
  const std::size_t channels = static_cast<std::size_t>(width) * 3;

  // Across: sums weighted by the horizontal cover (each up to 255 x source width).
  std::vector<std::uint64_t> rows(static_cast<std::size_t>(source.Height) * channels, 0);
  for (int y = 0; y < source.Height; ++y) {
    const std::uint8_t* in = source.Rgb.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(source.Width) * 3;
    std::uint64_t* out = rows.data() + static_cast<std::size_t>(y) * channels;
    for (int x = 0; x < width; ++x) {
      const Cover& cover = across[static_cast<std::size_t>(x)];
      for (std::size_t k = 0; k < cover.Weights.size(); ++k) {
        const std::uint8_t* pixel = in + (static_cast<std::size_t>(cover.First) + k) * 3;
        for (std::size_t c = 0; c < 3; ++c) out[static_cast<std::size_t>(x) * 3 + c] += pixel[c] * std::uint64_t{cover.Weights[k]};
      }
    }
  }

  // Down, then the mean: divided by the whole area, rounded to nearest.
  const std::uint64_t area = static_cast<std::uint64_t>(source.Width) * static_cast<std::uint64_t>(source.Height);
  result.Width = width;
  result.Height = height;
  result.Rgb.assign(static_cast<std::size_t>(height) * channels, 0);
  std::vector<std::uint64_t> sums(channels);
  for (int y = 0; y < height; ++y) {
    const Cover& cover = down[static_cast<std::size_t>(y)];
    sums.assign(channels, 0);
    for (std::size_t k = 0; k < cover.Weights.size(); ++k) {
      const std::uint64_t* row = rows.data() + (static_cast<std::size_t>(cover.First) + k) * channels;
      for (std::size_t i = 0; i < channels; ++i) sums[i] += row[i] * cover.Weights[k];
    }
    std::uint8_t* out = result.Rgb.data() + static_cast<std::size_t>(y) * channels;
    for (std::size_t i = 0; i < channels; ++i) out[i] = static_cast<std::uint8_t>((sums[i] + area / 2) / area);
  }
  return result;
}
