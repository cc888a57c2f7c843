// The picture as the host receives it: a BITMAPINFOHEADER block and the bits of
// a 24-bit bottom-up DIB with rows padded to 4 bytes, both local memory that
// the host owns and frees with LocalFree.
#pragma once

#include <cstddef>

#include "image/Image32.h"
#include "plugin/susie.h"

namespace ifzvk {

// Bytes in one bitmap row: 3 x width rounded up to a multiple of 4.
inline std::size_t BitmapStride(int width) { return (3 * static_cast<std::size_t>(width) + 3) & ~std::size_t{3}; }

// Reports progress, extracts the document's preview (1 x 1 when it has none)
// and hands the bitmap over: Success, Aborted, OutOfMemory or MemoryError.
int BuildBitmap(const unsigned char* document, std::size_t length, HLOCAL* pHBInfo, HLOCAL* pHBm,
                ProgressCallback lpPrgressCallback, SusieData lData);

// Allocates, fills and unlocks the two blocks for the top-left width x height
// pixels of the image (width, height >= 1). On OutOfMemory and MemoryError no
// block is left and both host variables hold null.
int WriteBitmap(const qoru::CImage32& image, int width, int height, HLOCAL* pHBInfo, HLOCAL* pHBm);

}  // namespace ifzvk
