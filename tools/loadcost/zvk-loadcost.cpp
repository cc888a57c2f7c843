// zvk-loadcost: what the module's load-time tables cost in time and heap.
//
//   zvk-loadcost [--check] [module]
//
// Reports how long one build of the blend tables takes in this process, how
// long the module takes to load and unload, and the heap it holds while
// loaded. On glibc this program brings its own malloc (CountingMalloc.cpp), so
// the figures are the bytes asked for and the module's own blocks are told
// apart from the loader's; on Windows the C runtime heap is walked before and
// after. With --check it exits with 1 unless the heap figures hold: the
// module's tables in full while loaded, none of them after the unload
// (natively: nothing at all), and on glibc a load that survives the refusal of
// any one of the module's blocks.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "image/BltTable.h"
#include "tools/host/PluginModule.h"

#include "tools/host/HeapUsage.h"

#ifndef _WIN32
#include <dlfcn.h>

#include "tools/loadcost/CountingMalloc.h"
#endif

namespace {

using ifzvk::host::PluginModule;

constexpr int kRuns = 50;

struct Heap {
  long long bytes = 0;
  long long blocks = 0;
};

// Heap taken since Start(), in bytes asked for.
class HeapProbe {
 public:
  void Start() {
#ifdef _WIN32
    start_.Take();
#else
    ifzvk::loadcost::StartRecording();
#endif
  }
  Heap Now() {
#ifdef _WIN32
    now_.Take();
    return Heap{Bytes(now_) - Bytes(start_), now_.Count() - start_.Count()};
#else
    const auto live = ifzvk::loadcost::LiveBlocks();
    return Heap{static_cast<long long>(live.bytes), live.blocks};
#endif
  }
  void Stop() {
#ifndef _WIN32
    ifzvk::loadcost::StopRecording();
#endif
  }
  // Copies of the reference tables added since Start() and still held at
  // the last Now(), which must be the heap as it is; Windows only.
  int TableBlocksAdded(const qoru::CBltTable& r) const {
    const void* const tables[7] = {r.weight128, r.weightPlus1, r.weight, r.mulDiv255, r.hypot16, r.gamma22, r.noise};
    return ifzvk::host::AddedCopiesOf(start_, now_, tables, qoru::kBltTableBlockBytes, 7);
  }

 private:
  static long long Bytes(const ifzvk::host::HeapSnapshot& snapshot) {
    long long bytes = 0;
    for (int i = 0; i < snapshot.Count(); ++i) bytes += static_cast<long long>(snapshot[i].bytes);
    return bytes;
  }
  ifzvk::host::HeapSnapshot start_, now_;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double MedianMilliseconds(const std::function<void()>& run) {
  std::vector<double> times;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  return Median(times);
}

bool failed = false;

void Require(bool holds, const char* what) {
  if (holds) return;
  std::printf("CHECK FAILED: %s\n", what);
  failed = true;
}

#ifndef _WIN32
const void* ModuleBase(const PluginModule& module) {
  Dl_info info{};
  if (!module.IsLoaded() || dladdr(reinterpret_cast<void*>(module.GetPluginInfo), &info) == 0) return nullptr;
  return info.dli_fbase;
}
#endif

void MeasureTablesInProcess() {
  const double buildMs = MedianMilliseconds([] { qoru::CBltTable tables; });
  static HeapProbe probe;  // snapshots too big for the stack
  probe.Start();
  auto* tables = new qoru::CBltTable;
  const Heap held = probe.Now();
  delete tables;
  probe.Stop();
  // The object itself is one more block of seven pointers.
  std::printf("blend tables built in this process: %.3f ms (median of %d), %lld bytes in %lld blocks"
              " (the tables and the %zu-byte object)\n",
              buildMs, kRuns, held.bytes, held.blocks, sizeof(qoru::CBltTable));
}

void MeasureModule(const std::string& path) {
  for (int i = 0; i < 10; ++i) PluginModule().Load(path);  // let the loader's own bookkeeping settle

  PluginModule module;
  std::vector<double> loadMs, unloadMs;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = std::chrono::steady_clock::now();
    module.Load(path);
    const auto loadedAt = std::chrono::steady_clock::now();
    module.Unload();
    const auto end = std::chrono::steady_clock::now();
    loadMs.push_back(std::chrono::duration<double, std::milli>(loadedAt - start).count());
    unloadMs.push_back(std::chrono::duration<double, std::milli>(end - loadedAt).count());
  }

  static HeapProbe probe;
#ifdef _WIN32
  // The module's tables are told from the runtime's leftovers by their bytes.
  const qoru::CBltTable reference;
#endif
  probe.Start();
  const bool loaded = module.Load(path);
  const Heap held = probe.Now();
#ifdef _WIN32
  const int tableBlocksLoaded = probe.TableBlocksAdded(reference);
#else
  const auto own = ifzvk::loadcost::LiveBlocksOf(ModuleBase(module));
#endif
  module.Unload();
  const Heap after = probe.Now();
#ifdef _WIN32
  const int tableBlocksLeft = probe.TableBlocksAdded(reference);
#endif
  probe.Stop();

  std::printf("module load: %.3f ms, unload: %.3f ms (medians of %d)\n", Median(loadMs), Median(unloadMs), kRuns);
  std::printf("heap while loaded: %lld bytes in %lld blocks\n", held.bytes, held.blocks);
#ifndef _WIN32
  std::printf("  of which the module's own code asked for: %zu bytes in %d blocks\n", own.bytes, own.blocks);
  Require(own.bytes == qoru::kBltTableBytes && own.blocks == 7, "the module holds its seven tables while loaded");
  std::printf("heap after unload: %lld bytes in %lld blocks\n", after.bytes, after.blocks);
  Require(after.bytes == 0 && after.blocks == 0, "unloading gives every block back");
#else
  Require(held.bytes >= static_cast<long long>(qoru::kBltTableBytes) && tableBlocksLoaded >= 7,
          "the module holds its tables while loaded");
  std::printf("heap after unload: %lld bytes in %lld blocks, %d of them a table\n", after.bytes,
              after.blocks, tableBlocksLeft);
  Require(tableBlocksLeft == 0, "unloading frees the tables");
#endif
  Require(loaded, "the module loads");
}

#ifndef _WIN32
// Refuses each of the module's blocks in turn: the load must go on, with the
// module holding nothing, and the unload must leave nothing behind.
void CheckRefusedBlocks(const std::string& path) {
  for (int nth = 1; nth <= 7; ++nth) {
    ifzvk::loadcost::RefuseModuleBlock(path.c_str(), nth);
    ifzvk::loadcost::StartRecording();
    PluginModule module;
    const bool loaded = module.Load(path);
    const auto own = ifzvk::loadcost::LiveBlocksOf(ModuleBase(module));
    module.Unload();
    const auto after = ifzvk::loadcost::LiveBlocks();
    ifzvk::loadcost::StopRecording();
    ifzvk::loadcost::RefuseModuleBlock(nullptr, 0);
    std::printf("block %d refused: load %s, module holds %zu bytes, %zu bytes left after unload\n", nth,
                loaded ? "succeeds" : "FAILS", own.bytes, after.bytes);
    Require(loaded && own.bytes == 0 && after.bytes == 0, "a refused block leaves the tables absent");
  }
}
#endif

}  // namespace

int main(int argc, char** argv) {
  bool check = false;
  std::string path = ifzvk::host::ExecutableDirectory() + ifzvk::host::DefaultModuleName();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--check") == 0) check = true;
    else path = argv[i];
  }
  {
    PluginModule probe;
    if (!probe.Load(path)) {
      std::printf("%s: %s\n", path.c_str(), probe.Error().c_str());
      return 2;
    }
  }
  MeasureTablesInProcess();
  MeasureModule(path);
#ifndef _WIN32
  if (check) CheckRefusedBlocks(path);
#endif
  return check && failed ? 1 : 0;
}
