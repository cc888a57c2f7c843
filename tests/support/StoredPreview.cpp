#include "support/StoredPreview.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace ifzvk::test {

namespace {

using Bytes = std::vector<unsigned char>;

std::uint32_t LE32(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16) |
         static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

}  // namespace

std::vector<std::uint32_t> StoredPreview(const Bytes& document, std::size_t pixelCount) {
  const std::size_t record = 20 + LE32(document, 12);
  EXPECT_EQ(LE32(document, record + 8), 1u) << "the preview's record is compressed";
  const std::uint32_t packed = LE32(document, record + 12);
  uLongf unpacked = LE32(document, record + 16);
  EXPECT_EQ(unpacked, static_cast<uLongf>(pixelCount) * 4);
  EXPECT_LE(record + 132 + packed, document.size());
  std::vector<std::uint32_t> pixels(pixelCount);
  unpacked = static_cast<uLongf>(pixelCount) * 4;
  EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(pixels.data()), &unpacked, document.data() + record + 132, packed), Z_OK);
  return pixels;
}

}  // namespace ifzvk::test
