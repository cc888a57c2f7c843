#include "support/ViewerCases.h"

#include <gtest/gtest.h>

#include "support/StoredPreview.h"
#include "support/TestSupport.h"
#include "tools/writer/DocumentWriter.h"

namespace ifzvk::test {

namespace {

writer::Document PatternDocument(int width, int height, std::uint32_t seed, std::vector<std::uint32_t>& pixels) {
  pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = (seed * 0x9E3779B9u + i * 2654435761u) | 0xA5000000u;
  writer::Document document;
  document.xml = writer::ThumbXml(width, height, "t");
  document.records.push_back(writer::CompressedRecord("t", writer::PixelBytes(pixels)));
  return document;
}

template <class Change>
Bytes Changed(Change change) {
  std::vector<std::uint32_t> pixels;
  writer::Document document = PatternDocument(3, 2, 1, pixels);
  change(document);
  return writer::DocumentBytes(document);
}

// Nested levels inside a good description: 300 passes the parser's limit,
// 20000 would also pass a thread's stack if the parser recursed.
std::string DeepXml(int levels) {
  std::string xml = writer::ThumbXml(3, 2, "t");
  std::string open, close;
  for (int level = 0; level < levels; ++level) open += "<a>", close += "</a>";
  return xml.insert(xml.rfind("</Zorvik>"), open + close);
}

}  // namespace

std::vector<BrokenDocument> BrokenDocuments() {
  const char* const kSizes = "the document's section sizes do not fit the file";
  const char* const kNotWellFormed = "the XML description is not well-formed";
  const char* const kNoThumb = "the description names no preview";
  const char* const kDamaged = "the preview's record is damaged";
  const char* const kTooDeep = "the XML description is nested too deeply or has too many parts";
  const Bytes whole = Changed([](writer::Document&) {});
  return {
      {"empty", {}, nullptr},
      {"no magic", BytesOf("\x89PNG\r\n\x1a\n and more"), nullptr},
      {"magic one letter off", Changed([](writer::Document& d) { d.magic[0] = 'Z'; }), nullptr},
      {"shorter than the header", BytesOf("zorvixa\1\2\3"), nullptr},
      {"cut inside the header", Bytes(whole.begin(), whole.begin() + 19), nullptr},
      {"XML size past the end", Changed([](writer::Document& d) { d.xmlSize = 1 << 20; }), kSizes},
      {"XML size near 2 GiB", Changed([](writer::Document& d) { d.xmlSize = 0x7FFFFFF0; }), kSizes},
      {"XML not loading", Changed([](writer::Document& d) { d.xml = "<Zorvik><Thumb"; }), kNotWellFormed},
      {"no Thumb", Changed([](writer::Document& d) { d.xml = "<Zorvik/>"; }), kNoThumb},
      {"no Thumb among others", Changed([](writer::Document& d) { d.xml = "<Zorvik><Other/></Zorvik>"; }), kNoThumb},
      {"record missing", Changed([](writer::Document& d) { d.xml = writer::ThumbXml(3, 2, "gone"); }),
       "the preview's record is missing"},
      {"stream not zlib", writer::DocumentBytes(writer::StatedPreviewDocument(2, 2, "t", Bytes(40, 0xEE), 16)), kDamaged},
      {"stream with a flipped byte", Changed([](writer::Document& d) { d.records[0].data[4] ^= 0x55; }), kDamaged},
      {"16384 x 16384 stated, 64 bytes held",
       writer::DocumentBytes(writer::StatedPreviewDocument(16384, 16384, "t", writer::Deflate(Bytes(64, 0x7F)),
                                                           16384u * 16384u * 4u)),
       kDamaged},
      {"XML nested 300 deep", Changed([](writer::Document& d) { d.xml = DeepXml(300); }), kTooDeep},
      {"XML nested 20000 deep", Changed([](writer::Document& d) { d.xml = DeepXml(20000); }), kTooDeep},
  };
}

PictureDocument MadePicture(int width, int height, std::uint32_t seed) {
  PictureDocument picture{{}, width, height, {}};
  picture.bytes = writer::DocumentBytes(PatternDocument(width, height, seed, picture.pixels));
  return picture;
}

std::vector<PictureDocument> PictureDocuments(const std::string& samplePath) {
  std::vector<PictureDocument> pictures(1, {{}, 256, 256, {}});
  EXPECT_TRUE(ReadFileBytes(samplePath, pictures[0].bytes)) << samplePath;
  pictures[0].pixels = StoredPreview(pictures[0].bytes, 256 * 256);
  const int sizes[][2] = {{3, 2}, {17, 5}, {64, 31}, {197, 131}, {64, 1}, {1, 300}};
  for (const auto& size : sizes) pictures.push_back(MadePicture(size[0], size[1], static_cast<std::uint32_t>(pictures.size())));
  return pictures;
}

}  // namespace ifzvk::test
