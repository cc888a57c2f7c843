#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "image/Image32.h"
#include "support/TestSupport.h"

namespace {

using qoru::CImage32;

// Each side is raised to at least 1, and the buffer is a new one, cleared
// however dirty the blocks the heap hands out.
TEST(Image32, NewAndResizedImagesAreAtLeastOneByOneAndBlack) {
  ifzvk::test::FaultGuard faults;
  ifzvk::sys::FillNewBlocks(0xCD);
  CImage32 image;
  EXPECT_EQ(image.width, 1);
  EXPECT_EQ(image.height, 1);
  ASSERT_NE(image.pixels, nullptr);
  EXPECT_EQ(image.GetPixel(0, 0), 0u);
  const struct {
    int width, height, expectedWidth, expectedHeight;
  } cases[] = {{0, 0, 1, 1}, {-5, -5, 1, 1}, {3, 0, 3, 1}, {0, -2, 1, 1}, {7, 5, 7, 5}};
  for (const auto& c : cases) {
    CImage32 resized;
    resized.pixels[0] = 0xDEADBEEF;
    ASSERT_TRUE(resized.Resize(c.width, c.height));
    EXPECT_EQ(resized.width, c.expectedWidth) << c.width << " x " << c.height;
    EXPECT_EQ(resized.height, c.expectedHeight) << c.width << " x " << c.height;
    for (int i = 0; i < resized.width * resized.height; ++i) ASSERT_EQ(resized.pixels[i], 0u) << "pixel " << i;
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

TEST(Image32, RowBytesRoundUpAndKeepTheLow32BitsOfRowsLongerThanAnInt) {
  const struct {
    int width;
    double bytesPerPixel;
    int rowBytes;
  } cases[] = {
      {10, 0.125, 2},         {10, 3.0, 30},          {536870911, 4.0, 2147483644}, {536870912, 4.0, -2147483647 - 1},
      {888888888, 4.0, -739411744}, {2147483647, 4.0, -4}, {2147483647, 1.0, 2147483647}, {-536870913, 4.0, 2147483644},
  };
  for (const auto& c : cases) {
    qoru::CImageBase base;
    base.SetSize(c.width, 1, c.bytesPerPixel);
    EXPECT_EQ(base.rowBytes, c.rowBytes) << c.width << " x " << c.bytesPerPixel;
    EXPECT_EQ(base.width, c.width);
  }
}

}  // namespace
