// The Windows module's file as a viewer's loader sees it: a DLL for the
// build's machine (PE32 for i386, PE32+ for x86-64) with exactly the five
// undecorated exports, importing system DLLs only.
#include <gtest/gtest.h>

#ifdef _WIN32

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "tools/host/PluginModule.h"

namespace {

using ifzvk::test::Bytes;

class PeFile {
 public:
  explicit PeFile(Bytes bytes) : bytes_(std::move(bytes)) {}

  std::uint32_t U16(std::size_t at) const { return Fits(at, 2) ? bytes_[at] | bytes_[at + 1] << 8 : 0; }
  std::uint32_t U32(std::size_t at) const {
    return Fits(at, 4) ? static_cast<std::uint32_t>(bytes_[at] | bytes_[at + 1] << 8 | bytes_[at + 2] << 16) |
                             static_cast<std::uint32_t>(bytes_[at + 3]) << 24
                       : 0;
  }
  std::size_t Header() const { return U32(0x3C); }
  std::size_t OptionalHeader() const { return Header() + 24; }
  bool IsPe32Plus() const { return U16(OptionalHeader()) == 0x20B; }
  // The data directories follow the optional header's fixed part, which is
  // 16 bytes longer in PE32+ (64-bit image base and stack and heap sizes).
  std::uint32_t Directory(int index) const {
    return U32(OptionalHeader() + (IsPe32Plus() ? 112 : 96) + 8 * index);
  }

  // File offset of a relative virtual address, through the section table.
  std::size_t Offset(std::uint32_t rva) const {
    const std::size_t sections = OptionalHeader() + U16(Header() + 20);
    for (std::uint32_t i = 0; i < U16(Header() + 6); ++i) {
      const std::size_t entry = sections + 40 * i;
      const std::uint32_t start = U32(entry + 12), size = std::max(U32(entry + 8), U32(entry + 16));
      if (rva >= start && rva - start < size) return U32(entry + 20) + (rva - start);
    }
    return bytes_.size();
  }
  std::string Text(std::uint32_t rva) const {
    std::string text;
    for (std::size_t at = Offset(rva); at < bytes_.size() && bytes_[at] != 0; ++at) text += static_cast<char>(bytes_[at]);
    return text;
  }

 private:
  bool Fits(std::size_t at, std::size_t count) const { return at <= bytes_.size() && count <= bytes_.size() - at; }
  Bytes bytes_;
};

PeFile LoadModuleFile() {
  Bytes bytes;
  EXPECT_TRUE(ifzvk::test::ReadFileBytes(ifzvk::host::ExecutableDirectory() + ZVK_MODULE_FILE, bytes));
  return PeFile(std::move(bytes));
}

TEST(ModuleFile, IsADllForTheBuildsMachine) {
  const PeFile pe = LoadModuleFile();
  EXPECT_EQ(pe.U16(0), 0x5A4Du) << "MZ";
  EXPECT_EQ(pe.U32(pe.Header()), 0x00004550u) << "PE signature";
  EXPECT_NE(pe.U16(pe.Header() + 22) & 0x2000, 0u) << "IMAGE_FILE_DLL";
#ifdef _WIN64
  EXPECT_EQ(pe.U16(pe.Header() + 4), 0x8664u) << "x86-64";
  EXPECT_EQ(pe.U16(pe.OptionalHeader()), 0x20Bu) << "PE32+ optional header";
#else
  EXPECT_EQ(pe.U16(pe.Header() + 4), 0x14Cu) << "i386";
  EXPECT_EQ(pe.U16(pe.OptionalHeader()), 0x10Bu) << "PE32 optional header";
#endif
}

TEST(ModuleFile, ExportsExactlyTheFiveUndecoratedNames) {
  const PeFile pe = LoadModuleFile();
  const std::size_t exports = pe.Offset(pe.Directory(0));
  const std::uint32_t count = pe.U32(exports + 24);
  const std::size_t names = pe.Offset(pe.U32(exports + 32));
  std::set<std::string> found;
  for (std::uint32_t i = 0; i < count; ++i) found.insert(pe.Text(pe.U32(names + 4 * i)));
  EXPECT_EQ(pe.U32(exports + 20), 5u) << "address table entries";
  EXPECT_EQ(found, (std::set<std::string>{"GetPicture", "GetPictureInfo", "GetPluginInfo", "GetPreview", "IsSupported"}));
}

TEST(ModuleFile, ImportsSystemDllsOnly) {
  const PeFile pe = LoadModuleFile();
  const std::set<std::string> system = {"kernel32.dll", "msvcrt.dll", "ntdll.dll", "user32.dll", "advapi32.dll"};
  std::size_t descriptor = pe.Offset(pe.Directory(1));
  std::vector<std::string> imported;
  for (; pe.U32(descriptor + 12) != 0; descriptor += 20) {
    std::string name = pe.Text(pe.U32(descriptor + 12));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    imported.push_back(name);
    EXPECT_TRUE(system.count(name) == 1) << "imports " << name;
  }
  EXPECT_FALSE(imported.empty());
}

}  // namespace

#endif  // _WIN32
