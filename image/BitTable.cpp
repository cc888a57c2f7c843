#include "image/BitTable.h"

namespace {

// Counts the bits of `value` among its lowest `width` bits.
std::int32_t CountBits(const std::int32_t (&bitOf)[8], int value, int width) {
  std::int32_t count = 0;
  for (int bit = 0; bit < width; ++bit)
    if ((value & bitOf[bit]) != 0) ++count;
  return count;
}

}  // namespace

void BitTable::Fill() {
  for (int i = 0; i < 8; ++i) bitOf[i] = 1 << i;

  static constexpr std::int32_t kLowBits[8] = {0, 1, 3, 7, 15, 31, 63, 127};
  for (int i = 0; i < 8; ++i) lowBits[i] = kLowBits[i];

  lowBitsThrough[0] = 1;
  for (int i = 1; i < 8; ++i) lowBitsThrough[i] = lowBitsThrough[i - 1] | (lowBitsThrough[i - 1] << 1);

  // Bits i to 7: the lowest 8 - i bits moved up by i.
  for (int i = 0; i < 8; ++i) highBits[i] = lowBitsThrough[7 - i] << i;

  for (int i = 0; i < 256; ++i) bitCount8[i] = CountBits(bitOf, i, 8);
  for (int i = 0; i < 16; ++i) bitCount4[i] = CountBits(bitOf, i, 4);
  for (int i = 0; i < 4; ++i) bitCount2[i] = CountBits(bitOf, i, 2);
}
