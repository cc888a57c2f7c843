// Every local-memory and heap allocation of the module goes through these calls:
// one narrow seam that a test can make fail, to reach the out-of-memory and
// lock-failure paths on every build. Outside tests they are the plain calls.
#pragma once

#include <cstddef>

#include "platform/win32.h"

namespace ifzvk::sys {

HLOCAL AllocLocal(UINT flags, SIZE_T bytes);
LPVOID LockLocal(HLOCAL block);
void UnlockLocal(HLOCAL block);
void FreeLocal(HLOCAL block);

// C runtime heap: blocks are released with FreeHeap or free().
void* AllocHeap(std::size_t bytes);
// A zero-filled heap block. Large blocks come as fresh pages that cost
// nothing until they are written, unlike AllocHeap followed by a fill.
void* AllocHeapZeroed(std::size_t bytes);
// Moves a heap block to a new size, keeping its first bytes; null, with the
// block left as it was, when that fails. Bytes past the old size are not
// filled (FillNewBlocks). Large blocks usually grow where they lie, or have
// their pages moved rather than copied.
void* ReallocHeap(void* block, std::size_t bytes);
void FreeHeap(void* block);

// Test seam: the call of the given kind that comes `nth` from now (1 = the
// next one) fails; 0 turns it off. Not for concurrent use.
enum class FaultKind { LocalAlloc, LocalLock, HeapAlloc };
void FailCall(FaultKind kind, int nth);
// Test seam: new uncleared local and heap blocks are filled with this byte (as
// a debug heap would), so a test sees any byte the module forgets to write.
// A negative value turns it off; ClearFaults turns it off too.
void FillNewBlocks(int byte);
void ClearFaults();

}  // namespace ifzvk::sys
