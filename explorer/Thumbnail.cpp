#include "explorer/Thumbnail.h"

#include "document/thumbnail.h"
#include "image/Image32.h"
#include "image/Scale.h"

namespace qoru {
namespace {

HRESULT ProblemResult(ifzvk::PreviewProblem problem) {
  switch (problem) {
    case ifzvk::PreviewProblem::None: return S_OK;
    case ifzvk::PreviewProblem::NotADocument: return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    case ifzvk::PreviewProblem::OutOfMemory: return E_OUTOFMEMORY;
    default: return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  }
}

// A DIB section of size.width x size.height pixels of 32 bits, row 0 on top
// (a negative height), and the address of its pixels.
HBITMAP NewTopDownBitmap(PictureSize size, std::uint32_t*& pixels) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size.width;
  info.bmiHeader.biHeight = -size.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  pixels = static_cast<std::uint32_t*>(bits);
  return bits != nullptr ? bitmap : nullptr;
}

}  // namespace

HRESULT MakeThumbnail(const unsigned char* document, std::size_t length, UINT box, HBITMAP& bitmap) noexcept {
  bitmap = nullptr;
  CImage32 preview;
  const HRESULT decoded = ProblemResult(ifzvk::ReadDocumentPreview(document, length, preview));
  if (FAILED(decoded)) return decoded;

  // Explorer asks for at most a few hundred pixels; a box beyond int only
  // means "any size".
  const PictureSize full{preview.width, preview.height};
  const PictureSize fitted = FitWithin(full, box > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(box));
  std::uint32_t* pixels = nullptr;
  HBITMAP made = NewTopDownBitmap(fitted, pixels);
  if (made == nullptr) return E_OUTOFMEMORY;
  // Rows of 32-bit pixels need no padding, so the section is one block of
  // fitted.width x fitted.height pixels, laid out as the image's.
  if (!ScaleByAreaAverage(preview.pixels, full, pixels, fitted)) {
    DeleteObject(made);
    return E_OUTOFMEMORY;
  }
  bitmap = made;
  return S_OK;
}

}  // namespace qoru
