#include "support/TestSupport.h"

#include "tools/host/PluginModule.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace ifzvk::test {

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool ReadFileBytes(const std::string& path, Bytes& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

ScopedWorkDir::ScopedWorkDir() {
  if (!Enter()) ADD_FAILURE() << "no private working folder: " << Error();
}

void HostBitmap::Release() {
  host::FreeBlock(info);
  host::FreeBlock(bits);
  info = bits = nullptr;
}

namespace {
Bytes CopyBlock(HLOCAL handle, std::size_t count) {
  if (handle == nullptr) return {};
  const auto* start = static_cast<const unsigned char*>(host::LockBlock(handle));
  if (start == nullptr) return {};
  Bytes bytes(start, start + count);
  host::UnlockBlock(handle);
  return bytes;
}

std::int32_t Int32At(const Bytes& bytes, std::size_t offset) {
  std::int32_t value = 0;
  if (bytes.size() >= offset + 4) std::memcpy(&value, bytes.data() + offset, 4);
  return value;
}
}  // namespace

Bytes HostBitmap::InfoBytes() const { return CopyBlock(info, sizeof(BITMAPINFOHEADER)); }
Bytes HostBitmap::BitsBytes(std::size_t count) const { return CopyBlock(bits, count); }
std::int32_t HostBitmap::Width() const { return Int32At(InfoBytes(), 4); }
std::int32_t HostBitmap::Height() const { return Int32At(InfoBytes(), 8); }

}  // namespace ifzvk::test
