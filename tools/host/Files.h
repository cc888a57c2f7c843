// Files as the tools read and write them: inputs that must be regular files,
// and outputs that replace an existing file only once they are complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/host/Interrupt.h"

namespace ifzvk::host {

// Reads up to limit bytes from offset of a regular file (fewer at its end).
// A folder, pipe, device or socket is refused without being read, and nothing
// is opened in a way that could wait for a writer. False with a message in
// error.
bool ReadRegularFile(const std::string& path, std::uint64_t offset, std::size_t limit,
                     std::vector<unsigned char>& bytes, std::string& error);

// True when both names lead to one existing file (device and inode; on
// Windows volume serial number and file index), hard links included.
bool SameFile(const std::string& first, const std::string& second);

// A file written under a new temporary name in its folder and renamed over
// its final name only when complete, so that the old file stays as it was
// until then and nothing half-written ever carries the final name. The
// temporary file is created exclusively, never through a link, and removed
// when writing fails, when the object goes without Commit(), or (on POSIX
// systems, see InstallInterruptRemoval) when the process is interrupted.
class ReplacingFile {
 public:
  explicit ReplacingFile(std::string path) : path_(std::move(path)) {}
  ~ReplacingFile() { Discard(); }
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Creates the temporary file. Refuses (false with Error()) a final name that
  // is something other than a regular file (a link, folder or device) or a
  // read-only file, which stay as they are.
  bool Open();
  // The stream to write to while open, directly or through Write().
  std::FILE* Stream() const { return stream_; }
  // False with Error(), the temporary file removed, when the bytes cannot be
  // written (the disk is full, say).
  bool Write(const void* bytes, std::size_t size);
  // Flushes the data to the disk and renames the file into place; false with
  // Error() when any write failed, and the temporary file is then removed.
  bool Commit();
  // Removes the temporary file; the final name is left as it was.
  void Discard();
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const std::string& message);

  std::string path_;
  std::string temporary_;
  std::string error_;
  std::FILE* stream_ = nullptr;
  InterruptRemoval removal_;
};

}  // namespace ifzvk::host
