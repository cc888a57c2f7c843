// zvk-make: writes a zorvik document whose preview is a given picture or the
// built-in scene, stored or compressed.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tools/image_io/Bmp.h"
#include "tools/make/Picture.h"
#include "tools/writer/DocumentWriter.h"

#ifdef ZVK_HAVE_PNG
#include <png.h>
#endif

namespace {

using ifzvk::make::Picture;

constexpr int kMaxSide = 16384;

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
               "  --size WxH       scale the picture to W x H pixels\n"
               "  --stored         store the pixels instead of compressing them\n"
               "  --name RECORD    name of the preview record (default \"thumb\", at most 63 bytes)\n");
}

bool ParseSide(const std::string& text, int& side) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || value < 1 || value > kMaxSide) return false;
  side = static_cast<int>(value);
  return true;
}

bool ParseSize(const std::string& text, int& width, int& height) {
  const auto cross = text.find('x');
  return cross != std::string::npos && ParseSide(text.substr(0, cross), width) &&
         ParseSide(text.substr(cross + 1), height);
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--input" && hasValue) {
      options.input = argv[++i];
    } else if (arg == "--scene" && hasValue) {
      if (!ParseSide(argv[++i], options.scene)) return false;
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

bool EndsWith(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - tail.size() + i])) != tail[i]) return false;
  }
  return true;
}

#ifdef ZVK_HAVE_PNG
bool ReadPng(const std::string& path, Picture& picture, std::string& error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    error = image.message;
    return false;
  }
  image.format = PNG_FORMAT_BGRA;  // byte 0 blue ... byte 3 alpha: a BGRX pixel read little-endian
  if (image.width < 1 || image.height < 1 || image.width > kMaxSide || image.height > kMaxSide) {
    png_image_free(&image);
    error = "PNG size out of range";
    return false;
  }
  std::vector<unsigned char> bytes(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) {
    error = image.message;
    return false;
  }
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.pixels.resize(bytes.size() / 4);
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
    picture.pixels[i] = bytes[4 * i] | (bytes[4 * i + 1] << 8) | (bytes[4 * i + 2] << 16) | 0xFF000000u;
  }
  return true;
}
#endif

bool LoadPicture(const Options& options, Picture& picture, std::string& error) {
  if (options.scene > 0) {
    picture = ifzvk::make::RenderScene(options.scene);
    return true;
  }
#ifdef ZVK_HAVE_PNG
  if (EndsWith(options.input, ".png")) return ReadPng(options.input, picture, error);
#else
  if (EndsWith(options.input, ".png")) {
    error = "this build reads BMP files only";
    return false;
  }
#endif
  return ifzvk::imageio::ReadBmp(options.input, picture.width, picture.height, picture.pixels, error);
}

bool WriteDocument(const Options& options, const Picture& picture, std::string& error) {
  using namespace ifzvk::writer;
  const Bytes pixels = PixelBytes(picture.pixels);
  Document document;
  document.xml = ThumbXml(picture.width, picture.height, options.name);
  document.records.push_back(options.stored ? StoredRecord(options.name, pixels)
                                            : CompressedRecord(options.name, pixels));
  const Bytes bytes = DocumentBytes(document);
  std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) error = "cannot write " + options.output;
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    Usage();
    return 2;
  }
  Picture picture;
  std::string error;
  if (!LoadPicture(options, picture, error)) {
    std::fprintf(stderr, "zvk-make: %s: %s\n", options.input.c_str(), error.c_str());
    return 1;
  }
  if (options.width > 0) picture = ifzvk::make::Resample(picture, options.width, options.height);
  if (!WriteDocument(options, picture, error)) {
    std::fprintf(stderr, "zvk-make: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
