// zvk-make's built-in picture: a rendered scene.
// Pixels are 32-bit BGRX values, rows from the top.
#pragma once

#include <cstdint>
#include <vector>

namespace ifzvk::make {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

// A small ray-traced scene (three balls on a checkered floor under a sky),
// side x side pixels; the same pixels every time for the same side.
Picture RenderScene(int side);

}  // namespace ifzvk::make
