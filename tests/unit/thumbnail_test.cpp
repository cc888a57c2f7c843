// The preview's way from the XML description and the named record into an
// image, and the temporary file it passes through.
#include <gtest/gtest.h>

#include <tinyxml.h>

#include <boost/lexical_cast.hpp>
#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "document/FileSeek.h"
#include "document/thumbnail.h"
#include "plugin/entry_points.h"
#include "support/CaseTitle.h"
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
  PreviewProblem expected;
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
      {"Stored", PreviewDocument(Zorvik(standard)), PreviewProblem::None, 4, 3, 12},
      {"Compressed", compressed, PreviewProblem::None, 4, 3, 12},
      {"TrailingBytes", trailing, PreviewProblem::None, 4, 3, 12},
      {"DeclarationCommentsAndBom",
       PreviewDocument("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- made by hand -->\n<Other/>" +
                       Zorvik("<Notes>x</Notes>" + standard)),
       PreviewProblem::None, 4, 3, 12},
      {"RootNameInOtherCase", PreviewDocument("<zorvik>" + standard + "</zorvik>"), PreviewProblem::NoPreviewElement, 0, 0, 0},
      {"ThumbNameInOtherCase", PreviewDocument(Zorvik(R"(<thumb width="4" height="3" bin="thumb"/>)")), PreviewProblem::NoPreviewElement, 0, 0, 0},
      {"GrandchildThumb", PreviewDocument(Zorvik("<Group>" + standard + "</Group>")), PreviewProblem::NoPreviewElement, 0, 0, 0},
      {"FirstOfTwoThumbs", twoThumbs, PreviewProblem::None, 2, 2, 4},
      {"PlusSign", PreviewDocument(Zorvik(Thumb(R"(width="+4" height="3" bin="thumb")"))), PreviewProblem::None, 4, 3, 12},
      {"LeadingZerosAreDecimal", PreviewDocument(Zorvik(Thumb(R"(width="1" height="010" bin="thumb")"))), PreviewProblem::None, 1, 10, 10},
      {"BlankBefore", PreviewDocument(Zorvik(Thumb(R"(width=" 4" height="3" bin="thumb")"))), PreviewProblem::BadPreviewSize, 1, 1, 0},
      {"BlankAfter", PreviewDocument(Zorvik(Thumb(R"(width="4" height="3 " bin="thumb")"))), PreviewProblem::BadPreviewSize, 1, 1, 0},
      {"Unit", PreviewDocument(Zorvik(Thumb(R"(width="4px" height="3" bin="thumb")"))), PreviewProblem::BadPreviewSize, 1, 1, 0},
      {"Hexadecimal", PreviewDocument(Zorvik(Thumb(R"(width="0x4" height="3" bin="thumb")"))), PreviewProblem::BadPreviewSize, 1, 1, 0},
      {"DecimalPoint", PreviewDocument(Zorvik(Thumb(R"(width="4.0" height="3" bin="thumb")"))), PreviewProblem::BadPreviewSize, 1, 1, 0},
      {"SignAlone", PreviewDocument(Zorvik(Thumb(R"(width="-" height="3" bin="thumb")"))), PreviewProblem::BadPreviewSize, 1, 1, 0},
      {"BeyondInt", PreviewDocument(Zorvik(Thumb(R"(width="2147483648" height="1" bin="thumb")"))), PreviewProblem::BadPreviewSize, 1, 1, 0},
      {"SizesMissing", PreviewDocument(Zorvik(Thumb(R"(bin="thumb")"))), PreviewProblem::None, 1, 1, 0},
      {"WidthZero", PreviewDocument(Zorvik(Thumb(R"(width="0" height="5" bin="thumb")"))), PreviewProblem::None, 1, 5, 0},
      {"NegativeWidth", PreviewDocument(Zorvik(Thumb(R"(width="-4" height="3" bin="thumb")"))), PreviewProblem::BadPreviewSize, 0, 0, 0},
      {"BeyondThirtyTwoBits", PreviewDocument(Zorvik(Thumb(R"(width="65536" height="16384" bin="thumb")"))), PreviewProblem::BadPreviewSize, 0, 0, 0},
      // The image keeps its size until the record has shown the preview's bytes.
      {"BinNamesNoRecord", PreviewDocument(Zorvik(Thumb(R"(width="4" height="3" bin="nothing")"))), PreviewProblem::RecordMissing, 1, 1, 0},
      {"BinMissing", PreviewDocument(Zorvik(Thumb(R"(width="4" height="3")"))), PreviewProblem::RecordMissing, 1, 1, 0},
      {"RecordShorterThanThePreview", shortRecord, PreviewProblem::RecordBroken, 1, 1, 0},
      {"RecordWithoutData", emptyRecord, PreviewProblem::RecordBroken, 1, 1, 0},
      {"DamagedStream", damaged, PreviewProblem::RecordBroken, 1, 1, 0},
      {"StripNamingNoRecord", PreviewDocument(Zorvik(Thumb(R"(width="0" height="5" bin="nothing")"))), PreviewProblem::RecordMissing, 1, 1, 0},
      {"LongestStrip", PreviewDocument(Zorvik(Thumb(R"(width="0" height="65535" bin="thumb")"))), PreviewProblem::None, 1, 65535, 0},
      {"LongestLyingStrip", PreviewDocument(Zorvik(Thumb(R"(width="65535" height="0" bin="thumb")"))), PreviewProblem::None, 65535, 1, 0},
      {"StripPastItsLimit", PreviewDocument(Zorvik(Thumb(R"(width="0" height="65536" bin="thumb")"))), PreviewProblem::BadPreviewSize, 1, 1, 0},
      {"NoXml", noXml, PreviewProblem::XmlNotLoaded, 1, 1, 0},
      {"MalformedXml", PreviewDocument("<Zorvik><Thumb width=\"4\""), PreviewProblem::XmlNotLoaded, 1, 1, 0},
      {"NegativeXmlSize", negativeXml, PreviewProblem::BadLayout, 1, 1, 0},
      {"XmlPastTheEnd", xmlTooLong, PreviewProblem::BadLayout, 1, 1, 0},
      {"BinPastTheEnd", binTooLong, PreviewProblem::BadLayout, 1, 1, 0},
  };
}

class Extraction : public testing::TestWithParam<ExtractionCase> {};

// Both routes of the XML section give the same answer for every case.
TEST_P(Extraction, GivesThePreviewOrTheReasonAndLeavesNoFile) {
  const ExtractionCase& c = GetParam();
  test::ScopedWorkDir dir;
  const Bytes bytes = writer::DocumentBytes(c.document);
  for (const XmlRoute route : {XmlRoute::TemporaryFile, XmlRoute::Memory}) {
    SCOPED_TRACE(route == XmlRoute::Memory ? "memory" : "temporary file");
    qoru::CImage32 image;
    EXPECT_EQ(ExtractThumbnail(bytes.data(), bytes.size(), image, route), c.expected);
    if (c.width != 0) {
      EXPECT_EQ(image.width, c.width);
      EXPECT_EQ(image.height, c.height);
    }
    const std::vector<std::uint32_t> source = Pixels();
    for (int i = 0; i < c.copied; ++i) ASSERT_EQ(image.pixels[i], source[i]) << "pixel " << i;
    if (c.expected == PreviewProblem::None && c.copied == 0) {
      for (int i = 0; i < image.width * image.height; ++i) EXPECT_EQ(image.pixels[i], 0u) << "nothing copied";
    }
    EXPECT_TRUE(dir.Entries().empty()) << "the temporary file is gone";
  }
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

// What may hold the temporary file's name when a request starts. Only a
// stale file of the module's own is replaced; everything else is left exactly
// as it was and the request gives no preview.
struct Occupant {
  const char* title;
  bool (*make)();  // false where this platform cannot make it
  bool replaced;
};

const std::string kForeign = "foreign.txt";

bool MakeStale() {
  test::WriteFileBytes(kTemporaryXmlFile, test::BytesOf("<Zorvik><Thumb width=\"1\" height=\"1\" bin=\"x\"/></Zorvik>"));
  return true;
}
bool MakeFolder() { return std::filesystem::create_directory(kTemporaryXmlFile); }
#ifdef _WIN32
// Wine starts Unix programs too, without a process to wait for: the shell
// makes what a Unix user would, then a mark the test waits for.
bool RunUnix(const std::string& command) {
  std::string commandLine = "sh -c \"" + command + " && : > made\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA("Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int tries = 0; tries < 100 && !test::FileExists("made"); ++tries) Sleep(50);
  return test::FileExists("made");
}
#endif

bool MakeLink(const std::string& target) {
  std::error_code error;
  std::filesystem::create_symlink(target, kTemporaryXmlFile, error);
#ifdef _WIN32
  if (error) return RunUnix("ln -s " + target + " " + kTemporaryXmlFile);
#endif
  return !error;
}
bool MakeLinkToForeign() { return MakeLink(kForeign); }
bool MakeLinkToNowhere() { return MakeLink("missing.txt"); }
bool MakeSecondName() {
  std::error_code error;
  std::filesystem::create_hard_link(kForeign, kTemporaryXmlFile, error);
  return !error;
}
bool MakeReadOnly() {
  MakeStale();
  using std::filesystem::perms;
  std::filesystem::permissions(kTemporaryXmlFile, perms::owner_write | perms::group_write | perms::others_write,
                               std::filesystem::perm_options::remove);
  return true;
}
bool MakeFifo() {
#ifdef _WIN32
  return RunUnix(std::string("mkfifo ") + kTemporaryXmlFile);
#else
  return ::mkfifo(kTemporaryXmlFile, 0600) == 0;
#endif
}

// Each entry of the folder with its type, and a regular file's bytes.
std::map<std::string, std::pair<std::filesystem::file_type, Bytes>> Snapshot(const test::ScopedWorkDir& dir) {
  std::map<std::string, std::pair<std::filesystem::file_type, Bytes>> entries;
  for (const std::string& name : dir.Entries()) {
    auto& entry = entries[name];
    entry.first = std::filesystem::symlink_status(name).type();
    if (entry.first == std::filesystem::file_type::regular) test::ReadFileBytes(name, entry.second);
  }
  return entries;
}

// The extraction on a thread of its own: should it ever wait on a FIFO, the
// test releases it and fails instead of hanging.
PreviewProblem ExtractWithin(const Bytes& bytes, qoru::CImage32& image) {
  auto extraction = std::async(std::launch::async, [&] { return ExtractThumbnail(bytes.data(), bytes.size(), image); });
  if (extraction.wait_for(std::chrono::seconds(20)) == std::future_status::ready) return extraction.get();
  ADD_FAILURE() << "the request waits on what holds the name";
#ifndef _WIN32
  const int release = ::open(kTemporaryXmlFile, O_RDWR | O_NONBLOCK);
  const PreviewProblem result = extraction.get();
  if (release >= 0) ::close(release);
  return result;
#else
  return extraction.get();
#endif
}

void PrintTo(const Occupant& c, std::ostream* out) { *out << c.title; }

class TemporaryFileName : public testing::TestWithParam<Occupant> {};

TEST_P(TemporaryFileName, OnlyAStaleFileOfOursIsReplaced) {
  const Occupant& c = GetParam();
  test::ScopedWorkDir dir;
  test::WriteFileBytes(kForeign, test::BytesOf("not the module's"));
  if (!c.make()) GTEST_SKIP() << "cannot be made here";
  const auto before = Snapshot(dir);
  const Bytes bytes = StandardDocument();
  qoru::CImage32 image;
  EXPECT_EQ(ExtractWithin(bytes, image), c.replaced ? PreviewProblem::None : PreviewProblem::NoTemporaryFile);
  if (c.replaced) {
    EXPECT_EQ(image.width, 4) << "the document's own XML was read, not the old file";
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{kForeign});
    return;
  }
  EXPECT_EQ(Snapshot(dir), before) << "nothing written, created or deleted";
  if (HasFailure()) return;  // a request that waited would wait again
  test::HostBitmap bitmap;
  EXPECT_EQ(GetPicture(reinterpret_cast<LPCSTR>(bytes.data()), static_cast<SusieLen>(bytes.size()), 1, &bitmap.info,
                       &bitmap.bits, nullptr, 0),
            Success);
  EXPECT_EQ(bitmap.Width(), 1) << "the fallback picture";
}

INSTANTIATE_TEST_SUITE_P(Occupants, TemporaryFileName,
                         testing::Values(Occupant{"a stale file of ours", MakeStale, true},
                                         Occupant{"a folder", MakeFolder, false},
                                         Occupant{"a link to another file", MakeLinkToForeign, false},
                                         Occupant{"a link to nowhere", MakeLinkToNowhere, false},
                                         Occupant{"a second name of another file", MakeSecondName, false},
                                         Occupant{"a read-only file", MakeReadOnly, false},
                                         Occupant{"a FIFO", MakeFifo, false}),
                         test::ByTitle());

TEST(TemporaryFile, AFailedDecoderCopyStillCleansUp) {
  test::ScopedWorkDir dir;
  test::FaultGuard faults;
  const Bytes bytes = StandardDocument();
  qoru::CImage32 image;
  sys::FailCall(sys::FaultKind::HeapAlloc, 1);  // the decoder's copy of the bin section
  EXPECT_EQ(ExtractThumbnail(bytes.data(), bytes.size(), image), PreviewProblem::OutOfMemory);
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(TemporaryFile, AFailedResizeStillCleansUp) {
  test::ScopedWorkDir dir;
  test::FaultGuard faults;
  // A strip takes no bytes from its record, so the image gets a buffer of
  // its own: the heap block after the decoder's copy of the bin section.
  const Bytes bytes = writer::DocumentBytes(PreviewDocument(Zorvik(Thumb(R"(width="0" height="5" bin="thumb")"))));
  qoru::CImage32 image;
  sys::FailCall(sys::FaultKind::HeapAlloc, 2);
  EXPECT_EQ(ExtractThumbnail(bytes.data(), bytes.size(), image), PreviewProblem::OutOfMemory);
  EXPECT_EQ(image.pixels, nullptr);
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(FileSeek, DiscardDeletesOnlyTheFileItCreated) {
  test::ScopedWorkDir dir;
  qoru::CFileSeek writer;
  ASSERT_TRUE(writer.Open("out.xml"));
  writer.Discard();
  EXPECT_FALSE(test::FileExists("out.xml"));

  ASSERT_TRUE(writer.Open("out.xml"));
  test::WriteFileBytes("other.xml", test::BytesOf("another file"));
  std::error_code refused;  // Windows refuses while the writer holds the file
  std::filesystem::rename("other.xml", "out.xml", refused);
  writer.Discard();
  Bytes content;
  EXPECT_EQ(test::ReadFileBytes("out.xml", content), !refused);
  if (!refused) EXPECT_EQ(content, test::BytesOf("another file"));
}

}  // namespace
