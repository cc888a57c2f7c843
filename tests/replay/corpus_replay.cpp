// Replays the committed fuzz corpora through the built module, loaded as a
// viewer loads it: every file under CORPUS/<target>/ goes through the checks
// of its fuzz target (fuzz/FuzzChecks.h) in memory mode and in file mode, and
// both modes must hand back the same picture. No libFuzzer is needed, so the
// corpora are checked on every build, under Wine too.
//
// Usage: zvk-corpus-replay CORPUS. Exit 0 when every input passes, 1 when the
// module, the corpus or a working folder is missing; a failed check aborts.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzChecks.h"
#include "tools/host/PluginModule.h"
#include "tools/host/WorkDir.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using namespace ifzvk;
using namespace ifzvk::fuzz;
using Bytes = std::vector<unsigned char>;

struct Input {
  std::string path;
  Bytes bytes;
};

// The target's corpus, in name order; empty when the folder is missing.
std::vector<Input> ReadCorpus(const std::filesystem::path& folder) {
  std::vector<Input> inputs;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    inputs.push_back({entry.path().string(), Bytes(std::istreambuf_iterator<char>(file), {})});
  }
  std::sort(inputs.begin(), inputs.end(), [](const Input& a, const Input& b) { return a.path < b.path; });
  return inputs;
}

// The same checks in both modes, and the same picture from both.
template <class Checks>
void InBothModes(host::GetPictureFn getPicture, const Bytes& bytes, Checks checks) {
  const Outcome memory = checks(Route{getPicture, Mode::Memory}, bytes.data(), bytes.size());
  const Outcome file = checks(Route{getPicture, Mode::File}, bytes.data(), bytes.size());
  Check(memory == file, "file mode answered otherwise than memory mode");
}

// Beside the library's checks, the input's bin section goes into a document
// whose Thumb asks the input's record name for a row of (wanted / 4) pixels,
// through the module.
void ReplayDecodeInput(host::GetPictureFn getPicture, const Bytes& bytes) {
  CheckDecodeInput(bytes.data(), bytes.size());
  const DecodeInput input = SplitDecodeInput(bytes.data(), bytes.size());
  const int width = static_cast<int>(std::max<std::uint32_t>(1, input.wanted / 4));
  writer::Document document;
  document.xml = writer::ThumbXml(width, 1, input.name);
  document.binSize = static_cast<std::int32_t>(input.binSize);
  document.trailing.assign(input.bin, input.bin + input.binSize);  // no records: the bin section itself
  const Bytes wrapped = writer::DocumentBytes(document);
  InBothModes(getPicture, wrapped, [&](const Route& route, const unsigned char* data, std::size_t size) {
    const Outcome outcome = RequestPicture(route, data, size, Progress::Continue);
    Check(outcome.result == Success, "a document with a bin section did not give result 0");
    return outcome;
  });
}

const struct {
  const char* target;
  void (*replay)(host::GetPictureFn, const Bytes&);
} kTargets[] = {
    {"fuzz_picture", [](host::GetPictureFn get, const Bytes& bytes) { InBothModes(get, bytes, CheckPictureInput); }},
    {"fuzz_decode", ReplayDecodeInput},
    {"fuzz_thumb_xml", [](host::GetPictureFn get, const Bytes& bytes) { InBothModes(get, bytes, CheckThumbXmlInput); }},
};

int Refuse(const std::string& why) {
  std::fprintf(stderr, "zvk-corpus-replay: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Refuse("usage: zvk-corpus-replay CORPUS");
  // Read first: the corpus path may be relative to the starting folder.
  std::vector<std::vector<Input>> corpora;
  for (const auto& target : kTargets) {
    corpora.push_back(ReadCorpus(std::filesystem::path(argv[1]) / target.target));
    if (corpora.back().empty()) return Refuse(std::string(argv[1]) + " holds no inputs of " + target.target);
  }
  const std::string modulePath = host::ExecutableDirectory() + host::DefaultModuleName();
  host::PluginModule module;
  if (!module.Load(modulePath)) return Refuse(modulePath + ": " + module.Error());
  // The module's temporary file and file mode's document go here.
  host::PrivateWorkDir workDir;
  if (!workDir.Enter()) return Refuse(workDir.Error());

  std::string summary;
  for (std::size_t i = 0; i < corpora.size(); ++i) {
    for (const Input& input : corpora[i]) {
      SetCurrentInput(input.path);
      kTargets[i].replay(module.GetPicture, input.bytes);
    }
    summary += " " + std::to_string(corpora[i].size()) + " " + kTargets[i].target;
  }
  SetCurrentInput("");
  if (!workDir.Leave()) return Refuse(workDir.Error());
  std::printf("replayed through %s:%s\n", modulePath.c_str(), summary.c_str());
  return 0;
}
