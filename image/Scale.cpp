#include "image/Scale.h"

#include <algorithm>
#include <memory>
#include <new>

namespace qoru {
namespace {

// Along one direction, measured in units of 1 / (source * target): source
// pixel i covers [i * target, (i + 1) * target) and target pixel t covers
// [t * source, (t + 1) * source). The weights of each target pixel add up to
// `source`; enlarging, a target pixel covers one source pixel or parts of two.
// They are worked out when needed, never stored per source pixel, so that
// shrinking a long strip takes memory for the target only.
class Axis {
 public:
  Axis(int source, int target) : source_(static_cast<std::uint64_t>(source)), target_(static_cast<std::uint64_t>(target)) {}

  // The source pixels that target pixel `out` covers, [first, end), each by a
  // share above zero.
  std::uint64_t First(std::uint64_t out) const { return out * source_ / target_; }
  std::uint64_t End(std::uint64_t out) const { return ((out + 1) * source_ + target_ - 1) / target_; }

  std::uint64_t Weight(std::uint64_t out, std::uint64_t in) const {
    const std::uint64_t begin = out * source_;
    return std::min(begin + source_, (in + 1) * target_) - std::max(begin, in * target_);
  }

 private:
  std::uint64_t source_;
  std::uint64_t target_;
};

}  // namespace

PictureSize FitWithin(PictureSize picture, int box) {
  if (picture.width <= box && picture.height <= box) return picture;
  const auto w = static_cast<std::int64_t>(picture.width);
  const auto h = static_cast<std::int64_t>(picture.height);
  const auto longer = std::max(w, h);
  const auto scaled = [&](std::int64_t side) {  // side * box / longer, rounded, at least 1
    return static_cast<int>(std::max<std::int64_t>(1, (side * box + longer / 2) / longer));
  };
  return {scaled(w), scaled(h)};
}

bool ScaleByAreaAverage(const std::uint32_t* source, PictureSize sourceSize, std::uint32_t* target,
                        PictureSize targetSize) noexcept {
  const Axis columns(sourceSize.width, targetSize.width);
  const Axis rows(sourceSize.height, targetSize.height);
  const auto sourceWidth = static_cast<std::size_t>(sourceSize.width);
  const auto targetWidth = static_cast<std::size_t>(targetSize.width);
  // Every target pixel's weights add up to this; the sums below stay within
  // 255 times it, far inside 64 bits for any picture that fits in memory.
  const std::uint64_t total =
      static_cast<std::uint64_t>(sourceSize.width) * static_cast<std::uint64_t>(sourceSize.height);

  const std::size_t sumCount = targetWidth * 3;
  const std::unique_ptr<std::uint64_t[]> sums(new (std::nothrow) std::uint64_t[sumCount]);
  if (!sums) return false;
  for (std::uint64_t y = 0; y < static_cast<std::uint64_t>(targetSize.height); ++y) {
    std::fill(sums.get(), sums.get() + sumCount, 0);
    for (std::uint64_t sourceRow = rows.First(y); sourceRow < rows.End(y); ++sourceRow) {
      const std::uint32_t* line = &source[static_cast<std::size_t>(sourceRow) * sourceWidth];
      const std::uint64_t rowWeight = rows.Weight(y, sourceRow);
      for (std::size_t x = 0; x < targetWidth; ++x) {
        std::uint64_t row[3] = {0, 0, 0};  // this source row's part of target pixel x
        for (std::uint64_t column = columns.First(x); column < columns.End(x); ++column) {
          const std::uint32_t pixel = line[column];
          const std::uint64_t weight = columns.Weight(x, column);
          for (std::size_t c = 0; c < 3; ++c) row[c] += ((pixel >> (8 * c)) & 0xFFu) * weight;
        }
        for (std::size_t c = 0; c < 3; ++c) sums[3 * x + c] += row[c] * rowWeight;
      }
    }
    for (std::size_t x = 0; x < targetWidth; ++x) {
      std::uint32_t pixel = 0xFF000000u;
      for (std::size_t c = 0; c < 3; ++c)
        pixel |= static_cast<std::uint32_t>((sums[3 * x + c] + total / 2) / total) << (8 * c);
      target[static_cast<std::size_t>(y) * targetWidth + x] = pixel;
    }
  }
  return true;
}

}  // namespace qoru
