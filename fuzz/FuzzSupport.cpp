#include "fuzz/FuzzSupport.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZVK_FUZZ_ASAN 1
#include <sanitizer/allocator_interface.h>
#endif
#endif
#include <tinyxml.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "document/Container.h"
#include "document/Limits.h"
#include "document/XmlGuard.h"
#include "document/thumbnail.h"
#include "plugin/entry_points.h"
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

struct ProgressState {
  Progress mode;
  int calls = 0;
};

int WINAPI OnProgress(int num, int denom, SusieData lData) {
  auto* state = reinterpret_cast<ProgressState*>(lData);
  ++state->calls;
  Check(state->calls <= 2, "the progress callback was called more than twice");
  Check(denom == 1 && num == state->calls - 1, "the progress callback got other values than (0, 1) then (1, 1)");
  if (state->mode == Progress::AbortFirst && state->calls == 1) return 1;
  if (state->mode == Progress::AbortSecond && state->calls == 2) return 1;
  return 0;
}

std::uint32_t Field32(const unsigned char* bytes, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

std::uint16_t Field16(const unsigned char* bytes, std::size_t offset) {
  std::uint16_t value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

}  // namespace

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

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

void CheckNoTemporaryFile() {
  struct stat info {};
  Check(::lstat(kTemporaryXmlFile, &info) != 0 && errno == ENOENT, "the temporary XML file was left behind");
}

namespace {

// Walks the tree with a stack of its own: a tree that got past the scan too
// deep must fail the check, not overflow this walk.
void CheckTreeWithinLimits(const TiXmlDocument& tree) {
  std::vector<std::pair<const TiXmlNode*, int>> pending{{&tree, 0}};
  long nodes = 0;
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    for (const TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
      ++nodes;
      const TiXmlElement* element = child->ToElement();
      if (element == nullptr) continue;
      Check(depth + 1 <= limits::kMaxXmlDepth, "the XML scan let through elements nested too deep");
      int attributes = 0;
      for (const TiXmlAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next()) ++attributes;
      Check(attributes <= limits::kMaxXmlAttributesPerElement, "the XML scan let through too many attributes");
      nodes += attributes;
      pending.emplace_back(child, depth + 1);
    }
  }
  Check(nodes <= limits::kMaxXmlNodes, "the XML scan let through too many nodes");
}

}  // namespace

void CheckXmlWithinLimits(const unsigned char* data, std::size_t size) {
  DocumentSections sections{};
  if (!LocateSections(data, size, sections)) return;
  // XML that the scan refuses never reaches TinyXML in the module either.
  if (ScanXml(sections.xml, static_cast<std::size_t>(sections.xmlSize)) != XmlVerdict::Loadable) return;
  std::string xml(reinterpret_cast<const char*>(sections.xml), static_cast<std::size_t>(sections.xmlSize));
  // TinyXML may step up to three bytes past a cut-off UTF-8 sequence at the
  // end of its text; spare NULs keep this look-ahead of ours inside the string.
  xml.append(4, '\0');
  TiXmlDocument tree;
  tree.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
  CheckTreeWithinLimits(tree);
}

std::size_t AllocatedSize(const void* block) {
#ifdef ZVK_FUZZ_ASAN
  return __sanitizer_get_allocated_size(block);
#else
  (void)block;
  return kUnknownSize;
#endif
}

std::size_t Stride(std::int32_t width) { return (3 * static_cast<std::size_t>(width) + 3) & ~std::size_t{3}; }

Outcome RequestPicture(const unsigned char* data, std::size_t size, Progress progress) {
  ProgressState state{progress};
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  const ProgressCallback callback = progress == Progress::None ? nullptr : OnProgress;
  Outcome outcome;
  outcome.result = GetPicture(reinterpret_cast<LPCSTR>(data), static_cast<SusieLen>(size), 1, &info, &bits,
                              callback, reinterpret_cast<SusieData>(&state));
  outcome.progressCalls = state.calls;
  CheckNoTemporaryFile();

  // Memory mode reads nothing from a file: 6 never comes back, nor does 3.
  const int result = outcome.result;
  Check(result == Success || result == Aborted || result == UnknownFormat || result == OutOfMemory ||
            result == MemoryError,
        "a result code outside the allowed set");

  // The magic alone decides between 2 and a picture; the callback is reached
  // only after it has passed.
  const bool accepted = size >= 20 && HasDocumentMagic(data);
  Check((result == UnknownFormat) == !accepted, "result 2 does not match the magic test");
  if (!accepted) Check(state.calls == 0, "the callback was called for a rejected document");
  const bool earlyAbort = progress == Progress::AbortFirst;
  if (accepted && earlyAbort) Check(result == Aborted && state.calls == 1, "an abort at (0, 1) was not honoured");

  outcome.hasBitmap = result == Success || (result == Aborted && state.calls == 2);
  if (accepted && !earlyAbort && result != OutOfMemory && result != MemoryError) {
    Check(state.calls == (callback != nullptr ? 2 : 0), "the callback was not called twice");
    Check(outcome.hasBitmap, "an accepted document gave no bitmap");
    Check(result == (progress == Progress::AbortSecond ? Aborted : Success), "the late abort's result is wrong");
  }
  if (!outcome.hasBitmap) {
    Check(info == nullptr && bits == nullptr, "a handle was set without a bitmap");
    return outcome;
  }

  Check(info != nullptr && bits != nullptr, "a bitmap result without both blocks");
  // The blocks must be exactly what the header describes: no shorter (the
  // host would read past them) and no longer.
  Check(BlockIs(info, 40), "the header block is not 40 bytes");
  const auto* header = static_cast<const unsigned char*>(LocalLock(info));
  outcome.width = static_cast<std::int32_t>(Field32(header, 4));
  outcome.height = static_cast<std::int32_t>(Field32(header, 8));
  Check(Field32(header, 0) == 40, "biSize is not 40");
  Check(outcome.width >= 1 && outcome.height >= 1, "the bitmap is smaller than 1 x 1");
  Check(Field16(header, 12) == 1 && Field16(header, 14) == 24, "not one plane of 24 bits");
  Check(Field32(header, 16) == 0, "biCompression is not BI_RGB");
  LocalUnlock(info);

  const std::size_t stride = Stride(outcome.width);
  const std::size_t bytes = stride * static_cast<std::size_t>(outcome.height);
  Check(BlockIs(bits, bytes), "the bits block is not stride x height bytes");
  const auto* rows = static_cast<const unsigned char*>(LocalLock(bits));
  outcome.bits.assign(rows, rows + bytes);
  LocalUnlock(bits);
  const std::size_t used = 3 * static_cast<std::size_t>(outcome.width);
  for (std::size_t row = 0; row < static_cast<std::size_t>(outcome.height); ++row) {
    for (std::size_t i = used; i < stride; ++i) Check(outcome.bits[row * stride + i] == 0, "row padding is not zero");
  }
  LocalFree(info);
  LocalFree(bits);
  return outcome;
}

}  // namespace ifzvk::fuzz

// Every target turns the paths in its arguments absolute before libFuzzer
// uses them; the targets later work in a private current directory.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  ifzvk::fuzz::MakePathsAbsolute(argc, argv);
  return 0;
}
