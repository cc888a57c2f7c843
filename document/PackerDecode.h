// Lookup of a named PAC record in a bin section, and its decoding: stored
// records are copied, compressed ones inflated with zlib.
#pragma once

#include <cstddef>
#include <cstdint>

// The 132-byte header of a PAC record, byte for byte as it lies in the
// document. Filled by copying the record's bytes, never by pointing into them.
#pragma pack(push, 1)
struct PacHeader {
  char magic[4];               // "PAC "
  std::int32_t recordSize;     // distance to the next record's first byte
  std::uint32_t method;        // 0 stored, 1 zlib stream, anything else is skipped
  std::uint32_t packedSize;    // length of the zlib stream (method 1 only)
  std::uint32_t unpackedSize;  // length of the decoded data; 0 means no data
  unsigned char reserved[48];
  char name[64];               // NUL-terminated within the field
};
#pragma pack(pop)
static_assert(sizeof(PacHeader) == 132, "a PAC record header is 132 bytes");

namespace qoru {

// Record layout, offsets from the record's first byte.
constexpr std::size_t kPacHeaderSize = sizeof(PacHeader);
constexpr std::size_t kPacRecordSizeOffset = offsetof(PacHeader, recordSize);
constexpr std::size_t kPacMethodOffset = offsetof(PacHeader, method);
constexpr std::size_t kPacPackedSizeOffset = offsetof(PacHeader, packedSize);
constexpr std::size_t kPacUnpackedSizeOffset = offsetof(PacHeader, unpackedSize);
constexpr std::size_t kPacNameOffset = offsetof(PacHeader, name);
constexpr std::size_t kPacNameField = sizeof(PacHeader::name);
constexpr std::uint32_t kMethodStored = 0;
constexpr std::uint32_t kMethodDeflate = 1;

// How a lookup ended.
enum class DecodeStatus {
  Decoded,   // the record was found and its data decoded
  Missing,   // no record of the name decides the lookup before the records end
  Broken,    // the record, or a record before it, breaks the layout, or its data do not decode as required
  NoMemory,  // a block could not be had
};

// A private heap copy of a byte area.
class CFileRead {
 public:
  CFileRead() = default;
  ~CFileRead();
  CFileRead(const CFileRead&) = delete;
  CFileRead& operator=(const CFileRead&) = delete;

  // Replaces the held copy with a copy of size bytes at source. A size of 0
  // holds nothing and succeeds. False, holding nothing, for a negative size,
  // a null source with a positive size, or a failed allocation.
  bool OpenMemory(const void* source, std::int32_t size);
  void Close();

  const unsigned char* Data() const { return data_; }
  std::int32_t Size() const { return size_; }

 private:
  unsigned char* data_ = nullptr;
  std::int32_t size_ = 0;
};

// Holds a copy of one bin section and hands out decoded records from it.
class CPackerDecode {
 public:
  // Copies the bin section; the caller may release its bytes afterwards.
  // Same results as CFileRead::OpenMemory; after false every lookup fails.
  bool OpenMemory(const void* source, std::int32_t size);

  // Walks the records in order and decodes the first one whose name equals
  // name exactly and whose unpackedSize is 0 or whose method is 0 or 1.
  //  - *dataOut is null on entry to the walk and on every path without a block;
  //  - true with a block of exactly unpackedSize bytes (the caller frees it
  //    with free()), or true with null when unpackedSize is 0;
  //  - *headerOut (when headerOut is not null) holds the record's header
  //    after true; after false it is not meaningful;
  //  - false when no such record is found, the walk meets a record that
  //    breaks the layout (bad magic, recordSize <= 0, header or data past the
  //    end of the copy), an allocation fails or the stream does not inflate
  //    to exactly unpackedSize bytes.
  // Never reads outside the copy and never changes the object.
  bool Decode(const char* name, PacHeader* headerOut, void** dataOut) const;

  // The same walk, keeping only the first `wanted` bytes of the record's
  // data. True only when the record has data (unpackedSize > 0) that hold at
  // least wanted bytes and decode completely: a stream must produce them and
  // still end, trailer checked, within unpackedSize; the output past them is
  // dropped as it arrives. *dataOut is then a block of exactly wanted bytes,
  // or null when wanted is 0. No block is ever larger than wanted bytes.
  // *status, when status is not null, says how the lookup ended.
  bool DecodeFirst(const char* name, std::uint32_t wanted, PacHeader* headerOut, void** dataOut,
                   DecodeStatus* status = nullptr) const;

 private:
  CFileRead file_;
};

}  // namespace qoru

namespace ifzvk {

// Inflates one complete zlib stream (RFC 1950) of at most sourceLength bytes
// that may produce at most `limit` bytes, and keeps its first `wanted` bytes
// (wanted <= limit). True only when the stream ends, Adler-32 trailer
// included, within both limits and after at least wanted bytes; *blockOut is
// then a new heap block of exactly wanted bytes (null when wanted is 0), and
// null after false. The block grows as output arrives and the output past it
// passes through a small scratch block, so what is allocated follows what the
// stream really produces, not what wanted or limit declare. *status, when
// status is not null, tells a failed block (NoMemory) from a stream that does
// not decode as required (Broken).
bool InflateFirst(const void* source, std::uint32_t sourceLength, std::uint32_t wanted, std::uint32_t limit,
                  void** blockOut, qoru::DecodeStatus* status = nullptr);

}  // namespace ifzvk
