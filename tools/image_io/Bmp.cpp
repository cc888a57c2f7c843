#include "tools/image_io/Bmp.h"

#include "tools/host/Files.h"

namespace ifzvk::imageio {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kBitFields = 3;
// Largest side accepted, so that every size computed below fits easily.
constexpr std::int64_t kMaxSide = 1 << 15;

std::uint32_t U32(const std::vector<unsigned char>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t U16(const std::vector<unsigned char>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::int32_t S32(const std::vector<unsigned char>& b, std::size_t at) {
  return static_cast<std::int32_t>(U32(b, at));
}

void Put16(std::vector<unsigned char>& b, std::size_t at, std::uint32_t value) {
  b[at] = static_cast<unsigned char>(value);
  b[at + 1] = static_cast<unsigned char>(value >> 8);
}
void Put32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t value) {
  Put16(b, at, value);
  Put16(b, at + 2, value >> 16);
}

std::size_t RowStride(std::int64_t width, int bitsPerPixel) {
  return static_cast<std::size_t>((width * bitsPerPixel + 31) / 32 * 4);
}

bool Fail(std::string& error, const char* message) {
  error = message;
  return false;
}

// 32-bit pixels may declare bit fields; only the plain BGRX layout is taken.
bool PlainMasks(const std::vector<unsigned char>& file, std::uint32_t infoSize) {
  const std::size_t masks = kFileHeaderSize + kInfoHeaderSize;
  // The masks follow a 40-byte header, or sit inside a larger one.
  if (file.size() < masks + 12 || (infoSize < 52 && infoSize != 40)) return false;
  return U32(file, masks) == 0x00FF0000u && U32(file, masks + 4) == 0x0000FF00u && U32(file, masks + 8) == 0xFFu;
}

}  // namespace

bool DecodeBmp(const std::vector<unsigned char>& file, int& width, int& height,
               std::vector<std::uint32_t>& bgrxTopDown, std::string& error) {
  if (file.size() < kFileHeaderSize + kInfoHeaderSize || file[0] != 'B' || file[1] != 'M')
    return Fail(error, "not a BMP file");
  const std::uint32_t dataOffset = U32(file, 10);
  const std::uint32_t infoSize = U32(file, 14);
  const std::int64_t w = S32(file, 18);
  const std::int64_t h = S32(file, 22);
  const int bits = U16(file, 28);
  const std::uint32_t compression = U32(file, 30);
  if (infoSize < kInfoHeaderSize) return Fail(error, "unsupported BMP header");
  if (bits != 24 && bits != 32) return Fail(error, "only 24-bit and 32-bit BMP files are supported");
  const bool plain = compression == kRgb || (bits == 32 && compression == kBitFields && PlainMasks(file, infoSize));
  if (!plain) return Fail(error, "compressed or unusual BMP pixel layout");
  const std::int64_t rows = h < 0 ? -h : h;
  if (w < 1 || rows < 1 || w > kMaxSide || rows > kMaxSide) return Fail(error, "BMP size out of range");

  const std::size_t stride = RowStride(w, bits);
  if (dataOffset > file.size() || static_cast<std::size_t>(rows) > (file.size() - dataOffset) / stride)
    return Fail(error, "BMP file is cut short");

  const std::size_t bytesPerPixel = static_cast<std::size_t>(bits / 8);
  bgrxTopDown.assign(static_cast<std::size_t>(w * rows), 0);
  for (std::int64_t y = 0; y < rows; ++y) {
    const std::int64_t stored = h < 0 ? y : rows - 1 - y;  // bottom-up unless the height is negative
    std::size_t at = dataOffset + static_cast<std::size_t>(stored) * stride;
    for (std::int64_t x = 0; x < w; ++x, at += bytesPerPixel) {
      bgrxTopDown[static_cast<std::size_t>(y * w + x)] = static_cast<std::uint32_t>(file[at]) |
                                                         (static_cast<std::uint32_t>(file[at + 1]) << 8) |
                                                         (static_cast<std::uint32_t>(file[at + 2]) << 16);
    }
  }
  width = static_cast<int>(w);
  height = static_cast<int>(rows);
  return true;
}

bool EncodeBmp(int width, int height, const std::vector<std::uint32_t>& bgrxTopDown,
               std::vector<unsigned char>& file, std::string& error) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return Fail(error, "BMP size out of range");
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  if (bgrxTopDown.size() != w * h) return Fail(error, "pixel count does not match the size");

  const std::size_t stride = RowStride(width, 24);
  const std::size_t headers = kFileHeaderSize + kInfoHeaderSize;
  file.assign(headers + stride * h, 0);
  file[0] = 'B';
  file[1] = 'M';
  Put32(file, 2, static_cast<std::uint32_t>(file.size()));
  Put32(file, 10, static_cast<std::uint32_t>(headers));
  Put32(file, 14, static_cast<std::uint32_t>(kInfoHeaderSize));
  Put32(file, 18, static_cast<std::uint32_t>(width));
  Put32(file, 22, static_cast<std::uint32_t>(height));
  Put16(file, 26, 1);
  Put16(file, 28, 24);
  Put32(file, 34, static_cast<std::uint32_t>(stride * h));
  Put32(file, 38, 2835);  // 72 dpi
  Put32(file, 42, 2835);
  for (std::size_t y = 0; y < h; ++y) {
    std::size_t at = headers + (h - 1 - y) * stride;
    for (std::size_t x = 0; x < w; ++x, at += 3) {
      const std::uint32_t pixel = bgrxTopDown[y * w + x];
      file[at] = static_cast<unsigned char>(pixel);
      file[at + 1] = static_cast<unsigned char>(pixel >> 8);
      file[at + 2] = static_cast<unsigned char>(pixel >> 16);
    }
  }
  return true;
}

bool WriteBmp(const std::string& path, int width, int height, const std::vector<std::uint32_t>& bgrxTopDown,
              std::string& error) {
  std::vector<unsigned char> file;
  if (!EncodeBmp(width, height, bgrxTopDown, file, error)) return false;
  host::ReplacingFile out(path);
  if (out.Open() && out.Write(file.data(), file.size()) && out.Commit()) return true;
  return Fail(error, out.Error().c_str());
}

}  // namespace ifzvk::imageio
