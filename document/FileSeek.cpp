#include "document/FileSeek.h"

#include "platform/own_file.h"

namespace qoru {

bool CFileSeek::Open(const std::string& name) {
  Close();
  name_ = name;  // first: a copy that fails to allocate leaves no file behind
  file = ifzvk::sys::CreateOwnFile(name_.c_str());
  if (file == nullptr) return false;
  error = false;
  return true;
}

bool CFileSeek::Write(const void* bytes, std::int32_t byteCount) {
  if (byteCount <= 0 || file == nullptr) return false;
  const std::size_t items = std::fwrite(bytes, static_cast<std::size_t>(byteCount), 1, file);
  // A running count only: it wraps rather than overflow.
  bytesWritten = static_cast<std::int32_t>(static_cast<std::uint32_t>(bytesWritten) + static_cast<std::uint32_t>(byteCount));
  if (items != 1) error = true;
  return items == 1;
}

void CFileSeek::Close() {
  if (file != nullptr) {
    std::fclose(file);
    file = nullptr;
  }
  bytesWritten = 0;
}

void CFileSeek::Discard() {
  ifzvk::sys::DeleteOwnFile(name_.c_str(), file);
  file = nullptr;
  bytesWritten = 0;
}

}  // namespace qoru
