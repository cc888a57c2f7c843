// PNG files for the tools, through libpng's simplified API where the build has
// libpng (the native builds); elsewhere PNG input and output are refused with
// a message. Pixels as in Bmp.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ifzvk::imageio {

// True when this build can write PNG files.
bool CanWritePng();

// Writes an 8-bit RGB PNG (no alpha); bits 24-31 of each pixel are dropped.
// bgrxTopDown must hold width * height pixels. False with a message in error
// when the build has no PNG support or the file cannot be written. The file
// replaces an existing one only once complete (host::ReplacingFile).
bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint32_t>& bgrxTopDown,
              std::string& error);

// True when the bytes start with the PNG signature.
bool IsPng(const std::vector<unsigned char>& file);

// Decodes a PNG file of any colour type; transparency is dropped, bits 24-31
// of every pixel are set. False with a message in error for a broken file,
// one larger than 16384 pixels on a side, or a build without PNG support.
bool DecodePng(const std::vector<unsigned char>& file, int& width, int& height,
               std::vector<std::uint32_t>& bgrxTopDown, std::string& error);

}  // namespace ifzvk::imageio
