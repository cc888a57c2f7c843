// zvk-bench: GetPicture through the built module, loaded as a viewer loads
// it, against a baseline measured in the same run, with Google Benchmark.
//
//   zvk-bench [--module PATH] [--quick] [--benchmark_... flags]
//
// Every case runs in several repetitions, interleaved at random with all the
// others, so that a change in the machine's load falls on a case and its
// baseline alike. The table takes the fastest repetition of each: on a
// machine shared with other work, time taken by others only ever adds, so
// the fastest is the closest to the work itself, for module and baseline
// alike. --quick runs the small
// document and one large case once, briefly (a smoke run).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchCases.h"

namespace {

using namespace ifzvk::bench;

// Collects the seconds per call of every repetition, by benchmark name, and
// shows progress on stderr instead of Google Benchmark's own lines.
class CollectingReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      if (run.error_occurred) {
        failures_.push_back(run.benchmark_name() + ": " + run.error_message);
        continue;
      }
      if (run.iterations > 0) seconds_[run.run_name.function_name].push_back(run.real_accumulated_time / static_cast<double>(run.iterations));
      std::fputc('.', stderr);
    }
  }
  void Finalize() override { std::fputc('\n', stderr); }

  double Fastest(const std::string& name) const {
    auto found = seconds_.find(name);
    if (found == seconds_.end() || found->second.empty()) return 0;
    return *std::min_element(found->second.begin(), found->second.end());
  }
  const std::vector<std::string>& Failures() const { return failures_; }

 private:
  std::map<std::string, std::vector<double>> seconds_;
  std::vector<std::string> failures_;
};

std::string CaseName(const Document& document, Mode mode, const char* who) {
  const DocumentShape& shape = document.shape;
  return std::string(ModeName(mode)) + "/" + std::to_string(shape.side) + (shape.compressed ? "d" : "s") + "/filler" +
         std::to_string(shape.fillerMiB) + "/" + who;
}

}  // namespace

int main(int argc, char** argv) {
  std::string modulePath;
  bool quick = false;
  // Defaults first, so that flags on the command line override them.
  std::vector<std::string> flags = {argv[0], "--benchmark_repetitions=7", "--benchmark_enable_random_interleaving=true",
                                    "--benchmark_min_time=0.05"};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--module" && i + 1 < argc) {
      modulePath = argv[++i];
    } else if (arg == "--quick") {
      quick = true;
      flags.push_back("--benchmark_repetitions=1");
      flags.push_back("--benchmark_min_time=0.01");
    } else {
      flags.push_back(arg);
    }
  }
  std::vector<char*> args;
  for (std::string& flag : flags) args.push_back(flag.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

  SteadyHeap();
  ifzvk::host::PrivateWorkDir folder;
  if (!folder.Enter()) {
    std::fprintf(stderr, "zvk-bench: %s\n", folder.Error().c_str());
    return 1;
  }
  ifzvk::host::PluginModule module;
  std::string error;
  if (!LoadModule(module, modulePath, error)) {
    std::fprintf(stderr, "zvk-bench: %s\n", error.c_str());
    return 1;
  }

  std::vector<DocumentShape> shapes = {SmallShape()};
  for (const DocumentShape& shape : StandardShapes()) {
    if (!quick || (shape.side == 1024 && shape.compressed && shape.fillerMiB == 16)) shapes.push_back(shape);
  }
  std::fprintf(stderr, "zvk-bench: building %zu documents\n", shapes.size());
  std::vector<std::unique_ptr<Document>> documents;
  for (const DocumentShape& shape : shapes) {
    auto document = std::make_unique<Document>(BuildDocument(shape));
    if (!WriteDocument(*document, folder.Path() + "/doc" + std::to_string(documents.size()) + ".zvk")) {
      std::fprintf(stderr, "zvk-bench: cannot write a document into %s\n", folder.Path().c_str());
      return 1;
    }
    for (Mode mode : {Mode::Memory, Mode::File}) {
      if (!ModuleCall(module, *document, mode) || !BaselineCall(*document, mode)) {
        std::fprintf(stderr, "zvk-bench: %s, %s mode: no picture\n", shape.Label().c_str(), ModeName(mode));
        return 1;
      }
    }
    documents.push_back(std::move(document));
  }

  for (const auto& document : documents) {
    for (Mode mode : {Mode::Memory, Mode::File}) {
      const Document* doc = document.get();
      benchmark::RegisterBenchmark(CaseName(*doc, mode, "module").c_str(), [&module, doc, mode](benchmark::State& state) {
        for (auto _ : state)
          if (!ModuleCall(module, *doc, mode)) state.SkipWithError("GetPicture failed");
      })->UseRealTime();
      benchmark::RegisterBenchmark(CaseName(*doc, mode, "baseline").c_str(), [doc, mode](benchmark::State& state) {
        for (auto _ : state)
          if (!BaselineCall(*doc, mode)) state.SkipWithError("baseline failed");
      })->UseRealTime();
    }
  }
  const Document* small = documents.front().get();
  benchmark::RegisterBenchmark("fixed/tmpfile-xml", [small](benchmark::State& state) {
    for (auto _ : state)
      if (!FixedCostCall(*small)) state.SkipWithError("temporary XML round trip failed");
  })->UseRealTime();

  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const std::string& failure : reporter.Failures()) std::fprintf(stderr, "zvk-bench: %s\n", failure.c_str());

  std::vector<Row> rows;
  std::vector<Row> smallRows;
  for (const auto& document : documents) {
    for (Mode mode : {Mode::Memory, Mode::File}) {
      Row row;
      row.label = document->shape.Label();
      row.mode = mode;
      row.fillerMiB = document->shape.fillerMiB;
      row.binBytes = document->binSize;
      row.moduleSeconds = reporter.Fastest(CaseName(*document, mode, "module"));
      row.baselineSeconds = reporter.Fastest(CaseName(*document, mode, "baseline"));
      if (row.moduleSeconds <= 0 || row.baselineSeconds <= 0) continue;  // filtered out
      (document.get() == small ? smallRows : rows).push_back(row);
    }
  }
  PrintTable(rows, smallRows, reporter.Fastest("fixed/tmpfile-xml"),
             "Native (Google Benchmark), fastest of the repetitions, time per call of one picture request:");
  for (auto& document : documents) RemoveDocument(*document);
  return reporter.Failures().empty() ? 0 : 1;
}
