// The "zvk" plug-in as Qt's image readers use it, loaded from the plug-in
// folders QT_PLUGIN_PATH names (the build's when unset): the sample's picture,
// broken and hostile documents, readers on several threads at once, and the
// bounded reading of a device.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImageReader>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "qt/DeviceBytes.h"
#include "support/CaseTitle.h"
#include "support/StoredPreview.h"
#include "support/TestSupport.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using namespace ifzvk;
using test::Bytes;

const std::string kSample = std::string(ZVK_SOURCE_DIR) + "/examples/sample.zvk";

Bytes SampleBytes() {
  Bytes document;
  EXPECT_TRUE(test::ReadFileBytes(kSample, document)) << kSample;
  return document;
}

QByteArray ToQt(const Bytes& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

// Pixels that differ from the expected ones, whose bits 24-31 mean nothing:
// the picture must have 0xff there.
int Mismatches(const QImage& image, const std::vector<std::uint32_t>& expected) {
  int mismatches = 0;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x)
      mismatches += row[x] != ((expected[static_cast<std::size_t>(y * image.width() + x)] & 0xFFFFFFu) | 0xFF000000u);
  }
  return mismatches;
}

// A document whose preview is width x height pixels of a pattern that tells
// every pixel and every document apart; bits 24-31 hold junk.
writer::Document PatternDocument(int width, int height, std::uint32_t seed, std::vector<std::uint32_t>& pixels) {
  pixels.clear();
  for (int i = 0; i < width * height; ++i) pixels.push_back((seed * 0x9E3779B9u + static_cast<std::uint32_t>(i) * 2654435761u) & 0x5AFFFFFFu);
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
  const Bytes document = SampleBytes();
  const std::vector<std::uint32_t> preview = test::StoredPreview(document, 256);
  QByteArray bytes = ToQt(document);
  QBuffer buffer(&bytes);
  QImageReader byName(QString::fromStdString(kSample));
  QImageReader byContent(&buffer);
  for (QImageReader* reader : {&byName, &byContent}) {
    EXPECT_EQ(reader->format(), "zvk");
    EXPECT_EQ(reader->size(), QSize(256, 256)) << "the size is known before the picture is read";
    EXPECT_EQ(reader->imageFormat(), QImage::Format_RGB32);
    const QImage image = reader->read();
    ASSERT_EQ(image.size(), QSize(256, 256)) << reader->errorString().toStdString();
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(Mismatches(image, preview), 0);
  }
}

TEST(QtPlugin, ClaimsOnlyContentWithTheMagic) {
  QByteArray png;
  QBuffer pngBuffer(&png);
  pngBuffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(QImage(2, 2, QImage::Format_RGB32).save(&pngBuffer, "png"));
  const struct {
    const char* title;
    QByteArray bytes;
    QByteArray format;
  } cases[] = {
      {"the sample", ToQt(SampleBytes()), "zvk"},
      {"the magic cut short", QByteArray("zorvix"), ""},
      {"the magic's last letter wrong", QByteArray("zorvixb and more"), ""},
      {"a PNG picture", png, "png"},
  };
  for (const auto& c : cases) {
    QByteArray bytes = c.bytes;
    QBuffer buffer(&bytes);
    EXPECT_EQ(QImageReader(&buffer).format(), c.format) << c.title;
  }
}

struct BrokenCase {
  const char* title;
  Bytes bytes;
};
void PrintTo(const BrokenCase& c, std::ostream* out) { *out << c.title; }

class BrokenDocument : public testing::TestWithParam<BrokenCase> {};

// The reader is told the format, so the plug-in reads even what lacks the
// magic; whatever it is given, it answers with an error and no picture.
TEST_P(BrokenDocument, GivesAnErrorAndNoPicture) {
  QByteArray bytes = ToQt(GetParam().bytes);
  QBuffer buffer(&bytes);
  QImageReader reader(&buffer, "zvk");
  EXPECT_FALSE(reader.size().isValid());
  QImage image(1, 1, QImage::Format_ARGB32);
  image.fill(Qt::red);
  EXPECT_FALSE(reader.read(&image));
  EXPECT_EQ(image.size(), QSize(1, 1)) << "a failed read leaves the picture alone";
  EXPECT_EQ(image.pixel(0, 0), QColor(Qt::red).rgba());
}

writer::Document SmallDocument() {
  std::vector<std::uint32_t> pixels;
  return PatternDocument(3, 2, 1, pixels);
}

template <class Change>
Bytes Changed(Change change) {
  writer::Document document = SmallDocument();
  change(document);
  return writer::DocumentBytes(document);
}

// Nesting that would take TinyXML's recursion through the thread's stack,
// inside an otherwise good description.
const std::string kDeepXml = [] {
  std::string xml = writer::ThumbXml(3, 2, "t"), open, close;
  for (int level = 0; level < 20000; ++level) open += "<a>", close += "</a>";
  return xml.insert(xml.rfind("</Zorvik>"), open + close);
}();

Bytes FirstBytesOfSample(std::size_t count) {
  const Bytes sample = SampleBytes();
  return Bytes(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(count));
}

INSTANTIATE_TEST_SUITE_P(
    QtPlugin, BrokenDocument,
    testing::Values(
        BrokenCase{"empty", {}},
        BrokenCase{"shorter than the header", FirstBytesOfSample(19)},
        BrokenCase{"no magic", Changed([](writer::Document& d) { d.magic[0] = 'Z'; })},
        BrokenCase{"header past the end", Changed([](writer::Document& d) { d.xmlSize = 1 << 20; })},
        BrokenCase{"XML not loading", Changed([](writer::Document& d) { d.xml = "<Zorvik><Thumb"; })},
        BrokenCase{"no Thumb", Changed([](writer::Document& d) { d.xml = "<Zorvik><Other/></Zorvik>"; })},
        BrokenCase{"record missing", Changed([](writer::Document& d) { d.xml = writer::ThumbXml(3, 2, "gone"); })},
        BrokenCase{"damaged stream", Changed([](writer::Document& d) { d.records[0].data[4] ^= 0x55; })},
        BrokenCase{"a 16384 x 16384 claim backed by a tiny record",
                   writer::DocumentBytes(writer::StatedPreviewDocument(16384, 16384, "t", writer::Deflate(Bytes(64, 7)),
                                                                       16384u * 16384u * 4u))},
        BrokenCase{"deep XML", Changed([](writer::Document& d) { d.xml = kDeepXml; })}),
    test::ByTitle());

// Readers on their own threads, each with its own document, all at once and
// again and again: every one gets its own picture.
TEST(QtPlugin, ReadersOnFourThreadsGetTheirOwnPictures) {
  struct Job {
    QByteArray bytes;
    std::vector<std::uint32_t> pixels;
    int failures = 0;
  };
  std::vector<Job> jobs(4);
  jobs[0].bytes = ToQt(SampleBytes());
  jobs[0].pixels = test::StoredPreview(SampleBytes(), 256);
  const int sizes[][2] = {{197, 131}, {64, 1}, {1, 300}};
  for (int i = 1; i < 4; ++i)
    jobs[i].bytes = ToQt(writer::DocumentBytes(PatternDocument(sizes[i - 1][0], sizes[i - 1][1], i, jobs[i].pixels)));

  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (Job& job : jobs) {
    threads.emplace_back([&job, &ready] {
      for (++ready; ready < 4;) std::this_thread::yield();
      for (int round = 0; round < 25; ++round) {
        QBuffer buffer(&job.bytes);
        const QImage image = QImageReader(&buffer).read();
        if (image.width() * image.height() != static_cast<int>(job.pixels.size()) || Mismatches(image, job.pixels) != 0)
          ++job.failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const Job& job : jobs) EXPECT_EQ(job.failures, 0) << &job - jobs.data();
}

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

TEST(QtPluginDeviceBytes, ReadsToTheEndWithinTheLimit) {
  const QByteArray hundred(100, 'z');
  const struct {
    const char* title;
    std::uint64_t limit;
    bool read;
  } cases[] = {{"exactly the limit", 100, true}, {"one byte over", 99, false}, {"the documents' limit", qtplugin::kMaxDocumentBytes, true}};
  for (const auto& c : cases) {
    CTrickle device(hundred);
    std::vector<unsigned char> bytes;
    EXPECT_EQ(qtplugin::ReadWholeDevice(device, c.limit, bytes), c.read) << c.title;
    if (c.read) {
      EXPECT_EQ(ToQt(Bytes(bytes.begin(), bytes.end())), hundred) << c.title;
    }
    EXPECT_LE(bytes.capacity(), 1u << 20) << c.title << ": sized by a claim";
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
