// Loading the module builds its lookup tables; unloading gives them back.
// Under LeakSanitizer (linux-asan) and valgrind a block that outlives the
// unload is also reported as a leak when the program ends.
#include <gtest/gtest.h>

#include <string>

#include "image/BltTable.h"
#include "tools/host/HeapUsage.h"
#include "tools/host/PluginModule.h"

namespace {

using ifzvk::host::HeapBytesInUse;
using ifzvk::host::HeapSettlesAfterUnload;
using ifzvk::host::HeapSnapshot;
using ifzvk::host::PluginModule;

std::string ModulePath() { return ifzvk::host::ExecutableDirectory() + ZVK_MODULE_FILE; }

// The first loads of a process leave loader bookkeeping behind for good
// (glibc's grows for several cycles, more of them the more libraries the
// process holds, then stays); the measurements start after it has settled.
void WarmUp() {
  for (int cycle = 0; cycle < 40; ++cycle) {
    PluginModule module;
    ASSERT_TRUE(module.Load(ModulePath())) << module.Error();
  }
}

// Where the heap can be listed but does not settle (Windows), the module's
// tables are told from the runtime's own leftovers by their sizes and bytes,
// against the same tables built in this process before the first snapshot.
const qoru::CBltTable& ReferenceTables() {
  static const qoru::CBltTable tables;
  return tables;
}

int NewTableBlocks(const HeapSnapshot& earlier, const HeapSnapshot& later) {
  const qoru::CBltTable& r = ReferenceTables();
  const void* const tables[7] = {r.weight128, r.weightPlus1, r.weight, r.mulDiv255, r.hypot16, r.gamma22, r.noise};
  return ifzvk::host::AddedCopiesOf(earlier, later, tables, qoru::kBltTableBlockBytes, 7);
}

HeapSnapshot beforeLoad, whileLoaded, afterUnload;  // too big for the stack

TEST(LoadUnload, LoadedModuleHoldsItsTablesUntilUnloaded) {
  ReferenceTables();  // built before the warm-up, which then settles the heap around it too
  ASSERT_NO_FATAL_FAILURE(WarmUp());
  PluginModule module;
  const std::size_t before = HeapBytesInUse();
  beforeLoad.Take();
  ASSERT_TRUE(module.Load(ModulePath())) << module.Error();
  const std::size_t loaded = HeapBytesInUse();
  whileLoaded.Take();
  const int tablesWhileLoaded = NewTableBlocks(beforeLoad, whileLoaded);  // reads the blocks: before the unload
  module.Unload();
  const std::size_t after = HeapBytesInUse();
  afterUnload.Take();

  // A module that lost its statics (say, to an unreferenced archive member)
  // would load for free.
  EXPECT_GE(loaded - before, qoru::kBltTableBytes);
  EXPECT_LT(loaded - before, 2 * qoru::kBltTableBytes);
  if (HeapSettlesAfterUnload()) EXPECT_EQ(after, before);
  if (HeapSnapshot::Supported()) {
    EXPECT_GE(tablesWhileLoaded, 7);
    EXPECT_EQ(NewTableBlocks(beforeLoad, afterUnload), 0);
  }
}

TEST(LoadUnload, ManyLoadsAndUnloadsLeaveNothingBehind) {
  ReferenceTables();  // built before the warm-up, which then settles the heap around it too
  ASSERT_NO_FATAL_FAILURE(WarmUp());
  const std::size_t before = HeapBytesInUse();
  beforeLoad.Take();
  for (int cycle = 0; cycle < 100; ++cycle) {
    PluginModule module;
    ASSERT_TRUE(module.Load(ModulePath())) << "cycle " << cycle << ": " << module.Error();
  }
  afterUnload.Take();
  if (HeapSettlesAfterUnload()) EXPECT_EQ(HeapBytesInUse(), before);
  if (HeapSnapshot::Supported()) EXPECT_EQ(NewTableBlocks(beforeLoad, afterUnload), 0);
}

#ifdef _WIN32
// The statically linked C++ runtime keeps an emergency exception pool of
// about 18 KiB per load unless the module gives it back at FreeLibrary. The
// runtime's remaining per-load crumbs are far smaller than that.
TEST(LoadUnload, UnloadGivesBackTheRuntimesExceptionPool) {
  ASSERT_NO_FATAL_FAILURE(WarmUp());
  const int cycles = 20;
  const std::size_t before = HeapBytesInUse();
  for (int cycle = 0; cycle < cycles; ++cycle) {
    PluginModule module;
    ASSERT_TRUE(module.Load(ModulePath())) << module.Error();
  }
  const std::size_t after = HeapBytesInUse();
  EXPECT_LT(after - before, static_cast<std::size_t>(cycles) * 4096) << "bytes kept over " << cycles << " loads";
}
#endif

}  // namespace
