// The module's version resource, read back the way the file's properties
// dialog reads it: GetFileVersionInfo and VerQueryValue.
#include <gtest/gtest.h>

#ifdef _WIN32

#include <cstdio>
#include <string>
#include <vector>

#include "tools/host/PluginModule.h"

namespace {

using ifzvk::host::PluginModule;

std::string ModulePath() { return ifzvk::host::ExecutableDirectory() + ZVK_MODULE_FILE; }

class VersionResource : public testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(ModulePath().c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource in " << ModulePath();
    data.resize(size);
    ASSERT_TRUE(GetFileVersionInfoA(ModulePath().c_str(), 0, size, data.data()));
  }

  // A string value of the resource's first translation, as Explorer picks it.
  std::string Value(const std::string& name) {
    struct Translation {
      WORD language, codePage;
    }* translations = nullptr;
    UINT bytes = 0;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &bytes) ||
        bytes < sizeof(Translation))
      return "(no translation)";
    char path[64];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\", translations[0].language, translations[0].codePage);
    char* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), (path + name).c_str(), reinterpret_cast<void**>(&text), &length))
      return "(missing)";
    return std::string(text);
  }

  std::vector<char> data;
};

TEST_F(VersionResource, NamesTheProductAsThePluginListDoes) {
  PluginModule module;
  ASSERT_TRUE(module.Load(ModulePath())) << module.Error();
  char name[64];
  ASSERT_GT(module.GetPluginInfo(1, name, sizeof name), 0);

  const std::string bits = sizeof(void*) == 8 ? "64-bit" : "32-bit";
  const struct {
    const char* key;
    std::string expected;
  } cases[] = {
      {"ProductName", name},  // "zorvik plugin 1.01"
      {"ProductVersion", "1.01"},
      {"FileVersion", "1.01"},
      {"OriginalFilename", ZVK_MODULE_FILE},
      {"InternalName", "ifzvk"},
      {"FileDescription",
       "Susie image plug-in (" + bits + "): shows the preview picture of zorvik documents (*.zvk)"},
  };
  for (const auto& c : cases) EXPECT_EQ(Value(c.key), c.expected) << c.key;
}

TEST_F(VersionResource, FixedPartSaysVersionOnePointOneOfADll) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT bytes = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &bytes));
  ASSERT_GE(bytes, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u) << "1.1";
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug, pre-release or patched flag";
}

}  // namespace

#endif  // _WIN32
