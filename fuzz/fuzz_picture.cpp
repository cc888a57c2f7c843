// Arbitrary bytes as a document image in the host's memory: GetPicture must
// answer with an allowed code, hand over a consistent bitmap when it answers
// 0 or the late 1, leave no temporary file and release everything else.
//
// The input's last byte also chooses how the progress callback answers; the
// whole input, that byte included, is the document image.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"

using namespace ifzvk::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EnterPrivateDirectory();
  static const Progress kModes[] = {Progress::None, Progress::Continue, Progress::AbortFirst, Progress::AbortSecond};
  const Progress progress = size > 0 ? kModes[data[size - 1] & 3] : Progress::None;
  CheckXmlWithinLimits(data, size);
  CheckXmlRoutesAgree(data, size);
  RequestPicture(data, size, progress);
  return 0;
}
