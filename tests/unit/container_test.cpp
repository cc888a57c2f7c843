#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "document/Container.h"
#include "document/PackerDecode.h"
#include "support/CaseTitle.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using ifzvk::DocumentSections;
using ifzvk::LocateSections;
using ifzvk::writer::Bytes;
using ifzvk::writer::Document;
using ifzvk::writer::DocumentBytes;
using ifzvk::writer::StoredRecord;

// A heap block of exactly the document's bytes, so that the sanitizer build
// reports any read past its end.
struct ExactImage {
  explicit ExactImage(const Bytes& bytes) : length(bytes.size()), data(new unsigned char[bytes.size() + (bytes.empty() ? 1 : 0)]) {
    if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
  }
  std::size_t length;
  std::unique_ptr<unsigned char[]> data;
};

TEST(Container, IntegersAreLittleEndianAtAnyAlignment) {
  const struct {
    unsigned char bytes[4];
    std::int32_t signedValue;
    std::uint32_t unsignedValue;
  } cases[] = {
      {{0x78, 0x56, 0x34, 0x12}, 0x12345678, 0x12345678u},
      {{0xFF, 0xFF, 0xFF, 0xFF}, -1, 0xFFFFFFFFu},
      {{0x00, 0x00, 0x00, 0x80}, INT32_MIN, 0x80000000u},
      {{0xFF, 0xFF, 0xFF, 0x7F}, INT32_MAX, 0x7FFFFFFFu},
      {{0x2C, 0xFF, 0xFF, 0xFF}, -212, 0xFFFFFF2Cu},
  };
  for (const auto& c : cases) {
    for (std::size_t offset = 0; offset < 4; ++offset) {
      unsigned char buffer[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
      std::memcpy(buffer + offset, c.bytes, 4);
      EXPECT_EQ(ifzvk::ReadInt32LE(buffer + offset), c.signedValue) << "offset " << offset;
      EXPECT_EQ(ifzvk::ReadUInt32LE(buffer + offset), c.unsignedValue) << "offset " << offset;
    }
  }
}

struct SectionCase {
  const char* title;
  std::string xml;
  std::size_t binBytes;                // size of one stored record's payload, 0 for no record
  std::optional<std::int32_t> xmlSize;  // header overrides
  std::optional<std::int32_t> binSize;
  std::size_t trailing = 0;
  long cut = 0;  // bytes removed from the end of the image
  bool ok = true;
};
void PrintTo(const SectionCase& c, std::ostream* out) { *out << c.title; }

const SectionCase kSectionCases[] = {
    {"well formed", "<Zorvik/>", 10, {}, {}},
    {"empty xml section", "", 10, {}, {}},
    {"odd xml size puts the bin section at an odd offset", "<Zorvik />", 3, {}, {}},
    {"empty bin section", "<Zorvik/>", 0, {}, {}},
    {"header only", "", 0, {}, {}},
    {"trailing bytes after the bin section", "<Zorvik/>", 10, {}, {}, 33},
    {"sections shorter than the header claims leave trailing bytes", "<Zorvik/>", 10, 4, 100},
    {"image shorter than the header", "", 0, {}, {}, 0, 1, false},
    {"negative xml size", "<Zorvik/>", 10, -1, {}, 0, 0, false},
    {"negative bin size", "<Zorvik/>", 10, {}, -1, 0, 0, false},
    {"most negative sizes", "<Zorvik/>", 10, INT32_MIN, INT32_MIN, 0, 0, false},
    {"bin section one byte past the image", "<Zorvik/>", 10, {}, {}, 0, 1, false},
    {"xml section past the image", "<Zorvik/>", 0, 10, 0, 0, 0, false},
    {"sizes whose 32-bit sum wraps to a small value", "<Zorvik/>", 10, INT32_MAX, INT32_MAX, 0, 0, false},
    {"largest bin size", "<Zorvik/>", 10, 9, INT32_MAX, 0, 0, false},
    {"largest xml size", "<Zorvik/>", 10, INT32_MAX, 0, 0, 0, false},
};

class Sections : public testing::TestWithParam<SectionCase> {};

TEST_P(Sections, LieInsideTheImageOrAreRefused) {
  const SectionCase& c = GetParam();
  Document document;
  document.xml = c.xml;
  if (c.binBytes > 0) document.records.push_back(StoredRecord("thumb", Bytes(c.binBytes, 0x5A)));
  document.xmlSize = c.xmlSize;
  document.binSize = c.binSize;
  document.trailing = Bytes(c.trailing, 0xCC);
  Bytes bytes = DocumentBytes(document);
  bytes.resize(bytes.size() - static_cast<std::size_t>(c.cut));
  const ExactImage image(bytes);

  DocumentSections sections{};
  ASSERT_EQ(LocateSections(image.data.get(), image.length, sections), c.ok);
  if (!c.ok) {
    EXPECT_EQ(sections.xml, nullptr);
    EXPECT_EQ(sections.bin, nullptr);
    return;
  }
  const std::int32_t xmlSize = c.xmlSize.value_or(static_cast<std::int32_t>(c.xml.size()));
  EXPECT_EQ(sections.xml, image.data.get() + 20);
  EXPECT_EQ(sections.xmlSize, xmlSize);
  EXPECT_EQ(sections.bin, image.data.get() + 20 + xmlSize);
  EXPECT_EQ(sections.binSize, c.binSize.value_or(c.binBytes > 0 ? static_cast<std::int32_t>(132 + c.binBytes) : 0));
}

INSTANTIATE_TEST_SUITE_P(Header, Sections, testing::ValuesIn(kSectionCases), ifzvk::test::ByTitle());

TEST(Container, NullImageHasNoSections) {
  DocumentSections sections{};
  EXPECT_FALSE(LocateSections(nullptr, 100, sections));
}

// Section split and record lookup together: sections at odd offsets, records at odd offsets,
// and trailing bytes, read from an image of exactly the document's length.
TEST(Container, RecordsAtOddOffsetsAreFoundThroughTheDocument) {
  Document document;
  document.xml = "<?xml version=\"1.0\"?><Zorvik><Thumb width=\"2\" height=\"1\" bin=\"px\"/></Zorvik>";
  if (document.xml.size() % 2 == 0) document.xml += ' ';
  document.records = {StoredRecord("pad", Bytes(7, 1)), StoredRecord("pad2", Bytes(1, 2)),
                      ifzvk::writer::CompressedRecord("px", Bytes{1, 2, 3, 4, 5, 6, 7, 8})};
  document.trailing = Bytes(5, 0xAA);
  const ExactImage image(DocumentBytes(document));

  DocumentSections sections{};
  ASSERT_TRUE(LocateSections(image.data.get(), image.length, sections));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sections.xml), static_cast<std::size_t>(sections.xmlSize)),
            document.xml);
  qoru::CPackerDecode decoder;
  ASSERT_TRUE(decoder.OpenMemory(sections.bin, sections.binSize));
  PacHeader header;
  void* block = nullptr;
  ASSERT_TRUE(decoder.Decode("px", &header, &block));
  EXPECT_EQ(header.recordSize, static_cast<std::int32_t>(132 + header.packedSize));
  EXPECT_EQ(Bytes(static_cast<unsigned char*>(block), static_cast<unsigned char*>(block) + 8),
            (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  std::free(block);
}

}  // namespace
