// The built module, loaded at run time and called through pointers of the
// interface's own types, as a viewer calls it.
#include <gtest/gtest.h>

#include <cstring>
#include <cstdint>
#include <string>
#include <vector>

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

// Many calls in a row through the interface's own pointer types, mixed with
// host-side work, must leave the host's state intact.
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

#if defined(_WIN32) && defined(__i386__)
// Calls block[0] with the block[1..count] as its arguments, pushed by hand,
// and reports whether the stack pointer afterwards is where it was before:
// only then did the function remove exactly its own arguments.
std::uintptr_t CallWithStackCheck(const std::uintptr_t* block, unsigned count, bool* balanced) {
  std::uintptr_t result, before, after;
  unsigned left = count;
  __asm__ volatile(
      "mov %%esp, %%esi\n\t"
      "1:\n\t"
      "pushl (%%ebx,%%ecx,4)\n\t"
      "dec %%ecx\n\t"
      "jnz 1b\n\t"
      "call *(%%ebx)\n\t"
      "mov %%esp, %%edi\n\t"
      "mov %%esi, %%esp\n\t"
      : "=a"(result), "=&S"(before), "=&D"(after), "+c"(left)
      : "b"(block)
      : "edx", "memory", "cc");
  *balanced = before == after;
  return result;
}

TEST_F(Module, EveryExportRemovesItsOwnArguments) {
  const auto address = [](auto function) { return reinterpret_cast<std::uintptr_t>(function); };
  Bytes document = MinimalDocument();
  document.resize(2048, 0);
  const auto data = address(document.data());
  char info[16];
  PictureInfo picture;
  HLOCAL header = nullptr, bits = nullptr;
  const struct {
    const char* name;
    std::vector<std::uintptr_t> block;  // the function, then its arguments
    std::uintptr_t expected;
  } calls[] = {
      {"GetPluginInfo", {address(module.GetPluginInfo), 0, address(info), sizeof info}, 4},
      {"IsSupported", {address(module.IsSupported), 0, data}, 1},
      {"GetPictureInfo", {address(module.GetPictureInfo), data, 20, 1, address(&picture)}, 0},
      {"GetPicture", {address(module.GetPicture), data, 20, 1, address(&header), address(&bits), 0, 0}, 0},
      {"GetPreview", {address(module.GetPreview), data, 20, 1, address(&header), address(&bits), 0, 0}, 0},
  };
  for (const auto& call : calls) {
    bool balanced = false;
    EXPECT_EQ(CallWithStackCheck(call.block.data(), static_cast<unsigned>(call.block.size() - 1), &balanced),
              call.expected)
        << call.name;
    EXPECT_TRUE(balanced) << call.name << " left the stack unbalanced";
    host::FreeBlock(header);
    host::FreeBlock(bits);
    header = bits = nullptr;
  }
}
#endif

}  // namespace
