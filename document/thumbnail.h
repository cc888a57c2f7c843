// Puts a document's stored preview picture into an image.
//
// The XML section goes through a temporary file, "_zvk-spi-tmp_.xml" in the
// current directory, to the XML parser. The file is always one the extraction
// creates itself (platform/own_file.h): a name taken by anything else gives
// no preview. It is deleted before the call returns, on every path. Two
// extractions must not run at the same time in one current directory.
#pragma once

#include <cstddef>
#include <string>

#include "image/Image32.h"

class TiXmlElement;

namespace ifzvk {

constexpr const char* kTemporaryXmlFile = "_zvk-spi-tmp_.xml";

// True when the preview of the document image (length bytes at document,
// magic already checked) now fills the image; false when there is none. The
// image is resized only once the record has given the preview's bytes, so a
// size that the XML merely states allocates nothing; its size means nothing
// after false.
bool ExtractThumbnail(const unsigned char* document, std::size_t length, qoru::CImage32& image) noexcept;

// The attribute's value, or an empty text when the element has none.
std::string AttributeText(const TiXmlElement& element, const char* name);

// An empty text is 0; anything else must be an optional sign and decimal
// digits within the int range, or boost::bad_lexical_cast is thrown.
int TextToInt(const std::string& text);

}  // namespace ifzvk
