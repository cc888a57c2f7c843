// Fuzzed XML text and fuzzed Thumb attribute values inside an otherwise valid
// document, through GetPicture in memory mode. When the values are plain
// (printable, nothing that XML would decode or reject), the picture that
// comes back is also compared with the one the attributes call for.
//
// Input: a mode byte, then width, height and bin texts each ended by a 0xFF
// byte, then the XML text (the rest). Mode bit 0: the XML text is the whole
// XML section (raw) instead of content placed in Zorvik before a Thumb that
// carries the three values. Bit 1: the preview record is compressed.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "document/Limits.h"
#include "fuzz/FuzzSupport.h"
#include "tools/writer/DocumentWriter.h"

using namespace ifzvk;
using namespace ifzvk::fuzz;

namespace {

constexpr std::size_t kRecordBytes = 4096;  // 1024 pixels

struct Parts {
  bool raw = false;
  bool compressed = false;
  std::string width, height, bin, xml;
};

Parts Split(const std::uint8_t* data, std::size_t size) {
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

bool Plain(const std::string& text, bool spaceAllowed) {
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7E || (c == ' ' && !spaceAllowed) || c == '<' || c == '>' || c == '&' || c == '"')
      return false;
  }
  return true;
}

// An optional sign and decimal digits within the int range; empty is 0.
std::optional<int> StrictInt(const std::string& text) {
  if (text.empty()) return 0;
  std::size_t at = (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (at == text.size()) return std::nullopt;
  long long value = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return std::nullopt;
    value = value * 10 + (text[at] - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (text[0] == '-') value = -value;
  if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) return std::nullopt;
  return static_cast<int>(value);
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
  const bool copied = *width > 0 && *height > 0;
  const std::size_t stride = Stride(expected.width);
  expected.bits.assign(stride * static_cast<std::size_t>(expected.height), 0);
  if (!copied) return expected;
  for (int y = 0; y < expected.height; ++y) {
    const std::size_t row = stride * static_cast<std::size_t>(expected.height - 1 - y);
    for (int x = 0; x < expected.width; ++x) {
      const std::size_t pixel = 4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(expected.width) + x);
      for (std::size_t c = 0; c < 3; ++c) expected.bits[row + 3 * static_cast<std::size_t>(x) + c] = PatternByte(pixel + c);
    }
  }
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EnterPrivateDirectory();
  const Parts parts = Split(data, size);

  writer::Bytes pixels(kRecordBytes);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = PatternByte(i);
  writer::Document document;
  document.records.push_back(parts.compressed ? writer::CompressedRecord(parts.bin, pixels)
                                              : writer::StoredRecord(parts.bin, pixels));
  if (parts.raw) {
    document.xml = parts.xml;
  } else {
    document.xml = "<?xml version=\"1.0\"?>\n<Zorvik>" + parts.xml + "<Thumb width=\"" + parts.width +
                   "\" height=\"" + parts.height + "\" bin=\"" + parts.bin + "\"/></Zorvik>\n";
  }
  const writer::Bytes bytes = writer::DocumentBytes(document);
  CheckXmlWithinLimits(bytes.data(), bytes.size());
  CheckXmlRoutesAgree(bytes.data(), bytes.size());
  const Outcome outcome = RequestPicture(bytes.data(), bytes.size(), Progress::Continue);
  Check(outcome.result == Success, "a valid document did not give result 0");

  if (!parts.raw && Plain(parts.width, false) && Plain(parts.height, false) && Plain(parts.bin, false) &&
      Plain(parts.xml, true)) {
    const Outcome expected = Expected(parts);
    Check(outcome.width == expected.width && outcome.height == expected.height, "the picture has the wrong size");
    Check(outcome.bits == expected.bits, "the picture has the wrong pixels");
  }
  return 0;
}
