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
#include "support/StoredPreview.h"
#include "support/TestSupport.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using namespace ifzvk;
using test::Bytes;

const std::string kSample = std::string(ZVK_SOURCE_DIR) + "/examples/sample.zvk";

QByteArray SampleBytes() {
  Bytes document;
  EXPECT_TRUE(test::ReadFileBytes(kSample, document)) << kSample;
  return QByteArray(reinterpret_cast<const char*>(document.data()), static_cast<int>(document.size()));
}

QByteArray ToQt(const writer::Document& document) {
  const Bytes bytes = writer::DocumentBytes(document);
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

// A preview of width x height pixels that tells pixels and documents apart,
// with junk in bits 24-31.
writer::Document PatternDocument(int width, int height, std::uint32_t seed, std::vector<std::uint32_t>& pixels) {
  pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = (seed * 0x9E3779B9u + i * 2654435761u) & 0x5AFFFFFFu;
  writer::Document document;
  document.xml = writer::ThumbXml(width, height, "t");
  document.records.push_back(writer::CompressedRecord("t", writer::PixelBytes(pixels)));
  return document;
}

TEST(QtPlugin, ListsTheZorvikTypeAndFormat) {
  EXPECT_TRUE(QImageReader::supportedMimeTypes().contains("application/x-zorvik"));
  EXPECT_TRUE(QImageReader::supportedImageFormats().contains("zvk"));
}

// By the file's name, and by content alone: the plug-in's look at the magic
// must leave the bytes for the reading.
TEST(QtPlugin, SampleGivesTheStoredPreview) {
  QByteArray bytes = SampleBytes();
  const std::vector<std::uint32_t> preview = test::StoredPreview(Bytes(bytes.begin(), bytes.end()), 256 * 256);
  QBuffer buffer(&bytes);
  QImageReader byName(QString::fromStdString(kSample)), byContent(&buffer);
  for (QImageReader* reader : {&byName, &byContent}) {
    EXPECT_EQ(reader->format(), "zvk");
    EXPECT_EQ(reader->size(), QSize(256, 256)) << "known before the picture is read";
    EXPECT_EQ(reader->imageFormat(), QImage::Format_RGB32);
    const QImage image = reader->read();
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(Mismatches(image, preview), 0);
  }
}

TEST(QtPlugin, ClaimsOnlyContentWithTheMagic) {
  QByteArray png;
  QBuffer pngBuffer(&png);
  ASSERT_TRUE(QImage(2, 2, QImage::Format_RGB32).save(&pngBuffer, "png"));
  const std::pair<QByteArray, QByteArray> contentFormat[] = {
      {SampleBytes(), "zvk"}, {"zorvix", ""}, {"zorvixb and more", ""}, {png, "png"}};
  for (auto [content, format] : contentFormat) {
    QBuffer buffer(&content);
    EXPECT_EQ(QImageReader(&buffer).format(), format) << content.left(16).toStdString();
  }
}

// The reader is told the format, so the plug-in reads even what lacks the
// magic. Each gives an error, no picture, and leaves the caller's alone.
TEST(QtPlugin, BrokenDocumentsGiveAnErrorAndNoPicture) {
  const auto changed = [](auto change) {
    std::vector<std::uint32_t> pixels;
    writer::Document document = PatternDocument(3, 2, 1, pixels);
    change(document);
    return ToQt(document);
  };
  std::string open, close, deep = writer::ThumbXml(3, 2, "t");  // nesting beyond a thread's stack, in a good description
  for (int level = 0; level < 20000; ++level) open += "<a>", close += "</a>";
  deep.insert(deep.rfind("</Zorvik>"), open + close);
  const std::pair<const char*, QByteArray> cases[] = {
      {"empty", {}},
      {"shorter than the header", SampleBytes().left(19)},
      {"no magic", changed([](writer::Document& d) { d.magic[0] = 'Z'; })},
      {"header past the end", changed([](writer::Document& d) { d.xmlSize = 1 << 20; })},
      {"XML not loading", changed([](writer::Document& d) { d.xml = "<Zorvik><Thumb"; })},
      {"no Thumb", changed([](writer::Document& d) { d.xml = "<Zorvik><Other/></Zorvik>"; })},
      {"record missing", changed([](writer::Document& d) { d.xml = writer::ThumbXml(3, 2, "gone"); })},
      {"damaged stream", changed([](writer::Document& d) { d.records[0].data[4] ^= 0x55; })},
      {"16384 x 16384 backed by a tiny record",
       ToQt(writer::StatedPreviewDocument(16384, 16384, "t", writer::Deflate(Bytes(64, 7)), 16384u * 16384u * 4u))},
      {"deep XML", changed([&deep](writer::Document& d) { d.xml = deep; })},
  };
  for (auto [title, bytes] : cases) {
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "zvk");
    QImage image(1, 1, QImage::Format_ARGB32);
    image.fill(Qt::red);
    EXPECT_FALSE(reader.size().isValid()) << title;
    EXPECT_FALSE(reader.read(&image)) << title;
    EXPECT_TRUE(image.size() == QSize(1, 1) && image.pixel(0, 0) == QColor(Qt::red).rgba()) << title;
  }
}

// Four readers at once, again and again, each on its own thread and document.
TEST(QtPlugin, ReadersOnFourThreadsGetTheirOwnPictures) {
  struct Job {
    QByteArray bytes;
    std::vector<std::uint32_t> pixels;
    int failures = 0;
  } jobs[4];
  jobs[0].bytes = SampleBytes();
  jobs[0].pixels = test::StoredPreview(Bytes(jobs[0].bytes.begin(), jobs[0].bytes.end()), 256 * 256);
  const int sizes[][2] = {{197, 131}, {64, 1}, {1, 300}};
  for (int i = 1; i < 4; ++i) jobs[i].bytes = ToQt(PatternDocument(sizes[i - 1][0], sizes[i - 1][1], i, jobs[i].pixels));
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (Job& job : jobs) {
    threads.emplace_back([&job, &ready] {
      for (++ready; ready < 4;) std::this_thread::yield();
      for (int round = 0; round < 25; ++round) job.failures += Mismatches(ReadFrom(job.bytes), job.pixels) != 0;
    });
  }
  for (auto& thread : threads) thread.join();
  for (const Job& job : jobs) EXPECT_EQ(job.failures, 0) << &job - jobs;
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
// Qt 6 applications cap what a reader may allocate; the plug-in keeps the cap.
TEST(QtPlugin, KeepsTheApplicationsAllocationLimit) {
  std::vector<std::uint32_t> pixels;
  const QByteArray bytes = ToQt(PatternDocument(1024, 512, 9, pixels));  // 2 MiB of picture
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
