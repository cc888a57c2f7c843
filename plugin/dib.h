// The one fact about the host's 24-bit bitmaps that the module, the host tool,
// the fuzzers and the benchmarks all need: how long a row is.
#pragma once

#include <cstddef>

namespace ifzvk {

// Bytes in one row of a 24-bit DIB: 3 x width rounded up to a multiple of 4.
constexpr std::size_t BitmapStride(int width) { return (3 * static_cast<std::size_t>(width) + 3) & ~std::size_t{3}; }

}  // namespace ifzvk
