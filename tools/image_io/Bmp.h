// Uncompressed Windows bitmaps for the tools: reads 24- and 32-bit files,
// writes 24-bit ones. Pixels are 32-bit values, blue in bits 0-7, green 8-15,
// red 16-23, rows from the top.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ifzvk::imageio {

// Decodes a 24-bit or 32-bit uncompressed bitmap file (32-bit also with the
// plain BGRX bit fields), stored bottom-up or top-down. False with a message
// in error for anything else or for a file shorter than its header claims.
bool DecodeBmp(const std::vector<unsigned char>& file, int& width, int& height,
               std::vector<std::uint32_t>& bgrxTopDown, std::string& error);

// Writes a 24-bit bottom-up bitmap; bits 24-31 of each pixel are dropped.
// bgrxTopDown must hold width * height pixels. The file replaces an existing
// one only once complete (host::ReplacingFile).
bool WriteBmp(const std::string& path, int width, int height, const std::vector<std::uint32_t>& bgrxTopDown,
              std::string& error);
bool EncodeBmp(int width, int height, const std::vector<std::uint32_t>& bgrxTopDown,
               std::vector<unsigned char>& file, std::string& error);

}  // namespace ifzvk::imageio
