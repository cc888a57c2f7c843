#include <gtest/gtest.h>

#include <bitset>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "image/BitTable.h"
#include "image/BltTable.h"
#include "support/TestSupport.h"

namespace {

using qoru::CBltTable;

// One set of tables for the read-only checks; building it costs milliseconds.
const CBltTable& Tables() {
  static const CBltTable tables;
  return tables;
}

bool AllAbsent(const CBltTable& t) {
  return !t.weight128 && !t.weightPlus1 && !t.weight && !t.mulDiv255 && !t.hypot16 && !t.gamma22 && !t.noise;
}

bool AllPresent(const CBltTable& t) {
  return t.weight128 && t.weightPlus1 && t.weight && t.mulDiv255 && t.hypot16 && t.gamma22 && t.noise;
}

// Entry w < 256 holds w (plus 1 in weightPlus1) in each of the 16-bit lanes
// 0-2, entry 256 + w the complement 255 - w; weight128's lanes hold 128 times
// that. Lane 3 stays zero.
TEST(BltTable, WeightEntriesHoldTheWeightAndItsComplementInThreeLanes) {
  const CBltTable& t = Tables();
  ASSERT_TRUE(AllPresent(t));
  const struct {
    const char* name;
    const std::uint64_t* table;
    std::uint64_t lanes;  // 1 in lanes 0-2, times the scale
    std::uint64_t offset;
  } tables[] = {{"weight128", t.weight128, 0x0000008000800080u, 0},
                {"weightPlus1", t.weightPlus1, 0x0000000100010001u, 1},
                {"weight", t.weight, 0x0000000100010001u, 0}};
  for (const auto& c : tables) {
    for (std::uint64_t w = 0; w < 256; ++w) {
      ASSERT_EQ(c.table[w], (w + c.offset) * c.lanes) << c.name << "[" << w << "]";
      ASSERT_EQ(c.table[256 + w], (255 - w) * c.lanes) << c.name << "[" << 256 + w << "]";
    }
  }
}

std::uint8_t MulDiv255(int k, int l) { return Tables().mulDiv255[k * 256 + l]; }
std::int32_t Hypot16(int k, int l) { return Tables().hypot16[k * 256 + l]; }

TEST(BltTable, MulDiv255IsTheProductOver255RoundedDown) {
  const struct {
    int k, l, expected;
  } cases[] = {{128, 128, 64}, {16, 16, 1}, {1, 254, 0}, {255, 1, 1}, {255, 255, 255}, {254, 255, 254}, {0, 255, 0}};
  for (const auto& c : cases) EXPECT_EQ(MulDiv255(c.k, c.l), c.expected) << c.k << " * " << c.l;
  for (int k = 0; k < 256; ++k) {
    ASSERT_EQ(MulDiv255(255, k), k) << "row 255 is the identity";
    ASSERT_EQ(MulDiv255(0, k), 0);
    for (int l = 0; l < 256; ++l) ASSERT_EQ(MulDiv255(k, l), MulDiv255(l, k)) << k << ", " << l;
  }
}

// floor(sqrt(n)), by bisection on integers only.
std::uint64_t IntegerSquareRoot(std::uint64_t n) {
  std::uint64_t low = 0, high = std::uint64_t{1} << 32;  // sqrt(n) < 2^32 for n < 2^64
  while (high - low > 1) {
    const std::uint64_t middle = low + (high - low) / 2;
    if (middle * middle <= n) low = middle; else high = middle;
  }
  return low;
}

TEST(BltTable, Hypot16IsTheIntegerRootOfTheScaledSquareSum) {
  for (std::uint64_t k = 0; k < 256; ++k) {
    for (std::uint64_t l = 0; l < 256; ++l) {
      const std::uint64_t root = IntegerSquareRoot((k * k + l * l) << 32);
      ASSERT_EQ(static_cast<std::uint64_t>(Hypot16(static_cast<int>(k), static_cast<int>(l))), root)
          << k << ", " << l;
    }
  }
}

TEST(BltTable, Gamma22FollowsTheCurveInExtendedPrecision) {
  for (int k = 0; k < 256; ++k) {
    const long double exact = 255.0L * std::pow(static_cast<long double>(k) / 255.0L, 2.2L);
    ASSERT_EQ(Tables().gamma22[k], static_cast<int>(std::floor(exact))) << "k=" << k;
  }
}

TEST(BltTable, NoiseFromSeedZero) {
  qoru::CNoiseGenerator generator(0);
  for (int expected : {346, 130, 10982, 1090}) EXPECT_EQ(generator.Next(), expected);
  const std::uint8_t* noise = Tables().noise;
  EXPECT_EQ(std::vector<int>(noise, noise + 8), (std::vector<int>{91, 130, 17, 70, 181, 232, 0, 40}));
  EXPECT_EQ(std::accumulate(noise, noise + CBltTable::kNoiseEntries, 0), 130417);
  for (std::size_t i = 0; i < CBltTable::kNoiseEntries; ++i) ASSERT_LT(noise[i], 255) << i;
}

TEST(BltTable, FillNoiseRepeatsForTheSameSeed) {
  CBltTable tables;
  const auto noise = [&tables] { return std::vector<std::uint8_t>(tables.noise, tables.noise + CBltTable::kNoiseEntries); };
  const auto seedZero = noise();
  EXPECT_TRUE(std::equal(seedZero.begin(), seedZero.end(), Tables().noise)) << "every instance starts alike";
  tables.FillNoise(-123456789);
  const auto other = noise();
  EXPECT_NE(other, seedZero);
  tables.FillNoise(0);
  EXPECT_EQ(noise(), seedZero);
  tables.FillNoise(-123456789);
  EXPECT_EQ(noise(), other);
}

TEST(BltTable, AnyFailedAllocationLeavesAllTablesAbsent) {
  ifzvk::test::FaultGuard faults;
  for (int nth = 1; nth <= 7; ++nth) {
    ifzvk::sys::FailCall(ifzvk::sys::FaultKind::HeapAlloc, nth);
    CBltTable tables;  // the blocks taken before the failure are given back (LeakSanitizer)
    EXPECT_TRUE(AllAbsent(tables)) << "allocation " << nth << " failed";
    tables.FillNoise(1);  // must not write without its block
  }
  ifzvk::sys::FailCall(ifzvk::sys::FaultKind::HeapAlloc, 8);
  CBltTable tables;
  EXPECT_TRUE(AllPresent(tables)) << "seven allocations in all";
}

TEST(BitTable, MasksAndBitCounts) {
  const BitTable bits;
  using Row = std::vector<int>;
  EXPECT_EQ(Row(bits.bitOf, bits.bitOf + 8), (Row{1, 2, 4, 8, 16, 32, 64, 128}));
  EXPECT_EQ(Row(bits.lowBits, bits.lowBits + 8), (Row{0, 1, 3, 7, 15, 31, 63, 127}));
  EXPECT_EQ(Row(bits.highBits, bits.highBits + 8), (Row{255, 254, 252, 248, 240, 224, 192, 128}));
  EXPECT_EQ(Row(bits.lowBitsThrough, bits.lowBitsThrough + 8), (Row{1, 3, 7, 15, 31, 63, 127, 255}));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(bits.bitCount8[i], static_cast<int>(std::bitset<8>(i).count())) << i;
  for (int i = 0; i < 16; ++i) ASSERT_EQ(bits.bitCount4[i], bits.bitCount8[i]) << i;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(bits.bitCount2[i], bits.bitCount8[i]) << i;
}

}  // namespace
