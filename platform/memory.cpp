#include "platform/memory.h"

#include <atomic>
#include <cstdlib>

namespace ifzvk::sys {
namespace {

std::atomic<int> countdown[3];

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
  return Injected(FaultKind::LocalAlloc) ? nullptr : ::LocalAlloc(flags, bytes);
}

LPVOID LockLocal(HLOCAL block) { return Injected(FaultKind::LocalLock) ? nullptr : ::LocalLock(block); }

void UnlockLocal(HLOCAL block) { ::LocalUnlock(block); }

void FreeLocal(HLOCAL block) {
  if (block != nullptr) ::LocalFree(block);
}

void* AllocHeap(std::size_t bytes) { return Injected(FaultKind::HeapAlloc) ? nullptr : std::malloc(bytes); }

void FreeHeap(void* block) { std::free(block); }

void FailCall(FaultKind kind, int nth) { countdown[static_cast<int>(kind)].store(nth < 0 ? 0 : nth); }

void ClearFaults() {
  for (auto& left : countdown) left.store(0);
}

}  // namespace ifzvk::sys
