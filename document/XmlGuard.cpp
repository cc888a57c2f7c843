#include "document/XmlGuard.h"

#include <cstring>
#include <initializer_list>

#include "document/Limits.h"

namespace qoru {
namespace {

using ifzvk::XmlVerdict;

// TinyXML's reading mode: UTF-8 after a byte-order mark, or after the first
// top-level declaration unless it names another encoding. Only in UTF-8 mode
// does it step over a multi-byte sequence at once.
enum class Encoding { Unknown, Utf8, Legacy };

// isspace in the C locale.
bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(unsigned char c) { return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }
// TinyXML takes every byte from 0x7F up for a letter.
bool IsNameStart(unsigned char c) { return ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_' || c >= 0x7F; }
bool IsNameChar(unsigned char c) { return IsNameStart(c) || IsDigit(c) || c == '-' || c == '.' || c == ':'; }
bool IsQuote(unsigned char c) { return c == '\'' || c == '"'; }
unsigned char Lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c | 0x20) : c; }

// How many bytes TinyXML takes for the sequence that the byte leads.
int Utf8Length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

// Walks the text the way TinyXML's parser does, with a depth counter in
// place of its recursion. Each method mirrors the TinyXML function that
// reads the same construct and leaves at_ where that function leaves its
// pointer; false means the verdict is settled.
class CXmlScan {
 public:
  CXmlScan(const unsigned char* text, std::size_t size) : text_(text), end_(size) {
    // TinyXML reads the file as a C string: the first NUL byte ends it.
    const void* nul = size > 0 ? std::memchr(text, 0, size) : nullptr;
    if (nul != nullptr) end_ = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - text);
  }

  XmlVerdict Run() {
    if (StartsWith("\xEF\xBB\xBF")) encoding_ = Encoding::Utf8;
    for (;;) {
      const bool going = depth_ == 0 ? TopLevelStep() : ContentStep();
      if (!going) return verdict_;
    }
  }

 private:
  unsigned char At(std::size_t at) const { return at < end_ ? text_[at] : 0; }
  unsigned char Here() const { return At(at_); }

  bool StartsWith(const char* tag, bool ignoreCase = false) const {
    for (std::size_t i = 0; tag[i] != '\0'; ++i) {
      const unsigned char want = static_cast<unsigned char>(tag[i]);
      const unsigned char have = At(at_ + i);
      if (ignoreCase ? Lower(have) != Lower(want) : have != want) return false;
    }
    return true;
  }

  void SkipSpace() {
    while (IsSpace(Here())) ++at_;
  }

  // Moves past the first `tag` from here on, or to the end without one.
  bool SkipPast(const char* tag) {
    while (Here() != 0 && !StartsWith(tag)) ++at_;
    if (Here() == 0) return false;
    at_ += std::strlen(tag);
    return true;
  }

  bool Stop(XmlVerdict verdict) {
    verdict_ = verdict;
    return false;
  }

  bool CountNode() { return ++nodes_ <= ifzvk::limits::kMaxXmlNodes || Stop(XmlVerdict::TooManyNodes); }

  // Outside the root: white space and nodes. TinyXML stops at anything else
  // without complaint. A byte from 0x80 up might be white space to it (a
  // byte-order mark in UTF-8 mode, or the host's locale), so the scan goes on
  // over such bytes, as if they were.
  bool TopLevelStep() {
    SkipSpace();
    const unsigned char c = Here();
    if (c == 0) return Stop(XmlVerdict::Loadable);
    if (c == '<') return Node(true);
    if (c < 0x80) return Stop(XmlVerdict::Loadable);
    ++at_;
    return true;
  }

  // Inside an element: text, its end tag or another node.
  bool ContentStep() {
    SkipSpace();
    if (Here() == 0) return Stop(XmlVerdict::Malformed);  // an element left open
    if (Here() != '<') return Text();
    if (At(at_ + 1) != '/') return Node(false);
    // An end tag: TinyXML accepts only "</" + the element's name + white
    // space + ">", and stops with an error on anything else.
    if (!SkipPast(">")) return Stop(XmlVerdict::Malformed);
    --depth_;
    return true;
  }

  // TiXmlNode::Identify, then the node's own Parse.
  bool Node(bool topLevel) {
    if (!CountNode()) return false;
    if (StartsWith("<?xml", true)) return Declaration(topLevel);
    if (StartsWith("<!--")) {
      at_ += 4;
      SkipPast("-->");
    } else if (StartsWith("<![CDATA[")) {
      at_ += 9;
      SkipPast("]]>");
    } else if (IsNameStart(At(at_ + 1))) {
      return Element();
    } else {
      // Anything else, "<!DOCTYPE ...>" among it, runs to the first '>'.
      ++at_;
      SkipPast(">");
    }
    return true;
  }

  bool Element() {
    if (depth_ + 1 > ifzvk::limits::kMaxXmlDepth) return Stop(XmlVerdict::TooDeep);
    ++at_;
    while (IsNameChar(Here())) ++at_;
    int attributes = 0;
    for (;;) {
      SkipSpace();
      const unsigned char c = Here();
      if (c == 0) return Stop(XmlVerdict::Malformed);
      if (c == '/') {
        if (At(at_ + 1) != '>') return Stop(XmlVerdict::Malformed);
        at_ += 2;
        return true;
      }
      if (c == '>') {
        ++at_;
        ++depth_;
        return true;
      }
      if (++attributes > ifzvk::limits::kMaxXmlAttributesPerElement) return Stop(XmlVerdict::TooManyAttributes);
      if (!CountNode() || !Attribute(nullptr, nullptr)) return false;
    }
  }

  // name = value, the value quoted or running to white space, '/' or '>'.
  // The value's bytes, quotes excluded, go to valueFrom/valueTo when given.
  bool Attribute(std::size_t* valueFrom, std::size_t* valueTo) {
    if (!IsNameStart(Here())) return Stop(XmlVerdict::Malformed);
    while (IsNameChar(Here())) ++at_;
    SkipSpace();
    if (Here() != '=') return Stop(XmlVerdict::Malformed);
    ++at_;
    SkipSpace();
    const unsigned char quote = Here();
    const std::size_t from = IsQuote(quote) ? at_ + 1 : at_;
    if (IsQuote(quote)) {
      ++at_;
      if (!TextUntil(quote)) return false;
      ++at_;
    } else {
      for (unsigned char c = Here(); c != 0 && !IsSpace(c) && c != '/' && c != '>'; c = Here()) {
        if (IsQuote(c)) return Stop(XmlVerdict::Malformed);
        ++at_;
      }
    }
    if (valueFrom != nullptr) {
      *valueFrom = from;
      *valueTo = IsQuote(quote) ? at_ - 1 : at_;
    }
    // TinyXML counts a value that ends the text as a failure.
    return Here() != 0 || Stop(XmlVerdict::Malformed);
  }

  // Character data up to `end`, read as TinyXML's GetChar reads it.
  bool TextUntil(unsigned char end) {
    for (unsigned char c = Here(); c != end; c = Here()) {
      if (c == 0) return Stop(XmlVerdict::Malformed);
      if (c == '&') {
        if (!Reference()) return false;
        continue;
      }
      if (!Utf8SequenceIsWhole()) return Stop(XmlVerdict::Malformed);
      ++at_;
    }
    return true;
  }

  bool Text() {
    if (!CountNode() || !TextUntil('<')) return false;
    return At(at_ + 1) != 0 || Stop(XmlVerdict::Malformed);
  }

  // In UTF-8 mode TinyXML steps over a lead byte's whole sequence without
  // looking at the bytes it passes, so a '<' or a quote right after a lead
  // byte would be hidden from it. A sequence of continuation bytes hides no
  // ASCII: then reading byte by byte, as this scan does, sees the same.
  bool Utf8SequenceIsWhole() const {
    if (encoding_ != Encoding::Utf8) return true;
    const int length = Utf8Length(Here());
    for (int i = 1; i < length; ++i) {
      if ((At(at_ + static_cast<std::size_t>(i)) & 0xC0) != 0x80) return false;
    }
    return true;
  }

  // TinyXML's GetEntity at '&'. "&#" is followed to the first ';', however
  // far, and taken whole when the characters after the last '#' (or the last
  // 'x' for "&#x") are digits: whatever else lies between, markup and quotes
  // included, is passed over. Other references are read byte by byte.
  bool Reference() {
    if (At(at_ + 1) != '#' || At(at_ + 2) == 0) {
      ++at_;
      return true;
    }
    const bool hex = At(at_ + 2) == 'x';
    std::size_t at = at_ + (hex ? 3 : 2);
    const unsigned char marker = hex ? 'x' : '#';
    bool digitsOnly = true;
    for (unsigned char c = At(at); c != ';'; c = At(++at)) {
      if (c == 0) return Stop(XmlVerdict::Malformed);
      if (c == marker) digitsOnly = true;
      else if (!(hex ? IsHexDigit(c) : IsDigit(c))) digitsOnly = false;
    }
    if (!digitsOnly) return Stop(XmlVerdict::Malformed);
    at_ = at + 1;
    return true;
  }

  // TiXmlDeclaration::Parse: version, encoding and standalone are read as
  // attributes, anything else up to white space or '>' is passed over. The
  // first top-level declaration sets TinyXML's mode. A failed declaration
  // ends TinyXML's reading, with an error inside an element.
  bool Declaration(bool topLevel) {
    at_ += 5;
    std::size_t encodingFrom = 0;
    std::size_t encodingTo = 0;
    for (;;) {
      if (Here() == 0) return Stop(XmlVerdict::Malformed);
      if (Here() == '>') break;
      SkipSpace();
      if (Here() == 0) return Stop(XmlVerdict::Malformed);
      if (StartsWith("version", true) || StartsWith("standalone", true)) {
        if (!Attribute(nullptr, nullptr)) return false;
      } else if (StartsWith("encoding", true)) {
        if (!Attribute(&encodingFrom, &encodingTo)) return false;
      } else {
        for (unsigned char c = Here(); c != 0 && c != '>' && !IsSpace(c); c = Here()) {
          // White space to TinyXML in some locales: it might read an attribute here.
          if (c >= 0x80) return Stop(XmlVerdict::Malformed);
          ++at_;
        }
      }
    }
    ++at_;
    if (topLevel && encoding_ == Encoding::Unknown) encoding_ = DeclaredEncoding(encodingFrom, encodingTo);
    return true;
  }

  // UTF-8 unless the value names another encoding. A value with a reference
  // in it might spell UTF-8 once decoded, so it counts as UTF-8.
  Encoding DeclaredEncoding(std::size_t from, std::size_t to) const {
    if (from == to || std::memchr(text_ + from, '&', to - from) != nullptr) return Encoding::Utf8;
    for (const char* utf8 : {"utf-8", "utf8"}) {
      const std::size_t length = std::strlen(utf8);
      bool same = to - from >= length;
      for (std::size_t i = 0; same && i < length; ++i) same = Lower(text_[from + i]) == static_cast<unsigned char>(utf8[i]);
      if (same) return Encoding::Utf8;
    }
    return Encoding::Legacy;
  }

  const unsigned char* text_;
  std::size_t end_;
  std::size_t at_ = 0;
  int depth_ = 0;
  long nodes_ = 0;
  Encoding encoding_ = Encoding::Unknown;
  XmlVerdict verdict_ = XmlVerdict::Loadable;
};

}  // namespace
}  // namespace qoru

namespace ifzvk {

XmlVerdict ScanXml(const unsigned char* text, std::size_t size) {
  if (text == nullptr) return XmlVerdict::Loadable;
  return qoru::CXmlScan(text, size).Run();
}

}  // namespace ifzvk
