#include "platform/memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace ifzvk::sys {
namespace {

std::atomic<int> countdown[3];
std::atomic<int> fillByte{-1};

void* Filled(void* block, std::size_t bytes) {
  const int byte = fillByte.load(std::memory_order_relaxed);
  if (block != nullptr && byte >= 0) std::memset(block, byte, bytes);
  return block;
}

// True when this call is the one a test asked to fail.
bool Injected(FaultKind kind) {
  auto& left = countdown[static_cast<int>(kind)];
  int current = left.load(std::memory_order_relaxed);
  while (current > 0) {
    if (left.compare_exchange_weak(current, current - 1, std::memory_order_relaxed)) return current == 1;
  }
  return false;
}

}  // namespace

HLOCAL AllocLocal(UINT flags, SIZE_T bytes) {
  if (Injected(FaultKind::LocalAlloc)) return nullptr;
  HLOCAL block = ::LocalAlloc(flags, bytes);
  if (block == nullptr || (flags & LMEM_ZEROINIT) != 0 || fillByte.load(std::memory_order_relaxed) < 0) return block;
  void* start = ::LocalLock(block);
  Filled(start, bytes);
  ::LocalUnlock(block);
  return block;
}

LPVOID LockLocal(HLOCAL block) { return Injected(FaultKind::LocalLock) ? nullptr : ::LocalLock(block); }

void UnlockLocal(HLOCAL block) { ::LocalUnlock(block); }

void FreeLocal(HLOCAL block) {
  if (block != nullptr) ::LocalFree(block);
}

void* AllocHeap(std::size_t bytes) {
  return Injected(FaultKind::HeapAlloc) ? nullptr : Filled(std::malloc(bytes), bytes);
}

void* AllocHeapZeroed(std::size_t bytes) {
  return Injected(FaultKind::HeapAlloc) ? nullptr : std::calloc(1, bytes == 0 ? 1 : bytes);
}

void* ReallocHeap(void* block, std::size_t bytes) {
  return Injected(FaultKind::HeapAlloc) ? nullptr : std::realloc(block, bytes == 0 ? 1 : bytes);
}

void FreeHeap(void* block) { std::free(block); }

void FailCall(FaultKind kind, int nth) { countdown[static_cast<int>(kind)].store(nth < 0 ? 0 : nth); }

void FillNewBlocks(int byte) { fillByte.store(byte < 0 ? -1 : (byte & 0xFF)); }

void ClearFaults() {
  for (auto& left : countdown) left.store(0);
  fillByte.store(-1);
}

}  // namespace ifzvk::sys
