// zvk-bench-loop: the benchmark cases of zvk-bench with a plain timing loop,
// for builds without Google Benchmark (the Windows module under Wine).
//
//   zvk-bench-loop [--module PATH] [--quick] [--rounds N]
//       times every case against its baseline and prints the table
//   zvk-bench-loop --write-peak-document PATH
//       writes the 1024 x 1024 compressed document with 128 MiB of filler and
//       prints the sizes whose sum a file-mode request must hold at once
//   zvk-bench-loop [--module PATH] --one-call PATH
//       one file-mode request on PATH and nothing else (for a heap profiler)
//
// Documents are built one at a time, so a 32-bit process holds at most one
// large document besides what the module takes. Within a document the cases
// and baselines take turns, round after round, and the table keeps each one's
// fastest round (time taken by other work on the machine only ever adds).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchCases.h"
#include "plugin/dib.h"

namespace {

using namespace ifzvk::bench;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string module;
  bool quick = false;
  int rounds = 7;
  double batchSeconds = 0.05;
};

template <typename Call>
double SecondsPerCall(long calls, const Call& call, bool& ok) {
  const Clock::time_point start = Clock::now();
  for (long i = 0; i < calls; ++i) ok = call() && ok;
  return std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(calls);
}

// Times `calls` of each measurement once per round, the order turned round
// every other round; the fastest round of each.
template <typename Call>
std::vector<double> TakeTurns(const std::vector<Call>& measurements, const Options& options, bool& ok) {
  const std::size_t n = measurements.size();
  std::vector<long> calls(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double once = SecondsPerCall(1, measurements[i], ok);  // also warms up
    calls[i] = std::max(1L, static_cast<long>(options.batchSeconds / std::max(once, 1e-7)));
  }
  std::vector<std::vector<double>> seconds(n);
  for (int round = 0; round < options.rounds; ++round) {
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t i = round % 2 == 0 ? k : n - 1 - k;
      seconds[i].push_back(SecondsPerCall(calls[i], measurements[i], ok));
    }
  }
  std::vector<double> fastest;
  for (const std::vector<double>& values : seconds) fastest.push_back(*std::min_element(values.begin(), values.end()));
  return fastest;
}

int RunTable(const Options& options) {
  SteadyHeap();
  ifzvk::host::PrivateWorkDir folder;
  if (!folder.Enter()) {
    std::fprintf(stderr, "zvk-bench-loop: %s\n", folder.Error().c_str());
    return 1;
  }
  ifzvk::host::PluginModule module;
  std::string error;
  if (!LoadModule(module, options.module, error)) {
    std::fprintf(stderr, "zvk-bench-loop: %s\n", error.c_str());
    return 1;
  }

  std::vector<DocumentShape> shapes = {SmallShape()};
  for (const DocumentShape& shape : StandardShapes()) {
    if (!options.quick || (shape.side == 1024 && shape.compressed && shape.fillerMiB == 16)) shapes.push_back(shape);
  }

  bool ok = true;
  std::vector<Row> rows;
  std::vector<Row> smallRows;
  double fixedSeconds = 0;
  for (const DocumentShape& shape : shapes) {
    std::fprintf(stderr, "zvk-bench-loop: %s, filler %d MiB\n", shape.Label().c_str(), shape.fillerMiB);
    Document document = BuildDocument(shape);
    if (!WriteDocument(document, folder.Path() + "/doc.zvk")) {
      std::fprintf(stderr, "zvk-bench-loop: cannot write a document into the temporary folder\n");
      return 1;
    }
    const Document* doc = &document;
    const ifzvk::host::PluginModule* plugin = &module;
    using Call = bool (*)(const ifzvk::host::PluginModule*, const Document*);
    struct Measurement {
      Call call;
      const ifzvk::host::PluginModule* plugin;
      const Document* doc;
      bool operator()() const { return call(plugin, doc); }
    };
    std::vector<Measurement> measurements = {
        {[](const ifzvk::host::PluginModule* m, const Document* d) { return ModuleCall(*m, *d, Mode::Memory); }, plugin, doc},
        {[](const ifzvk::host::PluginModule*, const Document* d) { return BaselineCall(*d, Mode::Memory); }, plugin, doc},
        {[](const ifzvk::host::PluginModule* m, const Document* d) { return ModuleCall(*m, *d, Mode::File); }, plugin, doc},
        {[](const ifzvk::host::PluginModule*, const Document* d) { return BaselineCall(*d, Mode::File); }, plugin, doc},
    };
    const bool isSmall = shape.fillerMiB == 0;
    if (isSmall)
      measurements.push_back({[](const ifzvk::host::PluginModule*, const Document* d) { return FixedCostCall(*d); }, plugin, doc});
    const std::vector<double> seconds = TakeTurns(measurements, options, ok);
    for (Mode mode : {Mode::Memory, Mode::File}) {
      Row row;
      row.label = shape.Label();
      row.mode = mode;
      row.fillerMiB = shape.fillerMiB;
      row.binBytes = document.binSize;
      const std::size_t at = mode == Mode::Memory ? 0 : 2;
      row.moduleSeconds = seconds[at];
      row.baselineSeconds = seconds[at + 1];
      (isSmall ? smallRows : rows).push_back(row);
    }
    if (isSmall) fixedSeconds = seconds[4];
    RemoveDocument(document);
  }
  if (!ok) std::fprintf(stderr, "zvk-bench-loop: a request gave no picture\n");
  PrintTable(rows, smallRows, fixedSeconds,
             "Timing loop, fastest of " + std::to_string(options.rounds) +
                 " interleaved rounds, time per call of one picture request:");
  return ok ? 0 : 1;
}

int WritePeakDocument(const std::string& path) {
  Document document = BuildDocument(DocumentShape{1024, true, 128});
  if (!WriteDocument(document, path)) {
    std::fprintf(stderr, "zvk-bench-loop: cannot write %s\n", path.c_str());
    return 1;
  }
  const std::size_t side = 1024;
  const std::size_t stride = BitmapStride(static_cast<int>(side));
  const std::size_t image = side * side * 4;
  const std::size_t bitmap = 40 + stride * side;
  // The preview's decoded bytes become the image's buffer: one block for both.
  std::printf("document %zu\nbin copy %zu\nimage %zu\nbitmap %zu\nsum %zu\n", document.bytes.size(),
              document.binSize, image, bitmap, document.bytes.size() + document.binSize + image + bitmap);
  return 0;
}

int OneCall(const Options& options, const std::string& path) {
  ifzvk::host::PluginModule module;
  std::string error;
  if (!LoadModule(module, options.module, error)) {
    std::fprintf(stderr, "zvk-bench-loop: %s\n", error.c_str());
    return 1;
  }
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  const int result = module.GetPicture(const_cast<LPSTR>(path.c_str()), 0, 0, &info, &bits, nullptr, 0);
  ifzvk::host::FreeBlock(info);
  ifzvk::host::FreeBlock(bits);
  if (result != 0) std::fprintf(stderr, "zvk-bench-loop: GetPicture answered %d\n", result);
  return result == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--module" && i + 1 < argc) {
      options.module = argv[++i];
    } else if (arg == "--quick") {
      options.quick = true;
      options.rounds = 1;
      options.batchSeconds = 0.01;
    } else if (arg == "--rounds" && i + 1 < argc) {
      options.rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--write-peak-document" && i + 1 < argc) {
      return WritePeakDocument(argv[++i]);
    } else if (arg == "--one-call" && i + 1 < argc) {
      return OneCall(options, argv[++i]);
    } else {
      std::fprintf(stderr, "usage: zvk-bench-loop [--module PATH] [--quick] [--rounds N] | --write-peak-document PATH"
                           " | [--module PATH] --one-call PATH\n");
      return 1;
    }
  }
  return RunTable(options);
}
