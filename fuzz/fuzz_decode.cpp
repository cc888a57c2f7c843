// An arbitrary bin section and record name through CPackerDecode: Decode must
// end, read nothing outside its copy, hand out a block of exactly unpackedSize
// bytes (or null), and give the same answer when asked again.
//
// Input: one byte n, then n bytes of the wanted name (cut at a NUL inside it,
// as a C string is), then the bin section.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
  std::vector<unsigned char> stored;  // a stored record's bytes (bounded by the input)
};

// One Decode with the checks of its answer; the block is released before the
// next question, so two huge blocks never live at once.
Answer Ask(const qoru::CPackerDecode& decoder, const std::string& name) {
  Answer answer{};
  void* block = reinterpret_cast<void*>(1);  // must be cleared on every path
  answer.found = decoder.Decode(name.c_str(), &answer.header, &block);
  answer.hasBlock = block != nullptr;
  if (!answer.found) {
    Check(block == nullptr, "false with a block");
    return answer;
  }
  Check(std::memcmp(answer.header.magic, "PAC ", 4) == 0, "the header handed out is not a record's");
  Check(std::memchr(answer.header.name, '\0', sizeof answer.header.name) != nullptr &&
            name == answer.header.name,
        "the record handed out has another name");
  if (answer.header.unpackedSize == 0) {
    Check(block == nullptr, "a block for a record without data");
    return answer;
  }
  Check(block != nullptr, "true without a block for a record with data");
  Check(BlockIs(block, answer.header.unpackedSize), "the block is not unpackedSize bytes");
  // Stored data are copied whole; an inflated block's tail may stay unwritten.
  if (answer.header.method == qoru::kMethodStored) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    answer.stored.assign(bytes, bytes + answer.header.unpackedSize);
  }
  std::free(block);
  return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EnterPrivateDirectory();
  if (size == 0) return 0;
  const std::size_t nameBytes = data[0] < size - 1 ? data[0] : size - 1;
  const std::string name(reinterpret_cast<const char*>(data + 1), strnlen(reinterpret_cast<const char*>(data + 1), nameBytes));
  const std::uint8_t* bin = data + 1 + nameBytes;
  const std::size_t binSize = size - 1 - nameBytes;

  qoru::CPackerDecode decoder;
  Check(decoder.OpenMemory(bin, static_cast<std::int32_t>(binSize)), "OpenMemory refused a bin section");
  const Answer first = Ask(decoder, name);
  const Answer second = Ask(decoder, name);
  Check(first.found == second.found, "a second Decode answered otherwise");
  if (first.found) {
    Check(std::memcmp(&first.header, &second.header, sizeof first.header) == 0, "a second Decode found another record");
    Check(first.hasBlock == second.hasBlock, "a second Decode handed out otherwise");
    Check(first.stored == second.stored, "a second Decode gave other bytes");
  }
  return 0;
}
