// The preview's way from the XML description and the named record into an
// image, and the temporary file it passes through.
#include <gtest/gtest.h>

#include <tinyxml.h>

#include <boost/lexical_cast.hpp>
#include <filesystem>
#include <string>
#include <vector>

#include "document/FileSeek.h"
#include "document/thumbnail.h"
#include "plugin/entry_points.h"
#include "support/TestSupport.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using namespace ifzvk;
using writer::Bytes;

// 64 distinct pixels: enough for every size the cases ask for.
std::vector<std::uint32_t> Pixels(std::size_t count = 64) {
  std::vector<std::uint32_t> pixels;
  for (std::uint32_t i = 0; i < count; ++i) pixels.push_back(0x01000000u * (i & 0xFF) + 0x00030507u * (i + 1));
  return pixels;
}

std::string Thumb(const std::string& attributes) { return "<Thumb " + attributes + "/>"; }
std::string Zorvik(const std::string& children) { return "<Zorvik>" + children + "</Zorvik>"; }

writer::Document PreviewDocument(const std::string& xml, std::vector<writer::Record> records = {}) {
  writer::Document document;
  document.xml = xml;
  if (records.empty()) records.push_back(writer::StoredRecord("thumb", writer::PixelBytes(Pixels())));
  document.records = std::move(records);
  return document;
}

struct ExtractionCase {
  const char* name;
  writer::Document document;
  bool expected;
  int width, height;  // the image's size afterwards; 0 when it does not matter
  int copied;         // pixels that must equal the record's first ones
};

std::vector<ExtractionCase> ExtractionCases() {
  const std::string standard = Thumb(R"(width="4" height="3" bin="thumb")");
  writer::Document noXml = PreviewDocument("");
  writer::Document emptyRecord = PreviewDocument(Zorvik(standard), {writer::StoredRecord("thumb", {})});
  writer::Document shortRecord =
      PreviewDocument(Zorvik(standard), {writer::StoredRecord("thumb", writer::PixelBytes(Pixels(11)))});
  writer::Document compressed =
      PreviewDocument(Zorvik(standard), {writer::CompressedRecord("thumb", writer::PixelBytes(Pixels()))});
  writer::Document damaged = compressed;
  damaged.records[0].data[5] ^= 0xFF;
  writer::Document negativeXml = PreviewDocument(Zorvik(standard));
  negativeXml.xmlSize = -1;
  writer::Document xmlTooLong = PreviewDocument(Zorvik(standard));
  xmlTooLong.xmlSize = 1 << 30;
  writer::Document binTooLong = PreviewDocument(Zorvik(standard));
  binTooLong.binSize = 0x7FFFFFFF;
  writer::Document twoThumbs = PreviewDocument(
      Zorvik(Thumb(R"(width="2" height="2" bin="b")") + standard),
      {writer::StoredRecord("thumb", writer::PixelBytes(Pixels())), writer::StoredRecord("b", writer::PixelBytes(Pixels()))});
  writer::Document trailing = PreviewDocument(Zorvik(standard));
  trailing.trailing = Bytes(100, 0xEE);

  return {
      {"Stored", PreviewDocument(Zorvik(standard)), true, 4, 3, 12},
      {"Compressed", compressed, true, 4, 3, 12},
      {"TrailingBytes", trailing, true, 4, 3, 12},
      {"DeclarationCommentsAndBom",
       PreviewDocument("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- made by hand -->\n<Other/>" +
                       Zorvik("<Notes>x</Notes>" + standard)),
       true, 4, 3, 12},
      {"RootNameInOtherCase", PreviewDocument("<zorvik>" + standard + "</zorvik>"), false, 0, 0, 0},
      {"ThumbNameInOtherCase", PreviewDocument(Zorvik(R"(<thumb width="4" height="3" bin="thumb"/>)")), false, 0, 0, 0},
      {"GrandchildThumb", PreviewDocument(Zorvik("<Group>" + standard + "</Group>")), false, 0, 0, 0},
      {"FirstOfTwoThumbs", twoThumbs, true, 2, 2, 4},
      {"PlusSign", PreviewDocument(Zorvik(Thumb(R"(width="+4" height="3" bin="thumb")"))), true, 4, 3, 12},
      {"LeadingZerosAreDecimal", PreviewDocument(Zorvik(Thumb(R"(width="1" height="010" bin="thumb")"))), true, 1, 10, 10},
      {"BlankBefore", PreviewDocument(Zorvik(Thumb(R"(width=" 4" height="3" bin="thumb")"))), false, 1, 1, 0},
      {"BlankAfter", PreviewDocument(Zorvik(Thumb(R"(width="4" height="3 " bin="thumb")"))), false, 1, 1, 0},
      {"Unit", PreviewDocument(Zorvik(Thumb(R"(width="4px" height="3" bin="thumb")"))), false, 1, 1, 0},
      {"Hexadecimal", PreviewDocument(Zorvik(Thumb(R"(width="0x4" height="3" bin="thumb")"))), false, 1, 1, 0},
      {"DecimalPoint", PreviewDocument(Zorvik(Thumb(R"(width="4.0" height="3" bin="thumb")"))), false, 1, 1, 0},
      {"SignAlone", PreviewDocument(Zorvik(Thumb(R"(width="-" height="3" bin="thumb")"))), false, 1, 1, 0},
      {"BeyondInt", PreviewDocument(Zorvik(Thumb(R"(width="2147483648" height="1" bin="thumb")"))), false, 1, 1, 0},
      {"SizesMissing", PreviewDocument(Zorvik(Thumb(R"(bin="thumb")"))), true, 1, 1, 0},
      {"WidthZero", PreviewDocument(Zorvik(Thumb(R"(width="0" height="5" bin="thumb")"))), true, 1, 5, 0},
      {"NegativeWidth", PreviewDocument(Zorvik(Thumb(R"(width="-4" height="3" bin="thumb")"))), false, 0, 0, 0},
      {"BeyondThirtyTwoBits", PreviewDocument(Zorvik(Thumb(R"(width="65536" height="16384" bin="thumb")"))), false, 0, 0, 0},
      // The image keeps its size until the record has shown the preview's bytes.
      {"BinNamesNoRecord", PreviewDocument(Zorvik(Thumb(R"(width="4" height="3" bin="nothing")"))), false, 1, 1, 0},
      {"BinMissing", PreviewDocument(Zorvik(Thumb(R"(width="4" height="3")"))), false, 1, 1, 0},
      {"RecordShorterThanThePreview", shortRecord, false, 1, 1, 0},
      {"RecordWithoutData", emptyRecord, false, 1, 1, 0},
      {"DamagedStream", damaged, false, 1, 1, 0},
      {"StripNamingNoRecord", PreviewDocument(Zorvik(Thumb(R"(width="0" height="5" bin="nothing")"))), false, 1, 1, 0},
      {"LongestStrip", PreviewDocument(Zorvik(Thumb(R"(width="0" height="65535" bin="thumb")"))), true, 1, 65535, 0},
      {"LongestLyingStrip", PreviewDocument(Zorvik(Thumb(R"(width="65535" height="0" bin="thumb")"))), true, 65535, 1, 0},
      {"StripPastItsLimit", PreviewDocument(Zorvik(Thumb(R"(width="0" height="65536" bin="thumb")"))), false, 1, 1, 0},
      {"NoXml", noXml, false, 1, 1, 0},
      {"MalformedXml", PreviewDocument("<Zorvik><Thumb width=\"4\""), false, 1, 1, 0},
      {"NegativeXmlSize", negativeXml, false, 1, 1, 0},
      {"XmlPastTheEnd", xmlTooLong, false, 1, 1, 0},
      {"BinPastTheEnd", binTooLong, false, 1, 1, 0},
  };
}

class Extraction : public testing::TestWithParam<ExtractionCase> {};

TEST_P(Extraction, GivesThePreviewOrNothingAndLeavesNoFile) {
  const ExtractionCase& c = GetParam();
  test::ScopedWorkDir dir;
  const Bytes bytes = writer::DocumentBytes(c.document);
  qoru::CImage32 image;
  EXPECT_EQ(ExtractThumbnail(bytes.data(), bytes.size(), image), c.expected);
  if (c.width != 0) {
    EXPECT_EQ(image.width, c.width);
    EXPECT_EQ(image.height, c.height);
  }
  const std::vector<std::uint32_t> source = Pixels();
  for (int i = 0; i < c.copied; ++i) ASSERT_EQ(image.pixels[i], source[i]) << "pixel " << i;
  if (c.expected && c.copied == 0) {
    for (int i = 0; i < image.width * image.height; ++i) EXPECT_EQ(image.pixels[i], 0u) << "nothing copied";
  }
  EXPECT_TRUE(dir.Entries().empty()) << "the temporary file is gone";
}

INSTANTIATE_TEST_SUITE_P(Documents, Extraction, testing::ValuesIn(ExtractionCases()),
                         [](const testing::TestParamInfo<ExtractionCase>& info) { return std::string(info.param.name); });

TEST(TextToInt, AcceptsASignAndDecimalDigitsOnly) {
  const struct {
    const char* text;
    int value;
  } accepted[] = {{"", 0}, {"64", 64}, {"+64", 64}, {"-64", -64}, {"010", 10}, {"2147483647", 2147483647},
                  {"-2147483648", -2147483647 - 1}, {"0", 0}};
  for (const auto& c : accepted) EXPECT_EQ(TextToInt(c.text), c.value) << c.text;
  const char* refused[] = {" 64", "64 ", "\t64", "64\n", "64px", "0x10", "1e3", "6.4", "1,024", "+", "-",
                           "2147483648", "-2147483649", "99999999999", "++1"};
  for (const char* text : refused) EXPECT_THROW(TextToInt(text), boost::bad_lexical_cast) << text;
}

TEST(AttributeText, MissingAndEmptyAttributesReadAlike) {
  TiXmlElement element("Thumb");
  element.SetAttribute("width", "64");
  element.SetAttribute("bin", "");
  EXPECT_EQ(AttributeText(element, "width"), "64");
  EXPECT_EQ(AttributeText(element, "bin"), "");
  EXPECT_EQ(AttributeText(element, "height"), "");
  EXPECT_EQ(AttributeText(element, "Width"), "");
}

Bytes StandardDocument() {
  return writer::DocumentBytes(PreviewDocument(Zorvik(Thumb(R"(width="4" height="3" bin="thumb")"))));
}

TEST(TemporaryFile, AnExistingFileIsOverwrittenThenDeleted) {
  test::ScopedWorkDir dir;
  test::WriteFileBytes(kTemporaryXmlFile, test::BytesOf("<Zorvik><Thumb width=\"1\" height=\"1\" bin=\"x\"/></Zorvik>"));
  const Bytes bytes = StandardDocument();
  qoru::CImage32 image;
  EXPECT_TRUE(ExtractThumbnail(bytes.data(), bytes.size(), image));
  EXPECT_EQ(image.width, 4) << "the document's own XML was read, not the old file";
  EXPECT_FALSE(test::FileExists(kTemporaryXmlFile));
}

TEST(TemporaryFile, WhenItCannotBeCreatedThePictureFallsBack) {
  // A folder of that name: the file cannot be created, whoever runs the test.
  test::ScopedWorkDir dir;
  std::filesystem::create_directory(kTemporaryXmlFile);
  const Bytes bytes = StandardDocument();
  qoru::CImage32 image;
  EXPECT_FALSE(ExtractThumbnail(bytes.data(), bytes.size(), image));

  test::HostBitmap bitmap;
  EXPECT_EQ(GetPicture(reinterpret_cast<LPCSTR>(bytes.data()), static_cast<SusieLen>(bytes.size()), 1, &bitmap.info,
                       &bitmap.bits, nullptr, 0),
            Success);
  EXPECT_EQ(bitmap.Width(), 1);
  EXPECT_EQ(bitmap.Height(), 1);
  EXPECT_TRUE(std::filesystem::is_directory(kTemporaryXmlFile)) << "the folder is left alone";
}

TEST(TemporaryFile, AFailedDecoderCopyStillCleansUp) {
  test::ScopedWorkDir dir;
  test::FaultGuard faults;
  const Bytes bytes = StandardDocument();
  qoru::CImage32 image;
  sys::FailCall(sys::FaultKind::HeapAlloc, 1);  // the decoder's copy of the bin section
  EXPECT_FALSE(ExtractThumbnail(bytes.data(), bytes.size(), image));
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(TemporaryFile, AFailedResizeStillCleansUp) {
  test::ScopedWorkDir dir;
  test::FaultGuard faults;
  const Bytes bytes = StandardDocument();
  qoru::CImage32 image;
  sys::FailCall(sys::FaultKind::HeapAlloc, 3);  // after the decoder's copy and the record's block: the image's buffer
  EXPECT_FALSE(ExtractThumbnail(bytes.data(), bytes.size(), image));
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(FileSeek, WritesWholeItemsAndCountsWhatItWasAsked) {
  test::ScopedWorkDir dir;
  qoru::CFileSeek writer;
  EXPECT_TRUE(writer.error);
  EXPECT_FALSE(writer.Write("abc", 3)) << "nothing open";
  EXPECT_FALSE(writer.Open("no-such-folder/x.xml"));
  EXPECT_TRUE(writer.error);
  ASSERT_TRUE(writer.Open("out.xml"));
  EXPECT_FALSE(writer.error);
  EXPECT_FALSE(writer.Write("abc", 0));
  EXPECT_FALSE(writer.Write("abc", -1));
  EXPECT_TRUE(writer.Write("abc", 3));
  EXPECT_TRUE(writer.Write("de", 2));
  EXPECT_EQ(writer.bytesWritten, 5);
  writer.Close();
  EXPECT_EQ(writer.bytesWritten, 0);
  Bytes content;
  ASSERT_TRUE(test::ReadFileBytes("out.xml", content));
  EXPECT_EQ(content, test::BytesOf("abcde"));
}

}  // namespace
