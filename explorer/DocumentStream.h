// Reads a document from the stream Explorer hands over. The block grows only
// as bytes really arrive: the size the stream reports can refuse a document
// but never sizes a block, so a stream that promises much and delivers little
// costs little.
#pragma once

#include <objidl.h>

#include <cstdint>
#include <vector>

namespace qoru {

// Fills bytes with everything the stream gives from its position to its end
// and answers S_OK. Refuses:
//  - a stream that reports more than limit bytes, or gives more, with
//    HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
//  - one whose first bytes are not a zorvik document's magic, with
//    HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), so that a large foreign file is
//    not read through (a stream too short to hold the magic is left to the
//    decoder).
// A failed read answers the stream's error; a block that cannot grow,
// E_OUTOFMEMORY.
HRESULT ReadWholeDocument(IStream& stream, std::uint64_t limit, std::vector<unsigned char>& bytes) noexcept;

}  // namespace qoru
