#include "gdkpixbuf/ArrivingDocument.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "document/Container.h"
#include "document/thumbnail.h"
#include "image/Image32.h"

namespace qoru {

void SetNotADocument(GError** error) {
  g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "Not a zorvik document");
}

void SetOutOfMemory(GError** error, const char* detail) {
  if (detail == nullptr) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                        "Not enough memory to load the zorvik document");
  } else {
    g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                "Not enough memory to load the zorvik document (%s)", detail);
  }
}

bool CArrivingDocument::Append(const unsigned char* bytes, std::size_t count, GError** error) noexcept {
  if (count > ifzvk::limits::kMaxDocumentBytes - bytes_.size()) {
    SetOutOfMemory(error, "it is larger than 4 GiB");
    return false;
  }
  const std::size_t magicBefore = std::min(bytes_.size(), sizeof ifzvk::kDocumentMagic);
  try {
    bytes_.insert(bytes_.end(), bytes, bytes + count);
  } catch (const std::bad_alloc&) {
    SetOutOfMemory(error);
    return false;
  }
  // Only the magic's bytes that have just arrived need a look.
  const std::size_t magicNow = std::min(bytes_.size(), sizeof ifzvk::kDocumentMagic);
  if (std::memcmp(bytes_.data() + magicBefore, ifzvk::kDocumentMagic + magicBefore, magicNow - magicBefore) != 0) {
    SetNotADocument(error);
    return false;
  }
  return true;
}

namespace {

// Copies the preview into the pixbuf: blue, green and red of each 32-bit
// pixel become its R, G, B bytes; the top byte is not a colour and is dropped.
void CopyPreview(const CImage32& image, GdkPixbuf* pixbuf) {
  guchar* rows = gdk_pixbuf_get_pixels(pixbuf);
  const std::size_t stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf));
  for (int y = 0; y < image.height; ++y) {
    guchar* out = rows + static_cast<std::size_t>(y) * stride;
    const std::uint32_t* in = image.PixelAddress(0, y);
    for (int x = 0; x < image.width; ++x, out += 3) {
      out[0] = static_cast<guchar>(in[x] >> 16);
      out[1] = static_cast<guchar>(in[x] >> 8);
      out[2] = static_cast<guchar>(in[x]);
    }
  }
}

}  // namespace

GdkPixbuf* DecodeDocumentPixbuf(const unsigned char* data, std::size_t length, GError** error) noexcept {
  CImage32 image;
  const ifzvk::PreviewProblem problem = ifzvk::ReadDocumentPreview(data, length, image);
  switch (problem) {
    case ifzvk::PreviewProblem::None:
      break;
    case ifzvk::PreviewProblem::NotADocument:
      SetNotADocument(error);
      return nullptr;
    case ifzvk::PreviewProblem::OutOfMemory:
      SetOutOfMemory(error);
      return nullptr;
    default:
      g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                  "The zorvik document has no usable preview (%s)", ifzvk::DescribePreviewProblem(problem));
      return nullptr;
  }
  // gdk_pixbuf_new refuses sizes whose bytes overflow and answers null when
  // memory runs out, instead of aborting as g_malloc would.
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, image.width, image.height);
  if (pixbuf == nullptr) {
    SetOutOfMemory(error);
    return nullptr;
  }
  CopyPreview(image, pixbuf);
  return pixbuf;
}

}  // namespace qoru
