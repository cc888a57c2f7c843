#include "fuzz/FuzzChecks.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZVK_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZVK_FUZZ_ASAN 1
#endif
#ifdef ZVK_FUZZ_ASAN
// Declared here: GCC's sanitizer headers lack allocator_interface.h.
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* block);
#endif
#include <tinyxml.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "document/Container.h"
#include "document/Limits.h"
#include "document/PackerDecode.h"
#include "document/XmlGuard.h"
#include "document/thumbnail.h"
#include "plugin/dib.h"
#include "plugin/entry_points.h"
#include "tools/writer/DocumentWriter.h"

namespace ifzvk::fuzz {
namespace {

std::string currentInput;
constexpr const char* kInputFile = "fuzz-input.zvk";  // the document in file mode

struct ProgressState {
  Progress mode;
  int calls = 0;
};

int WINAPI OnProgress(int num, int denom, SusieData lData) {
  auto* state = reinterpret_cast<ProgressState*>(lData);
  ++state->calls;
  Check(state->calls <= 2, "the progress callback was called more than twice");
  Check(denom == 1 && num == state->calls - 1, "the progress callback got other values than (0, 1) then (1, 1)");
  return (state->mode == Progress::AbortFirst && state->calls == 1) ||
         (state->mode == Progress::AbortSecond && state->calls == 2);
}

template <class Value = std::uint32_t>
Value Field(const unsigned char* bytes, std::size_t offset) {
  Value value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

// True when a heap block is exactly `bytes` long, or (without
// AddressSanitizer) its size cannot be told.
bool BlockIs(const void* block, std::size_t bytes) {
#ifdef ZVK_FUZZ_ASAN
  return __sanitizer_get_allocated_size(block) == bytes;
#else
  (void)block;
  (void)bytes;
  return true;
#endif
}

// A local-memory block is exactly `bytes` long: on Windows as LocalSize
// tells, elsewhere (the handle is the block) as the allocator tells.
bool LocalBlockIs(HLOCAL block, std::size_t bytes) {
#ifdef _WIN32
  return LocalSize(block) == bytes;
#else
  return BlockIs(block, bytes);
#endif
}

void CheckNoTemporaryFile() {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(kTemporaryXmlFile, error);
  Check(!std::filesystem::exists(status), "the temporary XML file was left behind");
}

int CallGetPicture(const Route& route, const unsigned char* data, std::size_t size, ProgressState& state,
                   HLOCAL* info, HLOCAL* bits) {
  const ProgressCallback callback = state.mode == Progress::None ? nullptr : OnProgress;
  const auto lData = reinterpret_cast<SusieData>(&state);
  if (route.mode == Mode::Memory) {
    return route.getPicture(reinterpret_cast<LPSTR>(const_cast<unsigned char*>(data)), static_cast<SusieLen>(size),
                            1, info, bits, callback, lData);
  }
  {
    std::ofstream file(kInputFile, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(file.good(), "cannot write the input file for file mode");
  }
  std::string name = kInputFile;
  const int result = route.getPicture(&name[0], 0, 0, info, bits, callback, lData);
  std::remove(kInputFile);
  return result;
}

// Walks the tree with a stack of its own: a tree that got past the scan too
// deep must fail the check, not overflow this walk.
void CheckTreeWithinLimits(const TiXmlDocument& tree) {
  std::vector<std::pair<const TiXmlNode*, int>> pending{{&tree, 0}};
  long nodes = 0;
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    for (const TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
      ++nodes;
      const TiXmlElement* element = child->ToElement();
      if (element == nullptr) continue;
      Check(depth + 1 <= limits::kMaxXmlDepth, "the XML scan let through elements nested too deep");
      int attributes = 0;
      for (const TiXmlAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next()) ++attributes;
      Check(attributes <= limits::kMaxXmlAttributesPerElement, "the XML scan let through too many attributes");
      nodes += attributes;
      pending.emplace_back(child, depth + 1);
    }
  }
  Check(nodes <= limits::kMaxXmlNodes, "the XML scan let through too many nodes");
}

// Fails the input when XML that the module's scan lets through is, as
// TinyXML reads it, beyond the scan's limits (depth, attributes, nodes).
void CheckXmlWithinLimits(const unsigned char* data, std::size_t size) {
  DocumentSections sections{};
  if (!LocateSections(data, size, sections)) return;
  // XML that the scan refuses never reaches TinyXML in the module either.
  if (ScanXml(sections.xml, static_cast<std::size_t>(sections.xmlSize)) != XmlVerdict::Loadable) return;
  std::string xml(reinterpret_cast<const char*>(sections.xml), static_cast<std::size_t>(sections.xmlSize));
  // TinyXML may step up to three bytes past a cut-off UTF-8 sequence at the
  // end of its text; spare NULs keep this look-ahead of ours inside the string.
  xml.append(4, '\0');
  TiXmlDocument tree;
  tree.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  CheckTreeWithinLimits(tree);
}

// Extracts the preview through both routes of the XML section (temporary
// file and memory) and fails the input unless they agree: the same problem,
// or the same picture.
void CheckXmlRoutesAgree(const unsigned char* data, std::size_t size) {
  qoru::CImage32 throughFile, inMemory;
  const PreviewProblem fileAnswer = ExtractThumbnail(data, size, throughFile, XmlRoute::TemporaryFile);
  const PreviewProblem memoryAnswer = ExtractThumbnail(data, size, inMemory, XmlRoute::Memory);
  Check(fileAnswer == memoryAnswer, "the XML routes give different answers");
  CheckNoTemporaryFile();
  if (fileAnswer != PreviewProblem::None) return;
  Check(throughFile.width == inMemory.width && throughFile.height == inMemory.height,
        "the XML routes give pictures of different sizes");
  const std::size_t bytes = static_cast<std::size_t>(inMemory.width) * static_cast<std::size_t>(inMemory.height) * 4;
  Check(std::memcmp(throughFile.pixels, inMemory.pixels, bytes) == 0, "the XML routes give different pictures");
}

}  // namespace

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s%s%s\n", what, currentInput.empty() ? "" : ": ", currentInput.c_str());
  std::fflush(stderr);
  std::abort();
}

void SetCurrentInput(const std::string& name) { currentInput = name; }

bool operator==(const Outcome& a, const Outcome& b) {
  return a.result == b.result && a.progressCalls == b.progressCalls && a.hasBitmap == b.hasBitmap &&
         a.width == b.width && a.height == b.height && a.bits == b.bits;
}

int WINAPI LibraryGetPicture(LPSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                             ProgressCallback progress, SusieData lData) {
  return GetPicture(buf, len, flag, pHBInfo, pHBm, progress, lData);
}

Outcome RequestPicture(const Route& route, const unsigned char* data, std::size_t size, Progress progress) {
  ProgressState state{progress};
  HLOCAL info = nullptr, bits = nullptr;
  Outcome outcome;
  outcome.result = CallGetPicture(route, data, size, state, &info, &bits);
  outcome.progressCalls = state.calls;
  CheckNoTemporaryFile();

  // The file holds the document and can be read: 6 never comes back, nor does 3.
  const int result = outcome.result;
  Check(result == Success || result == Aborted || result == UnknownFormat || result == OutOfMemory ||
            result == MemoryError,
        "a result code outside the allowed set");

  // The magic alone decides between 2 and a picture; the callback is reached
  // only after it has passed.
  const bool accepted = size >= kDocumentHeaderSize && HasDocumentMagic(data);
  Check((result == UnknownFormat) == !accepted, "result 2 does not match the magic test");
  if (!accepted) Check(state.calls == 0, "the callback was called for a rejected document");
  const bool earlyAbort = progress == Progress::AbortFirst;
  if (accepted && earlyAbort) Check(result == Aborted && state.calls == 1, "an abort at (0, 1) was not honoured");

  outcome.hasBitmap = result == Success || (result == Aborted && state.calls == 2);
  if (accepted && !earlyAbort && result != OutOfMemory && result != MemoryError) {
    Check(state.calls == (progress != Progress::None ? 2 : 0), "the callback was not called twice");
    Check(outcome.hasBitmap, "an accepted document gave no bitmap");
    Check(result == (progress == Progress::AbortSecond ? Aborted : Success), "the late abort's result is wrong");
  }
  if (!outcome.hasBitmap) {
    Check(info == nullptr && bits == nullptr, "a handle was set without a bitmap");
    return outcome;
  }

  Check(info != nullptr && bits != nullptr, "a bitmap result without both blocks");
  // The blocks must be exactly what the header describes: no shorter (the
  // host would read past them) and no longer.
  Check(LocalBlockIs(info, 40), "the header block is not 40 bytes");
  const auto* header = static_cast<const unsigned char*>(host::LockBlock(info));
  Check(header != nullptr, "the header block cannot be locked");
  outcome.width = static_cast<std::int32_t>(Field(header, 4));
  outcome.height = static_cast<std::int32_t>(Field(header, 8));
  Check(Field(header, 0) == 40, "biSize is not 40");
  Check(outcome.width >= 1 && outcome.height >= 1, "the bitmap is smaller than 1 x 1");
  Check(Field<std::uint16_t>(header, 12) == 1 && Field<std::uint16_t>(header, 14) == 24, "not one plane of 24 bits");
  Check(Field(header, 16) == 0, "biCompression is not BI_RGB");
  host::UnlockBlock(info);

  const std::size_t stride = BitmapStride(outcome.width);
  const std::size_t bytes = stride * static_cast<std::size_t>(outcome.height);
  Check(LocalBlockIs(bits, bytes), "the bits block is not stride x height bytes");
  const auto* rows = static_cast<const unsigned char*>(host::LockBlock(bits));
  Check(rows != nullptr, "the bits block cannot be locked");
  outcome.bits.assign(rows, rows + bytes);
  host::UnlockBlock(bits);
  const std::size_t used = 3 * static_cast<std::size_t>(outcome.width);
  for (std::size_t row = 0; row < static_cast<std::size_t>(outcome.height); ++row) {
    for (std::size_t i = used; i < stride; ++i) Check(outcome.bits[row * stride + i] == 0, "row padding is not zero");
  }
  host::FreeBlock(info);
  host::FreeBlock(bits);
  return outcome;
}

Outcome CheckPictureInput(const Route& route, const unsigned char* data, std::size_t size) {
  static const Progress kModes[] = {Progress::None, Progress::Continue, Progress::AbortFirst, Progress::AbortSecond};
  const Progress progress = size > 0 ? kModes[data[size - 1] & 3] : Progress::None;
  CheckXmlWithinLimits(data, size);
  CheckXmlRoutesAgree(data, size);
  return RequestPicture(route, data, size, progress);
}

// ---------------------------------------------------------------------------
// The record lookup: Decode and DecodeFirst must end, read nothing outside
// the copy, hand out blocks of exactly the bytes asked for (or null), give the
// same answer when asked again, and agree with each other: the first bytes of
// a record are the first bytes of the whole record. Sizes a record states are
// taken as they come; the decoder must not allocate from them.

namespace {

struct Answer {
  bool found;
  PacHeader header;
  bool hasBlock;
  std::vector<unsigned char> bytes;
};

// One lookup with the checks of its answer: Decode when wanted is empty,
// DecodeFirst otherwise. The block is copied out and released.
Answer Ask(const qoru::CPackerDecode& decoder, const std::string& name, std::optional<std::uint32_t> wanted) {
  Answer answer{};
  void* block = reinterpret_cast<void*>(1);  // must be cleared on every path
  answer.found = wanted ? decoder.DecodeFirst(name.c_str(), *wanted, &answer.header, &block)
                        : decoder.Decode(name.c_str(), &answer.header, &block);
  answer.hasBlock = block != nullptr;
  if (!answer.found) {
    Check(block == nullptr, "false with a block");
    return answer;
  }
  Check(std::memcmp(answer.header.magic, "PAC ", 4) == 0, "the header handed out is not a record's");
  Check(std::memchr(answer.header.name, '\0', sizeof answer.header.name) != nullptr && name == answer.header.name,
        "the record handed out has another name");
  const std::uint32_t size = wanted ? *wanted : answer.header.unpackedSize;
  if (wanted) Check(answer.header.unpackedSize > 0 && size <= answer.header.unpackedSize, "more bytes than the record has");
  Check(answer.hasBlock == (size > 0), "a block exactly when there are bytes to give");
  if (block == nullptr) return answer;
  Check(BlockIs(block, size), "the block is not the size asked for");
  const auto* bytes = static_cast<const unsigned char*>(block);
  answer.bytes.assign(bytes, bytes + size);
  std::free(block);
  return answer;
}

bool StartsWith(const std::vector<unsigned char>& whole, const std::vector<unsigned char>& start) {
  return start.size() <= whole.size() && std::equal(start.begin(), start.end(), whole.begin());
}

}  // namespace

DecodeInput SplitDecodeInput(const unsigned char* data, std::size_t size) {
  DecodeInput input;
  if (size == 0) return input;
  const std::size_t nameBytes = data[0] < size - 1 ? data[0] : size - 1;
  const char* name = reinterpret_cast<const char*>(data + 1);
  input.name.assign(name, std::find(name, name + nameBytes, '\0'));
  input.bin = data + 1 + nameBytes;
  input.binSize = size - 1 - nameBytes;
  for (std::size_t i = input.binSize >= 4 ? input.binSize - 4 : input.binSize; i < input.binSize; ++i)
    input.wanted = input.wanted >> 8 | std::uint32_t{input.bin[i]} << 24;
  return input;
}

void CheckDecodeInput(const unsigned char* data, std::size_t size) {
  if (size == 0) return;
  const DecodeInput input = SplitDecodeInput(data, size);
  qoru::CPackerDecode decoder;
  Check(decoder.OpenMemory(input.bin, static_cast<std::int32_t>(input.binSize)), "OpenMemory refused a bin section");
  const Answer whole = Ask(decoder, input.name, std::nullopt);
  const Answer again = Ask(decoder, input.name, std::nullopt);
  Check(whole.found == again.found && whole.hasBlock == again.hasBlock && whole.bytes == again.bytes,
        "a second Decode answered otherwise");

  const std::uint32_t wanted = input.wanted;
  const Answer first = Ask(decoder, input.name, wanted);
  const Answer half = Ask(decoder, input.name, wanted / 2);
  if (first.found) Check(half.found && StartsWith(first.bytes, half.bytes), "fewer first bytes answered otherwise");
  if (whole.found) {
    // The whole record decodes, so any count up to its size does too.
    Check(first.found == (whole.header.unpackedSize > 0 && wanted <= whole.header.unpackedSize),
          "DecodeFirst disagrees with Decode on whether the bytes are there");
    Check(StartsWith(whole.bytes, first.bytes), "the first bytes are not the record's");
  }
}

// ---------------------------------------------------------------------------
// Fuzzed XML text and fuzzed Thumb attribute values inside an otherwise valid
// document. When the values are plain, the picture that comes back is also
// compared with the one the attributes call for.
//
// Input: a mode byte, then width, height and bin texts each ended by a 0xFF
// byte, then the XML text (the rest). Mode bit 0: the XML text is the whole
// XML section (raw) instead of content placed in Zorvik before a Thumb that
// carries the three values. Bit 1: the preview record is compressed.

namespace {

constexpr std::size_t kRecordBytes = 4096;  // 1024 pixels

struct Parts {
  bool raw = false;
  bool compressed = false;
  std::string width, height, bin, xml;
};

Parts Split(const unsigned char* data, std::size_t size) {
  Parts parts;
  if (size == 0) return parts;
  parts.raw = (data[0] & 1) != 0;
  parts.compressed = (data[0] & 2) != 0;
  std::string* fields[] = {&parts.width, &parts.height, &parts.bin};
  std::size_t at = 1;
  for (std::string* field : fields) {
    while (at < size && data[at] != 0xFF) field->push_back(static_cast<char>(data[at++]));
    if (at < size) ++at;
  }
  parts.xml.assign(reinterpret_cast<const char*>(data + at), size - at);
  return parts;
}

// An optional sign and decimal digits within the int range; empty is 0.
std::optional<int> StrictInt(const std::string& text) {
  if (text.empty()) return 0;
  const char* end = text.data() + text.size();
  int value = 0;
  // from_chars takes a '-' but not a '+'; "+-1" stays refused.
  const auto [stop, error] = std::from_chars(text.data() + (text[0] == '+' && text[1] != '-'), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::uint8_t PatternByte(std::size_t i) { return static_cast<std::uint8_t>(i * 7 + 3); }

// The bitmap the plain values call for: the record's first width x height
// pixels, or the black 1 x 1 fallback.
Outcome Expected(const Parts& parts) {
  Outcome expected;
  expected.width = expected.height = 1;
  expected.bits.assign(4, 0);
  const std::optional<int> width = StrictInt(parts.width);
  const std::optional<int> height = StrictInt(parts.height);
  if (!width || !height || *width < 0 || *height < 0 || parts.bin.size() > 63) return expected;
  const std::uint64_t bytes = std::uint64_t{4} * static_cast<std::uint64_t>(*width) * static_cast<std::uint64_t>(*height);
  if (bytes > kRecordBytes) return expected;
  // A zero side gives a black strip along the other, up to its length limit.
  if ((*width == 0 || *height == 0) &&
      static_cast<std::uint32_t>(*width > *height ? *width : *height) > limits::kMaxStripLength)
    return expected;
  // A zero side still gives an image of at least 1 x 1, with no pixel copied.
  expected.width = *width > 0 ? *width : 1;
  expected.height = *height > 0 ? *height : 1;
  const std::size_t stride = BitmapStride(expected.width);
  expected.bits.assign(stride * static_cast<std::size_t>(expected.height), 0);
  if (*width == 0 || *height == 0) return expected;
  for (int y = 0; y < expected.height; ++y) {
    const std::size_t row = stride * static_cast<std::size_t>(expected.height - 1 - y);
    for (int x = 0; x < expected.width; ++x) {
      const std::size_t pixel = 4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(expected.width) + x);
      for (std::size_t c = 0; c < 3; ++c) expected.bits[row + 3 * static_cast<std::size_t>(x) + c] = PatternByte(pixel + c);
    }
  }
  return expected;
}

// Printable ASCII that XML neither decodes nor rejects.
bool Plain(const std::string& text, bool spaceAllowed) {
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7E || (c == ' ' && !spaceAllowed) || c == '<' || c == '>' || c == '&' || c == '"')
      return false;
  }
  return true;
}

}  // namespace

Outcome CheckThumbXmlInput(const Route& route, const unsigned char* data, std::size_t size) {
  const Parts parts = Split(data, size);
  writer::Bytes pixels(kRecordBytes);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = PatternByte(i);
  writer::Document document;
  document.records.push_back(parts.compressed ? writer::CompressedRecord(parts.bin, pixels)
                                              : writer::StoredRecord(parts.bin, pixels));
  document.xml = parts.raw ? parts.xml
                           : "<?xml version=\"1.0\"?>\n<Zorvik>" + parts.xml + "<Thumb width=\"" + parts.width +
                                 "\" height=\"" + parts.height + "\" bin=\"" + parts.bin + "\"/></Zorvik>\n";
  const writer::Bytes bytes = writer::DocumentBytes(document);
  CheckXmlWithinLimits(bytes.data(), bytes.size());
  CheckXmlRoutesAgree(bytes.data(), bytes.size());
  const Outcome outcome = RequestPicture(route, bytes.data(), bytes.size(), Progress::Continue);
  Check(outcome.result == Success, "a valid document did not give result 0");

  if (!parts.raw && Plain(parts.width, false) && Plain(parts.height, false) && Plain(parts.bin, false) &&
      Plain(parts.xml, true)) {
    const Outcome expected = Expected(parts);
    Check(outcome.width == expected.width && outcome.height == expected.height, "the picture has the wrong size");
    Check(outcome.bits == expected.bits, "the picture has the wrong pixels");
  }
  return outcome;
}

}  // namespace ifzvk::fuzz
