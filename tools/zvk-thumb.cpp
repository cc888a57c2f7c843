// zvk-thumb: renders zorvik documents' preview pictures through the plug-in
// module, loaded at run time as a viewer loads it, and writes them as PNG or
// BMP files, optionally shrunk to thumbnails; or reports what the module
// answers about them (--info). Also the desktop thumbnailer's command.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "document/Limits.h"
#include "document/thumbnail.h"
#include "image/Scale.h"
#include "plugin/dib.h"
#include "tools/host/Cli.h"
#include "tools/host/Files.h"
#include "tools/host/Paths.h"
#include "tools/host/PluginModule.h"
#include "tools/host/WorkDir.h"
#include "tools/image_io/Bmp.h"
#include "tools/image_io/Png.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

// Where an installed module lives, relative to the installed tool ("." when
// beside it); set by the build from the install layout.
#ifndef ZVK_MODULE_RELDIR
#define ZVK_MODULE_RELDIR "."
#endif

namespace {

using namespace ifzvk;
using namespace ifzvk::cli;

// Largest --size accepted.
constexpr long kMaxBox = 32768;

// The usage text, around this build's default folder format and module.
const char kUsageHead[] =
    "usage: zvk-thumb [OPTIONS] INPUT.zvk OUTPUT.png|OUTPUT.bmp\n"
    "       zvk-thumb [OPTIONS] INPUT.zvk... FOLDER\n"
    "       zvk-thumb --info [--module PATH] [--offset N] [INPUT.zvk...]\n"
    "Renders the preview picture of zorvik documents through the plug-in module and\n"
    "writes it as a PNG or 24-bit BMP file, chosen by OUTPUT's extension. Into an\n"
    "existing FOLDER each INPUT goes under its own name with the extension of --format.\n"
    "  --size N       shrink the picture to fit within N x N pixels, keeping its\n"
    "                 aspect ratio (area averaging; a smaller picture stays as it is)\n"
    "  --format F     png or bmp: the files written into a FOLDER (default ";
const char kUsageMiddle[] =
    ")\n"
    "  --info         print the module's information strings and, for each INPUT,\n"
    "                 the module's answers to IsSupported and GetPictureInfo\n"
    "  --module PATH  the plug-in module to load (default: ";
const char kUsageTail[] =
    ")\n"
    "  --offset N     each document starts N bytes into its file (default 0)\n"
    "  --quiet        print nothing on success, and no progress line\n"
    "  --no-fallback  for thumbnailers: a document without a usable preview gives\n"
    "                 no file and exit code 8 instead of the plug-in's 1 x 1 black\n"
    "                 stand-in (a one-pixel preview counts as none: it shows\n"
    "                 nothing as a thumbnail)\n"
    "  --             the arguments that follow are files, even if they start with -\n"
    "INPUT must be a regular file. An existing OUTPUT is replaced only by a complete\n"
    "new file; a read-only one, or one that is not a regular file, is left alone.\n"
    "Exit codes: 0 written, 1 usage, 2 module cannot be loaded, 3 not a zorvik\n"
    "document, 4 input cannot be read or is no regular file, 5 the plug-in failed\n"
    "or memory ran out, 6 output cannot be written (or is the input itself), 7 no\n"
    "private working folder for the plug-in, 8 no usable preview (--no-fallback).\n"
    "With several inputs the tool goes on after a failure and exits with the code\n"
    "of the first one.\n";

enum class Format { kNone, kPng, kBmp };

struct Options {
  std::string module;
  std::vector<std::string> files;  // as given: inputs, then the output unless --info
  unsigned long offset = 0;
  int box = 0;  // --size, 0 when not given
  Format format = Format::kNone;
  bool info = false;
  bool quiet = false;
  bool noFallback = false;
};

// One document to render: names as the user gave them for messages, absolute
// ones for the work, since the current directory changes during GetPicture.
struct Job {
  std::string input;
  std::string inputPath;
  std::string output;
  std::string outputPath;
  Format format = Format::kNone;
};

// ---------------------------------------------------------------------------
// Options.

bool ParseNumber(const char* text, unsigned long limit, unsigned long& value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoul(text, &end, 10);
  return errno == 0 && *end == '\0' && value <= limit;
}

const char* FormatName(Format format) { return format == Format::kPng ? "png" : "bmp"; }

Format DefaultFolderFormat() { return imageio::CanWritePng() ? Format::kPng : Format::kBmp; }

Format FormatOfName(const std::string& path) {
  if (host::HasExtension(path, ".png")) return Format::kPng;
  if (host::HasExtension(path, ".bmp")) return Format::kBmp;
  return Format::kNone;
}

std::string UsageText() {
  std::string modules = std::string(host::DefaultModuleName()) + " beside this program";
  if (std::string(ZVK_MODULE_RELDIR) != ".") modules += ",\n                 else in " ZVK_MODULE_RELDIR "/ relative to it";
  return kUsageHead + std::string(FormatName(DefaultFolderFormat())) + kUsageMiddle + modules + kUsageTail;
}

// Returns -1 when the options are complete, else the exit code.
int ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--help" || arg == "-h") {
      return Usage(UsageText(), true);
    } else if (arg == "--module") {
      if (value == nullptr) return Fail(kUsage, "--module needs the module's path");
      options.module = argv[++i];
    } else if (arg == "--offset") {
      ++i;
      if (!ParseNumber(value, 0xFFFFFFFFul, options.offset))
        return Fail(kUsage, "--offset needs a whole number of bytes");
    } else if (arg == "--size") {
      ++i;
      unsigned long box = 0;
      if (!ParseNumber(value, kMaxBox, box) || box == 0)
        return Fail(kUsage, "--size needs a whole number of pixels from 1 to " + std::to_string(kMaxBox));
      options.box = static_cast<int>(box);
    } else if (arg == "--format") {
      ++i;
      const std::string name = value != nullptr ? host::Lower(value) : std::string();
      if (name == "png") {
        options.format = Format::kPng;
      } else if (name == "bmp") {
        options.format = Format::kBmp;
      } else {
        return Fail(kUsage, "--format needs png or bmp");
      }
    } else if (arg == "--info") {
      options.info = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--no-fallback") {
      options.noFallback = true;
    } else if (arg == "--") {
      for (++i; i < argc; ++i) options.files.push_back(argv[i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Fail(kUsage, "unknown option " + arg + " (see --help)");
    } else {
      options.files.push_back(arg);
    }
  }
  if (!options.info && options.files.size() < 2) return Fail(kUsage, "expected INPUT and OUTPUT (see --help)");
  return -1;
}

// ---------------------------------------------------------------------------
// What to write where.

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

// "dir/name.zvk" -> "name.<extension>"; a leading dot does not start an extension.
std::string OutputName(const std::string& input, Format format) {
  std::size_t start = input.size();
  while (start > 0 && !IsSeparator(input[start - 1])) --start;
  std::string name = input.substr(start);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name + "." + FormatName(format);
}

std::string Absolute(const std::string& path, int& code) {
  std::string absolute = host::AbsolutePath(path);
  if (absolute.empty()) code = Fail(kUsage, "cannot resolve " + path + " against the current directory");
  return absolute;
}

// Returns -1 with the jobs, else the exit code.
int PlanJobs(const Options& options, std::vector<Job>& jobs) {
  int code = -1;
  const std::string& output = options.files.back();
  const std::vector<std::string> inputs(options.files.begin(), options.files.end() - 1);
  const bool folder = host::IsDirectory(output);
  if (!folder && inputs.size() > 1)
    return Fail(kUsage, "with several inputs the last argument must be an existing folder: " + output);
  Format format = folder ? (options.format != Format::kNone ? options.format : DefaultFolderFormat())
                         : FormatOfName(output);
  if (!folder && options.format != Format::kNone)
    return Fail(kUsage, "--format is for an output folder; a file's extension chooses its format");
  if (format == Format::kNone)
    return Fail(kUsage, "OUTPUT must end in .png or .bmp, or be an existing folder: " + output);
  if (format == Format::kPng && !imageio::CanWritePng())
    return Fail(kUsage, "this build writes BMP files only; PNG output needs the native build with libpng");

  std::map<std::string, std::string> inputByOutput;
  for (const std::string& input : inputs) {
    Job job;
    job.input = input;
    job.format = format;
    if (folder) {
      job.output = output;
      if (!IsSeparator(job.output.back())) job.output += '/';
      job.output += OutputName(input, format);
    } else {
      job.output = output;
    }
    job.inputPath = Absolute(job.input, code);
    job.outputPath = Absolute(job.output, code);
    if (code >= 0) return code;
#ifdef _WIN32
    const std::string key = host::Lower(job.outputPath);  // Windows file names ignore case
#else
    const std::string& key = job.outputPath;
#endif
    const auto [previous, added] = inputByOutput.emplace(key, input);
    if (!added)
      return Fail(kUsage, previous->second + " and " + input + " would both be written to " + job.output);
    jobs.push_back(job);
  }
  return -1;
}

// ---------------------------------------------------------------------------
// The module.

// The module the user named, else the first that exists of: beside this
// program, then in the install layout's module folder relative to it.
int LoadModule(const Options& options, host::PluginModule& module, std::string& path) {
  if (!options.module.empty()) {
    path = options.module;
  } else {
    const std::string here = host::ExecutableDirectory();
    std::vector<std::string> candidates{here + host::DefaultModuleName()};
    if (std::string(ZVK_MODULE_RELDIR) != ".")
      candidates.push_back(here + ZVK_MODULE_RELDIR + "/" + host::DefaultModuleName());
    for (const std::string& candidate : candidates) {
      if (host::IsFile(candidate)) {
        path = candidate;
        break;
      }
    }
    if (path.empty()) {
      std::string tried;
      for (const std::string& candidate : candidates) tried += (tried.empty() ? "" : " or ") + candidate;
      return Fail(kCannotLoad, "cannot load the plug-in module: there is none at " + tried + " (see --module)");
    }
  }
  if (!module.Load(path)) return Fail(kCannotLoad, "cannot load the plug-in module " + path + ": " + module.Error());
  return -1;
}

// ---------------------------------------------------------------------------
// Reading the first bytes, as viewers do before they ask for a picture.

struct Head {
  std::vector<char> bytes = std::vector<char>(2048, 0);  // zero-padded
  std::size_t count = 0;                                 // bytes that came from the file
};

// Only a regular file is read: the module would wait forever on a pipe.
int ReadHead(const std::string& shown, const std::string& path, unsigned long offset, Head& head) {
  std::vector<unsigned char> bytes;
  std::string error;
  if (!host::ReadRegularFile(path, offset, head.bytes.size(), bytes, error))
    return Fail(kCannotRead, "cannot read " + shown + ": " + error);
  std::copy(bytes.begin(), bytes.end(), head.bytes.begin());
  head.count = bytes.size();
  return -1;
}

// The first 2 KiB of the document, zero-padded, by address.
int AskSupportedByAddress(const host::PluginModule& module, const std::string& path, const Head& head) {
  std::string name = path;
  return module.IsSupported(&name[0], reinterpret_cast<SusieHandleOrAddress>(head.bytes.data()));
}

// ---------------------------------------------------------------------------
// --info

const char* ResultText(int result) {
  switch (result) {
    case Success: return "success";
    case Aborted: return "aborted";
    case UnknownFormat: return "not a document of this kind";
    case OutOfMemory: return "out of memory";
    case MemoryError: return "memory error";
    case FileReadError: return "file read error";
    default: return "not a result code of the interface";
  }
}

std::string PictureInfoText(int result, const PictureInfo& info) {
  std::string text = std::to_string(result) + " (" + ResultText(result) + ")";
  if (result != Success) return text;
  return text + ": " + std::to_string(info.width) + " x " + std::to_string(info.height) + " at " +
         std::to_string(info.colorDepth) + " bits, left " + std::to_string(info.left) + ", top " +
         std::to_string(info.top) + ", density " + std::to_string(info.x_density) + " x " +
         std::to_string(info.y_density) + ", " + (info.hInfo != nullptr ? "text attached" : "no text");
}

// IsSupported with an open file, positioned at the document, as its handle.
std::string AskSupportedByHandle(const host::PluginModule& module, const std::string& path, unsigned long offset) {
  std::string name = path;
  std::string answer;
#ifdef _WIN32
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "not asked: the file cannot be opened";
  const auto value = reinterpret_cast<SusieHandleOrAddress>(file);
  if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) != offset) {
    answer = "not asked: the file cannot be positioned";
  } else if (value >= 0x10000) {
    answer = "not asked: the handle's value is too large to pass as one";
  } else {
    answer = std::to_string(module.IsSupported(&name[0], value));
  }
  CloseHandle(file);
#else
  const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return "not asked: the file cannot be opened";
  if (lseek(file, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(offset)) {
    answer = "not asked: the file cannot be positioned";
  } else if (file >= 0x10000) {
    answer = "not asked: the descriptor's value is too large to pass as a handle";
  } else {
    answer = std::to_string(module.IsSupported(&name[0], static_cast<SusieHandleOrAddress>(file)));
  }
  close(file);
#endif
  return answer;
}

// What the document layer finds in the document from `offset` on: the
// preview's size, or why the module shows the 1 x 1 picture instead.
std::string PreviewText(const std::string& path, unsigned long offset) {
  std::vector<unsigned char> document;
  std::string error;
  if (!host::ReadRegularFile(path, offset, static_cast<std::size_t>(limits::kMaxDocumentBytes), document, error))
    return "not read: " + error;
  qoru::CImage32 image;
  const PreviewProblem problem = ReadDocumentPreview(document.data(), document.size(), image);
  if (problem != PreviewProblem::None) return std::string("none, the module shows 1 x 1: ") + DescribePreviewProblem(problem);
  return std::to_string(image.width) + " x " + std::to_string(image.height);
}

// The module's answers for one document, one per line, then the preview the
// document holds or why it has none; kDone, or the code of what made the
// document unreadable or no zorvik document.
int DescribeDocument(const host::PluginModule& module, const std::string& input, unsigned long offset) {
  int code = -1;
  const std::string path = Absolute(input, code);
  Head head;
  if (code < 0) code = ReadHead(input, path, offset, head);
  if (code >= 0) return code;
  Say(input);
  const int byAddress = AskSupportedByAddress(module, path, head);
  Say("  IsSupported (file handle): " + AskSupportedByHandle(module, path, offset));
  Say("  IsSupported (first bytes): " + std::to_string(byAddress));
  std::string name = path;
  PictureInfo info{};
  int result = module.GetPictureInfo(&name[0], static_cast<SusieLen>(offset), 0, &info);
  Say("  GetPictureInfo (file, offset " + std::to_string(offset) + "): " + PictureInfoText(result, info));
  if (result == Success) host::FreeBlock(info.hInfo);
  info = PictureInfo{};
  result = module.GetPictureInfo(head.bytes.data(), static_cast<SusieLen>(head.count), 1, &info);
  Say("  GetPictureInfo (first " + std::to_string(head.count) + " bytes): " + PictureInfoText(result, info));
  if (result == Success) host::FreeBlock(info.hInfo);
  if (byAddress != 0) Say("  preview: " + PreviewText(path, offset));
  return byAddress == 0 ? kNotADocument : kDone;
}

// --info: the module's strings, then each document; the first failure's code.
int Info(const host::PluginModule& module, const std::string& modulePath, const Options& options) {
  Say("module " + modulePath);
  for (int index = 0; index < 64; ++index) {
    char text[256] = {};
    if (module.GetPluginInfo(index, text, sizeof text) <= 0) break;
    Say("  GetPluginInfo " + std::to_string(index) + ": " + text);
  }
  int exitCode = kDone;
  for (const std::string& input : options.files) {
    const int code = DescribeDocument(module, input, options.offset);
    if (exitCode == kDone) exitCode = code;
  }
  return exitCode;
}

// ---------------------------------------------------------------------------
// Rendering.

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

struct Picture {
  qoru::PictureSize size;
  std::vector<std::uint32_t> pixels;  // BGRX, rows from the top
};

// The module's 24-bit bottom-up bitmap as top-down pixels; false for any other
// kind of bitmap.
bool ReadBitmap(const Blocks& blocks, Picture& picture) {
  BITMAPINFOHEADER header;
  std::memcpy(&header, host::LockBlock(blocks.info), sizeof header);
  host::UnlockBlock(blocks.info);
  // The module's previews hold at most 2^30 pixels (4 bytes each, counted in
  // 32 bits), which keeps every size below far inside the integer types.
  if (header.biBitCount != 24 || header.biWidth < 1 || header.biHeight < 1 ||
      static_cast<std::uint64_t>(header.biWidth) * static_cast<std::uint64_t>(header.biHeight) > (1u << 30))
    return false;
  picture.size = {static_cast<int>(header.biWidth), static_cast<int>(header.biHeight)};
  const auto width = static_cast<std::size_t>(header.biWidth);
  const auto height = static_cast<std::size_t>(header.biHeight);
  const std::size_t stride = BitmapStride(static_cast<int>(header.biWidth));
  const auto* bits = static_cast<const unsigned char*>(host::LockBlock(blocks.bits));
  picture.pixels.resize(width * height);
  for (std::size_t y = 0; y < height; ++y) {
    const unsigned char* row = bits + (height - 1 - y) * stride;
    for (std::size_t x = 0; x < width; ++x) {
      picture.pixels[y * width + x] = 0xFF000000u | row[3 * x] | (static_cast<std::uint32_t>(row[3 * x + 1]) << 8) |
                                      (static_cast<std::uint32_t>(row[3 * x + 2]) << 16);
    }
  }
  host::UnlockBlock(blocks.bits);
  return true;
}

// GetPicture in file mode, run inside a fresh private working folder.
int GetPicture(const host::PluginModule& module, const Job& job, unsigned long offset, Picture& picture) {
  host::PrivateWorkDir workDir;
  if (!workDir.Enter()) return Fail(kNoWorkDir, "no private working folder for the plug-in: " + workDir.Error());
  std::string name = job.inputPath;
  Blocks blocks;
  int progressCalls = 0;
  const int result = module.GetPicture(&name[0], static_cast<SusieLen>(offset), 0, &blocks.info, &blocks.bits,
                                       Progress, reinterpret_cast<SusieData>(&progressCalls));
  if (!workDir.Leave()) return Fail(kNoWorkDir, workDir.Error());
  switch (result) {
    case Success:
      break;
    case UnknownFormat:
      return Fail(kNotADocument, "not a zorvik document: " + job.input);
    case FileReadError:
      return Fail(kCannotRead, "cannot read " + job.input);
    default:
      return Fail(kFailed, "the plug-in failed with code " + std::to_string(result) + " (" +
                                     ResultText(result) + ") on " + job.input);
  }
  if (!ReadBitmap(blocks, picture))
    return Fail(kFailed, "the plug-in returned a bitmap of an unexpected kind for " + job.input);
  return -1;
}

int WriteOutput(const Job& job, const Picture& picture) {
  std::string error;
  const bool written =
      job.format == Format::kPng
          ? imageio::WritePng(job.outputPath, picture.size.width, picture.size.height, picture.pixels, error)
          : imageio::WriteBmp(job.outputPath, picture.size.width, picture.size.height, picture.pixels, error);
  if (!written) return Fail(kCannotWrite, "cannot write " + job.output + ": " + error);
  return -1;
}

int Render(const host::PluginModule& module, const Options& options, const Job& job) {
  if (host::SameFile(job.inputPath, job.outputPath))
    return Fail(kCannotWrite, "not writing " + job.output + ": it is the input " + job.input + " itself");
  Head head;
  int code = ReadHead(job.input, job.inputPath, options.offset, head);
  if (code >= 0) return code;
  if (AskSupportedByAddress(module, job.inputPath, head) == 0)
    return Fail(kNotADocument, "not a zorvik document: " + job.input);
  Picture picture;
  code = GetPicture(module, job, options.offset, picture);
  if (code >= 0) return code;
  // The module answers a document without a usable preview with one pixel.
  if (options.noFallback && picture.size.width == 1 && picture.size.height == 1)
    return Fail(kNoPreview, "no usable preview in " + job.input);

  const qoru::PictureSize full = picture.size;
  if (options.box > 0) {
    const qoru::PictureSize fitted = qoru::FitWithin(full, options.box);
    if (fitted.width != full.width || fitted.height != full.height) {
      std::vector<std::uint32_t> scaled(static_cast<std::size_t>(fitted.width) * static_cast<std::size_t>(fitted.height));
      if (!qoru::ScaleByAreaAverage(picture.pixels.data(), full, scaled.data(), fitted)) throw std::bad_alloc();
      picture.pixels = std::move(scaled);
      picture.size = fitted;
    }
  }
  code = WriteOutput(job, picture);
  if (code >= 0) return code;
  if (!options.quiet) {
    std::string line = "wrote " + job.output + " (" + std::to_string(picture.size.width) + " x " +
                       std::to_string(picture.size.height);
    if (picture.size.width != full.width || picture.size.height != full.height)
      line += " from " + std::to_string(full.width) + " x " + std::to_string(full.height);
    Say(line + ")");
  }
  return kDone;
}

// Pictures can be large; running out of memory fails this input only.
int RenderOrReportMemory(const host::PluginModule& module, const Options& options, const Job& job) {
  try {
    return Render(module, options, job);
  } catch (const std::bad_alloc&) {
    return Fail(kFailed, "out of memory while rendering " + job.input);
  }
}

}  // namespace

int main(int argc, char** argv) {
  SetToolName("zvk-thumb");
  Options options;
  int code = ParseOptions(argc, argv, options);
  if (code >= 0) return code;
  std::vector<Job> jobs;
  if (!options.info) {
    code = PlanJobs(options, jobs);
    if (code >= 0) return code;
  }

  host::PluginModule module;
  std::string modulePath;
  code = LoadModule(options, module, modulePath);
  if (code >= 0) return code;
  if (options.info) return Info(module, modulePath, options);

  host::RemoveWorkDirOnInterrupt(kTemporaryXmlFile);
  EnableProgress(!options.quiet && jobs.size() > 1);
  int exitCode = kDone;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    ShowProgress(i + 1, jobs.size(), jobs[i].input);
    code = RenderOrReportMemory(module, options, jobs[i]);
    if (exitCode == kDone) exitCode = code;
  }
  ClearProgress();
  return exitCode;
}
