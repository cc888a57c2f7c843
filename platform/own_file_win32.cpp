// The module's own temporary file on Windows (see own_file.h).
#include "platform/own_file.h"

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace ifzvk::sys {
namespace {

// The file the handle holds goes when its last handle is closed. Deleting by
// handle rather than by name removes exactly that file, wherever the name
// leads by then.
bool MarkForDeletion(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// CREATE_NEW refuses whatever holds the name, a link included, without
// opening it. No sharing: while the request holds the file nobody else opens,
// renames or deletes it, and no other request takes it for a stale one.
HANDLE CreateNew(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

std::string FinalPath(HANDLE object) {
  std::string path(MAX_PATH, '\0');
  DWORD length = GetFinalPathNameByHandleA(object, &path[0], static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
  if (length >= path.size()) {
    path.resize(length);
    length = GetFinalPathNameByHandleA(object, &path[0], static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
  }
  path.resize(length < path.size() ? length : 0);
  return path;
}

// True when the open file is `name` itself, not a file elsewhere that the
// name leads to. Windows opens a link itself under FILE_FLAG_OPEN_REPARSE_POINT
// and this always holds; Wine opens the target of a Unix symbolic link all
// the same, and the path the handle ends at then differs from the name's.
bool IsNamedFile(HANDLE file, const char* name) {
  char full[MAX_PATH];
  char* leaf = nullptr;
  const DWORD length = GetFullPathNameA(name, MAX_PATH, full, &leaf);
  if (length == 0 || length >= MAX_PATH || leaf == nullptr) return false;
  const std::string leafName = leaf;
  *leaf = '\0';
  const HANDLE folder = CreateFileA(full, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  std::string expected = FinalPath(folder);
  CloseHandle(folder);
  if (expected.empty()) return false;
  if (expected.back() != '\\') expected += '\\';
  expected += leafName;
  return lstrcmpiA(expected.c_str(), FinalPath(file).c_str()) == 0;
}

// Removes the file that holds `name` when it is a stale one: opened as it is
// (a link itself, not its target), for writing, by nobody else; a disk file
// with one name that is not read-only. A folder does not open without
// FILE_FLAG_BACKUP_SEMANTICS, so it is never looked into.
bool RemoveStale(const char* name) {
  const HANDLE file =
      CreateFileA(name, GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  constexpr DWORD kNotOurs =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool stale = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                     info.nNumberOfLinks == 1 && (info.dwFileAttributes & kNotOurs) == 0 && IsNamedFile(file, name);
  const bool removed = stale && MarkForDeletion(file);
  CloseHandle(file);
  return removed;
}

bool NameIsTaken(DWORD error) { return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS; }

HANDLE HandleOf(std::FILE* stream) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))); }

}  // namespace

std::FILE* CreateOwnFile(const char* name) {
  HANDLE file = CreateNew(name);
  if (file == INVALID_HANDLE_VALUE && NameIsTaken(GetLastError()) && RemoveStale(name)) file = CreateNew(name);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(file), _O_RDWR | _O_BINARY);
  if (descriptor == -1) {
    MarkForDeletion(file);
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(descriptor, "w+b");
  if (stream == nullptr) {
    MarkForDeletion(file);
    _close(descriptor);
  }
  return stream;
}

// The name is not looked up: the file was opened without FILE_SHARE_DELETE,
// so it cannot have been renamed or replaced while the stream held it.
void DeleteOwnFile(const char* /*name*/, std::FILE* stream) {
  if (stream == nullptr) return;
  MarkForDeletion(HandleOf(stream));
  std::fclose(stream);
}

}  // namespace ifzvk::sys
