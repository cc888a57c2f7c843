#include "explorer/DocumentStream.h"

#include <algorithm>

#include "document/Container.h"

namespace qoru {
namespace {

constexpr std::uint64_t kPieceBytes = 64 * 1024;

bool ClaimsMoreThan(IStream& stream, std::uint64_t limit) {
  STATSTG status{};
  return SUCCEEDED(stream.Stat(&status, STATFLAG_NONAME)) && status.cbSize.QuadPart > limit;
}

constexpr std::size_t kMagicBytes = sizeof ifzvk::kDocumentMagic;

}  // namespace

HRESULT ReadWholeDocument(IStream& stream, std::uint64_t limit, std::vector<unsigned char>& bytes) noexcept {
  bytes.clear();
  if (ClaimsMoreThan(stream, limit)) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  try {
    for (;;) {
      const std::uint64_t held = bytes.size();
      if (held > limit) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
      // One byte past the limit is enough to know the document is too large
      // (written so that no limit can make it overflow).
      const auto piece = static_cast<ULONG>(std::min(kPieceBytes - 1, limit - held) + 1);
      bytes.resize(static_cast<std::size_t>(held) + piece);  // grows geometrically
      ULONG got = 0;
      const HRESULT read = stream.Read(bytes.data() + held, piece, &got);
      bytes.resize(static_cast<std::size_t>(held) + std::min(got, piece));
      if (FAILED(read)) return read;
      if (held < kMagicBytes && bytes.size() >= kMagicBytes && !ifzvk::HasDocumentMagic(bytes.data()))
        return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
      if (got == 0 || read == S_FALSE) return S_OK;  // S_FALSE: fewer bytes than asked, the end
    }
  } catch (...) {  // the block cannot grow: no memory, or beyond what a vector may hold
    bytes.clear();
    return E_OUTOFMEMORY;
  }
}

}  // namespace qoru
