#include "tools/host/Paths.h"

#include <cstring>

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <filesystem>
#include <system_error>
#endif

namespace ifzvk::host {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool HasExtension(const std::string& name, const char* extension) {
  const std::size_t length = std::strlen(extension);
  return name.size() > length && Lower(name.substr(name.size() - length)) == Lower(extension);
}

#ifdef _WIN32

// The ANSI calls, as everywhere in the Windows tools: mingw-w64's
// std::filesystem reads a narrow name as Latin-1 and writes it back as UTF-8,
// which would turn a name in the user's code page into another file.

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string AbsolutePath(const std::string& path) {
  char buffer[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, buffer, nullptr);
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(buffer, length);
}

#else

namespace fs = std::filesystem;

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

bool IsFile(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error) && !fs::is_directory(path, error);
}

std::string AbsolutePath(const std::string& path) {
  if (fs::path(path).is_absolute()) return path;
  std::error_code error;
  const fs::path here = fs::current_path(error);
  return error ? std::string() : (here / path).string();
}

#endif

}  // namespace ifzvk::host
