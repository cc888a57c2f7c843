// The built module driven the way real viewers drive it: small information
// buffers, callbacks with and without the host's value, memory blocks longer
// than the document, a file handle for IsSupported, the picture blocks read
// through LocalLock and measured with LocalSize, and the module unloaded
// before the host frees the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include "plugin/dib.h"
#include "support/CaseTitle.h"
#include "support/TestSupport.h"
#include "tools/host/PluginModule.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using namespace ifzvk;
using ifzvk::test::Bytes;

std::string ModulePath() { return host::ExecutableDirectory() + ZVK_MODULE_FILE; }
const std::string kSample = std::string(ZVK_SOURCE_DIR) + "/examples/sample.zvk";

// A host value that is truncated or sign-extended anywhere on its way back
// to the callback no longer compares equal: every byte differs and the top
// bit is set.
#if UINTPTR_MAX > 0xFFFFFFFFu
const SusieData kHostData = static_cast<SusieData>(0xA5C3F00D12345678ull);
#else
const SusieData kHostData = static_cast<SusieData>(0xA5C3F00Du);
#endif

// A document whose preview is width x height distinct pixels; byte 3 of each
// pixel is set, so a writer that copies it instead of dropping it shows.
struct Preview {
  int width, height;
  std::vector<std::uint32_t> pixels;
  Bytes document;
};

Preview MakePreview(int width, int height) {
  Preview preview{width, height, {}, {}};
  for (int i = 0; i < width * height; ++i)
    preview.pixels.push_back(0xEE000000u | static_cast<std::uint32_t>(i * 0x010203 + 0x30507));
  writer::Document document;
  document.xml = writer::ThumbXml(width, height, "thumb");
  document.records.push_back(writer::CompressedRecord("thumb", writer::PixelBytes(preview.pixels)));
  preview.document = writer::DocumentBytes(document);
  return preview;
}

LPSTR AsBuf(const Bytes& bytes) { return reinterpret_cast<LPSTR>(const_cast<unsigned char*>(bytes.data())); }

// The bits block against the preview: bottom-up rows padded to 4 bytes, each
// pixel blue, green, red.
void ExpectPicture(const test::HostBitmap& bitmap, const Preview& preview) {
  ASSERT_EQ(bitmap.Width(), preview.width);
  ASSERT_EQ(bitmap.Height(), preview.height);
  const std::size_t stride = BitmapStride(preview.width);
  const Bytes bits = bitmap.BitsBytes(stride * preview.height);
  int mismatches = 0;
  for (int y = 0; y < preview.height; ++y) {
    const unsigned char* row = bits.data() + (preview.height - 1 - y) * stride;
    for (int x = 0; x < preview.width; ++x) {
      const std::uint32_t pixel = preview.pixels[static_cast<std::size_t>(y) * preview.width + x];
      for (int c = 0; c < 3; ++c) mismatches += row[3 * x + c] != ((pixel >> (8 * c)) & 0xFF);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

class RealHost : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module.Load(ModulePath())) << ModulePath() << ": " << module.Error(); }
  host::PluginModule module;
};

// ----------------------------------------------------------------- information

TEST_F(RealHost, GetPluginInfoFillsShortBuffers) {
  const char* const strings[] = {"00IN", "zorvik plugin 1.01", "*.zvk", "zorvik (*.zvk)"};
  for (int buflen : {4, 8}) {
    for (int infono = 0; infono < 4; ++infono) {
      char buf[32];
      std::memset(buf, '#', sizeof buf);
      const std::string expected = std::string(strings[infono]).substr(0, buflen - 1);
      EXPECT_EQ(module.GetPluginInfo(infono, buf, buflen), static_cast<int>(expected.size()))
          << infono << "/" << buflen;
      EXPECT_STREQ(buf, expected.c_str());
      EXPECT_EQ(buf[buflen], '#') << "written past buflen " << buflen;
    }
  }
}

// -------------------------------------------------------------------- callback

std::vector<std::pair<int, int>> callbackCalls;
std::vector<SusieData> callbackData;

int WINAPI RecordingCallback(int nNum, int nDenom, SusieData lData) {
  callbackCalls.emplace_back(nNum, nDenom);
  callbackData.push_back(lData);
  return 0;
}

struct CallbackCase {
  const char* title;
  bool fileMode;
  bool preview;  // GetPreview instead of GetPicture
  bool callback;
};

void PrintTo(const CallbackCase& c, std::ostream* out) { *out << c.title; }

class RealHostCallback : public RealHost, public testing::WithParamInterface<CallbackCase> {};

TEST_P(RealHostCallback, GivesThePictureAndTheHostsValueBackIntact) {
  const CallbackCase c = GetParam();
  const Preview preview = MakePreview(7, 5);
  test::ScopedWorkDir dir;
  test::WriteFileBytes("doc.zvk", preview.document);
  char name[] = "doc.zvk";
  callbackCalls.clear();
  callbackData.clear();

  test::HostBitmap bitmap;
  const auto call = c.preview ? module.GetPreview : module.GetPicture;
  const int result = c.fileMode ? call(name, 0, 0, &bitmap.info, &bitmap.bits,
                                       c.callback ? RecordingCallback : nullptr, kHostData)
                                : call(AsBuf(preview.document), static_cast<SusieLen>(preview.document.size()), 1,
                                       &bitmap.info, &bitmap.bits, c.callback ? RecordingCallback : nullptr,
                                       kHostData);
  ASSERT_EQ(result, 0);
  ExpectPicture(bitmap, preview);
  if (c.callback) {
    EXPECT_EQ(callbackCalls, (std::vector<std::pair<int, int>>{{0, 1}, {1, 1}}));
    EXPECT_EQ(callbackData, (std::vector<SusieData>{kHostData, kHostData}));
  } else {
    EXPECT_TRUE(callbackCalls.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, RealHostCallback,
                         testing::Values(CallbackCase{"file mode, no callback", true, false, false},
                                         CallbackCase{"file mode with callback", true, false, true},
                                         CallbackCase{"memory mode, no callback", false, false, false},
                                         CallbackCase{"memory mode with callback", false, false, true},
                                         CallbackCase{"preview with callback", false, true, true},
                                         CallbackCase{"preview from file, no callback", true, true, false}),
                         test::ByTitle());

// ------------------------------------------------------ longer memory blocks

// Some hosts read a file into a block rounded up to 2 KiB and pass the
// block's length: the zero bytes after the document change nothing.
TEST_F(RealHost, MemoryModeIgnoresZeroBytesAfterTheDocument) {
  for (const auto& size : {std::make_pair(3, 2), std::make_pair(40, 30)}) {
    const Preview preview = MakePreview(size.first, size.second);
    Bytes padded = preview.document;
    padded.resize((padded.size() / 2048 + 1) * 2048, 0);
    SCOPED_TRACE(std::to_string(preview.document.size()) + " bytes in a block of " + std::to_string(padded.size()));

    EXPECT_EQ(module.IsSupported(nullptr, reinterpret_cast<SusieHandleOrAddress>(padded.data())), 1);
    PictureInfo info{};
    EXPECT_EQ(module.GetPictureInfo(AsBuf(padded), static_cast<SusieLen>(padded.size()), 1, &info), 0);
    EXPECT_EQ(info.colorDepth, 24);
    test::HostBitmap bitmap;
    ASSERT_EQ(module.GetPicture(AsBuf(padded), static_cast<SusieLen>(padded.size()), 1, &bitmap.info, &bitmap.bits,
                                RecordingCallback, kHostData),
              0);
    ExpectPicture(bitmap, preview);
  }
}

// ------------------------------------------------------ IsSupported as hosts call it

#ifdef _WIN32
using HostFile = HANDLE;
HostFile OpenHostFile(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}
bool IsOpen(HostFile file) { return file != INVALID_HANDLE_VALUE; }
bool SeekHostFile(HostFile file, long offset) {
  return SetFilePointer(file, offset, nullptr, FILE_BEGIN) == static_cast<DWORD>(offset);
}
SusieHandleOrAddress AsHandle(HostFile file) { return reinterpret_cast<SusieHandleOrAddress>(file); }
void CloseHostFile(HostFile file) { CloseHandle(file); }
#else
// Natively the module takes a file descriptor for a handle.
using HostFile = int;
HostFile OpenHostFile(const std::string& path) { return open(path.c_str(), O_RDONLY); }
bool IsOpen(HostFile file) { return file >= 0; }
bool SeekHostFile(HostFile file, long offset) { return lseek(file, offset, SEEK_SET) == offset; }
SusieHandleOrAddress AsHandle(HostFile file) { return static_cast<SusieHandleOrAddress>(file); }
void CloseHostFile(HostFile file) { close(file); }
#endif

struct SupportCase {
  const char* title;
  std::string file;  // the sample, or a file written from `bytes`
  Bytes bytes;
  long offset;       // where the host leaves the handle before the call
  int expected;
};

std::vector<SupportCase> SupportCases() {
  const Bytes small = MakePreview(3, 2).document;
  Bytes prefixed(777 + small.size(), 'x');
  std::copy(small.begin(), small.end(), prefixed.begin() + 777);
  Bytes sample;
  EXPECT_TRUE(test::ReadFileBytes(kSample, sample));
  return {
      {"the sample", kSample, {}, 0, 1},
      {"a small document", "", small, 0, 1},
      {"a document after other bytes", "", prefixed, 777, 1},
      {"the same file from its start", "", prefixed, 0, 0},
      {"a text file named zvk", "", test::BytesOf("plain text, not a zorvik document"), 0, 0},
  };
}

TEST_F(RealHost, IsSupportedReadsAHostsFileHandle) {
  test::ScopedWorkDir dir;
  for (const SupportCase& c : SupportCases()) {
    SCOPED_TRACE(c.title);
    std::string path = c.file;
    if (path.empty()) {
      path = "file.zvk";
      test::WriteFileBytes(path, c.bytes);
    }
    const HostFile file = OpenHostFile(path);
    ASSERT_TRUE(IsOpen(file));
    ASSERT_TRUE(SeekHostFile(file, c.offset));
    ASSERT_LT(AsHandle(file), 0x10000u) << "a host's file handle is a small value";
    EXPECT_EQ(module.IsSupported(const_cast<char*>(path.c_str()), AsHandle(file)), c.expected);
    CloseHostFile(file);
  }
}

TEST_F(RealHost, IsSupportedJudgesTheFirstTwoKilobytesOfAFile) {
  for (const SupportCase& c : SupportCases()) {
    SCOPED_TRACE(c.title);
    Bytes head = c.bytes;
    if (!c.file.empty()) ASSERT_TRUE(test::ReadFileBytes(c.file, head));
    head.erase(head.begin(), head.begin() + c.offset);
    head.resize(2048, 0);  // shorter files are padded with zeros, longer ones cut
    EXPECT_EQ(module.IsSupported(nullptr, reinterpret_cast<SusieHandleOrAddress>(head.data())), c.expected);
  }
}

// ---------------------------------------------------------- the picture blocks

#ifdef _WIN32
// The host's side: each block is handed over unlocked, holds exactly its
// bytes, and is read between LocalLock and LocalUnlock.
struct LockedRead {
  SIZE_T size = 0;
  UINT lockCountBefore = 0;
  bool unlockedAfter = false;
  Bytes bytes;
};

LockedRead ReadLocked(HLOCAL block) {
  LockedRead read;
  read.size = LocalSize(block);
  read.lockCountBefore = LocalFlags(block) & LMEM_LOCKCOUNT;
  const auto* start = static_cast<const unsigned char*>(LocalLock(block));
  if (start != nullptr) read.bytes.assign(start, start + read.size);
  SetLastError(ERROR_SUCCESS);
  // LocalUnlock answers FALSE with no error once the lock count is back at 0.
  read.unlockedAfter = !LocalUnlock(block) && GetLastError() == NO_ERROR;
  return read;
}

void ExpectHostBlocks(HLOCAL info, HLOCAL bits, int width, int height) {
  const LockedRead header = ReadLocked(info);
  EXPECT_EQ(header.size, 40u);
  EXPECT_EQ(header.lockCountBefore, 0u) << "header block handed over locked";
  EXPECT_TRUE(header.unlockedAfter);
  ASSERT_EQ(header.bytes.size(), 40u);
  BITMAPINFOHEADER fields;
  std::memcpy(&fields, header.bytes.data(), sizeof fields);
  EXPECT_EQ(fields.biSize, 40u);
  EXPECT_EQ(fields.biWidth, width);
  EXPECT_EQ(fields.biHeight, height);
  EXPECT_EQ(fields.biPlanes, 1);
  EXPECT_EQ(fields.biBitCount, 24);
  EXPECT_EQ(fields.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(fields.biClrUsed, 0u);

  const LockedRead pixels = ReadLocked(bits);
  const SIZE_T stride = BitmapStride(width);
  EXPECT_EQ(pixels.size, stride * height);
  EXPECT_EQ(pixels.lockCountBefore, 0u) << "bits block handed over locked";
  EXPECT_TRUE(pixels.unlockedAfter);
}

TEST_F(RealHost, BlocksAreUnlockedAndExactlyAsLargeAsTheBitmap) {
  // Widths with 0, 3, 2 and 1 padding bytes per row; the last has no preview.
  const struct {
    int width, height;
    bool hasPreview;
  } cases[] = {{4, 2, true}, {5, 3, true}, {33, 7, true}, {1, 1, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    Bytes document = MakePreview(c.width, c.height).document;
    if (!c.hasPreview) document.resize(20);  // the header alone: the 1 x 1 picture
    test::HostBitmap bitmap;
    ASSERT_EQ(module.GetPicture(AsBuf(document), static_cast<SusieLen>(document.size()), 1, &bitmap.info,
                                &bitmap.bits, nullptr, 0),
              0);
    ExpectHostBlocks(bitmap.info, bitmap.bits, c.width, c.height);
  }
}
#endif

// ------------------------------------------- the module goes before the picture

bool ModuleIsMapped() {
#ifdef _WIN32
  return GetModuleHandleA(ZVK_MODULE_FILE) != nullptr;
#else
  void* handle = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
#endif
}

// A viewer may unload its plug-ins while it still shows their pictures: the
// blocks belong to the host's process, not to the module.
TEST(RealHostUnload, BlocksOutliveTheModule) {
  const Preview preview = MakePreview(9, 4);
  Bytes sample;
  ASSERT_TRUE(test::ReadFileBytes(kSample, sample));
  test::HostBitmap small, large;
  {
    host::PluginModule module;
    ASSERT_TRUE(module.Load(ModulePath())) << module.Error();
    ASSERT_EQ(module.GetPicture(AsBuf(preview.document), static_cast<SusieLen>(preview.document.size()), 1,
                                &small.info, &small.bits, nullptr, 0),
              0);
    ASSERT_EQ(module.GetPicture(const_cast<char*>(kSample.c_str()), 0, 0, &large.info, &large.bits, RecordingCallback,
                                kHostData),
              0);
    module.Unload();
  }
  ASSERT_FALSE(ModuleIsMapped()) << "the module is still loaded";

  ExpectPicture(small, preview);
  EXPECT_EQ(large.Width(), 256);
  EXPECT_EQ(large.Height(), 256);
#ifdef _WIN32
  ExpectHostBlocks(small.info, small.bits, 9, 4);
  ExpectHostBlocks(large.info, large.bits, 256, 256);
  for (HLOCAL* block : {&small.info, &small.bits, &large.info, &large.bits}) {
    EXPECT_EQ(LocalFree(*block), nullptr) << "LocalFree failed";
    *block = nullptr;
  }
#endif
}

}  // namespace
