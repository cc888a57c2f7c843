// The libFuzzer targets, one build of this file each (fuzz/CMakeLists.txt
// defines ZVK_<TARGET>): every input goes to its target's checks in
// FuzzChecks.h, which also describes the input.
//   fuzz_picture: arbitrary bytes as a document in memory, through GetPicture.
//   fuzz_decode: an arbitrary bin section and record name, through the record lookup.
//   fuzz_thumb_xml: fuzzed XML and Thumb values in an otherwise valid document.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"

using namespace ifzvk::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EnterPrivateDirectory();
#if defined(ZVK_FUZZ_PICTURE)
  CheckPictureInput({LibraryGetPicture}, data, size);
#elif defined(ZVK_FUZZ_DECODE)
  CheckDecodeInput(data, size);
#elif defined(ZVK_FUZZ_THUMB_XML)
  CheckThumbXmlInput({LibraryGetPicture}, data, size);
#else
#error "define the target: ZVK_FUZZ_PICTURE, ZVK_FUZZ_DECODE or ZVK_FUZZ_THUMB_XML"
#endif
  return 0;
}
