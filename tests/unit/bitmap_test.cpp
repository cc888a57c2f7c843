// The conversion of an image into the host's two blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "plugin/bitmap.h"
#include "support/CaseTitle.h"
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

// An image of imageWidth x imageHeight pixels (row 0 on top) written as a
// picture of width x height: its top-left corner, rows bottom-up, each pixel
// blue, green, red, rows padded to four bytes.
struct LayoutCase {
  const char* title;
  int imageWidth, imageHeight;
  std::vector<std::uint32_t> pixels;
  int width, height;
  Bytes bits;
};

const LayoutCase kLayoutCases[] = {
    {"rows bottom-up and pixels blue green red", 2, 2,
     {0x11223344, 0x00A1B1C1, 0xFF0000FF, 0x7F00FF00}, 2, 2,
     {0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0, 0, 0x44, 0x33, 0x22, 0xC1, 0xB1, 0xA1, 0, 0}},
    {"bits 24 to 31 never show", 2, 1, {0x00102030, 0xFF102030}, 2, 1, {0x30, 0x20, 0x10, 0x30, 0x20, 0x10, 0, 0}},
    {"three pixels pad their row with three zeros", 3, 1, {0x010203, 0x040506, 0x070809}, 3, 1,
     {3, 2, 1, 6, 5, 4, 9, 8, 7, 0, 0, 0}},
    // After a failed extraction the image may keep the preview's size while
    // the picture is 1 x 1: the pixel is (0, 0), not the bottom-left one.
    {"only the requested corner of a larger image", 3, 3,
     {0x00010203, 0, 0, 0, 0, 0, 0x00AABBCC, 0, 0}, 1, 1, {0x03, 0x02, 0x01, 0}},
    // Rows are found by the image's own width, not the picture's.
    {"a corner of several rows steps by the image's rows", 3, 3,
     {0x010101, 0x020202, 0x030303, 0x040404, 0x050505, 0x060606, 0x070707, 0x080808, 0x090909}, 2, 2,
     {4, 4, 4, 5, 5, 5, 0, 0, 1, 1, 1, 2, 2, 2, 0, 0}},
};

class Layout : public testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, WriteBitmapLaysOutTheCorner) {
  const LayoutCase& c = GetParam();
  test::FaultGuard faults;
  sys::FillNewBlocks(0xCD);  // padding must be written, not left as found
  qoru::CImage32 image;
  ASSERT_TRUE(image.Resize(c.imageWidth, c.imageHeight));
  std::copy(c.pixels.begin(), c.pixels.end(), image.pixels);
  test::HostBitmap bitmap;
  ASSERT_EQ(WriteBitmap(image, c.width, c.height, &bitmap.info, &bitmap.bits), Success);
  EXPECT_EQ(bitmap.Width(), c.width);
  EXPECT_EQ(bitmap.Height(), c.height);
  EXPECT_EQ(bitmap.BitsBytes(c.bits.size()), c.bits);
}

INSTANTIATE_TEST_SUITE_P(WriteBitmap, Layout, testing::ValuesIn(kLayoutCases), test::ByTitle());

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

}  // namespace
