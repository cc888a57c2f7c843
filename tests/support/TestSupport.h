// Small helpers shared by the tests: files, a private working folder, the
// fault seam and the host's side of the two bitmap blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "plugin/susie.h"
#include "tools/host/WorkDir.h"

namespace ifzvk::test {

using Bytes = std::vector<unsigned char>;

Bytes BytesOf(const std::string& text);
void WriteFileBytes(const std::string& path, const Bytes& bytes);
bool ReadFileBytes(const std::string& path, Bytes& bytes);
bool FileExists(const std::string& path);

// The host's private working folder, entered for the object's lifetime; a
// folder that cannot be made fails the test.
class ScopedWorkDir : public host::PrivateWorkDir {
 public:
  ScopedWorkDir();
};

// Clears every injected fault when the test ends, whatever happened.
struct FaultGuard {
  FaultGuard() { sys::ClearFaults(); }
  ~FaultGuard() { sys::ClearFaults(); }
};

// The host's side of GetPicture: the two handles, locked for reading and
// released with LocalFree at the end.
struct HostBitmap {
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  ~HostBitmap() { Release(); }
  void Release();
  // The header and bits as bytes (empty when a handle is null).
  Bytes InfoBytes() const;
  Bytes BitsBytes(std::size_t count) const;
  std::int32_t Width() const;
  std::int32_t Height() const;
};

}  // namespace ifzvk::test
