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

std::uint16_t Lane(std::uint64_t entry, int lane) { return static_cast<std::uint16_t>(entry >> (16 * lane)); }

bool AllAbsent(const CBltTable& t) {
  return !t.weight128 && !t.weightPlus1 && !t.weight && !t.mulDiv255 && !t.hypot16 && !t.gamma22 && !t.noise;
}

bool AllPresent(const CBltTable& t) {
  return t.weight128 && t.weightPlus1 && t.weight && t.mulDiv255 && t.hypot16 && t.gamma22 && t.noise;
}

TEST(BltTable, WeightEntriesAtTheEdges) {
  const CBltTable& t = Tables();
  ASSERT_TRUE(AllPresent(t));
  const struct {
    const char* name;
    const std::uint64_t* table;
    int index;
    std::uint64_t expected;
  } cases[] = {
      {"weight128", t.weight128, 0, 0},
      {"weight128", t.weight128, 1, 0x0000008000800080u},
      {"weight128", t.weight128, 255, 0x00007F807F807F80u},
      {"weight128", t.weight128, 256, 0x00007F807F807F80u},
      {"weight128", t.weight128, 511, 0},
      {"weightPlus1", t.weightPlus1, 0, 0x0000000100010001u},
      {"weightPlus1", t.weightPlus1, 255, 0x0000010001000100u},
      {"weightPlus1", t.weightPlus1, 256, 0x000000FF00FF00FFu},
      {"weightPlus1", t.weightPlus1, 511, 0},
      {"weight", t.weight, 0, 0},
      {"weight", t.weight, 255, 0x000000FF00FF00FFu},
      {"weight", t.weight, 256, 0x000000FF00FF00FFu},
      {"weight", t.weight, 511, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.table[c.index], c.expected) << c.name << "[" << c.index << "]";
}

TEST(BltTable, WeightLanesAgreeAndComplementsAddUp) {
  const CBltTable& t = Tables();
  const struct {
    const char* name;
    const std::uint64_t* table;
    unsigned laneSum;  // lane of entry w plus lane of entry 256 + w
  } tables[] = {{"weight128", t.weight128, 32640}, {"weightPlus1", t.weightPlus1, 256}, {"weight", t.weight, 255}};
  for (const auto& c : tables) {
    for (int i = 0; i < 512; ++i) {
      const std::uint64_t entry = c.table[i];
      ASSERT_EQ(Lane(entry, 3), 0) << c.name << "[" << i << "]";
      ASSERT_EQ(Lane(entry, 1), Lane(entry, 0)) << c.name << "[" << i << "]";
      ASSERT_EQ(Lane(entry, 2), Lane(entry, 0)) << c.name << "[" << i << "]";
    }
    for (int w = 0; w < 256; ++w)
      ASSERT_EQ(Lane(c.table[w], 0) + Lane(c.table[256 + w], 0), c.laneSum) << c.name << " w=" << w;
  }
}

std::uint8_t MulDiv255(int k, int l) { return Tables().mulDiv255[k * 256 + l]; }
std::int32_t Hypot16(int k, int l) { return Tables().hypot16[k * 256 + l]; }

TEST(BltTable, MulDiv255Samples) {
  const struct {
    int k, l, expected;
  } cases[] = {{128, 128, 64}, {16, 16, 1}, {1, 254, 0}, {255, 1, 1}, {255, 255, 255}, {254, 255, 254}, {0, 255, 0}};
  for (const auto& c : cases) EXPECT_EQ(MulDiv255(c.k, c.l), c.expected) << c.k << " * " << c.l;
}

TEST(BltTable, MulDiv255RowsAndSymmetry) {
  for (int k = 0; k < 256; ++k) {
    ASSERT_EQ(MulDiv255(255, k), k) << "row 255 is the identity";
    ASSERT_EQ(MulDiv255(0, k), 0);
    for (int l = 0; l < 256; ++l) ASSERT_EQ(MulDiv255(k, l), MulDiv255(l, k)) << k << ", " << l;
  }
}

TEST(BltTable, Hypot16Samples) {
  const struct {
    int k, l;
    std::int32_t expected;
  } cases[] = {{0, 0, 0},        {1, 0, 65536},         {0, 1, 65536},         {1, 1, 92681},
               {3, 4, 327680},   {0, 255, 16711680},    {255, 255, 23633884}};
  for (const auto& c : cases) EXPECT_EQ(Hypot16(c.k, c.l), c.expected) << c.k << ", " << c.l;
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

TEST(BltTable, Gamma22Samples) {
  const struct {
    int k, expected;
  } cases[] = {{0, 0}, {20, 0}, {21, 1}, {128, 55}, {254, 252}, {255, 255}};
  for (const auto& c : cases) EXPECT_EQ(Tables().gamma22[c.k], c.expected) << "k=" << c.k;
}

TEST(BltTable, Gamma22FollowsTheCurveInExtendedPrecision) {
  for (int k = 0; k < 256; ++k) {
    const long double exact = 255.0L * std::pow(static_cast<long double>(k) / 255.0L, 2.2L);
    ASSERT_EQ(Tables().gamma22[k], static_cast<int>(std::floor(exact))) << "k=" << k;
  }
}

TEST(BltTable, NoiseGeneratorFirstOutputs) {
  qoru::CNoiseGenerator generator(0);
  for (int expected : {346, 130, 10982, 1090}) EXPECT_EQ(generator.Next(), expected);
}

TEST(BltTable, NoiseFromSeedZero) {
  const std::uint8_t* noise = Tables().noise;
  const std::vector<int> first(noise, noise + 8);
  EXPECT_EQ(first, (std::vector<int>{91, 130, 17, 70, 181, 232, 0, 40}));
  EXPECT_EQ(std::accumulate(noise, noise + CBltTable::kNoiseEntries, 0), 130417);
  for (std::size_t i = 0; i < CBltTable::kNoiseEntries; ++i) ASSERT_LT(noise[i], 255) << i;
}

TEST(BltTable, FillNoiseRepeatsForTheSameSeed) {
  CBltTable tables;
  const std::vector<std::uint8_t> seedZero(tables.noise, tables.noise + CBltTable::kNoiseEntries);
  tables.FillNoise(-123456789);
  const std::vector<std::uint8_t> other(tables.noise, tables.noise + CBltTable::kNoiseEntries);
  EXPECT_NE(other, seedZero);
  tables.FillNoise(0);
  EXPECT_EQ(std::vector<std::uint8_t>(tables.noise, tables.noise + CBltTable::kNoiseEntries), seedZero);
  tables.FillNoise(-123456789);
  EXPECT_EQ(std::vector<std::uint8_t>(tables.noise, tables.noise + CBltTable::kNoiseEntries), other);
  EXPECT_TRUE(std::equal(seedZero.begin(), seedZero.end(), Tables().noise)) << "every instance starts alike";
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

TEST(BitTable, FixedMaskArrays) {
  const BitTable bits;
  using Row = std::vector<int>;
  EXPECT_EQ(Row(bits.bitOf, bits.bitOf + 8), (Row{1, 2, 4, 8, 16, 32, 64, 128}));
  EXPECT_EQ(Row(bits.lowBits, bits.lowBits + 8), (Row{0, 1, 3, 7, 15, 31, 63, 127}));
  EXPECT_EQ(Row(bits.highBits, bits.highBits + 8), (Row{255, 254, 252, 248, 240, 224, 192, 128}));
  EXPECT_EQ(Row(bits.lowBitsThrough, bits.lowBitsThrough + 8), (Row{1, 3, 7, 15, 31, 63, 127, 255}));
}

TEST(BitTable, BitCounts) {
  const BitTable bits;
  EXPECT_EQ(bits.bitCount8[255], 8);
  EXPECT_EQ(bits.bitCount8[165], 4);
  EXPECT_EQ(bits.bitCount4[15], 4);
  EXPECT_EQ(bits.bitCount2[3], 2);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(bits.bitCount8[i], static_cast<int>(std::bitset<8>(i).count())) << i;
  for (int i = 0; i < 16; ++i) ASSERT_EQ(bits.bitCount4[i], bits.bitCount8[i]) << i;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(bits.bitCount2[i], bits.bitCount8[i]) << i;
}

TEST(BitTable, SevenArraysBackToBack) {
  EXPECT_EQ(sizeof(BitTable), 308 * sizeof(std::int32_t));
}

}  // namespace
