#include "tools/image_io/Scale.h"

#include <algorithm>

namespace ifzvk::imageio {
namespace {

// One source pixel's share of a target pixel.
struct Share {
  std::size_t index;
  std::uint64_t weight;
};

// Along one direction, measured in units of 1 / (source * target): source
// pixel i covers [i * target, (i + 1) * target) and target pixel t covers
// [t * source, (t + 1) * source). The weights of each target pixel add up to
// `source`.
std::vector<std::vector<Share>> Shares(int source, int target) {
  const auto s = static_cast<std::uint64_t>(source);
  const auto t = static_cast<std::uint64_t>(target);
  std::vector<std::vector<Share>> shares(static_cast<std::size_t>(target));
  for (std::uint64_t out = 0; out < t; ++out) {
    const std::uint64_t begin = out * s;
    const std::uint64_t end = begin + s;
    for (std::uint64_t in = begin / t; in * t < end; ++in) {
      const std::uint64_t weight = std::min(end, (in + 1) * t) - std::max(begin, in * t);
      if (weight > 0) shares[out].push_back({static_cast<std::size_t>(in), weight});
    }
  }
  return shares;
}

}  // namespace

Size FitWithin(Size picture, int box) {
  if (picture.width <= box && picture.height <= box) return picture;
  const auto w = static_cast<std::int64_t>(picture.width);
  const auto h = static_cast<std::int64_t>(picture.height);
  const auto longer = std::max(w, h);
  const auto scaled = [&](std::int64_t side) {  // side * box / longer, rounded, at least 1
    return static_cast<int>(std::max<std::int64_t>(1, (side * box + longer / 2) / longer));
  };
  return {scaled(w), scaled(h)};
}

std::vector<std::uint32_t> ShrinkByAreaAverage(const std::vector<std::uint32_t>& bgrxTopDown, Size source,
                                               Size target) {
  const auto columns = Shares(source.width, target.width);
  const auto rows = Shares(source.height, target.height);
  const auto sourceWidth = static_cast<std::size_t>(source.width);
  const auto targetWidth = static_cast<std::size_t>(target.width);
  // Every target pixel's weights add up to this; the sums below stay within
  // 255 times it, far inside 64 bits for any picture that fits in memory.
  const std::uint64_t total = static_cast<std::uint64_t>(source.width) * static_cast<std::uint64_t>(source.height);

  std::vector<std::uint32_t> result(targetWidth * static_cast<std::size_t>(target.height));
  std::vector<std::uint64_t> sums(targetWidth * 3);
  std::vector<std::uint64_t> row(targetWidth * 3);
  for (std::size_t y = 0; y < rows.size(); ++y) {
    std::fill(sums.begin(), sums.end(), 0);
    for (const Share& sourceRow : rows[y]) {
      const std::uint32_t* line = &bgrxTopDown[sourceRow.index * sourceWidth];
      std::fill(row.begin(), row.end(), 0);
      for (std::size_t x = 0; x < targetWidth; ++x) {
        for (const Share& column : columns[x]) {
          const std::uint32_t pixel = line[column.index];
          for (std::size_t c = 0; c < 3; ++c) row[3 * x + c] += ((pixel >> (8 * c)) & 0xFFu) * column.weight;
        }
      }
      for (std::size_t i = 0; i < sums.size(); ++i) sums[i] += row[i] * sourceRow.weight;
    }
    for (std::size_t x = 0; x < targetWidth; ++x) {
      std::uint32_t pixel = 0xFF000000u;
      for (std::size_t c = 0; c < 3; ++c)
        pixel |= static_cast<std::uint32_t>((sums[3 * x + c] + total / 2) / total) << (8 * c);
      result[y * targetWidth + x] = pixel;
    }
  }
  return result;
}

}  // namespace ifzvk::imageio
