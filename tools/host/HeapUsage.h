// What the C runtime heap of this process holds: lets a test or a tool see what
// loading the module costs and that unloading gives it back.
#pragma once

#include <cstddef>

namespace ifzvk::host {

// Bytes in use in the C runtime heap (malloc) of this process, the modules it
// loaded included. Windows and AddressSanitizer builds count the bytes asked
// for; other native builds count glibc's chunks, bookkeeping included.
std::size_t HeapBytesInUse();

// Whether the figure comes back to where it was once a loaded module is
// unloaded again. Not under AddressSanitizer: there glibc's list of exit
// handlers gains a block every few load/unload cycles, whatever the module
// does; LeakSanitizer is the leak check of those builds. Not on Windows: the
// C++ runtime linked into the module sets up its locale on the C runtime heap
// and never frees it, about 19 KB per load.
bool HeapSettlesAfterUnload();

struct HeapBlock {
  const void* address;
  std::size_t bytes;
};

// The blocks in use in the C runtime heap at one moment, where the platform
// can list them (Windows); elsewhere it stays empty. Fixed capacity, so that
// taking a snapshot allocates nothing.
class HeapSnapshot {
 public:
  static bool Supported();
  void Take();
  bool Holds(const HeapBlock& block) const;
  int Count() const { return count_; }
  const HeapBlock& operator[](int i) const { return blocks_[i]; }

 private:
  static constexpr int kCapacity = 16384;
  HeapBlock blocks_[kCapacity];
  int count_ = 0;
};

// Blocks that `later` holds and `earlier` did not, each of the size and with
// the bytes of one of the `count` reference blocks. The blocks are read, so
// `later` must still describe the heap as it is. Matching the bytes as well
// as the size keeps the runtime's own blocks out: the 64-bit runtime leaves a
// 256-byte block behind at every unload, the size of one of the tables.
int AddedCopiesOf(const HeapSnapshot& earlier, const HeapSnapshot& later, const void* const* references,
                  const std::size_t* sizes, int count);

}  // namespace ifzvk::host
