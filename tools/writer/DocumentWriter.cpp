#include "tools/writer/DocumentWriter.h"

#include <algorithm>
#include <limits>

#include <zlib.h>

namespace ifzvk::writer {
namespace {

void AppendUInt32LE(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

void AppendInt32LE(Bytes& out, std::int32_t value) { AppendUInt32LE(out, static_cast<std::uint32_t>(value)); }

template <std::size_t N>
void AppendArray(Bytes& out, const std::array<unsigned char, N>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

// Well-formed sizes never exceed 32 bits in tests; anything larger is cut to
// the field's width, which is as good as any other broken value.
std::uint32_t Width32(std::size_t size) { return static_cast<std::uint32_t>(size); }

// Text as an XML attribute value in double quotes.
std::string EscapeAttribute(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

Record& Record::SetName(std::string_view text) {
  name.fill(0);
  std::copy_n(text.begin(), std::min(text.size(), name.size()), name.begin());
  return *this;
}

Record StoredRecord(std::string_view name, const Bytes& payload) {
  Record record;
  record.SetName(name);
  record.method = 0;
  record.data = payload;
  return record;
}

Record CompressedRecord(std::string_view name, const Bytes& payload, int level) {
  Record record;
  record.SetName(name);
  record.method = 1;
  record.data = Deflate(payload, level);
  record.unpackedSize = Width32(payload.size());
  return record;
}

Bytes RecordBytes(const Record& record) {
  Bytes out;
  out.reserve(132 + record.data.size());
  AppendArray(out, record.magic);
  AppendInt32LE(out, record.recordSize.value_or(static_cast<std::int32_t>(Width32(132 + record.data.size()))));
  AppendUInt32LE(out, record.method);
  AppendUInt32LE(out, record.packedSize.value_or(Width32(record.data.size())));
  AppendUInt32LE(out, record.unpackedSize.value_or(Width32(record.data.size())));
  AppendArray(out, record.reserved);
  AppendArray(out, record.name);
  out.insert(out.end(), record.data.begin(), record.data.end());
  return out;
}

Bytes BinSection(const std::vector<Record>& records) {
  Bytes out;
  for (const Record& record : records) {
    const Bytes bytes = RecordBytes(record);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  return out;
}

Bytes DocumentBytes(const Document& document) {
  const Bytes bin = BinSection(document.records);
  Bytes out;
  AppendArray(out, document.magic);
  AppendArray(out, document.reserved);
  AppendInt32LE(out, document.xmlSize.value_or(static_cast<std::int32_t>(Width32(document.xml.size()))));
  AppendInt32LE(out, document.binSize.value_or(static_cast<std::int32_t>(Width32(bin.size()))));
  out.insert(out.end(), document.xml.begin(), document.xml.end());
  out.insert(out.end(), bin.begin(), bin.end());
  out.insert(out.end(), document.trailing.begin(), document.trailing.end());
  return out;
}

Bytes Deflate(const Bytes& input, int level) {
  if (input.size() > std::numeric_limits<uLong>::max()) return {};
  uLongf length = compressBound(static_cast<uLong>(input.size()));
  Bytes out(length);
  if (compress2(out.data(), &length, input.data(), static_cast<uLong>(input.size()), level) != Z_OK) return {};
  out.resize(length);
  return out;
}

Bytes DeflateWithZeros(const Bytes& head, std::uint64_t zeroCount) {
  constexpr std::size_t kRun = 1 << 20;
  const Bytes zeros(kRun, 0);
  z_stream stream{};
  if (deflateInit(&stream, 9) != Z_OK) return {};
  Bytes out;
  // Deflates input (its last part when finishing) and appends what comes out.
  const auto put = [&](const Bytes& input, std::size_t size, int flush) {
    Bytes room(deflateBound(&stream, static_cast<uLong>(size)) + 64);
    stream.next_in = const_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = room.data();
    stream.avail_out = static_cast<uInt>(room.size());
    const int status = deflate(&stream, flush);
    room.resize(room.size() - stream.avail_out);
    return (status == Z_OK || status == Z_STREAM_END) && stream.avail_in == 0 ? room : Bytes();
  };
  bool ok = true;
  const auto append = [&](const Bytes& part) {
    ok = ok && !part.empty();
    out.insert(out.end(), part.begin(), part.end());
  };
  append(put(head, head.size(), Z_FULL_FLUSH));
  // Runs of zeros until two in a row come out alike; from then on, copies.
  std::uint64_t left = zeroCount;
  Bytes previous;
  while (ok && left >= kRun) {
    Bytes run = put(zeros, kRun, Z_FULL_FLUSH);
    if (run == previous) {
      for (; left >= kRun; left -= kRun) append(run);
      break;
    }
    append(run);
    previous = std::move(run);
    left -= kRun;
  }
  append(put(zeros, static_cast<std::size_t>(left), Z_FINISH));
  deflateEnd(&stream);
  if (!ok || out.size() < 4) return {};
  // Zeros leave Adler-32's first sum alone and add it to the second once each.
  constexpr std::uint32_t kBase = 65521;
  const auto headSum = static_cast<std::uint32_t>(adler32(adler32(0, nullptr, 0), head.data(), static_cast<uInt>(head.size())));
  const std::uint32_t a = headSum & 0xFFFF;
  const auto b = static_cast<std::uint32_t>(((headSum >> 16) + (zeroCount % kBase) * a) % kBase);
  const std::uint32_t sum = (b << 16) | a;
  for (int i = 0; i < 4; ++i) out[out.size() - 4 + i] = static_cast<unsigned char>(sum >> (24 - 8 * i));
  return out;
}

Document StatedPreviewDocument(int width, int height, std::string_view binName, Bytes stream,
                               std::uint32_t unpackedSize) {
  Document document;
  document.xml = "<Zorvik><Thumb width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) +
                 "\" bin=\"" + EscapeAttribute(binName) + "\"/></Zorvik>";
  Record record;
  record.SetName("t");
  record.method = 1;
  record.unpackedSize = unpackedSize;
  record.data = std::move(stream);
  document.records.push_back(std::move(record));
  return document;
}

std::string ThumbXml(int width, int height, std::string_view binName) {
  const std::string w = std::to_string(width);
  const std::string h = std::to_string(height);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<Zorvik version=\"1\">\n"
         "  <Info title=\"zorvik document\" generator=\"zvk-make\"/>\n"
         "  <Thumb width=\"" + w + "\" height=\"" + h + "\" bin=\"" + EscapeAttribute(binName) + "\"/>\n"
         "  <Canvas width=\"" + w + "\" height=\"" + h + "\"/>\n"
         "</Zorvik>\n";
}

Bytes PixelBytes(const std::vector<std::uint32_t>& bgrxPixels) {
  Bytes out;
  out.reserve(bgrxPixels.size() * 4);
  for (std::uint32_t pixel : bgrxPixels) AppendUInt32LE(out, pixel);
  return out;
}

}  // namespace ifzvk::writer
