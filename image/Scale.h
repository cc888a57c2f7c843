// Picture sizing: the size that fits a box, and resampling by area averaging
// (Explorer's thumbnails, zvk-thumb's --box, zvk-make's --size). Pixels are
// 32-bit BGRX values, rows from the top, as in Image32.h.
#pragma once

#include <cstdint>

namespace qoru {

struct PictureSize {
  int width = 0;
  int height = 0;
};

// The largest size of the same aspect ratio that fits within box x box, never
// larger than the picture itself and never below 1 x 1. A picture that fits
// already keeps its size.
PictureSize FitWithin(PictureSize picture, int box);

// Resamples source (sourceSize.width * sourceSize.height pixels) into target
// (targetSize.width * targetSize.height pixels) by area averaging: each target
// pixel is the mean of the source area it covers, partly covered source pixels
// weighted by the part covered. Shrinking blends, enlarging repeats each
// source pixel and blends only where a target pixel straddles two. Bits 24-31
// of the result are set. Requires sides of at least 1. Memory: one row of
// sums for the target, whatever the source's shape; false, with target
// untouched, when that cannot be had.
bool ScaleByAreaAverage(const std::uint32_t* source, PictureSize sourceSize, std::uint32_t* target,
                        PictureSize targetSize) noexcept;

}  // namespace qoru
