#include "document/Container.h"

namespace ifzvk {

bool HasDocumentMagic(const unsigned char* bytes) {
  for (std::size_t i = 0; i < sizeof kDocumentMagic; ++i) {
    if (bytes[i] != kDocumentMagic[i]) return false;
  }
  return true;
}

std::uint32_t ReadUInt32LE(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::int32_t ReadInt32LE(const unsigned char* bytes) {
  // Two's complement reinterpretation without relying on an out-of-range cast.
  const std::uint32_t value = ReadUInt32LE(bytes);
  if (value <= 0x7FFFFFFFu) return static_cast<std::int32_t>(value);
  return static_cast<std::int32_t>(value - 0x80000000u) + INT32_MIN;
}

bool LocateSections(const unsigned char* document, std::size_t length, DocumentSections& sections) {
  sections = DocumentSections{nullptr, 0, nullptr, 0};
  if (document == nullptr || length < kDocumentHeaderSize) return false;

  const std::int32_t xmlSize = ReadInt32LE(document + kXmlSizeOffset);
  const std::int32_t binSize = ReadInt32LE(document + kBinSizeOffset);
  if (xmlSize < 0 || binSize < 0) return false;

  // Compare each size with what is left instead of adding, so no sum can wrap.
  const std::size_t afterHeader = length - kDocumentHeaderSize;
  const auto xmlBytes = static_cast<std::size_t>(xmlSize);
  const auto binBytes = static_cast<std::size_t>(binSize);
  if (xmlBytes > afterHeader || binBytes > afterHeader - xmlBytes) return false;

  sections.xml = document + kDocumentHeaderSize;
  sections.xmlSize = xmlSize;
  sections.bin = sections.xml + xmlBytes;
  sections.binSize = binSize;
  return true;
}

}  // namespace ifzvk
