// Puts a document's stored preview picture into an image.
#pragma once

#include <cstddef>

#include "image/Image32.h"

namespace ifzvk {

// True when the preview of the document image (length bytes at document,
// magic already checked) now fills the image; false when there is none.
bool ExtractThumbnail(const unsigned char* document, std::size_t length, qoru::CImage32& image) noexcept;

}  // namespace ifzvk
