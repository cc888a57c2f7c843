// zvk-make: writes a zorvik document whose preview is a given picture or the
// built-in scene, stored or compressed.
#include <cstdlib>
#include <limits>
#include <new>
#include <string>

#include "image/Scale.h"
#include "tools/host/Cli.h"
#include "tools/host/Files.h"
#include "tools/image_io/Bmp.h"
#include "tools/image_io/Png.h"
#include "tools/make/Picture.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using namespace ifzvk;
using make::Picture;

constexpr int kMaxSide = 16384;
// --size may give a long thin picture, as large as a preview can be.
constexpr long kMaxPixels = 1L << 28;

const char kUsageText[] =
    "usage: zvk-make (--input PICTURE | --scene SIDE) [--size WxH] [--stored] [--name RECORD] OUTPUT.zvk\n"
    "  --input PICTURE  24-bit or 32-bit uncompressed BMP"
#ifdef ZVK_HAVE_PNG
    ", or PNG"
#endif
    "\n"
    "  --scene SIDE     the built-in rendered scene, SIDE x SIDE pixels\n"
    "  --size WxH       scale the picture to W x H pixels (at most 268435456 in all)\n"
    "  --stored         store the pixels instead of compressing them\n"
    "  --name RECORD    name of the preview record (default \"thumb\", at most 63 bytes)\n"
    "Exit codes: 0 written, 1 usage error, 2 the input cannot be read or is no picture\n"
    "of these kinds, 5 memory ran out, 6 OUTPUT cannot be written.\n";

struct Options {
  std::string input;   // picture file, or empty with scene
  int scene = 0;       // side of the rendered scene, 0 when a file is given
  int width = 0;       // target size, 0 for the picture's own
  int height = 0;
  bool stored = false;
  std::string name = "thumb";
  std::string output;
};

bool ParseSide(const std::string& text, long limit, int& side) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || value < 1 || value > limit) return false;
  side = static_cast<int>(value);
  return true;
}

bool ParseSize(const std::string& text, int& width, int& height) {
  const auto cross = text.find('x');
  return cross != std::string::npos && ParseSide(text.substr(0, cross), kMaxPixels, width) &&
         ParseSide(text.substr(cross + 1), kMaxPixels, height) &&
         static_cast<long long>(width) * height <= kMaxPixels;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--input" && hasValue) {
      options.input = argv[++i];
    } else if (arg == "--scene" && hasValue) {
      if (!ParseSide(argv[++i], kMaxSide, options.scene)) return false;
    } else if (arg == "--size" && hasValue) {
      if (!ParseSize(argv[++i], options.width, options.height)) return false;
    } else if (arg == "--name" && hasValue) {
      options.name = argv[++i];
    } else if (arg == "--stored") {
      options.stored = true;
    } else if (!arg.empty() && arg[0] != '-' && options.output.empty()) {
      options.output = arg;
    } else {
      return false;
    }
  }
  const bool oneSource = options.input.empty() != (options.scene == 0);
  return oneSource && !options.output.empty() && !options.name.empty() && options.name.size() < 64;
}

bool LoadPicture(const Options& options, Picture& picture, std::string& error) {
  if (options.scene > 0) {
    picture = make::RenderScene(options.scene);
    return true;
  }
  std::vector<unsigned char> file;
  if (!host::ReadRegularFile(options.input, 0, std::numeric_limits<std::size_t>::max(), file, error)) return false;
  const auto decode = imageio::IsPng(file) ? imageio::DecodePng : imageio::DecodeBmp;
  return decode(file, picture.width, picture.height, picture.pixels, error);
}

void Resize(Picture& picture, int width, int height) {
  std::vector<std::uint32_t> scaled(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  if (!qoru::ScaleByAreaAverage(picture.pixels.data(), {picture.width, picture.height}, scaled.data(), {width, height}))
    throw std::bad_alloc();
  picture.pixels = std::move(scaled);
  picture.width = width;
  picture.height = height;
}

bool WriteDocument(const Options& options, const Picture& picture, std::string& error) {
  const writer::Bytes pixels = writer::PixelBytes(picture.pixels);
  writer::Document document;
  document.xml = writer::ThumbXml(picture.width, picture.height, options.name);
  document.records.push_back(options.stored ? writer::StoredRecord(options.name, pixels)
                                            : writer::CompressedRecord(options.name, pixels));
  const writer::Bytes bytes = writer::DocumentBytes(document);
  host::ReplacingFile out(options.output);
  if (out.Open() && out.Write(bytes.data(), bytes.size()) && out.Commit()) return true;
  error = "cannot write " + options.output + ": " + out.Error();
  return false;
}

int Make(const Options& options) {
  Picture picture;
  std::string error;
  if (!LoadPicture(options, picture, error)) return cli::Fail(cli::kCannotLoad, options.input + ": " + error);
  if (options.width > 0) Resize(picture, options.width, options.height);
  if (!WriteDocument(options, picture, error)) return cli::Fail(cli::kCannotWrite, error);
  return cli::kDone;
}

}  // namespace

int main(int argc, char** argv) {
  cli::SetToolName("zvk-make");
  Options options;
  if (!ParseOptions(argc, argv, options)) return cli::Usage(kUsageText, false);
  host::InstallInterruptRemoval();
  try {
    return Make(options);
  } catch (const std::bad_alloc&) {
    return cli::Fail(cli::kFailed, "out of memory");
  }
}
