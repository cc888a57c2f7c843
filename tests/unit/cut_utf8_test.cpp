// XML sections that end inside a UTF-8 sequence, through GetPicture. TinyXML
// steps over a lead byte's whole sequence without looking for the end of its
// text, so such a section must count as XML that does not load (the fallback
// picture) and never reach it; complete sequences are still read.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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
};

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
      {"run of lead bytes in an open tag",
       "<?xml version=\"1.0\" encodifg=\"UTK-8)?>\n<Zorvik version" + std::string(100, '\xE0'), "t", false},
  };
}

class CutUtf8 : public testing::TestWithParam<PictureCase> {};

// The picture GetPicture (memory mode) makes of the case's XML with one
// stored record of 1024 pixels, each 0x00302010.
TEST_P(CutUtf8, NeverReadsPastTheSectionAndLeavesNoFile) {
  const PictureCase& c = GetParam();
  test::ScopedWorkDir dir;
  writer::Document document;
  document.xml = c.xml;
  document.records.push_back(
      writer::StoredRecord(c.recordName, writer::PixelBytes(std::vector<std::uint32_t>(1024, 0x00302010u))));
  const Bytes bytes = writer::DocumentBytes(document);
  test::HostBitmap bitmap;
  EXPECT_EQ(GetPicture(reinterpret_cast<LPCSTR>(bytes.data()), static_cast<SusieLen>(bytes.size()), 1, &bitmap.info,
                       &bitmap.bits, nullptr, 0),
            Success);
  EXPECT_EQ(bitmap.Width(), 1);
  EXPECT_EQ(bitmap.Height(), 1);
  EXPECT_EQ(bitmap.BitsBytes(3), (c.preview ? Bytes{0x10, 0x20, 0x30} : Bytes{0, 0, 0}));
  EXPECT_TRUE(dir.Entries().empty());
}

INSTANTIATE_TEST_SUITE_P(Sections, CutUtf8, testing::ValuesIn(Utf8Cases()), test::ByTitle{});

}  // namespace
