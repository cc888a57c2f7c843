// Checked arithmetic for sizes taken from a document, in the manner of
// lodepng's lodepng_mulofl: every layer sizes its blocks through it, so no
// product can wrap before it sizes a block or a copy.
#pragma once

#include <limits>

namespace ifzvk {

// True when a x b does not fit in T, with *result then unspecified; false
// with the exact product in *result otherwise.
template <typename T>
constexpr bool MulOverflows(T a, T b, T* result) {
  static_assert(std::numeric_limits<T>::is_integer && !std::numeric_limits<T>::is_signed, "unsigned sizes only");
  if (a != 0 && b > std::numeric_limits<T>::max() / a) return true;
  *result = static_cast<T>(a * b);
  return false;
}

// True when a x b x c does not fit in T (a picture's width x height x bytes
// per pixel, in the manner of stb_image's mad3sizes_valid); false with the
// exact product in *result otherwise.
template <typename T>
constexpr bool MulOverflows(T a, T b, T c, T* result) {
  T ab = 0;
  return MulOverflows<T>(a, b, &ab) || MulOverflows<T>(ab, c, result);
}

}  // namespace ifzvk
