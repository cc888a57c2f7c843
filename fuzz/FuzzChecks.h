// What the fuzz targets check of one input, shared by the libFuzzer targets
// (the library linked in, memory mode) and the corpus replay test (the built
// module loaded as a viewer loads it, memory and file mode): each target's
// body is one Check*Input call here. Portable: no libFuzzer, no POSIX calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/susie.h"
#include "tools/host/PluginModule.h"

namespace ifzvk::fuzz {

// Reports what went wrong and in which input, and aborts: a crash to
// libFuzzer, a failed test to ctest.
[[noreturn]] void Fail(const char* what);
inline void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}
void SetCurrentInput(const std::string& name);  // the input Fail names

// A picture request and everything it handed back.
struct Outcome {
  int result = -1;
  int progressCalls = 0;
  bool hasBitmap = false;  // result 0 or the late 1
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<unsigned char> bits;  // stride x height bytes, as delivered
};
bool operator==(const Outcome& a, const Outcome& b);

// How the progress callback answers: never called (null callback), always 0,
// or non-zero at its first or at its second call.
enum class Progress { None, Continue, AbortFirst, AbortSecond };

// Which GetPicture answers (LibraryGetPicture, or a loaded module's export)
// and how the document reaches it: in memory, or as a file in the current
// directory (offset 0).
enum class Mode { Memory, File };
struct Route {
  host::GetPictureFn getPicture;
  Mode mode = Mode::Memory;
};
int WINAPI LibraryGetPicture(LPSTR buf, SusieLen len, SusieFlag flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                             ProgressCallback progress, SusieData lData);

// Calls GetPicture on size bytes at data and checks the result code against
// the allowed set, the callback's calls, the two blocks (a 40-byte header
// whose fields agree with a bits block of stride x height bytes, rows padded
// with zeros; both null without a bitmap) and that no temporary file is left.
// Copies out the picture and releases both blocks as a host does.
Outcome RequestPicture(const Route& route, const unsigned char* data, std::size_t size, Progress progress);

// The targets' bodies. fuzz_picture: the input is the document; its last
// byte also chooses how the progress callback answers.
Outcome CheckPictureInput(const Route& route, const unsigned char* data, std::size_t size);

// fuzz_decode: one byte n, then n bytes of the wanted name (cut at a NUL
// inside it, as a C string is), then the bin section, whose last four bytes
// (when it has them) also give DecodeFirst's byte count, little-endian.
struct DecodeInput {
  std::string name;
  const unsigned char* bin = nullptr;
  std::size_t binSize = 0;
  std::uint32_t wanted = 0;
};
DecodeInput SplitDecodeInput(const unsigned char* data, std::size_t size);
void CheckDecodeInput(const unsigned char* data, std::size_t size);

// fuzz_thumb_xml: fuzzed XML and Thumb values in an otherwise valid document
// (the input's layout is described in FuzzChecks.cpp).
Outcome CheckThumbXmlInput(const Route& route, const unsigned char* data, std::size_t size);

}  // namespace ifzvk::fuzz
