// Bit masks and bit counts of small values, filled once when the module loads
// (plugin/module_statics.cpp) and read-only afterwards. Needs no clean-up.
#pragma once

#include <cstdint>

struct BitTable {
  std::int32_t bitOf[8];           // 1 << i
  std::int32_t lowBits[8];         // (1 << i) - 1: the bits below bit i
  std::int32_t highBits[8];        // 0xFF << i, within 8 bits: bit i and above
  std::int32_t lowBitsThrough[8];  // (2 << i) - 1: bit i and the bits below it
  std::int32_t bitCount8[256];     // set bits of the 8-bit value i
  std::int32_t bitCount4[16];      // set bits of the 4-bit value i
  std::int32_t bitCount2[4];       // set bits of the 2-bit value i

  BitTable() { Fill(); }
  void Fill();
};
