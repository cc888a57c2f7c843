#include "bench/BenchCases.h"
#include "plugin/dib.h"

#include <tinyxml.h>

#include <boost/lexical_cast.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#define ZLIB_CONST
#include <zlib.h>

#include "platform/win32.h"
#include "tools/writer/DocumentWriter.h"

namespace ifzvk::bench {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kRecordHeader = 132;
constexpr std::size_t kDocumentHeader = 20;
const char* const kPreviewName = "thumb";
const char* const kFixedCostFile = "_zvk-bench-tmp_.xml";

// A picture with smooth areas, edges and a little noise, so that it
// compresses about as well as a real preview does.
Bytes PreviewPixels(int side) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
  std::uint32_t noise = 0x12345678u;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      noise ^= noise << 13;
      noise ^= noise >> 17;
      noise ^= noise << 5;
      const auto red = static_cast<std::uint32_t>(x * 255 / side);
      const auto green = static_cast<std::uint32_t>(y * 255 / side);
      const std::uint32_t blue = (((x / 16) ^ (y / 16)) & 1) != 0 ? 200u : 40u;
      pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)] =
          0xFF000000u | ((red ^ (noise & 3u)) << 16) | (green << 8) | blue;
    }
  }
  return writer::PixelBytes(pixels);
}

// Incompressible bytes, so that every copy of the filler is a real one.
Bytes RandomBytes(std::size_t count) {
  Bytes bytes(count);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    std::memcpy(bytes.data() + i, &state, 8);
  }
  for (; i < count; ++i) bytes[i] = static_cast<unsigned char>(i);
  return bytes;
}

bool IsBitmapOf(HLOCAL info, int side) {
  const auto* header = static_cast<const BITMAPINFOHEADER*>(host::LockBlock(info));
  const bool ok = header != nullptr && header->biWidth == side && header->biHeight == side && header->biBitCount == 24;
  host::UnlockBlock(info);
  return ok;
}

// The whole file in one block, as the file mode must have it.
HLOCAL ReadWholeFile(const std::string& path, DWORD& length) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  length = GetFileSize(file, nullptr);
  HLOCAL block = LocalAlloc(LMEM_FIXED, length);
  DWORD got = 0;
  if (block == nullptr || !ReadFile(file, block, length, &got, nullptr) || got != length) {
    if (block != nullptr) LocalFree(block);
    block = nullptr;
  }
  CloseHandle(file);
  return block;
}

bool Inflate(const unsigned char* source, std::uint32_t sourceLength, unsigned char* destination,
             std::uint32_t capacity) {
  z_stream stream{};
  stream.next_in = source;
  stream.avail_in = sourceLength;
  if (inflateInit(&stream) != Z_OK) return false;
  stream.next_out = destination;
  stream.avail_out = capacity;
  const int status = inflate(&stream, Z_NO_FLUSH);
  inflateEnd(&stream);
  return status == Z_STREAM_END;
}

std::string FormatTime(double seconds) {
  char text[32];
  if (seconds < 1e-3)
    std::snprintf(text, sizeof text, "%8.1f us", seconds * 1e6);
  else
    std::snprintf(text, sizeof text, "%8.2f ms", seconds * 1e3);
  return text;
}

}  // namespace

std::string DocumentShape::Label() const {
  std::string label = std::to_string(side) + "x" + std::to_string(side) + (compressed ? " deflate" : " stored");
  return label;
}

std::vector<DocumentShape> StandardShapes() {
  std::vector<DocumentShape> shapes;
  for (int filler : {1, 16, 128})
    for (int side : {64, 256, 1024})
      for (bool compressed : {false, true}) shapes.push_back(DocumentShape{side, compressed, filler});
  return shapes;
}

DocumentShape SmallShape() { return DocumentShape{64, false, 0}; }

Document BuildDocument(const DocumentShape& shape) {
  Document built;
  built.shape = shape;
  writer::Document document;
  document.xml = writer::ThumbXml(shape.side, shape.side, kPreviewName);
  if (shape.fillerMiB > 0) {
    writer::Record filler;
    filler.SetName("filler");
    filler.data = RandomBytes(static_cast<std::size_t>(shape.fillerMiB) * kMiB);
    document.records.push_back(std::move(filler));
  }
  const Bytes pixels = PreviewPixels(shape.side);
  document.records.push_back(shape.compressed ? writer::CompressedRecord(kPreviewName, pixels)
                                             : writer::StoredRecord(kPreviewName, pixels));

  const writer::Record& preview = document.records.back();
  built.method = preview.method;
  built.packedSize = preview.packedSize.value_or(static_cast<std::uint32_t>(preview.data.size()));
  built.unpackedSize = preview.unpackedSize.value_or(static_cast<std::uint32_t>(preview.data.size()));
  built.previewOffset = kRecordHeader;
  if (shape.fillerMiB > 0) built.previewOffset += kRecordHeader + document.records.front().data.size();
  built.binOffset = kDocumentHeader + document.xml.size();
  built.bytes = writer::DocumentBytes(document);
  built.binSize = built.bytes.size() - built.binOffset;
  return built;
}

bool WriteDocument(Document& document, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(document.bytes.data()), static_cast<std::streamsize>(document.bytes.size()));
  out.close();
  if (!out) return false;
  document.path = path;
  return true;
}

void RemoveDocument(Document& document) {
  if (document.path.empty()) return;
  std::error_code ignored;
  fs::remove(document.path, ignored);
  document.path.clear();
}

void SteadyHeap() {
#if defined(__GLIBC__)
  // glibc serves large blocks with mmap, but raises that threshold to the size
  // of each mapped block freed (up to 32 MiB), after which blocks of that size
  // come from the heap and its pages are reused or trimmed depending on what
  // ran before. A case would then measure its predecessor's heap as much as
  // its own work. Fixing the threshold at its initial value makes every block
  // above 128 KiB fresh pages on every call, as on a viewer's first picture.
  // The Windows heap hands out large blocks as fresh pages in any case.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

bool LoadModule(host::PluginModule& module, const std::string& path, std::string& error) {
  const std::string file = path.empty() ? host::ExecutableDirectory() + host::DefaultModuleName() : path;
  if (module.Load(file)) return true;
  error = file + ": " + module.Error();
  return false;
}

const char* ModeName(Mode mode) { return mode == Mode::Memory ? "memory" : "file"; }

bool ModuleCall(const host::PluginModule& module, const Document& document, Mode mode) {
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  int result = 0;
  if (mode == Mode::Memory) {
    result = module.GetPicture(reinterpret_cast<LPSTR>(const_cast<unsigned char*>(document.bytes.data())),
                               static_cast<SusieLen>(document.bytes.size()), 1, &info, &bits, nullptr, 0);
  } else {
    result = module.GetPicture(const_cast<LPSTR>(document.path.c_str()), 0, 0, &info, &bits, nullptr, 0);
  }
  const bool ok = result == 0 && info != nullptr && bits != nullptr && IsBitmapOf(info, document.shape.side);
  host::FreeBlock(info);
  host::FreeBlock(bits);
  return ok;
}

bool BaselineCall(const Document& document, Mode mode) {
  const unsigned char* bytes = document.bytes.data();
  HLOCAL fileBlock = nullptr;
  if (mode == Mode::File) {
    DWORD length = 0;
    fileBlock = ReadWholeFile(document.path, length);
    if (fileBlock == nullptr || length != document.bytes.size()) return false;
    bytes = static_cast<const unsigned char*>(fileBlock);
  }

  // The decoder's one copy of the bin section.
  auto* bin = static_cast<unsigned char*>(std::malloc(document.binSize));
  std::memcpy(bin, bytes + document.binOffset, document.binSize);

  // The preview record, decoded in one go into a block of its size.
  auto* pixels = static_cast<unsigned char*>(std::malloc(document.unpackedSize));
  const unsigned char* data = bin + document.previewOffset;
  bool ok = true;
  if (document.method == 1)
    ok = Inflate(data, document.packedSize, pixels, document.unpackedSize);
  else
    std::memcpy(pixels, data, document.unpackedSize);

  // The 24-bit bottom-up bitmap, straight from the decoded pixels.
  const int side = document.shape.side;
  const std::size_t stride = BitmapStride(side);
  HLOCAL info = LocalAlloc(LMEM_MOVEABLE, sizeof(BITMAPINFOHEADER));
  HLOCAL bitsBlock = LocalAlloc(LMEM_MOVEABLE, stride * static_cast<std::size_t>(side));
  auto* header = static_cast<BITMAPINFOHEADER*>(LocalLock(info));
  auto* bits = static_cast<unsigned char*>(LocalLock(bitsBlock));
  *header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), side, side, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  for (int r = 0; r < side; ++r) {
    const unsigned char* in = pixels + static_cast<std::size_t>(side - 1 - r) * static_cast<std::size_t>(side) * 4;
    unsigned char* out = bits + static_cast<std::size_t>(r) * stride;
    for (int x = 0; x < side; ++x, in += 4, out += 3) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
    }
  }
  LocalUnlock(info);
  LocalUnlock(bitsBlock);

  std::free(pixels);
  std::free(bin);
  if (fileBlock != nullptr) LocalFree(fileBlock);
  // The host's release of the two blocks.
  ok = ok && IsBitmapOf(info, side);
  host::FreeBlock(info);
  host::FreeBlock(bitsBlock);
  return ok;
}

bool FixedCostCall(const Document& document) {
  std::FILE* file = std::fopen(kFixedCostFile, "wb");
  if (file == nullptr) return false;
  const std::size_t xmlSize = document.binOffset - kDocumentHeader;
  std::fwrite(document.bytes.data() + kDocumentHeader, xmlSize, 1, file);
  std::fclose(file);

  bool ok = false;
  {
    TiXmlDocument tree;
    if (tree.LoadFile(kFixedCostFile, TIXML_ENCODING_UNKNOWN)) {
      const TiXmlElement* root = tree.FirstChildElement("Zorvik");
      const TiXmlElement* thumb = root != nullptr ? root->FirstChildElement("Thumb") : nullptr;
      const char* width = thumb != nullptr ? thumb->Attribute("width") : nullptr;
      const char* height = thumb != nullptr ? thumb->Attribute("height") : nullptr;
      const char* bin = thumb != nullptr ? thumb->Attribute("bin") : nullptr;
      ok = width != nullptr && height != nullptr && bin != nullptr &&
           boost::lexical_cast<int>(std::string(width)) + boost::lexical_cast<int>(std::string(height)) > 0;
    }
  }
  DeleteFileA(kFixedCostFile);
  return ok;
}

void PrintTable(const std::vector<Row>& rows, const std::vector<Row>& smallRows, double fixedSeconds,
                const std::string& title) {
  std::printf("\n%s\n\n", title.c_str());
  std::printf("| preview           | filler  | bin section | mode   |   GetPicture |     baseline | ratio |\n");
  std::printf("|-------------------|--------:|------------:|--------|-------------:|-------------:|------:|\n");
  double worst = 0;
  for (const Row& row : rows) {
    const double ratio = row.moduleSeconds / row.baselineSeconds;
    if (row.fillerMiB >= 16) worst = std::max(worst, ratio);
    std::printf("| %-17s | %3d MiB | %7.2f MiB | %-6s | %s | %s | %5.2f |\n", row.label.c_str(), row.fillerMiB,
                static_cast<double>(row.binBytes) / static_cast<double>(kMiB), ModeName(row.mode),
                FormatTime(row.moduleSeconds).c_str(), FormatTime(row.baselineSeconds).c_str(), ratio);
  }
  std::printf("\nWorst ratio with a filler of 16 MiB or more: %.2f\n", worst);
  for (const Row& row : smallRows) {
    std::printf("Small document (%s, no filler), %s mode: GetPicture %.1f us, baseline %.1f us, "
                "fixed cost per call %.1f us\n",
                row.label.c_str(), ModeName(row.mode), row.moduleSeconds * 1e6, row.baselineSeconds * 1e6,
                (row.moduleSeconds - row.baselineSeconds) * 1e6);
  }
  std::printf("Temporary XML file written, loaded with TinyXML and deleted, by itself: %.1f us\n",
              fixedSeconds * 1e6);
  std::fflush(stdout);
}

}  // namespace ifzvk::bench
