// The built module, loaded at run time and called through pointers of the
// interface's own types, as a viewer calls it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/TestSupport.h"
#include "tools/host/PluginModule.h"

namespace {

using namespace ifzvk;
using ifzvk::test::Bytes;

std::string ModulePath() { return host::ExecutableDirectory() + ZVK_MODULE_FILE; }

Bytes MinimalDocument() {
  Bytes bytes = test::BytesOf("zorvixa");
  bytes.resize(20, 0);
  return bytes;
}

class Module : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module.Load(ModulePath())) << ModulePath() << ": " << module.Error(); }
  host::PluginModule module;
};

TEST_F(Module, AnswersLikeTheLibrary) {
  char info[64];
  EXPECT_EQ(module.GetPluginInfo(0, info, sizeof info), 4);
  EXPECT_STREQ(info, "00IN");
  EXPECT_EQ(module.GetPluginInfo(3, info, sizeof info), 14);
  EXPECT_STREQ(info, "zorvik (*.zvk)");
  EXPECT_EQ(module.GetPluginInfo(4, info, sizeof info), 0);

  Bytes document = MinimalDocument();
  document.resize(2048, 0);
  EXPECT_EQ(module.IsSupported(nullptr, reinterpret_cast<SusieHandleOrAddress>(document.data())), 1);

  PictureInfo picture{};
  EXPECT_EQ(module.GetPictureInfo(reinterpret_cast<LPSTR>(document.data()), 20, 1, &picture), 0);
  EXPECT_EQ(picture.colorDepth, 24);
}

TEST_F(Module, GivesTheFallbackPictureInBothModes) {
  test::ScopedWorkDir dir;
  const Bytes document = MinimalDocument();
  test::WriteFileBytes("doc.zvk", document);
  char name[] = "doc.zvk";
  for (SusieFlag flag : {0u, 1u}) {
    test::HostBitmap bitmap;
    LPSTR buf = flag == 0 ? name : reinterpret_cast<LPSTR>(const_cast<unsigned char*>(document.data()));
    const auto len = static_cast<SusieLen>(flag == 0 ? 0 : document.size());
    ASSERT_EQ(module.GetPicture(buf, len, flag, &bitmap.info, &bitmap.bits, nullptr, 0), 0);
    EXPECT_EQ(bitmap.Width(), 1);
    EXPECT_EQ(bitmap.Height(), 1);
    EXPECT_EQ(bitmap.BitsBytes(4), (Bytes{0, 0, 0, 0}));
  }
  EXPECT_TRUE(dir.Entries().size() == 1) << "nothing but the document is left behind";
}

int WINAPI CountingCallback(int /*nNum*/, int /*nDenom*/, SusieData lData) {
  ++*reinterpret_cast<int*>(lData);
  return 0;
}

// A wrong calling convention leaves the stack 12 to 28 bytes off on every
// call: thousands of calls in a row cannot survive that.
TEST_F(Module, SurvivesManyCallsThroughTheInterfaceTypes) {
  Bytes document = MinimalDocument();
  document.resize(2048, 0);
  char info[8];
  int total = 0;
  int callbacks = 0;
  for (int i = 0; i < 20000; ++i) {
    total += module.GetPluginInfo(i & 3, info, sizeof info);
    total += module.IsSupported(nullptr, reinterpret_cast<SusieHandleOrAddress>(document.data()));
    PictureInfo picture;
    total += module.GetPictureInfo(reinterpret_cast<LPSTR>(document.data()), 20, 1, &picture);
  }
  for (int i = 0; i < 2000; ++i) {
    test::HostBitmap bitmap;
    total += module.GetPreview(reinterpret_cast<LPSTR>(document.data()), 20, 1, &bitmap.info, &bitmap.bits,
                               CountingCallback, reinterpret_cast<SusieData>(&callbacks));
  }
  const int infoLengths = 5000 * (4 + 7 + 5 + 7);  // strings cut to 7 characters
  EXPECT_EQ(total, infoLengths + 20000);
  EXPECT_EQ(callbacks, 4000);
}

}  // namespace
