// A small writer over the C runtime's buffered file streams; the preview
// extraction uses it to put the XML section into its temporary file and to
// read it back through the same stream, so that nothing can put another file
// in its place between the writing and the reading.
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

  // Closes any open file, then creates `name` anew as a file of the writer's
  // own, open for writing and reading back (see platform/own_file.h): false
  // when the name is taken by a link, a folder, a special file or a file that
  // is not a stale one of ours.
  bool Open(const std::string& name);
  // Writes all byteCount bytes as one item; false when byteCount is not
  // positive, no file is open, or the item was not written whole.
  bool Write(const void* bytes, std::int32_t byteCount);
  // Closes the file; it stays on disk.
  void Close();
  // Deletes the open file, provided its name still leads to it, and closes
  // it. After Close there is nothing left to delete.
  void Discard();

  std::FILE* file = nullptr;
  std::int32_t bytesWritten = 0;  // lengths asked for since the last Close, written or not
  bool flag = true;               // true from construction on; the extraction does not consult it
  bool error = true;              // until an Open succeeds, and after a short write

 private:
  std::string name_;  // of the open file
};

}  // namespace qoru
