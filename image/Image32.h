// The in-memory picture that carries a preview from the document reader to the
// bitmap writer: width x height pixels of 32 bits, row 0 on top.
#pragma once

#include <cstdint>

namespace qoru {

// A size record: the picture's dimensions and values derived from them.
class CImageBase {
 public:
  int width = 0;
  int height = 0;
  int rowBytes = 0;         // ceil(width * bytesPerPixel); no row alignment added
  bool squarePow2 = false;  // width == height and a power of two
  int mask = 0;             // width - 1 for square pictures, else 0

  void SetSize(int newWidth, int newHeight, double bytesPerPixel);
};

bool IsPowerOfTwo(int value);

// Pixels are little-endian 32-bit values: blue in bits 0-7, green 8-15,
// red 16-23; bits 24-31 are carried but never used.
class CImage32 : public CImageBase {
 public:
  std::uint32_t* pixels = nullptr;  // width * height values, or null

  CImage32();
  virtual ~CImage32();
  CImage32(const CImage32&) = delete;
  CImage32& operator=(const CImage32&) = delete;

  virtual void FreePixels();
  // Gives the image a new size (each side raised to at least 1) and a new,
  // zero-filled buffer. False, with no buffer held, when the buffer cannot be
  // allocated or its byte count does not fit in 32 bits.
  virtual bool Resize(int newWidth, int newHeight);
  // Takes `block`, newWidth x newHeight pixels (both at least 1) in a block
  // from the C heap, as the image's buffer in place of its own, so that
  // decoded pixels need no second buffer and no copy. The image frees it.
  void AdoptPixels(int newWidth, int newHeight, std::uint32_t* block);

  std::uint32_t* PixelAddress(int x, int y) const;
  std::uint32_t GetPixel(int x, int y) const;
};

}  // namespace qoru
