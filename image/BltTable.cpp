#include "image/BltTable.h"

#include <cmath>

#include "platform/memory.h"

namespace qoru {
namespace {

// Multiplying a number n < 65536 by a lane pattern puts n into 16-bit lanes 0-2
// without carrying from one lane into the next.
constexpr std::uint64_t kLanesOf128 = 0x0000008000800080u;
constexpr std::uint64_t kLanesOf1 = 0x0000000100010001u;

constexpr std::size_t kWeights = CBltTable::kWeightEntries / 2;

// Entry w holds w + firstOffset, entry 256 + w the complement 255 - w.
void FillWeights(std::uint64_t* table, std::uint64_t lanePattern, unsigned firstOffset) {
  for (std::size_t w = 0; w < kWeights; ++w) {
    table[w] = (w + firstOffset) * lanePattern;
    table[kWeights + w] = (255 - w) * lanePattern;
  }
}

void FillMulDiv255(std::uint8_t* table) {
  for (unsigned k = 0; k < 256; ++k)
    for (unsigned l = 0; l < 256; ++l) table[k * 256 + l] = static_cast<std::uint8_t>(k * l / 255);
}

void FillHypot16(std::int32_t* table) {
  for (int k = 0; k < 256; ++k) {
    for (int l = 0; l < 256; ++l) {
      const double squares = static_cast<double>(k * k + l * l);
      const double root = squares == 0.0 ? 0.0 : std::sqrt(squares);
      table[k * 256 + l] = static_cast<std::int32_t>(root * 65536.0);
    }
  }
}

// The largest extended-precision value below 1/255: the products k * c round to
// doubles at or just under k / 255, and 255 * c rounds to exactly 1.0.
constexpr long double kJustBelowOneOver255 = 0x1.01010101010101p-8L;

void FillGamma22(std::uint8_t* table) {
  for (int k = 0; k < 256; ++k) {
    const double x = static_cast<double>(k * kJustBelowOneOver255);
    const double y = std::pow(x, 2.2);
    table[k] = static_cast<std::uint8_t>(static_cast<int>(y * 255.0));
  }
}

template <typename T>
bool TakeBlock(T*& field, std::size_t entries) {
  field = static_cast<T*>(ifzvk::sys::AllocHeap(entries * sizeof(T)));
  return field != nullptr;
}

template <typename T>
void GiveBack(T*& field) {
  if (field != nullptr) {
    ifzvk::sys::FreeHeap(field);
    field = nullptr;
  }
}

}  // namespace

CNoiseGenerator::CNoiseGenerator(std::int32_t seed) : state_(static_cast<std::uint32_t>(seed)) { Next(); }

int CNoiseGenerator::Next() {
  state_ = state_ * 22695477u + 1u;
  return static_cast<int>((state_ >> 16) & 0x7FFFu);
}

CBltTable::CBltTable() {
  // Every block is in hand before the first table is written.
  if (!AllocateAll()) return;
  FillWeights(weight128, kLanesOf128, 0);
  FillWeights(weightPlus1, kLanesOf1, 1);
  FillWeights(weight, kLanesOf1, 0);
  FillMulDiv255(mulDiv255);
  FillHypot16(hypot16);
  FillGamma22(gamma22);
  FillNoise(0);
}

CBltTable::~CBltTable() { FreeAll(); }

void CBltTable::FillNoise(std::int32_t seed) {
  if (noise == nullptr) return;
  CNoiseGenerator generator(seed);
  for (std::size_t i = 0; i < kNoiseEntries; ++i) noise[i] = static_cast<std::uint8_t>(generator.Next() % 255);
}

bool CBltTable::AllocateAll() {
  const bool complete = TakeBlock(weight128, kWeightEntries) && TakeBlock(weightPlus1, kWeightEntries) &&
                        TakeBlock(weight, kWeightEntries) && TakeBlock(mulDiv255, kSquareEntries) &&
                        TakeBlock(hypot16, kSquareEntries) && TakeBlock(gamma22, kGammaEntries) &&
                        TakeBlock(noise, kNoiseEntries);
  if (!complete) FreeAll();
  return complete;
}

void CBltTable::FreeAll() {
  GiveBack(weight128);
  GiveBack(weightPlus1);
  GiveBack(weight);
  GiveBack(mulDiv255);
  GiveBack(hypot16);
  GiveBack(gamma22);
  GiveBack(noise);
}

}  // namespace qoru
