// The five calls as a host sees them, in both input modes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "plugin/entry_points.h"
#include "support/CaseTitle.h"
#include "support/TestSupport.h"

namespace {

using namespace ifzvk;
using ifzvk::test::Bytes;
using ifzvk::test::HostBitmap;

// The smallest accepted document: magic, reserved bytes, xmlSize 0, binSize 0.
Bytes MinimalDocument() {
  Bytes bytes = test::BytesOf("zorvixa");
  bytes.resize(kDocumentHeaderSize, 0);
  return bytes;
}

Bytes Prefixed(std::size_t offset, const Bytes& body) {
  Bytes bytes(offset, 'x');
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

// ---------------------------------------------------------------- GetPluginInfo

TEST(GetPluginInfo, ReportsTheFourInformationStrings) {
  const char* expected[] = {"00IN", "zorvik plugin 1.01", "*.zvk", "zorvik (*.zvk)"};
  for (int infono = 0; infono < 4; ++infono) {
    char buf[64];
    EXPECT_EQ(GetPluginInfo(infono, buf, sizeof buf), static_cast<int>(std::strlen(expected[infono])));
    EXPECT_STREQ(buf, expected[infono]);
  }
}

TEST(GetPluginInfo, OutOfRangeOrNoRoomLeavesTheBufferAlone) {
  const struct {
    int infono, buflen;
  } cases[] = {{4, 64}, {-1, 64}, {1000, 64}, {1, 0}, {1, -1}, {0, -100}};
  for (const auto& c : cases) {
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(GetPluginInfo(c.infono, buf, c.buflen), 0) << c.infono << "/" << c.buflen;
    EXPECT_EQ(buf[0], '#');
  }
  // buflen 0 with no buffer at all: nothing is read or written.
  EXPECT_EQ(GetPluginInfo(1, nullptr, 0), 0);
}

TEST(GetPluginInfo, CutsLongStringsToTheBuffer) {
  const struct {
    int buflen;
    const char* stored;
  } cases[] = {{5, "zorv"}, {1, ""}, {18, "zorvik plugin 1.0"}, {19, "zorvik plugin 1.01"}};
  for (const auto& c : cases) {
    char buf[32];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(GetPluginInfo(1, buf, c.buflen), static_cast<int>(std::strlen(c.stored)));
    EXPECT_STREQ(buf, c.stored);
    EXPECT_EQ(buf[c.buflen], '#') << "nothing written past buflen";
  }
}

// ------------------------------------------------------------------ IsSupported

TEST(IsSupported, JudgesTheFirstSevenBytesAtAnAddress) {
  const struct {
    const char* bytes;
    int expected;
  } cases[] = {{"zorvixa", 1}, {"zorvixa and more", 1}, {"Zorvixa", 0}, {"ZORVIXA", 0}, {"zorvixb", 0},
               {"xzorvixa", 0}, {"zorvix\0a", 0}};
  for (const auto& c : cases) {
    Bytes bytes(c.bytes, c.bytes + 8);
    bytes.resize(2048, 0);
    EXPECT_EQ(IsSupported("whatever.bmp", reinterpret_cast<SusieHandleOrAddress>(bytes.data())), c.expected)
        << c.bytes;
  }
}

struct HandleCase {
  const char* name;
  std::string content;
  int expected;
};

class IsSupportedHandle : public testing::TestWithParam<HandleCase> {};

TEST_P(IsSupportedHandle, ReadsFromTheHandlesCurrentPosition) {
  test::ScopedWorkDir dir;
  const HandleCase c = GetParam();
  const std::string body = c.content + "-after-the-header-bytes-";
  test::WriteFileBytes("data.bin", Prefixed(3, test::BytesOf(body)));
  HANDLE file = CreateFileA("data.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_EQ(SetFilePointer(file, 3, nullptr, FILE_BEGIN), 3u);
  const auto value = reinterpret_cast<SusieHandleOrAddress>(file);
  ASSERT_LT(value, 0x10000u) << "file handles are small values";

  EXPECT_EQ(IsSupported(nullptr, value), c.expected);

  // No seek back: the handle is left after the bytes that were read.
  char next[4] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(file, next, 4, &got, nullptr));
  const std::string rest = body.size() > 20 ? body.substr(20, 4) : std::string();
  EXPECT_EQ(std::string(next, got), rest);
  CloseHandle(file);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IsSupportedHandle,
    testing::Values(HandleCase{"magic", "zorvixa", 1}, HandleCase{"capitals", "ZORVIXA", 0},
                    HandleCase{"other", "GIF89a!", 0}),
    [](const testing::TestParamInfo<HandleCase>& info) { return std::string(info.param.name); });

TEST(IsSupported, ShortFilesAreJudgedByTheBytesThatArrived) {
  test::ScopedWorkDir dir;
  const struct {
    std::string content;
    int expected;
  } cases[] = {{"zorvixa", 1}, {"zorvixa123", 1}, {"zorvi", 0}, {"", 0}};
  for (const auto& c : cases) {
    test::WriteFileBytes("short.zvk", test::BytesOf(c.content));
    HANDLE file = CreateFileA("short.zvk", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(IsSupported(nullptr, reinterpret_cast<SusieHandleOrAddress>(file)), c.expected) << c.content;
    CloseHandle(file);
  }
}

TEST(IsSupported, AHandleThatCannotBeReadIsNotSupported) {
  // 0xFFFF is below 0x10000, so it is taken as a handle; no such handle is open.
  EXPECT_EQ(IsSupported(nullptr, 0xFFFF), 0);
}

// --------------------------------------------------------------- GetPictureInfo

void ExpectFixedPictureInfo(const PictureInfo& info) {
  EXPECT_EQ(info.left, 0);
  EXPECT_EQ(info.top, 0);
  EXPECT_EQ(info.width, 1);
  EXPECT_EQ(info.height, 1);
  EXPECT_EQ(info.x_density, 0);
  EXPECT_EQ(info.y_density, 0);
  EXPECT_EQ(info.colorDepth, 24);
  EXPECT_EQ(info.hInfo, nullptr);
}

TEST(GetPictureInfo, MemoryModeNeedsTwentyBytesAndTheMagic) {
  const Bytes document = MinimalDocument();
  const struct {
    Bytes bytes;
    SusieLen len;
    SusieFlag flag;
    int expected;
  } cases[] = {
      {document, 20, 1, Success},          {document, 19, 1, UnknownFormat},
      {document, 0, 7, UnknownFormat},     {test::BytesOf("ZORVIXA-------------"), 20, 2, UnknownFormat},
      {document, 20, 4 | 0x100, Success},
  };
  for (const auto& c : cases) {
    PictureInfo info;
    std::memset(&info, 0xAB, sizeof info);
    EXPECT_EQ(GetPictureInfo(reinterpret_cast<LPCSTR>(c.bytes.data()), c.len, c.flag, &info), c.expected);
    if (c.expected == Success) ExpectFixedPictureInfo(info);
  }
}

// A file-mode request: the file, the host's offset and flag, the result.
struct FileModeCase {
  const char* file;
  SusieLen offset;
  SusieFlag flag;
  int expected;
};

TEST(GetPictureInfo, FileModeReadsTwentyBytesAtTheOffset) {
  test::ScopedWorkDir dir;
  const Bytes document = MinimalDocument();
  test::WriteFileBytes("exact.zvk", Prefixed(7, document));
  test::WriteFileBytes("short.zvk", Prefixed(7, Bytes(document.begin(), document.end() - 1)));
  const FileModeCase cases[] = {
      {"exact.zvk", 7, 0, Success},   {"exact.zvk", 7, 8, Success},          {"exact.zvk", 7, 16, Success},
      {"exact.zvk", 0, 0, UnknownFormat}, {"exact.zvk", 8, 0, UnknownFormat}, {"short.zvk", 7, 0, UnknownFormat},
      {"exact.zvk", 1000, 0, UnknownFormat}, {"missing.zvk", 0, 0, FileReadError},
      {".", 0, 0, FileReadError},
  };
  for (const auto& c : cases) {
    PictureInfo info;
    std::memset(&info, 0xAB, sizeof info);
    EXPECT_EQ(GetPictureInfo(c.file, c.offset, c.flag, &info), c.expected) << c.file << " @" << c.offset;
    if (c.expected == Success) ExpectFixedPictureInfo(info);
  }
}

// ------------------------------------------------------------------- GetPicture

struct CallbackLog {
  std::vector<std::pair<int, int>> calls;
  int abortOnCall = 0;  // 1-based call that answers non-zero; 0 never
};

int WINAPI RecordingCallback(int nNum, int nDenom, SusieData lData) {
  auto* log = reinterpret_cast<CallbackLog*>(lData);
  log->calls.emplace_back(nNum, nDenom);
  return static_cast<int>(log->calls.size()) == log->abortOnCall ? 1 : 0;
}

int CallGetPicture(const Bytes& document, HostBitmap& bitmap, CallbackLog* log = nullptr) {
  return GetPicture(reinterpret_cast<LPCSTR>(document.data()), static_cast<SusieLen>(document.size()), 1,
                    &bitmap.info, &bitmap.bits, log != nullptr ? RecordingCallback : nullptr,
                    reinterpret_cast<SusieData>(log));
}

void ExpectOneByOneBlackBitmap(const HostBitmap& bitmap) {
  const Bytes info = bitmap.InfoBytes();
  ASSERT_EQ(info.size(), 40u);
  BITMAPINFOHEADER header;
  std::memcpy(&header, info.data(), sizeof header);
  EXPECT_EQ(header.biSize, 40u);
  EXPECT_EQ(header.biWidth, 1);
  EXPECT_EQ(header.biHeight, 1);
  EXPECT_EQ(header.biPlanes, 1);
  EXPECT_EQ(header.biBitCount, 24);
  EXPECT_EQ(header.biCompression, 0u);
  EXPECT_EQ(header.biSizeImage, 0u);
  EXPECT_EQ(header.biXPelsPerMeter, 0);
  EXPECT_EQ(header.biYPelsPerMeter, 0);
  EXPECT_EQ(header.biClrUsed, 0u);
  EXPECT_EQ(header.biClrImportant, 0u);
  EXPECT_EQ(bitmap.BitsBytes(4), (Bytes{0, 0, 0, 0})) << "black pixel and zero padding";
}

TEST(GetPicture, ADocumentWithoutPreviewGivesABlackOneByOnePicture) {
  test::FaultGuard faults;
  sys::FillNewBlocks(0xCD);  // stale bytes would show
  HostBitmap bitmap;
  EXPECT_EQ(CallGetPicture(MinimalDocument(), bitmap), Success);
  ExpectOneByOneBlackBitmap(bitmap);
}

TEST(GetPicture, MemoryModeRejectionsNeverReachTheCallback) {
  const struct {
    Bytes bytes;
    std::size_t len;
  } cases[] = {{MinimalDocument(), 19}, {MinimalDocument(), 0}, {test::BytesOf("zorvixA-------------"), 20}};
  for (const auto& c : cases) {
    CallbackLog log;
    HostBitmap bitmap;
    EXPECT_EQ(GetPicture(reinterpret_cast<LPCSTR>(c.bytes.data()), static_cast<SusieLen>(c.len), 1, &bitmap.info,
                         &bitmap.bits, RecordingCallback, reinterpret_cast<SusieData>(&log)),
              UnknownFormat);
    EXPECT_TRUE(log.calls.empty());
    EXPECT_EQ(bitmap.info, nullptr);
  }
}

TEST(GetPicture, FileModeResultsFollowTheFile) {
  test::ScopedWorkDir dir;
  const Bytes document = MinimalDocument();
  test::WriteFileBytes("doc.zvk", Prefixed(5, document));
  test::WriteFileBytes("bad.zvk", Prefixed(5, test::BytesOf("zorvixA-------------")));
  test::WriteFileBytes("short.zvk", Prefixed(5, Bytes(document.begin(), document.end() - 1)));
  std::filesystem::create_directory("folder.zvk");
  const FileModeCase cases[] = {
      {"doc.zvk", 5, 0, Success},           {"doc.zvk", 5, 8, Success},
      {"doc.zvk", 5, 16 | 0x80, Success},   {"doc.zvk", 0, 0, UnknownFormat},
      {"bad.zvk", 5, 0, UnknownFormat},     {"short.zvk", 5, 0, UnknownFormat},
      {"doc.zvk", 6, 0, UnknownFormat},     {"doc.zvk", 25, 0, UnknownFormat},
      {"doc.zvk", 1 << 20, 0, UnknownFormat}, {"missing.zvk", 0, 0, FileReadError},
      {"folder.zvk", 0, 0, FileReadError},
  };
  for (const auto& c : cases) {
    CallbackLog log;
    HostBitmap bitmap;
    const int result = GetPicture(c.file, c.offset, c.flag, &bitmap.info, &bitmap.bits, RecordingCallback,
                                  reinterpret_cast<SusieData>(&log));
    EXPECT_EQ(result, c.expected) << c.file << " @" << c.offset;
    if (c.expected == Success) {
      ExpectOneByOneBlackBitmap(bitmap);
      EXPECT_EQ(log.calls.size(), 2u);
    } else {
      EXPECT_TRUE(log.calls.empty()) << "a rejected file never reaches the callback";
    }
  }
}

TEST(GetPicture, AnOffsetThatCannotBeSeekedToIsAReadError) {
  // A sparse file larger than 2 GiB: SetFilePointer without a high part
  // cannot reach offset 2^31, so the position it reports differs.
  test::ScopedWorkDir dir;
  test::WriteFileBytes("huge.zvk", MinimalDocument());
  std::error_code error;
  std::filesystem::resize_file("huge.zvk", 0x80000100ull, error);
  if (error) GTEST_SKIP() << "no sparse files here: " << error.message();
  HostBitmap bitmap;
  EXPECT_EQ(GetPicture("huge.zvk", static_cast<SusieLen>(0x80000000ull), 0, &bitmap.info, &bitmap.bits, nullptr, 0),
            FileReadError);
  PictureInfo info;
  EXPECT_EQ(GetPictureInfo("huge.zvk", static_cast<SusieLen>(0xFFFFFFFFull), 0, &info), FileReadError);
}

// A document no block can hold, or a block refused: result 4 before any
// read, and no handle for the host. The large files are sparse.
struct OutOfMemoryCase {
  const char* title;
  std::uint64_t fileSize;
  SusieLen offset;
  bool refuseBlock;
};

void PrintTo(const OutOfMemoryCase& c, std::ostream* out) { *out << c.title; }

class FileModeOutOfMemory : public testing::TestWithParam<OutOfMemoryCase> {};

TEST_P(FileModeOutOfMemory, LeavesBothHandlesNull) {
  const OutOfMemoryCase& c = GetParam();
  test::ScopedWorkDir dir;
  test::FaultGuard faults;
  test::WriteFileBytes("doc.zvk", MinimalDocument());
  std::error_code error;
  std::filesystem::resize_file("doc.zvk", c.fileSize, error);
  if (error) GTEST_SKIP() << "no sparse files here: " << error.message();
  if (c.refuseBlock) sys::FailCall(sys::FaultKind::LocalAlloc, 1);
  CallbackLog log;
  HostBitmap bitmap;
  const auto untouched = reinterpret_cast<HLOCAL>(static_cast<LONG_PTR>(0x1234));
  bitmap.info = bitmap.bits = untouched;
  EXPECT_EQ(GetPicture("doc.zvk", c.offset, 0, &bitmap.info, &bitmap.bits, RecordingCallback,
                       reinterpret_cast<SusieData>(&log)),
            OutOfMemory);
  EXPECT_EQ(bitmap.info, nullptr);
  EXPECT_EQ(bitmap.bits, nullptr);
  EXPECT_TRUE(log.calls.empty());
  for (HLOCAL* handle : {&bitmap.info, &bitmap.bits})
    if (*handle == untouched) *handle = nullptr;  // not the host's to free
}

constexpr std::uint64_t kFourGiB = 1ull << 32;

INSTANTIATE_TEST_SUITE_P(
    Files, FileModeOutOfMemory,
    testing::Values(OutOfMemoryCase{"the document block refused", kDocumentHeaderSize, 0, true},
                    OutOfMemoryCase{"4 GiB and 16 bytes", kFourGiB + 16, 0, false},
                    OutOfMemoryCase{"4 GiB and 4 KiB", kFourGiB + 4096, 0, false},
                    OutOfMemoryCase{"4 GiB exactly after the offset", kFourGiB + 16, 16, false}),
    test::ByTitle());

// Which local-memory call fails, in the order the bitmap writer makes them.
struct BlockFault {
  const char* name;
  sys::FaultKind kind;
  int nth;
  int expected;
};

class GetPictureBlockFaults : public testing::TestWithParam<BlockFault> {};

TEST_P(GetPictureBlockFaults, LeaveNoHandleBehind) {
  test::FaultGuard faults;
  const BlockFault c = GetParam();
  for (SusieFlag mode : {0u, 1u}) {
    test::ScopedWorkDir dir;
    const Bytes document = MinimalDocument();
    test::WriteFileBytes("doc.zvk", document);
    // In file mode the document block is the first local allocation.
    const int shift = (mode == 0 && c.kind == sys::FaultKind::LocalAlloc) ? 1 : 0;
    sys::FailCall(c.kind, c.nth + shift);
    CallbackLog log;
    HostBitmap bitmap;
    bitmap.info = bitmap.bits = reinterpret_cast<HLOCAL>(static_cast<LONG_PTR>(0x1234));
    const LPCSTR buf = mode == 0 ? "doc.zvk" : reinterpret_cast<LPCSTR>(document.data());
    const auto len = static_cast<SusieLen>(mode == 0 ? 0 : document.size());
    EXPECT_EQ(GetPicture(buf, len, mode, &bitmap.info, &bitmap.bits, RecordingCallback,
                         reinterpret_cast<SusieData>(&log)),
              c.expected);
    EXPECT_EQ(bitmap.info, nullptr) << "no freed handle for the host to free twice";
    EXPECT_EQ(bitmap.bits, nullptr);
    EXPECT_EQ(log.calls.size(), 1u) << "only the call before the work";
    sys::ClearFaults();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, GetPictureBlockFaults,
    testing::Values(BlockFault{"HeaderAlloc", sys::FaultKind::LocalAlloc, 1, OutOfMemory},
                    BlockFault{"BitsAlloc", sys::FaultKind::LocalAlloc, 2, OutOfMemory},
                    BlockFault{"HeaderLock", sys::FaultKind::LocalLock, 1, MemoryError},
                    BlockFault{"BitsLock", sys::FaultKind::LocalLock, 2, MemoryError}),
    [](const testing::TestParamInfo<BlockFault>& info) { return std::string(info.param.name); });

TEST(GetPicture, AnImageWithoutPixelsStillGivesABlackPicture) {
  test::FaultGuard faults;
  sys::FailCall(sys::FaultKind::HeapAlloc, 1);  // the 1 x 1 image's own buffer
  HostBitmap bitmap;
  EXPECT_EQ(CallGetPicture(MinimalDocument(), bitmap), Success);
  ExpectOneByOneBlackBitmap(bitmap);
}

TEST(GetPicture, CallbackSeesZeroThenOneWithTheHostsValue) {
  CallbackLog log;
  HostBitmap bitmap;
  EXPECT_EQ(CallGetPicture(MinimalDocument(), bitmap, &log), Success);
  EXPECT_EQ(log.calls, (std::vector<std::pair<int, int>>{{0, 1}, {1, 1}}));
}

TEST(GetPicture, EarlyAbortCreatesNothing) {
  CallbackLog log;
  log.abortOnCall = 1;
  HostBitmap bitmap;
  bitmap.info = bitmap.bits = reinterpret_cast<HLOCAL>(static_cast<LONG_PTR>(0x5678));
  EXPECT_EQ(CallGetPicture(MinimalDocument(), bitmap, &log), Aborted);
  EXPECT_EQ(log.calls.size(), 1u);
  EXPECT_EQ(bitmap.info, reinterpret_cast<HLOCAL>(static_cast<LONG_PTR>(0x5678))) << "host variables untouched";
  bitmap.info = bitmap.bits = nullptr;
}

TEST(GetPicture, LateAbortHandsOverTheFinishedBitmap) {
  CallbackLog log;
  log.abortOnCall = 2;
  HostBitmap bitmap;
  EXPECT_EQ(CallGetPicture(MinimalDocument(), bitmap, &log), Aborted);
  EXPECT_EQ(log.calls.size(), 2u);
  ExpectOneByOneBlackBitmap(bitmap);
}

TEST(GetPreview, GivesWhatGetPictureGives) {
  test::ScopedWorkDir dir;
  const Bytes document = MinimalDocument();
  test::WriteFileBytes("doc.zvk", document);
  for (SusieFlag flag : {0u, 1u}) {
    const LPCSTR buf = flag == 0 ? "doc.zvk" : reinterpret_cast<LPCSTR>(document.data());
    const auto len = static_cast<SusieLen>(flag == 0 ? 0 : document.size());
    HostBitmap picture, preview;
    EXPECT_EQ(GetPicture(buf, len, flag, &picture.info, &picture.bits, nullptr, 0),
              GetPreview(buf, len, flag, &preview.info, &preview.bits, nullptr, 0));
    EXPECT_EQ(picture.InfoBytes(), preview.InfoBytes());
    EXPECT_EQ(picture.BitsBytes(4), preview.BitsBytes(4));
  }
  HostBitmap picture, preview;
  EXPECT_EQ(GetPreview("missing.zvk", 0, 0, &preview.info, &preview.bits, nullptr, 0), FileReadError);
}

}  // namespace
