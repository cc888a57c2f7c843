// Inputs the fuzz targets in fuzz/ found to crash or trip a sanitizer, as
// ordinary tests: each case is the smallest document that showed the fault.
// Those that cost far more than their answer needs are among the documents of
// request_cost_test.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/Image32.h"
#include "plugin/entry_points.h"
#include "support/CaseTitle.h"
#include "support/TestSupport.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using namespace ifzvk;
using writer::Bytes;

const std::string kUtf8Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
const std::string kThumb = "<Thumb width=\"1\" height=\"1\" bin=\"t\"/>";

struct PictureCase {
  const char* title;
  std::string xml;
  std::string recordName;
  bool preview;  // the record's pixel, not the black fallback
  std::int32_t width = 1;
  std::int32_t height = 1;
};

// The bitmap that GetPicture (memory mode) makes of xml with one stored
// record of 1024 pixels, each 0x00302010.
struct Picture {
  int result;
  std::int32_t width, height;
  Bytes firstPixel;
  bool fileLeft;
};

Picture Request(const std::string& xml, const std::string& recordName) {
  test::ScopedWorkDir dir;
  writer::Document document;
  document.xml = xml;
  document.records.push_back(
      writer::StoredRecord(recordName, writer::PixelBytes(std::vector<std::uint32_t>(1024, 0x00302010u))));
  const Bytes bytes = writer::DocumentBytes(document);
  test::HostBitmap bitmap;
  Picture picture{};
  picture.result = GetPicture(reinterpret_cast<LPCSTR>(bytes.data()), static_cast<SusieLen>(bytes.size()), 1,
                              &bitmap.info, &bitmap.bits, nullptr, 0);
  picture.width = bitmap.Width();
  picture.height = bitmap.Height();
  picture.firstPixel = bitmap.BitsBytes(3);
  picture.fileLeft = !dir.Entries().empty();
  return picture;
}

// TinyXML steps over a UTF-8 lead byte's whole sequence without looking for
// the end of its text: given an XML section cut inside a sequence it reads past
// its buffer (heap-buffer-overflow in TiXmlBase::ReadText). The module counts
// such a section as XML that does not load; complete sequences are still read.
std::vector<PictureCase> Utf8Cases() {
  const std::string root = kUtf8Declaration + "<Zorvik>" + kThumb + "</Zorvik>";
  return {
      {"cut inside an attribute value", kUtf8Declaration + "<Zorvik><Thumb width=\"1\" height=\"1\" bin=\"t\xE0", "t", false},
      {"cut inside text", kUtf8Declaration + "<Zorvik>" + kThumb + "\xF0\x9F\x98", "t", false},
      {"a lead byte and a NUL at the end", kUtf8Declaration + "<Zorvik>" + kThumb + std::string("\xE0\0", 2), "t", false},
      {"a four-byte lead as the last byte", kUtf8Declaration + "<Zorvik>" + kThumb + "\xF4", "t", false},
      {"cut after the root element", root + "\xC3", "t", false},
      {"cut without a declaration", "<Zorvik>" + kThumb + "</Zorvik>\xE0\x80", "t", false},
      {"complete sequence after the root element", root + "\xC3\xA9", "t", true},
      {"complete four-byte sequence at the end", root + "\xF0\x9F\x98\x80", "t", true},
      {"bytes that lead nothing at the end", root + "\x80\xC1\xF5", "t", true},
      {"complete sequence in the record name",
       kUtf8Declaration + "<Zorvik><Thumb width=\"1\" height=\"1\" bin=\"\xC3\xA9\"/></Zorvik>", "\xC3\xA9", true},
      // What the fuzzer first found: a broken declaration and a long run of lead bytes.
      {"run of lead bytes in an open tag",
       "<?xml version=\"1.0\" encodifg=\"UTK-8)?>\n<Zorvik version" + std::string(100, '\xE0'), "t", false},
  };
}

class CutUtf8 : public testing::TestWithParam<PictureCase> {};

TEST_P(CutUtf8, NeverReadsPastTheSectionAndLeavesNoFile) {
  const PictureCase& c = GetParam();
  const Picture picture = Request(c.xml, c.recordName);
  EXPECT_EQ(picture.result, Success);
  EXPECT_EQ(picture.width, 1);
  EXPECT_EQ(picture.height, 1);
  EXPECT_EQ(picture.firstPixel, (c.preview ? Bytes{0x10, 0x20, 0x30} : Bytes{0, 0, 0}));
  EXPECT_FALSE(picture.fileLeft);
}

INSTANTIATE_TEST_SUITE_P(Sections, CutUtf8, testing::ValuesIn(Utf8Cases()), test::ByTitle{});

TEST(Image32, NewBuffersAreZeroEvenWhenTheHeapHandsOutDirtyBlocks) {
  test::FaultGuard faults;
  sys::FillNewBlocks(0xCD);
  qoru::CImage32 image;
  ASSERT_TRUE(image.Resize(7, 5));
  for (int i = 0; i < 7 * 5; ++i) ASSERT_EQ(image.pixels[i], 0u) << "pixel " << i;
}

// A width of 2^29 or more has no int row length at 4 bytes per pixel, and a
// plain conversion overflows (UndefinedBehaviorSanitizer: 3.55556e+09 is
// outside the range of int): rowBytes holds the low 32 bits of the byte count.
TEST(Image32, RowBytesOfRowsLongerThanAnIntKeepTheLow32Bits) {
  const struct {
    int width;
    double bytesPerPixel;
    int rowBytes;
  } cases[] = {
      {536870911, 4.0, 2147483644},   {536870912, 4.0, -2147483647 - 1}, {888888888, 4.0, -739411744},
      {2147483647, 4.0, -4},          {2147483647, 1.0, 2147483647},     {-536870913, 4.0, 2147483644},
      {10, 0.125, 2},
  };
  for (const auto& c : cases) {
    qoru::CImageBase base;
    base.SetSize(c.width, 1, c.bytesPerPixel);
    EXPECT_EQ(base.rowBytes, c.rowBytes) << c.width << " x " << c.bytesPerPixel;
    EXPECT_EQ(base.width, c.width);
  }
}

}  // namespace
