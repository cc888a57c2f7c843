// The thumbnail of a document held in memory, as Explorer takes it.
#pragma once

#include "explorer/Handler.h"

#include <cstddef>

namespace qoru {

// Puts the document's preview, scaled by area averaging to fit within
// box x box pixels with its aspect kept (never enlarged), into a new 32-bit
// top-down DIB section, and answers S_OK. Without a usable preview it answers
// a failure and makes no bitmap, so that Explorer keeps its own icon:
//   HRESULT_FROM_WIN32(ERROR_BAD_FORMAT)    not a zorvik document
//   HRESULT_FROM_WIN32(ERROR_INVALID_DATA)  a zorvik document without a usable preview
//   E_OUTOFMEMORY                           a block or the bitmap could not be had
// Safe on any number of threads at once.
HRESULT MakeThumbnail(const unsigned char* document, std::size_t length, UINT box, HBITMAP& bitmap) noexcept;

}  // namespace qoru
