#include "document/PackerDecode.h"

#include <cstring>

#define ZLIB_CONST
#include <zlib.h>

#include "document/Container.h"
#include "platform/memory.h"

namespace qoru {
namespace {

constexpr unsigned char kPacMagic[4] = {'P', 'A', 'C', ' '};

// The numbers of a record header, read byte-wise from the record itself.
struct RecordFields {
  std::int32_t recordSize;
  std::uint32_t method;
  std::uint32_t packedSize;
  std::uint32_t unpackedSize;
};

RecordFields ReadRecordFields(const unsigned char* record) {
  return RecordFields{ifzvk::ReadInt32LE(record + kPacRecordSizeOffset),
                      ifzvk::ReadUInt32LE(record + kPacMethodOffset),
                      ifzvk::ReadUInt32LE(record + kPacPackedSizeOffset),
                      ifzvk::ReadUInt32LE(record + kPacUnpackedSizeOffset)};
}

// Exact, case-sensitive match of the record's name (the field's bytes up to
// its NUL) with the wanted name. A field without a NUL matches nothing.
bool NameMatches(const PacHeader& header, const char* wanted) {
  const void* nul = std::memchr(header.name, '\0', kPacNameField);
  if (nul == nullptr) return false;
  const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(nul) - header.name);
  // Walk the wanted name no further than the record's name and its NUL.
  for (std::size_t i = 0; i < length; ++i) {
    if (wanted[i] != header.name[i]) return false;
  }
  return wanted[length] == '\0';
}

// A new block of size bytes holding the stored data, or null when the
// allocation fails.
void* CopyStored(const unsigned char* data, std::uint32_t size) {
  void* block = ifzvk::sys::AllocHeap(size);
  if (block != nullptr) std::memcpy(block, data, size);
  return block;
}

// A new block of unpackedSize bytes holding the inflated stream, or null when
// the allocation or the inflation fails. A stream may end before the block is
// full; the rest is zero, so no stale heap bytes pass for decoded data. The
// block comes zeroed from the allocator rather than being cleared afterwards:
// a record may declare gigabytes for a stream of a few bytes, and fresh pages
// that nobody writes cost nothing.
void* InflateRecord(const unsigned char* stream, std::uint32_t packedSize, std::uint32_t unpackedSize) {
  void* block = ifzvk::sys::AllocHeapZeroed(unpackedSize);
  if (block == nullptr) return nullptr;
  std::uint32_t produced = 0;
  if (!ifzvk::InflateBuffer(stream, packedSize, block, &produced, unpackedSize)) {
    ifzvk::sys::FreeHeap(block);
    return nullptr;
  }
  return block;
}

enum class Outcome { Found, Failed, PassedOver };

// Decodes a record of the wanted name that starts budget bytes before the end
// of the copy; its header is known to lie inside. The data range is checked
// against the copy before any block is allocated.
Outcome DecodeRecord(const unsigned char* record, std::size_t budget, const RecordFields& fields, void** dataOut) {
  // No data: found, whatever the method says.
  if (fields.unpackedSize == 0) return Outcome::Found;
  const unsigned char* data = record + kPacHeaderSize;
  const std::size_t dataBudget = budget - kPacHeaderSize;
  if (fields.method == kMethodStored) {
    if (fields.unpackedSize > dataBudget) return Outcome::Failed;
    *dataOut = CopyStored(data, fields.unpackedSize);
  } else if (fields.method == kMethodDeflate) {
    if (fields.packedSize > dataBudget) return Outcome::Failed;
    *dataOut = InflateRecord(data, fields.packedSize, fields.unpackedSize);
  } else {
    return Outcome::PassedOver;
  }
  return *dataOut != nullptr ? Outcome::Found : Outcome::Failed;
}

}  // namespace

CFileRead::~CFileRead() { Close(); }

void CFileRead::Close() {
  if (data_ != nullptr) {
    ifzvk::sys::FreeHeap(data_);
    data_ = nullptr;
  }
  size_ = 0;
}

bool CFileRead::OpenMemory(const void* source, std::int32_t size) {
  Close();
  if (size < 0) return false;
  if (size == 0) return true;
  if (source == nullptr) return false;
  data_ = static_cast<unsigned char*>(ifzvk::sys::AllocHeap(static_cast<std::size_t>(size)));
  if (data_ == nullptr) return false;
  std::memcpy(data_, source, static_cast<std::size_t>(size));
  size_ = size;
  return true;
}

bool CPackerDecode::OpenMemory(const void* source, std::int32_t size) { return file_.OpenMemory(source, size); }

bool CPackerDecode::Decode(const char* name, PacHeader* headerOut, void** dataOut) const {
  if (dataOut == nullptr) return false;
  *dataOut = nullptr;
  if (name == nullptr) return false;

  const unsigned char* copy = file_.Data();
  std::size_t position = 0;
  // The walk's budget: the bytes from the position to the end of the copy.
  // Held unsigned and only ever reduced by less than itself, so it cannot wrap.
  std::size_t budget = file_.Size() > 0 ? static_cast<std::size_t>(file_.Size()) : 0;

  while (budget > 0) {
    if (budget < kPacHeaderSize) return false;
    const unsigned char* record = copy + position;
    if (std::memcmp(record, kPacMagic, sizeof kPacMagic) != 0) return false;
    PacHeader header;
    std::memcpy(&header, record, kPacHeaderSize);
    const RecordFields fields = ReadRecordFields(record);

    if (NameMatches(header, name)) {
      if (headerOut != nullptr) std::memcpy(headerOut, &header, kPacHeaderSize);
      const Outcome outcome = DecodeRecord(record, budget, fields, dataOut);
      if (outcome != Outcome::PassedOver) return outcome == Outcome::Found;
    }

    if (fields.recordSize <= 0) return false;
    const auto step = static_cast<std::size_t>(fields.recordSize);
    if (step >= budget) return false;
    position += step;
    budget -= step;
  }
  return false;
}

}  // namespace qoru

namespace ifzvk {

bool InflateBuffer(const void* source, std::uint32_t sourceLength, void* destination,
                   std::uint32_t* producedLength, std::uint32_t capacity) {
  if (producedLength != nullptr) *producedLength = 0;
  if ((source == nullptr && sourceLength > 0) || destination == nullptr) return false;

  z_stream stream{};
  stream.zalloc = Z_NULL;
  stream.zfree = Z_NULL;
  stream.opaque = Z_NULL;
  stream.next_in = static_cast<const Bytef*>(source);
  stream.avail_in = sourceLength;
  if (inflateInit(&stream) != Z_OK) return false;

  stream.next_out = static_cast<Bytef*>(destination);
  stream.avail_out = capacity;
  const int status = inflate(&stream, Z_NO_FLUSH);
  const uLong produced = stream.total_out;
  inflateEnd(&stream);
  if (status != Z_STREAM_END) return false;

  if (producedLength != nullptr) *producedLength = static_cast<std::uint32_t>(produced);
  return true;
}

}  // namespace ifzvk
