// Builds zorvik documents byte by byte for tests and sample files. Every
// header field can be given any value, broken ones included, so a test can
// write exactly the bytes its case needs. Never linked into the module.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ifzvk::writer {

using Bytes = std::vector<unsigned char>;

// One PAC record: a 132-byte header and the bytes that follow it. Unset sizes
// take the values a well-formed record has.
struct Record {
  std::array<unsigned char, 4> magic{{'P', 'A', 'C', ' '}};
  std::optional<std::int32_t> recordSize;     // default: 132 + data.size()
  std::uint32_t method = 0;
  std::optional<std::uint32_t> packedSize;    // default: data.size()
  std::optional<std::uint32_t> unpackedSize;  // default: data.size()
  std::array<unsigned char, 48> reserved{};
  std::array<unsigned char, 64> name{};       // see SetName
  Bytes data;                                 // written right after the header

  // Writes up to 64 bytes of text into the name field and pads it with NUL;
  // a text of 64 bytes or more leaves the field without a NUL.
  Record& SetName(std::string_view text);
};

// A stored record (method 0) holding payload.
Record StoredRecord(std::string_view name, const Bytes& payload);
// A compressed record (method 1): payload as one zlib stream; unpackedSize
// is the payload's length and packedSize the stream's.
Record CompressedRecord(std::string_view name, const Bytes& payload, int level = 9);

// The whole document. Unset sizes take the values a well-formed document has.
struct Document {
  std::array<unsigned char, 7> magic{{'z', 'o', 'r', 'v', 'i', 'x', 'a'}};
  std::array<unsigned char, 5> reserved{};
  std::optional<std::int32_t> xmlSize;  // default: xml.size()
  std::optional<std::int32_t> binSize;  // default: the bytes of all records
  std::string xml;
  std::vector<Record> records;
  Bytes trailing;  // bytes after the bin section
};

// The record's header and data, exactly as they go into a bin section.
Bytes RecordBytes(const Record& record);
// The records back to back.
Bytes BinSection(const std::vector<Record>& records);
// Header, XML text, bin section and trailing bytes.
Bytes DocumentBytes(const Document& document);

// One complete zlib stream of input; empty when zlib fails.
Bytes Deflate(const Bytes& input, int level = 9);

// One zlib stream of head followed by zeroCount zero bytes, made in moments
// however many gigabytes it holds: after a full flush deflate forgets what
// came before, so every 1 MiB of zeros compresses to the same bytes, and the
// stream repeats them; the Adler-32 trailer is worked out for the whole.
// Empty when zlib fails.
Bytes DeflateWithZeros(const Bytes& head, std::uint64_t zeroCount);

// A small document whose Thumb states width x height and names binName, with
// one compressed record "t" holding stream and stating unpackedSize, whatever
// the stream really holds: for documents that claim more than they have.
Document StatedPreviewDocument(int width, int height, std::string_view binName, Bytes stream,
                               std::uint32_t unpackedSize);

// The XML description of a document whose preview is width x height pixels
// held in the record named binName (escaped as an attribute value).
std::string ThumbXml(int width, int height, std::string_view binName);

// Four bytes per pixel, blue, green, red, unused: the preview record's data.
Bytes PixelBytes(const std::vector<std::uint32_t>& bgrxPixels);

}  // namespace ifzvk::writer
