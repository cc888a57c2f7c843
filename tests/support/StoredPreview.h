// The preview a document stores, read with zlib alone and none of the
// system's code, so that a test can hold any front-end's picture against it.
#pragma once

#include <cstdint>
#include <vector>

#include "support/TestSupport.h"

namespace ifzvk::test {

// The pixels (blue bits 0-7, green 8-15, red 16-23, rows from the top) of the
// document's first record, which must be one zlib stream of side x side x 4
// bytes, as in examples/sample.zvk. Records a test failure otherwise.
std::vector<std::uint32_t> StoredPreview(const Bytes& document, int side);

}  // namespace ifzvk::test
