#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/host/Paths.h"
#include "tools/host/WorkDir.h"

// The sanitizers' settings, built into every target so that a finding
// replays with the same settings. No cap on the size of one allocation: the
// module sizes its blocks by what a document really holds, never by what it
// states, so a block of gigabytes from a small input is a finding (libFuzzer
// reports it as out of memory), not something to step around.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "allocator_may_return_null=1:detect_leaks=1";
}
extern "C" __attribute__((visibility("default"))) const char* __ubsan_default_options() {
  return "print_stacktrace=1:halt_on_error=1";
}

namespace ifzvk::fuzz {
namespace {

// Arguments of ours live until exit: libFuzzer keeps pointers into argv.
char* Keep(const std::string& text) { return ::strdup(text.c_str()); }

}  // namespace

void MakePathsAbsolute(int* argc, char*** argv) {
  char here[4096];
  if (::getcwd(here, sizeof here) == nullptr) Fail("getcwd");
  const std::string base = here;

  // Paths among the arguments would otherwise be read relative to the private folder.
  static const char* const kPathFlags[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict="};
  bool hasArtifactPrefix = false;
  auto* args = new char*[static_cast<std::size_t>(*argc) + 2];
  for (int i = 0; i < *argc; ++i) {
    const std::string arg = (*argv)[i];
    args[i] = (*argv)[i];
    if (i == 0) continue;  // libFuzzer insists on its own argv[0]
    if (arg.empty() || arg[0] != '-') {
      args[i] = Keep(host::AbsolutePath(arg));
      continue;
    }
    for (const char* flag : kPathFlags) {
      const std::size_t length = std::strlen(flag);
      if (arg.compare(0, length, flag) != 0) continue;
      if (std::strcmp(flag, "-artifact_prefix=") == 0) hasArtifactPrefix = true;
      args[i] = Keep(flag + host::AbsolutePath(arg.substr(length)));
    }
  }
  int count = *argc;
  if (!hasArtifactPrefix) args[count++] = Keep("-artifact_prefix=" + base + "/");
  args[count] = nullptr;
  *argc = count;
  *argv = args;
}

void EnterPrivateDirectory() {
  static host::PrivateWorkDir folder;  // left and removed at exit
  if (!folder.IsEntered() && !folder.Enter()) Fail(folder.Error().c_str());
}

}  // namespace ifzvk::fuzz

// Every target turns the paths in its arguments absolute before libFuzzer
// uses them; the targets later work in a private current directory.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  ifzvk::fuzz::MakePathsAbsolute(argc, argv);
  return 0;
}
