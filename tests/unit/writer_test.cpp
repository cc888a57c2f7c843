#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <zlib.h>

#include "document/Container.h"
#include "support/CaseTitle.h"
#include "tools/image_io/Bmp.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using ifzvk::ReadInt32LE;
using ifzvk::ReadUInt32LE;
using ifzvk::writer::Bytes;
using ifzvk::writer::Record;

// The writer is what every reader test trusts, so its field placement is
// checked against the record and document layouts here, with unusual values.
TEST(DocumentWriter, EveryRecordFieldLandsAtItsOffset) {
  Record record = ifzvk::writer::StoredRecord("name", Bytes{9, 8, 7});
  record.magic = {'P', 'A', 'C', '!'};
  record.recordSize = -5;
  record.method = 0xA1B2C3D4u;
  record.packedSize = 0x01020304u;
  record.unpackedSize = 0xFFFFFFFEu;
  record.reserved.fill(0x77);
  const Bytes bytes = ifzvk::writer::RecordBytes(record);
  ASSERT_EQ(bytes.size(), 135u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "PAC!");
  EXPECT_EQ(ReadInt32LE(&bytes[4]), -5);
  EXPECT_EQ(ReadUInt32LE(&bytes[8]), 0xA1B2C3D4u);
  EXPECT_EQ(ReadUInt32LE(&bytes[12]), 0x01020304u);
  EXPECT_EQ(ReadUInt32LE(&bytes[16]), 0xFFFFFFFEu);
  EXPECT_EQ(bytes[20], 0x77);
  EXPECT_EQ(bytes[67], 0x77);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[68])), "name");
  EXPECT_EQ(bytes[131], 0);
  EXPECT_EQ(Bytes(bytes.begin() + 132, bytes.end()), (Bytes{9, 8, 7}));
}

TEST(DocumentWriter, UnsetSizesAreThoseOfAWellFormedDocument) {
  ifzvk::writer::Document document;
  document.xml = "<Zorvik/>";
  document.records = {ifzvk::writer::StoredRecord("a", Bytes(5, 1)),
                      ifzvk::writer::CompressedRecord("b", Bytes(300, 2))};
  document.trailing = Bytes{0xEE};
  const Bytes bytes = ifzvk::writer::DocumentBytes(document);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 7), "zorvixa");
  EXPECT_EQ(ReadInt32LE(&bytes[12]), 9);
  const std::int32_t binSize = ReadInt32LE(&bytes[16]);
  EXPECT_EQ(bytes.size(), 20u + 9u + static_cast<std::size_t>(binSize) + 1u);

  const unsigned char* second = &bytes[29 + 137];
  EXPECT_EQ(ReadInt32LE(&bytes[29 + 4]), 137);
  EXPECT_EQ(ReadUInt32LE(second + 8), 1u);
  EXPECT_EQ(ReadUInt32LE(second + 16), 300u);
  const std::uint32_t packed = ReadUInt32LE(second + 12);
  EXPECT_EQ(ReadInt32LE(second + 4), static_cast<std::int32_t>(132 + packed));
  EXPECT_EQ(binSize, static_cast<std::int32_t>(137 + 132 + packed));

  Bytes unpacked(300);
  uLongf length = 300;
  ASSERT_EQ(uncompress(unpacked.data(), &length, second + 132, packed), Z_OK);
  EXPECT_EQ(unpacked, Bytes(300, 2));
}

// ---------------------------------------------------------------------------
// The tools' bitmap files.

using ifzvk::imageio::DecodeBmp;
using ifzvk::imageio::EncodeBmp;

std::vector<std::uint32_t> Gradient(int width, int height) {
  std::vector<std::uint32_t> pixels;
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
    std::vector<std::uint32_t> back;
    ASSERT_TRUE(DecodeBmp(file, w, h, back, error)) << error;
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(back, pixels) << "width " << width;
  }
}

// A hand-made 2 x 2 bitmap with 32-bit pixels.
Bytes ThirtyTwoBit(std::int32_t height, std::uint32_t compression, std::uint32_t infoSize = 40) {
  Bytes file(14 + infoSize + 12 + 16, 0);
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(10, 14 + infoSize + 12);
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
  return file;
}

struct BmpCase {
  const char* title;
  std::function<Bytes()> file;
  bool ok;
  std::vector<std::uint32_t> topDown = {};
};
void PrintTo(const BmpCase& c, std::ostream* out) { *out << c.title; }

const BmpCase kBmpCases[] = {
    {"32-bit bottom-up", [] { return ThirtyTwoBit(2, 0); }, true, {0x030303, 0x040404, 0x010101, 0x020202}},
    {"32-bit top-down", [] { return ThirtyTwoBit(-2, 0); }, true, {0x010101, 0x020202, 0x030303, 0x040404}},
    {"32-bit with plain bit fields", [] { return ThirtyTwoBit(-2, 3); }, true, {0x010101, 0x020202, 0x030303, 0x040404}},
    {"32-bit with bit fields in a version 5 header", [] { return ThirtyTwoBit(-2, 3, 124); }, true,
     {0x010101, 0x020202, 0x030303, 0x040404}},
    {"run-length compression", [] { return ThirtyTwoBit(2, 1); }, false},
    {"pixels cut short",
     [] {
       Bytes file = ThirtyTwoBit(2, 0);
       file.pop_back();
       return file;
     },
     false},
    {"pixel offset past the end",
     [] {
       Bytes file = ThirtyTwoBit(2, 0);
       file[10] = 0xFF;
       file[11] = 0xFF;
       return file;
     },
     false},
    {"header cut short", [] { return Bytes{'B', 'M', 0, 0}; }, false},
};

class BmpFiles : public testing::TestWithParam<BmpCase> {};

TEST_P(BmpFiles, ReadOnlyPlainLayouts) {
  const BmpCase& c = GetParam();
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  std::string error;
  const Bytes file = c.file();
  EXPECT_EQ(DecodeBmp(file, width, height, pixels, error), c.ok) << error;
  if (c.ok) EXPECT_EQ(pixels, c.topDown);
  if (!c.ok) EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, BmpFiles, testing::ValuesIn(kBmpCases), ifzvk::test::ByTitle());

}  // namespace
