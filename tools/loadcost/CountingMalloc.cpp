#include "tools/loadcost/CountingMalloc.h"

#include <dlfcn.h>

#include <cstring>

// glibc's own allocator, under the names it keeps for those who replace malloc.
extern "C" {
void* __libc_malloc(std::size_t bytes);
void* __libc_calloc(std::size_t count, std::size_t bytes);
void* __libc_realloc(void* block, std::size_t bytes);
void __libc_free(void* block);
}

namespace ifzvk::loadcost {
namespace {

struct Block {
  void* address;
  std::size_t bytes;
  const void* caller;
};

// A fixed table: the allocator must not allocate. Loading the module takes
// a few dozen blocks; a full table just stops recording.
Block blocks[16384];
int blockCount = 0;
bool recording = false;
const char* refusedModule = nullptr;
int refuseCountdown = 0;

void Record(void* address, std::size_t bytes, const void* caller) {
  if (!recording || address == nullptr || blockCount == static_cast<int>(sizeof blocks / sizeof blocks[0])) return;
  blocks[blockCount++] = Block{address, bytes, caller};
}

void Forget(void* address) {
  if (address == nullptr) return;
  for (int i = blockCount - 1; i >= 0; --i) {
    if (blocks[i].address == address) {
      blocks[i] = blocks[--blockCount];
      return;
    }
  }
}

const void* ModuleBaseOf(const void* code) {
  Dl_info info{};
  return dladdr(code, &info) != 0 ? info.dli_fbase : nullptr;
}

bool CodeOfModule(const void* code, const char* path) {
  Dl_info info{};
  return dladdr(code, &info) != 0 && info.dli_fname != nullptr && std::strcmp(info.dli_fname, path) == 0;
}

bool Refused(const void* caller) {
  if (refuseCountdown == 0 || !CodeOfModule(caller, refusedModule)) return false;
  return --refuseCountdown == 0;
}

}  // namespace

void StartRecording() {
  blockCount = 0;
  recording = true;
}

void StopRecording() { recording = false; }

void RefuseModuleBlock(const char* modulePath, int nth) {
  refusedModule = modulePath;
  refuseCountdown = nth < 0 ? 0 : nth;
}

HeapTally LiveBlocks() {
  HeapTally tally;
  for (int i = 0; i < blockCount; ++i) tally.bytes += blocks[i].bytes, ++tally.blocks;
  return tally;
}

HeapTally LiveBlocksOf(const void* moduleBase) {
  HeapTally tally;
  for (int i = 0; i < blockCount; ++i)
    if (ModuleBaseOf(blocks[i].caller) == moduleBase) tally.bytes += blocks[i].bytes, ++tally.blocks;
  return tally;
}

}  // namespace ifzvk::loadcost

using namespace ifzvk::loadcost;

extern "C" {

void* malloc(std::size_t bytes) {
  const void* caller = __builtin_return_address(0);
  if (recording && Refused(caller)) return nullptr;
  void* block = __libc_malloc(bytes);
  Record(block, bytes, caller);
  return block;
}

void* calloc(std::size_t count, std::size_t bytes) {
  const void* caller = __builtin_return_address(0);
  if (recording && Refused(caller)) return nullptr;
  void* block = __libc_calloc(count, bytes);
  Record(block, count * bytes, caller);
  return block;
}

void* realloc(void* old, std::size_t bytes) {
  const void* caller = __builtin_return_address(0);
  if (recording && Refused(caller)) return nullptr;
  void* block = __libc_realloc(old, bytes);
  if (block != nullptr || bytes == 0) Forget(old);
  Record(block, bytes, caller);
  return block;
}

void free(void* block) {
  Forget(block);
  __libc_free(block);
}

}  // extern "C"
