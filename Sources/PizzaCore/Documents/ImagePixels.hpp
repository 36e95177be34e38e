#pragma once

// Decoded images on their way to becoming a printed logo: 32-bit pixels, the EXIF orientation
// that says how to turn them upright, and their reduction to the size a logo needs.

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace pizzacore::documents {

// 32-bit pixels in cairo's layout (RGB24 or premultiplied ARGB32), rows `stride` bytes apart.
struct Pixels {
    int width = 0;
    int height = 0;
    int stride = 0;
    bool opaque = true;
    std::vector<std::uint8_t> data;

    void allocate(int w, int h) {
        width = w;
        height = h;
        stride = 4 * w;
        data.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h), 0);
    }
    std::uint32_t* row(int y) {
        return reinterpret_cast<std::uint32_t*>(data.data() + std::size_t(y) * stride);
    }
};

// The orientation tag (0x0112) of the first image directory of TIFF data (the body of an EXIF
// block), 1 to 8; 1 when it is absent or damaged.
int tiffOrientation(std::span<const std::uint8_t> tiff);

// Whether the orientation turns the image a quarter, so that width and height swap.
constexpr bool swapsSides(int orientation) {
    return orientation >= 5;
}

// The size of a `width` × `height` picture fitted into `boxWidth` × `boxHeight` keeping its
// proportions (rounded to whole pixels, at least 1 × 1); a picture that fits already keeps its
// size, it is never enlarged.
std::pair<int, int> fittedSize(int width, int height, int boxWidth, int boxHeight);

// The pixels turned upright: the EXIF orientation says how the stored rows must be mirrored
// or rotated to be seen as intended. `source` is left empty.
Pixels oriented(Pixels& source, int orientation);

// The pixels reduced to at most the given size with cairo's area-averaging filter; pixels
// already small enough are returned as they are. `source` is left empty.
Pixels reduced(Pixels& source, int width, int height);

// A reduced copy of pixels held elsewhere (a decoder's own buffer), in the same layout.
Pixels reducedCopy(const std::uint8_t* data, int width, int height, int stride, bool opaque, int toWidth,
                   int toHeight);

} // namespace pizzacore::documents
