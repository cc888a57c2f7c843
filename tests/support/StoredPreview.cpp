#include "support/StoredPreview.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace ifzvk::test {
namespace {

std::uint32_t LE32(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16) |
         static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

}  // namespace

// The header's XML size, then the first PAC record's header and its stream.
std::vector<std::uint32_t> StoredPreview(const Bytes& document, int side) {
  const std::size_t record = 20 + LE32(document, 12);
  EXPECT_EQ(LE32(document, record + 8), 1u) << "the preview is compressed";
  const std::uint32_t packed = LE32(document, record + 12);
  uLongf unpacked = LE32(document, record + 16);
  EXPECT_EQ(unpacked, static_cast<uLongf>(side) * static_cast<uLongf>(side) * 4);
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
  if (record + 132 + packed > document.size() || unpacked != pixels.size() * 4) {
    ADD_FAILURE() << "the record does not hold a " << side << " x " << side << " preview";
    return pixels;
  }
  EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(pixels.data()), &unpacked, document.data() + record + 132, packed), Z_OK);
  return pixels;
}

}  // namespace ifzvk::test
