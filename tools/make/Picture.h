// Pictures for zvk-make: a built-in rendered scene, and resampling to another size.
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

// The picture at width x height: each target pixel averages the source
// pixels it covers (at least the nearest one), so it shrinks and enlarges.
Picture Resample(const Picture& source, int width, int height);

}  // namespace ifzvk::make
