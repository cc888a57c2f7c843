#include "tools/host/WorkDir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "tools/host/Paths.h"

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace ifzvk::host {
namespace {

#ifdef _WIN32

std::string LastError(const std::string& what) { return what + " (error " + std::to_string(GetLastError()) + ")"; }

// Removes the folder's files and folders, then the folder. A link or junction
// is removed itself, never entered: this runtime's std::filesystem cannot
// tell one from a folder on Windows, so its remove_all would empty the folder
// it leads to.
bool RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  bool removed = true;
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (folder && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        removed = RemoveTree(path) && removed;
      } else if (folder) {
        removed = RemoveDirectoryA(path.c_str()) && removed;  // a link or junction to a folder
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        removed = DeleteFileA(path.c_str()) && removed;
      }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  return RemoveDirectoryA(folder.c_str()) && removed;
}

#else

std::string LastError(const std::string& what) { return what + ": " + std::strerror(errno); }

// remove_all removes a link itself and never follows it.
bool RemoveTree(const std::string& folder) {
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  if (error) errno = error.value();  // for the message
  return !error;
}

// The file that the interrupt handler removes from an entered folder.
const char* g_interruptEntryName = nullptr;

void ChangeToRoot() {
  if (chdir("/") != 0) {
    // Nothing better to do: POSIX systems remove a folder that is in use.
  }
}

#endif

}  // namespace

PrivateWorkDir::~PrivateWorkDir() { Leave(); }

std::vector<std::string> PrivateWorkDir::Entries() const {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(path_, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path().filename().string());
  return names;
}

#ifdef _WIN32

bool PrivateWorkDir::Enter() {
  if (IsEntered()) return true;
  char current[MAX_PATH];
  const DWORD currentLength = GetCurrentDirectoryA(MAX_PATH, current);
  if (currentLength == 0 || currentLength >= MAX_PATH) {
    error_ = LastError("cannot tell the current directory");
    return false;
  }
  const std::string root = TemporaryRoot();
  if (root.empty()) {
    error_ = LastError("cannot find the temporary folder");
    return false;
  }
  // Unique names by process, time and attempt; an existing one is skipped.
  static unsigned serial = 0;
  std::string folder;
  for (int attempt = 0; attempt < 100 && folder.empty(); ++attempt) {
    const std::string candidate = root + "\\zvk-thumb-" + std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(GetTickCount()) + "-" + std::to_string(serial++);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      folder = candidate;
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
      error_ = LastError("cannot make a private folder in " + root);
      return false;
    }
  }
  if (folder.empty()) {
    error_ = "cannot make a private folder in " + root + ": every name tried exists";
    return false;
  }
  if (!SetCurrentDirectoryA(folder.c_str())) {
    error_ = LastError("cannot enter the private folder " + folder);
    RemoveDirectoryA(folder.c_str());
    return false;
  }
  previous_.assign(current, currentLength);
  path_ = folder;
  return true;
}

bool PrivateWorkDir::Leave() {
  if (!IsEntered()) return true;
  // A folder that is some process's current directory cannot be removed.
  if (!SetCurrentDirectoryA(previous_.c_str())) SetCurrentDirectoryA(TemporaryRoot().c_str());
  const bool removed = RemoveTree(path_);
  if (!removed) error_ = LastError("cannot remove the private folder " + path_);
  path_.clear();
  previous_.clear();
  return removed;
}

std::string TemporaryRoot() {
  char buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length > MAX_PATH) return std::string();
  std::string root(buffer, length);
  while (root.size() > 3 && (root.back() == '\\' || root.back() == '/')) root.pop_back();
  return root;
}

void RemoveWorkDirOnInterrupt(const char*) {}

#else

bool PrivateWorkDir::Enter() {
  if (IsEntered()) return true;
  const int current = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (current < 0) {
    error_ = LastError("cannot hold the current directory");
    return false;
  }
  // Absolute, so that the folder's name means the same from inside it.
  const std::string root = AbsolutePath(TemporaryRoot());
  if (root.empty()) {
    error_ = "cannot resolve the temporary folder " + TemporaryRoot() + " against the current directory";
    close(current);
    return false;
  }
  std::string pattern = root + "/zvk-thumb-XXXXXX";
  {
    const SignalsHeld held;  // the folder is made and registered for removal as one step
    if (mkdtemp(&pattern[0]) == nullptr) {  // mode 0700
      error_ = LastError("cannot make a private folder in " + root);
      close(current);
      return false;
    }
    folderRemoval_.Set(pattern, true);
    if (g_interruptEntryName != nullptr) entryRemoval_.Set(pattern + "/" + g_interruptEntryName, false);
  }
  if (chdir(pattern.c_str()) != 0) {
    error_ = LastError("cannot enter the private folder " + pattern);
    entryRemoval_.Clear();
    folderRemoval_.Clear();
    rmdir(pattern.c_str());
    close(current);
    return false;
  }
  previous_ = current;
  path_ = pattern;
  return true;
}

bool PrivateWorkDir::Leave() {
  if (!IsEntered()) return true;
  // Back where the caller was; failing that, out of the folder anyway.
  if (fchdir(previous_) != 0) ChangeToRoot();
  close(previous_);
  previous_ = -1;
  const bool removed = RemoveTree(path_);
  if (!removed) error_ = LastError("cannot remove the private folder " + path_);
  entryRemoval_.Clear();
  folderRemoval_.Clear();
  path_.clear();
  return removed;
}

std::string TemporaryRoot() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string root = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

void RemoveWorkDirOnInterrupt(const char* entryName) {
  g_interruptEntryName = entryName;
  InstallInterruptRemoval();
}

#endif

}  // namespace ifzvk::host
