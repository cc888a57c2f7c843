// A small writer over the C runtime's buffered file streams; the preview
// extraction uses it to put the XML section into its temporary file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qoru {

class CFileSeek {
 public:
  CFileSeek() = default;
  ~CFileSeek() { Close(); }
  CFileSeek(const CFileSeek&) = delete;
  CFileSeek& operator=(const CFileSeek&) = delete;

  // Closes any open file, then creates or truncates `name` for binary writing.
  bool Open(const std::string& name);
  // Writes all byteCount bytes as one item; false when byteCount is not
  // positive, no file is open, or the item was not written whole.
  bool Write(const void* bytes, std::int32_t byteCount);
  void Close();

  std::FILE* file = nullptr;
  std::int32_t bytesWritten = 0;  // lengths asked for since the last Close, written or not
  bool flag = true;               // set at construction, read by nobody
  bool error = true;              // until an Open succeeds, and after a short write
};

}  // namespace qoru
