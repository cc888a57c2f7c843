// pe-check: a Windows DLL of the project as the loader sees it, read on the
// build machine itself, so that it is checked even where it cannot be run: a
// DLL for the build's machine (PE32 for i386, PE32+ for x86-64) with exactly
// the undecorated exports of its kind, importing system DLLs only, and a
// version resource with the values the README promises. The kind follows from
// the file name: ifzvk-thumbnail.dll is the Explorer thumbnail handler (the
// four COM server calls), any other name the Susie module (the five plug-in
// calls).
//   pe-check FILE i386|x86-64 VERSION BITS
// Exit 0 when every check holds; otherwise each failed check is printed.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

class PeFile {
 public:
  explicit PeFile(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

  std::uint32_t U16(std::size_t at) const { return Fits(at, 2) ? bytes_[at] | bytes_[at + 1] << 8 : 0; }
  std::uint32_t U32(std::size_t at) const { return U16(at) | U16(at + 2) << 16; }
  std::size_t Header() const { return U32(0x3C); }
  std::size_t OptionalHeader() const { return Header() + 24; }
  bool IsPe32Plus() const { return U16(OptionalHeader()) == 0x20B; }
  // The data directories follow the optional header's fixed part, which is
  // 16 bytes longer in PE32+ (64-bit image base and stack and heap sizes).
  std::uint32_t Directory(int index) const { return U32(OptionalHeader() + (IsPe32Plus() ? 112 : 96) + 8 * index); }

  // File offset of a relative virtual address, through the section table;
  // past the end of the file when no section holds it.
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
  // A NUL-terminated UTF-16 text of ASCII characters at a file offset; its
  // length in bytes, terminator included, goes to `bytes`.
  std::string Utf16(std::size_t at, std::size_t& bytes) const {
    std::string text;
    std::size_t i = at;
    for (; Fits(i, 2) && U16(i) != 0; i += 2) text += static_cast<char>(U16(i) & 0x7F);
    bytes = i + 2 - at;
    return text;
  }
  std::size_t Size() const { return bytes_.size(); }

 private:
  bool Fits(std::size_t at, std::size_t count) const { return at <= bytes_.size() && count <= bytes_.size() - at; }
  std::vector<unsigned char> bytes_;
};

int failures = 0;

void Expect(bool holds, const std::string& what) {
  if (holds) return;
  std::fprintf(stderr, "pe-check: %s\n", what.c_str());
  ++failures;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

void CheckHeaders(const PeFile& pe, const std::string& machine) {
  const bool x64 = machine == "x86-64";
  Expect(pe.U16(0) == 0x5A4D, "no MZ header");
  Expect(pe.U32(pe.Header()) == 0x00004550, "no PE signature");
  Expect((pe.U16(pe.Header() + 22) & 0x2000) != 0, "not a DLL (IMAGE_FILE_DLL clear)");
  Expect(pe.U16(pe.Header() + 4) == (x64 ? 0x8664u : 0x14Cu), "machine " + Hex(pe.U16(pe.Header() + 4)) + ", not " + machine);
  Expect(pe.U16(pe.OptionalHeader()) == (x64 ? 0x20Bu : 0x10Bu),
         std::string("optional header is not ") + (x64 ? "PE32+" : "PE32"));
}

// What a DLL of one kind must export, import and say in its version resource.
struct Kind {
  std::set<std::string> exports;
  std::set<std::string> imports;
  std::string internalName;
  std::string description;  // FileDescription, before " (BITS-bit): ..."
};

Kind KindOf(const std::string& name) {
  if (name != "ifzvk-thumbnail.dll")
    return {{"GetPicture", "GetPictureInfo", "GetPluginInfo", "GetPreview", "IsSupported"},
            {"kernel32.dll", "msvcrt.dll", "ntdll.dll", "user32.dll", "advapi32.dll"},
            "ifzvk",
            "Susie image plug-in"};
  // The registry (advapi32), the thumbnail's bitmap (gdi32) and Explorer's
  // notice that file associations changed (shell32).
  return {{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"},
          {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "gdi32.dll", "shell32.dll"},
          "ifzvk-thumbnail",
          "Explorer thumbnail handler"};
}

void CheckExports(const PeFile& pe, const Kind& kind) {
  const std::size_t exports = pe.Offset(pe.Directory(0));
  const std::uint32_t count = pe.U32(exports + 24);
  const std::size_t names = pe.Offset(pe.U32(exports + 32));
  std::set<std::string> found;
  for (std::uint32_t i = 0; i < count && i < 64; ++i) found.insert(pe.Text(pe.U32(names + 4 * i)));
  std::string listing, expected;
  for (const auto& name : found) listing += " " + name;
  for (const auto& name : kind.exports) expected += " " + name;
  Expect(pe.U32(exports + 20) == kind.exports.size(), "the export address table has " +
                                                          std::to_string(pe.U32(exports + 20)) + " entries, not " +
                                                          std::to_string(kind.exports.size()));
  Expect(found == kind.exports, "exports" + listing + "; expected exactly" + expected + ", undecorated");
}

void CheckImports(const PeFile& pe, const Kind& kind) {
  int imported = 0;
  for (std::size_t descriptor = pe.Offset(pe.Directory(1)); pe.U32(descriptor + 12) != 0 && imported < 64;
       descriptor += 20, ++imported) {
    std::string name = pe.Text(pe.U32(descriptor + 12));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    Expect(kind.imports.count(name) == 1, "imports " + name + ", which is not one of the system DLLs it may import");
  }
  Expect(imported > 0, "no import table");
}

// The version resource is a tree of blocks: 16-bit length, value length and
// type, a UTF-16 key, padding to 4 bytes, the value, then the children. The
// resource directory is searched for type 16 (RT_VERSION), first entry at
// each of the three levels.
std::size_t VersionResource(const PeFile& pe, std::size_t& size) {
  const std::uint32_t root = pe.Directory(2);
  const std::size_t base = pe.Offset(root);
  std::size_t directory = base;
  bool typeLevel = true;
  for (int level = 0; level < 3; ++level) {
    const std::uint32_t entries = pe.U16(directory + 12) + pe.U16(directory + 14);
    std::uint32_t target = 0;
    for (std::uint32_t i = 0; i < entries && i < 256; ++i) {
      const std::size_t entry = directory + 16 + 8 * i;
      if (!typeLevel || pe.U32(entry) == 16) {
        target = pe.U32(entry + 4);
        break;
      }
    }
    if (target == 0) return 0;
    typeLevel = false;
    if (level < 2) {
      if ((target & 0x80000000u) == 0) return 0;
      directory = base + (target & 0x7FFFFFFFu);
    } else {
      size = pe.U32(base + target + 4);
      return pe.Offset(pe.U32(base + target));
    }
  }
  return 0;
}

struct VersionInfo {
  std::map<std::string, std::string> strings;
  std::uint32_t signature = 0, fileVersionMs = 0, fileVersionLs = 0, fileType = 0, flags = 0;
};

std::size_t Align4(std::size_t at) { return (at + 3) & ~std::size_t{3}; }

// Walks one block and its children, collecting the String blocks (type 1,
// text values) of StringFileInfo and the fixed part of the root.
void ReadBlock(const PeFile& pe, std::size_t at, std::size_t end, int depth, VersionInfo& info) {
  const std::size_t length = pe.U16(at), valueLength = pe.U16(at + 2), type = pe.U16(at + 4);
  if (length < 6 || at + length > end || depth > 4) return;
  std::size_t keyBytes = 0;
  const std::string key = pe.Utf16(at + 6, keyBytes);
  const std::size_t value = Align4(at + 6 + keyBytes);
  std::size_t children = value;
  if (depth == 0) {
    info.signature = pe.U32(value);
    info.fileVersionMs = pe.U32(value + 8);
    info.fileVersionLs = pe.U32(value + 12);
    info.flags = pe.U32(value + 24) & pe.U32(value + 28);
    info.fileType = pe.U32(value + 36);
    children = Align4(value + valueLength);
  } else if (type == 1 && depth == 3) {
    std::size_t ignored = 0;
    info.strings[key] = pe.Utf16(value, ignored);
    return;
  }
  for (std::size_t child = children; child + 6 <= at + length;) {
    const std::size_t childLength = pe.U16(child);
    if (childLength == 0) break;
    ReadBlock(pe, child, at + length, depth + 1, info);
    child = Align4(child + childLength);
  }
}

void CheckVersion(const PeFile& pe, const Kind& kind, const std::string& name, const std::string& version,
                  const std::string& bits) {
  std::size_t size = 0;
  const std::size_t start = VersionResource(pe, size);
  Expect(start != 0 && start + size <= pe.Size(), "no version resource");
  if (start == 0 || start + size > pe.Size()) return;
  VersionInfo info;
  ReadBlock(pe, start, start + size, 0, info);

  Expect(info.signature == 0xFEEF04BDu, "the version resource has no fixed part");
  const std::size_t dot = version.find('.');
  const std::uint32_t major = std::stoul(version.substr(0, dot)), minor = std::stoul(version.substr(dot + 1));
  Expect(info.fileVersionMs == (major << 16 | minor) && info.fileVersionLs == 0, "file version is not " + version);
  Expect(info.fileType == 2, "file type is not VFT_DLL");
  Expect(info.flags == 0, "a debug, pre-release or patched flag is set");

  const std::map<std::string, std::string> expected = {
      {"ProductName", "zorvik plugin " + version},
      {"ProductVersion", version},
      {"FileVersion", version},
      {"OriginalFilename", name},
      {"InternalName", kind.internalName},
      {"FileDescription", kind.description + " (" + bits + "-bit): shows the preview picture of zorvik documents (*.zvk)"},
  };
  for (const auto& [key, value] : expected) {
    const auto found = info.strings.find(key);
    Expect(found != info.strings.end() && found->second == value,
           key + " is \"" + (found == info.strings.end() ? std::string("(missing)") : found->second) + "\", not \"" +
               value + "\"");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: pe-check FILE i386|x86-64 VERSION BITS\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "pe-check: cannot read %s\n", argv[1]);
    return 1;
  }
  const PeFile pe(std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {}));
  const std::string path = argv[1], name = path.substr(path.find_last_of("/\\") + 1);
  const Kind kind = KindOf(name);
  CheckHeaders(pe, argv[2]);
  CheckExports(pe, kind);
  CheckImports(pe, kind);
  CheckVersion(pe, kind, name, argv[3], argv[4]);
  if (failures == 0)
    std::printf("pe-check: %s: %s %s DLL, %zu exports, system imports, version %s\n", argv[1], kind.description.c_str(),
                argv[2], kind.exports.size(), argv[3]);
  return failures == 0 ? 0 : 1;
}
