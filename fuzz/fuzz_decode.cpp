// An arbitrary bin section and record name through CPackerDecode: Decode and
// DecodeFirst must end, read nothing outside the copy, hand out blocks of
// exactly the bytes asked for (or null), give the same answer when asked
// again, and agree with each other: the first bytes of a record are the
// first bytes of the whole record. Sizes a record states are taken as they
// come; the decoder must not allocate from them.
//
// Input: one byte n, then n bytes of the wanted name (cut at a NUL inside it,
// as a C string is), then the bin section, whose last four bytes (when it has
// them) also give DecodeFirst's byte count, little-endian.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "document/PackerDecode.h"
#include "fuzz/FuzzSupport.h"

using namespace ifzvk::fuzz;

namespace {

struct Answer {
  bool found;
  PacHeader header;
  bool hasBlock;
  std::vector<unsigned char> bytes;
};

// One lookup with the checks of its answer: Decode when wanted is empty,
// DecodeFirst otherwise. The block is copied out and released.
Answer Ask(const qoru::CPackerDecode& decoder, const std::string& name, std::optional<std::uint32_t> wanted) {
  Answer answer{};
  void* block = reinterpret_cast<void*>(1);  // must be cleared on every path
  answer.found = wanted ? decoder.DecodeFirst(name.c_str(), *wanted, &answer.header, &block)
                        : decoder.Decode(name.c_str(), &answer.header, &block);
  answer.hasBlock = block != nullptr;
  if (!answer.found) {
    Check(block == nullptr, "false with a block");
    return answer;
  }
  Check(std::memcmp(answer.header.magic, "PAC ", 4) == 0, "the header handed out is not a record's");
  Check(std::memchr(answer.header.name, '\0', sizeof answer.header.name) != nullptr &&
            name == answer.header.name,
        "the record handed out has another name");
  const std::uint32_t size = wanted ? *wanted : answer.header.unpackedSize;
  if (wanted) Check(answer.header.unpackedSize > 0 && size <= answer.header.unpackedSize, "more bytes than the record has");
  Check(answer.hasBlock == (size > 0), "a block exactly when there are bytes to give");
  if (block == nullptr) return answer;
  Check(BlockIs(block, size), "the block is not the size asked for");
  const auto* bytes = static_cast<const unsigned char*>(block);
  answer.bytes.assign(bytes, bytes + size);
  std::free(block);
  return answer;
}

bool StartsWith(const std::vector<unsigned char>& whole, const std::vector<unsigned char>& start) {
  return start.size() <= whole.size() && std::equal(start.begin(), start.end(), whole.begin());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EnterPrivateDirectory();
  if (size == 0) return 0;
  const std::size_t nameBytes = data[0] < size - 1 ? data[0] : size - 1;
  const std::string name(reinterpret_cast<const char*>(data + 1), strnlen(reinterpret_cast<const char*>(data + 1), nameBytes));
  const std::uint8_t* bin = data + 1 + nameBytes;
  const std::size_t binSize = size - 1 - nameBytes;
  std::uint32_t wanted = 0;
  for (std::size_t i = binSize >= 4 ? binSize - 4 : binSize; i < binSize; ++i) wanted = wanted >> 8 | std::uint32_t{bin[i]} << 24;

  qoru::CPackerDecode decoder;
  Check(decoder.OpenMemory(bin, static_cast<std::int32_t>(binSize)), "OpenMemory refused a bin section");
  const Answer whole = Ask(decoder, name, std::nullopt);
  const Answer again = Ask(decoder, name, std::nullopt);
  Check(whole.found == again.found && whole.hasBlock == again.hasBlock && whole.bytes == again.bytes,
        "a second Decode answered otherwise");

  const Answer first = Ask(decoder, name, wanted);
  const Answer half = Ask(decoder, name, wanted / 2);
  if (first.found) Check(half.found && StartsWith(first.bytes, half.bytes), "fewer first bytes answered otherwise");
  if (whole.found) {
    // The whole record decodes, so any count up to its size does too.
    Check(first.found == (whole.header.unpackedSize > 0 && wanted <= whole.header.unpackedSize),
          "DecodeFirst disagrees with Decode on whether the bytes are there");
    Check(StartsWith(whole.bytes, first.bytes), "the first bytes are not the record's");
  }
  return 0;
}
