#pragma once

// Real image files made in memory, for logos in tests and benchmarks.

#include <PizzaCore/Foundation/Bytes.hpp>

#include <cstdint>
#include <functional>

namespace pizzacore::testing {

// The colour 0xRRGGBB of the pixel at (x, y) of the stored image.
using Colours = std::function<std::uint32_t(int x, int y)>;

// A baseline JPEG; with `orientation` from 1 to 8 it carries an EXIF block with that
// orientation tag, without one none.
Bytes jpegImage(int width, int height, const Colours& colours, int quality = 90, int orientation = 0);

// An opaque 8-bit RGB PNG; with `orientation` from 1 to 8 it carries an eXIf chunk.
Bytes pngImage(int width, int height, const Colours& colours, int orientation = 0);

} // namespace pizzacore::testing
