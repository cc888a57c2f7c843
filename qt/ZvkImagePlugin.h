// The Qt image-format plug-in "zvk": Qt's image readers (QImageReader, and
// through it viewers such as Gwenview and qimgv) open zorvik documents and get
// their preview picture. Built for Qt 5 and Qt 6 from this one source.
//
// Qt reads on worker threads and makes a handler per reader: a handler holds
// only its own reader's state, and the decoding shares nothing.
#pragma once

#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>

namespace qoru {

// Reads one document from its device. The document is decoded once, the
// first time the picture, its size or its format is asked for; the picture is
// kept for whichever of them comes next.
class CZvkImageHandler : public QImageIOHandler {
 public:
  // True when the device's next bytes are the document magic; reads nothing.
  static bool CanRead(QIODevice* device);

  bool canRead() const override;
  // False, with image untouched, for a document without a usable preview.
  bool read(QImage* image) override;
  bool supportsOption(ImageOption option) const override;
  QVariant option(ImageOption option) const override;

 private:
  enum class Decoding { NotYet, Done, Failed };
  bool Decode() const;

  // Filled on first use by the const option() too.
  mutable Decoding decoding_ = Decoding::NotYet;
  mutable QImage preview_;
};

class CZvkImagePlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "zvk.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override;
};

}  // namespace qoru
