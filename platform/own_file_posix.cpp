// The module's own temporary file on POSIX systems (see own_file.h).
#include "platform/own_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ifzvk::sys {
namespace {

// A new file only: O_EXCL refuses whatever holds the name, a link or a FIFO
// included, without opening it, so nothing is written through and nothing
// blocks. Private to the user while it exists.
constexpr int kCreateFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
constexpr mode_t kCreateMode = 0600;

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Unlinks `name` when it is a regular file and the one `expected` describes.
// The caller holds that file open, so its inode cannot pass to another file
// between the look and the unlink.
void UnlinkIfSame(const char* name, const struct stat& expected) {
  struct stat named {};
  if (::lstat(name, &named) == 0 && S_ISREG(named.st_mode) && SameFile(named, expected)) ::unlink(name);
}

bool IsStale(const struct stat& file) {
  return S_ISREG(file.st_mode) && file.st_nlink == 1 && file.st_uid == ::geteuid() && (file.st_mode & S_IWUSR) != 0;
}

// Removes the file that holds `name` when it is a stale one of ours. Special
// files are never opened (the look comes first, O_NONBLOCK guards against a
// swap); opening for writing, without truncating, shows that the process
// may write it.
bool RemoveStale(const char* name) {
  struct stat named {};
  if (::lstat(name, &named) != 0 || !IsStale(named)) return false;
  const int fd = ::open(name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat opened {};
  const bool stale = ::fstat(fd, &opened) == 0 && SameFile(opened, named) && IsStale(opened);
  if (stale) UnlinkIfSame(name, opened);
  ::close(fd);
  return stale;
}

int CreateNew(const char* name) { return ::open(name, kCreateFlags, kCreateMode); }

}  // namespace

std::FILE* CreateOwnFile(const char* name) {
  int fd = CreateNew(name);
  if (fd < 0 && errno == EEXIST && RemoveStale(name)) fd = CreateNew(name);
  if (fd < 0) return nullptr;
  std::FILE* stream = ::fdopen(fd, "w+b");
  if (stream == nullptr) {
    struct stat own {};
    if (::fstat(fd, &own) == 0) UnlinkIfSame(name, own);
    ::close(fd);
  }
  return stream;
}

void DeleteOwnFile(const char* name, std::FILE* stream) {
  if (stream == nullptr) return;
  struct stat own {};
  if (::fstat(::fileno(stream), &own) == 0) UnlinkIfSame(name, own);
  std::fclose(stream);
}

}  // namespace ifzvk::sys
