// Puts a document's stored preview picture into an image.
//
// The XML section reaches TinyXML one of two ways, which give the same answer
// for every document:
//  - XmlRoute::TemporaryFile, the plug-in module's: through a temporary file,
//    "_zvk-spi-tmp_.xml" in the current directory. The file is always one the
//    extraction creates itself (platform/own_file.h): a name taken by anything
//    else gives no preview. It is deleted before the call returns, on every
//    path. Two such extractions must not run at once in one current directory.
//  - XmlRoute::Memory, for viewers that decode on several threads: parsed from
//    a copy in memory, with the line ends normalised as TinyXML's LoadFile
//    does. It touches no file and no shared state, so any number of threads
//    may extract at once.
#pragma once

#include <cstddef>
#include <string>

#include "image/Image32.h"

class TiXmlElement;

namespace ifzvk {

constexpr const char* kTemporaryXmlFile = "_zvk-spi-tmp_.xml";

// Why a document gives no preview; None when it gives one.
enum class PreviewProblem {
  None,
  NotADocument,       // shorter than the header, or no magic
  BadLayout,          // the header's section sizes do not fit the document
  NoTemporaryFile,    // the temporary file could not be made (its route only)
  XmlRejected,        // the XML section is beyond the limits of document/Limits.h
  XmlNotLoaded,       // TinyXML does not load the XML section
  NoPreviewElement,   // no Thumb element directly inside Zorvik
  BadPreviewSize,     // width or height not a number, negative, or too large
  RecordMissing,      // no record of the preview's name
  RecordBroken,       // the record or the records before it are damaged, or too short for the preview
  OutOfMemory,        // a block could not be had
};

// A short English sentence for a user, e.g. "the preview's record is missing".
const char* DescribePreviewProblem(PreviewProblem problem);

enum class XmlRoute { TemporaryFile, Memory };

// Fills the image with the preview of the document image (length bytes at
// document, magic already checked) and answers None, or answers why there is
// none. The image is resized only once the record has given the preview's
// bytes, so a size that the XML merely states allocates nothing; its size
// means nothing after a problem.
PreviewProblem ExtractThumbnail(const unsigned char* document, std::size_t length, qoru::CImage32& image,
                                XmlRoute route = XmlRoute::TemporaryFile) noexcept;

// The whole of a document file as viewers read it (length bytes at data):
// checks the header's magic, then extracts through XmlRoute::Memory.
PreviewProblem ReadDocumentPreview(const unsigned char* data, std::size_t length, qoru::CImage32& image) noexcept;

// The attribute's value, or an empty text when the element has none.
std::string AttributeText(const TiXmlElement& element, const char* name);

// An empty text is 0; anything else must be an optional sign and decimal
// digits within the int range, or boost::bad_lexical_cast is thrown.
int TextToInt(const std::string& text);

}  // namespace ifzvk
