// What the benchmarks measure, shared by zvk-bench (Google Benchmark, native)
// and zvk-bench-loop (a plain timing loop, for the Windows build under Wine):
// the documents, one GetPicture call through the loaded module, the baseline
// that does only the work a picture request cannot avoid, and the table.
#pragma once

#include "tools/host/WorkDir.h"

#include <cstdint>
#include <string>
#include <vector>

#include "tools/host/PluginModule.h"

namespace ifzvk::bench {

using Bytes = std::vector<unsigned char>;

// One benchmark document: a preview of side x side pixels, stored or
// compressed, behind a stored filler record of fillerMiB MiB of random bytes
// (none for the small document). The filler comes first, so the lookup steps
// over it to reach the preview.
struct DocumentShape {
  int side = 64;
  bool compressed = false;
  int fillerMiB = 0;
  std::string Label() const;  // e.g. "1024 deflate, bin 128 MiB"
};

// The sizes of every combination, in the order the table lists them, and the
// small document whose per-call cost is almost all fixed cost.
std::vector<DocumentShape> StandardShapes();
DocumentShape SmallShape();

// A built document: its bytes, the file that holds the same bytes, and where
// the baseline finds what it needs without reading the XML.
struct Document {
  DocumentShape shape;
  Bytes bytes;
  std::string path;            // in the benchmark's folder; empty until written
  std::size_t binOffset = 0;   // of the bin section in the document
  std::size_t binSize = 0;
  std::size_t previewOffset = 0;  // of the preview's data within the bin section
  std::uint32_t method = 0;
  std::uint32_t packedSize = 0;
  std::uint32_t unpackedSize = 0;
};

Document BuildDocument(const DocumentShape& shape);
// Writes the document's bytes to `path` and remembers the path.
bool WriteDocument(Document& document, const std::string& path);
void RemoveDocument(Document& document);

// Makes the C runtime heap hand out every large block as fresh pages, for the
// module and the baseline alike (see the definition).
void SteadyHeap();

// Loads the module beside the running program (or at `path` when not empty).
bool LoadModule(host::PluginModule& module, const std::string& path, std::string& error);

enum class Mode { Memory, File };
const char* ModeName(Mode mode);

// One picture request through the module, as a viewer makes it, with the
// two blocks released afterwards. False unless the module answers 0 with a
// bitmap of the preview's size.
bool ModuleCall(const host::PluginModule& module, const Document& document, Mode mode);

// The same request done by straight-line code with the same libraries: read
// the file into one block (file mode), copy the bin section once, decode the
// preview record into a block of unpackedSize bytes, convert it into a 24-bit
// bottom-up bitmap block; everything released afterwards.
bool BaselineCall(const Document& document, Mode mode);

// The part of every request that does not depend on the document's size:
// write the XML section to a temporary file, load it with TinyXML, find the
// preview's element, delete the file.
bool FixedCostCall(const Document& document);

// One row of the table: seconds per call of the module and of the baseline.
struct Row {
  std::string label;
  Mode mode = Mode::Memory;
  double moduleSeconds = 0;
  double baselineSeconds = 0;
  int fillerMiB = 0;
  std::size_t binBytes = 0;
};

// Prints the table, the worst ratio among bin sections of 16 MiB and more, and
// the fixed cost per call from the small document's rows and the straight-line
// temporary file and XML measurement.
void PrintTable(const std::vector<Row>& rows, const std::vector<Row>& smallRows, double fixedSeconds,
                const std::string& title);

}  // namespace ifzvk::bench
