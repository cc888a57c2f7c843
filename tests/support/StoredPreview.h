// The preview a document stores, read without any of the system's code: for
// tests that compare what a front-end shows with what the document holds.
// Free of the Windows-style names of TestSupport.h, for tests that include
// GLib or Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ifzvk::test {

// The pixels of the document's first record, a compressed one (as in the
// sample), inflated with zlib alone: the header's XML size leads to it. Fails
// the current test, and gives what it could, unless the record holds exactly
// pixelCount pixels.
std::vector<std::uint32_t> StoredPreview(const std::vector<unsigned char>& document, std::size_t pixelCount);

}  // namespace ifzvk::test
