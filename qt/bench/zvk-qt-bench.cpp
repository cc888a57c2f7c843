// Times the sample through the Qt plug-in, in this process, against the same
// decoding without Qt and against a run of the host tool, all in one run:
//   zvk-qt-bench PLUGIN_FOLDER DOCUMENT ZVK_THUMB [ITERATIONS]
// Prints the median of each (the tool writes its BMP into a fresh temporary folder).
#include <QBuffer>
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

struct Timed {
  const char* what;
  std::function<bool()> work;
  std::vector<double> microseconds;
};

// Runs each work in turn, round after round, so that the machine's changing
// load and the heap's state weigh on all of them alike; prints the medians.
void PrintMedians(int rounds, std::vector<Timed>& timed) {
  for (int round = 0; round < rounds; ++round) {
    for (Timed& t : timed) {
      const auto start = std::chrono::steady_clock::now();
      if (!t.work()) {
        std::fprintf(stderr, "zvk-qt-bench: %s failed\n", t.what);
        std::exit(1);
      }
      t.microseconds.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
  }
  std::printf("median of %d rounds, microseconds\n", rounds);
  for (Timed& t : timed) {
    std::nth_element(t.microseconds.begin(), t.microseconds.begin() + rounds / 2, t.microseconds.end());
    std::printf("  %-42s %8.0f\n", t.what, t.microseconds[static_cast<std::size_t>(rounds / 2)]);
  }
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
  QByteArray bytes = file.readAll();
  QTemporaryDir folder;

  const QByteArray output = QDir(folder.path()).filePath("out.bmp").toLocal8Bit();
  std::vector<Timed> timed = {
      {"ReadDocumentPreview, bytes in memory",
       [&] {
         qoru::CImage32 image;
         return ifzvk::ReadDocumentPreview(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                           static_cast<std::size_t>(bytes.size()), image) == ifzvk::PreviewProblem::None;
       }, {}},
      {"QImageReader(QBuffer).read(), the plug-in",
       [&] {
         QBuffer buffer(&bytes);
         return !QImageReader(&buffer).read().isNull();
       }, {}},
      {"QImageReader(DOCUMENT).read(), the plug-in", [&] { return !QImageReader(document).read().isNull(); }, {}},
      {"zvk-thumb --quiet DOCUMENT out.bmp", [&] { return RunTool(argv[3], argv[2], output); }, {}},
  };
  PrintMedians(iterations, timed);
  return 0;
}
