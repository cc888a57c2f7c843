#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>

#include "image/Image32.h"
#include "support/TestSupport.h"

namespace {

using qoru::CImage32;
using qoru::IsPowerOfTwo;

TEST(Image32, NewImageIsOneByOneSquarePowerOfTwo) {
  CImage32 image;
  EXPECT_EQ(image.width, 1);
  EXPECT_EQ(image.height, 1);
  EXPECT_EQ(image.rowBytes, 4);
  EXPECT_TRUE(image.squarePow2);
  EXPECT_EQ(image.mask, 0);
  ASSERT_NE(image.pixels, nullptr);
  EXPECT_EQ(image.GetPixel(0, 0), 0u) << "new buffers are cleared";
}

struct SizeCase {
  int width, height;
  int rowBytes;
  bool squarePow2;
  int mask;
};

std::ostream& operator<<(std::ostream& out, const SizeCase& c) { return out << c.width << "x" << c.height; }

class Image32Sizes : public testing::TestWithParam<SizeCase> {};

TEST_P(Image32Sizes, DerivedFieldsFollowTheSize) {
  const SizeCase c = GetParam();
  CImage32 image;
  ASSERT_TRUE(image.Resize(c.width, c.height));
  EXPECT_EQ(image.rowBytes, c.rowBytes);
  EXPECT_EQ(image.squarePow2, c.squarePow2);
  EXPECT_EQ(image.mask, c.mask);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Image32Sizes,
                         testing::Values(SizeCase{64, 64, 256, true, 63}, SizeCase{48, 48, 192, false, 47},
                                         SizeCase{64, 32, 256, false, 0}, SizeCase{1, 1, 4, true, 0},
                                         SizeCase{0, 0, 4, true, 0}, SizeCase{-5, -5, 4, true, 0},
                                         SizeCase{3, 0, 12, false, 0}));

TEST(Image32, ResizeToZeroReplacesTheBufferOfAOneByOneImage) {
  CImage32 image;
  image.pixels[0] = 0xDEADBEEF;
  for (int side : {0, -5}) {
    ASSERT_TRUE(image.Resize(side, side));
    EXPECT_EQ(image.width, 1);
    EXPECT_EQ(image.height, 1);
    EXPECT_EQ(image.GetPixel(0, 0), 0u) << "the old buffer was released and a cleared one taken";
  }
}

TEST(Image32, ResizeToTheCurrentSizeKeepsThePixels) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(3, 2));
  image.pixels[5] = 0x00112233;
  ASSERT_TRUE(image.Resize(3, 2));
  EXPECT_EQ(image.GetPixel(2, 1), 0x00112233u);
}

TEST(Image32, PixelAccessIsBoundedOnBothSides) {
  CImage32 image;
  ASSERT_TRUE(image.Resize(4, 3));
  for (int i = 0; i < 12; ++i) image.pixels[i] = static_cast<std::uint32_t>(i + 1);
  EXPECT_EQ(image.GetPixel(3, 2), 12u) << "the last element of the buffer";
  EXPECT_EQ(image.GetPixel(1, 1), 6u) << "x + y * width";
  EXPECT_EQ(image.GetPixel(4, 0), 0u);
  EXPECT_EQ(image.GetPixel(0, 3), 0u);
  EXPECT_EQ(image.GetPixel(-1, 0), 0u);
  EXPECT_EQ(image.GetPixel(0, -1), 0u);
  EXPECT_EQ(image.PixelAddress(4, 0), nullptr);
}

TEST(Image32, FailedAllocationLeavesNoBufferAndRetriesTheSameSize) {
  ifzvk::test::FaultGuard faults;
  CImage32 image;
  ifzvk::sys::FailCall(ifzvk::sys::FaultKind::HeapAlloc, 1);
  EXPECT_FALSE(image.Resize(8, 8));
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_EQ(image.width, 8) << "the size is already recorded";
  EXPECT_EQ(image.GetPixel(0, 0), 0u);
  EXPECT_TRUE(image.Resize(8, 8)) << "no early return without a buffer";
  EXPECT_NE(image.pixels, nullptr);
}

TEST(Image32, SizesBeyondThirtyTwoBitsAreRefusedWithoutABuffer) {
  const int big = std::numeric_limits<int>::max();
  const struct {
    int width, height;
  } cases[] = {{65536, 16384}, {big, big}, {big, 1}, {1 << 30, 2}, {32768, 32769}};
  for (const auto& c : cases) {
    CImage32 image;
    EXPECT_FALSE(image.Resize(c.width, c.height)) << c.width << " x " << c.height;
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.GetPixel(0, 0), 0u);
  }
}

TEST(Image32, IsPowerOfTwoLooksAtBitsZeroToThirty) {
  const struct {
    int value;
    bool expected;
  } cases[] = {{0, true},  {1, true},       {2, true},        {6, false},
               {64, true}, {1 << 30, true}, {(1 << 30) + 1, false}, {std::numeric_limits<int>::min(), true},
               {-1, false}};
  for (const auto& c : cases) EXPECT_EQ(IsPowerOfTwo(c.value), c.expected) << c.value;
}

TEST(Image32, FractionalPixelSizesRoundThePartialByteUp) {
  qoru::CImageBase base;
  base.SetSize(10, 3, 0.125);
  EXPECT_EQ(base.rowBytes, 2);
  base.SetSize(10, 3, 3.0);
  EXPECT_EQ(base.rowBytes, 30);
}

}  // namespace
