// Picture sizing for the tools: the size that fits a box, and resampling by
// area averaging (zvk-thumb's thumbnails, zvk-make's --size). Pixels are
// 32-bit BGRX values, rows from the top, as in Bmp.h.
#pragma once

#include <cstdint>
#include <vector>

namespace ifzvk::imageio {

struct Size {
  int width = 0;
  int height = 0;
};

// The largest size of the same aspect ratio that fits within box x box, never
// larger than the picture itself and never below 1 x 1. A picture that fits
// already keeps its size.
Size FitWithin(Size picture, int box);

// Resamples a picture to target by area averaging: each target pixel is the
// mean of the source area it covers, partly covered source pixels weighted by
// the part covered. Shrinking blends, enlarging repeats each source pixel and
// blends only where a target pixel straddles two. Bits 24-31 of the result
// are set. Requires sides of at least 1 and width * height source pixels.
// Memory: the target and one row of sums, whatever the source's shape.
std::vector<std::uint32_t> ScaleByAreaAverage(const std::vector<std::uint32_t>& bgrxTopDown, Size source,
                                              Size target);

}  // namespace ifzvk::imageio
