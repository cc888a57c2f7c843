#include "document/thumbnail.h"

#include <tinyxml.h>

#include <boost/lexical_cast.hpp>
#include <cstdint>
#include <cstring>
#include <string>

#include "document/Container.h"
#include "document/FileSeek.h"
#include "document/Limits.h"
#include "document/PackerDecode.h"
#include "document/XmlGuard.h"
#include "platform/win32.h"

namespace ifzvk {
namespace {

// Deletes the temporary file when it goes out of scope, if the writer made
// it. Declared after the writer, the decoder and the XML tree, it runs before
// they are destroyed, whichever way the extraction ends.
struct TemporaryFileRemover {
  qoru::CFileSeek& writer;
  ~TemporaryFileRemover() { writer.Discard(); }
};

// True when the text ends inside a UTF-8 sequence, as TinyXML measures one:
// a lead byte 0xC2-0xDF takes 2 bytes, 0xE0-0xEF 3 and 0xF0-0xF4 4. TinyXML
// steps over a whole sequence at once without looking for the end of its
// buffer, so such a text makes it read past the end. It is never well-formed
// XML either, and is treated like any other text that does not load.
bool EndsInsideUtf8Sequence(const unsigned char* text, std::size_t size) {
  const std::size_t first = size > 3 ? size - 3 : 0;
  for (std::size_t at = first; at < size; ++at) {
    const unsigned char lead = text[at];
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    if (at + length > size) return true;
  }
  return false;
}

// The bytes a width x height preview takes from its record, in *bytes. A
// side of 0 makes a black strip along the other side, which takes none, up
// to its length limit. False for a negative side, a longer strip, or a count
// beyond 32 bits (no record holds more).
bool PreviewBytes(int width, int height, std::uint32_t* bytes) {
  if (width < 0 || height < 0) return false;
  if (width == 0 || height == 0) {
    *bytes = 0;
    return static_cast<std::uint32_t>(width > height ? width : height) <= limits::kMaxStripLength;
  }
  return !MulOverflows<std::uint32_t>(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 4u, bytes);
}

PreviewProblem FromDecodeStatus(qoru::DecodeStatus status) {
  switch (status) {
    case qoru::DecodeStatus::Decoded: return PreviewProblem::None;
    case qoru::DecodeStatus::Missing: return PreviewProblem::RecordMissing;
    case qoru::DecodeStatus::NoMemory: return PreviewProblem::OutOfMemory;
    case qoru::DecodeStatus::Broken: break;
  }
  return PreviewProblem::RecordBroken;
}

// Decodes the preview's bytes from the record named `bin`, and only once they
// are all there gives them to the image as its buffer: the sizes that the XML
// states allocate nothing until the record's own data have shown them. A
// strip (a side of 0) takes no bytes and gets a buffer of its own.
PreviewProblem CopyPreview(const qoru::CPackerDecode& decoder, const std::string& bin, int width, int height,
                           qoru::CImage32& image) {
  std::uint32_t bytes = 0;
  if (!PreviewBytes(width, height, &bytes)) return PreviewProblem::BadPreviewSize;
  void* block = nullptr;
  qoru::DecodeStatus status = qoru::DecodeStatus::Missing;
  if (!decoder.DecodeFirst(bin.c_str(), bytes, nullptr, &block, &status)) return FromDecodeStatus(status);
  if (bytes == 0) return image.Resize(width, height) ? PreviewProblem::None : PreviewProblem::OutOfMemory;
  // The block holds exactly width x height pixels, rows from the top.
  image.AdoptPixels(width, height, static_cast<std::uint32_t*>(block));
  return PreviewProblem::None;
}

// Finds Zorvik, then its first direct child Thumb, reads the preview's size
// and record name, and fills the image.
PreviewProblem ReadPreview(const TiXmlDocument& tree, const qoru::CPackerDecode& decoder, qoru::CImage32& image) {
  const TiXmlElement* root = tree.FirstChildElement("Zorvik");
  if (root == nullptr) return PreviewProblem::NoPreviewElement;
  const TiXmlElement* thumb = root->FirstChildElement("Thumb");
  if (thumb == nullptr) return PreviewProblem::NoPreviewElement;

  const std::string widthText = AttributeText(*thumb, "width");
  const std::string heightText = AttributeText(*thumb, "height");
  const std::string bin = AttributeText(*thumb, "bin");
  int width = 0;
  int height = 0;
  try {
    width = TextToInt(widthText);
    height = TextToInt(heightText);
  } catch (const boost::bad_lexical_cast&) {
    return PreviewProblem::BadPreviewSize;
  }
  return CopyPreview(decoder, bin, width, height, image);
}

// The checks both routes make before TinyXML sees the XML section: None, or
// why TinyXML must not be handed it.
PreviewProblem CheckXml(const DocumentSections& sections) {
  const auto size = static_cast<std::size_t>(sections.xmlSize);
  if (EndsInsideUtf8Sequence(sections.xml, size)) return PreviewProblem::XmlNotLoaded;
  switch (ScanXml(sections.xml, size)) {
    case XmlVerdict::Loadable: return PreviewProblem::None;
    case XmlVerdict::Malformed: return PreviewProblem::XmlNotLoaded;
    default: return PreviewProblem::XmlRejected;
  }
}

// TinyXML's LoadFile(FILE*) without the file: an empty section is an error,
// the text ends at its first NUL byte, CR LF and lone CR become LF, and the
// result is parsed with the encoding detected from the text.
bool ParseLikeLoadFile(const DocumentSections& sections, TiXmlDocument& tree) {
  if (sections.xmlSize == 0) return false;
  const char* text = reinterpret_cast<const char*>(sections.xml);
  const char* end = text + sections.xmlSize;
  const char* nul = static_cast<const char*>(std::memchr(text, '\0', static_cast<std::size_t>(sections.xmlSize)));
  if (nul != nullptr) end = nul;
  std::string normalised;
  normalised.reserve(static_cast<std::size_t>(end - text) + 4);
  for (const char* at = text; at < end; ++at) {
    if (*at != '\r') {
      normalised += *at;
      continue;
    }
    normalised += '\n';
    if (at + 1 < end && at[1] == '\n') ++at;
  }
  // TinyXML steps over a whole UTF-8 sequence at once; should a lead byte
  // come just before the end of the text, spare NULs keep its steps inside
  // the string, as the rest of the file's block does for LoadFile.
  normalised.append(4, '\0');
  tree.Parse(normalised.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  return !tree.Error();
}

PreviewProblem ExtractThroughMemory(const DocumentSections& sections, qoru::CImage32& image) {
  qoru::CPackerDecode decoder;
  if (!decoder.OpenMemory(sections.bin, sections.binSize)) return PreviewProblem::OutOfMemory;
  const PreviewProblem xml = CheckXml(sections);
  if (xml != PreviewProblem::None) return xml;
  TiXmlDocument tree;
  if (!ParseLikeLoadFile(sections, tree)) return PreviewProblem::XmlNotLoaded;
  return ReadPreview(tree, decoder, image);
}

PreviewProblem ExtractThroughFile(const DocumentSections& sections, qoru::CImage32& image) {
  qoru::CFileSeek writer;
  qoru::CPackerDecode decoder;
  TiXmlDocument tree;
  TemporaryFileRemover remover{writer};

  if (!writer.Open(kTemporaryXmlFile)) return PreviewProblem::NoTemporaryFile;
  writer.Write(sections.xml, sections.xmlSize);  // a short write leaves XML that will not load

  // The decoder takes its copy of the bin section before the XML is looked at.
  if (!decoder.OpenMemory(sections.bin, sections.binSize)) return PreviewProblem::OutOfMemory;
  const PreviewProblem xml = CheckXml(sections);
  if (xml != PreviewProblem::None) return xml;
  // Read back through the stream that wrote it, so it is the very bytes
  // written: TinyXML seeks to the end to measure the file and rewinds, as it
  // does for a file it opens by name.
  if (!tree.LoadFile(writer.file, TIXML_ENCODING_UNKNOWN)) return PreviewProblem::XmlNotLoaded;
  return ReadPreview(tree, decoder, image);
}

}  // namespace

std::string AttributeText(const TiXmlElement& element, const char* name) {
  const char* value = element.Attribute(name);
  return value != nullptr ? std::string(value) : std::string();
}

int TextToInt(const std::string& text) {
  if (text.empty()) return 0;
  return boost::lexical_cast<int>(text);
}

const char* DescribePreviewProblem(PreviewProblem problem) {
  switch (problem) {
    case PreviewProblem::None: return "the preview is usable";
    case PreviewProblem::NotADocument: return "not a zorvik document";
    case PreviewProblem::BadLayout: return "the document's section sizes do not fit the file";
    case PreviewProblem::NoTemporaryFile: return "the temporary XML file could not be created";
    case PreviewProblem::XmlRejected: return "the XML description is nested too deeply or has too many parts";
    case PreviewProblem::XmlNotLoaded: return "the XML description is not well-formed";
    case PreviewProblem::NoPreviewElement: return "the description names no preview";
    case PreviewProblem::BadPreviewSize: return "the preview's size is not valid";
    case PreviewProblem::RecordMissing: return "the preview's record is missing";
    case PreviewProblem::RecordBroken: return "the preview's record is damaged";
    case PreviewProblem::OutOfMemory: return "out of memory";
  }
  return "unknown problem";
}

PreviewProblem ExtractThumbnail(const unsigned char* document, std::size_t length, qoru::CImage32& image,
                                XmlRoute route) noexcept {
  DocumentSections sections{};
  if (!LocateSections(document, length, sections)) return PreviewProblem::BadLayout;
  try {
    return route == XmlRoute::Memory ? ExtractThroughMemory(sections, image) : ExtractThroughFile(sections, image);
  } catch (...) {
    // Exhausted memory in the texts, the XML tree or the decoder: no preview.
    // The locals, the remover among them, have already done their clean-up.
    return PreviewProblem::OutOfMemory;
  }
}

PreviewProblem ReadDocumentPreview(const unsigned char* data, std::size_t length, qoru::CImage32& image) noexcept {
  if (data == nullptr || length < kDocumentHeaderSize || !HasDocumentMagic(data)) return PreviewProblem::NotADocument;
  return ExtractThumbnail(data, length, image, XmlRoute::Memory);
}

}  // namespace ifzvk
