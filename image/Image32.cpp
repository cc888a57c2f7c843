#include "image/Image32.h"

#include <cmath>
#include <cstring>
#include <limits>

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
  rowBytes = static_cast<int>(std::ceil(static_cast<double>(newWidth) * bytesPerPixel));
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

  // The byte count must fit in 32 bits (and in size_t); refuse rather than wrap.
  const std::uint64_t bytes = static_cast<std::uint64_t>(newWidth) * static_cast<std::uint64_t>(newHeight) * 4u;
  if (bytes > std::numeric_limits<std::uint32_t>::max() || bytes > std::numeric_limits<std::size_t>::max())
    return false;
  pixels = static_cast<std::uint32_t*>(ifzvk::sys::AllocHeap(static_cast<std::size_t>(bytes)));
  if (pixels == nullptr) return false;
  // A new buffer is cleared so that no stale heap bytes can reach the host.
  std::memset(pixels, 0, static_cast<std::size_t>(bytes));
  return true;
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
