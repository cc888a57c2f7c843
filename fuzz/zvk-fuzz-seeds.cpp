// Writes the fuzz targets' seed inputs, made with the project's document
// writer: zvk-fuzz-seeds OUTDIR fills OUTDIR/<target>/ for each target.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/writer/DocumentWriter.h"

namespace fs = std::filesystem;
using namespace ifzvk::writer;

namespace {

Bytes Pixels(std::size_t count) {
  std::vector<std::uint32_t> pixels;
  for (std::uint32_t i = 0; i < count; ++i) pixels.push_back(0x00102030u * (i + 1) ^ (i << 24));
  return PixelBytes(pixels);
}

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }

void Write(const fs::path& folder, const std::string& name, const Bytes& bytes) {
  fs::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + (folder / name).string());
}

Document Preview(int width, int height, std::vector<Record> records) {
  Document document;
  document.xml = ThumbXml(width, height, "thumb");
  document.records = std::move(records);
  return document;
}

void PictureSeeds(const fs::path& folder) {
  Write(folder, "stored-4x3", DocumentBytes(Preview(4, 3, {StoredRecord("thumb", Pixels(12))})));
  Write(folder, "compressed-8x8", DocumentBytes(Preview(8, 8, {CompressedRecord("thumb", Pixels(64))})));
  Document several = Preview(2, 2, {StoredRecord("other", Pixels(3)), CompressedRecord("Thumb", Pixels(4)),
                                    StoredRecord("thumb", Pixels(4))});
  several.records[1].method = 2;
  several.trailing = Of("trailing bytes");
  Write(folder, "three-records-trailing", DocumentBytes(several));
  Document odd = Preview(3, 1, {StoredRecord("thumb", Pixels(3))});
  odd.xml += " ";  // an odd xmlSize puts the records at odd offsets
  Write(folder, "odd-offsets", DocumentBytes(odd));
  Write(folder, "no-records", DocumentBytes(Preview(1, 1, {})));
  Document plain;
  plain.xml = "<Zorvik><Thumb width=\"+2\" height=\"1\" bin=\"\"/></Zorvik>";
  plain.records = {StoredRecord("", Pixels(2))};
  Write(folder, "empty-name", DocumentBytes(plain));
  Write(folder, "header-only", DocumentBytes(Document{}));
}

// One byte of name length, the name, the bin section.
Bytes DecodeInput(const std::string& name, const std::vector<Record>& records) {
  Bytes out{static_cast<unsigned char>(name.size())};
  out.insert(out.end(), name.begin(), name.end());
  const Bytes bin = BinSection(records);
  out.insert(out.end(), bin.begin(), bin.end());
  return out;
}

void DecodeSeeds(const fs::path& folder) {
  Write(folder, "stored", DecodeInput("thumb", {StoredRecord("thumb", Pixels(16))}));
  Write(folder, "compressed", DecodeInput("thumb", {CompressedRecord("thumb", Pixels(64))}));
  Record skipped = StoredRecord("thumb", Pixels(2));
  skipped.method = 7;
  Record empty = StoredRecord("empty", {});
  empty.method = 9;
  Write(folder, "walk", DecodeInput("thumb", {StoredRecord("a", Pixels(1)), empty, skipped,
                                              CompressedRecord("thumb", Pixels(8), 1)}));
  Record shortStream = CompressedRecord("z", Pixels(32));
  shortStream.packedSize = *shortStream.packedSize - 4;
  Write(folder, "cut-stream", DecodeInput("z", {shortStream}));
  Record longName = StoredRecord("", Pixels(1));
  longName.SetName(std::string(64, 'n'));
  Write(folder, "name-without-nul", DecodeInput(std::string(63, 'n'), {longName}));
}

// Mode byte, width, height and bin each ended by 0xFF, then the XML text.
Bytes XmlInput(unsigned char mode, const std::string& width, const std::string& height, const std::string& bin,
               const std::string& xml) {
  Bytes out{mode};
  for (const std::string* field : {&width, &height, &bin}) {
    out.insert(out.end(), field->begin(), field->end());
    out.push_back(0xFF);
  }
  out.insert(out.end(), xml.begin(), xml.end());
  return out;
}

std::string Repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

std::string Attributes(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
  return out;
}

void ThumbXmlSeeds(const fs::path& folder) {
  Write(folder, "template-plain", XmlInput(0, "4", "3", "thumb", ""));
  Write(folder, "template-compressed", XmlInput(2, "+16", "16", "preview", "<Info title=\"t\"/>"));
  Write(folder, "template-zero", XmlInput(0, "0", "5", "", "text"));
  Write(folder, "template-bad-number", XmlInput(0, "0x10", " 7", "a&amp;b", "<!-- c --><Thumb/>"));
  Write(folder, "raw-thumb", XmlInput(1, "", "", "thumb", ThumbXml(8, 4, "thumb")));
  Write(folder, "raw-nested", XmlInput(3, "", "", "p",
                                       "<?xml version=\"1.0\"?><!DOCTYPE Zorvik><Zorvik a='1'><X><Thumb/></X>"
                                       "<Thumb width=\"2\" height=\"2\" bin=\"p\">text<![CDATA[x]]></Thumb></Zorvik>"));
  // At the XML limits (256 levels inside Zorvik at most, 256 attributes) and
  // one past them, with nesting hidden where TinyXML does not read elements.
  Write(folder, "depth-at-limit", XmlInput(0, "2", "2", "t", Repeat("<a>", 255) + Repeat("</a>", 255)));
  Write(folder, "depth-past-limit", XmlInput(0, "2", "2", "t", Repeat("<a>", 256) + Repeat("</a>", 256)));
  Write(folder, "attributes-at-limit", XmlInput(0, "1", "1", "t", "<b" + Attributes(256) + "/>"));
  Write(folder, "attributes-past-limit", XmlInput(0, "1", "1", "t", "<b" + Attributes(257) + "/>"));
  Write(folder, "hidden-nesting",
        XmlInput(0, "1", "1", "t",
                 "<!--" + Repeat("<a>", 300) + "--><![CDATA[" + Repeat("<a>", 300) + "]]><b v='" +
                     Repeat("<a>", 300) + "'/>&#<!--#1;" + Repeat("<c>", 250) + Repeat("</c>", 250)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zvk-fuzz-seeds OUTDIR\n");
    return 1;
  }
  try {
    const fs::path out = argv[1];
    PictureSeeds(out / "fuzz_picture");
    DecodeSeeds(out / "fuzz_decode");
    ThumbXmlSeeds(out / "fuzz_thumb_xml");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "zvk-fuzz-seeds: %s\n", error.what());
    return 1;
  }
  return 0;
}
