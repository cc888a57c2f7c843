#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <zlib.h>

#include "document/Container.h"
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

}  // namespace
