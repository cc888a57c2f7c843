// zvk-bench-memory: what one file-mode picture request costs in memory and
// time, on documents that state far more than they hold and on ordinary ones.
// Every request runs in a fresh process of its own, so that each peak is its
// own (Linux: it reads /proc/self/status).
//
//   zvk-bench-memory [--module PATH] [--sample PATH] [--zeros N] [--only TEXT]...
//       prints the table; --zeros sets how many zero bytes the largest
//       honest record inflates to (default 4 GiB less the pixel before them),
//       --only keeps the documents whose title contains TEXT
//   zvk-bench-memory [--module PATH] --one-call PATH
//       one request on PATH; prints its answer, time and memory figures
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "bench/BenchCases.h"
#include "tools/writer/DocumentWriter.h"

namespace {

using namespace ifzvk;
using namespace ifzvk::bench;

constexpr double kMiB = 1024.0 * 1024.0;

// One line of /proc/self/status, in KiB; 0 when missing.
long StatusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(key);
  while (std::getline(status, line))
    if (line.compare(0, length, key) == 0 && line.size() > length && line[length] == ':')
      return std::atol(line.c_str() + length + 1);
  return 0;
}

int OneCall(const std::string& module, const std::string& path) {
  SteadyHeap();
  host::PluginModule plugin;
  std::string error;
  if (!LoadModule(plugin, module, error)) {
    std::fprintf(stderr, "zvk-bench-memory: %s\n", error.c_str());
    return 1;
  }
  const long rssBefore = StatusKiB("VmRSS");
  const long sizeBefore = StatusKiB("VmSize");
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  const auto start = std::chrono::steady_clock::now();
  const int result = plugin.GetPicture(const_cast<LPSTR>(path.c_str()), 0, 0, &info, &bits, nullptr, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const long sizePeak = StatusKiB("VmPeak");
  long width = 0;
  long height = 0;
  if (const auto* header = static_cast<const BITMAPINFOHEADER*>(host::LockBlock(info))) {
    width = header->biWidth;
    height = header->biHeight;
    host::UnlockBlock(info);
  }
  host::FreeBlock(info);
  host::FreeBlock(bits);
  // Reading the figures costs a page now and then: nothing added reads as 0.
  const long rssAdded = usage.ru_maxrss > rssBefore ? usage.ru_maxrss - rssBefore : 0;
  const long sizeAdded = sizePeak > sizeBefore ? sizePeak - sizeBefore : 0;
  std::printf("%d %ld %ld %.6f %ld %ld\n", result, width, height, seconds, rssAdded, sizeAdded);
  return 0;
}

struct MemoryCase {
  std::string title;
  std::function<Bytes()> bytes;
  double previewBytes;  // what the record really gives the picture
};

Bytes DocumentOf(const writer::Document& document) { return writer::DocumentBytes(document); }

std::vector<MemoryCase> Cases(const std::string& sample, std::uint64_t zeros) {
  const Bytes pixel = writer::PixelBytes({0x00302010u});
  const auto claim = [pixel](int side) {
    const auto bytes = static_cast<std::uint32_t>(side) * static_cast<std::uint32_t>(side) * 4u;
    return DocumentOf(writer::StatedPreviewDocument(side, side, "t", writer::Deflate(pixel), bytes));
  };
  const auto ordinary = [](int side, bool compressed, int fillerMiB) {
    return BuildDocument(DocumentShape{side, compressed, fillerMiB}).bytes;
  };
  const auto square = [](int side) { return 4.0 * side * side; };
  // A 1 x 1 preview whose XML section also holds `inner` beside the Thumb.
  const auto withXml = [pixel](const std::function<std::string()>& inner) {
    writer::Document document;
    document.xml = "<Zorvik><Thumb width=\"1\" height=\"1\" bin=\"t\"/>" + inner() + "</Zorvik>";
    document.records.push_back(writer::StoredRecord("t", pixel));
    return DocumentOf(document);
  };
  const auto repeat = [](const std::string& text, long count) {
    std::string out;
    out.reserve(text.size() * static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) out += text;
    return out;
  };
  const auto attributes = [](long count) {
    std::string out = "<a";
    for (long i = 0; i < count; ++i) out += " a" + std::to_string(i) + "=''";
    return out + "/>";
  };
  return {
      {"32767 x 32767 stated, one pixel held", [=] { return claim(32767); }, 0},
      {"16384 x 16384 stated, one pixel held", [=] { return claim(16384); }, 0},
      {"8192 x 8192 stated, one pixel held", [=] { return claim(8192); }, 0},
      {"1 x 1 in a record inflating to " + std::to_string(zeros + 4) + " bytes",
       [=] {
         return DocumentOf(writer::StatedPreviewDocument(1, 1, "t", writer::DeflateWithZeros(pixel, zeros),
                                                         static_cast<std::uint32_t>(zeros + 4)));
       },
       4},
      {"strip 0 x 1073741823 stated", [=] { return DocumentOf(writer::StatedPreviewDocument(0, 1073741823, "t", writer::Deflate(pixel), 4)); }, 0},
      {"XML nested 40,000 deep", [=] { return withXml([=] { return repeat("<a>", 40000) + repeat("</a>", 40000); }); }, 4},
      {"XML element with 100,000 attributes", [=] { return withXml([=] { return attributes(100000); }); }, 4},
      {"XML of 5,000,000 empty siblings", [=] { return withXml([=] { return repeat("<a/>", 5000000); }); }, 4},
      {"XML of 65,000 empty siblings, within its limits", [=] { return withXml([=] { return repeat("<a/>", 65000); }); }, 4},
      {"strip 0 x 65535, the longest", [=] { return DocumentOf(writer::StatedPreviewDocument(0, 65535, "t", writer::Deflate(pixel), 4)); }, 0},
      {"examples/sample.zvk (256 x 256)",
       [=] {
         std::ifstream in(sample, std::ios::binary);
         return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
       },
       square(256)},
      {"64 x 64 deflate", [=] { return ordinary(64, true, 0); }, square(64)},
      {"256 x 256 deflate", [=] { return ordinary(256, true, 0); }, square(256)},
      {"1024 x 1024 deflate", [=] { return ordinary(1024, true, 0); }, square(1024)},
      {"1024 x 1024 stored", [=] { return ordinary(1024, false, 0); }, square(1024)},
      {"1024 x 1024 deflate, 16 MiB filler", [=] { return ordinary(1024, true, 16); }, square(1024)},
  };
}

std::string SelfPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Size(double bytes) {
  char text[32];
  if (bytes < 10 * 1024)
    std::snprintf(text, sizeof text, "%.0f B", bytes);
  else
    std::snprintf(text, sizeof text, "%.2f MiB", bytes / kMiB);
  return text;
}

bool Chosen(const std::string& title, const std::vector<std::string>& only) {
  if (only.empty()) return true;
  for (const std::string& text : only)
    if (title.find(text) != std::string::npos) return true;
  return false;
}

int Table(const std::string& module, const std::string& sample, std::uint64_t zeros,
          const std::vector<std::string>& only) {
  ifzvk::host::PrivateWorkDir folder;
  if (!folder.Enter()) {
    std::fprintf(stderr, "zvk-bench-memory: %s\n", folder.Error().c_str());
    return 1;
  }
  const std::string self = SelfPath();
  std::printf("| document | size N | picture | time | peak RSS added | peak address space added | 2N + 3P + 1 MiB |\n");
  std::printf("|---|---:|---|---:|---:|---:|---:|\n");
  bool ok = true;
  for (const MemoryCase& c : Cases(sample, zeros)) {
    if (!Chosen(c.title, only)) continue;
    std::fprintf(stderr, "zvk-bench-memory: %s\n", c.title.c_str());
    Document document;
    document.bytes = c.bytes();
    const std::string path = folder.Path() + "/doc.zvk";
    if (document.bytes.empty() || !WriteDocument(document, path)) {
      std::fprintf(stderr, "zvk-bench-memory: cannot make or write %s\n", c.title.c_str());
      return 1;
    }
    const double size = static_cast<double>(document.bytes.size());
    Bytes().swap(document.bytes);
    std::string command = Quoted(self) + " --one-call " + Quoted(path);
    if (!module.empty()) command += " --module " + Quoted(module);
    std::FILE* child = popen(command.c_str(), "r");
    int result = -1;
    long width = 0, height = 0, rssKiB = 0, addressKiB = 0;
    double seconds = 0;
    const bool read = child != nullptr && std::fscanf(child, "%d %ld %ld %lf %ld %ld", &result, &width, &height,
                                                      &seconds, &rssKiB, &addressKiB) == 6;
    if (child != nullptr) pclose(child);
    RemoveDocument(document);
    if (!read) {
      std::fprintf(stderr, "zvk-bench-memory: no answer for %s\n", c.title.c_str());
      ok = false;
      continue;
    }
    const double budget = 2 * size + 3 * c.previewBytes + kMiB;
    std::printf("| %s | %s | %ld x %ld%s | %.1f ms | %s | %s | %s |\n", c.title.c_str(), Size(size).c_str(), width,
                height, result == 0 ? "" : " (failed)", seconds * 1e3, Size(static_cast<double>(rssKiB) * 1024.0).c_str(),
                Size(static_cast<double>(addressKiB) * 1024.0).c_str(), Size(budget).c_str());
    std::fflush(stdout);
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string module;
  std::string sample = ZVK_SAMPLE_DOCUMENT;
  std::uint64_t zeros = 0xFFFFFFFFull - 4;
  std::string oneCall;
  std::vector<std::string> only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--module" && i + 1 < argc) {
      module = argv[++i];
    } else if (arg == "--sample" && i + 1 < argc) {
      sample = argv[++i];
    } else if (arg == "--zeros" && i + 1 < argc) {
      zeros = std::strtoull(argv[++i], nullptr, 10);
      if (zeros > 0xFFFFFFFFull - 4) zeros = 0xFFFFFFFFull - 4;
    } else if (arg == "--only" && i + 1 < argc) {
      only.push_back(argv[++i]);
    } else if (arg == "--one-call" && i + 1 < argc) {
      oneCall = argv[++i];
    } else {
      std::fprintf(stderr, "usage: zvk-bench-memory [--module PATH] [--sample PATH] [--zeros N] [--only TEXT]..."
                           " | [--module PATH] --one-call PATH\n");
      return 1;
    }
  }
  return oneCall.empty() ? Table(module, sample, zeros, only) : OneCall(module, oneCall);
}
