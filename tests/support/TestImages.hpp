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

struct JpegOptions {
    int quality = 90;
    // 1 to 8: an EXIF block with that orientation tag.
    int orientation = 0;
    // Written in several scans that refine the whole picture (the usual script).
    bool progressive = false;
    // Progressive, one scan for each bit of each coefficient: 704 scans for a grey picture.
    bool everyBitInItsOwnScan = false;
    // Colour kept at full resolution (no subsampling of the chroma).
    bool fullColour = false;
    bool grey = false;
};
Bytes jpegImage(int width, int height, const Colours& colours, const JpegOptions& options);

// `image` (a PNG or a JPEG) with its header claiming another size; the pixel data stays that of
// the real, smaller picture.
Bytes claimingSize(Bytes image, std::uint32_t width, std::uint32_t height);

// An opaque 8-bit RGB PNG; with `orientation` from 1 to 8 it carries an eXIf chunk.
Bytes pngImage(int width, int height, const Colours& colours, int orientation = 0);

} // namespace pizzacore::testing
