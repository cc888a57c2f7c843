// The layout of a document image: a 20-byte header (the magic "zorvixa",
// reserved bytes, the two section sizes), the XML section and the bin section
// of PAC records, back to back. Integers are 32-bit little-endian at any
// alignment and are read byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ifzvk {

constexpr unsigned char kDocumentMagic[7] = {'z', 'o', 'r', 'v', 'i', 'x', 'a'};
constexpr std::size_t kDocumentHeaderSize = 20;
constexpr std::size_t kXmlSizeOffset = 12;
constexpr std::size_t kBinSizeOffset = 16;

// True when bytes start with the magic, compared exactly; bytes must hold at
// least sizeof kDocumentMagic bytes.
bool HasDocumentMagic(const unsigned char* bytes);

// The four bytes at bytes, least significant first; no alignment assumed.
std::int32_t ReadInt32LE(const unsigned char* bytes);
std::uint32_t ReadUInt32LE(const unsigned char* bytes);

// Where the two sections lie inside a document image.
struct DocumentSections {
  const unsigned char* xml;
  std::int32_t xmlSize;
  const unsigned char* bin;
  std::int32_t binSize;
};

// Splits the document image (length bytes at document) into its sections.
// False, with sections cleared, when the image is shorter than the header or
// the header's sizes are negative or reach past length; no byte beyond the
// header is read, and none beyond length in any case. Trailing bytes after the
// bin section are allowed.
bool LocateSections(const unsigned char* document, std::size_t length, DocumentSections& sections);

}  // namespace ifzvk
