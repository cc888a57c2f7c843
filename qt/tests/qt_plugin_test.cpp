// The "zvk" plug-in as Qt's image readers use it, loaded from the folders
// QT_PLUGIN_PATH names (the build's when unset): the sample's picture, broken
// and hostile documents, readers on several threads, the bounded reading.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImageReader>

#include <atomic>
#include <thread>

#include "document/Limits.h"
#include "qt/DeviceBytes.h"
#include "support/ViewerCases.h"

namespace {

using namespace ifzvk;
using test::Bytes;

const std::string kSample = std::string(ZVK_SOURCE_DIR) + "/examples/sample.zvk";

QByteArray ToQt(const Bytes& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

QImage ReadFrom(QByteArray bytes, const char* format = "") {
  QBuffer buffer(&bytes);
  return QImageReader(&buffer, format).read();
}

// Pixels unlike the expected ones (-1 for another size). Bits 24-31 mean
// nothing in a document: the picture must have 0xff there.
int Mismatches(const QImage& image, const std::vector<std::uint32_t>& expected) {
  if (static_cast<std::size_t>(image.width()) * image.height() != expected.size()) return -1;
  int mismatches = 0;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x)
      mismatches += row[x] != ((expected[static_cast<std::size_t>(y * image.width() + x)] & 0xFFFFFFu) | 0xFF000000u);
  }
  return mismatches;
}

TEST(QtPlugin, ListsTheZorvikTypeAndFormat) {
  EXPECT_TRUE(QImageReader::supportedMimeTypes().contains("application/x-zorvik"));
  EXPECT_TRUE(QImageReader::supportedImageFormats().contains("zvk"));
}

// By the file's name, and by content alone: the plug-in's look at the magic
// must leave the bytes for the reading.
TEST(QtPlugin, SampleGivesTheStoredPreview) {
  const test::PictureDocument sample = test::PictureDocuments(kSample)[0];
  QByteArray bytes = ToQt(sample.bytes);
  QBuffer buffer(&bytes);
  QImageReader byName(QString::fromStdString(kSample)), byContent(&buffer);
  for (QImageReader* reader : {&byName, &byContent}) {
    EXPECT_EQ(reader->format(), "zvk");
    EXPECT_EQ(reader->size(), QSize(256, 256)) << "known before the picture is read";
    EXPECT_EQ(reader->imageFormat(), QImage::Format_RGB32);
    const QImage image = reader->read();
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(Mismatches(image, sample.pixels), 0);
  }
}

TEST(QtPlugin, ClaimsOnlyContentWithTheMagic) {
  QByteArray png;
  QBuffer pngBuffer(&png);
  ASSERT_TRUE(QImage(2, 2, QImage::Format_RGB32).save(&pngBuffer, "png"));
  const std::pair<QByteArray, QByteArray> contentFormat[] = {
      {ToQt(test::PictureDocuments(kSample)[0].bytes), "zvk"}, {"zorvix", ""}, {"zorvixb and more", ""}, {png, "png"}};
  for (auto [content, format] : contentFormat) {
    QBuffer buffer(&content);
    EXPECT_EQ(QImageReader(&buffer).format(), format) << content.left(16).toStdString();
  }
}

// The reader is told the format, so the plug-in reads even what lacks the
// magic. Each gives an error, no picture, and leaves the caller's alone.
TEST(QtPlugin, BrokenDocumentsGiveAnErrorAndNoPicture) {
  for (const auto& c : test::BrokenDocuments()) {
    QByteArray bytes = ToQt(c.bytes);
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "zvk");
    QImage image(1, 1, QImage::Format_ARGB32);
    image.fill(Qt::red);
    EXPECT_FALSE(reader.size().isValid()) << c.title;
    EXPECT_FALSE(reader.read(&image)) << c.title;
    EXPECT_TRUE(image.size() == QSize(1, 1) && image.pixel(0, 0) == QColor(Qt::red).rgba()) << c.title;
  }
}

// Four readers at once, again and again, each on its own thread, all taking
// turns over the documents.
TEST(QtPlugin, ReadersOnFourThreadsGetTheirOwnPictures) {
  const std::vector<test::PictureDocument> documents = test::PictureDocuments(kSample);
  std::atomic<int> ready{0}, failures{0};
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (++ready; ready < 4;) std::this_thread::yield();
      for (std::size_t i = t; i < t + 4 * 25; i += 4) {
        const test::PictureDocument& document = documents[i % documents.size()];
        failures += Mismatches(ReadFrom(ToQt(document.bytes)), document.pixels) != 0;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
// Qt 6 applications cap what a reader may allocate; the plug-in keeps the cap.
TEST(QtPlugin, KeepsTheApplicationsAllocationLimit) {
  const QByteArray bytes = ToQt(test::MadePicture(1024, 512, 9).bytes);  // 2 MiB of picture
  const int limit = QImageReader::allocationLimit();
  for (const int limitMiB : {2, 1}) {
    QImageReader::setAllocationLimit(limitMiB);
    EXPECT_EQ(ReadFrom(bytes).isNull(), limitMiB == 1) << limitMiB << " MiB";
  }
  QImageReader::setAllocationLimit(limit);
}
#endif

// Gives its bytes a few at a time and claims far more than it has, like a
// pipe or a network reply whose announced length is not to be trusted.
class CTrickle : public QIODevice {
 public:
  explicit CTrickle(QByteArray bytes) : bytes_(std::move(bytes)) { open(ReadOnly | Unbuffered); }
  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override { return qint64{1} << 40; }

 protected:
  qint64 readData(char* data, qint64 most) override {
    const qint64 count = std::min<qint64>({most, qint64{7}, bytes_.size() - at_});
    std::copy(bytes_.constData() + at_, bytes_.constData() + at_ + count, data);
    at_ += count;
    return count;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray bytes_;
  qint64 at_ = 0;
};

TEST(QtPlugin, ReadsTheWholeDeviceWithinTheLimit) {
  for (auto [limit, whole] : {std::pair<std::uint64_t, bool>{100, true}, {99, false}, {limits::kMaxDocumentBytes, true}}) {
    CTrickle device(QByteArray(100, 'z'));
    std::vector<unsigned char> bytes;
    EXPECT_EQ(qtplugin::ReadWholeDevice(device, limit, bytes), whole) << limit;
    EXPECT_EQ(bytes.size(), whole ? 100u : limit + 1) << limit;
    EXPECT_LE(bytes.capacity(), 1u << 20) << limit << ": sized by a claim";
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QCoreApplication application(argc, argv);
  // Only the folders named count, not the system's: a "zvk" plug-in installed
  // there must not stand in for the one under test.
  const QByteArray named = qgetenv("QT_PLUGIN_PATH");
  QCoreApplication::setLibraryPaths(named.isEmpty() ? QStringList{ZVK_QT_PLUGIN_FOLDER}
                                                    : QString::fromLocal8Bit(named).split(QDir::listSeparator()));
  return RUN_ALL_TESTS();
}
