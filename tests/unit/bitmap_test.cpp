// The conversion of an image into the host's two blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "plugin/bitmap.h"
#include "support/TestSupport.h"

namespace {

using namespace ifzvk;
using ifzvk::test::Bytes;

TEST(BitmapStride, IsThreeBytesAPixelRoundedUpToFour) {
  const struct {
    int width;
    std::size_t stride;
  } cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {100, 300}, {65536, 196608}};
  for (const auto& c : cases) EXPECT_EQ(BitmapStride(c.width), c.stride) << c.width;
}

TEST(WriteBitmap, RowsAreBottomUpAndPixelsBlueGreenRed) {
  qoru::CImage32 image;
  ASSERT_TRUE(image.Resize(2, 2));
  image.pixels[0] = 0x11223344;  // A, top left
  image.pixels[1] = 0x00A1B1C1;  // B
  image.pixels[2] = 0xFF0000FF;  // C, bottom left
  image.pixels[3] = 0x7F00FF00;  // D
  test::HostBitmap bitmap;
  ASSERT_EQ(WriteBitmap(image, 2, 2, &bitmap.info, &bitmap.bits), Success);
  EXPECT_EQ(bitmap.Width(), 2);
  EXPECT_EQ(bitmap.Height(), 2);
  const Bytes expected = {
      0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0, 0,  // C, D, padding
      0x44, 0x33, 0x22, 0xC1, 0xB1, 0xA1, 0, 0,  // A, B, padding
  };
  EXPECT_EQ(bitmap.BitsBytes(16), expected);
}

TEST(WriteBitmap, BitsTwentyFourToThirtyOneNeverShow) {
  qoru::CImage32 image;
  ASSERT_TRUE(image.Resize(2, 1));
  image.pixels[0] = 0x00102030;
  image.pixels[1] = 0xFF102030;
  test::HostBitmap bitmap;
  ASSERT_EQ(WriteBitmap(image, 2, 1, &bitmap.info, &bitmap.bits), Success);
  const Bytes bits = bitmap.BitsBytes(8);
  EXPECT_TRUE(std::equal(bits.begin(), bits.begin() + 3, bits.begin() + 3));
}

TEST(WriteBitmap, PaddingBytesAreZeroWhateverTheAllocatorLeft) {
  test::FaultGuard faults;
  sys::FillNewBlocks(0xCD);
  for (int width : {1, 2, 3, 5, 7}) {
    qoru::CImage32 image;
    ASSERT_TRUE(image.Resize(width, 3));
    for (int i = 0; i < width * 3; ++i) image.pixels[i] = 0xFFFFFFFF;
    test::HostBitmap bitmap;
    ASSERT_EQ(WriteBitmap(image, width, 3, &bitmap.info, &bitmap.bits), Success);
    const std::size_t stride = BitmapStride(width);
    const Bytes bits = bitmap.BitsBytes(stride * 3);
    for (std::size_t row = 0; row < 3; ++row) {
      for (std::size_t i = 3 * static_cast<std::size_t>(width); i < stride; ++i)
        EXPECT_EQ(bits[row * stride + i], 0) << "width " << width << " row " << row;
    }
  }
}

TEST(WriteBitmap, TakesOnlyTheRequestedCornerOfALargerImage) {
  // After a failed extraction the image may have the preview's size while
  // the picture stays 1 x 1: the pixel is (0, 0), not the bottom-left one.
  qoru::CImage32 image;
  ASSERT_TRUE(image.Resize(3, 3));
  image.pixels[0] = 0x00010203;
  image.pixels[6] = 0x00AABBCC;
  test::HostBitmap bitmap;
  ASSERT_EQ(WriteBitmap(image, 1, 1, &bitmap.info, &bitmap.bits), Success);
  EXPECT_EQ(bitmap.Width(), 1);
  EXPECT_EQ(bitmap.BitsBytes(4), (Bytes{0x03, 0x02, 0x01, 0}));
}

TEST(WriteBitmap, ACornerOfSeveralRowsStepsByTheImagesOwnRows) {
  // Rows are found in the image's buffer, whose rows are the image's width
  // long, not the picture's: the 2 x 2 corner of a 3 x 3 image.
  qoru::CImage32 image;
  ASSERT_TRUE(image.Resize(3, 3));
  for (int i = 0; i < 9; ++i) image.pixels[i] = 0x00010101u * static_cast<std::uint32_t>(i + 1);
  test::HostBitmap bitmap;
  ASSERT_EQ(WriteBitmap(image, 2, 2, &bitmap.info, &bitmap.bits), Success);
  const Bytes expected = {
      4, 4, 4, 5, 5, 5, 0, 0,  // image row 1: pixels 3 and 4
      1, 1, 1, 2, 2, 2, 0, 0,  // image row 0: pixels 0 and 1
  };
  EXPECT_EQ(bitmap.BitsBytes(16), expected);
}

TEST(WriteBitmap, AnImageWithoutPixelsGivesBlack) {
  // A Resize that could not allocate leaves the size but no buffer.
  test::FaultGuard faults;
  qoru::CImage32 image;
  sys::FailCall(sys::FaultKind::HeapAlloc, 1);
  ASSERT_FALSE(image.Resize(2, 2));
  ASSERT_EQ(image.pixels, nullptr);
  sys::ClearFaults();
  sys::FillNewBlocks(0xCD);
  test::HostBitmap bitmap;
  ASSERT_EQ(WriteBitmap(image, 2, 2, &bitmap.info, &bitmap.bits), Success);
  EXPECT_EQ(bitmap.BitsBytes(16), Bytes(16, 0));
}

TEST(NewImages, AreBlackEvenOnADirtyHeap) {
  test::FaultGuard faults;
  sys::FillNewBlocks(0xCD);
  qoru::CImage32 image;
  ASSERT_TRUE(image.Resize(5, 4));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(image.pixels[i], 0u);
}

}  // namespace
