// Blend lookup tables: weights, products, distances, a gamma curve and noise.
// The module builds one instance when it loads and frees it when it unloads
// (plugin/module_statics.cpp); no exported call reads the tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qoru {

// The library's own linear congruential generator. Seeding takes one step and
// throws its output away, so a seed never shows up as the first output.
class CNoiseGenerator {
 public:
  explicit CNoiseGenerator(std::int32_t seed);
  // The next value, 0 to 32767: bits 16-30 of the new state.
  int Next();

 private:
  std::uint32_t state_;
};

class CBltTable {
 public:
  // Entries of the three weight tables: 256 weights w, then 256 complements
  // (entry 256 + w holds 255 - w). Each entry carries its number in 16-bit
  // lanes 0-2 of a 64-bit value; lane 3 is 0.
  static constexpr std::size_t kWeightEntries = 512;
  static constexpr std::size_t kSquareEntries = 256 * 256;  // (k, l) at k * 256 + l
  static constexpr std::size_t kGammaEntries = 256;
  static constexpr std::size_t kNoiseEntries = 1024;

  // Takes all seven blocks and fills them in field order, noise last.
  // Out of memory: every block taken so far is given back and all seven
  // pointers stay null. Nothing reads the tables on a failure path, and a
  // module load must not fail over tables that no call of the plug-in uses.
  CBltTable();
  ~CBltTable();
  CBltTable(const CBltTable&) = delete;
  CBltTable& operator=(const CBltTable&) = delete;

  // Reseeds the generator and refills all of `noise`; no-op without the table.
  void FillNoise(std::int32_t seed);

  std::uint64_t* weight128 = nullptr;    // w * 128 per lane
  std::uint64_t* weightPlus1 = nullptr;  // w + 1 per lane; complements 255 - w
  std::uint64_t* weight = nullptr;       // w per lane
  std::uint8_t* mulDiv255 = nullptr;     // k * l / 255, truncated
  std::int32_t* hypot16 = nullptr;       // sqrt(k^2 + l^2) in 16.16 fixed point, truncated
  std::uint8_t* gamma22 = nullptr;       // 255 * (k / 255)^2.2, truncated
  std::uint8_t* noise = nullptr;         // 0 to 254

 private:
  bool AllocateAll();
  void FreeAll();
};

// Bytes of each of the seven blocks in field order, and of all seven together.
constexpr std::size_t kBltTableBlockBytes[7] = {
    CBltTable::kWeightEntries * sizeof(std::uint64_t), CBltTable::kWeightEntries * sizeof(std::uint64_t),
    CBltTable::kWeightEntries * sizeof(std::uint64_t), CBltTable::kSquareEntries * sizeof(std::uint8_t),
    CBltTable::kSquareEntries * sizeof(std::int32_t),  CBltTable::kGammaEntries * sizeof(std::uint8_t),
    CBltTable::kNoiseEntries * sizeof(std::uint8_t)};
constexpr std::size_t kBltTableBytes = kBltTableBlockBytes[0] + kBltTableBlockBytes[1] + kBltTableBlockBytes[2] +
                                       kBltTableBlockBytes[3] + kBltTableBlockBytes[4] + kBltTableBlockBytes[5] +
                                       kBltTableBlockBytes[6];
static_assert(kBltTableBytes == 341248);

}  // namespace qoru
