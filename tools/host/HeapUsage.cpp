#include "tools/host/HeapUsage.h"

#include <cstring>

#ifdef _WIN32
#include <malloc.h>
#else
#if defined(__SANITIZE_ADDRESS__)
#define ZVK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZVK_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef ZVK_ADDRESS_SANITIZER
// From the sanitizer runtime (GCC does not install its interface headers).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif
#endif

namespace ifzvk::host {

std::size_t HeapBytesInUse() {
#if defined(_WIN32)
  // The C runtime's heap is the one the module's malloc uses as well.
  _HEAPINFO entry{};
  std::size_t bytes = 0;
  while (_heapwalk(&entry) == _HEAPOK)
    if (entry._useflag == _USEDENTRY) bytes += entry._size;
  return bytes;
#elif defined(ZVK_ADDRESS_SANITIZER)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;  // small chunks plus mmapped blocks
#endif
}

bool HeapSettlesAfterUnload() {
#if defined(_WIN32) || defined(ZVK_ADDRESS_SANITIZER)
  return false;
#else
  return true;
#endif
}

bool HeapSnapshot::Supported() {
#ifdef _WIN32
  return true;
#else
  return false;
#endif
}

void HeapSnapshot::Take() {
  count_ = 0;
#ifdef _WIN32
  _HEAPINFO entry{};
  while (_heapwalk(&entry) == _HEAPOK && count_ < kCapacity)
    if (entry._useflag == _USEDENTRY) blocks_[count_++] = HeapBlock{entry._pentry, entry._size};
#endif
}

bool HeapSnapshot::Holds(const HeapBlock& block) const {
  for (int i = 0; i < count_; ++i)
    if (blocks_[i].address == block.address && blocks_[i].bytes == block.bytes) return true;
  return false;
}

int AddedCopiesOf(const HeapSnapshot& earlier, const HeapSnapshot& later, const void* const* references,
                  const std::size_t* sizes, int count) {
  int added = 0;
  for (int i = 0; i < later.Count(); ++i) {
    if (earlier.Holds(later[i])) continue;
    for (int r = 0; r < count; ++r) {
      if (later[i].bytes == sizes[r] && std::memcmp(later[i].address, references[r], sizes[r]) == 0) {
        ++added;
        break;
      }
    }
  }
  return added;
}

}  // namespace ifzvk::host
