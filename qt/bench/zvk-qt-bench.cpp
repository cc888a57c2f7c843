// Times the sample through the Qt plug-in, in this process, against the same
// decoding without Qt and against a run of the host tool, all in one run:
//   zvk-qt-bench PLUGIN_FOLDER DOCUMENT ZVK_THUMB [ITERATIONS]
// Prints the median of each (the tool writes its BMP into a fresh temporary folder).
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "document/thumbnail.h"

extern char** environ;

namespace {

// The median time of one call of work, in microseconds.
double MedianMicroseconds(int iterations, const std::function<bool()>& work) {
  std::vector<double> times;
  for (int i = 0; i < iterations; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!work()) {
      std::fprintf(stderr, "zvk-qt-bench: a run failed\n");
      std::exit(1);
    }
    times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::nth_element(times.begin(), times.begin() + iterations / 2, times.end());
  return times[static_cast<std::size_t>(iterations / 2)];
}

bool RunTool(const QByteArray& tool, const QByteArray& document, const QByteArray& output) {
  char* argv[] = {const_cast<char*>(tool.constData()), const_cast<char*>("--quiet"),
                  const_cast<char*>(document.constData()), const_cast<char*>(output.constData()), nullptr};
  pid_t child = 0;
  int status = 0;
  return posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ) == 0 && waitpid(child, &status, 0) == child &&
         WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: zvk-qt-bench PLUGIN_FOLDER DOCUMENT ZVK_THUMB [ITERATIONS]\n");
    return 1;
  }
  QCoreApplication::setLibraryPaths({QString::fromLocal8Bit(argv[1])});
  const QString document = QString::fromLocal8Bit(argv[2]);
  const int iterations = argc > 4 ? std::max(1, std::atoi(argv[4])) : 200;
  QFile file(document);
  if (!file.open(QIODevice::ReadOnly)) return 1;
  const QByteArray bytes = file.readAll();
  QTemporaryDir folder;

  const double bare = MedianMicroseconds(iterations, [&] {
    qoru::CImage32 image;
    return ifzvk::ReadDocumentPreview(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                      static_cast<std::size_t>(bytes.size()), image) == ifzvk::PreviewProblem::None;
  });
  const double reader = MedianMicroseconds(iterations, [&] { return !QImageReader(document).read().isNull(); });
  const QByteArray output = QDir(folder.path()).filePath("out.bmp").toLocal8Bit();
  const double tool = MedianMicroseconds(iterations, [&] { return RunTool(argv[3], argv[2], output); });
  std::printf("median of %d, microseconds\n", iterations);
  std::printf("  ReadDocumentPreview, bytes in memory:  %10.0f\n", bare);
  std::printf("  QImageReader(file).read(), plug-in:     %10.0f\n", reader);
  std::printf("  zvk-thumb --quiet DOCUMENT out.bmp:     %10.0f\n", tool);
  return 0;
}
