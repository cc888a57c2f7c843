// The bundled sample document through the built module, in every input mode:
// the host receives exactly the preview the document stores, and natively
// exactly the scene it was made from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/StoredPreview.h"
#include "support/TestSupport.h"
#include "tools/host/PluginModule.h"
#ifndef _WIN32
#include "tools/make/Picture.h"
#endif

namespace {

using namespace ifzvk;
using ifzvk::test::Bytes;

const std::string kSample = std::string(ZVK_SOURCE_DIR) + "/examples/sample.zvk";
constexpr int kSide = 256;

// Checks the two blocks against the preview, pixel for pixel, rows bottom-up.
void ExpectBitmapOf(const test::HostBitmap& bitmap, const std::vector<std::uint32_t>& pixels) {
  ASSERT_EQ(bitmap.Width(), kSide);
  ASSERT_EQ(bitmap.Height(), kSide);
  const std::size_t stride = 3 * kSide;
  const Bytes bits = bitmap.BitsBytes(stride * kSide);
  int mismatches = 0;
  for (int y = 0; y < kSide; ++y) {
    const unsigned char* row = bits.data() + static_cast<std::size_t>(kSide - 1 - y) * stride;
    for (int x = 0; x < kSide; ++x) {
      const std::uint32_t pixel = pixels[static_cast<std::size_t>(y) * kSide + x];
      const unsigned char* out = row + 3 * x;
      if (out[0] != (pixel & 0xFF) || out[1] != ((pixel >> 8) & 0xFF) || out[2] != ((pixel >> 16) & 0xFF)) ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

class Sample : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(module.Load(host::ExecutableDirectory() + ZVK_MODULE_FILE)) << module.Error();
    ASSERT_TRUE(test::ReadFileBytes(kSample, document)) << kSample;
    preview = test::StoredPreview(document, kSide);
  }
  host::PluginModule module;
  Bytes document;
  std::vector<std::uint32_t> preview;
};

TEST_F(Sample, FileModeGivesTheStoredPreview) {
  test::ScopedWorkDir dir;
  const std::size_t offset = 1001;  // odd, so nothing downstream can lean on alignment
  Bytes prefixed(offset + document.size(), 0x5A);
  std::copy(document.begin(), document.end(), prefixed.begin() + offset);
  test::WriteFileBytes("sample-at-offset.zvk", prefixed);
  test::WriteFileBytes("sample.zvk", document);

  const struct {
    char* file;
    std::size_t offset;
  } cases[] = {{const_cast<char*>("sample.zvk"), 0}, {const_cast<char*>("sample-at-offset.zvk"), offset}};
  for (const auto& c : cases) {
    test::HostBitmap bitmap;
    ASSERT_EQ(module.GetPicture(c.file, static_cast<SusieLen>(c.offset), 0, &bitmap.info, &bitmap.bits, nullptr, 0), 0);
    ExpectBitmapOf(bitmap, preview);
  }
  EXPECT_EQ(dir.Entries().size(), 2u) << "no temporary file is left behind";
}

TEST_F(Sample, MemoryModeGivesTheStoredPreview) {
  test::ScopedWorkDir dir;
  for (SusieFlag flag : {1u, 7u}) {
    test::HostBitmap bitmap;
    ASSERT_EQ(module.GetPreview(reinterpret_cast<LPSTR>(document.data()), static_cast<SusieLen>(document.size()), flag,
                                &bitmap.info, &bitmap.bits, nullptr, 0),
              0);
    ExpectBitmapOf(bitmap, preview);
  }
  EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(Sample, IsRecognisedAndReportsTheFixedInformation) {
  Bytes head(document.begin(), document.begin() + 2048);
  EXPECT_EQ(module.IsSupported(nullptr, reinterpret_cast<SusieHandleOrAddress>(head.data())), 1);
  PictureInfo info{};
  EXPECT_EQ(module.GetPictureInfo(const_cast<char*>(kSample.c_str()), 0, 0, &info), 0);
  EXPECT_EQ(info.width, 1);
  EXPECT_EQ(info.colorDepth, 24);
}

#ifndef _WIN32
// The scene renderer's floating point differs between toolchains, so the
// comparison with the scene itself runs on the build that made the sample.
TEST_F(Sample, IsTheSceneItWasMadeFrom) {
  const make::Picture scene = make::RenderScene(kSide);
  ASSERT_EQ(scene.pixels.size(), preview.size());
  int mismatches = 0;
  for (std::size_t i = 0; i < preview.size(); ++i) mismatches += (scene.pixels[i] & 0xFFFFFF) != (preview[i] & 0xFFFFFF);
  EXPECT_EQ(mismatches, 0);
}
#endif

}  // namespace
