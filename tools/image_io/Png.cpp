#include "tools/image_io/Png.h"

#include <cstring>

#include "tools/host/Files.h"

#ifdef ZVK_HAVE_PNG
#include <png.h>
#endif

namespace ifzvk::imageio {

bool IsPng(const std::vector<unsigned char>& file) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return file.size() >= sizeof kSignature && std::memcmp(file.data(), kSignature, sizeof kSignature) == 0;
}

#ifdef ZVK_HAVE_PNG

namespace {
// Largest side read, as large as zvk-make's rendered scene.
constexpr png_uint_32 kMaxReadSide = 16384;
}  // namespace

bool DecodePng(const std::vector<unsigned char>& file, int& width, int& height,
               std::vector<std::uint32_t>& bgrxTopDown, std::string& error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
    error = image.message;
    return false;
  }
  image.format = PNG_FORMAT_BGRA;  // byte 0 blue ... byte 3 alpha: a BGRX pixel read little-endian
  if (image.width < 1 || image.height < 1 || image.width > kMaxReadSide || image.height > kMaxReadSide) {
    png_image_free(&image);
    error = "PNG size out of range";
    return false;
  }
  std::vector<unsigned char> bytes(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) {
    error = image.message;
    return false;
  }
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  bgrxTopDown.resize(bytes.size() / 4);
  for (std::size_t i = 0; i < bgrxTopDown.size(); ++i) {
    bgrxTopDown[i] = bytes[4 * i] | (bytes[4 * i + 1] << 8) | (bytes[4 * i + 2] << 16) | 0xFF000000u;
  }
  return true;
}

bool CanWritePng() { return true; }

bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint32_t>& bgrxTopDown,
              std::string& error) {
  if (width < 1 || height < 1) {
    error = "PNG size out of range";
    return false;
  }
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  if (bgrxTopDown.size() != w * h) {
    error = "pixel count does not match the size";
    return false;
  }
  // A BGRX pixel read little-endian is the bytes blue, green, red, unused:
  // PNG_FORMAT_BGR over the first three of every four.
  std::vector<unsigned char> bytes(w * h * 3);
  for (std::size_t i = 0; i < bgrxTopDown.size(); ++i) {
    bytes[3 * i] = static_cast<unsigned char>(bgrxTopDown[i]);
    bytes[3 * i + 1] = static_cast<unsigned char>(bgrxTopDown[i] >> 8);
    bytes[3 * i + 2] = static_cast<unsigned char>(bgrxTopDown[i] >> 16);
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_BGR;
  host::ReplacingFile out(path);
  if (!out.Open()) {
    error = out.Error();
    return false;
  }
  if (png_image_write_to_stdio(&image, out.Stream(), 0, bytes.data(), 0, nullptr) == 0) {
    error = image.message[0] != '\0' ? image.message : "cannot write the PNG file";
    png_image_free(&image);
    return false;
  }
  if (!out.Commit()) {
    error = out.Error();
    return false;
  }
  return true;
}

#else

bool CanWritePng() { return false; }

bool DecodePng(const std::vector<unsigned char>&, int&, int&, std::vector<std::uint32_t>&, std::string& error) {
  error = "this build reads BMP files only";
  return false;
}

bool WritePng(const std::string&, int, int, const std::vector<std::uint32_t>&, std::string& error) {
  error = "this build writes BMP files only (PNG output needs the native build with libpng)";
  return false;
}

#endif

}  // namespace ifzvk::imageio
