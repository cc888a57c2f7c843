// Reads a document from a Qt device into memory. The block grows only as bytes
// really arrive: neither the device's size() nor anything in the document
// sizes it, so a device that promises much and delivers little costs little.
#pragma once

#include <cstdint>
#include <vector>

class QIODevice;

namespace ifzvk::qtplugin {

// Fills bytes with everything the device gives from its position up to its
// end and answers true; false when it gives more than limit bytes (then at
// most limit + 1 of them have been read). A device that reports an error ends
// the reading like its end does: a cut-off document has no preview anyway.
// Throws std::bad_alloc when the block cannot grow.
bool ReadWholeDevice(QIODevice& device, std::uint64_t limit, std::vector<unsigned char>& bytes);

}  // namespace ifzvk::qtplugin
