// The module's Win32 calls for POSIX systems (see win32.h for the conventions).
#include "platform/win32.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int DescriptorOf(HANDLE file) { return static_cast<int>(reinterpret_cast<LONG_PTR>(file)); }

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD /*share*/, void* /*security*/,
                   DWORD disposition, DWORD /*flags*/, HANDLE /*templateFile*/) {
  if (access != GENERIC_READ || disposition != OPEN_EXISTING) return INVALID_HANDLE_VALUE;
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  // Windows refuses to open a directory as a file; so do we.
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return INVALID_HANDLE_VALUE;
  }
  return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(fd));
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  if (method != FILE_BEGIN) return INVALID_SET_FILE_POINTER;
  // Without a high part the distance is a signed 32-bit value; a negative
  // position is an error, as on Windows.
  off_t target = distance;
  if (distanceHigh != nullptr)
    target = static_cast<off_t>((static_cast<std::uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                static_cast<DWORD>(distance));
  if (target < 0) return INVALID_SET_FILE_POINTER;
  const off_t position = ::lseek(DescriptorOf(file), target, SEEK_SET);
  if (position < 0) return INVALID_SET_FILE_POINTER;
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
  return static_cast<DWORD>(position);
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  struct stat info {};
  if (::fstat(DescriptorOf(file), &info) != 0) return INVALID_FILE_SIZE;
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  struct stat info {};
  if (::fstat(DescriptorOf(file), &info) != 0) return FALSE;
  size->QuadPart = static_cast<std::int64_t>(info.st_size);
  return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, void* /*overlapped*/) {
  // Like Windows on a disk file: read until the count is reached or the file ends.
  auto* out = static_cast<unsigned char*>(buffer);
  DWORD total = 0;
  while (total < toRead) {
    const ssize_t got = ::read(DescriptorOf(file), out + total, toRead - total);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (read != nullptr) *read = total;
      return FALSE;
    }
    if (got == 0) break;
    total += static_cast<DWORD>(got);
  }
  if (read != nullptr) *read = total;
  return TRUE;
}

BOOL CloseHandle(HANDLE object) { return ::close(DescriptorOf(object)) == 0 ? TRUE : FALSE; }

BOOL DeleteFileA(LPCSTR name) {
  // DeleteFile removes files only, never directories.
  struct stat info {};
  if (::lstat(name, &info) != 0 || S_ISDIR(info.st_mode)) return FALSE;
  return ::unlink(name) == 0 ? TRUE : FALSE;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  // malloc(0) may answer null; Windows hands out a block all the same.
  const SIZE_T size = bytes == 0 ? 1 : bytes;
  return (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, size) : std::malloc(size);
}

LPVOID LocalLock(HLOCAL block) { return block; }

// Windows answers FALSE once the block is no longer locked.
BOOL LocalUnlock(HLOCAL /*block*/) { return FALSE; }

HLOCAL LocalFree(HLOCAL block) {
  std::free(block);
  return nullptr;
}

LPSTR lstrcpynA(LPSTR destination, LPCSTR source, int maxLength) {
  if (maxLength <= 0) return destination;
  int i = 0;
  for (; i < maxLength - 1 && source[i] != '\0'; ++i) destination[i] = source[i];
  destination[i] = '\0';
  return destination;
}

int lstrlenA(LPCSTR text) { return text == nullptr ? 0 : static_cast<int>(std::strlen(text)); }
