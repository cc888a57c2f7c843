#include "qt/ZvkImagePlugin.h"

#include <QIODevice>
#include <QImageReader>
#include <QVariant>
#include <QtEndian>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <limits>
#include <vector>

#include "document/Container.h"
#include "document/Limits.h"
#include "document/thumbnail.h"
#include "qt/DeviceBytes.h"

namespace qoru {
namespace {

const QByteArray kFormatName = QByteArrayLiteral("zvk");

// Whether the application lets a reader make a picture this large: Qt 6's
// QImageReader::allocationLimit(), in MiB, 0 for none. Qt 5 has no limit.
bool WithinAllocationLimit(const CImage32& preview) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  const int limitMiB = QImageReader::allocationLimit();
  const std::uint64_t bytes = std::uint64_t{4} * static_cast<std::uint32_t>(preview.width) *
                              static_cast<std::uint32_t>(preview.height);
  return limitMiB <= 0 || bytes <= static_cast<std::uint64_t>(limitMiB) << 20;
#else
  (void)preview;
  return true;
#endif
}

// The preview as a Qt picture that takes over the preview's pixel block: no
// copy, and never two pictures' memory at once. Each pixel's bits 24-31 mean
// nothing in a document, so they become 0xff, the opaque pixel Format_RGB32
// asks for; the rest already is Format_RGB32's layout. The block is the C
// heap's (CImage32), so the picture frees it with libc's free: a picture
// that outlives the plug-in (Qt may unload it first at exit) never calls
// into unloaded code. A null picture when it cannot be had.
QImage TakeAsQImage(CImage32& preview) {
  if (preview.pixels == nullptr || preview.width > std::numeric_limits<int>::max() / 4 ||
      !WithinAllocationLimit(preview))
    return QImage();
  const std::size_t count = static_cast<std::size_t>(preview.width) * static_cast<std::size_t>(preview.height);
  for (std::size_t i = 0; i < count; ++i) preview.pixels[i] = qFromLittleEndian(preview.pixels[i]) | 0xFF000000u;
  QImage image(reinterpret_cast<uchar*>(preview.pixels), preview.width, preview.height, preview.width * 4,
               QImage::Format_RGB32, &std::free, preview.pixels);
  if (!image.isNull()) preview.pixels = nullptr;  // the picture frees the block now
  return image;
}

// The document's preview, or a null picture when it has no usable one.
QImage DecodeDocument(QIODevice& device) {
  QImage picture;
  CImage32 preview;
  {
    std::vector<unsigned char> document;
    if (!ifzvk::qtplugin::ReadWholeDevice(device, ifzvk::limits::kMaxDocumentBytes, document)) return picture;
    if (ifzvk::ReadDocumentPreview(document.data(), document.size(), preview) != ifzvk::PreviewProblem::None)
      return picture;
  }  // the document's bytes go as soon as the preview is out
  return TakeAsQImage(preview);
}

}  // namespace

bool CZvkImageHandler::CanRead(QIODevice* device) {
  if (device == nullptr || !device->isReadable()) return false;
  const QByteArray head = device->peek(static_cast<qint64>(sizeof ifzvk::kDocumentMagic));
  return static_cast<std::size_t>(head.size()) == sizeof ifzvk::kDocumentMagic &&
         ifzvk::HasDocumentMagic(reinterpret_cast<const unsigned char*>(head.constData()));
}

bool CZvkImageHandler::canRead() const {
  if (!CanRead(device())) return false;
  setFormat(kFormatName);  // tells the reader which format answered, as Qt's own handlers do
  return true;
}

bool CZvkImageHandler::Decode() const {
  if (decoding_ != Decoding::NotYet) return decoding_ == Decoding::Done;
  decoding_ = Decoding::Failed;
  if (device() == nullptr) return false;
  try {
    preview_ = DecodeDocument(*device());
  } catch (const std::exception&) {
    // The document's block could not grow: out of memory, no picture.
    preview_ = QImage();
  }
  if (!preview_.isNull()) decoding_ = Decoding::Done;
  return decoding_ == Decoding::Done;
}

bool CZvkImageHandler::read(QImage* image) {
  if (image == nullptr || !Decode()) return false;
  *image = preview_;
  return true;
}

bool CZvkImageHandler::supportsOption(ImageOption option) const {
  return option == Size || option == ImageFormat;
}

QVariant CZvkImageHandler::option(ImageOption option) const {
  if (!supportsOption(option) || !Decode()) return QVariant();
  if (option == Size) return preview_.size();
  return static_cast<int>(preview_.format());
}

QImageIOPlugin::Capabilities CZvkImagePlugin::capabilities(QIODevice* device, const QByteArray& format) const {
  if (format == kFormatName) return CanRead;
  return format.isEmpty() && CZvkImageHandler::CanRead(device) ? CanRead : Capabilities();
}

QImageIOHandler* CZvkImagePlugin::create(QIODevice* device, const QByteArray& format) const {
  auto* handler = new CZvkImageHandler;
  handler->setDevice(device);
  handler->setFormat(format.isEmpty() ? kFormatName : format);
  return handler;
}

}  // namespace qoru
