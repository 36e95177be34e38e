#pragma once

// JPEG files for logos, through libjpeg: decoded at the smallest scale that still gives the
// pixels a printed logo needs (a 2 MB photograph decodes at 1/8 of its size in a fraction of
// the time), and reduced pixels compressed again so that a PDF can embed them as they are.

#include "ImagePixels.hpp"

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace pizzacore::documents {

struct JpegHeader {
    int width = 0;
    int height = 0;
    int orientation = 1;
    // Whether a PDF reader can show the file's own bytes: 8-bit, Huffman-coded (baseline or
    // progressive), greyscale or YCbCr.
    bool embeddable = false;
    // Whether the pixels were decoded at the full size.
    bool decodedWhole = false;
};

// The pixels needed for an upright image of the given size.
using NeededPixels = std::pair<int, int> (*)(int uprightWidth, int uprightHeight);

// Decodes at 1/1, 1/2, 1/4 or 1/8 of the stored size, the smallest that still gives `needed`
// pixels, into RGB24 pixels (CMYK files are converted). Reads the EXIF orientation without
// applying it. False for bytes libjpeg cannot decode and for images of more than `maximumPixels`
// decoded pixels.
bool decodeJpeg(std::span<const std::uint8_t> bytes, NeededPixels needed, Pixels& pixels, JpegHeader& header);

// The opaque pixels compressed as a JPEG of quality 90, for embedding in PDFs.
bool encodeJpeg(Pixels& pixels, std::vector<std::uint8_t>& out);

// Larger images are refused before any pixel is decoded: a small file can claim a huge size,
// and the memory for it would be taken before decoding found out.
inline constexpr std::uint64_t maximumPixels = 25'000'000;

} // namespace pizzacore::documents
