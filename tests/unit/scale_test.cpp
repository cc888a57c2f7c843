#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "support/CaseTitle.h"
#include "image/Scale.h"

namespace {

using qoru::FitWithin;
using Size = qoru::PictureSize;
using Pixels = std::vector<std::uint32_t>;

Pixels ScaleByAreaAverage(const Pixels& source, Size from, Size to) {
  Pixels target(static_cast<std::size_t>(to.width) * static_cast<std::size_t>(to.height));
  EXPECT_TRUE(qoru::ScaleByAreaAverage(source.data(), from, target.data(), to));
  return target;
}

struct FitCase {
  const char* title;
  Size picture;
  int box;
  Size expected;
};
void PrintTo(const FitCase& c, std::ostream* out) { *out << c.title; }

const FitCase kFitCases[] = {
    {"a picture that fits keeps its size", {256, 256}, 256, {256, 256}},
    {"a small picture is never enlarged", {10, 20}, 128, {10, 20}},
    {"a square halves", {256, 256}, 128, {128, 128}},
    {"landscape: the width meets the box, the height rounds", {300, 100}, 128, {128, 43}},
    {"portrait: the height meets the box", {100, 300}, 128, {43, 128}},
    {"one side inside the box, the other not", {100, 200}, 150, {75, 150}},
    {"a thin strip keeps at least one pixel across", {1000, 1}, 10, {10, 1}},
    {"a tall strip too", {3, 1000}, 10, {1, 10}},
    {"a box of one pixel", {5, 3}, 1, {1, 1}},
};

class Fit : public testing::TestWithParam<FitCase> {};

TEST_P(Fit, KeepsTheAspectWithinTheBox) {
  const FitCase& c = GetParam();
  const Size size = FitWithin(c.picture, c.box);
  EXPECT_EQ(size.width, c.expected.width);
  EXPECT_EQ(size.height, c.expected.height);
}

INSTANTIATE_TEST_SUITE_P(Scale, Fit, testing::ValuesIn(kFitCases), ifzvk::test::ByTitle());

// One value in each of blue, green and red, so that a mixed-up channel shows.
constexpr std::uint32_t Grey(std::uint32_t blue, std::uint32_t green, std::uint32_t red) {
  return blue | green << 8 | red << 16;
}
constexpr std::uint32_t Opaque(std::uint32_t pixel) { return pixel | 0xFF000000u; }

struct ShrinkCase {
  const char* title;
  Size source;
  Pixels pixels;
  Size target;
  Pixels expected;
};
void PrintTo(const ShrinkCase& c, std::ostream* out) { *out << c.title; }

const ShrinkCase kShrinkCases[] = {
    {"four pixels into one: the mean, rounded",
     {2, 2},
     {Grey(10, 0, 255), Grey(20, 0, 255), Grey(30, 0, 0), Grey(41, 3, 0)},
     {1, 1},
     {Opaque(Grey(25, 1, 128))}},
    // 3 -> 2: each target pixel covers one and a half source pixels; the middle
    // one counts half for each. Whole-pixel spans would give other values.
    {"three columns into two weigh the shared column by half",
     {3, 1},
     {Grey(0, 0, 0), Grey(90, 30, 3), Grey(180, 60, 6)},
     {2, 1},
     {Opaque(Grey(30, 10, 1)), Opaque(Grey(150, 50, 5))}},
    {"three rows into two the same way",
     {1, 3},
     {Grey(0, 0, 0), Grey(90, 30, 3), Grey(180, 60, 6)},
     {1, 2},
     {Opaque(Grey(30, 10, 1)), Opaque(Grey(150, 50, 5))}},
    // 7 -> 3: each target row covers 2 1/3 source rows, partly at one end or
    // both; the long strips a thumbnail shrinks most go this way.
    {"a target row spans part, whole and part source rows",
     {1, 7},
     {Grey(0, 0, 0), Grey(30, 0, 0), Grey(60, 0, 0), Grey(90, 0, 0), Grey(120, 0, 0), Grey(150, 0, 0),
      Grey(180, 0, 0)},
     {1, 3},
     {Opaque(Grey(21, 0, 0)), Opaque(Grey(90, 0, 0)), Opaque(Grey(159, 0, 0))}},
    {"rows and columns are not swapped",
     {4, 2},
     {Grey(0, 0, 0), Grey(0, 0, 0), Grey(200, 0, 0), Grey(200, 0, 0),
      Grey(0, 100, 0), Grey(0, 100, 0), Grey(200, 100, 0), Grey(200, 100, 0)},
     {2, 1},
     {Opaque(Grey(0, 50, 0)), Opaque(Grey(200, 50, 0))}},
    {"bits 24-31 of the source take no part",
     {2, 1},
     {0x12000000u | Grey(1, 2, 3), 0xFE000000u | Grey(3, 4, 5)},
     {1, 1},
     {Opaque(Grey(2, 3, 4))}},
    // 2 -> 3 (zvk-make --size): the middle target pixel straddles both.
    {"enlarging repeats each pixel and blends the one between",
     {2, 1},
     {Grey(0, 0, 0), Grey(90, 30, 3)},
     {3, 1},
     {Opaque(Grey(0, 0, 0)), Opaque(Grey(45, 15, 2)), Opaque(Grey(90, 30, 3))}},
    {"an unchanged size copies the pixels",
     {2, 1},
     {Grey(7, 8, 9), Grey(250, 251, 252)},
     {2, 1},
     {Opaque(Grey(7, 8, 9)), Opaque(Grey(250, 251, 252))}},
};

class Shrink : public testing::TestWithParam<ShrinkCase> {};

TEST_P(Shrink, AveragesTheCoveredArea) {
  const ShrinkCase& c = GetParam();
  EXPECT_EQ(ScaleByAreaAverage(c.pixels, c.source, c.target), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Scale, Shrink, testing::ValuesIn(kShrinkCases), ifzvk::test::ByTitle());

// Uneven ratios in both directions, down and up: one colour stays exactly
// that colour, so no weight is lost or counted twice anywhere.
TEST(Scale, AnEvenColourStaysExactAtUnevenRatios) {
  const std::uint32_t colour = Grey(255, 17, 1);
  for (const Size target : {Size{3, 2}, Size{5, 4}, Size{1, 7}, Size{6, 1}, Size{10, 12}}) {
    const Pixels result = ScaleByAreaAverage(Pixels(7 * 11, colour), {7, 11}, target);
    EXPECT_EQ(result, Pixels(static_cast<std::size_t>(target.width * target.height), Opaque(colour)))
        << target.width << " x " << target.height;
  }
}

}  // namespace
