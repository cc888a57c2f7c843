// Inputs the fuzz targets in fuzz/ found to crash, trip a sanitizer or cost
// far more than their answer needs, as ordinary tests: each case is the
// smallest document that showed the fault.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include "image/Image32.h"
#include "plugin/entry_points.h"
#include "support/CaseTitle.h"
#include "support/TestSupport.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using namespace ifzvk;
using writer::Bytes;

// The process's peak resident memory in MiB, where it can be measured
// faithfully: not under AddressSanitizer, whose shadow memory grows with the
// blocks it watches. -1 elsewhere.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZVK_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZVK_UNDER_ASAN 1
#endif
long PeakMiB() {
#if defined(__linux__) && !defined(ZVK_UNDER_ASAN)
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
#else
  return -1;
#endif
}

// Memory that a request may touch on top of what the process has touched
// before: generous for the module's own needs, far below the gigabytes that
// the documents below declare.
constexpr long kTouchedMiB = 128;

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
// the end of its text: an XML section cut inside a sequence made it read past
// its buffer (heap-buffer-overflow in TiXmlBase::ReadText). Such a section now
// counts as XML that does not load; complete sequences are still read.
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

// A Thumb may ask for a picture of gigabytes. Resize used to clear the new
// buffer byte by byte, so a preview that then failed (no record, too few
// bytes) still wrote the whole size; the buffer now comes zeroed from the
// allocator. Either way the answer is the black fallback; a host whose heap
// cannot give the block gets the same answer.
TEST(HugePreview, WithoutItsRecordFallsBackToBlack) {
  const char* sizes[][2] = {{"20000", "20000"}, {"888888888", "1"}, {"1", "1073741823"}};
  for (const auto& size : sizes) {
    const long before = PeakMiB();
    const std::string xml = "<Zorvik><Thumb width=\"" + std::string(size[0]) + "\" height=\"" + size[1] +
                            "\" bin=\"missing\"/></Zorvik>";
    const Picture picture = Request(xml, "t");
    EXPECT_EQ(picture.result, Success) << size[0] << " x " << size[1];
    EXPECT_EQ(picture.width, 1);
    EXPECT_EQ(picture.height, 1);
    EXPECT_EQ(picture.firstPixel, (Bytes{0, 0, 0}));
    EXPECT_FALSE(picture.fileLeft);
    EXPECT_LE(PeakMiB() - before, kTouchedMiB) << "the unused buffer was written";
  }
}

// A compressed record may declare up to 4 GiB of decoded data for a stream of
// a few bytes; its block is asked for whole before the stream is inflated.
// The unwritten tail used to be cleared byte by byte (out of memory under the
// fuzzer, 4 GiB touched and 9 s natively); the block now comes zeroed from
// the allocator. Where the heap gives the block, the preview is the stream's
// first pixel; where it refuses (a 32-bit host), the black fallback. Either
// way result 0, one pixel, and nothing left behind.
TEST(HugeRecord, DeclaringGigabytesOfDataStillGivesAPicture) {
  const std::uint32_t declared[] = {0xFF000100u, 0x9F000100u, 0x80000000u};
  for (const std::uint32_t size : declared) {
    const long before = PeakMiB();
    test::ScopedWorkDir dir;
    writer::Document document;
    document.xml = "<Zorvik>" + kThumb + "</Zorvik>";
    writer::Record record = writer::CompressedRecord("t", writer::PixelBytes({0x00302010u, 0x00302010u}));
    record.unpackedSize = size;
    document.records.push_back(record);
    const Bytes bytes = writer::DocumentBytes(document);
    test::HostBitmap bitmap;
    EXPECT_EQ(GetPicture(reinterpret_cast<LPCSTR>(bytes.data()), static_cast<SusieLen>(bytes.size()), 1,
                         &bitmap.info, &bitmap.bits, nullptr, 0),
              Success);
    EXPECT_EQ(bitmap.Width(), 1);
    EXPECT_EQ(bitmap.Height(), 1);
    const Bytes pixel = bitmap.BitsBytes(3);
    EXPECT_TRUE(pixel == (Bytes{0x10, 0x20, 0x30}) || pixel == (Bytes{0, 0, 0})) << std::hex << size;
    EXPECT_TRUE(dir.Entries().empty());
    EXPECT_LE(PeakMiB() - before, kTouchedMiB) << "the block's unwritten part was written";
  }
}

TEST(Image32, NewBuffersAreZeroEvenWhenTheHeapHandsOutDirtyBlocks) {
  test::FaultGuard faults;
  sys::FillNewBlocks(0xCD);
  qoru::CImage32 image;
  ASSERT_TRUE(image.Resize(7, 5));
  for (int i = 0; i < 7 * 5; ++i) ASSERT_EQ(image.pixels[i], 0u) << "pixel " << i;
}

// A width of 2^29 or more has no int row length at 4 bytes per pixel; the
// conversion overflowed (UndefinedBehaviorSanitizer: 3.55556e+09 is outside
// the range of int). rowBytes now holds the low 32 bits of the byte count.
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
