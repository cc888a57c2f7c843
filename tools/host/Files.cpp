#include "tools/host/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "platform/win32.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ifzvk::host {
namespace {

constexpr std::size_t kChunk = 1 << 16;
// Temporary names tried before giving up; a taken one is skipped.
constexpr int kAttempts = 100;

bool Fail(std::string& error, const std::string& message) {
  error = message;
  return false;
}

// The folder part of path with its separator ("" for a bare name).
std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  const std::size_t end = path.find_last_of("/\\:");
#else
  const std::size_t end = path.find_last_of('/');
#endif
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

// A name that this process has not used before; another process may hold it.
std::string TemporaryName(const std::string& path) {
  static unsigned serial = 0;
#ifdef _WIN32
  const unsigned long process = GetCurrentProcessId();
#else
  const unsigned long process = static_cast<unsigned long>(getpid());
#endif
  return FolderOf(path) + ".zvk-" + std::to_string(process) + "-" + std::to_string(serial++) + ".part";
}

#ifdef _WIN32

std::string LastError() { return "error " + std::to_string(GetLastError()); }

#else

std::string LastError() { return std::strerror(errno); }

std::string NotRegular(mode_t mode) {
  const char* kind = S_ISDIR(mode)                     ? "a folder"
                     : S_ISFIFO(mode)                  ? "a pipe"
                     : S_ISCHR(mode) || S_ISBLK(mode)  ? "a device"
                     : S_ISSOCK(mode)                  ? "a socket"
                     : S_ISLNK(mode)                   ? "a symbolic link"
                                                       : "something";
  return std::string(kind) + ", not a regular file";
}

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

#endif

}  // namespace

#ifdef _WIN32

bool ReadRegularFile(const std::string& path, std::uint64_t offset, std::size_t limit,
                     std::vector<unsigned char>& bytes, std::string& error) {
  bytes.clear();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(error, LastError());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(error, "a folder, not a regular file");
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(error, LastError());
  bool read = true;
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(std::min<std::uint64_t>(offset, std::numeric_limits<LONGLONG>::max()));
  if (GetFileType(file) != FILE_TYPE_DISK) {
    read = Fail(error, "a device or pipe, not a regular file");
  } else if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
    read = Fail(error, LastError());
  }
  std::vector<unsigned char> chunk(kChunk);
  while (read && bytes.size() < limit) {
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min(kChunk, limit - bytes.size()));
    if (!ReadFile(file, chunk.data(), want, &got, nullptr)) {
      read = Fail(error, LastError());
    } else if (got == 0) {
      break;
    } else {
      bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    }
  }
  CloseHandle(file);
  return read;
}

bool SameFile(const std::string& first, const std::string& second) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* paths[2] = {&first, &second};
  for (int i = 0; i < 2; ++i) {
    // No access asked for: the file's identity, not its contents.
    const HANDLE file = CreateFileA(paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL known = GetFileInformationByHandle(file, &info[i]);
    CloseHandle(file);
    if (!known) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

namespace {

// Empty when path may be replaced, else why not.
std::string RefusalToReplace(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::string();
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
    return "it exists and is not a regular file; it is left as it is";
  if (attributes & FILE_ATTRIBUTE_READONLY) return "it is read-only; it is left as it is";
  return std::string();
}

enum class Created { kYes, kNameTaken, kFailed };

Created CreateNew(const std::string& name, std::FILE*& stream) {
  const HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Created::kNameTaken : Created::kFailed;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY | _O_WRONLY);
  if (fd < 0) {
    CloseHandle(file);
  } else if ((stream = _fdopen(fd, "wb")) == nullptr) {
    _close(fd);
  }
  return Created::kYes;  // the file exists; a null stream says that it cannot be written
}

bool SyncToDisk(std::FILE* stream) {
  return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != 0;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

}  // namespace

#else

bool ReadRegularFile(const std::string& path, std::uint64_t offset, std::size_t limit,
                     std::vector<unsigned char>& bytes, std::string& error) {
  bytes.clear();
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return Fail(error, LastError());
  if (!S_ISREG(info.st_mode)) return Fail(error, NotRegular(info.st_mode));
  // Non-blocking, so that a file swapped for a pipe since cannot hold the open.
  const Descriptor file{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  if (file.fd < 0) return Fail(error, LastError());
  if (fstat(file.fd, &info) != 0) return Fail(error, LastError());
  if (!S_ISREG(info.st_mode)) return Fail(error, NotRegular(info.st_mode));
  if (offset >= static_cast<std::uint64_t>(info.st_size)) return true;
  std::vector<unsigned char> chunk(kChunk);
  while (bytes.size() < limit) {
    const std::size_t want = std::min(kChunk, limit - bytes.size());
    const ssize_t got = pread(file.fd, chunk.data(), want, static_cast<off_t>(offset + bytes.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(error, LastError());
    if (got == 0) break;
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
  }
  return true;
}

bool SameFile(const std::string& first, const std::string& second) {
  struct stat a, b;
  return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

namespace {

std::string RefusalToReplace(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return errno == ENOENT ? std::string() : LastError();
  if (!S_ISREG(info.st_mode)) return "it exists as " + NotRegular(info.st_mode) + "; it is left as it is";
  // No write permission, for this user or (as root) for anyone, marks a
  // file that its owner wants kept.
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.c_str(), W_OK) != 0)
    return "it is read-only; it is left as it is";
  return std::string();
}

enum class Created { kYes, kNameTaken, kFailed };

Created CreateNew(const std::string& name, std::FILE*& stream) {
  // O_EXCL: a new file, never an existing one and never through a link.
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno == EEXIST ? Created::kNameTaken : Created::kFailed;
  stream = fdopen(fd, "wb");
  if (stream == nullptr) close(fd);
  return Created::kYes;  // the file exists; a null stream says that it cannot be written
}

bool SyncToDisk(std::FILE* stream) { return fsync(fileno(stream)) == 0; }

bool MoveIntoPlace(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

}  // namespace

#endif

bool ReplacingFile::Open() {
  Discard();
  const std::string refusal = RefusalToReplace(path_);
  if (!refusal.empty()) return Fail(refusal);
  for (int attempt = 0; attempt < kAttempts && temporary_.empty(); ++attempt) {
    const std::string name = TemporaryName(path_);
    const SignalsHeld held;  // created and registered for removal as one step
    const Created created = CreateNew(name, stream_);
    if (created == Created::kNameTaken) continue;
    if (created == Created::kFailed) return Fail("cannot make a temporary file beside it (" + LastError() + ")");
    temporary_ = name;
    removal_.Set(name, false);
  }
  if (temporary_.empty()) return Fail("cannot make a temporary file beside it: every name tried exists");
  if (stream_ == nullptr) return Fail("cannot write the temporary file " + temporary_);
  return true;
}

bool ReplacingFile::Write(const void* bytes, std::size_t size) {
  if (stream_ == nullptr) return Fail("nothing to write to");
  if (std::fwrite(bytes, 1, size, stream_) == size) return true;
  return Fail(std::string("cannot write the data (") + std::strerror(errno) + ")");
}

bool ReplacingFile::Commit() {
  if (stream_ == nullptr) return Fail("nothing to write");
  bool written = std::fflush(stream_) == 0 && std::ferror(stream_) == 0 && SyncToDisk(stream_);
  const std::string reason = LastError();
  written = std::fclose(stream_) == 0 && written;
  stream_ = nullptr;
  if (!written) return Fail("cannot write the data (" + reason + ")");
  const SignalsHeld held;  // renamed and unregistered as one step
  if (!MoveIntoPlace(temporary_, path_)) return Fail("cannot put the new file in place (" + LastError() + ")");
  removal_.Clear();
  temporary_.clear();
  return true;
}

void ReplacingFile::Discard() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) RemoveFile(temporary_);
  removal_.Clear();
  temporary_.clear();
}

bool ReplacingFile::Fail(const std::string& message) {
  const std::string reason = message;  // Discard may change errno, not the message
  Discard();
  error_ = reason;
  return false;
}

}  // namespace ifzvk::host
