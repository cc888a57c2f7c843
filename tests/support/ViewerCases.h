// Documents the viewer plug-ins' tests share: broken and hostile ones that no
// viewer may show, and pictures of distinct pixels for readers on several
// threads. Free of TestSupport.h's Windows-style names, for tests that include
// GLib or Qt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ifzvk::test {

using Bytes = std::vector<unsigned char>;

struct BrokenDocument {
  const char* title;
  Bytes bytes;
  const char* reason;  // why it has no usable preview; null: not a zorvik document at all
};

std::vector<BrokenDocument> BrokenDocuments();

// A document and the pixels its preview holds, rows from the top, 0x??RRGGBB
// (bits 24-31 mean nothing and are set in the made ones).
struct PictureDocument {
  Bytes bytes;
  int width;
  int height;
  std::vector<std::uint32_t> pixels;
};

// Every pixel distinct within the picture and from other seeds' pictures.
PictureDocument MadePicture(int width, int height, std::uint32_t seed);
// The sample's stored preview, then made pictures of odd sizes and shapes.
std::vector<PictureDocument> PictureDocuments(const std::string& samplePath);

}  // namespace ifzvk::test
