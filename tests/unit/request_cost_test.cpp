// What a picture request costs on documents that claim far more than they
// hold. Natively, without AddressSanitizer (which reserves terabytes of
// address space for itself), each request runs in a child process whose
// address space may grow by no more than 2 x N + 3 x P + 1 MiB, N being the
// document's length and P the preview bytes its record really gives, and no
// allocation of the request may be refused. Elsewhere the same requests run in
// this process and only their pictures are checked.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#if defined(__linux__)
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#endif

#include "plugin/entry_points.h"
#include "support/CaseTitle.h"
#include "support/TestSupport.h"
#include "tools/writer/DocumentWriter.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZVK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZVK_UNDER_ASAN 1
#endif
#endif
#if defined(__linux__) && !defined(ZVK_UNDER_ASAN)
#define ZVK_ADDRESS_LIMIT 1
#endif

namespace {

using namespace ifzvk;
using writer::Bytes;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint32_t kPixel = 0x00302010u;
const Bytes kPixelBytes = writer::PixelBytes({kPixel});
const Bytes kColour = {0x10, 0x20, 0x30};
const Bytes kBlack = {0, 0, 0};
// A record that really inflates to this many zeros after its pixel: 4 GiB
// makes the point as well but takes about 10 s to inflate; the benchmark's
// table runs that one.
constexpr std::uint64_t kZeros = 512 * kMiB;

struct CostCase {
  const char* title;
  std::function<writer::Document()> document;
  std::uint64_t previewBytes;  // P: what the record really gives the picture
  std::int32_t width, height;  // the picture handed over
  Bytes bottomLeft;            // its first pixel in the bitmap
};
void PrintTo(const CostCase& c, std::ostream* out) { *out << c.title; }

// side x side stated, and side x side x 4 bytes stated by a record that holds one pixel.
writer::Document Claim(int side) {
  const auto bytes = static_cast<std::uint32_t>(side) * static_cast<std::uint32_t>(side) * 4u;
  return writer::StatedPreviewDocument(side, side, "t", writer::Deflate(kPixelBytes), bytes);
}

writer::Document Uniform(int side, bool compressed) {
  writer::Document document;
  document.xml = writer::ThumbXml(side, side, "t");
  const Bytes pixels = writer::PixelBytes(std::vector<std::uint32_t>(static_cast<std::size_t>(side) * side, kPixel));
  document.records.push_back(compressed ? writer::CompressedRecord("t", pixels) : writer::StoredRecord("t", pixels));
  return document;
}

writer::Document Stated(int width, int height, const char* bin, std::uint32_t unpackedSize) {
  return writer::StatedPreviewDocument(width, height, bin, writer::Deflate(kPixelBytes), unpackedSize);
}

// A zlib header before bytes that are no deflate data.
Bytes DamagedStream(std::size_t size) {
  Bytes stream{0x78, 0x9C};
  std::uint32_t state = 12345;
  for (std::size_t i = 0; i < size; ++i) stream.push_back(static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 24));
  return stream;
}

const CostCase kCases[] = {
    {"32767 x 32767 stated, one pixel held", [] { return Claim(32767); }, 0, 1, 1, kBlack},
    {"16384 x 16384 stated, one pixel held", [] { return Claim(16384); }, 0, 1, 1, kBlack},
    {"8192 x 8192 stated, one pixel held", [] { return Claim(8192); }, 0, 1, 1, kBlack},
    {"20000 x 20000 naming no record", [] { return Stated(20000, 20000, "missing", 4); }, 0, 1, 1, kBlack},
    {"888888888 x 1 naming no record", [] { return Stated(888888888, 1, "missing", 4); }, 0, 1, 1, kBlack},
    {"1 x 1073741823 naming no record", [] { return Stated(1, 1073741823, "missing", 4); }, 0, 1, 1, kBlack},
    {"1 x 1 in a record stating 4 GiB that holds one pixel", [] { return Stated(1, 1, "t", 0xFFFFFFFFu); }, 4, 1, 1,
     kColour},
    {"1 x 1 in a record inflating to 512 MiB",
     [] {
       return writer::StatedPreviewDocument(1, 1, "t", writer::DeflateWithZeros(kPixelBytes, kZeros),
                                            static_cast<std::uint32_t>(4 + kZeros));
     },
     4, 1, 1, kColour},
    {"1024 x 1024 over a 4 MiB stream that is damaged",
     [] { return writer::StatedPreviewDocument(1024, 1024, "t", DamagedStream(4 * kMiB), 4 * kMiB); }, 0, 1, 1, kBlack},
    {"strip stated 1073741823 long", [] { return Stated(0, 1073741823, "t", 4); }, 0, 1, 1, kBlack},
    {"longest strip", [] { return Stated(0, 65535, "t", 4); }, 0, 1, 65535, kBlack},
    {"1024 x 1024 stored", [] { return Uniform(1024, false); }, 4 * kMiB, 1024, 1024, kColour},
    {"1024 x 1024 compressed", [] { return Uniform(1024, true); }, 4 * kMiB, 1024, 1024, kColour},
};

struct Outcome {
  int result;
  std::int32_t width, height;
  unsigned char bottomLeft[3];
  bool refused;  // an allocation of the request failed
};

// One file-mode request, as a viewer makes it.
Outcome Request(const std::string& path) {
  test::HostBitmap bitmap;
  Outcome outcome{};
  errno = 0;
  outcome.result = GetPicture(path.c_str(), 0, 0, &bitmap.info, &bitmap.bits, nullptr, 0);
  // Only a failed allocation sets ENOMEM; the module itself answers such a
  // failure with its fallback picture, which tells nothing.
  outcome.refused = errno == ENOMEM;
  outcome.width = bitmap.Width();
  outcome.height = bitmap.Height();
  const Bytes pixel = bitmap.BitsBytes(3);
  std::copy(pixel.begin(), pixel.end(), outcome.bottomLeft);
  return outcome;
}

#ifdef ZVK_ADDRESS_LIMIT
std::uint64_t AddressSpaceBytes() {
  std::ifstream statm("/proc/self/statm");
  std::uint64_t pages = 0;
  statm >> pages;
  return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// The request in a child whose address space may grow by `budget` bytes.
bool RequestWithin(const std::string& path, std::uint64_t budget, Outcome& outcome) {
  int channel[2];
  if (pipe(channel) != 0) return false;
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    const rlimit limit{AddressSpaceBytes() + budget, RLIM_INFINITY};
    Outcome result{};
    if (setrlimit(RLIMIT_AS, &limit) == 0) result = Request(path);
    _exit(write(channel[1], &result, sizeof result) == sizeof result ? 0 : 1);
  }
  close(channel[1]);
  const bool read = child > 0 && ::read(channel[0], &outcome, sizeof outcome) == sizeof outcome;
  close(channel[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  return read && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

class RequestCost : public testing::TestWithParam<CostCase> {};

TEST_P(RequestCost, StaysWithinWhatTheDocumentHoldsAndGivesItsPicture) {
  const CostCase& c = GetParam();
  test::ScopedWorkDir dir;
#ifdef ZVK_ADDRESS_LIMIT
  // Large blocks are mapped and unmapped one by one, as on a viewer's first
  // picture: the document's bytes, once freed here, leave no room in the heap
  // that the request could use unseen.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
  [[maybe_unused]] std::uint64_t documentBytes = 0;
  {
    const Bytes bytes = writer::DocumentBytes(c.document());
    test::WriteFileBytes("doc.zvk", bytes);
    documentBytes = bytes.size();
  }
  Outcome outcome{};
#ifdef ZVK_ADDRESS_LIMIT
  const std::uint64_t budget = 2 * documentBytes + 3 * c.previewBytes + kMiB;
  ASSERT_TRUE(RequestWithin("doc.zvk", budget, outcome)) << "the child gave no answer";
  EXPECT_FALSE(outcome.refused) << "an allocation did not fit in " << budget << " bytes";
#else
  outcome = Request("doc.zvk");
#endif
  EXPECT_EQ(outcome.result, Success);
  EXPECT_EQ(outcome.width, c.width);
  EXPECT_EQ(outcome.height, c.height);
  EXPECT_EQ(Bytes(outcome.bottomLeft, outcome.bottomLeft + 3), c.bottomLeft);
}

INSTANTIATE_TEST_SUITE_P(Documents, RequestCost, testing::ValuesIn(kCases), test::ByTitle());

}  // namespace
