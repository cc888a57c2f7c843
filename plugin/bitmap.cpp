#include "plugin/bitmap.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "document/thumbnail.h"
#include "platform/memory.h"

namespace ifzvk {
namespace {

void WriteHeader(BITMAPINFOHEADER& header, int width, int height) {
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height;  // positive: rows are stored bottom-up
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = 0;
  header.biXPelsPerMeter = 0;
  header.biYPelsPerMeter = 0;
  header.biClrUsed = 0;
  header.biClrImportant = 0;
}

// Block row r holds image row height - 1 - r, each pixel as blue, green, red;
// byte 3 of the image pixel is dropped and the row's padding is zeroed. The
// row's address in the image's buffer is found once, and its pixels are read
// straight from there, so the work per pixel is three byte stores. Pixels
// outside the image, or of an image without a buffer, are black, as GetPixel
// answers for them.
void WriteRows(const qoru::CImage32& image, int width, int height, std::size_t stride, unsigned char* bits) {
  const int inside = std::min(width, image.width);
  for (int r = 0; r < height; ++r) {
    unsigned char* out = bits + static_cast<std::size_t>(r) * stride;
    unsigned char* const end = out + stride;
    const std::uint32_t* row = image.PixelAddress(0, height - 1 - r);
    if (row != nullptr) {
      for (int x = 0; x < inside; ++x) {
        const std::uint32_t pixel = row[x];
        out[0] = static_cast<unsigned char>(pixel);
        out[1] = static_cast<unsigned char>(pixel >> 8);
        out[2] = static_cast<unsigned char>(pixel >> 16);
        out += 3;
      }
    }
    std::memset(out, 0, static_cast<std::size_t>(end - out));
  }
}

void Release(HLOCAL* pHBInfo, HLOCAL* pHBm) {
  sys::FreeLocal(*pHBInfo);
  sys::FreeLocal(*pHBm);
  *pHBInfo = nullptr;
  *pHBm = nullptr;
}

}  // namespace

ResultCode WriteBitmap(const qoru::CImage32& image, int width, int height, HLOCAL* pHBInfo, HLOCAL* pHBm) {
  const std::size_t stride = BitmapStride(width);
  const std::size_t bitsBytes = stride * static_cast<std::size_t>(height);

  // Both blocks are asked for before either answer is looked at.
  *pHBInfo = sys::AllocLocal(LMEM_MOVEABLE, sizeof(BITMAPINFOHEADER));
  *pHBm = sys::AllocLocal(LMEM_MOVEABLE, bitsBytes);
  if (*pHBInfo == nullptr || *pHBm == nullptr) {
    Release(pHBInfo, pHBm);
    return OutOfMemory;
  }

  auto* header = static_cast<BITMAPINFOHEADER*>(sys::LockLocal(*pHBInfo));
  auto* bits = static_cast<unsigned char*>(sys::LockLocal(*pHBm));
  if (header == nullptr || bits == nullptr) {
    if (header != nullptr) sys::UnlockLocal(*pHBInfo);
    if (bits != nullptr) sys::UnlockLocal(*pHBm);
    Release(pHBInfo, pHBm);
    return MemoryError;
  }

  WriteHeader(*header, width, height);
  WriteRows(image, width, height, stride, bits);
  sys::UnlockLocal(*pHBInfo);
  sys::UnlockLocal(*pHBm);
  return Success;
}

ResultCode BuildBitmap(const unsigned char* document, std::size_t length, HLOCAL* pHBInfo, HLOCAL* pHBm,
                ProgressCallback lpPrgressCallback, SusieData lData) {
  if (lpPrgressCallback != nullptr && lpPrgressCallback(0, 1, lData) != 0) return Aborted;

  qoru::CImage32 image;
  int width = 1;
  int height = 1;
  // A document without a usable preview still gives a picture: 1 x 1, black.
  if (ExtractThumbnail(document, length, image) == PreviewProblem::None) {
    width = image.width;
    height = image.height;
  }

  const ResultCode written = WriteBitmap(image, width, height, pHBInfo, pHBm);
  if (written != Success) return written;

  // An abort here does not take the finished bitmap back: the blocks stay with the host.
  if (lpPrgressCallback != nullptr && lpPrgressCallback(1, 1, lData) != 0) return Aborted;
  return Success;
}

}  // namespace ifzvk
