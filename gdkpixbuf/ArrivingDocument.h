// The bytes of one document as a viewer hands them over, in pieces of any
// size, and the preview they hold as a GdkPixbuf or a GError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <glib.h>

#include "document/Limits.h"

typedef struct _GdkPixbuf GdkPixbuf;

namespace qoru {

// Every byte of the document so far, in one block that grows with what has
// really arrived; never sized from a length the document states.
class CArrivingDocument {
 public:
  // Adds count bytes. False, with error set, when the bytes so far cannot
  // start a document (checked against the magic as soon as each byte of it
  // arrives, so a foreign file is refused after its first bytes), when the
  // document grows past limits::kMaxDocumentBytes, or when memory runs out.
  bool Append(const unsigned char* bytes, std::size_t count, GError** error) noexcept;

  const unsigned char* Data() const { return bytes_.data(); }
  std::size_t Size() const { return bytes_.size(); }

 private:
  std::vector<unsigned char> bytes_;
};

// The preview of the document (length bytes at data) as a new RGB pixbuf,
// 8 bits per channel, no alpha; or null with error set (GDK_PIXBUF_ERROR:
// UNKNOWN_TYPE for something that is not a document, CORRUPT_IMAGE for a
// document without a usable preview, INSUFFICIENT_MEMORY).
GdkPixbuf* DecodeDocumentPixbuf(const unsigned char* data, std::size_t length, GError** error) noexcept;

// The three errors a viewer shows for a document.
void SetNotADocument(GError** error);
void SetOutOfMemory(GError** error, const char* detail = nullptr);

}  // namespace qoru
