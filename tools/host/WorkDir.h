// Working folders for a host that calls GetPicture. The module writes and
// deletes a temporary file of one fixed name in the current directory, so the
// host gives every picture request a fresh private folder of its own as the
// current directory: parallel runs cannot meet there, nothing lands in the
// user's folders, and a read-only working directory costs nothing. The tools,
// the tests, the benchmarks and the fuzz targets all work in one.
#pragma once

#include <string>
#include <vector>

#include "tools/host/Interrupt.h"

namespace ifzvk::host {

class PrivateWorkDir {
 public:
  PrivateWorkDir() = default;
  ~PrivateWorkDir();
  PrivateWorkDir(const PrivateWorkDir&) = delete;
  PrivateWorkDir& operator=(const PrivateWorkDir&) = delete;

  // Makes a new folder, readable by this user only, in the system's temporary
  // folder (TMPDIR or /tmp; on Windows the user's temporary folder) and makes
  // it the current directory. False with Error() when either step fails; the
  // current directory is then unchanged and nothing is left behind.
  bool Enter();

  // Returns to the previous current directory and removes the folder with
  // whatever is left in it; a link inside is removed, never followed. False
  // with Error() when the folder could not be removed completely. Does
  // nothing when the folder is not entered.
  bool Leave();

  bool IsEntered() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }
  // The names in the folder, for "nothing was left behind" checks.
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
  std::string error_;
#ifdef _WIN32
  std::string previous_;
#else
  int previous_ = -1;  // the previous current directory, held open
  InterruptRemoval entryRemoval_;
  InterruptRemoval folderRemoval_;
#endif
};

// On POSIX systems: when the process is interrupted (SIGINT, SIGTERM,
// SIGHUP) while a PrivateWorkDir is entered, the file `entryName` in it and the
// folder itself are removed before the signal takes its usual effect. Nothing
// on Windows.
void RemoveWorkDirOnInterrupt(const char* entryName);

// The system's temporary folder that Enter() uses, without a trailing separator.
std::string TemporaryRoot();

}  // namespace ifzvk::host
