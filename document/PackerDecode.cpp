#include "document/PackerDecode.h"

#include <algorithm>
#include <cstring>

#define ZLIB_CONST
#include <zlib.h>

#include "document/Container.h"
#include "document/Limits.h"
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

// What a lookup asks of the record: all of its data, or its first bytes.
struct Wanted {
  bool whole;
  std::uint32_t bytes;  // when not whole
};

// What one record of the wanted name says about the lookup.
enum class Verdict { Decides, PassedOver };

// Decodes a record of the wanted name that starts budget bytes before the end
// of the copy; its header is known to lie inside. The data range is checked
// against the copy before any block is allocated, and no block is sized by
// more than the bytes wanted.
Verdict DecodeRecord(const unsigned char* record, std::size_t budget, const RecordFields& fields, Wanted wanted,
                     void** dataOut, DecodeStatus* status) {
  // No data: found, whatever the method says; but it has no first bytes to
  // give, not even none of them.
  if (fields.unpackedSize == 0) {
    *status = wanted.whole ? DecodeStatus::Decoded : DecodeStatus::Broken;
    return Verdict::Decides;
  }
  if (fields.method != kMethodStored && fields.method != kMethodDeflate) return Verdict::PassedOver;
  *status = DecodeStatus::Broken;
  const std::uint32_t keep = wanted.whole ? fields.unpackedSize : wanted.bytes;
  if (keep > fields.unpackedSize) return Verdict::Decides;  // the data cannot hold them
  const unsigned char* data = record + kPacHeaderSize;
  const std::size_t dataBudget = budget - kPacHeaderSize;
  if (fields.method == kMethodStored) {
    if (fields.unpackedSize > dataBudget) return Verdict::Decides;
    if (keep > 0) *dataOut = CopyStored(data, keep);
    *status = keep == 0 || *dataOut != nullptr ? DecodeStatus::Decoded : DecodeStatus::NoMemory;
    return Verdict::Decides;
  }
  if (fields.packedSize > dataBudget) return Verdict::Decides;
  ifzvk::InflateFirst(data, fields.packedSize, keep, fields.unpackedSize, dataOut, status);
  return Verdict::Decides;
}

// The walk of the records: the first record of the name that decides the
// lookup, its header in *header. See CPackerDecode::Decode.
DecodeStatus Walk(const CFileRead& file, const char* name, Wanted wanted, PacHeader* header, void** dataOut) {
  const unsigned char* copy = file.Data();
  std::size_t position = 0;
  // The walk's budget: the bytes from the position to the end of the copy.
  // Held unsigned and only ever reduced by less than itself, so it cannot wrap.
  std::size_t budget = file.Size() > 0 ? static_cast<std::size_t>(file.Size()) : 0;

  while (budget > 0) {
    if (budget < kPacHeaderSize) return DecodeStatus::Broken;
    const unsigned char* record = copy + position;
    if (std::memcmp(record, kPacMagic, sizeof kPacMagic) != 0) return DecodeStatus::Broken;
    std::memcpy(header, record, kPacHeaderSize);
    const RecordFields fields = ReadRecordFields(record);

    DecodeStatus status = DecodeStatus::Missing;
    if (NameMatches(*header, name) &&
        DecodeRecord(record, budget, fields, wanted, dataOut, &status) == Verdict::Decides)
      return status;

    if (fields.recordSize <= 0) return DecodeStatus::Broken;
    const auto step = static_cast<std::size_t>(fields.recordSize);
    if (step == budget) return DecodeStatus::Missing;  // that was the last record
    if (step > budget) return DecodeStatus::Broken;
    position += step;
    budget -= step;
  }
  return DecodeStatus::Missing;
}

bool LookUp(const CFileRead& file, const char* name, Wanted wanted, PacHeader* headerOut, void** dataOut,
            DecodeStatus* statusOut) {
  DecodeStatus ignored;
  DecodeStatus& status = statusOut != nullptr ? *statusOut : ignored;
  status = DecodeStatus::Missing;
  if (dataOut == nullptr) return false;
  *dataOut = nullptr;
  if (name == nullptr) return false;
  PacHeader header;
  status = Walk(file, name, wanted, &header, dataOut);
  if (status != DecodeStatus::Decoded) return false;
  if (headerOut != nullptr) std::memcpy(headerOut, &header, kPacHeaderSize);
  return true;
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
  return LookUp(file_, name, Wanted{true, 0}, headerOut, dataOut, nullptr);
}

bool CPackerDecode::DecodeFirst(const char* name, std::uint32_t wanted, PacHeader* headerOut, void** dataOut,
                                DecodeStatus* status) const {
  return LookUp(file_, name, Wanted{false, wanted}, headerOut, dataOut, status);
}

}  // namespace qoru

namespace ifzvk {

namespace {

// Where a stream's output goes: its first `wanted` bytes into a block that
// grows as they arrive (doubling, never past wanted bytes), everything after
// them into a scratch block that each room overwrites, and nothing past
// `limit` bytes in all.
class COutputSink {
 public:
  COutputSink(std::uint32_t wanted, std::uint32_t limit) : wanted_(wanted), limit_(limit) {}
  ~COutputSink() {
    sys::FreeHeap(kept_);
    sys::FreeHeap(scratch_);
  }
  COutputSink(const COutputSink&) = delete;
  COutputSink& operator=(const COutputSink&) = delete;

  // Gives the stream, whose output room is used up, its next room. False
  // when a block cannot be had.
  bool NextRoom(z_stream& stream) {
    // total_out counts only output that went into rooms given here, which
    // never reach past limit_: it fits in 32 bits.
    const auto produced = static_cast<std::uint32_t>(stream.total_out);
    if (produced < wanted_) {
      if (produced == capacity_ && !Grow()) return false;
      stream.next_out = kept_ + produced;
      stream.avail_out = capacity_ - produced;
      return true;
    }
    const std::uint32_t left = limit_ - produced;
    if (left == 0) {
      // No room: the stream may still end, its trailer needs none.
      stream.next_out = &noRoom_;
      stream.avail_out = 0;
      return true;
    }
    if (scratch_ == nullptr) scratch_ = static_cast<unsigned char*>(sys::AllocHeap(limits::kInflateScratchBytes));
    if (scratch_ == nullptr) return false;
    stream.next_out = scratch_;
    stream.avail_out = left < limits::kInflateScratchBytes ? left : limits::kInflateScratchBytes;
    return true;
  }

  // The block of the first wanted bytes, once they have all arrived; null
  // when wanted is 0. The caller owns it.
  void* ReleaseKept() {
    void* block = kept_;
    kept_ = nullptr;
    return block;
  }

 private:
  // The kept block is full: it grows to twice its size, but no larger than
  // wanted_, keeping its bytes.
  bool Grow() {
    const std::uint32_t size = capacity_ == 0   ? std::min(wanted_, limits::kInflateFirstBlockBytes)
                               : capacity_ > wanted_ / 2 ? wanted_
                                                         : capacity_ * 2;
    auto* grown = static_cast<unsigned char*>(sys::ReallocHeap(kept_, size));
    if (grown == nullptr) return false;
    kept_ = grown;
    capacity_ = size;
    return true;
  }

  const std::uint32_t wanted_;
  const std::uint32_t limit_;
  unsigned char* kept_ = nullptr;
  std::uint32_t capacity_ = 0;
  unsigned char* scratch_ = nullptr;
  unsigned char noRoom_ = 0;
};

// Inflates until the stream ends. Decoded when it ends, trailer checked,
// having produced at least wanted bytes; NoMemory when a block fails; Broken
// when it is damaged, cut short, needs a dictionary or would produce more
// than the sink's limit.
qoru::DecodeStatus RunToStreamEnd(z_stream& stream, COutputSink& sink, std::uint32_t wanted) {
  using qoru::DecodeStatus;
  for (;;) {
    if (stream.avail_out == 0 && !sink.NextRoom(stream)) return DecodeStatus::NoMemory;
    const int status = inflate(&stream, Z_NO_FLUSH);
    if (status == Z_STREAM_END) return stream.total_out >= wanted ? DecodeStatus::Decoded : DecodeStatus::Broken;
    if (status == Z_MEM_ERROR) return DecodeStatus::NoMemory;
    // Z_OK always comes with progress through the finite input or the
    // bounded output, so the loop ends; anything else ends it at once.
    if (status != Z_OK) return DecodeStatus::Broken;
  }
}

}  // namespace

bool InflateFirst(const void* source, std::uint32_t sourceLength, std::uint32_t wanted, std::uint32_t limit,
                  void** blockOut, qoru::DecodeStatus* statusOut) {
  qoru::DecodeStatus ignored;
  qoru::DecodeStatus& status = statusOut != nullptr ? *statusOut : ignored;
  status = qoru::DecodeStatus::Broken;
  if (blockOut == nullptr) return false;
  *blockOut = nullptr;
  if ((source == nullptr && sourceLength > 0) || wanted > limit) return false;

  z_stream stream{};
  stream.zalloc = Z_NULL;
  stream.zfree = Z_NULL;
  stream.opaque = Z_NULL;
  stream.next_in = static_cast<const Bytef*>(source);
  stream.avail_in = sourceLength;
  const int started = inflateInit(&stream);
  if (started != Z_OK) {
    if (started == Z_MEM_ERROR) status = qoru::DecodeStatus::NoMemory;
    return false;
  }
  COutputSink sink(wanted, limit);
  status = RunToStreamEnd(stream, sink, wanted);
  inflateEnd(&stream);
  if (status != qoru::DecodeStatus::Decoded) return false;
  *blockOut = sink.ReleaseKept();
  return true;
}

}  // namespace ifzvk
