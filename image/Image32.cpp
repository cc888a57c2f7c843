#include "image/Image32.h"

#include <cmath>
#include <cstring>

#include "platform/checked_size.h"
#include "platform/memory.h"

namespace qoru {

bool IsPowerOfTwo(int value) {
  // Bits 0 to 30 only: a second set bit decides; bit 31 is never examined.
  int setBits = 0;
  for (int bit = 0; bit <= 30; ++bit) {
    if ((value & (1 << bit)) != 0 && ++setBits > 1) return false;
  }
  return true;
}

void CImageBase::SetSize(int newWidth, int newHeight, double bytesPerPixel) {
  width = newWidth;
  height = newHeight;
  // A row of more than 2^31 - 1 bytes has no int value: rowBytes then holds
  // the low 32 bits of the byte count. The module addresses pixels through
  // width, never through rowBytes, so all that matters for such a row is
  // that the conversion does not overflow.
  const double bytes = std::ceil(static_cast<double>(newWidth) * bytesPerPixel);
  if (bytes >= -2147483648.0 && bytes < 2147483648.0) {
    rowBytes = static_cast<int>(bytes);
  } else if (std::isfinite(bytes)) {
    const double low = std::fmod(bytes, 4294967296.0);  // exact, and within +-2^32
    rowBytes = static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int64_t>(low)));
  } else {
    rowBytes = 0;
  }
  squarePow2 = false;
  mask = 0;
  if (newWidth == newHeight) {
    squarePow2 = IsPowerOfTwo(newWidth);
    mask = newWidth - 1;
  }
}

CImage32::CImage32() { Resize(1, 1); }

CImage32::~CImage32() { CImage32::FreePixels(); }

void CImage32::FreePixels() {
  if (pixels != nullptr) {
    ifzvk::sys::FreeHeap(pixels);
    pixels = nullptr;
  }
}

bool CImage32::Resize(int newWidth, int newHeight) {
  if (newWidth == width && newHeight == height && pixels != nullptr) return true;
  FreePixels();
  if (newWidth < 1) newWidth = 1;
  if (newHeight < 1) newHeight = 1;
  SetSize(newWidth, newHeight, 4.0);

  // The byte count must fit in 32 bits (so in size_t too); refuse rather than wrap.
  std::uint32_t bytes = 0;
  if (ifzvk::MulOverflows<std::uint32_t>(static_cast<std::uint32_t>(newWidth), static_cast<std::uint32_t>(newHeight),
                                         4u, &bytes))
    return false;
  // A new buffer is cleared so that no stale heap bytes can reach the host:
  // a strip preview (a side of 0) gets no pixels from its record.
  pixels = static_cast<std::uint32_t*>(ifzvk::sys::AllocHeapZeroed(static_cast<std::size_t>(bytes)));
  return pixels != nullptr;
}

void CImage32::AdoptPixels(int newWidth, int newHeight, std::uint32_t* block) {
  FreePixels();
  SetSize(newWidth, newHeight, 4.0);
  pixels = block;
}

std::uint32_t* CImage32::PixelAddress(int x, int y) const {
  if (pixels == nullptr) return nullptr;
  if (static_cast<std::uint32_t>(x) >= static_cast<std::uint32_t>(width) ||
      static_cast<std::uint32_t>(y) >= static_cast<std::uint32_t>(height))
    return nullptr;
  return pixels + (static_cast<std::size_t>(x) + static_cast<std::size_t>(y) * static_cast<std::size_t>(width));
}

std::uint32_t CImage32::GetPixel(int x, int y) const {
  const std::uint32_t* address = PixelAddress(x, y);
  return address == nullptr ? 0 : *address;
}

}  // namespace qoru
