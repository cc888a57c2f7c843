// What the fuzz targets share: a private working folder (the picture request
// writes its temporary XML file into the current directory), the checks of a
// GetPicture outcome, and a way to fail loudly enough for libFuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/susie.h"

namespace ifzvk::fuzz {

// Reports what went wrong and aborts, which libFuzzer records as a crash.
[[noreturn]] void Fail(const char* what);
inline void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

// For LLVMFuzzerInitialize: makes every path among the arguments absolute
// (corpus folders, input files, -artifact_prefix, -exact_artifact_path,
// -dict) and adds -artifact_prefix=<the current directory>/ when none is
// given, since the inputs run in a private folder (EnterPrivateDirectory).
void MakePathsAbsolute(int* argc, char*** argv);

// At the start of every input: the first call moves into a fresh folder under
// the system's temporary directory, removed again at exit. Not before the
// first input, because -merge and -fork start the program again by the
// (maybe relative) name it was started with, from the current directory.
void EnterPrivateDirectory();

// Fails when the temporary XML file of the last picture request is still there.
void CheckNoTemporaryFile();

// A memory-mode picture request and everything it handed back.
struct Outcome {
  int result = -1;
  int progressCalls = 0;
  bool hasBitmap = false;  // result 0 or the late 1
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<unsigned char> bits;  // stride x height bytes, as delivered
};

// How the progress callback answers: never called (null callback), always 0,
// or non-zero at its first or at its second call.
enum class Progress { None, Continue, AbortFirst, AbortSecond };

// Calls GetPicture in memory mode on size bytes at data, checks the result
// code against the allowed set, the callback's calls, the two blocks (a
// 40-byte header whose fields agree with a bits block of stride x height
// bytes, rows padded with zeros) and that no temporary file is left; copies
// out the picture and releases both blocks as a host does.
Outcome RequestPicture(const unsigned char* data, std::size_t size, Progress progress);

// Checks that XML which the module's scan lets through is, as TinyXML reads
// it, within the scan's limits (depth, attributes, nodes), by a parse of the
// document's XML section of our own; fails the input otherwise.
void CheckXmlWithinLimits(const unsigned char* data, std::size_t size);

// Extracts the preview through both routes of the XML section (temporary
// file and memory) and fails the input unless they agree: the same problem,
// or the same picture.
void CheckXmlRoutesAgree(const unsigned char* data, std::size_t size);

// The size the allocator gave a heap block, where AddressSanitizer can tell
// (the fuzz preset); kUnknownSize in other builds (a coverage build).
constexpr std::size_t kUnknownSize = static_cast<std::size_t>(-1);
std::size_t AllocatedSize(const void* block);
// True when the block is exactly `bytes` long, or its size cannot be told.
inline bool BlockIs(const void* block, std::size_t bytes) {
  const std::size_t size = AllocatedSize(block);
  return size == bytes || size == kUnknownSize;
}

// Bytes in one row of a 24-bit bitmap.
std::size_t Stride(std::int32_t width);

}  // namespace ifzvk::fuzz
