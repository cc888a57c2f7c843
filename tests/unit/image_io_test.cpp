// The tools' picture files: BMP and PNG reading and writing.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "document/Container.h"
#include "support/CaseTitle.h"
#include "support/TestSupport.h"
#include "tools/image_io/Bmp.h"
#include "tools/image_io/Png.h"

namespace {

using namespace ifzvk;
using namespace ifzvk::imageio;
using Bytes = std::vector<unsigned char>;
using Pixels = std::vector<std::uint32_t>;

Pixels Gradient(int width, int height) {
  Pixels pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pixels.push_back(static_cast<std::uint32_t>((x * 37) | (y * 91) << 8 | (x + y) << 16));
  }
  return pixels;
}

TEST(Bmp, WrittenFilesReadBackForEveryRowPadding) {
  for (int width : {1, 2, 3, 4, 5}) {
    const auto pixels = Gradient(width, 3);
    Bytes file;
    std::string error;
    ASSERT_TRUE(EncodeBmp(width, 3, pixels, file, error));
    EXPECT_EQ(file.size(), 54u + 3u * ((3u * static_cast<unsigned>(width) + 3u) / 4u * 4u));
    EXPECT_EQ(ReadInt32LE(&file[22]), 3) << "bottom-up";
    int w = 0, h = 0;
    Pixels back;
    ASSERT_TRUE(DecodeBmp(file, w, h, back, error)) << error;
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(back, pixels) << "width " << width;
  }
}

// A hand-made 2 x 2 bitmap with 32-bit pixels, stored as its height says;
// cut short by `cut` bytes, or with the pixels' offset moved to `offset`.
Bytes ThirtyTwoBit(std::int32_t height, std::uint32_t compression, std::uint32_t infoSize = 40, std::size_t cut = 0,
                   std::uint32_t offset = 0) {
  Bytes file(14 + infoSize + 12 + 16, 0);
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(10, offset != 0 ? offset : 14 + infoSize + 12);
  put32(14, infoSize);
  put32(18, 2);
  put32(22, static_cast<std::uint32_t>(height));
  file[26] = 1;
  file[28] = 32;
  put32(30, compression);
  put32(54, 0x00FF0000u);
  put32(58, 0x0000FF00u);
  put32(62, 0x000000FFu);
  for (std::uint32_t i = 0; i < 4; ++i) put32(14 + infoSize + 12 + 4 * i, 0xFF000000u | (i + 1) * 0x010101u);
  file.resize(file.size() - cut);
  return file;
}

struct BmpCase {
  const char* title;
  Bytes file;
  bool ok;
  Pixels topDown = {};
};
void PrintTo(const BmpCase& c, std::ostream* out) { *out << c.title; }

const Pixels kTopDown = {0x010101, 0x020202, 0x030303, 0x040404};
const BmpCase kBmpCases[] = {
    {"32-bit bottom-up", ThirtyTwoBit(2, 0), true, {0x030303, 0x040404, 0x010101, 0x020202}},
    {"32-bit top-down", ThirtyTwoBit(-2, 0), true, kTopDown},
    {"32-bit with plain bit fields", ThirtyTwoBit(-2, 3), true, kTopDown},
    {"32-bit with bit fields in a version 5 header", ThirtyTwoBit(-2, 3, 124), true, kTopDown},
    {"run-length compression", ThirtyTwoBit(2, 1), false},
    {"pixels cut short", ThirtyTwoBit(2, 0, 40, 1), false},
    {"pixel offset past the end", ThirtyTwoBit(2, 0, 40, 0, 0xFFFF), false},
    {"header cut short", Bytes{'B', 'M', 0, 0}, false},
};

class BmpFiles : public testing::TestWithParam<BmpCase> {};

TEST_P(BmpFiles, ReadOnlyPlainLayouts) {
  const BmpCase& c = GetParam();
  int width = 0, height = 0;
  Pixels pixels;
  std::string error;
  EXPECT_EQ(DecodeBmp(c.file, width, height, pixels, error), c.ok) << error;
  if (c.ok) EXPECT_EQ(pixels, c.topDown);
  if (!c.ok) EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, BmpFiles, testing::ValuesIn(kBmpCases), test::ByTitle());

#ifdef ZVK_HAVE_PNG

// Written by the tools' writer, read back by their reader (libpng both).
TEST(Png, WrittenPixelsReadBackInPlaceAndOpaque) {
  test::ScopedWorkDir dir;
  Pixels pixels = Gradient(3, 2);
  pixels[2] |= 0x7F000000u;
  std::string error;
  ASSERT_TRUE(WritePng("picture.png", 3, 2, pixels, error)) << error;

  Bytes file;
  ASSERT_TRUE(test::ReadFileBytes("picture.png", file));
  ASSERT_TRUE(IsPng(file));
  EXPECT_EQ(file.at(25), 2) << "colour type: RGB, no alpha channel is stored";
  int width = 0, height = 0;
  Pixels back;
  ASSERT_TRUE(DecodePng(file, width, height, back, error)) << error;
  EXPECT_EQ(width, 3);
  EXPECT_EQ(height, 2);
  Pixels expected;
  for (const std::uint32_t pixel : pixels) expected.push_back(pixel | 0xFF000000u);
  EXPECT_EQ(back, expected);
  file.resize(file.size() / 2);
  EXPECT_FALSE(DecodePng(file, width, height, back, error)) << "a file cut short";
}

TEST(Png, AFileThatCannotBeMadeIsAnErrorWithAMessage) {
  test::ScopedWorkDir dir;
  std::string error;
  EXPECT_FALSE(WritePng("no-such-folder/picture.png", 1, 1, {0}, error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(dir.Entries().empty());
}

#else

TEST(Png, ThisBuildRefusesWithAMessage) {
  std::string error;
  EXPECT_FALSE(CanWritePng());
  EXPECT_FALSE(WritePng("picture.png", 1, 1, {0}, error));
  EXPECT_NE(error.find("BMP"), std::string::npos) << error;
}

#endif

}  // namespace
