#include "tools/host/Cli.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace ifzvk::cli {
namespace {

const char* g_tool = "zvk";
bool g_progressOn = false;
std::size_t g_progressShown = 0;  // characters of the progress line on the terminal

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace

void SetToolName(const char* name) { g_tool = name; }

int Fail(int code, const std::string& message) {
  ClearProgress();
  std::fprintf(stderr, "%s: %s\n", g_tool, message.c_str());
  return code;
}

int Usage(const std::string& text, bool asked) {
  std::fputs(text.c_str(), asked ? stdout : stderr);
  return asked ? kDone : kUsage;
}

void Say(const std::string& line) {
  ClearProgress();
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void EnableProgress(bool on) { g_progressOn = on && StderrIsTerminal(); }

void ShowProgress(std::size_t index, std::size_t count, const std::string& name) {
  if (!g_progressOn) return;
  std::string line = "[" + std::to_string(index) + "/" + std::to_string(count) + "] " + name;
  if (line.size() > 78) line = line.substr(0, 75) + "...";
  ClearProgress();
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  g_progressShown = line.size();
}

void ClearProgress() {
  if (g_progressShown == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(g_progressShown), "");
  std::fflush(stderr);
  g_progressShown = 0;
}

}  // namespace ifzvk::cli
