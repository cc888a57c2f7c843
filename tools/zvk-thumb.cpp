// zvk-thumb: renders a zorvik document's preview through the plug-in module,
// loaded at run time as a viewer loads it, and writes it as a .bmp file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tools/host/PluginModule.h"

namespace {

using namespace ifzvk;

// Exit codes, one per outcome.
enum Exit : int {
  kWritten = 0,
  kUsage = 1,
  kNoModule = 2,
  kNotADocument = 3,
  kCannotRead = 4,
  kPluginFailed = 5,
  kCannotWrite = 6,
};

const char kUsageText[] =
    "usage: zvk-thumb [--module PATH] [--offset N] [--quiet] INPUT.zvk OUTPUT.bmp\n"
    "Renders the preview picture of a zorvik document through the plug-in module\n"
    "and writes it as a 24-bit BMP file.\n"
    "  --module PATH  the plug-in module to load (default: %s beside this program)\n"
    "  --offset N     the document starts N bytes into INPUT (default 0)\n"
    "  --quiet        print nothing on success\n"
    "Exit codes: 0 written, 1 usage, 2 module cannot be loaded, 3 not a zorvik\n"
    "document, 4 input cannot be read, 5 the plug-in failed, 6 output cannot be written.\n";

struct Options {
  std::string module;
  std::string input;
  std::string output;
  unsigned long offset = 0;
  bool quiet = false;
};

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "zvk-thumb: %s\n", message.c_str());
  return code;
}

bool ParseOffset(const char* text, unsigned long& offset) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  offset = std::strtoul(text, &end, 10);
  return errno == 0 && *end == '\0' && offset <= 0xFFFFFFFFul;
}

// Returns -1 when the options are complete, else the exit code.
int ParseOptions(int argc, char** argv, Options& options) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf(kUsageText, host::DefaultModuleName());
      return kWritten;
    } else if (arg == "--module" && i + 1 < argc) {
      options.module = argv[++i];
    } else if (arg == "--offset") {
      if (!ParseOffset(i + 1 < argc ? argv[++i] : nullptr, options.offset))
        return Fail(kUsage, "--offset needs a whole number of bytes");
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Fail(kUsage, "unknown option " + arg + " (see --help)");
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) return Fail(kUsage, "expected INPUT and OUTPUT (see --help)");
  options.input = files[0];
  options.output = files[1];
  if (options.module.empty()) options.module = host::ExecutableDirectory() + host::DefaultModuleName();
  return -1;
}

// As viewers do: the first 2 KiB of the document, zero-padded, by address.
int CheckSupported(const host::PluginModule& module, const Options& options) {
  std::ifstream in(options.input, std::ios::binary);
  if (!in) return Fail(kCannotRead, "cannot read " + options.input);
  std::vector<char> head(2048, 0);
  in.seekg(static_cast<std::streamoff>(options.offset));
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  if (in.bad()) return Fail(kCannotRead, "cannot read " + options.input);
  std::string name = options.input;
  if (module.IsSupported(&name[0], reinterpret_cast<SusieHandleOrAddress>(head.data())) == 0)
    return Fail(kNotADocument, "not a zorvik document: " + options.input);
  return -1;
}

// Counts the plug-in's progress reports; the tool never asks it to stop.
int WINAPI Progress(int /*nNum*/, int /*nDenom*/, SusieData lData) {
  ++*reinterpret_cast<int*>(lData);
  return 0;
}

struct Blocks {
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  ~Blocks() {
    host::FreeBlock(info);
    host::FreeBlock(bits);
  }
};

void PutLE(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A .bmp file is a 14-byte file header, then the two blocks as they stand.
bool WriteBmpFile(const std::string& path, const BITMAPINFOHEADER& header, const unsigned char* bits,
                  std::size_t bitsBytes) {
  std::vector<unsigned char> fileHeader;
  PutLE(fileHeader, 0x4D42, 2);  // "BM"
  PutLE(fileHeader, static_cast<std::uint32_t>(14 + sizeof header + bitsBytes), 4);
  PutLE(fileHeader, 0, 4);
  PutLE(fileHeader, static_cast<std::uint32_t>(14 + sizeof header), 4);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(fileHeader.data()), static_cast<std::streamsize>(fileHeader.size()));
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(bits), static_cast<std::streamsize>(bitsBytes));
  out.close();
  return static_cast<bool>(out);
}

int Render(const host::PluginModule& module, const Options& options) {
  std::string name = options.input;
  Blocks blocks;
  int progressCalls = 0;
  const int result = module.GetPicture(&name[0], static_cast<SusieLen>(options.offset), 0, &blocks.info,
                                       &blocks.bits, Progress, reinterpret_cast<SusieData>(&progressCalls));
  switch (result) {
    case 0:
      break;
    case 2:
      return Fail(kNotADocument, "not a zorvik document: " + options.input);
    case 6:
      return Fail(kCannotRead, "cannot read " + options.input);
    default:
      return Fail(kPluginFailed, "the plug-in failed with code " + std::to_string(result) + " on " + options.input);
  }
  BITMAPINFOHEADER header;
  std::memcpy(&header, host::LockBlock(blocks.info), sizeof header);
  host::UnlockBlock(blocks.info);
  const std::size_t stride = (3 * static_cast<std::size_t>(header.biWidth) + 3) & ~std::size_t{3};
  const std::size_t bitsBytes = stride * static_cast<std::size_t>(header.biHeight);
  const bool written = WriteBmpFile(options.output, header, static_cast<const unsigned char*>(host::LockBlock(blocks.bits)),
                                    bitsBytes);
  host::UnlockBlock(blocks.bits);
  if (!written) return Fail(kCannotWrite, "cannot write " + options.output);
  if (!options.quiet)
    std::printf("wrote %s (%ld x %ld)\n", options.output.c_str(), static_cast<long>(header.biWidth),
                static_cast<long>(header.biHeight));
  return kWritten;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int parsed = ParseOptions(argc, argv, options);
  if (parsed >= 0) return parsed;
  host::PluginModule module;
  if (!module.Load(options.module))
    return Fail(kNoModule, "cannot load the plug-in module " + options.module + ": " + module.Error());
  const int supported = CheckSupported(module, options);
  if (supported >= 0) return supported;
  return Render(module, options);
}
