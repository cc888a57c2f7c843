#include "qt/ZvkImagePlugin.h"

#include <QIODevice>
#include <QSize>
#include <QVariant>
#include <QtEndian>

#include <cstdint>
#include <exception>
#include <vector>

#include "document/Container.h"
#include "document/thumbnail.h"
#include "qt/DeviceBytes.h"

namespace qoru {
namespace {

const QByteArray kFormatName = QByteArrayLiteral("zvk");

// The preview as a Qt picture: each pixel's bits 24-31 mean nothing in a
// document, so they become 0xff, the opaque pixel Format_RGB32 asks for. A
// null picture when it cannot be had.
QImage ToQImage(const CImage32& preview) {
  QImage image;
  const QSize size(preview.width, preview.height);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  // Honours the application's QImageReader::allocationLimit().
  if (!QImageIOHandler::allocateImage(size, QImage::Format_RGB32, &image)) return QImage();
#else
  image = QImage(size, QImage::Format_RGB32);
  if (image.isNull()) return QImage();
#endif
  const std::size_t width = static_cast<std::size_t>(preview.width);
  for (int y = 0; y < preview.height; ++y) {
    const std::uint32_t* from = preview.pixels + width * static_cast<std::size_t>(y);
    auto* to = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (std::size_t x = 0; x < width; ++x) to[x] = qFromLittleEndian(from[x]) | 0xFF000000u;
  }
  return image;
}

// The document's preview, or a null picture when it has no usable one.
QImage DecodeDocument(QIODevice& device) {
  QImage picture;
  CImage32 preview;
  {
    std::vector<unsigned char> document;
    if (!ifzvk::qtplugin::ReadWholeDevice(device, ifzvk::qtplugin::kMaxDocumentBytes, document)) return picture;
    if (ifzvk::ReadDocumentPreview(document.data(), document.size(), preview) != ifzvk::PreviewProblem::None)
      return picture;
  }  // the document's bytes go before the picture is copied
  return ToQImage(preview);
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
