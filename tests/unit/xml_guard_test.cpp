// The scan that stands between a document's XML section and TinyXML: what it
// counts, what it must not count, and hostile sections through GetPicture on
// a thread with a small stack, as a viewer's worker thread may have.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "document/Limits.h"
#include "document/XmlGuard.h"
#include "plugin/entry_points.h"
#include "support/CaseTitle.h"
#include "support/TestSupport.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using namespace ifzvk;
using writer::Bytes;

std::string Repeat(const std::string& text, long count) {
  std::string out;
  out.reserve(text.size() * static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) out += text;
  return out;
}
std::string Nested(int levels) { return Repeat("<a>", levels) + Repeat("</a>", levels); }
std::string Attributes(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += " a" + std::to_string(i) + "=''";
  return out;
}

const std::string kThumb = "<Thumb width=\"2\" height=\"1\" bin=\"t\"/>";
const std::string kDeep = Repeat("<a>", limits::kMaxXmlDepth + 1);  // one level too many wherever it stands

struct ScanCase {
  const char* title;
  std::string xml;
  XmlVerdict verdict;
};
void PrintTo(const ScanCase& c, std::ostream* out) { *out << c.title; }

std::vector<ScanCase> ScanCases() {
  const std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  return {
      {"depth exactly at the limit", Nested(limits::kMaxXmlDepth), XmlVerdict::Loadable},
      {"one level over", Nested(limits::kMaxXmlDepth + 1), XmlVerdict::TooDeep},
      {"an empty element one level over", Repeat("<a>", limits::kMaxXmlDepth) + "<a/>", XmlVerdict::TooDeep},
      {"siblings do not nest", "<r>" + Repeat(Nested(limits::kMaxXmlDepth - 1), 3) + "</r>", XmlVerdict::Loadable},
      {"attributes at the limit", "<r" + Attributes(limits::kMaxXmlAttributesPerElement) + "/>", XmlVerdict::Loadable},
      {"one attribute too many", "<r" + Attributes(limits::kMaxXmlAttributesPerElement + 1) + "/>",
       XmlVerdict::TooManyAttributes},
      // The root and the unknown nodes: every node and attribute counts.
      {"nodes at the limit", "<r>" + Repeat("<>", limits::kMaxXmlNodes - 1) + "</r>", XmlVerdict::Loadable},
      {"one node too many", "<r>" + Repeat("<>", limits::kMaxXmlNodes) + "</r>", XmlVerdict::TooManyNodes},
      // Markup that TinyXML does not read as elements.
      {"in a comment", "<r><!--" + kDeep + "--></r>", XmlVerdict::Loadable},
      {"in CDATA", "<r><![CDATA[" + kDeep + "]]></r>", XmlVerdict::Loadable},
      {"in double-quoted values", "<r v=\"" + kDeep + "\"/>", XmlVerdict::Loadable},
      {"in single-quoted values", "<r v='\"" + kDeep + "'/>", XmlVerdict::Loadable},
      {"in an unquoted value", "<r v=" + Repeat("<a", 300) + "/>", XmlVerdict::Loadable},
      {"in a declaration's value", "<?xml version='" + kDeep + "'?><r/>", XmlVerdict::Loadable},
      {"in a processing instruction", "<r><?pi " + Repeat("<a", 300) + "?></r>", XmlVerdict::Loadable},
      {"in a DOCTYPE", "<!DOCTYPE r " + Repeat("<a", 300) + "><r/>", XmlVerdict::Loadable},
      {"after text outside the root", "<r/>text" + kDeep, XmlVerdict::Loadable},
      {"after a NUL byte", std::string("<r/>\0", 5) + kDeep, XmlVerdict::Loadable},
      // Where TinyXML reads on although the markup looks closed, the scan does too.
      {"a comment's end inside a value", "<r v='-->'>" + kDeep, XmlVerdict::TooDeep},
      {"a '>' inside a value", "<r v='>'/>" + kDeep, XmlVerdict::TooDeep},
      {"an unknown node ends at its first '>'", "<r><!DOCTYPE x '>" + kDeep + "'>", XmlVerdict::TooDeep},
      // TinyXML takes "&#" up to the next ';' as one reference when digits end it.
      {"a comment start inside a reference", "<r>&#<!--#1;" + kDeep + "--></r>", XmlVerdict::TooDeep},
      {"a quote inside a hexadecimal reference", "<r v=\"&#x\"x1;\">" + kDeep + "\"/>", XmlVerdict::TooDeep},
      {"a reference TinyXML refuses", "<r>&#<a>;</r>", XmlVerdict::Malformed},
      // In UTF-8 mode TinyXML steps over a lead byte's whole sequence.
      {"a '<' after a lead byte", utf8 + "<r>\xE3<!--" + kDeep + "--></r>", XmlVerdict::Malformed},
      {"whole sequences", utf8 + "<r v='\xC3\xA9'>\xE2\x82\xAC</r>", XmlVerdict::Loadable},
      {"a lead byte in another encoding", "<?xml version='1.0' encoding='ISO-8859-1'?><r>\xE3<!----></r>",
       XmlVerdict::Loadable},
      {"an element left open", "<r><a>", XmlVerdict::Malformed},
  };
}

class Scan : public testing::TestWithParam<ScanCase> {};

TEST_P(Scan, CountsWhatTinyXmlWouldNest) {
  const ScanCase& c = GetParam();
  EXPECT_EQ(ScanXml(reinterpret_cast<const unsigned char*>(c.xml.data()), c.xml.size()), c.verdict);
}

INSTANTIATE_TEST_SUITE_P(Sections, Scan, testing::ValuesIn(ScanCases()), test::ByTitle{});

// Runs body on a thread with a 256 KiB stack.
#ifdef _WIN32
DWORD WINAPI RunJob(LPVOID job) {
  (*static_cast<std::function<void()>*>(job))();
  return 0;
}
#else
void* RunJob(void* job) {
  (*static_cast<std::function<void()>*>(job))();
  return nullptr;
}
#endif

void OnSmallStack(std::function<void()> body) {
  constexpr std::size_t kStack = 256 * 1024;
#ifdef _WIN32
  HANDLE thread = CreateThread(nullptr, kStack, RunJob, &body, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
#else
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, kStack), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, RunJob, &body), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
#endif
}

// The sections are made when their case runs: each test process builds the
// case table, and some sections are megabytes.
struct HostileCase {
  const char* title;
  std::function<std::string()> xml;
  bool preview;  // the record's pixels rather than the 1 x 1 fallback
};
void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.title; }

std::string InRoot(const std::string& inner) { return "<Zorvik>" + kThumb + inner + "</Zorvik>"; }

std::vector<HostileCase> HostileCases() {
  return {
      {"nested 40,000 deep", [] { return InRoot(Repeat("<a>", 40000)); }, false},
      {"nested as deep as allowed", [] { return InRoot(Nested(limits::kMaxXmlDepth - 1)); }, true},
      {"nested one level too deep", [] { return InRoot(Nested(limits::kMaxXmlDepth)); }, false},
      {"100,000 attributes", [] { return "<Zorvik" + Attributes(100000) + ">" + kThumb + "</Zorvik>"; }, false},
      {"1,000,000 siblings", [] { return InRoot(Repeat("<a/>", 1000000)); }, false},
      {"nesting inside comments, CDATA and values",
       [] {
         const std::string deep = Repeat("<a>", 40000);
         return InRoot("<!--" + deep + "--><![CDATA[" + deep + "]]><a v='" + deep + "'/>");
       },
       true},
  };
}

class HostileXml : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileXml, GivesItsAnswerQuicklyOnASmallStack) {
  const HostileCase& c = GetParam();
  test::ScopedWorkDir dir;
  writer::Document document;
  document.xml = c.xml();
  document.records.push_back(writer::StoredRecord("t", writer::PixelBytes({0x00302010u, 0x00302010u})));
  const Bytes bytes = writer::DocumentBytes(document);
  test::HostBitmap bitmap;
  int result = -1;
  const auto start = std::chrono::steady_clock::now();
  OnSmallStack([&] {
    result = GetPicture(reinterpret_cast<LPCSTR>(bytes.data()), static_cast<SusieLen>(bytes.size()), 1, &bitmap.info,
                        &bitmap.bits, nullptr, 0);
  });
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result, Success);
  EXPECT_EQ(bitmap.Width(), c.preview ? 2 : 1);
  EXPECT_EQ(bitmap.BitsBytes(3), (c.preview ? Bytes{0x10, 0x20, 0x30} : Bytes{0, 0, 0}));
  EXPECT_TRUE(dir.Entries().empty()) << "the temporary file is gone";
  // Before the scan these took from 6 s to minutes, or crashed.
  EXPECT_LT(took.count(), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Sections, HostileXml, testing::ValuesIn(HostileCases()), test::ByTitle{});

}  // namespace
