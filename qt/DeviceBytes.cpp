#include "qt/DeviceBytes.h"

#include <QIODevice>

#include <algorithm>

namespace ifzvk::qtplugin {

bool ReadWholeDevice(QIODevice& device, std::uint64_t limit, std::vector<unsigned char>& bytes) {
  constexpr std::uint64_t kChunkBytes = 64 * 1024;
  bytes.clear();
  for (;;) {
    const std::uint64_t held = bytes.size();
    if (held > limit) return false;
    // One byte past the limit is enough to know the document is too large
    // (written so that no limit can make it overflow).
    const std::uint64_t chunk = std::min(kChunkBytes - 1, limit - held) + 1;
    // resize() grows the capacity geometrically, so many small reads stay cheap.
    bytes.resize(static_cast<std::size_t>(held + chunk));
    const qint64 got = device.read(reinterpret_cast<char*>(bytes.data() + held), static_cast<qint64>(chunk));
    bytes.resize(static_cast<std::size_t>(held + static_cast<std::uint64_t>(std::max<qint64>(got, 0))));
    if (got <= 0) return true;
  }
}

}  // namespace ifzvk::qtplugin
