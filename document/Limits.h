// What one picture request may cost, whatever a document claims, with the
// reasons for each number. Every size taken from a document goes through the
// checked arithmetic of platform/checked_size.h before it sizes a block or a
// copy.
//
// The rule behind them: a block is sized by bytes the document has shown (its
// own length, or output a stream has really produced), never by a size it
// merely declares. Sizes that only a decoder's output can prove (a preview's
// width x height x 4) are checked against that output before the image is
// allocated. The XML section is bounded in what TinyXML may be handed, since
// TinyXML's cost grows with nesting, attributes and nodes, not with bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/checked_size.h"

namespace ifzvk::limits {

// The most bytes one document may have, from its magic to its end: the
// plug-in module reads a document with one ReadFile call, whose count has 32
// bits, and every size inside a document has 32 bits too. The viewers'
// plug-ins refuse larger files before they hold any of their bytes.
constexpr std::uint64_t kMaxDocumentBytes = 0xFFFFFFFFu;

// A preview with a side of 0 and the other side positive is shown as
// a black strip one pixel wide (or high) along that other side; documents rely
// on it. Its pixels come from no record data, so nothing in the document backs
// its length: it costs 4 bytes per pixel in the image and 4 more in the
// host's bitmap (a one-pixel row is padded to 4 bytes). 65535 is the longest
// side that formats with 16-bit sizes (JPEG, GIF) can state, far beyond any
// real preview, and caps a strip at 256 KiB in the image plus 256 KiB in the
// bitmap. A longer strip is no usable preview.
constexpr std::uint32_t kMaxStripLength = 65535;

// Output of a compressed record beyond the preview's bytes is inflated into a
// scratch block of this size and dropped: the stream must still reach its end
// and its Adler-32 trailer, but its tail needs no room of its own.
constexpr std::uint32_t kInflateScratchBytes = 64 * 1024;

// The first block for a compressed record's output, when more bytes than
// this are wanted. It doubles each time the stream fills it, up to the bytes
// wanted, so a stream that stops early has cost at most three times what it
// produced (the full block and its successor, while the heap copies one into
// the other). Sizing it by the stream's length instead would save growing, but a
// damaged stream of many megabytes would then cost a block of that order
// without producing a byte.
constexpr std::uint32_t kInflateFirstBlockBytes = 64 * 1024;

// ---- XML section: what TinyXML may be handed (checked by XmlGuard) ----

// TinyXML parses and destroys its tree recursively, one set of stack frames
// per level of element nesting: 10,000 levels overflow a 1 MiB thread stack.
// 256 is libxml2's default limit; TinyXML reads 256 levels in under 64 KiB of
// stack (x86-64, measured), a fraction of any thread's stack.
constexpr int kMaxXmlDepth = 256;

// TinyXML looks for a duplicate among the element's earlier attributes before
// it adds one, n^2/2 comparisons for n attributes (100,000 took 36 s). At 256
// an element costs at most 32,640 comparisons, well under a millisecond, and
// together with kMaxXmlNodes a whole document at most ~8.4 million. Real
// descriptions carry a few dozen attributes at most.
constexpr int kMaxXmlAttributesPerElement = 256;

// TinyXML spends, measured, 224 bytes on an element and 112 to 128 on an
// attribute, a text, a comment or any other node, however few bytes of XML
// they take ("<>" is a node of 2 bytes): 5,000,000 empty siblings (20 MB)
// peaked at 1.14 GB. 65,536 nodes and attributes bound the tree at about
// 14 MiB and a quarter of a second, while a document description holds tens
// to a few thousand of them.
constexpr long kMaxXmlNodes = 65536;

}  // namespace ifzvk::limits
