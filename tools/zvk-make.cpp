// zvk-make: writes a zorvik document whose preview is a given picture or the
// built-in scene, stored or compressed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "tools/host/Files.h"
#include "tools/image_io/Bmp.h"
#include "tools/image_io/Png.h"
#include "tools/image_io/Scale.h"
#include "tools/make/Picture.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using ifzvk::make::Picture;

constexpr int kMaxSide = 16384;
// --size may give a long thin picture, as large as a preview can be.
constexpr long kMaxPixels = 1L << 28;

// Exit codes.
constexpr int kMade = 0;
constexpr int kCannotWrite = 1;
constexpr int kBadRequest = 2;  // usage, or an input that is no picture it reads

struct Options {
  std::string input;   // picture file, or empty with scene
  int scene = 0;       // side of the rendered scene, 0 when a file is given
  int width = 0;       // target size, 0 for the picture's own
  int height = 0;
  bool stored = false;
  std::string name = "thumb";
  std::string output;
};

void Usage() {
  std::fprintf(stderr,
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
               "Exit codes: 0 written, 1 OUTPUT cannot be written or memory ran out, 2 usage\n"
               "error, or an input that cannot be read or is no picture of these kinds.\n");
}

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
    picture = ifzvk::make::RenderScene(options.scene);
    return true;
  }
  std::vector<unsigned char> file;
  if (!ifzvk::host::ReadRegularFile(options.input, 0, std::numeric_limits<std::size_t>::max(), file, error))
    return false;
  const auto decode = ifzvk::imageio::IsPng(file) ? ifzvk::imageio::DecodePng : ifzvk::imageio::DecodeBmp;
  return decode(file, picture.width, picture.height, picture.pixels, error);
}

bool WriteDocument(const Options& options, const Picture& picture, std::string& error) {
  using namespace ifzvk::writer;
  const Bytes pixels = PixelBytes(picture.pixels);
  Document document;
  document.xml = ThumbXml(picture.width, picture.height, options.name);
  document.records.push_back(options.stored ? StoredRecord(options.name, pixels)
                                            : CompressedRecord(options.name, pixels));
  const Bytes bytes = DocumentBytes(document);
  ifzvk::host::ReplacingFile out(options.output);
  if (out.Open() && out.Write(bytes.data(), bytes.size()) && out.Commit()) return true;
  error = "cannot write " + options.output + ": " + out.Error();
  return false;
}

int Make(const Options& options) {
  Picture picture;
  std::string error;
  if (!LoadPicture(options, picture, error)) {
    std::fprintf(stderr, "zvk-make: %s: %s\n", options.input.c_str(), error.c_str());
    return kBadRequest;
  }
  if (options.width > 0) {
    picture.pixels = ifzvk::imageio::ScaleByAreaAverage(picture.pixels, {picture.width, picture.height},
                                                        {options.width, options.height});
    picture.width = options.width;
    picture.height = options.height;
  }
  if (!WriteDocument(options, picture, error)) {
    std::fprintf(stderr, "zvk-make: %s\n", error.c_str());
    return kCannotWrite;
  }
  return kMade;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    Usage();
    return kBadRequest;
  }
  ifzvk::host::InstallInterruptRemoval();
  try {
    return Make(options);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "zvk-make: out of memory\n");
    return kCannotWrite;
  }
}
