// Limits that keep a hostile document from costing the host more than its
// bytes justify. Each says what it bounds and why the number.
#pragma once

#include <cstddef>

namespace ifzvk {

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

}  // namespace ifzvk
