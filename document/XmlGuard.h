// A scan of the XML section before TinyXML parses it, rejecting what would
// overflow the host's stack, stall it or make TinyXML's tree cost far more
// than the document's bytes (the limits are in document/Limits.h).
//
// The scan follows TinyXML 2.6.2's own tokenisation: comments, CDATA,
// declarations, "<!...>" and other unknown markup, quoted attribute values
// with their numeric character references, empty elements and end tags are
// read where and as TinyXML reads them, so markup hidden inside them is not
// counted, and nothing that TinyXML would parse is passed over. It reads
// the bytes once, allocates nothing and never recurses.
#pragma once

#include <cstddef>

namespace ifzvk {

enum class XmlVerdict {
  Loadable,           // within every limit; TinyXML may still refuse it
  TooDeep,            // elements nested deeper than kMaxXmlDepth
  TooManyAttributes,  // an element with more than kMaxXmlAttributesPerElement
  TooManyNodes,       // more than kMaxXmlNodes nodes and attributes
  Malformed,          // TinyXML would stop on it with an error (or might read it otherwise than the scan)
};

// Judges the size bytes at text as TinyXML would see them from a file of
// those bytes (it stops at the first NUL byte).
XmlVerdict ScanXml(const unsigned char* text, std::size_t size);

}  // namespace ifzvk
