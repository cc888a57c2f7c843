// The picture as the host receives it: a BITMAPINFOHEADER block and the bits of
// a 24-bit bottom-up DIB with rows padded to 4 bytes, both local memory that
// the host owns and frees with LocalFree.
#pragma once

#include <cstddef>

#include "image/Image32.h"
#include "plugin/dib.h"
#include "plugin/susie.h"

namespace ifzvk {

// Reports progress, extracts the document's preview (1 x 1 when it has none)
// and hands the bitmap over: Success, Aborted, OutOfMemory or MemoryError.
ResultCode BuildBitmap(const unsigned char* document, std::size_t length, HLOCAL* pHBInfo, HLOCAL* pHBm,
                ProgressCallback lpPrgressCallback, SusieData lData);

// Allocates, fills and unlocks the two blocks for the top-left width x height
// pixels of the image (width, height >= 1). On OutOfMemory and MemoryError no
// block is left and both host variables hold null.
ResultCode WriteBitmap(const qoru::CImage32& image, int width, int height, HLOCAL* pHBInfo, HLOCAL* pHBm);

}  // namespace ifzvk
