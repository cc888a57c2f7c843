#include "document/thumbnail.h"

namespace ifzvk {

// Until the document reader lands every document is treated as one without a
// usable preview, so the host receives the 1 x 1 fallback picture.
bool ExtractThumbnail(const unsigned char* /*document*/, std::size_t /*length*/, qoru::CImage32& /*image*/) noexcept {
  return false;
}

}  // namespace ifzvk
