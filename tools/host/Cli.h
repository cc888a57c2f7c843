// What the tools share on the command line: one table of exit codes (README.md
// lists it), messages as "<tool>: <what went wrong>" on stderr, and the
// progress line that a message first wipes off the terminal.
#pragma once

#include <cstddef>
#include <string>

namespace ifzvk::cli {

enum Exit : int {
  kDone = 0,
  kUsage = 1,
  kCannotLoad = 2,  // zvk-thumb: the plug-in module; zvk-make: the input picture
  kNotADocument = 3,
  kCannotRead = 4,
  kFailed = 5,  // the plug-in failed, or memory ran out
  kCannotWrite = 6,
  kNoWorkDir = 7,
  kNoPreview = 8,
};

// The name that starts every message; set once by main.
void SetToolName(const char* name);

// Prints "<tool>: <message>" on stderr and returns code.
int Fail(int code, const std::string& message);

// The usage text: on stdout for --help (kDone), else on stderr (kUsage).
int Usage(const std::string& text, bool asked);

// One line of output on stdout.
void Say(const std::string& line);

// "[index/count] name" on stderr while on, only where stderr is a terminal;
// Fail, Say and ClearProgress remove it.
void EnableProgress(bool on);
void ShowProgress(std::size_t index, std::size_t count, const std::string& name);
void ClearProgress();

}  // namespace ifzvk::cli
