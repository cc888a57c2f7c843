#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "document/PackerDecode.h"
#include "support/CaseTitle.h"
#include "support/TestSupport.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using ifzvk::sys::FailCall;
using ifzvk::sys::FaultKind;
using ifzvk::test::FaultGuard;
using ifzvk::writer::BinSection;
using ifzvk::writer::Bytes;
using ifzvk::writer::CompressedRecord;
using ifzvk::writer::Deflate;
using ifzvk::writer::Record;
using ifzvk::writer::RecordBytes;
using ifzvk::writer::StoredRecord;

// Distinct, non-repeating bytes so that a shifted or partial copy shows.
Bytes Payload(std::size_t size, unsigned seed = 1) {
  Bytes bytes(size);
  std::uint32_t state = seed * 2654435761u;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(state >> 16);
  }
  return bytes;
}

struct Lookup {
  bool result = false;
  bool block = false;  // a block was handed out
  Bytes data;          // its unpackedSize bytes
  PacHeader header{};
};

// Loads bin into a decoder and looks up name: the whole record with Decode,
// or its first `wanted` bytes with DecodeFirst. The decoder's copy is exactly
// bin.size() bytes, so the sanitizer build catches any read past it.
Lookup Find(const Bytes& bin, const char* name, std::optional<std::uint32_t> wanted = std::nullopt) {
  qoru::CPackerDecode decoder;
  EXPECT_TRUE(decoder.OpenMemory(bin.data(), static_cast<std::int32_t>(bin.size())));
  Lookup lookup;
  void* block = reinterpret_cast<void*>(0x1);  // must be replaced by null or a block
  lookup.result = wanted ? decoder.DecodeFirst(name, *wanted, &lookup.header, &block)
                         : decoder.Decode(name, &lookup.header, &block);
  lookup.block = block != nullptr;
  if (block != nullptr) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    lookup.data.assign(bytes, bytes + (wanted ? *wanted : lookup.header.unpackedSize));
    std::free(block);
  }
  return lookup;
}

Record WithMethod(Record record, std::uint32_t method) {
  record.method = method;
  return record;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// ---------------------------------------------------------------------------
// The walk: which record a lookup ends on.

struct WalkCase {
  const char* title;
  std::function<Bytes()> bin;
  const char* name;
  bool found;
  Bytes expected;            // the block's bytes when found with a block
  std::uint32_t method = 0;  // the returned header's method when found
};
void PrintTo(const WalkCase& c, std::ostream* out) { *out << c.title; }

const Bytes kA = Payload(40, 1);
const Bytes kB = Payload(41, 2);

Bytes TwoRecords(Record first, Record second) { return BinSection({std::move(first), std::move(second)}); }

Record WithRecordSize(Record record, std::int32_t size) {
  record.recordSize = size;
  return record;
}

const WalkCase kWalkCases[] = {
    {"single stored record", [] { return BinSection({StoredRecord("thumb", kA)}); }, "thumb", true, kA},
    {"second record after an odd recordSize",
     [] { return TwoRecords(StoredRecord("other", Payload(3)), StoredRecord("thumb", kA)); }, "thumb", true, kA},
    {"compressed record after an odd recordSize",
     [] { return TwoRecords(StoredRecord("other", Payload(5)), CompressedRecord("thumb", kA)); }, "thumb", true,
     kA, 1},
    {"empty bin section", [] { return Bytes(); }, "thumb", false, {}},
    {"fourth magic byte not a space hides a valid record",
     [] {
       Record broken = StoredRecord("other", kB);
       broken.magic[3] = '!';
       return TwoRecords(broken, StoredRecord("thumb", kA));
     },
     "thumb", false, {}},
    {"name differs in case", [] { return BinSection({StoredRecord("Thumb", kA)}); }, "thumb", false, {}},
    {"record name longer than the wanted one", [] { return BinSection({StoredRecord("thumbs", kA)}); }, "thumb",
     false, {}},
    {"record name a prefix of the wanted one", [] { return BinSection({StoredRecord("thum", kA)}); }, "thumb", false,
     {}},
    {"empty wanted name skips named records",
     [] { return TwoRecords(StoredRecord("thumb", kB), StoredRecord("", kA)); }, "", true, kA},
    {"duplicates: the first in walk order wins",
     [] { return TwoRecords(StoredRecord("thumb", kA), StoredRecord("thumb", kB)); }, "thumb", true, kA},
    {"method 2 is passed over for a later record of the name",
     [] { return TwoRecords(WithMethod(StoredRecord("thumb", kB), 2), StoredRecord("thumb", kA)); }, "thumb", true, kA, 0},
    {"method 0x100 is not method 0",
     [] { return BinSection({WithMethod(StoredRecord("thumb", kA), 0x100)}); }, "thumb", false, {}},
    {"a record taking the whole remaining budget is the last examined",
     [] {
       const Bytes second = RecordBytes(StoredRecord("thumb", kA));
       Record first = StoredRecord("other", kB);
       first.recordSize = static_cast<std::int32_t>(RecordBytes(first).size() + second.size());
       return TwoRecords(first, StoredRecord("thumb", kA));
     },
     "thumb", false, {}},
    {"a recordSize past the budget ends the walk",
     [] { return TwoRecords(WithRecordSize(StoredRecord("other", kB), 100000), StoredRecord("thumb", kA)); },
     "thumb", false, {}},
    {"the record that ends the walk is still decoded",
     [] { return TwoRecords(WithRecordSize(StoredRecord("thumb", kA), 100000), StoredRecord("other", kB)); },
     "thumb", true, kA},
    {"last record ending exactly at the end", [] { return TwoRecords(StoredRecord("x", kB), StoredRecord("thumb", kA)); },
     "thumb", true, kA},
    {"bytes after the last record that are no record",
     [] { return Concat({RecordBytes(StoredRecord("other", kB)), Bytes(200, 'Q')}); }, "thumb", false, {}},
    {"overlapping records: a recordSize smaller than the header",
     [] {
       // The first record's step of 1 lands on junk: the walk stops there.
       return TwoRecords(WithRecordSize(StoredRecord("other", kB), 1), StoredRecord("thumb", kA));
     },
     "thumb", false, {}},
};

class Walk : public testing::TestWithParam<WalkCase> {};

TEST_P(Walk, FindsTheFirstDecodableRecordOfTheName) {
  const WalkCase& c = GetParam();
  const Lookup lookup = Find(c.bin(), c.name);
  EXPECT_EQ(lookup.result, c.found);
  EXPECT_EQ(lookup.block, c.found) << "a block exactly when found with data";
  if (c.found) {
    EXPECT_EQ(lookup.data, c.expected);
    EXPECT_EQ(lookup.header.method, c.method) << "the header of the record that was decoded";
    EXPECT_STREQ(lookup.header.name, c.name);
  }
}

INSTANTIATE_TEST_SUITE_P(Records, Walk, testing::ValuesIn(kWalkCases), ifzvk::test::ByTitle());

// ---------------------------------------------------------------------------
// A found record's data: sizes and streams.

enum class Kind { Stored, Compressed };
constexpr bool kFound = true;
constexpr bool kNotFound = false;

struct DataCase {
  const char* title;
  Kind kind;
  std::function<void(Record&)> change;
  bool found;
  std::size_t prefix;  // the block starts with this many bytes of kPixels; 0: no block
  std::optional<std::uint32_t> wanted = std::nullopt;  // DecodeFirst's count; none: Decode
  Bytes after = {};    // bytes after the record inside the bin section
};
void PrintTo(const DataCase& c, std::ostream* out) { *out << c.title; }

const Bytes kPixels = Payload(1024, 7);
const auto kKeep = [](Record&) {};

const DataCase kDataCases[] = {
    {"unpackedSize 0 with method 7", Kind::Stored, [](Record& r) { r.unpackedSize = 0; r.method = 7; }, kFound, 0},
    {"unpackedSize 0 with a damaged stream", Kind::Compressed, [](Record& r) { r.unpackedSize = 0; r.data[0] ^= 0xFF; },
     kFound, 0},
    {"stored, packedSize smaller than unpackedSize", Kind::Stored, [](Record& r) { r.packedSize = 1; }, kFound, 1024},
    {"stored, packedSize past the section", Kind::Stored, [](Record& r) { r.packedSize = 0xFFFFFFFFu; }, kFound, 1024},
    {"stored, unpackedSize shorter than the data", Kind::Stored, [](Record& r) { r.unpackedSize = 10; }, kFound, 10},
    {"stored data one byte past the section", Kind::Stored, [](Record& r) { r.unpackedSize = 1025; }, kNotFound, 0},
    {"stored data of 4 GiB", Kind::Stored, [](Record& r) { r.unpackedSize = 0xFFFFFFFFu; }, kNotFound, 0},
    {"stored record followed by others", Kind::Stored, kKeep, kFound, 1024, std::nullopt,
     RecordBytes(StoredRecord("x", kA))},
    {"stream filling the block exactly", Kind::Compressed, kKeep, kFound, 1024},
    {"stream one byte too long for the block", Kind::Compressed, [](Record& r) { r.unpackedSize = 1023; }, kNotFound, 0},
    // Once zero-filled and accepted; the missing bytes were never in the document.
    {"stream ending before the block is full", Kind::Compressed, [](Record& r) { r.unpackedSize = 2000; }, kNotFound, 0},
    {"stream cut short by packedSize", Kind::Compressed, [](Record& r) { r.packedSize = static_cast<std::uint32_t>(r.data.size() - 1); },
     kNotFound, 0},
    {"stream one byte past the section", Kind::Compressed,
     [](Record& r) { r.packedSize = static_cast<std::uint32_t>(r.data.size() + 1); }, kNotFound, 0},
    {"stream followed by spare bytes inside packedSize", Kind::Compressed, [](Record& r) { r.data.resize(r.data.size() + 16, 0xAB); },
     kFound, 1024},
    {"stream with a wrong Adler-32 trailer", Kind::Compressed, [](Record& r) { r.data.back() ^= 1; }, kNotFound, 0},
    {"raw deflate data without the zlib header", Kind::Compressed, [](Record& r) { r.data.erase(r.data.begin(), r.data.begin() + 2); },
     kNotFound, 0},
    // The first bytes only (DecodeFirst).
    {"first bytes of stored data", Kind::Stored, kKeep, kFound, 100, 100},
    {"first bytes of a stream", Kind::Compressed, kKeep, kFound, 100, 100},
    {"all bytes of a stream", Kind::Compressed, kKeep, kFound, 1024, 1024},
    {"more bytes than stored", Kind::Stored, kKeep, kNotFound, 0, 1025},
    {"more bytes than declared, though the stream has them", Kind::Compressed, [](Record& r) { r.unpackedSize = 100; },
     kNotFound, 0, 101},
    {"stream ending short of unpackedSize after the bytes", Kind::Compressed, [](Record& r) { r.unpackedSize = 2000; },
     kFound, 1024, 1024},
    {"stream ending before the bytes", Kind::Compressed, [](Record& r) { r.unpackedSize = 2000; }, kNotFound, 0, 1025},
    {"stream running past unpackedSize after the bytes", Kind::Compressed, [](Record& r) { r.unpackedSize = 1023; },
     kNotFound, 0, 10},
    {"no bytes of stored data", Kind::Stored, kKeep, kFound, 0, 0},
    {"no bytes of a stream, which must still end", Kind::Compressed, kKeep, kFound, 0, 0},
    {"no bytes of a stream with a wrong trailer", Kind::Compressed, [](Record& r) { r.data.back() ^= 1; }, kNotFound,
     0, 0},
    {"no bytes of a record without data", Kind::Stored, [](Record& r) { r.unpackedSize = 0; }, kNotFound, 0, 0},
};

class RecordData : public testing::TestWithParam<DataCase> {};

TEST_P(RecordData, BlockHoldsExactlyTheDecodedBytes) {
  const DataCase& c = GetParam();
  Record record = c.kind == Kind::Stored ? StoredRecord("thumb", kPixels) : CompressedRecord("thumb", kPixels);
  c.change(record);
  const Lookup lookup = Find(Concat({RecordBytes(record), c.after}), "thumb", c.wanted);
  EXPECT_EQ(lookup.result, c.found);
  EXPECT_EQ(lookup.block, c.prefix > 0);
  if (!lookup.block) return;
  ASSERT_GE(lookup.data.size(), c.prefix);
  EXPECT_TRUE(std::equal(kPixels.begin(), kPixels.begin() + static_cast<std::ptrdiff_t>(c.prefix), lookup.data.begin()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RecordData, testing::ValuesIn(kDataCases), ifzvk::test::ByTitle());

// ---------------------------------------------------------------------------
// Records that break the layout: the walk ends, reading nothing outside.

struct BrokenCase {
  const char* title;
  std::function<Bytes()> bin;
  std::string name;
  bool found;
};
void PrintTo(const BrokenCase& c, std::ostream* out) { *out << c.title; }

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

const BrokenCase kBrokenCases[] = {
    {"recordSize 0 does not loop",
     [] { return TwoRecords(WithRecordSize(StoredRecord("other", kA), 0), StoredRecord("thumb", kB)); }, "thumb",
     false},
    {"negative recordSize does not step backwards",
     [] { return TwoRecords(StoredRecord("x", kA), WithRecordSize(StoredRecord("other", kB), -172)); }, "thumb",
     false},
    {"largest recordSize", [] { return BinSection({WithRecordSize(StoredRecord("other", kA), INT32_MAX)}); },
     "thumb", false},
    {"section shorter than one header",
     [] {
       Bytes bin = RecordBytes(StoredRecord("thumb", {}));
       bin.resize(131);
       return bin;
     },
     "thumb", false},
    {"second header cut off by the end of the section",
     [] {
       Bytes bin = TwoRecords(StoredRecord("x", kA), StoredRecord("thumb", {}));
       bin.resize(bin.size() - 1);
       return bin;
     },
     "thumb", false},
    {"a name without NUL matches no name of 64 bytes",
     [] {
       Record unterminated = StoredRecord("", kB);
       unterminated.SetName(Repeat('a', 64));
       return BinSection({unterminated});
     },
     Repeat('a', 64), false},
    {"a name without NUL matches no 63-byte prefix",
     [] {
       Record unterminated = StoredRecord("", kB);
       unterminated.SetName(Repeat('a', 64));
       return BinSection({unterminated});
     },
     Repeat('a', 63), false},
    {"the walk goes on past a name without NUL",
     [] {
       Record unterminated = StoredRecord("", kB);
       unterminated.SetName(Repeat('a', 64));
       return TwoRecords(unterminated, StoredRecord(Repeat('a', 63), kA));
     },
     Repeat('a', 63), true},
    {"a 63-byte name is matched whole",
     [] { return BinSection({StoredRecord(Repeat('n', 63), kA)}); },
     Repeat('n', 63), true},
    {"a wanted name longer than any field",
     [] { return BinSection({StoredRecord(Repeat('n', 63), kA)}); },
     "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", false},
};

class BrokenRecords : public testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenRecords, EndTheWalkInsideTheCopy) {
  const BrokenCase& c = GetParam();
  const Lookup lookup = Find(c.bin(), c.name.c_str());
  EXPECT_EQ(lookup.result, c.found);
  EXPECT_EQ(lookup.block, c.found);
}

INSTANTIATE_TEST_SUITE_P(Layout, BrokenRecords, testing::ValuesIn(kBrokenCases), ifzvk::test::ByTitle());

// ---------------------------------------------------------------------------
// The decoder object.

TEST(PackerDecode, HeaderOutHoldsTheRecordsHeaderByteForByte) {
  Record record = CompressedRecord("thumb", kPixels);
  for (std::size_t i = 0; i < record.reserved.size(); ++i) record.reserved[i] = static_cast<unsigned char>(i + 1);
  record.recordSize = static_cast<std::int32_t>(RecordBytes(record).size()) + 0x01020300;
  const Bytes bytes = RecordBytes(record);
  const Lookup lookup = Find(bytes, "thumb");
  ASSERT_TRUE(lookup.result);
  EXPECT_EQ(std::memcmp(&lookup.header, bytes.data(), sizeof(PacHeader)), 0);
  EXPECT_EQ(lookup.header.packedSize, record.data.size());
  EXPECT_EQ(lookup.header.unpackedSize, kPixels.size());
}

TEST(PackerDecode, RepeatedLookupsGiveFreshEqualBlocks) {
  const Bytes bin = TwoRecords(StoredRecord("a", kA), CompressedRecord("thumb", kPixels));
  qoru::CPackerDecode decoder;
  ASSERT_TRUE(decoder.OpenMemory(bin.data(), static_cast<std::int32_t>(bin.size())));
  PacHeader header;
  void* first = nullptr;
  void* second = nullptr;
  ASSERT_TRUE(decoder.Decode("thumb", &header, &first));
  ASSERT_TRUE(decoder.Decode("thumb", &header, &second));
  EXPECT_NE(first, second);
  EXPECT_EQ(std::memcmp(first, second, kPixels.size()), 0);
  std::free(first);
  std::free(second);
}

TEST(PackerDecode, WorksOnItsOwnCopyOfTheSection) {
  Bytes bin = BinSection({StoredRecord("thumb", kA)});
  qoru::CPackerDecode decoder;
  ASSERT_TRUE(decoder.OpenMemory(bin.data(), static_cast<std::int32_t>(bin.size())));
  std::fill(bin.begin(), bin.end(), 0);
  bin = Bytes();
  PacHeader header;
  void* block = nullptr;
  ASSERT_TRUE(decoder.Decode("thumb", &header, &block));
  EXPECT_EQ(std::memcmp(block, kA.data(), kA.size()), 0);
  std::free(block);
}

TEST(PackerDecode, OpenMemoryRefusesNegativeSizesAndReplacesTheCopy) {
  const Bytes bin = BinSection({StoredRecord("thumb", kA)});
  qoru::CFileRead file;
  ASSERT_TRUE(file.OpenMemory(bin.data(), static_cast<std::int32_t>(bin.size())));
  EXPECT_EQ(file.Size(), static_cast<std::int32_t>(bin.size()));
  EXPECT_FALSE(file.OpenMemory(bin.data(), -1));
  EXPECT_EQ(file.Data(), nullptr);
  EXPECT_EQ(file.Size(), 0);
  EXPECT_TRUE(file.OpenMemory(bin.data(), 0));
  EXPECT_EQ(file.Size(), 0);
  EXPECT_FALSE(file.OpenMemory(nullptr, 4));

  qoru::CPackerDecode decoder;
  EXPECT_FALSE(decoder.OpenMemory(bin.data(), INT32_MIN));
  PacHeader header;
  void* block = &header;
  EXPECT_FALSE(decoder.Decode("thumb", &header, &block));
  EXPECT_EQ(block, nullptr);
}

TEST(PackerDecode, FailedAllocationsLeaveNoBlockAndNoDamage) {
  FaultGuard faults;
  const Bytes bin = TwoRecords(StoredRecord("stored", kA), CompressedRecord("packed", kPixels));
  qoru::CPackerDecode decoder;
  FailCall(FaultKind::HeapAlloc, 1);
  EXPECT_FALSE(decoder.OpenMemory(bin.data(), static_cast<std::int32_t>(bin.size())));
  PacHeader header;
  void* block = nullptr;
  EXPECT_FALSE(decoder.Decode("stored", &header, &block)) << "an empty decoder finds nothing";

  ASSERT_TRUE(decoder.OpenMemory(bin.data(), static_cast<std::int32_t>(bin.size())));
  for (const char* name : {"stored", "packed"}) {
    FailCall(FaultKind::HeapAlloc, 1);
    block = &header;
    EXPECT_FALSE(decoder.Decode(name, &header, &block)) << name;
    EXPECT_EQ(block, nullptr) << name;
    EXPECT_TRUE(decoder.Decode(name, &header, &block)) << name << ": the decoder is unchanged";
    std::free(block);
  }
}

// ---------------------------------------------------------------------------
// InflateFirst on its own.

// Bytes that deflate well (runs of 1 KiB), so a short stream outgrows the
// first block several times over and the scratch block many times.
Bytes Runs(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>((i >> 10) * 37u);
  return bytes;
}
const Bytes kRuns = Runs(600 * 1024);
const auto kRunsSize = static_cast<std::uint32_t>(kRuns.size());

struct InflateCase {
  const char* title;
  std::function<Bytes()> source;
  const Bytes* output;  // what the stream holds, or null when it is no stream
  std::uint32_t wanted;
  std::uint32_t limit;
  bool ok;
};
void PrintTo(const InflateCase& c, std::ostream* out) { *out << c.title; }

const InflateCase kInflateCases[] = {
    {"exact limit", [] { return Deflate(kPixels); }, &kPixels, 1024, 1024, true},
    {"output one byte past the limit", [] { return Deflate(kPixels); }, &kPixels, 1000, 1023, false},
    {"stream ending before the wanted bytes", [] { return Deflate(kPixels); }, &kPixels, 1025, 2000, false},
    {"more wanted than the limit", [] { return Deflate(kPixels); }, &kPixels, 1025, 1024, false},
    {"empty stream", [] { return Deflate({}); }, nullptr, 0, 0, true},
    {"no input", [] { return Bytes(); }, nullptr, 0, 1024, false},
    {"gzip framing", [] { return Bytes{0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}; }, nullptr,
     0, 1024, false},
    {"kept block growing to the whole output", [] { return Deflate(kRuns); }, &kRuns, kRunsSize, kRunsSize, true},
    {"kept block growing to an odd count", [] { return Deflate(kRuns); }, &kRuns, 333333, kRunsSize, true},
    {"a few bytes, the rest through the scratch block", [] { return Deflate(kRuns); }, &kRuns, 4, kRunsSize, true},
    {"the rest through the scratch block past the limit", [] { return Deflate(kRuns); }, &kRuns, 4, kRunsSize - 1,
     false},
};

class Inflate : public testing::TestWithParam<InflateCase> {};

TEST_P(Inflate, KeepsTheFirstBytesOfAStreamThatEndsWithinTheLimit) {
  const InflateCase& c = GetParam();
  const Bytes source = c.source();
  void* block = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(ifzvk::InflateFirst(source.data(), static_cast<std::uint32_t>(source.size()), c.wanted, c.limit, &block),
            c.ok);
  EXPECT_EQ(block != nullptr, c.ok && c.wanted > 0);
  if (block == nullptr) return;
  EXPECT_EQ(std::memcmp(block, c.output->data(), c.wanted), 0);
  std::free(block);
}

INSTANTIATE_TEST_SUITE_P(Streams, Inflate, testing::ValuesIn(kInflateCases), ifzvk::test::ByTitle());

TEST(Inflate, AFailedBlockAtAnyStepFailsWithoutABlock) {
  FaultGuard faults;
  const Bytes source = Deflate(kRuns);
  int nth = 1;
  for (;; ++nth) {
    FailCall(FaultKind::HeapAlloc, nth);
    void* block = reinterpret_cast<void*>(0x1);
    const bool ok = ifzvk::InflateFirst(source.data(), static_cast<std::uint32_t>(source.size()), 333333, kRunsSize, &block);
    if (ok) {
      std::free(block);
      break;
    }
    EXPECT_EQ(block, nullptr) << "block " << nth;
  }
  EXPECT_GE(nth, 4) << "the first block, at least two larger ones and the scratch block each failed once";
}

}  // namespace
